#include "base/CCUserDefault.h"

#include <cstdlib>

#include "base/base64.h"
#include "base/ccMacros.h"
#include "platform/CCAtomicFile.h"
#include "platform/CCFileUtils.h"

namespace cocos2d {

namespace {

const char kStoreFile[] = "UserDefault.txt";

UserDefault* g_userDefault = nullptr;
std::mutex g_userDefaultCreate;

// Decodes one field of a line; an empty field is the empty text.
bool decodeField(const std::string& field, std::string* out)
{
    if (field.empty()) {
        out->clear();
        return true;
    }
    *out = safeBase64DecodeString(field);
    return !out->empty();
}

} // namespace

UserDefault* UserDefault::getInstance()
{
    std::lock_guard<std::mutex> lock(g_userDefaultCreate);
    if (!g_userDefault) {
        g_userDefault = new UserDefault(FileUtils::getInstance()->getWritablePath() + kStoreFile);
    }
    return g_userDefault;
}

void UserDefault::destroyInstance()
{
    std::lock_guard<std::mutex> lock(g_userDefaultCreate);
    delete g_userDefault;
    g_userDefault = nullptr;
}

UserDefault::UserDefault(const std::string& filePath) : _filePath(filePath)
{
    load();
}

void UserDefault::load()
{
    const std::string text = FileUtils::getInstance()->getStringFromFile(_filePath);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string raw = text.substr(start, end - start);
        start = end + 1;

        const size_t tab = raw.find('\t');
        std::string key, value;
        if (tab != std::string::npos && raw.find('\t', tab + 1) == std::string::npos &&
            decodeField(raw.substr(0, tab), &key) && decodeField(raw.substr(tab + 1), &value)) {
            auto it = _index.find(key);
            if (it != _index.end()) {
                _lines[it->second].value = value; // a repeated key: the last line wins
            } else {
                _index.emplace(key, _lines.size());
                _lines.push_back(Line{true, key, value});
            }
        } else {
            _lines.push_back(Line{false, std::string(), raw});
        }
    }
}

bool UserDefault::lookup(const std::string& key, std::string* value)
{
    auto it = _index.find(key);
    if (it == _index.end()) {
        return false;
    }
    *value = _lines[it->second].value;
    return true;
}

std::string UserDefault::getStringForKey(const std::string& key)
{
    return getStringForKey(key, std::string());
}

std::string UserDefault::getStringForKey(const std::string& key, const std::string& defaultValue)
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::string value;
    return lookup(key, &value) ? value : defaultValue;
}

void UserDefault::setStringForKey(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto it = _index.find(key);
    if (it != _index.end()) {
        _lines[it->second].value = value;
    } else {
        _index.emplace(key, _lines.size());
        _lines.push_back(Line{true, key, value});
    }
}

int UserDefault::getIntegerForKey(const std::string& key)
{
    return getIntegerForKey(key, 0);
}

int UserDefault::getIntegerForKey(const std::string& key, int defaultValue)
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::string value;
    return lookup(key, &value) ? std::atoi(value.c_str()) : defaultValue;
}

void UserDefault::setIntegerForKey(const std::string& key, int value)
{
    setStringForKey(key, std::to_string(value));
}

bool UserDefault::getBoolForKey(const std::string& key)
{
    return getBoolForKey(key, false);
}

bool UserDefault::getBoolForKey(const std::string& key, bool defaultValue)
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::string value;
    return lookup(key, &value) ? value == "true" : defaultValue;
}

void UserDefault::setBoolForKey(const std::string& key, bool value)
{
    setStringForKey(key, value ? "true" : "false");
}

void UserDefault::deleteValueForKey(const std::string& key)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto it = _index.find(key);
    if (it == _index.end()) {
        return;
    }
    const size_t pos = it->second;
    _lines.erase(_lines.begin() + static_cast<std::ptrdiff_t>(pos));
    _index.erase(it);
    for (auto& entry : _index) {
        if (entry.second > pos) {
            --entry.second;
        }
    }
}

bool UserDefault::flush()
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::string text;
    for (const Line& line : _lines) {
        if (line.isEntry) {
            text += safeBase64EncodeString(line.key);
            text += '\t';
            text += safeBase64EncodeString(line.value);
        } else {
            text += line.value;
        }
        text += '\n';
    }
    const size_t slash = _filePath.find_last_of('/');
    if (slash != std::string::npos) {
        FileUtils::getInstance()->createDirectory(_filePath.substr(0, slash + 1));
    }
    if (!detail::writeFileAtomically(_filePath, text.data(), text.size())) {
        log("UserDefault: failed to write %s", _filePath.c_str());
        return false;
    }
    return true;
}

} // namespace cocos2d
