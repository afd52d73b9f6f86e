#include "DeepShapes.h"

#include <fstream>
#include <initializer_list>
#include <utility>

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
