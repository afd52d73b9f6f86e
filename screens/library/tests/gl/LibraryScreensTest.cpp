// The home screen, the study list and the share panel used through the real program scene: the
// example study on a first start, imports of folders and zip archives, deletes, thumbnails,
// opening the viewer and sharing.
#include "LibraryAppFixture.h"

#include "GLTestProgram.h"

#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "NSFileUtil.h"
#include "NSStringUtil.h"
#include "ShapingReference.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSSpriteView.h"
#include "NSZip.h"
#include "zip.h"
#include "UILocalConfig.h"
#include "dcmDiskWrite.h"
#include "dicomDB.h"
#include "importDcm.h"
#include "isDcmScan.h"
#include "dataService.h"
#include "libraryWorkers.h"
#include "shareTo.h"
#include "statApplication.h"
#include "viewerScreenHook.h"
#include "qvBuildPaths.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

USING_NS_CC;
using namespace libraryapp;

namespace {

// The usage events recorded so far, as "type" or "type:value" in the order recorded.
std::vector<std::string> statisticsEvents()
{
    NSUI::NSDBUtil db;
    NSUI::NSDBDataModel model;
    std::vector<std::string> out;
    if (!db.open(statApplication::databasePath()) || !db.query("select type,value from stat order by ID", model))
        return out;
    for (int i = 0; i < model.getRowCount(); ++i)
        out.push_back(model.getValue(i, 0) + (model.getValue(i, 1).empty() ? "" : ":" + model.getValue(i, 1)));
    return out;
}

} // namespace

TEST_F(LibraryAppTest, FirstStartShowsTheExamplePatientOnceAndLaterStartsOpenIt)
{
    launch(true);
    ASSERT_NE(home(), nullptr);
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) &&
                                        rowAt(home(), 0)->imageCount == 201; }));
    patientList::listObject* row = rowAt(home(), 0);
    EXPECT_EQ(row->name, "PHANTOM^QUORVANE");
    EXPECT_EQ(row->studyCount, 1);
    EXPECT_EQ(row->seriesCount, 2);
    EXPECT_TRUE(row->isNew);
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString("app_init_db", ""), "0");
    // What was unpacked for the import goes once it is in the library.
    EXPECT_TRUE(frameUntil([&] { return !FileUtils::getInstance()->isDirectoryExist(
                                     FileUtils::getInstance()->getWritablePath() + "qv/tmp/example/"); }));
    ASSERT_NE(home()->getHintNode(), nullptr);
    EXPECT_TRUE(home()->getHintNode()->isVisible());  // fewer than four patients
    // The empty library's text is not shown beside a listed patient.
    Node* emptyText = home()->getHintNode()->getChildByName(patientList::kEmptyTextName);
    ASSERT_NE(emptyText, nullptr);
    EXPECT_FALSE(emptyText->isVisible());
    // The update service's active folder comes first, then the program's own five.
    const std::vector<std::string> paths = FileUtils::getInstance()->getSearchPaths();
    const std::vector<std::string>& own = AppDelegate::searchPaths();
    ASSERT_EQ(paths.size(), own.size() + 1);
    for (size_t i = 0; i < own.size(); ++i) {
        const std::string& path = paths[i + 1];
        EXPECT_NE(path.find(own[i]), std::string::npos) << path;
    }
    EXPECT_NE(paths[0].find("qv/update/temp"), std::string::npos) << paths[0];
    quit();

    // The second start imports nothing more; the example's folder is gone, and a wide window opens
    // the first patient in the side panel, with the thumbnails of its series.
    launch(true);
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && panel() && panel()->isLoaded(); }));
    EXPECT_FALSE(FileUtils::getInstance()->isDirectoryExist(FileUtils::getInstance()->getWritablePath() +
                                                             "qv/tmp/example/"));
    ASSERT_TRUE(frameUntil([&] { return !panel()->getThumbnailFolder().empty() && !panel()->isThumbnailBusy(); }));
    Node* thumb = panel()->getLayoutRoot()->getChildByNameDeep("thrumb0");
    ASSERT_NE(thumb, nullptr);
    EXPECT_TRUE(thumb->isVisible());
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(panel()->getThumbnailFolder() + "thrumb5"));

    // Each start recorded its use of the screens: the patient list shown with its one patient, the
    // study list, and both left at the end.
    quit();
    std::vector<std::string> events = statisticsEvents();
    const auto count = [&events](const std::string& e) { return std::count(events.begin(), events.end(), e); };
    std::string all;
    for (const std::string& e : events)
        all += e + " ";
    EXPECT_EQ(count("0"), 2) << all;
    EXPECT_EQ(count("3"), 2) << all;
    EXPECT_EQ(count("4"), 2) << all;
    EXPECT_GE(count("19:1"), 1) << all;
    EXPECT_GE(count("5"), 1) << all;
    EXPECT_EQ(count("5"), count("6")) << all;
}

