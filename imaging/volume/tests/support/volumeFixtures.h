// In-memory volumes and cameras for the volume renderer's tests.
#pragma once

#include "vrRayCaster.h"
#include "vrTypes.h"

#include <cstdint>
#include <vector>

namespace qvtest {

// A volume of sample type T with its descriptor (identity orientation unless changed).
template <class T>
struct TestVolume {
    std::vector<T> voxels;
    isImageSDK::vrVolumeDescriptor descriptor;

    TestVolume(int nx, int ny, int nz, int pixelType, T fill = T(), float sx = 1, float sy = 1, float sz = 1)
        : voxels(static_cast<size_t>(nx) * ny * nz, fill)
    {
        descriptor.voxels = voxels.data();
        descriptor.pixelType = pixelType;
        descriptor.dimensions[0] = nx, descriptor.dimensions[1] = ny, descriptor.dimensions[2] = nz;
        descriptor.spacing[0] = sx, descriptor.spacing[1] = sy, descriptor.spacing[2] = sz;
    }
    int nx() const { return descriptor.dimensions[0]; }
    int ny() const { return descriptor.dimensions[1]; }
    int nz() const { return descriptor.dimensions[2]; }
    T& at(int x, int y, int z) { return voxels[(static_cast<size_t>(z) * ny() + y) * nx() + x]; }
};

// An orthographic camera (volume space) looking along +z at a square volume (nx == ny) of
// spacing 1, so that output pixel (x, row) casts its ray down voxel column (x, row) when the
// output is nx x ny pixels (render scale 1).
inline isImageSDK::vrCameraState axialOrthoCamera(int nx, int ny, int nz)
{
    isImageSDK::vrCameraState c;
    c.perspective = false;
    c.viewWidth = static_cast<float>(nx);
    c.viewHeight = static_cast<float>(ny);
    // One millimetre per output pixel: the view spans nx - 1 pixel steps.
    c.zoom = static_cast<float>(nx - 1) / nx;
    const float cx = (nx - 1) * 0.5f, cy = (ny - 1) * 0.5f;
    c.eye[0] = cx, c.eye[1] = cy, c.eye[2] = -10.0f;
    c.target[0] = cx, c.target[1] = cy, c.target[2] = nz * 0.5f;
    c.up[0] = 0, c.up[1] = -1, c.up[2] = 0;
    c.nearPlane = 1.0f;
    c.farPlane = 1000.0f;
    c.valid = true;
    return c;
}

// A perspective camera (volume space) looking at the centre of the volume from `distance`
// millimetres along -z, 60 degrees.
inline isImageSDK::vrCameraState perspectiveCamera(float cx, float cy, float cz, float distance, float viewSize)
{
    isImageSDK::vrCameraState c;
    c.perspective = true;
    c.viewWidth = c.viewHeight = viewSize;
    c.eye[0] = cx, c.eye[1] = cy, c.eye[2] = cz - distance;
    c.target[0] = cx, c.target[1] = cy, c.target[2] = cz;
    c.up[0] = 0, c.up[1] = -1, c.up[2] = 0;
    c.valid = true;
    return c;
}

inline const unsigned char* pixelAt(const isImageSDK::vrRayCaster& engine, int x, int row)
{
    const auto& f = engine.getFrame();
    return f.pixels + (static_cast<size_t>(row) * f.width + x) * 3;
}

} // namespace qvtest
