// Time from a viewer command to the finished frame of a 512 x 512 image viewer showing a
// 512 x 512 x 400 signed 16-bit CT phantom, next to the bare cost of the parts of that frame
// measured in the same run:
//
//   Viewer/<step>/<path>   the command as the interactor posts it, handed to the viewer, then one
//                          frame of the whole scene (image, corner texts, overlays); on the GL
//                          path finished with glFinish
//   Parts/<step>/<path>    the slicing filter for the new plane (none for a window change) and
//                          the frame painter (cpu) or a bare image node's frame (gl)
//
// Steps: WindowLevel (a window/level drag event), Slice (a step to the next acquired 512 x 512
// slice, back and forth through the middle of the volume), Oblique (a 1-degree turn of the cut
// plane, resliced). Paths: cpu (headless view, the CPU painter) and gl (a hidden window under a
// display, e.g. xvfb-run, with the shader node; skipped without DISPLAY).
//
// After the runs the program prints each step's ratio Viewer / Parts (the aim: at most 1.5).
#include "Phantom.h"
#include "isCamera.h"
#include "isClut.h"
#include "isFramePainter.h"
#include "isImageData.h"
#include "isImagePlane.h"
#include "isImageReslice2D.h"
#include "isNodeImage.h"
#include "isNodeImageByShader.h"
#include "isViewerImage.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "purgeServices.h"
#include "qvBuildPaths.h"

#include "cocos2d.h"

#include <GLFW/glfw3.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace isImageSDK;

namespace {

constexpr int NX = 512, NY = 512, NZ = 400;
constexpr float SX = 0.7f, SY = 0.7f, SZ = 1.0f;
constexpr int kView = 512;
constexpr float kTurnDegrees = 1.0f;

enum class Step { WindowLevel, Slice, Oblique };
enum class Path { Cpu, Gl };

// The phantom as an image volume (stored CT values, a little noise inside the body), built once.
isImageData* volume()
{
    static isImageData* image = [] {
        qvgen::PhantomSpec spec;
        spec.columns = NX, spec.rows = NY, spec.slices = NZ;
        spec.columnSpacing = SX, spec.rowSpacing = SY, spec.sliceSpacing = SZ;
        const qvgen::Phantom phantom(spec);
        const int dims[3] = {NX, NY, NZ};
        const float spacing[3] = {SX, SY, SZ};
        isImageData* data = isImageData::create();
        data->retain();
        if (!data->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4::IDENTITY)) {
            std::fprintf(stderr, "bench_viewer: cannot allocate the volume\n");
            std::exit(1);
        }
        uint32_t noise = 12345;
        for (int k = 0; k < NZ; ++k) {
            const std::vector<uint8_t> bytes = phantom.sliceBytes(k);
            const auto* in = reinterpret_cast<const int16_t*>(bytes.data());
            isSliceInfo* s = data->getSlices()[k];
            auto* out = reinterpret_cast<int16_t*>(s->pixels);
            for (int i = 0; i < NX * NY; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const int n = in[i] > -900 ? static_cast<int>(noise >> 27) - 16 : 0;
                out[i] = static_cast<int16_t>(in[i] + n);
            }
            s->pixelsLoaded = 1;
            s->modality = MODALITY_CT;
            s->windowWidth = 400;
            s->windowCenter = 40;
        }
        data->setFileNames("bench-phantom");
        return data;
    }();
    return image;
}

cocos2d::GLView* g_glView = nullptr;

// A director on the view of the path; false when the path cannot run here.
bool startDirector(Path path)
{
    cocos2d::Director* director = cocos2d::Director::getInstance();
    auto* files = cocos2d::FileUtils::getInstance();
    files->setDefaultResourceRootPath(std::string(QV_RESOURCE_DIR) + "/");
    files->setSearchPaths({"", "imageSDK"});
    if (path == Path::Cpu) {
        isNodeImageByShader::shaderEnabled = 0;
        director->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(kView, kView)));
        return true;
    }
    isNodeImageByShader::shaderEnabled = 1;
    if (!g_glView) {
        if (!std::getenv("DISPLAY"))
            return false;
        auto* view = cocos2d::GLViewImpl::createWithRect("bench_viewer", cocos2d::Rect(0, 0, kView, kView));
        if (!view)
            return false;
        glfwHideWindow(view->getWindow());
        g_glView = view;
        g_glView->retain();
    }
    director->setOpenGLView(g_glView);
    return true;
}

