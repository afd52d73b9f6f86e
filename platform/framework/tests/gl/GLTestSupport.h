// Support for the drawing tests: one GLFW window for the whole program (made in main), a fixture
// that gives every test a fresh director drawing into it, and pixel read-back.
//
// The test window does not swap buffers, so that after Director::stepFrame the back buffer still
// holds the frame and glReadPixels reads exactly what was drawn.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"

namespace qvgl {

class TestView : public cocos2d::GLViewImpl {
public:
    static TestView* create(const cocos2d::Size& size);
    void swapBuffers() override { ++swaps; }
    int swaps = 0;

    // What GLFW would call for window input (GLFW codes; cursor in window coordinates, origin
    // top-left).
    void cursor(double x, double y) { onCursorPos(_window, x, y); }
    void button(int glfwButton, int glfwAction) { onMouseButton(_window, glfwButton, glfwAction, 0); }
    void wheel(double yoffset) { onScroll(_window, 0.0, yoffset); }
    void key(int glfwKey, int glfwAction) { onKey(_window, glfwKey, 0, glfwAction, 0); }
    void character(unsigned int codepoint) { onChar(_window, codepoint); }
    void focus(bool focused) { onFocus(_window, focused ? 1 : 0); }
};

// The program's window (made by main).
TestView* window();

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
