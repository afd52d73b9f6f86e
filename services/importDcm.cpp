#include "importDcm.h"

#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

const char* const kIncomingFolder = ".incoming/";

// One file to import. A moved one is removed once it is in the library, and so are the folders
// around it that it leaves empty, up to the folder handed in (`movedFrom`, ending in "/").
struct importRequest : NSUI::NSThreadRequest {
    std::string movedFrom;
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

void importThread::process(NSUI::NSThreadRequest* request)
{
    const std::string root = getRoot();
    auto record = std::make_unique<redIRI::DCM_MESSAGE>();
    const bool ok = !root.empty() && importFile(request->text, root, *record);
    if (ok) {
        ++progress->copied;
        NSUI::NSNotificationData* data = new NSUI::NSNotificationData();
        data->setUserData(record.release(), [](void* p) { delete static_cast<redIRI::DCM_MESSAGE*>(p); });
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_DB_ADD_IMAGE, data,
                                                                    nullptr, true);
        data->release();
        auto* file = dynamic_cast<importRequest*>(request);
        std::error_code error;
        if (file && !file->movedFrom.empty() && fs::remove(file->text, error)) {
            // A folder is removed only when empty.
            for (fs::path folder = fs::path(file->text).parent_path();
                 (folder.string() + "/").compare(0, file->movedFrom.size(), file->movedFrom) == 0 &&
                 fs::remove(folder, error);
                 folder = folder.parent_path()) {
            }
        }
    }
    ++progress->finished;
}

bool importThread::importFile(const std::string& path, const std::string& root, redIRI::DCM_MESSAGE& m)
{
    // The record says where the file goes: the storage server's folder and, for a plain SOP Instance
    // UID, its file name (anything else keeps the source's own name, made safe).
    reader_.setLanguage(language_.load());
    if (!reader_.setFile(path.c_str())) return false;
    // An object without its own SOP Instance UID (a DICOMDIR, some private files) names no image:
    // refused as the storage server refuses it, nothing copied.
    std::string uid = reader_.getTag(0x0008, 0x0018);
    trim(uid);
    if (uid.empty()) {
        cocos2d::log("import: \"%s\" has no SOP Instance UID; not imported", path.c_str());
        return false;
    }
    if (!reader_.getDicomMessage(m)) return false;
    const std::string fileName = m.FileName;
    if (fileName.empty()) return false;

    // An empty or unreadable file is skipped.
    std::error_code error;
    if (fs::file_size(path, error) == 0 || error) return false;
    const std::string folder = root + m.SeriesFolder;
    // Copied aside (by the kernel, without a round trip through a buffer of ours) and renamed into
    // place: a file at its final path is always whole.
    const std::string incoming = root + kIncomingFolder;
    const std::string temp = incoming + "import-" + std::to_string(::getpid()) + "-" + std::to_string(++tempCounter_);
    auto place = [&] {
        return fs::copy_file(path, temp, fs::copy_options::overwrite_existing, error) && !error &&
               std::rename(temp.c_str(), (folder + fileName).c_str()) == 0;
    };
    // Folders are made when the last file did not already need them (or when they went away).
    auto* files = cocos2d::FileUtils::getInstance();
    bool placed = folder == lastFolder_ && place();
    if (!placed) {
        std::remove(temp.c_str());
        lastFolder_.clear();
        if (!files->createDirectory(folder) || !files->createDirectory(incoming)) return false;
        placed = place();
    }
    if (!placed) {
        std::remove(temp.c_str());
        return false;
    }
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

void importDcm::importFolder(const std::string& path, bool moveFiles)
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
    for (const std::string& file : paths) {
        auto* request = new importRequest();
        request->text = file;
        if (moveFiles) request->movedFrom = path.back() == '/' ? path : path + "/";
        ++progress_->queued;
        if (!thread_->addRequest(request)) --progress_->queued;
        request->release();
    }
}

int importDcm::getQueuedCount() const { return progress_ ? progress_->queued.load() : 0; }

int importDcm::getFinishedCount() const { return progress_ ? progress_->finished.load() : 0; }

int importDcm::getCopiedCount() const { return progress_ ? progress_->copied.load() : 0; }

bool importDcm::isBusy() const { return thread_ && getFinishedCount() < getQueuedCount(); }
