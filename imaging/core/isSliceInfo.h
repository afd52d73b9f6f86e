// isSliceInfo: one slice of an image series, its pixel buffer and its DICOM-derived
// description. A plain record owned by isImageData; the DICOM reader and the series loader
// fill it.
#pragma once

#include "cocos2d.h"
#include "isImageTypes.h"

#include <string>

namespace isImageSDK {

struct isSliceInfo {
    // columns x rows x frames x bytes-per-pixel bytes, owned by the image (or pointing into
    // its voxel block).
    unsigned char* pixels = nullptr;
    int columns = 0;
    int rows = 0;
    float spacingX = 1.0f;  // millimetres between columns
    float spacingY = 1.0f;  // millimetres between rows
    // 0 when the file gave no Pixel Spacing (0028,0030) and the two above are 1 mm defaults:
    // lengths on the slice are then known in pixels only. Imager Pixel Spacing (at the detector,
    // not at the patient) and the spacing inside an enhanced file's functional groups are not
    // read, so such files count as without spacing too.
    unsigned char pixelSpacingPresent = 1;
    unsigned short frames = 1;
    int pixelType = PIXEL_U8;
    // 0 supine, 1 prone, 2 decubitus right, 3 decubitus left.
    int posture = 0;
    // 0 head first, 1 feet first, 2 a patient position that is none of the eight.
    int headFeet = 0;
    // Image-to-patient matrix (millimetres): column 0 the row direction, column 1 the column
    // direction, column 2 the slice normal, column 3 the position of the first pixel. A pixel
    // (c, r) lies at matrix * (c * spacingX, r * spacingY, 0, 1).
    cocos2d::Mat4 matrix;
    unsigned char geometryValid = 1;
    std::string filePath;
    int modality = MODALITY_OTHER;
    float rescaleIntercept = 0.0f;
    float rescaleSlope = 1.0f;
    float windowWidth = 255.0f;
    float windowCenter = 128.0f;
    // 0 when the file carried no window and the two above are defaults: a viewer then starts
    // from the range of the pixels instead.
    unsigned char windowPresent = 1;
    // 0 or 2: samples are unsigned; 2 or more: the photometric interpretation is MONOCHROME1.
    int representation = 1;
    int reserved = 0;
    // 0 while the pixels are still to be read by the series loader. The loader fills the
    // pixels on its own thread and then sets the flag through markLoaded(); another thread may
    // read the pixels only after isLoaded() said yes (release and acquire order the two).
    unsigned char pixelsLoaded = 1;
    bool isLoaded() const { return __atomic_load_n(&pixelsLoaded, __ATOMIC_ACQUIRE) != 0; }
    void markLoaded() { __atomic_store_n(&pixelsLoaded, static_cast<unsigned char>(1), __ATOMIC_RELEASE); }
    // Year, month, day, hour, minute, second.
    int acquisitionTime[6] = {1900, 1, 1, 0, 0, 0};
    // The radiopharmaceutical start date and time (PET).
    int startTime[6] = {1900, 1, 1, 0, 0, 0};
    unsigned char suvValid = 0;
    float halfLife = 0.0f;
    int decayCorrection = 0;
    float decayFactor = 0.0f;
    unsigned short sex = 3;
    int units = 3;
    float totalDose = -1.0f;
    float patientWeight = -1.0f;
    float patientSize = -1.0f;
    float suvScaleFactor = 0.0f;
    std::string scanOptions;
    // The first holds the PET trigger time; the others are unused.
    unsigned short extraValues[5] = {0, 0, 0, 0, 0};

    // Copies every descriptive field of another record: file path, modality, reserved,
    // window, whether the spacing was given, posture codes, rescale, representation, both
    // date-times and every field after them. Pixels, size, spacing, frames, pixel type, matrix
    // and the loaded flag stay.
    void copyInfo(const isSliceInfo& source);
};

// Copies the six integers of a date-time.
void copyDateTime(int destination[6], const int source[6]);

} // namespace isImageSDK
