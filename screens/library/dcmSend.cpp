#include "dcmSend.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "NSResponseWindow.h"
#include "NSStringUtil.h"
#include "NSTextField.h"
#include "NSTimeUtil.h"
#include "NetworkUtils.h"
#include "cocostudio/CSLoader.h"
#include "dataService.h"
#include "dcmNodeObject.h"
#include "dcmTask.h"
#include "dicomDB.h"
#include "isPersonName.h"
#include "screenHelpers.h"
#include "sniffer.h"
#include "statApplication.h"
#include "textFit.h"
#include "viewerScreenHook.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

USING_NS_CC;

namespace {

const char* const kChooseFirstToast = "Please choose a patient or series, and open again.";
const char* const kRunningRetrieveToast = "The downloading task can not be removed.";
const char* const kHelpPicture = "imgs/drNodeHelp.png";
// Language keys of the reasons why a send sent nothing.
const char* const kSendToSelfKey = "dcmSend_toSelf";
const char* const kAlreadyListedKey = "dcmSend_alreadyListed";
const Color3B kAccent(21, 170, 254);
constexpr float kToastSeconds = 1.5f;
// The typed-address row: its field and send button in the rows' text size, the field one line
// high and clear of the send button at the row's right end.
constexpr float kTypedFontSize = 17.0f;
constexpr float kTypedFieldHeight = 28.0f;
constexpr float kTypedSendReserve = 96.0f;
// A task row's texts end this far before the control that follows them on their line (the retry
// button, the state), or before the row's right edge.
constexpr float kRowTextGap = 16.0f;
constexpr float kRowTextMargin = 16.0f;
// The longest patient name, series number or modality a task row takes from a peer's answer, in
// bytes; the row cuts to its width whatever is left.
constexpr size_t kRowFieldBytes = 256;

std::string percentText(float progress)
{
    return formatString("%.0f%%", progress);
}

std::string nowText()
{
    return getCurrentDateTime();
}

// A count with its thousands grouped: "2,500".
std::string countText(int count)
{
    std::string digits = std::to_string(count < 0 ? 0 : count);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

// What became of a failed retrieval: how many images arrived, and why the rest did not. The
// reason is one clean line already (the task keeps it so); the row fits it to its width.
std::string outcomeText(const dcmGetingObject& task)
{
    std::string text = task.seriesImages > 0
                           ? countText(task.keptImages) + " of " + countText(task.seriesImages) + " images arrived"
                           : countText(task.keptImages) + " images arrived";
    if (!task.failureReason.empty())
        text += ": " + task.failureReason;
    return text;
}

// Sets a task row's text, cut with an ellipsis where it would reach the control after it.
void fitRowText(Node* record, const std::string& name, const std::string& text)
{
    if (auto* label = dynamic_cast<ui::Text*>(record->getChildByName(name)))
        NSUI::fitTextBeforeNext(label, text, kRowTextGap, kRowTextMargin);
}

ui::Button* findButton(Node* root, const std::string& name)
{
    return dynamic_cast<ui::Button*>(root ? root->getChildByNameDeep(name) : nullptr);
}

void setChildVisible(Node* root, const std::string& name, bool visible)
{
    if (Node* child = root ? root->getChildByName(name) : nullptr)
        child->setVisible(visible);
}

} // namespace

// ---- creation -----------------------------------------------------------------------------------

NSUI::NSResponseWindow* dcmSend::createWindow()
{
    NSUI::NSResponseWindow* window = NSUI::NSResponseWindow::create();
    dcmSend* layer = dcmSend::create();
    if (!window || !layer)
        return window;
    layer->enableAndroidReturnKey(true);
    const Size win = Director::getInstance()->getWinSize();
    if (layer->root) {
        layer->root->setAnchorPoint(Vec2(0.5f, 1.0f));
        layer->root->setPosition(Vec2(win.width * 0.5f, win.height));
    }
    layer->buildLists();
    window->addChild(layer);
    window->setAnchorPoint(Vec2::ZERO);
    window->setPosition(Vec2::ZERO);
    return window;
}

NSUI::NSResponseWindow* dcmSend::makeWindow(const std::string& path, const std::string& label)
{
    NSUI::NSResponseWindow* window = createWindow();
    if (dcmSend* layer = fromWindow(window))
        layer->setSendItems(path, label);
    return window;
}

dcmSend* dcmSend::fromWindow(Node* window)
{
    return dynamic_cast<dcmSend*>(window ? window->getChildByName(kLayerName) : nullptr);
}

dcmSend::dcmSend()
{
    highlightColor = Color4B(255, 255, 0, 55);
}

dcmSend::~dcmSend() = default;

bool dcmSend::init()
{
    if (!Node::init())
        return false;
    setOwnerNode(this);
    statApplication::getInstance()->addStat(9, "");
    firstEnter = true;
    sendPath.clear();
    sendLabel.clear();
    setName(kLayerName);
    root = dynamic_cast<ui::Widget*>(CSLoader::createNode(kLayoutFile));
    if (!root)
        return true;
    const Size win = Director::getInstance()->getWinSize();
    // The layout fills the window below nothing: as wide as the window, its full height.
    root->setContentSize(win);
    AppConfig::getInstance()->setText(root, "");
    ui::Helper::doLayout(root);
    addChild(root);
    return true;
}

void dcmSend::setSendItems(std::string path, std::string label)
{
    sendPath = std::move(path);
    sendLabel = std::move(label);
}

bool dcmSend::onResponseReturn()
{
    if (auto* window = dynamic_cast<NSUI::NSResponseWindow*>(getParent()))
        window->removeFromParent();
    else
        removeFromParent();
    return true;
}

void dcmSend::onEnterTransitionDidFinish()
{
    Node::onEnterTransitionDidFinish();
    if (!firstEnter)
        return;
    firstEnter = false;
    NSUI::sniffer::getInstance()->start();
}

void dcmSend::onExit()
{
    Node::onExit();
    if (statApplication* stats = statApplication::peekInstance())
        stats->addStat(10, "");
}

void dcmSend::cleanup()
{
    Node::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    if (statApplication* stats = statApplication::peekInstance())
        stats->addStat(10, "");
}

void dcmSend::toast(const std::string& text)
{
    showMessage(text, kToastSeconds);
}

// ---- lists --------------------------------------------------------------------------------------

NSUI::NSListView* dcmSend::replacePlaceholder(const std::string& name)
{
    Node* placeholder = root ? root->getChildByNameDeep(name) : nullptr;
    if (!placeholder)
        return nullptr;
    NSUI::NSListView* list = NSUI::NSListView::create();
    list->setContentSize(placeholder->getContentSize());
    list->setAnchorPoint(placeholder->getAnchorPoint());
    // On the layer itself, not in the layout: the layout would arrange a child it has no
    // parameters for.
    list->setPosition(convertToNodeSpace(placeholder->getParent()->convertToWorldSpace(placeholder->getPosition())));
    addChild(list, 1);
    list->setName(name);
    placeholder->removeFromParent();
    list->delegate = this;
    list->keepSelection = true;
    list->reloadData();
    return list;
}

void dcmSend::buildLists()
{
    highlightEnabled = true;
    // The screen listens before it reads the lists below: a message posted while they are read
    // (the worker threads post at any time) then reaches it, and a row read from a list is never
    // left without the messages that change it.
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NSUI::NOTIFY_NET_SEND_PROGRESS, NSUI::NOTIFY_NET_SEND_DONE, NSUI::NOTIFY_NET_SEND_FAILED})
        centre->addObserver(this, nullptr, callback, id);
    centre->addObserver(this, this, callback, NSUI::NOTIFY_NET_TASK_ROW_UPDATE);
    for (unsigned int id : {NSUI::NOTIFY_NET_PEER_FOUND, NSUI::NOTIFY_NET_ECHO_RESULT, NSUI::NOTIFY_NET_RETRIEVE_STATE,
                            NSUI::NOTIFY_NET_RETRIEVE_PROGRESS, NSUI::NOTIFY_NET_RETRIEVE_FAILED})
        centre->addObserver(this, nullptr, callback, id);
    // Yet a retrieval that failed just before can be in neither list: the library takes it off its
    // list before it says why, and a message posted before this screen listened reaches only the
    // data service, which lists the failure on a later frame. Such a failure gets its row then.
    schedule([this](float) { showUnlistedFailures(); }, 0.25f, "qv_unlisted_failures");
    nodeList = replacePlaceholder("list");

    std::string host, addresses, masks;
    getLocalNetworkInfo(host, addresses, masks);
    std::vector<std::string> list;
    splitString(addresses, ",", list);
    const std::string address = list.empty() ? std::string() : list.front();
    std::vector<dcmNodeObject*> rows;
    if (!address.empty() && address != "0.0.0.0") {
        dcmNodeObject* local = dcmNodeObject::create();
        local->appid = "localip";
        local->ip = address + ":" + kLocalPort;
        local->name = AppConfig::getInstance()->getText("local");
        local->rowKind = dcmNodeObject::ROW_LOCAL;
        local->locked = 1;
        rows.push_back(local);
        dcmNodeObject* typed = dcmNodeObject::create();
        typed->appid = "input";
        typed->ip = address.substr(0, address.find_last_of('.') + 1);
        typed->rowKind = dcmNodeObject::ROW_TYPED_ADDRESS;
        rows.push_back(typed);
    } else {
        dcmNodeObject* none = dcmNodeObject::create();
        none->appid = "localip";
        none->ip = AppConfig::getInstance()->getText("dicomSendNoWifiPrompt");
        none->name = AppConfig::getInstance()->getText("dicomSendCheckWifi");
        none->rowKind = dcmNodeObject::ROW_LOCAL;
        none->locked = 1;
        rows.push_back(none);
    }
    fixedRows = static_cast<int>(rows.size());

    std::vector<neighborRecord> peers;
    if (dicomDB* db = dataService::getInstance()->getDatabase())
        db->getNeighbors(peers);
    for (const neighborRecord& peer : peers) {
        dcmNodeObject* node = dcmNodeObject::create(peer);
        if (node->port.empty())
            node->port = kLocalPort;
        if (isRecentlySeen(node->wifi))
            rows.insert(rows.begin() + fixedRows, node);
        else
            rows.push_back(node);
    }
    if (nodeList) {
        for (dcmNodeObject* node : rows)
            nodeList->insertRow(-1, node);
    }

    taskList = replacePlaceholder("sending");
    dataService* service = dataService::getInstance();
    int added = 0;
    if (taskList) {
        for (dcmSendingObject* task : service->sendTasks) {
            if (task->state == DCM_TASK_DONE)
                continue;
            taskList->insertRow(-1, task);
            ++added;
        }
        service->getRetrieveList();
        for (dcmGetingObject* task : service->retrieveList) {
            if (task->state == DCM_TASK_DONE)
                continue;
            taskList->insertRow(-1, task);
            ++added;
        }
        if (added == 0 && root) {
            if (Sprite* help = Sprite::create(kHelpPicture)) {
                help->setName(kHelpName);
                help->setScale(0.7f);
                help->setAnchorPoint(Vec2(0.5f, 0.5f));
                const Size size = taskList->getContentSize();
                const Vec2 origin = taskList->getPosition() - Vec2(taskList->getAnchorPoint().x * size.width,
                                                                   taskList->getAnchorPoint().y * size.height);
                help->setPosition(origin + Vec2(size.width / 2, size.height / 2));
                addChild(help, taskList->getLocalZOrder() + 1);
            }
        }
    }

    for (const char* name : {"dcmNode_send", "btn_back"}) {
        if (ui::Button* button = findButton(root, name))
            button->addClickEventListener([this](Ref* sender) { onButton(sender); });
    }
}

