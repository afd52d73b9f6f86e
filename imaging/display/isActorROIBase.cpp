#include "isActorROIBase.h"

#include "isCamera.h"
#include "isDrawNode.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <cstdio>

namespace isImageSDK {

namespace {

// Two millimetres of screen in design units.
int twoMillimetres()
{
    return static_cast<int>(cocos2d::Device::getUnitsPerInch() * 2 / 25.4f);
}

isNodeText* makeLabel(float fontSize, const cocos2d::Vec2& anchor)
{
    isNodeText* label = isNodeText::create();
    if (!label)
        return nullptr;
    label->setFontSize(fontSize);
    label->setTextColor(cocos2d::Color4B::WHITE);
    label->setAnchorPoint(anchor);
    label->setLayoutParameter(cocos2d::ui::LayoutParameter::create());
    return label;
}

} // namespace

isActorROIBase::~isActorROIBase()
{
    isActorROIBase::clear();
}

bool isActorROIBase::init()
{
    if (!isActorObject::init())
        return false;
    m_record = nullptr;
    m_dirty = false;
    m_labelMoved = false;
    m_currentPoint = -1;
    m_number = 0;
    m_labelFontSize = 15.0f;
    m_labelScaleFixed = false;
    m_handleSize = 10.0f;
    m_shapeNode = makeShapeNode();
    return m_shapeNode != nullptr;
}

void isActorROIBase::clear()
{
    isActorObject::clear();
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    // The shape node and the labels went with the base's node lists.
    m_shapeNode = nullptr;
    m_label = nullptr;
    m_numberLabel = nullptr;
    CC_SAFE_RELEASE_NULL(m_record);
}

void isActorROIBase::attachRenderWindow(isRenderWindowHost* window)
{
    isActorObject::attachRenderWindow(window);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserver(this);
    void* context = getWindowContext();
    if (!context)
        return;
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    centre->addObserver(this, context, callback, NOTIFY_TEXT_NODE_MOVED);
    centre->addObserver(this, context, callback, NOTIFY_RENDER_WINDOW_UPDATED);
    centre->addObserver(this, this, callback, NOTIFY_TEXT_NODE_MOVED);
    if (wantsStatistics())
        centre->addObserver(this, context, callback, NOTIFY_ROI_CHANGED);
}

void isActorROIBase::setROIData(ROIData* record)
{
    if (record == m_record)
        return;
    if (record && acceptedKind() != 0 && record->getKind() != acceptedKind())
        return;
    CC_SAFE_RETAIN(record);
    CC_SAFE_RELEASE(m_record);
    m_record = record;
    m_dirty = true;
}

bool isActorROIBase::isSelected() const
{
    return m_record && m_currentPoint >= 0 && m_currentPoint < m_record->getPointCount();
}

void isActorROIBase::setCurrentPoint(const cocos2d::Vec3& p)
{
    if (!m_record) {
        m_dirty = true;
        return;
    }
    // A point index outside the record (none selected) must not be written.
    if (!isSelected())
        return;
    m_record->setPoint(m_currentPoint, p);
    m_dirty = true;
}

void isActorROIBase::setCurrentPointIndex(int index)
{
    if (index != m_currentPoint) {
        m_currentPoint = index;
        m_dirty = true;
    }
}

void isActorROIBase::onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    if (id == NOTIFY_ROI_CHANGED) {
        if (wantsStatistics())
            takeStatistics(data);
    } else if (id == NOTIFY_RENDER_WINDOW_UPDATED) {
        followView();
        draw();
    } else if (id == NOTIFY_TEXT_NODE_MOVED) {
        if (data && m_record && data->object == m_record)
            m_dirty = true;
        if (m_label && sender == m_label) {
            m_dirty = true;
            m_labelMoved = true;
        }
    }
}

void isActorROIBase::draw()
{
    if ((m_dirty || m_labelMoved) && m_renderWindow) {
        m_dirty = false;
        m_labelMoved = false;
    }
}

void isActorROIBase::setLabelText(const std::string& text)
{
    if (!m_label) {
        m_label = makeLabel(m_labelFontSize, cocos2d::Vec2::ANCHOR_BOTTOM_LEFT);
        if (!m_label)
            return;
        addChildNode(m_label);
        m_label->setTouchEnabled(true);
        m_label->setLocalZOrder(1000);
        if (m_labelScaleFixed)
            m_label->setTouchScaleChangeEnabled(false);
    }
    if (!text.empty() && m_number > 0 && m_label->isMoved()) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%i. ", m_number);
        m_label->setString(prefix + text);
    } else {
        m_label->setString(text);
    }
}

void isActorROIBase::setLabelPosition(float x, float y)
{
    if (m_label && !m_label->isMoved()) {
        m_labelHome = cocos2d::Vec2(x, y + twoMillimetres());
        m_hasLabelHome = true;
        m_label->setPosition(m_labelHome);
    }
}

