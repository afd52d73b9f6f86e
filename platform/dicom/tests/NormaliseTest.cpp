// The decoded buffer is normalised as the program expects it: stored bits at bit 0, signed
// values sign-extended, colour as interleaved RGB whatever the stored colour model; and the
// PNG rendering of frame 0.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "dcmLib.h"
#include "support/DicomTestData.h"

using namespace qvtest;

namespace {

std::vector<int> wordsOf(const Decoded& d, bool isSigned) {
  std::vector<int> out(d.bytes.size() / 2);
  const auto* w = reinterpret_cast<const uint16_t*>(d.bytes.data());
  for (size_t i = 0; i < out.size(); ++i) out[i] = isSigned ? static_cast<int16_t>(w[i]) : w[i];
  return out;
}

ImageSpec colourSpec(int rows, int columns, const std::string& photometric, std::vector<uint8_t> pixels) {
  ImageSpec s;
  s.rows = rows;
  s.columns = columns;
  s.samples = 3;
  s.bitsAllocated = s.bitsStored = 8;
  s.highBit = 7;
  s.photometric = photometric;
  s.pixels = std::move(pixels);
  return s;
}

// Full-range YCbCr of an RGB triplet (the equations of YBR_FULL), rounded.
void rgbToYbr(const uint8_t* rgb, uint8_t* ybr) {
  const double r = rgb[0], g = rgb[1], b = rgb[2];
  auto clampRound = [](double v) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, v + 0.5))); };
  ybr[0] = clampRound(0.299 * r + 0.587 * g + 0.114 * b);
  ybr[1] = clampRound(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
  ybr[2] = clampRound(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
}

int maxByteDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 1 << 30;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

}  // namespace

TEST(Normalise, StoredBitsAreShiftedMaskedAndSignExtended) {
  TempDir dir;
  const int rows = 8, columns = 8, n = rows * columns;

  // 12 bits stored in a 16-bit word with overlay garbage in the top four bits.
  std::vector<uint16_t> clean = greyWords(rows, columns, 1, 12, false);
  std::vector<uint16_t> stored(clean);
  for (int i = 0; i < n; ++i) stored[i] = static_cast<uint16_t>(stored[i] | ((i * 0x1357) & 0xF000));
  ImageSpec mr;
  mr.rows = rows;
  mr.columns = columns;
  mr.bitsStored = 12;
  mr.highBit = 11;
  mr.pixels = asBytes(stored);
  writeImage(dir.file("mr.dcm"), mr);
  Decoded d = decodeFile(dir.file("mr.dcm"));
  ASSERT_EQ(d.count, n);
  EXPECT_TRUE(d.bytes == asBytes(clean));

  // Signed 12-bit whose stored words carry garbage above bit 11: -1 (0xFFF) stays -1, the
  // extremes -2048 and 2047 survive.
  std::vector<uint16_t> signedStored(n);
  std::vector<int> expected(n);
  for (int i = 0; i < n; ++i) {
    const int v = (i * 97) % 4096 - 2048;
    expected[i] = v;
    signedStored[i] = static_cast<uint16_t>((v & 0x0FFF) | ((i & 1) ? 0xA000 : 0x0000));
  }
  expected[0] = -1;
  signedStored[0] = 0x5FFF;
  expected[1] = -2048;
  signedStored[1] = 0x0800;
  expected[2] = 2047;
  signedStored[2] = 0xF7FF;
  ImageSpec ct = mr;
  ct.pixelRepresentation = 1;
  ct.pixels = asBytes(signedStored);
  writeImage(dir.file("ct12.dcm"), ct);
  d = decodeFile(dir.file("ct12.dcm"));
  EXPECT_EQ(wordsOf(d, true), expected);

  // Bits stored high in the word (High Bit 15, 12 bits stored): shifted down to bit 0.
  std::vector<uint16_t> high(n);
  for (int i = 0; i < n; ++i) high[i] = static_cast<uint16_t>((clean[i] << 4) | 0x000F);
  ImageSpec shifted = mr;
  shifted.highBit = 15;
  shifted.pixels = asBytes(high);
  writeImage(dir.file("high.dcm"), shifted);
  d = decodeFile(dir.file("high.dcm"));
  EXPECT_TRUE(d.bytes == asBytes(clean));

  // 8-bit samples with 6 bits stored.
  ImageSpec small;
  small.rows = rows;
  small.columns = columns;
  small.bitsAllocated = 8;
  small.bitsStored = 6;
  small.highBit = 5;
  small.pixels.resize(n);
  std::vector<uint8_t> small6(n);
  for (int i = 0; i < n; ++i) {
    small6[i] = static_cast<uint8_t>(i % 64);
    small.pixels[i] = static_cast<uint8_t>(small6[i] | 0xC0);
  }
  writeImage(dir.file("six.dcm"), small);
  d = decodeFile(dir.file("six.dcm"));
  EXPECT_EQ(d.type, 0);
  EXPECT_TRUE(d.bytes == small6);
}