void dcmSend::showUnlistedFailures()
{
    if (!taskList)
        return;
    for (dcmGetingObject* failed : dataService::getInstance()->failedRetrieves) {
        bool shown = false;
        for (Ref* row : taskList->getRowData()) {
            auto* task = dynamic_cast<dcmGetingObject*>(row);
            shown = shown || (task && task->seriesUID == failed->seriesUID);
        }
        if (shown)
            continue;
        failed->state = DCM_TASK_FAILED;
        taskList->insertRow(-1, failed);
        if (Node* help = getChildByName(kHelpName))
            help->setVisible(false);
    }
}

bool dcmSend::isRecentlySeen(const std::string& time)
{
    int then[6];
    if (time.empty() || !parseDateTime(time, then))
        return false;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    if (then[0] != local.tm_year + 1900 || then[1] != local.tm_mon + 1 || then[2] != local.tm_mday)
        return false;
    const int nowSeconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return nowSeconds - (then[3] * 3600 + then[4] * 60 + then[5]) < kRecentSeconds;
}

bool dcmSend::isValidPort(const std::string& port)
{
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit))
        return false;
    const int value = std::atoi(port.c_str());
    return value >= 1 && value <= 65535;
}

Size dcmSend::tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t, Ref*)
{
    return Size(table->getContentSize().width, kRowHeight);
}

