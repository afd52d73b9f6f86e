// The zip and unzip front-ends and the archive helpers built on them: round trips of folder
// trees, cancelling, option handling, and hostile archives that must not write outside their
// destination.
#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <zlib.h>

#include "NSFileTestSupport.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "NSZip.h"
#include "support/HeadlessFrames.h"

using qvtest::exists;
using qvtest::readFile;
using qvtest::TempDir;
using qvtest::writeFile;

namespace {

std::vector<std::string> entryNames(const std::string& archivePath)
{
    std::vector<std::string> names;
    unzFile uf = unzOpen64(archivePath.c_str());
    if (!uf)
        return names;
    for (int status = unzGoToFirstFile(uf); status == UNZ_OK; status = unzGoToNextFile(uf)) {
        char name[1024] = {};
        unz_file_info64 info{};
        unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        names.emplace_back(name);
    }
    unzClose(uf);
    return names;
}

int callMain(int (*frontEnd)(int, char**), std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return frontEnd(static_cast<int>(args.size()), argv.data());
}

// Every path below root (files and folders), relative, sorted.
std::vector<std::string> treeOf(const std::string& root)
{
    std::vector<std::string> files;
    listFiles(root, files, true, true);
    for (std::string& file : files)
        file = file.substr(root.size() + 1);
    return files;
}

// zipMain posts its progress through the notification centre, which lives on a director.
class NSZipTest : public HeadlessFrames {
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        NSUI::NSNotificationCenter::getInstance();   // created on the main thread, before any worker posts
    }
};

// An archive written byte by byte, so that it can say what no archive writer would: entries
// whose central records point at the same stored data, or sizes that lie.
class RawZip {
public:
    // Adds stored data with a local header; returns its offset.
    uint32_t addData(const std::string& name, const std::string& stored, uint16_t method, uint32_t crc,
                     uint32_t declaredSize)
    {
        const auto offset = static_cast<uint32_t>(bytes_.size());
        put32(0x04034b50);
        put16(20); put16(0); put16(method); put16(0); put16(0x21);
        put32(crc); put32(static_cast<uint32_t>(stored.size())); put32(declaredSize);
        put16(static_cast<uint16_t>(name.size())); put16(0);
        bytes_ += name;
        bytes_ += stored;
        return offset;
    }
    // Adds a central record for data at `offset`.
    void addEntry(const std::string& name, uint32_t offset, uint16_t method, uint32_t crc, uint32_t storedSize,
                  uint32_t declaredSize)
    {
        std::string& c = central_;
        auto p16 = [&c](uint16_t v) { c += static_cast<char>(v & 0xff); c += static_cast<char>(v >> 8); };
        auto p32 = [&p16](uint32_t v) { p16(static_cast<uint16_t>(v & 0xffff)); p16(static_cast<uint16_t>(v >> 16)); };
        p32(0x02014b50);
        p16(20); p16(20); p16(0); p16(method); p16(0); p16(0x21);
        p32(crc); p32(storedSize); p32(declaredSize);
        p16(static_cast<uint16_t>(name.size())); p16(0); p16(0); p16(0); p16(0); p32(0); p32(offset);
        c += name;
        ++count_;
    }
    void write(const std::string& path)
    {
        const auto centralOffset = static_cast<uint32_t>(bytes_.size());
        bytes_ += central_;
        if (count_ > 0xffff) {
            // More entries than the classic end record can count: the zip64 end record and its locator.
            const auto recordOffset = static_cast<uint32_t>(bytes_.size());
            put32(0x06064b50); put32(44); put32(0); put16(45); put16(45); put32(0); put32(0);
            put32(static_cast<uint32_t>(count_)); put32(0); put32(static_cast<uint32_t>(count_)); put32(0);
            put32(static_cast<uint32_t>(central_.size())); put32(0); put32(centralOffset); put32(0);
            put32(0x07064b50); put32(0); put32(recordOffset); put32(0); put32(1);
        }
        put32(0x06054b50); put16(0); put16(0);
        put16(static_cast<uint16_t>(count_ > 0xffff ? 0xffff : count_));
        put16(static_cast<uint16_t>(count_ > 0xffff ? 0xffff : count_));
        put32(static_cast<uint32_t>(central_.size())); put32(centralOffset); put16(0);
        writeFile(path, bytes_);
    }

private:
    void put16(uint16_t v) { bytes_ += static_cast<char>(v & 0xff); bytes_ += static_cast<char>(v >> 8); }
    void put32(uint32_t v) { put16(static_cast<uint16_t>(v & 0xffff)); put16(static_cast<uint16_t>(v >> 16)); }
    std::string bytes_;
    std::string central_;
    size_t count_ = 0;
};

