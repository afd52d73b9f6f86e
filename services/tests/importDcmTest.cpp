// The import of files into the library: generated DICOM files copied into the storage layout and
// indexed by a real library database on SQLite files below XDG_DATA_HOME.
#include "dicomDB.h"
#include "importDcm.h"

#include "../../foundation/tests/support/HeadlessFrames.h"
#include "DicomSeriesWriter.h"
#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "NSNotificationCenter.h"
#include "UIJson.h"
#include "isDcmScan.h"
#include "isSeriesCache.h"
#include "dcmDiskWrite.h"
#include "qvBuildPaths.h"
#include "../../foundation/tests/NSFileTestSupport.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvrobow.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Part of the sanitizer runtimes, not declared by every compiler's headers.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace fs = std::filesystem;

namespace {

// The bytes the program holds on its heap (a sanitizer runtime keeps its own heap).
size_t heapInUse()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

using Extra = std::vector<std::pair<std::pair<uint16_t, uint16_t>, std::string>>;

// A small image whose identifying values are given (an empty value leaves the element out).
void writeImage(const fs::path& path, const std::string& patient, const std::string& patientID,
                const std::string& study, const std::string& series, const std::string& sop, int instance,
                const Extra& extra = {})
{
    qvgen::ImageSpec spec;
    spec.columns = 16;
    spec.rows = 8;
    spec.instanceNumber = instance;
    spec.patientName = patient;
    spec.patientID = patientID;
    spec.studyUID = study.empty() ? "2.25.1002.3" : study;
    spec.seriesUID = series.empty() ? "2.25.1002.3.4" : series;
    spec.extra = {{{0x0008, 0x0018}, sop}, {{0x0008, 0x0020}, "20240517"}, {{0x0008, 0x0030}, "101112.5"}};
    spec.extra.insert(spec.extra.end(), extra.begin(), extra.end());  // may replace the two above
    if (patient.empty()) spec.omit.push_back({0x0010, 0x0010});
    if (patientID.empty()) spec.omit.push_back({0x0010, 0x0020});
    if (study.empty()) spec.omit.push_back({0x0020, 0x000D});
    if (series.empty()) spec.omit.push_back({0x0020, 0x000E});
    fs::create_directories(path.parent_path());
    std::string error;
    ASSERT_TRUE(qvgen::writeDicomFile(path.string(), spec, &error)) << error;
}

// Rewrites a file as converters that keep every element as UN write it: explicit VR little endian,
// each data set element's value bytes (little endian) under VR UN.
void rewriteAsUnknown(const fs::path& path)
{
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(path.c_str()).good()) << path;
    DcmDataset* data = file.getDataset();
    std::vector<DcmElement*> elements;
    for (DcmObject* o = data->nextInContainer(nullptr); o; o = data->nextInContainer(o))
        elements.push_back(static_cast<DcmElement*>(o));
    for (DcmElement* e : elements) {
        std::vector<Uint8> bytes(e->getLength(EXS_LittleEndianExplicit));
        if (!bytes.empty()) {
            ASSERT_TRUE(e->getPartialValue(bytes.data(), 0, static_cast<Uint32>(bytes.size()), nullptr, EBO_LittleEndian).good());
        }
        auto* unknown = new DcmOtherByteOtherWord(DcmTag(e->getTag().getXTag(), EVR_UN));
        ASSERT_TRUE(unknown->putUint8Array(bytes.data(), static_cast<unsigned long>(bytes.size())).good());
        ASSERT_TRUE(data->insert(unknown, OFTrue).good());
    }
    ASSERT_TRUE(file.saveFile(path.c_str(), EXS_LittleEndianExplicit, EET_ExplicitLength, EGL_recalcGL, EPD_noChange,
                              0, 0, EWM_dontUpdateMeta).good());
    // The patient name (0010,0010) is now stored as UN.
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_NE(bytes.find(std::string("\x10\0\x10\0UN", 6)), std::string::npos);
}

std::string folderOf(const std::string& patient, const std::string& id, const std::string& study,
                     const std::string& series)
{
    char out[1024];
    redIRI::dcmServer::getDicomFolder(patient.c_str(), id.c_str(), study.c_str(), series.c_str(), out);
    return out;
}

// Every regular file below folder, relative to it, leaving out the library's own files (the
// database, hidden files and folders).
std::set<std::string> filesBelow(const fs::path& folder)
{
    std::set<std::string> files;
    if (!fs::exists(folder)) return files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        if (it->is_directory() && name[0] == '.') {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file() && name.rfind("dicomDB", 0) != 0 && name[0] != '.')
            files.insert(fs::relative(it->path(), folder).string());
    }
    return files;
}

