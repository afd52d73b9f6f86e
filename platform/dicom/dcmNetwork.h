// Shared machinery of the network half (internal): timeouts and titles, sockets that another
// thread can interrupt, requested (client) associations, waiting for data in short slices so
// stop flags are seen promptly, the gate through which one object's messages pass, and the
// sanitising of values placed into message texts.
//
// How a network object stops promptly: every connection DCMTK opens for it is created through a
// WatchedLayer, which registers the socket with the object's SocketWatch. interrupt() shuts
// those sockets down, so a thread blocked inside DCMTK (waiting for an association answer, a
// response, the rest of a data set) returns at once with "connection closed". Only the TCP
// connect itself is not interruptible; it is bounded by the connect timeout.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dimse.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dcmParseBound.h"
#include "dcmReceiveBudget.h"
#include "dcmServerSlots.h"

namespace redIRI {
namespace detail {

// Timeouts in seconds.
constexpr int kClientConnectTimeout = 5;
constexpr int kSweepConnectTimeout = 2;
constexpr int kClientAcseTimeout = 10;
constexpr int kClientDimseTimeout = 30;
constexpr int kServerAcseTimeout = 10;
constexpr int kServerDimseTimeout = 10;
// Milliseconds between two looks at a stop flag while waiting on the network.
constexpr int kPollSliceMs = 200;

// How long a peer may take over each PDU it sends the storage server, counted over the whole PDU
// rather than per read (a peer sending one byte every few seconds would otherwise never be cut
// off): the association request must be whole within the ACSE timeout of the connection's start,
// every later PDU within the DIMSE timeout of its first byte. Each is allowed one more second for
// every kMinPeerRate bytes it declares, counting at most kMaxPduAllowanceBytes. We offer peers
// PDUs of 16 KiB, so a link that moves 16 KiB in 12 s (1.4 kB/s, far below any modem a modality
// still sits behind) is never cut, however large the image it sends in them; only a peer slower
// than that, or one that stalls mid-PDU, is. An association request is a few kilobytes; the
// largest PDU DCMTK handles is 128 KiB (26 s in all). Between PDUs the next one must begin within
// the DIMSE timeout of the read that waits for it.
constexpr uint64_t kMinPeerRate = 8 << 10;  // bytes per second
constexpr uint64_t kMaxPduAllowanceBytes = 128 << 10;

// Connections the storage server serves at once (each on a thread of its own, from accept to
// close), in all and from one peer address. One address is often many senders: a router relaying
// several modalities, a PACS pushing a study over many associations, or every local peer on
// 127.0.0.1, and 32 associations at once from it must be served, with room for its connections
// still closing and an echo; 48 is that. The overall 64 leaves 16 for other addresses while one is
// at its bound, and protects the machine: trickling peers are cut by the PDU deadlines above and
// the bytes of received data sets by the receive budget (dcmReceiveBudget.h), so what each slot
// may hold is bounded; 64 threads and sockets stay far inside the default 1024 descriptors,
// leaving the files being written their room. Who gives up a slot when all are taken:
// dcmServerSlots.h.
constexpr int kServerMaxConnections = 64;
constexpr int kServerMaxPerAddress = 48;

// Bounds of the storage server, process-wide. A run reads them as it begins (the receive budget
// as each data set arrives); tests lower them so each case takes seconds, and set them back with
// no argument.
struct ServerBounds {
  int acseTimeout = kServerAcseTimeout;    // s
  int dimseTimeout = kServerDimseTimeout;  // s
  int maxConnections = kServerMaxConnections;
  int maxPerAddress = kServerMaxPerAddress;
  int takeoverGraceMs = kTakeoverGraceMs;
  int rateWindowMs = kRateWindowSeconds * 1000;  // the window rates are judged over (dcmServerSlots.h)
  uint64_t receiveBudget = defaultReceiveBudget();  // bytes
  // Tests: the next connections' threads fail to start (the system refuses a thread, or, with
  // outOfMemory, there is no memory for it).
  int failedThreadStarts = 0;
  bool outOfMemory = false;
};
ServerBounds serverBounds();
void setServerBounds(const ServerBounds& bounds = ServerBounds());

// What the storage server knows of one connection while it is served: the bytes read from it,
// what held it up on the server's side, and how to cut it from another thread. The socket is the
// accepted one until its thread closes it (cut() then does nothing).
class PeerTally {
 public:
  explicit PeerTally(int fd) : m_fd(fd) {}
  std::atomic<uint64_t> bytes{0};
  // What the server itself held it up by (its waits for room in the receive budget included).
  ServerHolds holds;
  // Shuts the connection down: its thread's reads and writes fail at once, and so does its wait
  // for room in the receive budget.
  void cut();
  // The socket is about to be closed.
  void closed();

