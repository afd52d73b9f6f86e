// The library screens follow a window that the window manager resizes: the home screen, its side
// panel and a pushed study list lay themselves out over the new size, and clicks land on what is
// drawn there.
#include "LibraryAppFixture.h"

#include "GLTestProgram.h"

#include <GLFW/glfw3.h>

#include "AppConfig.h"
#include "NSListView.h"
#include "NSResponseWindow.h"
#include "dataService.h"
#include "dcmSend.h"
#include "importDcm.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>

USING_NS_CC;

namespace {

class WindowResizeTest : public LibraryAppTest {
protected:
    void SetUp() override
    {
        LibraryAppTest::SetUp();
        initial = qvtest::testWindow()->getFrameSize();
    }
    void TearDown() override
    {
        resize(initial);
        LibraryAppTest::TearDown();
    }

    // As the window manager would: the window gets the size, the view hears of it.
    void resize(const Size& size)
    {
        glfwSetWindowSize(qvtest::testWindow()->getWindow(), int(size.width), int(size.height));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!qvtest::testWindow()->getFrameSize().equals(size) && std::chrono::steady_clock::now() < deadline)
            glfwWaitEventsTimeout(0.05);
        ASSERT_EQ(qvtest::testWindow()->getFrameSize(), size);
        frame();
        frame();
    }

    Size initial;
};

// The node's content rectangle in the window.
Rect worldRect(Node* node)
{
    const Vec2 a = node->convertToWorldSpace(Vec2::ZERO);
    const Vec2 b = node->convertToWorldSpace(Vec2(node->getContentSize().width, node->getContentSize().height));
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y));
}

// True when the node's rectangle lies inside the window and its right edge within `margin` of the
// window's right edge.
bool atRightEdge(Node* node, float margin)
{
    const Size win = Director::getInstance()->getWinSize();
    const Rect box = worldRect(node);
    return box.getMinX() >= 0 && box.getMaxX() <= win.width && win.width - box.getMaxX() <= margin &&
           box.getMaxY() <= win.height;
}

} // namespace

TEST_F(WindowResizeTest, HomeScreenPanelAndStudyListFollowTheWindow)
{
    resize(Size(1920, 1000));
    launch(true);
    ASSERT_TRUE(frameUntil([&] { return home()->getTable()->getRowCount() == 1 && !home()->getImporter()->isBusy(); }));
    NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(0);
    ASSERT_NE(cell, nullptr);
    clickNode(cell);
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded(); }));

    // Narrower than a wide window: the table takes the whole width, the side panel goes, the top
    // bar's buttons move to the new right edge and draw there.
    resize(Size(1280, 800));
    EXPECT_EQ(AppConfig::getInstance()->getWinSize(), Size(1280, 800));
    EXPECT_EQ(home()->getContentSize(), Size(1280, 800));
    EXPECT_EQ(home()->getTable()->getContentSize(), Size(1280, 800 - patientList::kTopBarHeight));
    EXPECT_EQ(panel(), nullptr);
    Node* favourite = home()->getChildByNameDeep("btnFavorite");
    Node* import = home()->getChildByNameDeep("importImage");
    ASSERT_NE(favourite, nullptr);
    ASSERT_NE(import, nullptr);
    EXPECT_TRUE(atRightEdge(favourite, 80)) << worldRect(favourite).origin.x;
    const Vec2 importEdge = import->convertToWorldSpace(Vec2(6, import->getContentSize().height / 2));
    const auto blue = qvtest::framePixel(int(importEdge.x), int(importEdge.y));
    EXPECT_NEAR(blue[0], 21, 30);
    EXPECT_NEAR(blue[1], 170, 30);
    EXPECT_NEAR(blue[2], 254, 30);

    patientList* homeScreen = home();
    // A click at the right end of the full-width row opens the patient's studies as a screen.
    cell = home()->getTable()->cellAtIndex(0);
    ASSERT_NE(cell, nullptr);
    const Vec2 end = cell->convertToWorldSpace(Vec2(1280 - 20, patientList::kRowHeight / 2));
    InputSimulator::click(end.x, end.y);
    studyList* pushed = nullptr;
    ASSERT_TRUE(frameUntil([&] {
        Scene* scene = Director::getInstance()->getRunningScene();
        pushed = scene ? dynamic_cast<studyList*>(scene->getChildByTag(studyList::kSceneLayerTag)) : nullptr;
        return pushed && pushed->isLoaded();
    }));

    // The pushed study list follows the window; the home screen beneath catches up on its return.
    resize(Size(1100, 720));
    EXPECT_EQ(pushed->getContentSize(), Size(1100, 720));
    ASSERT_NE(pushed->getRowsTable(), nullptr);
    const Rect rows = pushed->getRowsTable()->getBoundingBox();
    EXPECT_GT(rows.size.width, 0);
    EXPECT_LE(rows.getMaxX(), 1100);
    EXPECT_LE(rows.getMaxY(), 720);
    Node* back = pushed->getLayoutRoot()->getChildByNameDeep("goBack");
    ASSERT_NE(back, nullptr);
    EXPECT_LE(worldRect(back).getMaxY(), 720);
    clickNode(back);
    ASSERT_TRUE(frameUntil([&] { return Director::getInstance()->getRunningScene() == homeScreen->getScene(); }));
    frame();
    EXPECT_EQ(homeScreen->getTable()->getContentSize(), Size(1100, 720 - patientList::kTopBarHeight));

    // Wide again: a touched patient opens in the right half, over the new height.
    resize(Size(1920, 1000));
    EXPECT_EQ(home()->getTable()->getContentSize().width, 960);
    cell = home()->getTable()->cellAtIndex(0);
    ASSERT_NE(cell, nullptr);
    const Vec2 middle = cell->convertToWorldSpace(Vec2(300, patientList::kRowHeight / 2));
    InputSimulator::click(middle.x, middle.y);
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded(); }));
    EXPECT_EQ(panel()->getContentSize(), Size(960, 1000 - patientList::kTopBarHeight));
    EXPECT_EQ(panel()->getPosition(), Vec2(960, 0));
}

