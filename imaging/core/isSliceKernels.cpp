#include "isSliceKernels.h"

#include "CTriCubic.h"
#include "CTriLinear.h"
#include "isImageTypes.h"
#include "isSliceKernelsAvx2.h"
#include "isWorkerPool.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace isImageSDK {
namespace {

struct Rgb {
    unsigned char v[3];
};

// Accumulator of sums and averages: exact 64-bit integers for the integer types, 32-bit
// float for float samples.
template <class T>
using Acc = typename std::conditional<std::is_floating_point<T>::value, float, int64_t>::type;

// Splits [0, count) so that each chunk carries about 32K units of work (roughly a sample
// read or combined), with enough chunks for every thread of the pool to take several. Jobs
// under about a million units (a single axial copy, a coronal cut) run on the caller: waking
// the workers would cost more than it saves.
void runRows(int count, long long workPerIndex, const isWorkerPool::Body& body)
{
    if (count <= 0)
        return;
    isWorkerPool& pool = isWorkerPool::shared();
    const long long total = workPerIndex * count;
    if (total < (1 << 20) || pool.concurrency() == 1) {
        body(0, count);
        return;
    }
    long long grain = std::max<long long>(1, (1 << 15) / std::max<long long>(1, workPerIndex));
    const long long balanced = (count + pool.concurrency() * 4 - 1) / (pool.concurrency() * 4);
    grain = std::max<long long>(1, std::min(grain, balanced));
    pool.parallelFor(count, static_cast<int>(grain), body);
}

template <class T>
inline T pick(int mode, T a, T b)
{
    return mode == SLAB_MIN ? (b < a ? b : a) : (b > a ? b : a);
}

// Sums saturate; averages divide (rather than multiply by 1 / count, whose rounding would
// turn an average of equal values such as 200, 200, 200 into 199 after truncation).
template <class T>
inline T finish(int mode, Acc<T> total, double count)
{
    if (mode == SLAB_SUM)
        return sampleFromDouble<T>(static_cast<double>(total));
    return sampleFromDouble<T>(static_cast<double>(total) / count);
}

inline bool isMinMax(int mode) { return mode != SLAB_AVERAGE && mode != SLAB_SUM; }

// ---- axis 0: planes of constant slice number -------------------------------------------

template <class T>
void cutAxis0(const isPlaneCut& job)
{
    const T* const* s = reinterpret_cast<const T* const*>(job.slices);
    T* out = reinterpret_cast<T*>(job.out);
    const int nx = job.nx, first = job.first, last = job.last, mode = job.slabMode;
    const double count = last - first + 1;
    runRows(job.ny, static_cast<long long>(nx) * (last - first + 1), [&](int r0, int r1) {
        const size_t b = static_cast<size_t>(r0) * nx, e = static_cast<size_t>(r1) * nx;
        if constexpr (std::is_same<T, Rgb>::value) {
            std::memcpy(out + b, s[first] + b, (e - b) * sizeof(T));
        } else {
            if (first == last || isMinMax(mode)) {
                std::memcpy(out + b, s[first] + b, (e - b) * sizeof(T));
                for (int k = first + 1; k <= last; ++k) {
                    const T* src = s[k];
                    if (mode == SLAB_MIN) {
                        for (size_t i = b; i < e; ++i)
                            out[i] = src[i] < out[i] ? src[i] : out[i];
                    } else {
                        for (size_t i = b; i < e; ++i)
                            out[i] = src[i] > out[i] ? src[i] : out[i];
                    }
                }
                return;
            }
            constexpr size_t kBlock = 2048;
            Acc<T> acc[kBlock];
            for (size_t p = b; p < e; p += kBlock) {
                const size_t n = std::min(kBlock, e - p);
                for (size_t i = 0; i < n; ++i)
                    acc[i] = s[first][p + i];
                for (int k = first + 1; k <= last; ++k) {
                    const T* src = s[k] + p;
                    for (size_t i = 0; i < n; ++i)
                        acc[i] += src[i];
                }
                for (size_t i = 0; i < n; ++i)
                    out[p + i] = finish<T>(mode, acc[i], count);
            }
        }
    });
}

// ---- axis 1: planes of constant column, output (slice, row) ----------------------------

// Reads one sample (or a short run) per row of every slice: bound by cache-line traffic.
// Work is split into tiles of 32 slices x 64 rows; within a tile each slice is walked down
// its rows, a long, regular stride that the hardware prefetchers follow.
template <class T>
void cutAxis1(const isPlaneCut& job)
{
    const T* const* s = reinterpret_cast<const T* const*>(job.slices);
    T* out = reinterpret_cast<T*>(job.out);
    const int nx = job.nx, ny = job.ny, nz = job.nz, mode = job.slabMode;
    // Plane j is column nx - 1 - j: the planes first..last are the columns hi down to lo.
    const int hi = nx - 1 - job.first, lo = nx - 1 - job.last;
    const double count = hi - lo + 1;
    constexpr int kTileK = 32, kTileY = 64, kAhead = 8;
    const int tilesK = (nz + kTileK - 1) / kTileK, tilesY = (ny + kTileY - 1) / kTileY;
    runRows(tilesK * tilesY, static_cast<long long>(kTileK) * kTileY * (hi - lo + 1) * 8, [&](int t0, int t1) {
        for (int t = t0; t < t1; ++t) {
            const int k0 = (t / tilesY) * kTileK, y0 = (t % tilesY) * kTileY;
            const int k1 = std::min(nz, k0 + kTileK), y1 = std::min(ny, y0 + kTileY);
            for (int k = k0; k < k1; ++k) {
                const T* src = s[k];
                for (int y = y0; y < y1; ++y) {
                    const T* p = src + static_cast<size_t>(y) * nx;
                    // One cache line per row: ask for the lines a few rows ahead.
                    if (y + kAhead < y1)
                        __builtin_prefetch(p + static_cast<size_t>(kAhead) * nx + lo);
                    T& o = out[static_cast<size_t>(y) * nz + k];
                    if constexpr (std::is_same<T, Rgb>::value) {
                        o = p[hi];
                    } else if (hi == lo) {
                        o = p[hi];
                    } else if (isMinMax(mode)) {
                        T v = p[hi];
                        for (int c = hi - 1; c >= lo; --c)
                            v = pick<T>(mode, v, p[c]);
                        o = v;
                    } else {
                        Acc<T> a = p[hi];
                        for (int c = hi - 1; c >= lo; --c)
                            a += p[c];
                        o = finish<T>(mode, a, count);
                    }
                }
            }
        }
    });
}

// ---- axis 2: planes of constant row, output (slice, column) ----------------------------

template <class T>
void cutAxis2(const isPlaneCut& job)
{
    const T* const* s = reinterpret_cast<const T* const*>(job.slices);
    T* out = reinterpret_cast<T*>(job.out);
    const int nx = job.nx, nz = job.nz, first = job.first, last = job.last, mode = job.slabMode;
    const double count = last - first + 1;
    constexpr int kBlock = 256;
    runRows((nx + kBlock - 1) / kBlock, static_cast<long long>(nz) * kBlock * (last - first + 1),
            [&](int b0, int b1) {
        for (int x0 = b0 * kBlock; x0 < std::min(nx, b1 * kBlock); x0 += kBlock) {
            const int n = std::min(kBlock, nx - x0);
            for (int k = 0; k < nz; ++k) {
                const T* row = s[k] + static_cast<size_t>(first) * nx + x0;
                T* o = out + static_cast<size_t>(x0) * nz + k;
                if constexpr (std::is_same<T, Rgb>::value) {
                    for (int i = 0; i < n; ++i)
                        o[static_cast<size_t>(i) * nz] = row[i];
                } else if (first == last) {
                    for (int i = 0; i < n; ++i)
                        o[static_cast<size_t>(i) * nz] = row[i];
                } else if (isMinMax(mode)) {
                    T v[kBlock];
                    std::copy(row, row + n, v);
                    for (int j = first + 1; j <= last; ++j) {
                        const T* r = s[k] + static_cast<size_t>(j) * nx + x0;
                        if (mode == SLAB_MIN) {
                            for (int i = 0; i < n; ++i)
                                v[i] = r[i] < v[i] ? r[i] : v[i];
                        } else {
                            for (int i = 0; i < n; ++i)
                                v[i] = r[i] > v[i] ? r[i] : v[i];
                        }
                    }
                    for (int i = 0; i < n; ++i)
                        o[static_cast<size_t>(i) * nz] = v[i];
                } else {
                    Acc<T> a[kBlock];
                    for (int i = 0; i < n; ++i)
                        a[i] = row[i];
                    for (int j = first + 1; j <= last; ++j) {
                        const T* r = s[k] + static_cast<size_t>(j) * nx + x0;
                        for (int i = 0; i < n; ++i)
                            a[i] += r[i];
                    }
                    for (int i = 0; i < n; ++i)
                        o[static_cast<size_t>(i) * nz] = finish<T>(mode, a[i], count);
                }
            }
        }
    });
}

template <class T>
void cutTyped(const isPlaneCut& job)
{
    switch (job.axis) {
    case PLANE_ACQUIRED: cutAxis0<T>(job); break;
    case PLANE_REFORMAT1: cutAxis1<T>(job); break;
    case PLANE_REFORMAT2: cutAxis2<T>(job); break;
    default: break;
    }
}

// ---- oblique planes ----------------------------------------------------------------------

// Row samplers: o[c] from the positions xs[c], ys[c], zs[c] (volume frame, millimetres).
template <class T>
struct LinearRow {
    const CTriLinear<T>& in;
    void operator()(const float* xs, const float* ys, const float* zs, int width, T* o) const
    {
        if constexpr (sizeof(T) == 2) {
            if (avx2::available())
                return avx2::linearRow<T>(in, xs, ys, zs, width, o);
        }
        for (int c = 0; c < width; ++c)
            o[c] = xs[c] >= 0.0f ? in.interpolate(xs[c], ys[c], zs[c]) : in.background;
    }
};

template <class T>
struct CubicRow {
    const CTriCubic<T>& in;
    void operator()(const float* xs, const float* ys, const float* zs, int width, T* o) const
    {
        if constexpr (sizeof(T) == 2) {
            if (avx2::available())
                return avx2::cubicRow<T>(in, xs, ys, zs, width, o);
        }
        const float sx = in.spacing[0];
        const float columns = static_cast<float>(in.columns);
        for (int c = 0; c < width; ++c) {
            const float fx = xs[c] / sx;
            // A negative truncation (fx <= -1) is the background here; past the last column
            // the interpolator would answer it too, tested before converting.
            o[c] = fx > -1.0f && fx < columns ? in.interpolate(ys[c], zs[c], fx, static_cast<int>(fx)) : in.background;
        }
    }
};

// The positions of one output row: the row's start, then one column step added per pixel in
// 32-bit floats.
struct RowPositions {
    std::vector<float> x, y, z;
    explicit RowPositions(int width) : x(width), y(width), z(width) {}
    void fill(const float start[3], const float step[3])
    {
        float px = start[0], py = start[1], pz = start[2];
        const size_t n = x.size();
        for (size_t c = 0; c < n; ++c) {
            x[c] = px, y[c] = py, z[c] = pz;
            px += step[0], py += step[1], pz += step[2];
        }
    }
};

template <class T, class Row>
void resliceRows(const isResliceJob& job, const Row& sampleRow)
{
    T* out = static_cast<T*>(job.out);
    const int width = job.width, n = job.slabCount, mode = job.slabMode;
    float start[3];
    for (int a = 0; a < 3; ++a)
        start[a] = n > 1 ? job.origin[a] - job.planeStep[a] * (static_cast<float>(n) * 0.5f) : job.origin[a];
    runRows(job.height, static_cast<long long>(width) * std::max(1, n) * 8, [&](int r0, int r1) {
        RowPositions pos(width);
        std::vector<T> plane;
        std::vector<double> acc;
        if (n > 1) {
            plane.resize(width);
            if (mode == SLAB_SUM || mode == SLAB_AVERAGE)
                acc.resize(width);
        }
        for (int r = r0; r < r1; ++r) {
            T* o = out + static_cast<size_t>(r) * width;
            const float fr = static_cast<float>(r);
            const float p[3] = {start[0] + fr * job.rowStep[0], start[1] + fr * job.rowStep[1],
                                start[2] + fr * job.rowStep[2]};
            pos.fill(p, job.colStep);
            sampleRow(pos.x.data(), pos.y.data(), pos.z.data(), width, o);
            if (n <= 1 || (mode != SLAB_MIN && mode != SLAB_MAX && mode != SLAB_SUM && mode != SLAB_AVERAGE))
                continue;
            const bool summing = mode == SLAB_SUM || mode == SLAB_AVERAGE;
            if (summing)
                for (int c = 0; c < width; ++c)
                    acc[c] = static_cast<double>(o[c]);
            for (int s = 1; s < n; ++s) {
                const float fs = static_cast<float>(s);
                float q[3];
                for (int a = 0; a < 3; ++a)
                    q[a] = start[a] + fs * job.planeStep[a] + fr * job.rowStep[a];
                pos.fill(q, job.colStep);
                sampleRow(pos.x.data(), pos.y.data(), pos.z.data(), width, plane.data());
                if (mode == SLAB_MAX) {
                    for (int c = 0; c < width; ++c)
                        o[c] = plane[c] > o[c] ? plane[c] : o[c];
                } else if (mode == SLAB_MIN) {
                    for (int c = 0; c < width; ++c)
                        o[c] = plane[c] < o[c] ? plane[c] : o[c];
                } else {
                    for (int c = 0; c < width; ++c)
                        acc[c] += static_cast<double>(plane[c]);
                }
            }
            if (mode == SLAB_SUM) {
                for (int c = 0; c < width; ++c)
                    o[c] = sampleFromDouble<T>(acc[c]);
            } else if (mode == SLAB_AVERAGE) {
                for (int c = 0; c < width; ++c)
                    o[c] = sampleFromDouble<T>(acc[c] / n);
            }
        }
    });
}

template <class T>
void resliceTyped(const isResliceJob& job)
{
    const T* voxels = static_cast<const T*>(job.voxels);
    const T background = sampleFromFloat<T>(job.background);
    if (job.interpolation == INTERPOLATION_CUBIC) {
        const CTriCubic<T> in(voxels, job.dims, job.spacing, background);
        resliceRows<T>(job, CubicRow<T>{in});
    } else {
        const CTriLinear<T> in(voxels, job.dims, job.spacing, background);
        resliceRows<T>(job, LinearRow<T>{in});
    }
}

bool finiteSteps(const isResliceJob& job)
{
    for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(job.origin[a]) || !std::isfinite(job.colStep[a]) || !std::isfinite(job.rowStep[a])
            || !std::isfinite(job.planeStep[a]) || !(job.spacing[a] > 0.0f) || !std::isfinite(job.spacing[a]))
            return false;
    }
    return true;
}

