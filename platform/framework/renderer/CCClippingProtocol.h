// ClippingProtocol: a mixin for nodes that draw in 3D and/or must stay inside the clip rectangle
// of their clipping ancestors.
//
// Depth test: with the flag on, the node's render commands are 3D (the depth-tested group drawn
// before the 2D commands of the pass).
//
// Scissor: a node calls beginScissor() before adding its commands and endScissor() after. At
// visit time beginScissor takes the renderer's current clip rectangle (the intersection of every
// clipping ancestor's world rectangle) and adds a scissor command to the node's own group (its
// global z-order and 3D flag), so that a 3D node whose commands leave its clipping layout's 2D
// group is still clipped. Without a clipping ancestor both calls do nothing.
//
// Clipping containers (layouts with clipping on) wrap their children with beginClipping /
// endClipping, which push the rectangle for the descendants and issue their own scissor pair.
#pragma once

#include "math/CCGeometry.h"
#include "renderer/CCScissorCommand.h"

namespace cocos2d {

class Node;
class Renderer;

class ClippingProtocol {
public:
    ClippingProtocol();
    virtual ~ClippingProtocol();

    void setDepthTestEnabled(bool enabled) { _depthTestEnabled = enabled; }
    bool isDepthTestEnabled() const { return _depthTestEnabled; }

    void beginScissor();
    void endScissor();

    // For clipping containers: worldRect in world (design) units. Issues a scissor pair in the
    // container's group and makes the rectangle (intersected with the outer ones) the clip
    // rectangle of everything visited in between.
    void beginClipping(Renderer* renderer, const Rect& worldRect, float globalZOrder);
    void endClipping(Renderer* renderer);

private:
    // The node this protocol is mixed into (null when mixed into something else).
    Node* owner();

    bool _depthTestEnabled = false;
    bool _scissorOpen = false;
    bool _clippingOpen = false;
    ScissorCommand _beginCommand{true};
    ScissorCommand _endCommand{false};
};

} // namespace cocos2d
