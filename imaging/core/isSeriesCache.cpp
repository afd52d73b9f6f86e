#include "isSeriesCache.h"

#include "NSTimeUtil.h"
#include "base/CCConsole.h"
#include "dcmDiskWrite.h"
#include "isContentHashAvx2.h"
#include "isImageTypes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <xxhash.h>

namespace isImageSDK {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A bounds-checked cursor over the bytes of a file.
class ByteReader {
public:
    ByteReader(const std::vector<unsigned char>& bytes) : m_bytes(bytes) {}
    template <class T>
    bool take(T& out)
    {
        return takeBytes(&out, sizeof(T));
    }
    bool takeBytes(void* out, size_t n)
    {
        if (remaining() < n)
            return false;
        std::memcpy(out, m_bytes.data() + m_offset, n);
        m_offset += n;
        return true;
    }
    size_t remaining() const { return m_bytes.size() - m_offset; }

private:
    const std::vector<unsigned char>& m_bytes;
    size_t m_offset = 0;
};

std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Descriptions that could not be written, by path; the bytes they hold together.
std::mutex g_heldLock;
std::map<std::string, std::vector<unsigned char>> g_held;
size_t g_heldBytes = 0;

bool heldBytes(const std::string& path, std::vector<unsigned char>& bytes)
{
    std::lock_guard<std::mutex> lock(g_heldLock);
    const auto it = g_held.find(path);
    if (it == g_held.end())
        return false;
    bytes = it->second;
    return true;
}

bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes, bool& opened)
{
    if (heldBytes(path, bytes))
        return opened = true;
    File f(std::fopen(path.c_str(), "rb"));
    opened = f != nullptr;
    if (!f)
        return false;
    struct stat info;
    if (fstat(fileno(f.get()), &info) != 0 || info.st_size < 0)
        return false;
    bytes.resize(static_cast<size_t>(info.st_size));
    return bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
}

// The bytes of one slice's pixels, or 0 when its size is impossible: a dimension below 1 or
// beyond what DICOM can describe (rows and columns are 16-bit), an unknown pixel type, or more
// than the container allocates in one block. Checked before anything is multiplied, so no
// product can overflow.
uint64_t sliceBytesOf(int32_t columns, int32_t rows, int32_t frames, int32_t pixelType)
{
    if (columns < 1 || rows < 1 || frames < 1 || columns > 65535 || rows > 65535 || frames > 32767)
        return 0;
    if (pixelType < PIXEL_U8 || pixelType > PIXEL_RGB)
        return 0;
    const uint64_t bytes = static_cast<uint64_t>(columns) * static_cast<uint64_t>(rows) *
                           static_cast<uint64_t>(frames) * static_cast<uint64_t>(bytesPerPixel(pixelType));
    return bytes < static_cast<uint64_t>(kMaxBlockBytes) ? bytes : 0;
}

// The name block and the name list at the reader's position; false when damaged.
bool readNames(ByteReader& in, std::vector<std::string>& names)
{
    CacheNameBlock block;
    if (!in.take(block) || block.length < 1 || static_cast<size_t>(block.length) > in.remaining())
        return false;
    std::string list(static_cast<size_t>(block.length), '\0');
    in.takeBytes(list.data(), list.size());
    names.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

CacheHeader makeHeader(const char* kind, size_t count)
{
    CacheHeader header;
    std::memset(&header, 0, sizeof(header));
    std::memcpy(header.magic, kCacheMagic, sizeof(kCacheMagic));
    std::memcpy(header.version, kCacheVersion, sizeof(kCacheVersion));
    int now[6] = {0, 0, 0, 0, 0, 0};
    parseDateTime(getCurrentDateTime(), now);
    for (int i = 0; i < 6; ++i)
        header.created[i] = now[i];
    std::memcpy(header.kind, kind, std::strlen(kind) + 1);
    header.count = static_cast<int16_t>(count);
    return header;
}

template <class T>
void append(std::vector<unsigned char>& out, const T& value)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

void appendNames(std::vector<unsigned char>& out, const std::vector<std::string>& names)
{
    std::string list;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            list += ',';
        list += names[i];
    }
    CacheNameBlock block;
    std::memset(&block, 0, sizeof(block));
    block.length = static_cast<int32_t>(list.size());
    append(out, block);
    out.insert(out.end(), list.begin(), list.end());
}

// The check first, then the file: a reader that finds the new file finds its check.
bool writeWithCheck(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const CheckedFile entry{nameOf(path), bytes.size(), contentHash(bytes.data(), bytes.size())};
    return writeCheck(checkPathOf(path), {entry}) && redIRI::disk::writeWholeFile(path, bytes.data(), bytes.size());
}

