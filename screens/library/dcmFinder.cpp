#include "dcmFinder.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "NSResponseWindow.h"
#include "NSStringUtil.h"
#include "NSTextField.h"
#include "NetworkUtils.h"
#include "cocostudio/CSLoader.h"
#include "dataService.h"
#include "dcmTask.h"
#include "flatJsonText.h"
#include "isPersonName.h"
#include "screenHelpers.h"
#include "statApplication.h"
#include "textFit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

USING_NS_CC;

namespace {

const char* const kCheckAddressToast = "Check the IP and PORT";
const char* const kNoFolderToast = "Failed to create buffer";
const char* const kPartialToast = "Failed to download the whole series";
const char* const kOutOfScopeToast = "The address is outside the allowed network";
constexpr float kToastSeconds = 2.0f;
const Color3B kFailedArrow(229, 72, 77);
const char* const kSearchWatchKey = "qv_search_watch";
constexpr float kSearchWatchSeconds = 0.25f;
const Color3B kFieldText(44, 44, 44);
// The typed texts, a little larger than the labels beside them.
constexpr int kFieldFontSize = 17;
// Between the texts of one line of a study row.
constexpr float kIdentityGap = 12.0f;

// Between a row's last text and its right edge.
constexpr float kRowMargin = 16.0f;

// A text of a row where its column starts, cut with an ellipsis only where it would reach the next
// text drawn on its line (or the row's right margin). `gap` in units.
void placeText(ui::Widget* layout, const char* name, const std::string& text, float gap)
{
    NSUI::fitTextBeforeNext(dynamic_cast<ui::Text*>(layout->getChildByName(name)), text, gap, kRowMargin);
}

// The bottom line of a study row's first column: the patient ID, never cut, then sex and birth
// date. A long ID pushes the two to its right; an ID too long for the column even then is drawn
// smaller, whole. The layout has placed every text for the row's strings; `gap` in units.
void placeIdentity(Node* layout, float gap)
{
    Node* id = layout->getChildByName("id");
    Node* sex = layout->getChildByName("sex");
    Node* birthday = layout->getChildByName("birthday");
    Node* next = layout->getChildByName("studyid");
    if (!id || !sex || !birthday || !next)
        return;
    const float end = next->getBoundingBox().getMinX() - gap;
    const float left = id->getBoundingBox().getMinX();
    const float width = id->getBoundingBox().size.width;
    const float others = sex->getBoundingBox().size.width + birthday->getBoundingBox().size.width + 2 * gap;
    if (width > 0.0f && left + width + others > end) {
        id->setScale(std::max(0.0f, end - others - left) / width);
        id->setPositionX(id->getPositionX() + left - id->getBoundingBox().getMinX());  // scaled about its anchor
    }
    float x = id->getBoundingBox().getMaxX() + gap;
    for (Node* after : {sex, birthday}) {
        const Rect box = after->getBoundingBox();
        if (box.getMinX() < x)
            after->setPositionX(after->getPositionX() + x - box.getMinX());
        x = after->getBoundingBox().getMaxX() + gap;
    }
}

} // namespace

dcmFinder::listObject* dcmFinder::listObject::create()
{
    auto* row = new listObject();
    row->autorelease();
    return row;
}

// ---- creation -----------------------------------------------------------------------------------

NSUI::NSResponseWindow* dcmFinder::createWindow()
{
    NSUI::NSResponseWindow* window = NSUI::NSResponseWindow::create();
    dcmFinder* finder = dcmFinder::create();
    if (!window || !finder)
        return window;
    finder->enableAndroidReturnKey(true);
    finder->setup();
    window->addChild(finder);
    const Size win = Director::getInstance()->getWinSize();
    finder->setAnchorPoint(Vec2(0.5f, 1.0f));
    finder->setPosition(Vec2(win.width / 2, win.height));
    window->setAnchorPoint(Vec2::ZERO);
    window->setPosition(Vec2::ZERO);
    return window;
}

