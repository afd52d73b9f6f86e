#include "dcmJpeg2000.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dccodec.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcstack.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "dcmPixels.h"

namespace redIRI {
namespace detail {

namespace {

thread_local std::string t_lastError;

// ---- openjpeg over a memory buffer -------------------------------------------------------------

struct MemoryStream {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

OPJ_SIZE_T streamRead(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* m = static_cast<MemoryStream*>(user);
  if (m->pos >= m->size) return static_cast<OPJ_SIZE_T>(-1);
  size_t n = std::min<size_t>(bytes, m->size - m->pos);
  std::memcpy(buffer, m->data + m->pos, n);
  m->pos += n;
  return n;
}

OPJ_OFF_T streamSkip(OPJ_OFF_T bytes, void* user) {
  auto* m = static_cast<MemoryStream*>(user);
  if (bytes < 0) {
    OPJ_OFF_T back = std::min<OPJ_OFF_T>(-bytes, static_cast<OPJ_OFF_T>(m->pos));
    m->pos -= static_cast<size_t>(back);
    return -back;
  }
  OPJ_OFF_T ahead = std::min<OPJ_OFF_T>(bytes, static_cast<OPJ_OFF_T>(m->size - m->pos));
  // openjpeg's contract: the bytes skipped, or -1 when none can be (a 0 would be asked again).
  if (ahead == 0 && bytes > 0) return -1;
  m->pos += static_cast<size_t>(ahead);
  return ahead;
}

OPJ_BOOL streamSeek(OPJ_OFF_T offset, void* user) {
  auto* m = static_cast<MemoryStream*>(user);
  if (offset < 0 || static_cast<uint64_t>(offset) > m->size) return OPJ_FALSE;
  m->pos = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

void onOpenjpegError(const char* message, void* user) {
  auto* why = static_cast<std::string*>(user);
  if (why->empty()) {
    why->assign(message ? message : "openjpeg error");
    while (!why->empty() && (why->back() == '\n' || why->back() == '\r')) why->pop_back();
  }
}

void onOpenjpegQuiet(const char*, void*) {}

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

// ---- the image attributes a frame must match ---------------------------------------------------

struct FrameLayout {
  Uint16 rows = 0, columns = 0, samples = 1, bitsAllocated = 0, planar = 0;
  Sint32 frames = 1;
  OFString photometric;
};

OFCondition readFrameLayout(DcmItem* item, FrameLayout& l) {
  if (item->findAndGetUint16(DCM_Rows, l.rows).bad() || item->findAndGetUint16(DCM_Columns, l.columns).bad() ||
      item->findAndGetUint16(DCM_BitsAllocated, l.bitsAllocated).bad())
    return EC_MissingAttribute;
  if (item->findAndGetUint16(DCM_SamplesPerPixel, l.samples).bad()) l.samples = 1;
  if (item->findAndGetUint16(DCM_PlanarConfiguration, l.planar).bad()) l.planar = 0;
  if (item->findAndGetSint32(DCM_NumberOfFrames, l.frames).bad() || l.frames < 1) l.frames = 1;
  item->findAndGetOFString(DCM_PhotometricInterpretation, l.photometric);
  if (l.rows == 0 || l.columns == 0 || (l.samples != 1 && l.samples != 3) ||
      (l.bitsAllocated != 8 && l.bitsAllocated != 16))
    return EC_CannotChangeRepresentation;
  return EC_Normal;
}

size_t frameBytes(const FrameLayout& l) {
  return static_cast<size_t>(l.rows) * l.columns * l.samples * (l.bitsAllocated / 8);
}

OFString decodedColorModel(const OFString& photometric) {
  if (photometric == "YBR_ICT" || photometric == "YBR_RCT") return "RGB";
  return photometric;
}

// ---- frames within the pixel sequence ----------------------------------------------------------

// Decodes frame frameNo of the pixel sequence: its fragments are found in one walk along the
// list (DCMTK's getItem(i) walks from the head each time).
OFCondition decodeOneFrame(const std::vector<DcmPixelItem*>& items, const std::vector<size_t>& starts,
                           const FrameLayout& layout, Uint32 frameNo, uint8_t* buffer, size_t bufferSize,
                           Uint32& nextFragment, std::string& why) {
  const Jpeg2000Target target{layout.rows, layout.columns, layout.samples, layout.bitsAllocated, layout.planar == 1,
                              buffer, bufferSize};
  if (!decodeJpeg2000Fragments(items, starts[frameNo], starts[frameNo + 1], target, why))
    return EC_CannotChangeRepresentation;
  nextFragment = static_cast<Uint32>(starts[frameNo + 1]);
  return EC_Normal;
}

// ---- the DCMTK codec ----------------------------------------------------------------------------

class Jpeg2000RepresentationParameter : public DcmRepresentationParameter {
 public:
  DcmRepresentationParameter* clone() const override { return new Jpeg2000RepresentationParameter(*this); }
  const char* className() const override { return "Jpeg2000RepresentationParameter"; }
  OFBool operator==(const DcmRepresentationParameter& other) const override {
    return std::strcmp(other.className(), className()) == 0;
  }
};

class Jpeg2000CodecParameter : public DcmCodecParameter {
 public:
  DcmCodecParameter* clone() const override { return new Jpeg2000CodecParameter(*this); }
  const char* className() const override { return "Jpeg2000CodecParameter"; }
};

class Jpeg2000Codec : public DcmCodec {
 public:
  OFCondition decode(const DcmRepresentationParameter*, DcmPixelSequence* pixSeq,
                     DcmPolymorphOBOW& uncompressedPixelData, const DcmCodecParameter*, const DcmStack& objStack,
                     OFBool& removeOldRep) const override {
    if (!pixSeq) return EC_IllegalCall;
    // The item that holds the pixel data lies below the pixel data element on the stack.
    DcmStack stack(objStack);
    (void)stack.pop();
    DcmObject* holder = stack.pop();
    if (!holder || (holder->ident() != EVR_dataset && holder->ident() != EVR_item)) return EC_InvalidTag;
    DcmItem* item = static_cast<DcmItem*>(holder);

    FrameLayout layout;
    OFCondition cond = readFrameLayout(item, layout);
    if (cond.bad()) return cond;
    const size_t perFrame = frameBytes(layout);
    const uint64_t total = static_cast<uint64_t>(perFrame) * static_cast<uint64_t>(layout.frames);
    if (total > 0x7FFFFFFEull || static_cast<Uint32>(layout.frames) > pixSeq->card()) return EC_CannotChangeRepresentation;

    uint8_t* out = nullptr;
    if (layout.bitsAllocated == 8) {
      Uint8* p = nullptr;
      cond = uncompressedPixelData.createUint8Array(static_cast<Uint32>(total), p);
      out = p;
    } else {
      Uint16* p = nullptr;
      cond = uncompressedPixelData.createUint16Array(static_cast<Uint32>(total / 2), p);
      out = reinterpret_cast<uint8_t*>(p);
    }
    if (cond.bad() || !out) return cond.bad() ? cond : EC_MemoryExhausted;

    Uint32 next = 0;
    std::string why;
    const std::vector<DcmPixelItem*> items = pixelItems(pixSeq);
    std::vector<size_t> starts;
    if (!frameStarts(items, layout.frames, layout.frames, EXS_JPEG2000, starts, why)) {
      t_lastError = why;
      return EC_CannotChangeRepresentation;
    }
    for (Sint32 f = 0; f < layout.frames; ++f) {
      cond = decodeOneFrame(items, starts, layout, static_cast<Uint32>(f), out + perFrame * f, perFrame, next, why);
      if (cond.bad()) {
        t_lastError = why;
        return cond;
      }
    }
    const OFString model = decodedColorModel(layout.photometric);
    if (model != layout.photometric) {
      cond = item->putAndInsertString(DCM_PhotometricInterpretation, model.c_str());
      removeOldRep = OFTrue;
    }
    return cond;
  }

  OFCondition decodeFrame(const DcmRepresentationParameter*, DcmPixelSequence* fromPixSeq, const DcmCodecParameter*,
                          DcmItem* dataset, Uint32 frameNo, Uint32& startFragment, void* buffer, Uint32 bufSize,
                          OFString& decompressedColorModel) const override {
    if (!fromPixSeq || !dataset || !buffer) return EC_IllegalCall;
    FrameLayout layout;
    OFCondition cond = readFrameLayout(dataset, layout);
    if (cond.bad()) return cond;
    if (frameNo >= static_cast<Uint32>(layout.frames) || bufSize < frameBytes(layout)) return EC_IllegalCall;
    // Each call walks the list once: the program decodes frames through decodePixels, which walks
    // it once for all of them.
    std::string why;
    const std::vector<DcmPixelItem*> items = pixelItems(fromPixSeq);
    std::vector<size_t> starts;
    if (!frameStarts(items, layout.frames, static_cast<int>(frameNo) + 1, EXS_JPEG2000, starts, why))
      cond = EC_CannotChangeRepresentation;
    else
      cond = decodeOneFrame(items, starts, layout, frameNo, static_cast<uint8_t*>(buffer), bufSize, startFragment, why);
    if (cond.good())
      decompressedColorModel = decodedColorModel(layout.photometric);
    else
      t_lastError = why;
    return cond;
  }

  OFCondition encode(const Uint16*, const Uint32, const DcmRepresentationParameter*, DcmPixelSequence*&,
                     const DcmCodecParameter*, DcmStack&, OFBool&) const override {
    return EC_IllegalCall;  // decoder only
  }

  OFCondition encode(const E_TransferSyntax, const DcmRepresentationParameter*, DcmPixelSequence*,
                     const DcmRepresentationParameter*, DcmPixelSequence*&, const DcmCodecParameter*, DcmStack&,
                     OFBool&) const override {
    return EC_IllegalCall;
  }

  OFBool canChangeCoding(const E_TransferSyntax oldRepType, const E_TransferSyntax newRepType) const override {
    const bool fromJ2k = oldRepType == EXS_JPEG2000LosslessOnly || oldRepType == EXS_JPEG2000;
    return fromJ2k && DcmXfer(newRepType).isNotEncapsulated();
  }

  OFCondition determineDecompressedColorModel(const DcmRepresentationParameter*, DcmPixelSequence*,
                                              const DcmCodecParameter*, DcmItem* dataset,
                                              OFString& decompressedColorModel) const override {
    if (!dataset) return EC_IllegalParameter;
    OFString photometric;
    OFCondition cond = dataset->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    if (cond.good()) decompressedColorModel = decodedColorModel(photometric);
    return cond;
  }
};

std::mutex g_registrationLock;
Jpeg2000Codec* g_codec = nullptr;
Jpeg2000RepresentationParameter* g_repParam = nullptr;
Jpeg2000CodecParameter* g_codecParam = nullptr;

}  // namespace

const std::string& lastJpeg2000Error() { return t_lastError; }

bool isJpeg2000CodestreamStart(const uint8_t* p, size_t n) {
  static const uint8_t kSoc[4] = {0xFF, 0x4F, 0xFF, 0x51};
  static const uint8_t kJp2[8] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
  return p && ((n >= 4 && std::memcmp(p, kSoc, 4) == 0) || (n >= 8 && std::memcmp(p, kJp2, 8) == 0));
}

bool decodeJpeg2000Fragments(const std::vector<DcmPixelItem*>& items, size_t first, size_t last,
                             const Jpeg2000Target& target, std::string& why) {
  // One fragment is decoded where it lies; several are joined into one codestream.
  std::vector<uint8_t> joined;
  const uint8_t* data = nullptr;
  size_t size = 0;
  for (size_t i = first; i < last && i < items.size(); ++i) {
    Uint8* p = nullptr;
    const size_t n = items[i]->getLength();
    if (n && (items[i]->getUint8Array(p).bad() || !p)) {
      why = "unreadable fragment";
      return false;
    }
    if (last - first == 1) {
      data = p;
      size = n;
    } else if (n) {
      joined.insert(joined.end(), p, p + n);
    }
  }
  if (last - first > 1) {
    data = joined.data();
    size = joined.size();
  }
  if (!data || size == 0) {
    why = "empty frame";
    return false;
  }
  return decodeJpeg2000Frame(data, size, target, why);
}

void registerJpeg2000Decoder() {
  std::lock_guard<std::mutex> lock(g_registrationLock);
  if (g_codec) return;
  g_codec = new Jpeg2000Codec();
  g_repParam = new Jpeg2000RepresentationParameter();
  g_codecParam = new Jpeg2000CodecParameter();
  DcmCodecList::registerCodec(g_codec, g_repParam, g_codecParam);
}

void cleanupJpeg2000Decoder() {
  std::lock_guard<std::mutex> lock(g_registrationLock);
  if (!g_codec) return;
  DcmCodecList::deregisterCodec(g_codec);
  delete g_codec;
  delete g_repParam;
  delete g_codecParam;
  g_codec = nullptr;
  g_repParam = nullptr;
  g_codecParam = nullptr;
}

bool decodeJpeg2000Frame(const uint8_t* data, size_t size, const Jpeg2000Target& target, std::string& why) {
  const size_t bytesPerSample = target.bitsAllocated == 16 ? 2 : 1;
  const size_t pixels = static_cast<size_t>(target.rows) * static_cast<size_t>(target.columns);
  if (!data || size < 4 || !target.buffer || target.rows <= 0 || target.columns <= 0 ||
      (target.samples != 1 && target.samples != 3) ||
      target.bufferSize < pixels * target.samples * bytesPerSample) {
    why = "invalid JPEG 2000 frame";
    return false;
  }

  static const uint8_t kJp2[8] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
  const bool jp2 = size >= 8 && std::memcmp(data, kJp2, 8) == 0;
  std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec) {
    why = "openjpeg could not create a decoder";
    return false;
  }
  std::string error;
  opj_set_error_handler(codec.get(), onOpenjpegError, &error);
  opj_set_warning_handler(codec.get(), onOpenjpegQuiet, nullptr);
  opj_set_info_handler(codec.get(), onOpenjpegQuiet, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) {
    why = "openjpeg could not set up the decoder";
    return false;
  }

