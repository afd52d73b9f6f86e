// Writing through the one place: a stream the disk refuses part of reports exactly what it took,
// moves take no room where they can rename, and a full disk is told once.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "diskWrite.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "qv-disk-XXXXXX").string();
    path = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~Folder() {
    disk::setRoomForTest(-1);
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// The C library counts what a stream's write function reports as taken: a write the disk takes
// only part of must report that part (and no error count), or the stream reads past the caller's
// buffer. Each row leaves the file holding exactly the bytes fwrite said it wrote, in order.
TEST(DiskStream, ARefusedWriteReportsWhatTheDiskTook) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty());
  // The bytes end where an unreadable page begins: a stream that reads past them ends the program.
  const size_t size = 256 * 1024;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  void* region = ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(region, MAP_FAILED);
  ASSERT_EQ(::mprotect(static_cast<char*>(region) + size, page, PROT_NONE), 0);
  struct Unmap {
    void* at;
    size_t size;
    ~Unmap() { ::munmap(at, size); }
  } unmap{region, size + page};
  struct {
    char* p;
    size_t n;
    char* data() const { return p; }
    size_t size() const { return n; }
    char& operator[](size_t i) const { return p[i]; }
  } bytes{static_cast<char*>(region), size};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  const struct {
    long long room;
    size_t piece;  // the sizes fwrite is handed, larger and smaller than the stream's buffer
  } rows[] = {{0, bytes.size()}, {100, bytes.size()}, {70000, bytes.size()}, {70000, 3000}, {5000, 4096}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.room) + " bytes of room, pieces of " + std::to_string(row.piece));
    const std::string path = dir.file("stream-" + std::to_string(row.room) + "-" + std::to_string(row.piece));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    FILE* stream = disk::openStream(fd);
    ASSERT_NE(stream, nullptr);
    disk::clearLastError();
    disk::setRoomForTest(row.room);
    size_t taken = 0;
    for (size_t at = 0; at < bytes.size(); at += row.piece) {
      const size_t n = std::fwrite(bytes.data() + at, 1, std::min(row.piece, bytes.size() - at), stream);
      ASSERT_LE(n, row.piece);
      taken += n;
      if (std::ferror(stream)) break;
    }
    std::fflush(stream);
    EXPECT_TRUE(std::ferror(stream));
    std::fclose(stream);
    disk::setRoomForTest(-1);
    ::close(fd);
    EXPECT_EQ(disk::lastError(), ENOSPC);
    const std::string written = bytesOf(path);
    EXPECT_LE(written.size(), static_cast<size_t>(row.room));
    EXPECT_LE(taken, bytes.size());
    // What fwrite reported taken reached the file or was still buffered when the disk refused it.
    EXPECT_GE(taken, written.size());
    EXPECT_EQ(written, std::string(bytes.data(), written.size()));
  }
}

// A move within one file system renames and needs no room; across file systems it copies whole or
// leaves both sides as they were.
TEST(DiskMove, RenamesWhereItCanAndCopiesWholeOrNotAtAll) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string content(300000, 'm');
  const struct {
    bool across;
    long long room;
    bool moved;
  } rows[] = {{false, 0, true}, {true, 0, false}, {true, 200000, false}, {true, -1, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.across ? "across" : "within") + ", room " + std::to_string(row.room));
    const std::string from = dir.file("from");
    const std::string to = dir.file("to");
    std::ofstream(from, std::ios::binary) << content;
    std::ofstream(to, std::ios::binary) << "earlier";
    disk::setMoveAcrossFileSystemsForTest(row.across);
    disk::setRoomForTest(row.room);
    EXPECT_EQ(disk::moveFile(from, to), row.moved);
    disk::setRoomForTest(-1);
    disk::setMoveAcrossFileSystemsForTest(false);
    EXPECT_EQ(fs::exists(from), !row.moved);
    EXPECT_EQ(bytesOf(to), row.moved ? content : std::string("earlier"));
    if (!row.moved) {
        EXPECT_TRUE(disk::isNoRoom(disk::lastError()));
    }
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) entries += entry.path().filename() != "" ? 1 : 0;
    EXPECT_EQ(entries, row.moved ? 1u : 2u) << "a part of a copy is left";
    fs::remove(to);
  }
}

TEST(DiskNotice, AFullDiskIsToldOnceNotPerRefusedWrite) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty());
  while (disk::takeNoRoomNotice()) {
  }
  disk::setRoomForTest(10);  // a disk that fills anew: the next refusal is told
  EXPECT_FALSE(disk::takeNoRoomNotice()) << "nothing was refused";
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(disk::writeWholeFile(dir.file("f" + std::to_string(i)), "0123456789abc", 13));
  EXPECT_TRUE(disk::takeNoRoomNotice());
  EXPECT_FALSE(disk::writeWholeFile(dir.file("g"), "0123456789abc", 13));
  EXPECT_FALSE(disk::takeNoRoomNotice()) << "said again at once";
  EXPECT_TRUE(fs::is_empty(dir.path));
}
