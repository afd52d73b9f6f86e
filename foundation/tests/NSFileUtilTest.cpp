// File and folder helpers on real files: empty files, missing folders, links and long paths.
#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

#include "NSFileTestSupport.h"
#include "NSFileUtil.h"

using qvtest::exists;
using qvtest::readFile;
using qvtest::TempDir;
using qvtest::writeFile;

TEST(NSFileUtil, ReadFileData)
{
    TempDir dir;
    unsigned long size = 99;
    EXPECT_EQ(readFileData(dir / "missing", &size, true), nullptr);
    EXPECT_EQ(size, 0u);

    writeFile(dir / "empty", "");
    size = 99;
    EXPECT_EQ(readFileData(dir / "empty", &size, true), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(readFileData(dir / "empty", &size, false), nullptr);

    const std::string bytes("ab\0cd", 5);
    writeFile(dir / "nul", bytes);
    std::unique_ptr<unsigned char[]> raw(readFileData(dir / "nul", &size, true));
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(size, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw.get()), 5), bytes);
    for (int i = 5; i < 15; ++i)
        EXPECT_EQ(raw[i], 0) << i;   // the padding is zero, so the buffer reads as a C string

    // Text mode: copied up to the first NUL, the rest zero, the size still the whole file.
    std::unique_ptr<unsigned char[]> text(readFileData(dir / "nul", &size, false));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(text[0], 'a');
    EXPECT_EQ(text[1], 'b');
    for (int i = 2; i < 15; ++i)
        EXPECT_EQ(text[i], 0) << i;
}

TEST(NSFileUtil, WriteBufferCreatesFoldersAndReportsFailures)
{
    TempDir dir;
    const std::string path = dir / "a/b/c/file.bin";
    ASSERT_TRUE(writeBufferToFile(path, "12345", 5));
    EXPECT_EQ(readFile(path), "12345");
    ASSERT_TRUE(writeStringToFile(path, "x"));   // replaces, not appends
    EXPECT_EQ(readFile(path), "x");
    ASSERT_TRUE(writeBufferToFile(dir / "zero", "", 0));
    EXPECT_TRUE(exists(dir / "zero"));

    // A file in the way of the folder.
    writeFile(dir / "blocker", "f");
    EXPECT_FALSE(writeBufferToFile(dir / "blocker/file", "1", 1));

    // A disk that is full: the data sits in the stdio buffer and fails at close.
    if (exists("/dev/full")) {
        qvtest::LogCapture log;
        const std::string hundred(100, 'z');
        EXPECT_FALSE(writeBufferToFile("/dev/full", hundred.data(), hundred.size()));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].rfind("writeBufferToFile: faild, size=100,writeSize=", 0), 0u);
    }
}

TEST(NSFileUtil, CopyFile)
{
    TempDir dir;
    writeFile(dir / "src.txt", "content");
    EXPECT_TRUE(copyFile(dir / "src.txt", dir / "src.txt"));
    EXPECT_EQ(readFile(dir / "src.txt"), "content");

    ASSERT_TRUE(copyFile(dir / "src.txt", dir / "new/folder/dst.txt"));
    EXPECT_EQ(readFile(dir / "new/folder/dst.txt"), "content");

    writeFile(dir / "empty.txt", "");
    EXPECT_FALSE(copyFile(dir / "empty.txt", dir / "empty-copy.txt"));
    EXPECT_FALSE(exists(dir / "empty-copy.txt"));
    EXPECT_FALSE(copyFile(dir / "missing.txt", dir / "x.txt"));
}

TEST(NSFileUtil, CopyDirectoryKeepsEveryFile)
{
    TempDir dir;
    writeFile(dir / "from/empty", "");
    writeFile(dir / "from/three", "abc");
    writeFile(dir / "from/sub/deeper/file", "deep");
    writeFile(dir / "from/.hidden/skipped", "not copied");

    ASSERT_TRUE(copyDirectory(dir / "from", dir / "to/"));
    EXPECT_TRUE(exists(dir / "to/empty"));
    EXPECT_EQ(readFile(dir / "to/empty"), "");
    EXPECT_EQ(readFile(dir / "to/three"), "abc");
    EXPECT_EQ(readFile(dir / "to/sub/deeper/file"), "deep");
    EXPECT_FALSE(exists(dir / "to/.hidden"));

    EXPECT_TRUE(copyDirectory(dir / "from", dir / "from"));
    EXPECT_TRUE(copyDirectory(dir / "missing", dir / "to2"));   // nothing to copy
}

