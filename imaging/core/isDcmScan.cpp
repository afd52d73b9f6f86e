#include "isDcmScan.h"

#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"
#include "UILocalConfig.h"
#include "isDcmRules.h"
#include "isDcmTags.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace isImageSDK {

namespace {

// A record count is a signed 16-bit field of the cache.
constexpr size_t kMaxCachedSlices = 32767;

// Tolerances of the stack test.
constexpr double kSpacingTolerance = 0.001;    // mm, pixel spacing
constexpr double kDirectionTolerance = 0.0001;  // direction cosines
constexpr double kPositionTolerance = 0.01;     // mm, off the stack axis and between neighbours
constexpr double kMaxNormalAngle = 1.0;         // radians, stack direction against the normal

void postProgress(int value)
{
    // Only a running centre has listeners; it is never created from here (a worker may call).
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->postIntNotification(nullptr, NSUI::NOTIFY_UI_PROGRESS, value, nullptr, true);
}

int progressValue(size_t i, size_t n, float span, int base)
{
    return static_cast<int>(static_cast<float>(i) * span / static_cast<float>(n)) + base;
}

std::string withSlash(const std::string& folder)
{
    if (folder.empty() || folder.back() != '/')
        return folder + "/";
    return folder;
}

// Columns of the row-major cache matrix: 0 row direction, 1 column direction, 2 normal,
// 3 position.
void matrixColumn(const SeriesRecordData& r, int column, double out[3])
{
    for (int row = 0; row < 3; ++row)
        out[row] = r.matrix[row * 4 + column];
}

double distance(const double a[3], const double b[3])
{
    const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

double positionDistance(const SliceRecord* a, const SliceRecord* b)
{
    double pa[3], pb[3];
    matrixColumn(a->record, 3, pa);
    matrixColumn(b->record, 3, pb);
    return distance(pa, pb);
}

// Distance of p from the line through origin along direction; infinite for a null direction.
double distanceFromLine(const double p[3], const double origin[3], const double direction[3])
{
    const double v[3] = {p[0] - origin[0], p[1] - origin[1], p[2] - origin[2]};
    const double c[3] = {v[1] * direction[2] - v[2] * direction[1], v[2] * direction[0] - v[0] * direction[2],
                         v[0] * direction[1] - v[1] * direction[0]};
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    if (!(length > 0.0))
        return INFINITY;
    return std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]) / length;
}

// Whether the record fits the stack that the first record begins.
bool sameStack(const SliceRecord* firstRecord, const SliceRecord* otherRecord)
{
    const SeriesRecordData& first = firstRecord->record;
    const SeriesRecordData& r = otherRecord->record;
    if (r.columns != first.columns || r.rows != first.rows || r.posture != first.posture ||
        r.headFeet != first.headFeet || r.modality != first.modality || r.pixelType != first.pixelType)
        return false;
    if (!(std::fabs(r.spacingX - first.spacingX) <= kSpacingTolerance) ||
        !(std::fabs(r.spacingY - first.spacingY) <= kSpacingTolerance))
        return false;
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            const int i = row * 4 + column;
            if (!(std::fabs(r.matrix[i] - first.matrix[i]) <= kDirectionTolerance))
                return false;
        }
    }
    double origin[3], normal[3], p[3];
    matrixColumn(first, 3, origin);
    matrixColumn(first, 2, normal);
    matrixColumn(r, 3, p);
    return distanceFromLine(p, origin, normal) <= kPositionTolerance;
}

// Files of 16-bit grey samples whose rescales call for different sample types (a slope on some
// slices only, an intercept that is negative on some) all take floats, which hold every rescaled
// 16-bit value exactly: the series stays one stack, each slice rescaled by its own values.
void promoteMixedGreyTypes(const std::vector<SliceRecord*>& records)
{
    auto grey16 = [](int type) { return type == PIXEL_I16 || type == PIXEL_U16 || type == PIXEL_FLOAT; };
    bool mixed = false;
    for (const SliceRecord* slice : records) {
        if (!grey16(slice->record.pixelType))
            return;
        mixed = mixed || slice->record.pixelType != records.front()->record.pixelType;
    }
    if (!mixed)
        return;
    for (SliceRecord* slice : records)
        slice->record.pixelType = PIXEL_FLOAT;
}

