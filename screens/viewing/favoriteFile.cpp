// imageViewerPC::saveFavorite: one favourite DICOM file from a copy of the slice on view.
#include "imageViewerPC.h"

#include "NSNotificationCenter.h"
#include "NSRunableThread.h"
#include "NSTimeUtil.h"
#include "captureScreenToFile.h"
#include "dcmLib.h"
#include "isActorImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

USING_NS_CC;
using namespace isImageSDK;

namespace {

// Every favourite file belongs to one study and one series of the program's own (UIDs made from
// UUIDs, under the 2.25 root).
const char* const kFavoriteStudyUID = "2.25.287618244012945330220505552290239261355";
const char* const kFavoriteSeriesUID = "2.25.149391719509902559896558496328384394706";

void copyText(char* out, size_t size, const std::string& text)
{
    std::snprintf(out, size, "%s", text.c_str());
}

} // namespace

void imageViewerPC::saveFavorite(isSliceInfo* slice, const std::string& libraryRoot)
{
    std::unique_ptr<isSliceInfo, void (*)(isSliceInfo*)> owned(slice, [](isSliceInfo* s) {
        delete[] s->pixels;
        delete s;
    });
    if (!slice || !slice->pixels || slice->columns < 1 || slice->rows < 1)
        return;
    const std::string folder = libraryRoot + "../favorite/";
    FileUtils::getInstance()->createDirectory(folder);
    // Two favourites in one second get two names ("<seconds>.dcm", "<seconds>_1.dcm", ...).
    const std::string path = claimCaptureFile(folder, getTimestampString(), ".dcm");
    if (path.empty())
        return;

    redIRI::dcmConvertor::ConvertRecord record;
    std::memset(&record, 0, sizeof(record));
    copyText(record.outputPath, sizeof(record.outputPath), path);
    copyText(record.sourcePath, sizeof(record.sourcePath), slice->filePath);
    copyText(record.studyUID, sizeof(record.studyUID), kFavoriteStudyUID);
    copyText(record.seriesUID, sizeof(record.seriesUID), kFavoriteSeriesUID);
    copyText(record.seriesNumber, sizeof(record.seriesNumber), "1");
    copyText(record.instanceNumber, sizeof(record.instanceNumber), "1");
    copyText(record.studyID, sizeof(record.studyID), "9000");
    record.rows = slice->rows;
    record.columns = slice->columns;
    record.windowWidth = slice->windowWidth;
    record.windowCenter = slice->windowCenter;
    record.spacing[0] = slice->spacingX;
    record.spacing[1] = slice->spacingY;
    const float* m = slice->matrix.m;
    float position[3] = {m[12], m[13], m[14]};
    float row[3] = {m[0], m[1], m[2]};
    float column[3] = {m[4], m[5], m[6]};
    reorientForPatientPosition(slice, position);
    reorientForPatientPosition(slice, row);
    reorientForPatientPosition(slice, column);
    std::memcpy(record.position, position, sizeof(position));
    std::memcpy(record.rowDirection, row, sizeof(row));
    std::memcpy(record.columnDirection, column, sizeof(column));
    record.rescaleSlope = 1.0f;
    record.isSigned = slice->pixelType == PIXEL_I16 || slice->pixelType == PIXEL_FLOAT;
    record.samplesPerPixel = 1;

    const size_t count = size_t(slice->columns) * size_t(slice->rows);
    std::unique_ptr<short[]> converted;
    switch (slice->pixelType) {
    case PIXEL_U8: {
        converted.reset(new short[count]);
        for (size_t i = 0; i < count; ++i)
            converted[i] = static_cast<short>(slice->pixels[i]);
        record.pixels = converted.get();
        break;
    }
    case PIXEL_FLOAT: {
        const float* values = reinterpret_cast<const float*>(slice->pixels);
        float lowest = 99999.0f, highest = -99999.0f;
        for (size_t i = 0; i < count; ++i) {
            lowest = std::min(lowest, values[i]);
            highest = std::max(highest, values[i]);
        }
        float magnitude = std::max(std::fabs(lowest), std::fabs(highest));
        if (magnitude < 0.01f)
            magnitude = 32000.0f;
        const float scale = 32000.0f / magnitude;
        converted.reset(new short[count]);
        for (size_t i = 0; i < count; ++i)
            converted[i] = static_cast<short>(scale * values[i]);
        record.rescaleSlope = 1.0f / scale;
        record.pixels = converted.get();
        break;
    }
    case PIXEL_RGB:
        record.samplesPerPixel = 3;
        record.isSigned = false;
        record.pixels = slice->pixels;
        break;
    default: record.pixels = slice->pixels; break;
    }

    redIRI::dcmConvertor convertor;
    if (!convertor.convert(record)) {
        FileUtils::getInstance()->removeFile(path);  // the claimed name must not pass for a favourite
        return;
    }
    auto* data = new NSUI::NSNotificationData();
    data->text = path;
    data->floatValue = slice->spacingY != 0.0f ? slice->spacingX / slice->spacingY : 1.0f;
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FAVORITE_ADD_FILE, data, nullptr);
    data->release();
}

void imageViewerPC::startFavoriteSave(isSliceInfo* slice, const std::string& libraryRoot)
{
    NSUI::NSRunableThread::create([slice, libraryRoot](void*) { saveFavorite(slice, libraryRoot); }, nullptr,
                                  nullptr, nullptr);
}
