// The viewer screen follows a window that the window manager resizes: its top bar, tool panel
// and image area take the new size, the open view fills the new area and draws there, and clicks
// land on the buttons where they are drawn. The favourites screen follows it too.
#include "support/ViewingFixture.h"

#include "GLTestProgram.h"

#include <GLFW/glfw3.h>

#include "NSNotificationNumbers.h"
#include "UIScrollViewBase.h"
#include "captureList.h"
#include "favoriteList.h"
#include "favoriteView.h"
#include "imageViewerPC.h"
#include "isBinReader.h"
#include "isSharedObjects.h"
#include "isViewerMulti.h"

#include <array>
#include <chrono>

USING_NS_CC;
using namespace isImageSDK;
using viewingtest::Recorder;

namespace {

std::array<int, 3> pixelAt(float x, float y)
{
    unsigned char rgba[4] = {0, 0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(int(x), int(y), 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

class ViewerResizeTest : public ViewingTest {
protected:
    void SetUp() override
    {
        ViewingTest::SetUp();
        window = qvtest::testWindow();
        if (window)
            initial = window->getFrameSize();
    }
    void TearDown() override
    {
        if (window)
            resize(initial);
        ViewingTest::TearDown();
    }
    // As the window manager would: the window gets the size, the view hears of it.
    void resize(const Size& size)
    {
        glfwSetWindowSize(window->getWindow(), int(size.width), int(size.height));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!window->getFrameSize().equals(size) && std::chrono::steady_clock::now() < deadline)
            glfwWaitEventsTimeout(0.05);
        ASSERT_EQ(window->getFrameSize(), size);
        step(3);
    }
    // The active view's share of the image area.
    static Vec2 shareOfArea(imageViewerPC* screen)
    {
        Rect view;
        if (!screen->getViewer() || !screen->getViewer()->getActiveViewRect(view))
            return Vec2::ZERO;
        const Rect area = screen->getViewingArea();
        return Vec2(view.size.width / area.size.width, view.size.height / area.size.height);
    }
    // The screen and its container over the window's size, the active view keeping its share of
    // the image area and drawing the phantom's grey in its middle.
    void expectFilled(imageViewerPC* screen, const Size& win, const Vec2& share)
    {
        EXPECT_EQ(screen->getContentSize(), win);
        const Rect area = screen->getViewingArea();
        EXPECT_EQ(area, Rect(float(screen->getToolWidth()), 0, win.width - float(screen->getToolWidth()),
                             win.height - imageViewerPC::kTopBar));
        isViewerMulti* container = screen->getViewer();
        EXPECT_EQ(container->getPosition(), area.origin);
        EXPECT_EQ(container->getContentSize(), area.size);
        Rect view;
        ASSERT_TRUE(container->getActiveViewRect(view));
        EXPECT_TRUE(area.containsPoint(Vec2(view.getMinX() + 1, view.getMinY() + 1)));
        EXPECT_TRUE(area.containsPoint(Vec2(view.getMaxX() - 1, view.getMaxY() - 1)));
        EXPECT_NEAR(view.size.width / area.size.width, share.x, 0.01);
        EXPECT_NEAR(view.size.height / area.size.height, share.y, 0.01);
        const auto middle = pixelAt(view.getMidX(), view.getMidY());
        EXPECT_NEAR(middle[0], middle[1], 2);
        EXPECT_NEAR(middle[1], middle[2], 2);
        EXPECT_GT(middle[0], 20);
        EXPECT_LT(middle[0], 250);
        Node* favourite = screen->getChildByName("root")->getChildByName("btnCmdFavorite");
        ASSERT_NE(favourite, nullptr);
        const Vec2 corner = favourite->convertToWorldSpace(
            Vec2(favourite->getContentSize().width, favourite->getContentSize().height));
        EXPECT_LE(corner.x, win.width);
        EXPECT_LE(corner.y, win.height);
        EXPECT_GT(corner.y, win.height - imageViewerPC::kTopBar);
        auto* scroll = screen->getToolScrollView();
        ASSERT_NE(scroll, nullptr);
        EXPECT_EQ(scroll->getContentSize().height, win.height - imageViewerPC::kTopBar);
    }

    GLViewImpl* window = nullptr;
    Size initial;
};

} // namespace

TEST_F(ViewerResizeTest, ScreenAndViewFollowTheWindowAndClicksLandOnTheButtons)
{
    ASSERT_NE(window, nullptr);
    qvgen::PhantomSpec spec;
    spec.columns = 64;
    spec.rows = 64;
    spec.slices = 8;
    const std::string folder = writeSeries("PHANTOM_PH-0001/study/ct", spec);
    imageViewerPC* screen = openViewer(folder);
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->getViewer(), nullptr);
    ASSERT_TRUE(stepUntil([&] {
        auto* reader = dynamic_cast<isBinReader*>(isSharedObjects::getInstance()->getObject(folder));
        return reader && reader->isLoadComplete();
    }));
    step(10);
    const Vec2 share = shareOfArea(screen);
    ASSERT_GT(share.x, 0);

    for (const Size& size : {Size(1280, 800), Size(1700, 1000)}) {
        resize(size);
        step(10);
        SCOPED_TRACE(std::to_string(int(size.width)) + "x" + std::to_string(int(size.height)));
        expectFilled(screen, size, share);
        // A button of the tool panel acts where it is drawn now.
        Recorder* recorder = new Recorder();
        recorder->listen(NOTIFY_TOOL_ROI_LINE, screen->getViewer());
        Node* panel = screen->getToolScrollView()->getChildByName("toolPanel");
        ASSERT_NE(panel, nullptr);
        Node* button = panel->getChildByName("btnCmdLine");
        ASSERT_NE(button, nullptr);
        clickNode(button);
        EXPECT_TRUE(stepUntil([&] { return recorder->count(NOTIFY_TOOL_ROI_LINE) == 1; }, 5));
        recorder->release();
    }
}

TEST_F(ViewerResizeTest, FavouritesScreenFollowsTheWindow)
{
    ASSERT_NE(window, nullptr);
    Scene* scene = favoriteList::createScene();
    favoriteList* screen = favoriteList::getScreen(scene);
    ASSERT_NE(screen, nullptr);
    director->pushScene(scene);
    step(5);

    resize(Size(1280, 800));
    EXPECT_EQ(screen->getContentSize(), Size(1280, 800));
    EXPECT_EQ(screen->getCaptureList()->getTable()->getContentSize().height, 800 - favoriteList::kTopBarHeight);
    favoriteView* pane = screen->getViewer();
    EXPECT_EQ(pane->getContentSize(), Size(1280 - favoriteList::kLeftWidth, 800));
    Node* toolbar = pane->getToolbar();
    ASSERT_NE(toolbar, nullptr);
    const Vec2 top = toolbar->convertToWorldSpace(Vec2(toolbar->getContentSize().width, toolbar->getContentSize().height));
    EXPECT_FLOAT_EQ(top.x, 1280);
    EXPECT_FLOAT_EQ(top.y, 800);
    Node* back = screen->getLayout()->getChildByNameDeep("goBack");
    ASSERT_NE(back, nullptr);
    EXPECT_LE(back->convertToWorldSpace(Vec2(0, back->getContentSize().height)).y, 800);
    EXPECT_GT(back->convertToWorldSpace(Vec2::ZERO).y, 800 - favoriteList::kTopBarHeight - 1);
}
