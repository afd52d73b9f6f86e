#include "ui/UIImageView.h"

#include "ui/UIScale9Sprite.h"

namespace cocos2d {
namespace ui {

namespace {
constexpr int kImageRendererZ = -1;
}

ImageView* ImageView::create(const std::string& imageFileName, TextureResType texType)
{
    ImageView* view = create();
    if (view != nullptr)
        view->loadTexture(imageFileName, texType);
    return view;
}

bool ImageView::init() { return Widget::init(); }

void ImageView::initRenderer()
{
    _imageRenderer = Scale9Sprite::create();
    _imageRenderer->setScale9Enabled(false);
    addProtectedChild(_imageRenderer, kImageRendererZ, -1);
}

void ImageView::loadTexture(const std::string& fileName, TextureResType /*texType*/)
{
    _textureFile = fileName;
    _textureLoaded = _imageRenderer->loadImage(fileName);
    _imageTextureSize = _imageRenderer->getOriginalSize();
    updateContentSizeWithTextureSize(_imageTextureSize);
    layoutRenderer();
}

void ImageView::setTextureRect(const Rect& rect)
{
    if (!_textureLoaded)
        return;
    _imageRenderer->setTextureRect(rect);
    _imageTextureSize = _imageRenderer->getOriginalSize();
    updateContentSizeWithTextureSize(_imageTextureSize);
    layoutRenderer();
}

void ImageView::setScale9Enabled(bool enabled)
{
    _scale9Enabled = enabled;
    _imageRenderer->setScale9Enabled(enabled);
    if (enabled && _ignoreSize)
        ignoreContentAdaptWithSize(false);
    layoutRenderer();
}

void ImageView::setCapInsets(const Rect& capInsets)
{
    _capInsets = capInsets;
    _imageRenderer->setCapInsets(capInsets);
}

void ImageView::onSizeChanged()
{
    Widget::onSizeChanged();
    layoutRenderer();
}

void ImageView::layoutRenderer()
{
    if (_imageRenderer == nullptr)
        return;
    _imageRenderer->setContentSize(_contentSize);
    _imageRenderer->setAnchorPoint(Vec2(0.5f, 0.5f));
    _imageRenderer->setPosition(Vec2(_contentSize.width * 0.5f, _contentSize.height * 0.5f));
}

Node* ImageView::getVirtualRenderer() { return _imageRenderer; }

Widget* ImageView::createCloneInstance() { return ImageView::create(); }

void ImageView::copySpecialProperties(Widget* model)
{
    auto* view = dynamic_cast<ImageView*>(model);
    if (view == nullptr)
        return;
    _capInsets = view->_capInsets;
    setScale9Enabled(view->_scale9Enabled);
    loadTexture(view->_textureFile);
    if (view->_textureLoaded && !view->_imageRenderer->getTextureRect().size.equals(view->_imageTextureSize))
        setTextureRect(view->_imageRenderer->getTextureRect());
}

} // namespace ui
} // namespace cocos2d
