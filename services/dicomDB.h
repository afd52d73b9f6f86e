// dicomDB: the local library database and the owner of the DICOM storage server.
//
// The library is the SQLite file "dicomDB" in the library folder (writable path + "qv/dicom/"),
// holding patients, studies, series and images that were received or imported, the favourites
// and the DICOM peers heard of. The network service owns the one instance.
//
// Every text value that comes from a file, a peer or the network is bound to a "?" placeholder,
// never written into the SQL text, so a patient name such as `A"); drop table patient; --` is
// stored as it is. Only IDs the program made itself appear inside statements.
//
// Ownership and the storage server: the network service (dataService) constructs the one
// instance, calls init() and reaches it from then on; stop() runs at shutdown before the release.
// open() starts the storage server (DICOM port 4587, title "tolvrane", root = the library
// folder). The server announces each stored file through the DICOM library's message callback
// (code 3), which the network service turns into notification 2017 (NOTIFY_DB_ADD_IMAGE,
// urgent, the DCM_MESSAGE as owned user data); dicomDB observes 2017 and indexes the image on its
// worker, then posts 2002 and 2001. The import (importDcm) posts the same 2017.
//
// Threads: the connection is shared by the worker (queries, writing received images, deletes,
// the reconcile) and the main thread (favourites, peers); every statement sequence holds dbMutex
// from its first query to its commit or rollback. The storage server's own threads never touch it.
// Deletes run on the worker so that they keep their place among the stores of the same series.
// dbMutex is never held while waiting: a write whose file another program holds (a backup, a
// second copy, a sqlite3 shell) waits for it with the lock let go, and the worker reads image
// files outside it. The main thread's per-tick peer lookup reads a copy of the peer rows and takes
// no lock of the database at all; its peer writes go to the worker when the file is held.
//
// Nothing waits on a held file and nothing is dropped for it: a stored image whose rows cannot be
// written because another program holds the file (or the library is not open) stays where it was
// stored and waits, in order and before anything stored after it, in the library's journal of
// waiting files (kWaitingRecord, beside the database), and whoever stored it is told only once its
// rows are written. Favourites and captures are written on the worker too, never on the main
// thread: they keep their time (their place in the favourites list, which shows them meanwhile)
// and wait in the same journal, and so does the removal of one. The library's look at its file
// (every second) writes what waits once the file is free; the next start writes what the journal
// still names, each entry exactly once. The journal, the favourites queue and their rules live in
// dicomDBWaiting.cpp.
//
// A library that cannot be written (a read-only mount, or a database file it may not write) lists
// what it holds: the file is opened for reading without touching its journal files, or as
// immutable where SQLite could not read it otherwise. Images received into a folder it can still
// write are kept and wait for the file to take them; nothing else is taken, and the user is told
// which of the two it is.
//
// The image files are the truth and the database their index. At start the file is opened on
// the main thread (reads only, which a write held by another program does not stop) and checked
// on the worker with a connection of its own (SQLite's quick check), while the lists already show
// what it holds; a damaged one is kept aside under another name (never deleted), said
// so in the log and once on screen, and the index is rebuilt from the files below the library
// folder, as it is for a fresh database beside existing files. A database that cannot be opened
// (a folder not writable yet, the file held) leaves the library not ready: the storage server
// goes on storing (the files are the durable queue, and the ".open" marker makes every later
// start look for files without rows), the library tries again every few seconds and at every
// stored image, and once it opens the files received meanwhile are listed. A library folder or
// database removed while open is made anew and indexed from the files found in it.
#pragma once

#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "NSThreadSafeDestroy.h"
#include "base/CCRef.h"
#include "dcmLib.h"
#include "dicomDBThread.h"
#include "neighborRecord.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the lookup found, and after a write the IDs of all four rows.
struct dicomDBRecordIds {
    int patientID = -1;
    int studyID = -1;
    int seriesID = -1;
    int imageID = -1;
    bool patientExists = false;
    bool studyExists = false;
    bool seriesExists = false;
    bool imageExists = false;
    // The time the write stamped on the patient row ("%d-%02d-%02d %02d:%02d:%02d", local).
    std::string now;
};

