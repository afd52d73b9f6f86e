// GLViewImpl: the GLFW window with an OpenGL 2.1 compatibility context.
//
// The window is asked not to be resizable; it is placed at the rectangle's origin (screen
// coordinates, origin top-left) with the rectangle's size, titled with the view name. The context
// is made current, GLEW is initialised (experimental entry points on) and swaps do not wait for
// vertical sync: the director paces frames itself. GL_VERTEX_PROGRAM_POINT_SIZE is on for point
// handles.
//
// The frame size is the window size in points. Where the window system scales windows itself
// (the framebuffer is larger than the window), a point is a screen coordinate; where it leaves
// that to the program (X11), the window is made larger by the monitor's content scale and a point
// is content-scale screen coordinates. Viewport, scissor and read-back rectangles are scaled by
// getFramebufferSize() / getFrameSize(). Window managers may resize the window anyway (tiling,
// maximise): the frame, the design resolution, the viewport and the input mapping follow the
// window's and the framebuffer's size (GLView::resizeFrame), as they follow a content-scale change.
//
// Window input (mouse buttons, cursor moves, wheel, keys, characters, focus loss) is translated to
// design coordinates (origin bottom-left) and handed to the framework's input entry points.
// Iconify and restore call the application's background and foreground operations; files dropped
// on the window reach Application::openDocument one by one. Closing the window ends the
// application loop.
//
// Main thread only.
#pragma once

#include <string>

#include "platform/CCGL.h"
#include "platform/CCGLView.h"

struct GLFWwindow;

namespace cocos2d {

class GLViewImpl : public GLView {
public:
    // Null (logged) when there is no display or no suitable context.
    static GLViewImpl* createWithRect(const std::string& viewName, const Rect& rect, float frameZoomFactor = 1.0f);
    static GLViewImpl* create(const std::string& viewName);

    // [hook] The primary monitor's current video mode in points (pixels divided by the monitor's
    // content scale; 0 x 0 without a display).
    static Size getPrimaryMonitorSize();
    // [hook] Screen coordinates per point, from the window's content scale and its framebuffer to
    // window ratio: 1 where the window system scales (or nothing needs scaling), else the content
    // scale.
    static float screenCoordinateScale(float contentScale, float framebufferWidth, float windowWidth);
    // [hook] The width of a window frame drawn by the system: the window manager draws its own.
    static int getFrameBorderWidth() { return 0; }

    void end() override;
    bool isOpenGLReady() override { return _window != nullptr; }
    void swapBuffers() override;
    void pollEvents() override;
    void waitEvents(double seconds) override;
    bool windowShouldClose() override;
    Size getFramebufferSize() const override;
    void setIMEKeyboardState(bool open) override { GLView::setIMEKeyboardState(open); }

    GLFWwindow* getWindow() const { return _window; }
    float getFrameZoomFactor() const { return _frameZoomFactor; }
    // GLFW's content scale of the window (1 on ordinary screens, 2 on many HiDPI ones).
    float getContentScale() const { return _contentScale; }

    // The system clipboard as UTF-8 ("" when empty or not text).
    std::string getClipboardString() const;
    void setClipboardString(const std::string& text);

    // A cursor position (screen coordinates, origin top-left of the window) in design
    // coordinates (origin bottom-left).
    Vec2 cursorToDesign(double x, double y) const;

protected:
    GLViewImpl() = default;
    ~GLViewImpl() override;

    bool initWithRect(const std::string& viewName, const Rect& rect, float frameZoomFactor);

    static GLViewImpl* fromWindow(GLFWwindow* window);
    static void onMouseButton(GLFWwindow* window, int button, int action, int mods);
    static void onCursorPos(GLFWwindow* window, double x, double y);
    static void onScroll(GLFWwindow* window, double x, double y);
    static void onKey(GLFWwindow* window, int key, int scancode, int action, int mods);
    static void onChar(GLFWwindow* window, unsigned int codepoint);
    static void onFocus(GLFWwindow* window, int focused);
    static void onIconify(GLFWwindow* window, int iconified);
    static void onDrop(GLFWwindow* window, int count, const char** paths);
    static void onWindowSize(GLFWwindow* window, int width, int height);
    static void onFramebufferSize(GLFWwindow* window, int width, int height);
    static void onContentScale(GLFWwindow* window, float xscale, float yscale);
    // The window's contents were damaged (exposed): the next frame is drawn, unchanged or not.
    static void onRefresh(GLFWwindow* window);
    // Takes the content scale and the screen coordinate scale from the window as it is now.
    void updateScales();
    // Reads the window's size, framebuffer size and content scale, and resizes the frame to match.
    void followWindow();
    // Screen coordinates per frame unit.
    float screenUnitsPerPoint() const { return _frameZoomFactor * _coordinateScale; }

    GLFWwindow* _window = nullptr;
    float _frameZoomFactor = 1.0f;
    float _contentScale = 1.0f;
    float _coordinateScale = 1.0f;
    double _cursorX = 0.0;
    double _cursorY = 0.0;
    bool _closeRequested = false;
};

} // namespace cocos2d
