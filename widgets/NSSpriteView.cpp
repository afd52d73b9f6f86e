#include "NSSpriteView.h"

#include <cmath>

namespace NSUI
{

namespace
{
const char* const kNoPicture = "UIRes/noPicture.png";
constexpr int kTouchPriority = 100;
}

NSSpriteView* NSSpriteView::create()
{
    auto* view = new (std::nothrow) NSSpriteView();
    if (view != nullptr && view->init())
    {
        view->autorelease();
        return view;
    }
    delete view;
    return nullptr;
}

bool NSSpriteView::init()
{
    if (!NSLayout::init())
        return false;
    imageView = cocos2d::ui::ImageView::create();
    addChild(imageView);
    path.clear();
    setClippingEnabled(true);
    touchListener = cocos2d::EventListenerTouchAllAtOnce::create();
    touchListener->retain();
    touchListener->onTouchesBegan = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesBegan(t, e);
    };
    touchListener->onTouchesMoved = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesMoved(t, e);
    };
    touchListener->onTouchesEnded = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesEnded(t, e);
    };
    touchListener->onTouchesCancelled = [this](const std::vector<cocos2d::Touch*>& t, cocos2d::Event* e) {
        onTouchesCancelled(t, e);
    };
    _eventDispatcher->addEventListenerWithFixedPriority(touchListener, kTouchPriority);
    setTouchEnabled(true);
    interactor = NSInteractorImage::create();
    interactor->retain();
    interactor->setTarget(this);
    return true;
}

NSSpriteView::~NSSpriteView()
{
    if (touchListener != nullptr)
    {
        _eventDispatcher->removeEventListener(touchListener);
        CC_SAFE_RELEASE_NULL(touchListener);
    }
    if (interactor != nullptr)
    {
        interactor->releaseCapture();
        interactor->releaseTarget();
        CC_SAFE_RELEASE_NULL(interactor);
    }
}

void NSSpriteView::cleanup()
{
    NSLayout::cleanup();
    if (touchListener != nullptr)
    {
        _eventDispatcher->removeEventListener(touchListener);
        CC_SAFE_RELEASE_NULL(touchListener);
    }
    if (interactor != nullptr)
    {
        // A gesture this view held must not leave every other picture view deaf.
        interactor->releaseCapture();
        NSInteractorImage* held = interactor;
        interactor = nullptr;
        held->releaseTarget();
        held->release();
    }
}

void NSSpriteView::onTouchesBegan(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (interactor != nullptr)
        interactor->touchesBegan(touches);
}

void NSSpriteView::onTouchesMoved(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (interactor != nullptr)
        interactor->touchesMoved(touches);
}

void NSSpriteView::onTouchesEnded(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (interactor != nullptr)
        interactor->touchesEnded(touches);
}

void NSSpriteView::onTouchesCancelled(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event*)
{
    if (interactor != nullptr)
        interactor->touchesEnded(touches);
}

void NSSpriteView::setImage(std::string file)
{
    path = file;
    const cocos2d::Size& size = getContentSize();
    imageView->setPosition(cocos2d::Vec2(size.width / 2, size.height / 2));
    if (!file.empty() && cocos2d::FileUtils::getInstance()->isFileExist(file))
    {
        loadImageToFit(imageView, file, size);
    }
    else
    {
        imageView->setScale(1.0f);
        loadImage(imageView, kNoPicture);
    }
}

void NSSpriteView::zoomBy(float factor)
{
    const float scale = imageView->getScale();
    if ((scale < kMinDragScale && factor < 1.0f) || (scale > kMaxDragScale && factor > 1.0f))
        return;
    imageView->setScale(scale * factor);
}

bool NSSpriteView::onMouseScroll(float, float, float scrollY)
{
    if (!isTouchEnabled())
        return false;
    if (scrollY < 0.0f)
        imageView->setScale(imageView->getScale() * 1.1f);
    else if (scrollY > 0.0f)
        imageView->setScale(imageView->getScale() * 0.9f);
    return true;
}

bool NSSpriteView::onMouseMove(float x, float y)
{
    if (!isTouchEnabled())
        return false;
    const cocos2d::Vec2 d = cocos2d::Vec2(x, y) - lastMousePosition;
    if (isRightButtonDown)
    {
        if (std::fabs(d.x) < std::fabs(d.y))
            zoomBy(d.y > 0.0f ? 1.05f : 0.95f);
        return true;
    }
    if (isLeftButtonDown)
    {
        imageView->setPosition(imageView->getPosition() + d);
        return true;
    }
    return false;
}

} // namespace NSUI
