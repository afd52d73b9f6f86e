#include "UIJson.h"

#include <gtest/gtest.h>

using NSUI::UIJson;

TEST(UIJson, WritesTheWireFormatAndReplacesInPlace)
{
    std::string json;
    UIJson::setString(json, "a", "1");
    EXPECT_EQ(json, R"({"a":"1"})");
    UIJson::setString(json, "b", "2");
    EXPECT_EQ(json, R"({"a":"1","b":"2"})");
    UIJson::setString(json, "a", "3");
    EXPECT_EQ(json, R"({"a":"3","b":"2"})");
    UIJson::setInt(json, "n", -42);
    UIJson::setFloat(json, "f", 0.5f);
    EXPECT_EQ(json, R"({"a":"3","b":"2","n":"-42","f":"0.500000"})");
    // Replacing with a longer or an empty value keeps the others intact.
    UIJson::setString(json, "b", "a much longer value");
    UIJson::setString(json, "a", "");
    EXPECT_EQ(json, R"({"a":"","b":"a much longer value","n":"-42","f":"0.500000"})");

    EXPECT_EQ(UIJson::getString(json, "b"), "a much longer value");
    EXPECT_EQ(UIJson::getString(json, "a"), "");
    EXPECT_EQ(UIJson::getInt(json, "n", 7), -42);
    EXPECT_FLOAT_EQ(UIJson::getFloat(json, "f", 9.0f), 0.5f);
    EXPECT_EQ(UIJson::getStringWithDefault(json, "missing", "dflt"), "dflt");
    EXPECT_EQ(UIJson::getInt(json, "missing", 7), 7);
    EXPECT_FLOAT_EQ(UIJson::getFloat(json, "missing", 9.0f), 9.0f);
    // A present but non-numeric value gives 0, not the default.
    EXPECT_EQ(UIJson::getInt(R"({"x":"abc"})", "x", 5), 0);
}

TEST(UIJson, RoundTripsValuesOfEveryShape)
{
    const char* values[] = {
        "plain", "A, B", "x]y", "a}b", "colon:inside", "[1,2]", "{x}", " lead", "UTF-8 \xE4\xB8\xAD",
        "1.25",  ""};
    std::string json;
    int i = 0;
    for (const char* v : values)
        UIJson::setString(json, "k" + std::to_string(i++), v);
    i = 0;
    for (const char* v : values)
        EXPECT_EQ(UIJson::getString(json, "k" + std::to_string(i++)), v) << v;

    // Rewriting every value in reverse order keeps every other pair readable.
    for (int k = i - 1; k >= 0; --k)
        UIJson::setString(json, "k" + std::to_string(k), std::string("v,") + std::to_string(k));
    for (int k = 0; k < i; ++k)
        EXPECT_EQ(UIJson::getString(json, "k" + std::to_string(k)), "v," + std::to_string(k));
}

// A quoted value holding ',', ']' or '}' must read back whole; such values occur in overlay texts
// (institution names), series arguments and server replies.
TEST(UIJson, QuotedValueWithTerminatorIsReadWhole)
{
    std::string json = R"({"hospital":"A, B","x":"1"})";
    EXPECT_EQ(UIJson::getString(json, "hospital"), "A, B");
    EXPECT_EQ(UIJson::getString(json, "x"), "1");
    UIJson::setString(json, "hospital", "C");
    EXPECT_EQ(json, R"({"hospital":"C","x":"1"})");
    EXPECT_EQ(UIJson::getString(json, "x"), "1");

    EXPECT_EQ(UIJson::getString(R"({"a":"p]q","b":"r}s","c":"t"})", "b"), "r}s");
    EXPECT_EQ(UIJson::getString(R"({"a":"p]q","b":"r}s","c":"t"})", "c"), "t");
    // White space before the opening quote (text written by other programs).
    EXPECT_EQ(UIJson::getString(R"({ "a" : "1, 2" , "b" : "3" })", "a"), "1, 2");
    EXPECT_EQ(UIJson::getString(R"({ "a" : "1, 2" , "b" : "3" })", "b"), "3");
}

