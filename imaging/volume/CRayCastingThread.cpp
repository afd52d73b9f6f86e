#include "CRayCastingThread.h"

#include "isImageTypes.h"
#include "isSampleCast.h"
#include "isSliceKernelsAvx2.h"
#include "vrSpaceLeaping.h"
#include "vrTransferTable.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace isImageSDK {

namespace {
std::atomic<bool> g_rayPackets{true};
std::atomic<bool> g_spaceLeaping{true};
} // namespace

void vrSetRayPackets(bool enabled)
{
    g_rayPackets.store(enabled, std::memory_order_relaxed);
}

void vrSetSpaceLeaping(bool enabled)
{
    g_spaceLeaping.store(enabled, std::memory_order_relaxed);
}

bool clipRayToBox(const float p0[3], const float p1[3], float entry[3], float exit[3], const float box[6])
{
    float t0 = 0.0f, t1 = 1.0f;
    for (int a = 0; a < 3; ++a) {
        const float lo = box[2 * a], hi = box[2 * a + 1];
        if (!(lo <= hi))
            return false;
        // Signed distances inside the lower plane, then inside the upper plane.
        const float planes[2][2] = {{p0[a] - lo, p1[a] - lo}, {hi - p0[a], hi - p1[a]}};
        for (const auto& d : planes) {
            if (d[0] < 0.0f && d[1] < 0.0f)
                return false;
            if (d[0] < 0.0f)
                t0 = std::max(t0, d[0] / (d[0] - d[1]));
            else if (d[1] < 0.0f)
                t1 = std::min(t1, d[0] / (d[0] - d[1]));
        }
    }
    if (t0 > t1)
        return false;
    for (int a = 0; a < 3; ++a) {
        const float d = p1[a] - p0[a];
        entry[a] = std::clamp(p0[a] + t0 * d, box[2 * a], box[2 * a + 1]);
        exit[a] = std::clamp(p0[a] + t1 * d, box[2 * a], box[2 * a + 1]);
    }
    return true;
}

namespace {

// ---- per sample type ----

template <class T>
using GridOf = std::conditional_t<std::is_floating_point<T>::value, vrSpaceLeapingFloat, vrSpaceLeaping>;
// What a sample of the type reads as: 32-bit integers for the integer types (trilinear results
// truncated and saturated to the type's range), floats for float volumes.
template <class T>
using SampleOf = std::conditional_t<std::is_floating_point<T>::value, float, int32_t>;

// Everything an integrator reads, gathered once per range of rays.
template <class T>
struct Frame {
    using Grid = GridOf<T>;
    using Value = typename Grid::Value;
    using Sample = SampleOf<T>;

    const T* voxels;
    int n[3];
    int64_t nx, nxy;
    const unsigned char* background;
    float lowerBound, levelScale;
    const float* work;
    const Value* maxima;
    const Value* reach;
    int bx, bxy;
    Value threshold;   // a sample below it lies below the window: level 0
    float box[6];      // the grid's box, kept where every trilinear neighbour exists
    Value levelStarts[257];  // the first sample of each level of the window (vrLevelStarts)
    cuLight* light;
    bool leap;         // step over blocks that cannot change the pixel, end rays early

    // Voxel at integer coordinates.
    Sample voxel(int x, int y, int z) const { return static_cast<Sample>(voxels[z * nxy + y * nx + x]); }

    Sample nearest(const float p[3]) const
    {
        return voxel(static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2]));
    }

    Sample trilinear(const float p[3]) const
    {
        const int ix = static_cast<int>(p[0]), iy = static_cast<int>(p[1]), iz = static_cast<int>(p[2]);
        // The fractions quantised to the centres of 50 cells per voxel; computing the weights
        // costs less than reading them from a table.
        const float qx = (static_cast<int>((p[0] - ix) * 50.0f) + 0.5f) * 0.02f;
        const float qy = (static_cast<int>((p[1] - iy) * 50.0f) + 0.5f) * 0.02f;
        const float qz = (static_cast<int>((p[2] - iz) * 50.0f) + 0.5f) * 0.02f;
        const T* v = voxels + iz * nxy + iy * nx + ix;
        const T* v1 = v + nxy;
        const float rx = 1.0f - qx, ry = 1.0f - qy;
        const float w00 = rx * ry, w10 = qx * ry, w01 = rx * qy, w11 = qx * qy;
        const float lower = w00 * v[0] + w10 * v[1] + w01 * v[nx] + w11 * v[nx + 1];
        const float upper = w00 * v1[0] + w10 * v1[1] + w01 * v1[nx] + w11 * v1[nx + 1];
        const float s = lower + qz * (upper - lower);
        if constexpr (std::is_floating_point<T>::value)
            return s;
        else
            return sampleFromFloat<T>(s);
    }

    template <bool Tri>
    Sample sample(const float p[3]) const
    {
        if constexpr (Tri)
            return trilinear(p);
        else
            return nearest(p);
    }

    int blockOf(int x, int y, int z) const { return (z >> 2) * bxy + (y >> 2) * bx + (x >> 2); }

    // Level without rounding (pre-integrated, shaded and maximum rays).
    int level(float v) const { return vrLevel(v, lowerBound, levelScale); }

    // Whether a block whose reach is r may hold a sample at or above `floor`. A trilinear
    // sample never exceeds the largest of its eight voxels by more than the rounding of its
    // weights, which sum to a hair over or under 1: an integer sample below zero is truncated
    // toward zero and may read one above its voxels, a float one a few units in the last place.
    bool mayReach(Value r, Value floor) const
    {
        if constexpr (std::is_floating_point<Value>::value)
            return r + std::fabs(r) * 1e-6f >= floor;
        else
            return static_cast<int64_t>(r) + 1 >= floor;
    }

    // Composite table entry of a sample.
    const float* compositeEntry(Sample v) const
    {
        if constexpr (std::is_same<T, int16_t>::value) {
            return work + (v + 32768) * 4;
        } else if constexpr (std::is_floating_point<T>::value) {
            const float l = (v - lowerBound) * levelScale + 0.5f;
            const int level = !(l > 0.0f) ? 0 : (l >= 255.0f ? 255 : static_cast<int>(l));
            return work + level * 4;
        } else {
            return work + v * 4;
        }
    }

    void writeBackground(unsigned char* out) const
    {
        out[0] = background[0], out[1] = background[1], out[2] = background[2];
    }
};

