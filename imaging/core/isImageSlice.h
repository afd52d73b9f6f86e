// isImageSlice: the last stage before display, a private copy of the first slice of its
// input. The image actor points its input at the orthogonal slicer or at the oblique
// reslicer; the image node always reads this filter's output, so switching between the two
// changes one input and nothing downstream.
#pragma once

#include "isImageFilter.h"

namespace isImageSDK {

class isImageSlice : public isImageFilter {
public:
    static isImageSlice* create();

    isImageSlice() = default;
    ~isImageSlice() override = default;

    // Copies the input's first slice record whole (geometry, description, all frames).
    void updateInformation() override;
    // Refreshes the first frame's pixels from the input.
    void execute(isImageData* input, isImageData* output) override;
};

} // namespace isImageSDK
