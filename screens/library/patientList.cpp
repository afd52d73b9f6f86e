#include "patientList.h"

#include "AppConfig.h"
#include "NSActivity.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSZip.h"
#include "NSStringUtil.h"
#include "cocostudio/CSLoader.h"
#include "dicomDB.h"
#include "favoriteList.h"
#include "importDcm.h"
#include "isDcmScan.h"
#include "isPersonName.h"
#include "advice.h"
#include "dataService.h"
#include "dcmFinder.h"
#include "dcmSend.h"
#include "login.h"
#include "NSResponseWindow.h"
#include "WidgetUtil.h"
#include "libraryWorkers.h"
#include "messageView.h"
#include "screenHelpers.h"
#include "shareTo.h"
#include "statApplication.h"
#include "studyList.h"
#include "textFit.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

USING_NS_CC;

const char* const patientList::kStudyPanelName = "studylistpc";
const char* const patientList::kEmptyTextName = "emptyText";

namespace {

const char* const kLayoutFile = "patientList.csb";
const char* const kRecordFile = "patientRecord.csb";
const char* const kMenuFile = "patientToolPC.csb";
const char* const kInitDbKey = "app_init_db";
const char* const kLoginKey = "app_logined";
const char* const kExampleZip = "example.zip";
const char* const kPagesZip = "js.zip";
// Usage events: the list shown and left, the patients it listed (with their number), a share.
const int kEventShown = 3;
const int kEventLeft = 4;
const int kEventAction = 15;
const int kEventPatients = 19;
const int kProgressLabelTag = 100002;
// The buttons of the top bar, right-aligned in it; the import progress is shown left of them.
const char* const kTopBarButtons[] = {"importImage", "logo", "search", "wifi", "btnFavorite", "writeAdvice"};
constexpr float kProgressGap = 16.0f;
const char* const kImportSkippedToast = "%d files imported, %d skipped (not DICOM, damaged or refused)";
const char* const kImportedToast = "%d files imported.";
const char* const kCheckingText = "Checking the library";
// An indexing of fewer files than this is over before it could be read.
constexpr int kIndexShownFrom = 20;
const char* const kImportGoneToast = "%d files were no longer there to import (moved or removed meanwhile)";
// The language key of the toast for files an import had no disk room for; "%d" stands for their
// number.
const char* const kImportNoRoomKey = "import_disk_full";
const char* const kZipFailedToast = "The archive could not be unpacked.";
const char* const kImportReadOnlyToast = "The library cannot be written: nothing can be imported";
const char* const kZipTooLargeToast = "The archive was not unpacked: it needs more free disk space than there is.";
// The language key of the toast for an archive refused for an entry that would land outside the
// unpack folder; "%s" in its text stands for the entry's name, cut to kUnsafeEntryCharacters.
const char* const kZipUnsafeEntryKey = "zip_unsafe_entry";
constexpr size_t kUnsafeEntryCharacters = 60;
// The row texts placed from the left, and the room kept before the next text of a line and
// before the row's right edge (units).
const char* const kLeftColumnTexts[] = {"name", "id", "birthday", "sex", "desc"};
constexpr float kRowTextGap = 12.0f;
constexpr float kRowTextMargin = 16.0f;

std::string writable()
{
    return FileUtils::getInstance()->getWritablePath();
}

bool endsWithZip(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return tail == ".zip";
}

// The patient's folder from the folder of one of its series (relative, with or without a
// trailing "/"): its grandparent.
std::string patientFolderOf(const std::string& seriesFolder)
{
    return getParentDirectory(getParentDirectory(seriesFolder));
}

// Worker: the patient's rows, and the files, caches and thumbnails of exactly those rows (the
// library does it on its worker, in order with the images being stored).
void deletePatientFiles(dicomDB* db, const std::string& job)
{
    db->deletePatient(std::atoi(NSUI::UIJson::getString(job, "patientID").c_str()));
    db->release();
}

// Worker: copies the web pages' archive beside the pages folder and unpacks it; a failure removes
// the pages folder so that a later start tries again.
void unzipJsPages(const std::string& archive, const std::string& pagesFolder)
{
    FileUtils* files = FileUtils::getInstance();
    files->createDirectory(pagesFolder);
    const std::string copy = pagesFolder + kPagesZip;
    if (archive.empty() || !copyFile(archive, copy))
        return;
    if (!unzipFile(copy, pagesFolder + "js", ""))
        files->removeDirectory(pagesFolder);
}

// A library that cannot be written takes no import: said before anything is chosen or read, so
// that the disk, not the files, is named as why.
bool importRefused()
{
    dicomDB* db = dataService::getInstance()->getDatabase();
    if (!db || !db->isReadOnly())
        return false;
    log("patientList: the library cannot be written; the import is refused");
    NSUI::messageView::showMessage(kImportReadOnlyToast, 5.0f);
    return true;
}

} // namespace

// ---- rows ---------------------------------------------------------------------------------------

patientList::listObject* patientList::listObject::create()
{
    auto* row = new listObject();
    row->autorelease();
    return row;
}

// ---- creation -----------------------------------------------------------------------------------

