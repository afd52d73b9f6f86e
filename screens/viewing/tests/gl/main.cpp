// The viewing screens' drawing tests: one window for the whole program, its size taken from
// QV_TEST_WINDOW ("WxH", default 1920x1080). Buffers are not swapped, so after a frame the back
// buffer still holds what was drawn and can be read back.
#include "support/ViewingFixture.h"

#include <cstdio>
#include <cstdlib>

USING_NS_CC;

namespace {
class TestWindow : public GLViewImpl {
public:
    static TestWindow* create(const Size& size)
    {
        auto* view = new TestWindow();
        if (!view->initWithRect("screens-viewing", Rect(0, 0, size.width, size.height), 1.0f)) {
            delete view;
            return nullptr;
        }
        view->autorelease();
        return view;
    }
    void swapBuffers() override {}
};
} // namespace

extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    setenv("LP_NUM_THREADS", "0", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    int w = 1920, h = 1080;
    if (const char* size = std::getenv("QV_TEST_WINDOW"))
        std::sscanf(size, "%dx%d", &w, &h);
    Director::getInstance();
    auto* window = TestWindow::create(Size(float(w), float(h)));
    if (!window) {
        std::fprintf(stderr, "screens-viewing-gl: no window could be opened (is there a display?)\n");
        return 1;
    }
    window->retain();
    viewingtest::g_view = window;
    const int result = RUN_ALL_TESTS();
    Director::destroyInstance();
    window->release();
    PoolManager::getInstance()->drainCurrentThread();
    return result;
}
