// One HTTP exchange as a caller describes it to NSUI::NSHttpClient: what to send, where, and to whom
// the answer goes.
//
// The fields are filled directly by the sender (normally the REST layer, NSUI::UIHttpPhisical) on the
// main thread before NSHttpClient::send, and are then read by the client's worker. After send, only the
// client touches the request: it keeps its own references until the answer has been dispatched.
#pragma once

#include "cocos2d.h"

#include <functional>
#include <string>
#include <vector>

namespace NSUI {

class NSHttpClient;
class NSHttpResponse;

class NSHttpRequest : public cocos2d::Ref {
public:
    // Request kinds, the values stored in `kind`.
    enum Kind : int {
        GET = 0,       // plain GET, redirects followed
        POST = 1,      // POST of requestData, redirects followed
        PUT = 2,       // method "PUT" carrying requestData, redirects not followed
        DELETE = 3,    // method "DELETE", no body, redirects followed
        FORM = 4,      // multipart form POST of `form`, redirects not followed
        DOWNLOAD = 5,  // POST of requestData (redirects followed), answer body written to downloadPath
        NONE = 6       // after construction; every sender sets one of the above
    };

    // One part of a multipart form: a file part (its content read from filePath when the transfer
    // runs) or a text part (its content in `contents`).
    struct FormPart {
        std::string name;
        bool isFile = false;
        std::string filePath;
        std::string contentType;  // file parts only; empty lets the transfer choose
        std::string contents;     // text parts only
    };

    // Runs on the main thread with the client and the answer, and only while `target` is set.
    using Callback = std::function<void(NSHttpClient*, NSHttpResponse*)>;

    NSHttpRequest() = default;
    ~NSHttpRequest() override = default;
    NSHttpRequest(const NSHttpRequest&) = delete;
    NSHttpRequest& operator=(const NSHttpRequest&) = delete;

    // A copy of the header lines.
    std::vector<std::string> getHeaders() const { return headers; }

    std::vector<FormPart> form;         // the parts of a FORM request, in order
    int kind = NONE;
    std::string url;                    // the full address
    std::vector<char> requestData;      // the body; sent as is, without a terminator
    std::string tag;                    // chosen by the caller, comes back with the answer
    cocos2d::Ref* target = nullptr;     // not retained; the object the answer is meant for
    Callback callback;
    std::vector<std::string> headers;   // whole lines, e.g. "Content-Type: application/json; charset=utf-8"
    std::string downloadPath;           // the file a DOWNLOAD request writes

    // The largest answer body a transfer takes by default: kept in memory (responseData), and written
    // to the file of a DOWNLOAD request. A longer body fails the request, so a server that sends without
    // end cannot exhaust the memory or the disk.
    static constexpr size_t kDefaultMaxBodyBytes = size_t(8) << 20;
    static constexpr size_t kDefaultMaxDownloadBytes = size_t(512) << 20;
    // This request's limit; 0 takes the default of its kind.
    size_t maxResponseBytes = 0;
};

}  // namespace NSUI
