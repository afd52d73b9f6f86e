// The storage server. The listener thread only accepts TCP connections: it counts them by peer
// address and hands each one to a thread of its own, which reads the association request,
// negotiates and serves the association. A connection that stays silent or trickles, before its
// request, within a PDU or between messages, thus holds one slot for at most one deadline (the
// whole request within the ACSE timeout, each PDU within the DIMSE timeout and a minimum rate, see
// kMinPeerRate; DIMSE between messages) and delays nobody else. Slots are bounded in all and per
// peer address (see kServerMaxConnections).
//
// When every slot is taken, a newcomer takes over the slot of the slowest peer held, only when that
// peer moves fewer than kSlowPeerRate bytes a second (well under any sender at work), and never
// one the server itself holds up (waiting for room in the receive budget, parsing or writing its
// image), nor one in its first seconds: the rule and why, dcmServerSlots.h. When no peer is that slow, the
// newcomer is refused. Cutting a connection ends its wait for room at once and gives its share of
// the receive budget back (dcmReceiveBudget.h). No more than kMaxBeingCut are being cut at once.
//
// A connection beyond these bounds, or one whose thread cannot be started (no thread, no memory),
// is refused at once with an A-ASSOCIATE-RJ (transient, local limit exceeded), written by the
// listener without waiting for the request. Workers wait for requests in short slices so a stop
// is seen at once when they are idle; a worker busy with a message may finish it within one DIMSE
// timeout before its connection is cut.
//
// The listener accepts on a socket of its own. Each error of accept is read for what it says: a
// connection that went away is passed over; with no descriptor left, one kept in reserve is given
// up to take the waiting peer and refuse it with a reason; short of descriptors or memory, the
// listener rests a growing pause. A listening socket that fails (closed or shut down from outside,
// no longer listening) is closed and opened again with a growing pause, and so is one another
// program holds as the server begins: the server then listens as soon as it is free. The listener
// knows its sockets by the file they name, not by their number (OwnFd), at every wake: a number
// closed under it and given to another file is left to its new owner, and a socket of its own is
// opened again.
//
// Threads: the listener is started by begin and ended by stop (which raises `stopping` and joins
// it); each connection's worker is started by the listener and ends when its connection does; the
// listener joins the finished ones (reapWorkers) and stop joins the rest.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/ofstd/ofstd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNaming.h"
#include "dcmNetwork.h"
#include "dcmParseBound.h"
#include "dcmStorage.h"
#include "dcmText.h"

namespace redIRI {

namespace {

// How long a refused connection is kept to read what its peer still sends (its association
// request) before it is closed: closing with unread data would reset the connection, and the peer
// might lose the rejection before reading it.
const int kRefusalLingerMs = 2000;
const int kMaxLingering = 64;
// How long the listener stops accepting when the process or the system runs out of descriptors or
// memory (EMFILE, ENFILE, ENOBUFS, ENOMEM): the waiting connection keeps the listening socket
// readable, so polling it again at once would spin until one frees. The pause doubles while the
// shortage lasts.
const int kExhaustedFirstPauseMs = 100;
const int kExhaustedMaxPauseMs = 2000;
// Errors of one waiting connection (accept(2)'s network errors: the connection went away or the
// network under it did) are retried at once; this many in one wake and the listener rests this
// long instead, in case one of them lasts.
const int kTransientRetries = 16;
const int kTransientPauseMs = 50;
// How long the listener waits before opening its listening socket again, after it failed or while
// another program holds the port: first kReopenFirstPauseMs, doubling to kReopenMaxPauseMs.
const int kReopenFirstPauseMs = 100;
const int kReopenMaxPauseMs = 4000;
// A socket opened again after a failure that then listens this long ends the failure: a later one
// is told again (in the log and to the user), and the pauses start again from the first. A socket
// that fails again sooner (something kills it as soon as it listens) is told once, not each time.
const int kSteadyListeningMs = 5000;
const int kListenBacklog = 64;
// Connections cut to make room that may be closing at once; beyond them a new one is refused.
const int kMaxBeingCut = 16;
const char* const kIncomingFolder = ".incoming/";

// DCMTK reads an association request only from a socket it accepted itself or from the one set in
// the process-wide dcmExternalSocketHandle. Our listener accepts, so each connection's thread hands
// its socket to DCMTK through that setting, one thread at a time: from setting it until DCMTK
// wraps the socket in a connection (HandoverLayer::createConnection, called before anything is
// read), which takes no time on the network.
std::mutex g_handoverLock;
thread_local int t_handingOver = -1;  // the socket this thread is handing over, while it holds the lock
thread_local detail::PeerTally* t_tally = nullptr;  // the tally of the connection this thread serves

void endHandover() {
  if (t_handingOver < 0) return;
  t_handingOver = -1;
  dcmExternalSocketHandle.set(DCMNET_INVALID_SOCKET);
  g_handoverLock.unlock();
}

class HandoverLayer : public detail::WatchedLayer {
 public:
  using WatchedLayer::WatchedLayer;
  void setTimeouts(int acseTimeout, int dimseTimeout) {
    setDeadlines({acseTimeout, dimseTimeout});
    m_dimseTimeout = dimseTimeout;
  }
  DcmTransportConnection* createConnection(DcmNativeSocketType openSocket, OFBool secure) override {
    if (t_handingOver == static_cast<int>(openSocket)) endHandover();
    (void)secure;
    DcmTransportConnection* connection = connect(openSocket, t_tally);
    // No single read or write waits longer than the server's timeouts (ACSE and DIMSE alike)
    // rather than DCMTK's process-wide 60 s, set as the connection is made: DCMTK times the
    // start of a PDU but not the rest of it, so a peer that stops halfway through its request or
    // a message would hold its thread that long.
    // Reads are also held to the PDU deadlines of the layer; this bounds the writes.
    const timeval bound{m_dimseTimeout, 0};
    ::setsockopt(openSocket, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound));
    ::setsockopt(openSocket, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof(bound));
    return connection;
  }

