#include "captureList.h"

#include "AppConfig.h"
#include "NSDBDataModel.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSRunableThread.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "base/base64.h"
#include "dataService.h"
#include "dcmLib.h"
#include "dicomDB.h"
#include "platformMail.h"
#include "statApplication.h"
#include "thumbnailShape.h"
#include "ui/CocosGUI.h"

#include <cstdio>
#include <cstdlib>

USING_NS_CC;

const char* const captureList::kIntroductionText =
    "This is your private library about the medical work. Browse all your collected files, images, dicom files, "
    "etc. A memo tool is ready for these materials.";

namespace {

const char* const kPlaceholder = "res/sprite.png";
const char* const kBadge = "res/chat_dicom.png";
const char* const kBubble = "res/chat_txtbk.png";
const char* const kUnticked = "imgs/chkNone.png";
const char* const kTicked = "imgs/chkDone.png";
const float kBubbleInset = 12.0f;
const float kBubblePadding = 10.0f;
const Color3B kListBackground(180, 178, 180);

dicomDB* g_testDatabase = nullptr;

void recordStatistics(int type)
{
    if (statApplication* stats = statApplication::peekInstance())
        stats->addStat(type, "");
}

bool isItem(int type)
{
    return type == captureList::kImageFile || type == captureList::kDicomFile;
}

} // namespace

captureList::listObject* captureList::listObject::create()
{
    auto* row = new listObject();
    row->autorelease();
    return row;
}

dicomDB* captureList::database()
{
    if (g_testDatabase)
        return g_testDatabase;
    dataService* service = dataService::peekInstance();
    return service ? service->getDatabase() : nullptr;
}

void captureList::setDatabaseForTest(dicomDB* db)
{
    g_testDatabase = db;
}

captureList::~captureList()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    onSelect = nullptr;
}

bool captureList::init()
{
    if (!NSLayout::init())
        return false;
    timeRowHeight = 40;
    landscapeHeight = 80;
    portraitHeight = 160;
    topMargin = 10;
    rightMargin = 10;
    thumbnailInset = 30;
    return true;
}

void captureList::setup()
{
    if (!table) {
        table = NSUI::NSListView::create();
        table->setBackGroundColorType(ui::Layout::BackGroundColorType::SOLID);
        table->setBackGroundColor(kListBackground);
        table->setBackGroundColorOpacity(255);
        addChild(table);
    }
    paneWidth = getContentSize().width;
    table->setAnchorPoint(Vec2::ZERO);
    table->setPosition(Vec2::ZERO);
    table->setContentSize(getContentSize());
    table->delegate = this;
    table->reloadData();
    if (dicomDB* db = database())
        db->requestFavorites([this](NSUI::NSDBDataModel* model) { onFavorites(model); }, this);
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, this, [this](Ref*, unsigned int id, NSUI::NSNotificationData* data) { onNotification(id, data); },
        NOTIFY_CAPTURE_LIST_CHANGED);
}

void captureList::onEnterTransitionDidFinish()
{
    NSLayout::onEnterTransitionDidFinish();
    if (dicomDB* db = database())
        db->newFavoriteCount = 0;
}

