#include "dcmNetwork.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/ofstd/ofstd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "dcmFile.h"
#include "dcmWalk.h"
#include "dcmLibrary.h"
#include "dcmLib.h"
#include "dcmParseBound.h"
#include "dcmPixels.h"
#include "dcmStorage.h"

namespace redIRI {
namespace detail {

const char* const kOwnAETitle = "tolvrane";
const char* const kAnyCalledAETitle = "ANY-SCP";

namespace {

std::atomic<int> g_networkLanguage{0};

// A TCP connection whose socket is known to a watch from creation to close. Nagle's algorithm
// is off: a DIMSE exchange is a few small writes followed by a wait for the answer, and with
// it on every message waits for the peer's delayed acknowledgement (some 40 ms per image).
//
// With PDU deadlines it follows the PDUs it reads (a 6-byte header: type, reserved, 32-bit
// big-endian length; then the body) to know when the one being read began and how long it may
// take, and waits for data only until then. DCMTK reads a PDU header with a timeout but its body
// in blocking mode, one read after another, so the bound must be here, below it.
class WatchedConnection : public DcmTCPConnection {
 public:
  WatchedConnection(DcmNativeSocketType fd, SocketWatch& watch, PduDeadlines deadlines, PeerTally* tally)
      : DcmTCPConnection(fd), m_watch(watch), m_deadlines(deadlines), m_tally(tally) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    m_watch.add(fd);
    // The association request is timed from the connection's start, not from its first byte.
    m_pduStart = std::chrono::steady_clock::now();
    m_deadline = m_pduStart + std::chrono::seconds(m_deadlines.request);
  }
  // The base destructor closes the socket; it must be unknown to the watch by then.
  ~WatchedConnection() override { forget(); }

  void close() override {
    forget();
    DcmTCPConnection::close();
  }

  int socket() { return static_cast<int>(getSocket()); }

  ssize_t read(void* buf, size_t nbyte) override {
    if (m_deadlines.request <= 0 || m_deadlines.message <= 0) return DcmTCPConnection::read(buf, nbyte);
    if (m_cut) {
      errno = ETIMEDOUT;
      return -1;
    }
    const int fd = socket();
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      // Between PDUs (after the request) the next one may take a message timeout to begin,
      // counted from the first read that waits for it.
      if (!m_inPdu && !m_first && !m_awaiting) {
        m_awaiting = true;
        m_deadline = now + std::chrono::seconds(m_deadlines.message);
      }
      const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - now).count();
      if (left <= 0) {
        cut();
        errno = ETIMEDOUT;
        return -1;
      }
      pollfd p{fd, POLLIN, 0};
      const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
      if (n > 0 || (n < 0 && errno != EINTR)) break;  // data, a close or an error: recv tells which
    }
    ssize_t got;
    do {
      got = ::recv(fd, buf, nbyte, 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
      follow(static_cast<const unsigned char*>(buf), static_cast<size_t>(got));
      if (m_tally) m_tally->bytes.fetch_add(static_cast<uint64_t>(got), std::memory_order_relaxed);
    }
    return got;
  }

  // Writes everything, without SIGPIPE when the peer has gone (the caller treats a short
  // write as a failure anyway).
  ssize_t write(void* buf, size_t nbyte) override {
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < nbyte) {
      ssize_t n = ::send(getSocket(), p + done, nbyte - done, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        return done ? static_cast<ssize_t>(done) : -1;
      }
      done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
  }

 private:
  void forget() {
    if (!m_registered) return;
    m_registered = false;
    m_watch.remove(getSocket());
    if (m_tally) m_tally->closed();
  }

