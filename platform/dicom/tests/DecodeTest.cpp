// Every transfer syntax decodes to the pixels of its uncompressed original: exactly for the
// lossless ones, within a tolerance for the lossy ones.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/DicomTestData.h"
#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmPixels.h"

using namespace qvtest;

namespace {

// One synthetic original: how it is written and the pixels a reader must deliver.
struct Original {
  std::string name;
  ImageSpec spec;
  int type;
  std::vector<uint8_t> expected;
};

Original grey16(const char* name, int rows, int columns, int frames, int bits, bool isSigned) {
  Original o{name, greySpec(rows, columns, frames, bits, isSigned), 1, {}};
  o.expected = o.spec.pixels;
  return o;
}

Original signed16() { return grey16("signed16", 24, 20, 1, 16, true); }
Original unsigned12() { return grey16("unsigned12", 16, 18, 1, 12, false); }
Original signed12() { return grey16("signed12", 16, 16, 1, 12, true); }
Original multiFrame() { return grey16("multiframe", 12, 14, 5, 16, false); }

Original grey8() {
  Original o{"grey8", {}, 0, {}};
  o.spec.rows = 17;
  o.spec.columns = 22;
  o.spec.bitsAllocated = o.spec.bitsStored = 8;
  o.spec.highBit = 7;
  o.spec.pixels = greyBytes(17, 22, 1);
  o.expected = o.spec.pixels;
  return o;
}

Original rgb(int planar, int frames = 1) {
  Original o{std::string(planar ? "rgbPlanar" : "rgb") + std::to_string(frames), {}, 2, {}};
  o.spec.rows = 16;
  o.spec.columns = 24;
  o.spec.frames = frames;
  o.spec.samples = 3;
  o.spec.bitsAllocated = o.spec.bitsStored = 8;
  o.spec.highBit = 7;
  o.spec.photometric = "RGB";
  o.spec.planar = planar;
  o.expected = rgbBytes(16, 24, frames);
  o.spec.pixels = o.expected;
  if (planar) {
    const size_t n = 16 * 24;
    for (int f = 0; f < frames; ++f)
      for (size_t i = 0; i < n; ++i)
        for (size_t c = 0; c < 3; ++c) o.spec.pixels[3 * n * f + c * n + i] = o.expected[3 * n * f + 3 * i + c];
  }
  return o;
}

int maxDifference(const Decoded& got, const Original& o) {
  if (got.bytes.size() != o.expected.size()) return 1 << 30;
  int worst = 0;
  if (o.type == 1) {
    const auto* a = reinterpret_cast<const int16_t*>(got.bytes.data());
    const auto* b = reinterpret_cast<const int16_t*>(o.expected.data());
    const bool sgnd = o.spec.pixelRepresentation == 1;
    for (size_t i = 0; i < o.expected.size() / 2; ++i) {
      const int va = sgnd ? a[i] : static_cast<uint16_t>(a[i]);
      const int vb = sgnd ? b[i] : static_cast<uint16_t>(b[i]);
      worst = std::max(worst, std::abs(va - vb));
    }
  } else {
    for (size_t i = 0; i < o.expected.size(); ++i) worst = std::max(worst, std::abs(got.bytes[i] - o.expected[i]));
  }
  return worst;
}

// Decodes `path` and checks it against the original: same type, rows x columns x frames
// elements, and values within `tolerance` (0: byte-identical).
void expectDecodes(const std::string& path, const Original& o, int tolerance, const std::string& what) {
  SCOPED_TRACE(o.name + " as " + what);
  Decoded d = decodeFile(path);
  ASSERT_TRUE(d.opened);
  ASSERT_TRUE(d.typeOk);
  EXPECT_EQ(d.type, o.type);
  EXPECT_EQ(d.count, o.spec.rows * o.spec.columns * o.spec.frames);
  if (tolerance == 0)
    EXPECT_TRUE(d.bytes == o.expected) << "largest difference " << maxDifference(d, o);
  else
    EXPECT_LE(maxDifference(d, o), tolerance);
}

}  // namespace

