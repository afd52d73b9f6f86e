// Time per plane of the slicing kernels on a 512 x 512 x 400 signed 16-bit volume, and of
// VTK's vtkImageReslice producing the same output from the same voxels (when built with VTK).
//
//   axial / coronal / sagittal   one orthogonal plane through the middle of the volume
//   mip20                        maximum of 20 axial slices
//   oblique_linear / _cubic      512 x 512 plane tilted about two axes through the centre
//
// ourCut / ourOblique time the slicing kernels on the image's voxel block; ourPlane times the
// orthogonal slicer filter as the image actor uses it (new index, output image, cut; its thick
// slab has an odd plane count, 21); ourReslice the oblique reslicer filter likewise (new axes,
// output image sized to the plane's footprint, cut). "cpu_all_us" is the CPU time of all threads
// per plane.
#include "isImageTypes.h"
#include "isImageData.h"
#include "isImagePlane.h"
#include "isImageReslice2D.h"
#include "isSliceKernels.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <algorithm>
#include <vector>

#ifdef QV_BENCH_WITH_VTK
#include <vtkImageData.h>
#include <vtkImageReslice.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkShortArray.h>
#include <vtkSmartPointer.h>
#endif

using namespace isImageSDK;

namespace {

constexpr int NX = 512, NY = 512, NZ = 400;
constexpr float SX = 0.68f, SY = 0.68f, SZ = 1.25f;

// The volume as the viewer holds it: an isImageData whose slices share one voxel block.
struct Volume {
    isImageData* image = nullptr;
    int16_t* voxels = nullptr;
    std::vector<const unsigned char*> slices;
    Volume()
    {
        image = isImageData::create();
        image->retain();
        const int dims[3] = {NX, NY, NZ};
        const float spacing[3] = {SX, SY, SZ};
        image->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4());
        voxels = static_cast<int16_t*>(image->getVoxelPointer());
        // Smooth anatomy-like structure with some texture: a sphere of soft tissue with
        // bright shells, over air.
        for (int z = 0; z < NZ; ++z)
            for (int y = 0; y < NY; ++y)
                for (int x = 0; x < NX; ++x) {
                    const float dx = (x - NX / 2) * SX, dy = (y - NY / 2) * SY, dz = (z - NZ / 2) * SZ;
                    const float r = std::sqrt(dx * dx + dy * dy + dz * dz);
                    int v = r < 160 ? 40 + int(30 * std::sin(r * 0.3f)) : -1000;
                    if (std::fabs(r - 120) < 3)
                        v = 1200;
                    v += int((x * 7 + y * 13 + z * 17) % 23) - 11;
                    voxels[(size_t(z) * NY + y) * NX + x] = int16_t(v);
                }
        for (int k = 0; k < NZ; ++k)
            slices.push_back(reinterpret_cast<const unsigned char*>(voxels + size_t(k) * NX * NY));
    }
};

// CPU time of the whole process (every thread), so that the work of the worker threads
// shows next to the wall time; reported per plane as "cpu_all_us".
double processCpuMicroseconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

struct CpuCounter {
    benchmark::State& state;
    double start = processCpuMicroseconds();
    ~CpuCounter()
    {
        state.counters["cpu_all_us"] = (processCpuMicroseconds() - start) / std::max<int64_t>(1, state.iterations());
    }
};

const Volume& volume()
{
    static Volume v;
    return v;
}

// Oblique plane: columns along (cos a, sin a, 0) tilted by b about the column direction,
// 512 x 512 pixels of SX millimetres, centred on the volume's centre.
struct Oblique {
    double col[3], row[3], normal[3], origin[3];
    Oblique()
    {
        const double a = 30 * M_PI / 180, b = 25 * M_PI / 180;
        const double c0[3] = {std::cos(a), std::sin(a), 0};
        const double r0[3] = {-std::sin(a), std::cos(a), 0};
        for (int i = 0; i < 3; ++i) {
            col[i] = c0[i];
            row[i] = r0[i] * std::cos(b) + (i == 2 ? std::sin(b) : 0);
        }
        normal[0] = col[1] * row[2] - col[2] * row[1];
        normal[1] = col[2] * row[0] - col[0] * row[2];
        normal[2] = col[0] * row[1] - col[1] * row[0];
        const double centre[3] = {(NX - 1) * SX / 2.0, (NY - 1) * SY / 2.0, (NZ - 1) * SZ / 2.0};
        for (int i = 0; i < 3; ++i)
            origin[i] = centre[i] - 255.5 * SX * col[i] - 255.5 * SX * row[i];
    }
};

