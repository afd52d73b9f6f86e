#include "studyList.h"

#include "appManager.h"

#include "AppConfig.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "NSSpriteView.h"
#include "WidgetUtil.h"
#include "cocostudio/CSLoader.h"
#include "dcmDiskWrite.h"
#include "dcmLib.h"
#include "dicomDB.h"
#include "favoriteList.h"
#include "isDcmScan.h"
#include "isSeriesCache.h"
#include "dataService.h"
#include "NSResponseWindow.h"
#include "dcmSend.h"
#include "libraryWorkers.h"
#include "screenHelpers.h"
#include "shareTo.h"
#include "thumbnailShape.h"
#include "statApplication.h"
#include "viewerScreenHook.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

USING_NS_CC;

namespace {

const char* const kScreenLayout = "studyList.csb";
const char* const kPanelLayout = "studyListPC.csb";
const char* const kTitleRecord = "studyRecordTitle.csb";
const char* const kSeriesRecord = "studyRecord.csb";
const char* const kMenuFile = "studyTool.csb";
const int kStripPictureTag = 100;
// The viewer's own words for a series it cannot show, and for as long.
const char* const kCannotShowText = "failed_loadSeries";
constexpr float kCannotShowSeconds = 1.5f;
const int kStripLabelTag = 101;
// Usage events: the list shown and left, a share.
const int kEventShown = 5;
const int kEventLeft = 6;
const int kEventAction = 15;

// The series number's column, left of the series' texts, and the number's usual font size.
const float kNumberColumn = 64.0f;
const float kNumberFontSize = 22.0f;

// A long series number takes a smaller font, so that it keeps to its column beside the texts.
void fitSeriesNumber(Node* record)
{
    auto* number = dynamic_cast<ui::Text*>(record->getChildByNameDeep("id"));
    if (!number)
        return;
    number->setFontSize(kNumberFontSize);
    const float width = number->getContentSize().width;
    if (width > kNumberColumn)
        number->setFontSize(std::max(9.0f, std::floor(kNumberFontSize * kNumberColumn / width)));
}

// The protocols offered for a selection come from the viewers' hanging-protocol list unless a
// test puts its own lookup in place.
std::vector<studyList::Protocol> viewerProtocols(int seriesCount, int sliceCount, bool isVolume)
{
    isImageSDK::ProtocolQuery query;
    query.seriesCount = seriesCount;
    query.sliceCount = sliceCount;
    query.isVolume = isVolume;
    std::list<isImageSDK::ProtocolEntry*> found;
    isImageSDK::appManager::findProtocols(found, query);
    std::vector<studyList::Protocol> out;
    for (const isImageSDK::ProtocolEntry* p : found)
        out.push_back({p->file, p->title, p->type});
    return out;
}

studyList::ProtocolLookup& protocolLookup()
{
    static studyList::ProtocolLookup lookup = viewerProtocols;
    return lookup;
}

bool isNumberText(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string thumbnailName(int i)
{
    return "thrumb" + std::to_string(i);
}

// The series' pictures agree with the check written with them (kept with the series' cache), or
// none is kept and they are made again: a picture cut short or changed on disk, or pictures of an
// earlier version that wrote no check.
bool keepCheckedThumbnails(const std::string& folder)
{
    using isImageSDK::CheckResult;
    const std::string checkPath = isImageSDK::isDcmScan::thumbnailCheckPathOf(folder);
    std::vector<isImageSDK::CheckedFile> listed;
    CheckResult result = CheckResult::Missing;
    if (isImageSDK::readCheck(checkPath, listed) && !listed.empty() && listed.size() <= studyList::kThumbnailCount) {
        result = CheckResult::Match;
        for (size_t i = 0; i < studyList::kThumbnailCount && result == CheckResult::Match; ++i) {
            const std::string file = folder + thumbnailName(static_cast<int>(i));
            if (i >= listed.size())
                result = FileUtils::getInstance()->isFileExist(file) ? CheckResult::Mismatch : CheckResult::Match;
            else if (listed[i].name != thumbnailName(static_cast<int>(i)))
                result = CheckResult::Missing;
            else
                result = isImageSDK::compareWithCheck(file, listed[i]);
        }
    }
    if (result == CheckResult::Match)
        return true;
    log("studyList: the pictures of \"%s\" do not agree with their check (%s); they are made again", folder.c_str(),
        isImageSDK::checkResultText(result));
    for (int i = 0; i < studyList::kThumbnailCount; ++i)
        std::remove((folder + thumbnailName(i)).c_str());
    std::remove(checkPath.c_str());
    return false;
}

// Worker: the check of the series' first `made` pictures; any picture after them is an earlier
// set's and goes. Pictures whose check cannot be written are shown now and made again next time.
void writeThumbnailCheck(const std::string& folder, int made)
{
    for (int i = made; i < studyList::kThumbnailCount; ++i)
        std::remove((folder + thumbnailName(i)).c_str());
    std::vector<isImageSDK::CheckedFile> files(static_cast<size_t>(made));
    bool hashed = true;
    for (int i = 0; i < made && hashed; ++i)
        hashed = isImageSDK::hashFile(folder + thumbnailName(i), files[static_cast<size_t>(i)]);
    const std::string checkPath = isImageSDK::isDcmScan::thumbnailCheckPathOf(folder);
    FileUtils::getInstance()->createDirectory(isImageSDK::isDcmScan::getCacheFolder());
    if (!hashed || !isImageSDK::writeCheck(checkPath, files))
        log("studyList: cannot write the check of the pictures of \"%s\": %s", folder.c_str(),
            hashed ? redIRI::disk::reasonText(errno).c_str() : "a picture cannot be read");
}

// Worker: the series' cache entry, its rows (a study or patient left empty goes too) and the files
// of exactly those rows, in order with the images being stored (the library posts 2018).
void deleteSeriesFiles(dicomDB* db, const std::string& job)
{
    isImageSDK::isDcmScan::removeBuffer(NSUI::UIJson::getString(job, "folder"));
    db->deleteSeries(std::atoi(NSUI::UIJson::getString(job, "seriesID").c_str()));
    db->release();
}

} // namespace

// ---- rows ---------------------------------------------------------------------------------------

studyList::listObject* studyList::listObject::create(int kind)
{
    auto* row = new listObject();
    row->kind = kind;
    row->autorelease();
    return row;
}

studyList::protocalObject* studyList::protocalObject::create(const std::string& file, const std::string& title,
                                                             const std::string& type)
{
    auto* object = new protocalObject();
    object->file = file;
    object->title = title;
    object->type = type;
    object->autorelease();
    return object;
}

void studyList::setProtocolLookup(ProtocolLookup lookup)
{
    protocolLookup() = std::move(lookup);
}

// ---- creation -----------------------------------------------------------------------------------

Scene* studyList::createScene()
{
    Scene* scene = Scene::create();
    scene->enableAndroidReturnKey(true);
    if (studyList* list = studyList::create()) {
        list->setContentSize(Director::getInstance()->getWinSize());
        list->setLayout(false);
        list->setTag(kSceneLayerTag);
        scene->addChild(list);
    }
    return scene;
}

studyList::~studyList()
{
    for (NSUI::NSNotificationData* data : pending)
        data->release();
}

bool studyList::init()
{
    if (!Layer::init())
        return false;
    recordStatistics(kEventShown);
    setOwnerNode(this);
    highlightColor = Color4B(255, 255, 0, 55);
    highlightEnabled = true;
    firstEnter = true;
    loaded = false;
    patientID.clear();
    thumbnailFolder.clear();
    stripSize = 100.0f;
    dicomDB* db = dataService::getInstance()->getDatabase();
    libraryRoot = db ? db->getDicomRoot() : FileUtils::getInstance()->getWritablePath() + "qv/dicom/";

    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NSUI::NOTIFY_DB_STUDY_STORED, NSUI::NOTIFY_THUMBNAIL_READY, NSUI::NOTIFY_DB_PATIENT_DELETED,
                            NSUI::NOTIFY_CAPTURE_SAVED, NSUI::NOTIFY_FAVORITE_ADD_FILE})
        centre->addObserver(this, nullptr, callback, id);
    return true;
}