 private:
  std::mutex m_lock;
  int m_fd;
};

extern const char* const kOwnAETitle;        // "tolvrane": our calling title
extern const char* const kAnyCalledAETitle;  // "ANY-SCP": called title when none is configured

// DCMTK keeps some network settings process-wide: the TCP connect timeout of requested
// associations and reverse lookups of peer addresses (switched off: a slow resolver must not
// stall the listener). Set once; false when the library cannot be used (ended, no dictionary).
bool networkReady();

// The language used for texts of network answers that declare no character set (see
// dcmReader::setLanguage); set by the storage server's setLanguage.
void setNetworkLanguage(int language);
int networkLanguage();

// The sockets of one object's connections. interrupt() shuts down every socket registered
// and every one registered later: the owner is ending. A socket can be claimed by the thread
// that serves it; interruptUnclaimed() then spares it and cuts only the others (a connection
// still being negotiated), and every socket registered later.
class SocketWatch {
 public:
  void add(int fd);
  void remove(int fd);
  void claim(int fd);
  void interrupt();
  void interruptUnclaimed();
  bool interrupted() const;

 private:
  mutable std::mutex m_lock;
  std::set<int> m_fds;
  std::set<int> m_claimed;
  bool m_interrupted = false;
  bool m_refuseNew = false;
};

// A DCMTK transport layer whose connections register their sockets with a watch (and write
// without raising SIGPIPE when the peer has gone). Must outlive the network it is set on.
// With PDU deadlines (the seconds of the ACSE and DIMSE timeouts, both set) its connections also
// hold the peer to the deadlines described at kMinPeerRate: the read that passes one fails and
// the connection is cut, with a log line.
struct PduDeadlines {
  int request = 0;  // s
  int message = 0;  // s
};
class WatchedLayer : public DcmTransportLayer {
 public:
  explicit WatchedLayer(SocketWatch& watch, PduDeadlines deadlines = {}) : m_watch(watch), m_deadlines(deadlines) {}
  DcmTransportConnection* createConnection(DcmNativeSocketType openSocket, OFBool useSecureLayer) override;
  void setDeadlines(PduDeadlines deadlines) { m_deadlines = deadlines; }

 protected:
  // A connection whose reads are counted in `tally` (when given), which it tells of its close.
  DcmTransportConnection* connect(DcmNativeSocketType openSocket, PeerTally* tally);

 private:
  SocketWatch& m_watch;
  PduDeadlines m_deadlines;
};

// One presentation context to propose.
struct ProposedContext {
  std::string abstractSyntax;
  std::vector<std::string> transferSyntaxes;
  T_ASC_SC_ROLE role = ASC_SC_ROLE_DEFAULT;
};

// One association we request, calling AE "tolvrane". Its connection is watched by `watch`.
// The destructor aborts an association still open.
class ClientAssociation {
 public:
  explicit ClientAssociation(SocketWatch& watch);
  ~ClientAssociation();
  ClientAssociation(const ClientAssociation&) = delete;
  ClientAssociation& operator=(const ClientAssociation&) = delete;

