// libFuzzer entry for the zip unpacker: each input is an archive unpacked into an empty folder
// below a private root. Nothing may appear in the root outside that folder, and the folder is
// emptied again after each run.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "NSFileUtil.h"

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void removeTree(const std::string& path) { ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

// The names directly in a folder, "." and ".." left out.
int countEntries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return -1;
  int n = 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") ++n;
  }
  ::closedir(dir);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // root/ holds the archive and out/; out/ is where it unpacks. Anything else in root/ (or
  // beside it) after a run was written outside the destination.
  static const std::string root = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string r = std::string(dir && *dir ? dir : "/tmp") + "/qv-fuzz-unzip-" + std::to_string(::getpid());
    removeTree(r);
    ::mkdir(r.c_str(), 0700);
    return r;
  }();
  const std::string archive = root + "/in.zip";
  const std::string out = root + "/out";
  ::mkdir(out.c_str(), 0700);

  std::FILE* f = std::fopen(archive.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  unzipFile(archive, out, "");

  if (countEntries(root) != 2) {
    std::fprintf(stderr, "unzipFile wrote outside its destination folder %s\n", out.c_str());
    std::abort();
  }
  removeTree(out);
  return 0;
}
