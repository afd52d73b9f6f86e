// The scroll view: inertia after a flick, bounce back into range, the axis lock, the wheel, the
// indicator, container sizing and jumps, and drags that start on a button.
#include "UIScrollViewBase.h"
#include "support/WidgetsFixture.h"

using namespace cocos2d;

namespace
{

class UIScrollViewBaseTest : public WidgetsTest
{
protected:
    // A 300 x 200 vertical view at (100, 100) over 300 x 1000 of content.
    NSUI::UIScrollViewBase* makeView()
    {
        auto* view = NSUI::UIScrollViewBase::create();
        view->setContentSize(Size(300, 200));
        view->setPosition(Vec2(100, 100));
        view->setInnerContainerSize(Size(300, 1000));
        scene->addChild(view);
        return view;
    }
    float y(NSUI::UIScrollViewBase* view) { return view->getInnerContainer()->getPositionY(); }
};

TEST_F(UIScrollViewBaseTest, ContainerSizingKeepsTheTopAndJumpsClamp)
{
    auto* view = makeView();
    EXPECT_EQ(y(view), -800.0f); // the top of the content is shown
    view->setInnerContainerSize(Size(300, 1500));
    EXPECT_EQ(y(view), -1300.0f); // grown downward: the top stays
    view->setInnerContainerSize(Size(10, 10));
    EXPECT_EQ(view->getInnerContainerSize(), Size(300, 200)); // never smaller than the view
    EXPECT_EQ(y(view), 0.0f);
    EXPECT_FALSE(view->getScrollIndicator()->isVisible()); // content fits: no indicator

    view->setInnerContainerSize(Size(300, 1000));
    view->jumpToDestination(Vec2(0, -5000));
    EXPECT_EQ(y(view), -800.0f);
    view->jumpToDestination(Vec2(0, 30));
    EXPECT_EQ(y(view), 30.0f); // a positive position is used as given
}

// The view's children are its container's: callers that list them, count them or lay them out
// (ui::Helper after a layout load) reach the content.
TEST_F(UIScrollViewBaseTest, ChildrenAreTheContainersAndAreLaidOut)
{
    auto* view = makeView();
    view->setLayoutType(cocos2d::ui::Layout::Type::VERTICAL);
    auto* row = cocos2d::ui::Layout::create();
    row->setSizeType(cocos2d::ui::Widget::SizeType::PERCENT);
    row->setSizePercent(Vec2(1.0f, 0.1f));
    view->addChild(row);
    auto* label = cocos2d::ui::Text::create("x", "", 12);
    view->addChild(label);

    EXPECT_EQ(view->getChildrenCount(), 2);
    ASSERT_EQ(view->getChildren().size(), 2);
    EXPECT_EQ(view->getChildren().at(0), row);
    const NSUI::UIScrollViewBase* constView = view;
    EXPECT_EQ(constView->getChildren().at(1), label);
    cocos2d::Node* asNode = view;
    EXPECT_EQ(asNode->getChildrenCount(), 2);

    cocos2d::ui::Helper::doLayout(scene);
    EXPECT_EQ(row->getContentSize(), Size(300, 100)); // a tenth of the 1000-high content
    EXPECT_FLOAT_EQ(row->getTopBoundary(), 1000.0f);
    EXPECT_FLOAT_EQ(label->getTopBoundary(), 900.0f);
}

TEST_F(UIScrollViewBaseTest, FlickScrollsOnWithInertiaAndStops)
{
    auto* view = makeView();
    view->jumpToDestination(Vec2(0, -500));
    press(200, 150);
    step(1);
    drag(200, 160);
    step(1);
    drag(200, 200);
    step(1);
    release(200, 200);
    EXPECT_TRUE(view->isAutoScrolling());
    const float released = y(view);
    EXPECT_FLOAT_EQ(released, -450.0f);
    step(120);
    EXPECT_FALSE(view->isAutoScrolling());
    EXPECT_GT(y(view), released + 100.0f); // carried on upward
    EXPECT_LE(y(view), 0.0f);

    // Released within one short frame: no inertia.
    press(200, 150);
    drag(200, 160);
    drag(200, 200);
    release(200, 200);
    EXPECT_FALSE(view->isAutoScrolling());

    // The indicator shows the position and fades out over 2 s.
    auto* bar = view->getScrollIndicator();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->getOpacity(), 255);
    step(130);
    EXPECT_EQ(bar->getOpacity(), 0);
}

TEST_F(UIScrollViewBaseTest, DragPastTheTopBouncesBack)
{
    auto* view = makeView();
    view->setBounceEnabled(true);
    std::vector<NSUI::ScrollEventType> events;
    view->addEventListener([&](Ref*, NSUI::ScrollEventType e) {
        if (e != NSUI::ScrollEventType::SCROLLING)
            events.push_back(e);
    });
    press(200, 250);
    drag(200, 240);
    drag(200, 190); // pulls the content 60 down past its top
    release(200, 190);
    EXPECT_FLOAT_EQ(y(view), -860.0f);
    EXPECT_TRUE(view->isBouncing());
    step(30);
    EXPECT_FALSE(view->isBouncing());
    EXPECT_FLOAT_EQ(y(view), -800.0f);
    EXPECT_NE(std::find(events.begin(), events.end(), NSUI::ScrollEventType::BOUNCE_TOP), events.end());
}

TEST_F(UIScrollViewBaseTest, WheelOnlyInsideVisibleViews)
{
    auto* view = makeView();
    InputSimulator::scroll(200, 150, -2.0f);
    EXPECT_EQ(y(view), -760.0f);
    InputSimulator::scroll(100, 150, -2.0f); // on the edge
    EXPECT_EQ(y(view), -760.0f);
    view->setVisible(false);
    InputSimulator::scroll(200, 150, -2.0f);
    EXPECT_EQ(y(view), -760.0f);
}

TEST_F(UIScrollViewBaseTest, DragStartingOnAButtonScrollsPastFiveUnitsAndCancelsTheClick)
{
    auto* view = makeView();
    auto* button = ui::Button::create();
    button->setTouchEnabled(true);
    button->setTitleText("inside");
    button->setTitleFontSize(40);
    button->setPosition(Vec2(150, 900)); // screen (250, 200)
    int clicks = 0;
    button->addClickEventListener([&](Ref*) { ++clicks; });
    view->addChild(button);
    EXPECT_EQ(button->getParent(), view->getInnerContainer());

    press(250, 200);
    drag(250, 203);
    EXPECT_EQ(y(view), -800.0f); // within 5 units the view stays
    EXPECT_TRUE(button->isHighlighted());
    drag(250, 230);
    EXPECT_EQ(y(view), -773.0f);
    EXPECT_FALSE(button->isHighlighted());
    release(250, 230);
    EXPECT_EQ(clicks, 0);
    click(250, 227);
    EXPECT_EQ(clicks, 1);
}

} // namespace
