#include "isRenderWindowBase.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <algorithm>
#include <cmath>

namespace isImageSDK {

const char* const isRenderWindowBase::kBlackTile = "UIRes/black22.png";
const char* const isRenderWindowBase::kWhiteTile = "UIRes/white22.png";

namespace {

// Depth (0 near, 1 far) of the background tile of a shown window, and of a hidden one.
constexpr float kTileDepthShown = 0.999f;
constexpr float kTileDepthHidden = 0.001f;
// The tile texture is 22 texels wide; a scale of (window diagonal / 21) makes it a little larger
// than the window's diagonal, so it covers the window whatever the view's rotation.
constexpr float kTileDivisor = 21.0f;
// Window point from which panBy measures world lengths.
constexpr float kPanProbe = 50.0f;
constexpr unsigned short kDefaultFlag = 1;

bool usable(const cocos2d::Size& size)
{
    return size.width > 1.0f && size.height > 1.0f;
}

} // namespace

cocos2d::Mat4 frameFromColumns(const cocos2d::Vec3& x, const cocos2d::Vec3& y, const cocos2d::Vec3& z,
                               const cocos2d::Vec3& origin)
{
    cocos2d::Mat4 m;
    const cocos2d::Vec3 columns[4] = {x, y, z, origin};
    for (int c = 0; c < 4; ++c) {
        m.m[4 * c] = columns[c].x;
        m.m[4 * c + 1] = columns[c].y;
        m.m[4 * c + 2] = columns[c].z;
        m.m[4 * c + 3] = c == 3 ? 1.0f : 0.0f;
    }
    return m;
}

isRenderWindowBase::~isRenderWindowBase()
{
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance()) {
        centre->removeObserver(this);
        centre->cancelNotificationsFromSender(this);
    }
    CC_SAFE_RELEASE_NULL(m_sceneCamera);
    CC_SAFE_RELEASE_NULL(m_overlayCamera);
}

bool isRenderWindowBase::init()
{
    m_referenceZoom = 1.0f;
    m_lastDrawnFrame = 0;
    if (!NSUI::NSLayout::init())
        return false;
    m_sceneCamera = isCamera::create();
    m_overlayCamera = isCamera::create();
    if (!m_sceneCamera || !m_overlayCamera)
        return false;
    m_sceneCamera->retain();
    m_overlayCamera->retain();
    addChild(m_sceneCamera);
    addChild(m_overlayCamera);
    m_overlayCamera->setUseLookAtView(true);
    m_overlayCamera->setupProjection(m_overlayCamera->getFOV(), m_overlayCamera->getViewWidth(),
                                     m_overlayCamera->getViewHeight(), m_overlayCamera->getNearPlane(),
                                     m_overlayCamera->getFarPlane(), m_overlayCamera->getAdditionalProjection());
    setClippingEnabled(true);
    setClippingType(cocos2d::ui::Layout::ClippingType::SCISSOR);

    isNodeSprite* tile = isNodeSprite::create();
    if (!tile)
        return false;
    m_tile = tile;
    addSceneNode(tile);
    m_shown = true;
    tile->setTexture(kBlackTile);
    tile->setAnchorPoint(cocos2d::Vec2::ANCHOR_BOTTOM_LEFT);
    m_tileWhite = false;
    // A window made at its final size already has projected cameras; lay the tile over them.
    if (usable(getContentSize()))
        reproject();
    placeTile();
    return true;
}

void isRenderWindowBase::setPosition(float x, float y)
{
    NSUI::NSLayout::setPosition(x, y);
    if (!m_sceneCamera)
        return;
    const cocos2d::Size size = getContentSize();
    setContentSize(size);
    // setContentSize announces only a usable rectangle; a degenerate one is announced here.
    if (!usable(size))
        postResized();
}

void isRenderWindowBase::setContentSize(const cocos2d::Size& size)
{
    NSUI::NSLayout::setContentSize(size);
    if (!m_sceneCamera || !usable(size))
        return;
    reproject();
    placeTile();
    postResized();
}

cocos2d::Vec3 isRenderWindowBase::windowWorldPosition() const
{
    const cocos2d::Mat4 toWorld = getNodeToWorldTransform();
    return cocos2d::Vec3(toWorld.m[12], toWorld.m[13], 0.0f);
}

