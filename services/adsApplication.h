// ADS::adsApplication: decides, once per start (and on each return to the foreground), whether
// to open the page that advertises a newer application version in the system browser.
//
// It owns the update service, which reports the latest version to the settings, and reads its
// decisions from the server's configuration text "app_config_ini" (flat JSON):
// "ads_enable_newVersion" 1 enables the advertisement, "adsNewVersionType" above 0 opens the
// page, "adsNewVersionUrl" is the page (default: server base + "/ads/newversionPC.html"). The
// page opens at most once per newly reported version.
//
// Main thread only.
#pragma once

#include "UIJson.h"
#include "UILocalConfig.h"

#include "cocos2d.h"

#include <string>

class updateService;

namespace ADS {

class adsApplication : public cocos2d::Ref, public NSUI::UILocalConfig, public NSUI::UIJson {
public:
    // The one instance, created (and its update service with it) on first use; the process holds
    // one reference, dropped by destroyInstance.
    static adsApplication* getInstance();
    // The instance if it exists; never creates it.
    static adsApplication* peekInstance();
    // stop(), then the process's reference is released and the instance forgotten.
    static void destroyInstance();

    ~adsApplication() override;

    virtual bool init();
    // Releases the update service.
    virtual void stop();

    // Reads "app_config_ini" again.
    void reloadConfig();
    void checkNewVersion();

    // On return to the foreground: a busy update service stays; an idle one is released; without
    // one a new one is created (and starts its own check).
    void renewUpdateService();
    updateService* getUpdateService() const { return service; }
    const std::string& getConfig() const { return config; }

    // Whether version text latest is newer than running: the first three components compared
    // as integers, left to right.
    static bool isNewerVersion(const std::string& latest, const std::string& running);

private:
    adsApplication() = default;

    updateService* service = nullptr;
    cocos2d::Ref* second = nullptr;  // held for the shell's shutdown order; nothing sets it
    std::string config;
};

} // namespace ADS