void studyList::setLayout(bool panel)
{
    panelLayout = panel;
    layout = dynamic_cast<ui::Widget*>(CSLoader::createNode(panel ? kPanelLayout : kScreenLayout));
    if (!layout)
        return;
    if (Node* appName = layout->getChildByName("appName"))
        appName->removeFromParent();
    layout->setContentSize(getContentSize());
    AppConfig::getInstance()->setText(layout, "");
    ui::Helper::doLayout(layout);
    addChild(layout);

    // The placeholder stays, hidden, so that a new window size can be measured on it again.
    Node* placeholder = layout->getChildByName("list");
    if (placeholder) {
        rowsTable = NSUI::NSListView::create();
        rowsTable->setAnchorPoint(Vec2::ZERO);
        rowsTable->keepSelection = true;
        rowsTable->multiSelection = true;
        rowsTable->delegate = this;
        // On the screen itself: the layout arranges its own children by their alignments.
        addChild(rowsTable, placeholder->getLocalZOrder());

        protocolStrip = NSUI::NSListView::create();
        protocolStrip->setDirection(NSUI::ScrollDirection::HORIZONTAL);
        protocolStrip->setAnchorPoint(Vec2::ZERO);
        protocolStrip->delegate = this;
        addChild(protocolStrip, placeholder->getLocalZOrder());

        placeholder->setVisible(false);
        placeTables();
        rowsTable->swipeEdgeRatio = 0.2f;
        rowsTable->swipeOpenRatio = 0.4f;
        rowsTable->swipeSlideTime = 0.5f;
        rowsTable->reloadData();
    }
    // A screen of its own follows the window; the patient list lays out its side panel.
    if (!panel)
        NSUI::listenForWindowResize(this, [this] { relayout(Director::getInstance()->getWinSize()); });
    wireButton("goBack");
    wireButton("btnFavorite");
    if (Node* favorite = layout->getChildByName("btnFavorite")) {
        favorite->setLocalZOrder(1000);
        favorite->setScale(0.7f);
    }
    showThumbnails(std::string());
}

