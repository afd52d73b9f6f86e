#include "dataService.h"

#include "AppConfig.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "NSRunableThread.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"
#include "NetworkUtils.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "dcmDiskWrite.h"
#include "dicomDB.h"
#include "isDcmRules.h"
#include "messageView.h"
#include "sniffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

namespace {

const char* const kTickKey = "_dataServiceDataManager";
const char* const kDicomPort = "4587";
const char* const kCalledTitleSetting = "dicomServerTitle";
const char* const kSendFailedToast = "Please check the status of DICOM node";
const char* const kFindFailedToast = "Check the network and the patient name";
// The language key of the toast for a search the library cut at its bound ("find cut: ..."), and
// the English text should the table lack it.
const char* const kFindCutKey = "find_cut";
const char* const kFindCutToast = "The server found more than can be listed: only the first matches are shown. Narrow the search.";
const char* const kRetrieveReadySuffix = " is ready";
// Of "<patient name>(<series number>,<modality>)".
const char* const kRetrieveFailedToast = "Failed to download %s";
const char* const kServerPortToast = "Cannot receive DICOM images: port %s is in use by another program";
const char* const kServerLostToast =
    "Cannot receive DICOM images: port %s stopped listening; it is opened again as soon as it can be";
const char* const kServerReopenedToast = "Port %s stopped listening and was opened again: DICOM images are received";
const char* const kServerListeningToast = "DICOM images are received on port %s";
const char* const kDiskFullToast =
    "The disk is full: images and files are not saved until there is room again (see the log)";
const char* const kUnboundedParseToast =
    "DICOM images cannot be imported, received or retrieved: this installation cannot read them safely (see the log)";
constexpr int kFullSweepAfterTicks = 300;
constexpr int kPeerOnlineSeconds = 10;
constexpr size_t kEchoEntrySize = 100;  // the echo call's buffers, terminator included
constexpr int kRetrieveRecordSize = 1024;
const char* const kDownloadFolder = "tmp/dicomdown/";
// The dicom layer's record in a series folder of a retrieval that did not complete (dcmGet).
const char* const kRetrievalRecord = ".retrieval";

dataService* gInstance = nullptr;
std::function<void(dicomDB*)> gDatabaseSetup;
// downloadFolder() as init read it: the library's thread, which tells of finished retrievals,
// must not ask the framework for it.
std::mutex gDownloadRootLock;
std::string gDownloadRoot;

// The name a series folder goes by, with its "/": "<root>/2.25.7/" and "2.25.7" give "2.25.7/".
// The import of a retrieval's folder and the retrieval's done message meet under it.
std::string seriesFolderName(std::string folder)
{
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    const size_t slash = folder.rfind('/');
    return (slash == std::string::npos ? folder : folder.substr(slash + 1)) + "/";
}

// "<patient name>(<series number>,<modality>)" as a toast shows it.
std::string seriesLabel(const std::string& name, const std::string& number, const std::string& modality)
{
    constexpr size_t kFieldBytes = 128;
    return dcmGetingObject::shownText(name, kFieldBytes) + "(" + dcmGetingObject::shownText(number, kFieldBytes) + "," +
           dcmGetingObject::shownText(modality, kFieldBytes) + ")";
}

// "name,address,port" in a 100-byte buffer: a long name is cut (at a character boundary) so the
// address and the port always fit; a "," inside the name would shift the fields and becomes "_".
std::string echoEntry(std::string name, const std::string& address, const std::string& port)
{
    replaceAll(name, ",", "_");
    const std::string tail = "," + address + "," + port;
    if (name.size() + tail.size() > kEchoEntrySize - 1) {
        std::vector<char> cut(tail.size() < kEchoEntrySize ? kEchoEntrySize - tail.size() : 1);
        isImageSDK::copyTextField(cut.data(), cut.size(), name.c_str());
        name = cut.data();
    }
    return name + tail;
}

// The value of one tag in a find answer: the text between the first "[" after the key's first
// occurrence and the next "]"; "" when any of them is missing.
std::string tagValue(const std::string& text, const char* key)
{
    const size_t at = text.find(key);
    if (at == std::string::npos) return std::string();
    const size_t open = text.find('[', at);
    if (open == std::string::npos) return std::string();
    const size_t close = text.find(']', open);
    if (close == std::string::npos) return std::string();
    return text.substr(open + 1, close - open - 1);
}

// Date and time of a find answer joined, as "YYYY.MM.DD hh:mm:ss" when they make 14 characters.
std::string findDateTime(const std::string& date, const std::string& time)
{
    const std::string t = date + time;
    if (t.size() < 14) return t;
    return t.substr(0, 4) + "." + t.substr(4, 2) + "." + t.substr(6, 2) + " " + t.substr(8, 2) + ":" +
           t.substr(10, 2) + ":" + t.substr(12, 2);
}

bool isLoopback(const std::string& address) { return isValidIPv4(address) && address.compare(0, 4, "127.") == 0; }

template <class Record>
void postRecord(unsigned int number, Record* record)
{
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->setUserData(record, [](void* p) { delete static_cast<Record*>(p); });
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, number, data, nullptr, false);
}

