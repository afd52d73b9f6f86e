#include "captureScreenToFile.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"

#include "cocos2d.h"
#include "diskWrite.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Below the writable path: the working tree's top folder, then its temporary captures.
const char* const kCaptureSubfolder = "qv/tmp/capture/";

// Suffixes tried after the plain name; far more than captures can be taken in one second.
const int kMaxNameSuffix = 9999;

} // namespace

std::string getCaptureFolder()
{
    return cocos2d::FileUtils::getInstance()->getWritablePath() + kCaptureSubfolder;
}

std::string claimCaptureFile(const std::string& folder, const std::string& stamp, const std::string& extension)
{
    for (int suffix = 0; suffix <= kMaxNameSuffix; ++suffix)
    {
        const std::string path = suffix == 0
                                     ? folder + stamp + extension
                                     : folder + stamp + formatString("_%d", suffix) + extension;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0)
        {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
        {
            disk::noteFailure(errno);
            cocos2d::log("captureScreenToFile: cannot create %s: %s", path.c_str(), std::strerror(errno));
            return "";
        }
    }
    cocos2d::log("captureScreenToFile: no free name for %s in %s", stamp.c_str(), folder.c_str());
    return "";
}

std::string captureFailedText(int error)
{
    if (disk::isNoRoom(error))
        return "The capture was not saved: the disk is full";
    return "The capture was not saved";
}

bool captureScreenToFile(int x, int y, int width, int height, const CaptureFailed& failed)
{
    cocos2d::FileUtils* files = cocos2d::FileUtils::getInstance();
    const std::string folder = getCaptureFolder();
    // An existing folder is fine; a folder that cannot be made shows up as the claim failing.
    files->createDirectory(folder);
    disk::clearLastError();
    const std::string claimed = claimCaptureFile(folder, getTimestampString());
    if (claimed.empty())
    {
        if (failed)
            failed(captureFailedText(disk::lastError()));
        return false;
    }

    cocos2d::utils::captureScreen(
        [claimed, failed](bool succeeded, const std::string& file) {
            if (!succeeded)
            {
                // The file is written on this thread, just before this call: the reason a write
                // failed with is this thread's last.
                const int why = disk::lastError();
                // The empty placeholder must not pass for a capture in the folder's listings.
                cocos2d::FileUtils::getInstance()->removeFile(claimed);
                cocos2d::log("captureScreenToFile: capture not written: %s%s%s", claimed.c_str(), why ? ": " : "",
                             why ? disk::reasonText(why).c_str() : "");
                if (failed)
                    failed(captureFailedText(why));
                return;
            }
            NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_CAPTURE_SAVED,
                                                                               file, nullptr, false);
        },
        claimed, x, y, width, height);
    return true;
}
