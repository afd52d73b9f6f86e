#include "isSliceKernelsAvx2.h"

#include <limits>
#include <type_traits>

#ifdef QV_AVX2
// Every function below carries QV_TARGET_AVX2 (compiled for AVX2, a form GCC and clang both
// honour) and is only called after available() said yes.
#include <immintrin.h>
#endif

namespace isImageSDK {
namespace avx2 {

#ifdef QV_AVX2

bool available()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

namespace {

// Truncates toward zero, saturated to T (NaN gives the lowest value), and stores 8 samples.
template <class T>
QV_TARGET_AVX2 inline void store8(__m256 v, T* o)
{
    const __m256 lo = _mm256_set1_ps(static_cast<float>(std::numeric_limits<T>::lowest()));
    const __m256 hi = _mm256_set1_ps(static_cast<float>(std::numeric_limits<T>::max()));
    v = _mm256_min_ps(_mm256_max_ps(v, lo), hi);
    const __m256i i = _mm256_cvttps_epi32(v);
    __m256i packed = std::is_signed<T>::value ? _mm256_packs_epi32(i, i) : _mm256_packus_epi32(i, i);
    packed = _mm256_permute4x64_epi64(packed, 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(packed));
}

// lo <= v <= hi, false for NaN.
QV_TARGET_AVX2 inline __m256 inRange(__m256 v, __m256 lo, __m256 hi)
{
    return _mm256_and_ps(_mm256_cmp_ps(v, lo, _CMP_GE_OQ), _mm256_cmp_ps(v, hi, _CMP_LE_OQ));
}

// lo <= v < hi, false for NaN.
QV_TARGET_AVX2 inline __m256 halfOpen(__m256 v, __m256 lo, __m256 hi)
{
    return _mm256_and_ps(_mm256_cmp_ps(v, lo, _CMP_GE_OQ), _mm256_cmp_ps(v, hi, _CMP_LT_OQ));
}

} // namespace

template <class T>
QV_TARGET_AVX2 void linearRow(const CTriLinear<T>& in, const float* xs, const float* ys, const float* zs, int width, T* o)
{
    const __m256 zero = _mm256_setzero_ps();
    const __m256 maxX = _mm256_set1_ps(in.maximum[0]), maxY = _mm256_set1_ps(in.maximum[1]),
                 maxZ = _mm256_set1_ps(in.maximum[2]);
    const __m256 rx = _mm256_set1_ps(in.reciprocal[0]), ry = _mm256_set1_ps(in.reciprocal[1]),
                 rz = _mm256_set1_ps(in.reciprocal[2]);
    const __m256 lastX = _mm256_set1_ps(static_cast<float>(in.columns - 1)),
                 lastY = _mm256_set1_ps(static_cast<float>(in.rows - 1)),
                 lastZ = _mm256_set1_ps(static_cast<float>(in.slices - 1));
    const __m256i sy = _mm256_set1_epi32(in.columns), sz = _mm256_set1_epi32(in.columns * in.rows);
    const __m256 one = _mm256_set1_ps(1.0f);
    const int* base = reinterpret_cast<const int*>(in.voxels);

    int c = 0;
    for (; c + 8 <= width; c += 8) {
        const __m256 x = _mm256_loadu_ps(xs + c), y = _mm256_loadu_ps(ys + c), z = _mm256_loadu_ps(zs + c);
        const __m256 inside = _mm256_and_ps(_mm256_and_ps(inRange(x, zero, maxX), inRange(y, zero, maxY)),
                                            inRange(z, zero, maxZ));
        const int insideBits = _mm256_movemask_ps(inside);
        if (insideBits == 0) {
            for (int i = 0; i < 8; ++i)
                o[c + i] = in.background;
            continue;
        }
        const __m256 fx = _mm256_mul_ps(x, rx), fy = _mm256_mul_ps(y, ry), fz = _mm256_mul_ps(z, rz);
        const __m256 fast = _mm256_and_ps(
            inside, _mm256_and_ps(_mm256_cmp_ps(fx, lastX, _CMP_LT_OQ),
                                  _mm256_and_ps(_mm256_cmp_ps(fy, lastY, _CMP_LT_OQ), _mm256_cmp_ps(fz, lastZ, _CMP_LT_OQ))));
        if (_mm256_movemask_ps(fast) != 0xFF) {
            for (int i = c; i < c + 8; ++i)
                o[i] = xs[i] >= 0.0f ? in.interpolate(xs[i], ys[i], zs[i]) : in.background;
            continue;
        }
        const __m256i ix = _mm256_cvttps_epi32(fx), iy = _mm256_cvttps_epi32(fy), iz = _mm256_cvttps_epi32(fz);
        const __m256 tx = _mm256_sub_ps(fx, _mm256_cvtepi32_ps(ix));
        const __m256 ty = _mm256_sub_ps(fy, _mm256_cvtepi32_ps(iy));
        const __m256 tz = _mm256_sub_ps(fz, _mm256_cvtepi32_ps(iz));
        const __m256i i000 = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(iz, sz), _mm256_mullo_epi32(iy, sy)), ix);
        const __m256i i010 = _mm256_add_epi32(i000, sy);
        const __m256i i001 = _mm256_add_epi32(i000, sz);
        const __m256i i011 = _mm256_add_epi32(i001, sy);
        __m256 p0, p1, p2, p3, q0, q1, q2, q3;
        splitPair<T>(_mm256_i32gather_epi32(base, i000, 2), p0, p1);
        splitPair<T>(_mm256_i32gather_epi32(base, i010, 2), p2, p3);
        splitPair<T>(_mm256_i32gather_epi32(base, i001, 2), q0, q1);
        splitPair<T>(_mm256_i32gather_epi32(base, i011, 2), q2, q3);
        // Weights and order of operations as in CTriLinear::blend.
        const __m256 wx0 = _mm256_sub_ps(one, tx), wx1 = tx;
        const __m256 wy0 = _mm256_sub_ps(one, ty), wy1 = ty;
        const __m256 wz0 = _mm256_sub_ps(one, tz), wz1 = tz;
        const __m256 a = _mm256_add_ps(
            _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(p0, wx0), _mm256_mul_ps(p1, wx1)), wy0),
            _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(p2, wx0), _mm256_mul_ps(p3, wx1)), wy1));
        const __m256 b = _mm256_add_ps(
            _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(q0, wx0), _mm256_mul_ps(q1, wx1)), wy0),
            _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(q2, wx0), _mm256_mul_ps(q3, wx1)), wy1));
        store8<T>(_mm256_add_ps(_mm256_mul_ps(a, wz0), _mm256_mul_ps(b, wz1)), o + c);
    }
    for (; c < width; ++c)
        o[c] = xs[c] >= 0.0f ? in.interpolate(xs[c], ys[c], zs[c]) : in.background;
}

