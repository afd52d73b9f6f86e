#include "isViewerBrowser.h"

#include "isActorImage.h"
#include "isActorManager.h"
#include "isActorOverlay.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "messageView.h"

#include "ui/UISlider.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace isImageSDK {

const char* const isViewerBrowser::kNormalSizeFirst = "Go back to the normal size firstly";

namespace {

// The commands a browser hears from its windows (they post them with the browser as context).
const unsigned int kRelayedIds[] = {
    NOTIFY_VIEW_PAN_END,      NOTIFY_VIEW_ZOOM_END,        NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_VIEW_INTERACTION_END,
    NOTIFY_VIEW_WINDOW_LEVEL, NOTIFY_VIEW_ZOOM,            NOTIFY_VIEW_ZOOM_WHEEL,       NOTIFY_VIEW_PAN,
    NOTIFY_WL_DEFAULT,        NOTIFY_WL_SET,               NOTIFY_WL_FUNC_LINEAR,        NOTIFY_WL_FUNC_LOG10,
    NOTIFY_WL_FUNC_LOG10_INVERSE, NOTIFY_TOOL_WINDOW_LEVEL, NOTIFY_TOOL_PAN,             NOTIFY_TOOL_ZOOM,
    NOTIFY_VIEW_AXIAL,        NOTIFY_VIEW_SAGITTAL,        NOTIFY_VIEW_CORONAL,          NOTIFY_VIEW_ACTIVATE,
    NOTIFY_VIEW_ANGLE,        NOTIFY_VIEW_REFRESH,         NOTIFY_TOOL_LOCATE,           NOTIFY_LOCATE_POINT,
    NOTIFY_CLUT_SET,          NOTIFY_TOOL_ROI_LINE,        NOTIFY_TOOL_ROI_POINT,        NOTIFY_TOOL_ROI_ANGLE,
    NOTIFY_TOOL_ROI_CIRCLE,   NOTIFY_TOOL_ROI_POLYGON,     NOTIFY_WL_INPUT,              NOTIFY_SLICE_NEXT,
    NOTIFY_SLICE_PRIOR,       NOTIFY_LAYOUT_1X1,           NOTIFY_LAYOUT_1X2,            NOTIFY_LAYOUT_2X1,
    NOTIFY_LAYOUT_2X2,        NOTIFY_WINDOW_LINK,
};

cocos2d::Vec3 pointOf(const NSUI::NSNotificationData* data)
{
    if (!data)
        return cocos2d::Vec3::ZERO;
    auto value = [data](const char* key) {
        return static_cast<float>(std::atof(NSUI::UIJson::getString(data->text, key).c_str()));
    };
    return cocos2d::Vec3(value("x"), value("y"), value("z"));
}

} // namespace

isViewerBrowser* isViewerBrowser::create()
{
    auto* browser = new (std::nothrow) isViewerBrowser();
    if (!browser)
        return nullptr;
    if (!browser->init()) {
        browser->cocos2d::Ref::release();
        return nullptr;
    }
    browser->autorelease();
    return browser;
}

isViewerBrowser::~isViewerBrowser()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance()) {
        centre->removeObserver(asRef());
        centre->cancelNotificationsFromSender(asRef());
    }
    for (isViewerImage* window : m_windows)
        window->cocos2d::Ref::release();
}

bool isViewerBrowser::init()
{
    if (!cocos2d::Layer::init())
        return false;
    m_owner = nullptr;
    m_frame = 0;
    m_playing = false;
    m_counter = 0;
    m_interval = kCineInterval;
    isViewerImage* window = makeWindow();
    if (!window)
        return false;
    m_rows = 1;
    m_columns = 1;
    m_active = window;
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    for (unsigned int id : kRelayedIds)
        centre->addObserver(
            asRef(), asRef(),
            [this](cocos2d::Ref* sender, unsigned int n, NSUI::NSNotificationData* data) {
                notificationCallback(sender, n, data);
            },
            id);
    setTouchMode(cocos2d::Touch::DispatchMode::ONE_BY_ONE);
    setTouchEnabled(true);
    return true;
}

isViewerImage* isViewerBrowser::makeWindow()
{
    isViewerImage* window = isViewerImage::create();
    if (!window)
        return nullptr;
    addChild(window);
    window->setOwner(asRef());
    window->cocos2d::Ref::retain();
    m_windows.push_back(window);
    return window;
}

