// The library database on real SQLite files below XDG_DATA_HOME: schema, writer, deletes,
// favourites and peers. The storage server is never started here.
#include "dicomDB.h"
#include "dicomDBSchema.h"

#include "NSDBDataModel.h"
#include "NSDBUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {

void setText(char* field, size_t size, const std::string& value)
{
    std::strncpy(field, value.c_str(), size - 1);
    field[size - 1] = '\0';
}
#define SET(msg, field, value) setText((msg).field, sizeof((msg).field), value)

redIRI::DCM_MESSAGE makeMessage(const std::string& patient, const std::string& patientID, const std::string& study,
                                const std::string& series, const std::string& image)
{
    redIRI::DCM_MESSAGE m{};
    SET(m, PatientName, patient);
    SET(m, PatientID, patientID);
    SET(m, PatientBirthDate, "19700101");
    SET(m, PatientSex, "F");
    SET(m, StudyInstanceUID, study);
    SET(m, StudyID, "77");
    SET(m, StudyDate, "20240102");
    SET(m, StudyTime, "030405.123");
    SET(m, StudyDescription, "Chest");
    SET(m, SeriesInstanceUID, series);
    SET(m, SeriesDate, "20240102");
    SET(m, SeriesTime, "0304");  // too short: the series time falls back to now
    SET(m, SeriesDescription, "Axial");
    SET(m, SOPInstanceUID, image);
    SET(m, InstanceNumber, "3");
    SET(m, FileName, image + ".dcm");
    SET(m, SeriesFolder, patient + "_" + patientID + "/" + study + "/" + series + "/");
    return m;
}

class DicomDBTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* xdg = std::getenv("XDG_DATA_HOME");
        ASSERT_NE(xdg, nullptr);
        base_ = fs::path(xdg) / "dicomdb-tests" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(base_);
        root_ = (base_ / "qv" / "dicom").string() + "/";
        db_ = openDB();
    }
    void TearDown() override
    {
        db_.reset();
        fs::remove_all(base_);
    }
    std::unique_ptr<dicomDB> openDB()
    {
        auto db = std::make_unique<dicomDB>();
        db->setStartServerForTest(false);
        db->setLibraryFolderForTest(root_);
        EXPECT_TRUE(db->init());
        return db;
    }
    NSUI::NSDBDataModel query(const std::string& sql)
    {
        NSUI::NSDBDataModel model;
        EXPECT_TRUE(db_->connectionForTest().query(sql, model)) << sql;
        return model;
    }
    int count(const std::string& table) { return std::atoi(query("select count() from " + table).getValue(0, 0).c_str()); }
    void makeFile(const std::string& relative)
    {
        fs::path p = fs::path(root_) / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }

    fs::path base_;
    std::string root_;
    std::unique_ptr<dicomDB> db_;
};

TEST_F(DicomDBTest, CreatesTheSchemaExactlyAndReopensAnExistingLibrary)
{
    ASSERT_TRUE(db_->isReady());
    EXPECT_TRUE(fs::exists(root_ + "dicomDB"));
    NSUI::NSDBDataModel tables = query("select name,sql from sqlite_master where type='table' and name!='sqlite_sequence' order by rowid");
    ASSERT_EQ(tables.getRowCount(), 8);
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(tables.getValue(i, 0), dicomDBSchema::kTables[i].name);
        // sqlite_master keeps the statement without its final ";" and with the keywords that
        // open it in capitals; every other byte is ours.
        std::string sql = dicomDBSchema::kTables[i].createSql;
        sql.pop_back();
        ASSERT_EQ(sql.compare(0, 13, "create table "), 0);
        sql = "CREATE TABLE " + sql.substr(13);
        EXPECT_EQ(tables.getValue(i, 1), sql);
    }
    EXPECT_EQ(query("select sql from sqlite_master where name='patient'").getValue(0, 0).find("sex  TEXT") != std::string::npos, true);
    NSUI::NSDBDataModel version = query("select version from version");
    ASSERT_EQ(version.getRowCount(), 1);
    EXPECT_EQ(version.getValue(0, 0), "4");

    dicomDBRecordIds ids;
    ASSERT_TRUE(db_->saveDicomRecord(makeMessage("Doe^Jane", "P1", "2.25.1001", "2.25.1001.2002", "2.25.1001.2002.3003"), ids));

    // Reopening keeps rows and the single version row; an older version number is raised to 4.
    ASSERT_TRUE(db_->connectionForTest().execute("update version set version=3"));
    db_.reset();
    db_ = openDB();
    ASSERT_TRUE(db_->isReady());
    EXPECT_EQ(count("patient"), 1);
    EXPECT_EQ(count("image"), 1);
    version = query("select version from version");
    ASSERT_EQ(version.getRowCount(), 1);
    EXPECT_EQ(version.getValue(0, 0), "4");

    // A missing table is created again without touching the others.
    ASSERT_TRUE(db_->connectionForTest().execute("drop table neighbor"));
    db_.reset();
    db_ = openDB();
    EXPECT_EQ(count("neighbor"), 0);
    EXPECT_EQ(count("patient"), 1);
}