  // Takes note of `n` bytes read: where the PDU being read began, and by when it must be whole.
  void follow(const unsigned char* p, size_t n) {
    while (n > 0) {
      if (m_headerBytes < sizeof(m_header)) {
        if (m_headerBytes == 0 && !m_first) {
          m_pduStart = std::chrono::steady_clock::now();
          m_deadline = m_pduStart + std::chrono::seconds(m_deadlines.message);
          m_awaiting = false;
        }
        m_inPdu = true;
        const size_t take = std::min(n, sizeof(m_header) - m_headerBytes);
        std::memcpy(m_header + m_headerBytes, p, take);
        m_headerBytes += take;
        p += take;
        n -= take;
        if (m_headerBytes < sizeof(m_header)) continue;
        m_bodyLeft = uint32_t(m_header[2]) << 24 | uint32_t(m_header[3]) << 16 | uint32_t(m_header[4]) << 8 |
                     m_header[5];
        const uint64_t allowanceMs = std::min<uint64_t>(m_bodyLeft, kMaxPduAllowanceBytes) * 1000 / kMinPeerRate;
        m_deadline = m_pduStart + std::chrono::seconds(m_first ? m_deadlines.request : m_deadlines.message) +
                     std::chrono::milliseconds(allowanceMs);
      } else {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, m_bodyLeft));
        m_bodyLeft -= take;
        p += take;
        n -= take;
      }
      if (m_headerBytes == sizeof(m_header) && m_bodyLeft == 0) {
        m_headerBytes = 0;
        m_inPdu = m_first = false;
      }
    }
  }

  void cut() {
    m_cut = true;
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    char address[INET_ADDRSTRLEN] = "?";
    if (::getpeername(socket(), reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET)
      ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof(address));
    const long long took =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_pduStart).count();
    if (m_first)
      logLine("DICOM server: connection from %s cut: no whole association request within %lld s", address, took);
    else
      logLine("DICOM server: connection from %s cut: a PDU was not whole within %lld s", address, took);
    ::shutdown(socket(), SHUT_RDWR);
  }

  SocketWatch& m_watch;
  bool m_registered = true;
  const PduDeadlines m_deadlines;
  PeerTally* const m_tally;
  bool m_first = true;  // the association request is being read
  bool m_inPdu = false;
  bool m_awaiting = false;  // between PDUs, m_deadline is when the next must have begun
  bool m_cut = false;
  unsigned char m_header[6] = {};
  size_t m_headerBytes = 0;
  uint64_t m_bodyLeft = 0;
  std::chrono::steady_clock::time_point m_pduStart, m_deadline;
};

std::string rejectReason(T_ASC_Parameters* params) {
  T_ASC_RejectParameters rej;
  if (ASC_getRejectParameters(params, &rej).bad()) return "association rejected";
  OFString text;
  ASC_printRejectParameters(text, &rej);
  std::string out(text.c_str(), text.length());
  for (char& c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return "association rejected: " + out;
}

}  // namespace

int associationSocket(T_ASC_Association* assoc) {
  if (!assoc || !assoc->DULassociation) return -1;
  auto* connection = dynamic_cast<WatchedConnection*>(DUL_getTransportConnection(assoc->DULassociation));
  return connection ? connection->socket() : -1;
}

void abortAssociation(T_ASC_Association* assoc) {
  if (!assoc) return;
  // With the reading side shut down, the wait for the peer's close ends at once; the A-ABORT
  // itself still goes out.
  const int fd = associationSocket(assoc);
  if (fd >= 0) ::shutdown(fd, SHUT_RD);
  ASC_abortAssociation(assoc);
}

bool networkReady() {
  if (!libraryReady()) return false;
  static std::once_flag once;
  std::call_once(once, [] {
    dcmConnectionTimeout.set(kClientConnectTimeout);
    dcmDisableGethostbyaddr.set(OFTrue);
  });
  return true;
}

void setNetworkLanguage(int language) { g_networkLanguage = language; }
int networkLanguage() { return g_networkLanguage; }

// ---- Bounds ------------------------------------------------------------------------------------

namespace {

std::mutex g_boundsLock;
ServerBounds& currentBounds() {
  static ServerBounds bounds;
  return bounds;
}

}  // namespace

ServerBounds serverBounds() {
  std::lock_guard<std::mutex> lock(g_boundsLock);
  return currentBounds();
}

void setServerBounds(const ServerBounds& bounds) {
  {
    std::lock_guard<std::mutex> lock(g_boundsLock);
    currentBounds() = bounds;
  }
  setReceiveBudget(bounds.receiveBudget);
}

// ---- SocketWatch -----------------------------------------------------------------------------

void SocketWatch::add(int fd) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_fds.insert(fd);
  // A connection made after the interruption may still send its first message (DCMTK leaks
  // the association request when that write fails); the answer it waits for never comes.
  if (m_interrupted || m_refuseNew) ::shutdown(fd, SHUT_RD);
}

void SocketWatch::remove(int fd) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_fds.erase(fd);
  m_claimed.erase(fd);
}

void SocketWatch::claim(int fd) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_fds.count(fd)) m_claimed.insert(fd);
}

void SocketWatch::interruptUnclaimed() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_refuseNew = true;
  for (int fd : m_fds)
    if (!m_claimed.count(fd)) ::shutdown(fd, SHUT_RDWR);
}

void SocketWatch::interrupt() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_interrupted = true;
  // Shutting down (not closing) keeps the descriptor valid for its owner, who closes it
  // after removing it from here; blocked reads and writes on it return at once.
  for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
}

bool SocketWatch::interrupted() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_interrupted;
}

DcmTransportConnection* WatchedLayer::createConnection(DcmNativeSocketType openSocket, OFBool) {
  return connect(openSocket, nullptr);
}

