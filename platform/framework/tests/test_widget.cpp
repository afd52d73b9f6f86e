// Widget touch model: routing through nested widgets, swallowing and propagation, interception,
// hit conditions (visibility, enabled ancestors, clipping, touch scale), buttons, sliders, check
// boxes, focus, keyboard and cloning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/WidgetTest.h"
#include "ui/CocosGUI.h"

USING_NS_CC;
using qvtest::Journal;

namespace {

using TouchType = ui::Widget::TouchEventType;

// A layout that journals the events its descendants offer it and can take a drag over, as a
// scroll view does: on a move it unhighlights the sender so that its release fires no click.
class SpyLayout : public ui::Layout {
public:
    static SpyLayout* make(const std::string& name, std::shared_ptr<Journal> journal)
    {
        auto* layout = new SpyLayout();
        layout->init();
        layout->setName(name);
        layout->_journal = std::move(journal);
        layout->autorelease();
        return layout;
    }
    bool interceptTouchEvent(TouchType type, ui::Widget* sender, Touch* touch) override
    {
        _journal->push_back(getName() + ":intercept:" + std::to_string(static_cast<int>(type)) + ":" +
                            sender->getName());
        if (stealMoves && type == TouchType::MOVED)
            sender->setHighlighted(false);
        return ui::Layout::interceptTouchEvent(type, sender, touch);
    }
    bool stealMoves = false;

private:
    std::shared_ptr<Journal> _journal;
};

// Journals a widget's touch and click callbacks as "<name>:<type>" and "<name>:click".
void listen(ui::Widget* widget, std::shared_ptr<Journal> journal)
{
    const std::string name = widget->getName();
    widget->addTouchEventListener([journal, name](Ref*, TouchType type) {
        journal->push_back(name + ":" + std::to_string(static_cast<int>(type)));
    });
    widget->addClickEventListener([journal, name](Ref*) { journal->push_back(name + ":click"); });
}

class WidgetTouchTest : public qvtest::WidgetTest {
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        // outer (0,0 400x400) > inner (50,50 300x300) > button centred at world (200, 200), 100x40.
        outer = SpyLayout::make("outer", journal);
        outer->setContentSize(Size(400, 400));
        inner = SpyLayout::make("inner", journal);
        inner->setContentSize(Size(300, 300));
        inner->setPosition(Vec2(50, 50));
        button = ui::Button::create(image("btn.png", 100, 40), image("btnDown.png", 100, 40));
        button->setName("button");
        button->setPosition(Vec2(150, 150));
        inner->addChild(button);
        outer->addChild(inner);
        scene->addChild(outer);
        listen(button, journal);
        journal->clear();
    }

    SpyLayout* outer = nullptr;
    SpyLayout* inner = nullptr;
    ui::Button* button = nullptr;
};

} // namespace

TEST_F(WidgetTouchTest, EventsTravelUpEveryWidgetAncestorAndAClickNeedsARelease)
{
    press(200, 200);
    EXPECT_EQ(*journal, (Journal{"inner:intercept:0:button", "outer:intercept:0:button", "button:0"}));
    EXPECT_TRUE(button->isHighlighted());
    EXPECT_EQ(button->getTouchBeganPosition(), Vec2(200, 200));
    journal->clear();

    drag(210, 205);
    release(210, 205);
    EXPECT_EQ(*journal, (Journal{"inner:intercept:1:button", "outer:intercept:1:button", "button:1",
                                 "inner:intercept:2:button", "outer:intercept:2:button", "button:2", "button:click"}));
    EXPECT_FALSE(button->isHighlighted());
    EXPECT_EQ(button->getTouchEndPosition(), Vec2(210, 205));

    // A plain node between two widgets does not break the chain.
    journal->clear();
    auto* holder = Node::create();
    button->retain();
    button->removeFromParentAndCleanup(false);
    holder->addChild(button);
    button->release();
    inner->addChild(holder);
    click(200, 200);
    EXPECT_EQ(journal->front(), "inner:intercept:0:button");

    // Without propagation the ancestors hear nothing.
    journal->clear();
    button->setPropagateTouchEvents(false);
    click(200, 200);
    EXPECT_EQ(*journal, (Journal{"button:0", "button:2", "button:click"}));
}

