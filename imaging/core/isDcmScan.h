// isDcmScan: a folder of DICOM files into a series cache (isSeriesCache.h).
//
// The scan reads the tags of every file below a folder (never the pixels), keeps the files that
// hold a usable image, and decides whether they form a regular stack, written as a "volume"
// cache in stack order, or only a list of images, written as a "series" cache (in instance
// order, or in listing order when the files cannot be ordered). It also names, validates,
// removes and purges cache files.
//
// A stack is regular when every image has one frame, an instance number, a full position and
// orientation, the same size, pixel type (16-bit grey files whose rescales call for different
// types all take floats first), patient position, modality, spacing (within 0.001 mm)
// and directions (within 0.0001) as the first, lies on the first image's normal through its
// position (within 0.01 mm), and the distance between neighbours in instance order is the same
// everywhere (within 0.01 mm) and not zero.
//
// Paths: a folder is a path ending in "/" (added when missing); names in the cache are relative
// to it. The cache of a folder lives in <writable path>qv/tmp/dcmbuf/ under the folded 32-bit
// hash of the folder text (without the writable path in front when the folder lies below it).
//
// Threads: createBuffer runs on a worker of the viewer screen and posts progress (1001, urgent)
// through the notification centre; the other operations run on the main thread. Nothing here
// keeps state.
#pragma once

#include "isSeriesCache.h"

#include <string>
#include <vector>

namespace isImageSDK {

// One accepted file of a scan.
struct SliceRecord {
    SliceRecord();

    // What a "series" cache stores for the file (all zero except frames 1 to begin with).
    SeriesRecordData record;
    std::string fileName;  // relative to the folder
    std::string folder;
    // The full instance number; the record keeps only 16 bits, too few to sort large series.
    int instanceNumber = 0;
    bool hasInstanceNumber = false;
    // Position without exactly 3 numbers or orientation without exactly 6.
    bool incompleteGeometry = false;
};

struct ScanInput {
    std::string cachePath;
    // The folder's files relative to the folder, in listing order.
    std::vector<std::string> files;
};

// The program keeps thumbnails of a library series in the series folder itself, as PNG files
// named by this prefix and their index ("thrumb0" to "thrumb5"); a scan passes over them.
constexpr const char* kThumbnailFilePrefix = "thrumb";
// Whether a file name (without folder) is one of those thumbnails.
bool isThumbnailFileName(const std::string& name);
// The check of a series' thumbnails (see isSeriesCache.h) is kept with its cache, not in the
// library's folders: "<cache folder><key>.thumbnails.check".
constexpr const char* kThumbnailCheckSuffix = ".thumbnails.check";

class isDcmScan {
public:
    // <writable path>qv/tmp/dcmbuf/
    static std::string getCacheFolder();
    // The name of a folder's cache files without extension.
    static std::string getCacheKey(const std::string& folder);
    // The ".prebin" of the folder when it exists, else ""; creates the cache folder when missing.
    static std::string getBufferPathOfFolder(const std::string& folder);
    // Scans the folder and writes its cache; always true (a failure shows as no cache). Any
    // earlier cache of the folder is removed first.
    static bool createBuffer(const std::string& folder);
    // Reads the listed files and writes the cache at input.cachePath; true when it was written.
    static bool scanFiles(const std::string& folder, const ScanInput& input);
    static bool writeSeriesBuffer(const std::string& path, const std::vector<SliceRecord*>& records);
    // The records must be in stack order; the first gives the volume's geometry.
    static bool writeVolumeBuffer(const std::string& path, const std::vector<SliceRecord*>& records);
    // The header can be read and holds the magic and the version, and the file agrees with its
    // check; a file that does not is removed with its ".raw" (verifySeriesCache).
    static bool isValidBuffer(const std::string& path);
    // Removes the folder's ".prebin" and ".raw" (found through getBufferPathOfFolder), their
    // checks and the check of its thumbnails.
    static void removeBuffer(const std::string& folder);
    // Removes whichever of the folder's cache files and checks exist, without creating the cache
    // folder.
    static void removeBufferFiles(const std::string& folder);
    // Where the check of the folder's thumbnails is kept.
    static std::string thumbnailCheckPathOf(const std::string& folder);
    // Removes every cache file when the cache was made with another decoding than this build's
    // (its pixels would differ), then the ".raw" files created 7 days or more before now.
    static void clearBuffer();
    // The first half of clearBuffer: every ".prebin", ".raw" and check goes unless the settings' record
    // of the cache's decoding is this build's; the record is then written.
    static void dropCachesOfOtherDecoding();
    // The settings key of that record.
    static const char* const kDecodingKey;
    // clearBuffer as it would run at the given local date-time.
    static void clearBufferAsOf(const int now[6]);
    // Whether a file created at `created` is due: its creation moved 7 days on, day by day, is
    // not later than `now`. Date-times are year, month, day, hour, minute, second.
    static bool isExpired(const int created[6], const int now[6]);
};

} // namespace isImageSDK
