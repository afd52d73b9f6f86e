#include "NSZip.h"

#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "base/CCConsole.h"
#include "diskWrite.h"

#include "zip.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

std::atomic<int> zipCancelFlag{0};

namespace {

constexpr size_t kZipBufferSize = 16384;    // copy and CRC blocks when zipping
constexpr size_t kUnzipBufferSize = 8192;   // copy blocks when extracting

constexpr int kZipReadError = -1;
constexpr int kZipNoMemory = -104;
constexpr int kZipPathTooShort = -105;
constexpr int kZipCancelled = -1000;
constexpr int kZipOpenFailed = -102;   // what zipClose reports for a missing archive
constexpr int kUnzipNoArchive = -102;
constexpr int kUnzipNextFailed = -109;
constexpr int kUnzipInfoFailed = -1000;
constexpr int kUnzipNoMemory = -1001;
constexpr int kUnzipCreateFailed = -1002;
constexpr int kUnzipWriteFailed = -1003;
constexpr int kUnzipUnsafeName = -1004;
constexpr int kUnzipTooManyEntries = -1005;
constexpr int kUnzipOverlappingEntries = -1006;

// An archive holds at most this many entries.
constexpr ZPOS64_T kMaxZipEntries = 200000;
// While extracting, the free space is asked again after every this many bytes written, so
// that what others write meanwhile (the import copying files into the library on the same
// file system) counts too.
constexpr unsigned long long kFreeSpaceProbeInterval = 4ull << 20;

// Free bytes for an unprivileged writer on the file system holding folder, or on that of its
// nearest existing parent; false when no parent can be asked.
bool systemFreeSpace(const char* destination, unsigned long long* available)
{
    std::string folder = destination && *destination ? destination : ".";
    struct statvfs fs {};
    while (statvfs(folder.c_str(), &fs) != 0) {
        const size_t slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
        if (slash == std::string::npos || folder.size() <= 1)
            return false;
        folder = slash == 0 ? "/" : folder.substr(0, slash);
    }
    *available = static_cast<unsigned long long>(fs.f_bavail) * static_cast<unsigned long long>(fs.f_frsize);
    return true;
}

std::atomic<ZipFreeSpaceProbe> freeSpaceProbe{systemFreeSpace};

// The bytes one extraction may still write below its destination: the free space less the
// margin, taken when it starts and lowered whenever the free space is asked again. Unbounded
// when the file system cannot be asked.
struct SpaceBudget {
    std::string destination;
    bool bounded = false;
    unsigned long long left = 0;
    unsigned long long sinceProbe = 0;

    explicit SpaceBudget(const char* folder) : destination(folder ? folder : "") { probe(); }

    void probe()
    {
        unsigned long long available = 0;
        if (!freeSpaceProbe.load()(destination.c_str(), &available))
            return;
        const unsigned long long room = available > kUnzipMinFreeBytes ? available - kUnzipMinFreeBytes : 0;
        left = bounded ? std::min(left, room) : room;
        bounded = true;
        sinceProbe = 0;
    }
    // Counts n more bytes about to be written; false when they do not fit.
    bool take(unsigned long long n)
    {
        if (!bounded)
            return true;
        if (n > left)
            return false;
        left -= n;
        sinceProbe += n;
        if (sinceProbe >= kFreeSpaceProbeInterval)
            probe();
        return true;
    }
};

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The file's modification time as local time in minizip's date record; zero when it is missing.
void fileTimeForZip(const char* path, tm_zip* out)
{
    std::memset(out, 0, sizeof *out);
    struct stat info {};
    if (stat(path, &info) != 0)
        return;
    std::tm local{};
    const std::time_t seconds = info.st_mtime;
    if (!localtime_r(&seconds, &local))
        return;
    out->tm_sec = static_cast<uInt>(local.tm_sec);
    out->tm_min = static_cast<uInt>(local.tm_min);
    out->tm_hour = static_cast<uInt>(local.tm_hour);
    out->tm_mday = static_cast<uInt>(local.tm_mday);
    out->tm_mon = static_cast<uInt>(local.tm_mon);
    out->tm_year = static_cast<uInt>(local.tm_year + 1900);
}

bool fileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

long long fileSize(const char* path)
{
    struct stat info {};
    return stat(path, &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// Sets the modification time of an extracted file to the entry's DOS time taken as local time;
// the access time stays. Linux keeps no settable creation time.
void setExtractedFileTime(const char* path, const tm_unz& entryTime)
{
    std::tm local{};
    local.tm_sec = static_cast<int>(entryTime.tm_sec);
    local.tm_min = static_cast<int>(entryTime.tm_min);
    local.tm_hour = static_cast<int>(entryTime.tm_hour);
    local.tm_mday = static_cast<int>(entryTime.tm_mday);
    local.tm_mon = static_cast<int>(entryTime.tm_mon);
    local.tm_year = static_cast<int>(entryTime.tm_year) - 1900;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1))
        return;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = seconds;
    times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path, times, 0);
}

} // namespace

