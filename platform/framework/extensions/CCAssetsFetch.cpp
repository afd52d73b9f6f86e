#include "extensions/CCAssetsFetch.h"

#include <new>
#include <curl/curl.h>

#include <cstdio>
#include <mutex>

namespace cocos2d {
namespace extension {
namespace detail {

namespace {

struct Sink {
    std::string* body = nullptr;
    FILE* file = nullptr;
    int64_t received = 0;
    int64_t maxBytes = 0;
    bool tooLong = false;
    bool writeFailed = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    if (sink->received + int64_t(bytes) > sink->maxBytes) {
        sink->tooLong = true;
        return 0;  // a short count makes libcurl fail the transfer
    }
    sink->received += int64_t(bytes);
    if (sink->body) {
        // No C++ exception may cross libcurl's C frames: a body that cannot grow fails the transfer.
        try {
            sink->body->append(data, bytes);
        } catch (const std::bad_alloc&) {
            sink->writeFailed = true;
            return 0;
        }
        return bytes;
    }
    if (std::fwrite(data, 1, bytes, sink->file) != bytes) {
        sink->writeFailed = true;
        return 0;
    }
    return bytes;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Sink*>(user)->cancel->load() ? 1 : 0;
}

FetchResult perform(const std::string& url, Sink& sink, const FetchLimits& limits)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    FetchResult result;
    if (sink.cancel->load()) {
        result.error = "cancelled";
        return result;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = "no transfer handle";
        return result;
    }
    char errorText[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalMs);
    // Fewer than one byte a second over the stall time ends the transfer.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (limits.stallMs + 999) / 1000);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(sink.maxBytes));

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_cleanup(curl);

    if (sink.cancel->load())
        result.error = "cancelled";
    else if (sink.tooLong || code == CURLE_FILESIZE_EXCEEDED)
        result.error = "the body is larger than " + std::to_string(sink.maxBytes) + " bytes";
    else if (sink.writeFailed)
        result.error = "the file cannot be written";
    else if (code != CURLE_OK)
        result.error = errorText[0] ? errorText : curl_easy_strerror(code);
    else if (result.status != 200)
        result.error = "HTTP status " + std::to_string(result.status);
    else
        result.ok = true;
    return result;
}

} // namespace

FetchResult fetchToString(const std::string& url, std::string& body, const FetchLimits& limits,
                          const std::atomic<bool>& cancel)
{
    body.clear();
    Sink sink;
    sink.body = &body;
    sink.maxBytes = limits.maxBytes;
    sink.cancel = &cancel;
    return perform(url, sink, limits);
}

FetchResult fetchToFile(const std::string& url, const std::string& path, const FetchLimits& limits,
                        const std::atomic<bool>& cancel)
{
    Sink sink;
    sink.file = std::fopen(path.c_str(), "wb");
    sink.maxBytes = limits.maxBytes;
    sink.cancel = &cancel;
    if (!sink.file) {
        FetchResult result;
        result.error = "cannot create " + path;
        return result;
    }
    FetchResult result = perform(url, sink, limits);
    if (std::fclose(sink.file) != 0 && result.ok) {
        result.ok = false;
        result.error = "the file cannot be written";
    }
    if (!result.ok)
        std::remove(path.c_str());
    return result;
}

} // namespace detail
} // namespace extension
} // namespace cocos2d
