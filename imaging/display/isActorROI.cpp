#include "isActorROI.h"
#include "isROILabelLayout.h"

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
    m_leaders = nullptr;  // released with the base's nodes
    m_leaderLines.clear();
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
    for (unsigned int frameId : {NOTIFY_FRAME_PRIOR, NOTIFY_FRAME_NEXT, NOTIFY_FRAME_PLAY_STATE})
        centre->addObserver(this, context, callback, frameId);
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
    if (id == NOTIFY_FRAME_PRIOR || id == NOTIFY_FRAME_NEXT || id == NOTIFY_FRAME_PLAY_STATE) {
        // Another frame of the record is shown (or a playback stopped on one): the measurements
        // draw again and ask for the statistics of the frame on the screen.
        for (isActorROIBase* actor : m_roiActors)
            actor->setDirty(true);
        return;
    }
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

// The world length of the point measurement's cross arms, in screen pixels from the point (as
// the point actor draws them).
constexpr float kCrossInner = 5.0f, kCrossOuter = 15.0f;
// Two millimetres of screen in window units: the gap between a shape and a label beside it.
float twoMillimetres()
{
    return static_cast<float>(static_cast<int>(cocos2d::Device::getUnitsPerInch() * 2 / 25.4f));
}

// A label's box in the host's units (its anchor is its bottom-left corner).
cocos2d::Rect hostBox(cocos2d::Node* host, cocos2d::Node* label)
{
    const cocos2d::Rect own = label->getBoundingBox();
    cocos2d::Vec2 low(own.getMinX(), own.getMinY()), high(own.getMaxX(), own.getMaxY());
    if (cocos2d::Node* parent = label->getParent(); parent && parent != host) {
        low = host->convertToNodeSpace(parent->convertToWorldSpace(low));
        high = host->convertToNodeSpace(parent->convertToWorldSpace(high));
    }
    return cocos2d::Rect(low.x, low.y, high.x - low.x, high.y - low.y);
}

} // namespace

void isActorROI::arrangeLabels()
{
    isCamera* camera = m_renderWindow ? m_renderWindow->getSceneCamera() : nullptr;
    cocos2d::Node* host = m_renderWindow ? m_renderWindow->getHostNode() : nullptr;
    if (!camera || !host)
        return;
    auto screen = [camera](const cocos2d::Vec3& world) {
        cocos2d::Vec3 window;
        camera->worldToScreen(world, &window);
        return cocos2d::Vec2(window.x, window.y);
    };

    ROILabelScene scene;
    scene.view = host->getContentSize();
    scene.gap = twoMillimetres();
    if (m_keepClear)
        scene.texts = m_keepClear();
    std::vector<ROILabelRequest> requests;
    std::vector<isNodeText*> arranged;
    std::vector<cocos2d::Vec2> homes;
    for (isActorROIBase* actor : m_roiActors) {
        const ROIData* record = actor->getROIData();
        if (!record)
            continue;
        // The measurement as drawn, in window units (circles as 32-sided polygons).
        std::vector<ROISegment> outline;
        const int count = record->getPointCount();
        const cocos2d::Vec2 first = count > 0 ? screen(record->getPoint(0)) : cocos2d::Vec2::ZERO;
        switch (record->getKind()) {
        case ROI_LINE:
            outline.emplace_back(first, screen(record->getPoint(1)));
            break;
        case ROI_ANGLE:
            outline.emplace_back(first, screen(record->getPoint(1)));
            outline.emplace_back(first, screen(record->getPoint(2)));
            break;
        case ROI_POINT:
            for (const cocos2d::Vec2 d : {cocos2d::Vec2(1, 0), cocos2d::Vec2(-1, 0), cocos2d::Vec2(0, 1),
                                          cocos2d::Vec2(0, -1)})
                outline.emplace_back(first + d * kCrossInner, first + d * kCrossOuter);
            break;
        case ROI_CIRCLE: {
            const float r = first.distance(screen(record->getPoint(1)));
            constexpr int kSides = 32;
            for (int i = 0; i < kSides; ++i) {
                const float a0 = 6.2831853f * i / kSides, a1 = 6.2831853f * (i + 1) / kSides;
                outline.emplace_back(first + cocos2d::Vec2(std::cos(a0), std::sin(a0)) * r,
                                     first + cocos2d::Vec2(std::cos(a1), std::sin(a1)) * r);
            }
            break;
        }
        case ROI_POLYGON:
            for (int i = 0; i + 1 < count; ++i)
                outline.emplace_back(screen(record->getPoint(i)), screen(record->getPoint(i + 1)));
            if (count > 2)
                outline.emplace_back(screen(record->getPoint(count - 1)), first);
            break;
        default:
            break;
        }
        scene.outlines.insert(scene.outlines.end(), outline.begin(), outline.end());

        if (isNodeText* number = actor->getNumberLabel(); number && number->isVisible())
            scene.texts.push_back(hostBox(host, number));
        isNodeText* label = actor->getLabel();
        if (!label || !label->isVisible() || label->getString().empty())
            continue;
        cocos2d::Vec2 home;
        if (label->isMoved() || !actor->getLabelHome(home)) {
            scene.texts.push_back(hostBox(host, label));
            continue;
        }
        ROILabelRequest request;
        request.home = hostBox(host, label);
        request.home.origin += home - label->getPosition();
        cocos2d::Vec2 low = first, high = first;
        for (const ROISegment& segment : outline)
            for (const cocos2d::Vec2& p : {segment.first, segment.second}) {
                low = cocos2d::Vec2(std::min(low.x, p.x), std::min(low.y, p.y));
                high = cocos2d::Vec2(std::max(high.x, p.x), std::max(high.y, p.y));
            }
        request.shape = cocos2d::Rect(low.x, low.y, high.x - low.x, high.y - low.y);
        request.anchor = first;
        request.outline = std::move(outline);
        requests.push_back(std::move(request));
        arranged.push_back(label);
        homes.push_back(home);
    }

    const std::vector<ROILabelPlacement> placements = placeROILabels(scene, requests);
    std::vector<std::pair<cocos2d::Vec2, cocos2d::Vec2>> leaders;
    for (size_t i = 0; i < arranged.size(); ++i) {
        isNodeText* label = arranged[i];
        const cocos2d::Vec2 place = homes[i] + placements[i].offset;
        if (label->getPosition() != place)
            label->setPosition(place);
        if (placements[i].leader)
            leaders.emplace_back(placements[i].from, placements[i].to);
    }
    if (leaders != m_leaderLines) {
        m_leaderLines = leaders;
        if (!m_leaders && !leaders.empty()) {
            m_leaders = cocos2d::DrawNode::create();
            if (m_leaders) {
                m_leaders->setLineWidth(1.5f);
                m_leaders->setLocalZOrder(999);  // under the labels (1000)
                addChildNode(m_leaders);
            }
        }
        if (m_leaders) {
            m_leaders->clear();
            for (const auto& [from, to] : leaders)
                m_leaders->drawLine(from, to, cocos2d::Color4F::WHITE);
        }
    }
}

} // namespace isImageSDK