NSUI::NSTableViewCell* dcmSend::tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const Size& size)
{
    NSUI::NSTableViewCell* cell = table->cellAtIndex(index);
    if (!cell)
        cell = table->dequeueCell();
    if (index < 0 || index >= table->getRowCount())
        return cell ? cell : NSUI::NSTableViewCell::create();
    Ref* data = table->getRowData()[index];
    if (table == taskList) {
        auto* task = dynamic_cast<dcmTask*>(data);
        if (!task || (task->type != dcmTask::TYPE_SEND && task->type != dcmTask::TYPE_RETRIEVE))
            return nullptr;
    }
    if (!cell)
        cell = NSUI::NSTableViewCell::create();
    auto* record = dynamic_cast<ui::Widget*>(cell->getChildByTag(kCellLayoutTag));
    if (!record) {
        record = dynamic_cast<ui::Widget*>(CSLoader::createNode(table == nodeList ? kNodeRowFile : kTaskRowFile));
        if (!record)
            return cell;
        record->setTag(kCellLayoutTag);
        record->setContentSize(size);
        AppConfig::getInstance()->setText(record, "");
        ui::Helper::doLayout(record);
        cell->addChild(record);
        if (table == nodeList) {
            if (auto* name = dynamic_cast<ui::Text*>(record->getChildByName("name")))
                name->setTextColor(Color4B(kAccent));
        } else if (ui::Button* retry = findButton(record, "dcmNodeSend_retry")) {
            retry->setLocalZOrder(retry->getLocalZOrder() + 1);
            retry->addClickEventListener([this](Ref* sender) { onButton(sender); });
        }
    }
    if (table == nodeList)
        fillNodeCell(cell, record, static_cast<dcmNodeObject*>(data), size);
    else
        fillTaskCell(record, static_cast<dcmTask*>(data));
    return cell;
}

