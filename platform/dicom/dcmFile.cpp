#include "dcmFile.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "dcmGuard.h"
#include "dcmPixels.h"
#include "dcmParseBound.h"
#include "dcmLibrary.h"
#include "dcmStreams.h"

namespace redIRI {
namespace detail {

namespace {

// Values longer than this are left on disk while parsing and read on first access.
const Uint32 kMaxReadLength = 4096;

enum class Head { Preamble, DataSet, Other };


// What the first bytes of a file say. A data set without a preamble starts with an element
// of a low group (file meta, directory, identification ... image pixel module) or with Pixel
// Data, in either byte order; anything else (images, text, archives) is not parsed at all,
// which also keeps DCMTK from reporting the garbage it would find.
Head classifyHead(const unsigned char* head, size_t n) {
  if (n >= 132 && std::memcmp(head + 128, "DICM", 4) == 0) return Head::Preamble;
  if (n < 8) return Head::Other;
  auto plausible = [](unsigned group) { return (group >= 0x0002 && group <= 0x0028) || group == 0x7FE0; };
  return plausible(head[0] | (head[1] << 8)) || plausible((head[0] << 8) | head[1]) ? Head::DataSet : Head::Other;
}

// The bytes read from the start of a file before DCMTK parses it: enough for the preamble and
// "DICM".
const size_t kHeadBytes = 132;

// Reads the first bytes of the stream (at most kHeadBytes, their count in n) and returns it to
// where it was, so that DCMTK parses the same open file from its start.
Head readHead(DcmInputStream& stream, unsigned char* head, size_t& n) {
  n = 0;
  stream.mark();
  while (n < kHeadBytes && stream.good() && !stream.eos()) {
    const offile_off_t got = stream.read(head + n, static_cast<offile_off_t>(kHeadBytes - n));
    if (got <= 0) break;
    n += static_cast<size_t>(got);
  }
  stream.putback();
  return stream.good() ? classifyHead(head, n) : Head::Other;
}

// DCMTK's guess of a data set's encoding from its first bytes, as it makes it for a file meta
// group and for a data set whose meta group names no transfer syntax.
class SyntaxProbe : public DcmItem {
 public:
  E_TransferSyntax detect(DcmInputStream& stream) { return checkTransferSyntax(stream); }
};

bool isRadiopharmaceuticalTag(Uint16 group, Uint16 element) {
  return group == 0x0018 && (element == 0x1072 || element == 0x1074 || element == 0x1075 || element == 0x1078);
}

bool isStringVR(DcmEVR vr) {
  switch (vr) {
    case EVR_AE:
    case EVR_AS:
    case EVR_CS:
    case EVR_DA:
    case EVR_DS:
    case EVR_DT:
    case EVR_IS:
    case EVR_LO:
    case EVR_LT:
    case EVR_PN:
    case EVR_SH:
    case EVR_ST:
    case EVR_TM:
    case EVR_UC:
    case EVR_UI:
    case EVR_UR:
    case EVR_UT:
      return true;
    default:
      return false;
  }
}

bool isIntegerVR(DcmEVR vr) {
  switch (vr) {
    case EVR_US:
    case EVR_SS:
    case EVR_UL:
    case EVR_SL:
    case EVR_SV:
    case EVR_UV:
    case EVR_AT:
      return true;
    default:
      return false;
  }
}

Uint32 packedTag(const DcmTagKey& key) { return (Uint32(key.getGroup()) << 16) | key.getElement(); }

// Elements of one item sorted by tag, for look-ups by binary search over contiguous keys.
void indexItem(DcmItem* item, std::vector<DicomFile::IndexEntry>& index) {
  index.clear();
  if (!item) return;
  index.reserve(item->card());
  // Walked in list order: getElement(i) would seek from the list's head every time.
  for (DcmObject* obj = item->nextInContainer(nullptr); obj; obj = item->nextInContainer(obj))
    index.push_back({packedTag(obj->getTag()), static_cast<DcmElement*>(obj)});  // an item holds elements only
  // DCMTK keeps an item's elements in tag order already; sorting makes the index independent of that.
  std::stable_sort(index.begin(), index.end(),
                   [](const DicomFile::IndexEntry& a, const DicomFile::IndexEntry& b) { return a.tag < b.tag; });
}

DcmElement* lookUp(const std::vector<DicomFile::IndexEntry>& index, const DcmTagKey& key) {
  const Uint32 tag = packedTag(key);
  auto it = std::lower_bound(index.begin(), index.end(), tag,
                             [](const DicomFile::IndexEntry& e, Uint32 t) { return e.tag < t; });
  return it != index.end() && it->tag == tag ? it->element : nullptr;
}

}  // namespace


DicomFile::DicomFile() = default;
DicomFile::~DicomFile() { close(); }

void DicomFile::setLanguage(int language) {
  m_language = language;
  m_decoder.reset(m_characterSet, m_language);
}

bool DicomFile::open(const char* path, const char* who, const char* shownAs) {
  const char* shown = shownAs ? shownAs : path;
  close();
  m_openError = 0;
  if (!path || !*path) {
    if (who) logLine("%s: no file name given", who);
    return false;
  }
  // Without blocking: a FIFO or device is refused below, never waited on.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (fd < 0) m_openError = error;
    if (!who) return false;
    if (fd < 0 && error != ENOENT && error != ENOTDIR)
      logLine("%s: cannot open \"%s\": %s", who, shown, std::strerror(error));
    else
      logLine("%s: cannot open \"%s\": no such file", who, shown);
    return false;
  }
  // One open for both the head check and the parse; values left on disk are read later by
  // file name.
  const auto blocks = std::make_shared<FileBlocks>(fd, static_cast<offile_off_t>(info.st_size));
  DescriptorStream stream(path, blocks);
  unsigned char headBytes[kHeadBytes];
  size_t headCount = 0;
  const Head head = stream.good() ? readHead(stream, headBytes, headCount) : Head::Other;
  if (head == Head::Other) {
    if (who) logLine("%s: \"%s\" is not a DICOM file", who, shown);
    return false;
  }
  const bool preamble = head == Head::Preamble;

