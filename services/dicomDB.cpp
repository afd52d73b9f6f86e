#include "dicomDB.h"

#include "flatJsonText.h"
#include "NSStringUtil.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NetworkUtils.h"
#include "UIJson.h"
#include "audio/SimpleAudioEngine.h"
#include "renderer/CCImage.h"
#include "dicomDBSchema.h"
#include "diskWrite.h"
#include "isDcmRules.h"
#include "isDcmScan.h"
#include "messageView.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <set>
#include <thread>
#include <unordered_set>

namespace {

const char* const kServerTitle = "tolvrane";
const char* const kIndexFailedToast =
    "Received images could not be added to the library yet; they will be listed once it can be written";
const char* const kUnavailableToast =
    "The library cannot be opened; received images are kept and will be listed once it opens";
const char* const kDamagedToast =
    "The library's database was damaged: it was kept aside and the library is rebuilt from its image files";
const char* const kVanishedToast = "The library folder was removed; it was made anew from the images found in it";
// A library that cannot be written: on a read-only disk nothing new can be kept (the storage
// server refuses what it cannot write, saying why); with only its database read-only, received
// images are kept in its folder and wait.
const char* const kReadOnlyDiskToast =
    "The library's disk cannot be written: its images are listed; images sent to it or imported are refused";
const char* const kReadOnlyFileToast =
    "The library's database cannot be written: its images are listed; received images are kept and will be listed "
    "once it can be written, imports are refused";
const char* const kDamagedClosedToast =
    "The library's database is damaged and cannot be kept aside: the library stays closed; received images are kept";
// The check at start and its answer for a sound file.
const char* const kQuickCheck = "PRAGMA quick_check;";
const char* const kQuickCheckOk = "ok";
// How often the library looks at its file while it runs (removed, or free again for what waits),
// in seconds, and every how many looks one that cannot be opened is tried again.
const float kCheckSeconds = 1.0f;
const int kReopenTicks = 5;
const char* const kCheckKey = "dicomDB.check";
// How long the main thread's peer lookup waits for the worker's statement before it takes the
// rows read last: half a frame.
constexpr std::chrono::milliseconds kLookupWait{8};
// The two kinds of reconcile request: the whole check, or only files without rows (a fresh file).
const char* const kCheckRows = "reconcile";
const char* const kFilesOnly = "index";

std::string idText(int id) { return std::to_string(id); }

int currentLanguage()
{
    cocos2d::Application* app = cocos2d::Application::getInstance();
    return app ? static_cast<int>(app->getCurrentLanguage()) : 0;
}

} // namespace

dicomDB::dicomDB() = default;

dicomDB::~dicomDB() { stop(); }

std::string dicomDB::currentTimeText()
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    std::snprintf(text, sizeof(text), "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string dicomDB::dicomDateTimeText(const std::string& date, const std::string& time)
{
    if (date.size() < 8 || time.size() < 6) return std::string();
    return date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) + " " + time.substr(0, 2) + ":" +
           time.substr(2, 2) + ":" + time.substr(4, 2);
}

bool dicomDB::init()
{
    wantedVersion_ = dicomDBSchema::kVersion;
    stopped_ = false;
    if (!thread_) {
        thread_ = new dicomDBThread(this);
        thread_->callback = [this](NSUI::NSThreadRequest* r) { onRequestDone(static_cast<dicomDBRequest*>(r)); };
    }
    stopping_ = false;
    open();
    openMarker();
    // The check of the file, and what waited in the last run, come first on the worker.
    checking_ = true;
    dicomDBRequest* check = makeRequest(DB_REQUEST_RUN, "start", nullptr, nullptr);
    check->work = [this] { checkAtStart(); };
    if (!queue(check, true)) checking_ = false;
    cocos2d::Director::getInstance()->getScheduler()->schedule([this](float) { queueLibraryCheck(); }, this,
                                                               kCheckSeconds, false, kCheckKey);
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (!data || !data->userData) return;
            // The payload owns the record; take it over for the request.
            queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(static_cast<redIRI::DCM_MESSAGE*>(data->takeUserData())));
        },
        NSUI::NOTIFY_DB_ADD_IMAGE);
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (data && !data->text.empty()) onCaptureSaved(data->text);
        },
        NSUI::NOTIFY_CAPTURE_SAVED);
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (data && !data->text.empty()) onFavoriteFile(data->text, data->intValue, data->floatValue);
        },
        NSUI::NOTIFY_FAVORITE_ADD_FILE);
    newFavoriteCount = 0;
    lastMarkerTime_ = 0;
    return true;
}

void dicomDB::open()
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (libraryFolder_.empty()) {
        std::string writable = cocos2d::FileUtils::getInstance()->getWritablePath();
        libraryFolder_ = writable + "qv" + "/" + "dicom" + "/";
    }
    cocos2d::FileUtils::getInstance()->createDirectory(libraryFolder_);
    // Opened here, checked on the worker.
    ready_ = openChecked(false);
    if (ready_) refreshNeighbors();
    if (startServer_) startServer();
}

dicomDB::FileState dicomDB::openAndCheck(std::string& problem, bool quickCheck)
{
    auto state = [this, &problem](const char* what) {
        const int code = db_.getLastResult() & 0xff;
        problem = std::string(what) + ": " + sqlite3_errstr(db_.getLastResult());
        return code == SQLITE_CORRUPT || code == SQLITE_NOTADB ? FileState::Damaged : FileState::Unavailable;
    };
    const std::string file = libraryFolder_ + dicomDBSchema::kFileName;
    if (!db_.open(file)) return state("open");
    if (db_.isReadOnly()) {
        // SQLite reads a file in write-ahead-log mode it may not write only when its log and index
        // files are there and readable, or when it may make them; otherwise only when it is opened
        // as immutable (then it takes no locks and reads neither: on a read-only disk nothing
        // changes the file beneath it). A read-only connection made the first way never writes or
        // removes those files.
        folderWritable_ = ::access(libraryFolder_.c_str(), W_OK) == 0;
        problem = folderWritable_ ? "the file cannot be written" : "its folder cannot be written";
        NSUI::NSDBDataModel rows;
        readImmutable_ = false;
        if (!db_.openForReading(file, false) || !db_.query("select count() from sqlite_master", rows)) {
            readImmutable_ = true;
            if (!db_.openForReading(file, true) || !db_.query("select count() from sqlite_master", rows))
                return state("open for reading");
        }
        if (quickCheck) {
            if (!db_.query(kQuickCheck, rows)) return state("check");
            if (rows.getRowCount() != 1 || rows.getValue(0, 0) != kQuickCheckOk) {
                problem = rows.getRowCount() > 0 ? rows.getValue(0, 0) : std::string("the check found nothing");
                std::replace(problem.begin(), problem.end(), '\n', ' ');
                return FileState::Damaged;
            }
        }
        return FileState::ReadOnly;
    }
    if (!db_.execute(dicomDBSchema::kConnectionSetup)) return state("setup");
    if (!quickCheck) return FileState::Healthy;
    NSUI::NSDBDataModel rows;
    if (!db_.query(kQuickCheck, rows)) return state("check");
    if (rows.getRowCount() == 1 && rows.getValue(0, 0) == kQuickCheckOk) return FileState::Healthy;
    // The check's first finding, on one line.
    problem = rows.getRowCount() > 0 ? rows.getValue(rows.getRowCount() > 1 ? 1 : 0, 0) : std::string("the check found nothing");
    std::replace(problem.begin(), problem.end(), '\n', ' ');
    return FileState::Damaged;
}

bool dicomDB::setAside()
{
    const std::string file = libraryFolder_ + dicomDBSchema::kFileName;
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    std::string aside = file + ".damaged-" + stamp;
    struct stat info {};
    for (int n = 2; ::lstat(aside.c_str(), &info) == 0; ++n)
        aside = file + ".damaged-" + stamp + "-" + std::to_string(n);
    // Its write-ahead log belongs to it: kept beside it, never replayed into the fresh file. The
    // journal files go first; when one cannot be moved, whatever moved comes back and nothing is
    // set aside (nor deleted): the library stays as it is, not ready.
    std::vector<std::string> moved;
    auto undo = [&](const char* what) {
        // Said once while it lasts, not at every look at the file.
        if (!asideFailedSaid_.exchange(true))
            cocos2d::log("library: cannot keep the damaged database aside as \"%s\" (%s: %s); it is left as it is",
                         aside.c_str(), what, std::strerror(errno));
        for (const std::string& suffix : moved) std::rename((aside + suffix).c_str(), (file + suffix).c_str());
        return false;
    };
    for (const char* suffix : {"-wal", "-shm"}) {
        if (std::rename((file + suffix).c_str(), (aside + suffix).c_str()) == 0)
            moved.push_back(suffix);
        else if (errno != ENOENT)
            return undo(suffix);
    }
    if (std::rename(file.c_str(), aside.c_str()) != 0) return undo("the database");
    asideFailedSaid_ = false;
    keptAside_ = aside;
    return true;
}

