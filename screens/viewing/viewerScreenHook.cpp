#include "viewerScreenHook.h"

#include "imageViewerPC.h"

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
    if (opener())
        return opener()(series, protocol);
    // The viewer screen itself: its scene, then the protocol on the screen.
    cocos2d::Scene* scene = imageViewerPC::createScene(series);
    if (imageViewerPC* screen = imageViewerPC::getScreen(scene)) {
        if (!protocol.empty())
            screen->setProtocol(protocol);
    }
    return scene;
}