  // Connects and negotiates, waiting at most acseTimeout seconds for the answer. False with
  // the reason in `error`: connection failed, association rejected (with the peer's reason)
  // or no presentation context accepted.
  bool open(const std::string& address, int port, const std::string& calledAE,
            const std::vector<ProposedContext>& contexts, std::string& error, int acseTimeout = kClientAcseTimeout);
  T_ASC_Association* get() const { return m_assoc; }
  // The AE title the peer answered with ("" when none).
  std::string respondingAETitle() const;
  // Orderly release, or abort; both end the association.
  void release();
  void abort();

 private:
  void destroy();

  SocketWatch& m_watch;
  WatchedLayer m_layer;
  T_ASC_Network* m_net = nullptr;
  T_ASC_Association* m_assoc = nullptr;
};

// The socket of an association made through a WatchedLayer, or -1.
int associationSocket(T_ASC_Association* assoc);

// Sends an A-ABORT and ends the association at once. (DCMTK's own abort then waits for the peer
// to close the connection, which a peer that stopped talking never does.)
void abortAssociation(T_ASC_Association* assoc);

// Waits until the association has something to read (or its connection closed), `stop` is
// raised, or timeoutMs have passed, looking at `stop` every kPollSliceMs.
enum class DataWait { Ready, Stopped, TimedOut };
DataWait waitForData(T_ASC_Association* assoc, const std::atomic<bool>& stop, int timeoutMs);

// Receiving messages. DCMTK reserves each value's declared length as soon as it reads the
// value's header, before the bytes arrive, so a peer sending a few bytes that declare 4 GB would
// make it reserve 4 GB. Here the PDVs of a command or data set are gathered first (memory grows
// only with the bytes that do arrive), every length they declare is held against them, and only
// then does DCMTK parse them.

// How receiving a data set ended.
enum class Receipt {
  Received,  // the data set is parsed and handed over
  Refused,   // it arrived whole but is unsound; the association is still in step
  TooLarge,  // it ran past the limit and the rest of it was read and dropped; still in step
  Failed,    // the association broke, stopped answering or broke the protocol
};

// What becomes of a data set that runs past its limit: the receipt fails at once (answers we wait
// for, after which the association is ended), or the rest of its PDVs are read and dropped as they
// come, so that the request can still be answered (stores).
enum class PastLimit { Fail, Drop };

// Parses a command or data set gathered from a peer, in `xfer`, once the structural walk
// (walkDataSet: nesting, shapes DCMTK reads otherwise, directory records, declared lengths) has found
// it sound; the parse itself is held to the bound on DCMTK's recursion and tree (dcmParseBound.h).
// False with the reason, naming the bytes as `what`.
bool parseReceived(const std::vector<unsigned char>& bytes, const DcmXfer& xfer, const std::string& what,
                   DcmDataset& out, std::string& why);

// Receives the data set that follows a command, as DIMSE_receiveDataSetInMemory does, of at
// most `limit` bytes as it arrives (never holding more). Received: `dataset` (owned by the
// caller) and `presId` are set. Otherwise the reason is in `why`. With a hold, the memory the data
// set takes (its bytes and the tree parsed from them) is taken from the receive budget as it
// grows, waiting for room as the hold does; a data set that finds none is dropped as one past its
// limit (TooLarge). With `serverTurn`, it is emplaced as soon as the data set's last PDV has
// arrived: from then on, through the parse and whatever the caller does until it resets it, the
// server holds the connection up, not its peer (dcmServerSlots.h).
Receipt receiveDataSet(T_ASC_Association* assoc, int timeout, T_ASC_PresentationContextID& presId,
                       DcmDataset*& dataset, std::string& why, size_t limit, PastLimit pastLimit,
                       ReceiveHold* hold = nullptr, std::optional<HeldByServer>* serverTurn = nullptr);

// Receives the next command, as DIMSE_receiveCommand does, waiting at most `timeout` seconds.
// Read into `message` are the command field, and the fields of the commands this library
// answers or waits for: C-ECHO-RQ, C-STORE-RQ, and the C-ECHO, C-STORE, C-FIND and C-GET
// responses. Returns EC_Normal, the peer's release request or abort (DUL_PEERREQUESTEDRELEASE,
// DUL_PEERABORTEDASSOCIATION), DIMSE_NODATAAVAILABLE on timeout, or a failure whose text says
// why (an unsound command included).
OFCondition receiveCommand(T_ASC_Association* assoc, int timeout, T_ASC_PresentationContextID& presId,
                           T_DIMSE_Message& message);

// The requesting side: receives the answer to our request `messageId`, a command of type
// `expected` (C-ECHO, C-STORE, C-FIND or C-GET response) answering that request, and then the
// data set the command announces, into `dataset` when given (else it is dropped). A failure
// (its text says why) when the association broke, the peer answered something else, or the
// command or data set is unsound; the association is then out of step and must be ended.
OFCondition receiveResponse(T_ASC_Association* assoc, int timeout, T_DIMSE_Command expected, DIC_US messageId,
                            T_DIMSE_Message& response, std::unique_ptr<DcmDataset>* dataset = nullptr);
// Sends a C-FIND request of `model` with `identifiers` on `presId`; `messageId` is the ID the
// answers and a C-CANCEL refer to.
OFCondition sendFindRequest(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, const char* model,
                            DcmDataset& identifiers, DIC_US& messageId);
// The data set announced by a response already received, bounded as receiveResponse bounds it.
OFCondition receiveResponseDataSet(T_ASC_Association* assoc, int timeout, std::unique_ptr<DcmDataset>* dataset);

// Opens and closes one TCP connection to see whether anything listens, within timeoutMs and
// abandoned as soon as `stop` is raised. Used by sweeps, which try many hosts that do not exist.
bool probeConnection(const std::string& address, int port, int timeoutMs, const std::atomic<bool>& stop);

// The messages of one object. A message is delivered while the gate is open and, when its poster
// gives a check, while the check holds: both are read in the library's message order, as the
// message is delivered, not when it was posted. No lock of the gate is held while the program's
// callback runs, so a callback (on whichever library thread) may close or settle any gate.
//   close(): ends the messages for good; once it has returned, no message of the object reaches
//     the program. A message being delivered on another thread is waited for; one being delivered
//     on the calling thread is the callback that closes it.
//   settle(): waits likewise for a message of the object being delivered on another thread; whoever
//     made a check fail knows afterwards that no message that passed it is still on its way.
// Within the callback the thread holds the message order: it posts nothing itself.
class MessageGate {
 public:
  bool post(int code, const std::string& text, const std::function<bool()>& wanted = nullptr);
  void close();
  void settle();
  bool closed() const;

