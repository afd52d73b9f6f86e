// Time to window a 512 x 512 signed 16-bit slice through a colour table into the RGB888
// picture the CPU image node uploads:
//
//   cpu_steady      the window is unchanged, so the composite lookup table is reused (a frame
//                   step of a cine, a slice change)
//   cpu_drag        the window moves every time (a window-level drag): lookup rebuilt
//   cpu_float       the same slice as 32-bit floats (windowed per pixel), linear and log
//   words_i16       the 16-bit words of the shader node's texture
//   clut_drag_i16   the colour table's window table alone over the signed 16-bit range, the
//                   window moving every time (refilled in place)
//
// and, with a display (DISPLAY set, e.g. under xvfb-run; skipped otherwise), whole frames of a
// hidden 512 x 512 GL window showing the slice, finished with glFinish:
//
//   frame_gpu_drag    shader node, the window moves every frame (a few uniforms)
//   frame_gpu_slice   shader node, a new frame texture every frame (a slice change)
//   frame_cpu_drag    CPU node, the window moves every frame (paint + RGB upload)
//
// "MPix/s" is slice pixels per second; bytes_per_second counts the bytes read and written.
#include "isCamera.h"
#include "isClut.h"
#include "isFramePainter.h"
#include "isNodeImage.h"
#include "isNodeImageByShader.h"
#include "isSliceInfo.h"

#include "cocos2d.h"

#include <GLFW/glfw3.h>
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace isImageSDK;

namespace {

constexpr int N = 512;

// A CT-like slice: air around a disc of soft tissue with bone and noise.
struct Slice {
    std::vector<int16_t> i16;
    std::vector<float> f32;
    isSliceInfo info;
    isSliceInfo floatInfo;
    Slice() : i16(N * N), f32(N * N)
    {
        uint32_t seed = 12345;
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                const float r = std::hypot(x - N / 2.0f, y - N / 2.0f);
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>(seed >> 27) - 16;
                int v = r > 220 ? -1000 : r > 200 ? 700 : 40;
                v += noise;
                i16[static_cast<size_t>(y) * N + x] = static_cast<int16_t>(v);
                f32[static_cast<size_t>(y) * N + x] = static_cast<float>(v) * 0.5f;
            }
        info.columns = info.rows = N;
        info.pixelType = PIXEL_I16;
        info.pixels = reinterpret_cast<unsigned char*>(i16.data());
        floatInfo = info;
        floatInfo.pixelType = PIXEL_FLOAT;
        floatInfo.pixels = reinterpret_cast<unsigned char*>(f32.data());
    }
};

Slice& slice()
{
    static Slice s;
    return s;
}

isClut* makeClut()
{
    isClut* clut = new isClut();
    clut->init();
    clut->setAutoUpdate(false);
    // A hot-metal-like ramp, so the colours differ per channel.
    for (int i = 0; i < 256; ++i) {
        const uint32_t r = std::min(255, i * 3), g = std::max(0, std::min(255, i * 3 - 255)),
                       b = std::max(0, i * 3 - 510);
        clut->setColor(i, (r << 24) | (g << 16) | (b << 8) | 255u);
    }
    return clut;
}

void finish(benchmark::State& state, int bytesPerSample)
{
    state.SetItemsProcessed(state.iterations() * N * N);
    state.SetBytesProcessed(state.iterations() * N * N * (bytesPerSample + 3));
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(N) * N, benchmark::Counter::kIsIterationInvariantRate);
}

void cpu_steady(benchmark::State& state)
{
    isClut* clut = makeClut();
    clut->setWindowInt(400, 40);
    isFramePainter painter;
    for (auto _ : state) {
        const unsigned char* rgb = painter.paintRGB(&slice().info, 0, clut);
        benchmark::DoNotOptimize(rgb);
        benchmark::ClobberMemory();
    }
    finish(state, 2);
    clut->release();
}

void cpu_drag(benchmark::State& state)
{
    isClut* clut = makeClut();
    isFramePainter painter;
    int step = 0;
    for (auto _ : state) {
        clut->setWindowInt(400 + (step & 63), 40 + (step & 31));
        ++step;
        const unsigned char* rgb = painter.paintRGB(&slice().info, 0, clut);
        benchmark::DoNotOptimize(rgb);
        benchmark::ClobberMemory();
    }
    finish(state, 2);
    clut->release();
}

