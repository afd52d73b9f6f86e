// EventAssetsManagerEx: what an AssetsManagerEx reports to its listeners, on the main thread.
//
// The codes are relied on by number by the code that drives a hot update.
#pragma once

#include <string>

#include "event/CCEventCustom.h"

namespace cocos2d {
namespace extension {

class AssetsManagerEx;

class EventAssetsManagerEx : public EventCustom {
public:
    enum class EventCode {
        ERROR_NO_LOCAL_MANIFEST = 0,  // the local manifest is missing or unreadable
        ERROR_DOWNLOAD_MANIFEST = 1,  // the remote manifest could not be fetched
        ERROR_PARSE_MANIFEST = 2,     // the remote manifest is not a valid manifest
        NEW_VERSION_FOUND = 3,        // asset id: the new version
        ALREADY_UP_TO_DATE = 4,
        UPDATE_PROGRESSION = 5,       // asset id "@version", "@manifest", "@updateFileList" or an asset path
        ASSET_UPDATED = 6,            // asset id: the path of an asset now in the storage folder
        ERROR_UPDATING = 7,           // asset id: the asset that failed; message: why
        UPDATE_FINISHED = 8,          // every asset is in the storage folder with the new manifest
        UPDATE_FAILED = 9,            // the update ended with failed assets; a new update() retries them
        ERROR_DECOMPRESS = 10,        // asset id: the archive that could not be unpacked
    };

    EventAssetsManagerEx(const std::string& eventName, AssetsManagerEx* manager, EventCode code,
                         const std::string& assetId = "", const std::string& message = "", float percent = 0.f);

    EventCode getEventCode() const { return _code; }
    std::string getAssetId() const { return _assetId; }
    std::string getMessage() const { return _message; }
    // 0 to 100: the share of the assets to update that are done.
    float getPercent() const { return _percent; }
    AssetsManagerEx* getAssetsManagerEx() const { return _manager; }

private:
    AssetsManagerEx* _manager;
    EventCode _code;
    std::string _assetId;
    std::string _message;
    float _percent;
};

} // namespace extension
} // namespace cocos2d