void studyList::placeTables()
{
    Node* placeholder = layout ? layout->getChildByName("list") : nullptr;
    if (!placeholder || !rowsTable || !protocolStrip)
        return;
    const Size box = placeholder->getContentSize();
    // A screen of its own keeps its top bar above the tables.
    const float height = panelLayout ? box.height : box.height - 60.0f;
    const Vec2 origin = placeholder->getPosition() -
                        Vec2(box.width * placeholder->getAnchorPoint().x, box.height * placeholder->getAnchorPoint().y);
    rowsTable->setContentSize(Size(box.width, std::max(0.0f, height - stripSize)));
    rowsTable->setPosition(origin + Vec2(0, stripSize));
    protocolStrip->setContentSize(Size(box.width, stripSize));
    protocolStrip->setPosition(origin);
}

void studyList::relayout(const Size& size)
{
    setContentSize(size);
    if (!layout)
        return;
    layout->setContentSize(size);
    ui::Helper::doLayout(layout);
    placeTables();
    if (rowsTable)
        rowsTable->reloadData();
    if (protocolStrip)
        protocolStrip->reloadData();
    // The pictures are scaled to the new table.
    const std::string folder = thumbnailFolder;
    thumbnailFolder.clear();
    if (!folder.empty())
        showThumbnails(folder);
}

void studyList::wireButton(const std::string& name)
{
    auto* button = dynamic_cast<ui::Button*>(layout ? layout->getChildByName(name) : nullptr);
    if (button)
        button->addClickEventListener([this](Ref* sender) { onButton(sender); });
}

void studyList::cleanup()
{
    Layer::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    // Clean-up may follow the network service's end; it is not made again for this.
    if (dicomDB* db = dataService::peekInstance() ? dataService::peekInstance()->getDatabase() : nullptr)
        db->cancelRequests(this);
    for (NSUI::NSNotificationData* data : pending)
        data->release();
    pending.clear();
    for (const std::string& file : loadedTextures)
        Director::getInstance()->getTextureCache()->removeTextureForKey(file);
    loadedTextures.clear();
}

void studyList::onExit()
{
    Layer::onExit();
    recordStatistics(kEventLeft);
}

void studyList::onEnterTransitionDidFinish()
{
    Layer::onEnterTransitionDidFinish();
    // The window may have been resized while another screen covered this one.
    const Size win = Director::getInstance()->getWinSize();
    if (layout && !panelLayout && !getContentSize().equals(win))
        relayout(win);
    if (firstEnter) {
        firstEnter = false;
        requestStudies();
    }
    dicomDB* db = dataService::getInstance()->getDatabase();
    if (Node* favorite = layout ? layout->getChildByName("btnFavorite") : nullptr)
        showCountBadge(favorite, favoriteBadgeCount(favorite, db ? db->newFavoriteCount : 0), "favoriteNodesBK",
                       "favoriteNodes", Vec2(-10, 15));
}

void studyList::requestStudies()
{
    dicomDB* db = dataService::getInstance()->getDatabase();
    if (!db || patientID.empty())
        return;
    loading = true;
    db->requestStudies([this](NSUI::NSDBDataModel* model) { onStudiesLoaded(model); }, patientID, this);
}

void studyList::setPatient(const std::string& id)
{
    if (patientID.empty() && firstEnter) {
        patientID = id;  // the first entry loads it
        return;
    }
    if (id == patientID)
        return;
    // The library answers only when it found rows, so a request for a patient without series
    // never ends: a new patient replaces the request still running.
    if (loading) {
        if (dicomDB* db = dataService::getInstance()->getDatabase())
            db->cancelRequests(this);
        for (NSUI::NSNotificationData* data : pending)
            data->release();
        pending.clear();
    }
    loaded = false;
    patientID = id;
    if (rowsTable)
        rowsTable->clear();
    if (protocolStrip)
        protocolStrip->clear();
    hideThumbnails();
    requestStudies();
}

