// Trilinear sampling of a voxel block at a continuous position in the volume frame:
// millimetres from the centre of the first voxel, x along the columns, y along the rows,
// z along the slices; voxel (i, j, k) lies at (i * sx, j * sy, k * sz).
//
// Built on the stack once per reslice run over a contiguous block (index = (z * rows + y) *
// columns + x); interpolate() allocates nothing and divides nothing. Positions with x below
// 0 must be answered with the background by the caller, as the reslicer does.
#pragma once

#include "CVolumeSampler.h"

namespace isImageSDK {

template <class T>
class CTriLinear : public CVolumeSampler<T> {
public:
    using CVolumeSampler<T>::CVolumeSampler;
    using CVolumeSampler<T>::columns;
    using CVolumeSampler<T>::rows;
    using CVolumeSampler<T>::slices;
    using CVolumeSampler<T>::origin;
    using CVolumeSampler<T>::maximum;
    using CVolumeSampler<T>::spacing;
    using CVolumeSampler<T>::reciprocal;
    using CVolumeSampler<T>::voxels;
    using CVolumeSampler<T>::background;

    T interpolate(float x, float y, float z) const
    {
        // Negated tests so that NaN positions give the background too.
        if (!(x <= maximum[0]) || !(y >= origin[1] && y <= maximum[1]) || !(z >= origin[2] && z <= maximum[2]))
            return background;
        const float fx = (x - origin[0]) * reciprocal[0];
        const float fy = (y - origin[1]) * reciprocal[1];
        const float fz = (z - origin[2]) * reciprocal[2];
        const long long sx = 1, sy = columns, sz = static_cast<long long>(columns) * rows;
        if (fx >= 0.0f && fx < columns - 1 && fy < rows - 1 && fz < slices - 1) {
            // Inside the last cell on every axis: both taps exist, no clamping.
            const int ix = static_cast<int>(fx), iy = static_cast<int>(fy), iz = static_cast<int>(fz);
            const T* p = voxels + iz * sz + iy * sy + ix;
            return sampleFromFloat<T>(blend(p, sx, sy, sz, fx - ix, fy - iy, fz - iz));
        }
        int i[3];
        float t[3];
        const float f[3] = {fx, fy, fz};
        const int size[3] = {columns, rows, slices};
        for (int a = 0; a < 3; ++a) {
            // Truncation, then 0 below the grid and size - 1 past it (tested before converting).
            const int v = f[a] < 0.0f ? 0 : f[a] < static_cast<float>(size[a]) ? static_cast<int>(f[a]) : size[a] - 1;
            i[a] = v;
            t[a] = f[a] - static_cast<float>(v);
        }
        const T* p = voxels + i[2] * sz + i[1] * sy + i[0];
        // The second tap repeats the last voxel of an axis at its border.
        return sampleFromFloat<T>(blend(p, i[0] + 1 < columns ? sx : 0, i[1] + 1 < rows ? sy : 0,
                                        i[2] + 1 < slices ? sz : 0, t[0], t[1], t[2]));
    }

    // Weight rows c0 + c1 t per tap: 1 - t and t.
    static constexpr float kRows[2][2] = {{1.0f, -1.0f}, {0.0f, 1.0f}};

private:
    static float blend(const T* p, long long sx, long long sy, long long sz, float tx, float ty, float tz)
    {
        const float wx0 = kRows[0][0] + kRows[0][1] * tx, wx1 = kRows[1][0] + kRows[1][1] * tx;
        const float wy0 = kRows[0][0] + kRows[0][1] * ty, wy1 = kRows[1][0] + kRows[1][1] * ty;
        const float wz0 = kRows[0][0] + kRows[0][1] * tz, wz1 = kRows[1][0] + kRows[1][1] * tz;
        const T* q = p + sz;
        const float a = (static_cast<float>(p[0]) * wx0 + static_cast<float>(p[sx]) * wx1) * wy0
                      + (static_cast<float>(p[sy]) * wx0 + static_cast<float>(p[sy + sx]) * wx1) * wy1;
        const float b = (static_cast<float>(q[0]) * wx0 + static_cast<float>(q[sx]) * wx1) * wy0
                      + (static_cast<float>(q[sy]) * wx0 + static_cast<float>(q[sy + sx]) * wx1) * wy1;
        return a * wz0 + b * wz1;
    }
};

} // namespace isImageSDK
