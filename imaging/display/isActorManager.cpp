#include "isActorManager.h"

namespace isImageSDK {

namespace {
isActorManager::VRActorFactory& vrFactory()
{
    static isActorManager::VRActorFactory factory;
    return factory;
}

template <class T>
void releaseField(T*& field)
{
    if (field) {
        T* object = field;
        field = nullptr;
        object->release();
    }
}
} // namespace

void isActorManager::setVRActorFactory(VRActorFactory factory)
{
    vrFactory() = std::move(factory);
}

isActorManager::~isActorManager()
{
    isActorManager::clear();
}

bool isActorManager::init()
{
    if (!isObject::init())
        return false;
    m_renderWindow = nullptr;
    m_vrActor = nullptr;
    m_imageActor = nullptr;
    m_overlayActor = nullptr;
    m_crossLineActor = nullptr;
    m_roiActor = nullptr;
    return true;
}

void isActorManager::clear()
{
    releaseActors();
    if (m_renderWindow) {
        cocos2d::Node* host = m_renderWindow->getHostNode();
        m_renderWindow = nullptr;
        host->release();
    }
}

void isActorManager::setRenderWindow(isRenderWindowHost* window)
{
    releaseActors();
    if (window)
        window->getHostNode()->retain();
    if (m_renderWindow)
        m_renderWindow->getHostNode()->release();
    m_renderWindow = window;
}

isActorObject* isActorManager::getVRActor()
{
    if (!m_renderWindow)
        return nullptr;
    if (!m_vrActor && vrFactory()) {
        isActorObject* actor = vrFactory()();
        if (!actor)
            return nullptr;
        if (!actor->init()) {
            actor->release();
            return nullptr;
        }
        actor->attachRenderWindow(m_renderWindow);
        m_vrActor = actor;
    }
    return m_vrActor;
}

isActorImage* isActorManager::getImageActor()
{
    if (!m_renderWindow)
        return nullptr;
    if (!m_imageActor) {
        isActorImage* actor = isActorImage::create();
        if (!actor)
            return nullptr;
        actor->retain();
        actor->attachRenderWindow(m_renderWindow);
        actor->setSliceIndex(0);
        m_imageActor = actor;
    }
    return m_imageActor;
}

isActorOverlay* isActorManager::getOverlayActor()
{
    if (!m_renderWindow)
        return nullptr;
    if (!m_overlayActor) {
        isActorOverlay* actor = new isActorOverlay();
        if (!actor->init()) {
            actor->release();
            return nullptr;
        }
        actor->attachRenderWindow(m_renderWindow);
        m_overlayActor = actor;
    }
    return m_overlayActor;
}

void isActorManager::removeOverlayActor()
{
    if (!m_renderWindow || !m_overlayActor)
        return;
    m_overlayActor->removeAll();
    releaseField(m_overlayActor);
}

std::vector<cocos2d::Rect> isActorManager::overlayTextBoxes(bool edgesOnly) const
{
    if (!m_renderWindow || !m_overlayActor)
        return {};
    return m_overlayActor->getTextBoxes(m_renderWindow->getHostNode(), edgesOnly);
}

void isActorManager::createCrossLineActor()
{
    if (!m_renderWindow || m_crossLineActor)
        return;
    isActorCrossLine* actor = new isActorCrossLine();
    if (!actor->init()) {
        actor->release();
        return;
    }
    actor->attachRenderWindow(m_renderWindow);
    // The reference lines stop short of the edge letters, which they would otherwise cross.
    actor->setKeepClear([this] { return overlayTextBoxes(true); });
    m_crossLineActor = actor;
}

isActorCrossLine* isActorManager::getCrossLineActor()
{
    if (!m_renderWindow)
        return nullptr;
    createCrossLineActor();
    return m_crossLineActor;
}

void isActorManager::setBorderVisible(bool visible)
{
    if (isActorCrossLine* actor = getCrossLineActor())
        actor->setBorderVisible(visible);
}

void isActorManager::showCornerMarker()
{
    if (isActorCrossLine* actor = getCrossLineActor())
        actor->showCornerMarker();
}

void isActorManager::showCrossLines()
{
    if (isActorCrossLine* actor = getCrossLineActor())
        actor->setCrossLinesVisible(true);
}

isActorROI* isActorManager::getROIActor()
{
    if (!m_renderWindow)
        return nullptr;
    if (!m_roiActor) {
        isActorROI* actor = isActorROI::create();
        if (!actor)
            return nullptr;
        actor->retain();
        actor->attachRenderWindow(m_renderWindow);
        // The value labels keep clear of the corner texts and the edge letters.
        actor->setKeepClear([this] { return overlayTextBoxes(false); });
        m_roiActor = actor;
    }
    return m_roiActor;
}

void isActorManager::releaseActors()
{
    if (!m_renderWindow)
        return;
    releaseField(m_vrActor);
    releaseField(m_imageActor);
    if (m_overlayActor)
        m_overlayActor->removeAll();
    releaseField(m_overlayActor);
    releaseField(m_crossLineActor);
    releaseField(m_roiActor);
}

} // namespace isImageSDK
