#include "NSLayout.h"

#include "NSHttpClient.h"
#include "WidgetUtil.h"

namespace NSUI
{

namespace
{
const char* const kImageLoadingKey = "NSLayout.updateImageLoading";
}

NSLayout* NSLayout::create()
{
    auto* layout = new (std::nothrow) NSLayout();
    if (layout != nullptr && layout->init())
    {
        layout->autorelease();
        return layout;
    }
    delete layout;
    return nullptr;
}

NSLayout::~NSLayout()
{
    if (mouseListener != nullptr)
    {
        _eventDispatcher->removeEventListener(mouseListener);
        CC_SAFE_RELEASE_NULL(mouseListener);
    }
}

bool NSLayout::init()
{
    if (!cocos2d::ui::Layout::init())
        return false;
    setTouchEnabled(false);
    setOwnerNode(this);
    setRequestTarget(this);

    mouseListener = cocos2d::EventListenerMouse::create();
    mouseListener->retain();
    mouseListener->onMouseDown = [this](cocos2d::EventMouse* e) { dispatchMouse(e, MouseKind::Down); };
    mouseListener->onMouseUp = [this](cocos2d::EventMouse* e) { dispatchMouse(e, MouseKind::Up); };
    mouseListener->onMouseMove = [this](cocos2d::EventMouse* e) { dispatchMouse(e, MouseKind::Move); };
    mouseListener->onMouseScroll = [this](cocos2d::EventMouse* e) { dispatchMouse(e, MouseKind::Scroll); };
    _eventDispatcher->addEventListenerWithSceneGraphPriority(mouseListener, this);
    return true;
}

void NSLayout::dispatchMouse(cocos2d::EventMouse* event, MouseKind kind)
{
    if (!isVisibleInTree(this) || !isVisitedByCurrentCamera(this))
        return;
    cocos2d::Vec2 p;
    if (!strictlyInside(this, event->getLocationInView(), &p))
        return;
    lastMousePosition = convertToNodeSpace(event->getPreviousLocationInView());

    bool stop = false;
    switch (kind)
    {
    case MouseKind::Down: {
        const int button = event->getMouseButton();
        isLeftButtonDown = button == 0;
        isRightButtonDown = button == 1;
        isMiddleButtonDown = button == 2;
        stop = onMouseDown(p.x, p.y);
        break;
    }
    case MouseKind::Up:
        stop = onMouseUp(p.x, p.y);
        isLeftButtonDown = isRightButtonDown = isMiddleButtonDown = false;
        break;
    case MouseKind::Move:
        stop = onMouseMove(p.x, p.y);
        break;
    case MouseKind::Scroll:
        stop = onMouseScroll(p.x, p.y, event->getScrollY());
        break;
    }
    if (stop)
        event->stopPropagation();
}

bool NSLayout::onMouseScroll(float, float, float) { return false; }
bool NSLayout::onMouseDown(float, float) { return false; }
bool NSLayout::onMouseUp(float, float) { return false; }
bool NSLayout::onMouseMove(float, float) { return false; }

void NSLayout::onEnterTransitionDidFinish()
{
    cocos2d::ui::Layout::onEnterTransitionDidFinish();
    scheduleImageLoading();
}

void NSLayout::onExit()
{
    cocos2d::ui::Layout::onExit();
    unscheduleImageLoading();
}

void NSLayout::scheduleImageLoading()
{
    schedule([this](float dt) { updateImageLoading(dt); }, kImageLoadingInterval, CC_REPEAT_FOREVER,
             kImageLoadingDelay, kImageLoadingKey);
}

void NSLayout::unscheduleImageLoading()
{
    unschedule(kImageLoadingKey);
}

void NSLayout::updateImageLoading(float)
{
    processNextRequest();
}

void NSLayout::cleanup()
{
    cocos2d::ProtectedNode::cleanup();
    if (mouseListener != nullptr)
    {
        _eventDispatcher->removeEventListener(mouseListener);
        CC_SAFE_RELEASE_NULL(mouseListener);
    }
    if (NSHttpClient::hasInstance())
        NSHttpClient::getInstance()->cancelRequestsForTarget(this);
}

} // namespace NSUI