Scene* patientList::createScene()
{
    Scene* scene = Scene::create();
    auto* screen = new patientList();
    if (screen->init()) {
        screen->autorelease();
        scene->addChild(screen);
    } else {
        delete screen;
    }
    return scene;
}

patientList::~patientList()
{
    CC_SAFE_RELEASE_NULL(importer);
}

bool patientList::isWideWindow()
{
    return Director::getInstance()->getWinSize().width > kWideWindowWidth;
}

bool patientList::init()
{
    if (!Layer::init())
        return false;
    recordStatistics(kEventShown);
    setOwnerNode(this);
    highlightColor = Color4B(255, 255, 0, 55);
    highlightEnabled = true;

    pagesFolder = writable() + "qv/tmp/res/";
    // What an earlier run unpacked and did not remove (it ended during an import) goes now:
    // its files were copied into the library or are still in the archive.
    removeUnpackFolder();
    importer = importDcm::create();
    CC_SAFE_RETAIN(importer);
    firstEnter = true;

    loadLayout();
    dicomDB* db = dataService::getInstance()->getDatabase();
    libraryRoot = db ? db->getDicomRoot() : writable() + "qv/dicom/";
    if (importer)
        importer->setRoot(libraryRoot);
    if (importer && db) {
        // An import reports a file copied once it is listed.
        db->retain();  // released with the importer's worker
        std::shared_ptr<dicomDB> library(db, [](dicomDB* d) { d->release(); });
        importer->setIndexer([library](std::unique_ptr<redIRI::DCM_MESSAGE> record, std::function<void(bool)> done) {
            library->queueStoredImage(std::move(record), std::move(done));
        });
    }

    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NSUI::NOTIFY_DB_PATIENT_STORED, NSUI::NOTIFY_DB_SERIES_DELETED, NSUI::NOTIFY_IMPORT_PATH,
                            NSUI::NOTIFY_OPEN_FILE, NSUI::NOTIFY_NET_PEER_COUNT, NSUI::NOTIFY_DB_LIBRARY_RELOADED})
        centre->addObserver(this, nullptr, callback, id);

    Node* placeholder = layout ? layout->getChildByName("list") : nullptr;
    if (!placeholder)
        return true;
    createTable(placeholder);
    for (unsigned int id : {NSUI::NOTIFY_CAPTURE_SAVED, NSUI::NOTIFY_FAVORITE_ADD_FILE,
                            NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED, NSUI::NOTIFY_MEMORY_LOW})
        centre->addObserver(this, nullptr, callback, id);

    for (const char* name : kTopBarButtons)
        wireButton(name);
    if (Node* wifi = layout->getChildByName("wifi")) {
        wifi->setScale(0.8f);
        wifi->setLocalZOrder(1000);
    }
    if (Node* favorite = layout->getChildByName("btnFavorite")) {
        favorite->setLocalZOrder(1000);
        favorite->setScale(0.7f);
    }
    updatePrompts();
    NSUI::listenForWindowResize(this, [this] { layoutForWindow(); });
    // The library's state while it checks its file at start or indexes files it found.
    schedule([this](float) { showLibraryState(); }, 0.5f, "qv_library_state");
    return true;
}

void patientList::layoutForWindow()
{
    const Size win = Director::getInstance()->getWinSize();
    setContentSize(win);
    if (layout) {
        layout->setContentSize(win);
        ui::Helper::doLayout(layout);
    }
    if (!table)
        return;
    const bool wide = isWideWindow();
    table->setContentSize(Size(wide ? win.width / 2 : win.width, win.height - kTopBarHeight));
    table->reloadData();
    if (Node* hint = getChildByTag(kHintTag))
        hint->setPosition(Vec2(wide ? win.width / 4 : win.width / 2, 150));
    Node* parent = table->getParent();
    if (Node* banner = getParent() ? getParent()->getChildByTag(kBannerTag) : nullptr)
        banner->setPosition(Vec2(0, win.height - kTopBarHeight));
    if (auto* panel = dynamic_cast<studyList*>(parent->getChildByName(kStudyPanelName))) {
        // A narrow window opens a patient's studies as a screen of their own.
        if (!wide) {
            panel->removeFromParent();
        } else {
            panel->setPosition(Vec2(win.width / 2, 0));
            panel->relayout(table->getContentSize());
        }
    }
}

void patientList::loadLayout()
{
    layout = dynamic_cast<ui::Widget*>(CSLoader::createNode(kLayoutFile));
    if (!layout)
        return;
    if (Node* appName = layout->getChildByName("appName"))
        appName->removeFromParent();
    layout->setContentSize(Director::getInstance()->getWinSize());
    AppConfig::getInstance()->setText(layout, "");
    ui::Helper::doLayout(layout);
    addChild(layout);
}

void patientList::createTable(Node* placeholder)
{
    const Size win = Director::getInstance()->getWinSize();
    table = NSUI::NSListView::create();
    table->setContentSize(Size(isWideWindow() ? win.width / 2 : win.width, win.height - kTopBarHeight));
    table->setAnchorPoint(Vec2::ZERO);
    table->setPosition(Vec2::ZERO);
    addChild(table, placeholder->getLocalZOrder());
    placeholder->removeFromParent();
    table->swipeEdgeRatio = 0.2f;
    table->swipeOpenRatio = 0.4f;
    table->swipeSlideTime = 0.5f;
    table->delegate = this;
    table->reloadData();
}

