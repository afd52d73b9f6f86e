// The library's storage server against DCMTK's storescu on 127.0.0.1: concurrent senders, every
// image written whole below the library folder and indexed once; and every image a peer was told
// was stored ends with its row, whether the program stops, cannot write rows for a while, or is
// killed while the peer sends.
#include "dicomDB.h"

#include "../../foundation/tests/support/HeadlessFrames.h"
#include "DicomSeriesWriter.h"
#include "NSDBDataModel.h"
#include "support/StoredImageRelay.h"
#include "../../platform/dicom/tests/support/DicomPeers.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
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
        openLibrary();
        EXPECT_EQ(db_->getDicomRoot(), root_);
        passStartDelay();
    }
    void TearDown() override
    {
        closeLibrary();
        relay_.reset();
        HeadlessFrames::TearDown();
        fs::remove_all(base_);
    }
    void openLibrary()
    {
        db_ = new dicomDB();
        db_->setLibraryFolderForTest(root_);
        db_->setServerPortForTest(std::to_string(port_));
        ASSERT_TRUE(db_->init());
        ASSERT_TRUE(db_->isReady());
        ASSERT_TRUE(db_->isServerRunning());
    }
    void closeLibrary()
    {
        if (!db_) return;
        db_->stop();
        db_->release();
        db_ = nullptr;
    }
    // Writes `count` images of one series of one patient into a source folder of that name.
    std::string source(const std::string& name, int count)
    {
        qvgen::ImageSpec spec;
        spec.columns = 16;
        spec.rows = 16;
        spec.patientName = "Keep^" + name;
        spec.patientID = name;
        spec.studyUID = "2.25.1006.1";
        spec.seriesUID = "2.25.1006.1." + std::to_string(std::hash<std::string>()(name) % 100000);
        const std::string folder = (base_ / "source" / name).string();
        fs::create_directories(folder);
        EXPECT_TRUE(qvgen::writeStack(folder, spec, count, 1.0));
        return folder;
    }
    std::unique_ptr<qvtest::Peer> send(const std::string& folder, const std::string& log)
    {
        return std::make_unique<qvtest::Peer>(
            std::vector<std::string>{"storescu", "-v", "-aec", "tolvrane", "+sd", "127.0.0.1", std::to_string(port_),
                                     folder},
            (base_ / log).string());
    }
    // The images of the library by row and on disk (the library's own files left out).
    std::set<std::string> indexedFiles()
    {
        NSUI::NSDBDataModel rows;
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        EXPECT_TRUE(db_->connectionForTest().query("select path,file from series,image where series.ID=image.seriesID", rows));
        std::set<std::string> indexed;
        for (int r = 0; r < rows.getRowCount(); ++r) indexed.insert(root_ + rows.getValue(r, 0) + rows.getValue(r, 1));
        EXPECT_EQ(indexed.size(), static_cast<size_t>(rows.getRowCount())) << "an image has two rows";
        return indexed;
    }
    std::set<std::string> filesOnDisk()
    {
        std::set<std::string> onDisk;
        for (auto it = fs::recursive_directory_iterator(root_); it != fs::recursive_directory_iterator(); ++it) {
            const std::string name = it->path().filename().string();
            if (it->is_directory() && name[0] == '.') {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file() && name.rfind("dicomDB", 0) != 0 && name[0] != '.')
                onDisk.insert(it->path().string());
        }
        return onDisk;
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
    const std::set<std::string> indexed = indexedFiles(), onDisk = filesOnDisk();
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

TEST_F(StorageServerTest, ImagesAcknowledgedBeforeTheStopOrWhileRowsCannotBeWrittenAllGetRows)
{
    // Stopped right after the peer was told "stored", before a frame delivered the notices.
    auto peer = send(source("stop", 21), "stop.log");
    ASSERT_EQ(peer->wait(60000), 0) << peer->log();
    closeLibrary();
    openLibrary();
    EXPECT_EQ(indexedFiles().size(), 21u);
    EXPECT_EQ(indexedFiles(), filesOnDisk());

    // Rows that cannot be written (the file held by another connection) ...
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "dicomDB").c_str(), &other), SQLITE_OK);
    auto hold = [&] { ASSERT_EQ(sqlite3_exec(other, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK); };
    auto release = [&] { sqlite3_exec(other, "commit;", nullptr, nullptr, nullptr); };
    hold();
    db_->connectionForTest().setBeginRetryForTest(2, 1);
    peer = send(source("locked", 4), "locked.log");
    ASSERT_EQ(peer->wait(60000), 0) << peer->log();
    // ... are written on the next start when the program stops first,
    closeLibrary();
    release();
    EXPECT_TRUE(fs::exists(root_ + dicomDB::kOpenMarker));
    openLibrary();
    ASSERT_TRUE(stepUntil([&] { return !db_->isReconciling(); }, 20000));
    EXPECT_EQ(indexedFiles().size(), 25u);
    EXPECT_EQ(indexedFiles(), filesOnDisk());

    // ... and within the run once a row can be written again.
    hold();
    db_->connectionForTest().setBeginRetryForTest(2, 1);
    peer = send(source("busy", 3), "busy.log");
    ASSERT_EQ(peer->wait(60000), 0) << peer->log();
    ASSERT_TRUE(stepUntil([&] { return StoredImageRelay::relayed.load() >= 3 + 25; }));
    step(3);
    EXPECT_FALSE(db_->deleteSeries(0));  // runs after the failed stores: they are done
    EXPECT_EQ(indexedFiles().size(), 25u);
    release();
    db_->connectionForTest().setBeginRetryForTest(50, 50);
    peer = send(source("free", 1), "free.log");
    ASSERT_EQ(peer->wait(60000), 0) << peer->log();
    ASSERT_TRUE(stepUntil([&] { return indexedFiles().size() == 29u && !db_->isReconciling(); }, 20000))
        << indexedFiles().size();
    EXPECT_EQ(indexedFiles(), filesOnDisk());
    sqlite3_close(other);
    closeLibrary();
    EXPECT_FALSE(fs::exists(root_ + dicomDB::kOpenMarker)) << "a clean close leaves no marker";
    openLibrary();
}

