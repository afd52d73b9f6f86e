#include "node/CCLayerColor.h"

#include <new>

#include "base/CCDirector.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCRenderer.h"

namespace cocos2d {

LayerColor* LayerColor::create(const Color4B& color)
{
    LayerColor* l = new (std::nothrow) LayerColor();
    return autoreleaseIfInitialised(l, l && l->initWithColor(color));
}

LayerColor* LayerColor::create(const Color4B& color, float width, float height)
{
    LayerColor* l = new (std::nothrow) LayerColor();
    return autoreleaseIfInitialised(l, l && l->initWithColor(color, width, height));
}

bool LayerColor::init()
{
    return initWithColor(Color4B(0, 0, 0, 0));
}

bool LayerColor::initWithColor(const Color4B& color)
{
    const Size win = Director::getInstance()->getWinSize();
    return initWithColor(color, win.width, win.height);
}

bool LayerColor::initWithColor(const Color4B& color, float width, float height)
{
    if (!Layer::init()) {
        return false;
    }
    _realColor = _displayedColor = Color3B(color.r, color.g, color.b);
    _realOpacity = _displayedOpacity = color.a;
    setContentSize(Size(width, height));
    updateColor();
    return true;
}

void LayerColor::setContentSize(const Size& size)
{
    _squareVertices[0] = Vec2(0.0f, 0.0f);
    _squareVertices[1] = Vec2(size.width, 0.0f);
    _squareVertices[2] = Vec2(0.0f, size.height);
    _squareVertices[3] = Vec2(size.width, size.height);
    Layer::setContentSize(size);
}

void LayerColor::updateColor()
{
    const Color4F c(_displayedColor.r / 255.0f, _displayedColor.g / 255.0f, _displayedColor.b / 255.0f,
                    _displayedOpacity / 255.0f);
    for (Color4F& v : _squareColors) {
        v = c;
    }
}

void LayerColor::draw(Renderer* renderer, const Mat4& transform, uint32_t flags)
{
    if (!_glProgramState) {
        setGLProgramState(GLProgramState::getOrCreateWithGLProgramName(GLProgram::SHADER_NAME_POSITION_COLOR_NO_MVP));
    }
    // Node-space square (bottom-left, bottom-right, top-left, top-right), straight colours for the
    // non-premultiplied blend.
    for (int i = 0; i < 4; ++i) {
        _drawVerts[i].vertices.set(_squareVertices[i].x, _squareVertices[i].y, 0.0f);
        const Color4F& c = _squareColors[i];
        // Rounded: the colours came from bytes, and truncation would lose one step.
        _drawVerts[i].colors = Color4B(GLubyte(c.r * 255.0f + 0.5f), GLubyte(c.g * 255.0f + 0.5f),
                                       GLubyte(c.b * 255.0f + 0.5f), GLubyte(c.a * 255.0f + 0.5f));
    }
    TrianglesCommand::Triangles triangles;
    triangles.verts = _drawVerts;
    triangles.vertCount = 4;
    triangles.indices = _drawIndices;
    triangles.indexCount = 6;
    _drawCommand.init(_globalZOrder, 0u, _glProgramState, _blendFunc, triangles, transform, flags);
    _drawCommand.setOwner(this);
    renderer->addCommand(&_drawCommand);
}

} // namespace cocos2d
