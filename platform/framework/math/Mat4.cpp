#include "math/Mat4.h"

#include <cstring>

#include "math/Quaternion.h"

namespace cocos2d {

namespace {
const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

const Mat4 Mat4::IDENTITY;
const Mat4 Mat4::ZERO(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);

Mat4::Mat4()
{
    std::memcpy(m, kIdentity, sizeof m);
}

Mat4::Mat4(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
           float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44)
{
    set(m11, m12, m13, m14, m21, m22, m23, m24, m31, m32, m33, m34, m41, m42, m43, m44);
}

Mat4::Mat4(const float* mat)
{
    set(mat);
}

void Mat4::set(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
               float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44)
{
    m[0] = m11; m[1] = m21; m[2] = m31; m[3] = m41;
    m[4] = m12; m[5] = m22; m[6] = m32; m[7] = m42;
    m[8] = m13; m[9] = m23; m[10] = m33; m[11] = m43;
    m[12] = m14; m[13] = m24; m[14] = m34; m[15] = m44;
}

void Mat4::set(const float* mat)
{
    std::memcpy(m, mat, sizeof m);
}

void Mat4::setIdentity()
{
    std::memcpy(m, kIdentity, sizeof m);
}

void Mat4::setZero()
{
    std::memset(m, 0, sizeof m);
}

void Mat4::createLookAt(const Vec3& eye, const Vec3& target, const Vec3& up, Mat4* dst)
{
    createLookAt(eye.x, eye.y, eye.z, target.x, target.y, target.z, up.x, up.y, up.z, dst);
}

void Mat4::createLookAt(float eyeX, float eyeY, float eyeZ, float targetX, float targetY, float targetZ,
                        float upX, float upY, float upZ, Mat4* dst)
{
    const Vec3 eye(eyeX, eyeY, eyeZ);
    Vec3 up(upX, upY, upZ);
    up.normalize();

    // The camera looks down its -z axis.
    Vec3 zaxis = eye - Vec3(targetX, targetY, targetZ);
    zaxis.normalize();
    Vec3 xaxis;
    Vec3::cross(up, zaxis, &xaxis);
    xaxis.normalize();
    Vec3 yaxis;
    Vec3::cross(zaxis, xaxis, &yaxis);
    yaxis.normalize();

    dst->m[0] = xaxis.x; dst->m[1] = yaxis.x; dst->m[2] = zaxis.x; dst->m[3] = 0.0f;
    dst->m[4] = xaxis.y; dst->m[5] = yaxis.y; dst->m[6] = zaxis.y; dst->m[7] = 0.0f;
    dst->m[8] = xaxis.z; dst->m[9] = yaxis.z; dst->m[10] = zaxis.z; dst->m[11] = 0.0f;
    dst->m[12] = -xaxis.dot(eye);
    dst->m[13] = -yaxis.dot(eye);
    dst->m[14] = -zaxis.dot(eye);
    dst->m[15] = 1.0f;
}

void Mat4::createPerspective(float fieldOfView, float aspectRatio, float zNearPlane, float zFarPlane, Mat4* dst)
{
    const float fN = 1.0f / (zFarPlane - zNearPlane);
    const float theta = MATH_DEG_TO_RAD(fieldOfView) * 0.5f;
    const float divisor = std::tan(theta);
    if (std::fabs(divisor) < MATH_TOLERANCE || aspectRatio == 0.0f) {
        dst->setIdentity();
        return;
    }
    const float factor = 1.0f / divisor;
    dst->setZero();
    dst->m[0] = (1.0f / aspectRatio) * factor;
    dst->m[5] = factor;
    dst->m[10] = -(zFarPlane + zNearPlane) * fN;
    dst->m[11] = -1.0f;
    dst->m[14] = -2.0f * zFarPlane * zNearPlane * fN;
}

void Mat4::createOrthographic(float width, float height, float zNearPlane, float zFarPlane, Mat4* dst)
{
    const float halfW = width / 2.0f, halfH = height / 2.0f;
    createOrthographicOffCenter(-halfW, halfW, -halfH, halfH, zNearPlane, zFarPlane, dst);
}

void Mat4::createOrthographicOffCenter(float left, float right, float bottom, float top, float zNearPlane,
                                       float zFarPlane, Mat4* dst)
{
    dst->setZero();
    if (right == left || top == bottom || zFarPlane == zNearPlane) {
        dst->setIdentity();
        return;
    }
    dst->m[0] = 2.0f / (right - left);
    dst->m[5] = 2.0f / (top - bottom);
    dst->m[10] = 2.0f / (zNearPlane - zFarPlane);
    dst->m[12] = (left + right) / (left - right);
    dst->m[13] = (top + bottom) / (bottom - top);
    dst->m[14] = (zNearPlane + zFarPlane) / (zNearPlane - zFarPlane);
    dst->m[15] = 1.0f;
}

void Mat4::createScale(const Vec3& scale, Mat4* dst)
{
    createScale(scale.x, scale.y, scale.z, dst);
}

void Mat4::createScale(float xScale, float yScale, float zScale, Mat4* dst)
{
    dst->setIdentity();
    dst->m[0] = xScale;
    dst->m[5] = yScale;
    dst->m[10] = zScale;
}

void Mat4::createRotation(const Quaternion& q, Mat4* dst)
{
    const float x2 = q.x + q.x, y2 = q.y + q.y, z2 = q.z + q.z;
    const float xx2 = q.x * x2, yy2 = q.y * y2, zz2 = q.z * z2;
    const float xy2 = q.x * y2, xz2 = q.x * z2, yz2 = q.y * z2;
    const float wx2 = q.w * x2, wy2 = q.w * y2, wz2 = q.w * z2;

    dst->m[0] = 1.0f - yy2 - zz2; dst->m[1] = xy2 + wz2; dst->m[2] = xz2 - wy2; dst->m[3] = 0.0f;
    dst->m[4] = xy2 - wz2; dst->m[5] = 1.0f - xx2 - zz2; dst->m[6] = yz2 + wx2; dst->m[7] = 0.0f;
    dst->m[8] = xz2 + wy2; dst->m[9] = yz2 - wx2; dst->m[10] = 1.0f - xx2 - yy2; dst->m[11] = 0.0f;
    dst->m[12] = 0.0f; dst->m[13] = 0.0f; dst->m[14] = 0.0f; dst->m[15] = 1.0f;
}

void Mat4::createRotation(const Vec3& axis, float angle, Mat4* dst)
{
    Vec3 n = axis;
    n.normalize();
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    const float x = n.x, y = n.y, z = n.z;

    dst->m[0] = c + x * x * t; dst->m[1] = t * x * y + s * z; dst->m[2] = t * x * z - s * y; dst->m[3] = 0.0f;
    dst->m[4] = t * x * y - s * z; dst->m[5] = c + y * y * t; dst->m[6] = t * y * z + s * x; dst->m[7] = 0.0f;
    dst->m[8] = t * x * z + s * y; dst->m[9] = t * y * z - s * x; dst->m[10] = c + z * z * t; dst->m[11] = 0.0f;
    dst->m[12] = 0.0f; dst->m[13] = 0.0f; dst->m[14] = 0.0f; dst->m[15] = 1.0f;
}

void Mat4::createRotationX(float angle, Mat4* dst)
{
    dst->setIdentity();
    const float c = std::cos(angle), s = std::sin(angle);
    dst->m[5] = c;
    dst->m[6] = s;
    dst->m[9] = -s;
    dst->m[10] = c;
}

void Mat4::createRotationY(float angle, Mat4* dst)
{
    dst->setIdentity();
    const float c = std::cos(angle), s = std::sin(angle);
    dst->m[0] = c;
    dst->m[2] = -s;
    dst->m[8] = s;
    dst->m[10] = c;
}

void Mat4::createRotationZ(float angle, Mat4* dst)
{
    dst->setIdentity();
    const float c = std::cos(angle), s = std::sin(angle);
    dst->m[0] = c;
    dst->m[1] = s;
    dst->m[4] = -s;
    dst->m[5] = c;
}

void Mat4::createTranslation(const Vec3& t, Mat4* dst)
{
    createTranslation(t.x, t.y, t.z, dst);
}

void Mat4::createTranslation(float x, float y, float z, Mat4* dst)
{
    dst->setIdentity();
    dst->m[12] = x;
    dst->m[13] = y;
    dst->m[14] = z;
}

void Mat4::add(float scalar)
{
    add(scalar, this);
}

void Mat4::add(float scalar, Mat4* dst) const
{
    for (int i = 0; i < 16; ++i) {
        dst->m[i] = m[i] + scalar;
    }
}

void Mat4::add(const Mat4& mat)
{
    add(*this, mat, this);
}

void Mat4::add(const Mat4& m1, const Mat4& m2, Mat4* dst)
{
    for (int i = 0; i < 16; ++i) {
        dst->m[i] = m1.m[i] + m2.m[i];
    }
}

bool Mat4::decompose(Vec3* scale, Quaternion* rotation, Vec3* translation) const
{
    if (translation) {
        getTranslation(translation);
    }
    if (!scale && !rotation) {
        return true;
    }
    Vec3 xaxis(m[0], m[1], m[2]);
    Vec3 yaxis(m[4], m[5], m[6]);
    Vec3 zaxis(m[8], m[9], m[10]);
    float sx = xaxis.length(), sy = yaxis.length(), sz = zaxis.length();
    if (determinant() < 0) {
        sz = -sz; // a reflection: put the sign on z
    }
    if (scale) {
        scale->set(sx, sy, sz);
    }
    if (!rotation) {
        return true;
    }
    if (std::fabs(sx) < MATH_TOLERANCE || std::fabs(sy) < MATH_TOLERANCE || std::fabs(sz) < MATH_TOLERANCE) {
        return false;
    }
    xaxis = xaxis / sx;
    yaxis = yaxis / sy;
    zaxis = zaxis / sz;

    // Rotation matrix to quaternion (columns are the rotated axes).
    const float trace = xaxis.x + yaxis.y + zaxis.z + 1.0f;
    if (trace > MATH_EPSILON) {
        const float s = 0.5f / std::sqrt(trace);
        rotation->w = 0.25f / s;
        rotation->x = (yaxis.z - zaxis.y) * s;
        rotation->y = (zaxis.x - xaxis.z) * s;
        rotation->z = (xaxis.y - yaxis.x) * s;
    } else if (xaxis.x > yaxis.y && xaxis.x > zaxis.z) {
        const float s = 0.5f / std::sqrt(1.0f + xaxis.x - yaxis.y - zaxis.z);
        rotation->w = (yaxis.z - zaxis.y) * s;
        rotation->x = 0.25f / s;
        rotation->y = (yaxis.x + xaxis.y) * s;
        rotation->z = (zaxis.x + xaxis.z) * s;
    } else if (yaxis.y > zaxis.z) {
        const float s = 0.5f / std::sqrt(1.0f + yaxis.y - xaxis.x - zaxis.z);
        rotation->w = (zaxis.x - xaxis.z) * s;
        rotation->x = (yaxis.x + xaxis.y) * s;
        rotation->y = 0.25f / s;
        rotation->z = (zaxis.y + yaxis.z) * s;
    } else {
        const float s = 0.5f / std::sqrt(1.0f + zaxis.z - xaxis.x - yaxis.y);
        rotation->w = (xaxis.y - yaxis.x) * s;
        rotation->x = (zaxis.x + xaxis.z) * s;
        rotation->y = (zaxis.y + yaxis.z) * s;
        rotation->z = 0.25f / s;
    }
    return true;
}

float Mat4::determinant() const
{
    const float a0 = m[0] * m[5] - m[1] * m[4];
    const float a1 = m[0] * m[6] - m[2] * m[4];
    const float a2 = m[0] * m[7] - m[3] * m[4];
    const float a3 = m[1] * m[6] - m[2] * m[5];
    const float a4 = m[1] * m[7] - m[3] * m[5];
    const float a5 = m[2] * m[7] - m[3] * m[6];
    const float b0 = m[8] * m[13] - m[9] * m[12];
    const float b1 = m[8] * m[14] - m[10] * m[12];
    const float b2 = m[8] * m[15] - m[11] * m[12];
    const float b3 = m[9] * m[14] - m[10] * m[13];
    const float b4 = m[9] * m[15] - m[11] * m[13];
    const float b5 = m[10] * m[15] - m[11] * m[14];
    return a0 * b5 - a1 * b4 + a2 * b3 + a3 * b2 - a4 * b1 + a5 * b0;
}

void Mat4::getScale(Vec3* scale) const
{
    decompose(scale, nullptr, nullptr);
}

bool Mat4::getRotation(Quaternion* rotation) const
{
    return decompose(nullptr, rotation, nullptr);
}

void Mat4::getTranslation(Vec3* translation) const
{
    translation->set(m[12], m[13], m[14]);
}

void Mat4::getUpVector(Vec3* dst) const { dst->set(m[4], m[5], m[6]); }
void Mat4::getDownVector(Vec3* dst) const { dst->set(-m[4], -m[5], -m[6]); }
void Mat4::getLeftVector(Vec3* dst) const { dst->set(-m[0], -m[1], -m[2]); }
void Mat4::getRightVector(Vec3* dst) const { dst->set(m[0], m[1], m[2]); }
void Mat4::getForwardVector(Vec3* dst) const { dst->set(-m[8], -m[9], -m[10]); }
void Mat4::getBackVector(Vec3* dst) const { dst->set(m[8], m[9], m[10]); }

bool Mat4::inverse()
{
    const float a0 = m[0] * m[5] - m[1] * m[4];
    const float a1 = m[0] * m[6] - m[2] * m[4];
    const float a2 = m[0] * m[7] - m[3] * m[4];
    const float a3 = m[1] * m[6] - m[2] * m[5];
    const float a4 = m[1] * m[7] - m[3] * m[5];
    const float a5 = m[2] * m[7] - m[3] * m[6];
    const float b0 = m[8] * m[13] - m[9] * m[12];
    const float b1 = m[8] * m[14] - m[10] * m[12];
    const float b2 = m[8] * m[15] - m[11] * m[12];
    const float b3 = m[9] * m[14] - m[10] * m[13];
    const float b4 = m[9] * m[15] - m[11] * m[13];
    const float b5 = m[10] * m[15] - m[11] * m[14];
    const float det = a0 * b5 - a1 * b4 + a2 * b3 + a3 * b2 - a4 * b1 + a5 * b0;
    if (std::fabs(det) <= MATH_TOLERANCE) {
        return false;
    }

    Mat4 inv;
    inv.m[0] = m[5] * b5 - m[6] * b4 + m[7] * b3;
    inv.m[1] = -m[1] * b5 + m[2] * b4 - m[3] * b3;
    inv.m[2] = m[13] * a5 - m[14] * a4 + m[15] * a3;
    inv.m[3] = -m[9] * a5 + m[10] * a4 - m[11] * a3;

    inv.m[4] = -m[4] * b5 + m[6] * b2 - m[7] * b1;
    inv.m[5] = m[0] * b5 - m[2] * b2 + m[3] * b1;
    inv.m[6] = -m[12] * a5 + m[14] * a2 - m[15] * a1;
    inv.m[7] = m[8] * a5 - m[10] * a2 + m[11] * a1;

    inv.m[8] = m[4] * b4 - m[5] * b2 + m[7] * b0;
    inv.m[9] = -m[0] * b4 + m[1] * b2 - m[3] * b0;
    inv.m[10] = m[12] * a4 - m[13] * a2 + m[15] * a0;
    inv.m[11] = -m[8] * a4 + m[9] * a2 - m[11] * a0;

    inv.m[12] = -m[4] * b3 + m[5] * b1 - m[6] * b0;
    inv.m[13] = m[0] * b3 - m[1] * b1 + m[2] * b0;
    inv.m[14] = -m[12] * a3 + m[13] * a1 - m[14] * a0;
    inv.m[15] = m[8] * a3 - m[9] * a1 + m[10] * a0;

    multiply(inv, 1.0f / det, this);
    return true;
}

Mat4 Mat4::getInversed() const
{
    Mat4 r(*this);
    r.inverse();
    return r;
}

bool Mat4::isIdentity() const
{
    return std::memcmp(m, kIdentity, sizeof m) == 0;
}

void Mat4::multiply(float scalar)
{
    multiply(scalar, this);
}

void Mat4::multiply(float scalar, Mat4* dst) const
{
    multiply(*this, scalar, dst);
}

void Mat4::multiply(const Mat4& mat, float scalar, Mat4* dst)
{
    for (int i = 0; i < 16; ++i) {
        dst->m[i] = mat.m[i] * scalar;
    }
}

void Mat4::multiply(const Mat4& mat)
{
    multiply(*this, mat, this);
}

void Mat4::multiply(const Mat4& m1, const Mat4& m2, Mat4* dst)
{
    float r[16];
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            r[col * 4 + row] = m1.m[row] * m2.m[col * 4] + m1.m[4 + row] * m2.m[col * 4 + 1] +
                               m1.m[8 + row] * m2.m[col * 4 + 2] + m1.m[12 + row] * m2.m[col * 4 + 3];
        }
    }
    std::memcpy(dst->m, r, sizeof r);
}

