// favoriteView: the favourite viewer. One DICOM file (a favourite saved by the viewer screen, or
// any file handed to it) in a single plain 2D view with a reduced tool set on an 80-unit tool bar
// at the pane's right edge: selection, pan, zoom, the five measurements and removal of the
// selected one, window level (menu, mouse, default, presets, typed values), colour tables, the
// window curve, screen capture and sending the file to a DICOM peer.
//
// The favourites screen places it right of the capture list. It opens the file through its own
// view-mode manager and talks to the resulting container through its command operation and
// through notifications whose context is that container, so a viewer elsewhere never reacts.
//
// Main thread only.
#pragma once

#include "NSLayout.h"
#include "NSMenu.h"
#include "cocos2d.h"
#include "isWindowPresets.h"

#include <functional>
#include <string>
#include <vector>

namespace isImageSDK {
class appManager;
class isViewerMulti;
} // namespace isImageSDK

namespace NSUI {
class NSNotificationData;
}

class favoriteView : public NSUI::NSLayout {
public:
    static constexpr float kToolWidth = 80.0f;
    static constexpr const char* kToolFile = "2DFavoriteTool.csb";
    static constexpr const char* kMessageFile = "noSupport.csb";
    static constexpr const char* kMessageName = "favoriteMsg";
    static const char* const kToolButtons[15];

    // The send window of one file ("favoriteDicom" as its kind), made by the screen that owns the
    // send screen; the viewer adds it as a child. Without one, "btnCmdSend" only logs.
    using SendWindowFactory = std::function<cocos2d::Node*(const std::string& path, const std::string& kind)>;
    static void setSendWindowFactory(SendWindowFactory factory);

    CREATE_FUNC(favoriteView);
    ~favoriteView() override;

    bool init() override;
    void cleanup() override;
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    // Escape with a menu open closes it (true); otherwise the key travels on (false).
    bool onResponseReturn() override;

    // Called once by the owner after it has sized and placed the pane.
    void setupToolbar();
    // The owner gave the pane a new size (the window was resized): the tool bar, the view with its
    // cells in place and the message follow.
    void relayout(const cocos2d::Size& size);
    // Shows a file: "" shows the hint, a file that cannot be shown a message with the view hidden.
    void setFile(std::string path);

    void onButton(cocos2d::Ref* sender);
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    isImageSDK::isViewerMulti* getViewer() const { return container; }
    const std::string& getFilePath() const { return filePath; }
    cocos2d::Node* getToolbar() const { return toolbar; }
    // The text of the message panel ("" when none is shown).
    std::string getMessage() const;
    const std::vector<isImageSDK::WindowPreset>& getPresets() const { return presets; }
    NSUI::NSMenu* findMenu(const std::string& name) const;
    // The level dialog this pane opened and has not heard from yet (null when none).
    cocos2d::Node* getLevelDialog() const { return levelDialog; }

protected:
    void setMessage(const std::string& text);
    void placeMessage(cocos2d::Node* panel);
    // The view's area: the pane left of the tool bar.
    cocos2d::Rect viewArea() const;
    // The tool bar runs down the pane's right edge.
    void fitToolbar();
    void containerCommand(unsigned int id);
    void showMenu(const std::string& name, cocos2d::Node* button, const cocos2d::Vec2& offset);
    NSUI::NSMenu* makeMenu(const std::string& name);
    // Hides the open menus; true when one was open.
    bool hideMenus();
    void capture();

    isImageSDK::appManager* manager = nullptr;
    isImageSDK::isViewerMulti* container = nullptr;
    cocos2d::Node* toolbar = nullptr;
    float toolWidth = kToolWidth;
    std::string filePath;
    std::vector<isImageSDK::WindowPreset> presets;
    cocos2d::Node* levelDialog = nullptr;  // retained until it answers or the pane goes
};
