// Where bytes we do not control meet DCMTK (internal). DCMTK reports most damage as a bad
// OFCondition, but some input makes it throw instead: a directory record whose type text is
// damaged throws std::out_of_range from inside DcmDirectoryRecord::read, an allocation it cannot
// make throws std::bad_alloc. Nothing thrown may cross the library's interface or end one of
// its threads (which would end the program), so every call that hands DCMTK the bytes of a file
// or of a peer runs inside survives(): a throw becomes a failure of that one file or association,
// with its description for the log line, and the caller answers as for any unreadable input.
//
// The places: opening a file and everything read from it later (tags, values left on disk,
// pixel decoding, PNG rendering, the converter's source), and parsing every command and data set
// received from a peer (storage server, retrieval, find, echo and send answers).
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/ofstd/ofcond.h>

#include <exception>
#include <string>

namespace redIRI {
namespace detail {

// The module number of the layer's own refusals (OFCondition): DCMTK keeps the numbers up to 1023
// for its own modules and leaves those above to applications, so a refusal of ours is never
// mistaken for one of DCMTK's codes.
constexpr unsigned short kGuardModule = 1024 + 0x51;
enum GuardCode : unsigned short {
  kUnsoundStructure = 1,  // the structural walk refused the data set (nesting)
  kCheckCannotRun = 2,    // a check could not run, so the data set is refused unchecked
  kReadFailed = 3,        // reading the file failed (the system's reason)
  kNestedTooDeep = 4,     // DCMTK's parse reached an item nested deeper than kMaxSequenceDepth
  kTreeTooLarge = 5,      // DCMTK's parse built more items and elements than one parse may hold
  kNoRoom = 32,           // DCMTK's parse found no room where its tree is charged (transient)
  kParseThrew = 33,       // DCMTK's parse threw; caught where it was called and refused
  // Refusals of the structural walk, by what it found (codes from 6 on):
  kDirectoryRecord = 6,   // a directory record sequence: the program reads images, not directories
  kLengthPastEnd = 7,     // a declared length reaches past the bytes there are or past its holder
  kTooLarge = 8,          // the data set holds or inflates to more than the most allowed
  kInvalidVR = 9,         // an explicit element without a valid VR where its value cannot stay in the file
  kUnmodelledShape = 10,  // a shape the walk cannot follow as DCMTK will read it
};
inline OFCondition guardRefusal(GuardCode code, const std::string& why) {
  return makeOFCondition(kGuardModule, code, OF_error, why.c_str());
}

// A readable description of what was thrown: its type and what() ("std::out_of_range:
// basic_string::substr: ..."), for "... threw <description>".
std::string describeThrown(std::exception_ptr thrown);

// Runs body(). True when it returned; false when it threw, with `why` describing the throw.
template <class Body>
bool survives(Body&& body, std::string& why) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    why = describeThrown(std::current_exception());
  }
  return false;
}

}  // namespace detail
}  // namespace redIRI