TEST_F(DicomDBTest, AFolderThatCannotHoldTheFileLeavesTheLibraryNotReady)
{
    db_.reset();
    fs::create_directories(base_);
    std::ofstream(base_ / "blocker") << "x";
    auto db = std::make_unique<dicomDB>();
    db->setStartServerForTest(false);
    db->setLibraryFolderForTest((base_ / "blocker").string() + "/");
    EXPECT_TRUE(db->init());
    EXPECT_FALSE(db->isReady());
    dicomDBRecordIds ids;
    EXPECT_FALSE(db->saveDicomRecord(makeMessage("A", "1", "1", "2", "3"), ids));
    // A favourite waits for the library (its marker row too); nothing is written.
    EXPECT_TRUE(db->addImageFavorite("/x.jpg", 1.0f));
    EXPECT_EQ(db->waitingCount(), 2);
    EXPECT_FALSE(db->deleteSeries(1));
}

TEST_F(DicomDBTest, WritesRowsOfSeveralPatientsStudiesAndSeriesOnce)
{
    struct Case { const char* name; const char* id; const char* study; const char* series; const char* image; };
    const Case cases[] = {
        {"Doe^Jane", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.1"},
        {"Doe^Jane", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.2"},   // second image of a known series
        {"Doe^Jane", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.2"},   // the same image again
        {"Doe^Jane", "P1", "2.25.1001", "2.25.1001.2", "2.25.1001.2.1"},   // second series of the study
        {"Doe^Jane", "P1", "2.25.1002", "2.25.1002.1", "2.25.1002.1.1"},   // second study
        {"Roe^John", "P1", "2.25.2001", "2.25.2001.1", "2.25.2001.1.1"},   // same ID, other name: another patient
        {"Roe^John", "P2", "2.25.3001", "2.25.3001.1", "2.25.3001.1.1"},
    };
    std::vector<dicomDBRecordIds> results;
    for (const Case& c : cases) {
        dicomDBRecordIds ids;
        ASSERT_TRUE(db_->saveDicomRecord(makeMessage(c.name, c.id, c.study, c.series, c.image), ids));
        results.push_back(ids);
    }
    EXPECT_EQ(count("patient"), 3);
    EXPECT_EQ(count("study"), 4);
    EXPECT_EQ(count("series"), 5);
    EXPECT_EQ(count("image"), 6);

    EXPECT_FALSE(results[0].patientExists);
    EXPECT_TRUE(results[1].patientExists && results[1].studyExists && results[1].seriesExists);
    EXPECT_FALSE(results[1].imageExists);
    EXPECT_TRUE(results[2].imageExists);
    EXPECT_EQ(results[2].imageID, results[1].imageID);
    EXPECT_NE(results[3].seriesID, results[1].seriesID);
    EXPECT_EQ(results[3].studyID, results[1].studyID);
    EXPECT_NE(results[5].patientID, results[0].patientID);
    for (const dicomDBRecordIds& r : results) EXPECT_GT(r.imageID, 0);

    // Values land in the right columns; a full date and time become the study time, a short
    // series time falls back to now.
    NSUI::NSDBDataModel p = query("select name,sex,birthday,patientIDHospital from patient where ID=" + std::to_string(results[0].patientID));
    EXPECT_EQ(p.getValue(0, 0), "Doe^Jane");
    EXPECT_EQ(p.getValue(0, 1), "F");
    EXPECT_EQ(p.getValue(0, 2), "19700101");
    EXPECT_EQ(p.getValue(0, 3), "P1");
    NSUI::NSDBDataModel s = query("select studyUID,studyIDHospital,studyDesc,date,time,updateTime from study where ID=" + std::to_string(results[0].studyID));
    EXPECT_EQ(s.getValue(0, 0), "2.25.1001");
    EXPECT_EQ(s.getValue(0, 1), "77");
    EXPECT_EQ(s.getValue(0, 2), "Chest");
    EXPECT_EQ(s.getValue(0, 5), "2024-01-02 03:04:05");
    NSUI::NSDBDataModel se = query("select seriesUID,date,time,studyDesc,SeriesDesc,updateTime,path from series where ID=" + std::to_string(results[0].seriesID));
    EXPECT_EQ(se.getValue(0, 3), "Chest");
    EXPECT_EQ(se.getValue(0, 4), "Axial");
    EXPECT_EQ(se.getValue(0, 5).size(), 19u);
    EXPECT_NE(se.getValue(0, 5), "2024-01-02 03:04:00");
    EXPECT_EQ(se.getValue(0, 6), "Doe^Jane_P1/2.25.1001/2.25.1001.1/");

    NSUI::NSDBDataModel images;
    ASSERT_TRUE(db_->getSeriesImages(results[0].seriesID, images));
    ASSERT_EQ(images.getRowCount(), 2);
    EXPECT_EQ(images.getValue(0, 1), "2.25.1001.1.1.dcm");
    EXPECT_TRUE(db_->hasPatient(results[6].patientID));
    EXPECT_FALSE(db_->hasPatient(999));
}

TEST_F(DicomDBTest, SqlLookingTextsAreStoredVerbatim)
{
    const std::string evil = "A\"); drop table patient; --";
    redIRI::DCM_MESSAGE m = makeMessage(evil, "x' or '1'='1", "2.25.1009", "2.25.1009.1", "2.25.1009.1.1");
    SET(m, StudyDescription, "name");  // equal to a column name
    SET(m, SeriesDescription, "it's \"quoted\"");
    dicomDBRecordIds ids;
    ASSERT_TRUE(db_->saveDicomRecord(m, ids));
    for (const dicomDBSchema::Table& t : dicomDBSchema::kTables) EXPECT_TRUE(db_->connectionForTest().tableExists(t.name)) << t.name;
    EXPECT_EQ(query("select name,patientIDHospital from patient").getValue(0, 0), evil);
    EXPECT_EQ(query("select studyDesc from study").getValue(0, 0), "name");
    EXPECT_EQ(query("select SeriesDesc from series").getValue(0, 0), "it's \"quoted\"");

    dicomDBRecordIds again;
    ASSERT_TRUE(db_->findDicomRecord(m, again));
    EXPECT_TRUE(again.imageExists);
    EXPECT_EQ(again.patientID, ids.patientID);
    // A different patient whose ID would match everything in a concatenated query matches nothing.
    ASSERT_TRUE(db_->findDicomRecord(makeMessage("other", "x' or '1'='1", "2.25.1009", "2.25.1009.1", "2.25.1009.1.1"), again));
    EXPECT_FALSE(again.patientExists);

    db_->saveNeighbor(2, evil, "127.0.0.1", "4587", "app\"1");
    std::vector<neighborRecord> peers;
    db_->getNeighbors(peers);
    ASSERT_EQ(peers.size(), 1u);
    EXPECT_EQ(peers[0].name, evil);
    EXPECT_EQ(peers[0].appid, "app\"1");
}

TEST_F(DicomDBTest, DeletesRemoveTheFilesOfTheirRowsOnlyAndNothingOutsideTheLibrary)
{
    dicomDBRecordIds a, b, c, d;
    ASSERT_TRUE(db_->saveDicomRecord(makeMessage("Doe", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.1"), a));
    ASSERT_TRUE(db_->saveDicomRecord(makeMessage("Doe", "P1", "2.25.1001", "2.25.1001.2", "2.25.1001.2.1"), b));
    // Two patients that an older library filed in one folder ("A_B" + "C" and "A" + "B_C"), even in
    // one series folder: each row keeps its own file.
    redIRI::DCM_MESSAGE first = makeMessage("A_B", "C", "2.25.3001", "2.25.3001.1", "2.25.3001.1.1");
    redIRI::DCM_MESSAGE second = makeMessage("A", "B_C", "2.25.3001", "2.25.3001.1", "2.25.3001.1.2");
    SET(second, SeriesFolder, "A_B_C/2.25.3001/2.25.3001.1/");
    ASSERT_TRUE(db_->saveDicomRecord(first, c));
    ASSERT_TRUE(db_->saveDicomRecord(second, d));
    ASSERT_NE(c.patientID, d.patientID);
    makeFile("Doe_P1/2.25.1001/2.25.1001.1/2.25.1001.1.1.dcm");
    makeFile("Doe_P1/2.25.1001/2.25.1001.1/thrumb0");
    makeFile("Doe_P1/2.25.1001/2.25.1001.2/2.25.1001.2.1.dcm");
    makeFile("A_B_C/2.25.3001/2.25.3001.1/2.25.3001.1.1.dcm");
    makeFile("A_B_C/2.25.3001/2.25.3001.1/2.25.3001.1.2.dcm");

    // One of two series: its files, thumbnails and folder; the study and patient rows stay.
    EXPECT_TRUE(db_->deleteSeries(a.seriesID));
    EXPECT_FALSE(fs::exists(root_ + "Doe_P1/2.25.1001/2.25.1001.1"));
    EXPECT_TRUE(fs::exists(root_ + "Doe_P1/2.25.1001/2.25.1001.2/2.25.1001.2.1.dcm"));
    EXPECT_EQ(count("image"), 3);
    EXPECT_EQ(count("study"), 3);
    EXPECT_TRUE(db_->hasPatient(a.patientID));

    // The last series takes the study, the patient and the folders left empty.
    EXPECT_TRUE(db_->deleteSeries(b.seriesID));
    EXPECT_FALSE(db_->hasPatient(a.patientID));
    EXPECT_FALSE(fs::exists(root_ + "Doe_P1"));
    EXPECT_FALSE(db_->deleteSeries(b.seriesID));

    // Deleting one patient of a shared folder leaves the other's file and rows.
    EXPECT_TRUE(db_->deletePatient(c.patientID));
    EXPECT_FALSE(fs::exists(root_ + "A_B_C/2.25.3001/2.25.3001.1/2.25.3001.1.1.dcm"));
    EXPECT_TRUE(fs::exists(root_ + "A_B_C/2.25.3001/2.25.3001.1/2.25.3001.1.2.dcm"));
    EXPECT_TRUE(db_->hasPatient(d.patientID));
    EXPECT_EQ(count("image"), 1);
    EXPECT_TRUE(db_->deletePatient(d.patientID));
    EXPECT_FALSE(fs::exists(root_ + "A_B_C"));
    EXPECT_EQ(count("patient"), 0);
    EXPECT_EQ(count("series"), 0);
    EXPECT_FALSE(db_->deletePatient(d.patientID));
    EXPECT_TRUE(fs::exists(root_ + "dicomDB"));

    // Rows whose path is empty or climbs out never remove the library or anything outside it.
    fs::create_directories(base_ / "outside" / "a" / "b");
    std::ofstream(base_ / "outside" / "a" / "b" / "2.25.9001.1.1.dcm") << "x";
    for (const std::string& path : {std::string(""), std::string("../x/"), std::string("../../outside/a/b/")}) {
        redIRI::DCM_MESSAGE m = makeMessage("Bad", "P9", "2.25.9001", "2.25.9001.1", "2.25.9001.1.1");
        SET(m, SeriesFolder, path);
        dicomDBRecordIds ids;
        ASSERT_TRUE(db_->saveDicomRecord(m, ids));
        EXPECT_TRUE(db_->deleteSeries(ids.seriesID)) << path;
    }
    EXPECT_FALSE(db_->removeLibraryFolder(root_));
    EXPECT_FALSE(db_->removeLibraryFolder(root_ + "a/../.."));
    EXPECT_TRUE(fs::exists(root_ + "dicomDB"));
    EXPECT_TRUE(fs::exists(base_ / "outside" / "a" / "b" / "2.25.9001.1.1.dcm"));
}

TEST_F(DicomDBTest, FavouritesGetIDsAndOneMarkerAfterStart)
{
    EXPECT_EQ(db_->getMaxID("favorite", "ID"), 0);
    // Written on the worker, in order.
    EXPECT_TRUE(db_->addImageFavorite("/tmp/capture.jpg", 1.3333f));
    EXPECT_TRUE(db_->addDicomFavorite("/tmp/image.dcm", 0.5f));
    for (int i = 0; i < 5000 && db_->waitingCount() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int second = 3;  // the marker row took ID 1
    NSUI::NSDBDataModel rows = query("select ID,type,image,valid,scale from favorite order by ID");
    ASSERT_EQ(rows.getRowCount(), 3);
    EXPECT_EQ(rows.getValue(0, 1), "3");
    EXPECT_EQ(rows.getValue(0, 2), "");
    EXPECT_EQ(rows.getValue(1, 1), "1");
    EXPECT_EQ(rows.getValue(1, 4), "1.33");
    EXPECT_EQ(rows.getValue(2, 1), "2");
    EXPECT_TRUE(db_->deleteFavorite(second));
    EXPECT_EQ(count("favorite"), 2);
}

TEST_F(DicomDBTest, APeerHeardAgainKeepsItsRow)
{
    db_->saveNeighbor(2, "desk", "10.0.0.2", "4587", "app-1");
    db_->saveNeighbor(5, "pacs", "10.0.0.3", "104", "app-2");
    db_->saveNeighbor(3, "tablet", "10.0.0.9", "4588", "app-1");
    std::vector<neighborRecord> peers;
    db_->getNeighbors(peers);
    ASSERT_EQ(peers.size(), 2u);
    EXPECT_EQ(peers[0].appid, "app-1");
    EXPECT_EQ(peers[0].device, 3);
    EXPECT_EQ(peers[0].name, "tablet");
    EXPECT_EQ(peers[0].ip, "10.0.0.9");
    EXPECT_EQ(peers[0].port, "4588");
    EXPECT_EQ(peers[0].saveType, 3);
    EXPECT_EQ(peers[0].lastTime, "");
    EXPECT_EQ(peers[0].wifi.size(), 19u);
    EXPECT_EQ(count("neighbor"), 2);
}

} // namespace
