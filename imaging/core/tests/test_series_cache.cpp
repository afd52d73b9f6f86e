// The ".prebin" format: sizes and offsets byte for byte, records read back bit-exact, and the
// damaged files that the reader must refuse.
#include "isImageTypes.h"
#include "isSeriesCache.h"
#include "support/IngestFixtures.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <xxhash.h>

using namespace isImageSDK;
using qvtest::IngestTest;

namespace {

class SeriesCacheTest : public IngestTest {
protected:
    std::vector<unsigned char> bytesOf(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }
    void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    template <class T>
    T at(const std::vector<unsigned char>& bytes, size_t offset)
    {
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
        return value;
    }
    template <class T>
    void put(std::vector<unsigned char>& bytes, size_t offset, T value)
    {
        std::memcpy(bytes.data() + offset, &value, sizeof(T));
    }
    static SeriesRecordData record(int i)
    {
        SeriesRecordData r;
        std::memset(&r, 0, sizeof(r));
        r.columns = 16 + i;
        r.rows = 8;
        r.frames = 1;
        r.spacingX = 0.5f;
        r.spacingY = 0.75f;
        r.matrix[0] = r.matrix[5] = r.matrix[10] = r.matrix[15] = 1.0f;
        r.matrix[11] = 2.5f * static_cast<float>(i);
        r.pixelType = 1;
        r.instanceNumber = static_cast<int16_t>(i + 1);
        std::strcpy(r.studyID, "7");
        std::strcpy(r.patientName, "N\xc3\xa9");
        r.sex = 'F';
        r.acquisitionTime[0] = 2001;
        r.extraValues[4] = 0xBEEF;
        return r;
    }
};

} // namespace

TEST_F(SeriesCacheTest, SeriesCacheLayoutAndRoundTrip)
{
    const std::string path = root + "s.prebin";
    SeriesRecordData records[3] = {record(0), record(1), record(2)};
    ASSERT_TRUE(writeSeriesCache(path, {&records[0], &records[1], &records[2]}, {"a.dcm", "b.dcm", "c.dcm"}));

    const std::vector<unsigned char> bytes = bytesOf(path);
    ASSERT_EQ(bytes.size(), 68u + 3 * 712 + 16 + 17);
    EXPECT_EQ(std::memcmp(bytes.data(), "ISImage.prebin\0v3.0\0", 20), 0);
    EXPECT_GE(at<int32_t>(bytes, 20), 2020);  // year of writing
    EXPECT_EQ(std::memcmp(bytes.data() + 44, "series\0", 7), 0);
    EXPECT_EQ(at<int16_t>(bytes, 64), 3);
    EXPECT_EQ(at<int32_t>(bytes, 68 + 712 + 0), 17);      // second record's columns
    EXPECT_EQ(at<float>(bytes, 68 + 712 + 28 + 11 * 4), 2.5f);  // m24: its z position
    const size_t block = 68 + 3 * 712;
    EXPECT_EQ(at<int32_t>(bytes, block), 17);
    EXPECT_EQ(std::string(bytes.begin() + block + 16, bytes.end()), "a.dcm,b.dcm,c.dcm");

    SeriesCacheContents cache;
    ASSERT_EQ(readSeriesCache(path, cache), CacheReadResult::Ok);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    ASSERT_EQ(cache.records.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(&cache.records[i], &records[i], sizeof(SeriesRecordData)), 0) << i;
    EXPECT_EQ(cache.names, (std::vector<std::string>{"a.dcm", "b.dcm", "c.dcm"}));
    EXPECT_TRUE(hasCacheSignature(path, true));
}

TEST_F(SeriesCacheTest, VolumeCacheLayoutAndRoundTrip)
{
    const std::string path = root + "v.prebin";
    VolumeRecordData volume;
    std::memset(&volume, 0, sizeof(volume));
    volume.columns = 512;
    volume.rows = 512;
    volume.sliceCount = 100;
    volume.sliceSpacing = 2.5f;
    volume.pixelType = 1;
    std::memcpy(volume.sharedInfo + (540 - 100), "9", 2);  // study ID
    std::vector<VolumeSliceRecordData> slices(100);
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        std::memset(&slices[i], 0, sizeof(VolumeSliceRecordData));
        slices[i].instanceNumber = static_cast<int16_t>(i);
        slices[i].rescaleSlope = 1.0f;
        slices[i].rescaleIntercept = -1024.0f;
        names.push_back("sub/f" + std::to_string(i));
    }
    ASSERT_TRUE(writeVolumeCache(path, volume, slices, names));
    size_t listLength = 0;
    for (const std::string& name : names)
        listLength += name.size() + 1;
    --listLength;

    const std::vector<unsigned char> bytes = bytesOf(path);
    EXPECT_EQ(bytes.size(), 68u + 596 + 100 * 96 + 16 + listLength);
    EXPECT_EQ(std::memcmp(bytes.data() + 44, "volume\0", 7), 0);
    EXPECT_EQ(at<int32_t>(bytes, 68 + 8), 100);
    EXPECT_EQ(at<float>(bytes, 68 + 20), 2.5f);
    EXPECT_EQ(at<int16_t>(bytes, 68 + 596 + 96 * 99), 99);
    EXPECT_EQ(at<float>(bytes, 68 + 596 + 96 * 99 + 8), -1024.0f);

    SeriesCacheContents cache;
    ASSERT_EQ(readSeriesCache(path, cache), CacheReadResult::Ok);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME);
    EXPECT_EQ(std::memcmp(&cache.volume, &volume, sizeof(volume)), 0);
    ASSERT_EQ(cache.slices.size(), 100u);
    EXPECT_EQ(std::memcmp(cache.slices.data(), slices.data(), 100 * sizeof(VolumeSliceRecordData)), 0);
    EXPECT_EQ(cache.names, names);
}

