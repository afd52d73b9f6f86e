// The REST layer mixed into screens and services that talk to the server.
//
// One call (address, body, tag, optional credential, optional header line) becomes an NSHttpRequest for
// the process's NSHttpClient, with the standard header lines; the client's answer comes back on the main
// thread as an autoreleased UIHttpResponse carrying the request's tag, handed to the one virtual handler
// onHttpResponse. Owners override onHttpResponse and tell their answers apart by tag.
//
// Bodies are sent unchanged. The server exchange puts the Base64 text of a flat JSON object there and
// gets the Base64 text of a JSON object back; encoding and decoding are the caller's.
//
// The owner sets its request target to itself in its own initialisation. The target is the key under
// which its pending requests are cancelled (the destructor does so), and answers are only delivered while
// it is set: an object that never sets it still sends, but hears nothing back.
//
// Main thread only.
#pragma once

#include <cstddef>
#include <string>

namespace cocos2d {
class Ref;
}

namespace NSUI {

class NSHttpClient;
class NSHttpResponse;
class UIHttpResponse;

class UIHttpPhisical {
public:
    UIHttpPhisical() = default;
    virtual ~UIHttpPhisical();
    UIHttpPhisical(const UIHttpPhisical&) = delete;
    UIHttpPhisical& operator=(const UIHttpPhisical&) = delete;

    // Multipart form POST with two parts: the file at filePath under partName, sent with contentType,
    // and the text part "uploadInfo" holding uploadInfo.
    virtual void upload(std::string partName, std::string uploadInfo, std::string filePath, std::string contentType,
                        std::string tag, std::string url, std::string credential, std::string header);
    // POST of body whose answer body is written to localPath (its folder is created when missing). The
    // flag is accepted for callers' sake and not read.
    virtual void download(std::string url, std::string body, std::string localPath, std::string tag, int flag,
                          std::string credential, std::string header);
    // GET; the body is kept in the request but not sent.
    virtual void httpGet(std::string url, std::string body, std::string tag, std::string credential,
                         std::string header);
    // POST of body: the way every server request is sent.
    virtual void httpPost(std::string url, std::string body, std::string tag, std::string credential,
                          std::string header);
    // DELETE; the body is kept in the request but not sent.
    virtual void httpDelete(std::string url, std::string body, std::string tag, std::string credential,
                            std::string header);
    // PUT of body.
    virtual void httpPut(std::string url, std::string body, std::string tag, std::string credential,
                         std::string header);

    // Second entry points with the same texts, forwarding through the virtual calls above.
    virtual void httpGetRef(std::string url, std::string body, std::string tag, std::string credential,
                            std::string header);
    virtual void httpPutRef(std::string url, std::string body, std::string tag, std::string credential,
                            std::string header);
    virtual void httpPostRef(std::string url, std::string body, std::string tag, std::string credential,
                             std::string header);
    virtual void httpDeleteRef(std::string url, std::string body, std::string tag, std::string credential,
                               std::string header);

    // Completions called by the client's main-thread dispatch; each builds the answer and hands it on.
    virtual void onUploadCompleted(NSHttpClient* client, NSHttpResponse* response);
    virtual void onRequestCompleted(NSHttpClient* client, NSHttpResponse* response);
    // A successful download with status 200 answers with the flat JSON body {"localFile":"<path>",
    // "fileSize":"<bytes>"}; any other outcome with an empty body.
    virtual void onDownloadCompleted(NSHttpClient* client, NSHttpResponse* response);
    // The owner's handler; does nothing here.
    virtual void onHttpResponse(UIHttpResponse* response);

    // A new autoreleased answer: the request's tag, the success flag and status, and the body received
    // (or, when none was, the transfer's error text). Null when either argument is null.
    UIHttpResponse* makeResponse(NSHttpClient* client, NSHttpResponse* response);

    void setRequestTarget(cocos2d::Ref* target) { requestTarget = target; }
    cocos2d::Ref* getRequestTarget() const { return requestTarget; }

protected:
    cocos2d::Ref* requestTarget = nullptr;  // not retained; normally the owner itself

private:
    enum class Completion { Request, Upload, Download };
    // The one body of the request and upload completions.
    void deliverAnswer(NSHttpClient* client, NSHttpResponse* response);
    void sendRequest(int kind, std::string url, std::string body, std::string tag, const std::string& credential,
                     const std::string& header, Completion completion, const std::string& localPath = "",
                     const std::string& partName = "", const std::string& uploadInfo = "",
                     const std::string& filePath = "", const std::string& contentType = "");
};

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks); an empty input gives "".
std::string Base64Encode(const unsigned char* bytes, size_t length);

}  // namespace NSUI
