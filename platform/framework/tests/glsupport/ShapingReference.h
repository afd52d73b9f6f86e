// Reference shaping for tests of what labels draw: one line of text ordered by FriBidi and shaped
// by HarfBuzz, called directly on one font file, to compare with the glyphs a label lays out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"

namespace qvtest {

struct ShapedGlyph {
    unsigned int glyphIndex;
    float x;          // pen position from the line's left end (pixels)
    float y;          // from the baseline, up positive
    size_t codePoint; // first code point of the glyph's cluster
};

struct ShapedLine {
    std::vector<ShapedGlyph> glyphs; // in display order, left to right
    float width = 0;                 // the sum of the advances
};

// The line in fontFile at pixelSize: FriBidi's levels and display order in a left-to-right
// paragraph; each run of one level shaped by HarfBuzz over FreeType with hinted advances
// (FT_LOAD_DEFAULT). Left-to-right runs without right-to-left or complex-script characters are
// shaped without kerning or ligatures, as labels have always drawn Latin text. Glyph 0 (a
// character the font lacks) is left out.
ShapedLine shapeWithHarfBuzz(const std::string& fontFile, int pixelSize, const std::string& utf8);

// Whether a label of one line draws the reference shaping of its text in fontFile (by default the
// label's own font): the same glyphs of that file in the same order at the same positions
// (relative to the first), and a line as wide as their advances.
::testing::AssertionResult drawsAsHarfBuzz(cocos2d::Label* label, const std::string& fontFile = "");

} // namespace qvtest
