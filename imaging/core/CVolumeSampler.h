// The grid shared by the volume interpolators: a contiguous voxel block (index = (z * rows +
// y) * columns + x) in the volume frame, millimetres from the centre of the first voxel along
// the grid, with the reciprocal spacings kept so that sampling never divides.
#pragma once

#include "isSampleCast.h"

namespace isImageSDK {

template <class T>
class CVolumeSampler {
public:
    CVolumeSampler(const T* voxels, const int dims[3], const float spacing[3], T background)
        : columns(dims[0]), rows(dims[1]), slices(dims[2]),
          voxelCount(static_cast<long long>(dims[0]) * dims[1] * dims[2]),
          voxels(voxels), background(background)
    {
        for (int a = 0; a < 3; ++a) {
            origin[a] = 0.0f;
            maximum[a] = static_cast<float>(dims[a] - 1) * spacing[a];
            this->spacing[a] = spacing[a];
            reciprocal[a] = spacing[a] != 0.0f ? 1.0f / spacing[a] : 0.0f;
        }
    }
    virtual ~CVolumeSampler() = default;

    int columns, rows, slices;
    long long voxelCount;
    // Per axis x, y, z: 0, (size - 1) * spacing, millimetres per voxel, and its reciprocal.
    float origin[3], maximum[3], spacing[3], reciprocal[3];
    const T* voxels;
    // Returned for positions outside the volume.
    T background;
};

} // namespace isImageSDK