template <class T>
void fillBackground(const isResliceJob& job)
{
    T* out = static_cast<T*>(job.out);
    std::fill(out, out + static_cast<size_t>(job.width) * job.height, sampleFromFloat<T>(job.background));
}

template <class T>
void resliceChecked(const isResliceJob& job)
{
    if (finiteSteps(job))
        resliceTyped<T>(job);
    else
        fillBackground<T>(job);
}

} // namespace

void cutPlane(const isPlaneCut& job)
{
    if (!job.slices || !job.out || job.nx <= 0 || job.ny <= 0 || job.nz <= 0 || job.first > job.last)
        return;
    switch (job.pixelType) {
    case PIXEL_U8: cutTyped<uint8_t>(job); break;
    case PIXEL_I16: cutTyped<int16_t>(job); break;
    case PIXEL_FLOAT: cutTyped<float>(job); break;
    case PIXEL_U16: cutTyped<uint16_t>(job); break;
    case PIXEL_RGB: {
        isPlaneCut single = job;
        single.last = single.first;
        cutTyped<Rgb>(single);
        break;
    }
    default: break;
    }
}

void resliceVolume(const isResliceJob& job)
{
    if (!job.voxels || !job.out || job.width <= 0 || job.height <= 0 || job.dims[0] <= 0 || job.dims[1] <= 0
        || job.dims[2] <= 0)
        return;
    switch (job.pixelType) {
    case PIXEL_U8: resliceChecked<uint8_t>(job); break;
    case PIXEL_I16: resliceChecked<int16_t>(job); break;
    case PIXEL_FLOAT: resliceChecked<float>(job); break;
    case PIXEL_U16: resliceChecked<uint16_t>(job); break;
    default: break;
    }
}

} // namespace isImageSDK
