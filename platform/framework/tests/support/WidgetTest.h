// Fixture for widget tests: a running scene on the headless director, a temporary resource root
// with images made on demand, and short-hands for mouse input (the left button is touch 0).
#pragma once

#include <string>
#include <vector>

#include "2d/CCSprite.h"
#include "2d/CCSpriteFrame.h"
#include "cocos2d.h"
#include "renderer/CCImage.h"
#include "support/SceneGraphTest.h"
#include "support/TempDir.h"

namespace qvtest {

class WidgetTest : public SceneGraphTest {
protected:
    void SetUp() override
    {
        SceneGraphTest::SetUp();
        cocos2d::FileUtils::getInstance()->setDefaultResourceRootPath(resources.path());
    }
    void TearDown() override
    {
        SceneGraphTest::TearDown();
        cocos2d::FileUtils::destroyInstance();
    }

    // Writes an opaque w x h PNG under the resource root and returns its name.
    std::string image(const std::string& name, int w, int h)
    {
        std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4, 200);
        auto* img = new cocos2d::Image();
        img->initWithRawData(rgba.data(), static_cast<ssize_t>(rgba.size()), w, h, 8);
        img->saveToFile(resources / name, false);
        img->release();
        return name;
    }

    static void press(float x, float y) { cocos2d::InputSimulator::mouseDown(0, x, y); }
    static void drag(float x, float y) { cocos2d::InputSimulator::mouseMove(x, y); }
    static void release(float x, float y) { cocos2d::InputSimulator::mouseUp(0, x, y); }
    static void click(float x, float y) { cocos2d::InputSimulator::click(x, y); }

    TempDir resources;
};

} // namespace qvtest
