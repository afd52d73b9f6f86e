#include "isActorROI.h"
#include "isSegmentClip.h"

#include "isCamera.h"
#include "isROIManager.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "UIJson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace isImageSDK {

namespace {

// A new drawing actor for a record of this kind (autoreleased); null for another kind.
isActorROIBase* actorForKind(int kind)
{
    switch (kind) {
    case ROI_LINE: return isActorROILine::create();
    case ROI_ANGLE: return isActorROIAngle::create();
    case ROI_POINT: return isActorROIPoint::create();
    case ROI_CIRCLE: return isActorROICircle::create();
    case ROI_POLYGON: return isActorROIPolygon::create();
    default: return nullptr;
    }
}

constexpr float kPickLimit = 15.0f;

} // namespace

isActorROI::~isActorROI()
{
    isActorROI::clear();
}

bool isActorROI::init()
{
    if (!isActorObject::init())
        return false;
    m_imageId.clear();
    m_orient = -1;
    m_sliceIndex = -1;
    m_keyHash = 0;
    m_nextNumber = 1;
    return true;
}

void isActorROI::clear()
{
    dropActors();
    isActorObject::clear();
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void isActorROI::attachRenderWindow(isRenderWindowHost* window)
{
    isActorObject::attachRenderWindow(window);
    void* context = getWindowContext();
    if (!context)
        return;
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserver(this);
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    centre->addObserver(this, context, callback, NOTIFY_IMAGE_ORIENT_CHANGED);
    centre->addObserver(this, context, callback, NOTIFY_IMAGE_SLICE_CHANGED);
}

void isActorROI::dropActors()
{
    std::vector<isActorROIBase*> actors;
    actors.swap(m_roiActors);
    for (isActorROIBase* actor : actors) {
        actor->detachRenderWindow();
        actor->release();
    }
}

void isActorROI::setImageKey(const std::string& imageId)
{
    if (imageId == m_imageId)
        return;
    m_keyHash = 0;
    m_imageId = imageId;
    dropActors();
}

void isActorROI::setOrient(int orient)
{
    if (orient == m_orient)
        return;
    m_keyHash = 0;
    m_orient = orient;
    dropActors();
}

void isActorROI::setSliceIndex(int index)
{
    if (index == m_sliceIndex)
        return;
    m_keyHash = 0;
    m_sliceIndex = index;
    dropActors();
}

uint32_t isActorROI::getImageKeyHash()
{
    if (m_keyHash != 0)
        return m_keyHash;
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, ",%i,%i", m_orient, m_sliceIndex);
    m_keyHash = foldedHash32(m_imageId + numbers);
    return m_keyHash;
}

void isActorROI::append(isActorROIBase* actor)
{
    actor->retain();
    m_roiActors.push_back(actor);
}

void isActorROI::rebuildROIActors()
{
    dropActors();
    m_nextNumber = 1;
    const uint32_t hash = getImageKeyHash();
    std::vector<ROIData*> records;
    for (ROIData* record : isROIManager::getInstance()->getROIs())
        if (record->getImageKeyHash() == hash)
            records.push_back(record);
    for (ROIData* record : records) {
        if (!record->isValid())
            continue;
        isActorROIBase* actor = actorForKind(record->getKind());
        if (!actor)
            continue;
        actor->setROIData(record);
        actor->attachRenderWindow(m_renderWindow);
        actor->setNumber(m_nextNumber++);
        append(actor);
    }
}

void isActorROI::adoptROI(isActorROIBase* actor, ROIData* record, int currentPoint)
{
    if (!actor || !record)
        return;
    record->setImageKeyHash(getImageKeyHash());
    actor->setROIData(record);
    actor->attachRenderWindow(m_renderWindow);
    actor->setNumber(m_nextNumber++);
    actor->setCurrentPointIndex(currentPoint);
    append(actor);
    isROIManager::getInstance()->addROI(record);
}

isActorROIPoint* isActorROI::addPointROI(const cocos2d::Vec3& p)
{
    ROIPoint* record = ROIPoint::create();
    isActorROIPoint* actor = isActorROIPoint::create();
    if (!record || !actor)
        return nullptr;
    record->setPoint(0, p);
    adoptROI(actor, record, 0);
    return actor;
}

