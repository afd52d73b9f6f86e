#include "isSliceInfo.h"

#include <algorithm>

namespace isImageSDK {

void copyDateTime(int destination[6], const int source[6])
{
    std::copy(source, source + 6, destination);
}

void isSliceInfo::copyInfo(const isSliceInfo& source)
{
    if (&source == this)
        return;
    filePath = source.filePath;
    modality = source.modality;
    reserved = source.reserved;
    windowWidth = source.windowWidth;
    windowPresent = source.windowPresent;
    pixelSpacingPresent = source.pixelSpacingPresent;
    windowCenter = source.windowCenter;
    headFeet = source.headFeet;
    posture = source.posture;
    rescaleIntercept = source.rescaleIntercept;
    rescaleSlope = source.rescaleSlope;
    representation = source.representation;
    copyDateTime(acquisitionTime, source.acquisitionTime);
    copyDateTime(startTime, source.startTime);
    suvValid = source.suvValid;
    halfLife = source.halfLife;
    decayCorrection = source.decayCorrection;
    decayFactor = source.decayFactor;
    sex = source.sex;
    units = source.units;
    totalDose = source.totalDose;
    patientWeight = source.patientWeight;
    patientSize = source.patientSize;
    suvScaleFactor = source.suvScaleFactor;
    scanOptions = source.scanOptions;
    std::copy(source.extraValues, source.extraValues + 5, extraValues);
}

} // namespace isImageSDK