namespace {

// Catmull-Rom weights of the four taps, evaluated as CTriCubic does.
QV_TARGET_AVX2 inline void cubicWeights(__m256 t, __m256 w[4])
{
    const __m256 t2 = _mm256_mul_ps(t, t), t3 = _mm256_mul_ps(t2, t);
    for (int d = 0; d < 4; ++d) {
        const float* k = CTriCubic<float>::kCatmullRom[d];
        w[d] = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_set1_ps(k[0]), _mm256_mul_ps(_mm256_set1_ps(k[1]), t)),
                                           _mm256_mul_ps(_mm256_set1_ps(k[2]), t2)),
                             _mm256_mul_ps(_mm256_set1_ps(k[3]), t3));
    }
}

template <class T>
inline T cubicScalar(const CTriCubic<T>& in, float x, float y, float z)
{
    const float fx = x / in.spacing[0];
    return fx > -1.0f && fx < static_cast<float>(in.columns) ? in.interpolate(y, z, fx, static_cast<int>(fx))
                                                             : in.background;
}

} // namespace

template <class T>
QV_TARGET_AVX2 void cubicRow(const CTriCubic<T>& in, const float* xs, const float* ys, const float* zs, int width, T* o)
{
    const __m256 sx = _mm256_set1_ps(in.spacing[0]);
    const __m256 ry = _mm256_set1_ps(in.reciprocal[1]), rz = _mm256_set1_ps(in.reciprocal[2]);
    // Interior: every tap from index - 1 to index + 2 inside the grid on every axis.
    const __m256 oneF = _mm256_set1_ps(1.0f);
    const __m256 endX = _mm256_set1_ps(static_cast<float>(in.columns - 2)),
                 endY = _mm256_set1_ps(static_cast<float>(in.rows - 2)),
                 endZ = _mm256_set1_ps(static_cast<float>(in.slices - 2));
    const __m256i sy = _mm256_set1_epi32(in.columns), sz = _mm256_set1_epi32(in.columns * in.rows);
    const __m256i two = _mm256_set1_epi32(2);
    const int* base = reinterpret_cast<const int*>(in.voxels);

    int c = 0;
    for (; c + 8 <= width; c += 8) {
        const __m256 fx = _mm256_div_ps(_mm256_loadu_ps(xs + c), sx);
        const __m256 fy = _mm256_mul_ps(_mm256_loadu_ps(ys + c), ry);
        const __m256 fz = _mm256_mul_ps(_mm256_loadu_ps(zs + c), rz);
        // f >= 1 and f < size - 2 is the same as 1 <= truncation <= size - 3.
        const __m256 fast = _mm256_and_ps(_mm256_and_ps(halfOpen(fx, oneF, endX), halfOpen(fy, oneF, endY)),
                                          halfOpen(fz, oneF, endZ));
        if (_mm256_movemask_ps(fast) != 0xFF) {
            for (int i = c; i < c + 8; ++i)
                o[i] = cubicScalar(in, xs[i], ys[i], zs[i]);
            continue;
        }
        const __m256i ix = _mm256_cvttps_epi32(fx), iy = _mm256_cvttps_epi32(fy), iz = _mm256_cvttps_epi32(fz);
        __m256 wx[4], wy[4], wz[4];
        cubicWeights(_mm256_sub_ps(fx, _mm256_cvtepi32_ps(ix)), wx);
        cubicWeights(_mm256_sub_ps(fy, _mm256_cvtepi32_ps(iy)), wy);
        cubicWeights(_mm256_sub_ps(fz, _mm256_cvtepi32_ps(iz)), wz);
        // First tap of the 4 x 4 x 4 block: (ix - 1, iy - 1, iz - 1).
        const __m256i first = _mm256_sub_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(iz, sz), _mm256_mullo_epi32(iy, sy)), ix),
            _mm256_add_epi32(_mm256_add_epi32(sz, sy), _mm256_set1_epi32(1)));
        __m256 sum = _mm256_setzero_ps();
        for (int zc = 0; zc < 4; ++zc) {
            __m256 acc = _mm256_setzero_ps();
            const __m256i plane = _mm256_add_epi32(first, _mm256_mullo_epi32(sz, _mm256_set1_epi32(zc)));
            for (int yb = 0; yb < 4; ++yb) {
                const __m256i row = _mm256_add_epi32(plane, _mm256_mullo_epi32(sy, _mm256_set1_epi32(yb)));
                __m256 r0, r1, r2, r3;
                splitPair<T>(_mm256_i32gather_epi32(base, row, 2), r0, r1);
                splitPair<T>(_mm256_i32gather_epi32(base, _mm256_add_epi32(row, two), 2), r2, r3);
                const __m256 dot = _mm256_add_ps(
                    _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wx[0], r0), _mm256_mul_ps(wx[1], r1)), _mm256_mul_ps(wx[2], r2)),
                    _mm256_mul_ps(wx[3], r3));
                acc = _mm256_add_ps(acc, _mm256_mul_ps(wy[yb], dot));
            }
            sum = _mm256_add_ps(sum, _mm256_mul_ps(wz[zc], acc));
        }
        store8<T>(sum, o + c);
    }
    for (; c < width; ++c)
        o[c] = cubicScalar(in, xs[c], ys[c], zs[c]);
}

