// The library's storage server against DCMTK's storescu on 127.0.0.1: concurrent senders, every
// image written whole below the library folder and indexed once; and every image a peer was told
// was stored ends with its row, whether the program stops, cannot write rows for a while, is
// killed while the peer sends, or finds its database damaged, unopenable, removed or locked.
#include "dicomDB.h"

#include "../../foundation/tests/support/HeadlessFrames.h"
#include "DicomSeriesWriter.h"
#include "NSDBDataModel.h"
#include "support/StoredImageRelay.h"
#include "../../platform/dicom/tests/support/DicomPeers.h"
#include "../../foundation/tests/NSFileTestSupport.h"

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
    void openLibrary(bool expectReady = true)
    {
        db_ = new dicomDB();
        db_->setLibraryFolderForTest(root_);
        db_->setServerPortForTest(std::to_string(port_));
        ASSERT_TRUE(db_->init());
        ASSERT_EQ(db_->isReady(), expectReady);
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
    static std::string joined(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return text;
    }
    // The images a storescu -v log says were stored.
    static size_t acknowledgedBy(const std::string& text)
    {
        std::istringstream log(text);
        size_t n = 0;
        for (std::string line; std::getline(log, line);)
            n += line.find("Received Store Response (Success)") != std::string::npos;
        return n;
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
    // A hold waits for the library to let go of the file, as the program holding it would.
    sqlite3_busy_timeout(other, 10000);
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

// The library's faults, each against the real file: the images stored before, and those a peer is
// told were stored while the fault lasts, are all listed once it is over and after the next start,
// and the database then passes its integrity check.
TEST_F(StorageServerTest, EveryAcknowledgedImageIsListedWhateverHappenedToTheDatabase)
{
    const std::string file = root_ + "dicomDB";
    const std::string away = (base_ / "dicomDB.away").string();
    sqlite3* other = nullptr;
    struct Fault {
        const char* name;
        bool readyAtStart;
        std::function<void()> beforeStart, whileRunning, over;
        int during;       // images sent while the fault lasts
        int listedAfter;  // of the 5 sent before, and those
        const char* logged;
    };
    auto cut = [&] { fs::resize_file(file, fs::file_size(file) / 2); };
    auto zeroPage = [&] {
        const auto pages = fs::file_size(file) / 4096;
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(pages / 2) * 4096);
        const std::string zeros(4096, '\0');
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    };
    // A folder in the file's place opens for nobody (root included), as a folder that is not
    // writable yet does for a user.
    auto block = [&] {
        fs::rename(file, away);
        fs::create_directory(file);
    };
    auto unblock = [&] {
        fs::remove(file);
        fs::rename(away, file);
    };
    auto hold = [&] {
        ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
        sqlite3_busy_timeout(other, 10000);
        ASSERT_EQ(sqlite3_exec(other, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
    };
    auto release = [&] {
        sqlite3_exec(other, "commit;", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        other = nullptr;
    };
    const Fault faults[] = {
        {"cut to half", true, cut, nullptr, nullptr, 3, 8, "library: the database is damaged"},
        {"zeroed page", true, zeroPage, nullptr, nullptr, 3, 8, "library: the database is damaged"},
        {"unopenable, then writable", false, block, nullptr, unblock, 3, 8, "library: the database"},
        // Once the worker's check at start (which opens the file too) has ended.
        {"library folder removed while running", true, nullptr,
         [&] {
             ASSERT_TRUE(stepUntil([&] { return !db_->isChecking(); }));
             fs::remove_all(root_);
         },
         nullptr, 3, 3,
         "library: the library folder or its database was removed while open"},
        {"locked while images arrive", true, nullptr, hold, release, 20, 25,
         "library: the database is held by another program; writes wait for it"},
    };
    int round = 0;
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        ++round;
        auto before = send(source("before" + std::to_string(round), 5), "before" + std::to_string(round) + ".log");
        ASSERT_EQ(before->wait(60000), 0) << before->log();
        ASSERT_TRUE(stepUntil([&] { return imageRows() == 5; }, 20000));
        closeLibrary();
        if (fault.beforeStart) fault.beforeStart();

        qvtest::LogCapture log;
        openLibrary(fault.readyAtStart);
        if (fault.whileRunning) fault.whileRunning();
        auto during = send(source("during" + std::to_string(round), fault.during), "during" + std::to_string(round) + ".log");
        // The window goes on drawing meanwhile: neither its per-tick peer lookup nor a peer heard
        // (a write, which goes to the worker while the file is held) waits for the retries.
        int ticks = 0;
        ASSERT_TRUE(stepUntil([&] {
            std::vector<neighborRecord> peers;
            db_->getNeighbors(peers);
            if (ticks++ % 60 == 0) db_->saveNeighbor(5, "pacs", "127.0.0.5", "104", "pacs");
            return acknowledgedBy(during->log()) == static_cast<size_t>(fault.during);
        }, 100000)) << during->log() << joined(log.lines());
        ASSERT_EQ(during->wait(10000), 0) << during->log();
        // A frame of the 10 a second the window keeps at least (a write's retries last 2.5 s).
        EXPECT_LT(db_->longestBriefWaitNsForTest(), 100000000LL) << "the tick waited for the database";
        if (fault.over) fault.over();
        // Listed within the run, by the library's own periodic look at its file.
        ASSERT_TRUE(stepUntil([&] {
            return db_->isReady() && !db_->isReconciling() && imageRows() == fault.listedAfter;
        }, 20000)) << (db_->isReady() ? imageRows() : -1) << joined(log.lines());
        EXPECT_EQ(indexedFiles(), filesOnDisk());
        const auto lines = log.lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(fault.logged, 0) == 0; }));
        // Waits are counted, not logged one by one.
        EXPECT_LE(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("held by") != std::string::npos; }), 1);

        closeLibrary();
        openLibrary();
        ASSERT_TRUE(stepUntil([&] { return !db_->isReconciling(); }, 20000));
        EXPECT_EQ(imageRows(), fault.listedAfter);
        EXPECT_EQ(indexedFiles(), filesOnDisk());
        NSUI::NSDBDataModel check;
        {
            std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
            ASSERT_TRUE(db_->connectionForTest().query("PRAGMA integrity_check;", check));
        }
        EXPECT_EQ(check.getValue(0, 0), "ok");
        // A damaged file is kept aside, never deleted.
        int kept = 0;
        for (const auto& entry : fs::directory_iterator(root_))
            kept += entry.path().filename().string().rfind("dicomDB.damaged-", 0) == 0;
        EXPECT_EQ(kept, std::string(fault.logged).find("damaged") != std::string::npos ? 1 : 0);

        // The next row starts from an empty library.
        closeLibrary();
        fs::remove_all(root_);
        openLibrary();
    }
}

} // namespace