void dcmSend::fillNodeCell(NSUI::NSTableViewCell* cell, ui::Widget* record, dcmNodeObject* node, const Size& size)
{
    auto* field = dynamic_cast<NSUI::NSTextField*>(cell->getChildByTag(kAddressFieldTag));
    if (!field) {
        // The typed address stands where the other rows show theirs, right of the row's name, on
        // one line up to the row's send button.
        Node* ipLabel = record->getChildByName("ip");
        const float x = ipLabel ? ipLabel->getPositionX() : 10.0f;
        const float y = (ipLabel ? ipLabel->getPositionY() : size.height / 2) - kTypedFieldHeight / 2;
        field = createTextField(AppConfig::getInstance()->getText("inputIP"), Vec2(x, y), int(kTypedFontSize),
                                Vec2::ZERO);
        field->setTag(kAddressFieldTag);
        field->setTextColor(Color3B::WHITE);
        field->cursorImage = "UIRes/cursor.png";
        field->setContentSize(Size(std::max(150.0f, size.width - kTypedSendReserve - x), kTypedFieldHeight));
        field->touchRect = Rect(-x, -y, size.width, size.height);  // the whole cell
        field->addEventListener([this](Ref* sender, NSUI::NSTextField::EventType) {
            onAddressEdited(static_cast<NSUI::NSTextField*>(sender));
        });
        cell->addChild(field, 1);
    }
    field->setUserObject(node);

    Node* ipLabel = record->getChildByName("ip");
    Node* nameLabel = record->getChildByName("name");
    // The typed row's own send button: cells are reused, so any other row hides it.
    ui::Button* typedSend = dynamic_cast<ui::Button*>(cell->getChildByName(kTypedSendName));
    if (typedSend && node->rowKind != dcmNodeObject::ROW_TYPED_ADDRESS)
        typedSend->setVisible(false);
    if (node->rowKind == dcmNodeObject::ROW_TYPED_ADDRESS) {
        setChildText(record, "name", AppConfig::getInstance()->getText("dcmSend_Input"));
        if (nameLabel && ipLabel)
            nameLabel->setPositionY(ipLabel->getPositionY());
        for (const char* name : {"ip", "last", "device", "wifi", "save"})
            setChildVisible(record, name, false);
        if (!typedSend) {
            typedSend = ui::Button::create();
            typedSend->setTitleText(AppConfig::getInstance()->getText("dcmNode_send"));
            typedSend->setTitleColor(kAccent);
            typedSend->setTitleFontSize(kTypedFontSize);
            typedSend->setAnchorPoint(Vec2(1.0f, 0.5f));
            typedSend->setPosition(Vec2(size.width - 15, size.height * 0.5f));
            typedSend->setName(kTypedSendName);
            typedSend->addClickEventListener([this](Ref* sender) { onButton(sender); });
            typedSend->setVisible(false);
            cell->addChild(typedSend, record->getLocalZOrder() + 1);
        }
    } else if (node->rowKind == dcmNodeObject::ROW_LOCAL) {
        setChildText(record, "name", node->name);
        setChildText(record, "ip", node->ip);
        if (nameLabel && ipLabel)
            nameLabel->setPositionY(ipLabel->getPositionY());
        setChildVisible(record, "ip", true);
        setChildVisible(record, "name", true);
        for (const char* name : {"last", "device", "wifi", "save"})
            setChildVisible(record, name, false);
    } else {
        for (const char* name : {"name", "ip", "last", "device", "wifi", "save"})
            setChildVisible(record, name, true);
        if (nameLabel)
            nameLabel->setPositionY(35);
        setChildText(record, "name", node->name);
        setChildText(record, "ip", node->ip);
        setChildText(record, "last", node->lastTime);
        const char* icon = "imgs/device_PC.png";
        switch (node->device) {
        case 1: icon = "imgs/device_Android.png"; break;
        case 3: icon = "imgs/device_iOS.png"; break;
        case 4: icon = "imgs/device_Mac.png"; break;
        case 5: setChildText(record, "ip", node->ip + ":" + node->port); break;
        default: break;
        }
        if (auto* device = dynamic_cast<ui::ImageView*>(record->getChildByName("device")))
            device->loadTexture(icon);
        if (auto* wifi = dynamic_cast<ui::ImageView*>(record->getChildByName("wifi")))
            wifi->loadTexture(isRecentlySeen(node->wifi) ? "imgs/Wi-Fi-Green.png" : "imgs/Wi-Fi-Red.png");
        if (auto* save = dynamic_cast<ui::Button*>(record->getChildByName("save"))) {
            const char* star = node->saveType == 1 ? "imgs/favierate.png" : "imgs/favierateNone.png";
            save->loadTextures(star, star, star);
        }
    }
    field->setVisible(node->rowKind == dcmNodeObject::ROW_TYPED_ADDRESS);
    if (field->isVisible() && field->getString() != node->ip)
        field->setString(node->ip);
}

