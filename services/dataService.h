// dataService: the process-wide hub of DICOM networking.
//
// It owns the library database (dicomDB, which runs the storage server) and the DICOM library's
// sender, echo, find and get objects; keeps the send tasks and the retrieval lists; turns the
// library's messages into notifications (onSdkMessage, on library threads) and reacts to those
// notifications on the main thread (task states, peer rows, toasts); and runs a one-second tick
// that pumps the send queue, echoes the known DICOM nodes every fifth second and every possible
// node of the local subnets every 301st, starts a discovery sweep every fifth second and reports
// every second second how many peers were heard in the last ten seconds (2027, -1 without a
// local address). This program's own storage server, reached at any address of this machine, is
// never one of the peers: the sweeps pass it over, its echo answers are not stored, and rows an
// earlier version stored for it are dropped when the service starts (and neither echoed nor
// counted should one come back). When the library database's storage server could not start (its port taken,
// most likely by another copy of the program), the first tick says so in a toast.
//
// Network scope: every address it sweeps comes from getSubnetHostAddresses, and a send task to an
// address outside the scope (NetworkUtils.h) fails without any traffic.
//
// Threads: the library callbacks run on library threads and only post notifications; every other
// operation, and every state change, happens on the main thread.
#pragma once

#include "UIJson.h"
#include "base/CCRef.h"
#include "dcmLib.h"
#include "dcmTask.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class dicomDB;

namespace NSUI {
class NSNotificationData;
}

// A study answer of a find (2011 payload, as user data owned by the payload).
struct dcmFindStudyRecord {
    std::string dateTime;  // "YYYY.MM.DD hh:mm:ss" when date and time give 14 characters
    std::string institution;
    std::string studyDescription;
    std::string patientName;
    std::string patientID;
    std::string birthDate;
    std::string sex;
    std::string studyInstanceUID;
    std::string studyID;
};

// A series answer of a find (2012 payload, as user data owned by the payload).
struct dcmFindSeriesRecord {
    std::string dateTime;
    std::string modality;
    std::string seriesDescription;
    std::string studyInstanceUID;
    std::string seriesInstanceUID;
    std::string seriesNumber;
    std::string relatedInstances;
};

// Whether a DICOM node is this program's own storage server: the node's address is one of this
// machine's (all of 127.0.0.0/8, or one of ownAddresses) and its port is the one the server listens
// on (ownPort; 0 when the server is not listening). A second copy of the program on this machine
// listens on another port and is a peer; so is whatever holds the port when the server could not
// take it.
bool isOwnStorageServer(const std::string& address, const std::string& port, int ownPort,
                        const std::vector<std::string>& ownAddresses);

class dataService : public cocos2d::Ref, public NSUI::UIJson {
public:
    // The service, made on first use (construct, init, autorelease, retain).
    static dataService* getInstance();
    // The service when it exists, without making it.
    static dataService* peekInstance();
    // Shutdown: stop, then release the instance.
    static void destroyInstance();

    dataService();
    ~dataService() override;

    // Makes the library database, schedules the tick (every 1 s, first after 0.5 s, key
    // "_dataServiceDataManager") and observes the network notifications. Always true.
    virtual bool init();
    // Unschedules the tick, releases every task, ends the library objects and the database.
    virtual void stop();

    void onTick(float dt);
    // 1: every possible node of the local subnets (and the tick counter back to 0);
    // 2: the known DICOM nodes of the local subnets, plus the nodes that accepted a send.
    void echoNodes(int mode);
    // Starts the first waiting send task when the sender is idle.
    void pumpSendQueue();
    void onNotification(unsigned int number, NSUI::NSNotificationData* data);
    // One find answer: posts 2011 (a study) or 2012 (a series) with the record as user data.
    void parseFindResult(const std::string& text);

    // Retains the task, queues it and runs the send pump at once.
    void addSendTask(dcmSendingObject* task);
    // Rebuilds the retrieval list from the library's list (waiting, the one begun running), then the
    // failed retrievals (state 3): those of this run and, found at start, those an earlier run left
    // in the download folder.
    void getRetrieveList();
    // Drops the retrieval from the library's queue and the first failed entry of the same series.
    void removeRetrieveTask(dcmGetingObject* task);
    // Lists a failed retrieval from its failure message (thirteen fields), or updates the entry of
    // its series; the entry, or null for a malformed message.
    dcmGetingObject* addFailedRetrieve(const std::string& text);
    // Where retrievals write their series: the writable path followed by "tmp/dicomdown/".
    static std::string downloadFolder();
    // Gives find and get the stored "dicomServerTitle" as the called title they use when a query
    // passes none. Done at init and every tick; screens may call it before a query.
    void updateCalledAETitle();

