#include "isViewerMulti.h"

#include "isActorImage.h"
#include "isActorROIBase.h"
#include "isInteractorImage.h"
#include "isViewerBrowser.h"
#include "isViewerVolume.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "messageView.h"

#include <algorithm>

namespace isImageSDK {

const cocos2d::Color4F isViewerMulti::kClearColour(0.9137255f, 0.9372549f, 0.9764706f, 1.0f);

namespace {

bool is2D(int kind)
{
    return kind >= VIEW_SLICE && kind <= VIEW_OBLIQUE;
}

bool isVolumeKind(int kind)
{
    return kind == VIEW_VR || kind == VIEW_MIP;
}

bool isPlane(int kind)
{
    return kind >= VIEW_AXIAL && kind <= VIEW_CORONAL;
}

// The subscriptions of the container, in registration order.
const unsigned int kRoutedIds[] = {
    NOTIFY_VIEW_PAN_END,   NOTIFY_VIEW_ZOOM_END,    NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_WL_DEFAULT,
    NOTIFY_WL_SET,         NOTIFY_WL_FUNC_LINEAR,   NOTIFY_WL_FUNC_LOG10,         NOTIFY_WL_FUNC_LOG10_INVERSE,
    NOTIFY_TOOL_WINDOW_LEVEL, NOTIFY_TOOL_PAN,      NOTIFY_TOOL_ZOOM,             NOTIFY_TOOL_ROTATE,
    NOTIFY_VIEW_AXIAL,     NOTIFY_VIEW_SAGITTAL,    NOTIFY_VIEW_CORONAL,          NOTIFY_VIEW_VR,
    NOTIFY_VIEW_MIP,       NOTIFY_VIEW_ACTIVATE,    NOTIFY_VIEW_ANGLE,            NOTIFY_VIEW_FORWARD_ACTIVE,
    NOTIFY_VIEW_REFRESH,   NOTIFY_TOOL_LOCATE,      NOTIFY_LOCATE_POINT,          NOTIFY_CLUT_SET,
    NOTIFY_TOOL_ROI_LINE,  NOTIFY_TOOL_ROI_POINT,   NOTIFY_TOOL_ROI_ANGLE,        NOTIFY_TOOL_ROI_CIRCLE,
    NOTIFY_TOOL_ROI_POLYGON, NOTIFY_SLICE_NEXT,     NOTIFY_SLICE_PRIOR,           NOTIFY_LAYOUT_1X1,
    NOTIFY_LAYOUT_1X2,     NOTIFY_LAYOUT_2X1,       NOTIFY_LAYOUT_2X2,
};

} // namespace

// ---------------------------------------------------------------------------------------------
// cells

KeyViewProperty* KeyViewProperty::create()
{
    return createAutoreleased<KeyViewProperty>();
}

KeyViewProperty::~KeyViewProperty()
{
    KeyViewProperty::clear();
}

void KeyViewProperty::clear()
{
    CC_SAFE_RELEASE_NULL(m_image);
    CC_SAFE_RELEASE_NULL(m_secondKey);
    if (m_viewer) {
        isViewer* viewer = m_viewer;
        m_viewer = nullptr;
        viewer->release();
    }
}

void KeyViewProperty::setViewer(isViewer* viewer)
{
    if (viewer == m_viewer)
        return;
    if (viewer)
        viewer->retain();
    if (m_viewer)
        m_viewer->release();
    m_viewer = viewer;
}

void KeyViewProperty::setImage(isImageData* image)
{
    CC_SAFE_RETAIN(image);
    CC_SAFE_RELEASE(m_image);
    m_image = image;
}

void KeyViewProperty::setSecondKey(cocos2d::Ref* key)
{
    CC_SAFE_RETAIN(key);
    CC_SAFE_RELEASE(m_secondKey);
    m_secondKey = key;
}

int KeyViewProperty::getViewKind() const
{
    return m_viewer ? m_viewer->getKind() : VIEW_NONE;
}

int KeyViewProperty::getKey() const
{
    const uint32_t image = m_image ? m_image->getRefID() : 0u;
    if (!m_secondKey)
        return static_cast<int>(image);
    return static_cast<int>(m_secondKey->getRefID() * 1000000u + image);
}

isViewerBrowser* KeyViewProperty::getBrowser() const
{
    return dynamic_cast<isViewerBrowser*>(m_viewer);
}

isViewerVolume* KeyViewProperty::getVolumeViewer() const
{
    return dynamic_cast<isViewerVolume*>(m_viewer);
}

// ---------------------------------------------------------------------------------------------
// container

isViewerMulti* isViewerMulti::create()
{
    auto* multi = new (std::nothrow) isViewerMulti();
    if (!multi)
        return nullptr;
    if (!multi->init()) {
        delete multi;
        return nullptr;
    }
    multi->autorelease();
    return multi;
}

isViewerMulti::~isViewerMulti()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance()) {
        centre->removeObserver(asRef());
        centre->cancelNotificationsFromSender(asRef());
    }
    for (auto& group : m_groups)
        for (KeyViewProperty* cell : group.second)
            cell->release();
}