bool writeBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    dropHeldSeriesCache(path);
    if (writeWithCheck(path, bytes))
        return true;
    const int why = errno;
    cocos2d::log("series cache: cannot write \"%s\": %s", path.c_str(), redIRI::disk::reasonText(why).c_str());
    std::lock_guard<std::mutex> lock(g_heldLock);
    if (g_heldBytes + bytes.size() <= kMaxHeldCacheBytes) {
        g_held[path] = bytes;
        g_heldBytes += bytes.size();
    }
    errno = why;
    return false;
}

} // namespace

namespace {

CacheReadResult parseSeriesCache(const std::vector<unsigned char>& bytes, SeriesCacheContents& out)
{
    ByteReader in(bytes);
    if (!in.take(out.header))
        return CacheReadResult::Damaged;
    const char* kind = out.header.kind;
    if (std::memcmp(kind, kCacheKindSeries, sizeof(kCacheKindSeries)) == 0) {
        out.kind = SeriesCacheContents::KIND_SERIES;
        const int count = out.header.count;
        if (count < 1 || in.remaining() / sizeof(SeriesRecordData) < static_cast<size_t>(count))
            return CacheReadResult::Damaged;
        out.records.resize(static_cast<size_t>(count));
        uint64_t total = 0;
        for (SeriesRecordData& record : out.records) {
            in.take(record);
            const uint64_t bytes = sliceBytesOf(record.columns, record.rows, record.frames, record.pixelType);
            total += bytes;  // at most 32767 slices below 2^30 bytes each: no overflow
            if (bytes == 0 || total > kMaxCachedSeriesBytes)
                return CacheReadResult::Damaged;
        }
        if (!readNames(in, out.names) || out.names.size() != out.records.size())
            return CacheReadResult::Damaged;
        return CacheReadResult::Ok;
    }
    if (std::memcmp(kind, kCacheKindVolume, sizeof(kCacheKindVolume)) == 0) {
        out.kind = SeriesCacheContents::KIND_VOLUME;
        VolumeRecordData& volume = out.volume;
        if (!in.take(volume) || volume.sliceCount < 1 || volume.sliceCount > 32767)
            return CacheReadResult::Damaged;
        const uint64_t sliceBytes = sliceBytesOf(volume.columns, volume.rows, 1, volume.pixelType);
        if (sliceBytes == 0 || sliceBytes * static_cast<uint64_t>(volume.sliceCount) > kMaxCachedSeriesBytes)
            return CacheReadResult::Damaged;
        // Slices are placed along the normal by this spacing; zero or worse would stack them.
        if (volume.sliceCount > 1 && !(std::isfinite(volume.sliceSpacing) && volume.sliceSpacing > 0.0f))
            return CacheReadResult::Damaged;
        if (in.remaining() / sizeof(VolumeSliceRecordData) < static_cast<size_t>(volume.sliceCount))
            return CacheReadResult::Damaged;
        out.slices.resize(static_cast<size_t>(volume.sliceCount));
        for (VolumeSliceRecordData& slice : out.slices)
            in.take(slice);
        if (!readNames(in, out.names) || out.names.size() != out.slices.size())
            return CacheReadResult::Damaged;
        return CacheReadResult::Ok;
    }
    return CacheReadResult::Foreign;
}

} // namespace

CacheReadResult readSeriesCache(const std::string& path, SeriesCacheContents& out)
{
    std::vector<unsigned char> bytes;
    bool opened = false;
    if (!readWholeFile(path, bytes, opened))
        return opened ? CacheReadResult::Damaged : CacheReadResult::Unreadable;
    return parseSeriesCache(bytes, out);
}

CacheReadResult readCheckedSeriesCache(const std::string& path, SeriesCacheContents& out)
{
    const bool held = isSeriesCacheHeld(path);
    std::vector<unsigned char> bytes;
    bool opened = false;
    if (!readWholeFile(path, bytes, opened))
        return opened ? CacheReadResult::Damaged : CacheReadResult::Unreadable;
    if (!held) {
        // The bytes just read are the ones compared, so that no change between check and use
        // goes unseen.
        std::vector<CheckedFile> listed;
        CheckResult result = CheckResult::Missing;
        if (readCheck(checkPathOf(path), listed))
            for (const CheckedFile& entry : listed)
                if (entry.name == nameOf(path))
                    result = entry.size != bytes.size()                               ? CheckResult::Cut
                             : entry.hash != contentHash(bytes.data(), bytes.size()) ? CheckResult::Mismatch
                                                                                     : CheckResult::Match;
        if (result != CheckResult::Match) {
            cocos2d::log("series cache \"%s\" does not agree with its check (%s)", path.c_str(),
                         checkResultText(result));
            return CacheReadResult::Damaged;
        }
    }
    return parseSeriesCache(bytes, out);
}

