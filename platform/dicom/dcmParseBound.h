// The bound on DCMTK's own parse (internal): how deep its recursion may go and how large a tree
// one parse may build, counted where DCMTK really parses rather than predicted by a model of it.
//
// DCMTK reads every item of a sequence through DcmSequenceOfItems::readSubItem and every element
// through DcmItem::readSubElement; a sequence nested in an item is one more turn of that
// recursion. Both are plain (non-virtual, default-visibility) members that libdcmdata itself
// calls through its procedure linkage table, so the definitions in dcmParseBound.cpp take their
// place for every caller, the library included, count, and forward to the library's own. What
// they refuse they refuse with a condition of kGuardModule, which DCMTK passes up as it passes
// its own errors.
//
// Counted per thread:
//  - always: the nesting. An item deeper than kMaxSequenceDepth sequences is refused, whether or
//    not a scope is open (a recursion that deep would end the thread's stack).
//  - within a ParseBound scope: the items and elements one parse builds, at kParseNodeBytes each,
//    refused past kMaxParseNodes. Every place that hands DCMTK bytes from a file or a peer opens
//    one; a scope opened while another is open on the thread joins it, unless it is opened as a
//    parse of its own (Count::Own: a received data set's file read back is held to the same
//    bound as the data set, not to what the data set left of it).
//  - always: a directory record sequence (0004,1220) is refused before DCMTK reads it. DCMTK
//    reads its items as directory records, and a damaged record type makes it throw from inside
//    the element it is building, which it then loses with everything below it; the program reads
//    images and received data sets, never directory files.
//  - always: whatever the library's own member throws is caught where it is called, at the
//    innermost level, and refused (kParseThrew), so that DCMTK's own error path frees what it
//    has built rather than the throw passing over the elements it holds in locals.
//  - within a scope on a thread that charges its parses (ChargedParses): the tree as it is built,
//    charged ahead in chunks (kChargeNodes); a chunk that finds no room refuses the parse. Parses
//    of their own opened within a scope are charged with it: their trees are in memory together.
//  - within a scope: DCMTK's log lines, kLogLinesPerKind of each kind (the text with its numbers
//    left out) per parse, then one line at the scope's end with the count of those left out;
//    within a log stream (an association, an import), the same per stream.
//
// This holds only while the definitions really take the place of the library's (a DCMTK built
// with -Bsymbolic, link-time optimisation or these members inlined would bypass them):
// parseBoundLive() tells, and the library checks it once when it starts.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/ofstd/ofcond.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace redIRI {
namespace detail {

// What DCMTK's heap holds for one item or element of a parsed tree, in bytes, measured with
// mallinfo2 on DCMTK 3.6.7: 256 for an item (the item and its list entry), 208 to 256 for an
// element with a value of up to 16 bytes (the element, its list entry and the value's own
// allocation). Longer values are bounded by the bytes parsed, which sit in memory or in the file.
constexpr uint64_t kParseNodeBytes = 256;
// The most one parse may build: 768 MiB of tree, with the bytes received and the program itself
// about 1 GB. 3 Mi items and elements; the densest genuine objects (large dose and measurement
// reports) hold well under a million.
constexpr uint64_t kParseBudgetBytes = uint64_t(768) << 20;
constexpr uint64_t kMaxParseNodes = kParseBudgetBytes / kParseNodeBytes;
// Lowers the count for parses begun from now on (tests cannot build gigabytes); no argument puts
// kMaxParseNodes back.
void setParseNodeLimit(uint64_t nodes = kMaxParseNodes);

// What the trees parsed on a thread are charged to while they are built (the storage server's
// receive budget), so that dense data, a few bytes on the wire for each node of the tree, is
// counted for the memory it takes rather than for its bytes.
class ParseCharge {
 public:
  // Grows the charge for the trees of the open parse to `bytes` in all, waiting for room as the
  // charger waits for the bytes it holds. False when no room came.
  virtual bool chargeTree(uint64_t bytes) = 0;
  // What the charges are held within, in bytes: for the refusal's text.
  virtual uint64_t room() const = 0;

 protected:
  ~ParseCharge() = default;
};
// Nodes charged ahead of the parse: first kFirstChargeNodes (64 KiB of tree, what an image's
// header builds), then as many again as are charged so far, at most kChargeNodes (4 MiB) at once.
// A small data set holds little of the budget, what is charged is never more than twice what is
// built, nor 4 MiB more, and the densest parse takes the charger's lock some 200 times.
constexpr uint64_t kFirstChargeNodes = 256;
constexpr uint64_t kChargeNodes = 16 << 10;

// Charges the trees built within ParseBound scopes on the calling thread to `charge` for as long
// as it lives (RAII, on one thread; the charge outlives it). A scope already open is charged from
// its next node on.
class ChargedParses {
 public:
  explicit ChargedParses(ParseCharge& charge);
  ~ChargedParses();
  ChargedParses(const ChargedParses&) = delete;
  ChargedParses& operator=(const ChargedParses&) = delete;

 private:
  ParseCharge* m_previous;
};

// One parse of bytes we do not control, on the calling thread (RAII; not to be moved between
// threads). DCMTK may swallow a refusal where it is told to go on past damage, so the caller asks
// refusal() after the parse rather than trusting DCMTK's condition alone.
class ParseBound {
 public:
  enum class Count { Joined, Own };
  // Joined: joins a scope already open on the thread, else opens one. Own: counts a parse of its
  // own (its nodes, limit, refusal and log lines) even within another scope, whose count and
  // refusal are back when it ends.
  explicit ParseBound(Count count = Count::Joined);
  ~ParseBound();
  ParseBound(const ParseBound&) = delete;
  ParseBound& operator=(const ParseBound&) = delete;

