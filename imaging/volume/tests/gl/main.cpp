// The volume viewer's drawing tests: one window with a GL context for the whole program. It does
// not swap buffers, so after a frame the back buffer still holds what was drawn.
#include "cocos2d.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class TestView : public cocos2d::GLViewImpl {
public:
    static TestView* create(const cocos2d::Size& size)
    {
        auto* view = new TestView();
        if (!view->initWithRect("volume-gl", cocos2d::Rect(0, 0, size.width, size.height), 1.0f)) {
            delete view;
            return nullptr;
        }
        view->autorelease();
        return view;
    }
    void swapBuffers() override {}
};

} // namespace

cocos2d::GLViewImpl* g_volumeGLWindow = nullptr;

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    cocos2d::Director::getInstance();
    g_volumeGLWindow = TestView::create(cocos2d::Size(640, 480));
    if (!g_volumeGLWindow) {
        std::fprintf(stderr, "volume-gl: no window could be opened (is there a display?)\n");
        return 1;
    }
    g_volumeGLWindow->retain();
    const int result = RUN_ALL_TESTS();
    cocos2d::Director::destroyInstance();
    g_volumeGLWindow->release();
    cocos2d::PoolManager::getInstance()->drainCurrentThread();
    return result;
}
