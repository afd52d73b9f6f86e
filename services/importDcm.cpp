#include "importDcm.h"

#include "NSFileUtil.h"
#include "dcmDiskWrite.h"
#include "dcmParseBound.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

const char* const kIncomingFolder = ".incoming/";

// One file to import. A moved one is removed once it is in the library, and so are the folders
// around it that it leaves empty, up to the folder handed in (`movedFrom`, ending in "/").
struct importRequest : NSUI::NSThreadRequest {
    std::string movedFrom;
    // The files of one importFolder call: done runs on the main thread once the last has finished,
    // told whether every one of them was listed.
    struct Batch {
        std::atomic<int> remaining{0};
        std::atomic<bool> whole{true};
        std::function<void(bool)> done;
        void fileFinished(bool listed)
        {
            if (!listed)
                whole = false;
            if (--remaining == 0 && done)
                cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread(
                    [call = done, all = whole.load()] { call(all); });
        }
    };
    std::shared_ptr<Batch> batch;
};

int currentLanguage()
{
    cocos2d::Application* app = cocos2d::Application::getInstance();
    return app ? static_cast<int>(app->getCurrentLanguage()) : 0;
}

} // namespace

// ---- importThread -------------------------------------------------------------------------------

importThread::importThread() = default;

importThread::~importThread() = default;

void importThread::setRoot(const std::string& root)
{
    std::lock_guard<std::mutex> lock(rootMutex_);
    root_ = root;
}

std::string importThread::getRoot()
{
    std::lock_guard<std::mutex> lock(rootMutex_);
    return root_;
}

void importThread::setIndexer(Indexer indexer)
{
    std::lock_guard<std::mutex> lock(rootMutex_);
    indexer_ = std::move(indexer);
}

importThread::Indexer importThread::indexer()
{
    std::lock_guard<std::mutex> lock(rootMutex_);
    return indexer_;
}

namespace {

// Below this many free bytes the library's disk counts as full: the room the library's index may
// need to grow into (its write-ahead log alone reaches about 4 MiB between checkpoints).
constexpr unsigned long long kNoRoomBytes = redIRI::disk::kKeptForIndexBytes;

bool diskIsFull(const std::string& folder) { return redIRI::disk::freeBytes(folder) < kNoRoomBytes; }

// A moved file (movedFrom: the folder handed in, ending in "/") goes from where it was once it is
// in the library, and so do the folders it leaves empty up to the folder handed in.
void removeMoved(const std::string& path, const std::string& movedFrom)
{
    std::error_code error;
    // A file renamed into the library is gone already.
    if (!movedFrom.empty() && (fs::remove(path, error) || !fs::exists(path, error))) {
        // A folder is removed only when empty.
        for (fs::path folder = fs::path(path).parent_path();
             (folder.string() + "/").compare(0, movedFrom.size(), movedFrom) == 0 && fs::remove(folder, error);
             folder = folder.parent_path()) {
        }
    }
}

// A file's name as the import's lines give it: one clean line (the log cleans each line too, but a
// name cut here leaves room for the reason after it).
std::string shownPath(const std::string& path) { return cleanOutsideText(path, 1024); }

void countSkipped(importThread::Progress& progress, const std::string& path, const std::string& why, bool noRoom)
{
    // On the import's worker, a few of each reason per import (see process).
    const std::string line = "import: \"" + shownPath(path) + "\" not imported: " + why;
    if (redIRI::detail::keepStreamLine(line.c_str()))
        cocos2d::log("%s", line.c_str());
    if (noRoom) ++progress.noRoom;
    ++progress.finished;
}

} // namespace