class dicomDB : public cocos2d::Ref, public NSUI::NSThreadSafeDestroy {
public:
    dicomDB();
    virtual ~dicomDB();
    dicomDB(const dicomDB&) = delete;
    dicomDB& operator=(const dicomDB&) = delete;

    // Opens the library (see open) and resets the favourite counter. Always true: a library that
    // does not open leaves the object not ready, and the storage server still runs.
    virtual bool init();
    // Stops the storage server; the library is no longer used afterwards. Safe to call twice.
    virtual void stop();

    bool isReady() const { return ready_.load(); }
    // The library folder, ending in "/" (also the storage server's root).
    const std::string& getLibraryFolder() const { return libraryFolder_; }
    std::string getDicomRoot() const;

    // Lookup of the four levels of a stored image. False when a query failed.
    bool findDicomRecord(const redIRI::DCM_MESSAGE& message, dicomDBRecordIds& ids);
    // Looks the image up and writes the rows it lacks in one immediate transaction: new patient,
    // study, series and image rows, or new times on the levels that existed. When the image is
    // already known nothing is written and ids.imageExists is set. False (rolled back) on any
    // failed statement or when the library is not ready.
    bool saveDicomRecord(const redIRI::DCM_MESSAGE& message, dicomDBRecordIds& ids);

    // instanceID and file of the series' images, by instance number.
    bool getSeriesImages(int seriesID, NSUI::NSDBDataModel& result);
    // Takes the database lock for as long as the worker holds it: never on the main thread.
    bool hasPatient(int patientID);

    // Delete the rows of a series (and of its study and patient when they are left empty), or of a
    // patient, and then the files of exactly the image rows removed, the series' cache and
    // thumbnails, and the folders left empty; nothing outside the library folder. They run on the
    // worker, in order with the stored images, and return when done (call them off the main thread
    // where a wait matters). False when nothing was deleted. A deleted series posts 2018 (see
    // postSeriesDeleted).
    bool deleteSeries(int seriesID);
    bool deletePatient(int patientID);
    // A favourite removed by the user, under the ID the list gave it: a row's ID, or the negative
    // key of one listed while it waited (written meanwhile or not). Its row goes (now, or once the
    // file takes the write, the journal keeping the removal meanwhile); one still waiting is never
    // written, even when the worker is writing it at that moment; a removal that waits is in the
    // library's journal (synced) before this returns. path: its file (as listed), which names an
    // older row exactly where the removal must wait. False when no such favourite is known.
    bool deleteFavorite(int favoriteID, const std::string& path = std::string());

    // True when folder lies strictly below the library folder (never the folder itself) and
    // names no "." or ".." component.
    bool isInsideLibrary(const std::string& folder) const;
    // Removes folder and everything below it when isInsideLibrary; false otherwise.
    bool removeLibraryFolder(const std::string& folder) const;

    // Favourites. image paths are stored relative to the framework's writable path. They are
    // written on the worker, stamped with the time of the call (their place in the list, which
    // shows them while they wait); once written, 1007 is posted with the path and the row's ID,
    // and the favourite counts and sounds. The first favourite of a run is preceded by a marker
    // row. Its entry is in the library's journal (synced) before this returns, whatever the worker
    // is doing. False when the library takes none (stopped, read-only, or a scale that is no
    // finite positive number: the user is told).
    bool addImageFavorite(const std::string& path, float scale);
    bool addDicomFavorite(const std::string& path, float scale);
    // max(column) of table as an integer, 0 for an empty table. table and column are the
    // program's own names, never outside input.
    int getMaxID(const std::string& table, const std::string& column);

    // Peers.
    void saveNeighbor(int device, const std::string& name, const std::string& ip, const std::string& port,
                      const std::string& appid);
    void updateNeighborWifi(const std::string& appid);
    // saveNeighbor for peers heard by discovery: gathered and written on the worker, many in one
    // transaction, and the table then cut to the kMaxNeighbors heard last.
    void queueNeighbor(int device, const std::string& name, const std::string& ip, const std::string& port,
                       const std::string& appid);
    static constexpr int kMaxNeighbors = 256;
    // Waits at most half a frame for the database lock (the main thread asks every tick), then
    // hands out the rows read last.
    void getNeighbors(std::vector<neighborRecord>& list);
    // Deletes the neighbor rows of these IDs (neighborRecord::id), in one transaction.
    void removeNeighbors(const std::vector<int>& ids);

