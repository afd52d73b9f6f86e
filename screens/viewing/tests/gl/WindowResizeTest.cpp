// The viewer screen follows a window that the window manager resizes: its top bar, tool panel
// and image area take the new size, the open view fills the new area and draws there, and clicks
// land on the buttons where they are drawn. The favourites screen follows it too.
#include "support/ViewingFixture.h"

#include "GLTestProgram.h"

#include <GLFW/glfw3.h>

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UIScrollViewBase.h"
#include "captureList.h"
#include "favoriteList.h"
#include "favoriteView.h"
#include "imageViewerPC.h"
#include "isActorOverlay.h"
#include "isViewerBrowser.h"
#include "isViewerImage.h"
#include "isViewerMulti.h"
#include "quickTool.h"

#include <array>
#include <chrono>

USING_NS_CC;
using namespace isImageSDK;
using viewingtest::Recorder;

namespace {

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
    // The viewer on a small phantom series, loaded and drawn; null when it did not open.
    imageViewerPC* openPhantom(const std::string& series)
    {
        qvgen::PhantomSpec spec;
        spec.columns = 64;
        spec.rows = 64;
        spec.slices = 8;
        const std::string folder = writeSeries(series, spec);
        imageViewerPC* screen = openViewer(folder);
        if (!screen || !screen->getViewer())
            return nullptr;
        const bool loaded = stepUntil([&] { return seriesLoaded(screen); });
        step(10);
        return loaded ? screen : nullptr;
    }
    // The texts an image window shows, in world units.
    static std::vector<Rect> shownTexts(isViewerImage* window)
    {
        std::vector<Rect> boxes = window->getActorManager()->getOverlayActor()->getTextBoxes(window, false);
        for (Rect& box : boxes)
            box.origin = window->convertToWorldSpace(box.origin);
        return boxes;
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
        const auto middle = qvtest::framePixel(int(view.getMidX()), int(view.getMidY()));
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
    imageViewerPC* screen = openPhantom("PHANTOM_PH-0001/study/ct");
    ASSERT_NE(screen, nullptr);
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

TEST_F(ViewerResizeTest, ViewMaximisedDuringAResizeRestoresToItsShareOfTheNewArea)
{
    ASSERT_NE(window, nullptr);
    imageViewerPC* screen = openPhantom("PHANTOM_PH-0002/study/ct");
    ASSERT_NE(screen, nullptr);
    isViewerMulti* container = screen->getViewer();
    // Two windows side by side in the cell.
    container->sendCommand(NOTIFY_LAYOUT_1X2, nullptr);
    step(3);
    ASSERT_NE(container->getActiveCell(), nullptr);
    isViewerBrowser* browser = container->getActiveCell()->getBrowser();
    ASSERT_NE(browser, nullptr);
    ASSERT_EQ(browser->getWindows().size(), 2u);
    // Each window's rectangle as shares of the image area (origin and size).
    auto shares = [&] {
        const Rect area = screen->getViewingArea();
        std::vector<Rect> out;
        for (isViewerImage* w : browser->getWindows()) {
            const Vec2 at = w->convertToWorldSpace(Vec2::ZERO) - area.origin;
            out.emplace_back(at.x / area.size.width, at.y / area.size.height, w->getContentSize().width / area.size.width,
                             w->getContentSize().height / area.size.height);
        }
        return out;
    };
    const std::vector<Rect> before = shares();
    ASSERT_LT(before[0].size.width, 0.9);  // a share, not the whole area

    // Maximise and restore as the quick tool's button asks: over the screen right of the tool panel.
    isViewerImage* first = browser->getWindows().front();
    auto clickMax = [&] {
        const Size win = screen->getContentSize();
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = "{\"x\":\"" + std::to_string(screen->getToolWidth()) + "\",\"y\":\"0\",\"w\":\"" +
                     std::to_string(win.width - float(screen->getToolWidth())) + "\",\"h\":\"" +
                     std::to_string(win.height) + "\"}";
        data->uintValue = first->getRefID();
        const bool was = first->isMaximized();
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_WINDOW_MAXIMIZE, data, nullptr);
        stepUntil([&] { return first->isMaximized() != was; }, 5);
        step(3);
    };
    clickMax();
    ASSERT_TRUE(first->isMaximized());
    const Size maximised = first->getContentSize();
    const Size areaBefore = screen->getViewingArea().size;

    resize(Size(1280, 800));
    step(5);
    // Still maximised, over the new area (with the same margins as before); the other window away.
    const Size areaAfter = screen->getViewingArea().size;
    EXPECT_TRUE(first->isMaximized());
    EXPECT_NEAR(first->getContentSize().width, maximised.width + areaAfter.width - areaBefore.width, 1.0);
    EXPECT_NEAR(first->getContentSize().height, maximised.height + areaAfter.height - areaBefore.height, 1.0);
    EXPECT_EQ(first->convertToWorldSpace(Vec2::ZERO), screen->getViewingArea().origin);
    EXPECT_GE(browser->getWindows()[1]->convertToWorldSpace(Vec2::ZERO).x, 1280);

    // Restored: every window is back in its place in the grid, sized for the new area.
    clickMax();
    ASSERT_FALSE(first->isMaximized());
    const std::vector<Rect> after = shares();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(after[i].origin.x, before[i].origin.x, 0.01);
        EXPECT_NEAR(after[i].origin.y, before[i].origin.y, 0.01);
        EXPECT_NEAR(after[i].size.width, before[i].size.width, 0.01);
        EXPECT_NEAR(after[i].size.height, before[i].size.height, 0.01);
    }
    expectFilled(screen, Size(1280, 800), Vec2(before[0].size.width, before[0].size.height));
}

