#include "httpCenter.h"

#include "NSActivity.h"
#include "NSDataManager.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"
#include "NSWebView.h"
#include "UIHttpResponse.h"
#include "UILocalConfig.h"
#include "messageView.h"
#include "serverInterface.h"

#include "cocos2d.h"

#include <chrono>

using namespace cocos2d;

namespace {

constexpr const char* kUpdateAppTag = "updateApp";
constexpr const char* kNewVersionTag = "newversion";

constexpr const char* kLoginedKey = "app_logined";
constexpr const char* kLoginIdKey = "app_login_id";
constexpr const char* kLoginTimeKey = "app_login_time";
constexpr const char* kLoginTimestampKey = "app_login_timestamp";

constexpr const char* kDownloadingText = "downloading";
constexpr const char* kDownloadFailedText = "Failed to download the APK file.\nCheck your network.";
constexpr const char* kSecondDeviceKey = "login_second_device_info";
constexpr float kToastSeconds = 5.0f;
constexpr float kOverlayOpacity = 0.45f;

constexpr const char* kPageTemplate = "res/newversion.html";
constexpr const char* kScriptFolder = "qv/tmp/res/js";

httpCenter* sharedCenter = nullptr;

long long systemSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

httpCenter* httpCenter::getInstance()
{
    if (!sharedCenter) {
        auto* center = new httpCenter();
        sharedCenter = center;
        center->init();
        // The data manager ticks it and owns it from now on.
        NSUI::NSDataManager::getInstance()->addSource(center);
        center->release();
    }
    return sharedCenter;
}

httpCenter* httpCenter::peekInstance()
{
    return sharedCenter;
}

httpCenter::~httpCenter()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    if (sharedCenter == this)
        sharedCenter = nullptr;
}

bool httpCenter::init()
{
    NSDatas::init();
    enabled = false;
    tickPeriod = kTickPeriod;
    tickCounter = 0;
    now = systemSeconds;
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    for (unsigned int id : {NSUI::NOTIFY_ADVICE_UPDATE_APK, NSUI::NOTIFY_UI_DOWNLOAD_UPDATE, NSUI::NOTIFY_UI_OPEN_URL,
                            NSUI::NOTIFY_UPDATE_NEW_VERSION})
        centre->addObserver(this, nullptr, callback, id);
    enabled = true;
    return true;
}

void httpCenter::cancelRequests()
{
    NSDatas::cancelRequests();
}

bool httpCenter::isLoginExpired(long long nowSeconds, long long loginSeconds, long long inputSeconds)
{
    return nowSeconds - loginSeconds > kLoginLifetime && nowSeconds - inputSeconds > kIdleLifetime;
}

void httpCenter::logout()
{
    NSUI::NSNotificationCenter::getInstance()->postIntNotification(nullptr, NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED, -1);
    NSUI::UILocalConfig::setLocalString(kLoginedKey, "0");
}

std::string httpCenter::pageFilePath()
{
    return FileUtils::getInstance()->getWritablePath() + "qv/tmp/res/newversion.html";
}

std::string httpCenter::downloadFolder()
{
    return FileUtils::getInstance()->getWritablePath() + "qv/tmp/updateapp/";
}

void httpCenter::update(float)
{
    if (++tickCounter < tickPeriod)
        return;
    tickCounter = 0;
    if (enabled && NSUI::UILocalConfig::getLocalString(kLoginedKey, "0") == "1")
        checkLogin();
}

void httpCenter::checkLogin()
{
    const long long current = now();
    // Without a stored time-stamp the login counts as made now, as the account screens read it.
    const std::string stamp = NSUI::UILocalConfig::getLocalString(kLoginTimestampKey, "");
    const long long loginSeconds = stamp.empty() ? current : std::atoll(stamp.c_str());
    const long long inputSeconds = Touch::getTimeStamp() / 1000000;
    if (isLoginExpired(current, loginSeconds, inputSeconds)) {
        logout();
        return;
    }
    std::string body;
    NSUI::UIJson::setString(body, "userid", NSUI::UILocalConfig::getLocalString(kLoginIdKey, "0"));
    NSUI::UIJson::setString(body, "loginTime", NSUI::UILocalConfig::getLocalString(kLoginTimeKey, ""));
    NSUI::UIJson::setString(body, "isMobile", "0");
    serverInterface::post(*this, serverInterface::kReLoginCheckPath, body, serverInterface::kReLoginCheckTag);
}

