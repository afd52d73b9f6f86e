#include <cstdlib>
#include "2d/CCFontAtlas.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>

#include "base/ccMacros.h"
#include "renderer/CCTexture2D.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

namespace {

constexpr int kPageSize = 512;
constexpr int kPadding = 1;

FT_Library library()
{
    static FT_Library lib = [] {
        FT_Library l = nullptr;
        if (FT_Init_FreeType(&l) != 0) {
            log("FontAtlas: FreeType could not start");
            return static_cast<FT_Library>(nullptr);
        }
        return l;
    }();
    return lib;
}

bool fontconfigReady()
{
    static const bool ready = [] {
        const bool ok = FcInit() == FcTrue;
        if (ok)
            std::atexit([] { FcFini(); });
        return ok;
    }();
    return ready;
}

// The file (and face index) fontconfig matches for a pattern; "" when none.
std::string matchFont(FcPattern* pattern, int* index)
{
    std::string file;
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match) {
        FcChar8* path = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
            file = reinterpret_cast<const char*>(path);
        }
        int i = 0;
        if (index && FcPatternGetInteger(match, FC_INDEX, 0, &i) == FcResultMatch) {
            *index = i;
        }
        FcPatternDestroy(match);
    }
    return file;
}

using AtlasCache = std::map<std::string, FontAtlas*>;
// Never destroyed: atlases may outlive static destruction order; purgeCache empties it.
AtlasCache& atlasCache()
{
    static AtlasCache* cache = new AtlasCache();
    return *cache;
}

} // namespace

struct FontAtlas::Face {
    FT_Face face = nullptr;
    hb_font_t* shaping = nullptr; // holds its own reference to face
    std::string file;
    ~Face()
    {
        if (shaping) {
            hb_font_destroy(shaping);
        }
        if (face) {
            FT_Done_Face(face);
        }
    }
};

std::string FontAtlas::resolveSystemFont(const std::string& familyName)
{
    if (!fontconfigReady()) {
        return std::string();
    }
    // The pinned default first, so that metrics are the same on every machine that has it.
    const std::string family = familyName.empty() ? std::string("DejaVu Sans") : familyName;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (familyName.empty()) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    }
    std::string file = matchFont(pattern, nullptr);
    FcPatternDestroy(pattern);
    return file;
}

FontAtlas* FontAtlas::getOrCreate(const std::string& fontFile, int pixelSize)
{
    if (fontFile.empty() || pixelSize <= 0) {
        return nullptr;
    }
    const std::string key = fontFile + "#" + std::to_string(pixelSize);
    AtlasCache& cache = atlasCache();
    auto it = cache.find(key);
    if (it != cache.end()) {
        if (it->second->isCurrent()) {
            return it->second;
        }
        // Pages made for another back-end (headless, or a context that is gone).
        it->second->release();
        cache.erase(it);
    }
    FontAtlas* atlas = new (std::nothrow) FontAtlas();
    if (!atlas || !atlas->init(fontFile, pixelSize)) {
        delete atlas;
        return nullptr;
    }
    cache.emplace(key, atlas); // the cache holds the creation reference
    return atlas;
}

void FontAtlas::purgeCache(bool force)
{
    AtlasCache& cache = atlasCache();
    for (auto it = cache.begin(); it != cache.end();) {
        if (force || it->second->getReferenceCount() == 1) {
            it->second->release();
            it = cache.erase(it);
        } else {
            ++it;
        }
    }
}

FontAtlas::~FontAtlas()
{
    for (Texture2D* page : _pages) {
        page->release();
    }
}

bool FontAtlas::isCurrent() const
{
    const bool headless = !GL::isEnabled();
    if (headless != _headless) {
        return false;
    }
    return headless || _generation == GL::getContextGeneration();
}

