// Frame times of the volume renderer on a 512 x 512 x 400 signed 16-bit CT-like phantom (a
// body of soft tissue with bone, an air cylinder, spheres and a cube, plus a little noise) seen
// whole in a 512 x 512 view through a 60 degree perspective camera, and of VTK's
// vtkFixedPointVolumeRayCastMapper on the same voxels, view, window and thread count (4).
//
//   Ours/Composite, Ours/Shaded, Ours/MIP   the best-quality engine (trilinear, full size)
//   Ours/Interactive                        the interactive engine (nearest), its render scale
//                                           adapting to the 30 ms budget; "scale" is where it
//                                           settles
//   VTK/Composite, VTK/MIP                  linear interpolation, sample distance = the
//                                           smallest spacing, opacity per sample as ours
//
// After the runs the program prints our frame time over VTK's for composite and MIP, by the wall
// clock and by the CPU time of all threads ("cpu_all_ms", steadier on a loaded machine).
// VTK needs a display: run under xvfb-run (without DISPLAY its benchmarks are skipped).
#include "Phantom.h"
#include "isImageTypes.h"
#include "vrRayCaster.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef QV_BENCH_WITH_VTK
#include <vtkCamera.h>
#include <vtkColorTransferFunction.h>
#include <vtkFixedPointVolumeRayCastMapper.h>
#include <vtkImageData.h>
#include <vtkNew.h>
#include <vtkPiecewiseFunction.h>
#include <vtkPointData.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkShortArray.h>
#include <vtkVolume.h>
#include <vtkVolumeProperty.h>
#endif

using namespace isImageSDK;

namespace {

constexpr int NX = 512, NY = 512, NZ = 400;
constexpr float SX = 0.7f, SY = 0.7f, SZ = 1.0f;
constexpr int kView = 512;
constexpr int kThreads = 4;
// Soft-tissue window.
constexpr float kWidth = 400.0f, kCentre = 40.0f;

struct Volume {
    std::vector<int16_t> voxels;
    vrVolumeDescriptor descriptor;
    Volume() : voxels(static_cast<size_t>(NX) * NY * NZ)
    {
        qvgen::PhantomSpec spec;
        spec.columns = NX, spec.rows = NY, spec.slices = NZ;
        spec.columnSpacing = SX, spec.rowSpacing = SY, spec.sliceSpacing = SZ;
        const qvgen::Phantom phantom(spec);
        uint32_t noise = 12345;
        for (int k = 0; k < NZ; ++k) {
            const std::vector<uint8_t> bytes = phantom.sliceBytes(k);
            const auto* slice = reinterpret_cast<const int16_t*>(bytes.data());
            int16_t* out = voxels.data() + static_cast<size_t>(k) * NX * NY;
            for (int i = 0; i < NX * NY; ++i) {
                noise = noise * 1664525u + 1013904223u;
                // CT noise of about +-20 HU inside the body; air stays clean.
                const int n = slice[i] > -900 ? static_cast<int>(noise >> 27) - 16 : 0;
                out[i] = static_cast<int16_t>(slice[i] + n);
            }
        }
        descriptor.voxels = voxels.data();
        descriptor.pixelType = PIXEL_I16;
        descriptor.dimensions[0] = NX, descriptor.dimensions[1] = NY, descriptor.dimensions[2] = NZ;
        descriptor.spacing[0] = SX, descriptor.spacing[1] = SY, descriptor.spacing[2] = SZ;
    }
};

const Volume& volume()
{
    static const Volume v;
    return v;
}

// Seen from the front (along +y, head up), the whole volume in view.
vrCameraState camera()
{
    vrCameraState c;
    c.perspective = true;
    c.fieldOfView = 60.0f;
    c.viewWidth = c.viewHeight = kView;
    c.nearPlane = 1.0f;
    c.farPlane = 2000.0f;
    const float cx = (NX - 1) * SX * 0.5f, cy = (NY - 1) * SY * 0.5f, cz = (NZ - 1) * SZ * 0.5f;
    c.target[0] = cx, c.target[1] = cy, c.target[2] = cz;
    c.eye[0] = cx, c.eye[1] = cy - 560.0f, c.eye[2] = cz;
    c.up[0] = 0, c.up[1] = 0, c.up[2] = 1;
    c.valid = true;
    return c;
}

std::map<std::string, double> g_frameMs;
std::map<std::string, double> g_cpuMs;

// CPU time of every thread of the process, in seconds: on a shared, loaded machine it tells the
// work a frame costs more steadily than the wall clock.
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

void record(benchmark::State& state, const std::string& name, double totalSeconds, double cpuSeconds)
{
    const double ms = totalSeconds * 1000.0 / static_cast<double>(state.iterations());
    const double cpu = cpuSeconds * 1000.0 / static_cast<double>(state.iterations());
    g_frameMs[name] = ms;
    g_cpuMs[name] = cpu;
    state.counters["frame_ms"] = ms;
    state.counters["cpu_all_ms"] = cpu;
}

void ours(benchmark::State& state, int mode, bool best)
{
    vrRayCaster engine;
    engine.setVolume(&volume().descriptor);
    engine.setRenderMode(mode);
    engine.setPendingWindow(kWidth, kCentre);
    engine.setCamera(camera(), false);
    if (best) {
        engine.setTrilinear(true);
        engine.setTargetFrameTime(5000.0f);
        engine.setAdaptiveScale(false);
    } else {
        engine.setTrilinear(false);
        engine.setRenderScale(0.1f);
        engine.setTargetFrameTime(30.0f);
    }
    // The grid is built once per volume: not part of a frame.
    engine.render();
    for (int i = 0; i < 10 && !best; ++i)
        engine.render();
    double total = 0;
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        engine.render();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(engine.getFrame().pixels);
    }
    const char* names[] = {"composite", "preintegrated", "shaded", "mip"};
    record(state, std::string(best ? "ours_" : "ours_interactive_") + names[mode], total, processCpuSeconds() - cpu0);
    state.counters["width"] = engine.getFrame().width;
    if (!best)
        state.counters["scale"] = engine.getRenderScale();
}

