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
    actor->setKeepClear([this] {
        std::vector<cocos2d::Rect> boxes;
        cocos2d::Node* host = m_renderWindow ? m_renderWindow->getHostNode() : nullptr;
        if (!host || !m_overlayActor)
            return boxes;
        for (int edge = 0; edge < 4; ++edge) {
            isNodeOverlayText* label = m_overlayActor->getEdgeLabel(edge);
            if (!label || !label->isVisible() || label->getString().empty() || !label->getParent())
                continue;
            const cocos2d::Rect box = label->getBoundingBox();
            const cocos2d::Vec2 low =
                host->convertToNodeSpace(label->getParent()->convertToWorldSpace(box.origin));
            const cocos2d::Vec2 high = host->convertToNodeSpace(
                label->getParent()->convertToWorldSpace(cocos2d::Vec2(box.getMaxX(), box.getMaxY())));
            boxes.emplace_back(low.x, low.y, high.x - low.x, high.y - low.y);
        }
        return boxes;
    });
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
