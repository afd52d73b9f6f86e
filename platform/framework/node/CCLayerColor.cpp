#include "node/CCLayerColor.h"

#include <new>

#include "base/CCDirector.h"

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

} // namespace cocos2d