void captureList::cleanup()
{
    if (dicomDB* db = database())
        db->cancelRequests(this);
    NSLayout::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

captureList::listObject* captureList::rowAt(ssize_t index) const
{
    if (!table || index < 0 || index >= table->getRowCount())
        return nullptr;
    return dynamic_cast<listObject*>(table->getRowData()[index]);
}

void captureList::onFavorites(NSUI::NSDBDataModel* model)
{
    if (!table || !model)
        return;
    table->clear();
    std::vector<listObject*> rows;
    for (int r = 0; r < model->getRowCount(); ++r) {
        if (model->getColumnCount(r) < 7)
            continue;
        listObject* row = listObject::create();
        row->ID = std::atoi(model->getValue(r, 0).c_str());
        row->type = std::atoi(model->getValue(r, 1).c_str());
        row->message = model->getValue(r, 2);
        row->icon = model->getValue(r, 3);
        row->image = model->getValue(r, 4);
        row->updateTime = model->getValue(r, 5);
        row->scale = float(std::atof(model->getValue(r, 6).c_str()));
        // Of two adjacent time marks only the later one stays.
        if (!rows.empty() && rows.back()->type == kTimeMark && row->type == kTimeMark)
            rows.pop_back();
        rows.push_back(row);
    }
    for (listObject* row : rows)
        table->insertRow(-1, row);
    table->reloadData();
    tidyEnd();
    table->jumpToDestination(Vec2(table->getInnerContainer()->getPositionX(), 0));
    loaded = true;
}

void captureList::tidyEnd()
{
    if (!table)
        return;
    while (table->getRowCount() > 0) {
        listObject* last = rowAt(table->getRowCount() - 1);
        if (!last || last->type != kTimeMark)
            break;
        table->removeRowAtIndex(table->getRowCount() - 1);
    }
    if (table->getRowCount() == 0) {
        listObject* intro = listObject::create();
        intro->type = kIntroduction;
        intro->scale = 1.0f;
        table->insertRow(-1, intro);
    }
}

Size captureList::tableCellSizeForIndex(NSUI::NSTableView* t, ssize_t, Ref* data)
{
    const float width = t->getContentSize().width;
    auto* row = dynamic_cast<listObject*>(data);
    if (!row)
        return Size(width, timeRowHeight);
    const float picture = row->scale < 0.99f ? portraitHeight : landscapeHeight;
    switch (row->type) {
    case kImageFile:
        return Size(width, picture + topMargin);
    case kDicomFile:
        return Size(width, picture + 20 + 2 * topMargin);
    case kIntroduction:
        return Size(width, timeRowHeight * 4);
    default:
        return Size(width, timeRowHeight);
    }
}

NSUI::NSTableViewCell* captureList::tableCellAtIndex(NSUI::NSTableView* t, ssize_t index, const Size& size)
{
    NSUI::NSTableViewCell* cell = t->cellAtIndex(index);
    if (!cell)
        cell = t->dequeueCell();
    if (!cell) {
        cell = NSUI::NSTableViewCell::create();
        auto* thumbnail = Sprite::create();
        thumbnail->setName("thumbnail");
        thumbnail->setAnchorPoint(Vec2(1, 1));
        cell->addChild(thumbnail, 0, kThumbnailTag);
        auto* badge = Sprite::create();
        badge->setAnchorPoint(Vec2(1, 1));
        cell->addChild(badge, 1, kBadgeTag);
        auto* check = ui::CheckBox::create(kUnticked, kTicked);
        check->setAnchorPoint(Vec2(1, 1));
        check->addEventListener([](Ref* sender, ui::CheckBox::EventType type) {
            auto* box = static_cast<ui::CheckBox*>(sender);
            if (auto* row = dynamic_cast<listObject*>(box->getUserObject()))
                row->selected = type == ui::CheckBox::EventType::SELECTED;
        });
        cell->addChild(check, getLocalZOrder() + 200, kCheckTag);
        auto* label = ui::Text::create("", "", 15);
        label->setTextColor(Color4B::WHITE);
        label->setAnchorPoint(Vec2(0.5f, 0.5f));
        cell->addChild(label, getLocalZOrder() + 200, kLabelTag);
        auto* bubble = ui::Scale9Sprite::create(kBubble);
        bubble->setAnchorPoint(Vec2(0.5f, 0.5f));
        const Size original = bubble->getOriginalSize();
        if (original.width > 2 * kBubbleInset && original.height > 2 * kBubbleInset)
            bubble->setCapInsets(Rect(kBubbleInset, kBubbleInset, original.width - 2 * kBubbleInset,
                                      original.height - 2 * kBubbleInset));
        cell->addChild(bubble, getLocalZOrder() + 99, kBubbleTag);
    }
    if (listObject* row = rowAt(index))
        fillCell(cell, row, size);
    return cell;
}

void captureList::fillCell(NSUI::NSTableViewCell* cell, listObject* row, const Size& size)
{
    auto* thumbnail = static_cast<Sprite*>(cell->getChildByTag(kThumbnailTag));
    auto* badge = static_cast<Sprite*>(cell->getChildByTag(kBadgeTag));
    auto* check = static_cast<ui::CheckBox*>(cell->getChildByTag(kCheckTag));
    auto* label = static_cast<ui::Text*>(cell->getChildByTag(kLabelTag));
    auto* bubble = static_cast<ui::Scale9Sprite*>(cell->getChildByTag(kBubbleTag));
    const float w = size.width;
    const float h = size.height;
    if (isItem(row->type)) {
        thumbnail->setVisible(true);
        thumbnail->setScale(1.0f);
        thumbnail->setTexture(kPlaceholder);
        thumbnail->setPosition(Vec2(w - thumbnailInset - rightMargin, h - topMargin));
        if (row->type == kImageFile) {
            loadSpriteToFit(thumbnail, row->image, Size(w - 40, h - 10), 1.0f);
        } else {
            const std::string png = thumbnailPath(row->image);
            if (!FileUtils::getInstance()->isFileExist(png))
                startThumbnail(row);
            else  // the thumbnail has the pixels' true shape already: no second stretch
                loadSpriteToFit(thumbnail, png, Size(w - 40, h - 40), 1.0f);
        }
        badge->setVisible(row->type == kDicomFile);
        if (row->type == kDicomFile) {
            badge->setTexture(kBadge);
            badge->setPosition(Vec2(w - 40, 28));
        }
        check->setVisible(true);
        check->setPosition(Vec2(w - rightMargin, h - topMargin));
        check->setUserObject(row);
        check->setSelected(row->selected);
        label->setVisible(false);
        bubble->setVisible(false);
        return;
    }
    thumbnail->setVisible(false);
    badge->setVisible(false);
    check->setVisible(false);
    check->setUserObject(nullptr);
    label->setVisible(true);
    label->setPosition(Vec2(w / 2, h / 2));
    if (row->type == kIntroduction) {
        label->setTextHorizontalAlignment(TextHAlignment::LEFT);
        label->setTextAreaSize(Size(w - 4 * kBubblePadding, 0));
        label->setString(kIntroductionText);
    } else {
        label->setTextHorizontalAlignment(TextHAlignment::CENTER);
        label->setTextAreaSize(Size::ZERO);
        label->setString(row->updateTime);
    }
    const Size text = label->getContentSize();
    bubble->setVisible(true);
    bubble->setPosition(label->getPosition());
    bubble->setContentSize(Size(text.width + 2 * kBubblePadding, text.height + kBubblePadding));
}

std::string captureList::thumbnailPath(const std::string& image)
{
    if (image.size() < 3)
        return image;
    return image.substr(0, image.size() - 3) + "png";
}

void captureList::startThumbnail(listObject* row)
{
    // One job per row: a row drawn again before its thumbnail exists waits for the same job.
    if (!thumbnailJobs.insert(row->ID).second)
        return;
    ++jobsStarted;
    std::string job;
    setString(job, "file", row->image);
    setString(job, "id", formatString("%i", row->ID));
    void* self = this;
    // A counted run: the shell's shutdown (or, without it, the exit handler) waits for it before
    // the DICOM library and the notification centre go.
    NSUI::NSRunableThread::create([job, self](void*) { makeThumbnail(job, self); }, nullptr, nullptr, nullptr);
}

void captureList::makeThumbnail(const std::string& job, void* list)
{
    const std::string file = getString(job, "file");
    const std::string id = getString(job, "id");
    const std::string png = thumbnailPath(file);
    // Written under a temporary name in the same folder and renamed when whole, so a thumbnail
    // that exists is always complete.
    const std::string partial = png + ".part" + id;
    redIRI::dcmReader reader;
    if (!reader.setFile(file.c_str()))
        return;
    if (!reader.convertToPngFile(partial.c_str(), true)) {
        std::remove(partial.c_str());
        return;
    }
    char spacing[128] = "";
    if (reader.readDicomTagString(0x0028, 0x0030, spacing, sizeof spacing))
        giveThumbnailPixelShape(partial, spacing);
    if (std::rename(partial.c_str(), png.c_str()) != 0) {
        std::remove(partial.c_str());
        return;
    }
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NOTIFY_CAPTURE_LIST_CHANGED, id,
                                                                      list, false);
}