DcmTransportConnection* WatchedLayer::connect(DcmNativeSocketType openSocket, PeerTally* tally) {
  return new WatchedConnection(openSocket, m_watch, m_deadlines, tally);
}

void PeerTally::cut() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
  }
  holds.cut();
}

void PeerTally::closed() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_fd = -1;
}

// ---- ClientAssociation -------------------------------------------------------------------------

ClientAssociation::ClientAssociation(SocketWatch& watch) : m_watch(watch), m_layer(watch) {}

ClientAssociation::~ClientAssociation() {
  if (m_assoc) abort();
  destroy();
}

bool ClientAssociation::open(const std::string& address, int port, const std::string& calledAE,
                             const std::vector<ProposedContext>& contexts, std::string& error, int acseTimeout) {
  destroy();
  if (m_watch.interrupted()) {
    error = "stopped";
    return false;
  }
  OFCondition cond = ASC_initializeNetwork(NET_REQUESTOR, 0, acseTimeout, &m_net);
  if (cond.good()) cond = ASC_setTransportLayer(m_net, &m_layer, 0);
  if (cond.bad()) {
    error = std::string("network initialisation failed: ") + cond.text();
    destroy();
    return false;
  }
  T_ASC_Parameters* params = nullptr;
  cond = ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU);
  if (cond.bad()) {
    error = std::string("association parameters failed: ") + cond.text();
    destroy();
    return false;
  }
  ASC_setAPTitles(params, kOwnAETitle, calledAE.c_str(), nullptr);
  const std::string peer = address + ":" + std::to_string(port);
  ASC_setPresentationAddresses(params, OFStandard::getHostName().c_str(), peer.c_str());
  T_ASC_PresentationContextID id = 1;
  for (const ProposedContext& context : contexts) {
    std::vector<const char*> syntaxes;
    for (const std::string& s : context.transferSyntaxes) syntaxes.push_back(s.c_str());
    cond = ASC_addPresentationContext(params, id, context.abstractSyntax.c_str(), syntaxes.data(),
                                      static_cast<int>(syntaxes.size()), context.role);
    if (cond.bad()) break;
    id = static_cast<T_ASC_PresentationContextID>(id + 2);
  }
  if (cond.bad()) {
    error = std::string("presentation contexts refused locally: ") + cond.text();
    ASC_destroyAssociationParameters(&params);
    destroy();
    return false;
  }

  // The association takes over the parameters, also when the request fails.
  cond = ASC_requestAssociation(m_net, params, &m_assoc);
  if (cond.bad()) {
    if (cond == DUL_ASSOCIATIONREJECTED)
      error = rejectReason(params);
    else
      error = std::string("cannot connect to ") + peer + ": " + cond.text();
    if (!m_assoc) ASC_destroyAssociationParameters(&params);
    destroy();
    return false;
  }
  if (ASC_countAcceptedPresentationContexts(params) == 0) {
    error = "the peer accepted none of the proposed presentation contexts";
    abort();
    return false;
  }
  return true;
}

std::string ClientAssociation::respondingAETitle() const {
  if (!m_assoc) return std::string();
  char calling[80] = {0}, called[80] = {0}, responding[80] = {0};
  ASC_getAPTitles(m_assoc->params, calling, sizeof(calling), called, sizeof(called), responding, sizeof(responding));
  return trimmed(responding);
}

void ClientAssociation::release() {
  if (m_assoc && ASC_releaseAssociation(m_assoc).bad()) abortAssociation(m_assoc);
  destroy();
}

void ClientAssociation::abort() {
  abortAssociation(m_assoc);
  destroy();
}

void ClientAssociation::destroy() {
  if (m_assoc) ASC_destroyAssociation(&m_assoc);
  m_assoc = nullptr;
  if (m_net) ASC_dropNetwork(&m_net);
  m_net = nullptr;
}

// ---- Waiting -----------------------------------------------------------------------------------

DataWait waitForData(T_ASC_Association* assoc, const std::atomic<bool>& stop, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const int fd = associationSocket(assoc);
  for (;;) {
    if (stop) return DataWait::Stopped;
    // Data already read from the socket (several PDVs in one PDU) is not visible to poll().
    if (ASC_dataWaiting(assoc, 0)) return DataWait::Ready;
    if (fd < 0) return DataWait::Ready;  // let the caller's read report the broken association
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return DataWait::TimedOut;
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kPollSliceMs)));
    if (n > 0) return DataWait::Ready;  // data, or the peer closed: the read tells which
    if (n < 0 && errno != EINTR) return DataWait::Ready;
  }
}

