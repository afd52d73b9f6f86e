#include "updateService.h"

#include "AppConfig.h"
#include "NSFileUtil.h"
#include "NSHttpClient.h"
#include "NSRunableThread.h"
#include "UIHttpResponse.h"
#include "serverInterface.h"

#include "extensions/cocos-ext.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

using namespace cocos2d;
using cocos2d::extension::AssetsManagerEx;
using cocos2d::extension::EventAssetsManagerEx;
using cocos2d::extension::EventListenerAssetsManagerEx;
using cocos2d::extension::Manifest;

namespace {

constexpr const char* kDefaultPath1 = "update/temp1";
constexpr const char* kDefaultPath2 = "update/temp2";
constexpr int kNoUpdate = -1;

constexpr const char* kVersionKey = "app_version";
constexpr const char* kDeviceInfoKey = "device_info";
constexpr const char* kReplyLatestKey = "app_latest_version";
constexpr const char* kReplyExpiredKey = "expiredTime";

// The folder of an update setting: writable path + "qv/" + the relative folder, ending in "/". A
// stored folder that would lead out of the working tree is replaced by the default.
std::string updateFolder(const std::string& key, const char* fallback)
{
    std::string relative = NSUI::UILocalConfig::getLocalString(key, fallback);
    if (!Manifest::isSafeRelativePath(relative))
        relative = fallback;
    return FileUtils::getInstance()->getWritablePath() + "qv/" + relative + "/";
}

// Puts folder first among the search paths, with neither update folder anywhere else in the list.
void putFirstInSearchPaths(const std::string& folder, const std::string& other)
{
    FileUtils* files = FileUtils::getInstance();
    std::vector<std::string> paths;
    for (const std::string& path : files->getSearchPaths()) {
        if (path != folder && path != other)
            paths.push_back(path);
    }
    files->setSearchPaths(paths);
    files->addSearchPath(folder, true);
}

} // namespace

updateService* updateService::create()
{
    auto* service = new updateService();
    if (!service->init()) {
        delete service;
        return nullptr;
    }
    service->autorelease();
    return service;
}

updateService::~updateService()
{
    stop();
}

bool updateService::init()
{
    setRequestTarget(this);
    const int pending = getLocalInt(kHasValidUpdateKey, kNoUpdate);
    if (pending == 1 || pending == 2)
        setLocalInt(kUpdateNowKey, pending);

    const int now = getLocalInt(kUpdateNowKey, 1) == 2 ? 2 : 1;
    const std::string folder1 = updateFolder(kNowPath1Key, kDefaultPath1);
    const std::string folder2 = updateFolder(kNowPath2Key, kDefaultPath2);
    activeFolder = now == 1 ? folder1 : folder2;
    stagingFolder = now == 1 ? folder2 : folder1;
    putFirstInSearchPaths(activeFolder, stagingFolder);
    FileUtils::getInstance()->createDirectory(activeFolder);

    if (pending >= 0) {
        startFolderCopy();
        readConfigFile();
    } else {
        requestVersionCheck();
    }
    return true;
}

void updateService::startFolderCopy()
{
    auto copied = std::make_shared<std::atomic<bool>>(false);
    const std::string from = activeFolder, to = stagingFolder;
    // A counted run that ends by itself; the shell's shutdown or the exit handler waits for it.
    NSUI::NSRunableThread::create(
        [copied, from, to](void*) {
            std::error_code ignored;
            std::filesystem::remove_all(to, ignored);
            copied->store(copyDirectory(from, to));
        },
        nullptr, this, [this, copied] { onFolderCopied(copied->load()); });
}

void updateService::onFolderCopied(bool copied)
{
    // Written here rather than on the worker: the settings store belongs to the main thread.
    if (copied)
        setLocalInt(kHasValidUpdateKey, kNoUpdate);
    if (getLocalInt(kHasValidUpdateKey, kNoUpdate) < 0)
        requestVersionCheck();
}

void updateService::readConfigFile()
{
    FileUtils* files = FileUtils::getInstance();
    if (!files->isFileExist(kConfigFileName))
        return;
    const std::string text = safeBase64DecodeString(files->getStringFromFile(kConfigFileName));
    if (!text.empty())
        setLocalString(kConfigKey, text);
}

