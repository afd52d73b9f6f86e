#include "UIControlGenerater.h"

#include "NSTextField.h"

#include <algorithm>
#include <cmath>

namespace NSUI
{

namespace
{

cocos2d::Texture2D* cachedTexture(const std::string& file)
{
    return cocos2d::Director::getInstance()->getTextureCache()->getTextureForKey(file);
}

// The scale that fits content of size w x h into the box; 0 when there is nothing to fit (an
// empty texture would give an infinite scale).
float fitScale(const cocos2d::Size& box, float w, float h)
{
    if (!(w > 0.0f) || !(h > 0.0f))
        return 0.0f;
    return std::min(box.width / w, box.height / h);
}

void fitImageView(cocos2d::ui::ImageView* view, const cocos2d::Size& box)
{
    const cocos2d::Size size = view->getVirtualRendererSize();
    const float scale = fitScale(box, size.width, size.height);
    if (scale > 0.0f && std::isfinite(scale))
        view->setScale(scale);
}

void fitSprite(cocos2d::Sprite* sprite, const cocos2d::Size& box, float factor)
{
    const cocos2d::Rect& rect = sprite->getTextureRect();
    const float fit = fitScale(box, rect.size.width, rect.size.height);
    if (fit > 0.0f && std::isfinite(fit))
        sprite->setScale(fit * factor, fit);
}

} // namespace

UIControlGenerater::~UIControlGenerater()
{
    for (auto& request : requestQueue)
        CC_SAFE_RELEASE(request.target);
    requestQueue.clear();
    CC_SAFE_RELEASE_NULL(currentRequest.target);
    // Only a loader that ever asked the cache has callbacks to drop (and so never brings a director
    // back to life while the program shuts down).
    if (asyncRequested)
        cocos2d::Director::getInstance()->getTextureCache()->unbindAllImageAsyncForRequester(this);
}

void UIControlGenerater::queueRequest(const ImageLoadRequest& request)
{
    CC_SAFE_RETAIN(request.target);
    requestQueue.push_back(request);
}

void UIControlGenerater::loadImageToFit(cocos2d::ui::ImageView* view, std::string file, cocos2d::Size box)
{
    if (view != nullptr && cachedTexture(file) != nullptr)
    {
        view->loadTexture(file);
        fitImageView(view, box);
        return;
    }
    ImageLoadRequest request;
    request.file = std::move(file);
    request.target = view;
    request.isImageView = true;
    request.mode = ImageLoadRequest::Fit;
    request.box = box;
    queueRequest(request);
}

void UIControlGenerater::loadSpriteToFit(cocos2d::Sprite* sprite, std::string file, cocos2d::Size box, float factor)
{
    if (sprite != nullptr && cachedTexture(file) != nullptr)
    {
        sprite->setTexture(file);
        fitSprite(sprite, box, factor);
        return;
    }
    ImageLoadRequest request;
    request.file = std::move(file);
    request.target = sprite;
    request.isImageView = false;
    request.mode = ImageLoadRequest::Fit;
    request.box = box;
    request.scaleFactor = factor;
    queueRequest(request);
}

void UIControlGenerater::loadImage(cocos2d::ui::ImageView* view, std::string file)
{
    ImageLoadRequest request;
    request.file = std::move(file);
    request.target = view;
    request.isImageView = true;
    request.mode = ImageLoadRequest::AsIs;
    queueRequest(request);
}

NSTextField* UIControlGenerater::createTextField(std::string placeholder, cocos2d::Vec2 position, int fontSize,
                                                 cocos2d::Vec2 anchor)
{
    NSTextField* field = NSTextField::create(std::move(placeholder), cocos2d::Size(150.0f, static_cast<float>(fontSize)));
    if (field == nullptr)
        return nullptr;
    field->setPosition(position);
    field->setAnchorPoint(anchor);
    field->setFontSize(fontSize); // stores and redisplays
    return field;
}

void UIControlGenerater::processNextRequest()
{
    while (!requestQueue.empty() && currentRequest.target == nullptr)
    {
        currentRequest = requestQueue.front();
        requestQueue.pop_front();
        if (currentRequest.target == nullptr)
            continue; // nothing to receive the picture
        asyncRequested = true;
        cocos2d::Director::getInstance()->getTextureCache()->addImageAsync(
            currentRequest.file, [this](cocos2d::Texture2D* texture) { onTextureLoaded(texture); }, this);
    }
}

void UIControlGenerater::onTextureLoaded(cocos2d::Texture2D* texture)
{
    ImageLoadRequest request = currentRequest;
    currentRequest = ImageLoadRequest();
    if (request.target == nullptr)
        return;
    // A file that does not decode, or decodes to nothing, leaves the target as it was.
    if (texture != nullptr && texture->getContentSize().width > 0.0f && texture->getContentSize().height > 0.0f)
        applyRequest(request, texture);
    request.target->release();
}

void UIControlGenerater::applyRequest(const ImageLoadRequest& request, cocos2d::Texture2D* texture)
{
    if (request.isImageView)
    {
        auto* view = static_cast<cocos2d::ui::ImageView*>(request.target);
        view->loadTexture(request.file);
        if (request.mode == ImageLoadRequest::Fit)
        {
            fitImageView(view, request.box);
        }
        else if (request.mode == ImageLoadRequest::Placed)
        {
            view->setPosition(request.position);
            view->setAnchorPoint(request.anchorPoint);
            cocos2d::Rect rect = request.textureRect;
            if (!rect.equals(cocos2d::Rect::ZERO))
                view->setTextureRect(rect);
            else
                rect = cocos2d::Rect(cocos2d::Vec2::ZERO, texture->getContentSize());
            if (!request.box.equals(cocos2d::Size::ZERO))
            {
                const bool larger = request.box.width > rect.size.width || request.box.height > rect.size.height;
                if (larger && !request.capInsets.equals(cocos2d::Rect::ZERO))
                {
                    view->setScale9Enabled(true);
                    view->setCapInsets(request.capInsets);
                }
                else
                {
                    view->ignoreContentAdaptWithSize(false);
                }
                view->setContentSize(request.box);
            }
        }
        return;
    }

    auto* sprite = static_cast<cocos2d::Sprite*>(request.target);
    if (request.mode == ImageLoadRequest::AsIs)
    {
        sprite->setTexture(request.file);
    }
    else if (request.mode == ImageLoadRequest::Fit)
    {
        sprite->setTexture(request.file);
        fitSprite(sprite, request.box, request.scaleFactor);
    }
}

} // namespace NSUI