void studyList::onStudiesLoaded(NSUI::NSDBDataModel* model)
{
    std::string currentStudy;
    for (int r = 0; model && r < model->getRowCount(); ++r) {
        const int columns = model->getColumnCount(r);
        if (columns < 1)
            continue;
        auto value = [&](int c) { return c < columns ? model->getValue(r, c) : std::string(); };
        // The library holds the texts as files and peers gave them: shown as one clean line each.
        if (value(0) == "study") {
            listObject* row = listObject::create(ROW_STUDY);
            row->studyID = value(1);
            row->patientID = value(2);
            row->hospitalStudyID = cleanOutsideText(value(3));
            row->studyDate = value(4);
            row->studyDescription = cleanOutsideText(value(5));
            currentStudy = row->studyID;
            insertRow(currentStudy, row);
            continue;
        }
        listObject* row = listObject::create(ROW_SERIES);
        row->seriesID = value(0);
        row->patientID = value(1);
        row->seriesDate = value(2);
        row->seriesDescription = cleanOutsideText(value(3));
        row->folder = value(4);
        row->imageCount = std::atoi(value(5).c_str());
        row->columns = std::atoi(value(6).c_str());
        row->rows = std::atoi(value(7).c_str());
        row->institution = cleanOutsideText(value(8));
        row->modality = cleanOutsideText(value(9));
        row->seriesParameters = value(10);
        row->seriesNumber = cleanOutsideText(value(11));
        insertRow(currentStudy, row);
    }
    loaded = true;
    std::vector<NSUI::NSNotificationData*> replay;
    replay.swap(pending);
    for (NSUI::NSNotificationData* data : replay) {
        onNotification(nullptr, NSUI::NOTIFY_DB_STUDY_STORED, data);
        data->release();
    }
    if (rowsTable && rowsTable->getRowCount() >= 2) {
        showThumbnails(static_cast<listObject*>(rowsTable->getRowData()[1]));
        updateProtocols();
    }
    loading = false;
}

ssize_t studyList::findStudyRow(const std::string& studyID) const
{
    const auto& rows = rowsTable->getRowData();
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* row = static_cast<listObject*>(rows[i]);
        if (row->kind == ROW_STUDY && row->studyID == studyID)
            return static_cast<ssize_t>(i);
    }
    return -1;
}

ssize_t studyList::findSeriesRow(const std::string& seriesID) const
{
    const auto& rows = rowsTable->getRowData();
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* row = static_cast<listObject*>(rows[i]);
        if (row->kind == ROW_SERIES && row->seriesID == seriesID)
            return static_cast<ssize_t>(i);
    }
    return -1;
}

void studyList::insertRow(const std::string& studyID, listObject* row)
{
    if (studyID.empty() || !rowsTable)
        return;
    const ssize_t title = findStudyRow(studyID);
    if (title < 0) {
        rowsTable->insertRow(-1, row);
        return;
    }
    const auto& rows = rowsTable->getRowData();
    size_t at = static_cast<size_t>(title) + 1;
    for (; at < rows.size(); ++at) {
        auto* other = static_cast<listObject*>(rows[at]);
        if (other->kind != ROW_SERIES)
            break;
        bool before;
        if (isNumberText(other->seriesNumber) && isNumberText(row->seriesNumber))
            before = std::atoi(other->seriesNumber.c_str()) <= std::atoi(row->seriesNumber.c_str());
        else
            before = other->seriesNumber < row->seriesNumber;
        if (!before)
            break;
    }
    rowsTable->insertRow(static_cast<ssize_t>(at), row);
}

// ---- cells --------------------------------------------------------------------------------------

Size studyList::tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t, Ref* data)
{
    if (table == protocolStrip)
        return Size(stripSize, stripSize);
    // The rows span the rows table, so that its right end (where a touch opens the viewer) is the
    // cells' right end.
    const float width = table->getContentSize().width;
    auto* row = static_cast<listObject*>(data);
    return Size(width, row && row->kind == ROW_SERIES ? 100.0f : 50.0f);
}