void patientList::wireButton(const std::string& name)
{
    auto* button = dynamic_cast<ui::Button*>(layout ? layout->getChildByName(name) : nullptr);
    if (!button)
        return;
    button->setPressedActionEnabled(true);
    button->addClickEventListener([this](Ref* sender) { onButton(sender); });
}

// ---- life cycle ---------------------------------------------------------------------------------

void patientList::cleanup()
{
    Layer::cleanup();
    unschedule("qv_next_zip");
    unschedule("qv_example_done");
    unschedule("qv_import_progress");
    unschedule("qv_library_state");
    CC_SAFE_RELEASE_NULL(importer);
    // The importer has stopped: an archive's files it had not copied yet stay in the archive.
    if (unpacking)
        removeUnpackFolder();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    // Clean-up may follow the network service's end; it is not made again for this.
    if (dicomDB* db = dataService::peekInstance() ? dataService::peekInstance()->getDatabase() : nullptr)
        db->cancelRequests(this);
}

void patientList::onExit()
{
    Layer::onExit();
    recordStatistics(kEventLeft);
}

void patientList::onEnterTransitionDidFinish()
{
    Layer::onEnterTransitionDidFinish();
    // The window may have been resized while another screen covered this one.
    if (!getContentSize().equals(Director::getInstance()->getWinSize()))
        layoutForWindow();
    dicomDB* db = dataService::getInstance()->getDatabase();
    if (firstEnter) {
        updateAccountIcon();
        if (db)
            db->requestPatients([this](NSUI::NSDBDataModel* model) { onPatientsLoaded(model); }, this);
        installExampleOnce();
        isImageSDK::isDcmScan::clearBuffer();
        if (!FileUtils::getInstance()->isDirectoryExist(pagesFolder + "js/")) {
            const std::string archive = FileUtils::getInstance()->fullPathForFilename(kPagesZip);
            const std::string folder = pagesFolder;
            startLibraryWorker([archive, folder] { unzipJsPages(archive, folder); });
        }
        firstEnter = false;
    }
    updateFavoriteBadge(db ? db->newFavoriteCount : 0);
}

void patientList::installExampleOnce()
{
    FileUtils* files = FileUtils::getInstance();
    const std::string folder = writable() + "qv/tmp/example/";
    if (getLocalInt(kInitDbKey, 0) <= 0) {
        if (files->isDirectoryExist(folder))
            files->removeDirectory(folder);
        return;
    }
    // Stored first: a failure below is not tried again.
    setLocalString(kInitDbKey, "0");
    const std::string archive = files->fullPathForFilename(kExampleZip);
    log("Copy Example:%s", archive.c_str());
    const std::string copy = folder + "1.tmp";
    files->createDirectory(folder);
    if (archive.empty() || !copyFile(archive, copy))
        return;
    const std::string target = getParentDirectory(copy) + "/";
    const bool unpacked = unzipFile(copy, target, "");
    // The archive's copy is no image: the import reads only what came out of it.
    files->removeFile(copy);
    if (!unpacked || !importer)
        return;
    importer->importFolder(target);
    // What was unpacked goes once the importer has copied it into the library (it copies in the
    // order files are handed in); a run that ends before leaves it to the next start.
    const int copiedWhen = importer->getQueuedCount();
    schedule(
        [this, copiedWhen, folder](float) {
            if (importer && importer->getFinishedCount() < copiedWhen)
                return;
            unschedule("qv_example_done");
            FileUtils::getInstance()->removeDirectory(folder);
        },
        0.1f, "qv_example_done");
}

// ---- rows ---------------------------------------------------------------------------------------

void patientList::onPatientsLoaded(NSUI::NSDBDataModel* model)
{
    if (!table || !model)
        return;
    const int added = showPatients(model, true);
    if (model->getRowCount() > 0)
        recordStatistics(kEventPatients, std::to_string(model->getRowCount()));
    updatePrompts();
    if (added > 0 && table->getRowCount() > 0) {
        if (NSUI::NSTableViewCell* cell = table->cellAtIndexOrCreate(0))
            tableCellTouched(table, cell, Vec2(1, 1));
    }
}

