// isInteractorImage: the tool modes of the image viewer on top of the gestures of
// isInteractorBase: picking a 3D point (select, locate, probe), window level, pan, zoom, rotation
// and drawing measurements. It reports everything as notifications with its window as context:
//
//   drag        pan 9061 {"x","y"}, zoom 9062 (factor), window level 9064 {"ww","wl"} (raw screen
//               deltas), rotate: the camera itself;
//   two fingers pan 9061 whatever the mode; pinch 9063 (factor);
//   swipe       9001 (to the right) or 9002;
//   gesture end pan 9065 {"x","y"} totals, zoom 9066 (total), window level 9067, select and
//               locate 9068;
//   points      select and locate 9085 and 9071 {"x","y","z"} (world millimetres), probe 9071.
//
// Main thread only.
#pragma once

#include "isActorROI.h"
#include "isInteractorBase.h"

#include "NSNotificationData.h"

#include <string>

namespace isImageSDK {

class isRenderWindow;

// The tool modes.
enum InteractorMode {
    MODE_SELECT = 0,
    MODE_ROTATE = 1,
    MODE_PROBE = 2,
    MODE_WINDOW_LEVEL = 4,
    MODE_PAN = 5,
    MODE_ZOOM = 6,
    MODE_LOCATE = 7,
    MODE_ROI_LINE = 9,
    MODE_ROI_POINT = 10,
    MODE_ROI_ANGLE = 11,
    MODE_ROI_CIRCLE = 12,
    MODE_ROI_POLYGON = 13,
};

class isInteractorImage : public isInteractorBase {
public:
    // Screen units of a rotate drag that make a quarter turn.
    static constexpr float kQuarterTurnUnits = 122.0f;

    static isInteractorImage* create() { return createAutoreleased<isInteractorImage>(); }
    ~isInteractorImage() override;

    // The base init; pan mode, no measurement, totals cleared.
    bool init() override;
    // Observers removed, measurement state forgotten, then the base clear.
    void clear() override;
    // Forgets the measurement being drawn.
    void reset() override;
    // The base operation, then the slice and orientation changes (9093, 9094) of the window
    // followed: either ends the measurement being drawn.
    void setRenderWindow(isRenderWindowBase* window) override;

    // A new mode finishes or removes the measurement being drawn.
    void setMode(int mode);
    int getMode() const { return m_mode; }
    static bool isMeasurementMode(int mode) { return mode >= MODE_ROI_LINE && mode <= MODE_ROI_POLYGON; }

    void onTouchBegan(cocos2d::Touch* touch) override;
    void onTouchMoved(cocos2d::Touch* touch) override;
    void onTouchEnded(cocos2d::Touch* touch) override;
    void onTouchCancelled(cocos2d::Touch* touch) override;
    void onMultiTouchEnded(const std::vector<cocos2d::Touch*>& touches) override;
    void onMultiTouchCancelled(const std::vector<cocos2d::Touch*>& touches) override;
    void onDoubleTap(const cocos2d::Vec2& nodePoint) override;
    void onTwoFingerPan(const cocos2d::Vec2& delta) override;
    void onPinch(float scale, float factor) override;
    void onSwipe(const cocos2d::Vec2& nodePoint, const cocos2d::Vec2& delta) override;
    void onDrag(const cocos2d::Vec2& delta, float speed) override;

    const cocos2d::Vec2& getPanTotal() const { return m_panTotal; }
    isActorROIBase* getCurrentROI() const { return m_currentROI; }
    float getZoomTotal() const { return m_zoomTotal; }

    isInteractorImage() = default;

protected:

    // The end of a gesture: the totals of pan, zoom and window level are announced, select and
    // locate announce the end of the interaction.
    void gestureEnded();
    // Posts the world point under a node point as {"x","y","z"} (cancelling this frame's earlier
    // post of the same id); false when nothing lies under it.
    bool postPoint(unsigned int id, const cocos2d::Vec3& world);
    bool pickPoint(const cocos2d::Vec2& nodePoint, cocos2d::Vec3& world) const;
    // Whether a zoom by the factor stays within the window's zoom-ratio limits.
    bool zoomAllowed(float factor) const;
    void postPan(const cocos2d::Vec2& delta);
    void rotateDrag(const cocos2d::Vec2& delta);
    void post(unsigned int id, NSUI::NSNotificationData* data, bool urgent);

    // Measurements (modes 9 to 13).
    void measurementBegan(cocos2d::Touch* touch);
    void measurementMoved(cocos2d::Touch* touch);
    void measurementEnded(cocos2d::Touch* touch);
    // Ends the measurement being drawn: kept when it is complete, removed otherwise.
    void finishMeasurement();
    // Forgets the current measurement, first releasing it from editing.
    void releaseMeasurement();
    void setCurrentROI(isActorROIBase* actor);
    isActorROI* measurements() const;

    int m_mode = MODE_PAN;
    // The measurement being drawn or selected (retained), or null.
    isActorROIBase* m_currentROI = nullptr;
    cocos2d::Vec2 m_panTotal;
    float m_zoomTotal = 1.0f;
    bool m_windowLevelChanged = false;
    bool m_keepSelected = false;
};

} // namespace isImageSDK