// Rays stop once what could still be added stays below a quarter of a grey level (1 / 1024 of
// full opacity): the remaining samples cannot change the picture, and a ray through tissue of
// half opacity per sample ends after ten samples instead of the 53 it takes the accumulated
// opacity to round to exactly 1 in double precision.
constexpr float kOpaque = 1.0f - 1.0f / 1024.0f;

inline unsigned char toByte(double v)
{
    // Truncated; composited colours never leave 0..255, but keep NaN and overshoot safe.
    if (!(v > 0.0))
        return 0;
    return v >= 255.0 ? 255 : static_cast<unsigned char>(v);
}

// Steps from position c (sampling coordinates) until the sample leaves its 4-voxel block on
// the axis, along step s; large when the ray runs parallel to the block faces.
inline int stepsToLeave(float c, float s, int block)
{
    if (s > 0.0f) {
        const float n = std::ceil((4.0f * (block + 1) - c) / s);
        return n < 1e9f ? static_cast<int>(n) : 1000000000;
    }
    if (s < 0.0f) {
        const float n = std::floor((c - 4.0f * block) / -s) + 1.0f;
        return n < 1e9f ? static_cast<int>(n) : 1000000000;
    }
    return 1000000000;
}

// Steps that certainly stay within the block of the sample at c: at least 1 (the current
// sample), one short of the computed exit so that rounding never steps over a sample of the
// next block.
inline int skipSteps(const float c[3], const float s[3], int bx, int by, int bz)
{
    const int n = std::min({stepsToLeave(c[0], s[0], bx), stepsToLeave(c[1], s[1], by), stepsToLeave(c[2], s[2], bz)});
    return std::max(1, n - 1);
}

// Clipped set-up of composite and maximum rays: position (with the half-voxel offset) and the
// number of samples; false for a ray that misses the box.
template <class T>
bool clippedSetup(const Frame<T>& f, const vrRayRecord& ray, float pos[3], int* steps)
{
    float far[3], entry[3], exit[3];
    for (int a = 0; a < 3; ++a)
        far[a] = ray.start[a] + ray.block.farVector[a];
    if (!clipRayToBox(ray.start, far, entry, exit, f.box))
        return false;
    const float dx = exit[0] - entry[0], dy = exit[1] - entry[1], dz = exit[2] - entry[2];
    const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
    for (int a = 0; a < 3; ++a)
        pos[a] = entry[a] + ray.block.nudge[a] + 0.5f;
    // Steps between the first and the last sample: samples run from the entry to within the
    // tolerance of the exit, both ends included.
    const float count = (length - ray.block.tolerance) * ray.block.invStepLength;
    if (!(count >= 0.0f)) {
        *steps = 0;
        return true;
    }
    *steps = static_cast<int>(std::min(count, 2e9f)) + 1;
    *steps = std::min(*steps, std::max(ray.block.limit, 0));
    return true;
}

// Front-to-back compositing through the composite table. Nearest samples the voxel at the
// truncated position (the half-voxel offset rounds); trilinear samples half a voxel back.
// Blocks below the window are stepped over: their samples have level 0, opacity 0.
template <class T, bool Tri>
void compositeRay(const Frame<T>& f, const vrRayRecord& ray)
{
    float pos[3];
    int steps = 0;
    if (!clippedSetup(f, ray, pos, &steps)) {
        f.writeBackground(ray.out);
        return;
    }
    const float* s = ray.block.step;
    float p[3] = {pos[0], pos[1], pos[2]};
    if (Tri)
        p[0] -= 0.5f, p[1] -= 0.5f, p[2] -= 0.5f;
    const auto* skip = Tri ? f.reach : f.maxima;
    float A = 0.0f, R = 0.0f, G = 0.0f, B = 0.0f;
    for (int k = 0; k < steps && A < kOpaque;) {
        const int ix = static_cast<int>(p[0]), iy = static_cast<int>(p[1]), iz = static_cast<int>(p[2]);
        if (skip[f.blockOf(ix, iy, iz)] < f.threshold) {
            const int n = skipSteps(p, s, ix >> 2, iy >> 2, iz >> 2);
            k += n;
            p[0] += n * s[0], p[1] += n * s[1], p[2] += n * s[2];
            continue;
        }
        const float* e = f.compositeEntry(f.template sample<Tri>(p));
        if (e[0] > 0.0f) {
            const float w = (1.0f - A) * e[0];
            A += w;
            R += w * e[1];
            G += w * e[2];
            B += w * e[3];
        }
        ++k;
        p[0] += s[0], p[1] += s[1], p[2] += s[2];
    }
    ray.out[0] = toByte(R), ray.out[1] = toByte(G), ray.out[2] = toByte(B);
}

