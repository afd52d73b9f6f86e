// NSActivity: the program's one busy overlay. A full-window translucent layout that swallows every
// touch beneath it, turns a spinner, and shows an optional message (notification 1002 or
// setMessage), an optional progress number (notification 1001, integer payload) and an optional
// cancel button whose click posts 1003 (urgent); the overlay does not dismiss itself on cancel.
//
// It covers the window and keeps its parts centred when the window is resized.
//
// At most one exists: show creates it on first use and returns the same overlay until hide or
// dismiss removes it. Observers are removed before the overlay is released, so no progress
// reaches a dismissed overlay.
//
// Main thread only; workers report by posting 1001/1002.
#pragma once

#include "NSNotificationCenter.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>

namespace NSUI
{

class NSActivity : public cocos2d::ui::Layout
{
public:
    // Children by tag.
    static constexpr int kSpinnerTag = 1001;
    static constexpr int kMessageTag = 101;
    static constexpr int kProgressTag = 100;
    static constexpr int kCancelTag = 102;
    static constexpr int kZOrder = 10500;

    // The overlay, created and added to parent when none exists (an existing one is returned
    // unchanged, wherever it is).
    static NSActivity* show(cocos2d::Node* parent);
    // Removes the overlay when one is shown.
    static void hide();
    // The same; nothing when no overlay exists.
    static void dismiss();
    // The overlay that is shown, or null.
    static NSActivity* current();

    bool init() override;

    void setMessage(std::string text);
    void addCancelButton(std::string title, cocos2d::Color3B titleColour);

    virtual void onNotification(cocos2d::Ref* sender, unsigned int id, NSNotificationData* data);

    // Colour of the message and progress labels; write it before setMessage.
    cocos2d::Color4B textColor = cocos2d::Color4B::BLUE;

protected:
    // Covers the visible window and centres the spinner, the message, the progress number and
    // the cancel button on it.
    void layoutForWindow();

    std::string message;
};

} // namespace NSUI