class ImportTest : public HeadlessFrames {
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        base_ = fs::path(std::getenv("XDG_DATA_HOME")) / "import-tests" /
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(base_);
        source_ = base_ / "source";
        root_ = (base_ / "library").string() + "/";
        openLibrary();
        passStartDelay();
    }
    void TearDown() override
    {
        closeLibrary();
        HeadlessFrames::TearDown();
        fs::remove_all(base_);
    }
    void openLibrary()
    {
        db_ = new dicomDB();
        db_->setStartServerForTest(false);
        db_->setLibraryFolderForTest(root_);
        ASSERT_TRUE(db_->init());
        ASSERT_TRUE(db_->isReady());
        importer_ = importDcm::create();
        ASSERT_NE(importer_, nullptr);
        importer_->retain();
        importer_->setRoot(db_->getDicomRoot());
    }
    void closeLibrary()
    {
        if (importer_) {
            importer_->stop();
            importer_->release();
            importer_ = nullptr;
        }
        if (db_) {
            db_->stop();
            db_->release();
            db_ = nullptr;
        }
    }
    // The lines that count what an import left out of the log.
    static size_t countLine(const qvtest::LogCapture& log)
    {
        const std::vector<std::string> lines = log.lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("import: ", 0) == 0 && l.find(" more lines left out of the log") != std::string::npos;
        });
    }

    // Imports and waits until every copied file has been written to the database.
    void importAndWait(const std::string& path, bool move = false)
    {
        importer_->importFolder(path, move);
        ASSERT_TRUE(stepUntil([&] { return !importer_->isBusy(); }));
        step(2);  // the urgent 2017s reach the library database
        bool answered = false;
        db_->requestFavorites([](NSUI::NSDBDataModel*) {}, &answered);
        db_->requestPatients([&](NSUI::NSDBDataModel*) { answered = true; }, &answered);
        // Requests are served in order: the patient answer comes after every queued write.
        ASSERT_TRUE(stepUntil([&] { return answered; }));
    }
    NSUI::NSDBDataModel query(const std::string& sql)
    {
        NSUI::NSDBDataModel model;
        EXPECT_TRUE(db_->connectionForTest().query(sql, model)) << sql;
        return model;
    }
    int count(const std::string& table) { return std::atoi(query("select count() from " + table).getValue(0, 0).c_str()); }

    fs::path base_, source_;
    std::string root_;
    dicomDB* db_ = nullptr;
    importDcm* importer_ = nullptr;
};

TEST_F(ImportTest, FoldersAreImportedRecursivelyOnceAndNormalised)
{
    writeImage(source_ / "a" / "1.dcm", "Doe^Jane", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.1", 1,
               {{{0x0010, 0x0040}, "O"}, {{0x0008, 0x1030}, "Chest"}});
    writeImage(source_ / "a" / "2.dcm", "Doe^Jane", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.2", 2,
               {{{0x0010, 0x0040}, "F"}});
    writeImage(source_ / "a" / "deeper" / "3.dcm", "Doe^Jane", "P1", "2.25.1001", "2.25.1001.2",
               "2.25.1001.2.1", 1);
    // The same instance under another name: it lands on the same file and adds no row.
    writeImage(source_ / "b" / "copy.dcm", "Doe^Jane", "P1", "2.25.1001", "2.25.1001.1", "2.25.1001.1.2", 2);
    // No patient, study or series: the replacements name the folder and fill the rows.
    writeImage(source_ / "b" / "anon.dcm", "", "", "", "", "2.25.9009.9", 1);
    std::ofstream(source_ / "b" / "notes.txt") << "not an image";
    std::ofstream(source_ / "b" / "empty.dcm");

    importAndWait(source_.string());
    EXPECT_EQ(importer_->getQueuedCount(), 7);
    EXPECT_EQ(importer_->getFinishedCount(), 7);
    EXPECT_EQ(importer_->getCopiedCount(), 5);

    const std::string jane = folderOf("Doe^Jane", "P1", "2.25.1001", "2.25.1001.1");
    const std::string anon = folderOf("ANONYMOUS", "EmptyID", "unknownStudy", "unknownSeries");
    EXPECT_EQ(anon, "ANONYMOUS_EmptyID/unknownStudy/unknownSeries");
    const std::set<std::string> expected = {
        jane + "/2.25.1001.1.1", jane + "/2.25.1001.1.2",
        folderOf("Doe^Jane", "P1", "2.25.1001", "2.25.1001.2") + "/2.25.1001.2.1", anon + "/2.25.9009.9"};
    EXPECT_EQ(filesBelow(root_), expected);
    EXPECT_EQ(count("patient"), 2);
    EXPECT_EQ(count("study"), 2);
    EXPECT_EQ(count("series"), 3);
    EXPECT_EQ(count("image"), 4);

    NSUI::NSDBDataModel p = query("select name,patientIDHospital,sex from patient order by ID");
    EXPECT_EQ(p.getValue(0, 0), "Doe^Jane");
    EXPECT_EQ(p.getValue(0, 2), "U");  // "O" is recorded as unknown
    EXPECT_EQ(p.getValue(1, 0), "ANONYMOUS");
    EXPECT_EQ(p.getValue(1, 1), "EmptyID");
    NSUI::NSDBDataModel s = query("select studyUID,studyDesc,date,time,updateTime from study order by ID");
    EXPECT_EQ(s.getValue(0, 1), "Chest");
    EXPECT_EQ(s.getValue(0, 3), "101112");
    EXPECT_EQ(s.getValue(0, 4), "2024-05-17 10:11:12");
    EXPECT_EQ(s.getValue(1, 0), "unknownStudy");
    EXPECT_EQ(query("select path from series order by ID").getValue(0, 0), jane + "/");
    EXPECT_EQ(query("select instanceID,file from image order by ID").getValue(1, 1), "2.25.1001.1.2");

    // The same folder again, and a single file again: nothing new.
    importAndWait(source_.string());
    importAndWait((source_ / "a" / "deeper" / "3.dcm").string());
    EXPECT_EQ(importer_->getCopiedCount(), 11);
    EXPECT_EQ(count("image"), 4);
    EXPECT_EQ(count("series"), 3);
    EXPECT_EQ(count("patient"), 2);
    EXPECT_EQ(filesBelow(root_), expected);
    // Nothing is left in the folder of files being written.
    EXPECT_TRUE(filesBelow(root_ + ".incoming").empty());

    // Moved (a retrieved series): what reached the library leaves the folder, and the folder goes
    // once empty; a file that was not imported stays.
    importAndWait((source_ / "a").string(), true);
    EXPECT_FALSE(fs::exists(source_ / "a"));
    importAndWait((source_ / "b").string(), true);
    EXPECT_EQ(filesBelow((source_ / "b").string()), (std::set<std::string>{"empty.dcm", "notes.txt"}));
    EXPECT_EQ(filesBelow(root_), expected);
    EXPECT_EQ(count("image"), 4);
}