 private:
  int m_dimseTimeout = detail::kServerDimseTimeout;  // s
};

using Clock = std::chrono::steady_clock;

// One connection and its thread. All but the tally's count are guarded by the run's lock.
struct Worker {
  Worker(int fd, const std::string& from) : tally(fd), address(from), started(Clock::now()) {
    mark[0] = mark[1] = {0, 0, started};
  }
  std::thread thread;
  std::atomic<bool> done{false};
  detail::PeerTally tally;
  const std::string address;
  const Clock::time_point started;
  bool cut = false;  // cut to make room: no longer counted in the slots
  // The bytes read, and the time the server held the connection up, by two moments
  // kRateWindowSeconds apart (the listener moves them on): how fast the connection moved bytes
  // is judged since the older.
  struct Mark {
    uint64_t bytes;
    int64_t heldMs;
    Clock::time_point at;
  } mark[2];
};

// A descriptor the listener opened, known by the file it names (device and inode) rather than by
// its number: closed under the listener, the number may soon name another part of the program's
// files or sockets, which the listener must neither read, accept on nor close.
struct OwnFd {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;

  // Takes `opened` (-1 for none) as the listener's own.
  void adopt(int opened) {
    struct stat st {};
    fd = opened >= 0 && ::fstat(opened, &st) == 0 ? opened : -1;
    if (fd < 0 && opened >= 0) ::close(opened);
    device = st.st_dev;
    inode = st.st_ino;
  }
  // Whether the number still names the file opened.
  bool ours() const {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
  }
  // Closes it if it is still ours; either way the number is forgotten.
  void close() {
    if (ours()) ::close(fd);
    fd = -1;
  }
};

// A refused connection: the rejection is written; what the peer still sends is read and dropped.
struct Lingering {
  OwnFd socket;
  std::chrono::steady_clock::time_point until;
};

// What the program reads of the port across runs (the server's Core holds it).
struct PortState {
  std::atomic<bool> listening{false};
  std::atomic<unsigned> failures{0};  // failures of the listening socket told, since the server was made
};

// One run of the server, from BeginDicomServer to StopDicomServer.
struct Run {
  detail::SocketWatch watch;
  HandoverLayer layer{watch};
  // DCMTK's acceptor network: only the context in which the workers read association requests. Its
  // own listening socket is replaced by one that never listens as the run begins; the listener
  // accepts on a socket of its own (`listening`), which it can close and open again.
  T_ASC_Network* net = nullptr;
  int port = 0;
  PortState* state = nullptr;  // the Core's, which outlives the run
  OwnFd listening;  // the listener's own (begin's until the listener starts): -1 while not listening
  OwnFd reserve;    // the listener's own: given up to accept and refuse a peer when no descriptor is left
  bool everListened = false;  // the listener's own: the port listened in this run
  std::string addressList;    // for the log
  std::string root;  // ends in "/"
  std::string aeTitle;
  int language = 0;
  detail::ServerBounds bounds;  // as the run began
  int failedStartsLeft = 0;     // the listener's own
  detail::LogTally shortageLog;  // the listener's own: what a shortage of descriptors made it log
  detail::LogTally refusalLog;   // the listener's own: the connections it refused (see refusals)
  std::atomic<bool> stopping{false};
  std::thread listener;

