// Fixture of the viewing screens' tests: the director on the test program's view (a real window
// in the drawing tests, a headless view otherwise), resources from Resources/ with the program's
// search paths, a writable folder of the test's own (so the library root is
// <scratch>data/qv/dicom/), and every service purged after the test. Input goes through the
// framework's input simulator on the real scene.
#pragma once

#include "NSNotificationCenter.h"
#include "Phantom.h"
#include "cocos2d.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

class imageViewerPC;

namespace viewingtest {
// Records the notifications of chosen numbers (id, sender, text, int value).
class Recorder : public cocos2d::Ref {
public:
    struct Item {
        unsigned int id;
        cocos2d::Ref* sender;
        std::string text;
        int value;
    };
    ~Recorder() override;
    void listen(unsigned int id, void* context);
    int count(unsigned int id) const;
    std::vector<Item> items;
};
} // namespace viewingtest

class ViewingTest : public ::testing::Test {
protected:
    static constexpr float kFrame = 1.0f / 60.0f;

    void SetUp() override;
    void TearDown() override;

    void step(int n = 1, float dt = kFrame);
    // Frames until pred holds, with a moment for the workers between them.
    bool stepUntil(const std::function<bool()>& pred, double seconds = 30.0);

    // The library folder (ends in "/").
    std::string libraryRoot() const { return scratch + "data/qv/dicom/"; }
    // Writes a phantom series into the library under folder; returns folder.
    std::string writeSeries(const std::string& folder, const qvgen::PhantomSpec& spec);

    // Pushes the viewer screen for the series; the screen, not yet loaded.
    imageViewerPC* pushViewer(const std::string& series, const std::string& protocol = "");
    // The same, then frames until the series is shown (the container exists).
    imageViewerPC* openViewer(const std::string& series, const std::string& protocol = "");
    // True once every series of the screen is read whole.
    static bool seriesLoaded(imageViewerPC* screen);

    static void clickNode(cocos2d::Node* node);
    // Touch-began events closer than the double-tap time make a double tap: separate gestures
    // wait it out on the gesture clock.
    static void pauseBetweenGestures();
    // The interactors' gesture clock is the fixture's: time passes for gestures only when a test
    // says so, never with the wall clock.
    static void advanceGestureClock(int milliseconds);
    // A slow left-button drag from a to b (design units), a frame and 15 ms between moves: the
    // viewer's gestures arrive as urgent notifications, one frame later.
    void drag(const cocos2d::Vec2& a, const cocos2d::Vec2& b);

    cocos2d::Director* director = nullptr;
    cocos2d::Scene* home = nullptr;
    std::string scratch;  // ends in "/"
};
