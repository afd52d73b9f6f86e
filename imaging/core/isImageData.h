// isImageData: one image series in memory, the object that flows through the pipeline.
//
// A list of slices, each with its own pixel buffer and description, and, when the slices
// form a regular stack allocated as a volume, one contiguous voxel block (slice after slice,
// row after row) that every slice points into. Lengths are millimetres in patient space;
// volumeMatrix maps (column * spacing x, row * spacing y, slice * spacing z) to patient
// space, so slice k lies at volumeMatrix * translation(0, 0, k * spacing z).
//
// Accessors pull the producing filter: geometry accessors run updateInformation(), pixel
// accessors run update(). The container has no lock; the series loader fills pixels from its
// thread under its own lock.
#pragma once

#include "isFilterObject.h"
#include "isSliceInfo.h"

#include <string>
#include <vector>

namespace isImageSDK {

class isImageData : public isFilterObject {
public:
    static isImageData* create();

    isImageData() = default;
    ~isImageData() override;

    // The base clear, then releaseData().
    void clear() override;
    // Tag -1, no producer, flags clear, then resetGeometry().
    bool init() override;
    // An image has no output.
    isFilterObject* getOutput() override { return nullptr; }
    void createOutput() override {}

    // Frees the pixel buffers (or the voxel block) and the slice records.
    void releaseData();
    // Back to empty geometry: identity matrices, spacing 1, no slices (records are not freed:
    // call releaseData() first).
    void resetGeometry();

    // Appends a slice with a new, cleared buffer of size[0] x size[1] x frames pixels.
    // Returns null, and posts the low-memory notification, when the buffer would be 607,376,096
    // bytes or more (its size computed without overflow) or cannot be allocated.
    isSliceInfo* addSlice(const int size[2], short frames, const float spacing[2], int pixelType, int posture,
                          int headFeet, const cocos2d::Mat4& matrix);
    // addSlice() with the geometry of `source`, then its description, its pixels (zero when it
    // has none) and its loaded flag.
    isSliceInfo* addSliceCopy(const isSliceInfo* source);
    // Replaces the content with dims[2] cleared slices; a stack of two or more shares one
    // voxel block when it is below the single-block limit, otherwise every slice has its own
    // buffer (a volume with no voxel block). False when dims[2] < 1 or a buffer fails.
    bool allocateVolume(const int dims[3], const float spacing[3], int pixelType, int posture, int headFeet,
                        const cocos2d::Mat4& matrix);

    // The slice at index after update(), or null out of range.
    isSliceInfo* getSlice(int index);
    // The voxel block after update(); null when not a volume or stored as separate slices.
    void* getVoxelPointer();
    void getVoxelSpacing(float out[3]);
    void getDimensions(int out[3]);
    bool isVolume();
    // True when the first slice is MONOCHROME1.
    bool isMonochrome1();
    // The first slice's default window; outputs untouched without slices.
    void getDefaultWindow(float* width, float* center);

    std::string getFileNames() const { return m_fileNames; }
    void setFileNames(const std::string& names) { m_fileNames = names; }
    void setInfoJson(const std::string& json) { m_infoJson = json; }
    const std::string* getInfoJson() const { return &m_infoJson; }

    // Plain field reads, without pulling the pipeline.
    int getSliceCount() const { return static_cast<int>(m_slices.size()); }
    const std::vector<isSliceInfo*>& getSlices() const { return m_slices; }
    int getPixelType() const { return m_pixelType; }
    int getPosture() const { return m_posture; }
    int getHeadFeet() const { return m_headFeet; }
    bool hasSlices() const { return m_hasSlices; }
    bool getSlicesShareVoxels() const { return m_slicesShareVoxels; }
    const cocos2d::Mat4& getImageMatrix() const { return m_imageMatrix; }
    const cocos2d::Mat4& getAuxMatrix() const { return m_auxMatrix; }
    const cocos2d::Mat4& getVolumeMatrix() const { return m_volumeMatrix; }
    // Raised whenever slice records are freed or rebuilt, so that holders of a record pointer
    // can tell that it is stale.
    unsigned int getGeneration() const { return m_generation; }

private:
    void freeVoxels();
    // The series-wide fields set by addSlice and allocateVolume.
    void setSeries(int pixelType, int posture, int headFeet, const cocos2d::Mat4& matrix);

    cocos2d::Mat4 m_imageMatrix;
    cocos2d::Mat4 m_auxMatrix;
    cocos2d::Mat4 m_volumeMatrix;
    unsigned char* m_voxels = nullptr;
    float m_spacing[3] = {1, 1, 1};
    int m_dimensions[3] = {0, 0, 0};
    bool m_volume = false;
    bool m_slicesShareVoxels = false;
    bool m_hasSlices = false;
    int m_posture = 0;
    int m_headFeet = 0;
    int m_pixelType = PIXEL_I16;
    std::vector<isSliceInfo*> m_slices;
    std::string m_fileNames;
    std::string m_infoJson;
    unsigned int m_generation = 0;
};

} // namespace isImageSDK