TEST(NSFileUtil, ListingsAreSortedAndStayInTheTree)
{
    TempDir dir;
    writeFile(dir / "f/b.txt", "");
    writeFile(dir / "f/a.txt", "");
    writeFile(dir / "f/B.txt", "");
    writeFile(dir / "f/.dotfile", "");
    writeFile(dir / "f/sub/c.txt", "");
    writeFile(dir / "f/sub/inner/d.txt", "");
    writeFile(dir / "f/.git/config", "");
    writeFile(dir / "outside/secret.txt", "");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "f/linkdir").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside/secret.txt").c_str(), (dir / "f/linkfile").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "f/dangling").c_str()), 0);

    std::vector<std::string> flat;
    listFiles(dir / "f", flat, false, false);
    EXPECT_EQ(flat, (std::vector<std::string>{".dotfile", "B.txt", "a.txt", "b.txt", "linkfile"}));

    std::vector<std::string> deep;
    listFiles(dir / "f", deep, true, true);
    const std::string f = dir / "f";
    EXPECT_EQ(deep, (std::vector<std::string>{f + "/.dotfile", f + "/B.txt", f + "/a.txt", f + "/b.txt",
                                              f + "/linkfile", f + "/sub/c.txt", f + "/sub/inner/d.txt"}));

    std::vector<std::string> withSlash;
    listFiles(dir / "f/", withSlash, true, true);
    EXPECT_EQ(withSlash, deep);

    // The vector is appended to, not cleared; a missing or empty folder adds nothing.
    listFiles(dir / "missing", withSlash, true, true);
    listFiles("", withSlash, true, true);
    EXPECT_EQ(withSlash.size(), deep.size());
    std::vector<std::string> names;
    listFiles(dir / "f/sub", names, true, false);
    EXPECT_EQ(names, (std::vector<std::string>{"c.txt", "d.txt"}));

    std::vector<std::string> folders{"kept"};
    listSubdirectories(dir / "f/", folders);
    EXPECT_EQ(folders, (std::vector<std::string>{"kept", f + "/sub"}));
}

TEST(NSFileUtil, LongPaths)
{
    TempDir dir;
    // Twelve levels of 100-character names: well past the old 1,024-byte path limit.
    std::string relative;
    for (int i = 0; i < 12; ++i)
        relative += std::string(100, static_cast<char>('a' + i)) + "/";
    const std::string deepFile = dir / (relative + "leaf.txt");
    ASSERT_GT(deepFile.size(), 1200u);
    ASSERT_TRUE(writeStringToFile(deepFile, "leaf"));

    std::vector<std::string> files;
    listFiles(dir.path(), files, true, true);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], deepFile);

    ASSERT_TRUE(copyDirectory(dir.path(), dir / "copy"));
    EXPECT_EQ(readFile(dir / ("copy/" + relative + "leaf.txt")), "leaf");

    ASSERT_TRUE(zipFiles(dir / "long.zip", dir / std::string(100, 'a'), ""));
    ASSERT_TRUE(unzipFile(dir / "long.zip", dir / "unzipped", ""));
    EXPECT_EQ(readFile(dir / ("unzipped/" + relative + "leaf.txt")), "leaf");
}

TEST(NSFileUtil, ParentDirectory)
{
    EXPECT_EQ(getParentDirectory("a/b/c.txt"), "a/b");
    EXPECT_EQ(getParentDirectory("a/b/"), "a");
    EXPECT_EQ(getParentDirectory("a/b///"), "a");
    EXPECT_EQ(getParentDirectory("c.txt"), "c.txt");
    EXPECT_EQ(getParentDirectory("a\\b\\c.txt"), "a\\b");
    EXPECT_EQ(getParentDirectory("/top"), "");
}
