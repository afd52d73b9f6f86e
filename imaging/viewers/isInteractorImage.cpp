#include "isInteractorImage.h"

#include "isRenderWindow.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"

#include <cmath>
#include <cstdio>

namespace isImageSDK {

namespace {

constexpr float kZoomInStep = isRenderWindowBase::kZoomInStep;
constexpr float kZoomOutStep = isRenderWindowBase::kZoomOutStep;
constexpr float kGestureEpsilon = isRenderWindowBase::kGestureEpsilon;
constexpr float kHalfPi = 1.5707963f;

std::string formatted(const char* format, float value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, double(value));
    return text;
}

} // namespace

isInteractorImage::~isInteractorImage()
{
    isInteractorImage::clear();
}

bool isInteractorImage::init()
{
    if (!isInteractorBase::init())
        return false;
    m_mode = MODE_PAN;
    m_currentROI = nullptr;
    m_panTotal = cocos2d::Vec2::ZERO;
    m_zoomTotal = 1.0f;
    m_windowLevelChanged = false;
    m_keepSelected = false;
    return true;
}

void isInteractorImage::clear()
{
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    releaseMeasurement();
    isInteractorBase::clear();
}

void isInteractorImage::reset()
{
    releaseMeasurement();
}

void isInteractorImage::setRenderWindow(isRenderWindowBase* window)
{
    isInteractorBase::setRenderWindow(window);
    if (NSUI::NSNotificationCenter* old = NSUI::NSNotificationCenter::peekInstance())
        old->removeObserver(this);
    if (!window)
        return;
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) { releaseMeasurement(); };
    centre->addObserver(this, window->getNotificationContext(), callback, NOTIFY_IMAGE_ORIENT_CHANGED);
    centre->addObserver(this, window->getNotificationContext(), callback, NOTIFY_IMAGE_SLICE_CHANGED);
}

void isInteractorImage::setMode(int mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    finishMeasurement();
}

void isInteractorImage::post(unsigned int id, NSUI::NSNotificationData* data, bool urgent)
{
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, id, data, windowContext(), urgent);
}

bool isInteractorImage::pickPoint(const cocos2d::Vec2& nodePoint, cocos2d::Vec3& world) const
{
    return m_renderWindow && m_renderWindow->screenToWorld(nodePoint, world);
}

bool isInteractorImage::postPoint(unsigned int id, const cocos2d::Vec3& world)
{
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    NSUI::UIJson::setString(data->text, "x", formatted("%.2f", world.x));
    NSUI::UIJson::setString(data->text, "y", formatted("%.2f", world.y));
    NSUI::UIJson::setString(data->text, "z", formatted("%.2f", world.z));
    // Only the latest point of a frame is worth delivering.
    NSUI::NSNotificationCenter::getInstance()->cancelNotificationInFrame(this, id, windowContext());
    post(id, data, true);
    return true;
}

bool isInteractorImage::zoomAllowed(float factor) const
{
    if (!m_renderWindow)
        return false;
    const float ratio = m_renderWindow->getZoomRatio();
    return !((ratio < isRenderWindowBase::kMinZoomRatio && factor < 1.0f) ||
             (ratio > isRenderWindowBase::kMaxZoomRatio && factor > 1.0f));
}

void isInteractorImage::postPan(const cocos2d::Vec2& delta)
{
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    NSUI::UIJson::setString(data->text, "x", formatted("%.4f", -delta.x));
    NSUI::UIJson::setString(data->text, "y", formatted("%.4f", delta.y));
    m_panTotal += cocos2d::Vec2(-delta.x, delta.y);
    post(NOTIFY_VIEW_PAN, data, true);
}