TEST_F(ImportTest, HostileNamesAndUIDsStayInsideTheLibraryAndVerbatimInTheRows)
{
    const std::string evilName = "A\"); drop table patient; --";
    writeImage(source_ / "1.dcm", evilName, "x' or '1'='1", "1/2/../..", "..", "../../x", 1,
               {{{0x0008, 0x103E}, "name"}});
    writeImage(source_ / "2.dcm", "../../y", "..", "..", "/", "2.25.1001.2002.3003", 1);
    writeImage(source_ / "3.dcm", "A/B", "1", "2.25.5005", "2.25.5005.1", "2.25.5005.1.1", 1);
    writeImage(source_ / "4.dcm", "A_B", "1", "2.25.5005", "2.25.5005.1", "2.25.5005.1.1", 1);
    importAndWait(source_.string());

    EXPECT_EQ(count("image"), 4);
    for (const char* table : {"version", "patient", "study", "series", "image"})
        EXPECT_TRUE(db_->connectionForTest().tableExists(table)) << table;
    NSUI::NSDBDataModel p = query("select name,patientIDHospital from patient order by ID");
    ASSERT_EQ(p.getRowCount(), 4);
    EXPECT_EQ(p.getValue(0, 0), evilName);
    EXPECT_EQ(p.getValue(0, 1), "x' or '1'='1");
    EXPECT_EQ(p.getValue(1, 0), "../../y");
    NSUI::NSDBDataModel rows = query("select studyUID,seriesUID,SeriesDesc,path,imageUID,file from study,series,image "
                                     "where study.ID=series.studyID and series.ID=image.seriesID order by image.ID");
    EXPECT_EQ(rows.getValue(0, 0), "1/2/../..");
    EXPECT_EQ(rows.getValue(0, 1), "..");
    EXPECT_EQ(rows.getValue(0, 2), "name");
    EXPECT_EQ(rows.getValue(0, 4), "../../x");
    // A UID that is no plain UID does not name the file: the source's name does.
    EXPECT_EQ(rows.getValue(0, 5), "1.dcm");

    // Every file lies below the library folder, at the place its row names; nothing was written
    // beside the library, and the two patients "A/B" and "A_B" have folders of their own.
    std::set<std::string> paths;
    for (int r = 0; r < rows.getRowCount(); ++r) {
        const std::string relative = rows.getValue(r, 3) + rows.getValue(r, 5);
        for (const auto& part : fs::path(relative)) EXPECT_TRUE(part != ".." && part != ".") << relative;
        EXPECT_TRUE(fs::is_regular_file(root_ + relative)) << relative;
        paths.insert(relative);
    }
    EXPECT_EQ(paths, filesBelow(root_));
    EXPECT_EQ(paths.size(), 4u);
    std::set<std::string> besides;
    for (const auto& entry : fs::directory_iterator(base_)) besides.insert(entry.path().filename().string());
    EXPECT_EQ(besides, (std::set<std::string>{"library", "source"}));
    EXPECT_NE(folderOf("A/B", "1", "2.25.5005", "2.25.5005.1"),
              folderOf("A_B", "1", "2.25.5005", "2.25.5005.1"));
}

