// Series retrieval with C-GET: the files come back on the same association, into the folder the
// caller names. Retrievals wait in a queue served by the get thread (started when tasks arrive,
// ended when none are left), one at a time. The receive loop waits in short slices, so a
// cancellation (removeTask) is sent at once and a stop ends the task at once.
//
// Before the C-GET an image-level C-FIND asks the peer which SOP classes the series' images are
// of, so the storage contexts proposed are those of the series, not a guess at the common ones
// (one association carries at most 128 contexts, far fewer than there are storage classes).
//
// A series folder holding images of a retrieval that did not complete keeps a record of it, the
// hidden file ".retrieval": the failure message of the retrieval (code 11's text). With it the
// folder is found again after a restart (keptRetrievals), to be retried or discarded.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/ofstd/ofstd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "dcmDiskWrite.h"
#include "dcmFile.h"
#include "dcmFindLimits.h"
#include "dcmGetLimits.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNaming.h"
#include "dcmNetwork.h"
#include "dcmParseBound.h"
#include "dcmStorage.h"
#include "dcmText.h"

namespace redIRI {

namespace {

const char* const kIncomingFolder = ".incoming/";
// The record a series folder keeps of a retrieval that has not completed.
const char* const kRecordFile = ".retrieval";
// The reason a record holds while its retrieval runs: should the program end now, it stays.
const char* const kUnfinishedReason = "the program closed before the retrieval had ended";
// How long a cancelled retrieval waits for the peer's final answer, seconds.
const int kCancelWait = 5;
// The bound on the image-level query's time (dcmGetLimits.h), in milliseconds; tests lower it.
std::atomic<int> g_contentsQueryLimitMs{detail::kContentsQuerySeconds * 1000};
// A failure's reason, as logged, kept in the record and sent: one line of clean text of at most
// this many bytes, whatever the peer's answers put into it (DCMTK's texts, the classes it names).
const size_t kMaxReasonBytes = 1024;
// The classes a failure names among those the program cannot take; the rest are counted.
const size_t kNamedClasses = 3;
// Tests: run before the start-up scan reads each image of a folder that keeps no record.
std::function<void()> g_scanReadHook;
// Tests: run before each entry of a folder is removed (a discard, or the scan's removal).
std::function<void()> g_removeHook;

// The ten fields of a task, in the order of getSeriesByUID's arguments.
enum Field { kAddress, kPort, kCallingAE, kCalledAE, kStudyUID, kSeriesUID, kSaveFolder, kPatientName, kSeriesNumber, kModality };
const int kFieldCount = 10;

struct Task {
  std::string fields[kFieldCount];
  std::string calledAE;  // the title actually called