int patientList::showPatients(NSUI::NSDBDataModel* model, bool listNew)
{
    int added = 0;
    for (int r = 0; r < model->getRowCount(); ++r) {
        if (model->getColumnCount(r) < 11)
            continue;
        if (model->getColumnCount(r) > 11)
            loadedUpToImage = std::max(loadedUpToImage, std::atoi(model->getValue(r, 11).c_str()));
        // A row already listed (brought in by a store notification, or shown before a delete)
        // takes the database's texts and counts, which include every image that notifications
        // up to the newest loaded one announced.
        listObject* row = findRow(model->getValue(r, 0));
        if (!row && !listNew)
            continue;
        const bool known = row != nullptr;
        if (!known)
            row = listObject::create();
        row->patientID = model->getValue(r, 0);
        // The library holds the values as files and peers gave them: shown as one clean line each.
        row->hospitalID = cleanOutsideText(model->getValue(r, 1));
        row->name = cleanOutsideText(model->getValue(r, 2));
        row->birthday = cleanOutsideText(model->getValue(r, 3));
        row->sex = cleanOutsideText(model->getValue(r, 4));
        row->updateTime = model->getValue(r, 5).substr(0, 16);
        row->description = cleanOutsideText(model->getValue(r, 6));
        row->folder = patientFolderOf(model->getValue(r, 7));
        row->studyCount = std::atoi(model->getValue(r, 8).c_str());
        row->seriesCount = std::atoi(model->getValue(r, 9).c_str());
        row->imageCount = std::atoi(model->getValue(r, 10).c_str());
        if (known) {
            table->updateCellForData(row);
        } else {
            table->insertRow(-1, row);
            ++added;
        }
    }
    return added;
}

patientList::listObject* patientList::findRow(const std::string& patientID) const
{
    if (!table)
        return nullptr;
    for (Ref* data : table->getRowData()) {
        auto* row = static_cast<listObject*>(data);
        if (row->patientID == patientID)
            return row;
    }
    return nullptr;
}

Size patientList::tableCellSizeForIndex(NSUI::NSTableView*, ssize_t, Ref*)
{
    const float width = getContentSize().width;
    return Size(isWideWindow() ? width / 2 : width, kRowHeight);
}

NSUI::NSTableViewCell* patientList::tableCellAtIndex(NSUI::NSTableView* t, ssize_t index, const Size& size)
{
    NSUI::NSTableViewCell* cell = t->cellAtIndex(index);
    if (!cell)
        cell = t->dequeueCell();
    if (!cell)
        cell = NSUI::NSTableViewCell::create();
    auto* record = dynamic_cast<ui::Widget*>(cell->getChildByTag(kCellLayoutTag));
    if (!record) {
        record = dynamic_cast<ui::Widget*>(CSLoader::createNode(kRecordFile));
        if (!record)
            return cell;
        record->setTag(kCellLayoutTag);
        AppConfig::getInstance()->setText(record, "");
        cell->addChild(record);
    }
    if (!record->getContentSize().equals(size)) {
        record->setContentSize(size);
        ui::Helper::doLayout(record);
    }
    if (index < 0 || index >= t->getRowCount())
        return cell;
    auto* row = static_cast<listObject*>(t->getRowData()[index]);
    setChildText(record, "name", isImageSDK::displayPersonName(row->name));
    setChildText(record, "id", row->hospitalID);
    setChildText(record, "birthday", row->birthday);
    setChildText(record, "sex", row->sex);
    setChildText(record, "seriesDate", row->updateTime);
    setChildText(record, "desc", row->description);
    setChildText(record, "imageNumber", std::to_string(row->studyCount) + "-" + std::to_string(row->seriesCount) +
                                            "-" + std::to_string(row->imageCount));
    if (Node* marker = record->getChildByName("newFiles"))
        marker->setVisible(row->isNew);
    ui::Helper::doLayout(record);
    // The texts of the left column stand at fixed places: a long one is cut with an ellipsis
    // before the next text on its line (a 19-character ID would run into the birth date).
    for (const char* name : kLeftColumnTexts)
        if (auto* label = dynamic_cast<ui::Text*>(record->getChildByName(name)))
            NSUI::fitTextBeforeNext(label, label->getString(), kRowTextGap, kRowTextMargin);
    return cell;
}

void patientList::tableCellLeftMenu(NSUI::NSTableView*, NSUI::NSTableViewMenu* menu)
{
    fillSwipeMenu(menu, kMenuFile, [this](Ref* sender) { onButton(sender); });
}

void patientList::tableCellTouched(NSUI::NSTableView* t, NSUI::NSTableViewCell* cell, const Vec2& point)
{
    if (!cell || t != table)
        return;
    if (!isWideWindow() && point.x < t->getContentSize().width - kOpenZone)
        return;
    const ssize_t index = cell->getIndex();
    if (index < 0 || index >= t->getRowCount())
        return;
    auto* row = static_cast<listObject*>(t->getRowData()[index]);
    row->isNew = false;
    t->updateCellAtIndex(index);
    openStudies(row);
}

void patientList::openStudies(listObject* row)
{
    if (!isWideWindow()) {
        Scene* scene = studyList::createScene();
        if (auto* list = dynamic_cast<studyList*>(scene->getChildByTag(studyList::kSceneLayerTag)))
            list->setPatient(row->patientID);
        Director::getInstance()->pushScene(scene);
        return;
    }
    Node* parent = table->getParent();
    if (auto* panel = dynamic_cast<studyList*>(parent->getChildByName(kStudyPanelName))) {
        panel->setPatient(row->patientID);
        return;
    }
    studyList* panel = studyList::create();
    if (!panel)
        return;
    panel->setName(kStudyPanelName);
    panel->setContentSize(table->getContentSize());
    panel->setAnchorPoint(Vec2::ZERO);
    panel->setPosition(Vec2(getContentSize().width / 2, 0));
    panel->setLayout(true);
    panel->setPatient(row->patientID);
    parent->addChild(panel, table->getLocalZOrder());
}