void isInteractorImage::rotateDrag(const cocos2d::Vec2& delta)
{
    if (!m_renderWindow)
        return;
    float s[17];
    m_renderWindow->getCameraState(s);
    const cocos2d::Vec3 target(s[0], s[1], s[2]);
    const cocos2d::Vec3 normal(s[9], s[10], s[11]);
    const cocos2d::Vec3 right(s[12], s[13], s[14]);
    const float distance = s[15];
    cocos2d::Vec3 up;
    cocos2d::Vec3::cross(right, normal, &up);
    up.normalize();
    const cocos2d::Vec3 back = -normal;
    // The camera's frame at the target: right, up, backward (from the target toward the eye).
    const cocos2d::Mat4 frame = frameFromColumns(right, up, back, target);
    cocos2d::Mat4 aboutY, aboutX;
    cocos2d::Mat4::createRotationY(-delta.x * kHalfPi / kQuarterTurnUnits, &aboutY);
    cocos2d::Mat4::createRotationX(delta.y * kHalfPi / kQuarterTurnUnits, &aboutX);
    const cocos2d::Mat4 turned = frame * aboutY * aboutX;
    const cocos2d::Vec3 newUp(turned.m[4], turned.m[5], turned.m[6]);
    const cocos2d::Vec3 newBack(turned.m[8], turned.m[9], turned.m[10]);
    m_renderWindow->setCameraPosition(target + newBack * distance);
    m_renderWindow->lookAt(target, newUp);
}

void isInteractorImage::onDrag(const cocos2d::Vec2& delta, float)
{
    switch (m_mode) {
    case MODE_PAN:
        postPan(delta);
        break;
    case MODE_ZOOM: {
        if (std::fabs(delta.y) <= std::fabs(delta.x))
            break;
        const float factor = delta.y > 0.0f ? kZoomInStep : kZoomOutStep;
        if (!zoomAllowed(factor))
            break;
        m_zoomTotal *= factor;
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->floatValue = factor;
        post(NOTIFY_VIEW_ZOOM, data, true);
        break;
    }
    case MODE_WINDOW_LEVEL: {
        // The raw screen deltas; the viewer scales them for the pixel type.
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        NSUI::UIJson::setString(data->text, "ww", formatted("%.2f", delta.x));
        NSUI::UIJson::setString(data->text, "wl", formatted("%.2f", delta.y));
        m_windowLevelChanged = true;
        post(NOTIFY_VIEW_WINDOW_LEVEL, data, true);
        break;
    }
    case MODE_ROTATE:
        rotateDrag(delta);
        break;
    default:
        break;
    }
}

void isInteractorImage::onTwoFingerPan(const cocos2d::Vec2& delta)
{
    postPan(delta);
}

void isInteractorImage::onPinch(float, float factor)
{
    if (!zoomAllowed(factor))
        return;
    m_zoomTotal *= factor;
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->floatValue = factor;
    post(NOTIFY_VIEW_ZOOM_WHEEL, data, true);
}

void isInteractorImage::onSwipe(const cocos2d::Vec2&, const cocos2d::Vec2& delta)
{
    // A quick stroke of a measurement tool draws; turning the slice under it would leave the new
    // measurement behind on the slice just left.
    if (isMeasurementMode(m_mode))
        return;
    if (std::fabs(delta.x) <= std::fabs(delta.y))
        return;
    post(delta.x >= 0.0f ? NOTIFY_SLICE_NEXT : NOTIFY_SLICE_PRIOR, nullptr, true);
}

void isInteractorImage::gestureEnded()
{
    switch (m_mode) {
    case MODE_PAN:
        if (std::fabs(m_panTotal.x) > kGestureEpsilon || std::fabs(m_panTotal.y) > kGestureEpsilon) {
            NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
            NSUI::UIJson::setString(data->text, "x", formatted("%.4f", m_panTotal.x));
            NSUI::UIJson::setString(data->text, "y", formatted("%.4f", m_panTotal.y));
            post(NOTIFY_VIEW_PAN_END, data, false);
        }
        break;
    case MODE_ZOOM:
        if (std::fabs(m_zoomTotal - 1.0f) > kGestureEpsilon) {
            NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
            data->floatValue = m_zoomTotal;
            post(NOTIFY_VIEW_ZOOM_END, data, false);
        }
        break;
    case MODE_WINDOW_LEVEL:
        if (m_windowLevelChanged)
            post(NOTIFY_VIEW_WINDOW_LEVEL_END, nullptr, false);
        break;
    case MODE_SELECT:
    case MODE_LOCATE:
        post(NOTIFY_VIEW_INTERACTION_END, nullptr, false);
        break;
    default:
        break;
    }
    m_zoomTotal = 1.0f;
    m_panTotal = cocos2d::Vec2::ZERO;
    m_windowLevelChanged = false;
}