bool dicomDB::openChecked(bool quickCheck)
{
    const std::string file = libraryFolder_ + dicomDBSchema::kFileName;
    struct stat info {};
    const bool existed = ::stat(file.c_str(), &info) == 0 && info.st_size > 0;
    std::string problem;
    FileState state = openAndCheck(problem, quickCheck);
    readOnly_ = state == FileState::ReadOnly;
    if (readOnly_) {
        // What it holds is listed; nothing is written into it.
        if (!readOnlyShown_.load())
            cocos2d::log("library: the database \"%s\" cannot be written (%s); it is read%s, its images are "
                         "listed; %s",
                         file.c_str(), problem.c_str(), readImmutable_ ? " as immutable" : " only",
                         folderWritable_ ? "received images are kept and listed once it can be written, imports are "
                                           "refused"
                                         : "images sent to it or imported are refused");
        showOnce(readOnlyShown_, folderWritable_ ? kReadOnlyFileToast : kReadOnlyDiskToast);
        if (::stat(file.c_str(), &info) == 0) {
            openedDevice_ = info.st_dev;
            openedInode_ = info.st_ino;
        }
        return true;
    }
    bool fresh = !existed;
    if (state == FileState::Damaged) {
        db_.close();
        if (::access(libraryFolder_.c_str(), W_OK) != 0 || !setAside()) {
            state = FileState::Unavailable;
        } else {
            cocos2d::log("library: the database is damaged (%s); kept aside as \"%s\", the index is rebuilt from the image files",
                         problem.c_str(), keptAside_.c_str());
            showOnce(damagedShown_, kDamagedToast);
            fresh = true;
            state = openAndCheck(problem, quickCheck);
        }
    }
    // A table is created only when the check said, without failing, that it is missing: a check
    // that failed (the file held by another connection past the busy timeout) must never lead to
    // dropping or recreating a table that holds rows.
    bool versionWasMissing = false;
    for (size_t i = 0; state == FileState::Healthy && i < std::size(dicomDBSchema::kTables); ++i) {
        const dicomDBSchema::Table& table = dicomDBSchema::kTables[i];
        const bool exists = db_.tableExists(table.name);
        if (db_.getLastResult() != 0) {
            problem = std::string("check of table '") + table.name + "': " + sqlite3_errstr(db_.getLastResult());
            state = FileState::Unavailable;
            break;
        }
        if (exists) continue;
        if (i == 0) versionWasMissing = true;
        if (!db_.execute(table.createSql)) debugLog("failed to create table '%s'.", table.name);
    }
    if (state != FileState::Healthy) {
        db_.close();
        // Said once while it lasts, not at every retry.
        if (!unavailableShown_.load() || problem != lastProblem_)
            cocos2d::log("library: the database \"%s\" cannot be opened (%s); received images are kept in the library "
                         "folder and listed once it opens",
                         file.c_str(), problem.c_str());
        lastProblem_ = problem;
        showOnce(unavailableShown_, kUnavailableToast);
        return false;
    }
    for (const char* index : dicomDBSchema::kIndexes) db_.execute(index);
    std::string wanted = idText(wantedVersion_);
    if (versionWasMissing) db_.execute("insert into version(version) values (" + wanted + ")");
    if (db_.query("select version from version", scratch_) && scratch_.getRowCount() > 0 &&
        std::atoi(scratch_.getValue(0, 0).c_str()) < wantedVersion_)
        db_.execute("update version set version=" + wanted);
    if (::stat(file.c_str(), &info) == 0) {
        openedDevice_ = info.st_dev;
        openedInode_ = info.st_ino;
    }
    // A fresh file beside image files (a first start, a file set aside or deleted) indexes them.
    indexAll_ = indexAll_ || fresh || versionWasMissing;
    if (unavailableShown_.exchange(false)) cocos2d::log("library: the database is open again");
    lastProblem_.clear();
    return true;
}

bool dicomDB::opensForWriting() const
{
    NSUI::NSDBUtil probe;
    return probe.open(libraryFolder_ + dicomDBSchema::kFileName) && !probe.isReadOnly();
}

bool dicomDB::libraryVanished() const
{
    struct stat info {};
    return ::stat((libraryFolder_ + dicomDBSchema::kFileName).c_str(), &info) != 0 ||
           static_cast<unsigned long long>(info.st_ino) != openedInode_ ||
           static_cast<unsigned long long>(info.st_dev) != openedDevice_;
}

void dicomDB::checkLibrary(bool periodic)
{
    {
        std::lock_guard<std::recursive_mutex> lock(dbMutex);
        if (stopped_) return;
        // The folder and the file are looked at every few seconds; what waits is tried every second.
        const bool look = !periodic || ++checkTicks_ % kReopenTicks == 0;
        // Judged as the open judged it: access(2) says yes to a file the open may not write (an
        // append-only file, or any file for root), and the library would turn read-only again at once.
        if (ready_ && readOnly_ && look && opensForWriting()) {
            // It can be written again: opened anew for writing, and what waited is written.
            cocos2d::log("library: the database can be written again");
            db_.close();
            ready_ = false;
            readOnlyShown_ = false;
        } else if (ready_) {
            if (!look || !libraryVanished()) {
                // What waits for a file another program held is written once it is free.
                bool removals = false;
                {
                    std::lock_guard<std::mutex> guard(favoriteMutex_);
                    removals = !pendingRemovals_.empty();
                }
                if (!readOnly_ && (waitingCount_.load() > 0 || removals) && !stopping_ && db_.tryBegin()) {
                    db_.rollback();
                    retryWaiting();
                }
                // Rows that could not be written while another program held the file: once it is
                // free the files get them, whether or not another image arrives.
                if (!readOnly_ && writeFailed_ && reconcileWork_.load() == 0 && db_.tryBegin()) {
                    db_.rollback();
                    writeFailed_ = false;
                    queueReconcile();
                }
                return;
            }
            // The connection still writes to the removed file: whatever went there is lost with
            // it, but the images stored since lie in the folder the storage server made anew.
            cocos2d::log("library: the library folder or its database was removed while open; it is made anew and "
                         "indexed from the files found in it");
            showOnce(vanishedShown_, kVanishedToast);
            db_.close();
            ready_ = false;
        } else if (!look) {
            // A library that cannot be opened is tried every few seconds, not at every look.
            return;
        }
    }
    // Opened without the lock, which the main thread may want meanwhile: opening (and making a
    // fresh file) writes and syncs, and while the library is not ready nothing else uses the
    // connection.
    cocos2d::FileUtils::getInstance()->createDirectory(libraryFolder_);
    if (!openChecked(true)) return;
    opened();
}

void dicomDB::opened()
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    ready_ = true;
    vanishedShown_ = false;
    writeMarker();
    refreshNeighbors();
    // Images may have been stored while the library could not be written. A fresh file has no
    // rows to check; an old one reopened gets the whole reconcile when the last run did not close.
    const bool fresh = indexAll_;
    indexAll_ = false;
    // A read-only library writes no row: nothing would come of a walk of its files.
    if (!readOnly_) queueReconcile(!fresh && markerFound_);
    if (!recordRead_) readJournal();
    if (!readOnly_ && !stopping_) retryWaiting();
    // What the screens show of the library is from before: they load it again.
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(this, NSUI::NOTIFY_DB_LIBRARY_RELOADED, "");
}

void dicomDB::checkAtStart()
{
    const std::string file = libraryFolder_ + dicomDBSchema::kFileName;
    // What waited in the last run is found before anything of this run waits.
    if (!recordRead_) readJournal();
    std::string problem;
    bool damaged = false;
    if (ready_ && !stopping_) {
        // A connection of its own: the check reads the whole file (seconds, for a large library)
        // and holds no lock the main thread or the stores wait for. A read-only library's is opened
        // as its own was.
        NSUI::NSDBUtil check;
        NSUI::NSDBDataModel rows;
        const bool opened = readOnly_ ? check.openForReading(file, readImmutable_) : check.open(file);
        if (opened && check.query(kQuickCheck, rows)) {
            if (rows.getRowCount() != 1 || rows.getValue(0, 0) != kQuickCheckOk) {
                damaged = true;
                problem = rows.getRowCount() > 0 ? rows.getValue(rows.getRowCount() > 1 ? 1 : 0, 0) : std::string("the check found nothing");
                std::replace(problem.begin(), problem.end(), '\n', ' ');
            }
        } else {
            const int code = check.getLastResult() & 0xff;
            damaged = code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
            problem = std::string("check: ") + sqlite3_errstr(check.getLastResult());
        }
        check.close();
    }
    if (damaged) {
        {
            std::lock_guard<std::recursive_mutex> lock(dbMutex);
            db_.close();
            ready_ = false;
        }
        if ((!readOnly_ || folderWritable_) && setAside()) {
            cocos2d::log("library: the database is damaged (%s); kept aside as \"%s\", the index is rebuilt from the image files",
                         problem.c_str(), keptAside_.c_str());
            showOnce(damagedShown_, kDamagedToast);
            indexAll_ = true;
            if (openChecked(false)) opened();
        } else {
            // Never used as if sound: the library stays closed, as the look at it every few
            // seconds leaves a damaged file it cannot set aside (received images are kept and
            // listed once it opens).
            cocos2d::log("library: the database is damaged (%s) and cannot be kept aside; the library stays closed",
                         problem.c_str());
            showOnce(damagedShown_, kDamagedClosedToast);
            unavailableShown_ = true;
        }
    }
    if (ready_ && !readOnly_ && !stopping_) retryWaiting();
    checking_ = false;
}

