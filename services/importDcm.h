// importDcm: copies DICOM files that the user hands in (one file or a whole folder) into the
// library folder, in the storage server's layout, and announces each copied file as the storage
// server announces a received one: notification 2017 (NOTIFY_DB_ADD_IMAGE, urgent) with a
// DCM_MESSAGE as the payload's owned user data, on which the library database writes its rows.
//
// The copying runs on its own worker (importThread), one request per file, in the order they were
// handed in. Files the DICOM reader does not accept, empty or unreadable files, and files that
// cannot be written are skipped (counted: finished less copied); an object without a SOP Instance
// UID is refused with one log line. An import never reads the program's own folders: the library
// and the data folder that holds it.
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

    // Progress: files handed in, files finished (copied or skipped), files copied. Shared with
    // the importer, so it stays readable after the worker has gone.
    struct Progress {
        std::atomic<int> queued{0};
        std::atomic<int> finished{0};
        std::atomic<int> copied{0};
    };
    const std::shared_ptr<Progress> progress = std::make_shared<Progress>();

protected:
    ~importThread() override;
    void process(NSUI::NSThreadRequest* request) override;

private:
    // Copies one file and fills the record; false when the file is skipped.
    bool importFile(const std::string& path, const std::string& root, redIRI::DCM_MESSAGE& record);

    redIRI::dcmReadTag reader_;
    std::mutex rootMutex_;
    std::string root_;
    std::atomic<int> language_{0};
    unsigned long tempCounter_ = 0;
    std::string lastFolder_;  // the series folder of the last file placed
};

class importDcm : public NSUI::NSObject, public NSUI::NSThreadSafeDestroy {
public:
    // Constructed, initialised and autoreleased; null when init fails.
    static importDcm* create();

    importDcm();
    virtual ~importDcm();
    importDcm(const importDcm&) = delete;
    importDcm& operator=(const importDcm&) = delete;

    // Creates the worker and its tag reader.
    virtual bool init();
    // Stops the worker through thread-safe destroy and waits for it. Safe to call twice.
    virtual void stop();

    // The library folder (the library database's getDicomRoot()), ending in "/".
    void setRoot(const std::string& folder);

    // A folder: one request per file in it and in all its subfolders, in listing order (names in
    // byte order, subfolders where they are met), hidden folders, the library and the program's
    // data folder around it left out (the latter only when the import starts outside it). Anything
    // else: one request for the path itself. Nothing inside the library is imported. With
    // moveFiles each file is removed once it is in the library, and its folder once empty (a file
    // that is not imported stays).
    void importFolder(const std::string& path, bool moveFiles = false);

    // Progress of everything handed in since create(): files handed in, files finished (copied or
    // skipped) and files copied. The import is idle when finished equals queued.
    int getQueuedCount() const;
    int getFinishedCount() const;
    int getCopiedCount() const;
    // Files are waiting or being copied (never after stop).
    bool isBusy() const;

private:
    importThread* thread_ = nullptr;  // deletes itself after safeDestroy
    std::shared_ptr<importThread::Progress> progress_;
};