  std::string record() const {
    std::string out;
    for (int i = 0; i < kFieldCount; ++i) {
      if (i) out += ',';
      out += detail::listField(fields[i]);
    }
    return out;
  }
  const std::string& seriesUID() const { return fields[kSeriesUID]; }
};

// The series UID as the first field of a "|" list.
std::string seriesField(const Task& task) {
  std::string uid = task.seriesUID();
  for (char& c : uid)
    if (c == '|') c = '_';
  return uid;
}

std::string progressText(const Task& task, unsigned remaining, unsigned completed, unsigned failed, unsigned warning) {
  const std::string uid = seriesField(task);
  char counts[64];
  std::snprintf(counts, sizeof(counts), "|%u|%u|%u|%u", remaining, completed, failed, warning);
  return uid + counts;
}

// The image SOP classes met most, which get a context for every syntax in common use.
const char* const kCommonImageClasses[] = {
    UID_CTImageStorage,
    UID_MRImageStorage,
    UID_ComputedRadiographyImageStorage,
    UID_DigitalXRayImageStorageForPresentation,
    UID_DigitalMammographyXRayImageStorageForPresentation,
    UID_UltrasoundImageStorage,
    UID_UltrasoundMultiframeImageStorage,
    UID_XRayAngiographicImageStorage,
    UID_SecondaryCaptureImageStorage,
    UID_PositronEmissionTomographyImageStorage,
    UID_NuclearMedicineImageStorage,
    UID_XRayRadiofluoroscopicImageStorage,
};
// Further image classes, first in line for the contexts left over.
const char* const kFurtherImageClasses[] = {
    UID_EnhancedCTImageStorage,
    UID_EnhancedMRImageStorage,
    UID_EnhancedPETImageStorage,
    UID_BreastTomosynthesisImageStorage,
    UID_DigitalXRayImageStorageForProcessing,
    UID_DigitalMammographyXRayImageStorageForProcessing,
    UID_MultiframeGrayscaleWordSecondaryCaptureImageStorage,
    UID_MultiframeTrueColorSecondaryCaptureImageStorage,
};
// One association carries at most 128 presentation contexts.
const size_t kMaxContexts = 128;
// The transfer syntaxes kept of what a peer names for the images of one class.
const size_t kMaxNamedSyntaxes = 64;

// The storage syntaxes we propose, split as contexts take them: the uncompressed ones, which
// share one context, and every compressed syntax in common use, each in a context of its own.
// Deflated files and the retired JPEG processes have no context: a peer converts them.
struct ProposedSyntaxes {
  std::vector<std::string> uncompressed, compressed;
};
const ProposedSyntaxes& proposedSyntaxes() {
  // Never destroyed: a retrieval's thread may still read it while the process exits.
  static const ProposedSyntaxes& syntaxes = *new ProposedSyntaxes([] {
    ProposedSyntaxes out;
    for (const std::string& uid : detail::receivableSyntaxes()) {
      const E_TransferSyntax xfer = DcmXfer(uid.c_str()).getXfer();
      if (detail::isUncompressed(xfer))
        out.uncompressed.push_back(uid);
      else if (xfer != EXS_DeflatedLittleEndianExplicit && xfer != EXS_JPEGProcess6_8 && xfer != EXS_JPEGProcess10_12)
        out.compressed.push_back(uid);
    }
    return out;
  }());
  return syntaxes;
}

detail::ProposedContext getContext() {
  return {UID_GETStudyRootQueryRetrieveInformationModel, detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT};
}

// The contexts of a retrieval whose series' classes are not known. A peer accepts one transfer
// syntax per context and sends each object over a context accepted for its class and, unless
// it converts, for the syntax it is stored in: so a series stored compressed arrives as stored.
// This costs ten contexts a class, which the common image classes get; the classes after them
// get the uncompressed context only, as far as room remains.
std::vector<detail::ProposedContext> usualContexts() {
  const ProposedSyntaxes& syntaxes = proposedSyntaxes();
  std::vector<detail::ProposedContext> contexts{getContext()};
  // In the storage contexts we take the role of the storage provider.
  std::set<std::string> proposed;
  for (const char* sopClass : kCommonImageClasses) {
    if (contexts.size() + 1 + syntaxes.compressed.size() > kMaxContexts) break;
    proposed.insert(sopClass);
    contexts.push_back({sopClass, syntaxes.uncompressed, ASC_SC_ROLE_SCP});
    for (const std::string& syntax : syntaxes.compressed) contexts.push_back({sopClass, {syntax}, ASC_SC_ROLE_SCP});
  }
  auto addUncompressed = [&](const char* sopClass) {
    if (contexts.size() >= kMaxContexts || !proposed.insert(sopClass).second) return;
    contexts.push_back({sopClass, syntaxes.uncompressed, ASC_SC_ROLE_SCP});
  };
  for (const char* sopClass : kCommonImageClasses) addUncompressed(sopClass);
  for (const char* sopClass : kFurtherImageClasses) addUncompressed(sopClass);
  for (int i = 0; i < numberOfDcmLongSCUStorageSOPClassUIDs; ++i) addUncompressed(dcmLongSCUStorageSOPClassUIDs[i]);
  return contexts;
}

// A UID as UIDs are written: 1 to 64 digits and dots, not beginning with a dot. (The file name of
// an instance is its UID exactly when it is such a UID.)
bool isPlainUid(const std::string& uid) { return naming::instanceFileName(uid) == uid; }

// What the peer says a series holds: how many images of each SOP class, and the transfer
// syntaxes it names for them (none when it does not say).
struct SeriesContents {
  struct Class {
    unsigned images = 0;
    std::set<std::string> syntaxes;
  };
  bool known = false;  // the peer answered the image-level query with every image's class
  unsigned images = 0;
  std::map<std::string, Class> classes;
  // The SOP Instance UIDs listed, each once; they are the images asked for only when every
  // listed image named its own (named()).
  std::set<std::string> instances;
  bool unnamed = false;  // some listed image named no SOP Instance UID
  bool named() const { return known && !unnamed && !instances.empty(); }
};

// The contexts for the classes a series holds: first the uncompressed context of every class
// (most images first), then the compressed syntaxes of each class (those the peer named, else
// every one in common use) as far as room remains. A class that finds no room at all is left out.
std::vector<detail::ProposedContext> seriesContexts(const SeriesContents& contents) {
  const ProposedSyntaxes& syntaxes = proposedSyntaxes();
  std::vector<const std::pair<const std::string, SeriesContents::Class>*> order;
  // A class that is not a UID is no class any peer could send: it gets no context (and is named
  // among those the program cannot take).
  for (const auto& entry : contents.classes)
    if (isPlainUid(entry.first)) order.push_back(&entry);
  std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->second.images > b->second.images; });
  std::vector<detail::ProposedContext> contexts{getContext()};
  for (auto* entry : order) {
    if (contexts.size() >= kMaxContexts) break;
    contexts.push_back({entry->first, syntaxes.uncompressed, ASC_SC_ROLE_SCP});
  }
  for (auto* entry : order) {
    const std::set<std::string>& named = entry->second.syntaxes;
    for (const std::string& syntax : syntaxes.compressed) {
      if (contexts.size() >= kMaxContexts) return contexts;
      if (named.empty() || named.count(syntax)) contexts.push_back({entry->first, {syntax}, ASC_SC_ROLE_SCP});
    }
  }
  return contexts;
}

// "CT Image Storage (1.2.840.10008.5.1.4.1.1.2)", or the UID alone for a class DCMTK cannot name
// (as clean text of at most 64 bytes and the ellipsis: a peer's class may be anything).
std::string className(const std::string& uid) {
  const std::string shown = text::cleanLine(uid, 67);
  const char* name = dcmFindNameOfUID(uid.c_str(), nullptr);
  return name ? std::string(name) + " (" + shown + ")" : shown;
}

std::string withSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// A folder removed with everything in it, named without its "/": remove_all takes a link so named
// for the link alone, but "link/" for the folder it leads to, whose contents it would remove.
std::uintmax_t removeFolder(std::string folder, std::error_code& error) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return std::filesystem::remove_all(folder, error);
}

// Where the files of a series are written: a folder of the save folder named after the series.
std::string seriesFolder(const std::string& saveFolder, const std::string& seriesUID) {
  return saveFolder + naming::safeComponent(seriesUID.empty() ? naming::kUnknownSeries : seriesUID) + "/";
}

// The images in a series folder: its files, the hidden ones (the record, temporaries) aside.
std::vector<std::string> imagesIn(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] != '.' && entry.is_regular_file(error)) out.push_back(entry.path().string());
  }
  return out;
}

// The names the files of these images (SOP Instance UIDs) are written under, added to `names`.
std::set<std::string>& addFileNames(std::set<std::string>& names, const std::set<std::string>& uids) {
  for (const std::string& uid : uids) names.insert(naming::instanceFileName(uid));
  return names;
}

bool namedIn(const std::set<std::string>& names, const std::string& path) {
  return names.count(std::filesystem::path(path).filename().string()) > 0;
}

// A failure's reason as the log, the record and the message carry it.
std::string reasonText(const std::string& reason) { return text::cleanLine(reason, kMaxReasonBytes); }

// The failure message of a retrieval (code 11): the ten task fields, the images kept in its
// folder, the images the series holds (0 when not known) and why it did not complete.
std::string failureText(const Task& task, size_t kept, unsigned total, const std::string& reason) {
  return task.record() + "," + std::to_string(kept) + "," + std::to_string(total) + "," +
         detail::listField(reasonText(reason));
}