void dicomDB::queueLibraryCheck()
{
    if (stopping_ || stopped_ || checkQueued_.exchange(true)) return;
    dicomDBRequest* request = makeRequest(DB_REQUEST_RUN, "check", nullptr, nullptr);
    request->work = [this] {
        checkQueued_ = false;
        checkLibrary(true);
    };
    if (!queue(request, false)) checkQueued_ = false;
}

namespace {

// Shows text once a scene runs: at start the library opens before the first scene, and a toast
// without one is lost. Tries for about ten seconds of frames.
void showWhenShown(const char* text, int frames)
{
    cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread([text, frames] {
        if (!cocos2d::Director::getInstance()->getRunningScene() && frames > 0)
            showWhenShown(text, frames - 1);
        else
            NSUI::messageView::showMessage(text, 5.0f);
    });
}

} // namespace

void dicomDB::showOnce(std::atomic<bool>& shown, const char* text)
{
    if (shown.exchange(true)) return;
    showWhenShown(text, 600);
}

bool dicomDB::beginWrite(std::unique_lock<std::recursive_mutex>& lock)
{
    const int attempts = db_.beginAttempts();
    const unsigned int delayMs = db_.beginDelayMs();
    for (int attempt = 1;; ++attempt) {
        if (!ready_) return false;
        if (db_.tryBegin()) {
            if (const int waits = busyWaits_.exchange(0))
                cocos2d::log("library: the database is free again after %d waits for another program", waits);
            return true;
        }
        const int code = db_.getLastResult() & 0xff;
        lastFailureBusy_ = code == SQLITE_BUSY || code == SQLITE_LOCKED;
        if (!lastFailureBusy_ || attempt >= attempts) {
            debugLog("failed to begin a write of the library.");
            return false;
        }
        // The first wait of a stretch is said; the others are counted into the line that ends it.
        if (busyWaits_.fetch_add(1) == 0)
            cocos2d::log("library: the database is held by another program; writes wait for it");
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        lock.lock();
    }
}

bool dicomDB::failedBusy() const
{
    const int code = db_.getLastResult() & 0xff;
    return lastFailureBusy_ || code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

bool dicomDB::lockBriefly(std::unique_lock<std::recursive_mutex>& lock)
{
    const auto start = std::chrono::steady_clock::now();
    // Polled rather than a timed lock, which the thread checker cannot follow.
    lock = std::unique_lock<std::recursive_mutex>(dbMutex, std::try_to_lock);
    while (!lock.owns_lock() && std::chrono::steady_clock::now() - start < kLookupWait) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        lock.try_lock();
    }
    const long long waited =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    long long longest = longestBriefWaitNs_.load();
    while (waited > longest && !longestBriefWaitNs_.compare_exchange_weak(longest, waited)) {
    }
    return lock.owns_lock();
}

void dicomDB::writeSoon(const std::function<bool()>& write)
{
    // Without the lock the connection is not looked at: the worker may be reopening it.
    {
        std::unique_lock<std::recursive_mutex> lock;
        if (lockBriefly(lock)) {
            // Read under the lock: the worker reopens the library with it let go while not ready.
            if (!ready_) return;
            if (db_.tryBegin()) {
                if (write() && db_.commit())
                    refreshNeighbors();
                else
                    db_.rollback();
                return;
            }
            const int code = db_.getLastResult() & 0xff;
            if (code != SQLITE_BUSY && code != SQLITE_LOCKED) return;
        }
    }
    // The file held by another program, or the connection by the worker: the worker writes it
    // in turn, and waits for the file if need be, not the window.
    dicomDBRequest* request = makeRequest(DB_REQUEST_RUN, "write", nullptr, nullptr);
    request->work = [this, write] {
        std::unique_lock<std::recursive_mutex> lock(dbMutex);
        if (!beginWrite(lock)) return;
        if (write() && db_.commit())
            refreshNeighbors();
        else
            db_.rollback();
    };
    queue(request, false);
}

void dicomDB::startServer()
{
    std::string host, addresses, masks;
    getLocalNetworkInfo(host, addresses, masks);
    std::string list;
    std::vector<std::string> parts;
    splitString(addresses, ",", parts);
    for (const std::string& part : parts)
        if (!part.empty()) list += part + ",";
    server_ = std::make_unique<redIRI::dcmServer>();
    server_->setLanguage(currentLanguage());
    server_->setPort(list.c_str(), serverPort_.c_str(), kServerTitle);
    server_->setRoot(libraryFolder_.c_str());
    // When the port is held, the server keeps trying it and listens once it is freed.
    serverFailed_ = !server_->BeginDicomServer();
}

void dicomDB::openMarker()
{
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    openedAtNs_ = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    struct stat info {};
    markerFound_ = ::stat(markerPath().c_str(), &info) == 0;
    writeFailed_ = false;
    reconcileCut_ = false;
    // Written even when the database did not open: the images stored meanwhile are then found by
    // the next start that opens it, should this run end first.
    if (!markerFound_) writeMarker();
    // The last run did not close (what it stored may lack rows, rows may name files it never
    // finished), or the database is fresh beside image files. A clean start walks nothing.
    // A fresh file in a folder that holds no patient folder has nothing to index (a first start).
    if (indexAll_ && !markerFound_) {
        std::error_code error;
        bool patients = false;
        for (const auto& entry : std::filesystem::directory_iterator(libraryFolder_, error))
            patients = patients || (entry.is_directory(error) && entry.path().filename().string()[0] != '.');
        indexAll_ = patients;
    }
    if (ready_ && !readOnly_ && (markerFound_ || indexAll_)) {
        queueReconcile(markerFound_ && !indexAll_);
        indexAll_ = false;
    }
}

void dicomDB::writeMarker()
{
    struct stat info {};
    if (::stat(markerPath().c_str(), &info) == 0) return;
    // Through the one writer, so that a disk too full for it is counted and told like any other.
    if (!disk::writeWholeFile(markerPath(), "", 0))
        cocos2d::log("library: cannot write \"%s\": %s", markerPath().c_str(), disk::reasonText(errno).c_str());
}

void dicomDB::stop()
{
    if (stopped_ || stopping_) return;
    stopping_ = true;
    cocos2d::Director::getInstance()->getScheduler()->unschedule(kCheckKey, this);
    // No new image arrives while the last ones are written.
    if (server_) {
        server_->StopDicomServer();
        server_.reset();
    }
    // Every image the server (or an import) stored was announced by a 2017 that may still wait in
    // the notification queue: the peer was told "stored", so it gets its row before stop returns.
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance()) {
        for (NSUI::NSNotificationData* data : centre->takePendingData(this, NSUI::NOTIFY_DB_ADD_IMAGE)) {
            if (data && data->userData)
                queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(static_cast<redIRI::DCM_MESSAGE*>(data->takeUserData())));
            if (data) data->release();
        }
        // A capture or favourite written just before quit was announced too: its file is whole on
        // disk, so it gets its row now rather than being left out of the list for good.
        for (unsigned int id : {NSUI::NOTIFY_CAPTURE_SAVED, NSUI::NOTIFY_FAVORITE_ADD_FILE}) {
            for (NSUI::NSNotificationData* data : centre->takePendingData(this, id)) {
                if (data && !data->text.empty()) {
                    if (id == NSUI::NOTIFY_CAPTURE_SAVED)
                        onCaptureSaved(data->text);
                    else
                        onFavoriteFile(data->text, data->intValue, data->floatValue);
                }
                if (data) data->release();
            }
        }
    }
    if (thread_) {
        // Images already stored on disk get their rows before the worker goes; queued queries
        // and the reconcile's remaining files are dropped with the worker.
        {
            std::unique_lock<std::mutex> lock(pendingMutex_);
            pendingDone_.wait(lock, [this] { return pendingStores_ == 0; });
        }
        // And the favourites: written now, or (the file held) left in the waiting record for the
        // next start.
        bool favorites = false;
        {
            std::lock_guard<std::mutex> lock(favoriteMutex_);
            favorites = !pendingFavorites_.empty() || !pendingRemovals_.empty();
        }
        if (favorites) runOnWorker([this] {
            NSUI::NSDBDataModel written;
            writeFavorites(written);
        });
        stopped_ = true;
        safeDestroy(thread_);
        thread_ = nullptr;
    }
    stopped_ = true;
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance()) centre->removeObserver(this);
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    // A clean close: every stored image has its row. Otherwise the marker stays for the next start.
    if (ready_ && !writeFailed_ && !reconcileCut_ && reconcileWork_.load() == 0 && waitingCount_.load() == 0)
        std::remove(markerPath().c_str());
    ready_ = false;  // the connection itself closes with this object
}