  std::mutex lock;  // guards workers, active, beingCut and perAddress
  std::condition_variable idle;
  std::list<std::unique_ptr<Worker>> workers;
  int active = 0;                         // connections being served, those cut not counted
  int beingCut = 0;                       // connections cut to make room whose threads still run
  std::map<std::string, int> perAddress;  // the connections counted in `active`, by peer address
  std::vector<Lingering> lingering;       // the listener's own
  Clock::time_point nextMark;             // the listener's own
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
      "DICOM server", peer, assoc, presId, request, run.language, run.bounds.dimseTimeout,
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
  // Every data set received is a parse of its own: what they make the layer log is bounded for the
  // association as a whole.
  detail::LogStream logStream("DICOM server: association with " + peer);
  // From here this thread answers for the connection: a stop lets it finish its message.
  run.watch.claim(detail::associationSocket(assoc));
  bool released = false;
  for (;;) {
    const detail::DataWait wait = detail::waitForData(assoc, run.stopping, run.bounds.dimseTimeout * 1000);
    if (wait == detail::DataWait::Stopped) {
      detail::logLine("DICOM server: association with %s aborted: the server is stopping", peer.c_str());
      detail::abortAssociation(assoc);
      break;
    }
    if (wait == detail::DataWait::TimedOut) {
      detail::logLine("DICOM server: association with %s aborted: no request for %d s", peer.c_str(),
                      run.bounds.dimseTimeout);
      detail::abortAssociation(assoc);
      break;
    }
    T_ASC_PresentationContextID presId = 0;
    T_DIMSE_Message message;
    OFCondition cond = detail::receiveCommand(assoc, run.bounds.dimseTimeout, presId, message);
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

// Answers the association request; true when the association was accepted.
bool negotiate(Run& run, T_ASC_Association*& assoc, const std::string& peer) {
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
    return false;
  }
  if (ASC_countAcceptedPresentationContexts(assoc->params) == 0) {
    detail::logLine("DICOM server: association with %s refused: no supported presentation context", peer.c_str());
    reject(assoc, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON);
    return false;
  }
  // Whatever title the peer called, we answer with our own.
  ASC_setAPTitles(assoc->params, nullptr, nullptr, run.aeTitle.c_str());
  cond = ASC_acknowledgeAssociation(assoc);
  if (cond.bad()) {
    detail::logLine("DICOM server: accepting the association with %s failed: %s", peer.c_str(), cond.text());
    dropAssociation(assoc);
    return false;
  }
  detail::logLine("DICOM server: association accepted from %s", peer.c_str());
  return true;
}

// A connection's thread: reads the association request (waiting at most the ACSE timeout for
// it), negotiates and serves the association. Owns `fd`.
void serveConnection(Run& run, Worker& worker, int fd, const std::string& address) {
  // Its waits for room in the receive budget are known to the listener, and end when it is cut.
  const detail::ServerHolds::Serving serving(&worker.tally.holds);
  T_ASC_Association* assoc = nullptr;
  OFCondition cond;
  {
    g_handoverLock.lock();
    t_handingOver = fd;
    t_tally = &worker.tally;
    dcmExternalSocketHandle.set(fd);
    cond = ASC_receiveAssociation(run.net, &assoc, ASC_DEFAULTMAXPDU, nullptr, nullptr, OFFalse, DUL_NOBLOCK, 0);
    t_tally = nullptr;
    if (t_handingOver == fd) {
      // DCMTK gave up before it took the socket.
      endHandover();
      worker.tally.closed();
      ::close(fd);
    }
  }
  if (cond.good()) {
    const std::string peer = peerOf(assoc);
    if (negotiate(run, assoc, peer)) serveAssociation(run, assoc, peer);
  } else {
    if (!run.stopping)
      detail::logLine("DICOM server: an association request on port %d from %s failed: %s", run.port,
                      address.c_str(), cond.text());
    if (assoc) dropAssociation(assoc);
  }
}

// The A-ASSOCIATE-RJ PDU of a transient rejection by the service provider (presentation related),
// reason "local limit exceeded": type 3, reserved, length 4, reserved, result 2, source 3, reason 2.
const unsigned char kLimitRejection[10] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x03, 0x02};

void refuse(Run& run, int fd) {
  (void)::send(fd, kLimitRejection, sizeof(kLimitRejection), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::shutdown(fd, SHUT_WR);
  if (run.lingering.size() >= static_cast<size_t>(kMaxLingering) || run.lingering.capacity() < kMaxLingering) {
    ::close(fd);
    return;
  }
  Lingering refused;
  refused.socket.adopt(fd);
  refused.until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefusalLingerMs);
  if (refused.socket.fd >= 0) run.lingering.push_back(refused);
}

// Reads and drops what refused peers send; closes their connections once they closed theirs or
// their time is up (all of them when `all`).
void tendLingering(Run& run, const std::vector<pollfd>& polled, bool all) {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = run.lingering.begin(); it != run.lingering.end();) {
    // One closed under the listener is let go unread: its number may name another file by now.
    bool closed = all || now >= it->until || !it->socket.ours();
    for (const pollfd& p : polled) {
      if (closed || p.fd != it->socket.fd || !p.revents) continue;
      char sink[4096];
      const ssize_t n = ::recv(it->socket.fd, sink, sizeof(sink), MSG_DONTWAIT);
      closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
    }
    if (closed) {
      it->socket.close();
      it = run.lingering.erase(it);
    } else {
      ++it;
    }
  }
}

