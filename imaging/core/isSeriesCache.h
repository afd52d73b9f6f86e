// The on-disk series cache: what a scanned folder leaves in "qv/tmp/dcmbuf/" below the writable
// path, and how it is read back.
//
// A cache is two files named by the folder's key: "<key>.prebin" describes the series and
// "<key>.raw" holds every slice's pixels once they have been loaded. Files written by one
// version are read by the next, so the layouts below are fixed byte for byte: little-endian
// numbers, texts NUL-terminated inside their fields, reserved bytes and bytes after a NUL zero.
//
// ".prebin":
//   header (68 bytes)
//   kind "series": count series records (712 bytes each)
//   kind "volume": one volume record (596 bytes), then one volume slice record (96 bytes) per slice
//   name block (16 bytes): i32 L, 12 reserved bytes
//   name list: L bytes, the slice files' paths relative to the scanned folder, in record order,
//              joined by ",", without a NUL
// ".raw": the slices' pixel buffers one after the other in slice order, each columns x rows x
//   frames x bytes-per-pixel bytes, after the modality rescale, in the slice's pixel type.
//
// Matrices are 16 floats row by row (m11, m12, ..., m44) of the image-to-patient matrix in the
// display frame: column 1 the row direction, column 2 the column direction, column 3 the normal,
// column 4 the position of the first pixel (millimetres); the last row is 0, 0, 0, 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace isImageSDK {

// The system's own texts of the cache.
constexpr char kCacheMagic[] = "ISImage.prebin";
constexpr char kCacheVersion[] = "v3.0";
constexpr char kCacheKindSeries[] = "series";
constexpr char kCacheKindVolume[] = "volume";
constexpr char kCacheFolder[] = "qv/tmp/dcmbuf/";
constexpr char kPrebinExtension[] = ".prebin";
constexpr char kRawExtension[] = ".raw";

struct CacheHeader {
    char magic[15];      // "ISImage.prebin"
    char version[5];     // "v3.0"
    int32_t created[6];  // local date-time of writing: year, month, day, hour, minute, second
    char kind[20];       // "series" or "volume"
    int16_t count;       // number of slices
    uint8_t reserved[2];
};

// One slice of a "series" cache, and the folder scan's per-file record.
struct SeriesRecordData {
    int32_t columns;
    int32_t rows;
    float spacingX;  // column spacing, mm
    float spacingY;  // row spacing, mm
    int16_t frames;
    uint8_t spacingAbsent;  // 1 when the file had no Pixel Spacing and the two above are 1 mm defaults
    uint8_t reserved0;
    int32_t posture;   // 0 supine, 1 prone, 2 decubitus right, 3 decubitus left
    int32_t headFeet;  // 0 head first, 1 feet first, 2 undetermined
    float matrix[16];  // row by row
    uint8_t geometryValid;
    uint8_t reserved1[3];
    int32_t modality;  // ModalityCode
    char institution[100];
    char seriesDescription[256];
    int32_t seriesTime[6];  // series date and time, all zero when absent
    char patientName[20];
    char patientID[20];
    char sex;  // 'F', 'M', 'U', or 0 when absent
    char patientAge[10];
    uint8_t reserved2;
    float patientWeight;  // kg, 0 when absent
    float patientSize;    // m, 0 when absent
    char studyID[20];
    char seriesNumber[20];
    int16_t instanceNumber;  // 0 when absent
    uint8_t windowAbsent;    // 1 when the file had no window and the window below is a default
    uint8_t reserved3;
    int32_t pixelType;  // PixelType
    int32_t bitsAllocated;
    float rescaleIntercept;
    float rescaleSlope;
    int32_t representation;
    float windowWidth;
    float windowCenter;
    int32_t reserved4;
    // PET only (all zero for other modalities).
    int32_t acquisitionTime[6];
    int32_t startTime[6];
    uint8_t suvValid;
    uint8_t reserved5[3];
    float halfLife;  // s
    int32_t decayCorrection;
    float decayFactor;
    float totalDose;  // Bq
    int32_t units;
    float suvScaleFactor;
    char scanOptions[10];     // CT only
    uint16_t extraValues[5];  // the first holds (0018,1060) for PET
};

// The bytes of a series record from the institution up to the series number, copied whole into
// the volume record.
constexpr size_t kSharedInfoOffset = 100;
constexpr size_t kSharedInfoSize = 480;

struct VolumeRecordData {
    int32_t columns;
    int32_t rows;
    int32_t sliceCount;
    float spacingX;
    float spacingY;
    float sliceSpacing;  // mean distance between neighbouring slice positions, mm
    int32_t posture;
    int32_t headFeet;
    float matrix[16];  // of the first slice, row by row
    int32_t modality;
    unsigned char sharedInfo[kSharedInfoSize];  // series record bytes 100 to 579
    int32_t pixelType;
    float windowWidth;
    float windowCenter;
    int32_t reserved;
};

