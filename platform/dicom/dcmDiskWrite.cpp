#include "dcmDiskWrite.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <memory>
#include <unistd.h>

namespace redIRI {
namespace disk {

namespace {

// Bytes the test hook leaves room for; negative: no limit.
std::atomic<long long> g_room{-1};
thread_local int t_lastError = 0;

bool failed() {
  t_lastError = errno;
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

constexpr size_t kCopyPiece = size_t(1) << 20;

std::string hiddenTemporaryOf(const std::string& path) {
  static std::atomic<unsigned long> counter{0};
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  // The library removes files of this name left by a process that is gone.
  return folder + ".incoming-" + std::to_string(::getpid()) + "-w" + std::to_string(++counter);
}

ssize_t streamWrite(void* cookie, const char* data, size_t size) {
  return writeAll(*static_cast<int*>(cookie), data, size) ? static_cast<ssize_t>(size) : -1;
}

int streamClose(void* cookie) {
  std::unique_ptr<int> fd(static_cast<int*>(cookie));
  return ::close(*fd);
}

}  // namespace

bool writeAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const size_t allowed = takeRoom(size);
    if (allowed == 0) {
      errno = ENOSPC;
      return failed();
    }
    const ssize_t n = ::write(fd, p, allowed);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return failed();
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
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
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
        inKernel = false;
        n = -1;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0) {
        return failed();
      }
    }
    if (!inKernel) {
      if (!buffer) buffer.reset(new char[kCopyPiece]);
      n = ::read(from, buffer.get(), allowed);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return failed();
      if (n > 0 && !writeAll(to, buffer.get(), static_cast<size_t>(n))) return false;
    }
    // What the hook granted and the piece did not use is given back.
    if (g_room.load() >= 0) g_room += static_cast<long long>(allowed) - n;
    if (n == 0) return true;
  }
}

bool writeWholeFile(const std::string& path, const void* data, size_t size) {
  const std::string temp = hiddenTemporaryOf(path);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return failed();
  bool ok = writeAll(fd, data, size);
  int why = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    why = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    why = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = why;
    t_lastError = why;
  }
  return ok;
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

void setRoomForTest(long long bytes) { g_room.store(bytes < 0 ? -1 : bytes); }

}  // namespace disk
}  // namespace redIRI
