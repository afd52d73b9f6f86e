#include "dcmParseBound.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "dcmGuard.h"
#include "dcmWalk.h"

namespace redIRI {
namespace detail {
namespace {

// The calling thread's parse: the recursion open now, and the scope's count and refusal.
struct ThreadParse {
  int items = 0;     // DcmSequenceOfItems::readSubItem calls open: the sequence depth being read
  int elements = 0;  // DcmItem::readSubElement calls open
  bool scoped = false;
  uint64_t nodes = 0;
  uint64_t limit = kMaxParseNodes;
  // The one test admit() makes per node: past it, the limit or the next chunk to charge.
  uint64_t checkAt = kMaxParseNodes;
  ParseCharge* charge = nullptr;  // ChargedParses
  uint64_t charged = 0;           // nodes charged in this scope
  uint64_t room = 0;              // the charge's room when it refused
  // The longest value the bytes being parsed can hold (ParseBound::limitValues), and the one
  // refused for passing it.
  uint64_t valueCeiling = UINT64_MAX;
  uint64_t refusedLength = 0;
  GuardCode refused = GuardCode(0);  // sticky within a scope: DCMTK may be told to read on past errors
};
thread_local ThreadParse t_parse;
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
                                    " bytes, more than the " + std::to_string(t_parse.valueCeiling) +
                                    " bytes it came in");
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
void rearm(ThreadParse& t) { t.checkAt = t.charge ? std::min(t.limit, t.charged) : t.limit; }

// Past checkAt: refuses past the limit, else charges the next chunk of the tree.
OFCondition chargeOrRefuse(ThreadParse& t) {
  if (t.nodes > t.limit) return refuse(kTreeTooLarge);
  const uint64_t chunk = std::min(std::max(t.charged, kFirstChargeNodes), kChargeNodes);
  const uint64_t next = std::min(t.limit, t.charged + chunk);
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
    return refuse(kLengthPastEnd);
  }
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
  return own(std::forward<Arguments>(arguments)...);
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

ParseBound::ParseBound() : m_outermost(!t_parse.scoped) {
  if (!m_outermost) return;
  t_parse.scoped = true;
  t_parse.nodes = 0;
  t_parse.limit = g_nodeLimit;
  t_parse.refused = GuardCode(0);
  t_parse.charged = 0;
  rearm(t_parse);
}

ParseBound::~ParseBound() {
  if (!m_outermost) return;
  t_parse.scoped = false;
  t_parse.nodes = 0;
  t_parse.refused = GuardCode(0);
  t_parse.valueCeiling = UINT64_MAX;
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

void giveBackRefusedTree(const OFCondition& refusal) {
  if (refusal.module() == kGuardModule && (refusal.code() == kTreeTooLarge || refusal.code() == kNoRoom))
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