TEST_F(LibraryAppTest, InstallingTheExampleReadsOnlyItsImagesAndLogsNoError)
{
    std::mutex guard;
    std::vector<std::string> lines;
    cocos2d::setLogSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(guard);
        lines.push_back(line);
    });
    launch(true);
    const bool imported = frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) &&
                                                  rowAt(home(), 0)->imageCount == 201; });
    cocos2d::setLogSink(nullptr);
    ASSERT_TRUE(imported);
    // The archive's copy is unpacked, not read as an image: no file of the folder is refused.
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("not a DICOM file"), std::string::npos) << line;
        EXPECT_EQ(line.find("1.tmp"), std::string::npos) << line;
    }
    EXPECT_FALSE(FileUtils::getInstance()->isFileExist(FileUtils::getInstance()->getWritablePath() +
                                                       "qv/tmp/example/1.tmp"));
}

TEST_F(LibraryAppTest, ImportButtonImportsTheChosenFolderAndDeleteRemovesOnlyThatPatient)
{
    const std::string source = scratch + "source/";
    writeStudy(source + "a/", "ALPHA^ONE", "A-1");
    writeStudy(source + "b/", "BRAVO^TWO", "B-2");
    writeStudy(source + "c/", "CHARLIE^THREE", "C-3");
    launch(false);
    // An empty library says what to do.
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 0 && home()->getHintNode(); }));
    Node* emptyText = home()->getHintNode()->getChildByName(patientList::kEmptyTextName);
    ASSERT_NE(emptyText, nullptr);
    EXPECT_TRUE(emptyText->isVisible());
    // A chosen folder imports itself, not its parent.
    FileUtils::getInstance()->setChooseFileAnswer(source + "b/");
    Node* button = home()->getChildByNameDeep("importImage");
    ASSERT_NE(button, nullptr);
    clickNode(button);
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()); }));
    for (int i = 0; i < 30; ++i)
        frame();
    EXPECT_EQ(rowCount(home()), 1);
    EXPECT_EQ(rowAt(home(), 0)->name, "BRAVO^TWO");
    // The chooser answers a file; its folder is imported. What is no image is skipped, and the
    // end of the import says how many files went each way.
    FileUtils::getInstance()->setChooseFileAnswer(source + "chosen.dcm");
    std::ofstream(source + "notes.txt") << "not an image";
    takeToast();
    clickNode(button);
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 3 && importIdle(home()); }));
    std::string toast;
    ASSERT_TRUE(frameUntil([&] { return !(toast = takeToast()).empty(); }, 10.0));
    EXPECT_EQ(toast, "18 files imported, 1 skipped (not DICOM, damaged or refused)");
    ASSERT_TRUE(frameUntil([&] {
        for (ssize_t i = 0; i < 3; ++i)
            if (rowAt(home(), i)->imageCount != 6)
                return false;
        return true;
    }));
    dicomDB* db = dataService::getInstance()->getDatabase();
    const std::string root = home()->getLibraryRoot();
    ssize_t bravo = -1;
    for (ssize_t i = 0; i < 3; ++i)
        if (rowAt(home(), i)->name == "BRAVO^TWO")
            bravo = i;
    ASSERT_GE(bravo, 0);
    const std::string bravoID = rowAt(home(), bravo)->patientID;
    const std::string bravoFolder = root + rowAt(home(), bravo)->folder;
    ASSERT_TRUE(FileUtils::getInstance()->isDirectoryExist(bravoFolder));
    EXPECT_FALSE(rowAt(home(), bravo)->folder.empty());

    EXPECT_FALSE(emptyText->isVisible());
    home()->deletePatientAt(bravo);
    EXPECT_EQ(rowCount(home()), 2);
    ASSERT_TRUE(frameUntil([&] { return runningLibraryWorkers() == 0; }));
    EXPECT_FALSE(db->hasPatient(std::atoi(bravoID.c_str())));
    EXPECT_FALSE(FileUtils::getInstance()->isDirectoryExist(bravoFolder));
    for (ssize_t i = 0; i < 2; ++i)
        EXPECT_TRUE(FileUtils::getInstance()->isDirectoryExist(root + rowAt(home(), i)->folder));
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(root + "dicomDB"));

    // A disk with room for two and a half images beside the room the library's index keeps: the
    // toast says the rest found no room, the two it reports imported are listed by then; with room
    // again the next import lists all six.
    writeStudy(scratch + "full/", "DELTA^FULL", "D-4");
    const long long size = static_cast<long long>(std::filesystem::file_size(
        std::filesystem::directory_iterator(scratch + "full/")->path()));
    const auto delta = [&]() -> patientList::listObject* {
        for (ssize_t i = 0; i < rowCount(home()); ++i)
            if (rowAt(home(), i)->name == "DELTA^FULL")
                return rowAt(home(), i);
        return nullptr;
    };
    takeToast();
    redIRI::disk::setRoomForTest((8 << 20) + 2 * size + size / 2);
    home()->openPath(scratch + "full/");
    ASSERT_TRUE(frameUntil([&] { return !(toast = takeToast()).empty(); }, 10.0));
    redIRI::disk::setRoomForTest(-1);
    EXPECT_EQ(toast, "4 files were not imported: the disk is full.\n2 files imported.");
    ASSERT_TRUE(frameUntil([&] { return delta() && delta()->imageCount == 2; }));
    home()->openPath(scratch + "full/");
    ASSERT_TRUE(frameUntil([&] { return importIdle(home()) && delta()->imageCount == 6; }));
}