std::string dicomDB::getDicomRoot() const { return server_ ? std::string(server_->getRoot()) : libraryFolder_; }

bool dicomDB::queryFirstInt(const std::string& sql, const std::vector<std::string>& values, int& value, bool& found)
{
    NSUI::NSDBDataModel model;
    found = false;
    if (!db_.query(sql, values, model)) return false;
    if (model.getRowCount() > 0) {
        found = true;
        value = std::atoi(model.getValue(0, 0).c_str());
    }
    return true;
}

bool dicomDB::lastInsertID(int& id)
{
    bool found = false;
    return queryFirstInt("select last_insert_rowid()", {}, id, found) && found;
}

bool dicomDB::findLocked(const redIRI::DCM_MESSAGE& m, dicomDBRecordIds& ids)
{
    ids = dicomDBRecordIds();
    bool ok = queryFirstInt("select ID,updateTime from patient where name=? and patientIDHospital=?",
                            {m.PatientName, m.PatientID}, ids.patientID, ids.patientExists);
    if (ok && ids.patientExists)
        ok = queryFirstInt("select ID from study where studyUID=? and patientID=" + idText(ids.patientID),
                           {m.StudyInstanceUID}, ids.studyID, ids.studyExists);
    if (ok && ids.studyExists)
        ok = queryFirstInt("select ID from series where seriesUID=? and studyID=" + idText(ids.studyID),
                           {m.SeriesInstanceUID}, ids.seriesID, ids.seriesExists);
    if (ok && ids.seriesExists)
        ok = queryFirstInt("select ID from image where imageUID=? and seriesID=" + idText(ids.seriesID),
                           {m.SOPInstanceUID}, ids.imageID, ids.imageExists);
    if (!ok) debugLog("failed to search DB.");
    return ok;
}

bool dicomDB::findDicomRecord(const redIRI::DCM_MESSAGE& message, dicomDBRecordIds& ids)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    return findLocked(message, ids);
}

bool dicomDB::saveDicomRecord(const redIRI::DCM_MESSAGE& m, dicomDBRecordIds& ids)
{
    bool busy = false;
    return saveRecord(m, ids, busy);
}

bool dicomDB::saveRecord(const redIRI::DCM_MESSAGE& m, dicomDBRecordIds& ids, bool& busy)
{
    std::unique_lock<std::recursive_mutex> lock(dbMutex);
    lastFailureBusy_ = false;
    busy = false;
    if (!ready_) return false;
    // The lookup runs inside the write transaction: another connection to the file (a second copy
    // of the program) cannot add the same rows between the lookup and the inserts.
    if (!beginWrite(lock)) {
        busy = failedBusy();
        return false;
    }
    if (!findLocked(m, ids)) {
        busy = failedBusy();
        db_.rollback();
        return false;
    }
    if (ids.imageExists) {
        db_.rollback();
        return true;
    }

    const std::string now = currentTimeText();
    std::string studyTime = dicomDateTimeText(m.StudyDate, m.StudyTime);
    if (studyTime.empty()) studyTime = now;
    std::string seriesTime = dicomDateTimeText(m.SeriesDate, m.SeriesTime);
    if (seriesTime.empty()) seriesTime = now;

    auto fail = [this, &busy](const char* message) {
        debugLog("%s", message);
        busy = failedBusy();
        db_.rollback();
        return false;
    };

    if (!ids.patientExists) {
        if (!db_.execute("insert into patient(name,patientIDHospital,birthday,sex,updateTime) values (?,?,?,?,?)",
                         {m.PatientName, m.PatientID, m.PatientBirthDate, m.PatientSex, now}))
            return fail("failed to insert record into patient.");
        bool found = false;
        if (!queryFirstInt("select ID,updateTime from patient where name=? and patientIDHospital=?",
                           {m.PatientName, m.PatientID}, ids.patientID, found) || !found)
            return fail("failed to search DB.");
    } else if (!db_.execute("update patient set updateTime=? where ID=" + idText(ids.patientID), {now})) {
        return fail("failed to insert record into patient.");
    }

    if (!ids.studyExists) {
        if (!db_.execute("insert into study(patientID,studyUID,studyIDHospital,studyDesc,date,time,updateTime) "
                         "values (" + idText(ids.patientID) + ",?,?,?,?,?,?)",
                         {m.StudyInstanceUID, m.StudyID, m.StudyDescription, m.StudyDate, m.StudyTime, studyTime}) ||
            !lastInsertID(ids.studyID))
            return fail("failed to insert record into study.");
    } else if (!db_.execute("update study set updateTime=? where ID=" + idText(ids.studyID), {studyTime})) {
        return fail("failed to insert record into study.");
    }

    if (!ids.seriesExists) {
        if (!db_.execute("insert into series(studyID,seriesUID,date,time,studyDesc,seriesDesc,updateTime,path) "
                         "values (" + idText(ids.studyID) + ",?,?,?,?,?,?,?)",
                         {m.SeriesInstanceUID, m.SeriesDate, m.SeriesTime, m.StudyDescription, m.SeriesDescription,
                          seriesTime, m.SeriesFolder}) ||
            !lastInsertID(ids.seriesID))
            return fail("failed to insert record into series.");
    } else if (!db_.execute("update series set updateTime=? where ID=" + idText(ids.seriesID), {seriesTime})) {
        return fail("failed to insert record into series.");
    }

    if (!db_.execute("insert into image(seriesID,imageUID,instanceID,file) values (" + idText(ids.seriesID) +
                     ",?,?,?)",
                     {m.SOPInstanceUID, m.InstanceNumber, m.FileName}) ||
        !lastInsertID(ids.imageID))
        return fail("failed to insert record into image.");

    if (!db_.commit()) return fail("failed to insert record into image.");
    ids.now = now;
    return true;
}

bool dicomDB::getSeriesImages(int seriesID, NSUI::NSDBDataModel& result)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    bool ok = db_.query("select instanceID,file from image where image.seriesID=" + idText(seriesID) +
                            " order by CAST(instanceID as UNSIGNED), ID",
                        result);
    if (!ok) debugLog("failed to search DB.");
    return ok;
}

bool dicomDB::hasPatient(int patientID)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    int id = 0;
    bool found = false;
    return queryFirstInt("select id from patient where id=" + idText(patientID), {}, id, found) && found;
}

bool dicomDB::deleteSeries(int seriesID)
{
    bool deleted = false;
    runOnWorker([&] {
        int patientID = 0;
        bool patientGone = false;
        deleted = deleteSeriesNow(seriesID, patientID, patientGone);
        // Posted here, in order with the stores: a patient stored again after the delete is
        // announced after it, and the window needs no look at the database to tell.
        if (deleted) postSeriesDeleted(idText(patientID), patientGone);
    });
    return deleted;
}

void dicomDB::postSeriesDeleted(const std::string& patientID, bool patientGone)
{
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->text = patientID;
    data->intValue = patientGone ? 1 : 0;
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_DB_SERIES_DELETED, data);
}

bool dicomDB::deletePatient(int patientID)
{
    bool deleted = false;
    runOnWorker([&] { deleted = deletePatientNow(patientID); });
    return deleted;
}

bool dicomDB::deleteSeriesNow(int seriesID, int& patientID, bool& patientGone)
{
    std::string path;
    std::vector<std::string> files;
    {
        std::unique_lock<std::recursive_mutex> lock(dbMutex);
        if (!ready_ || !beginWrite(lock)) return false;
        NSUI::NSDBDataModel model;
        auto fail = [this]() {
            db_.rollback();
            return false;
        };
        if (!db_.query("select studyID,path from series where id=" + idText(seriesID), model) ||
            model.getRowCount() == 0)
            return fail();
        const int studyID = std::atoi(model.getValue(0, 0).c_str());
        path = model.getValue(0, 1);
        if (!db_.query("select file from image where seriesID=" + idText(seriesID), model)) return fail();
        for (int r = 0; r < model.getRowCount(); ++r) files.push_back(model.getValue(r, 0));
        int any = 0;
        bool found = false;
        if (!queryFirstInt("select patientID from study where id=" + idText(studyID), {}, patientID, found))
            return fail();
        if (!db_.execute("delete from image where seriesID=" + idText(seriesID)) ||
            !db_.execute("delete from series where id=" + idText(seriesID)))
            return fail();
        if (!queryFirstInt("select id from series where studyID=" + idText(studyID), {}, any, found)) return fail();
        if (!found) {
            if (!db_.execute("delete from study where id=" + idText(studyID))) return fail();
            if (!queryFirstInt("select id from study where patientID=" + idText(patientID), {}, any, found))
                return fail();
            patientGone = !found;
            if (!found && !db_.execute("delete from patient where id=" + idText(patientID))) return fail();
        }
        if (!db_.commit()) return fail();
    }
    removeSeriesFiles(path, files);
    return true;
}