bool isViewerMulti::init()
{
    if (!cocos2d::ui::Layout::init())
        return false;
    m_active = nullptr;
    registerNotifications();
    setBackGroundColorType(BackGroundColorType::SOLID);
    setBackGroundColor(cocos2d::Color3B::BLACK);
    setBackGroundColorOpacity(255);
    return true;
}

void isViewerMulti::cleanup()
{
    cocos2d::ui::Layout::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(asRef());
    for (auto& group : m_groups)
        for (KeyViewProperty* cell : group.second)
            cell->release();
    m_groups.clear();
    m_active = nullptr;
    cocos2d::Director::getInstance()->setClearColor(cocos2d::Color4F(0.0f, 0.0f, 0.0f, 1.0f));
}

void isViewerMulti::onEnterTransitionDidFinish()
{
    cocos2d::ui::Layout::onEnterTransitionDidFinish();
    cocos2d::Director::getInstance()->setClearColor(kClearColour);
}

void isViewerMulti::registerNotifications()
{
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    for (unsigned int id : kRoutedIds)
        centre->addObserver(
            asRef(), asRef(),
            [this](cocos2d::Ref* sender, unsigned int n, NSUI::NSNotificationData* data) {
                notificationCallback(sender, n, data);
            },
            id);
}

void isViewerMulti::notificationCallback(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    onNotification(id, data, sender);
}

void isViewerMulti::sendCommand(unsigned int id, NSUI::NSNotificationData* data)
{
    onNotification(id, data, nullptr);
}

void isViewerMulti::sendIntCommand(unsigned int id, int value)
{
    auto* data = new NSUI::NSNotificationData();
    data->intValue = value;
    sendCommand(id, data);
    data->release();
}

void isViewerMulti::sendFloatCommand(unsigned int id, float value)
{
    auto* data = new NSUI::NSNotificationData();
    data->floatValue = value;
    sendCommand(id, data);
    data->release();
}

// ---------------------------------------------------------------------------------------------
// adding and clearing

void isViewerMulti::placeViewer(cocos2d::Node* node, const cocos2d::Rect& rect)
{
    node->setAnchorPoint(cocos2d::Vec2::ZERO);
    node->setContentSize(rect.size);
    node->setPosition(rect.origin);
    addChild(node);
}

KeyViewProperty* isViewerMulti::addView(int kind, bool linked, const cocos2d::Rect& rect, isImageData* image)
{
    if (!image)
        return nullptr;
    if (kind != VIEW_SLICE && !image->isVolume())
        return nullptr;
    if (isVolumeKind(kind)) {
        isViewerVolume* volume = isViewerVolume::create();
        if (!volume)
            return nullptr;
        placeViewer(volume, rect);
        volume->setOwner(asRef());
        if (kind == VIEW_VR)
            volume->showVolumeRendering();
        else
            volume->showMIP();
        KeyViewProperty* cell = KeyViewProperty::create();
        cell->setViewer(volume);
        volume->setLinked(linked);
        cell->setImage(image);
        volume->setImageData(image);
        cell->setSecondKey(nullptr);
        volume->setKind(kind);
        insertCell(cell);
        return cell;
    }
    if (!is2D(kind))
        return nullptr;
    isViewerBrowser* browser = isViewerBrowser::create();
    if (!browser)
        return nullptr;
    placeViewer(browser, rect);
    browser->setOwner(asRef());
    browser->relayout();
    return addBrowserCell(browser, kind, linked, image);
}

