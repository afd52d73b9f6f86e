// Verification of peers. Entries wait in one queue and are served by up to kMaxThreads threads,
// which are started when entries arrive and end when the queue is empty. A swept host is first
// probed with a plain TCP connection (short timeout, abandoned on stop): most swept addresses
// have no host at all.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/ofstd/ofstd.h>

#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNetwork.h"

namespace redIRI {

namespace {

const int kMaxThreads = 16;
// Association and DIMSE timeouts of an echo, seconds.
const int kEchoTimeout = 5;

struct Entry {
  bool sweep = false;
  bool valid = false;
  std::string name, address, portText;
  int port = 0;
  std::string key() const { return address + "," + portText; }
};

// "name,address,port" or "address,port": fields are taken from the right, so a name may hold
// commas.
Entry parseEntry(const std::string& text, bool sweep) {
  Entry e;
  e.sweep = sweep;
  std::string rest = text;
  size_t comma = rest.rfind(',');
  if (comma != std::string::npos) {
    e.portText = detail::trimmed(rest.substr(comma + 1));
    rest.erase(comma);
  }
  if (sweep) {
    e.address = detail::trimmed(rest);
  } else {
    comma = rest.rfind(',');
    if (comma != std::string::npos) {
      e.address = detail::trimmed(rest.substr(comma + 1));
      e.name = rest.substr(0, comma);
    } else {
      e.name = rest;
    }
  }
  e.valid = detail::isIPv4Address(e.address) && detail::parsePort(e.portText, e.port);
  return e;
}

std::string answer(bool ok, const Entry& e, const std::string& name) {
  const std::string address = detail::jsonValue(e.address), port = detail::jsonValue(e.portText);
  return std::string("{\"ok\":\"") + (ok ? "1" : "0") + "\",\"appid\":\"dicom_" + address + "_" + port +
         "\",\"name\":\"" + detail::jsonValue(name) + "\",\"port\":\"" + port + "\",\"ip\":\"" + address + "\"}";
}

struct Worker {
  std::thread thread;
  bool done = false;
};

}  // namespace

struct dcmEcho::Core {
  std::mutex lock;  // guards everything below but the atomics, the watch and the gate
  std::deque<Entry> queue;
  std::set<std::string> knownPending;  // known-node entries waiting or running
  int sweepPending = 0;                // entries of the running sweep
  std::list<std::unique_ptr<Worker>> workers;
  int running = 0;  // threads started and not yet ended
  int busy = 0;     // of those, the ones verifying an entry
  std::mutex joinLock;
  std::atomic<bool> stopping{false};
  detail::SocketWatch watch;
  detail::MessageGate gate;

  void echo(char** entries, int count, bool sweep);
  void stop();
  void shutdown();

 private:
  void serve(Worker* self);
  void verify(const Entry& e);
  void reapLocked();
};

void dcmEcho::Core::reapLocked() {
  for (auto it = workers.begin(); it != workers.end();) {
    if ((*it)->done) {
      // It has left the queue loop and only returns from its function now.
      (*it)->thread.join();
      it = workers.erase(it);
    } else {
      ++it;
    }
  }
}

void dcmEcho::Core::echo(char** entries, int count, bool sweep) {
  if (!detail::networkReady() || !entries || count <= 0) return;
  std::lock_guard<std::mutex> guard(lock);
  if (stopping) return;
  reapLocked();
  if (sweep && sweepPending > 0) return;  // one sweep at a time
  for (int i = 0; i < count; ++i) {
    if (!entries[i]) continue;
    Entry e = parseEntry(entries[i], sweep);
    if (sweep) {
      if (!e.valid) continue;
      ++sweepPending;
    } else if (!knownPending.insert(e.key()).second) {
      continue;
    }
    queue.push_back(std::move(e));
  }
  while (running < kMaxThreads && static_cast<size_t>(running - busy) < queue.size()) {
    workers.push_back(std::make_unique<Worker>());
    Worker* w = workers.back().get();
    ++running;
    // Joined by stop() and by the library's shutdown hook (rediri_destroy, or the exit handler
    // when the program did not end the library).
    w->thread = std::thread(&Core::serve, this, w);
  }
}

void dcmEcho::Core::serve(Worker* self) {
  for (;;) {
    Entry e;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (stopping || queue.empty()) {
        --running;
        self->done = true;
        return;
      }
      e = std::move(queue.front());
      queue.pop_front();
      ++busy;
    }
    verify(e);
    std::lock_guard<std::mutex> guard(lock);
    --busy;
    if (e.sweep)
      --sweepPending;
    else
      knownPending.erase(e.key());
  }
}

