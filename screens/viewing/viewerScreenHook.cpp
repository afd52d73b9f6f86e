#include "viewerScreenHook.h"

namespace {
ViewerSceneOpener& opener()
{
    static ViewerSceneOpener instance;
    return instance;
}
} // namespace

void setViewerSceneOpener(ViewerSceneOpener fn)
{
    opener() = std::move(fn);
}

bool hasViewerSceneOpener()
{
    return static_cast<bool>(opener());
}

cocos2d::Scene* openViewerScene(const std::string& series, const std::string& protocol)
{
    return opener() ? opener()(series, protocol) : nullptr;
}
