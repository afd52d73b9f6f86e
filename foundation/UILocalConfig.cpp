#include "UILocalConfig.h"

#include "NSDataManager.h"
#include "NSLanguage.h"

#include "cocos2d.h"

#include <cstdlib>
#include <mutex>

USING_NS_CC;

namespace NSUI {

namespace {

constexpr const char* kShowDcmFullInfoKey = "sdk_show_dcmFullInfo";

// The table each of the two lookups reads; AppConfig publishes the same one to both.
NSLanguage* publishedLanguage = nullptr;
NSLanguage* dataManagerLanguage = nullptr;

// The server base may be read by the HTTP worker while the main thread sets it.
std::mutex serverBaseMutex;
std::string& serverBase()
{
    static std::string base = "127.0.0.1";
    return base;
}

// The standard Base64 text of raw, or "" when encoding yields nothing.
std::string encode(const std::string& raw)
{
    return safeBase64EncodeString(raw);
}

// Stores the setting in memory; the next flush of the store writes it.
void storeLocalString(const std::string& key, const std::string& value)
{
    const std::string encodedKey = encode(key);
    if (key.empty() || encodedKey.empty())
        return;
    UserDefault::getInstance()->setStringForKey(encodedKey.c_str(), value.empty() ? std::string() : encode(value));
}

} // namespace

std::string UILocalConfig::getText(const std::string& key)
{
    return publishedLanguage ? publishedLanguage->getString(key) : std::string();
}

std::string UILocalConfig::getTextForKey(const std::string& key)
{
    return getText(key);
}

std::string UILocalConfig::getLocalString(const std::string& key, const std::string& defaultValue)
{
    if (key.empty())
        return defaultValue;
    const std::string encodedKey = encode(key);
    if (encodedKey.empty())
        return defaultValue;
    const std::string stored = UserDefault::getInstance()->getStringForKey(encodedKey.c_str(), defaultValue);
    if (stored == defaultValue)
        return defaultValue;
    if (stored.empty())
        return std::string();
    unsigned char* decoded = nullptr;
    const int length =
        safeBase64Decode(reinterpret_cast<const unsigned char*>(stored.data()), static_cast<unsigned>(stored.size()), &decoded);
    std::string value;
    if (length > 0 && decoded)
        value = reinterpret_cast<const char*>(decoded);   // up to the first zero byte
    safeBase64Free(decoded);
    return value;
}

void UILocalConfig::setLocalString(const std::string& key, const std::string& value)
{
    if (key.empty())
        return;
    storeLocalString(key, value);
    UserDefault::getInstance()->flush();
}

int UILocalConfig::getLocalInt(const std::string& key, int defaultValue)
{
    return std::atoi(getLocalString(key, std::to_string(defaultValue)).c_str());
}

void UILocalConfig::setLocalInt(const std::string& key, int value)
{
    setLocalString(key, std::to_string(value));
}

bool UILocalConfig::isShowDcmFullInfo()
{
    return getLocalString(kShowDcmFullInfoKey, "0") != "0";
}

void UILocalConfig::setLanguage(NSLanguage* language)
{
    publishedLanguage = language;
}

NSLanguage* UILocalConfig::getLanguage()
{
    return publishedLanguage;
}

std::string NSDataManager::getServerBase()
{
    std::lock_guard<std::mutex> lock(serverBaseMutex);
    return serverBase();
}

void NSDataManager::setServerBase(const std::string& base)
{
    std::lock_guard<std::mutex> lock(serverBaseMutex);
    serverBase() = base;
}

std::string NSDataManager::getText(const std::string& key)
{
    return dataManagerLanguage ? dataManagerLanguage->getString(key) : std::string();
}

std::string NSDataManager::getLocalString(const std::string& key, const std::string& defaultValue)
{
    return UILocalConfig::getLocalString(key, defaultValue);
}

void NSDataManager::setLocalString(const std::string& key, const std::string& value)
{
    storeLocalString(key, value);
}

void NSDataManager::setLanguage(NSLanguage* language)
{
    dataManagerLanguage = language;
}

NSLanguage* NSDataManager::getLanguage()
{
    return dataManagerLanguage;
}

} // namespace NSUI
