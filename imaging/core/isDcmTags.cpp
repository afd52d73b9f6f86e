#include "isDcmTags.h"

#include "isDcmRules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace isImageSDK {

namespace {

// Date and time of acquisition from the first complete pair: a date-time of at least 14
// characters, or a date of exactly 8 with a time of at least 6.
bool readDatePair(redIRI::dcmReader& reader, unsigned short dateElement, unsigned short timeElement, int fields[6])
{
    char date[kTagTextSize];
    char time[kTagTextSize];
    if (!readTagText(reader, 0x0008, dateElement, date) || std::strlen(date) != 8)
        return false;
    if (!readTagText(reader, 0x0008, timeElement, time) || std::strlen(time) < 6)
        return false;
    parseDicomDateTime(fields, date, DATETIME_DA);
    parseDicomDateTime(fields, time, DATETIME_TM);
    return true;
}

void readPetInputs(redIRI::dcmReader& reader, DicomImageTags& tags)
{
    char text[kTagTextSize];
    tags.suvValid = 1;
    if (readTagText(reader, 0x0054, 0x1321, text))
        tags.decayFactor = static_cast<float>(std::atof(text));
    tags.decayCorrection = readTagText(reader, 0x0054, 0x1102, text) ? decayCorrectionOf(text) : 4;
    if (readTagText(reader, 0x0018, 0x1074, text))
        tags.totalDose = static_cast<float>(std::atof(text));
    if (readTagText(reader, 0x7053, 0x1000, text))
        tags.suvScaleFactor = static_cast<float>(std::atof(text));
    if (readTagText(reader, 0x0018, 0x1075, text))
        tags.halfLife = static_cast<float>(std::atof(text));
    tags.units = readTagText(reader, 0x0054, 0x1001, text) ? unitsCodeOf(text) : 3;

    bool acquired = false;
    if (readTagText(reader, 0x0008, 0x002A, text) && std::strlen(text) >= 14) {
        parseDicomDateTime(tags.acquisitionTime, text, DATETIME_DT);
        acquired = true;
    }
    // Acquisition, then series, then study date and time.
    acquired = acquired || readDatePair(reader, 0x0022, 0x0032, tags.acquisitionTime) ||
               readDatePair(reader, 0x0021, 0x0031, tags.acquisitionTime) ||
               readDatePair(reader, 0x0020, 0x0030, tags.acquisitionTime);
    if (!acquired) {
        tags.acquisitionTime[0] = 1900;
        tags.suvValid = 0;
    }

    if (readTagText(reader, 0x0018, 0x1078, text) && std::strlen(text) >= 14) {
        parseDicomDateTime(tags.startTime, text, DATETIME_DT);
    } else if (readTagText(reader, 0x0018, 0x1072, text) && std::strlen(text) >= 6) {
        // A start time alone is on the day of acquisition.
        std::memcpy(tags.startTime, tags.acquisitionTime, sizeof(tags.startTime));
        parseDicomDateTime(tags.startTime, text, DATETIME_TM);
    } else {
        tags.suvValid = 0;
    }
}

// A multi-valued number tag into out when it holds exactly `expected` numbers (count tells how
// many it held; 0 when absent); out is left alone otherwise.
bool readNumbers(redIRI::dcmReader& reader, unsigned short group, unsigned short element, double* out,
                 int expected, int& count)
{
    char text[kTagTextSize];
    double numbers[6];
    count = 0;
    if (readTagText(reader, group, element, text))
        parseMultiValue(text, numbers, expected, count);
    if (count != expected)
        return false;
    std::copy(numbers, numbers + expected, out);
    return true;
}

} // namespace

int decoderLanguage()
{
    cocos2d::Application* application = cocos2d::Application::getInstance();
    return application ? static_cast<int>(application->getCurrentLanguage()) : 0;
}

bool readTagText(redIRI::dcmReader& reader, unsigned short group, unsigned short element,
                 char (&buffer)[kTagTextSize])
{
    if (!reader.readDicomTagString(group, element, buffer, kTagTextSize))
        return false;
    buffer[kTagTextSize - 1] = '\0';
    return true;
}

