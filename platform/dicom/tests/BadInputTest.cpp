// Files that are not DICOM, are damaged, or cannot be decoded give a clear failure and a log
// line, and never a crash or a read past a buffer (these tests run under AddressSanitizer).
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dcmLib.h"
#include "support/AllocationWatch.h"
#include "support/DicomTestData.h"

using namespace qvtest;

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// A grey 16-bit image whose pixel data is all there, as zeros in a sparse file: the header
// alone says how large it is, as a few hundred kilobytes of deflated zeros would.
void writeDeclared(const std::string& path, int rows, int columns, int frames, uint64_t pixelBytes) {
  ImageSpec s = greySpec(1, 1, frames);
  s.rows = rows;
  s.columns = columns;
  s.pixelData = false;
  s.strings = {{DCM_PatientName, "Doe^Jane"}};
  writeImage(path, s);
  std::vector<uint8_t> bytes = readAll(path);
  bytes.insert(bytes.end(), {0xE0, 0x7F, 0x10, 0x00, 'O', 'W', 0, 0});
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(pixelBytes >> shift));
  writeAll(path, bytes);
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(bytes.size() + pixelBytes)), 0);
}

ImageSpec smallGrey(int frames = 1) {
  ImageSpec s = greySpec(12, 10, frames);
  s.strings = {{DCM_PatientName, "Doe^Jane"}, {DCM_PixelSpacing, "0.5\\0.5"}};
  return s;
}

// Everything a caller may do with a file, checking only that results are consistent: a
// delivered buffer always holds the full element count.
void exercise(const std::string& path) {
  redIRI::dcmReader reader;
  if (reader.setFile(path.c_str())) {
    char buffer[256];
    reader.readDicomTagString(0x0010, 0x0010, buffer, sizeof(buffer));
    reader.readDicomTagString(0x0028, 0x0030, buffer, sizeof(buffer));
    unsigned short rows = 0, columns = 0;
    const bool sized = reader.readDicomTagUint16(0x0028, 0x0010, rows) && reader.readDicomTagUint16(0x0028, 0x0011, columns);
    redIRI::dcmReader::PixelType type;
    if (reader.readDicomPixelType(type)) {
      int count = -1;
      const char* p = reader.readDicomPixelPointer(type, count);
      if (p) {
        EXPECT_GE(count, 1);
        if (sized) {
          EXPECT_EQ(count % (rows * columns), 0);
        }
        // Touch the last byte: AddressSanitizer reports a buffer shorter than announced.
        const size_t bytes = static_cast<size_t>(count) * (type == 0 ? 1 : type == 1 ? 2 : 3);
        volatile char last = p[bytes - 1];
        (void)last;
      } else {
        EXPECT_EQ(count, 0);
      }
    }
  }
  redIRI::dcmReadTag tags;
  if (tags.setFile(path.c_str())) {
    int count = 0;
    redIRI::dcmReadTag::DicomTags* list = tags.getTagList(count);
    for (int i = 0; i < count; ++i) EXPECT_LT(std::strlen(list[i].value), sizeof(list[i].value));
    redIRI::dcmReadTag::freeTagList(list);
    tags.getImageScale();
  }
}

