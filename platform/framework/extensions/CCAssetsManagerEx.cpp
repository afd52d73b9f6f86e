#include "extensions/CCAssetsManagerEx.h"

#include "base/CCDirector.h"
#include "base/CCScheduler.h"
#include "event/CCEventDispatcher.h"
#include "extensions/CCAssetsFetch.h"
#include "extensions/CCAssetsUnpack.h"
#include "extensions/CCMD5.h"
#include "platform/CCFileUtils.h"

#include <cstdio>
#include <new>
#include <sys/stat.h>
#include <vector>

namespace cocos2d {
namespace extension {

namespace {

constexpr const char* kTempSuffix = ".tmp";

std::string withSlash(std::string path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

bool isRegularFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

AssetsManagerEx::AssetsManagerEx(const std::string& manifestUrl, const std::string& storagePath)
    : _manifestUrl(manifestUrl)
{
    const size_t slash = manifestUrl.find_last_of('/');
    _manifestName = slash == std::string::npos ? manifestUrl : manifestUrl.substr(slash + 1);
    FileUtils* files = FileUtils::getInstance();
    _storagePath = withSlash(files->isAbsolutePath(storagePath) ? storagePath : files->getWritablePath() + storagePath);
    _eventName = "__qv_assets_manager_" + std::to_string(getRefID());
    _scheduler = Director::getInstance()->getScheduler();
}

AssetsManagerEx* AssetsManagerEx::create(const std::string& manifestUrl, const std::string& storagePath)
{
    auto* manager = new (std::nothrow) AssetsManagerEx(manifestUrl, storagePath);
    if (!manager)
        return nullptr;
    if (manager->_manifestName.empty() || !FileUtils::getInstance()->createDirectory(manager->_storagePath)) {
        delete manager;
        return nullptr;
    }
    manager->autorelease();
    return manager;
}

AssetsManagerEx::~AssetsManagerEx()
{
    _cancel = true;
    if (_worker.joinable())
        _worker.join();
    if (_scheduler)
        _scheduler->removeFunctionInCocosThread(this);
}

Manifest AssetsManagerEx::chooseBaseline(const Manifest& local) const
{
    Manifest cached;
    const std::string cachedPath = _storagePath + _manifestName;
    if (isRegularFile(cachedPath) && cached.parse(FileUtils::getInstance()->getStringFromFile(cachedPath)) &&
        Manifest::compareVersions(cached.getVersion(), local.getVersion()) > 0)
        return cached;
    return local;
}

void AssetsManagerEx::update()
{
    if (_updating.load())
        return;
    if (_worker.joinable())
        _worker.join();  // the previous update has posted its last event and is leaving
    _updating = true;

    FileUtils* files = FileUtils::getInstance();
    Manifest local;
    const std::string localPath = files->fullPathForFilename(_manifestUrl);
    if (localPath.empty() || !local.parse(files->getStringFromFile(localPath))) {
        _updating = false;
        post(Code::ERROR_NO_LOCAL_MANIFEST);
        return;
    }
    // Ended by the destructor: it raises the cancel flag and joins the worker.
    _worker = std::thread(&AssetsManagerEx::run, this, chooseBaseline(local), _limits);
}

void AssetsManagerEx::post(Code code, const std::string& assetId, const std::string& message, float percent)
{
    if (_cancel.load())
        return;
    _scheduler->performFunctionInCocosThread(
        [this, code, assetId, message, percent] { dispatch(code, assetId, message, percent); }, this);
}

void AssetsManagerEx::dispatch(Code code, const std::string& assetId, const std::string& message, float percent)
{
    // A listener may release the manager: it lives until the dispatch is over, and nothing of it
    // is touched afterwards.
    retain();
    EventAssetsManagerEx event(_eventName, this, code, assetId, message, percent);
    Director::getInstance()->getEventDispatcher()->dispatchEvent(&event);
    release();
}

void AssetsManagerEx::run(Manifest baseline, Limits limits)
{
    // The last event is posted after the flag is cleared, so its listener may start a new update.
    auto finish = [this](Code code, const std::string& assetId = "", const std::string& message = "") {
        _updating = false;
        post(code, assetId, message);
    };
    detail::FetchLimits manifestLimits;
    manifestLimits.connectMs = limits.connectMs;
    manifestLimits.stallMs = limits.stallMs;
    manifestLimits.totalMs = limits.manifestTotalMs;
    manifestLimits.maxBytes = limits.manifestBytes;

    std::string body;
    if (!baseline.getVersionFileUrl().empty()) {
        post(Code::UPDATE_PROGRESSION, "@version");
        Manifest version;
        if (detail::fetchToString(baseline.getVersionFileUrl(), body, manifestLimits, _cancel).ok &&
            version.parse(body) && Manifest::compareVersions(version.getVersion(), baseline.getVersion()) == 0)
            return finish(Code::ALREADY_UP_TO_DATE);
        if (_cancel.load())
            return finish(Code::UPDATE_FAILED);
    }

    post(Code::UPDATE_PROGRESSION, "@manifest");
    if (baseline.getManifestFileUrl().empty())
        return finish(Code::ERROR_DOWNLOAD_MANIFEST, "", "the manifest gives no remote manifest address");
    const detail::FetchResult fetched =
        detail::fetchToString(baseline.getManifestFileUrl(), body, manifestLimits, _cancel);
    if (!fetched.ok)
        return finish(Code::ERROR_DOWNLOAD_MANIFEST, "", fetched.error);
    Manifest remote;
    std::string error;
    if (!remote.parse(body, &error))
        return finish(Code::ERROR_PARSE_MANIFEST, "", error);
    if (Manifest::compareVersions(remote.getVersion(), baseline.getVersion()) == 0)
        return finish(Code::ALREADY_UP_TO_DATE);
    post(Code::NEW_VERSION_FOUND, remote.getVersion());

    // The work list, and the plain assets the new version no longer has.
    std::vector<std::string> todo;
    std::string list;
    for (const auto& [path, asset] : remote.getAssets()) {
        const auto old = baseline.getAssets().find(path);
        const bool listedSame = old != baseline.getAssets().end() && old->second.md5 == asset.md5 &&
                                old->second.compressed == asset.compressed;
        if (asset.compressed ? listedSame
                             : (asset.md5.empty() ? listedSame && isRegularFile(_storagePath + path)
                                                  : MD5::ofFile(_storagePath + path) == asset.md5))
            continue;
        todo.push_back(path);
        list += (list.empty() ? "" : ",") + path;
    }
    for (const auto& [path, asset] : baseline.getAssets()) {
        if (!asset.compressed && remote.getAssets().count(path) == 0 && isRegularFile(_storagePath + path))
            std::remove((_storagePath + path).c_str());
    }
    post(Code::UPDATE_PROGRESSION, "@updateFileList", list);

    FileUtils* files = FileUtils::getInstance();
    int failed = 0;
    for (size_t i = 0; i < todo.size(); ++i) {
        const std::string& path = todo[i];
        const Manifest::Asset& asset = remote.getAssets().at(path);
        const std::string target = _storagePath + path;
        const std::string temp = target + kTempSuffix;
        detail::FetchLimits assetLimits = manifestLimits;
        assetLimits.totalMs = limits.assetTotalMs;
        assetLimits.maxBytes = asset.size >= 0 ? asset.size : limits.assetBytes;

        std::string why;
        if (remote.getPackageUrl().empty()) {
            why = "the manifest gives no package address";
        } else if (!files->createDirectory(folderOf(target))) {
            why = "cannot create the folder of " + path;
        } else {
            const detail::FetchResult got = detail::fetchToFile(remote.getPackageUrl() + path, temp, assetLimits, _cancel);
            if (!got.ok)
                why = got.error;
            else if (asset.size >= 0 && files->getFileSize(temp) != asset.size)
                why = "size mismatch";
            else if (!asset.md5.empty() && MD5::ofFile(temp) != asset.md5)
                why = "md5 mismatch";
            else if (std::rename(temp.c_str(), target.c_str()) != 0)
                why = "cannot move the file into place";
            if (!why.empty())
                std::remove(temp.c_str());
        }
        if (_cancel.load())
            return finish(Code::UPDATE_FAILED);
        if (why.empty()) {
            post(Code::ASSET_UPDATED, path);
            post(Code::UPDATE_PROGRESSION, path, "", float(i + 1) * 100.f / float(todo.size()));
        } else {
            ++failed;
            post(Code::ERROR_UPDATING, path, why);
        }
    }
    if (failed > 0)
        return finish(Code::UPDATE_FAILED, "", std::to_string(failed) + " of " + std::to_string(todo.size()) +
                                                   " assets failed");

    bool unpacked = true;
    for (const std::string& path : todo) {
        if (!remote.getAssets().at(path).compressed)
            continue;
        const std::string archive = _storagePath + path;
        if (!detail::unpackArchive(archive, folderOf(archive), limits.unpackBytes, &error)) {
            unpacked = false;
            post(Code::ERROR_DECOMPRESS, path, error);
        }
        std::remove(archive.c_str());
    }
    if (!unpacked)
        return finish(Code::UPDATE_FAILED, "", "an archive could not be unpacked");
    if (!files->writeStringToFile(body, _storagePath + _manifestName))
        return finish(Code::UPDATE_FAILED, "", "cannot write " + _manifestName);
    finish(Code::UPDATE_FINISHED);
}

} // namespace extension
} // namespace cocos2d