// Gives back the slot of a connection from `address` (none when it was cut to make room) and logs
// the count left.
void giveBack(Run& run, const std::string& address, Worker* worker, bool started) {
  int open;
  {
    std::lock_guard<std::mutex> lock(run.lock);
    if (worker->cut) {
      --run.beingCut;
      open = run.active;
    } else {
      open = --run.active;
      if (--run.perAddress[address] <= 0) run.perAddress.erase(address);
    }
    if (started) {
      worker->done = true;
      run.idle.notify_all();
    } else {
      run.workers.remove_if([worker](const std::unique_ptr<Worker>& w) { return w.get() == worker; });
    }
  }
  detail::logLine("DICOM server: connection from %s closed, %d open", address.c_str(), open);
}

// What became of one look at the queue of waiting connections: one was taken (served or refused);
// none waits; the one waiting went away, or the network under it (accept(2)'s errors to be
// treated like "none waits" by trying again); the process or the system has no descriptor or
// memory left to take it; or the listening socket itself failed (closed, shut down, no longer
// listening). `error` is the system's.
struct Accepted {
  enum Kind { One, None, Transient, Exhausted, Failed } kind;
  int error = 0;
};

Accepted acceptError(int error) {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return {Accepted::None, error};
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:  // a firewall rule refused that connection
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ETIMEDOUT:
      return {Accepted::Transient, error};
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return {Accepted::Exhausted, error};
    default:  // EBADF, EINVAL (not listening: shut down or killed), ENOTSOCK, EFAULT
      return {Accepted::Failed, error};
  }
}

// Peers may connect faster than they are served, beyond the slots or what their address may hold,
// for as long as they like: the listener's refusals are one log stream for the run, whose count of
// lines left out is told once a connection is taken again, and at the stop.
std::string refusals(const Run& run) { return "DICOM server: connections refused on port " + std::to_string(run.port); }

