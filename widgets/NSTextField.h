// NSTextField: the program's editable text field. A rich text that takes keyboard input through
// the framework's input method (IMEDelegate): a placeholder while empty, a cursor blinking once a
// second that a touch places between any two characters, an optional password mask, an optional
// length limit, input filters for numbers and IP addresses, and an optional nine-slice background
// (a sibling in the field's parent) that changes with focus. Input is cut at the first newline, so
// the field holds one logical line that wraps onto further rows and scrolls to keep the cursor in
// view.
//
// Main thread only; the input method calls insertText, the deletions and controlKey on the main
// thread.
#pragma once

#include "NSRichText.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <functional>
#include <string>

namespace NSUI
{

class NSTextField : public NSRichText, public cocos2d::IMEDelegate
{
public:
    enum class EventType
    {
        INSERT_TEXT = 0,
        DELETE_BACKWARD = 1
    };
    enum class InputMode
    {
        SIGNED_INTEGER = 0,
        DIGITS = 1,
        SIGNED_DECIMAL = 2,
        IP_ADDRESS = 3,
        ANY = 4
    };
    using ccTextFieldCallback = std::function<void(cocos2d::Ref*, EventType)>;

    static constexpr int kCursorTag = 9824;

    static NSTextField* create(std::string placeholder, cocos2d::Size size);
    using NSRichText::init;
    bool init(std::string placeholder, cocos2d::Size size);

    // Called after each inserted text and each deleted character.
    void addEventListener(const ccTextFieldCallback& callback) { listener = callback; }
    // Replaces the text; an empty text shows the placeholder.
    void setString(std::string text);
    const std::string& getString() const { return text; }
    const std::string& getContentText() override { return text; }
    // Inserts at the cursor (clamped to the text) and moves the cursor after the insertion.
    void insertString(std::string s);
    void setPlaceHolder(std::string placeholderText);
    const std::string& getPlaceHolder() const { return placeholder; }
    bool isPlaceHolderShown() const { return placeholderShown; }

    void setFontSize(int size);
    void setTextColor(cocos2d::Color3B color);
    void setLineHeight(int height) override;
    void setPlaceHolderFontSize(int size);
    void setMaxLength(int length) { maxLength = length; }
    void setMaxLengthEnabled(bool enabled) { maxLengthEnabled = enabled; }
    void setInputMode(InputMode mode) { inputMode = mode; }
    void setPasswordEnabled(bool enabled) { password = enabled; }
    void setCursorIndex(int index);
    int getCursorIndex() const { return cursorIndex; }

    virtual bool isTouchInside(const cocos2d::Vec2& worldPoint);
    // Adds the focus-dependent background to the field's parent (the field must have one).
    void enableBackground();
    cocos2d::ui::Scale9Sprite* getBackground() const { return background; }

    void setZOrder(int z) override;
    void onExit() override;
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    bool interceptTouchEvent(TouchEventType event, cocos2d::ui::Widget* sender, cocos2d::Touch* touch) override;

    bool attachWithIME() override;
    bool detachWithIME() override;
    void insertText(const char* bytes, size_t len) override;
    void deleteBackward() override;
    void deleteForward() override;
    // Home and End go to the ends of the text, the arrows one character either way.
    void controlKey(cocos2d::EventKeyboard::KeyCode keyCode) override;

    // The blink tick.
    void updateCursor(float dt);
    cocos2d::Sprite* getCursor() const;

    // Set directly by owners (writing a field does not redisplay; the setters do).
    bool maxLengthEnabled = false;
    int maxLength = 0;
    bool password = false;
    std::string mask = "*";
    int fontSize = 25;
    int placeholderFontSize = 25;
    std::string fontName;
    std::string placeholderFontName;
    cocos2d::Color3B textColor = cocos2d::Color3B::BLUE;
    cocos2d::Color3B placeholderColor = cocos2d::Color3B::GRAY;
    std::string cursorImage = "UIRes/cursorBlack.png";
    cocos2d::Rect touchRect;
    InputMode inputMode = InputMode::ANY;
    int cursorIndex = 0;

protected:
    bool canAttachWithIME() override { return true; }
    bool canDetachWithIME() override { return true; }
    void didDetachWithIME() override;

    bool filterInput(const std::string& s) const;
    void redisplay();
    void showPlaceHolder();
    void hideCursor();
    // Puts the cursor at index (clamped) and shows it there at once, scrolling it into view.
    void moveCursor(int index);
    // Scrolls the rows so that the one holding cursorPosition is in view.
    void scrollToCursor();
    void switchBackground(const char* image);
    void placeBackground();
    int heldCharacters() const;

    bool backgroundEnabled = false;
    cocos2d::ui::Scale9Sprite* background = nullptr; // a sibling in the parent; not retained
    cocos2d::Vec2 cursorPosition;                    // inner container space
    bool placeholderShown = false;
    std::string text;
    std::string placeholder = " ";
    ccTextFieldCallback listener;
};

} // namespace NSUI
