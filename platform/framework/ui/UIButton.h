// ui::Button: a widget with three images (normal, pressed, disabled) and an optional title.
//
// The pressed image shows while the button is highlighted, the disabled one while it is not
// bright (disabled); a missing pressed or disabled image falls back to the normal one. With
// content adaptation on (the default) the button is as large as its normal image; otherwise the
// images are stretched (nine-slice when scale9 is on) to the button's size. The pressed action
// draws the images and the title at 1.1 times their size while pressed; the button's own scale
// and hit area do not change. Empty image names are allowed.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <string>

#include "ui/UIWidget.h"

namespace cocos2d {

class Label;

namespace ui {

class Scale9Sprite;

class Button : public Widget {
public:
    CREATE_FUNC(Button);
    static Button* create(const std::string& normalImage, const std::string& selectedImage = "",
                          const std::string& disableImage = "", TextureResType texType = TextureResType::LOCAL);
    bool init() override;
    virtual bool init(const std::string& normalImage, const std::string& selectedImage,
                      const std::string& disableImage, TextureResType texType);

    void loadTextures(const std::string& normal, const std::string& selected, const std::string& disabled = "",
                      TextureResType texType = TextureResType::LOCAL);
    void loadTextureNormal(const std::string& normal, TextureResType texType = TextureResType::LOCAL);
    void loadTexturePressed(const std::string& selected, TextureResType texType = TextureResType::LOCAL);
    void loadTextureDisabled(const std::string& disabled, TextureResType texType = TextureResType::LOCAL);
    // The normal image's size (zero without one).
    Size getNormalTextureSize() const { return _normalTextureSize; }

    void setScale9Enabled(bool enabled);
    bool isScale9Enabled() const { return _scale9Enabled; }
    void setCapInsets(const Rect& capInsets);
    const Rect& getCapInsets() const { return _capInsets; }

    void setPressedActionEnabled(bool enabled) { _pressedActionEnabled = enabled; }
    bool isPressedActionEnabled() const { return _pressedActionEnabled; }

    void setTitleText(const std::string& text);
    std::string getTitleText() const;
    void setTitleColor(const Color3B& color);
    Color3B getTitleColor() const { return _titleColor; }
    void setTitleFontSize(float size);
    float getTitleFontSize() const { return _titleFontSize; }
    void setTitleFontName(const std::string& fontName);
    const std::string& getTitleFontName() const { return _titleFontName; }
    // Created on first use.
    Label* getTitleRenderer() const { return _titleRenderer; }

    Node* getVirtualRenderer() override;
    Size getVirtualRendererSize() const override;
    std::string getDescription() const override { return "Button"; }

protected:
    Button() = default;
    ~Button() override = default;

    void initRenderer() override;
    void onPressStateChangedToNormal() override;
    void onPressStateChangedToPressed() override;
    void onPressStateChangedToDisabled() override;
    void onSizeChanged() override;
    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;

    void ensureTitle();
    void applyTitleFont();
    void titleChanged();
    // Sizes and places the renderers for the current content size.
    void layoutRenderers();
    // Shows one image renderer (falling back to the normal one) at the given scale.
    void showRenderer(Scale9Sprite* renderer, bool loaded, float scale);
    bool loadInto(Scale9Sprite* renderer, const std::string& file);

    Scale9Sprite* _buttonNormalRenderer = nullptr;   // protected children
    Scale9Sprite* _buttonClickedRenderer = nullptr;
    Scale9Sprite* _buttonDisabledRenderer = nullptr;
    Label* _titleRenderer = nullptr;
    std::string _normalFileName;
    std::string _clickedFileName;
    std::string _disabledFileName;
    bool _normalTextureLoaded = false;
    bool _pressedTextureLoaded = false;
    bool _disabledTextureLoaded = false;
    Size _normalTextureSize;
    bool _scale9Enabled = false;
    Rect _capInsets;
    bool _pressedActionEnabled = false;
    std::string _titleFontName;
    float _titleFontSize = 10.0f;
    Color3B _titleColor = Color3B::WHITE;
};

} // namespace ui
} // namespace cocos2d