TEST(UIJson, ReadingRulesForTextFromOutside)
{
    // A value holding a double quote is written unescaped and reads back cut at that quote.
    std::string json;
    UIJson::setString(json, "q", "say \"hi\"");
    EXPECT_EQ(json, R"({"q":"say "hi""})");
    EXPECT_EQ(UIJson::getString(json, "q"), "say ");

    // Appending to an empty object gives "{," and still reads back.
    json = "{}";
    UIJson::setString(json, "a", "1");
    EXPECT_EQ(json, R"({,"a":"1"})");
    EXPECT_EQ(UIJson::getString(json, "a"), "1");

    // Bare numbers read as the raw text between the colon and the terminator.
    EXPECT_EQ(UIJson::getInt(R"({"code": 123,"msg":"ok"})", "code", -1), 123);
    EXPECT_EQ(UIJson::getString(R"({"code": 123,"msg":"ok"})", "code"), " 123");
    EXPECT_EQ(UIJson::getString(R"({"code": 123,"msg":"ok"})", "msg"), "ok");
    EXPECT_FLOAT_EQ(UIJson::getFloat(R"({"v":2.5})", "v", 0.0f), 2.5f);

    // Replacing a bare value keeps the colon and its terminator.
    json = R"({"code":123,"msg":"ok"})";
    UIJson::setString(json, "code", "7");
    EXPECT_EQ(json, R"({"code":"7","msg":"ok"})");
    json = R"({"msg":"ok","code":123})";
    UIJson::setInt(json, "code", 8);
    EXPECT_EQ(json, R"({"msg":"ok","code":"8"})");

    // An array of quoted texts is skipped whole when looking for a later key.
    EXPECT_EQ(UIJson::getString(R"({"list":["a","b","c"],"k":"v"})", "k"), "v");
    EXPECT_EQ(UIJson::getString(R"({"list":["k","v"],"k":"w"})", "k"), "w");
    // A key only matches at key position: a value equal to the key is never taken for it.
    EXPECT_EQ(UIJson::getString(R"({"a":"b","b":"c"})", "b"), "c");
    // Keys compare byte for byte and by length.
    EXPECT_EQ(UIJson::getString(R"({"ab":"1","a":"2"})", "a"), "2");
    EXPECT_EQ(UIJson::getString(R"({"A":"1"})", "a"), "");
    // After a nested object the flat reader loses step; the key that follows it is not found.
    EXPECT_EQ(UIJson::getString(R"({"o":{"in":"1"},"after":"2"})", "after"), "");
}

TEST(UIJson, MalformedInputYieldsAbsentKey)
{
    const char* inputs[] = {"",
                            "not json at all",
                            "{",
                            "}",
                            "\"",
                            "{\"a\"",
                            "{\"a\":",
                            "{\"a\":\"1",
                            "{\"a\":[\"x\"",
                            "[[[[",
                            "{\"a\":\"1\"",
                            ":::,,,",
                            "{\"\":\"\"}"};
    for (const char* in : inputs)
    {
        EXPECT_EQ(UIJson::getString(in, "zz"), "") << in;
        EXPECT_EQ(UIJson::getInt(in, "zz", 11), 11) << in;
    }
    // Truncated texts: the value is found only when it has a terminator.
    EXPECT_EQ(UIJson::getStringWithDefault("{\"a\":\"1", "a", "d"), "d");
    EXPECT_EQ(UIJson::getString("{\"a\":\"1\"}", "a"), "1");

    int b = -1, e = -1;
    EXPECT_FALSE(UIJson::findToken("abc", UIJson::TokenQuoted, 3, b, e));
    EXPECT_FALSE(UIJson::findToken("abc", UIJson::TokenQuoted, -1, b, e));
    EXPECT_FALSE(UIJson::findToken("\"a\"", 2, 0, b, e));
    EXPECT_TRUE(UIJson::findToken("x[a[b]c]y", UIJson::TokenArray, 0, b, e));
    EXPECT_EQ(b, 1);
    EXPECT_EQ(e, 7);

    // setString never throws on odd input and the written pair reads back.
    std::string odd = "garbage";
    UIJson::setString(odd, "k", "v");
    EXPECT_EQ(UIJson::getString(odd, "k"), "v");
}

// A look-up reads the text about once, however many pairs come before the key: server replies
// of several megabytes are read key by key. (Rescanning the rest of the text for every pair
// passed made this test run for hours.)
TEST(UIJson, LargeRepliesAreReadInOnePass)
{
    std::string json = "{";
    const int pairs = 200000;
    for (int i = 0; i < pairs; ++i)
        json += "\"k" + std::to_string(i) + "\":\"value " + std::to_string(i) + "\",";
    // A long list of quoted texts at the end, and an unterminated one inside a value.
    json += "\"list\":[";
    for (int i = 0; i < 100000; ++i)
        json += "\"item\",";
    json += "\"last\"],\"odd\":\"[ not a list\",\"end\":\"done\"}";
    ASSERT_GT(json.size(), 4000000u);

    EXPECT_EQ(UIJson::getString(json, "k0"), "value 0");
    EXPECT_EQ(UIJson::getString(json, "k199999"), "value 199999");
    EXPECT_EQ(UIJson::getString(json, "odd"), "[ not a list");
    EXPECT_EQ(UIJson::getString(json, "end"), "done");
    EXPECT_EQ(UIJson::getStringWithDefault(json, "absent", "none"), "none");
    UIJson::setString(json, "end", "again");
    EXPECT_EQ(UIJson::getString(json, "end"), "again");
}
