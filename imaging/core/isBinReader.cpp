#include "isBinReader.h"

#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "dcmDiskWrite.h"
#include "dcmLoadingThread.h"
#include "isDcmRules.h"
#include "isSeriesCache.h"
#include "isWorkerPool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace isImageSDK {

namespace {

// Bytes of the ".raw" read, then hashed, in one step.
constexpr size_t kRawStep = size_t(1) << 20;

std::string fieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

size_t sliceBytes(const isSliceInfo* slice)
{
    return static_cast<size_t>(slice->columns) * static_cast<size_t>(slice->rows) * slice->frames *
           static_cast<size_t>(bytesPerPixel(slice->pixelType, 3));
}

int sexCodeOfChar(char sex)
{
    return sex == 'M' ? 1 : (sex == 'F' ? 2 : 3);
}

NSUI::NSNotificationCenter* centre()
{
    // Posts come from the loader thread, which must never create the centre.
    return NSUI::NSNotificationCenter::peekInstance();
}

} // namespace

isBinReader* isBinReader::create()
{
    return createAutoreleased<isBinReader>();
}

isBinReader::~isBinReader()
{
    isBinReader::clear();
}

bool isBinReader::init()
{
    isImageFilter::init();
    m_cachePath.clear();
    m_folder.clear();
    m_valid = false;
    m_loader = nullptr;
    return true;
}

void isBinReader::clear()
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_outputLock);
        m_waiting.clear();
    }
    dcmLoadingThread* loader;
    {
        std::lock_guard<std::mutex> lock(m_loaderLock);
        loader = m_loader;
        m_loader = nullptr;
    }
    // Returns once the worker is gone: no onSliceLoaded can reach this reader afterwards.
    if (loader)
        safeDestroy(loader);
    std::lock_guard<std::recursive_mutex> lock(m_outputLock);
    isImageFilter::clear();
    m_sliceHashes.clear();
    m_loadedCount = 0;
}

dcmLoadingThread* isBinReader::createLoader()
{
    return new dcmLoadingThread();
}

void isBinReader::cancelLoader()
{
    std::lock_guard<std::mutex> lock(m_loaderLock);
    if (m_loader)
        m_loader->cancelLoading();
}

void isBinReader::restartLocked(isImageData* output)
{
    output->releaseData();
    output->resetGeometry();
    ++m_generation;
    m_loadedCount = 0;
    m_sliceHashes.clear();
}

bool isBinReader::setFile(const std::string& folderPath, const std::string& cachePath)
{
    std::string folder = folderPath;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    {
        std::lock_guard<std::recursive_mutex> lock(m_outputLock);
        if (cachePath == m_cachePath)
            return !cachePath.empty();
    }
    cancelLoader();
    {
        std::lock_guard<std::recursive_mutex> lock(m_outputLock);
        if (isImageData* output = getOutputData())
            restartLocked(output);
        m_cachePath = cachePath;
        m_folder = folder;
        m_valid = false;
    }
    setModified();
    m_valid = hasCacheSignature(cachePath, false);
    return true;
}

void isBinReader::updateInformation()
{
    readBuffer();
}