void httpCenter::onNotification(Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    const std::string text = data ? data->text : std::string();
    switch (id) {
    case NSUI::NOTIFY_UI_OPEN_URL:
        if (!text.empty() && Application::getInstance())
            Application::getInstance()->openURL(text);
        break;
    case NSUI::NOTIFY_UPDATE_NEW_VERSION:
        if (!text.empty())
            httpGet(text, "", kNewVersionTag, "", "");
        break;
    case NSUI::NOTIFY_ADVICE_UPDATE_APK:
    case NSUI::NOTIFY_UI_DOWNLOAD_UPDATE:
        if (!text.empty())
            downloadPackage(text);
        break;
    default:
        break;
    }
}

void httpCenter::downloadPackage(const std::string& address)
{
    if (Scene* scene = Director::getInstance()->getRunningScene()) {
        NSUI::NSActivity* overlay = NSUI::NSActivity::show(scene);
        overlay->enableBKColor(true, Color3B::BLACK, kOverlayOpacity);
        overlay->setMessage(kDownloadingText);
    }
    FileUtils* files = FileUtils::getInstance();
    const std::string folder = downloadFolder();
    if (files->isDirectoryExist(folder))
        files->removeDirectory(folder);
    files->createDirectory(folder);
    download(address, "", folder + getTimestampString() + ".apk", kUpdateAppTag, 0, "", "");
}

void httpCenter::onHttpResponse(NSUI::UIHttpResponse* response)
{
    if (!response)
        return;
    if (response->tag == kUpdateAppTag) {
        NSUI::NSActivity::hide();
        if (!response->succeeded || response->responseCode != 200)
            NSUI::messageView::showMessage(kDownloadFailedText, kToastSeconds);
        return;
    }
    if (response->tag == serverInterface::kReLoginCheckTag) {
        std::string reply;
        if (!serverInterface::decodeReply(response, reply) || serverInterface::isStatusOk(reply))
            return;
        // Somebody may have logged out while the check was on its way.
        if (NSUI::UILocalConfig::getLocalString(kLoginedKey, "0") != "1")
            return;
        logout();
        NSUI::messageView::showMessage(NSUI::UILocalConfig::getText(kSecondDeviceKey), kToastSeconds);
        return;
    }
    if (response->tag == kNewVersionTag && serverInterface::isHttpOk(response))
        showNewVersionPage(response->body);
}

void httpCenter::showNewVersionPage(const std::string& reply)
{
    FileUtils* files = FileUtils::getInstance();
    std::string page = files->getStringFromFile(kPageTemplate);
    replaceAll(page, "JS_URL", files->getWritablePath() + kScriptFolder);

    // The address is the first quoted text after "<h2"; the description is the content of the
    // first "<div" element after it.
    const size_t heading = reply.find("<h2");
    if (heading == std::string::npos)
        return;
    const size_t open = reply.find('"', heading);
    const size_t close = open == std::string::npos ? open : reply.find('"', open + 1);
    if (close == std::string::npos || close == open + 1)
        return;
    const std::string address = reply.substr(open + 1, close - open - 1);
    std::string description;
    const size_t div = reply.find("<div", close);
    const size_t contentStart = div == std::string::npos ? div : reply.find('>', div);
    const size_t contentEnd = contentStart == std::string::npos ? contentStart : reply.find("</div>", contentStart);
    if (contentEnd != std::string::npos)
        description = reply.substr(contentStart + 1, contentEnd - contentStart - 1);
    replaceAll(page, "UPDATE_URL", address);
    replaceAll(page, "NEWVERSION_DESC", description);

    Scene* scene = Director::getInstance()->getRunningScene();
    if (!scene || scene->getChildByTag(kNewVersionViewTag))
        return;
    // The web-page view is handed a file: the page is kept beside the scripts it refers to.
    const std::string path = pageFilePath();
    files->createDirectory(path.substr(0, path.find_last_of('/') + 1));
    files->writeStringToFile(page, path);
    shownPage = page;
    NSUI::NSWebView* view = NSUI::NSWebView::create();
    view->setTag(kNewVersionViewTag);
    view->setAnchorPoint(Vec2(0.5f, 0.5f));
    const Size window = Director::getInstance()->getWinSize();
    view->setPosition(Vec2(window.width / 2, window.height / 2));
    scene->addChild(view, NSUI::NSWebView::kZOrder);
    view->loadURL("file://" + path);
}
