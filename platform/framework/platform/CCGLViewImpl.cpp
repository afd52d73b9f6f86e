#include "platform/CCGLViewImpl.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <cmath>
#include <new>

#include "base/CCConfiguration.h"
#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "event/CCInputTranslator.h"
#include "platform/CCApplication.h"
#include "renderer/CCRenderer.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

namespace {

// GLFW is initialised once and stays so until the process ends: terminating it closes the display
// connection and unloads the GL driver, whose own leftovers the leak checker could then no longer
// attribute (and a later window would load it again).
bool initGLFW()
{
    static const bool ready = [] {
        glfwSetErrorCallback([](int error, const char* description) {
            log("GLFW error %d: %s", error, description ? description : "");
        });
        return glfwInit() == GLFW_TRUE;
    }();
    return ready;
}

} // namespace

GLViewImpl* GLViewImpl::create(const std::string& viewName)
{
    return createWithRect(viewName, Rect(0, 0, 960, 640));
}

GLViewImpl* GLViewImpl::createWithRect(const std::string& viewName, const Rect& rect, float frameZoomFactor)
{
    GLViewImpl* view = new (std::nothrow) GLViewImpl();
    if (view && view->initWithRect(viewName, rect, frameZoomFactor)) {
        view->autorelease();
        return view;
    }
    delete view;
    return nullptr;
}

bool GLViewImpl::initWithRect(const std::string& viewName, const Rect& rect, float frameZoomFactor)
{
    if (rect.size.width < 1.0f || rect.size.height < 1.0f) {
        log("GLViewImpl: invalid window size %.0f x %.0f", rect.size.width, rect.size.height);
        return false;
    }
    if (!initGLFW()) {
        log("GLViewImpl: no display (GLFW could not start)");
        return false;
    }
    setViewName(viewName);
    _frameZoomFactor = frameZoomFactor > 0.0f ? frameZoomFactor : 1.0f;

    const GLContextAttrs attrs = getGLContextAttrs();
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_FALSE);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_ANY_PROFILE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_RED_BITS, attrs.redBits);
    glfwWindowHint(GLFW_GREEN_BITS, attrs.greenBits);
    glfwWindowHint(GLFW_BLUE_BITS, attrs.blueBits);
    glfwWindowHint(GLFW_ALPHA_BITS, attrs.alphaBits);
    glfwWindowHint(GLFW_DEPTH_BITS, attrs.depthBits);
    glfwWindowHint(GLFW_STENCIL_BITS, attrs.stencilBits);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    // Where the window system leaves HiDPI to the program (X11), the window is made larger by the
    // monitor's content scale, so that points keep their size on the screen.
    glfwWindowHint(GLFW_SCALE_TO_MONITOR, GLFW_TRUE);

    const int width = int(rect.size.width * _frameZoomFactor);
    const int height = int(rect.size.height * _frameZoomFactor);
    _window = glfwCreateWindow(width, height, viewName.c_str(), nullptr, nullptr);
    if (!_window) {
        log("GLViewImpl: cannot create a %d x %d window with an OpenGL 2.1 context", width, height);
        return false;
    }
    glfwSetWindowUserPointer(_window, this);
    updateScales();
    glfwSetWindowPos(_window, int(rect.origin.x * _coordinateScale), int(rect.origin.y * _coordinateScale));
    glfwMakeContextCurrent(_window);

    glewExperimental = GL_TRUE;
    const GLenum glewStatus = glewInit();
    // GLEW 2.2 on a GLX context may report "no GLX display" when built for EGL; anything else is
    // fatal. The entry points we need are checked below.
    if (glewStatus != GLEW_OK && glewStatus != GLEW_ERROR_NO_GLX_DISPLAY) {
        log("GLViewImpl: GLEW failed: %s", reinterpret_cast<const char*>(glewGetErrorString(glewStatus)));
        glfwDestroyWindow(_window);
        _window = nullptr;
        return false;
    }
    // glewInit may leave an error flag behind.
    while (glGetError() != GL_NO_ERROR) {
    }
    if (!glCreateShader || !glUseProgram || !glVertexAttribPointer) {
        log("GLViewImpl: the context lacks OpenGL 2.0 shader entry points");
        glfwDestroyWindow(_window);
        _window = nullptr;
        return false;
    }
    glfwSwapInterval(0);
    GL::setContextAlive(true);
    Configuration::getInstance()->gatherGPUInfo();
    glEnable(GL_VERTEX_PROGRAM_POINT_SIZE);

    glfwSetMouseButtonCallback(_window, onMouseButton);
    glfwSetCursorPosCallback(_window, onCursorPos);
    glfwSetScrollCallback(_window, onScroll);
    glfwSetKeyCallback(_window, onKey);
    glfwSetCharCallback(_window, onChar);
    glfwSetWindowFocusCallback(_window, onFocus);
    glfwSetWindowIconifyCallback(_window, onIconify);
    glfwSetDropCallback(_window, onDrop);
    glfwSetWindowSizeCallback(_window, onWindowSize);
    glfwSetFramebufferSizeCallback(_window, onFramebufferSize);
    glfwSetWindowContentScaleCallback(_window, onContentScale);
    glfwSetWindowRefreshCallback(_window, onRefresh);
    // Ctrl+V in a text field reads the system clipboard.
    GLFWwindow* clipboardWindow = _window;
    InputTranslator::setClipboardReader([clipboardWindow] {
        const char* text = glfwGetClipboardString(clipboardWindow);
        return text ? std::string(text) : std::string();
    });

    int frameW = 0;
    int frameH = 0;
    glfwGetWindowSize(_window, &frameW, &frameH);
    setFrameSize(float(frameW) / screenUnitsPerPoint(), float(frameH) / screenUnitsPerPoint());
    return true;
}

