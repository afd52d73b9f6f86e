// isROILabelLayout: where the value labels of one view's measurements go so that they stay
// readable, all in window units of the view (origin bottom-left).
//
// Each label has its own place (above the top-left of its shape) and the screen box of its
// shape. A label goes, in order of preference:
//   1. to the free place nearest its own place among those within about one label height of
//      its shape (above, below or beside it);
//   2. else to the free place nearest its shape anywhere in the view, tied to the shape by a
//      leader line;
//   3. else (a view too full for every label) to the place of 1 or 2 that overlaps no other
//      text, even if an outline crosses it;
//   4. else to its own place pulled inside the view.
// A place is free when the label lies inside the view, keeps textGap from every text placed
// before it (the corner texts, the edge letters, the labels the user moved, the number labels
// and the labels of the measurements before it; a label flush against a corner text reads as
// one word with it) and no measurement's outline crosses it. Places are taken
// relative to the shape's box, so a label keeps its side of the shape while the view zooms. The
// label of a shape wholly outside the view stays at its own place (cut off with the shape).
//
// Pure computation, no nodes: the measurement container gathers the boxes and applies the
// result every frame.
#pragma once

#include "math/CCGeometry.h"

#include <utility>
#include <vector>

namespace isImageSDK {

using ROISegment = std::pair<cocos2d::Vec2, cocos2d::Vec2>;

struct ROILabelRequest {
    cocos2d::Rect home;                // the label's box at its own place
    cocos2d::Rect shape;               // the box around its measurement's outline
    std::vector<ROISegment> outline;   // the measurement as drawn (may be empty for a point)
    cocos2d::Vec2 anchor;              // a point of the measurement, used without an outline
};

struct ROILabelPlacement {
    cocos2d::Vec2 offset;    // from the label's own place to where it goes
    bool leader = false;     // tied to its shape by the line from..to
    cocos2d::Vec2 from, to;  // the leader: from the label's box to the nearest point of the shape
};

struct ROILabelScene {
    cocos2d::Size view;                    // the view's size: labels stay in [0, w] x [0, h]
    std::vector<cocos2d::Rect> texts;      // texts that stay where they are
    std::vector<ROISegment> outlines;      // every measurement's outline
    float gap = 8.0f;                      // space kept between a shape and a label beside it
    float textGap = 4.0f;                  // space kept between a label and any other text
};

// Places the labels in order; the result has one entry per request.
std::vector<ROILabelPlacement> placeROILabels(const ROILabelScene& scene, const std::vector<ROILabelRequest>& labels);

// Whether two boxes share more than an edge.
bool boxesOverlap(const cocos2d::Rect& a, const cocos2d::Rect& b);
// The gap between two boxes (0 when they touch or overlap).
float boxGap(const cocos2d::Rect& a, const cocos2d::Rect& b);

} // namespace isImageSDK
