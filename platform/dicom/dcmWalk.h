// The structural walk of a data set (internal): what the program checks in bytes from a file or
// a peer before DCMTK parses them.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcistrma.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/ofstd/ofcond.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dcmGuard.h"
#include "dcmPixels.h"

namespace redIRI {
namespace detail {

// The one structural walk of a data set, run before DCMTK parses bytes from a file or a peer
// (file open: file meta group and data set; every command and data set received). It reads the
// data set as DCMTK will, element by element and without recursion, and refuses:
//  - sequences nested deeper than kMaxSequenceDepth: DCMTK reads nested sequences by recursion
//    and runs out of stack (a 121-KB file of 6,000 levels ends the program);
//  - a directory record sequence (0004,1220), recognised by its tag at element level: DCMTK cannot
//    read every damaged directory record (it throws from inside the record and loses it), and
//    the program reads images, never directories;
//  - when asked (lengthsMustFit), a declared length reaching past the end of what the stream
//    holds, more than `limit` bytes, or an explicit element without a valid VR: DCMTK reserves a
//    value's declared length before reading it wherever the value cannot stay in the file
//    (deflated files, data sets received over the network), so a hundred bytes could make it
//    reserve gigabytes.
//  - the shapes it does not follow as DCMTK reads them (kUnmodelledShape): an element of group
//    FFFE other than an item and the two delimiters, Pixel Data stored with another VR than OB, OW
//    or UN, a delimiter inside an item or sequence of defined length, and a value of defined length
//    that DCMTK may read as a sequence (implicit VR, UN) and that opens with a delimiter. In each
//    DCMTK would nest where the walk does not look, so the walk's bounds would not hold. So are
//    a value of odd length that the walk would enter as a sequence (it opens with an item) and a
//    header, a delimiter's included, that runs past the end of the item or sequence holding it:
//    there DCMTK goes on at another byte than the walk would.
// The data set is read in the syntax DCMTK reads it in, its guess for files without a meta group
// included (big-endian implicit VR among them).

// How deep sequences may nest in a data set (a sequence in an item of a top-level sequence is at
// depth 2). DCMTK spends two or three calls on each level; 128 levels take some 200 KB of stack
// in the sanitiser build and far less in the release build, a small part of any thread's stack.
// Real objects stay far below: images nest functional groups and code sequences two to four
// levels, structured reports the deepest, a content tree of a measurement or CAD report ten to
// twenty levels with its code and reference sequences (the deepest real-shaped report of the
// tests nests 26). 128 is several times that.
constexpr int kMaxSequenceDepth = 128;
// How many items and elements DCMTK may build is counted inside its parse (dcmParseBound.h).
// The most a deflated data set, read from a file or received, may inflate to: the most one
// object decodes to.
constexpr uint64_t kMaxInflatedBytes = kMaxDecodedBytes;

struct WalkLimits {
  uint64_t limit = UINT64_MAX;  // the most bytes the stream may yield (checked with lengthsMustFit)
  bool lengthsMustFit = true;   // see above
  bool metaGroupOnly = false;   // stop at the first top-level element past the file meta group
};

// Walks the data set the stream yields, in `xfer`'s encoding (inflated already for the deflated
// syntax). EC_Normal when sound; otherwise a refusal of kGuardModule (GuardCode) whose text says
// why, naming the data set as `what`.
OFCondition walkDataSet(DcmInputStream& stream, E_TransferSyntax xfer, const std::string& what,
                        const WalkLimits& limits);

// For the fuzz harness: from now on, the walks of data sets (not of meta groups) on the calling
// thread append the tags (group << 16 | element) of the top-level elements they meet to `into`,
// in the order met; null stops it.
void recordTopLevelTags(std::vector<Uint32>* into);

}  // namespace detail
}  // namespace redIRI
