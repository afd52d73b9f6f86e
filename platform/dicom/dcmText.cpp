#include "dcmText.h"

#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "dcmLibrary.h"
#include "outsideText.h"

namespace redIRI {
namespace text {

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when it is malformed or
// runs past the end, by the program's one decoder.
size_t sequenceLength(std::string_view s, size_t i) {
  size_t next = i;
  uint32_t cp = 0;
  return decodeUtf8At(s, next, cp) ? next - i : 0;
}

bool isLeadingSpaceInsignificant(DcmEVR vr) {
  switch (vr) {
    case EVR_CS:
    case EVR_DS:
    case EVR_IS:
    case EVR_UI:
    case EVR_AS:
    case EVR_DA:
    case EVR_TM:
    case EVR_DT:
      return true;
    default:
      return false;
  }
}

// Characters at which ISO 2022 code extensions return to the default repertoire, by VR
// (CR, LF, FF and HT always do).
const char* delimitersFor(DcmEVR vr) {
  switch (vr) {
    case EVR_PN:
      return "\\^=";
    case EVR_SH:
    case EVR_LO:
    case EVR_UC:
      return "\\";
    default:
      return "";
  }
}

bool isPlainDeclaration(const std::string& declared) {
  // The default repertoire and UTF-8 need no conversion; only validation.
  return declared.empty() || declared == "ISO_IR 6" || declared == "ISO_IR 192" ||
         declared == "ISO 2022 IR 6";
}

std::string stripSpaces(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// The single-byte sets that ISO 2022 code extensions may switch G1 to, by defined term and by
// the final byte of their escape sequence (ESC - F).
struct SingleByteSet {
  const char* term;
  char final;
  const char* iconvName;
};
const SingleByteSet kSingleByteSets[] = {
    {"ISO 2022 IR 100", 'A', "ISO-8859-1"}, {"ISO 2022 IR 101", 'B', "ISO-8859-2"},
    {"ISO 2022 IR 109", 'C', "ISO-8859-3"}, {"ISO 2022 IR 110", 'D', "ISO-8859-4"},
    {"ISO 2022 IR 144", 'L', "ISO-8859-5"}, {"ISO 2022 IR 127", 'G', "ISO-8859-6"},
    {"ISO 2022 IR 126", 'F', "ISO-8859-7"}, {"ISO 2022 IR 138", 'H', "ISO-8859-8"},
    {"ISO 2022 IR 148", 'M', "ISO-8859-9"}, {"ISO 2022 IR 203", 'b', "ISO-8859-15"},
    {"ISO 2022 IR 166", 'T', "TIS-620"},
};

const SingleByteSet* singleByteSetOf(const std::string& term) {
  for (const SingleByteSet& set : kSingleByteSets)
    if (term == set.term) return &set;
  return nullptr;
}

const SingleByteSet* singleByteSetOfFinal(char final) {
  for (const SingleByteSet& set : kSingleByteSets)
    if (final == set.final) return &set;
  return nullptr;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    size_t n = sequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

size_t utf8CutLength(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes && isValidUtf8(s)) return s.size();
  size_t i = 0;
  while (i < s.size()) {
    size_t n = sequenceLength(s, i);
    if (n == 0 || i + n > maxBytes) break;
    i += n;
  }
  return i;
}

std::string cleanLine(std::string_view s, size_t maxBytes) { return cleanOutsideText(s, maxBytes); }

void copyCut(std::string_view s, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  size_t n = utf8CutLength(s, outSize - 1);
  if (n) std::memcpy(out, s.data(), n);
  out[n] = '\0';
}

std::string latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string formatDouble(double value, bool singlePrecision) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[40];
  const int maxDigits = singlePrecision ? 9 : 17;
  for (int digits = singlePrecision ? 6 : 15; digits <= maxDigits; ++digits) {
    std::snprintf(buf, sizeof(buf), "%.*g", digits, value);
    double back = std::strtod(buf, nullptr);
    bool same = singlePrecision ? static_cast<float>(back) == static_cast<float>(value) : back == value;
    if (same) break;
  }
  return buf;
}

std::string formatDecimalString(float value) {
  if (!std::isfinite(value)) return "0";
  std::string text = formatDouble(value, true);
  if (text.size() <= 16) return text;
  char buf[40];
  for (int digits = 9; digits >= 1; --digits) {
    std::snprintf(buf, sizeof(buf), "%.*g", digits, static_cast<double>(value));
    if (std::strlen(buf) <= 16) return buf;
  }
  return "0";
}

std::string newUid() {
  std::random_device device;
  std::mt19937_64 engine((static_cast<uint64_t>(device()) << 32) ^ device());
  unsigned __int128 value = (static_cast<unsigned __int128>(engine()) << 64) | engine();
  // A UUID of version 4: the version and variant bits have fixed values.
  value &= ~(static_cast<unsigned __int128>(0xF) << 76);
  value |= static_cast<unsigned __int128>(0x4) << 76;
  value &= ~(static_cast<unsigned __int128>(0x3) << 62);
  value |= static_cast<unsigned __int128>(0x2) << 62;
  char digits[48];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  std::string uid = "2.25.";
  while (n > 0) uid.push_back(digits[--n]);
  return uid;
}

bool isCharsetVR(DcmEVR vr) {
  switch (vr) {
    case EVR_SH:
    case EVR_LO:
    case EVR_ST:
    case EVR_LT:
    case EVR_PN:
    case EVR_UC:
    case EVR_UT:
      return true;
    default:
      return false;
  }
}

bool isSingleTextVR(DcmEVR vr) { return vr == EVR_ST || vr == EVR_LT || vr == EVR_UT || vr == EVR_UR; }

namespace {

bool allDigits(std::string_view v) {
  for (char c : v)
    if (c < '0' || c > '9') return false;
  return true;
}

// Appends a date in the form "YYYYMMDD": given so, or in the older form "YYYY.MM.DD". Anything
// else appends nothing.
void appendStandardDate(std::string_view v, std::string& out) {
  if (v.size() == 8 && allDigits(v)) {
    out.append(v);
  } else if (v.size() == 10 && v[4] == '.' && v[7] == '.' && allDigits(v.substr(0, 4)) && allDigits(v.substr(5, 2)) &&
             allDigits(v.substr(8, 2))) {
    out.append(v.substr(0, 4)).append(v.substr(5, 2)).append(v.substr(8, 2));
  }
}

// Appends a time in the form "HH", "HHMM" or "HHMMSS(.F to .FFFFFF)": given so, or in the older
// form "HH:MM(:SS(.frac))". Anything else appends nothing.
void appendStandardTime(std::string_view v, std::string& out) {
  const size_t dot = v.find('.');
  const std::string_view clock = v.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : v.substr(dot + 1);
  if (fraction.size() > 6 || !allDigits(fraction)) return;
  std::string digits;
  if (allDigits(clock) && (clock.size() == 2 || clock.size() == 4 || clock.size() == 6)) {
    digits.assign(clock);
  } else if ((clock.size() == 5 || clock.size() == 8) && clock[2] == ':' && (clock.size() == 5 || clock[5] == ':')) {
    for (size_t at = 0; at < clock.size(); at += 3) {
      const std::string_view field = clock.substr(at, 2);
      if (!allDigits(field)) return;
      digits.append(field);
    }
  } else {
    return;
  }
  if (dot != std::string_view::npos && digits.size() != 6) return;  // a fraction only of seconds
  out.append(digits);
  if (!fraction.empty()) out.append(".").append(fraction);
}

}  // namespace

std::string trimValue(const std::string& utf8, DcmEVR vr) {
  const bool leading = isLeadingSpaceInsignificant(vr);
  auto trimOne = [leading](std::string_view v) {
    size_t e = v.size();
    while (e > 0 && (v[e - 1] == ' ' || v[e - 1] == '\0')) --e;
    size_t b = 0;
    if (leading)
      while (b < e && v[b] == ' ') ++b;
    return v.substr(b, e - b);
  };
  if (isSingleTextVR(vr)) return std::string(trimOne(utf8));
  std::string out;
  out.reserve(utf8.size());
  std::string_view rest(utf8);
  for (;;) {
    size_t cut = rest.find('\\');
    if (vr == EVR_DA)
      appendStandardDate(trimOne(rest.substr(0, cut)), out);
    else if (vr == EVR_TM)
      appendStandardTime(trimOne(rest.substr(0, cut)), out);
    else
      out.append(trimOne(rest.substr(0, cut)));
    if (cut == std::string_view::npos) break;
    out.push_back('\\');
    rest.remove_prefix(cut + 1);
  }
  return out;
}

TextDecoder::TextDecoder() = default;

TextDecoder::~TextDecoder() = default;

void TextDecoder::reset(const std::string& specificCharacterSet, int language) {
  m_declared = stripSpaces(specificCharacterSet);
  m_language = language;
  // A leading empty value ("\ISO 2022 IR 87") still means code extensions are in use.
  m_needsConversion = !isPlainDeclaration(m_declared);
  m_converterTried = false;
  m_converterOk = false;
  m_converter.reset();

  // ISO 2022 declarations with a CJK set ("\ISO 2022 IR 87", "ISO 2022 IR 13\ISO 2022 IR 87",
  // "\ISO 2022 IR 149", "\ISO 2022 IR 58" and the like) are decoded here: DCMTK cannot convert
  // them over glibc's iconv.
  m_iso2022 = false;
  bool unknownTerm = false;
  std::string_view rest(m_declared);
  for (;;) {
    size_t cut = rest.find('\\');
    const std::string term = stripSpaces(std::string(rest.substr(0, cut)));
    if (term == "ISO 2022 IR 87" || term == "ISO 2022 IR 159" || term == "ISO 2022 IR 13" ||
        term == "ISO 2022 IR 149" || term == "ISO 2022 IR 58")
      m_iso2022 = true;
    else if (!term.empty() && term != "ISO 2022 IR 6" && !singleByteSetOf(term))
      unknownTerm = true;
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  if (unknownTerm) m_iso2022 = false;
}

namespace {

// The character sets ISO 2022 code extensions switch between.
enum class CodeSet { Ascii, Katakana, Jis0208, Jis0212, Korean, Chinese, SingleByte };

struct Iso2022State {
  CodeSet g0 = CodeSet::Ascii;
  CodeSet g1 = CodeSet::Ascii;  // Ascii: no G1 set
  const char* g1Name = nullptr;  // iconv name of a single-byte G1 set
};

// The state a value (and each part after a delimiter) starts in: the first declared term's.
Iso2022State initialState(const std::string& declared) {
  Iso2022State s;
  const std::string first = stripSpaces(declared.substr(0, declared.find('\\')));
  if (first == "ISO 2022 IR 13") {
    s.g1 = CodeSet::Katakana;
  } else if (first == "ISO 2022 IR 149") {
    s.g1 = CodeSet::Korean;
  } else if (first == "ISO 2022 IR 58") {
    s.g1 = CodeSet::Chinese;
  } else if (const SingleByteSet* set = singleByteSetOf(first)) {
    s.g1 = CodeSet::SingleByte;
    s.g1Name = set->iconvName;
  }
  return s;
}

// Converts bytes of one multi-byte or single-byte set to UTF-8 through iconv.
bool iconvAppend(const char* from, const std::string& bytes, std::string& out) {
  if (bytes.empty()) return true;
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(bytes.size() * 4 + 8, '\0');
  char* src = const_cast<char*>(bytes.data());
  size_t srcLeft = bytes.size();
  char* dst = &result[0];
  size_t dstLeft = result.size();
  const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
  iconv_close(cd);
  if (!ok) return false;
  out.append(result.data(), result.size() - dstLeft);
  return true;
}

// The bytes of one set gathered up to the next switch, so that each run costs one conversion.
class Run {
 public:
  explicit Run(std::string& out) : m_out(out) {}
  // Adds bytes of the set `from` (an iconv name), converting what was gathered of another set.
  bool add(const char* from, const char* bytes, size_t n) {
    if (m_from != from && !flush()) return false;
    m_from = from;
    m_bytes.append(bytes, n);
    return true;
  }
  // Converts what was gathered; called before anything else is written to the output.
  bool flush() {
    const bool ok = !m_from || iconvAppend(m_from, m_bytes, m_out);
    m_from = nullptr;
    m_bytes.clear();
    return ok;
  }

 private:
  std::string& m_out;
  const char* m_from = nullptr;
  std::string m_bytes;
};

}  // namespace

bool TextDecoder::convertIso2022(const std::string& raw, DcmEVR vr, std::string& out) {
  const std::string delimiters = std::string(delimitersFor(vr)) + "\r\n\f\t";
  const Iso2022State initial = initialState(m_declared);
  Iso2022State s = initial;
  std::string result;
  Run run(result);
  for (size_t i = 0; i < raw.size();) {
    const unsigned char b = static_cast<unsigned char>(raw[i]);
    if (b == 0x1B) {
      // The escape sequences of the DICOM code extensions.
      const std::string_view seq(raw.data() + i + 1, std::min<size_t>(3, raw.size() - i - 1));
      auto starts = [&seq](const char* p) { return seq.substr(0, std::strlen(p)) == p; };
      size_t length = 0;
      if (starts("(B") || starts("(J")) {
        s.g0 = CodeSet::Ascii, length = 2;
      } else if (starts(")I")) {
        s.g1 = CodeSet::Katakana, length = 2;
      } else if (starts("$B") || starts("$@")) {
        s.g0 = CodeSet::Jis0208, length = 2;
      } else if (starts("$(D")) {
        s.g0 = CodeSet::Jis0212, length = 3;
      } else if (starts("$)C")) {
        s.g1 = CodeSet::Korean, length = 3;
      } else if (starts("$)A")) {
        s.g1 = CodeSet::Chinese, length = 3;
      } else if (seq.size() >= 2 && seq[0] == '-' && singleByteSetOfFinal(seq[1])) {
        s.g1 = CodeSet::SingleByte, s.g1Name = singleByteSetOfFinal(seq[1])->iconvName, length = 2;
      } else {
        return false;
      }
      i += 1 + length;
      continue;
    }
    if (b < 0x80) {
      if (b > 0x20 && b < 0x7F && (s.g0 == CodeSet::Jis0208 || s.g0 == CodeSet::Jis0212)) {
        // Two 7-bit bytes of JIS X 0208 or 0212, read as EUC-JP.
        if (i + 1 >= raw.size()) return false;
        std::string pair;
        if (s.g0 == CodeSet::Jis0212) pair += '\x8F';
        pair += static_cast<char>(b | 0x80);
        pair += static_cast<char>(static_cast<unsigned char>(raw[i + 1]) | 0x80);
        if (!run.add("EUC-JP", pair.data(), pair.size())) return false;
        i += 2;
        continue;
      }
      if (!run.flush()) return false;
      result += static_cast<char>(b);
      ++i;
      if (delimiters.find(static_cast<char>(b)) != std::string::npos) s = initial;
      continue;
    }
    switch (s.g1) {
      case CodeSet::Katakana:
        // JIS X 0201 katakana: the half-width forms U+FF61 to U+FF9F.
        if (b < 0xA1 || b > 0xDF || !run.flush()) return false;
        {
          const unsigned cp = 0xFF61 + (b - 0xA1);
          result += static_cast<char>(0xE0 | (cp >> 12));
          result += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          result += static_cast<char>(0x80 | (cp & 0x3F));
        }
        ++i;
        break;
      case CodeSet::Korean:
      case CodeSet::Chinese:
        if (i + 1 >= raw.size()) return false;
        if (!run.add(s.g1 == CodeSet::Korean ? "EUC-KR" : "GB2312", raw.data() + i, 2)) return false;
        i += 2;
        break;
      case CodeSet::SingleByte:
        if (!run.add(s.g1Name, raw.data() + i, 1)) return false;
        ++i;
        break;
      default:
        return false;
    }
  }
  if (!run.flush()) return false;
  out.swap(result);
  return true;
}

std::string TextDecoder::decode(const std::string& raw, DcmEVR vr) {
  bool ascii = true;
  for (char c : raw) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == 0x1B) {
      ascii = false;
      break;
    }
  }
  if (ascii) return raw;

