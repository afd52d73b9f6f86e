// The settings store: byte-exact round trips, kept lines, flushing and its failures, threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "platform/CCAtomicFile.h"
#include "support/HeadlessDirector.h"
#include "support/TempDir.h"

USING_NS_CC;
using qvtest::readFile;
using qvtest::writeFile;

namespace {

class UserDefaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = tmp / "store/";
        FileUtils::getInstance()->setWritablePath(dir);
        file = dir + "UserDefault.txt";
    }
    void TearDown() override
    {
        detail::setAtomicWriteStopBeforeRenameForTest(false);
        UserDefault::destroyInstance();
        FileUtils::destroyInstance();
    }
    // A fresh store read from the file.
    UserDefault* reopen()
    {
        UserDefault::destroyInstance();
        return UserDefault::getInstance();
    }

    qvtest::TempDir tmp;
    std::string dir;
    std::string file;
};

} // namespace

TEST_F(UserDefaultTest, AnyKeyAndValueRoundTrips)
{
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"YQ==", "eA=="}, // what the settings layer stores: Base64 texts with '=' ...
        {"a+b/c=", "+/+/=="},
        {"tab\there", "new\nline\r\n"},
        {std::string("nul\0byte", 8), std::string("\0\0", 2)},
        {"\xE4\xB8\xAD\xE6\x96\x87", "\xFF\xFE"},
        {"empty value", ""},
        {"", "empty key"},
        {"dicomServerIP", "127.0.0.1"},
    };
    UserDefault* ud = UserDefault::getInstance();
    for (const auto& [k, v] : entries) {
        ud->setStringForKey(k, v);
    }
    ud->setIntegerForKey("int", -42);
    ud->setBoolForKey("bool", true);
    ASSERT_TRUE(ud->flush());

    // The file is one "Base64(key) TAB Base64(value)" line per entry.
    const std::string text = readFile(file);
    EXPECT_NE(text.find(safeBase64EncodeString("a+b/c=") + "\t" + safeBase64EncodeString("+/+/==") + "\n"),
              std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(entries.size()) + 2);

    ud = reopen();
    for (const auto& [k, v] : entries) {
        EXPECT_EQ(ud->getStringForKey(k, "default"), v) << k;
    }
    EXPECT_EQ(ud->getIntegerForKey("int"), -42);
    EXPECT_TRUE(ud->getBoolForKey("bool"));
    EXPECT_EQ(ud->getStringForKey("absent", "d"), "d");
    EXPECT_EQ(ud->getIntegerForKey("absent", 7), 7);
    EXPECT_FALSE(ud->getBoolForKey("absent"));

    ud->deleteValueForKey("int");
    ud->setStringForKey("YQ==", "changed");
    ASSERT_TRUE(ud->flush());
    ud = reopen();
    EXPECT_EQ(ud->getIntegerForKey("int", 1), 1);
    EXPECT_EQ(ud->getStringForKey("YQ=="), "changed");
    EXPECT_EQ(ud->getStringForKey("dicomServerIP"), "127.0.0.1");
}

TEST_F(UserDefaultTest, LinesItDoesNotUnderstandSurviveAFlush)
{
    FileUtils::getInstance()->createDirectory(dir);
    const std::string good = safeBase64EncodeString("k") + "\t" + safeBase64EncodeString("v");
    const std::string odd[] = {"some text", "a\tb\tc", "!!!\t???", "", "Zm9v"};
    std::string content = odd[0] + "\n" + good + "\n" + odd[1] + "\n" + odd[2] + "\n" + odd[3] + "\n" + odd[4];
    writeFile(file, content);

    UserDefault* ud = UserDefault::getInstance();
    EXPECT_EQ(ud->getStringForKey("k"), "v");
    ud->setStringForKey("new", "entry");
    ASSERT_TRUE(ud->flush());
    const std::string text = readFile(file);
    for (const std::string& line : odd) {
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line;
    }
    EXPECT_EQ(text.find(odd[0] + "\n" + good + "\n" + odd[1] + "\n"), 0u); // in their places
}

TEST_F(UserDefaultTest, NothingReachesTheFileBeforeFlush)
{
    UserDefault* ud = UserDefault::getInstance();
    ud->setStringForKey("a", "1");
    ASSERT_TRUE(ud->flush());
    const std::string before = readFile(file);
    ud->setStringForKey("b", "2");
    ud->setIntegerForKey("c", 3);
    ud->deleteValueForKey("a");
    EXPECT_EQ(readFile(file), before);
    ASSERT_TRUE(ud->flush());
    EXPECT_NE(readFile(file), before);
}

TEST_F(UserDefaultTest, FailedFlushIsReportedAndLosesNothing)
{
    UserDefault* ud = UserDefault::getInstance();
    ud->setStringForKey("kept", "old");
    ASSERT_TRUE(ud->flush());
    const std::string saved = readFile(file);

    // The folder disappears and a plain file takes its place: the write cannot happen.
    const std::string moved = tmp / "moved";
    ASSERT_EQ(std::rename(dir.substr(0, dir.size() - 1).c_str(), moved.c_str()), 0);
    writeFile(dir.substr(0, dir.size() - 1), "in the way");
    ud->setStringForKey("kept", "new");
    {
        qvtest::LogCapture log;
        EXPECT_FALSE(ud->flush());
        EXPECT_EQ(log.count("UserDefault: failed to write " + file), 1u);
    }
    EXPECT_EQ(readFile(moved + "/UserDefault.txt"), saved);
    EXPECT_EQ(ud->getStringForKey("kept"), "new"); // still in memory

    // Back in place: the next flush writes it.
    std::remove(dir.substr(0, dir.size() - 1).c_str());
    ASSERT_EQ(std::rename(moved.c_str(), dir.substr(0, dir.size() - 1).c_str()), 0);
    EXPECT_TRUE(ud->flush());
    EXPECT_EQ(reopen()->getStringForKey("kept"), "new");
}

TEST_F(UserDefaultTest, CrashBeforeTheRenameLeavesTheOldFileWhole)
{
    UserDefault* ud = UserDefault::getInstance();
    ud->setStringForKey("a", "first");
    ASSERT_TRUE(ud->flush());
    const std::string saved = readFile(file);

    ud->setStringForKey("a", "second");
    detail::setAtomicWriteStopBeforeRenameForTest(true);
    EXPECT_FALSE(ud->flush());
    detail::setAtomicWriteStopBeforeRenameForTest(false);
    EXPECT_EQ(readFile(file), saved);
    UserDefault::destroyInstance(); // the "crash": memory is gone
    EXPECT_EQ(UserDefault::getInstance()->getStringForKey("a"), "first");
}

TEST_F(UserDefaultTest, ConcurrentWriters)
{
    UserDefault* ud = UserDefault::getInstance();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([ud, t] {
            for (int i = 0; i < 100; ++i) {
                ud->setStringForKey("t" + std::to_string(t) + "/" + std::to_string(i), std::to_string(i));
                if (i % 25 == 0) {
                    EXPECT_TRUE(ud->flush());
                }
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    ASSERT_TRUE(ud->flush());
    ud = reopen();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(ud->getIntegerForKey("t" + std::to_string(t) + "/" + std::to_string(i), -1), i);
        }
    }
}
