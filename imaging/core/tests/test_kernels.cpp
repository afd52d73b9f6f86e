// The slicing kernels against brute-force references, and the worker pool under them.
#include "isImageTypes.h"
#include "isSliceKernels.h"
#include "isWorkerPool.h"
#include "support/SliceReference.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace isImageSDK;
using qvtest::Volume;

namespace {

template <class T>
int typeCode()
{
    if (std::is_same<T, uint8_t>::value) return PIXEL_U8;
    if (std::is_same<T, int16_t>::value) return PIXEL_I16;
    if (std::is_same<T, float>::value) return PIXEL_FLOAT;
    return PIXEL_U16;
}

// Each slice is copied into a buffer of its own, as in a stack too large for one block.
template <class T>
std::vector<T> runCut(const Volume<T>& vol, int axis, int first, int last, int mode)
{
    std::vector<std::vector<T>> copies;
    std::vector<const unsigned char*> slices;
    for (int k = 0; k < vol.nz; ++k) {
        copies.emplace_back(vol.slice(k), vol.slice(k) + size_t(vol.nx) * vol.ny);
        slices.push_back(reinterpret_cast<const unsigned char*>(copies.back().data()));
    }
    const size_t n = axis == 0 ? size_t(vol.nx) * vol.ny : axis == 1 ? size_t(vol.nz) * vol.ny : size_t(vol.nz) * vol.nx;
    std::vector<T> out(n, T(77));
    isPlaneCut job;
    job.slices = slices.data();
    job.nx = vol.nx, job.ny = vol.ny, job.nz = vol.nz;
    job.pixelType = typeCode<T>();
    job.axis = axis;
    job.first = first, job.last = last;
    job.slabMode = mode;
    job.out = reinterpret_cast<unsigned char*>(out.data());
    cutPlane(job);
    return out;
}

template <class T>
void checkCutsAgainstReference(double lo, double hi)
{
    // Sizes chosen so that both the single-chunk path and the pooled path run.
    const int sizes[][3] = {{7, 5, 6}, {130, 97, 23}};
    for (auto& sz : sizes) {
        const Volume<T> vol = qvtest::randomVolume<T>(sz[0], sz[1], sz[2], 11u + sz[0], lo, hi);
        for (int axis = 0; axis < 3; ++axis) {
            const int planes = axis == 0 ? vol.nz : axis == 1 ? vol.nx : vol.ny;
            const int ranges[][2] = {{0, 0}, {planes - 1, planes - 1}, {1, 3}, {0, planes - 1}, {planes / 2, planes - 1}};
            for (int mode : {0, 1, 2, 3, 9}) {
                for (auto& r : ranges) {
                    int cols = 0, rows = 0;
                    const std::vector<T> want = qvtest::referenceCut(vol, axis, r[0], r[1], mode, cols, rows);
                    const std::vector<T> got = runCut(vol, axis, r[0], r[1], mode);
                    ASSERT_EQ(want.size(), got.size());
                    size_t bad = 0;
                    for (size_t i = 0; i < want.size(); ++i) {
                        const double tol = std::is_floating_point<T>::value ? 1e-4 * std::max(1.0, std::fabs(double(want[i]))) : 0.0;
                        if (std::fabs(double(want[i]) - double(got[i])) > tol)
                            ++bad;
                    }
                    EXPECT_EQ(bad, 0u) << "size " << sz[0] << "x" << sz[1] << "x" << sz[2] << " axis " << axis
                                       << " mode " << mode << " planes " << r[0] << ".." << r[1];
                }
            }
        }
    }
}

} // namespace

TEST(SliceKernels, OrthogonalCutsMatchReferenceForEveryAxisModeAndType)
{
    checkCutsAgainstReference<uint8_t>(0, 256);
    checkCutsAgainstReference<int16_t>(-32768, 32768);
    checkCutsAgainstReference<uint16_t>(0, 65536);
    checkCutsAgainstReference<float>(-5000, 5000);
}

