// The library's threads at once: the storage server's associations, the import worker and the
// database worker, with queries asked and cancelled from the main thread meanwhile, and a stop
// while stored images are still queued. Small, for the thread sanitizer.
#include "dicomDB.h"
#include "importDcm.h"

#include "../../foundation/tests/support/HeadlessFrames.h"
#include "DicomSeriesWriter.h"
#include "NSDBDataModel.h"
#include "support/StoredImageRelay.h"
#include "../../platform/dicom/tests/support/DicomPeers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

class LibraryThreads : public HeadlessFrames {};

TEST_F(LibraryThreads, ServerImportAndQueriesRunTogetherAndStopWritesWhatWasStored)
{
    const fs::path base = fs::path(std::getenv("XDG_DATA_HOME")) / "library-threads";
    fs::remove_all(base);
    const std::string root = (base / "library").string() + "/";
    const int kSent = 2 * 10, kImported = 20;
    for (int s = 0; s < 3; ++s) {
        qvgen::ImageSpec spec;
        spec.patientName = "Thread^" + std::to_string(s);
        spec.studyUID = "2.25.2007." + std::to_string(s);
        spec.seriesUID = "2.25.2007." + std::to_string(s) + ".1";
        fs::create_directories(base / "source" / std::to_string(s));
        ASSERT_TRUE(qvgen::writeStack((base / "source" / std::to_string(s)).string(), spec, s < 2 ? 10 : kImported, 1.0));
    }

    StoredImageRelay relay;
    const int port = qvtest::freePort();
    auto* db = new dicomDB();
    db->setLibraryFolderForTest(root);
    db->setServerPortForTest(std::to_string(port));
    ASSERT_TRUE(db->init());
    ASSERT_TRUE(db->isServerRunning());
    importDcm* importer = importDcm::create();
    importer->retain();
    importer->setRoot(db->getDicomRoot());
    passStartDelay();

    std::vector<std::unique_ptr<qvtest::Peer>> senders;
    for (int s = 0; s < 2; ++s)
        senders.push_back(std::make_unique<qvtest::Peer>(
            std::vector<std::string>{"storescu", "-aec", "tolvrane", "+sd", "127.0.0.1", std::to_string(port),
                                     (base / "source" / std::to_string(s)).string()},
            (base / ("storescu" + std::to_string(s) + ".log")).string()));
    importer->importFolder((base / "source" / "2").string());

    int screen = 0, answers = 0;
    for (int i = 0; i < 40 && (relay.relayed < kSent || importer->isBusy()); ++i) {
        db->requestPatients([&](NSUI::NSDBDataModel*) { ++answers; }, &screen);
        db->requestStudies([&](NSUI::NSDBDataModel*) { ++answers; }, "1", &screen);
        if (i % 2) db->cancelRequests(&screen);
        step(5);
    }
    for (auto& sender : senders) EXPECT_EQ(sender->wait(30000), 0) << sender->log();
    ASSERT_TRUE(stepUntil([&] { return relay.relayed == kSent && !importer->isBusy(); }));
    step(2);  // the last 2017s are queued on the database worker

    db->cancelRequests(&screen);
    importer->stop();
    importer->release();
    NSUI::NSDBDataModel count;
    auto images = [&] {
        std::lock_guard<std::recursive_mutex> lock(db->dbMutex);
        return db->connectionForTest().query("select count() from image", count) ? std::atoi(count.getValue(0, 0).c_str()) : -1;
    };
    EXPECT_TRUE(stepUntil([&] { return images() == kSent + kImported; })) << images();

    // The library folder removed while images arrive: the worker makes it anew (opening the file
    // with the lock let go) while the main thread looks peers up and writes them. A check the
    // worker runs meanwhile may make it anew before the removal has ended: removed again then.
    std::error_code removal;
    for (int i = 0; i < 100 && (fs::remove_all(root, removal), removal); ++i) {}
    ASSERT_FALSE(removal) << removal.message();
    qvtest::Peer again({"storescu", "-aec", "tolvrane", "+sd", "127.0.0.1", std::to_string(port),
                        (base / "source" / "0").string()},
                       (base / "again.log").string());
    std::vector<neighborRecord> peers;
    ASSERT_TRUE(stepUntil([&] {
        db->getNeighbors(peers);
        db->saveNeighbor(5, "pacs", "127.0.0.5", "104", "pacs");
        return relay.relayed == kSent + 10;
    }));
    EXPECT_EQ(again.wait(30000), 0) << again.log();
    db->stop();  // writes every stored image still queued
    ASSERT_TRUE(db->connectionForTest().query("select count() from image", count));
    EXPECT_EQ(std::atoi(count.getValue(0, 0).c_str()), 10);
    db->release();
    fs::remove_all(base);
}

} // namespace