void isBinReader::readBuffer()
{
    if (!beginInformationUpdate())
        return;
    isImageData* output = m_outputData;
    if (!output || !m_valid)
        return;
    cancelLoader();

    SeriesCacheContents cache;
    const CacheReadResult result = readCheckedSeriesCache(m_cachePath, cache);

    std::lock_guard<std::recursive_mutex> lock(m_outputLock);
    restartLocked(output);
    if (result == CacheReadResult::Damaged) {
        // Removed, with the pixels it described, so that the next opening scans the folder again.
        cocos2d::log("damaged series cache removed:%s", m_cachePath.c_str());
        dropHeldSeriesCache(m_cachePath);
        removeCacheFile(m_cachePath);
        removeCacheFile(rawPathOf(m_cachePath));
        return;
    }
    if (result != CacheReadResult::Ok)
        return;

    std::string studyID, seriesNumber;
    if (cache.kind == SeriesCacheContents::KIND_SERIES) {
        for (size_t i = 0; i < cache.records.size(); ++i) {
            const SeriesRecordData& r = cache.records[i];
            const int size[2] = {r.columns, r.rows};
            const float spacing[2] = {r.spacingX, r.spacingY};
            isSliceInfo* slice =
                output->addSlice(size, r.frames, spacing, r.pixelType, r.posture, r.headFeet, matrixFromArray(r.matrix));
            if (!slice) {
                restartLocked(output);
                return;
            }
            // Until its file is decoded a slice shows black: addSlice clears its pixels.
            slice->modality = r.modality;
            slice->geometryValid = r.geometryValid;
            slice->reserved = r.reserved4;
            slice->windowWidth = r.windowWidth;
            slice->windowCenter = r.windowCenter;
            slice->windowPresent = r.windowAbsent ? 0 : 1;
            slice->pixelSpacingPresent = r.spacingAbsent ? 0 : 1;
            copyRescale(*slice, r);
            copyUptakeInputs(*slice, r);
            slice->sex = static_cast<unsigned short>(sexCodeOfChar(r.sex));
            slice->patientWeight = r.patientWeight;
            slice->patientSize = r.patientSize;
            slice->scanOptions = fieldText(r.scanOptions, sizeof(r.scanOptions));
            std::copy(r.extraValues, r.extraValues + 5, slice->extraValues);
            slice->filePath = m_folder + cache.names[i];
            slice->pixelsLoaded = 0;
            m_sliceHashes.push_back(foldedHash32(slice->filePath));
        }
        studyID = fieldText(cache.records[0].studyID, sizeof(cache.records[0].studyID));
        seriesNumber = fieldText(cache.records[0].seriesNumber, sizeof(cache.records[0].seriesNumber));
    } else {
        const VolumeRecordData& v = cache.volume;
        // The patient and series texts, at the offsets they have in a series record.
        SeriesRecordData shared;
        std::memset(&shared, 0, sizeof(shared));
        std::memcpy(reinterpret_cast<unsigned char*>(&shared) + kSharedInfoOffset, v.sharedInfo, kSharedInfoSize);
        const int dims[3] = {v.columns, v.rows, v.sliceCount};
        const float spacing[3] = {v.spacingX, v.spacingY, v.sliceSpacing};
        if (!output->allocateVolume(dims, spacing, v.pixelType, v.posture, v.headFeet, matrixFromArray(v.matrix))) {
            restartLocked(output);
            return;
        }
        const std::vector<isSliceInfo*>& slices = output->getSlices();
        for (size_t k = 0; k < slices.size(); ++k) {
            isSliceInfo* slice = slices[k];
            const VolumeSliceRecordData& s = cache.slices[k];
            slice->windowWidth = v.windowWidth;
            slice->windowCenter = v.windowCenter;
            slice->windowPresent = s.windowAbsent ? 0 : 1;
            slice->pixelSpacingPresent = s.spacingAbsent ? 0 : 1;
            slice->reserved = v.reserved;
            slice->modality = v.modality;
            copyRescale(*slice, s);
            copyUptakeInputs(*slice, s);
            slice->sex = static_cast<unsigned short>(sexCodeOfChar(shared.sex));
            slice->patientWeight = shared.patientWeight;
            slice->patientSize = shared.patientSize;
            slice->filePath = m_folder + cache.names[k];
            slice->pixelsLoaded = 0;
            m_sliceHashes.push_back(foldedHash32(slice->filePath));
        }
        studyID = fieldText(shared.studyID, sizeof(shared.studyID));
        seriesNumber = fieldText(shared.seriesNumber, sizeof(shared.seriesNumber));
    }
    // Study ID and series number alone are shared by the series of different patients; the
    // scanned folder makes the key unique.
    output->setFileNames(studyID + "," + seriesNumber + "," + m_folder);
}

