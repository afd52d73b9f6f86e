// The picture view: wheel and right-drag zoom with their limits, left-drag pan, the placeholder
// for a missing file, and touch gestures (pinch, capture by one view at a time).
#include "NSSpriteView.h"
#include "support/WidgetsFixture.h"

#include <cmath>

using namespace cocos2d;

namespace
{

class NSSpriteViewTest : public WidgetsTest
{
protected:
    NSUI::NSSpriteView* makeView(float x, bool swallow = false)
    {
        auto* view = NSUI::NSSpriteView::create();
        view->setContentSize(Size(300, 300));
        view->setPosition(Vec2(x, 100));
        // The widget's own one-by-one listener claims touches first; without swallowing them the
        // gesture listener sees them too (the desktop's mouse works through the mouse handlers).
        view->setSwallowTouches(swallow);
        scene->addChild(view);
        return view;
    }
};

TEST_F(NSSpriteViewTest, WheelAndMouseDragsZoomAndPan)
{
    auto* view = makeView(100, true); // the desktop way: the mouse alone pans, once
    auto* image = view->getImageView();
    InputSimulator::scroll(250, 250, 1.0f); // wheel up: scrollY < 0
    EXPECT_FLOAT_EQ(image->getScale(), 1.1f);
    InputSimulator::scroll(250, 250, -1.0f);
    EXPECT_NEAR(image->getScale(), 0.99f, 1e-5);

    image->setScale(10.2f);
    InputSimulator::mouseDown(1, 250, 250);
    InputSimulator::mouseMove(250, 260); // upward: no further in past 10
    EXPECT_FLOAT_EQ(image->getScale(), 10.2f);
    InputSimulator::mouseMove(250, 250); // downward: out
    EXPECT_FLOAT_EQ(image->getScale(), 10.2f * 0.95f);
    InputSimulator::mouseUp(1, 250, 250);

    const Vec2 before = image->getPosition();
    press(250, 250);
    drag(260, 245);
    release(260, 245);
    EXPECT_EQ(image->getPosition(), before + Vec2(10, -5));
}

TEST_F(NSSpriteViewTest, MissingFileShowsThePlaceholderAndExistingOnesFit)
{
    auto* view = makeView(100);
    view->getImageView()->setScale(3.0f);
    view->setImage(scratch + "missing.png");
    EXPECT_EQ(view->getImagePath(), scratch + "missing.png");
    EXPECT_FLOAT_EQ(view->getImageView()->getScale(), 1.0f);
    ASSERT_TRUE(stepUntil([&] { return !view->isLoading() && view->pendingRequests() == 0; }));
    EXPECT_EQ(view->getImageView()->getVirtualRendererSize(), Size(128, 128)); // the placeholder

    view->setImage(writeImage("big.png", 600, 300));
    ASSERT_TRUE(stepUntil([&] { return !view->isLoading() && view->pendingRequests() == 0; }));
    EXPECT_FLOAT_EQ(view->getImageView()->getScale(), 0.5f);
}

TEST_F(NSSpriteViewTest, PinchFromOnePointStaysFiniteAndCaptureIsReleasedByCleanup)
{
    auto* a = makeView(0);
    auto* b = makeView(400);
    // Two fingers at one point moving apart: no ratio to scale by, the scale stays finite.
    InputSimulator::touchesBegan({1, 2}, {Vec2(150, 250), Vec2(150, 250)});
    InputSimulator::touchesMoved({1, 2}, {Vec2(140, 250), Vec2(160, 250)});
    EXPECT_TRUE(std::isfinite(a->getImageView()->getScale()));
    InputSimulator::touchesMoved({1, 2}, {Vec2(130, 250), Vec2(170, 250)});
    EXPECT_FLOAT_EQ(a->getImageView()->getScale(), 1.0f);
    InputSimulator::touchesEnded({1, 2}, {Vec2(130, 250), Vec2(170, 250)});
    EXPECT_FALSE(NSUI::NSInteractorImage::isGestureCaptured());

    // A real pinch: 20 units apart, then 40.
    InputSimulator::touchesBegan({1, 2}, {Vec2(140, 250), Vec2(160, 250)});
    InputSimulator::touchesMoved({1, 2}, {Vec2(130, 250), Vec2(170, 250)});
    EXPECT_NEAR(a->getImageView()->getScale(), 2.0f, 1e-4);
    InputSimulator::touchesEnded({1, 2}, {Vec2(130, 250), Vec2(170, 250)});
    EXPECT_FALSE(NSUI::NSInteractorImage::isGestureCaptured());

    // View a holds a gesture and goes away: view b must still answer.
    InputSimulator::touchesBegan({3}, {Vec2(150, 250)});
    EXPECT_TRUE(a->getInteractor()->isActive());
    a->removeFromParent();
    EXPECT_FALSE(NSUI::NSInteractorImage::isGestureCaptured());
    const Vec2 before = b->getImageView()->getPosition();
    InputSimulator::touchesBegan({4}, {Vec2(550, 250)});
    InputSimulator::touchesMoved({4}, {Vec2(560, 250)});
    InputSimulator::touchesEnded({4}, {Vec2(560, 250)});
    EXPECT_EQ(b->getImageView()->getPosition(), before + Vec2(10, 0));
    InputSimulator::touchesEnded({3}, {Vec2(150, 250)});
}

} // namespace
