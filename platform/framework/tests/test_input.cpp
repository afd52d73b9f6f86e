// Input translation: the mouse as touch 0, locations and previous locations, the wheel's sign,
// keys and text input through the IME, multi-touch, time stamps.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/SceneGraphTest.h"

USING_NS_CC;

namespace {

using Calls = std::vector<std::string>;

std::string xy(const Vec2& p)
{
    return "(" + std::to_string(static_cast<int>(p.x)) + "," + std::to_string(static_cast<int>(p.y)) + ")";
}

class InputTest : public qvtest::SceneGraphTest {
protected:
    void SetUp() override
    {
        SceneGraphTest::SetUp();
        auto* d = director->getEventDispatcher();
        auto* touch = EventListenerTouchOneByOne::create();
        touch->onTouchBegan = [this](Touch* t, Event*) {
            calls.push_back("touch" + std::to_string(t->getID()) + ":began" + xy(t->getLocation()));
            return true;
        };
        touch->onTouchMoved = [this](Touch* t, Event*) {
            calls.push_back("touch:moved" + xy(t->getLocation()) + " from " + xy(t->getPreviousLocation()));
        };
        touch->onTouchEnded = [this](Touch* t, Event*) { calls.push_back("touch:ended" + xy(t->getLocation())); };
        touch->onTouchCancelled = [this](Touch*, Event*) { calls.push_back("touch:cancelled"); };
        d->addEventListenerWithFixedPriority(touch, 1);

        auto* mouse = EventListenerMouse::create();
        auto record = [this](const char* kind) {
            return [this, kind](EventMouse* e) {
                calls.push_back(std::string("mouse:") + kind + std::to_string(e->getMouseButton()) +
                                xy(e->getLocation()) + " from " + xy(e->getPreviousLocationInView()));
            };
        };
        mouse->onMouseDown = record("down");
        mouse->onMouseUp = record("up");
        mouse->onMouseMove = record("move");
        mouse->onMouseScroll = [this](EventMouse* e) {
            calls.push_back("mouse:scroll" + std::to_string(static_cast<int>(e->getScrollY())) + xy(e->getLocation()));
        };
        d->addEventListenerWithFixedPriority(mouse, 2);
    }
    Calls take()
    {
        Calls c = calls;
        calls.clear();
        return c;
    }
    Calls calls;
};

// A text field stand-in that records what the input method sends it.
class Field : public IMEDelegate {
public:
    explicit Field(Calls* calls, std::string name) : _calls(calls), _name(std::move(name)) {}
    bool canAttachWithIME() override { return true; }
    bool canDetachWithIME() override { return true; }
    void didAttachWithIME() override { _calls->push_back(_name + ":attached"); }
    void didDetachWithIME() override { _calls->push_back(_name + ":detached"); }
    void insertText(const char* text, size_t len) override
    {
        _calls->push_back(_name + ":insert[" + std::string(text, len) + "]");
    }
    void deleteBackward() override { _calls->push_back(_name + ":delete"); }
    void deleteForward() override { _calls->push_back(_name + ":deleteForward"); }
    void controlKey(EventKeyboard::KeyCode k) override
    {
        _calls->push_back(_name + ":key" + std::to_string(static_cast<int>(k)));
    }

private:
    Calls* _calls;
    std::string _name;
};

} // namespace

TEST_F(InputTest, LeftButtonIsTouchZeroBeforeEachMouseEvent)
{
    InputSimulator::mouseMove(5, 5);
    take();
    InputSimulator::mouseDown(0, 10, 600);
    InputSimulator::mouseMove(30, 580);
    InputSimulator::mouseUp(0, 40, 570);
    EXPECT_EQ(take(), (Calls{"touch0:began(10,600)", "mouse:down0(10,600) from (5,5)",
                             "touch:moved(30,580) from (10,600)", "mouse:move0(30,580) from (10,600)",
                             "touch:ended(40,570)", "mouse:up0(40,570) from (30,580)"}));

    // Right and middle buttons give mouse events only; moves report the held button.
    InputSimulator::mouseDown(1, 50, 50);
    InputSimulator::mouseMove(60, 50);
    InputSimulator::mouseUp(1, 60, 50);
    InputSimulator::mouseDown(2, 60, 50);
    InputSimulator::mouseUp(2, 60, 50);
    InputSimulator::mouseMove(70, 50);
    EXPECT_EQ(take(), (Calls{"mouse:down1(50,50) from (40,570)", "mouse:move1(60,50) from (50,50)",
                             "mouse:up1(60,50) from (60,50)", "mouse:down2(60,50) from (60,50)",
                             "mouse:up2(60,50) from (60,50)", "mouse:move-1(70,50) from (60,50)"}));

    // Wheel up (away from the user) gives scrollY < 0.
    InputSimulator::scroll(70, 50, 1);
    InputSimulator::scroll(70, 50, -2);
    EXPECT_EQ(take(), (Calls{"mouse:scroll-1(70,50)", "mouse:scroll2(70,50)"}));
}

