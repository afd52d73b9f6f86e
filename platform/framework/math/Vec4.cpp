#include "math/Vec4.h"

namespace cocos2d {

const Vec4 Vec4::ZERO(0.0f, 0.0f, 0.0f, 0.0f);
const Vec4 Vec4::ONE(1.0f, 1.0f, 1.0f, 1.0f);
const Vec4 Vec4::UNIT_X(1.0f, 0.0f, 0.0f, 0.0f);
const Vec4 Vec4::UNIT_Y(0.0f, 1.0f, 0.0f, 0.0f);
const Vec4 Vec4::UNIT_Z(0.0f, 0.0f, 1.0f, 0.0f);
const Vec4 Vec4::UNIT_W(0.0f, 0.0f, 0.0f, 1.0f);

float Vec4::angle(const Vec4& v1, const Vec4& v2)
{
    const float dx = v1.w * v2.x - v1.x * v2.w - v1.y * v2.z + v1.z * v2.y;
    const float dy = v1.w * v2.y - v1.y * v2.w - v1.z * v2.x + v1.x * v2.z;
    const float dz = v1.w * v2.z - v1.z * v2.w - v1.x * v2.y + v1.y * v2.x;
    return std::atan2(std::sqrt(dx * dx + dy * dy + dz * dz) + MATH_FLOAT_SMALL, dot(v1, v2));
}

void Vec4::normalize()
{
    const float n = lengthSquared();
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
    w /= len;
}

} // namespace cocos2d