  // DCMTK reads the file meta group, then the data set in the syntax that group names. Each part
  // is walked first (walkDataSet) through a stream of its own over the same blocks, the data set
  // once DCMTK has read the meta group, so the walk starts where DCMTK will and reads the same
  // encoding; the blocks of the header are read from the file once for the walks and DCMTK.
  WalkLimits limits;
  limits.lengthsMustFit = false;  // values left in the file are checked when read
  std::string unsound;
  auto walk = [&](offile_off_t from, E_TransferSyntax xfer, bool meta) {
    DescriptorStream part(path, blocks, from);
    if (xfer == EXS_Unknown) xfer = SyntaxProbe().detect(part);
    WalkLimits partLimits = limits;
    partLimits.metaGroupOnly = meta;
    std::string what = meta ? "file meta group" : "data set";
    if (!meta && DcmXfer(xfer).getStreamCompression() == ESC_zlib) {
      if (part.installCompressionFilter(ESC_zlib).bad()) {
        unsound = "its structure cannot be checked: the deflated data set cannot be inflated";
        return false;
      }
      what = "deflated data set";
      partLimits.lengthsMustFit = true;
      partLimits.limit = kMaxInflatedBytes;
    }
    const OFCondition walked = walkDataSet(part, xfer, what, partLimits);
    if (walked.bad()) unsound = walked.text();
    return walked.good();
  };

