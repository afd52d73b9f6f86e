#include "base/CCConsole.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/time.h>
#include <vector>

#include "outsideText.h"

namespace cocos2d {

namespace {

std::mutex& logMutex()
{
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& logSink()
{
    static std::function<void(const std::string&)> sink;
    return sink;
}

std::string formatV(const char* format, va_list args)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) {
        return std::string();
    }
    if (static_cast<size_t>(n) < sizeof small) {
        return std::string(small, static_cast<size_t>(n));
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<size_t>(n));
}

} // namespace

void log(const char* format, ...)
{
    if (!format) {
        return;
    }
    va_list args;
    va_start(args, format);
    // Lines name files and carry what peers sent: cleaned here, so that no caller can forget and
    // none of them forges a line, drives the terminal or writes a name reversed.
    const std::string line = cleanOutsideText(formatV(format, args), kMaxLogLineBytes);
    va_end(args);

    std::lock_guard<std::mutex> lock(logMutex());
    if (logSink()) {
        logSink()(line);
        return;
    }
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    std::fprintf(stderr, "[%02d:%02d:%02d.%03d] %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                 static_cast<int>(tv.tv_usec / 1000), line.c_str());
}

void setLogSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard<std::mutex> lock(logMutex());
    logSink() = std::move(sink);
}

namespace detail {
void assertFailed(const char* cond, const char* msg, const char* file, int line)
{
    std::fprintf(stderr, "Assertion failed: %s (%s) at %s:%d\n", cond, msg ? msg : "", file, line);
    std::abort();
}
} // namespace detail

} // namespace cocos2d