dcmFinder* dcmFinder::fromWindow(Node* window)
{
    if (!window)
        return nullptr;
    for (Node* child : window->getChildren())
        if (auto* finder = dynamic_cast<dcmFinder*>(child))
            return finder;
    return nullptr;
}

bool dcmFinder::init()
{
    if (!Node::init())
        return false;
    setOwnerNode(this);
    setName(kLayerName);
    root = dynamic_cast<ui::Widget*>(CSLoader::createNode(kLayoutFile));
    if (root) {
        root->setName(kLayoutFile);
        // The layout covers the window.
        root->setContentSize(Director::getInstance()->getWinSize());
        ui::Helper::doLayout(root);
        setContentSize(root->getContentSize());
        addChild(root);
    }
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NSUI::NOTIFY_NET_FIND_STUDY, NSUI::NOTIFY_NET_FIND_SERIES,
                            NSUI::NOTIFY_NET_RETRIEVE_PROGRESS, NSUI::NOTIFY_NET_RETRIEVE_STATE,
                            NSUI::NOTIFY_NET_RETRIEVE_FAILED})
        NSUI::NSNotificationCenter::getInstance()->addObserver(this, nullptr, callback, id);
    return true;
}

NSUI::NSTextField* dcmFinder::replaceField(const std::string& name, int mode, const std::string& text)
{
    Node* placeholder = root ? root->getChildByNameDeep(name) : nullptr;
    if (!placeholder)
        return nullptr;
    const Size box = placeholder->getContentSize();
    NSUI::NSTextField* field = NSUI::NSTextField::create("", box);
    field->setName(name);
    // The field is as tall as its line of text; its background is 10 units taller and centred on
    // it when the field's anchor is at its middle. So the line sits in the middle of the
    // placeholder's box, with the label beside it, and one line is all the field shows (a longer
    // text scrolls).
    field->setFontSize(kFieldFontSize);
    field->setPlaceHolderFontSize(kFieldFontSize);
    // Showing its placeholder, the field is one line tall: the view keeps to that line.
    field->setLineHeight(std::max(1, int(std::ceil(field->getContentSize().height))));
    field->setAnchorPoint(Vec2(0.0f, 0.5f));
    // On the finder itself, not in the layout: the layout would arrange a child it has no
    // parameters for.
    // (A node's own space starts at the lower-left corner of its box, whatever its anchor.)
    field->setPosition(convertToNodeSpace(placeholder->convertToWorldSpace(Vec2(0, box.height / 2))));
    field->setTextColor(kFieldText);
    field->setInputMode(static_cast<NSUI::NSTextField::InputMode>(mode));
    // Touches anywhere in the placeholder's box, in the field's own space.
    field->touchRect = Rect(0, (field->getContentSize().height - box.height) / 2, box.width, box.height);
    placeholder->removeFromParent();
    addChild(field, 2);
    field->enableBackground();
    field->setString(text);
    return field;
}

void dcmFinder::setup()
{
    if (!root)
        return;
    AppConfig::getInstance()->setText(root, "dcmfind.");
    const Size size = getContentSize();
    list = NSUI::NSListView::create();
    list->setContentSize(Size(size.width - 20, size.height - 115));
    list->setAnchorPoint(Vec2::ZERO);
    list->setPosition(Vec2(10, 0));
    list->delegate = this;
    addChild(list, 1);
    list->reloadData();
    for (const char* name : {"btn_back", "btnSearch"}) {
        if (auto* button = dynamic_cast<ui::Button*>(root->getChildByNameDeep(name))) {
            if (std::string(name) == "btnSearch")
                button->setPressedActionEnabled(true);
            button->addClickEventListener([this](Ref* sender) { onButton(sender); });
        }
    }
    using Mode = NSUI::NSTextField::InputMode;
    fieldIP = replaceField("editIP", static_cast<int>(Mode::IP_ADDRESS), getLocalString(kServerIPKey, ""));
    fieldPort = replaceField("editPort", static_cast<int>(Mode::DIGITS), getLocalString(kServerPortKey, ""));
    fieldTitle = replaceField("editTitle", static_cast<int>(Mode::ANY), getLocalString(kServerTitleKey, ""));
    fieldPatient = replaceField("editPatient", static_cast<int>(Mode::ANY), "");
    updateHelp();
}