void isInteractorImage::onTouchBegan(cocos2d::Touch* touch)
{
    isInteractorBase::onTouchBegan(touch);
    if (isMeasurementMode(m_mode)) {
        measurementBegan(touch);
        return;
    }
    if (m_mode != MODE_SELECT && m_mode != MODE_LOCATE)
        return;
    cocos2d::Vec3 world;
    if (pickPoint(toNode(touch->getLocation()), world)) {
        postPoint(NOTIFY_LOCATE_POINT, world);
        postPoint(NOTIFY_OVERLAY_POSITION, world);
    }
}

void isInteractorImage::onTouchMoved(cocos2d::Touch* touch)
{
    isInteractorBase::onTouchMoved(touch);
    if (isMeasurementMode(m_mode)) {
        measurementMoved(touch);
        return;
    }
    if (m_mode != MODE_SELECT && m_mode != MODE_LOCATE && m_mode != MODE_PROBE)
        return;
    cocos2d::Vec3 world;
    if (!pickPoint(toNode(touch->getLocation()), world))
        return;
    if (m_mode != MODE_LOCATE)
        postPoint(NOTIFY_OVERLAY_POSITION, world);
    if (m_mode != MODE_PROBE)
        postPoint(NOTIFY_LOCATE_POINT, world);
}

void isInteractorImage::onTouchEnded(cocos2d::Touch* touch)
{
    if (isMeasurementMode(m_mode))
        measurementEnded(touch);
    isInteractorBase::onTouchEnded(touch);
    gestureEnded();
}

void isInteractorImage::onTouchCancelled(cocos2d::Touch* touch)
{
    isInteractorBase::onTouchCancelled(touch);
    gestureEnded();
}

void isInteractorImage::onMultiTouchEnded(const std::vector<cocos2d::Touch*>& touches)
{
    isInteractorBase::onMultiTouchEnded(touches);
    gestureEnded();
}

void isInteractorImage::onMultiTouchCancelled(const std::vector<cocos2d::Touch*>& touches)
{
    isInteractorImage::onMultiTouchEnded(touches);
}

isActorROI* isInteractorImage::measurements() const
{
    auto* window = dynamic_cast<isRenderWindow*>(m_renderWindow);
    return window ? window->getROIActor() : nullptr;
}

void isInteractorImage::setCurrentROI(isActorROIBase* actor)
{
    if (actor == m_currentROI)
        return;
    if (actor)
        actor->retain();
    CC_SAFE_RELEASE(m_currentROI);
    m_currentROI = actor;
}

void isInteractorImage::releaseMeasurement()
{
    if (m_currentROI)
        m_currentROI->setCurrentPointIndex(-1);
    setCurrentROI(nullptr);
    m_keepSelected = false;
}

