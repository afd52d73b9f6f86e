#include "math/Vec3.h"

#include <algorithm>

namespace cocos2d {

const Vec3 Vec3::ZERO(0.0f, 0.0f, 0.0f);
const Vec3 Vec3::ONE(1.0f, 1.0f, 1.0f);
const Vec3 Vec3::UNIT_X(1.0f, 0.0f, 0.0f);
const Vec3 Vec3::UNIT_Y(0.0f, 1.0f, 0.0f);
const Vec3 Vec3::UNIT_Z(0.0f, 0.0f, 1.0f);

float Vec3::angle(const Vec3& v1, const Vec3& v2)
{
    const float dx = v1.y * v2.z - v1.z * v2.y;
    const float dy = v1.z * v2.x - v1.x * v2.z;
    const float dz = v1.x * v2.y - v1.y * v2.x;
    return std::atan2(std::sqrt(dx * dx + dy * dy + dz * dz) + MATH_FLOAT_SMALL, dot(v1, v2));
}

void Vec3::clamp(const Vec3& min, const Vec3& max)
{
    x = std::min(std::max(x, min.x), max.x);
    y = std::min(std::max(y, min.y), max.y);
    z = std::min(std::max(z, min.z), max.z);
}

void Vec3::clamp(const Vec3& v, const Vec3& min, const Vec3& max, Vec3* dst)
{
    *dst = v;
    dst->clamp(min, max);
}

void Vec3::cross(const Vec3& v1, const Vec3& v2, Vec3* dst)
{
    const float cx = v1.y * v2.z - v1.z * v2.y;
    const float cy = v1.z * v2.x - v1.x * v2.z;
    const float cz = v1.x * v2.y - v1.y * v2.x;
    dst->x = cx;
    dst->y = cy;
    dst->z = cz;
}

void Vec3::normalize()
{
    const float n = x * x + y * y + z * z;
    if (n == 1.0f) {
        return;
    }
    const float len = std::sqrt(n);
    if (len < MATH_TOLERANCE) {
        return;
    }
    x /= len;
    y /= len;
    z /= len;
}

} // namespace cocos2d
