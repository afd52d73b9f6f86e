#include "dcmFile.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dcmLibrary.h"

namespace redIRI {
namespace detail {

namespace {

// Values longer than this are left on disk while parsing and read on first access.
const Uint32 kMaxReadLength = 4096;

enum class Head { Preamble, DataSet, Other };

// What the first bytes say. A data set without a preamble starts with an element of a low
// group (file meta, directory, identification ... image pixel module) or with Pixel Data, in
// either byte order; anything else (images, text, archives) is not parsed at all, which also
// keeps DCMTK from reporting the garbage it would find.
Head readHead(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return Head::Other;
  unsigned char head[132];
  size_t n = std::fread(head, 1, sizeof(head), f);
  std::fclose(f);
  if (n == sizeof(head) && std::memcmp(head + 128, "DICM", 4) == 0) return Head::Preamble;
  if (n < 8) return Head::Other;
  auto plausible = [](unsigned group) { return (group >= 0x0002 && group <= 0x0028) || group == 0x7FE0; };
  return plausible(head[0] | (head[1] << 8)) || plausible((head[0] << 8) | head[1]) ? Head::DataSet : Head::Other;
}

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

}  // namespace

DicomFile::DicomFile() = default;
DicomFile::~DicomFile() = default;

void DicomFile::setLanguage(int language) {
  m_language = language;
  m_decoder.reset(m_characterSet, m_language);
}

bool DicomFile::open(const char* path, const char* who) {
  close();
  if (!path || !*path) {
    if (who) logLine("%s: no file name given", who);
    return false;
  }
  struct stat info;
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (who) logLine("%s: cannot open \"%s\": no such file", who, path);
    return false;
  }
  const Head head = readHead(path);
  if (head == Head::Other) {
    if (who) logLine("%s: \"%s\" is not a DICOM file", who, path);
    return false;
  }
  const bool preamble = head == Head::Preamble;

  auto file = std::make_unique<DcmFileFormat>();
  OFCondition cond = file->loadFile(OFFilename(path), EXS_Unknown, EGL_noChange, kMaxReadLength, ERM_autoDetect);
  if (cond.bad()) {
    if (who) logLine("%s: cannot read \"%s\": %s", who, path, cond.text());
    return false;
  }
  DcmDataset* data = file->getDataset();
  if (!data) {
    if (who) logLine("%s: cannot read \"%s\": no data set", who, path);
    return false;
  }
  // Without a preamble almost any bytes parse as some data set; only accept what looks like
  // a real object.
  OFString sopClass;
  const bool hasSopClass = data->findAndGetOFString(DCM_SOPClassUID, sopClass).good() && !sopClass.empty();
  if (!preamble && !hasSopClass && !data->tagExists(DCM_PixelData)) {
    if (who) logLine("%s: \"%s\" is not a DICOM file", who, path);
    return false;
  }
  adopt(std::move(file), path);
  return true;
}

void DicomFile::adopt(std::unique_ptr<DcmFileFormat> file, const std::string& name) {
  close();
  if (!file) return;
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
  m_file.reset();
  m_path.clear();
  m_characterSet.clear();
}

DcmDataset* DicomFile::dataset() const { return m_file ? m_file->getDataset() : nullptr; }

DcmMetaInfo* DicomFile::metaInfo() const { return m_file ? m_file->getMetaInfo() : nullptr; }

E_TransferSyntax DicomFile::transferSyntax() const {
  DcmDataset* data = dataset();
  return data ? data->getOriginalXfer() : EXS_Unknown;
}

DcmElement* DicomFile::find(Uint16 group, Uint16 element) const {
  DcmDataset* data = dataset();
  if (!data) return nullptr;
  const DcmTagKey key(group, element);
  DcmElement* found = nullptr;
  if (data->findAndGetElement(key, found, OFFalse).good() && found) return found;
  DcmMetaInfo* meta = metaInfo();
  if (meta && meta->findAndGetElement(key, found, OFFalse).good() && found) return found;
  if (isRadiopharmaceuticalTag(group, element)) {
    DcmItem* item = nullptr;
    if (data->findAndGetSequenceItem(DCM_RadiopharmaceuticalInformationSequence, item, 0).good() && item &&
        item->findAndGetElement(key, found, OFFalse).good() && found)
      return found;
  }
  return nullptr;
}

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
  std::snprintf(buf, sizeof(buf), "<binary %lu bytes>", static_cast<unsigned long>(element->getLength()));
  return buf;
}

long DicomFile::intValue(const DcmTagKey& key, long fallback) const {
  DcmDataset* data = dataset();
  DcmElement* e = nullptr;
  if (!data || data->findAndGetElement(key, e, OFFalse).bad() || !e || e->getLength() == 0) return fallback;
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
  DcmDataset* data = dataset();
  DcmElement* e = nullptr;
  if (!data || data->findAndGetElement(key, e, OFFalse).bad() || !e || e->getLength() == 0) return fallback;
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
  DcmDataset* data = dataset();
  OFString s;
  if (!data || data->findAndGetOFStringArray(key, s, OFFalse).bad()) return std::string();
  DcmTag tag(key);
  return text::trimValue(std::string(s.c_str(), s.length()), tag.getEVR());
}

}  // namespace detail
}  // namespace redIRI
