// Test fixture: a headless director stepped by hand, and the foundation singletons purged after
// every test so that each test starts from a fresh centre and data manager.
#pragma once

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <functional>

class HeadlessFrames : public ::testing::Test
{
protected:
    static constexpr float kFrame = 1.0f / 60.0f;
    static constexpr int kPatienceSeconds = 30;

    void SetUp() override;
    void TearDown() override;

    // Runs n frames of dt seconds each.
    void step(int n = 1, float dt = kFrame);
    // Runs frames until pred holds, giving worker threads a moment between frames; false when it
    // still does not hold after maxFrames frames and at least kPatienceSeconds of wall time. The
    // wall-time floor keeps a wait for a worker's result from giving up early on a loaded machine,
    // where a frame's short sleep lasts far longer than asked and the workers get less of the CPU.
    bool stepUntil(const std::function<bool()>& pred, int maxFrames = 5000);
    // Runs frames covering the notification centre's and the data manager's first delay.
    void passStartDelay();
};