TEST(Normalise, ColourModelsBecomeInterleavedRgb) {
  TempDir dir;
  const int rows = 6, columns = 10, n = rows * columns;
  const std::vector<uint8_t> rgb = rgbBytes(rows, columns, 1);

  // YBR_FULL, interleaved and by plane.
  std::vector<uint8_t> ybr(rgb.size());
  for (int i = 0; i < n; ++i) rgbToYbr(&rgb[3 * i], &ybr[3 * i]);
  writeImage(dir.file("ybr.dcm"), colourSpec(rows, columns, "YBR_FULL", ybr));
  Decoded d = decodeFile(dir.file("ybr.dcm"));
  EXPECT_EQ(d.type, 2);
  EXPECT_LE(maxByteDifference(d.bytes, rgb), 2);

  std::vector<uint8_t> ybrPlanar(ybr.size());
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < 3; ++c) ybrPlanar[c * n + i] = ybr[3 * i + c];
  ImageSpec planar = colourSpec(rows, columns, "YBR_FULL", ybrPlanar);
  planar.planar = 1;
  writeImage(dir.file("ybr-planar.dcm"), planar);
  d = decodeFile(dir.file("ybr-planar.dcm"));
  EXPECT_LE(maxByteDifference(d.bytes, rgb), 2);

  // YBR_FULL_422: each pair of pixels shares its chroma (Y1 Y2 Cb Cr); pairs of equal colour
  // come back as that colour.
  std::vector<uint8_t> pairs(rgb);
  for (int i = 0; i < n; i += 2)
    for (int c = 0; c < 3; ++c) pairs[3 * (i + 1) + c] = pairs[3 * i + c];
  std::vector<uint8_t> subsampled(static_cast<size_t>(n) * 2);
  for (int i = 0; i < n; i += 2) {
    uint8_t a[3], b[3];
    rgbToYbr(&pairs[3 * i], a);
    rgbToYbr(&pairs[3 * (i + 1)], b);
    subsampled[2 * i] = a[0];
    subsampled[2 * i + 1] = b[0];
    subsampled[2 * i + 2] = a[1];
    subsampled[2 * i + 3] = a[2];
  }
  writeImage(dir.file("ybr422.dcm"), colourSpec(rows, columns, "YBR_FULL_422", subsampled));
  d = decodeFile(dir.file("ybr422.dcm"));
  EXPECT_EQ(d.count, n);
  EXPECT_LE(maxByteDifference(d.bytes, pairs), 2);

  // The same subsampled data declared with 3 frames' worth missing is refused up front.
  ImageSpec shortData = colourSpec(rows, columns, "YBR_FULL_422", subsampled);
  shortData.frames = 3;
  writeImage(dir.file("ybr422-short.dcm"), shortData);
  EXPECT_FALSE(decodeFile(dir.file("ybr422-short.dcm")).typeOk);
}