void dcmSend::fillTaskCell(ui::Widget* record, dcmTask* task)
{
    ui::Button* retry = findButton(record, "dcmNodeSend_retry");
    if (retry)
        retry->setUserObject(task);
    Node* ratio = record->getChildByName("ratio");
    int state = DCM_TASK_WAITING;
    float progress = 0.0f;
    std::string ip, path;
    // Before its first count a retrieval runs without a share to show (its image-level query).
    bool uncounted = false;
    if (task->type == dcmTask::TYPE_SEND) {
        auto* send = static_cast<dcmSendingObject*>(task);
        state = send->state;
        progress = send->progress;
        // The node's name as the peer announced it.
        const std::string name = dcmGetingObject::shownText(send->name, kRowFieldBytes);
        ip = name.empty() ? send->address : name + "---" + send->address;
        path = dcmGetingObject::shownText(send->text1, kRowFieldBytes);
    } else {
        auto* get = static_cast<dcmGetingObject*>(task);
        state = get->state;
        progress = get->progress;
        uncounted = get->imageCount.empty();
        // Names, numbers and reasons may come from a peer's answers: one clean line each.
        const std::string name = dcmGetingObject::shownText(get->patientName, kRowFieldBytes);
        ip = name.empty() ? get->address : isImageSDK::displayPersonName(name);
        const bool counted = (state == DCM_TASK_RUNNING || state == DCM_TASK_DONE) && !uncounted;
        path = dcmGetingObject::shownText(get->seriesNumber, kRowFieldBytes) + "(" +
               dcmGetingObject::shownText(get->modality, kRowFieldBytes) +
               (counted ? " " + get->imageCount : std::string()) + ")";
        if (state == DCM_TASK_FAILED)
            path += "  " + outcomeText(*get);
    }
    switch (state) {
    case DCM_TASK_WAITING: setChildText(record, "ratio", "Waiting"); break;
    case DCM_TASK_RUNNING: setChildText(record, "ratio", uncounted ? "Running" : percentText(progress)); break;
    case DCM_TASK_DONE: setChildText(record, "ratio", "Done"); break;
    default: setChildText(record, "ratio", percentText(progress)); break;
    }
    if (ratio)
        ratio->setVisible(state != DCM_TASK_FAILED);
    if (retry)
        retry->setVisible(state == DCM_TASK_FAILED);
    // Measured once the controls of the row's right end are as they will be shown.
    fitRowText(record, "ip", ip);
    fitRowText(record, "path", path);
}

void dcmSend::tableCellLeftMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu)
{
    if (table != taskList) {
        menu->setVisible(false);
        return;
    }
    fillSwipeMenu(menu, kTaskMenuFile, [this](Ref* sender) { onButton(sender); });
    if (ui::Button* del = findButton(menu, "del"))
        del->setUserObject(menu->getCell());
    // Open is offered where images arrived and the retrieval failed; other rows show Remove only.
    ui::Button* open = findButton(menu, kOpenName);
    if (!open)
        return;
    if (openableRetrieval(menu->getCell())) {
        open->setUserObject(menu->getCell());
        open->addClickEventListener([this](Ref* sender) { onButton(sender); });
        return;
    }
    Node* tools = open->getParent();
    const Size size = tools->getContentSize();
    tools->setContentSize(Size(size.width - open->getContentSize().width, size.height));
    open->removeFromParent();
    ui::Helper::doLayout(tools);
    menu->setContentSize(Size(tools->getContentSize().width, menu->getContentSize().height));
}

dcmGetingObject* dcmSend::openableRetrieval(Ref* cellObject) const
{
    auto* cell = dynamic_cast<NSUI::NSTableViewCell*>(cellObject);
    const ssize_t index = cell ? cell->getIndex() : -1;
    if (!taskList || index < 0 || index >= taskList->getRowCount())
        return nullptr;
    auto* get = dynamic_cast<dcmGetingObject*>(taskList->getRowData()[index]);
    return get && get->type == dcmTask::TYPE_RETRIEVE && get->state == DCM_TASK_FAILED && get->keptImages > 0
               ? get
               : nullptr;
}

