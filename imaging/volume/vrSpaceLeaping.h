// Empty-space skipping for the volume renderer: a grid of 4 x 4 x 4 voxel blocks holding the
// largest voxel value of each block. Blocks whose maximum lies below the threshold (the
// window's lower bound) contribute nothing to a frame and are stepped over; the box of the
// blocks that reach it bounds every composite and maximum ray.
//
// Two variants read the volume as its own sample type: vrSpaceLeaping for the integer types
// (unsigned 8-bit, signed and unsigned 16-bit; maxima kept as 32-bit integers so that every
// one of them fits) and vrSpaceLeapingFloat for 32-bit float volumes.
//
// Besides the block maxima the grid keeps "reach" maxima: the largest value a trilinear sample
// whose base voxel lies in the block can see (the block and its neighbours one block up on
// each axis). The workers skip by them, so skipping never changes a pixel.
//
// Block (i, j, k) covers voxels 4i..4i+3, 4j..4j+3, 4k..4k+3; its index is
// (k * by + j) * bx + i. Coordinates of the bounding box are voxel indices.
//
// One grid belongs to one engine and is used by one render (and its workers) at a time.
#pragma once

#include "vrTypes.h"

#include <cstdint>
#include <vector>

namespace isImageSDK {

class vrSpaceLeapingBase {
public:
    enum Kind { KindInteger = 1, KindFloat = 2 };

    virtual ~vrSpaceLeapingBase() = default;

    // Sizes the grid for the volume (not owned), marks every block unset and clears the built
    // flag; the box becomes the whole volume.
    virtual void setVolume(const vrVolumeDescriptor* volume) = 0;
    // One pass over the volume; nothing when already built or without a volume.
    virtual void build() = 0;
    // Integer threshold (the window's lower bound, truncated); the float grid ignores it.
    virtual void setThreshold(int threshold) = 0;
    // The float grid's threshold; the integer grid ignores it.
    virtual void setThreshold(float threshold) = 0;
    // True when the block of ((int)((x + 0.5) / 4), ...) has a maximum below the threshold
    // (and for points outside the volume).
    virtual bool isEmpty(const float point[3]) const = 0;

    // min x, max x, min y, max y, min z, max z (voxel indices); inverted (min above max) when no
    // block reaches the threshold.
    const float* bounds() const { return m_box; }
    void copyBounds(float out[6]) const;

    int kind() const { return m_kind; }
    bool isBuilt() const { return m_built; }
    int blocksX() const { return m_bx; }
    int blocksY() const { return m_by; }
    int blocksZ() const { return m_bz; }
    int blocksPerSlice() const { return m_bxy; }
    int blockSize() const { return m_blockSize; }
    const vrVolumeDescriptor* volume() const { return m_volume; }

protected:
    explicit vrSpaceLeapingBase(int kind) : m_kind(kind) {}
    // Sizes the grid from the volume; false without a usable volume.
    bool sizeFor(const vrVolumeDescriptor* volume);
    // Box of the blocks for which occupied(index) holds.
    template <class Occupied>
    void computeBox(Occupied occupied);

    int m_kind;
    int m_bxy = 0, m_bx = 0, m_by = 0, m_bz = 0;
    float m_inverseBlock = 0.25f;
    bool m_built = false;
    const vrVolumeDescriptor* m_volume = nullptr;
    int m_blockSize = 4;
    float m_box[6] = {0, 0, 0, 0, 0, 0};
};

// What both variants share: block maxima and reach of one value type, and the threshold.
template <class V>
class vrSpaceLeapingGrid : public vrSpaceLeapingBase {
public:
    using Value = V;

    void setVolume(const vrVolumeDescriptor* volume) override;
    bool isEmpty(const float point[3]) const override;

    Value threshold() const { return m_threshold; }
    const Value* maxima() const { return m_maxima.data(); }
    const Value* reach() const { return m_reach.data(); }

protected:
    vrSpaceLeapingGrid(int kind, Value unset, Value threshold) : vrSpaceLeapingBase(kind), m_unset(unset), m_threshold(threshold) {}
    // Block maxima of the voxels (read as T), then the reach; sets the built flag and the box.
    template <class T>
    void buildFrom(const T* voxels);
    // Stores the threshold and recomputes the box (when built); nothing when unchanged.
    void changeThreshold(Value threshold);
    void recomputeBox();

    Value m_unset;
    Value m_threshold;
    std::vector<Value> m_maxima;
    std::vector<Value> m_reach;
};

// Integer volumes (u8, i16, u16).
class vrSpaceLeaping : public vrSpaceLeapingGrid<int32_t> {
public:
    // Marker of a block before the build.
    static constexpr Value kUnset = -32700;

    vrSpaceLeaping() : vrSpaceLeapingGrid(KindInteger, kUnset, 200) {}

    void build() override;
    void setThreshold(int threshold) override { changeThreshold(threshold); }
    void setThreshold(float) override {}
};

// 32-bit float volumes. The threshold is kept as a float: a truncated negative bound would cut
// blocks that lie just above it.
class vrSpaceLeapingFloat : public vrSpaceLeapingGrid<float> {
public:
    static constexpr Value kUnset = -1e8f;

    vrSpaceLeapingFloat() : vrSpaceLeapingGrid(KindFloat, kUnset, 200.0f) {}

    // Also requires a float volume.
    void build() override;
    void setThreshold(int) override {}
    void setThreshold(float threshold) override { changeThreshold(threshold); }
};

} // namespace isImageSDK