bool dicomDB::deletePatientNow(int patientID)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> removed;  // series folder, its files
    {
        std::unique_lock<std::recursive_mutex> lock(dbMutex);
        if (!ready_ || !beginWrite(lock)) return false;
        auto fail = [this]() {
            db_.rollback();
            return false;
        };
        NSUI::NSDBDataModel studies, series, images;
        if (!db_.query("select id from study where patientID=" + idText(patientID), studies)) return fail();
        for (int s = 0; s < studies.getRowCount(); ++s) {
            const std::string studyID = idText(std::atoi(studies.getValue(s, 0).c_str()));
            if (!db_.query("select id,path from series where studyID=" + studyID, series)) return fail();
            for (int r = 0; r < series.getRowCount(); ++r) {
                const std::string seriesID = idText(std::atoi(series.getValue(r, 0).c_str()));
                if (!db_.query("select file from image where seriesID=" + seriesID, images)) return fail();
                removed.emplace_back(series.getValue(r, 1), std::vector<std::string>());
                for (int i = 0; i < images.getRowCount(); ++i) removed.back().second.push_back(images.getValue(i, 0));
                if (!db_.execute("delete from image where seriesID=" + seriesID)) return fail();
            }
            if (!db_.execute("delete from series where studyID=" + studyID)) return fail();
        }
        int any = 0;
        bool found = false;
        if (!queryFirstInt("select id from patient where id=" + idText(patientID), {}, any, found)) return fail();
        if (!found) return fail();
        if (!db_.execute("delete from study where patientID=" + idText(patientID)) ||
            !db_.execute("delete from patient where id=" + idText(patientID)) || !db_.commit())
            return fail();
    }
    for (const auto& series : removed) removeSeriesFiles(series.first, series.second);
    return true;
}

namespace {

// "a/b/" from "a/b" or "a/b/"; "" stays "".
std::string withSlash(const std::string& folder)
{
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

// Repeated "/" read as one, so that paths from rows and from the disk compare equal.
std::string collapsedSlashes(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out.push_back(c);
    return out;
}

constexpr int kThumbnailCount = 6;

} // namespace

void dicomDB::removeSeriesFiles(const std::string& seriesPath, const std::vector<std::string>& files)
{
    const std::string folder = collapsedSlashes(libraryFolder_ + withSlash(seriesPath));
    if (seriesPath.empty() || !isInsideLibrary(folder)) return;
    for (const std::string& file : files) {
        if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..") continue;
        ::unlink((folder + file).c_str());
    }
    for (int i = 0; i < kThumbnailCount; ++i) ::unlink((folder + isImageSDK::kThumbnailFilePrefix + idText(i)).c_str());
    isImageSDK::isDcmScan::removeBufferFiles(folder);
    // The series, study and patient folders go when nothing else is left in them (another patient's
    // or series' files keep them).
    std::string dir = folder;
    for (int level = 0; level < 3 && isInsideLibrary(dir); ++level) {
        while (!dir.empty() && dir.back() == '/') dir.pop_back();
        if (::rmdir(dir.c_str()) != 0) break;
        dir = getParentDirectory(dir) + "/";
    }
}

bool dicomDB::isInsideLibrary(const std::string& folder) const
{
    if (libraryFolder_.empty() || folder.size() <= libraryFolder_.size() ||
        folder.compare(0, libraryFolder_.size(), libraryFolder_) != 0)
        return false;
    std::vector<std::string> parts;
    splitString(folder.substr(libraryFolder_.size()), "/", parts);
    bool named = false;
    for (const std::string& part : parts) {
        if (part == "." || part == ".." || part.find('\\') != std::string::npos) return false;
        if (!part.empty()) named = true;
    }
    return named;
}

bool dicomDB::removeLibraryFolder(const std::string& folder) const
{
    if (!isInsideLibrary(folder)) return false;
    return cocos2d::FileUtils::getInstance()->removeDirectory(folder);
}

int dicomDB::getMaxID(const std::string& table, const std::string& column)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return 0;
    int value = 0;
    bool found = false;
    if (!queryFirstInt("select max(" + column + ") from " + table, {}, value, found)) return 0;
    return value;
}

bool dicomDB::writeNeighbor(const NeighborNote& n, const std::string& now)
{
    int id = 0;
    bool found = false;
    bool ok = queryFirstInt("select ID from neighbor where appid=?", {n.appid}, id, found);
    if (ok && !found)
        ok = db_.execute("insert into neighbor(device,name,lastTime,saveType,ip,port,appid,wifi) values (" +
                             idText(n.device) + ",?,\"\",3,?,?,?,?)",
                         {n.name, n.ip, n.port, n.appid, now});
    else if (ok)
        ok = db_.execute("update neighbor set device=" + idText(n.device) + ",name=?,wifi=?,port=?,ip=?  where ID=" +
                             idText(id),
                         {n.name, now, n.port, n.ip});
    return ok;
}

void dicomDB::saveNeighbor(int device, const std::string& name, const std::string& ip, const std::string& port,
                           const std::string& appid)
{
    const NeighborNote note{device, name, ip, port, appid};
    writeSoon([this, note] { return writeNeighbor(note, currentTimeText()); });
}

void dicomDB::queueNeighbor(int device, const std::string& name, const std::string& ip, const std::string& port,
                            const std::string& appid)
{
    if (!ready_) return;
    {
        std::lock_guard<std::mutex> lock(neighborMutex_);
        pendingNeighbors_.push_back({device, name, ip, port, appid});
        if (neighborFlushQueued_) return;
        neighborFlushQueued_ = true;
    }
    dicomDBRequest* request = makeRequest(DB_REQUEST_RUN, "neighbors", nullptr, nullptr);
    request->work = [this] { flushNeighbors(); };
    if (!queue(request, false)) {
        std::lock_guard<std::mutex> lock(neighborMutex_);
        pendingNeighbors_.clear();
        neighborFlushQueued_ = false;
    }
}

void dicomDB::flushNeighbors()
{
    std::vector<NeighborNote> notes;
    {
        std::lock_guard<std::mutex> lock(neighborMutex_);
        notes.swap(pendingNeighbors_);
        neighborFlushQueued_ = false;
    }
    std::unique_lock<std::recursive_mutex> lock(dbMutex);
    if (notes.empty() || !ready_ || !beginWrite(lock)) return;
    const std::string now = currentTimeText();
    bool ok = true;
    for (const NeighborNote& note : notes) ok = ok && writeNeighbor(note, now);
    // The peers heard last stay; the first row (ID) breaks ties of one second.
    ok = ok && db_.execute("delete from neighbor where ID in (select ID from neighbor order by wifi desc, ID desc "
                           "limit -1 offset " + idText(kMaxNeighbors) + ")");
    if (ok && db_.commit())
        refreshNeighbors();
    else
        db_.rollback();
}

void dicomDB::updateNeighborWifi(const std::string& appid)
{
    writeSoon([this, appid] {
        int id = 0;
        bool found = false;
        return queryFirstInt("select ID from neighbor where appid=?", {appid}, id, found) && found &&
               db_.execute("update neighbor set wifi=?  where ID=" + idText(id), {currentTimeText()});
    });
}

void dicomDB::getNeighbors(std::vector<neighborRecord>& list)
{
    if (!ready_) return;
    {
        // Read afresh when the connection is free; while the worker uses it, the rows read last
        // do (they change only by the writes of this object, each of which refreshes them).
        std::unique_lock<std::recursive_mutex> database;
        if (lockBriefly(database) && ready_) refreshNeighbors();
    }
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    list.insert(list.end(), neighborSnapshot_.begin(), neighborSnapshot_.end());
}

void dicomDB::refreshNeighbors()
{
    std::vector<neighborRecord> list;
    NSUI::NSDBDataModel model;
    if (!db_.query("select device,name,lastTime,saveType,ip,ID,wifi,appid,port from neighbor "
                   "order by lastTime desc, ID asc",
                   model))
        return;
    for (int r = 0; r < model.getRowCount(); ++r) {
        neighborRecord n;
        n.device = std::atoi(model.getValue(r, 0).c_str());
        n.name = model.getValue(r, 1);
        n.lastTime = model.getValue(r, 2);
        n.saveType = std::atoi(model.getValue(r, 3).c_str());
        n.ip = model.getValue(r, 4);
        n.id = std::atoi(model.getValue(r, 5).c_str());
        n.wifi = model.getValue(r, 6);
        n.appid = model.getValue(r, 7);
        n.port = model.getValue(r, 8);
        list.push_back(n);
    }
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    neighborSnapshot_.swap(list);
}

void dicomDB::removeNeighbors(const std::vector<int>& ids)
{
    if (ids.empty()) return;
    writeSoon([this, ids] {
        bool ok = true;
        for (int id : ids) ok = ok && db_.execute("delete from neighbor where ID=" + idText(id));
        return ok;
    });
}