// ---- buttons ------------------------------------------------------------------------------------

patientList::listObject* patientList::rowFromSwipeMenu(Ref* sender, ssize_t* index)
{
    const ssize_t i = swipeMenuRowIndex(sender);
    if (!table || i < 0 || i >= table->getRowCount())
        return nullptr;
    if (index)
        *index = i;
    return static_cast<listObject*>(table->getRowData()[i]);
}

void patientList::closeSwipeMenu()
{
    if (table)
        table->hideSwipeMenu(false);
}

void patientList::onButton(Ref* sender)
{
    auto* node = dynamic_cast<Node*>(sender);
    if (!node)
        return;
    const std::string& name = node->getName();
    if (name == "importImage") {
        if (importRefused())
            return;
        // A chosen folder imports itself, a chosen zip archive is unpacked and imported, and any
        // other chosen file imports the folder it lies in.
        const std::string path = FileUtils::getInstance()->chooseFile("");
        if (path.size() > 1)
            openPath(FileUtils::getInstance()->isDirectoryExist(path) || endsWithZip(path) ? path
                                                                                         : getParentDirectory(path));
    } else if (name == "share") {
        ssize_t index = -1;
        if (listObject* row = rowFromSwipeMenu(sender, &index)) {
            shareTo* panel = shareTo::create();
            addChild(panel);
            panel->start(libraryRoot + row->folder, isImageSDK::displayPersonName(row->name));
            closeSwipeMenu();
            recordStatistics(kEventAction);
        }
    } else if (name == "del") {
        ssize_t index = -1;
        if (rowFromSwipeMenu(sender, &index))
            deletePatientAt(index);
    } else if (name == "btnFavorite") {
        Director::getInstance()->pushScene(favoriteList::createScene());
    } else if (name == "writeAdvice") {
        if (Scene* scene = advice::createScene())
            Director::getInstance()->pushScene(scene);
    } else if (name == "logo") {
        login::show(this);
    } else if (name == "search") {
        addChild(dcmFinder::createWindow());
    } else if (name == "send" || name == "wifi") {
        NSUI::NSResponseWindow* window = dcmSend::createWindow();
        addChild(window);
        if (name == "send") {
            ssize_t index = -1;
            if (listObject* row = rowFromSwipeMenu(sender, &index)) {
                if (dcmSend* screen = dcmSend::fromWindow(window))
                    screen->setSendItems(libraryRoot + row->folder, isImageSDK::displayPersonName(row->name));
            }
            closeSwipeMenu();
        }
    }
}

void patientList::deletePatientAt(ssize_t index)
{
    if (!table || index < 0 || index >= table->getRowCount())
        return;
    auto* row = static_cast<listObject*>(table->getRowData()[index]);
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(this, NSUI::NOTIFY_DB_PATIENT_DELETED,
                                                                      row->patientID, nullptr, true);
    std::string job;
    setString(job, "patientID", row->patientID);
    setString(job, "folder", libraryRoot + row->folder);
    if (dicomDB* db = dataService::getInstance()->getDatabase()) {
        db->retain();  // released by the worker
        startLibraryWorker([db, job] { deletePatientFiles(db, job); });
    }
    table->removeRowAtIndex(index);
    updatePrompts();
}

// ---- import -------------------------------------------------------------------------------------

void patientList::openPath(std::string path)
{
    if (path.rfind("file:///storage", 0) == 0)
        path = path.substr(7);
    FileUtils* files = FileUtils::getInstance();
    if (path.empty())
        return;
    const bool isFolder = files->isDirectoryExist(path);
    if ((!isFolder && !files->isFileExist(path)) || importRefused())
        return;
    if (isFolder || !endsWithZip(path)) {
        startImportProgress();
        // A finished retrieval's folder is moved into the library, not copied: nothing of a
        // retrieved series is kept twice. (Only a folder plainly below the retrieval folder: a path
        // given on the command line may climb out of it.)
        const std::string retrieved = dcmFinder::downloadFolder();
        const bool move = isFolder && path.size() > retrieved.size() &&
                          path.compare(0, retrieved.size(), retrieved) == 0 && path.find("..") == std::string::npos;
        // A retrieval is said to be ready once its images are listed, and only when all of them are;
        // the folder tells the service which series that is.
        if (importer)
            importer->importFolder(path, move, move ? std::function<void(bool)>([path](bool whole) {
                if (dataService* service = dataService::peekInstance())
                    service->retrievalListed(path, whole);
            })
                                                    : nullptr);
        return;
    }
    startZipImport(path);
}

