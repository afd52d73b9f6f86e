// The phantom of the series generator as an image volume in memory, in any grey pixel type or
// RGB, with the geometry the phantom's DICOM files carry: slice k's matrix maps slice
// millimetres to the patient coordinates of the phantom's voxels.
#pragma once

#include "Phantom.h"
#include "isImageData.h"

#include <cstring>

namespace qvtest {

// Sample of a voxel by pixel type: CT stored values for signed 16-bit, MR signal for unsigned
// 16-bit, 30 x (solid + 2) for unsigned 8-bit (background 30), the solid's colour for RGB.
inline isImageSDK::isImageData* phantomVolume(const qvgen::Phantom& phantom, int pixelType)
{
    using namespace isImageSDK;
    const qvgen::PhantomSpec& spec = phantom.spec();
    cocos2d::Mat4 m;
    for (int a = 0; a < 3; ++a) {
        m.m[a] = static_cast<float>(phantom.rowDirection()[a]);
        m.m[4 + a] = static_cast<float>(phantom.columnDirection()[a]);
        m.m[8 + a] = static_cast<float>(phantom.normal()[a]);
    }
    double origin[3];
    phantom.slicePosition(0, origin);
    m.m[12] = static_cast<float>(origin[0]);
    m.m[13] = static_cast<float>(origin[1]);
    m.m[14] = static_cast<float>(origin[2]);
    const int dims[3] = {spec.columns, spec.rows, spec.slices};
    const float spacing[3] = {static_cast<float>(spec.columnSpacing), static_cast<float>(spec.rowSpacing),
                              static_cast<float>(spec.sliceSpacing)};
    isImageData* image = isImageData::create();
    if (!image->allocateVolume(dims, spacing, pixelType, 0, 0, m))
        return nullptr;
    std::vector<int8_t> labels(spec.columns);
    for (int k = 0; k < spec.slices; ++k) {
        isSliceInfo* s = image->getSlices()[k];
        for (int j = 0; j < spec.rows; ++j) {
            phantom.labelRow(j, k, labels.data());
            for (int i = 0; i < spec.columns; ++i) {
                const size_t p = static_cast<size_t>(j) * spec.columns + i;
                const int label = labels[i];
                const double value = label < 0 ? (pixelType == PIXEL_U16 ? 0 : qvgen::Phantom::kBackgroundCT)
                                               : (pixelType == PIXEL_U16 ? phantom.shapes()[label].mr
                                                                         : phantom.shapes()[label].ct);
                switch (pixelType) {
                case PIXEL_U8: s->pixels[p] = static_cast<unsigned char>(30 * (label + 2)); break;
                case PIXEL_I16: reinterpret_cast<int16_t*>(s->pixels)[p] = static_cast<int16_t>(value); break;
                case PIXEL_U16: reinterpret_cast<uint16_t*>(s->pixels)[p] = static_cast<uint16_t>(value); break;
                case PIXEL_RGB:
                    for (int c = 0; c < 3; ++c)
                        s->pixels[3 * p + c] = label < 0 ? 0 : phantom.shapes()[label].rgb[c];
                    break;
                default: reinterpret_cast<float*>(s->pixels)[p] = static_cast<float>(value); break;
                }
            }
        }
        s->pixelsLoaded = 1;
        s->windowWidth = 400;
        s->windowCenter = 40;
    }
    return image;
}

} // namespace qvtest
