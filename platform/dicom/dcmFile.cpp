#include "dcmFile.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmf.h>
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
#include "dcmParseBound.h"
#include "dcmLibrary.h"

namespace redIRI {
namespace detail {

namespace {

// Values longer than this are left on disk while parsing and read on first access.
const Uint32 kMaxReadLength = 4096;

enum class Head { Preamble, DataSet, Other };

const Uint32 kUndefinedLength = 0xFFFFFFFFu;

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

// A regular file read through its open descriptor, for parsing. DCMTK's own file stream reads
// through stdio, which asks the system for the file's position and size again and again; this
// one knows the size from the start, reads blocks with pread and skips values (pixel data) without
// a call. Behaves as DCMTK's file producer: reads stop at the end of the file, a skip is cut
// there, a putback before the start fails.
class DescriptorProducer : public DcmProducer {
 public:
  // Reads the file from `start` on.
  DescriptorProducer(int fd, offile_off_t size, offile_off_t start = 0)
      : m_fd(fd), m_size(size < 0 ? 0 : size), m_position(std::min(std::max<offile_off_t>(start, 0), m_size)) {
    if (fd < 0) m_status = guardRefusal(kReadFailed, "the file cannot be opened again");
  }
  ~DescriptorProducer() override {
    if (m_fd >= 0) ::close(m_fd);
  }
  DescriptorProducer(const DescriptorProducer&) = delete;
  DescriptorProducer& operator=(const DescriptorProducer&) = delete;

  OFBool good() const override { return m_status.good(); }
  OFCondition status() const override { return m_status; }
  OFBool eos() override { return m_position >= m_size; }
  offile_off_t avail() override { return m_size - m_position; }
  offile_off_t position() const { return m_position; }

  offile_off_t read(void* buf, offile_off_t buflen) override {
    if (m_status.bad() || !buf || buflen <= 0) return 0;
    return readBytes(static_cast<unsigned char*>(buf), buflen);
  }

  offile_off_t skip(offile_off_t skiplen) override {
    if (m_status.bad() || skiplen <= 0) return 0;
    const offile_off_t n = std::min(skiplen, avail());
    m_position += n;
    return n;
  }
  void putback(offile_off_t num) override {
    if (m_status.bad() || num <= 0) return;
    if (num <= m_position)
      m_position -= num;
    else
      m_status = EC_PutbackFailed;
  }

 private:
  static const offile_off_t kBlock = 8192;

  offile_off_t readBytes(unsigned char* out, offile_off_t buflen) {
    offile_off_t done = 0;
    while (done < buflen && m_position < m_size) {
      if (m_position < m_blockStart || m_position >= m_blockStart + m_blockBytes) {
        // Large reads go straight to the caller; small ones through the block.
        if (buflen - done >= kBlock) {
          const ssize_t got = readAt(out + done, static_cast<size_t>(buflen - done), m_position);
          if (got <= 0) break;
          done += got;
          m_position += got;
          continue;
        }
        const ssize_t got = readAt(m_block, kBlock, m_position);
        if (got <= 0) break;
        m_blockStart = m_position;
        m_blockBytes = got;
      }
      const offile_off_t n = std::min(buflen - done, m_blockStart + m_blockBytes - m_position);
      std::memcpy(out + done, m_block + (m_position - m_blockStart), static_cast<size_t>(n));
      done += n;
      m_position += n;
    }
    return done;
  }

  ssize_t readAt(unsigned char* out, size_t n, offile_off_t at) {
    for (;;) {
      const ssize_t got = ::pread(m_fd, out, n, static_cast<off_t>(at));
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      m_status = guardRefusal(kReadFailed, std::strerror(errno));
      return -1;
    }
  }

  int m_fd;
  offile_off_t m_size;
  offile_off_t m_position;
  OFCondition m_status = EC_Normal;
  unsigned char m_block[kBlock];
  offile_off_t m_blockStart = 0;
  offile_off_t m_blockBytes = 0;
};

// The input stream over a DescriptorProducer (which closes the descriptor). Values left on disk
// are read later through DCMTK's file stream, by name, as from DcmInputFileStream.
//
// Behind the deflate filter a value cannot be read again from a file offset, and DCMTK would keep
// every value in memory: a 500-KB deflated file declaring a 512-MB image would be inflated into
// memory just to list its tags. Such values are left in the file too: reading one later opens
// the file again and inflates up to it (InflatedValueFactory), so only values actually used
// (pixel data that is decoded) are ever inflated into memory.
class DescriptorStream : public DcmInputStream {
 public:
  DescriptorStream(const char* path, int fd, offile_off_t size, offile_off_t start = 0)
      : DcmInputStream(&m_producer), m_producer(fd, size, start), m_path(path) {}
  DcmInputStreamFactory* newFactory() const override;
  OFCondition installCompressionFilter(E_StreamCompression type) override {
    if (currentProducer() == &m_producer) {
      m_inflatedFrom = m_producer.position();
      m_tellAtFilter = tell();
    }
    return DcmInputStream::installCompressionFilter(type);
  }
  offile_off_t filePosition() const { return m_producer.position(); }

