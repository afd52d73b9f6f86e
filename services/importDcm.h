// importDcm: copies DICOM files that the user hands in (one file or a whole folder) into the
// library folder, in the storage server's layout, and announces each copied file as the storage
// server announces a received one: notification 2017 (NOTIFY_DB_ADD_IMAGE, urgent) with a
// DCM_MESSAGE as the payload's owned user data, on which the library database writes its rows.
//
// The copying runs on its own worker (importThread), one request per file, in the order they were
// handed in. Files the DICOM reader does not accept, empty or unreadable files, objects without a
// SOP Instance UID and files that cannot be written are skipped (counted: finished less copied),
// each with one log line that says why (for a failed write, the system's reason); those skipped
// because the disk has no room are counted apart. A copy is not begun when it would leave the disk
// less than 8 MiB, which the library's index keeps to grow into. An import never reads the program's own
// folders: the library and the data folder that holds it.
//
// With an indexer (the library database's queueStoredImage), a file counts as finished only once
// its rows are written, and as copied only when they were: an import that reports N files copied
// has N files listed. A file whose rows the database cannot take now (another program holds it,
// or it is not open) stays in the library and waits there, the import still busy with it, until
// they are written. A file whose rows are refused for good is taken out of the library again
// (when the import placed it there new), so nothing it leaves is unlisted.
//
// Where a file lands: <root><patient>/<study>/<series>/<name>, the folder from
// dcmServer::getDicomFolder (every component made safe, so no value from the file can place it
// outside the root), the name being the SOP Instance UID when it is a plain UID and the source
// file's own name otherwise. A file is written under a temporary name in <root>.incoming/ and
// renamed into place, so a file at its final path is always complete, even when the program is
// killed during an import; the same instance imported again replaces its file and adds no row.
//
// Use (main thread): importDcm::create(), setRoot(library folder), importFolder(path) as often as
// needed; the progress counters may be read at any time from any thread. stop() (also run by the
// destructor) ends the worker: files not copied yet are dropped, their sources stay untouched.
#pragma once

#include "NSObject.h"
#include "NSThread.h"
#include "NSThreadSafeDestroy.h"
#include "dcmLib.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class importThread : public NSUI::NSThread {
public:
    importThread();

    // The library folder, ending in "/". May be called while the worker runs; a file being
    // copied keeps the root it started with.
    void setRoot(const std::string& root);
    std::string getRoot();
    // The framework's language value for reading texts without a declared character set.
    void setLanguage(int language) { language_.store(language); }

    // Progress: files handed in, files finished (copied or skipped), files copied, and of the
    // skipped ones those the disk had no room for. Shared with the importer, so it stays readable
    // after the worker has gone.
    struct Progress {
        std::atomic<int> queued{0};
        std::atomic<int> finished{0};
        std::atomic<int> copied{0};
        std::atomic<int> noRoom{0};
        // Of the skipped ones, those no longer there when their turn came (another copy of the
        // program, or the user, moved or removed them meanwhile).
        std::atomic<int> gone{0};
    };
    const std::shared_ptr<Progress> progress = std::make_shared<Progress>();

    // Writes the rows of a copied file and tells whether it did (see importDcm::setIndexer).
    using Indexer = std::function<void(std::unique_ptr<redIRI::DCM_MESSAGE>, std::function<void(bool)>)>;
    void setIndexer(Indexer indexer);

protected:
    ~importThread() override;
    void process(NSUI::NSThreadRequest* request) override;

private:
    // Copies one file (moves it, with `move`: a rename where the library lies on the same file
    // system, which takes no room) and fills the record; false when the file is skipped, with why
    // set to the reason and errorNumber to the system's error of a failed write. fresh: no file of
    // that name was in the library before.
    bool importFile(const std::string& path, const std::string& root, bool move, redIRI::DCM_MESSAGE& record,
                    std::string& why, int& errorNumber, bool& fresh);
    Indexer indexer();

    std::mutex rootMutex_;
    std::string root_;
    std::atomic<int> language_{0};
    unsigned long tempCounter_ = 0;
    std::string lastFolder_;  // the series folder of the last file placed
    int processed_ = 0;       // requests taken by the worker (on the worker only)
    Indexer indexer_;         // guarded by rootMutex_
};

class importDcm : public NSUI::NSObject, public NSUI::NSThreadSafeDestroy {
public:
    // Constructed, initialised and autoreleased; null when init fails.
    static importDcm* create();

    importDcm();
    virtual ~importDcm();
    importDcm(const importDcm&) = delete;
    importDcm& operator=(const importDcm&) = delete;

    // Creates the worker.
    virtual bool init();
    // Stops the worker through thread-safe destroy and waits for it. Safe to call twice.
    virtual void stop();

    // The library folder (the library database's getDicomRoot()), ending in "/".
    void setRoot(const std::string& folder);
    // What writes a copied file's rows and tells, on any thread, whether it did. Without one, each
    // copied file is announced by notification 2017 and counts as copied at once.
    void setIndexer(importThread::Indexer indexer);

    // A folder: one request per file in it and in all its subfolders, in listing order (names in
    // byte order, subfolders where they are met), hidden folders, the library and the program's
    // data folder around it left out (the latter only when the import starts outside it). Anything
    // else: one request for the path itself. Nothing inside the library is imported. With
    // moveFiles each file is removed once it is in the library, and its folder once empty (a file
    // that is not imported stays). done, when given, runs on the main thread once every file of
    // this call has finished (listed, or refused), also when there was none, told whether every one
    // was listed.
    void importFolder(const std::string& path, bool moveFiles = false, std::function<void(bool)> done = nullptr);

    // Progress of everything handed in since create(): files handed in, files finished (copied or
    // skipped) and files copied. The import is idle when finished equals queued.
    int getQueuedCount() const;
    int getFinishedCount() const;
    int getCopiedCount() const;
    // Of the files skipped, those the disk had no room for.
    int getNoRoomCount() const;
    // Of the files skipped, those that were no longer there when their turn came.
    int getGoneCount() const;
    // Files are waiting or being copied (never after stop).
    bool isBusy() const;

private:
    importThread* thread_ = nullptr;  // deletes itself after safeDestroy
    std::shared_ptr<importThread::Progress> progress_;
};
