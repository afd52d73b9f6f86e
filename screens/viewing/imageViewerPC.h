// imageViewerPC: the desktop viewer screen. The study list pushes it to show one or several
// series: it lays out a left tool panel and a viewing area, loads the series on a worker behind
// the busy overlay, builds the multi-view container through the application manager once they are
// loaded, and from then on turns its tool panel, its six menus, the tool disk and the quick tool
// bar into commands for the container (posted with the container as context, or handed to its
// sendCommand / sendIntCommand / sendFloatCommand).
//
// The loaded series reach the screen through the shared-object registry: one series loader per
// series folder, registered under the folder text. The screen finds them by name and removes
// them by name when it is left or given other series.
//
// Main thread only, except saveFavorite (a worker of its own, started by startFavoriteSave).
#pragma once

#include "NSLayout.h"
#include "NSMenu.h"
#include "NSNotificationData.h"
#include "UIScrollViewBase.h"
#include "isSliceInfo.h"
#include "isViewerMulti.h"
#include "isWindowPresets.h"

#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <memory>
#include <string>
#include <vector>

namespace isImageSDK {
class appManager;
class isViewerMulti;
} // namespace isImageSDK

class quickTool;
class toolDisk;
class viewerSeriesLoader;

class imageViewerPC : public NSUI::NSLayout {
public:
    // Panel codes.
    enum Panel { PANEL_NONE = -1, PANEL_2D = 0, PANEL_3D = 1, PANEL_VR = 2 };
    // Tags of "btnCmdPlay": the cine runs (2001) or is stopped (2002).
    static constexpr int kPlaying = 2001;
    static constexpr int kStopped = 2002;
    static constexpr float kTopBar = 60.0f;
    static const char* const kScreenName;  // "imageViewPC"

    // A scene holding a new screen for the series (a folder relative to the library root, or the
    // flat JSON {"num": n, "series1": folder, ...}); the caller pushes it. The JSON of a retrieval
    // that did not complete is {"num": 1, "series1": its folder's full path, "kept": images kept,
    // "images": images of the series (0: not known)}: the viewer reads that folder afresh, says
    // it shows an incomplete series, and leaves no series cache of it behind. A hanging protocol is
    // chosen afterwards with setProtocol on the scene's child "imageViewPC" (see getScreen).
    static cocos2d::Scene* createScene(const std::string& series);
    // The screen of a scene made by createScene, or null.
    static imageViewerPC* getScreen(cocos2d::Scene* scene);
    static imageViewerPC* create();
    ~imageViewerPC() override;

    bool init() override;
    void cleanup() override;
    void onEnterTransitionDidFinish() override;
    void onExit() override;
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    // Escape: closes the open menus and the tool disk (true), or, with none open, lets the key
    // travel on to the scene, which leaves the viewer (false).
    bool onResponseReturn() override;
    void visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags) override;

    void setSeries(const std::string& text);
    void setProtocol(const std::string& name);
    void setViewer(isImageSDK::isViewerMulti* container);
    void showMainButtons(bool visible);
    void setFavoriteBadge(int count);
    void showViewerMessage(const std::string& text);
    toolDisk* getToolDisk();
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    // The controls of the screen's own layout; called once by createScene.
    void bindControls();
    void buildToolPanel(int code);
    void updateSliceSlider();
    void refreshWindowPresets();
    void onSliceSlider(cocos2d::Ref* slider, cocos2d::ui::Slider::EventType event);

    // Tools and menus.
    void onButton(cocos2d::Ref* sender);
    void showProtocolMenu(bool visible);
    void showCaptureMenu(bool visible);
    void showOpacityMenu(bool visible);
    void showDicomMenu(bool visible);
    void showClutMenu(bool visible);
    void showWindowLevelMenu(bool visible);
    // Hides every open menu and the tool disk; true when one was open.
    bool closePopUps();
    // The toolbox button: opens the tool disk over the active view, or closes it.
    void toggleToolDisk();
    void updateProtocolButton(int mode);
    // Writes one favourite DICOM file from a slice copy (owned and freed here) and posts 9105.
    // Runs on a worker; the library root is passed in (workers do not reach the services).
    static void saveFavorite(isImageSDK::isSliceInfo* slice, const std::string& libraryRoot);
    // Runs saveFavorite on a worker (an NSRunableThread run, which the shell's shutdown waits for,
    // so a favourite kept just before quitting is written whole and gets its row).
    static void startFavoriteSave(isImageSDK::isSliceInfo* slice, const std::string& libraryRoot);

    // State, for the tool disk, the tests and the study list.
    const std::vector<std::string>& getSeriesFolders() const { return m_seriesFolders; }
    const std::vector<isImageSDK::WindowPreset>& getWindowPresets() const { return m_windowPresets; }
    isImageSDK::isViewerMulti* getViewer() const { return m_viewer; }
    isImageSDK::appManager* getAppManager() const { return m_appManager; }
    int getPanelCode() const { return m_panelCode; }
    int getViewMode() const { return m_viewMode; }
    int getToolWidth() const { return m_toolWidth; }
    unsigned int getTotalSlices() const { return m_totalSlices; }
    bool getAllVolumes() const { return m_allVolumes; }
    quickTool* getQuickTool() const { return m_quickTool; }
    NSUI::UIScrollViewBase* getToolScrollView() const { return m_toolScrollView; }
    std::shared_ptr<viewerSeriesLoader> getLoader() const { return m_loader; }
    // The viewing area in the screen's space.
    cocos2d::Rect getViewingArea() const;
    // Lays the screen out again over the window's size (the window was resized): the top bar, the
    // tool panel's height, the image area with its views in place, the quick tools' area and the
    // message panel.
    void layoutForWindow();
    // The library folder (ends in "/"): the library database's, or the writable path's
    // "qv/dicom/" while the network service is not running.
    static std::string getLibraryRoot();