TEST_F(SeriesCacheTest, DamagedAndForeignFilesAreTold)
{
    const std::string path = root + "s.prebin";
    SeriesRecordData records[2] = {record(0), record(1)};
    ASSERT_TRUE(writeSeriesCache(path, {&records[0], &records[1]}, {"a", "b"}));
    const std::vector<unsigned char> good = bytesOf(path);
    SeriesCacheContents cache;

    auto check = [&](std::vector<unsigned char> bytes, CacheReadResult expected, const char* what) {
        writeBytes(path, bytes);
        SeriesCacheContents contents;
        EXPECT_EQ(readSeriesCache(path, contents), expected) << what;
    };
    check(good, CacheReadResult::Ok, "intact");
    check(std::vector<unsigned char>(good.begin(), good.end() - 1), CacheReadResult::Damaged, "last byte missing");
    check(std::vector<unsigned char>(good.begin(), good.begin() + 60), CacheReadResult::Damaged, "short header");
    check(std::vector<unsigned char>(good.begin(), good.begin() + 68 + 712), CacheReadResult::Damaged, "one record");

    std::vector<unsigned char> bytes = good;
    put<int16_t>(bytes, 64, -3);
    check(bytes, CacheReadResult::Damaged, "negative count");
    bytes = good;
    put<int32_t>(bytes, 68 + 712, 0);
    check(bytes, CacheReadResult::Damaged, "zero columns");
    bytes = good;
    put<int16_t>(bytes, 68 + 16, 0);
    check(bytes, CacheReadResult::Damaged, "zero frames");
    bytes = good;
    put<int32_t>(bytes, 68 + 584, 9);
    check(bytes, CacheReadResult::Damaged, "unknown pixel type");
    bytes = good;
    put<int32_t>(bytes, 68 + 2 * 712, 1 << 30);
    check(bytes, CacheReadResult::Damaged, "name list longer than the file");
    // One name less than records: "a,b" becomes "a" followed by junk the length leaves out.
    bytes = good;
    put<int32_t>(bytes, 68 + 2 * 712, 1);
    check(bytes, CacheReadResult::Damaged, "one name missing");
    bytes = good;
    std::memcpy(bytes.data() + 44, "slices\0", 7);
    check(bytes, CacheReadResult::Foreign, "another kind");

    // Sizes no DICOM image has, whose byte counts overflow or exceed one block.
    bytes = good;
    put<int32_t>(bytes, 68, 1 << 30);
    put<int32_t>(bytes, 68 + 4, 1 << 30);
    put<int16_t>(bytes, 68 + 16, 4);
    put<int32_t>(bytes, 68 + 584, PIXEL_FLOAT);
    check(bytes, CacheReadResult::Damaged, "2^30 x 2^30 x 4 frames of floats");
    bytes = good;
    put<int32_t>(bytes, 68, 65535);
    put<int32_t>(bytes, 68 + 4, 65535);
    put<int16_t>(bytes, 68 + 16, 32767);
    check(bytes, CacheReadResult::Damaged, "a slice over the block limit");

    // Slices that each fit but together describe gigabytes: 300 slices of 32 MB.
    {
        std::vector<SeriesRecordData> many(300, record(0));
        std::vector<const SeriesRecordData*> pointers;
        std::vector<std::string> names;
        for (SeriesRecordData& r : many) {
            r.columns = 4000;
            r.rows = 4000;
            r.pixelType = PIXEL_I16;
            pointers.push_back(&r);
            names.push_back("n" + std::to_string(names.size()));
        }
        ASSERT_TRUE(writeSeriesCache(path, pointers, names));
        EXPECT_EQ(readSeriesCache(path, cache), CacheReadResult::Damaged) << "9.6 GB described in 214 kB";
        many.resize(100);
        pointers.resize(100);
        names.resize(100);
        ASSERT_TRUE(writeSeriesCache(path, pointers, names));
        SeriesCacheContents fits;
        EXPECT_EQ(readSeriesCache(path, fits), CacheReadResult::Ok) << "3.2 GB is a large series, not a damaged one";
    }

    // A volume of four 2^30 x 2^30 float slices (2^64 bytes, 0 when wrapped), and one of 1000
    // slices of 32 MB.
    {
        VolumeRecordData volume;
        std::memset(&volume, 0, sizeof(volume));
        volume.columns = 1 << 30;
        volume.rows = 1 << 30;
        volume.sliceCount = 4;
        volume.spacingX = volume.spacingY = volume.sliceSpacing = 1.0f;
        volume.pixelType = PIXEL_FLOAT;
        std::vector<VolumeSliceRecordData> slices(4);
        std::memset(slices.data(), 0, slices.size() * sizeof(VolumeSliceRecordData));
        ASSERT_TRUE(writeVolumeCache(path, volume, slices, {"a", "b", "c", "d"}));
        EXPECT_EQ(readSeriesCache(path, cache), CacheReadResult::Damaged) << "wrapping volume";
        volume.columns = volume.rows = 4000;
        volume.pixelType = PIXEL_I16;
        volume.sliceCount = 1000;
        slices.resize(1000);
        std::memset(slices.data(), 0, slices.size() * sizeof(VolumeSliceRecordData));
        std::vector<std::string> names(1000, "x");
        ASSERT_TRUE(writeVolumeCache(path, volume, slices, names));
        EXPECT_EQ(readSeriesCache(path, cache), CacheReadResult::Damaged) << "32 GB volume";
    }

    EXPECT_EQ(readSeriesCache(root + "none.prebin", cache), CacheReadResult::Unreadable);
    bytes = good;
    std::memcpy(bytes.data() + 15, "v2.0", 4);
    writeBytes(path, bytes);
    EXPECT_FALSE(hasCacheSignature(path, true));
    EXPECT_TRUE(hasCacheSignature(path, false));
}

