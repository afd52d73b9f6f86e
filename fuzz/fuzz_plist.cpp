// libFuzzer entry for the property-list reader behind the hanging protocol file
// ("protocal/protocal.xml", read with NSDictionary::createWithData) and the colour tables
// (readColourTable, read from a file).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "NSDictionary.h"
#include "cocos2d.h"
#include "isColourTable.h"

namespace {

// Walks every value as the protocol reader does: dictionaries by key, arrays by index, texts
// read out.
void walk(cocos2d::Ref* object, int depth) {
  if (!object || depth > 64) return;
  if (auto* text = dynamic_cast<cocos2d::__String*>(object)) {
    (void)std::atoi(text->getCString());
  } else if (auto* array = dynamic_cast<cocos2d::__Array*>(object)) {
    for (ssize_t i = 0; i < array->count(); ++i) walk(array->getObjectAtIndex(i), depth + 1);
  } else if (auto* dict = dynamic_cast<NSUI::NSDictionary*>(object)) {
    for (const char* key : {"protocal", "number", "1", "2", "type", "title", "file", "Red", "Green", "Blue"})
      walk(dict->objectForKey(key), depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qv-fuzz-plist-" + std::to_string(::getpid()) + ".plist";
  }();
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (NSUI::NSDictionary* dict = NSUI::NSDictionary::createWithData(text)) {
    walk(dict, 0);
    walk(dict->clone(), 0);
  }

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    unsigned char table[768];
    isImageSDK::readColourTable(path, table);
  }
  cocos2d::PoolManager::getInstance()->drainCurrentThread();
  return 0;
}
