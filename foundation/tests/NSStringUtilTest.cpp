#include "NSStringUtil.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

TEST(FormatString, LengthLimitAndNumbers)
{
    EXPECT_EQ(formatString("%s", std::string(100, 'x').c_str()), std::string(100, 'x'));
    EXPECT_EQ(formatString("%s", std::string(70000, 'x').c_str()), "");
    // The longest text that is returned whole, and the first that is refused.
    EXPECT_EQ(formatString("%s", std::string(kFormatMaxLength, 'y').c_str()).size(),
              static_cast<size_t>(kFormatMaxLength));
    EXPECT_EQ(formatString("%s", std::string(kFormatMaxLength + 1, 'y').c_str()), "");
    EXPECT_EQ(formatString("%u", 3797874002u), "3797874002");

    EXPECT_EQ(intToString(-5), "-5");
    EXPECT_EQ(intToString(0), "0");

    EXPECT_EQ(floatToString(1.5f, 3), "1.5");
    EXPECT_EQ(floatToString(2.0f, 2), "2");
    EXPECT_EQ(floatToString(3.0f, 2), "3");
    EXPECT_EQ(floatToString(100.0f, 0), "100");
    EXPECT_EQ(floatToString(0.5f, 0), formatString("%.0f", 0.5));
    EXPECT_EQ(floatToString(-0.25f, 2), "-0.25");
    EXPECT_EQ(floatToString(10.0f, 1), "10");
}

// The formatter is used at once by the main thread and by workers (SQL statements, cache names);
// each thread must get back exactly the text it formatted.
TEST(FormatString, ConcurrentThreadsKeepTheirOwnText)
{
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
    {
        threads.emplace_back(
            [t, &mismatches]
            {
                for (int i = 0; i < 2000; ++i)
                {
                    const std::string expected = "t" + std::to_string(t) + "-" + std::to_string(i) +
                                                 std::string(static_cast<size_t>(i % 300), 'a' + t);
                    const std::string got = formatString(
                        "t%i-%i%s", t, i, std::string(static_cast<size_t>(i % 300), 'a' + t).c_str());
                    if (got != expected)
                        ++mismatches;
                }
            });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(TextEditing, TrimSplitReplaceDigits)
{
    std::string t = " \t inner text\r\n";
    EXPECT_EQ(trim(t), "inner text");
    std::string spaces = "    ";
    EXPECT_EQ(trim(spaces), "");
    std::string left = "  x  ";
    EXPECT_EQ(trimLeft(left), "x  ");
    std::string right = "  x  ";
    EXPECT_EQ(trimRight(right), "  x");
    // Bytes of 0x80 and above are never whitespace (UTF-8 continuation bytes).
    std::string utf = "\xC2\xA0x\xC2\xA0";
    EXPECT_EQ(trim(utf), "\xC2\xA0x\xC2\xA0");

    std::vector<std::string> parts;
    splitString("a,,b", ",", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "", "b"}));
    parts.clear();
    splitString("a,b,", ",", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", ""}));
    parts.clear();
    splitString("", ",", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{""}));
    // The output is appended to, not cleared; multi-character delimiters work.
    splitString("x::y", "::", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"", "x", "y"}));
    parts.clear();
    splitString("abc", "", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"abc"}));

    std::string r = "aaa";
    EXPECT_EQ(replaceAll(r, "a", "ba"), "bababa");
    std::string r2 = "a\\b\\c";
    EXPECT_EQ(replaceAll(r2, "\\", "/"), "a/b/c");
    std::string r3 = "abc";
    EXPECT_EQ(replaceAll(r3, "", "x"), "abc");

    EXPECT_TRUE(isDigitsOnly(""));
    EXPECT_TRUE(isDigitsOnly("0123456789"));
    EXPECT_FALSE(isDigitsOnly("12a"));
    EXPECT_FALSE(isDigitsOnly("-1"));
}

TEST(Encodings, Utf16RoundTripAndMalformedInput)
{
    char16_t* empty = utf8ToWide("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    std::free(empty);

    // ASCII, two-, three- and four-byte sequences (the last becomes a surrogate pair).
    const std::string text = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
    char16_t* wide = utf8ToWide(text.c_str());
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], u'A');
    EXPECT_EQ(wide[1], 0x00E9);
    EXPECT_EQ(wide[2], 0x4E2D);
    EXPECT_EQ(wide[3], 0xD83D);
    EXPECT_EQ(wide[4], 0xDE00);
    EXPECT_EQ(wide[5], 0);
    EXPECT_EQ(wideToUtf8(wide), text);
    std::free(wide);

    // A truncated sequence and a stray continuation byte become U+FFFD, never an overrun.
    char16_t* bad = utf8ToWide("a\xE4\xB8");
    EXPECT_EQ(bad[0], u'a');
    EXPECT_EQ(bad[1], 0xFFFD);
    std::free(bad);
    const char16_t lone[] = {0xD800, u'x', 0};
    EXPECT_EQ(wideToUtf8(lone), "\xEF\xBF\xBDx");
    EXPECT_EQ(wideToUtf8(nullptr), "");
}

TEST(Encodings, LegacyCodePageToUtf8)
{
    // Valid UTF-8 passes unchanged, including text that happens to be valid in both encodings.
    EXPECT_EQ(ansiToUtf8("plain ascii"), "plain ascii");
    EXPECT_EQ(ansiToUtf8("\xE4\xB8\xAD\xE6\x96\x87"), "\xE4\xB8\xAD\xE6\x96\x87");
    // "中文" in GB18030 becomes UTF-8.
    EXPECT_EQ(ansiToUtf8("\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87");
    // Bytes that are neither stay as they were.
    EXPECT_EQ(ansiToUtf8("\xFF"), "\xFF");

    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_TRUE(isValidUtf8(""));
}

TEST(FoldedHash, KnownValues)
{
    EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(fnv1a64("abc"), 0xe71fa2190541574bULL);
    EXPECT_EQ(foldedHash32("abc"), 0xe25ef552u);
    EXPECT_EQ(formatString("%u", foldedHash32("abc")), "3797874002");
    // Bytes above 0x7F are hashed as unsigned values.
    EXPECT_NE(foldedHash32("\xE4"), foldedHash32("\x64"));
}

// The series cache stores matrices row by row; a transposition would misplace every slice.
TEST(MatrixFromArray, RowsBecomeTheColumnMajorMatrix)
{
    // Rotation by 90 degrees about z and a translation of (10, 20, 30).
    const float rows[16] = {0, -1, 0, 10, 1, 0, 0, 20, 0, 0, 1, 30, 0, 0, 0, 1};
    const cocos2d::Mat4 m = matrixFromArray(rows);
    EXPECT_FLOAT_EQ(m.m[12], 10.0f);
    EXPECT_FLOAT_EQ(m.m[13], 20.0f);
    EXPECT_FLOAT_EQ(m.m[14], 30.0f);
    EXPECT_FLOAT_EQ(m.m[1], 1.0f);  // row 1, column 0
    EXPECT_FLOAT_EQ(m.m[4], -1.0f); // row 0, column 1
    cocos2d::Vec3 p(1, 0, 0);
    m.transformPoint(&p);
    EXPECT_FLOAT_EQ(p.x, 10.0f);
    EXPECT_FLOAT_EQ(p.y, 21.0f);
    EXPECT_FLOAT_EQ(p.z, 30.0f);
}