template void linearRow<int16_t>(const CTriLinear<int16_t>&, const float*, const float*, const float*, int, int16_t*);
template void linearRow<uint16_t>(const CTriLinear<uint16_t>&, const float*, const float*, const float*, int, uint16_t*);
template void cubicRow<int16_t>(const CTriCubic<int16_t>&, const float*, const float*, const float*, int, int16_t*);
template void cubicRow<uint16_t>(const CTriCubic<uint16_t>&, const float*, const float*, const float*, int, uint16_t*);

#else

bool available() { return false; }
template <class T>
void linearRow(const CTriLinear<T>&, const float*, const float*, const float*, int, T*) {}
template <class T>
void cubicRow(const CTriCubic<T>&, const float*, const float*, const float*, int, T*) {}
template void linearRow<int16_t>(const CTriLinear<int16_t>&, const float*, const float*, const float*, int, int16_t*);
template void linearRow<uint16_t>(const CTriLinear<uint16_t>&, const float*, const float*, const float*, int, uint16_t*);
template void cubicRow<int16_t>(const CTriCubic<int16_t>&, const float*, const float*, const float*, int, int16_t*);
template void cubicRow<uint16_t>(const CTriCubic<uint16_t>&, const float*, const float*, const float*, int, uint16_t*);

#endif


} // namespace avx2
} // namespace isImageSDK
