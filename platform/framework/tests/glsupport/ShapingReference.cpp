#include "ShapingReference.h"

#include <cmath>
#include <numeric>

#include <fribidi.h>
#include <hb-ft.h>
#include <hb.h>

#include "base/ccUTF8.h"

namespace qvtest {

namespace {

bool plainLeftToRight(const std::vector<char32_t>& text, size_t begin, size_t end)
{
    for (size_t i = begin; i < end; ++i) {
        if (text[i] >= 0x0590) {
            return false;
        }
    }
    return true;
}

} // namespace

ShapedLine shapeWithHarfBuzz(const std::string& fontFile, int pixelSize, const std::string& utf8)
{
    ShapedLine line;
    std::vector<char32_t> text;
    cocos2d::decodeUtf8(utf8, text);
    const auto n = FriBidiStrIndex(text.size());
    const auto* str = reinterpret_cast<const FriBidiChar*>(text.data());
    std::vector<FriBidiCharType> types(text.size());
    std::vector<FriBidiBracketType> brackets(text.size());
    std::vector<FriBidiLevel> levels(text.size());
    std::vector<FriBidiStrIndex> visual(text.size());
    std::iota(visual.begin(), visual.end(), 0);
    fribidi_get_bidi_types(str, n, types.data());
    fribidi_get_bracket_types(str, n, types.data(), brackets.data());
    FriBidiParType base = FRIBIDI_PAR_LTR;
    if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), n, &base, levels.data()) ||
        !fribidi_reorder_line(0, types.data(), n, 0, base, levels.data(), nullptr, visual.data())) {
        ADD_FAILURE() << "FriBidi failed on " << utf8;
        return line;
    }

    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, fontFile.c_str(), 0, &face) != 0) {
        ADD_FAILURE() << "cannot open " << fontFile;
        FT_Done_FreeType(library);
        return line;
    }
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize));
    hb_font_t* font = hb_ft_font_create_referenced(face);
    hb_ft_font_set_load_flags(font, FT_LOAD_DEFAULT);
    hb_buffer_t* buffer = hb_buffer_create();
    const hb_feature_t plain[] = {{HB_TAG('k', 'e', 'r', 'n'), 0, 0, ~0u},
                                  {HB_TAG('l', 'i', 'g', 'a'), 0, 0, ~0u},
                                  {HB_TAG('c', 'l', 'i', 'g'), 0, 0, ~0u},
                                  {HB_TAG('c', 'a', 'l', 't'), 0, 0, ~0u}};

    // Runs: stretches of the display order that are one level and one logical stretch.
    float pen = 0;
    for (size_t v = 0; v < text.size();) {
        const FriBidiLevel level = levels[size_t(visual[v])];
        const int step = (level & 1) ? -1 : 1;
        size_t w = v + 1;
        while (w < text.size() && levels[size_t(visual[w])] == level && visual[w] == visual[w - 1] + step) {
            ++w;
        }
        const size_t begin = size_t(std::min(visual[v], visual[w - 1]));
        const size_t end = size_t(std::max(visual[v], visual[w - 1])) + 1;
        hb_buffer_clear_contents(buffer);
        hb_buffer_add_utf32(buffer, reinterpret_cast<const uint32_t*>(text.data()), int(text.size()),
                            unsigned(begin), int(end - begin));
        hb_buffer_set_direction(buffer, (level & 1) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_guess_segment_properties(buffer);
        const bool unkerned = !(level & 1) && plainLeftToRight(text, begin, end);
        hb_shape(font, buffer, unkerned ? plain : nullptr, unkerned ? 4 : 0);
        unsigned int count = 0;
        const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
        for (unsigned int k = 0; k < count; ++k) {
            if (infos[k].codepoint == 0) {
                continue;
            }
            line.glyphs.push_back(ShapedGlyph{infos[k].codepoint, pen + float(positions[k].x_offset) / 64.0f,
                                              float(positions[k].y_offset) / 64.0f, infos[k].cluster});
            pen += float(positions[k].x_advance) / 64.0f;
        }
        v = w;
    }
    line.width = pen;
    hb_buffer_destroy(buffer);
    hb_font_destroy(font);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return line;
}

::testing::AssertionResult drawsAsHarfBuzz(cocos2d::Label* label, const std::string& font)
{
    if (!label) {
        return ::testing::AssertionFailure() << "no label";
    }
    const std::string fontFile = !font.empty() ? font
                                 : label->isSystemFont()
                                     ? cocos2d::FontAtlas::resolveSystemFont(label->getSystemFontName())
                                     : label->getTTFConfig().fontFilePath;
    const ShapedLine expected =
        shapeWithHarfBuzz(fontFile, int(label->getSystemFontSize() + 0.5f), label->getString());
    const auto drawn = label->getGlyphsForTest();
    if (label->getLineWidths().size() != 1 || std::fabs(label->getLineWidths()[0] - expected.width) > 1e-3f) {
        return ::testing::AssertionFailure()
               << "\"" << label->getString() << "\": line width "
               << (label->getLineWidths().empty() ? -1 : label->getLineWidths()[0]) << ", HarfBuzz's "
               << expected.width;
    }
    if (drawn.size() != expected.glyphs.size() || drawn.empty()) {
        return ::testing::AssertionFailure() << "\"" << label->getString() << "\": " << drawn.size()
                                             << " glyphs drawn, HarfBuzz gives " << expected.glyphs.size();
    }
    for (size_t i = 0; i < drawn.size(); ++i) {
        const auto& d = drawn[i];
        const ShapedGlyph& e = expected.glyphs[i];
        if (d.fontFile != fontFile || d.glyphIndex != e.glyphIndex || d.codePoint != e.codePoint ||
            std::fabs((d.x - drawn[0].x) - (e.x - expected.glyphs[0].x)) > 1e-3f ||
            std::fabs((d.y - drawn[0].y) - (e.y - expected.glyphs[0].y)) > 1e-3f) {
            return ::testing::AssertionFailure()
                   << "\"" << label->getString() << "\" glyph " << i << ": drawn " << d.glyphIndex << " of "
                   << d.fontFile << " (code point " << d.codePoint << ") at " << d.x - drawn[0].x << ","
                   << d.y - drawn[0].y << "; HarfBuzz " << e.glyphIndex << " of " << fontFile
                   << " (code point " << e.codePoint << ") at " << e.x - expected.glyphs[0].x << ","
                   << e.y - expected.glyphs[0].y;
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace qvtest
