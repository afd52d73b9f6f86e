#include "NSHttpClient.h"

#include "NSHttpRequest.h"
#include "NSHttpResponse.h"
#include "NSRunableThread.h"

#include "cocos2d.h"

#include <new>
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace NSUI {

namespace {

std::atomic<NSHttpClient*> gInstance{nullptr};

const char* const kUnsupportedKind = "unsupported request kind";
const char* const kExitAbort = "request abandoned at exit";
const char* const kDownloadWriteFailed = "failed to write the download file";
const char* const kSetupFailed = "failed to set up the transfer";

// The header lines of one answer, redirects included, are never longer than this.
const size_t kMaxHeaderBytes = size_t(1) << 20;

long long steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Where a transfer puts the bytes it receives (in memory, or in a download's file), and how many
// it may take.
struct Sink {
    std::vector<char>* memory = nullptr;
    NSHttpResponse* download = nullptr;
    size_t limit = 0;
    size_t received = 0;
    bool exceeded = false;
};

size_t writeToSink(char* data, size_t size, size_t count, void* target) {
    auto* sink = static_cast<Sink*>(target);
    const size_t bytes = size * count;
    if (bytes > sink->limit - sink->received) {
        sink->exceeded = true;
        return 0;  // ends the transfer as a write error
    }
    sink->received += bytes;
    if (sink->memory) {
        // No C++ exception may cross libcurl's C frames: a body that cannot grow fails the transfer.
        try {
            sink->memory->insert(sink->memory->end(), data, data + bytes);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return bytes;
    }
    FILE* file = sink->download ? sink->download->downloadFile : nullptr;
    if (!file)
        return 0;
    return std::fwrite(data, 1, bytes, file);
}

// Called by libcurl about once a second even while the connection is silent; non-zero aborts.
int transferProgress(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const NSHttpClient*>(client)->exitGraceExpired() ? 1 : 0;
}

struct EasyHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};

// Builds the multipart body of a FORM request on the transfer's own handle.
curl_mime* buildForm(CURL* handle, const std::vector<NSHttpRequest::FormPart>& parts) {
    curl_mime* mime = curl_mime_init(handle);
    if (!mime)
        return nullptr;
    for (const NSHttpRequest::FormPart& part : parts) {
        curl_mimepart* p = curl_mime_addpart(mime);
        if (!p || curl_mime_name(p, part.name.c_str()) != CURLE_OK) {
            curl_mime_free(mime);
            return nullptr;
        }
        CURLcode rc;
        if (part.isFile) {
            rc = curl_mime_filedata(p, part.filePath.c_str());
            if (rc == CURLE_OK && !part.contentType.empty())
                rc = curl_mime_type(p, part.contentType.c_str());
        } else {
            rc = curl_mime_data(p, part.contents.data(), part.contents.size());
        }
        if (rc != CURLE_OK) {
            curl_mime_free(mime);
            return nullptr;
        }
    }
    return mime;
}

}  // namespace

NSHttpClient* NSHttpClient::getInstance() {
    NSHttpClient* client = gInstance.load();
    if (!client) {
        client = new NSHttpClient();
        gInstance.store(client);
    }
    return client;
}

bool NSHttpClient::hasInstance() {
    return gInstance.load() != nullptr;
}

void NSHttpClient::destroyInstance() {
    delete gInstance.load();
}

NSHttpClient::NSHttpClient()
    : connectTimeoutMs(Timeouts().connectMs),
      transferTimeoutMs(Timeouts().transferMs),
      exitGraceMs(Timeouts().exitGraceMs),
      sentinel(new NSHttpRequest()) {}

NSHttpClient::~NSHttpClient() {
    if (workerStarted) {
        exitDeadlineNs.store(steadyNowNs() + exitGraceMs.load() * 1000000LL);
        exiting.store(true);
        {
            std::lock_guard<std::mutex> lock(requestLock);
            sentinel->retain();  // the queue's reference
            requestQueue.push_back(sentinel);
        }
        wakeUp.notify_one();
        worker.join();
        // Dispatches the worker queued that have not run yet must never reach this deleted client.
        scheduler->removeFunctionInCocosThread(this);
        scheduler->release();
    } else {
        sentinel->release();
    }
    NSHttpClient* self = this;
    gInstance.compare_exchange_strong(self, nullptr);
}

void NSHttpClient::setTimeouts(const Timeouts& timeouts) {
    connectTimeoutMs.store(timeouts.connectMs);
    transferTimeoutMs.store(timeouts.transferMs);
    exitGraceMs.store(timeouts.exitGraceMs);
}

NSHttpClient::Timeouts NSHttpClient::getTimeouts() const {
    return Timeouts{connectTimeoutMs.load(), transferTimeoutMs.load(), exitGraceMs.load()};
}

bool NSHttpClient::startWorker() {
    if (workerStarted)
        return true;
    // libcurl's global state is set up once per process, on the main thread, before any transfer.
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_ALL); });
    scheduler = cocos2d::Director::getInstance()->getScheduler();
    // Kept until the worker is gone: the director may be replaced (tests) or gone (exit) by then.
    scheduler->retain();
    workerStarted = true;
    // A client that outlives everyone else is destroyed by the exit handler, which the sentinel
    // makes the worker leave.
    static std::once_flag exitStop;
    std::call_once(exitStop, [] { NSRunableThread::addExitStop(&NSHttpClient::destroyInstance); });
    // Ended by the destructor: it queues the sentinel, which makes the worker leave, and joins it.
    worker = std::thread(&NSHttpClient::networkThread, this);
    return true;
}