void postText(unsigned int number, const char* text, bool urgent)
{
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, number, text ? text : "", nullptr,
                                                                      urgent);
}

}  // namespace

bool isOwnStorageServer(const std::string& address, const std::string& port, int ownPort,
                        const std::vector<std::string>& ownAddresses)
{
    if (ownPort <= 0 || port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(port.c_str()) != ownPort)
        return false;
    return isLoopback(address) || std::find(ownAddresses.begin(), ownAddresses.end(), address) != ownAddresses.end();
}

// ---- Life ---------------------------------------------------------------------------------------

dataService* dataService::getInstance()
{
    if (!gInstance) {
        gInstance = new dataService();
        gInstance->init();
        gInstance->autorelease();
        gInstance->retain();
    }
    return gInstance;
}

dataService* dataService::peekInstance() { return gInstance; }

void dataService::destroyInstance()
{
    if (!gInstance) return;
    dataService* service = gInstance;
    gInstance = nullptr;
    service->stop();
    service->release();
}

void dataService::setDatabaseSetupForTest(std::function<void(dicomDB*)> setup) { gDatabaseSetup = std::move(setup); }

dataService::dataService()
{
    discoveryStarter = [] { NSUI::sniffer::getInstance()->start(); };
}

dataService::~dataService()
{
    stop();
    if (gInstance == this) gInstance = nullptr;
}

bool dataService::init()
{
    database = new dicomDB();
    if (gDatabaseSetup) gDatabaseSetup(database);
    if (!database->init()) {
        database->release();
        database = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(gDownloadRootLock);
        gDownloadRoot = downloadFolder();
    }
    serverFailureToShow_ = database && database->serverStartFailed();
    portFailuresTold_ = 0;
    listeningToTell_ = false;
    unboundedParseToShow_ = !redIRI::rediri_parseBounded();
    dropOwnServerRows();
    tickCounter = 0;
    updateCalledAETitle();
    cocos2d::Director::getInstance()->getScheduler()->schedule([this](float dt) { onTick(dt); }, this, 1.0f,
                                                               CC_REPEAT_FOREVER, 0.5f, false, kTickKey);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    for (unsigned int number :
         {NSUI::NOTIFY_NET_SEND_PROGRESS, NSUI::NOTIFY_NET_SEND_DONE, NSUI::NOTIFY_NET_SEND_FAILED,
          NSUI::NOTIFY_NET_ECHO_RESULT, NSUI::NOTIFY_NET_FIND_RESULT, NSUI::NOTIFY_NET_FIND_FAILED,
          NSUI::NOTIFY_NET_PEER_FOUND, NSUI::NOTIFY_NET_RETRIEVE_DONE, NSUI::NOTIFY_NET_RETRIEVE_FAILED})
        centre->addObserver(
            this, nullptr,
            [this](cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data) { onNotification(id, data); },
            number);
    findKeptRetrievals();
    return true;
}

std::string dataService::downloadFolder()
{
    return cocos2d::FileUtils::getInstance()->getWritablePath() + kDownloadFolder;
}

