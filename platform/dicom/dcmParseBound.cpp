#include "dcmParseBound.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "dcmGuard.h"
#include "dcmLibrary.h"
#include "dcmWalk.h"

namespace redIRI {
namespace detail {
namespace {

// The calling thread's parse: the recursion open now, and the scope's count and refusal.
struct ThreadParse {
  int items = 0;     // DcmSequenceOfItems::readSubItem calls open: the sequence depth being read
  int elements = 0;  // DcmItem::readSubElement calls open
  bool scoped = false;
  uint64_t nodes = 0;  // built by this parse
  uint64_t held = 0;   // built by the parses this one was opened within (Count::Own), held beside it
  uint64_t limit = kMaxParseNodes;
  // The one test admit() makes per node: past it, the limit or the next chunk to charge.
  uint64_t checkAt = kMaxParseNodes;
  ParseCharge* charge = nullptr;  // ChargedParses
  uint64_t charged = 0;           // nodes charged in this scope, those held included
  uint64_t room = 0;              // the charge's room when it refused
  // The longest value the bytes being parsed can hold (ParseBound::limitValues), and the one
  // refused for passing it with the ceiling in force then.
  uint64_t valueCeiling = UINT64_MAX;
  uint64_t refusedLength = 0;
  uint64_t refusedCeiling = 0;
  std::string thrown;                // what DCMTK threw (kParseThrew)
  GuardCode refused = GuardCode(0);  // sticky within a scope: DCMTK may be told to read on past errors
  LogTally log;
};
thread_local ThreadParse t_parse;

// The calling thread's log stream, while one is open (depth: streams opened within it join it).
struct ThreadStream {
  int depth = 0;
  std::string what;
  LogTally log;
};
thread_local ThreadStream t_stream;
std::atomic<uint64_t> g_nodeLimit{kMaxParseNodes};

// Opens one level of recursion for as long as it lives, whatever DCMTK returns or throws.
class Level {
 public:
  explicit Level(int& open) : m_open(open) { ++m_open; }
  ~Level() { --m_open; }
  Level(const Level&) = delete;
  Level& operator=(const Level&) = delete;

 private:
  int& m_open;
};

OFCondition refusalFor(GuardCode code) {
  switch (code) {
    case kNestedTooDeep:
      return guardRefusal(code, "nests sequences deeper than " + std::to_string(kMaxSequenceDepth) + " levels");
    case kTreeTooLarge:
      return guardRefusal(code, "holds more than " + std::to_string(t_parse.limit) + " items and elements");
    case kNoRoom:
      return guardRefusal(code, "finds no room within " + std::to_string(t_parse.room) +
                                    " bytes for the data sets being received at once");
    case kLengthPastEnd:
      return guardRefusal(code, "declares a value of " + std::to_string(t_parse.refusedLength) +
                                    " bytes, more than the " + std::to_string(t_parse.refusedCeiling) +
                                    " bytes it came in");
    case kDirectoryRecord:
      return guardRefusal(code, "holds a directory record sequence (0004,1220), and directory records are not read");
    case kParseThrew:
      return guardRefusal(code, "cannot be parsed: parsing it threw " + t_parse.thrown);
    case kCheckCannotRun:
      return guardRefusal(code, "is not parsed: DCMTK's own reader, which the bound on its parse forwards to, was not "
                                "found");
    default:
      return EC_Normal;
  }
}

// Refuses within a scope for the rest of the parse, and this once without one.
OFCondition refuse(GuardCode code) {
  if (t_parse.scoped && !t_parse.refused) t_parse.refused = code;
  return refusalFor(code);
}

// Sets the node at which admit() next leaves its fast path.
void rearm(ThreadParse& t) {
  t.checkAt = t.charge ? std::min(t.limit, t.charged > t.held ? t.charged - t.held : 0) : t.limit;
}

// Past checkAt: refuses past the limit, else charges the next chunk of the tree.
OFCondition chargeOrRefuse(ThreadParse& t) {
  if (t.nodes > t.limit) return refuse(kTreeTooLarge);
  const uint64_t chunk = std::min(std::max(t.charged, kFirstChargeNodes), kChargeNodes);
  const uint64_t next = std::min(t.held + t.limit, t.charged + chunk);
  if (!t.charge->chargeTree(next * kParseNodeBytes)) {
    t.room = t.charge->room();
    return refuse(kNoRoom);
  }
  t.charged = next;
  rearm(t);
  return EC_Normal;
}

// Whether DCMTK builds something for what it reads under `key`: delimiters come through both
// members too (an item's end as an element, a sequence's end as an item) and build nothing.
bool builds(const DcmTagKey& key) {
  return key != DCM_ItemDelimitationItem && key != DCM_SequenceDelimitationItem;
}

// Before DCMTK reads one more item (isItem) or element under `key`: the refusal, or EC_Normal to
// go on.
OFCondition admit(bool isItem, const DcmTagKey& key, Uint32 length) {
  ThreadParse& t = t_parse;
  if (t.scoped && t.refused) return refusalFor(t.refused);
  // DCMTK makes room for a value's declared length before it reads the value.
  if (!isItem && length != DCM_UndefinedLength && length > t.valueCeiling) {
    t.refusedLength = length;
    t.refusedCeiling = t.valueCeiling;
    return refuse(kLengthPastEnd);
  }
  if (!isItem && key == DCM_DirectoryRecordSequence) return refuse(kDirectoryRecord);
  // Items open are the sequences enclosing this item; elements open, the sequences enclosing
  // this element. The element test holds only should DCMTK reach an item past the bound some way
  // other than readSubItem.
  if (isItem ? t.items >= kMaxSequenceDepth : t.elements > kMaxSequenceDepth) return refuse(kNestedTooDeep);
  if (t.scoped && builds(key) && ++t.nodes > t.checkAt) return chargeOrRefuse(t);
  return EC_Normal;
}

// The library's own definitions, found past ours in the lookup order. The mangled names are
// those of the members defined below (DCMTK 3.6's signatures); the hidden result pointer and
// `this` lead the arguments as they would for a free function with the object first.
using ReadSubItem = OFCondition (*)(DcmSequenceOfItems*, DcmInputStream&, const DcmTag&, Uint32, E_TransferSyntax,
                                    E_GrpLenEncoding, Uint32);
using ReadSubElement = OFCondition (*)(DcmItem*, DcmInputStream&, DcmTag&, Uint32, E_TransferSyntax,
                                       E_GrpLenEncoding, Uint32);

template <class Function>
Function libraryOwn(const char* mangled) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, mangled));
}

