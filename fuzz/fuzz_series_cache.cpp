// libFuzzer entry for the series cache reader: each input is a ".prebin" as found under
// qv/tmp/dcmbuf/, read back the way the series loader reads it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "isSeriesCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qv-fuzz-cache-" + std::to_string(::getpid()) + ".prebin";
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  isImageSDK::hasCacheSignature(path, true);
  isImageSDK::SeriesCacheContents contents;
  if (isImageSDK::readSeriesCache(path, contents) == isImageSDK::CacheReadResult::Ok) {
    // What the loader does next: one slice buffer per record, sized from the record.
    const size_t n = contents.kind == isImageSDK::SeriesCacheContents::KIND_SERIES ? contents.records.size()
                                                                                    : contents.slices.size();
    if (contents.names.size() != n) std::abort();
    for (const std::string& name : contents.names) (void)name.size();
  }
  return 0;
}
