// The folder scan: which generated folders become a "volume" and which a "series", in what
// order, the files it skips, its progress, the cache names and the purge.
#include "NSStringUtil.h"
#include "UILocalConfig.h"
#include "isDcmScan.h"
#include "isImageTypes.h"
#include "support/IngestFixtures.h"
#include "../../../foundation/tests/NSFileTestSupport.h"
#include "dcmLib.h"

#include <cmath>
#include <ctime>
#include <fstream>

using namespace isImageSDK;
using qvtest::IngestTest;

namespace {

class DcmScanTest : public IngestTest {
protected:
    // Scans the folder and reads its cache back; fails the test when there is none.
    SeriesCacheContents scan(const std::string& dir)
    {
        EXPECT_TRUE(isDcmScan::createBuffer(dir));
        const std::string path = isDcmScan::getBufferPathOfFolder(dir);
        SeriesCacheContents cache;
        EXPECT_FALSE(path.empty()) << dir;
        if (!path.empty()) {
            EXPECT_EQ(readSeriesCache(path, cache), CacheReadResult::Ok) << dir;
        }
        return cache;
    }
    // Instance numbers of the cached slices, in cache order.
    static std::vector<int> instances(const SeriesCacheContents& cache)
    {
        std::vector<int> out;
        for (const SeriesRecordData& r : cache.records)
            out.push_back(r.instanceNumber);
        for (const VolumeSliceRecordData& s : cache.slices)
            out.push_back(s.instanceNumber);
        return out;
    }
    static std::vector<int> range(int first, int last)
    {
        std::vector<int> out;
        const int direction = first <= last ? 1 : -1;
        for (int i = first; i != last + direction; i += direction)
            out.push_back(i);
        return out;
    }
    // A stack of n slices along the normal of spec's orientation, written under scrambled names
    // so that the listing order is not the slice order.
    void scrambledStack(const std::string& dir, qvgen::ImageSpec spec, int n, double spacing, int firstInstance = 1,
                        double step = 1.0)
    {
        const double* o = spec.orientation;
        const double normal[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
        const double origin[3] = {spec.position[0], spec.position[1], spec.position[2]};
        for (int k = 0; k < n; ++k) {
            for (int a = 0; a < 3; ++a)
                spec.position[a] = origin[a] + k * spacing * step * normal[a];
            spec.instanceNumber = firstInstance + k;
            write(dir + "f" + std::to_string((k * 7) % n + 100) + ".dcm", spec);
        }
    }
};

} // namespace

TEST_F(DcmScanTest, StacksBecomeVolumesInSliceOrder)
{
    qvgen::ImageSpec axial;
    axial.position[2] = -40;
    const std::string up = folder("axial");
    scrambledStack(up, axial, 20, 2.5);
    SeriesCacheContents cache = scan(up);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME);
    EXPECT_EQ(instances(cache), range(1, 20));
    EXPECT_FLOAT_EQ(cache.volume.sliceSpacing, 2.5f);
    EXPECT_EQ(cache.volume.columns, 32);
    EXPECT_EQ(cache.volume.headFeet, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cache.volume.sharedInfo) + (540 - 100)), "1");

    // Instance numbers running against the slice normal: the stack is reversed.
    const std::string down = folder("axial-down");
    scrambledStack(down, axial, 20, 2.5, 1, -1.0);
    cache = scan(down);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME);
    EXPECT_EQ(instances(cache), range(20, 1));

    qvgen::ImageSpec sagittal;
    const double sagittalOrientation[6] = {0, 1, 0, 0, 0, -1};
    std::copy(sagittalOrientation, sagittalOrientation + 6, sagittal.orientation);
    const std::string side = folder("sagittal");
    scrambledStack(side, sagittal, 12, 0.8);
    cache = scan(side);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME);
    EXPECT_EQ(instances(cache), range(1, 12));
    EXPECT_NEAR(cache.volume.sliceSpacing, 0.8f, 1e-5);

    // Tilted planes stacked along their own normal still form a volume.
    qvgen::ImageSpec tilted;
    const double a = 20.0 * M_PI / 180.0;
    const double tiltedOrientation[6] = {1, 0, 0, 0, std::cos(a), std::sin(a)};
    std::copy(tiltedOrientation, tiltedOrientation + 6, tilted.orientation);
    const std::string oblique = folder("tilted");
    scrambledStack(oblique, tilted, 10, 1.5);
    cache = scan(oblique);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME);
    EXPECT_EQ(instances(cache), range(1, 10));
}

