// Region and point statistics of measurements over one slice record.
//
// Coordinates: world points (patient millimetres) are taken to the slice plane through the
// inverse of the slice matrix (slice millimetres); pixel (i, j) lies at (i * spacingX,
// j * spacingY). Region boxes and polygon vertices are carried in pixel units with half a pixel
// added (x / spacingX + 0.5), so a box bound b covers the pixel indices from trunc(b) upward.
// The samplers scan only the part of the box that lies on the slice. Main thread.
#pragma once

#include "isROIData.h"
#include "isSliceInfo.h"

#include <string>

namespace isImageSDK {

// The five outputs of a region sampler, in this order.
struct ROIRegionStats {
    float minimum = 0.0f;
    float maximum = 0.0f;
    float mean = 0.0f;
    float deviation = 0.0f;
    float total = 0.0f;
};

// The extremes a scan starts from, by pixel type (false for a type without grey samples).
bool initialROIExtremes(int pixelType, float* minimum, float* maximum);

// Even-odd crossing test of (x, y) against `count` (x, y) pairs: 1 inside, 0 outside.
int pointInPolygon(const float* xy, int count, float x, float y);
// Area enclosed by `count` (x, y) pairs (shoelace formula, absolute value).
float polygonArea(const float* xy, int count);

// Scan the box (x0, y0)-(x1, y1) in pixel units and gather the pixels inside the polygon (whose
// vertices are in pixel units) or the disc (centre in slice millimetres, squared radius). The
// caller seeds stats.minimum and stats.maximum with initialROIExtremes. False, with stats
// untouched, for a slice without pixels or of a pixel type other than 0 to 3. A region without
// any pixel gives all five values 0.
bool samplePolygonRegion(const isSliceInfo& slice, const float* xy, int count, float x0, float y0, float x1,
                         float y1, ROIRegionStats& stats);
bool sampleCircleRegion(const isSliceInfo& slice, float cx, float cy, float radiusSquared, float x0, float y0,
                        float x1, float y1, ROIRegionStats& stats);

// The stored sample under a world point. False, value untouched, outside the slice, without
// pixels, or on an RGB slice.
bool sampleSliceAt(const isSliceInfo& slice, const cocos2d::Vec3& worldPoint, float& value);

// The statistics text answered for a measurement on a slice:
// regions (circle, polygon): "Area:..,W:.. H:.. Unit:cm\nAvg:..,StdDev:..,Total:..\nMin:..,Max:..";
// points: "Value:..\nx=..,y=..,z=.." (patient coordinates, millimetres) or "Unknown" off the
// slice. On a slice whose file gave no pixel spacing the sizes are in pixels
// ("Area:..px\u00b2,W:.. H:.. Unit:px") and a point gives its column and row ("x=..,y=.. px").
// False (no answer) for lines and angles, slices without pixels, RGB slices and unknown pixel
// types.
bool computeROIStatisticsText(const isSliceInfo& slice, const ROIData& record, std::string& text);

} // namespace isImageSDK