void readText(redIRI::dcmReader& reader, unsigned short group, unsigned short element, char* field, size_t size)
{
    char text[kTagTextSize];
    if (readTagText(reader, group, element, text))
        copyTextField(field, size, text);
}

// Fills a record from an open file; false when the file has no usable image.
bool readRecord(redIRI::dcmReader& reader, SliceRecord& slice, const std::string& name)
{
    redIRI::dcmReader::PixelType libraryType = redIRI::dcmReader::PIXEL_GREY8;
    if (!reader.readDicomPixelType(libraryType))
        return false;
    DicomImageTags tags;
    if (!readImageTags(reader, tags, TAG_RULES_SCAN))
        return false;
    const int pixelType =
        selectPixelType(tags.bitsAllocated, libraryType, tags.modality, tags.rescaleSlope, tags.rescaleIntercept, tags.representation);
    if (pixelType < 0)
        return false;
    // The viewer holds one file's frames in one block of kMaxBlockBytes (isImageData::addSlice,
    // and a cache describing more is damaged): a larger file is left out here, from its header,
    // rather than found too large once it has been decoded.
    long long bytes = 0;
    if (tags.frames < 1 ||
        __builtin_mul_overflow(static_cast<long long>(tags.columns) * tags.rows, static_cast<long long>(tags.frames), &bytes) ||
        __builtin_mul_overflow(bytes, static_cast<long long>(bytesPerPixel(pixelType)), &bytes) || bytes >= kMaxBlockBytes) {
        cocos2d::log("skip file too large to show:%s", name.c_str());
        return false;
    }

    SeriesRecordData& r = slice.record;
    r.columns = tags.columns;
    r.rows = tags.rows;
    r.spacingX = tags.spacingX;
    r.spacingY = tags.spacingY;
    r.spacingAbsent = tags.pixelSpacingPresent ? 0 : 1;
    r.frames = static_cast<int16_t>(tags.frames);
    r.posture = tags.posture;
    r.headFeet = tags.headFeet;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            r.matrix[row * 4 + column] = tags.matrix.m[column * 4 + row];
    r.geometryValid = tags.geometryValid;
    r.modality = tags.modality;
    r.patientWeight = tags.weight;
    r.patientSize = tags.size;
    r.pixelType = pixelType;
    r.bitsAllocated = tags.bitsAllocated;
    copyRescale(r, tags);
    r.windowWidth = tags.windowWidth;
    r.windowCenter = tags.windowCenter;
    r.windowAbsent = tags.windowPresent ? 0 : 1;
    if (tags.modality == MODALITY_PT) {
        copyUptakeInputs(r, tags);
        r.extraValues[0] = tags.triggerTime;
    }
    copyTextField(r.scanOptions, sizeof(r.scanOptions), tags.scanOptions.c_str());
    if (tags.sexPresent)
        r.sex = tags.sex == 1 ? 'M' : (tags.sex == 2 ? 'F' : 'U');

    char text[kTagTextSize];
    readText(reader, 0x0008, 0x0080, r.institution, sizeof(r.institution));
    readText(reader, 0x0008, 0x103E, r.seriesDescription, sizeof(r.seriesDescription));
    if (readTagText(reader, 0x0008, 0x0021, text) && std::strlen(text) == 8)
        parseDicomDateTime(r.seriesTime, text, DATETIME_DA);
    if (readTagText(reader, 0x0008, 0x0031, text) && std::strlen(text) >= 6)
        parseDicomDateTime(r.seriesTime, text, DATETIME_TM);
    readText(reader, 0x0010, 0x0010, r.patientName, sizeof(r.patientName));
    readText(reader, 0x0010, 0x0020, r.patientID, sizeof(r.patientID));
    readText(reader, 0x0010, 0x1010, r.patientAge, sizeof(r.patientAge));
    readText(reader, 0x0020, 0x0010, r.studyID, sizeof(r.studyID));
    readText(reader, 0x0020, 0x0011, r.seriesNumber, sizeof(r.seriesNumber));
    // An empty Instance Number orders nothing: it counts as absent.
    if (readTagText(reader, 0x0020, 0x0013, text) && text[0] != '\0') {
        slice.hasInstanceNumber = true;
        slice.instanceNumber = std::atoi(text);
        r.instanceNumber = static_cast<int16_t>(slice.instanceNumber);
    }
    slice.incompleteGeometry = tags.positionCount != 3 || tags.orientationCount != 6;
    return true;
}