void ourCut(benchmark::State& state, int axis, int first, int last)
{
    const Volume& v = volume();
    const size_t n = axis == 0 ? size_t(NX) * NY : axis == 1 ? size_t(NZ) * NY : size_t(NZ) * NX;
    std::vector<int16_t> out(n);
    isPlaneCut job;
    job.slices = v.slices.data();
    job.nx = NX, job.ny = NY, job.nz = NZ;
    job.pixelType = PIXEL_I16;
    job.axis = axis;
    job.first = first, job.last = last;
    job.slabMode = SLAB_MAX;
    job.out = reinterpret_cast<unsigned char*>(out.data());
    CpuCounter cpu{state};
    for (auto _ : state) {
        cutPlane(job);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void ourOblique(benchmark::State& state, int interpolation)
{
    const Volume& v = volume();
    const Oblique o;
    std::vector<int16_t> out(512 * 512);
    isResliceJob job;
    job.voxels = v.voxels;
    job.dims[0] = NX, job.dims[1] = NY, job.dims[2] = NZ;
    job.spacing[0] = SX, job.spacing[1] = SY, job.spacing[2] = SZ;
    job.pixelType = PIXEL_I16;
    job.out = out.data();
    job.width = job.height = 512;
    for (int i = 0; i < 3; ++i) {
        job.origin[i] = float(o.origin[i]);
        job.colStep[i] = float(o.col[i] * SX);
        job.rowStep[i] = float(o.row[i] * SX);
        job.planeStep[i] = float(o.normal[i] * SX);
    }
    job.interpolation = interpolation;
    job.background = -1024;
    CpuCounter cpu{state};
    for (auto _ : state) {
        resliceVolume(job);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

// The orthogonal slicer as the image actor drives it: a new index, then the output slice.
void ourPlane(benchmark::State& state, int axis, double slabMillimetres)
{
    const Volume& v = volume();
    isImagePlane* plane = isImagePlane::create();
    plane->retain();
    plane->setInput(v.image);
    plane->setAxis(axis);
    plane->setSlabThickness(slabMillimetres);
    const int middle = plane->getSliceCount() / 2;
    int flip = 0;
    CpuCounter cpu{state};
    for (auto _ : state) {
        plane->setIndex(middle + (flip ^= 1));  // a new plane every time
        plane->setModified();
        benchmark::DoNotOptimize(plane->getOutputData()->getSlice(0)->pixels);
    }
    plane->release();
}

// The oblique reslicer as the image actor drives it: new axes, then the output slice.
void ourReslice(benchmark::State& state)
{
    const Volume& v = volume();
    isImageReslice2D* reslice = isImageReslice2D::create();
    reslice->retain();
    reslice->setInput(v.image);
    cocos2d::Mat4 axes[2];
    cocos2d::Mat4::createRotationX(0.6f, &axes[0]);
    cocos2d::Mat4::createRotationX(0.61f, &axes[1]);
    int flip = 0;
    CpuCounter cpu{state};
    for (auto _ : state) {
        reslice->setResliceAxes(axes[flip ^= 1]);  // a new plane every time
        benchmark::DoNotOptimize(reslice->getOutputData()->getSlice(0)->pixels);
    }
    reslice->release();
}

} // namespace

BENCHMARK_CAPTURE(ourPlane, axial, 0, 0.0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourPlane, coronal, 2, 0.0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourPlane, sagittal, 1, 0.0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourPlane, mip21, 0, 21 * SZ)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourCut, axial, 0, NZ / 2, NZ / 2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourCut, coronal, 2, NY / 2, NY / 2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourCut, sagittal, 1, NX / 2, NX / 2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourCut, mip20, 0, NZ / 2 - 10, NZ / 2 + 9)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourOblique, oblique_linear, INTERPOLATION_LINEAR)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(ourOblique, oblique_cubic, INTERPOLATION_CUBIC)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ourReslice)->Unit(benchmark::kMicrosecond)->UseRealTime();

