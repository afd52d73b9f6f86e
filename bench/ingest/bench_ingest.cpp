// Time of the ingest road on generated data (kept between runs in $QV_BENCH_DIR, default
// /tmp/qv-bench-ingest; the first run writes about 0.9 GB of DICOM files there):
//
//   scan_folder          isDcmScan::createBuffer over 1,000 512 x 512 16-bit files (tags only)
//   dcmtk_headers        DCMTK alone: each file's data set read up to its Pixel Data element
//   dcmtk_headers_skip   DCMTK alone: whole data set parsed, values over 4 KiB left on disk
//   layer_open           the DICOM layer alone: setFile and readDicomPixelType for each file
//   open_cached          isBinReader on a cached 512 x 512 x 400 series: setFile + update,
//                        the voxels read from the ".raw"
//                        and hashed against their check as they are read
//   hash_volume          the same 200 MiB hashed as a cache file's check hashes it, on one thread
//   memcpy_volume/1      the same 200 MiB copied into a newly allocated image volume
//   memcpy_volume/0      ... into a volume whose pages are already mapped
//   load_slice_by_slice  the same series decoded from its 400 files on the loader thread,
//                        until every slice is in and the ".raw" is written
//
// When scan_folder and dcmtk_headers both ran, the last line gives the scan's time over DCMTK's
// bare header read of the same files (real and CPU time).
#include "DicomSeriesWriter.h"
#include "HeadlessBench.h"
#include "dcmLib.h"
#include "NSNotificationCenter.h"
#include "isBinReader.h"
#include "isDcmScan.h"
#include "isSeriesCache.h"

#include "cocos2d.h"

#include <benchmark/benchmark.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/oflog/oflog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace isImageSDK;

namespace {

constexpr int kSize = 512;
constexpr int kScanFiles = 1000;
constexpr int kVolumeSlices = 400;

std::string benchRoot()
{
    const char* dir = std::getenv("QV_BENCH_DIR");
    return std::string(dir && *dir ? dir : "/tmp/qv-bench-ingest") + "/";
}

qvgen::ImageSpec ctSpec()
{
    qvgen::ImageSpec spec;
    spec.columns = kSize;
    spec.rows = kSize;
    spec.pixelRepresentation = 1;
    spec.rescaleIntercept = "-1024";
    spec.rescaleSlope = "1";
    spec.windowCenter = "40";
    spec.windowWidth = "400";
    spec.pixelSpacing = "0.68\\0.68";
    return spec;
}

// Writes n slices once; a folder with its marker file is reused by later runs.
std::string series(const std::string& name, int n)
{
    const std::string dir = benchRoot() + name + "/";
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string marker = dir + ".complete";
    if (!files->isFileExist(marker)) {
        files->removeDirectory(dir);
        files->createDirectory(dir);
        if (!qvgen::writeStack(dir, ctSpec(), n, 1.25)) {
            std::fprintf(stderr, "cannot write the series into %s\n", dir.c_str());
            std::exit(1);
        }
        files->writeStringToFile("done", marker);
    }
    return dir;
}

using qvbench::step;

void ensureEnvironment()
{
    qvbench::ensureHeadless(benchRoot() + "writable/");
}

std::vector<std::string> scanPaths()
{
    const std::string dir = series("scan", kScanFiles);
    std::vector<std::string> paths;
    char name[64];
    for (int k = 0; k < kScanFiles; ++k) {
        std::snprintf(name, sizeof(name), "img%04d.dcm", k);
        paths.push_back(dir + name);
    }
    return paths;
}

void BM_ScanFolder(benchmark::State& state)
{
    ensureEnvironment();
    const std::string dir = series("scan", kScanFiles);
    for (auto _ : state) {
        isDcmScan::createBuffer(dir);
        state.PauseTiming();
        step();
        state.ResumeTiming();
    }
    if (isDcmScan::getBufferPathOfFolder(dir).empty())
        state.SkipWithError("the scan wrote no cache");
    state.SetItemsProcessed(state.iterations() * kScanFiles);
}

void BM_DcmtkHeaders(benchmark::State& state)
{
    ensureEnvironment();
    // As the DICOM layer runs DCMTK: errors only, no warning per file about the stop at Pixel Data.
    OFLog::configure(OFLogger::ERROR_LOG_LEVEL);
    const std::vector<std::string> paths = scanPaths();
    for (auto _ : state) {
        for (const std::string& path : paths) {
            DcmFileFormat file;
            OFCondition cond = file.loadFileUntilTag(path.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength,
                                                     ERM_autoDetect, DCM_PixelData);
            benchmark::DoNotOptimize(cond.good());
        }
    }
    state.SetItemsProcessed(state.iterations() * kScanFiles);
}

void BM_DcmtkHeadersSkipValues(benchmark::State& state)
{
    ensureEnvironment();
    const std::vector<std::string> paths = scanPaths();
    for (auto _ : state) {
        for (const std::string& path : paths) {
            DcmFileFormat file;
            OFCondition cond = file.loadFile(path.c_str(), EXS_Unknown, EGL_noChange, 4096, ERM_autoDetect);
            benchmark::DoNotOptimize(cond.good());
        }
    }
    state.SetItemsProcessed(state.iterations() * kScanFiles);
}

void BM_LayerOpen(benchmark::State& state)
{
    ensureEnvironment();
    const std::vector<std::string> paths = scanPaths();
    redIRI::dcmReader reader;
    for (auto _ : state) {
        for (const std::string& path : paths) {
            redIRI::dcmReader::PixelType type;
            benchmark::DoNotOptimize(reader.setFile(path.c_str()) && reader.readDicomPixelType(type));
        }
    }
    state.SetItemsProcessed(state.iterations() * kScanFiles);
}

// The volume's folder with a valid cache and a complete ".raw".
std::string cachedVolume()
{
    ensureEnvironment();
    const std::string dir = series("volume", kVolumeSlices);
    std::string cache = isDcmScan::getBufferPathOfFolder(dir);
    if (cache.empty() || !isDcmScan::isValidBuffer(cache)) {
        isDcmScan::createBuffer(dir);
        cache = isDcmScan::getBufferPathOfFolder(dir);
    }
    auto* reader = isBinReader::create();
    reader->retain();
    reader->setFile(dir, cache);
    reader->update();
    while (!reader->isLoadComplete() || !reader->hasRawFile()) {
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reader->release();
    cocos2d::PoolManager::getInstance()->drainCurrentThread();
    return dir;
}

void BM_OpenCached(benchmark::State& state)
{
    const std::string dir = cachedVolume();
    const std::string cache = isDcmScan::getBufferPathOfFolder(dir);
    for (auto _ : state) {
        auto* reader = isBinReader::create();
        reader->retain();
        reader->setFile(dir, cache);
        reader->update();
        if (!reader->isLoadComplete())
            state.SkipWithError("the series did not open from its .raw");
        benchmark::DoNotOptimize(reader->getOutputData()->getSlices()[kVolumeSlices / 2]->pixels[100]);
        state.PauseTiming();
        reader->release();
        cocos2d::PoolManager::getInstance()->drainCurrentThread();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSize) * kSize * kVolumeSlices * 2);
}

// The check's content hash of the voxel block, on one thread (the loader hashes the pieces of a
// ".raw" side by side on the worker pool as it reads them).
void BM_HashVolume(benchmark::State& state)
{
    const size_t bytes = size_t(kSize) * kSize * kVolumeSlices * 2;
    std::vector<unsigned char> block(bytes);
    for (size_t i = 0; i < bytes; ++i)
        block[i] = static_cast<unsigned char>(i * 2654435761u >> 11);
    for (auto _ : state)
        benchmark::DoNotOptimize(contentHash(block.data(), block.size()));
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// A memory copy of the voxel block into a new image volume (allocated as the image allocates
// it), and into a block that is already mapped.
void BM_MemcpyVolume(benchmark::State& state)
{
    const bool fresh = state.range(0) != 0;
    const size_t bytes = size_t(kSize) * kSize * kVolumeSlices * 2;
    std::vector<unsigned char> source(bytes, 7);
    const int dims[3] = {kSize, kSize, kVolumeSlices};
    const float spacing[3] = {1, 1, 1};
    isImageData* image = isImageData::create();
    image->retain();
    image->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4());
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            image->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4());
            state.ResumeTiming();
        }
        unsigned char* block = image->getSlices()[0]->pixels;
        std::memcpy(block, source.data(), bytes);
        benchmark::DoNotOptimize(block[bytes / 2]);
    }
    image->release();
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

