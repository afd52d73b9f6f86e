#include "renderer/CCClippingProtocol.h"

#include "base/CCDirector.h"
#include "node/CCNode.h"
#include "renderer/CCRenderer.h"

namespace cocos2d {

ClippingProtocol::ClippingProtocol() = default;
ClippingProtocol::~ClippingProtocol() = default;

Node* ClippingProtocol::owner()
{
    return dynamic_cast<Node*>(this);
}

void ClippingProtocol::beginScissor()
{
    _scissorOpen = false;
    Renderer* renderer = Director::getInstance()->getRenderer();
    if (!renderer || !renderer->hasClipRect()) {
        return;
    }
    Node* node = owner();
    const float z = node ? node->getGlobalZOrder() : 0.0f;
    _beginCommand.init(z, _depthTestEnabled, renderer->getClipRect());
    _beginCommand.setOwner(node);
    renderer->addCommand(&_beginCommand);
    _scissorOpen = true;
}

void ClippingProtocol::endScissor()
{
    if (!_scissorOpen) {
        return;
    }
    _scissorOpen = false;
    Renderer* renderer = Director::getInstance()->getRenderer();
    Node* node = owner();
    _endCommand.init(node ? node->getGlobalZOrder() : 0.0f, _depthTestEnabled, Rect::ZERO);
    _endCommand.setOwner(node);
    renderer->addCommand(&_endCommand);
}

void ClippingProtocol::beginClipping(Renderer* renderer, const Rect& worldRect, float globalZOrder)
{
    renderer->pushClipRect(worldRect);
    _beginCommand.init(globalZOrder, _depthTestEnabled, renderer->getClipRect());
    _beginCommand.setOwner(owner());
    renderer->addCommand(&_beginCommand);
    _clippingOpen = true;
}

void ClippingProtocol::endClipping(Renderer* renderer)
{
    if (!_clippingOpen) {
        return;
    }
    _clippingOpen = false;
    _endCommand.init(_beginCommand.getGlobalOrder(), _depthTestEnabled, Rect::ZERO);
    _endCommand.setOwner(owner());
    renderer->addCommand(&_endCommand);
    renderer->popClipRect();
}

} // namespace cocos2d
