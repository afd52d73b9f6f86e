#include "isActorCrossLine.h"
#include "isSegmentClip.h"

#include "isCamera.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <algorithm>
#include <cstdlib>

namespace isImageSDK {

namespace {
// Window units of the gap left around the centre on either side, and its least world length.
constexpr float kGapWindowUnits = 30.0f;
constexpr float kMinimumGap = 2.0f;
// World length of each reference line beyond the gap (millimetres).
constexpr float kLineReach = 10000.0f;
constexpr float kLineWidth = 4.0f;
// The active-window square: 20 x 20 window units, 5 inside the top-right corner.
constexpr float kMarkerInset = 5.0f;
constexpr float kMarkerSize = 20.0f;
// The border outline, 1 unit inside the window's edges.
constexpr float kBorderInset = 1.0f;
// Window units kept between a reference line's end and a box it must stay out of.
constexpr float kClearance = 4.0f;

// The fraction t of the segment a -> b (window units) at which it first enters the box, 1 when it
// never does.
float entryFraction(const cocos2d::Vec2& a, const cocos2d::Vec2& b, const cocos2d::Rect& box)
{
    float enter = 0.0f;
    return clipSegment(a, b, box, enter) ? enter : 1.0f;
}

// The oblique-plane notice's keys: the three axes (columns 0 to 2), then the centre (column 3).
const char* const kFrameKeys[4][3] = {
    {"nx1", "nx2", "nx3"}, {"ny1", "ny2", "ny3"}, {"nz1", "nz2", "nz3"}, {"x", "y", "z"}};

cocos2d::DrawNode* makeDrawNode(float lineWidth)
{
    cocos2d::DrawNode* node = cocos2d::DrawNode::create();
    node->setLineWidth(lineWidth);
    node->retain();
    return node;
}

void releaseNode(cocos2d::Node*& node)
{
    if (node) {
        cocos2d::Node* held = node;
        node = nullptr;
        held->release();
    }
}
} // namespace

const char* const isActorCrossLine::kAutoHideKey = "_is_actor_crossline";

isActorCrossLine::~isActorCrossLine()
{
    isActorCrossLine::clear();
}

bool isActorCrossLine::init()
{
    if (!isActorObject::init())
        return false;
    setTag(-1);
    setName("");
    m_planeFrame = cocos2d::Mat4::IDENTITY;
    m_linesDirty = false;
    m_borderVisible = false;
    m_markerShown = false;
    m_crossLinesVisible = false;
    m_borderColors[0] = cocos2d::Color4F::MAGENTA;
    m_borderColors[1] = cocos2d::Color4F::ORANGE;
    m_borderColors[2] = cocos2d::Color4F::BLUE;
    m_colorIndex = 0;
    return true;
}

void isActorCrossLine::clear()
{
    isActorObject::clear();
    // The list held the nodes; these fields are our own references to them.
    cocos2d::Node* nodes[3] = {m_referenceLines, m_borderNode, m_markerNode};
    m_referenceLines = nullptr;
    m_borderNode = nullptr;
    m_markerNode = nullptr;
    for (cocos2d::Node*& node : nodes)
        releaseNode(node);
    setAutoHide(false);
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void isActorCrossLine::attachRenderWindow(isRenderWindowHost* window)
{
    isActorObject::attachRenderWindow(window);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserver(this);
    if (!m_renderWindow)
        return;
    void* context = getWindowContext();
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NOTIFY_OBLIQUE_PLANE, NOTIFY_RENDER_WINDOW_UPDATED, NOTIFY_VIEW_CHANGED})
        centre->addObserver(this, context, callback, id);
}

void isActorCrossLine::setCrossLinesVisible(bool visible)
{
    if (!m_referenceLines) {
        m_referenceLines = isNodeLine::create();
        m_referenceLines->retain();
        m_referenceLines->setLineWidth(static_cast<int>(kLineWidth));
        // Hidden until the first redraw.
        m_referenceLines->setVisible(false);
        addSceneNode(m_referenceLines);
    }
    if (visible == m_crossLinesVisible)
        return;
    m_crossLinesVisible = visible;
    m_referenceLines->setVisible(visible);
}

void isActorCrossLine::setBorderVisible(bool visible)
{
    if (!m_borderNode) {
        m_borderNode = makeDrawNode(kLineWidth);
        addChildNode(m_borderNode);
    }
    if (visible == m_borderVisible)
        return;
    m_borderVisible = visible;
    m_borderNode->setVisible(visible);
    drawBorder();
}

void isActorCrossLine::setBorderColorIndex(int index)
{
    // The index picks one of three colours; anything else would read past them.
    if (index < 0 || index > 2 || index == m_colorIndex)
        return;
    m_colorIndex = index;
    if (m_borderVisible)
        drawBorder();
}

void isActorCrossLine::showCornerMarker()
{
    if (!m_markerNode) {
        m_markerNode = makeDrawNode(1.0f);
        addChildNode(m_markerNode);
    }
    if (m_markerShown)
        return;
    m_markerShown = true;
    m_markerNode->setVisible(true);
    const cocos2d::Size size = windowSize();
    const cocos2d::Vec2 top(size.width - kMarkerInset, size.height - kMarkerInset);
    m_markerNode->drawSolidRect(top - cocos2d::Vec2(kMarkerSize, kMarkerSize), top, m_borderColors[m_colorIndex]);
}

