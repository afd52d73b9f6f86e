#include "renderer/CCImage.h"

#include <new>
#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "base/CCData.h"
#include "base/ccMacros.h"
#include "platform/CCFileUtils.h"

namespace cocos2d {

namespace {

// Pixel counts beyond this are refused before any allocation (a 32768 x 32768 RGBA image is
// 4 GiB): a corrupt header must not make us allocate what it claims.
constexpr size_t kMaxPixels = size_t(1) << 28;

bool isPNG(const unsigned char* data, size_t len)
{
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return len >= 8 && std::memcmp(data, sig, 8) == 0;
}

bool isJPEG(const unsigned char* data, size_t len)
{
    return len >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// ----- libpng glue: errors return through the setjmp in the caller.

struct PngReadSource {
    const unsigned char* data;
    size_t size;
    size_t offset;
};

void pngRead(png_structp png, png_bytep out, png_size_t length)
{
    auto* src = static_cast<PngReadSource*>(png_get_io_ptr(png));
    if (src->size - src->offset < length) {
        png_error(png, "truncated data");
    }
    std::memcpy(out, src->data + src->offset, length);
    src->offset += length;
}

// libpng's write function: it reports failure only through png_error, and no C++ exception may
// cross libpng's C frames.
void pngWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) {
        png_error(png, "out of memory");
    }
}

void pngFlush(png_structp) {}

void pngWarning(png_structp, png_const_charp) {}

// Returns to the setjmp of the decoder or encoder without printing.
[[noreturn]] void pngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

// ----- libjpeg glue

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void jpegErrorExit(j_common_ptr cinfo)
{
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    log("Image: JPEG error: %s", message);
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void jpegOutputMessage(j_common_ptr) {}

std::string lowerExtension(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string();
    }
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

} // namespace

Image::Image() = default;
Image::~Image() = default;

bool Image::initWithImageFile(const std::string& path)
{
    const std::string fullPath = FileUtils::getInstance()->fullPathForFilename(path);
    if (fullPath.empty()) {
        return false;
    }
    Data data = FileUtils::getInstance()->getDataFromFile(fullPath);
    if (data.isNull()) {
        log("Image: cannot read %s", fullPath.c_str());
        return false;
    }
    if (!initWithImageData(data.getBytes(), data.getSize())) {
        log("Image: cannot decode %s", fullPath.c_str());
        return false;
    }
    return true;
}

bool Image::initWithImageData(const unsigned char* data, ssize_t dataLen)
{
    _data.clear();
    _width = _height = 0;
    _hasAlpha = _premultiplied = false;
    _fileType = Format::UNKNOWN;
    if (!data || dataLen <= 0) {
        return false;
    }
    const size_t len = static_cast<size_t>(dataLen);
    bool ok = false;
    if (isPNG(data, len)) {
        _fileType = Format::PNG;
        ok = decodePNG(data, len);
    } else if (isJPEG(data, len)) {
        _fileType = Format::JPG;
        ok = decodeJPEG(data, len);
    }
    if (!ok) {
        _data.clear();
        _width = _height = 0;
        _hasAlpha = false;
        _fileType = Format::UNKNOWN;
    }
    return ok;
}

bool Image::initWithRawData(const unsigned char* data, ssize_t dataLen, int width, int height, int bitsPerComponent,
                            bool preMulti)
{
    if (!data || width <= 0 || height <= 0 || bitsPerComponent != 8 ||
        size_t(width) * size_t(height) > kMaxPixels) {
        return false;
    }
    const size_t pixels = size_t(width) * size_t(height);
    int channels = 0;
    if (size_t(dataLen) == pixels * 3) {
        channels = 3;
    } else if (size_t(dataLen) >= pixels * 4) {
        channels = 4;
    } else {
        return false;
    }
    _data.assign(data, data + pixels * channels);
    _width = width;
    _height = height;
    _hasAlpha = channels == 4;
    _premultiplied = _hasAlpha && preMulti;
    _fileType = Format::RAW_DATA;
    return true;
}

bool Image::decodePNG(const unsigned char* data, size_t dataLen)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    PngReadSource source{data, dataLen, 0};
    // Locals that live across setjmp must not be modified after it (or be volatile).
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, pngRead);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if (width == 0 || height == 0 || size_t(width) * size_t(height) > kMaxPixels) {
        png_error(png, "image too large");
    }
    if (bitDepth == 16) {
        png_set_strip_16(png);
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    if (channels != 3 && channels != 4) {
        png_error(png, "unexpected channel count");
    }
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != size_t(width) * size_t(channels)) {
        png_error(png, "unexpected row size");
    }
    _data.resize(rowBytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) {
        rows[y] = _data.data() + y * rowBytes;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    _width = int(width);
    _height = int(height);
    _hasAlpha = channels == 4;
    if (_hasAlpha) {
        premultiply();
    }
    return true;
}

