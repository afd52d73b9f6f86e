#include "AppConfig.h"

#include "NSDataManager.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"
#include "UILocalConfig.h"

USING_NS_CC;

namespace {

constexpr const char* kVersion = "1.4";
constexpr const char* kLanguageFile = "language.dat";

// The HTTP base address of the project's server; the REST layer appends the service paths.
// Deployment configuration: a build may set QV_SERVER_BASE.
#ifdef QV_SERVER_BASE
constexpr const char* kServerBase = QV_SERVER_BASE;
#else
constexpr const char* kServerBase = "http://127.0.0.1";
#endif

// First-run settings.
constexpr const char* kCurrentVersionKey = "app_current_version";
constexpr const char* kInstallTimeKey = "app_install_time";
constexpr const char* kInitDbKey = "app_init_db";
constexpr const char* kIdentifierKey = "app_identifier";

AppConfig* sharedConfig = nullptr;

// Used by getFrameSize before the configuration exists.
Size fallbackFrameSize(960, 640);

} // namespace

AppConfig* AppConfig::getInstance()
{
    if (!sharedConfig) {
        sharedConfig = new AppConfig();
        sharedConfig->init();
        sharedConfig->autorelease();
    }
    return sharedConfig;
}

AppConfig::AppConfig()
{
    NSUI::NSDataManager::setServerBase(kServerBase);
    Application* application = Application::getInstance();
    currentLanguage_ = application ? static_cast<int>(application->getCurrentLanguage()) : 0;
}

AppConfig::~AppConfig()
{
    // Nothing may keep reading a table or an instance that is gone.
    if (NSUI::UILocalConfig::getLanguage() == &language_)
        NSUI::UILocalConfig::setLanguage(nullptr);
    if (NSUI::NSDataManager::getLanguage() == &language_)
        NSUI::NSDataManager::setLanguage(nullptr);
    if (sharedConfig == this)
        sharedConfig = nullptr;
}

bool AppConfig::init()
{
    style_.sizes = {60, 50, 35, 30, 25, 20, 15, 10};
    style_.colors = {Color3B(100, 100, 100), Color3B(44, 44, 44), Color3B(166, 166, 166), Color3B(44, 44, 44),
                     Color3B(0, 187, 253), Color3B(255, 255, 255), Color3B(0, 0, 0)};
    firstRunBookkeeping();
    return true;
}

void AppConfig::firstRunBookkeeping()
{
    using NSUI::NSDataManager;
    bool written = false;
    const std::string version = NSDataManager::getLocalString(kCurrentVersionKey, "");
    if (!version.empty() && version != getVersion()) {
        NSDataManager::setLocalString(kCurrentVersionKey, getVersion());
        written = true;
    } else if (version.empty()) {
        NSDataManager::setLocalString(kCurrentVersionKey, getVersion());
        NSDataManager::setLocalString(kInstallTimeKey, getCurrentDateTime());
        NSDataManager::setLocalString(kInitDbKey, "1");
        written = true;
    }

    identifier_ = NSDataManager::getLocalString(kIdentifierKey, "");
    if (identifier_.empty()) {
        identifier_ = makeIdentifier(Device::getDeviceInfo() + getCurrentDateTime());
        NSDataManager::setLocalString(kIdentifierKey, identifier_);
        written = true;
    }

    // The identifier and the install time are made once per installation: save them now rather
    // than hope that some later setting flushes the store before the program ends.
    if (written)
        UserDefault::getInstance()->flush();
}

std::string AppConfig::makeIdentifier(const std::string& seed)
{
    return std::to_string(foldedHash32(seed));
}

std::string AppConfig::getVersion()
{
    return kVersion;
}

std::string AppConfig::getServerBase() const
{
    return NSUI::NSDataManager::getServerBase();
}

void AppConfig::loadLanguage()
{
    language_.setFileName(kLanguageFile);
    language_.load();
    NSUI::UILocalConfig::setLanguage(&language_);
    NSUI::NSDataManager::setLanguage(&language_);
}

std::string AppConfig::getText(const std::string& key) const
{
    return language_.getString(key);
}

void AppConfig::setText(Node* root, const std::string& prefix)
{
    language_.applyToWidget(root, prefix);
}

Size& AppConfig::getFrameSize()
{
    return sharedConfig ? sharedConfig->frameSize_ : fallbackFrameSize;
}

void AppConfig::setWinSize(const Size& size)
{
    if (sharedConfig)
        sharedConfig->winSize_ = size;
}