bool writeSeriesCache(const std::string& path, const std::vector<const SeriesRecordData*>& records,
                      const std::vector<std::string>& names)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(sizeof(CacheHeader) + records.size() * (sizeof(SeriesRecordData) + 64));
    append(bytes, makeHeader(kCacheKindSeries, records.size()));
    for (const SeriesRecordData* record : records)
        append(bytes, *record);
    appendNames(bytes, names);
    return writeBytes(path, bytes);
}

bool writeVolumeCache(const std::string& path, const VolumeRecordData& volume,
                      const std::vector<VolumeSliceRecordData>& slices, const std::vector<std::string>& names)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(sizeof(CacheHeader) + sizeof(VolumeRecordData) + slices.size() * (sizeof(VolumeSliceRecordData) + 64));
    append(bytes, makeHeader(kCacheKindVolume, slices.size()));
    append(bytes, volume);
    for (const VolumeSliceRecordData& slice : slices)
        append(bytes, slice);
    appendNames(bytes, names);
    return writeBytes(path, bytes);
}

bool isSeriesCacheHeld(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_heldLock);
    return g_held.count(path) > 0;
}

bool writeHeldSeriesCache(const std::string& path)
{
    std::vector<unsigned char> bytes;
    if (!heldBytes(path, bytes))
        return true;
    if (!writeWithCheck(path, bytes))
        return false;
    dropHeldSeriesCache(path);
    return true;
}

void dropHeldSeriesCache(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_heldLock);
    const auto it = g_held.find(path);
    if (it == g_held.end())
        return;
    g_heldBytes -= it->second.size();
    g_held.erase(it);
}

bool hasCacheSignature(const std::string& path, bool withVersion)
{
    CacheHeader header;
    std::vector<unsigned char> held;
    if (heldBytes(path, held)) {
        if (held.size() < sizeof(header))
            return false;
        std::memcpy(&header, held.data(), sizeof(header));
    } else {
        File f(std::fopen(path.c_str(), "rb"));
        if (!f || std::fread(&header, 1, sizeof(header), f.get()) != sizeof(header))
            return false;
    }
    if (std::strncmp(header.magic, kCacheMagic, sizeof(header.magic)) != 0)
        return false;
    return !withVersion || std::strncmp(header.version, kCacheVersion, sizeof(header.version)) == 0;
}

std::string rawPathOf(const std::string& prebinPath)
{
    const size_t cut = sizeof(kPrebinExtension) - 1;
    if (prebinPath.size() < cut)
        return std::string(kRawExtension);
    return prebinPath.substr(0, prebinPath.size() - cut) + kRawExtension;
}

// ---- Checks ---------------------------------------------------------------------------------

namespace {

// The system's library, for processors without AVX2.
const HashRoutines kLibraryRoutines = {
    []() -> void* { return XXH3_createState(); },
    [](void* state) { XXH3_freeState(static_cast<XXH3_state_t*>(state)); },
    [](void* state) { XXH3_64bits_reset(static_cast<XXH3_state_t*>(state)); },
    [](void* state, const void* data, size_t size) { XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, size); },
    [](const void* state) -> uint64_t { return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(state)); },
    [](const void* data, size_t size, uint64_t seed) -> uint64_t { return XXH3_64bits_withSeed(data, size, seed); },
};

const HashRoutines& hashRoutines()
{
#if defined(__x86_64__)
    static const HashRoutines& chosen =
        __builtin_cpu_supports("avx2") && avx2HashRoutines() ? *avx2HashRoutines() : kLibraryRoutines;
    return chosen;
#else
    return kLibraryRoutines;
#endif
}

} // namespace

PieceHash::PieceHash() : m_state(hashRoutines().create())
{
    reset();
}

void PieceHash::reset()
{
    hashRoutines().reset(m_state);
}

PieceHash::~PieceHash()
{
    hashRoutines().destroy(m_state);
}

void PieceHash::add(const void* data, size_t size)
{
    hashRoutines().update(m_state, data, size);
}

uint64_t PieceHash::value() const
{
    return hashRoutines().digest(m_state);
}

uint64_t combinePieceHashes(const uint64_t* pieces, size_t count, uint64_t fileSize)
{
    return hashRoutines().withSeed(pieces, count * sizeof(uint64_t), fileSize);
}

void ContentHash::add(const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const size_t n = std::min(size, kCheckPieceBytes - m_inPiece);
        m_piece.add(bytes, n);
        bytes += n;
        size -= n;
        m_size += n;
        m_inPiece += n;
        if (m_inPiece == kCheckPieceBytes) {
            m_pieces.push_back(m_piece.value());
            XXH3_64bits_reset(static_cast<XXH3_state_t*>(*reinterpret_cast<void**>(&m_piece)));
            m_inPiece = 0;
        }
    }
}

