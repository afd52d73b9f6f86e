#include "isCamera.h"

#include "isGeometry.h"

#include <algorithm>
#include <cmath>

namespace isImageSDK {

namespace {

constexpr float kFieldOfView = 60.0f;
constexpr float kNearPlane = 1.0f;
constexpr float kFarPlane = 1000.0f;
// Extremes of the corner scan of the fitting functions.
constexpr float kScanStart = 99999.0f;
// Planes thinner than this (world units) are not fitted.
constexpr float kThinPlane = 0.5f;
// pi as a 32-bit float, as the fitting has always used it.
constexpr float kPi = 3.1415925f;

} // namespace

bool isCamera::init()
{
    if (!cocos2d::Node::init())
        return false;
    m_changed = false;
    m_perspective = false;
    m_zoom = m_lastZoom = 1.0f;
    m_target = m_savedTarget;
    m_up = m_savedUp;
    m_viewWidth = m_viewHeight = 1.0f;
    setPosition3D(m_savedPosition);
    m_useLookAtView = false;
    m_extraProjection = cocos2d::Mat4::IDENTITY;
    _fieldOfView = kFieldOfView;
    _nearPlane = kNearPlane;
    _farPlane = kFarPlane;
    m_viewDirty = true;
    return true;
}

void isCamera::setPosition3D(const cocos2d::Vec3& position)
{
    cocos2d::Camera::setPosition3D(position);
    lookAt(m_target, m_up);
}

void isCamera::lookAt(const cocos2d::Vec3& target, const cocos2d::Vec3& up)
{
    m_viewDirty = true;
    m_target = target;
    m_up = up;
    const cocos2d::Vec3 eye = getPosition3D();
    cocos2d::Mat4 m;
    makeLookAtMatrix(eye, target, up, &m);
    double x = 0, y = 0, z = 0;
    matrixToEulerAngles(m, &x, &y, &z);
    cocos2d::Camera::setRotation3D(cocos2d::Vec3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
    m_savedPosition = eye;
    m_savedTarget = target;
    m_savedUp = up;
    m_viewNormal = cocos2d::Vec3(-m.m[8], -m.m[9], -m.m[10]);
    m_viewRight = cocos2d::Vec3(m.m[0], m.m[1], m.m[2]);
    m_distance = (target - eye).length();
    m_changed = true;
    markTransformDirty();
}

const cocos2d::Mat4& isCamera::getNodeToParentTransform() const
{
    if (_transformDirty) {
        makeLookAtMatrix(getPosition3D(), m_target, m_up, &_transform);
        if (_useAdditionalTransform)
            _transform = _transform * _additionalTransform;
        _transformDirty = false;
    }
    return _transform;
}

const cocos2d::Mat4& isCamera::getViewMatrix() const
{
    if (!m_useLookAtView)
        return cocos2d::Camera::getViewMatrix();
    if (!m_viewDirty)
        return _view;
    m_viewDirty = false;
    cocos2d::Mat4 m;
    makeLookAtMatrix(getPosition3D(), m_target, m_up, &m);
    _viewInv = m;
    _viewProjectionDirty = true;
    _view = m.getInversed();
    return _view;
}

void isCamera::applyViewport()
{
    cocos2d::Camera::applyViewport();
}

void isCamera::setCameraPosition(const cocos2d::Vec3& position)
{
    m_viewDirty = true;
    setPosition3D(position);
}

void isCamera::setUseLookAtView(bool use)
{
    m_useLookAtView = use;
    m_viewDirty = true;
    markViewProjectionDirty();
}

cocos2d::Mat4 isCamera::orthographicProjection() const
{
    cocos2d::Mat4 p;
    const float halfWidth = m_viewWidth * 0.5f * m_zoom, halfHeight = m_viewHeight * 0.5f * m_zoom;
    cocos2d::Mat4::createOrthographicOffCenter(-halfWidth, halfWidth, -halfHeight, halfHeight, _nearPlane, _farPlane,
                                               &p);
    return p;
}

bool isCamera::setupProjection(float fieldOfView, float width, float height, float nearPlane, float farPlane,
                               const cocos2d::Mat4& extra)
{
    _nearPlane = nearPlane;
    _farPlane = farPlane;
    m_viewWidth = width;
    m_viewHeight = height;
    if (!m_perspective) {
        _projection = orthographicProjection();
        markViewProjectionDirty();
    } else {
        initPerspective(fieldOfView, width / height, nearPlane, farPlane);
    }
    setAdditionalProjection(extra);
    m_extraProjection = extra;
    m_changed = true;
    return true;
}

void isCamera::setZoom(float zoom)
{
    m_zoom = zoom;
    m_lastZoom = zoom;
    setupProjection(_fieldOfView, m_viewWidth, m_viewHeight, _nearPlane, _farPlane, m_extraProjection);
}

cocos2d::Mat4 isCamera::conversionMatrix() const
{
    cocos2d::Mat4 projection;
    if (m_perspective)
        cocos2d::Mat4::createPerspective(_fieldOfView, _aspectRatio, _nearPlane, _farPlane, &projection);
    else
        projection = orthographicProjection();
    return projection * getNodeToParentTransform().getInversed();
}

void isCamera::screenToWorld(const cocos2d::Vec3& window, cocos2d::Vec3* world) const
{
    if (!world)
        return;
    cocos2d::Vec4 p(2.0f * window.x / m_viewWidth - 1.0f, 2.0f * window.y / m_viewHeight - 1.0f, 2.0f * window.z - 1.0f,
                    1.0f);
    conversionMatrix().getInversed().transformVector(&p);
    if (p.w != 0.0f) {
        p.x /= p.w;
        p.y /= p.w;
        p.z /= p.w;
    }
    world->set(p.x, p.y, p.z);
}

void isCamera::worldToScreen(const cocos2d::Vec3& world, cocos2d::Vec3* window) const
{
    if (!window)
        return;
    cocos2d::Vec4 q(world.x, world.y, world.z, 1.0f);
    conversionMatrix().transformVector(&q);
    if (q.w != 0.0f) {
        q.x /= q.w;
        q.y /= q.w;
        q.z /= q.w;
    }
    window->set((q.x + 1.0f) * 0.5f * m_viewWidth, (q.y + 1.0f) * 0.5f * m_viewHeight,
                static_cast<float>((static_cast<double>(q.z) + 1.0) / 2.0));
}

void isCamera::getPickRay(const cocos2d::Vec2& window, cocos2d::Vec3* origin, cocos2d::Vec3* direction) const
{
    cocos2d::Vec3 nearPoint, farPoint;
    screenToWorld(cocos2d::Vec3(window.x, window.y, 0.0f), &nearPoint);
    screenToWorld(cocos2d::Vec3(window.x, window.y, 1.0f), &farPoint);
    if (origin)
        *origin = nearPoint;
    if (direction) {
        *direction = farPoint - nearPoint;
        direction->normalize();
    }
}

void isCamera::worldToCameraLocal(cocos2d::Vec3* point) const
{
    if (point)
        getNodeToParentTransform().getInversed().transformPoint(point);
}

void isCamera::projectOntoViewPlane(const cocos2d::Vec3& point, cocos2d::Vec3* out) const
{
    if (!out)
        return;
    const double nx = m_viewNormal.x, ny = m_viewNormal.y, nz = m_viewNormal.z;
    const double nn = nx * nx + ny * ny + nz * nz;
    if (nn == 0.0) {
        *out = point;
        return;
    }
    const double tn = m_target.x * nx + m_target.y * ny + m_target.z * nz;
    const double pn = point.x * nx + point.y * ny + point.z * nz;
    const double s = (tn - pn) / nn;
    out->set(static_cast<float>(point.x + s * nx), static_cast<float>(point.y + s * ny),
             static_cast<float>(point.z + s * nz));
}

namespace {

// Extents (x, y) of four world corners in the camera's frame.
void cameraExtents(const isCamera& camera, const float corners[12], float* ex, float* ey)
{
    float minX = kScanStart, maxX = -kScanStart, minY = kScanStart, maxY = -kScanStart;
    for (int i = 0; i < 4; ++i) {
        cocos2d::Vec3 c(corners[3 * i], corners[3 * i + 1], corners[3 * i + 2]);
        camera.worldToCameraLocal(&c);
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    *ex = maxX - minX;
    *ey = maxY - minY;
}

} // namespace

double isCamera::computeFitZoom(const float corners[12]) const
{
    float ex = 0, ey = 0;
    cameraExtents(*this, corners, &ex, &ey);
    if (ex < kThinPlane || ey < kThinPlane || m_perspective)
        return 1.0;
    const float aspect = m_viewWidth / m_viewHeight;
    return aspect > ex / ey ? ey / m_viewHeight : ex / m_viewWidth;
}

double isCamera::computeFitDistance(const float corners[12]) const
{
    if (!m_perspective)
        return _nearPlane + (_farPlane - _nearPlane) * 0.5;
    float ex = 0, ey = 0;
    cameraExtents(*this, corners, &ex, &ey);
    const float h = m_viewWidth / m_viewHeight > ex / ey ? ey * 0.5f : ex * 0.5f / _aspectRatio;
    double distance = h / std::tan(_fieldOfView * 0.5f / 180.0f * kPi);
    // Kept inside (near, far); a degenerate plane (NaN) ends at far - 1.
    if (!(distance <= _farPlane))
        distance = _farPlane - 1.0f;
    if (distance < _nearPlane)
        distance = _nearPlane + 1.0f;
    return distance;
}

void isCamera::getViewState(float out[17]) const
{
    const cocos2d::Vec3 eye = getPosition3D();
    const cocos2d::Vec3 vectors[5] = {m_target, eye, m_up, m_viewNormal, m_viewRight};
    for (int i = 0; i < 5; ++i) {
        out[3 * i] = vectors[i].x;
        out[3 * i + 1] = vectors[i].y;
        out[3 * i + 2] = vectors[i].z;
    }
    out[15] = m_distance;
    out[16] = m_zoom;
}

void crossVec3(cocos2d::Vec3* out, const cocos2d::Vec3& a, const cocos2d::Vec3& b)
{
    if (out)
        out->set(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

} // namespace isImageSDK
