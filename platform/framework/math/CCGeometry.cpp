#include "math/CCGeometry.h"

#include <algorithm>
#include <cmath>

namespace cocos2d {

const Size Size::ZERO(0.0f, 0.0f);
const Rect Rect::ZERO(0.0f, 0.0f, 0.0f, 0.0f);

bool Size::equals(const Size& target) const
{
    return std::fabs(width - target.width) < MATH_FLOAT_SMALL && std::fabs(height - target.height) < MATH_FLOAT_SMALL;
}

bool Rect::containsPoint(const Vec2& point) const
{
    return point.x >= getMinX() && point.x <= getMaxX() && point.y >= getMinY() && point.y <= getMaxY();
}

bool Rect::intersectsRect(const Rect& rect) const
{
    return !(getMaxX() < rect.getMinX() || rect.getMaxX() < getMinX() || getMaxY() < rect.getMinY() ||
             rect.getMaxY() < getMinY());
}

bool Rect::intersectsCircle(const Vec2& center, float radius) const
{
    const float cx = std::max(getMinX(), std::min(center.x, getMaxX()));
    const float cy = std::max(getMinY(), std::min(center.y, getMaxY()));
    const float dx = center.x - cx, dy = center.y - cy;
    return dx * dx + dy * dy <= radius * radius;
}

Rect Rect::unionWithRect(const Rect& rect) const
{
    const float minX = std::min(getMinX(), rect.getMinX());
    const float minY = std::min(getMinY(), rect.getMinY());
    const float maxX = std::max(getMaxX(), rect.getMaxX());
    const float maxY = std::max(getMaxY(), rect.getMaxY());
    return Rect(minX, minY, maxX - minX, maxY - minY);
}

} // namespace cocos2d
