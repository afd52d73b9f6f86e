#include "isRenderWindow.h"

#include "isActorImage.h"
#include "isInteractorBase.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace isImageSDK {

int planeLetterSum(const cocos2d::Vec3& rowDirection, const cocos2d::Vec3& columnDirection, int headFeet, int posture)
{
    const float row[3] = {rowDirection.x, rowDirection.y, rowDirection.z};
    const float column[3] = {columnDirection.x, columnDirection.y, columnDirection.z};
    char labels[4][3];
    getOrientationLabels(row, column, labels, headFeet, posture);
    return labels[0][0] + labels[1][0] + labels[2][0] + labels[3][0];
}

isRenderWindow::~isRenderWindow()
{
    removeTouchListener();
    CC_SAFE_RELEASE_NULL(m_interactor);
    CC_SAFE_RELEASE_NULL(m_actorManager);
    CC_SAFE_RELEASE_NULL(m_image);
}

bool isRenderWindow::init()
{
    if (!isRenderWindowBase::init())
        return false;
    m_owner = nullptr;
    m_interactor = nullptr;
    m_touchListener = cocos2d::EventListenerTouchAllAtOnce::create();
    m_touchListener->retain();
    m_touchListener->onTouchesBegan = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesBegan(t, e);
    };
    m_touchListener->onTouchesMoved = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesMoved(t, e);
    };
    m_touchListener->onTouchesEnded = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesEnded(t, e);
    };
    m_touchListener->onTouchesCancelled = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesCancelled(t, e);
    };
    _eventDispatcher->addEventListenerWithFixedPriority(m_touchListener, kTouchPriority);
    m_mousePanTotal = cocos2d::Vec2::ZERO;
    m_mouseZoomTotal = 1.0f;
    setLayoutType(cocos2d::ui::Layout::Type::VIEWPORT);
    m_actorManager = isActorManager::create();
    if (!m_actorManager)
        return false;
    m_actorManager->retain();
    m_actorManager->setRenderWindow(this);
    m_image = nullptr;

    collectNotificationIds(m_notificationIds);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        notificationCallback(sender, id, data);
    };
    for (unsigned int id : m_notificationIds)
        centre->addObserver(this, context(), callback, id);
    for (unsigned int id : {NOTIFY_WINDOW_MAXIMIZE, NOTIFY_FAVORITE_ADD_VIEW, NOTIFY_WINDOW_LINK})
        centre->addObserver(this, nullptr, callback, id);
    return true;
}

void isRenderWindow::removeTouchListener()
{
    if (!m_touchListener)
        return;
    _eventDispatcher->removeEventListener(m_touchListener);
    CC_SAFE_RELEASE_NULL(m_touchListener);
}

void isRenderWindow::cleanup()
{
    // The interactor and the actor manager hold this window; releasing them may release the
    // last references but one, so keep the window alive until the clean-up is over.
    retain();
    isRenderWindowBase::cleanup();
    removeTouchListener();
    CC_SAFE_RELEASE_NULL(m_interactor);
    CC_SAFE_RELEASE_NULL(m_actorManager);
    CC_SAFE_RELEASE_NULL(m_image);
    autorelease();
}

void isRenderWindow::collectNotificationIds(std::vector<unsigned int>&) {}

void isRenderWindow::notificationCallback(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    onNotification(id, data, sender);
}

void isRenderWindow::setInteractor(isInteractorBase* interactor)
{
    if (interactor == m_interactor)
        return;
    if (interactor)
        interactor->retain();
    CC_SAFE_RELEASE(m_interactor);
    m_interactor = interactor;
    if (m_interactor)
        m_interactor->setRenderWindow(this);
}

bool isRenderWindow::postToOwner(unsigned int id, NSUI::NSNotificationData* data, bool urgent)
{
    if (!m_owner)
        return false;
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, id, data, m_owner, urgent);
    return true;
}

cocos2d::Vec2 isRenderWindow::payloadXY(const NSUI::NSNotificationData* data)
{
    if (!data)
        return cocos2d::Vec2::ZERO;
    return cocos2d::Vec2(NSUI::UIJson::getFloat(data->text, "x", 0.0f), NSUI::UIJson::getFloat(data->text, "y", 0.0f));
}

