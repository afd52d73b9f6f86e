// The drawing tests' program: one window with a GL context for every test.
#include <cstdio>
#include <cstdlib>

#include "GLTestSupport.h"

USING_NS_CC;

namespace qvgl {

namespace {
TestView* g_window = nullptr;
}

TestView* TestView::create(const Size& size)
{
    auto* view = new TestView();
    if (!view->initWithRect("framework-gl", Rect(0, 0, size.width, size.height), 1.0f)) {
        delete view;
        return nullptr;
    }
    view->autorelease();
    return view;
}

TestView* window()
{
    return g_window;
}

::std::ostream& operator<<(::std::ostream& os, const Pixel& p)
{
    return os << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}

std::vector<Pixel> pixels(int x, int y, int w, int h)
{
    std::vector<unsigned char> rgba(size_t(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<Pixel> out(size_t(w) * h);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = Pixel{rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]};
    }
    return out;
}

Pixel pixelAt(int x, int y)
{
    return pixels(x, y, 1, 1).front();
}

void GLTest::SetUp()
{
    director = Director::getInstance();
    director->setOpenGLView(window());
    director->setClearColor(Color4F(0, 0, 0, 1));
    win = director->getWinSize();
    scene = Scene::create();
    director->runWithScene(scene);
    frame();
}

void GLTest::TearDown()
{
    Director::destroyInstance();
}

} // namespace qvgl

// AddressSanitizer's tracking of dynamic TLS (its __tls_get_addr interceptor) records bogus
// ranges for the GL driver's modules (loaded with dlopen), and the leak check at exit then crashes
// now and then while scanning them. Without the interceptor the leak check stays complete here.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS(); // listing needs no window
    }
    // Mesa in tests: rasterise on the calling thread and keep no shader cache on disk, so the
    // program leaves no files behind and the leak check at exit meets no driver threads.
    setenv("LP_NUM_THREADS", "0", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    Director::getInstance();
    qvgl::g_window = qvgl::TestView::create(Size(320, 240));
    if (!qvgl::g_window) {
        std::fprintf(stderr, "framework-gl: no window could be opened (is there a display?)\n");
        return 1;
    }
    qvgl::g_window->retain();
    const int result = RUN_ALL_TESTS();
    Director::destroyInstance();
    qvgl::g_window->release();
    PoolManager::getInstance()->drainCurrentThread();
    return result;
}