void dataService::findKeptRetrievals()
{
    // The folders are read on a thread of their own; what they hold is listed on the main thread,
    // unless the service has stopped by then.
    const std::string folder = downloadFolder();
    std::shared_ptr<bool> alive = alive_;
    // Joined by stop(); in a process that exits without the shell's shutdown, by the exit handler.
    // Either stops the retrieval client first, which ends the scan at its next file.
    static std::once_flag exitStop;
    std::call_once(exitStop, [] {
        NSUI::NSRunableThread::addExitStop([] {
            if (!gInstance || !gInstance->keptScan_.joinable()) return;
            gInstance->getClient.stop();
            gInstance->keptScan_.join();
        });
    });
    keptScan_ = std::thread([this, folder, alive] {
        // A folder marked as being imported holds a retrieval that completed: the program closed
        // before its import ended. The import is taken up again, not the retrieval called failed.
        std::vector<std::string> kept, importing;
        for (std::string& text : getClient.keptRetrievals(folder.c_str())) {
            std::vector<std::string> f;
            splitString(text, ",", f);
            std::error_code error;
            const std::string series = f.size() == static_cast<size_t>(dcmGetingObject::kFailureFieldCount)
                                           ? redIRI::dcmGet::seriesFolderOf(f[6].c_str(), f[5].c_str())
                                           : std::string();
            // A record of a failure written since (the same series retrieved again, and cut) wins.
            const bool marked = !series.empty() && std::filesystem::is_directory(series + kImportingMark, error) &&
                                !std::filesystem::exists(series + kRetrievalRecord, error);
            (marked ? importing : kept).push_back(std::move(text));
        }
        if (kept.empty() && importing.empty()) return;
        cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread([this, alive, kept, importing] {
            if (!*alive) return;
            // A series retrieved again since the folder was read is neither listed as failed nor
            // imported here: that retrieval ends it.
            std::set<std::string> queued;
            getRetrieveList();
            for (const dcmGetingObject* task : retrieveList)
                if (task->state != DCM_TASK_FAILED) queued.insert(task->seriesUID);
            for (const std::string& text : kept) {
                std::vector<std::string> f;
                splitString(text, ",", f);
                if (f.size() > 5 && !queued.count(f[5])) addFailedRetrieve(text);
            }
            for (const std::string& text : importing) {
                std::vector<std::string> f;
                splitString(text, ",", f);
                if (queued.count(f[5])) continue;
                // The patient list imports it, as the folder of a retrieval just ended, and says
                // it is ready once listed (retrievalListed).
                const std::string series = redIRI::dcmGet::seriesFolderOf(f[6].c_str(), f[5].c_str());
                readyToSay_[seriesFolderName(series)] = seriesLabel(f[7], f[8], f[9]);
                postText(NSUI::NOTIFY_OPEN_FILE, series.c_str(), false);
            }
            if (!kept.empty())
                cocos2d::log("DICOM retrieval: %zu retrievals that did not complete are listed in Transfers",
                             kept.size());
            if (!importing.empty())
                cocos2d::log("DICOM retrieval: the import of %zu retrieved series the program closed during goes on",
                             importing.size());
        });
    });
}

dcmGetingObject* dataService::addFailedRetrieve(const std::string& text)
{
    std::vector<std::string> f;
    splitString(text, ",", f);
    if (f.size() != static_cast<size_t>(dcmGetingObject::kFailureFieldCount)) return nullptr;
    for (dcmGetingObject* known : failedRetrieves) {
        if (known->seriesUID != f[5]) continue;
        known->setOutcome(f);  // tried again: what it says now
        return known;
    }
    dcmGetingObject* task = dcmGetingObject::create(f, DCM_TASK_FAILED);
    if (!task) return nullptr;
    task->retain();
    failedRetrieves.push_back(task);
    return task;
}

void dataService::retrievalListed(const std::string& folder, bool whole)
{
    // Its import has ended: what it left out (a file the library refused) is a retrieval that did
    // not complete, as far as the next start can tell.
    std::error_code error;
    const std::string series = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    if (!series.empty() && std::filesystem::remove(series + kImportingMark, error))
        std::filesystem::remove(series, error);  // only when nothing else is left in it
    const std::string key = seriesFolderName(folder);
    const auto said = readyToSay_.find(key);
    if (said == readyToSay_.end()) {
        listedAhead_[key] = whole;
        return;
    }
    // One whose images were not all listed is not ready: the import says what it left out.
    if (whole)
        toast(said->second + kRetrieveReadySuffix, 2.0f);
    readyToSay_.erase(said);
}