TEST(Decode, NativeSyntaxesDeliverTheStoredValues) {
  TempDir dir;
  for (const Original& o : {signed16(), unsigned12(), grey8(), rgb(0), rgb(1), rgb(1, 3), multiFrame()}) {
    const std::string base = dir.file(o.name + ".dcm");
    writeImage(base, o.spec);
    expectDecodes(base, o, 0, "explicit little endian");
    const std::pair<const char*, const char*> syntaxes[] = {
        {"+ti", "implicit little endian"}, {"+tb", "explicit big endian"}, {"+td", "deflated"}};
    for (const auto& s : syntaxes) {
      const std::string out = dir.file(o.name + s.first + ".dcm");
      ASSERT_TRUE(mustRun({"dcmconv", s.first, base, out}, dir));
      expectDecodes(out, o, 0, s.second);
    }
  }
}

TEST(Decode, LosslessCodecsAreByteIdentical) {
  TempDir dir;
  // The last has fragments longer than what a file's parse reads at once: they are read from the
  // file when decoded.
  for (const Original& o : {signed16(), unsigned12(), signed12(), grey8(), rgb(0), rgb(1), rgb(0, 3), multiFrame(),
                            grey16("onDisk", 128, 160, 2, 16, false)}) {
    const std::string base = dir.file(o.name + ".dcm");
    writeImage(base, o.spec);
    struct Tool {
      std::vector<std::string> argv;
      const char* what;
    };
    const Tool tools[] = {
        {{"dcmcjpeg", "+e1"}, "JPEG lossless SV1"},
        {{"dcmcjpeg", "+el", "+sv", "4"}, "JPEG lossless process 14"},
        {{"dcmcjpls"}, "JPEG-LS lossless"},
        {{"dcmcrle"}, "RLE"},
    };
    int k = 0;
    for (const Tool& t : tools) {
      const std::string out = dir.file(o.name + "-" + std::to_string(k++) + ".dcm");
      std::vector<std::string> argv = t.argv;
      argv.push_back(base);
      argv.push_back(out);
      ASSERT_TRUE(mustRun(argv, dir)) << t.what;
      expectDecodes(out, o, 0, t.what);
    }
    const std::string j2k = dir.file(o.name + "-j2k.dcm");
    ASSERT_TRUE(writeJpeg2000(j2k, o.spec, Jpeg2000Options(), dir));
    expectDecodes(j2k, o, 0, "JPEG 2000 lossless");
  }
}

// Some devices write a JPEG 2000 codestream whose signedness differs from Pixel Representation:
// the header decides, and the stored bits read as they would uncompressed.
TEST(Decode, Jpeg2000SignednessFollowsPixelRepresentation) {
  TempDir dir;
  for (const Original& o : {signed12(), signed16(), unsigned12(), grey16("unsigned16", 16, 16, 1, 16, false)}) {
    Jpeg2000Options other;
    other.codestreamSigned = o.spec.pixelRepresentation ? 0 : 1;
    const std::string j2k = dir.file(o.name + "-j2k-other-sign.dcm");
    ASSERT_TRUE(writeJpeg2000(j2k, o.spec, other, dir));
    expectDecodes(j2k, o, 0, o.spec.pixelRepresentation ? "unsigned codestream, signed header"
                                                        : "signed codestream, unsigned header");
  }
}

