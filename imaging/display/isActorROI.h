// isActorROI: the measurement container of one render window. Measurements live as records in
// the process-wide isROIManager, each tagged with the hash of an image key (the image's
// comma-joined file names, the plane orientation and the slice index, "%s,%i,%i"). The container
// follows what its window shows: when the window's image actor announces another slice (9093) or
// orientation (9094), it throws its drawing actors away and builds one for every valid record of
// the new key, numbered from 1. So a measurement stays on the slice and plane it was drawn on and
// reappears, with its number, whenever any window shows that slice again. When the window steps
// to another frame of a record of several frames, or a playback stops, its measurements draw again
// and ask for the statistics of the frame shown.
//
// It also creates point, angle and polygon measurements for the window's interactor (line and
// circle measurements are made by the interactor with adoptROI), removes them, and finds the
// measurement nearest a pick line. Main thread only.
#pragma once

#include "isActorROIShapes.h"

#include <functional>
#include <string>
#include <vector>

namespace isImageSDK {

class isActorROI : public isActorObject {
public:
    static isActorROI* create() { return createAutoreleased<isActorROI>(); }
    ~isActorROI() override;

    // No image, orientation and slice -1, no actors, next number 1.
    bool init() override;
    // Releases the measurement actors, then the base clear.
    void clear() override;
    // Follows the window's slice (9093) and orientation (9094) announcements.
    void attachRenderWindow(isRenderWindowHost* window) override;

    // A new image (its comma-joined file names): the drawing actors are dropped; the next 9093 or
    // 9094 rebuilds them. The same text again does nothing.
    void setImageKey(const std::string& imageId);
    void setOrient(int orient);
    void setSliceIndex(int index);
    // The hash of the current image key (cached until the key changes).
    uint32_t getImageKeyHash();
    const std::string& getImageId() const { return m_imageId; }
    int getOrient() const { return m_orient; }
    int getSliceIndex() const { return m_sliceIndex; }

    // Drops every drawing actor and makes one for each valid record of the current key, in the
    // order of the process-wide list, numbered from 1.
    void rebuildROIActors();

    // New measurements at a touch (world point), given the current key, attached, numbered and
    // listed here and process-wide. The angle starts with its first leg's end selected, the
    // polygon with its second vertex.
    isActorROIPoint* addPointROI(const cocos2d::Vec3& p);
    isActorROIAngle* addAngleROI(const cocos2d::Vec3& p);
    isActorROIPolygon* addPolygonROI(const cocos2d::Vec3& a, const cocos2d::Vec3& b);
    // Takes a new measurement made elsewhere (the interactor's lines and circles): the record gets
    // the current key, the actor the record; the actor is attached to the window, numbered,
    // given its current point and listed here, the record process-wide.
    void adoptROI(isActorROIBase* actor, ROIData* record, int currentPoint);

    // Detaches the actor and forgets it and its record (here and process-wide). When it had the
    // last number given out, that number is given out again.
    void removeROIActor(isActorROIBase* actor);
    // The measurement whose record has this framework reference id (nothing when none has).
    void removeROIById(unsigned int refId);

    // The measurement with a point nearest the pick line, within 15 screen pixels (orthographic
    // scene camera) or 15 world units; that point becomes its current point. Null when none.
    isActorROIBase* hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction);

    // The number the next measurement gets, and the measurements shown, in order.
    int getNextNumber() const { return m_nextNumber; }
    void setNextNumber(int number) { m_nextNumber = number; }
    const std::vector<isActorROIBase*>& getROIActors() const { return m_roiActors; }

    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    // Keeps the value labels readable (see isROILabelLayout): each label the user has not moved
    // goes, in list order, inside the window to a place near its shape where it overlaps no other
    // text and no outline crosses it, or, when there is none near, to the nearest such place
    // with a leader line to its shape. Texts that stay where they are: the boxes of setKeepClear,
    // the number labels and the labels the user moved. Window units; cheap enough for every frame
    // (a label whose own place is free costs one test).
    void arrangeLabels();
    // Boxes (window units) of other texts of the window the labels must keep clear of, asked for
    // at each arrangement.
    void setKeepClear(std::function<std::vector<cocos2d::Rect>()> boxes) { m_keepClear = std::move(boxes); }
    // The node the leader lines are drawn in (null before a label needed one).
    cocos2d::DrawNode* getLeaderNode() const { return m_leaders; }
    // The leader lines drawn, label end first (window units).
    const std::vector<std::pair<cocos2d::Vec2, cocos2d::Vec2>>& getLeaderLines() const { return m_leaderLines; }

private:
    // Detaches and releases every drawing actor.
    void dropActors();
    // Lists (retains) an attached, numbered actor.
    void append(isActorROIBase* actor);

    std::string m_imageId;
    int m_orient = -1;
    int m_sliceIndex = -1;
    uint32_t m_keyHash = 0;
    std::vector<isActorROIBase*> m_roiActors;
    int m_nextNumber = 1;
    std::function<std::vector<cocos2d::Rect>()> m_keepClear;
    cocos2d::DrawNode* m_leaders = nullptr;  // a plain node of the window, owned by the base
    std::vector<std::pair<cocos2d::Vec2, cocos2d::Vec2>> m_leaderLines;  // as last drawn
};

} // namespace isImageSDK