void isActorROIBase::updateNumberLabel(float x, float y)
{
    if (!m_label || !m_label->isMoved())
        return;
    if (!m_numberLabel) {
        m_numberLabel = makeLabel(m_labelFontSize, cocos2d::Vec2::ANCHOR_MIDDLE_RIGHT);
        if (!m_numberLabel)
            return;
        addChildNode(m_numberLabel);
    }
    m_numberLabel->setPosition(cocos2d::Vec2(x - twoMillimetres(), y));
    if (m_number >= 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%i ", m_number);
        m_numberLabel->setString(text);
        m_numberLabel->setVisible(true);
    } else {
        m_numberLabel->setVisible(false);
    }
}

float screenPixelWorldLength(isRenderWindowHost* window)
{
    isCamera* camera = window ? window->getSceneCamera() : nullptr;
    if (!camera || camera->isPerspective())
        return 0.0f;
    cocos2d::Vec3 a, b;
    camera->screenToWorld(cocos2d::Vec3(0, 0, 1), &a);
    camera->screenToWorld(cocos2d::Vec3(1, 0, 1), &b);
    return a.distance(b);
}

float isActorROIBase::getPixelSize() const
{
    const float pixel = screenPixelWorldLength(m_renderWindow);
    return pixel > 0 ? pixel : 1.0f;
}

cocos2d::Vec2 isActorROIBase::toScreen(const cocos2d::Vec3& world) const
{
    isCamera* camera = m_renderWindow ? m_renderWindow->getSceneCamera() : nullptr;
    if (!camera)
        return cocos2d::Vec2(world.x, world.y);
    cocos2d::Vec3 screen;
    camera->worldToScreen(world, &screen);
    return cocos2d::Vec2(screen.x, screen.y);
}

void isActorROIBase::drawHandles(isDrawNode* node) const
{
    if (!isSelected())
        return;
    const int count = m_record->getPointCount();
    for (int i = 0; i < count; ++i)
        node->drawPoint(m_record->getPoint(i), m_handleSize,
                        i == m_currentPoint ? cocos2d::Color4F::RED : cocos2d::Color4F::YELLOW);
}

void isActorROIBase::placeLabels(const cocos2d::Vec3* points, int count)
{
    if (count < 1)
        return;
    cocos2d::Vec2 left = toScreen(points[0]);
    float top = left.y;
    for (int i = 1; i < count; ++i) {
        const cocos2d::Vec2 s = toScreen(points[i]);
        if (s.x < left.x)
            left = s;
        top = std::max(top, s.y);
    }
    setLabelPosition(left.x, top);
    updateNumberLabel(left.x, left.y);
}

void isActorROIBase::requestStatistics()
{
    ROIData* copy = cloneROIData(m_record);
    void* context = getWindowContext();
    if (!copy || !context)
        return;
    NSUI::NSNotificationData* payload = NSUI::NSNotificationData::create();
    payload->setObject(copy);
    payload->intValue2 = static_cast<int>(m_record->getImageKeyHash());
    payload->intValue = m_number;
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->cancelNotification(this, NOTIFY_ROI_CHANGED, context);
    centre->postNotification(this, NOTIFY_ROI_CHANGED, payload, context, false);
}

void isActorROIBase::takeStatistics(NSUI::NSNotificationData* data)
{
    if (!data || !m_record || static_cast<uint32_t>(data->intValue2) != m_record->getImageKeyHash() ||
        data->intValue != m_number)
        return;
    // Another measurement's request carries its own number; the image actor's answer has no record.
    if (data->object)
        return;
    setLabelText(data->text);
    m_record->setText(data->text);
}

void isActorROIBase::followView()
{
    isCamera* camera = m_renderWindow ? m_renderWindow->getSceneCamera() : nullptr;
    if (!camera)
        return;
    static const cocos2d::Vec3 probes[4] = {cocos2d::Vec3::ZERO, cocos2d::Vec3::UNIT_X, cocos2d::Vec3::UNIT_Y,
                                            cocos2d::Vec3::UNIT_Z};
    bool moved = false;
    for (int i = 0; i < 4; ++i) {
        cocos2d::Vec3 window;
        camera->worldToScreen(probes[i], &window);
        moved = moved || window != m_viewKey[i];
        m_viewKey[i] = window;
    }
    if (!moved || !m_record)
        return;
    if (!m_dirty)
        m_labelMoved = true;
    m_dirty = true;
}

isDrawNode* isActorROIBase::makeShapeNode()
{
    isDrawNode* node = isDrawNode::create();
    if (node)
        addSceneNode(node);
    return node;
}

} // namespace isImageSDK