void NSHttpClient::send(NSHttpRequest* request) {
    if (!startWorker() || !request)
        return;
    request->retain();  // the extra reference, dropped after the callback
    {
        std::lock_guard<std::mutex> lock(requestLock);
        request->retain();  // the queue's reference
        requestQueue.push_back(request);
    }
    wakeUp.notify_one();
}

void NSHttpClient::networkThread() {
    char errorBuffer[CURL_ERROR_SIZE];
    for (;;) {
        NSHttpRequest* request;
        {
            std::unique_lock<std::mutex> lock(requestLock);
            wakeUp.wait(lock, [this] { return !requestQueue.empty(); });
            request = requestQueue.front();
            requestQueue.pop_front();
            currentRequest = request;
        }
        if (request == sentinel) {
            request->release();  // the queue's reference
            break;
        }
        request->release();  // the queue's; the extra reference from send keeps it alive

        auto* response = new NSHttpResponse(request);
        processRequest(response, errorBuffer);

        bool queued = false;
        {
            std::lock_guard<std::mutex> lock(responseLock);
            if (!request->callback && !request->target) {
                // Nobody waits for this answer (or its owner cancelled while it ran).
                response->release();
                request->release();
            } else {
                responseQueue.push_back(response);
                queued = true;
            }
            currentRequest = nullptr;
        }
        if (queued && gInstance.load() == this)
            scheduler->performFunctionInCocosThread([this] { dispatchResponse(); }, this);
    }

    sentinel->release();
    sentinel = nullptr;
    releaseQueuesOnExit();
    // The destructor joins this thread: it may now finish.
}

void NSHttpClient::releaseQueuesOnExit() {
    {
        std::lock_guard<std::mutex> lock(requestLock);
        currentRequest = nullptr;
        for (NSHttpRequest* request : requestQueue) {
            request->release();  // the queue's
            request->release();  // the extra one: it will never be answered
        }
        requestQueue.clear();
    }
    std::lock_guard<std::mutex> lock(responseLock);
    for (NSHttpResponse* response : responseQueue) {
        NSHttpRequest* request = response->getRequest();
        response->release();
        request->release();  // the extra one: the answer will never be dispatched
    }
    responseQueue.clear();
}