KeyViewProperty* isViewerMulti::addBrowserCell(isViewerBrowser* browser, int kind, bool linked, isImageData* image)
{
    KeyViewProperty* cell = KeyViewProperty::create();
    cell->setViewer(browser);
    browser->setLinked(linked);
    cell->setImage(image);
    browser->setImageData(image);
    cell->setSecondKey(nullptr);
    browser->setKind(kind);
    // A linked view joins the first linked 2D view at its slice; otherwise it starts in the
    // middle of its plane.
    KeyViewProperty* source = nullptr;
    for (auto& group : m_groups) {
        for (KeyViewProperty* other : group.second)
            if (is2D(other->getViewKind()) && other->getViewer()->isLinked()) {
                source = other;
                break;
            }
        if (source)
            break;
    }
    if (linked && source)
        syncLinkedView(cell, source, true, false, false);
    else if (kind >= VIEW_SLICE && kind <= VIEW_CORONAL)
        browser->showMiddle();
    insertCell(cell);
    // Linked planes show their reference lines from the start: the views that joined through
    // the locate above show them already, the first one (started in its middle) not yet.
    if (linked && source && isPlane(kind))
        for (KeyViewProperty* c : mprCells(cell))
            if (isViewerBrowser* b = c->getBrowser())
                if (isViewerImage* window = b->getActiveWindow())
                    window->setLocateDisplay(true);
    return cell;
}

void isViewerMulti::insertCell(KeyViewProperty* cell)
{
    if (m_groups.empty()) {
        m_active = cell;
        // The first view is the active one, border included.
        if (isViewerBrowser* browser = cell->getBrowser())
            if (isViewerImage* window = browser->getActiveWindow())
                window->setActive(true);
    }
    cell->retain();
    m_groups[cell->getKey()].push_back(cell);
    setBackGroundColorOpacity(0);
}

void isViewerMulti::clearViews()
{
    // Clearing never makes a centre: one made after the exit purge would tick on a director that
    // is going away and deliver nothing.
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->cancelNotificationsForTarget(asRef());
    for (auto& group : m_groups)
        for (KeyViewProperty* cell : group.second) {
            if (auto* node = dynamic_cast<cocos2d::Node*>(cell->getViewer()))
                node->removeFromParentAndCleanup(true);
            cell->release();
        }
    m_groups.clear();
    m_active = nullptr;
}

void isViewerMulti::resizeKeepingCells(const cocos2d::Size& size)
{
    const cocos2d::Size old = getContentSize();
    setContentSize(size);
    if (old.width <= 0 || old.height <= 0 || old.equals(size))
        return;
    const float sx = size.width / old.width;
    const float sy = size.height / old.height;
    auto scaled = [sx, sy](const cocos2d::Vec2& at) { return cocos2d::Vec2(std::round(at.x * sx), std::round(at.y * sy)); };
    auto scaledSize = [sx, sy](const cocos2d::Size& was) {
        return cocos2d::Size(std::round(was.width * sx), std::round(was.height * sy));
    };
    // A maximised view covers the container again, with the margins it had.
    const cocos2d::Size grow(size.width - old.width, size.height - old.height);
    for (auto& group : m_groups)
        for (KeyViewProperty* cell : group.second) {
            if (isViewerVolume* volume = cell->getVolumeViewer(); volume && volume->isMaximised()) {
                // Maximised or parked: the cell's new share is where it comes back to.
                volume->setSavedRect(scaled(volume->getSavedPosition()), scaledSize(volume->getSavedSize()));
                if (!volume->isParked()) {
                    volume->setPosition(-getPosition());
                    volume->setContentSize(volume->getContentSize() + grow);
                }
                continue;
            }
            auto* node = dynamic_cast<cocos2d::Node*>(cell->getViewer());
            if (!node)
                continue;
            node->setPosition(scaled(node->getPosition()));
            node->setContentSize(scaledSize(node->getContentSize()));
            if (isViewerBrowser* browser = cell->getBrowser())
                browser->fitMaximised(grow);
        }
}

// ---------------------------------------------------------------------------------------------
// active view

unsigned int isViewerMulti::getActiveViewKind() const
{
    if (!m_active)
        return 0;
    return static_cast<unsigned int>(m_active->getViewKind());
}