// The program is a forked child serving the peer; it is killed while the peer sends, once the peer
// was told of 40 stored images. The child's server stops after answering the 40th (its library
// thread is held where it announces it), so the peer cannot finish first however the machine
// schedules the two processes.
TEST_F(StorageServerTest, AProgramKilledWhileAPeerSendsKeepsEveryAcknowledgedImageAfterItsNextStart)
{
    const std::string folder = source("kill", 300);
    closeLibrary();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Its main loop is busy (a large series loading, say): the notices of stored images wait.
        StoredImageRelay::holdAt = 40;
        openLibrary();
        for (;;) {
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    ASSERT_TRUE(qvtest::waitListening(port_, 20000));
    auto peer = send(folder, "kill.log");
    auto acknowledgedBy = [](const std::string& text) {
        std::istringstream log(text);
        size_t n = 0;
        for (std::string line; std::getline(log, line);)
            n += line.find("Received Store Response (Success)") != std::string::npos;
        return n;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (acknowledgedBy(peer->log()) < 40 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    peer->wait(20000);
    const size_t acknowledged = acknowledgedBy(peer->log());
    ASSERT_GE(acknowledged, 40u);
    ASSERT_LT(acknowledged, 300u) << "the peer finished before the program was killed";

    openLibrary();
    ASSERT_TRUE(stepUntil([&] { return !db_->isReconciling(); }, 30000));
    const std::set<std::string> indexed = indexedFiles();
    EXPECT_EQ(indexed, filesOnDisk());
    EXPECT_GE(indexed.size(), acknowledged);
}

} // namespace