void dataService::stop()
{
    if (stopped_) return;
    stopped_ = true;
    cocos2d::Director::getInstance()->getScheduler()->unschedule(kTickKey, this);
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance()) centre->removeObserver(this);
    for (dcmSendingObject* task : sendTasks) task->release();
    sendTasks.clear();
    *alive_ = false;
    getClient.stop();
    if (keptScan_.joinable()) keptScan_.join();
    sender.stop();
    echoClient.stop();
    findClient.stop();
    for (dcmGetingObject* task : retrieveList) task->release();
    retrieveList.clear();
    for (dcmGetingObject* task : failedRetrieves) task->release();
    failedRetrieves.clear();
    if (database) {
        database->stop();
        database->release();
        database = nullptr;
    }
}

void dataService::updateCalledAETitle()
{
    const std::string title = NSUI::UILocalConfig::getLocalString(kCalledTitleSetting, "");
    findClient.setDefaultCalledAETitle(title.c_str());
    getClient.setDefaultCalledAETitle(title.c_str());
}

// ---- The tick -----------------------------------------------------------------------------------

void dataService::onTick(float)
{
    if (unboundedParseToShow_) {
        // Said once; the server did not start for this reason, not for its port.
        unboundedParseToShow_ = serverFailureToShow_ = false;
        toast(kUnboundedParseToast, 5.0f);
    }
    if (serverFailureToShow_ && database) {
        serverFailureToShow_ = false;
        listeningToTell_ = true;
        toast(formatString(kServerPortToast, database->serverPort().c_str()), 5.0f);
    } else if (database) {
        tellServerPort();
    }
    // Whatever write met the full disk (an image received or retrieved, an import, a cache, a
    // thumbnail) logged its own reason; the user is told once.
    if (disk::takeNoRoomNotice()) toast(kDiskFullToast, 5.0f);
    pumpSendQueue();
    updateCalledAETitle();
    ++tickCounter;
    if (tickCounter > kFullSweepAfterTicks)
        echoNodes(1);
    else if (tickCounter % 5 == 0)
        echoNodes(2);
    if (tickCounter % 5 == 0 && discoveryStarter) discoveryStarter();
    if (tickCounter % 2 == 1) return;
    reportPeerCount();
}

void dataService::reportPeerCount()
{
    std::string host, addresses, masks;
    getLocalNetworkInfo(host, addresses, masks);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    if (addresses.empty()) {
        centre->postIntNotification(nullptr, NSUI::NOTIFY_NET_PEER_COUNT, -1, nullptr, true);
        return;
    }
    std::vector<neighborRecord> peers;
    if (database) database->getNeighbors(peers);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int nowSeconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    int online = 0;
    for (const neighborRecord& peer : peers) {
        int f[6];
        if (isOwnServer(peer.ip, peer.port) || !parseDateTime(peer.wifi, f)) continue;
        if (f[0] != local.tm_year + 1900 || f[1] != local.tm_mon + 1 || f[2] != local.tm_mday) continue;
        if (nowSeconds - (f[3] * 3600 + f[4] * 60 + f[5]) < kPeerOnlineSeconds) ++online;
    }
    centre->postIntNotification(nullptr, NSUI::NOTIFY_NET_PEER_COUNT, online, nullptr, true);
}

void dataService::pumpSendQueue()
{
    if (sender.isSending()) return;
    for (dcmSendingObject* task : sendTasks) {
        if (task->state != DCM_TASK_WAITING || task->address.empty() || task->file.empty()) continue;
        if (task->getRefID() == taskInFlight_) continue;
        if (!isAddressInNetworkScope(task->address)) {
            cocos2d::log("send to %s refused: outside the network scope", task->address.c_str());
            task->state = DCM_TASK_FAILED;
            toast(kSendFailedToast, 2.0f);
            continue;
        }
        sender.setIP(task->address.c_str(), task->port.c_str());
        if (sender.send(task->getRefID(), task->file.c_str())) taskInFlight_ = task->getRefID();
        return;
    }
}

