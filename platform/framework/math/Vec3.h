// Vec3: a 3D point or vector. Which space a point is in is the caller's to say.
#pragma once

#include <cmath>

#include "math/CCMathBase.h"

namespace cocos2d {

class Vec3 {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vec3() = default;
    Vec3(float xx, float yy, float zz) : x(xx), y(yy), z(zz) {}
    explicit Vec3(const float* array) : x(array[0]), y(array[1]), z(array[2]) {}
    // The vector from p1 to p2.
    Vec3(const Vec3& p1, const Vec3& p2) : x(p2.x - p1.x), y(p2.y - p1.y), z(p2.z - p1.z) {}
    Vec3(const Vec3&) = default;
    Vec3& operator=(const Vec3&) = default;

    bool isZero() const { return x == 0.0f && y == 0.0f && z == 0.0f; }
    bool isOne() const { return x == 1.0f && y == 1.0f && z == 1.0f; }

    // The angle between two vectors, in radians.
    static float angle(const Vec3& v1, const Vec3& v2);

    void add(const Vec3& v) { x += v.x; y += v.y; z += v.z; }
    void add(float xx, float yy, float zz) { x += xx; y += yy; z += zz; }
    static void add(const Vec3& v1, const Vec3& v2, Vec3* dst) { *dst = v1 + v2; }
    void subtract(const Vec3& v) { x -= v.x; y -= v.y; z -= v.z; }
    static void subtract(const Vec3& v1, const Vec3& v2, Vec3* dst) { *dst = v1 - v2; }
    void clamp(const Vec3& min, const Vec3& max);
    static void clamp(const Vec3& v, const Vec3& min, const Vec3& max, Vec3* dst);

    void cross(const Vec3& v) { cross(*this, v, this); }
    static void cross(const Vec3& v1, const Vec3& v2, Vec3* dst);
    Vec3 getCross(const Vec3& v) const { Vec3 r; cross(*this, v, &r); return r; }

    float distance(const Vec3& v) const { return std::sqrt(distanceSquared(v)); }
    float distanceSquared(const Vec3& v) const
    {
        const float dx = v.x - x, dy = v.y - y, dz = v.z - z;
        return dx * dx + dy * dy + dz * dz;
    }
    float dot(const Vec3& v) const { return x * v.x + y * v.y + z * v.z; }
    static float dot(const Vec3& v1, const Vec3& v2) { return v1.dot(v2); }
    float length() const { return std::sqrt(x * x + y * y + z * z); }
    float lengthSquared() const { return x * x + y * y + z * z; }
    void negate() { x = -x; y = -y; z = -z; }
    // Leaves a zero vector unchanged.
    void normalize();
    Vec3 getNormalized() const { Vec3 v(*this); v.normalize(); return v; }
    void scale(float s) { x *= s; y *= s; z *= s; }
    void set(float xx, float yy, float zz) { x = xx; y = yy; z = zz; }
    void set(const float* array) { x = array[0]; y = array[1]; z = array[2]; }
    void set(const Vec3& v) { *this = v; }
    void set(const Vec3& p1, const Vec3& p2) { *this = p2 - p1; }
    void setZero() { x = y = z = 0.0f; }
    Vec3 lerp(const Vec3& target, float alpha) const { return *this * (1.0f - alpha) + target * alpha; }
    bool equals(const Vec3& v) const { return *this == v; }
    bool fuzzyEquals(const Vec3& v, float variance) const
    {
        return std::fabs(x - v.x) <= variance && std::fabs(y - v.y) <= variance && std::fabs(z - v.z) <= variance;
    }

    Vec3 operator+(const Vec3& v) const { return Vec3(x + v.x, y + v.y, z + v.z); }
    Vec3& operator+=(const Vec3& v) { add(v); return *this; }
    Vec3 operator-(const Vec3& v) const { return Vec3(x - v.x, y - v.y, z - v.z); }
    Vec3& operator-=(const Vec3& v) { subtract(v); return *this; }
    Vec3 operator-() const { return Vec3(-x, -y, -z); }
    Vec3 operator*(float s) const { return Vec3(x * s, y * s, z * s); }
    Vec3& operator*=(float s) { scale(s); return *this; }
    Vec3 operator/(float s) const { return Vec3(x / s, y / s, z / s); }
    Vec3& operator/=(float s) { x /= s; y /= s; z /= s; return *this; }
    bool operator<(const Vec3& v) const
    {
        if (x != v.x) return x < v.x;
        if (y != v.y) return y < v.y;
        return z < v.z;
    }
    bool operator==(const Vec3& v) const { return x == v.x && y == v.y && z == v.z; }
    bool operator!=(const Vec3& v) const { return !(*this == v); }

    static const Vec3 ZERO;
    static const Vec3 ONE;
    static const Vec3 UNIT_X;
    static const Vec3 UNIT_Y;
    static const Vec3 UNIT_Z;
};

inline Vec3 operator*(float s, const Vec3& v)
{
    return v * s;
}

} // namespace cocos2d