void dcmSend::openIncompleteSeries(dcmGetingObject* get)
{
    // Read from the retrieval's own folder: not imported, not listed in the library, no cache of
    // it kept. The viewer says what it shows.
    std::string json;
    setString(json, "num", "1");
    setString(json, "series1", redIRI::dcmGet::seriesFolderOf(get->saveFolder.c_str(), get->seriesUID.c_str()));
    setString(json, "kept", std::to_string(get->keptImages));
    setString(json, "images", std::to_string(get->seriesImages));
    if (taskList)
        taskList->hideSwipeMenu(true);
    Scene* scene = openViewerScene(json, "");
    if (!scene) {
        toast(AppConfig::getInstance()->getText("failed_loadSeries"));
        return;
    }
    Director::getInstance()->pushScene(scene);
}

void dcmSend::tableCellTouched(NSUI::NSTableView* table, NSUI::NSTableViewCell* cell, const Vec2&)
{
    if (table == nodeList && cell && cell->getIndex() == 1)
        return;
    if (ui::Button* typed = nodeList ? findButton(nodeList, kTypedSendName) : nullptr)
        typed->setVisible(false);
}

void dcmSend::onAddressEdited(NSUI::NSTextField* field)
{
    auto* node = dynamic_cast<dcmNodeObject*>(field->getUserObject());
    if (!node)
        return;
    node->ip = field->getString();
    std::vector<std::string> parts;
    splitString(node->ip, ":", parts);
    if (parts.size() == 2) {
        node->ip = parts[0];
        node->port = parts[1];
    }
    node->locked = 0;
    if (auto* typed = dynamic_cast<ui::Button*>(field->getParent()->getChildByName(kTypedSendName)))
        typed->setVisible(true);
}

// ---- buttons ------------------------------------------------------------------------------------

void dcmSend::onButton(Ref* sender)
{
    auto* button = dynamic_cast<ui::Button*>(sender);
    if (!button)
        return;
    const std::string& name = button->getName();
    if (name == "btn_back") {
        onResponseReturn();
    } else if (name == "dcmNodeSend_retry") {
        auto* task = dynamic_cast<dcmTask*>(button->getUserObject());
        if (!task)
            return;
        if (task->type == dcmTask::TYPE_SEND) {
            auto* send = static_cast<dcmSendingObject*>(task);
            send->state = DCM_TASK_WAITING;
            send->progress = 0.0f;
            refreshTask(send);
        } else if (task->type == dcmTask::TYPE_RETRIEVE) {
            auto* get = static_cast<dcmGetingObject*>(task);
            get->progress = 0.0f;
            get->imageCount.clear();  // counted afresh: until then the new attempt says it runs
            get->state = DCM_TASK_WAITING;
            get->retain();  // the service may hold the last reference to a failed entry
            refreshTask(get);
            dataService* service = dataService::getInstance();
            service->removeRetrieveTask(get);
            if (isAddressInNetworkScope(get->address)) {
                const std::vector<std::string> f = get->fields();
                service->getClient.getSeriesByUID(f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str(),
                                                  f[4].c_str(), f[5].c_str(), f[6].c_str(), f[7].c_str(),
                                                  f[8].c_str(), f[9].c_str());
            } else {
                log("retrieve from %s refused: outside the network scope", get->address.c_str());
            }
            get->release();
        }
    } else if (name == kTypedSendName) {
        // The typed row's own button sends to that row: a click into its field does not select
        // the row in the table.
        auto* cell = dynamic_cast<NSUI::NSTableViewCell*>(button->getParent());
        if (nodeList && cell && cell->getIndex() >= 0 && cell->getIndex() < nodeList->getRowCount())
            nodeList->selectCellAtIndex(cell->getIndex());
        sendToSelectedNode();
    } else if (name == "dcmNode_send") {
        sendToSelectedNode();
    } else if (name == kOpenName) {
        if (dcmGetingObject* get = openableRetrieval(button->getUserObject()))
            openIncompleteSeries(get);
    } else if (name == "del") {
        auto* cell = dynamic_cast<NSUI::NSTableViewCell*>(button->getUserObject());
        const ssize_t index = cell ? cell->getIndex() : -1;
        if (!taskList || index < 0 || index >= taskList->getRowCount())
            return;
        auto* task = dynamic_cast<dcmTask*>(taskList->getRowData()[index]);
        if (!task)
            return;
        if (task->type == dcmTask::TYPE_RETRIEVE) {
            auto* get = static_cast<dcmGetingObject*>(task);
            if (get->state == DCM_TASK_RUNNING) {
                toast(kRunningRetrieveToast);
                return;
            }
            get->retain();
            taskList->hideSwipeMenu(true);
            taskList->removeRowForData(get);
            dataService* service = dataService::getInstance();
            service->removeRetrieveTask(get);
            // Nor is anything kept of it: what a failed attempt stored goes with its transfer.
            service->getClient.discardSeries(get->saveFolder.c_str(), get->seriesUID.c_str());
            get->release();
        } else if (task->type == dcmTask::TYPE_SEND) {
            if (static_cast<dcmSendingObject*>(task)->state == DCM_TASK_RUNNING) {
                toast(AppConfig::getInstance()->getText("dcm_sending_msg"));
                return;
            }
            // The task itself, not its row index, names the row: another row may go in between.
            NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
            data->uintValue = task->getRefID();
            NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_NET_TASK_ROW_UPDATE,
                                                                        data, this, false);
        }
    }
}