void isViewerBrowser::cleanup()
{
    cocos2d::Layer::cleanup();
    unscheduleAllCallbacks();
    m_playing = false;
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(asRef());
    for (isViewerImage* window : m_windows)
        window->cocos2d::Ref::release();
    m_windows.clear();
    m_active = nullptr;
}

void isViewerBrowser::setContentSize(const cocos2d::Size& size)
{
    cocos2d::Layer::setContentSize(size);
    relayout();
}

std::string isViewerBrowser::pointText(const cocos2d::Vec3& p)
{
    std::string text;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6f", double(p.x));
    NSUI::UIJson::setString(text, "x", buffer);
    std::snprintf(buffer, sizeof buffer, "%.6f", double(p.y));
    NSUI::UIJson::setString(text, "y", buffer);
    std::snprintf(buffer, sizeof buffer, "%.6f", double(p.z));
    NSUI::UIJson::setString(text, "z", buffer);
    return text;
}

std::string isViewerBrowser::cineKey() const
{
    return "browser:" + std::to_string(const_cast<isViewerBrowser*>(this)->asRef()->getRefID());
}

// ---------------------------------------------------------------------------------------------
// viewer

void isViewerBrowser::setKind(int kind)
{
    if (kind == m_kind)
        return;
    for (isViewerImage* window : m_windows)
        window->setKind(kind);
    m_kind = kind;
}

void isViewerBrowser::setImageData(isImageData* image)
{
    for (isViewerImage* window : m_windows)
        window->setImageData(image);
    if (!image)
        return;
    image->updateInformation();
    if (image->getSliceCount() == 1)
        hideControls();
}

isImageData* isViewerBrowser::getImageData()
{
    return m_windows.empty() ? nullptr : m_windows.front()->getImageData();
}

int isViewerBrowser::sliceCount() const
{
    const isViewerImage* first = getFirstWindow();
    if (!first || !first->getImage())
        return 0;
    return std::max(0, const_cast<isViewerImage*>(first)->getSliceCount());
}

// ---------------------------------------------------------------------------------------------
// layout

void isViewerBrowser::setLayout(int rows, int cols)
{
    if (rows == m_rows && cols == m_columns)
        return;
    if (m_active)
        m_active->setLocateDisplay(false);
    rows = std::max(1, rows);
    cols = std::max(1, cols);
    const size_t needed = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    if (needed < m_windows.size()) {
        bool activeGone = false;
        while (m_windows.size() > needed) {
            isViewerImage* window = m_windows.back();
            m_windows.pop_back();
            activeGone = activeGone || window == m_active;
            window->removeFromParentAndCleanup(true);
            window->cocos2d::Ref::release();
        }
        if (activeGone)
            m_active = m_windows.back();
    } else if (needed > m_windows.size()) {
        isViewerImage* first = m_windows.front();
        isImageData* image = first->getImageData();
        const int kind = first->getKind();
        isActorImage* actor = first->getImageActor();
        const int slice = actor ? actor->getSliceIndex() : 0;
        float width = 0.0f, level = 0.0f;
        const bool hasWindow = getWindowLevel(width, level);
        unsigned char palette[768];
        copyColourTable(palette);
        while (m_windows.size() < needed) {
            const int index = static_cast<int>(m_windows.size());
            isViewerImage* window = makeWindow();
            if (!window)
                break;
            window->setImageData(image);
            window->setKind(kind);
            window->showSlice(index + slice, false);
            if (hasWindow && window->getImageActor())
                window->getImageActor()->setWindow(width, level);
            if (actor)
                window->setPalette(palette);
        }
    }
    m_rows = rows;
    m_columns = cols;
    relayout();
}

