// Text shaping for labels: a paragraph's code points become glyphs of a FontAtlas, put in display
// order with FriBidi and shaped with HarfBuzz, so that Arabic letters join and Hebrew and Arabic
// runs read right to left inside left-to-right text.
//
// The paragraph direction is left to right (the program's texts are). A paragraph is split into
// runs of one bidi level, one face of the atlas (the primary face, or the fallback face that has
// the characters) and one script. Runs that need nothing (an even level and no character of a
// right-to-left or complex script: Latin, Greek, Cyrillic, CJK, ...) keep one glyph per code point
// at FreeType's advance, without kerning or ligatures: the layout labels have always had. Other
// runs are shaped by HarfBuzz with the face's hinted advances.
//
// Units: pixels at the atlas's size; offsets right and up positive. Main thread only (as the atlas).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "2d/CCFontAtlas.h"

namespace cocos2d {
namespace shaping {

struct Glyph {
    FontAtlas::GlyphKey key = FontAtlas::kNoGlyph; // kNoGlyph: nothing drawn, no advance
    float advance = 0.0f;                          // how far the pen moves after the glyph
    float offsetX = 0.0f;                          // from the pen position to the glyph's origin
    float offsetY = 0.0f;
    uint32_t cluster = 0; // the first code point of the glyph's cluster (index into the text)
};

// A stretch of a paragraph in one level, face and script.
struct Run {
    uint32_t begin = 0; // code points [begin, end) of the text
    uint32_t end = 0;
    uint8_t level = 0;         // bidi embedding level; odd levels read right to left
    std::vector<Glyph> glyphs; // in display order, left to right
};

// True when a code point takes bidi ordering or shaping: right-to-left letters and digits,
// bidi controls, and scripts whose letters join, combine or reorder.
bool needsShaping(char32_t codePoint);
bool needsShaping(const char32_t* text, size_t count);

// Appends the runs of the paragraph text[begin, end) (no line break inside) in logical order.
// Cluster indices index text. A paragraph that needs no shaping gives one run at level 0 with one
// glyph per code point (FontAtlas::getGlyph).
void shapeParagraph(FontAtlas& atlas, const char32_t* text, size_t begin, size_t end, std::vector<Run>& runs);

// The glyphs of the code points [begin, end) of one line, in display order: the runs of
// [first, last) that cover the line, reordered by their levels (rule L2 of the bidi algorithm).
void displayOrder(const Run* first, const Run* last, size_t begin, size_t end,
                  std::vector<const Glyph*>& out);

} // namespace shaping
} // namespace cocos2d
