// JPEG 2000 decoding for the DICOM layer (internal). DCMTK 3.6.7 has no JPEG 2000 decoder, so
// the layer registers its own DcmCodec for the transfer syntaxes JPEG 2000 lossless only
// (UID_JPEG2000LosslessOnlyTransferSyntax) and JPEG 2000 (UID_JPEG2000TransferSyntax), decoding
// frames with libopenjp2. Once registered it serves DCMTK's frame-wise and whole-image
// decompression like the JPEG, JPEG-LS and RLE codecs do.
//
// Frames are found in the pixel sequence by the Basic Offset Table when it has entries;
// otherwise one fragment per frame when the counts agree, a single frame made of all
// fragments, or a new frame at every fragment that begins a codestream (SOC marker or JP2
// signature). A decoded frame whose size or component count differs from the header fails.
// Three-component frames come back as RGB: openjpeg undoes the multiple-component transform,
// so YBR_ICT and YBR_RCT are reported as RGB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Decodes one JPEG 2000 codestream (or JP2 file) into target. False with the reason.
bool decodeJpeg2000Frame(const uint8_t* data, size_t size, const Jpeg2000Target& target, std::string& why);

}  // namespace detail
}  // namespace redIRI