void Mat4::negate()
{
    for (float& v : m) {
        v = -v;
    }
}

Mat4 Mat4::getNegated() const
{
    Mat4 r(*this);
    r.negate();
    return r;
}

void Mat4::rotate(const Quaternion& q)
{
    rotate(q, this);
}

void Mat4::rotate(const Quaternion& q, Mat4* dst) const
{
    Mat4 r;
    createRotation(q, &r);
    multiply(*this, r, dst);
}

void Mat4::rotate(const Vec3& axis, float angle)
{
    rotate(axis, angle, this);
}

void Mat4::rotate(const Vec3& axis, float angle, Mat4* dst) const
{
    Mat4 r;
    createRotation(axis, angle, &r);
    multiply(*this, r, dst);
}

void Mat4::rotateX(float angle)
{
    rotateX(angle, this);
}

void Mat4::rotateX(float angle, Mat4* dst) const
{
    Mat4 r;
    createRotationX(angle, &r);
    multiply(*this, r, dst);
}

void Mat4::rotateY(float angle)
{
    rotateY(angle, this);
}

void Mat4::rotateY(float angle, Mat4* dst) const
{
    Mat4 r;
    createRotationY(angle, &r);
    multiply(*this, r, dst);
}

void Mat4::rotateZ(float angle)
{
    rotateZ(angle, this);
}

