// Texture2D: a 2D texture of tightly packed rows.
//
// With a GL context in use the pixels are uploaded at once (GL_UNPACK_ALIGNMENT 1, so odd widths
// of 1-, 2- and 3-byte formats are fine; any size up to the driver's limit) and not kept.
// Headless the texture keeps its sizes and a copy of its pixels, and getName() is 0.
//
// Formats: RGBA8888, RGB888, I8 (luminance), A8 (alpha), AI88 (luminance-alpha, 16 bits per pixel:
// the low byte of each little-endian 16-bit value is the luminance, the high byte the alpha).
//
// Main thread only. When the last release happens on another thread the GL name is deleted on
// the main thread.
#pragma once

#include <string>
#include <vector>

#include "base/CCRef.h"
#include "base/ccTypes.h"
#include "math/CCGeometry.h"
#include "platform/CCGL.h"
#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class Image;

class Texture2D : public Ref {
public:
    enum class PixelFormat {
        AUTO,
        RGBA8888,
        RGB888,
        A8,
        I8,
        AI88,
        DEFAULT = RGBA8888,
        NONE = -1
    };

    Texture2D();
    ~Texture2D() override;

    // Bytes per pixel of a format (0 for AUTO and NONE).
    static int getBytesPerPixel(PixelFormat format);

    // Copies (uploads) pixelsWide x pixelsHigh pixels of the format from data; dataLen must cover
    // them. False (logged) for bad arguments, a size above the texture limit or a failed upload.
    bool initWithData(const void* data, ssize_t dataLen, PixelFormat pixelFormat, int pixelsWide, int pixelsHigh,
                      const Size& contentSize);
    // RGBA8888 (premultiplied) or RGB888, as the image holds.
    bool initWithImage(Image* image);
    // Replaces a width x height block at (offsetX, offsetY) (pixels, rows from the top of the
    // data as uploaded) with tightly packed pixels of the texture's format. False when the block
    // is not inside the texture.
    bool updateWithData(const void* data, int offsetX, int offsetY, int width, int height);

    void setTexParameters(const TexParams& texParams);
    // GL_LINEAR filters.
    void setAntiAliasTexParameters();
    // GL_NEAREST filters.
    void setAliasTexParameters();
    const TexParams& getTexParameters() const { return _texParams; }

    GLuint getName() const { return _name; }
    int getPixelsWide() const { return _pixelsWide; }
    int getPixelsHigh() const { return _pixelsHigh; }
    const Size& getContentSize() const { return _contentSize; }
    Size getContentSizeInPixels() const { return Size(float(_pixelsWide), float(_pixelsHigh)); }
    PixelFormat getPixelFormat() const { return _pixelFormat; }
    bool hasPremultipliedAlpha() const { return _hasPremultipliedAlpha; }
    void setPremultipliedAlpha(bool premultiplied) { _hasPremultipliedAlpha = premultiplied; }
    // Texture coordinates of the content: always 1 (no padding to powers of two).
    float getMaxS() const { return 1.0f; }
    float getMaxT() const { return 1.0f; }

    // What the texture shows, as a number that changes with every upload, update and change of
    // filters (nextContentVersion): the renderer's still-frame check compares it. Code that writes
    // the GL texture by other means (rendering into it) calls markContentChanged afterwards.
    uint64_t getContentVersion() const { return _contentVersion; }
    void markContentChanged() { _contentVersion = nextContentVersion(); }

    // [hook] Headless: the pixels as last given (empty with a GL context).
    const std::vector<unsigned char>& getPixelDataForTest() const { return _pixels; }
    // [hook] The path the texture cache keeps it under ("" when not cached).
    const std::string& getPath() const { return _path; }
    void setPath(const std::string& path) { _path = path; }

    std::string getDescription() const;

private:
    void applyTexParameters();
    void releaseGLTexture();

    GLuint _name = 0;
    uint64_t _contentVersion = nextContentVersion();
    unsigned int _generation = 0; // GL context generation of _name
    int _pixelsWide = 0;
    int _pixelsHigh = 0;
    Size _contentSize;
    PixelFormat _pixelFormat = PixelFormat::NONE;
    bool _hasPremultipliedAlpha = false;
    TexParams _texParams{GL_LINEAR, GL_LINEAR, GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE};
    std::vector<unsigned char> _pixels; // headless copy
    std::string _path;
};

} // namespace cocos2d