TEST_F(DcmScanTest, ARescaleOnSomeSlicesOnlyKeepsTheStackInFloats)
{
    // Unsigned samples: slope 1 (16-bit integers) on even slices, 1.5 (fractions) on odd ones;
    // then an intercept that turns some slices signed.
    for (const char* kind : {"slope", "intercept"}) {
        const std::string dir = folder(kind);
        qvgen::ImageSpec spec;
        spec.modality = "MR";
        for (int k = 0; k < 6; ++k) {
            spec.position[2] = 2.0 * k;
            spec.instanceNumber = k + 1;
            if (std::string(kind) == "slope")
                spec.rescaleSlope = k % 2 ? "1.5" : "1";
            else
                spec.rescaleIntercept = k % 2 ? "-100" : "0";
            write(dir + "f" + std::to_string(k) + ".dcm", spec);
        }
        const SeriesCacheContents cache = scan(dir);
        EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME) << kind;
        EXPECT_EQ(cache.volume.pixelType, PIXEL_FLOAT) << kind;
        EXPECT_EQ(instances(cache), range(1, 6)) << kind;
    }
}

TEST_F(DcmScanTest, IrregularFoldersBecomeSeries)
{
    qvgen::ImageSpec spec;

    // A gantry tilt: tilted planes whose positions advance along z, off their normal.
    const std::string gantry = folder("gantry");
    const double a = 20.0 * M_PI / 180.0;
    const double tilted[6] = {1, 0, 0, 0, std::cos(a), std::sin(a)};
    qvgen::ImageSpec tiltedSpec = spec;
    std::copy(tilted, tilted + 6, tiltedSpec.orientation);
    for (int k = 0; k < 6; ++k) {
        tiltedSpec.position[2] = 3.0 * k;
        tiltedSpec.instanceNumber = 6 - k;
        write(gantry + "g" + std::to_string(k) + ".dcm", tiltedSpec);
    }
    SeriesCacheContents cache = scan(gantry);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), range(1, 6));  // instance order

    // One slice 0.02 mm off the axis.
    const std::string off = folder("off-axis");
    ASSERT_TRUE(qvgen::writeStack(off, spec, 8, 2.0));
    spec.position[0] = 0.02;
    spec.position[2] = 16.0;
    spec.instanceNumber = 9;
    write(off + "img0008.dcm", spec);
    cache = scan(off);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), range(1, 9));
    spec.position[0] = 0.0;

    // A missing slice: the spacing between neighbours is not the same everywhere.
    spec.position[2] = 0.0;
    const std::string gap = folder("gap");
    ASSERT_TRUE(qvgen::writeStack(gap, spec, 5, 2.0));
    spec.position[2] = 14.0;
    spec.instanceNumber = 6;
    write(gap + "img0005.dcm", spec);
    cache = scan(gap);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), range(1, 6));

    // Two files at the same position (a duplicate slice).
    spec.position[2] = 0.0;
    const std::string duplicate = folder("duplicate");
    ASSERT_TRUE(qvgen::writeStack(duplicate, spec, 5, 2.0));
    spec.position[2] = 8.0;
    spec.instanceNumber = 6;
    write(duplicate + "img0005.dcm", spec);
    cache = scan(duplicate);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), range(1, 6));

    // One position repeated by every file (a time series): never a volume of spacing 0.
    const std::string cine = folder("cine");
    ASSERT_TRUE(qvgen::writeStack(cine, spec, 10, 0.0));
    cache = scan(cine);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), range(1, 10));

    // A file without position, and one without instance number: listing order is kept.
    const std::string noPosition = folder("no-position");
    qvgen::ImageSpec stack = spec;
    stack.position[2] = 0;
    ASSERT_TRUE(qvgen::writeStack(noPosition, stack, 4, 2.0, 10));
    stack.hasPosition = false;
    stack.instanceNumber = 1;
    write(noPosition + "img0004.dcm", stack);
    cache = scan(noPosition);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), (std::vector<int>{10, 11, 12, 13, 1}));

    const std::string noInstance = folder("no-instance");
    ASSERT_TRUE(qvgen::writeStack(noInstance, spec, 3, 2.0, 5));
    stack = spec;
    stack.hasInstanceNumber = false;
    stack.position[2] = 6.0;
    write(noInstance + "a.dcm", stack);
    cache = scan(noInstance);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(cache.names, (std::vector<std::string>{"a.dcm", "img0000.dcm", "img0001.dcm", "img0002.dcm"}));

    // Two series mixed in one folder (different sizes): one list, in instance order.
    const std::string mixed = folder("mixed");
    ASSERT_TRUE(qvgen::writeStack(mixed, spec, 3, 2.0, 1, "a"));
    qvgen::ImageSpec other = spec;
    other.columns = 64;
    other.seriesNumber = "3";
    ASSERT_TRUE(qvgen::writeStack(mixed, other, 3, 2.0, 4, "b"));
    cache = scan(mixed);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(instances(cache), range(1, 6));
    EXPECT_EQ(cache.records[3].columns, 64);

    // Multi-frame files are lists of images.
    const std::string frames = folder("multiframe");
    qvgen::ImageSpec multi = spec;
    multi.frames = 4;
    ASSERT_TRUE(qvgen::writeStack(frames, multi, 2, 2.0));
    cache = scan(frames);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    ASSERT_EQ(cache.records.size(), 2u);
    EXPECT_EQ(cache.records[0].frames, 4);

    // One image alone.
    const std::string single = folder("single");
    write(single + "only.dcm", spec);
    cache = scan(single);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_SERIES);
    EXPECT_EQ(cache.names, (std::vector<std::string>{"only.dcm"}));
}