bool NSHttpClient::exitGraceExpired() const {
    return exiting.load() && steadyNowNs() > exitDeadlineNs.load();
}

void NSHttpClient::processRequest(NSHttpResponse* response, char* errorBuffer) {
    // Cleared first, so a failure found before libcurl writes it never shows an earlier transfer's text.
    std::memset(errorBuffer, 0, CURL_ERROR_SIZE);
    NSHttpRequest* request = response->getRequest();
    long status = -1;
    bool ok = false;

    const int kind = request->kind;
    if (kind < NSHttpRequest::GET || kind > NSHttpRequest::DOWNLOAD) {
        std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", kUnsupportedKind);
    } else if (exitGraceExpired()) {
        std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", kExitAbort);
    } else if (kind == NSHttpRequest::DOWNLOAD && !response->downloadFile) {
        // Nowhere to put the answer: not worth asking for it.
        std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", kDownloadWriteFailed);
    } else {
        Sink body, header;
        if (kind == NSHttpRequest::DOWNLOAD)
            body.download = response;
        else
            body.memory = &response->responseData;
        body.limit = request->maxResponseBytes ? request->maxResponseBytes
                     : kind == NSHttpRequest::DOWNLOAD ? NSHttpRequest::kDefaultMaxDownloadBytes
                                                       : NSHttpRequest::kDefaultMaxBodyBytes;
        header.memory = &response->responseHeader;
        header.limit = kMaxHeaderBytes;

        std::unique_ptr<CURL, EasyHandleDeleter> handle(curl_easy_init());
        std::unique_ptr<curl_slist, HeaderListDeleter> headers;
        std::unique_ptr<curl_mime, MimeDeleter> form;
        CURL* h = handle.get();
        bool configured = h != nullptr;
        auto set = [&](CURLoption option, auto value) {
            if (configured && curl_easy_setopt(h, option, value) != CURLE_OK)
                configured = false;
        };

        // Common options. Server certificates are not verified and no cookie file is used.
        set(CURLOPT_ERRORBUFFER, errorBuffer);
        set(CURLOPT_TIMEOUT_MS, transferTimeoutMs.load());
        set(CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs.load());
        if (configured) {
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        }
        // Lets the destructor cut a transfer short once the exit grace time has passed.
        set(CURLOPT_XFERINFOFUNCTION, &transferProgress);
        set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
        set(CURLOPT_NOPROGRESS, 0L);

        // Per-request options.
        for (const std::string& line : request->headers) {
            curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
            if (!grown) {
                configured = false;
                break;
            }
            headers.release();
            headers.reset(grown);
        }
        if (headers)
            set(CURLOPT_HTTPHEADER, headers.get());
        set(CURLOPT_URL, request->url.c_str());
        // An answer announcing a longer body is refused before it is read; one that does not say is
        // cut off once it passes the limit.
        set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(body.limit));
        set(CURLOPT_WRITEFUNCTION, &writeToSink);
        set(CURLOPT_WRITEDATA, static_cast<void*>(&body));
        set(CURLOPT_HEADERFUNCTION, &writeToSink);
        set(CURLOPT_HEADERDATA, static_cast<void*>(&header));

        // An empty body is sent as "" with size 0: a null pointer would make libcurl read standard input.
        const char* sent = request->requestData.empty() ? "" : request->requestData.data();
        const curl_off_t bodySize = static_cast<curl_off_t>(request->requestData.size());
        switch (kind) {
        case NSHttpRequest::GET:
            set(CURLOPT_FOLLOWLOCATION, 1L);
            break;
        case NSHttpRequest::POST:
        case NSHttpRequest::DOWNLOAD:
            set(CURLOPT_POST, 1L);
            set(CURLOPT_FOLLOWLOCATION, 1L);
            set(CURLOPT_POSTFIELDS, sent);
            set(CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
            break;
        case NSHttpRequest::PUT:
            set(CURLOPT_CUSTOMREQUEST, "PUT");
            set(CURLOPT_POSTFIELDS, sent);
            set(CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
            break;
        case NSHttpRequest::DELETE:
            set(CURLOPT_CUSTOMREQUEST, "DELETE");
            set(CURLOPT_FOLLOWLOCATION, 1L);
            break;
        case NSHttpRequest::FORM:
            if (configured) {
                form.reset(buildForm(h, request->form));
                configured = form != nullptr;
            }
            set(CURLOPT_MIMEPOST, form.get());
            break;
        }

        if (!configured && errorBuffer[0] == '\0')
            std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", kSetupFailed);
        if (configured) {
            const CURLcode rc = curl_easy_perform(h);
            if (body.exceeded || rc == CURLE_FILESIZE_EXCEEDED) {
                // Nothing of a cut-off body is handed on.
                response->responseData.clear();
                response->responseData.shrink_to_fit();
                std::snprintf(errorBuffer, CURL_ERROR_SIZE, "response body larger than %zu bytes", body.limit);
            } else if (header.exceeded) {
                std::snprintf(errorBuffer, CURL_ERROR_SIZE, "response headers larger than %zu bytes", header.limit);
            } else if (rc == CURLE_OK) {
                long code = 0;
                if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK) {
                    status = code;
                    ok = code >= 200 && code <= 299;
                }
            } else if (errorBuffer[0] == '\0') {
                std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", curl_easy_strerror(rc));
            }
        }
    }

    // A download replaces its file only when the answer is 200 and every byte reached the disk; any
    // other outcome (an error page, a timeout, a cut-off or a failed write) leaves the old file alone.
    if (kind == NSHttpRequest::DOWNLOAD) {
        const bool wanted = ok && status == 200;
        if (!response->finishDownload(wanted) && wanted) {
            ok = false;
            std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", kDownloadWriteFailed);
        } else if (ok && !wanted) {
            ok = false;
            std::snprintf(errorBuffer, CURL_ERROR_SIZE, "unexpected status %ld for a download", status);
        }
    }

    response->responseCode = static_cast<int>(status);
    response->succeeded = ok;
    if (!ok)
        response->errorText.assign(errorBuffer, strnlen(errorBuffer, CURL_ERROR_SIZE));
}