bool isSafeZipEntryName(const char* name)
{
    if (!name)
        return false;
    if (isSeparator(name[0]))
        return false;
    if (std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        return false;
    // No ".." component, with either separator.
    const char* part = name;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || isSeparator(*p)) {
            if (p - part == 2 && part[0] == '.' && part[1] == '.')
                return false;
            if (*p == '\0')
                break;
            part = p + 1;
        }
    }
    return true;
}

int checkZipArchive(unzFile archive, const char* destination, std::string* unsafeName)
{
    if (!archive)
        return kUnzipNoArchive;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK)
        return kUnzipNoArchive;
    if (global.number_entry > kMaxZipEntries) {
        cocos2d::log("unzip: refused: the archive holds %llu entries, more than the %llu it may",
                     static_cast<unsigned long long>(global.number_entry), static_cast<unsigned long long>(kMaxZipEntries));
        return kUnzipTooManyEntries;
    }
    unz64_file_pos start{};
    const bool haveStart = unzGetFilePos64(archive, &start) == UNZ_OK;

    // The stored data of every entry, as [begin, end) in the archive file. Entries whose data
    // overlap let a few kilobytes expand to gigabytes; no archive writer makes them.
    std::vector<std::pair<ZPOS64_T, ZPOS64_T>> ranges;
    ranges.reserve(static_cast<size_t>(global.number_entry));
    unsigned long long declared = 0;
    int result = 0;
    for (int status = unzGoToFirstFile(archive); status == UNZ_OK && result == 0; status = unzGoToNextFile(archive)) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            cocos2d::log("unzip: refused: an entry's information cannot be read");
            result = kUnzipInfoFailed;
            break;
        }
        std::vector<char> name(static_cast<size_t>(info.size_filename) + 1, '\0');
        if (unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                    0) != UNZ_OK) {
            cocos2d::log("unzip: refused: an entry's name cannot be read");
            result = kUnzipInfoFailed;
            break;
        }
        if (!isSafeZipEntryName(name.data())) {
            result = kUnzipUnsafeName;
            // The name as one clean line, whatever the archive holds: it is shown and logged.
            const std::string shown = cleanOutsideText(name.data());
            cocos2d::log("unzip: refused: the entry \"%s\" would be written outside the destination", shown.c_str());
            if (unsafeName)
                *unsafeName = shown;
            break;
        }
        declared += info.uncompressed_size;
        if (declared < info.uncompressed_size) {
            cocos2d::log("unzip: refused: the entries declare more bytes than can be counted");
            result = kUnzipTooLarge;
            break;
        }
        // Raw: the local header is read and checked, nothing is decrypted or inflated.
        int method = 0, level = 0;
        if (unzOpenCurrentFile2(archive, &method, &level, 1) != UNZ_OK) {
            cocos2d::log("unzip: refused: the local header of \"%s\" cannot be read", validUtf8(name.data()).c_str());
            result = kUnzipInfoFailed;
            break;
        }
        const ZPOS64_T begin = unzGetCurrentFileZStreamPos64(archive);
        unzCloseCurrentFile(archive);
        if (info.compressed_size > 0)
            ranges.emplace_back(begin, begin + info.compressed_size);
    }
    if (result == 0) {
        std::sort(ranges.begin(), ranges.end());
        for (size_t i = 1; i < ranges.size() && result == 0; ++i) {
            if (ranges[i].first < ranges[i - 1].second) {
                cocos2d::log("unzip: refused: the stored data of two entries overlap (at byte %llu)",
                             static_cast<unsigned long long>(ranges[i].first));
                result = kUnzipOverlappingEntries;
            }
        }
    }
    if (result == 0) {
        // What the entries declare must leave room on the destination's file system.
        const SpaceBudget budget(destination);
        if (budget.bounded && declared > budget.left) {
            cocos2d::log("unzip: refused: the entries declare %llu bytes, but only %llu may be written below \"%s\" "
                         "(%llu bytes are kept free)",
                         declared, budget.left, budget.destination.c_str(), kUnzipMinFreeBytes);
            result = kUnzipTooLarge;
        }
    }
    if (haveStart)
        unzGoToFilePos64(archive, &start);
    return result;
}

