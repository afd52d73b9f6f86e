#include "screenHelpers.h"

#include "AppConfig.h"
#include "NSActivity.h"
#include "NSTableView.h"
#include "WidgetUtil.h"
#include "cocostudio/CSLoader.h"
#include "statApplication.h"
#include "ui/CocosGUI.h"

#include <cstdlib>

USING_NS_CC;

void setChildText(Node* root, const std::string& name, const std::string& text)
{
    Node* child = root ? root->getChildByNameDeep(name) : nullptr;
    if (auto* label = dynamic_cast<ui::Text*>(child))
        label->setString(text);
    else if (auto* button = dynamic_cast<ui::Button*>(child))
        button->setTitleText(text);
    else if (auto* plain = dynamic_cast<Label*>(child))
        plain->setString(text);
}

int favoriteBadgeCount(Node* button, int count)
{
    if (!button)
        return count;
    if (count < 0)
        count = std::atoi(button->getUserString().c_str()) + 1;
    button->setUserString(std::to_string(count));
    return count;
}

void showCountBadge(Node* button, int count, const std::string& bgName, const std::string& labelName,
                    const Vec2& offset)
{
    Node* parent = button ? button->getParent() : nullptr;
    if (!parent)
        return;
    Node* background = parent->getChildByName(bgName);
    auto* label = dynamic_cast<Label*>(parent->getChildByName(labelName));
    if (!background || !label) {
        const Vec2 at = button->getPosition() + offset;
        background = Sprite::create("imgs/newFiles.png");
        if (!background)
            background = Node::create();
        background->setName(bgName);
        background->setAnchorPoint(Vec2(0.5f, 0.5f));
        background->setPosition(at);
        background->setScale(2.0f);
        parent->addChild(background, button->getLocalZOrder() + 1);
        label = Label::createWithSystemFont("", "", 15);
        label->setName(labelName);
        label->setTextColor(Color4B::WHITE);
        label->setPosition(at);
        parent->addChild(label, button->getLocalZOrder() + 2);
    }
    // Placed on every show: the button's bar may have been laid out since, and a badge beside a
    // button at the window's edge is kept inside the window.
    const Vec2 at = button->getPosition() + offset;
    background->setPosition(at);
    const Vec2 at2 = at + NSUI::shiftIntoWindow(background, 2.0f);
    background->setPosition(at2);
    label->setPosition(at2);
    const bool show = count > 0;
    background->setVisible(show);
    label->setVisible(show);
    if (show)
        label->setString(std::to_string(count));
}

void fillSwipeMenu(NSUI::NSTableViewMenu* menu, const std::string& file, const std::function<void(Ref*)>& onClick)
{
    auto* tools = dynamic_cast<ui::Widget*>(CSLoader::createNode(file));
    if (!tools) {
        menu->setVisible(false);
        return;
    }
    AppConfig::getInstance()->setText(tools, "");
    menu->addChild(tools);
    menu->setContentSize(Size(tools->getContentSize().width, menu->getContentSize().height));
    for (const char* name : {"del", "send", "share"}) {
        if (auto* button = dynamic_cast<ui::Button*>(tools->getChildByName(name)))
            button->addClickEventListener(onClick);
    }
}

ssize_t swipeMenuRowIndex(Ref* sender)
{
    for (Node* node = dynamic_cast<Node*>(sender); node; node = node->getParent()) {
        if (auto* menu = dynamic_cast<NSUI::NSTableViewMenu*>(node))
            return menu->getCell() ? menu->getCell()->getIndex() : menu->getIndex();
    }
    return -1;
}

void showBusyOverlay(Node* parent, const std::string& messageKey)
{
    NSUI::NSActivity* overlay = NSUI::NSActivity::show(parent);
    overlay->setBackGroundColorType(ui::Layout::BackGroundColorType::SOLID);
    overlay->setBackGroundColor(Color3B::BLACK);
    overlay->setBackGroundColorOpacity(static_cast<GLubyte>(0.85f * 255));
    overlay->textColor = Color4B::WHITE;
    overlay->setMessage(AppConfig::getInstance()->getText(messageKey));
    overlay->addCancelButton(AppConfig::getInstance()->getText("cancelButton"), Color3B(21, 170, 254));
}

void recordStatistics(int type, const std::string& value)
{
    if (statApplication* stats = statApplication::peekInstance())
        stats->addStat(type, value);
}