// Maximum intensity: the largest trilinear sample along the clipped ray, shown through the
// transfer function. Only the level of the maximum shows, so once the maximum is found to lie
// in level L, a sample matters only if it reaches the start of level L + 1: steps whose block
// cannot reach it (below the window, or behind the brightest part of the ray) are not
// sampled, and the walk ends once the maximum reaches the top level. The steps themselves are
// the plain walk's, one addition each, so the samples taken are the plain walk's samples.
template <class T>
void maximumRay(const Frame<T>& f, const vrRayRecord& ray, const float* colours, int colourStride)
{
    float pos[3];
    int steps = 0;
    if (!clippedSetup(f, ray, pos, &steps) || steps <= 0) {
        f.writeBackground(ray.out);
        return;
    }
    using Sample = typename Frame<T>::Sample;
    using Value = typename Frame<T>::Value;
    const float* s = ray.block.step;
    float p[3] = {pos[0] - 0.5f, pos[1] - 0.5f, pos[2] - 0.5f};
    // Below every sample: the level of the window's bottom when nothing is found.
    Sample m = std::is_floating_point<T>::value ? static_cast<Sample>(-1e7f) : std::numeric_limits<int32_t>::min();
    int level = f.level(static_cast<float>(m));
    Value floor = f.leap ? f.levelStarts[level + 1] : f.levelStarts[0];
    for (int k = 0; k < steps; ++k, p[0] += s[0], p[1] += s[1], p[2] += s[2]) {
        if (f.leap) {
            const int ix = static_cast<int>(p[0]), iy = static_cast<int>(p[1]), iz = static_cast<int>(p[2]);
            if (!f.mayReach(f.reach[f.blockOf(ix, iy, iz)], floor))
                continue;
        }
        const Sample v = f.trilinear(p);
        if (!(v > m))
            continue;
        m = v;
        if (!f.leap)
            continue;
        level = f.level(static_cast<float>(m));
        if (level == 255)
            break;
        floor = f.levelStarts[level + 1];
    }
    const float* c = colours + f.level(static_cast<float>(m)) * colourStride * 4;
    ray.out[0] = toByte(c[1]), ray.out[1] = toByte(c[2]), ray.out[2] = toByte(c[3]);
}

#ifdef QV_AVX2
// ---- eight neighbouring rays at a time (AVX2) ----
//
// Composite and maximum rays of 16-bit volumes, eight rays stepped together, one lane each.
// Every lane follows the walk of its scalar ray exactly: the same positions (the same float
// additions, the same steps over empty blocks), the same trilinear weights and order of
// operations (no fused multiply-add), the same compositing in float. So the pixels equal the
// scalar path's; only the work of eight samples is shared by gathers. Lanes that are done stay
// masked while their neighbours go on. Every function here carries QV_TARGET_AVX2 and runs only
// after avx2::available() said yes.

// How far ahead of its samples a packet of maximum rays asks for the voxels.
constexpr int kPrefetchSteps = 16;

// Packets need 32-bit voxel offsets.
template <class T>
bool packetsFit(const Frame<T>& f)
{
    return std::is_same<T, int16_t>::value || std::is_same<T, uint16_t>::value
               ? f.nxy * f.n[2] < (int64_t{1} << 31) - 1
               : false;
}

struct Lanes {
    alignas(32) float p[3][8];
    alignas(32) float s[3][8];
    alignas(32) int32_t steps[8];
    alignas(32) int32_t live[8];
};

QV_TARGET_AVX2 inline bool anyLane(__m256i mask) { return !_mm256_testz_si256(mask, mask); }

QV_TARGET_AVX2 inline __m256i select(__m256i mask, __m256i yes, __m256i no)
{
    return _mm256_blendv_epi8(no, yes, mask);
}

QV_TARGET_AVX2 inline __m256 select(__m256i mask, __m256 yes, __m256 no)
{
    return _mm256_blendv_ps(no, yes, _mm256_castsi256_ps(mask));
}

// stepsToLeave of eight lanes; `block` the lanes' block on the axis.
QV_TARGET_AVX2 inline __m256i stepsToLeave8(__m256 c, __m256 s, __m256i block)
{
    const __m256 four = _mm256_set1_ps(4.0f), one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    const __m256 big = _mm256_set1_ps(1e9f);
    const __m256i bigI = _mm256_set1_epi32(1000000000);
    const __m256 up = _mm256_ceil_ps(_mm256_div_ps(
        _mm256_sub_ps(_mm256_mul_ps(four, _mm256_cvtepi32_ps(_mm256_add_epi32(block, _mm256_set1_epi32(1)))), c), s));
    const __m256 down = _mm256_add_ps(
        _mm256_floor_ps(_mm256_div_ps(_mm256_sub_ps(c, _mm256_mul_ps(four, _mm256_cvtepi32_ps(block))),
                                      _mm256_sub_ps(zero, s))),
        one);
    const __m256 positive = _mm256_cmp_ps(s, zero, _CMP_GT_OQ), negative = _mm256_cmp_ps(s, zero, _CMP_LT_OQ);
    const __m256 n = _mm256_blendv_ps(down, up, positive);
    __m256i steps = _mm256_cvttps_epi32(n);
    steps = select(_mm256_castps_si256(_mm256_cmp_ps(n, big, _CMP_LT_OQ)), steps, bigI);
    return select(_mm256_castps_si256(_mm256_or_ps(positive, negative)), steps, bigI);
}