void dataService::echo(const std::vector<std::string>& entries, bool sweep)
{
    if (entries.empty()) return;
    if (echoObserver) echoObserver(entries, sweep);
    std::vector<std::unique_ptr<char[]>> buffers;
    std::vector<char*> pointers;
    for (const std::string& entry : entries) {
        buffers.emplace_back(new char[kEchoEntrySize]);
        isImageSDK::copyTextField(buffers.back().get(), kEchoEntrySize, entry.c_str());
        pointers.push_back(buffers.back().get());
    }
    echoClient.echo(pointers.data(), static_cast<int>(pointers.size()), sweep);
}

bool dataService::isOwnServer(const std::string& address, const std::string& port)
{
    const int ownPort = database && database->isServerRunning() ? std::atoi(database->serverPort().c_str()) : 0;
    return ownPort > 0 && isOwnStorageServer(address, port, ownPort, ownAddresses());
}

const std::vector<std::string>& dataService::ownAddresses()
{
    const auto now = std::chrono::steady_clock::now();
    const bool neverRead = ownAddressesRead_ == std::chrono::steady_clock::time_point{};
    if (neverRead || now - ownAddressesRead_ > std::chrono::seconds(1)) {
        ownAddresses_ = getOwnIPv4Addresses();
        ownAddressesRead_ = now;
    }
    return ownAddresses_;
}

void dataService::dropOwnServerRows()
{
    if (!database || !database->isServerRunning()) return;
    std::vector<neighborRecord> peers;
    database->getNeighbors(peers);
    std::vector<int> ids;
    for (const neighborRecord& peer : peers)
        if (isOwnServer(peer.ip, peer.port)) ids.push_back(peer.id);
    database->removeNeighbors(ids);
}

void dataService::echoNodes(int mode)
{
    std::vector<std::string> hosts;
    if (mode == 1) {
        tickCounter = 0;
        getSubnetHostAddresses(hosts);
        std::vector<std::string> entries;
        for (const std::string& host : hosts)
            if (!isOwnServer(host, sweepPort)) entries.push_back(host + "," + sweepPort);
        echo(entries, true);
        return;
    }
    if (mode != 2) return;

    getSubnetHostAddresses(hosts);
    const std::set<std::string> subnet(hosts.begin(), hosts.end());
    std::vector<neighborRecord> peers;
    if (database) database->getNeighbors(peers);
    std::vector<std::string> entries;
    for (const neighborRecord& peer : peers) {
        if (peer.device != 5 || !subnet.count(peer.ip) || isOwnServer(peer.ip, peer.port)) continue;
        const bool tasked = std::any_of(sendTasks.begin(), sendTasks.end(), [&](const dcmSendingObject* t) {
            return t->address == peer.ip && t->port == peer.port;
        });
        if (!tasked) entries.push_back(echoEntry(peer.name, peer.ip, peer.port));
    }
    for (const std::string& extra : echoExtras) {
        std::vector<std::string> f;
        splitString(extra, ",", f);
        if (f.size() >= 3 && isAddressInNetworkScope(f[f.size() - 2]) && !isOwnServer(f[f.size() - 2], f.back()))
            entries.push_back(extra);
    }
    echoExtras.clear();
    echo(entries, false);
}

// ---- Notifications --------------------------------------------------------------------------------

dcmSendingObject* dataService::findSendTask(uint32_t taskId) const
{
    for (dcmSendingObject* task : sendTasks)
        if (task->getRefID() == taskId) return task;
    return nullptr;
}

void dataService::tellServerPort()
{
    const unsigned failures = database->serverPortFailures();
    const bool listening = database->isServerRunning();
    const char* port = database->serverPort().c_str();
    if (failures != portFailuresTold_) {
        // One toast for each failure, however often the server tried the port since.
        portFailuresTold_ = failures;
        listeningToTell_ = !listening;
        toast(formatString(listening ? kServerReopenedToast : kServerLostToast, port), 5.0f);
    } else if (listeningToTell_ && listening) {
        listeningToTell_ = false;
        toast(formatString(kServerListeningToast, port), 5.0f);
    }
}

void dataService::toast(const std::string& text, float seconds)
{
    if (toastObserver) toastObserver(text, seconds);
    NSUI::messageView::showMessage(text, seconds);
}