// ---- Requests -----------------------------------------------------------------------------------

uint32_t dicomDB::requestId(const std::string& key) { return foldedHash32(key); }

std::string dicomDB::dottedDate(const std::string& date)
{
    if (date.size() != 8) return date;
    return date.substr(0, 4) + "." + date.substr(4, 2) + "." + date.substr(6, 2);
}

dicomDBRequest* dicomDB::makeRequest(uint32_t type, const std::string& key, const dicomDBRequest::DoneFunction& done,
                                     void* listener)
{
    auto* request = new dicomDBRequest(registry_);
    request->type = type;
    request->text = key;
    request->id = requestId(key);
    request->done = done;
    request->listener = listener;
    return request;
}

bool dicomDB::queue(dicomDBRequest* request, bool prioritize)
{
    const bool store = request->type == DB_REQUEST_STORE_IMAGE;
    const bool reconciling = request->type == DB_REQUEST_STORE_FILE || request->type == DB_REQUEST_RECONCILE;
    if (store) {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        ++pendingStores_;
    }
    if (reconciling) ++reconcileWork_;
    if (!thread_ || stopped_ || !thread_->addRequest(request)) {
        if (store) {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            --pendingStores_;
        }
        if (reconciling) {
            --reconcileWork_;
            reconcileCut_ = true;
        }
        request->release();
        return false;
    }
    const uint32_t id = request->id;
    request->release();  // the worker holds its own references now
    if (prioritize) thread_->prioritizeRequest(id);
    return true;
}

void dicomDB::queueReconcile(bool checkRows)
{
    if (!ready_) return;
    queue(makeRequest(DB_REQUEST_RECONCILE, checkRows ? kCheckRows : kFilesOnly, nullptr, nullptr), false);
}

void dicomDB::runOnWorker(const std::function<void()>& work)
{
    struct Done {
        std::mutex mutex;
        std::condition_variable signal;
        bool finished = false;
    };
    auto done = std::make_shared<Done>();
    dicomDBRequest* request = makeRequest(DB_REQUEST_RUN, "run", nullptr, nullptr);
    request->work = [work, done] {
        work();
        std::lock_guard<std::mutex> lock(done->mutex);
        done->finished = true;
        done->signal.notify_all();
    };
    if (!queue(request, false)) {
        work();  // takes the lock itself
        return;
    }
    std::unique_lock<std::mutex> lock(done->mutex);
    done->signal.wait(lock, [&] { return done->finished; });
}

void dicomDB::requestPatients(const dicomDBRequest::DoneFunction& done, void* listener)
{
    if (!ready_) return;
    queue(makeRequest(DB_REQUEST_PATIENTS, "db", done, listener), false);
}

void dicomDB::requestStudies(const dicomDBRequest::DoneFunction& done, const std::string& patientKey, void* listener)
{
    if (patientKey.empty() || !ready_) return;
    queue(makeRequest(DB_REQUEST_STUDIES, patientKey, done, listener), true);
}

void dicomDB::requestFavorites(const dicomDBRequest::DoneFunction& done, void* listener)
{
    if (!ready_) return;
    queue(makeRequest(DB_REQUEST_FAVORITES, "favorite", done, listener), false);
}

void dicomDB::queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE> record, std::function<void(bool)> stored)
{
    // Queued even while the library is not ready: the worker tries to open it first.
    if (!record) {
        if (stored) stored(false);
        return;
    }
    dicomDBRequest* request = makeRequest(DB_REQUEST_STORE_IMAGE, record->SeriesFolder, nullptr, nullptr);
    request->record = std::move(record);
    request->stored = std::move(stored);
    queue(request, false);
}

void dicomDB::cancelRequests(void* listener)
{
    if (!listener) return;
    std::lock_guard<std::mutex> lock(registry_->mutex);
    for (dicomDBRequest* request : registry_->live)
        if (request->listener == listener) request->listener = nullptr;
}

void dicomDB::processRequest(dicomDBRequest* request)
{
    request->result = std::make_unique<NSUI::NSDBDataModel>();
    // These take the lock only while they use the database: a reconcile walks the disk meanwhile.
    switch (request->type) {
    case DB_REQUEST_RUN:
        if (request->work) request->work();
        return;
    case DB_REQUEST_RECONCILE:
        if (!stopping_) reconcile(request->text == kCheckRows);
        else reconcileCut_ = true;
        --reconcileWork_;
        return;
    case DB_REQUEST_STORE_FILE: {
        auto record = std::make_unique<redIRI::DCM_MESSAGE>();
        const std::string path = request->text;
        request->text.clear();
        if (stopping_) {
            reconcileCut_ = true;
        } else if (ready_ && readLibraryFile(path, *record)) {
            // From here it is a stored image, announced as one.
            request->record = std::move(record);
            request->type = DB_REQUEST_STORE_IMAGE;
            storeImage(request);
        }
        if (request->retried) {
            request->retried = false;
            retriedImageDone();
        }
        // Progress of a long indexing (a rebuild): a line at every tenth and at the end.
        const int done = ++indexDone_, queued = indexQueued_.load();
        if (queued >= 20 && (done == queued || done % (queued / 10) == 0))
            cocos2d::log("library: indexing the files found: %d of %d", done, queued);
        if (done >= queued) indexDone_ = indexQueued_ = 0;
        --reconcileWork_;
        return;
    }
    case DB_REQUEST_STORE_IMAGE: {
        request->text.clear();
        if (request->record) storeImage(request);
        std::lock_guard<std::mutex> pending(pendingMutex_);
        --pendingStores_;
        pendingDone_.notify_all();
        return;
    }
    case DB_REQUEST_STUDIES:
        if (ready_ && !queryStudies(request->text, *request->result)) request->result->clear();
        return;
    default:
        break;
    }
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    switch (request->type) {
    case DB_REQUEST_FAVORITES:
        if (ready_) queryFavorites(*request->result);
        break;
    case DB_REQUEST_PATIENTS:
        if (ready_ && !queryPatients(*request->result)) request->result->clear();
        break;
    default:
        break;
    }
}

bool dicomDB::queryPatients(NSUI::NSDBDataModel& out)
{
    NSUI::NSDBDataModel patients, series, counter;
    // The newest image row these counts include: stored-image notices of images up to it were
    // posted before this query ran, and the list must not count them twice.
    if (!db_.query("select ifnull(max(ID),0) from image", counter)) return false;
    const std::string newestImage = counter.getValue(0, 0);
    if (!db_.query("select ID,patientIDHospital,name,birthday,sex from patient order by updateTime desc, ID desc", patients))
        return false;
    for (int p = 0; p < patients.getRowCount(); ++p) {
        const std::string id = idText(std::atoi(patients.getValue(p, 0).c_str()));
        if (!db_.query("select series.updateTime,series.studyDesc,path from patient,study,series where "
                       "patient.ID=study.patientID and study.ID=series.studyID and patient.ID=" + id +
                           " order by series.updateTime, series.ID",
                       series))
            return false;
        if (series.getRowCount() == 0) continue;
        for (int c = 0; c < 5; ++c) out.addValue(patients.getValue(p, c));
        for (int c = 0; c < 3; ++c) out.addValue(series.getValue(0, c));
        const char* counts[] = {
            "select count() from patient,study where patient.ID=study.patientID and patient.ID=",
            "select count() from patient,study,series where patient.ID=study.patientID and "
            "study.ID=series.studyID and patient.ID=",
            "select count() from patient,study,series,image where patient.ID=study.patientID and "
            "study.ID=series.studyID and image.seriesID=series.ID and patient.ID=",
        };
        for (const char* sql : counts) {
            if (!db_.query(sql + id, counter)) return false;
            out.addValue(counter.getValue(0, 0));
        }
        out.addValue(newestImage);
        out.endRow();
    }
    return true;
}

