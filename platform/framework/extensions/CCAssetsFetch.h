// Blocking HTTP GETs for the hot-update worker, over libcurl, with bounds on everything: the
// connection set-up, a stalled transfer, the whole transfer and the size of the body. A transfer
// also stops as soon as its cancel flag is set. Used only by AssetsManagerEx's worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace cocos2d {
namespace extension {
namespace detail {

struct FetchLimits {
    long connectMs = 5000;       // connection set-up
    long stallMs = 15000;        // no byte received for this long fails the transfer
    long totalMs = 600000;       // the whole transfer
    int64_t maxBytes = 4 << 20;  // a longer body fails the transfer
};

struct FetchResult {
    bool ok = false;     // status 200 and the whole body received within the limits
    long status = 0;     // the HTTP status, 0 when none was received
    std::string error;   // why it failed
};

// The body into `body` (cleared first).
FetchResult fetchToString(const std::string& url, std::string& body, const FetchLimits& limits,
                          const std::atomic<bool>& cancel);
// The body into the file at `path` (created or truncated); a failed transfer removes the file.
FetchResult fetchToFile(const std::string& url, const std::string& path, const FetchLimits& limits,
                        const std::atomic<bool>& cancel);

} // namespace detail
} // namespace extension
} // namespace cocos2d