void dataService::onNotification(unsigned int number, NSUI::NSNotificationData* data)
{
    if (!data) return;
    const std::string& text = data->text;
    switch (number) {
    case NSUI::NOTIFY_NET_SEND_PROGRESS:
        if (dcmSendingObject* task = findSendTask(data->uintValue)) {
            task->progress = data->floatValue;
            task->state = DCM_TASK_RUNNING;
        }
        break;
    case NSUI::NOTIFY_NET_SEND_DONE:
        if (data->uintValue == taskInFlight_) taskInFlight_ = 0;
        if (dcmSendingObject* task = findSendTask(data->uintValue)) {
            task->progress = 100.0f;
            task->state = DCM_TASK_DONE;
            echoExtras.push_back(echoEntry(task->name, task->address, task->port));
        }
        break;
    case NSUI::NOTIFY_NET_SEND_FAILED:
        if (data->uintValue == taskInFlight_) taskInFlight_ = 0;
        if (dcmSendingObject* task = findSendTask(data->uintValue)) {
            task->state = DCM_TASK_FAILED;
            toast(kSendFailedToast, 2.0f);
        }
        break;
    case NSUI::NOTIFY_NET_RETRIEVE_DONE: {
        // "<series UID>|<patient name>(<series number>,<modality>)". A failed entry of that series
        // is out of date now.
        const size_t bar = text.find('|');
        if (bar == std::string::npos) break;
        const std::string series = text.substr(0, bar);
        for (auto it = failedRetrieves.begin(); it != failedRetrieves.end();) {
            if ((*it)->seriesUID != series) {
                ++it;
                continue;
            }
            (*it)->release();
            it = failedRetrieves.erase(it);
        }
        // Said once its images are listed (the import of its folder ends), not when they arrived.
        const std::string key = seriesFolderName(redIRI::dcmGet::seriesFolderOf("", series.c_str()));
        const std::string label = dcmGetingObject::shownText(text.substr(bar + 1));
        const auto listed = listedAhead_.find(key);
        if (listed != listedAhead_.end()) {
            if (listed->second)
                toast(label + kRetrieveReadySuffix, 2.0f);
            listedAhead_.erase(listed);
        } else {
            readyToSay_[key] = label;
        }
        break;
    }
    case NSUI::NOTIFY_NET_RETRIEVE_FAILED: {
        std::vector<std::string> f;
        splitString(text, ",", f);
        if (!addFailedRetrieve(text)) break;
        // Its folder holds a part now, whatever import of the series was under way.
        std::error_code error;
        if (!f[6].empty())
            std::filesystem::remove(redIRI::dcmGet::seriesFolderOf(f[6].c_str(), f[5].c_str()) + kImportingMark, error);
        const std::string label = seriesLabel(f[7], f[8], f[9]);
        toast(formatString(kRetrieveFailedToast, label.c_str()), 5.0f);
        break;
    }
    case NSUI::NOTIFY_NET_PEER_FOUND:
        // Written on the library's worker, together with the others heard meanwhile.
        if (database && !isOwnServer(getString(text, "ip"), kDicomPort))
            database->queueNeighbor(getInt(text, "device", 5), getString(text, "name"), getString(text, "ip"),
                                   kDicomPort, getString(text, "appid"));
        break;
    case NSUI::NOTIFY_NET_ECHO_RESULT:
        // A node that did not answer keeps the time it was last heard; this program's own server
        // (a sweep reaching this machine) is no node.
        if (database && getInt(text, "ok", 0) == 1 &&
            !isOwnServer(getString(text, "ip"), getString(text, "port")))
            database->saveNeighbor(5, getString(text, "name"), getString(text, "ip"), getString(text, "port"),
                                   getString(text, "appid"));
        break;
    case NSUI::NOTIFY_NET_FIND_RESULT:
        parseFindResult(text);
        break;
    case NSUI::NOTIFY_NET_FIND_FAILED:
        if (text.rfind("find cut", 0) == 0) {
            const std::string cut = AppConfig::getInstance()->getText(kFindCutKey);
            toast(cut.empty() ? kFindCutToast : cut, 5.0f);
        } else {
            toast(kFindFailedToast, 5.0f);
        }
        break;
    default:
        break;
    }
}