TEST_F(DcmScanTest, LargeInstanceNumbersKeepTheirOrder)
{
    qvgen::ImageSpec spec;
    const std::string dir = folder("large");
    scrambledStack(dir, spec, 5, 2.0, 32766);
    const SeriesCacheContents cache = scan(dir);
    EXPECT_EQ(cache.kind, SeriesCacheContents::KIND_VOLUME);
    ASSERT_EQ(cache.slices.size(), 5u);
    // Stored in 16 bits, as the format has it; the order is that of the full numbers.
    EXPECT_EQ(instances(cache), (std::vector<int>{32766, 32767, -32768, -32767, -32766}));
    EXPECT_FLOAT_EQ(cache.volume.sliceSpacing, 2.0f);
}

TEST_F(DcmScanTest, FilesThatCannotBeUsedAreSkipped)
{
    qvgen::ImageSpec spec;
    const std::string dir = folder("skip");
    cocos2d::FileUtils::getInstance()->createDirectory(dir + "sub");
    write(dir + "sub/b.dcm", spec);
    spec.instanceNumber = 2;
    write(dir + "a,b.dcm", spec);  // a comma cannot stand in the name list
    spec.omit = {{0x7FE0, 0x0010}};
    write(dir + "nopixels.dcm", spec);
    spec.omit = {{0x0028, 0x0010}};
    write(dir + "norows.dcm", spec);
    // Whole, but one frame larger than anything shown: refused from its header, never decoded.
    spec.omit.clear();
    spec.columns = spec.rows = 16384;
    ASSERT_TRUE(qvgen::writeSparseDicomFile(dir + "huge.dcm", spec));
    // A genuine multi-frame object the DICOM layer reads, but more than the viewer holds at once.
    spec.columns = spec.rows = 512;
    spec.frames = 1200;
    ASSERT_TRUE(qvgen::writeSparseDicomFile(dir + "frames.dcm", spec));
    {
        std::ofstream(dir + "readme.txt") << "hello";
        std::ofstream(dir + "empty.dcm");
    }
    const SeriesCacheContents cache = scan(dir);
    EXPECT_EQ(cache.names, (std::vector<std::string>{"sub/b.dcm"}));

    // Nothing usable: no cache at all.
    const std::string none = folder("none");
    std::ofstream(none + "readme.txt") << "hello";
    EXPECT_TRUE(isDcmScan::createBuffer(none));
    EXPECT_EQ(isDcmScan::getBufferPathOfFolder(none), "");
    const std::string empty = folder("empty");
    EXPECT_TRUE(isDcmScan::createBuffer(empty));
    EXPECT_EQ(isDcmScan::getBufferPathOfFolder(empty), "");
}