bool isViewerMulti::getActiveViewRect(cocos2d::Rect& out) const
{
    if (!m_active || !m_active->getViewer())
        return false;
    if (isViewerBrowser* browser = m_active->getBrowser()) {
        if (!browser->getActiveRect(out))
            return false;
    } else if (isViewerVolume* volume = m_active->getVolumeViewer()) {
        out.origin = volume->getPosition();
        out.size = volume->getContentSize();
    } else {
        return false;
    }
    out.origin += getPosition();
    return true;
}

void isViewerMulti::setWindowLevel(float width, float centre)
{
    if (!m_active)
        return;
    if (m_active->getBrowser()) {
        for (KeyViewProperty* cell : imageGroup(m_active))
            if (isViewerBrowser* browser = cell->getBrowser())
                browser->setWindowLevel(width, centre);
    } else if (isViewerVolume* volume = m_active->getVolumeViewer()) {
        volume->setWindowLevel(width, centre);
    }
}

bool isViewerMulti::getWindowLevel(float& width, float& centre) const
{
    if (!m_active)
        return false;
    if (isViewerBrowser* browser = m_active->getBrowser())
        return browser->getWindowLevel(width, centre);
    if (isViewerVolume* volume = m_active->getVolumeViewer())
        return volume->getWindowLevel(width, centre);
    return false;
}

bool isViewerMulti::getSliceIndexAndCount(SliceInfo& out) const
{
    if (!m_active || m_active->getViewKind() > VIEW_CORONAL)
        return false;
    isViewerBrowser* browser = m_active->getBrowser();
    isViewerImage* first = browser ? browser->getFirstWindow() : nullptr;
    if (!first)
        return false;
    out.index = first->getImageActor() ? first->getImageActor()->getSliceIndex() : 0;
    out.count = first->getSliceCount();
    return true;
}

std::string isViewerMulti::getActiveFilePath() const
{
    if (!m_active)
        return std::string();
    if (isViewerBrowser* browser = m_active->getBrowser())
        return browser->getActiveFilePath();
    if (isViewerVolume* volume = m_active->getVolumeViewer())
        return volume->getFilePath();
    return std::string();
}

// ---------------------------------------------------------------------------------------------
// group queries

std::vector<KeyViewProperty*> isViewerMulti::query(KeyViewProperty* from,
                                                   const std::function<bool(KeyViewProperty*)>& take) const
{
    std::vector<KeyViewProperty*> out;
    // An unlinked view acts alone: the query gives it, and nobody else.
    const bool alone = from && (!from->getViewer() || !from->getViewer()->isLinked());
    for (const auto& group : m_groups)
        for (KeyViewProperty* cell : group.second) {
            if (!cell->getViewer())
                continue;
            const bool candidate = alone ? cell == from : (cell->getViewer()->isLinked() || cell == from);
            if (candidate && take(cell))
                out.push_back(cell);
        }
    return out;
}

std::vector<KeyViewProperty*> isViewerMulti::linkedCells(KeyViewProperty* cell) const
{
    return query(cell, [](KeyViewProperty*) { return true; });
}

std::vector<KeyViewProperty*> isViewerMulti::sameKindCells(KeyViewProperty* cell) const
{
    const int kind = cell->getViewKind();
    return query(cell, [kind](KeyViewProperty* c) { return c->getViewKind() == kind; });
}

std::vector<KeyViewProperty*> isViewerMulti::mprCells(KeyViewProperty* cell) const
{
    return query(cell, [](KeyViewProperty* c) { return isPlane(c->getViewKind()); });
}

std::vector<KeyViewProperty*> isViewerMulti::mpr2DCells(KeyViewProperty* cell) const
{
    return query(cell, [](KeyViewProperty* c) {
        return c->getViewKind() >= VIEW_AXIAL && c->getViewKind() <= VIEW_OBLIQUE;
    });
}

std::vector<KeyViewProperty*> isViewerMulti::cellsOfKind(int kind) const
{
    return query(nullptr, [kind](KeyViewProperty* c) { return c->getViewer()->isLinked() && c->getViewKind() == kind; });
}

std::vector<KeyViewProperty*> isViewerMulti::imageGroup(KeyViewProperty* cell) const
{
    isImageData* image = cell->getImage();
    return query(cell, [image](KeyViewProperty* c) { return c->getImage() == image; });
}

std::vector<KeyViewProperty*> isViewerMulti::secondKeyGroup(KeyViewProperty* cell) const
{
    cocos2d::Ref* image = cell->getImage();
    return query(cell, [image](KeyViewProperty* c) { return image && c->getSecondKey() == image; });
}

