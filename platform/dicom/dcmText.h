// Text helpers of the DICOM layer (internal): UTF-8 checks and cuts, value padding rules,
// number formatting, and the conversion of one file's texts to UTF-8.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcspchrs.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace redIRI {
namespace text {

bool isValidUtf8(std::string_view s);

// The longest prefix of s of at most maxBytes bytes that does not end inside a UTF-8
// character (a malformed sequence at the cut is dropped as well).
size_t utf8CutLength(std::string_view s, size_t maxBytes);

// One line of clean text made of bytes a peer, a file or DCMTK gave, for the log, a record or a
// message, by the program's one rule for text from outside (cleanOutsideText): DCMTK's texts of
// several lines read as one, and a longer text is cut at a character and ends in "…" within
// maxBytes.
std::string cleanLine(std::string_view s, size_t maxBytes);

// Copies s into out (outSize bytes including the NUL), cut at a character boundary.
// Nothing is written when outSize is 0.
void copyCut(std::string_view s, char* out, size_t outSize);

// ISO 8859-1 to UTF-8: every byte is one code point.
std::string latin1ToUtf8(std::string_view s);

// A number as short decimal text that reads back to the same value ("0.5", "1e-07", "-1024").
std::string formatDouble(double value, bool singlePrecision);

// A DS value of at most 16 characters: the shortest text that reads back to the same float.
std::string formatDecimalString(float value);

// A new UID under 2.25 (a UUID-derived root, ISO/IEC 9834-8): 128 random bits in decimal.
std::string newUid();

// VRs whose values may carry characters outside the default repertoire and are converted by
// Specific Character Set.
bool isCharsetVR(DcmEVR vr);

// VRs that keep backslashes as text instead of separating values.
bool isSingleTextVR(DcmEVR vr);

// Removes DICOM padding from a UTF-8 value: each of its values (split at "\" unless the VR is
// a single text) loses trailing spaces and NULs, and leading spaces as well where the
// standard calls them insignificant (CS, DS, IS, UI, AS, DA, TM, DT). Dates (DA) and times (TM)
// come out in the standard forms "YYYYMMDD" and "HHMMSS(.frac)", also when the file holds the
// older "YYYY.MM.DD" and "HH:MM:SS(.frac)"; a date or time of neither form comes out empty, so
// nothing downstream cuts it by position.
std::string trimValue(const std::string& utf8, DcmEVR vr);

// Converts one file's text values to UTF-8 according to its Specific Character Set
// (0008,0005), ISO 2022 code extensions included. Texts of files without a declared set stay
// as they are when they are UTF-8; otherwise they are read as GB18030 when the language is
// chinese (first through the program's callback) and as ISO 8859-1 for other languages. A
// declared set that cannot be converted keeps the original bytes, with the same fallback
// for bytes that are not UTF-8. The result is always valid UTF-8. ISO 2022 declarations with
// the Japanese, Korean or Chinese sets (IR 13, 87, 159, 149, 58, with IR 6 and the single-byte
// sets) are decoded by the layer itself, escape by escape, each run through iconv.
class TextDecoder {
 public:
  TextDecoder();
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // specificCharacterSet is the raw value of (0008,0005), "" when absent.
  void reset(const std::string& specificCharacterSet, int language);
  std::string decode(const std::string& raw, DcmEVR vr);

 private:
  std::string fallback(const std::string& raw);
  bool convertIso2022(const std::string& raw, DcmEVR vr, std::string& out);

  std::string m_declared;
  int m_language = 0;
  bool m_needsConversion = false;
  bool m_converterTried = false;
  bool m_converterOk = false;
  std::unique_ptr<DcmSpecificCharacterSet> m_converter;
  std::unique_ptr<DcmSpecificCharacterSet> m_gbConverter;
  bool m_gbTried = false;
  // An ISO 2022 declaration with a CJK set, which DCMTK cannot convert over glibc's iconv.
  bool m_iso2022 = false;
};

}  // namespace text
}  // namespace redIRI
