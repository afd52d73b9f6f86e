// isActorROIBase: the base of the actors that draw one measurement record in one render window:
// the shape in world space, handles on its points while one of them is selected, a value label
// the user can drag away and, once it has been dragged, a number label next to the shape.
//
// An actor redraws only when something changed (dirty), at most once per frame, when its window
// announces that it has been drawn (9091). Dragging the value label (9092 from the label) or an
// edit of the record announced with the record as payload (9092 with the actor as context)
// marks it dirty. Main thread only.
#pragma once

#include "isActorObject.h"
#include "isNodeText.h"
#include "isROIData.h"

#include "NSNotificationData.h"

#include <string>

namespace isImageSDK {

// The world length of one screen pixel of the window's orthographic scene camera; 0 without a
// camera or with a perspective one.
float screenPixelWorldLength(isRenderWindowHost* window);

class isActorROIBase : public isActorObject {
public:
    ~isActorROIBase() override;

    // The base clear, the actor's observers removed, the record released.
    void clear() override;
    // No record, not dirty, no point selected (-1), number 0; label font 15, handles of 10; the
    // shape's draw node made.
    bool init() override;
    // Follows its window's frames (9091) and label drags (9092), and edits of its record posted
    // with the actor as context (9092).
    void attachRenderWindow(isRenderWindowHost* window) override;

    // Holds (retains) the record and marks the shape dirty; the same record again, or a record of
    // a kind the class does not draw, is ignored.
    virtual void setROIData(ROIData* record);
    // Moves the selected point of the record to p and marks the shape dirty; nothing while no point
    // of the record is selected.
    virtual void setCurrentPoint(const cocos2d::Vec3& p);
    // Whether the record describes a measurement (see ROIData::isValid).
    virtual bool isValid() const { return m_record && m_record->isValid(); }
    virtual bool isFinished() const { return true; }
    // 9091 redraws, 9092 marks dirty; 9095 (point, circle, polygon) takes the statistics answer.
    virtual void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    // Redraws when dirty (see the classes).
    virtual void draw();

    ROIData* getROIData() const { return m_record; }
    // The index of the point being edited or selected; -1 for none.
    int getCurrentPointIndex() const { return m_currentPoint; }
    // Selects a point (marks the shape dirty when the selection changes).
    void setCurrentPointIndex(int index);
    bool isDirty() const { return m_dirty; }
    void setDirty(bool dirty) { m_dirty = dirty; }
    bool isLabelMoved() const { return m_labelMoved; }
    int getNumber() const { return m_number; }
    void setNumber(int number) { m_number = number; }
    isNodeText* getLabel() const { return m_label; }
    isNodeText* getNumberLabel() const { return m_numberLabel; }
    // The draw node the shape and its handles are drawn in.
    class isDrawNode* getShapeNode() const { return m_shapeNode; }

    // Shows the text in the value label (made on first use); once the user has moved the label,
    // a non-empty text of a numbered measurement reads "<number>. <text>".
    void setLabelText(const std::string& text);
    // Places the value label's bottom-left corner 2 mm of screen above (x, y), window units; a
    // label the user has moved stays where it is.
    void setLabelPosition(float x, float y);
    // Once the value label has been moved: shows "<number> " 2 mm of screen left of (x, y).
    void updateNumberLabel(float x, float y);
    // Where the last setLabelPosition put the value label (window units), before the container
    // moved it clear of other labels and shapes; false before any placement.
    bool getLabelHome(cocos2d::Vec2& home) const
    {
        home = m_labelHome;
        return m_hasLabelHome;
    }
    // The world length of one screen pixel (orthographic scene camera); 1 otherwise.
    float getPixelSize() const;
    static void scaleVec3(cocos2d::Vec3& out, float s, const cocos2d::Vec3& v) { out = v * s; }

protected:
    // The kind setROIData accepts; 0 for any.
    virtual int acceptedKind() const { return 0; }
    // Whether the actor answers statistics (point, circle, polygon).
    virtual bool wantsStatistics() const { return false; }
    bool isSelected() const;
    // The window point of a world point through the scene camera (x, y).
    cocos2d::Vec2 toScreen(const cocos2d::Vec3& world) const;
    // The handles of every point: red on the selected one, yellow on the others.
    void drawHandles(class isDrawNode* node) const;
    // Places the value label over the points (smallest screen x, largest screen y) and the number
    // label at the point of smallest screen x (the first on a tie).
    void placeLabels(const cocos2d::Vec3* points, int count);
    // Posts a copy of the record to the window's image actor (9095), replacing a request of this
    // actor still pending.
    void requestStatistics();
    // Takes the answer for this measurement (same number and image key) into the label and record.
    void takeStatistics(NSUI::NSNotificationData* data);
    // Zoom, pan, turns and resizes of the window move the shape with the scene but not the labels
    // and the point's cross, which are placed in screen units: when the window's world-to-screen
    // mapping differs from the one of the last frame, the actor is drawn again. Only the placement
    // changed then, so no new statistics are asked for.
    void followView();
    // A draw node made, added as a scene node and returned (null when it cannot be made).
    class isDrawNode* makeShapeNode();

    ROIData* m_record = nullptr;
    class isDrawNode* m_shapeNode = nullptr;
    bool m_dirty = false;
    bool m_labelMoved = false;
    int m_currentPoint = -1;
    isNodeText* m_label = nullptr;
    isNodeText* m_numberLabel = nullptr;
    int m_number = 0;
    float m_labelFontSize = 15.0f;
    bool m_labelScaleFixed = false;
    float m_handleSize = 10.0f;
    // The window points of the world origin and of the ends of the three unit axes at the last
    // frame (see followView).
    cocos2d::Vec3 m_viewKey[4];
    cocos2d::Vec2 m_labelHome;
    bool m_hasLabelHome = false;
};

} // namespace isImageSDK
