// editWW: the window width/level dialog. The user types a window width and level, or the
// equivalent minimum and maximum of the shown value range; the two forms follow each other as the
// user types. Closing it with the return key or the back button applies the values: it posts 9024
// with {"ww", "wl"} (context 0) when they are valid and stays open with a toast otherwise.
//
// The screen that opens the dialog adds the window of createPanel as a child (named "editWW"),
// fills it through setWindow and applies 9024 only when its sender is that window: every screen
// observes 9024, and a level typed in one screen belongs to that screen's view alone.
//
// Main thread only.
#pragma once

#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"

#include <string>

namespace NSUI {
class NSResponseWindow;
class NSTextField;
} // namespace NSUI

class editWW : public cocos2d::Node,
               public NSUI::UIControlGenerater,
               public NSUI::UILocalConfig,
               public NSUI::UIControlBase,
               public NSUI::UIJson {
public:
    static constexpr const char* kNodeName = "editWW_view";
    static constexpr const char* kLayoutFile = "editWW.csb";
    static constexpr int kFontSize = 25;
    static constexpr int kMaxLength = 10;
    static constexpr float kToastSeconds = 1.5f;

    CREATE_FUNC(editWW);
    // A full-window modal layer holding a new dialog, its layout hanging from the top centre.
    static NSUI::NSResponseWindow* createPanel();
    // The dialog inside a window made by createPanel (or the node itself when it is the dialog).
    static editWW* fromPanel(cocos2d::Node* panel);

    bool init() override;
    void cleanup() override;
    bool onResponseReturn() override;

    // Fills the four fields with whole numbers: width, level, level - width / 2, level + width / 2.
    void setWindow(float ww, float wl);
    // Checks the fields and posts 9024; false (with a toast) when they are refused.
    bool applyWindowLevel();

    NSUI::NSTextField* getField(const std::string& name) const;
    // The toast shown last (for tests); empty before any.
    const std::string& getLastMessage() const { return lastMessage; }

protected:
    void buildFields();
    void onFieldEvent(cocos2d::Ref* sender);
    void onBack(cocos2d::Ref* sender);
    void toast(const std::string& key);
    // The window of createPanel when the dialog is in one, else the dialog itself: the sender of
    // 9024 and what closes.
    cocos2d::Node* panelNode();

    cocos2d::Node* layout = nullptr;
    NSUI::NSTextField* fieldWW = nullptr;
    NSUI::NSTextField* fieldWL = nullptr;
    NSUI::NSTextField* fieldMin = nullptr;
    NSUI::NSTextField* fieldMax = nullptr;
    std::string lastMessage;
};