  // What DcmFileFormat::loadFile does after opening the file, in two steps.
  auto file = std::make_unique<DcmFileFormat>();
  OFCondition cond = EC_Normal;
  takeDcmtkError();
  std::string thrown;
  ParseBound bound;
  const bool survived = survives(
      [&] {
        if (!walk(preamble ? 132 : 0, EXS_Unknown, true)) return;
        file->setReadMode(ERM_metaOnly);
        file->transferInit();
        cond = file->read(stream, EXS_Unknown, EGL_noChange, kMaxReadLength);
        // No meta group, or none naming a transfer syntax: the data set's own bytes tell.
        if (cond == EC_FileMetaInfoHeaderMissing) cond = EC_Normal;
        if (cond.good()) {
          const char* uid = nullptr;
          DcmMetaInfo* meta = file->getMetaInfo();
          const E_TransferSyntax named = meta && meta->findAndGetString(DCM_TransferSyntaxUID, uid).good() && uid
                                             ? DcmXfer(uid).getXfer()
                                             : EXS_Unknown;
          if (walk(stream.filePosition(), named, false)) {
            file->setReadMode(ERM_autoDetect);
            cond = file->read(stream, EXS_Unknown, EGL_noChange, kMaxReadLength);
            // A meta group and nothing after it: an empty data set, as in one reading.
            if (cond == EC_EndOfStream) cond = EC_Normal;
          }
        }
        file->transferEnd();
      },
      thrown);
  // A tree refused for any reason is freed here, and the heap given back if it was large.
  const uint64_t built = bound.nodes();
  struct GiveBack {
    std::unique_ptr<DcmFileFormat>& file;
    uint64_t nodes;
    ~GiveBack() {
      if (file) {
        file.reset();
        giveBackTree(nodes);
      }
    }
  } giveBack{file, built};
  if (survived && !unsound.empty()) {
    if (who) logLine("%s: cannot read \"%s\": %s", who, shown, unsound.c_str());
    return false;
  }
  if (!survived) {
    if (who) logLine("%s: cannot read \"%s\": reading it threw %s", who, shown, thrown.c_str());
    return false;
  }
  if (bound.refused()) {
    takeDcmtkError();
    if (who) logLine("%s: cannot read \"%s\": it %s", who, shown, bound.refusal().text());
    return false;
  }
  if (cond.bad()) {
    // A refusal of the stream itself says more than what DCMTK made of it.
    const std::string detail = takeDcmtkError();
    if (who)
      logLine("%s: cannot read \"%s\": %s%s%s%s", who, shown, stream.status().bad() ? stream.status().text() : cond.text(),
              detail.empty() ? "" : " (", detail.c_str(), detail.empty() ? "" : ")");
    return false;
  }
  if (!file->getDataset()) {
    if (who) logLine("%s: cannot read \"%s\": no data set", who, shown);
    return false;
  }
  adopt(std::move(file), path);
  m_treeNodes = built;
  // Files from disk are never changed while open: their elements can be looked up by index.
  indexItem(dataset(), m_dataIndex);
  indexItem(metaInfo(), m_metaIndex);
  m_indexed = true;
  // Without a preamble almost any bytes parse as some data set; only accept what looks like
  // a real object.
  if (!preamble) {
    OFString sopClass;
    DcmElement* sop = findInDataset(DCM_SOPClassUID);
    const bool hasSopClass = sop && sop->getOFString(sopClass, 0).good() && !sopClass.empty();
    if (!hasSopClass && !findInDataset(DCM_PixelData)) {
      close();
      if (who) logLine("%s: \"%s\" is not a DICOM file", who, shown);
      return false;
    }
  }
  return true;
}

bool DicomFile::claimsToBeDicom(const char* path) {
  unsigned char head[132];
  FILE* f = path ? std::fopen(path, "rb") : nullptr;
  if (!f) return false;
  const size_t n = std::fread(head, 1, sizeof(head), f);
  std::fclose(f);
  if (n >= 132 && std::memcmp(head + 128, "DICM", 4) == 0) return true;
  return n >= 8 && head[0] == 0x02 && head[1] == 0x00 && std::isupper(head[4]) && std::isupper(head[5]);
}

void DicomFile::refuse(const char* who, const std::string& why) {
  logLine("%s: cannot read \"%s\": reading it threw %s", who, m_path.c_str(), why.c_str());
  close();
}

void DicomFile::adopt(std::unique_ptr<DcmFileFormat> file, const std::string& name) {
  close();
  if (!file) return;
  m_treeNodes = openParseNodes();
  DcmDataset* data = file->getDataset();
  m_file = std::move(file);
  m_path = name;
  OFString charset;
  m_characterSet.clear();
  if (data && data->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset).good())
    m_characterSet.assign(charset.c_str(), charset.length());
  m_decoder.reset(m_characterSet, m_language);
}

void DicomFile::close() {
  m_indexed = false;
  m_dataIndex.clear();
  m_metaIndex.clear();
  if (m_file) {
    m_file.reset();
    giveBackTree(m_treeNodes);
  }
  m_treeNodes = 0;
  m_path.clear();
  m_characterSet.clear();
}

DcmDataset* DicomFile::dataset() const { return m_file ? m_file->getDataset() : nullptr; }

DcmMetaInfo* DicomFile::metaInfo() const { return m_file ? m_file->getMetaInfo() : nullptr; }

E_TransferSyntax DicomFile::transferSyntax() const {
  DcmDataset* data = dataset();
  return data ? data->getOriginalXfer() : EXS_Unknown;
}

DcmElement* DicomFile::findInDataset(const DcmTagKey& key) const {
  if (m_indexed) return lookUp(m_dataIndex, key);
  DcmDataset* data = dataset();
  DcmElement* found = nullptr;
  return data && data->findAndGetElement(key, found, OFFalse).good() ? found : nullptr;
}

DcmElement* DicomFile::find(Uint16 group, Uint16 element) const {
  DcmDataset* data = dataset();
  if (!data) return nullptr;
  const DcmTagKey key(group, element);
  if (DcmElement* found = findInDataset(key)) return found;
  DcmElement* found = nullptr;
  if (m_indexed) {
    if ((found = lookUp(m_metaIndex, key))) return found;
  } else {
    DcmMetaInfo* meta = metaInfo();
    if (meta && meta->findAndGetElement(key, found, OFFalse).good() && found) return found;
  }
  if (isRadiopharmaceuticalTag(group, element)) {
    DcmItem* item = nullptr;
    if (data->findAndGetSequenceItem(DCM_RadiopharmaceuticalInformationSequence, item, 0).good() && item &&
        item->findAndGetElement(key, found, OFFalse).good() && found)
      return found;
  }
  return nullptr;
}

