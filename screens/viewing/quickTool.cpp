#include "quickTool.h"

#include "NSNotificationCenter.h"

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

} // namespace

quickTool::~quickTool()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    m_buttons.clear();
    m_buttonCount = 0;
}

bool quickTool::init()
{
    if (!Node::init())
        return false;
    m_viewerId = 0;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) { onWindowMaximized(sender, id, data); },
        NOTIFY_WINDOW_MAXIMIZED);
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
    setVisible(true);
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
