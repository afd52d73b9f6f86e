// The account and update server: its paths and request tags, and the exchange convention every
// caller follows.
//
// Requests are POSTs with the content type "application/json; charset=utf-8" whose body is the
// Base64 text of a flat JSON object with text values (or empty). A reply counts only with HTTP
// status 200; unless a path says otherwise it is the Base64 text of a JSON object whose "Status"
// is read first, "0" meaning success. Anything else (another status, a transfer error, a body that
// is not Base64, not a JSON object or larger than the bound) leaves the caller's state as it was.
//
// The paths are appended to the server base of the application configuration
// (NSUI::NSDataManager::getServerBase). Main thread only, like the REST layer.
#pragma once

#include <cstddef>
#include <string>

namespace NSUI {
class UIHttpPhisical;
class UIHttpResponse;
}

namespace serverInterface {

// Paths.
constexpr const char* kLoginPath = "/lg/lg.php";
constexpr const char* kRegisterPath = "/lg/rg.php";
constexpr const char* kChangePasswordPath = "/lg/cg.php";
constexpr const char* kSetMailPath = "/lg/sm.php";
constexpr const char* kGetCodePath = "/lg/sdvr.php";
constexpr const char* kSendPath = "/lg/sd.php";
constexpr const char* kReLoginCheckPath = "/lg/rlc.php";
constexpr const char* kVersionCheckPath = "/ud/cv2.php";
constexpr const char* kUpdaterPath = "/ud/u.php";
constexpr const char* kStatUrlPath = "/st/gi.php";
// Pages opened by address rather than exchanged.
constexpr const char* kNewVersionPagePath = "/ads/newversionPC.html";
constexpr const char* kPrivacyPolicyPath = "/en/privacypolicy.html";

// Tags by which replies are told apart.
constexpr const char* kLoginTag = "login";
constexpr const char* kRegisterTag = "register";
constexpr const char* kChangePasswordTag = "change";
constexpr const char* kSetMailTag = "setMail";
constexpr const char* kGetCodeTag = "getCode";
constexpr const char* kSendTag = "send";
constexpr const char* kReLoginCheckTag = "reLoginCheck";
constexpr const char* kVersionCheckTag = "verCheck";
constexpr const char* kUpdaterTag = "updater";
constexpr const char* kStatUrlTag = "getStatUrl";
constexpr const char* kUploadTag = "upload";

constexpr const char* kStatusKey = "Status";
constexpr const char* kStatusSuccess = "0";

// Replies larger than this are not read: no reply of this server comes near it.
constexpr size_t kMaxReplyBytes = 4 << 20;

// The server base followed by path.
std::string serverUrl(const std::string& path);

// POSTs the Base64 text of json (empty json: an empty body) to the server path with the tag.
void post(NSUI::UIHttpPhisical& http, const std::string& path, const std::string& json, const std::string& tag);

// Whether the reply arrived whole with HTTP status 200 and within the size bound.
bool isHttpOk(const NSUI::UIHttpResponse* response);
// The JSON object of a 200 reply whose body is Base64 of a JSON object; false for anything else.
bool decodeReply(const NSUI::UIHttpResponse* response, std::string& json);
// Whether a decoded reply says "Status":"0".
bool isStatusOk(const std::string& json);
// Whether a flat JSON text holds key (whatever its value).
bool hasKey(const std::string& json, const std::string& key);

} // namespace serverInterface
