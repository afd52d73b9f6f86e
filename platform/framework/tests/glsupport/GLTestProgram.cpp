#include "GLTestProgram.h"

#include "renderer/ccUtils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

USING_NS_CC;

namespace qvtest {

namespace {
GLTestWindow* g_window = nullptr;
}

GLTestWindow* GLTestWindow::create(const std::string& name, const Size& size, bool swaps)
{
    auto* view = new GLTestWindow();
    view->m_swaps = swaps;
    if (!view->initWithRect(name, Rect(0, 0, size.width, size.height), 1.0f)) {
        delete view;
        return nullptr;
    }
    view->autorelease();
    return view;
}

void GLTestWindow::swapBuffers()
{
    ++m_swapRequests;
    if (m_swaps)
        GLViewImpl::swapBuffers();
}

GLTestWindow* testWindow()
{
    return g_window;
}

int runGLTests(int argc, char** argv, const char* name, int width, int height, unsigned options)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS(); // listing needs no window
    if (options & kMesaOnCallingThread) {
        setenv("LP_NUM_THREADS", "0", 0);
        setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    }
    if (options & kSizeFromEnvironment) {
        if (const char* size = std::getenv("QV_TEST_WINDOW"))
            std::sscanf(size, "%dx%d", &width, &height);
    }
    Director::getInstance();
    g_window = GLTestWindow::create(name, Size(float(width), float(height)), (options & kSwapBuffers) != 0);
    if (!g_window) {
        std::fprintf(stderr, "%s: no window could be opened (is there a display?)\n", name);
        return 1;
    }
    g_window->retain();
    const int result = RUN_ALL_TESTS();
    Director::destroyInstance();
    g_window->release();
    g_window = nullptr;
    PoolManager::getInstance()->drainCurrentThread();
    return result;
}

std::array<int, 3> framePixel(int x, int y)
{
    unsigned char rgba[4] = {0, 0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

std::array<int, 3> pixelAt(float x, float y)
{
    const float scale = Director::getInstance()->getOpenGLView()->getScaleX();
    return framePixel(int(x * scale), int(y * scale));
}

void savePicture(const std::string& name)
{
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    if (!dir)
        return;
    const Size size = Director::getInstance()->getWinSize();
    const std::string file = std::string(dir) + "/" + name + "-" + std::to_string(int(size.width)) + "x" +
                             std::to_string(int(size.height)) + ".png";
    bool written = false;
    utils::captureScreen([&written](bool ok, const std::string&) { written = ok; }, file);
    for (int i = 0; i < 3 && !written; ++i)
        Director::getInstance()->stepFrame(1.0f / 60);
    EXPECT_TRUE(written) << file;
}

} // namespace qvtest

// AddressSanitizer's tracking of dynamic TLS (its __tls_get_addr interceptor) records bogus
// ranges for the GL driver's modules (loaded with dlopen), and the leak check at exit then crashes
// now and then while scanning them. Without the interceptor the leak check stays complete here.
// (Defined beside runGLTests so that every drawing test program links it.)
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