bool probeConnection(const std::string& address, int port, int timeoutMs, const std::atomic<bool>& stop) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) return false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool connected = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) == 0) {
    connected = true;
  } else if (errno == EINPROGRESS) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stop) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd, POLLOUT, 0};
      const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kPollSliceMs)));
      if (n > 0) {
        int err = 0;
        socklen_t len = sizeof(err);
        connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        break;
      }
      if (n < 0 && errno != EINTR) break;
    }
  }
  ::close(fd);
  return connected;
}

// ---- MessageGate ---------------------------------------------------------------------------------

bool MessageGate::post(int code, const std::string& text, const std::function<bool()>& wanted) {
  return postMessageIf(
      code, text.c_str(),
      [&] {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed || (wanted && !wanted())) return false;
        m_delivering = std::this_thread::get_id();
        return true;
      },
      [&] {
        std::lock_guard<std::mutex> lock(m_lock);
        m_delivering = std::thread::id();
        m_settled.notify_all();
      });
}

void MessageGate::settleLocked(std::unique_lock<std::mutex>& lock) {
  const std::thread::id self = std::this_thread::get_id();
  m_settled.wait(lock, [&] { return m_delivering == std::thread::id() || m_delivering == self; });
}

void MessageGate::close() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_closed = true;
  settleLocked(lock);
}

void MessageGate::settle() {
  std::unique_lock<std::mutex> lock(m_lock);
  settleLocked(lock);
}

bool MessageGate::closed() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_closed;
}

// ---- Texts ---------------------------------------------------------------------------------------

bool isIPv4Address(std::string_view text) {
  int parts = 0;
  size_t i = 0;
  while (i <= text.size()) {
    size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (i == text.size()) break;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
  return parts == 4;
}

bool parsePort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

std::string trimmed(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r' || text[b] == '\n')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' || text[e - 1] == '\n')) --e;
  return std::string(text.substr(b, e - b));
}

std::string jsonValue(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"' || c == '\\' || c == ',' || c == '{' || c == '}' || c == '[' || c == ']')
      c = '_';
  }
  return out;
}

std::string listField(std::string_view value) {
  std::string out(value);
  for (char& c : out)
    if (c == ',' || c == '@') c = '_';
  return out;
}

std::string findValue(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '[') c = '(';
    if (c == ']') c = ')';
  }
  auto hex = [&out](size_t at) {
    for (size_t k = at; k < at + 4; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(out[k]))) return false;
    return true;
  };
  for (size_t i = 4; i + 4 < out.size(); ++i)
    if (out[i] == ',' && hex(i - 4) && hex(i + 1)) out[i] = '.';
  return out;
}

// The syntax lists are never destroyed: network threads may still read them while the process exits.
const std::vector<std::string>& uncompressedSyntaxes() {
  static const std::vector<std::string>& list = *new std::vector<std::string>{
      UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax};
  return list;
}

const std::vector<std::string>& receivableSyntaxes() {
  static const std::vector<std::string>& list = *new std::vector<std::string>([] {
    const E_TransferSyntax order[] = {
        EXS_LittleEndianExplicit, EXS_LittleEndianImplicit, EXS_DeflatedLittleEndianExplicit,
        EXS_BigEndianExplicit,    EXS_JPEGProcess14SV1,     EXS_JPEGProcess14,
        EXS_JPEGLSLossless,       EXS_RLELossless,          EXS_JPEG2000LosslessOnly,
        EXS_JPEGProcess1,         EXS_JPEGProcess2_4,       EXS_JPEGProcess6_8,
        EXS_JPEGProcess10_12,     EXS_JPEGLSLossy,          EXS_JPEG2000};
    std::vector<std::string> uids;
    for (E_TransferSyntax x : order)
      if (isDecodableTransferSyntax(x)) uids.push_back(DcmXfer(x).getXferID());
    return uids;
  }());
  return list;
}

bool isUncompressed(E_TransferSyntax xfer) {
  return xfer == EXS_LittleEndianExplicit || xfer == EXS_LittleEndianImplicit || xfer == EXS_BigEndianExplicit;
}


// ---- Receiving messages ----------------------------------------------------------------------

