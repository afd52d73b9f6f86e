#include "adsApplication.h"

#include "AppConfig.h"
#include "serverInterface.h"
#include "updateService.h"

#include <cstdlib>

using namespace cocos2d;

namespace ADS {

namespace {

constexpr const char* kEnableKey = "ads_enable_newVersion";
constexpr const char* kTypeKey = "adsNewVersionType";
constexpr const char* kUrlKey = "adsNewVersionUrl";
constexpr int kComparedComponents = 3;

adsApplication* sharedAds = nullptr;

// The first three components of a version text as integers (missing ones are 0).
void versionNumbers(const std::string& text, int out[kComparedComponents])
{
    size_t start = 0;
    for (int i = 0; i < kComparedComponents; ++i) {
        out[i] = start <= text.size() ? std::atoi(text.c_str() + start) : 0;
        const size_t dot = text.find('.', start);
        start = dot == std::string::npos ? text.size() + 1 : dot + 1;
    }
}

} // namespace

adsApplication* adsApplication::getInstance()
{
    if (!sharedAds) {
        sharedAds = new adsApplication();
        sharedAds->init();
    }
    return sharedAds;
}

adsApplication* adsApplication::peekInstance()
{
    return sharedAds;
}

void adsApplication::destroyInstance()
{
    if (!sharedAds)
        return;
    adsApplication* ads = sharedAds;
    sharedAds = nullptr;
    ads->stop();
    ads->release();
}

adsApplication::~adsApplication()
{
    stop();
    if (sharedAds == this)
        sharedAds = nullptr;
}

bool adsApplication::init()
{
    service = updateService::create();
    CC_SAFE_RETAIN(service);
    reloadConfig();
    return true;
}

void adsApplication::stop()
{
    CC_SAFE_RELEASE_NULL(service);
    CC_SAFE_RELEASE_NULL(second);
}

void adsApplication::reloadConfig()
{
    config = getLocalString(updateService::kConfigKey, "");
}

void adsApplication::renewUpdateService()
{
    if (service && !service->isBusy())
        CC_SAFE_RELEASE_NULL(service);
    if (!service) {
        service = updateService::create();
        CC_SAFE_RETAIN(service);
    }
}

bool adsApplication::isNewerVersion(const std::string& latest, const std::string& running)
{
    if (latest == running)
        return false;
    int a[kComparedComponents], b[kComparedComponents];
    versionNumbers(latest, a);
    versionNumbers(running, b);
    for (int i = 0; i < kComparedComponents; ++i) {
        if (a[i] != b[i])
            return a[i] > b[i];
    }
    return false;
}

void adsApplication::checkNewVersion()
{
    if (getInt(config, kEnableKey, 0) != 1)
        return;
    const std::string latest = getLocalString(updateService::kLatestVersionKey, "1.0");
    if (!isNewerVersion(latest, AppConfig::getVersion()))
        return;
    const int count = std::atoi(getLocalString(updateService::kCheckCountKey, "0").c_str());
    if (count >= 1)
        return;
    setLocalString(updateService::kCheckCountKey, std::to_string(count + 1));
    if (getInt(config, kTypeKey, 0) > 0 && Application::getInstance()) {
        std::string url = getString(config, kUrlKey);
        if (url.empty())
            url = serverInterface::serverUrl(serverInterface::kNewVersionPagePath);
        // The browser is handed web pages only, whatever the configuration text says.
        if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0)
            Application::getInstance()->openURL(url);
    }
}

} // namespace ADS