void Mat4::rotateZ(float angle, Mat4* dst) const
{
    Mat4 r;
    createRotationZ(angle, &r);
    multiply(*this, r, dst);
}

void Mat4::scale(float value)
{
    scale(value, value, value, this);
}

void Mat4::scale(float value, Mat4* dst) const
{
    scale(value, value, value, dst);
}

void Mat4::scale(float xScale, float yScale, float zScale)
{
    scale(xScale, yScale, zScale, this);
}

void Mat4::scale(float xScale, float yScale, float zScale, Mat4* dst) const
{
    Mat4 s;
    createScale(xScale, yScale, zScale, &s);
    multiply(*this, s, dst);
}

void Mat4::scale(const Vec3& s)
{
    scale(s.x, s.y, s.z, this);
}

void Mat4::scale(const Vec3& s, Mat4* dst) const
{
    scale(s.x, s.y, s.z, dst);
}

void Mat4::subtract(const Mat4& mat)
{
    subtract(*this, mat, this);
}

void Mat4::subtract(const Mat4& m1, const Mat4& m2, Mat4* dst)
{
    for (int i = 0; i < 16; ++i) {
        dst->m[i] = m1.m[i] - m2.m[i];
    }
}

void Mat4::transformVector(float x, float y, float z, float w, Vec3* dst) const
{
    const float rx = x * m[0] + y * m[4] + z * m[8] + w * m[12];
    const float ry = x * m[1] + y * m[5] + z * m[9] + w * m[13];
    const float rz = x * m[2] + y * m[6] + z * m[10] + w * m[14];
    dst->set(rx, ry, rz);
}

