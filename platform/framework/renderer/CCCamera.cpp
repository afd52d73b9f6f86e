#include "renderer/CCCamera.h"

#include <atomic>
#include <cmath>
#include <new>

#include "base/CCDirector.h"
#include "node/CCScene.h"
#include "platform/CCGLView.h"
#include "renderer/CCRenderer.h"

namespace cocos2d {

Camera* Camera::_visitingCamera = nullptr;

namespace {
std::atomic<unsigned int> g_enterOrder{1};
}

Camera::Camera() = default;

Camera::~Camera()
{
    if (_visitingCamera == this) {
        _visitingCamera = nullptr;
    }
}

template <class Init>
Camera* Camera::make(Init&& init)
{
    Camera* camera = new (std::nothrow) Camera();
    if (camera && init(camera)) {
        camera->autorelease();
        return camera;
    }
    delete camera;
    return nullptr;
}

Camera* Camera::create()
{
    return make([](Camera* c) { return c->initDefault(); });
}

Camera* Camera::createDefault(const Size& winSize)
{
    return make([&](Camera* c) { return c->initDefault(winSize); });
}

Camera* Camera::createPerspective(float fieldOfView, float aspectRatio, float nearPlane, float farPlane)
{
    return make([&](Camera* c) {
        return c->init() && c->initPerspective(fieldOfView, aspectRatio, nearPlane, farPlane);
    });
}

Camera* Camera::createOrthographic(float zoomX, float zoomY, float nearPlane, float farPlane)
{
    return make(
        [&](Camera* c) { return c->init() && c->initOrthographic(zoomX, zoomY, nearPlane, farPlane); });
}

bool Camera::initDefault()
{
    return initDefault(Director::getInstance()->getWinSize());
}

bool Camera::initDefault(const Size& winSize)
{
    if (!Node::init()) {
        return false;
    }
    setDefaultView(winSize);
    return true;
}

void Camera::setDefaultView(const Size& winSize)
{
    Size size = winSize;
    if (size.width <= 0.0f || size.height <= 0.0f) {
        size = Size(1.0f, 1.0f);
    }
    // At this distance a 60 degree vertical field of view spans exactly the window height on the
    // z = 0 plane.
    const float zeye = size.height / 2.0f / std::tan(CC_DEGREES_TO_RADIANS(30.0f));
    initPerspective(60.0f, size.width / size.height, 10.0f, zeye + size.height / 2.0f);
    const Vec3 eye(size.width / 2.0f, size.height / 2.0f, zeye);
    setPosition3D(eye);
    lookAt(Vec3(size.width / 2.0f, size.height / 2.0f, 0.0f), Vec3::UNIT_Y);
}

bool Camera::initPerspective(float fieldOfView, float aspectRatio, float nearPlane, float farPlane)
{
    _fieldOfView = fieldOfView;
    _aspectRatio = aspectRatio;
    _nearPlane = nearPlane;
    _farPlane = farPlane;
    _type = Type::PERSPECTIVE;
    Mat4::createPerspective(_fieldOfView, _aspectRatio, _nearPlane, _farPlane, &_projection);
    _viewProjectionDirty = true;
    return true;
}

bool Camera::initOrthographic(float zoomX, float zoomY, float nearPlane, float farPlane)
{
    _zoom[0] = zoomX;
    _zoom[1] = zoomY;
    _aspectRatio = zoomY != 0.0f ? zoomX / zoomY : 1.0f;
    _nearPlane = nearPlane;
    _farPlane = farPlane;
    _type = Type::ORTHOGRAPHIC;
    Mat4::createOrthographicOffCenter(0.0f, _zoom[0], 0.0f, _zoom[1], _nearPlane, _farPlane, &_projection);
    _viewProjectionDirty = true;
    return true;
}

void Camera::setDepth(int8_t depth)
{
    _depth = depth;
}

void Camera::lookAt(const Vec3& target, const Vec3& up)
{
    // The look-at view's rotation, transposed, turns the camera's -z toward the target with the
    // given up vector, in the parent's space (where the camera's position is too).
    Mat4 rotation;
    Mat4::createLookAt(getPosition3D(), target, up, &rotation);
    rotation.m[12] = rotation.m[13] = rotation.m[14] = 0.0f;
    rotation.transpose();
    _lookAtRotation = rotation;
    _hasLookAtRotation = true;
    _viewProjectionDirty = true;
}

const Mat4& Camera::getNodeToParentTransform() const
{
    if (!_hasLookAtRotation) {
        return Node::getNodeToParentTransform();
    }
    // translate(position) * rotation; the look-at camera ignores anchor, scale and skew.
    Mat4::createTranslation(getPosition3D(), &_lookAtTransform);
    _lookAtTransform.multiply(_lookAtRotation);
    if (_useAdditionalTransform) {
        _lookAtTransform.multiply(_additionalTransform);
    }
    return _lookAtTransform;
}

void Camera::setRotation(float degrees)
{
    _hasLookAtRotation = false;
    Node::setRotation(degrees);
}

void Camera::setRotation3D(const Vec3& degrees)
{
    _hasLookAtRotation = false;
    Node::setRotation3D(degrees);
}

const Mat4& Camera::getViewMatrix() const
{
    Mat4 viewInv = getNodeToWorldTransform();
    if (viewInv != _viewInv) {
        _viewInv = viewInv;
        _view = viewInv.getInversed();
        _viewProjectionDirty = true;
    }
    return _view;
}

const Mat4& Camera::getViewProjectionMatrix() const
{
    // Through the virtual: subclasses build their own view (and mark the product dirty).
    const Mat4& view = getViewMatrix();
    if (_viewProjectionDirty) {
        _viewProjectionDirty = false;
        _viewProjectionUpdated = true;
        Mat4::multiply(_projection, view, &_viewProjection);
    }
    return _viewProjection;
}

void Camera::setAdditionalProjection(const Mat4& mat)
{
    _projection = mat * _projection;
    _viewProjectionDirty = true;
}

Vec2 Camera::project(const Vec3& src) const
{
    const Size viewport = Director::getInstance()->getWinSize();
    Vec4 clip(src.x, src.y, src.z, 1.0f);
    getViewProjectionMatrix().transformVector(&clip);
    if (clip.w != 0.0f) {
        clip.x /= clip.w;
        clip.y /= clip.w;
    }
    return Vec2((clip.x + 1.0f) * 0.5f * viewport.width, (clip.y + 1.0f) * 0.5f * viewport.height);
}

void Camera::unproject(const Size& viewport, const Vec3* src, Vec3* dst) const
{
    if (!src || !dst || viewport.width <= 0.0f || viewport.height <= 0.0f) {
        return;
    }
    Vec4 screen(src->x / viewport.width * 2.0f - 1.0f, src->y / viewport.height * 2.0f - 1.0f,
                src->z * 2.0f - 1.0f, 1.0f);
    const Mat4 inverse = getViewProjectionMatrix().getInversed();
    inverse.transformVector(&screen);
    if (screen.w != 0.0f) {
        screen.x /= screen.w;
        screen.y /= screen.w;
        screen.z /= screen.w;
    }
    dst->set(screen.x, screen.y, screen.z);
}

Vec3 Camera::unproject(const Vec3& src) const
{
    Vec3 dst;
    unproject(Director::getInstance()->getWinSize(), &src, &dst);
    return dst;
}

void Camera::clearBackground() {}

void Camera::applyViewport()
{
    Director::getInstance()->getRenderer()->applyFullViewport();
}

Camera* Camera::getDefaultCamera()
{
    Scene* scene = Director::getInstance()->getRunningScene();
    return scene ? scene->getDefaultCamera() : nullptr;
}

const Mat4& Camera::getProjectionInForce()
{
    if (_visitingCamera) {
        return _visitingCamera->getViewProjectionMatrix();
    }
    // Outside passes: design space (origin bottom-left) to clip space.
    static Mat4 fallback;
    static Size fallbackSize;
    const Size winSize = Director::getInstance()->getWinSize();
    if (winSize != fallbackSize) {
        fallbackSize = winSize;
        Mat4::createOrthographicOffCenter(0.0f, std::max(winSize.width, 1.0f), 0.0f, std::max(winSize.height, 1.0f),
                                          -1024.0f, 1024.0f, &fallback);
    }
    return fallback;
}

void Camera::onEnter()
{
    _enterOrder = g_enterOrder.fetch_add(1, std::memory_order_relaxed);
    Scene* scene = getScene();
    if (scene) {
        _scene = scene;
        scene->addCamera(this);
    }
    Node::onEnter();
}

void Camera::onExit()
{
    if (_scene && !_isDefault) {
        _scene->removeCamera(this);
        _scene = nullptr;
    }
    if (_visitingCamera == this) {
        _visitingCamera = nullptr;
    }
    Node::onExit();
}

} // namespace cocos2d
