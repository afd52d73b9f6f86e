// isImagePlane: cuts one plane out of a series along one axis of its voxel grid, optionally
// as a thick slab that combines neighbouring planes by minimum, maximum, average or sum.
//
// Axis 0 gives the plane as acquired (slice `index`); axis 1 the plane of constant column
// (plane `index` is column columns - 1 - index; output columns run along the slices, rows
// along the rows); axis 2 the plane of constant row (output columns along the slices, rows
// along the columns). The output holds exactly one slice whose matrix places it in patient
// space. A series that is not a volume only has axis-0 planes.
//
// The owner writes axis, index and slab mode through the setters and marks the filter
// modified (setModified / setDataModified) when it changes them.
#pragma once

#include "isImageFilter.h"

namespace isImageSDK {

class isImagePlane : public isImageFilter {
public:
    static isImagePlane* create();

    isImagePlane() = default;
    ~isImagePlane() override = default;

    bool init() override;
    void updateInformation() override;
    using isImageFilter::setInput;
    // The base setInput, then index 0.
    void setInput(isImageData* image) override;
    void execute(isImageData* input, isImageData* output) override;

    // Planes along the axis: slices (axis 0), columns (axis 1) or rows (axis 2); -1 without input.
    int getSliceCount();
    // The plane that holds a patient point (millimetres); -1 without input or when the point
    // cannot be placed (a zero spacing, a point at infinity).
    int getSliceIndexOfPoint(double x, double y, double z);
    // The same for any series and axis: the plane of `data` along `axis` (PLANE_ACQUIRED,
    // PLANE_REFORMAT1 or PLANE_REFORMAT2) nearest a patient point, halves rounded up in the
    // plane count, not clamped to the planes there are; -1 where it cannot be placed.
    static int sliceIndexOfPoint(isImageData* data, int axis, double x, double y, double z);
    // Planes combined: the largest odd count whose planes fit in the thickness (at least 1);
    // marks the data modified when it changes.
    void setSlabThickness(double millimetres);

    int getSlabCount() const { return m_slabCount; }
    int getSlabMode() const { return m_slabMode; }
    void setSlabMode(int mode) { m_slabMode = mode; }
    int getAxis() const { return m_axis; }
    void setAxis(int axis) { m_axis = axis; }
    int getIndex() const { return m_index; }
    void setIndex(int index) { m_index = index; }
    // False when the last cut read slices the series loader had not delivered yet (they read as
    // black): the owner makes it again (setDataModified) as more slices arrive, until it is
    // complete. Slices are read only once the loader has published them.
    bool isCutComplete() const { return m_cutComplete; }

private:
    int m_slabCount = 1;
    int m_slabMode = SLAB_MAX;
    int m_axis = PLANE_ACQUIRED;
    int m_index = -1;
    bool m_cutComplete = true;
};

} // namespace isImageSDK
