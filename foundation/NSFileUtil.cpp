#include "NSFileUtil.h"

#include "NSStringUtil.h"
#include "NSZip.h"

#include "cocos2d.h"
#include "diskWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

USING_NS_CC;

namespace {

// Room after the data of a buffer returned by readFileData: the callers treat it as a C string.
constexpr size_t kReadPadding = 10;

// The names in a folder, without "." and "..", sorted in byte order.
std::vector<std::string> sortedEntries(const std::string& folderWithSlash)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folderWithSlash.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

enum class EntryKind { File, Folder, Skip };

// Folders are real folders only; a link counts as what it points to, except that a link to a
// folder (or to nothing) is skipped so that listings never leave the tree or loop.
EntryKind entryKind(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return EntryKind::Skip;
    if (S_ISDIR(info.st_mode))
        return EntryKind::Folder;
    if (S_ISLNK(info.st_mode)) {
        struct stat target {};
        if (stat(path.c_str(), &target) != 0 || S_ISDIR(target.st_mode))
            return EntryKind::Skip;
    }
    return EntryKind::File;
}

std::string withTrailingSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::string withoutOneTrailingSlash(std::string path)
{
    if (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

bool isFileEmpty(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

// argv-style call of a front-end: the texts stay alive for the call.
int callFrontEnd(int (*frontEnd)(int, char**), const std::vector<std::string>& args)
{
    std::vector<std::vector<char>> storage;
    storage.reserve(args.size());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) {
        storage.emplace_back(arg.begin(), arg.end());
        storage.back().push_back('\0');
        argv.push_back(storage.back().data());
    }
    argv.push_back(nullptr);
    return frontEnd(static_cast<int>(args.size()), argv.data());
}

} // namespace

unsigned char* readFileData(const std::string& path, unsigned long* size, bool raw)
{
    *size = 0;
    FileUtils* files = FileUtils::getInstance();
    if (raw) {
        Data data = files->getDataFromFile(path);
        if (data.isNull() || data.getSize() <= 0)
            return nullptr;
        const auto length = static_cast<size_t>(data.getSize());
        auto* buffer = new unsigned char[length + kReadPadding]();
        std::memcpy(buffer, data.getBytes(), length);
        *size = static_cast<unsigned long>(length);
        return buffer;
    }
    const std::string text = files->getStringFromFile(path);
    if (text.empty())
        return nullptr;
    auto* buffer = new unsigned char[text.size() + kReadPadding]();
    std::memcpy(buffer, text.c_str(), std::strlen(text.c_str()));   // up to the first NUL
    *size = static_cast<unsigned long>(text.size());
    return buffer;
}

bool writeBufferToFile(const std::string& path, const void* buffer, size_t size)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (!FileUtils::getInstance()->createDirectory(path.substr(0, slash)))
            return false;
    }
    // Through the one writer, so that a full disk is counted and told like any other.
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) {
        disk::noteFailure(errno);
        return false;
    }
    const bool written = disk::writeAll(file, buffer, size);
    const bool closed = ::close(file) == 0;
    if (!written || !closed) {
        // The reason stays with the writer (disk::lastError) for whoever tells the user.
        if (written)
            disk::noteFailure(errno);
        log("writeBufferToFile: faild, size=%lld,writeSize=%lld", static_cast<long long>(size),
            0LL);
        return false;
    }
    return true;
}

bool writeStringToFile(const std::string& path, const std::string& text)
{
    return writeBufferToFile(path, text.data(), text.size());
}

bool copyFile(const std::string& source, const std::string& target)
{
    if (source == target)
        return true;
    unsigned long size = 0;
    std::unique_ptr<unsigned char[]> data(readFileData(source, &size, true));
    if (!data)
        return false;
    if (!writeBufferToFile(target, data.get(), size)) {
        log("copy file: faild");
        return false;
    }
    return true;
}

bool copyDirectory(const std::string& source, const std::string& target)
{
    if (source == target)
        return true;
    const std::string from = withTrailingSlash(source);
    const std::string to = withTrailingSlash(target);

    std::vector<std::string> files;
    listFiles(from, files, true, true);
    FileUtils* fileUtils = FileUtils::getInstance();
    for (const std::string& path : files) {
        if (fileUtils->isDirectoryExist(path))
            continue;
        // listFiles gives from-without-slash + "/" + relative path, so the relative part starts
        // right after `from`.
        const size_t slash = path.rfind('/');
        const std::string relativeFolder = path.substr(from.size(), slash + 1 - from.size());
        const std::string name = path.substr(slash + 1);
        if (!fileUtils->createDirectory(to + relativeFolder))
            return false;
        unsigned long size = 0;
        std::unique_ptr<unsigned char[]> data(readFileData(path, &size, true));
        if (!data) {
            // An empty file is still a file of the tree (a marker, a placeholder): keep it.
            if (isFileEmpty(path) && !writeBufferToFile(to + relativeFolder + name, "", 0))
                return false;
            continue;
        }
        if (!writeBufferToFile(to + relativeFolder + name, data.get(), size))
            return false;
    }
    return true;
}

