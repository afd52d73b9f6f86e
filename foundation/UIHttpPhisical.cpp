#include "UIHttpPhisical.h"

#include "NSFileUtil.h"
#include "NSHttpClient.h"
#include "NSHttpRequest.h"
#include "NSHttpResponse.h"
#include "UIHttpResponse.h"
#include "UIJson.h"

#include "cocos2d.h"

namespace NSUI {

namespace {

const char* const kAuthorizationPrefix = "Authorization: Basic ";
const char* const kJsonContentType = "Content-Type: application/json; charset=utf-8";
const char* const kUploadInfoPart = "uploadInfo";
const char* const kLocalFileKey = "localFile";
const char* const kFileSizeKey = "fileSize";
const int kDownloadSuccessStatus = 200;

}  // namespace

UIHttpPhisical::~UIHttpPhisical() {
    // Never starts a client during teardown: with no client there is nothing pending to cancel.
    if (NSHttpClient::hasInstance())
        NSHttpClient::getInstance()->cancelRequestsForTarget(requestTarget);
}

void UIHttpPhisical::sendRequest(int kind, std::string url, std::string body, std::string tag,
                                 const std::string& credential, const std::string& header, Completion completion,
                                 const std::string& localPath, const std::string& partName,
                                 const std::string& uploadInfo, const std::string& filePath,
                                 const std::string& contentType) {
    auto* request = new NSHttpRequest();
    request->url = std::move(url);
    request->kind = kind;

    if (kind == NSHttpRequest::FORM) {
        NSHttpRequest::FormPart file;
        file.name = partName;
        file.isFile = true;
        file.filePath = filePath;
        file.contentType = contentType;
        NSHttpRequest::FormPart info;
        info.name = kUploadInfoPart;
        info.contents = uploadInfo;
        request->form = {file, info};
    }

    // Bound through the virtual completions so that owners' overrides are honoured.
    switch (completion) {
    case Completion::Upload:
        request->callback = [this](NSHttpClient* c, NSHttpResponse* r) { onUploadCompleted(c, r); };
        break;
    case Completion::Download:
        request->callback = [this](NSHttpClient* c, NSHttpResponse* r) { onDownloadCompleted(c, r); };
        break;
    case Completion::Request:
        request->callback = [this](NSHttpClient* c, NSHttpResponse* r) { onRequestCompleted(c, r); };
        break;
    }
    request->target = requestTarget;

    if (!credential.empty()) {
        request->headers.push_back(kAuthorizationPrefix +
                                   Base64Encode(reinterpret_cast<const unsigned char*>(credential.data()),
                                                credential.size()));
    }
    if (!header.empty())
        request->headers.push_back(header);
    else if (kind != NSHttpRequest::FORM)  // a form's multipart content type is written by the transfer
        request->headers.push_back(kJsonContentType);

    if (kind != NSHttpRequest::FORM)
        request->requestData.assign(body.begin(), body.end());
    request->tag = std::move(tag);

    if (kind == NSHttpRequest::DOWNLOAD) {
        request->downloadPath = localPath;
        // A bare file name has no folder to create (its "parent" is the name itself).
        const std::string folder = getParentDirectory(localPath);
        auto* files = cocos2d::FileUtils::getInstance();
        if (folder != localPath && !files->isDirectoryExist(folder))
            files->createDirectory(folder);
    }

    NSHttpClient::getInstance()->send(request);
    request->release();  // the client holds its own references
}

void UIHttpPhisical::upload(std::string partName, std::string uploadInfo, std::string filePath,
                            std::string contentType, std::string tag, std::string url, std::string credential,
                            std::string header) {
    sendRequest(NSHttpRequest::FORM, std::move(url), "", std::move(tag), credential, header, Completion::Upload, "",
                partName, uploadInfo, filePath, contentType);
}

void UIHttpPhisical::download(std::string url, std::string body, std::string localPath, std::string tag, int,
                              std::string credential, std::string header) {
    sendRequest(NSHttpRequest::DOWNLOAD, std::move(url), std::move(body), std::move(tag), credential, header,
                Completion::Download, localPath);
}

void UIHttpPhisical::httpGet(std::string url, std::string body, std::string tag, std::string credential,
                             std::string header) {
    sendRequest(NSHttpRequest::GET, std::move(url), std::move(body), std::move(tag), credential, header,
                Completion::Request);
}

void UIHttpPhisical::httpPost(std::string url, std::string body, std::string tag, std::string credential,
                              std::string header) {
    sendRequest(NSHttpRequest::POST, std::move(url), std::move(body), std::move(tag), credential, header,
                Completion::Request);
}

void UIHttpPhisical::httpDelete(std::string url, std::string body, std::string tag, std::string credential,
                                std::string header) {
    sendRequest(NSHttpRequest::DELETE, std::move(url), std::move(body), std::move(tag), credential, header,
                Completion::Request);
}

void UIHttpPhisical::httpPut(std::string url, std::string body, std::string tag, std::string credential,
                             std::string header) {
    sendRequest(NSHttpRequest::PUT, std::move(url), std::move(body), std::move(tag), credential, header,
                Completion::Request);
}

void UIHttpPhisical::httpGetRef(std::string url, std::string body, std::string tag, std::string credential,
                                std::string header) {
    httpGet(url, body, tag, credential, header);
}

void UIHttpPhisical::httpPutRef(std::string url, std::string body, std::string tag, std::string credential,
                                std::string header) {
    httpPut(url, body, tag, credential, header);
}

void UIHttpPhisical::httpPostRef(std::string url, std::string body, std::string tag, std::string credential,
                                 std::string header) {
    httpPost(url, body, tag, credential, header);
}

void UIHttpPhisical::httpDeleteRef(std::string url, std::string body, std::string tag, std::string credential,
                                   std::string header) {
    httpDelete(url, body, tag, credential, header);
}

void UIHttpPhisical::onUploadCompleted(NSHttpClient* client, NSHttpResponse* response) {
    deliverAnswer(client, response);
}

void UIHttpPhisical::onRequestCompleted(NSHttpClient* client, NSHttpResponse* response) {
    deliverAnswer(client, response);
}

void UIHttpPhisical::deliverAnswer(NSHttpClient* client, NSHttpResponse* response) {
    if (!response)
        return;
    if (UIHttpResponse* answer = makeResponse(client, response))
        onHttpResponse(answer);
}

void UIHttpPhisical::onDownloadCompleted(NSHttpClient* client, NSHttpResponse* response) {
    if (!response)
        return;
    UIHttpResponse* answer = makeResponse(client, response);
    if (!answer)
        return;
    answer->body.clear();
    if (answer->succeeded && answer->responseCode == kDownloadSuccessStatus) {
        const std::string& path = response->getRequest()->downloadPath;
        const long long size = cocos2d::FileUtils::getInstance()->getFileSize(path);
        UIJson::setString(answer->body, kLocalFileKey, path);
        UIJson::setString(answer->body, kFileSizeKey, std::to_string(size));
    }
    onHttpResponse(answer);
}

void UIHttpPhisical::onHttpResponse(UIHttpResponse*) {}

UIHttpResponse* UIHttpPhisical::makeResponse(NSHttpClient* client, NSHttpResponse* response) {
    if (!client || !response)
        return nullptr;
    UIHttpResponse* answer = UIHttpResponse::create();
    answer->tag = response->getRequest()->tag;
    answer->succeeded = response->succeeded;
    answer->responseCode = response->responseCode;
    if (!response->responseData.empty())
        answer->body.assign(response->responseData.begin(), response->responseData.end());
    else
        answer->body = response->errorText;
    return answer;
}

std::string Base64Encode(const unsigned char* bytes, size_t length) {
    if (!bytes || length == 0)
        return std::string();
    return cocos2d::safeBase64EncodeString(std::string(reinterpret_cast<const char*>(bytes), length));
}

}  // namespace NSUI
