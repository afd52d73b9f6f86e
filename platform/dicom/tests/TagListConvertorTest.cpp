// The tag table of one file, the image aspect ratio, and files written from pixels in memory.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcvrlo.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dcmDiskWrite.h"
#include "dcmLib.h"
#include "support/DicomTestData.h"

using namespace qvtest;

namespace {

const redIRI::dcmReadTag::DicomTags* findRecord(const redIRI::dcmReadTag::DicomTags* list, int count,
                                                const char* tag) {
  for (int i = 0; i < count; ++i)
    if (std::strcmp(list[i].tag, tag) == 0) return &list[i];
  return nullptr;
}

}  // namespace

TEST(TagList, RecordsInTagOrderWithTheirFlagsAndDisplayTexts) {
  TempDir dir;
  const std::string path = dir.file("tags.dcm");
  ImageSpec s;
  s.rows = s.columns = 4;
  s.pixels.assign(32, 1);
  s.strings = {{DCM_PatientName, "Doe^Jane"}, {DCM_PixelSpacing, "0.5\\0.5"}};
  writeImage(path, s);
  editFile(path, [](DcmDataset& data) {
    DcmDataset* ds = &data;
    ds->putAndInsertString(DcmTag(0x0009, 0x0010, EVR_LO), "ACME 1.0");
    auto* secret = new DcmLongString(DcmTag(0x0009, 0x1001, DcmVR(EVR_LO)));
    secret->putString("secret");
    ds->insert(secret, OFTrue);
    DcmItem* item = nullptr;
    ds->findOrCreateSequenceItem(DCM_ReferencedImageSequence, item, 0);
    ds->findOrCreateSequenceItem(DCM_ReferencedImageSequence, item, 1);
    const Uint8 icon[5] = {1, 2, 3, 4, 5};
    ds->putAndInsertUint8Array(DCM_ICCProfile, icon, 5);
    ds->putAndInsertString(DcmTag(0x0032, 0x9999, EVR_LO), "unknown");
  });

  int count = 0;
  redIRI::dcmReadTag::DicomTags* list = nullptr;
  {
    redIRI::dcmReadTag reader;
    reader.setLanguage(0);
    ASSERT_TRUE(reader.setFile(path.c_str()));
    list = reader.getTagList(count);
    EXPECT_EQ(reader.getTag(0x0010, 0x0010), "Doe^Jane");
    EXPECT_EQ(reader.getTag(0x0010, 0x0020), "");
  }
  // The records belong to the caller and outlive the reader.
  ASSERT_NE(list, nullptr);
  ASSERT_GT(count, 10);
  for (int i = 1; i < count; ++i) EXPECT_LT(std::strcmp(list[i - 1].tag, list[i].tag), 0) << list[i].tag;

  const auto* meta = findRecord(list, count, "(0002,0010)");
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(meta->flag, 1);
  EXPECT_STREQ(meta->value, UID_LittleEndianExplicitTransferSyntax);
  EXPECT_STREQ(meta->description, "TransferSyntaxUID");
  EXPECT_STREQ(list[0].tag, "(0002,0000)");

  const auto* name = findRecord(list, count, "(0010,0010)");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->flag, 0);
  EXPECT_STREQ(name->value, "Doe^Jane");
  EXPECT_STREQ(name->description, "PatientName");

  for (const char* privateTag : {"(0009,0010)", "(0009,1001)"}) {
    const auto* r = findRecord(list, count, privateTag);
    ASSERT_NE(r, nullptr) << privateTag;
    EXPECT_EQ(r->flag, 1);
    EXPECT_STREQ(r->description, "PrivateTag");
  }
  EXPECT_STREQ(findRecord(list, count, "(0009,1001)")->value, "secret");
  EXPECT_STREQ(findRecord(list, count, "(0008,1140)")->value, "<sequence 2 items>");
  EXPECT_STREQ(findRecord(list, count, "(0028,2000)")->value, "<binary 6 bytes>");
  EXPECT_STREQ(findRecord(list, count, "(7FE0,0010)")->value, "<binary 32 bytes>");
  EXPECT_STREQ(findRecord(list, count, "(0028,0030)")->value, "0.5\\0.5");
  EXPECT_STREQ(findRecord(list, count, "(0028,0010)")->value, "4");
  const auto* unknown = findRecord(list, count, "(0032,9999)");
  ASSERT_NE(unknown, nullptr);
  EXPECT_STREQ(unknown->description, "UnknownTag");
  EXPECT_EQ(unknown->flag, 0);
  redIRI::dcmReadTag::freeTagList(list);

  // Compressed pixels read as the bytes of their fragments (two frames of 1000), never as 0.
  ImageSpec frames = greySpec(4, 4, 2);
  writeEncapsulatedStub(dir.file("rle.dcm"), frames, EXS_RLELossless);
  redIRI::dcmReadTag rle;
  ASSERT_TRUE(rle.setFile(dir.file("rle.dcm").c_str()));
  EXPECT_EQ(rle.getTag(0x7FE0, 0x0010), "<binary 2000 bytes>");

  redIRI::dcmReadTag empty;
  EXPECT_EQ(empty.getTagList(count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(TagList, FileOfManyPrivateElementsListsEveryOneInOrder) {
  TempDir dir;
  const std::string plainPath = dir.file("plain.dcm");
  const std::string manyPath = dir.file("many.dcm");
  ImageSpec s;
  s.rows = s.columns = 4;
  s.pixels.assign(32, 1);
  s.strings = {{DCM_PatientName, "Doe^Jane"}};
  writeImage(plainPath, s);
  std::filesystem::copy_file(plainPath, manyPath);
  constexpr int kPrivate = 20000;
  editFile(manyPath, [](DcmDataset& data) {
    for (int i = 0; i < kPrivate; ++i) {
      auto* e = new DcmLongString(DcmTag(0x0009, static_cast<Uint16>(0x1000 + i), DcmVR(EVR_LO)));
      e->putString(("v" + std::to_string(i)).c_str());
      data.insert(e, OFTrue);
    }
  });

  auto read = [](const std::string& path) {
    std::vector<redIRI::dcmReadTag::DicomTags> out;
    redIRI::dcmReadTag reader;
    reader.setLanguage(0);
    if (!reader.setFile(path.c_str())) return out;
    int count = 0;
    redIRI::dcmReadTag::DicomTags* list = reader.getTagList(count);
    out.assign(list, list + count);
    redIRI::dcmReadTag::freeTagList(list);
    return out;
  };
  const auto plain = read(plainPath);
  const auto many = read(manyPath);
  ASSERT_FALSE(plain.empty());
  ASSERT_EQ(many.size(), plain.size() + kPrivate);
  // The private elements in tag order, each with its own value; every other record as in the
  // same file without them, in the same order (the meta header's group length aside, which
  // counts the same elements).
  size_t p = 0;
  int next = 0;
  for (size_t i = 0; i < many.size(); ++i) {
    if (i > 0) { EXPECT_LT(std::strcmp(many[i - 1].tag, many[i].tag), 0) << many[i].tag; }
    if (std::strncmp(many[i].tag, "(0009,", 6) == 0) {
      char tag[16];
      std::snprintf(tag, sizeof tag, "(0009,%04X)", 0x1000 + next);
      ASSERT_STREQ(many[i].tag, tag);
      EXPECT_EQ(std::string(many[i].value), "v" + std::to_string(next));
      EXPECT_STREQ(many[i].description, "PrivateTag");
      EXPECT_EQ(many[i].flag, 1);
      ++next;
      continue;
    }
    ASSERT_LT(p, plain.size());
    EXPECT_STREQ(many[i].tag, plain[p].tag);
    EXPECT_STREQ(many[i].description, plain[p].description);
    EXPECT_EQ(many[i].flag, plain[p].flag);
    if (std::strcmp(many[i].tag, "(0002,0000)") != 0) {
      EXPECT_STREQ(many[i].value, plain[p].value) << many[i].tag;
    }
    ++p;
  }
  EXPECT_EQ(next, kPrivate);
  EXPECT_EQ(p, plain.size());
}

TEST(TagList, ImageScaleIsWidthOverHeightInMillimetres) {
  TempDir dir;
  auto scaleOf = [&dir](int rows, int columns, const char* spacing) {
    ImageSpec s;
    s.rows = rows;
    s.columns = columns;
    s.pixelData = false;
    if (spacing) s.strings.push_back({DCM_PixelSpacing, spacing});
    const std::string path = dir.file("scale.dcm");
    writeImage(path, s);
    redIRI::dcmReadTag reader;
    EXPECT_TRUE(reader.setFile(path.c_str()));
    return reader.getImageScale();
  };
  EXPECT_FLOAT_EQ(scaleOf(256, 512, "1.0\\0.5"), 1.0f);  // row spacing 1.0, column spacing 0.5
  EXPECT_FLOAT_EQ(scaleOf(256, 512, nullptr), 2.0f);
  EXPECT_FLOAT_EQ(scaleOf(100, 100, "0.5\\1.0"), 2.0f);
  EXPECT_FLOAT_EQ(scaleOf(100, 200, "0\\0"), 2.0f);

  ImageSpec noSize;
  noSize.pixelData = false;
  noSize.rows = 0;
  noSize.columns = 0;
  writeImage(dir.file("nosize.dcm"), noSize);
  redIRI::dcmReadTag reader;
  ASSERT_TRUE(reader.setFile(dir.file("nosize.dcm").c_str()));
  EXPECT_FLOAT_EQ(reader.getImageScale(), 1.0f);
  redIRI::dcmReadTag none;
  EXPECT_FLOAT_EQ(none.getImageScale(), 1.0f);
}

namespace {

redIRI::dcmConvertor::ConvertRecord baseRecord(const std::string& output, int rows, int columns) {
  redIRI::dcmConvertor::ConvertRecord r;
  std::memset(&r, 0, sizeof(r));
  std::snprintf(r.outputPath, sizeof(r.outputPath), "%s", output.c_str());
  std::snprintf(r.studyUID, sizeof(r.studyUID), "%s", "2.25.1234567890");
  std::snprintf(r.seriesUID, sizeof(r.seriesUID), "%s", "2.25.1234567891");
  std::snprintf(r.seriesNumber, sizeof(r.seriesNumber), "1");
  std::snprintf(r.instanceNumber, sizeof(r.instanceNumber), "1");
  std::snprintf(r.studyID, sizeof(r.studyID), "9000");
  r.rows = rows;
  r.columns = columns;
  r.windowWidth = 400;
  r.windowCenter = 40;
  r.spacing[0] = 0.7f;  // column spacing
  r.spacing[1] = 0.5f;  // row spacing
  const float position[3] = {-120.5f, 30.0f, 12.25f};
  const float rowDir[3] = {1, 0, 0}, columnDir[3] = {0, 1, 0};
  std::memcpy(r.position, position, sizeof(position));
  std::memcpy(r.rowDirection, rowDir, sizeof(rowDir));
  std::memcpy(r.columnDirection, columnDir, sizeof(columnDir));
  return r;
}

}  // namespace

TEST(Convertor, SlicesRoundTripThroughTheReader) {
  TempDir dir;
  // The source whose patient and study attributes the favourite carries.
  ImageSpec source;
  source.rows = source.columns = 2;
  source.pixels.assign(8, 0);
  source.strings = {{DCM_SpecificCharacterSet, "ISO_IR 100"},
                    {DCM_PatientName, "M\xFCller^Hans"},
                    {DCM_PatientID, "P-7"},
                    {DCM_Modality, "CT"},
                    {DCM_InstitutionName, "General"},
                    {DCM_StudyDescription, "Chest"}};
  writeImage(dir.file("source.dcm"), source);

  const int rows = 20, columns = 30;
  const std::vector<uint16_t> signedPixels = greyWords(rows, columns, 1, 16, true);
  auto record = baseRecord(dir.file("signed.dcm"), rows, columns);
  std::snprintf(record.sourcePath, sizeof(record.sourcePath), "%s", dir.file("source.dcm").c_str());
  record.isSigned = true;
  record.pixels = signedPixels.data();
  redIRI::dcmConvertor convertor;
  ASSERT_TRUE(convertor.convert(record));

  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(dir.file("signed.dcm").c_str()));
  const struct {
    unsigned short group, element;
    const char* value;
  } expected[] = {
      {0x0028, 0x0010, "20"},
      {0x0028, 0x0011, "30"},
      {0x0028, 0x0030, "0.5\\0.7"},  // row spacing first
      {0x0028, 0x1050, "40"},
      {0x0028, 0x1051, "400"},
      {0x0028, 0x1053, "1"},  // a slope of 0 is written as 1
      {0x0028, 0x0103, "1"},
      {0x0020, 0x0032, "-120.5\\30\\12.25"},
      {0x0020, 0x0037, "1\\0\\0\\0\\1\\0"},
      {0x0008, 0x0060, "CT"},
      {0x0010, 0x0010, "M\xC3\xBCller^Hans"},
      {0x0008, 0x0080, "General"},
      {0x0008, 0x0016, UID_SecondaryCaptureImageStorage},
      {0x0020, 0x000D, "2.25.1234567890"},
      {0x0020, 0x000E, "2.25.1234567891"},
      {0x0020, 0x0011, "1"},
      {0x0020, 0x0013, "1"},
      {0x0020, 0x0010, "9000"},
      {0x0002, 0x0010, UID_LittleEndianExplicitTransferSyntax},
  };
  for (const auto& e : expected)
    EXPECT_EQ(tagText(reader, e.group, e.element), e.value) << std::hex << e.group << "," << e.element;
  const std::string sop = tagText(reader, 0x0008, 0x0018);
  EXPECT_EQ(sop.rfind("2.25.", 0), 0u);
  EXPECT_LE(sop.size(), 64u);
  Decoded d = decodeFile(dir.file("signed.dcm"));
  EXPECT_EQ(d.type, 1);
  EXPECT_TRUE(d.bytes == asBytes(signedPixels));

  // Unsigned with a fractional slope, no source: modality "OT".
  const std::vector<uint16_t> unsignedPixels = greyWords(rows, columns, 1, 16, false);
  record = baseRecord(dir.file("unsigned.dcm"), rows, columns);
  record.rescaleSlope = 0.015625f;
  record.pixels = unsignedPixels.data();
  ASSERT_TRUE(convertor.convert(record));
  ASSERT_TRUE(reader.setFile(dir.file("unsigned.dcm").c_str()));
  EXPECT_EQ(tagText(reader, 0x0028, 0x1053), "0.015625");
  EXPECT_EQ(tagText(reader, 0x0028, 0x0103), "0");
  EXPECT_EQ(tagText(reader, 0x0008, 0x0060), "OT");
  EXPECT_EQ(tagText(reader, 0x0010, 0x0010), "");
  EXPECT_NE(tagText(reader, 0x0008, 0x0018), sop) << "every file gets its own instance UID";
  EXPECT_TRUE(decodeFile(dir.file("unsigned.dcm")).bytes == asBytes(unsignedPixels));

  // RGB triplets.
  const std::vector<uint8_t> rgb = rgbBytes(rows, columns, 1);
  record = baseRecord(dir.file("rgb.dcm"), rows, columns);
  record.samplesPerPixel = 3;
  record.pixels = rgb.data();
  ASSERT_TRUE(convertor.convert(record));
  d = decodeFile(dir.file("rgb.dcm"));
  EXPECT_EQ(d.type, 2);
  EXPECT_TRUE(d.bytes == rgb);
}

TEST(Convertor, AFailedConversionLeavesNoFile) {
  TempDir dir;
  CallbackCapture capture;
  const std::vector<uint16_t> pixels(16, 7);
  redIRI::dcmConvertor convertor;

  auto record = baseRecord(dir.file("missing-folder/out.dcm"), 4, 4);
  record.pixels = pixels.data();
  EXPECT_FALSE(convertor.convert(record));
  EXPECT_TRUE(capture.logged("missing-folder/out.dcm"));

  record = baseRecord(dir.file("nopixels.dcm"), 4, 4);
  EXPECT_FALSE(convertor.convert(record));
  record.pixels = pixels.data();
  record.samplesPerPixel = 2;
  EXPECT_FALSE(convertor.convert(record));
  record.samplesPerPixel = 1;
  record.rows = 0;
  EXPECT_FALSE(convertor.convert(record));

  // An existing file is replaced whole; nothing else is left in the folder.
  std::FILE* f = std::fopen(dir.file("keep.dcm").c_str(), "w");
  std::fputs("placeholder", f);
  std::fclose(f);
  record = baseRecord(dir.file("keep.dcm"), 4, 4);
  record.pixels = pixels.data();
  // A disk that fills part way through leaves the earlier file as it was and logs the system's reason.
  redIRI::disk::setRoomForTest(200);
  EXPECT_FALSE(convertor.convert(record));
  redIRI::disk::setRoomForTest(-1);
  EXPECT_TRUE(capture.logged("No space left on device"));
  std::ifstream kept(dir.file("keep.dcm"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "placeholder");
  EXPECT_TRUE(convertor.convert(record));
  EXPECT_EQ(decodeFile(dir.file("keep.dcm")).count, 16);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"keep.dcm"});
}
