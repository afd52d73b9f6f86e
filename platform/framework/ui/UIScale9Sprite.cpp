#include "ui/UIScale9Sprite.h"

#include <algorithm>

#include "2d/CCSprite.h"
#include "2d/CCSpriteFrame.h"
#include "base/CCConsole.h"
#include "base/CCDirector.h"
#include "renderer/CCTexture2D.h"
#include "renderer/CCTextureCache.h"

namespace cocos2d {
namespace ui {

Scale9Sprite* Scale9Sprite::create(const std::string& file) { return create(Rect::ZERO, file); }

Scale9Sprite* Scale9Sprite::create(const Rect& capInsets, const std::string& file)
{
    Scale9Sprite* sprite = create();
    if (sprite != nullptr)
        sprite->initWithFile(file, capInsets);
    return sprite;
}

Scale9Sprite* Scale9Sprite::createWithSpriteFrame(SpriteFrame* spriteFrame, const Rect& capInsets)
{
    Scale9Sprite* sprite = create();
    if (sprite != nullptr)
        sprite->setSpriteFrame(spriteFrame, capInsets);
    return sprite;
}

Scale9Sprite::~Scale9Sprite() { CC_SAFE_RELEASE(_texture); }

bool Scale9Sprite::init()
{
    if (!ProtectedNode::init())
        return false;
    setAnchorPoint(Vec2(0.5f, 0.5f));
    setCascadeColorEnabled(true);
    setCascadeOpacityEnabled(true);
    return true;
}

bool Scale9Sprite::initWithFile(const std::string& file, const Rect& capInsets)
{
    _capInsets = capInsets;
    Texture2D* texture = file.empty() ? nullptr : Director::getInstance()->getTextureCache()->addImage(file);
    if (texture == nullptr) {
        if (!file.empty())
            log("Scale9Sprite: cannot load image %s", file.c_str());
        setTexture(nullptr);
        return false;
    }
    setTexture(texture);
    return true;
}

bool Scale9Sprite::loadImage(const std::string& file)
{
    if (!file.empty() && initWithFile(file, _capInsets))
        return true;
    setTexture(nullptr);
    return false;
}

void Scale9Sprite::setTexture(Texture2D* texture)
{
    if (texture != _texture) {
        CC_SAFE_RETAIN(texture);
        CC_SAFE_RELEASE(_texture);
        _texture = texture;
    }
    _textureRect = _texture ? Rect(Vec2::ZERO, _texture->getContentSize()) : Rect::ZERO;
    _originalSize = _textureRect.size;
    _slicesDirty = true;
    if (_contentSize.equals(Size::ZERO))
        setContentSize(_originalSize);
}

void Scale9Sprite::setSpriteFrame(SpriteFrame* spriteFrame, const Rect& capInsets)
{
    const Size keep = _contentSize;
    Texture2D* texture = spriteFrame ? spriteFrame->getTexture() : nullptr;
    if (texture != _texture) {
        CC_SAFE_RETAIN(texture);
        CC_SAFE_RELEASE(_texture);
        _texture = texture;
    }
    _textureRect = texture ? spriteFrame->getRect() : Rect::ZERO;
    _originalSize = _textureRect.size;
    _capInsets = capInsets;
    _slicesDirty = true;
    setContentSize(keep.equals(Size::ZERO) ? _originalSize : keep);
}

void Scale9Sprite::setTextureRect(const Rect& rect)
{
    _textureRect = rect;
    _originalSize = rect.size;
    _slicesDirty = true;
}

void Scale9Sprite::setCapInsets(const Rect& capInsets)
{
    _capInsets = capInsets;
    _slicesDirty = true;
}

void Scale9Sprite::setScale9Enabled(bool enabled)
{
    _scale9Enabled = enabled;
    _slicesDirty = true;
}

void Scale9Sprite::setContentSize(const Size& size)
{
    ProtectedNode::setContentSize(size);
    _slicesDirty = true;
}

Rect Scale9Sprite::restrictCapInsets(const Rect& capInsets, const Size& imageSize)
{
    if (capInsets.equals(Rect::ZERO))
        return Rect(imageSize.width / 3.0f, imageSize.height / 3.0f, imageSize.width / 3.0f, imageSize.height / 3.0f);
    const float x = std::clamp(capInsets.origin.x, 0.0f, imageSize.width);
    const float y = std::clamp(capInsets.origin.y, 0.0f, imageSize.height);
    const float w = std::clamp(capInsets.size.width, 0.0f, imageSize.width - x);
    const float h = std::clamp(capInsets.size.height, 0.0f, imageSize.height - y);
    return Rect(x, y, w, h);
}

namespace {

// Splits `extent` of the image into fixed-start, stretch, fixed-end, and the target length into
// the same three parts.
struct Split {
    float source[3];
    float target[3];
};

Split split(float imageExtent, float capStart, float capExtent, float targetExtent)
{
    Split s{};
    s.source[0] = capStart;
    s.source[1] = capExtent;
    s.source[2] = imageExtent - capStart - capExtent;
    const float fixed = s.source[0] + s.source[2];
    if (fixed > targetExtent && fixed > 0.0f) {
        const float k = targetExtent / fixed;
        s.target[0] = s.source[0] * k;
        s.target[1] = 0.0f;
        s.target[2] = s.source[2] * k;
    } else {
        s.target[0] = s.source[0];
        s.target[1] = targetExtent - fixed;
        s.target[2] = s.source[2];
    }
    return s;
}

} // namespace

std::vector<Scale9Sprite::Slice> Scale9Sprite::computeSlices(const Rect& source, const Rect& capInsets,
                                                             const Size& contentSize, bool scale9)
{
    std::vector<Slice> out;
    if (source.size.width <= 0.0f || source.size.height <= 0.0f || contentSize.width <= 0.0f ||
        contentSize.height <= 0.0f)
        return out;
    if (!scale9) {
        out.push_back({source, Rect(0.0f, 0.0f, contentSize.width, contentSize.height)});
        return out;
    }
    const Rect caps = restrictCapInsets(capInsets, source.size);
    const Split cols = split(source.size.width, caps.origin.x, caps.size.width, contentSize.width);
    const Split rows = split(source.size.height, caps.origin.y, caps.size.height, contentSize.height);
    // Image rows run top-down, node rows bottom-up: image row 0 is the top of the node.
    float sourceY = source.origin.y;
    float targetTop = contentSize.height;
    for (int r = 0; r < 3; ++r) {
        float sourceX = source.origin.x;
        float targetX = 0.0f;
        const float targetY = targetTop - rows.target[r];
        for (int c = 0; c < 3; ++c) {
            if (cols.source[c] > 0.0f && rows.source[r] > 0.0f && cols.target[c] > 0.0f && rows.target[r] > 0.0f) {
                out.push_back({Rect(sourceX, sourceY, cols.source[c], rows.source[r]),
                               Rect(targetX, targetY, cols.target[c], rows.target[r])});
            }
            sourceX += cols.source[c];
            targetX += cols.target[c];
        }
        sourceY += rows.source[r];
        targetTop = targetY;
    }
    return out;
}

void Scale9Sprite::updateSlices()
{
    if (!_slicesDirty)
        return;
    _slicesDirty = false;
    const std::vector<Slice> slices =
        _texture ? computeSlices(_textureRect, _capInsets, _contentSize, _scale9Enabled) : std::vector<Slice>();
    while (_pieces.size() > slices.size()) {
        removeProtectedChild(_pieces.back(), true);
        _pieces.pop_back();
    }
    for (size_t i = 0; i < slices.size(); ++i) {
        if (i == _pieces.size()) {
            Sprite* piece = Sprite::createWithTexture(_texture, slices[i].source);
            if (piece == nullptr)
                break;
            piece->setAnchorPoint(Vec2::ZERO);
            addProtectedChild(piece, 0, -1);
            _pieces.push_back(piece);
        }
        Sprite* piece = _pieces[i];
        if (piece->getTexture() != _texture)
            piece->setTexture(_texture);
        piece->setTextureRect(slices[i].source);
        piece->setPosition(slices[i].target.origin);
        piece->setScale(slices[i].target.size.width / slices[i].source.size.width,
                        slices[i].target.size.height / slices[i].source.size.height);
    }
}

void Scale9Sprite::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    if (!_visible)
        return;
    updateSlices();
    ProtectedNode::visit(renderer, parentTransform, parentFlags);
}

} // namespace ui
} // namespace cocos2d