isActorROIAngle* isActorROI::addAngleROI(const cocos2d::Vec3& p)
{
    ROIAngle* record = ROIAngle::create();
    isActorROIAngle* actor = isActorROIAngle::create();
    if (!record || !actor)
        return nullptr;
    for (int i = 0; i < 3; ++i)
        record->setPoint(i, p);
    adoptROI(actor, record, 1);
    return actor;
}

isActorROIPolygon* isActorROI::addPolygonROI(const cocos2d::Vec3& a, const cocos2d::Vec3& b)
{
    ROIPolygon* record = ROIPolygon::create();
    isActorROIPolygon* actor = isActorROIPolygon::create();
    if (!record || !actor)
        return nullptr;
    record->vertices = {a, b};
    adoptROI(actor, record, 1);
    return actor;
}

void isActorROI::removeROIActor(isActorROIBase* actor)
{
    if (!actor)
        return;
    // Keep the actor alive while it is taken apart.
    actor->retain();
    actor->detachRenderWindow();
    if (actor->getNumber() == m_nextNumber - 1)
        --m_nextNumber;
    if (ROIData* record = actor->getROIData())
        if (isROIManager* manager = isROIManager::peekInstance())
            manager->removeROI(record);
    auto it = std::find(m_roiActors.begin(), m_roiActors.end(), actor);
    if (it != m_roiActors.end()) {
        m_roiActors.erase(it);
        actor->release();
    }
    actor->release();
}

void isActorROI::removeROIById(unsigned int refId)
{
    for (isActorROIBase* actor : m_roiActors) {
        ROIData* record = actor->getROIData();
        if (record && record->getRefID() == refId) {
            removeROIActor(actor);
            return;
        }
    }
}

isActorROIBase* isActorROI::hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction)
{
    isActorROIBase* best = nullptr;
    float bestDistance = 999999.0f;
    int bestIndex = -1;
    for (isActorROIBase* actor : m_roiActors) {
        ROIData* record = actor->getROIData();
        if (!record)
            continue;
        float distance = bestDistance;
        int index = -1;
        record->hitTest(origin, direction, &distance, &index);
        if (distance < bestDistance && index >= 0) {
            best = actor;
            bestDistance = distance;
            bestIndex = index;
        }
    }
    // An orthographic view measures the pick in screen pixels.
    const float pixel = screenPixelWorldLength(m_renderWindow);
    if (pixel > 0)
        bestDistance /= pixel;
    if (!best || bestDistance > kPickLimit)
        return nullptr;
    best->setCurrentPointIndex(bestIndex);
    return best;
}

void isActorROI::onNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    const std::string json = data ? data->text : std::string();
    if (id == NOTIFY_IMAGE_ORIENT_CHANGED)
        setOrient(NSUI::UIJson::getInt(json, "orient", 0));
    else if (id == NOTIFY_IMAGE_SLICE_CHANGED)
        setSliceIndex(NSUI::UIJson::getInt(json, "index", 0));
    else
        return;
    rebuildROIActors();
}

namespace {

using Segment = std::pair<cocos2d::Vec2, cocos2d::Vec2>;

// Whether the segment (window units) passes through the box.
bool crosses(const Segment& segment, const cocos2d::Rect& box)
{
    float enter = 0.0f;
    return clipSegment(segment.first, segment.second, box, enter);
}

} // namespace

