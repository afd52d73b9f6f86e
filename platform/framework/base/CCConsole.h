// The framework's log: one line per call, printf semantics, safe from any thread.
//
// Each line is written as one clean line (cleanOutsideText: no control characters, valid UTF-8, no
// characters that reorder or hide text) of at most kMaxLogLineBytes bytes. Lines go to stderr with
// a wall-clock time stamp. A test can install a sink that receives each line as cleaned (no time
// stamp, no added newline) instead.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/CCPlatformMacros.h"

namespace cocos2d {

// The longest line the log writes, in bytes (a longer one is cut and ends in "…").
constexpr size_t kMaxLogLineBytes = 16384;

void log(const char* format, ...) CC_FORMAT_PRINTF(1, 2);

// [hook] Replaces stderr output with `sink` (an empty function restores stderr). The sink is
// called under the log's lock, one call at a time, from whichever thread logged; it must not log.
void setLogSink(std::function<void(const std::string&)> sink);

namespace detail {
[[noreturn]] void assertFailed(const char* cond, const char* msg, const char* file, int line);
}

} // namespace cocos2d