namespace {

// Commands are a few hundred bytes; a peer that sends more is not sending a command.
const size_t kMaxCommandBytes = 1 << 20;
// Responses carry query answers or lists of failed instances: kilobytes, rarely megabytes.
const size_t kMaxResponseDataSetBytes = size_t(64) << 20;

OFCondition receiveFailure(const std::string& why) {
  return makeDcmnetCondition(DIMSEC_RECEIVEFAILED, OF_error, why.c_str());
}

// The next PDV of the association, reading a PDU when none is waiting (as DCMTK's DIMSE layer
// does), waiting at most `timeout` seconds for it.
OFCondition nextPdv(T_ASC_Association* assoc, int timeout, DUL_PDV& pdv) {
  if (DUL_NextPDV(&assoc->DULassociation, &pdv).good()) return EC_Normal;
  if (!ASC_dataWaiting(assoc, timeout)) return DIMSE_NODATAAVAILABLE;
  OFCondition cond = DUL_ReadPDVs(&assoc->DULassociation, nullptr, DUL_NOBLOCK, timeout);
  if (cond != DUL_PDATAPDUARRIVED) return cond.bad() ? cond : DIMSE_READPDVFAILED;
  return DUL_NextPDV(&assoc->DULassociation, &pdv);
}

// Why a data set's bytes were dropped as they came.
enum class Dropped { No, PastLimit, NoRoom };

// The bytes of one command or data set: its PDVs up to the last one, all of `type` and on one
// presentation context, at most `limit` bytes. Past the limit it fails, or with `dropped` given
// frees what it holds and reads the rest of the PDVs without keeping them (*dropped then says why,
// `bytes` empty). The buffer grows by a quarter (at least the fragment), never beyond the limit.
// With a hold, the share for the bytes is, after each fragment, the buffer's capacity and its
// size again: the copies DCMTK's parse makes of the values (it loads every value from a buffer
// into an allocation of its own), which the tree's charge (kParseNodeBytes a node, charged as
// DCMTK builds it) leaves out, and which are in memory beside the buffer while the parse runs.
// The same covers the old buffer beside the new one while a growth moves the bytes. A growth that
// would pass what the budget can ever give grows only as far as half of it. Without room the data
// set is dropped alike.
OFCondition gather(T_ASC_Association* assoc, int timeout, DUL_DATAPDV type, size_t limit,
                   T_ASC_PresentationContextID& pid, std::vector<unsigned char>& bytes, Dropped* dropped = nullptr,
                   ReceiveHold* hold = nullptr) {
  const char* what = type == DUL_COMMANDPDV ? "command" : "data set";
  pid = 0;
  Dropped pastLimit = Dropped::No;
  for (bool last = false; !last;) {
    DUL_PDV pdv;
    std::memset(&pdv, 0, sizeof(pdv));
    const OFCondition cond = nextPdv(assoc, timeout, pdv);
    if (cond.bad()) return cond;
    if (pdv.pdvType != type)
      return receiveFailure(std::string("a ") + (type == DUL_COMMANDPDV ? "data set" : "command") +
                            " arrived where a " + what + " was expected");
    if (pid != 0 && pdv.presentationContextID != pid)
      return receiveFailure(std::string("the ") + what + " changes its presentation context");
    pid = pdv.presentationContextID;
    if (pdv.fragmentLength % 2 != 0) return receiveFailure(std::string("a ") + what + " fragment of odd length");
    last = pdv.lastPDV;
    if (pastLimit != Dropped::No) continue;
    const size_t length = pdv.fragmentLength;
    if (length > limit - bytes.size()) {
      if (!dropped)
        return receiveFailure(std::string("the ") + what + " is larger than " + std::to_string(limit) + " bytes");
      pastLimit = Dropped::PastLimit;
      std::vector<unsigned char>().swap(bytes);
      if (hold) hold->release();
      continue;
    }
    const size_t needed = bytes.size() + length;
    size_t capacity = bytes.capacity();
    if (needed > capacity) {
      capacity = std::min(limit, std::max(needed, bytes.size() + bytes.size() / 4));
      if (hold) capacity = static_cast<size_t>(std::min<uint64_t>(capacity, std::max<uint64_t>(needed, hold->mostForBytes() / 2)));
    }
    // The bytes arrived so far are held twice in the end (DCMTK's copy).
    if (hold && (!hold->canEverHold(2 * uint64_t(needed)) || !hold->growTo(uint64_t(capacity) + needed))) {
      pastLimit = Dropped::NoRoom;
      std::vector<unsigned char>().swap(bytes);
      continue;
    }
    if (capacity > bytes.capacity()) bytes.reserve(capacity);
    const unsigned char* data = static_cast<const unsigned char*>(pdv.data);
    if (length > 0) bytes.insert(bytes.end(), data, data + length);
  }
  if (dropped) *dropped = pastLimit;
  return EC_Normal;
}

}  // namespace