protected:
    imageViewerPC() = default;

    void onSeriesLoaded(NSUI::NSNotificationData* data);
    // The tool panel of the active view (the volume panel for a volume view) and the slider at
    // its slice.
    void followActiveView(bool volumeView);
    void clearSeries();
    void placeMenuBesideButton(cocos2d::Node* menu, cocos2d::Node* button, bool shiftLeft);
    NSUI::NSMenu* findMenu(const char* name) const;
    // Sizes the tool panel's holder and scroll view to the panel's column below the top bar; the
    // panel is stretched to a taller column, and scrolls (shown from its top) in a lower one.
    void fitToolPanel();
    void captureRect(int x, int y, int width, int height);
    void post(unsigned int id, bool urgent = false);
    bool isPlaying() const;
    bool allSeriesLoaded() const;
    cocos2d::Node* root() const;
    void placeMessagePanel(cocos2d::Node* panel);

    std::vector<isImageSDK::WindowPreset> m_windowPresets;
    std::vector<std::string> m_seriesFolders;
    bool m_firstEnter = true;
    isImageSDK::isViewerMulti* m_viewer = nullptr;
    int m_pendingSlice = -1;
    unsigned int m_lastFrame = 0;
    quickTool* m_quickTool = nullptr;
    NSUI::UIScrollViewBase* m_toolScrollView = nullptr;
    cocos2d::ui::Layout* m_toolHolder = nullptr;
    int m_panelCode = PANEL_NONE;
    int m_toolWidth = 300;
    // The tool panel's own height (it is stretched to a taller window, and scrolls in a lower one).
    float m_toolPanelHeight = 0.0f;
    float m_sliderLast = 0.0f;
    // The slider's ball is under the user's finger (between down and up).
    bool m_sliderHeld = false;
    // The active view's slice and count the slider shows ({-1, -1}: none).
    isImageSDK::isViewerMulti::SliceInfo m_sliderSlice{-1, -1};
    float m_pendingRotation = 0.0f;
    isImageSDK::appManager* m_appManager = nullptr;
    int m_viewMode = 0;
    unsigned int m_seriesCount = 0;
    unsigned int m_totalSlices = 0;
    bool m_allVolumes = false;
    // What an incomplete series shows in the title and tells when it opens ("" for a whole one).
    std::string m_incompleteText;
    std::string m_defaultTitle;

    std::shared_ptr<viewerSeriesLoader> m_loader;
    // The level dialog this screen opened: only its 9024 is applied here.
    cocos2d::Node* m_levelDialog = nullptr;
    bool m_cleanedUp = false;
};