int getFileCrc(const char* path, void* buffer, unsigned long bufferSize, unsigned long* crc)
{
    unsigned long value = crc32(0L, Z_NULL, 0);
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        *crc = 0;
        return -1;
    }
    int result = 0;
    for (;;) {
        const size_t got = std::fread(buffer, 1, bufferSize, file);
        if (got < bufferSize && !std::feof(file)) {
            result = -1;   // stopped short before the end of the file
            break;
        }
        if (got > 0)
            value = crc32(value, static_cast<const Bytef*>(buffer), static_cast<uInt>(got));
        if (got < bufferSize)
            break;
    }
    std::fclose(file);
    *crc = value;
    return result;
}

int zipMain(int argc, char* argv[])
{
    zipCancelFlag = 0;
    if (argc == 1)
        return 0;

    bool append = false;
    int level = Z_DEFAULT_COMPRESSION;
    const char* password = nullptr;
    int archiveArg = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            for (const char* p = arg + 1; *p; ++p) {
                const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
                if (c == 'a')
                    append = true;
                else if (c >= '0' && c <= '9')
                    level = c - '0';
                else if (c == 'p' && i + 1 < argc)
                    password = argv[++i];
                // 'o' (overwrite) is accepted: without 'a' the archive is always created new.
            }
        } else if (archiveArg == 0) {
            archiveArg = i;
        }
    }

    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kZipBufferSize]);
    if (!buffer)
        return kZipNoMemory;
    if (archiveArg == 0)
        return 0;

    std::string archive = argv[archiveArg];
    if (archive.find('.') == std::string::npos)
        archive += ".zip";
    if (append && !fileExists(archive))
        append = false;

    zipFile zf = zipOpen64(archive.c_str(), append ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE);

    const int baseArg = archiveArg + 1;
    const std::string base = baseArg < argc ? argv[baseArg] : "";
    const int fileCount = argc - baseArg - 1;
    const double step = fileCount > 0 ? 100.0 / fileCount : 1.0;

    int result = zf ? 0 : kZipOpenFailed;
    int handled = 0;
    for (int i = baseArg + 1; i < argc && result == 0 && zf; ++i) {
        if (zipCancelFlag.load() > 0) {
            result = kZipCancelled;
            break;
        }
        NSUI::NSNotificationCenter::getInstance()->postIntNotification(
            nullptr, NOTIFY_UI_PROGRESS, static_cast<int>(handled * step), 0, true);
        ++handled;

        const char* path = argv[i];
        const size_t length = std::strlen(path);
        if (length == 2 && (path[0] == '-' || path[0] == '/' || path[0] == '\\'))
            continue;
        if (length <= base.size()) {
            result = kZipPathTooShort;
            break;
        }
        const char* entryName = path + base.size() + 1;
        const bool isFolder = isSeparator(path[length - 1]);

        zip_fileinfo info{};
        fileTimeForZip(path, &info.tmz_date);

        unsigned long crc = 0;
        if (password && !isFolder)
            getFileCrc(path, buffer.get(), kZipBufferSize, &crc);

        const int zip64 = fileSize(path) >= 0xffffffffLL ? 1 : 0;
        int status = zipOpenNewFileInZip3_64(zf, entryName, &info, nullptr, 0, nullptr, 0, nullptr,
                                             level != 0 ? Z_DEFLATED : 0, level, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                             Z_DEFAULT_STRATEGY, password, crc, zip64);
        if (status != ZIP_OK) {
            result = status < 0 ? kZipReadError : status;
            break;
        }

        if (!isFolder) {
            FILE* file = std::fopen(path, "rb");
            if (!file) {
                result = kZipReadError;
                break;
            }
            for (;;) {
                const size_t got = std::fread(buffer.get(), 1, kZipBufferSize, file);
                if (got < kZipBufferSize && !std::feof(file)) {
                    status = kZipReadError;
                    break;
                }
                if (got > 0) {
                    status = zipWriteInFileInZip(zf, buffer.get(), static_cast<unsigned>(got));
                    if (status < 0)
                        break;
                }
                if (got < kZipBufferSize)
                    break;
            }
            std::fclose(file);
            if (status < 0) {
                result = kZipReadError;   // the entry is left open; zipClose finishes it
                break;
            }
        }
        result = zipCloseFileInZip(zf);
    }

    const int closed = zipClose(zf, nullptr);
    if (closed != 0)
        result = closed;
    return result;
}