TEST(Normalise, PaletteColourIsExpandedThroughItsTables) {
  TempDir dir;
  const int rows = 4, columns = 8, n = rows * columns;

  // 8-bit indices, 256 entries of 16 bits, first mapped value 0.
  ImageSpec s;
  s.rows = rows;
  s.columns = columns;
  s.bitsAllocated = s.bitsStored = 8;
  s.highBit = 7;
  s.photometric = "PALETTE COLOR";
  s.pixels.resize(n);
  for (int i = 0; i < n; ++i) s.pixels[i] = static_cast<uint8_t>(i * 7);
  std::vector<Uint16> red(256), green(256), blue(256);
  for (int k = 0; k < 256; ++k) {
    red[k] = static_cast<Uint16>(k << 8);
    green[k] = static_cast<Uint16>((255 - k) << 8);
    blue[k] = static_cast<Uint16>(((k * 3) % 256) << 8);
  }
  writeImage(dir.file("palette.dcm"), s);
  editFile(dir.file("palette.dcm"), [&](DcmDataset& data) {
    DcmDataset* ds = &data;
    const Uint16 descriptor[3] = {256, 0, 16};
    ds->putAndInsertUint16Array(DCM_RedPaletteColorLookupTableDescriptor, descriptor, 3);
    ds->putAndInsertUint16Array(DCM_GreenPaletteColorLookupTableDescriptor, descriptor, 3);
    ds->putAndInsertUint16Array(DCM_BluePaletteColorLookupTableDescriptor, descriptor, 3);
    ds->putAndInsertUint16Array(DCM_RedPaletteColorLookupTableData, red.data(), 256);
    ds->putAndInsertUint16Array(DCM_GreenPaletteColorLookupTableData, green.data(), 256);
    ds->putAndInsertUint16Array(DCM_BluePaletteColorLookupTableData, blue.data(), 256);
  });
  Decoded d = decodeFile(dir.file("palette.dcm"));
  ASSERT_EQ(d.type, 2);
  ASSERT_EQ(d.count, n);
  for (int i = 0; i < n; ++i) {
    const int k = s.pixels[i];
    EXPECT_EQ(d.bytes[3 * i], k);
    EXPECT_EQ(d.bytes[3 * i + 1], 255 - k);
    EXPECT_EQ(d.bytes[3 * i + 2], (k * 3) % 256);
  }

  // 16-bit indices with a first mapped value of 100 and 8-bit entries: indices below the
  // table take its first entry, above it its last.
  ImageSpec w = s;
  w.bitsAllocated = w.bitsStored = 16;
  w.highBit = 15;
  std::vector<uint16_t> indices(n);
  for (int i = 0; i < n; ++i) indices[i] = static_cast<uint16_t>(90 + i * 2);
  w.pixels = asBytes(indices);
  writeImage(dir.file("palette16.dcm"), w);
  editFile(dir.file("palette16.dcm"), [](DcmDataset& ds) {
    const Uint16 descriptor[3] = {32, 100, 8};
    std::vector<Uint16> table(32);
    for (int k = 0; k < 32; ++k) table[k] = static_cast<Uint16>(k * 8);
    for (const auto& t : {std::make_pair(DCM_RedPaletteColorLookupTableDescriptor, DCM_RedPaletteColorLookupTableData),
                          std::make_pair(DCM_GreenPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableData),
                          std::make_pair(DCM_BluePaletteColorLookupTableDescriptor, DCM_BluePaletteColorLookupTableData)}) {
      ds.putAndInsertUint16Array(t.first, descriptor, 3);
      ds.putAndInsertUint16Array(t.second, table.data(), 32);
    }
  });
  d = decodeFile(dir.file("palette16.dcm"));
  ASSERT_EQ(d.count, n);
  for (int i = 0; i < n; ++i) {
    const int k = std::min(31, std::max(0, indices[i] - 100));
    EXPECT_EQ(d.bytes[3 * i], k * 8) << "index " << indices[i];
  }
}

