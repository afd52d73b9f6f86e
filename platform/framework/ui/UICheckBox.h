// ui::CheckBox: a two-state box. A touch that ends inside toggles the state and fires
// SELECTED or UNSELECTED (after the widget's own ENDED and click callbacks); setSelected from
// code fires nothing. The cross image shows while selected.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <functional>
#include <string>

#include "ui/UIWidget.h"

namespace cocos2d {
namespace ui {

class Scale9Sprite;

class CheckBox : public Widget {
public:
    enum class EventType { SELECTED = 0, UNSELECTED = 1 };
    typedef std::function<void(Ref*, EventType)> ccCheckBoxCallback;

    CREATE_FUNC(CheckBox);
    static CheckBox* create(const std::string& backGround, const std::string& cross,
                            TextureResType texType = TextureResType::LOCAL);
    static CheckBox* create(const std::string& backGround, const std::string& backGroundSelected,
                            const std::string& cross, const std::string& backGroundDisabled,
                            const std::string& frontCrossDisabled, TextureResType texType = TextureResType::LOCAL);
    bool init() override;

    void loadTextures(const std::string& backGround, const std::string& backGroundSelected,
                      const std::string& cross, const std::string& backGroundDisabled,
                      const std::string& frontCrossDisabled, TextureResType texType = TextureResType::LOCAL);
    void loadTextureBackGround(const std::string& backGround, TextureResType texType = TextureResType::LOCAL);
    void loadTextureFrontCross(const std::string& cross, TextureResType texType = TextureResType::LOCAL);

    void setSelected(bool selected);
    bool isSelected() const { return _isSelected; }
    void addEventListener(const ccCheckBoxCallback& callback) { _checkBoxEventCallback = callback; }

    Node* getVirtualRenderer() override;
    Size getVirtualRendererSize() const override { return _backGroundTextureSize; }
    std::string getDescription() const override { return "CheckBox"; }

protected:
    CheckBox() = default;
    ~CheckBox() override = default;

    void initRenderer() override;
    void onPressStateChangedToNormal() override;
    void onPressStateChangedToPressed() override;
    void onPressStateChangedToDisabled() override;
    void onSizeChanged() override;
    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;
    void layoutRenderers();
    // Toggles after the widget's own callbacks.
    void releaseUpEvent() override;
    void showState();

    Scale9Sprite* _backGroundBoxRenderer = nullptr;         // protected children
    Scale9Sprite* _backGroundSelectedBoxRenderer = nullptr;
    Scale9Sprite* _frontCrossRenderer = nullptr;
    Scale9Sprite* _backGroundBoxDisabledRenderer = nullptr;
    Scale9Sprite* _frontCrossDisabledRenderer = nullptr;
    bool _backGroundSelectedLoaded = false;
    bool _backGroundDisabledLoaded = false;
    bool _frontCrossDisabledLoaded = false;
    std::string _backGroundFile, _backGroundSelectedFile, _crossFile, _backGroundDisabledFile, _crossDisabledFile;
    Size _backGroundTextureSize;
    bool _isSelected = false;
    ccCheckBoxCallback _checkBoxEventCallback;
};

} // namespace ui
} // namespace cocos2d
