// isActorCrossLine: marks a render window of the linked reformatted layouts. It draws the
// reference lines of the two other planes through the current point (world millimetres, through
// the window's scene camera), a border around the window in the colour of its plane and a small
// filled square in its top-right corner for the active window (window units).
//
// The reference lines follow the window's oblique-plane notice (the three plane axes and the
// centre), are recomputed at most once per window update, and are hidden again 5 seconds after
// they were last shown. Main thread only; the hide timer runs on the director's scheduler.
#pragma once

#include "isActorObject.h"
#include "isNodeLine.h"

#include "NSNotificationData.h"
#include "UIJson.h"

#include "cocos2d.h"

#include <functional>
#include <vector>

namespace isImageSDK {

class isActorCrossLine : public isActorObject, public NSUI::UIJson {
public:
    // Seconds the reference lines stay shown after their last redraw.
    static constexpr float kAutoHideDelay = 5.0f;
    // Scheduler key of the hide timer.
    static const char* const kAutoHideKey;

    static isActorCrossLine* create() { return createAutoreleased<isActorCrossLine>(); }
    ~isActorCrossLine() override;

    // No nodes yet, everything hidden, plane frame identity, colour index 0.
    bool init() override;
    // The base clear, then the hide timer stopped and the observers removed.
    void clear() override;
    // The base attach; with a window, follows its oblique-plane (9087), view-changed (9089) and
    // window-updated (9091) notices.
    void attachRenderWindow(isRenderWindowHost* window) override;

    void setCrossLinesVisible(bool visible);
    void setBorderVisible(bool visible);
    // The plane of the window (0 acquired, 1 and 2 the reformats); other values are ignored.
    void setBorderColorIndex(int index);
    // Draws the active-window square once; nothing hides it again.
    void showCornerMarker();
    // Starts (or restarts) the hide timer, or stops it.
    void setAutoHide(bool enabled);
    // Boxes (window units) the reference lines must stay out of, such as the edge letters: each
    // line stops where it would enter one.
    void setKeepClear(std::function<std::vector<cocos2d::Rect>()> boxes) { m_keepClear = std::move(boxes); }

    virtual void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    bool isCrossLinesVisible() const { return m_crossLinesVisible; }
    bool isBorderVisible() const { return m_borderVisible; }
    bool isMarkerShown() const { return m_markerShown; }
    bool isLinesDirty() const { return m_linesDirty; }
    int getBorderColorIndex() const { return m_colorIndex; }
    const cocos2d::Mat4& getPlaneFrame() const { return m_planeFrame; }
    const cocos2d::Color4F& getBorderColor(int index) const { return m_borderColors[index]; }
    isNodeLine* getReferenceLines() const { return m_referenceLines; }
    cocos2d::DrawNode* getBorderNode() const { return m_borderNode; }
    cocos2d::DrawNode* getMarkerNode() const { return m_markerNode; }

private:
    void redrawLines();
    void drawBorder();
    void hideLines();
    cocos2d::Size windowSize() const;

    isNodeLine* m_referenceLines = nullptr;
    cocos2d::DrawNode* m_borderNode = nullptr;
    cocos2d::DrawNode* m_markerNode = nullptr;
    // Columns 0 to 2 the plane axes, column 3 the centre (world millimetres).
    cocos2d::Mat4 m_planeFrame;
    bool m_linesDirty = false;
    bool m_borderVisible = false;
    bool m_markerShown = false;
    bool m_crossLinesVisible = false;
    cocos2d::Color4F m_borderColors[3];
    int m_colorIndex = 0;
    // The scheduler running the hide timer (retained), null when none runs.
    cocos2d::Scheduler* m_hideScheduler = nullptr;
    std::function<std::vector<cocos2d::Rect>()> m_keepClear;
    // The boxes the lines were last drawn around.
    std::vector<cocos2d::Rect> m_clearedBoxes;
};

} // namespace isImageSDK
