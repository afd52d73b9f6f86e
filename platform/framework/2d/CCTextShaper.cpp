#include "2d/CCTextShaper.h"

#include <algorithm>
#include <iterator>

#include <fribidi.h>
#include <hb.h>

namespace cocos2d {
namespace shaping {

namespace {

// Code points that take bidi ordering or shaping, as sorted, disjoint ranges.
struct Range {
    char32_t first;
    char32_t last;
};
constexpr Range kShaped[] = {
    {0x0590, 0x08FF},   // Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic, Arabic supplements
    {0x0900, 0x0DFF},   // the Indic scripts, Devanagari to Sinhala
    {0x0E00, 0x0FFF},   // Thai, Lao, Tibetan
    {0x1000, 0x109F},   // Myanmar
    {0x1700, 0x18AF},   // Philippine scripts, Khmer, Mongolian
    {0x1900, 0x1AAF},   // Limbu, Tai Le, New Tai Lue, Buginese, Tai Tham
    {0x1B00, 0x1C4F},   // Balinese, Sundanese, Batak, Lepcha
    {0x200F, 0x200F},   // right-to-left mark
    {0x202A, 0x202E},   // bidi embeddings and overrides
    {0x2066, 0x2069},   // bidi isolates
    {0xA800, 0xAAFF},   // Syloti Nagri to Tai Viet
    {0xABC0, 0xABFF},   // Meetei Mayek
    {0xFB1D, 0xFDFF},   // Hebrew and Arabic presentation forms
    {0xFE70, 0xFEFE},   // Arabic presentation forms B
    {0x10800, 0x10FFF}, // right-to-left scripts of the supplementary plane
    {0x11000, 0x11FFF}, // Brahmi and the Indic scripts of the supplementary plane
    {0x1E800, 0x1EFFF}, // Mende Kikakui, Adlam, Arabic mathematical letters
};

bool isMarkOrJoiner(hb_unicode_funcs_t* unicode, char32_t cp)
{
    if (cp == 0x200C || cp == 0x200D) {
        return true; // zero-width non-joiner and joiner
    }
    switch (hb_unicode_general_category(unicode, cp)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
        return true;
    default:
        return false;
    }
}

bool isNeutralScript(hb_script_t script)
{
    return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN;
}

// One glyph per code point at FreeType's advance: the layout of text that needs no shaping.
void appendUnshaped(FontAtlas& atlas, const char32_t* text, Run& run)
{
    run.glyphs.reserve(run.end - run.begin);
    for (uint32_t i = run.begin; i < run.end; ++i) {
        Glyph& g = run.glyphs.emplace_back(); // filled in place: this loop is every label's layout
        g.key = atlas.getGlyphKey(text[i]);
        g.advance = atlas.getGlyphByKey(g.key, false).advance;
        g.cluster = i;
    }
}

void appendShaped(FontAtlas& atlas, hb_buffer_t* buffer, const char32_t* text, size_t paragraphBegin,
                  size_t paragraphEnd, unsigned int face, hb_script_t script, Run& run)
{
    hb_font_t* font = atlas.getShapingFont(face);
    if (!font) {
        appendUnshaped(atlas, text, run);
        return;
    }
    hb_buffer_clear_contents(buffer);
    // The whole paragraph goes in as context, so letters join across run boundaries.
    static_assert(sizeof(char32_t) == sizeof(uint32_t), "code points are 32-bit");
    hb_buffer_add_utf32(buffer, reinterpret_cast<const uint32_t*>(text + paragraphBegin),
                        int(paragraphEnd - paragraphBegin), unsigned(run.begin - paragraphBegin),
                        int(run.end - run.begin));
    hb_buffer_set_direction(buffer, (run.level & 1) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer, script);
    hb_buffer_guess_segment_properties(buffer); // the language: the locale's
    hb_shape(font, buffer, nullptr, 0);
    unsigned int count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    run.glyphs.reserve(count);
    for (unsigned int k = 0; k < count; ++k) {
        Glyph g;
        g.cluster = uint32_t(paragraphBegin + infos[k].cluster);
        // A character no face has (glyph 0) is left out, as unshaped text leaves it out.
        if (infos[k].codepoint != 0) {
            g.key = FontAtlas::makeGlyphKey(face, infos[k].codepoint);
            g.advance = float(positions[k].x_advance) / 64.0f; // 26.6 pixels
            g.offsetX = float(positions[k].x_offset) / 64.0f;
            g.offsetY = float(positions[k].y_offset) / 64.0f;
        }
        run.glyphs.push_back(g);
    }
}

} // namespace

bool needsShaping(char32_t cp)
{
    if (cp < kShaped[0].first) {
        return false; // Latin, Greek, Cyrillic, Armenian: the common case, decided at once
    }
    const Range* it = std::upper_bound(std::begin(kShaped), std::end(kShaped), cp,
                                       [](char32_t c, const Range& r) { return c < r.first; });
    return it != std::begin(kShaped) && cp <= (it - 1)->last;
}

bool needsShaping(const char32_t* text, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (needsShaping(text[i])) {
            return true;
        }
    }
    return false;
}

void shapeParagraph(FontAtlas& atlas, const char32_t* text, size_t begin, size_t end, std::vector<Run>& runs)
{
    if (end <= begin) {
        return;
    }
    if (!needsShaping(text + begin, end - begin)) {
        Run run;
        run.begin = uint32_t(begin);
        run.end = uint32_t(end);
        appendUnshaped(atlas, text, run);
        runs.push_back(std::move(run));
        return;
    }

    // Levels, by FriBidi, in a left-to-right paragraph.
    const size_t n = end - begin;
    const auto* str = reinterpret_cast<const FriBidiChar*>(text + begin);
    std::vector<FriBidiCharType> types(n);
    std::vector<FriBidiBracketType> brackets(n);
    std::vector<FriBidiLevel> levels(n, 0);
    fribidi_get_bidi_types(str, FriBidiStrIndex(n), types.data());
    fribidi_get_bracket_types(str, FriBidiStrIndex(n), types.data(), brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_LTR;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), FriBidiStrIndex(n), &direction,
                                            levels.data()) == 0) {
        std::fill(levels.begin(), levels.end(), FriBidiLevel(0));
    }
    // White space at the paragraph's end takes the paragraph's level (rule L1); a wrapped line's
    // trailing spaces are not drawn at all.
    for (size_t i = n; i-- > 0;) {
        if (!FRIBIDI_IS_EXPLICIT_OR_BN_OR_WS(types[i]) && !FRIBIDI_IS_ISOLATE(types[i])) {
            break;
        }
        levels[i] = 0;
    }

    // Script and face of each code point. Common and inherited characters (spaces, punctuation,
    // marks) take the script around them; marks and joiners stay in the face of their base
    // character when it has them.
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    std::vector<hb_script_t> scripts(n);
    std::vector<unsigned int> faces(n, 0);
    hb_script_t last = HB_SCRIPT_COMMON;
    for (size_t i = 0; i < n; ++i) {
        const char32_t cp = text[begin + i];
        hb_script_t s = hb_unicode_script(unicode, cp);
        if (isNeutralScript(s)) {
            s = last;
        }
        scripts[i] = last = s;
        const FontAtlas::GlyphKey key = atlas.getGlyphKey(cp);
        const bool attached =
            i > 0 && isMarkOrJoiner(unicode, cp) && atlas.glyphIndexIn(faces[i - 1], cp) != 0;
        if (attached || (key == FontAtlas::kNoGlyph && i > 0)) {
            faces[i] = faces[i - 1];
        } else {
            faces[i] = key == FontAtlas::kNoGlyph ? 0 : FontAtlas::faceOf(key);
        }
    }
    // Leading neutral characters take the first script that follows them.
    size_t firstScript = 0;
    while (firstScript < n && isNeutralScript(scripts[firstScript])) {
        ++firstScript;
    }
    for (size_t i = 0; i < firstScript && firstScript < n; ++i) {
        scripts[i] = scripts[firstScript];
    }

    hb_buffer_t* buffer = hb_buffer_create();
    for (size_t i = 0; i < n;) {
        size_t j = i + 1;
        while (j < n && levels[j] == levels[i] && faces[j] == faces[i] && scripts[j] == scripts[i]) {
            ++j;
        }
        Run run;
        run.begin = uint32_t(begin + i);
        run.end = uint32_t(begin + j);
        run.level = uint8_t(levels[i]);
        if ((run.level & 1) == 0 && !needsShaping(text + run.begin, j - i)) {
            appendUnshaped(atlas, text, run);
        } else {
            appendShaped(atlas, buffer, text, begin, end, faces[i], scripts[i], run);
        }
        runs.push_back(std::move(run));
        i = j;
    }
    hb_buffer_destroy(buffer);
}

