// The computing kernels under the slicing filters, over raw pixel buffers. The filters
// (isImagePlane, isImageReslice2D) work out geometry and buffers; these functions only fill
// an output buffer, in one pass over contiguous memory, on the shared worker pool.
#pragma once

namespace isImageSDK {

// One orthogonal plane or slab cut from a stack of slices of nx columns and ny rows.
//
// Output layout (columns x rows):
//   axis 0: nx x ny;  out(x, y) = combine over slices k in [first, last] of voxel(x, y, k)
//   axis 1: nz x ny;  out(k, y) = combine over j in [first, last] of voxel(nx - 1 - j, y, k)
//   axis 2: nz x nx;  out(k, x) = combine over j in [first, last] of voxel(x, j, k)
// Combining: 0 minimum, 2 average, 3 sum, anything else maximum. Sums and averages are exact
// for the integer types; sums saturate to the type's range, averages truncate toward zero.
// RGB stacks copy the triples of plane `first` only.
struct isPlaneCut {
    const unsigned char* const* slices = nullptr;  // nz pointers to slice buffers
    int nx = 0, ny = 0, nz = 0;
    int pixelType = 0;                             // 0 to 4
    int axis = 0;
    int first = 0, last = 0;                       // planes along the axis, first <= last
    int slabMode = 1;
    unsigned char* out = nullptr;
};
void cutPlane(const isPlaneCut& job);

// One oblique plane (or slab of parallel planes) sampled from a contiguous voxel block.
// Positions are in the volume frame (millimetres from the centre of the first voxel, along
// the grid). Output pixel (c, r) of plane s samples
//   start + r * rowStep + c * colStep,  start = origin - planeStep * (slabCount * 0.5) + s * planeStep
// for slabCount > 1, and origin + r * rowStep + c * colStep otherwise; each row's start is
// computed directly and the columns advance by adding colStep in 32-bit floats, so results
// do not depend on how rows are shared among threads.
struct isResliceJob {
    const void* voxels = nullptr;
    int dims[3] = {0, 0, 0};
    float spacing[3] = {1, 1, 1};
    int pixelType = 0;                        // 0, 1, 2 or 3
    void* out = nullptr;
    int width = 0, height = 0;
    float origin[3] = {0, 0, 0};
    float colStep[3] = {0, 0, 0};
    float rowStep[3] = {0, 0, 0};
    float planeStep[3] = {0, 0, 0};
    int slabCount = 1;
    int slabMode = 1;                         // 0 min, 1 max, 2 average, 3 sum, other: first plane
    int interpolation = 1;                    // 2 tricubic, other trilinear
    float background = 0.0f;
};
void resliceVolume(const isResliceJob& job);

} // namespace isImageSDK
