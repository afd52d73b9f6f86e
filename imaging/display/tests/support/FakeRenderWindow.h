// A render window for the actor tests: a plain framework node implementing the window interface
// of the actors, recording its scene and overlay lists. Cameras are optional.
#pragma once

#include "isCamera.h"
#include "isRenderWindowHost.h"

#include "cocos2d.h"

#include <algorithm>
#include <vector>

namespace qvtest {

class FakeRenderWindow : public cocos2d::Node, public isImageSDK::isRenderWindowHost {
public:
    static FakeRenderWindow* create()
    {
        FakeRenderWindow* window = new FakeRenderWindow();
        window->init();
        window->autorelease();
        return window;
    }
    cocos2d::Node* getHostNode() override { return this; }
    isImageSDK::isCamera* getSceneCamera() override { return sceneCamera; }
    isImageSDK::isCamera* getOverlayCamera() override { return overlayCamera; }
    void addSceneNode(cocos2d::Node* node) override
    {
        addChild(node);
        sceneNodes.push_back(node);
    }
    void removeSceneNode(cocos2d::Node* node) override
    {
        removeChild(node, true);
        auto it = std::find(sceneNodes.begin(), sceneNodes.end(), node);
        if (it != sceneNodes.end())
            sceneNodes.erase(it);
    }
    void addOverlayNode(cocos2d::Node* node) override { overlayNodes.push_back(node); }
    void removeOverlayNode(cocos2d::Node* node) override
    {
        auto it = std::find(overlayNodes.begin(), overlayNodes.end(), node);
        if (it != overlayNodes.end())
            overlayNodes.erase(it);
    }

    bool hasPixelSpacing() override { return pixelSpacing; }

    std::vector<cocos2d::Node*> sceneNodes;
    std::vector<cocos2d::Node*> overlayNodes;
    bool pixelSpacing = true;
    isImageSDK::isCamera* sceneCamera = nullptr;
    isImageSDK::isCamera* overlayCamera = nullptr;
};

} // namespace qvtest
