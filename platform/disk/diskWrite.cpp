#include "diskWrite.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace disk {

namespace {

// Bytes the test hook leaves room for; negative: no limit.
std::atomic<long long> g_room{-1};
std::atomic<bool> g_stopBeforeRename{false};
std::atomic<bool> g_moveAcross{false};
thread_local int t_lastError = 0;

// Writes refused for want of room, and how many of them the user has been told about (or were
// passed over in the quiet after a notice).
std::atomic<unsigned long> g_noRoomFailures{0};
std::atomic<unsigned long> g_noRoomTold{0};
// When the last notice was taken (steady clock, ms); far in the past when none was.
std::atomic<long long> g_lastNoticeMs{-(1LL << 62)};
constexpr long long kNoticeQuietMs = 60 * 1000;

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void record(int error) {
  t_lastError = error;
  if (isNoRoom(error)) ++g_noRoomFailures;
}

// Records errno as the thread's last failure; false, for `return failed();`.
bool failed() {
  record(errno);
  return false;
}

// Of `wanted` bytes, how many the hook lets through (all of them without a limit); 0 means the
// "disk" is full.
size_t takeRoom(size_t wanted) {
  long long room = g_room.load();
  while (room >= 0) {
    const long long granted = std::min<long long>(room, static_cast<long long>(wanted));
    if (g_room.compare_exchange_weak(room, room - granted)) return static_cast<size_t>(granted);
  }
  return wanted;
}

// Writes what it can of `size` bytes: all of them, or fewer with errno set and recorded.
size_t writeUpTo(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const size_t allowed = takeRoom(size - done);
    if (allowed == 0) {
      errno = ENOSPC;
      failed();
      return done;
    }
    const ssize_t n = ::write(fd, data + done, allowed);
    if (n < 0 && errno == EINTR) {
      if (g_room.load() >= 0) g_room += static_cast<long long>(allowed);
      continue;
    }
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      failed();
      return done;
    }
    // What the hook granted and the system did not take is given back.
    if (g_room.load() >= 0) g_room += static_cast<long long>(allowed) - n;
    done += static_cast<size_t>(n);
  }
  return done;
}

constexpr size_t kCopyPiece = size_t(1) << 20;

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string hiddenTemporaryOf(const std::string& path) {
  static std::atomic<unsigned long> counter{0};
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  // The library removes files of this name left by a process that is gone.
  return folder + ".incoming-" + std::to_string(::getpid()) + "-w" + std::to_string(++counter);
}

void syncFolderOf(const std::string& path) {
  const int dirFd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

// The stream's write function. The C library's contract (fopencookie(3)): the number of bytes
// taken, 0 on error, never a negative value; a count short of `size` is the error, and the stream
// counts exactly that many bytes as written. Anything else makes it miscount what is left of the
// caller's buffer and read past its end.
ssize_t streamWrite(void* cookie, const char* data, size_t size) {
  return static_cast<ssize_t>(writeUpTo(*static_cast<int*>(cookie), data, size));
}

int streamClose(void* cookie) {
  std::unique_ptr<int> fd(static_cast<int*>(cookie));
  return ::close(*fd);
}

}  // namespace

bool writeAll(int fd, const void* data, size_t size) {
  return writeUpTo(fd, static_cast<const char*>(data), size) == size;
}

bool copyAll(int from, int to) {
  bool inKernel = true;
  std::unique_ptr<char[]> buffer;
  for (;;) {
    const size_t allowed = takeRoom(kCopyPiece);
    if (allowed == 0) {
      // Room for nothing more: only a source at its end still copies whole.
      char probe;
      const ssize_t n = ::read(from, &probe, 1);
      if (n == 0) return true;
      errno = n < 0 ? errno : ENOSPC;
      return failed();
    }
    ssize_t n = -1;
    if (inKernel) {
      n = ::copy_file_range(from, nullptr, to, nullptr, allowed, 0);
      const int why = errno;
      // What the hook granted and the piece did not use is given back.
      if (g_room.load() >= 0) g_room += static_cast<long long>(allowed) - std::max<ssize_t>(n, 0);
      errno = why;
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
        inKernel = false;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0) {
        return failed();
      } else if (n == 0) {
        return true;
      } else {
        continue;
      }
    }
    // Through a buffer: the grant only bounds the read; writeAll takes its own room.
    if (!buffer) buffer.reset(new char[kCopyPiece]);
    n = ::read(from, buffer.get(), allowed);
    if (g_room.load() >= 0) g_room += static_cast<long long>(allowed);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failed();
    if (n == 0) return true;
    if (!writeAll(to, buffer.get(), static_cast<size_t>(n))) return false;
  }
}

