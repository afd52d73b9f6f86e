#include "platform/CCGLView.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <thread>

#include "base/CCDirector.h"
#include "event/CCEventDispatcher.h"

namespace cocos2d {

GLContextAttrs GLView::_glContextAttrs = {8, 8, 8, 8, 24, 8};
const char* const GLView::EVENT_WINDOW_RESIZED = "glview_window_resized";

GLView::GLView() = default;
GLView::~GLView() = default;

void GLView::waitEvents(double seconds)
{
    pollEvents();
    if (seconds > 0.0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

void GLView::setGLContextAttrs(GLContextAttrs& attrs)
{
    _glContextAttrs = attrs;
}

GLContextAttrs GLView::getGLContextAttrs()
{
    return _glContextAttrs;
}

void GLView::setFrameSize(float width, float height)
{
    _screenSize = Size(width, height);
    if (_designResolutionSize.width == 0.0f || _designResolutionSize.height == 0.0f) {
        _designResolutionSize = _screenSize;
    }
    if (_resolutionPolicy != ResolutionPolicy::UNKNOWN) {
        updateDesignResolutionSize();
    } else {
        _viewPortRect = Rect(0, 0, width, height);
    }
}

void GLView::resizeFrame(const Size& frameSize)
{
    if (frameSize.width < 1.0f || frameSize.height < 1.0f || frameSize.equals(_screenSize)) {
        return;
    }
    const bool designIsFrame = _resolutionPolicy != ResolutionPolicy::UNKNOWN && _scaleX == 1.0f &&
                               _scaleY == 1.0f &&
                               std::fabs(_designResolutionSize.width - _screenSize.width) < 1.0f &&
                               std::fabs(_designResolutionSize.height - _screenSize.height) < 1.0f;
    if (designIsFrame) {
        _screenSize = frameSize;
        setDesignResolutionSize(frameSize.width, frameSize.height, _resolutionPolicy);
    } else {
        setFrameSize(frameSize.width, frameSize.height);
    }
    Director* director = Director::getInstance();
    if (director->getOpenGLView() == this) {
        director->winSizeChanged();
        director->getEventDispatcher()->dispatchCustomEvent(EVENT_WINDOW_RESIZED);
    }
}

void GLView::setDesignResolutionSize(float width, float height, ResolutionPolicy policy)
{
    if (width <= 0.0f || height <= 0.0f || policy == ResolutionPolicy::UNKNOWN) {
        return;
    }
    _designResolutionSize = Size(width, height);
    _resolutionPolicy = policy;
    updateDesignResolutionSize();
}

void GLView::updateDesignResolutionSize()
{
    if (_screenSize.width <= 0.0f || _screenSize.height <= 0.0f || _designResolutionSize.width <= 0.0f ||
        _designResolutionSize.height <= 0.0f) {
        return;
    }
    _scaleX = _screenSize.width / _designResolutionSize.width;
    _scaleY = _screenSize.height / _designResolutionSize.height;
    switch (_resolutionPolicy) {
    case ResolutionPolicy::NO_BORDER: _scaleX = _scaleY = std::max(_scaleX, _scaleY); break;
    case ResolutionPolicy::SHOW_ALL: _scaleX = _scaleY = std::min(_scaleX, _scaleY); break;
    case ResolutionPolicy::FIXED_HEIGHT:
        _scaleX = _scaleY;
        _designResolutionSize.width = std::ceil(_screenSize.width / _scaleX);
        break;
    case ResolutionPolicy::FIXED_WIDTH:
        _scaleY = _scaleX;
        _designResolutionSize.height = std::ceil(_screenSize.height / _scaleY);
        break;
    default: break;
    }
    const float vpW = _designResolutionSize.width * _scaleX;
    const float vpH = _designResolutionSize.height * _scaleY;
    _viewPortRect = Rect((_screenSize.width - vpW) / 2, (_screenSize.height - vpH) / 2, vpW, vpH);
}

Size GLView::getVisibleSize() const
{
    if (_resolutionPolicy == ResolutionPolicy::NO_BORDER) {
        return Size(_screenSize.width / _scaleX, _screenSize.height / _scaleY);
    }
    return _designResolutionSize;
}

Vec2 GLView::getVisibleOrigin() const
{
    if (_resolutionPolicy == ResolutionPolicy::NO_BORDER) {
        const Size visible = getVisibleSize();
        return Vec2((_designResolutionSize.width - visible.width) / 2,
                    (_designResolutionSize.height - visible.height) / 2);
    }
    return Vec2::ZERO;
}

GLViewHeadless* GLViewHeadless::create(const Size& frameSize)
{
    GLViewHeadless* view = new (std::nothrow) GLViewHeadless();
    if (!view) {
        return nullptr;
    }
    view->setViewName("headless");
    view->setFrameSize(frameSize.width, frameSize.height);
    view->autorelease();
    return view;
}

} // namespace cocos2d
