#include "dcmServerSlots.h"

#include <algorithm>

namespace redIRI {
namespace detail {

uint64_t peerRate(const SlotStats& slot) { return slot.peerMs > 0 ? slot.bytes * 1000 / uint64_t(slot.peerMs) : 0; }

int slotToGiveUp(const std::vector<SlotStats>& held, int graceMs, uint64_t& rate) {
  const int64_t judgedAfter = std::max(graceMs, 1);
  int chosen = -1;
  uint64_t slowest = 0;
  for (size_t i = 0; i < held.size(); ++i) {
    const SlotStats& slot = held[i];
    if (slot.heldByServer || slot.ageMs < graceMs || slot.peerMs < judgedAfter) continue;
    const uint64_t r = peerRate(slot);
    if (r >= kSlowPeerRate) continue;
    if (chosen < 0 || r < slowest || (r == slowest && slot.addressHolds > held[size_t(chosen)].addressHolds)) {
      chosen = int(i);
      slowest = r;
    }
  }
  if (chosen >= 0) rate = slowest;
  return chosen;
}

}  // namespace detail
}  // namespace redIRI
