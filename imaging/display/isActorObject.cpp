#include "isActorObject.h"

#include "NSNotificationCenter.h"

#include <algorithm>

namespace isImageSDK {

isActorObject::~isActorObject()
{
    isActorObject::clear();
    // Overlay texts and window notices this actor posted must not reach anyone after it is gone.
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->cancelNotificationsFromSender(this);
}

bool isActorObject::init()
{
    if (!isObject::init())
        return false;
    m_renderWindow = nullptr;
    return true;
}

void isActorObject::clear()
{
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    detachRenderWindow();
    if (m_renderWindow) {
        cocos2d::Node* host = m_renderWindow->getHostNode();
        m_renderWindow = nullptr;
        host->release();
    }
    for (std::vector<cocos2d::Node*>* list : {&m_plainNodes, &m_sceneNodes, &m_overlayNodes}) {
        std::vector<cocos2d::Node*> nodes;
        nodes.swap(*list);
        for (cocos2d::Node* node : nodes)
            node->release();
    }
}

void isActorObject::addTo(std::vector<cocos2d::Node*>& list, cocos2d::Node* node, bool scene)
{
    if (!node || std::find(list.begin(), list.end(), node) != list.end())
        return;
    node->setTag(static_cast<int>(getRefID()));
    node->retain();
    list.push_back(node);
    if (!m_renderWindow)
        return;
    if (scene)
        m_renderWindow->addSceneNode(node);
    else
        m_renderWindow->getHostNode()->addChild(node);
}

void isActorObject::addSceneNode(cocos2d::Node* node)
{
    addTo(m_sceneNodes, node, true);
}

void isActorObject::addChildNode(cocos2d::Node* node)
{
    addTo(m_plainNodes, node, false);
}

void isActorObject::attachRenderWindow(isRenderWindowHost* window)
{
    if (m_renderWindow || !window)
        return;
    m_renderWindow = window;
    cocos2d::Node* host = window->getHostNode();
    host->retain();
    for (cocos2d::Node* node : m_plainNodes)
        host->addChild(node);
    for (cocos2d::Node* node : m_sceneNodes)
        window->addSceneNode(node);
    for (cocos2d::Node* node : m_overlayNodes)
        window->addOverlayNode(node);
}

void isActorObject::detachRenderWindow()
{
    if (!m_renderWindow)
        return;
    cocos2d::Node* host = m_renderWindow->getHostNode();
    for (cocos2d::Node* node : m_plainNodes)
        host->removeChild(node, true);
    for (cocos2d::Node* node : m_sceneNodes)
        m_renderWindow->removeSceneNode(node);
    for (cocos2d::Node* node : m_overlayNodes)
        m_renderWindow->removeOverlayNode(node);
}

} // namespace isImageSDK
