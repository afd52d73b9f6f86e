#include "isImageFilter.h"

namespace isImageSDK {

isImageFilter::~isImageFilter()
{
    isImageFilter::clear();
}

void isImageFilter::clear()
{
    isFilterObject::clear();
    m_inputData = nullptr;
    m_outputData = nullptr;
}

bool isImageFilter::init()
{
    isFilterObject::init();
    m_inputData = nullptr;
    m_outputData = nullptr;
    return true;
}

void isImageFilter::updateInformation()
{
    beginInformationUpdate();
}

isImageData* isImageFilter::beginOutputRebuild()
{
    if (!beginInformationUpdate())
        return nullptr;
    isImageData* out = getOutputData();
    if (out) {
        out->releaseData();
        out->resetGeometry();
    }
    return out;
}

void isImageFilter::updateData()
{
    if (!beginDataUpdate())
        return;
    execute(m_inputData, m_outputData);
}

void isImageFilter::createOutput()
{
    if (m_outputData)
        return;
    auto* image = new (std::nothrow) isImageData();
    if (!image)
        return;
    if (!image->init()) {
        image->release();
        return;
    }
    m_outputData = image;
    m_output = image;
    image->releaseData();
    image->resetGeometry();
    image->setInput(this);
}

isImageData* isImageFilter::getOutputData()
{
    getOutput();
    return m_outputData;
}

void isImageFilter::setInput(isFilterObject* input)
{
    isFilterObject::setInput(input);
    m_inputData = dynamic_cast<isImageData*>(input);
}

void isImageFilter::setInput(isImageData* image)
{
    isFilterObject::setInput(image);
    m_inputData = image;
}

void isImageFilter::prioritizeFile(cocos2d::Ref*, const std::string&) {}

} // namespace isImageSDK