// "1 image of A (uid) and 3 images of B (uid)", then "and N more classes" past the few named: the
// classes of a series the program cannot take, most images first.
std::string classesText(std::vector<std::pair<std::string, unsigned>> classes) {
  std::stable_sort(classes.begin(), classes.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string out;
  for (size_t i = 0; i < classes.size() && i < kNamedClasses; ++i) {
    const unsigned n = classes[i].second;
    out += (out.empty() ? "" : " and ") + std::to_string(n) + (n == 1 ? " image of " : " images of ") +
           className(classes[i].first);
  }
  if (classes.size() > kNamedClasses) {
    unsigned images = 0;
    for (size_t i = kNamedClasses; i < classes.size(); ++i) images += classes[i].second;
    const size_t more = classes.size() - kNamedClasses;
    out += " and " + std::to_string(images) + (images == 1 ? " image" : " images") + " of " + std::to_string(more) +
           (more == 1 ? " more class" : " more classes");
  }
  return out;
}

}  // namespace

struct dcmGet::Core {
  // Guards the queue, the running task, the folders claimed and the thread. Held to decide, never
  // while files are read or removed: the window asks for the list under it.
  std::mutex lock;
  std::deque<Task> waiting;
  std::unique_ptr<Task> running;
  // The series folders (below any save folder, with their "/") of the retrievals begun since this
  // object was made: their own messages tell what became of them, so keptRetrievals leaves them
  // out, whenever they ended.
  std::set<std::string> begun;
  // Folders (with their "/") the scan or a discard reads or removes outside the lock: a retrieval
  // into one of them, or into the temporaries' folder while it is claimed, waits for `released`.
  std::set<std::string> claimed;
  std::condition_variable released;
  // Folders discarded (claimed meanwhile) and their series, removed by the thread ahead of the next
  // retrieval: one of many files takes long, and the window asks for the discard.
  std::deque<std::pair<std::string, std::string>> discards;
  // Set by the window on every tick, read by add: never behind the lock.
  std::shared_ptr<const std::string> defaultCalledAE = std::make_shared<const std::string>();
  std::thread thread;
  bool threadRunning = false;
  std::mutex joinLock;
  std::atomic<bool> stopping{false};
  std::atomic<bool> cancelRunning{false};
  // Raised by a cancellation or a stop so the receive loop looks at once.
  std::atomic<bool> interrupt{false};
  detail::SocketWatch watch;
  detail::MessageGate gate;

  void add(Task task);
  int listSize();
  int list(char* buffer, int size);
  void remove(const std::string& seriesUID);
  void discard(const std::string& saveFolder, const std::string& seriesUID);
  std::vector<std::string> kept(const std::string& saveFolder);
  // What a series folder below saveFolder holds, as code 11 carries it; "" when it holds nothing to
  // keep, `removal` then saying what it lacks ("" for no image at all). Called with the folder
  // claimed, without the lock.
  std::string keptIn(const std::string& saveFolder, const std::string& folder, const char*& removal);
  void stop();
  void shutdown();

 private:
  // Gives up a claim on `folder` and wakes a retrieval waiting for it.
  void release(const std::string& folder);
  // Under the lock: starts the thread unless it runs.
  void wake();
  void removeDiscarded(const std::string& folder, const std::string& seriesUID);
  // Removes a folder the scan judged, entry by entry: a stop ends it (the next start judges what is
  // left), since one of a few hundred thousand files takes a while and the program waits for it.
  bool removeUnlessStopped(const std::string& folder);
  void serve();
  // What a retrieval brought into its series folder.
  struct Outcome {
    std::set<std::string> written;  // the SOP Instance UIDs of the images written, each once
    std::set<std::string> sent;     // those of the series the peer sent, written or not (a full disk)
    std::set<std::string> listed;   // those the image-level query listed (none when it did not name each)
    unsigned total = 0;             // the images the series holds as far as the peer said (0: not said)
    // Of `images` (paths in the series folder), how many are of the series, and how many the
    // series holds: counted by identity where the query listed the images, so the first never
    // exceeds the second.
    std::pair<size_t, unsigned> counts(const std::vector<std::string>& images) const;
  };
  // True when the series was retrieved into `folder`; `why` the reason of a failure.
  bool retrieve(const Task& task, const std::string& folder, const std::string& tempFolder, Outcome& outcome,
                std::string& why);
  // Asks the peer (an image-level C-FIND) what the series holds; not known when the peer refuses
  // the query or leaves an image's class out.
  SeriesContents queryContents(const Task& task, int port);
};

void dcmGet::Core::add(Task task) {
  if (!detail::networkReady()) return;
  std::lock_guard<std::mutex> guard(lock);
  if (stopping) return;
  if (running && running->seriesUID() == task.seriesUID()) return;
  for (const Task& t : waiting)
    if (t.seriesUID() == task.seriesUID()) return;
  task.calledAE = task.fields[kCalledAE];
  if (task.calledAE.empty()) {
    const std::shared_ptr<const std::string> title = std::atomic_load(&defaultCalledAE);
    task.calledAE = title->empty() ? detail::kAnyCalledAETitle : *title;
  }
  waiting.push_back(std::move(task));
  wake();
}

void dcmGet::Core::wake() {
  if (threadRunning) return;
  if (thread.joinable()) thread.join();  // it has left its loop
  threadRunning = true;
  thread = std::thread(&Core::serve, this);
}

int dcmGet::Core::listSize() {
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<int>(waiting.size()) + (running ? 1 : 0);
}

int dcmGet::Core::list(char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  std::string text;
  int count = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    auto append = [&](const Task& t) {
      const std::string record = t.record();
      const size_t needed = text.size() + (count ? 1 : 0) + record.size();
      if (needed > static_cast<size_t>(size - 1)) return false;
      if (count) text += '@';
      text += record;
      ++count;
      return true;
    };
    bool room = !running || append(*running);
    for (auto it = waiting.begin(); room && it != waiting.end(); ++it) room = append(*it);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return count;
}

void dcmGet::Core::remove(const std::string& seriesUID) {
  std::lock_guard<std::mutex> guard(lock);
  if (running && running->seriesUID() == seriesUID) {
    cancelRunning = true;
    interrupt = true;
    return;
  }
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    if (it->seriesUID() == seriesUID) {
      waiting.erase(it);
      return;
    }
  }
}

void dcmGet::Core::release(const std::string& folder) {
  {
    std::lock_guard<std::mutex> guard(lock);
    claimed.erase(folder);
  }
  released.notify_all();
}

