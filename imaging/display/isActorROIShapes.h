// The five measurement actors: line (length), angle (degrees), point (value under it), circle
// and polygon (region statistics). Line and angle compute their own label; point, circle and
// polygon ask the window's image actor for their statistics (9095) after every redraw that was
// not caused by a label drag, and show its answer. Main thread only.
#pragma once

#include "isActorROIBase.h"
#include "isDrawNode.h"

namespace isImageSDK {

class isActorROILine : public isActorROIBase {
public:
    static isActorROILine* create() { return createAutoreleased<isActorROILine>(); }
    // The segment, handles when selected, and the length "%.1fmm" ("%.1fpx" in a window whose
    // image has no pixel spacing).
    void draw() override;

protected:
    int acceptedKind() const override { return ROI_LINE; }
};

// The base of the measurements placed point by point over several touches (angle, polygon):
// unfinished while they are being placed; a record that is already valid when it is set is
// finished.
class isActorROISteps : public isActorROIBase {
public:
    bool init() override;
    void setROIData(ROIData* record) override;
    bool isFinished() const override { return m_finished; }
    void setFinished(bool finished) { m_finished = finished; }

protected:
    bool m_finished = false;
};

class isActorROIAngle : public isActorROISteps {
public:
    static isActorROIAngle* create() { return createAutoreleased<isActorROIAngle>(); }
    // The two legs from point 0, handles when selected, and (valid) the angle "%.1fdeg".
    void draw() override;
    // At the end of a touch: from the first leg (once it is longer than 0.05) to the second, then
    // finished.
    void advanceStep();

protected:
    int acceptedKind() const override { return ROI_ANGLE; }
};

class isActorROIPoint : public isActorROIBase {
public:
    static isActorROIPoint* create() { return createAutoreleased<isActorROIPoint>(); }
    bool isValid() const override { return true; }
    // A cross in the view plane (arms 5 to 15 screen pixels from the point), the last answer as
    // label, then a statistics request.
    void draw() override;

protected:
    int acceptedKind() const override { return ROI_POINT; }
    bool wantsStatistics() const override { return true; }
};

class isActorROICircle : public isActorROIBase {
public:
    static isActorROICircle* create() { return createAutoreleased<isActorROICircle>(); }
    bool init() override;
    // The circle in the view plane, a handle on the centre when selected, and (valid) the last
    // answer as label, then a statistics request.
    void draw() override;

protected:
    int acceptedKind() const override { return ROI_CIRCLE; }
    bool wantsStatistics() const override { return true; }
};

class isActorROIPolygon : public isActorROISteps {
public:
    static isActorROIPolygon* create() { return createAutoreleased<isActorROIPolygon>(); }
    bool init() override;
    // The edges (the closing one dashed until finished), handles when selected, and (finished)
    // the last answer as label, then a statistics request.
    void draw() override;
    // At the end of a touch: keeps the vertex just placed (when it is more than 0.05 from the one
    // before) and starts a new one at the same place.
    void commitVertex();
    // The vertices a double tap leaves: without the copy of the last vertex that the previous
    // touch left for the next drag, nor the vertex that touch placed (the double click's first
    // click; one on the last corner places none).
    int getClosedVertexCount() const;
    // On a double tap, when at least three vertices are left: drops those two.
    void closePolygon();
    isDrawNode* getDashNode() const { return m_dashNode; }

protected:
    int acceptedKind() const override { return ROI_POLYGON; }
    bool wantsStatistics() const override { return true; }
    ROIPolygon* polygon() const { return static_cast<ROIPolygon*>(m_record); }
    isDrawNode* m_dashNode = nullptr;
    // Whether the last end of a touch placed a vertex.
    bool m_lastTouchPlacedVertex = false;
};

} // namespace isImageSDK