void importThread::process(NSUI::NSThreadRequest* request)
{
    // One import is the files handed in until the worker has caught up with them: what they make
    // the program log (its own skips, the layer's refusals, DCMTK's warnings) is bounded for the
    // import as a whole, whatever the number of files, and counted at its end.
    if (!redIRI::detail::logStreamOpen())
        redIRI::detail::beginLogStream("import");
    ++processed_;
    struct EndWhenCaughtUp {
        importThread& thread;
        ~EndWhenCaughtUp()
        {
            if (thread.processed_ < thread.progress->queued.load() || !redIRI::detail::logStreamOpen())
                return;
            if (const uint64_t leftOut = redIRI::detail::endLogStream(false))
                cocos2d::log("import: %llu more lines left out of the log (%d of each kind are written)",
                             static_cast<unsigned long long>(leftOut), redIRI::detail::kLogLinesPerKind);
        }
    } endWhenCaughtUp{*this};
    const std::string root = getRoot();
    const std::string path = request->text;
    const auto* file = dynamic_cast<importRequest*>(request);
    const std::string movedFrom = file ? file->movedFrom : std::string();
    // Told when this file has finished, either way.
    std::shared_ptr<importRequest::Batch> batch = file ? file->batch : nullptr;
    auto finished = [batch](bool listed) {
        if (batch) batch->fileFinished(listed);
    };
    auto record = std::make_unique<redIRI::DCM_MESSAGE>();
    std::string why = "there is no library folder";
    int error = 0;
    bool fresh = false;
    if (root.empty() || !importFile(path, root, !movedFrom.empty(), *record, why, error, fresh)) {
        if (error == ENOENT) ++progress->gone;
        countSkipped(*progress, path, why, redIRI::disk::isNoRoom(error));
        finished(false);
        return;
    }
    const Indexer index = indexer();
    if (!index) {
        ++progress->copied;
        NSUI::NSNotificationData* data = new NSUI::NSNotificationData();
        data->setUserData(record.release(), [](void* p) { delete static_cast<redIRI::DCM_MESSAGE*>(p); });
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_DB_ADD_IMAGE, data,
                                                                    nullptr, true);
        data->release();
        removeMoved(path, movedFrom);
        ++progress->finished;
        finished(true);
        return;
    }
    const std::string placed = root + record->SeriesFolder + record->FileName;
    std::shared_ptr<Progress> counts = progress;
    index(std::move(record), [counts, path, movedFrom, placed, root, fresh, finished](bool listed) {
        if (listed) {
            removeMoved(path, movedFrom);
            ++counts->copied;
            ++counts->finished;
            finished(true);
            return;
        }
        // Without its rows the file would lie in the library unlisted: it goes again (its source
        // is untouched; a moved file goes back where it was, into its folder made again if the
        // files moved before it took that along), unless it replaced a file that was there before.
        // A moved file that cannot go back is the only copy: it stays in the library, unlisted.
        if (fresh && movedFrom.empty()) {
            std::remove(placed.c_str());
        } else if (fresh) {
            std::error_code ignored;
            fs::create_directories(fs::path(path).parent_path(), ignored);
            if (!redIRI::disk::moveFile(placed, path))
                cocos2d::log("import: \"%s\" cannot go back to \"%s\" (%s); it stays in the library, unlisted",
                             shownPath(placed).c_str(), shownPath(path).c_str(),
                             redIRI::disk::reasonText(errno).c_str());
        }
        const bool noRoom = diskIsFull(root);
        countSkipped(*counts, path,
                     noRoom ? "the library cannot record it: the disk is full" : "the library cannot record it", noRoom);
        finished(false);
    });
}

