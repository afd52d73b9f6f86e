// Size and Rect in design units (origin bottom-left unless a caller says otherwise).
#pragma once

#include "math/Vec2.h"

namespace cocos2d {

class Size {
public:
    float width = 0.0f;
    float height = 0.0f;

    Size() = default;
    Size(float w, float h) : width(w), height(h) {}
    explicit Size(const Vec2& point) : width(point.x), height(point.y) {}
    Size(const Size&) = default;
    Size& operator=(const Size&) = default;
    Size& operator=(const Vec2& point) { width = point.x; height = point.y; return *this; }
    operator Vec2() const { return Vec2(width, height); }

    Size operator+(const Size& r) const { return Size(width + r.width, height + r.height); }
    Size operator-(const Size& r) const { return Size(width - r.width, height - r.height); }
    Size operator*(float a) const { return Size(width * a, height * a); }
    Size operator/(float a) const { return Size(width / a, height / a); }
    void setSize(float w, float h) { width = w; height = h; }
    bool equals(const Size& target) const;
    bool operator==(const Size& r) const { return width == r.width && height == r.height; }
    bool operator!=(const Size& r) const { return !(*this == r); }

    static const Size ZERO;
};

class Rect {
public:
    Vec2 origin;
    Size size;

    Rect() = default;
    Rect(float x, float y, float width, float height) : origin(x, y), size(width, height) {}
    Rect(const Vec2& pos, const Size& dimension) : origin(pos), size(dimension) {}
    Rect(const Rect&) = default;
    Rect& operator=(const Rect&) = default;

    void setRect(float x, float y, float width, float height)
    {
        origin.set(x, y);
        size.setSize(width, height);
    }
    float getMinX() const { return origin.x; }
    float getMidX() const { return origin.x + size.width / 2.0f; }
    float getMaxX() const { return origin.x + size.width; }
    float getMinY() const { return origin.y; }
    float getMidY() const { return origin.y + size.height / 2.0f; }
    float getMaxY() const { return origin.y + size.height; }
    bool equals(const Rect& rect) const { return origin.equals(rect.origin) && size.equals(rect.size); }
    // Inclusive on all four edges.
    bool containsPoint(const Vec2& point) const;
    // Rectangles that only touch intersect.
    bool intersectsRect(const Rect& rect) const;
    bool intersectsCircle(const Vec2& center, float radius) const;
    // The smallest rectangle holding both.
    Rect unionWithRect(const Rect& rect) const;
    void merge(const Rect& rect) { *this = unionWithRect(rect); }
    bool operator==(const Rect& r) const { return origin == r.origin && size == r.size; }
    bool operator!=(const Rect& r) const { return !(*this == r); }

    static const Rect ZERO;
};

} // namespace cocos2d