// Values as the files really carry them: elements all stored as UN, dates and times in the older
// forms, and a name that holds the characters of the stored-image notice's flat JSON.
TEST_F(ImportTest, ValuesReadBackAsTheFilesCarryThem)
{
    std::vector<std::string> notices;
    struct Observer : cocos2d::Ref {} observer;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        &observer, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) { notices.push_back(d->text); },
        NSUI::NOTIFY_DB_PATIENT_STORED);
    // The same instance twice, every element UN.
    const Extra unknown = {{{0x0010, 0x0030}, "19800203"}, {{0x0010, 0x0040}, "M"}};
    writeImage(source_ / "un1.dcm", "Un^Known", "U1", "2.25.4001", "2.25.4001.1", "2.25.4001.1.1", 7, unknown);
    writeImage(source_ / "un2.dcm", "Un^Known", "U1", "2.25.4001", "2.25.4001.1", "2.25.4001.1.1", 7, unknown);
    rewriteAsUnknown(source_ / "un1.dcm");
    rewriteAsUnknown(source_ / "un2.dcm");
    writeImage(source_ / "old.dcm", "Old^Forms", "O1", "2.25.4002", "2.25.4002.1", "2.25.4002.1.1", 1,
               {{{0x0008, 0x0020}, "1997.04.01"}, {{0x0008, 0x0030}, "11:20:00"}, {{0x0008, 0x0021}, "2002.03.11"},
                {{0x0008, 0x0031}, "09:05:07.25"}, {{0x0010, 0x0030}, "1960.01.02"}});
    writeImage(source_ / "neither.dcm", "Neither^Form", "N1", "2.25.4003", "2.25.4003.1", "2.25.4003.1.1", 1,
               {{{0x0008, 0x0020}, "1.4.1997"}, {{0x0008, 0x0030}, "11h20"}, {{0x0008, 0x0021}, "2002.3.11"},
                {{0x0008, 0x0031}, "11:2:00"}});
    const std::string quoted = "Doe\",\"sex\":\"M";
    writeImage(source_ / "quoted.dcm", quoted, "Q1", "2.25.4004", "2.25.4004.1", "2.25.4004.1.1", 1,
               {{{0x0010, 0x0040}, "F"}, {{0x0008, 0x1030}, "Head\",\"x\":\"y"}});
    importAndWait(source_.string());
    // The notices are posted after the rows are written.
    auto quotedNotice = [&notices] {
        for (const std::string& text : notices)
            if (NSUI::UIJson::getString(text, "patientIDHospital") == "Q1") return text;
        return std::string();
    };
    EXPECT_TRUE(stepUntil([&] { return !quotedNotice().empty(); }));
    NSUI::NSNotificationCenter::getInstance()->removeObserver(&observer);

    EXPECT_EQ(count("image"), 4);
    NSUI::NSDBDataModel p = query("select name,patientIDHospital,birthday,sex from patient order by patientIDHospital");
    const std::vector<std::vector<std::string>> patients = {{"Neither^Form", "N1", "", "U"},
                                                            {"Old^Forms", "O1", "19600102", "U"},
                                                            {quoted, "Q1", "", "F"},
                                                            {"Un^Known", "U1", "19800203", "M"}};
    ASSERT_EQ(p.getRowCount(), 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(p.getValue(r, c), patients[r][c]) << r << "," << c;
    NSUI::NSDBDataModel rows = query("select studyUID,study.date,study.time,study.updateTime,series.date,series.time,"
                                     "imageUID,file from study,series,image where study.ID=series.studyID and "
                                     "series.ID=image.seriesID order by studyUID");
    const std::vector<std::vector<std::string>> images = {
        {"2.25.4001", "20240517", "101112", "2024-05-17 10:11:12", "", "", "2.25.4001.1.1", "2.25.4001.1.1"},
        {"2.25.4002", "19970401", "112000", "1997-04-01 11:20:00", "20020311", "090507", "2.25.4002.1.1",
         "2.25.4002.1.1"},
        {"2.25.4003", "", "", "*", "", "", "2.25.4003.1.1", "2.25.4003.1.1"},  // stored at the time of import
        {"2.25.4004", "20240517", "101112", "2024-05-17 10:11:12", "", "", "2.25.4004.1.1", "2.25.4004.1.1"}};
    ASSERT_EQ(rows.getRowCount(), 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c) {
            if (images[r][c] != "*") {
                EXPECT_EQ(rows.getValue(r, c), images[r][c]) << r << "," << c;
            }
        }
    // The UN copy stored in the library still reads, pixels included.
    redIRI::dcmReader reader;
    const std::string unknownCopy = root_ + folderOf("Un^Known", "U1", "2.25.4001", "2.25.4001.1") + "/2.25.4001.1.1";
    EXPECT_TRUE(reader.setFile(unknownCopy.c_str()));
    unsigned short columns = 0;
    EXPECT_TRUE(reader.readDicomTagUint16(0x0028, 0x0011, columns));
    EXPECT_EQ(columns, 16);
    redIRI::dcmReader::PixelType type;
    int pixels = 0;
    EXPECT_NE(reader.readDicomPixelPointer(type, pixels), nullptr);
    EXPECT_EQ(pixels, 16 * 8);

    // The notice of the quoted name keeps its own keys, the texts read back with "_" for the
    // characters the flat JSON cannot hold.
    const std::string notice = quotedNotice();
    ASSERT_FALSE(notice.empty());
    EXPECT_EQ(NSUI::UIJson::getString(notice, "name"), "Doe___sex_:_M");
    EXPECT_EQ(NSUI::UIJson::getString(notice, "sex"), "F");
    EXPECT_EQ(NSUI::UIJson::getString(notice, "studyDesc"), "Head___x_:_y");
    EXPECT_EQ(NSUI::UIJson::getString(notice, "x"), "");
    size_t keys = 0;
    for (size_t at = notice.find("\":\""); at != std::string::npos; at = notice.find("\":\"", at + 1)) ++keys;
    EXPECT_EQ(keys, 16u) << notice;
}

TEST_F(ImportTest, SeriesRowsAreReadFromTheFirstImageAndAStoredSeriesLosesItsCache)
{
    const Extra ct = {{{0x0018, 0x0060}, "120"}, {{0x0018, 0x1151}, "200"}, {{0x0008, 0x0021}, "20240518"},
                      {{0x0008, 0x0031}, "070809"}};
    writeImage(source_ / "ct1.dcm", "Row^Test", "R1", "2.25.3001", "2.25.3001.1", "2.25.3001.1.1", 1, ct);
    writeImage(source_ / "ct2.dcm", "Row^Test", "R1", "2.25.3001", "2.25.3001.1", "2.25.3001.1.2", 2, ct);
    // A second series whose first image goes missing from the disk: left out of the list.
    writeImage(source_ / "gone.dcm", "Row^Test", "R1", "2.25.3001", "2.25.3001.2", "2.25.3001.2.1", 1);
    importAndWait(source_.string());
    const std::string gone =
        root_ + folderOf("Row^Test", "R1", "2.25.3001", "2.25.3001.2") + "/2.25.3001.2.1";
    ASSERT_TRUE(fs::remove(gone));

    NSUI::NSDBDataModel rows;
    bool called = false;
    int screen = 0;
    db_->requestStudies([&](NSUI::NSDBDataModel* r) { rows = *r; called = true; }, "1", &screen);
    ASSERT_TRUE(stepUntil([&] { return called; }));
    ASSERT_EQ(rows.getRowCount(), 2);
    EXPECT_EQ(rows.getValue(0, 0), "study");
    EXPECT_EQ(rows.getValue(0, 4), "2024.05.17");
    const std::string folder = folderOf("Row^Test", "R1", "2.25.3001", "2.25.3001.1") + "/";
    const std::vector<std::string> expected = {"1", "1", "2024.05.18 070809", "synthetic", folder, "2", "16", "8",
                                               "Test Hospital", "CT", "120kV 200mA", "2"};
    ASSERT_EQ(rows.getColumnCount(1), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(rows.getValue(1, static_cast<int>(i)), expected[i]) << i;

    // A third image: the series' cache and thumbnails go, and 2001 carries the series row.
    std::vector<NSUI::NSDBDataModel> stored;
    struct Observer : cocos2d::Ref {} observer;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        &observer, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) {
            stored.push_back(*static_cast<NSUI::NSDBDataModel*>(d->userData));
        },
        NSUI::NOTIFY_DB_STUDY_STORED);
    const std::string cache = isImageSDK::isDcmScan::getCacheFolder() +
                              isImageSDK::isDcmScan::getCacheKey(root_ + folder) + ".prebin";
    fs::create_directories(fs::path(cache).parent_path());
    std::ofstream(cache) << "old";
    std::ofstream(root_ + folder + "thrumb3") << "old";
    fs::remove_all(source_);
    writeImage(source_ / "ct3.dcm", "Row^Test", "R1", "2.25.3001", "2.25.3001.1", "2.25.3001.1.3", 3, ct);
    importAndWait(source_.string());
    ASSERT_TRUE(stepUntil([&] { return !stored.empty(); }));
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_FALSE(fs::exists(root_ + folder + "thrumb3"));
    const std::vector<std::string> storedRow = {"1", "2024.05.18 070809", "synthetic", folder, "3", "16", "8",
                                                "Test Hospital", "CT", "120kV 200mA", "2"};
    ASSERT_EQ(stored[0].getColumnCount(0), static_cast<int>(storedRow.size()));
    for (size_t i = 0; i < storedRow.size(); ++i) EXPECT_EQ(stored[0].getValue(0, static_cast<int>(i)), storedRow[i]) << i;
    NSUI::NSNotificationCenter::getInstance()->removeObserver(&observer);
}