void BM_OursComposite(benchmark::State& s) { ours(s, RenderComposite, true); }
void BM_OursShaded(benchmark::State& s) { ours(s, RenderShaded, true); }
void BM_OursMIP(benchmark::State& s) { ours(s, RenderMIP, true); }
void BM_OursInteractive(benchmark::State& s) { ours(s, RenderComposite, false); }


#ifdef QV_BENCH_WITH_VTK
// VTK's side: one scene and one off-screen window for the whole run, its mapper's blend mode set
// per case. Each case opening and closing a window of its own left the display without a
// client between cases: an X server that resets then turns the next window away ("bad X
// server connection"), as it does when the cases are interleaved or repeated.
struct VtkScene {
    vtkNew<vtkShortArray> scalars;
    vtkNew<vtkImageData> image;
    vtkNew<vtkPiecewiseFunction> opacity;
    vtkNew<vtkColorTransferFunction> colour;
    vtkNew<vtkVolumeProperty> property;
    vtkNew<vtkFixedPointVolumeRayCastMapper> mapper;
    vtkNew<vtkVolume> actor;
    vtkNew<vtkRenderer> renderer;
    vtkNew<vtkRenderWindow> window;

    VtkScene()
    {
        // VTK reads our voxel block in place.
        scalars->SetArray(const_cast<int16_t*>(volume().voxels.data()), static_cast<vtkIdType>(NX) * NY * NZ, 1);
        image->SetDimensions(NX, NY, NZ);
        image->SetSpacing(SX, SY, SZ);
        image->SetOrigin(0, 0, 0);
        image->GetPointData()->SetScalars(scalars);

        // Our transfer: opacity ramps from 0 at the window's lower bound to 1 at its upper bound,
        // grey colour likewise, per sample.
        const double lower = kCentre - kWidth * 0.5, upper = kCentre + kWidth * 0.5;
        opacity->AddPoint(-32768, 0.0);
        opacity->AddPoint(lower, 0.0);
        opacity->AddPoint(upper, 1.0);
        opacity->AddPoint(32767, 1.0);
        colour->AddRGBPoint(-32768, 0, 0, 0);
        colour->AddRGBPoint(lower, 0, 0, 0);
        colour->AddRGBPoint(upper, 1, 1, 1);
        colour->AddRGBPoint(32767, 1, 1, 1);
        property->SetScalarOpacity(opacity);
        property->SetColor(colour);
        property->SetInterpolationTypeToLinear();
        property->ShadeOff();
        // Opacity per sample, as ours: the unit distance is the sample distance.
        property->SetScalarOpacityUnitDistance(std::min({SX, SY, SZ}));

        mapper->SetInputData(image);
        mapper->SetNumberOfThreads(kThreads);
        mapper->AutoAdjustSampleDistancesOff();
        mapper->LockSampleDistanceToInputSpacingOff();
        mapper->SetSampleDistance(std::min({SX, SY, SZ}));
        mapper->SetImageSampleDistance(1.0);
        actor->SetMapper(mapper);
        actor->SetProperty(property);

        renderer->AddVolume(actor);
        renderer->SetBackground(0, 0, 0);
        const vrCameraState c = camera();
        vtkCamera* cam = renderer->GetActiveCamera();
        cam->SetPosition(c.eye[0], c.eye[1], c.eye[2]);
        cam->SetFocalPoint(c.target[0], c.target[1], c.target[2]);
        cam->SetViewUp(c.up[0], c.up[1], c.up[2]);
        cam->SetViewAngle(c.fieldOfView);
        cam->SetClippingRange(c.nearPlane, c.farPlane);
        window->SetOffScreenRendering(1);
        window->SetSize(kView, kView);
        window->AddRenderer(renderer);
    }
};

