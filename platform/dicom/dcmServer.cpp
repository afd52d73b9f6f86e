// The storage server: one listener thread accepts associations and hands each to a worker
// thread of its own (at most kMaxWorkers at once; more are rejected as a transient local limit).
// Workers wait for requests in short slices so a stop is seen at once when they are idle; a
// worker busy with a message may finish it within one DIMSE timeout before its connection is
// cut.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/ofstd/ofstd.h>

#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNaming.h"
#include "dcmNetwork.h"
#include "dcmStorage.h"
#include "dcmText.h"

namespace redIRI {

namespace {

const int kMaxWorkers = 8;
const char* const kIncomingFolder = ".incoming/";

struct Worker {
  std::thread thread;
  std::atomic<bool> done{false};
};

// One run of the server, from BeginDicomServer to StopDicomServer.
struct Run {
  detail::SocketWatch watch;
  detail::WatchedLayer layer{watch};
  T_ASC_Network* net = nullptr;
  int port = 0;
  std::string root;  // ends in "/"
  std::string aeTitle;
  int language = 0;
  std::atomic<bool> stopping{false};
  std::thread listener;

  std::mutex lock;  // guards workers and active
  std::condition_variable idle;
  std::list<std::unique_ptr<Worker>> workers;
  int active = 0;
};

std::string peerOf(T_ASC_Association* assoc) {
  char calling[128] = {0}, called[128] = {0};
  ASC_getPresentationAddresses(assoc->params, calling, sizeof(calling), called, sizeof(called));
  char callingAE[80] = {0}, calledAE[80] = {0}, responding[80] = {0};
  ASC_getAPTitles(assoc->params, callingAE, sizeof(callingAE), calledAE, sizeof(calledAE), responding,
                  sizeof(responding));
  return std::string("\"") + detail::trimmed(callingAE) + "\" at " + calling;
}

void dropAssociation(T_ASC_Association*& assoc) {
  ASC_dropAssociation(assoc);
  ASC_destroyAssociation(&assoc);
}

// Serves one C-STORE request; false when the association broke.
bool handleStore(Run& run, T_ASC_Association* assoc, T_ASC_PresentationContextID presId, T_DIMSE_C_StoreRQ& request,
                 const std::string& peer) {
  std::string folder, error;
  const bool ok = detail::serveStoreRequest(
      "DICOM server", assoc, presId, request, run.language, detail::kServerDimseTimeout,
      [&](detail::ReceivedObject& object) {
        folder = object.dicomFolder();
        std::string why;
        if (object.write(run.root + folder + "/", run.root + kIncomingFolder, why)) return true;
        detail::logLine("DICOM server: cannot store the image %s from %s below \"%s\": %s",
                        request.AffectedSOPInstanceUID, peer.c_str(), run.root.c_str(), why.c_str());
        return false;
      },
      [&](detail::ReceivedObject& object) { detail::postStoredRecord(object.record(folder + "/")); }, error);
  if (!ok) detail::logLine("DICOM server: association with %s: %s", peer.c_str(), error.c_str());
  return ok;
}

void serveAssociation(Run& run, T_ASC_Association* assoc, const std::string& peer) {
  // From here this thread answers for the connection: a stop lets it finish its message.
  run.watch.claim(detail::associationSocket(assoc));
  bool released = false;
  for (;;) {
    const detail::DataWait wait = detail::waitForData(assoc, run.stopping, detail::kServerDimseTimeout * 1000);
    if (wait == detail::DataWait::Stopped) {
      detail::logLine("DICOM server: association with %s aborted: the server is stopping", peer.c_str());
      detail::abortAssociation(assoc);
      break;
    }
    if (wait == detail::DataWait::TimedOut) {
      detail::logLine("DICOM server: association with %s aborted: no request for %d s", peer.c_str(),
                      detail::kServerDimseTimeout);
      detail::abortAssociation(assoc);
      break;
    }
    T_ASC_PresentationContextID presId = 0;
    T_DIMSE_Message message;
    OFCondition cond = detail::receiveCommand(assoc, detail::kServerDimseTimeout, presId, message);
    if (cond == DUL_PEERREQUESTEDRELEASE) {
      ASC_acknowledgeRelease(assoc);
      released = true;
      break;
    }
    if (cond == DUL_PEERABORTEDASSOCIATION) {
      detail::logLine("DICOM server: association aborted by %s", peer.c_str());
      break;
    }
    if (cond.bad()) {
      detail::logLine("DICOM server: association with %s failed: %s", peer.c_str(), cond.text());
      detail::abortAssociation(assoc);
      break;
    }
    if (message.CommandField == DIMSE_C_ECHO_RQ) {
      cond = DIMSE_sendEchoResponse(assoc, presId, &message.msg.CEchoRQ, STATUS_Success, nullptr);
      if (cond.bad()) {
        detail::logLine("DICOM server: answering an echo of %s failed: %s", peer.c_str(), cond.text());
        detail::abortAssociation(assoc);
        break;
      }
    } else if (message.CommandField == DIMSE_C_STORE_RQ) {
      if (!handleStore(run, assoc, presId, message.msg.CStoreRQ, peer)) {
        detail::abortAssociation(assoc);
        break;
      }
    } else {
      detail::logLine("DICOM server: association with %s aborted: unsupported request 0x%04x", peer.c_str(),
                      static_cast<unsigned>(message.CommandField));
      detail::abortAssociation(assoc);
      break;
    }
  }
  // After a release the peer closes the connection; do not wait long for it.
  if (released)
    ASC_dropSCPAssociation(assoc, 1);
  else
    ASC_dropAssociation(assoc);
  ASC_destroyAssociation(&assoc);
}

void reject(T_ASC_Association*& assoc, T_ASC_RejectParametersResult result, T_ASC_RejectParametersSource source,
            T_ASC_RejectParametersReason reason) {
  T_ASC_RejectParameters rej = {result, source, reason};
  ASC_rejectAssociation(assoc, &rej);
  dropAssociation(assoc);
}

void reapWorkers(Run& run) {
  std::list<std::unique_ptr<Worker>> finished;
  {
    std::lock_guard<std::mutex> lock(run.lock);
    for (auto it = run.workers.begin(); it != run.workers.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = run.workers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& w : finished) w->thread.join();
}

void negotiate(Run& run, T_ASC_Association* assoc) {
  const std::string peer = peerOf(assoc);
  const char* verification[] = {UID_VerificationSOPClass};
  std::vector<const char*> plain;
  for (const std::string& s : detail::uncompressedSyntaxes()) plain.push_back(s.c_str());
  plain.push_back(UID_BigEndianExplicitTransferSyntax);
  std::vector<const char*> receivable;
  for (const std::string& s : detail::receivableSyntaxes()) receivable.push_back(s.c_str());

  OFCondition cond = ASC_acceptContextsWithPreferredTransferSyntaxes(assoc->params, verification, 1, plain.data(),
                                                                     static_cast<int>(plain.size()));
  if (cond.good())
    cond = ASC_acceptContextsWithPreferredTransferSyntaxes(assoc->params, dcmAllStorageSOPClassUIDs,
                                                           numberOfDcmAllStorageSOPClassUIDs, receivable.data(),
                                                           static_cast<int>(receivable.size()));
  if (cond.bad()) {
    detail::logLine("DICOM server: association with %s refused: %s", peer.c_str(), cond.text());
    reject(assoc, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON);
    return;
  }
  if (ASC_countAcceptedPresentationContexts(assoc->params) == 0) {
    detail::logLine("DICOM server: association with %s refused: no supported presentation context", peer.c_str());
    reject(assoc, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON);
    return;
  }
  bool full;
  {
    std::lock_guard<std::mutex> lock(run.lock);
    full = run.active >= kMaxWorkers;
  }
  if (full) {
    detail::logLine("DICOM server: association with %s refused: %d associations already open", peer.c_str(),
                    kMaxWorkers);
    reject(assoc, ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
           ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED);
    return;
  }
  // Whatever title the peer called, we answer with our own.
  ASC_setAPTitles(assoc->params, nullptr, nullptr, run.aeTitle.c_str());
  cond = ASC_acknowledgeAssociation(assoc);
  if (cond.bad()) {
    detail::logLine("DICOM server: accepting the association with %s failed: %s", peer.c_str(), cond.text());
    dropAssociation(assoc);
    return;
  }
  detail::logLine("DICOM server: association accepted from %s", peer.c_str());

  std::lock_guard<std::mutex> lock(run.lock);
  ++run.active;
  run.workers.push_back(std::make_unique<Worker>());
  Worker* worker = run.workers.back().get();
  worker->thread = std::thread([&run, assoc, worker, peer] {
    serveAssociation(run, assoc, peer);
    std::lock_guard<std::mutex> done(run.lock);
    --run.active;
    worker->done = true;
    run.idle.notify_all();
  });
}

void listen(Run& run) {
  const int fd = static_cast<int>(DUL_networkSocket(run.net->network));
  while (!run.stopping) {
    reapWorkers(run);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, detail::kPollSliceMs) <= 0 || run.stopping) continue;
    T_ASC_Association* assoc = nullptr;
    OFCondition cond =
        ASC_receiveAssociation(run.net, &assoc, ASC_DEFAULTMAXPDU, nullptr, nullptr, OFFalse, DUL_NOBLOCK, 1);
    if (cond.good()) {
      negotiate(run, assoc);
      continue;
    }
    if (cond != DUL_NOASSOCIATIONREQUEST)
      detail::logLine("DICOM server: an association request on port %d failed: %s", run.port, cond.text());
    if (assoc) dropAssociation(assoc);
  }
}

}  // namespace

