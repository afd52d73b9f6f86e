#include "serverInterface.h"

#include "NSDataManager.h"
#include "UIHttpPhisical.h"
#include "UIHttpResponse.h"
#include "UIJson.h"

#include "cocos2d.h"

namespace serverInterface {

namespace {

constexpr int kHttpOk = 200;
constexpr const char* kWhiteSpace = " \t\r\n";

} // namespace

std::string serverUrl(const std::string& path)
{
    return NSUI::NSDataManager::getServerBase() + path;
}

void post(NSUI::UIHttpPhisical& http, const std::string& path, const std::string& json, const std::string& tag)
{
    const std::string body = json.empty() ? std::string() : cocos2d::safeBase64EncodeString(json);
    http.httpPost(serverUrl(path), body, tag, "", "");
}

bool isHttpOk(const NSUI::UIHttpResponse* response)
{
    return response && response->succeeded && response->responseCode == kHttpOk &&
           response->body.size() <= kMaxReplyBytes;
}

bool decodeReply(const NSUI::UIHttpResponse* response, std::string& json)
{
    json.clear();
    if (!isHttpOk(response))
        return false;
    std::string text = cocos2d::safeBase64DecodeString(response->body);
    const size_t first = text.find_first_not_of(kWhiteSpace);
    const size_t last = text.find_last_not_of(kWhiteSpace);
    if (first == std::string::npos || text[first] != '{' || text[last] != '}')
        return false;
    json = text.substr(first, last - first + 1);
    return true;
}

bool isStatusOk(const std::string& json)
{
    return NSUI::UIJson::getString(json, kStatusKey) == kStatusSuccess;
}

bool hasKey(const std::string& json, const std::string& key)
{
    int begin = 0, end = 0;
    return NSUI::UIJson::findValue(json, key, begin, end);
}

} // namespace serverInterface