// Starts the thread of a counted connection; false (nothing started) when it cannot be, for want
// of a thread or of memory.
bool startWorker(Run& run, Worker* worker, int fd, const std::string& address) {
  try {
    if (run.failedStartsLeft > 0) {
      --run.failedStartsLeft;
      if (run.bounds.outOfMemory) throw std::bad_alloc();
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    // Ends when its connection does; joined by the listener (reapWorkers) or by stop.
    worker->thread = std::thread([&run, fd, worker] {
      serveConnection(run, *worker, fd, worker->address);
      giveBack(run, worker->address, worker, true);
    });
    return true;
  } catch (const std::exception& e) {
    const detail::LogStream stream(refusals(run), run.refusalLog);
    detail::logLine("DICOM server: connection from %s refused: its thread cannot be started: %s", address.c_str(),
                    e.what());
    return false;
  }
}

// Moves the marks the connections' rates are judged by on, every kRateWindowSeconds (as bounded).
void markRates(Run& run) {
  const Clock::time_point now = Clock::now();
  if (now < run.nextMark) return;
  run.nextMark = now + std::chrono::milliseconds(run.bounds.rateWindowMs);
  std::lock_guard<std::mutex> lock(run.lock);
  for (auto& w : run.workers) {
    bool holding = false;
    w->mark[0] = w->mark[1];
    w->mark[1] = {w->tally.bytes.load(std::memory_order_relaxed), w->tally.holds.heldMs(now, holding), now};
  }
}

// With every slot taken, the connection a newcomer takes over (see dcmServerSlots.h), or none;
// called under the run's lock. `rate` is set to its bytes per second.
Worker* slotToTakeOver(Run& run, uint64_t& rate) {
  if (run.beingCut >= kMaxBeingCut) return nullptr;
  const Clock::time_point now = Clock::now();
  std::vector<Worker*> candidates;
  std::vector<detail::SlotStats> stats;
  candidates.reserve(run.workers.size());
  stats.reserve(run.workers.size());
  for (auto& w : run.workers) {
    if (w->cut || w->done) continue;
    const auto counted = run.perAddress.find(w->address);
    detail::SlotStats s;
    bool holding = false;
    const int64_t windowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - w->mark[0].at).count();
    const int64_t heldMs = w->tally.holds.heldMs(now, holding) - w->mark[0].heldMs;
    s.bytes = w->tally.bytes.load(std::memory_order_relaxed) - w->mark[0].bytes;
    s.peerMs = std::max<int64_t>(0, windowMs - heldMs);
    s.ageMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - w->started).count();
    s.heldByServer = holding;
    s.addressHolds = counted == run.perAddress.end() ? 0 : counted->second;
    candidates.push_back(w.get());
    stats.push_back(s);
  }
  const int chosen = detail::slotToGiveUp(stats, run.bounds.takeoverGraceMs, rate);
  return chosen < 0 ? nullptr : candidates[size_t(chosen)];
}

// Takes one waiting connection off the queue: refuses it when the slots are taken or its thread
// cannot be started, else starts its thread.
Accepted acceptOne(Run& run, int listenFd) {
  sockaddr_in from{};
  socklen_t length = sizeof(from);
  const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
  if (fd < 0) return acceptError(errno);
  char text[INET_ADDRSTRLEN] = {0};
  const char* address =
      from.sin_family == AF_INET && ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text)) ? text : "?";

  int open = 0, fromAddress = 0;
  Worker* worker = nullptr;
  Worker* victim = nullptr;
  uint64_t victimRate = 0;
  int victimsHeld = 0;
  try {
    std::lock_guard<std::mutex> lock(run.lock);
    open = run.active;
    auto counted = run.perAddress.find(address);
    fromAddress = counted == run.perAddress.end() ? 0 : counted->second;
    if (fromAddress < run.bounds.maxPerAddress) {
      if (open >= run.bounds.maxConnections) victim = slotToTakeOver(run, victimRate);
      if (open < run.bounds.maxConnections || victim) {
        run.workers.push_back(std::make_unique<Worker>(fd, address));
        worker = run.workers.back().get();
        ++run.perAddress[address];
        ++run.active;
      }
      if (victim) {
        victim->cut = true;
        ++run.beingCut;
        --run.active;
        victimsHeld = run.perAddress[victim->address]--;
      }
      open = run.active;
    }
  } catch (const std::exception& e) {
    // No memory to count it: nothing was counted.
    const detail::LogStream stream(refusals(run), run.refusalLog);
    detail::logLine("DICOM server: connection from %s refused: %s", address, e.what());
    refuse(run, fd);
    return {Accepted::One};
  }
  if (!worker) {
    const detail::LogStream stream(refusals(run), run.refusalLog);
    if (open >= run.bounds.maxConnections)
      detail::logLine("DICOM server: connection from %s refused: %d connections already open, none of them slower "
                      "than %llu bytes/s",
                      address, open, static_cast<unsigned long long>(detail::kSlowPeerRate));
    else
      detail::logLine("DICOM server: connection from %s refused: %d connections from that address already open",
                      address, fromAddress);
    refuse(run, fd);
    return {Accepted::One};
  }
  if (victim) {
    detail::logLine("DICOM server: connection from %s cut to make room for one from %s: it moved %llu bytes/s, "
                    "the fewest of the %d slots and fewer than %llu (its address held %d)",
                    victim->address.c_str(), address, static_cast<unsigned long long>(victimRate),
                    run.bounds.maxConnections, static_cast<unsigned long long>(detail::kSlowPeerRate), victimsHeld);
    victim->tally.cut();
  }
  detail::logLine("DICOM server: connection from %s, %d open", address, open);
  if (startWorker(run, worker, fd, address)) {
    detail::tellLeftOut(refusals(run), run.refusalLog, false);
  } else {
    giveBack(run, address, worker, false);
    refuse(run, fd);
  }
  return {Accepted::One};
}

