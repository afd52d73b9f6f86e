#include "2d/CCSprite.h"

#include <new>

#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "renderer/CCCamera.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCRenderer.h"
#include "renderer/CCTexture2D.h"
#include "renderer/CCTextureCache.h"

namespace cocos2d {

#define QV_CREATE_SPRITE(INIT_CALL)                                                                \
    Sprite* sprite = new (std::nothrow) Sprite();                                                  \
    if (sprite && sprite->INIT_CALL) {                                                             \
        sprite->autorelease();                                                                     \
        return sprite;                                                                             \
    }                                                                                              \
    delete sprite;                                                                                 \
    return nullptr

Sprite::Sprite()
{
    _polyInfo.triangles.verts = reinterpret_cast<V3F_C4B_T2F*>(&_quad);
    _polyInfo.triangles.vertCount = 4;
    _polyInfo.triangles.indices = _quadIndices;
    _polyInfo.triangles.indexCount = 6;
}

Sprite::~Sprite()
{
    CC_SAFE_RELEASE(_texture);
}

Sprite* Sprite::create()
{
    QV_CREATE_SPRITE(init());
}

Sprite* Sprite::create(const std::string& filename)
{
    QV_CREATE_SPRITE(initWithFile(filename));
}

Sprite* Sprite::create(const std::string& filename, const Rect& rect)
{
    QV_CREATE_SPRITE(initWithFile(filename, rect));
}

Sprite* Sprite::createWithTexture(Texture2D* texture)
{
    QV_CREATE_SPRITE(initWithTexture(texture));
}

Sprite* Sprite::createWithTexture(Texture2D* texture, const Rect& rect, bool rotated)
{
    (void)rotated;
    QV_CREATE_SPRITE(initWithTexture(texture, rect));
}

Sprite* Sprite::createWithSpriteFrame(SpriteFrame* spriteFrame)
{
    QV_CREATE_SPRITE(initWithSpriteFrame(spriteFrame));
}

bool Sprite::init()
{
    if (!Node::init()) {
        return false;
    }
    setAnchorPoint(Vec2(0.5f, 0.5f));
    setGLProgramState(GLProgramState::getOrCreateWithGLProgramName(GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP));
    _rect = Rect::ZERO;
    updateVertices();
    updateColor();
    return true;
}

bool Sprite::initWithFile(const std::string& filename)
{
    Texture2D* texture = filename.empty() ? nullptr : Director::getInstance()->getTextureCache()->addImage(filename);
    if (!texture) {
        log("Sprite: cannot load %s", filename.c_str());
        return false;
    }
    return initWithTexture(texture);
}

bool Sprite::initWithFile(const std::string& filename, const Rect& rect)
{
    Texture2D* texture = filename.empty() ? nullptr : Director::getInstance()->getTextureCache()->addImage(filename);
    if (!texture) {
        log("Sprite: cannot load %s", filename.c_str());
        return false;
    }
    return initWithTexture(texture, rect);
}

bool Sprite::initWithTexture(Texture2D* texture)
{
    if (!texture) {
        return false;
    }
    return initWithTexture(texture, Rect(Vec2::ZERO, texture->getContentSize()));
}

bool Sprite::initWithTexture(Texture2D* texture, const Rect& rect)
{
    if (!init()) {
        return false;
    }
    setTexture(texture);
    setTextureRect(rect);
    return true;
}

bool Sprite::initWithSpriteFrame(SpriteFrame* spriteFrame)
{
    if (!spriteFrame) {
        return false;
    }
    return initWithTexture(spriteFrame->getTexture(), spriteFrame->getRect());
}

void Sprite::setTexture(const std::string& filename)
{
    Texture2D* texture = filename.empty() ? nullptr : Director::getInstance()->getTextureCache()->addImage(filename);
    if (!texture) {
        log("Sprite: cannot load %s", filename.c_str());
    }
    setTexture(texture);
    if (texture) {
        setTextureRect(Rect(Vec2::ZERO, texture->getContentSize()));
    }
}

void Sprite::setTexture(Texture2D* texture)
{
    if (texture == _texture) {
        return;
    }
    const bool hadTexture = _texture != nullptr;
    CC_SAFE_RETAIN(texture);
    CC_SAFE_RELEASE(_texture);
    _texture = texture;
    updateBlendFunc();
    updateColor();
    if (_texture && (!hadTexture || _rect.size.width <= 0.0f || _rect.size.height <= 0.0f)) {
        setTextureRect(Rect(Vec2::ZERO, _texture->getContentSize()));
    } else {
        updateTexCoords();
    }
}

void Sprite::setTextureRect(const Rect& rect)
{
    setTextureRect(rect, false, rect.size);
}

void Sprite::setTextureRect(const Rect& rect, bool rotated, const Size& untrimmedSize)
{
    (void)rotated;
    _rect = rect;
    setContentSize(untrimmedSize);
    updateVertices();
    updateTexCoords();
}

void Sprite::setSpriteFrame(SpriteFrame* spriteFrame)
{
    if (!spriteFrame) {
        return;
    }
    setTexture(spriteFrame->getTexture());
    setTextureRect(spriteFrame->getRect());
}

void Sprite::setFlippedX(bool flippedX)
{
    if (_flippedX != flippedX) {
        _flippedX = flippedX;
        updateTexCoords();
    }
}

void Sprite::setFlippedY(bool flippedY)
{
    if (_flippedY != flippedY) {
        _flippedY = flippedY;
        updateTexCoords();
    }
}

void Sprite::updateBlendFunc()
{
    if (_blendFuncSet) {
        return;
    }
    _blendFunc = (!_texture || _texture->hasPremultipliedAlpha()) ? BlendFunc::ALPHA_PREMULTIPLIED
                                                                  : BlendFunc::ALPHA_NON_PREMULTIPLIED;
}

void Sprite::updateVertices()
{
    // Node space: the quad covers the texture rectangle's size from the bottom-left corner.
    const float w = _rect.size.width;
    const float h = _rect.size.height;
    _quad.bl.vertices.set(0.0f, 0.0f, 0.0f);
    _quad.br.vertices.set(w, 0.0f, 0.0f);
    _quad.tl.vertices.set(0.0f, h, 0.0f);
    _quad.tr.vertices.set(w, h, 0.0f);
    _polyInfo.rect = _rect;
    _insideBoundsKnown = false;
}

void Sprite::updateTexCoords()
{
    if (!_texture || _texture->getPixelsWide() <= 0 || _texture->getPixelsHigh() <= 0) {
        return;
    }
    // Texture space: v = 0 is the image's first (top) row.
    const float tw = float(_texture->getPixelsWide());
    const float th = float(_texture->getPixelsHigh());
    float left = _rect.origin.x / tw;
    float right = (_rect.origin.x + _rect.size.width) / tw;
    float top = _rect.origin.y / th;
    float bottom = (_rect.origin.y + _rect.size.height) / th;
    if (_flippedX) {
        std::swap(left, right);
    }
    if (_flippedY) {
        std::swap(top, bottom);
    }
    _quad.bl.texCoords = Tex2F(left, bottom);
    _quad.br.texCoords = Tex2F(right, bottom);
    _quad.tl.texCoords = Tex2F(left, top);
    _quad.tr.texCoords = Tex2F(right, top);
}

void Sprite::updateColor()
{
    const GLubyte opacity = _displayedOpacity;
    Color4B color(_displayedColor, opacity);
    if (!_texture || _texture->hasPremultipliedAlpha()) {
        color.r = static_cast<GLubyte>(color.r * opacity / 255);
        color.g = static_cast<GLubyte>(color.g * opacity / 255);
        color.b = static_cast<GLubyte>(color.b * opacity / 255);
    }
    _quad.bl.colors = color;
    _quad.br.colors = color;
    _quad.tl.colors = color;
    _quad.tr.colors = color;
}

void Sprite::draw(Renderer* renderer, const Mat4& transform, uint32_t flags)
{
    if (!_texture || _rect.size.width <= 0.0f || _rect.size.height <= 0.0f || !_glProgramState) {
        return;
    }
    const Camera* visiting = Camera::getVisitingCamera();
    const bool defaultCamera = visiting != nullptr && visiting == Camera::getDefaultCamera();
    if (!defaultCamera || !_insideBoundsKnown || (flags & FLAGS_DIRTY_MASK) != 0) {
        _insideBounds = renderer->checkVisibility(transform, _contentSize);
        _insideBoundsKnown = defaultCamera;
    }
    if (!_insideBounds) {
        return;
    }
    const bool is3D = isDepthTestEnabled();
    if (is3D) {
        beginScissor();
    }
    _trianglesCommand.init(_globalZOrder, _texture, _glProgramState, _blendFunc, _polyInfo.triangles, transform,
                           flags);
    _trianglesCommand.set3D(is3D);
    _trianglesCommand.setOwner(this);
    renderer->addCommand(&_trianglesCommand);
    if (is3D) {
        endScissor();
    }
}

} // namespace cocos2d