float GLViewImpl::screenCoordinateScale(float contentScale, float framebufferWidth, float windowWidth)
{
    if (!(contentScale > 0.0f) || !(framebufferWidth > 0.0f) || !(windowWidth > 0.0f)) {
        return 1.0f;
    }
    // What the window system already scales by itself.
    const float systemScale = framebufferWidth / windowWidth;
    const float scale = contentScale / systemScale;
    // Within rounding of the framebuffer size, the window system did it all.
    return scale < 1.05f ? 1.0f : scale;
}

void GLViewImpl::updateScales()
{
    int winW = 0, winH = 0, fbW = 0, fbH = 0;
    glfwGetWindowSize(_window, &winW, &winH);
    glfwGetFramebufferSize(_window, &fbW, &fbH);
    float xscale = 1.0f;
    float yscale = 1.0f;
    glfwGetWindowContentScale(_window, &xscale, &yscale);
    _contentScale = xscale > 0.0f ? xscale : 1.0f;
    _coordinateScale = screenCoordinateScale(_contentScale, float(fbW), float(winW));
}

void GLViewImpl::followWindow()
{
    if (!_window) {
        return;
    }
    // Whatever the window showed was drawn for the old size.
    Director::getInstance()->getRenderer()->invalidateFrame();
    int winW = 0, winH = 0;
    glfwGetWindowSize(_window, &winW, &winH);
    if (winW <= 0 || winH <= 0) {
        return; // iconified
    }
    updateScales();
    resizeFrame(Size(float(winW) / screenUnitsPerPoint(), float(winH) / screenUnitsPerPoint()));
}

GLViewImpl::~GLViewImpl()
{
    if (_window) {
        InputTranslator::setClipboardReader(nullptr);
        glfwMakeContextCurrent(_window);
        GL::setContextAlive(false);
        glfwDestroyWindow(_window);
        _window = nullptr;
    }
}

GLViewImpl* GLViewImpl::fromWindow(GLFWwindow* window)
{
    return static_cast<GLViewImpl*>(glfwGetWindowUserPointer(window));
}

Size GLViewImpl::getPrimaryMonitorSize()
{
    if (!initGLFW()) {
        return Size::ZERO;
    }
    Size size;
    if (GLFWmonitor* monitor = glfwGetPrimaryMonitor()) {
        if (const GLFWvidmode* mode = glfwGetVideoMode(monitor)) {
            float xscale = 1.0f;
            float yscale = 1.0f;
            glfwGetMonitorContentScale(monitor, &xscale, &yscale);
            xscale = xscale > 0.0f ? xscale : 1.0f;
            yscale = yscale > 0.0f ? yscale : 1.0f;
            size = Size(std::floor(float(mode->width) / xscale), std::floor(float(mode->height) / yscale));
        }
    }
    return size;
}

void GLViewImpl::end()
{
    _closeRequested = true;
    if (_window) {
        glfwSetWindowShouldClose(_window, GLFW_TRUE);
    }
}

void GLViewImpl::swapBuffers()
{
    if (_window) {
        glfwSwapBuffers(_window);
    }
}

void GLViewImpl::pollEvents()
{
    if (_window) {
        glfwPollEvents();
    }
}

void GLViewImpl::waitEvents(double seconds)
{
    if (!_window) {
        GLView::waitEvents(seconds);
    } else if (seconds > 0.0) {
        glfwWaitEventsTimeout(seconds);
    } else {
        glfwPollEvents();
    }
}

