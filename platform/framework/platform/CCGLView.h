// GLView: the surface the director draws into, and its design-resolution arithmetic.
//
// Two back-ends derive from it: the GLFW window (GLViewImpl, a GL context) and GLViewHeadless
// (no window, no context; tests and headless runs). Frame sizes are in screen coordinates;
// the design resolution is the program's coordinate space (getWinSize).
#pragma once

#include <string>

#include "base/CCRef.h"
#include "math/CCGeometry.h"

namespace cocos2d {

enum class ResolutionPolicy {
    EXACT_FIT,    // stretch both axes to the frame
    NO_BORDER,    // fill the frame, cropping one axis
    SHOW_ALL,     // fit inside the frame, letterboxing one axis
    FIXED_HEIGHT, // keep the design height; the design width follows the frame's aspect
    FIXED_WIDTH,  // keep the design width; the design height follows the frame's aspect
    UNKNOWN,
};

struct GLContextAttrs {
    int redBits;
    int greenBits;
    int blueBits;
    int alphaBits;
    int depthBits;
    int stencilBits;
};

class GLView : public Ref {
public:
    // Sent through the director's event dispatcher after the frame size changed (resizeFrame);
    // the user data is null. Screens lay themselves out again on it.
    static const char* const EVENT_WINDOW_RESIZED;

    GLView();
    ~GLView() override;

    static void setGLContextAttrs(GLContextAttrs& attrs);
    static GLContextAttrs getGLContextAttrs();

    // Closes the window (GL) or marks the view as ended.
    virtual void end() = 0;
    virtual bool isOpenGLReady() = 0;
    virtual void swapBuffers() = 0;
    // Reads window input (GLFW); nothing headless.
    virtual void pollEvents() {}
    // Reads window input, waiting up to `seconds` for some to arrive (GLFW); headless it only
    // waits. Input is dispatched before it returns.
    virtual void waitEvents(double seconds);
    virtual bool windowShouldClose() { return false; }
    virtual void setIMEKeyboardState(bool open) { _imeKeyboardOpen = open; }
    bool getIMEKeyboardState() const { return _imeKeyboardOpen; }
    // [hook] True for the headless back-end.
    virtual bool isHeadless() const { return false; }

    virtual Size getFrameSize() const { return _screenSize; }
    // The framebuffer's size in pixels; larger than the frame size on HiDPI screens.
    virtual Size getFramebufferSize() const { return _screenSize; }
    virtual void setFrameSize(float width, float height);
    // The window's size changed (the window manager resized or maximised it): the frame takes the
    // new size. A design resolution equal to the frame (one design unit per screen point, as the
    // shell sets it up) stays equal to it; any other keeps its policy over the new frame. The
    // viewport and the input mapping follow, and EVENT_WINDOW_RESIZED is sent when the size
    // changed. Main thread.
    void resizeFrame(const Size& frameSize);
    virtual void setDesignResolutionSize(float width, float height, ResolutionPolicy policy);
    virtual const Size& getDesignResolutionSize() const { return _designResolutionSize; }
    virtual Size getVisibleSize() const;
    virtual Vec2 getVisibleOrigin() const;
    virtual Rect getVisibleRect() const { return Rect(getVisibleOrigin(), getVisibleSize()); }
    float getScaleX() const { return _scaleX; }
    float getScaleY() const { return _scaleY; }
    ResolutionPolicy getResolutionPolicy() const { return _resolutionPolicy; }
    // The part of the frame the design area covers, in frame units.
    const Rect& getViewPortRect() const { return _viewPortRect; }

    const std::string& getViewName() const { return _viewName; }
    void setViewName(const std::string& name) { _viewName = name; }

protected:
    void updateDesignResolutionSize();

    Size _screenSize;
    Size _designResolutionSize;
    Rect _viewPortRect;
    std::string _viewName;
    float _scaleX = 1.0f;
    float _scaleY = 1.0f;
    ResolutionPolicy _resolutionPolicy = ResolutionPolicy::UNKNOWN;
    bool _imeKeyboardOpen = false;

    static GLContextAttrs _glContextAttrs;
};

// [hook] A view without a window or GL context. The director is stepped by hand
// (Director::stepFrame); nothing is drawn.
class GLViewHeadless : public GLView {
public:
    static GLViewHeadless* create(const Size& frameSize);

    void end() override { _ended = true; }
    bool isOpenGLReady() override { return false; }
    void swapBuffers() override {}
    bool windowShouldClose() override { return _ended; }
    bool isHeadless() const override { return true; }

private:
    bool _ended = false;
};

} // namespace cocos2d
