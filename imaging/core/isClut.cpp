#include "isClut.h"

#include "isNotify.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace isImageSDK {

namespace {

// Truncation toward zero of a double into int, saturated; NaN gives 0. Windows typed by the
// user or dragged far off can exceed the int range.
int truncToInt(double v)
{
    if (!(v == v))
        return 0;
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

std::string format(const char* fmt, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

std::string format(int v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%i", v);
    return text;
}

} // namespace

isClut* isClut::create()
{
    return createAutoreleased<isClut>();
}

isClut::~isClut()
{
    isClut::clear();
}

void isClut::clear()
{
    std::free(m_colors);
    m_colors = nullptr;
    std::free(m_windowTable);
    m_windowTable = nullptr;
    m_allocatedSize = 0;
}

bool isClut::init()
{
    isObject::init();
    clear();
    m_colors = static_cast<uint32_t*>(std::malloc(256 * sizeof(uint32_t)));
    if (!m_colors)
        return false;
    for (uint32_t i = 0; i < 256; ++i)
        m_colors[i] = (i << 24) | (i << 16) | (i << 8) | 255u;
    m_pixelType = PIXEL_U8;
    m_tableSize = 256;
    m_outputMax = 255;
    m_outputMin = 0;
    m_inputMax = 255;
    m_inputMin = 0;
    m_level = 128.0f;
    m_width = 255.0f;
    m_dirty = true;
    m_autoUpdate = true;
    m_context = nullptr;
    m_curve = WINDOW_LINEAR;
    updateTable();
    return true;
}

void isClut::getRGBTable(unsigned char out[768]) const
{
    for (int i = 0; i < 256; ++i) {
        const uint32_t c = m_colors ? m_colors[i] : 0;
        out[i * 3 + 0] = static_cast<unsigned char>(c >> 24);
        out[i * 3 + 1] = static_cast<unsigned char>(c >> 16);
        out[i * 3 + 2] = static_cast<unsigned char>(c >> 8);
    }
}

void isClut::setWindow(float width, float level)
{
    if (m_pixelType == PIXEL_RGB) {
        // Colour samples are drawn as they are: the window is kept for a later grey image, and
        // the corner shows none.
        m_width = width;
        m_level = level;
        notify::windowChanged(this, m_context, "", "", true);
        return;
    }
    if (m_pixelType == PIXEL_FLOAT) {
        m_width = width;
        m_level = level;
        notify::windowChanged(this, m_context, format("%.1f", width), format("%.1f", level), true);
        return;
    }
    setWindowInt(truncToInt(width), truncToInt(level));
}

void isClut::setWindowInt(int width, int level)
{
    if (std::fabs(static_cast<float>(level) - m_level) >= 0.01f || std::fabs(static_cast<float>(width) - m_width) >= 0.01f) {
        m_level = static_cast<float>(level);
        m_width = static_cast<float>(width);
        m_dirty = true;
        if (m_autoUpdate)
            updateTable();
    }
    if (m_pixelType == PIXEL_RGB)
        notify::windowChanged(this, m_context, "", "", false);
    else
        notify::windowChanged(this, m_context, format(width), format(level), false);
}

void isClut::setPixelType(int pixelType)
{
    m_pixelType = pixelType;
    if (pixelType == PIXEL_U8) {
        m_inputMin = 0, m_inputMax = 255, m_tableSize = 256;
    } else if (pixelType == PIXEL_I16) {
        m_inputMin = -32768, m_inputMax = 32767, m_tableSize = 65536;
    } else {
        m_inputMin = 0, m_inputMax = 65535, m_tableSize = 65536;
    }
    m_dirty = true;
    if (m_autoUpdate)
        updateTable();
}

void isClut::setCurve(int curve)
{
    if (curve == m_curve)
        return;
    m_curve = curve;
    m_dirty = true;
    if (m_autoUpdate)
        updateTable();
}

void isClut::setColor(int index, uint32_t rgba)
{
    if (m_colors && index >= 0 && index < 256)
        m_colors[index] = rgba;
}

unsigned char isClut::indexOf(int storedValue) const
{
    if (!m_windowTable || m_pixelType == PIXEL_FLOAT)
        return 0;
    const int v = std::min(std::max(storedValue, m_inputMin), m_inputMax);
    const long long i = static_cast<long long>(v) - m_inputMin;
    return i < m_tableSize ? m_windowTable[i] : 0;
}

void isClut::updateTable()
{
    if (!m_dirty)
        return;
    // The table is made again only when its size changes; a new window refills it in place.
    if (!m_windowTable || m_allocatedSize != m_tableSize) {
        std::free(m_windowTable);
        m_windowTable = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(m_tableSize), 1));
        m_allocatedSize = m_windowTable ? m_tableSize : 0;
        if (!m_windowTable)
            return;
    }
    // Float images are windowed by their nodes from width and level: nothing to build.
    if (m_pixelType == PIXEL_FLOAT) {
        m_dirty = false;
        return;
    }

    // The window's stored-value bounds, as the window gives them: the ramp runs from lo to hi
    // even where they lie outside the stored range (a window wider than an 8-bit image greys
    // its whole range down), and only the table indices written are clipped to the table.
    long long lo = truncToInt(static_cast<double>(m_level) - static_cast<double>(m_width) * 0.5);
    long long hi = truncToInt(static_cast<double>(m_level) + static_cast<double>(m_width) * 0.5);
    if (hi <= lo)
        hi = lo + 1;

    const long long size = m_tableSize;
    const long long loIndex = lo - m_inputMin;  // may lie before or past the table
    const long long hiIndex = hi - m_inputMin;
    unsigned char* table = m_windowTable;

    if (loIndex > 0)
        std::memset(table, 0, static_cast<size_t>(std::min(loIndex, size)));
    if (hiIndex + 1 < size)
        std::memset(table + std::max(0LL, hiIndex + 1), 255, static_cast<size_t>(size - std::max(0LL, hiIndex + 1)));

    // The values lo + i of the window, i from first to last, are those with an index in the table.
    const long long n = hi - lo;
    const long long first = std::max(0LL, -loIndex);
    const long long last = std::min(n, size - 1 - loIndex);
    if (m_curve == WINDOW_LOG || m_curve == WINDOW_INVERSE_LOG) {
        const float k = static_cast<float>(9.0 / static_cast<double>(n));
        for (long long i = first; i <= last; ++i) {
            int entry;
            if (m_curve == WINDOW_LOG) {
                entry = static_cast<int>(std::log10(static_cast<float>(i) * k + 1.0f) * 255.0f);
            } else {
                const float j = static_cast<float>(n - i);
                entry = static_cast<int>((1.0 - static_cast<double>(std::log10(j * k + 1.0f))) * 255.0);
            }
            table[loIndex + i] = static_cast<unsigned char>(std::min(255, std::max(0, entry)));
        }
    } else {
        const double slope = static_cast<double>(m_outputMax - m_outputMin) / static_cast<double>(n);
        const double intercept =
            (static_cast<double>(m_outputMin) * static_cast<double>(hi) - static_cast<double>(m_outputMax) * static_cast<double>(lo)) /
            static_cast<double>(n);
        for (long long i = first; i <= last; ++i) {
            const double x = static_cast<double>(lo + i);
            const int entry = truncToInt(x * slope + intercept);
            table[loIndex + i] = static_cast<unsigned char>(std::min(255, std::max(0, entry)));
        }
    }
    m_dirty = false;
}

} // namespace isImageSDK
