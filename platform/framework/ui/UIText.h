// ui::Text: a widget showing one label.
//
// With content adaptation on (the default) the widget is as large as its text. With it off the
// widget keeps its size and the text is laid out inside it (wrapping to the width, aligned by
// the text alignments). An empty font name means the system font; a font name that names an
// existing file is opened as a TrueType file.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <string>

#include "ui/UIWidget.h"

namespace cocos2d {

class Label;

namespace ui {

class Text : public Widget {
public:
    CREATE_FUNC(Text);
    static Text* create(const std::string& text, const std::string& fontName, float fontSize);
    bool init() override;
    virtual bool init(const std::string& text, const std::string& fontName, float fontSize);

    void setString(const std::string& text);
    // [add] The flag is accepted and ignored.
    void setString(const std::string& text, bool flag);
    const std::string& getString() const;
    ssize_t getStringLength() const;

    void setFontSize(float size);
    float getFontSize() const { return _fontSize; }
    void setFontName(const std::string& name);
    const std::string& getFontName() const { return _fontName; }

    void setTextColor(const Color4B& color);
    const Color4B& getTextColor() const { return _textColor; }
    void enableShadow(const Color4B& shadowColor = Color4B(0, 0, 0, 128), const Size& offset = Size(2, -2),
                      int blurRadius = 0);

    void setTextHorizontalAlignment(TextHAlignment alignment);
    TextHAlignment getTextHorizontalAlignment() const;
    void setTextVerticalAlignment(TextVAlignment alignment);
    TextVAlignment getTextVerticalAlignment() const;
    // A fixed text area: the text wraps to its width; the widget keeps this size.
    void setTextAreaSize(const Size& size);
    const Size& getTextAreaSize() const;

    // Enlarges the text while pressed (off by default).
    void setTouchScaleChangeEnabled(bool enabled) { _touchScaleChangeEnabled = enabled; }
    bool isTouchScaleChangeEnabled() const { return _touchScaleChangeEnabled; }

    Node* getVirtualRenderer() override;
    Size getVirtualRendererSize() const override;
    void ignoreContentAdaptWithSize(bool ignore) override;
    std::string getDescription() const override { return "Label"; }
    Label* getLabelRenderer() const { return _labelRenderer; }

protected:
    Text() = default;
    ~Text() override = default;

    void initRenderer() override;
    void onPressStateChangedToNormal() override;
    void onPressStateChangedToPressed() override;
    void onPressStateChangedToDisabled() override;
    void onSizeChanged() override;
    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;

    // Applies the font name and size to the label.
    void applyFont();
    // Re-fits the widget after a change of the text or its font.
    void textChanged();
    void layoutLabel();

    Label* _labelRenderer = nullptr; // protected child
    std::string _fontName;
    float _fontSize = 10.0f;
    Color4B _textColor = Color4B::WHITE;
    bool _touchScaleChangeEnabled = false;
};

} // namespace ui
} // namespace cocos2d
