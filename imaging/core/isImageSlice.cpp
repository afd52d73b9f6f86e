#include "isImageSlice.h"

#include <algorithm>
#include <cstring>

namespace isImageSDK {

isImageSlice* isImageSlice::create()
{
    return createAutoreleased<isImageSlice>();
}

void isImageSlice::updateInformation()
{
    isImageData* out = beginOutputRebuild();
    if (!out)
        return;
    if (!m_inputData)
        return;
    m_inputData->updateInformation();
    if (m_inputData->getSliceCount() >= 1)
        out->addSliceCopy(m_inputData->getSlices()[0]);
}

void isImageSlice::execute(isImageData* input, isImageData* output)
{
    if (!input || !output)
        return;
    output->updateInformation();
    if (output->getSliceCount() < 1 || input->getSliceCount() < 1)
        return;
    input->update();
    if (input->getSliceCount() < 1)
        return;
    const isSliceInfo* src = input->getSlices()[0];
    isSliceInfo* dst = output->getSlices()[0];
    if (!src->pixels || !dst->pixels)
        return;
    // The output record was copied from this source; guard against a source that changed
    // size since, so that neither buffer is overrun.
    const size_t srcBytes = static_cast<size_t>(src->columns) * src->rows * bytesPerPixel(src->pixelType, 3);
    const size_t dstBytes = static_cast<size_t>(dst->columns) * dst->rows * dst->frames * bytesPerPixel(dst->pixelType, 3);
    std::memcpy(dst->pixels, src->pixels, std::min(srcBytes, dstBytes));
}

} // namespace isImageSDK