FontAtlas::Face* FontAtlas::openFace(const std::string& file)
{
    auto it = _facesByFile.find(file);
    if (it != _facesByFile.end()) {
        return it->second;
    }
    FT_Library lib = library();
    if (!lib) {
        return nullptr;
    }
    auto face = std::make_unique<Face>();
    face->file = file;
    if (FT_New_Face(lib, file.c_str(), 0, &face->face) != 0) {
        face->face = nullptr;
        _facesByFile.emplace(file, nullptr);
        return nullptr;
    }
    if (FT_Set_Pixel_Sizes(face->face, 0, FT_UInt(_pixelSize)) != 0) {
        _facesByFile.emplace(file, nullptr);
        return nullptr;
    }
    FT_Select_Charmap(face->face, FT_ENCODING_UNICODE);
    Face* raw = face.get();
    _faces.push_back(std::move(face));
    _facesByFile.emplace(file, raw);
    return raw;
}

bool FontAtlas::init(const std::string& fontFile, int pixelSize)
{
    _fontFile = fontFile;
    _pixelSize = pixelSize;
    _headless = !GL::isEnabled();
    _generation = GL::getContextGeneration();
    Face* primary = openFace(fontFile);
    if (!primary) {
        log("FontAtlas: cannot open the font %s", fontFile.c_str());
        return false;
    }
    const FT_Size_Metrics& m = primary->face->size->metrics;
    _ascender = float(m.ascender) / 64.0f;
    _descender = float(m.descender) / 64.0f;
    _lineHeight = float(m.height) / 64.0f;
    if (_lineHeight <= 0.0f) {
        _lineHeight = _ascender - _descender;
    }
    return true;
}

int FontAtlas::faceFor(char32_t codePoint, unsigned int* glyphIndex)
{
    // The primary face, then faces opened for earlier fallbacks.
    for (size_t i = 0; i < _faces.size(); ++i) {
        *glyphIndex = FT_Get_Char_Index(_faces[i]->face, FT_ULong(codePoint));
        if (*glyphIndex != 0) {
            return int(i);
        }
    }
    if (!fontconfigReady()) {
        return -1;
    }
    FcPattern* pattern = FcPatternCreate();
    FcCharSet* charset = FcCharSetCreate();
    FcCharSetAddChar(charset, FcChar32(codePoint));
    FcPatternAddCharSet(pattern, FC_CHARSET, charset);
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    const std::string file = matchFont(pattern, nullptr);
    FcCharSetDestroy(charset);
    FcPatternDestroy(pattern);
    if (file.empty()) {
        return -1;
    }
    Face* face = openFace(file);
    if (!face) {
        return -1;
    }
    *glyphIndex = FT_Get_Char_Index(face->face, FT_ULong(codePoint));
    if (*glyphIndex == 0) {
        return -1;
    }
    for (size_t i = 0; i < _faces.size(); ++i) {
        if (_faces[i].get() == face) {
            return int(i);
        }
    }
    return -1;
}

FontAtlas::GlyphKey FontAtlas::getGlyphKey(char32_t codePoint)
{
    auto it = _keys.find(codePoint);
    if (it != _keys.end()) {
        return it->second;
    }
    unsigned int index = 0;
    const int face = faceFor(codePoint, &index);
    const GlyphKey key = face < 0 ? kNoGlyph : makeGlyphKey(unsigned(face), index);
    _keys.emplace(codePoint, key);
    return key;
}

unsigned int FontAtlas::glyphIndexIn(unsigned int face, char32_t codePoint) const
{
    return face < _faces.size() ? FT_Get_Char_Index(_faces[face]->face, FT_ULong(codePoint)) : 0;
}

const std::string& FontAtlas::getFaceFile(unsigned int face) const
{
    static const std::string none;
    return face < _faces.size() ? _faces[face]->file : none;
}

hb_font_t* FontAtlas::getShapingFont(unsigned int face)
{
    if (face >= _faces.size()) {
        return nullptr;
    }
    Face* f = _faces[face].get();
    if (!f->shaping) {
        // The face's size is set once, when it is opened; HarfBuzz reads its scale from it.
        f->shaping = hb_ft_font_create_referenced(f->face);
        hb_ft_font_set_load_flags(f->shaping, FT_LOAD_DEFAULT);
    }
    return f->shaping;
}