TEST_F(InputTest, TouchLocationsAndCancellation)
{
    Touch* seen = nullptr;
    auto* probe = EventListenerTouchOneByOne::create();
    probe->onTouchBegan = [&seen](Touch* t, Event*) {
        seen = t;
        return true;
    };
    probe->onTouchMoved = [this](Touch* t, Event*) {
        // The axis lock of a scroll view: the location is replaced before the move is used.
        calls.push_back("probe:moved from " + xy(t->getPreviousLocation()));
        t->setLocation(Vec2(t->getLocation().x, 100));
    };
    director->getEventDispatcher()->addEventListenerWithFixedPriority(probe, -1);

    InputSimulator::mouseDown(0, 100, 40);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->getLocationInView(), Vec2(100, 600)) << "view coordinates: origin top-left";
    EXPECT_EQ(seen->getStartLocation(), Vec2(100, 40));
    EXPECT_EQ(seen->getPreviousLocation(), Vec2(100, 40));
    InputSimulator::mouseMove(120, 50);
    InputSimulator::mouseMove(130, 70);
    Calls moves;
    for (const auto& c : take()) {
        if (c.compare(0, 6, "probe:") == 0) {
            moves.push_back(c);
        }
    }
    EXPECT_EQ(moves, (Calls{"probe:moved from (100,40)", "probe:moved from (120,100)"}));
    EXPECT_EQ(seen->getDelta(), Vec2(10, 0));

    // Released outside the window: cancelled, not ended.
    InputSimulator::mouseUp(0, 1000, 70);
    EXPECT_EQ(take(), (Calls{"touch:cancelled", "mouse:up0(1000,70) from (130,70)"}));

    // Losing the focus while dragging cancels too, and forgets the button.
    InputSimulator::mouseDown(0, 10, 10);
    take();
    InputSimulator::focusLost();
    InputSimulator::mouseMove(20, 20);
    EXPECT_EQ(take(), (Calls{"touch:cancelled", "mouse:move-1(20,20) from (10,10)"}));
}

TEST_F(InputTest, MultiTouchFromTheSimulatorAndWindowCoordinates)
{
    Calls got;
    auto* all = EventListenerTouchAllAtOnce::create();
    all->onTouchesBegan = [&got](const std::vector<Touch*>& t, Event*) {
        got.push_back("began" + std::to_string(t.size()) + xy(t[1]->getLocation()));
    };
    all->onTouchesMoved = [&got](const std::vector<Touch*>& t, Event*) {
        got.push_back("moved" + std::to_string(t.size()) + xy(t[0]->getDelta()));
    };
    all->onTouchesEnded = [&got](const std::vector<Touch*>& t, Event*) { got.push_back("ended" + std::to_string(t.size())); };
    director->getEventDispatcher()->addEventListenerWithFixedPriority(all, 100);
    InputSimulator::touchesBegan({3, 4}, {Vec2(100, 100), Vec2(200, 100)});
    InputSimulator::touchesMoved({3, 4}, {Vec2(90, 100), Vec2(210, 100)});
    InputSimulator::touchesEnded({3, 4}, {Vec2(90, 100), Vec2(210, 100)});
    InputSimulator::touchesMoved({3}, {Vec2(0, 0)});
    EXPECT_EQ(got, (Calls{"began2(200,100)", "moved2(-10,0)", "ended2"})) << "ended touches are forgotten";

    // A window of 1920 x 1280 showing a 960 x 640 design: the cursor is halved and flipped.
    auto* view = GLViewHeadless::create(Size(1920, 1280));
    view->setDesignResolutionSize(960, 640, ResolutionPolicy::SHOW_ALL);
    director->setOpenGLView(view);
    EXPECT_EQ(InputTranslator::windowToDesign(200, 80), Vec2(100, 600));
}