// skipSteps of eight lanes.
QV_TARGET_AVX2 inline __m256i skipSteps8(const __m256 p[3], const __m256 s[3], const __m256i cell[3])
{
    const __m256i n = _mm256_min_epi32(_mm256_min_epi32(stepsToLeave8(p[0], s[0], _mm256_srai_epi32(cell[0], 2)),
                                                        stepsToLeave8(p[1], s[1], _mm256_srai_epi32(cell[1], 2))),
                                       stepsToLeave8(p[2], s[2], _mm256_srai_epi32(cell[2], 2)));
    return _mm256_max_epi32(_mm256_set1_epi32(1), _mm256_sub_epi32(n, _mm256_set1_epi32(1)));
}

// Grid block of the lanes' voxels.
template <class T>
QV_TARGET_AVX2 inline __m256i blockOf8(const Frame<T>& f, const __m256i cell[3])
{
    return _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(cell[2], 2), _mm256_set1_epi32(f.bxy)),
                         _mm256_mullo_epi32(_mm256_srai_epi32(cell[1], 2), _mm256_set1_epi32(f.bx))),
        _mm256_srai_epi32(cell[0], 2));
}

// Frame<T>::trilinear of the lanes in `mask` (the others read nothing and give garbage).
template <class T>
QV_TARGET_AVX2 inline __m256i trilinear8(const Frame<T>& f, const __m256 p[3], const __m256i cell[3], __m256i mask)
{
    const __m256 fifty = _mm256_set1_ps(50.0f), half = _mm256_set1_ps(0.5f), fiftieth = _mm256_set1_ps(0.02f);
    const __m256 one = _mm256_set1_ps(1.0f);
    __m256 q[3];
    for (int a = 0; a < 3; ++a)
        q[a] = _mm256_mul_ps(
            _mm256_add_ps(_mm256_cvtepi32_ps(_mm256_cvttps_epi32(
                              _mm256_mul_ps(_mm256_sub_ps(p[a], _mm256_cvtepi32_ps(cell[a])), fifty))),
                          half),
            fiftieth);
    const __m256i nx = _mm256_set1_epi32(static_cast<int>(f.nx)), nxy = _mm256_set1_epi32(static_cast<int>(f.nxy));
    const __m256i i00 = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(cell[2], nxy), _mm256_mullo_epi32(cell[1], nx)), cell[0]);
    const __m256i i01 = _mm256_add_epi32(i00, nx);
    const __m256i i10 = _mm256_add_epi32(i00, nxy);
    const __m256i i11 = _mm256_add_epi32(i10, nx);
    const int* base = reinterpret_cast<const int*>(f.voxels);
    const __m256i zero = _mm256_setzero_si256();
    __m256 v0, v1, v2, v3, u0, u1, u2, u3;
    avx2::splitPair<T>(_mm256_mask_i32gather_epi32(zero, base, i00, mask, 2), v0, v1);
    avx2::splitPair<T>(_mm256_mask_i32gather_epi32(zero, base, i01, mask, 2), v2, v3);
    avx2::splitPair<T>(_mm256_mask_i32gather_epi32(zero, base, i10, mask, 2), u0, u1);
    avx2::splitPair<T>(_mm256_mask_i32gather_epi32(zero, base, i11, mask, 2), u2, u3);
    const __m256 rx = _mm256_sub_ps(one, q[0]), ry = _mm256_sub_ps(one, q[1]);
    const __m256 w00 = _mm256_mul_ps(rx, ry), w10 = _mm256_mul_ps(q[0], ry), w01 = _mm256_mul_ps(rx, q[1]),
                 w11 = _mm256_mul_ps(q[0], q[1]);
    const __m256 lower = _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(w00, v0), _mm256_mul_ps(w10, v1)), _mm256_mul_ps(w01, v2)),
        _mm256_mul_ps(w11, v3));
    const __m256 upper = _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(w00, u0), _mm256_mul_ps(w10, u1)), _mm256_mul_ps(w01, u2)),
        _mm256_mul_ps(w11, u3));
    __m256 s = _mm256_add_ps(lower, _mm256_mul_ps(q[2], _mm256_sub_ps(upper, lower)));
    // sampleFromFloat: saturated to the type's range, then truncated.
    s = _mm256_min_ps(_mm256_max_ps(s, _mm256_set1_ps(static_cast<float>(std::numeric_limits<T>::lowest()))),
                      _mm256_set1_ps(static_cast<float>(std::numeric_limits<T>::max())));
    return _mm256_cvttps_epi32(s);
}

QV_TARGET_AVX2 inline void truncate8(const __m256 p[3], __m256i cell[3])
{
    for (int a = 0; a < 3; ++a)
        cell[a] = _mm256_cvttps_epi32(p[a]);
}

