// RenderTexture: an off-screen RGBA target (a framebuffer object with a depth-stencil buffer).
//
// Between begin() (or beginWithClear) and end(), the commands that visits add are drawn into the
// texture when end() runs, through an orthographic view of the target: (0, 0) is its bottom-left
// corner, one unit one texel. Commands added before begin() are left for the pass they belong
// to. The node itself draws its texture as a sprite (getSprite), image rows the right way up.
//
// newImage() reads the target back (first row at the top; premultiplied RGBA). Headless there is
// no target: visits between begin and end are recorded as usual and newImage returns null.
//
// Main thread only.
#pragma once

#include <string>

#include "2d/CCSprite.h"
#include "node/CCNode.h"
#include "renderer/CCTexture2D.h"

namespace cocos2d {

class Camera;
class Image;

class RenderTexture : public Node {
public:
    // Null when the size is not positive or the driver lacks framebuffer objects.
    static RenderTexture* create(int width, int height);

    void begin();
    // begin(), then the target is cleared to the colour (and depth to 1).
    void beginWithClear(float r, float g, float b, float a);
    void end();

    Texture2D* getTexture() const { return _texture; }
    Sprite* getSprite() const { return _sprite; }
    int getPixelsWide() const { return _width; }
    int getPixelsHigh() const { return _height; }

    // The target's pixels, first row at the top; null headless. The caller releases it.
    Image* newImage();
    // PNG or JPEG by the extension; a relative name is taken under the writable path.
    bool saveToFile(const std::string& fileName, bool isRGBA = true);

    void visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags) override;

protected:
    RenderTexture() = default;
    ~RenderTexture() override;
    bool initWithWidthAndHeight(int width, int height);
    void releaseTarget();

    int _width = 0;
    int _height = 0;
    Texture2D* _texture = nullptr; // retained
    Sprite* _sprite = nullptr;     // retained, not a child
    Camera* _camera = nullptr;     // retained: the target's orthographic view
    Camera* _previousCamera = nullptr; // the visiting camera begin() replaced
    GLuint _framebuffer = 0;
    GLuint _depthStencil = 0;
    unsigned int _generation = 0;
    bool _open = false;
    bool _clearRequested = false;
    Color4F _clearColor;
    size_t _mark = 0;
};

} // namespace cocos2d