TEST(Decode, LossyCodecsStayWithinTolerance) {
  TempDir dir;
  const Original g8 = grey8(), colour = rgb(0), colourPlanar = rgb(1);
  Original smooth12 = unsigned12();
  {
    // A smooth 12-bit image, so that lossy coding errors stay small.
    std::vector<uint16_t> words(16 * 18);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(1000 + (i / 18) * 40 + (i % 18) * 30);
    smooth12.spec.pixels = smooth12.expected = asBytes(words);
  }
  struct Case {
    const Original* original;
    std::vector<std::string> argv;
    int tolerance;
    const char* what;
  };
  const Case cases[] = {
      {&g8, {"dcmcjpeg", "+eb", "+sr", "+q", "95"}, 12, "JPEG baseline"},
      {&colour, {"dcmcjpeg", "+eb", "+sr", "+q", "95"}, 24, "JPEG baseline colour (YBR_FULL_422)"},
      {&colourPlanar, {"dcmcjpeg", "+eb", "+sr", "+q", "95"}, 24, "JPEG baseline colour from planar"},
      {&smooth12, {"dcmcjpeg", "+ee", "+sr", "+q", "95"}, 40, "JPEG extended 12-bit"},
      {&g8, {"dcmcjpeg", "+es", "+sr", "+q", "95"}, 12, "JPEG spectral selection"},
      {&g8, {"dcmcjpeg", "+ep", "+sr", "+q", "95"}, 12, "JPEG progressive"},
      {&g8, {"dcmcjpls", "+en", "+md", "2"}, 2, "JPEG-LS near-lossless"},
      {&colour, {"dcmcjpls", "+en", "+md", "2"}, 2, "JPEG-LS near-lossless colour"},
  };
  int k = 0;
  for (const Case& c : cases) {
    const std::string base = dir.file(c.original->name + "-base.dcm");
    writeImage(base, c.original->spec);
    const std::string out = dir.file("lossy" + std::to_string(k++) + ".dcm");
    std::vector<std::string> argv = c.argv;
    argv.push_back(base);
    argv.push_back(out);
    ASSERT_TRUE(mustRun(argv, dir)) << c.what;
    expectDecodes(out, *c.original, c.tolerance, c.what);
  }

  Jpeg2000Options lossy;
  lossy.lossless = false;
  const std::string j2kGrey = dir.file("j2k-lossy-grey.dcm");
  ASSERT_TRUE(writeJpeg2000(j2kGrey, g8.spec, lossy, dir));
  expectDecodes(j2kGrey, g8, 40, "JPEG 2000 lossy grey");
  const std::string j2kColour = dir.file("j2k-lossy-rgb.dcm");
  ASSERT_TRUE(writeJpeg2000(j2kColour, colour.spec, lossy, dir));
  expectDecodes(j2kColour, colour, 40, "JPEG 2000 lossy colour (YBR_ICT)");
}

