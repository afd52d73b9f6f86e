// The library database's worker: queries answered on the main thread, stored images indexed and
// announced, cancelled listeners never called, and stored images written before the worker stops.
#include "dicomDB.h"

#include "DicomSeriesWriter.h"

#include "../../foundation/tests/support/HeadlessFrames.h"
#include "../../foundation/tests/NSFileTestSupport.h"
#include "NSNotificationCenter.h"
#include "UIJson.h"
#include "audio/SimpleAudioEngine.h"
#include "diskWrite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <cmath>
#include <cstring>
#include <sqlite3.h>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

redIRI::DCM_MESSAGE* newMessage(const std::string& patient, const std::string& study, const std::string& series,
                                const std::string& image)
{
    auto* m = new redIRI::DCM_MESSAGE{};
    auto set = [](char* field, size_t size, const std::string& v) { std::snprintf(field, size, "%s", v.c_str()); };
    set(m->PatientName, sizeof(m->PatientName), patient);
    set(m->PatientID, sizeof(m->PatientID), "ID-" + patient);
    set(m->PatientSex, sizeof(m->PatientSex), "M");
    set(m->StudyInstanceUID, sizeof(m->StudyInstanceUID), study);
    set(m->StudyID, sizeof(m->StudyID), "5");
    set(m->StudyDate, sizeof(m->StudyDate), "20231130");
    set(m->StudyDescription, sizeof(m->StudyDescription), "Head");
    set(m->SeriesInstanceUID, sizeof(m->SeriesInstanceUID), series);
    set(m->SeriesDate, sizeof(m->SeriesDate), "20231130");
    set(m->SeriesTime, sizeof(m->SeriesTime), "101010");
    set(m->SOPInstanceUID, sizeof(m->SOPInstanceUID), image);
    set(m->FileName, sizeof(m->FileName), image);
    set(m->SeriesFolder, sizeof(m->SeriesFolder), patient + "/" + study + "/" + series + "/");
    return m;
}

class Listener : public cocos2d::Ref {
public:
    std::vector<std::string> patientTexts, studyTexts;
    std::vector<NSUI::NSDBDataModel> studyRows;
};

class DicomDBWorker : public HeadlessFrames {
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        base_ = fs::path(std::getenv("XDG_DATA_HOME")) / "dicomdb-worker" /
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(base_);
        root_ = (base_ / "dicom").string() + "/";
        db_ = new dicomDB();
        db_->setStartServerForTest(false);
        db_->setLibraryFolderForTest(root_);
        ASSERT_TRUE(db_->init());
        ASSERT_TRUE(db_->isReady());
        auto* centre = NSUI::NSNotificationCenter::getInstance();
        centre->addObserver(&listener_, nullptr,
                            [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) { listener_.patientTexts.push_back(d->text); },
                            NSUI::NOTIFY_DB_PATIENT_STORED);
        centre->addObserver(&listener_, nullptr,
                            [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) {
                                listener_.studyTexts.push_back(d->text);
                                listener_.studyRows.push_back(*static_cast<NSUI::NSDBDataModel*>(d->userData));
                            },
                            NSUI::NOTIFY_DB_STUDY_STORED);
        passStartDelay();
    }
    void TearDown() override
    {
        NSUI::NSNotificationCenter::getInstance()->removeObserver(&listener_);
        if (db_) {
            db_->stop();
            db_->release();
        }
        HeadlessFrames::TearDown();
        fs::remove_all(base_);
    }
    void post2017(redIRI::DCM_MESSAGE* m)
    {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->setUserData(m, [](void* p) { delete static_cast<redIRI::DCM_MESSAGE*>(p); });
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_DB_ADD_IMAGE, data);
    }
    void store(const std::string& patient, const std::string& study, const std::string& series, const std::string& image)
    {
        std::unique_ptr<redIRI::DCM_MESSAGE> m(newMessage(patient, study, series, image));
        dicomDBRecordIds ids;
        ASSERT_TRUE(db_->saveDicomRecord(*m, ids));
    }
    // A later request is served after the earlier ones: once its answer is in, so are theirs.
    void flush()
    {
        bool done = false;
        db_->addImageFavorite("/flush.jpg", 1.0f);
        db_->requestFavorites([&done](NSUI::NSDBDataModel*) { done = true; }, &done);
        ASSERT_TRUE(stepUntil([&] { return done; }));
    }

    fs::path base_;
    std::string root_;
    dicomDB* db_ = nullptr;
    Listener listener_;
};

TEST_F(DicomDBWorker, StoredImagesAreIndexedAndAnnounced)
{
    fs::create_directories(root_ + "Ann/2.25.1001/2.25.1001.1");
    std::ofstream(root_ + "Ann/2.25.1001/2.25.1001.1/thrumb0") << "old";

    post2017(newMessage("Ann", "2.25.1001", "2.25.1001.1", "2.25.1001.1.1"));
    ASSERT_TRUE(stepUntil([&] { return listener_.studyTexts.size() == 1; }));
    post2017(newMessage("Ann", "2.25.1001", "2.25.1001.1", "2.25.1001.1.2"));
    post2017(newMessage("Ann", "2.25.1001", "2.25.1001.1", "2.25.1001.1.2"));  // known: written and announced once
    ASSERT_TRUE(stepUntil([&] { return listener_.studyTexts.size() == 2; }));
    flush();
    step(3);

    ASSERT_EQ(listener_.patientTexts.size(), 2u);
    ASSERT_EQ(listener_.studyTexts.size(), 2u);
    const std::string& first = listener_.patientTexts[0];
    EXPECT_EQ(first.rfind("{\"patientID\":\"1\",\"studyID\":\"1\",\"seriesID\":\"1\",\"studyIDHospital\":\"5\","
                          "\"patientIDHospital\":\"ID-Ann\",\"name\":\"Ann\",\"sex\":\"M\",\"birthday\":\"\","
                          "\"updateTime\":\"", 0), 0u) << first;
    EXPECT_NE(first.find("\"studyDate\":\"2023.11.30\",\"studyDesc\":\"Head\",\"studyNumber\":\"1\",\"seriesNumber\":\"1\","
                         "\"imageNumber\":\"1\",\"imageID\":\"1\",\"dcmFolder\":\"Ann/2.25.1001/2.25.1001.1/\"}"),
              std::string::npos) << first;
    EXPECT_EQ(NSUI::UIJson::getString(listener_.patientTexts[1], "studyNumber"), "0");
    EXPECT_EQ(NSUI::UIJson::getString(listener_.patientTexts[1], "seriesNumber"), "0");
    EXPECT_EQ(listener_.studyTexts[1], listener_.patientTexts[1]);
    EXPECT_FALSE(fs::exists(root_ + "Ann/2.25.1001/2.25.1001.1/thrumb0"));

    // The stored-series row: the file is not on disk, so it ends after the image count.
    const NSUI::NSDBDataModel& row = listener_.studyRows[1];
    ASSERT_EQ(row.getRowCount(), 1);
    ASSERT_EQ(row.getColumnCount(0), 5);
    EXPECT_EQ(row.getValue(0, 1), "2023.11.30 101010");
    EXPECT_EQ(row.getValue(0, 3), "Ann/2.25.1001/2.25.1001.1/");
    EXPECT_EQ(row.getValue(0, 4), "2");
}