void dcmGet::Core::discard(const std::string& saveFolder, const std::string& seriesUID) {
  if (saveFolder.empty() || seriesUID.empty()) return;
  const std::string folder = seriesFolder(withSlash(saveFolder), seriesUID);
  std::lock_guard<std::mutex> guard(lock);
  if (stopping || (running && running->seriesUID() == seriesUID)) return;
  for (const Task& t : waiting)
    if (t.seriesUID() == seriesUID) return;
  // The scan has it: what it holds is listed again or removed there.
  if (!claimed.insert(folder).second) return;
  discards.emplace_back(folder, seriesUID);
  wake();
}

void dcmGet::Core::removeDiscarded(const std::string& folder, const std::string& seriesUID) {
  std::error_code error;
  // A link goes alone; a folder entry by entry, so that a stop ends it.
  const bool removed = std::filesystem::is_symlink(folder.substr(0, folder.size() - 1), error)
                           ? removeFolder(folder, error) > 0 && !error
                           : removeUnlessStopped(folder);
  release(folder);
  if (removed)
    detail::logLine("DICOM retrieval of series %s: what a failed retrieval left in \"%s\" is removed",
                    seriesUID.c_str(), folder.c_str());
}

std::vector<std::string> dcmGet::Core::kept(const std::string& saveFolder) {
  std::vector<std::string> out;
  std::error_code error;
  // Each folder is claimed under the queue's lock, then judged and, when it holds nothing to keep,
  // removed without it (a folder of a few hundred thousand files takes minutes on a slow disk): a
  // retrieval begun meanwhile either is seen and its folder left alone, or waits for the claim's
  // release before it writes, and makes the folder again if it is gone.
  const std::string incoming = saveFolder + kIncomingFolder;
  bool idle = false;
  {
    // Temporaries of writes cut short hold no image anybody can reach; while a retrieval waits or
    // runs, one may be a write under way.
    std::lock_guard<std::mutex> guard(lock);
    idle = !running && waiting.empty() && claimed.insert(incoming).second;
  }
  if (idle) {
    for (const auto& entry : std::filesystem::directory_iterator(incoming, error)) {
      std::error_code ignored;
      if (std::filesystem::remove_all(entry.path(), ignored) > 0)
        detail::logLine("DICOM retrieval: the unfinished write \"%s\" is removed", entry.path().c_str());
    }
    release(incoming);
  }
  for (const auto& entry : std::filesystem::directory_iterator(saveFolder, error)) {
    if (stopping) break;
    const std::string name = entry.path().filename().string();
    std::error_code ignored;
    // A link was made by no retrieval: what it leads to (the library, say) is neither judged nor
    // removed.
    if (name.empty() || name[0] == '.' || entry.is_symlink(ignored) || !entry.is_directory(ignored)) continue;
    const std::string folder = saveFolder + name + "/";
    {
      std::lock_guard<std::mutex> guard(lock);
      auto inFolder = [&](const Task& t) { return seriesFolder(saveFolder, t.seriesUID()) == folder; };
      // A retrieval of this run that ended meanwhile (its import may be moving its images out, or
      // its failure be listed) is as much its own as one that runs.
      if (begun.count(name + "/") || (running && inFolder(*running)) ||
          std::any_of(waiting.begin(), waiting.end(), inFolder) || !claimed.insert(folder).second)
        continue;
    }
    const char* removal = nullptr;  // why the folder is removed
    const std::string text = keptIn(saveFolder, folder, removal);
    if (!text.empty()) out.push_back(text);
    const bool gone = removal && removeUnlessStopped(folder);
    release(folder);
    if (gone) detail::logLine("DICOM retrieval: \"%s\" holds no image%s and is removed", folder.c_str(), removal);
  }
  return out;
}

