// The series loader and its slice-loading thread: the main road from a folder through the cache
// to loaded pixels, the order of lazy loading and its notifications, the ".raw" file and every
// way a cache can be wrong.
#include "NSStringUtil.h"
#include "dcmDiskWrite.h"
#include "dcmLoadingThread.h"
#include "isBinReader.h"
#include "isDcmReader.h"
#include "support/IngestFixtures.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

using namespace isImageSDK;
using qvtest::IngestTest;
using qvtest::Received;
using qvtest::Recorder;
using qvtest::Retained;

namespace {

// Holds the loader's worker on its first request until the test opens it, and records the
// order in which requests reach the decoder.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
    std::vector<uint32_t> order;

    void enter(uint32_t id)
    {
        std::unique_lock<std::mutex> lock(mutex);
        order.push_back(id);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    void waitEntered()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return entered; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    std::vector<uint32_t> decoded()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return order;
    }
};

class GatedLoader : public dcmLoadingThread {
public:
    explicit GatedLoader(Gate* gate) : m_gate(gate) {}

protected:
    ~GatedLoader() override = default;
    void decode(loadingRequest* request) override
    {
        m_gate->enter(request->id);
        dcmLoadingThread::decode(request);
    }

private:
    Gate* m_gate;
};

class GatedReader : public isBinReader {
public:
    Gate* gate = nullptr;

protected:
    dcmLoadingThread* createLoader() override { return new GatedLoader(gate); }
};

// Reads only the first half of the ".raw", as a failing disk would.
class HalfReadReader : public isBinReader {
protected:
    size_t readRaw(int fd, unsigned char* buffer, size_t bytes, size_t offset) override
    {
        return isBinReader::readRaw(fd, buffer, bytes / 2, offset);
    }
};

class BinReaderTest : public IngestTest {
protected:
    // The viewer screen's road: reuse a valid cache or scan the folder, then open a reader.
    template <class Reader = isBinReader>
    Reader* open(const std::string& dir, Retained<Reader>& holder)
    {
        std::string cache = isDcmScan::getBufferPathOfFolder(dir);
        if (cache.empty() || !isDcmScan::isValidBuffer(cache)) {
            isDcmScan::createBuffer(dir);
            cache = isDcmScan::getBufferPathOfFolder(dir);
        }
        EXPECT_FALSE(cache.empty());
        EXPECT_TRUE(holder->setFile(dir, cache));
        EXPECT_TRUE(holder->isValid());
        holder->update();
        return holder.get();
    }
    bool waitComplete(isBinReader* reader)
    {
        return stepUntil([reader] { return reader->isLoadComplete(); });
    }
    // Every slice holds exactly the pixels the single-file reader makes of its file.
    void expectFilePixels(isImageData* image)
    {
        for (isSliceInfo* slice : image->getSlices()) {
            Retained<isDcmReader> file(isDcmReader::create());
            file->setFileName(slice->filePath);
            file->update();
            isSliceInfo* expected = file->getOutputData()->getSlice(0);
            ASSERT_NE(expected, nullptr) << slice->filePath;
            ASSERT_EQ(expected->pixelType, slice->pixelType);
            const size_t bytes = static_cast<size_t>(slice->columns) * slice->rows * slice->frames *
                                 bytesPerPixel(slice->pixelType);
            EXPECT_EQ(slice->pixelsLoaded, 1) << slice->filePath;
            EXPECT_EQ(std::memcmp(slice->pixels, expected->pixels, bytes), 0) << slice->filePath;
        }
    }
    // The ".raw" holds the slices one after the other.
    void expectRawMatches(isBinReader* reader)
    {
        std::ifstream in(rawPathOf(reader->getCachePath()), std::ios::binary);
        const std::vector<char> raw((std::istreambuf_iterator<char>(in)), {});
        std::vector<char> slices;
        for (isSliceInfo* slice : reader->getOutputData()->getSlices()) {
            const size_t bytes = static_cast<size_t>(slice->columns) * slice->rows * slice->frames *
                                 bytesPerPixel(slice->pixelType);
            slices.insert(slices.end(), slice->pixels, slice->pixels + bytes);
        }
        EXPECT_EQ(raw.size(), slices.size());
        EXPECT_TRUE(raw == slices);
    }
    std::string ctStack(const std::string& name, int n, const std::string& studyID = "1")
    {
        const std::string dir = folder(name);
        qvgen::ImageSpec spec;
        spec.rescaleIntercept = "-1024";
        spec.rescaleSlope = "1";
        spec.studyID = studyID;
        EXPECT_TRUE(qvgen::writeStack(dir, spec, n, 2.0));
        return dir;
    }
};

} // namespace