const char* const kReadSubItemName =
    "_ZN18DcmSequenceOfItems11readSubItemER14DcmInputStreamRK6DcmTagj16E_TransferSyntax16E_GrpLenEncodingj";
const char* const kReadSubElementName =
    "_ZN7DcmItem14readSubElementER14DcmInputStreamR6DcmTagj16E_TransferSyntax16E_GrpLenEncodingj";

ReadSubItem ownReadSubItem() {
  static const ReadSubItem own = libraryOwn<ReadSubItem>(kReadSubItemName);
  return own;
}

ReadSubElement ownReadSubElement() {
  static const ReadSubElement own = libraryOwn<ReadSubElement>(kReadSubElementName);
  return own;
}

// What both members do: count (refusing past the bound), then call the library's own with one
// level of recursion more open on `open` for as long as it runs.
template <class Own, class... Arguments>
OFCondition countThenForward(bool isItem, const DcmTagKey& key, Uint32 length, int& open, Own own,
                             Arguments&&... arguments) {
  const OFCondition admitted = admit(isItem, key, length);
  if (admitted.bad()) return admitted;
  if (!own) return refuse(kCheckCannotRun);
  Level level(open);
  try {
    return own(std::forward<Arguments>(arguments)...);
  } catch (...) {
    // Caught here, where DCMTK called us: the item or element that called us is still DCMTK's to
    // free on its own error path, which the throw would have passed over.
    t_parse.thrown = describeThrown(std::current_exception());
    return refuse(kParseThrew);
  }
}

// Writes the count of the log lines the parse ending now left out, and forgets its kinds. Within a
// stream the stream counts them, and writes its count at its own end.
void endLog(LogTally& log) {
  if (log.leftOut && !t_stream.depth)
    logLine("DCMTK: %llu more lines left out of the log for this file or data set (%d of each kind are written)",
            static_cast<unsigned long long>(log.leftOut), kLogLinesPerKind);
  log = LogTally();
}

// A line's kind: its level and its text with every word holding a digit (numbers, tags, offsets,
// lengths) and every quoted text (file and entry names, peer values) left out, hashed (FNV-1a).
uint64_t kindOf(int level, const char* text) {
  uint64_t hash = 1469598103934665603ull ^ static_cast<uint64_t>(level);
  auto mix = [&hash](unsigned char c) { hash = (hash ^ c) * 1099511628211ull; };
  const char* p = text;
  while (*p) {
    if (*p == '"') {
      const char* close = std::strchr(p + 1, '"');
      if (close) {
        mix('"');
        p = close + 1;
        continue;
      }
    }
    if (!std::isalnum(static_cast<unsigned char>(*p))) {
      mix(static_cast<unsigned char>(*p++));
      continue;
    }
    const char* word = p;
    bool digit = false;
    for (; std::isalnum(static_cast<unsigned char>(*p)); ++p) digit = digit || std::isdigit(static_cast<unsigned char>(*p));
    if (digit) {
      mix('#');
    } else {
      for (const char* c = word; c < p; ++c) mix(static_cast<unsigned char>(*c));
    }
  }
  return hash;
}