void isBinReader::execute(isImageData*, isImageData* output)
{
    if (!output || !m_valid)
        return;
    output->updateInformation();
    std::unique_lock<std::recursive_mutex> lock(m_outputLock);
    if (m_cachePath.empty() || output->getSliceCount() == 0)
        return;

    const std::vector<isSliceInfo*>& slices = output->getSlices();
    size_t expected = 0;
    for (const isSliceInfo* slice : slices)
        expected += sliceBytes(slice);
    if (expected < 1)
        return;

    auto* files = cocos2d::FileUtils::getInstance();
    const std::string raw = rawPathOf(m_cachePath);
    const long size = files->getFileSize(raw);
    if (size >= 0 && static_cast<size_t>(size) == expected) {
        if (readRawLocked(output, expected))
            return;
    } else if (size >= 0) {
        cocos2d::log("series cache \"%s\" holds %ld bytes, not %zu: removed, made again from the image files",
                     raw.c_str(), size, expected);
        removeCacheFile(raw);
    }
    lock.unlock();
    queueSlices(output);
}

size_t isBinReader::readRaw(int fd, unsigned char* buffer, size_t bytes, size_t offset)
{
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd, buffer + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool isBinReader::readRawLocked(isImageData* output, size_t expected)
{
    const std::string raw = rawPathOf(m_cachePath);
    // The check is read first: what it says is what the pixels must hash to.
    CheckedFile entry;
    {
        std::vector<CheckedFile> listed;
        const std::string name = raw.substr(raw.find_last_of('/') + 1);
        if (readCheck(checkPathOf(raw), listed))
            for (const CheckedFile& file : listed)
                if (file.name == name)
                    entry = file;
        if (entry.name.empty() || entry.size != expected) {
            cocos2d::log("series cache \"%s\" does not agree with its check (%s): removed, made again from the "
                         "image files",
                         raw.c_str(), checkResultText(entry.name.empty() ? CheckResult::Missing : CheckResult::Cut));
            removeCacheFile(raw);
            return false;
        }
    }
    const int fd = ::open(raw.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::vector<isSliceInfo*>& slices = output->getSlices();

    // The file in pieces of the check (kCheckPieceBytes), read and hashed by the worker pool side
    // by side: one thread alone copies out of the page cache at well under the memory bandwidth.
    // A piece may span several slices; each part lands in its slice.
    struct Part {
        unsigned char* target;
        size_t bytes;
        size_t offset;
    };
    std::vector<Part> parts;
    std::vector<size_t> firstPart;  // of each piece, and one past the last part
    auto addRange = [&](unsigned char* target, size_t bytes, size_t offset) {
        size_t done = 0;
        while (done < bytes) {
            const size_t at = offset + done;
            if (at % kCheckPieceBytes == 0)
                firstPart.push_back(parts.size());
            const size_t n = std::min(bytes - done, kCheckPieceBytes - at % kCheckPieceBytes);
            parts.push_back(Part{target + done, n, at});
            done += n;
        }
    };
    if (output->getSlicesShareVoxels()) {
        addRange(slices[0]->pixels, expected, 0);  // one voxel block, slice after slice
    } else {
        size_t offset = 0;
        for (isSliceInfo* slice : slices) {
            addRange(slice->pixels, sliceBytes(slice), offset);
            offset += sliceBytes(slice);
        }
    }
    const size_t pieceCount = firstPart.size();
    firstPart.push_back(parts.size());
    std::vector<uint64_t> pieceHashes(pieceCount, 0);
    std::atomic<bool> complete{true};
    isWorkerPool::shared().parallelFor(static_cast<int>(pieceCount), 1, [&](int begin, int end) {
        for (int p = begin; p < end && complete.load(std::memory_order_relaxed); ++p) {
            PieceHash hash;
            for (size_t i = firstPart[p]; i < firstPart[p + 1] && complete.load(std::memory_order_relaxed); ++i) {
                // Hashed in steps that are still in the processor's cache from the read.
                const Part& part = parts[i];
                for (size_t done = 0; done < part.bytes; done += kRawStep) {
                    const size_t n = std::min(kRawStep, part.bytes - done);
                    if (readRaw(fd, part.target + done, n, part.offset + done) != n) {
                        complete = false;
                        break;
                    }
                    hash.add(part.target + done, n);
                }
            }
            pieceHashes[static_cast<size_t>(p)] = hash.value();
        }
    });
    ::close(fd);
    const bool agrees = complete && combinePieceHashes(pieceHashes.data(), pieceCount, expected) == entry.hash;
    if (!agrees) {
        // What was read is not trusted: the slices are decoded from their files instead.
        for (isSliceInfo* slice : slices)
            std::memset(slice->pixels, 0, sliceBytes(slice));
        cocos2d::log("series cache \"%s\" does not agree with its check (%s): removed, made again from the image files",
                     raw.c_str(), checkResultText(complete ? CheckResult::Mismatch : CheckResult::Cut));
        removeCacheFile(raw);
        return false;
    }
    for (isSliceInfo* slice : slices)
        slice->pixelsLoaded = 1;
    m_loadedCount = static_cast<int>(slices.size());
    return true;
}

void isBinReader::queueSlices(isImageData* output)
{
    std::vector<loadingRequest*> requests;
    {
        std::lock_guard<std::recursive_mutex> lock(m_outputLock);
        const std::vector<isSliceInfo*>& slices = output->getSlices();
        m_loadedCount = 0;
        for (size_t k = 0; k < slices.size(); ++k) {
            const isSliceInfo* slice = slices[k];
            if (slice->pixelsLoaded) {
                ++m_loadedCount;
                continue;
            }
            auto* request = new loadingRequest();
            request->text = slice->filePath;
            request->id = m_sliceHashes[k];
            request->priority = static_cast<int>(k);
            request->expectedCount = slice->frames * slice->rows * slice->columns;
            request->owner = this;
            request->generation = m_generation;
            requests.push_back(request);
        }
    }
    std::lock_guard<std::mutex> lock(m_loaderLock);
    if (m_loader)
        m_loader->cancelLoading();
    if (requests.empty())
        return;
    if (!m_loader)
        m_loader = createLoader();
    for (loadingRequest* request : requests) {
        m_loader->addRequest(request);
        request->release();
    }
}

void isBinReader::prioritizeFile(cocos2d::Ref* requester, const std::string& filePath)
{
    const uint32_t hash = foldedHash32(filePath);
    bool loading = false;
    {
        std::lock_guard<std::mutex> lock(m_loaderLock);
        if (m_loader) {
            m_loader->reorderAround(hash);
            loading = true;
        }
    }
    std::lock_guard<std::recursive_mutex> lock(m_outputLock);
    if (isImageData* output = m_outputData) {
        const std::vector<isSliceInfo*>& slices = output->getSlices();
        for (size_t k = 0; k < m_sliceHashes.size() && k < slices.size(); ++k) {
            if (m_sliceHashes[k] != hash)
                continue;
            // Already in memory (it may have arrived since the requester looked): no later
            // 9109 would come for it, so the requester is told now.
            if (slices[k]->pixelsLoaded) {
                if (NSUI::NSNotificationCenter* c = centre())
                    c->postSliceLoadedNotification(this, hash, requester);
                return;
            }
            break;
        }
    }
    // Without a loader nothing would ever answer a waiting entry.
    if (!loading)
        return;
    for (const Waiting& entry : m_waiting)
        if (entry.owner == requester && entry.hash == hash)
            return;
    m_waiting.push_back(Waiting{requester, hash});
}

void isBinReader::onSliceLoaded(loadingRequest* request)
{
    unsigned char* pixels = request->pixels;
    request->pixels = nullptr;
    std::lock_guard<std::recursive_mutex> lock(m_outputLock);
    isImageData* output = m_outputData;
    if (!output || m_cachePath.empty() || !m_valid || !pixels || request->cancelled.load() ||
        request->generation != m_generation) {
        std::free(pixels);
        return;
    }
    const std::vector<isSliceInfo*>& slices = output->getSlices();
    isSliceInfo* slice = nullptr;
    for (size_t k = 0; k < m_sliceHashes.size() && k < slices.size(); ++k) {
        if (m_sliceHashes[k] == request->id) {
            slice = slices[k];
            break;
        }
    }
    const long long n = slice ? static_cast<long long>(slice->columns) * slice->rows * slice->frames : 0;
    const bool filled = slice && !slice->pixelsLoaded && n == request->expectedCount &&
                        convertPixels(pixels, request->pixelType, static_cast<size_t>(n), slice->pixelType,
                                      slice->rescaleSlope, slice->rescaleIntercept, slice->representation,
                                      slice->pixels);
    std::free(pixels);
    if (!filled)
        return;
    // Published only now that every pixel is written: readers on other threads look at the
    // flag before they touch the buffer.
    slice->markLoaded();
    ++m_loadedCount;

    const int total = static_cast<int>(slices.size());
    if (NSUI::NSNotificationCenter* c = centre()) {
        auto* data = NSUI::NSNotificationData::create();
        data->floatValue = static_cast<float>(m_loadedCount) / static_cast<float>(total);
        data->intValue2 = static_cast<int>(foldedHash32(output->getFileNames()));
        c->postNotification(this, NSUI::NOTIFY_LOAD_PROGRESS, data, nullptr, true);
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            if (it->hash == request->id) {
                c->postSliceLoadedNotification(this, request->id, it->owner);
                it = m_waiting.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (m_loadedCount == total && !hasRawFile())
        writeRawLocked(output);
}

void isBinReader::writeRawLocked(isImageData* output)
{
    const std::vector<isSliceInfo*>& slices = output->getSlices();
    for (const isSliceInfo* slice : slices)
        if (!slice->pixelsLoaded)
            return;
    // Written under another name and renamed when complete, so that no reader of the same
    // cache ever sees a partial file.
    const std::string raw = rawPathOf(m_cachePath);
    const std::string part = raw.substr(0, raw.size() - (sizeof(kRawExtension) - 1)) + ".part" + kRawExtension;
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    int why = written ? 0 : errno;
    ContentHash hash;
    auto put = [&](const unsigned char* pixels, size_t bytes) {
        hash.add(pixels, bytes);
        return redIRI::disk::writeAll(fd, pixels, bytes);
    };
    if (written && output->getSlicesShareVoxels()) {
        size_t total = 0;
        for (const isSliceInfo* slice : slices)
            total += sliceBytes(slice);
        written = put(slices[0]->pixels, total);
    } else if (written) {
        for (const isSliceInfo* slice : slices)
            if (!(written = put(slice->pixels, sliceBytes(slice))))
                break;
    }
    if (!written && !why)
        why = errno;
    if (fd >= 0 && ::close(fd) != 0 && written) {
        written = false;
        why = errno;
    }
    // The check before the file: whoever finds the ".raw" finds its check.
    const std::string name = raw.substr(raw.find_last_of('/') + 1);
    if (written && !writeCheck(checkPathOf(raw), {CheckedFile{name, hash.size(), hash.value()}})) {
        written = false;
        why = errno;
    }
    if (written && std::rename(part.c_str(), raw.c_str()) != 0) {
        written = false;
        why = errno;
    }
    if (!written) {
        // The pixels stay in memory for this opening; the next opening reads the files again.
        cocos2d::log("series cache: cannot write \"%s\": %s", raw.c_str(), redIRI::disk::reasonText(why).c_str());
        ::unlink(part.c_str());
        return;
    }
    if (NSUI::NSNotificationCenter* c = centre())
        c->postNotification(this, NSUI::NOTIFY_VOLUME_LOADED, nullptr, nullptr, false);
}

bool isBinReader::isLoadComplete()
{
    isImageData* output = m_outputData;
    if (!output || !m_valid)
        return false;
    output->updateInformation();
    std::lock_guard<std::recursive_mutex> lock(m_outputLock);
    return !m_cachePath.empty() && m_loadedCount >= output->getSliceCount();
}

bool isBinReader::hasRawFile() const
{
    if (m_cachePath.empty())
        return false;
    return cocos2d::FileUtils::getInstance()->isFileExist(rawPathOf(m_cachePath));
}

int isBinReader::getLoadedCount()
{
    std::lock_guard<std::recursive_mutex> lock(m_outputLock);
    return m_loadedCount;
}

std::vector<uint32_t> isBinReader::getQueuedIds()
{
    std::lock_guard<std::mutex> lock(m_loaderLock);
    return m_loader ? m_loader->getQueuedIds() : std::vector<uint32_t>();
}

} // namespace isImageSDK
