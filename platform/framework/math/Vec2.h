// Vec2: a 2D point or vector (design units unless a caller says otherwise).
#pragma once

#include <cmath>

#include "math/CCMathBase.h"

namespace cocos2d {

class Vec2 {
public:
    float x = 0.0f;
    float y = 0.0f;

    Vec2() = default;
    Vec2(float xx, float yy) : x(xx), y(yy) {}
    explicit Vec2(const float* array) : x(array[0]), y(array[1]) {}
    // The vector from p1 to p2.
    Vec2(const Vec2& p1, const Vec2& p2) : x(p2.x - p1.x), y(p2.y - p1.y) {}
    Vec2(const Vec2&) = default;
    Vec2& operator=(const Vec2&) = default;

    bool isZero() const { return x == 0.0f && y == 0.0f; }
    bool isOne() const { return x == 1.0f && y == 1.0f; }

    static float angle(const Vec2& v1, const Vec2& v2);

    void add(const Vec2& v) { x += v.x; y += v.y; }
    static void add(const Vec2& v1, const Vec2& v2, Vec2* dst) { dst->x = v1.x + v2.x; dst->y = v1.y + v2.y; }
    void subtract(const Vec2& v) { x -= v.x; y -= v.y; }
    static void subtract(const Vec2& v1, const Vec2& v2, Vec2* dst) { dst->x = v1.x - v2.x; dst->y = v1.y - v2.y; }
    void clamp(const Vec2& min, const Vec2& max);
    static void clamp(const Vec2& v, const Vec2& min, const Vec2& max, Vec2* dst);

    float distance(const Vec2& v) const { return std::sqrt(distanceSquared(v)); }
    float distanceSquared(const Vec2& v) const { float dx = v.x - x, dy = v.y - y; return dx * dx + dy * dy; }
    float dot(const Vec2& v) const { return x * v.x + y * v.y; }
    static float dot(const Vec2& v1, const Vec2& v2) { return v1.dot(v2); }
    float length() const { return std::sqrt(x * x + y * y); }
    float lengthSquared() const { return x * x + y * y; }
    void negate() { x = -x; y = -y; }
    void normalize();
    Vec2 getNormalized() const { Vec2 v(*this); v.normalize(); return v; }
    void scale(float s) { x *= s; y *= s; }
    void scale(const Vec2& s) { x *= s.x; y *= s.y; }
    // Rotates this point about `point` by `angle` radians (counter-clockwise).
    void rotate(const Vec2& point, float angle);
    void set(float xx, float yy) { x = xx; y = yy; }
    void set(const float* array) { x = array[0]; y = array[1]; }
    void set(const Vec2& v) { x = v.x; y = v.y; }
    void set(const Vec2& p1, const Vec2& p2) { x = p2.x - p1.x; y = p2.y - p1.y; }
    void setZero() { x = y = 0.0f; }
    void setPoint(float xx, float yy) { x = xx; y = yy; }

    bool equals(const Vec2& v) const { return std::fabs(x - v.x) < MATH_FLOAT_SMALL && std::fabs(y - v.y) < MATH_FLOAT_SMALL; }
    bool fuzzyEquals(const Vec2& v, float variance) const
    {
        return x - variance <= v.x && v.x <= x + variance && y - variance <= v.y && v.y <= y + variance;
    }

    float getLength() const { return length(); }
    float getLengthSq() const { return lengthSquared(); }
    float getDistance(const Vec2& other) const { return distance(other); }
    float getDistanceSq(const Vec2& other) const { return distanceSquared(other); }
    // Angle of the vector against the x axis, in radians.
    float getAngle() const { return std::atan2(y, x); }
    float getAngle(const Vec2& other) const;
    float cross(const Vec2& other) const { return x * other.y - y * other.x; }
    Vec2 getPerp() const { return Vec2(-y, x); }
    Vec2 getRPerp() const { return Vec2(y, -x); }
    Vec2 getMidpoint(const Vec2& other) const { return Vec2((x + other.x) / 2.0f, (y + other.y) / 2.0f); }
    Vec2 getClampPoint(const Vec2& min, const Vec2& max) const;
    Vec2 project(const Vec2& other) const { return other * (dot(other) / other.dot(other)); }
    // Complex multiplication: rotates by the angle of `other` and scales by its length.
    Vec2 rotate(const Vec2& other) const { return Vec2(x * other.x - y * other.y, x * other.y + y * other.x); }
    Vec2 unrotate(const Vec2& other) const { return Vec2(x * other.x + y * other.y, y * other.x - x * other.y); }
    Vec2 lerp(const Vec2& other, float alpha) const { return *this * (1.0f - alpha) + other * alpha; }
    Vec2 rotateByAngle(const Vec2& pivot, float angle) const;
    static Vec2 forAngle(float a) { return Vec2(std::cos(a), std::sin(a)); }

    Vec2 operator+(const Vec2& v) const { return Vec2(x + v.x, y + v.y); }
    Vec2& operator+=(const Vec2& v) { add(v); return *this; }
    Vec2 operator-(const Vec2& v) const { return Vec2(x - v.x, y - v.y); }
    Vec2& operator-=(const Vec2& v) { subtract(v); return *this; }
    Vec2 operator-() const { return Vec2(-x, -y); }
    Vec2 operator*(float s) const { return Vec2(x * s, y * s); }
    Vec2& operator*=(float s) { scale(s); return *this; }
    Vec2 operator/(float s) const { return Vec2(x / s, y / s); }
    Vec2& operator/=(float s) { x /= s; y /= s; return *this; }
    bool operator<(const Vec2& v) const { return x == v.x ? y < v.y : x < v.x; }
    bool operator>(const Vec2& v) const { return x == v.x ? y > v.y : x > v.x; }
    bool operator==(const Vec2& v) const { return x == v.x && y == v.y; }
    bool operator!=(const Vec2& v) const { return !(*this == v); }

    static const Vec2 ZERO;
    static const Vec2 ONE;
    static const Vec2 UNIT_X;
    static const Vec2 UNIT_Y;
    static const Vec2 ANCHOR_MIDDLE;
    static const Vec2 ANCHOR_BOTTOM_LEFT;
    static const Vec2 ANCHOR_TOP_LEFT;
    static const Vec2 ANCHOR_BOTTOM_RIGHT;
    static const Vec2 ANCHOR_TOP_RIGHT;
    static const Vec2 ANCHOR_MIDDLE_RIGHT;
    static const Vec2 ANCHOR_MIDDLE_LEFT;
    static const Vec2 ANCHOR_MIDDLE_TOP;
    static const Vec2 ANCHOR_MIDDLE_BOTTOM;
};

inline Vec2 operator*(float s, const Vec2& v)
{
    return v * s;
}

typedef Vec2 Point;

} // namespace cocos2d