TEST_F(BinReaderTest, FolderLoadsThroughTheCacheAndReopensFromTheRawFile)
{
    recorder.listen(NSUI::NOTIFY_LOAD_PROGRESS);
    recorder.listen(NSUI::NOTIFY_VOLUME_LOADED);
    const std::string dir = ctStack("ct", 10);
    Retained<isBinReader> reader(isBinReader::create());
    open(dir, reader);
    isImageData* image = reader->getOutputData();
    ASSERT_EQ(image->getSliceCount(), 10);
    EXPECT_TRUE(image->isVolume());
    EXPECT_EQ(image->getPixelType(), PIXEL_I16);
    EXPECT_EQ(image->getFileNames(), "1,2," + dir);

    ASSERT_TRUE(waitComplete(reader.get()));
    ASSERT_TRUE(stepUntil([this] { return !recorder.of(NSUI::NOTIFY_VOLUME_LOADED).empty(); }));
    EXPECT_TRUE(reader->hasRawFile());
    expectFilePixels(image);
    expectRawMatches(reader.get());

    const std::vector<Received> progress = recorder.of(NSUI::NOTIFY_LOAD_PROGRESS);
    ASSERT_EQ(progress.size(), 10u);
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_FLOAT_EQ(progress[i].floatValue, static_cast<float>(i + 1) / 10.0f);
        EXPECT_EQ(static_cast<uint32_t>(progress[i].intValue2), foldedHash32(image->getFileNames()));
        EXPECT_EQ(progress[i].sender, reader.get());
    }
    EXPECT_EQ(recorder.of(NSUI::NOTIFY_VOLUME_LOADED).size(), 1u);

    // The next opening reads the ".raw" in one go: complete at once, nothing decoded or posted.
    recorder.received.clear();
    Retained<isBinReader> again(isBinReader::create());
    open(dir, again);
    EXPECT_TRUE(again->isLoadComplete());
    EXPECT_TRUE(again->getQueuedIds().empty());
    expectFilePixels(again->getOutputData());
    step(3);
    EXPECT_TRUE(recorder.received.empty());

    // Asked for a slice that is in memory already (no loader runs), the reader answers at once.
    Recorder asker;
    asker.listen(NSUI::NOTIFY_SLICE_LOADED, &asker);
    const std::string path = again->getOutputData()->getSlice(4)->filePath;
    again->prioritizeFile(&asker, path);
    step(2);
    ASSERT_EQ(asker.of(NSUI::NOTIFY_SLICE_LOADED).size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(asker.of(NSUI::NOTIFY_SLICE_LOADED)[0].intValue2), foldedHash32(path));
}

