// The window's input callbacks reach the event dispatcher through the input translator: design
// coordinates with the origin bottom-left, the left button as touch 0 before the mouse event,
// the wheel sign, keys, typed text and the system clipboard for Ctrl+V.
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "GLTestSupport.h"

USING_NS_CC;

namespace {

class TextSink : public IMEDelegate {
public:
    std::string text;
    int deletes = 0;

protected:
    bool canAttachWithIME() override { return true; }
    bool canDetachWithIME() override { return true; }
    void insertText(const char* t, size_t len) override { text.append(t, len); }
    void deleteBackward() override { ++deletes; }
};

class GLWindowInputTest : public qvgl::GLTest {};

TEST_F(GLWindowInputTest, MouseAndWheelArriveInDesignCoordinates)
{
    std::vector<std::string> journal;
    auto* touch = EventListenerTouchOneByOne::create();
    touch->onTouchBegan = [&](Touch* t, Event*) {
        journal.push_back("touch began " + std::to_string(int(t->getLocation().x)) + "," +
                          std::to_string(int(t->getLocation().y)));
        return true;
    };
    touch->onTouchEnded = [&](Touch*, Event*) { journal.push_back("touch ended"); };
    auto* mouse = EventListenerMouse::create();
    mouse->onMouseDown = [&](EventMouse* e) {
        journal.push_back("down " + std::to_string(e->getMouseButton()) + " " +
                          std::to_string(int(e->getLocation().x)) + "," + std::to_string(int(e->getLocation().y)));
    };
    mouse->onMouseUp = [&](EventMouse* e) { journal.push_back("up " + std::to_string(e->getMouseButton())); };
    mouse->onMouseScroll = [&](EventMouse* e) { journal.push_back("scroll " + std::to_string(int(e->getScrollY()))); };
    director->getEventDispatcher()->addEventListenerWithSceneGraphPriority(touch, scene);
    director->getEventDispatcher()->addEventListenerWithSceneGraphPriority(mouse, scene);

    qvgl::TestView* view = qvgl::window();
    view->cursor(10, 20); // 20 below the window's top edge
    view->button(GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    view->button(GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    view->button(GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS);
    view->wheel(1.0); // wheel up
    const std::vector<std::string> expected = {"touch began 10,220", "down 0 10,220", "touch ended", "up 0",
                                               "down 1 10,220", "scroll -1"};
    EXPECT_EQ(journal, expected);
    view->button(GLFW_MOUSE_BUTTON_RIGHT, GLFW_RELEASE);
}

TEST_F(GLWindowInputTest, KeysTextAndTheSystemClipboardReachTheAttachedField)
{
    std::vector<EventKeyboard::KeyCode> keys;
    auto* keyboard = EventListenerKeyboard::create();
    keyboard->onKeyPressed = [&](EventKeyboard::KeyCode code, Event*) { keys.push_back(code); };
    director->getEventDispatcher()->addEventListenerWithSceneGraphPriority(keyboard, scene);

    TextSink field;
    ASSERT_TRUE(field.attachWithIME());
    qvgl::TestView* view = qvgl::window();
    view->character(0x41);   // A
    view->character(0x4E2D); // a CJK character, as UTF-8
    view->key(GLFW_KEY_BACKSPACE, GLFW_PRESS);
    view->key(GLFW_KEY_BACKSPACE, GLFW_REPEAT);
    view->setClipboardString("9 + 3 = 12");
    view->key(GLFW_KEY_LEFT_CONTROL, GLFW_PRESS);
    view->key(GLFW_KEY_V, GLFW_PRESS);
    view->key(GLFW_KEY_V, GLFW_RELEASE);
    view->key(GLFW_KEY_LEFT_CONTROL, GLFW_RELEASE);
    EXPECT_EQ(field.text, std::string("A\xE4\xB8\xAD") + "9 + 3 = 12");
    EXPECT_EQ(field.deletes, 2);
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(keys[0], EventKeyboard::KeyCode::KEY_BACKSPACE);
    EXPECT_EQ(static_cast<int>(EventKeyboard::KeyCode::KEY_LEFT_CTRL), 14);
    field.detachWithIME();
}

// A window manager that resizes the window (tiling, maximise) although it was asked not to: the
// frame, the design resolution set up as one unit per point, the viewport and the input mapping
// follow, and screens hear of it.
TEST_F(GLWindowInputTest, AWindowResizedByTheWindowManagerIsFollowed)
{
    qvgl::TestView* view = qvgl::window();
    view->setDesignResolutionSize(320, 240, ResolutionPolicy::FIXED_HEIGHT);
    int resizedEvents = 0;
    auto* listener = director->getEventDispatcher()->addCustomEventListener(GLView::EVENT_WINDOW_RESIZED,
                                                                            [&](EventCustom*) { ++resizedEvents; });
    auto* marker = LayerColor::create(Color4B(255, 0, 0, 255), 20, 20);
    marker->setPosition(300, 0);
    scene->addChild(marker);
    std::vector<std::string> journal;
    auto* touch = EventListenerTouchOneByOne::create();
    touch->onTouchBegan = [&](Touch* t, Event*) {
        journal.push_back(std::to_string(int(t->getLocation().x)) + "," + std::to_string(int(t->getLocation().y)));
        return true;
    };
    director->getEventDispatcher()->addEventListenerWithSceneGraphPriority(touch, scene);

    glfwSetWindowSize(view->getWindow(), 400, 300);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!view->getFrameSize().equals(Size(400, 300)) && std::chrono::steady_clock::now() < deadline) {
        glfwWaitEventsTimeout(0.05);
    }
    ASSERT_EQ(view->getFrameSize(), Size(400, 300));
    EXPECT_EQ(view->getFramebufferSize(), Size(400, 300));
    EXPECT_EQ(director->getWinSize(), Size(400, 300)); // still one design unit per point
    EXPECT_FLOAT_EQ(view->getScaleX(), 1.0f);
    EXPECT_EQ(view->getViewPortRect(), Rect(0, 0, 400, 300));
    EXPECT_GE(resizedEvents, 1);

    // Drawn where it belongs, not stretched over the larger framebuffer.
    frame();
    EXPECT_TRUE(qvgl::pixelAt(310, 10).near(255, 0, 0)) << qvgl::pixelAt(310, 10);
    EXPECT_TRUE(qvgl::pixelAt(390, 10).near(0, 0, 0)) << qvgl::pixelAt(390, 10);
    // A click lands on what is drawn under the cursor.
    view->cursor(10, 20);
    view->button(GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
    view->button(GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
    EXPECT_EQ(journal, std::vector<std::string>{"10,280"});

    director->getEventDispatcher()->removeEventListener(listener);
    glfwSetWindowSize(view->getWindow(), 320, 240);
    while (!view->getFrameSize().equals(Size(320, 240)) && std::chrono::steady_clock::now() < deadline) {
        glfwWaitEventsTimeout(0.05);
    }
}

} // namespace

// The monitor's DPI takes round trips to the X server, and every view and measurement reads it as
// it draws: a window's reads ask the monitor once.
TEST_F(GLWindowInputTest, TheMonitorIsAskedItsDPIOncePerWindow)
{
    const int dpi = Device::getDPI();
    const int asked = Device::getMonitorQueryCountForTest();
    bool same = true;
    for (int i = 0; i < 100; ++i)
        same = Device::getDPI() == dpi && Device::getUnitsPerInch() > 0.0f && same;
    EXPECT_TRUE(same);
    EXPECT_EQ(Device::getMonitorQueryCountForTest(), asked);
}
