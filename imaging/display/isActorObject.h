// isActorObject: the base of every actor, a bundle of framework nodes handed to one render
// window and reacting to notifications. Scene nodes are drawn through the window's scene camera
// (world millimetres), overlay nodes through its overlay camera (screen space), plain nodes are
// ordinary children of the window. Nodes added before attaching are handed over at attachment,
// nodes added while attached at once. Main thread only.
#pragma once

#include "isObject.h"
#include "isRenderWindowHost.h"

#include <vector>

namespace isImageSDK {

class isActorObject : public isObject {
public:
    ~isActorObject() override;

    // Removes the actor's observers, detaches, releases the window and every listed node.
    void clear() override;
    // Tag -1, empty name, no window.
    bool init() override;
    // Only while detached: stores and retains the window and hands over every plain, scene and
    // overlay node, each list in its order. A second call while attached does nothing.
    virtual void attachRenderWindow(isRenderWindowHost* window);
    virtual void setVisible(bool visible) { m_visible = visible; }

    // Lists the node (once; tagged with the actor's reference id) and hands it over when attached.
    void addSceneNode(cocos2d::Node* node);
    void addChildNode(cocos2d::Node* node);
    // Takes every node back from the window; the lists and the window reference stay.
    void detachRenderWindow();

    isRenderWindowHost* getRenderWindow() const { return m_renderWindow; }
    // The context of the attached window's notifications (null when detached).
    void* getWindowContext() const { return m_renderWindow ? m_renderWindow->getNotificationContext() : nullptr; }
    bool isVisible() const { return m_visible; }
    const std::vector<cocos2d::Node*>& getSceneNodes() const { return m_sceneNodes; }
    const std::vector<cocos2d::Node*>& getChildNodes() const { return m_plainNodes; }

protected:
    std::vector<cocos2d::Node*> m_plainNodes;
    std::vector<cocos2d::Node*> m_sceneNodes;
    // Nothing in this layer fills it; attach and detach hand over whatever it holds.
    std::vector<cocos2d::Node*> m_overlayNodes;
    isRenderWindowHost* m_renderWindow = nullptr;
    bool m_visible = true;

private:
    void addTo(std::vector<cocos2d::Node*>& list, cocos2d::Node* node, bool scene);
};

} // namespace isImageSDK
