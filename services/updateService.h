// updateService: keeps the program's resources up to date without reinstalling.
//
// Two update folders below the working tree, qv/update/temp1 and qv/update/temp2: the active one
// (numbered by the setting "update_now") is first among the resource search paths, the other is
// the staging folder. A hot update downloads the changed files into the staging folder; when it
// has finished, "update_hasValidUpdate" names that folder, and the next start makes it the active
// one and refreshes the new staging folder as a copy of it (on a worker) before checking again.
// Without a pending update the version check is made at once. The check asks the server for the
// latest application version ("verCheck", stored for the advertisement) and for the hot-update
// manifest ("updater"), which is written into the active folder and handed to the framework's
// hot-update manager. The configuration text "c.i" delivered with an update becomes the setting
// "app_config_ini" when its folder is activated.
//
// Created by the advertisement object (adsApplication). Main thread, except the folder copy.
#pragma once

#include "NSThreadSafeDestroy.h"
#include "UIHttpPhisical.h"
#include "UIJson.h"
#include "UILocalConfig.h"

#include "cocos2d.h"

#include <atomic>
#include <memory>
#include <string>

namespace cocos2d {
namespace extension {
class AssetsManagerEx;
class EventAssetsManagerEx;
class EventListenerAssetsManagerEx;
} // namespace extension
} // namespace cocos2d

namespace NSUI {
class UIHttpResponse;
}

class updateService : public cocos2d::Ref,
                      public NSUI::UILocalConfig,
                      public NSUI::NSThreadSafeDestroy,
                      public NSUI::UIHttpPhisical,
                      public NSUI::UIJson {
public:
    // Setting keys.
    static constexpr const char* kUpdateNowKey = "update_now";
    static constexpr const char* kHasValidUpdateKey = "update_hasValidUpdate";
    static constexpr const char* kNowPath1Key = "update_nowPath1";
    static constexpr const char* kNowPath2Key = "update_nowPath2";
    static constexpr const char* kConfigKey = "app_config_ini";
    static constexpr const char* kLatestVersionKey = "app_latest_version";
    static constexpr const char* kCheckCountKey = "app_ver_check_count";
    static constexpr const char* kExpiredDateKey = "app_ver_expired_date";
    // Files in the update folders.
    static constexpr const char* kManifestName = "project.manifest";
    static constexpr const char* kConfigFileName = "c.i";

    // Constructed, initialised and autoreleased; null when init fails.
    static updateService* create();
    ~updateService() override;

    virtual bool init();
    // Waits for the folder copy, then drops the hot-update manager and its listener.
    virtual void stop();

    // POSTs the version check and the manifest request.
    void requestVersionCheck();
    void onHttpResponse(NSUI::UIHttpResponse* response) override;

    // A hot update is running (from the manifest reply to the manager's last event).
    bool isRunning() const { return running; }
    // Running, or still copying the active folder: releasing the service now would cut work short.
    bool isBusy() const { return running || !threadGone.load(); }
    // Absolute, ending in "/".
    const std::string& getActiveFolder() const { return activeFolder; }
    const std::string& getStagingFolder() const { return stagingFolder; }
    cocos2d::extension::AssetsManagerEx* getManager() const { return manager; }

protected:
    updateService() = default;

private:
    void startFolderCopy();
    void onFolderCopied(bool copied);
    void readConfigFile();
    void onManifestReply(const std::string& manifest);
    void onUpdateEvent(cocos2d::extension::EventAssetsManagerEx* event);
    void dropManager();

    std::string activeFolder;
    std::string stagingFolder;
    cocos2d::extension::AssetsManagerEx* manager = nullptr;
    cocos2d::extension::EventListenerAssetsManagerEx* listener = nullptr;
    bool running = false;
    bool stopped = false;
};