std::string deflateRaw(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t crcOf(const std::string& data)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Writes an archive holding the given entries (stored) as they are named, bypassing every check.
void writeRawArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries)
{
    RawZip zip;
    for (const auto& [name, data] : entries) {
        const auto size = static_cast<uint32_t>(data.size());
        zip.addEntry(name, zip.addData(name, data, 0, crcOf(data), size), 0, crcOf(data), size, size);
    }
    zip.write(path);
}

// Every regular file below root.
size_t filesBelow(const std::string& root)
{
    std::vector<std::string> files;
    listFiles(root, files, true, true);
    size_t n = 0;
    struct stat info {};
    for (const std::string& f : files)
        n += stat(f.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? 1 : 0;
    return n;
}

} // namespace

TEST_F(NSZipTest, ProgressIsThePercentageOfFilesDone)
{
    TempDir dir;
    for (const char* name : {"1", "2", "3", "4"})
        writeFile(dir / (std::string("base/") + name), name);

    auto* listener = new cocos2d::__String("listener");
    std::vector<int> reported;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        listener, nullptr,
        [&](cocos2d::Ref* sender, unsigned int, NSUI::NSNotificationData* data) {
            EXPECT_EQ(sender, nullptr);
            reported.push_back(data ? data->intValue : -1);
        },
        NOTIFY_UI_PROGRESS);

    ASSERT_EQ(callMain(zipMain, {".", dir / "p.zip", dir / "base", dir / "base/1", dir / "base/2", dir / "base/3",
                                 dir / "base/4"}),
              0);
    passStartDelay();
    step(2);
    // Urgent posts: all four arrive together, in order, and 100 is never reported.
    EXPECT_EQ(reported, (std::vector<int>{0, 25, 50, 75}));

    // Three files: the step is 100/3, not a rounded 33.
    reported.clear();
    ASSERT_EQ(callMain(zipMain, {".", dir / "q.zip", dir / "base", dir / "base/1", dir / "base/2", dir / "base/3"}),
              0);
    step(2);
    EXPECT_EQ(reported, (std::vector<int>{0, 33, 66}));

    NSUI::NSNotificationCenter::getInstance()->removeObserver(listener);
    listener->release();
}