// A library whose database file cannot be written (it takes appends only) refuses an import before
// the chooser opens, saying that the library is why, not the files.
TEST_F(LibraryAppTest, ImportIntoALibraryThatCannotBeWrittenIsRefusedBeforeTheChooserOpens)
{
    const std::string source = scratch + "source/";
    writeStudy(source, "ALPHA^ONE", "A-1");
    launch(false);
    quit();
    const std::string file = scratch + "data/qv/dicom/dicomDB";
    auto appendOnly = [&file](bool on) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_APPEND_FL) : (flags & ~FS_APPEND_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    };
    if (!appendOnly(true))
        GTEST_SKIP() << "no append-only file here: " << std::strerror(errno);
    launch(false);
    dicomDB* db = dataService::getInstance()->getDatabase();
    ASSERT_TRUE(frameUntil([&] { return db->isReadOnly(); }));
    FileUtils::getInstance()->setChooseFileAnswer(source);
    std::vector<std::string> toasts;
    clickNode(home()->getChildByNameDeep("importImage"));
    frameUntil([&] {
        const std::string toast = takeToast();
        if (!toast.empty())
            toasts.push_back(toast);
        return std::count(toasts.begin(), toasts.end(), "The library cannot be written: nothing can be imported") > 0;
    }, 10.0);
    for (int i = 0; i < 30; ++i)
        frame();
    appendOnly(false);
    EXPECT_EQ(std::count(toasts.begin(), toasts.end(), "The library cannot be written: nothing can be imported"), 1);
    EXPECT_EQ(rowCount(home()), 0);
    for (const std::string& toast : toasts)
        EXPECT_EQ(toast.find("files imported"), std::string::npos) << toast;
}

TEST_F(LibraryAppTest, TwoZipArchivesOpenedBackToBackAreBothImported)
{
    const std::string source = scratch + "source/";
    writeStudy(source + "one/", "ZIP^ONE", "Z-1");
    writeStudy(source + "two/", "ZIP^TWO", "Z-2");
    ASSERT_TRUE(zipFiles(scratch + "one.zip", source + "one", ""));
    ASSERT_TRUE(zipFiles(scratch + "TWO.ZIP", source + "two", ""));
    // What an earlier run left unpacked goes at start; what these two unpack, once imported.
    const std::string unpacked = scratch + "data/qv/tmp/unzip/";
    ASSERT_TRUE(FileUtils::getInstance()->createDirectory(unpacked + "left"));
    std::ofstream(unpacked + "left/behind.bin") << "left";
    launch(false);
    EXPECT_FALSE(FileUtils::getInstance()->isDirectoryExist(unpacked));
    app->openDocument((scratch + "one.zip").c_str());
    app->openDocument((scratch + "TWO.ZIP").c_str());
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 2 && importIdle(home()) &&
                                        rowAt(home(), 0)->imageCount == 6 && rowAt(home(), 1)->imageCount == 6; }));
    ASSERT_TRUE(frameUntil([&] { return !home()->isUnpacking(); }));
    EXPECT_FALSE(FileUtils::getInstance()->isDirectoryExist(unpacked));
}

