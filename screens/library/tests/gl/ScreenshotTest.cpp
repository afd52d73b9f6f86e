// Pictures of the screens for looking at by eye: with QV_SCREENSHOT_DIR set, the home screen (with
// the example patient and, in a wide window, its study panel) and the pushed study list are
// written there as PNG files named after the window size, and so are the send, query/retrieve and
// account windows and the advice page. Without it the test only checks that
// the screens draw.
#include "LibraryAppFixture.h"

#include "GLTestProgram.h"

#include "NSResponseWindow.h"
#include "advice.h"
#include "dataService.h"
#include "dcmFinder.h"
#include "dcmSend.h"
#include "dicomDB.h"
#include "importDcm.h"
#include "login.h"

#include <cstdlib>
#include <vector>

#include "renderer/ccUtils.h"

USING_NS_CC;

using qvtest::savePicture;

TEST_F(LibraryAppTest, ScreensDraw)
{
    launch(true);
    ASSERT_TRUE(frameUntil([&] {
        return home()->getTable()->getRowCount() == 1 && !home()->getImporter()->isBusy();
    }));
    quit();
    launch(true);
    ASSERT_TRUE(frameUntil([&] { return home()->getTable()->getRowCount() == 1; }));
    if (patientList::isWideWindow()) {
        ASSERT_TRUE(frameUntil([&] { return panel() && !panel()->getThumbnailFolder().empty(); }));
    }
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

TEST_F(LibraryAppTest, NetworkScreensDraw)
{
    launch(true);
    ASSERT_TRUE(frameUntil([&] { return home()->getTable()->getRowCount() == 1 && !home()->getImporter()->isBusy(); }));
    // Two peers: one heard just now, one long ago.
    dicomDB* db = dataService::getInstance()->getDatabase();
    ASSERT_NE(db, nullptr);
    db->saveNeighbor(2, "READING-ROOM-2", "127.0.0.12", "4587", "peer-a");
    db->saveNeighbor(5, "PACS", "127.0.0.20", "104", "pacs-b");
    NSUI::NSResponseWindow* send = dcmSend::makeWindow(home()->getLibraryRoot(), "PHANTOM^QUORVANE");
    home()->addChild(send);
    if (dcmSend* screen = dcmSend::fromWindow(send)) {
        screen->getNodeList()->selectCellAtIndex(1);
        screen->onRetrieveProgress("");
    }
    for (int i = 0; i < 10; ++i)
        frame();
    savePicture("dcmSend");
    send->removeFromParent();

    NSUI::NSResponseWindow* find = dcmFinder::createWindow();
    home()->addChild(find);
    for (int i = 0; i < 10; ++i)
        frame();
    savePicture("dcmFind");
    find->removeFromParent();

    login* account = login::show(home());
    ASSERT_NE(account, nullptr);
    for (int i = 0; i < 10; ++i)
        frame();
    savePicture("login");
    account->showPage(login::PAGE_REGISTER);
    for (int i = 0; i < 10; ++i)
        frame();
    savePicture("register");
    account->close();

    Scene* page = advice::createScene();
    ASSERT_NE(page, nullptr);
    Director::getInstance()->pushScene(page);
    for (int i = 0; i < 10; ++i)
        frame();
    savePicture("advice");
}