void dataService::parseFindResult(const std::string& text)
{
    if (text.find("0008,0060") == std::string::npos) {
        if (text.find("0010,0010") == std::string::npos) return;
        auto record = std::make_unique<dcmFindStudyRecord>();
        record->dateTime = findDateTime(tagValue(text, "0008,0020"), tagValue(text, "0008,0030"));
        record->institution = tagValue(text, "0008,0080");
        record->studyDescription = tagValue(text, "0008,1030");
        record->patientName = tagValue(text, "0010,0010");
        record->patientID = tagValue(text, "0010,0020");
        record->birthDate = tagValue(text, "0010,0030");
        record->sex = tagValue(text, "0010,0040");
        record->studyInstanceUID = tagValue(text, "0020,000d");
        record->studyID = tagValue(text, "0020,0010");
        if (!record->patientName.empty() && !record->studyInstanceUID.empty())
            postRecord(NSUI::NOTIFY_NET_FIND_STUDY, record.release());
        return;
    }
    auto record = std::make_unique<dcmFindSeriesRecord>();
    record->dateTime = findDateTime(tagValue(text, "0008,0021"), tagValue(text, "0008,0031"));
    record->modality = tagValue(text, "0008,0060");
    record->seriesDescription = tagValue(text, "0008,103e");
    record->studyInstanceUID = tagValue(text, "0020,000d");
    record->seriesInstanceUID = tagValue(text, "0020,000e");
    record->seriesNumber = tagValue(text, "0020,0011");
    record->relatedInstances = tagValue(text, "0020,1209");
    if (!record->seriesInstanceUID.empty() && !record->studyInstanceUID.empty())
        postRecord(NSUI::NOTIFY_NET_FIND_SERIES, record.release());
}

// ---- Task lists -----------------------------------------------------------------------------------

void dataService::addSendTask(dcmSendingObject* task)
{
    if (!task) return;
    task->retain();
    sendTasks.push_back(task);
    pumpSendQueue();
}

void dataService::getRetrieveList()
{
    for (dcmGetingObject* task : retrieveList) task->release();
    retrieveList.clear();
    const int count = getClient.getListSize();
    // The one the library has begun runs, whether it is asking what the series holds or receiving
    // its images.
    const std::string running = count > 0 ? getClient.getRunningSeries() : std::string();
    if (count > 0) {
        const int size = count * kRetrieveRecordSize;
        std::vector<char> buffer(static_cast<size_t>(size), 0);
        getClient.getList(buffer.data(), size);
        std::vector<std::string> records;
        splitString(std::string(buffer.data()), "@", records);
        for (const std::string& record : records) {
            std::vector<std::string> f;
            splitString(record, ",", f);
            if (dcmGetingObject* task = dcmGetingObject::create(f, DCM_TASK_WAITING)) {
                if (!running.empty() && task->seriesUID == running)
                    task->state = DCM_TASK_RUNNING;
                task->retain();
                retrieveList.push_back(task);
            }
        }
    }
    for (dcmGetingObject* failed : failedRetrieves) {
        failed->state = DCM_TASK_FAILED;
        failed->retain();
        retrieveList.push_back(failed);
    }
}

void dataService::removeRetrieveTask(dcmGetingObject* task)
{
    if (!task) return;
    const std::string seriesUID = task->seriesUID;  // the task may be the failed entry released below
    getClient.removeTask(seriesUID.c_str());
    auto it = std::find_if(failedRetrieves.begin(), failedRetrieves.end(),
                           [&](const dcmGetingObject* t) { return t->seriesUID == seriesUID; });
    if (it == failedRetrieves.end()) return;
    dcmGetingObject* failed = *it;
    failedRetrieves.erase(it);
    failed->release();
}

// ---- Library callbacks (library threads) -----------------------------------------------------------

void dataService::onSdkLog(const char* text) { cocos2d::log("%s", text ? text : ""); }

