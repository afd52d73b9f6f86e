// Support of the tests of the grid browser, the multi-view container and the application
// manager: phantom volumes and loose pictures as images, and the stand-in volume viewer.
#pragma once

#include "../../../display/tests/support/PhantomVolume.h"
#include "ViewerRig.h"

#include "StandInVolume.h"

#include <string>
#include <vector>

namespace qvtest {

// The geometry of an axial CT phantom of columns x rows x slices voxels (1 mm in-plane, 2 mm
// between slices). Images hold their slices in the display frame (x towards the patient's left,
// y superior, z anterior), where the generator's coronal orientation (rows along x, columns
// along -z) lays the slices in the axial plane.
inline qvgen::PhantomSpec axialPhantom(int columns = 32, int rows = 32, int slices = 20)
{
    qvgen::PhantomSpec spec;
    spec.columns = columns;
    spec.rows = rows;
    spec.slices = slices;
    qvgen::orientationOf(qvgen::PhantomOrientation::Coronal, spec.orientation);
    return spec;
}

inline isImageSDK::isImageData* phantomCT(int columns = 32, int rows = 32, int slices = 20)
{
    const qvgen::Phantom phantom(axialPhantom(columns, rows, slices));
    isImageSDK::isImageData* image = phantomVolume(phantom, isImageSDK::PIXEL_I16);
    for (isImageSDK::isSliceInfo* s : image->getSlices())
        s->modality = isImageSDK::MODALITY_CT;
    image->setFileNames("phantom");
    return image;
}

// Two single pictures of different sizes: not a volume.
inline isImageSDK::isImageData* loosePictures(int modality = isImageSDK::MODALITY_DX, int representation = 1)
{
    using namespace isImageSDK;
    isImageData* image = isImageData::create();
    const float spacing[2] = {1, 1};
    for (int size : {20, 30}) {
        const int dims[2] = {size, size};
        isSliceInfo* s = image->addSlice(dims, 1, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY);
        std::fill(s->pixels, s->pixels + size * size, 0);
        s->modality = modality;
        s->representation = representation;
    }
    image->setFileNames("pictures");
    return image;
}

} // namespace qvtest
