// Scene: the root of a node tree that the director runs. The director keeps a stack of them.
// Cameras, rendering passes and the message node are added by the scene-graph module.
#pragma once

#include "node/CCNode.h"

namespace cocos2d {

class Scene : public Node {
public:
    static Scene* create();
    bool init() override;

    // Draws the scene for one frame.
    virtual void render(Renderer* renderer);

protected:
    Scene() = default;
    ~Scene() override = default;
};

} // namespace cocos2d