NSUI::NSTableViewCell* studyList::tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const Size& size)
{
    NSUI::NSTableViewCell* cell = table->cellAtIndex(index);
    if (!cell)
        cell = table->dequeueCell();
    if (!cell)
        cell = NSUI::NSTableViewCell::create();
    if (index < 0 || index >= table->getRowCount())
        return cell;

    if (table == protocolStrip) {
        auto* protocol = static_cast<protocalObject*>(table->getRowData()[index]);
        auto* picture = dynamic_cast<NSUI::NSSpriteView*>(cell->getChildByTag(kStripPictureTag));
        if (!picture) {
            picture = NSUI::NSSpriteView::create();
            // Only shown: a touch anywhere on the cell belongs to the strip, which opens the protocol.
            picture->setTouchEnabled(false);
            picture->setTag(kStripPictureTag);
            cell->addChild(picture);
        }
        picture->setContentSize(Size(stripSize, size.height - 40));
        picture->setAnchorPoint(Vec2(0.5f, 0.5f));
        picture->setPosition(Vec2(size.width / 2, (size.height - 40) / 2 + 30));
        picture->setImage(protocol->file);
        auto* label = dynamic_cast<Label*>(cell->getChildByTag(kStripLabelTag));
        if (!label) {
            label = Label::createWithSystemFont("", "", 15);
            label->setTag(kStripLabelTag);
            cell->addChild(label);
        }
        label->setPosition(Vec2(size.width / 2, 15));
        label->setString(protocol->title);
        return cell;
    }

    auto* row = static_cast<listObject*>(table->getRowData()[index]);
    const bool series = row->kind == ROW_SERIES;
    const int tag = series ? kSeriesLayoutTag : kTitleLayoutTag;
    if (Node* other = cell->getChildByTag(series ? kTitleLayoutTag : kSeriesLayoutTag))
        other->removeFromParent();
    auto* record = dynamic_cast<ui::Widget*>(cell->getChildByTag(tag));
    if (!record) {
        record = dynamic_cast<ui::Widget*>(CSLoader::createNode(series ? kSeriesRecord : kTitleRecord));
        if (!record)
            return cell;
        record->setTag(tag);
        AppConfig::getInstance()->setText(record, "");
        cell->addChild(record);
    }
    record->setContentSize(size);
    if (series) {
        setChildText(record, "id", row->seriesNumber);
        fitSeriesNumber(record);
        setChildText(record, "seriesPara", row->seriesParameters);
        setChildText(record, "imageDesc", std::to_string(row->columns) + "x" + std::to_string(row->rows) + " of " +
                                              std::to_string(row->imageCount));
        setChildText(record, "hospital", row->institution);
        setChildText(record, "modality", row->modality);
        setChildText(record, "seriesDesc", row->seriesDescription);
    } else {
        setChildText(record, "id", row->hospitalStudyID);
        setChildText(record, "time", row->studyDate);
        setChildText(record, "desc", row->studyDescription);
    }
    ui::Helper::doLayout(record);
    return cell;
}

void studyList::tableCellLeftMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu)
{
    const ssize_t index = menu->getCell() ? menu->getCell()->getIndex() : menu->getIndex();
    listObject* row = (table == rowsTable && index >= 0 && index < table->getRowCount())
                          ? static_cast<listObject*>(table->getRowData()[index])
                          : nullptr;
    if (!row || row->kind != ROW_SERIES) {
        menu->setVisible(false);
        return;
    }
    fillSwipeMenu(menu, kMenuFile, [this](Ref* sender) { onButton(sender); });
}

void studyList::tableCellTouched(NSUI::NSTableView* table, NSUI::NSTableViewCell* cell, const Vec2& point)
{
    if (!cell)
        return;
    if (table == rowsTable) {
        const ssize_t index = cell->getIndex();
        if (index < 0 || index >= table->getRowCount())
            return;
        auto* row = static_cast<listObject*>(table->getRowData()[index]);
        if (row->kind == ROW_SERIES && point.x >= table->getContentSize().width - kOpenZone) {
            openViewer(row->folder, "");
            return;
        }
        showThumbnails(row);
        updateProtocols();
        return;
    }
    if (table != protocolStrip)
        return;
    const ssize_t index = cell->getIndex();
    if (index < 0 || index >= table->getRowCount())
        return;
    const std::string type = static_cast<protocalObject*>(table->getRowData()[index])->type;
    std::vector<listObject*> selected;
    for (Ref* data : rowsTable->getSelectionList()) {
        auto* row = static_cast<listObject*>(data);
        if (row->kind == ROW_SERIES)
            selected.push_back(row);
    }
    if (selected.empty())
        return;
    if (selected.size() == 1) {
        NSUI::NSTableViewCell* chosen = rowsTable->getSelectedCell();
        const ssize_t i = chosen ? chosen->getIndex() : -1;
        if (i < 0 || i >= rowsTable->getRowCount())
            return;
        auto* row = static_cast<listObject*>(rowsTable->getRowData()[i]);
        if (row->kind == ROW_SERIES)
            openViewer(row->folder, type);
        return;
    }
    std::string json;
    for (size_t i = 0; i < selected.size(); ++i) {
        if (selected[i]->folder.empty()) {
            openViewer("", type);
            return;
        }
        setString(json, "series" + std::to_string(i + 1), selected[i]->folder);
    }
    setString(json, "num", std::to_string(selected.size()));
    openViewer(json, type);
}

