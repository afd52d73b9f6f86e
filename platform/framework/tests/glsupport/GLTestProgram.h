// What the drawing test programs share: the program's one GLFW window, the main that opens it and
// runs the tests, and read-back of what the window shows.
//
// A program's tests/gl/main.cpp calls runGLTests with the program's name, its window size and how
// the window behaves; the tests reach the window through testWindow().
#pragma once

#include "cocos2d.h"

#include <array>
#include <string>

namespace qvtest {

class GLTestWindow : public cocos2d::GLViewImpl {
public:
    static GLTestWindow* create(const std::string& name, const cocos2d::Size& size, bool swaps);
    void swapBuffers() override;
    // How many times the director asked for a swap (whether or not this window swaps).
    int swapRequests() const { return m_swapRequests; }

    // What GLFW would call for window input (GLFW codes; cursor in window coordinates, origin
    // top-left).
    void cursor(double x, double y) { onCursorPos(_window, x, y); }
    void button(int glfwButton, int glfwAction) { onMouseButton(_window, glfwButton, glfwAction, 0); }
    void wheel(double yoffset) { onScroll(_window, 0.0, yoffset); }
    void key(int glfwKey, int glfwAction) { onKey(_window, glfwKey, 0, glfwAction, 0); }
    void character(unsigned int codepoint) { onChar(_window, codepoint); }
    void focus(bool focused) { onFocus(_window, focused ? 1 : 0); }

private:
    bool m_swaps = true;
    int m_swapRequests = 0;
};

enum GLTestOptions : unsigned {
    // Buffers are swapped after every frame. Without it the back buffer still holds the last
    // frame, so glReadPixels reads exactly what was drawn.
    kSwapBuffers = 1u << 0,
    // QV_TEST_WINDOW ("WxH") replaces the program's window size.
    kSizeFromEnvironment = 1u << 1,
    // Mesa rasterises on the calling thread and keeps no shader cache on disk, so the program
    // leaves no files behind and the leak check at exit meets no driver threads.
    kMesaOnCallingThread = 1u << 2,
};

// The main of a drawing test program: opens the window named `name` (width x height), runs the
// tests and closes the window. Listing the tests needs no window. Without a DISPLAY the window
// opens on a private Xvfb server of the program's own.
int runGLTests(int argc, char** argv, const char* name, int width, int height, unsigned options);

// The program's window; null in a program without one (headless tests).
GLTestWindow* testWindow();

// The colour of the window's pixel (x, y) (frame pixels, origin bottom-left), read from the back
// buffer.
std::array<int, 3> framePixel(int x, int y);

// The colour at (x, y) of the running director's view (design units, origin bottom-left), read
// from the back buffer.
std::array<int, 3> pixelAt(float x, float y);

// With QV_SCREENSHOT_DIR set, the window is written there as <name>-<w>x<h>.png for looking at;
// without it nothing happens.
void savePicture(const std::string& name);

} // namespace qvtest