// A library series folder also holds the program's own thumbnails ("thrumb0" to "thrumb5", PNG
// files the study list writes); the scan passes over them without asking the DICOM reader, which
// would log each as "not a DICOM file" every time the series is opened.
TEST_F(DcmScanTest, TheProgramsThumbnailsArePassedOverSilently)
{
    const std::string dir = folder("thumbs");
    ASSERT_TRUE(qvgen::writeStack(dir, qvgen::ImageSpec(), 3, 2.0));
    for (int i = 0; i < 6; ++i)
        std::ofstream(dir + "thrumb" + std::to_string(i), std::ios::binary) << "\x89PNG\r\n\x1a\n thumbnail";
    std::ofstream(dir + "notes.txt") << "not DICOM either";
    qvtest::LogCapture log;
    redIRI::setLogCallback([](const char* text) { cocos2d::log("%s", text); });  // as the program does
    const SeriesCacheContents cache = scan(dir);
    redIRI::setLogCallback(nullptr);
    EXPECT_EQ(instances(cache), range(1, 3));
    for (const std::string& name : cache.names)
        EXPECT_EQ(name.find("thrumb"), std::string::npos) << name;
    bool notesReported = false;
    for (const std::string& line : log.lines()) {
        EXPECT_EQ(line.find("thrumb"), std::string::npos) << line;
        notesReported = notesReported || line.find("notes.txt") != std::string::npos;
    }
    // A stranger's file in the folder is still reported.
    EXPECT_TRUE(notesReported);
}

TEST_F(DcmScanTest, ProgressRunsFromTwoToNinetyNine)
{
    recorder.listen(NSUI::NOTIFY_UI_PROGRESS);
    const std::string dir = folder("progress");
    ASSERT_TRUE(qvgen::writeStack(dir, qvgen::ImageSpec(), 4, 2.0));
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    step();
    std::vector<int> values;
    for (const qvtest::Received& r : recorder.of(NSUI::NOTIFY_UI_PROGRESS))
        values.push_back(r.intValue);
    EXPECT_EQ(values, (std::vector<int>{2, 2, 4, 7, 9, 12, 32, 52, 72, 94, 97, 99}));
}

TEST_F(DcmScanTest, CacheNamesAndRemoval)
{
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string writable = files->getWritablePath();
    // Below the writable path the key leaves it out; a trailing "/" makes no difference.
    EXPECT_EQ(isDcmScan::getCacheKey(writable + "qv/dicom/a/b"), isDcmScan::getCacheKey(writable + "qv/dicom/a/b/"));
    EXPECT_EQ(isDcmScan::getCacheKey(writable + "qv/dicom/a/"),
              std::to_string(foldedHash32("qv/dicom/a/")));
    // Elsewhere the whole text counts, so two short outside folders never share a cache.
    EXPECT_NE(isDcmScan::getCacheKey("/a/"), isDcmScan::getCacheKey("/b/"));

    const std::string dir = folder("named");
    EXPECT_EQ(isDcmScan::getBufferPathOfFolder(dir), "");
    EXPECT_TRUE(files->isDirectoryExist(isDcmScan::getCacheFolder()));
    write(dir + "x.dcm", qvgen::ImageSpec());
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    const std::string prebin = isDcmScan::getBufferPathOfFolder(dir);
    EXPECT_EQ(prebin, isDcmScan::getCacheFolder() + isDcmScan::getCacheKey(dir) + ".prebin");
    EXPECT_TRUE(isDcmScan::isValidBuffer(prebin));
    EXPECT_FALSE(isDcmScan::isValidBuffer(""));

    // A rescan never keeps an old ".raw" beside the new description.
    const std::string raw = rawPathOf(prebin);
    std::ofstream(raw) << "stale";
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    EXPECT_FALSE(files->isFileExist(raw));

    std::ofstream(raw) << "pixels";
    isDcmScan::removeBuffer(dir);
    EXPECT_FALSE(files->isFileExist(prebin));
    EXPECT_FALSE(files->isFileExist(raw));

    // The checks go with their files, and the thumbnails' with the folder however it is spelt.
    const std::string thumbnails = isDcmScan::thumbnailCheckPathOf(dir.substr(0, dir.size() - 1) + "//");
    for (const std::string& path : {raw, checkPathOf(raw), checkPathOf(prebin), thumbnails})
        std::ofstream(path) << "x";
    isDcmScan::removeBufferFiles(dir);
    for (const std::string& path : {raw, checkPathOf(raw), checkPathOf(prebin), thumbnails})
        EXPECT_FALSE(files->isFileExist(path)) << path;
    isDcmScan::removeBufferFiles(dir);  // nothing left: nothing happens
}

