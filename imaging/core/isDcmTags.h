// The tags of one DICOM image that both the file reader (isDcmReader) and the folder scan
// (isDcmScan) turn into a slice description, read from an open redIRI::dcmReader with the rules
// of isDcmRules. Where the two differ, the TagRules argument says whose rules apply.
#pragma once

#include "cocos2d.h"
#include "dcmLib.h"
#include "isImageTypes.h"

#include <string>

namespace isImageSDK {

// Every text read from a file goes through a buffer of this size.
constexpr int kTagTextSize = 1024;

// The framework's current language as the decoder wants it (english when no application runs).
int decoderLanguage();

// The value of a tag as text; false when the tag is absent.
bool readTagText(redIRI::dcmReader& reader, unsigned short group, unsigned short element,
                 char (&buffer)[kTagTextSize]);

struct DicomImageTags {
    int modality = MODALITY_OTHER;
    int posture = 0;
    int headFeet = 0;
    // 1 when position, orientation and patient position all came from the file.
    unsigned char geometryValid = 1;
    // Numbers found in Image Position (Patient) and Image Orientation (Patient); only 3 and 6
    // are usable, anything else leaves the defaults below.
    int positionCount = 0;
    int orientationCount = 0;
    double position[3] = {0, 0, 0};
    double orientation[6] = {1, 0, 0, 0, 1, 0};
    int columns = 0;
    int rows = 0;
    int frames = 1;
    float spacingX = 1.0f;  // column spacing, mm
    float spacingY = 1.0f;  // row spacing, mm
    unsigned char pixelSpacingPresent = 1;
    cocos2d::Mat4 matrix;  // display frame, see displayFrameMatrix
    bool sexPresent = false;
    int sex = 3;  // 1 M, 2 F, 3 other
    bool weightPresent = false;
    float weight = 0.0f;  // kg
    bool sizePresent = false;
    float size = 0.0f;  // m
    std::string scanOptions;        // CT, at most 9 bytes
    unsigned short triggerTime = 0; // (0018,1060), PET
    int bitsAllocated = 8;
    float rescaleIntercept = 0.0f;
    float rescaleSlope = 1.0f;
    int representation = 0;
    float windowCenter = 128.0f;
    float windowWidth = 255.0f;
    // False when the file carries no window (0028,1050/1051) and the two above are defaults.
    bool windowPresent = true;
    // PET inputs of standardized uptake values (read only for PT).
    unsigned char suvValid = 0;
    float decayFactor = 0.0f;
    int decayCorrection = 4;
    float totalDose = 0.0f;  // Bq
    float suvScaleFactor = 0.0f;
    float halfLife = 0.0f;  // s
    int units = 3;
    // Filled only for PT; the caller sets the starting values.
    int acquisitionTime[6] = {0, 0, 0, 0, 0, 0};
    int startTime[6] = {0, 0, 0, 0, 0, 0};
};

enum TagRules {
    // The file reader: an unknown patient position, or none outside CT, PT and MR, makes the
    // geometry invalid.
    TAG_RULES_READER,
    // The folder scan: the patient position never touches geometryValid.
    TAG_RULES_SCAN,
};

// Reads modality, patient position, position, orientation, size, frames, spacing, the display
// frame matrix, sex, weight, size, scan options (CT), trigger time (PT), bits allocated,
// rescale, representation, window and, for PT, the uptake inputs and both date-times. False
// when Columns or Rows is absent or the frame count does not fit a 16-bit field; the record is
// then not usable.
bool readImageTags(redIRI::dcmReader& reader, DicomImageTags& tags, TagRules rules);

} // namespace isImageSDK
