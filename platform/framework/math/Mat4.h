// Mat4: a 4x4 matrix for OpenGL-style transforms (right-handed, clip space -1..1).
//
// Storage is column-major: m[0..3] is the first column, m[12], m[13], m[14] the translation.
// The sixteen-value constructor and set() take their arguments ROW BY ROW:
//   Mat4(m11, m12, m13, m14, m21, ..., m44) stores m[0]=m11, m[1]=m21, m[2]=m31, m[3]=m41,
//   m[4]=m12, ... so a row-major array read in order gives the matrix it describes.
// Points are column vectors: p' = M * p. The in-place operations that combine with another
// transform (rotate*, scale, translate, multiply) multiply on the right: this = this * X.
#pragma once

#include "math/Vec3.h"
#include "math/Vec4.h"

namespace cocos2d {

class Quaternion;

class Mat4 {
public:
    float m[16];

    // The identity.
    Mat4();
    Mat4(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
         float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44);
    // From sixteen values in column-major order.
    explicit Mat4(const float* mat);
    Mat4(const Mat4& copy) = default;
    Mat4& operator=(const Mat4&) = default;

    static void createLookAt(const Vec3& eye, const Vec3& target, const Vec3& up, Mat4* dst);
    static void createLookAt(float eyeX, float eyeY, float eyeZ, float targetX, float targetY,
                             float targetZ, float upX, float upY, float upZ, Mat4* dst);
    // fieldOfView in degrees (vertical).
    static void createPerspective(float fieldOfView, float aspectRatio, float zNearPlane,
                                  float zFarPlane, Mat4* dst);
    static void createOrthographic(float width, float height, float zNearPlane, float zFarPlane, Mat4* dst);
    static void createOrthographicOffCenter(float left, float right, float bottom, float top,
                                            float zNearPlane, float zFarPlane, Mat4* dst);
    static void createScale(const Vec3& scale, Mat4* dst);
    static void createScale(float xScale, float yScale, float zScale, Mat4* dst);
    static void createRotation(const Quaternion& quat, Mat4* dst);
    // Angles in radians, counter-clockwise about the axis (right-hand rule).
    static void createRotation(const Vec3& axis, float angle, Mat4* dst);
    static void createRotationX(float angle, Mat4* dst);
    static void createRotationY(float angle, Mat4* dst);
    static void createRotationZ(float angle, Mat4* dst);
    static void createTranslation(const Vec3& translation, Mat4* dst);
    static void createTranslation(float xTranslation, float yTranslation, float zTranslation, Mat4* dst);

    void add(float scalar);
    void add(float scalar, Mat4* dst) const;
    void add(const Mat4& mat);
    static void add(const Mat4& m1, const Mat4& m2, Mat4* dst);

    // Splits an affine matrix into scale, rotation and translation; false when it cannot.
    bool decompose(Vec3* scale, Quaternion* rotation, Vec3* translation) const;
    float determinant() const;
    void getScale(Vec3* scale) const;
    bool getRotation(Quaternion* rotation) const;
    void getTranslation(Vec3* translation) const;
    Vec3 getTranslation() const { return Vec3(m[12], m[13], m[14]); }
    void getUpVector(Vec3* dst) const;
    void getDownVector(Vec3* dst) const;
    void getLeftVector(Vec3* dst) const;
    void getRightVector(Vec3* dst) const;
    void getForwardVector(Vec3* dst) const;
    void getBackVector(Vec3* dst) const;

    // Inverts in place; on a singular matrix returns false and leaves the matrix unchanged.
    bool inverse();
    // The inverse, or this matrix unchanged when it is singular.
    Mat4 getInversed() const;

    bool isIdentity() const;

    void multiply(float scalar);
    void multiply(float scalar, Mat4* dst) const;
    static void multiply(const Mat4& mat, float scalar, Mat4* dst);
    // this = this * mat
    void multiply(const Mat4& mat);
    // dst = m1 * m2 (dst may alias either)
    static void multiply(const Mat4& m1, const Mat4& m2, Mat4* dst);

