// The program's network screens used through its window against DCMTK's tools on 127.0.0.1: a
// study sent to a storage peer from the send screen, and a study found on an archive and retrieved
// through the query/retrieve screen.
#include "support/AppTest.h"
#include "support/Screens.h"

#include "../../platform/dicom/tests/support/DicomPeers.h"
#include "../../platform/dicom/tests/support/DicomTestData.h"
#include "diskWrite.h"

#include <filesystem>

namespace e2e {

class NetworkFlows : public AppTest {};

// The example patient sent from its row's menu to a typed address: storescp receives every one of
// its images and the task's row ends "Done".
TEST_F(NetworkFlows, ExampleStudySentToAStoragePeerArrivesWhole)
{
    qvtest::TempDir dir;
    qvtest::StorePeer peer(dir);
    ASSERT_TRUE(peer.ready());
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    ASSERT_TRUE(rowMenu(*app, *x, kExampleName, "send"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("dcmSend") != nullptr; }, 10, &view))
        << view.dump();
    pause(500);
    view = app->probe();
    keep("send-screen");
    ASSERT_TRUE(sendToTypedAddress(*app, *x, "127.0.0.1:" + std::to_string(peer.port()), &view))
        << view.dump() << peer.files().size();
    keep("sent");
    EXPECT_EQ(peer.files().size(), kExampleImages);
    quitCleanly();
}

// A study of the archive found by a part of its patient's name and its series retrieved from the
// result list: it lands in the patient list with all its images.
TEST_F(NetworkFlows, StudyFoundOnAnArchiveIsRetrievedIntoThePatientList)
{
    qvtest::TempDir dir;
    const std::string source = writeStudy("archive-source", mrSpec(6, 64, "RETRIEVE^ME", "QR-0001"));
    qvtest::ArchivePeer archive(dir, filesBelow(source));
    ASSERT_TRUE(archive.ready());
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    ASSERT_TRUE(app->clickNamed("search"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("editIP") != nullptr; }, 10, &view))
        << view.dump();
    pause(500);
    keep("finder");
    ASSERT_TRUE(searchArchive(*app, *x, archive.port(), "RETRIEVE", &view)) << view.dump();
    keep("found");
    app->click(*view.named("btnDownload"));
    ASSERT_TRUE(app->clickNamed("btn_back"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, "RETRIEVE^ME", "1-1-6"); }, 60, &view))
        << view.dump();
    keep("retrieved");
    quitCleanly();
}

// A series retrieved into a library on a small disk that fills part way: the program stays up, says
// the disk is full, and what it took leaves the index its room (a real small file system where the
// test can make one).
TEST_F(NetworkFlows, ARetrievalThatFillsTheDiskLeavesTheProgramUpAndSaysSo)
{
    qvtest::TempDir dir;
    const std::string source = writeStudy("archive-source", mrSpec(40, 512, "FILL^DISK", "QR-0002"));
    qvtest::ArchivePeer archive(dir, filesBelow(source));
    ASSERT_TRUE(archive.ready());
    const std::string data = folder + "xdg";
    std::filesystem::create_directories(data);
    std::string why;
    if (!disk::useSmallDiskForTest(data, 20ull << 20, why))
        GTEST_SKIP() << "no small file system for the program's data: " << why;
    launch();
    View view;
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("search") != nullptr; }, 90, &view)) << view.dump();
    ASSERT_TRUE(app->clickNamed("search"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("editIP") != nullptr; }, 10, &view))
        << view.dump();
    pause(500);
    ASSERT_TRUE(searchArchive(*app, *x, archive.port(), "FILL", &view)) << view.dump();
    app->click(*view.named("btnDownload"));
    // The retrieval's own failure, in its row of the transfers: how many images arrived, and that the
    // disk is why the rest did not. (The program's once-a-minute notice of a full disk is no sign of
    // it: another write may have met the full disk and used the notice first; nor is a toast, which
    // the next one replaces.)
    ASSERT_TRUE(app->clickNamed("btn_back"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("editIP") == nullptr; }, 10, &view)) << view.dump();
    ASSERT_TRUE(app->clickNamed("wifi"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.containing("images arrived: the disk is full") != nullptr; },
                             60, &view))
        << view.dump();
    ASSERT_TRUE(waitForDrawn(*app, view));
    keep("disk-full");
    EXPECT_TRUE(app->running());
    EXPECT_GE(disk::freeBytes(data), disk::kKeptForIndexBytes - (1 << 20));
    quitCleanly();
    disk::endSmallDiskForTest(data);
}

}  // namespace e2e