void patientList::startZipImport(const std::string& path)
{
    // One archive at a time: the unpack folder is shared, so the next archive waits until this
    // one is unpacked and its files have been copied into the library.
    if (unpacking || (importer && importer->isBusy() && !zipQueue.empty())) {
        zipQueue.push_back(path);
        return;
    }
    unpacking = true;
    removeUnpackFolder();
    const std::string folder = unpackFolder();
    FileUtils::getInstance()->createDirectory(folder);
    importJob.clear();
    setString(importJob, "file", path);
    setString(importJob, "path", folder);

    showBusyOverlay(this, "decompressData");

    startLibraryWorker([path, folder] {
        int result = 0;
        auto* data = new NSUI::NSNotificationData();
        const bool ok = unzipFile(path, folder, "", &result, &data->text);
        // 1: unpacked; -1: it would not fit on the disk; 0: any other failure, with the name of
        // the unsafe entry as text when that was the cause.
        data->intValue = ok ? 1 : (result == kUnzipTooLarge ? -1 : 0);
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_IMPORT_PATH, data, nullptr,
                                                                    false);
        data->release();
    });
}

std::string patientList::unpackFolder()
{
    return writable() + "qv/tmp/unzip/";
}

void patientList::removeUnpackFolder()
{
    FileUtils* files = FileUtils::getInstance();
    if (files->isDirectoryExist(unpackFolder()))
        files->removeDirectory(unpackFolder());
}

void patientList::onImportPathReady(int unpacked, const std::string& unsafeEntry)
{
    NSUI::NSActivity::hide();
    // The importer copies in the order files are handed in: once it has finished as many files
    // as it had been handed after this archive's, every one of them is in the library.
    int copiedWhen = 0;
    if (unpacked > 0 && importer) {
        startImportProgress();
        importer->importFolder(getString(importJob, "path"));
        copiedWhen = importer->getQueuedCount();
    } else {
        log("patientList: \"%s\" was not unpacked", getString(importJob, "file").c_str());
        std::string toast = unpacked < 0 ? kZipTooLargeToast : kZipFailedToast;
        if (!unsafeEntry.empty()) {
            std::string unsafe = AppConfig::getInstance()->getText(kZipUnsafeEntryKey);
            if (!unsafe.empty())
                toast = replaceAll(unsafe, "%s", NSUI::cutToCharacters(unsafeEntry, kUnsafeEntryCharacters));
        }
        showMessage(toast, 5.0f);
    }
    // The unpack folder stays in use until its files are copied; then it goes, and the next
    // archive starts.
    schedule(
        [this, copiedWhen](float) {
            if (importer && importer->getFinishedCount() < copiedWhen)
                return;
            unschedule("qv_next_zip");
            removeUnpackFolder();
            unpacking = false;
            if (zipQueue.empty())
                return;
            const std::string next = zipQueue.front();
            zipQueue.pop_front();
            startZipImport(next);
        },
        0.1f, "qv_next_zip");
}

Label* patientList::progressLabel()
{
    auto* label = dynamic_cast<Label*>(getChildByTag(kProgressLabelTag));
    if (!label) {
        label = Label::createWithSystemFont("", "", 15);
        label->setTag(kProgressLabelTag);
        label->setTextColor(Color4B(154, 160, 166, 255));
        label->setAnchorPoint(Vec2(1.0f, 0.5f));
        addChild(label, 1000);
    }
    // Right-aligned a gap left of the leftmost button of the top bar.
    const Size win = getContentSize();
    float right = win.width;
    for (const char* name : kTopBarButtons) {
        Node* button = layout ? layout->getChildByName(name) : nullptr;
        if (button && button->isVisible())
            right = std::min(right, convertToNodeSpace(button->getParent()->convertToWorldSpace(
                                                           button->getBoundingBox().origin)).x);
    }
    label->setPosition(Vec2(right - kProgressGap, win.height - kTopBarHeight / 2));
    return label;
}

void patientList::showLibraryState()
{
    // An import in progress has the label.
    if (importer && importer->isBusy())
        return;
    dicomDB* db = dataService::getInstance()->getDatabase();
    std::string text;
    int done = 0, queued = 0;
    if (db && db->isChecking())
        text = kCheckingText;
    else if (db && db->indexProgress(done, queued) && queued >= kIndexShownFrom)
        text = "Indexing the library's files: " + std::to_string(done) + " of " + std::to_string(queued);
    auto* label = dynamic_cast<Label*>(getChildByTag(kProgressLabelTag));
    if (text.empty()) {
        if (label && label->isVisible() && !importRound)
            label->setVisible(false);
        return;
    }
    label = progressLabel();
    label->setString(text);
    label->setVisible(true);
}

void patientList::startImportProgress()
{
    if (!importRound && importer) {
        importRound = true;
        importRoundQueued = importer->getQueuedCount();
        importRoundFinished = importer->getFinishedCount();
        importRoundCopied = importer->getCopiedCount();
        importRoundNoRoom = importer->getNoRoomCount();
        importRoundGone = importer->getGoneCount();
    }
    schedule([this](float) { showImportProgress(); }, 0.25f, "qv_import_progress");
}

