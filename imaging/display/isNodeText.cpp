#include "isNodeText.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

namespace isImageSDK {

isNodeText* isNodeText::create()
{
    isNodeText* label = new (std::nothrow) isNodeText();
    if (label && label->init()) {
        label->autorelease();
        return label;
    }
    delete label;
    return nullptr;
}

bool isNodeText::init()
{
    if (!cocos2d::ui::Text::init())
        return false;
    setFontName("");
    setTouchEnabled(false);
    m_moved = false;
    m_touching = false;
    m_background = cocos2d::ui::Layout::create();
    if (!m_background)
        return false;
    m_background->setBackGroundColorType(cocos2d::ui::Layout::BackGroundColorType::SOLID);
    m_background->setBackGroundColor(cocos2d::Color3B::BLACK);
    m_background->setBackGroundColorOpacity(50);
    m_background->setLocalZOrder(-100);
    m_background->setContentSize(getContentSize());
    addChild(m_background);
    return true;
}

void isNodeText::onSizeChanged()
{
    cocos2d::ui::Text::onSizeChanged();
    if (m_background)
        m_background->setContentSize(getContentSize());
}

bool isNodeText::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event)
{
    const bool accepted = cocos2d::ui::Text::onTouchBegan(touch, event);
    if (accepted)
        m_touching = true;
    return accepted;
}

void isNodeText::onTouchMoved(cocos2d::Touch* touch, cocos2d::Event* event)
{
    cocos2d::ui::Text::onTouchMoved(touch, event);
    cocos2d::Node* parent = getParent();
    if (!m_touching || !parent)
        return;
    const cocos2d::Vec2 previous = parent->convertToNodeSpace(touch->getPreviousLocation());
    const cocos2d::Vec2 current = parent->convertToNodeSpace(touch->getLocation());
    setPosition(getPosition() + current - previous);
    m_moved = true;
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_TEXT_NODE_MOVED, nullptr, parent,
                                                                false);
}

void isNodeText::onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event)
{
    cocos2d::ui::Text::onTouchEnded(touch, event);
    m_touching = false;
}

void isNodeText::onTouchCancelled(cocos2d::Touch* touch, cocos2d::Event* event)
{
    cocos2d::ui::Text::onTouchCancelled(touch, event);
    m_touching = false;
}

} // namespace isImageSDK
