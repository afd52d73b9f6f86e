// Time of one director frame (scheduler, visit, render commands, execution, swap) for:
//
//   sprites/1000         1,000 textured sprites in rows, two textures alternating every 100
//   sprites_moving/1000  the same, every sprite moved each frame (vertices re-transformed)
//   segments/10000       one draw node holding 10,000 line segments, unchanged between frames
//   segments_redrawn     the same node cleared and refilled every frame, as measurement shapes are
//   labels/100           100 labels of 12 characters
//   label_layout/rtl:0   one label laid out again for another Latin name (no frame drawn)
//   label_layout/rtl:1   the same for Arabic and Hebrew names (bidi order and shaping)
//
// With a display (DISPLAY set, e.g. under xvfb-run) frames are drawn into a 1280 x 800 GL window
// (Mesa llvmpipe under Xvfb); without one the recording back-end runs the same frames. The
// counter "allocs_per_frame" counts heap allocations (operator new) inside a steady frame; the
// frame loop is meant to keep it at 0 for unchanged scenes. Every measured frame is drawn: the
// renderer's still-frame check would otherwise leave the unchanged ones undrawn.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "cocos2d.h"

USING_NS_CC;

namespace {

std::atomic<long> g_allocations{0};

} // namespace

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

GLView* g_view = nullptr;

void ensureDirector()
{
    Director* director = Director::getInstance();
    if (director->getOpenGLView()) {
        return;
    }
    if (!g_view) {
        if (std::getenv("DISPLAY")) {
            g_view = GLViewImpl::createWithRect("bench_render", Rect(0, 0, 1280, 800));
        }
        if (!g_view) {
            g_view = GLViewHeadless::create(Size(1280, 800));
        }
        g_view->retain();
    }
    director->setOpenGLView(g_view);
}

Texture2D* solidTexture(unsigned char shade)
{
    std::vector<unsigned char> pixels(32 * 32 * 4, shade);
    auto* texture = new Texture2D();
    texture->autorelease();
    texture->initWithData(pixels.data(), ssize_t(pixels.size()), Texture2D::PixelFormat::RGBA8888, 32, 32,
                          Size(32, 32));
    return texture;
}

// Runs frames; the allocation counter covers the timed frames only.
void runFrames(benchmark::State& state, const std::function<void()>& beforeFrame = nullptr)
{
    Director* director = Director::getInstance();
    for (int i = 0; i < 3; ++i) { // warm-up: scene entered, programs linked, buffers grown
        if (beforeFrame) {
            beforeFrame();
        }
        director->stepFrame(1.0f / 60);
    }
    long frames = 0;
    const long before = g_allocations.load();
    for (auto _ : state) {
        if (beforeFrame) {
            beforeFrame();
        }
        director->getRenderer()->invalidateFrame();
        director->stepFrame(1.0f / 60);
        ++frames;
    }
    state.counters["allocs_per_frame"] = double(g_allocations.load() - before) / double(frames ? frames : 1);
    state.counters["batches"] = double(director->getRenderer()->getDrawnBatches());
    state.SetLabel(GL::isEnabled() ? "GL" : "headless");
    Director::destroyInstance();
}

Scene* freshScene()
{
    ensureDirector();
    Scene* scene = Scene::create();
    Director::getInstance()->runWithScene(scene);
    return scene;
}

void BM_Sprites(benchmark::State& state, bool moving)
{
    Scene* scene = freshScene();
    Texture2D* textures[2] = {solidTexture(200), solidTexture(100)};
    std::vector<Sprite*> sprites;
    const int count = int(state.range(0));
    for (int i = 0; i < count; ++i) {
        Sprite* sprite = Sprite::createWithTexture(textures[(i / 100) % 2]);
        sprite->setPosition(20.0f + float(i % 40) * 31.0f, 20.0f + float(i / 40) * 31.0f);
        scene->addChild(sprite);
        sprites.push_back(sprite);
    }
    float t = 0;
    runFrames(state, moving ? std::function<void()>([&] {
        t += 1.0f;
        for (Sprite* s : sprites) {
            s->setPositionX(s->getPositionX() + (int(t) % 2 ? 0.5f : -0.5f));
        }
    })
                            : std::function<void()>());
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_SpritesStill(benchmark::State& state)
{
    BM_Sprites(state, false);
}

void BM_SpritesMoving(benchmark::State& state)
{
    BM_Sprites(state, true);
}

void fillSegments(DrawNode* node, int count)
{
    for (int i = 0; i < count; ++i) {
        const float x = float(i % 100) * 12.0f;
        const float y = float(i / 100) * 8.0f;
        node->drawLine(Vec2(x, y), Vec2(x + 10.0f, y + 6.0f), Color4F(1, 1, 0, 1));
    }
}

void BM_Segments(benchmark::State& state)
{
    Scene* scene = freshScene();
    DrawNode* node = DrawNode::create();
    node->setLineWidth(2);
    fillSegments(node, int(state.range(0)));
    scene->addChild(node);
    runFrames(state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SegmentsRedrawn(benchmark::State& state)
{
    Scene* scene = freshScene();
    DrawNode* node = DrawNode::create();
    node->setLineWidth(2);
    scene->addChild(node);
    const int count = int(state.range(0));
    runFrames(state, [node, count] {
        node->clear();
        fillSegments(node, count);
    });
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_Labels(benchmark::State& state)
{
    Scene* scene = freshScene();
    for (int i = 0; i < state.range(0); ++i) {
        Label* label = Label::createWithSystemFont("Quorvane " + std::to_string(1000 + i), "", 16);
        label->setPosition(80.0f + float(i % 10) * 120.0f, 20.0f + float(i / 10) * 40.0f);
        scene->addChild(label);
    }
    runFrames(state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Laying a label out again for a new text, as table rows and overlays do: Latin names (one glyph
// per character) and Arabic and Hebrew names (ordered and shaped).
void BM_LabelLayout(benchmark::State& state)
{
    freshScene();
    static const char* const latin[] = {"PHANTOM^QUORVANE", "M\u00fcller^Hans", "Wang^XiaoDong", "ww/wl: 400/40"};
    static const char* const rightToLeft[] = {u8"\u0642\u0628\u0627\u0646\u064a^\u0644\u0646\u0632\u0627\u0631",
                                              u8"\u05e9\u05e8\u05d5\u05df^\u05d3\u05d1\u05d5\u05e8\u05d4",
                                              u8"\u0645\u062d\u0645\u062f^\u0639\u0644\u064a",
                                              u8"\u05db\u05d4\u05df^\u05de\u05e9\u05d4"};
    const char* const* texts = state.range(0) ? rightToLeft : latin;
    Label* label = Label::createWithSystemFont("", "", 16);
    label->retain();
    size_t i = 0;
    for (auto _ : state) {
        label->setString(texts[i++ % 4]);
        benchmark::DoNotOptimize(label->getContentSize());
    }
    label->release();
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_SpritesStill)->Name("sprites")->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpritesMoving)->Name("sprites_moving")->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Segments)->Name("segments")->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SegmentsRedrawn)->Name("segments_redrawn")->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Labels)->Name("labels")->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LabelLayout)->Name("label_layout")->ArgName("rtl")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