void patientList::showImportProgress()
{
    auto* label = dynamic_cast<Label*>(getChildByTag(kProgressLabelTag));
    const bool busy = importer && importer->isBusy();
    if (!busy) {
        unschedule("qv_import_progress");
        if (label)
            label->setVisible(false);
        if (importRound && importer) {
            importRound = false;
            const int imported = importer->getCopiedCount() - importRoundCopied;
            const int noRoom = importer->getNoRoomCount() - importRoundNoRoom;
            // Files gone before their turn (another copy of the program moved them) are said apart:
            // they were neither damaged nor refused.
            const int gone = importer->getGoneCount() - importRoundGone;
            int skipped = importer->getFinishedCount() - importRoundFinished - imported - noRoom - gone;
            std::string toast;
            std::string full = AppConfig::getInstance()->getText(kImportNoRoomKey);
            if (noRoom > 0 && !full.empty())
                toast = replaceAll(full, "%d", std::to_string(noRoom));
            else
                skipped += noRoom;
            if (skipped > 0 || (imported > 0 && !toast.empty()))
                toast += (toast.empty() ? "" : "\n") + (skipped > 0 ? formatString(kImportSkippedToast, imported, skipped)
                                                                      : formatString(kImportedToast, imported));
            if (gone > 0)
                toast += (toast.empty() ? "" : "\n") + formatString(kImportGoneToast, gone);
            if (!toast.empty())
                showMessage(toast, 5.0f);
        }
        return;
    }
    label = progressLabel();
    // This round's files only: the importer counts everything handed in since it was made, and
    // copies in the order files were handed in, so the files queued before the round come first.
    const int queued = importer->getQueuedCount() - importRoundQueued;
    const int finished = std::clamp(importer->getFinishedCount() - importRoundQueued, 0, queued);
    label->setString("Importing " + std::to_string(finished) + " of " + std::to_string(queued) + " files");
    label->setVisible(true);
}

// ---- notifications ------------------------------------------------------------------------------

void patientList::onNotification(Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    const std::string text = data ? data->text : std::string();
    const int value = data ? data->intValue : 0;
    switch (id) {
    case NSUI::NOTIFY_MEMORY_LOW:
        showMessage("Memory is not enough.", 5.0f);
        break;
    case NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED:
        updateAccountIcon();
        break;
    case NSUI::NOTIFY_FAVORITE_ADD_FILE:
    case NSUI::NOTIFY_CAPTURE_SAVED:
        updateFavoriteBadge(-1);
        break;
    case NSUI::NOTIFY_NET_PEER_COUNT:
        updatePeerBadge(value);
        break;
    case NSUI::NOTIFY_OPEN_FILE:
        openPath(text);
        break;
    case NSUI::NOTIFY_IMPORT_PATH:
        onImportPathReady(value, text);
        break;
    case NSUI::NOTIFY_DB_SERIES_DELETED:
        onSeriesDeleted(text, value == 1);
        break;
    case NSUI::NOTIFY_DB_PATIENT_STORED:
        onPatientStored(text);
        break;
    case NSUI::NOTIFY_DB_LIBRARY_RELOADED:
        // The rows shown were read from the database before it opened, or from one since removed.
        if (dicomDB* db = dataService::getInstance()->getDatabase(); db && table) {
            table->clear();
            loadedUpToImage = 0;
            db->requestPatients([this](NSUI::NSDBDataModel* model) { onPatientsLoaded(model); }, this);
            updatePrompts();
        }
        break;
    default:
        break;
    }
}

void patientList::onSeriesDeleted(const std::string& patientID, bool patientGone)
{
    listObject* row = findRow(patientID);
    dicomDB* db = dataService::getInstance()->getDatabase();
    if (!row || !db)
        return;
    // Told by the library's worker as it deleted: asking the database here would wait for
    // whatever the worker writes meanwhile.
    if (patientGone) {
        table->removeRowForData(row);
        updatePrompts();
        return;
    }
    // The row's counts and texts are read again: no notification takes the deleted images off
    // them, and the stored images announced later are counted on top of them. Only rows still
    // listed are updated: a patient deleted meanwhile is not brought back.
    db->requestPatients([this](NSUI::NSDBDataModel* model) {
        if (table && model)
            showPatients(model, false);
    }, this);
}

void patientList::onPatientStored(const std::string& json)
{
    if (!table)
        return;
    const std::string id = getString(json, "patientID");
    if (id.empty())
        return;
    // Stored while the list was being loaded: the loaded counts hold this image already.
    if (getInt(json, "imageID", 0) <= loadedUpToImage && findRow(id))
        return;
    if (listObject* row = findRow(id)) {
        row->updateTime = getString(json, "updateTime").substr(0, 16);
        row->studyCount += getInt(json, "studyNumber", 0);
        row->seriesCount += getInt(json, "seriesNumber", 0);
        row->imageCount += getInt(json, "imageNumber", 0);
        row->isNew = true;
        table->updateCellForData(row);
        return;
    }
    listObject* row = listObject::create();
    row->patientID = id;
    row->hospitalID = getString(json, "patientIDHospital");
    row->name = getString(json, "name");
    row->birthday = getString(json, "birthday");
    row->sex = getString(json, "sex");
    row->updateTime = getString(json, "updateTime").substr(0, 16);
    row->description = getString(json, "studyDesc");
    row->folder = patientFolderOf(getString(json, "dcmFolder"));
    row->studyCount = getInt(json, "studyNumber", 0);
    row->seriesCount = getInt(json, "seriesNumber", 0);
    row->imageCount = getInt(json, "imageNumber", 0);
    row->isNew = true;
    table->insertRow(0, row);
    updatePrompts();
}

