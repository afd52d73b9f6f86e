// favoriteList: the favourites screen. The capture list in a 300-unit column on the left and, on
// the right, the favourite viewer for a DICOM favourite or a picture view for an image favourite;
// a top bar to go back, tick every row, share or remove the ticked ones. Pushed as a scene by the
// viewer screen and the patient and study lists.
//
// Main thread only.
#pragma once

#include "NSLayout.h"
#include "cocos2d.h"

#include <string>

class captureList;
class favoriteView;

namespace NSUI {
class NSSpriteView;
}

class favoriteList : public NSUI::NSLayout {
public:
    static constexpr float kLeftWidth = 300.0f;
    static constexpr float kTopBarHeight = 60.0f;
    static constexpr const char* kLayoutFile = "favoriteView.csb";

    CREATE_FUNC(favoriteList);
    // A scene holding one favourites screen (return key enabled).
    static cocos2d::Scene* createScene();
    // Registers the favourites screen, the tag list and the level dialog as the side screens the
    // viewer screen opens (viewerSideScreens.h). Called once at launch.
    static void registerWithViewer();
    // The screen of a scene made by createScene, or null.
    static favoriteList* getScreen(cocos2d::Scene* scene);

    bool init() override;
    void cleanup() override;
    void onExit() override;
    bool onResponseReturn() override;
    // Lays the screen out again over the window's size (the window was resized).
    void layoutForWindow();

    void onButton(cocos2d::Ref* sender);
    // The capture list's selection: a DICOM file goes to the viewer, an image to the picture view.
    void onSelect(const std::string& path, int type);

    captureList* getCaptureList() const { return captures; }
    favoriteView* getViewer() const { return viewer; }
    NSUI::NSSpriteView* getPictureView() const { return picture; }
    cocos2d::Node* getLayout() const { return layout; }

protected:
    float leftWidth = kLeftWidth;
    cocos2d::Node* layout = nullptr;
    captureList* captures = nullptr;
    favoriteView* viewer = nullptr;
    NSUI::NSSpriteView* picture = nullptr;
    bool leftRecorded = false;
};
