// AVX2 row samplers of the oblique reslicer for 16-bit volumes, eight output pixels at a
// time. They give the same values as CTriLinear / CTriCubic sample by sample (same weights,
// same order of operations, no fused multiply-add): groups of eight in which a lane needs
// the border or background rules are handed to the scalar interpolator.
//
// Positions are read from per-row arrays (x, y, z of every output column), so the vector and
// scalar paths sample exactly the same points.
#pragma once

#include "CTriCubic.h"
#include "CTriLinear.h"

#include <cstdint>
#include <type_traits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QV_AVX2 1
// Compiles one function for AVX2 whatever the rest of the file is compiled for.
#define QV_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define QV_TARGET_AVX2
#endif

#ifdef QV_AVX2
#include <immintrin.h>
#endif

namespace isImageSDK {
namespace avx2 {

// True when the processor runs AVX2 code.
bool available();

#ifdef QV_AVX2
// The two 16-bit samples of a 32-bit gather (T is int16_t or uint16_t): the voxel and its
// right neighbour, as floats.
template <class T>
QV_TARGET_AVX2 inline void splitPair(__m256i g, __m256& first, __m256& second)
{
    if constexpr (std::is_signed<T>::value) {
        first = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(g, 16), 16));
        second = _mm256_cvtepi32_ps(_mm256_srai_epi32(g, 16));
    } else {
        first = _mm256_cvtepi32_ps(_mm256_and_si256(g, _mm256_set1_epi32(0xFFFF)));
        second = _mm256_cvtepi32_ps(_mm256_srli_epi32(g, 16));
    }
}
#endif

// Trilinear: o[c] for c in [0, width); x below 0 gives the background, as the caller rule.
template <class T>
QV_TARGET_AVX2 void linearRow(const CTriLinear<T>& in, const float* x, const float* y, const float* z, int width, T* o);

// Tricubic: the continuous column index is x / sx; a truncation below 0 or past the last
// column gives the background.
template <class T>
QV_TARGET_AVX2 void cubicRow(const CTriCubic<T>& in, const float* x, const float* y, const float* z, int width, T* o);

} // namespace avx2
} // namespace isImageSDK