// The notification centre ticks on the director's scheduler: it goes with the director.
void stopDirector()
{
    purgeServices();
    cocos2d::Director::getInstance()->stepFrame(1.0f / 60);
    cocos2d::Director::destroyInstance();
    cocos2d::FileUtils::destroyInstance();
}

void finishFrame(Path path)
{
    cocos2d::Director::getInstance()->stepFrame(1.0f / 60);
    if (path == Path::Gl)
        glFinish();
}

// Slice index of step i: back and forth over 64 slices around the middle.
int sliceOfStep(long long i)
{
    const int phase = static_cast<int>(i % 128);
    return NZ / 2 - 32 + (phase < 64 ? phase : 127 - phase);
}

// ----- the viewer

void viewerRun(benchmark::State& state, Step step, Path path)
{
    if (!startDirector(path)) {
        state.SkipWithError("no display");
        return;
    }
    cocos2d::Director* director = cocos2d::Director::getInstance();
    cocos2d::Scene* scene = cocos2d::Scene::create();
    director->runWithScene(scene);
    NSUI::NSNotificationCenter::getInstance();
    director->stepFrame(0.5f);  // past the notification centre's start delay
    director->stepFrame(1.0f / 60);
    isViewerImage* viewer = isViewerImage::create();
    viewer->setContentSize(cocos2d::Size(kView, kView));
    scene->addChild(viewer);
    viewer->setImageData(volume());
    viewer->getImageActor()->setWindow(400, 40);
    for (int i = 0; i < 5; ++i)
        finishFrame(path);
    const int middle = viewer->getImageActor()->getSliceIndex();

    long long i = 0;
    auto oneStep = [&] {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        switch (step) {
        case Step::WindowLevel:
            // One drag step: the width grows and shrinks by ten stored values, the level moves.
            data->text = (i & 1) ? "{\"ww\":\"-1.0\",\"wl\":\"0.5\"}" : "{\"ww\":\"1.0\",\"wl\":\"-0.5\"}";
            viewer->onNotification(NOTIFY_VIEW_WINDOW_LEVEL, data, nullptr);
            break;
        case Step::Slice: {
            const int from = middle - NZ / 2 + sliceOfStep(i), to = middle - NZ / 2 + sliceOfStep(i + 1);
            viewer->onNotification(to > from ? NOTIFY_SLICE_NEXT : NOTIFY_SLICE_PRIOR, data, nullptr);
            break;
        }
        case Step::Oblique:
            data->floatValue = kTurnDegrees;
            viewer->onNotification(NOTIFY_VIEW_ANGLE, data, nullptr);
            break;
        }
        ++i;
        finishFrame(path);
    };
    for (int w = 0; w < 3; ++w)
        oneStep();
    if (step == Step::Oblique && viewer->getImageActor()->isPlaneMode()) {
        state.SkipWithError("the cut plane did not turn");
    } else {
        for (auto _ : state)
            oneStep();
    }
    state.SetItemsProcessed(state.iterations());
    viewer->removeFromParentAndCleanup(true);
    finishFrame(path);
    stopDirector();
}

// ----- the parts: slicing filter + painter (cpu) or bare node frame (gl)

