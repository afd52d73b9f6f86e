#include "isDcmReader.h"

#include "isDcmRules.h"
#include "isDcmTags.h"


namespace isImageSDK {

isDcmReader* isDcmReader::create()
{
    return createAutoreleased<isDcmReader>();
}

bool isDcmReader::init()
{
    isImageFilter::init();
    m_fileName.clear();
    return true;
}

void isDcmReader::setFileName(const std::string& path)
{
    m_fileName = path;
    setModified();
}

void isDcmReader::updateInformation()
{
    readFile();
}

void isDcmReader::execute(isImageData*, isImageData*) {}

void isDcmReader::readFile()
{
    isImageData* output = beginOutputRebuild();
    if (!output)
        return;

    redIRI::dcmReader reader;
    reader.setLanguage(decoderLanguage());
    if (!reader.setFile(m_fileName.c_str()))
        return;

    isSliceInfo record;
    DicomImageTags tags;
    // Dates not found keep the slice record's defaults.
    copyDateTime(tags.acquisitionTime, record.acquisitionTime);
    copyDateTime(tags.startTime, record.startTime);
    if (!readImageTags(reader, tags, TAG_RULES_READER))
        return;

    redIRI::dcmReader::PixelType libraryType = redIRI::dcmReader::PIXEL_GREY8;
    int count = 0;
    const char* samples = reader.readDicomPixelPointer(libraryType, count);
    if (!samples || count < 1)
        return;
    const int pixelType =
        selectPixelType(tags.bitsAllocated, libraryType, tags.modality, tags.rescaleSlope, tags.rescaleIntercept, tags.representation);
    // A decoded format that does not match the chosen type (24 bits allocated over grey
    // samples, say) is not read: the conversion would run past the decoded buffer.
    if (pixelType < 0 || !libraryTypeFits(libraryType, pixelType))
        return;
    const size_t n = static_cast<size_t>(tags.columns) * tags.rows * tags.frames;
    if (static_cast<size_t>(count) < n)
        return;

    record.columns = tags.columns;
    record.rows = tags.rows;
    record.spacingX = tags.spacingX;
    record.spacingY = tags.spacingY;
    record.frames = static_cast<unsigned short>(tags.frames);
    record.pixelType = pixelType;
    record.posture = tags.posture;
    record.headFeet = tags.headFeet;
    record.matrix = tags.matrix;
    record.filePath = m_fileName;
    record.modality = tags.modality;
    copyRescale(record, tags);
    record.windowWidth = tags.windowWidth;
    record.windowCenter = tags.windowCenter;
    record.windowPresent = tags.windowPresent ? 1 : 0;
    record.reserved = 0;
    record.sex = static_cast<unsigned short>(tags.sex);
    record.patientWeight = tags.weightPresent ? tags.weight : -1.0f;
    record.patientSize = tags.sizePresent ? tags.size : -1.0f;
    record.scanOptions = tags.scanOptions;
    record.extraValues[0] = tags.triggerTime;
    if (tags.modality == MODALITY_PT)
        copyUptakeInputs(record, tags);

    isSliceInfo* slice = output->addSliceCopy(&record);
    if (!slice)
        return;
    slice->pixelSpacingPresent = tags.pixelSpacingPresent;
    slice->geometryValid = tags.geometryValid;
    convertPixels(samples, libraryType, n, pixelType, tags.rescaleSlope, tags.rescaleIntercept, tags.representation, slice->pixels);
    slice->pixelsLoaded = 1;
    // A single file is its own series: its path keys measurements and progress.
    output->setFileNames(m_fileName);
}

} // namespace isImageSDK