std::string isRenderWindow::xyText(float x, float y)
{
    char bx[48], by[48];
    std::snprintf(bx, sizeof bx, "%.4f", double(x));
    std::snprintf(by, sizeof by, "%.4f", double(y));
    std::string text;
    NSUI::UIJson::setString(text, "x", bx);
    NSUI::UIJson::setString(text, "y", by);
    return text;
}

void isRenderWindow::onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender)
{
    switch (id) {
    case NOTIFY_VIEW_REFRESH:
        if (m_owner && sender != m_owner)
            postToOwner(id, data, false);
        else
            notifyViewChanged();
        break;
    case NOTIFY_VIEW_PAN: {
        const cocos2d::Vec2 d = payloadXY(data);
        panBy(d.x, d.y);
        break;
    }
    case NOTIFY_VIEW_ZOOM:
    case NOTIFY_VIEW_ZOOM_WHEEL:
        if (data)
            zoomBy(data->floatValue);
        break;
    case NOTIFY_VIEW_PAN_END:
        if (!m_owner)
            break;
        if (sender == m_owner) {
            const cocos2d::Vec2 d = payloadXY(data);
            panBy(d.x, d.y);
        } else {
            postToOwner(id, data, true);
        }
        break;
    case NOTIFY_VIEW_ZOOM_END:
        if (!m_owner)
            break;
        if (sender == m_owner) {
            if (data)
                zoomBy(data->floatValue);
        } else {
            postToOwner(id, data, true);
        }
        break;
    case NOTIFY_VIEW_ACTIVATE:
        postToOwner(id, data, true);
        break;
    default:
        break;
    }
}

void isRenderWindow::notifyViewChanged()
{
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_VIEW_CHANGED, nullptr, context(), false);
}

bool isRenderWindow::onMouseScroll(float, float, float scrollY)
{
    if (scrollY < 0.0f)
        onNotification(NOTIFY_SLICE_NEXT, nullptr, this);
    else if (scrollY > 0.0f)
        onNotification(NOTIFY_SLICE_PRIOR, nullptr, this);
    return true;
}

bool isRenderWindow::onMouseDown(float, float)
{
    m_mouseZoomTotal = 1.0f;
    return true;
}

bool isRenderWindow::onMouseMove(float x, float y)
{
    const cocos2d::Vec2 delta = cocos2d::Vec2(x, y) - lastMousePosition;
    if (isRightButtonDown) {
        if (std::fabs(delta.y) > std::fabs(delta.x)) {
            const float factor = delta.y > 0.0f ? kZoomInStep : kZoomOutStep;
            const float ratio = getZoomRatio();
            if ((ratio < kMinZoomRatio && factor < 1.0f) || (ratio > kMaxZoomRatio && factor > 1.0f))
                return true;
            m_mouseZoomTotal *= factor;
            NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
            data->floatValue = factor;
            data->intValue = 1;
            onNotification(NOTIFY_VIEW_ZOOM, data, this);
        }
        return true;
    }
    if (isMiddleButtonDown) {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = xyText(-delta.x, delta.y);
        m_mousePanTotal += cocos2d::Vec2(-delta.x, delta.y);
        onNotification(NOTIFY_VIEW_PAN, data, this);
        return true;
    }
    return false;
}

bool isRenderWindow::onMouseUp(float, float)
{
    const bool held = isRightButtonDown || isMiddleButtonDown;
    if (isRightButtonDown && std::fabs(m_mouseZoomTotal - 1.0f) > kGestureEpsilon) {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->floatValue = m_mouseZoomTotal;
        onNotification(NOTIFY_VIEW_ZOOM_END, data, this);
    } else if (isMiddleButtonDown &&
               (std::fabs(m_mousePanTotal.x) > kGestureEpsilon || std::fabs(m_mousePanTotal.y) > kGestureEpsilon)) {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = xyText(m_mousePanTotal.x, m_mousePanTotal.y);
        onNotification(NOTIFY_VIEW_PAN_END, data, this);
    }
    m_mousePanTotal = cocos2d::Vec2::ZERO;
    m_mouseZoomTotal = 1.0f;
    return held;
}

void isRenderWindow::onTouchesBegan(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (m_interactor)
        m_interactor->touchesBegan(touches);
}