TEST(DcmScanPurge, SevenDaysDayByDay)
{
    const int now[6] = {2017, 7, 15, 12, 0, 0};
    const int eightDays[6] = {2017, 7, 7, 12, 0, 0};
    const int sixDays[6] = {2017, 7, 9, 12, 0, 0};
    const int exactly[6] = {2017, 7, 8, 12, 0, 0};
    const int justUnder[6] = {2017, 7, 8, 12, 0, 1};
    EXPECT_TRUE(isDcmScan::isExpired(eightDays, now));
    EXPECT_FALSE(isDcmScan::isExpired(sixDays, now));
    EXPECT_TRUE(isDcmScan::isExpired(exactly, now));
    EXPECT_FALSE(isDcmScan::isExpired(justUnder, now));
    // 28 February of a common year counts as moved to 7 March; of a leap year to 6 March.
    const int february[6] = {2017, 2, 28, 0, 0, 0};
    const int march6[6] = {2017, 3, 6, 23, 59, 59};
    const int march7[6] = {2017, 3, 7, 0, 0, 0};
    EXPECT_FALSE(isDcmScan::isExpired(february, march6));
    EXPECT_TRUE(isDcmScan::isExpired(february, march7));
    const int leap[6] = {2016, 2, 28, 0, 0, 0};
    const int leapMarch6[6] = {2016, 3, 6, 0, 0, 0};
    EXPECT_TRUE(isDcmScan::isExpired(leap, leapMarch6));
    // Across the year.
    const int december[6] = {2016, 12, 29, 0, 0, 0};
    const int january[6] = {2017, 1, 5, 0, 0, 0};
    EXPECT_TRUE(isDcmScan::isExpired(december, january));
}

TEST_F(DcmScanTest, PurgeRemovesOnlyOldVoxelFiles)
{
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string cache = isDcmScan::getCacheFolder();
    files->createDirectory(cache);
    isDcmScan::dropCachesOfOtherDecoding();  // a cache of this build's decoding
    std::ofstream(cache + "1.raw") << "x";
    std::ofstream(cache + "1.prebin") << "x";

    isDcmScan::clearBuffer();
    EXPECT_TRUE(files->isFileExist(cache + "1.raw"));

    // Eight days on (file times are UTC).
    const std::time_t later = std::time(nullptr) + 8 * 24 * 3600;
    std::tm t;
    gmtime_r(&later, &t);
    const int now[6] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    isDcmScan::clearBufferAsOf(now);
    EXPECT_FALSE(files->isFileExist(cache + "1.raw"));
    EXPECT_TRUE(files->isFileExist(cache + "1.prebin"));
}

// Caches hold decoded pixels: ones written by a build that decoded differently (a colour or rescale
// fix since) go at the next start, whatever their age, and are made again when the series opens;
// caches of the same decoding stay.
TEST_F(DcmScanTest, CachesOfAnotherDecodingGoAtStart)
{
    const std::string dir = folder("decoding");
    ASSERT_TRUE(qvgen::writeStack(dir, qvgen::ImageSpec(), 3, 2.0));
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    const std::string prebin = isDcmScan::getBufferPathOfFolder(dir);
    ASSERT_FALSE(prebin.empty());
    const std::string raw = prebin.substr(0, prebin.size() - 7) + ".raw";
    auto* files = cocos2d::FileUtils::getInstance();

    // Another decoding's record, or none (a library from before it was kept): both files go.
    for (const char* record : {"1", ""}) {
        ASSERT_TRUE(isDcmScan::createBuffer(dir));
        std::ofstream(raw) << "decoded before";
        NSUI::UILocalConfig::setLocalString(isDcmScan::kDecodingKey, record);
        isDcmScan::clearBuffer();
        EXPECT_FALSE(files->isFileExist(prebin)) << record;
        EXPECT_FALSE(files->isFileExist(raw)) << record;
    }
    EXPECT_FALSE(files->isFileExist(prebin));
    EXPECT_FALSE(files->isFileExist(raw));

    // Made again, they stay at the next start of the same build.
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    std::ofstream(raw) << "decoded now";
    isDcmScan::clearBuffer();
    EXPECT_TRUE(files->isFileExist(prebin));
    EXPECT_TRUE(files->isFileExist(raw));
}