struct dcmServer::Core {
  std::mutex configLock;
  int language = 0;
  std::string addresses, port, aeTitle = detail::kOwnAETitle, root;

  std::mutex runLock;  // serialises begin and stop
  std::unique_ptr<Run> run;
  bool ended = false;

  bool begin();
  void stop();
};

bool dcmServer::Core::begin() {
  std::lock_guard<std::mutex> guard(runLock);
  if (ended || !detail::networkReady()) return false;
  if (run) return true;

  auto next = std::make_unique<Run>();
  std::string portText, addressList;
  {
    std::lock_guard<std::mutex> lock(configLock);
    portText = port;
    addressList = addresses;
    next->aeTitle = aeTitle.substr(0, 16);
    next->root = root;
    next->language = language;
  }
  if (!detail::parsePort(detail::trimmed(portText), next->port)) {
    detail::logLine("DICOM server: invalid port \"%s\"", portText.c_str());
    return false;
  }
  if (next->root.empty()) {
    detail::logLine("DICOM server: no storage folder set");
    return false;
  }
  if (next->root.back() != '/') next->root.push_back('/');

  OFCondition cond = ASC_initializeNetwork(NET_ACCEPTOR, next->port, detail::kServerAcseTimeout, &next->net);
  if (cond.good()) cond = ASC_setTransportLayer(next->net, &next->layer, 0);
  if (cond.bad()) {
    detail::logLine("DICOM server: cannot listen on port %d: %s", next->port, cond.text());
    if (next->net) ASC_dropNetwork(&next->net);
    return false;
  }
  Run* r = next.get();
  r->listener = std::thread([r] { listen(*r); });
  detail::logLine("DICOM server: listening on port %d as \"%s\" (local addresses %s), storing below \"%s\"", r->port,
                  r->aeTitle.c_str(), addressList.empty() ? "none" : addressList.c_str(), r->root.c_str());
  run = std::move(next);
  return true;
}