bool readImageTags(redIRI::dcmReader& reader, DicomImageTags& tags, TagRules rules)
{
    char text[kTagTextSize];
    unsigned short value = 0;

    if (readTagText(reader, 0x0008, 0x0060, text))
        tags.modality = modalityCodeOf(text);
    tags.geometryValid = 1;
    tags.posture = 0;
    tags.headFeet = 0;
    const bool positionedModality =
        tags.modality == MODALITY_CT || tags.modality == MODALITY_PT || tags.modality == MODALITY_MR;
    if (readTagText(reader, 0x0018, 0x5100, text)) {
        if (!patientPositionOf(text, tags.posture, tags.headFeet) && rules == TAG_RULES_READER)
            tags.geometryValid = 0;
    } else if (positionedModality) {
        tags.headFeet = 2;
    } else if (rules == TAG_RULES_READER) {
        tags.geometryValid = 0;
    }

    // Position and orientation are taken only whole; anything else keeps the defaults.
    if (!readNumbers(reader, 0x0020, 0x0032, tags.position, 3, tags.positionCount))
        tags.geometryValid = 0;
    if (!readNumbers(reader, 0x0020, 0x0037, tags.orientation, 6, tags.orientationCount))
        tags.geometryValid = 0;

    unsigned short columns = 0, rows = 0;
    if (!reader.readDicomTagUint16(0x0028, 0x0011, columns) || !reader.readDicomTagUint16(0x0028, 0x0010, rows))
        return false;
    tags.columns = columns;
    tags.rows = rows;

    tags.frames = readTagText(reader, 0x0028, 0x0008, text) ? std::atoi(text) : 1;
    if (tags.frames < 1)
        tags.frames = 1;
    // The caches and the slice record keep the frame count in 16 bits.
    if (tags.frames > 32767)
        return false;

    if (readTagText(reader, 0x0028, 0x0030, text)) {
        double numbers[2];
        int count = 0;
        parseMultiValue(text, numbers, 2, count);
        // Pixel Spacing is row spacing \ column spacing.
        tags.spacingX = count == 2 ? static_cast<float>(numbers[1]) : 1.0f;
        tags.spacingY = count == 2 ? static_cast<float>(numbers[0]) : 1.0f;
        tags.pixelSpacingPresent = 1;
    } else {
        tags.spacingX = tags.spacingY = 1.0f;
        tags.pixelSpacingPresent = 0;
    }

    tags.matrix = displayFrameMatrix(tags.orientation, tags.orientation + 3, tags.position, tags.posture,
                                     tags.headFeet);

    tags.sexPresent = readTagText(reader, 0x0010, 0x0040, text);
    tags.sex = tags.sexPresent ? sexCodeOf(text) : 3;
    tags.weightPresent = readTagText(reader, 0x0010, 0x1030, text);
    tags.weight = tags.weightPresent ? static_cast<float>(std::atof(text)) : 0.0f;
    tags.sizePresent = readTagText(reader, 0x0010, 0x1020, text);
    tags.size = tags.sizePresent ? static_cast<float>(std::atof(text)) : 0.0f;

    if (tags.modality == MODALITY_CT && readTagText(reader, 0x0018, 0x0022, text)) {
        char cut[10];
        copyTextField(cut, sizeof(cut), text);
        tags.scanOptions = cut;
    }
    if (tags.modality == MODALITY_PT && reader.readDicomTagUint16(0x0018, 0x1060, value))
        tags.triggerTime = value;

    tags.bitsAllocated = reader.readDicomTagUint16(0x0028, 0x0100, value) ? value : 8;
    tags.rescaleIntercept = readTagText(reader, 0x0028, 0x1052, text) ? static_cast<float>(std::atof(text)) : 0.0f;
    tags.rescaleSlope = readTagText(reader, 0x0028, 0x1053, text) ? static_cast<float>(std::atof(text)) : 1.0f;

    tags.representation = reader.readDicomTagUint16(0x0028, 0x0103, value) ? (value > 1 ? 1 : value) : 0;
    if (readTagText(reader, 0x0028, 0x0004, text) && std::strcmp(text, "MONOCHROME1") == 0)
        tags.representation += 2;

    // Only the first of several values counts: atof stops at the "\".
    const bool pet = tags.modality == MODALITY_PT;
    const float defaultCenter = pet ? 10000.0f : 128.0f, defaultWidth = pet ? 20000.0f : 255.0f;
    const bool centerPresent = readTagText(reader, 0x0028, 0x1050, text);
    tags.windowCenter = centerPresent ? static_cast<float>(std::atof(text)) : defaultCenter;
    const bool widthPresent = readTagText(reader, 0x0028, 0x1051, text);
    tags.windowWidth = widthPresent ? static_cast<float>(std::atof(text)) : defaultWidth;
    tags.windowPresent = centerPresent && widthPresent;
    // A width of 0 or less (or no number) is no window: every value would lie at one of its
    // ends, a solid white or black picture. Such a file counts as one without a window.
    if (tags.windowPresent && !(tags.windowWidth > 0.0f && std::isfinite(tags.windowWidth) &&
                                std::isfinite(tags.windowCenter))) {
        tags.windowPresent = false;
        tags.windowCenter = defaultCenter;
        tags.windowWidth = defaultWidth;
    }
    if (pet)
        readPetInputs(reader, tags);
    return true;
}

} // namespace isImageSDK