void isRenderWindowBase::reproject()
{
    const cocos2d::Size win = cocos2d::Director::getInstance()->getWinSize();
    const cocos2d::Size size = getContentSize();
    if (!usable(size) || win.width <= 0.0f || win.height <= 0.0f)
        return;
    const cocos2d::Vec3 position = windowWorldPosition();
    // T x S: the full-window projection lands on the window's rectangle in device coordinates.
    cocos2d::Mat4 scale, translate;
    cocos2d::Mat4::createScale(size.width / win.width, size.height / win.height, 1.0f, &scale);
    cocos2d::Mat4::createTranslation(2.0f * position.x / win.width - 1.0f + size.width / win.width,
                                     2.0f * position.y / win.height - 1.0f + size.height / win.height, 0.0f,
                                     &translate);
    m_viewportMatrix = translate * scale;
    for (isCamera* camera : {m_sceneCamera, m_overlayCamera})
        camera->setupProjection(kFieldOfView, size.width, size.height, kNearPlane, kFarPlane, m_viewportMatrix);
    m_projectedPosition = position;
    m_projectedSize = size;
    m_projected = true;
}

void isRenderWindowBase::postResized()
{
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->setObject(this);
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_WINDOW_RESIZED, data, nullptr, false);
}

void isRenderWindowBase::setVisible(bool shown)
{
    m_shown = shown;
    placeTile();
}

void isRenderWindowBase::setParent(cocos2d::Node* parent)
{
    NSUI::NSLayout::setParent(parent);
    if (parent)
        parent->enableCameraVisitThroughtChild();
}

void isRenderWindowBase::assignCameraFlag(isCamera* camera)
{
    if (!camera || camera->getCameraFlag() != kDefaultFlag)
        return;
    cocos2d::Scene* scene = getScene();
    if (!scene)
        scene = cocos2d::Director::getInstance()->getRunningScene();
    if (!scene)
        return;
    unsigned short candidate = 2;
    const auto& cameras = scene->getCameras();
    while (std::any_of(cameras.begin(), cameras.end(),
                       [candidate](const cocos2d::Camera* c) { return c->getCameraFlag() == candidate; }))
        ++candidate;
    camera->setCameraFlag(candidate);
}

void isRenderWindowBase::onEnter()
{
    NSUI::NSLayout::onEnter();
    assignCameraFlag(m_sceneCamera);
    assignCameraFlag(m_overlayCamera);
    if (m_sceneCamera)
        for (cocos2d::Node* node : m_sceneNodes)
            node->setCameraMask(m_sceneCamera->getCameraFlag(), true);
    if (m_overlayCamera)
        for (cocos2d::Node* node : m_overlayNodes)
            node->setCameraMask(m_overlayCamera->getCameraFlag(), true);
}

void isRenderWindowBase::cleanup()
{
    NSUI::NSLayout::cleanup();
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

bool isRenderWindowBase::isVisitableByVisitingCamera() const
{
    if (NSUI::NSLayout::isVisitableByVisitingCamera())
        return true;
    const cocos2d::Camera* camera = cocos2d::Camera::getVisitingCamera();
    return camera && ((m_sceneCamera && camera->getCameraFlag() == m_sceneCamera->getCameraFlag()) ||
                      (m_overlayCamera && camera->getCameraFlag() == m_overlayCamera->getCameraFlag()));
}

void isRenderWindowBase::visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform,
                               uint32_t parentFlags)
{
    if (!isVisible() || !isVisitableByVisitingCamera())
        return;
    // An ancestor that moved leaves the window elsewhere on the screen: squeeze the cameras
    // into the new rectangle before drawing.
    if (m_sceneCamera && usable(getContentSize()) &&
        (!m_projected || windowWorldPosition() != m_projectedPosition || !m_projectedSize.equals(getContentSize()))) {
        reproject();
        placeTile();
    }
    NSUI::NSLayout::visit(renderer, parentTransform, parentFlags);
    const unsigned int frame = cocos2d::Director::getInstance()->getTotalFrames();
    if (frame != m_lastDrawnFrame || !m_drawnOnce) {
        m_lastDrawnFrame = frame;
        m_drawnOnce = true;
        NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_RENDER_WINDOW_UPDATED, nullptr,
                                                                    context(), true);
    }
}

void isRenderWindowBase::attachOverlayNodes()
{
    for (cocos2d::Node* node : m_overlayNodes)
        if (!node->getParent())
            addChild(node);
}

void isRenderWindowBase::detachOverlayNodes()
{
    for (cocos2d::Node* node : m_overlayNodes)
        if (node->getParent() == this)
            removeChild(node, true);
}

void isRenderWindowBase::addSceneNode(cocos2d::Node* node)
{
    if (!node)
        return;
    addChild(node);
    if (m_sceneCamera && m_sceneCamera->getCameraFlag() != kDefaultFlag)
        node->setCameraMask(m_sceneCamera->getCameraFlag(), true);
    m_sceneNodes.push_back(node);
}