namespace {

int extractCurrentFile(unzFile archive, const char* destination, int* withoutPath, int* overwrite,
                       const char* password, SpaceBudget& budget)
{
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return kUnzipInfoFailed;
    std::vector<char> nameBuffer(static_cast<size_t>(info.size_filename) + 1, '\0');
    if (unzGetCurrentFileInfo64(archive, &info, nameBuffer.data(), static_cast<uLong>(nameBuffer.size()), nullptr,
                                0, nullptr, 0) != UNZ_OK)
        return kUnzipInfoFailed;
    std::string name(nameBuffer.data());

    if (!isSafeZipEntryName(name.c_str()))
        return kUnzipUnsafeName;

    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kUnzipBufferSize]);
    if (!buffer)
        return kUnzipNoMemory;

    if (name.empty() || isSeparator(name.back()))
        return 0;   // a folder entry: the caller creates folders

    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    std::string outputName = name;
    if (*withoutPath) {
        const size_t slash = name.rfind('/');
        if (slash != std::string::npos)
            outputName = name.substr(slash + 1);
    }
    const std::string outputPath = std::string(destination ? destination : "") + outputName;

    // An encrypted entry read without its password would inflate garbage into the file.
    if ((info.flag & 1u) != 0 && (!password || !*password))
        return UNZ_PARAMERROR;

    int status = unzOpenCurrentFilePassword(archive, password);
    if (status != UNZ_OK) {
        unzCloseCurrentFile(archive);
        return status;
    }
    *overwrite = 1;   // existing files are always replaced, never asked about

    // Through the one writer, so that a full disk is counted and told like any other.
    const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        disk::noteFailure(errno);
        cocos2d::log("unzip: \"%s\" cannot be created: %s", validUtf8(outputPath).c_str(), std::strerror(errno));
        unzCloseCurrentFile(archive);
        return kUnzipCreateFailed;
    }
    int result = 0;
    ZPOS64_T written = 0;
    for (;;) {
        const int got = unzReadCurrentFile(archive, buffer.get(), static_cast<unsigned>(kUnzipBufferSize));
        if (got < 0) {
            result = got;
            break;
        }
        if (got == 0)
            break;
        written += static_cast<ZPOS64_T>(got);
        if (written > info.uncompressed_size) {
            cocos2d::log("unzip: \"%s\" stopped: it inflates past the %llu bytes it declares", name.c_str(),
                         static_cast<unsigned long long>(info.uncompressed_size));
            result = kUnzipTooLarge;
            break;
        }
        if (!budget.take(static_cast<unsigned long long>(got))) {
            cocos2d::log("unzip: \"%s\" stopped after %llu bytes: the file system of \"%s\" would keep less than "
                         "%llu bytes free",
                         name.c_str(), static_cast<unsigned long long>(written), budget.destination.c_str(),
                         kUnzipMinFreeBytes);
            result = kUnzipTooLarge;
            break;
        }
        if (!disk::writeAll(out, buffer.get(), static_cast<size_t>(got))) {
            cocos2d::log("unzip: \"%s\" cannot be written: %s", validUtf8(outputPath).c_str(),
                         disk::reasonText(errno).c_str());
            result = kUnzipWriteFailed;
            break;
        }
    }
    // A failed close means the file on disk is incomplete.
    if (::close(out) != 0 && result == 0) {
        disk::noteFailure(errno);
        result = kUnzipWriteFailed;
    }
    if (result != 0) {
        // Leave no truncated file behind under the entry's name.
        std::remove(outputPath.c_str());
        unzCloseCurrentFile(archive);
        return result;
    }
    setExtractedFileTime(outputPath.c_str(), info.tmu_date);
    const int closed = unzCloseCurrentFile(archive);
    if (closed != UNZ_OK)
        std::remove(outputPath.c_str());   // the data did not match its CRC
    return closed;
}

} // namespace