TEST_F(LibraryAppTest, AZipChosenInTheImportDialogIsUnpackedAndItsCraftedFilesRefused)
{
    // The archive holds a study and the files kept from fuzzing the DICOM reader: the program
    // stays up, the study is imported, and the toast counts the crafted files as refused.
    const std::string source = scratch + "source/";
    writeStudy(source + "three/", "ZIP^THREE", "Z-3");
    const std::string crafted = std::string(QV_SOURCE_DIR) + "/platform/dicom/tests/data/crafted/";
    std::vector<std::string> names;
    listFiles(crafted, names, false, false);
    ASSERT_GE(names.size(), 4u);
    for (const std::string& name : names)
        ASSERT_TRUE(copyFile(crafted + name, source + "three/" + name));
    ASSERT_TRUE(zipFiles(scratch + "Three.Zip", source + "three", ""));
    launch(false);
    FileUtils::getInstance()->setChooseFileAnswer(scratch + "Three.Zip");
    takeToast();
    clickNode(home()->getChildByNameDeep("importImage"));
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 6; }));
    EXPECT_EQ(rowAt(home(), 0)->name, "ZIP^THREE");
    std::string toast;
    ASSERT_TRUE(frameUntil([&] { return !(toast = takeToast()).empty(); }, 10.0));
    EXPECT_EQ(toast, "6 files imported, " + std::to_string(names.size()) + " skipped (not DICOM, damaged or refused)");

    // An archive that would leave the disk without its margin is not unpacked, and says so.
    setZipFreeSpaceProbe([](const char*, unsigned long long* available) {
        *available = kUnzipMinFreeBytes + 1000;
        return true;
    });
    clickNode(home()->getChildByNameDeep("importImage"));
    ASSERT_TRUE(frameUntil([&] { return !(toast = takeToast()).empty(); }, 10.0));
    setZipFreeSpaceProbe(nullptr);
    EXPECT_EQ(toast, "The archive was not unpacked: it needs more free disk space than there is.");
    ASSERT_TRUE(frameUntil([&] { return !home()->isUnpacking(); }));
    EXPECT_FALSE(FileUtils::getInstance()->isDirectoryExist(scratch + "data/qv/tmp/unzip/"));

    // An archive with an entry that would land outside the unpack folder is refused whole, and
    // the toast names the entry.
    // A name that is not text is named with U+FFFD in place of its bytes.
    for (const char* entry : {"../x", "/x", "../\xff\xfe.dcm"}) {
        const std::string archive = scratch + "unsafe.zip";
        zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
        ASSERT_NE(zip, nullptr);
        for (const char* name : {"fine.txt", entry}) {
            ASSERT_EQ(zipOpenNewFileInZip64(zip, name, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0), ZIP_OK);
            zipWriteInFileInZip(zip, "x", 1);
            zipCloseFileInZip(zip);
        }
        zipClose(zip, nullptr);
        FileUtils::getInstance()->setChooseFileAnswer(archive);
        clickNode(home()->getChildByNameDeep("importImage"));
        ASSERT_TRUE(frameUntil([&] { return !(toast = takeToast()).empty(); }, 10.0));
        EXPECT_EQ(toast, "Nothing was imported: the archive's entry \"" + validUtf8(entry) +
                             "\" would be written outside the import folder.");
        ASSERT_TRUE(frameUntil([&] { return !home()->isUnpacking(); }));
        EXPECT_EQ(rowCount(home()), 1);
        std::remove(archive.c_str());
    }
}