TEST_F(WidgetTouchTest, SwallowingDecidesWhetherWidgetsBelowSeeTheTouch)
{
    inner->setTouchEnabled(true);
    inner->addTouchEventListener([this](Ref*, TouchType type) {
        journal->push_back("inner:" + std::to_string(static_cast<int>(type)));
    });

    click(200, 200);
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "inner:0"), 0) << "the button swallowed the touch";

    journal->clear();
    button->setSwallowTouches(false);
    click(200, 200);
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "inner:0"), 1);
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "button:click"), 1);

    // A touch beside the button reaches the layout directly (and its ancestors hear of it).
    journal->clear();
    click(60, 60);
    EXPECT_EQ(*journal, (Journal{"outer:intercept:0:inner", "inner:0", "outer:intercept:2:inner", "inner:2"}));
}

TEST_F(WidgetTouchTest, AnInterceptingAncestorThatUnhighlightsSuppressesTheClick)
{
    outer->stealMoves = true;
    press(200, 200);
    drag(200, 230);
    EXPECT_FALSE(button->isHighlighted());
    journal->clear();
    release(200, 230);
    EXPECT_EQ(journal->back(), "button:3");
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "button:click"), 0);
}

TEST_F(WidgetTouchTest, AHitNeedsVisibleEnabledAncestorsAndThePointInsideEveryClippingLayout)
{
    inner->setEnabled(false);
    click(200, 200);
    EXPECT_TRUE(journal->empty());
    inner->setEnabled(true);

    outer->setVisible(false);
    click(200, 200);
    EXPECT_TRUE(journal->empty());
    outer->setVisible(true);

    button->setEnabled(false);
    click(200, 200);
    EXPECT_TRUE(journal->empty());
    button->setEnabled(true);

    // The inner layout clips at x = 180: the button's part to the right is not touchable.
    inner->setContentSize(Size(130, 300));
    inner->setClippingEnabled(true);
    click(190, 200);
    EXPECT_TRUE(journal->empty());
    click(170, 200);
    EXPECT_EQ(journal->back(), "button:click");
    inner->setClippingEnabled(false);

    // A doubled touch area reaches 100 units left and right of the centre.
    journal->clear();
    click(270, 200);
    EXPECT_TRUE(journal->empty());
    button->setTouchScaled(2.0f);
    click(270, 200);
    EXPECT_EQ(journal->back(), "button:click");
    click(301, 200);
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "button:click"), 1);
}

TEST_F(WidgetTouchTest, ButtonClicksOnlyWhenReleasedInsideAndShowsItsPressedImage)
{
    button->setPressedActionEnabled(true);
    press(200, 200);
    EXPECT_EQ(button->getVirtualRenderer()->getScale(), 1.1f) << "pressed image drawn larger";
    EXPECT_EQ(button->getScale(), 1.0f) << "the button itself keeps its scale";

    drag(400, 400); // out: unhighlighted
    EXPECT_FALSE(button->isHighlighted());
    release(400, 400);
    EXPECT_EQ(journal->back(), "button:3");
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "button:click"), 0);

    // Out and back in again, released inside: a click.
    journal->clear();
    press(200, 200);
    drag(400, 400);
    drag(220, 210);
    EXPECT_TRUE(button->isHighlighted());
    release(220, 210);
    EXPECT_EQ(journal->back(), "button:click");

    // A click handler may remove its own button.
    button->addClickEventListener([](Ref* sender) { static_cast<Node*>(sender)->removeFromParent(); });
    click(200, 200);
    EXPECT_EQ(inner->getChildByName("button"), nullptr);
    director->stepFrame(0.0f);
}

TEST_F(WidgetTouchTest, ButtonSizesFollowTheImageUnlessFixed)
{
    EXPECT_EQ(button->getContentSize(), Size(100, 40));
    EXPECT_EQ(button->getNormalTextureSize(), Size(100, 40));
    button->setContentSize(Size(300, 90));
    EXPECT_EQ(button->getContentSize(), Size(100, 40)) << "adapting to the image";
    button->ignoreContentAdaptWithSize(false);
    EXPECT_EQ(button->getContentSize(), Size(300, 90));
    button->setScale9Enabled(true);
    button->setCapInsets(Rect(10, 10, 80, 20));
    EXPECT_EQ(button->getVirtualRenderer()->getContentSize(), Size(300, 90));

    // No images at all: a titled button is as large as its title.
    auto* bare = ui::Button::create();
    bare->setTitleText("Send");
    EXPECT_GT(bare->getContentSize().width, 0.0f);
    EXPECT_EQ(bare->getTitleText(), "Send");
    auto* missing = ui::Button::create("no-such.png");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->getContentSize(), Size::ZERO);
}