void isActorROI::arrangeLabels()
{
    isCamera* camera = m_renderWindow ? m_renderWindow->getSceneCamera() : nullptr;
    cocos2d::Node* host = m_renderWindow ? m_renderWindow->getHostNode() : nullptr;
    if (!camera || !host || m_roiActors.empty())
        return;
    auto screen = [camera](const cocos2d::Vec3& world) {
        cocos2d::Vec3 window;
        camera->worldToScreen(world, &window);
        return cocos2d::Vec2(window.x, window.y);
    };
    // The outlines of every measurement, as drawn (circles as 32-sided polygons).
    std::vector<Segment> outlines;
    for (isActorROIBase* actor : m_roiActors) {
        const ROIData* record = actor->getROIData();
        if (!record)
            continue;
        const int count = record->getPointCount();
        switch (record->getKind()) {
        case ROI_LINE:
            outlines.emplace_back(screen(record->getPoint(0)), screen(record->getPoint(1)));
            break;
        case ROI_ANGLE:
            outlines.emplace_back(screen(record->getPoint(0)), screen(record->getPoint(1)));
            outlines.emplace_back(screen(record->getPoint(0)), screen(record->getPoint(2)));
            break;
        case ROI_CIRCLE: {
            const cocos2d::Vec2 c = screen(record->getPoint(0));
            const float r = c.distance(screen(record->getPoint(1)));
            constexpr int kSides = 32;
            for (int i = 0; i < kSides; ++i) {
                const float a0 = 6.2831853f * i / kSides, a1 = 6.2831853f * (i + 1) / kSides;
                outlines.emplace_back(c + cocos2d::Vec2(std::cos(a0), std::sin(a0)) * r,
                                      c + cocos2d::Vec2(std::cos(a1), std::sin(a1)) * r);
            }
            break;
        }
        case ROI_POLYGON:
            for (int i = 0; i + 1 < count; ++i)
                outlines.emplace_back(screen(record->getPoint(i)), screen(record->getPoint(i + 1)));
            if (count > 2)
                outlines.emplace_back(screen(record->getPoint(count - 1)), screen(record->getPoint(0)));
            break;
        default:
            break;
        }
    }
    // A label's box at a place (its anchor is its bottom-left corner), in window units.
    auto boxAt = [host](isNodeText* label, const cocos2d::Vec2& place) {
        const cocos2d::Rect own = label->getBoundingBox();
        const cocos2d::Vec2 shift = place - label->getPosition();
        cocos2d::Vec2 low = cocos2d::Vec2(own.getMinX(), own.getMinY()) + shift;
        cocos2d::Vec2 high = cocos2d::Vec2(own.getMaxX(), own.getMaxY()) + shift;
        if (cocos2d::Node* parent = label->getParent(); parent && parent != host) {
            low = host->convertToNodeSpace(parent->convertToWorldSpace(low));
            high = host->convertToNodeSpace(parent->convertToWorldSpace(high));
        }
        return cocos2d::Rect(low.x, low.y, high.x - low.x, high.y - low.y);
    };
    const cocos2d::Size window = host->getContentSize();
    std::vector<cocos2d::Rect> placed;
    for (isActorROIBase* actor : m_roiActors) {
        isNodeText* label = actor->getLabel();
        if (!label || !label->isVisible() || label->getString().empty())
            continue;
        cocos2d::Vec2 home;
        if (label->isMoved() || !actor->getLabelHome(home)) {
            placed.push_back(boxAt(label, label->getPosition()));
            continue;
        }
        const float step = boxAt(label, home).size.height + 2.0f;
        auto free = [&](const cocos2d::Rect& box) {
            for (const cocos2d::Rect& other : placed)
                if (box.intersectsRect(other))
                    return false;
            for (const Segment& segment : outlines)
                if (crosses(segment, box))
                    return false;
            return true;
        };
        cocos2d::Vec2 chosen = home;
        constexpr int kTries = 8;
        for (int k = 0; k <= 2 * kTries; ++k) {
            // 0, then 1..kTries label heights up, then 1..kTries down.
            const float dy = k == 0 ? 0.0f : k <= kTries ? step * k : -step * (k - kTries);
            const cocos2d::Vec2 place = home + cocos2d::Vec2(0.0f, dy);
            const cocos2d::Rect box = boxAt(label, place);
            if (k > 0 && (box.getMinY() < 0.0f || box.getMaxY() > window.height))
                continue;
            if (free(box)) {
                chosen = place;
                break;
            }
        }
        if (label->getPosition() != chosen)
            label->setPosition(chosen);
        placed.push_back(boxAt(label, chosen));
    }
}

} // namespace isImageSDK
