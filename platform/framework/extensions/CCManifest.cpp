#include "extensions/CCManifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <vector>

namespace cocos2d {
namespace extension {

namespace {

constexpr size_t kMaxPathLength = 1024;

std::vector<std::string> splitVersion(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts;
}

bool allDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Compares two digit strings as numbers of any length.
int compareNumbers(std::string a, std::string b)
{
    a.erase(0, std::min(a.find_first_not_of('0'), a.size()));
    b.erase(0, std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

std::string stringMember(const nlohmann::json& object, const char* key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

int Manifest::compareVersions(const std::string& a, const std::string& b)
{
    const std::vector<std::string> pa = splitVersion(a), pb = splitVersion(b);
    const size_t n = std::max(pa.size(), pb.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string x = i < pa.size() && !pa[i].empty() ? pa[i] : "0";
        const std::string y = i < pb.size() && !pb[i].empty() ? pb[i] : "0";
        const int c = allDigits(x) && allDigits(y) ? compareNumbers(x, y) : x.compare(y);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

bool Manifest::isSafeRelativePath(const std::string& path)
{
    if (path.empty() || path.size() > kMaxPathLength || path[0] == '/')
        return false;
    if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = slash + 1;
    }
    return true;
}

bool Manifest::parse(const std::string& text, std::string* error)
{
    *this = Manifest();
    nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object())
        return fail(error, "not a JSON object");

    _version = stringMember(root, "version");
    _packageUrl = stringMember(root, "packageUrl");
    if (!_packageUrl.empty() && _packageUrl.back() != '/')
        _packageUrl += '/';
    _remoteManifestUrl = stringMember(root, "remoteManifestUrl");
    _remoteVersionUrl = stringMember(root, "remoteVersionUrl");

    const auto assets = root.find("assets");
    if (assets != root.end()) {
        if (!assets->is_object())
            return fail(error, "\"assets\" is not an object");
        for (const auto& [path, entry] : assets->items()) {
            if (!isSafeRelativePath(path))
                return fail(error, "unsafe asset path: " + path);
            if (!entry.is_object())
                return fail(error, "asset entry is not an object: " + path);
            Asset asset;
            asset.md5 = stringMember(entry, "md5");
            std::transform(asset.md5.begin(), asset.md5.end(), asset.md5.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
            const auto compressed = entry.find("compressed");
            asset.compressed = compressed != entry.end() && compressed->is_boolean() && compressed->get<bool>();
            const auto size = entry.find("size");
            if (size != entry.end() && size->is_number_integer() && size->get<int64_t>() >= 0)
                asset.size = size->get<int64_t>();
            _assets.emplace(path, asset);
        }
    }
    _loaded = true;
    return true;
}

} // namespace extension
} // namespace cocos2d