void isViewerBrowser::relayout()
{
    const cocos2d::Size size = getContentSize();
    if (size.width < 1.0f || size.height < 1.0f)
        return;
    const float cw = m_columns > 1 ? (size.width - (m_columns - 1) * kGap) / m_columns : size.width;
    const float ch = m_rows > 1 ? (size.height - (m_rows - 1) * kGap) / m_rows : size.height;
    for (size_t i = 0; i < m_windows.size(); ++i) {
        isViewerImage* window = m_windows[i];
        const int r = static_cast<int>(i) / m_columns;
        const int c = static_cast<int>(i) % m_columns;
        window->setAnchorPoint(cocos2d::Vec2::ZERO);
        const float x = c == m_columns - 1 ? size.width - cw : c * (cw + kGap);
        const float y = r == m_rows - 1 ? 0.0f : (m_rows - r - 1) * (ch + kGap);
        if (window->isMaximized()) {
            // Maximised or parked: the new place is where it comes back to.
            window->setSavedRect(cocos2d::Vec2(x, y), cocos2d::Size(cw, ch));
            continue;
        }
        window->setPosition(x, y);
        window->setContentSize(cocos2d::Size(cw, ch));
        refreshOverlay(window);
    }
    if (m_active) {
        m_active->setLocateDisplay(false);
        m_active->setLocateDisplay(true);
    }
}

void isViewerBrowser::fitMaximised(const cocos2d::Size& grow)
{
    for (isViewerImage* window : m_windows) {
        if (!window->isMaximized() || window->isParked())
            continue;
        window->setPosition(-getPosition());
        window->setContentSize(window->getContentSize() + grow);
        refreshOverlay(window);
    }
}

void isViewerBrowser::refreshOverlay(isViewerImage* window)
{
    if (!window->getImage())
        return;
    if (isActorManager* manager = window->getActorManager())
        if (isActorOverlay* overlay = manager->getOverlayActor())
            overlay->updateLayout();
}

void isViewerBrowser::showMiddle()
{
    const int m = sliceCount();
    if (m <= 0)
        return;
    const int n = static_cast<int>(m_windows.size());
    const int first = m > 2 * n ? static_cast<int>((m - n) * 0.5) : 0;
    for (int i = 0; i < n; ++i)
        m_windows[i]->showSlice(first + i, true);
    m_frame = first;
    updateSlider();
}

void isViewerBrowser::setFirstSlice(int first, bool update)
{
    m_frame = first;
    for (size_t i = 0; i < m_windows.size(); ++i)
        m_windows[i]->showSlice(first + static_cast<int>(i), false);
    if (update)
        updateSlider();
}

cocos2d::Node* isViewerBrowser::controlNamed(const char* name) const
{
    cocos2d::Node* root = getChildByName("root");
    return root ? root->getChildByNameDeep(name) : nullptr;
}

void isViewerBrowser::updateSlider()
{
    auto* slider = dynamic_cast<cocos2d::ui::Slider*>(controlNamed("slider"));
    if (!slider)
        return;
    const int m = sliceCount();
    const isViewerImage* first = getFirstWindow();
    const int current = first && first->getImageActor() ? first->getImageActor()->getSliceIndex() : 0;
    slider->setPercent(m > 1 ? static_cast<int>(current / float(m - 1) * 100.0f) : 0);
}

cocos2d::Vec3 isViewerBrowser::getSliceStep() const
{
    float step[3] = {0.0f, 0.0f, 0.0f};
    if (isViewerImage* first = getFirstWindow())
        first->getSliceSpacingVector(step);
    return cocos2d::Vec3(step[0], step[1], step[2]);
}

void isViewerBrowser::locate(const cocos2d::Vec3& point)
{
    locateFrom(point, getSliceStep());
}

void isViewerBrowser::locateFrom(const cocos2d::Vec3& point, const cocos2d::Vec3& step)
{
    if (m_windows.empty())
        return;
    const auto found = std::find(m_windows.begin(), m_windows.end(), m_active);
    const int k = found == m_windows.end() ? 0 : static_cast<int>(found - m_windows.begin());
    const cocos2d::Vec3 p = point - step * static_cast<float>(k);
    for (size_t i = 0; i < m_windows.size(); ++i) {
        // The window executes a locate that comes from its owner.
        const cocos2d::Vec3 q = p + step * static_cast<float>(i);
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = pointText(q);
        m_windows[i]->onNotification(NOTIFY_LOCATE_POINT, data, asRef());
    }
    if (m_active)
        m_active->setLocateDisplay(true);
    const isActorImage* actor = m_windows.front()->getImageActor();
    m_frame = actor ? actor->getSliceIndex() : 0;
    updateSlider();
}

// ---------------------------------------------------------------------------------------------
// camera and window