void partsRun(benchmark::State& state, Step step, Path path)
{
    if (!startDirector(path)) {
        state.SkipWithError("no display");
        return;
    }
    isImageData* image = volume();
    image->updateInformation();
    isClut* clut = isClut::create();
    clut->retain();
    fitClutToPixelType(clut, PIXEL_I16);
    clut->setWindowInt(400, 40);

    isImagePlane* plane = isImagePlane::create();
    plane->retain();
    plane->setInput(image);
    plane->setIndex(NZ / 2);
    plane->setModified();
    isImageReslice2D* reslice = isImageReslice2D::create();
    reslice->retain();
    reslice->setInput(image);
    const cocos2d::Mat4 toVolume = image->getVolumeMatrix().getInversed();
    // The cut plane starts as the middle acquired slice through the volume's centre.
    cocos2d::Mat4 axes;
    axes.m[12] = (NX - 1) * SX * 0.5f, axes.m[13] = (NY - 1) * SY * 0.5f, axes.m[14] = (NZ / 2) * SZ;
    float angle = 0.0f;

    // GL: a scene with a camera and a bare image node (the viewer's node type), nothing else.
    isNodeImage* node = nullptr;
    cocos2d::Director* director = cocos2d::Director::getInstance();
    if (path == Path::Gl) {
        auto* scene = cocos2d::Scene::create();
        auto* camera = isCamera::create();
        camera->setCameraFlag(2);
        scene->addChild(camera);
        // Far enough for the slice to fill the view, as in the viewer.
        const float distance = NY * SY * 0.5f / std::tan(30.0f * 3.1415927f / 180.0f);
        camera->setPosition3D(cocos2d::Vec3(NX * SX / 2, NY * SY / 2, -distance));
        camera->lookAt(cocos2d::Vec3(NX * SX / 2, NY * SY / 2, 0.0f), cocos2d::Vec3(0.0f, -1.0f, 0.0f));
        camera->setupProjection(60.0f, kView, kView, 10.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
        node = isNodeImageByShader::create();
        node->setClut(clut);
        scene->addChild(node);
        node->setCameraMask(2, true);
        director->runWithScene(scene);
    }
    isFramePainter painter;

    long long i = 0;
    isSliceInfo* current = plane->getOutputData()->getSlice(0);
    auto oneStep = [&] {
        isSliceInfo* slice = current;
        switch (step) {
        case Step::WindowLevel:
            clut->setWindowInt(400 + ((i & 1) ? 0 : 10), 40 + ((i & 1) ? 0 : -5));
            break;
        case Step::Slice:
            plane->setIndex(sliceOfStep(i + 1));
            plane->setModified();
            slice = plane->getOutputData()->getSlice(0);
            break;
        case Step::Oblique: {
            angle += kTurnDegrees;
            cocos2d::Mat4 turned = axes;
            cocos2d::Mat4 turn;
            cocos2d::Mat4::createRotationZ(angle * 3.1415927f / 180.0f, &turn);
            for (int c = 0; c < 3; ++c) {
                cocos2d::Vec3 v(turned.m[4 * c], turned.m[4 * c + 1], turned.m[4 * c + 2]);
                turn.transformVector(&v);
                turned.m[4 * c] = v.x, turned.m[4 * c + 1] = v.y, turned.m[4 * c + 2] = v.z;
            }
            reslice->setResliceAxes(toVolume * turned);
            slice = reslice->getOutputData()->getSlice(0);
            break;
        }
        }
        ++i;
        if (path == Path::Cpu) {
            const unsigned char* rgb = painter.paintRGB(slice, 0, clut);
            benchmark::DoNotOptimize(rgb);
            benchmark::ClobberMemory();
        } else {
            if (step == Step::WindowLevel)
                node->markTextureDirty();
            else
                node->setImage(slice);
            finishFrame(path);
        }
    };
    if (node)
        node->setImage(current);
    for (int w = 0; w < 3; ++w)
        oneStep();
    for (auto _ : state)
        oneStep();
    state.SetItemsProcessed(state.iterations());
    if (node)
        node->setImage(nullptr);
    for (cocos2d::Ref* r : {static_cast<cocos2d::Ref*>(plane), static_cast<cocos2d::Ref*>(reslice),
                            static_cast<cocos2d::Ref*>(clut)})
        r->release();
    if (path == Path::Gl)
        finishFrame(path);
    stopDirector();
}

// Keeps the real time per iteration of every run, then prints the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nViewer / Parts (aim: at most 1.5)\n");
        for (const char* path : {"cpu", "gl"})
            for (const char* step : {"WindowLevel", "Slice", "Oblique"}) {
                const std::string suffix = std::string(step) + "/" + path + "/real_time";
                const auto viewer = times.find("Viewer/" + suffix), parts = times.find("Parts/" + suffix);
                if (viewer == times.end() || parts == times.end() || parts->second <= 0)
                    continue;
                std::printf("  %-12s %-4s %9.3f ms / %9.3f ms = %5.2f\n", step, path, viewer->second / 1000.0,
                            parts->second / 1000.0, viewer->second / parts->second);
            }
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    const std::pair<Step, const char*> steps[] = {
        {Step::WindowLevel, "WindowLevel"}, {Step::Slice, "Slice"}, {Step::Oblique, "Oblique"}};
    for (const auto& [path, pathName] : {std::pair<Path, const char*>{Path::Cpu, "cpu"}, {Path::Gl, "gl"}})
        for (const auto& [step, stepName] : steps) {
            const std::string suffix = std::string(stepName) + "/" + pathName;
            const Step s = step;
            const Path p = path;
            benchmark::RegisterBenchmark(("Viewer/" + suffix).c_str(),
                                         [s, p](benchmark::State& state) { viewerRun(state, s, p); })
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("Parts/" + suffix).c_str(),
                                         [s, p](benchmark::State& state) { partsRun(state, s, p); })
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
        }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
