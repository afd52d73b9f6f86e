// The framework's log: one line per call, printf semantics, safe from any thread.
//
// Lines go to stderr with a wall-clock time stamp. A test can install a sink that receives each
// line exactly as formatted (no time stamp, no added newline) instead.
#pragma once

#include <functional>
#include <string>

#include "platform/CCPlatformMacros.h"

namespace cocos2d {

void log(const char* format, ...) CC_FORMAT_PRINTF(1, 2);

// [hook] Replaces stderr output with `sink` (an empty function restores stderr). The sink is
// called under the log's lock, one call at a time, from whichever thread logged; it must not log.
void setLogSink(std::function<void(const std::string&)> sink);

namespace detail {
[[noreturn]] void assertFailed(const char* cond, const char* msg, const char* file, int line);
}

} // namespace cocos2d
