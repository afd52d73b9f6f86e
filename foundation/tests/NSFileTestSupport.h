// Helpers shared by the file, zip, database and settings tests: a temporary folder removed at the
// end of the test, small file helpers and a capture of the framework's log lines.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cocos2d.h"

namespace qvtest {

class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qv-found-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()))
            path_ = buffer.data();
    }
    ~TempDir()
    {
        if (!path_.empty())
            nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing '/'.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    static int removeEntry(const char* path, const struct stat*, int, struct FTW*)
    {
        ::remove(path);
        return 0;
    }
    std::string path_;
};

inline void makeDirs(const std::string& path)
{
    std::string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!partial.empty())
                ::mkdir(partial.c_str(), 0755);
        }
        if (i < path.size())
            partial += path[i];
    }
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        makeDirs(path.substr(0, slash));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Collects the framework's log lines while it lives.
class LogCapture {
public:
    LogCapture()
    {
        cocos2d::setLogSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { cocos2d::setLogSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    int count(const std::string& line) const
    {
        int n = 0;
        for (const std::string& l : lines())
            n += l == line ? 1 : 0;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A test with a settings store of its own: the writable path points into a temporary folder and
// the store is loaded afresh from there.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedWritablePath_ = cocos2d::FileUtils::getInstance()->getWritablePath();
        cocos2d::FileUtils::getInstance()->setWritablePath(dir_.path() + "/");
        cocos2d::UserDefault::destroyInstance();
    }
    void TearDown() override
    {
        cocos2d::PoolManager::getInstance()->drainCurrentThread();
        cocos2d::UserDefault::destroyInstance();
        cocos2d::FileUtils::getInstance()->setWritablePath(savedWritablePath_);
    }
    // As a new process would see the store: read again from its file; unflushed changes are gone.
    static void restart() { cocos2d::UserDefault::destroyInstance(); }

    TempDir dir_;

private:
    std::string savedWritablePath_;
};

} // namespace qvtest
