// The receive budget (internal): the memory that all data sets being received at once may take,
// process-wide, and the share each one holds while it is received, parsed and written.
//
// A data set is charged what it holds: the buffer its bytes arrive in, DCMTK's copy of the values
// it parses from them, and the tree it builds (see ReceiveHold). The budget is a quarter of
// physical memory, so a busy server leaves the rest to the viewer and the system; but at least
// what the largest receivable data set takes alone (kMaxReceivedDataSetBytes twice, and the tree
// of an image's header: some 2.5 GiB), so every image the library would open is received, one at
// a time, as long as that is at most 3/8 of physical memory. An 8-GB workstation thus receives the
// largest set; on a 4-GB one the budget is 1.5 GiB (3/8) and the largest set it receives about
// 768 MiB (largestReceivable), and a larger one is refused "out of resources" with a log line that
// says so. 6 GiB on a 24-GB workstation. When physical memory cannot be read, the budget is that of
// the smallest workstation the viewer runs on (kAssumedPhysicalBytes), never 0.
//
// A connection waiting for room is held up by the server, not by its peer: while it waits it
// reads nothing, and the server does not count that time against the peer's rate (ServerHolds).
// Cutting the connection ends its wait at once, with no room, and its share goes back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "dcmParseBound.h"

namespace redIRI {
namespace detail {

constexpr uint64_t kReceiveTreeAllowance = kFirstChargeNodes * kParseNodeBytes;
// What the budget takes physical memory to be when the system cannot say.
constexpr uint64_t kAssumedPhysicalBytes = uint64_t(2) << 30;
// The budget for `physicalBytes` of memory (0: unknown, taken as kAssumedPhysicalBytes).
uint64_t receiveBudgetFor(uint64_t physicalBytes);
uint64_t defaultReceiveBudget();  // for this machine's physical memory
// The largest data set (its bytes as sent) that a budget of `budget` bytes receives alone: its
// bytes twice, and the first charge of its tree (kReceiveTreeAllowance).
uint64_t largestReceivable(uint64_t budget);
// The bytes of the receive budget held now, by every data set being received.
uint64_t receiveBudgetUsed();
// The holds waiting for room now.
int receiveBudgetWaits();
// Sets the budget in force (ServerBounds::receiveBudget); waiters look again at once.
void setReceiveBudget(uint64_t bytes);

// The time the server itself holds one connection up (waiting for room in the budget, writing
// what it received), which its peer is not answerable for; and whether the connection was cut.
// The thread serving the connection marks the holds (begin/end, or HeldByServer); any thread may
// read them and cut.
class ServerHolds {
 public:
  using Clock = std::chrono::steady_clock;
  // Ends every wait for room of the connection at once, with no room, and fails every later one.
  void cut();
  bool isCut() const { return m_cut; }
  void begin();
  void end();
  // The milliseconds the server has held the connection up by `now`, a hold under way included;
  // `now` tells whether one is.
  int64_t heldMs(Clock::time_point now, bool& holdingNow) const;

  // The holds of the connection the calling thread serves (none when null), for the waits for
  // room it makes until the scope ends.
  class Serving {
   public:
    explicit Serving(ServerHolds* holds);
    ~Serving();
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;

   private:
    ServerHolds* m_previous;
  };
  // Those of the calling thread's connection, or null.
  static ServerHolds* current();

 private:
  std::atomic<bool> m_cut{false};
  mutable std::mutex m_lock;
  int m_depth = 0;
  Clock::time_point m_since;
  int64_t m_heldMs = 0;
};

// While it lives, the server holds the calling thread's connection up (when it serves one).
class HeldByServer {
 public:
  HeldByServer() : m_holds(ServerHolds::current()) {
    if (m_holds) m_holds->begin();
  }
  ~HeldByServer() {
    if (m_holds) m_holds->end();
  }
  HeldByServer(const HeldByServer&) = delete;
  HeldByServer& operator=(const HeldByServer&) = delete;

 private:
  ServerHolds* m_holds;
};

// A data set's share of the receive budget, held while it is received, parsed and written, and
// given back when the hold ends: its bytes (growTo: the buffer they arrive in and DCMTK's copy of
// the values parsed from them) and the trees DCMTK builds from them, charged as they are built
// while the hold is attached to the receiving thread (ChargedParses). Waiters look at the budget
// again whenever they are woken (it may have been raised or lowered), and stop waiting, with no
// room, when the connection the thread serves is cut.
class ReceiveHold final : public ParseCharge {
 public:
  // Waits at most timeoutMs for room at each growth.
  explicit ReceiveHold(int timeoutMs = 0) : m_timeoutMs(timeoutMs) {}
  ~ReceiveHold() { release(); }
  ReceiveHold(const ReceiveHold&) = delete;
  ReceiveHold& operator=(const ReceiveHold&) = delete;
  // Grows the share for the bytes to `bytes`, waiting for others to give back enough. False when
  // no room came; the share is then given back whole (the bytes are dropped).
  bool growTo(uint64_t bytes);
  void release();

  // ParseCharge: grows the share for the trees alike. False when no room came; the share is kept
  // until the hold ends, the tree built so far being freed no sooner.
  bool chargeTree(uint64_t bytes) override { return holdTotal(m_bytes, bytes); }
  uint64_t room() const override;

  // The most the share for the bytes may ever reach, leaving the tree its first charge.
  uint64_t mostForBytes() const;
  // Whether a share of `bytes` for the bytes could ever be held (neverFits() when not, and the
  // share is given back whole).
  bool canEverHold(uint64_t bytes);
  // Whether the last growth that failed asked for more than the whole budget: no wait would
  // have made room for it.
  bool neverFits() const { return m_neverFits; }
  // The most this hold has held at once.
  uint64_t peak() const { return m_peak; }

 private:
  bool holdTotal(uint64_t bytes, uint64_t tree);

  int m_timeoutMs;
  uint64_t m_bytes = 0, m_tree = 0, m_peak = 0;
  bool m_neverFits = false;
  uint64_t m_ticket = 0;  // its place in the order of first shares, while it holds one
};

}  // namespace detail
}  // namespace redIRI
