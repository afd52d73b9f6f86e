// Fixture of the toolkit's tests: a headless 960 x 640 director stepped by hand and running one
// scene, resources from the project's Resources/ folder, and the foundation singletons purged after
// every test. Mouse and keyboard input go through the framework's input simulator (the left button
// is also touch 0).
#pragma once

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

class WidgetsTest : public ::testing::Test
{
protected:
    static constexpr float kFrame = 1.0f / 60.0f;

    void SetUp() override;
    void TearDown() override;

    // Runs n frames of dt seconds each.
    void step(int n = 1, float dt = kFrame);
    // Runs frames until pred holds, giving worker threads a moment between frames.
    bool stepUntil(const std::function<bool()>& pred, int maxFrames = 3000);
    // Runs the frames that cover the notification centre's first delay.
    void passStartDelay() { step(1, 0.5f); }

    // Writes an opaque w x h PNG into the test's writable folder and returns its full path.
    std::string writeImage(const std::string& name, int w, int h);
    // Writes bytes that are not an image under the given name; returns the full path.
    std::string writeJunk(const std::string& name);

    static void press(float x, float y) { cocos2d::InputSimulator::mouseDown(0, x, y); }
    static void drag(float x, float y) { cocos2d::InputSimulator::mouseMove(x, y); }
    static void release(float x, float y) { cocos2d::InputSimulator::mouseUp(0, x, y); }
    static void click(float x, float y) { cocos2d::InputSimulator::click(x, y); }

    cocos2d::Director* director = nullptr;
    cocos2d::Scene* scene = nullptr;
    std::string scratch; // a folder of this test's own, with a trailing "/"
};
