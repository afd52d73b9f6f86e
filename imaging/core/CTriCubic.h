// Tricubic (Catmull-Rom cubic convolution, 4 x 4 x 4 taps) sampling of a voxel block in the
// volume frame of CTriLinear. The caller passes the continuous column index fx = x / sx and
// its truncation ix, and answers a negative ix with the background itself; taps past the grid
// repeat the border voxels. Integer results are truncated and saturated to the sample type.
#pragma once

#include "CVolumeSampler.h"

namespace isImageSDK {

template <class T>
class CTriCubic : public CVolumeSampler<T> {
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

    T interpolate(float y, float z, float fx, int ix) const
    {
        if (ix > columns - 1)
            return background;
        const float fy = (y - origin[1]) * reciprocal[1];
        const float fz = (z - origin[2]) * reciprocal[2];
        // Same as "truncation below 0 or above size - 1", tested before converting.
        if (!(fy > -1.0f && fy < static_cast<float>(rows)) || !(fz > -1.0f && fz < static_cast<float>(slices)))
            return background;
        const int iy = static_cast<int>(fy), iz = static_cast<int>(fz);
        float wx[4], wy[4], wz[4];
        weights(fx - static_cast<float>(ix), wx);
        weights(fy - static_cast<float>(iy), wy);
        weights(fz - static_cast<float>(iz), wz);

        const long long sy = columns, sz = static_cast<long long>(columns) * rows;
        float sum = 0.0f;
        if (ix >= 1 && ix + 2 < columns && iy >= 1 && iy + 2 < rows && iz >= 1 && iz + 2 < slices) {
            // All 64 taps inside: fixed strides, no clamping.
            const T* base = voxels + (iz - 1) * sz + (iy - 1) * sy + (ix - 1);
            for (int c = 0; c < 4; ++c) {
                const T* plane = base + c * sz;
                float acc = 0.0f;
                for (int b = 0; b < 4; ++b) {
                    const T* row = plane + b * sy;
                    acc += wy[b] * (wx[0] * static_cast<float>(row[0]) + wx[1] * static_cast<float>(row[1])
                                  + wx[2] * static_cast<float>(row[2]) + wx[3] * static_cast<float>(row[3]));
                }
                sum += wz[c] * acc;
            }
            return sampleFromFloat<T>(sum);
        }
        long long xo[4], yo[4], zo[4];
        for (int d = 0; d < 4; ++d) {
            xo[d] = clampIndex(ix - 1 + d, columns);
            yo[d] = clampIndex(iy - 1 + d, rows) * sy;
            zo[d] = clampIndex(iz - 1 + d, slices) * sz;
        }
        for (int c = 0; c < 4; ++c) {
            float acc = 0.0f;
            for (int b = 0; b < 4; ++b) {
                const T* row = voxels + zo[c] + yo[b];
                acc += wy[b] * (wx[0] * static_cast<float>(row[xo[0]]) + wx[1] * static_cast<float>(row[xo[1]])
                              + wx[2] * static_cast<float>(row[xo[2]]) + wx[3] * static_cast<float>(row[xo[3]]));
            }
            sum += wz[c] * acc;
        }
        return sampleFromFloat<T>(sum);
    }

    // Weight rows c0 + c1 t + c2 t^2 + c3 t^3 for the taps at -1, 0, +1, +2.
    static constexpr float kCatmullRom[4][4] = {
        {0.0f, -0.5f, 1.0f, -0.5f}, {1.0f, 0.0f, -2.5f, 1.5f}, {0.0f, 0.5f, 2.0f, -1.5f}, {0.0f, 0.0f, -0.5f, 0.5f}};
    // The cubic B-spline rows, kept beside them; sampling always uses Catmull-Rom.
    static constexpr float kBSpline[4][4] = {{1.0f / 6, -0.5f, 0.5f, -1.0f / 6},
                                             {2.0f / 3, 0.0f, -1.0f, 0.5f},
                                             {1.0f / 6, 0.5f, 0.5f, -0.5f},
                                             {0.0f, 0.0f, 0.0f, 1.0f / 6}};

private:
    static void weights(float t, float w[4])
    {
        const float t2 = t * t, t3 = t2 * t;
        for (int d = 0; d < 4; ++d)
            w[d] = kCatmullRom[d][0] + kCatmullRom[d][1] * t + kCatmullRom[d][2] * t2 + kCatmullRom[d][3] * t3;
    }
    static long long clampIndex(int i, int size) { return i < 0 ? 0 : i >= size ? size - 1 : i; }
};

} // namespace isImageSDK
