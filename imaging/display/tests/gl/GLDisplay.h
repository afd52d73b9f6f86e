// Support for the display's drawing tests: the program's one window (made in main), a fixture
// that gives every test a fresh director and a DisplayScene drawing into it, and read-back of
// a slice's picture from the framebuffer.
//
// The window does not swap buffers, so after a frame the back buffer still holds what was
// drawn.
#pragma once

#include "support/DisplayScene.h"

#include "isSliceInfo.h"

#include "GLTestProgram.h"
#include "cocos2d.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvgl {

using TestView = qvtest::GLTestWindow;
inline TestView* window()
{
    return qvtest::testWindow();
}

class GLDisplayTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Points the scene camera at the middle of the record's plane, looking at its front with
    // row 0 at the top, one millimetre per window pixel.
    void viewSlice(const isImageSDK::isSliceInfo& record);
    // The RGB bytes of the slice's rectangle on screen as columns x rows pixels, row 0 first
    // (as the record stores them). The slice must have spacing 1 and even sizes, viewed with
    // viewSlice.
    std::vector<unsigned char> readSlice(int columns, int rows);

    qvtest::DisplayScene rig;
};

} // namespace qvgl