// Made by the first VTK case, closed by main after the run.
std::unique_ptr<VtkScene> g_vtk;

void vtk(benchmark::State& state, bool mip)
{
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("VTK needs a display (run under xvfb-run)");
        return;
    }
    if (!g_vtk)
        g_vtk = std::make_unique<VtkScene>();
    if (mip)
        g_vtk->mapper->SetBlendModeToMaximumIntensity();
    else
        g_vtk->mapper->SetBlendModeToComposite();
    vtkCamera* cam = g_vtk->renderer->GetActiveCamera();
    g_vtk->window->Render();  // builds the mapper's tables for this mode

    double total = 0;
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        cam->Modified();
        const auto t0 = std::chrono::steady_clock::now();
        g_vtk->window->Render();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    record(state, mip ? "vtk_mip" : "vtk_composite", total, processCpuSeconds() - cpu0);
}

void BM_VtkComposite(benchmark::State& s) { vtk(s, false); }
void BM_VtkMIP(benchmark::State& s) { vtk(s, true); }
#endif

// Ours and VTK side by side per mode, so that both see the same load on a shared machine.
BENCHMARK(BM_OursComposite)->Name("Ours/Composite")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#ifdef QV_BENCH_WITH_VTK
BENCHMARK(BM_VtkComposite)->Name("VTK/Composite")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#endif
BENCHMARK(BM_OursMIP)->Name("Ours/MIP")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#ifdef QV_BENCH_WITH_VTK
BENCHMARK(BM_VtkMIP)->Name("VTK/MIP")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#endif
BENCHMARK(BM_OursShaded)->Name("Ours/Shaded")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OursInteractive)->Name("Ours/Interactive")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#ifdef QV_BENCH_WITH_VTK
    g_vtk.reset();
#endif
    for (const char* mode : {"composite", "mip"}) {
        const auto o = g_frameMs.find(std::string("ours_") + mode);
        const auto v = g_frameMs.find(std::string("vtk_") + mode);
        if (o != g_frameMs.end() && v != g_frameMs.end() && v->second > 0) {
            const double oc = g_cpuMs[o->first], vc = g_cpuMs[v->first];
            std::printf("%-9s ours %.1f ms, VTK %.1f ms: ratio %.2f (aim: at most 0.50); CPU of all threads per "
                        "frame ours %.1f ms, VTK %.1f ms: ratio %.2f\n",
                        mode, o->second, v->second, o->second / v->second, oc, vc, vc > 0 ? oc / vc : 0.0);
        }
    }
    // Maximum intensity reads the whole depth of the body where compositing stops after a few
    // millimetres of tissue: its frame over the composite frame, ours and VTK's.
    for (const char* who : {"ours", "vtk"}) {
        const auto c = g_cpuMs.find(std::string(who) + "_composite");
        const auto m = g_cpuMs.find(std::string(who) + "_mip");
        if (c != g_cpuMs.end() && m != g_cpuMs.end() && c->second > 0)
            std::printf("%-9s mip over composite: %.2f by the wall clock, %.2f by the CPU of all threads\n", who,
                        g_frameMs[m->first] / g_frameMs[c->first], m->second / c->second);
    }
    return 0;
}