std::string dcmGet::Core::keptIn(const std::string& saveFolder, const std::string& folder, const char*& removal) {
  const std::vector<std::string> images = imagesIn(folder);
  if (images.empty()) {
    removal = "";
    return std::string();
  }
  // The record the retrieval kept; it must name this folder's series and hold 13 fields.
  Task task;
  unsigned total = 0;
  std::string reason;
  std::string record;
  if (std::FILE* file = std::fopen((folder + kRecordFile).c_str(), "rb")) {
    char buffer[8192];
    record.assign(buffer, std::fread(buffer, 1, sizeof(buffer), file));
    std::fclose(file);
  }
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t at = record.find(',', start);
    fields.push_back(record.substr(start, at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  if (fields.size() == kFieldCount + 3 && seriesFolder(saveFolder, fields[kSeriesUID]) == folder) {
    for (int i = 0; i < kFieldCount; ++i) task.fields[i] = fields[i];
    total = static_cast<unsigned>(std::strtoul(fields[kFieldCount + 1].c_str(), nullptr, 10));
    // (Cleaned and cut as it is sent: records of earlier versions kept a peer's bytes as they came.)
    reason = fields[kFieldCount + 2];
  } else {
    // No record (an earlier version, or the program ended as the first image arrived): the
    // images name the series; where it came from is not known.
    for (const std::string& path : images) {
      if (stopping) break;
      if (g_scanReadHook) g_scanReadHook();
      detail::DicomFile image;
      if (!image.open(path.c_str(), nullptr)) continue;
      auto stored = std::make_unique<DCM_MESSAGE>();
      detail::fillStoredRecord(image, image.stringValue(DCM_SOPInstanceUID), "", folder, *stored);
      task.fields[kStudyUID] = stored->StudyInstanceUID;
      task.fields[kSeriesUID] = stored->SeriesInstanceUID;
      task.fields[kPatientName] = stored->PatientName;
      task.fields[kSeriesNumber] = image.stringValue(DCM_SeriesNumber);
      task.fields[kModality] = stored->Modality;
      break;
    }
    if (seriesFolder(saveFolder, task.fields[kSeriesUID]) != folder) {
      // Nothing in it says which series it holds: no retrieval could complete it.
      removal = " of a series it is named after";
      return std::string();
    }
    reason = "the retrieval did not complete";
  }
  task.fields[kSaveFolder] = saveFolder;
  return failureText(task, images.size(), total, reason);
}

bool dcmGet::Core::removeUnlessStopped(const std::string& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (stopping) return false;
    if (g_removeHook) g_removeHook();
    std::error_code ignored;
    std::filesystem::remove_all(it->path(), ignored);
  }
  return removeFolder(folder, error) > 0 && !error;
}

void dcmGet::Core::stop() {
  gate.close();
  std::lock_guard<std::mutex> guard(lock);
  stopping = true;
  interrupt = true;
  waiting.clear();
  watch.interrupt();
  released.notify_all();
}

void dcmGet::Core::shutdown() {
  stop();
  std::lock_guard<std::mutex> join(joinLock);
  std::thread ending;
  {
    std::lock_guard<std::mutex> guard(lock);
    ending = std::move(thread);
  }
  if (ending.joinable()) ending.join();
}

void dcmGet::Core::serve() {
  for (;;) {
    Task task;
    std::string saveFolder, folder;
    std::pair<std::string, std::string> discarded;
    {
      std::unique_lock<std::mutex> guard(lock);
      running.reset();
      if (stopping || (waiting.empty() && discards.empty())) {
        threadRunning = false;
        return;
      }
      if (!discards.empty()) {
        discarded = std::move(discards.front());
        discards.pop_front();
      }
    }
    if (!discarded.first.empty()) {
      removeDiscarded(discarded.first, discarded.second);
      continue;
    }
    {
      std::unique_lock<std::mutex> guard(lock);
      if (stopping || waiting.empty()) continue;
      task = std::move(waiting.front());
      waiting.pop_front();
      running = std::make_unique<Task>(task);
      begun.insert(seriesFolder("", task.seriesUID()));
      cancelRunning = false;
      interrupt = false;
      saveFolder = withSlash(task.fields[kSaveFolder]);
      folder = seriesFolder(saveFolder, task.seriesUID());
      // Listed as running meanwhile: nothing is written while the scan or a discard has the folder.
      released.wait(guard, [&] {
        return stopping || (!claimed.count(folder) && !claimed.count(saveFolder + kIncomingFolder));
      });
      if (stopping) continue;
    }
    gate.post(9, task.seriesUID());
    Outcome outcome;
    std::string why;
    const bool ok = retrieve(task, folder, saveFolder + kIncomingFolder, outcome, why) && !cancelRunning;
    {
      // Off the list before its last messages: whoever reads the list on hearing them must not
      // find it still running.
      std::lock_guard<std::mutex> guard(lock);
      running.reset();
    }
    if (stopping) continue;
    // A series cut short is not handed on: the import would list it as if whole. Its files stay
    // in the folder, with the record of the failure, for a retrieval that completes it, or until
    // it is discarded.
    std::error_code error;
    if (ok) {
      std::filesystem::remove(folder + kRecordFile, error);
      // The folder handed on holds just the images this retrieval wrote: what an earlier attempt
      // left that the peer sends no more (or an earlier version wrote of another series) would be
      // listed as part of the series.
      std::set<std::string> names;
      addFileNames(names, outcome.written);
      size_t stale = 0;
      for (const std::string& path : imagesIn(folder))
        if (!namedIn(names, path)) stale += std::filesystem::remove(path, error) ? 1 : 0;
      if (stale > 0)
        detail::logLine("DICOM retrieval of series %s: %zu files in \"%s\" that it did not bring are removed",
                        task.seriesUID().c_str(), stale, folder.c_str());
      gate.post(8, folder);
      gate.post(10, seriesField(task) + "|" + task.fields[kPatientName] + "(" + task.fields[kSeriesNumber] + "," +
                        task.fields[kModality] + ")");
    } else {
      if (cancelRunning && why.empty()) why = "cancelled";
      const auto [kept, total] = outcome.counts(imagesIn(folder));
      const std::string text = failureText(task, kept, total, why);
      if (kept > 0) {
        detail::logLine("DICOM retrieval of series %s: %zu images kept in \"%s\" until a retrieval completes the series",
                        task.seriesUID().c_str(), kept, folder.c_str());
        if (!disk::writeWholeFile(folder + kRecordFile, text.data(), text.size()))
          detail::logLine("DICOM retrieval of series %s: cannot keep the record of the retrieval in \"%s\": %s",
                          task.seriesUID().c_str(), folder.c_str(), disk::reasonText(errno).c_str());
      }
      gate.post(11, text);
    }
  }
}

SeriesContents dcmGet::Core::queryContents(const Task& task, int port) {
  SeriesContents contents;
  const std::string& series = task.seriesUID();
  auto unknown = [&](const std::string& reason) {
    if (!stopping)
      detail::logLine("DICOM retrieval of series %s: the peer does not say which classes its images are of (%s); the "
                      "usual image classes are proposed",
                      series.c_str(), reason.c_str());
    return SeriesContents();
  };
  const char* model = UID_FINDStudyRootQueryRetrieveInformationModel;
  // The query's whole time is bounded from here (the connection's and the association's own
  // timeouts bound their part).
  const int limitMs = g_contentsQueryLimitMs.load();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  detail::ClientAssociation association(watch);
  std::string error;
  if (!association.open(task.fields[kAddress], port, task.calledAE, {{model, detail::uncompressedSyntaxes()}}, error))
    return unknown(error);
  const size_t matchLimit = detail::findMatchLimit();
  T_ASC_Association* assoc = association.get();
  const T_ASC_PresentationContextID presId = ASC_findAcceptedPresentationContextID(assoc, model);
  if (presId == 0) {
    association.abort();
    return unknown("no query accepted");
  }
  DcmDataset identifiers;
  identifiers.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
  identifiers.putAndInsertString(DCM_StudyInstanceUID, task.fields[kStudyUID].c_str());
  identifiers.putAndInsertString(DCM_SeriesInstanceUID, series.c_str());
  identifiers.insertEmptyElement(DCM_SOPInstanceUID);
  identifiers.insertEmptyElement(DCM_SOPClassUID);
  identifiers.insertEmptyElement(DCM_AvailableTransferSyntaxUID);
  DIC_US messageId = 0;
  OFCondition cond = detail::sendFindRequest(assoc, presId, model, identifiers, messageId);
  DIC_US status = STATUS_FIND_Pending_MatchesAreContinuing;
  bool everyClass = true;
  size_t matches = 0;
  while (cond.good() && DICOM_PENDING_STATUS(status)) {
    const long long leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 deadline - std::chrono::steady_clock::now()).count();
    if (leftMs <= 0) {
      // However steadily it answers, the retrieval does not wait longer for it.
      DIMSE_sendCancelRequest(assoc, presId, messageId);
      association.abort();
      char bound[32];
      std::snprintf(bound, sizeof(bound), "%g s", limitMs / 1000.0);
      return unknown(std::string("it had not listed the series' images within ") + bound);
    }
    // A cancellation or a stop ends the query at once; the retrieval then sees it.
    const int waitMs = static_cast<int>(std::min<long long>(leftMs, detail::kClientDimseTimeout * 1000LL));
    const detail::DataWait wait = detail::waitForData(assoc, interrupt, waitMs);
    if (wait == detail::DataWait::TimedOut && waitMs < detail::kClientDimseTimeout * 1000) continue;
    if (wait != detail::DataWait::Ready) {
      association.abort();
      return unknown("the query was not answered");
    }
    T_DIMSE_Message answer;
    std::unique_ptr<DcmDataset> match;
    // The answer once begun is bounded by the DIMSE timeout, at most, beyond the query's bound.
    const int receiveSeconds = static_cast<int>(std::min<long long>(detail::kClientDimseTimeout, leftMs / 1000 + 1));
    cond = detail::receiveResponse(assoc, receiveSeconds, DIMSE_C_FIND_RSP, messageId, answer, &match);
    if (cond.bad()) break;
    status = answer.msg.CFindRSP.DimseStatus;
    if (!DICOM_PENDING_STATUS(status) || !match) continue;
    if (++matches > matchLimit) {
      // As a search: a peer that keeps answering is given up, and the retrieval goes on as if it
      // had not answered.
      DIMSE_sendCancelRequest(assoc, presId, messageId);
      association.abort();
      return unknown("more than " + std::to_string(matchLimit) + " images listed");
    }
    OFString sopClass;
    if (match->findAndGetOFString(DCM_SOPClassUID, sopClass).bad() || sopClass.empty()) {
      everyClass = false;
      continue;
    }
    SeriesContents::Class& entry = contents.classes[sopClass.c_str()];
    // An image listed twice (an archive that keeps two copies) is one image of the series.
    OFString found;
    match->findAndGetOFString(DCM_SOPInstanceUID, found);
    const std::string instance = text::trimValue(found.c_str(), EVR_UI);
    contents.unnamed |= instance.empty();
    if (instance.empty() || contents.instances.insert(instance).second) {
      ++entry.images;
      ++contents.images;
    }
    OFString syntax;
    // Every transfer syntax there is fits in this many; more are a peer's noise.
    for (unsigned long i = 0; i < kMaxNamedSyntaxes && entry.syntaxes.size() < kMaxNamedSyntaxes &&
                              match->findAndGetOFString(DCM_AvailableTransferSyntaxUID, syntax, i).good();
         ++i)
      if (!syntax.empty()) entry.syntaxes.insert(syntax.c_str());
  }
  if (cond.bad()) {
    association.abort();
    return unknown(cond.text());
  }
  association.release();
  if (status != STATUS_FIND_Success) {
    char text[48];
    std::snprintf(text, sizeof(text), "status 0x%04x", status);
    return unknown(text);
  }
  if (!everyClass || contents.classes.empty()) return unknown("no class in its answers");
  contents.known = true;
  return contents;
}

