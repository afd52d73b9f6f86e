// Small pieces shared by the library screens: filling a text child of a loaded layout, and the
// count badges of the top bars (favourites, peers online).
//
// Main thread only.
#pragma once

#include "cocos2d.h"

#include <functional>
#include <string>

namespace NSUI {
class NSTableViewMenu;
}

// Sets the text of the child with that name (a ui::Text, ui::Button title or Label) anywhere
// below root; nothing when there is none.
void setChildText(cocos2d::Node* root, const std::string& name, const std::string& text);

// The favourite count a badge shows: count itself, or for a count below 0 one more than the
// number kept in the button's user string (0 when empty). The result is kept there.
int favoriteBadgeCount(cocos2d::Node* button, int count);

// A badge beside the button: the sprite "imgs/newFiles.png" named bgName at the button's position
// plus offset, scale 2, one z level above the button, with a white 15-point label named labelName
// two levels above; made on first use as siblings of the button. Shown with the number for a
// count above 0, hidden otherwise.
void showCountBadge(cocos2d::Node* button, int count, const std::string& bgName, const std::string& labelName,
                    const cocos2d::Vec2& offset);

// Fills a swipe menu with the layout file (translated), gives the menu the layout's width and its
// own height and hands the clicks of its buttons "del", "send" and "share" to onClick. Without the
// layout the menu is hidden (no swipe).
void fillSwipeMenu(NSUI::NSTableViewMenu* menu, const std::string& file,
                   const std::function<void(cocos2d::Ref*)>& onClick);
// The row index of the swipe menu a clicked button lies in, or -1.
ssize_t swipeMenuRowIndex(cocos2d::Ref* sender);

// Records a usage event (statistics) with its value; nothing while the recorder is not running.
void recordStatistics(int type, const std::string& value = std::string());

// The busy overlay over parent: black at 0.85, white text, the language text of messageKey and a
// cancel button (the text of "cancelButton", accent colour) that posts 1003.
void showBusyOverlay(cocos2d::Node* parent, const std::string& messageKey);
