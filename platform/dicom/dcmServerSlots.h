// Which connection a full storage server gives up for a newcomer (internal).
//
// The server serves a bounded number of connections at once (kServerMaxConnections). A peer that
// sends slowly but steadily meets every deadline, so peers enough of them could hold every slot
// for as long as they like. When every slot is taken, a newcomer therefore takes over the slot of
// the slowest peer held, provided it is not at work:
//
//  - Each connection is judged by the bytes it moved per second over the last 5 to 10 s
//    (kRateWindowSeconds), counting only the time its peer had: what the server itself held the
//    connection up by (waiting for room in the receive budget; from a data set's last byte on,
//    parsing it, checking and writing it, answering) is left out. A sender whose data set has
//    arrived whole has nothing left to send: the server's parse is never its slowness. The one that moved the fewest, across all addresses, is given up; between equal rates,
//    the one whose address holds the most slots.
//  - Only a connection below kSlowPeerRate (4 KiB/s) is given up: half the rate the PDU deadlines
//    are set against (kMinPeerRate), well under any link a modality sends over, and above a peer
//    that trickles an image at 2 kB/s or says nothing. When none is below it, the newcomer is
//    refused as if no takeover existed: a sender at work is never cut, however many newcomers
//    come, and from however many addresses.
//  - Never one in its first seconds (kTakeoverGraceMs), nor one the server holds up now (waiting
//    for room in the receive budget, parsing or writing its image), nor one whose peer had less than those
//    first seconds of the window to show its rate.
//  - Never one faster than another that could be given up: the rule takes the minimum across all
//    addresses, however many slots the newcomer's or any other address holds. The newcomer's own
//    address is no exception: an idle association of a PACS makes room for its next one.
//
// Nothing is cut while a slot is free: a large image over a slow link arrives whenever the server
// has room. The server also bounds the connections being cut at once (see dcmServer.cpp).
#pragma once

#include <cstdint>
#include <vector>

namespace redIRI {
namespace detail {

constexpr int kRateWindowSeconds = 5;
constexpr int kTakeoverGraceMs = 2000;
constexpr uint64_t kSlowPeerRate = 4 << 10;  // bytes per second, half of kMinPeerRate

// One connection held, as the listener sees it when a newcomer finds every slot taken.
struct SlotStats {
  uint64_t bytes = 0;         // read from its peer over the window
  int64_t peerMs = 0;         // the window less the time the server held the connection up in it
  int64_t ageMs = 0;          // since it was accepted
  bool heldByServer = false;  // the server holds it up now
  int addressHolds = 0;       // the slots its peer's address holds
};

// Its bytes per second over its peer's time (0 when that time is 0).
uint64_t peerRate(const SlotStats& slot);

// The connection to give up among `held` (its index), or -1 when none may be; `rate` is then set to
// its peerRate. graceMs: kTakeoverGraceMs, or what tests lower it to.
int slotToGiveUp(const std::vector<SlotStats>& held, int graceMs, uint64_t& rate);

}  // namespace detail
}  // namespace redIRI
