// Pictures of the screens for looking at by eye: with QV_SCREENSHOT_DIR set, the home screen (with
// the example patient and, in a wide window, its study panel) and the pushed study list are
// written there as PNG files named after the window size. Without it the test only checks that
// the screens draw.
#include "LibraryAppFixture.h"

#include "importDcm.h"

#include <cstdlib>
#include <vector>

#include "renderer/ccUtils.h"

USING_NS_CC;

namespace {

void savePicture(const std::string& name)
{
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    if (!dir)
        return;
    const Size size = Director::getInstance()->getWinSize();
    const std::string file = std::string(dir) + "/" + name + "-" + std::to_string(int(size.width)) + "x" +
                             std::to_string(int(size.height)) + ".png";
    bool written = false;
    utils::captureScreen([&written](bool ok, const std::string&) { written = ok; }, file);
    for (int i = 0; i < 3 && !written; ++i)
        Director::getInstance()->stepFrame(1.0f / 60);
    EXPECT_TRUE(written) << file;
}

} // namespace

TEST_F(LibraryAppTest, ScreensDraw)
{
    launch(true);
    ASSERT_TRUE(frameUntil([&] {
        return home()->getTable()->getRowCount() == 1 && !home()->getImporter()->isBusy();
    }));
    quit();
    launch(true);
    ASSERT_TRUE(frameUntil([&] { return home()->getTable()->getRowCount() == 1; }));
    if (patientList::isWideWindow())
        ASSERT_TRUE(frameUntil([&] { return panel() && !panel()->getThumbnailFolder().empty(); }));
    for (int i = 0; i < 30; ++i)
        frame();
    savePicture("patientList");
    if (!patientList::isWideWindow()) {
        NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(0);
        ASSERT_NE(cell, nullptr);
        const Vec2 end = cell->convertToWorldSpace(Vec2(home()->getTable()->getContentSize().width - 20, 50));
        InputSimulator::click(end.x, end.y);
        frame();
        frame();
        auto* list = dynamic_cast<studyList*>(Director::getInstance()->getRunningScene()->getChildByTag(
            studyList::kSceneLayerTag));
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(frameUntil([&] { return !list->getThumbnailFolder().empty(); }));
        for (int i = 0; i < 30; ++i)
            frame();
        savePicture("studyList");
    }
}