bool dicomDB::appendImageInfo(const std::string& file, bool forSeriesList, NSUI::NSDBDataModel& out)
{
    // Every image stored into a series asks for the same first file: it is read once while it
    // stays the same file.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return false;
    const size_t kRemembered = 64;
    if (imageInfos_.size() >= kRemembered && !imageInfos_.count(file)) imageInfos_.clear();
    ImageInfo& cached = imageInfos_[file];
    if (cached.size != info.st_size || cached.modified != info.st_mtim.tv_sec ||
        cached.modifiedNs != info.st_mtim.tv_nsec) {
        cached = ImageInfo();
        redIRI::dcmReader reader;
        reader.setLanguage(currentLanguage());
        if (reader.setFile(file.c_str())) {
            char buffer[1024];
            auto tag = [&](unsigned short group, unsigned short element, std::string& value) {
                buffer[0] = '\0';
                if (!reader.readDicomTagString(group, element, buffer, sizeof(buffer))) return false;
                value = buffer;
                return true;
            };
            cached.opened = true;
            const bool hasColumns = tag(0x0028, 0x0011, cached.columns);
            cached.hasSize = tag(0x0028, 0x0010, cached.rows) && hasColumns;
            cached.hasInstitution = tag(0x0008, 0x0080, cached.institution);
            cached.hasModality = tag(0x0008, 0x0060, cached.modality);
            if (cached.modality == "CT") {
                std::string kvp, current;
                tag(0x0018, 0x0060, kvp);
                tag(0x0018, 0x1151, current);
                // Only the values the file holds: no bare "kV" or "mA" for a missing one.
                if (!kvp.empty()) cached.tube = kvp + "kV";
                if (!current.empty()) cached.tube += (cached.tube.empty() ? "" : " ") + current + "mA";
            }
            tag(0x0020, 0x0011, cached.number);
        }
        cached.size = info.st_size;
        cached.modified = info.st_mtim.tv_sec;
        cached.modifiedNs = info.st_mtim.tv_nsec;
    }
    // A series list row needs the image size; the row of a stored series only a file that opens.
    if (!cached.opened || (forSeriesList && !cached.hasSize)) return false;
    out.addValue(cached.columns);
    out.addValue(cached.rows);
    out.addValue(cached.hasInstitution || !forSeriesList ? cached.institution : "Unknown Institution");
    out.addValue(cached.hasModality || !forSeriesList ? cached.modality : "Unknown");
    out.addValue(cached.tube);
    out.addValue(cached.number);
    return true;
}

bool dicomDB::seriesImageSummary(const std::string& seriesID, int& count, std::string& firstFile)
{
    NSUI::NSDBDataModel model;
    if (!db_.query("select count() from image where seriesID=" + seriesID, model)) return false;
    count = std::atoi(model.getValue(0, 0).c_str());
    firstFile.clear();
    if (count == 0) return true;
    if (!db_.query("select file from image where seriesID=" + seriesID + " order by ID limit 1", model)) return false;
    firstFile = model.getValue(0, 0);
    return true;
}

bool dicomDB::queryStudies(const std::string& patientKey, NSUI::NSDBDataModel& out)
{
    // The rows in list order; a series row also names its first file, read after the lock is let go.
    struct Row {
        std::vector<std::string> values;
        std::string firstFile;
    };
    std::vector<Row> rows;
    {
        std::lock_guard<std::recursive_mutex> lock(dbMutex);
        NSUI::NSDBDataModel studies, series;
        if (!ready_ || !db_.query("select ID,patientID,studyIDHospital,date,time,studyDesc from study where patientID=? "
                                  "order by updateTime desc, ID desc",
                                  {patientKey}, studies))
            return false;
        for (int s = 0; s < studies.getRowCount(); ++s) {
            rows.push_back({{"study", studies.getValue(s, 0), studies.getValue(s, 1), studies.getValue(s, 2),
                             dottedDate(studies.getValue(s, 3)), studies.getValue(s, 5)},
                            std::string()});
            const std::string studyID = idText(std::atoi(studies.getValue(s, 0).c_str()));
            if (!db_.query("select series.ID,series.seriesUID,series.date,series.time,seriesDesc,path from study,series "
                           "where study.ID=series.studyID and study.ID=" + studyID + " order by series.ID",
                           series))
                return false;
            for (int r = 0; r < series.getRowCount(); ++r) {
                const std::string seriesID = idText(std::atoi(series.getValue(r, 0).c_str()));
                int imageCount = 0;
                std::string firstFile;
                if (!seriesImageSummary(seriesID, imageCount, firstFile)) return false;
                if (imageCount == 0) continue;
                rows.push_back({{series.getValue(r, 0), patientKey,
                                 dottedDate(series.getValue(r, 2)) + " " + series.getValue(r, 3),
                                 series.getValue(r, 4), series.getValue(r, 5), idText(imageCount)},
                                libraryFolder_ + series.getValue(r, 5) + "/" + firstFile});
            }
        }
    }
    for (const Row& row : rows) {
        NSUI::NSDBDataModel line;
        for (const std::string& value : row.values) line.addValue(value);
        if (!row.firstFile.empty() && !appendImageInfo(row.firstFile, true, line)) continue;
        line.endRow();
        for (int c = 0; c < line.getColumnCount(0); ++c) out.addValue(line.getValue(0, c));
        out.endRow();
    }
    return true;
}

void dicomDB::noteWriteResult(bool ok)
{
    if (!ok) {
        if (!writeFailed_.exchange(true)) {
            cocos2d::log("library: an image could not be indexed; the library will be checked again");
            // The peer was told the image is stored: the user learns that it is not listed yet.
            cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread(
                [] { NSUI::messageView::showMessage(kIndexFailedToast, 5.0f); });
        }
        return;
    }
    // The cause has gone (space freed, the file released): the files that missed their rows get
    // them now, and the marker keeps them safe should the program end first.
    if (writeFailed_.exchange(false)) queueReconcile();
}

bool dicomDB::placeInSeriesFolder(redIRI::DCM_MESSAGE& m)
{
    dicomDBRecordIds ids;
    if (!findLocked(m, ids) || !ids.seriesExists) return true;
    NSUI::NSDBDataModel model;
    if (!db_.query("select path from series where ID=" + idText(ids.seriesID), model) || model.getRowCount() == 0)
        return true;
    const std::string rowFolder = withSlash(model.getValue(0, 0));
    const std::string fileFolder = withSlash(m.SeriesFolder);
    if (rowFolder.empty() || collapsedSlashes(rowFolder) == collapsedSlashes(fileFolder)) return true;
    const std::string from = libraryFolder_ + fileFolder + m.FileName;
    const std::string to = libraryFolder_ + rowFolder + m.FileName;
    if (!isInsideLibrary(to) || !isInsideLibrary(from)) return true;
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        cocos2d::log("library: cannot move \"%s\" into its series folder \"%s\"", from.c_str(), rowFolder.c_str());
        return false;
    }
    std::string dir = libraryFolder_ + fileFolder;
    for (int level = 0; level < 3 && isInsideLibrary(dir); ++level) {
        while (!dir.empty() && dir.back() == '/') dir.pop_back();
        if (::rmdir(dir.c_str()) != 0) break;
        dir = getParentDirectory(dir) + "/";
    }
    isImageSDK::copyTextField(m.SeriesFolder, sizeof(m.SeriesFolder), rowFolder.c_str());
    return true;
}

void dicomDB::storeImage(dicomDBRequest* request)
{
    // A library that could not be opened is tried again, one removed is made anew, and images
    // waiting for a file that is free again are queued anew.
    checkLibrary();
    // One that waited: once it is written (or waits again), the journal may lose its entry.
    struct RetriedDone {
        dicomDB* library;
        bool retried;
        ~RetriedDone()
        {
            if (retried) library->retriedImageDone();
        }
    } retriedDone{this, std::exchange(request->retried, false)};
    if (!retriedDone.retried && ready_ && retriedInQueue_ > 0 && request->record) {
        // Images that waited were given back to the queue ahead of this one: it goes behind them.
        dicomDBRequest* again = makeRequest(DB_REQUEST_STORE_IMAGE, request->record->SeriesFolder, nullptr, nullptr);
        again->record = std::move(request->record);
        again->stored = std::exchange(request->stored, nullptr);
        queue(again, false);
        return;
    }
    if (ready_ && readOnly_ && request->stored) {
        // An import into a library that cannot be written is refused (its file stays where it
        // was); only what a peer was told is stored waits for the file.
        std::exchange(request->stored, nullptr)(false);
        return;
    }
    if (!ready_ || readOnly_ || !waitingImages_.empty()) {
        // A stored file stays where it was put and waits (behind the others that wait, in order):
        // the journal, and the marker, make the next start list it should this run not get there
        // first. Whoever stored it hears nothing until its rows are written.
        writeMarker();
        waitFor(request);
        return;
    }
    redIRI::DCM_MESSAGE& m = *request->record;
    dicomDBRecordIds ids;
    bool placed = false;
    {
        std::lock_guard<std::recursive_mutex> lock(dbMutex);
        placed = placeInSeriesFolder(m);
    }
    // Waits for a file held by another program without the lock; a file held longer waits in the
    // record instead of being given up.
    bool busy = false;
    const bool saved = placed && saveRecord(m, ids, busy);
    if (!saved && busy) {
        waitFor(request);
        return;
    }
    noteWriteResult(saved);
    // The journal loses what was written before whoever stored it hears so.
    if (std::exchange(retriedDone.retried, false)) retriedImageDone();
    if (request->stored) std::exchange(request->stored, nullptr)(saved);
    if (!saved || ids.imageExists) return;

    std::string json;
    auto set = [&json](const char* key, const std::string& value) { NSUI::UIJson::setString(json, key, value); };
    set("patientID", idText(ids.patientID));
    set("studyID", idText(ids.studyID));
    set("seriesID", idText(ids.seriesID));
    set("studyIDHospital", flatJsonSafe(m.StudyID));
    set("patientIDHospital", flatJsonSafe(m.PatientID));
    set("name", flatJsonSafe(m.PatientName));
    set("sex", flatJsonSafe(m.PatientSex));
    set("birthday", flatJsonSafe(m.PatientBirthDate));
    set("updateTime", ids.now);
    set("studyDate", flatJsonSafe(dottedDate(m.StudyDate)));
    set("studyDesc", flatJsonSafe(m.StudyDescription));
    set("studyNumber", ids.studyExists ? "0" : "1");
    set("seriesNumber", ids.seriesExists ? "0" : "1");
    set("imageNumber", ids.imageExists ? "0" : "1");
    set("imageID", idText(ids.imageID));
    set("dcmFolder", m.SeriesFolder);
    request->text = json;

    NSUI::NSDBDataModel series;
    const std::string seriesID = idText(ids.seriesID);
    int imageCount = 0;
    std::string firstFile;
    {
        std::lock_guard<std::recursive_mutex> lock(dbMutex);
        if (!ready_ ||
            !db_.query("select series.ID,series.seriesUID,series.date,series.time,seriesDesc,path from series where "
                       "series.ID=" + seriesID,
                       series) ||
            series.getRowCount() == 0 || !seriesImageSummary(seriesID, imageCount, firstFile))
            return;
    }
    NSUI::NSDBDataModel& out = *request->result;
    out.addValue(series.getValue(0, 0));
    out.addValue(dottedDate(series.getValue(0, 2)) + " " + series.getValue(0, 3));
    out.addValue(series.getValue(0, 4));
    out.addValue(series.getValue(0, 5));
    out.addValue(idText(imageCount));
    if (imageCount > 0) appendImageInfo(libraryFolder_ + series.getValue(0, 5) + "/" + firstFile, false, out);
    out.endRow();
}