void studyList::openViewer(const std::string& series, const std::string& protocol)
{
    // The viewer screen registers its factory (imageViewerPC::createScene, then setProtocol on its
    // "imageViewPC" child) with the hook. A series row whose values never came (its study was
    // announced without them) has no folder: the viewer would scan the whole library for it. It
    // cannot be shown, and says so in the viewer's words.
    Scene* scene = series.empty() ? nullptr : openViewerScene(series, protocol);
    if (!scene) {
        log("studyList: no viewer screen for \"%s\"", series.c_str());
        showMessage(AppConfig::getInstance()->getText(kCannotShowText), kCannotShowSeconds);
        return;
    }
    Director::getInstance()->pushScene(scene);
}

void studyList::updateProtocols()
{
    if (!protocolStrip || !rowsTable)
        return;
    protocolStrip->clear();
    int count = 0;
    bool allVolumes = true;
    for (Ref* data : rowsTable->getSelectionList()) {
        auto* row = static_cast<listObject*>(data);
        if (row->kind != ROW_SERIES)
            continue;
        ++count;
        if ((row->modality == "MR" && row->seriesDescription.find("Loc") != std::string::npos) || row->imageCount < 6)
            allVolumes = false;
    }
    NSUI::NSTableViewCell* chosen = rowsTable->getSelectedCell();
    const ssize_t i = chosen ? chosen->getIndex() : -1;
    if (count > 0 && i >= 0 && i < rowsTable->getRowCount() && protocolLookup()) {
        auto* row = static_cast<listObject*>(rowsTable->getRowData()[i]);
        if (row->kind == ROW_SERIES) {
            for (const Protocol& p : protocolLookup()(count, row->imageCount, allVolumes))
                protocolStrip->insertRow(-1, protocalObject::create(p.file, p.title, p.type));
        }
    }
    protocolStrip->reloadData();
}

// ---- thumbnails ---------------------------------------------------------------------------------

std::vector<int> studyList::thumbnailIndices(int n)
{
    std::vector<int> out;
    if (n < 1)
        return out;
    int previous = -1;
    for (int i = 0; i < kThumbnailCount; ++i) {
        const int k = static_cast<int>(i * (n / 6.0) + 0.1);
        if (k != previous)
            out.push_back(k);
        previous = k;
    }
    return out;
}

void studyList::makeThumbnails(const std::string& job, const std::string& libraryRoot, dicomDB* db)
{
    const std::string relative = NSUI::UIJson::getString(job, "folder");
    const std::string folder = libraryRoot + relative + "/";
    NSUI::NSDBDataModel images;
    int made = 0;
    if (db) {
        db->getSeriesImages(std::atoi(NSUI::UIJson::getString(job, "id").c_str()), images);
        db->release();
        redIRI::dcmReader reader;
        reader.setLanguage(static_cast<int>(Application::getInstance()->getCurrentLanguage()));
        const int n = images.getRowCount();
        for (int k : thumbnailIndices(n)) {
            if (images.getColumnCount(k) < 2)
                continue;
            const std::string file = folder + images.getValue(k, 1);
            const long long size = FileUtils::getInstance()->getFileSize(file);
            if (size < 0 || 2 * size > kThumbnailReadLimit)
                continue;
            const std::string png = folder + thumbnailName(made);
            redIRI::disk::clearLastError();
            const bool converted = reader.setFile(file.c_str()) && reader.convertToPngFile(png.c_str(), true);
            char spacing[128] = "";
            if (converted && reader.readDicomTagString(0x0028, 0x0030, spacing, sizeof spacing))
                giveThumbnailPixelShape(png, spacing);
            if (redIRI::disk::lastError() != 0) {
                // A picture (or its reshaping) that could not be written: the series keeps none, so
                // that the next showing makes them all again instead of keeping a short set for good.
                for (int i = 0; i <= made; ++i)
                    std::remove((folder + thumbnailName(i)).c_str());
                made = 0;
                break;
            }
            made += converted ? 1 : 0;
        }
        if (made > 0)
            writeThumbnailCheck(folder, made);
    }
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(
        nullptr, NSUI::NOTIFY_THUMBNAIL_READY, made > 0 ? folder : std::string(), nullptr, false);
}

