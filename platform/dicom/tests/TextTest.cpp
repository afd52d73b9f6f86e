// Tag values as the program reads them: UTF-8 from every character set, without padding,
// found where the program expects them, cut safely.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcvrss.h>
#include <iconv.h>

#include <cstring>
#include <string>

#include "dcmLib.h"
#include "dcmText.h"
#include "support/DicomTestData.h"

using namespace qvtest;

namespace {

ImageSpec namedSpec(const std::string& charset, const std::string& name) {
  ImageSpec s;
  s.rows = s.columns = 2;
  s.pixels.assign(8, 0);
  if (!charset.empty()) s.strings.push_back({DCM_SpecificCharacterSet, charset});
  s.strings.push_back({DCM_PatientName, name});
  s.strings.push_back({DCM_StudyDescription, name});
  return s;
}

std::string nameOf(const std::string& path, int language) {
  redIRI::dcmReader reader;
  reader.setLanguage(language);
  if (!reader.setFile(path.c_str())) return "<unreadable>";
  return tagText(reader, 0x0010, 0x0010);
}

int g_gbCalls = 0;

// The program's converter, as it would be: GB18030 to UTF-8 with iconv.
void gbToUtf8(const char* in, char* out, int outSize) {
  ++g_gbCalls;
  std::memset(out, 0, static_cast<size_t>(outSize));
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return;
  char* src = const_cast<char*>(in);
  size_t srcLeft = std::strlen(in);
  char* dst = out;
  size_t dstLeft = static_cast<size_t>(outSize) - 1;
  iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
}

}  // namespace

TEST(Text, CharacterSetsAreReadAsUtf8) {
  TempDir dir;
  struct Case {
    const char* charset;
    std::string stored;
    std::string expected;
  };
  const Case cases[] = {
      {"ISO_IR 100", "M\xFCller^Hans", "M\xC3\xBCller^Hans"},
      {"ISO_IR 192", "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9^\xD0\x9F", "Дмитрий^П"},
      {"GB18030", "\xCD\xF5^\xD0\xA1\xC3\xF7", "王^小明"},
      {"ISO_IR 144", "\xB1\xE3\xD7\xEF", "Бузя"},
      // Arabic (ISO 8859-6) and Hebrew (ISO 8859-8), kept in logical order.
      {"ISO_IR 127", "\xE2\xC8\xC7\xE6\xEA^\xE4\xE6\xD2\xC7\xD1", "قباني^لنزار"},
      {"ISO_IR 138", "\xF9\xF8\xE5\xEF^\xE3\xE1\xE5\xF8\xE4", "שרון^דבורה"},
      {"\\ISO 2022 IR 149", "Hong^Gildong=\x1B$)C\xFB\xF3^\x1B$)C\xD1\xCE\xD4\xD7=\x1B$)C\xC8\xAB^\x1B$)C\xB1\xE6\xB5\xBF",
       "Hong^Gildong=洪^吉洞=홍^길동"},
      // The ISO 2022 example of the DICOM standard: ideographic and phonetic groups switched
      // by escape sequences, reset at each delimiter.
      {"\\ISO 2022 IR 87",
       "Yamada^Tarou=\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B=\x1B$B$d$^$@\x1B(B^\x1B$B$?$m$&\x1B(B",
       "Yamada^Tarou=山田^太郎=やまだ^たろう"},
      // Half-width katakana (JIS X 0201 in G1) with kanji and hiragana (JIS X 0208 in G0),
      // returning to JIS X 0201 romaji.
      {"ISO 2022 IR 13\\ISO 2022 IR 87",
       "\xD4\xCF\xC0\xDE^\xC0\xDB\xB3=\x1B$B;3ED\x1B(J^\x1B$BB@O:\x1B(J=\x1B$B$d$^$@\x1B(J^\x1B$B$?$m$&\x1B(J",
       "ﾔﾏﾀﾞ^ﾀﾛｳ=山田^太郎=やまだ^たろう"},
      // Chinese: GB 2312 through ISO 2022, GB18030 and GBK, and UTF-8.
      {"\\ISO 2022 IR 58", "Zhang^XiaoDong=\x1B$)A\xD5\xC5^\x1B$)A\xD0\xA1\xB6\xAB=", "Zhang^XiaoDong=张^小东="},
      {"GB18030", "Wang^XiaoDong=\xCD\xF5^\xD0\xA1\x96\x7C=", "Wang^XiaoDong=王^小東="},
      {"GBK", "Wang^XiaoDong=\xCD\xF5^\xD0\xA1\xB6\xAB=", "Wang^XiaoDong=王^小东="},
      {"ISO_IR 192", "Wang^XiaoDong=王^小東=", "Wang^XiaoDong=王^小東="},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    const std::string path = dir.file("cs" + std::to_string(k++) + ".dcm");
    writeImage(path, namedSpec(c.charset, c.stored));
    EXPECT_EQ(nameOf(path, 0), c.expected);
    EXPECT_EQ(nameOf(path, 1), c.expected) << "a declared set does not depend on the language";
  }

  // A set the library cannot convert keeps what can be kept and still gives valid UTF-8.
  CallbackCapture capture;
  const std::string unknown = dir.file("unknown.dcm");
  writeImage(unknown, namedSpec("ISO_IR 999", "Ab\xE9"));
  const std::string text = nameOf(unknown, 0);
  EXPECT_TRUE(redIRI::text::isValidUtf8(text));
  EXPECT_EQ(text.substr(0, 2), "Ab");
  EXPECT_TRUE(capture.logged("ISO_IR 999"));
}