std::pair<size_t, unsigned> dcmGet::Core::Outcome::counts(const std::vector<std::string>& images) const {
  if (listed.empty())
    return {images.size(), total == 0 ? 0 : std::max<unsigned>({total, unsigned(images.size()), unsigned(sent.size())})};
  std::set<std::string> names;
  addFileNames(addFileNames(names, listed), sent);
  const size_t kept =
      std::count_if(images.begin(), images.end(), [&](const std::string& path) { return namedIn(names, path); });
  return {kept, static_cast<unsigned>(names.size())};
}

bool dcmGet::Core::retrieve(const Task& task, const std::string& folder, const std::string& tempFolder,
                            Outcome& outcome, std::string& why) {
  const std::string peer = task.fields[kAddress] + ":" + task.fields[kPort];
  const std::string& series = task.seriesUID();
  // Every match of the query and every image received is a parse of its own: what they make the
  // layer log is bounded for the retrieval as a whole, as for an association of the server.
  detail::LogStream logStream("DICOM retrieval of series " + series + " from " + peer);
  // Classes of the series for which the peer accepted no context, with their images: a few are
  // named in a failure.
  std::vector<std::pair<std::string, unsigned>> untaken;
  // What the program itself refused of what the peer sent (a full disk, another image than the one
  // announced, one it cannot read back): the retrieval fails for it, whatever the peer answers.
  unsigned refused = 0;
  bool refusedForRoom = false;
  std::string firstRefusal;
  // Images of another study or series the peer sent: refused, never in the series folder.
  unsigned foreign = 0;
  // The images written, each once however often it came.
  std::set<std::string>& written = outcome.written;
  unsigned& total = outcome.total;
  auto failed = [&](const std::string& reason) {
    why.clear();
    // The program's own refusal first: it is why the rest followed, and a full disk is said here
    // whatever the user was told of it before.
    if (refused > 0)
      why = refusedForRoom ? std::string("the disk is full")
                           : "the program refused " + std::to_string(refused) + (refused == 1 ? " image" : " images") +
                                 (refused == 1 ? " (" : " (the first because ") + firstRefusal + ")";
    if (foreign > 0)
      why += (why.empty() ? "the peer sent " : "; the peer sent ") + std::to_string(foreign) +
             (foreign == 1 ? " image" : " images") + " of another series or study (refused)";
    if (!reason.empty() && reason != why) why += (why.empty() ? "" : "; ") + reason;
    if (!untaken.empty())
      why += "; the program cannot take " + classesText(untaken) + " (no context was agreed for them)";
    why = reasonText(why);
    if (!stopping) detail::logLine("DICOM retrieval of series %s from %s failed: %s", series.c_str(), peer.c_str(), why.c_str());
    return false;
  };
  int port = 0;
  if (!detail::isIPv4Address(task.fields[kAddress]) || !detail::parsePort(task.fields[kPort], port))
    return failed("not an IPv4 address and port");
  if (task.fields[kSaveFolder].empty()) return failed("no download folder given");
  // An empty unique key would match every series of the study (or every study).
  if (series.empty() || task.fields[kStudyUID].empty()) return failed("no study or series UID given");
  if (stopping) return false;

  const SeriesContents contents = queryContents(task, port);
  if (stopping) return false;
  if (cancelRunning) return failed("cancelled");
  total = contents.images;
  if (contents.named()) outcome.listed = contents.instances;
  detail::ClientAssociation association(watch);
  std::string error;
  if (!association.open(task.fields[kAddress], port, task.calledAE,
                        contents.known ? seriesContexts(contents) : usualContexts(), error))
    return failed(error);
  T_ASC_Association* assoc = association.get();
  for (const auto& entry : contents.classes)
    if (ASC_findAcceptedPresentationContextID(assoc, entry.first.c_str()) == 0)
      untaken.emplace_back(entry.first, entry.second.images);
  const char* model = UID_GETStudyRootQueryRetrieveInformationModel;
  const T_ASC_PresentationContextID getPresId = ASC_findAcceptedPresentationContextID(assoc, model);
  if (getPresId == 0) {
    association.abort();
    return failed("the peer does not accept retrievals (C-GET)");
  }

  DcmDataset identifiers;
  identifiers.putAndInsertString(DCM_QueryRetrieveLevel, "SERIES");
  identifiers.putAndInsertString(DCM_StudyInstanceUID, task.fields[kStudyUID].c_str());
  identifiers.putAndInsertString(DCM_SeriesInstanceUID, series.c_str());
  T_DIMSE_Message message;
  std::memset(&message, 0, sizeof(message));
  message.CommandField = DIMSE_C_GET_RQ;
  T_DIMSE_C_GetRQ& request = message.msg.CGetRQ;
  request.MessageID = assoc->nextMsgID++;
  OFStandard::strlcpy(request.AffectedSOPClassUID, model, sizeof(request.AffectedSOPClassUID));
  request.Priority = DIMSE_PRIORITY_MEDIUM;
  request.DataSetType = DIMSE_DATASET_PRESENT;
  OFCondition cond = DIMSE_sendMessageUsingMemoryData(assoc, getPresId, &message, nullptr, &identifiers, nullptr, nullptr);
  if (cond.bad()) {
    association.abort();
    return failed(std::string("sending the request failed: ") + cond.text());
  }

  unsigned remaining = 0, completed = 0, failedCount = 0, warning = 0;
  bool cancelSent = false;
  auto lastHeard = std::chrono::steady_clock::now();
  for (;;) {
    const int limitMs = (cancelSent ? kCancelWait : detail::kClientDimseTimeout) * 1000;
    const int waitedMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastHeard).count());
    const detail::DataWait wait = detail::waitForData(assoc, interrupt, std::max(0, limitMs - waitedMs));
    if (stopping) {
      association.abort();
      return false;
    }
    if (wait == detail::DataWait::Stopped) {
      interrupt = false;
      if (!cancelSent) {
        DIMSE_sendCancelRequest(assoc, getPresId, request.MessageID);
        cancelSent = true;
        lastHeard = std::chrono::steady_clock::now();
      }
      continue;
    }
    if (wait == detail::DataWait::TimedOut) {
      association.abort();
      return failed(cancelSent ? "no answer to the cancellation" : "the peer stopped answering");
    }
    lastHeard = std::chrono::steady_clock::now();

    T_ASC_PresentationContextID presId = 0;
    T_DIMSE_Message incoming;
    cond = detail::receiveCommand(assoc, detail::kClientDimseTimeout, presId, incoming);
    if (cond.bad()) {
      association.abort();
      if (stopping) return false;
      return failed(std::string("association lost: ") + cond.text());
    }

    if (incoming.CommandField == DIMSE_C_STORE_RQ) {
      std::string refusal;
      bool kept = false, other = false;
      const bool ok = detail::serveStoreRequest(
          "DICOM retrieval", peer, assoc, presId, incoming.msg.CStoreRQ, detail::networkLanguage(),
          detail::kClientDimseTimeout,
          [&](detail::ReceivedObject& object) {
            // Only the series asked for goes into its folder: the import would list anything else
            // as part of it, or as a patient nobody asked for.
            const bool otherStudy = object.value(0x0020, 0x000D) != task.fields[kStudyUID];
            if (otherStudy || object.value(0x0020, 0x000E) != series) {
              other = true;
              object.refuse("not of the series asked for");
              detail::logLine("DICOM retrieval of series %s: refused the image %s from %s: it is of another %s",
                              series.c_str(), object.value(0x0008, 0x0018).c_str(), peer.c_str(),
                              otherStudy ? "study" : "series");
              return false;
            }
            outcome.sent.insert(object.value(0x0008, 0x0018));
            disk::clearLastError();
            if (object.write(folder, tempFolder, refusal)) return true;
            // This thread's last write tells a full disk, whether or not the user has been told.
            if (disk::isNoRoom(disk::lastError())) refusedForRoom = true;
            detail::logLine("DICOM retrieval of series %s: cannot store an image in \"%s\": %s", series.c_str(),
                            folder.c_str(), refusal.c_str());
            return false;
          },
          [&](detail::ReceivedObject& object) {
            kept = true;
            // (A second copy of an image replaces the first: it is one image of the series.)
            if (!written.insert(object.value(0x0008, 0x0018)).second) return;
            // The folder now holds the series' first image: should the program end before the
            // retrieval does, the record says what the folder is.
            if (written.size() != 1) return;
            const std::string text = failureText(task, 1, total, kUnfinishedReason);
            disk::writeWholeFile(folder + kRecordFile, text.data(), text.size());
          },
          error, &refusal);
      if (other) ++foreign;
      if (!kept && !other && (ok || !refusal.empty())) {
        ++refused;
        if (firstRefusal.empty()) firstRefusal = refusal.empty() ? "it could not be kept" : refusal;
      }
      if (!ok) {
        association.abort();
        if (stopping) return false;
        return failed(error);
      }
      continue;
    }
    if (incoming.CommandField != DIMSE_C_GET_RSP) {
      association.abort();
      return failed("unexpected message from the peer");
    }

    const T_DIMSE_C_GetRSP& response = incoming.msg.CGetRSP;
    if (response.MessageIDBeingRespondedTo != request.MessageID) {
      association.abort();
      return failed("the peer answered another request");
    }
    if (response.DataSetType != DIMSE_DATASET_NULL) {
      // The list of failed instances: not needed, but it must be sound.
      cond = detail::receiveResponseDataSet(assoc, detail::kClientDimseTimeout, nullptr);
      if (cond.bad()) {
        association.abort();
        if (stopping) return false;
        return failed(std::string("association ended: ") + cond.text());
      }
    }
    const bool counted = response.opts & (O_GET_NUMBEROFREMAININGSUBOPERATIONS | O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS |
                                          O_GET_NUMBEROFFAILEDSUBOPERATIONS | O_GET_NUMBEROFWARNINGSUBOPERATIONS);
    if (response.opts & O_GET_NUMBEROFREMAININGSUBOPERATIONS) remaining = response.NumberOfRemainingSubOperations;
    if (response.opts & O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS) completed = response.NumberOfCompletedSubOperations;
    if (response.opts & O_GET_NUMBEROFFAILEDSUBOPERATIONS) failedCount = response.NumberOfFailedSubOperations;
    if (response.opts & O_GET_NUMBEROFWARNINGSUBOPERATIONS) warning = response.NumberOfWarningSubOperations;
    const bool pending = response.DimseStatus == 0xFF00 || response.DimseStatus == 0xFF01;
    // The images the series holds are those the image-level query counted, each once; the peer's
    // counts stand for them only when it did not say (they count each copy an archive keeps).
    if (pending) {
      if (!contents.known) total = std::max(total, remaining + completed + failedCount + warning);
      if (counted) gate.post(7, progressText(task, remaining, completed, failedCount, warning));
      continue;
    }
    // The final answer closes the counts, whatever it says about the remaining ones.
    if (!(response.opts & O_GET_NUMBEROFREMAININGSUBOPERATIONS)) remaining = 0;
    if (!(response.opts & O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS)) completed = static_cast<unsigned>(written.size());
    if (!contents.known) total = std::max(total, completed + failedCount + warning);
    gate.post(7, progressText(task, remaining, completed, failedCount, warning));
    association.release();
    if (cancelSent) return failed("cancelled");
    if (response.DimseStatus != STATUS_GET_Success && response.DimseStatus != STATUS_GET_Warning_SubOperationsCompleteOneOrMoreFailures) {
      char status[48];
      std::snprintf(status, sizeof(status), "the peer answered status 0x%04x", response.DimseStatus);
      return failed(status);
    }
    if (refused != 0 || foreign != 0) return failed("");
    if (failedCount != 0)
      return failed(std::to_string(failedCount) + (failedCount == 1 ? " image" : " images") +
                    " could not be retrieved");
    if (written.empty()) return failed("no image was received");
    // Whatever the peer counted, the series is whole only when every image it holds was written:
    // each one the query listed, or, where it listed none, as many as the peer counted.
    const size_t arrived = outcome.listed.empty()
                               ? written.size()
                               : std::count_if(outcome.listed.begin(), outcome.listed.end(),
                                               [&](const std::string& uid) { return written.count(uid) > 0; });
    if (arrived < total)
      return failed("the peer sent " + std::to_string(arrived) + " of the " + std::to_string(total) +
                    " images the series holds");
    return true;
  }
}