// The little-endian explicit-VR bytes of `levels` sequences nested in one another, each of
// undefined length holding one item of undefined length.
std::vector<unsigned char> nestedLevels(int levels) {
  std::vector<unsigned char> bytes;
  auto put = [&bytes](std::initializer_list<unsigned char> part) { bytes.insert(bytes.end(), part); };
  for (int level = 0; level < levels; ++level) {
    put({0x08, 0x00, 0x15, 0x11, 'S', 'Q', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});  // (0008,1115)
    put({0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF});                  // item
  }
  for (int level = 0; level < levels; ++level) {
    put({0xFE, 0xFF, 0x0D, 0xE0, 0, 0, 0, 0});  // item delimiter
    put({0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});  // sequence delimiter
  }
  return bytes;
}

}  // namespace

// What a parse of its own opened within another scope puts back when it ends.
struct ParseBound::Saved {
  uint64_t nodes, held, limit, refusedLength, refusedCeiling;
  std::string thrown;
  GuardCode refused;
  LogTally log;
};

ParseBound::ParseBound(Count count)
    : m_outermost(!t_parse.scoped), m_saved(nullptr), m_ceiling(t_parse.valueCeiling) {
  ThreadParse& t = t_parse;
  if (!m_outermost && count == Count::Joined) return;
  if (m_outermost) {
    t.scoped = true;
    t.held = 0;
    t.charged = 0;
  } else {
    m_saved = new Saved{t.nodes, t.held, t.limit, t.refusedLength, t.refusedCeiling, std::move(t.thrown), t.refused,
                        std::move(t.log)};
    t.held += t.nodes;
  }
  t.nodes = 0;
  t.limit = g_nodeLimit;
  t.refused = GuardCode(0);
  t.log = LogTally();
  rearm(t);
}

ParseBound::~ParseBound() {
  ThreadParse& t = t_parse;
  t.valueCeiling = m_ceiling;
  if (!m_outermost && !m_saved) return;
  endLog(t.log);
  if (m_saved) {
    t.nodes = m_saved->nodes;
    t.held = m_saved->held;
    t.limit = m_saved->limit;
    t.refusedLength = m_saved->refusedLength;
    t.refusedCeiling = m_saved->refusedCeiling;
    t.thrown = std::move(m_saved->thrown);
    t.refused = m_saved->refused;
    t.log = std::move(m_saved->log);
    delete m_saved;
    rearm(t);
    return;
  }
  t.scoped = false;
  t.nodes = 0;
  t.held = 0;
  t.refused = GuardCode(0);
}

void ParseBound::limitValues(uint64_t bytes) { t_parse.valueCeiling = bytes; }

void setParseNodeLimit(uint64_t nodes) { g_nodeLimit = nodes; }

ChargedParses::ChargedParses(ParseCharge& charge) : m_previous(t_parse.charge) {
  t_parse.charge = &charge;
  rearm(t_parse);
}

ChargedParses::~ChargedParses() {
  t_parse.charge = m_previous;
  rearm(t_parse);
}

OFCondition ParseBound::refusal() const { return refusalFor(t_parse.refused); }

uint64_t ParseBound::nodes() const { return t_parse.nodes; }

uint64_t openParseNodes() { return t_parse.scoped ? t_parse.nodes : 0; }

namespace {

// Counts one line of `kind` in `log`: whether it is to be written.
bool keepCounted(LogTally& log, uint64_t kind) {
  for (auto& seen : log.kinds) {
    if (seen.first != kind) continue;
    if (seen.second < kLogLinesPerKind) {
      ++seen.second;
      return true;
    }
    ++log.leftOut;
    return false;
  }
  if (log.kinds.size() >= kLogKinds) {
    ++log.leftOut;
    return false;
  }
  log.kinds.push_back({kind, 1});
  return true;
}

// The program's own lines are a kind of their own, apart from DCMTK's of every level.
constexpr int kOwnLineLevel = -1;

}  // namespace

bool keepLogLine(int level, const char* text) {
  if (t_stream.depth) return keepCounted(t_stream.log, kindOf(level, text ? text : ""));
  ThreadParse& t = t_parse;
  if (!t.scoped) return true;
  return keepCounted(t.log, kindOf(level, text ? text : ""));
}

bool keepStreamLine(const char* text) {
  if (!t_stream.depth) return true;
  return keepCounted(t_stream.log, kindOf(kOwnLineLevel, text ? text : ""));
}

