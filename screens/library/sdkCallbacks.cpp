#include "sdkCallbacks.h"

#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "cocos2d.h"
#include "dcmLib.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

namespace {

void onSdkLog(const char* text)
{
    cocos2d::log("%s", text ? text : "");
}

// Of the library's messages, only a stored image concerns the program before the network service
// exists: the record goes to the library database (notification 2017, which takes it over).
void onSdkMessage(int code, const char* text)
{
    if (code != 3 || !text)
        return;
    auto* record = reinterpret_cast<redIRI::DCM_MESSAGE*>(const_cast<char*>(text));
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->setUserData(record, [](void* p) { delete static_cast<redIRI::DCM_MESSAGE*>(p); });
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_DB_ADD_IMAGE, data, nullptr,
                                                                true);
}

void onSdkGb2Utf8(const char* in, char* out, int outSize)
{
    if (!out || outSize <= 0)
        return;
    std::memset(out, 0, static_cast<size_t>(outSize));
    const std::string converted = ansiToUtf8(in ? in : "");
    std::memcpy(out, converted.data(), std::min(converted.size(), static_cast<size_t>(outSize - 1)));
}

char* onSdkReadFile(const char* path, unsigned long* size, bool raw)
{
    return reinterpret_cast<char*>(readFileData(path ? path : "", size, raw));
}

bool onSdkSavePng(int width, int height, unsigned char* rgb, const char* path)
{
    if (!rgb || !path || width <= 0 || height <= 0)
        return false;
    // The names the library asks for ("thrumb0" ...) carry no extension, so the file is written
    // here rather than through an image writer that chooses the format by extension.
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y)
            png_write_row(png, rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3);
        png_write_end(png, info);
        ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok)
        std::remove(path);
    return ok;
}

} // namespace

void installSdkCallbacks()
{
    redIRI::setLogCallback(onSdkLog);
    redIRI::setMsgCallback(onSdkMessage);
    redIRI::setgb2utf8Callback(onSdkGb2Utf8);
    redIRI::setReadFileCallback(onSdkReadFile);
    redIRI::setSavePngCallback(onSdkSavePng);
}