dcmGet::dcmGet() : m_core(std::make_shared<Core>()) { m_hook = detail::hookShutdown(m_core); }

dcmGet::~dcmGet() {
  detail::removeShutdownHook(m_hook);
  m_core->shutdown();
}

void dcmGet::setDefaultCalledAETitle(const char* title) {
  std::atomic_store(&m_core->defaultCalledAE,
                    std::make_shared<const std::string>(detail::trimmed(detail::textOf(title))));
}

void dcmGet::getSeriesByUID(const char* address, const char* port, const char* callingAE, const char* calledAE,
                            const char* studyUID, const char* seriesUID, const char* saveFolder,
                            const char* patientName, const char* seriesNumber, const char* modality) {
  Task task;
  const char* values[kFieldCount] = {address,    port,        callingAE,    calledAE,     studyUID,
                                     seriesUID,  saveFolder,  patientName,  seriesNumber, modality};
  for (int i = 0; i < kFieldCount; ++i) task.fields[i] = detail::textOf(values[i]);
  for (int i : {kAddress, kPort, kCalledAE, kStudyUID, kSeriesUID}) task.fields[i] = detail::trimmed(task.fields[i]);
  m_core->add(std::move(task));
}

int dcmGet::getListSize() { return m_core->listSize(); }

std::string dcmGet::getRunningSeries() {
  std::lock_guard<std::mutex> guard(m_core->lock);
  return m_core->running ? m_core->running->seriesUID() : std::string();
}

