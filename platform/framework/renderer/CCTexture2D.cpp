#include "renderer/CCTexture2D.h"

#include <cstdio>
#include <cstring>

#include "base/CCConfiguration.h"
#include "base/ccMacros.h"
#include "renderer/CCImage.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

namespace {

struct GLFormat {
    GLint internalFormat;
    GLenum format;
};

GLFormat glFormatOf(Texture2D::PixelFormat format)
{
    switch (format) {
    case Texture2D::PixelFormat::RGBA8888: return {GL_RGBA, GL_RGBA};
    case Texture2D::PixelFormat::RGB888: return {GL_RGB, GL_RGB};
    case Texture2D::PixelFormat::A8: return {GL_ALPHA, GL_ALPHA};
    case Texture2D::PixelFormat::I8: return {GL_LUMINANCE, GL_LUMINANCE};
    case Texture2D::PixelFormat::AI88: return {GL_LUMINANCE_ALPHA, GL_LUMINANCE_ALPHA};
    default: return {0, 0};
    }
}

} // namespace

Texture2D::Texture2D() = default;

Texture2D::~Texture2D()
{
    releaseGLTexture();
}

void Texture2D::releaseGLTexture()
{
    if (_name != 0) {
        GL::deleteTextureSafely(_name, _generation);
        _name = 0;
    }
}

int Texture2D::getBytesPerPixel(PixelFormat format)
{
    switch (format) {
    case PixelFormat::RGBA8888: return 4;
    case PixelFormat::RGB888: return 3;
    case PixelFormat::AI88: return 2;
    case PixelFormat::A8:
    case PixelFormat::I8: return 1;
    default: return 0;
    }
}

bool Texture2D::initWithData(const void* data, ssize_t dataLen, PixelFormat pixelFormat, int pixelsWide,
                             int pixelsHigh, const Size& contentSize)
{
    const int bpp = getBytesPerPixel(pixelFormat);
    if (!data || bpp == 0 || pixelsWide <= 0 || pixelsHigh <= 0) {
        log("Texture2D: invalid data, format or size (%d x %d)", pixelsWide, pixelsHigh);
        return false;
    }
    const size_t needed = size_t(pixelsWide) * size_t(pixelsHigh) * size_t(bpp);
    if (dataLen < 0 || size_t(dataLen) < needed) {
        log("Texture2D: %ld bytes given for %d x %d pixels of %d bytes", static_cast<long>(dataLen), pixelsWide,
            pixelsHigh, bpp);
        return false;
    }
    const int maxSize = Configuration::getInstance()->getMaxTextureSize();
    if (pixelsWide > maxSize || pixelsHigh > maxSize) {
        log("Texture2D: %d x %d exceeds the texture limit %d", pixelsWide, pixelsHigh, maxSize);
        return false;
    }

    releaseGLTexture();
    markContentChanged();
    _pixels.clear();
    if (GL::isEnabled()) {
        const GLFormat f = glFormatOf(pixelFormat);
        while (glGetError() != GL_NO_ERROR) {
        }
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glGenTextures(1, &_name);
        _generation = GL::getContextGeneration();
        GL::bindTexture2D(_name);
        glTexImage2D(GL_TEXTURE_2D, 0, f.internalFormat, pixelsWide, pixelsHigh, 0, f.format, GL_UNSIGNED_BYTE,
                     data);
        const GLenum err = glGetError();
        if (err != GL_NO_ERROR) {
            log("Texture2D: upload of %d x %d failed (GL error 0x%04x)", pixelsWide, pixelsHigh, err);
            releaseGLTexture();
            return false;
        }
    } else {
        const auto* bytes = static_cast<const unsigned char*>(data);
        _pixels.assign(bytes, bytes + needed);
    }
    _pixelsWide = pixelsWide;
    _pixelsHigh = pixelsHigh;
    _pixelFormat = pixelFormat;
    _contentSize = contentSize;
    _hasPremultipliedAlpha = false;
    applyTexParameters();
    return true;
}

bool Texture2D::initWithImage(Image* image)
{
    if (!image || !image->getData() || image->getWidth() <= 0 || image->getHeight() <= 0) {
        log("Texture2D: no image");
        return false;
    }
    const PixelFormat format = image->hasAlpha() ? PixelFormat::RGBA8888 : PixelFormat::RGB888;
    if (!initWithData(image->getData(), image->getDataLen(), format, image->getWidth(), image->getHeight(),
                      Size(float(image->getWidth()), float(image->getHeight())))) {
        return false;
    }
    _hasPremultipliedAlpha = image->hasAlpha() && image->isPremultipliedAlpha();
    return true;
}

bool Texture2D::updateWithData(const void* data, int offsetX, int offsetY, int width, int height)
{
    const int bpp = getBytesPerPixel(_pixelFormat);
    if (!data || bpp == 0 || width <= 0 || height <= 0 || offsetX < 0 || offsetY < 0 ||
        offsetX + width > _pixelsWide || offsetY + height > _pixelsHigh) {
        return false;
    }
    markContentChanged();
    if (_name != 0 && GL::isEnabled()) {
        const GLFormat f = glFormatOf(_pixelFormat);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        GL::bindTexture2D(_name);
        glTexSubImage2D(GL_TEXTURE_2D, 0, offsetX, offsetY, width, height, f.format, GL_UNSIGNED_BYTE, data);
    } else if (!_pixels.empty()) {
        const auto* src = static_cast<const unsigned char*>(data);
        const size_t rowBytes = size_t(width) * bpp;
        for (int y = 0; y < height; ++y) {
            std::memcpy(&_pixels[(size_t(offsetY + y) * _pixelsWide + offsetX) * bpp], src + size_t(y) * rowBytes,
                        rowBytes);
        }
    }
    return true;
}

void Texture2D::setTexParameters(const TexParams& texParams)
{
    _texParams = texParams;
    applyTexParameters();
}

void Texture2D::setAntiAliasTexParameters()
{
    _texParams.minFilter = GL_LINEAR;
    _texParams.magFilter = GL_LINEAR;
    applyTexParameters();
}

void Texture2D::setAliasTexParameters()
{
    _texParams.minFilter = GL_NEAREST;
    _texParams.magFilter = GL_NEAREST;
    applyTexParameters();
}

void Texture2D::applyTexParameters()
{
    markContentChanged();
    if (_name == 0 || !GL::isEnabled()) {
        return;
    }
    GL::bindTexture2D(_name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(_texParams.minFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(_texParams.magFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLint>(_texParams.wrapS));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLint>(_texParams.wrapT));
}

std::string Texture2D::getDescription() const
{
    char text[96];
    std::snprintf(text, sizeof(text), "<Texture2D | Name = %u | Dimensions = %d x %d>", _name, _pixelsWide,
                  _pixelsHigh);
    return text;
}

} // namespace cocos2d
