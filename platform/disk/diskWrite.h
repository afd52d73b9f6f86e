// The one place through which the program's files reach the disk: received and retrieved images,
// imported copies, converted images, series caches, thumbnails, captures, settings and every other
// whole file the framework writes. A full disk is met (and, in tests, made) here, so no writer can
// forget what it means: a write either takes everything or reports failure with errno set to the
// system's own reason (ENOSPC on a full disk, EDQUOT over a quota), the reason kept for the thread
// (lastError) and a full disk counted for the one notice the user gets (takeNoRoomNotice).
//
// A short write that leaves no error behind is reported as ENOSPC, as the kernel means it. Every
// function may be called from any thread. The framework and the DICOM layer both stand on this
// library; it stands on nothing but the C library.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace disk {

// Writes all `size` bytes to fd (retrying interrupted and short writes).
bool writeAll(int fd, const void* data, size_t size);
// Copies what is left of `from` to `to`, in the kernel where it can.
bool copyAll(int from, int to);

// How a whole file is written.
enum class Durability {
  Written,  // in the page cache once renamed: what a crash of the program cannot undo
  Synced,   // flushed to the device (file and folder) before and after the rename: survives a crash
            // of the machine; the mode of a file it replaces is kept
};
// Writes path whole or not at all: the bytes go to a hidden temporary name beside it that is
// renamed over it once complete; on failure the temporary is removed and path is left as it was.
bool writeWholeFile(const std::string& path, const void* data, size_t size,
                    Durability durability = Durability::Written);

// Moves the file `from` to `to` (replacing it): a rename where both lie on one file system, which
// takes no room; across file systems a copy written whole beside `to` and renamed into place, then
// the source removed. On failure `to` is as it was and the source stays.
bool moveFile(const std::string& from, const std::string& to);
// Whether moveFile from `from` into the folder `to` is a rename (both on one file system).
bool movesByRename(const std::string& from, const std::string& to);

// A stdio stream for writing onto fd (which stays open; the stream has its own duplicate) whose
// bytes go through writeAll. A write the disk refuses part of reports the part it took, sets the
// stream's error indicator and keeps the reason in lastError. Null, with errno set, when it cannot
// be made.
FILE* openStream(int fd);

// errno of this thread's last failed write through this place (0 when none since clearLastError):
// for callers that hand the writing to a callback and must tell a refused write from other
// failures.
int lastError();
void clearLastError();

// Bytes an unprivileged writer may still put on the file system of path (0 when it cannot be told
// apart from none); no more than the test hook's room.
unsigned long long freeBytes(const std::string& path);

// The room every writer of the library's images (received, retrieved, imported) leaves free on the
// disk, for the library's index to grow into (its write-ahead log alone reaches about 4 MiB between
// checkpoints): an image the index could not list is not kept.
constexpr unsigned long long kKeptForIndexBytes = 8ull << 20;

// ENOSPC or EDQUOT: the disk (or the user's share of it) has no room.
bool isNoRoom(int error);
// "No space left on device" and the like, for the log.
std::string reasonText(int error);
// Records `error` as this thread's last failure of a write that went around this place's
// functions (a library writing through its own calls into a file this place opened), so that it
// counts as any other: for lastError and, when the disk is full, for the notice.
void noteFailure(int error);

// True once when a write has found the disk full since the user was last told, and then not again
// for a minute however many writes fail meanwhile: whoever tells the user (a toast) takes it, so a
// full disk is said once, not once per refused image.
bool takeNoRoomNotice();

// [hook] From now on the writes of this place find room for `bytes` more bytes in all and then fail
// with ENOSPC, as a disk that fills would, and freeBytes says no more; a negative value lifts the
// limit.
void setRoomForTest(long long bytes);
// [hook] Makes the next whole-file writes stop after the temporary file is complete and before the
// rename, as a crash at that moment would (the temporary file is left behind and false is returned).
void setStopBeforeRenameForTest(bool stop);
// [hook] Puts a file system of `bytes` bytes (a tmpfs) at `folder` (an existing, empty folder), seen
// by this process and the programs it starts from now on, so that a test fills a real disk. Only a
// process with one thread can (it enters a user and mount namespace of its own, keeping its user,
// and holds that namespace's capabilities, which the programs it starts do not): false, with the
// reason in `why`, when it cannot. endSmallDiskForTest takes the file system away again.
bool useSmallDiskForTest(const std::string& folder, unsigned long long bytes, std::string& why);
void endSmallDiskForTest(const std::string& folder);
// [hook] Makes moveFile copy as it does across file systems even where a rename would do (and
// movesByRename say so).
void setMoveAcrossFileSystemsForTest(bool across);

}  // namespace disk
