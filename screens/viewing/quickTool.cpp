#include "quickTool.h"

#include "NSNotificationCenter.h"
#include "isActorManager.h"
#include "isActorOverlay.h"
#include "isViewerImage.h"

#include <cmath>

USING_NS_CC;

namespace {

struct ButtonSpec {
    const char* name;
    const char* image;
    float offset;
};

// In creation order.
const ButtonSpec kButtons[] = {
    {"max", "res/fullscreen.png", 0},
    {"favorite", "res/favoriteBlue.png", 60},
    {"capture", "res/cameraBlue.png", 30},
    {"info", "res/dcmInfoBlue.png", 90},
    {"link", "res/unlink.png", 120},
};

void setAllTextures(ui::Button* button, const std::string& image)
{
    button->loadTextures(image, image, image);
}

isImageSDK::isActorOverlay* overlayOf(Node* viewer)
{
    auto* window = dynamic_cast<isImageSDK::isViewerImage*>(viewer);
    isImageSDK::isActorManager* actors = window ? window->getActorManager() : nullptr;
    return actors ? actors->peekOverlayActor() : nullptr;
}

void followViewer(Node*& held, Node* viewer)
{
    if (held == viewer)
        return;
    if (isImageSDK::isActorOverlay* overlay = held ? overlayOf(held) : nullptr)
        overlay->setReservedBox(Rect::ZERO);
    if (viewer)
        viewer->retain();
    if (held)
        held->release();
    held = viewer;
}

} // namespace

quickTool::~quickTool()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    m_buttons.clear();
    m_buttonCount = 0;
    followViewer(m_viewer, nullptr);
}

bool quickTool::init()
{
    if (!Node::init())
        return false;
    m_viewerId = 0;
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    centre->addObserver(
        this, nullptr,
        [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) { onWindowMaximized(sender, id, data); },
        NOTIFY_WINDOW_MAXIMIZED);
    // A closed viewer is let go at once, not kept alive until the bar follows another.
    centre->addObserver(
        this, nullptr,
        [this](Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (data && data->uintValue == m_viewerId)
                followViewer(m_viewer, nullptr);
        },
        NOTIFY_VIEWER_CLOSED);
    return true;
}

void quickTool::buildButtons()
{
    for (const ButtonSpec& spec : kButtons) {
        ui::Button* button = ui::Button::create(spec.image);
        button->setName(spec.name);
        button->setAnchorPoint(Vec2::ZERO);
        button->setScale(0.5f);
        button->setPosition(Vec2(spec.offset, 0));
        if (std::string(spec.name) == "link")
            button->setUserString("0");
        button->addClickEventListener([this](Ref* sender) { onButton(sender); });
        addChild(button);
        m_buttons.push_back(button);
    }
    m_buttonCount = m_buttons.size();
}

void quickTool::showForViewer(Node* viewer, bool linked)
{
    if (!viewer)
        return;
    const Size size = viewer->getContentSize();
    setContentSize(size);
    setAnchorPoint(Vec2::ZERO);
    const Mat4& toWorld = viewer->getNodeToWorldTransform();
    Vec2 origin(toWorld.m[12], toWorld.m[13] + kRaise);
    if (getParent())
        origin = getParent()->convertToNodeSpace(origin);
    m_home = origin;
    setPosition(origin);
    const float x0 = std::trunc(size.width - kRowRight - 5.0f);
    for (ui::Button* button : m_buttons) {
        for (const ButtonSpec& spec : kButtons) {
            if (button->getName() == spec.name)
                button->setPosition(Vec2(x0 + spec.offset, 0));
        }
    }
    if (auto* link = dynamic_cast<ui::Button*>(getChildByName("link"))) {
        setAllTextures(link, linked ? "res/link.png" : "res/unlink.png");
        link->setUserString(linked ? "1" : "0");
    }
    m_viewerId = viewer->getRefID();
    followViewer(m_viewer, viewer);
    setVisible(true);
}

void quickTool::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    isImageSDK::isActorOverlay* overlay = isVisible() && m_viewer && m_viewer->isRunning() ? overlayOf(m_viewer) : nullptr;
    if (overlay && !m_buttons.empty()) {
        // The buttons' box in the viewer's units (the bar stands kRaise above its bottom edge).
        Rect bar = m_buttons.front()->getBoundingBox();
        for (ui::Button* button : m_buttons)
            bar.merge(button->getBoundingBox());
        bar.origin.y += kRaise;
        overlay->setReservedBox(bar);
        // Placed by the overlay in the viewer's last frame; the bar rises as far as it was moved.
        const float rise = overlay->getReservedBox().origin.y - bar.origin.y;
        const Vec2 place(m_home.x, m_home.y + std::max(0.0f, rise));
        if (getPosition() != place)
            setPosition(place);
    }
    Node::visit(renderer, parentTransform, parentFlags);
}

void quickTool::onButton(Ref* sender)
{
    auto* button = dynamic_cast<ui::Button*>(sender);
    if (!button)
        return;
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    const std::string& name = button->getName();
    if (name == "link") {
        const bool nowLinked = button->getUserString() != "1";
        button->setUserString(nowLinked ? "1" : "0");
        setAllTextures(button, nowLinked ? "res/link.png" : "res/unlink.png");
        auto* data = NSUI::NSNotificationData::create();
        data->intValue = nowLinked ? 1 : 0;
        data->uintValue = m_viewerId;
        centre->postNotification(nullptr, NOTIFY_WINDOW_LINK, data, nullptr);
    } else if (name == "info") {
        centre->postNotification(nullptr, NOTIFY_VIEWER_INFO_MENU, nullptr, nullptr);
    } else if (name == "favorite") {
        auto* data = NSUI::NSNotificationData::create();
        data->uintValue = m_viewerId;
        centre->postNotification(nullptr, NOTIFY_FAVORITE_ADD_VIEW, data, nullptr);
    } else if (name == "capture") {
        centre->postNotification(nullptr, NOTIFY_VIEWER_CAPTURE, nullptr, nullptr);
    } else if (name == "max") {
        auto* data = NSUI::NSNotificationData::create();
        setFloat(data->text, "x", m_areaOrigin.x);
        setFloat(data->text, "y", m_areaOrigin.y);
        setFloat(data->text, "w", m_areaSize.width);
        setFloat(data->text, "h", m_areaSize.height);
        data->uintValue = m_viewerId;
        centre->postNotification(nullptr, NOTIFY_WINDOW_MAXIMIZE, data, nullptr);
    }
}

void quickTool::onWindowMaximized(Ref*, unsigned int, NSUI::NSNotificationData* data)
{
    auto* max = dynamic_cast<ui::Button*>(getChildByName("max"));
    if (!max || !data)
        return;
    setAllTextures(max, data->intValue < 1 ? "res/fullscreen.png" : "res/fullscreen_exit.png");
}