  MemoryStream memory{data, size, 0};
  std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!stream) {
    why = "openjpeg could not create a stream";
    return false;
  }
  opj_stream_set_user_data(stream.get(), &memory, nullptr);
  opj_stream_set_user_data_length(stream.get(), size);
  opj_stream_set_read_function(stream.get(), streamRead);
  opj_stream_set_skip_function(stream.get(), streamSkip);
  opj_stream_set_seek_function(stream.get(), streamSeek);

  opj_image_t* rawImage = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &rawImage)) {
    opj_image_destroy(rawImage);
    why = error.empty() ? "unreadable JPEG 2000 header" : error;
    return false;
  }
  std::unique_ptr<opj_image_t, ImageDeleter> image(rawImage);
  // Refuse a mismatch before decoding, so a damaged header cannot make us decode a huge image.
  if (image->x1 - image->x0 != static_cast<OPJ_UINT32>(target.columns) ||
      image->y1 - image->y0 != static_cast<OPJ_UINT32>(target.rows) ||
      image->numcomps != static_cast<OPJ_UINT32>(target.samples)) {
    why = "JPEG 2000 frame size or component count differs from the header";
    return false;
  }
  if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get())) {
    why = error.empty() ? "JPEG 2000 frame could not be decoded" : error;
    return false;
  }

  for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
    const opj_image_comp_t& comp = image->comps[c];
    if (!comp.data || comp.w != static_cast<OPJ_UINT32>(target.columns) ||
        comp.h != static_cast<OPJ_UINT32>(target.rows) || comp.prec == 0 ||
        comp.prec > static_cast<OPJ_UINT32>(target.bitsAllocated)) {
      why = "JPEG 2000 component differs from the header";
      return false;
    }
  }

  if (target.samples == 1) {
    const OPJ_INT32* src = image->comps[0].data;
    if (bytesPerSample == 1) {
      uint8_t* dst = target.buffer;
      for (size_t i = 0; i < pixels; ++i) dst[i] = static_cast<uint8_t>(src[i] & 0xFF);
    } else {
      uint16_t* dst = reinterpret_cast<uint16_t*>(target.buffer);
      for (size_t i = 0; i < pixels; ++i) dst[i] = static_cast<uint16_t>(src[i] & 0xFFFF);
    }
    return true;
  }

  // Three components: 8-bit colour, interleaved or by plane as the header declares.
  if (bytesPerSample != 1) {
    why = "16-bit colour JPEG 2000 is not supported";
    return false;
  }
  uint8_t* dst = target.buffer;
  for (int c = 0; c < 3; ++c) {
    const OPJ_INT32* src = image->comps[c].data;
    const bool sgnd = image->comps[c].sgnd != 0;
    for (size_t i = 0; i < pixels; ++i) {
      OPJ_INT32 v = sgnd ? src[i] + 128 : src[i];
      uint8_t b = static_cast<uint8_t>(std::clamp<OPJ_INT32>(v, 0, 255));
      if (target.planar)
        dst[c * pixels + i] = b;
      else
        dst[i * 3 + c] = b;
    }
  }
  return true;
}

}  // namespace detail
}  // namespace redIRI
