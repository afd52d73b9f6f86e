#include "isActorROIShapes.h"

#include "isCamera.h"

#include "NSNotificationNumbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace isImageSDK {

using cocos2d::Color4F;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

constexpr int kShapeLineWidth = 4;

std::string formatted(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void resetNode(isDrawNode* node)
{
    node->clear();
    node->setLineWidth(kShapeLineWidth);
}

// The two in-plane directions of the view: the camera's right axis and its downward axis.
void viewAxes(isRenderWindowHost* window, Vec3& a, Vec3& b)
{
    isCamera* camera = window ? window->getSceneCamera() : nullptr;
    if (!camera) {
        a = Vec3(1, 0, 0);
        b = Vec3(0, 1, 0);
        return;
    }
    a = camera->getViewRight();
    b = -camera->getUpVector();
}

} // namespace

// Line ----------------------------------------------------------------------------------------

void isActorROILine::draw()
{
    if (!m_dirty || !m_renderWindow || !m_record)
        return;
    resetNode(m_shapeNode);
    const Vec3 ends[2] = {m_record->getPoint(0), m_record->getPoint(1)};
    m_shapeNode->drawLine(ends[0], ends[1], m_record->getColor());
    drawHandles(m_shapeNode);
    // Millimetres only where the file gave the pixel spacing; otherwise world units are pixels.
    setLabelText(formatted(m_renderWindow->hasPixelSpacing() ? "%.1fmm" : "%.1fpx", ends[0].distance(ends[1])));
    placeLabels(ends, 2);
    m_dirty = false;
    m_labelMoved = false;
}

// Placed in steps (angle, polygon) -------------------------------------------------------------

bool isActorROISteps::init()
{
    if (!isActorROIBase::init())
        return false;
    m_finished = false;
    return true;
}

void isActorROISteps::setROIData(ROIData* record)
{
    ROIData* before = m_record;
    isActorROIBase::setROIData(record);
    if (m_record != before)
        m_finished = m_record && m_record->isValid();
}

// Angle ---------------------------------------------------------------------------------------

void isActorROIAngle::draw()
{
    if (!m_dirty || !m_renderWindow || !m_record)
        return;
    resetNode(m_shapeNode);
    const Vec3 points[3] = {m_record->getPoint(0), m_record->getPoint(1), m_record->getPoint(2)};
    m_shapeNode->drawLine(points[0], points[1], m_record->getColor());
    m_shapeNode->drawLine(points[0], points[2], m_record->getColor());
    drawHandles(m_shapeNode);
    if (m_record->isValid()) {
        const Vec3 a = points[1] - points[0];
        const Vec3 b = points[2] - points[0];
        // Both legs are longer than 0.05 here; the clamp keeps rounding out of acos's domain.
        const double cosine = std::clamp(static_cast<double>(a.dot(b)) / (double(a.length()) * b.length()), -1.0, 1.0);
        setLabelText(formatted("%.1fdeg", std::acos(cosine) * 180.0 / 3.1415926));
        if (m_label)
            m_label->setVisible(true);
        placeLabels(points, 3);
    } else if (m_label) {
        m_label->setVisible(false);
    }
    m_dirty = false;
    m_labelMoved = false;
}

void isActorROIAngle::advanceStep()
{
    if (m_finished || !m_record)
        return;
    if (m_currentPoint == 1 && m_record->getPoint(0).distance(m_record->getPoint(1)) > kROIMinimumExtent) {
        m_currentPoint = 2;
        m_dirty = true;
    } else if (m_currentPoint == 2) {
        m_finished = true;
    }
}

// Point ---------------------------------------------------------------------------------------

void isActorROIPoint::draw()
{
    if (!m_dirty || !m_renderWindow || !m_record)
        return;
    resetNode(m_shapeNode);
    Vec3 a, b;
    viewAxes(m_renderWindow, a, b);
    const float pixel = getPixelSize();
    const Vec3 p = m_record->getPoint(0);
    const Color4F colour = isSelected() ? Color4F::RED : m_record->getColor();
    for (const Vec3& arm : {a, -a, b, -b})
        m_shapeNode->drawLine(p + arm * (5 * pixel), p + arm * (15 * pixel), colour);
    setLabelText(m_record->getText());
    const Vec2 s = toScreen(p);
    setLabelPosition(s.x - 15, s.y + 15);
    updateNumberLabel(s.x - 15, s.y);
    if (!m_labelMoved)
        requestStatistics();
    m_dirty = false;
    m_labelMoved = false;
}