namespace {

struct PngCall {
  int width = 0, height = 0, calls = 0;
  std::string path;
  std::vector<uint8_t> rgb;
};
PngCall g_png;

bool recordPng(int width, int height, unsigned char* rgb, const char* path) {
  g_png.calls++;
  g_png.width = width;
  g_png.height = height;
  g_png.path = path;
  g_png.rgb.assign(rgb, rgb + static_cast<size_t>(width) * height * 3);
  return true;
}

}  // namespace

TEST(Normalise, PngRenderingOfTheFirstFrame) {
  TempDir dir;
  // 3 rows x 4 columns, values rising along the rows: 0..1100 in steps of 100, signed CT.
  ImageSpec s;
  s.rows = 3;
  s.columns = 4;
  s.frames = 2;
  s.pixelRepresentation = 1;
  std::vector<uint16_t> v(24);
  for (int i = 0; i < 12; ++i) v[i] = static_cast<uint16_t>(i * 100);
  for (int i = 12; i < 24; ++i) v[i] = 5000;  // second frame: ignored
  s.pixels = asBytes(v);
  s.strings = {{DCM_RescaleIntercept, "-1000"}, {DCM_RescaleSlope, "1"},
               {DCM_WindowCenter, "-500\\0"}, {DCM_WindowWidth, "101\\400"}};
  writeImage(dir.file("ct.dcm"), s);

  redIRI::setSavePngCallback(nullptr);
  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(dir.file("ct.dcm").c_str()));
  EXPECT_FALSE(reader.convertToPngFile(dir.file("none.png").c_str(), true)) << "no writer installed";

  redIRI::setSavePngCallback(recordPng);
  g_png = PngCall();
  ASSERT_TRUE(reader.convertToPngFile(dir.file("range.png").c_str(), false));
  EXPECT_EQ(g_png.calls, 1);
  EXPECT_EQ(g_png.width, 4);
  EXPECT_EQ(g_png.height, 3);
  EXPECT_EQ(g_png.path, dir.file("range.png"));
  // The frame's own range: first pixel black, last white, rows from the top, grey triplets.
  ASSERT_EQ(g_png.rgb.size(), 36u);
  EXPECT_EQ(g_png.rgb[0], 0);
  EXPECT_EQ(g_png.rgb[33], 255);
  EXPECT_EQ(g_png.rgb[3 * 4], 93);  // (400 / 1100) * 255
  EXPECT_EQ(g_png.rgb[3 * 4], g_png.rgb[3 * 4 + 2]);

  // The file's first window (centre -500, width 101 in Hounsfield units): stored 400 is -600,
  // below the window; 500 is -500, the middle; 600 is -400, above.
  ASSERT_TRUE(reader.convertToPngFile(dir.file("window.png").c_str(), true));
  EXPECT_EQ(g_png.rgb[3 * 4], 0);
  EXPECT_NEAR(g_png.rgb[3 * 5], 128, 1);
  EXPECT_EQ(g_png.rgb[3 * 6], 255);

  // MONOCHROME1 is inverted.
  s.strings.push_back({DCM_PhotometricInterpretation, "MONOCHROME1"});
  writeImage(dir.file("inverted.dcm"), s);
  ASSERT_TRUE(reader.setFile(dir.file("inverted.dcm").c_str()));
  ASSERT_TRUE(reader.convertToPngFile(dir.file("inverted.png").c_str(), false));
  EXPECT_EQ(g_png.rgb[0], 255);
  EXPECT_EQ(g_png.rgb[33], 0);

  // Colour is copied as it is.
  const std::vector<uint8_t> rgb = rgbBytes(5, 7, 1);
  writeImage(dir.file("rgb.dcm"), colourSpec(5, 7, "RGB", rgb));
  ASSERT_TRUE(reader.setFile(dir.file("rgb.dcm").c_str()));
  ASSERT_TRUE(reader.convertToPngFile(dir.file("rgb.png").c_str(), true));
  EXPECT_EQ(g_png.width, 7);
  EXPECT_TRUE(g_png.rgb == rgb);
  redIRI::setSavePngCallback(nullptr);
}
