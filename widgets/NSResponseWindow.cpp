#include "NSResponseWindow.h"

#include "WidgetUtil.h"

namespace NSUI
{

NSResponseWindow* NSResponseWindow::create()
{
    auto* window = new (std::nothrow) NSResponseWindow();
    if (window != nullptr && window->init())
    {
        window->autorelease();
        return window;
    }
    delete window;
    return nullptr;
}

bool NSResponseWindow::init()
{
    if (!cocos2d::Layer::init())
        return false;
    setLocalZOrder(kZOrder);
    setTouchEnabled(true);
    setTouchMode(cocos2d::Touch::DispatchMode::ONE_BY_ONE);
    setSwallowsTouches(true);
    setContentSize(cocos2d::Director::getInstance()->getWinSize());
    return true;
}

bool NSResponseWindow::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event*)
{
    return strictlyInside(this, touch->getLocation());
}

} // namespace NSUI