TEST_F(LibraryAppTest, StudyPanelOpensTheViewerFromTheRowsRightEndAndFromProtocolPictures)
{
    // One study of two series, one with a four-digit number.
    qvgen::PhantomSpec spec = studySpec("VIEW^ME", "V-1", 3);
    spec.studyUID = "1.2.826.0.1.3680043.10.1455.7";
    spec.seriesNumber = "2048";
    writeSeries(scratch + "source/a/", spec);
    spec.seriesNumber = "3";
    spec.slices = 2;
    spec.rowSpacing = 2 * spec.columnSpacing;  // pixels twice as tall as wide
    writeSeries(scratch + "source/b/", spec);
    launch(false);
    std::vector<std::pair<std::string, std::string>> opened;
    setViewerSceneOpener([&opened](const std::string& series, const std::string& protocol) {
        opened.emplace_back(series, protocol);
        return Scene::create();
    });
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) &&
                                        rowAt(home(), 0)->imageCount == 5; }));
    // A touch anywhere on a row of a wide window opens the patient in the side panel.
    NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(0);
    ASSERT_NE(cell, nullptr);
    clickNode(cell);
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded() && panel()->getRowsTable()->getRowCount() == 3; }));
    // The series of two images has two thumbnails.
    ASSERT_TRUE(frameUntil([&] { return !panel()->getThumbnailFolder().empty(); }));
    const std::string folder = panel()->getThumbnailFolder();
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(folder + "thrumb1"));
    EXPECT_FALSE(FileUtils::getInstance()->isFileExist(folder + "thrumb2"));
    // Its pictures have the pixels' true shape: 64 columns of 1 mm by 64 rows of 2 mm.
    ASSERT_TRUE(frameUntil([&] { return !panel()->isThumbnailBusy(); }));
    for (const char* name : {"thrumb0", "thrumb1"}) {
        Image picture;
        ASSERT_TRUE(picture.initWithImageFile(folder + name)) << name;
        EXPECT_EQ(picture.getWidth(), 64) << name;
        EXPECT_EQ(picture.getHeight(), 128) << name;
    }

    NSUI::NSListView* rows = panel()->getRowsTable();
    const auto rowAtPanel = [rows](ssize_t i) { return static_cast<studyList::listObject*>(rows->getRowData()[i]); };

    // Pictures an earlier run cut short are made again, whole; a disk with room for the first
    // picture only keeps none of them, and the next showing with room makes both.
    studyList::listObject* pair = nullptr;
    for (ssize_t i = 0; i < rows->getRowCount(); ++i)
        if (rowAtPanel(i)->kind == studyList::ROW_SERIES && rowAtPanel(i)->imageCount == 2)
            pair = rowAtPanel(i);
    ASSERT_NE(pair, nullptr);
    const auto wholePictures = [&] {
        Image first, second;
        return first.initWithImageFile(folder + "thrumb0") && second.initWithImageFile(folder + "thrumb1");
    };
    const long long pictureBytes = FileUtils::getInstance()->getFileSize(folder + "thrumb1");
    std::filesystem::resize_file(folder + "thrumb1", pictureBytes / 2);
    const long long rooms[] = {-1, pictureBytes * 7 / 4, -1};
    for (const long long& room : rooms) {
        redIRI::disk::setRoomForTest(room);
        panel()->showThumbnails(pair);
        ASSERT_TRUE(frameUntil([&] { return !panel()->isThumbnailBusy(); }));
        redIRI::disk::setRoomForTest(-1);
        if (room < 0) {
            EXPECT_TRUE(wholePictures());
        } else {
            EXPECT_FALSE(FileUtils::getInstance()->isFileExist(folder + "thrumb0"));
            EXPECT_FALSE(FileUtils::getInstance()->isFileExist(folder + "thrumb1"));
        }
        if (&room == rooms)
            for (const char* name : {"thrumb0", "thrumb1"})
                std::remove((folder + name).c_str());
    }
    // A picture changed on disk at its own size, or pictures without the check they are written
    // with (an earlier version's), are made again as they were.
    const auto bytesOf = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string made = bytesOf(folder + "thrumb1");
    const std::string checkPath = isImageSDK::isDcmScan::thumbnailCheckPathOf(folder);
    for (const bool flip : {true, false}) {
        SCOPED_TRACE(flip ? "one bit flipped" : "no check");
        if (flip) {
            std::string changed = made;
            changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 4);
            std::ofstream(folder + "thrumb1", std::ios::binary | std::ios::trunc) << changed;
        } else {
            std::remove(checkPath.c_str());
        }
        panel()->showThumbnails(pair);
        ASSERT_TRUE(frameUntil([&] { return !panel()->isThumbnailBusy(); }));
        EXPECT_EQ(bytesOf(folder + "thrumb1"), made);
        EXPECT_TRUE(FileUtils::getInstance()->isFileExist(checkPath));
    }
    ASSERT_EQ(rowAtPanel(2)->seriesNumber, "2048");
    // The four-digit number keeps to its column, left of the series' texts.
    {
        const auto box = [](Node* node) {
            const Vec2 low = node->convertToWorldSpace(Vec2::ZERO);
            return Rect(low, node->getContentSize());
        };
        Node* record = rows->cellAtIndex(2);
        Node* number = record ? record->getChildByNameDeep("id") : nullptr;
        ASSERT_NE(number, nullptr);
        for (const char* name : {"modality", "seriesDesc", "imageDesc", "hospital"}) {
            Node* text = record->getChildByNameDeep(name);
            ASSERT_NE(text, nullptr) << name;
            EXPECT_LE(box(number).getMaxX(), box(text).getMinX()) << name;
        }
    }

    // Selecting a series offers the hanging protocols that fit it, read from the shipped file; a
    // touch on a protocol's picture (not only its title) opens the series with it.
    NSUI::NSListView* strip = panel()->getProtocolStrip();
    EXPECT_EQ(strip->getRowCount(), 0);
    const Vec2 middle = rows->cellAtIndex(2)->convertToWorldSpace(Vec2(rows->getContentSize().width / 2, 50));
    InputSimulator::click(middle.x, middle.y);
    frame();
    ASSERT_GT(strip->getRowCount(), 0);
    const auto picture = [strip](ssize_t i) -> Node* {
        NSUI::NSTableViewCell* protocol = strip->cellAtIndex(i);
        for (Node* child : protocol ? protocol->getChildren() : Vector<Node*>())
            if (dynamic_cast<NSUI::NSSpriteView*>(child))
                return child;
        return nullptr;
    };
    const auto typeAt = [strip](ssize_t i) { return static_cast<studyList::protocalObject*>(strip->getRowData()[i])->type; };
    ASSERT_NE(picture(0), nullptr);
    clickNode(picture(0));
    frame();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], std::make_pair(rowAtPanel(2)->folder, typeAt(0)));
    Director::getInstance()->popScene();
    frame();

    // Both series selected (Control adds the other): the protocols for several, and one touch on a
    // picture opens them together.
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, true);
    const Vec2 other = rows->cellAtIndex(1)->convertToWorldSpace(Vec2(rows->getContentSize().width / 2, 50));
    InputSimulator::click(other.x, other.y);
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, false);
    frame();
    ASSERT_EQ(rows->getSelectionList().size(), 2u);
    ASSERT_GT(strip->getRowCount(), 0);
    ASSERT_NE(picture(0), nullptr);
    clickNode(picture(0));
    frame();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1].second, typeAt(0));
    EXPECT_NE(opened[1].first.find("\"num\":\"2\""), std::string::npos) << opened[1].first;
    for (ssize_t i : {1, 2})
        EXPECT_NE(opened[1].first.find(rowAtPanel(i)->folder), std::string::npos) << opened[1].first;
    Director::getInstance()->popScene();
    frame();

    // The right end of a series row opens it at once.
    const Vec2 end = rows->cellAtIndex(1)->convertToWorldSpace(Vec2(rows->getContentSize().width - 20, 50));
    InputSimulator::click(end.x, end.y);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2], std::make_pair(rowAtPanel(1)->folder, std::string()));
    frame();
    EXPECT_EQ(Director::getInstance()->getRunningScene()->getChildrenCount(), 0u);  // the viewer's scene
    setViewerSceneOpener(nullptr);
}