bool parseReceived(const std::vector<unsigned char>& bytes, const DcmXfer& xfer, const std::string& what,
                   DcmDataset& out, std::string& why) {
  // DCMTK's buffer stream does not write to the buffer it reads.
  auto* data = const_cast<unsigned char*>(bytes.data());
  {
    DcmInputBufferStream walk;
    walk.setBuffer(data, static_cast<offile_off_t>(bytes.size()));
    walk.setEos();
    const bool deflated = xfer.getStreamCompression() == ESC_zlib;
    if (deflated && walk.installCompressionFilter(ESC_zlib).bad()) {
      why = "the " + what + " cannot be inflated";
      return false;
    }
    WalkLimits limits;
    limits.limit = deflated ? kMaxInflatedBytes : UINT64_MAX;
    const OFCondition walked = walkDataSet(walk, xfer.getXfer(), what, limits);
    if (walked.bad()) {
      why = walked.text();
      return false;
    }
  }
  DcmInputBufferStream in;
  in.setBuffer(data, static_cast<offile_off_t>(bytes.size()));
  in.setEos();
  OFCondition cond = EC_Normal;
  std::string thrown;
  takeDcmtkError();
  ParseBound bound;
  // No value read from these bytes is longer than they are (deflated, than they may inflate to):
  // where the walk and DCMTK part on where an element begins, DCMTK still reserves nothing larger.
  bound.limitValues(xfer.getStreamCompression() == ESC_zlib ? kMaxInflatedBytes : bytes.size());
  const bool survived = survives(
      [&] {
        out.transferInit();
        cond = out.read(in, xfer.getXfer());
        out.transferEnd();
      },
      thrown);
  bound.limitValues(UINT64_MAX);  // a file read back in the same scope keeps large values on disk
  if (!survived) {
    why = "the " + what + " cannot be parsed: parsing it threw " + thrown;
    return false;
  }
  if (bound.refused()) {
    takeDcmtkError();
    why = "the " + what + " " + bound.refusal().text();
    return false;
  }
  if (cond != EC_Normal) {
    const std::string detail = takeDcmtkError();
    why = "the " + what + " cannot be parsed: " + cond.text() + (detail.empty() ? "" : " (" + detail + ")");
    return false;
  }
  return true;
}

Receipt receiveDataSet(T_ASC_Association* assoc, int timeout, T_ASC_PresentationContextID& presId,
                       DcmDataset*& dataset, std::string& why, size_t limit, PastLimit pastLimit,
                       ReceiveHold* hold, std::optional<HeldByServer>* serverTurn) {
  dataset = nullptr;
  if (!rediri_parseBounded()) {
    // Nothing a peer sends is handed to DCMTK unbounded; the association cannot go on.
    why = "the data set is not parsed: the bound on DCMTK's parse is not in effect";
    return Receipt::Failed;
  }
  std::vector<unsigned char> bytes;
  T_ASC_PresentationContextID pid = 0;
  Dropped dropped = Dropped::No;
  std::unique_ptr<ChargedParses> charged(hold ? new ChargedParses(*hold) : nullptr);
  const OFCondition cond = gather(assoc, timeout, DUL_DATASETPDV, limit, pid, bytes,
                                  pastLimit == PastLimit::Drop ? &dropped : nullptr, hold);
  if (cond.bad()) {
    why = cond.text();
    return Receipt::Failed;
  }
  // The whole data set is here: what follows (its parse first) is the server's own work.
  if (serverTurn) serverTurn->emplace();
  if (dropped == Dropped::PastLimit) {
    why = "the data set is larger than " + std::to_string(limit) + " bytes";
    return Receipt::TooLarge;
  }
  if (dropped == Dropped::NoRoom) {
    const uint64_t budget = hold->room();
    if (hold->neverFits())
      why = "it needs more memory than the " + std::to_string(budget) +
            " bytes this workstation lets the data sets being received take (the largest it receives is " +
            std::to_string(largestReceivable(budget)) + " bytes)";
    else
      why = "no room within " + std::to_string(budget) + " bytes for the data sets being received at once";
    return Receipt::TooLarge;
  }
  T_ASC_PresentationContext context;
  if (ASC_findAcceptedPresentationContext(assoc->params, pid, &context).bad()) {
    why = "the data set came on a presentation context that was not accepted";
    return Receipt::Failed;
  }
  const DcmXfer xfer(context.acceptedTransferSyntax);
  if (xfer.getXfer() == EXS_Unknown) {
    why = std::string("unknown transfer syntax ") + context.acceptedTransferSyntax;
    return Receipt::Refused;
  }
  auto received = std::make_unique<DcmDataset>();
  // Joins the caller's scope, or is the parse's own: tells a parse refused for want of room, which
  // is answered as a data set past the budget's room, not as an unsound one.
  ParseBound bound;
  if (!parseReceived(bytes, xfer, "received data set", *received, why)) {
    received.reset();
    std::vector<unsigned char>().swap(bytes);
    giveBackRefusedTree(bound.refusal());
    return bound.refusal().code() == kNoRoom ? Receipt::TooLarge : Receipt::Refused;
  }
  presId = pid;
  dataset = received.release();
  return Receipt::Received;
}

