// dcmLoadingThread: the worker that decodes the slices of a series for its isBinReader, one
// loadingRequest per slice file, and hands each decoded slice to the reader on the worker.
//
// The queue is ordered by the reader: reorderAround puts the slice the user looks at first and
// then its neighbours, alternately before and after it, so loading spreads outward from it.
// The order is kept in a list of its own beside the base queue (the base thread only moves one
// request to the front at a time), always holding the queued requests in processing order.
//
// Life: created by the reader on first need, started by the first request, stopped and
// destroyed through the reader's NSThreadSafeDestroy::safeDestroy (never deleted by hand).
// Lock order: this thread's order lock, then the base thread's locks; the reader's output lock
// is never held while the order lock is taken, except by the reader when it queues requests.
#pragma once

#include "NSThread.h"
#include "dcmLib.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace isImageSDK {

class isBinReader;

// One slice file to decode.
class loadingRequest : public NSUI::NSThreadRequest {
public:
    loadingRequest() = default;
    ~loadingRequest() override;

    // text: the slice's file path; id: the folded hash of that path.
    // Decoded elements (malloc), or null; taken over by the reader when it fills the slice.
    unsigned char* pixels = nullptr;
    // The slice's position in the image's list, from 0.
    int priority = 0;
    // frames x rows x columns: a decoded file with another element count is refused.
    int expectedCount = 0;
    // The decoder's element format (LibraryPixelType) of pixels.
    int pixelType = -1;
    isBinReader* owner = nullptr;
    // The owner's load generation when queued; a restarted owner ignores older requests.
    unsigned int generation = 0;
};

class dcmLoadingThread : public NSUI::NSThread {
public:
    dcmLoadingThread() = default;

    // Queues a loadingRequest at the end of the order.
    bool addRequest(NSUI::NSThreadRequest* request) override;
    // Drops every queued request and marks the one being decoded cancelled.
    void cancelLoading();
    // Orders the queued requests by priority, then puts the one with this id first, followed
    // alternately by the nearest request before it and the nearest after it. Without such a
    // request the queue runs from the highest priority down. Nothing before the first request.
    void reorderAround(uint32_t id);
    // The ids of the queued requests in the order they will be decoded.
    std::vector<uint32_t> getQueuedIds();

protected:
    ~dcmLoadingThread() override = default;
    // Takes the request out of the order, then decodes it.
    void process(NSUI::NSThreadRequest* request) override;
    // Decodes the file and hands the pixels to the owner (isBinReader::onSliceLoaded).
    virtual void decode(loadingRequest* request);

private:
    struct Queued {
        NSUI::NSThreadRequest* request;  // not retained; identity only
        uint32_t id;
        int priority;
    };

    std::mutex m_orderLock;
    std::vector<Queued> m_order;
    bool m_started = false;
};

} // namespace isImageSDK
