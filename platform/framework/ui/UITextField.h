// ui::TextField: a one-line text input widget.
//
// Touching the field attaches it to the input method (a touch elsewhere that reaches it detaches
// it); only the attached field receives typed text. Typed and pasted text arrives through
// insertText: a clipboard paste comes as one call and fires one INSERT_TEXT. Input is cut at the
// first line break, which also ends editing (the field detaches). Invalid UTF-8 and control
// characters are dropped. With a maximum length, counted in characters, input beyond it is cut
// (a paste keeps the characters that fit). Backspace removes one whole character. With the
// password mode on, the field shows one mask text per character; getString still gives the
// real text. An empty field shows its placeholder in the placeholder colour.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <functional>
#include <string>

#include "event/CCIMEDelegate.h"
#include "ui/UIWidget.h"

namespace cocos2d {

class Label;

namespace ui {

class TextField : public Widget, public IMEDelegate {
public:
    enum class EventType { ATTACH_WITH_IME = 0, DETACH_WITH_IME = 1, INSERT_TEXT = 2, DELETE_BACKWARD = 3 };
    typedef std::function<void(Ref*, EventType)> ccTextFieldCallback;

    CREATE_FUNC(TextField);
    static TextField* create(const std::string& placeholder, const std::string& fontName, float fontSize);
    bool init() override;

    void setPlaceHolder(const std::string& text);
    const std::string& getPlaceHolder() const { return _placeHolder; }
    void setPlaceHolderColor(const Color3B& color);
    void setPlaceHolderColor(const Color4B& color);
    const Color4B& getPlaceHolderColor() const { return _placeHolderColor; }
    void setTextColor(const Color4B& color);
    const Color4B& getTextColor() const { return _textColor; }
    void setFontSize(float size);
    float getFontSize() const { return _fontSize; }
    void setFontName(const std::string& name);
    const std::string& getFontName() const { return _fontName; }

    // Replaces the text (cleaned and cut to the maximum length like typed input); fires nothing.
    void setString(const std::string& text);
    const std::string& getString() const { return _text; }
    // In characters.
    int getStringLength() const;

    void setMaxLengthEnabled(bool enabled);
    bool isMaxLengthEnabled() const { return _maxLengthEnabled; }
    void setMaxLength(int length);
    int getMaxLength() const { return _maxLength; }
    void setPasswordEnabled(bool enabled);
    bool isPasswordEnabled() const { return _passwordEnabled; }
    void setPasswordStyleText(const char* styleText);
    const std::string& getPasswordStyleText() const { return _passwordStyleText; }

    bool attachWithIME() override;
    bool detachWithIME() override;
    bool isAttachedWithIME() const { return _attached; }

    void addEventListener(const ccTextFieldCallback& callback) { _eventCallback = callback; }

    bool onTouchBegan(Touch* touch, Event* event) override;
    void onExit() override;
    Node* getVirtualRenderer() override;
    Size getVirtualRendererSize() const override;
    std::string getDescription() const override { return "TextField"; }
    // The text shown: the placeholder, the mask or the text.
    const std::string& getRenderedText() const;

protected:
    TextField() = default;
    ~TextField() override = default;

    void initRenderer() override;
    void onSizeChanged() override;
    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;

    bool canAttachWithIME() override;
    void didAttachWithIME() override;
    bool canDetachWithIME() override { return true; }
    void didDetachWithIME() override;
    void insertText(const char* text, size_t len) override;
    void deleteBackward() override;
    const std::string& getContentText() override { return _text; }

    // The part of `input` that may be added now (cleaned, cut to the room left).
    std::string acceptable(const std::string& input) const;
    void updateDisplay();
    void applyFont();
    void fire(EventType type);

    Label* _textRenderer = nullptr; // protected child
    std::string _text;
    std::string _placeHolder;
    std::string _fontName;
    float _fontSize = 10.0f;
    Color4B _textColor = Color4B::WHITE;
    Color4B _placeHolderColor = Color4B(166, 166, 166, 255);
    bool _maxLengthEnabled = false;
    int _maxLength = 0;
    bool _passwordEnabled = false;
    std::string _passwordStyleText = "*";
    bool _attached = false;
    ccTextFieldCallback _eventCallback;
};

} // namespace ui
} // namespace cocos2d