bool Image::decodeJPEG(const unsigned char* data, size_t dataLen)
{
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.output_message = jpegOutputMessage;
    jpeg_create_decompress(&cinfo);
    std::vector<unsigned char> scanline;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(dataLen));
    jpeg_read_header(&cinfo, TRUE);
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);

    const size_t width = cinfo.output_width;
    const size_t height = cinfo.output_height;
    if (width == 0 || height == 0 || width * height > kMaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    _data.resize(width * height * 3);
    scanline.resize(width * size_t(cinfo.output_components));
    // Adobe writes CMYK inverted (0 = full ink); libjpeg reports it through saw_Adobe_marker.
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const size_t y = cinfo.output_scanline;
        if (cmyk) {
            JSAMPROW row = scanline.data();
            jpeg_read_scanlines(&cinfo, &row, 1);
            unsigned char* out = _data.data() + y * width * 3;
            for (size_t x = 0; x < width; ++x) {
                int c = scanline[x * 4], m = scanline[x * 4 + 1], yy = scanline[x * 4 + 2], k = scanline[x * 4 + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yy = 255 - yy;
                    k = 255 - k;
                }
                // Now 255 means no ink: channel = (1 - C)(1 - K).
                out[x * 3] = static_cast<unsigned char>((c * k + 127) / 255);
                out[x * 3 + 1] = static_cast<unsigned char>((m * k + 127) / 255);
                out[x * 3 + 2] = static_cast<unsigned char>((yy * k + 127) / 255);
            }
        } else {
            JSAMPROW row = _data.data() + y * width * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    _width = int(width);
    _height = int(height);
    _hasAlpha = false;
    return true;
}

void Image::premultiply()
{
    unsigned char* p = _data.data();
    const size_t pixels = size_t(_width) * size_t(_height);
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        const unsigned a = p[3];
        p[0] = static_cast<unsigned char>((p[0] * a + 127) / 255);
        p[1] = static_cast<unsigned char>((p[1] * a + 127) / 255);
        p[2] = static_cast<unsigned char>((p[2] * a + 127) / 255);
    }
    _premultiplied = true;
}

std::vector<unsigned char> Image::straightPixels(int channels) const
{
    const size_t pixels = size_t(_width) * size_t(_height);
    std::vector<unsigned char> out(pixels * size_t(channels));
    const int srcChannels = _hasAlpha ? 4 : 3;
    const unsigned char* s = _data.data();
    unsigned char* d = out.data();
    for (size_t i = 0; i < pixels; ++i, s += srcChannels, d += channels) {
        const unsigned a = _hasAlpha ? s[3] : 255;
        for (int c = 0; c < 3; ++c) {
            unsigned v = s[c];
            if (_premultiplied && a != 0 && a != 255) {
                v = std::min(255u, (v * 255 + a / 2) / a);
            }
            d[c] = static_cast<unsigned char>(v);
        }
        if (channels == 4) {
            d[3] = static_cast<unsigned char>(a);
        }
    }
    return out;
}

bool Image::encodePNG(std::vector<unsigned char>& out, bool isToRGB) const
{
    if (_data.empty()) {
        return false;
    }
    const int channels = (_hasAlpha && !isToRGB) ? 4 : 3;
    const std::vector<unsigned char> pixels = straightPixels(channels);
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_const_bytep> rows(static_cast<size_t>(_height));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        out.clear();
        return false;
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, png_uint_32(_width), png_uint_32(_height), 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t rowBytes = size_t(_width) * size_t(channels);
    for (int y = 0; y < _height; ++y) {
        rows[size_t(y)] = pixels.data() + size_t(y) * rowBytes;
    }
    png_write_rows(png, const_cast<png_bytepp>(rows.data()), png_uint_32(_height));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool Image::encodeJPEG(std::vector<unsigned char>& out, int quality) const
{
    if (_data.empty()) {
        return false;
    }
    const std::vector<unsigned char> pixels = straightPixels(3);
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.output_message = jpegOutputMessage;
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(buffer);
        out.clear();
        return false;
    }
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(_width);
    cinfo.image_height = JDIMENSION(_height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t rowBytes = size_t(_width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + cinfo.next_scanline * rowBytes;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    out.assign(buffer, buffer + size);
    free(buffer);
    return true;
}

bool Image::saveToFile(const std::string& filename, bool isToRGB) const
{
    if (_data.empty() || filename.empty()) {
        return false;
    }
    const std::string ext = lowerExtension(filename);
    std::vector<unsigned char> encoded;
    bool ok = false;
    if (ext == ".png") {
        ok = encodePNG(encoded, isToRGB);
    } else if (ext == ".jpg" || ext == ".jpeg") {
        ok = encodeJPEG(encoded, 90);
    } else {
        log("Image: cannot save %s: unknown extension", filename.c_str());
        return false;
    }
    if (!ok) {
        log("Image: cannot encode %s", filename.c_str());
        return false;
    }
    Data data;
    data.copy(encoded.data(), static_cast<ssize_t>(encoded.size()));
    if (!FileUtils::getInstance()->writeDataToFile(data, filename)) {
        log("Image: cannot write %s", filename.c_str());
        return false;
    }
    return true;
}

} // namespace cocos2d