NSUI::NSTextField* dcmFinder::getField(const std::string& name) const
{
    if (name == "editIP") return fieldIP;
    if (name == "editPort") return fieldPort;
    if (name == "editTitle") return fieldTitle;
    if (name == "editPatient") return fieldPatient;
    return nullptr;
}

void dcmFinder::cleanup()
{
    // No worker of its own runs, so the flag is set; the wait keeps the rule for its owners.
    while (!threadGone.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Nobody is left to show what the search finds.
    if (searching)
        if (dataService* service = dataService::peekInstance())
            service->findClient.giveUp();
    searching = false;
    Node::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

bool dcmFinder::onResponseReturn()
{
    if (auto* window = dynamic_cast<NSUI::NSResponseWindow*>(getParent()))
        window->removeFromParent();
    else
        removeFromParent();
    return true;
}

std::string dcmFinder::downloadFolder()
{
    return dataService::downloadFolder();
}

void dcmFinder::updateHelp()
{
    if (Node* help = root ? root->getChildByNameDeep("help") : nullptr)
        help->setVisible(!searching && (!list || list->getRowCount() == 0));
    Node* label = root ? root->getChildByNameDeep("searching") : nullptr;
    if (!label || label->isVisible() == searching)
        return;
    label->setVisible(searching);
    label->stopAllActions();
    label->setOpacity(255);
    if (searching)
        label->runAction(
            RepeatForever::create(Sequence::create(FadeTo::create(0.6f, 90), FadeTo::create(0.6f, 255), nullptr)));
}

void dcmFinder::watchSearch()
{
    idleChecks = 0;
    if (searching)
        return;
    searching = true;
    updateHelp();
    schedule(
        [this](float) {
            dataService* service = dataService::peekInstance();
            idleChecks = service && service->findClient.isFinding() ? 0 : idleChecks + 1;
            if (idleChecks < 2)
                return;
            searching = false;
            unschedule(kSearchWatchKey);
            updateHelp();
        },
        kSearchWatchSeconds, kSearchWatchKey);
}

// ---- search -------------------------------------------------------------------------------------

void dcmFinder::onButton(Ref* sender)
{
    auto* button = dynamic_cast<ui::Button*>(sender);
    if (!button)
        return;
    const std::string& name = button->getName();
    if (name == "btn_back")
        onResponseReturn();
    else if (name == "btnSearch")
        search();
    else if (name == "btnDownload")
        retrieve(dynamic_cast<listObject*>(button->getUserObject()), button);
}

void dcmFinder::search()
{
    std::string address = fieldIP ? fieldIP->getString() : "";
    std::string port = fieldPort ? fieldPort->getString() : "";
    std::string patient = fieldPatient ? fieldPatient->getString() : "";
    const std::string title = fieldTitle ? fieldTitle->getString() : "";
    trim(address);
    trim(port);
    trim(patient);
    const std::string pattern = "*" + patient + "*";
    if (address.empty() || port.empty()) {
        showMessage(kCheckAddressToast, kToastSeconds);
        return;
    }
    if (list) {
        list->clear();
        list->reloadData();
    }
    updateHelp();
    setLocalString(kServerIPKey, address);
    setLocalString(kServerPortKey, port);
    setLocalString(kServerTitleKey, title);
    if (!isValidIPv4(address)) {
        showMessage(kCheckAddressToast, kToastSeconds);
        return;
    }
    if (!isAddressInNetworkScope(address)) {
        log("query to %s refused: outside the network scope", address.c_str());
        showMessage(kOutOfScopeToast, kToastSeconds);
        return;
    }
    dataService* service = dataService::getInstance();
    service->updateCalledAETitle();
    service->findClient.findPatientByName(address.c_str(), port.c_str(), "", "", pattern.c_str());
    // The search before is given up; what it found and is still on its way belongs to a list that
    // is gone.
    for (unsigned int id : {NSUI::NOTIFY_NET_FIND_RESULT, NSUI::NOTIFY_NET_FIND_STUDY, NSUI::NOTIFY_NET_FIND_SERIES})
        NSUI::NSNotificationCenter::getInstance()->cancelNotification(nullptr, id, nullptr);
    watchSearch();
    statApplication::getInstance()->addStat(18, "");
}

void dcmFinder::onNotification(Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    if (!data)
        return;
    switch (id) {
    case NSUI::NOTIFY_NET_FIND_STUDY:
        onStudyFound(static_cast<dcmFindStudyRecord*>(data->userData));
        break;
    case NSUI::NOTIFY_NET_FIND_SERIES:
        onSeriesFound(static_cast<dcmFindSeriesRecord*>(data->userData));
        break;
    case NSUI::NOTIFY_NET_RETRIEVE_STATE:
        onRetrieveState(data->text);
        break;
    case NSUI::NOTIFY_NET_RETRIEVE_PROGRESS:
        onRetrieveProgress(data->text);
        break;
    case NSUI::NOTIFY_NET_RETRIEVE_FAILED:
        onRetrieveFailed(data->text);
        break;
    default:
        break;
    }
}

void dcmFinder::onStudyFound(dcmFindStudyRecord* record)
{
    if (!record || !list)
        return;
    const std::string address = fieldIP ? fieldIP->getString() : "";
    const std::string port = fieldPort ? fieldPort->getString() : "";
    if (isAddressInNetworkScope(address))
        dataService::getInstance()->findClient.findStudyByUID(address.c_str(), port.c_str(), "", "",
                                                              record->studyInstanceUID.c_str());
    // The peer's values are shown as the same values imported from a file are: each one clean line
    // (the library has cut them as it cuts an imported image's). The UID stays as the peer wrote
    // it: the series queries and retrievals name the study by it.
    listObject* row = listObject::create();
    row->isStudy = true;
    row->studyDate = oneLineText(record->dateTime);
    row->institution = oneLineText(record->institution);
    row->studyDescription = oneLineText(record->studyDescription);
    row->patientName = oneLineText(record->patientName);
    row->patientID = oneLineText(record->patientID);
    row->birthDate = oneLineText(record->birthDate);
    row->sex = oneLineText(record->sex);
    row->studyUID = record->studyInstanceUID;
    row->studyID = oneLineText(record->studyID);
    list->insertRow(-1, row);
    clearStudyRecord(record);
    updateHelp();
}

void dcmFinder::onSeriesFound(dcmFindSeriesRecord* record)
{
    if (!record || !list)
        return;
    ssize_t at = -1;
    std::string patientName;
    const auto& rows = list->getRowData();
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* row = static_cast<listObject*>(rows[i]);
        if (row->isStudy && row->studyUID == record->studyInstanceUID) {
            patientName = row->patientName;
            at = static_cast<ssize_t>(i) + 1;
            break;
        }
    }
    listObject* row = listObject::create();
    row->isStudy = false;
    row->modality = oneLineText(record->modality);
    row->seriesDescription = oneLineText(record->seriesDescription);
    row->studyUID = record->studyInstanceUID;
    row->seriesUID = record->seriesInstanceUID;
    row->seriesNumber = oneLineText(record->seriesNumber);
    row->imageCount = oneLineText(record->relatedInstances);
    row->patientName = patientName;
    list->insertRow(at, row);
    clearSeriesRecord(record);
    updateHelp();
}

void dcmFinder::clearStudyRecord(dcmFindStudyRecord* record)
{
    if (!record)
        return;
    *record = dcmFindStudyRecord();
}

void dcmFinder::clearSeriesRecord(dcmFindSeriesRecord* record)
{
    if (!record)
        return;
    *record = dcmFindSeriesRecord();
}

// ---- retrieval ----------------------------------------------------------------------------------

void dcmFinder::showButtonState(ui::Button* button, const listObject* row)
{
    button->stopAllActions();
    button->setOpacity(255);
    const bool blinking = row->downloading && !row->finished;
    button->setColor(row->failed ? kFailedArrow : blinking && row->acknowledged ? Color3B::RED : Color3B::WHITE);
    if (blinking) {
        auto* blink = RepeatForever::create(Sequence::create(FadeOut::create(0.5f), FadeIn::create(0.5f), nullptr));
        blink->setTag(kBlinkTag);
        button->runAction(blink);
    }
}

void dcmFinder::retrieve(listObject* row, ui::Button* button)
{
    if (!row || row->isStudy || row->acknowledged || row->downloading)
        return;
    row->downloading = true;
    row->finished = false;
    row->failed = false;
    if (button)
        showButtonState(button, row);
    const std::string folder = downloadFolder();
    FileUtils* files = FileUtils::getInstance();
    if (!files->isDirectoryExist(folder))
        files->createDirectory(folder);
    if (!files->isDirectoryExist(folder)) {
        showMessage(kNoFolderToast, kToastSeconds);
        return;
    }
    const std::string address = fieldIP ? fieldIP->getString() : "";
    const std::string port = fieldPort ? fieldPort->getString() : "";
    if (!isAddressInNetworkScope(address)) {
        log("retrieve from %s refused: outside the network scope", address.c_str());
        showMessage(kOutOfScopeToast, kToastSeconds);
        return;
    }
    dataService* service = dataService::getInstance();
    service->updateCalledAETitle();
    service->getClient.getSeriesByUID(address.c_str(), port.c_str(), "", "", row->studyUID.c_str(),
                                      row->seriesUID.c_str(), folder.c_str(), row->patientName.c_str(),
                                      row->seriesNumber.c_str(), row->modality.c_str());
}

template <class Visit>
void dcmFinder::forEachShownSeries(Visit visit)
{
    if (!list)
        return;
    for (ssize_t i = list->getFirstVisibleIndex(); i <= list->getLastVisibleIndex(); ++i) {
        if (i < 0 || i >= list->getRowCount())
            continue;
        auto* row = static_cast<listObject*>(list->getRowData()[i]);
        NSUI::NSTableViewCell* cell = list->cellAtIndex(i);
        if (row->isStudy || !cell)
            continue;
        Node* layout = cell->getChildByTag(kSeriesLayoutTag);
        auto* button = dynamic_cast<ui::Button*>(layout ? layout->getChildByName("btnDownload") : nullptr);
        if (button)
            visit(row, button);
    }
}

void dcmFinder::onRetrieveState(const std::string& seriesUID)
{
    forEachShownSeries([&](listObject* row, ui::Button* button) {
        if (row->downloading && row->seriesUID == seriesUID) {
            row->acknowledged = true;
            showButtonState(button, row);
        } else if (row->acknowledged) {
            // A retrieval that was running before has ended: retrievals run one at a time.
            row->finished = true;
            showButtonState(button, row);
        }
    });
}

void dcmFinder::onRetrieveProgress(const std::string& text)
{
    std::vector<std::string> f;
    splitString(text, "|", f);
    if (f.size() != 5)
        return;
    forEachShownSeries([&](listObject* row, ui::Button* button) {
        if (!row->acknowledged || row->seriesUID != f[0] || f[1] != "0")
            return;
        row->finished = true;
        showButtonState(button, row);
        if (f[3] != "0" || f[4] != "0")
            showMessage(kPartialToast, kToastSeconds);
    });
}

void dcmFinder::onRetrieveFailed(const std::string& record)
{
    std::vector<std::string> f;
    splitString(record, ",", f);
    if (f.size() != static_cast<size_t>(dcmGetingObject::kFailureFieldCount) || !list)
        return;
    // Every row of the series, in sight or not: its arrow must say so when it is scrolled back.
    for (Ref* data : list->getRowData()) {
        auto* row = static_cast<listObject*>(data);
        if (row->isStudy || !row->downloading || row->seriesUID != f[5])
            continue;
        row->downloading = row->acknowledged = row->finished = false;
        row->failed = true;
    }
    forEachShownSeries([&](listObject* row, ui::Button* button) {
        if (row->seriesUID == f[5])
            showButtonState(button, row);
    });
}

// ---- cells --------------------------------------------------------------------------------------

Size dcmFinder::tableCellSizeForIndex(NSUI::NSTableView*, ssize_t, Ref* data)
{
    auto* row = static_cast<listObject*>(data);
    return Size(getContentSize().width, row && row->isStudy ? kStudyRowHeight : kSeriesRowHeight);
}

NSUI::NSTableViewCell* dcmFinder::tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const Size& size)
{
    NSUI::NSTableViewCell* cell = table->cellAtIndex(index);
    if (!cell)
        cell = table->dequeueCell();
    if (!cell) {
        cell = NSUI::NSTableViewCell::create();
        for (auto [file, tag] : {std::pair<const char*, int>{kSeriesRowFile, kSeriesLayoutTag},
                                 std::pair<const char*, int>{kStudyRowFile, kStudyLayoutTag}}) {
            auto* layout = dynamic_cast<ui::Widget*>(CSLoader::createNode(file));
            if (!layout)
                continue;
            layout->setTag(tag);
            layout->setPosition(Vec2::ZERO);
            layout->setAnchorPoint(Vec2::ZERO);
            layout->setVisible(false);
            AppConfig::getInstance()->setText(layout, "");
            cell->addChild(layout);
            if (tag == kSeriesLayoutTag) {
                if (auto* button = dynamic_cast<ui::Button*>(layout->getChildByName("btnDownload"))) {
                    button->setLocalZOrder(100);
                    button->setPressedActionEnabled(true);
                    button->addClickEventListener([this](Ref* sender) { onButton(sender); });
                }
            }
        }
    }
    if (index < 0 || index >= table->getRowCount())
        return cell;
    auto* row = static_cast<listObject*>(table->getRowData()[index]);
    auto* series = dynamic_cast<ui::Widget*>(cell->getChildByTag(kSeriesLayoutTag));
    auto* study = dynamic_cast<ui::Widget*>(cell->getChildByTag(kStudyLayoutTag));
    ui::Widget* shown = row->isStudy ? study : series;
    if (series)
        series->setVisible(!row->isStudy);
    if (study)
        study->setVisible(row->isStudy);
    if (!shown)
        return cell;
    if (!shown->getContentSize().equals(size)) {
        shown->setContentSize(size);
        ui::Helper::doLayout(shown);
    }
    if (row->isStudy) {
        setChildText(shown, "id", row->patientID);
        setChildText(shown, "sex", row->sex);
        setChildText(shown, "birthday", row->birthDate);
        setChildText(shown, "hospital", row->institution);
        setChildText(shown, "studyid", row->studyID);
        setChildText(shown, "studydate", row->studyDate);
        setChildText(shown, "desc", row->studyDescription);
        // Placed again for this row's texts: the cell may have shown a longer ID before.
        if (Node* id = shown->getChildByName("id"))
            id->setScale(1.0f);
        ui::Helper::doLayout(shown);
        placeText(shown, "name", isImageSDK::displayPersonName(row->patientName), kIdentityGap);
        for (auto [name, text] : {std::pair<const char*, const std::string&>{"studyid", row->studyID},
                                  {"desc", row->studyDescription}, {"hospital", row->institution}})
            placeText(shown, name, text, kIdentityGap);
        ui::Helper::doLayout(shown);
        placeIdentity(shown, kIdentityGap);
    } else {
        setChildText(shown, "seriesid", row->seriesNumber);
        setChildText(shown, "modality", row->modality);
        setChildText(shown, "number", row->imageCount);
        placeText(shown, "desc", row->seriesDescription, kIdentityGap);
        if (auto* button = dynamic_cast<ui::Button*>(shown->getChildByName("btnDownload"))) {
            button->setUserObject(row);
            // A reused cell shows this row's own state, never the one it showed before.
            showButtonState(button, row);
        }
    }
    return cell;
}
