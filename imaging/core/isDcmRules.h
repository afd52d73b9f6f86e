// The rules that turn DICOM tag texts and decoded samples into the values of a slice: codes for
// modality and patient position, the number and date parsers, the display-frame matrix, the
// choice of a slice pixel type and the sample conversion. Stated once here and shared by the
// file reader (isDcmReader), the folder scan (isDcmScan) and the slice loader (isBinReader), so
// the three always agree on a file.
//
// Pure functions of their arguments; any thread.
#pragma once

#include "cocos2d.h"

#include <algorithm>
#include <cstddef>

namespace isImageSDK {

// Modality (0008,0060) as a ModalityCode: "CT" 0, "PT" 1, "US" 2, "MR" 3, "DR" and "DX" 4,
// "NM" 5, "XA" 6, anything else 7. The text is compared whole and case-sensitively.
int modalityCodeOf(const char* text);

// Patient position (0018,5100): the eight defined terms give posture (0 supine, 1 prone,
// 2 decubitus right, 3 decubitus left) and headFeet (0 head first, 1 feet first) and true; any
// other text gives posture 0, headFeet 2 (undetermined) and false.
bool patientPositionOf(const char* text, int& posture, int& headFeet);

// Sex (0010,0040) as the slice code: "M" 1, "F" 2, anything else 3.
int sexCodeOf(const char* text);
// Decay correction (0054,1102): "ADMIN" 1, "START" 2, "NONE" 3, anything else 4.
int decayCorrectionOf(const char* text);
// Units (0054,1001): "BQML" 1, "CNTS" 2, anything else 3.
int unitsCodeOf(const char* text);

// Date-time parser modes.
enum DateTimeMode { DATETIME_DA = 1, DATETIME_TM = 2, DATETIME_DT = 3 };
// Fills the fields the mode names (DA: year, month, day from "YYYYMMDD"; TM: hour, minute,
// second from "HHMMSS"; DT: all six from "YYYYMMDDHHMMSS"), each part read as a decimal
// integer; the other fields are left alone. Any other mode changes nothing. The caller checks
// the text's length first; a shorter text reads what is there.
void parseDicomDateTime(int fields[6], const char* text, int mode);

// Splits a multi-valued text at every "\" and converts each piece to a double (C numeric
// locale). count is the number of pieces, however many there are; at most `capacity` values
// are stored.
void parseMultiValue(const char* text, double* out, int capacity, int& count);

// The image-to-patient matrix of a slice in the display frame: the row direction, column
// direction and position (patient coordinates, millimetres) are each mapped by the axis
// permutation of the patient position (headFeet 2 maps like head first supine); column 0 is the
// mapped row direction, column 1 the column direction, column 2 their cross product, column 3
// the mapped position. Computed in double precision.
cocos2d::Mat4 displayFrameMatrix(const double row[3], const double column[3], const double position[3],
                                 int posture, int headFeet);

// Element format of the decoder (redIRI::dcmReader::PixelType).
enum LibraryPixelType { LIBRARY_GREY8 = 0, LIBRARY_GREY16 = 1, LIBRARY_RGB24 = 2 };

// The slice pixel type (PixelType) for a file, or -1 when the combination is not supported:
//   8 bits: grey 8 -> unsigned 8-bit, RGB -> RGB; 24 bits -> RGB;
//   16 bits with grey 16: PET -> float; a fractional slope or intercept, or a slope above 1
//   -> float; else a signed representation (1 or 3), a negative intercept or a negative slope
//   -> signed 16-bit; else unsigned 16-bit.
int selectPixelType(int bitsAllocated, int libraryType, int modality, float slope, float intercept,
                    int representation);

// Whether decoded elements of the library type can fill a slice of the pixel type (grey 8 for
// unsigned 8-bit; grey 16 for the 16-bit and float types; RGB for RGB).
bool libraryTypeFits(int libraryType, int pixelType);

// Bytes per decoded element: 1, 2 or 3; 0 for an unknown library type.
int libraryElementBytes(int libraryType);

// Converts n decoded elements into a slice buffer of the pixel type, with the modality rescale
// applied. 16-bit samples are read signed when the representation is 1 or 3, unsigned
// otherwise. Integer outputs are sample * slope + intercept in single precision, truncated
// towards zero and saturated to the output type (plain copies when slope is 1 and intercept 0);
// float outputs are sample * slope + intercept. False, writing nothing, when the library type
// does not fit the pixel type.
bool convertPixels(const void* samples, int libraryType, size_t n, int pixelType, float slope, float intercept,
                   int representation, void* out);

// The modality rescale and the representation, between any two records that carry them under
// these names (the tags of a file, a slice, the cache records).
template <class To, class From>
void copyRescale(To& to, const From& from)
{
    to.rescaleSlope = from.rescaleSlope;
    to.rescaleIntercept = from.rescaleIntercept;
    to.representation = from.representation;
}

// The PET inputs of uptake values (both date-times, validity, half life, decay correction and
// factor, dose, units, scale factor), between any two records that carry them.
template <class To, class From>
void copyUptakeInputs(To& to, const From& from)
{
    std::copy(from.acquisitionTime, from.acquisitionTime + 6, to.acquisitionTime);
    std::copy(from.startTime, from.startTime + 6, to.startTime);
    to.suvValid = from.suvValid;
    to.halfLife = from.halfLife;
    to.decayCorrection = from.decayCorrection;
    to.decayFactor = from.decayFactor;
    to.totalDose = from.totalDose;
    to.units = from.units;
    to.suvScaleFactor = from.suvScaleFactor;
}

// Copies text into a fixed field of `size` bytes: at most size - 1 bytes, never ending inside a
// UTF-8 character, NUL-terminated, the rest of the field zero.
void copyTextField(char* field, size_t size, const char* text);

} // namespace isImageSDK