// Asks for the voxels that the first and the last lane will read some steps ahead: the lanes
// are neighbouring rays, so the two cover the packet's rows of both slices. Maximum rays read
// the whole depth of the volume and spent most of their time waiting for it; the prefetch
// changes no value.
template <class T>
QV_TARGET_AVX2 inline void prefetchAhead(const Frame<T>& f, const __m256 p[3], const __m256 s[3])
{
    const __m256 ahead = _mm256_set1_ps(static_cast<float>(kPrefetchSteps));
    __m256i c[3];
    for (int a = 0; a < 3; ++a)
        c[a] = _mm256_cvttps_epi32(_mm256_add_ps(p[a], _mm256_mul_ps(ahead, s[a])));
    const __m256i index = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(c[2], _mm256_set1_epi32(static_cast<int>(f.nxy))),
                         _mm256_mullo_epi32(c[1], _mm256_set1_epi32(static_cast<int>(f.nx)))),
        c[0]);
    // Lanes may look beyond the volume: addresses are formed as integers, and a prefetch of
    // any address is harmless.
    const uintptr_t base = reinterpret_cast<uintptr_t>(f.voxels);
    const uintptr_t slice = static_cast<uintptr_t>(f.nxy) * sizeof(T);
    for (const int lane : {_mm256_extract_epi32(index, 0), _mm256_extract_epi32(index, 7)}) {
        const uintptr_t at = base + static_cast<uintptr_t>(static_cast<intptr_t>(lane) * static_cast<intptr_t>(sizeof(T)));
        _mm_prefetch(reinterpret_cast<const char*>(at), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(at + slice), _MM_HINT_T0);
    }
}

// Advances the lanes in `mask` by n steps (p += n * s, as the scalar skip does).
QV_TARGET_AVX2 inline void leap8(__m256 p[3], const __m256 s[3], __m256i n, __m256i mask)
{
    const __m256 nf = _mm256_cvtepi32_ps(n);
    for (int a = 0; a < 3; ++a)
        p[a] = select(mask, _mm256_add_ps(p[a], _mm256_mul_ps(nf, s[a])), p[a]);
}

// The lanes' positions (half a voxel back, for trilinear sampling) as the scalar rays start
// them. A ray that misses the box shows the background at once, and so does one without a
// sample when `emptyShowsBackground`. False when no lane is left.
template <class T>
bool setupLanes(const Frame<T>& f, const vrRayRecord* rays, int count, bool emptyShowsBackground, Lanes& lanes)
{
    bool any = false;
    for (int i = 0; i < 8; ++i) {
        float pos[3] = {0, 0, 0};
        int steps = 0;
        bool live = false;
        if (i < count) {
            live = clippedSetup(f, rays[i], pos, &steps) && (steps > 0 || !emptyShowsBackground);
            if (!live)
                f.writeBackground(rays[i].out);
        }
        for (int a = 0; a < 3; ++a) {
            lanes.p[a][i] = pos[a] - 0.5f;
            lanes.s[a][i] = live ? rays[i].block.step[a] : 0.0f;
        }
        lanes.steps[i] = live ? steps : 0;
        lanes.live[i] = live ? -1 : 0;
        any = any || live;
    }
    return any;
}

// Level of eight integer samples, as Frame::level takes it.
QV_TARGET_AVX2 inline __m256i level8(__m256i v, __m256 lowerBound, __m256 levelScale)
{
    const __m256 l = _mm256_mul_ps(_mm256_sub_ps(_mm256_cvtepi32_ps(v), lowerBound), levelScale);
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(l, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

// maximumRay of eight neighbouring rays.
template <class T>
QV_TARGET_AVX2 void maximumPacket(const Frame<T>& f, const vrRayRecord* rays, int count, const float* colours,
                                  int colourStride)
{
    Lanes lanes;
    if (!setupLanes(f, rays, count, true, lanes))
        return;
    __m256 p[3], s[3];
    for (int a = 0; a < 3; ++a)
        p[a] = _mm256_load_ps(lanes.p[a]), s[a] = _mm256_load_ps(lanes.s[a]);
    const __m256i steps = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.steps));
    __m256i active = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.live));
    const __m256i one = _mm256_set1_epi32(1), zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(255);
    const __m256 lowerBound = _mm256_set1_ps(f.lowerBound), levelScale = _mm256_set1_ps(f.levelScale);
    __m256i m = _mm256_set1_epi32(std::numeric_limits<int32_t>::min());
    // Samples below the floor cannot change the pixel; blocks whose reach plus one (the
    // rounding of a truncated sample) stays below it are not sampled.
    __m256i floor = _mm256_set1_epi32(f.levelStarts[f.level(static_cast<float>(std::numeric_limits<int32_t>::min())) + 1]);
    __m256i k = zero;
    __m256i cell[3];
    while (anyLane(active)) {
        truncate8(p, cell);
        const __m256i r = _mm256_mask_i32gather_epi32(zero, f.reach, blockOf8(f, cell), active, 4);
        const __m256i sampling = _mm256_andnot_si256(_mm256_cmpgt_epi32(floor, _mm256_add_epi32(r, one)), active);
        if (anyLane(sampling)) {
            prefetchAhead(f, p, s);
            const __m256i v = trilinear8(f, p, cell, sampling);
            const __m256i raised = _mm256_and_si256(sampling, _mm256_cmpgt_epi32(v, m));
            if (anyLane(raised)) {
                m = select(raised, v, m);
                const __m256i level = level8(m, lowerBound, levelScale);
                floor = _mm256_mask_i32gather_epi32(floor, f.levelStarts, _mm256_add_epi32(level, one), raised, 4);
                active = _mm256_andnot_si256(_mm256_and_si256(raised, _mm256_cmpeq_epi32(level, top)), active);
            }
        }
        for (int a = 0; a < 3; ++a)
            p[a] = _mm256_add_ps(p[a], s[a]);
        k = _mm256_add_epi32(k, one);
        active = _mm256_and_si256(active, _mm256_cmpgt_epi32(steps, k));
    }
    alignas(32) int32_t maxima[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(maxima), m);
    for (int i = 0; i < count; ++i) {
        if (!lanes.live[i])
            continue;
        const float* c = colours + f.level(static_cast<float>(maxima[i])) * colourStride * 4;
        rays[i].out[0] = toByte(c[1]), rays[i].out[1] = toByte(c[2]), rays[i].out[2] = toByte(c[3]);
    }
}