    void negate();
    Mat4 getNegated() const;

    void rotate(const Quaternion& q);
    void rotate(const Quaternion& q, Mat4* dst) const;
    void rotate(const Vec3& axis, float angle);
    void rotate(const Vec3& axis, float angle, Mat4* dst) const;
    void rotateX(float angle);
    void rotateX(float angle, Mat4* dst) const;
    void rotateY(float angle);
    void rotateY(float angle, Mat4* dst) const;
    void rotateZ(float angle);
    void rotateZ(float angle, Mat4* dst) const;

    void scale(float value);
    void scale(float value, Mat4* dst) const;
    void scale(float xScale, float yScale, float zScale);
    void scale(float xScale, float yScale, float zScale, Mat4* dst) const;
    void scale(const Vec3& s);
    void scale(const Vec3& s, Mat4* dst) const;

    // Row by row, as the sixteen-value constructor.
    void set(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
             float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44);
    // Column-major.
    void set(const float* mat);
    void set(const Mat4& mat) { *this = mat; }
    void setIdentity();
    void setZero();

    void subtract(const Mat4& mat);
    static void subtract(const Mat4& m1, const Mat4& m2, Mat4* dst);

    // As a point (w = 1); no perspective divide.
    void transformPoint(Vec3* point) const { transformVector(point->x, point->y, point->z, 1.0f, point); }
    void transformPoint(const Vec3& point, Vec3* dst) const { transformVector(point.x, point.y, point.z, 1.0f, dst); }
    // As a direction (w = 0): the translation is ignored.
    void transformVector(Vec3* vector) const { transformVector(vector->x, vector->y, vector->z, 0.0f, vector); }
    void transformVector(const Vec3& vector, Vec3* dst) const { transformVector(vector.x, vector.y, vector.z, 0.0f, dst); }
    void transformVector(float x, float y, float z, float w, Vec3* dst) const;
    void transformVector(Vec4* vector) const { transformVector(*vector, vector); }
    void transformVector(const Vec4& vector, Vec4* dst) const;

    void translate(float x, float y, float z);
    void translate(float x, float y, float z, Mat4* dst) const;
    void translate(const Vec3& t);
    void translate(const Vec3& t, Mat4* dst) const;

    void transpose();
    Mat4 getTransposed() const;

    Mat4 operator+(const Mat4& mat) const { Mat4 r(*this); r.add(mat); return r; }
    Mat4& operator+=(const Mat4& mat) { add(mat); return *this; }
    Mat4 operator-(const Mat4& mat) const { Mat4 r(*this); r.subtract(mat); return r; }
    Mat4& operator-=(const Mat4& mat) { subtract(mat); return *this; }
    Mat4 operator-() const { return getNegated(); }
    Mat4 operator*(const Mat4& mat) const { Mat4 r; multiply(*this, mat, &r); return r; }
    Mat4& operator*=(const Mat4& mat) { multiply(mat); return *this; }
    bool operator==(const Mat4& mat) const;
    bool operator!=(const Mat4& mat) const { return !(*this == mat); }

    static const Mat4 ZERO;
    static const Mat4 IDENTITY;
};

// M * v as a direction (w = 0), as the in-place transformVector.
inline Vec3 operator*(const Mat4& m, const Vec3& v)
{
    Vec3 r;
    m.transformVector(v, &r);
    return r;
}
inline Vec3& operator*=(Vec3& v, const Mat4& m)
{
    m.transformVector(&v);
    return v;
}
inline Vec4 operator*(const Mat4& m, const Vec4& v)
{
    Vec4 r;
    m.transformVector(v, &r);
    return r;
}
inline Vec4& operator*=(Vec4& v, const Mat4& m)
{
    m.transformVector(&v);
    return v;
}

} // namespace cocos2d
