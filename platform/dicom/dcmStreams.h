// The streams DCMTK and the structural walk read files through (internal): a regular file read
// by its open descriptor, values of a deflated file inflated again on demand, and the window the
// walk reads any stream through.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcerror.h>
#include <dcmtk/dcmdata/dcistrma.h>

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace redIRI {
namespace detail {

// A regular file read through its open descriptor, for parsing. DCMTK's own file stream reads
// through stdio, which asks the system for the file's position and size again and again; this
// one knows the size from the start, reads blocks with pread and skips values (pixel data) without
// a call. Behaves as DCMTK's file producer: reads stop at the end of the file, a skip is cut
// there, a putback before the start fails.
class DescriptorProducer : public DcmProducer {
 public:
  // Reads the file from `start` on.
  DescriptorProducer(int fd, offile_off_t size, offile_off_t start = 0);
  ~DescriptorProducer() override;
  DescriptorProducer(const DescriptorProducer&) = delete;
  DescriptorProducer& operator=(const DescriptorProducer&) = delete;

  OFBool good() const override { return m_status.good(); }
  OFCondition status() const override { return m_status; }
  OFBool eos() override { return m_position >= m_size; }
  offile_off_t avail() override { return m_size - m_position; }
  offile_off_t position() const { return m_position; }

  offile_off_t read(void* buf, offile_off_t buflen) override {
    if (m_status.bad() || !buf || buflen <= 0) return 0;
    return readBytes(static_cast<unsigned char*>(buf), buflen);
  }

  offile_off_t skip(offile_off_t skiplen) override {
    if (m_status.bad() || skiplen <= 0) return 0;
    const offile_off_t n = std::min(skiplen, avail());
    m_position += n;
    return n;
  }
  void putback(offile_off_t num) override {
    if (m_status.bad() || num <= 0) return;
    if (num <= m_position)
      m_position -= num;
    else
      m_status = EC_PutbackFailed;
  }

 private:
  static const offile_off_t kBlock = 8192;

  offile_off_t readBytes(unsigned char* out, offile_off_t buflen);
  ssize_t readAt(unsigned char* out, size_t n, offile_off_t at);

  int m_fd;
  offile_off_t m_size;
  offile_off_t m_position;
  OFCondition m_status = EC_Normal;
  unsigned char m_block[kBlock];
  offile_off_t m_blockStart = 0;
  offile_off_t m_blockBytes = 0;
};

// The input stream over a DescriptorProducer (which closes the descriptor). Values left on disk
// are read later through DCMTK's file stream, by name, as from DcmInputFileStream.
//
// Behind the deflate filter a value cannot be read again from a file offset, and DCMTK would keep
// every value in memory: a 500-KB deflated file declaring a 512-MB image would be inflated into
// memory just to list its tags. Such values are left in the file too: reading one later opens
// the file again and inflates up to it (InflatedValueFactory), so only values actually used
// (pixel data that is decoded) are ever inflated into memory.
class DescriptorStream : public DcmInputStream {
 public:
  DescriptorStream(const char* path, int fd, offile_off_t size, offile_off_t start = 0)
      : DcmInputStream(&m_producer), m_producer(fd, size, start), m_path(path) {}
  DcmInputStreamFactory* newFactory() const override;
  OFCondition installCompressionFilter(E_StreamCompression type) override {
    if (currentProducer() == &m_producer) {
      m_inflatedFrom = m_producer.position();
      m_tellAtFilter = tell();
    }
    return DcmInputStream::installCompressionFilter(type);
  }
  offile_off_t filePosition() const { return m_producer.position(); }

 private:
  DescriptorProducer m_producer;
  std::string m_path;
  offile_off_t m_inflatedFrom = -1;  // file offset where the deflated bytes begin
  offile_off_t m_tellAtFilter = 0;   // tell() there
};

// The bytes of a stream, read on demand through a window that forgets what lies behind the
// position asked for and skips (never reads) what lies between the window and that position.
class StreamWindow {
 public:
  StreamWindow(DcmInputStream& stream, uint64_t limit) : m_stream(stream), m_limit(limit) {}

  // True when [at, at + n) is available.
  bool cover(uint64_t at, size_t n) {
    if (at >= end()) {
      m_base = end();
      m_bytes.clear();
      if (!skipTo(at)) return false;
    } else if (at > m_base) {
      const size_t drop = static_cast<size_t>(at - m_base);
      m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(drop));
      m_base = at;
    }
    while (end() < at + n)
      if (!readMore()) return false;
    return true;
  }
  const unsigned char* at(uint64_t offset) const { return m_bytes.data() + (offset - m_base); }
  // Goes on to the end of the stream (or past the limit); the number of bytes it holds.
  uint64_t total() {
    m_base = end();
    m_bytes.clear();
    skipTo(UINT64_MAX);
    return m_base;
  }
  bool tooLarge() const { return end() > m_limit; }

 private:
  uint64_t end() const { return m_base + m_bytes.size(); }
  bool usable() { return !tooLarge() && m_stream.good() && !m_stream.eos(); }
  // With nothing held: skips to `at`, at most to just past the limit.
  bool skipTo(uint64_t at) {
    while (m_base < at) {
      if (!usable()) return false;
      uint64_t want = std::min<uint64_t>(at - m_base, uint64_t(1) << 30);
      if (m_limit != UINT64_MAX) want = std::min<uint64_t>(want, m_limit + 1 - m_base);
      const offile_off_t got = m_stream.skip(static_cast<offile_off_t>(want));
      if (got <= 0) return false;
      m_base += static_cast<uint64_t>(got);
    }
    return true;
  }
  bool readMore() {
    if (!usable()) return false;
    const size_t before = m_bytes.size();
    m_bytes.resize(before + kChunk);
    const offile_off_t got = m_stream.read(m_bytes.data() + before, kChunk);
    m_bytes.resize(before + static_cast<size_t>(got > 0 ? got : 0));
    return got > 0;
  }

  static const size_t kChunk = 16 * 1024;
  DcmInputStream& m_stream;
  uint64_t m_limit;
  std::vector<unsigned char> m_bytes;
  uint64_t m_base = 0;
};

}  // namespace detail
}  // namespace redIRI