void cpu_float(benchmark::State& state)
{
    isClut* clut = makeClut();
    clut->setPixelType(PIXEL_FLOAT);
    clut->setWindow(400, 40);
    clut->setCurve(static_cast<int>(state.range(0)));
    isFramePainter painter;
    for (auto _ : state) {
        const unsigned char* rgb = painter.paintRGB(&slice().floatInfo, 0, clut);
        benchmark::DoNotOptimize(rgb);
        benchmark::ClobberMemory();
    }
    finish(state, 4);
    clut->release();
}

void words_i16(benchmark::State& state)
{
    isFramePainter painter;
    float scale, offset;
    for (auto _ : state) {
        const uint16_t* words = painter.packWords(&slice().info, 0, &scale, &offset);
        benchmark::DoNotOptimize(words);
        benchmark::ClobberMemory();
    }
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(N) * N, benchmark::Counter::kIsIterationInvariantRate);
}

// ----- whole frames in a GL window

cocos2d::GLView* g_view = nullptr;

// A director drawing into the hidden window; false without a display.
bool glDirector()
{
    if (!g_view) {
        if (!std::getenv("DISPLAY"))
            return false;
        cocos2d::Director::getInstance();
        auto* view = cocos2d::GLViewImpl::createWithRect("bench_display", cocos2d::Rect(0, 0, N, N));
        if (!view)
            return false;
        glfwHideWindow(view->getWindow());
        g_view = view;
        g_view->retain();
        cocos2d::FileUtils::getInstance()->addSearchPath("imageSDK");
    }
    cocos2d::Director::getInstance()->setOpenGLView(g_view);
    return true;
}

enum class Path { GpuDrag, GpuSlice, CpuDrag };

void frames(benchmark::State& state, Path path)
{
    if (!glDirector()) {
        state.SkipWithError("no display");
        return;
    }
    auto* director = cocos2d::Director::getInstance();
    auto* scene = cocos2d::Scene::create();
    auto* camera = isCamera::create();
    camera->setCameraFlag(2);
    scene->addChild(camera);
    camera->setPosition3D(cocos2d::Vec3(N / 2.0f, N / 2.0f, -1000.0f));
    camera->lookAt(cocos2d::Vec3(N / 2.0f, N / 2.0f, 0.0f), cocos2d::Vec3(0.0f, -1.0f, 0.0f));
    camera->setupProjection(60.0f, N, N, 100.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
    isNodeImage* node = path == Path::CpuDrag ? isNodeImage::create() : isNodeImageByShader::create();
    if (!node) {
        state.SkipWithError("the shader program does not build");
        cocos2d::Director::destroyInstance();
        return;
    }
    isClut* clut = makeClut();
    node->setClut(clut);
    scene->addChild(node);
    node->setCameraMask(2, true);
    director->runWithScene(scene);
    node->setImage(&slice().info);
    int step = 0;
    auto oneFrame = [&] {
        if (path == Path::GpuSlice) {
            node->refreshTexture();
        } else {
            clut->setWindowInt(400 + (step & 63), 40 + (step & 31));
            node->markTextureDirty();
        }
        ++step;
        director->stepFrame(1.0f / 60);
        glFinish();
    };
    for (int i = 0; i < 3; ++i)  // warm-up: scene entered, program linked
        oneFrame();
    for (auto _ : state)
        oneFrame();
    state.SetItemsProcessed(state.iterations() * N * N);
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(N) * N, benchmark::Counter::kIsIterationInvariantRate);
    cocos2d::Director::destroyInstance();
    clut->release();
}

void clut_drag_i16(benchmark::State& state)
{
    isClut* clut = makeClut();
    clut->setPixelType(PIXEL_I16);
    int step = 0;
    for (auto _ : state) {
        clut->setWindowInt(400 + (step & 63), 40 + (step & 31));
        clut->updateTable();
        ++step;
        benchmark::DoNotOptimize(clut->getWindowTable());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * clut->getTableSize());
    clut->release();
}

void frame_gpu_drag(benchmark::State& state)
{
    frames(state, Path::GpuDrag);
}

void frame_gpu_slice(benchmark::State& state)
{
    frames(state, Path::GpuSlice);
}

void frame_cpu_drag(benchmark::State& state)
{
    frames(state, Path::CpuDrag);
}

} // namespace

BENCHMARK(frame_gpu_drag)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(frame_gpu_slice)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(frame_cpu_drag)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(cpu_steady)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(cpu_drag)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(cpu_float)->Arg(WINDOW_LINEAR)->Arg(WINDOW_LOG)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(words_i16)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(clut_drag_i16)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