void studyList::hideThumbnails()
{
    for (int i = 0; i < kThumbnailCount; ++i) {
        if (Node* widget = layout ? layout->getChildByNameDeep(thumbnailName(i)) : nullptr)
            widget->setVisible(false);
    }
    // Hidden pictures are shown again by the next request for the same folder.
    thumbnailFolder.clear();
}

void studyList::showThumbnails(listObject* row)
{
    if (!row || row->kind != ROW_SERIES || thumbnailBusy)
        return;
    thumbnailBusy = true;
    const std::string folder = libraryRoot + row->folder + "/";
    if (FileUtils::getInstance()->isFileExist(folder + thumbnailName(0)) && keepCheckedThumbnails(folder)) {
        showThumbnails(folder);
        thumbnailBusy = false;
        return;
    }
    hideThumbnails();
    dicomDB* db = dataService::getInstance()->getDatabase();
    if (!db) {
        thumbnailBusy = false;
        return;
    }
    std::string job;
    setString(job, "id", row->seriesID);
    setString(job, "folder", row->folder);
    db->retain();  // released by the worker
    const std::string root = libraryRoot;
    startLibraryWorker([job, root, db] { makeThumbnails(job, root, db); });
}

void studyList::showThumbnails(const std::string& folder)
{
    if (folder.empty()) {
        hideThumbnails();
        return;
    }
    if (folder == thumbnailFolder)
        return;
    thumbnailFolder = folder;
    float side = 200.0f;
    if (rowsTable) {
        const Size box = rowsTable->getContentSize();
        side = std::min(box.width, box.height) - 30.0f;
    }
    TextureCache* cache = Director::getInstance()->getTextureCache();
    for (int i = 0; i < kThumbnailCount; ++i) {
        auto* view = dynamic_cast<ui::ImageView*>(layout ? layout->getChildByNameDeep(thumbnailName(i)) : nullptr);
        if (!view)
            continue;
        const std::string file = folder + thumbnailName(i);
        if (!FileUtils::getInstance()->isFileExist(file)) {
            view->setVisible(false);
            continue;
        }
        // A series that received images has its pictures made again under the same names.
        cache->removeTextureForKey(file);
        view->loadTexture(file);
        if (std::find(loadedTextures.begin(), loadedTextures.end(), file) == loadedTextures.end())
            loadedTextures.push_back(file);
        const Size picture = view->getVirtualRendererSize();
        const float larger = std::max(picture.width, picture.height);
        view->setScale(larger > 0 ? side / larger : 1.0f);
        view->setVisible(true);
    }
}

// ---- buttons ------------------------------------------------------------------------------------

studyList::listObject* studyList::rowFromSwipeMenu(Ref* sender, ssize_t* index)
{
    const ssize_t i = swipeMenuRowIndex(sender);
    if (!rowsTable || i < 0 || i >= rowsTable->getRowCount())
        return nullptr;
    if (index)
        *index = i;
    auto* row = static_cast<listObject*>(rowsTable->getRowData()[i]);
    return row->kind == ROW_SERIES ? row : nullptr;
}

void studyList::onButton(Ref* sender)
{
    auto* node = dynamic_cast<Node*>(sender);
    if (!node)
        return;
    const std::string& name = node->getName();
    if (name == "goBack") {
        Director::getInstance()->popScene();
    } else if (name == "del") {
        ssize_t index = -1;
        if (rowFromSwipeMenu(sender, &index))
            deleteSeriesAt(index);
    } else if (name == "share") {
        if (listObject* row = rowFromSwipeMenu(sender, nullptr)) {
            shareTo* panel = shareTo::create();
            addChild(panel);
            panel->start(libraryRoot + row->folder + "/", row->seriesID);
            rowsTable->hideSwipeMenu(false);
            recordStatistics(kEventAction);
        }
    } else if (name == "btnFavorite") {
        Director::getInstance()->pushScene(favoriteList::createScene());
    } else if (name == "send") {
        if (listObject* row = rowFromSwipeMenu(sender, nullptr))
            addChild(dcmSend::makeWindow(libraryRoot + row->folder + "/", row->seriesID));
        if (rowsTable)
            rowsTable->hideSwipeMenu(false);
    }
}

