// Series retrieval with C-GET: the files come back on the same association, into the folder the
// caller names. Retrievals wait in a queue served by the get thread (started when tasks arrive,
// ended when none are left), one at a time. The receive loop waits in short slices, so a
// cancellation (removeTask) is sent at once and a stop ends the task at once.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/ofstd/ofstd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNaming.h"
#include "dcmNetwork.h"
#include "dcmStorage.h"

namespace redIRI {

namespace {

const char* const kIncomingFolder = ".incoming/";
// How long a cancelled retrieval waits for the peer's final answer, seconds.
const int kCancelWait = 5;

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

std::string progressText(const Task& task, unsigned remaining, unsigned completed, unsigned failed, unsigned warning) {
  std::string uid = task.seriesUID();
  for (char& c : uid)
    if (c == '|') c = '_';
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

// The contexts of a retrieval. A peer accepts one transfer syntax per context and sends each
// object over a context accepted for its class and, unless it converts, for the syntax it is
// stored in. So the uncompressed syntaxes share one context and every compressed syntax in
// common use has a context of its own: a series stored compressed arrives as stored. This
// costs ten contexts a class, which the common image classes get; the classes after them get
// the uncompressed context only, as far as room remains. Deflated files and the retired JPEG
// processes have no context: a peer converts them.
std::vector<detail::ProposedContext> retrievalContexts() {
  std::vector<std::string> uncompressed;
  std::vector<std::string> compressed;
  for (const std::string& uid : detail::receivableSyntaxes()) {
    const E_TransferSyntax xfer = DcmXfer(uid.c_str()).getXfer();
    if (detail::isUncompressed(xfer))
      uncompressed.push_back(uid);
    else if (xfer != EXS_DeflatedLittleEndianExplicit && xfer != EXS_JPEGProcess6_8 && xfer != EXS_JPEGProcess10_12)
      compressed.push_back(uid);
  }
  std::vector<detail::ProposedContext> contexts;
  contexts.push_back({UID_GETStudyRootQueryRetrieveInformationModel, detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT});
  // In the storage contexts we take the role of the storage provider.
  std::set<std::string> proposed;
  for (const char* sopClass : kCommonImageClasses) {
    if (contexts.size() + 1 + compressed.size() > kMaxContexts) break;
    proposed.insert(sopClass);
    contexts.push_back({sopClass, uncompressed, ASC_SC_ROLE_SCP});
    for (const std::string& syntax : compressed) contexts.push_back({sopClass, {syntax}, ASC_SC_ROLE_SCP});
  }
  auto addUncompressed = [&](const char* sopClass) {
    if (contexts.size() >= kMaxContexts || !proposed.insert(sopClass).second) return;
    contexts.push_back({sopClass, uncompressed, ASC_SC_ROLE_SCP});
  };
  for (const char* sopClass : kCommonImageClasses) addUncompressed(sopClass);
  for (const char* sopClass : kFurtherImageClasses) addUncompressed(sopClass);
  for (int i = 0; i < numberOfDcmLongSCUStorageSOPClassUIDs; ++i) addUncompressed(dcmLongSCUStorageSOPClassUIDs[i]);
  return contexts;
}

std::string withSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// Where the files of a series are written: a folder of the save folder named after the series.
std::string seriesFolder(const std::string& saveFolder, const std::string& seriesUID) {
  return saveFolder + naming::safeComponent(seriesUID.empty() ? naming::kUnknownSeries : seriesUID) + "/";
}

}  // namespace

struct dcmGet::Core {
  std::mutex lock;  // guards the queue, the running task, the default title and the thread
  std::deque<Task> waiting;
  std::unique_ptr<Task> running;
  std::string defaultCalledAE;
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
  void stop();
  void shutdown();