TEST_F(ImportTest, ObjectsWithoutAnImageUIDAndTheProgramsOwnFoldersAreNeverImported)
{
    // Fifteen objects without a SOP Instance UID (as DICOMDIR files are): nothing copied, a log
    // line for each of the first three and a count of the others at the import's end (the lines of
    // one import are bounded, however many files it skips), and the one good image beside them gets
    // the one row.
    for (int i = 0; i < 15; ++i)
        writeImage(source_ / "dir" / ("DICOMDIR" + std::to_string(i)), "No^Uid", "N1", "2.25.8001", "2.25.8001.1", "", i);
    writeImage(source_ / "dir" / "good.dcm", "No^Uid", "N1", "2.25.8001", "2.25.8001.1", "2.25.8001.1.1", 1);
    qvtest::LogCapture log;
    importAndWait(source_.string());
    EXPECT_EQ(importer_->getCopiedCount(), 1);
    EXPECT_EQ(importer_->getFinishedCount() - importer_->getCopiedCount(), 15);
    // The import's worker counts what it left out once its last file has finished.
    EXPECT_TRUE(stepUntil([&] { return countLine(log) > 0; }));
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("has no SOP Instance UID") != std::string::npos; }),
              3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "import: 12 more lines left out of the log (3 of each kind are written)"),
              1);
    EXPECT_EQ(filesBelow(root_).size(), 1u);
    EXPECT_EQ(count("image"), 1);

    // A file another copy of the program moved away before its turn is counted and said as gone,
    // not as a file that is no DICOM.
    EXPECT_EQ(importer_->getGoneCount(), 0);
    {
        qvtest::LogCapture goneLog;
        importAndWait((source_ / "dir" / "moved-away.dcm").string());
        EXPECT_EQ(importer_->getGoneCount(), 1);
        EXPECT_EQ(goneLog.count("import: \"" + (source_ / "dir" / "moved-away.dcm").string() +
                                "\" not imported: it is no longer there (moved or removed meanwhile)"),
                  1);
    }

    // A folder that holds the program's data folder: only what lies outside it is read.
    const fs::path home = base_ / "home";
    const std::string library = (home / "qv" / "dicom").string() + "/";
    writeImage(home / "qv" / "dicom" / "p" / "s" / "r" / "1", "In^Library", "L1", "2.25.8002", "2.25.8002.1", "2.25.8002.1.1", 1);
    writeImage(home / "qv" / "tmp" / "page.dcm", "In^Program", "L2", "2.25.8003", "2.25.8003.1", "2.25.8003.1.1", 1);
    writeImage(home / "mine" / "1.dcm", "Mine^Own", "M1", "2.25.8004", "2.25.8004.1", "2.25.8004.1.1", 1);
    importDcm* other = importDcm::create();
    other->retain();
    other->setRoot(library);
    other->importFolder(home.string() + "/");
    ASSERT_TRUE(stepUntil([&] { return !other->isBusy(); }));
    EXPECT_EQ(other->getQueuedCount(), 1);
    EXPECT_EQ(other->getCopiedCount(), 1);
    // Nor is anything inside the library itself, asked for directly.
    other->importFolder(library);
    other->importFolder(library + "p/s/r/1");
    EXPECT_EQ(other->getQueuedCount(), 1);
    other->stop();
    other->release();
    step(3);
}

