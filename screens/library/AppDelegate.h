// AppDelegate: the application shell. The entry point makes one on its stack and runs the
// framework's loop; the framework calls it at launch, on going to the background and coming
// back, for every document dropped on the window, and at shutdown.
//
// Launch, in order: the configuration (retained until shutdown) and its language table; the
// first window (unless a view exists already), titled with the text of "appName"; the resource
// search paths, with the window's frame size recorded in the configuration first; the design
// resolution equal to the frame; the DICOM library's callbacks; the process-wide services; the
// first scene, the patient list. Shutdown stops and releases the services in a fixed order.
//
// The delegate keeps no state of its own: everything it starts is a singleton of another unit.
// Main thread only.
#pragma once

#include "cocos2d.h"

#include <string>
#include <vector>

class AppDelegate : public cocos2d::Application {
public:
    AppDelegate();
    ~AppDelegate() override;

    void initGLContextAttrs() override;
    bool applicationDidFinishLaunching() override;
    void applicationDidEnterBackground() override;
    void applicationWillEnterForeground() override;
    void openDocument(const char* path) override;
    void shutdown() override;

    // The first window's rectangle on a display of that size with that frame border: a border
    // in from the left, 40 down from the top, the display's width less two borders, its height
    // less 100.
    static cocos2d::Rect firstWindowRect(const cocos2d::Size& display, float border);
    // The resource search paths set at launch, in order.
    static const std::vector<std::string>& searchPaths();
    // Whether shutdown ends the DICOM library for good (rediri_destroy). Tests that launch the
    // program several times in one process turn it off. On by default.
    static void setEndsDicomLibrary(bool end);
};
