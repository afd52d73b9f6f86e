// Base64: standard vectors, high bytes, white space, and input that must fail.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cocos2d.h"

USING_NS_CC;

namespace {

std::string encode(const std::string& in)
{
    char* out = nullptr;
    const int n = safeBase64Encode(reinterpret_cast<const unsigned char*>(in.data()),
                                   static_cast<unsigned int>(in.size()), &out);
    std::string s = out ? std::string(out, static_cast<size_t>(n)) : std::string();
    if (out) {
        EXPECT_EQ(out[n], '\0');
    }
    safeBase64Free(out);
    return s;
}

// The decoded bytes, or "<fail>" when decoding yields nothing.
std::string decode(const std::string& in)
{
    unsigned char* out = nullptr;
    const int n = safeBase64Decode(reinterpret_cast<const unsigned char*>(in.data()),
                                   static_cast<unsigned int>(in.size()), &out);
    if (n == 0) {
        EXPECT_EQ(out, nullptr);
        return "<fail>";
    }
    EXPECT_EQ(out[n], '\0'); // usable as a C string
    std::string s(reinterpret_cast<char*>(out), static_cast<size_t>(n));
    safeBase64Free(out);
    return s;
}

} // namespace

TEST(Base64Test, StandardVectors)
{
    const std::pair<std::string, std::string> vectors[] = {
        {"f", "Zg=="},     {"fo", "Zm8="},         {"foo", "Zm9v"},        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(encode(plain), coded);
        EXPECT_EQ(decode(coded), plain);
        EXPECT_EQ(safeBase64EncodeString(plain), coded);
        EXPECT_EQ(safeBase64DecodeString(coded), plain);
    }
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(decode(""), "<fail>");
    EXPECT_EQ(encode(std::string("\xFF\xFE", 2)), "//4=");
    EXPECT_EQ(decode("//4="), std::string("\xFF\xFE", 2));
    EXPECT_EQ(encode(std::string("\x80\x00\x81", 3)), "gACB");

    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    for (size_t len = 0; len <= all.size(); len += 7) {
        EXPECT_EQ(safeBase64DecodeString(safeBase64EncodeString(all.substr(0, len))), all.substr(0, len));
    }
    EXPECT_EQ(safeBase64EncodeString(std::string(100, 'a')).find('\n'), std::string::npos); // no line breaks
}

TEST(Base64Test, LenientWhereItIsSafe)
{
    EXPECT_EQ(decode("Zm9v\r\nYmFy \t"), "foobar");
    EXPECT_EQ(decode(" Zm8 = "), "fo");
    EXPECT_EQ(decode("Zm9vYg"), "foob");  // missing padding
    EXPECT_EQ(decode("Zm9vYmE"), "fooba");
    EXPECT_EQ(decode("Zm9vYg="), "foob"); // partial padding
}

TEST(Base64Test, BadInputFailsWhole)
{
    EXPECT_EQ(decode("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>"), "<fail>");
    EXPECT_EQ(safeBase64DecodeString("<plist><dict/></plist>"), "");
    EXPECT_EQ(decode("===="), "<fail>");
    EXPECT_EQ(decode("="), "<fail>");
    EXPECT_EQ(decode("Z"), "<fail>");
    EXPECT_EQ(decode("Zm9vY"), "<fail>");   // a lone sextet cannot make a byte
    EXPECT_EQ(decode("Zg==Zg=="), "<fail>"); // data after padding
    EXPECT_EQ(decode("Zg==="), "<fail>");
    EXPECT_EQ(decode("Zm9v="), "<fail>");
    EXPECT_EQ(decode("Zm9v-_"), "<fail>");   // URL-safe alphabet is not this one
    EXPECT_EQ(decode(std::string("Zm\0v", 4)), "<fail>");
    EXPECT_EQ(decode("Zm9v\xC3\xA9"), "<fail>");

    unsigned char* out = reinterpret_cast<unsigned char*>(1);
    EXPECT_EQ(safeBase64Decode(nullptr, 4, &out), 0);
    EXPECT_EQ(out, nullptr);
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(safeBase64Encode(nullptr, 4, &text), 0);
    EXPECT_EQ(text, nullptr);
}