// ---- top bar, badges, banner and hints ---------------------------------------------------------

void patientList::updateAccountIcon()
{
    auto* logo = dynamic_cast<ui::Button*>(layout ? layout->getChildByName("logo") : nullptr);
    if (!logo)
        return;
    const char* icon = getLocalString(kLoginKey, "0") == "1" ? "imgs/logo.png" : "imgs/logout.png";
    logo->loadTextures(icon, icon, icon);
}

void patientList::updateFavoriteBadge(int count)
{
    Node* button = layout ? layout->getChildByName("btnFavorite") : nullptr;
    if (!button)
        return;
    showCountBadge(button, favoriteBadgeCount(button, count), "favoriteNodesBK", "favoriteNodes", Vec2(-10, 15));
}

void patientList::updatePeerBadge(int count)
{
    auto* wifi = dynamic_cast<ui::Button*>(layout ? layout->getChildByName("wifi") : nullptr);
    if (!wifi)
        return;
    const char* icon = count >= 0 ? "imgs/Wi-Fi-Green.png" : "imgs/Wi-Fi-Red.png";
    wifi->loadTextures(icon, icon, icon);
    showCountBadge(wifi, count, "activeNodesBK", "activeNodes", Vec2(-15, 15));
    showNetworkWarning(count < 0);
}

void patientList::showNetworkWarning(bool show)
{
    Node* parent = getParent();
    if (!parent || !table)
        return;
    Node* banner = parent->getChildByTag(kBannerTag);
    if (!banner) {
        const Size win = getContentSize();
        const float width = table->getContentSize().width;
        banner = Node::create();
        banner->setTag(kBannerTag);
        banner->setAnchorPoint(Vec2(0, 1));
        banner->setContentSize(Size(width, 100));
        banner->setPosition(Vec2(0, win.height - kTopBarHeight));
        banner->addChild(LayerColor::create(Color4B(189, 156, 156, 255), width, 100));
        if (Sprite* circle = Sprite::create("res/redCircle.png")) {
            circle->setPosition(Vec2(50, 50));
            banner->addChild(circle);
        }
        Label* mark = Label::createWithSystemFont("!", "", 45);
        mark->setPosition(Vec2(50, 50));
        banner->addChild(mark);
        Label* text = Label::createWithSystemFont(AppConfig::getInstance()->getText("dicomSendCheckWifi"), "", 25);
        text->setAnchorPoint(Vec2(0, 0.5f));
        text->setPosition(Vec2(90, 50));
        banner->addChild(text);
        banner->setVisible(false);
        parent->addChild(banner, getLocalZOrder() + 1);
    }
    if (banner->isVisible() == show)
        return;
    banner->setVisible(show);
    table->runAction(MoveBy::create(0.3f, Vec2(0, show ? -100.0f : 100.0f)));
}

Node* patientList::getHintNode() const
{
    return getChildByTag(kHintTag);
}

void patientList::updatePrompts()
{
    if (!table)
        return;
    Node* hint = getChildByTag(kHintTag);
    if (table->getRowCount() >= 4) {
        if (hint)
            hint->setVisible(false);
        return;
    }
    if (!hint) {
        const float width = getContentSize().width;
        hint = Node::create();
        hint->setTag(kHintTag);
        hint->setAnchorPoint(Vec2(0.5f, 0.5f));
        hint->setPosition(Vec2(isWideWindow() ? width / 4 : width / 2, 150));
        addChild(hint, table->getLocalZOrder() + 5);
        Sprite* desktop = Sprite::create("res/desktopPrompt.png");
        Sprite* node = Sprite::create("res/dicomNodePrompt.png");
        const Vec3 turn(360, 0, 0);
        if (desktop) {
            desktop->setPosition(Vec2(0, 60));
            desktop->runAction(RepeatForever::create(Sequence::create(
                FadeOut::create(1), DelayTime::create(10), FadeIn::create(1), RotateBy::create(1, turn),
                DelayTime::create(9), nullptr)));
            hint->addChild(desktop);
        }
        if (node) {
            node->setPosition(Vec2(0, 60));
            node->setOpacity(0);
            node->runAction(RepeatForever::create(Sequence::create(
                FadeIn::create(1), RotateBy::create(1, turn), DelayTime::create(9), FadeOut::create(1),
                DelayTime::create(10), nullptr)));
            hint->addChild(node);
        }
        Label* text = Label::createWithSystemFont(
            "Import files or folders, or send images here from a DICOM node.", "", 16);
        text->setTextColor(Color4B(154, 160, 166, 255));
        text->setPosition(Vec2(0, -40));
        text->setName(kEmptyTextName);
        hint->addChild(text);
    }
    hint->setVisible(true);
    // The hint's text says what to do with an empty library; beside listed patients it would
    // read as if there were none.
    if (Node* text = hint->getChildByName(kEmptyTextName))
        text->setVisible(table->getRowCount() == 0);
}
