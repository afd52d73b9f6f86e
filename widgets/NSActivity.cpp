#include "NSActivity.h"

#include "NSStringUtil.h"
#include "WidgetUtil.h"

namespace NSUI
{

namespace
{
NSActivity* g_current = nullptr; // retained while shown

const char* const kSpinnerImage = "UIRes/rotation.png";
const char* const kOverlayName = "activity";
constexpr float kSpinnerPeriod = 2.0f; // seconds per turn
constexpr float kMessageFontSize = 40.0f;
constexpr float kProgressFontSize = 30.0f;
constexpr float kCancelFontSize = 25.0f;
// Offsets from the window's centre.
constexpr float kMessageRise = 100.0f;
constexpr float kCancelDrop = 150.0f;
} // namespace

NSActivity* NSActivity::show(cocos2d::Node* parent)
{
    if (g_current != nullptr)
        return g_current;
    auto* overlay = new (std::nothrow) NSActivity();
    if (overlay == nullptr)
        return nullptr;
    g_current = overlay;
    overlay->autorelease();
    overlay->init();
    overlay->retain();
    if (parent != nullptr)
        parent->addChild(overlay);
    return overlay;
}

void NSActivity::hide()
{
    if (g_current != nullptr)
        dismiss();
}

void NSActivity::dismiss()
{
    NSActivity* overlay = g_current;
    if (overlay == nullptr)
        return;
    g_current = nullptr;
    if (auto* centre = NSNotificationCenter::peekInstance())
        centre->removeObserver(overlay);
    if (auto* spinner = overlay->getChildByTag(kSpinnerTag))
        spinner->stopAllActions();
    overlay->stopAllActions();
    overlay->removeAllChildrenWithCleanup(true);
    overlay->removeFromParent();
    overlay->release();
}

NSActivity* NSActivity::current()
{
    return g_current;
}

bool NSActivity::init()
{
    if (!cocos2d::ui::Layout::init())
        return false;
    message.clear();
    textColor = cocos2d::Color4B::BLUE;

    setContentSize(cocos2d::Director::getInstance()->getVisibleSize());
    setAnchorPoint(cocos2d::Vec2::ZERO);
    setPosition(cocos2d::Vec2::ZERO);
    enableBKColor(true, cocos2d::Color3B::WHITE, 0.7f);
    setName(kOverlayName);
    setLocalZOrder(kZOrder);
    setTouchEnabled(true);

    auto* centre = NSNotificationCenter::getInstance();
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    centre->addObserver(this, nullptr, callback, NOTIFY_UI_PROGRESS);
    centre->addObserver(this, nullptr, callback, NOTIFY_UI_ACTIVITY_TEXT);

    if (auto* spinner = cocos2d::Sprite::create(kSpinnerImage))
    {
        spinner->setAnchorPoint(cocos2d::Vec2::ANCHOR_MIDDLE);
        addChild(spinner, 0, kSpinnerTag);
        spinner->runAction(cocos2d::RepeatForever::create(cocos2d::RotateBy::create(kSpinnerPeriod, 360.0f)));
    }
    layoutForWindow();
    // Sized for the old window, it would leave part of the new one uncovered and touchable.
    listenForWindowResize(this, [this] { layoutForWindow(); });
    return true;
}

void NSActivity::layoutForWindow()
{
    setContentSize(cocos2d::Director::getInstance()->getVisibleSize());
    const cocos2d::Size size = getContentSize();
    const cocos2d::Vec2 middle(size.width / 2, size.height / 2);
    if (auto* spinner = getChildByTag(kSpinnerTag))
        spinner->setPosition(middle);
    if (auto* label = getChildByTag(kMessageTag))
        label->setPosition(middle + cocos2d::Vec2(0.0f, kMessageRise));
    if (auto* label = getChildByTag(kProgressTag))
        label->setPosition(middle);
    if (auto* button = getChildByTag(kCancelTag))
        button->setPosition(middle - cocos2d::Vec2(0.0f, kCancelDrop));
}

void NSActivity::setMessage(std::string text)
{
    message = text;
    if (auto* label = dynamic_cast<cocos2d::Label*>(getChildByTag(kMessageTag)))
    {
        label->setString(text);
        return;
    }
    auto* label = cocos2d::Label::createWithSystemFont(text, "", kMessageFontSize, cocos2d::Size::ZERO,
                                                       cocos2d::TextHAlignment::LEFT, cocos2d::TextVAlignment::TOP);
    const cocos2d::Size size = getContentSize();
    label->setPosition(size.width / 2, size.height / 2 + kMessageRise);
    label->setTextColor(textColor);
    addChild(label, 0, kMessageTag);
}

void NSActivity::onNotification(cocos2d::Ref*, unsigned int id, NSNotificationData* data)
{
    if (id == NOTIFY_UI_ACTIVITY_TEXT)
    {
        setMessage(data != nullptr ? data->text : std::string());
    }
    else if (id == NOTIFY_UI_PROGRESS)
    {
        const std::string text = formatString("%i", data != nullptr ? data->intValue : 0);
        if (auto* label = dynamic_cast<cocos2d::Label*>(getChildByTag(kProgressTag)))
        {
            label->setString(text);
            return;
        }
        auto* label = cocos2d::Label::createWithSystemFont(text, "", kProgressFontSize, cocos2d::Size::ZERO,
                                                           cocos2d::TextHAlignment::LEFT,
                                                           cocos2d::TextVAlignment::TOP);
        const cocos2d::Size size = getContentSize();
        label->setPosition(size.width / 2, size.height / 2);
        label->setTextColor(textColor);
        addChild(label, 0, kProgressTag);
    }
}

void NSActivity::addCancelButton(std::string title, cocos2d::Color3B titleColour)
{
    auto* button = cocos2d::ui::Button::create();
    button->setTitleText(title);
    button->setTitleColor(titleColour);
    button->setTitleFontSize(kCancelFontSize);
    const cocos2d::Size size = getContentSize();
    button->setPosition(cocos2d::Vec2(size.width / 2, size.height / 2 - kCancelDrop));
    button->addClickEventListener([this](cocos2d::Ref*) {
        NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_UI_ACTIVITY_CANCEL, nullptr, nullptr, true);
    });
    addChild(button, getLocalZOrder() + 1, kCancelTag);
}

} // namespace NSUI