// A listening socket on every IPv4 interface at `port`, not blocking (the listener must not block
// when a connection went away between its poll and its accept); -1 with errno set.
int openListening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, kListenBacklog) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void logListening(const Run& run) {
  detail::logLine("DICOM server: listening on port %d as \"%s\" (local addresses %s), storing below \"%s\"", run.port,
                  run.aeTitle.c_str(), run.addressList.empty() ? "none" : run.addressList.c_str(), run.root.c_str());
}

// Why the listening socket failed, as poll reported it.
std::string pollFailure(int fd, short revents) {
  if (revents & POLLNVAL) return "it is no longer open";
  int error = 0;
  socklen_t length = sizeof(error);
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) return std::strerror(error);
  return "it stopped listening";
}

// With no descriptor left in the process (or the system), gives up the reserve to take the peer
// waiting and refuse it at once with a reason, rather than leave it in the queue until its own
// timeout; takes the reserve again. False when the reserve is gone and cannot be taken again.
bool refuseWithReserve(Run& run) {
  if (run.reserve.fd >= 0) {
    run.reserve.close();
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    const int fd = ::accept4(run.listening.fd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      char text[INET_ADDRSTRLEN] = {0};
      const char* address =
          from.sin_family == AF_INET && ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text)) ? text : "?";
      detail::logLine("DICOM server: connection from %s refused: no descriptor left to serve it", address);
      // Not kept to linger (that would hold the descriptor the reserve needs): what the peer sent
      // so far is read first, so that closing does not reset the connection over the rejection.
      (void)::send(fd, kLimitRejection, sizeof(kLimitRejection), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::shutdown(fd, SHUT_WR);
      char sink[4096];
      while (::recv(fd, sink, sizeof(sink), MSG_DONTWAIT) > 0) {
      }
      ::close(fd);
    }
  }
  run.reserve.adopt(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  return run.reserve.fd >= 0;
}