TEST_F(NSZipTest, FolderTreeRoundTrip)
{
    TempDir dir;
    const std::string source = dir / "study";
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>((i * 7919) & 0xff);
    writeFile(source + "/series1/img1.dcm", binary);
    writeFile(source + "/series1/img2.dcm", "second");
    writeFile(source + "/series2/deep/er/img.dcm", "deep");
    writeFile(source + "/empty.txt", "");
    writeFile(source + "/Bild \xC3\xBC.dcm", "umlaut");
    // A file with a known old time, to see the time travel through the archive.
    const std::string dated = source + "/series2/dated.txt";
    writeFile(dated, "old");
    timespec times[2] = {{0, UTIME_OMIT}, {1500000000, 0}};   // 2017-07-14, an even second
    ASSERT_EQ(utimensat(AT_FDCWD, dated.c_str(), times, 0), 0);

    const std::string archive = dir / "out/share.zip";   // the archive's folder is created
    ASSERT_TRUE(zipFiles(archive, source + "/", ""));

    const std::vector<std::string> names = entryNames(archive);
    ASSERT_EQ(names.size(), 6u);
    for (const std::string& name : names)
        EXPECT_EQ(name.rfind("study/", 0), 0u) << name;   // stored below the source's own name

    const std::string target = dir / "unpacked";
    ASSERT_TRUE(unzipFile(archive, target, ""));
    EXPECT_EQ(treeOf(target + "/study"), treeOf(source));
    EXPECT_EQ(readFile(target + "/study/series1/img1.dcm"), binary);
    EXPECT_EQ(readFile(target + "/study/series2/deep/er/img.dcm"), "deep");
    EXPECT_EQ(readFile(target + "/study/empty.txt"), "");
    EXPECT_EQ(readFile(target + "/study/Bild \xC3\xBC.dcm"), "umlaut");

    struct stat info {};
    ASSERT_EQ(stat((target + "/study/series2/dated.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1500000000);

    // Extracting again replaces the files.
    writeFile(target + "/study/series1/img2.dcm", "changed by the user");
    ASSERT_TRUE(unzipFile(archive, target + "/", ""));
    EXPECT_EQ(readFile(target + "/study/series1/img2.dcm"), "second");
}

TEST_F(NSZipTest, SingleFileAndPassword)
{
    TempDir dir;
    writeFile(dir / "a/report.txt", "secret text");
    ASSERT_TRUE(zipFiles(dir / "plain.zip", dir / "a/report.txt", ""));
    EXPECT_EQ(entryNames(dir / "plain.zip"), std::vector<std::string>{"report.txt"});
    ASSERT_TRUE(unzipFile(dir / "plain.zip", dir / "out", ""));
    EXPECT_EQ(readFile(dir / "out/report.txt"), "secret text");

    // With a password the entry is encrypted.
    const std::string locked = dir / "locked.zip";
    ASSERT_TRUE(zipFiles(locked, dir / "a/report.txt", "pw"));
    unzFile uf = unzOpen64(locked.c_str());
    ASSERT_NE(uf, nullptr);
    unz_file_info64 info{};
    ASSERT_EQ(unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0), UNZ_OK);
    EXPECT_NE(info.flag & 1u, 0u);
    unzClose(uf);
    EXPECT_EQ(readFile(locked).find("secret text"), std::string::npos);

    // Read without the password it is refused, and no garbage is left under its name.
    EXPECT_FALSE(unzipFile(locked, dir / "nopw", ""));
    EXPECT_FALSE(exists(dir / "nopw/report.txt"));
}

TEST_F(NSZipTest, NothingToZipOrUnzip)
{
    TempDir dir;
    qvtest::makeDirs(dir / "empty");
    EXPECT_FALSE(zipFiles(dir / "e.zip", dir / "empty", ""));
    EXPECT_FALSE(zipFiles(dir / "m.zip", dir / "missing.txt", ""));
    EXPECT_FALSE(unzipFile(dir / "missing.zip", dir / "x", ""));
    EXPECT_FALSE(unzipFile("relative.zip", dir / "x", ""));   // no folder in the archive path
    writeFile(dir / "garbage.zip", "this is not an archive");
    EXPECT_FALSE(unzipFile(dir / "garbage.zip", dir / "x", ""));
}

TEST_F(NSZipTest, ZipMainOptionsAndEntries)
{
    TempDir dir;
    writeFile(dir / "base/a.txt", "aaa");
    writeFile(dir / "base/b.txt", "bbbb");
    qvtest::makeDirs(dir / "base/folder");

    // No point in the name: ".zip" is appended. A path ending in '/' is an empty folder entry.
    EXPECT_EQ(callMain(zipMain, {".", "-o", "-0", dir / "plain", dir / "base", dir / "base/a.txt",
                                 dir / "base/folder/"}),
              0);
    EXPECT_TRUE(exists(dir / "plain.zip"));
    EXPECT_EQ(entryNames(dir / "plain.zip"), (std::vector<std::string>{"a.txt", "folder/"}));

    // A point anywhere keeps the name as it is.
    EXPECT_EQ(callMain(zipMain, {".", dir / "v1.2/arch", dir / "base", dir / "base/b.txt"}), -102);   // no such folder
    qvtest::makeDirs(dir / "v1.2");
    EXPECT_EQ(callMain(zipMain, {".", dir / "v1.2/arch", dir / "base", dir / "base/b.txt"}), 0);
    EXPECT_TRUE(exists(dir / "v1.2/arch"));
    EXPECT_FALSE(exists(dir / "v1.2/arch.zip"));

    // Append mode adds to the archive; without it the archive is created new.
    EXPECT_EQ(callMain(zipMain, {".", "-a", dir / "plain.zip", dir / "base", dir / "base/b.txt"}), 0);
    EXPECT_EQ(entryNames(dir / "plain.zip"), (std::vector<std::string>{"a.txt", "folder/", "b.txt"}));
    EXPECT_EQ(callMain(zipMain, {".", "-o", dir / "plain.zip", dir / "base", dir / "base/b.txt"}), 0);
    EXPECT_EQ(entryNames(dir / "plain.zip"), (std::vector<std::string>{"b.txt"}));

    // Failures.
    EXPECT_EQ(callMain(zipMain, {".", dir / "bad.zip", dir / "base", dir / "base/missing.txt"}), -1);
    EXPECT_EQ(callMain(zipMain, {".", dir / "short.zip", dir / "base", dir / "b"}), -105);
    EXPECT_EQ(callMain(zipMain, {"."}), 0);
    EXPECT_EQ(callMain(zipMain, {".", "-9"}), 0);
}

TEST_F(NSZipTest, UnzipMainResults)
{
    TempDir dir;
    writeFile(dir / "src/one.txt", "1");
    writeFile(dir / "src/sub/two.txt", "22");
    ASSERT_TRUE(zipFiles(dir / "a.zip", dir / "src", ""));

    EXPECT_EQ(callMain(unzipMain, {"."}), 0);
    EXPECT_EQ(callMain(unzipMain, {".", "-o"}), 1);
    EXPECT_EQ(callMain(unzipMain, {".", dir / "missing.zip", "-d", dir / "x/"}), 1);
    // The name is tried again with ".zip" appended.
    qvtest::makeDirs(dir / "x/src");
    EXPECT_EQ(callMain(unzipMain, {".", dir / "a", "-d", dir / "x/"}), -1002);   // "src/sub" is not there
    qvtest::makeDirs(dir / "x/src/sub");
    EXPECT_EQ(callMain(unzipMain, {".", "-x", dir / "a", "-d", dir / "x/"}), 0);
    EXPECT_EQ(readFile(dir / "x/src/sub/two.txt"), "22");

    // One named entry; a missing one gives 2. Without paths the entry lands in the destination.
    EXPECT_EQ(callMain(unzipMain, {".", dir / "a.zip", "src/nothing.txt", "-d", dir / "y/"}), 2);
    qvtest::makeDirs(dir / "y");
    EXPECT_EQ(callMain(unzipMain, {".", "-e", dir / "a.zip", "src/sub/two.txt", "-d", dir / "y/"}), 0);
    EXPECT_EQ(readFile(dir / "y/two.txt"), "22");
    EXPECT_FALSE(exists(dir / "y/one.txt"));
}

TEST_F(NSZipTest, CancelStopsBeforeTheNextFile)
{
    TempDir dir;
    writeFile(dir / "base/1.txt", "one");
    writeFile(dir / "base/3.txt", "three");
    writeFile(dir / "base/4.txt", "four");
    // The second file is a pipe: the writer blocks on it until the test has raised the flag,
    // which is exactly "while the second of four files is added".
    ASSERT_EQ(mkfifo((dir / "base/2.txt").c_str(), 0600), 0);

    int result = 1;
    std::thread writer([&] {
        result = callMain(zipMain, {".", "-o", dir / "c.zip", dir / "base", dir / "base/1.txt", dir / "base/2.txt",
                                    dir / "base/3.txt", dir / "base/4.txt"});
    });
    const int pipe = open((dir / "base/2.txt").c_str(), O_WRONLY);   // returns once the writer reads it
    ASSERT_GE(pipe, 0);
    zipCancelFlag = 1;
    ASSERT_EQ(write(pipe, "two", 3), 3);
    close(pipe);
    writer.join();

    EXPECT_EQ(result, -1000);
    EXPECT_EQ(entryNames(dir / "c.zip"), (std::vector<std::string>{"1.txt", "2.txt"}));
    zipCancelFlag = 0;
}

TEST_F(NSZipTest, HostileEntriesWriteNothingOutside)
{
    TempDir dir;
    const std::vector<std::vector<std::pair<std::string, std::string>>> hostile = {
        {{"ok.txt", "fine"}, {"../evil.txt", "escaped"}},
        {{"/tmp/abs.txt", "absolute"}},
        {{"ok.txt", "fine"}, {"..\\evil.txt", "escaped"}},
        {{"a/../../evil.txt", "escaped"}},
        {{"C:/evil.txt", "drive"}},
        {{"ok/..", "dots"}},
        // A name that is not text: named with U+FFFD in place of its bytes.
        {{"../\xff\xfe\xc3.txt", "escaped"}},
        // Nor does a name start a line of its own or show reversed ("exe.txt" drawn as "txt.exe").
        {{"../\xE2\x80\xAEtxt.exe\n", "escaped"}},
    };
    int n = 0;
    for (const auto& entries : hostile) {
        SCOPED_TRACE(entries.back().first);
        const std::string archive = dir / ("h" + std::to_string(n++) + ".zip");
        writeRawArchive(archive, entries);
        const std::string destination = dir / "dest/inner";
        int result = 0;
        std::string unsafe;
        qvtest::LogCapture log;
        EXPECT_FALSE(unzipFile(archive, destination, "", &result, &unsafe));
        EXPECT_EQ(result, -1004);
        EXPECT_EQ(unsafe, cleanOutsideText(entries.back().first)) << "the refused entry is named";
        EXPECT_TRUE(isValidUtf8(unsafe));
        EXPECT_EQ(unsafe.find_first_of("\n\xE2"), std::string::npos);
        EXPECT_EQ(log.count("unzip: refused: the entry \"" + unsafe + "\" would be written outside the destination"), 1);
        // Refused whole, before anything was created.
        EXPECT_FALSE(exists(dir / "dest"));
        EXPECT_FALSE(exists(dir / "evil.txt"));
        EXPECT_FALSE(exists(dir / "dest/evil.txt"));
    }
    EXPECT_FALSE(exists("/tmp/abs.txt") && readFile("/tmp/abs.txt") == "absolute");

    // Folders deeper than the system's paths reach: refused, and the log says why.
    std::string deep;
    for (int i = 0; i < 2100; ++i)
        deep += "d/";
    writeRawArchive(dir / "deep.zip", {{deep + "x.txt", "deep"}});
    {
        qvtest::LogCapture log;
        int result = 0;
        EXPECT_FALSE(unzipFile(dir / "deep.zip", dir / "deepdest", "", &result));
        bool said = false;
        for (const std::string& line : log.lines())
            said = said || (line.rfind("unzip: refused: the folder", 0) == 0 && line.find("too long") != std::string::npos);
        EXPECT_TRUE(said);
    }

    // The front-end on its own refuses the archive too, before extracting anything.
    qvtest::makeDirs(dir / "d2/inner");
    EXPECT_EQ(callMain(unzipMain, {".", dir / "h0.zip", "-d", dir / "d2/inner/"}), -1004);
    EXPECT_FALSE(exists(dir / "d2/inner/ok.txt"));
    EXPECT_FALSE(exists(dir / "d2/evil.txt"));
}

TEST_F(NSZipTest, BackslashNamesExtractIntoFolders)
{
    TempDir dir;
    writeRawArchive(dir / "win.zip", {{"dir\\a.txt", "A"}, {"dir\\sub\\b.txt", "B"}, {"top.txt", "T"}});
    ASSERT_TRUE(unzipFile(dir / "win.zip", dir / "out", ""));
    EXPECT_EQ(readFile(dir / "out/dir/a.txt"), "A");
    EXPECT_EQ(readFile(dir / "out/dir/sub/b.txt"), "B");
    EXPECT_EQ(readFile(dir / "out/top.txt"), "T");
}

TEST(NSZip, SafeEntryNames)
{
    EXPECT_TRUE(isSafeZipEntryName("a/b.txt"));
    EXPECT_TRUE(isSafeZipEntryName("a..b/c..d"));
    EXPECT_TRUE(isSafeZipEntryName("..a"));
    EXPECT_TRUE(isSafeZipEntryName(""));
    EXPECT_FALSE(isSafeZipEntryName(".."));
    EXPECT_FALSE(isSafeZipEntryName("a/.."));
    EXPECT_FALSE(isSafeZipEntryName("a\\..\\b"));
    EXPECT_FALSE(isSafeZipEntryName("/a"));
    EXPECT_FALSE(isSafeZipEntryName("\\a"));
    EXPECT_FALSE(isSafeZipEntryName("c:a"));
    EXPECT_FALSE(isSafeZipEntryName(nullptr));
}

// Archives that expand far beyond their size are refused before anything is written: entries
// sharing one stored kernel (a few kilobytes expanding to hundreds of megabytes), more entries
// than any real archive holds, and declared sizes the disk cannot take. An entry that expands
// past what it declares fails, and nothing of its archive stays.
TEST_F(NSZipTest, ArchivesThatExpandWithoutBoundAreRefused)
{
    TempDir dir;
    // 64 entries, each the same 1 MB kernel.
    const std::string kernel(1 << 20, 'A');
    const std::string packed = deflateRaw(kernel);
    RawZip overlapping;
    const uint32_t at = overlapping.addData("k0000.txt", packed, 8, crcOf(kernel), static_cast<uint32_t>(kernel.size()));
    for (int i = 0; i < 64; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "k%04d.txt", i);
        overlapping.addEntry(name, at, 8, crcOf(kernel), static_cast<uint32_t>(packed.size()),
                             static_cast<uint32_t>(kernel.size()));
    }
    overlapping.write(dir / "overlap.zip");

    // Thousands of entries that each declare 4 GB.
    RawZip huge;
    const std::string little = deflateRaw("x");
    for (int i = 0; i < 4000; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "h%04d.txt", i);
        const uint32_t offset = huge.addData(name, little, 8, crcOf("x"), 0xfffffff0u);
        huge.addEntry(name, offset, 8, crcOf("x"), static_cast<uint32_t>(little.size()), 0xfffffff0u);
    }
    huge.write(dir / "huge.zip");

    // More entries than any archive of the program's holds (empty stored files).
    RawZip crowded;
    for (int i = 0; i < 200001; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "c%06d", i);
        const uint32_t offset = crowded.addData(name, "", 0, 0, 0);
        crowded.addEntry(name, offset, 0, 0, 0, 0);
    }
    crowded.write(dir / "crowded.zip");

    // A harmless entry, then one whose data expands past its declared 100 bytes.
    RawZip lying;
    const std::string body(5000, 'B');
    const std::string packedBody = deflateRaw(body);
    const uint32_t first = lying.addData("a/ok.txt", deflateRaw("fine"), 8, crcOf("fine"), 4);
    const uint32_t second = lying.addData("a/big.txt", packedBody, 8, crcOf(body), 100);
    lying.addEntry("a/ok.txt", first, 8, crcOf("fine"), static_cast<uint32_t>(deflateRaw("fine").size()), 4);
    lying.addEntry("a/big.txt", second, 8, crcOf(body), static_cast<uint32_t>(packedBody.size()), 100);
    lying.write(dir / "lying.zip");

    const struct {
        const char* archive;
        int code;
    } cases[] = {{"overlap.zip", -1006}, {"huge.zip", -1007}, {"crowded.zip", -1005}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        const std::string out = dir / (std::string("out-") + c.archive);
        EXPECT_FALSE(unzipFile(dir / c.archive, out + "/inner", ""));
        EXPECT_FALSE(exists(out)) << "refused before anything was created";
        const std::string front = dir / (std::string("front-") + c.archive);
        qvtest::makeDirs(front);
        EXPECT_EQ(callMain(unzipMain, {".", dir / c.archive, "-d", front + "/"}), c.code);
        EXPECT_EQ(filesBelow(front), 0u);
    }

    EXPECT_FALSE(unzipFile(dir / "lying.zip", dir / "out/inner", ""));
    EXPECT_FALSE(exists(dir / "out")) << "the files and folders made for it are removed";
    qvtest::makeDirs(dir / "front/a");
    EXPECT_NE(callMain(unzipMain, {".", dir / "lying.zip", "-d", dir / "front/"}), 0);
    EXPECT_EQ(filesBelow(dir / "front"), 0u);

    // Honest sizes on a disk that fills once writing begins (another writer takes the room):
    // the bytes written count, and the extraction stops before the margin is used.
    const std::string zeros(8 << 20, '\0');
    RawZip filling;
    const uint32_t offset = filling.addData("zeros.bin", deflateRaw(zeros), 8, crcOf(zeros), 8 << 20);
    filling.addEntry("zeros.bin", offset, 8, crcOf(zeros), static_cast<uint32_t>(deflateRaw(zeros).size()), 8 << 20);
    filling.write(dir / "filling.zip");
    setZipFreeSpaceProbe([](const char* destination, unsigned long long* available) {
        *available = kUnzipMinFreeBytes + ((access((std::string(destination) + "zeros.bin").c_str(), F_OK) == 0 ? 2ull : 64ull) << 20);
        return true;
    });
    int result = 0;
    EXPECT_FALSE(unzipFile(dir / "filling.zip", dir / "filled/inner", "", &result));
    setZipFreeSpaceProbe(nullptr);
    EXPECT_EQ(result, kUnzipTooLarge);
    EXPECT_FALSE(exists(dir / "filled"));
}
