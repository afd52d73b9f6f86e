#include "NSHttpResponse.h"

#include "NSHttpRequest.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace NSUI {

NSHttpResponse::NSHttpResponse(NSHttpRequest* request) : request(request) {
    request->retain();
    if (request->kind != NSHttpRequest::DOWNLOAD || request->downloadPath.empty())
        return;
    // In the target's folder, so that the final rename never crosses file systems.
    std::string pattern = request->downloadPath + ".partXXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return;
    downloadFile = ::fdopen(fd, "wb");
    if (!downloadFile) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return;
    }
    // mkstemp makes the file private (0600); a downloaded file gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    downloadTempPath = pattern;
}

NSHttpResponse::~NSHttpResponse() {
    closeDownloadFile();
    request->release();
}

bool NSHttpResponse::finishDownload(bool keep) {
    bool written = false;
    if (downloadFile) {
        written = std::fflush(downloadFile) == 0 && ::fsync(::fileno(downloadFile)) == 0;
        written = std::fclose(downloadFile) == 0 && written;
        downloadFile = nullptr;
    }
    if (downloadTempPath.empty())
        return false;
    bool placed = false;
    if (keep && written)
        placed = std::rename(downloadTempPath.c_str(), request->downloadPath.c_str()) == 0;
    if (!placed)
        ::unlink(downloadTempPath.c_str());
    downloadTempPath.clear();
    return placed;
}

}  // namespace NSUI