void isViewerBrowser::centerOn(const cocos2d::Vec3& point)
{
    for (isViewerImage* window : m_windows) {
        cocos2d::Vec3 p = point;
        window->centerOn(p);
    }
}

void isViewerBrowser::setZoomRatio(float ratio)
{
    // A ratio taken from another view (a volume view's, say) stays within the 2D limits.
    ratio = std::max(isRenderWindowBase::kMinZoomRatio, std::min(isRenderWindowBase::kMaxZoomRatio, ratio));
    for (isViewerImage* window : m_windows)
        window->isRenderWindowBase::setZoomRatio(ratio);
}

void isViewerBrowser::setWindowLevel(float width, float level)
{
    for (isViewerImage* window : m_windows)
        if (isActorImage* actor = window->getImageActor())
            actor->setWindow(width, level);
}

cocos2d::Vec3 isViewerBrowser::getLookAtTarget() const
{
    const isViewerImage* first = getFirstWindow();
    return first ? first->isRenderWindowBase::getLookAtTarget() : cocos2d::Vec3::ZERO;
}

float isViewerBrowser::getZoomRatio() const
{
    const isViewerImage* first = getFirstWindow();
    return first ? first->isRenderWindowBase::getZoomRatio() : 1.0f;
}

void isViewerBrowser::copyColourTable(unsigned char rgb[768]) const
{
    const isViewerImage* first = getFirstWindow();
    const isActorImage* actor = first ? first->getImageActor() : nullptr;
    if (actor && actor->getClut()) {
        actor->getClut()->getRGBTable(rgb);
        return;
    }
    for (int i = 0; i < 256; ++i)
        rgb[i * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] = static_cast<unsigned char>(i);
}

bool isViewerBrowser::getWindowLevel(float& width, float& level) const
{
    const isViewerImage* first = getFirstWindow();
    const isActorImage* actor = first ? first->getImageActor() : nullptr;
    if (!actor || !actor->getClut())
        return false;
    width = actor->getClut()->getWidth();
    level = actor->getClut()->getLevel();
    return true;
}

std::string isViewerBrowser::getActiveFilePath() const
{
    isViewerImage* window = m_active ? m_active : getFirstWindow();
    if (!window || !window->getImage())
        return std::string();
    return window->getCurrentFilePath();
}

cocos2d::Vec3 isViewerBrowser::getCrossPoint() const
{
    const isViewerImage* window = m_active ? m_active : getFirstWindow();
    return window ? window->getCrossPoint() : cocos2d::Vec3::ZERO;
}

bool isViewerBrowser::isMaximised() const
{
    return std::any_of(m_windows.begin(), m_windows.end(), [](const isViewerImage* w) { return w->isMaximized(); });
}

bool isViewerBrowser::getActiveRect(cocos2d::Rect& out) const
{
    if (!m_active)
        return false;
    out.origin = getPosition() + m_active->getPosition();
    out.size = m_active->getContentSize();
    return true;
}

void isViewerBrowser::hideControls()
{
    for (const char* name : {"addImage", "delImage", "slider", "btnNext", "btnPrior"})
        if (cocos2d::Node* node = getChildByNameDeep(name))
            node->setVisible(false);
}

// ---------------------------------------------------------------------------------------------
// touch

bool isViewerBrowser::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event*)
{
    for (const char* name : {"addImage", "delImage"}) {
        cocos2d::Node* button = controlNamed(name);
        if (button && button->isVisible() &&
            button->getBoundingBox().containsPoint(button->getParent()->convertToNodeSpace(touch->getLocation())))
            return true;
    }
    return false;
}

void isViewerBrowser::onTouchEnded(cocos2d::Touch* touch, cocos2d::Event*)
{
    auto inside = [touch](cocos2d::Node* button) {
        return button &&
               button->getBoundingBox().containsPoint(button->getParent()->convertToNodeSpace(touch->getLocation()));
    };
    if (inside(controlNamed("addImage")))
        setLayout(m_rows, m_columns + 1);
    else if (inside(controlNamed("delImage")))
        setLayout(m_rows, m_columns - 1);
}

// ---------------------------------------------------------------------------------------------
// cine

