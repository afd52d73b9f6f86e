// Codes shared by the image container, the colour table and the slicing filters.
//
// The numeric values are part of the series cache format and of the notifications other
// components exchange, so they never change.
#pragma once

#include <cstddef>

namespace isImageSDK {

// Sample type of a slice or volume. Bytes per pixel: 1, 2, 4, 2, 3.
enum PixelType {
    PIXEL_U8 = 0,     // unsigned 8-bit
    PIXEL_I16 = 1,    // signed 16-bit
    PIXEL_FLOAT = 2,  // 32-bit IEEE float
    PIXEL_U16 = 3,    // unsigned 16-bit
    PIXEL_RGB = 4,    // three unsigned 8-bit samples per pixel, R, G, B
};

// Bytes per pixel of a pixel type; `unknown` for a code outside 0 to 4 (the container uses 3
// when sizing a slice and 4 when sizing a volume slice of an unknown type).
inline int bytesPerPixel(int pixelType, int unknown = 3)
{
    switch (pixelType) {
    case PIXEL_U8: return 1;
    case PIXEL_I16: return 2;
    case PIXEL_FLOAT: return 4;
    case PIXEL_U16: return 2;
    case PIXEL_RGB: return 3;
    default: return unknown;
    }
}

// How the planes of a thick slab are combined into one.
enum SlabMode {
    SLAB_MIN = 0,
    SLAB_MAX = 1,
    SLAB_AVERAGE = 2,
    SLAB_SUM = 3,
};

// Slicing axis of the orthogonal slicer: 0 planes of constant slice number (the plane as
// acquired), 1 planes of constant column, 2 planes of constant row.
enum PlaneAxis {
    PLANE_ACQUIRED = 0,
    PLANE_REFORMAT1 = 1,
    PLANE_REFORMAT2 = 2,
};

// Interpolation of the oblique reslicer: 2 is tricubic, every other value trilinear.
enum InterpolationMode {
    INTERPOLATION_LINEAR = 1,
    INTERPOLATION_CUBIC = 2,
};

enum ModalityCode {
    MODALITY_CT = 0,
    MODALITY_PT = 1,
    MODALITY_US = 2,
    MODALITY_MR = 3,
    MODALITY_DX = 4,
    MODALITY_NM = 5,
    MODALITY_XA = 6,
    MODALITY_OTHER = 7,
};

// Grey curve of the colour table's window function.
enum WindowFunction {
    WINDOW_LINEAR = 0,
    WINDOW_LOG = 1,
    WINDOW_INVERSE_LOG = 2,
};

// Largest single pixel block the container allocates, in bytes (exclusive).
constexpr long long kMaxBlockBytes = 607376096LL;

} // namespace isImageSDK
