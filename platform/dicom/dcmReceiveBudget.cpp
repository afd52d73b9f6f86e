#include "dcmReceiveBudget.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <set>

#include "dcmStorage.h"

namespace redIRI {
namespace detail {

namespace {

// The receive budget in force, read by holds as they wait (under g_budgetLock when it changes).
std::atomic<uint64_t> g_budget{defaultReceiveBudget()};

// The receive budget's account: bytes held by data sets being received, process-wide.
std::mutex g_budgetLock;
std::condition_variable g_budgetFreed;
uint64_t g_budgetUsed = 0;
// The holds with a share, and the tickets (order of first share) of those among them waiting for
// more. When every hold with a share waits, none will give any back before its wait ends: the
// youngest gives up at once instead, so the others go on rather than all waiting out their
// timeouts together and all being refused.
uint64_t g_holders = 0;
uint64_t g_nextTicket = 0;
std::set<uint64_t> g_waiting;
int g_waits = 0;  // holds waiting for room, with a share or not

thread_local ServerHolds* t_serving = nullptr;

}  // namespace

uint64_t receiveBudgetFor(uint64_t physical) {
  if (physical == 0) physical = kAssumedPhysicalBytes;
  const uint64_t alone = 2 * kMaxReceivedDataSetBytes + kReceiveTreeAllowance;
  return std::max(physical / 4, std::min(alone, physical / 8 * 3));
}

uint64_t defaultReceiveBudget() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  return receiveBudgetFor(pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0);
}

uint64_t largestReceivable(uint64_t budget) {
  return budget > kReceiveTreeAllowance ? (budget - kReceiveTreeAllowance) / 2 : 0;
}

uint64_t receiveBudgetUsed() {
  std::lock_guard<std::mutex> lock(g_budgetLock);
  return g_budgetUsed;
}

int receiveBudgetWaits() {
  std::lock_guard<std::mutex> lock(g_budgetLock);
  return g_waits;
}

void setReceiveBudget(uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(g_budgetLock);
    g_budget = bytes;
  }
  g_budgetFreed.notify_all();  // a larger budget may make room, a smaller one end a wait
}

// ---- ServerHolds -------------------------------------------------------------------------------

void ServerHolds::cut() {
  {
    // Under the budget's lock, so that a wait about to begin sees it or is woken.
    std::lock_guard<std::mutex> lock(g_budgetLock);
    m_cut = true;
  }
  g_budgetFreed.notify_all();
}

void ServerHolds::begin() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_depth++ == 0) m_since = Clock::now();
}

void ServerHolds::end() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (--m_depth == 0)
    m_heldMs += std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_since).count();
}

int64_t ServerHolds::heldMs(Clock::time_point now, bool& holdingNow) const {
  std::lock_guard<std::mutex> lock(m_lock);
  holdingNow = m_depth > 0;
  if (!holdingNow) return m_heldMs;
  return m_heldMs + std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(now - m_since).count());
}

ServerHolds::Serving::Serving(ServerHolds* holds) : m_previous(t_serving) { t_serving = holds; }

ServerHolds::Serving::~Serving() { t_serving = m_previous; }

ServerHolds* ServerHolds::current() { return t_serving; }

// ---- ReceiveHold -------------------------------------------------------------------------------

bool ReceiveHold::holdTotal(uint64_t bytes, uint64_t tree) {
  bytes = std::max(bytes, m_bytes);
  tree = std::max(tree, m_tree);
  const uint64_t held = m_bytes + m_tree, total = bytes + tree;
  if (total <= held) return true;
  ServerHolds* const connection = t_serving;
  std::unique_lock<std::mutex> lock(g_budgetLock);
  // What could never fit is not waited for; the budget is read again at each look.
  auto never = [&] { return total > g_budget; };
  auto fits = [&] { return g_budgetUsed - held + total <= g_budget; };
  auto cut = [&] { return connection && connection->isCut(); };
  m_neverFits = never();
  if (m_neverFits || cut()) return false;
  if (!fits()) {
    const auto wait = std::chrono::milliseconds(std::max(m_timeoutMs, 0));
    // A hold without a share keeps nobody waiting, so it may wait whatever the others do.
    if (held > 0) {
      g_waiting.insert(m_ticket);
      g_budgetFreed.notify_all();  // the others look again: all may now be waiting
    }
    ++g_waits;
    if (connection) connection->begin();
    const bool room = g_budgetFreed.wait_for(lock, wait, [&] {
      return fits() || never() || cut() ||
             (held > 0 && g_waiting.size() == g_holders && *g_waiting.rbegin() == m_ticket);
    }) && fits() && !cut();
    if (connection) connection->end();
    --g_waits;
    m_neverFits = never();
    if (held > 0) g_waiting.erase(m_ticket);
    if (!room) return false;
  }
  if (held == 0) {
    ++g_holders;
    m_ticket = ++g_nextTicket;
  }
  g_budgetUsed += total - held;
  m_bytes = bytes;
  m_tree = tree;
  m_peak = std::max(m_peak, total);
  return true;
}

bool ReceiveHold::growTo(uint64_t bytes) {
  if (holdTotal(bytes, m_tree)) return true;
  release();
  return false;
}

uint64_t ReceiveHold::room() const { return g_budget; }

bool ReceiveHold::canEverHold(uint64_t bytes) {
  if (bytes <= mostForBytes()) return true;
  m_neverFits = true;
  release();
  return false;
}

uint64_t ReceiveHold::mostForBytes() const {
  const uint64_t budget = g_budget, tree = std::max(m_tree, kReceiveTreeAllowance);
  return budget > tree ? budget - tree : 0;
}

void ReceiveHold::release() {
  if (m_bytes + m_tree == 0) return;
  {
    std::lock_guard<std::mutex> lock(g_budgetLock);
    g_budgetUsed -= m_bytes + m_tree;
    --g_holders;
    m_bytes = m_tree = 0;
  }
  g_budgetFreed.notify_all();
}

}  // namespace detail
}  // namespace redIRI
