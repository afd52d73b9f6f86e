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
    bool init() override;
    bool isValid() const override { return m_record && m_record->isValid(); }
    // The segment, handles when selected, and the length "%.1fmm".
    void draw() override;
    isDrawNode* getShapeNode() const { return m_shapeNode; }

protected:
    int acceptedKind() const override { return ROI_LINE; }
    isDrawNode* m_shapeNode = nullptr;
};

class isActorROIAngle : public isActorROIBase {
public:
    static isActorROIAngle* create() { return createAutoreleased<isActorROIAngle>(); }
    bool init() override;
    void setROIData(ROIData* record) override;
    bool isValid() const override { return m_record && m_record->isValid(); }
    bool isFinished() const override { return m_finished; }
    void setFinished(bool finished) { m_finished = finished; }
    // The two legs from point 0, handles when selected, and (valid) the angle "%.1fdeg".
    void draw() override;
    // At the end of a touch: from the first leg (once it is longer than 0.05) to the second, then
    // finished.
    void advanceStep();
    isDrawNode* getShapeNode() const { return m_shapeNode; }

protected:
    int acceptedKind() const override { return ROI_ANGLE; }
    isDrawNode* m_shapeNode = nullptr;
    bool m_finished = false;
};

class isActorROIPoint : public isActorROIBase {
public:
    static isActorROIPoint* create() { return createAutoreleased<isActorROIPoint>(); }
    bool init() override;
    bool isValid() const override { return true; }
    // A cross in the view plane (arms 5 to 15 screen pixels from the point), the last answer as
    // label, then a statistics request.
    void draw() override;
    isDrawNode* getShapeNode() const { return m_shapeNode; }

protected:
    int acceptedKind() const override { return ROI_POINT; }
    bool wantsStatistics() const override { return true; }
    isDrawNode* m_shapeNode = nullptr;
};

class isActorROICircle : public isActorROIBase {
public:
    static isActorROICircle* create() { return createAutoreleased<isActorROICircle>(); }
    bool init() override;
    bool isValid() const override { return m_record && m_record->isValid(); }
    // The circle in the view plane, a handle on the centre when selected, and (valid) the last
    // answer as label, then a statistics request.
    void draw() override;
    isDrawNode* getShapeNode() const { return m_shapeNode; }

protected:
    int acceptedKind() const override { return ROI_CIRCLE; }
    bool wantsStatistics() const override { return true; }
    isDrawNode* m_shapeNode = nullptr;
};

class isActorROIPolygon : public isActorROIBase {
public:
    static isActorROIPolygon* create() { return createAutoreleased<isActorROIPolygon>(); }
    bool init() override;
    void setROIData(ROIData* record) override;
    bool isValid() const override { return m_record && m_record->isValid(); }
    bool isFinished() const override { return m_finished; }
    void setFinished(bool finished) { m_finished = finished; }
    // The edges (the closing one dashed until finished), handles when selected, and (finished)
    // the last answer as label, then a statistics request.
    void draw() override;
    // At the end of a touch: keeps the vertex just placed (when it is more than 0.05 from the one
    // before) and starts a new one at the same place.
    void commitVertex();
    // On a double tap (at least five vertices): drops the copy of the last vertex that the end of
    // the previous touch left for the next drag; every placed vertex stays.
    void closePolygon();
    isDrawNode* getShapeNode() const { return m_shapeNode; }
    isDrawNode* getDashNode() const { return m_dashNode; }

protected:
    int acceptedKind() const override { return ROI_POLYGON; }
    bool wantsStatistics() const override { return true; }
    ROIPolygon* polygon() const { return static_cast<ROIPolygon*>(m_record); }
    isDrawNode* m_shapeNode = nullptr;
    isDrawNode* m_dashNode = nullptr;
    bool m_finished = false;
};

} // namespace isImageSDK