// The listener: accepts connections on the run's listening socket, refuses those beyond the
// bounds, tends the refused ones, moves the rate marks on and reaps finished workers. When the
// listening socket fails, or another program holds the port, it opens it again with a growing
// pause. Started by Core::begin; ends when the run stops (Core::stop raises `stopping` and joins it).
void listen(Run& run) {
  using std::chrono::milliseconds;
  std::vector<pollfd> polled;
  Clock::time_point pausedUntil{};  // accepting paused: descriptors or memory ran out
  int exhaustedPauseMs = kExhaustedFirstPauseMs;
  bool exhausted = false;  // logged once until an accept succeeds again
  // The listening socket: while it is missing, opened again at reopenAt. A failure is told once
  // (failing) until the socket listens again and keeps listening for kSteadyListeningMs.
  Clock::time_point reopenAt = Clock::now() + milliseconds(kReopenFirstPauseMs), listeningSince = Clock::now();
  int reopenPauseMs = kReopenFirstPauseMs;
  bool failing = false;  // a port held at start is not a failure of the socket (begin told it)
  run.lingering.reserve(kMaxLingering);  // refusing never allocates
  run.reserve.adopt(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  // Peers may connect faster than descriptors free, for as long as a shortage lasts and as often as
  // it comes back: what it makes the listener log is one stream for the run.
  const std::string shortage = "DICOM server: connections on port " + std::to_string(run.port) +
                               " while descriptors ran out";
  auto socketFailed = [&](const std::string& why) {
    run.listening.close();
    run.state->listening = false;
    if (!failing) {
      detail::logLine("DICOM server: the listening socket of port %d failed: %s; it is opened again as soon as it can be",
                      run.port, why.c_str());
      ++run.state->failures;
      failing = true;
      reopenPauseMs = kReopenFirstPauseMs;
    }
    reopenAt = Clock::now() + milliseconds(reopenPauseMs);
  };
  auto lost = [&] {
    if (run.listening.ours()) return false;
    socketFailed("its number was closed under the server and names another file now");
    return true;
  };
  while (!run.stopping) {
    reapWorkers(run);
    markRates(run);
    Clock::time_point now = Clock::now();
    if (run.listening.fd < 0 && now >= reopenAt) {
      run.listening.adopt(openListening(run.port));
      if (run.listening.fd >= 0) {
        run.state->listening = true;
        listeningSince = now;
        if (run.everListened)
          detail::logLine("DICOM server: listening on port %d again", run.port);
        else
          logListening(run);
        run.everListened = true;
      } else {
        // Quietly: the failure (or the port held at start) was told once.
        reopenPauseMs = std::min(reopenPauseMs * 2, kReopenMaxPauseMs);
        reopenAt = now + milliseconds(reopenPauseMs);
      }
    }
    if (failing && run.listening.fd >= 0 && now - listeningSince >= milliseconds(kSteadyListeningMs)) failing = false;
    if (run.reserve.fd < 0) run.reserve.adopt(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    // While paused the listening socket is left out: its waiting connection keeps it readable.
    const bool paused = now < pausedUntil;
    polled.assign(1, pollfd{paused ? -1 : run.listening.fd, POLLIN, 0});
    for (const Lingering& l : run.lingering) polled.push_back(pollfd{l.socket.fd, POLLIN, 0});
    int sliceMs = detail::kPollSliceMs;
    if (run.listening.fd < 0)
      sliceMs = int(std::clamp<int64_t>(
          std::chrono::duration_cast<milliseconds>(reopenAt - now).count() + 1, 1, detail::kPollSliceMs));
    const int n = ::poll(polled.data(), polled.size(), sliceMs);
    if (run.stopping) break;
    tendLingering(run, polled, false);
    // Whatever woke it, or nothing: another's socket under the number may never wake it (a quiet
    // one), or wake it for what no accept takes (data, a datagram).
    if (run.listening.fd >= 0 && lost()) continue;
    if (n <= 0 || polled[0].fd < 0 || !polled[0].revents) continue;
    if (polled[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      socketFailed(pollFailure(run.listening.fd, polled[0].revents));
      continue;
    }
    // The listening socket does not block: take the connections waiting.
    int transients = 0;
    for (int taken = 0; taken < 64 && !run.stopping; ++taken) {
      if (lost()) break;
      const Accepted accepted = acceptOne(run, run.listening.fd);
      if (accepted.kind == Accepted::None) break;
      if (accepted.kind == Accepted::Transient) {
        if (++transients < kTransientRetries) continue;
        pausedUntil = Clock::now() + milliseconds(kTransientPauseMs);
        break;
      }
      if (accepted.kind == Accepted::Failed) {
        socketFailed(std::strerror(accepted.error));
        break;
      }
      if (accepted.kind == Accepted::Exhausted) {
        const detail::LogStream stream(shortage, run.shortageLog);
        const bool descriptors = accepted.error == EMFILE || accepted.error == ENFILE;
        if (!exhausted)
          detail::logLine("DICOM server: cannot accept connections on port %d: %s; %s", run.port,
                          std::strerror(accepted.error),
                          descriptors ? "refusing them until descriptors free" : "waiting for memory to free");
        if (!exhausted) exhaustedPauseMs = kExhaustedFirstPauseMs;
        exhausted = true;
        if (descriptors && refuseWithReserve(run)) continue;
        pausedUntil = Clock::now() + milliseconds(exhaustedPauseMs);
        exhaustedPauseMs = std::min(exhaustedPauseMs * 2, kExhaustedMaxPauseMs);
        break;
      }
      if (exhausted) {
        {
          const detail::LogStream stream(shortage, run.shortageLog);
          detail::logLine("DICOM server: accepting connections on port %d again", run.port);
        }
        detail::tellLeftOut(shortage, run.shortageLog, false);
      }
      exhausted = false;
    }
  }
  tendLingering(run, polled, true);
  detail::tellLeftOut(shortage, run.shortageLog, true);
  detail::tellLeftOut(refusals(run), run.refusalLog, true);
  run.reserve.close();
  run.listening.close();
  run.state->listening = false;
}

}  // namespace

struct dcmServer::Core {
  std::mutex configLock;
  int language = 0;
  std::string addresses, port, aeTitle = detail::kOwnAETitle, root;

  std::mutex runLock;  // serialises begin and stop
  std::unique_ptr<Run> run;
  bool ended = false;
  PortState portState;  // read by any thread

  bool begin();
  void stop();
};

bool dcmServer::Core::begin() {
  std::lock_guard<std::mutex> guard(runLock);
  if (ended || !detail::networkReady()) return false;
  if (run) return portState.listening;
  if (!rediri_parseBounded()) {
    detail::logLine("DICOM server: not started: the bound on DCMTK's parse is not in effect, so no image is received");
    return false;
  }

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
  next->bounds = detail::serverBounds();
  next->failedStartsLeft = next->bounds.failedThreadStarts;
  next->layer.setTimeouts(next->bounds.acseTimeout, next->bounds.dimseTimeout);
  if (!detail::parsePort(detail::trimmed(portText), next->port)) {
    detail::logLine("DICOM server: invalid port \"%s\"", portText.c_str());
    return false;
  }
  if (next->root.empty()) {
    detail::logLine("DICOM server: no storage folder set");
    return false;
  }
  if (next->root.back() != '/') next->root.push_back('/');

  OFCondition cond;
  {
    // DCMTK reads the process-wide external socket while it sets a network up: not while a worker
    // of another run hands one over. Port 0: the network's own socket is replaced below at once.
    std::lock_guard<std::mutex> handover(g_handoverLock);
    cond = ASC_initializeNetwork(NET_ACCEPTOR, 0, next->bounds.acseTimeout, &next->net);
  }
  if (cond.good()) cond = ASC_setTransportLayer(next->net, &next->layer, 0);
  if (cond.good()) {
    // The network keeps a socket that never listens in place of its own (and closes it when it is
    // dropped); the listener accepts on its own socket, which it may close and open again.
    const int dcmtkFd = static_cast<int>(DUL_networkSocket(next->net->network));
    const int idle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (idle < 0 || ::dup3(idle, dcmtkFd, O_CLOEXEC) < 0)
      cond = makeOFCondition(0, 1, OF_error, std::strerror(errno));
    if (idle >= 0) ::close(idle);
  }
  if (cond.bad()) {
    detail::logLine("DICOM server: cannot start on port %d: %s", next->port, cond.text());
    if (next->net) ASC_dropNetwork(&next->net);
    return false;
  }
  next->state = &portState;
  next->addressList = addressList;
  next->listening.adopt(openListening(next->port));
  const bool listening = next->listening.fd >= 0;
  if (listening) {
    next->everListened = true;
    logListening(*next);
  } else {
    // Another program holds the port (or a second copy of this one): the listener takes it up once
    // it is freed, quietly, and says so then.
    detail::logLine("DICOM server: cannot listen on port %d: %s; it is listened on as soon as it is free", next->port,
                    std::strerror(errno));
  }
  portState.listening = listening;
  Run* r = next.get();
  // Ended by stop(), which raises `stopping` and joins it.
  r->listener = std::thread([r] { listen(*r); });
  run = std::move(next);
  return listening;
}

void dcmServer::Core::stop() {
  std::lock_guard<std::mutex> guard(runLock);
  if (!run) return;
  run->stopping = true;
  // Connections still being negotiated (a peer that connected and says nothing) are cut now.
  run->watch.interruptUnclaimed();
  run->listener.join();
  {
    std::unique_lock<std::mutex> lock(run->lock);
    run->idle.wait_for(lock, std::chrono::seconds(run->bounds.dimseTimeout + 1),
                       [this] { return run->active == 0 && run->beingCut == 0; });
    // Whatever still waits for room in the receive budget stops waiting now.
    for (auto& w : run->workers) w->tally.holds.cut();
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

bool dcmServer::isListening() const { return m_core->portState.listening; }

unsigned dcmServer::getPortFailures() const { return m_core->portState.failures; }

void dcmServer::StopDicomServer() { m_core->stop(); }

void dcmServer::getDicomFolder(const char* patientName, const char* patientID, const char* studyUID,
                               const char* seriesUID, char out[1024]) {
  if (!out) return;
  const std::string folder = naming::dicomFolder(detail::textOf(patientName), detail::textOf(patientID),
                                                 detail::textOf(studyUID), detail::textOf(seriesUID));
  text::copyCut(folder, out, 1024);
}

}  // namespace redIRI