KeyViewProperty* isViewerMulti::firstLinked2DCell(KeyViewProperty* cell) const
{
    if (!cell || !cell->getViewer() || !cell->getViewer()->isLinked())
        return nullptr;
    std::vector<KeyViewProperty*> found = query(cell, [](KeyViewProperty* c) { return is2D(c->getViewKind()); });
    return found.empty() ? nullptr : found.front();
}

KeyViewProperty* isViewerMulti::cellOfViewer(const isViewer* viewer) const
{
    if (!viewer)
        return nullptr;
    for (const auto& group : m_groups)
        for (KeyViewProperty* cell : group.second)
            if (cell->getViewer() == viewer)
                return cell;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// linking and exchanges

void isViewerMulti::syncLinkedView(KeyViewProperty* target, KeyViewProperty* source, bool slice, bool zoom, bool pan)
{
    if (!target || !source || !target->getViewer() || !target->getViewer()->isLinked())
        return;
    isViewerBrowser* to = target->getBrowser();
    isViewerBrowser* from = source->getBrowser();
    if (!to || !from)
        return;
    const int kind = target->getViewKind();
    if (slice) {
        if (kind == VIEW_SLICE) {
            const isViewerImage* first = from->getFirstWindow();
            const int index = first && first->getImageActor() ? first->getImageActor()->getSliceIndex() : 0;
            to->setFirstSlice(index, true);
        } else if (isPlane(kind) && source->getViewKind() != kind) {
            to->locate(from->getCrossPoint());
        } else if (isPlane(kind)) {
            to->locateFrom(from->getCrossPoint(), from->getSliceStep());
        }
    }
    if (kind > VIEW_CORONAL)
        return;
    if (pan)
        to->centerOn(from->getLookAtTarget());
    if (zoom)
        to->setZoomRatio(from->getZoomRatio());
}

bool isViewerMulti::exchangeToVolume(KeyViewProperty* cell, bool mip)
{
    isViewerBrowser* browser = cell ? cell->getBrowser() : nullptr;
    if (!browser)
        return false;
    if (browser->isMaximised()) {
        NSUI::messageView::showMessage(isViewerBrowser::kNormalSizeFirst, isViewerBrowser::kToastSeconds);
        return false;
    }
    if (!isViewerVolume::hasFactory() || !cell->getImage() || !cell->getImage()->isVolume())
        return false;
    const cocos2d::Rect rect(browser->getPosition(), browser->getContentSize());
    float width = 0.0f, centre = 0.0f;
    const bool hasWindow = browser->getWindowLevel(width, centre);
    unsigned char palette[768];
    browser->copyColourTable(palette);
    const bool linked = browser->isLinked();
    isViewerVolume* volume = isViewerVolume::create();
    if (!volume)
        return false;
    browser->removeFromParentAndCleanup(true);
    placeViewer(volume, rect);
    volume->setOwner(asRef());
    if (mip)
        volume->showMIP();
    else
        volume->showVolumeRendering();
    volume->setLinked(linked);
    cell->setViewer(volume);
    volume->setImageData(cell->getImage());
    if (hasWindow)
        volume->setWindowLevel(width, centre);
    volume->setColourTable(palette);
    volume->markCameraChanged();
    return true;
}

bool isViewerMulti::exchangeToPlane(KeyViewProperty* cell, int kind)
{
    isViewerVolume* volume = cell ? cell->getVolumeViewer() : nullptr;
    if (!volume)
        return false;
    if (volume->isMaximised()) {
        NSUI::messageView::showMessage(isViewerBrowser::kNormalSizeFirst, isViewerBrowser::kToastSeconds);
        return false;
    }
    const cocos2d::Vec3 target = volume->getLookAtTarget();
    const float zoom = volume->getZoomRatio();
    const cocos2d::Rect rect(volume->getPosition(), volume->getContentSize());
    float width = 0.0f, centre = 0.0f;
    const bool hasWindow = volume->getWindowLevel(width, centre);
    const bool linked = volume->isLinked();
    isViewerBrowser* browser = isViewerBrowser::create();
    if (!browser)
        return false;
    volume->removeFromParentAndCleanup(true);
    placeViewer(browser, rect);
    browser->setOwner(asRef());
    browser->setLinked(linked);
    cell->setViewer(browser);
    browser->setImageData(cell->getImage());
    if (hasWindow)
        browser->setWindowLevel(width, centre);
    browser->relayout();
    std::vector<KeyViewProperty*> peers = cellsOfKind(kind);
    browser->setKind(kind);
    if (!peers.empty()) {
        syncLinkedView(cell, peers.front(), true, true, true);
    } else {
        // A volume panned partly out of its view looks at a point beside it: the plane shows the
        // slice nearest to that point instead of none, framed as the volume was.
        cocos2d::Vec3 inside = target;
        if (isViewerImage* first = browser->getFirstWindow())
            first->holdsPoint(target, &inside);
        browser->locate(inside);
        browser->setZoomRatio(zoom);
        browser->centerOn(target);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// the router

KeyViewProperty* isViewerMulti::chooseCell(cocos2d::Ref* sender) const
{
    if (auto* viewer = dynamic_cast<isViewer*>(sender))
        return cellOfViewer(viewer);
    return m_active;
}

void isViewerMulti::deliver(KeyViewProperty* cell, unsigned int id, NSUI::NSNotificationData* data)
{
    if (isViewerBrowser* browser = cell->getBrowser())
        browser->onNotification(id, data, asRef());
    else if (isViewerVolume* volume = cell->getVolumeViewer())
        volume->onNotification(id, data, asRef());
}

void isViewerMulti::postToParent(unsigned int id, bool urgent)
{
    NSUI::NSNotificationCenter::getInstance()->postNotification(asRef(), id, nullptr, getParent(), urgent);
}

void isViewerMulti::postActiveKind(int value)
{
    NSUI::NSNotificationCenter::getInstance()->postIntNotification(asRef(), NOTIFY_ACTIVE_VIEW_CHANGED, value, nullptr,
                                                                   false);
}

void isViewerMulti::sliceStep(KeyViewProperty* cell, unsigned int id, NSUI::NSNotificationData* data)
{
    postToParent(id, true);
    const int kind = cell->getViewKind();
    isViewerBrowser* browser = cell->getBrowser();
    if (!browser || kind > VIEW_CORONAL)
        return;
    isViewerImage* first = browser->getFirstWindow();
    if (!first || !first->getImageActor())
        return;
    const int count = first->getSliceCount();
    const int index = first->getImageActor()->getSliceIndex();
    const bool inside = id == NOTIFY_SLICE_NEXT ? (index >= 0 && index < count - 1) : (index >= 1 && index <= count - 1);
    if (count <= 0 || !inside)
        return;
    deliver(cell, id, data);
    if (browser->isLinked())
        for (KeyViewProperty* other : sameKindCells(cell))
            if (other != cell)
                syncLinkedView(other, cell, true, false, false);
    if (!isPlane(kind))
        return;
    const std::string text = isViewerBrowser::pointText(browser->getCrossPoint());
    for (KeyViewProperty* other : mprCells(cell)) {
        if (other->getViewKind() == kind)
            continue;
        NSUI::NSNotificationData* locate = NSUI::NSNotificationData::create();
        locate->text = text;
        deliver(other, NOTIFY_LOCATE_POINT, locate);
    }
}

void isViewerMulti::planeSwitch(KeyViewProperty* cell, int kind)
{
    const int current = cell->getViewKind();
    if (isPlane(current)) {
        if (current == kind)
            return;
        isViewerBrowser* browser = cell->getBrowser();
        std::vector<KeyViewProperty*> peers = cellsOfKind(kind);
        if (peers.empty()) {
            const cocos2d::Vec3 cross = browser->getCrossPoint();
            const float zoom = browser->getZoomRatio();
            browser->setKind(kind);
            browser->locate(cross);
            browser->setZoomRatio(zoom);
            browser->centerOn(cross);
        } else {
            browser->setKind(kind);
            syncLinkedView(cell, peers.front(), true, true, true);
        }
    } else if (isVolumeKind(current)) {
        if (!exchangeToPlane(cell, kind))
            return;
    }
    postActiveKind(0);
}

void isViewerMulti::renderingSwitch(KeyViewProperty* cell, bool mip)
{
    const int kind = cell ? cell->getViewKind() : VIEW_NONE;
    if (kind >= VIEW_AXIAL && kind <= VIEW_OBLIQUE) {
        if (!exchangeToVolume(cell, mip))
            return;
    } else if (isVolumeKind(kind)) {
        isViewerVolume* volume = cell->getVolumeViewer();
        if (mip && kind == VIEW_VR)
            volume->showMIP();
        else if (!mip && kind == VIEW_MIP)
            volume->showVolumeRendering();
    }
    postActiveKind(1);
}

void isViewerMulti::removeROI(KeyViewProperty* cell)
{
    isViewerBrowser* browser = cell->getBrowser();
    isViewerImage* window = browser ? browser->getActiveWindow() : nullptr;
    isInteractorImage* interactor = window ? window->getImageInteractor() : nullptr;
    isActorROIBase* roi = interactor ? interactor->getCurrentROI() : nullptr;
    if (!roi || !roi->getROIData())
        return;
    const uint32_t id = roi->getROIData()->getRefID();
    for (KeyViewProperty* other : imageGroup(cell)) {
        if (!is2D(other->getViewKind()))
            continue;
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->uintValue = id;
        deliver(other, NOTIFY_ROI_REMOVE, data);
    }
}

void isViewerMulti::onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender)
{
    KeyViewProperty* cell = chooseCell(sender);
    if (!cell)
        return;
    // Keep the cell (and its viewer) alive while commands may exchange or clear viewers.
    cell->retain();
    isViewer* viewer = cell->getViewer();
    const int kind = cell->getViewKind();
    const bool flat = is2D(kind) && cell->getBrowser();
    const bool volume = isVolumeKind(kind) && cell->getVolumeViewer();
    // Every other cell of a list.
    auto others = [cell](const std::vector<KeyViewProperty*>& cells) {
        std::vector<KeyViewProperty*> out;
        for (KeyViewProperty* c : cells)
            if (c != cell)
                out.push_back(c);
        return out;
    };
    auto only2D = [](const std::vector<KeyViewProperty*>& cells) {
        std::vector<KeyViewProperty*> out;
        for (KeyViewProperty* c : cells)
            if (is2D(c->getViewKind()))
                out.push_back(c);
        return out;
    };
    switch (id) {
    case NOTIFY_SLICE_NEXT:
    case NOTIFY_SLICE_PRIOR:
        sliceStep(cell, id, data);
        break;
    case NOTIFY_SLICE_SET:
        if (flat && data)
            cell->getBrowser()->setFirstSlice(data->intValue, true);
        break;
    case NOTIFY_VIEW_ANGLE:
        if ((flat && kind != VIEW_SLICE) || volume)
            deliver(cell, id, data);
        break;
    case NOTIFY_VIEW_AXIAL:
    case NOTIFY_VIEW_SAGITTAL:
    case NOTIFY_VIEW_CORONAL:
        planeSwitch(cell, VIEW_AXIAL + static_cast<int>(id - NOTIFY_VIEW_AXIAL));
        break;
    case NOTIFY_VIEW_FORWARD_ACTIVE:
        deliver(cell, id, data);
        break;
    case NOTIFY_VIEW_VR:
    case NOTIFY_VIEW_MIP:
        renderingSwitch(viewer ? cell : nullptr, id == NOTIFY_VIEW_MIP);
        break;
    case NOTIFY_VIEW_REFRESH:
        if (flat) {
            for (KeyViewProperty* c : linkedCells(cell))
                if (!isVolumeKind(c->getViewKind()))
                    deliver(c, id, data);
        } else if (volume) {
            deliver(cell, id, data);
        }
        break;
    case NOTIFY_LAYOUT_1X1:
    case NOTIFY_LAYOUT_1X2:
    case NOTIFY_LAYOUT_2X1:
    case NOTIFY_LAYOUT_2X2:
    case NOTIFY_WL_FUNC_LINEAR:
    case NOTIFY_WL_FUNC_LOG10:
    case NOTIFY_WL_FUNC_LOG10_INVERSE:
        if (flat)
            deliver(cell, id, data);
        break;
    case NOTIFY_WL_DEFAULT:
    case NOTIFY_WL_SET:
        if (flat) {
            for (KeyViewProperty* c : only2D(imageGroup(cell)))
                deliver(c, id, data);
            if (id == NOTIFY_WL_DEFAULT)
                for (KeyViewProperty* c : only2D(secondKeyGroup(cell)))
                    deliver(c, NOTIFY_WL_DEFAULT_LINKED, nullptr);
        } else if (volume) {
            deliver(cell, id, data);
        }
        break;
    case NOTIFY_CLUT_SET:
        if (flat) {
            for (KeyViewProperty* c : only2D(imageGroup(cell)))
                deliver(c, id, data);
        } else if (volume) {
            deliver(cell, id, data);
        }
        break;
    case NOTIFY_TOOL_SELECT:
        if (flat)
            for (KeyViewProperty* c : linkedCells(cell))
                if (!isVolumeKind(c->getViewKind()))
                    deliver(c, id, data);
        break;
    case NOTIFY_TOOL_WINDOW_LEVEL:
        if (flat) {
            for (KeyViewProperty* c : only2D(linkedCells(cell)))
                deliver(c, id, data);
        } else if (volume) {
            deliver(cell, id, data);
        }
        break;
    case NOTIFY_TOOL_ZOOM:
    case NOTIFY_TOOL_PAN:
        for (KeyViewProperty* c : linkedCells(cell))
            deliver(c, id, data);
        break;
    case NOTIFY_TOOL_ROTATE:
        if (volume)
            deliver(cell, id, nullptr);
        break;
    case NOTIFY_TOOL_LOCATE:
        if (flat && kind != VIEW_SLICE)
            for (KeyViewProperty* c : mpr2DCells(cell))
                deliver(c, id, data);
        break;
    case NOTIFY_TOOL_ROI_LINE:
    case NOTIFY_TOOL_ROI_POINT:
    case NOTIFY_TOOL_ROI_ANGLE:
    case NOTIFY_TOOL_ROI_CIRCLE:
    case NOTIFY_TOOL_ROI_POLYGON:
        if (flat)
            deliver(cell, id, data);
        postToParent(id, true);
        break;
    case NOTIFY_ROI_REMOVE:
        if (flat)
            removeROI(cell);
        break;
    case NOTIFY_CINE_PLAY_TOGGLE:
    case NOTIFY_CINE_PRIOR:
    case NOTIFY_CINE_NEXT:
        if (flat || volume)
            deliver(cell, id, data);
        break;
    case NOTIFY_VR_ORIENT:
        if (volume)
            deliver(cell, id, data);
        break;
    case NOTIFY_VIEW_PAN_END:
        if (isPlane(kind))
            for (KeyViewProperty* c : others(sameKindCells(cell)))
                deliver(c, id, data);
        break;
    case NOTIFY_VIEW_ZOOM_END:
        if (isPlane(kind))
            for (KeyViewProperty* c : others(mprCells(cell)))
                deliver(c, id, data);
        break;
    case NOTIFY_VIEW_WINDOW_LEVEL_END:
        for (KeyViewProperty* c : others(only2D(imageGroup(cell))))
            deliver(c, id, data);
        for (KeyViewProperty* c : others(only2D(secondKeyGroup(cell))))
            deliver(c, id, data);
        break;
    case NOTIFY_LOCATE_POINT:
        if (kind >= VIEW_AXIAL && kind <= VIEW_OBLIQUE)
            for (KeyViewProperty* c : others(linkedCells(cell)))
                if (!isVolumeKind(c->getViewKind()))
                    deliver(c, id, data);
        break;
    case NOTIFY_VIEW_ACTIVATE: {
        m_active = cell;
        for (KeyViewProperty* c : others(linkedCells(cell)))
            deliver(c, id, nullptr);
        // Only the active view keeps the border: unlinked views, which hear of no activation,
        // drop theirs too.
        for (auto& group : m_groups)
            for (KeyViewProperty* c : group.second)
                if (c != cell && !c->getViewer()->isLinked())
                    if (isViewerBrowser* b = c->getBrowser())
                        if (isViewerImage* window = b->getActiveWindow())
                            window->setActive(false);
        // A touch on a view shows again the reference lines that the linked planes have switched
        // on (their timer hides them a few seconds after they were drawn).
        for (KeyViewProperty* c : mprCells(cell))
            if (isViewerBrowser* b = c->getBrowser())
                if (isViewerImage* window = b->getActiveWindow(); window && window->showsReferenceLines())
                    window->setLocateDisplay(true);
        postActiveKind(volume ? 1 : 0);
        postToParent(id, false);
        break;
    }
    case NOTIFY_BROWSER_HIDE_CONTROLS:
        if (flat)
            cell->getBrowser()->hideControls();
        break;
    default:
        break;
    }
    cell->release();
}

} // namespace isImageSDK
