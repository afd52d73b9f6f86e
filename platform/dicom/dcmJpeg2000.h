// JPEG 2000 decoding for the DICOM layer (internal). DCMTK 3.6.7 has no JPEG 2000 decoder, so
// the layer registers its own DcmCodec for the transfer syntaxes JPEG 2000 lossless only
// (UID_JPEG2000LosslessOnlyTransferSyntax) and JPEG 2000 (UID_JPEG2000TransferSyntax), decoding
// frames with libopenjp2. Once registered it serves DCMTK's frame-wise and whole-image
// decompression like the JPEG, JPEG-LS and RLE codecs do.
//
// Frames are found in the pixel sequence as frameStarts (dcmPixels.h) finds them: a new frame
// begins at a fragment that begins a codestream (SOC marker or JP2 signature) where neither the
// counts nor the Basic Offset Table say. A decoded frame whose size or component count differs from the header fails.
// Three-component frames come back as RGB: openjpeg undoes the multiple-component transform,
// so YBR_ICT and YBR_RCT are reported as RGB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class DcmPixelItem;

namespace redIRI {
namespace detail {

void registerJpeg2000Decoder();
void cleanupJpeg2000Decoder();

// What one decoded frame must look like and where it goes.
struct Jpeg2000Target {
  int rows = 0;
  int columns = 0;
  int samples = 1;        // 1 or 3
  int bitsAllocated = 8;  // 8 or 16
  bool planar = false;    // colour by plane (Planar Configuration 1)
  uint8_t* buffer = nullptr;
  size_t bufferSize = 0;  // at least rows * columns * samples * bitsAllocated / 8
};

// Why the last JPEG 2000 frame decoded on this thread failed (DCMTK's codec interface only
// carries a status code).
const std::string& lastJpeg2000Error();

// Whether a fragment's bytes begin a codestream (SOC marker) or a JP2 file (its signature).
bool isJpeg2000CodestreamStart(const uint8_t* p, size_t n);

// Decodes the frame held by the fragments [first, last) of `items` (as pixelItems gives them).
bool decodeJpeg2000Fragments(const std::vector<DcmPixelItem*>& items, size_t first, size_t last,
                             const Jpeg2000Target& target, std::string& why);

// Decodes one JPEG 2000 codestream (or JP2 file) into target. False with the reason.
bool decodeJpeg2000Frame(const uint8_t* data, size_t size, const Jpeg2000Target& target, std::string& why);

}  // namespace detail
}  // namespace redIRI