    // Queries on the worker. Each answer comes back on the main thread through done, with the
    // rows (not kept by dicomDB), and only when there is at least one row and the listener has
    // not been cancelled. A request without a listener never calls done.
    void requestPatients(const dicomDBRequest::DoneFunction& done, void* listener);
    // Served before the older queued requests; nothing for an empty key.
    void requestStudies(const dicomDBRequest::DoneFunction& done, const std::string& patientKey, void* listener);
    void requestFavorites(const dicomDBRequest::DoneFunction& done, void* listener);
    // Clears the listener of every request that names it, wherever the request is; their results
    // are dropped unseen. For a screen's clean-up.
    void cancelRequests(void* listener);
    // Queues the indexing of a stored image (takes the record over). Posts 2002 and 2001 once it
    // is written. Also what notification 2017 does. stored, when given, is told on the worker
    // whether the rows were written (false at once when the image cannot be queued).
    void queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE> record,
                          std::function<void(bool)> stored = nullptr);

    // The library's own files at its top: the database (with its journal files) and the marker
    // that says the library is open. The marker is written when the library opens and removed by
    // a stop that wrote every stored image; found at open, it means the last run did not close
    // (or left images without rows), and the worker reconciles the library with its rows.
    static constexpr const char* kOpenMarker = ".open";
    // True while a reconcile (or the indexing of files it found) is queued or running.
    bool isReconciling() const { return reconcileWork_.load() > 0; }
    // The files the reconcile (or a rebuild) queued for indexing and how many are done; false when
    // none are queued.
    bool indexProgress(int& done, int& queued) const
    {
        queued = indexQueued_.load();
        done = indexDone_.load();
        return queued > 0;
    }
    // Queues a reconcile on the worker: every complete DICOM file below the library folder without
    // a row gets one, rows whose file is gone are removed (their patients get 2018), and leftovers
    // of writes that never finished (hidden temporary files of a process no longer running) are
    // deleted. Open at start when the marker was found, and after a row write failed once a later
    // one succeeds. Without checkRows only the files without rows are indexed (a fresh database
    // beside image files, a damaged one rebuilt).
    void queueReconcile(bool checkRows = true);
    // Queues checkLibrary on the worker unless one waits already. Every few seconds while the
    // library is open or trying to open.
    void queueLibraryCheck();
    // The journal of what waits for the database, beside it (its rules: dicomDBWaiting.cpp). Found
    // at open, what it names is written then, each entry once.
    static constexpr const char* kWaitingRecord = ".waiting";
    // [hook] Runs on the worker at the named moments of the journal's work ("favorites committed":
    // the rows are in the database, the journal not yet rewritten), so that a test can take the
    // library's files as a kill at that moment would leave them.
    void setJournalHookForTest(std::function<void(const char*)> hook) { journalHook_ = std::move(hook); }
    // Stored images and favourites waiting for the database (held by another program, or not open).
    int waitingCount() const { return waitingCount_.load(); }
    // True until the worker's check of the file at start has ended.
    bool isChecking() const { return checking_.load(); }
    // The library's file cannot be written (its folder or the file is read-only): it lists what it
    // holds; received images are kept and wait only where its folder can still be written.
    bool isReadOnly() const { return readOnly_.load(); }
    // Whether the read-only library's folder can be written (received images are kept there).
    bool canKeepWhileReadOnly() const { return folderWritable_.load(); }
    // The name a damaged database is kept under: "dicomDB.damaged-YYYYMMDD-HHMMSS" (a "-N" added
    // when taken), with its "-wal" and "-shm" files beside it. Empty when nothing was set aside.
    const std::string& keptAsideAs() const { return keptAside_; }

    // Worker side of a request, and its delivery on the main thread.
    void processRequest(dicomDBRequest* request);
    void onRequestDone(dicomDBRequest* request);

    // The request identifier: the folded FNV-1a hash of the key.
    static uint32_t requestId(const std::string& key);
    // "YYYYMMDD" as "YYYY.MM.DD"; other lengths unchanged.
    static std::string dottedDate(const std::string& date);

    int newFavoriteCount = 0;

    // The recursive database lock, shared with the worker. Held only while statements run (never
    // while waiting for the file or reading image files); a function that waits for the file
    // must be entered without it.
    std::recursive_mutex dbMutex;

    // Test hooks, before init: another library folder (ending in "/"), whether init starts the
    // storage server, and the port it listens on (tests pick a free one).
    void setLibraryFolderForTest(const std::string& folder) { libraryFolder_ = folder; }
    void setStartServerForTest(bool start) { startServer_ = start; }
    void setServerPortForTest(const std::string& port) { serverPort_ = port; }
    // Whether the storage server is listening now: it takes up a port freed after it started, and
    // opens its listening socket again when that fails, on its own.
    bool isServerRunning() const { return server_ && server_->isListening(); }
    // How many times the server's listening socket failed while it ran (dcmServer::getPortFailures).
    unsigned serverPortFailures() const { return server_ ? server_->getPortFailures() : 0; }
    // Whether the storage server was to listen and could not (its port is taken, most likely by
    // another copy of the program); the library has logged why. The library works on without it.
    bool serverStartFailed() const { return serverFailed_; }
    const std::string& serverPort() const { return serverPort_; }
    NSUI::NSDBUtil& connectionForTest() { return db_; }
    // The longest the main thread's peer lookups and writes waited for dbMutex, in nanoseconds.
    long long longestBriefWaitNsForTest() const { return longestBriefWaitNs_.load(); }

    // "%d-%02d-%02d %02d:%02d:%02d" of the current local time.
    static std::string currentTimeText();
    // A DICOM date (8+ characters) and time (6+ characters) in the form above; "" when shorter.
    static std::string dicomDateTimeText(const std::string& date, const std::string& time);