TEST_F(ImportTest, LinksToFoldersAreNotFollowedAndLinksToFilesAreRead)
{
    // A link to the folder's parent and one to "/" would list the same files again and again and
    // then the whole system; a link to a folder elsewhere is not descended either. Links to files
    // are read, wherever the file lies.
    const fs::path elsewhere = base_ / "elsewhere";
    writeImage(source_ / "a" / "1.dcm", "Link^Ed", "K1", "2.25.8101", "2.25.8101.1", "2.25.8101.1.1", 1);
    writeImage(elsewhere / "2.dcm", "Link^Ed", "K1", "2.25.8101", "2.25.8101.1", "2.25.8101.1.2", 2);
    writeImage(elsewhere / "3.dcm", "Link^Ed", "K1", "2.25.8101", "2.25.8101.1", "2.25.8101.1.3", 3);
    fs::create_directory_symlink("..", source_ / "a" / "up");
    fs::create_directory_symlink("/", source_ / "a" / "root");
    fs::create_directory_symlink(elsewhere, source_ / "c");
    fs::create_directories(source_ / "b");
    fs::create_symlink(elsewhere / "2.dcm", source_ / "b" / "link.dcm");
    fs::create_symlink(elsewhere / "gone.dcm", source_ / "b" / "dangling.dcm");

    importAndWait(source_.string());
    EXPECT_EQ(importer_->getQueuedCount(), 2);
    EXPECT_EQ(importer_->getCopiedCount(), 2);
    const std::string folder = folderOf("Link^Ed", "K1", "2.25.8101", "2.25.8101.1");
    EXPECT_EQ(filesBelow(root_), (std::set<std::string>{folder + "/2.25.8101.1.1", folder + "/2.25.8101.1.2"}));
    EXPECT_EQ(count("image"), 2);
}

TEST_F(ImportTest, CraftedFilesAreRefusedByTheImportAndTheScanAndTheNextFileIsRead)
{
    // Files made to break the DICOM reader: each is refused with a log line naming it, nothing
    // of them is stored, and the good images listed after them are read as usual.
    const fs::path crafted = fs::path(QV_SOURCE_DIR) / "platform" / "dicom" / "tests" / "data" / "crafted";
    std::vector<std::string> names;
    fs::create_directories(source_ / "series");
    for (const auto& entry : fs::directory_iterator(crafted)) {
        fs::copy_file(entry.path(), source_ / "series" / entry.path().filename());
        names.push_back(entry.path().filename().string());
    }
    ASSERT_GE(names.size(), 4u);
    // The first good image has a Temporal Position Index of 4640, encoded 04 00 20 12 as the tag
    // of a directory record sequence.
    for (int i = 1; i <= 3; ++i)
        writeImage(source_ / "series" / ("z" + std::to_string(i) + ".dcm"), "After^Crafted", "C1", "2.25.8201",
                   "2.25.8201.1", "2.25.8201.1." + std::to_string(i), i,
                   i == 1 ? Extra{{{0x0020, 0x9128}, "4640"}} : Extra{});
    qvtest::LogCapture log;
    redIRI::setLogCallback([](const char* text) { cocos2d::log("%s", text); });  // as the program does
    importAndWait(source_.string());
    EXPECT_EQ(importer_->getFinishedCount(), static_cast<int>(names.size()) + 3);
    EXPECT_EQ(importer_->getCopiedCount(), 3);
    EXPECT_EQ(filesBelow(root_).size(), 3u);
    EXPECT_EQ(count("image"), 3);
    EXPECT_EQ(count("patient"), 1);
    const std::vector<std::string> lines = log.lines();
    for (const std::string& name : names) {
        const std::string refusal = "dcmReadTag: cannot read \"" + (source_ / "series" / name).string() + "\"";
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(refusal) != std::string::npos; }))
            << name;
    }

    // The folder scan of the viewer: one series of the three good slices.
    const std::string series = (source_ / "series").string() + "/";
    ASSERT_TRUE(isImageSDK::isDcmScan::createBuffer(series));
    isImageSDK::SeriesCacheContents cache;
    ASSERT_EQ(isImageSDK::readSeriesCache(isImageSDK::isDcmScan::getBufferPathOfFolder(series), cache),
              isImageSDK::CacheReadResult::Ok);
    const size_t slices = cache.kind == isImageSDK::SeriesCacheContents::KIND_VOLUME ? cache.slices.size()
                                                                                     : cache.records.size();
    EXPECT_EQ(slices, 3u);
    for (const std::string& name : cache.names) EXPECT_EQ(name[0], 'z') << name;
    redIRI::setLogCallback(nullptr);
}

// A file's name is written into the log as one clean line: a line break in it starts no line of its
// own, and an escape, a bell or bytes that are no UTF-8 reach no terminal.
TEST_F(ImportTest, FileNamesWithLineBreaksEscapesAndInvalidBytesGiveOneCleanLineEach)
{
    const std::string names[] = {"a\nDICOM retrieval of series 2.25.1 failed: FORGED", "b\x1b[2J\x07", "c\xFF\xFE"};
    fs::create_directories(source_ / "named");
    for (const std::string& name : names)
        std::ofstream(source_ / "named" / name) << "no DICOM";
    qvtest::LogCapture log;
    redIRI::setLogCallback([](const char* text) { cocos2d::log("%s", text); });  // as the program does
    importer_->importFolder((source_ / "named").string());
    ASSERT_TRUE(stepUntil([&] { return !importer_->isBusy(); }));
    redIRI::setLogCallback(nullptr);
    EXPECT_EQ(importer_->getFinishedCount(), 3);
    const std::string folder = (source_ / "named").string() + "/";
    for (const std::string& shown : {folder + "a DICOM retrieval of series 2.25.1 failed: FORGED", folder + "b [2J",
                                     folder + "c\xEF\xBF\xBD\xEF\xBF\xBD"}) {
        const std::string prefix = "import: \"" + shown + "\" not imported: ";
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }),
                  1)
            << shown;
    }
    for (const std::string& line : log.lines()) {
        EXPECT_EQ(line.find_first_of("\n\x1b\x07"), std::string::npos) << line;
        EXPECT_EQ(line.find("\xFF"), std::string::npos) << line;
    }
}