bool importThread::importFile(const std::string& path, const std::string& root, bool move, redIRI::DCM_MESSAGE& m,
                              std::string& why, int& errorNumber, bool& fresh)
{
    // Files from elsewhere are parsed only while DCMTK's parse is bounded (the library logged why
    // not as it started, and the program says so once).
    if (!redIRI::rediri_parseBounded()) {
        why = "the bound on DCMTK's parse is not in effect";
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            cocos2d::log("import: refused (\"%s\" and every file after it): the bound on DCMTK's parse is not in "
                         "effect",
                         shownPath(path).c_str());
        return false;
    }
    // The record says where the file goes: the storage server's folder and, for a plain SOP Instance
    // UID, its file name (anything else keeps the source's own name, made safe).
    {
        // A reader of this file alone: its tree is freed before the copy and is not kept for the next
        // file (a dense set builds a tree of a gigabyte, which a kept reader would hold while idle).
        redIRI::dcmReadTag reader;
        reader.setLanguage(language_.load());
        if (!reader.setFile(path.c_str())) {
            // Said as it is: a file moved away meanwhile (another copy of the program took it) is
            // not called damaged.
            struct stat source {};
            if (::stat(path.c_str(), &source) != 0 && errno == ENOENT) {
                errorNumber = ENOENT;
                why = "it is no longer there (moved or removed meanwhile)";
            } else {
                why = "not a DICOM file this program reads";
            }
            return false;
        }
        // An object without its own SOP Instance UID (a DICOMDIR, some private files) names no image:
        // refused as the storage server refuses it, nothing copied.
        std::string uid = reader.getTag(0x0008, 0x0018);
        trim(uid);
        if (uid.empty()) {
            why = "it has no SOP Instance UID";
            return false;
        }
        if (!reader.getDicomMessage(m) || !*m.FileName) {
            why = "its identifying values cannot be read";
            return false;
        }
    }
    const std::string fileName = m.FileName;

    // An empty or unreadable file is skipped.
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error || size == 0) {
        why = error ? "it cannot be read: " + error.message() : "the file is empty";
        return false;
    }
    // The library's index needs room to grow as well: a copy that would leave it none is not made,
    // so that what is copied can also be listed.
    // A move within the library's file system is a rename, which takes no room.
    const bool renamed = move && redIRI::disk::movesByRename(path, root);
    if (!renamed && redIRI::disk::freeBytes(root) < size + kNoRoomBytes) {
        errorNumber = ENOSPC;
        why = "it cannot be written into the library: the disk is full (its last 8 MiB are kept for the library's index)";
        return false;
    }
    const std::string folder = root + m.SeriesFolder;
    const std::string target = folder + fileName;
    // Copied aside and renamed into place: a file at its final path is always whole.
    const std::string incoming = root + kIncomingFolder;
    const std::string temp = incoming + "import-" + std::to_string(::getpid()) + "-" + std::to_string(++tempCounter_);
    // Folders are made when the last file did not already need them (or when they went away).
    auto place = [&] {
        if (move) {
            struct stat existing {};
            fresh = ::stat(target.c_str(), &existing) != 0;
            const bool ok = redIRI::disk::moveFile(path, target);
            errorNumber = ok ? 0 : errno;
            if (!ok) why = "it cannot be moved into the library: " + redIRI::disk::reasonText(errorNumber);
            return ok;
        }
        const int from = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (from < 0) {
            why = std::string("it cannot be read: ") + std::strerror(errno);
            return false;
        }
        const int to = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = to >= 0 && redIRI::disk::copyAll(from, to);
        errorNumber = ok ? 0 : errno;
        if (to >= 0 && ::close(to) != 0 && ok) {
            ok = false;
            errorNumber = errno;
        }
        ::close(from);
        struct stat existing {};
        fresh = ::stat(target.c_str(), &existing) != 0;
        if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
            ok = false;
            errorNumber = errno;
        }
        if (!ok) {
            why = "it cannot be written into the library: " + redIRI::disk::reasonText(errorNumber);
            std::remove(temp.c_str());
        }
        return ok;
    };
    if (folder == lastFolder_ && place()) return true;
    if (redIRI::disk::isNoRoom(errorNumber)) return false;
    lastFolder_.clear();
    for (const std::string& needed : {folder, incoming}) {
        fs::create_directories(needed, error);
        if (error) {
            errorNumber = error.value();
            why = "cannot create the folder \"" + needed + "\": " + error.message();
            return false;
        }
    }
    if (!place()) return false;
    lastFolder_ = folder;
    return true;
}

// ---- importDcm ----------------------------------------------------------------------------------

importDcm* importDcm::create()
{
    auto* importer = new importDcm();
    if (!importer->init()) {
        delete importer;
        return nullptr;
    }
    importer->autorelease();
    return importer;
}

importDcm::importDcm() = default;

importDcm::~importDcm() { stop(); }

bool importDcm::init()
{
    if (!thread_) {
        thread_ = new importThread();
        thread_->setLanguage(currentLanguage());
        progress_ = thread_->progress;
    }
    return true;
}

void importDcm::stop()
{
    if (!thread_) return;
    importThread* thread = thread_;
    thread_ = nullptr;
    safeDestroy(thread);
}

void importDcm::setRoot(const std::string& folder)
{
    if (thread_) thread_->setRoot(folder);
}

