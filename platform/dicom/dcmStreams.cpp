#include "dcmStreams.h"

#include <dcmtk/dcmdata/dcistrmf.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "dcmGuard.h"

namespace redIRI {
namespace detail {

FileBlocks::FileBlocks(int fd, offile_off_t size) : m_fd(fd), m_size(size < 0 ? 0 : size) {
  if (fd < 0) m_status = guardRefusal(kReadFailed, "the file cannot be opened again");
}

FileBlocks::~FileBlocks() {
  if (m_fd >= 0) ::close(m_fd);
}

offile_off_t FileBlocks::read(unsigned char* out, offile_off_t n, offile_off_t at) {
  offile_off_t done = 0;
  while (done < n && at < m_size && m_status.good()) {
    const offile_off_t index = at / kBlock;
    if (index >= static_cast<offile_off_t>(kKeptBlocks)) {
      const ssize_t got = readAt(out + done, static_cast<size_t>(std::min(n - done, m_size - at)), at);
      if (got <= 0) break;
      done += got;
      at += got;
      continue;
    }
    if (!m_kept[index]) {
      std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
      const ssize_t got =
          readAt(block.get(), static_cast<size_t>(std::min(kBlock, m_size - index * kBlock)), index * kBlock);
      if (got <= 0) break;
      m_kept[index] = std::move(block);
      m_keptBytes[index] = got;
    }
    const offile_off_t offset = at - index * kBlock;
    if (offset >= m_keptBytes[index]) break;  // the file got shorter
    const offile_off_t count = std::min(n - done, m_keptBytes[index] - offset);
    std::memcpy(out + done, m_kept[index].get() + offset, static_cast<size_t>(count));
    done += count;
    at += count;
  }
  return done;
}

ssize_t FileBlocks::readAt(unsigned char* out, size_t n, offile_off_t at) {
  for (;;) {
    const ssize_t got = ::pread(m_fd, out, n, static_cast<off_t>(at));
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    m_status = guardRefusal(kReadFailed, std::strerror(errno));
    return -1;
  }
}

DescriptorProducer::DescriptorProducer(std::shared_ptr<FileBlocks> file, offile_off_t start)
    : m_file(std::move(file)), m_position(std::min(std::max<offile_off_t>(start, 0), m_file->size())) {}

namespace {

// Creates a stream positioned at a value of a deflated data set: the file opened again, the
// deflated bytes from `from` on inflated and skipped up to `offset` (counted in inflated bytes).
// A stream that cannot get there is returned failed, so DCMTK reports the value unreadable.
class InflatedValueFactory : public DcmInputStreamFactory {
 public:
  InflatedValueFactory(std::string path, offile_off_t from, offile_off_t offset)
      : m_path(std::move(path)), m_from(from), m_offset(offset) {}
  DcmInputStream* create() const override {
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info;
    const offile_off_t size = fd >= 0 && ::fstat(fd, &info) == 0 ? static_cast<offile_off_t>(info.st_size) : 0;
    auto* stream = new DescriptorStream(m_path.c_str(), std::make_shared<FileBlocks>(fd, size), m_from);
    if (stream->good() && stream->installCompressionFilter(ESC_zlib).good()) stream->skip(m_offset);
    return stream;
  }
  DcmInputStreamFactory* clone() const override { return new InflatedValueFactory(*this); }
  DcmInputStreamFactoryType ident() const override { return DFT_DcmInputFileStreamFactory; }

 private:
  std::string m_path;
  offile_off_t m_from;
  offile_off_t m_offset;
};

}  // namespace

DcmInputStreamFactory* DescriptorStream::newFactory() const {
  if (currentProducer() == &m_producer) return new DcmInputFileStreamFactory(OFFilename(m_path.c_str()), tell());
  if (m_inflatedFrom < 0) return nullptr;
  return new InflatedValueFactory(m_path, m_inflatedFrom, tell() - m_tellAtFilter);
}

}  // namespace detail
}  // namespace redIRI
