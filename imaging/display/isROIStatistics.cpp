#include "isROIStatistics.h"

#include "isActorImage.h"

#include "NSStringUtil.h"

#include <cmath>
#include <cstdint>
#include <vector>

using cocos2d::Mat4;
using cocos2d::Vec3;

namespace isImageSDK {

namespace {

// The translation part of inverse(M) x translation(p): the point in slice millimetres.
Vec3 toSlicePlane(const Mat4& inverse, const Vec3& p)
{
    Mat4 translation;
    Mat4::createTranslation(p, &translation);
    return (inverse * translation).getTranslation();
}

// Slice millimetres to pixel units with the half-pixel offset; the sum in double.
float toPixelUnits(float millimetres, float spacing)
{
    return static_cast<float>(static_cast<double>(millimetres / spacing) + 0.5);
}

// The first and last index a bound pair covers on an axis of `size` pixels: from trunc(lo)
// while index <= hi, restricted to 0 .. size - 1. False when no index remains (also for NaN).
bool clampedRange(float lo, float hi, int size, int* first, int* last)
{
    if (size <= 0 || !(hi >= 0.0f) || std::isnan(lo))
        return false;
    const double start = lo > 0.0f ? std::trunc(static_cast<double>(lo)) : 0.0;
    const double end = std::floor(static_cast<double>(hi));
    const double top = static_cast<double>(size - 1);
    if (start > top)
        return false;
    *first = static_cast<int>(start);
    *last = static_cast<int>(end < top ? end : top);
    return *first <= *last;
}

template <class Sample, class Inside>
void scanRegion(const isSliceInfo& slice, float x0, float y0, float x1, float y1, const Inside& inside,
                ROIRegionStats& stats)
{
    int i0, i1, j0, j1;
    std::vector<float> samples;
    double sum = 0.0;
    if (clampedRange(x0, x1, slice.columns, &i0, &i1) && clampedRange(y0, y1, slice.rows, &j0, &j1)) {
        samples.reserve(static_cast<size_t>(i1 - i0 + 1) * static_cast<size_t>(j1 - j0 + 1));
        const Sample* pixels = reinterpret_cast<const Sample*>(slice.pixels);
        for (int j = j0; j <= j1; ++j) {
            const Sample* row = pixels + static_cast<size_t>(j) * static_cast<size_t>(slice.columns);
            for (int i = i0; i <= i1; ++i) {
                if (!inside(i, j))
                    continue;
                const float v = static_cast<float>(row[i]);
                if (v < stats.minimum)
                    stats.minimum = v;
                if (v > stats.maximum)
                    stats.maximum = v;
                samples.push_back(v);
                sum += v;
            }
        }
    }
    const size_t count = samples.size();
    if (count == 0) {
        stats = ROIRegionStats();
        return;
    }
    stats.total = static_cast<float>(sum);
    stats.mean = static_cast<float>(sum / static_cast<double>(count));
    double squares = 0.0;
    for (float v : samples) {
        const float d = v - stats.mean;
        squares += d * d;
    }
    const double divisor = count > 1 ? static_cast<double>(count - 1) : 1.0;
    stats.deviation = static_cast<float>(std::sqrt(squares / divisor));
}

template <class Inside>
bool scanByPixelType(const isSliceInfo& slice, float x0, float y0, float x1, float y1, const Inside& inside,
                     ROIRegionStats& stats)
{
    if (!slice.pixels)
        return false;
    switch (slice.pixelType) {
    case PIXEL_U8: scanRegion<uint8_t>(slice, x0, y0, x1, y1, inside, stats); return true;
    case PIXEL_U16: scanRegion<uint16_t>(slice, x0, y0, x1, y1, inside, stats); return true;
    case PIXEL_I16: scanRegion<int16_t>(slice, x0, y0, x1, y1, inside, stats); return true;
    case PIXEL_FLOAT: scanRegion<float>(slice, x0, y0, x1, y1, inside, stats); return true;
    default: return false;
    }
}

// Two decimals, trailing zeros and point removed; the value rounded to float first.
std::string number(double value)
{
    return floatToString(static_cast<float>(value), 2);
}

// Area, width and height in square centimetres and centimetres from millimetres; on a slice
// whose file gave no pixel spacing, where the "millimetres" are pixels, in pixels unscaled.
std::string regionText(const isSliceInfo& slice, double area, double widthMm, double heightMm,
                       const ROIRegionStats& s)
{
    const bool mm = slice.pixelSpacingPresent != 0;
    const double square = mm ? 0.01 : 1.0, linear = mm ? 0.1 : 1.0;
    return "Area:" + number(area * square) + (mm ? "" : "px\u00b2") + ",W:" + number(widthMm * linear) +
           " H:" + number(heightMm * linear) + (mm ? " Unit:cm" : " Unit:px") + "\nAvg:" + number(s.mean) +
           ",StdDev:" + number(s.deviation) + ",Total:" + number(s.total) + "\nMin:" + number(s.minimum) +
           ",Max:" + number(s.maximum);
}

bool polygonText(const isSliceInfo& slice, const Mat4& inverse, const ROIPolygon& polygon, std::string& text)
{
    const size_t n = polygon.vertices.size();
    if (n == 0)
        return false;
    std::vector<float> xy(n * 2);
    for (size_t k = 0; k < n; ++k) {
        const Vec3 local = toSlicePlane(inverse, polygon.vertices[k]);
        xy[2 * k] = local.x;
        xy[2 * k + 1] = local.y;
    }
    float minX = xy[0], maxX = xy[0], minY = xy[1], maxY = xy[1];
    for (size_t k = 1; k < n; ++k) {
        minX = std::fmin(minX, xy[2 * k]);
        maxX = std::fmax(maxX, xy[2 * k]);
        minY = std::fmin(minY, xy[2 * k + 1]);
        maxY = std::fmax(maxY, xy[2 * k + 1]);
    }
    const int count = static_cast<int>(n);
    const float area = polygonArea(xy.data(), count);
    for (size_t k = 0; k < n; ++k) {
        xy[2 * k] = toPixelUnits(xy[2 * k], slice.spacingX);
        xy[2 * k + 1] = toPixelUnits(xy[2 * k + 1], slice.spacingY);
    }
    ROIRegionStats stats;
    if (!initialROIExtremes(slice.pixelType, &stats.minimum, &stats.maximum))
        return false;
    if (!samplePolygonRegion(slice, xy.data(), count, toPixelUnits(minX, slice.spacingX),
                             toPixelUnits(minY, slice.spacingY), toPixelUnits(maxX, slice.spacingX),
                             toPixelUnits(maxY, slice.spacingY), stats))
        return false;
    text = regionText(slice, area, static_cast<double>(maxX) - minX, static_cast<double>(maxY) - minY, stats);
    return true;
}

bool circleText(const isSliceInfo& slice, const Mat4& inverse, const ROICircle& circle, std::string& text)
{
    const float r = circle.center.distance(circle.rim);
    const Vec3 c = toSlicePlane(inverse, circle.center);
    const double area = static_cast<double>(r) * 3.1415926 * r;
    ROIRegionStats stats;
    if (!initialROIExtremes(slice.pixelType, &stats.minimum, &stats.maximum))
        return false;
    if (!sampleCircleRegion(slice, c.x, c.y, r * r, toPixelUnits(c.x - r, slice.spacingX),
                            toPixelUnits(c.y - r, slice.spacingY), toPixelUnits(c.x + r, slice.spacingX),
                            toPixelUnits(c.y + r, slice.spacingY), stats))
        return false;
    const double width = static_cast<double>(c.x + r) - (c.x - r);
    const double height = static_cast<double>(c.y + r) - (c.y - r);
    text = regionText(slice, area, width, height, stats);
    return true;
}

} // namespace

bool initialROIExtremes(int pixelType, float* minimum, float* maximum)
{
    switch (pixelType) {
    case PIXEL_U8: *minimum = 255.0f; *maximum = 0.0f; return true;
    case PIXEL_U16: *minimum = 65535.0f; *maximum = 0.0f; return true;
    case PIXEL_I16: *minimum = 32767.0f; *maximum = -32768.0f; return true;
    case PIXEL_FLOAT: *minimum = 100000.0f; *maximum = -100000.0f; return true;
    default: return false;
    }
}

int pointInPolygon(const float* xy, int count, float x, float y)
{
    int inside = 0;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const float xi = xy[2 * i], yi = xy[2 * i + 1];
        const float xj = xy[2 * j], yj = xy[2 * j + 1];
        if (((yi <= y && y < yj) || (yj <= y && y < yi)) && (xj - xi) * (y - yi) / (yj - yi) + xi > x)
            inside = !inside;
    }
    return inside;
}

