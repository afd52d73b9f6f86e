// isImageFilter: the base of every pipeline stage that turns one image into another (the
// slicing filters, the slice pass-through, the file readers). The input image is the
// producer; the output image is created on first demand and owned by the filter.
#pragma once

#include "isFilterObject.h"
#include "isImageData.h"

#include <cstddef>
#include <string>

namespace isImageSDK {

class isImageFilter : public isFilterObject {
public:
    ~isImageFilter() override;

    // The base clear; input and output become null.
    void clear() override;
    bool init() override;
    void updateInformation() override;
    // Brings the producer's data up to date, then runs execute(input, output).
    void updateData() override;
    // Creates the (empty) output image, which has this filter as its producer.
    void createOutput() override;

    void setInput(isFilterObject* input) override;
    virtual void setInput(isImageData* image);
    void setInput(std::nullptr_t) { setInput(static_cast<isImageData*>(nullptr)); }

    // A request from `requester` to load the slice of the named file first; only the series
    // loader acts on it.
    virtual void prioritizeFile(cocos2d::Ref* requester, const std::string& filePath);
    // The filter's computation.
    virtual void execute(isImageData* input, isImageData* output) = 0;

    isImageData* getInputData() const { return m_inputData; }
    // The output image, created on demand (the same object as getOutput()).
    isImageData* getOutputData();

protected:
    isImageFilter() = default;

    // The start of every concrete filter's geometry step: null when nothing is modified (or
    // there is no output); otherwise the output image, emptied (records freed, geometry reset)
    // and ready to be refilled.
    isImageData* beginOutputRebuild();

    isImageData* m_inputData = nullptr;
    isImageData* m_outputData = nullptr;
};

} // namespace isImageSDK
