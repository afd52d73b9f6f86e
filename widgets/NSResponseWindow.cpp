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

NSResponseWindow* NSResponseWindow::createFor(cocos2d::Node* dialog, cocos2d::Node* layout)
{
    NSResponseWindow* window = create();
    if (window == nullptr)
        return nullptr;
    if (dialog != nullptr)
    {
        if (layout != nullptr)
        {
            const cocos2d::Size win = cocos2d::Director::getInstance()->getWinSize();
            layout->setAnchorPoint(cocos2d::Vec2(0.5f, 1.0f));
            layout->setPosition(cocos2d::Vec2(win.width / 2, win.height));
        }
        window->addChild(dialog);
    }
    window->setAnchorPoint(cocos2d::Vec2::ZERO);
    window->setPosition(cocos2d::Vec2::ZERO);
    return window;
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