TEST_F(DicomDBWorker, PatientAndStudyQueriesAnswerOnTheMainThread)
{
    // An empty library answers without calling.
    bool emptyCalled = false;
    db_->requestPatients([&](NSUI::NSDBDataModel*) { emptyCalled = true; }, &emptyCalled);
    flush();
    EXPECT_FALSE(emptyCalled);

    store("Ann", "2.25.1001", "2.25.1001.1", "a1");
    store("Ann", "2.25.1001", "2.25.1001.1", "a2");
    store("Ann", "2.25.1002", "2.25.1002.1", "a3");
    store("Bob", "2.25.2001", "2.25.2001.1", "b1");
    // A patient whose study holds no series is not listed.
    ASSERT_TRUE(db_->connectionForTest().execute("insert into patient(name,updateTime) values ('Cy','2000')"));
    ASSERT_TRUE(db_->connectionForTest().execute("insert into study(patientID,studyUID) values (3,'9')"));

    const std::thread::id mainThread = std::this_thread::get_id();
    NSUI::NSDBDataModel patients;
    bool called = false;
    db_->requestPatients([&](NSUI::NSDBDataModel* rows) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        patients = *rows;
        called = true;
    }, &called);
    ASSERT_TRUE(stepUntil([&] { return called; }));
    ASSERT_EQ(patients.getRowCount(), 2);
    int ann = patients.getValue(0, 2) == "Ann" ? 0 : 1;
    // The eleven columns of a patient row and the newest image row the counts include.
    ASSERT_EQ(patients.getColumnCount(ann), 12);
    EXPECT_EQ(patients.getValue(ann, 1), "ID-Ann");
    EXPECT_EQ(patients.getValue(ann, 8), "2");
    EXPECT_EQ(patients.getValue(ann, 9), "2");
    EXPECT_EQ(patients.getValue(ann, 10), "3");

    // Studies: the study rows come, the series whose first image is missing on disk do not.
    NSUI::NSDBDataModel studies;
    called = false;
    db_->requestStudies([&](NSUI::NSDBDataModel* rows) { studies = *rows; called = true; }, "1", &called);
    ASSERT_TRUE(stepUntil([&] { return called; }));
    ASSERT_EQ(studies.getRowCount(), 2);
    EXPECT_EQ(studies.getValue(0, 0), "study");
    EXPECT_EQ(studies.getValue(0, 2), "1");
    EXPECT_EQ(studies.getValue(0, 4), "2023.11.30");
    EXPECT_EQ(studies.getValue(1, 0), "study");
}

// The tube text of a CT series row names only what its first image holds: a CT without its tube
// current (or its voltage) reads "120kV", not "120kV mA", and one without either reads nothing.
TEST_F(DicomDBWorker, TheTubeTextOfACtSeriesNamesOnlyTheValuesPresent)
{
    struct Case {
        const char* series;
        const char* kvp;
        const char* current;
        const char* modality;
        const char* tube;
    };
    const Case cases[] = {{"2.25.4001.1", "120", "200", "CT", "120kV 200mA"}, {"2.25.4001.2", "120", nullptr, "CT", "120kV"},
                          {"2.25.4001.3", nullptr, "310", "CT", "310mA"},   {"2.25.4001.4", nullptr, nullptr, "CT", ""},
                          {"2.25.4001.5", "", "", "CT", ""},                 {"2.25.4001.6", "120", "200", "MR", ""}};
    std::map<std::string, std::string> expected;
    for (const Case& c : cases) {
        store("Tube", "2.25.4001", c.series, "i1");
        qvgen::ImageSpec spec;
        spec.modality = c.modality;
        if (c.kvp) spec.extra.push_back({{0x0018, 0x0060}, c.kvp});
        if (c.current) spec.extra.push_back({{0x0018, 0x1151}, c.current});
        const std::string folder = "Tube/2.25.4001/" + std::string(c.series) + "/";
        fs::create_directories(root_ + folder);
        ASSERT_TRUE(qvgen::writeDicomFile(root_ + folder + "i1", spec));
        expected[folder] = c.tube;
    }
    NSUI::NSDBDataModel rows;
    bool called = false;
    db_->requestStudies([&](NSUI::NSDBDataModel* r) { rows = *r; called = true; }, "1", &called);
    ASSERT_TRUE(stepUntil([&] { return called; }));
    ASSERT_EQ(rows.getRowCount(), 1 + static_cast<int>(std::size(cases)));
    for (int r = 1; r < rows.getRowCount(); ++r) {
        ASSERT_GE(rows.getColumnCount(r), 11);
        const auto want = expected.find(rows.getValue(r, 4));
        ASSERT_NE(want, expected.end()) << rows.getValue(r, 4);
        EXPECT_EQ(rows.getValue(r, 10), want->second) << want->first;
    }
}

