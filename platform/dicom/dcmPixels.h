// Pixel data of one file (internal): the layout read from the header, decoding of every
// transfer syntax into one contiguous buffer, and the normalisation the program relies on.
//
// The decoded buffer holds, frame after frame, rows * columns elements per frame:
//   - grey 8-bit: one byte per element, cut to Bits Stored;
//   - grey 16-bit: one host-order word per element, the stored bits shifted down to bit 0
//     and sign-extended from bit Bits Stored - 1 when Pixel Representation is 1;
//   - colour: three bytes R, G, B per element (planar data interleaved, YBR converted to RGB,
//     YBR_FULL_422 upsampled, palette colour expanded through its lookup tables).
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DcmPixelItem;
class DcmPixelSequence;

namespace redIRI {
namespace detail {

class DicomFile;

// The most one object may take once decoded, all frames together, in the output format (one
// byte per 8-bit grey sample, two per 16-bit, three per colour pixel): what a genuine large
// object needs and no more. A 2000-frame 512 x 512 16-bit enhanced CT (1000 MiB), a 1000-frame
// 640 x 480 colour ultrasound loop (879 MiB) or a tomosynthesis stack of 100 frames of
// 2457 x 1996 words (935 MiB) all fit; the viewer itself holds up to its block size of them.
// One frame may take an eighth of it, 128 MiB: an 8192 x 8192 16-bit frame, three times a
// 4096 x 5120 mammogram, the largest single frames radiology makes. A frame is decoded, drawn
// to RGB and stretched whole for a thumbnail, so a bigger frame (a 16384 x 16384 header on
// half a megabyte of deflated zeros) would take gigabytes to picture something no screen shows.
// Both are decided from the header alone, before anything is decoded, cached or inflated.
constexpr uint64_t kMaxDecodedBytes = uint64_t(1) << 30;

struct PixelLayout {
  int rows = 0;
  int columns = 0;
  int frames = 1;
  int samples = 1;
  int bitsAllocated = 0;
  int bitsStored = 0;
  int highBit = 0;
  int pixelRepresentation = 0;
  int planar = 0;
  std::string photometric;
  E_TransferSyntax transferSyntax = EXS_Unknown;
  bool encapsulated = false;
  int type = -1;  // dcmReader::PixelType

  size_t elementsPerFrame() const { return static_cast<size_t>(rows) * static_cast<size_t>(columns); }
  size_t bytesPerElement() const { return type == 0 ? 1 : type == 1 ? 2 : 3; }
  size_t outputFrameBytes() const { return elementsPerFrame() * bytesPerElement(); }
};

struct PixelBuffer {
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;      // bytes
  size_t elements = 0;  // rows * columns * frames decoded
};

bool isDecodableTransferSyntax(E_TransferSyntax xfer);

// ---- fragments -----------------------------------------------------------------------------------
// DCMTK keeps a pixel sequence as a linked list whose getItem(i) walks from the head each time:
// a loop over fragments by index is quadratic in their number. Fragments are found here in one
// walk along the list, and DCMTK's own decoders are handed one frame's fragments at a time.

// The items of `seq` in list order, the Basic Offset Table first.
std::vector<DcmPixelItem*> pixelItems(DcmPixelSequence* seq);

// Where the first `wanted` of `frames` frames begin in `items` (as pixelItems gives them):
// starts[f] is the first fragment of frame f, and the entry after frame wanted - 1 one past its
// last fragment (there may be more entries). All fragments for a single frame, one fragment per
// frame when the counts agree, else by the Basic Offset Table when it has one entry per frame and
// they fall on fragments, else a new frame at every fragment that begins a codestream of `xfer`.
// False with the reason.
bool frameStarts(const std::vector<DcmPixelItem*>& items, int frames, int wanted, E_TransferSyntax xfer,
                 std::vector<size_t>& starts, std::string& why);

// What this thread's fragment handling has done, for tests that hold it to linear cost: the
// list steps of pixelItems, and the most fragments handed to one of DCMTK's decoders at once.
struct FragmentCounts {
  uint64_t steps = 0;
  uint64_t largestHanded = 0;
};
FragmentCounts& fragmentCounts();
// The same, counted on every thread together (a transfer decodes on the sender's thread): list
// steps of pixelItems, and frames handed to DCMTK's decoders one at a time.
struct SharedFragmentCounts {
  std::atomic<uint64_t> steps{0};
  std::atomic<uint64_t> framesHanded{0};
};
SharedFragmentCounts& allFragmentCounts();

// The compressed pixel data of `data`, stored in the encapsulated syntax `xfer`, decoded frame by
// frame as viewing decodes it (one walk along the fragments, each frame handed to DCMTK's decoder
// alone; DCMTK's own whole-image decode walks from the sequence's head for every frame) and put
// in its place as native data, Photometric Interpretation set to what the decoder returned. The
// data set can then be written in an uncompressed syntax. NotTaken, the data set unchanged, when
// this walk does not decode it (no pixel sequence, a syntax it has no decoder for, a layout other
// than 8 or 16 bits allocated and 1 or 3 samples): DCMTK's whole-image decode may. Failed with the
// reason, the data set unchanged, when the decoded image would pass kMaxDecodedBytes or a frame
// does not decode.
enum class NativeDecode { Decoded, NotTaken, Failed };
NativeDecode decodeToNative(DcmDataset* data, E_TransferSyntax xfer, std::string& why);

// Checks the compressed fragments of a data set stored in xfer before DCMTK's JPEG or JPEG-LS
// decoder takes the whole image: JPEG streams whose bit-depth scan never ends, and frames in more
// fragments than those decoders, which gather them by index, are handed (see dcmPixels.cpp);
// true for other syntaxes.
bool checkCompressedFragments(DcmDataset* data, E_TransferSyntax xfer, std::string& why);

// Reads the layout from the header without touching pixel values. False with the reason
// when the pixels cannot be delivered: no pixel data, an unsupported layout, a transfer
// syntax without decoder, or pixel data shorter than the header declares.
bool readPixelLayout(const DicomFile& file, PixelLayout& layout, std::string& why);

// Decodes the first frameCount frames (all when frameCount <= 0 or above the frame count)
// and normalises them. False with the reason.
bool decodePixels(const DicomFile& file, const PixelLayout& layout, int frameCount, PixelBuffer& out,
                  std::string& why);

}  // namespace detail
}  // namespace redIRI
