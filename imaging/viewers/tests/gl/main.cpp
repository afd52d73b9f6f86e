// The viewers' drawing tests: one window with a GL context for the whole program. It does not
// swap buffers, so after a frame the back buffer still holds what was drawn.
#include "GLViewers.h"

#include <cstdio>

namespace qvgl {

namespace {
cocos2d::GLViewImpl* g_window = nullptr;

class TestView : public cocos2d::GLViewImpl {
public:
    static TestView* create(const cocos2d::Size& size)
    {
        auto* view = new TestView();
        if (!view->initWithRect("viewers-gl", cocos2d::Rect(0, 0, size.width, size.height), 1.0f)) {
            delete view;
            return nullptr;
        }
        view->autorelease();
        return view;
    }
    void swapBuffers() override {}
};
} // namespace

cocos2d::GLViewImpl* window()
{
    return g_window;
}

std::array<unsigned char, 3> readPixel(int x, int y)
{
    unsigned char rgba[4] = {0, 0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

} // namespace qvgl

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();  // listing needs no window
    cocos2d::Director::getInstance();
    qvgl::g_window = qvgl::TestView::create(cocos2d::Size(qvgl::kWindowWidth, qvgl::kWindowHeight));
    if (!qvgl::g_window) {
        std::fprintf(stderr, "viewers-gl: no window could be opened (is there a display?)\n");
        return 1;
    }
    qvgl::g_window->retain();
    const int result = RUN_ALL_TESTS();
    cocos2d::Director::destroyInstance();
    qvgl::g_window->release();
    cocos2d::PoolManager::getInstance()->drainCurrentThread();
    return result;
}