TEST_F(DicomDBWorker, CancelledListenersAreNeverCalled)
{
    store("Ann", "2.25.1001", "2.25.1001.1", "a1");
    int calls = 0;
    int screen = 0;
    for (int i = 0; i < 5; ++i) db_->requestPatients([&](NSUI::NSDBDataModel*) { ++calls; }, &screen);
    db_->requestFavorites([&](NSUI::NSDBDataModel*) { ++calls; }, &screen);
    db_->cancelRequests(&screen);
    flush();
    step(3);
    EXPECT_EQ(calls, 0);
    // Requests without a listener never call either.
    db_->requestPatients([&](NSUI::NSDBDataModel*) { ++calls; }, nullptr);
    flush();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(dicomDB::requestId("abc"), 0xe25ef552u);
}

TEST_F(DicomDBWorker, StudiesGoBeforeOlderRequestsAndCancelledOnesNeverCallEvenWhenRunning)
{
    store("Ann", "2.25.1001", "2.25.1001.1", "a1");
    std::vector<std::string> order;
    int screen = 0, gone = 0;
    {
        // The worker is held: whatever it took first waits for the lock, the rest stays queued.
        std::lock_guard<std::recursive_mutex> hold(db_->dbMutex);
        for (int i = 0; i < 3; ++i) db_->requestPatients([&](NSUI::NSDBDataModel*) { order.push_back("patients"); }, &screen);
        db_->requestFavorites([&](NSUI::NSDBDataModel*) { order.push_back("favourites of a closed screen"); }, &gone);
        db_->addImageFavorite("/x.jpg", 1.0f);
        db_->requestStudies([&](NSUI::NSDBDataModel*) { order.push_back("studies"); }, "1", &screen);
        db_->cancelRequests(&gone);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(stepUntil([&] { return order.size() == 4; }));
    flush();
    ASSERT_EQ(order.size(), 4u);
    // Only the request already taken by the worker may come before the studies.
    EXPECT_TRUE(order[0] == "studies" || order[1] == "studies") << order[0] << ", " << order[1];
    EXPECT_EQ(std::count(order.begin(), order.end(), "patients"), 3);
}

TEST_F(DicomDBWorker, StopWritesTheImagesAlreadyQueued)
{
    store("Ann", "2.25.1001", "2.25.1001.1", "a0");
    for (int i = 1; i <= 3; ++i)
        db_->queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(newMessage("Ann", "2.25.1001", "2.25.1001.1", "a" + std::to_string(i))));
    db_->stop();
    NSUI::NSDBDataModel count;
    ASSERT_TRUE(db_->connectionForTest().query("select count() from image", count));
    EXPECT_EQ(count.getValue(0, 0), "4");
}

} // namespace

namespace {

TEST_F(DicomDBWorker, ADeleteRacingStoresOfItsSeriesLeavesNoRowWithoutItsFile)
{
    // Images of one series stored while the user deletes it: whatever is left has its file.
    const std::string folder = "Ann/2.25.1001/2.25.1001.1/";
    auto image = [&](int i) {
        const std::string name = "a" + std::to_string(i);
        fs::create_directories(root_ + folder);
        std::ofstream(root_ + folder + name) << "x";
        return std::unique_ptr<redIRI::DCM_MESSAGE>(newMessage("Ann", "2.25.1001", "2.25.1001.1", name));
    };
    db_->queueStoredImage(image(0));
    flush();
    NSUI::NSDBDataModel series;
    ASSERT_TRUE(db_->connectionForTest().query("select ID from series", series));
    const int seriesID = std::atoi(series.getValue(0, 0).c_str());
    for (int i = 1; i <= 40; ++i) db_->queueStoredImage(image(i));
    EXPECT_TRUE(db_->deleteSeries(seriesID));
    for (int i = 41; i <= 50; ++i) db_->queueStoredImage(image(i));
    flush();
    NSUI::NSDBDataModel rows;
    ASSERT_TRUE(db_->connectionForTest().query("select path,file from series,image where series.ID=image.seriesID", rows));
    EXPECT_EQ(rows.getRowCount(), 10);
    for (int r = 0; r < rows.getRowCount(); ++r)
        EXPECT_TRUE(fs::exists(root_ + rows.getValue(r, 0) + rows.getValue(r, 1))) << rows.getValue(r, 1);
}

TEST_F(DicomDBWorker, FavouritesFromTheViewerCountAndSoundOnlyWhenStored)
{
    auto* audio = CocosDenshion::SimpleAudioEngine::getInstance();
    audio->clearPlayedEffects();
    int storedId = -1;
    std::string storedText;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        &listener_, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) {
            storedId = d->intValue;
            storedText = d->text;
        },
        NSUI::NOTIFY_FAVORITE_STORED);

    // A capture that cannot be read is stored with scale 1.
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_CAPTURE_SAVED, root_ + "none.jpg");
    ASSERT_TRUE(stepUntil([&] { return storedId >= 0; }));
    EXPECT_EQ(storedText, root_ + "none.jpg");
    EXPECT_EQ(storedId, 2);  // after the marker row
    EXPECT_EQ(db_->newFavoriteCount, 1);
    auto* data = NSUI::NSNotificationData::create();
    data->text = root_ + "missing.dcm";
    data->intValue = 100;
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_FAVORITE_ADD_FILE, data);
    ASSERT_TRUE(stepUntil([&] { return db_->newFavoriteCount == 2; }));
    NSUI::NSDBDataModel rows;
    ASSERT_TRUE(db_->connectionForTest().query("select type,scale from favorite order by ID", rows));
    ASSERT_EQ(rows.getRowCount(), 3);
    EXPECT_EQ(rows.getValue(2, 0), "2");
    EXPECT_EQ(rows.getValue(2, 1), "1.0");
    EXPECT_EQ(audio->getPlayedEffects(), (std::vector<std::string>{"res/waterfall.wav", "res/waterfall.wav"}));

    // Another program holds the file: the capture is listed in its place meanwhile, counted and
    // sounded only once its row is written after the file is free; one still waiting at the stop
    // is written at the next start.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "dicomDB").c_str(), &other), SQLITE_OK);
    // A hold waits for the library to let go of the file, as the program holding it would.
    sqlite3_busy_timeout(other, 10000);
    auto hold = [&] { ASSERT_EQ(sqlite3_exec(other, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK); };
    auto release = [&] { sqlite3_exec(other, "commit;", nullptr, nullptr, nullptr); };
    auto favoriteRows = [&] {
        std::vector<std::string> listed;
        bool done = false;
        db_->requestFavorites(
            [&](NSUI::NSDBDataModel* m) {
                for (int r = 0; r < m->getRowCount(); ++r) listed.push_back(m->getValue(r, 0) + ":" + m->getValue(r, 4));
                done = true;
            },
            &listed);
        EXPECT_TRUE(stepUntil([&] { return done; }));
        return listed;
    };
    hold();
    storedId = -1;
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_CAPTURE_SAVED, root_ + "held.jpg");
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 1 && fs::exists(root_ + dicomDB::kWaitingRecord); }));
    std::vector<std::string> listed = favoriteRows();
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed.back().substr(listed.back().find(':')), ":" + root_ + "held.jpg");
    EXPECT_EQ(listed.back()[0], '-') << "listed under a key of its own until written";
    EXPECT_EQ(storedId, -1);
    EXPECT_EQ(db_->newFavoriteCount, 2);
    release();
    ASSERT_TRUE(stepUntil([&] { return storedId == 4; }));
    EXPECT_EQ(db_->newFavoriteCount, 3);
    EXPECT_FALSE(fs::exists(root_ + dicomDB::kWaitingRecord));
    hold();
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_CAPTURE_SAVED, root_ + "quit.jpg");
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 1; }));
    db_->stop();
    db_->release();
    release();
    sqlite3_close(other);
    db_ = new dicomDB();
    db_->setStartServerForTest(false);
    db_->setLibraryFolderForTest(root_);
    ASSERT_TRUE(db_->init());
    ASSERT_TRUE(stepUntil([&] { return storedId == 5; }));
    listed = favoriteRows();
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(listed.back().substr(0, 2), "5:");
    EXPECT_EQ(listed.back().substr(listed.back().size() - 9), "/quit.jpg");

    // A library that is not ready stores nothing: no count, no sound.
    db_->stop();
    db_->release();
    db_ = nullptr;
    fs::create_directories(base_);
    std::ofstream(base_ / "blocker") << "x";
    auto* broken = new dicomDB();
    broken->setStartServerForTest(false);
    broken->setLibraryFolderForTest((base_ / "blocker").string() + "/");
    ASSERT_TRUE(broken->init());
    ASSERT_FALSE(broken->isReady());
    audio->clearPlayedEffects();
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_CAPTURE_SAVED, root_ + "x.jpg");
    auto* data2 = NSUI::NSNotificationData::create();
    data2->text = root_ + "y.dcm";
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_FAVORITE_ADD_FILE, data2);
    step(5);
    EXPECT_EQ(broken->newFavoriteCount, 0);
    EXPECT_TRUE(audio->getPlayedEffects().empty());
    broken->stop();
    broken->release();
}

} // namespace

