// isClut: the two-step colour mapping of an image.
//
// A window table maps every stored value of the image's pixel type to an 8-bit index,
// shaped by the window width and level (in stored-value units) and a linear, logarithmic or
// inverse-logarithmic curve; a table of 256 RGBA colours maps that index to a colour. The
// colour of stored value v is colors[windowTable[v - inputMin]]. Float images get no window
// table: their nodes window them from width and level directly.
//
// Every window change is announced for the overlay text (notification 9072, context =
// the render window the owning actor set).
#pragma once

#include "isObject.h"
#include "isImageTypes.h"

#include <cstdint>

namespace isImageSDK {

class isClut : public isObject {
public:
    static isClut* create();

    isClut() = default;
    ~isClut() override;

    // Grey ramp colours, linear curve, width 255, level 128, 8-bit ranges; builds the table.
    bool init() override;
    // Frees both tables.
    void clear() override;

    // The 256 colours as R, G, B bytes in entry order.
    void getRGBTable(unsigned char out[768]) const;
    // Float images keep the values as given; the others use setWindowInt on the truncated
    // values. Announces the window either way; a colour (RGB) table, which no window applies
    // to, keeps the values and announces an empty window.
    void setWindow(float width, float level);
    // Stores and marks the table dirty when a value moved by 0.01 or more (rebuilding at once
    // with autoUpdate); announces the window whether or not it changed.
    void setWindowInt(int width, int level);
    // Rebuilds the window table when dirty.
    void updateTable();

    // Selects the ranges of a pixel type (see the table in the source) and marks the table
    // dirty, rebuilding it at once with autoUpdate.
    void setPixelType(int pixelType);
    int getPixelType() const { return m_pixelType; }
    // Changing the curve marks the table dirty and rebuilds it with autoUpdate.
    void setCurve(int curve);
    int getCurve() const { return m_curve; }
    // Entry i as (red << 24) | (green << 16) | (blue << 8) | alpha.
    void setColor(int index, uint32_t rgba);
    uint32_t getColor(int index) const { return index >= 0 && index < 256 ? m_colors[index] : 0; }
    const uint32_t* getColors() const { return m_colors; }

    const unsigned char* getWindowTable() const { return m_windowTable; }
    int getTableSize() const { return m_tableSize; }
    int getInputMin() const { return m_inputMin; }
    int getInputMax() const { return m_inputMax; }
    float getWidth() const { return m_width; }
    float getLevel() const { return m_level; }
    bool isDirty() const { return m_dirty; }
    void setDirty() { m_dirty = true; }
    bool getAutoUpdate() const { return m_autoUpdate; }
    void setAutoUpdate(bool on) { m_autoUpdate = on; }
    void* getContext() const { return m_context; }
    void setContext(void* context) { m_context = context; }

    // The 8-bit index of a stored value (clamped into the table's range); 0 without a table.
    unsigned char indexOf(int storedValue) const;

private:
    int m_pixelType = PIXEL_U8;
    unsigned char* m_windowTable = nullptr;
    int m_allocatedSize = 0;  // entries m_windowTable holds
    int m_tableSize = 256;
    int m_outputMax = 255;
    int m_outputMin = 0;
    int m_inputMax = 255;
    int m_inputMin = 0;
    float m_level = 128.0f;
    float m_width = 255.0f;
    uint32_t* m_colors = nullptr;
    bool m_dirty = true;
    bool m_autoUpdate = true;
    void* m_context = nullptr;
    int m_curve = WINDOW_LINEAR;
};

} // namespace isImageSDK