namespace {

// Rewrites, in place, the marker segments of the first JPEG stream in a file: an APP0 "JFIF"
// or APP14 "Adobe" segment becomes an APP15 segment no decoder reads (hide), and the
// component identifiers of the frame and scan headers are replaced by `ids` (when not empty).
void editJpegHeader(const std::string& path, bool hideMarkers, const std::vector<uint8_t>& ids) {
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> b;
  for (int c; (c = std::fgetc(f)) != EOF;) b.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  const uint8_t soi[] = {0xFF, 0xD8, 0xFF};
  auto at = std::search(b.begin(), b.end(), soi, soi + 3);
  ASSERT_NE(at, b.end());
  size_t i = static_cast<size_t>(at - b.begin()) + 2;
  while (i + 4 < b.size() && b[i] == 0xFF) {
    const uint8_t marker = b[i + 1];
    const size_t length = (size_t(b[i + 2]) << 8) | b[i + 3];
    if (hideMarkers && (marker == 0xE0 || marker == 0xEE)) b[i + 1] = 0xEF;
    if (!ids.empty() && (marker == 0xC0 || marker == 0xDA)) {
      const size_t count = b[i + (marker == 0xC0 ? 9 : 4)];
      const size_t first = i + (marker == 0xC0 ? 10 : 5);
      const size_t stride = marker == 0xC0 ? 3 : 2;
      for (size_t c = 0; c < count && c < ids.size(); ++c) b[first + c * stride] = ids[c];
    }
    if (marker == 0xDA) break;
    i += 2 + length;
  }
  f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

}  // namespace

TEST(Decode, ColourJpegFollowsWhatItsStreamSays) {
  // Lossy colour JPEG labelled RGB: a stream that says it holds YCbCr (a JFIF marker, or
  // libjpeg's 1-2-3 component identifiers without any marker) is converted; a stream that says
  // RGB (an Adobe marker without transform, or R-G-B identifiers), or says nothing, is not.
  TempDir dir;
  const Original colour = rgb(0);
  const std::string base = dir.file("colour-base.dcm");
  writeImage(base, colour.spec);
  struct Case {
    bool ybrStream;
    bool hideMarkers;
    std::vector<uint8_t> ids;
    const char* what;
  };
  const Case cases[] = {
      {true, false, {}, "YCbCr stream with a JFIF marker"},
      {true, true, {}, "YCbCr stream without a marker, components 1-2-3"},
      {false, false, {}, "RGB stream with an Adobe marker"},
      {false, true, {}, "RGB stream without a marker, components R-G-B"},
      {false, true, {0, 1, 2}, "RGB stream without a marker, components 0-1-2"},
  };
  int k = 0;
  for (const Case& c : cases) {
    const std::string out = dir.file("colour-jpeg" + std::to_string(k++) + ".dcm");
    ASSERT_TRUE(mustRun({"dcmcjpeg", "+eb", c.ybrStream ? "+cy" : "+cr", "+sr", "+q", "95", base, out}, dir));
    ASSERT_TRUE(mustRun({"dcmodify", "-nb", "-m", "(0028,0004)=RGB", out}, dir));
    editJpegHeader(out, c.hideMarkers, c.ids);
    expectDecodes(out, colour, 24, c.what);
  }
}

TEST(Decode, FramesAreFoundInEveryFragmentLayout) {
  TempDir dir;
  const Original o = grey16("multiframe", 40, 48, 5, 16, false);

  // JPEG 2000: one fragment per frame, several fragments per frame with and without a Basic
  // Offset Table (the latter found by codestream starts), and the JP2 file format.
  struct Layout {
    int fragmentKB;
    bool offsetTable;
    bool jp2;
    const char* what;
  };
  const Layout layouts[] = {
      {0, false, false, "one fragment per frame, no offset table"},
      {0, true, false, "one fragment per frame with offset table"},
      {1, true, false, "1 KB fragments with offset table"},
      {1, false, false, "1 KB fragments without offset table"},
      {0, false, true, "JP2 files"},
  };
  int k = 0;
  for (const Layout& l : layouts) {
    Jpeg2000Options options;
    options.fragmentKB = l.fragmentKB;
    options.offsetTable = l.offsetTable;
    options.jp2 = l.jp2;
    const std::string path = dir.file("j2k-frames" + std::to_string(k++) + ".dcm");
    ASSERT_TRUE(writeJpeg2000(path, o.spec, options, dir));
    expectDecodes(path, o, 0, l.what);
  }

  // A single frame split over many fragments is one codestream.
  Original single = signed16();
  Jpeg2000Options split;
  split.fragmentKB = 1;
  const std::string singlePath = dir.file("j2k-single-split.dcm");
  ASSERT_TRUE(writeJpeg2000(singlePath, single.spec, split, dir));
  expectDecodes(singlePath, single, 0, "JPEG 2000 single frame in 1 KB fragments");

  // DCMTK's JPEG and JPEG-LS decoders walk fragments that span frames without an offset table.
  const std::string base = dir.file("frames-base.dcm");
  writeImage(base, o.spec);
  const std::string jpeg = dir.file("frames-jpeg.dcm");
  ASSERT_TRUE(mustRun({"dcmcjpeg", "+e1", "+fs", "1", "-ot", base, jpeg}, dir));
  expectDecodes(jpeg, o, 0, "JPEG lossless in 1 KB fragments without offset table");
  const std::string jpls = dir.file("frames-jpls.dcm");
  ASSERT_TRUE(mustRun({"dcmcjpls", "+fs", "1", base, jpls}, dir));
  expectDecodes(jpls, o, 0, "JPEG-LS in 1 KB fragments");

  // Colour JPEG 2000 with the reversible transform, and without any transform.
  const Original colour = rgb(0);
  Jpeg2000Options noMct;
  noMct.mct = false;
  const std::string rct = dir.file("j2k-rct.dcm"), plain = dir.file("j2k-rgb.dcm");
  ASSERT_TRUE(writeJpeg2000(rct, colour.spec, Jpeg2000Options(), dir));
  ASSERT_TRUE(writeJpeg2000(plain, colour.spec, noMct, dir));
  expectDecodes(rct, colour, 0, "JPEG 2000 YBR_RCT");
  expectDecodes(plain, colour, 0, "JPEG 2000 RGB");
}

namespace {

// Rewrites `source` (one frame in one fragment) as `path`: with pieces 0, `frames` frames that
// each hold the same stream; else one frame whose stream is cut into 2-byte fragments and followed
// by empty ones, `pieces` fragments in all.
void rewriteFragments(const std::string& source, const std::string& path, int frames, size_t pieces) {
  DcmFileFormat file;
  DcmElement* e = nullptr;
  DcmPixelSequence* seq = nullptr;
  DcmPixelItem* item = nullptr;
  Uint8* p = nullptr;
  DcmDataset* ds = file.getDataset();
  ASSERT_TRUE(file.loadFile(source.c_str()).good() && ds->findAndGetElement(DCM_PixelData, e).good());
  const E_TransferSyntax xfer = ds->getOriginalXfer();
  static_cast<DcmPixelData*>(e)->getEncapsulatedRepresentation(xfer, nullptr, seq);
  ASSERT_TRUE(seq && seq->card() == 2 && seq->getItem(item, 1).good() && item->getUint8Array(p).good());
  const std::vector<Uint8> stream(p, p + item->getLength());
  auto* out = new DcmPixelSequence(DcmTag(DCM_PixelSequenceTag));
  out->insert(new DcmPixelItem(DcmTag(DCM_PixelItemTag)));
  for (size_t i = 0; i < (pieces ? std::max(pieces, stream.size() / 2) : static_cast<size_t>(frames)); ++i) {
    auto* fragment = new DcmPixelItem(DcmTag(DCM_PixelItemTag));
    if (!pieces) fragment->putUint8Array(stream.data(), static_cast<Uint32>(stream.size()));
    if (pieces && 2 * i < stream.size()) fragment->putUint8Array(&stream[2 * i], 2);
    out->insert(fragment);
  }
  auto* pixels = new DcmPixelData(DCM_PixelData);
  pixels->putOriginalRepresentation(xfer, nullptr, out);
  ds->insert(pixels, OFTrue);
  ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(frames).c_str());
  ASSERT_TRUE(file.saveFile(path.c_str(), xfer).good());
}

}  // namespace