// ---- Reconcile ----------------------------------------------------------------------------------

namespace {

// The process id a temporary name carries ("<prefix><pid>-<n>"), 0 when it carries none.
long pidInName(const std::string& name, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    if (name.compare(0, length, prefix) != 0) return 0;
    return std::strtol(name.c_str() + length, nullptr, 10);
}

// A temporary file of an unfinished write: made before this run opened the library, by a process
// that is no longer running (or, for names without a process id, simply before this run).
bool isLeftover(const std::string& path, const std::string& name, long long openedAtNs)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const long long modified = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    if (modified >= openedAtNs) return false;
    long pid = pidInName(name, ".incoming-");
    if (!pid) pid = pidInName(name, "import-");
    if (pid > 0 && pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) return false;
    return true;
}

} // namespace

bool dicomDB::readLibraryFile(const std::string& path, redIRI::DCM_MESSAGE& m)
{
    redIRI::dcmReadTag reader;
    reader.setLanguage(currentLanguage());
    if (!reader.setFile(path.c_str())) return false;
    std::string uid = reader.getTag(0x0008, 0x0018);
    trim(uid);
    if (uid.empty() || !reader.getDicomMessage(m)) return false;
    // Indexed where it lies, under its own name.
    const size_t slash = path.find_last_of('/');
    const std::string folder = path.substr(0, slash + 1);
    if (!isInsideLibrary(folder)) return false;
    isImageSDK::copyTextField(m.FileName, sizeof(m.FileName), path.substr(slash + 1).c_str());
    isImageSDK::copyTextField(m.SeriesFolder, sizeof(m.SeriesFolder), folder.substr(libraryFolder_.size()).c_str());
    return true;
}

void dicomDB::reconcile(bool checkRows)
{
    namespace fs = std::filesystem;
    // The rows, read at once; the disk is checked without the lock, so the main thread's few uses
    // of the library never wait for the walk.
    NSUI::NSDBDataModel rows;
    {
        std::lock_guard<std::recursive_mutex> lock(dbMutex);
        if (!ready_ || !db_.query("select image.ID,series.path,image.file,study.patientID from image,series,study "
                                  "where image.seriesID=series.ID and series.studyID=study.ID",
                                  rows))
            return;
    }
    const std::string root = collapsedSlashes(libraryFolder_);
    std::unordered_set<std::string> indexed;
    indexed.reserve(static_cast<size_t>(rows.getRowCount()) * 2);
    std::vector<std::string> gone;
    std::set<std::string> touchedPatients;
    for (int r = 0; r < rows.getRowCount(); ++r) {
        const std::string path = collapsedSlashes(root + withSlash(rows.getValue(r, 1)) + rows.getValue(r, 2));
        struct stat info {};
        // Without checkRows the rows are fresh, written from files just stored: a file not there
        // yet is never taken for one gone.
        if (!checkRows || ::stat(path.c_str(), &info) == 0 || errno != ENOENT) {
            indexed.insert(path);
            continue;
        }
        gone.push_back(idText(std::atoi(rows.getValue(r, 0).c_str())));
        touchedPatients.insert(idText(std::atoi(rows.getValue(r, 3).c_str())));
    }
    rows.clear();

    if (!gone.empty()) {
        std::unique_lock<std::recursive_mutex> lock(dbMutex);
        bool ok = ready_ && beginWrite(lock);
        for (size_t i = 0; ok && i < gone.size(); i += 200) {
            std::string list;
            for (size_t j = i; j < gone.size() && j < i + 200; ++j) list += (list.empty() ? "" : ",") + gone[j];
            ok = db_.execute("delete from image where ID in (" + list + ")");
        }
        // Levels left without anything below them go too.
        ok = ok && db_.execute("delete from series where not exists (select 1 from image where image.seriesID=series.ID)") &&
             db_.execute("delete from study where not exists (select 1 from series where series.studyID=study.ID)") &&
             db_.execute("delete from patient where not exists (select 1 from study where study.patientID=patient.ID)") &&
             db_.commit();
        if (!ok) {
            db_.rollback();
            writeFailed_ = true;
            return;
        }
        cocos2d::log("library: %d rows whose files are gone were removed", static_cast<int>(gone.size()));
        for (const std::string& patient : touchedPatients)
            postSeriesDeleted(patient, !hasPatient(std::atoi(patient.c_str())));
    }

    // Files without rows, and leftovers of writes that never finished.
    std::error_code error;
    int unindexed = 0, leftovers = 0;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (stopping_) {
            reconcileCut_ = true;
            return;
        }
        const std::string name = it->path().filename().string();
        const std::string path = it->path().string();
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            // Hidden folders hold temporary files only (".incoming/").
            if (name[0] == '.') {
                it.disable_recursion_pending();
                std::error_code inner;
                for (const auto& entry : fs::directory_iterator(path, inner))
                    if (isLeftover(entry.path().string(), entry.path().filename().string(), openedAtNs_) &&
                        ::unlink(entry.path().c_str()) == 0)
                        ++leftovers;
            }
            continue;
        }
        if (!it->is_regular_file(typeError)) continue;
        if (name[0] == '.') {
            if (name.compare(0, 10, ".incoming-") == 0 && isLeftover(path, name, openedAtNs_) && ::unlink(path.c_str()) == 0)
                ++leftovers;
            continue;
        }
        if (it.depth() == 0 && name.compare(0, std::strlen(dicomDBSchema::kFileName), dicomDBSchema::kFileName) == 0)
            continue;
        if (isImageSDK::isThumbnailFileName(name)) continue;
        // Images lie three folders down (patient/study/series).
        if (it.depth() != 3 || indexed.count(path)) continue;
        dicomDBRequest* request = makeRequest(DB_REQUEST_STORE_FILE, path, nullptr, nullptr);
        if (queue(request, false)) {
            ++unindexed;
            ++indexQueued_;
        }
    }
    if (unindexed || leftovers)
        cocos2d::log("library: %d files without rows queued for indexing, %d unfinished files removed", unindexed,
                     leftovers);
}

void dicomDB::onRequestDone(dicomDBRequest* request)
{
    void* listener = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry_->mutex);
        listener = request->listener;
    }
    if (request->cancelled.load()) return;  // the request drops its result
    if (request->type != DB_REQUEST_STORE_IMAGE) {
        if (listener && request->done && request->result && request->result->getRowCount() > 0)
            request->done(request->result.get());
        return;
    }
    if (request->text.empty()) return;
    const std::string folder = NSUI::UIJson::getString(request->text, "dcmFolder");
    if (!folder.empty() && isInsideLibrary(libraryFolder_ + folder)) {
        // The series changed: its cache and its thumbnails are stale.
        isImageSDK::isDcmScan::removeBufferFiles(libraryFolder_ + folder);
        for (int i = 0; i < 6; ++i)
            cocos2d::FileUtils::getInstance()->removeFile(libraryFolder_ + folder + isImageSDK::kThumbnailFilePrefix + std::to_string(i));
    }
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->postStringNotification(this, NSUI::NOTIFY_DB_PATIENT_STORED, request->text);
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->text = request->text;
    data->setUserData(request->result.release(), [](void* p) { delete static_cast<NSUI::NSDBDataModel*>(p); });
    centre->postNotification(this, NSUI::NOTIFY_DB_STUDY_STORED, data);
}