  // The first refusal of this parse (of the scope this one joined), EC_Normal while none. Its text
  // says what was refused: "nests sequences deeper than 128 levels", "holds more than N items and
  // elements" (N the limit in force when the scope opened), "finds no room within N bytes for the
  // data sets being received at once" (kNoRoom: transient, the same bytes may parse later),
  // "declares a value of N bytes, more than the M bytes it came in" (M the ceiling in force then).
  OFCondition refusal() const;
  bool refused() const { return refusal().bad(); }
  // Items and elements DCMTK has built so far in this parse.
  uint64_t nodes() const;
  // Refuses, from now on until this scope ends, an element declaring a value longer than `bytes`:
  // DCMTK makes room for a value's declared length before reading it wherever the value cannot
  // stay in a file, so a parse from memory passes the bytes it holds (UINT64_MAX lifts the
  // limit). The ceiling of the scope holding this one is back when this one ends.
  void limitValues(uint64_t bytes);

 private:
  struct Saved;
  bool m_outermost;
  Saved* m_saved;  // Own within another scope: that scope's count
  uint64_t m_ceiling;  // the ceiling in force when this scope opened
};

// Items and elements built so far by the parse open on the calling thread (0 when none): what
// an owner that takes over a tree just parsed may later give back (giveBackTree).
uint64_t openParseNodes();

// DCMTK's log lines kept per parse: this many of each kind, then only counted.
constexpr int kLogLinesPerKind = 3;
// Whether a line DCMTK logs on the calling thread is to be written: within a log stream (below),
// the first kLogLinesPerKind of its kind in the stream; else always outside a scope, and within
// one, the first kLogLinesPerKind of its kind (the text with its numbers and quoted names left
// out, at most kLogKinds kinds). The scope's (the stream's) end writes one line with the count of
// lines left out.
constexpr size_t kLogKinds = 64;
bool keepLogLine(int level, const char* text);

// A log stream: everything one peer or one import may make the program log, whatever the number
// of parses in it (every match of a search, every received data set and every file of an import
// is a parse of its own). While a stream is open on a thread, DCMTK's lines and the layer's own
// (logLine) on that thread are kept kLogLinesPerKind of each kind for the whole stream; its end
// writes one line with the count left out, naming `what`. A stream opened while another is open
// on the thread joins it. Per thread: begin and end on the thread that logs.
// endLogStream: the count of lines the stream left out, written as "<what>: N more lines left out of
// the log (3 of each kind are written)" through the layer's log unless writeCount is false (the
// caller writes it to its own).
void beginLogStream(const std::string& what);
uint64_t endLogStream(bool writeCount = true);
bool logStreamOpen();
// Whether a line of the program's own, logged on the calling thread, is to be written: always
// outside a stream, else as DCMTK's lines are counted.
bool keepStreamLine(const char* text);
// What a parse or a stream has written and left out so far.
struct LogTally {
  std::vector<std::pair<uint64_t, int>> kinds;  // each kind of line (hashed) and how many were written
  uint64_t leftOut = 0;
};
// A stream run in parts, apart in time or in thread (the queries of one search, each run by
// whatever find thread the search has then): each part opens the stream on its thread with the
// tally of the parts before it and gives the tally back at its end, writing nothing.
void resumeLogStream(const std::string& what, LogTally& tally);
void suspendLogStream(LogTally& tally);
// Writes "<what>: N more lines left out of the log ..." for the lines the tally left out since it
// last said so. Before the stream's last part (last false) this line is itself a kind of line of
// the stream, written at most kLogLinesPerKind times; `last` writes it whatever came before.
void tellLeftOut(const std::string& what, LogTally& tally, bool last);

// One stream for as long as it lives (RAII, on one thread); with a tally, one part of a stream
// run in parts.
class LogStream {
 public:
  explicit LogStream(const std::string& what) { beginLogStream(what); }
  LogStream(const std::string& what, LogTally& tally) : m_tally(&tally) { resumeLogStream(what, tally); }
  ~LogStream() {
    if (m_tally)
      suspendLogStream(*m_tally);
    else
      endLogStream();
  }
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

 private:
  LogTally* m_tally = nullptr;
};

// Trees of at least this many nodes (16 MiB) give the heap back to the system when freed: the
// allocator keeps what a freed tree held otherwise (gigabytes resident after a few dense sets).
constexpr uint64_t kGiveBackNodes = 64 << 10;
// Once a tree of `nodes` items and elements is freed: gives the heap back if it was large.
void giveBackTree(uint64_t nodes);

// Once the tree of a refused parse is freed, its scope still open: gives the memory back to the
// system, which the allocator would otherwise keep (up to a gigabyte resident after one hostile
// file or peer), for a refusal of its size (kTreeTooLarge, kNoRoom) or a tree of kGiveBackNodes.
void giveBackRefusedTree(const OFCondition& refusal);

// Whether the bound is in effect: DCMTK's own readers are found to forward to, and DCMTK parses
// 200 nested levels from memory and comes back with the bound's refusal. Cheap (a few kilobytes).
bool parseBoundLive();
// The same check: "" when the bound is in effect, else what failed.
std::string parseBoundFault();

}  // namespace detail
}  // namespace redIRI