void dcmEcho::Core::verify(const Entry& e) {
  bool ok = false;
  std::string name = e.name;
  if (e.valid && (!e.sweep || detail::probeConnection(e.address, e.port, detail::kSweepConnectTimeout * 1000, stopping))) {
    detail::ClientAssociation association(watch);
    std::string error;
    detail::ProposedContext verification{UID_VerificationSOPClass, detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT};
    if (association.open(e.address, e.port, detail::kAnyCalledAETitle, {verification}, error, kEchoTimeout)) {
      T_ASC_Association* assoc = association.get();
      T_DIMSE_Message request;
      std::memset(&request, 0, sizeof(request));
      request.CommandField = DIMSE_C_ECHO_RQ;
      T_DIMSE_C_EchoRQ& echo = request.msg.CEchoRQ;
      echo.MessageID = assoc->nextMsgID++;
      OFStandard::strlcpy(echo.AffectedSOPClassUID, UID_VerificationSOPClass, sizeof(echo.AffectedSOPClassUID));
      echo.DataSetType = DIMSE_DATASET_NULL;
      const T_ASC_PresentationContextID presId = ASC_findAcceptedPresentationContextID(assoc, UID_VerificationSOPClass);
      OFCondition cond = DIMSE_sendMessageUsingMemoryData(assoc, presId, &request, nullptr, nullptr, nullptr, nullptr);
      T_DIMSE_Message response;
      if (cond.good())
        cond = detail::receiveResponse(assoc, kEchoTimeout, DIMSE_C_ECHO_RSP, echo.MessageID, response);
      ok = cond.good() && response.msg.CEchoRSP.DimseStatus == STATUS_Success;
      if (e.sweep) {
        const std::string responding = association.respondingAETitle();
        name = responding.empty() || responding == detail::kAnyCalledAETitle ? e.address : responding;
      }
      if (cond.good()) {
        association.release();
      } else {
        association.abort();
        if (!stopping)
          detail::logLine("DICOM echo of %s:%d failed: %s", e.address.c_str(), e.port, cond.text());
      }
    }
  }
  // Unanswered hosts of a sweep are not reported: a sweep covers whole subnets.
  if (stopping || (e.sweep && !ok)) return;
  gate.post(4, answer(ok, e, name));
}

void dcmEcho::Core::stop() {
  gate.close();
  std::lock_guard<std::mutex> guard(lock);
  stopping = true;
  queue.clear();
  watch.interrupt();
}

void dcmEcho::Core::shutdown() {
  stop();
  std::lock_guard<std::mutex> join(joinLock);
  std::list<std::unique_ptr<Worker>> ending;
  {
    std::lock_guard<std::mutex> guard(lock);
    ending.swap(workers);
  }
  for (auto& w : ending) w->thread.join();
}

dcmEcho::dcmEcho() : m_core(std::make_shared<Core>()) { m_hook = detail::hookShutdown(m_core); }

dcmEcho::~dcmEcho() {
  detail::removeShutdownHook(m_hook);
  m_core->shutdown();
}

void dcmEcho::echo(char** entries, int count, bool sweep) { m_core->echo(entries, count, sweep); }

void dcmEcho::stop() { m_core->stop(); }

}  // namespace redIRI