void importDcm::setIndexer(importThread::Indexer indexer)
{
    if (thread_) thread_->setIndexer(std::move(indexer));
}

namespace {

// The path with every "." and ".." and symbolic link resolved, ending in "/" ("" when it cannot be
// resolved).
std::string resolvedFolder(const std::string& path)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::path(path), error);
    if (error || resolved.empty()) return std::string();
    std::string text = resolved.string();
    if (text.back() != '/') text += "/";
    return text;
}

bool isWithin(const std::string& folder, const std::string& outer)
{
    return !outer.empty() && folder.compare(0, outer.size(), outer) == 0;
}

// The files below folder, in byte order of their names with subfolders where they are met, leaving
// out hidden folders and the folders in `skipped` (resolved, ending in "/"). As listFiles lists: a
// link to a file is listed, a link to a folder is not followed (a link to a parent would list the
// same files again and again, a link to "/" the whole system).
void listImportFiles(const std::string& folder, const std::vector<std::string>& skipped, std::vector<std::string>& out)
{
    std::error_code error;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kind;
        const bool isLink = it->is_symlink(kind);
        const bool isFolder = !isLink && it->is_directory(kind);
        if (isFolder || it->is_regular_file(kind)) entries.emplace_back(it->path().filename().string(), isFolder);
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        const std::string path = folder + entry.first;
        if (!entry.second) {
            out.push_back(path);
            continue;
        }
        if (entry.first[0] == '.') continue;
        const std::string resolved = resolvedFolder(path);
        if (std::any_of(skipped.begin(), skipped.end(), [&](const std::string& s) { return resolved == s; })) continue;
        listImportFiles(path + "/", skipped, out);
    }
}

} // namespace

void importDcm::importFolder(const std::string& path, bool moveFiles, std::function<void(bool)> done)
{
    if (!thread_ || path.empty()) return;
    std::vector<std::string> paths;
    if (cocos2d::FileUtils::getInstance()->isDirectoryExist(path)) {
        // The program's own folders are never read: the library itself, and the program's data
        // folder around it (its databases, statistics, pages) unless the import was asked for
        // inside it (an unpacked archive).
        const std::string start = resolvedFolder(path);
        const std::string library = resolvedFolder(thread_->getRoot());
        const std::string programFolder = library.empty() ? std::string() : resolvedFolder(library + "..");
        if (start.empty() || isWithin(start, library)) return;
        std::vector<std::string> skipped{library};
        if (!isWithin(start, programFolder)) skipped.push_back(programFolder);
        std::string folder = path;
        if (folder.back() != '/') folder += "/";
        listImportFiles(folder, skipped, paths);
    } else {
        if (isWithin(resolvedFolder(getParentDirectory(path)), resolvedFolder(thread_->getRoot()))) return;
        paths.push_back(path);
    }
    // Counted in before the first is handed over: the worker has caught up with this import (and
    // ends its log stream) only once it has taken the last of its files.
    progress_->queued += static_cast<int>(paths.size());
    auto batch = std::make_shared<importRequest::Batch>();
    batch->done = std::move(done);
    batch->remaining = static_cast<int>(paths.size()) + 1;  // and this loop
    for (const std::string& file : paths) {
        auto* request = new importRequest();
        request->text = file;
        request->batch = batch;
        if (moveFiles) request->movedFrom = path.back() == '/' ? path : path + "/";
        if (!thread_->addRequest(request)) {
            --progress_->queued;
            request->batch.reset();
            batch->whole = false;
            batch->remaining -= 1;
        }
        request->release();
    }
    batch->fileFinished(true);
}

int importDcm::getQueuedCount() const { return progress_ ? progress_->queued.load() : 0; }

int importDcm::getFinishedCount() const { return progress_ ? progress_->finished.load() : 0; }

int importDcm::getCopiedCount() const { return progress_ ? progress_->copied.load() : 0; }

int importDcm::getNoRoomCount() const { return progress_ ? progress_->noRoom.load() : 0; }

int importDcm::getGoneCount() const { return progress_ ? progress_->gone.load() : 0; }

bool importDcm::isBusy() const { return thread_ && getFinishedCount() < getQueuedCount(); }
