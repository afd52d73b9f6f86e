// UIControlBase: the message toast mixin. A host class (a layout, a scroll view, a screen, the
// scene-level holder messageView) sets the owner node to itself in its init and then shows short
// texts at the bottom of the window with showMessage. The toast is one "messageBox" layout per
// running scene, reused by every later toast on that scene; the scene hides it after the time
// given (Scene::setMessageNode). It stays centred when the window is resized.
//
// Main thread only.
#pragma once

#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>

namespace NSUI
{

// Names and z-orders of the toast on the running scene.
extern const char* const kMessageBoxName;     // "messageBox"
extern const char* const kMessageBoxTextName; // "messageBox.text"
constexpr int kMessageBoxZOrder = 300000;
constexpr int kMessageBoxTextZOrder = 300010;

class UIControlBase
{
public:
    UIControlBase() = default;
    virtual ~UIControlBase() = default;

    // Builds a new toast box (not yet on any scene): a grey translucent layout holding the white,
    // shadowed text child "messageBox.text". Subclasses may return their own box, or null to show
    // no toasts at all.
    virtual cocos2d::Node* createMessageNode();

    // Shows the text in the running scene's toast for the given number of seconds (2.0 s as a
    // rule). Does nothing without a running scene.
    void showMessage(std::string text, float seconds);

    // (window width x fx, window height x fy), from Director::getWinSize.
    cocos2d::Vec2 getPositionInWindow(float fx, float fy);

    // Gives the owner (when it is a ui::Widget) a relative layout parameter aligned to its parent:
    // align 1..9 as top-left .. bottom-right; any other value does nothing.
    void setRelativeLayout(int align, std::string relativeName, cocos2d::ui::Margin margin);

    void setOwnerNode(cocos2d::Node* node) { ownerNode = node; }
    cocos2d::Node* getOwnerNode() const { return ownerNode; }

protected:
    cocos2d::Node* ownerNode = nullptr; // not retained; the host itself or its scene
};

} // namespace NSUI
