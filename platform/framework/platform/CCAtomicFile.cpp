#include "platform/CCAtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cocos2d {
namespace detail {

namespace {

std::atomic<bool> g_stopBeforeRename{false};

bool writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool writeFileAtomically(const std::string& path, const void* data, size_t size)
{
    if (path.empty() || path.back() == '/') {
        return false;
    }
    std::vector<char> tmpl(path.begin(), path.end());
    const char suffix[] = ".tmp-XXXXXX";
    tmpl.insert(tmpl.end(), suffix, suffix + sizeof suffix); // includes the NUL
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const std::string tmpPath(tmpl.data());

    // Keep the mode of the file being replaced; new files get the usual rw-r--r--.
    struct stat old{};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, data, size) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && g_stopBeforeRename.load()) {
        return false; // as if the process died here: the temporary file stays, the target is untouched
    }
    if (ok) {
        ok = ::rename(tmpPath.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        ::unlink(tmpPath.c_str());
        return false;
    }
    const int dirFd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void setAtomicWriteStopBeforeRenameForTest(bool stop)
{
    g_stopBeforeRename.store(stop);
}

} // namespace detail
} // namespace cocos2d