struct VolumeSliceRecordData {
    int16_t instanceNumber;
    uint8_t windowAbsent;   // as in the series record
    uint8_t spacingAbsent;  // as in the series record
    int32_t bitsAllocated;
    float rescaleIntercept;
    float rescaleSlope;
    int32_t representation;
    int32_t acquisitionTime[6];
    int32_t startTime[6];
    uint8_t suvValid;
    uint8_t reserved1[3];
    float halfLife;
    int32_t decayCorrection;
    float decayFactor;
    float totalDose;
    int32_t units;
    float suvScaleFactor;
};

struct CacheNameBlock {
    int32_t length;
    uint8_t reserved[12];
};

static_assert(sizeof(CacheHeader) == 68, "cache header is 68 bytes");
static_assert(sizeof(SeriesRecordData) == 712, "series record is 712 bytes");
static_assert(sizeof(VolumeRecordData) == 596, "volume record is 596 bytes");
static_assert(sizeof(VolumeSliceRecordData) == 96, "volume slice record is 96 bytes");
static_assert(sizeof(CacheNameBlock) == 16, "name block is 16 bytes");
static_assert(offsetof(CacheHeader, kind) == 44 && offsetof(CacheHeader, count) == 64, "header layout");
static_assert(offsetof(SeriesRecordData, matrix) == 28 && offsetof(SeriesRecordData, geometryValid) == 92,
              "series record layout");
static_assert(offsetof(SeriesRecordData, institution) == kSharedInfoOffset, "series record layout");
static_assert(offsetof(SeriesRecordData, seriesTime) == 456 && offsetof(SeriesRecordData, sex) == 520,
              "series record layout");
static_assert(offsetof(SeriesRecordData, patientWeight) == 532 && offsetof(SeriesRecordData, studyID) == 540,
              "series record layout");
static_assert(offsetof(SeriesRecordData, instanceNumber) == kSharedInfoOffset + kSharedInfoSize,
              "series record layout");
static_assert(offsetof(SeriesRecordData, pixelType) == 584 && offsetof(SeriesRecordData, reserved4) == 612,
              "series record layout");
static_assert(offsetof(SeriesRecordData, acquisitionTime) == 616 && offsetof(SeriesRecordData, suvValid) == 664,
              "series record layout");
static_assert(offsetof(SeriesRecordData, scanOptions) == 692 && offsetof(SeriesRecordData, extraValues) == 702,
              "series record layout");
static_assert(offsetof(VolumeRecordData, matrix) == 32 && offsetof(VolumeRecordData, sharedInfo) == 100,
              "volume record layout");
static_assert(offsetof(VolumeRecordData, pixelType) == 580, "volume record layout");
static_assert(offsetof(VolumeSliceRecordData, acquisitionTime) == 20 &&
                  offsetof(VolumeSliceRecordData, suvValid) == 68 &&
                  offsetof(VolumeSliceRecordData, suvScaleFactor) == 92,
              "volume slice record layout");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the cache is written in host order, little-endian");

// A ".prebin" read into memory.
struct SeriesCacheContents {
    enum Kind { KIND_SERIES, KIND_VOLUME };
    Kind kind = KIND_SERIES;
    CacheHeader header{};
    std::vector<SeriesRecordData> records;      // KIND_SERIES
    VolumeRecordData volume{};                  // KIND_VOLUME
    std::vector<VolumeSliceRecordData> slices;  // KIND_VOLUME
    std::vector<std::string> names;             // relative paths, one per slice
};

enum class CacheReadResult {
    Ok,
    Unreadable,  // the file cannot be opened
    Foreign,     // a readable header of another kind: left alone
    Damaged,     // short, inconsistent or holding impossible counts or sizes: unusable
};

// The most pixel memory a cache may describe in all, in bytes: a few hundred bytes of hostile
// description must not make the reader allocate and clear gigabytes.
constexpr uint64_t kMaxCachedSeriesBytes = uint64_t(8) << 30;

// Reads and checks a ".prebin". Damaged means: a short read anywhere, a record count below 1, a
// name list shorter than 1 byte or longer than the rest of the file, a name count different
// from the record counts, a slice whose columns, rows or frames are below 1 or beyond 65535,
// 65535 and 32767, whose pixel type is unknown or whose pixels exceed one block
// (kMaxBlockBytes), more than 32767 volume slices, or slices that together exceed
// kMaxCachedSeriesBytes.
CacheReadResult readSeriesCache(const std::string& path, SeriesCacheContents& out);

// Write a whole ".prebin": the header with the current local date-time and the kind, the
// records, the name block and the names joined by ",". The file is written whole or not at all.
// False on any failure, which is logged with the system's reason; the description is then held in
// memory under the path (see below), so that its series still opens from its files.
bool writeSeriesCache(const std::string& path, const std::vector<const SeriesRecordData*>& records,
                      const std::vector<std::string>& names);