bool GLViewImpl::windowShouldClose()
{
    return !_window || _closeRequested || glfwWindowShouldClose(_window) == GLFW_TRUE;
}

Size GLViewImpl::getFramebufferSize() const
{
    if (!_window) {
        return _screenSize;
    }
    int w = 0;
    int h = 0;
    glfwGetFramebufferSize(_window, &w, &h);
    return Size(float(w), float(h));
}

std::string GLViewImpl::getClipboardString() const
{
    const char* text = _window ? glfwGetClipboardString(_window) : nullptr;
    return text ? std::string(text) : std::string();
}

void GLViewImpl::setClipboardString(const std::string& text)
{
    if (_window) {
        glfwSetClipboardString(_window, text.c_str());
    }
}

// ---------------------------------------------------------------------------------------------
// window callbacks

Vec2 GLViewImpl::cursorToDesign(double x, double y) const
{
    return InputTranslator::windowToDesign(x / screenUnitsPerPoint(), y / screenUnitsPerPoint());
}

void GLViewImpl::onMouseButton(GLFWwindow* window, int button, int action, int mods)
{
    (void)mods;
    GLViewImpl* view = fromWindow(window);
    if (!view || button < 0 || button > 2) {
        return; // the desktop knows left, right and middle only
    }
    const Vec2 location = view->cursorToDesign(view->_cursorX, view->_cursorY);
    if (action == GLFW_PRESS) {
        InputTranslator::mouseDown(button, location);
    } else if (action == GLFW_RELEASE) {
        InputTranslator::mouseUp(button, location);
    }
}

void GLViewImpl::onCursorPos(GLFWwindow* window, double x, double y)
{
    GLViewImpl* view = fromWindow(window);
    if (!view) {
        return;
    }
    view->_cursorX = x;
    view->_cursorY = y;
    InputTranslator::mouseMove(view->cursorToDesign(x, y));
}

void GLViewImpl::onScroll(GLFWwindow* window, double x, double y)
{
    GLViewImpl* view = fromWindow(window);
    if (view) {
        InputTranslator::scroll(view->cursorToDesign(view->_cursorX, view->_cursorY), float(x), float(y));
    }
}

void GLViewImpl::onKey(GLFWwindow* window, int key, int scancode, int action, int mods)
{
    (void)window;
    (void)scancode;
    (void)mods;
    const EventKeyboard::KeyCode code = InputTranslator::keyCodeFromGLFW(key);
    if (code == EventKeyboard::KeyCode::KEY_NONE) {
        return;
    }
    switch (action) {
    case GLFW_PRESS: InputTranslator::key(code, InputTranslator::KeyAction::PRESS); break;
    case GLFW_REPEAT: InputTranslator::key(code, InputTranslator::KeyAction::REPEAT); break;
    case GLFW_RELEASE: InputTranslator::key(code, InputTranslator::KeyAction::RELEASE); break;
    default: break;
    }
}

void GLViewImpl::onChar(GLFWwindow* window, unsigned int codepoint)
{
    (void)window;
    InputTranslator::character(codepoint);
}

void GLViewImpl::onFocus(GLFWwindow* window, int focused)
{
    (void)window;
    if (focused != GLFW_TRUE) {
        InputTranslator::focusLost();
    }
}

void GLViewImpl::onIconify(GLFWwindow* window, int iconified)
{
    (void)window;
    Application* app = Application::getInstance();
    if (!app) {
        return;
    }
    if (iconified == GLFW_TRUE) {
        app->applicationDidEnterBackground();
    } else {
        app->applicationWillEnterForeground();
    }
}

void GLViewImpl::onWindowSize(GLFWwindow* window, int width, int height)
{
    (void)width;
    (void)height;
    if (GLViewImpl* view = fromWindow(window)) {
        view->followWindow();
    }
}

void GLViewImpl::onFramebufferSize(GLFWwindow* window, int width, int height)
{
    (void)width;
    (void)height;
    if (GLViewImpl* view = fromWindow(window)) {
        view->followWindow();
    }
}

void GLViewImpl::onContentScale(GLFWwindow* window, float xscale, float yscale)
{
    (void)xscale;
    (void)yscale;
    if (GLViewImpl* view = fromWindow(window)) {
        view->followWindow();
    }
}

void GLViewImpl::onRefresh(GLFWwindow* window)
{
    if (fromWindow(window)) {
        Director::getInstance()->getRenderer()->invalidateFrame();
    }
}

void GLViewImpl::onDrop(GLFWwindow* window, int count, const char** paths)
{
    (void)window;
    Application* app = Application::getInstance();
    if (!app || !paths) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (paths[i]) {
            app->openDocument(paths[i]);
        }
    }
}

} // namespace cocos2d