TEST(SliceKernels, SlabSumsSaturateAndAveragesStayExact)
{
    Volume<uint8_t> u8(4, 3, 20);
    std::fill(u8.v.begin(), u8.v.end(), 200);
    EXPECT_EQ(runCut(u8, 0, 0, 2, SLAB_SUM)[0], 255);
    EXPECT_EQ(runCut(u8, 0, 0, 2, SLAB_AVERAGE)[0], 200);

    Volume<int16_t> i16(4, 3, 5);
    std::fill(i16.v.begin(), i16.v.end(), int16_t(-30000));
    EXPECT_EQ(runCut(i16, 2, 0, 2, SLAB_SUM)[0], -32768);
    std::fill(i16.v.begin(), i16.v.end(), int16_t(30000));
    EXPECT_EQ(runCut(i16, 1, 0, 3, SLAB_SUM)[0], 32767);
    EXPECT_EQ(runCut(i16, 1, 0, 3, SLAB_AVERAGE)[0], 30000);

    // Averages divide: multiplying by 1 / 49 makes 49 planes of 13 (or -2000) average to 12
    // (or -1999).
    Volume<uint8_t> u8deep(3, 2, 60);
    std::fill(u8deep.v.begin(), u8deep.v.end(), 13);
    EXPECT_EQ(runCut(u8deep, 0, 0, 48, SLAB_AVERAGE)[0], 13);
    Volume<int16_t> i16wide(60, 2, 2);
    std::fill(i16wide.v.begin(), i16wide.v.end(), int16_t(-2000));
    EXPECT_EQ(runCut(i16wide, 1, 3, 51, SLAB_AVERAGE)[0], -2000);

    Volume<uint16_t> u16(3, 3, 3);
    std::fill(u16.v.begin(), u16.v.end(), uint16_t(65535));
    EXPECT_EQ(runCut(u16, 0, 0, 2, SLAB_SUM)[4], 65535);
    EXPECT_EQ(runCut(u16, 0, 0, 2, SLAB_AVERAGE)[4], 65535);
}

TEST(SliceKernels, RgbCutsCopyTriplesOfOnePlane)
{
    const int nx = 5, ny = 4, nz = 3;
    std::vector<unsigned char> vox(size_t(nx) * ny * nz * 3);
    for (size_t i = 0; i < vox.size(); ++i)
        vox[i] = static_cast<unsigned char>(i * 7);
    std::vector<const unsigned char*> slices;
    for (int k = 0; k < nz; ++k)
        slices.push_back(vox.data() + size_t(k) * nx * ny * 3);
    auto voxel = [&](int x, int y, int k) { return vox.data() + ((size_t(k) * ny + y) * nx + x) * 3; };

    std::vector<unsigned char> out(size_t(nz) * ny * 3);
    isPlaneCut job;
    job.slices = slices.data();
    job.nx = nx, job.ny = ny, job.nz = nz;
    job.pixelType = PIXEL_RGB;
    job.axis = 1;
    job.first = 1, job.last = 3;  // a slab request: only plane 1 is taken
    job.slabMode = SLAB_SUM;
    job.out = out.data();
    cutPlane(job);
    for (int y = 0; y < ny; ++y)
        for (int k = 0; k < nz; ++k)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out[(size_t(y) * nz + k) * 3 + c], voxel(nx - 1 - 1, y, k)[c]);

    out.assign(size_t(nz) * nx * 3, 0);
    job.out = out.data();
    job.axis = 2;
    job.first = job.last = 2;
    cutPlane(job);
    for (int x = 0; x < nx; ++x)
        for (int k = 0; k < nz; ++k)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(out[(size_t(x) * nz + k) * 3 + c], voxel(x, 2, k)[c]);
}

