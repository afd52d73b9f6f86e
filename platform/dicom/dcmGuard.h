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

#include <exception>
#include <string>

namespace redIRI {
namespace detail {

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