 private:
  DescriptorProducer m_producer;
  std::string m_path;
  offile_off_t m_inflatedFrom = -1;  // file offset where the deflated bytes begin
  offile_off_t m_tellAtFilter = 0;   // tell() there
};

// Creates a stream positioned at a value of a deflated data set: the file opened again, the
// deflated bytes from `from` on inflated and skipped up to `offset` (counted in inflated bytes).
// A stream that cannot get there is returned failed, so DCMTK reports the value unreadable.
class InflatedValueFactory : public DcmInputStreamFactory {
 public:
  InflatedValueFactory(std::string path, offile_off_t from, offile_off_t offset)
      : m_path(std::move(path)), m_from(from), m_offset(offset) {}
  DcmInputStream* create() const override {
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info;
    const offile_off_t size = fd >= 0 && ::fstat(fd, &info) == 0 ? static_cast<offile_off_t>(info.st_size) : 0;
    auto* stream = new DescriptorStream(m_path.c_str(), fd, size, m_from);
    if (stream->good() && stream->installCompressionFilter(ESC_zlib).good()) stream->skip(m_offset);
    return stream;
  }
  DcmInputStreamFactory* clone() const override { return new InflatedValueFactory(*this); }
  DcmInputStreamFactoryType ident() const override { return DFT_DcmInputFileStreamFactory; }

 private:
  std::string m_path;
  offile_off_t m_from;
  offile_off_t m_offset;
};

DcmInputStreamFactory* DescriptorStream::newFactory() const {
  if (currentProducer() == &m_producer) return new DcmInputFileStreamFactory(OFFilename(m_path.c_str()), tell());
  if (m_inflatedFrom < 0) return nullptr;
  return new InflatedValueFactory(m_path, m_inflatedFrom, tell() - m_tellAtFilter);
}

// DCMTK's guess of a data set's encoding from its first bytes, as it makes it for a file meta
// group and for a data set whose meta group names no transfer syntax.
class SyntaxProbe : public DcmItem {
 public:
  E_TransferSyntax detect(DcmInputStream& stream) { return checkTransferSyntax(stream); }
};

// Walking a data set (see walkDataSet in the header).

// The bytes of a stream, read on demand through a window that forgets what lies behind the
// position asked for and skips (never reads) what lies between the window and that position.
class StreamWindow {
 public:
  StreamWindow(DcmInputStream& stream, uint64_t limit) : m_stream(stream), m_limit(limit) {}

  // True when [at, at + n) is available.
  bool cover(uint64_t at, size_t n) {
    if (at >= end()) {
      m_base = end();
      m_bytes.clear();
      if (!skipTo(at)) return false;
    } else if (at > m_base) {
      const size_t drop = static_cast<size_t>(at - m_base);
      m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(drop));
      m_base = at;
    }
    while (end() < at + n)
      if (!readMore()) return false;
    return true;
  }
  const unsigned char* at(uint64_t offset) const { return m_bytes.data() + (offset - m_base); }
  // Goes on to the end of the stream (or past the limit); the number of bytes it holds.
  uint64_t total() {
    m_base = end();
    m_bytes.clear();
    skipTo(UINT64_MAX);
    return m_base;
  }
  bool tooLarge() const { return end() > m_limit; }

