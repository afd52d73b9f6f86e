#include "outsideText.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";
constexpr char kEllipsis[] = "\xE2\x80\xA6";
constexpr size_t kEllipsisBytes = sizeof(kEllipsis) - 1;

bool isControl(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

// Characters with no glyph of their own that change how the text around them is ordered or
// hide it: a name holding them would be drawn other than as stored.
bool isHiddenFormat(uint32_t cp) {
  return cp == 0x00AD || cp == 0x061C || cp == 0x180E || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
         (cp >= 0xFFF9 && cp <= 0xFFFB) || (cp >= 0xE0000 && cp <= 0xE007F);
}

// The length of the longest prefix of s (valid UTF-8) of at most maxBytes bytes that ends at a
// character boundary.
size_t boundaryAtOrBefore(const std::string& s, size_t maxBytes) {
  size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

bool decodeUtf8At(std::string_view text, size_t& i, uint32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  int extra;
  uint32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
    minimum = 0x10000;
  } else {
    ++i;
    return false;
  }
  if (i + static_cast<size_t>(extra) >= text.size()) {
    ++i;
    return false;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return false;
  }
  i += static_cast<size_t>(extra) + 1;
  return true;
}

std::string cleanOutsideText(std::string_view text, size_t maxBytes) {
  std::string out;
  out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
  // Plain spaces are kept as given, but those beside a run of controls go with it.
  size_t spaces = 0;  // plain spaces since the last character kept
  bool gap = false;   // a run of controls since the last character kept
  // Past the bound the text is cut anyway: the rest need not be read.
  for (size_t i = 0; i < text.size() && out.size() <= maxBytes;) {
    const size_t begin = i;
    uint32_t cp = 0;
    const bool valid = decodeUtf8At(text, i, cp);
    if (valid && cp == ' ') {
      ++spaces;
      continue;
    }
    if (valid && isControl(cp)) {
      gap = true;
      continue;
    }
    if (valid && isHiddenFormat(cp)) continue;
    if (!gap)
      out.append(spaces, ' ');
    else if (!out.empty())
      out += ' ';
    gap = false;
    spaces = 0;
    if (valid)
      out.append(text.substr(begin, i - begin));
    else
      out += kReplacement;
  }
  if (!gap) out.append(spaces, ' ');
  if (out.size() <= maxBytes) return out;
  if (maxBytes < kEllipsisBytes) {
    out.resize(boundaryAtOrBefore(out, maxBytes));
    return out;
  }
  out.resize(boundaryAtOrBefore(out, maxBytes - kEllipsisBytes));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out + kEllipsis;
}
