#include "thumbnailShape.h"

#include "dataService.h"
#include "renderer/CCImage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

USING_NS_CC;

void giveThumbnailPixelShape(const std::string& png, const char* spacing)
{
    char* end = nullptr;
    const double rowSpacing = std::strtod(spacing, &end);
    if (end == spacing || *end != '\\')
        return;
    const char* second = end + 1;
    const double columnSpacing = std::strtod(second, &end);
    if (end == second || !(rowSpacing > 0.0) || !(columnSpacing > 0.0))
        return;
    const double ratio = rowSpacing / columnSpacing;  // height of a pixel over its width
    if (!std::isfinite(ratio) || ratio > 16.0 || ratio < 1.0 / 16.0 || std::fabs(ratio - 1.0) < 0.01)
        return;
    Image picture;
    if (!picture.initWithImageFile(png))
        return;
    const int width = picture.getWidth(), height = picture.getHeight();
    const int channels = picture.getBitPerPixel() / 8;
    if (width < 1 || height < 1 || picture.getDataLen() < static_cast<ssize_t>(width) * height * channels)
        return;
    const int outWidth = ratio < 1.0 ? static_cast<int>(std::lround(width / ratio)) : width;
    const int outHeight = ratio > 1.0 ? static_cast<int>(std::lround(height * ratio)) : height;
    if (outWidth > 8192 || outHeight > 8192)
        return;
    // Linear between the two nearest source texels along the stretched axis.
    const unsigned char* in = picture.getData();
    const bool across = outWidth != width;
    const int outLength = across ? outWidth : outHeight, inLength = across ? width : height;
    std::vector<unsigned char> out(static_cast<size_t>(outWidth) * outHeight * 3);
    for (int i = 0; i < outLength; ++i) {
        const double at = std::max(0.0, (i + 0.5) * inLength / outLength - 0.5);
        const int a = std::min(static_cast<int>(at), inLength - 1), b = std::min(a + 1, inLength - 1);
        const double t = at - a;
        const int lines = across ? height : width;
        for (int j = 0; j < lines; ++j) {
            const int x0 = across ? a : j, y0 = across ? j : a, x1 = across ? b : j, y1 = across ? j : b;
            const unsigned char* p0 = in + (static_cast<size_t>(y0) * width + x0) * channels;
            const unsigned char* p1 = in + (static_cast<size_t>(y1) * width + x1) * channels;
            unsigned char* q = &out[(static_cast<size_t>(across ? j : i) * outWidth + (across ? i : j)) * 3];
            for (int c = 0; c < 3; ++c)
                q[c] = static_cast<unsigned char>(std::lround(p0[c] + (p1[c] - p0[c]) * t));
        }
    }
    dataService::onSdkSavePng(outWidth, outHeight, out.data(), png.c_str());
}
