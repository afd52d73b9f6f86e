// The tool disk (drawn: its labels take their size from the font): items around the centre, the touch table, the sub-pages and their way back.
#include "support/ViewingFixture.h"

#include "toolDisk.h"

#include <cmath>

USING_NS_CC;
using viewingtest::Recorder;

namespace {

class ToolDiskTest : public ViewingTest {
protected:
    void SetUp() override
    {
        ViewingTest::SetUp();
        disk = toolDisk::create();
        ASSERT_NE(disk, nullptr);
        home->addChild(disk);
        disk->setViewer(&container);
        disk->setVisible(false);
        recorder = new Recorder();
    }
    void TearDown() override
    {
        recorder->release();
        ViewingTest::TearDown();
    }
    // Shows the disk at once (without the opening animation).
    void open()
    {
        disk->show();
        step(30);
    }
    void touchItem(const std::string& item)
    {
        Node* node = disk->getDetail()->getChildByName(item);
        ASSERT_NE(node, nullptr) << item;
        clickNode(node);
        step(2);
    }
    Vec2 offsetFromCentre(const std::string& item)
    {
        Node* detail = disk->getDetail();
        const Size size = detail->getContentSize();
        return detail->getChildByName(item)->getPosition() - Vec2(size.width / 2, size.height / 2);
    }

    int container = 0;  // stands for the multi-view container: only its address is used
    toolDisk* disk = nullptr;
    Recorder* recorder = nullptr;
};

} // namespace

TEST_F(ToolDiskTest, ItemsSitOnTheCircle)
{
    disk->showLayoutPage();  // four items: the first straight above the centre
    const Vec2 first = offsetFromCentre("win1x1");
    EXPECT_NEAR(first.x, 0, 0.01);
    EXPECT_NEAR(first.y, toolDisk::kRadius, 0.01);
    EXPECT_NEAR(offsetFromCentre("win1x2").x, -toolDisk::kRadius, 0.01);

    disk->addPreset("Lung", -400, 1500);  // one preset: to the right of the centre
    disk->showPresetPage();
    const Vec2 only = offsetFromCentre("Lung");
    EXPECT_NEAR(only.x, toolDisk::kRadius, 0.01);
    EXPECT_NEAR(only.y, 0, 0.01);
    EXPECT_EQ(disk->getPresets()[0].width, 1500);
    EXPECT_EQ(disk->getPresets()[0].centre, -400);
}

TEST_F(ToolDiskTest, PagesPostTheirCommandsToTheContainerAndClose)
{
    for (unsigned int id : {NOTIFY_LAYOUT_1X2, NOTIFY_VIEW_SAGITTAL, NOTIFY_TOOL_ROI_POINT, NOTIFY_WL_DEFAULT,
                            NOTIFY_CLUT_SET, NOTIFY_WL_SET, NOTIFY_WL_FUNC_LOG10})
        recorder->listen(id, &container);

    disk->showLayoutPage();
    open();
    touchItem("win1x2");
    EXPECT_EQ(recorder->count(NOTIFY_LAYOUT_1X2), 1);
    step(60);
    EXPECT_FALSE(disk->isVisible());

    disk->showViewTypePage();
    open();
    touchItem("sag");
    step(60);
    disk->showMeasurementPage();
    open();
    touchItem("cross");
    step(60);
    EXPECT_EQ(recorder->count(NOTIFY_VIEW_SAGITTAL), 1);
    EXPECT_EQ(recorder->count(NOTIFY_TOOL_ROI_POINT), 1);
    for (const auto& item : recorder->items)
        EXPECT_EQ(item.sender, disk);

    // Image page -> colour tables -> a table; the table's file name travels as text.
    disk->showImagePage();
    open();
    touchItem("ClutList");
    EXPECT_EQ(disk->getPage(), toolDisk::PAGE_CLUT);
    touchItem("hotMetal");
    ASSERT_EQ(recorder->count(NOTIFY_CLUT_SET), 1);
    EXPECT_EQ(recorder->items.back().text, "HotMetal.plist");
}

TEST_F(ToolDiskTest, SubPagesLeadBackFromTheCentreAndPresetsCarryTheirWindow)
{
    recorder->listen(NOTIFY_WL_SET, &container);
    recorder->listen(NOTIFY_WL_FUNC_LOG10, &container);
    disk->addPreset("Bone", 300, 1500);
    open();
    touchItem("WL_WW");
    EXPECT_EQ(disk->getPage(), toolDisk::PAGE_PRESETS);
    // The centre leads back to the image page.
    const Size win = director->getWinSize();
    InputSimulator::click(win.width / 2 + 10, win.height / 2 - 10);
    step(2);
    EXPECT_EQ(disk->getPage(), toolDisk::PAGE_IMAGE);
    // A touch on the image page's background does nothing and keeps the disk open.
    InputSimulator::click(win.width / 2, win.height / 2);
    step(2);
    EXPECT_EQ(disk->getPage(), toolDisk::PAGE_IMAGE);
    EXPECT_TRUE(disk->isVisible());

    touchItem("WL_WW");
    touchItem("Bone");
    ASSERT_EQ(recorder->count(NOTIFY_WL_SET), 1);
    EXPECT_EQ(recorder->items.back().text, "{\"ww\":\"1500.000000\",\"wl\":\"300.000000\"}");

    step(60);
    disk->showWindowFunctionPage();
    open();
    touchItem("Log10");
    EXPECT_EQ(recorder->count(NOTIFY_WL_FUNC_LOG10), 1);
}