// A button made without images (a title only, as the busy overlay's cancel button) is sized by its
// title and takes clicks like any other.
TEST_F(WidgetTouchTest, AnImagelessTitleButtonIsClickable)
{
    auto* titled = ui::Button::create();
    titled->setName("titled");
    titled->setTitleText("Cancel");
    titled->setPosition(Vec2(150, 250));
    inner->addChild(titled);
    listen(titled, journal);
    EXPECT_GT(titled->getContentSize().width, 0.0f);
    click(200, 300);
    EXPECT_EQ(std::count(journal->begin(), journal->end(), "titled:click"), 1);
}

TEST_F(WidgetTouchTest, SliderFiresDownChangedUpAndSetPercentFiresNothing)
{
    auto* slider = ui::Slider::create(image("bar.png", 200, 10), image("ball.png", 20, 20));
    slider->setAnchorPoint(Vec2::ZERO);
    slider->setPosition(Vec2(500, 300));
    slider->setTouchScaled(2.0f);
    scene->addChild(slider);
    std::vector<int> events;
    slider->addEventListener([&events](Ref*, ui::Slider::EventType type) { events.push_back(static_cast<int>(type)); });

    slider->setPercent(80);
    EXPECT_TRUE(events.empty());

    press(550, 305); // 25 %
    EXPECT_EQ(events, (std::vector<int>{1, 0}));
    EXPECT_EQ(slider->getPercent(), 25);
    drag(600, 306); // 50 %
    drag(600, 298); // same percent: nothing
    EXPECT_EQ(events, (std::vector<int>{1, 0, 0}));
    drag(900, 310); // beyond the end: clamped to 100
    EXPECT_EQ(slider->getPercent(), 100);
    release(900, 310);
    EXPECT_EQ(events, (std::vector<int>{1, 0, 0, 0, 0, 2}));

    // The doubled touch area: 5 units below the 10-unit bar still hits; a lost focus cancels.
    events.clear();
    press(510, 297);
    InputSimulator::focusLost();
    EXPECT_EQ(events, (std::vector<int>{1, 0, 3}));
    EXPECT_EQ(slider->getPercent(), 5);
}

TEST_F(WidgetTouchTest, CheckBoxTogglesOnAReleaseInside)
{
    auto* box = ui::CheckBox::create(image("box.png", 30, 30), image("cross.png", 30, 30));
    box->setPosition(Vec2(600, 500));
    scene->addChild(box);
    std::vector<int> events;
    box->addEventListener([&events](Ref*, ui::CheckBox::EventType type) { events.push_back(static_cast<int>(type)); });

    box->setSelected(true);
    EXPECT_TRUE(events.empty());
    click(600, 500);
    EXPECT_FALSE(box->isSelected());
    click(605, 495);
    EXPECT_TRUE(box->isSelected());
    EXPECT_EQ(events, (std::vector<int>{1, 0}));

    press(600, 500);
    drag(700, 500);
    release(700, 500);
    EXPECT_TRUE(box->isSelected()) << "released outside: no toggle";
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(WidgetTouchTest, FocusFollowsClicksAndForgetsDeletedWidgets)
{
    click(200, 200);
    EXPECT_TRUE(button->isFocused());
    EXPECT_EQ(ui::Widget::getCurrentFocusedWidget(), button);

    auto* other = ui::Widget::create();
    other->setContentSize(Size(10, 10));
    other->setPosition(Vec2(700, 100));
    other->setTouchEnabled(true);
    scene->addChild(other);
    click(700, 100);
    EXPECT_TRUE(other->isFocused());
    EXPECT_FALSE(button->isFocused());

    other->removeFromParent();
    director->stepFrame(0.0f); // the autorelease pool frees it
    EXPECT_EQ(ui::Widget::getCurrentFocusedWidget(), nullptr);
}

TEST_F(WidgetTouchTest, KeyboardEnabledWidgetsHearKeyCodes)
{
    struct Keys : ui::Widget {
        std::vector<int> pressed;
        void onKeyPressed(EventKeyboard::KeyCode code, Event*) override { pressed.push_back(static_cast<int>(code)); }
    };
    auto* keys = new Keys();
    keys->init();
    keys->autorelease();
    scene->addChild(keys);
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, true);
    EXPECT_TRUE(keys->pressed.empty());
    keys->setKeyboardEnabled(true);
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, true);
    EXPECT_EQ(keys->pressed, (std::vector<int>{14}));
    keys->setKeyboardEnabled(false);
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, false);
    EXPECT_EQ(keys->pressed.size(), 1u);
}

