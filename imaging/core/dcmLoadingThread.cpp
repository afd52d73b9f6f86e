#include "dcmLoadingThread.h"

#include "isBinReader.h"
#include "isDcmRules.h"
#include "isDcmTags.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace isImageSDK {

loadingRequest::~loadingRequest()
{
    std::free(pixels);
}

bool dcmLoadingThread::addRequest(NSUI::NSThreadRequest* request)
{
    auto* loading = dynamic_cast<loadingRequest*>(request);
    if (!loading)
        return false;
    std::lock_guard<std::mutex> guard(m_orderLock);
    if (!NSThread::addRequest(request))
        return false;
    m_started = true;
    m_order.push_back(Queued{request, request->id, loading->priority});
    return true;
}

void dcmLoadingThread::cancelLoading()
{
    std::lock_guard<std::mutex> guard(m_orderLock);
    m_order.clear();
    cancelAllRequests();
}

void dcmLoadingThread::reorderAround(uint32_t id)
{
    std::lock_guard<std::mutex> guard(m_orderLock);
    if (!m_started)
        return;
    std::vector<Queued> sorted = m_order;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Queued& a, const Queued& b) { return a.priority < b.priority; });
    auto target = std::find_if(sorted.begin(), sorted.end(), [id](const Queued& q) { return q.id == id; });

    std::vector<Queued> before(sorted.begin(), target);
    std::reverse(before.begin(), before.end());  // nearest first
    std::vector<Queued> after;
    if (target != sorted.end())
        after.assign(target + 1, sorted.end());

    std::vector<Queued> order;
    order.reserve(sorted.size());
    if (target != sorted.end())
        order.push_back(*target);
    for (size_t i = 0; i < before.size() || i < after.size(); ++i) {
        if (i < before.size())
            order.push_back(before[i]);
        if (i < after.size())
            order.push_back(after[i]);
    }

    const bool unchanged = std::equal(order.begin(), order.end(), m_order.begin(), m_order.end(),
                                      [](const Queued& a, const Queued& b) { return a.request == b.request; });
    if (unchanged)
        return;
    // Moving each request to the front, last one first, leaves the base queue in this order.
    // A request the worker has already taken is simply not found.
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        prioritizeRequest(it->id);
    m_order = std::move(order);
}

std::vector<uint32_t> dcmLoadingThread::getQueuedIds()
{
    std::lock_guard<std::mutex> guard(m_orderLock);
    std::vector<uint32_t> ids;
    ids.reserve(m_order.size());
    for (const Queued& q : m_order)
        ids.push_back(q.id);
    return ids;
}

void dcmLoadingThread::process(NSUI::NSThreadRequest* request)
{
    {
        std::lock_guard<std::mutex> guard(m_orderLock);
        auto it = std::find_if(m_order.begin(), m_order.end(),
                               [request](const Queued& q) { return q.request == request; });
        if (it != m_order.end())
            m_order.erase(it);
    }
    decode(static_cast<loadingRequest*>(request));
}

void dcmLoadingThread::decode(loadingRequest* loading)
{
    if (loading->cancelled.load() || !loading->owner)
        return;

    redIRI::dcmReader::PixelType type = redIRI::dcmReader::PIXEL_GREY8;
    {
        // The reader, and the decoded buffer it owns, go before the owner converts the copy into
        // the slice: an image is held twice at most while it loads, not three times.
        redIRI::dcmReader reader;
        reader.setLanguage(decoderLanguage());
        if (!reader.setFile(loading->text.c_str()))
            return;
        int count = 0;
        const char* samples = reader.readDicomPixelPointer(type, count);
        const int elementBytes = libraryElementBytes(type);
        if (!samples || count < 1 || count != loading->expectedCount || elementBytes == 0)
            return;
        const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(elementBytes);
        loading->pixels = static_cast<unsigned char*>(std::malloc(bytes));
        if (!loading->pixels)
            return;
        std::memcpy(loading->pixels, samples, bytes);
    }
    loading->pixelType = type;
    loading->owner->onSliceLoaded(loading);
}

} // namespace isImageSDK
