#include "isGeometry.h"

#include <cmath>

namespace isImageSDK {

namespace {
// Pi as a 32-bit float, widened: the degree conversions of these functions use it.
constexpr double kPi = static_cast<double>(3.14159265358979323846f);
constexpr double kToDegrees = 180.0 / kPi;
constexpr double kToRadians = kPi / 180.0;

// t of the foot of the perpendicular from p onto the line o + t d; 0 for a null direction.
double footParameter(double px, double py, double pz, double ox, double oy, double oz, double dx, double dy, double dz)
{
    const double dd = dx * dx + dy * dy + dz * dz;
    if (dd == 0.0)
        return 0.0;
    return ((px * dx + py * dy + pz * dz) - (ox * dx + oy * dy + oz * dz)) / dd;
}
} // namespace

float distancePointToLine(float px, float py, float pz, float ox, float oy, float oz, float dx, float dy, float dz)
{
    const double t = footParameter(px, py, pz, ox, oy, oz, dx, dy, dz);
    const float fx = static_cast<float>(ox + t * dx), fy = static_cast<float>(oy + t * dy),
                fz = static_cast<float>(oz + t * dz);
    const float ex = fx - px, ey = fy - py, ez = fz - pz;
    return std::sqrt(ex * ex + ey * ey + ez * ez);
}

void projectPointOnLine(float ox, float oy, float oz, float px, float py, float pz, float dx, float dy, float dz,
                        float* outX, float* outY, float* outZ)
{
    const double t = footParameter(px, py, pz, ox, oy, oz, dx, dy, dz);
    *outX = static_cast<float>(ox + t * dx);
    *outY = static_cast<float>(oy + t * dy);
    *outZ = static_cast<float>(oz + t * dz);
}

bool intersectLinePlane(double ox, double oy, double oz, double dx, double dy, double dz, double nx, double ny,
                        double nz, double w, double* outX, double* outY, double* outZ)
{
    const double nd = nx * dx + ny * dy + nz * dz;
    if (nd == 0.0 || !std::isfinite(nd))
        return false;
    const double t = (w - (nx * ox + ny * oy + nz * oz)) / nd;
    *outX = ox + t * dx;
    *outY = oy + t * dy;
    *outZ = oz + t * dz;
    return true;
}

void matrixToEulerAngles(const cocos2d::Mat4& mat, double* x, double* y, double* z)
{
    const float* m = mat.m;
    double ax, ay, az;
    if (std::fabs(m[0]) < 1e-34 && std::fabs(m[1]) < 1e-34) {
        az = 0.0;
        ay = std::atan2(-m[2], m[0]);
        ax = std::atan2(-m[9], m[5]);
    } else {
        az = std::atan2(m[1], m[0]);
        const double s = std::sin(az), c = std::cos(az);
        ay = std::atan2(-m[2], m[0] * c + m[1] * s);
        ax = std::atan2(m[8] * s - m[9] * c, m[5] * c - m[4] * s);
    }
    *x = ax * kToDegrees;
    *y = ay * kToDegrees;
    *z = az * kToDegrees;
}

void makeLookAtMatrix(const cocos2d::Vec3& eye, const cocos2d::Vec3& target, const cocos2d::Vec3& up,
                      cocos2d::Mat4* out)
{
    cocos2d::Vec3 forward = eye - target;
    forward.normalize();
    cocos2d::Vec3 upN = up;
    upN.normalize();
    cocos2d::Vec3 right;
    cocos2d::Vec3::cross(upN, forward, &right);
    right.normalize();
    cocos2d::Vec3 trueUp;
    cocos2d::Vec3::cross(forward, right, &trueUp);
    trueUp.normalize();
    float* m = out->m;
    m[0] = right.x, m[1] = right.y, m[2] = right.z, m[3] = 0;
    m[4] = trueUp.x, m[5] = trueUp.y, m[6] = trueUp.z, m[7] = 0;
    m[8] = forward.x, m[9] = forward.y, m[10] = forward.z, m[11] = 0;
    m[12] = eye.x, m[13] = eye.y, m[14] = eye.z, m[15] = 1;
}

void rotateMatrixX(cocos2d::Mat4* matrix, double radians)
{
    const float c = static_cast<float>(std::cos(radians)), s = static_cast<float>(std::sin(radians));
    cocos2d::Mat4 r;  // identity
    r.m[5] = c, r.m[6] = s, r.m[9] = -s, r.m[10] = c;
    *matrix = *matrix * r;
}

void rotateMatrixY(cocos2d::Mat4* matrix, double radians)
{
    const float c = static_cast<float>(std::cos(radians)), s = static_cast<float>(std::sin(radians));
    cocos2d::Mat4 r;
    r.m[0] = c, r.m[2] = -s, r.m[8] = s, r.m[10] = c;
    *matrix = *matrix * r;
}

void eulerToQuaternion(double x, double y, double z, double ax, double ay, double az, double out[7])
{
    const double hx = ax / 2 * kToRadians, hy = ay / 2 * kToRadians, hz = az / 2 * kToRadians;
    const double cx = std::cos(hx), sx = std::sin(hx);
    const double cy = std::cos(hy), sy = std::sin(hy);
    const double cz = std::cos(hz), sz = std::sin(hz);
    out[0] = x;
    out[1] = y;
    out[2] = z;
    out[3] = cx * cy * cz + sx * sy * sz;
    out[4] = sx * cy * cz - cx * sy * sz;
    out[5] = cx * sy * cz + sx * cy * sz;
    out[6] = cx * cy * sz - sx * sy * cz;
}

void makePoseMatrix(const cocos2d::Vec3& position, double ax, double ay, double az, cocos2d::Mat4* out)
{
    double q[7];
    eulerToQuaternion(position.x, position.y, position.z, ax, ay, az, q);
    const double w = q[3], x = q[4], y = q[5], z = q[6];
    float* m = out->m;
    m[0] = static_cast<float>(1 - 2 * y * y - 2 * z * z);
    m[1] = static_cast<float>(2 * x * y + 2 * w * z);
    m[2] = static_cast<float>(2 * x * z - 2 * w * y);
    m[3] = 0;
    m[4] = static_cast<float>(2 * x * y - 2 * w * z);
    m[5] = static_cast<float>(1 - 2 * x * x - 2 * z * z);
    m[6] = static_cast<float>(2 * y * z + 2 * w * x);
    m[7] = 0;
    m[8] = static_cast<float>(2 * x * z + 2 * w * y);
    m[9] = static_cast<float>(2 * y * z - 2 * w * x);
    m[10] = static_cast<float>(1 - 2 * x * x - 2 * y * y);
    m[11] = 0;
    m[12] = position.x, m[13] = position.y, m[14] = position.z, m[15] = 1;
}

} // namespace isImageSDK