 private:
  uint64_t end() const { return m_base + m_bytes.size(); }
  bool usable() { return !tooLarge() && m_stream.good() && !m_stream.eos(); }
  // With nothing held: skips to `at`, at most to just past the limit.
  bool skipTo(uint64_t at) {
    while (m_base < at) {
      if (!usable()) return false;
      uint64_t want = std::min<uint64_t>(at - m_base, uint64_t(1) << 30);
      if (m_limit != UINT64_MAX) want = std::min<uint64_t>(want, m_limit + 1 - m_base);
      const offile_off_t got = m_stream.skip(static_cast<offile_off_t>(want));
      if (got <= 0) return false;
      m_base += static_cast<uint64_t>(got);
    }
    return true;
  }
  bool readMore() {
    if (!usable()) return false;
    const size_t before = m_bytes.size();
    m_bytes.resize(before + kChunk);
    const offile_off_t got = m_stream.read(m_bytes.data() + before, kChunk);
    m_bytes.resize(before + static_cast<size_t>(got > 0 ? got : 0));
    return got > 0;
  }

  static const size_t kChunk = 16 * 1024;
  DcmInputStream& m_stream;
  uint64_t m_limit;
  std::vector<unsigned char> m_bytes;
  uint64_t m_base = 0;
};

std::string tagText(Uint16 group, Uint16 element) {
  char text[16];
  std::snprintf(text, sizeof(text), "(%04x,%04x)", group, element);
  return text;
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

// Walks the data set as the stream yields it, keeping its own stack of open sequences and items.
// Values are skipped, sequences and items entered; an undefined-length Pixel Data holds fragments
// (items of bytes) unless stored as UN, and any other undefined-length value is walked as a
// sequence (DCMTK reads UN
// so, as implicit little endian). A defined-length value that starts with an item is entered too
// where DCMTK may read it as a sequence: in implicit VR (the dictionary decides there) and as UN
// (which DCMTK converts to the dictionary's VR). So the walk's nesting is never shallower than
// the recursion DCMTK will make.
bool walkDataSet(DcmInputStream& stream, E_TransferSyntax xfer, const std::string& what, const WalkLimits& limits,
                 WalkTally& tally, std::string& why) {
  struct Level {
    bool item;       // an item (else a sequence or a value holding fragments or items)
    bool fragments;  // Pixel Data fragments: items of bytes
    bool implicit;
    bool bigEndian;
    uint64_t end;    // UINT64_MAX: up to its delimiter
    uint64_t bound;  // the nearest end of this level or one holding it
  };
  auto u16 = [](const unsigned char* p, bool big) { return static_cast<Uint16>(big ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8)); };
  auto u32 = [&u16](const unsigned char* p, bool big) {
    return big ? (Uint32(u16(p, big)) << 16) | u16(p + 2, big) : Uint32(u16(p, big)) | (Uint32(u16(p + 2, big)) << 16);
  };
  const uint64_t open = UINT64_MAX;
  const uint64_t allowance =
      kTreeFloorBytes + kTreeBytesPerStoredByte * std::min<uint64_t>(limits.storedBytes, uint64_t(1) << 56);
  std::vector<Level> levels = {
      {true, false, xfer == EXS_LittleEndianImplicit, xfer == EXS_BigEndianExplicit, open, open}};
  int sequences = 0;  // levels other than items
  auto push = [&](Level level) {
    level.bound = std::min(level.end, levels.back().bound);
    levels.push_back(level);
    if (!level.item && ++sequences > kMaxSequenceDepth) {
      why = "the " + what + " nests sequences deeper than " + std::to_string(kMaxSequenceDepth) + " levels";
      return false;
    }
    return true;
  };
  auto pop = [&]() {
    if (!levels.back().item) --sequences;
    levels.pop_back();
  };
  // One item or element more for DCMTK to hold, with `kept` bytes of value in memory. Past the
  // allowance the walk stops; a declared length past the end is the better reason, if there is one.
  std::string overBudget;
  auto count = [&](Uint32 kept) {
    ++tally.nodes;
    tally.cost += kNodeCost + kept;
    if (tally.cost <= allowance) return true;
    overBudget = "the " + what + " holds more items and elements than its size allows (over " +
          std::to_string(tally.nodes) + " in " + std::to_string(limits.storedBytes) + " bytes)";
    return false;
  };
  auto kept = [&](Uint32 length) { return length <= limits.inMemoryUpTo ? length : 0; };
  // A value must end within the item or sequence holding it, as every encoder writes it. Past that
  // end DCMTK and the walk would part ways: DCMTK may read the value as a plain value where the
  // walk has entered it, or end the holder at its length and read on from there.
  auto fits = [&](uint64_t valueAt, Uint32 length) {
    if (valueAt + length <= levels.back().bound) return true;
    why = "an element of the " + what + " runs past the item or sequence holding it, at byte " + std::to_string(valueAt);
    return false;
  };
  StreamWindow data(stream, limits.lengthsMustFit ? limits.limit : UINT64_MAX);
  uint64_t pos = 0, furthest = 0, metaEnd = 0;
  std::string furthestTag;
  auto declare = [&](uint64_t valueAt, Uint32 length, Uint16 group, Uint16 element) {
    if (valueAt + length > furthest) {
      furthest = valueAt + length;
      furthestTag = tagText(group, element);
    }
  };
  while (data.cover(pos, 8)) {
    while (levels.size() > 1 && pos >= levels.back().end) pop();
    if (levels.back().bound <= pos) {
      // What a sequence or item holds runs past its length: DCMTK would go back to that length and
      // read the bytes there at another alignment than the walk has.
      why = "an item or sequence of the " + what + " holds more than its length at byte " + std::to_string(pos);
      return false;
    }
    const Level level = levels.back();
    const unsigned char* h = data.at(pos);
    if (limits.metaGroupOnly && levels.size() == 1) {
      // DCMTK reads the meta group while it finds group 0002 (in either byte order) or, when the
      // group starts with its length, up to that length.
      const bool metaGroup = (h[0] == 0x02 && h[1] == 0x00) || (h[0] == 0x00 && h[1] == 0x02);
      if (!metaGroup && pos >= metaEnd) return true;
    }
    const Uint16 group = u16(h, level.bigEndian), element = u16(h + 2, level.bigEndian);
    if (group == 0x0004 && element == 0x1220 && !level.fragments) {
      why = "the " + what + " holds a directory record sequence (0004,1220), and directory records are not read";
      return false;
    }
    if (group == 0xFFFE || level.implicit) {
      const Uint32 length = u32(h + 4, level.bigEndian);
      const uint64_t valueAt = pos + 8;
      pos = valueAt;
      if (group == 0xFFFE && (element == 0xE00D || element == 0xE0DD)) {
        // A delimiter ends the open level of its kind; one that matches nothing is passed over.
        if (levels.size() > 1 && levels.back().end == open && levels.back().item == (element == 0xE00D)) pop();
        continue;
      }
      const bool item = group == 0xFFFE && element == 0xE000;
      const bool pixelData = group == 0x7FE0 && element == 0x0010;
      if (length != kUndefinedLength) {
        declare(valueAt, length, group, element);
        if (!fits(valueAt, length)) return false;
      }
      if (!count(item || length == kUndefinedLength ? 0 : kept(length))) break;
      if (level.fragments && item) {
        // A fragment: bytes, or (undefined length, which DCMTK refuses) anything.
        if (length == kUndefinedLength) {
          if (!push({true, false, level.implicit, level.bigEndian, open, open})) return false;
        } else {
          declare(valueAt, length, group, element);
          pos = valueAt + length;
        }
        continue;
      }
      if (length == kUndefinedLength) {
        if (!push({item, pixelData && !item, level.implicit, level.bigEndian, open, open})) return false;
        continue;
      }
      declare(valueAt, length, group, element);
      bool enter = item;
      if (!enter && length >= 8 && data.cover(valueAt, 4))
        enter = u16(data.at(valueAt), level.bigEndian) == 0xFFFE && u16(data.at(valueAt) + 2, level.bigEndian) == 0xE000;
      if (enter && !push({item, false, level.implicit, level.bigEndian, valueAt + length, open})) return false;
      if (!enter) pos = valueAt + length;
      continue;
    }
    const char vrText[3] = {static_cast<char>(h[4]), static_cast<char>(h[5]), 0};
    const DcmVR vr(vrText);
    const bool validVR = vr.isStandard() && std::isupper(h[4]) && std::isupper(h[5]);
    if (!validVR && limits.lengthsMustFit) {
      why = "element " + tagText(group, element) + " of the " + what + " has no valid VR";
      return false;
    }
    uint64_t valueAt = pos + 8;
    Uint32 length = u16(h + 6, level.bigEndian);
    // As DCMTK: the length field of an unknown VR is as wide as its DcmVR says.
    if (vr.usesExtendedLengthEncoding()) {
      if (!data.cover(pos, 12)) break;
      length = u32(data.at(pos) + 8, level.bigEndian);
      valueAt = pos + 12;
    }
    if (limits.metaGroupOnly && levels.size() == 1 && pos == 0 && group == 0x0002 && element == 0x0000 &&
        length == 4 && data.cover(valueAt, 4))
      metaEnd = valueAt + 4 + u32(data.at(valueAt), level.bigEndian);
    pos = valueAt;
    const DcmEVR evr = vr.getEVR();
    const bool sequence = evr == EVR_SQ;
    const bool unknown = evr == EVR_UN || !validVR;
    if (length != kUndefinedLength) {
      declare(valueAt, length, group, element);
      if (!fits(valueAt, length)) return false;
    }
    if (!count(sequence || length == kUndefinedLength ? 0 : kept(length))) break;
    if (length == kUndefinedLength) {
      // Pixel Data stored as UN is read by DCMTK as a sequence of items holding elements.
      const bool fragments = group == 0x7FE0 && element == 0x0010 && !unknown;
      const Level inner = {false, fragments, unknown && !sequence, level.bigEndian && !(unknown && !sequence), open,
                         open};
      if (!push(inner)) return false;
      continue;
    }
    declare(valueAt, length, group, element);
    bool enter = sequence, implicitInside = false;
    if (!enter && unknown && length >= 8 && data.cover(valueAt, 4)) {
      // UN holding items: DCMTK reads it as a sequence in implicit little endian.
      enter = implicitInside = u16(data.at(valueAt), false) == 0xFFFE && u16(data.at(valueAt) + 2, false) == 0xE000;
    }
    if (enter && !push({false, false, implicitInside, level.bigEndian && !implicitInside, valueAt + length, open}))
      return false;
    if (!enter) pos = valueAt + length;
  }
  why = overBudget;
  if (!limits.lengthsMustFit) return overBudget.empty();
  // Reads nothing more once past the bound.
  const uint64_t total = data.total();
  if (data.tooLarge()) {
    why = "the " + what + (xfer == EXS_DeflatedLittleEndianExplicit ? " inflates to" : " holds") + " more than " +
          std::to_string(limits.limit >> 20) + " MiB";
    return false;
  }
  if (furthest > total) {
    why = "element " + furthestTag + " declares a length reaching " + std::to_string(furthest) + " bytes into a " +
          what + " of " + std::to_string(total) + " bytes";
    return false;
  }
  return overBudget.empty();
}

DicomFile::DicomFile() = default;
DicomFile::~DicomFile() = default;

void DicomFile::setLanguage(int language) {
  m_language = language;
  m_decoder.reset(m_characterSet, m_language);
}

bool DicomFile::open(const char* path, const char* who, const char* shownAs) {
  const char* shown = shownAs ? shownAs : path;
  close();
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
    if (!who) return false;
    if (fd < 0 && error != ENOENT && error != ENOTDIR)
      logLine("%s: cannot open \"%s\": %s", who, shown, std::strerror(error));
    else
      logLine("%s: cannot open \"%s\": no such file", who, shown);
    return false;
  }
  // One open for both the head check and the parse; values left on disk are read later by
  // file name.
  DescriptorStream stream(path, fd, static_cast<offile_off_t>(info.st_size));
  unsigned char headBytes[kHeadBytes];
  size_t headCount = 0;
  const Head head = stream.good() ? readHead(stream, headBytes, headCount) : Head::Other;
  if (head == Head::Other) {
    if (who) logLine("%s: \"%s\" is not a DICOM file", who, shown);
    return false;
  }
  const bool preamble = head == Head::Preamble;
  const offile_off_t size = static_cast<offile_off_t>(info.st_size);

  // DCMTK reads the file meta group, then the data set in the syntax that group names. Each part
  // is walked first (walkDataSet) through a second descriptor, the data set once DCMTK has read
  // the meta group, so the walk starts where DCMTK will and reads the same encoding.
  WalkLimits limits;
  limits.lengthsMustFit = false;  // values left in the file are checked when read
  limits.storedBytes = static_cast<uint64_t>(size);
  limits.inMemoryUpTo = kMaxReadLength;
  WalkTally tally;
  std::string unsound;
  auto walk = [&](offile_off_t from, E_TransferSyntax xfer, bool meta) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
      unsound = std::string("its structure cannot be checked: ") + std::strerror(errno);
      return false;
    }
    DescriptorStream part(path, copy, size, from);
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
    return walkDataSet(part, xfer, what, partLimits, tally, unsound);
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
  for (unsigned long i = 1; i < fragments->card(); ++i) {
    DcmPixelItem* item = nullptr;
    if (fragments->getItem(item, i).good() && item) bytes += item->getLength();
  }
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
