// ui::Scale9Sprite: an image stretched to any content size in nine pieces, so that its corners
// keep their size and only the edges and the centre stretch.
//
// The cap insets name the stretchable centre of the image: a rectangle in the image's pixels,
// origin top-left. Rect::ZERO means the middle third in both directions. Insets reaching past
// the image are clamped to it. When the content is narrower (or lower) than the two fixed
// borders together, the borders shrink in proportion and the centre disappears. With nine-slice
// mode off the whole image is stretched to the content size.
//
// The pieces are sprites held as protected children; they follow the node's colour and opacity.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <string>
#include <vector>

#include "node/CCProtectedNode.h"

namespace cocos2d {

class Sprite;
class SpriteFrame;
class Texture2D;

namespace ui {

class Scale9Sprite : public ProtectedNode {
public:
    // One piece: a rectangle of the texture (pixels, origin top-left) drawn into a rectangle of
    // the node (node space, origin bottom-left).
    struct Slice {
        Rect source;
        Rect target;
    };

    CREATE_FUNC(Scale9Sprite);
    // A file that cannot be loaded gives a node without an image (logged), not null, so that
    // callers placing a background never crash on a missing resource.
    static Scale9Sprite* create(const std::string& file);
    static Scale9Sprite* create(const Rect& capInsets, const std::string& file);
    static Scale9Sprite* createWithSpriteFrame(SpriteFrame* spriteFrame, const Rect& capInsets = Rect::ZERO);

    bool init() override;
    // Loads the file through the texture cache. A missing file leaves the node without an image
    // (logged) and returns false.
    bool initWithFile(const std::string& file, const Rect& capInsets = Rect::ZERO);
    // Shows the file's image with the current insets, or no image for "" or a file that cannot
    // be loaded (logged). True when an image was loaded.
    bool loadImage(const std::string& file);
    // Switches the image; the content size becomes the image's size when it was zero.
    void setTexture(Texture2D* texture);
    // Switches the image, keeping the given insets and the current content size.
    void setSpriteFrame(SpriteFrame* spriteFrame, const Rect& capInsets = Rect::ZERO);
    Texture2D* getTexture() const { return _texture; }
    // Shows only this rectangle of the texture (pixels, origin top-left).
    void setTextureRect(const Rect& rect);
    const Rect& getTextureRect() const { return _textureRect; }
    // The size of the image (or of its texture rectangle).
    const Size& getOriginalSize() const { return _originalSize; }

    void setCapInsets(const Rect& capInsets);
    const Rect& getCapInsets() const { return _capInsets; }
    void setScale9Enabled(bool enabled);
    bool isScale9Enabled() const { return _scale9Enabled; }

    void setContentSize(const Size& size) override;
    void setPreferredSize(const Size& size) { setContentSize(size); }
    Size getPreferredSize() const { return _contentSize; }

    void visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags) override;
    // Brings the pieces up to date now (visit does it when needed).
    void updateSlices();

    // The pieces for an image rectangle, insets and content size (empty pieces are left out).
    static std::vector<Slice> computeSlices(const Rect& source, const Rect& capInsets, const Size& contentSize,
                                            bool scale9);
    // The insets clamped to an image of the given size (Rect::ZERO: the middle third).
    static Rect restrictCapInsets(const Rect& capInsets, const Size& imageSize);

protected:
    Scale9Sprite() = default;
    ~Scale9Sprite() override;

    Texture2D* _texture = nullptr; // retained
    Rect _textureRect;
    Size _originalSize;
    Rect _capInsets;
    bool _scale9Enabled = true;
    bool _slicesDirty = true;
    std::vector<Sprite*> _pieces; // protected children, reused between updates
};

} // namespace ui
} // namespace cocos2d