TEST_F(InputTest, KeysAndTextReachTheAttachedFieldOnly)
{
    EXPECT_EQ(InputTranslator::keyCodeFromGLFW(341 /* GLFW_KEY_LEFT_CONTROL */), EventKeyboard::KeyCode::KEY_LEFT_CTRL);
    EXPECT_EQ(static_cast<int>(InputTranslator::keyCodeFromGLFW(341)), 14);
    EXPECT_EQ(InputTranslator::keyCodeFromGLFW(256 /* GLFW_KEY_ESCAPE */), EventKeyboard::KeyCode::KEY_BACK);
    EXPECT_EQ(InputTranslator::keyCodeFromGLFW(86 /* GLFW_KEY_V */), EventKeyboard::KeyCode::KEY_V);

    Calls ime;
    Field a(&ime, "a");
    Field b(&ime, "b");
    InputSimulator::text("x");
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE);
    EXPECT_TRUE(ime.empty()) << "nothing without an attached field";

    ASSERT_TRUE(a.attachWithIME());
    InputSimulator::text("9 é中");
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_BACKSPACE);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_ENTER);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_KP_ENTER);
    InputSimulator::paste("9 + 3 = 12");
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_V); // no Control: a plain key
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_DELETE);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_END);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_UP_ARROW); // a field of one line has no use for it
    EXPECT_EQ(ime, (Calls{"a:attached", "a:insert[9]", "a:insert[ ]", "a:insert[é]", "a:insert[中]", "a:delete",
                          "a:insert[\n]", "a:insert[\n]", "a:insert[9 + 3 = 12]", "a:deleteForward",
                          "a:key" + std::to_string(static_cast<int>(EventKeyboard::KeyCode::KEY_END))}));
    ime.clear();

    // A second field takes over; the first is told first.
    ASSERT_TRUE(b.attachWithIME());
    EXPECT_FALSE(a.detachWithIME()) << "no longer attached";
    InputSimulator::text("z");
    EXPECT_EQ(ime, (Calls{"a:detached", "b:attached", "b:insert[z]"}));
    ime.clear();

    // Key listeners see the keys too, Backspace included.
    Calls keys;
    auto* listener = EventListenerKeyboard::create();
    listener->onKeyPressed = [&keys](EventKeyboard::KeyCode k, Event*) {
        keys.push_back("pressed" + std::to_string(static_cast<int>(k)));
    };
    listener->onKeyReleased = [&keys](EventKeyboard::KeyCode k, Event*) {
        keys.push_back("released" + std::to_string(static_cast<int>(k)));
    };
    director->getEventDispatcher()->addEventListenerWithFixedPriority(listener, 1);
    InputTranslator::key(EventKeyboard::KeyCode::KEY_BACKSPACE, InputTranslator::KeyAction::PRESS);
    InputTranslator::key(EventKeyboard::KeyCode::KEY_BACKSPACE, InputTranslator::KeyAction::REPEAT);
    InputTranslator::key(EventKeyboard::KeyCode::KEY_BACKSPACE, InputTranslator::KeyAction::RELEASE);
    EXPECT_EQ(keys, (Calls{"pressed7", "pressed7", "released7"}));
    EXPECT_EQ(ime, (Calls{"b:delete", "b:delete"}));
    EXPECT_TRUE(b.detachWithIME());
    EXPECT_FALSE(IMEDispatcher::sharedDispatcher()->isAnyDelegateAttachedWithIME());
}

TEST_F(InputTest, TimeStampFollowsUserInput)
{
    using namespace std::chrono;
    auto nowUs = [] { return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count(); };
    const long long start = Touch::getTimeStamp();
    EXPECT_GT(start, 0);
    EXPECT_LE(start, nowUs());

    // Wait (busily, a millisecond at most) until the clock has moved past the last stamp.
    while (nowUs() <= start + 1000) {
    }
    const long long before = nowUs();
    InputSimulator::mouseMove(1, 1);
    EXPECT_EQ(Touch::getTimeStamp(), start) << "hovering is not user input";
    InputSimulator::scroll(1, 1, 1);
    const long long afterWheel = Touch::getTimeStamp();
    EXPECT_GE(afterWheel, before);
    while (nowUs() <= afterWheel + 1000) {
    }
    InputSimulator::key(EventKeyboard::KeyCode::KEY_A, true);
    EXPECT_GT(Touch::getTimeStamp(), afterWheel);
}
