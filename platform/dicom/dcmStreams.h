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
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace redIRI {
namespace detail {

// A regular file open for parsing, read through its descriptor in blocks of kBlock bytes. The
// blocks of the file's head are kept once read, so that the structural walk (meta group, data set)
// and DCMTK's parse after it, each reading the file through a producer of its own, read the header
// from the system once. Owns the descriptor. For one thread.
class FileBlocks {
 public:
  FileBlocks(int fd, offile_off_t size);
  ~FileBlocks();
  FileBlocks(const FileBlocks&) = delete;
  FileBlocks& operator=(const FileBlocks&) = delete;

  offile_off_t size() const { return m_size; }
  const OFCondition& status() const { return m_status; }
  // Copies up to n bytes from `at` on into `out`; how many (fewer at the end of the file or on a
  // failure, which status() then gives).
  offile_off_t read(unsigned char* out, offile_off_t n, offile_off_t at);

 private:
  // 4 KiB: a header of a few kilobytes costs one or two reads, and DCMTK's reading up to Pixel
  // Data takes little of the pixels with it. The first 64 blocks (256 KiB) are kept: headers lie
  // there; reads past them go to the file each time.
  static constexpr offile_off_t kBlock = 4096;
  static constexpr size_t kKeptBlocks = 64;

  ssize_t readAt(unsigned char* out, size_t n, offile_off_t at);

  int m_fd;
  offile_off_t m_size;
  OFCondition m_status = EC_Normal;
  std::unique_ptr<unsigned char[]> m_kept[kKeptBlocks];
  offile_off_t m_keptBytes[kKeptBlocks] = {};
};

// A producer over FileBlocks, for parsing. DCMTK's own file stream reads through stdio, which asks
// the system for the file's position and size again and again; this one knows the size from the
// start and skips values (pixel data) without a call. Behaves as DCMTK's file producer: reads stop
// at the end of the file, a skip is cut there, a putback before the start fails.
class DescriptorProducer : public DcmProducer {
 public:
  // Reads the file from `start` on.
  DescriptorProducer(std::shared_ptr<FileBlocks> file, offile_off_t start = 0);

  OFBool good() const override { return m_status.good() && m_file->status().good(); }
  OFCondition status() const override { return m_status.good() ? m_file->status() : m_status; }
  OFBool eos() override { return m_position >= m_file->size(); }
  offile_off_t avail() override { return m_file->size() - m_position; }
  offile_off_t position() const { return m_position; }

  offile_off_t read(void* buf, offile_off_t buflen) override {
    if (!good() || !buf || buflen <= 0) return 0;
    const offile_off_t got = m_file->read(static_cast<unsigned char*>(buf), buflen, m_position);
    m_position += got;
    return got;
  }
  offile_off_t skip(offile_off_t skiplen) override {
    if (!good() || skiplen <= 0) return 0;
    const offile_off_t n = std::min(skiplen, avail());
    m_position += n;
    return n;
  }
  void putback(offile_off_t num) override {
    if (!good() || num <= 0) return;
    if (num <= m_position)
      m_position -= num;
    else
      m_status = EC_PutbackFailed;
  }

 private:
  std::shared_ptr<FileBlocks> m_file;
  offile_off_t m_position;
  OFCondition m_status = EC_Normal;
};

// The input stream over a DescriptorProducer. Values left on disk
// are read later through DCMTK's file stream, by name, as from DcmInputFileStream.
//
// Behind the deflate filter a value cannot be read again from a file offset, and DCMTK would keep
// every value in memory: a 500-KB deflated file declaring a 512-MB image would be inflated into
// memory just to list its tags. Such values are left in the file too: reading one later opens
// the file again and inflates up to it (InflatedValueFactory), so only values actually used
// (pixel data that is decoded) are ever inflated into memory.
class DescriptorStream : public DcmInputStream {
 public:
  DescriptorStream(const char* path, std::shared_ptr<FileBlocks> file, offile_off_t start = 0)
      : DcmInputStream(&m_producer), m_producer(std::move(file), start), m_path(path) {}
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
      forget();
      if (!skipTo(at)) return false;
    } else if (at > m_base) {
      m_begin += static_cast<size_t>(at - m_base);
      m_base = at;
    }
    while (end() < at + n)
      if (!readMore()) return false;
    return true;
  }
  const unsigned char* at(uint64_t offset) const { return m_buffer.data() + m_begin + (offset - m_base); }
  // Goes on to the end of the stream (or past the limit); the number of bytes it holds.
  uint64_t total() {
    forget();
    skipTo(UINT64_MAX);
    return m_base;
  }
  bool tooLarge() const { return end() > m_limit; }

 private:
  uint64_t end() const { return m_base + (m_end - m_begin); }
  void forget() {
    m_base = end();
    m_begin = m_end = 0;
  }
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
  // Reads up to kChunk bytes more after what it holds, moving what it holds (less than one element
  // header) to the front first.
  bool readMore() {
    if (!usable()) return false;
    if (m_buffer.size() - m_end < kChunk) {
      if (m_end > m_begin) std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
      m_end -= m_begin;
      m_begin = 0;
      if (m_buffer.size() - m_end < kChunk) m_buffer.resize(m_end + kChunk);
    }
    const offile_off_t got = m_stream.read(m_buffer.data() + m_end, kChunk);
    if (got <= 0) return false;
    m_end += static_cast<size_t>(got);
    return true;
  }

  // A header of a few kilobytes in one read, little of the pixels after it.
  static const size_t kChunk = 4096;
  DcmInputStream& m_stream;
  uint64_t m_limit;
  std::vector<unsigned char> m_buffer;
  size_t m_begin = 0, m_end = 0;  // what is held: m_buffer[m_begin, m_end), from m_base on
  uint64_t m_base = 0;
};

}  // namespace detail
}  // namespace redIRI