void isViewerBrowser::cine(unsigned int id)
{
    const int count = sliceCount();
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    if (id == NOTIFY_CINE_PLAY_TOGGLE) {
        if (!m_playing) {
            if (count > 1) {
                m_playing = true;
                const isActorImage* actor = m_windows.front()->getImageActor();
                m_frame = actor ? actor->getSliceIndex() : 0;
                m_counter = 0;
                schedule([this](float) { cineTick(); }, kCineTick, CC_REPEAT_FOREVER, kCineDelay, cineKey());
            }
        } else {
            m_playing = false;
            unschedule(cineKey());
        }
        centre->postIntNotification(asRef(), NOTIFY_CINE_STATE, m_playing ? 1 : 0, m_owner, true);
        return;
    }
    const bool back = id == NOTIFY_CINE_PRIOR;
    if (m_playing) {
        m_interval = back ? std::min(kCineSlowest, m_interval + kCineStep) : std::max(kCineFastest, m_interval - kCineStep);
        m_counter = 0;
        return;
    }
    if (count < 1)
        return;
    // Stepping starts from the slice the first window shows now (it may have moved by wheel).
    if (const isActorImage* actor = m_windows.front()->getImageActor())
        m_frame = actor->getSliceIndex();
    m_frame = back ? (m_frame <= 0 ? count - 1 : m_frame - 1) : (m_frame >= count - 1 ? 0 : m_frame + 1);
    setFirstSlice(m_frame, true);
}

void isViewerBrowser::cineTick()
{
    const int count = sliceCount();
    if (!m_playing || count < 2)
        return;
    if (m_counter % m_interval == 0) {
        m_frame = m_frame + 1 > count - 1 ? 0 : m_frame + 1;
        setFirstSlice(m_frame, true);
    }
    ++m_counter;
}

void isViewerBrowser::stopCine()
{
    m_frame = 0;
    if (!m_playing)
        return;
    m_playing = false;
    unschedule(cineKey());
    NSUI::NSNotificationCenter::getInstance()->postIntNotification(asRef(), NOTIFY_CINE_STATE, 0, m_owner, true);
}

// ---------------------------------------------------------------------------------------------
// command relay

void isViewerBrowser::notificationCallback(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    onNotification(id, data, sender);
}

void isViewerBrowser::postToOwner(unsigned int id, NSUI::NSNotificationData* data, bool urgent)
{
    if (m_owner)
        NSUI::NSNotificationCenter::getInstance()->postNotification(asRef(), id, data, m_owner, urgent);
}

bool isViewerBrowser::isWindow(cocos2d::Ref* sender) const
{
    return sender && std::any_of(m_windows.begin(), m_windows.end(),
                                 [sender](const isViewerImage* w) { return static_cast<const cocos2d::Ref*>(w) == sender; });
}

void isViewerBrowser::toEveryWindow(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* except,
                                    bool onlyUnplainExcept)
{
    // A copy: a command may change the grid (layouts, maximise) while it runs.
    std::vector<isViewerImage*> windows = m_windows;
    for (isViewerImage* window : windows)
        window->cocos2d::Ref::retain();
    for (isViewerImage* window : windows) {
        if (except && static_cast<cocos2d::Ref*>(window) == except)
            continue;
        if (onlyUnplainExcept && window->getKind() == VIEW_SLICE)
            continue;
        window->onNotification(id, data, asRef());
    }
    for (isViewerImage* window : windows)
        window->cocos2d::Ref::release();
}

void isViewerBrowser::activate(isViewerImage* window)
{
    if (m_active && m_active != window) {
        m_active->setLocateDisplay(false);
        m_active->setActive(false);
        refreshOverlay(m_active);
    }
    m_active = window;
    window->setActive(true);
    window->setLocateDisplay(true);
    refreshOverlay(window);
}

void isViewerBrowser::deactivate()
{
    if (m_active) {
        m_active->setActive(false);
        refreshOverlay(m_active);
    }
    stopCine();
}

