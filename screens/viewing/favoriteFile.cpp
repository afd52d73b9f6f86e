// imageViewerPC::saveFavorite: one favourite DICOM file from a copy of the slice on view.
#include "imageViewerPC.h"

#include "NSNotificationCenter.h"
#include "NSRunableThread.h"
#include "NSTimeUtil.h"
#include "captureScreenToFile.h"
#include "dcmLib.h"
#include "isActorImage.h"
#include "isImageTypes.h"
#include "isViewerImage.h"

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

cocos2d::Vec3 axis(const cocos2d::Mat4& m, int c)
{
    return cocos2d::Vec3(m.m[4 * c], m.m[4 * c + 1], m.m[4 * c + 2]);
}

// Lays the slice's pixels out again as the viewer shows them (rows from the screen's top down,
// each from its left to its right) and moves its size, spacings and matrix with them, so that
// the kept file and every picture made from it read as the view did: a sagittal reformat's rows
// run along the slices. Only the first frame is turned; the favourite keeps no other.
void turnToScreen(isSliceInfo* slice)
{
    cocos2d::Vec3 right, up;
    isViewerImage::screenAxes(slice, right, up);
    const cocos2d::Mat4 m = slice->matrix;
    const cocos2d::Vec3 x = axis(m, 0).getNormalized(), y = axis(m, 1).getNormalized();
    // The old axes that run across (to the screen's right) and down the new picture.
    const bool transpose = std::fabs(y.dot(right)) > std::fabs(x.dot(right));
    const cocos2d::Vec3 across = transpose ? y : x, down = transpose ? x : y;
    const bool flipAcross = across.dot(right) < 0.0f, flipDown = down.dot(up) > 0.0f;
    if (!transpose && !flipAcross && !flipDown)
        return;
    const int columns = transpose ? slice->rows : slice->columns;
    const int rows = transpose ? slice->columns : slice->rows;
    const size_t bytes = static_cast<size_t>(bytesPerPixel(slice->pixelType));
    std::unique_ptr<unsigned char[]> turned(new unsigned char[size_t(columns) * size_t(rows) * bytes]);
    // New pixel (i, j) is old pixel (c, r).
    auto source = [&](int i, int j, int& c, int& r) {
        const int a = flipAcross ? columns - 1 - i : i, b = flipDown ? rows - 1 - j : j;
        c = transpose ? b : a;
        r = transpose ? a : b;
    };
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            int c = 0, r = 0;
            source(i, j, c, r);
            std::memcpy(&turned[(size_t(j) * columns + i) * bytes],
                        &slice->pixels[(size_t(r) * slice->columns + c) * bytes], bytes);
        }
    int c0 = 0, r0 = 0;
    source(0, 0, c0, r0);
    cocos2d::Vec3 origin(c0 * slice->spacingX, r0 * slice->spacingY, 0.0f);
    m.transformPoint(&origin);
    const cocos2d::Vec3 normal = axis(m, 2);
    const cocos2d::Vec3 columns3 = flipAcross ? -across : across, rows3 = flipDown ? -down : down;
    const float columnAxis[4][3] = {{columns3.x, columns3.y, columns3.z},
                                    {rows3.x, rows3.y, rows3.z},
                                    {normal.x, normal.y, normal.z},
                                    {origin.x, origin.y, origin.z}};
    for (int k = 0; k < 4; ++k)
        for (int e = 0; e < 3; ++e)
            slice->matrix.m[4 * k + e] = columnAxis[k][e];
    if (transpose)
        std::swap(slice->spacingX, slice->spacingY);
    slice->columns = columns;
    slice->rows = rows;
    std::memcpy(slice->pixels, turned.get(), size_t(columns) * size_t(rows) * bytes);
}

// The Study ID of the file a slice was read from ("" when it has none), so that the favourite's
// corner text names the same study as the view it was kept from.
std::string studyIDOf(const isSliceInfo* slice)
{
    redIRI::dcmReadTag tags;
    return !slice->filePath.empty() && tags.setFile(slice->filePath.c_str()) ? tags.getTag(0x0020, 0x0010) : "";
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
    turnToScreen(slice);
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
    copyText(record.studyID, sizeof(record.studyID), studyIDOf(slice));
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
    // A counted run that ends by itself; the shell's shutdown or the exit handler waits for it.
    NSUI::NSRunableThread::create([slice, libraryRoot](void*) { saveFavorite(slice, libraryRoot); }, nullptr,
                                  nullptr, nullptr);
}
