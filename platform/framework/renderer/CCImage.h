// Image: PNG and JPEG decoding and encoding in memory (libpng, libjpeg-turbo).
//
// Decoded pixels are 8-bit RGB or RGBA, rows from the top, tightly packed. PNG palette, grey,
// grey+alpha and 16-bit images become RGB(A) 8-bit; RGBA is premultiplied by alpha, as the
// default blend function expects. JPEG greyscale and CMYK become RGB. Malformed data makes the
// init functions return false (the libraries' error handlers return through longjmp).
//
// Any thread: an Image touches no GL and no shared state.
#pragma once

#include <string>
#include <vector>

#include "base/CCRef.h"
#include "renderer/CCTexture2D.h"

namespace cocos2d {

class Image : public Ref {
public:
    enum class Format { JPG, PNG, RAW_DATA, UNKNOWN };

    Image();
    ~Image() override;

    // Resolves the name through FileUtils, reads and decodes the file.
    bool initWithImageFile(const std::string& path);
    // Decodes PNG or JPEG data, chosen by its signature.
    bool initWithImageData(const unsigned char* data, ssize_t dataLen);
    // Copies raw 8-bit RGB (bitsPerComponent 8, 3 channels when the length says so) or RGBA
    // pixels; preMulti tells whether RGBA is premultiplied.
    bool initWithRawData(const unsigned char* data, ssize_t dataLen, int width, int height, int bitsPerComponent,
                         bool preMulti = false);

    unsigned char* getData() { return _data.empty() ? nullptr : _data.data(); }
    const unsigned char* getData() const { return _data.empty() ? nullptr : _data.data(); }
    ssize_t getDataLen() const { return static_cast<ssize_t>(_data.size()); }
    int getWidth() const { return _width; }
    int getHeight() const { return _height; }
    Format getFileType() const { return _fileType; }
    Texture2D::PixelFormat getRenderFormat() const
    {
        return _hasAlpha ? Texture2D::PixelFormat::RGBA8888 : Texture2D::PixelFormat::RGB888;
    }
    bool hasAlpha() const { return _hasAlpha; }
    bool isPremultipliedAlpha() const { return _premultiplied; }
    int getBitPerPixel() const { return _hasAlpha ? 32 : 24; }

    // Writes PNG (".png") or JPEG (".jpg", ".jpeg"; quality 90) by the extension, case-insensitive.
    // isToRGB drops the alpha channel. Premultiplied pixels are written straight (not
    // premultiplied). The file is replaced atomically; false on any failure.
    bool saveToFile(const std::string& filename, bool isToRGB = true) const;

    // Encoders to memory. false on failure.
    bool encodePNG(std::vector<unsigned char>& out, bool isToRGB) const;
    bool encodeJPEG(std::vector<unsigned char>& out, int quality) const;

private:
    bool decodePNG(const unsigned char* data, size_t dataLen);
    bool decodeJPEG(const unsigned char* data, size_t dataLen);
    void premultiply();
    // Straight (not premultiplied) pixels with 3 or 4 channels.
    std::vector<unsigned char> straightPixels(int channels) const;

    std::vector<unsigned char> _data;
    int _width = 0;
    int _height = 0;
    bool _hasAlpha = false;
    bool _premultiplied = false;
    Format _fileType = Format::UNKNOWN;
};

} // namespace cocos2d