TEST(Decode, FragmentsAreWalkedOnceWhateverTheirNumber) {
  // DCMTK's getItem(i) walks a pixel sequence from its head. Fragments are counted in list steps:
  // one walk per decode and per tag text, and DCMTK's decoders get one frame's fragments at a
  // time. A frame in more fragments than encoders write is refused before DCMTK's JPEG and JPEG-LS
  // decoders, which gather a frame's fragments by index, see it.
  TempDir dir;
  const Original o = grey8();
  const std::string base = dir.file("fragments-base.dcm");
  writeImage(base, o.spec);
  const size_t kFrames = 3000, kPieces = 3000;
  const char* const kTooMany = "more than the 1024 a frame may take";
  const struct {
    std::vector<std::string> argv;  // empty: JPEG 2000
    const char* refusal;            // of one frame in kPieces fragments; null: it decodes
  } rows[] = {{{"dcmcjpeg", "+e1"}, kTooMany},
              {{"dcmcjpls"}, kTooMany},
              {{}, nullptr},
              {{"dcmcrle"}, "RLE pixel data without one fragment per frame"}};
  redIRI::detail::FragmentCounts& counts = redIRI::detail::fragmentCounts();
  Original repeated = o;
  repeated.spec.frames = static_cast<int>(kFrames);
  for (size_t f = 1; f < kFrames; ++f) repeated.expected.insert(repeated.expected.end(), o.expected.begin(), o.expected.end());
  for (const auto& row : rows) {
    const std::string single = dir.file("fragments.dcm"), frames = single + ".frames", pieces = single + ".pieces";
    std::vector<std::string> argv = row.argv;
    argv.insert(argv.end(), {base, single});
    ASSERT_TRUE(row.argv.empty() ? writeJpeg2000(single, o.spec, Jpeg2000Options(), dir) : mustRun(argv, dir));
    rewriteFragments(single, frames, static_cast<int>(kFrames), 0);
    rewriteFragments(single, pieces, 1, kPieces);

    counts = {};
    expectDecodes(frames, repeated, 0, "one fragment for each of many frames");
    EXPECT_EQ(counts.steps, kFrames + 1);
    EXPECT_LE(counts.largestHanded, 1u);

    CallbackCapture log;
    counts = {};
    const Decoded one = decodeFile(pieces);
    EXPECT_LE(counts.steps, kPieces + 1);
    EXPECT_EQ(counts.largestHanded, 0u);
    EXPECT_TRUE(row.refusal ? one.bytes.empty() && log.logged(row.refusal) : one.bytes == o.expected) << argv[0];
    // As the sender checks a file before DCMTK decodes the whole of it.
    redIRI::detail::DicomFile file;
    std::string why;
    ASSERT_TRUE(file.open(pieces.c_str(), "test"));
    EXPECT_EQ(redIRI::detail::checkCompressedFragments(file.dataset(), file.transferSyntax(), why),
              row.refusal != kTooMany);

    redIRI::dcmReader reader;
    ASSERT_TRUE(reader.setFile(pieces.c_str()));
    counts = {};
    EXPECT_NE(tagText(reader, 0x7FE0, 0x0010).find("bytes"), std::string::npos);
    EXPECT_EQ(counts.steps, kPieces + 1);
  }
}