std::string getParentDirectory(const std::string& path)
{
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.back() == '/')
        trimmed.pop_back();
    const size_t separator = trimmed.find_last_of("/\\");
    if (separator == std::string::npos)
        return trimmed;
    return trimmed.substr(0, separator);
}

void listFiles(const std::string& folder, std::vector<std::string>& out, bool recursive, bool fullPath)
{
    if (folder.empty())
        return;
    const std::string base = withoutOneTrailingSlash(folder);
    for (const std::string& name : sortedEntries(base + "/")) {
        const std::string path = base + "/" + name;
        switch (entryKind(path)) {
        case EntryKind::File:
            out.push_back(fullPath ? path : name);
            break;
        case EntryKind::Folder:
            if (recursive && name[0] != '.')
                listFiles(path, out, recursive, fullPath);
            break;
        case EntryKind::Skip:
            break;
        }
    }
}

void listSubdirectories(const std::string& folder, std::vector<std::string>& out)
{
    if (folder.empty())
        return;
    const std::string base = withoutOneTrailingSlash(folder);
    for (const std::string& name : sortedEntries(base + "/")) {
        const std::string path = base + "/" + name;
        if (name[0] != '.' && entryKind(path) == EntryKind::Folder)
            out.push_back(path);
    }
}

bool zipFiles(const std::string& archivePath, const std::string& source, const std::string& password)
{
    FileUtils* fileUtils = FileUtils::getInstance();
    if (!fileUtils->createDirectory(getParentDirectory(archivePath)))
        return false;

    const std::string from = withoutOneTrailingSlash(source);
    std::vector<std::string> files;
    if (fileUtils->isDirectoryExist(from))
        listFiles(from, files, true, true);
    else
        files.push_back(from);
    if (files.empty())
        return false;

    std::vector<std::string> args = {".", "-o", "-9"};
    if (!password.empty()) {
        args.push_back("-p");
        args.push_back(password);
    }
    args.push_back(archivePath);
    args.push_back(getParentDirectory(from));   // stored names begin with the source's own name
    for (const std::string& file : files)
        args.push_back(fileUtils->isDirectoryExist(file) ? withTrailingSlash(file) : file);
    return callFrontEnd(zipMain, args) == 0;
}

bool unzipFile(const std::string& archivePath, const std::string& destination, const std::string& password,
               int* outcome, std::string* unsafeEntry)
{
    int ignored = 0;
    int& result = outcome ? *outcome : ignored;
    result = 1;   // the archive cannot be opened, as unzipMain says it
    const std::string to = withTrailingSlash(destination);
    if (archivePath.find_first_of("/\\") == std::string::npos)
        return false;

    unzFile archive = unzOpen64(archivePath.c_str());
    if (!archive)
        return false;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) {
        unzClose(archive);
        return false;
    }

    // First every name and the archive's bounds are checked, so that a hostile archive is refused
    // before anything is created; then every entry's folder is made.
    result = checkZipArchive(archive, to.c_str(), unsafeEntry);
    if (result != 0) {
        log("unzip result:%i", result);
        unzClose(archive);
        return false;
    }
    std::vector<std::string> names;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        unz_file_info64 info{};
        bool ok = unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK;
        std::vector<char> name(static_cast<size_t>(info.size_filename) + 1, '\0');
        ok = ok && unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                                           nullptr, 0) == UNZ_OK;
        ok = ok && (i + 1 >= global.number_entry || unzGoToNextFile(archive) == UNZ_OK);
        if (!ok) {
            unzClose(archive);
            result = -1000;   // an entry's information cannot be read
            return false;
        }
        std::string text(name.data());
        std::replace(text.begin(), text.end(), '\\', '/');
        names.push_back(text);
    }
    unzClose(archive);

    // The folders made here, so that a failed extraction can take them away again.
    std::vector<std::string> made;
    auto removeMade = [&made]() {
        std::sort(made.begin(), made.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& folder : made)
            ::rmdir(folder.c_str());   // only when empty: what was there before stays
    };
    FileUtils* fileUtils = FileUtils::getInstance();
    for (const std::string& name : names) {
        const std::string folder = (!name.empty() && name.back() == '/') ? to + name : getParentDirectory(to + name);
        struct stat info {};
        // Every folder made before exists now, so none is listed twice.
        for (std::string missing = folder; !missing.empty() && missing != "/" && ::stat(missing.c_str(), &info) != 0;
             missing = getParentDirectory(missing))
            made.push_back(missing);
        if (!fileUtils->createDirectory(folder)) {
            log("unzip: refused: the folder \"%s\" cannot be made (%zu bytes of path, %s)", validUtf8(folder).c_str(),
                folder.size(), std::strerror(errno));
            removeMade();
            result = -1002;   // an output cannot be created, as unzipMain says it
            return false;
        }
    }

    std::vector<std::string> args = {".", "-x", "-o"};
    if (!password.empty()) {
        args.push_back("-p");
        args.push_back(password);
    }
    args.push_back(archivePath);
    args.push_back("-d");
    args.push_back(to);
    result = callFrontEnd(unzipMain, args);
    log("unzip result:%i", result);
    if (result != 0)
        removeMade();
    return result == 0;
}