TEST_F(BinReaderTest, SeriesOfSeparateImagesLoadLazilyFromZero)
{
    // Multi-frame RGB and grey images: a "series" cache with a buffer per slice.
    const std::string dir = folder("list");
    qvgen::ImageSpec spec;
    spec.frames = 2;
    ASSERT_TRUE(qvgen::writeStack(dir, spec, 3, 2.0));
    spec.frames = 1;
    spec.samplesPerPixel = 3;
    spec.bitsAllocated = 8;
    spec.instanceNumber = 9;
    write(dir + "rgb.dcm", spec);

    Gate gate;
    Retained<GatedReader> reader(createAutoreleased<GatedReader>());
    reader->gate = &gate;
    open(dir, reader);
    isImageData* image = reader->getOutputData();
    ASSERT_EQ(image->getSliceCount(), 4);
    EXPECT_FALSE(image->isVolume());
    gate.waitEntered();
    // Nothing decoded yet: the slices read as zeros, not as leftover memory.
    for (isSliceInfo* slice : image->getSlices()) {
        EXPECT_EQ(slice->pixelsLoaded, 0);
        const size_t bytes = static_cast<size_t>(slice->columns) * slice->rows * slice->frames *
                             bytesPerPixel(slice->pixelType);
        EXPECT_EQ(std::vector<unsigned char>(slice->pixels, slice->pixels + bytes),
                  std::vector<unsigned char>(bytes, 0));
    }
    EXPECT_FALSE(reader->isLoadComplete());
    gate.release();
    ASSERT_TRUE(waitComplete(reader.get()));
    expectFilePixels(image);
    EXPECT_EQ(image->getSlices()[3]->pixelType, PIXEL_RGB);
    EXPECT_EQ(image->getSlices()[0]->frames, 2);
    ASSERT_TRUE(stepUntil([&] { return reader->hasRawFile(); }));
    expectRawMatches(reader.get());
}

// A picture whose file gives no orientation (a radiograph, a planar NM) keeps the scan's mark that
// its geometry is a stand-in, so the views do not label it with invented patient directions; one
// whose file gives no pixel spacing keeps the mark that its spacing is a stand-in, so that its
// lengths are not called millimetres.
TEST_F(BinReaderTest, PicturesWithoutPatientGeometryKeepTheMark)
{
    const std::string dir = folder("geometry");
    qvgen::ImageSpec spec;
    write(dir + "oriented.dcm", spec);
    spec.hasOrientation = false;
    spec.instanceNumber = 2;
    write(dir + "planar.dcm", spec);
    spec.pixelSpacing = "";
    spec.instanceNumber = 3;
    write(dir + "planar_unspaced.dcm", spec);
    Retained<isBinReader> reader(isBinReader::create());
    open(dir, reader);
    isImageData* image = reader->getOutputData();
    ASSERT_EQ(image->getSliceCount(), 3);
    for (isSliceInfo* slice : image->getSlices()) {
        const bool planar = slice->filePath.find("planar") != std::string::npos;
        const bool unspaced = slice->filePath.find("unspaced") != std::string::npos;
        EXPECT_EQ(slice->geometryValid, planar ? 0 : 1) << slice->filePath;
        EXPECT_EQ(slice->pixelSpacingPresent, unspaced ? 0 : 1) << slice->filePath;
    }
    ASSERT_TRUE(waitComplete(reader.get()));
}

