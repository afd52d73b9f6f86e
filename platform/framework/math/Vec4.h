// Vec4: a homogeneous point (w = 1) or direction (w = 0), or four packed values.
#pragma once

#include <cmath>

#include "math/CCMathBase.h"

namespace cocos2d {

class Vec4 {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    Vec4() = default;
    Vec4(float xx, float yy, float zz, float ww) : x(xx), y(yy), z(zz), w(ww) {}
    explicit Vec4(const float* a) : x(a[0]), y(a[1]), z(a[2]), w(a[3]) {}
    Vec4(const Vec4& p1, const Vec4& p2) : x(p2.x - p1.x), y(p2.y - p1.y), z(p2.z - p1.z), w(p2.w - p1.w) {}
    Vec4(const Vec4&) = default;
    Vec4& operator=(const Vec4&) = default;

    bool isZero() const { return x == 0.0f && y == 0.0f && z == 0.0f && w == 0.0f; }
    bool isOne() const { return x == 1.0f && y == 1.0f && z == 1.0f && w == 1.0f; }
    static float angle(const Vec4& v1, const Vec4& v2);

    void add(const Vec4& v) { x += v.x; y += v.y; z += v.z; w += v.w; }
    static void add(const Vec4& v1, const Vec4& v2, Vec4* dst) { *dst = v1 + v2; }
    void subtract(const Vec4& v) { x -= v.x; y -= v.y; z -= v.z; w -= v.w; }
    static void subtract(const Vec4& v1, const Vec4& v2, Vec4* dst) { *dst = v1 - v2; }
    float distance(const Vec4& v) const { return std::sqrt(distanceSquared(v)); }
    float distanceSquared(const Vec4& v) const
    {
        const float dx = v.x - x, dy = v.y - y, dz = v.z - z, dw = v.w - w;
        return dx * dx + dy * dy + dz * dz + dw * dw;
    }
    float dot(const Vec4& v) const { return x * v.x + y * v.y + z * v.z + w * v.w; }
    static float dot(const Vec4& v1, const Vec4& v2) { return v1.dot(v2); }
    float length() const { return std::sqrt(lengthSquared()); }
    float lengthSquared() const { return x * x + y * y + z * z + w * w; }
    void negate() { x = -x; y = -y; z = -z; w = -w; }
    void normalize();
    Vec4 getNormalized() const { Vec4 v(*this); v.normalize(); return v; }
    void scale(float s) { x *= s; y *= s; z *= s; w *= s; }
    void set(float xx, float yy, float zz, float ww) { x = xx; y = yy; z = zz; w = ww; }
    void set(const float* a) { x = a[0]; y = a[1]; z = a[2]; w = a[3]; }
    void set(const Vec4& v) { *this = v; }

    Vec4 operator+(const Vec4& v) const { return Vec4(x + v.x, y + v.y, z + v.z, w + v.w); }
    Vec4& operator+=(const Vec4& v) { add(v); return *this; }
    Vec4 operator-(const Vec4& v) const { return Vec4(x - v.x, y - v.y, z - v.z, w - v.w); }
    Vec4& operator-=(const Vec4& v) { subtract(v); return *this; }
    Vec4 operator-() const { return Vec4(-x, -y, -z, -w); }
    Vec4 operator*(float s) const { return Vec4(x * s, y * s, z * s, w * s); }
    Vec4& operator*=(float s) { scale(s); return *this; }
    Vec4 operator/(float s) const { return Vec4(x / s, y / s, z / s, w / s); }
    bool operator==(const Vec4& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
    bool operator!=(const Vec4& v) const { return !(*this == v); }

    static const Vec4 ZERO;
    static const Vec4 ONE;
    static const Vec4 UNIT_X;
    static const Vec4 UNIT_Y;
    static const Vec4 UNIT_Z;
    static const Vec4 UNIT_W;
};

inline Vec4 operator*(float s, const Vec4& v)
{
    return v * s;
}

} // namespace cocos2d
