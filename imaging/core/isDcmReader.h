// isDcmReader: one DICOM file read into an image of one slice (all frames of the file), the head
// of a pipeline. The slice record carries size, spacing, the display-frame matrix, modality,
// rescale, default window, photometric representation and the PET inputs of uptake values; its
// buffer holds the pixels with the modality rescale applied, in the pixel type chosen for the
// file (see selectPixelType). The favourite viewers read single files with it; series go
// through isDcmScan and isBinReader.
//
// The file is read when the pipeline asks for information after setFileName. A file that
// cannot be used (not DICOM, no Columns or Rows, no decodable pixels, an unsupported pixel
// format, a buffer the image refuses) leaves the output without slices.
#pragma once

#include "isImageFilter.h"

#include <string>

namespace isImageSDK {

class isDcmReader : public isImageFilter {
public:
    static isDcmReader* create();

    isDcmReader() = default;
    ~isDcmReader() override = default;

    // Filter fields reset, no file name.
    bool init() override;
    // Stores the path and marks the reader modified, so that the next update reads the file.
    void setFileName(const std::string& path);
    const std::string& getFileName() const { return m_fileName; }

    // Reads the file into the output (readFile).
    void updateInformation() override;
    bool isReader() override { return true; }
    // Everything happens in readFile.
    void execute(isImageData* input, isImageData* output) override;

protected:
    void readFile();

    std::string m_fileName;
};

} // namespace isImageSDK
