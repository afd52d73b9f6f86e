#include "renderer/CCRenderTexture.h"

#include <new>
#include <vector>

#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "platform/CCFileUtils.h"
#include "renderer/CCCamera.h"
#include "renderer/CCImage.h"
#include "renderer/CCRenderer.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

RenderTexture* RenderTexture::create(int width, int height)
{
    auto* rt = new (std::nothrow) RenderTexture();
    if (rt && rt->initWithWidthAndHeight(width, height)) {
        rt->autorelease();
        return rt;
    }
    delete rt;
    return nullptr;
}

RenderTexture::~RenderTexture()
{
    if (_open) {
        Camera::setVisitingCamera(_previousCamera);
    }
    releaseTarget();
    CC_SAFE_RELEASE(_sprite);
    CC_SAFE_RELEASE(_texture);
    CC_SAFE_RELEASE(_camera);
}

void RenderTexture::releaseTarget()
{
    if (GL::isContextAlive() && _generation == GL::getContextGeneration() && PoolManager::isMainThread()) {
        if (_framebuffer != 0) {
            glDeleteFramebuffers(1, &_framebuffer);
        }
        if (_depthStencil != 0) {
            glDeleteRenderbuffers(1, &_depthStencil);
        }
    }
    _framebuffer = 0;
    _depthStencil = 0;
}

bool RenderTexture::initWithWidthAndHeight(int width, int height)
{
    if (!Node::init() || width <= 0 || height <= 0) {
        return false;
    }
    _width = width;
    _height = height;
    std::vector<unsigned char> zeros(size_t(width) * size_t(height) * 4, 0);
    _texture = new (std::nothrow) Texture2D();
    if (!_texture || !_texture->initWithData(zeros.data(), ssize_t(zeros.size()), Texture2D::PixelFormat::RGBA8888,
                                             width, height, Size(float(width), float(height)))) {
        return false;
    }
    // Drawn with premultiplied blending, so the texels are premultiplied.
    _texture->setPremultipliedAlpha(true);

    if (GL::isEnabled()) {
        if (!glGenFramebuffers || !glBindFramebuffer || !glFramebufferTexture2D || !glGenRenderbuffers) {
            log("RenderTexture: the driver has no framebuffer objects");
            return false;
        }
        GLint previous = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
        glGenFramebuffers(1, &_framebuffer);
        _generation = GL::getContextGeneration();
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, _texture->getName(), 0);
        glGenRenderbuffers(1, &_depthStencil);
        glBindRenderbuffer(GL_RENDERBUFFER, _depthStencil);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, _depthStencil);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, _depthStencil);
        const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
        if (status != GL_FRAMEBUFFER_COMPLETE) {
            log("RenderTexture: incomplete framebuffer (0x%04x) for %d x %d", status, width, height);
            releaseTarget();
            return false;
        }
    }

    // The target's own view: one unit one texel, (0, 0) at the bottom-left, looking down -z.
    _camera = Camera::createOrthographic(float(width), float(height), -1024.0f, 1024.0f);
    if (!_camera) {
        return false;
    }
    _camera->retain();
    _sprite = Sprite::createWithTexture(_texture);
    if (!_sprite) {
        return false;
    }
    _sprite->retain();
    _sprite->setAnchorPoint(Vec2::ZERO);
    // Framebuffer rows run bottom-up; sprites take texture row 0 as the top.
    _sprite->setFlippedY(true);
    setContentSize(Size(float(width), float(height)));
    return true;
}

void RenderTexture::begin()
{
    if (_open) {
        return;
    }
    _open = true;
    _clearRequested = false;
    _mark = Director::getInstance()->getRenderer()->markCommands();
    // Visits in between see the target's camera: no culling against the window, default masks.
    _previousCamera = Camera::getVisitingCamera();
    Camera::setVisitingCamera(_camera);
}

void RenderTexture::beginWithClear(float r, float g, float b, float a)
{
    begin();
    _clearRequested = true;
    _clearColor = Color4F(r, g, b, a);
}

void RenderTexture::end()
{
    if (!_open) {
        return;
    }
    _open = false;
    Renderer* renderer = Director::getInstance()->getRenderer();
    const bool gl = GL::isEnabled() && _framebuffer != 0 && _generation == GL::getContextGeneration();
    GLint previousFramebuffer = 0;
    GLint viewport[4] = {0, 0, 0, 0};
    GLboolean scissor = GL_FALSE;
    GLfloat clear[4] = {0, 0, 0, 0};
    if (gl) {
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        scissor = glIsEnabled(GL_SCISSOR_TEST);
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer);
        glViewport(0, 0, _width, _height);
        glDisable(GL_SCISSOR_TEST);
        if (_clearRequested) {
            glClearColor(_clearColor.r, _clearColor.g, _clearColor.b, _clearColor.a);
            glDepthMask(GL_TRUE);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        }
    }
    renderer->renderFrom(_mark);
    if (gl) {
        _texture->markContentChanged();
    }
    Camera::setVisitingCamera(_previousCamera);
    _previousCamera = nullptr;
    if (gl) {
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previousFramebuffer));
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glClearColor(clear[0], clear[1], clear[2], clear[3]);
        if (scissor) {
            glEnable(GL_SCISSOR_TEST);
        }
    }
}

Image* RenderTexture::newImage()
{
    if (!GL::isEnabled() || _framebuffer == 0 || _generation != GL::getContextGeneration()) {
        return nullptr;
    }
    std::vector<unsigned char> rgba(size_t(_width) * size_t(_height) * 4);
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, _width, _height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
    // Rows bottom-up in GL, top-down in images.
    std::vector<unsigned char> flipped(rgba.size());
    const size_t row = size_t(_width) * 4;
    for (int y = 0; y < _height; ++y) {
        std::copy(rgba.begin() + std::ptrdiff_t(size_t(_height - 1 - y) * row),
                  rgba.begin() + std::ptrdiff_t(size_t(_height - y) * row), flipped.begin() + std::ptrdiff_t(size_t(y) * row));
    }
    auto* image = new (std::nothrow) Image();
    if (image && !image->initWithRawData(flipped.data(), ssize_t(flipped.size()), _width, _height, 8, true)) {
        image->release();
        image = nullptr;
    }
    return image;
}

bool RenderTexture::saveToFile(const std::string& fileName, bool isRGBA)
{
    Image* image = newImage();
    if (!image) {
        return false;
    }
    const std::string path =
        (!fileName.empty() && fileName[0] == '/') ? fileName : FileUtils::getInstance()->getWritablePath() + fileName;
    const bool ok = image->saveToFile(path, !isRGBA);
    image->release();
    return ok;
}

void RenderTexture::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    if (!_visible) {
        return;
    }
    Node::visit(renderer, parentTransform, parentFlags);
    if (isVisitableByVisitingCamera()) {
        _sprite->setOpacity(getDisplayedOpacity());
        _sprite->draw(renderer, _modelViewTransform, parentFlags);
    }
}

} // namespace cocos2d
