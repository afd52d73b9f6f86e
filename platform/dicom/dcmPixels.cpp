#include "dcmPixels.h"

#include <dcmtk/dcmdata/dccodec.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "dcmFile.h"
#include "dcmJpeg2000.h"

namespace redIRI {
namespace detail {

namespace {

bool isMonochrome(const std::string& pi) { return pi == "MONOCHROME1" || pi == "MONOCHROME2"; }

bool isJpegFamily(E_TransferSyntax xfer) {
  switch (xfer) {
    case EXS_JPEGProcess1:
    case EXS_JPEGProcess2_4:
    case EXS_JPEGProcess6_8:
    case EXS_JPEGProcess10_12:
    case EXS_JPEGProcess14:
    case EXS_JPEGProcess14SV1:
      return true;
    default:
      return false;
  }
}

bool isJpeg2000(E_TransferSyntax xfer) { return xfer == EXS_JPEG2000LosslessOnly || xfer == EXS_JPEG2000; }

DcmPixelData* pixelDataOf(const DicomFile& file) {
  DcmElement* e = file.findInDataset(DCM_PixelData);
  if (!e) return nullptr;
  if (e->ident() != EVR_PixelData) return nullptr;
  return static_cast<DcmPixelData*>(e);
}

DcmPixelSequence* pixelSequenceOf(DcmPixelData* pixels, E_TransferSyntax xfer) {
  DcmPixelSequence* seq = nullptr;
  if (!pixels || pixels->getEncapsulatedRepresentation(xfer, nullptr, seq).bad()) return nullptr;
  return seq;
}

size_t nativeFrameBytes(const PixelLayout& l) {
  if (l.photometric == "YBR_FULL_422") return l.elementsPerFrame() * 2;
  return l.elementsPerFrame() * static_cast<size_t>(l.samples) * static_cast<size_t>(l.bitsAllocated / 8);
}

size_t decodedFrameBytes(const PixelLayout& l) {
  return l.elementsPerFrame() * static_cast<size_t>(l.samples) * static_cast<size_t>(l.bitsAllocated / 8);
}

// The value at `position` of a US or SS element (lookup-table descriptors use either).
bool readWord(DcmDataset* data, const DcmTagKey& key, unsigned long position, long& value) {
  DcmElement* e = nullptr;
  if (data->findAndGetElement(key, e, OFFalse).bad() || !e) return false;
  if (e->ident() == EVR_US) {
    Uint16 v;
    if (e->getUint16(v, position).bad()) return false;
    value = v;
    return true;
  }
  if (e->ident() == EVR_SS) {
    Sint16 v;
    if (e->getSint16(v, position).bad()) return false;
    value = v;
    return true;
  }
  return false;
}

// One palette colour lookup table, reduced to 8-bit entries.
struct PaletteTable {
  std::vector<uint8_t> entries;
  long first = 0;
};

bool readPaletteTable(DcmDataset* data, const DcmTagKey& descriptor, const DcmTagKey& values, PaletteTable& table,
                      std::string& why) {
  long count = 0, first = 0, bits = 0;
  if (!readWord(data, descriptor, 0, count) || !readWord(data, descriptor, 1, first) ||
      !readWord(data, descriptor, 2, bits)) {
    why = "palette lookup table descriptor missing";
    return false;
  }
  // The descriptor's first value is unsigned; 0 means 65536 entries.
  count = count & 0xFFFF;
  if (count == 0) count = 65536;
  const Uint16* words = nullptr;
  unsigned long wordCount = 0;
  if (data->findAndGetUint16Array(values, words, &wordCount, OFFalse).bad() || !words) {
    why = "palette lookup table data missing";
    return false;
  }
  table.first = first;
  table.entries.resize(static_cast<size_t>(count));
  if (bits == 16) {
    if (wordCount < static_cast<unsigned long>(count)) {
      why = "palette lookup table shorter than its descriptor";
      return false;
    }
    for (long i = 0; i < count; ++i) table.entries[i] = static_cast<uint8_t>(words[i] >> 8);
  } else if (wordCount >= static_cast<unsigned long>(count)) {
    for (long i = 0; i < count; ++i) table.entries[i] = static_cast<uint8_t>(words[i] & 0xFF);
  } else if (wordCount * 2 >= static_cast<unsigned long>(count)) {
    // 8-bit entries packed two per word, the first in the low byte.
    for (long i = 0; i < count; ++i)
      table.entries[i] = static_cast<uint8_t>((i & 1) ? words[i / 2] >> 8 : words[i / 2] & 0xFF);
  } else {
    why = "palette lookup table shorter than its descriptor";
    return false;
  }
  return true;
}

// Full-range YCbCr to RGB (the JPEG/JFIF equations of YBR_FULL), in 16.16 fixed point.
struct YbrTables {
  std::array<int, 256> crToR, cbToB, cbToG, crToG;
  YbrTables() {
    for (int i = 0; i < 256; ++i) {
      const int c = i - 128;
      crToR[i] = static_cast<int>(1.402 * 65536 * c + (c >= 0 ? 0.5 : -0.5)) >> 16;
      cbToB[i] = static_cast<int>(1.772 * 65536 * c + (c >= 0 ? 0.5 : -0.5)) >> 16;
      cbToG[i] = static_cast<int>(-0.344136 * 65536 * c);
      crToG[i] = static_cast<int>(-0.714136 * 65536 * c + 32768);
    }
  }
};

inline uint8_t clampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void ybrToRgb(uint8_t* p, size_t elements) {
  static const YbrTables t;
  for (size_t i = 0; i < elements; ++i, p += 3) {
    const int y = p[0], cb = p[1], cr = p[2];
    p[0] = clampByte(y + t.crToR[cr]);
    p[1] = clampByte(y + ((t.cbToG[cb] + t.crToG[cr]) >> 16));
    p[2] = clampByte(y + t.cbToB[cb]);
  }
}

// Y1 Y2 Cb Cr per pair of pixels to full YCbCr triplets.
void expandYbr422(const uint8_t* src, uint8_t* dst, size_t elements) {
  for (size_t i = 0; i + 1 < elements; i += 2, src += 4, dst += 6) {
    dst[0] = src[0];
    dst[1] = src[2];
    dst[2] = src[3];
    dst[3] = src[1];
    dst[4] = src[2];
    dst[5] = src[3];
  }
}

void interleavePlanes(const uint8_t* src, uint8_t* dst, size_t elements) {
  const uint8_t* r = src;
  const uint8_t* g = src + elements;
  const uint8_t* b = src + 2 * elements;
  for (size_t i = 0; i < elements; ++i) {
    dst[3 * i] = r[i];
    dst[3 * i + 1] = g[i];
    dst[3 * i + 2] = b[i];
  }
}

// Shifts the stored bits down to bit 0, masks what lies above them, and sign-extends.
void normaliseWords(uint16_t* p, size_t n, const PixelLayout& l) {
  const int shift = l.highBit + 1 - l.bitsStored;
  if (l.bitsStored >= 16 && shift == 0) return;
  const uint16_t mask = static_cast<uint16_t>((1u << l.bitsStored) - 1u);
  const uint16_t sign = static_cast<uint16_t>(1u << (l.bitsStored - 1));
  const bool extend = l.pixelRepresentation == 1 && l.bitsStored < 16;
  for (size_t i = 0; i < n; ++i) {
    uint16_t v = static_cast<uint16_t>((p[i] >> shift) & mask);
    if (extend && (v & sign)) v = static_cast<uint16_t>(v | ~mask);
    p[i] = v;
  }
}

void normaliseBytes(uint8_t* p, size_t n, const PixelLayout& l) {
  if (l.bitsStored >= 8) return;
  const int shift = l.highBit + 1 - l.bitsStored;
  const uint8_t mask = static_cast<uint8_t>((1u << l.bitsStored) - 1u);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>((p[i] >> shift) & mask);
}

bool expandPalette(DcmDataset* data, const PixelLayout& l, const uint8_t* indices, size_t elements, uint8_t* rgb,
                   std::string& why) {
  PaletteTable red, green, blue;
  if (!readPaletteTable(data, DCM_RedPaletteColorLookupTableDescriptor, DCM_RedPaletteColorLookupTableData, red,
                        why) ||
      !readPaletteTable(data, DCM_GreenPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableData, green,
                        why) ||
      !readPaletteTable(data, DCM_BluePaletteColorLookupTableDescriptor, DCM_BluePaletteColorLookupTableData, blue,
                        why))
    return false;
  // One 65536-entry table per channel over every possible index, so the loop is a plain look-up.
  const size_t range = l.bitsAllocated == 8 ? 256 : 65536;
  std::vector<uint8_t> map(range * 3);
  auto lookup = [](const PaletteTable& t, long index) {
    long k = index - t.first;
    if (k < 0) k = 0;
    if (k >= static_cast<long>(t.entries.size())) k = static_cast<long>(t.entries.size()) - 1;
    return t.entries[static_cast<size_t>(k)];
  };
  for (size_t i = 0; i < range; ++i) {
    map[3 * i] = lookup(red, static_cast<long>(i));
    map[3 * i + 1] = lookup(green, static_cast<long>(i));
    map[3 * i + 2] = lookup(blue, static_cast<long>(i));
  }
  const int shift = l.highBit + 1 - l.bitsStored;
  const uint32_t mask = (1u << l.bitsStored) - 1u;
  if (l.bitsAllocated == 8) {
    for (size_t i = 0; i < elements; ++i) std::memcpy(rgb + 3 * i, &map[3 * ((indices[i] >> shift) & mask)], 3);
  } else {
    const uint16_t* w = reinterpret_cast<const uint16_t*>(indices);
    for (size_t i = 0; i < elements; ++i) std::memcpy(rgb + 3 * i, &map[3 * ((w[i] >> shift) & mask)], 3);
  }
  return true;
}

// DCMTK's RLE decoder trusts the segment offsets of each fragment's header and reads past
// the fragment when they are damaged, so every header is checked before it decodes: the
// segment count must match the image, the first segment follows the 64-byte header, and the
// offsets rise within the fragment.
bool checkRleFragment(DcmPixelItem* item, const PixelLayout& l, std::string& why) {
  Uint8* p = nullptr;
  if (!item || item->getUint8Array(p).bad() || !p) {
    why = "unreadable RLE fragment";
    return false;
  }
  const uint64_t length = item->getLength();
  auto word = [p](int k) {
    return static_cast<uint64_t>(p[4 * k]) | static_cast<uint64_t>(p[4 * k + 1]) << 8 |
           static_cast<uint64_t>(p[4 * k + 2]) << 16 | static_cast<uint64_t>(p[4 * k + 3]) << 24;
  };
  const uint64_t segments = static_cast<uint64_t>(l.samples) * static_cast<uint64_t>(l.bitsAllocated / 8);
  bool ok = length >= 64 && word(0) == segments && word(1) == 64;
  for (uint64_t k = 2; ok && k <= segments; ++k) ok = word(static_cast<int>(k)) > word(static_cast<int>(k - 1));
  ok = ok && word(static_cast<int>(segments)) < length;
  if (!ok) why = "damaged RLE segment table";
  return ok;
}

// Whether DCMTK 3.6.7's scan of a JPEG stream for its bit depth comes to an end: it walks the
// marker segments until a start-of-frame marker and does not move past a TEM marker (FF 01),
// so a stream holding one before its frame header keeps a decoding thread busy for ever. The
// walk is repeated here with the same steps; every other step moves forward.
bool jpegBitDepthScanEnds(const Uint8* data, uint64_t length) {
  uint64_t offset = 0;
  while (offset + 4 < length) {
    const unsigned marker = (static_cast<unsigned>(data[offset]) << 8) | data[offset + 1];
    const uint64_t segment = (static_cast<uint64_t>(data[offset + 2]) << 8) | data[offset + 3];
    if (marker == 0xFF01) return false;
    if (marker >= 0xFFC0 && marker <= 0xFFCF && marker != 0xFFC4 && marker != 0xFFC8 && marker != 0xFFCC)
      return true;  // a frame header: the scan stops here
    if ((marker >= 0xFFD0 && marker <= 0xFFD9)) {
      offset += 2;
    } else if (marker == 0xFFFF) {
      offset += 1;
    } else if (marker >= 0xFFC4) {
      offset += segment + 2;  // a marker segment
    } else if (data[offset] == 0xFF && data[offset + 1] > 2 && data[offset + 1] <= 0xBF) {
      offset += 2;  // reserved markers
    } else {
      return true;  // not a marker: the scan gives up
    }
  }
  return true;
}

// What a DCT-coded JPEG stream says of its three components, read the way libjpeg reads it:
// a JFIF marker means YCbCr; an Adobe marker means RGB with transform 0 and YCbCr otherwise;
// without either, component identifiers 1-2-3 mean YCbCr (JFIF without its marker) and
// 'R'-'G'-'B' mean RGB. Anything else says nothing, and the photometric interpretation holds.
enum class StreamColour { Unstated, YCbCr, Rgb };

StreamColour jpegStreamColour(const Uint8* data, uint64_t length) {
  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return StreamColour::Unstated;
  bool jfif = false, adobe = false;
  int transform = -1;
  uint64_t offset = 2;
  while (offset + 4 <= length && data[offset] == 0xFF) {
    const Uint8 marker = data[offset + 1];
    if (marker == 0xFF) {  // fill byte
      ++offset;
      continue;
    }
    const uint64_t segment = (static_cast<uint64_t>(data[offset + 2]) << 8) | data[offset + 3];
    const Uint8* body = data + offset + 4;
    const uint64_t bodyLength = segment >= 2 ? segment - 2 : 0;
    if (offset + 2 + segment > length) break;
    if (marker == 0xE0 && bodyLength >= 5 && std::memcmp(body, "JFIF\0", 5) == 0) jfif = true;
    if (marker == 0xEE && bodyLength >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
      adobe = true;
      transform = body[11];
    }
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
      if (jfif) return StreamColour::YCbCr;
      if (adobe) return transform == 0 ? StreamColour::Rgb : StreamColour::YCbCr;
      if (bodyLength < 6 + 3 * 3 || body[5] != 3) return StreamColour::Unstated;
      const Uint8 a = body[6], b = body[9], c = body[12];
      if (a == 1 && b == 2 && c == 3) return StreamColour::YCbCr;
      if (a == 'R' && b == 'G' && c == 'B') return StreamColour::Rgb;
      return StreamColour::Unstated;
    }
    if (marker == 0xDA || marker == 0xD9) break;
    offset += 2 + segment;
  }
  return StreamColour::Unstated;
}

// The colour model of the samples DCMTK's JPEG decoder (registered never to convert) returns
// for the frame whose first fragment is `first`: the stream's own word where it gives one, else
// `model`.
std::string jpegDecodedModel(DcmPixelItem* first, E_TransferSyntax xfer, const std::string& model) {
  const bool dct = xfer == EXS_JPEGProcess1 || xfer == EXS_JPEGProcess2_4;
  Uint8* p = nullptr;
  if (!dct || !first || first->getUint8Array(p).bad()) return model;
  switch (jpegStreamColour(p, first->getLength())) {
    case StreamColour::YCbCr:
      return "YBR_FULL";
    case StreamColour::Rgb:
      return "RGB";
    default:
      return model;
  }
}

// Every fragment of a JPEG pixel sequence is walked as DCMTK's decoder will walk it.
bool checkJpegFragments(const std::vector<DcmPixelItem*>& items, std::string& why) {
  for (size_t k = 1; k < items.size(); ++k) {
    Uint8* p = nullptr;
    if (items[k]->getUint8Array(p).bad()) {
      why = "unreadable JPEG fragment";
      return false;
    }
    if (p && !jpegBitDepthScanEnds(p, items[k]->getLength())) {
      why = "damaged JPEG stream (a TEM marker before the frame header)";
      return false;
    }
  }
  return true;
}

// DCMTK's JPEG and JPEG-LS decoders gather the fragments of a frame by index, each getItem
// walking the list from its head: a frame's cost grows with the square of its fragments (a
// JPEG-LS frame of 50,000 fragments took 4.8 s). Genuine encoders write one fragment per frame,
// or split a frame at a fragment size of kilobytes to megabytes: 1,024 fragments hold a 1-MiB
// frame in DCMTK's smallest fragments (1 KiB) and a 64-MiB one in 64-KiB fragments, and cost
// the decoder about a million list steps. A frame in more is refused before it is handed over.
constexpr size_t kMaxFragmentsPerFrame = 1024;

bool fragmentsAreGathered(E_TransferSyntax xfer) {
  return isJpegFamily(xfer) || xfer == EXS_JPEGLSLossless || xfer == EXS_JPEGLSLossy;
}

// False, with the reason, when frame f (of frameStarts' answer) holds more fragments than a frame
// handed to those decoders may.
bool frameWithinBound(const std::vector<size_t>& starts, size_t f, std::string& why) {
  const size_t fragments = starts[f + 1] - starts[f];
  if (fragments <= kMaxFragmentsPerFrame) return true;
  char buf[128];
  std::snprintf(buf, sizeof(buf), "frame %zu is split into %zu fragments, more than the %zu a frame may take", f,
                fragments, kMaxFragmentsPerFrame);
  why = buf;
  return false;
}

bool startsCodestream(E_TransferSyntax xfer, const Uint8* p, size_t n) {
  if (isJpeg2000(xfer)) return isJpeg2000CodestreamStart(p, n);
  return n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF;  // SOI and the next marker
}

// The image attributes DCMTK's decoders read, copied without Number of Frames: with the one-frame
// sequence below, the decoder sees a single-frame object.
void copyFrameAttributes(const DicomFile& file, DcmItem& attributes) {
  static const DcmTagKey kKeys[] = {DCM_SOPClassUID,        DCM_SamplesPerPixel, DCM_PhotometricInterpretation,
                                    DCM_PlanarConfiguration, DCM_Rows,            DCM_Columns,
                                    DCM_BitsAllocated,       DCM_BitsStored,      DCM_HighBit,
                                    DCM_PixelRepresentation};
  for (const DcmTagKey& key : kKeys)
    if (DcmElement* e = file.findInDataset(key)) attributes.insert(static_cast<DcmElement*>(e->clone()), OFTrue);
}

// Hands the fragments [first, last) of `items` to DCMTK's decoder as a frame of its own: a sequence
// of an empty offset table and copies of those fragments, so that the decoder's walks by index
// stay within the frame.
OFCondition decodeAlone(E_TransferSyntax xfer, const DcmRepresentationParameter* parameter, DcmItem& attributes,
                        const std::vector<DcmPixelItem*>& items, size_t first, size_t last, void* target, Uint32 room,
                        OFString& model) {
  DcmPixelSequence one{DcmTag(DCM_PixelSequenceTag)};
  one.insert(new DcmPixelItem(DcmTag(DCM_PixelItemTag)));
  for (size_t i = first; i < last; ++i) one.insert(new DcmPixelItem(*items[i]));
  FragmentCounts& counts = fragmentCounts();
  counts.largestHanded = std::max<uint64_t>(counts.largestHanded, last - first);
  ++allFragmentCounts().framesHanded;
  Uint32 start = 1;
  return DcmCodecList::decodeFrame(DcmXfer(xfer), parameter, &one, &attributes, 0, start, target, room, model);
}

}  // namespace

SharedFragmentCounts& allFragmentCounts() {
  static SharedFragmentCounts counts;
  return counts;
}

FragmentCounts& fragmentCounts() {
  thread_local FragmentCounts counts;
  return counts;
}

std::vector<DcmPixelItem*> pixelItems(DcmPixelSequence* seq) {
  std::vector<DcmPixelItem*> items;
  if (!seq) return items;
  items.reserve(seq->card());
  // nextInContainer steps from the list's cursor, which stays on the item it returned.
  uint64_t steps = 0;
  for (DcmObject* o = seq->nextInContainer(nullptr); o; o = seq->nextInContainer(o), ++steps)
    items.push_back(static_cast<DcmPixelItem*>(o));  // a pixel sequence holds pixel items only
  fragmentCounts().steps += steps;
  allFragmentCounts().steps += steps;
  return items;
}

bool frameStarts(const std::vector<DcmPixelItem*>& items, int frames, int wanted, E_TransferSyntax xfer,
                 std::vector<size_t>& starts, std::string& why) {
  starts.clear();
  const size_t fragments = items.empty() ? 0 : items.size() - 1;
  if (fragments == 0 || frames < 1 || static_cast<size_t>(frames) > fragments) {
    why = fragments == 0 ? "compressed pixel data without fragments" : "fewer fragments than frames";
    return false;
  }
  starts.reserve(static_cast<size_t>(frames) + 1);
  if (frames == 1 || fragments == static_cast<size_t>(frames)) {
    for (int f = 0; f < frames; ++f) starts.push_back(frames == 1 ? 1 : static_cast<size_t>(f) + 1);
    starts.push_back(items.size());
    return true;
  }

  // The Basic Offset Table: where each frame's first item lies, counted from the first fragment's
  // item tag (8 bytes of tag and length before each fragment).
  Uint8* table = nullptr;
  if (items[0]->getLength() == static_cast<Uint32>(frames) * 4 && items[0]->getUint8Array(table).good() && table) {
    uint64_t position = 0;
    size_t i = 1;
    for (int f = 0; f < frames; ++f) {
      const uint64_t offset = static_cast<uint64_t>(table[4 * f]) | static_cast<uint64_t>(table[4 * f + 1]) << 8 |
                              static_cast<uint64_t>(table[4 * f + 2]) << 16 |
                              static_cast<uint64_t>(table[4 * f + 3]) << 24;
      while (i < items.size() && position < offset) position += 8 + static_cast<uint64_t>(items[i++]->getLength());
      if (i == items.size() || position != offset || (!starts.empty() && starts.back() == i)) break;
      starts.push_back(i);
    }
    if (starts.size() == static_cast<size_t>(frames) && starts[0] == 1) {
      starts.push_back(items.size());
      return true;
    }
    starts.clear();
  }

  // A new frame at every fragment that begins a codestream; the first always does. Fragments past
  // the start of the frame after the last one wanted are not read.
  wanted = std::clamp(wanted, 1, frames);
  for (size_t i = 1; i < items.size() && starts.size() <= static_cast<size_t>(wanted); ++i) {
    Uint8* p = nullptr;
    if (items[i]->getUint8Array(p).bad()) {
      why = "unreadable fragment";
      return false;
    }
    if (i == 1 || (p && startsCodestream(xfer, p, items[i]->getLength()))) starts.push_back(i);
  }
  if (starts.size() == static_cast<size_t>(frames)) starts.push_back(items.size());
  if (starts.size() <= static_cast<size_t>(wanted)) {
    why = "the fragments do not hold the number of frames the header declares";
    return false;
  }
  return true;
}

bool checkCompressedFragments(DcmDataset* data, E_TransferSyntax xfer, std::string& why) {
  if (!fragmentsAreGathered(xfer) || !data) return true;
  DcmElement* e = nullptr;
  if (data->findAndGetElement(DCM_PixelData, e).bad() || !e || e->ident() != EVR_PixelData) return true;
  DcmPixelSequence* seq = pixelSequenceOf(static_cast<DcmPixelData*>(e), xfer);
  if (!seq) return true;
  const std::vector<DcmPixelItem*> items = pixelItems(seq);
  if (isJpegFamily(xfer) && !checkJpegFragments(items, why)) return false;
  Sint32 frames = 1;
  if (data->findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames < 1) frames = 1;
  std::vector<size_t> starts;
  std::string unframed;  // DCMTK's decoder refuses such fragments its own way
  if (!frameStarts(items, frames, frames, xfer, starts, unframed)) return true;
  for (size_t f = 0; f < static_cast<size_t>(frames); ++f)
    if (!frameWithinBound(starts, f, why)) return false;
  return true;
}

bool isDecodableTransferSyntax(E_TransferSyntax xfer) {
  switch (xfer) {
    case EXS_LittleEndianImplicit:
    case EXS_LittleEndianExplicit:
    case EXS_BigEndianExplicit:
    case EXS_DeflatedLittleEndianExplicit:
    case EXS_RLELossless:
    case EXS_JPEGLSLossless:
    case EXS_JPEGLSLossy:
      return true;
    default:
      return isJpegFamily(xfer) || isJpeg2000(xfer);
  }
}

bool readPixelLayout(const DicomFile& file, PixelLayout& l, std::string& why) {
  l = PixelLayout();
  DcmDataset* data = file.dataset();
  DcmPixelData* pixels = pixelDataOf(file);
  if (!pixels) {
    why = "no pixel data";
    return false;
  }
  l.transferSyntax = file.transferSyntax();
  DcmXfer xfer(l.transferSyntax);
  if (!isDecodableTransferSyntax(l.transferSyntax)) {
    why = std::string("transfer syntax ") + xfer.getXferID() + " (" + xfer.getXferName() + ") cannot be decoded";
    return false;
  }
  l.encapsulated = xfer.isEncapsulated();

  l.rows = static_cast<int>(file.intValue(DCM_Rows, 0));
  l.columns = static_cast<int>(file.intValue(DCM_Columns, 0));
  l.samples = static_cast<int>(file.intValue(DCM_SamplesPerPixel, 1));
  l.bitsAllocated = static_cast<int>(file.intValue(DCM_BitsAllocated, 0));
  l.bitsStored = static_cast<int>(file.intValue(DCM_BitsStored, l.bitsAllocated));
  l.highBit = static_cast<int>(file.intValue(DCM_HighBit, l.bitsStored - 1));
  l.pixelRepresentation = file.intValue(DCM_PixelRepresentation, 0) == 1 ? 1 : 0;
  l.planar = file.intValue(DCM_PlanarConfiguration, 0) == 1 ? 1 : 0;
  long frames = file.intValue(DCM_NumberOfFrames, 1);
  l.frames = frames < 1 ? 1 : static_cast<int>(std::min<long>(frames, 0x7FFFFFFF));
  l.photometric = file.stringValue(DCM_PhotometricInterpretation);
  if (l.photometric.empty()) l.photometric = l.samples == 3 ? "RGB" : "MONOCHROME2";

  if (l.rows <= 0 || l.columns <= 0 || l.rows > 65535 || l.columns > 65535) {
    why = "no valid Rows and Columns";
    return false;
  }
  if (l.bitsStored < 1 || l.bitsStored > l.bitsAllocated) l.bitsStored = l.bitsAllocated;
  if (l.highBit < l.bitsStored - 1 || l.highBit >= l.bitsAllocated) l.highBit = l.bitsStored - 1;

  const std::string& pi = l.photometric;
  if (l.samples == 1 && isMonochrome(pi) && l.bitsAllocated == 8) {
    l.type = 0;
  } else if (l.samples == 1 && isMonochrome(pi) && l.bitsAllocated == 16) {
    l.type = 1;
  } else if (l.samples == 1 && pi == "PALETTE COLOR" && (l.bitsAllocated == 8 || l.bitsAllocated == 16)) {
    l.type = 2;
    if (!data->tagExists(DCM_RedPaletteColorLookupTableData) || !data->tagExists(DCM_GreenPaletteColorLookupTableData) ||
        !data->tagExists(DCM_BluePaletteColorLookupTableData)) {
      why = "palette colour without lookup table data (segmented palettes are not supported)";
      return false;
    }
  } else if (l.samples == 3 && l.bitsAllocated == 8) {
    const bool ictRct = pi == "YBR_ICT" || pi == "YBR_RCT";
    const bool subsampled = pi == "YBR_FULL_422";
    if (pi == "RGB" || pi == "YBR_FULL" || (ictRct && isJpeg2000(l.transferSyntax)) ||
        (subsampled && (!l.encapsulated || isJpegFamily(l.transferSyntax))))
      l.type = 2;
    if (subsampled && !l.encapsulated && (l.columns % 2) != 0) l.type = -1;
  }
  if (l.type < 0) {
    char buf[160];
    std::snprintf(buf, sizeof(buf), "unsupported pixel layout (%d samples, %d bits allocated, %s)", l.samples,
                  l.bitsAllocated, pi.c_str());
    why = buf;
    return false;
  }

  const uint64_t frameBytes = static_cast<uint64_t>(l.outputFrameBytes());
  const uint64_t output = frameBytes * static_cast<uint64_t>(l.frames);
  // What the pixel data element declares it stores; the stored form is never larger than the
  // decoded one by more than the palette expansion, so a longer element is no image either.
  const uint64_t stored = pixels->getLength(l.transferSyntax);
  if (frameBytes > kMaxDecodedBytes / 8 || output > kMaxDecodedBytes || stored > kMaxDecodedBytes) {
    char buf[200];
    std::snprintf(buf, sizeof(buf),
                  "image too large (%d x %d, %d frame(s): %llu bytes decoded, %llu stored; at most %llu per frame and "
                  "%llu in all)",
                  l.columns, l.rows, l.frames, static_cast<unsigned long long>(output),
                  static_cast<unsigned long long>(stored), static_cast<unsigned long long>(kMaxDecodedBytes / 8),
                  static_cast<unsigned long long>(kMaxDecodedBytes));
    why = buf;
    return false;
  }
  if (l.encapsulated) {
    DcmPixelSequence* seq = pixelSequenceOf(pixels, l.transferSyntax);
    if (!seq || seq->card() < 2) {
      why = "compressed pixel data without fragments";
      return false;
    }
    // Every frame takes at least one fragment of its own; RLE exactly one.
    if (static_cast<unsigned long>(l.frames) > seq->card() - 1) {
      why = "fewer fragments than frames";
      return false;
    }
    if (l.transferSyntax == EXS_RLELossless && static_cast<unsigned long>(l.frames) != seq->card() - 1) {
      why = "RLE pixel data without one fragment per frame";
      return false;
    }
  } else {
    const uint64_t needed = static_cast<uint64_t>(nativeFrameBytes(l)) * static_cast<uint64_t>(l.frames);
    if (pixels->getLength() < needed) {
      why = "pixel data shorter than the header declares";
      return false;
    }
  }
  return true;
}

bool decodePixels(const DicomFile& file, const PixelLayout& l, int frameCount, PixelBuffer& out, std::string& why) {
  out = PixelBuffer();
  DcmDataset* data = file.dataset();
  DcmPixelData* pixels = pixelDataOf(file);
  if (!pixels || l.type < 0) {
    why = "no pixel data";
    return false;
  }
  const int frames = (frameCount <= 0 || frameCount > l.frames) ? l.frames : frameCount;
  const size_t elements = l.elementsPerFrame() * static_cast<size_t>(frames);
  const size_t outBytes = elements * l.bytesPerElement();

  // The stored (or decompressed) samples, before conversion to the output format.
  const bool converts = l.type == 2 && (l.planar == 1 || l.photometric == "PALETTE COLOR" ||
                                        (l.photometric == "YBR_FULL_422" && !l.encapsulated));
  const size_t sourceFrame = l.encapsulated ? decodedFrameBytes(l) : nativeFrameBytes(l);
  const size_t sourceBytes = sourceFrame * static_cast<size_t>(frames);
  std::unique_ptr<uint8_t[]> result(new (std::nothrow) uint8_t[outBytes + 1]);
  std::unique_ptr<uint8_t[]> scratch;
  if (!result) {
    why = "out of memory";
    return false;
  }
  uint8_t* source = result.get();
  if (converts || sourceBytes > outBytes) {
    scratch.reset(new (std::nothrow) uint8_t[sourceBytes + 1]);
    if (!scratch) {
      why = "out of memory";
      return false;
    }
    source = scratch.get();
  }

  std::string model = l.photometric;
  if (!l.encapsulated) {
    OFCondition cond = pixels->getPartialValue(source, 0, static_cast<Uint32>(sourceBytes));
    if (cond.bad()) {
      why = std::string("cannot read pixel data: ") + cond.text();
      return false;
    }
  } else {
    DcmPixelSequence* seq = pixelSequenceOf(pixels, l.transferSyntax);
    const std::vector<DcmPixelItem*> items = pixelItems(seq);
    std::vector<size_t> starts;
    if (!frameStarts(items, l.frames, frames, l.transferSyntax, starts, why)) return false;
    if (l.transferSyntax == EXS_RLELossless) {
      if (items.size() != static_cast<size_t>(l.frames) + 1) {
        why = "RLE pixel data without one fragment per frame";
        return false;
      }
      for (int f = 0; f < frames; ++f)
        if (!checkRleFragment(items[static_cast<size_t>(f) + 1], l, why)) return false;
    }
    if (isJpegFamily(l.transferSyntax) && !checkJpegFragments(items, why)) return false;

    E_TransferSyntax original = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    pixels->getOriginalRepresentationKey(original, parameter);
    DcmItem attributes;
    if (!isJpeg2000(l.transferSyntax)) copyFrameAttributes(file, attributes);
    for (int f = 0; f < frames; ++f) {
      const size_t first = starts[static_cast<size_t>(f)], last = starts[static_cast<size_t>(f) + 1];
      if (fragmentsAreGathered(l.transferSyntax) && !frameWithinBound(starts, static_cast<size_t>(f), why))
        return false;
      char buf[64];
      std::snprintf(buf, sizeof(buf), "cannot decode frame %d: ", f);
      uint8_t* target = source + sourceFrame * static_cast<size_t>(f);
      // The buffer has one spare byte at its end for decoders that round odd frames up.
      const size_t room = sourceBytes + 1 - sourceFrame * static_cast<size_t>(f);
      if (isJpeg2000(l.transferSyntax)) {
        const Jpeg2000Target frame{l.rows, l.columns, l.samples, l.bitsAllocated, l.planar == 1, target, room};
        std::string error;
        if (!decodeJpeg2000Fragments(items, first, last, frame, error)) {
          why = buf + error;
          return false;
        }
        continue;
      }
      OFString frameModel;
      OFCondition cond = decodeAlone(l.transferSyntax, parameter, attributes, items, first, last, target,
                                     static_cast<Uint32>(room), frameModel);
      if (cond.bad()) {
        why = buf + std::string(cond.text());
        return false;
      }
      if (f == 0 && !frameModel.empty()) model.assign(frameModel.c_str());
    }
    // openjpeg undoes the multiple-component transform: the samples come back as RGB.
    if (isJpeg2000(l.transferSyntax) && (model == "YBR_ICT" || model == "YBR_RCT")) model = "RGB";
    if (l.samples == 3 && isJpegFamily(l.transferSyntax)) {
      model = jpegDecodedModel(items[1], l.transferSyntax, model);
      if (model == "YBR_FULL_422") model = "YBR_FULL";  // libjpeg returns every sample at full size
    }
  }

  uint8_t* dst = result.get();
  if (l.type == 0) {
    normaliseBytes(dst, elements, l);
  } else if (l.type == 1) {
    normaliseWords(reinterpret_cast<uint16_t*>(dst), elements, l);
  } else if (l.photometric == "PALETTE COLOR") {
    if (!expandPalette(data, l, source, elements, dst, why)) return false;
  } else {
    const size_t perFrame = l.elementsPerFrame();
    if (model == "YBR_FULL_422" && !l.encapsulated) {
      expandYbr422(source, dst, elements);
      model = "YBR_FULL";
    } else if (l.planar == 1) {
      for (int f = 0; f < frames; ++f)
        interleavePlanes(source + 3 * perFrame * f, dst + 3 * perFrame * f, perFrame);
    } else if (source != dst) {
      std::memcpy(dst, source, outBytes);
    }
    if (model == "YBR_FULL" || model == "YBR_ICT") {
      ybrToRgb(dst, elements);
    } else if (model != "RGB") {
      why = "cannot convert colour model " + model + " to RGB";
      return false;
    }
  }

  out.data = std::move(result);
  out.size = outBytes;
  out.elements = elements;
  return true;
}

NativeDecode decodeToNative(DcmDataset* data, E_TransferSyntax xfer, std::string& why) {
  DcmElement* e = nullptr;
  if (!data || data->findAndGetElement(DCM_PixelData, e).bad() || !e || e->ident() != EVR_PixelData) {
    why = "no pixel data";
    return NativeDecode::NotTaken;
  }
  auto* pixels = static_cast<DcmPixelData*>(e);
  DcmPixelSequence* seq = pixelSequenceOf(pixels, xfer);
  if (!seq || !isDecodableTransferSyntax(xfer)) {
    why = std::string("no compressed pixel data in ") + DcmXfer(xfer).getXferName();
    return NativeDecode::NotTaken;
  }
  auto value = [data](const DcmTagKey& key, long fallback) {
    Sint32 v = 0;
    if (data->findAndGetSint32(key, v).good()) return static_cast<long>(v);
    Uint16 u = 0;
    return data->findAndGetUint16(key, u).good() ? static_cast<long>(u) : fallback;
  };
  const long rows = value(DCM_Rows, 0), columns = value(DCM_Columns, 0), samples = value(DCM_SamplesPerPixel, 1);
  const long bits = value(DCM_BitsAllocated, 0), planar = value(DCM_PlanarConfiguration, 0);
  long frames = 1;
  OFString text;
  if (data->findAndGetOFString(DCM_NumberOfFrames, text).good()) frames = std::max(1L, std::atol(text.c_str()));
  if (rows <= 0 || columns <= 0 || rows > 65535 || columns > 65535 || (samples != 1 && samples != 3) ||
      (bits != 8 && bits != 16) || frames > 0x7FFFFFFF) {
    why = "a pixel layout the frame-by-frame decode does not take (" + std::to_string(samples) + " samples, " +
          std::to_string(bits) + " bits allocated)";
    return NativeDecode::NotTaken;
  }
  const uint64_t frameBytes = uint64_t(rows) * uint64_t(columns) * uint64_t(samples) * uint64_t(bits / 8);
  if (frameBytes > kMaxDecodedBytes / 8 || frameBytes * uint64_t(frames) > kMaxDecodedBytes) {
    why = "the image would take " + std::to_string(frameBytes * uint64_t(frames)) + " bytes decoded, more than the " +
          std::to_string(kMaxDecodedBytes) + " an image may";
    return NativeDecode::Failed;
  }
  const std::vector<DcmPixelItem*> items = pixelItems(seq);
  std::vector<size_t> starts;
  if (!frameStarts(items, static_cast<int>(frames), static_cast<int>(frames), xfer, starts, why)) return NativeDecode::Failed;
  if (isJpegFamily(xfer) && !checkJpegFragments(items, why)) return NativeDecode::Failed;
  E_TransferSyntax original = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixels->getOriginalRepresentationKey(original, parameter);
  DcmItem attributes;
  static const DcmTagKey kKeys[] = {DCM_SOPClassUID,        DCM_SamplesPerPixel, DCM_PhotometricInterpretation,
                                    DCM_PlanarConfiguration, DCM_Rows,            DCM_Columns,
                                    DCM_BitsAllocated,       DCM_BitsStored,      DCM_HighBit,
                                    DCM_PixelRepresentation};
  for (const DcmTagKey& key : kKeys) {
    DcmElement* found = nullptr;
    if (data->findAndGetElement(key, found).good() && found)
      attributes.insert(static_cast<DcmElement*>(found->clone()), OFTrue);
  }
  const size_t total = static_cast<size_t>(frameBytes) * static_cast<size_t>(frames);
  // One spare byte at the end for decoders that round odd frames up.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[total + 1]);
  if (!buffer) {
    why = "out of memory";
    return NativeDecode::Failed;
  }
  OFString photometric;
  data->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
  std::string model = photometric.c_str();
  for (size_t f = 0; f < static_cast<size_t>(frames); ++f) {
    if (fragmentsAreGathered(xfer) && !frameWithinBound(starts, f, why)) return NativeDecode::Failed;
    uint8_t* target = buffer.get() + static_cast<size_t>(frameBytes) * f;
    const size_t room = total + 1 - static_cast<size_t>(frameBytes) * f;
    const std::string frame = "cannot decode frame " + std::to_string(f) + ": ";
    if (isJpeg2000(xfer)) {
      const Jpeg2000Target out{int(rows), int(columns), int(samples), int(bits), planar == 1, target, room};
      std::string error;
      if (!decodeJpeg2000Fragments(items, starts[f], starts[f + 1], out, error)) {
        why = frame + error;
        return NativeDecode::Failed;
      }
      continue;
    }
    OFString frameModel;
    const OFCondition cond = decodeAlone(xfer, parameter, attributes, items, starts[f], starts[f + 1], target,
                                         static_cast<Uint32>(std::min<size_t>(room, 0xFFFFFFFFu)), frameModel);
    if (cond.bad()) {
      why = frame + cond.text();
      return NativeDecode::Failed;
    }
    if (f == 0 && !frameModel.empty()) model = frameModel.c_str();
  }
  if (isJpeg2000(xfer) && (model == "YBR_ICT" || model == "YBR_RCT")) model = "RGB";
  if (samples == 3 && isJpegFamily(xfer)) {
    model = jpegDecodedModel(items[1], xfer, model);
    if (model == "YBR_FULL_422") model = "YBR_FULL";  // libjpeg returns every sample at full size
  }
  // The native value replaces every representation the element held.
  const OFCondition put = bits == 8 ? pixels->putUint8Array(buffer.get(), static_cast<unsigned long>(total))
                                    : pixels->putUint16Array(reinterpret_cast<const Uint16*>(buffer.get()),
                                                             static_cast<unsigned long>(total / 2));
  if (put.bad()) {
    why = std::string("cannot hold the decoded pixels: ") + put.text();
    return NativeDecode::Failed;
  }
  if (!model.empty()) data->putAndInsertString(DCM_PhotometricInterpretation, model.c_str());
  return NativeDecode::Decoded;
}

}  // namespace detail
}  // namespace redIRI