namespace {

// The check of the file at start reads all of it (seconds, for a large library): it runs on the
// worker, never in init on the main thread, and a damage it finds is still set aside and rebuilt.
TEST_F(DicomDBWorker, TheCheckAtStartRunsOffTheMainThread)
{
    {
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        auto& c = db_->connectionForTest();
        ASSERT_TRUE(c.execute("begin;"));
        for (int i = 0; i < 20000; ++i)
            ASSERT_TRUE(c.execute("insert into image(seriesID,imageUID,instanceID,file) values (1,'2.25." +
                                  std::to_string(i) + "','1','x" + std::to_string(i) + "')"));
        ASSERT_TRUE(c.execute("commit;"));
    }
    db_->stop();
    db_->release();
    db_ = nullptr;
    const std::string file = root_ + "dicomDB";
    {
        // A page of the image table zeroed: the file opens, its tables are found, the check fails.
        const auto pages = fs::file_size(file) / 4096;
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(pages / 2) * 4096);
        const std::string zeros(4096, '\0');
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    std::mutex mutex;
    std::vector<std::pair<std::string, std::thread::id>> lines;
    cocos2d::setLogSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(line, std::this_thread::get_id());
    });
    db_ = new dicomDB();
    db_->setStartServerForTest(false);
    db_->setLibraryFolderForTest(root_);
    ASSERT_TRUE(db_->init());
    ASSERT_TRUE(stepUntil([&] { return !db_->isChecking(); }));
    cocos2d::setLogSink(nullptr);
    int damaged = 0;
    for (const auto& line : lines) {
        if (line.first.rfind("library: the database is damaged", 0) != 0) continue;
        ++damaged;
        EXPECT_NE(line.second, std::this_thread::get_id()) << "the check ran on the main thread";
    }
    EXPECT_EQ(damaged, 1);
    EXPECT_TRUE(db_->isReady());
    int kept = 0;
    for (const auto& entry : fs::directory_iterator(root_))
        kept += entry.path().filename().string().rfind("dicomDB.damaged-", 0) == 0;
    EXPECT_EQ(kept, 1);
}

} // namespace

