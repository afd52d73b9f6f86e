// AssetsManagerEx: a small manifest-based hot updater.
//
// It is made with the name of a local manifest (looked up through the search paths, or an
// absolute path) and a storage folder (relative names are taken below the writable path). Each
// update() compares the newest manifest on the server with what the storage folder holds and
// downloads the changed files into that folder:
//   1. The local manifest is read; without it (or when it is not a valid manifest) the update
//      ends with ERROR_NO_LOCAL_MANIFEST. It gives the server addresses (see Manifest).
//   2. The baseline is the manifest kept in the storage folder under the local manifest's file
//      name, when it holds a newer version than the local one; else the local manifest.
//   3. With a version address, the version file is fetched first ("@version"); when it names the
//      baseline's version the update ends with ALREADY_UP_TO_DATE. A version file that cannot be
//      fetched or read is passed over.
//   4. The remote manifest is fetched ("@manifest"): ERROR_DOWNLOAD_MANIFEST when it cannot be,
//      ERROR_PARSE_MANIFEST when it is not a valid manifest (an unsafe asset path included),
//      ALREADY_UP_TO_DATE when its version equals the baseline's, else NEW_VERSION_FOUND.
//   5. Work list ("@updateFileList", the paths joined by ","): a plain asset is fetched unless the
//      storage folder already has it with the manifest's MD5 (so an interrupted update resumes);
//      an archive is fetched unless the baseline lists it with the same MD5. Plain assets of the
//      baseline that the new manifest no longer lists are removed from the storage folder.
//   6. Each asset is fetched to "<path>.tmp", checked against its MD5 (and its size, when given),
//      and renamed into place: ASSET_UPDATED and UPDATE_PROGRESSION for it, or ERROR_UPDATING.
//      After any failed asset the update ends with UPDATE_FAILED.
//   7. Archives are unpacked where they lie and removed (ERROR_DECOMPRESS, then UPDATE_FAILED, on
//      failure); then the remote manifest is written into the storage folder and the update ends
//      with UPDATE_FINISHED.
// Nothing is ever written outside the storage folder, and the storage folder is the only folder
// changed: the caller decides when its content takes effect.
//
// Threads: create, update and destruction on the main thread. The fetching and writing run on one
// worker per update; the events are delivered on the main thread through the scheduler, to the
// EventListenerAssetsManagerEx listeners of this manager. A listener may release the manager from
// its callback. Destruction stops a running update (the transfer in progress is aborted) and waits
// for the worker; no event is delivered afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "base/CCRef.h"
#include "extensions/CCEventAssetsManagerEx.h"
#include "extensions/CCManifest.h"

namespace cocos2d {

class Scheduler;

namespace extension {

class AssetsManagerEx : public Ref {
public:
    // Bounds of the transfers: no update waits on a silent or endless server.
    struct Limits {
        long connectMs = 5000;
        long stallMs = 15000;                  // no byte for this long fails a transfer
        long manifestTotalMs = 30000;          // a version file or manifest, in all
        long assetTotalMs = 600000;            // one asset, in all
        int64_t manifestBytes = 4 << 20;
        int64_t assetBytes = int64_t(512) << 20;    // an asset whose size the manifest does not give
        int64_t unpackBytes = int64_t(1) << 30;     // declared size of one archive's content
    };

    // Autoreleased; null when the storage folder cannot be created.
    static AssetsManagerEx* create(const std::string& manifestUrl, const std::string& storagePath);
    ~AssetsManagerEx() override;

    // Starts an update unless one is running.
    void update();
    bool isUpdating() const { return _updating.load(); }

    // Ends in "/".
    const std::string& getStoragePath() const { return _storagePath; }
    // The name of this manager's events (listeners are keyed by it).
    const std::string& getEventName() const { return _eventName; }
    // Applies to the updates started afterwards.
    void setLimits(const Limits& limits) { _limits = limits; }
    const Limits& getLimits() const { return _limits; }

protected:
    AssetsManagerEx(const std::string& manifestUrl, const std::string& storagePath);

private:
    using Code = EventAssetsManagerEx::EventCode;

    // The worker.
    void run(Manifest baseline, Limits limits);
    // Worker -> main thread.
    void post(Code code, const std::string& assetId = "", const std::string& message = "", float percent = 0.f);
    void dispatch(Code code, const std::string& assetId, const std::string& message, float percent);
    // Whether the manifest kept in the storage folder is newer than the local one.
    Manifest chooseBaseline(const Manifest& local) const;

    std::string _manifestUrl;
    std::string _manifestName;  // the file name under which the storage folder keeps its manifest
    std::string _storagePath;
    std::string _eventName;
    Limits _limits;
    Scheduler* _scheduler = nullptr;
    std::thread _worker;
    std::atomic<bool> _updating{false};
    std::atomic<bool> _cancel{false};
};

} // namespace extension
} // namespace cocos2d