void NSHttpClient::dispatchResponse() {
    NSHttpResponse* response = nullptr;
    {
        std::lock_guard<std::mutex> lock(responseLock);
        if (responseQueue.empty())
            return;
        response = responseQueue.front();
        responseQueue.pop_front();
    }
    response->closeDownloadFile();
    NSHttpRequest* request = response->getRequest();
    if (request->target && request->callback)
        request->callback(this, response);
    response->release();
    request->release();  // the extra reference taken by send
}

void NSHttpClient::cancelRequestsForTarget(cocos2d::Ref* target) {
    if (!target || !workerStarted)
        return;
    std::lock_guard<std::mutex> requests(requestLock);
    std::lock_guard<std::mutex> responses(responseLock);

    std::deque<NSHttpRequest*> keptRequests;
    for (NSHttpRequest* request : requestQueue) {
        if (request->target != target) {
            keptRequests.push_back(request);
            continue;
        }
        cocos2d::log("clear");
        request->release();  // the queue's
        request->release();  // the extra one
    }
    requestQueue.swap(keptRequests);

    std::deque<NSHttpResponse*> keptResponses;
    for (NSHttpResponse* response : responseQueue) {
        NSHttpRequest* request = response->getRequest();
        if (request->target != target) {
            keptResponses.push_back(response);
            continue;
        }
        response->closeDownloadFile();
        response->release();
        request->release();  // the extra one
    }
    responseQueue.swap(keptResponses);

    if (currentRequest && currentRequest->target == target) {
        currentRequest->target = nullptr;
        currentRequest->callback = nullptr;
    }
}

}  // namespace NSUI