template <class T>
QV_TARGET_AVX2 void compositePacket(const Frame<T>& f, const vrRayRecord* rays, int count)
{
    Lanes lanes;
    if (!setupLanes(f, rays, count, false, lanes))
        return;
    __m256 p[3], s[3];
    for (int a = 0; a < 3; ++a)
        p[a] = _mm256_load_ps(lanes.p[a]), s[a] = _mm256_load_ps(lanes.s[a]);
    const __m256i steps = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.steps));
    const __m256i live = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.live));
    const __m256i one = _mm256_set1_epi32(1), zero = _mm256_setzero_si256();
    const __m256i threshold = _mm256_set1_epi32(f.threshold);
    const __m256i offset = _mm256_set1_epi32(std::is_signed<T>::value ? 32768 : 0);
    const __m256 opaque = _mm256_set1_ps(kOpaque), oneF = _mm256_set1_ps(1.0f), zeroF = _mm256_setzero_ps();
    __m256 A = zeroF, R = zeroF, G = zeroF, B = zeroF;
    __m256i k = zero;
    const int* reach = f.reach;
    __m256i cell[3];
    for (;;) {
        const __m256i active = _mm256_and_si256(
            live, _mm256_and_si256(_mm256_cmpgt_epi32(steps, k), _mm256_castps_si256(_mm256_cmp_ps(A, opaque, _CMP_LT_OQ))));
        if (!anyLane(active))
            break;
        truncate8(p, cell);
        const __m256i r = _mm256_mask_i32gather_epi32(zero, reach, blockOf8(f, cell), active, 4);
        const __m256i skip = _mm256_and_si256(active, _mm256_cmpgt_epi32(threshold, r));
        const __m256i sampling = _mm256_andnot_si256(skip, active);
        if (anyLane(sampling)) {
            const __m256i v = trilinear8(f, p, cell, sampling);
            const __m256i entry = _mm256_slli_epi32(_mm256_add_epi32(v, offset), 2);
            const __m256 e0 = _mm256_mask_i32gather_ps(zeroF, f.work, entry, _mm256_castsi256_ps(sampling), 4);
            const __m256 adds = _mm256_and_ps(_mm256_castsi256_ps(sampling), _mm256_cmp_ps(e0, zeroF, _CMP_GT_OQ));
            if (_mm256_movemask_ps(adds)) {
                const __m256 e1 = _mm256_mask_i32gather_ps(zeroF, f.work + 1, entry, adds, 4);
                const __m256 e2 = _mm256_mask_i32gather_ps(zeroF, f.work + 2, entry, adds, 4);
                const __m256 e3 = _mm256_mask_i32gather_ps(zeroF, f.work + 3, entry, adds, 4);
                const __m256 w = _mm256_mul_ps(_mm256_sub_ps(oneF, A), e0);
                A = _mm256_blendv_ps(A, _mm256_add_ps(A, w), adds);
                R = _mm256_blendv_ps(R, _mm256_add_ps(R, _mm256_mul_ps(w, e1)), adds);
                G = _mm256_blendv_ps(G, _mm256_add_ps(G, _mm256_mul_ps(w, e2)), adds);
                B = _mm256_blendv_ps(B, _mm256_add_ps(B, _mm256_mul_ps(w, e3)), adds);
            }
            for (int a = 0; a < 3; ++a)
                p[a] = select(sampling, _mm256_add_ps(p[a], s[a]), p[a]);
            k = _mm256_add_epi32(k, _mm256_and_si256(sampling, one));
        }
        if (anyLane(skip)) {
            const __m256i n = skipSteps8(p, s, cell);
            leap8(p, s, n, skip);
            k = _mm256_add_epi32(k, _mm256_and_si256(n, skip));
        }
    }
    alignas(32) float rgb[3][8];
    _mm256_store_ps(rgb[0], R), _mm256_store_ps(rgb[1], G), _mm256_store_ps(rgb[2], B);
    for (int i = 0; i < count; ++i)
        if (lanes.live[i])
            rays[i].out[0] = toByte(rgb[0][i]), rays[i].out[1] = toByte(rgb[1][i]), rays[i].out[2] = toByte(rgb[2][i]);
}
#endif

// The walk of pre-integrated and shaded rays: the steps of the ray (from its start, at most its
// limit) whose position keeps every neighbour within [margin, n - 1 - margin).
struct Walk {
    int first = 0;
    int last = -1;
};

inline bool insideRegion(const float p[3], const float lo[3], const float hi[3])
{
    return p[0] >= lo[0] && p[0] < hi[0] && p[1] >= lo[1] && p[1] < hi[1] && p[2] >= lo[2] && p[2] < hi[2];
}

