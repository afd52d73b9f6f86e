// The structural walk of a data set (internal): what the program checks in bytes from a file or
// a peer before DCMTK parses them.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcistrma.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/ofstd/ofcond.h>

#include <cstdint>
#include <string>

#include "dcmGuard.h"
#include "dcmPixels.h"

namespace redIRI
{
namespace detail
{

// The one structural walk of a data set, run before DCMTK parses bytes from a file or a peer
// (file open: file meta group and data set; every command and data set received). It reads the
// data set as DCMTK will, element by element and without recursion, and refuses:
//  - sequences nested deeper than kMaxSequenceDepth: DCMTK reads nested sequences by recursion
//    and runs out of stack (a 121-KB file of 6,000 levels ends the program);
//  - more items and elements than the stored size allows (kNodeCost below): DCMTK spends about
//    256 bytes on each, so a file of empty items costs it 32 times its size;
//  - a directory record sequence (0004,1220), recognised by its tag at element level: DCMTK cannot
//    read every damaged directory record (it throws from inside the record and loses it), and
//    the program reads images, never directories;
//  - when asked (lengthsMustFit), a declared length reaching past the end of what the stream
//    holds, more than `limit` bytes, or an explicit element without a valid VR: DCMTK reserves a
//    value's declared length before reading it wherever the value cannot stay in the file
//    (deflated files, data sets received over the network), so a hundred bytes could make it
//    reserve gigabytes.

// How deep sequences may nest in a data set (a sequence in an item of a top-level sequence is at
// depth 2). DCMTK spends two or three calls on each level; 128 levels take some 200 KB of stack
// in the sanitiser build and far less in the release build, a small part of any thread's stack.
// Real objects stay far below: images nest functional groups and code sequences two to four
// levels, structured reports the deepest, a content tree of a measurement or CAD report ten to
// twenty levels with its code and reference sequences (the deepest real-shaped report of the
// tests nests 26). 128 is several times that.
constexpr int kMaxSequenceDepth = 128;
// What DCMTK's parsed tree may cost, in bytes: about kNodeCost for each item and element (DCMTK
// spends 224 bytes on an element and 265 on an item without values) plus the values it keeps in
// memory, at most kTreeFloorBytes + kTreeBytesPerStoredByte times the bytes stored (the file, or
// the data set as sent). Without values in memory that is 256 Ki items and elements plus one
// for every 16 bytes stored. A file of one million empty items (8 MB, 260 MB in DCMTK) is
// refused; genuine objects are not: images keep their pixel data in the file and need a few
// dozen elements per frame, and the densest genuine data sets, large dose reports, hold one item
// or element per 20 bytes or more, 12 times their size in DCMTK.
constexpr uint64_t kNodeCost = 256;
constexpr uint64_t kTreeFloorBytes = uint64_t(64) << 20;
constexpr uint64_t kTreeBytesPerStoredByte = 16;
// The most a deflated data set, read from a file or received, may inflate to: the most one
// object decodes to.
constexpr uint64_t kMaxInflatedBytes = kMaxDecodedBytes;

struct WalkLimits
{
    uint64_t limit = UINT64_MAX;        // the most bytes the stream may yield (checked with lengthsMustFit)
    bool lengthsMustFit = true;         // see above
    uint64_t storedBytes = 0;           // the bytes stored or sent, for the tree allowance
    uint32_t inMemoryUpTo = UINT32_MAX; // values up to this length are kept in memory by DCMTK
    bool metaGroupOnly = false;         // stop at the first top-level element past the file meta group
};

// Items and elements seen so far, and what they cost; one tally may span several walks (a file's
// meta group and data set).
struct WalkTally
{
    uint64_t nodes = 0;
    uint64_t cost = 0;
};

// Walks the data set the stream yields, in `xfer`'s encoding (inflated already for the deflated
// syntax). EC_Normal when sound; otherwise a refusal of kGuardModule (GuardCode) whose text says
// why, naming the data set as `what`.
OFCondition walkDataSet(DcmInputStream& stream, E_TransferSyntax xfer, const std::string& what,
                        const WalkLimits& limits, WalkTally& tally);

} // namespace detail
} // namespace redIRI