void beginLogStream(const std::string& what) {
  if (t_stream.depth++) return;
  t_stream.what = what;
  t_stream.log = LogTally();
}

uint64_t endLogStream(bool writeCount) {
  if (t_stream.depth == 0 || --t_stream.depth) return 0;
  LogTally log = std::move(t_stream.log);
  t_stream.log = LogTally();
  const uint64_t leftOut = log.leftOut;
  if (writeCount) tellLeftOut(t_stream.what, log, true);
  return leftOut;
}

bool logStreamOpen() { return t_stream.depth > 0; }

void resumeLogStream(const std::string& what, LogTally& tally) {
  if (t_stream.depth++) return;  // joins the stream open on the thread, which counts its lines
  t_stream.what = what;
  t_stream.log = std::move(tally);
  tally = LogTally();
}

void suspendLogStream(LogTally& tally) {
  if (t_stream.depth == 0 || --t_stream.depth) return;
  tally = std::move(t_stream.log);
  t_stream.log = LogTally();
}

void tellLeftOut(const std::string& what, LogTally& tally, bool last) {
  if (!tally.leftOut) return;
  const uint64_t leftOut = tally.leftOut;
  // Counted like any other line: past its few, it is one more line left out.
  if (!last && !keepCounted(tally, kindOf(kOwnLineLevel, "more lines left out of the log"))) return;
  tally.leftOut = 0;
  logLine("%s: %llu more lines left out of the log (%d of each kind are written)", what.c_str(),
          static_cast<unsigned long long>(leftOut), kLogLinesPerKind);
}

void giveBackTree(uint64_t nodes) {
  if (nodes >= kGiveBackNodes) ::malloc_trim(0);
}

void giveBackRefusedTree(const OFCondition& refusal) {
  if ((refusal.module() == kGuardModule && (refusal.code() == kTreeTooLarge || refusal.code() == kNoRoom)) ||
      openParseNodes() >= kGiveBackNodes)
    ::malloc_trim(0);
}

bool parseBoundLive() { return parseBoundFault().empty(); }

std::string parseBoundFault() {
  for (const char* mangled : {kReadSubItemName, kReadSubElementName}) {
    ::dlerror();
    if (!::dlsym(RTLD_NEXT, mangled)) {
      const char* error = ::dlerror();
      return std::string("DCMTK's own ") + (mangled == kReadSubItemName ? "DcmSequenceOfItems::readSubItem" : "DcmItem::readSubElement") +
             ", which the bound forwards to, cannot be found (" + (error ? error : "no such symbol") + ")";
    }
  }
  // A parse of its own, whatever scope the caller has open; the caller's count is put back.
  const ThreadParse caller = t_parse;
  t_parse = ThreadParse();
  bool live = false;
  {
    std::vector<unsigned char> bytes = nestedLevels(200);
    DcmInputBufferStream in;
    in.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
    in.setEos();
    ParseBound bound;
    DcmDataset dataset;
    OFCondition cond = EC_Normal;
    std::string thrown;
    survives(
        [&] {
          dataset.transferInit();
          cond = dataset.read(in, EXS_LittleEndianExplicit);
          dataset.transferEnd();
        },
        thrown);
    // Refused by the item count, and every element seen on the way (one per level).
    live = cond.module() == kGuardModule && cond.code() == kNestedTooDeep &&
           bound.nodes() >= 2 * static_cast<uint64_t>(kMaxSequenceDepth);
  }
  t_parse = caller;
  if (live) return std::string();
  return "DCMTK parsed 200 nested sequences without passing through the bound (a DCMTK built with "
         "-Bsymbolic-functions or link-time optimisation calls its own readers directly)";
}

}  // namespace detail
}  // namespace redIRI

// These take the place of DCMTK's own (see dcmParseBound.h).
OFCondition DcmSequenceOfItems::readSubItem(DcmInputStream& inStream, const DcmTag& newTag, const Uint32 newLength,
                                            const E_TransferSyntax xfer, const E_GrpLenEncoding glenc,
                                            const Uint32 maxReadLength) {
  using namespace redIRI::detail;
  return countThenForward(true, newTag.getXTag(), newLength, t_parse.items, ownReadSubItem(), this, inStream, newTag,
                          newLength, xfer, glenc, maxReadLength);
}

OFCondition DcmItem::readSubElement(DcmInputStream& inStream, DcmTag& newTag, const Uint32 newLength,
                                    const E_TransferSyntax xfer, const E_GrpLenEncoding glenc,
                                    const Uint32 maxReadLength) {
  using namespace redIRI::detail;
  return countThenForward(false, newTag.getXTag(), newLength, t_parse.elements, ownReadSubElement(), this, inStream,
                          newTag, newLength, xfer, glenc, maxReadLength);
}