// A patient row's texts never run into each other, whatever the window: a long ID ends, cut with an
// ellipsis, before the birth date beside it, and a long name before the date at the row's right.
TEST_F(WindowResizeTest, PatientRowTextsKeepClearOfEachOtherAtEverySize)
{
    writeStudy(scratch + "source/", "LONGNAME^" + std::string(90, 'W'), "REMOTE-ID-000123456", 2);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return libraryapp::rowCount(home()) == 1 && libraryapp::importIdle(home()); }));
    for (const Size& size : {Size(1600, 1000), Size(1280, 800)}) {
        resize(size);
        NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(0);
        ASSERT_NE(cell, nullptr);
        auto* id = dynamic_cast<ui::Text*>(cell->getChildByNameDeep("id"));
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->getString().substr(id->getString().size() - 3), "\u2026") << id->getString();
        const std::pair<const char*, const char*> neighbours[] = {
            {"id", "birthday"}, {"birthday", "sex"}, {"name", "seriesDate"}};
        for (const auto& [a, b] : neighbours)
            EXPECT_LT(id->getParent()->getChildByName(a)->getBoundingBox().getMaxX(),
                      id->getParent()->getChildByName(b)->getBoundingBox().getMinX())
                << a << " runs into " << b << " at " << size.width;
    }
}

// A failed retrieval's row in Transfers: its name and its outcome (the peer's text, made one clean
// line) end, cut with an ellipsis, before the retry button, whatever the window.
TEST_F(WindowResizeTest, TransferRowTextsKeepClearOfTheRetryButtonAtEverySize)
{
    launch(false);
    dataService::getInstance()->addFailedRetrieve(
        "127.0.0.1,104,,,1.2.3,1.2.3.9.4,/tmp/,LONGNAME^" + std::string(90, 'W') +
        ",7,CT,12,40,ASSOCIATION REJECTED:\n\x1b[31mTHE PEER AGREED NO CONTEXT FOR CT IMAGE STORAGE AND MR IMAGE STORAGE");
    for (const Size& size : {Size(1600, 1000), Size(1280, 800)}) {
        resize(size);
        NSUI::NSResponseWindow* window = dcmSend::makeWindow("", "");
        home()->addChild(window);
        frame();
        NSUI::NSTableViewCell* cell = dcmSend::fromWindow(window)->getTaskList()->cellAtIndex(0);
        ASSERT_NE(cell, nullptr);
        Node* retry = cell->getChildByNameDeep("dcmNodeSend_retry");
        ASSERT_TRUE(retry && retry->isVisible());
        for (const char* name : {"ip", "path"}) {
            auto* text = dynamic_cast<ui::Text*>(cell->getChildByNameDeep(name));
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(text->getString().substr(text->getString().size() - 3), "\u2026") << text->getString();
            EXPECT_TRUE(std::none_of(text->getString().begin(), text->getString().end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
            EXPECT_LT(text->getBoundingBox().getMaxX(), retry->getBoundingBox().getMinX())
                << name << " runs under the retry button at " << size.width;
        }
        window->removeFromParent();
    }
}