void isRenderWindow::onTouchesMoved(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (!m_interactor || !m_interactor->isCapturing() || !isInteractorBase::isCaptureActive())
        return;
    if (!m_interactor->isSingleTouch()) {
        m_interactor->onMultiTouchMoved(touches);
        return;
    }
    const auto& tracked = m_interactor->getTrackedTouches();
    if (tracked.empty())
        return;
    for (cocos2d::Touch* touch : touches)
        if (touch->getID() == tracked.front()->getID()) {
            m_interactor->onTouchMoved(touch);
            return;
        }
}

void isRenderWindow::onTouchesEnded(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (m_interactor)
        m_interactor->touchesEnded(touches);
}

void isRenderWindow::onTouchesCancelled(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (m_interactor)
        m_interactor->touchesCancelled(touches);
}

void isRenderWindow::updateOrientationLabels()
{
    if (!m_image)
        return;
    m_image->updateInformation();
    float state[17];
    getCameraState(state);
    const float right[3] = {state[12], state[13], state[14]};
    const float down[3] = {-state[6], -state[7], -state[8]};
    char labels[4][3];
    getOrientationLabels(right, down, labels, m_image->getHeadFeet(), m_image->getPosture());
    // A picture whose files gave no patient geometry (a planar NM, a secondary capture) shows no
    // letters: its identity orientation is a stand-in, and letters from it would be invented.
    const std::vector<isSliceInfo*>& slices = m_image->getSlices();
    const bool geometryKnown = slices.empty() || !slices.front() || slices.front()->geometryValid != 0;
    if (!geometryKnown)
        for (char* label : labels)
            label[0] = '\0';
    std::string json;
    NSUI::UIJson::setString(json, "t", labels[0]);
    NSUI::UIJson::setString(json, "r", labels[1]);
    NSUI::UIJson::setString(json, "b", labels[2]);
    NSUI::UIJson::setString(json, "l", labels[3]);
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(this, NOTIFY_OVERLAY_ORIENTATION, json, context(),
                                                                      true);
}

void isRenderWindow::setContentSize(const cocos2d::Size& size)
{
    isRenderWindowBase::setContentSize(size);
    if (m_sceneCamera)
        notifyViewChanged();
}

void isRenderWindow::setVisible(bool shown)
{
    isRenderWindowBase::setVisible(shown);
    if (m_actorManager && m_image)
        if (isActorOverlay* overlay = m_actorManager->getOverlayActor())
            overlay->setAllVisible(shown);
}

bool isRenderWindow::hasPixelSpacing()
{
    const isSliceInfo* first = m_image ? m_image->getSlice(0) : nullptr;
    return !first || first->pixelSpacingPresent != 0;
}

void isRenderWindow::setImageData(isImageData* image)
{
    if (image == m_image)
        return;
    if (image)
        image->retain();
    CC_SAFE_RELEASE(m_image);
    m_image = image;
    if (m_actorManager)
        m_actorManager->releaseActors();
    // Measurements belong to the series: the container keys them by its file names.
    if (m_image)
        if (isActorROI* measurements = getROIActor())
            measurements->setImageKey(m_image->getFileNames());
    buildOverlays();
    updateOrientationLabels();
}

isActorROI* isRenderWindow::getROIActor()
{
    return m_actorManager ? m_actorManager->getROIActor() : nullptr;
}

int isRenderWindow::getAxisOfPlane(int plane)
{
    if (!m_image)
        return 0;
    m_image->updateInformation();
    const cocos2d::Mat4& m = m_image->getVolumeMatrix();
    const cocos2d::Vec3 axes[3] = {{m.m[0], m.m[1], m.m[2]}, {m.m[4], m.m[5], m.m[6]}, {m.m[8], m.m[9], m.m[10]}};
    const int wanted = plane == PLANE_SAGITTAL ? kSagittalLetterSum
                       : plane == PLANE_CORONAL ? kCoronalLetterSum
                                                : kAxialLetterSum;
    // Axis 0 shows the acquired plane (a0, a1), axis 1 the planes of constant column (a1, a2),
    // axis 2 those of constant row (a0, a2).
    const int pairs[3][2] = {{0, 1}, {1, 2}, {0, 2}};
    for (int axis = 0; axis < 3; ++axis)
        if (planeLetterSum(axes[pairs[axis][0]], axes[pairs[axis][1]], m_image->getHeadFeet(), m_image->getPosture()) ==
            wanted)
            return axis;
    return 0;
}

} // namespace isImageSDK