TEST_F(LibraryAppTest, ArabicAndHebrewNamesAreListedShapedAndRightToLeft)
{
    // The names as the DICOM standard's examples write them, in ISO 8859-6 and ISO 8859-8.
    const std::string source = scratch + "source/";
    qvgen::PhantomSpec arabic = studySpec("\xE2\xC8\xC7\xE6\xEA^\xE4\xE6\xD2\xC7\xD1", "AR-1", 2);
    arabic.characterSet = "ISO_IR 127";
    writeSeries(source + "ar/", arabic);
    qvgen::PhantomSpec hebrew = studySpec("\xF9\xF8\xE5\xEF^\xE3\xE1\xE5\xF8\xE4", "HE-1", 2);
    hebrew.characterSet = "ISO_IR 138";
    writeSeries(source + "he/", hebrew);
    launch(false);
    home()->openPath(source);
    ASSERT_TRUE(frameUntil([&] {
        return rowCount(home()) == 2 && importIdle(home()) && rowAt(home(), 0)->imageCount == 2 &&
               rowAt(home(), 1)->imageCount == 2;
    }));
    frame();
    std::vector<std::string> names;
    for (ssize_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(rowAt(home(), i)->name);
        names.push_back(rowAt(home(), i)->name);
        NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(i);
        ASSERT_NE(cell, nullptr);
        auto* text = dynamic_cast<ui::Text*>(cell->getChildByNameDeep("name"));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->getString(), rowAt(home(), i)->name);
        EXPECT_TRUE(qvtest::drawsAsHarfBuzz(text->getLabelRenderer()));
        // Right to left: the name's first letter is drawn rightmost.
        const auto glyphs = text->getLabelRenderer()->getGlyphsForTest();
        ASSERT_FALSE(glyphs.empty());
        EXPECT_EQ(glyphs.back().codePoint, 0u);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{u8"שרון^דבורה", u8"قباني^لنزار"}));
}

