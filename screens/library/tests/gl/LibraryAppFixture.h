// The library screens' tests run the real program: the application delegate launches into one
// GL window made by main (its size from QV_TEST_WINDOW, "1920x980" by default: a wide window), with
// the library in a temporary writable folder of each test, and input goes through the framework's
// input simulator.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "AppDelegate.h"
#include "Phantom.h"
#include "cocos2d.h"
#include "patientList.h"
#include "studyList.h"

class LibraryAppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Launches the delegate (again, after quit()) on the test's writable folder.
    void launch(bool withExample = true);
    // Ends the scenes, then the delegate's shutdown, as the framework's loop does on quit.
    void quit();

    void frame(float dt = 1.0f / 60) { cocos2d::Director::getInstance()->stepFrame(dt); }
    // Frames until pred holds (worker threads get a moment between frames); false on timeout.
    bool frameUntil(const std::function<bool()>& pred, double seconds = 60.0);

    patientList* home() const;
    studyList* panel() const;
    // A left click at a node's centre (in world coordinates).
    static void clickNode(cocos2d::Node* node);

    // Writes a phantom study of its own patient into folder (20 slices of 64 x 64 unless given).
    static void writeStudy(const std::string& folder, const std::string& patientName, const std::string& patientID,
                           int slices = 6);
    // The phantom writeStudy writes, to change before writing it with writeSeries.
    static qvgen::PhantomSpec studySpec(const std::string& patientName, const std::string& patientID, int slices);
    static void writeSeries(const std::string& folder, const qvgen::PhantomSpec& spec);

    std::string scratch;  // the test's own folder, ending in "/"
    AppDelegate* app = nullptr;
    bool launched = false;
};

namespace libraryapp {
// The home screen's rows and whether its import has ended (nothing unpacking, queued or importing).
patientList::listObject* rowAt(patientList* screen, ssize_t i);
int rowCount(patientList* screen);
bool importIdle(patientList* screen);
// The running scene's toast text ("" when none shows); takeToast also clears it, so that the next
// check sees only a new one.
std::string toastShown();
std::string takeToast();
} // namespace libraryapp

// Files below a folder (recursive), relative to it, sorted.
std::vector<std::string> filesBelow(const std::string& folder);
std::string readWhole(const std::string& path);