void dcmSend::sendToSelectedNode()
{
    NSUI::NSTableViewCell* selected = nodeList ? nodeList->getSelectedCell() : nullptr;
    const ssize_t index = selected ? selected->getIndex() : -1;
    if (sendPath.empty() || index < 0 || index >= nodeList->getRowCount()) {
        toast(kChooseFirstToast);
        return;
    }
    auto* node = static_cast<dcmNodeObject*>(nodeList->getRowData()[index]);
    // A row that takes nothing says why: this workstation holds the images already, and without
    // a network nothing can go anywhere. A node sent to before shows that transfer (one whose
    // transfer was removed from the list is sent to again).
    if (node->locked && node->rowKind == dcmNodeObject::ROW_LOCAL) {
        toast(AppConfig::getInstance()->getText(fixedRows == 1 ? "dicomSendCheckWifi" : kSendToSelfKey));
        return;
    }
    if (node->rowKind == dcmNodeObject::ROW_TYPED_ADDRESS && (!isValidIPv4(node->ip) || !isValidPort(node->port))) {
        toast(AppConfig::getInstance()->getText("UnvalidIP"));
        return;
    }
    node->locked = 1;
    if (taskList) {
        for (Ref* data : taskList->getRowData()) {
            auto* task = dynamic_cast<dcmSendingObject*>(data);
            if (task && task->address == node->ip && task->port == node->port && task->file == sendPath) {
                taskList->selectCellAtIndex(taskList->indexOfData(task));
                toast(AppConfig::getInstance()->getText(kAlreadyListedKey));
                return;
            }
        }
    }
    dcmSendingObject* task = dcmSendingObject::create(node->ip, node->port, node->name, sendPath);
    task->text1 = sendLabel;
    if (taskList)
        taskList->insertRow(-1, task);
    dataService::getInstance()->addSendTask(task);
    if (root) {
        if (Node* help = getChildByName(kHelpName))
            help->setVisible(false);
    }
}

// ---- notifications ------------------------------------------------------------------------------

void dcmSend::refreshTask(dcmTask* task)
{
    if (!taskList)
        return;
    const ssize_t index = taskList->indexOfData(task);
    if (index >= 0)
        taskList->updateCellAtIndex(index);
}

void dcmSend::onNotification(Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    if (!data)
        return;
    const std::string& text = data->text;
    auto findSend = [this](uint32_t ref) -> dcmSendingObject* {
        if (!taskList)
            return nullptr;
        for (Ref* row : taskList->getRowData()) {
            auto* task = dynamic_cast<dcmSendingObject*>(row);
            if (task && task->getRefID() == ref)
                return task;
        }
        return nullptr;
    };
    switch (id) {
    case NSUI::NOTIFY_NET_SEND_PROGRESS:
        if (dcmSendingObject* task = findSend(data->uintValue)) {
            task->progress = data->floatValue;
            task->state = DCM_TASK_RUNNING;
            refreshTask(task);
        }
        break;
    case NSUI::NOTIFY_NET_SEND_DONE:
        if (dcmSendingObject* task = findSend(data->uintValue)) {
            task->progress = 100.0f;
            task->state = DCM_TASK_DONE;
            refreshTask(task);
        }
        break;
    case NSUI::NOTIFY_NET_SEND_FAILED:
        if (dcmSendingObject* task = findSend(data->uintValue)) {
            task->state = DCM_TASK_FAILED;
            refreshTask(task);
        }
        break;
    case NSUI::NOTIFY_NET_TASK_ROW_UPDATE:
        if (dcmSendingObject* task = findSend(data->uintValue)) {
            task->state = DCM_TASK_DONE;  // done: the pump never sends it
            taskList->hideSwipeMenu(true);
            taskList->removeRowForData(task);
        }
        break;
    case NSUI::NOTIFY_NET_PEER_FOUND:
        onPeerFound(getString(text, "ip"), getString(text, "name"),
                    std::atoi(getStringWithDefault(text, "device", "5").c_str()),
                    getStringWithDefault(text, "appid", "5"));
        break;
    case NSUI::NOTIFY_NET_ECHO_RESULT: {
        const int ok = getInt(text, "ok", 0);
        std::string time = nowText();
        if (ok != 1)
            time = time.substr(0, 10) + " 00:00:00";
        onEchoResult(getString(text, "ip"), getString(text, "port"), getString(text, "name"), getString(text, "appid"),
                     time, ok);
        break;
    }
    case NSUI::NOTIFY_NET_RETRIEVE_STATE:
        // The library has begun the series: it runs from its image-level query on.
        if (taskList) {
            for (Ref* row : taskList->getRowData()) {
                auto* task = dynamic_cast<dcmGetingObject*>(row);
                if (task && task->seriesUID == text && task->state == DCM_TASK_WAITING) {
                    task->state = DCM_TASK_RUNNING;
                    refreshTask(task);
                    break;
                }
            }
        }
        break;
    case NSUI::NOTIFY_NET_RETRIEVE_PROGRESS:
        onRetrieveProgress(text);
        break;
    case NSUI::NOTIFY_NET_RETRIEVE_FAILED: {
        std::vector<std::string> f;
        splitString(text, ",", f);
        if (f.size() != static_cast<size_t>(dcmGetingObject::kFailureFieldCount) || !taskList)
            break;
        for (Ref* row : taskList->getRowData()) {
            auto* task = dynamic_cast<dcmGetingObject*>(row);
            if (task && task->seriesUID == f[5]) {
                task->state = DCM_TASK_FAILED;
                task->setOutcome(f);
                refreshTask(task);
                break;
            }
        }
        break;
    }
    default:
        break;
    }
}