void dataService::onSdkMessage(int code, const char* text)
{
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    switch (code) {
    case 0:
    case 1:
    case 2: {
        const std::string json = text ? text : "";
        // Not autoreleased: this is a library thread, whose releases the framework defers to a
        // later frame of the main thread, possibly before the post below has retained the payload.
        auto* data = new NSUI::NSNotificationData();
        data->uintValue = static_cast<uint32_t>(std::strtoul(getString(json, "taskID").c_str(), nullptr, 10));
        if (code == 0) data->floatValue = getFloat(json, "value", 0.0f);
        const unsigned int number = code == 0   ? NSUI::NOTIFY_NET_SEND_PROGRESS
                                    : code == 1 ? NSUI::NOTIFY_NET_SEND_DONE
                                                : NSUI::NOTIFY_NET_SEND_FAILED;
        centre->postNotification(nullptr, number, data, nullptr, true);
        data->release();
        break;
    }
    case 3: {
        // The record is ours now; the payload frees it unless the library database takes it over.
        auto* data = new NSUI::NSNotificationData();
        data->setUserData(const_cast<char*>(text),
                          [](void* p) { delete reinterpret_cast<redIRI::DCM_MESSAGE*>(p); });
        centre->postNotification(nullptr, NSUI::NOTIFY_DB_ADD_IMAGE, data, nullptr, true);
        data->release();
        break;
    }
    case 4: postText(NSUI::NOTIFY_NET_ECHO_RESULT, text, false); break;
    case 5: postText(NSUI::NOTIFY_NET_FIND_RESULT, text, false); break;
    case 6: postText(NSUI::NOTIFY_NET_FIND_FAILED, text, false); break;
    case 7: postText(NSUI::NOTIFY_NET_RETRIEVE_PROGRESS, text, true); break;
    case 8: {
        // A retrieval into the retrieval folder completed and its folder goes to the import: marked
        // before the import can begin, so a close before it ends leaves the folder known as
        // complete. retrievalListed takes the mark away again.
        const std::string folder = text ? text : "";
        bool retrieved = false;
        {
            std::lock_guard<std::mutex> guard(gDownloadRootLock);
            retrieved = !gDownloadRoot.empty() && folder.size() > gDownloadRoot.size() && folder.back() == '/' &&
                        folder.compare(0, gDownloadRoot.size(), gDownloadRoot) == 0 &&
                        folder.find("..") == std::string::npos;
        }
        std::error_code error;
        if (retrieved && !std::filesystem::create_directory(folder + kImportingMark, error) && error)
            cocos2d::log("DICOM retrieval: cannot mark \"%s\" as complete: %s", folder.c_str(),
                         error.message().c_str());
        postText(NSUI::NOTIFY_OPEN_FILE, text, false);
        postText(NSUI::NOTIFY_NET_FILE_RECEIVED_END, text, false);
        break;
    }
    // Urgent as the progress and the end that follow it: the screens show it running at once, and
    // never after its end.
    case 9: postText(NSUI::NOTIFY_NET_RETRIEVE_STATE, text, true); break;
    case 10: postText(NSUI::NOTIFY_NET_RETRIEVE_DONE, text, true); break;
    case 11: postText(NSUI::NOTIFY_NET_RETRIEVE_FAILED, text, true); break;
    default: break;
    }
}

void dataService::onSdkGb2Utf8(const char* in, char* out, int size)
{
    if (!out || size <= 0) return;
    const std::string converted = ansiToUtf8(in ? in : "");
    isImageSDK::copyTextField(out, static_cast<size_t>(size), converted.c_str());
}

char* dataService::onSdkReadFile(const char* path, unsigned long* size, bool asBinary)
{
    unsigned long ignored = 0;
    return reinterpret_cast<char*>(readFileData(path ? path : "", size ? size : &ignored, asBinary));
}

bool dataService::onSdkSavePng(int width, int height, unsigned char* data, const char* path)
{
    if (!data || !path || width <= 0 || height <= 0) return false;
    cocos2d::Image image;
    std::vector<unsigned char> png;
    if (!image.initWithRawData(data, static_cast<ssize_t>(width) * height * 3, width, height, 8) ||
        !image.encodePNG(png, true))
        return false;
    const std::string target = path;
    const size_t slash = target.rfind('/');
    if (slash != std::string::npos && slash > 0) cocos2d::FileUtils::getInstance()->createDirectory(target.substr(0, slash));
    // Whole or not at all: a picture cut short by a full disk would be shown (and kept) for good.
    if (redIRI::disk::writeWholeFile(target, png.data(), png.size())) return true;
    cocos2d::log("picture: cannot write \"%s\": %s", path, redIRI::disk::reasonText(errno).c_str());
    return false;
}