#ifdef QV_BENCH_WITH_VTK
namespace {

vtkSmartPointer<vtkImageData> vtkVolume()
{
    static vtkSmartPointer<vtkImageData> image;
    if (!image) {
        const Volume& v = volume();
        vtkNew<vtkShortArray> array;
        // Wraps our voxels without a copy (save = 1: VTK never frees them).
        array->SetArray(v.voxels, vtkIdType(size_t(NX) * NY * NZ), 1);
        image = vtkSmartPointer<vtkImageData>::New();
        image->SetDimensions(NX, NY, NZ);
        image->SetSpacing(SX, SY, SZ);
        image->SetOrigin(0, 0, 0);
        image->GetPointData()->SetScalars(array);
    }
    return image;
}

// col, row, normal: unit directions in the volume frame; origin in millimetres.
void vtkReslice(benchmark::State& state, const double col[3], const double row[3], const double normal[3],
                const double origin[3], int width, int height, double spacingX, double spacingY, int interpolation,
                int slab)
{
    vtkNew<vtkMatrix4x4> axes;
    for (int i = 0; i < 3; ++i) {
        axes->SetElement(i, 0, col[i]);
        axes->SetElement(i, 1, row[i]);
        axes->SetElement(i, 2, normal[i]);
        axes->SetElement(i, 3, origin[i]);
    }
    vtkNew<vtkImageReslice> reslice;
    reslice->SetInputData(vtkVolume());
    reslice->SetResliceAxes(axes);
    reslice->SetOutputDimensionality(2);
    reslice->SetOutputExtent(0, width - 1, 0, height - 1, 0, 0);
    reslice->SetOutputSpacing(spacingX, spacingY, SZ);
    reslice->SetOutputOrigin(0, 0, 0);
    reslice->SetBackgroundLevel(-1024);
    if (interpolation == INTERPOLATION_CUBIC)
        reslice->SetInterpolationModeToCubic();
    else if (interpolation == INTERPOLATION_LINEAR)
        reslice->SetInterpolationModeToLinear();
    else
        reslice->SetInterpolationModeToNearestNeighbor();
    if (slab > 1) {
        reslice->SetSlabNumberOfSlices(slab);
        reslice->SetSlabModeToMax();
    }
    CpuCounter cpu{state};
    for (auto _ : state) {
        reslice->Modified();
        reslice->Update();
        benchmark::DoNotOptimize(reslice->GetOutput()->GetScalarPointer());
    }
}

void vtkAxial(benchmark::State& s)
{
    const double c[3] = {1, 0, 0}, r[3] = {0, 1, 0}, n[3] = {0, 0, 1}, o[3] = {0, 0, NZ / 2 * SZ};
    vtkReslice(s, c, r, n, o, NX, NY, SX, SY, 0, 1);
}
void vtkCoronal(benchmark::State& s)
{
    const double c[3] = {0, 0, 1}, r[3] = {1, 0, 0}, n[3] = {0, 1, 0}, o[3] = {0, NY / 2 * SY, 0};
    vtkReslice(s, c, r, n, o, NZ, NX, SZ, SX, 0, 1);
}
void vtkSagittal(benchmark::State& s)
{
    const double c[3] = {0, 0, 1}, r[3] = {0, 1, 0}, n[3] = {-1, 0, 0}, o[3] = {(NX - 1 - NX / 2) * SX, 0, 0};
    vtkReslice(s, c, r, n, o, NZ, NY, SZ, SY, 0, 1);
}
void vtkMip20(benchmark::State& s)
{
    // VTK centres the slab on the plane: 20 slices around slice NZ / 2 - 0.5.
    const double c[3] = {1, 0, 0}, r[3] = {0, 1, 0}, n[3] = {0, 0, 1}, o[3] = {0, 0, (NZ / 2 - 0.5) * SZ};
    vtkReslice(s, c, r, n, o, NX, NY, SX, SY, 0, 20);
}
void vtkObliqueLinear(benchmark::State& s)
{
    const Oblique o;
    vtkReslice(s, o.col, o.row, o.normal, o.origin, 512, 512, SX, SX, INTERPOLATION_LINEAR, 1);
}
void vtkObliqueCubic(benchmark::State& s)
{
    const Oblique o;
    vtkReslice(s, o.col, o.row, o.normal, o.origin, 512, 512, SX, SX, INTERPOLATION_CUBIC, 1);
}

} // namespace

BENCHMARK(vtkAxial)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(vtkCoronal)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(vtkSagittal)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(vtkMip20)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(vtkObliqueLinear)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(vtkObliqueCubic)->Unit(benchmark::kMicrosecond)->UseRealTime();
#endif

BENCHMARK_MAIN();