void isRenderWindowBase::removeSceneNode(cocos2d::Node* node)
{
    if (!node)
        return;
    if (node->getParent() == this)
        removeChild(node, true);
    auto it = std::find(m_sceneNodes.begin(), m_sceneNodes.end(), node);
    if (it != m_sceneNodes.end())
        m_sceneNodes.erase(it);
    if (node == m_tile)
        m_tile = nullptr;
}

void isRenderWindowBase::addOverlayNode(cocos2d::Node* node)
{
    if (!node)
        return;
    if (m_overlayCamera && m_overlayCamera->getCameraFlag() != kDefaultFlag)
        node->setCameraMask(m_overlayCamera->getCameraFlag(), true);
    m_overlayNodes.push_back(node);
}

void isRenderWindowBase::clearOverlayNodes()
{
    m_overlayNodes.clear();
}

void isRenderWindowBase::removeOverlayNode(cocos2d::Node* node)
{
    auto it = std::find(m_overlayNodes.begin(), m_overlayNodes.end(), node);
    if (it != m_overlayNodes.end())
        m_overlayNodes.erase(it);
}

void isRenderWindowBase::setCameraPosition(const cocos2d::Vec3& eye)
{
    m_sceneCamera->setCameraPosition(eye);
    m_overlayCamera->setCameraPosition(eye);
    updateOrientationLabels();
    placeTile();
}

void isRenderWindowBase::lookAt(const cocos2d::Vec3& target, const cocos2d::Vec3& up)
{
    m_sceneCamera->lookAt(target, up);
    m_overlayCamera->lookAt(target, up);
    updateOrientationLabels();
    placeTile();
}

void isRenderWindowBase::setLookAt(const cocos2d::Vec3& target)
{
    for (isCamera* camera : {m_sceneCamera, m_overlayCamera}) {
        camera->markViewDirty();
        camera->lookAt(target, camera->getUpVector());
    }
}

cocos2d::Vec3 isRenderWindowBase::getLookAtTarget() const
{
    return m_sceneCamera->getLookAtTarget();
}

void isRenderWindowBase::getTargetAndUp(cocos2d::Vec3& target, cocos2d::Vec3& up) const
{
    target = m_sceneCamera->getLookAtTarget();
    up = m_sceneCamera->getUpVector();
}

cocos2d::Vec2 isRenderWindowBase::worldToScreen(const cocos2d::Vec3& world) const
{
    cocos2d::Vec3 window;
    m_sceneCamera->worldToScreen(world, &window);
    return cocos2d::Vec2(window.x, window.y);
}

void isRenderWindowBase::getCameraState(float out[17])
{
    m_sceneCamera->getViewState(out);
}

bool isRenderWindowBase::screenToWorld(const cocos2d::Vec2&, cocos2d::Vec3&)
{
    return false;
}

void isRenderWindowBase::screenToRay(const cocos2d::Vec2& screen, cocos2d::Vec3& origin, cocos2d::Vec3& direction)
{
    cocos2d::Node* parent = m_sceneCamera->getParent() ? m_sceneCamera->getParent() : this;
    const cocos2d::Vec2 window = parent->convertToNodeSpace(screen);
    m_sceneCamera->getPickRay(window, &origin, &direction);
}

void isRenderWindowBase::setZoom(float zoom)
{
    if (m_sceneCamera->isPerspective() || !(zoom > 0.0f) || !std::isfinite(zoom))
        return;
    m_sceneCamera->setZoom(zoom);
    m_overlayCamera->setZoom(zoom);
    placeTile();
}

void isRenderWindowBase::zoomBy(float factor)
{
    // A factor of zero or below (or not a number) would put the camera at infinity.
    if (!(factor > 0.0f) || !std::isfinite(factor))
        return;
    if (m_sceneCamera->isPerspective()) {
        const cocos2d::Vec3 eye =
            m_sceneCamera->getLookAtTarget() - m_sceneCamera->getViewNormal() * (m_sceneCamera->getDistance() / factor);
        setCameraPosition(eye);
    } else {
        for (isCamera* camera : {m_sceneCamera, m_overlayCamera})
            camera->setZoom(camera->getZoom() / factor);
        placeTile();
    }
    postViewChanged();
}

float isRenderWindowBase::limitZoomFactor(float factor) const
{
    const float ratio = getZoomRatio();
    if (!(factor > 0.0f) || !std::isfinite(factor) || !(ratio > 0.0f))
        return factor;
    if (factor > 1.0f && ratio * factor > kMaxZoomRatio)
        return ratio < kMaxZoomRatio ? kMaxZoomRatio / ratio : 1.0f;
    if (factor < 1.0f && ratio * factor < kMinZoomRatio)
        return ratio > kMinZoomRatio ? kMinZoomRatio / ratio : 1.0f;
    return factor;
}

