// Scene: the root of a node tree that the director runs. The director keeps a stack of them.
//
// A scene covers the window: its content size is the window size, its position names its
// bottom-left corner and it scales about its centre.
//
// The scene holds at most one message node (the toast): setMessageNode shows it and hides it
// again after the given time.
#pragma once

#include <vector>

#include "node/CCNode.h"

namespace cocos2d {

class Camera;

class Scene : public Node {
public:
    // The z-order the message node gets when the scene has to add it itself.
    static constexpr int MESSAGE_NODE_Z_ORDER = 300000;

    CREATE_FUNC(Scene)
    bool init() override;

    // Draws the scene for one frame.
    virtual void render(Renderer* renderer);

    // The cameras in the scene, the default camera first, then in order of entering. Every scene
    // has a default camera (made in init, flag 1, depth 1; held by the scene, not a child);
    // cameras under the scene at any depth register when they enter and leave when they exit.
    const std::vector<Camera*>& getCameras() const { return _cameras; }
    Camera* getDefaultCamera() const { return _defaultCamera; }
    // The cameras in the order they draw: ascending depth, then order of entering (so user
    // cameras first and the default camera last).
    std::vector<Camera*> getCamerasInPassOrder() const;
    // [hook] Camera registration (Camera::onEnter / onExit).
    void addCamera(Camera* camera);
    void removeCamera(Camera* camera);

    // Shows the node and (re-)arms a one-shot timer of `seconds` that hides it again; the node
    // stays a child so the next message reuses it. A node without a parent is added with
    // MESSAGE_NODE_Z_ORDER. A different node replaces (and hides) the previous one. The timer is
    // keyed "_messageNode" on the scene and goes with the scene's cleanup.
    void setMessageNode(Node* node, float seconds);
    Node* getMessageNode() const { return _messageNode; }

    // [hook] The window's design size changed: the scene covers the new window and its default
    // camera looks at it (other cameras are their owners' business).
    void followWinSize();

    // The return key pops the scene.
    bool onResponseReturn() override;

protected:
    Scene() = default;

    std::vector<Camera*> _cameras; // weak, except the default camera
    Camera* _defaultCamera = nullptr; // retained
    ~Scene() override;

    Node* _messageNode = nullptr; // retained
};

} // namespace cocos2d
