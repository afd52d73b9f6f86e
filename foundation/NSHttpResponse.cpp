#include "NSHttpResponse.h"

#include "NSHttpRequest.h"

namespace NSUI {

NSHttpResponse::NSHttpResponse(NSHttpRequest* request) : request(request) {
    request->retain();
    if (request->kind == NSHttpRequest::DOWNLOAD)
        downloadFile = std::fopen(request->downloadPath.c_str(), "wb");
}

NSHttpResponse::~NSHttpResponse() {
    closeDownloadFile();
    request->release();
}

void NSHttpResponse::closeDownloadFile() {
    if (downloadFile) {
        std::fclose(downloadFile);
        downloadFile = nullptr;
    }
}

}  // namespace NSUI