// What an import logs is bounded whatever the number of files it skips: three hundred empty files
// (what an archive of empty entries unpacks to) give a few lines of each kind, then their count.
TEST_F(ImportTest, AnImportOfManyEmptyFilesWritesABoundedLog)
{
    fs::create_directories(source_ / "empty");
    for (int i = 0; i < 300; ++i)
        std::ofstream(source_ / "empty" / ("e" + std::to_string(i)));
    qvtest::LogCapture log;
    redIRI::setLogCallback([](const char* text) { cocos2d::log("%s", text); });  // as the program does
    importer_->importFolder((source_ / "empty").string());
    ASSERT_TRUE(stepUntil([&] { return !importer_->isBusy(); }));
    // The import's worker counts what it left out once its last file has finished.
    EXPECT_TRUE(stepUntil([&] { return countLine(log) > 0; }));
    redIRI::setLogCallback(nullptr);
    EXPECT_EQ(importer_->getFinishedCount(), 300);
    EXPECT_LE(log.lines().size(), 10u);
    EXPECT_EQ(countLine(log), 1u);
}

TEST_F(ImportTest, AFullDiskOrAnUnwritableLibraryLeavesNoFileUnlistedAndSaysWhy)
{
    // As the library screen imports: a file counts as copied once its rows are written.
    importer_->setIndexer([this](std::unique_ptr<redIRI::DCM_MESSAGE> record, std::function<void(bool)> done) {
        db_->queueStoredImage(std::move(record), std::move(done));
    });
    for (int i = 1; i <= 6; ++i) {
        writeImage(source_ / "full" / (std::to_string(i) + ".dcm"), "Full^Disk", "F1", "2.25.8301", "2.25.8301.1",
                   "2.25.8301.1." + std::to_string(i), i);
        // A finished retrieval's folder, moved into the library.
        writeImage(source_ / "moved" / (std::to_string(i) + ".dcm"), "Full^Disk", "F1", "2.25.8301", "2.25.8301.2",
                   "2.25.8301.2." + std::to_string(i), i);
    }
    const auto size = static_cast<long long>(fs::file_size(source_ / "full" / "1.dcm"));
    const struct {
        long long room;  // bytes the disk has room for; -1: no limit
        bool lockLibrary;
        const char* folder;
        bool move, acrossFileSystems;
        int copied, noRoom, listed;
        const char* reason;  // of the log line of each file not copied
        int logged;
        int sourcesLeft;
    } cases[] = {
        // Four skipped for want of room: three of them logged, the fourth counted at the import's end
        // (so for every reason the import's worker logs).
        {(8 << 20) + 2 * size + size / 2, false, "full", false, false, 2, 4, 2, "the disk is full (its last 8 MiB are kept", 3, 6},
        // Held by another program: every copy stays, waits, and is listed (and only then reported)
        // once the file is free.
        {-1, true, "full", false, false, 6, 0, 6, "not imported", 0, 6},
        {-1, false, "full", false, false, 6, 0, 6, "", 0, 6},  // again: everything, once
        // A move to another file system is a copy and needs the room of one; within one file system
        // a move is a rename and needs no room, and moved files wait in the library like copies.
        {(8 << 20) + size / 2, false, "moved", true, true, 0, 6, 6, "the disk is full (its last 8 MiB are kept", 3, 6},
        {(8 << 20) + size / 2, true, "moved", true, false, 6, 0, 12, "not imported", 0, 0},
    };
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "dicomDB").c_str(), &other), SQLITE_OK);
    // A hold waits for the library to let go of the file, as the program holding it would.
    sqlite3_busy_timeout(other, 10000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.room);
        qvtest::LogCapture log;
        const int copiedBefore = importer_->getCopiedCount(), noRoomBefore = importer_->getNoRoomCount();
        const int finishedBefore = importer_->getFinishedCount();
        redIRI::disk::setRoomForTest(c.room);
        if (c.lockLibrary) {
            ASSERT_EQ(sqlite3_exec(other, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
            db_->connectionForTest().setBeginRetryForTest(2, 1);
        }
        redIRI::disk::setMoveAcrossFileSystemsForTest(c.acrossFileSystems);
        importer_->importFolder((source_ / c.folder).string(), c.move);
        if (c.lockLibrary) {
            // While held: all six wait in the library, none is reported either way.
            ASSERT_TRUE(stepUntil([&] { return db_->waitingCount() == 6; }));
            EXPECT_TRUE(importer_->isBusy());
            EXPECT_EQ(importer_->getFinishedCount() - finishedBefore, 0);
            EXPECT_EQ(static_cast<int>(filesBelow(root_).size()), c.listed);
            EXPECT_TRUE(fs::exists(root_ + dicomDB::kWaitingRecord));
            sqlite3_exec(other, "commit;", nullptr, nullptr, nullptr);
        }
        ASSERT_TRUE(stepUntil([&] { return !importer_->isBusy(); }));
        redIRI::disk::setRoomForTest(-1);
        redIRI::disk::setMoveAcrossFileSystemsForTest(false);
        if (c.lockLibrary) {
            db_->connectionForTest().setBeginRetryForTest(50, 50);
            EXPECT_FALSE(fs::exists(root_ + dicomDB::kWaitingRecord));
        }
        // Reported once the rows are written: what the import counts as copied is listed already.
        EXPECT_EQ(importer_->getCopiedCount() - copiedBefore, c.copied);
        EXPECT_EQ(importer_->getNoRoomCount() - noRoomBefore, c.noRoom);
        {
            std::lock_guard<std::recursive_mutex> lock(db_->dbMutex);
            EXPECT_EQ(count("image"), c.listed);
        }
        EXPECT_EQ(static_cast<int>(filesBelow(root_).size()), c.listed) << "no file is left without its row";
        EXPECT_TRUE(fs::is_empty(root_ + ".incoming")) << "no part of a copy is left";
        EXPECT_EQ(static_cast<int>(filesBelow((source_ / c.folder).string()).size()), c.sourcesLeft);
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) {
                                    return l.rfind("import: \"", 0) == 0 && l.find(c.reason) != std::string::npos;
                                }),
                  c.logged);
    }
    sqlite3_close(other);
}