namespace {

// Makes folder keep every entry it has (none removed or replaced, new ones may come), so that every
// rewrite or removal of a file in it fails, as on a disk that fails them; a file so made takes
// appends only. False where the file system or the user cannot.
bool appendOnly(const std::string& folder, bool on)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_APPEND_FL) : (flags & ~FS_APPEND_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

// What waits for a library another program holds, and what a restart makes of it.
class DicomDBJournal : public DicomDBWorker {
protected:
    void SetUp() override
    {
        DicomDBWorker::SetUp();
        ASSERT_EQ(sqlite3_open((root_ + "dicomDB").c_str(), &other_), SQLITE_OK);
        sqlite3_busy_timeout(other_, 10000);
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            &listener_, nullptr, [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) { stored_.push_back(d->intValue); },
            NSUI::NOTIFY_FAVORITE_STORED);
    }
    void TearDown() override
    {
        release();
        sqlite3_close(other_);
        appendOnly(root_, false);
        disk::setRoomForTest(-1);
        DicomDBWorker::TearDown();
    }
    void hold()
    {
        ASSERT_EQ(sqlite3_exec(other_, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
        held_ = true;
    }
    void release()
    {
        if (held_) sqlite3_exec(other_, "commit;", nullptr, nullptr, nullptr);
        held_ = false;
    }
    std::string journal()
    {
        std::ifstream in(root_ + dicomDB::kWaitingRecord);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The library stopped and started again on folder, once what it found waiting is written.
    void restart(const std::string& folder)
    {
        db_->stop();
        db_->release();
        db_ = new dicomDB();
        db_->setStartServerForTest(false);
        db_->setLibraryFolderForTest(folder);
        ASSERT_TRUE(db_->init());
        ASSERT_TRUE(stepUntil([&] { return !db_->isChecking() && db_->waitingCount() == 0; }));
        flush();
    }
    int rowsOf(const std::string& image)
    {
        NSUI::NSDBDataModel rows;
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        EXPECT_TRUE(db_->connectionForTest().query("select count() from favorite where image=?", {image}, rows));
        return std::atoi(rows.getValue(0, 0).c_str());
    }
    // The key the favourites list shows image under.
    int listedKey(const std::string& image)
    {
        int key = 0;
        bool done = false;
        db_->requestFavorites(
            [&](NSUI::NSDBDataModel* m) {
                for (int r = 0; r < m->getRowCount(); ++r)
                    if (m->getValue(r, 4) == image) key = std::atoi(m->getValue(r, 0).c_str());
                done = true;
            },
            &done);
        EXPECT_TRUE(stepUntil([&] { return done; }));
        return key;
    }
    // The library's files as a kill at this moment leaves them.
    void copyAsKilled(const std::string& killed)
    {
        fs::create_directories(killed);
        for (const char* name : {"dicomDB", "dicomDB-wal", dicomDB::kWaitingRecord})
            if (fs::exists(root_ + name)) fs::copy_file(root_ + name, killed + name);
    }
    sqlite3* other_ = nullptr;
    bool held_ = false;
    std::vector<int> stored_;
};

// A capture kept while another program holds the library waits in the journal. Whatever keeps the
// journal from losing its entry once the row is written (a kill right then, a rewrite the disk
// refuses), the next start lists it once; a path holding a tab and a line break stays one entry.
TEST_F(DicomDBJournal, AFavouriteThatWaitedIsOneRowWhateverStopsTheJournal)
{
    struct Case {
        const char* what;
        const char* name;
        bool kill, failRewrite, quitWhileHeld;
        bool removedAfter = false;  // then removed by the user: the entry left must not bring it back
    };
    const Case cases[] = {
        {"a kill between the commit and the rewrite", "kill.jpg", true, false, false},
        {"a path holding a tab and a line break, kept at quit", "tab\tand\nbreak.jpg", false, false, true},
        {"a rewrite that fails, then a quit", "refused.jpg", false, true, false},
        {"a rewrite that fails, the favourite removed, then a quit", "gone.jpg", false, true, false, true},
    };
    const std::string killed = (base_ / "killed").string() + "/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string capture = root_ + c.name;
        std::ofstream(capture) << "x";
        hold();
        db_->addImageFavorite(capture, 1.0f);
        ASSERT_TRUE(stepUntil([&] { return journal().find(std::string(c.name).substr(0, 3)) != std::string::npos; }));
        if (c.kill) {
            // The files as a kill right after the commit leaves them.
            db_->setJournalHookForTest([&](const char* moment) {
                if (std::string(moment) == "favorites committed" && !fs::exists(killed)) copyAsKilled(killed);
            });
        }
        if (c.failRewrite) {
            // The one writer refuses every write, and the folder every rewrite and removal.
            disk::setRoomForTest(0);
            if (!appendOnly(root_, true)) std::printf("no append-only folder here: only the writer refuses\n");
        }
        if (c.quitWhileHeld) {
            db_->stop();
            release();
        } else {
            release();
            ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
        }
        db_->setJournalHookForTest(nullptr);
        if (c.kill) {
            ASSERT_TRUE(fs::exists(killed + dicomDB::kWaitingRecord));
            restart(killed);
            EXPECT_EQ(rowsOf(capture), 1) << "after the kill";
        }
        if (c.removedAfter) {
            NSUI::NSDBDataModel row;
            {
                std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
                ASSERT_TRUE(db_->connectionForTest().query("select ID from favorite where image=?", {capture}, row));
            }
            ASSERT_EQ(row.getRowCount(), 1);
            EXPECT_TRUE(db_->deleteFavorite(std::atoi(row.getValue(0, 0).c_str()), capture));
            flush();
        }
        disk::setRoomForTest(-1);
        appendOnly(root_, false);
        restart(root_);
        EXPECT_EQ(rowsOf(capture), c.removedAfter ? 0 : 1);
        EXPECT_FALSE(fs::exists(root_ + dicomDB::kWaitingRecord));
    }

    // A journal of the earlier version, left by a kill after its first favourite's row was written:
    // that one stays one row, the other is written.
    {
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        ASSERT_TRUE(db_->connectionForTest().execute(
            "insert into favorite(ID,type,message,icon,image,valid,updateTime,scale) values "
            "(900,1,'','','/earlier.jpg',1,'2026-01-01 10:00:00',1.0)"));
    }
    db_->stop();
    std::ofstream(root_ + dicomDB::kWaitingRecord) << "favorite\t1\t1.00\t2026-01-01 10:00:00\t/earlier.jpg\n"
                                                      "favorite\t1\t1.00\t2026-01-01 10:00:01\t/later.jpg\n";
    restart(root_);
    EXPECT_EQ(rowsOf("/earlier.jpg"), 1);
    EXPECT_EQ(rowsOf("/later.jpg"), 1);
}

// A favourite removed from the list goes with its row whatever its state: listed under its waiting
// key and written meanwhile, removed while the worker writes it, or removed while the file is held
// and the program then quits.
TEST_F(DicomDBJournal, AFavouriteRemovedIsGoneWhateverItsState)
{
    const std::string written = root_ + "written.jpg", writing = root_ + "writing.jpg", quit = root_ + "quit.jpg";
    for (const std::string& file : {written, writing, quit}) std::ofstream(file) << "x";

    hold();
    db_->addImageFavorite(written, 1.0f);
    const int key = listedKey(written);
    ASSERT_LT(key, 0);
    release();
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
    ASSERT_EQ(rowsOf(written), 1);
    EXPECT_TRUE(db_->deleteFavorite(key, written));
    flush();
    EXPECT_EQ(rowsOf(written), 0) << "removed under its waiting key after it was written";

    hold();
    db_->addImageFavorite(writing, 1.0f);
    const int writingKey = listedKey(writing);
    ASSERT_LT(writingKey, 0);
    db_->setJournalHookForTest([&](const char* moment) {
        if (std::string(moment) == "favorites committed") db_->deleteFavorite(writingKey, writing);
    });
    const size_t announced = stored_.size();
    release();
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
    db_->setJournalHookForTest(nullptr);
    flush();
    EXPECT_EQ(rowsOf(writing), 0) << "removed while it was written";
    EXPECT_EQ(listedKey(writing), 0);
    EXPECT_EQ(stored_.size(), announced + 1) << "only the flush's favourite is announced";

    db_->addImageFavorite(quit, 1.0f);
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
    NSUI::NSDBDataModel row;
    {
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        ASSERT_TRUE(db_->connectionForTest().query("select ID from favorite where image=?", {quit}, row));
    }
    ASSERT_EQ(row.getRowCount(), 1);
    const int id = std::atoi(row.getValue(0, 0).c_str());
    hold();
    EXPECT_TRUE(db_->deleteFavorite(id, quit));
    db_->stop();
    release();
    restart(root_);
    EXPECT_EQ(rowsOf(quit), 0) << "removed while the file was held, then quit";
}

// A favourite made or removed is in the journal before the call returns, whatever the worker is
// doing: waiting for a held file to write an image, or writing that very favourite. A kill right
// then lists what was made once and brings back nothing removed, an earlier version's favourite
// (which has no key) included.
TEST_F(DicomDBJournal, WhatTheUserDidIsInTheJournalBeforeTheCallReturns)
{
    enum Action { Made, RemovedWaiting, RemovedWhileWritten, EarlierRemoved };
    struct Case {
        const char* what;
        Action action;
        const char* name;
    };
    const Case cases[] = {
        {"made while an image waits for the held file", Made, "made.jpg"},
        {"removed while an image waits for the held file", RemovedWaiting, "removed.jpg"},
        {"removed while the worker writes it", RemovedWhileWritten, "writing.jpg"},
        {"an earlier version's, removed while an image waits", EarlierRemoved, "earlier.jpg"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string capture = root_ + c.name;
        const std::string killed = (base_ / ("killed" + std::to_string(++n))).string() + "/";
        std::ofstream(capture) << "x";
        if (c.action == EarlierRemoved) {
            db_->stop();
            db_->release();
            std::ofstream(root_ + dicomDB::kWaitingRecord) << "favorite\t1\t1.00\t2026-01-01 10:00:00\t" << capture << "\n";
            db_ = new dicomDB();
            db_->setStartServerForTest(false);
            db_->setLibraryFolderForTest(root_);
            // The replay's write waits for the lock until the file is held.
            std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
            ASSERT_TRUE(db_->init());
            ASSERT_TRUE(stepUntil([&] { return !db_->isChecking(); }));
            hold();
        } else {
            hold();
            if (c.action != Made) db_->addImageFavorite(capture, 1.0f);
        }
        const int key = c.action == Made ? 0 : listedKey(capture);
        if (c.action != Made) {
            ASSERT_LT(key, 0);
        }
        if (c.action == RemovedWhileWritten) {
            db_->setJournalHookForTest([&](const char* moment) {
                if (std::string(moment) != "favorites committed" || fs::exists(killed)) return;
                db_->deleteFavorite(key, capture);
                copyAsKilled(killed);
            });
            release();
            ASSERT_TRUE(stepUntil([&] { return fs::exists(killed) && db_->waitingCount() == 0; }));
            db_->setJournalHookForTest(nullptr);
        } else {
            // The worker waits for the held file to write an image, for as long as the test needs.
            qvtest::LogCapture log;
            db_->connectionForTest().setBeginRetryForTest(1 << 20, 50);
            db_->queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(
                newMessage("Held", "2.25.8.70.1", "2.25.8.70.1.1", "h" + std::to_string(n))));
            ASSERT_TRUE(stepUntil(
                [&] { return log.count("library: the database is held by another program; writes wait for it") > 0; }));
            if (c.action == Made)
                EXPECT_TRUE(db_->addImageFavorite(capture, 1.0f));
            else
                EXPECT_TRUE(db_->deleteFavorite(key, capture));
            copyAsKilled(killed);
            release();
            ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
            db_->connectionForTest().setBeginRetryForTest(50, 50);
        }
        restart(killed);
        EXPECT_EQ(rowsOf(capture), c.action == Made ? 1 : 0) << "after a kill right then";
        restart(root_);
        EXPECT_EQ(rowsOf(capture), c.action == Made ? 1 : 0);
    }
}

// One favourite whose value cannot be written costs only itself and is said with its own reason;
// the others are written. A line too long to be an entry is passed over unread, and an entry the
// journal repeats is written and counted once.
TEST_F(DicomDBJournal, OneBadFavouriteCostsOnlyItself)
{
    auto entry = [](const std::string& key, const std::string& scale, const std::string& image) {
        return "favorite-keyed\t" + key + "\t1\t" + scale + "\t2026-01-01 10:00:00\t" + image + "\n";
    };
    struct Case {
        const char* what;
        std::string bad;
        std::string said;  // the log line the bad entry gets
    };
    const Case cases[] = {
        {"a scale that is no number", entry("q-nan", "1.2.3", "/bad1.jpg"),
         "library: the favourite \"/bad1.jpg\" is not saved: its scale is not a finite positive number"},
        {"an infinite scale", entry("q-inf", "inf", "/bad2.jpg"),
         "library: the favourite \"/bad2.jpg\" is not saved: its scale is not a finite positive number"},
        {"a line longer than any entry", entry("q-long", "1.00", "/" + std::string(300 << 10, 'x')),
         "library: 1 lines of \"" + root_ + dicomDB::kWaitingRecord + "\" are no whole entry and are passed over"},
        {"an entry repeated", [&] {
             std::string lines;
             for (int i = 0; i < 2000; ++i) lines += entry("q-again", "1.00", "/again.jpg");
             return lines;
         }(),
         "library: 0 images and 3 favourites that waited for the database in the last run are written now"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string tag = std::to_string(++n);
        db_->stop();
        std::ofstream(root_ + dicomDB::kWaitingRecord)
            << entry("q-first" + tag, "1.00", "/first" + tag + ".jpg") << c.bad
            << entry("q-last" + tag, "1.33", "/last" + tag + ".jpg");
        qvtest::LogCapture log;
        restart(root_);
        EXPECT_EQ(rowsOf("/first" + tag + ".jpg"), 1);
        EXPECT_EQ(rowsOf("/last" + tag + ".jpg"), 1);
        EXPECT_EQ(log.count(c.said), 1) << c.said;
    }
    EXPECT_EQ(rowsOf("/bad1.jpg") + rowsOf("/bad2.jpg"), 0);
    EXPECT_EQ(rowsOf("/again.jpg"), 1);

    // A favourite whose image gives no finite scale is refused when it is made, alone.
    hold();
    EXPECT_FALSE(db_->addDicomFavorite(root_ + "infinite.dcm", INFINITY));
    EXPECT_TRUE(db_->addDicomFavorite(root_ + "fine.dcm", 0.5f));
    release();
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
    EXPECT_EQ(rowsOf(root_ + "infinite.dcm"), 0);
    EXPECT_EQ(rowsOf(root_ + "fine.dcm"), 1);
}

// Images that waited for a held file are written before an image stored right after it is free,
// and the journal names them until they are: a rewrite for a favourite removed meanwhile (queued
// before they go back to the worker, run before they are written) keeps them.
TEST_F(DicomDBJournal, ImagesThatWaitedAreWrittenBeforeLaterOnes)
{
    // Only the stores look at the file here, not the library's look every second.
    cocos2d::Director::getInstance()->getScheduler()->unschedule("dicomDB.check", db_);
    const std::string capture = root_ + "meanwhile.jpg";
    std::ofstream(capture) << "x";
    hold();
    for (const char* image : {"o1", "o2"})
        db_->queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(newMessage("Ord", "2.25.7", "2.25.7.9.1", image)));
    db_->addImageFavorite(capture, 1.0f);
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() >= 3 && journal().find("meanwhile") != std::string::npos; }));
    const int key = listedKey(capture);
    ASSERT_LT(key, 0);
    // Each rewrite made while an image that waited has no row yet: the journal must name it.
    std::vector<std::string> unnamed;
    db_->setJournalHookForTest([&](const char* moment) {
        if (std::string(moment) != "journal rewritten") return;
        NSUI::NSDBDataModel rows;
        {
            std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
            db_->connectionForTest().query("select imageUID from image", rows);
        }
        std::string written;
        for (int r = 0; r < rows.getRowCount(); ++r) written += rows.getValue(r, 0) + " ";
        const std::string text = journal();
        for (const char* image : {"o1", "o2"})
            if (written.find(image) == std::string::npos && text.find(image) == std::string::npos)
                unnamed.push_back(image);
    });
    {
        // The worker takes the store, then the removal, before the images go back to it.
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        release();
        db_->queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(newMessage("Ord", "2.25.7", "2.25.7.9.1", "o3")));
        EXPECT_TRUE(db_->deleteFavorite(key, capture));
    }
    ASSERT_TRUE(stepUntil([&] { return listener_.patientTexts.size() == 3; }));
    flush();
    db_->setJournalHookForTest(nullptr);
    EXPECT_TRUE(unnamed.empty()) << "a rewrite left out " << unnamed.front() << " before it was written";
    NSUI::NSDBDataModel rows;
    {
        std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
        ASSERT_TRUE(db_->connectionForTest().query("select imageUID from image order by ID", rows));
    }
    ASSERT_EQ(rows.getRowCount(), 3);
    EXPECT_EQ(rows.getValue(0, 0) + rows.getValue(1, 0) + rows.getValue(2, 0), "o1o2o3");
    EXPECT_FALSE(fs::exists(root_ + dicomDB::kWaitingRecord));
}

} // namespace