void Mat4::transformVector(const Vec4& v, Vec4* dst) const
{
    const float rx = v.x * m[0] + v.y * m[4] + v.z * m[8] + v.w * m[12];
    const float ry = v.x * m[1] + v.y * m[5] + v.z * m[9] + v.w * m[13];
    const float rz = v.x * m[2] + v.y * m[6] + v.z * m[10] + v.w * m[14];
    const float rw = v.x * m[3] + v.y * m[7] + v.z * m[11] + v.w * m[15];
    dst->set(rx, ry, rz, rw);
}

void Mat4::translate(float x, float y, float z)
{
    translate(x, y, z, this);
}

void Mat4::translate(float x, float y, float z, Mat4* dst) const
{
    Mat4 t;
    createTranslation(x, y, z, &t);
    multiply(*this, t, dst);
}

void Mat4::translate(const Vec3& t)
{
    translate(t.x, t.y, t.z, this);
}

void Mat4::translate(const Vec3& t, Mat4* dst) const
{
    translate(t.x, t.y, t.z, dst);
}

void Mat4::transpose()
{
    *this = getTransposed();
}

Mat4 Mat4::getTransposed() const
{
    Mat4 r;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            r.m[row * 4 + c] = m[c * 4 + row];
        }
    }
    return r;
}

bool Mat4::operator==(const Mat4& mat) const
{
    for (int i = 0; i < 16; ++i) {
        if (m[i] != mat.m[i]) {
            return false;
        }
    }
    return true;
}

} // namespace cocos2d