void BM_LoadSliceBySlice(benchmark::State& state)
{
    const std::string dir = cachedVolume();
    const std::string cache = isDcmScan::getBufferPathOfFolder(dir);
    auto* files = cocos2d::FileUtils::getInstance();
    for (auto _ : state) {
        state.PauseTiming();
        files->removeFile(rawPathOf(cache));
        state.ResumeTiming();
        auto* reader = isBinReader::create();
        reader->retain();
        reader->setFile(dir, cache);
        reader->update();
        while (!reader->isLoadComplete())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.PauseTiming();
        reader->release();
        step();
        cocos2d::PoolManager::getInstance()->drainCurrentThread();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kVolumeSlices);
}

} // namespace

BENCHMARK(BM_ScanFolder)->Name("scan_folder")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DcmtkHeaders)->Name("dcmtk_headers")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DcmtkHeadersSkipValues)->Name("dcmtk_headers_skip")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LayerOpen)->Name("layer_open")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OpenCached)->Name("open_cached")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_HashVolume)->Name("hash_volume")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MemcpyVolume)->Name("memcpy_volume")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadSliceBySlice)->Name("load_slice_by_slice")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

namespace {

// The console table, then the ratio of scan_folder to dcmtk_headers.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean"))
                continue;
            if (run.run_name.function_name == "scan_folder")
                scan_.emplace_back(run);
            else if (run.run_name.function_name == "dcmtk_headers")
                headers_.emplace_back(run);
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (scan_.empty() || headers_.empty())
            return;
        const Run& scan = scan_.back();
        const Run& headers = headers_.back();
        GetOutputStream() << "scan_folder / dcmtk_headers: "
                          << ratio(scan.GetAdjustedRealTime(), headers.GetAdjustedRealTime()) << " (real time), "
                          << ratio(scan.GetAdjustedCPUTime(), headers.GetAdjustedCPUTime()) << " (CPU time)\n";
    }

private:
    static std::string ratio(double a, double b)
    {
        if (!(b > 0))
            return "-";
        char text[32];
        std::snprintf(text, sizeof(text), "%.2f", a / b);
        return text;
    }

    // The runs seen (the mean, when repeated).
    std::vector<Run> scan_;
    std::vector<Run> headers_;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
