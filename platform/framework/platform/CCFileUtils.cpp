#include "platform/CCFileUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ccMacros.h"
#include "platform/CCAtomicFile.h"
#include "platform/CCPlistReader.h"
#include "qvBuildPaths.h"

namespace cocos2d {

namespace {

FileUtils* g_fileUtils = nullptr;
std::mutex g_fileUtilsCreate;

const char kWritableFolder[] = "quorvane/";

std::string withSlash(const std::string& path)
{
    if (path.empty() || path.back() == '/') {
        return path;
    }
    return path + "/";
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool pathExists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads the whole file; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, Data* out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    size_t capacity = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 4096;
    auto* buf = static_cast<unsigned char*>(std::malloc(capacity));
    size_t used = 0;
    bool ok = buf != nullptr;
    while (ok) {
        if (used == capacity) { // the file grew while we read it
            capacity *= 2;
            auto* bigger = static_cast<unsigned char*>(std::realloc(buf, capacity));
            if (!bigger) {
                ok = false;
                break;
            }
            buf = bigger;
        }
        const ssize_t n = ::read(fd, buf + used, capacity - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            used += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    if (!ok || used == 0) {
        std::free(buf);
        out->clear();
        return ok;
    }
    out->fastSet(buf, static_cast<ssize_t>(used));
    return true;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

} // namespace

FileUtils* FileUtils::getInstance()
{
    std::lock_guard<std::mutex> lock(g_fileUtilsCreate);
    if (!g_fileUtils) {
        g_fileUtils = new FileUtils();
    }
    return g_fileUtils;
}

void FileUtils::destroyInstance()
{
    std::lock_guard<std::mutex> lock(g_fileUtilsCreate);
    delete g_fileUtils;
    g_fileUtils = nullptr;
}

FileUtils::FileUtils()
{
#ifdef QV_RESOURCE_DIR
    _defaultResRootPath = withSlash(QV_RESOURCE_DIR);
#else
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("./");
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    _defaultResRootPath = dir + "Resources/";
#endif
}

FileUtils::~FileUtils() = default;

// ---------------------------------------------------------------------------------------------
// search paths

std::string FileUtils::expandSearchPath(const std::string& path) const
{
    return withSlash(isAbsolutePath(path) ? path : _defaultResRootPath + path);
}

// With _pathsMutex held exclusively.
void FileUtils::rebuildSearchPaths()
{
    _searchPaths.clear();
    for (const std::string& p : _originalSearchPaths) {
        _searchPaths.push_back(expandSearchPath(p));
    }
    purgeCachedEntries();
}

std::vector<std::string> FileUtils::getSearchPaths() const
{
    std::shared_lock<std::shared_mutex> lock(_pathsMutex);
    return _searchPaths;
}

std::string FileUtils::getDefaultResourceRootPath() const
{
    std::shared_lock<std::shared_mutex> lock(_pathsMutex);
    return _defaultResRootPath;
}

void FileUtils::setSearchPaths(const std::vector<std::string>& searchPaths)
{
    std::unique_lock<std::shared_mutex> lock(_pathsMutex);
    _originalSearchPaths = searchPaths;
    rebuildSearchPaths();
}

void FileUtils::addSearchPath(const std::string& path, bool front)
{
    std::unique_lock<std::shared_mutex> lock(_pathsMutex);
    const std::string expanded = expandSearchPath(path);
    for (size_t i = 0; i < _searchPaths.size(); ++i) {
        if (_searchPaths[i] == expanded) {
            if (!front || i == 0) {
                return;
            }
            _originalSearchPaths.erase(_originalSearchPaths.begin() + ptrdiff_t(i));
            break;
        }
    }
    if (front) {
        _originalSearchPaths.insert(_originalSearchPaths.begin(), path);
    } else {
        _originalSearchPaths.push_back(path);
    }
    rebuildSearchPaths();
}

void FileUtils::setDefaultResourceRootPath(const std::string& path)
{
    std::unique_lock<std::shared_mutex> lock(_pathsMutex);
    _defaultResRootPath = withSlash(path);
    rebuildSearchPaths();
}

void FileUtils::purgeCachedEntries()
{
    std::lock_guard<std::mutex> lock(_cacheMutex);
    _fullPathCache.clear();
}

// ---------------------------------------------------------------------------------------------
// lookup

std::string FileUtils::fullPathForFilename(const std::string& filename) const
{
    if (filename.empty()) {
        return std::string();
    }
    if (isAbsolutePath(filename)) {
        if (pathExists(filename)) {
            return filename;
        }
        log("fullPathForFilename: no file found at %s", filename.c_str());
        return std::string();
    }
    // Held to the end, so that a hit found through the list is cached only while it is current.
    std::shared_lock<std::shared_mutex> paths(_pathsMutex);
    {
        std::lock_guard<std::mutex> lock(_cacheMutex);
        auto it = _fullPathCache.find(filename);
        if (it != _fullPathCache.end()) {
            return it->second;
        }
    }
    std::string found;
    for (const std::string& searchPath : _searchPaths) {
        if (pathExists(searchPath + filename)) {
            found = searchPath + filename;
            break;
        }
    }
    if (found.empty() && pathExists(_defaultResRootPath + filename)) {
        found = _defaultResRootPath + filename;
    }
    if (found.empty()) {
        log("fullPathForFilename: no file found at %s", filename.c_str());
        return std::string();
    }
    std::lock_guard<std::mutex> lock(_cacheMutex);
    _fullPathCache[filename] = found;
    return found;
}

bool FileUtils::isFileExist(const std::string& filename) const
{
    if (filename.empty()) {
        return false;
    }
    if (isAbsolutePath(filename)) {
        struct stat st{};
        return ::stat(filename.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    }
    std::shared_lock<std::shared_mutex> paths(_pathsMutex);
    for (const std::string& searchPath : _searchPaths) {
        struct stat st{};
        if (::stat((searchPath + filename).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            return true;
        }
    }
    struct stat st{};
    return ::stat((_defaultResRootPath + filename).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileUtils::isDirectoryExist(const std::string& dirPath) const
{
    if (dirPath.empty()) {
        return false;
    }
    if (isAbsolutePath(dirPath)) {
        return isDirectory(dirPath);
    }
    std::shared_lock<std::shared_mutex> paths(_pathsMutex);
    for (const std::string& searchPath : _searchPaths) {
        if (isDirectory(searchPath + dirPath)) {
            return true;
        }
    }
    return isDirectory(_defaultResRootPath + dirPath);
}

long FileUtils::getFileSize(const std::string& filepath) const
{
    const std::string full = isAbsolutePath(filepath) ? filepath : fullPathForFilename(filepath);
    struct stat st{};
    if (full.empty() || ::stat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return -1;
    }
    return static_cast<long>(st.st_size);
}

// ---------------------------------------------------------------------------------------------
// reading

Data FileUtils::getDataFromFile(const std::string& filename) const
{
    Data data;
    const std::string full = isAbsolutePath(filename) ? filename : fullPathForFilename(filename);
    if (!full.empty()) {
        readWholeFile(full, &data);
    }
    return data;
}

std::string FileUtils::getStringFromFile(const std::string& filename) const
{
    const Data data = getDataFromFile(filename);
    if (data.isNull()) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(data.getBytes()), static_cast<size_t>(data.getSize()));
}

ValueMap FileUtils::getValueMapFromFile(const std::string& filename) const
{
    const Data data = getDataFromFile(filename);
    if (data.isNull()) {
        return ValueMap();
    }
    return detail::readPlistDictionary(reinterpret_cast<const char*>(data.getBytes()),
                                       static_cast<size_t>(data.getSize()));
}

ValueMap FileUtils::getValueMapFromData(const char* filedata, int filesize) const
{
    if (!filedata || filesize <= 0) {
        return ValueMap();
    }
    return detail::readPlistDictionary(filedata, static_cast<size_t>(filesize));
}

// ---------------------------------------------------------------------------------------------
// writing

bool FileUtils::writeStringToFile(const std::string& dataStr, const std::string& fullPath)
{
    const bool ok = detail::writeFileAtomically(fullPath, dataStr.data(), dataStr.size());
    purgeCachedEntries();
    return ok;
}

bool FileUtils::writeDataToFile(const Data& data, const std::string& fullPath)
{
    const bool ok = detail::writeFileAtomically(fullPath, data.getBytes(), static_cast<size_t>(data.getSize()));
    purgeCachedEntries();
    return ok;
}

bool FileUtils::createDirectory(const std::string& dirPath)
{
    if (dirPath.empty()) {
        return false;
    }
    purgeCachedEntries();
    const std::string path = withoutTrailingSlashes(dirPath);
    if (isDirectory(path)) {
        return true;
    }
    // Each prefix ending before a '/', then the whole path.
    size_t pos = path[0] == '/' ? 1 : 0;
    while (true) {
        const size_t slash = path.find('/', pos);
        const std::string part = slash == std::string::npos ? path : path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
        pos = slash + 1;
    }
    return isDirectory(path);
}

bool FileUtils::removeDirectory(const std::string& dirPath)
{
    const std::string path = withoutTrailingSlashes(dirPath);
    std::string writable;
    {
        std::lock_guard<std::mutex> lock(_writableMutex);
        writable = _writablePath.empty() ? defaultWritablePath() : _writablePath;
    }
    // The writable path holds the user's library and settings: neither it nor a folder above it
    // is ever removed wholesale.
    if (path.empty() || path == "/" || withSlash(writable).compare(0, path.size() + 1, path + "/") == 0) {
        log("removeDirectory: refused to remove '%s'", dirPath.c_str());
        return false;
    }
    purgeCachedEntries();
    if (!isDirectory(path)) {
        return false;
    }
    return ::nftw(path.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS) == 0;
}

bool FileUtils::removeFile(const std::string& filepath)
{
    purgeCachedEntries();
    return ::unlink(filepath.c_str()) == 0;
}

bool FileUtils::renameFile(const std::string& path, const std::string& oldname, const std::string& name)
{
    return renameFile(withSlash(path) + oldname, withSlash(path) + name);
}

bool FileUtils::renameFile(const std::string& oldfullpath, const std::string& newfullpath)
{
    purgeCachedEntries();
    return ::rename(oldfullpath.c_str(), newfullpath.c_str()) == 0;
}

// ---------------------------------------------------------------------------------------------
// writable path

std::string FileUtils::defaultWritablePath() const
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') { // relative values are invalid and ignored
        return withSlash(xdg) + kWritableFolder;
    }
    const char* home = std::getenv("HOME");
    std::string homeDir = home && home[0] ? home : "";
    if (homeDir.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid())) {
            homeDir = pw->pw_dir ? pw->pw_dir : "";
        }
    }
    if (homeDir.empty()) {
        homeDir = "/tmp";
    }
    return withSlash(homeDir) + ".local/share/" + kWritableFolder;
}

std::string FileUtils::getWritablePath() const
{
    std::string path;
    {
        std::lock_guard<std::mutex> lock(_writableMutex);
        path = _writablePath.empty() ? defaultWritablePath() : _writablePath;
        if (path == _createdWritablePath) {
            return path;
        }
    }
    if (!const_cast<FileUtils*>(this)->createDirectory(path)) {
        log("getWritablePath: cannot create %s", path.c_str());
        return path;
    }
    std::lock_guard<std::mutex> lock(_writableMutex);
    _createdWritablePath = path;
    return path;
}

void FileUtils::setWritablePath(const std::string& writablePath)
{
    std::lock_guard<std::mutex> lock(_writableMutex);
    _writablePath = withSlash(writablePath);
}

} // namespace cocos2d
