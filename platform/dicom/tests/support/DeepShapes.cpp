#include "DeepShapes.h"

#include <fstream>
#include <iterator>
#include <initializer_list>
#include <utility>

#include <zlib.h>

#include "qvTestPaths.h"

namespace qvtest {
namespace {

void put(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

// A sequence header of undefined length for (group,element), then an item of undefined length.
void openLevel(std::vector<uint8_t>& out, uint8_t g0, uint8_t g1, uint8_t e0, uint8_t e1, bool explicitVr) {
  put(out, {g0, g1, e0, e1});
  if (explicitVr) put(out, {'S', 'Q', 0, 0});
  put(out, {0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF});
}

}  // namespace

std::vector<uint8_t> nestedSequences(int levels, bool explicitVr) {
  std::vector<uint8_t> out;
  for (int level = 0; level < levels; ++level) openLevel(out, 0x08, 0x00, 0x15, 0x11, explicitVr);
  for (int level = 0; level < levels; ++level)
    put(out, {0xFE, 0xFF, 0x0D, 0xE0, 0, 0, 0, 0, 0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
  return out;
}

std::vector<uint8_t> delimiterThenNesting(int levels, bool explicitVr) {
  std::vector<uint8_t> value = {0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0};
  for (int level = 0; level < levels; ++level) openLevel(value, 0x40, 0x00, 0x30, 0xA7, explicitVr);
  const uint32_t length = static_cast<uint32_t>(value.size());
  std::vector<uint8_t> out = {0x40, 0x00, 0x30, 0xA7};
  if (explicitVr) put(out, {'U', 'N', 0, 0});
  put(out, {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)});
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

std::vector<uint8_t> emptyItems(int items) {
  std::vector<uint8_t> out = {0x08, 0x00, 0x15, 0x11, 'S', 'Q', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  for (int item = 0; item < items; ++item) put(out, {0xFE, 0xFF, 0x00, 0xE0, 0, 0, 0, 0});
  put(out, {0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
  return out;
}

std::vector<uint8_t> partedDirectoryRecords(int items) {
  // The records of the crafted file: the items of its sequence (0004,1220), of 0x3164 bytes at 0x1a6.
  std::ifstream file(QV_TEST_DATA_DIR "/crafted/directory-record-aborts.dcm", std::ios::binary);
  const std::vector<uint8_t> crafted((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t recordsAt = 0x1A6, recordsLength = 0x3164;
  if (crafted.size() < recordsAt + recordsLength) return {};
  std::vector<uint8_t> records = {0x04, 0x00, 0x20, 0x12, 'S', 'Q', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  put(records, {0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x00, 0x30, 0x14, 'C', 'S', 6, 0});
  put(records, {'I', 'M', 'A', 'G', 'E', ' '});
  const std::vector<uint8_t> dense = emptyItems(items);
  records.insert(records.end(), dense.begin(), dense.end());
  put(records, {0xFE, 0xFF, 0x0D, 0xE0, 0, 0, 0, 0});
  records.insert(records.end(), crafted.begin() + recordsAt, crafted.begin() + recordsAt + recordsLength);
  put(records, {0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
  // (0010,4000) "LT" of 0x4f00 bytes, its length's high byte and first value byte making "OB" for
  // the walk, which then reads a length reaching past the records to (0028,0010).
  const uint32_t text = 0x4F00, skipped = text - 7 + uint32_t(records.size());
  std::vector<uint8_t> out = {0x11, 0x00, 0x10, 0x10, 'U', 'N', 0, 0, 13, 0, 0, 0};
  put(out, {0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x0D, 0xE0, 0x00});
  put(out, {0x10, 0x00, 0x00, 0x40, 'L', 'T', 0x00, 0x4F, 'B', 0, 0});
  put(out, {uint8_t(skipped), uint8_t(skipped >> 8), uint8_t(skipped >> 16), uint8_t(skipped >> 24)});
  out.insert(out.end(), text - 7, ' ');
  out.insert(out.end(), records.begin(), records.end());
  put(out, {0x28, 0x00, 0x10, 0x00, 'U', 'S', 2, 0, 4, 0});
  return out;
}

std::vector<uint8_t> deflated(const std::vector<uint8_t>& in) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::vector<uint8_t> out(deflateBound(&z, in.size()));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  const bool whole = deflate(&z, Z_FINISH) == Z_STREAM_END;
  out.resize(whole ? z.total_out : 0);
  deflateEnd(&z);
  if (out.size() % 2) out.push_back(0);  // PDVs carry even lengths
  return out;
}

std::vector<uint8_t> identified(const std::string& sopClass, const std::string& sopInstance,
                                const std::vector<uint8_t>& rest) {
  std::vector<uint8_t> out;
  for (const auto& [element, uid] : {std::pair<uint8_t, std::string>{0x16, sopClass}, {0x18, sopInstance}}) {
    const std::string value = uid.size() % 2 ? uid + '\0' : uid;
    put(out, {0x08, 0x00, element, 0x00, 'U', 'I', uint8_t(value.size()), 0});
    out.insert(out.end(), value.begin(), value.end());
  }
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

void appendTo(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace qvtest
