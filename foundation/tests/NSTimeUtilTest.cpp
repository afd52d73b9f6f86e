// Date-time texts, the creation time of files and the sleep.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "NSFileTestSupport.h"
#include "NSTimeUtil.h"

TEST(NSTimeUtil, FormatAndParse)
{
    const int fields[6] = {2017, 7, 2, 9, 5, 0};
    EXPECT_EQ(formatDateTime(fields), "2017-07-02 09:05:00");
    const int wide[6] = {12345, 12, 31, 23, 59, 59};
    EXPECT_EQ(formatDateTime(wide), "12345-12-31 23:59:59");

    int parsed[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_FALSE(parseDateTime("2017-07-22 09:05:0", parsed));   // 18 characters
    EXPECT_EQ(parsed[0], -1);
    ASSERT_TRUE(parseDateTime("2017-07-22 09:05:00", parsed));
    EXPECT_EQ(std::vector<int>(parsed, parsed + 6), (std::vector<int>{2017, 7, 22, 9, 5, 0}));
    // Read by position: the separators are not looked at.
    ASSERT_TRUE(parseDateTime("2020/01/02T03.04.05 extra", parsed));
    EXPECT_EQ(std::vector<int>(parsed, parsed + 6), (std::vector<int>{2020, 1, 2, 3, 4, 5}));

    // What getCurrentDateTime writes, parseDateTime reads back.
    ASSERT_TRUE(parseDateTime(getCurrentDateTime(), parsed));
    EXPECT_EQ(formatDateTime(parsed).size(), 19u);
    EXPECT_GE(parsed[0], 2020);
}

TEST(NSTimeUtil, DaysInMonth)
{
    EXPECT_EQ(getDaysInMonth(1900, 2), 28);
    EXPECT_EQ(getDaysInMonth(2000, 2), 29);
    EXPECT_EQ(getDaysInMonth(2016, 2), 29);
    EXPECT_EQ(getDaysInMonth(2017, 2), 28);
    EXPECT_EQ(getDaysInMonth(2017, 4), 30);
    EXPECT_EQ(getDaysInMonth(2017, 12), 31);
    EXPECT_EQ(getDaysInMonth(2017, 13), 0);
    EXPECT_EQ(getDaysInMonth(2017, 0), 0);
}

TEST(NSTimeUtil, FileCreationTime)
{
    EXPECT_EQ(getFileCreationTime(""), "");

    // A missing file gives the current local time in the full form.
    const std::string missing = getFileCreationTime("/nonexistent/file");
    int f[6] = {};
    ASSERT_TRUE(parseDateTime(missing, f));
    EXPECT_EQ(formatDateTime(f), missing);

    // A new file: its birth (or modification) time in UTC, without leading zeros.
    qvtest::TempDir dir;
    const std::time_t before = std::time(nullptr);
    qvtest::writeFile(dir / "new.txt", "x");
    const std::string text = getFileCreationTime(dir / "new.txt");
    int v[6] = {};
    char rest = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d.%d.%d %d:%d:%d%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &rest), 6)
        << text;
    char again[64];
    std::snprintf(again, sizeof again, "%i.%i.%i %i:%i:%i", v[0], v[1], v[2], v[3], v[4], v[5]);
    EXPECT_EQ(text, again);   // no leading zeros
    std::tm utc{};
    utc.tm_year = v[0] - 1900;
    utc.tm_mon = v[1] - 1;
    utc.tm_mday = v[2];
    utc.tm_hour = v[3];
    utc.tm_min = v[4];
    utc.tm_sec = v[5];
    const std::time_t created = timegm(&utc);
    EXPECT_GE(created, before - 1);
    EXPECT_LE(created, std::time(nullptr) + 1);
}

TEST(NSTimeUtil, TimestampAndSleep)
{
    const std::time_t now = std::time(nullptr);
    const unsigned long long stamp = std::stoull(getTimestampString());
    EXPECT_LE(static_cast<unsigned long long>(now) & 0xffffffffu, stamp);
    EXPECT_LE(stamp, (static_cast<unsigned long long>(now) & 0xffffffffu) + 2);

    const auto start = std::chrono::steady_clock::now();
    sleepFor(0, 20 * 1000 * 1000);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}
