// Who gives up a slot when a full storage server takes a newcomer, and the receive budget a cut
// connection's wait for room gives back.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "dcmNetwork.h"
#include "support/DicomPeers.h"

using namespace redIRI::detail;

namespace {

// A connection judged over 5 s of its peer's time at `rate` bytes/s, 10 s old.
SlotStats at(uint64_t rate, int addressHolds = 1) {
  SlotStats s;
  s.bytes = rate * 5;
  s.peerMs = 5000;
  s.ageMs = 10000;
  s.addressHolds = addressHolds;
  return s;
}

SlotStats heldByServer(SlotStats s) {
  s.heldByServer = true;
  return s;
}

SlotStats aged(SlotStats s, int64_t ageMs, int64_t peerMs) {
  s.bytes = s.bytes / uint64_t(s.peerMs) * uint64_t(peerMs);
  s.ageMs = ageMs;
  s.peerMs = peerMs;
  return s;
}

bool waitUntil(const std::function<bool()>& done) {
  for (const long long end = qvtest::nowMs() + 10000; !done();) {
    if (qvtest::nowMs() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

TEST(ServerSlots, TheSlowestPeerBelowTheFloorGivesUpItsSlot) {
  const struct {
    const char* what;
    std::vector<SlotStats> held;
    int expected;
  } rows[] = {
      {"fast senders from a crowded address beside slow peers",
       {at(160000, 40), at(160000, 40), at(2000, 24), at(2100, 24)},
       2},
      {"no peer below the floor", {at(160000, 40), at(kSlowPeerRate, 24), at(9000, 24)}, -1},
      {"a slow peer is cut, not a fast one of its own address", {at(160000, 2), at(3000, 2)}, 1},
      {"the one waiting for room is left", {heldByServer(at(0, 40)), at(2000, 1)}, 1},
      {"only one waiting for room", {heldByServer(at(0)), at(160000)}, -1},
      {"one in its first seconds is left", {aged(at(0), 1000, 1000), at(3000)}, 1},
      {"one whose peer had too little of the window is left", {aged(at(0), 60000, 1500), at(3000)}, 1},
      {"equal rates: the crowded address gives up", {at(0, 3), at(0, 9), at(0, 5)}, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    uint64_t rate = 12345;
    EXPECT_EQ(slotToGiveUp(row.held, kTakeoverGraceMs, rate), row.expected);
    if (row.expected >= 0) {
      EXPECT_EQ(rate, peerRate(row.held[size_t(row.expected)]));
    }
  }
}

// When physical memory cannot be read, the budget is that of a small workstation, never nothing.
TEST(ServerSlots, TheReceiveBudgetHasAFloorWhenMemoryIsUnknown) {
  EXPECT_EQ(receiveBudgetFor(0), receiveBudgetFor(kAssumedPhysicalBytes));
  EXPECT_GE(largestReceivable(receiveBudgetFor(0)), uint64_t(256) << 20);
}

// A connection waiting for room with a share of the budget is cut: its wait ends at once, its
// share goes back, and it waits no more.
TEST(ServerSlots, ACutConnectionGivesItsShareBackAtOnce) {
  setReceiveBudget(1000000);
  ReceiveHold elsewhere;
  ASSERT_TRUE(elsewhere.growTo(900000));
  PeerTally connection(-1);
  bool grew = true, again = true;
  std::thread serving([&] {
    const ServerHolds::Serving scope(&connection.holds);
    ReceiveHold hold(30000);
    ASSERT_TRUE(hold.growTo(50000));
    grew = hold.growTo(200000);  // waits
    again = hold.growTo(1000);
  });
  ASSERT_TRUE(waitUntil([] { return receiveBudgetWaits() == 1; }));
  EXPECT_EQ(receiveBudgetUsed(), 950000u);
  bool holding = false;
  connection.holds.heldMs(ServerHolds::Clock::now(), holding);
  EXPECT_TRUE(holding) << "its wait is the server's time, not its peer's";
  connection.cut();
  EXPECT_TRUE(waitUntil([] { return receiveBudgetUsed() == 900000; }));
  serving.join();
  EXPECT_FALSE(grew);
  EXPECT_FALSE(again);
  connection.holds.heldMs(ServerHolds::Clock::now(), holding);
  EXPECT_FALSE(holding);
  elsewhere.release();
  setServerBounds();
}