int dcmGet::getList(char* buffer, int bufferSize) { return m_core->list(buffer, bufferSize); }

void dcmGet::removeTask(const char* seriesUID) { m_core->remove(detail::trimmed(detail::textOf(seriesUID))); }

void dcmGet::discardSeries(const char* saveFolder, const char* seriesUID) {
  m_core->discard(detail::textOf(saveFolder), detail::trimmed(detail::textOf(seriesUID)));
}

std::string dcmGet::seriesFolderOf(const char* saveFolder, const char* seriesUID) {
  return seriesFolder(withSlash(detail::textOf(saveFolder)), detail::trimmed(detail::textOf(seriesUID)));
}

std::vector<std::string> dcmGet::keptRetrievals(const char* saveFolder) {
  const std::string folder = withSlash(detail::textOf(saveFolder));
  if (folder.size() <= 1) return {};
  return m_core->kept(folder);
}

void dcmGet::stop() { m_core->stop(); }

namespace detail {

void setContentsQueryLimitForTest(int milliseconds) { g_contentsQueryLimitMs = milliseconds; }

void setScanReadHookForTest(std::function<void()> hook) { g_scanReadHook = std::move(hook); }

void setRemoveHookForTest(std::function<void()> hook) { g_removeHook = std::move(hook); }

}  // namespace detail
}  // namespace redIRI