void studyList::deleteSeriesAt(ssize_t index)
{
    if (!rowsTable || index < 0 || index >= rowsTable->getRowCount())
        return;
    auto* row = static_cast<listObject*>(rowsTable->getRowData()[index]);
    if (row->kind != ROW_SERIES)
        return;
    std::string job;
    setString(job, "seriesID", row->seriesID);
    setString(job, "patientID", row->patientID);
    setString(job, "folder", libraryRoot + row->folder);
    if (thumbnailFolder == libraryRoot + row->folder + "/")
        hideThumbnails();
    if (dicomDB* db = dataService::getInstance()->getDatabase()) {
        db->retain();  // released by the worker
        startLibraryWorker([db, job] { deleteSeriesFiles(db, job); });
    }
    rowsTable->removeRowAtIndex(index);
    // A study left without series is gone from the library with its last one.
    const auto& rows = rowsTable->getRowData();
    const auto kindAt = [&rows](ssize_t i) { return static_cast<listObject*>(rows[i])->kind; };
    if (index > 0 && kindAt(index - 1) == ROW_STUDY && (index >= ssize_t(rows.size()) || kindAt(index) != ROW_SERIES))
        rowsTable->removeRowAtIndex(index - 1);
}

// ---- notifications ------------------------------------------------------------------------------

void studyList::onNotification(Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    switch (id) {
    case NSUI::NOTIFY_DB_PATIENT_DELETED:
        if (data && data->text == patientID) {
            if (rowsTable)
                rowsTable->clear();
            if (protocolStrip)
                protocolStrip->clear();
            hideThumbnails();
            loaded = false;
        }
        break;
    case NSUI::NOTIFY_FAVORITE_ADD_FILE:
    case NSUI::NOTIFY_CAPTURE_SAVED:
        if (Node* favorite = layout ? layout->getChildByName("btnFavorite") : nullptr)
            showCountBadge(favorite, favoriteBadgeCount(favorite, -1), "favoriteNodesBK", "favoriteNodes",
                           Vec2(-10, 15));
        break;
    case NSUI::NOTIFY_THUMBNAIL_READY:
        thumbnailBusy = false;
        showThumbnails(data ? data->text : std::string());
        break;
    case NSUI::NOTIFY_DB_STUDY_STORED: {
        if (!data || !rowsTable)
            break;
        if (!loaded) {
            data->retain();
            pending.push_back(data);
            break;
        }
        const std::string& json = data->text;
        if (getString(json, "patientID") != patientID)
            break;
        auto* model = static_cast<NSUI::NSDBDataModel*>(data->userData);
        const std::string studyID = getString(json, "studyID");
        const std::string seriesID = getString(json, "seriesID");
        const ssize_t title = findStudyRow(studyID);
        const ssize_t series = findSeriesRow(seriesID);
        auto emptySeries = [&]() {
            listObject* row = listObject::create(ROW_SERIES);
            row->seriesID = seriesID;
            row->patientID = patientID;
            return row;
        };
        if (title < 0 || (series >= 0 && series < title)) {
            listObject* head = listObject::create(ROW_STUDY);
            head->studyID = studyID;
            head->patientID = patientID;
            head->hospitalStudyID = getString(json, "studyIDHospital");
            head->studyDate = getString(json, "studyDate");
            head->studyDescription = getString(json, "studyDesc");
            rowsTable->insertRow(0, head);
            rowsTable->insertRow(1, emptySeries());
            fillSeriesRow(model);
        } else if (series < 0) {
            rowsTable->insertRow(title + 1, emptySeries());
            fillSeriesRow(model);
        } else if (model && model->getRowCount() > 0 && model->getColumnCount(0) > 4) {
            auto* row = static_cast<listObject*>(rowsTable->getRowData()[series]);
            row->imageCount = std::atoi(model->getValue(0, 4).c_str());
            rowsTable->updateCellAtIndex(series);
        }
        break;
    }
    default:
        break;
    }
}

void studyList::fillSeriesRow(NSUI::NSDBDataModel* model)
{
    if (!model || model->getRowCount() < 1 || !rowsTable)
        return;
    const ssize_t index = findSeriesRow(model->getValue(0, 0));
    if (index < 0)
        return;
    const int columns = model->getColumnCount(0);
    auto value = [&](int c) { return c < columns ? model->getValue(0, c) : std::string(); };
    auto* row = static_cast<listObject*>(rowsTable->getRowData()[index]);
    row->seriesID = value(0);
    row->seriesDate = value(1);
    row->seriesDescription = value(2);
    row->folder = value(3);
    row->imageCount = std::atoi(value(4).c_str());
    row->columns = std::atoi(value(5).c_str());
    row->rows = std::atoi(value(6).c_str());
    row->institution = value(7);
    row->modality = value(8);
    row->seriesParameters = value(9);
    row->seriesNumber = value(10);
    rowsTable->updateCellAtIndex(index);
}