TEST_F(ImportTest, AMovedFileTheLibraryRefusesIsKeptWhenItsFolderWentWithTheOthers)
{
    // Both files are in the library before either is answered: the first, listed, takes the
    // folder it leaves empty with it; the second, refused, has no folder to go back to.
    std::mutex mutex;
    std::vector<std::function<void(bool)>> answers;
    importer_->setIndexer([&](std::unique_ptr<redIRI::DCM_MESSAGE>, std::function<void(bool)> done) {
        std::lock_guard<std::mutex> lock(mutex);
        answers.push_back(std::move(done));
    });
    for (int i = 1; i <= 2; ++i)
        writeImage(source_ / "gone" / (std::to_string(i) + ".dcm"), "Gone^Folder", "G1", "2.25.8302", "2.25.8302.1",
                   "2.25.8302.1." + std::to_string(i), i);
    std::optional<bool> whole;
    importer_->importFolder((source_ / "gone").string(), true, [&](bool all) { whole = all; });
    ASSERT_TRUE(stepUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return answers.size() == 2;
    }));
    answers[0](true);
    answers[1](false);
    ASSERT_TRUE(stepUntil([&] { return !importer_->isBusy(); }));
    const size_t kept = fs::exists(source_ / "gone") ? filesBelow(source_ / "gone").size() : 0;
    EXPECT_EQ(kept + filesBelow(root_).size(), 2u) << "a refused file is never the only copy removed";
    ASSERT_TRUE(stepUntil([&] { return whole.has_value(); }));
    EXPECT_FALSE(*whole) << "an import that left a file out is not whole";
}

TEST_F(ImportTest, AnImportHoldsNoTreeOnceItsFilesAreCopied)
{
    // A dense image (a sequence of 100,000 items: some 45 MB of DCMTK's tree) is imported while
    // the heap is watched: once the import is idle, nothing of its tree is held.
    writeImage(source_ / "warm" / "a.dcm", "Dense^Pat", "D1", "2.25.8301", "2.25.8301.1", "2.25.8301.1.1", 1);
    importAndWait((source_ / "warm").string());
    const fs::path dense = source_ / "dense" / "b.dcm";
    writeImage(dense, "Dense^Pat", "D1", "2.25.8301", "2.25.8301.1", "2.25.8301.1.2", 2);
    {
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(dense.c_str()).good());
        auto* sequence = new DcmSequenceOfItems(DCM_ReferencedImageSequence);
        for (int i = 0; i < 100000; ++i) {
            auto* item = new DcmItem();
            item->putAndInsertString(DCM_ReferencedSOPInstanceUID, "2.25.8301");
            sequence->append(item);
        }
        ASSERT_TRUE(file.getDataset()->insert(sequence).good());
        ASSERT_TRUE(file.saveFile(dense.c_str(), EXS_LittleEndianExplicit).good());
    }
    const size_t before = heapInUse();
    importAndWait((source_ / "dense").string());
    EXPECT_EQ(importer_->getCopiedCount(), 2);
    EXPECT_LT(heapInUse(), before + (size_t(15) << 20));  // a third of the tree
}

// The child imports until it is killed; the parent then opens what it left.
TEST_F(ImportTest, AProcessKilledDuringImportLeavesALibraryThatOpensWithRowsOnlyForFiles)
{
    const int kFiles = 400;
    for (int i = 0; i < kFiles; ++i)
        writeImage(source_ / ("s" + std::to_string(i / 100)) / (std::to_string(i) + ".dcm"), "Kill^Me", "K1",
                   "2.25.7001", "2.25.7001." + std::to_string(i / 100),
                   "2.25.7001." + std::to_string(i / 100) + "." + std::to_string(i), i);
    closeLibrary();
    fs::remove_all(root_);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        openLibrary();
        importer_->importFolder(source_.string());
        for (;;) {  // until killed; should the import end first, the child stays idle
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Kill it once a good part of the rows is written.
    NSUI::NSDBUtil watcher;
    int rows = 0;
    for (int tries = 0; tries < 6000 && rows < 60; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        NSUI::NSDBDataModel m;
        if (fs::exists(root_ + "dicomDB") && watcher.open(root_ + "dicomDB") && watcher.query("select count() from image", m))
            rows = std::atoi(m.getValue(0, 0).c_str());
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(rows, 60);

    // The next start finds the run did not close: every file copied gets its row, once, every row
    // has its file, and the unfinished copy is gone.
    const size_t copied = filesBelow(root_).size();
    openLibrary();
    ASSERT_TRUE(stepUntil([&] { return !db_->isReconciling(); }, 20000));
    NSUI::NSDBDataModel check = query("pragma integrity_check");
    EXPECT_EQ(check.getValue(0, 0), "ok");
    NSUI::NSDBDataModel images = query("select path,file from series,image where series.ID=image.seriesID");
    for (int r = 0; r < images.getRowCount(); ++r)
        EXPECT_TRUE(fs::is_regular_file(root_ + images.getValue(r, 0) + images.getValue(r, 1))) << r;
    EXPECT_EQ(static_cast<size_t>(images.getRowCount()), copied);
    EXPECT_EQ(query("select count(distinct imageUID) from image").getValue(0, 0), std::to_string(copied));
    EXPECT_TRUE(fs::is_empty(root_ + ".incoming"));

    // Importing the folder again completes the library.
    importAndWait(source_.string());
    EXPECT_EQ(count("image"), kFiles);
    EXPECT_EQ(filesBelow(root_).size(), static_cast<size_t>(kFiles));
}

} // namespace