void isViewerBrowser::onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender)
{
    const bool outside = m_owner && sender != m_owner;
    switch (id) {
    case NOTIFY_SLICE_NEXT:
    case NOTIFY_SLICE_PRIOR:
        if (outside) {
            postToOwner(id, data, true);
            return;
        }
        toEveryWindow(id, data);
        updateSlider();
        return;
    case NOTIFY_VIEW_AXIAL:
    case NOTIFY_VIEW_SAGITTAL:
    case NOTIFY_VIEW_CORONAL:
    case NOTIFY_VIEW_REFRESH:
    case NOTIFY_WL_DEFAULT:
    case NOTIFY_WL_SET:
    case NOTIFY_TOOL_SELECT:
    case NOTIFY_TOOL_WINDOW_LEVEL:
    case NOTIFY_TOOL_ZOOM:
    case NOTIFY_TOOL_PAN:
    case NOTIFY_TOOL_ROI_LINE:
    case NOTIFY_TOOL_ROI_POINT:
    case NOTIFY_TOOL_ROI_ANGLE:
    case NOTIFY_TOOL_ROI_CIRCLE:
    case NOTIFY_TOOL_ROI_POLYGON:
        if (outside) {
            postToOwner(id, data, false);
            return;
        }
        toEveryWindow(id, data);
        return;
    case NOTIFY_LAYOUT_1X1:
    case NOTIFY_LAYOUT_1X2:
    case NOTIFY_LAYOUT_2X1:
    case NOTIFY_LAYOUT_2X2: {
        if (isMaximised()) {
            NSUI::messageView::showMessage(kNormalSizeFirst, kToastSeconds);
            return;
        }
        static const int grids[4][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}};
        const int* grid = grids[id - NOTIFY_LAYOUT_1X1];
        setLayout(grid[0], grid[1]);
        return;
    }
    case NOTIFY_WL_INPUT:
        postToOwner(id, data, false);
        return;
    case NOTIFY_WL_FUNC_LINEAR:
    case NOTIFY_WL_FUNC_LOG10:
    case NOTIFY_WL_FUNC_LOG10_INVERSE:
    case NOTIFY_CLUT_SET:
    case NOTIFY_ROI_REMOVE:
    case NOTIFY_VIEW_INTERACTION_END:
        toEveryWindow(id, data);
        return;
    case NOTIFY_TOOL_LOCATE:
        if (outside) {
            postToOwner(id, data, false);
            return;
        }
        toEveryWindow(id, data);
        for (isViewerImage* window : m_windows)
            window->setLocateDisplay(window == m_active);
        return;
    case NOTIFY_CINE_PLAY_TOGGLE:
    case NOTIFY_CINE_PRIOR:
    case NOTIFY_CINE_NEXT:
        cine(id);
        return;
    case NOTIFY_VIEW_PAN:
    case NOTIFY_VIEW_ZOOM:
    case NOTIFY_VIEW_ZOOM_WHEEL:
    case NOTIFY_VIEW_WINDOW_LEVEL:
        if (isWindow(sender))
            dynamic_cast<isViewerImage*>(sender)->onNotification(id, data, asRef());
        return;
    case NOTIFY_VIEW_PAN_END:
        if (outside)
            toEveryWindow(id, data, sender, true);
        else
            toEveryWindow(id, data);
        return;
    case NOTIFY_VIEW_ZOOM_END:
        if (!outside) {
            toEveryWindow(id, data);
            return;
        }
        toEveryWindow(id, data, sender, true);
        if (data) {
            // The other cells zoom about their own cross point.
            NSUI::UIJson::setString(data->text, "validFocal", "0");
        }
        postToOwner(id, data, false);
        return;
    case NOTIFY_VIEW_WINDOW_LEVEL_END:
        if (outside) {
            toEveryWindow(id, data, sender);
            postToOwner(id, data, false);
            return;
        }
        toEveryWindow(id, data);
        return;
    case NOTIFY_LOCATE_POINT:
        if (outside) {
            toEveryWindow(NOTIFY_LOCATE_POINT_FORWARD, data, m_active);
            postToOwner(id, data, true);
            return;
        }
        locate(pointOf(data));
        return;
    case NOTIFY_VIEW_ACTIVATE:
        if (outside) {
            if (!isWindow(sender))
                return;
            activate(dynamic_cast<isViewerImage*>(sender));
            postToOwner(id, data, false);
            return;
        }
        if (!m_owner && sender)
            return;
        deactivate();
        return;
    case NOTIFY_WINDOW_LINK:
        if (data)
            m_linked = data->intValue > 0;
        return;
    default:
        return;
    }
}

} // namespace isImageSDK