void isRenderWindowBase::panBy(float dx, float dy)
{
    const cocos2d::Vec2 probe(kPanProbe, kPanProbe);
    cocos2d::Vec3 origin, alongX, originY, alongY;
    if (!screenToWorld(probe, origin) || !screenToWorld(probe + cocos2d::Vec2(dx, 0.0f), alongX) ||
        !screenToWorld(probe, originY) || !screenToWorld(probe + cocos2d::Vec2(0.0f, dy), alongY))
        return;
    float lx = origin.distance(alongX);
    if (!(dx > 0.0f))
        lx = -lx;
    float ly = originY.distance(alongY);
    if (!(dy > 0.0f))
        ly = -ly;
    const cocos2d::Vec3 right = m_sceneCamera->getViewRight();
    const cocos2d::Vec3 up = m_sceneCamera->getUpVector();
    const cocos2d::Vec3 move = right * lx - up * ly;
    const cocos2d::Vec3 eye = m_sceneCamera->getEye() + move;
    const cocos2d::Vec3 target = m_sceneCamera->getLookAtTarget() + move;
    setCameraPosition(eye);
    lookAt(target, up);
    postViewChanged();
}

void isRenderWindowBase::centerOn(cocos2d::Vec3& point)
{
    cocos2d::Vec3 projected;
    m_sceneCamera->projectOntoViewPlane(point, &projected);
    point = projected;
    const cocos2d::Vec3 up = m_sceneCamera->getUpVector();
    const cocos2d::Vec3 eye = projected - m_sceneCamera->getViewNormal() * m_sceneCamera->getDistance();
    setCameraPosition(eye);
    lookAt(projected, up);
    postViewChanged();
}

void isRenderWindowBase::orbitY(float radians)
{
    // The frame (right, down, view normal) at the target, turned about its second axis by minus
    // the angle; the eye goes minus the distance along the turned third axis.
    const cocos2d::Vec3 right = m_sceneCamera->getViewRight();
    const cocos2d::Vec3 normal = m_sceneCamera->getViewNormal();
    const cocos2d::Vec3 turned = normal * std::cos(radians) - right * std::sin(radians);
    const cocos2d::Vec3 eye = m_sceneCamera->getLookAtTarget() - turned * m_sceneCamera->getDistance();
    setCameraPosition(eye);
    postViewChanged();
}

void isRenderWindowBase::setZoomRatio(float ratio)
{
    if (!(ratio > 0.0f) || !std::isfinite(ratio))
        return;
    if (m_sceneCamera->isPerspective()) {
        setCameraPosition(m_sceneCamera->getLookAtTarget() - m_sceneCamera->getViewNormal() * (m_referenceZoom / ratio));
    } else {
        for (isCamera* camera : {m_sceneCamera, m_overlayCamera})
            camera->setZoom(m_referenceZoom / ratio);
        placeTile();
    }
}

float isRenderWindowBase::getZoomRatio() const
{
    const float divisor = m_sceneCamera->isPerspective() ? m_sceneCamera->getDistance() : m_sceneCamera->getZoom();
    return divisor != 0.0f ? m_referenceZoom / divisor : 0.0f;
}

void isRenderWindowBase::setBackgroundWhite(bool white)
{
    if (white == m_tileWhite || !m_tile)
        return;
    m_tileWhite = white;
    m_tile->setTexture(white ? kWhiteTile : kBlackTile);
    placeTile();
}

void isRenderWindowBase::placeTile()
{
    if (!m_tile || !m_sceneCamera)
        return;
    const float depth = m_shown ? kTileDepthShown : kTileDepthHidden;
    const cocos2d::Size size = getContentSize();
    cocos2d::Vec3 topLeft, bottomRight;
    m_sceneCamera->screenToWorld(cocos2d::Vec3(0.0f, size.height, depth), &topLeft);
    m_sceneCamera->screenToWorld(cocos2d::Vec3(size.width, 0.0f, depth), &bottomRight);
    // Columns: right, screen-down, view normal (a rotation), then the top-left corner, so the
    // tile's texels run right and down from the window's top-left corner.
    const cocos2d::Vec3 right = m_sceneCamera->getViewRight();
    const cocos2d::Vec3 normal = m_sceneCamera->getViewNormal();
    cocos2d::Vec3 down;
    crossVec3(&down, normal, right);
    down.normalize();
    m_tile->setNodeMatrix(frameFromColumns(right, down, normal, topLeft));
    m_tile->setScale(topLeft.distance(bottomRight) / kTileDivisor);
}

void isRenderWindowBase::postViewChanged()
{
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->cancelNotification(this, NOTIFY_VIEW_CHANGED, context());
    centre->postNotification(this, NOTIFY_VIEW_CHANGED, nullptr, context(), false);
}

} // namespace isImageSDK
