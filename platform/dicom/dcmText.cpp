#include "dcmText.h"

#include <iconv.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dcmLibrary.h"

namespace redIRI {
namespace text {

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when it is malformed or
// runs past the end (overlong forms, surrogates and values above U+10FFFF are malformed).
size_t sequenceLength(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  const unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
  if (c1 < lo || c1 > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    const unsigned char ck = static_cast<unsigned char>(s[i + k]);
    if (ck < 0x80 || ck > 0xBF) return 0;
  }
  return n;
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
    out.append(trimOne(rest.substr(0, cut)));
    if (cut == std::string_view::npos) break;
    out.push_back('\\');
    rest.remove_prefix(cut + 1);
  }
  return out;
}

TextDecoder::TextDecoder() = default;

TextDecoder::~TextDecoder() {
  if (m_jisConverter) iconv_close(static_cast<iconv_t>(m_jisConverter));
}

void TextDecoder::reset(const std::string& specificCharacterSet, int language) {
  m_declared = stripSpaces(specificCharacterSet);
  m_language = language;
  // A leading empty value ("\ISO 2022 IR 87") still means code extensions are in use.
  m_needsConversion = !isPlainDeclaration(m_declared);
  m_converterTried = false;
  m_converterOk = false;
  m_converter.reset();

  // "\ISO 2022 IR 87", "ISO 2022 IR 6\ISO 2022 IR 87\ISO 2022 IR 159" and the like.
  m_japanese = false;
  bool otherSet = false;
  std::string_view rest(m_declared);
  for (;;) {
    size_t cut = rest.find('\\');
    std::string term = stripSpaces(std::string(rest.substr(0, cut)));
    if (term == "ISO 2022 IR 87" || term == "ISO 2022 IR 159")
      m_japanese = true;
    else if (!term.empty() && term != "ISO 2022 IR 6")
      otherSet = true;
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  if (otherSet) m_japanese = false;
}

bool TextDecoder::convertJapanese(const std::string& raw, std::string& out) {
  if (!m_jisConverter) {
    iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP-2");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    m_jisConverter = cd;
  }
  iconv_t cd = static_cast<iconv_t>(m_jisConverter);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // every value starts in ASCII
  std::string result(raw.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(raw.data());
  size_t srcLeft = raw.size();
  char* dst = &result[0];
  size_t dstLeft = result.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1))
    return false;
  result.resize(result.size() - dstLeft);
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

  if (m_japanese && isCharsetVR(vr)) {
    std::string out;
    if (convertJapanese(raw, out) && isValidUtf8(out)) return out;
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