TEST(Text, UndeclaredTextsFollowTheLanguage) {
  TempDir dir;
  const std::string gb = dir.file("gb.dcm"), utf8 = dir.file("utf8.dcm");
  writeImage(gb, namedSpec("", "\xCD\xF5^\xD0\xA1\xC3\xF7"));
  writeImage(utf8, namedSpec("", "王^小明"));

  // Chinese: through the program's callback; without it the library converts by itself.
  redIRI::setgb2utf8Callback(gbToUtf8);
  g_gbCalls = 0;
  EXPECT_EQ(nameOf(gb, 1), "王^小明");
  EXPECT_GT(g_gbCalls, 0);
  g_gbCalls = 0;
  EXPECT_EQ(nameOf(utf8, 1), "王^小明") << "UTF-8 stays as it is";
  EXPECT_EQ(g_gbCalls, 0);
  redIRI::setgb2utf8Callback(nullptr);
  EXPECT_EQ(nameOf(gb, 1), "王^小明");

  // Other languages read undeclared bytes as ISO 8859-1: different text, still valid UTF-8.
  const std::string latin = nameOf(gb, 0);
  EXPECT_TRUE(redIRI::text::isValidUtf8(latin));
  EXPECT_EQ(latin, "\xC3\x8D\xC3\xB5^\xC3\x90\xC2\xA1\xC3\x83\xC3\xB7");
  EXPECT_EQ(nameOf(utf8, 0), "王^小明");
}

TEST(Text, ValuesLoseTheirPaddingAndKeepTheirSeparators) {
  TempDir dir;
  ImageSpec s;
  s.rows = 16;
  s.columns = 16;
  s.pixels = asBytes(greyWords(16, 16, 1, 16, false));
  s.strings = {{DCM_PatientPosition, "HFS "},
               {DCM_RescaleSlope, " 1.5 "},
               {DCM_PixelSpacing, "0.5\\0.25"},
               {DCM_ImageType, "ORIGINAL \\PRIMARY "},
               {DCM_SeriesDescription, "  Head  "},
               {DCM_StudyID, ""},
               {DCM_ImageComments, "line one\\ still one  "},
               {DcmTagKey(0x0018, 0x1060), "123.5"}};
  const std::string path = dir.file("padded.dcm");
  writeImage(path, s);
  editFile(path, [](DcmDataset& ds) {
    auto* ss = new DcmSignedShort(DcmTag(DCM_SmallestImagePixelValue, EVR_SS));
    ss->putSint16(-5);
    ds.insert(ss, OFTrue);
    ds.putAndInsertFloat64(DCM_DiffusionBValue, 0.1);
  });

  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(path.c_str()));
  EXPECT_EQ(tagText(reader, 0x0018, 0x5100), "HFS");
  EXPECT_EQ(tagText(reader, 0x0028, 0x1053), "1.5");
  EXPECT_EQ(tagText(reader, 0x0028, 0x0030), "0.5\\0.25");
  EXPECT_EQ(tagText(reader, 0x0008, 0x0008), "ORIGINAL\\PRIMARY");
  EXPECT_EQ(tagText(reader, 0x0008, 0x103E), "  Head") << "leading spaces of LO are significant";
  EXPECT_EQ(tagText(reader, 0x0020, 0x4000), "line one\\ still one") << "LT keeps its backslash";
  EXPECT_EQ(tagText(reader, 0x0020, 0x0010), "") << "present but empty";
  EXPECT_EQ(tagText(reader, 0x0010, 0x1030), "<absent>");
  EXPECT_EQ(tagText(reader, 0x0028, 0x0011), "16") << "US as text";
  EXPECT_EQ(tagText(reader, 0x0018, 0x9087), "0.1") << "FD as short decimal text";
  EXPECT_EQ(tagText(reader, 0x0002, 0x0010), UID_LittleEndianExplicitTransferSyntax) << "file meta header";

  unsigned short value = 7;
  EXPECT_TRUE(reader.readDicomTagUint16(0x0028, 0x0010, value));
  EXPECT_EQ(value, 16);
  EXPECT_TRUE(reader.readDicomTagUint16(0x0028, 0x0106, value));
  EXPECT_EQ(value, 65531) << "SS gives its bit pattern";
  value = 7;
  EXPECT_FALSE(reader.readDicomTagUint16(0x0018, 0x1060, value)) << "DS is not read as US";
  EXPECT_FALSE(reader.readDicomTagUint16(0x0010, 0x1030, value));
  EXPECT_EQ(value, 7);

  // An absent tag leaves the buffer as it was.
  char untouched[8] = "keep";
  EXPECT_FALSE(reader.readDicomTagString(0x0010, 0x1030, untouched, sizeof(untouched)));
  EXPECT_STREQ(untouched, "keep");
}