namespace {

struct Plane {
    float origin[3], col[3], row[3], normal[3];
};

// A plane through the volume tilted about two axes, so that it leaves the volume on some
// rows and columns.
Plane tiltedPlane(const Volume<int16_t>&, const float sp[3], int w, int h)
{
    const double a = 0.5, b = 0.3;
    Plane p;
    const double cx[3] = {std::cos(b), 0, -std::sin(b)};
    const double cy[3] = {std::sin(a) * std::sin(b), std::cos(a), std::sin(a) * std::cos(b)};
    const double n[3] = {cx[1] * cy[2] - cx[2] * cy[1], cx[2] * cy[0] - cx[0] * cy[2], cx[0] * cy[1] - cx[1] * cy[0]};
    for (int i = 0; i < 3; ++i) {
        p.col[i] = static_cast<float>(cx[i] * sp[0] * 0.9);
        p.row[i] = static_cast<float>(cy[i] * sp[1] * 0.8);
        p.normal[i] = static_cast<float>(n[i] * sp[2] * 0.9);
        p.origin[i] = static_cast<float>(-0.2 * w * p.col[i] - 0.1 * h * p.row[i]) + sp[i] * 8.0f;
    }
    return p;
}

template <class T>
std::vector<T> runReslice(const Volume<T>& vol, const float sp[3], const Plane& pl, int w, int h, int interp,
                          int slabCount, int mode, float bg)
{
    std::vector<T> out(size_t(w) * h, T(55));
    isResliceJob job;
    job.voxels = vol.v.data();
    job.dims[0] = vol.nx, job.dims[1] = vol.ny, job.dims[2] = vol.nz;
    std::copy(sp, sp + 3, job.spacing);
    job.pixelType = typeCode<T>();
    job.out = out.data();
    job.width = w, job.height = h;
    std::copy(pl.origin, pl.origin + 3, job.origin);
    std::copy(pl.col, pl.col + 3, job.colStep);
    std::copy(pl.row, pl.row + 3, job.rowStep);
    std::copy(pl.normal, pl.normal + 3, job.planeStep);
    job.slabCount = slabCount;
    job.slabMode = mode;
    job.interpolation = interp;
    job.background = bg;
    resliceVolume(job);
    return out;
}

} // namespace

TEST(SliceKernels, ObliquePlanesAndSlabsMatchReference)
{
    const Volume<int16_t> vol = qvtest::randomVolume<int16_t>(40, 36, 30, 5, -2000, 3000);
    const float sp[3] = {0.7f, 0.8f, 1.3f};
    const int w = 70, h = 60;
    const Plane pl = tiltedPlane(vol, sp, w, h);
    for (int interp : {INTERPOLATION_LINEAR, INTERPOLATION_CUBIC}) {
        for (int slab : {1, 4}) {
            for (int mode : {0, 1, 2, 3}) {
                if (slab == 1 && mode != 1)
                    continue;
                const std::vector<int16_t> got = runReslice(vol, sp, pl, w, h, interp, slab, mode, -1024.0f);
                size_t bad = 0, inside = 0;
                for (int r = 0; r < h; ++r) {
                    std::vector<double> vals;
                    for (int c = 0; c < w; ++c) {
                        vals.clear();
                        for (int s = 0; s < slab; ++s) {
                            // Positions as the kernel forms them: row start directly, columns stepped.
                            float p[3];
                            for (int a = 0; a < 3; ++a) {
                                const float start = slab > 1 ? pl.origin[a] - pl.normal[a] * (slab * 0.5f) : pl.origin[a];
                                p[a] = start + float(s) * pl.normal[a] + float(r) * pl.row[a];
                            }
                            for (int k = 0; k < c; ++k)
                                for (int a = 0; a < 3; ++a)
                                    p[a] += pl.col[a];
                            const double v = interp == INTERPOLATION_CUBIC
                                                 ? qvtest::referenceTricubic(vol, sp, -1024, p[0], p[1], p[2])
                                                 : qvtest::referenceTrilinear(vol, sp, -1024, p[0], p[1], p[2]);
                            vals.push_back(std::trunc(std::min(32767.0, std::max(-32768.0, v))));
                        }
                        double want = vals[0];
                        if (mode == 0) want = *std::min_element(vals.begin(), vals.end());
                        if (mode == 1) want = *std::max_element(vals.begin(), vals.end());
                        if (mode >= 2) {
                            double t = 0;
                            for (double v : vals) t += v;
                            want = mode == 3 ? t : std::trunc(t / slab);
                            want = std::min(32767.0, std::max(-32768.0, want));
                        }
                        if (vals[0] != -1024)
                            ++inside;
                        // Float rounding may move a truncation across an integer: one unit.
                        if (std::fabs(want - got[size_t(r) * w + c]) > (mode == 3 ? slab : 1))
                            ++bad;
                    }
                }
                EXPECT_EQ(bad, 0u) << "interp " << interp << " slab " << slab << " mode " << mode;
                EXPECT_GT(inside, size_t(w) * h / 4);
                EXPECT_LT(inside, size_t(w) * h);
            }
        }
    }
}