namespace {

// The bytes of compressed pixel data as stored: the sum of its fragments. Item headers and the
// Basic Offset Table (the first item, an index into the fragments) are not pixel data. The
// element's own length says nothing here: it is undefined in the file, and DCMTK answers 0 for
// a representation it has not made. Fragments left on disk keep their stored lengths, so
// nothing is read. False when the element holds no encapsulated pixels.
bool encapsulatedLength(DcmElement* element, unsigned long long& bytes) {
  auto* pixels = dynamic_cast<DcmPixelData*>(element);
  if (!pixels) return false;
  E_TransferSyntax xfer = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixels->getOriginalRepresentationKey(xfer, parameter);
  if (!DcmXfer(xfer).isEncapsulated()) return false;
  DcmPixelSequence* fragments = nullptr;
  if (pixels->getEncapsulatedRepresentation(xfer, parameter, fragments).bad() || !fragments) return false;
  bytes = 0;
  const std::vector<DcmPixelItem*> items = pixelItems(fragments);
  for (size_t i = 1; i < items.size(); ++i) bytes += items[i]->getLength();
  return true;
}

}  // namespace

std::string DicomFile::valueText(DcmElement* element) {
  if (!element) return std::string();
  const DcmEVR vr = element->ident();
  char buf[64];

  if (vr == EVR_SQ) {
    std::snprintf(buf, sizeof(buf), "<sequence %lu items>",
                  static_cast<unsigned long>(static_cast<DcmSequenceOfItems*>(element)->card()));
    return buf;
  }
  if (vr == EVR_FL || vr == EVR_FD) {
    std::string out;
    const unsigned long vm = element->getVM();
    for (unsigned long i = 0; i < vm; ++i) {
      double v = 0;
      if (vr == EVR_FL) {
        Float32 f = 0;
        if (element->getFloat32(f, i).bad()) break;
        v = f;
      } else if (element->getFloat64(v, i).bad()) {
        break;
      }
      if (i) out.push_back('\\');
      out += text::formatDouble(v, vr == EVR_FL);
    }
    return out;
  }
  if (isIntegerVR(vr)) {
    OFString value;
    if (element->getOFStringArray(value).bad()) return std::string();
    return std::string(value.c_str(), value.length());
  }
  if (isStringVR(vr)) {
    OFString raw;
    if (element->getOFStringArray(raw, OFFalse).bad()) return std::string();
    std::string decoded = m_decoder.decode(std::string(raw.c_str(), raw.length()), vr);
    return text::trimValue(decoded, vr);
  }
  unsigned long long bytes = element->getLength();
  encapsulatedLength(element, bytes);
  std::snprintf(buf, sizeof(buf), "<binary %llu bytes>", bytes);
  return buf;
}

long DicomFile::intValue(const DcmTagKey& key, long fallback) const {
  DcmElement* e = findInDataset(key);
  if (!e || e->getLength() == 0) return fallback;
  switch (e->ident()) {
    case EVR_US: {
      Uint16 v;
      return e->getUint16(v).good() ? static_cast<long>(v) : fallback;
    }
    case EVR_SS: {
      Sint16 v;
      return e->getSint16(v).good() ? static_cast<long>(v) : fallback;
    }
    case EVR_UL: {
      Uint32 v;
      return e->getUint32(v).good() ? static_cast<long>(v) : fallback;
    }
    case EVR_SL: {
      Sint32 v;
      return e->getSint32(v).good() ? static_cast<long>(v) : fallback;
    }
    case EVR_IS:
    case EVR_DS: {
      OFString s;
      if (e->getOFString(s, 0).bad()) return fallback;
      char* end = nullptr;
      double v = std::strtod(s.c_str(), &end);
      if (end == s.c_str() || !(v > -2147483648.0 && v < 2147483648.0)) return fallback;
      return static_cast<long>(v);
    }
    default:
      return fallback;
  }
}

double DicomFile::decimalValue(const DcmTagKey& key, unsigned long position, double fallback) const {
  DcmElement* e = findInDataset(key);
  if (!e || e->getLength() == 0) return fallback;
  if (e->ident() == EVR_DS || e->ident() == EVR_IS) {
    OFString s;
    if (e->getOFString(s, position).bad()) return fallback;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    return end == s.c_str() ? fallback : v;
  }
  Float64 v;
  if (e->ident() == EVR_FD && e->getFloat64(v, position).good()) return v;
  Float32 f;
  if (e->ident() == EVR_FL && e->getFloat32(f, position).good()) return f;
  return fallback;
}

std::string DicomFile::stringValue(const DcmTagKey& key) const {
  DcmElement* e = findInDataset(key);
  OFString s;
  if (!e || e->getOFStringArray(s).bad()) return std::string();
  DcmTag tag(key);
  return text::trimValue(std::string(s.c_str(), s.length()), tag.getEVR());
}

}  // namespace detail
}  // namespace redIRI
