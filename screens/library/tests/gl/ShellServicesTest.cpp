// The application shell and the process-wide services it starts and stops: the network service
// (with the library database) and peer discovery come up with the program, the DICOM library
// reports through the network service, the home screen's peers badge follows the service's count,
// and shutdown leaves no service behind.
#include "LibraryAppFixture.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "dataService.h"
#include "dcmLib.h"
#include "dicomDB.h"
#include "sniffer.h"

#include <cstring>

USING_NS_CC;

TEST_F(LibraryAppTest, LaunchStartsTheNetworkServiceAndPeersBadgeFollowsItsCount)
{
    launch(false);
    ASSERT_NE(dataService::peekInstance(), nullptr);
    dicomDB* db = dataService::peekInstance()->getDatabase();
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(FileUtils::getInstance()->getWritablePath() + "qv/dicom/dicomDB"));

    // A peer heard just now is counted online by the service's tick, and the home screen shows it.
    db->saveNeighbor(2, "WORKSTATION-2", "127.0.0.9", "4587", "peer-app-id");
    Node* badge = nullptr;
    ASSERT_TRUE(frameUntil(
        [&] {
            db->saveNeighbor(2, "WORKSTATION-2", "127.0.0.9", "4587", "peer-app-id");  // heard again
            frame(0.5f);
            badge = home()->getChildByNameDeep("activeNodes");
            auto* label = dynamic_cast<Label*>(badge);
            return label && badge->isVisible() && label->getString() == "1";
        },
        30.0));

    // A stored image reported by the DICOM library reaches the database through the service's
    // message callback (which owns the record).
    int added = 0;
    Node* observer = Node::create();
    observer->retain();
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        observer, nullptr, [&added](Ref*, unsigned int, NSUI::NSNotificationData*) { ++added; },
        NSUI::NOTIFY_DB_ADD_IMAGE);
    auto* record = new redIRI::DCM_MESSAGE();
    std::memset(record, 0, sizeof *record);
    dataService::onSdkMessage(3, reinterpret_cast<const char*>(record));
    ASSERT_TRUE(frameUntil([&] { return added == 1; }, 10.0));
    NSUI::NSNotificationCenter::getInstance()->removeObserver(observer);
    observer->release();

    quit();
    EXPECT_EQ(dataService::peekInstance(), nullptr);
}

TEST_F(LibraryAppTest, BackgroundAndForegroundKeepTheServicesAndQuitRightAfterASweepIsClean)
{
    launch(false);
    app->applicationDidEnterBackground();
    app->applicationWillEnterForeground();
    frame();
    ASSERT_NE(dataService::peekInstance(), nullptr);
    // The foreground asks for a sweep of the local subnets: the tick counter starts again.
    EXPECT_EQ(dataService::peekInstance()->tickCounter, 0);
    NSUI::sniffer::getInstance()->start();
    quit();  // discovery's threads end before it is deleted (AddressSanitizer checks)
    EXPECT_EQ(dataService::peekInstance(), nullptr);
}