// Circle --------------------------------------------------------------------------------------

bool isActorROICircle::init()
{
    if (!isActorROIBase::init())
        return false;
    m_labelScaleFixed = true;
    return true;
}

void isActorROICircle::draw()
{
    if (!m_dirty || !m_renderWindow || !m_record)
        return;
    resetNode(m_shapeNode);
    Vec3 a, b;
    viewAxes(m_renderWindow, a, b);
    const Vec3 centre = m_record->getPoint(0);
    const Vec3 rim = m_record->getPoint(1);
    const bool selected = isSelected();
    Color4F colour = m_record->getColor();
    if (selected)
        colour = m_currentPoint == 1 ? Color4F::RED : Color4F::YELLOW;
    m_shapeNode->drawCircle(centre, a, b, centre.distance(rim), 0.0f, 1.0f, 1.0f, colour);
    if (selected)
        m_shapeNode->drawPoint(centre, m_handleSize, m_currentPoint == 0 ? Color4F::RED : Color4F::YELLOW);
    if (m_record->isValid()) {
        const Vec2 c = toScreen(centre);
        const float r = c.distance(toScreen(rim));
        setLabelText(m_record->getText());
        if (m_label)
            m_label->setVisible(true);
        setLabelPosition(c.x - r, c.y + r);
        updateNumberLabel(c.x - r, c.y);
        if (!m_labelMoved)
            requestStatistics();
    } else if (m_label) {
        m_label->setVisible(false);
    }
    m_dirty = false;
    m_labelMoved = false;
}

// Polygon -------------------------------------------------------------------------------------

bool isActorROIPolygon::init()
{
    if (!isActorROISteps::init())
        return false;
    m_labelScaleFixed = true;
    m_dashNode = makeShapeNode();
    if (!m_dashNode)
        return false;
    m_dashNode->setStipple(true);
    return true;
}

void isActorROIPolygon::draw()
{
    if (!m_dirty || !m_renderWindow || !m_record)
        return;
    resetNode(m_shapeNode);
    resetNode(m_dashNode);
    const std::vector<Vec3>& vertices = polygon()->vertices;
    const Color4F& colour = m_record->getColor();
    const size_t n = vertices.size();
    for (size_t i = 1; i < n; ++i)
        m_shapeNode->drawLine(vertices[i - 1], vertices[i], colour);
    if (n > 1)
        (m_finished ? m_shapeNode : m_dashNode)->drawLine(vertices[n - 1], vertices[0], colour);
    drawHandles(m_shapeNode);
    if (m_finished && n > 0) {
        setLabelText(m_record->getText());
        placeLabels(vertices.data(), static_cast<int>(n));
        if (!m_labelMoved)
            requestStatistics();
    }
    m_dirty = false;
    m_labelMoved = false;
}

void isActorROIPolygon::commitVertex()
{
    if (m_finished || !m_record)
        return;
    m_lastTouchPlacedVertex = false;
    std::vector<Vec3>& vertices = polygon()->vertices;
    const size_t n = vertices.size();
    if (n < 2 || vertices[n - 1].distance(vertices[n - 2]) <= kROIMinimumExtent)
        return;
    const Vec3 last = vertices[n - 1];
    vertices.push_back(last);
    setCurrentPointIndex(static_cast<int>(n));
    m_lastTouchPlacedVertex = true;
}

int isActorROIPolygon::getClosedVertexCount() const
{
    const int n = m_record ? static_cast<int>(polygon()->vertices.size()) : 0;
    return std::max(0, n - (m_lastTouchPlacedVertex ? 2 : 1));
}

void isActorROIPolygon::closePolygon()
{
    if (m_finished || !m_record)
        return;
    const int kept = getClosedVertexCount();
    if (kept < 3)
        return;
    // The copy of the last vertex left for the next drag goes, and so does a vertex the double
    // click's first click placed, so the point double-clicked elsewhere is no corner of the
    // region; a double click on the last corner placed none, and that corner stays.
    polygon()->vertices.resize(static_cast<size_t>(kept));
    setCurrentPointIndex(kept - 1);
}

} // namespace isImageSDK
