#include "isShaderWindow.h"

#include "isClut.h"
#include "isImageTypes.h"

#include <cmath>
#include <limits>

namespace isImageSDK {

namespace {

// Truncation toward zero into a long long, saturated at the int range as the colour table's
// own truncation is; NaN gives 0.
long long truncated(double v)
{
    if (!(v == v))
        return 0;
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<long long>(v);
}

} // namespace

isShaderWindow computeShaderWindow(const isClut& clut, int pixelType, float valueScale, float valueOffset)
{
    isShaderWindow w;
    const int curve = clut.getCurve();
    w.curve = curve == WINDOW_LOG || curve == WINDOW_INVERSE_LOG ? curve : WINDOW_LINEAR;
    const double level = clut.getLevel(), width = clut.getWidth();

    double lo, hi;
    if (pixelType == PIXEL_FLOAT) {
        const double start = static_cast<float>(level - width * 0.5);
        lo = static_cast<double>(valueScale) * start + valueOffset;
        hi = static_cast<double>(valueScale) * (start + width) + valueOffset;
    } else {
        // Where the type's stored values start in the texture; the window's ends may lie
        // outside the type's range, as in the colour table.
        const long long inputMin = pixelType == PIXEL_I16 ? -32768 : 0;
        const long long low = truncated(level - width * 0.5);
        long long high = truncated(level + width * 0.5);
        if (high <= low)
            high = low + 1;
        lo = static_cast<double>(low - inputMin);
        hi = static_cast<double>(high - inputMin);
    }
    const double span = hi - lo;
    w.wwMin = static_cast<float>(lo);
    w.wwMax = static_cast<float>(hi);
    w.linear = static_cast<float>(255.0 / span);
    w.logRatio = static_cast<float>(9.0 / span);
    return w;
}

int shaderIndex(const isShaderWindow& w, float v)
{
    constexpr float kLog10 = 0.43429448190325176f;
    constexpr float kIndexEpsilon = 0.001f;
    float index;
    if (w.curve == WINDOW_LOG || w.curve == WINDOW_INVERSE_LOG) {
        if (v >= w.wwMax)
            index = 255.0f;
        else if (v <= w.wwMin)
            index = 0.0f;
        else if (w.curve == WINDOW_LOG)
            index = std::log((v - w.wwMin) * w.logRatio + 1.0f) * kLog10 * 255.0f;
        else
            index = (1.0f - std::log((w.wwMax - v) * w.logRatio + 1.0f) * kLog10) * 255.0f;
    } else {
        index = (v - w.wwMin) * w.linear;
    }
    index = std::floor(index + kIndexEpsilon);
    if (!(index > 0.0f))
        return 0;
    return index >= 255.0f ? 255 : static_cast<int>(index);
}

} // namespace isImageSDK
