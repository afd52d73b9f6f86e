#include "math/Vec2.h"

#include <algorithm>

namespace cocos2d {

const Vec2 Vec2::ZERO(0.0f, 0.0f);
const Vec2 Vec2::ONE(1.0f, 1.0f);
const Vec2 Vec2::UNIT_X(1.0f, 0.0f);
const Vec2 Vec2::UNIT_Y(0.0f, 1.0f);
const Vec2 Vec2::ANCHOR_MIDDLE(0.5f, 0.5f);
const Vec2 Vec2::ANCHOR_BOTTOM_LEFT(0.0f, 0.0f);
const Vec2 Vec2::ANCHOR_TOP_LEFT(0.0f, 1.0f);
const Vec2 Vec2::ANCHOR_BOTTOM_RIGHT(1.0f, 0.0f);
const Vec2 Vec2::ANCHOR_TOP_RIGHT(1.0f, 1.0f);
const Vec2 Vec2::ANCHOR_MIDDLE_RIGHT(1.0f, 0.5f);
const Vec2 Vec2::ANCHOR_MIDDLE_LEFT(0.0f, 0.5f);
const Vec2 Vec2::ANCHOR_MIDDLE_TOP(0.5f, 1.0f);
const Vec2 Vec2::ANCHOR_MIDDLE_BOTTOM(0.5f, 0.0f);

float Vec2::angle(const Vec2& v1, const Vec2& v2)
{
    const float dz = v1.x * v2.y - v1.y * v2.x;
    return std::atan2(std::fabs(dz) + MATH_FLOAT_SMALL, dot(v1, v2));
}

void Vec2::clamp(const Vec2& min, const Vec2& max)
{
    x = std::min(std::max(x, min.x), max.x);
    y = std::min(std::max(y, min.y), max.y);
}

void Vec2::clamp(const Vec2& v, const Vec2& min, const Vec2& max, Vec2* dst)
{
    *dst = v;
    dst->clamp(min, max);
}

void Vec2::normalize()
{
    const float n = x * x + y * y;
    if (n == 1.0f) {
        return;
    }
    const float len = std::sqrt(n);
    if (len < MATH_TOLERANCE) {
        return;
    }
    x /= len;
    y /= len;
}

void Vec2::rotate(const Vec2& point, float angle)
{
    const float s = std::sin(angle), c = std::cos(angle);
    const float tx = x - point.x, ty = y - point.y;
    x = tx * c - ty * s + point.x;
    y = ty * c + tx * s + point.y;
}

float Vec2::getAngle(const Vec2& other) const
{
    const Vec2 a2 = getNormalized();
    const Vec2 b2 = other.getNormalized();
    const float a = std::atan2(a2.cross(b2), a2.dot(b2));
    return std::fabs(a) < MATH_FLOAT_SMALL ? 0.0f : a;
}

Vec2 Vec2::getClampPoint(const Vec2& min, const Vec2& max) const
{
    Vec2 v(*this);
    v.clamp(min, max);
    return v;
}

Vec2 Vec2::rotateByAngle(const Vec2& pivot, float angle) const
{
    return pivot + (*this - pivot).rotate(Vec2::forAngle(angle));
}

} // namespace cocos2d