TEST_F(BinReaderTest, LoadingSpreadsOutwardFromTheAskedSlice)
{
    const std::string dir = ctStack("order", 10);
    Gate gate;
    Retained<GatedReader> reader(createAutoreleased<GatedReader>());
    reader->gate = &gate;
    open(dir, reader);
    gate.waitEntered();  // slice 0 is on the decoder, 1 to 9 wait in the queue

    const std::vector<isSliceInfo*>& slices = reader->getOutputData()->getSlices();
    auto id = [&](int k) { return foldedHash32(slices[k]->filePath); };
    auto ids = [&](std::initializer_list<int> ks) {
        std::vector<uint32_t> out;
        for (int k : ks)
            out.push_back(id(k));
        return out;
    };
    EXPECT_EQ(reader->getQueuedIds(), ids({1, 2, 3, 4, 5, 6, 7, 8, 9}));

    Recorder actorA, actorB;
    actorA.listen(NSUI::NOTIFY_SLICE_LOADED, &actorA);
    actorB.listen(NSUI::NOTIFY_SLICE_LOADED, &actorB);
    reader->prioritizeFile(&actorA, slices[6]->filePath);
    EXPECT_EQ(reader->getQueuedIds(), ids({6, 5, 7, 4, 8, 3, 9, 2, 1}));

    // A file no longer queued (being decoded): the rest runs from the highest position down.
    reader->prioritizeFile(&actorA, slices[0]->filePath);
    EXPECT_EQ(reader->getQueuedIds(), ids({9, 8, 7, 6, 5, 4, 3, 2, 1}));
    reader->prioritizeFile(&actorB, slices[0]->filePath);
    reader->prioritizeFile(&actorB, slices[0]->filePath);  // a second ask adds nothing
    reader->prioritizeFile(&actorA, slices[6]->filePath);

    gate.release();
    ASSERT_TRUE(waitComplete(reader.get()));
    EXPECT_EQ(gate.decoded(), ids({0, 6, 5, 7, 4, 8, 3, 9, 2, 1}));
    step(2);
    // Each owner is told once per slice it waits for, with the slice's hash.
    std::vector<uint32_t> toA, toB;
    for (const Received& r : actorA.of(NSUI::NOTIFY_SLICE_LOADED))
        toA.push_back(static_cast<uint32_t>(r.intValue2));
    for (const Received& r : actorB.of(NSUI::NOTIFY_SLICE_LOADED))
        toB.push_back(static_cast<uint32_t>(r.intValue2));
    EXPECT_EQ(toA, ids({0, 6}));
    EXPECT_EQ(toB, ids({0}));

    // Asking for a slice already in memory answers at once.
    actorB.received.clear();
    reader->prioritizeFile(&actorB, slices[3]->filePath);
    step();
    ASSERT_EQ(actorB.of(NSUI::NOTIFY_SLICE_LOADED).size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(actorB.received[0].intValue2), id(3));
}