VolumeSliceRecordData volumeSliceOf(const SeriesRecordData& r)
{
    VolumeSliceRecordData s;
    std::memset(&s, 0, sizeof(s));
    s.instanceNumber = r.instanceNumber;
    s.windowAbsent = r.windowAbsent;
    s.spacingAbsent = r.spacingAbsent;
    s.bitsAllocated = r.bitsAllocated;
    copyRescale(s, r);
    copyUptakeInputs(s, r);
    return s;
}

// The first six integers of a text, whatever separates them (the file time "2017.7.22 9:5:0"
// and the full date-time "2017-07-22 09:05:00" alike). False when there are fewer.
bool sixNumbers(const std::string& text, int fields[6])
{
    int found = 0;
    const char* p = text.c_str();
    while (*p && found < 6) {
        if (*p >= '0' && *p <= '9') {
            char* end = nullptr;
            fields[found++] = static_cast<int>(std::strtol(p, &end, 10));
            p = end;
        } else {
            ++p;
        }
    }
    return found == 6;
}

} // namespace

SliceRecord::SliceRecord()
{
    std::memset(&record, 0, sizeof(record));
    record.frames = 1;
}

std::string isDcmScan::getCacheFolder()
{
    return cocos2d::FileUtils::getInstance()->getWritablePath() + kCacheFolder;
}

std::string isDcmScan::getCacheKey(const std::string& folder)
{
    const std::string text = withSlash(folder);
    const std::string root = cocos2d::FileUtils::getInstance()->getWritablePath();
    // Below the writable path the key leaves the writable path out, so that it survives a
    // moved home folder; any other folder is hashed whole, so that two such folders never share
    // a cache.
    const bool below = text.size() > root.size() && text.compare(0, root.size(), root) == 0;
    const uint32_t hash = foldedHash32(below ? std::string_view(text).substr(root.size()) : std::string_view(text));
    return formatString("%lu", static_cast<unsigned long>(hash));
}

std::string isDcmScan::getBufferPathOfFolder(const std::string& folder)
{
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string cacheFolder = getCacheFolder();
    if (!files->isDirectoryExist(cacheFolder))
        files->createDirectory(cacheFolder);
    const std::string path = cacheFolder + getCacheKey(folder) + kPrebinExtension;
    // A description the disk had no room for is written now if it can be, and read from memory
    // if not.
    if (isSeriesCacheHeld(path)) {
        writeHeldSeriesCache(path);
        return path;
    }
    return files->isFileExist(path) ? path : std::string();
}

bool isThumbnailFileName(const std::string& name)
{
    return name.compare(0, std::strlen(kThumbnailFilePrefix), kThumbnailFilePrefix) == 0;
}

bool isDcmScan::createBuffer(const std::string& folderPath)
{
    const std::string folder = withSlash(folderPath);
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string cacheFolder = getCacheFolder();
    files->createDirectory(cacheFolder);
    ScanInput input;
    input.cachePath = cacheFolder + getCacheKey(folder) + kPrebinExtension;
    cocos2d::log("create buffer:%s", input.cachePath.c_str());
    // An old ".raw" must not outlive the description it belonged to: it could have the size
    // of the new one and be taken for its pixels.
    removeBufferFiles(folder);

    std::vector<std::string> paths;
    listFiles(folder, paths, true, true);
    if (paths.empty())
        return true;

    postProgress(2);
    const size_t n = paths.size();
    input.files.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        postProgress(progressValue(i, n, 10.0f, 2));
        const std::string& path = paths[i];
        const size_t slash = path.find_last_of('/');
        if (isThumbnailFileName(slash == std::string::npos ? path : path.substr(slash + 1)))
            continue;
        input.files.push_back(path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path);
    }
    if (!scanFiles(folder, input))
        files->removeFile(input.cachePath);
    return true;
}