private:
    void open();
    // Opens the file, checks it and makes the tables it lacks; a damaged file is set aside first
    // and a fresh one made. False when the library cannot be used now (said once in the log and
    // on screen). Under dbMutex.
    // quickCheck: run SQLite's quick check too (the worker's reopen; at start the worker checks
    // afterwards with checkAtStart). A read-only file stays open for reading (isReadOnly).
    bool openChecked(bool quickCheck);
    enum class FileState { Healthy, Damaged, Unavailable, ReadOnly };
    FileState openAndCheck(std::string& problem, bool quickCheck);
    // Renames the database and its journal files aside; false when that failed.
    bool setAside();
    // True when the open database file is no longer the one at the library's path (the folder or
    // the file was removed while open).
    bool libraryVanished() const;
    // Whether the database file opens for writing now, as openAndCheck opens it.
    bool opensForWriting() const;
    // On the worker: a library not ready is opened again, one whose folder or file went away is
    // made anew; either way the files are then indexed again.
    void checkLibrary(bool periodic = false);
    // Under nothing, on the worker: the file opened; the library is ready, indexes what it lacks
    // and tells the screens.
    void opened();
    void writeMarker();
    void showOnce(std::atomic<bool>& shown, const char* text);
    // "begin IMMEDIATE" that waits for a file another program holds with lock let go (lock must
    // hold dbMutex once, not nested). Waits are counted: one log line when they start, one with
    // their number when the file is free again. False when not begun within the retries.
    bool beginWrite(std::unique_lock<std::recursive_mutex>& lock);
    // Whether the last write that failed (beginWrite, or a statement after it) failed because
    // another connection held the file. Read under dbMutex by the thread that wrote.
    bool failedBusy() const;
    // Takes dbMutex for the main thread, waiting at most half a frame; false when not taken.
    bool lockBriefly(std::unique_lock<std::recursive_mutex>& lock);
    // A small write of the main thread: run now when the lock and the file are free, otherwise on
    // the worker, which waits for them. write runs inside the transaction; false rolls it back.
    void writeSoon(const std::function<bool()>& write);
    // Reads the peer rows into the copy getNeighbors hands out. Under dbMutex.
    void refreshNeighbors();
    // Notes the open time, looks for the marker left by a run that did not close (and queues the
    // reconcile then), and writes the marker.
    void openMarker();
    // Opens the file and makes the tables it lacks; false when the library cannot be used.
    bool openLibrary();
    void startServer();
    bool lastInsertID(int& id);
    bool queryFirstInt(const std::string& sql, const std::vector<std::string>& values, int& value, bool& found);
    bool findLocked(const redIRI::DCM_MESSAGE& message, dicomDBRecordIds& ids);
    // saveDicomRecord, telling whether a failure came from another connection holding the file.
    bool saveRecord(const redIRI::DCM_MESSAGE& message, dicomDBRecordIds& ids, bool& busy);
    bool addFavorite(int type, const std::string& path, float scale);
    // Where a favourite not written yet stands (the journal's rule 8). Its entry is in the journal
    // from the moment it is made, whatever its state.
    enum class FavoriteState {
        Waiting,              // for the worker's next write
        Writing,              // taken by the worker's write now
        RemovedWhileWriting,  // removed by the user meanwhile: never announced, its removal waits
    };
    // A favourite not written yet. key: the negative ID the list shows it under meanwhile;
    // journalKey: its own key, written with its row (so a replay finds the row and writes none);
    // empty for one of an earlier version's journal, known by its type, image and time instead.
    struct PendingFavorite {
        int key = 0;
        std::string journalKey;
        int type = 0;
        std::string image, time, scale;
        // The path as handed in (for 1007).
        std::string path;
        FavoriteState state = FavoriteState::Waiting;
    };
    // A removal waiting for the file: its row is found by its key, or (a row of an earlier version)
    // by its ID and image, or (an earlier version's favourite not written yet) by its type, image
    // and time.
    struct FavoriteRemoval {
        std::string journalKey;
        int rowID = 0;
        std::string image;
        int type = 0;
        std::string time;
    };
    // A favourite written in this run, by the negative key the list may still show it under.
    struct WrittenFavorite {
        int rowID = 0;
        std::string journalKey, image;
    };
    // On the worker: writes the pending favourites and removals in order into one transaction, each
    // in a savepoint of its own, adding a row (type, ID, path, scale) to written for each favourite
    // written. A failure of the file or the disk leaves them all waiting; a value that cannot be
    // written refuses only its own favourite.
    void writeFavorites(NSUI::NSDBDataModel& written);
    void queueFavoriteWrite();
    // Removes a written favourite's row now when the lock and the file are free. False when it
    // must wait (then it goes into the journal and the favourites queue).
    bool removeFavoriteRowNow(const FavoriteRemoval& removal);
    // Inside a transaction: the row of a favourite (by key, or for a keyless one by type, image and
    // time), or of a removal. False when a statement failed.
    bool findFavoriteRow(const PendingFavorite& favorite, int& rowID, bool& found);
    bool deleteFavoriteRows(const FavoriteRemoval& removal);
    // On the main thread: 1007, the count and the sound of the favourites written.
    void onFavoritesWritten(NSUI::NSDBDataModel& rows);
    // Their journal entries (rule 1 of the journal).
    static std::string favoriteLine(const PendingFavorite& favorite);
    static std::string removalLine(const FavoriteRemoval& removal);
    // A stored image's request that cannot be written now: its record and teller wait, in order.
    void waitFor(dicomDBRequest* request);
    // On the worker, once the file takes a write: the waiting images go back to the queue, in order
    // and ahead of whatever is stored after them, and the pending favourites are written.
    void retryWaiting();
    // The journal: entries appended (lines, synced), or the whole rewritten from what still waits (or
    // removed when nothing does), through the one writer of files. Any thread; journalMutex_.
    void appendJournal(const std::string& lines);
    void rewriteJournal();
    void rewriteJournalLocked();
    // On the worker at open: what the journal names waits again, ahead of this run's.
    void readJournal();
    // A retried image was taken by the worker; once none is left and nothing waits, the journal is
    // rewritten.
    void retriedImageDone();
    void journalMoment(const char* moment)
    {
        if (journalHook_) journalHook_(moment);
    }
    // On the worker after open: the quick check with a connection of its own; a damaged file is
    // set aside and the library rebuilt.
    void checkAtStart();
    bool queue(dicomDBRequest* request, bool prioritize);
    // 1004 (a capture file) and 9105 (a favourite file; flag 100 marks DICOM) from the viewer.
    void onCaptureSaved(const std::string& path);
    void onFavoriteFile(const std::string& path, int flag, float scale);
    void favoriteStored();
    dicomDBRequest* makeRequest(uint32_t type, const std::string& key, const dicomDBRequest::DoneFunction& done,
                                void* listener);
    bool queryPatients(NSUI::NSDBDataModel& out);
    // Reads its rows under dbMutex, then the series' first files without it.
    bool queryStudies(const std::string& patientKey, NSUI::NSDBDataModel& out);
    void queryFavorites(NSUI::NSDBDataModel& out);
    void storeImage(dicomDBRequest* request);
    // When the image's series already has a row whose folder is not the one the file was stored
    // in (a library written before the folder rules changed), moves the file into the row's
    // folder and points the record there. False when the move failed.
    bool placeInSeriesFolder(redIRI::DCM_MESSAGE& m);
    // A file the reconcile found: its record, placed where it lies. False for anything that is no
    // DICOM object with a SOP Instance UID.
    bool readLibraryFile(const std::string& path, redIRI::DCM_MESSAGE& m);
    void reconcile(bool checkRows);
    // Runs work on the worker in order with the stores and waits for it (inline when the worker
    // has gone).
    void runOnWorker(const std::function<void()>& work);
    // patientGone: the series was its patient's last, and the patient's row went with it.
    bool deleteSeriesNow(int seriesID, int& patientID, bool& patientGone);
    // On the worker, right after a delete: 2018 with the patient's ID, and intValue 1 when the
    // patient has no row left.
    void postSeriesDeleted(const std::string& patientID, bool patientGone);
    bool deletePatientNow(int patientID);
    // Removes the files named (relative to the series folder), the series' cache and thumbnails,
    // and then the series, study and patient folders that are left empty.
    void removeSeriesFiles(const std::string& seriesPath, const std::vector<std::string>& files);
    // A store failed to write its rows (or succeeded after one did).
    void noteWriteResult(bool ok);
    // Appends to out the series row values read from the first image's file: Columns, Rows,
    // institution, modality, tube text and series number. For the series list (forSeriesList):
    // false when the file does not open or lacks Columns or Rows, and "Unknown Institution" and
    // "Unknown" for a missing institution and modality. For the row of a stored series: false
    // only when the file does not open; missing values are empty.
    bool appendImageInfo(const std::string& file, bool forSeriesList, NSUI::NSDBDataModel& out);
    // The number of images of a series and the file name of its first one ("" when none).
    bool seriesImageSummary(const std::string& seriesID, int& count, std::string& firstFile);

    // What appendImageInfo read from a file, and the file's size and modification time then (a
    // size of -1: not read yet).
    struct ImageInfo {
        long long size = -1;
        long long modified = 0, modifiedNs = 0;
        bool opened = false, hasSize = false, hasInstitution = false, hasModality = false;
        std::string columns, rows, institution, modality, tube, number;
    };
    // The files read lately, by path: images arriving for several series at once ask for the
    // first files of all of them in turn. Used by the worker under the database lock.
    std::map<std::string, ImageInfo> imageInfos_;

    NSUI::NSDBDataModel scratch_;
    int wantedVersion_ = 4;
    std::atomic<bool> ready_{false};
    // The database file's identity when it opened (libraryVanished compares).
    unsigned long long openedDevice_ = 0, openedInode_ = 0;
    // The database was fresh or made anew: every file in the folder needs its row.
    bool indexAll_ = false;
    std::string keptAside_;
    std::atomic<bool> checkQueued_{false};
    // What was said on screen, once each, until the library is well again.
    std::atomic<bool> unavailableShown_{false}, damagedShown_{false}, vanishedShown_{false};
    std::string lastProblem_;
    // Waits for a file another program holds, since the last begin that got it.
    std::atomic<int> busyWaits_{0};
    std::atomic<long long> longestBriefWaitNs_{0};
    // Files the reconcile queued for indexing and how many of them are done, for the progress lines.
    std::atomic<int> indexQueued_{0}, indexDone_{0};
    std::string libraryFolder_;
    NSUI::NSDBUtil db_;
    std::unique_ptr<redIRI::dcmServer> server_;
    bool startServer_ = true;
    bool serverFailed_ = false;
    std::string serverPort_ = "4587";
    std::atomic<bool> stopped_{false};
    long lastMarkerTime_ = 0;  // guarded by favoriteMutex_
    dicomDBThread* thread_ = nullptr;  // deletes itself after safeDestroy
    std::shared_ptr<dicomDBRequestRegistry> registry_ = std::make_shared<dicomDBRequestRegistry>();
    struct NeighborNote {
        int device;
        std::string name, ip, port, appid;
    };
    // Writes one peer row inside an open transaction.
    bool writeNeighbor(const NeighborNote& note, const std::string& now);
    void flushNeighbors();
    std::mutex neighborMutex_;
    std::mutex snapshotMutex_;
    std::vector<neighborRecord> neighborSnapshot_;  // guarded by snapshotMutex_
    std::vector<NeighborNote> pendingNeighbors_;  // guarded by neighborMutex_
    bool neighborFlushQueued_ = false;            // guarded by neighborMutex_

    // The marker's path, and whether it was found at open.
    std::string markerPath() const { return libraryFolder_ + kOpenMarker; }
    bool markerFound_ = false;
    // When the library opened: hidden temporary files older than this are leftovers.
    long long openedAtNs_ = 0;
    // A row write failed since the last complete reconcile; stop keeps the marker then.
    std::atomic<bool> writeFailed_{false};
    // A reconcile was cut short (by stop); stop keeps the marker then.
    std::atomic<bool> reconcileCut_{false};
    // Reconcile requests and the file requests they made, queued or running.
    std::atomic<int> reconcileWork_{0};
    // Set by stop before it waits: the reconcile's file requests are dropped from then on.
    std::atomic<bool> stopping_{false};
    // Stored images waiting for the database (worker only), and their number with the pending
    // favourites (any thread).
    struct WaitingImage {
        std::string path;  // below the library folder
        std::unique_ptr<redIRI::DCM_MESSAGE> record;
        std::function<void(bool)> stored;
    };
    std::vector<WaitingImage> waitingImages_;
    std::atomic<int> waitingCount_{0};
    std::atomic<bool> waitingSaid_{false};
    // Held across each append to the journal and each rewrite of it, so that no rewrite drops an
    // entry appended while it was being made; favoriteMutex_ may be taken under it, never the
    // other way round. The window takes it for its own small append, which is synced
    // anyway; it waits at most for one rewrite of this small file.
    std::mutex journalMutex_;
    std::mutex favoriteMutex_;
    std::vector<PendingFavorite> pendingFavorites_;  // guarded by favoriteMutex_
    std::vector<FavoriteRemoval> pendingRemovals_;   // guarded by favoriteMutex_
    std::map<int, WrittenFavorite> writtenFavorites_;  // guarded by favoriteMutex_
    int nextPendingKey_ = -1;                        // guarded by favoriteMutex_
    // Retried images queued ahead of what was stored after them and not yet taken (worker only).
    int retriedInQueue_ = 0;
    // Their files (below the library folder): a rewrite keeps their entries until the last of them
    // is taken (worker only).
    std::vector<std::string> retriedPaths_;
    std::function<void(const char*)> journalHook_;
    std::atomic<bool> favoriteWriteQueued_{false};
    std::atomic<bool> checking_{false}, readOnly_{false}, readOnlyShown_{false};
    // The read-only library's folder can be written; the file was opened as immutable.
    std::atomic<bool> folderWritable_{false};
    std::atomic<bool> asideFailedSaid_{false};
    bool readImmutable_ = false;
    bool lastFailureBusy_ = false;  // under dbMutex
    int checkTicks_ = 0;            // worker only
    std::atomic<bool> recordRead_{false};  // the journal of the last run was read
    // Stored images queued and not yet written; stop waits for them to reach the file.
    int pendingStores_ = 0;
    std::mutex pendingMutex_;
    std::condition_variable pendingDone_;
};