TEST_F(BinReaderTest, WrongRawFilesAreDecodedAgain)
{
    recorder.listen(NSUI::NOTIFY_VOLUME_LOADED);
    const std::string dir = ctStack("raw", 6);
    {
        Retained<isBinReader> first(isBinReader::create());
        open(dir, first);
        ASSERT_TRUE(waitComplete(first.get()));
        ASSERT_TRUE(stepUntil([&] { return first->hasRawFile(); }));
    }
    const std::string raw = rawPathOf(isDcmScan::getBufferPathOfFolder(dir));
    std::string bytes;
    {
        std::ifstream in(raw, std::ios::binary);
        bytes.assign((std::istreambuf_iterator<char>(in)), {});
    }
    ASSERT_EQ(bytes.size(), 6u * 32 * 24 * 2);

    // A ".raw" that does not agree with its check is never drawn: removed, decoded again,
    // written again, announced. Pixels of one 16-bit slice are 32 x 24 x 2 bytes.
    const std::string checkPath = checkPathOf(raw);
    std::string check;
    {
        std::ifstream in(checkPath, std::ios::binary);
        check.assign((std::istreambuf_iterator<char>(in)), {});
    }
    auto flipped = [&](size_t every) {
        std::string out = bytes;
        for (size_t i = 0; i < out.size(); i += every)
            out[i] = static_cast<char>(out[i] ^ 0x10);
        return out;
    };
    const struct {
        const char* what;
        std::string raw;
        bool withCheck;
    } cases[] = {
        {"one byte short", bytes.substr(0, bytes.size() - 1), true},
        {"overwritten at the same size", std::string(bytes.size(), '\x7f'), true},
        {"one bit in every 64th byte", flipped(64), true},
        {"one bit in the last slice", bytes.substr(0, bytes.size() - 1) + static_cast<char>(bytes.back() ^ 1), true},
        {"no check (an earlier version's)", bytes, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(raw, std::ios::binary | std::ios::trunc) << c.raw;
        if (c.withCheck)
            std::ofstream(checkPath, std::ios::binary | std::ios::trunc) << check;
        else
            std::remove(checkPath.c_str());
        recorder.received.clear();
        Retained<isBinReader> reader(isBinReader::create());
        open(dir, reader);
        ASSERT_TRUE(waitComplete(reader.get()));
        ASSERT_TRUE(stepUntil([this] { return !recorder.of(NSUI::NOTIFY_VOLUME_LOADED).empty(); }));
        expectFilePixels(reader->getOutputData());
        expectRawMatches(reader.get());
        EXPECT_EQ(checkCacheFile(raw), CheckResult::Match);
    }

    // A read that stops half-way is not taken for a complete image.
    recorder.received.clear();
    {
        Retained<HalfReadReader> reader(createAutoreleased<HalfReadReader>());
        open(dir, reader);
        ASSERT_TRUE(waitComplete(reader.get()));
        ASSERT_TRUE(stepUntil([this] { return !recorder.of(NSUI::NOTIFY_VOLUME_LOADED).empty(); }));
        expectFilePixels(reader->getOutputData());
        expectRawMatches(reader.get());
    }
}

TEST_F(BinReaderTest, ARescanNeverTakesAStaleRawFile)
{
    const std::string dir = ctStack("stale", 4);
    std::string cache;
    {
        Retained<isBinReader> reader(isBinReader::create());
        open(dir, reader);
        ASSERT_TRUE(waitComplete(reader.get()));
        ASSERT_TRUE(stepUntil([&] { return reader->hasRawFile(); }));
        cache = reader->getCachePath();
    }
    // An old description (another version) and a ".raw" of the right size full of 0x55.
    const std::string raw = rawPathOf(cache);
    const size_t size = 4u * 32 * 24 * 2;
    std::ofstream(raw, std::ios::binary | std::ios::trunc) << std::string(size, '\x55');
    {
        std::fstream prebin(cache, std::ios::binary | std::ios::in | std::ios::out);
        prebin.seekp(15);
        prebin.write("v2.0", 4);
    }
    ASSERT_FALSE(isDcmScan::isValidBuffer(cache));

    Retained<isBinReader> reader(isBinReader::create());
    open(dir, reader);
    ASSERT_TRUE(waitComplete(reader.get()));
    expectFilePixels(reader->getOutputData());
    ASSERT_TRUE(stepUntil([&] { return reader->hasRawFile(); }));
    expectRawMatches(reader.get());
}

TEST_F(BinReaderTest, ACacheTheDiskHasNoRoomForIsNeverLeftInPartAndTheSeriesOpensFromItsFiles)
{
    const std::string dir = ctStack("full", 6);
    const std::string cacheFolder = isDcmScan::getCacheFolder();
    const std::string prebin = cacheFolder + isDcmScan::getCacheKey(dir) + kPrebinExtension;
    // Room for the description and not the pixels, for nothing, for part of the description; then
    // room again, where the description held in memory reaches the disk and the pixels follow.
    const struct {
        long long room;
        bool descriptionOnDisk, rawOnDisk;
    } cases[] = {{2000, true, false}, {0, false, false}, {100, false, false}, {-1, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.room);
        if (c.room >= 0)
            isDcmScan::removeBufferFiles(dir);
        redIRI::disk::setRoomForTest(c.room);
        Retained<isBinReader> reader(isBinReader::create());
        open(dir, reader);
        ASSERT_EQ(reader->getOutputData()->getSliceCount(), 6);
        ASSERT_TRUE(waitComplete(reader.get()));
        redIRI::disk::setRoomForTest(-1);
        expectFilePixels(reader->getOutputData());
        EXPECT_EQ(cocos2d::FileUtils::getInstance()->isFileExist(prebin), c.descriptionOnDisk);
        EXPECT_EQ(reader->hasRawFile(), c.rawOnDisk);
        if (c.rawOnDisk)
            expectRawMatches(reader.get());
        for (const auto& entry : std::filesystem::directory_iterator(cacheFolder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name[0] != '.' && name.find(".part") == std::string::npos) << "left in part: " << name;
        }
    }
}

TEST_F(BinReaderTest, DamagedDescriptionsAreRemovedAndRebuilt)
{
    const std::string dir = folder("damaged");
    qvgen::ImageSpec spec;
    spec.hasInstanceNumber = false;  // a "series" cache
    ASSERT_TRUE(qvgen::writeStack(dir, spec, 3, 2.0));
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    const std::string cache = isDcmScan::getBufferPathOfFolder(dir);
    std::string good;
    {
        std::ifstream in(cache, std::ios::binary);
        good.assign((std::istreambuf_iterator<char>(in)), {});
    }
    auto patched = [&](size_t offset, const void* value, size_t size) {
        std::string bytes = good;
        bytes.replace(offset, size, static_cast<const char*>(value), size);
        return bytes;
    };
    const int16_t negative = -3;
    const int32_t zero = 0;
    const int32_t shorter = static_cast<int32_t>(std::string("img0000.dcm,img0001.dcm").size());
    // A slice of 2^30 x 2^30 x 4 frames of floats: 2^64 bytes, zero once wrapped.
    const int32_t huge[2] = {1 << 30, 1 << 30};
    const int16_t fourFrames = 4;
    const int32_t floats = PIXEL_FLOAT;
    std::string wrapping = patched(68, huge, 8);
    wrapping.replace(68 + 16, 2, reinterpret_cast<const char*>(&fourFrames), 2);
    wrapping.replace(68 + 584, 4, reinterpret_cast<const char*>(&floats), 4);
    // A well-formed description that says other than the files: a window of 1 at 32767.
    const float window[2] = {1.0f, 32767.0f};
    const std::string checkPath = checkPathOf(cache);
    std::string check;
    {
        std::ifstream in(checkPath, std::ios::binary);
        check.assign((std::istreambuf_iterator<char>(in)), {});
    }
    const struct {
        std::string bytes;
        bool withCheck;
    } damaged[] = {
        {patched(64, &negative, 2), true},           // record count -3
        {patched(68 + 712, &zero, 4), true},         // columns 0
        {patched(68 + 3 * 712, &shorter, 4), true},  // one name less than records
        {good.substr(0, good.size() - 5), true},     // cut short
        {wrapping, true},                            // a size that overflows
        {patched(68 + 604, window, 8), true},        // overwritten at the same size
        {good, false},                               // no check (an earlier version's)
    };
    for (const auto& c : damaged) {
        const std::string& bytes = c.bytes;
        std::ofstream(cache, std::ios::binary | std::ios::trunc) << bytes;
        if (c.withCheck)
            std::ofstream(checkPath, std::ios::binary | std::ios::trunc) << check;
        else
            std::remove(checkPath.c_str());
        Retained<isBinReader> reader(isBinReader::create());
        ASSERT_TRUE(reader->setFile(dir, cache));
        ASSERT_TRUE(reader->isValid());
        reader->update();
        EXPECT_EQ(reader->getOutputData()->getSliceCount(), 0);
        EXPECT_FALSE(cocos2d::FileUtils::getInstance()->isFileExist(cache));
        // The next opening scans the folder again.
        Retained<isBinReader> rebuilt(isBinReader::create());
        open(dir, rebuilt);
        EXPECT_EQ(rebuilt->getOutputData()->getSliceCount(), 3);
        ASSERT_TRUE(waitComplete(rebuilt.get()));
        EXPECT_NE(rebuilt->getOutputData()->getSlice(0)->windowWidth, 1.0f);
        // The viewer's road checks first: a damaged description is scanned again at once.
        std::ofstream(cache, std::ios::binary | std::ios::trunc) << bytes;
        if (c.withCheck)
            std::ofstream(checkPath, std::ios::binary | std::ios::trunc) << check;
        else
            std::remove(checkPath.c_str());
        Retained<isBinReader> checked(isBinReader::create());
        open(dir, checked);
        EXPECT_EQ(checked->getOutputData()->getSliceCount(), 3);
        EXPECT_NE(checked->getOutputData()->getSlice(0)->windowWidth, 1.0f);
        ASSERT_TRUE(waitComplete(checked.get()));
    }

    // A file that is no cache at all: not valid, nothing read.
    std::ofstream(root + "junk.prebin") << "junk";
    Retained<isBinReader> junk(isBinReader::create());
    EXPECT_TRUE(junk->setFile(dir, root + "junk.prebin"));
    EXPECT_FALSE(junk->isValid());
    junk->update();
    EXPECT_EQ(junk->getOutputData()->getSliceCount(), 0);
    EXPECT_FALSE(junk->isLoadComplete());
}

TEST_F(BinReaderTest, ADecodedFormatThatDoesNotFitIsNeverStored)
{
    const std::string dir = folder("mismatch");
    qvgen::ImageSpec spec;
    spec.hasInstanceNumber = false;
    ASSERT_TRUE(qvgen::writeStack(dir, spec, 2, 2.0));
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    const std::string cache = isDcmScan::getBufferPathOfFolder(dir);
    {
        // The first record claims 24-bit colour; its file decodes as 16-bit grey.
        std::fstream prebin(cache, std::ios::binary | std::ios::in | std::ios::out);
        const int32_t rgb = PIXEL_RGB, bits = 24;
        prebin.seekp(68 + 584);
        prebin.write(reinterpret_cast<const char*>(&rgb), 4);
        prebin.write(reinterpret_cast<const char*>(&bits), 4);
    }
    CheckedFile written;
    ASSERT_TRUE(hashFile(cache, written));
    ASSERT_TRUE(writeCheck(checkPathOf(cache), {written}));
    Retained<isBinReader> reader(isBinReader::create());
    ASSERT_TRUE(reader->setFile(dir, cache));
    reader->update();
    ASSERT_TRUE(stepUntil([&] { return reader->getLoadedCount() == 1; }));
    step(5);
    const std::vector<isSliceInfo*>& slices = reader->getOutputData()->getSlices();
    EXPECT_EQ(slices[0]->pixelsLoaded, 0);
    EXPECT_EQ(slices[1]->pixelsLoaded, 1);
    EXPECT_FALSE(reader->isLoadComplete());
    EXPECT_FALSE(reader->hasRawFile());
}

TEST_F(BinReaderTest, SetFileAndRestartsWhileLoading)
{
    const std::string a = ctStack("a", 12);
    const std::string b = ctStack("b", 7);
    Retained<isBinReader> reader(isBinReader::create());
    open(a, reader);
    isImageData* image = reader->getOutputData();
    ASSERT_TRUE(waitComplete(reader.get()));
    // The same cache again keeps the loaded image; an empty path is refused.
    EXPECT_TRUE(reader->setFile(a, reader->getCachePath()));
    EXPECT_EQ(image->getSliceCount(), 12);
    EXPECT_TRUE(reader->isLoadComplete());
    EXPECT_FALSE(isBinReader::create()->setFile(a, ""));

    // Restarts while slices are being decoded: no stale slice is counted or stored.
    isDcmScan::removeBuffer(a);
    isDcmScan::removeBuffer(b);
    ASSERT_TRUE(isDcmScan::createBuffer(a));
    ASSERT_TRUE(isDcmScan::createBuffer(b));
    const std::string cacheA = isDcmScan::getBufferPathOfFolder(a);
    const std::string cacheB = isDcmScan::getBufferPathOfFolder(b);
    for (int i = 0; i < 50; ++i) {
        const bool onB = i % 2 == 0;
        ASSERT_TRUE(reader->setFile(onB ? b : a, onB ? cacheB : cacheA));
        reader->update();
        if (i % 7 == 0)
            reader->prioritizeFile(&recorder, image->getSlices()[image->getSliceCount() - 1]->filePath);
        step();
    }
    ASSERT_EQ(reader->getCachePath(), cacheA);
    ASSERT_TRUE(waitComplete(reader.get()));
    EXPECT_EQ(image->getSliceCount(), 12);
    expectFilePixels(image);
    ASSERT_TRUE(stepUntil([&] { return reader->hasRawFile(); }));
    expectRawMatches(reader.get());

    // Once B's ".raw" exists, it holds B's pixels.
    if (cocos2d::FileUtils::getInstance()->isFileExist(rawPathOf(cacheB))) {
        Retained<isBinReader> other(isBinReader::create());
        open(b, other);
        ASSERT_TRUE(waitComplete(other.get()));
        expectFilePixels(other->getOutputData());
    }
}

TEST_F(BinReaderTest, SeriesKeysDifferPerFolder)
{
    recorder.listen(NSUI::NOTIFY_LOAD_PROGRESS);
    // Two patients' series with the same study ID and series number.
    const std::string a = ctStack("patientA", 3, "1");
    const std::string b = ctStack("patientB", 3, "1");
    Retained<isBinReader> ra(isBinReader::create());
    Retained<isBinReader> rb(isBinReader::create());
    open(a, ra);
    open(b, rb);
    ASSERT_TRUE(waitComplete(ra.get()));
    ASSERT_TRUE(waitComplete(rb.get()));
    step(2);
    const std::string keyA = ra->getOutputData()->getFileNames();
    const std::string keyB = rb->getOutputData()->getFileNames();
    EXPECT_NE(keyA, keyB);
    size_t fromA = 0, fromB = 0;
    for (const Received& r : recorder.of(NSUI::NOTIFY_LOAD_PROGRESS)) {
        const uint32_t hash = static_cast<uint32_t>(r.intValue2);
        fromA += r.sender == ra.get() && hash == foldedHash32(keyA);
        fromB += r.sender == rb.get() && hash == foldedHash32(keyB);
    }
    EXPECT_EQ(fromA, 3u);
    EXPECT_EQ(fromB, 3u);
}

TEST_F(BinReaderTest, CompressedFilesLoadLikeTheirOriginals)
{
    // The same stack written plainly, and again through DCMTK's encoders: lossless JPEG,
    // JPEG-LS, RLE and big-endian files mixed in one folder.
    const std::string plain = ctStack("plain", 8);
    const std::string mixed = folder("compressed");
    const char* tools[] = {"dcmcjpeg +e1", "dcmcjpls", "dcmcrle", "dcmconv +tb"};
    for (int k = 0; k < 8; ++k) {
        char name[32];
        std::snprintf(name, sizeof(name), "img%04d.dcm", k);
        const std::string command =
            std::string(tools[k % 4]) + " \"" + plain + name + "\" \"" + mixed + name + "\" >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    Retained<isBinReader> original(isBinReader::create());
    Retained<isBinReader> compressed(isBinReader::create());
    open(plain, original);
    open(mixed, compressed);
    ASSERT_TRUE(compressed->getOutputData()->isVolume());
    ASSERT_TRUE(waitComplete(original.get()));
    ASSERT_TRUE(waitComplete(compressed.get()));
    const std::vector<isSliceInfo*>& a = original->getOutputData()->getSlices();
    const std::vector<isSliceInfo*>& b = compressed->getOutputData()->getSlices();
    ASSERT_EQ(a.size(), b.size());
    for (size_t k = 0; k < a.size(); ++k)
        EXPECT_EQ(std::memcmp(a[k]->pixels, b[k]->pixels, 32 * 24 * 2), 0) << k;
}
