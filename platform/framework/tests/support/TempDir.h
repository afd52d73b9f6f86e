// A temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace qvtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Ends in "/".
    const std::string& path() const { return _path; }
    std::string operator/(const std::string& name) const { return _path + name; }

private:
    std::string _path;
};

// Writes a file with plain stdio (not through FileUtils), creating no folders.
void writeFile(const std::string& path, const std::string& content);
// The file's bytes, or "<missing>".
std::string readFile(const std::string& path);
// Number of entries in a folder, "." and ".." excluded.
int countEntries(const std::string& dir);

} // namespace qvtest