Walk clipWalk(const vrRayRecord& ray, const float lo[3], const float hi[3])
{
    const int limit = std::max(ray.block.limit, 0);
    double k0 = 0.0, k1 = limit;
    for (int a = 0; a < 3; ++a) {
        const double s0 = ray.start[a], v = ray.block.step[a];
        if (!(lo[a] < hi[a]))
            return {};
        if (v == 0.0) {
            if (!(s0 >= lo[a] && s0 < hi[a]))
                return {};
            continue;
        }
        double ta = (lo[a] - s0) / v, tb = (hi[a] - s0) / v;
        if (ta > tb)
            std::swap(ta, tb);
        k0 = std::max(k0, std::ceil(ta));
        k1 = std::min(k1, std::floor(tb));
    }
    if (k0 > k1)
        return {};
    return {static_cast<int>(k0), static_cast<int>(k1)};
}

// Pre-integrated (Shaded false) and shaded (Shaded true) rays.
template <class T, bool Tri, bool Shaded>
void integratedRay(const Frame<T>& f, const vrRayRecord& ray)
{
    // One walk for both: every sample keeps its gradient neighbours (one step away on each
    // axis) and its trilinear neighbours inside the volume.
    const float margin = ray.block.stepLength;
    const float lo[3] = {margin, margin, margin};
    const float hi[3] = {f.n[0] - 1 - margin, f.n[1] - 1 - margin, f.n[2] - 1 - margin};
    const Walk walk = clipWalk(ray, lo, hi);
    const float* s = ray.block.step;
    float p[3];
    int k = walk.first;
    // The first inside step; rounding may put the computed one a step off.
    for (int tries = 0; tries < 3 && k <= walk.last; ++tries, ++k) {
        for (int a = 0; a < 3; ++a)
            p[a] = ray.start[a] + k * s[a];
        if (insideRegion(p, lo, hi))
            break;
    }
    if (k > walk.last || !insideRegion(p, lo, hi)) {
        f.writeBackground(ray.out);
        return;
    }
    const int limit = std::max(ray.block.limit, 0);
    int prev = f.level(static_cast<float>(f.template sample<Tri>(p)));
    double A = 0.0, R = 0.0, G = 0.0, B = 0.0;
    int composited = 0;
    const float d = ray.block.stepLength;
    for (++k, p[0] += s[0], p[1] += s[1], p[2] += s[2]; k <= limit && insideRegion(p, lo, hi);
         ++k, p[0] += s[0], p[1] += s[1], p[2] += s[2]) {
        // From level 0 into a block below the window: every step there pairs level 0 with
        // level 0, of opacity 0. Step over all of them but the last.
        const int ix = static_cast<int>(p[0]), iy = static_cast<int>(p[1]), iz = static_cast<int>(p[2]);
        if (prev == 0 && f.reach[f.blockOf(ix, iy, iz)] < f.threshold) {
            const int n = skipSteps(p, s, ix >> 2, iy >> 2, iz >> 2) - 1;
            if (n > 0) {
                ++composited;
                k += n - 1;
                p[0] += (n - 1) * s[0], p[1] += (n - 1) * s[1], p[2] += (n - 1) * s[2];
                continue;
            }
        }
        const int cur = f.level(static_cast<float>(f.template sample<Tri>(p)));
        const float* e = f.work + (cur * 256 + prev) * 4;
        const double w = (1.0 - A) * e[0];
        bool lit = false;
        if constexpr (Shaded) {
            if (e[0] == 0.0f) {
                // Nothing to light: nothing is added.
                prev = cur;
                ++composited;
                continue;
            }
            float q[3] = {p[0], p[1], p[2]};
            float g[3];
            for (int a = 0; a < 3; ++a) {
                q[a] = p[a] - d;
                const float minus = static_cast<float>(f.template sample<Tri>(q));
                q[a] = p[a] + d;
                const float plus = static_cast<float>(f.template sample<Tri>(q));
                q[a] = p[a];
                g[a] = minus - plus;
            }
            if (std::fabs(g[0]) + std::fabs(g[1]) + std::fabs(g[2]) >= 0.0001f) {
                const float length = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
                const float normal[3] = {g[0] / length, g[1] / length, g[2] / length};
                f.light->setMaterialColor(e[1] / 255.0f, e[2] / 255.0f, e[3] / 255.0f);
                float rgb[3];
                f.light->shade(rgb, p, normal);
                A += w;
                R += rgb[0] * 255.0 * w;
                G += rgb[1] * 255.0 * w;
                B += rgb[2] * 255.0 * w;
                lit = true;
            }
        }
        if (!lit) {
            A += w;
            R += e[1] * w;
            G += e[2] * w;
            B += e[3] * w;
        }
        prev = cur;
        ++composited;
        if (A >= kOpaque)
            break;
    }
    if (composited == 0) {
        f.writeBackground(ray.out);
        return;
    }
    ray.out[0] = toByte(R), ray.out[1] = toByte(G), ray.out[2] = toByte(B);
}