OFCondition receiveCommand(T_ASC_Association* assoc, int timeout, T_ASC_PresentationContextID& presId,
                           T_DIMSE_Message& message) {
  std::memset(&message, 0, sizeof(message));
  std::vector<unsigned char> bytes;
  T_ASC_PresentationContextID pid = 0;
  OFCondition cond = gather(assoc, timeout, DUL_COMMANDPDV, kMaxCommandBytes, pid, bytes);
  if (cond.bad()) return cond;
  std::string why;
  DcmDataset command;
  if (!parseReceived(bytes, DcmXfer(EXS_LittleEndianImplicit), "command", command, why)) return receiveFailure(why);
  T_ASC_PresentationContext context;
  if (ASC_findAcceptedPresentationContext(assoc->params, pid, &context).bad())
    return receiveFailure("a command came on a presentation context that was not accepted");

  // The fields, as DCMTK reads them: required ones must be there.
  std::string missing;
  auto us = [&](const DcmTagKey& key, DIC_US& out, bool required = true) {
    Uint16 value = 0;
    const bool found = command.findAndGetUint16(key, value).good();
    if (found) out = value;
    if (!found && required && missing.empty()) missing = DcmTag(key).getTagName();
    return found;
  };
  auto ui = [&](const DcmTagKey& key, char* out, size_t size, bool required = true) {
    OFString value;
    const bool found = command.findAndGetOFString(key, value).good() && !value.empty();
    if (found) OFStandard::strlcpy(out, value.c_str(), size);
    if (!found && required && missing.empty()) missing = DcmTag(key).getTagName();
    return found;
  };
  DIC_US field = 0, dataSetType = 0, value = 0;
  if (!us(DCM_CommandField, field) || !us(DCM_CommandDataSetType, dataSetType))
    return receiveFailure("a command without " + missing);
  message.CommandField = static_cast<T_DIMSE_Command>(field);
  const T_DIMSE_DataSetType dataSet = dataSetType == DIMSE_DATASET_NULL ? DIMSE_DATASET_NULL : DIMSE_DATASET_PRESENT;
  // The fields every response has.
  auto response = [&](auto& m, unsigned classFlag) {
    us(DCM_MessageIDBeingRespondedTo, m.MessageIDBeingRespondedTo);
    us(DCM_Status, m.DimseStatus);
    m.DataSetType = dataSet;
    if (ui(DCM_AffectedSOPClassUID, m.AffectedSOPClassUID, sizeof(m.AffectedSOPClassUID), false)) m.opts |= classFlag;
  };
  switch (message.CommandField) {
    case DIMSE_C_ECHO_RQ: {
      T_DIMSE_C_EchoRQ& m = message.msg.CEchoRQ;
      us(DCM_MessageID, m.MessageID);
      ui(DCM_AffectedSOPClassUID, m.AffectedSOPClassUID, sizeof(m.AffectedSOPClassUID));
      m.DataSetType = dataSet;
      break;
    }
    case DIMSE_C_STORE_RQ: {
      T_DIMSE_C_StoreRQ& m = message.msg.CStoreRQ;
      us(DCM_MessageID, m.MessageID);
      ui(DCM_AffectedSOPClassUID, m.AffectedSOPClassUID, sizeof(m.AffectedSOPClassUID));
      ui(DCM_AffectedSOPInstanceUID, m.AffectedSOPInstanceUID, sizeof(m.AffectedSOPInstanceUID));
      if (us(DCM_Priority, value)) m.Priority = static_cast<T_DIMSE_Priority>(value);
      m.DataSetType = dataSet;
      if (ui(DCM_MoveOriginatorApplicationEntityTitle, m.MoveOriginatorApplicationEntityTitle,
             sizeof(m.MoveOriginatorApplicationEntityTitle), false))
        m.opts |= O_STORE_MOVEORIGINATORAETITLE;
      if (us(DCM_MoveOriginatorMessageID, m.MoveOriginatorID, false)) m.opts |= O_STORE_MOVEORIGINATORID;
      break;
    }
    case DIMSE_C_ECHO_RSP:
      response(message.msg.CEchoRSP, O_ECHO_AFFECTEDSOPCLASSUID);
      break;
    case DIMSE_C_STORE_RSP: {
      T_DIMSE_C_StoreRSP& m = message.msg.CStoreRSP;
      response(m, O_STORE_AFFECTEDSOPCLASSUID);
      if (ui(DCM_AffectedSOPInstanceUID, m.AffectedSOPInstanceUID, sizeof(m.AffectedSOPInstanceUID), false))
        m.opts |= O_STORE_AFFECTEDSOPINSTANCEUID;
      break;
    }
    case DIMSE_C_FIND_RSP:
      response(message.msg.CFindRSP, O_FIND_AFFECTEDSOPCLASSUID);
      break;
    case DIMSE_C_GET_RSP: {
      T_DIMSE_C_GetRSP& m = message.msg.CGetRSP;
      response(m, O_GET_AFFECTEDSOPCLASSUID);
      if (us(DCM_NumberOfRemainingSuboperations, m.NumberOfRemainingSubOperations, false))
        m.opts |= O_GET_NUMBEROFREMAININGSUBOPERATIONS;
      if (us(DCM_NumberOfCompletedSuboperations, m.NumberOfCompletedSubOperations, false))
        m.opts |= O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS;
      if (us(DCM_NumberOfFailedSuboperations, m.NumberOfFailedSubOperations, false))
        m.opts |= O_GET_NUMBEROFFAILEDSUBOPERATIONS;
      if (us(DCM_NumberOfWarningSuboperations, m.NumberOfWarningSubOperations, false))
        m.opts |= O_GET_NUMBEROFWARNINGSUBOPERATIONS;
      break;
    }
    default:
      break;
  }
  if (!missing.empty()) return receiveFailure("a command without " + missing);
  presId = pid;
  return EC_Normal;
}

