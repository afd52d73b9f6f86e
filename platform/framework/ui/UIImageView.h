// ui::ImageView: a widget showing one image.
//
// With content adaptation on (the default) the widget is as large as its image (or texture
// rectangle); with it off the image is stretched (nine-slice when scale9 is on) to the widget's
// size. A missing file leaves the widget without an image (content size 0 while adapting; the
// failure is logged) and the caller decides what to show instead.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <string>

#include "ui/UIWidget.h"

namespace cocos2d {
namespace ui {

class Scale9Sprite;

class ImageView : public Widget {
public:
    CREATE_FUNC(ImageView);
    static ImageView* create(const std::string& imageFileName, TextureResType texType = TextureResType::LOCAL);
    bool init() override;

    void loadTexture(const std::string& fileName, TextureResType texType = TextureResType::LOCAL);
    const std::string& getTextureFile() const { return _textureFile; }
    bool hasTexture() const { return _textureLoaded; }
    // Shows only this rectangle of the image (pixels, origin top-left).
    void setTextureRect(const Rect& rect);

    void setScale9Enabled(bool enabled);
    bool isScale9Enabled() const { return _scale9Enabled; }
    void setCapInsets(const Rect& capInsets);
    const Rect& getCapInsets() const { return _capInsets; }

    Node* getVirtualRenderer() override;
    Size getVirtualRendererSize() const override { return _imageTextureSize; }
    std::string getDescription() const override { return "ImageView"; }

protected:
    ImageView() = default;
    ~ImageView() override = default;

    void initRenderer() override;
    void onSizeChanged() override;
    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;
    void layoutRenderer();

    Scale9Sprite* _imageRenderer = nullptr; // protected child
    std::string _textureFile;
    bool _textureLoaded = false;
    Size _imageTextureSize;
    bool _scale9Enabled = false;
    Rect _capInsets;
};

} // namespace ui
} // namespace cocos2d