TEST_F(WidgetTouchTest, ClonesCopyPropertiesChildrenAndCallbacks)
{
    button->setTitleText("Go");
    button->setTitleFontSize(21);
    auto* parameter = ui::RelativeLayoutParameter::create();
    parameter->setAlign(ui::RelativeLayoutParameter::RelativeAlign::PARENT_TOP_RIGHT);
    parameter->setMargin(ui::Margin(1, 2, 3, 4));
    button->setLayoutParameter(parameter);
    button->setUserString("u");

    auto* copy = dynamic_cast<SpyLayout*>(inner->clone());
    EXPECT_EQ(copy, nullptr) << "a subclass without its own clone instance clones as a Layout";
    ui::Widget* clone = inner->clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->getContentSize(), Size(300, 300));
    auto* cloned = dynamic_cast<ui::Button*>(clone->getChildByName("button"));
    ASSERT_NE(cloned, nullptr);
    EXPECT_NE(cloned, button);
    EXPECT_EQ(cloned->getTitleText(), "Go");
    EXPECT_EQ(cloned->getTitleFontSize(), 21);
    EXPECT_EQ(cloned->getContentSize(), Size(100, 40));
    EXPECT_EQ(cloned->getPosition(), Vec2(150, 150));
    EXPECT_EQ(cloned->getUserString(), "u");
    auto* clonedParameter = dynamic_cast<ui::RelativeLayoutParameter*>(cloned->getLayoutParameter());
    ASSERT_NE(clonedParameter, nullptr);
    EXPECT_NE(clonedParameter, parameter);
    EXPECT_EQ(clonedParameter->getAlign(), ui::RelativeLayoutParameter::RelativeAlign::PARENT_TOP_RIGHT);
    EXPECT_EQ(clonedParameter->getMargin(), ui::Margin(1, 2, 3, 4));

    // The clone answers touches with the original's callbacks.
    clone->setPosition(Vec2(500, 0));
    scene->addChild(clone);
    journal->clear();
    click(650, 150);
    EXPECT_EQ(journal->back(), "button:click");
}

TEST_F(WidgetTouchTest, HitTestsLookThroughTheVisitingCamera)
{
    auto* widget = ui::Widget::create();
    widget->setContentSize(Size(40, 20));
    widget->setPosition(Vec2(580, 320));
    scene->addChild(widget);

    // A camera like the default one, moved 100 units to the right: window point x shows world
    // point x + 100.
    Camera* camera = Camera::create();
    camera->setPosition3D(camera->getPosition3D() + Vec3(100, 0, 0));
    Vec3 local;
    EXPECT_TRUE(widget->hitTest(Vec2(480, 320), camera, &local));
    EXPECT_NEAR(local.x, 20.0f, 1e-2f);
    EXPECT_NEAR(local.y, 10.0f, 1e-2f);
    EXPECT_FALSE(widget->hitTest(Vec2(580, 320), camera, nullptr));
    EXPECT_TRUE(widget->hitTest(Vec2(580, 320), nullptr, nullptr));
    EXPECT_TRUE(widget->hitTest(Vec2(600, 330), scene->getDefaultCamera(), nullptr)) << "edges are inside";
    EXPECT_FALSE(widget->hitTest(Vec2(600.5f, 330), scene->getDefaultCamera(), nullptr));
}
