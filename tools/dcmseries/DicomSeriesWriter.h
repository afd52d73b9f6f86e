// Synthetic DICOM files for tests and benchmarks: one image per call, with exactly the tags the
// caller asks for, written in Explicit VR Little Endian (or JPEG-LS lossless) with a file meta
// header.
//
// The pixels are given raw (rows x columns x frames elements, 1, 2 or 3 bytes each, host order)
// or, when none are given, made from a pattern that depends on the instance number, so that
// every slice of a generated series is different and can be recognised after loading.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvgen {

struct ImageSpec {
    int columns = 32;
    int rows = 24;
    int frames = 1;              // Number of Frames is written only above 1
    int bitsAllocated = 16;      // 8 or 16 per sample
    int bitsStored = 0;          // 0: all of bitsAllocated
    int samplesPerPixel = 1;     // 1 grey, 3 RGB (8 bits)
    int pixelRepresentation = 0; // 1 signed
    std::string photometric = "MONOCHROME2";
    std::string modality = "CT";
    std::string patientPosition = "HFS";  // "" leaves (0018,5100) out
    bool hasPosition = true;
    double position[3] = {0, 0, 0};
    bool hasOrientation = true;
    double orientation[6] = {1, 0, 0, 0, 1, 0};
    std::string pixelSpacing = "0.5\\0.5";  // row \ column; "" leaves it out
    bool hasInstanceNumber = true;
    int instanceNumber = 1;
    std::string studyID = "1";
    std::string seriesNumber = "2";
    std::string patientName = "TEST^PATIENT";
    std::string patientID = "P001";
    std::string institution = "Test Hospital";
    std::string seriesDescription = "synthetic";
    std::string rescaleSlope;      // "" leaves it out
    std::string rescaleIntercept;  // "" leaves it out
    std::string windowCenter;
    std::string windowWidth;
    // Any further elements as (group, element, value text); the VR comes from the dictionary.
    std::vector<std::pair<std::pair<uint16_t, uint16_t>, std::string>> extra;
    // Elements to leave out of the file (removed after everything else was set).
    std::vector<std::pair<uint16_t, uint16_t>> omit;
    // Raw pixel bytes; empty: the pattern of patternValue.
    std::vector<uint8_t> pixels;
    // Study and series UIDs; generated once per process when empty.
    std::string studyUID;
    std::string seriesUID;
    std::string sopInstanceUID;  // "": a new one
    bool jpegLS = false;         // JPEG-LS lossless in place of Explicit VR Little Endian
};

// A new unique identifier.
std::string newUID();

// A value as a DICOM decimal string: as many significant digits as fit in its 16 characters.
std::string decimalString(double value);

// The pattern sample at (column, row, frame) of the image with this instance number.
uint16_t patternValue(int instanceNumber, int column, int row, int frame);

// Writes the file; false (with the reason in `error` when given) on failure.
bool writeDicomFile(const std::string& path, const ImageSpec& spec, std::string* error = nullptr);

// Writes spec's header with pixel data of zeros that takes no room on disk (a sparse file), as
// many bytes as rows x columns x frames x samples declare: an image that is whole but only its
// header says how large, as half a megabyte of deflated zeros can declare gigabytes.
bool writeSparseDicomFile(const std::string& path, ImageSpec spec, std::string* error = nullptr);

// The bytes of the pixels a spec describes (its own or the pattern), as written to the file.
std::vector<uint8_t> pixelBytes(const ImageSpec& spec);

// An axial stack: n slices of spec's size, positions origin + k * spacing along the normal of the
// orientation, instance numbers first..first + n - 1, written as <folder>/<prefix><k>.dcm in
// slice order. False when a file cannot be written.
bool writeStack(const std::string& folder, const ImageSpec& spec, int n, double spacing, int firstInstance = 1,
                const std::string& prefix = "img");

} // namespace qvgen
