// NSMenu: a pop-up list of choices built from a chain of menuObject items. Touching an item hides
// the menu and posts the item's notification number with its value as text and its context,
// urgently; the menu knows nothing of what its choices do. Owners create it once, position and add
// it, and show it again with setVisible(true). A resize of the window closes it.
#pragma once

#include "NSListView.h"
#include "UIControlBase.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"

#include <string>

namespace NSUI
{

class NSMenu : public cocos2d::Layer, public NSTableViewDelegate, public UIJson, public UIControlBase, public UILocalConfig
{
public:
    static constexpr int kIconTag = 100;
    static constexpr int kLabelTag = 101;

    // One item of a singly linked chain; the owner fills the fields and links the items.
    class menuObject : public cocos2d::Ref
    {
    public:
        std::string text;
        std::string icon;  // image file shown left of the text; empty for none
        std::string value; // the notification's text
        void* context = nullptr;
        unsigned int id = 0; // the notification number
        menuObject* next = nullptr;
    };

    static NSMenu* create();
    bool init() override;

    // Builds the list from the chain; the icon width is the first icon's pixel width, capped. The
    // menu (and its list) is as wide as its widest text as drawn, with the icon and margins.
    void setMenuItems(menuObject* first, int maxIconWidth);
    // Moves the menu left or down, as little as needed, to lie wholly inside the window (owners
    // call it once they have placed the menu beside its button).
    void keepInsideWindow();
    // Row height of later setMenuItems calls (40 by default, 100 in the large layout).
    void setRowHeight(float height) { rowHeight = height; }
    float getRowHeight() const { return rowHeight; }
    NSListView* getList() const { return list; }
    int getIconWidth() const { return iconWidth; }

    cocos2d::Size tableCellSizeForIndex(NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSTableViewCell* tableCellAtIndex(NSTableView* table, ssize_t index, const cocos2d::Size& size) override;
    void tableCellTouched(NSTableView* table, NSTableViewCell* cell, const cocos2d::Vec2& point) override;

protected:
    NSListView* list = nullptr;
    int iconWidth = 0;
    float rowHeight = 40.0f;
    float charWidth = 20.0f; // the label's font size
    bool noIcon = true;
    bool noText = true;
};

} // namespace NSUI