void dcmSend::onRetrieveProgress(const std::string& text)
{
    std::vector<std::string> f;
    splitString(text, "|", f);
    if (f.size() != 5 || !taskList)
        return;
    dcmGetingObject* task = nullptr;
    for (Ref* row : taskList->getRowData()) {
        auto* get = dynamic_cast<dcmGetingObject*>(row);
        if (get && get->seriesUID == f[0]) {
            task = get;
            break;
        }
    }
    if (!task)
        return;
    const int remaining = std::atoi(f[1].c_str());
    const int total = remaining + std::atoi(f[2].c_str()) + std::atoi(f[3].c_str()) + std::atoi(f[4].c_str());
    if (f[1] == "0") {
        task->state = (std::atoi(f[3].c_str()) != 0 || std::atoi(f[4].c_str()) != 0) ? DCM_TASK_FAILED : DCM_TASK_DONE;
    } else {
        // Without a positive total there is no progress to show.
        if (total <= 0)
            return;
        task->progress = static_cast<float>(total - remaining) * 100.0f / static_cast<float>(total);
        if (task->state != DCM_TASK_RUNNING || task->imageCount.empty()) {
            task->state = DCM_TASK_RUNNING;
            task->imageCount = std::to_string(total);
        }
    }
    refreshTask(task);
}

ssize_t dcmSend::nodeRowOf(const std::string& appid) const
{
    const auto& rows = nodeList->getRowData();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (static_cast<dcmNodeObject*>(rows[i])->appid == appid)
            return static_cast<ssize_t>(i);
    }
    return -1;
}

void dcmSend::setPeer(dcmNodeObject* node, const std::string& ip, const std::string& port, const std::string& name,
                      const std::string& seen, int device)
{
    node->name = name;
    node->wifi = seen;
    node->device = device;
    node->ip = ip;
    node->port = port;
}

void dcmSend::onPeerFound(const std::string& ip, const std::string& name, int device, const std::string& appid)
{
    if (ip.empty() || !nodeList)
        return;
    const ssize_t row = nodeRowOf(appid);
    if (row >= 0) {
        auto* node = static_cast<dcmNodeObject*>(nodeList->getRowData()[size_t(row)]);
        if (isRecentlySeen(node->wifi)) {
            setPeer(node, ip, kLocalPort, name, nowText(), device);
            nodeList->updateCellAtIndex(row);
            return;
        }
        nodeList->removeRowAtIndex(row);
    }
    dcmNodeObject* node = dcmNodeObject::create();
    node->appid = appid;
    setPeer(node, ip, kLocalPort, name, nowText(), device);
    node->saveType = 3;
    nodeList->insertRow(fixedRows, node);
}

void dcmSend::onEchoResult(const std::string& ip, const std::string& port, const std::string& name,
                           const std::string& appid, const std::string& time, int ok)
{
    if (ip.empty() || !nodeList)
        return;
    const ssize_t row = nodeRowOf(appid);
    if (row >= 0) {
        setPeer(static_cast<dcmNodeObject*>(nodeList->getRowData()[size_t(row)]), ip, port, name, time, 5);
        nodeList->updateCellAtIndex(row);
        return;
    }
    if (!ok)
        return;
    dcmNodeObject* node = dcmNodeObject::create();
    node->appid = appid;
    setPeer(node, ip, port, name, time, 5);
    node->saveType = 3;
    nodeList->insertRow(fixedRows, node);
}