void updateService::requestVersionCheck()
{
    if (stopped)
        return;
    std::string body;
    setString(body, kVersionKey, AppConfig::getVersion());
    setString(body, kDeviceInfoKey, safeBase64EncodeString(Device::getDeviceInfo()));
    serverInterface::post(*this, serverInterface::kVersionCheckPath, body, serverInterface::kVersionCheckTag);
    serverInterface::post(*this, serverInterface::kUpdaterPath, "", serverInterface::kUpdaterTag);
}

void updateService::onHttpResponse(NSUI::UIHttpResponse* response)
{
    if (stopped || !response)
        return;
    if (response->tag == serverInterface::kVersionCheckTag) {
        std::string reply;
        if (!serverInterface::decodeReply(response, reply))
            return;
        if (serverInterface::hasKey(reply, kReplyExpiredKey))
            setLocalString(kExpiredDateKey, getString(reply, kReplyExpiredKey));
        const std::string latest = getString(reply, kReplyLatestKey);
        if (!latest.empty() && latest != getLocalString(kLatestVersionKey, "")) {
            setLocalString(kLatestVersionKey, latest);
            setLocalString(kCheckCountKey, "0");
        }
    } else if (response->tag == serverInterface::kUpdaterTag && serverInterface::isHttpOk(response)) {
        onManifestReply(response->body);
    }
}

void updateService::onManifestReply(const std::string& text)
{
    running = true;
    // A reply that is no manifest (an error page, say) must not replace the one in place.
    Manifest manifest;
    if (!manifest.parse(text) || !FileUtils::getInstance()->writeStringToFile(text, activeFolder + kManifestName)) {
        running = false;
        return;
    }
    if (!manager) {
        manager = AssetsManagerEx::create(kManifestName, stagingFolder);
        if (!manager) {
            running = false;
            return;
        }
        manager->retain();
        listener = EventListenerAssetsManagerEx::create(manager,
                                                        [this](EventAssetsManagerEx* event) { onUpdateEvent(event); });
        Director::getInstance()->getEventDispatcher()->addEventListenerWithFixedPriority(listener, 1);
    }
    manager->update();
}

void updateService::onUpdateEvent(EventAssetsManagerEx* event)
{
    const int code = static_cast<int>(event->getEventCode());
    const std::string assetId = event->getAssetId();
    switch (code) {
    case 0:
        log("Error:can not find the local manifest file");
        break;
    case 1:
        log("Error:failed to download the manifest");
        break;
    case 2:
        log("Error: failed to analysis the manifest");
        break;
    case 3:
        log("Found the new verision,%s,start to update.", assetId.c_str());
        break;
    case 4:
        log("Already is the latest version");
        break;
    case 5:
        if (assetId == "@version")
            log("download version file.");
        else if (assetId == "@manifest")
            log("download project file.");
        else if (assetId == "@updateFileList")
            log("%s", event->getMessage().c_str());
        else
            log("update process= %s %i", assetId.c_str(), static_cast<int>(event->getPercent()));
        break;
    case 7:
        log("Error: failed to complete the update..%s", event->getMessage().c_str());
        break;
    case 8:
        log("update over. restart.");
        dropManager();
        setLocalInt(kHasValidUpdateKey, getLocalInt(kUpdateNowKey, 1) == 1 ? 2 : 1);
        break;
    default:
        break;
    }
    if (code == 0 || code == 1 || code == 2 || code == 4 || code == 7 || code == 8 || code == 9)
        running = false;
}

void updateService::dropManager()
{
    if (listener) {
        Director::getInstance()->getEventDispatcher()->removeEventListener(listener);
        listener = nullptr;
    }
    CC_SAFE_RELEASE_NULL(manager);
}

void updateService::stop()
{
    stopped = true;
    while (!threadGone.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    removePendingCompletions();
    dropManager();
    running = false;
    if (NSUI::NSHttpClient::hasInstance())
        NSUI::NSHttpClient::getInstance()->cancelRequestsForTarget(this);
}
