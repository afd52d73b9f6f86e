// Support of the viewers' drawing tests: the program's one GL window (made in main) and pixels
// read back from it (window coordinates, origin bottom-left).
#pragma once

#include "support/ViewerRig.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <array>

namespace qvgl {

constexpr float kWindowWidth = 640.0f;
constexpr float kWindowHeight = 480.0f;

cocos2d::GLViewImpl* window();
std::array<unsigned char, 3> readPixel(int x, int y);

class GLViewersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(window());
        rig.start();
        // The image programs, found as the program finds them. Whether they build is decided
        // once per process, by the first image shown, whichever test shows it.
        cocos2d::FileUtils::getInstance()->addSearchPath("imageSDK");
    }
    void TearDown() override { rig.stop(); }

    qvtest::ViewerRig rig;
};

} // namespace qvgl