void isActorCrossLine::setAutoHide(bool enabled)
{
    // The timer is stopped on the scheduler that runs it (held), which may outlive its director.
    if (m_hideScheduler) {
        cocos2d::Scheduler* scheduler = m_hideScheduler;
        m_hideScheduler = nullptr;
        scheduler->unschedule(kAutoHideKey, this);
        scheduler->release();
    }
    if (!enabled)
        return;
    // Scheduling a running key would keep its old delay; the lines must stay the full delay
    // after their latest redraw, so the timer starts afresh.
    m_hideScheduler = cocos2d::Director::getInstance()->getScheduler();
    m_hideScheduler->retain();
    m_hideScheduler->schedule([this](float) { hideLines(); }, this, 1.0f, 1, kAutoHideDelay, false, kAutoHideKey);
}

void isActorCrossLine::onNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    switch (id) {
    case NOTIFY_OBLIQUE_PLANE: {
        m_linesDirty = true;
        const std::string json = data ? data->text : std::string();
        for (int column = 0; column < 4; ++column)
            for (int row = 0; row < 3; ++row)
                m_planeFrame.m[column * 4 + row] =
                    static_cast<float>(std::atof(getString(json, kFrameKeys[column][row]).c_str()));
        break;
    }
    case NOTIFY_VIEW_CHANGED:
        m_linesDirty = true;
        break;
    case NOTIFY_RENDER_WINDOW_UPDATED:
        // The boxes to keep clear are laid out with the window: lines drawn before they found
        // their places are drawn again.
        if (m_keepClear && m_crossLinesVisible) {
            std::vector<cocos2d::Rect> boxes = m_keepClear();
            if (boxes.size() != m_clearedBoxes.size() ||
                !std::equal(boxes.begin(), boxes.end(), m_clearedBoxes.begin(),
                            [](const cocos2d::Rect& a, const cocos2d::Rect& b) { return a.equals(b); }))
                m_linesDirty = true;
        }
        redrawLines();
        break;
    default:
        break;
    }
}

void isActorCrossLine::redrawLines()
{
    if (!m_linesDirty || !m_renderWindow)
        return;
    m_linesDirty = false;
    if (!m_referenceLines || !m_crossLinesVisible)
        return;
    m_referenceLines->clearLines();
    m_referenceLines->setVisible(true);

    float gap = kMinimumGap;
    if (isCamera* camera = m_renderWindow->getSceneCamera()) {
        cocos2d::Vec3 p0, p1;
        camera->screenToWorld(cocos2d::Vec3(0.0f, 0.0f, 1.0f), &p0);
        camera->screenToWorld(cocos2d::Vec3(0.0f, kGapWindowUnits, 1.0f), &p1);
        gap = std::max(kMinimumGap, p0.distance(p1));
    }

    // Each line takes the colour of the plane it stands for: the two planes other than ours.
    const cocos2d::Color4F* colorA = &m_borderColors[1];
    const cocos2d::Color4F* colorB = &m_borderColors[0];
    if (m_colorIndex == 0) {
        colorA = &m_borderColors[2];
        colorB = &m_borderColors[1];
    } else if (m_colorIndex == 1) {
        colorA = &m_borderColors[2];
        colorB = &m_borderColors[0];
    }
    const float* m = m_planeFrame.m;
    const cocos2d::Vec3 a(m[0], m[1], m[2]);
    const cocos2d::Vec3 b(m[4], m[5], m[6]);
    const cocos2d::Vec3 c(m[12], m[13], m[14]);
    std::vector<cocos2d::Rect> boxes;
    if (m_keepClear)
        boxes = m_keepClear();
    m_clearedBoxes = boxes;
    isCamera* camera = m_renderWindow->getSceneCamera();
    // Each line runs outward from the gap; it stops short of the first box it would enter.
    auto addRay = [&](const cocos2d::Vec3& direction, const cocos2d::Color4F& colour) {
        const cocos2d::Vec3 from = c + direction * gap;
        cocos2d::Vec3 to = c + direction * kLineReach;
        if (camera && !boxes.empty()) {
            cocos2d::Vec3 s0, s1;
            camera->worldToScreen(from, &s0);
            camera->worldToScreen(to, &s1);
            const cocos2d::Vec2 p0(s0.x, s0.y), p1(s1.x, s1.y);
            const float length = p0.distance(p1);
            float t = 1.0f;
            for (cocos2d::Rect box : boxes) {
                box.origin -= cocos2d::Vec2(kClearance, kClearance);
                box.size = box.size + cocos2d::Size(2 * kClearance, 2 * kClearance);
                t = std::min(t, entryFraction(p0, p1, box));
            }
            if (t < 1.0f) {
                if (t * length < 1.0f)
                    return;
                to = from + (to - from) * t;
            }
        }
        m_referenceLines->addLine(from, to, colour);
    };
    addRay(a, *colorA);
    addRay(-a, *colorA);
    addRay(b, *colorB);
    addRay(-b, *colorB);
    setAutoHide(true);
}

void isActorCrossLine::drawBorder()
{
    m_borderNode->clear();
    const cocos2d::Size size = windowSize();
    m_borderNode->drawRect(cocos2d::Vec2(kBorderInset, kBorderInset),
                           cocos2d::Vec2(size.width - kBorderInset, size.height - kBorderInset),
                           m_borderColors[m_colorIndex]);
}

void isActorCrossLine::hideLines()
{
    if (m_referenceLines)
        m_referenceLines->setVisible(false);
}

cocos2d::Size isActorCrossLine::windowSize() const
{
    return m_renderWindow ? m_renderWindow->getHostNode()->getContentSize() : cocos2d::Size::ZERO;
}

} // namespace isImageSDK
