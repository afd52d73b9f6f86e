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

DescriptorProducer::DescriptorProducer(int fd, offile_off_t size, offile_off_t start)
    : m_fd(fd), m_size(size < 0 ? 0 : size), m_position(std::min(std::max<offile_off_t>(start, 0), m_size)) {
  if (fd < 0) m_status = guardRefusal(kReadFailed, "the file cannot be opened again");
}

DescriptorProducer::~DescriptorProducer() {
  if (m_fd >= 0) ::close(m_fd);
}

offile_off_t DescriptorProducer::readBytes(unsigned char* out, offile_off_t buflen) {
  offile_off_t done = 0;
  while (done < buflen && m_position < m_size) {
    if (m_position < m_blockStart || m_position >= m_blockStart + m_blockBytes) {
      // Large reads go straight to the caller; small ones through the block.
      if (buflen - done >= kBlock) {
        const ssize_t got = readAt(out + done, static_cast<size_t>(buflen - done), m_position);
        if (got <= 0) break;
        done += got;
        m_position += got;
        continue;
      }
      const ssize_t got = readAt(m_block, kBlock, m_position);
      if (got <= 0) break;
      m_blockStart = m_position;
      m_blockBytes = got;
    }
    const offile_off_t n = std::min(buflen - done, m_blockStart + m_blockBytes - m_position);
    std::memcpy(out + done, m_block + (m_position - m_blockStart), static_cast<size_t>(n));
    done += n;
    m_position += n;
  }
  return done;
}

ssize_t DescriptorProducer::readAt(unsigned char* out, size_t n, offile_off_t at) {
  for (;;) {
    const ssize_t got = ::pread(m_fd, out, n, static_cast<off_t>(at));
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    m_status = guardRefusal(kReadFailed, std::strerror(errno));
    return -1;
  }
}

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
    auto* stream = new DescriptorStream(m_path.c_str(), fd, size, m_from);
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
