// isImageReslice2D: samples a volume on an arbitrary plane, optionally as a thick slab of
// parallel planes combined by minimum, maximum, average or sum.
//
// The plane is given by a 4 x 4 reslice-axes matrix in the volume frame (millimetres from
// the centre of the first voxel, x along the columns, y along the rows, z along the slices):
// columns 0 and 1 are the in-plane directions of output columns and rows, column 2 the plane
// normal (the slab direction), column 3 the position of output pixel (0, 0). Setting the
// axes sizes the output so that it covers the whole volume as seen in that plane (measured
// between voxel centres) and moves column 3 to the corner of that footprint; the output's
// patient matrix is the input's volumeMatrix times the axes. Output pixels where the plane
// leaves the volume get the background value.
#pragma once

#include "isImageFilter.h"

namespace isImageSDK {

class isImageReslice2D : public isImageFilter {
public:
    static isImageReslice2D* create();

    isImageReslice2D() = default;
    ~isImageReslice2D() override = default;

    bool init() override;
    void updateInformation() override;
    using isImageFilter::setInput;
    // The base setInput; with an image: background 0 (-1024 for signed 16-bit, unchanged for
    // RGB) and identity axes.
    void setInput(isImageData* image) override;
    void execute(isImageData* input, isImageData* output) override;

    // Stores the axes (sixteen values, column-major), sizes the output and marks both flags.
    void setResliceAxes(const float m[16]);
    void setResliceAxes(const cocos2d::Mat4& axes) { setResliceAxes(axes.m); }
    // Planes combined: the largest odd count at the base step (at least 1), spread evenly over
    // the thickness; marks the data modified.
    void setSlabThickness(float millimetres);

    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }
    float getSpacingX() const { return m_spacingX; }
    float getSpacingY() const { return m_spacingY; }
    float getSlabStep() const { return m_slabStep; }
    float getBaseStep() const { return m_baseStep; }
    int getSlabCount() const { return m_slabCount; }
    float getSlabThickness() const { return m_slabThickness; }
    const cocos2d::Mat4& getResliceAxes() const { return m_resliceAxes; }
    int getInterpolation() const { return m_interpolation; }
    void setInterpolation(int mode) { m_interpolation = mode; }
    float getBackground() const { return m_background; }
    void setBackground(float value) { m_background = value; }
    int getSlabMode() const { return m_slabMode; }
    void setSlabMode(int mode) { m_slabMode = mode; }
    // False when the last cut was made before the series loader had delivered every slice:
    // slices not published yet are never read (the plane is sampled in the longest run of
    // delivered slices, the rest reads as background), and the owner makes the cut again
    // (setDataModified) as more slices arrive, until it is complete.
    bool isCutComplete() const { return m_cutComplete; }

private:
    // True when the input is a volume whose grid the reslicer can sample (positive spacings).
    bool hasSampleableVolume(int dims[3], float spacing[3]);
    void updateGeometry();
    void updateSlabCount(float millimetres);

    int m_width = 1;
    int m_height = 1;
    float m_spacingX = 1.0f;
    float m_spacingY = 1.0f;
    float m_slabStep = 1.0f;
    int m_interpolation = INTERPOLATION_LINEAR;
    cocos2d::Mat4 m_resliceAxes;
    float m_background = 0.0f;
    int m_slabMode = SLAB_MAX;
    int m_slabCount = 1;
    float m_baseStep = 1.0f;
    float m_slabThickness = 0.01f;
    bool m_cutComplete = true;
};

} // namespace isImageSDK
