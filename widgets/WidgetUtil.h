// Small checks shared by the toolkit's mouse handlers (the base layout and the scroll view): a
// mouse listener receives every event of the window, so each handler filters by visibility, by the
// camera that is being tried and by its own rectangle itself.
#pragma once

#include "cocos2d.h"

#include <functional>

namespace NSUI
{

// True when the node and every ancestor up to the root are visible.
bool isVisibleInTree(const cocos2d::Node* node);

// True when the camera the event dispatcher is trying right now carries a flag the node is drawn
// with. Outside a camera pass (fixed-priority listeners) every node passes.
bool isVisitedByCurrentCamera(const cocos2d::Node* node);

// The point (world/design coordinates) in the node's space when it lies strictly inside the
// node's content rectangle (0 < x < width, 0 < y < height); false otherwise.
bool strictlyInside(const cocos2d::Node* node, const cocos2d::Vec2& worldPoint, cocos2d::Vec2* local = nullptr);

// The move, in the node's parent's space, that brings the node's bounding box inside the visible
// window with the given margin (zero when it already lies inside).
cocos2d::Vec2 shiftIntoWindow(const cocos2d::Node* node, float margin = 0.0f);

// Calls relayout whenever the window is resized while the node is running (a screen laid out from
// the window's size lays itself out again). The listener goes with the node; a screen covered by
// another scene at that moment checks its size when it comes back.
void listenForWindowResize(cocos2d::Node* node, const std::function<void()>& relayout);

} // namespace NSUI
