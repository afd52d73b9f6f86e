#include "isVRThread.h"

namespace isImageSDK {

void isVRThreadBase::renderRequest(isVRRequest* request, bool dropCancelled)
{
    vrRayCaster* engine = request->engine;
    if (!engine)
        return;
    if (request->freshFrame)
        engine->clearCancel();
    if (request->volumeVersion != m_volumeVersion) {
        // The descriptor may be the same object with new content.
        engine->setVolume(nullptr);
        engine->setVolume(request->volume);
        m_volumeVersion = request->volumeVersion;
    }
    if (request->windowVersion != m_windowVersion) {
        engine->setPendingWindow(request->windowWidth, request->windowCentre);
        m_windowVersion = request->windowVersion;
    }
    if (request->colourVersion != m_colourVersion) {
        engine->setColors(request->colours);
        m_colourVersion = request->colourVersion;
    }
    engine->setRenderMode(request->renderMode);
    engine->setCamera(request->camera, true);
    const bool made = engine->render();
    if (!made || (dropCancelled && engine->isCancelled()))
        return;
    const vrFrameBlock& frame = engine->getFrame();
    auto result = std::make_unique<vrFrameResult>();
    result->width = frame.width;
    result->height = frame.height;
    result->displayScaleX = frame.displayScaleX;
    result->displayScaleY = frame.displayScaleY;
    result->pixels.assign(frame.pixels, frame.pixels + static_cast<size_t>(frame.width) * frame.height * 3);
    request->result = std::move(result);
}

bool isVRThreadRT::addRequest(NSUI::NSThreadRequest* request)
{
    cancelQueuedRequests();
    if (auto* r = dynamic_cast<isVRRequest*>(request))
        r->freshFrame = true;
    return NSThread::addRequest(request);
}

void isVRThreadRT::process(NSUI::NSThreadRequest* request)
{
    if (auto* r = dynamic_cast<isVRRequest*>(request))
        renderRequest(r, false);
}

bool isVRThreadBest::addRequest(NSUI::NSThreadRequest* request)
{
    cancelQueuedRequests();
    if (auto* r = dynamic_cast<isVRRequest*>(request))
        r->freshFrame = true;
    return NSThread::addRequest(request);
}

void isVRThreadBest::process(NSUI::NSThreadRequest* request)
{
    if (auto* r = dynamic_cast<isVRRequest*>(request))
        renderRequest(r, true);
}

} // namespace isImageSDK
