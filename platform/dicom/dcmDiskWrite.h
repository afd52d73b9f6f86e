// The one seam through which the program's files reach the disk: received images, imported
// copies, series caches and thumbnails are all written here, so that a full disk is met (and, in
// tests, made) in one place.
//
// Every function writes everything or reports failure with errno set to the system's own reason
// (ENOSPC on a full disk, EDQUOT over a quota); a short write that leaves no error behind is
// reported as ENOSPC, as the kernel means it. Any thread may call them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace redIRI {
namespace disk {

// Writes all `size` bytes to fd (retrying interrupted and short writes).
bool writeAll(int fd, const void* data, size_t size);
// Copies what is left of `from` to `to`, in the kernel where it can.
bool copyAll(int from, int to);
// Writes path whole or not at all: the bytes go to a hidden temporary name beside it that is
// renamed over it once complete; on failure the temporary is removed and path is left as it was.
bool writeWholeFile(const std::string& path, const void* data, size_t size);
// A stdio stream for writing onto fd (which stays open; the stream has its own duplicate) whose
// bytes go through writeAll. Null, with errno set, when it cannot be made.
FILE* openStream(int fd);

// errno of this thread's last failed write through the seam (0 when none since clearLastError):
// for callers that hand the writing to a callback and must tell a refused write from other
// failures.
int lastError();
void clearLastError();

// Bytes an unprivileged writer may still put on the file system of path (0 when it cannot be told
// apart from none); no more than the test hook's room.
unsigned long long freeBytes(const std::string& path);

// ENOSPC or EDQUOT: the disk (or the user's share of it) has no room.
bool isNoRoom(int error);
// "No space left on device" and the like, for the log.
std::string reasonText(int error);

// [hook] From now on the writes of this seam find room for `bytes` more bytes in all and then fail
// with ENOSPC, as a disk that fills would, and freeBytes says no more; a negative value lifts the
// limit.
void setRoomForTest(long long bytes);

}  // namespace disk
}  // namespace redIRI
