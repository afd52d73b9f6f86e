#include "extensions/CCAssetsUnpack.h"

#include "extensions/CCManifest.h"
#include "platform/CCFileUtils.h"
#include "diskWrite.h"

#include <unzip.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace cocos2d {
namespace extension {
namespace detail {

namespace {

constexpr uint64_t kMaxEntries = 100000;

struct Entry {
    std::string name;  // without the trailing "/" of a folder
    bool folder = false;
    uint64_t size = 0;
};

bool fail(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

// The names and declared sizes of every entry, checked; the archive is left at its first entry.
bool listEntries(unzFile zip, int64_t maxTotalBytes, std::vector<Entry>& entries, std::string* error)
{
    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK)
        return fail(error, "unreadable archive");
    if (global.number_entry > kMaxEntries)
        return fail(error, "too many entries");
    uint64_t total = 0;
    for (int rc = unzGoToFirstFile(zip); rc != UNZ_END_OF_LIST_OF_FILE; rc = unzGoToNextFile(zip)) {
        if (rc != UNZ_OK)
            return fail(error, "unreadable archive");
        unz_file_info64 info;
        char name[1025];
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return fail(error, "unreadable entry");
        Entry entry;
        entry.name = std::string(name, std::min<size_t>(info.size_filename, sizeof name - 1));
        if (!entry.name.empty() && entry.name.back() == '/') {
            entry.folder = true;
            entry.name.pop_back();
        }
        if (!Manifest::isSafeRelativePath(entry.name))
            return fail(error, "unsafe entry name: " + entry.name);
        entry.size = info.uncompressed_size;
        total += entry.size;
        if (total > uint64_t(maxTotalBytes))
            return fail(error, "the archive expands past " + std::to_string(maxTotalBytes) + " bytes");
        entries.push_back(entry);
    }
    return unzGoToFirstFile(zip) == UNZ_OK || entries.empty() ? true : fail(error, "unreadable archive");
}

bool extractCurrent(unzFile zip, const Entry& entry, const std::string& path, std::string* error)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return fail(error, "cannot open entry " + entry.name);
    // Through the one writer, so that a full disk is counted and told like any other.
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    std::string reason = ok ? "" : "cannot create " + path;
    uint64_t written = 0;
    std::vector<char> block(64 * 1024);
    while (ok) {
        const int n = unzReadCurrentFile(zip, block.data(), unsigned(block.size()));
        if (n < 0) {
            ok = false;
            reason = "damaged entry " + entry.name;
        } else if (n == 0) {
            break;
        } else if ((written += uint64_t(n)) > entry.size) {
            ok = false;
            reason = "entry " + entry.name + " expands past its declared size";
        } else if (!disk::writeAll(out, block.data(), size_t(n))) {
            ok = false;
            reason = "cannot write " + path + ": " + disk::reasonText(errno);
        }
    }
    if (out >= 0 && ::close(out) != 0 && ok) {
        disk::noteFailure(errno);
        ok = false;
        reason = "cannot write " + path + ": " + disk::reasonText(errno);
    }
    // Closing checks the CRC once the whole entry was read.
    if (unzCloseCurrentFile(zip) != UNZ_OK && ok) {
        ok = false;
        reason = "damaged entry " + entry.name;
    }
    return ok ? true : fail(error, reason);
}

} // namespace

bool unpackArchive(const std::string& archivePath, const std::string& folder, int64_t maxTotalBytes,
                   std::string* error)
{
    unzFile zip = unzOpen64(archivePath.c_str());
    if (!zip)
        return fail(error, "cannot open archive " + archivePath);
    std::vector<Entry> entries;
    bool ok = listEntries(zip, maxTotalBytes, entries, error);

    FileUtils* files = FileUtils::getInstance();
    std::vector<std::string> written;
    for (size_t i = 0; ok && i < entries.size(); ++i) {
        if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) {
            ok = fail(error, "unreadable archive");
            break;
        }
        const Entry& entry = entries[i];
        const std::string path = folder + entry.name;
        if (entry.folder) {
            ok = files->createDirectory(path) || fail(error, "cannot create " + path);
            continue;
        }
        const size_t slash = path.find_last_of('/');
        if (!files->createDirectory(path.substr(0, slash + 1))) {
            ok = fail(error, "cannot create the folder of " + path);
            break;
        }
        written.push_back(path);
        ok = extractCurrent(zip, entry, path, error);
    }
    unzClose(zip);
    if (!ok) {
        for (const std::string& path : written)
            std::remove(path.c_str());
    }
    return ok;
}

} // namespace detail
} // namespace extension
} // namespace cocos2d