void captureList::onNotification(unsigned int id, NSUI::NSNotificationData* data)
{
    if (id != NOTIFY_CAPTURE_LIST_CHANGED || !data || !table)
        return;
    const int rowID = std::atoi(data->text.c_str());
    thumbnailJobs.erase(rowID);
    for (int i = table->getFirstVisibleIndex(); i <= table->getLastVisibleIndex(); ++i) {
        listObject* row = rowAt(i);
        if (row && row->ID == rowID && isItem(row->type)) {
            table->updateCellAtIndex(i);
            break;
        }
    }
}

void captureList::tableCellTouched(NSUI::NSTableView* t, NSUI::NSTableViewCell* cell, const Vec2& point)
{
    listObject* row = cell && cell->getIndex() >= 0 && t == table ? rowAt(cell->getIndex()) : nullptr;
    if (!row || !isItem(row->type))
        return;
    Node* thumbnail = cell->getChildByTag(kThumbnailTag);
    if (!thumbnail || !thumbnail->isVisible())
        return;
    const Size content = thumbnail->getContentSize();
    const float bw = std::max(50.0f, content.width * thumbnail->getScaleX());
    const float bh = std::max(50.0f, content.height * thumbnail->getScaleY());
    const Vec2 anchor = thumbnail->getPosition();
    const bool inside =
        point.x >= anchor.x - bw && point.x <= anchor.x && point.y >= anchor.y - bh && point.y <= anchor.y;
    if (inside && onSelect)
        onSelect(row->image, row->type);
}

