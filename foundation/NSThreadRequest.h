// One unit of work for an NSUI::NSThread. Subclasses add their own fields; the base carries what
// the thread and the common owners need.
#pragma once

#include "NSObject.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

namespace NSUI
{

class NSThreadRequest : public NSObject
{
public:
    NSThreadRequest() = default;

    // Argument text (a key or a path).
    std::string text;
    // Untyped data or result pointer; the base neither owns nor frees it.
    void* data = nullptr;
    // Set to 1 by NSThread::cancelAllRequests on the request being processed, so that a long
    // process() can stop early; read by the worker while the main thread may write it.
    std::atomic<uint32_t> cancelled{0};
    // Matched by NSThread::prioritizeRequest. The creation time in seconds until the owner puts its
    // own identifier here.
    uint32_t id = static_cast<uint32_t>(std::time(nullptr));
};

} // namespace NSUI
