// FontAtlas: the glyphs of one font file at one pixel size, rasterised by FreeType into alpha
// (A8) atlas pages.
//
// Metrics come without GL and without rasterising (advances, line height), so labels can be laid
// out headless and cheaply. Bitmaps are rasterised on first draw and copied into 512 x 512 pages
// (sub-image updates). A code point the font lacks is taken from fontconfig's best face for it
// (per glyph), so that CJK texts render with a Latin primary font.
//
// Glyphs are kept per face and glyph index (GlyphKey): a label either maps code points to glyphs
// itself (getGlyphKey) or takes the glyph indices a shaper chose in one of the atlas's faces
// (getShapingFont, makeGlyphKey). Both meet in one cache, so a glyph is rasterised once.
//
// Font files: a system font name is resolved through fontconfig ("" means the default sans-serif
// face, DejaVu Sans where installed); a TTF path is opened as is.
//
// Main thread only (FreeType's library object is not shared across threads).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/CCRef.h"
#include "math/CCGeometry.h"

struct hb_font_t;

namespace cocos2d {

class Texture2D;

class FontAtlas : public Ref {
public:
    struct Glyph {
        bool valid = false;      // a glyph of some face, loaded
        float advance = 0.0f;    // pixels
        bool rasterized = false;
        int page = -1;           // atlas page; -1 for glyphs without pixels (spaces)
        Rect texRect;            // pixels within the page, origin top-left
        float bearingX = 0.0f;   // left edge relative to the pen position
        float bearingY = 0.0f;   // top edge relative to the baseline (up positive)
        float width = 0.0f;
        float height = 0.0f;
    };

    // The atlas of a font file at a pixel size, shared; null when the file cannot be opened.
    static FontAtlas* getOrCreate(const std::string& fontFile, int pixelSize);
    // Drops every shared atlas that nothing else holds (and all of them when force is set).
    static void purgeCache(bool force);

    // The file of the system font with that family name ("" = the default face); "" when
    // fontconfig finds nothing.
    static std::string resolveSystemFont(const std::string& familyName);

    // A glyph of one of the atlas's faces: the face's position in the atlas (0 is the primary
    // face; fallback faces follow in the order they were first needed) and the glyph index in it.
    using GlyphKey = std::uint64_t;
    static constexpr GlyphKey kNoGlyph = ~GlyphKey(0);
    static GlyphKey makeGlyphKey(unsigned int face, unsigned int glyphIndex)
    {
        return (GlyphKey(face) << 32) | glyphIndex;
    }
    static unsigned int faceOf(GlyphKey key) { return unsigned(key >> 32); }
    static unsigned int glyphIndexOf(GlyphKey key) { return unsigned(key & 0xFFFFFFFFu); }

    // The glyph drawn for a code point: the primary face's, else that of the first face that has
    // one (faces opened for earlier fallbacks, then fontconfig's best face for the character);
    // kNoGlyph when no face has it.
    GlyphKey getGlyphKey(char32_t codePoint);
    // The glyph index of a code point in one face (0 when the face lacks it).
    unsigned int glyphIndexIn(unsigned int face, char32_t codePoint) const;
    // Metrics of a glyph (rasterising it when asked); the atlas keeps the result. kNoGlyph and
    // glyphs that cannot be loaded give an invalid glyph (no advance, nothing drawn).
    const Glyph& getGlyphByKey(GlyphKey key, bool rasterize);
    // The same for the glyph of a code point.
    const Glyph& getGlyph(char32_t codePoint, bool rasterize)
    {
        return getGlyphByKey(getGlyphKey(codePoint), rasterize);
    }

    // HarfBuzz's font over a face, at the atlas's pixel size, made on first use and owned by the
    // atlas (null for an unknown face). Its advances are FreeType's hinted ones (FT_LOAD_DEFAULT),
    // the same that getGlyph gives, so shaped and unshaped text space alike.
    hb_font_t* getShapingFont(unsigned int face);
    // The file of one of the atlas's faces ("" for an unknown face).
    const std::string& getFaceFile(unsigned int face) const;

    float getLineHeight() const { return _lineHeight; }
    float getAscender() const { return _ascender; }
    float getDescender() const { return _descender; }
    int getPixelSize() const { return _pixelSize; }
    const std::string& getFontFile() const { return _fontFile; }

    size_t getPageCount() const { return _pages.size(); }
    Texture2D* getPage(size_t index) const { return _pages[index]; }

    // True when the pages belong to the current back-end (GL context generation or headless).
    bool isCurrent() const;

private:
    struct Face;

    FontAtlas() = default;
    ~FontAtlas() override;
    bool init(const std::string& fontFile, int pixelSize);
    // The face (index into _faces) holding the glyph of a code point; -1 when none does.
    int faceFor(char32_t codePoint, unsigned int* glyphIndex);
    Face* openFace(const std::string& file);
    bool rasterize(Glyph& glyph, Face* face, unsigned int glyphIndex);
    bool addPage();

    std::string _fontFile;
    int _pixelSize = 0;
    float _lineHeight = 0.0f;
    float _ascender = 0.0f;
    float _descender = 0.0f;
    std::vector<std::unique_ptr<Face>> _faces; // [0] is the primary face
    std::unordered_map<std::string, Face*> _facesByFile;
    std::unordered_map<char32_t, GlyphKey> _keys;
    std::unordered_map<GlyphKey, Glyph> _glyphs;
    std::vector<Texture2D*> _pages; // retained
    int _shelfX = 0;
    int _shelfY = 0;
    int _shelfHeight = 0;
    std::vector<unsigned char> _scratch;
    unsigned int _generation = 0;
    bool _headless = true;
};

} // namespace cocos2d