bool writeWholeFile(const std::string& path, const void* data, size_t size, Durability durability) {
  if (path.empty() || path.back() == '/') {
    errno = EISDIR;
    return failed();
  }
  const bool synced = durability == Durability::Synced;
  const std::string temp = hiddenTemporaryOf(path);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return failed();
  bool ok = true;
  if (synced) {
    // Keep the mode of the file being replaced; new files get the usual rw-r--r--.
    struct stat old {};
    ok = ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644) == 0;
  }
  ok = ok && writeAll(fd, data, size) && (!synced || ::fsync(fd) == 0);
  int why = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    why = errno;
  }
  if (ok && g_stopBeforeRename.load()) {
    // As if the process died here: the temporary file stays, the target is untouched.
    errno = EINTR;
    return false;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    why = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = why;
    record(why);
    return false;
  }
  if (synced) syncFolderOf(path);
  return true;
}

bool moveFile(const std::string& from, const std::string& to) {
  if (!g_moveAcross.load()) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return failed();
  }
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return failed();
  struct stat info {};
  const mode_t mode = ::fstat(in, &info) == 0 ? (info.st_mode & 0777) : 0644;
  const std::string temp = hiddenTemporaryOf(to);
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (out < 0) {
    const int why = errno;
    ::close(in);
    errno = why;
    return failed();
  }
  bool ok = copyAll(in, out);
  int why = ok ? 0 : errno;
  if (::close(out) != 0 && ok) {
    ok = false;
    why = errno;
  }
  ::close(in);
  if (ok && ::rename(temp.c_str(), to.c_str()) != 0) {
    ok = false;
    why = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = why;
    record(why);
    return false;
  }
  // The copy is in place; a source that cannot be removed stays as a copy, never as a loss.
  ::unlink(from.c_str());
  return true;
}

bool movesByRename(const std::string& from, const std::string& to) {
  struct stat source {}, target {};
  return !g_moveAcross.load() && ::stat(from.c_str(), &source) == 0 && ::stat(to.c_str(), &target) == 0 &&
         source.st_dev == target.st_dev;
}

FILE* openStream(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  cookie_io_functions_t functions{};
  functions.write = streamWrite;
  functions.close = streamClose;
  auto cookie = std::make_unique<int>(copy);
  FILE* stream = ::fopencookie(cookie.get(), "wb", functions);
  if (!stream) {
    const int why = errno;
    ::close(copy);
    errno = why;
    return nullptr;
  }
  cookie.release();  // closed and freed by streamClose
  return stream;
}

unsigned long long freeBytes(const std::string& path) {
  struct statvfs info {};
  unsigned long long bytes =
      ::statvfs(path.c_str(), &info) == 0 ? static_cast<unsigned long long>(info.f_bavail) * info.f_frsize : 0;
  const long long room = g_room.load();
  return room >= 0 ? std::min(bytes, static_cast<unsigned long long>(room)) : bytes;
}

int lastError() { return t_lastError; }

void clearLastError() { t_lastError = 0; }

bool isNoRoom(int error) { return error == ENOSPC || error == EDQUOT; }

std::string reasonText(int error) { return std::strerror(error); }

void noteFailure(int error) { record(error); }

bool takeNoRoomNotice() {
  const unsigned long failures = g_noRoomFailures.load();
  if (g_noRoomTold.exchange(failures) == failures) return false;
  const long long now = nowMs();
  long long last = g_lastNoticeMs.load();
  // Failures in the quiet after a notice are passed over; one thread takes a notice.
  return now - last >= kNoticeQuietMs && g_lastNoticeMs.compare_exchange_strong(last, now);
}

void setRoomForTest(long long bytes) {
  g_room.store(bytes < 0 ? -1 : bytes);
  g_lastNoticeMs.store(-(1LL << 62));
}

void setStopBeforeRenameForTest(bool stop) { g_stopBeforeRename.store(stop); }

namespace {

bool writeProcFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

}  // namespace

bool useSmallDiskForTest(const std::string& folder, unsigned long long bytes, std::string& why) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
    why = std::string("no namespace of its own: ") + std::strerror(errno);
    return false;
  }
  // The same user and group inside as outside, so that files keep their owners.
  if (!writeProcFile("/proc/self/setgroups", "deny") ||
      !writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
      !writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1")) {
    why = std::string("cannot map the user: ") + std::strerror(errno);
    return false;
  }
  bool ok = ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    ("size=" + std::to_string(bytes) + ",mode=0755").c_str()) == 0;
  if (!ok) why = std::string("cannot mount a small disk: ") + std::strerror(errno);
  return ok;
}

void endSmallDiskForTest(const std::string& folder) { ::umount2(folder.c_str(), MNT_DETACH); }

void setMoveAcrossFileSystemsForTest(bool across) { g_moveAcross.store(across); }

}  // namespace disk