    // The library callbacks, installed at start-up.
    static void onSdkLog(const char* text);
    static void onSdkMessage(int code, const char* text);
    static void onSdkGb2Utf8(const char* in, char* out, int size);
    static char* onSdkReadFile(const char* path, unsigned long* size, bool asBinary);
    static bool onSdkSavePng(int width, int height, unsigned char* data, const char* path);

    dicomDB* getDatabase() const { return database; }
    // The import of a finished retrieval's folder (the folder code 8 named) has ended, every file
    // listed or refused: that folder's series is said to be ready now, not when its files arrived,
    // and only when every one of them was listed (whole). The folder names the series, so an import
    // that never ends holds back no other series' word. The folder loses its mark of an import under
    // way (and goes when that leaves it empty).
    void retrievalListed(const std::string& folder, bool whole = true);
    // The hidden folder inside a series folder of downloadFolder() that marks its retrieval complete
    // and its import under way, from the done message until the import ends: found at start, the
    // import is taken up again instead of the retrieval being listed as failed. (Hidden: neither
    // imported nor counted among the images.)
    static constexpr const char* kImportingMark = ".retrieved";

    // Owned state. The send screen reads the task lists and their fields directly, and re-issues
    // a failed retrieval through getClient.
    dicomDB* database = nullptr;
    redIRI::dcmSender sender;
    redIRI::dcmEcho echoClient;
    redIRI::dcmFind findClient;
    redIRI::dcmGet getClient;
    std::vector<dcmSendingObject*> sendTasks;
    std::vector<dcmGetingObject*> retrieveList;
    std::vector<dcmGetingObject*> failedRetrieves;
    // "name,address,port" of the nodes that accepted a send since the last known-node echo.
    std::vector<std::string> echoExtras;
    int tickCounter = 0;

    // Hooks. Run on the database between its construction and its init (tests point it at a
    // temporary library and keep its storage server closed); set before getInstance.
    static void setDatabaseSetupForTest(std::function<void(dicomDB*)> setup);
    // What a fifth tick starts: by default one sweep of the process-wide sniffer.
    std::function<void()> discoveryStarter;
    // The port the full sweep echoes at every address (peers listen at 4587); tests point it at
    // servers of their own.
    std::string sweepPort = "4587";
    // Told of every echo request before it is made: the entries and the sweep flag.
    std::function<void(const std::vector<std::string>&, bool)> echoObserver;
    // Told of every toast (text, seconds) as it is shown.
    std::function<void(const std::string&, float)> toastObserver;

private:
    dcmSendingObject* findSendTask(uint32_t taskId) const;
    void reportPeerCount();
    // This program's own storage server answers at address:port (never a peer: not stored, not
    // echoed, not counted).
    bool isOwnServer(const std::string& address, const std::string& port);
    // This machine's addresses, read from the system at most once a second: a sweep's echo answers
    // and a burst of announcements ask for each one (main thread).
    const std::vector<std::string>& ownAddresses();
    // Deletes the rows an earlier version stored for this program's own server (when it listens).
    void dropOwnServerRows();
    void echo(const std::vector<std::string>& entries, bool sweep);
    void toast(const std::string& text, float seconds);
    // Tells the user once of each failure of the server's port and when it listens again.
    void tellServerPort();

    bool stopped_ = false;
    std::vector<std::string> ownAddresses_;
    std::chrono::steady_clock::time_point ownAddressesRead_{};
    // The storage server could not start: the first tick (when a scene shows toasts) says so.
    bool serverFailureToShow_ = false;
    // The failures of the server's listening socket the user was told of.
    unsigned portFailuresTold_ = 0;
    // The user was told that images are not received (the port held, or its socket failed): the
    // tick that finds the server listening says so.
    bool listeningToTell_ = false;
    // The bound on DCMTK's parse is not in effect: the first tick says what is refused.
    bool unboundedParseToShow_ = false;
    // The send task the pump started whose done or failed message has not been handled yet; the
    // pump never starts it a second time.
    uint32_t taskInFlight_ = 0;
    // Lists the retrievals that left images in the download folder without completing, in this
    // run or an earlier one, and hands the import again the folders of retrievals that completed
    // while their import did not (read off the main thread).
    void findKeptRetrievals();
    std::thread keptScan_;
    // False once the service has stopped: what the scan finds then is not listed.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // By series folder name (the last component of the folder, with its "/"): the ready texts of
    // retrievals whose import has not ended yet, and imports that ended before their retrieval's
    // done message was handled (whether each listed every file).
    std::map<std::string, std::string> readyToSay_;
    std::map<std::string, bool> listedAhead_;
};