bool writeVolumeCache(const std::string& path, const VolumeRecordData& volume,
                      const std::vector<VolumeSliceRecordData>& slices, const std::vector<std::string>& names);

// Descriptions that could not be written: readSeriesCache and hasCacheSignature read a held one in
// place of the file, writeHeldSeriesCache tries the disk again (true once it is on disk, or when
// none is held), dropHeldSeriesCache forgets it. At most kMaxHeldCacheBytes are held in all.
constexpr size_t kMaxHeldCacheBytes = size_t(64) << 20;
bool isSeriesCacheHeld(const std::string& path);
bool writeHeldSeriesCache(const std::string& path);
void dropHeldSeriesCache(const std::string& path);

// True when the first 68 bytes can be read and hold the magic text (each text compared up to its
// NUL) and, when withVersion, the version text.
bool hasCacheSignature(const std::string& path, bool withVersion);

// The ".raw" beside a ".prebin": the path with its last 7 characters replaced by ".raw".
std::string rawPathOf(const std::string& prebinPath);

// ---- Checks ---------------------------------------------------------------------------------
//
// Every cache file is written together with a check of its contents, a small text file of its own
// beside it ("<file>.check"), so that the cache files themselves keep their layout. A check holds
// one line per file it covers: "<name> <size> <hash>\n", the file's name without folder, its
// size in bytes in decimal and its content hash in 16 lower-case hexadecimal digits.
//
// The content hash: the file is cut into pieces of kCheckPieceBytes (the last one shorter); each
// piece is hashed with XXH3-64 (seed 0), and those hashes, as little-endian 64-bit numbers in file
// order, are hashed again with XXH3-64 seeded with the file's size. Pieces can so be hashed side
// by side as they are read.
//
// A cache file is used only when its check is there and names its size and hash: a missing
// check (a file of an earlier version, or one whose check never reached the disk), a cut file or
// a file of other bytes is removed and made again from the image files.
constexpr char kCheckExtension[] = ".check";
constexpr size_t kCheckPieceBytes = size_t(8) << 20;

// The hash of one piece, fed in order.
class PieceHash {
public:
    PieceHash();
    ~PieceHash();
    PieceHash(const PieceHash&) = delete;
    PieceHash& operator=(const PieceHash&) = delete;
    void reset();
    void add(const void* data, size_t size);
    uint64_t value() const;

private:
    void* m_state;
};

// The content hash from the pieces' hashes in file order.
uint64_t combinePieceHashes(const uint64_t* pieces, size_t count, uint64_t fileSize);

// The content hash of bytes fed in file order, in parts of any size.
class ContentHash {
public:
    void add(const void* data, size_t size);
    uint64_t size() const { return m_size; }
    uint64_t value() const;

private:
    PieceHash m_piece;
    size_t m_inPiece = 0;
    uint64_t m_size = 0;
    std::vector<uint64_t> m_pieces;
};
uint64_t contentHash(const void* data, size_t size);

struct CheckedFile {
    std::string name;  // without folder
    uint64_t size = 0;
    uint64_t hash = 0;
};

// "<path>.check".
std::string checkPathOf(const std::string& path);
// Writes a check whole or not at all; false with errno set when it could not be written.
bool writeCheck(const std::string& checkPath, const std::vector<CheckedFile>& files);
// False when the check is missing, unreadable or not in the form above.
bool readCheck(const std::string& checkPath, std::vector<CheckedFile>& files);
// The file's name, size and content hash; false when it cannot be read whole.
bool hashFile(const std::string& path, CheckedFile& out);

enum class CheckResult {
    Match,
    Missing,   // no check, or one that does not name the file
    Cut,       // the file is missing or of another size than its check says
    Mismatch,  // the same size, other bytes
};
// The file against the entry for it in its own check ("<path>.check").
CheckResult checkCacheFile(const std::string& path);
// The file against an entry: Cut or Mismatch when it differs (Match when it agrees).
CheckResult compareWithCheck(const std::string& path, const CheckedFile& entry);
// "no check", "cut" or "other contents", for the log.
const char* checkResultText(CheckResult result);
// Removes a cache file and its check.
void removeCacheFile(const std::string& path);

// The ".prebin" (from memory when it is held) agrees with its check. When it does not, the log
// says why, and the ".prebin", the ".raw" and their checks are removed, so that the folder is
// scanned again.
bool verifySeriesCache(const std::string& prebinPath);
// readSeriesCache of a ".prebin" that agrees with its check (held descriptions are taken as
// they are); one that does not is Damaged.
CacheReadResult readCheckedSeriesCache(const std::string& path, SeriesCacheContents& out);

} // namespace isImageSDK
