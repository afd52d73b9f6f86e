// LayerColor: a layer filled with one colour.
//
// The fill is the content rectangle in the displayed colour and opacity. getSquareVertices and
// getSquareColors give the quad the drawing uses (node space; bottom-left, bottom-right,
// top-left, top-right).
#pragma once

#include "base/ccTypes.h"
#include "node/CCLayer.h"
#include "renderer/CCTrianglesCommand.h"

namespace cocos2d {

class LayerColor : public Layer {
public:
    CREATE_FUNC(LayerColor)
    static LayerColor* create(const Color4B& color);
    static LayerColor* create(const Color4B& color, float width, float height);

    bool init() override;
    // The window size when no size is given.
    virtual bool initWithColor(const Color4B& color);
    virtual bool initWithColor(const Color4B& color, float width, float height);

    void setContentSize(const Size& size) override;

    const BlendFunc& getBlendFunc() const { return _blendFunc; }
    void setBlendFunc(const BlendFunc& blendFunc) { _blendFunc = blendFunc; }

    const Vec2* getSquareVertices() const { return _squareVertices; }
    // Displayed colour and opacity, channels 0..1, one per vertex.
    const Color4F* getSquareColors() const { return _squareColors; }

    // One untextured triangles command for the quad (2D; batches with other layers).
    void draw(Renderer* renderer, const Mat4& transform, uint32_t flags) override;

protected:
    LayerColor() = default;

    void updateColor() override;

    Vec2 _squareVertices[4];
    Color4F _squareColors[4];
    BlendFunc _blendFunc = BlendFunc::ALPHA_NON_PREMULTIPLIED;

    // What draw hands to the renderer, rebuilt from the square at each draw.
    V3F_C4B_T2F _drawVerts[4];
    unsigned short _drawIndices[6] = {0, 1, 2, 3, 2, 1};
    TrianglesCommand _drawCommand;
};

} // namespace cocos2d