int unzipExtractCurrentFile(unzFile archive, const char* destination, int* withoutPath, int* overwrite,
                            const char* password)
{
    SpaceBudget budget(destination);
    return extractCurrentFile(archive, destination, withoutPath, overwrite, password, budget);
}

void setZipFreeSpaceProbe(ZipFreeSpaceProbe probe)
{
    freeSpaceProbe.store(probe ? probe : systemFreeSpace);
}

int unzipExtractAll(unzFile archive, const char* destination, int withoutPath, int overwrite,
                    const char* password)
{
    if (!archive)
        return kUnzipNoArchive;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK)
        return kUnzipNoArchive;
    const int checked = checkZipArchive(archive, destination);
    if (checked != 0)
        return checked;
    std::vector<std::string> written;
    // One budget for the whole archive: every entry's bytes count against the same free space.
    SpaceBudget budget(destination);
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        unz_file_info64 info{};
        const bool isFile = unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK;
        const int result = extractCurrentFile(archive, destination, &withoutPath, &overwrite, password, budget);
        if (result != 0) {
            // Nothing of an archive that failed stays (the failed entry removed its own file).
            for (const std::string& path : written)
                std::remove(path.c_str());
            return result;
        }
        if (isFile) {
            std::vector<char> name(static_cast<size_t>(info.size_filename) + 1, '\0');
            unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
            std::string entry(name.data());
            std::replace(entry.begin(), entry.end(), '\\', '/');
            if (!entry.empty() && entry.back() != '/') {
                if (withoutPath && entry.rfind('/') != std::string::npos)
                    entry = entry.substr(entry.rfind('/') + 1);
                written.push_back(std::string(destination ? destination : "") + entry);
            }
        }
        if (i + 1 < global.number_entry && unzGoToNextFile(archive) != UNZ_OK) {
            for (const std::string& path : written)
                std::remove(path.c_str());
            return kUnzipNextFailed;
        }
    }
    return 0;
}

int unzipMain(int argc, char* argv[])
{
    if (argc == 1)
        return 0;
    if (argc < 1)
        return 1;

    int withoutPath = 0;
    int overwrite = 0;
    bool haveDestination = false;
    const char* destination = "";
    const char* password = nullptr;
    const char* archiveName = nullptr;
    const char* entryName = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            bool takeDestination = false;
            for (const char* p = arg + 1; *p; ++p) {
                const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
                if (c == 'e')
                    withoutPath = 1;
                else if (c == 'o')
                    overwrite = 1;
                else if (c == 'd')
                    takeDestination = true;
                else if (c == 'p' && i + 1 < argc)
                    password = argv[++i];
                // Any other letter (such as x) is accepted and ignored.
            }
            if (takeDestination) {
                haveDestination = true;
                if (i + 1 < argc)
                    destination = argv[++i];
            }
        } else if (!archiveName) {
            archiveName = arg;
        } else if (!entryName && !haveDestination) {
            entryName = arg;
        }
    }
    if (!archiveName)
        return 1;

    unzFile archive = unzOpen64(archiveName);
    if (!archive) {
        const std::string withSuffix = std::string(archiveName) + ".zip";
        archive = unzOpen64(withSuffix.c_str());
        if (!archive)
            return 1;
    }

    int result;
    if (entryName) {
        result = checkZipArchive(archive, destination);
        if (result == 0 && unzLocateFile(archive, entryName, 0) != UNZ_OK)
            result = 2;
        else if (result == 0)
            result = unzipExtractCurrentFile(archive, destination, &withoutPath, &overwrite, password);
    } else {
        result = unzipExtractAll(archive, destination, withoutPath, overwrite, password);
    }
    unzClose(archive);
    return result;
}
