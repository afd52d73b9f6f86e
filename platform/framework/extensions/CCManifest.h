// Manifest: the description of a hot-update package that AssetsManagerEx reads.
//
// A manifest is a JSON object:
//   {
//     "version": "1.0.3",                                  compared component by component
//     "packageUrl": "http://host/res/",                    an asset's address is packageUrl + its path
//     "remoteManifestUrl": "http://host/project.manifest", the newest manifest
//     "remoteVersionUrl": "http://host/version.manifest",  optional: a small manifest holding the version
//     "assets": {
//       "img/a.png": {"md5": "<32 hex digits>", "size": 1234},
//       "pack.zip":  {"md5": "...", "compressed": true}     unpacked where it lies, then removed
//     }
//   }
// Other members are ignored. Every asset path is relative to the storage folder and is checked
// when the manifest is read: an absolute path, a ".." or "." component, an empty component or a
// backslash makes the whole manifest invalid, so nothing a hostile manifest names can ever be
// written outside that folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace cocos2d {
namespace extension {

class Manifest {
public:
    struct Asset {
        std::string md5;          // lower-case hex; empty: not checked
        bool compressed = false;  // a zip archive unpacked into the asset's folder
        int64_t size = -1;        // bytes, when the manifest gives it; the download may not exceed it
    };

    // Reads a manifest text; false (with a reason in *error) when it is not a valid manifest.
    bool parse(const std::string& text, std::string* error = nullptr);
    bool isLoaded() const { return _loaded; }

    const std::string& getVersion() const { return _version; }
    const std::string& getPackageUrl() const { return _packageUrl; }
    const std::string& getManifestFileUrl() const { return _remoteManifestUrl; }
    const std::string& getVersionFileUrl() const { return _remoteVersionUrl; }
    const std::map<std::string, Asset>& getAssets() const { return _assets; }

    // Orders two version texts: each is split at ".", missing components count as "0"; two
    // components made only of digits compare as numbers ("1.10" is newer than "1.4"), any other
    // pair as texts. Negative, zero or positive as a is older than, equal to or newer than b.
    static int compareVersions(const std::string& a, const std::string& b);
    // Whether a relative path may be written below a folder: not empty, not absolute, no
    // backslash or NUL, and no empty, "." or ".." component.
    static bool isSafeRelativePath(const std::string& path);

private:
    bool _loaded = false;
    std::string _version;
    std::string _packageUrl;
    std::string _remoteManifestUrl;
    std::string _remoteVersionUrl;
    std::map<std::string, Asset> _assets;
};

} // namespace extension
} // namespace cocos2d