void displayOrder(const Run* first, const Run* last, size_t begin, size_t end, std::vector<const Glyph*>& out)
{
    out.clear();
    if (last - first == 1 && (first->level & 1) == 0) {
        // One left-to-right run (all text without right-to-left parts): the logical order.
        for (const Glyph& g : first->glyphs) {
            if (g.cluster >= begin && g.cluster < end) {
                out.push_back(&g);
            }
        }
        return;
    }
    static std::vector<const Run*> line; // scratch (main thread only)
    line.clear();
    uint8_t highest = 0;
    uint8_t lowestOdd = 0xFF;
    for (const Run* run = first; run != last; ++run) {
        if (run->begin < end && run->end > begin) {
            line.push_back(run);
            highest = std::max(highest, run->level);
            if (run->level & 1) {
                lowestOdd = std::min(lowestOdd, run->level);
            }
        }
    }
    // From the highest level down to the lowest odd one, reverse every stretch of runs at that
    // level or above. Each run's own glyphs are already in display order.
    for (int level = highest; level >= int(lowestOdd); --level) {
        for (size_t i = 0; i < line.size();) {
            if (line[i]->level < level) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < line.size() && line[j]->level >= level) {
                ++j;
            }
            std::reverse(line.begin() + std::ptrdiff_t(i), line.begin() + std::ptrdiff_t(j));
            i = j;
        }
    }
    for (const Run* run : line) {
        for (const Glyph& g : run->glyphs) {
            if (g.cluster >= begin && g.cluster < end) {
                out.push_back(&g);
            }
        }
    }
}

} // namespace shaping
} // namespace cocos2d
