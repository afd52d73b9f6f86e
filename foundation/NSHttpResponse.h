// The answer to one NSUI::NSHttpRequest, built by NSUI::NSHttpClient's worker and handed to the
// request's callback on the main thread.
//
// The response keeps its request alive (one reference) for its whole life. For a download the answer
// body goes to a temporary file beside the request's downloadPath instead of responseData; it replaces
// downloadPath only when the answer is 200 and every byte was written (finishDownload). Any other
// outcome leaves an existing file at downloadPath untouched and removes the temporary file. The file is
// settled before the callback runs, so the callback sees either the complete new file or the old one.
#pragma once

#include "cocos2d.h"

#include <cstdio>
#include <string>
#include <vector>

namespace NSUI {

class NSHttpRequest;

class NSHttpResponse : public cocos2d::Ref {
public:
    // Retains the request; for a DOWNLOAD request creates the temporary file in downloadPath's folder
    // (downloadFile stays null when it cannot be created: the download then fails unsent).
    explicit NSHttpResponse(NSHttpRequest* request);
    ~NSHttpResponse() override;
    NSHttpResponse(const NSHttpResponse&) = delete;
    NSHttpResponse& operator=(const NSHttpResponse&) = delete;

    NSHttpRequest* getRequest() const { return request; }

    // Closes the temporary file; with keep, renames it over downloadPath. False when keep was asked
    // and the file could not be completed or put in place. The temporary file is gone afterwards
    // either way; safe to call more than once (later calls return false).
    bool finishDownload(bool keep);
    // Abandons the download (finishDownload(false)).
    void closeDownloadFile() { finishDownload(false); }

    bool succeeded = false;            // the transfer completed with a status from 200 to 299
    std::vector<char> responseData;    // the body (empty for a download)
    std::vector<char> responseHeader;  // the raw header bytes, every header block received
    int responseCode = -1;             // the HTTP status; -1 when none was obtained
    std::string errorText;             // empty unless the transfer failed
    FILE* downloadFile = nullptr;      // the temporary file, open from construction until finished

private:
    std::string downloadTempPath;      // "" once finished

    NSHttpRequest* request;
};

}  // namespace NSUI