// A file whose header is accepted but whose pixels fail to decode: null, count 0, and a log
// line containing `reason`.
void expectDecodeRefused(const std::string& path, const std::string& reason) {
  CallbackCapture capture;
  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(path.c_str()));
  redIRI::dcmReader::PixelType type;
  ASSERT_TRUE(reader.readDicomPixelType(type));
  int count = 9;
  EXPECT_EQ(reader.readDicomPixelPointer(type, count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(capture.logged(reason));
  EXPECT_TRUE(capture.logged(path));
}

// Little endian encodings of explicit VR elements.
void putElement(std::vector<uint8_t>& out, uint16_t group, uint16_t element, const char* vr,
                const std::string& value, uint32_t declaredLength = 0) {
  auto put16 = [&](uint16_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto put32 = [&](uint32_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
  put16(group);
  put16(element);
  if (group == 0xFFFE) {
    put32(declaredLength ? declaredLength : uint32_t(value.size()));
  } else {
    out.insert(out.end(), vr, vr + 2);
    const bool longLength = std::string("OB OW SQ UN UT").find(vr) != std::string::npos;
    if (longLength) {
      put16(0);
      put32(declaredLength ? declaredLength : uint32_t(value.size()));
    } else {
      put16(uint16_t(value.size()));
    }
  }
  out.insert(out.end(), value.begin(), value.end());
}

// The Secondary Capture SOP Class UID padded to an even length by its terminating NUL.
const std::string kSecondaryCapture(UID_SecondaryCaptureImageStorage, sizeof(UID_SecondaryCaptureImageStorage));

// A file in Deflated Explicit VR Little Endian holding `dataSet` (raw deflate, as the
// standard has it), with or without the preamble.
std::vector<uint8_t> deflatedFile(const std::vector<uint8_t>& dataSet, bool preamble) {
  std::vector<uint8_t> meta;
  putElement(meta, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
  putElement(meta, 0x0002, 0x0002, "UI", kSecondaryCapture);
  putElement(meta, 0x0002, 0x0003, "UI", "2.25.77");
  putElement(meta, 0x0002, 0x0010, "UI", std::string(UID_DeflatedExplicitVRLittleEndianTransferSyntax));
  std::vector<uint8_t> out(preamble ? 128 : 0, 0);
  if (preamble) out.insert(out.end(), {'D', 'I', 'C', 'M'});
  const uint32_t metaLength = uint32_t(meta.size());
  putElement(out, 0x0002, 0x0000, "UL",
             std::string({char(metaLength), char(metaLength >> 8), char(metaLength >> 16), char(metaLength >> 24)}));
  out.insert(out.end(), meta.begin(), meta.end());

  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> packed(deflateBound(&z, dataSet.size()));
  z.next_in = const_cast<Bytef*>(dataSet.data());
  z.avail_in = uInt(dataSet.size());
  z.next_out = packed.data();
  z.avail_out = uInt(packed.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  packed.resize(z.total_out);
  deflateEnd(&z);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

}  // namespace

TEST(BadInput, DeflatedDataSetsCannotDeclareMoreThanTheyHold) {
  // Values of a deflated data set cannot stay on disk, so DCMTK reserves each declared length
  // before reading it: a file of about a hundred bytes could make it reserve gigabytes.
  // Builds without a sanitizer runtime cannot see allocations; there largest() stays 0.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
#endif
  TempDir dir;
  const std::string sopClass = kSecondaryCapture;
  std::vector<uint8_t> flat;
  putElement(flat, 0x0008, 0x0016, "UI", sopClass);
  putElement(flat, 0x7FE0, 0x0010, "OB", std::string(16, '\0'), 0xFFFFFFF0u);
  // The same inside an item of a sequence of undefined length.
  std::vector<uint8_t> nested;
  putElement(nested, 0x0008, 0x0016, "UI", sopClass);
  putElement(nested, 0x0040, 0x0275, "SQ", "", 0xFFFFFFFFu);
  putElement(nested, 0xFFFE, 0xE000, "", "", 0xFFFFFFFFu);
  putElement(nested, 0x0040, 0x0007, "UT", "x", 0xFFFFFF00u);
  struct Case {
    std::vector<uint8_t> bytes;
    const char* what;
  };
  const std::vector<Case> cases = {{deflatedFile(flat, false), "pixel data, no preamble"},
                                   {deflatedFile(flat, true), "pixel data"},
                                   {deflatedFile(nested, true), "text in a sequence item"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_LT(c.bytes.size(), 300u);
    const std::string path = dir.file("deflated.dcm");
    writeAll(path, c.bytes);
    CallbackCapture capture;
    AllocationWatch allocations;
    redIRI::dcmReader reader;
    const bool opened = reader.setFile(path.c_str());
    redIRI::dcmReadTag tags;
    const bool tagsOpened = tags.setFile(path.c_str());
    allocations.stop();
    EXPECT_FALSE(opened);
    EXPECT_FALSE(tagsOpened);
    EXPECT_LT(allocations.largest(), size_t(64) << 20) << "bytes reserved at once";
    EXPECT_TRUE(capture.logged("declares a length reaching")) << path;
  }

  // A sound deflated file with a sequence still reads, pixels included.
  const std::string native = dir.file("native.dcm"), deflated = dir.file("sound.dcm");
  ImageSpec s = smallGrey();
  writeImage(native, s);
  editFile(native, [](DcmDataset& data) {
    DcmItem* item = nullptr;
    ASSERT_TRUE(data.findOrCreateSequenceItem(DCM_ReferencedImageSequence, item, -2).good());
    item->putAndInsertString(DCM_ReferencedSOPInstanceUID, "2.25.1001.2002.3003.4004");
  });
  ASSERT_TRUE(mustRun({"dcmconv", "+td", native, deflated}, dir));
  const Decoded decoded = decodeFile(deflated);
  EXPECT_TRUE(decoded.opened);
  EXPECT_TRUE(decoded.typeOk);
  EXPECT_EQ(decoded.bytes, s.pixels);
}

TEST(BadInput, FilesThatAreNotDicomAreRefusedWithALogLine) {
  TempDir dir;
  CallbackCapture capture;
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                    0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0, 0x90, 0x77, 0x53, 0xDE};
  writeAll(dir.file("thrumb0"), png);
  std::vector<uint8_t> textFile;
  const std::string words = "patient list exported on 2024-01-02\nname,id\nDoe,123\n";
  for (int i = 0; i < 20; ++i) textFile.insert(textFile.end(), words.begin(), words.end());
  writeAll(dir.file("notes.txt"), textFile);
  writeAll(dir.file("empty"), {});
  std::vector<uint8_t> preambleOnly(128, 0);
  preambleOnly.insert(preambleOnly.end(), {'D', 'I', 'C', 'M', 0x02, 0x00});
  writeAll(dir.file("cut-header.dcm"), preambleOnly);
  // A named pipe without a writer: refused at once, never waited on.
  ASSERT_EQ(::mkfifo(dir.file("pipe.dcm").c_str(), 0600), 0);

  for (const char* name : {"thrumb0", "notes.txt", "empty", "cut-header.dcm", "missing.dcm", "pipe.dcm"}) {
    SCOPED_TRACE(name);
    capture.clear();
    redIRI::dcmReader reader;
    EXPECT_FALSE(reader.setFile(dir.file(name).c_str()));
    EXPECT_TRUE(capture.logged(dir.file(name))) << "the log line names the file";
    redIRI::dcmReader::PixelType type;
    int count = 5;
    EXPECT_FALSE(reader.readDicomPixelType(type));
    EXPECT_EQ(reader.readDicomPixelPointer(type, count), nullptr);
    EXPECT_EQ(count, 0);
    redIRI::dcmReadTag tags;
    EXPECT_FALSE(tags.setFile(dir.file(name).c_str()));
    EXPECT_EQ(tags.getTagList(count), nullptr);
    EXPECT_EQ(tags.getTag(0x0010, 0x0010), "");
    EXPECT_EQ(tags.getImageScale(), 1.0f);
  }

  // A data set without a preamble is accepted when it is an object (SOP Class UID or pixel
  // data); the same bytes minus those elements are not.
  ImageSpec bare = smallGrey();
  bare.preamble = false;
  writeImage(dir.file("bare.dcm"), bare);
  EXPECT_TRUE(decodeFile(dir.file("bare.dcm")).bytes == bare.pixels);
  bare.pixelData = false;
  bare.sopClassUid = "";
  writeImage(dir.file("bare-nothing.dcm"), bare);
  redIRI::dcmReader reader;
  EXPECT_FALSE(reader.setFile(dir.file("bare-nothing.dcm").c_str()));
}

TEST(BadInput, PixelsThatCannotBeDeliveredAreReportedBeforeDecoding) {
  TempDir dir;
  CallbackCapture capture;
  redIRI::dcmReader::PixelType type;

  // Video, 32-bit, 1-bit, no pixel data, and less pixel data than the header declares: the
  // scan learns it from readDicomPixelType, before anyone waits for pixels.
  ImageSpec video = smallGrey();
  video.bitsAllocated = video.bitsStored = 8;
  video.highBit = 7;
  writeEncapsulatedStub(dir.file("video.dcm"), video, EXS_MPEG4HighProfileLevel4_1);
  ImageSpec wide = smallGrey();
  wide.bitsAllocated = wide.bitsStored = 32;
  wide.highBit = 31;
  wide.pixels.resize(12 * 10 * 4);
  writeImage(dir.file("32bit.dcm"), wide);
  ImageSpec bits = smallGrey();
  bits.bitsAllocated = bits.bitsStored = 1;
  bits.highBit = 0;
  bits.pixels.resize(12 * 10 / 8);
  writeImage(dir.file("1bit.dcm"), bits);
  ImageSpec none = smallGrey();
  none.pixelData = false;
  writeImage(dir.file("nopixels.dcm"), none);
  ImageSpec shortFrames = smallGrey();
  shortFrames.strings.push_back({DCM_NumberOfFrames, "3"});
  writeImage(dir.file("short.dcm"), shortFrames);
  // Too large to be shown, from the header alone: one 16384 x 16384 frame, and a pixel data
  // element longer than any image the viewer holds. A genuine large multi-frame object (1000
  // frames of 512 x 512) is delivered.
  writeDeclared(dir.file("huge-frame.dcm"), 16384, 16384, 1, uint64_t(16384) * 16384 * 2);
  writeDeclared(dir.file("long-element.dcm"), 64, 64, 1, uint64_t(3) << 30);
  writeDeclared(dir.file("large-multiframe.dcm"), 512, 512, 1000, uint64_t(512) * 512 * 2 * 1000);
  redIRI::dcmReader large;
  ASSERT_TRUE(large.setFile(dir.file("large-multiframe.dcm").c_str()));
  EXPECT_TRUE(large.readDicomPixelType(type));

  for (const char* name : {"video.dcm", "32bit.dcm", "1bit.dcm", "nopixels.dcm", "short.dcm", "huge-frame.dcm",
                           "long-element.dcm"}) {
    SCOPED_TRACE(name);
    capture.clear();
    redIRI::dcmReader reader;
    ASSERT_TRUE(reader.setFile(dir.file(name).c_str())) << "the tags are still readable";
    char text[64];
    EXPECT_TRUE(reader.readDicomTagString(0x0010, 0x0010, text, sizeof(text)));
    EXPECT_FALSE(reader.readDicomPixelType(type));
    EXPECT_TRUE(capture.logged(dir.file(name)));
    if (std::string(name) == "video.dcm") {
      EXPECT_TRUE(capture.logged(UID_MPEG4HighProfileLevel4_1TransferSyntax))
          << "the log names the transfer syntax";
    }
    AllocationWatch allocations;
    int count = 9;
    EXPECT_EQ(reader.readDicomPixelPointer(type, count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(reader.convertToPngFile(dir.file("thumbnail.png").c_str(), true));
    redIRI::dcmReadTag tags;  // the tag list of any of them costs what its header costs
    ASSERT_TRUE(tags.setFile(dir.file(name).c_str()));
    redIRI::dcmReadTag::freeTagList(tags.getTagList(count));
    allocations.stop();
    EXPECT_LT(allocations.largest(), size_t(1) << 20) << "bytes reserved at once";
  }

  // A JPEG 2000 frame of another size than the header's: accepted by the header, refused
  // when decoded, with a log line.
  ImageSpec j2k = smallGrey();
  j2k.pixels = greySpec(16, 16).pixels;
  Jpeg2000Options other;
  other.encodeRows = 16;
  other.encodeColumns = 16;
  ASSERT_TRUE(writeJpeg2000(dir.file("j2k-size.dcm"), j2k, other, dir));
  expectDecodeRefused(dir.file("j2k-size.dcm"), "differs from the header");
}

TEST(BadInput, DamagedRleSegmentTablesAreRefused) {
  // DCMTK's RLE decoder trusts the segment offsets and reads far past its fragment when the
  // second offset is huge; the reader checks the table first.
  TempDir dir;
  const std::string native = dir.file("native.dcm"), rle = dir.file("rle.dcm");
  writeImage(native, smallGrey());
  ASSERT_TRUE(mustRun({"dcmcrle", native, rle}, dir));
  std::vector<uint8_t> bytes = readAll(rle);
  const uint8_t header[8] = {2, 0, 0, 0, 64, 0, 0, 0};  // two segments, the first after 64 bytes
  auto at = std::search(bytes.begin(), bytes.end(), header, header + 8);
  ASSERT_NE(at, bytes.end());
  const size_t second = static_cast<size_t>(at - bytes.begin()) + 8;
  for (int k = 0; k < 4; ++k) bytes[second + k] = k == 3 ? 0x40 : 0x00;  // 0x40000000
  writeAll(rle, bytes);
  expectDecodeRefused(rle, "damaged RLE segment table");
}

TEST(BadInput, JpegStreamsThatWouldHangTheDecoderAreRefused) {
  // DCMTK's scan of a JPEG stream for its bit depth never moves past a TEM marker (FF 01): a
  // stream holding one before its frame header keeps the decoding thread busy for ever. The
  // reader walks the stream first.
  TempDir dir;
  const std::string native = dir.file("native.dcm"), jpeg = dir.file("jpeg.dcm");
  writeImage(native, smallGrey());
  ASSERT_TRUE(mustRun({"dcmcjpeg", "+e1", native, jpeg}, dir));
  std::vector<uint8_t> bytes = readAll(jpeg);
  const uint8_t soi[3] = {0xFF, 0xD8, 0xFF};
  auto at = std::search(bytes.begin(), bytes.end(), soi, soi + 3);
  ASSERT_NE(at, bytes.end());
  at[3] = 0x01;  // the marker after the start of image becomes TEM
  writeAll(jpeg, bytes);
  expectDecodeRefused(jpeg, "damaged JPEG stream");
}

TEST(BadInput, TruncatedFilesNeverCrash) {
  TempDir dir;
  // One file per family of decoder; each is cut at many lengths, from inside the preamble to
  // the last byte of the pixel data.
  const std::string native = dir.file("native.dcm");
  writeImage(native, smallGrey(2));
  std::vector<std::string> sources =
      recompress(native, {{"dcmconv", "+td"}, {"dcmconv", "+ti"}, {"dcmcjpeg", "+e1"}, {"dcmcjpls"}, {"dcmcrle"}}, dir);
  ASSERT_EQ(sources.size(), 5u);
  sources.push_back(native);
  const std::string j2k = dir.file("j2k.dcm");
  Jpeg2000Options fragments;
  fragments.fragmentKB = 1;
  ASSERT_TRUE(writeJpeg2000(j2k, smallGrey(2), fragments, dir));
  sources.push_back(j2k);

  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const std::vector<uint8_t> whole = readAll(source);
    ASSERT_GT(whole.size(), 200u);
    const std::string cut = dir.file("cut.dcm");
    for (size_t length = 0; length < whole.size(); length += (length < 400 ? 7 : 53)) {
      writeAll(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(length)));
      exercise(cut);
    }
  }
}

TEST(BadInput, ARefusedFileLeavesOneLogLineAndNothingOnStderr) {
  // DCMTK's own logger writes its parser's complaints straight to stderr; the layer's log line,
  // naming the file and the reason, is the one record of a refusal.
  TempDir dir;
  CallbackCapture capture;
  const std::string native = dir.file("native.dcm");
  writeImage(native, smallGrey(2));
  const std::vector<uint8_t> whole = readAll(native);
  const std::string cut = dir.file("cut-in-pixels.dcm");
  writeAll(cut, std::vector<uint8_t>(whole.begin(), whole.end() - 100));
  // An element whose length runs far past the end of the file.
  std::vector<uint8_t> huge(whole.begin(), whole.end());
  const uint8_t pixelTag[] = {0xE0, 0x7F, 0x10, 0x00, 'O', 'W', 0, 0};
  auto at = std::search(huge.begin(), huge.end(), pixelTag, pixelTag + 8);
  ASSERT_NE(at, huge.end());
  const uint8_t length[] = {0x53, 0x54, 0x4C, 0x4F};  // 1330402387 bytes
  std::copy(length, length + 4, at + 8);
  const std::string longer = dir.file("element-past-the-end.dcm");
  writeAll(longer, huge);

  for (const std::string& path : {cut, longer}) {
    SCOPED_TRACE(path);
    capture.clear();
    testing::internal::CaptureStderr();
    {
      redIRI::dcmReadTag tags;
      EXPECT_FALSE(tags.setFile(path.c_str()));
      exercise(path);
    }
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stderrText, "");
    size_t naming = 0;
    for (const std::string& line : capture.logLines())
      if (line.find(path) != std::string::npos) {
        ++naming;
        EXPECT_NE(line.find("cannot read"), std::string::npos) << line;
        EXPECT_NE(line.find("(7fe0,0010)"), std::string::npos) << "the line names the element at fault: " << line;
      }
    EXPECT_GE(naming, 1u);
  }

  // DCMTK's warnings about a file it reads all the same reach the log, not stderr: here a meta
  // group that says it is two bytes shorter than it is.
  std::vector<uint8_t> shorter(whole.begin(), whole.end());
  shorter[140] = static_cast<uint8_t>(shorter[140] - 2);
  const std::string lying = dir.file("meta-length-short.dcm");
  writeAll(lying, shorter);
  capture.clear();
  testing::internal::CaptureStderr();
  redIRI::dcmReadTag tags;
  EXPECT_TRUE(tags.setFile(lying.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(capture.logged("DCMTK warning: DcmMetaInfo: Group Length of Meta Information Header has incorrect value"))
      << ::testing::PrintToString(capture.logLines());
}

TEST(BadInput, CorruptedBytesNeverCrash) {
  TempDir dir;
  const std::string native = dir.file("native.dcm");
  ImageSpec s = smallGrey(2);
  s.strings.push_back({DCM_SpecificCharacterSet, "ISO_IR 100"});
  writeImage(native, s);
  std::vector<std::string> sources = recompress(native, {{"dcmcrle"}, {"dcmcjpls"}, {"dcmcjpeg", "+e1"}}, dir);
  ASSERT_EQ(sources.size(), 3u);
  sources.push_back(native);
  const std::string j2k = dir.file("j2k.dcm");
  ASSERT_TRUE(writeJpeg2000(j2k, s, Jpeg2000Options(), dir));
  sources.push_back(j2k);

  // Deterministic damage: runs of random bytes, single flipped bits, and huge lengths.
  std::mt19937 random(20240611);
  const std::string damaged = dir.file("damaged.dcm");
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const std::vector<uint8_t> whole = readAll(source);
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> bytes = whole;
      const size_t at = 132 + random() % (bytes.size() - 132);
      switch (round % 3) {
        case 0:
          for (size_t k = at; k < std::min(bytes.size(), at + 1 + random() % 16); ++k)
            bytes[k] = static_cast<uint8_t>(random());
          break;
        case 1:
          bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
        default:
          for (size_t k = at; k < std::min(bytes.size(), at + 4); ++k) bytes[k] = 0xFF;
          break;
      }
      writeAll(damaged, bytes);
      exercise(damaged);
    }
  }
}

TEST(BadInput, AReusedReaderAnswersOnlyForTheFileItHasOpen) {
  TempDir dir;
  CallbackCapture capture;
  ImageSpec first = smallGrey();
  first.strings = {{DCM_PatientName, "FIRST^ONE"}, {DCM_StudyID, "77"}};
  writeImage(dir.file("first.dcm"), first);
  ImageSpec second = smallGrey();
  second.preamble = false;
  second.strings = {{DCM_PatientName, "SECOND^TWO"}};
  writeImage(dir.file("second.dcm"), second);
  writeAll(dir.file("junk.dcm"), {'n', 'o', 't', ' ', 'd', 'i', 'c', 'o', 'm', '!'});

  redIRI::dcmReader reader;
  char text[64];
  ASSERT_TRUE(reader.setFile(dir.file("first.dcm").c_str()));
  ASSERT_TRUE(reader.readDicomTagString(0x0010, 0x0010, text, sizeof(text)));
  EXPECT_STREQ(text, "FIRST^ONE");
  // A refused file (and a folder) leaves nothing of the previous one behind.
  for (const std::string& path : {dir.file("junk.dcm"), dir.path()}) {
    EXPECT_FALSE(reader.setFile(path.c_str())) << path;
    EXPECT_FALSE(reader.readDicomTagString(0x0010, 0x0010, text, sizeof(text)));
  }
  ASSERT_TRUE(reader.setFile(dir.file("second.dcm").c_str()));
  ASSERT_TRUE(reader.readDicomTagString(0x0010, 0x0010, text, sizeof(text)));
  EXPECT_STREQ(text, "SECOND^TWO");
  EXPECT_FALSE(reader.readDicomTagString(0x0020, 0x0010, text, sizeof(text))) << "Study ID was the first file's";
  unsigned short rows = 0;
  EXPECT_TRUE(reader.readDicomTagUint16(0x0028, 0x0010, rows));
  EXPECT_EQ(static_cast<int>(rows), second.rows);
}
