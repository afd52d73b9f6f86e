// Clipping of a segment by an axis-aligned box (Liang-Barsky), in whatever 2D space both are given
// in (the actors use window units).
#pragma once

#include "math/CCGeometry.h"

#include <algorithm>

namespace isImageSDK {

// Whether the segment a -> b passes through the box; `enter` is then the fraction of the segment
// at which it first does (0 when a lies inside).
inline bool clipSegment(const cocos2d::Vec2& a, const cocos2d::Vec2& b, const cocos2d::Rect& box, float& enter)
{
    const cocos2d::Vec2 d = b - a;
    float leave = 1.0f;
    enter = 0.0f;
    const float p[4] = {-d.x, d.x, -d.y, d.y};
    const float q[4] = {a.x - box.getMinX(), box.getMaxX() - a.x, a.y - box.getMinY(), box.getMaxY() - a.y};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0f) {
            if (q[k] < 0.0f)
                return false;
            continue;
        }
        const float t = q[k] / p[k];
        if (p[k] < 0.0f)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
        if (enter > leave)
            return false;
    }
    return true;
}

} // namespace isImageSDK
