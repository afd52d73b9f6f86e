#include "isNodeOverlaySprite.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <algorithm>
#include <cmath>

namespace isImageSDK {

namespace {
const char* const kPauseImage = "imageSDK/pause.png";
const char* const kPlayImage = "imageSDK/play.png";
} // namespace

isNodeOverlaySprite* isNodeOverlaySprite::create()
{
    isNodeOverlaySprite* button = new (std::nothrow) isNodeOverlaySprite();
    if (button && button->init()) {
        button->autorelease();
        return button;
    }
    delete button;
    return nullptr;
}

isNodeOverlaySprite::~isNodeOverlaySprite()
{
    removeObservers();
}

bool isNodeOverlaySprite::init()
{
    if (!cocos2d::ui::Button::init())
        return false;
    m_height = 10;
    m_rowHeight = 10.0f;
    m_notificationId = NOTIFY_NONE;
    m_kind = KindButton;
    m_contentSize = cocos2d::ui::Button::getContentSize();
    setAnchorPoint(cocos2d::Vec2::ANCHOR_BOTTOM_RIGHT);
    return true;
}

void isNodeOverlaySprite::cleanup()
{
    cocos2d::ui::Button::cleanup();
    removeObservers();
}

void isNodeOverlaySprite::removeObservers()
{
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void isNodeOverlaySprite::setup(const std::string& normalImage, const std::string& pressedImage, unsigned int role,
                                const std::string& disabledImage)
{
    removeObservers();
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    void* context = m_renderWindow ? m_renderWindow->getNotificationContext() : nullptr;
    auto subscribe = [&](unsigned int id) {
        centre->addObserver(
            this, context,
            [this](cocos2d::Ref* sender, unsigned int number, NSUI::NSNotificationData* data) {
                onNotification(sender, number, data);
            },
            id);
    };
    switch (role) {
    case NOTIFY_FRAME_PLAY_STATE:
        m_notificationId = role;
        subscribe(NOTIFY_FRAME_PLAY_STATE);
        subscribe(NOTIFY_FRAME_PLAY_BUTTON_VISIBLE);
        break;
    case NOTIFY_FRAME_PRIOR:
        m_notificationId = role;
        subscribe(NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE);
        break;
    case NOTIFY_FRAME_NEXT:
        m_notificationId = role;
        subscribe(NOTIFY_FRAME_NEXT_BUTTON_VISIBLE);
        break;
    default:
        break;
    }
    loadTextures(normalImage, pressedImage, disabledImage, TextureResType::LOCAL);
    m_picture = normalImage;
    // Sized before its picture was known: sized again for it.
    setButtonHeight(m_rowHeight);
    if (m_renderWindow)
        setGlobalZOrder(static_cast<float>(m_renderWindow->getHostNode()->getLocalZOrder() + 1));
    if (auto* layout = dynamic_cast<cocos2d::ui::Layout*>(getParent()))
        layout->requestDoLayout();
}

void isNodeOverlaySprite::setButtonHeight(float h)
{
    m_rowHeight = h;
    // The picture fills 0.8 of its row, and never less than a control a mouse hits easily: a
    // row of overlay text alone (24 to 34 units) would draw it a third of that.
    const float side = std::max(h * 0.8f, kMinimumPicture);
    m_height = static_cast<int>(std::ceil(side / 0.8f));
    // A missing picture has no height: keep the button unscaled rather than divide by zero.
    const cocos2d::Size native = getNormalTextureSize();
    if (native.width <= 0.0f || native.height <= 0.0f) {
        setScale(1.0f);
        setTouchScaled(1.0f);
        m_contentSize = cocos2d::Size(side, side);
        return;
    }
    const float scale = side / native.height;
    setScale(scale);
    // The box is the drawn picture, so rows and the texts beside it make room for what is seen;
    // the touch area is the square of the row around it.
    m_contentSize = native;
    setTouchScaled(static_cast<float>(m_height) / side);
}

void isNodeOverlaySprite::onNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    const int value = data ? data->intValue : 0;
    switch (id) {
    case NOTIFY_FRAME_PLAY_STATE: {
        const char* image = value > 0 ? kPauseImage : kPlayImage;
        loadTextures(image, image, "", TextureResType::LOCAL);
        m_picture = image;
        break;
    }
    case NOTIFY_FRAME_PLAY_BUTTON_VISIBLE:
    case NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE:
    case NOTIFY_FRAME_NEXT_BUTTON_VISIBLE:
        setVisible(value >= 1);
        break;
    default:
        break;
    }
}

bool isNodeOverlaySprite::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event)
{
    const bool accepted = cocos2d::ui::Button::onTouchBegan(touch, event);
    if (!accepted)
        return false;
    unsigned int command = 0;
    switch (m_notificationId) {
    case NOTIFY_FRAME_PLAY_STATE:
        command = NOTIFY_FRAME_PLAY_TOGGLE;
        break;
    case NOTIFY_FRAME_PRIOR:
        command = NOTIFY_FRAME_PRIOR;
        break;
    case NOTIFY_FRAME_NEXT:
        command = NOTIFY_FRAME_NEXT;
        break;
    default:
        break;
    }
    if (command)
        NSUI::NSNotificationCenter::getInstance()->postNotification(
            this, command, nullptr, m_renderWindow ? m_renderWindow->getNotificationContext() : nullptr, false);
    return true;
}

} // namespace isImageSDK
