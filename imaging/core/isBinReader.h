// isBinReader: the series loader, a series cache (isSeriesCache.h) read into an image.
//
// The pipeline's information update (readBuffer) builds every slice record from the ".prebin"
// at once, with zeroed pixels and pixelsLoaded 0. The data update (execute) then fills the
// pixels: in one read from the ".raw" when it has exactly the expected size and agrees with its
// check (hashed piece by piece as it is read; isSeriesCache.h), otherwise, the ".raw" removed,
// slice by slice on the slice-loading thread (dcmLoadingThread), which decodes the DICOM files
// outward from the slice an image actor asked for (prioritizeFile). Every decoded slice is
// announced with 9110 (progress, urgent, intValue2 the folded hash of the series key, floatValue
// the fraction loaded) and to the actors waiting for it with 9109 (urgent, context the actor,
// intValue2 the folded hash of the slice's file path). When the last slice is in, the ".raw" is
// written for the next opening, its check first, and 9112 is posted (normal, context 0).
//
// The series key (getFileNames of the output) is "studyID,seriesNumber,folder": unique per
// scanned folder, it keys measurements and progress.
//
// Threads: the pipeline may run on any one thread at a time (the viewer screen runs the first
// update on its loading thread); prioritizeFile runs on the main thread; onSliceLoaded runs on
// the loader. outputLock guards the output's slice list and buffers, the waiting list and the
// load count against the loader. A restart (setFile, readBuffer) cancels the queued requests and
// raises a generation number, so a slice decoded for an earlier start is never counted or
// stored. clear() and the destructor wait until the loader thread is gone.
#pragma once

#include "NSThreadSafeDestroy.h"
#include "isImageFilter.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace isImageSDK {

class dcmLoadingThread;
class loadingRequest;

class isBinReader : public isImageFilter, public NSUI::NSThreadSafeDestroy {
public:
    static isBinReader* create();

    isBinReader() = default;
    ~isBinReader() override;

    // Empties the waiting list, stops the loader (waiting for its thread to end), then the base
    // clear: the output is released.
    void clear() override;
    // Filter fields reset, no paths, not valid, no loader.
    bool init() override;
    // readBuffer.
    void updateInformation() override;
    // Asks for the slice of the file to be decoded next; the requester is told with 9109 when
    // it is in memory (at once when it already is).
    void prioritizeFile(cocos2d::Ref* requester, const std::string& filePath) override;
    // Fills the pixels from the ".raw", or queues the slices on the loader.
    void execute(isImageData* input, isImageData* output) override;
    bool isReader() override { return true; }
    // The ".prebin" header carries the magic text.
    virtual bool isValid() const { return m_valid.load(); }

    // Points the reader at a cache; returns true, also when the file cannot be opened (isValid
    // tells), except for an empty path. The same path again changes nothing.
    bool setFile(const std::string& folder, const std::string& cachePath);
    // Builds the slice records from the ".prebin". A damaged file, or one that does not agree
    // with its check, is removed with the ".raw" (the next opening scans the folder again) and
    // leaves the output empty.
    void readBuffer();
    // All slices of the output have their pixels.
    bool isLoadComplete();
    // The ".raw" beside the ".prebin" exists.
    bool hasRawFile() const;

    const std::string& getCachePath() const { return m_cachePath; }
    const std::string& getFolder() const { return m_folder; }
    int getLoadedCount();
    // The loader's queue, ids in decoding order (empty without a loader).
    std::vector<uint32_t> getQueuedIds();

    // Loader thread: takes the decoded pixels of one request into their slice.
    void onSliceLoaded(loadingRequest* request);

protected:
    // The loader made on first need.
    virtual dcmLoadingThread* createLoader();
    // Reads up to `bytes` bytes of the ".raw" from `offset` into the buffer; returns the bytes
    // read. Called from several threads at once for different parts of the file.
    virtual size_t readRaw(int fd, unsigned char* buffer, size_t bytes, size_t offset);

private:
    struct Waiting {
        cocos2d::Ref* owner;
        uint32_t hash;
    };

    // Under outputLock: the output emptied and every earlier request disowned.
    void restartLocked(isImageData* output);
    void cancelLoader();
    // Under outputLock, every slice loaded: writes the ".raw" next to the cache.
    void writeRawLocked(isImageData* output);
    bool readRawLocked(isImageData* output, size_t expected);
    void queueSlices(isImageData* output);

    std::string m_cachePath;
    std::string m_folder;
    std::atomic<bool> m_valid{false};

    std::recursive_mutex m_outputLock;
    std::vector<Waiting> m_waiting;       // guarded by m_outputLock
    std::vector<uint32_t> m_sliceHashes;  // folded hash of each slice's file path, in list order
    int m_loadedCount = 0;
    unsigned int m_generation = 0;

    // Guards the loader pointer (created on the pipeline's thread, used from the main thread).
    std::mutex m_loaderLock;
    dcmLoadingThread* m_loader = nullptr;
};

} // namespace isImageSDK