uint64_t ContentHash::value() const
{
    std::vector<uint64_t> pieces = m_pieces;
    if (m_inPiece > 0 || pieces.empty())
        pieces.push_back(m_piece.value());
    return combinePieceHashes(pieces.data(), pieces.size(), m_size);
}

uint64_t contentHash(const void* data, size_t size)
{
    ContentHash hash;
    hash.add(data, size);
    return hash.value();
}

std::string checkPathOf(const std::string& path)
{
    return path + kCheckExtension;
}

bool writeCheck(const std::string& checkPath, const std::vector<CheckedFile>& files)
{
    std::string text;
    char line[64];
    for (const CheckedFile& file : files) {
        std::snprintf(line, sizeof line, " %llu %016llx\n", static_cast<unsigned long long>(file.size),
                      static_cast<unsigned long long>(file.hash));
        text += file.name + line;
    }
    return redIRI::disk::writeWholeFile(checkPath, text.data(), text.size());
}

bool readCheck(const std::string& checkPath, std::vector<CheckedFile>& files)
{
    files.clear();
    std::vector<unsigned char> bytes;
    File f(std::fopen(checkPath.c_str(), "rb"));
    if (!f)
        return false;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0 && bytes.size() < 65536)
        bytes.insert(bytes.end(), buffer, buffer + n);
    if (bytes.empty() || bytes.size() >= 65536 || bytes.back() != '\n')
        return false;
    size_t start = 0;
    while (start < bytes.size()) {
        const auto end = std::find(bytes.begin() + static_cast<long>(start), bytes.end(), '\n');
        const std::string line(bytes.begin() + static_cast<long>(start), end);
        start = static_cast<size_t>(end - bytes.begin()) + 1;
        const size_t hashAt = line.find_last_of(' ');
        const size_t sizeAt = hashAt == std::string::npos || hashAt == 0 ? std::string::npos : line.find_last_of(' ', hashAt - 1);
        if (sizeAt == std::string::npos || sizeAt == 0 || line.size() - hashAt - 1 != 16)
            return false;
        CheckedFile file;
        file.name = line.substr(0, sizeAt);
        const std::string size = line.substr(sizeAt + 1, hashAt - sizeAt - 1);
        const std::string hash = line.substr(hashAt + 1);
        if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos ||
            hash.find_first_not_of("0123456789abcdef") != std::string::npos || size.size() > 19)
            return false;
        file.size = std::strtoull(size.c_str(), nullptr, 10);
        file.hash = std::strtoull(hash.c_str(), nullptr, 16);
        files.push_back(file);
    }
    return true;
}

bool hashFile(const std::string& path, CheckedFile& out)
{
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return false;
    std::vector<unsigned char> buffer(size_t(1) << 20);
    ContentHash hash;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f.get())) > 0)
        hash.add(buffer.data(), n);
    if (std::ferror(f.get()))
        return false;
    out.name = nameOf(path);
    out.size = hash.size();
    out.hash = hash.value();
    return true;
}

CheckResult compareWithCheck(const std::string& path, const CheckedFile& entry)
{
    CheckedFile found;
    if (!hashFile(path, found) || found.size != entry.size)
        return CheckResult::Cut;
    return found.hash == entry.hash ? CheckResult::Match : CheckResult::Mismatch;
}

CheckResult checkCacheFile(const std::string& path)
{
    std::vector<CheckedFile> listed;
    if (!readCheck(checkPathOf(path), listed))
        return CheckResult::Missing;
    for (const CheckedFile& entry : listed)
        if (entry.name == nameOf(path))
            return compareWithCheck(path, entry);
    return CheckResult::Missing;
}

const char* checkResultText(CheckResult result)
{
    switch (result) {
    case CheckResult::Match:
        return "agrees";
    case CheckResult::Missing:
        return "no check";
    case CheckResult::Cut:
        return "cut";
    case CheckResult::Mismatch:
        return "other contents";
    }
    return "";
}

void removeCacheFile(const std::string& path)
{
    std::remove(path.c_str());
    std::remove(checkPathOf(path).c_str());
}

bool verifySeriesCache(const std::string& prebinPath)
{
    if (isSeriesCacheHeld(prebinPath))
        return true;
    const CheckResult result = checkCacheFile(prebinPath);
    if (result == CheckResult::Match)
        return true;
    cocos2d::log("series cache \"%s\" does not agree with its check (%s): removed, made again from the image files",
                 prebinPath.c_str(), checkResultText(result));
    removeCacheFile(prebinPath);
    removeCacheFile(rawPathOf(prebinPath));
    return false;
}

} // namespace isImageSDK
