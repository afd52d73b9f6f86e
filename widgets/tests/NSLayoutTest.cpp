// The base layout: mouse dispatch into node space with the held-button flags, and the
// one-at-a-time asynchronous image loader.
#include "NSLayout.h"
#include "support/WidgetsFixture.h"

#include <cmath>
#include <vector>

using namespace cocos2d;

namespace
{

// Records every handler call as "<kind> x,y".
class RecordingLayout : public NSUI::NSLayout
{
public:
    static RecordingLayout* make()
    {
        auto* l = new RecordingLayout();
        l->init();
        l->autorelease();
        return l;
    }
    bool onMouseDown(float x, float y) override { return note("down", x, y); }
    bool onMouseUp(float x, float y) override { return note("up", x, y); }
    bool onMouseMove(float x, float y) override
    {
        dragStep = Vec2(x, y) - lastMousePosition;
        return note("move", x, y);
    }
    bool onMouseScroll(float x, float y, float scrollY) override
    {
        lastScroll = scrollY;
        return note("scroll", x, y);
    }
    bool left() const { return isLeftButtonDown; }
    bool right() const { return isRightButtonDown; }
    bool middle() const { return isMiddleButtonDown; }

    std::vector<std::string> calls;
    Vec2 dragStep;
    float lastScroll = 0.0f;
    bool swallow = false;

private:
    bool note(const char* kind, float x, float y)
    {
        calls.push_back(std::string(kind) + " " + std::to_string(int(std::lround(x))) + "," +
                        std::to_string(int(std::lround(y))));
        return swallow;
    }
};

class NSLayoutTest : public WidgetsTest
{
protected:
    RecordingLayout* place(Node* parent, float x, float y, float w, float h)
    {
        auto* l = RecordingLayout::make();
        l->setContentSize(Size(w, h));
        l->setPosition(Vec2(x, y));
        parent->addChild(l);
        return l;
    }
};

TEST_F(NSLayoutTest, MouseEventsArriveInNodeSpaceWithButtonFlags)
{
    auto* layout = place(scene, 100, 100, 200, 100);

    InputSimulator::mouseDown(1, 150, 120);
    EXPECT_FALSE(layout->left());
    EXPECT_TRUE(layout->right());
    EXPECT_FALSE(layout->middle());
    InputSimulator::mouseMove(160, 130);
    EXPECT_EQ(layout->dragStep, Vec2(10, 10)); // the step from the previous cursor, node space
    InputSimulator::mouseUp(1, 160, 130);
    EXPECT_FALSE(layout->right());

    InputSimulator::scroll(200, 150, 1.0f); // one wheel step up
    EXPECT_FLOAT_EQ(layout->lastScroll, -1.0f);
    EXPECT_EQ(layout->calls,
              (std::vector<std::string>{"down 50,20", "move 60,30", "up 60,30", "scroll 100,50"}));

    // A press of the middle button clears the others and sets only its own.
    InputSimulator::mouseDown(0, 150, 120);
    EXPECT_TRUE(layout->left());
    InputSimulator::mouseDown(2, 150, 120);
    EXPECT_FALSE(layout->left());
    EXPECT_TRUE(layout->middle());
    // A release outside the layout reaches no handler and leaves the flags as they were.
    InputSimulator::mouseUp(2, 500, 500);
    EXPECT_TRUE(layout->middle());
}

TEST_F(NSLayoutTest, EdgesHiddenAncestorsAndSwallowing)
{
    auto* parent = Node::create();
    scene->addChild(parent);
    auto* layout = place(parent, 100, 100, 200, 100);

    InputSimulator::mouseMove(100, 150); // x = 0: on the edge, outside
    InputSimulator::mouseMove(300, 150); // x = width
    EXPECT_TRUE(layout->calls.empty());

    parent->setVisible(false);
    InputSimulator::mouseDown(1, 150, 150);
    EXPECT_TRUE(layout->calls.empty());
    parent->setVisible(true);

    // A handler returning true stops the event before layouts beneath see it.
    auto* below = place(scene, 0, 0, 960, 640);
    below->setLocalZOrder(-1);
    layout->swallow = true;
    InputSimulator::mouseDown(1, 150, 150);
    EXPECT_EQ(layout->calls.size(), 1u);
    EXPECT_TRUE(below->calls.empty());
    layout->swallow = false;
    InputSimulator::mouseUp(1, 150, 150);
    EXPECT_EQ(below->calls, std::vector<std::string>{"up 150,150"});
}

TEST_F(NSLayoutTest, CleanedUpLayoutHearsNoMoreMouse)
{
    auto* layout = place(scene, 0, 0, 200, 200);
    layout->retain();
    layout->removeFromParent(); // cleanup removes the listener
    scene->addChild(layout);
    InputSimulator::mouseDown(1, 50, 50);
    EXPECT_TRUE(layout->calls.empty());
    layout->release();
}

TEST_F(NSLayoutTest, ImagesLoadOneAtATimeOnTheMainThreadAndFit)
{
    const std::string wide = writeImage("wide.png", 200, 100);
    const std::string tall = writeImage("tall.png", 50, 100);
    auto* layout = place(scene, 0, 0, 400, 400);
    auto* view = ui::ImageView::create();
    auto* sprite = Sprite::create();
    layout->addChild(view);
    layout->addChild(sprite);

    const unsigned int before = view->getReferenceCount();
    layout->loadImageToFit(view, wide, Size(100, 100));
    layout->loadSpriteToFit(sprite, tall, Size(100, 100), 2.0f);
    EXPECT_EQ(layout->pendingRequests(), 2u);
    EXPECT_EQ(view->getReferenceCount(), before + 1); // the queue holds its target

    ASSERT_TRUE(stepUntil([&] { return !layout->isLoading() && layout->pendingRequests() == 0; }));
    EXPECT_FLOAT_EQ(view->getScale(), 0.5f);         // 200 x 100 into 100 x 100
    EXPECT_FLOAT_EQ(sprite->getScaleY(), 1.0f);      // 50 x 100 into 100 x 100: fit 1
    EXPECT_FLOAT_EQ(sprite->getScaleX(), 2.0f);      // twice as much horizontally
    EXPECT_EQ(view->getReferenceCount(), 1u); // only its parent, once the pool drained

    // Cached now: the fit happens at once; loadImage still queues.
    auto* second = ui::ImageView::create();
    layout->addChild(second);
    layout->loadImageToFit(second, wide, Size(50, 50));
    EXPECT_FLOAT_EQ(second->getScale(), 0.25f);
    layout->loadImage(second, wide);
    EXPECT_EQ(layout->pendingRequests(), 1u);
}

TEST_F(NSLayoutTest, CorruptImageIsSkippedAndTheQueueGoesOn)
{
    const std::string junk = writeJunk("broken.png");
    const std::string good = writeImage("good.png", 40, 20);
    auto* layout = place(scene, 0, 0, 400, 400);
    auto* broken = ui::ImageView::create();
    auto* fine = ui::ImageView::create();
    layout->addChild(broken);
    layout->addChild(fine);
    broken->setScale(0.75f);

    layout->loadImageToFit(broken, junk, Size(100, 100));
    layout->loadImageToFit(fine, good, Size(80, 80));
    ASSERT_TRUE(stepUntil([&] { return !layout->isLoading() && layout->pendingRequests() == 0; }));
    EXPECT_FLOAT_EQ(broken->getScale(), 0.75f);
    EXPECT_TRUE(std::isfinite(broken->getScale()));
    EXPECT_FLOAT_EQ(fine->getScale(), 2.0f);
    EXPECT_EQ(broken->getReferenceCount(), 1u);
}

TEST_F(NSLayoutTest, LoaderWaitsOffStageAndDropsItsRequestsWhenDestroyed)
{
    const std::string file = writeImage("pic.png", 30, 30);
    auto* layout = RecordingLayout::make();
    layout->retain();
    auto* view = ui::ImageView::create();
    view->retain();
    layout->loadImage(view, file);
    step(20);
    EXPECT_EQ(layout->pendingRequests(), 1u); // not on the stage: no tick

    scene->addChild(layout);
    ASSERT_TRUE(stepUntil([&] { return layout->isLoading(); }));
    // Destroyed with the load in flight: the target is released and no callback arrives later.
    const unsigned int inFlight = view->getReferenceCount();
    layout->loadImage(view, file);
    EXPECT_EQ(view->getReferenceCount(), inFlight + 1);
    layout->removeFromParent();
    layout->release();
    EXPECT_EQ(view->getReferenceCount(), inFlight - 1);
    step(30);
    view->release();
}

} // namespace