 private:
  void serve();
  // True when the series was retrieved into `folder`; `stored` counts the files written.
  bool retrieve(const Task& task, const std::string& folder, const std::string& tempFolder, int& stored);
};

void dcmGet::Core::add(Task task) {
  if (!detail::networkReady()) return;
  std::lock_guard<std::mutex> guard(lock);
  if (stopping) return;
  if (running && running->seriesUID() == task.seriesUID()) return;
  for (const Task& t : waiting)
    if (t.seriesUID() == task.seriesUID()) return;
  task.calledAE = task.fields[kCalledAE];
  if (task.calledAE.empty()) task.calledAE = defaultCalledAE.empty() ? detail::kAnyCalledAETitle : defaultCalledAE;
  waiting.push_back(std::move(task));
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

void dcmGet::Core::discard(const std::string& saveFolder, const std::string& seriesUID) {
  if (saveFolder.empty() || seriesUID.empty()) return;
  std::lock_guard<std::mutex> guard(lock);
  if (running && running->seriesUID() == seriesUID) return;
  for (const Task& t : waiting)
    if (t.seriesUID() == seriesUID) return;
  std::error_code error;
  const std::string folder = seriesFolder(withSlash(saveFolder), seriesUID);
  if (std::filesystem::remove_all(folder, error) > 0)
    detail::logLine("DICOM retrieval of series %s: what a failed retrieval left in \"%s\" is removed",
                    seriesUID.c_str(), folder.c_str());
}

void dcmGet::Core::stop() {
  gate.close();
  std::lock_guard<std::mutex> guard(lock);
  stopping = true;
  interrupt = true;
  waiting.clear();
  watch.interrupt();
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
    {
      std::lock_guard<std::mutex> guard(lock);
      running.reset();
      if (stopping || waiting.empty()) {
        threadRunning = false;
        return;
      }
      task = std::move(waiting.front());
      waiting.pop_front();
      running = std::make_unique<Task>(task);
      cancelRunning = false;
      interrupt = false;
    }
    gate.post(9, task.seriesUID());
    const std::string saveFolder = withSlash(task.fields[kSaveFolder]);
    const std::string folder = seriesFolder(saveFolder, task.seriesUID());
    int stored = 0;
    const bool ok = retrieve(task, folder, saveFolder + kIncomingFolder, stored) && !cancelRunning;
    {
      // Off the list before its last messages: whoever reads the list on hearing them must not
      // find it still running.
      std::lock_guard<std::mutex> guard(lock);
      running.reset();
    }
    if (stopping) continue;
    // A series cut short is not handed on: the import would list it as if whole. Its files stay
    // in the folder for a retrieval that completes it, or until it is discarded.
    if (ok) {
      gate.post(8, folder);
      gate.post(10, task.fields[kPatientName] + "(" + task.fields[kSeriesNumber] + "," + task.fields[kModality] + ")");
    } else {
      if (stored > 0)
        detail::logLine("DICOM retrieval of series %s: %d images kept in \"%s\" until a retrieval completes the series",
                        task.seriesUID().c_str(), stored, folder.c_str());
      gate.post(11, task.record());
    }
  }
}

bool dcmGet::Core::retrieve(const Task& task, const std::string& folder, const std::string& tempFolder, int& stored) {
  const std::string peer = task.fields[kAddress] + ":" + task.fields[kPort];
  const std::string& series = task.seriesUID();
  auto failed = [&](const std::string& reason) {
    if (!stopping) detail::logLine("DICOM retrieval of series %s from %s failed: %s", series.c_str(), peer.c_str(), reason.c_str());
    return false;
  };
  int port = 0;
  if (!detail::isIPv4Address(task.fields[kAddress]) || !detail::parsePort(task.fields[kPort], port))
    return failed("not an IPv4 address and port");
  if (task.fields[kSaveFolder].empty()) return failed("no download folder given");
  // An empty unique key would match every series of the study (or every study).
  if (series.empty() || task.fields[kStudyUID].empty()) return failed("no study or series UID given");
  if (stopping) return false;

  detail::ClientAssociation association(watch);
  std::string error;
  if (!association.open(task.fields[kAddress], port, task.calledAE, retrievalContexts(), error)) return failed(error);
  T_ASC_Association* assoc = association.get();
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
      const bool ok = detail::serveStoreRequest(
          "DICOM retrieval", peer, assoc, presId, incoming.msg.CStoreRQ, detail::networkLanguage(),
          detail::kClientDimseTimeout,
          [&](detail::ReceivedObject& object) {
            std::string why;
            if (object.write(folder, tempFolder, why)) return true;
            detail::logLine("DICOM retrieval of series %s: cannot store an image in \"%s\": %s", series.c_str(),
                            folder.c_str(), why.c_str());
            return false;
          },
          [&](detail::ReceivedObject&) { ++stored; }, error);
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
    if (pending) {
      if (counted) gate.post(7, progressText(task, remaining, completed, failedCount, warning));
      continue;
    }
    // The final answer closes the counts, whatever it says about the remaining ones.
    if (!(response.opts & O_GET_NUMBEROFREMAININGSUBOPERATIONS)) remaining = 0;
    if (!(response.opts & O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS)) completed = static_cast<unsigned>(stored);
    gate.post(7, progressText(task, remaining, completed, failedCount, warning));
    association.release();
    if (cancelSent) return failed("cancelled");
    if (response.DimseStatus != STATUS_GET_Success && response.DimseStatus != STATUS_GET_Warning_SubOperationsCompleteOneOrMoreFailures) {
      char status[48];
      std::snprintf(status, sizeof(status), "the peer answered status 0x%04x", response.DimseStatus);
      return failed(status);
    }
    if (failedCount != 0) return failed(std::to_string(failedCount) + " images could not be retrieved");
    if (stored == 0) return failed("no image was received");
    return true;
  }
}

dcmGet::dcmGet() : m_core(std::make_shared<Core>()) { m_hook = detail::hookShutdown(m_core); }

dcmGet::~dcmGet() {
  detail::removeShutdownHook(m_hook);
  m_core->shutdown();
}

void dcmGet::setDefaultCalledAETitle(const char* title) {
  std::lock_guard<std::mutex> guard(m_core->lock);
  m_core->defaultCalledAE = detail::trimmed(detail::textOf(title));
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

int dcmGet::getList(char* buffer, int bufferSize) { return m_core->list(buffer, bufferSize); }

void dcmGet::removeTask(const char* seriesUID) { m_core->remove(detail::trimmed(detail::textOf(seriesUID))); }

void dcmGet::discardSeries(const char* saveFolder, const char* seriesUID) {
  m_core->discard(detail::textOf(saveFolder), detail::trimmed(detail::textOf(seriesUID)));
}

void dcmGet::stop() { m_core->stop(); }

}  // namespace redIRI
