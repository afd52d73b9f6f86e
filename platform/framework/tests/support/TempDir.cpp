#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <vector>

namespace qvtest {

namespace {
int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return std::remove(path);
}
} // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && base[0] ? base : "/tmp") + "/qvfw-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) {
        _path = std::string(buf.data()) + "/";
    }
}

TempDir::~TempDir()
{
    if (!_path.empty()) {
        nftw(_path.c_str(), removeEntry, 32, FTW_DEPTH | FTW_PHYS);
    }
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int countEntries(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return -1;
    }
    int n = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        n += (name != "." && name != "..") ? 1 : 0;
    }
    closedir(d);
    return n;
}

} // namespace qvtest