TEST(Text, CutsNeverSplitACharacter) {
  TempDir dir;
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "\xC3\xA9";  // 200 x "é", 400 bytes
  const std::string path = dir.file("long.dcm");
  writeImage(path, namedSpec("ISO_IR 192", longName));
  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(path.c_str()));
  const std::string cut = tagText(reader, 0x0010, 0x0010, 256);
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_TRUE(redIRI::text::isValidUtf8(cut));
  EXPECT_EQ(tagText(reader, 0x0010, 0x0010, 1), "");
  EXPECT_EQ(tagText(reader, 0x0010, 0x0010, 2), "");
  EXPECT_EQ(tagText(reader, 0x0010, 0x0010, 3), "\xC3\xA9");
  EXPECT_EQ(tagText(reader, 0x0010, 0x0010, 4096), longName);

  // The cut helper on its own: malformed bytes at the cut are dropped too.
  EXPECT_EQ(redIRI::text::utf8CutLength("ab\xE4\xB8", 4), 2u);
  EXPECT_EQ(redIRI::text::utf8CutLength("\xF0\x9F\x98\x80x", 4), 4u);
  EXPECT_EQ(redIRI::text::utf8CutLength("\xF0\x9F\x98\x80x", 3), 0u);

  // A peer's or DCMTK's text made one clean line for the log: controls (C1 and line breaks among
  // them) become one space, malformed bytes U+FFFD, and a cut ends in "…" within the bound.
  using redIRI::text::cleanLine;
  EXPECT_EQ(cleanLine("\nAssociation Rejected:\r\n  Result: \x1b[31mPermanent\x07\xC2\x85\n", 100),
            "Association Rejected: Result: [31mPermanent");
  EXPECT_EQ(cleanLine("1.9.\xff\xC3", 100), "1.9.\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(cleanLine(longName, 10), "\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x80\xA6");
  EXPECT_EQ(cleanLine(std::string(5000, '\x1b') + "x", 4), "x");
}

TEST(Text, RadiopharmaceuticalTagsAreFoundInTheirSequence) {
  TempDir dir;
  const std::string path = dir.file("pet.dcm");
  ImageSpec s;
  s.rows = s.columns = 2;
  s.pixels.assign(8, 0);
  s.strings = {{DCM_Modality, "PT"}};
  writeImage(path, s);
  editFile(path, [](DcmDataset& ds) {
    DcmItem* item = nullptr;
    ASSERT_TRUE(ds.findOrCreateSequenceItem(DCM_RadiopharmaceuticalInformationSequence, item).good());
    item->putAndInsertString(DCM_RadiopharmaceuticalStartTime, "101500.00");
    item->putAndInsertString(DCM_RadionuclideTotalDose, "370000000");
    item->putAndInsertString(DCM_RadionuclideHalfLife, "6586.2");
    item->putAndInsertString(DCM_RadiopharmaceuticalStartDateTime, "20240102101500");
    item->putAndInsertString(DCM_PatientName, "not looked up here");
    ds.putAndInsertString(DCM_RadionuclideHalfLife, "6000");  // the top level wins
  });
  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(path.c_str()));
  EXPECT_EQ(tagText(reader, 0x0018, 0x1072), "101500.00");
  EXPECT_EQ(tagText(reader, 0x0018, 0x1074), "370000000");
  EXPECT_EQ(tagText(reader, 0x0018, 0x1075), "6000");
  EXPECT_EQ(tagText(reader, 0x0018, 0x1078), "20240102101500");
  EXPECT_EQ(tagText(reader, 0x0010, 0x0010), "<absent>");
  EXPECT_EQ(tagText(reader, 0x0054, 0x0016), "<sequence 1 items>");
}
