#include "math/Quaternion.h"

#include <cmath>

#include "math/Mat4.h"

namespace cocos2d {

const Quaternion Quaternion::ZERO(0.0f, 0.0f, 0.0f, 0.0f);

Quaternion::Quaternion(const Mat4& m)
{
    set(m);
}

Quaternion::Quaternion(const Vec3& axis, float angle)
{
    set(axis, angle);
}

const Quaternion& Quaternion::identity()
{
    static const Quaternion q(0.0f, 0.0f, 0.0f, 1.0f);
    return q;
}

const Quaternion& Quaternion::zero()
{
    return ZERO;
}

void Quaternion::createFromRotationMatrix(const Mat4& m, Quaternion* dst)
{
    m.getRotation(dst);
}

void Quaternion::createFromAxisAngle(const Vec3& axis, float angle, Quaternion* dst)
{
    const float half = angle * 0.5f;
    const float s = std::sin(half);
    Vec3 n(axis);
    n.normalize();
    dst->x = n.x * s;
    dst->y = n.y * s;
    dst->z = n.z * s;
    dst->w = std::cos(half);
}

bool Quaternion::inverse()
{
    const float n = x * x + y * y + z * z + w * w;
    if (n == 1.0f) {
        conjugate();
        return true;
    }
    if (n < MATH_TOLERANCE) {
        return false;
    }
    const float inv = 1.0f / n;
    x = -x * inv;
    y = -y * inv;
    z = -z * inv;
    w = w * inv;
    return true;
}

void Quaternion::multiply(const Quaternion& q1, const Quaternion& q2, Quaternion* dst)
{
    const float rx = q1.w * q2.x + q1.x * q2.w + q1.y * q2.z - q1.z * q2.y;
    const float ry = q1.w * q2.y - q1.x * q2.z + q1.y * q2.w + q1.z * q2.x;
    const float rz = q1.w * q2.z + q1.x * q2.y - q1.y * q2.x + q1.z * q2.w;
    const float rw = q1.w * q2.w - q1.x * q2.x - q1.y * q2.y - q1.z * q2.z;
    dst->set(rx, ry, rz, rw);
}

void Quaternion::normalize()
{
    const float n = x * x + y * y + z * z + w * w;
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

float Quaternion::toAxisAngle(Vec3* axis) const
{
    Quaternion q(*this);
    q.normalize();
    axis->set(q.x, q.y, q.z);
    axis->normalize();
    return 2.0f * std::acos(std::fmax(-1.0f, std::fmin(1.0f, q.w)));
}

void Quaternion::lerp(const Quaternion& q1, const Quaternion& q2, float t, Quaternion* dst)
{
    const float t1 = 1.0f - t;
    dst->set(t1 * q1.x + t * q2.x, t1 * q1.y + t * q2.y, t1 * q1.z + t * q2.z, t1 * q1.w + t * q2.w);
}

void Quaternion::slerp(const Quaternion& q1, const Quaternion& q2, float t, Quaternion* dst)
{
    float cosHalf = q1.x * q2.x + q1.y * q2.y + q1.z * q2.z + q1.w * q2.w;
    Quaternion b = q2;
    if (cosHalf < 0.0f) { // take the short way round
        cosHalf = -cosHalf;
        b.set(-q2.x, -q2.y, -q2.z, -q2.w);
    }
    if (cosHalf > 0.9995f) {
        lerp(q1, b, t, dst);
        dst->normalize();
        return;
    }
    const float half = std::acos(cosHalf);
    const float sinHalf = std::sin(half);
    const float ra = std::sin((1.0f - t) * half) / sinHalf;
    const float rb = std::sin(t * half) / sinHalf;
    dst->set(q1.x * ra + b.x * rb, q1.y * ra + b.y * rb, q1.z * ra + b.z * rb, q1.w * ra + b.w * rb);
}

Vec3 Quaternion::operator*(const Vec3& v) const
{
    const Vec3 qv(x, y, z);
    Vec3 uv, uuv;
    Vec3::cross(qv, v, &uv);
    Vec3::cross(qv, uv, &uuv);
    uv *= (2.0f * w);
    uuv *= 2.0f;
    return v + uv + uuv;
}

} // namespace cocos2d