namespace {

bool writeProc(const char* path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

// A mount namespace of the test's own (with a user namespace of its own when not root), so that
// the test may mount over its folders; the library's worker threads, made afterwards by this
// thread, see the same mounts. False, with the reason, where it cannot.
bool ownMountNamespace(std::string& why)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        why = std::string("no mount namespace: ") + std::strerror(errno);
        return false;
    }
    if (uid != 0 && (!writeProc("/proc/self/setgroups", "deny") ||
                     !writeProc("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
                     !writeProc("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))) {
        why = "cannot map the user";
        return false;
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("cannot make the mounts private: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// path mounted over itself (a folder or a file), read-only or not.
bool bindOverItself(const std::string& path, bool readOnly)
{
    if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    return !readOnly || ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

// A library on a read-only mount, or whose database file alone cannot be written, lists what it
// holds and tells which it is: on the mount nothing new is taken; beside a read-only file a received
// image is kept, waits and is listed once the file can be written, an import is refused, and nothing
// walks the library meanwhile. A damaged file that cannot be set aside keeps the library closed.
TEST_F(DicomDBWorker, ALibraryThatCannotBeWrittenListsWhatItHoldsAndSaysWhatItTakes)
{
    db_->stop();
    db_->release();
    db_ = nullptr;
    std::string why;
    if (!ownMountNamespace(why)) GTEST_SKIP() << why;
    enum Mount { ReadOnlyFolder, ReadOnlyFile, FileThatCannotMove, AppendOnlyFile };
    struct Case {
        const char* what;
        Mount mount;
        bool damaged;
    };
    const Case cases[] = {
        {"a damaged file that cannot be set aside", FileThatCannotMove, true},
        {"a read-only mount", ReadOnlyFolder, false},
        {"a read-only database file", ReadOnlyFile, false},
        // access(2) says it can be written; the open says it cannot.
        {"a database file that takes appends only", AppendOnlyFile, false},
    };
    auto open = [&](const std::string& folder) {
        db_ = new dicomDB();
        db_->setStartServerForTest(false);
        db_->setLibraryFolderForTest(folder);
        EXPECT_TRUE(db_->init());
    };
    auto closeLibrary = [&] {
        db_->stop();
        db_->release();
        db_ = nullptr;
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = (base_ / ("library" + std::to_string(++n))).string() + "/";
        const std::string file = folder + "dicomDB";
        open(folder);
        ASSERT_TRUE(db_->isReady());
        store("Ann", "2.25.1001", "2.25.1001.1", "a1");
        if (c.damaged) {
            std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
            auto& connection = db_->connectionForTest();
            ASSERT_TRUE(connection.execute("begin;"));
            for (int i = 0; i < 20000; ++i)
                ASSERT_TRUE(connection.execute("insert into image(seriesID,imageUID,instanceID,file) values (1,'2.25." +
                                               std::to_string(i) + "','1','x" + std::to_string(i) + "')"));
            ASSERT_TRUE(connection.execute("commit;"));
        }
        closeLibrary();
        if (c.damaged) {
            const auto pages = fs::file_size(file) / 4096;
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(pages / 2) * 4096);
            const std::string zeros(4096, '\0');
            f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
        }
        const std::string mounted = c.mount == ReadOnlyFolder ? folder : file;
        const bool keeps = c.mount == ReadOnlyFile || c.mount == AppendOnlyFile;
        if (c.mount == AppendOnlyFile) {
            ASSERT_TRUE(appendOnly(file, true)) << std::strerror(errno);
        } else {
            ASSERT_TRUE(bindOverItself(mounted, c.mount != FileThatCannotMove)) << std::strerror(errno);
        }
        qvtest::LogCapture log;
        open(folder);
        ASSERT_TRUE(stepUntil([&] { return !db_->isChecking(); }));
        if (c.damaged) {
            EXPECT_FALSE(db_->isReady()) << "a damaged file is never used";
            EXPECT_TRUE(db_->keptAsideAs().empty());
            closeLibrary();
            ::umount2(mounted.c_str(), MNT_DETACH);
            continue;
        }
        ASSERT_TRUE(db_->isReady());
        EXPECT_TRUE(db_->isReadOnly());
        EXPECT_EQ(db_->canKeepWhileReadOnly(), keeps);
        int patients = 0;
        db_->requestPatients([&](NSUI::NSDBDataModel* rows) { patients = rows->getRowCount(); }, &patients);
        EXPECT_TRUE(stepUntil([&] { return patients > 0; }, 600));
        EXPECT_EQ(patients, 1);
        EXPECT_FALSE(db_->addImageFavorite(folder + "x.jpg", 1.0f));
        if (keeps) {
            // Received: kept, waiting. Imported: refused at once.
            db_->queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(newMessage("Ann", "2.25.1001", "2.25.1001.1", "a2")));
            int imported = -1;
            db_->queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(newMessage("Ann", "2.25.1001", "2.25.1001.1", "a3")),
                                  [&imported](bool listed) { imported = listed ? 1 : 0; });
            EXPECT_TRUE(stepUntil([&] { return imported >= 0; }, 600));
            EXPECT_EQ(imported, 0);
            EXPECT_EQ(db_->waitingCount(), 1);
            EXPECT_TRUE(fs::exists(folder + dicomDB::kWaitingRecord));
            EXPECT_FALSE(db_->isReconciling());
            // The import's look at the file left it read-only.
            EXPECT_TRUE(db_->isReadOnly());
            EXPECT_EQ(log.count("library: the database can be written again"), 0);
            // Writable again: the image that waited is listed.
            if (c.mount == AppendOnlyFile)
                appendOnly(file, false);
            else
                ::umount2(mounted.c_str(), MNT_DETACH);
            NSUI::NSDBDataModel rows;
            EXPECT_TRUE(stepUntil(
                [&] {
                    std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
                    return !db_->isReadOnly() &&
                           db_->connectionForTest().query("select imageUID from image order by ID", rows) &&
                           rows.getRowCount() == 2;
                },
                1200));
            ASSERT_EQ(rows.getRowCount(), 2);
            EXPECT_EQ(rows.getValue(1, 0), "a2");
        }
        closeLibrary();
        ::umount2(mounted.c_str(), MNT_DETACH);
        if (c.mount == AppendOnlyFile) appendOnly(file, false);
    }
}

// Favourites that wait when the disk fills are written once it has room again, each once, and the
// full disk is said once however often the file is tried meanwhile (a real small file system).
TEST_F(DicomDBJournal, FavouritesWaitingWhenTheDiskFillsAreListedOnceItHasRoom)
{
    db_->stop();
    std::string why;
    if (!ownMountNamespace(why)) GTEST_SKIP() << why;
    const std::string small = (base_ / "small").string() + "/";
    fs::create_directories(small);
    ASSERT_EQ(::mount("tmpfs", small.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0755"), 0)
        << std::strerror(errno);
    restart(small);
    {
        std::ofstream fill(small + "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), static_cast<std::streamsize>(block.size())) && fill.flush()) {
        }
    }
    qvtest::LogCapture log;
    auto saidFull = [&] {
        const std::vector<std::string> lines = log.lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("library: the database cannot be written now", 0) == 0;
        });
    };
    const std::string first = small + "first.jpg", second = small + "second.jpg";
    EXPECT_TRUE(db_->addImageFavorite(first, 1.0f));
    EXPECT_TRUE(db_->addImageFavorite(second, 1.0f));
    ASSERT_TRUE(stepUntil([&] { return saidFull() == 1; }));
    EXPECT_EQ(db_->waitingCount(), 2);
    fs::remove(small + "filler");
    ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 0; }));
    EXPECT_EQ(rowsOf(first), 1);
    EXPECT_EQ(rowsOf(second), 1);
    EXPECT_EQ(saidFull(), 1);
    restart(small);
    EXPECT_EQ(rowsOf(first), 1);
    db_->stop();
    ::umount2(small.c_str(), MNT_DETACH);
}

} // namespace