template <class T>
Frame<T> makeFrame(const CRayCastingThread& worker)
{
    using Grid = GridOf<T>;
    const vrVolumeInfo& v = *worker.volume;
    const auto* grid = static_cast<const Grid*>(worker.grid);
    Frame<T> f;
    f.voxels = static_cast<const T*>(v.voxels);
    f.n[0] = v.nx, f.n[1] = v.ny, f.n[2] = v.nz;
    f.nx = v.nx;
    f.nxy = v.nxy;
    f.background = worker.tables->background;
    f.lowerBound = worker.tables->lowerBound;
    f.levelScale = worker.tables->levelScale;
    f.work = worker.tables->work;
    f.maxima = grid->maxima();
    f.reach = grid->reach();
    f.bx = grid->blocksX();
    f.bxy = grid->blocksPerSlice();
    f.leap = g_spaceLeaping.load(std::memory_order_relaxed);
    f.threshold = grid->threshold();
    grid->copyBounds(f.box);
    const vrTableBlock& tables = *worker.tables;
    if (tables.levelStartsFilled) {
        if constexpr (std::is_floating_point<typename Grid::Value>::value)
            std::copy(tables.levelStartsFloat, tables.levelStartsFloat + 257, f.levelStarts);
        else
            std::copy(tables.levelStarts, tables.levelStarts + 257, f.levelStarts);
    } else {
        int32_t ints[257];
        float floats[257];
        vrLevelStarts(f.lowerBound, f.levelScale, ints, floats);
        if constexpr (std::is_floating_point<typename Grid::Value>::value)
            std::copy(floats, floats + 257, f.levelStarts);
        else
            std::copy(ints, ints + 257, f.levelStarts);
    }
    if (!f.leap) {
        // No block lies below the threshold. The box stays: it decides where a ray's samples
        // start, not which of them are taken.
        f.threshold = std::numeric_limits<typename Grid::Value>::lowest();
        if constexpr (std::is_floating_point<typename Grid::Value>::value)
            f.threshold = -std::numeric_limits<typename Grid::Value>::infinity();
    }
    // Positions stay where the trilinear neighbour one voxel up exists.
    for (int a = 0; a < 3; ++a) {
        f.box[2 * a] = std::max(f.box[2 * a], 0.0f);
        f.box[2 * a + 1] = std::min(f.box[2 * a + 1], static_cast<float>(f.n[a] - 2));
    }
    f.light = const_cast<cuLight*>(&worker.light);
    return f;
}

template <class T, class Cast>
void castLoop(const CRayCastingThread& worker, int first, int end, Cast cast)
{
    for (int i = first; i < end; ++i) {
        if (worker.cancel && worker.cancel->load(std::memory_order_relaxed))
            return;
        cast(worker.rays[i]);
    }
}

// Eight rays at a time, as long as the frame is not cancelled.
template <class Cast>
void castPackets(const CRayCastingThread& worker, int first, int end, Cast cast)
{
    for (int i = first; i < end; i += 8) {
        if (worker.cancel && worker.cancel->load(std::memory_order_relaxed))
            return;
        cast(worker.rays + i, std::min(8, end - i));
    }
}

// Whether the trilinear composite and maximum rays of this frame go eight at a time.
template <class T>
bool usePackets(const Frame<T>& f)
{
#ifdef QV_AVX2
    if constexpr (std::is_same<T, int16_t>::value || std::is_same<T, uint16_t>::value)
        return g_rayPackets.load(std::memory_order_relaxed) && f.leap && packetsFit(f) && avx2::available();
#endif
    (void)f;
    return false;
}

template <class T>
void castTyped(const CRayCastingThread& worker, int first, int end)
{
    const Frame<T> f = makeFrame<T>(worker);
    const bool tri = worker.volume->trilinear == 1;
    const bool packets = usePackets(f);
    switch (worker.renderMode) {
    case RenderMIP: {
        // Float volumes show the transfer function itself; integer volumes the diagonal of the
        // pre-integrated copy (the same colours).
        const int stride = std::is_floating_point<T>::value ? 1 : 257;
#ifdef QV_AVX2
        if constexpr (std::is_same<T, int16_t>::value || std::is_same<T, uint16_t>::value) {
            if (packets) {
                castPackets(worker, first, end,
                            [&](const vrRayRecord* r, int n) { maximumPacket<T>(f, r, n, f.work, stride); });
                break;
            }
        }
#endif
        castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { maximumRay<T>(f, r, f.work, stride); });
        break;
    }
    case RenderPreIntegrated:
        if (tri)
            castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { integratedRay<T, true, false>(f, r); });
        else
            castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { integratedRay<T, false, false>(f, r); });
        break;
    case RenderShaded:
        if (tri)
            castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { integratedRay<T, true, true>(f, r); });
        else
            castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { integratedRay<T, false, true>(f, r); });
        break;
    default:
#ifdef QV_AVX2
        if constexpr (std::is_same<T, int16_t>::value || std::is_same<T, uint16_t>::value) {
            if (tri && packets) {
                castPackets(worker, first, end, [&](const vrRayRecord* r, int n) { compositePacket<T>(f, r, n); });
                break;
            }
        }
#endif
        if (tri)
            castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { compositeRay<T, true>(f, r); });
        else
            castLoop<T>(worker, first, end, [&](const vrRayRecord& r) { compositeRay<T, false>(f, r); });
        break;
    }
}

} // namespace

void CRayCastingThread::process()
{
    castRange(first, end);
}

void CRayCastingThread::castRange(int from, int to)
{
    if (!rays || !volume || !tables || !grid || !volume->voxels || from >= to)
        return;
    switch (volume->pixelType) {
    case PIXEL_U8: castTyped<uint8_t>(*this, from, to); break;
    case PIXEL_I16: castTyped<int16_t>(*this, from, to); break;
    case PIXEL_U16: castTyped<uint16_t>(*this, from, to); break;
    case PIXEL_FLOAT: castTyped<float>(*this, from, to); break;
    default: break;  // colour volumes are not volume-rendered
    }
}

} // namespace isImageSDK