OFCondition sendFindRequest(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, const char* model,
                            DcmDataset& identifiers, DIC_US& messageId) {
  T_DIMSE_Message message;
  std::memset(&message, 0, sizeof(message));
  message.CommandField = DIMSE_C_FIND_RQ;
  T_DIMSE_C_FindRQ& request = message.msg.CFindRQ;
  request.MessageID = messageId = assoc->nextMsgID++;
  OFStandard::strlcpy(request.AffectedSOPClassUID, model, sizeof(request.AffectedSOPClassUID));
  request.DataSetType = DIMSE_DATASET_PRESENT;
  request.Priority = DIMSE_PRIORITY_MEDIUM;
  return DIMSE_sendMessageUsingMemoryData(assoc, presId, &message, nullptr, &identifiers, nullptr, nullptr);
}

OFCondition receiveResponseDataSet(T_ASC_Association* assoc, int timeout, std::unique_ptr<DcmDataset>* dataset) {
  if (dataset) dataset->reset();
  DcmDataset* received = nullptr;
  T_ASC_PresentationContextID presId = 0;
  std::string why;
  const Receipt receipt =
      receiveDataSet(assoc, timeout, presId, received, why, kMaxResponseDataSetBytes, PastLimit::Fail);
  std::unique_ptr<DcmDataset> owned(received);
  if (receipt != Receipt::Received) return receiveFailure(why);
  if (dataset) *dataset = std::move(owned);
  return EC_Normal;
}

OFCondition receiveResponse(T_ASC_Association* assoc, int timeout, T_DIMSE_Command expected, DIC_US messageId,
                            T_DIMSE_Message& response, std::unique_ptr<DcmDataset>* dataset) {
  if (dataset) dataset->reset();
  T_ASC_PresentationContextID presId = 0;
  OFCondition cond = receiveCommand(assoc, timeout, presId, response);
  if (cond.bad()) return cond;
  DIC_US answered = 0;
  T_DIMSE_DataSetType dataSetType = DIMSE_DATASET_NULL;
  auto read = [&](const auto& m) {
    answered = m.MessageIDBeingRespondedTo;
    dataSetType = m.DataSetType;
  };
  switch (response.CommandField) {
    case DIMSE_C_ECHO_RSP: read(response.msg.CEchoRSP); break;
    case DIMSE_C_STORE_RSP: read(response.msg.CStoreRSP); break;
    case DIMSE_C_FIND_RSP: read(response.msg.CFindRSP); break;
    case DIMSE_C_GET_RSP: read(response.msg.CGetRSP); break;
    default: break;
  }
  char text[96];
  if (response.CommandField != expected) {
    std::snprintf(text, sizeof(text), "the peer answered with command 0x%04x where 0x%04x was expected",
                  static_cast<unsigned>(response.CommandField), static_cast<unsigned>(expected));
    return receiveFailure(text);
  }
  if (answered != messageId) {
    std::snprintf(text, sizeof(text), "the peer answered message %u where %u was expected", unsigned(answered),
                  unsigned(messageId));
    return receiveFailure(text);
  }
  if (dataSetType == DIMSE_DATASET_NULL) return EC_Normal;
  return receiveResponseDataSet(assoc, timeout, dataset);
}

}  // namespace detail
}  // namespace redIRI
