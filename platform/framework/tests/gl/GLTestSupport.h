// Support for the drawing tests: one GLFW window for the whole program (made in main), a fixture
// that gives every test a fresh director drawing into it, and pixel read-back.
//
// The test window does not swap buffers, so that after Director::stepFrame the back buffer still
// holds the frame and glReadPixels reads exactly what was drawn.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GLTestProgram.h"
#include "cocos2d.h"

namespace qvgl {

// The program's window (made by main).
using TestView = qvtest::GLTestWindow;
inline TestView* window()
{
    return qvtest::testWindow();
}

struct Pixel {
    int r, g, b;
    bool near(int rr, int gg, int bb, int tolerance = 3) const
    {
        return std::abs(r - rr) <= tolerance && std::abs(g - gg) <= tolerance && std::abs(b - bb) <= tolerance;
    }
};
::std::ostream& operator<<(::std::ostream& os, const Pixel& p);

// The framebuffer pixel at (x, y), origin bottom-left (design units equal pixels here).
Pixel pixelAt(int x, int y);
// Pixels of a rectangle, rows bottom-up.
std::vector<Pixel> pixels(int x, int y, int w, int h);

class GLTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void frame() { director->stepFrame(1.0f / 60); }

    cocos2d::Director* director = nullptr;
    cocos2d::Scene* scene = nullptr;
    cocos2d::Size win;
};

} // namespace qvgl