void dcmServer::Core::stop() {
  std::lock_guard<std::mutex> guard(runLock);
  if (!run) return;
  run->stopping = true;
  // A connection still being negotiated (a peer that connected and says nothing) holds up
  // the listener: cut it.
  run->watch.interruptUnclaimed();
  run->listener.join();
  {
    std::unique_lock<std::mutex> lock(run->lock);
    run->idle.wait_for(lock, std::chrono::seconds(detail::kServerDimseTimeout + 1), [this] { return run->active == 0; });
  }
  // Whatever is still blocked on a peer that stopped talking is cut off now.
  run->watch.interrupt();
  reapWorkers(*run);
  for (auto& w : run->workers) w->thread.join();
  run->workers.clear();
  ASC_dropNetwork(&run->net);
  detail::logLine("DICOM server: stopped on port %d", run->port);
  run.reset();
}

dcmServer::dcmServer() : m_core(std::make_shared<Core>()) {
  std::weak_ptr<Core> weak = m_core;
  m_hook = detail::addShutdownHook([weak] {
    if (auto core = weak.lock()) {
      core->stop();
      std::lock_guard<std::mutex> guard(core->runLock);
      core->ended = true;
    }
  });
}

dcmServer::~dcmServer() {
  detail::removeShutdownHook(m_hook);
  m_core->stop();
}

void dcmServer::setLanguage(int language) {
  detail::setNetworkLanguage(language);
  std::lock_guard<std::mutex> lock(m_core->configLock);
  m_core->language = language;
}

void dcmServer::setPort(const char* localAddresses, const char* port, const char* aeTitle) {
  std::lock_guard<std::mutex> lock(m_core->configLock);
  m_core->addresses = detail::textOf(localAddresses);
  m_core->port = detail::textOf(port);
  const std::string title = detail::trimmed(detail::textOf(aeTitle));
  m_core->aeTitle = title.empty() ? detail::kOwnAETitle : title;
}

void dcmServer::setRoot(const char* folder) {
  std::lock_guard<std::mutex> lock(m_core->configLock);
  m_core->root = detail::textOf(folder);
}

const char* dcmServer::getRoot() const { return m_core->root.c_str(); }

bool dcmServer::BeginDicomServer() { return m_core->begin(); }

void dcmServer::StopDicomServer() { m_core->stop(); }

void dcmServer::getDicomFolder(const char* patientName, const char* patientID, const char* studyUID,
                               const char* seriesUID, char out[1024]) {
  if (!out) return;
  const std::string folder = naming::dicomFolder(detail::textOf(patientName), detail::textOf(patientID),
                                                 detail::textOf(studyUID), detail::textOf(seriesUID));
  text::copyCut(folder, out, 1024);
}

}  // namespace redIRI
