// SpriteFrame: a rectangle of a texture (texture pixels, origin top-left of the image).
#pragma once

#include <string>

#include "base/CCRef.h"
#include "math/CCGeometry.h"

namespace cocos2d {

class Texture2D;

class SpriteFrame : public Ref {
public:
    // The texture comes from the texture cache; null when it cannot be loaded.
    static SpriteFrame* create(const std::string& filename, const Rect& rect);
    static SpriteFrame* createWithTexture(Texture2D* texture, const Rect& rect);

    Texture2D* getTexture() const { return _texture; }
    void setTexture(Texture2D* texture);
    const Rect& getRect() const { return _rect; }
    void setRect(const Rect& rect) { _rect = rect; }
    bool isRotated() const { return false; }
    const Vec2& getOffset() const { return _offset; }
    const Size& getOriginalSize() const { return _originalSize; }

protected:
    SpriteFrame() = default;
    ~SpriteFrame() override;
    bool initWithTexture(Texture2D* texture, const Rect& rect);

    Texture2D* _texture = nullptr; // retained
    Rect _rect;
    Vec2 _offset;
    Size _originalSize;
};

} // namespace cocos2d