TEST_F(SeriesCacheTest, ChecksHashPiecesAndTellWhatDiffers)
{
    // Bytes fed in parts of any size hash as the pieces hashed one by one and then together.
    std::vector<unsigned char> bytes(2 * kCheckPieceBytes + 3);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    ContentHash parts;
    for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 + 1)
        parts.add(bytes.data() + at, std::min(step, bytes.size() - at));
    uint64_t pieces[3];
    for (size_t p = 0; p < 3; ++p) {
        PieceHash piece;
        piece.add(bytes.data() + p * kCheckPieceBytes, std::min(kCheckPieceBytes, bytes.size() - p * kCheckPieceBytes));
        pieces[p] = piece.value();
    }
    EXPECT_EQ(parts.value(), contentHash(bytes.data(), bytes.size()));
    EXPECT_EQ(parts.value(), combinePieceHashes(pieces, 3, bytes.size()));
    // The hashes are XXH3's, whichever code made them (AVX2 where the processor has it).
    uint64_t reference[3];
    for (size_t p = 0; p < 3; ++p)
        reference[p] = XXH3_64bits(bytes.data() + p * kCheckPieceBytes,
                                   std::min(kCheckPieceBytes, bytes.size() - p * kCheckPieceBytes));
    EXPECT_EQ(parts.value(), XXH3_64bits_withSeed(reference, sizeof reference, bytes.size()));
    EXPECT_NE(contentHash(bytes.data(), bytes.size() - 1), contentHash(bytes.data(), bytes.size()));

    // A description is written with its check; every change to either is told.
    const std::string path = root + "c.prebin";
    SeriesRecordData records[1] = {record(0)};
    ASSERT_TRUE(writeSeriesCache(path, {&records[0]}, {"a"}));
    EXPECT_EQ(checkCacheFile(path), CheckResult::Match);
    SeriesCacheContents read;
    EXPECT_EQ(readCheckedSeriesCache(path, read), CacheReadResult::Ok);
    const std::vector<unsigned char> good = bytesOf(path);
    std::vector<unsigned char> flipped = good;
    flipped[68 + 604] ^= 0x40;
    const std::vector<unsigned char> checkBytes = bytesOf(checkPathOf(path));
    const std::string check(checkBytes.begin(), checkBytes.end());
    const struct {
        std::vector<unsigned char> bytes;
        std::string check;
        CheckResult expected;
    } cases[] = {
        {flipped, check, CheckResult::Mismatch},
        {std::vector<unsigned char>(good.begin(), good.end() - 1), check, CheckResult::Cut},
        {good, "", CheckResult::Missing},
        {good, "c.prebin 12\n", CheckResult::Missing},
        {good, "other.prebin" + check.substr(check.find(' ')), CheckResult::Missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.check);
        writeBytes(path, c.bytes);
        std::ofstream(checkPathOf(path), std::ios::binary | std::ios::trunc) << c.check;
        EXPECT_EQ(checkCacheFile(path), c.expected);
        SeriesCacheContents contents;
        EXPECT_EQ(readCheckedSeriesCache(path, contents), CacheReadResult::Damaged);
        EXPECT_FALSE(verifySeriesCache(path));
        EXPECT_FALSE(std::ifstream(path).good()) << "removed";
        EXPECT_FALSE(std::ifstream(checkPathOf(path)).good()) << "removed";
    }
}
