// Quaternion: a rotation (x, y, z) * sin(angle/2), w = cos(angle/2).
#pragma once

#include "math/Vec3.h"

namespace cocos2d {

class Mat4;

class Quaternion {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    Quaternion() = default;
    Quaternion(float xx, float yy, float zz, float ww) : x(xx), y(yy), z(zz), w(ww) {}
    explicit Quaternion(const float* array) : x(array[0]), y(array[1]), z(array[2]), w(array[3]) {}
    explicit Quaternion(const Mat4& m);
    // A rotation of `angle` radians about the axis.
    Quaternion(const Vec3& axis, float angle);

    static const Quaternion& identity();
    static const Quaternion& zero();

    bool isIdentity() const { return x == 0.0f && y == 0.0f && z == 0.0f && w == 1.0f; }
    bool isZero() const { return x == 0.0f && y == 0.0f && z == 0.0f && w == 0.0f; }

    static void createFromRotationMatrix(const Mat4& m, Quaternion* dst);
    static void createFromAxisAngle(const Vec3& axis, float angle, Quaternion* dst);

    void conjugate() { x = -x; y = -y; z = -z; }
    Quaternion getConjugated() const { Quaternion q(*this); q.conjugate(); return q; }
    bool inverse();
    Quaternion getInversed() const { Quaternion q(*this); q.inverse(); return q; }
    void multiply(const Quaternion& q) { multiply(*this, q, this); }
    static void multiply(const Quaternion& q1, const Quaternion& q2, Quaternion* dst);
    void normalize();
    Quaternion getNormalized() const { Quaternion q(*this); q.normalize(); return q; }
    void set(float xx, float yy, float zz, float ww) { x = xx; y = yy; z = zz; w = ww; }
    void set(const float* array) { x = array[0]; y = array[1]; z = array[2]; w = array[3]; }
    void set(const Mat4& m) { createFromRotationMatrix(m, this); }
    void set(const Vec3& axis, float angle) { createFromAxisAngle(axis, angle, this); }
    void setIdentity() { x = y = z = 0.0f; w = 1.0f; }
    // Writes the unit axis and returns the angle in radians.
    float toAxisAngle(Vec3* e) const;

    static void lerp(const Quaternion& q1, const Quaternion& q2, float t, Quaternion* dst);
    static void slerp(const Quaternion& q1, const Quaternion& q2, float t, Quaternion* dst);

    Quaternion operator*(const Quaternion& q) const { Quaternion r; multiply(*this, q, &r); return r; }
    Quaternion& operator*=(const Quaternion& q) { multiply(q); return *this; }
    // Rotates a vector.
    Vec3 operator*(const Vec3& v) const;
    bool operator==(const Quaternion& q) const { return x == q.x && y == q.y && z == q.z && w == q.w; }

    static const Quaternion ZERO;
};

} // namespace cocos2d