 private:
  void settleLocked(std::unique_lock<std::mutex>& lock);

  mutable std::mutex m_lock;
  std::condition_variable m_settled;
  bool m_closed = false;
  std::thread::id m_delivering;  // the thread delivering one of its messages; none when no thread is
};

// A dotted IPv4 address ("a.b.c.d", each 0..255, no other characters).
bool isIPv4Address(std::string_view text);
// A port "1".."65535" in decimal.
bool parsePort(std::string_view text, int& port);
std::string trimmed(std::string_view text);
// Text of a possibly null C string.
inline std::string textOf(const char* s) { return s ? std::string(s) : std::string(); }

// Values placed into message texts. jsonValue: flat-JSON values have no escaping, so '"', '\',
// ',', '{', '}', '[', ']' and control characters become '_'. listField: fields of "," and "@"
// lists lose those two characters ('_'). findValue: '[' and ']' become '(' and ')', and a
// "hhhh,hhhh" tag key inside a value is written "hhhh.hhhh".
std::string jsonValue(std::string_view value);
std::string listField(std::string_view value);
std::string findValue(std::string_view value);

// Transfer syntaxes by UID. uncompressedSyntaxes: explicit and implicit little endian.
// receivableSyntaxes: every syntax this library decodes, in order of preference when it
// receives: explicit and implicit little endian, deflated, big endian, then the compressed
// ones, lossless before lossy.
const std::vector<std::string>& uncompressedSyntaxes();
const std::vector<std::string>& receivableSyntaxes();
bool isUncompressed(E_TransferSyntax xfer);

}  // namespace detail
}  // namespace redIRI