// In the small window the reformatted layout's sagittal cell split four ways leaves windows of
// about 240 x 160: what does not fit gives way instead of being drawn over another text, the
// orientation letters stay at their edges, and the quick tool bar keeps off the active window's
// texts. An inverted grey table's white surround keeps the white texts readable.
TEST_F(ViewerResizeTest, SmallWindowsKeepTheirTextsApartAndReadableOnAWhiteSurround)
{
    ASSERT_NE(window, nullptr);
    resize(Size(1280, 800));
    qvgen::PhantomSpec ct;
    ct.columns = ct.rows = 64;
    ct.slices = 32;
    qvgen::PhantomSpec nm = ct;
    nm.modality = "NM";
    struct Case {
        const char* series;
        qvgen::PhantomSpec spec;
        bool white;
    };
    for (const Case& c : {Case{"PHANTOM_PH-0003/study/ct", ct, false}, Case{"PHANTOM_PH-0004/study/nm", nm, true}}) {
        SCOPED_TRACE(c.series);
        imageViewerPC* screen = openViewer(writeSeries(c.series, c.spec), "mpr");
        ASSERT_NE(screen, nullptr);
        ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
        isViewerMulti* container = screen->getViewer();
        KeyViewProperty* sagittal = nullptr;
        for (const auto& group : container->getGroups())
            for (KeyViewProperty* cell : group.second)
                if (cell->getBrowser() && cell->getBrowser()->getActiveWindow()->getKind() == VIEW_SAGITTAL)
                    sagittal = cell;
        ASSERT_NE(sagittal, nullptr);
        pauseBetweenGestures();
        clickNode(sagittal->getBrowser()->getActiveWindow());
        step(3);
        ASSERT_EQ(container->getActiveCell(), sagittal);
        container->sendCommand(NOTIFY_LAYOUT_2X2, nullptr);
        // Until the corner texts read from the files are in.
        ASSERT_TRUE(stepUntil([&] {
            for (isViewerImage* w : sagittal->getBrowser()->getWindows())
                if (shownTexts(w).size() < 6)
                    return false;
            return sagittal->getBrowser()->getWindows().size() == 4;
        }, 10));
        step(3);
        isViewerImage* active = sagittal->getBrowser()->getActiveWindow();
        for (isViewerImage* w : sagittal->getBrowser()->getWindows()) {
            const Rect cell(w->convertToWorldSpace(Vec2::ZERO), w->getContentSize());
            ASSERT_LT(cell.size.width, 300.0f);
            std::vector<Rect> boxes = shownTexts(w);
            const isActorOverlay* overlay = w->getActorManager()->getOverlayActor();
            // Each letter in its edge's margin.
            const std::vector<Rect> letters = overlay->getTextBoxes(w, true);
            ASSERT_EQ(letters.size(), 4u);
            for (int edge = 0; edge < 4; ++edge) {
                const Rect& letter = letters[size_t(edge)];
                const float gap[4] = {cell.size.height - letter.getMaxY(), letter.getMinY(), letter.getMinX(),
                                      cell.size.width - letter.getMaxX()};
                EXPECT_LE(gap[edge], 8.0f) << "letter " << edge;
            }
            if (w == active)
                for (ui::Button* button : screen->getQuickTool()->getButtons())
                    boxes.push_back(Rect(button->getParent()->convertToWorldSpace(button->getBoundingBox().origin),
                                         button->getBoundingBox().size));
            for (size_t i = 0; i < boxes.size(); ++i) {
                EXPECT_TRUE(cell.containsPoint(boxes[i].origin)) << i;
                for (size_t j = i + 1; j < boxes.size(); ++j)
                    EXPECT_FALSE(boxes[i].intersectsRect(Rect(boxes[j].origin + Vec2(1, 1), boxes[j].size - Size(2, 2))))
                        << i << " over " << j;
            }
        }
        // Over the white surround the first top-right text shown (the phantom's corners are
        // air, white in the inverted table) is mostly dark backing with bright letters on it.
        int looked = 0;
        for (const auto& group : container->getGroups())
            for (KeyViewProperty* cell : group.second)
                for (isViewerImage* w : cell->getBrowser()->getWindows()) {
                    const std::vector<NSUI::NSLayout*>& rows =
                        w->getActorManager()->getOverlayActor()->getCornerRows(OVERLAY_TOP_RIGHT);
                    if (rows.empty() || !rows[0]->isVisible() || rows[0]->getChildren().empty())
                        continue;
                    Node* text = rows[0]->getChildren().at(0);
                    const Rect box(rows[0]->convertToWorldSpace(text->getBoundingBox().origin),
                                   text->getBoundingBox().size);
                    int dark = 0, bright = 0, all = 0;
                    for (int y = int(box.getMinY()) + 1; y < int(box.getMaxY()) - 1; ++y)
                        for (int x = int(box.getMinX()) + 1; x < int(box.getMaxX()) - 1; ++x, ++all) {
                            const auto p = qvtest::framePixel(x, y);
                            dark += p[0] + p[1] + p[2] < 3 * 140;
                            bright += p[0] + p[1] + p[2] > 3 * 200;
                        }
                    ++looked;
                    EXPECT_GT(dark, all / (c.white ? 2 : 4)) << "the text's background is not dark";
                    EXPECT_GT(bright, all / 20) << "no letters drawn";
                }
        EXPECT_GE(looked, 2);
        director->popScene();
        step(3);
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
