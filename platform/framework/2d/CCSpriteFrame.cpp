#include "2d/CCSpriteFrame.h"

#include <new>

#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "renderer/CCTexture2D.h"
#include "renderer/CCTextureCache.h"

namespace cocos2d {

SpriteFrame* SpriteFrame::create(const std::string& filename, const Rect& rect)
{
    return createWithTexture(Director::getInstance()->getTextureCache()->addImage(filename), rect);
}

SpriteFrame* SpriteFrame::createWithTexture(Texture2D* texture, const Rect& rect)
{
    if (!texture) {
        return nullptr;
    }
    SpriteFrame* frame = new (std::nothrow) SpriteFrame();
    if (frame && frame->initWithTexture(texture, rect)) {
        frame->autorelease();
        return frame;
    }
    delete frame;
    return nullptr;
}

SpriteFrame::~SpriteFrame()
{
    CC_SAFE_RELEASE(_texture);
}

bool SpriteFrame::initWithTexture(Texture2D* texture, const Rect& rect)
{
    setTexture(texture);
    _rect = rect;
    _originalSize = rect.size;
    return true;
}

void SpriteFrame::setTexture(Texture2D* texture)
{
    if (texture != _texture) {
        CC_SAFE_RETAIN(texture);
        CC_SAFE_RELEASE(_texture);
        _texture = texture;
    }
}

} // namespace cocos2d