float polygonArea(const float* xy, int count)
{
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        const int next = (i + 1) % count;
        const float a = xy[2 * i] * xy[2 * next + 1];
        const float b = xy[2 * i + 1] * xy[2 * next];
        sum += static_cast<double>(a) - static_cast<double>(b);
    }
    return static_cast<float>(std::fabs(sum * 0.5));
}

bool samplePolygonRegion(const isSliceInfo& slice, const float* xy, int count, float x0, float y0, float x1,
                         float y1, ROIRegionStats& stats)
{
    auto inside = [xy, count](int i, int j) {
        return pointInPolygon(xy, count, static_cast<float>(i), static_cast<float>(j)) != 0;
    };
    return scanByPixelType(slice, x0, y0, x1, y1, inside, stats);
}

bool sampleCircleRegion(const isSliceInfo& slice, float cx, float cy, float radiusSquared, float x0, float y0,
                        float x1, float y1, ROIRegionStats& stats)
{
    const float sx = slice.spacingX, sy = slice.spacingY;
    auto inside = [=](int i, int j) {
        const float dx = static_cast<float>(i) * sx - cx;
        const float dy = static_cast<float>(j) * sy - cy;
        const float dx2 = dx * dx;
        const float dy2 = dy * dy;
        return dx2 + dy2 <= radiusSquared;
    };
    return scanByPixelType(slice, x0, y0, x1, y1, inside, stats);
}