TEST(SliceKernels, ObliquePlanesAlongTheGridEqualOrthogonalCuts)
{
    // Spacings that are powers of two keep every position exact, so the planes are equal
    // sample for sample.
    const Volume<int16_t> vol = qvtest::randomVolume<int16_t>(33, 29, 17, 9, -3000, 3000);
    const float sp[3] = {0.5f, 2.0f, 1.0f};
    for (int interp : {INTERPOLATION_LINEAR, INTERPOLATION_CUBIC}) {
        // Axis 0, slice 6: columns along x, rows along y.
        Plane a{{0, 0, 6 * sp[2]}, {sp[0], 0, 0}, {0, sp[1], 0}, {0, 0, sp[2]}};
        EXPECT_EQ(runReslice(vol, sp, a, vol.nx, vol.ny, interp, 1, 1, 0), runCut(vol, 0, 6, 6, 1));
        // Axis 1, plane 4 = column nx - 5: columns along z, rows along y.
        Plane b{{(vol.nx - 5) * sp[0], 0, 0}, {0, 0, sp[2]}, {0, sp[1], 0}, {-sp[0], 0, 0}};
        EXPECT_EQ(runReslice(vol, sp, b, vol.nz, vol.ny, interp, 1, 1, 0), runCut(vol, 1, 4, 4, 1));
        // Axis 2, row 7: columns along z, rows along x.
        Plane c{{0, 7 * sp[1], 0}, {0, 0, sp[2]}, {sp[0], 0, 0}, {0, sp[1], 0}};
        EXPECT_EQ(runReslice(vol, sp, c, vol.nz, vol.nx, interp, 1, 1, 0), runCut(vol, 2, 7, 7, 1));
        // A 3-plane maximum slab along z: the planes sit at -1.5, -0.5 and +0.5 plane steps,
        // i.e. on slices 5, 6 and 7 when the origin is placed at 6.5.
        Plane d{{0, 0, 6.5f * sp[2]}, {sp[0], 0, 0}, {0, sp[1], 0}, {0, 0, sp[2]}};
        EXPECT_EQ(runReslice(vol, sp, d, vol.nx, vol.ny, interp, 3, SLAB_MAX, 0), runCut(vol, 0, 5, 7, SLAB_MAX));
    }
}

TEST(SliceKernels, ObliqueSlabAveragesOfEqualValuesAreExact)
{
    Volume<uint8_t> vol(10, 10, 80);
    std::fill(vol.v.begin(), vol.v.end(), 13);
    const float sp[3] = {1, 1, 1};
    Plane p{{0, 0, 40}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (uint8_t v : runReslice(vol, sp, p, 9, 9, INTERPOLATION_LINEAR, 49, SLAB_AVERAGE, 0))
        ASSERT_EQ(v, 13);
}

TEST(SliceKernels, DegenerateObliqueJobsGiveBackground)
{
    const Volume<int16_t> vol = qvtest::randomVolume<int16_t>(8, 8, 8, 3, 0, 100);
    const float zero[3] = {1.0f, 1.0f, 0.0f};
    Plane p{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int16_t v : runReslice(vol, zero, p, 8, 8, INTERPOLATION_CUBIC, 1, 1, -1024))
        ASSERT_EQ(v, -1024);
    const float sp[3] = {1, 1, 1};
    Plane nan{{0, 0, 0}, {std::nanf(""), 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int16_t v : runReslice(vol, sp, nan, 8, 8, INTERPOLATION_LINEAR, 1, 1, -1024))
        ASSERT_EQ(v, -1024);
    Plane huge{{-1e30f, 1e30f, 0}, {1e30f, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int interp : {INTERPOLATION_LINEAR, INTERPOLATION_CUBIC})
        for (int16_t v : runReslice(vol, sp, huge, 8, 8, interp, 1, 1, -1024))
            ASSERT_EQ(v, -1024);
}

TEST(WorkerPool, CoversEveryIndexOnceAndRunsNestedLoopsInline)
{
    isWorkerPool pool(3);
    for (int count : {1, 7, 1000, 4099}) {
        std::vector<std::atomic<int>> hits(count);
        pool.parallelFor(count, 13, [&](int b, int e) {
            ASSERT_LE(e - b, 13);
            for (int i = b; i < e; ++i)
                hits[i]++;
        });
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(hits[i].load(), 1) << i;
    }
    // A loop started from inside a body runs on that thread and still covers its range.
    std::atomic<long> total{0};
    pool.parallelFor(8, 1, [&](int, int) {
        pool.parallelFor(100, 10, [&](int b, int e) { total += e - b; });
    });
    EXPECT_EQ(total.load(), 800);
}
