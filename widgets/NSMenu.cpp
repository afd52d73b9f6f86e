#include "NSMenu.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSSpriteView.h"
#include "WidgetUtil.h"

#include <algorithm>
#include <cmath>

namespace NSUI
{

namespace
{
const char* const kRowBackground = "UIRes/greyHigh.png";
constexpr float kRowHeight = 40.0f;
constexpr float kLargeRowHeight = 100.0f;
// Space between a row's edge and its icon, and around its text.
constexpr float kIconMargin = 5.0f;
constexpr float kMargin = 16.0f;
} // namespace

NSMenu* NSMenu::create()
{
    auto* menu = new (std::nothrow) NSMenu();
    if (menu != nullptr && menu->init())
    {
        menu->autorelease();
        return menu;
    }
    delete menu;
    return nullptr;
}

bool NSMenu::init()
{
    if (!cocos2d::Layer::init())
        return false;
    setOwnerNode(this);
    list = nullptr;
    iconWidth = 0;
    rowHeight = AppConfig::getInstance()->largeLayout ? kLargeRowHeight : kRowHeight;
    charWidth = rowHeight * 0.5f;
    noIcon = true;
    noText = true;
    highlightColor = cocos2d::Color4B(255, 255, 0, 55);
    highlightEnabled = false;
    // Placed beside a button of the old layout, an open menu would be left anywhere once the window
    // changes size (even outside it): it closes, as a choice not made.
    listenForWindowResize(this, [this] { setVisible(false); });
    return true;
}

void NSMenu::setMenuItems(menuObject* first, int maxIconWidth)
{
    iconWidth = 0;
    if (first == nullptr)
        return;
    // The widest text as the label draws it: a count of characters says nothing of their widths.
    float widest = 0.0f;
    int count = 0;
    noText = true;
    for (menuObject* item = first; item != nullptr; item = item->next)
    {
        if (iconWidth < 1 && !item->icon.empty())
        {
            if (auto* sprite = cocos2d::Sprite::create(item->icon))
                iconWidth = std::min(static_cast<int>(sprite->getTexture()->getPixelsWide()), maxIconWidth);
        }
        if (!item->text.empty())
        {
            noText = false;
            widest = std::max(widest, cocos2d::Label::create(item->text, "", charWidth)->getContentSize().width);
        }
        ++count;
    }
    noIcon = iconWidth < 1;
    // Icon and text each keep a margin from the row's edges and from each other.
    float width = 2.0f * kMargin + widest;
    if (!noIcon)
        width = static_cast<float>(iconWidth) + kIconMargin + (noText ? kIconMargin : kMargin + widest + kMargin);
    const cocos2d::Size size(std::ceil(width), static_cast<float>(count) * rowHeight);
    // The menu is as large as its list, so that its bounding box is what it draws.
    setContentSize(size);

    list = NSListView::create();
    addChild(list, 1000);
    list->setContentSize(size);
    list->setAnchorPoint(cocos2d::Vec2::ZERO);
    list->delegate = this;
    highlightEnabled = true;
    list->reloadData();
    for (menuObject* item = first; item != nullptr; item = item->next)
        list->insertRow(-1, item);
}

cocos2d::Size NSMenu::tableCellSizeForIndex(NSTableView*, ssize_t, cocos2d::Ref*)
{
    return cocos2d::Size(getContentSize().width, rowHeight);
}

NSTableViewCell* NSMenu::tableCellAtIndex(NSTableView* table, ssize_t index, const cocos2d::Size& size)
{
    const auto& rows = table->getRowData();
    auto* item = index >= 0 && index < static_cast<ssize_t>(rows.size()) ? static_cast<menuObject*>(rows[index])
                                                                         : nullptr;
    NSTableViewCell* cell = table->cellAtIndex(index);
    if (cell == nullptr)
        cell = table->dequeueCell();
    if (cell == nullptr)
    {
        cell = NSTableViewCell::create();
        if (auto* background = cocos2d::Sprite::create(kRowBackground))
        {
            background->setAnchorPoint(cocos2d::Vec2::ZERO);
            background->setPosition(cocos2d::Vec2::ZERO);
            const cocos2d::Size bg = background->getContentSize();
            if (bg.width > 0.0f && bg.height > 0.0f)
                background->setScale(size.width / bg.width, size.height / bg.height);
            // Opaque: the menu lies over the panel's buttons and icons.
            background->setOpacity(255);
            cell->addChild(background, -105);
        }
        auto* icon = NSSpriteView::create();
        icon->setContentSize(cocos2d::Size(static_cast<float>(iconWidth), size.height - 10.0f));
        icon->setTouchEnabled(false);
        if (noText)
        {
            icon->setAnchorPoint(cocos2d::Vec2::ANCHOR_MIDDLE);
            icon->setPosition(cocos2d::Vec2(size.width / 2, size.height / 2));
        }
        else
        {
            icon->setAnchorPoint(cocos2d::Vec2(0.0f, 0.5f));
            icon->setPosition(cocos2d::Vec2(kIconMargin, size.height / 2));
        }
        cell->addChild(icon, 0, kIconTag);

        auto* label = cocos2d::Label::create("", "", charWidth);
        label->setTextColor(cocos2d::Color4B(220, 220, 220, 255));
        if (noIcon)
        {
            label->setAnchorPoint(cocos2d::Vec2::ANCHOR_MIDDLE);
            label->setPosition(cocos2d::Vec2(size.width / 2, size.height / 2));
        }
        else
        {
            label->setAnchorPoint(cocos2d::Vec2(0.0f, 0.5f));
            label->setPosition(cocos2d::Vec2(static_cast<float>(iconWidth) + kIconMargin + kMargin, size.height / 2));
        }
        cell->addChild(label, 0, kLabelTag);
    }
    if (item == nullptr)
        return cell;
    if (auto* icon = dynamic_cast<NSSpriteView*>(cell->getChildByTag(kIconTag)))
    {
        icon->setImage(item->icon);
        icon->setVisible(!item->icon.empty());
    }
    if (auto* label = dynamic_cast<cocos2d::Label*>(cell->getChildByTag(kLabelTag)))
        label->setString(item->text);
    return cell;
}

void NSMenu::keepInsideWindow()
{
    setPosition(getPosition() + shiftIntoWindow(this));
}

void NSMenu::tableCellTouched(NSTableView* table, NSTableViewCell* cell, const cocos2d::Vec2&)
{
    setVisible(false);
    const ssize_t index = cell->getIndex();
    const auto& rows = table->getRowData();
    if (index < 0 || index >= static_cast<ssize_t>(rows.size()))
        return;
    auto* item = static_cast<menuObject*>(rows[index]);
    NSNotificationCenter::getInstance()->postStringNotification(this, item->id, item->value, item->context, true);
}

} // namespace NSUI