const FontAtlas::Glyph& FontAtlas::getGlyphByKey(GlyphKey key, bool rasterizeGlyph)
{
    auto it = _glyphs.find(key);
    if (it != _glyphs.end() && (!rasterizeGlyph || it->second.rasterized || !it->second.valid)) {
        return it->second;
    }
    Glyph& glyph = _glyphs[key];
    const unsigned int face = faceOf(key);
    const unsigned int index = glyphIndexOf(key);
    if (key == kNoGlyph || face >= _faces.size() || index == 0) {
        glyph.valid = false;
        glyph.rasterized = true;
        return glyph;
    }
    Face* f = _faces[face].get();
    if (!rasterizeGlyph) {
        if (FT_Load_Glyph(f->face, index, FT_LOAD_DEFAULT) == 0) {
            glyph.valid = true;
            glyph.advance = float(f->face->glyph->advance.x) / 64.0f;
        }
        return glyph;
    }
    if (!rasterize(glyph, f, index)) {
        glyph.valid = false;
        glyph.rasterized = true;
    }
    return glyph;
}

bool FontAtlas::addPage()
{
    std::vector<unsigned char> zeros(size_t(kPageSize) * kPageSize, 0);
    auto* page = new (std::nothrow) Texture2D();
    if (!page || !page->initWithData(zeros.data(), ssize_t(zeros.size()), Texture2D::PixelFormat::A8, kPageSize,
                                     kPageSize, Size(float(kPageSize), float(kPageSize)))) {
        delete page;
        return false;
    }
    page->setPremultipliedAlpha(true);
    _pages.push_back(page);
    _shelfX = _shelfY = _shelfHeight = 0;
    return true;
}

bool FontAtlas::rasterize(Glyph& glyph, Face* face, unsigned int glyphIndex)
{
    if (FT_Load_Glyph(face->face, glyphIndex, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
        return false;
    }
    const FT_GlyphSlot slot = face->face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.valid = true;
    glyph.rasterized = true;
    glyph.advance = float(slot->advance.x) / 64.0f;
    glyph.bearingX = float(slot->bitmap_left);
    glyph.bearingY = float(slot->bitmap_top);
    const int w = int(bitmap.width);
    const int h = int(bitmap.rows);
    glyph.width = float(w);
    glyph.height = float(h);
    if (w == 0 || h == 0 || w + kPadding > kPageSize || h + kPadding > kPageSize) {
        glyph.page = -1; // nothing to draw (a space), or too large for a page
        return true;
    }
    // Shelf packing: left to right, then a new shelf, then a new page.
    if (_pages.empty() || _shelfX + w + kPadding > kPageSize) {
        if (!_pages.empty()) {
            _shelfX = 0;
            _shelfY += _shelfHeight + kPadding;
            _shelfHeight = 0;
        }
    }
    if (_pages.empty() || _shelfY + h + kPadding > kPageSize) {
        if (!addPage()) {
            return false;
        }
    }
    _scratch.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = bitmap.buffer + std::ptrdiff_t(y) * bitmap.pitch;
        unsigned char* out = _scratch.data() + size_t(y) * size_t(w);
        if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
            for (int x = 0; x < w; ++x) {
                out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            }
        } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            std::memcpy(out, row, size_t(w));
        } else {
            std::memset(out, 0, size_t(w));
        }
    }
    Texture2D* page = _pages.back();
    page->updateWithData(_scratch.data(), _shelfX, _shelfY, w, h);
    glyph.page = int(_pages.size()) - 1;
    glyph.texRect = Rect(float(_shelfX), float(_shelfY), float(w), float(h));
    _shelfX += w + kPadding;
    _shelfHeight = std::max(_shelfHeight, h);
    return true;
}

} // namespace cocos2d