  if (m_iso2022 && isCharsetVR(vr)) {
    std::string out;
    if (convertIso2022(raw, vr, out) && isValidUtf8(out)) return out;
  } else if (m_needsConversion && isCharsetVR(vr)) {
    if (!m_converterTried) {
      m_converterTried = true;
      m_converter = std::make_unique<DcmSpecificCharacterSet>();
      OFCondition cond = m_converter->selectCharacterSet(m_declared.c_str());
      m_converterOk = cond.good();
      if (!m_converterOk)
        detail::logLine("DICOM text: character set \"%s\" cannot be converted: %s", m_declared.c_str(),
                        cond.text());
    }
    if (m_converterOk) {
      OFString converted;
      if (m_converter->convertString(raw.data(), raw.size(), converted, delimitersFor(vr)).good()) {
        std::string out(converted.c_str(), converted.length());
        if (isValidUtf8(out)) return out;
      }
    }
  }
  if (isValidUtf8(raw)) return raw;
  return fallback(raw);
}

std::string TextDecoder::fallback(const std::string& raw) {
  if (m_language == 1) {
    std::string out;
    if (detail::convertGbByCallback(raw, out) && isValidUtf8(out)) return out;
    if (!m_gbTried) {
      m_gbTried = true;
      auto gb = std::make_unique<DcmSpecificCharacterSet>();
      if (gb->selectCharacterSet("GB18030").good()) m_gbConverter = std::move(gb);
    }
    if (m_gbConverter) {
      OFString converted;
      if (m_gbConverter->convertString(raw.data(), raw.size(), converted).good()) {
        std::string s(converted.c_str(), converted.length());
        if (isValidUtf8(s)) return s;
      }
    }
  }
  return latin1ToUtf8(raw);
}

}  // namespace text
}  // namespace redIRI