TEST_F(LibraryAppTest, ShareMakesAnArchiveThatUnpacksToTheSameFiles)
{
    writeStudy(scratch + "source/", "SHARE^ME", "S-1", 4);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) &&
                                        rowAt(home(), 0)->imageCount == 4; }));
    const std::string folder = home()->getLibraryRoot() + rowAt(home(), 0)->folder;
    shareTo* share = shareTo::create();
    share->retain();
    home()->addChild(share);
    share->start(folder, "SHARE^ME");
    const std::string archive = share->getZipPath();
    ASSERT_TRUE(frameUntil([&] { return share->getParent() == nullptr; }));
    share->release();
    const std::string unpacked = scratch + "unpacked/";
    ASSERT_TRUE(unzipFile(archive, unpacked, ""));
    // Stored names begin with the folder's own name.
    const std::string name = folder.substr(folder.find_last_of('/') + 1);
    const std::vector<std::string> original = filesBelow(folder + "/");
    const std::vector<std::string> copy = filesBelow(unpacked + name + "/");
    ASSERT_EQ(original.size(), 4u);
    ASSERT_EQ(copy, original);
    for (const std::string& f : original)
        EXPECT_EQ(readWhole(unpacked + name + "/" + f), readWhole(folder + "/" + f)) << f;
}

TEST_F(LibraryAppTest, QuitWithImportUnpackingAndThumbnailsInFlightIsClean)
{
    const std::string source = scratch + "source/";
    writeStudy(source + "one/", "BUSY^ONE", "Q-1", 20);
    ASSERT_TRUE(zipFiles(scratch + "one.zip", source + "one", ""));
    launch(true);
    app->openDocument((scratch + "one.zip").c_str());
    home()->openPath(source + "one");
    frame();
    frame();
    quit();  // AddressSanitizer checks what is left running
    EXPECT_EQ(runningLibraryWorkers(), 0);
}

// A name is listed as stored, never reversed by a right-to-left override, and an ID of nothing but
// zero-width spaces shows as an empty one does.
TEST_F(LibraryAppTest, NamesAndIDsAreListedNeitherReversedNorHidden)
{
    const std::string source = scratch + "source/";
    std::string invisible;
    for (int i = 0; i < 3000; ++i)
        invisible += u8"\u200B";
    qvgen::PhantomSpec spec = studySpec(u8"EVIL\u202E^NAME", invisible, 2);
    spec.characterSet = "ISO_IR 192";
    spec.studyDescription = u8"CHEST\u202E CT";
    spec.seriesDescription = u8"AXIAL\u2067 1MM";
    writeSeries(source + "evil/", spec);
    launch(false);
    home()->openPath(source);
    ASSERT_TRUE(frameUntil(
        [&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 2; }));
    // As the import announced the patient, and as the library lists it at the next start.
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        if (start == 1) {
            quit();
            launch(false);
            ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1; }));
        }
        frame();
        NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(0);
        ASSERT_NE(cell, nullptr);
        auto text = [&](const char* name) { return dynamic_cast<ui::Text*>(cell->getChildByNameDeep(name)); };
        ASSERT_NE(text("name"), nullptr);
        ASSERT_NE(text("id"), nullptr);
        EXPECT_EQ(text("name")->getString(), "EVIL^NAME");
        EXPECT_EQ(text("id")->getString(), "");
    }
    // The patient's study and series in the side panel.
    clickNode(home()->getTable()->cellAtIndex(0));
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded() && panel()->getRowsTable()->getRowCount() == 2; }));
    const auto& rows = panel()->getRowsTable()->getRowData();
    EXPECT_EQ(static_cast<studyList::listObject*>(rows[0])->studyDescription, "CHEST CT");
    EXPECT_EQ(static_cast<studyList::listObject*>(rows[1])->seriesDescription, "AXIAL 1MM");
}

