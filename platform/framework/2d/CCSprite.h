// Sprite: a textured quad.
//
// The quad covers the texture rectangle (texture pixels, origin top-left of the image) and the
// node's content size is the rectangle's size. The vertex colour is the displayed colour and
// opacity, premultiplied when the texture is; the blend function follows (ALPHA_PREMULTIPLIED or
// ALPHA_NON_PREMULTIPLIED) until set explicitly.
//
// draw: a culling test against the default camera (cached while that camera visits an unchanged
// transform), then one TrianglesCommand for the quad with the node's program state
// (POSITION_TEXTURE_COLOR_NO_MVP by default). With the clipping protocol's depth test on, the
// command is 3D and wrapped in the protocol's scissor pair. A sprite without texture draws
// nothing.
//
// Subclasses that draw themselves reuse _trianglesCommand, _polyInfo (the quad's triangles),
// _quad, _insideBounds, _blendFunc and _texture.
#pragma once

#include <string>

#include "2d/CCSpriteFrame.h"
#include "base/ccTypes.h"
#include "node/CCNode.h"
#include "renderer/CCClippingProtocol.h"
#include "renderer/CCTrianglesCommand.h"

namespace cocos2d {

class Texture2D;

// The triangles a sprite draws, and the texture rectangle they came from.
struct PolygonInfo {
    TrianglesCommand::Triangles triangles;
    Rect rect;
};

class Sprite : public Node, public ClippingProtocol {
public:
    // An empty sprite (no texture, draws nothing).
    static Sprite* create();
    // The texture through the texture cache; null (logged) when the file cannot be loaded.
    static Sprite* create(const std::string& filename);
    static Sprite* create(const std::string& filename, const Rect& rect);
    static Sprite* createWithTexture(Texture2D* texture);
    static Sprite* createWithTexture(Texture2D* texture, const Rect& rect, bool rotated = false);
    static Sprite* createWithSpriteFrame(SpriteFrame* spriteFrame);

    bool init() override;
    virtual bool initWithFile(const std::string& filename);
    virtual bool initWithFile(const std::string& filename, const Rect& rect);
    virtual bool initWithTexture(Texture2D* texture);
    virtual bool initWithTexture(Texture2D* texture, const Rect& rect);
    virtual bool initWithSpriteFrame(SpriteFrame* spriteFrame);

    // Loads through the texture cache and uses the whole texture; a missing file leaves the
    // sprite without texture.
    virtual void setTexture(const std::string& filename);
    // Keeps the current texture rectangle unless the sprite had no texture (then: the whole
    // texture).
    virtual void setTexture(Texture2D* texture);
    Texture2D* getTexture() const { return _texture; }
    // Sets the rectangle and the content size to its size.
    virtual void setTextureRect(const Rect& rect);
    virtual void setTextureRect(const Rect& rect, bool rotated, const Size& untrimmedSize);
    const Rect& getTextureRect() const { return _rect; }
    virtual void setSpriteFrame(SpriteFrame* spriteFrame);

    void setFlippedX(bool flippedX);
    void setFlippedY(bool flippedY);
    bool isFlippedX() const { return _flippedX; }
    bool isFlippedY() const { return _flippedY; }
    void setFlipX(bool flipX) { setFlippedX(flipX); }
    void setFlipY(bool flipY) { setFlippedY(flipY); }

    void setBlendFunc(const BlendFunc& blendFunc) { _blendFunc = blendFunc; _blendFuncSet = true; }
    const BlendFunc& getBlendFunc() const { return _blendFunc; }

    const V3F_C4B_T2F_Quad& getQuad() const { return _quad; }
    const PolygonInfo& getPolygonInfo() const { return _polyInfo; }

    void draw(Renderer* renderer, const Mat4& transform, uint32_t flags) override;

protected:
    Sprite();
    ~Sprite() override;

    void updateColor() override;
    void updateTexCoords();
    void updateVertices();
    void updateBlendFunc();

    Texture2D* _texture = nullptr; // retained
    Rect _rect;
    bool _flippedX = false;
    bool _flippedY = false;
    BlendFunc _blendFunc = BlendFunc::ALPHA_PREMULTIPLIED;
    bool _blendFuncSet = false;

    V3F_C4B_T2F_Quad _quad;
    unsigned short _quadIndices[6] = {0, 1, 2, 3, 2, 1};
    PolygonInfo _polyInfo;
    TrianglesCommand _trianglesCommand;
    bool _insideBounds = true;
    bool _insideBoundsKnown = false;
};

} // namespace cocos2d
