// The library's storage server against DCMTK's storescu on 127.0.0.1: concurrent senders, every
// image written whole below the library folder and indexed once.
#include "dicomDB.h"

#include "../../foundation/tests/support/HeadlessFrames.h"
#include "DicomSeriesWriter.h"
#include "NSDBDataModel.h"
#include "support/StoredImageRelay.h"
#include "../../platform/dicom/tests/support/DicomPeers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace {

class StorageServerTest : public HeadlessFrames {
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        base_ = fs::path(std::getenv("XDG_DATA_HOME")) / "storage-tests" /
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(base_);
        root_ = (base_ / "library").string() + "/";
        relay_ = std::make_unique<StoredImageRelay>();
        port_ = qvtest::freePort();
        db_ = new dicomDB();
        db_->setLibraryFolderForTest(root_);
        db_->setServerPortForTest(std::to_string(port_));
        ASSERT_TRUE(db_->init());
        ASSERT_TRUE(db_->isReady());
        ASSERT_TRUE(db_->isServerRunning());
        EXPECT_EQ(db_->getDicomRoot(), root_);
        passStartDelay();
    }
    void TearDown() override
    {
        if (db_) {
            db_->stop();
            db_->release();
        }
        relay_.reset();
        HeadlessFrames::TearDown();
        fs::remove_all(base_);
    }
    int imageRows()
    {
        NSUI::NSDBDataModel m;
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        return db_->connectionForTest().query("select count() from image", m) ? std::atoi(m.getValue(0, 0).c_str()) : -1;
    }

    fs::path base_;
    std::string root_;
    int port_ = 0;
    std::unique_ptr<StoredImageRelay> relay_;
    dicomDB* db_ = nullptr;
};

TEST_F(StorageServerTest, ConcurrentSendersAreStoredWholeAndIndexedOnce)
{
    const int kSenders = 8, kImages = 50;
    std::vector<std::string> folders;
    for (int s = 0; s < kSenders; ++s) {
        // Two senders per patient and study, one series each.
        qvgen::ImageSpec spec;
        spec.columns = 64;
        spec.rows = 32;
        spec.patientName = "Send^" + std::to_string(s / 2);
        spec.patientID = "S" + std::to_string(s / 2);
        spec.studyUID = "2.25.1005." + std::to_string(s / 2);
        spec.seriesUID = "2.25.1005." + std::to_string(s / 2) + "." + std::to_string(s);
        const std::string folder = (base_ / "source" / std::to_string(s)).string();
        fs::create_directories(folder);
        ASSERT_TRUE(qvgen::writeStack(folder, spec, kImages, 1.0));
        folders.push_back(folder);
    }

    std::vector<std::unique_ptr<qvtest::Peer>> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.push_back(std::make_unique<qvtest::Peer>(
            std::vector<std::string>{"storescu", "-aec", "tolvrane", "+sd", "127.0.0.1", std::to_string(port_),
                                     folders[s]},
            (base_ / ("storescu" + std::to_string(s) + ".log")).string()));
    for (auto& sender : senders) EXPECT_EQ(sender->wait(60000), 0) << sender->log();

    const int total = kSenders * kImages;
    ASSERT_TRUE(stepUntil([&] { return imageRows() >= total; }, 20000)) << imageRows();
    step(5);
    EXPECT_EQ(StoredImageRelay::relayed.load(), total);
    EXPECT_EQ(imageRows(), total);

    // Files on disk = image rows = images sent, each one whole.
    NSUI::NSDBDataModel rows;
    {
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        ASSERT_TRUE(db_->connectionForTest().query("select path,file from series,image where series.ID=image.seriesID", rows));
    }
    std::set<std::string> indexed;
    for (int r = 0; r < rows.getRowCount(); ++r) indexed.insert(root_ + rows.getValue(r, 0) + rows.getValue(r, 1));
    std::set<std::string> onDisk;
    for (auto it = fs::recursive_directory_iterator(root_); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_directory() && it->path().filename().string()[0] == '.') {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file() && it->path().filename().string().rfind("dicomDB", 0) != 0)
            onDisk.insert(it->path().string());
    }
    EXPECT_EQ(indexed.size(), static_cast<size_t>(total));
    EXPECT_EQ(onDisk, indexed);
    redIRI::dcmReader reader;
    for (const std::string& file : onDisk) {
        ASSERT_TRUE(reader.setFile(file.c_str())) << file;
        redIRI::dcmReader::PixelType type;
        int count = 0;
        ASSERT_NE(reader.readDicomPixelPointer(type, count), nullptr) << file;
        EXPECT_EQ(count, 64 * 32) << file;
    }

    NSUI::NSDBDataModel levels;
    std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
    ASSERT_TRUE(db_->connectionForTest().query(
        "select (select count() from patient),(select count() from study),(select count() from series)", levels));
    EXPECT_EQ(levels.getValue(0, 0), "4");
    EXPECT_EQ(levels.getValue(0, 1), "4");
    EXPECT_EQ(levels.getValue(0, 2), "8");
}

} // namespace