TEST_F(LibraryAppTest, NamesAreListedWithoutTheirTrailingEmptyGroups)
{
    const std::string source = scratch + "source/";
    qvgen::PhantomSpec spec = studySpec(u8"Wang^XiaoDong=王^小東=", "ZH-1", 2);
    spec.characterSet = "ISO_IR 192";
    writeSeries(source + "zh/", spec);
    launch(false);
    home()->openPath(source);
    ASSERT_TRUE(frameUntil(
        [&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 2; }));
    frame();
    // The library keeps the name as stored; the list shows it without the empty last group.
    EXPECT_EQ(rowAt(home(), 0)->name, u8"Wang^XiaoDong=王^小東=");
    NSUI::NSTableViewCell* cell = home()->getTable()->cellAtIndex(0);
    ASSERT_NE(cell, nullptr);
    auto* text = dynamic_cast<ui::Text*>(cell->getChildByNameDeep("name"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->getString(), u8"Wang^XiaoDong=王^小東");
}

TEST_F(LibraryAppTest, APatientsRowFollowsTheDeleteOfASeriesAndTheImportAfterIt)
{
    // One patient, two studies: one series of three images, and two series of two.
    qvgen::PhantomSpec chest = studySpec("ROW^COUNTS", "R-1", 3);
    chest.studyDescription = "CT CHEST ABD";
    chest.studyUID = "1.2.826.0.1.3680043.10.1455.21";
    writeSeries(scratch + "source/a/", chest);
    qvgen::PhantomSpec head = studySpec("ROW^COUNTS", "R-1", 2);
    head.studyDescription = "MR HEAD";
    head.studyUID = "1.2.826.0.1.3680043.10.1455.22";
    writeSeries(scratch + "source/b/", head);
    head.seriesNumber = "2";
    writeSeries(scratch + "source/c/", head);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 7; }));
    patientList::listObject* row = rowAt(home(), 0);
    clickNode(home()->getTable()->cellAtIndex(0));
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded() && panel()->getRowsTable()->getRowCount() == 5; }));
    // The pixels of the row's counts as drawn.
    const auto counts = [&] {
        frame();
        Node* label = home()->getTable()->cellAtIndex(0)->getChildByTag(patientList::kCellLayoutTag)->getChildByName("imageNumber");
        const Rect box = label->getBoundingBox();
        const Vec2 low = label->getParent()->convertToWorldSpace(box.origin);
        std::vector<std::array<int, 3>> pixels;
        for (int y = int(low.y); y < int(low.y + box.size.height); ++y)
            for (int x = int(low.x); x < int(low.x + box.size.width); ++x)
                pixels.push_back(qvtest::framePixel(x, y));
        return pixels;
    };
    const auto before = counts();
    // The chest study's only series goes, and the study with it.
    const auto& rows = panel()->getRowsTable()->getRowData();
    ssize_t chestSeries = -1;
    for (size_t i = 0; i + 1 < rows.size(); ++i)
        if (static_cast<studyList::listObject*>(rows[i])->studyDescription == "CT CHEST ABD")
            chestSeries = ssize_t(i) + 1;
    ASSERT_GE(chestSeries, 1);
    panel()->deleteSeriesAt(chestSeries);
    EXPECT_EQ(panel()->getRowsTable()->getRowCount(), 3);
    ASSERT_TRUE(frameUntil([&] { return row->studyCount == 1 && row->seriesCount == 2 && row->imageCount == 4; }, 10.0));
    EXPECT_EQ(row->description, "MR HEAD");
    EXPECT_NE(counts(), before);
    // Imported again, it is counted on top of the library's counts.
    home()->openPath(scratch + "source/a/");
    ASSERT_TRUE(frameUntil([&] { return importIdle(home()) && row->imageCount == 7; }));
    EXPECT_EQ(row->studyCount, 2);
    EXPECT_EQ(row->seriesCount, 3);
    EXPECT_EQ(counts(), before);
}

// The row of a patient whose last series was deleted leaves while the library's worker holds the
// database (a held file, a long write): the window does not wait for it.
TEST_F(LibraryAppTest, APatientsRowLeavesWithItsLastSeriesWhileTheLibraryIsBusy)
{
    writeStudy(scratch + "source/a/", "ALPHA^ONE", "A-1");
    writeStudy(scratch + "source/b/", "BRAVO^TWO", "B-2");
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 2 && importIdle(home()); }));
    clickNode(home()->getTable()->cellAtIndex(0));
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded() && panel()->getRowsTable()->getRowCount() == 2; }));
    const std::string kept = rowAt(home(), 1)->patientID;
    panel()->deleteSeriesAt(1);
    // The delete is done, and its notice waits for the next frame.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (runningLibraryWorkers() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(runningLibraryWorkers(), 0);
    dicomDB* db = dataService::getInstance()->getDatabase();
    std::atomic<bool> held{false}, letGo{false}, gaveUp{false};
    std::thread holder([&] {
        std::lock_guard<std::recursive_mutex> lock(db->dbMutex);
        held = true;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!letGo && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
        gaveUp = !letGo;
    });
    while (!held)
        std::this_thread::yield();
    for (int i = 0; i < 3; ++i)
        frame();
    EXPECT_FALSE(gaveUp) << "the window waited for the library's lock";
    EXPECT_EQ(rowCount(home()), 1);
    letGo = true;
    holder.join();
    ASSERT_EQ(rowCount(home()), 1);
    EXPECT_EQ(rowAt(home(), 0)->patientID, kept);
}
