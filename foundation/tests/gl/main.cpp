// The foundation's drawing tests: one window with a GL context for every test.
#include "CaptureWindow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace qvgl {

namespace {
cocos2d::GLView* g_window = nullptr;
}

cocos2d::GLView* captureWindow()
{
    return g_window;
}

} // namespace qvgl

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS(); // listing needs no window
    // Mesa in tests: rasterise on the calling thread and keep no shader cache on disk.
    setenv("LP_NUM_THREADS", "0", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    cocos2d::Director::getInstance();
    qvgl::g_window = cocos2d::GLViewImpl::createWithRect(
        "foundation-gl", cocos2d::Rect(0, 0, qvgl::kCaptureWindowWidth, qvgl::kCaptureWindowHeight), 1.0f);
    if (!qvgl::g_window)
    {
        std::fprintf(stderr, "foundation-gl: no window could be opened (is there a display?)\n");
        return 1;
    }
    qvgl::g_window->retain();
    const int result = RUN_ALL_TESTS();
    cocos2d::Director::destroyInstance();
    qvgl::g_window->release();
    cocos2d::PoolManager::getInstance()->drainCurrentThread();
    return result;
}