bool isDcmScan::scanFiles(const std::string& folder, const ScanInput& input)
{
    redIRI::dcmReader reader;
    reader.setLanguage(decoderLanguage());

    std::vector<std::unique_ptr<SliceRecord>> accepted;
    bool irregular = false;
    const size_t n = input.files.size();
    for (size_t i = 0; i < n; ++i) {
        postProgress(progressValue(i, n, 80.0f, 12));
        const std::string& name = input.files[i];
        // The cache joins names with ",": such a name could not be told apart.
        if (name.find(',') != std::string::npos) {
            cocos2d::log("skip file with comma:%s", name.c_str());
            continue;
        }
        if (!reader.setFile((folder + name).c_str()))
            continue;
        auto slice = std::make_unique<SliceRecord>();
        if (!readRecord(reader, *slice, name))
            continue;
        slice->fileName = name;
        slice->folder = folder;
        if (slice->incompleteGeometry || slice->record.frames > 1 || !slice->hasInstanceNumber)
            irregular = true;
        accepted.push_back(std::move(slice));
    }
    if (accepted.empty() || accepted.size() > kMaxCachedSlices)
        return false;

    std::vector<SliceRecord*> records;
    records.reserve(accepted.size());
    for (auto& slice : accepted)
        records.push_back(slice.get());
    if (irregular || records.size() == 1)
        return writeSeriesBuffer(input.cachePath, records);

    postProgress(94);
    promoteMixedGreyTypes(records);
    for (size_t i = 1; i < records.size() && !irregular; ++i)
        irregular = !sameStack(records[0], records[i]);

    postProgress(97);
    std::stable_sort(records.begin(), records.end(), [](const SliceRecord* a, const SliceRecord* b) {
        return a->instanceNumber < b->instanceNumber;
    });
    // Neighbours must be evenly spaced; coincident positions (a time series at one place) are
    // no stack at all.
    const double first = positionDistance(records[0], records[1]);
    if (!(first > kPositionTolerance))
        irregular = true;
    for (size_t i = 2; i < records.size() && !irregular; ++i)
        if (!(std::fabs(first - positionDistance(records[i - 1], records[i])) <= kPositionTolerance))
            irregular = true;

    postProgress(99);
    if (irregular)
        return writeSeriesBuffer(input.cachePath, records);

    // The stack runs along the normal of its slices; reversed when it runs against it.
    double p0[3], p1[3], normal[3];
    matrixColumn(records.front()->record, 3, p0);
    matrixColumn(records.back()->record, 3, p1);
    matrixColumn(records.back()->record, 2, normal);
    const double u[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const double lengths = distance(p1, p0) * std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    const double cosine = lengths > 0.0 ? (u[0] * normal[0] + u[1] * normal[1] + u[2] * normal[2]) / lengths : 1.0;
    if (std::acos(std::clamp(cosine, -1.0, 1.0)) > kMaxNormalAngle)
        std::reverse(records.begin(), records.end());
    return writeVolumeBuffer(input.cachePath, records);
}

bool isDcmScan::writeSeriesBuffer(const std::string& path, const std::vector<SliceRecord*>& records)
{
    std::vector<const SeriesRecordData*> data;
    std::vector<std::string> names;
    data.reserve(records.size());
    names.reserve(records.size());
    for (const SliceRecord* slice : records) {
        data.push_back(&slice->record);
        names.push_back(slice->fileName);
    }
    return writeSeriesCache(path, data, names);
}

bool isDcmScan::writeVolumeBuffer(const std::string& path, const std::vector<SliceRecord*>& records)
{
    if (records.empty())
        return false;
    const SeriesRecordData& first = records.front()->record;
    VolumeRecordData volume;
    std::memset(&volume, 0, sizeof(volume));
    volume.columns = first.columns;
    volume.rows = first.rows;
    volume.sliceCount = static_cast<int32_t>(records.size());
    volume.spacingX = first.spacingX;
    volume.spacingY = first.spacingY;
    double sum = 0.0;
    for (size_t i = 1; i < records.size(); ++i)
        sum += positionDistance(records[i - 1], records[i]);
    volume.sliceSpacing = records.size() > 1 ? static_cast<float>(sum / static_cast<double>(records.size() - 1)) : 0.0f;
    volume.posture = first.posture;
    volume.headFeet = first.headFeet;
    std::memcpy(volume.matrix, first.matrix, sizeof(volume.matrix));
    volume.modality = first.modality;
    std::memcpy(volume.sharedInfo, reinterpret_cast<const unsigned char*>(&first) + kSharedInfoOffset,
                kSharedInfoSize);
    volume.pixelType = first.pixelType;
    volume.windowWidth = first.windowWidth;
    volume.windowCenter = first.windowCenter;

    std::vector<VolumeSliceRecordData> slices;
    std::vector<std::string> names;
    slices.reserve(records.size());
    names.reserve(records.size());
    for (const SliceRecord* slice : records) {
        slices.push_back(volumeSliceOf(slice->record));
        names.push_back(slice->fileName);
    }
    return writeVolumeCache(path, volume, slices, names);
}

bool isDcmScan::isValidBuffer(const std::string& path)
{
    return !path.empty() && hasCacheSignature(path, true) && verifySeriesCache(path);
}

void isDcmScan::removeBuffer(const std::string& folder)
{
    const std::string path = getBufferPathOfFolder(folder);
    if (path.empty())
        return;
    dropHeldSeriesCache(path);
    removeCacheFile(path);
    removeCacheFile(rawPathOf(path));
    std::remove(thumbnailCheckPathOf(folder).c_str());
}

void isDcmScan::removeBufferFiles(const std::string& folder)
{
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string base = getCacheFolder() + getCacheKey(folder);
    dropHeldSeriesCache(base + kPrebinExtension);
    for (const char* extension : {kPrebinExtension, kRawExtension}) {
        const std::string path = base + extension;
        if (files->isFileExist(path))
            files->removeFile(path);
        std::remove(checkPathOf(path).c_str());
    }
    std::remove(thumbnailCheckPathOf(folder).c_str());
}

std::string isDcmScan::thumbnailCheckPathOf(const std::string& folder)
{
    // One key for the same folder however its path was joined ("a//b/" is "a/b/").
    std::string path;
    for (char c : folder)
        if (c != '/' || path.empty() || path.back() != '/')
            path += c;
    return getCacheFolder() + getCacheKey(path) + kThumbnailCheckSuffix;
}

bool isDcmScan::isExpired(const int created[6], const int now[6])
{
    int moved[6];
    std::copy(created, created + 6, moved);
    for (int day = 0; day < 7; ++day) {
        if (moved[2] >= getDaysInMonth(moved[0], moved[1])) {
            moved[2] = 1;
            if (++moved[1] > 12) {
                moved[1] = 1;
                ++moved[0];
            }
        } else {
            ++moved[2];
        }
    }
    for (int i = 0; i < 6; ++i)
        if (moved[i] != now[i])
            return moved[i] < now[i];
    return true;
}

namespace {

// The decoding the cache's pixels were made with, kept in the settings (the cache folder holds
// cache files only). Raise it whenever a change to the DICOM layer or the loader gives other
// pixels for the same file (2: colour JPEG streams converted by what the stream says).
const char* const kDecodingRevision = "2";

} // namespace

const char* const isDcmScan::kDecodingKey = "dcmbuf_decoding";

void isDcmScan::dropCachesOfOtherDecoding()
{
    auto* files = cocos2d::FileUtils::getInstance();
    const std::string folder = getCacheFolder();
    if (NSUI::UILocalConfig::getLocalString(kDecodingKey, "") == kDecodingRevision)
        return;
    std::vector<std::string> paths;
    listFiles(folder, paths, true, true);
    for (const std::string& path : paths)
        for (const char* extension : {kPrebinExtension, kRawExtension, kCheckExtension}) {
            const size_t n = std::strlen(extension);
            if (path.size() >= n && path.compare(path.size() - n, n, extension) == 0)
                files->removeFile(path);
        }
    NSUI::UILocalConfig::setLocalString(kDecodingKey, kDecodingRevision);
}

void isDcmScan::clearBuffer()
{
    dropCachesOfOtherDecoding();
    int now[6] = {0, 0, 0, 0, 0, 0};
    if (sixNumbers(getCurrentDateTime(), now))
        clearBufferAsOf(now);
}

void isDcmScan::clearBufferAsOf(const int now[6])
{
    std::vector<std::string> paths;
    listFiles(getCacheFolder(), paths, true, true);
    const size_t extension = sizeof(kRawExtension) - 1;
    for (const std::string& path : paths) {
        if (path.size() < extension || path.compare(path.size() - extension, extension, kRawExtension) != 0)
            continue;
        int created[6];
        if (!sixNumbers(getFileCreationTime(path), created) || !isExpired(created, now))
            continue;
        removeCacheFile(path);
        cocos2d::log("Clear Buffer:%s", path.c_str());
    }
}

} // namespace isImageSDK