void captureList::setAllSelected(bool selected)
{
    if (!table)
        return;
    for (ssize_t i = 0; i < table->getRowCount(); ++i) {
        listObject* row = rowAt(i);
        if (!row || row->selected == selected)
            continue;
        row->selected = selected;
        table->updateCellAtIndex(i);
    }
}

void captureList::shareSelected()
{
    if (!table)
        return;
    std::string files;
    int count = 0;
    bool hasDicom = false;
    for (ssize_t i = 0; i < table->getRowCount(); ++i) {
        listObject* row = rowAt(i);
        if (!row || !row->selected || !isItem(row->type))
            continue;
        setString(files, formatString("%i", count), row->image);
        ++count;
        hasDicom = hasDicom || row->type == kDicomFile;
    }
    if (count == 0)
        return;
    setInt(files, "number", count);
    std::string answer;
    if (hasDicom) {
        AppConfig* config = AppConfig::getInstance();
        const std::string body = safeBase64DecodeString(config->getText("shareToBody"));
        answer = sendPlatformMail(config->getText("shareToSubject"), body, files);
        recordStatistics(16);
    } else {
        answer = sendPlatformMail("", "", files);
        recordStatistics(17);
    }
    if (answer == kNoMailAccount)
        showMessage("Please config the account of the mail.", 1.5f);
}

void captureList::removeSelected()
{
    if (!table)
        return;
    std::vector<listObject*> ticked;
    for (ssize_t i = 0; i < table->getRowCount(); ++i) {
        listObject* row = rowAt(i);
        if (row && row->selected && isItem(row->type))
            ticked.push_back(row);
    }
    dicomDB* db = database();
    if (!ticked.empty() && db && db->isReadOnly()) {
        // A favourite's file and row go together: while its row cannot go, its file stays.
        showMessage("The library cannot be written: the favourites were not removed", 3.0f);
        return;
    }
    FileUtils* files = FileUtils::getInstance();
    for (listObject* row : ticked) {
        row->retain();
        // The removal is in the library's journal before the file goes: a kill in between leaves
        // a file no row names, never a row whose file is gone.
        if (db)
            db->deleteFavorite(row->ID, row->image);
        Director::getInstance()->getTextureCache()->removeTextureForKey(row->image);
        files->removeFile(row->image);
        files->removeFile(thumbnailPath(row->image));
        table->removeRowForData(row);
        row->release();
    }
    if (ticked.empty())
        return;
    tidyEnd();
    if (!onSelect)
        return;
    // The pane beside the list must not keep showing a file that is gone: it shows the first item
    // left, or its empty state when none is left.
    for (ssize_t i = 0; i < table->getRowCount(); ++i) {
        listObject* row = rowAt(i);
        if (row && isItem(row->type)) {
            onSelect(row->image, row->type);
            return;
        }
    }
    onSelect("", kDicomFile);
}