bool sampleSliceAt(const isSliceInfo& slice, const Vec3& worldPoint, float& value)
{
    if (!slice.pixels || slice.pixelType == PIXEL_RGB)
        return false;
    const Vec3 local = toSlicePlane(slice.matrix.getInversed(), worldPoint);
    const double column = std::trunc(static_cast<double>(local.x / slice.spacingX) + 0.5);
    const double row = std::trunc(static_cast<double>(local.y / slice.spacingY) + 0.5);
    if (!(column >= 0.0 && column < slice.columns && row >= 0.0 && row < slice.rows))
        return false;
    const size_t index = static_cast<size_t>(row) * static_cast<size_t>(slice.columns) + static_cast<size_t>(column);
    switch (slice.pixelType) {
    case PIXEL_U8: value = slice.pixels[index]; return true;
    case PIXEL_U16: value = reinterpret_cast<const uint16_t*>(slice.pixels)[index]; return true;
    case PIXEL_I16: value = reinterpret_cast<const int16_t*>(slice.pixels)[index]; return true;
    case PIXEL_FLOAT: value = reinterpret_cast<const float*>(slice.pixels)[index]; return true;
    default: return false;
    }
}

bool computeROIStatisticsText(const isSliceInfo& slice, const ROIData& record, std::string& text)
{
    if (!slice.pixels || slice.pixelType == PIXEL_RGB)
        return false;
    const Mat4 inverse = slice.matrix.getInversed();
    switch (record.getKind()) {
    case ROI_POLYGON: {
        const ROIPolygon* polygon = dynamic_cast<const ROIPolygon*>(&record);
        return polygon && polygonText(slice, inverse, *polygon, text);
    }
    case ROI_CIRCLE: {
        const ROICircle* circle = dynamic_cast<const ROICircle*>(&record);
        return circle && circleText(slice, inverse, *circle, text);
    }
    case ROI_POINT: {
        const Vec3 p = record.getPoint(0);
        float value = 0.0f;
        if (!sampleSliceAt(slice, p, value)) {
            text = "Unknown";
        } else if (!slice.pixelSpacingPresent) {
            // Without a pixel spacing no position in millimetres is known: the column and row
            // of the pixel sampled.
            const Vec3 local = toSlicePlane(inverse, p);
            const double column = std::trunc(static_cast<double>(local.x / slice.spacingX) + 0.5);
            const double row = std::trunc(static_cast<double>(local.y / slice.spacingY) + 0.5);
            text = "Value:" + number(value) + "\nx=" + number(column) + ",y=" + number(row) + " px";
        } else {
            // The world point lies in the slice's display frame; the reader wants the patient
            // coordinates the files give, as the slice-position label shows them.
            float patient[3] = {p.x, p.y, p.z};
            reorientForPatientPosition(&slice, patient);
            text = "Value:" + number(value) + "\nx=" + number(patient[0]) + ",y=" + number(patient[1]) +
                   ",z=" + number(patient[2]);
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace isImageSDK
