// One parsed DICOM file (internal), shared by dcmReader and dcmReadTag: opening with the
// acceptance rules, element look-up, and the text of a value as the program reads it.
//
// Opening parses the tags only. Values longer than a few kilobytes (pixel data, fragments,
// large binary elements) are skipped while parsing and stay on disk until something reads
// them, so a header read costs about the same for a small and for a large file.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dcmGuard.h"
#include "dcmPixels.h"
#include "dcmText.h"

namespace redIRI {
namespace detail {

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

struct WalkLimits {
  uint64_t limit = UINT64_MAX;      // the most bytes the stream may yield (checked with lengthsMustFit)
  bool lengthsMustFit = true;       // see above
  uint64_t storedBytes = 0;         // the bytes stored or sent, for the tree allowance
  uint32_t inMemoryUpTo = UINT32_MAX;  // values up to this length are kept in memory by DCMTK
  bool metaGroupOnly = false;       // stop at the first top-level element past the file meta group
};

// Items and elements seen so far, and what they cost; one tally may span several walks (a file's
// meta group and data set).
struct WalkTally {
  uint64_t nodes = 0;
  uint64_t cost = 0;
};

// Walks the data set the stream yields, in `xfer`'s encoding (inflated already for the deflated
// syntax). False with the reason, naming the data set as `what`.
bool walkDataSet(DcmInputStream& stream, E_TransferSyntax xfer, const std::string& what, const WalkLimits& limits,
                 WalkTally& tally, std::string& why);

class DicomFile {
 public:
  DicomFile();
  ~DicomFile();
  DicomFile(const DicomFile&) = delete;
  DicomFile& operator=(const DicomFile&) = delete;

  void setLanguage(int language);

  // Accepts a file with the 128-byte preamble and "DICM", or one without a preamble that
  // parses as a data set holding an SOP Class UID or Pixel Data. Logs the reason on failure,
  // with `who` naming the caller and the file as `shownAs` (its path when null); a null `who`
  // fails silently (folder walks that skip whatever is not DICOM).
  bool open(const char* path, const char* who, const char* shownAs = nullptr);
  // Whether a file says it is DICOM, whether or not it can be read: the 128-byte preamble and
  // "DICM", or (without preamble) a file meta element first.
  static bool claimsToBeDicom(const char* path);
  // Takes over a data set already in memory (received from the network); `name` stands in
  // for the path in log lines. Values then read by the same rules as an opened file's.
  void adopt(std::unique_ptr<DcmFileFormat> file, const std::string& name);
  DcmFileFormat* fileFormat() const { return m_file.get(); }
  // Runs `read`, which goes on reading the open file through DCMTK (values left on disk, pixels,
  // anything that may parse its bytes). Should DCMTK throw, the file is refused from then on:
  // one log line naming `who` and the file, the file closed, and false returned.
  template <class Read>
  bool guard(const char* who, Read&& read) {
    std::string why;
    if (survives(std::forward<Read>(read), why)) return true;
    refuse(who, why);
    return false;
  }
  void close();
  bool isOpen() const { return static_cast<bool>(m_file); }
  const std::string& path() const { return m_path; }

  DcmDataset* dataset() const;
  DcmMetaInfo* metaInfo() const;
  // The transfer syntax the data set was read in.
  E_TransferSyntax transferSyntax() const;

  // The element (group, element) in the data set's top level, then in the file meta header;
  // the radiopharmaceutical timing and dose tags also in the first item of (0054,0016).
  DcmElement* find(Uint16 group, Uint16 element) const;
  // The element in the data set's top level only.
  DcmElement* findInDataset(const DcmTagKey& key) const;

  // The value as the program reads it: UTF-8, padding removed, values joined by "\",
  // numbers in decimal; "<binary N bytes>" and "<sequence N items>" for the others.
  std::string valueText(DcmElement* element);

  // Small helpers for header values the layer itself needs (first value; fallback when
  // absent or unreadable).
  long intValue(const DcmTagKey& key, long fallback) const;
  double decimalValue(const DcmTagKey& key, unsigned long position, double fallback) const;
  std::string stringValue(const DcmTagKey& key) const;  // trimmed, ASCII attributes only

  struct IndexEntry {
    Uint32 tag;  // group << 16 | element
    DcmElement* element;
  };

 private:
  void refuse(const char* who, const std::string& why);

  std::unique_ptr<DcmFileFormat> m_file;
  std::string m_path;
  int m_language = 0;
  std::string m_characterSet;
  text::TextDecoder m_decoder;
  // Top-level elements sorted by tag, kept for files opened from disk (a scan asks some 30
  // tags per file); adopted data sets may be changed by their owner and are searched instead.
  bool m_indexed = false;
  std::vector<IndexEntry> m_dataIndex;
  std::vector<IndexEntry> m_metaIndex;
};

}  // namespace detail
}  // namespace redIRI
