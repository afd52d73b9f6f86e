// The answer to one NSUI::NSHttpRequest, built by NSUI::NSHttpClient's worker and handed to the
// request's callback on the main thread.
//
// The response keeps its request alive (one reference) for its whole life. For a download the answer
// body goes to the request's downloadPath instead of responseData; the file is opened when the response
// is created and closed before the callback runs, so the callback always sees a complete file.
#pragma once

#include "cocos2d.h"

#include <cstdio>
#include <string>
#include <vector>

namespace NSUI {

class NSHttpRequest;

class NSHttpResponse : public cocos2d::Ref {
public:
    // Retains the request; for a DOWNLOAD request creates or truncates its downloadPath. A file that
    // cannot be opened is not an error here: its body is then discarded and the status decides.
    explicit NSHttpResponse(NSHttpRequest* request);
    ~NSHttpResponse() override;
    NSHttpResponse(const NSHttpResponse&) = delete;
    NSHttpResponse& operator=(const NSHttpResponse&) = delete;

    NSHttpRequest* getRequest() const { return request; }

    // Closes the download file if it is open; safe to call more than once.
    void closeDownloadFile();

    bool succeeded = false;            // the transfer completed with a status from 200 to 299
    std::vector<char> responseData;    // the body (empty for a download)
    std::vector<char> responseHeader;  // the raw header bytes, every header block received
    int responseCode = -1;             // the HTTP status; -1 when none was obtained
    std::string errorText;             // empty unless the transfer failed
    FILE* downloadFile = nullptr;      // open for a download from construction until dispatch

private:
    NSHttpRequest* request;
};

}  // namespace NSUI
