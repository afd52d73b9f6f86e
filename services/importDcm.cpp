#include "importDcm.h"

#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "dcmNaming.h"
#include "dcmText.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

const char* const kIncomingFolder = ".incoming/";

int currentLanguage()
{
    cocos2d::Application* app = cocos2d::Application::getInstance();
    return app ? static_cast<int>(app->getCurrentLanguage()) : 0;
}

template <size_t N>
void put(char (&field)[N], const std::string& value)
{
    redIRI::text::copyCut(value, field, N);
}

std::string orDefault(const std::string& value, const char* fallback) { return value.empty() ? fallback : value; }

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
    }
    ++progress->finished;
}

bool importThread::importFile(const std::string& path, const std::string& root, redIRI::DCM_MESSAGE& m)
{
    const size_t slash = path.find_last_of('/');
    const std::string sourceName = slash == std::string::npos ? path : path.substr(slash + 1);

    reader_.setLanguage(language_.load());
    if (!reader_.setFile(path.c_str())) return false;
    auto tag = [this](unsigned short group, unsigned short element) { return reader_.getTag(group, element); };

    const std::string studyUID = orDefault(tag(0x0020, 0x000D), redIRI::naming::kUnknownStudy);
    const std::string seriesUID = orDefault(tag(0x0020, 0x000E), redIRI::naming::kUnknownSeries);
    const std::string patientName = orDefault(tag(0x0010, 0x0010), redIRI::naming::kAnonymous);
    const std::string patientID = orDefault(tag(0x0010, 0x0020), redIRI::naming::kEmptyPatientId);
    const std::string sopUID = tag(0x0008, 0x0018);
    // The SOP Instance UID names the file when it is a plain UID, as the storage server names it;
    // anything else keeps the source's own name, made a safe single component.
    std::string fileName = !sopUID.empty() && redIRI::naming::instanceFileName(sopUID) == sopUID
                               ? sopUID
                               : redIRI::naming::safeComponent(sourceName);
    if (fileName.empty()) return false;

    char relative[1024];
    redIRI::dcmServer::getDicomFolder(patientName.c_str(), patientID.c_str(), studyUID.c_str(), seriesUID.c_str(),
                                      relative);

    // An empty or unreadable file is skipped.
    std::error_code error;
    if (fs::file_size(path, error) == 0 || error) return false;
    const std::string folder = root + relative + "/";
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

    put(m.FileName, fileName);
    put(m.SeriesFolder, folder.substr(root.size()));
    put(m.Modality, tag(0x0008, 0x0060));
    put(m.PatientName, patientName);
    put(m.PatientID, patientID);
    put(m.StudyInstanceUID, studyUID);
    put(m.SeriesInstanceUID, seriesUID);
    put(m.SOPInstanceUID, orDefault(sopUID, redIRI::naming::kUnknownInstance));
    put(m.InstanceNumber, orDefault(tag(0x0020, 0x0013), "0"));
    put(m.PatientBirthDate, tag(0x0010, 0x0030));
    const std::string sex = tag(0x0010, 0x0040);
    put(m.PatientSex, !sex.empty() && (sex[0] == 'F' || sex[0] == 'M') ? sex.substr(0, 1) : std::string("U"));
    put(m.StudyID, tag(0x0020, 0x0010));
    put(m.StudyDate, tag(0x0008, 0x0020));
    put(m.StudyTime, tag(0x0008, 0x0030).substr(0, 6));
    put(m.SeriesDate, tag(0x0008, 0x0021));
    put(m.SeriesTime, tag(0x0008, 0x0031).substr(0, 6));
    put(m.StudyDescription, tag(0x0008, 0x1030));
    put(m.SeriesDescription, tag(0x0008, 0x103E));
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

void importDcm::importFolder(const std::string& path)
{
    if (!thread_ || path.empty()) return;
    std::vector<std::string> paths;
    if (cocos2d::FileUtils::getInstance()->isDirectoryExist(path))
        listFiles(path, paths, true, true);
    else
        paths.push_back(path);
    for (const std::string& file : paths) {
        auto* request = new NSUI::NSThreadRequest();
        request->text = file;
        ++progress_->queued;
        if (!thread_->addRequest(request)) --progress_->queued;
        request->release();
    }
}

int importDcm::getQueuedCount() const { return progress_ ? progress_->queued.load() : 0; }

int importDcm::getFinishedCount() const { return progress_ ? progress_->finished.load() : 0; }

int importDcm::getCopiedCount() const { return progress_ ? progress_->copied.load() : 0; }

bool importDcm::isBusy() const { return thread_ && getFinishedCount() < getQueuedCount(); }