void isInteractorImage::measurementBegan(cocos2d::Touch* touch)
{
    m_keepSelected = false;
    isActorROI* container = measurements();
    if (!container || !m_renderWindow)
        return;
    // A measurement still being drawn (an angle, a polygon) takes this touch.
    if (m_currentROI && !m_currentROI->isFinished())
        return;
    cocos2d::Vec3 origin, direction;
    m_renderWindow->screenToRay(touch->getLocation(), origin, direction);
    if (isActorROIBase* hit = container->hitTest(origin, direction)) {
        if (hit != m_currentROI && m_currentROI)
            m_currentROI->setCurrentPointIndex(-1);
        setCurrentROI(hit);
        m_keepSelected = true;
        return;
    }
    releaseMeasurement();
    cocos2d::Vec3 p;
    if (!pickPoint(toNode(touch->getLocation()), p))
        return;
    isActorROIBase* made = nullptr;
    switch (m_mode) {
    case MODE_ROI_LINE:
    case MODE_ROI_CIRCLE: {
        ROIData* record = m_mode == MODE_ROI_LINE ? static_cast<ROIData*>(ROILine::create())
                                                  : static_cast<ROIData*>(ROICircle::create());
        isActorROIBase* actor = m_mode == MODE_ROI_LINE ? static_cast<isActorROIBase*>(isActorROILine::create())
                                                        : static_cast<isActorROIBase*>(isActorROICircle::create());
        if (!record || !actor)
            return;
        record->setPoint(0, p);
        record->setPoint(1, p);
        container->adoptROI(actor, record, 1);
        made = actor;
        break;
    }
    case MODE_ROI_POINT:
        made = container->addPointROI(p);
        break;
    case MODE_ROI_ANGLE:
        made = container->addAngleROI(p);
        break;
    case MODE_ROI_POLYGON:
        made = container->addPolygonROI(p, p);
        break;
    default:
        break;
    }
    setCurrentROI(made);
}

void isInteractorImage::measurementMoved(cocos2d::Touch* touch)
{
    cocos2d::Vec3 p;
    if (m_currentROI && pickPoint(toNode(touch->getLocation()), p))
        m_currentROI->setCurrentPoint(p);
}

void isInteractorImage::measurementEnded(cocos2d::Touch* touch)
{
    if (!m_currentROI)
        return;
    auto* angle = dynamic_cast<isActorROIAngle*>(m_currentROI);
    auto* polygon = dynamic_cast<isActorROIPolygon*>(m_currentROI);
    if ((angle || polygon) && !m_currentROI->isFinished()) {
        cocos2d::Vec3 p;
        if (pickPoint(toNode(touch->getLocation()), p))
            m_currentROI->setCurrentPoint(p);
        if (angle)
            angle->advanceStep();
        else
            polygon->commitVertex();
        return;
    }
    if (!m_currentROI->isValid()) {
        if (isActorROI* container = measurements())
            container->removeROIActor(m_currentROI);
        setCurrentROI(nullptr);
        return;
    }
    if (m_stillTap && !m_keepSelected)
        releaseMeasurement();
}

void isInteractorImage::onDoubleTap(const cocos2d::Vec2&)
{
    auto* polygon = dynamic_cast<isActorROIPolygon*>(m_currentROI);
    if (!polygon || !polygon->getROIData())
        return;
    if (!polygon->isFinished() && (!polygon->isValid() || polygon->getClosedVertexCount() < 3)) {
        // What closing leaves (without the double click's vertices) would be no region.
        if (isActorROI* container = measurements())
            container->removeROIActor(polygon);
        setCurrentROI(nullptr);
        return;
    }
    if (!polygon->isValid() || polygon->getClosedVertexCount() < 3)
        return;
    polygon->closePolygon();
    polygon->setFinished(true);
    polygon->setDirty(true);
    releaseMeasurement();
}

void isInteractorImage::finishMeasurement()
{
    if (!m_currentROI)
        return;
    auto* polygon = dynamic_cast<isActorROIPolygon*>(m_currentROI);
    if (polygon && polygon->isValid()) {
        polygon->setFinished(true);
        polygon->setDirty(true);
    } else if (!(m_currentROI->isValid() && m_currentROI->isFinished())) {
        if (isActorROI* container = measurements())
            container->removeROIActor(m_currentROI);
        setCurrentROI(nullptr);
        return;
    }
    releaseMeasurement();
}

} // namespace isImageSDK
