// isFramePainter: turns one frame of a slice record into the pixels the image nodes upload.
//
// The CPU path (paintRGB) applies the colour table's window and colours to every pixel and
// gives tightly packed RGB888 rows, row 0 first, as the record stores them. The GPU path
// (packWords) gives the 16-bit words of the shader node's luminance-alpha texture, which the
// fragment program windows itself.
//
// For 8- and 16-bit samples the painter keeps one composite lookup table over the whole
// input domain of the pixel type (256 or 65,536 entries), stored value -> colour, so a frame
// costs one table read per pixel. The table is rebuilt only when the colour table's pixel
// type, window, curve or colours differ from those it was built from. Float samples are
// windowed per pixel. Large frames are split over the imaging worker pool.
//
// Not thread-safe: one painter per node, used on the main thread. The painter does not keep
// the colour table or the record; the bytes it returns stay valid until its next call.
#pragma once

#include "isImageTypes.h"

#include <cstdint>
#include <memory>

namespace isImageSDK {

class isClut;
struct isSliceInfo;

// Makes the colour table follow a frame's pixel type: when its type differs it takes the
// ranges of the new type (see isClut::setPixelType), and in every case its window table is
// brought up to date.
void fitClutToPixelType(isClut* clut, int pixelType);

class isFramePainter {
public:
    isFramePainter();
    ~isFramePainter();
    isFramePainter(const isFramePainter&) = delete;
    isFramePainter& operator=(const isFramePainter&) = delete;

    // The RGB888 picture of frame `frame` of the record through the colour table, width x
    // height x 3 bytes. Null, and nothing built, without a table or a record, for an empty
    // frame, a frame outside the record, a pixel type outside 0 to 4, or a loaded record
    // without pixels. RGB records are returned in place (no copy); a record whose pixels are
    // not loaded yet gives white for PT and NM, black otherwise. The colour table is fitted
    // to the pixel type first (fitClutToPixelType).
    const unsigned char* paintRGB(const isSliceInfo* record, int frame, isClut* clut);

    // The 16-bit words of frame `frame` for the shader node, width x height of them:
    // signed 16-bit + 32768; unsigned 16-bit in place; 8-bit widened; float rescaled from the
    // frame's own minimum and maximum to 0..65535 (scale and offset returned, 1 and 0 for the
    // other types). Non-finite float samples do not take part in the range; +inf gives 65535,
    // -inf and NaN give 0. A record whose pixels are not loaded gives zeros. Null for RGB (the
    // node uploads those bytes in place), for an unknown type and in the cases paintRGB
    // refuses (a colour table is not needed).
    const uint16_t* packWords(const isSliceInfo* record, int frame, float* valueScale, float* valueOffset);

    // Frees the conversion buffer and the lookup table (they are kept between calls so that
    // window drags allocate nothing).
    void releaseBuffers();

    // The colour index of a float sample under the window (level, width) and curve, as the
    // CPU path computes it. Public for the tests and the shader node's reference.
    static int floatIndex(float value, float level, float width, int curve);

private:
    struct Lookup;
    unsigned char* buffer(size_t bytes);

    std::unique_ptr<Lookup> m_lookup;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_bufferSize = 0;
};

} // namespace isImageSDK
