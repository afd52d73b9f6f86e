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
#include "dcmWalk.h"  // the limits a file is opened within
#include "dcmPixels.h"
#include "dcmText.h"

namespace redIRI {
namespace detail {

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
  // The system's reason (errno) when the last open() could not open the file at all, else 0.
  int openError() const { return m_openError; }
  // Whether a file says it is DICOM, whether or not it can be read: the 128-byte preamble and
  // "DICM", or (without preamble) a file meta element first.
  static bool claimsToBeDicom(const char* path);
  // Takes over a data set already in memory (received from the network); `name` stands in
  // for the path in log lines. Values then read by the same rules as an opened file's. A data
  // set parsed within the scope open on this thread (dcmParseBound.h) is taken as that parse's
  // tree: a large one gives the heap back when closed, as an opened file's does.
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
  int m_openError = 0;
  uint64_t m_treeNodes = 0;  // what the parse of the open tree built
  std::vector<IndexEntry> m_dataIndex;
  std::vector<IndexEntry> m_metaIndex;
};

}  // namespace detail
}  // namespace redIRI
