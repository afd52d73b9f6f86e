// Reads and edits small flat JSON objects kept in plain text strings, by scanning the text rather
// than parsing it. This is the one JSON facility of the program: notification payload dictionaries,
// server request and reply bodies, discovery datagrams, multi-series arguments and small settings
// all travel as such texts, so the bytes written and the reading rules are a wire format.
//
// Written form (always): {"key":"value","key2":"value2"} with no white space; integers "%i",
// floats "%.6f"; nothing is escaped, keys and values are inserted byte for byte. Start every text
// from the empty string, not from "{}" (appending to "{}" gives "{,"...", which still reads back).
//
// Reading is tolerant of text from outside: bare (unquoted) values read as the raw text between the
// colon and the next ',', ']' or '}', white space included; a key whose value is an array of quoted
// texts is skipped whole. Nested objects are not supported: keys after a nested object may not be
// found.
//
// A mixin without data: every operation is static, so it can be called through any object that
// mixes it in or as NSUI::UIJson::getString(...). Safe on any thread.
#pragma once

#include <string>

namespace NSUI
{

class UIJson
{
public:
    // Kinds of token for findToken.
    enum TokenKind
    {
        TokenValue = 0,
        TokenArray = 1,
        TokenBare = 3,
        TokenQuoted = 4
    };

    // The value text of key, or "" when the key is absent.
    static std::string getString(const std::string& json, const std::string& key);
    static std::string getStringWithDefault(const std::string& json, const std::string& key,
                                            const std::string& defaultValue);
    // atoi of the value text (a present, non-numeric value gives 0), or the default when absent.
    static int getInt(const std::string& json, const std::string& key, int defaultValue);
    // atof of the value text narrowed to float, or the default when absent.
    static float getFloat(const std::string& json, const std::string& key, float defaultValue);

    // Replaces the value of an existing key in place, else appends the pair before the closing
    // brace, or makes {"key":"value"} from an empty text.
    static void setString(std::string& json, const std::string& key, const std::string& value);
    static void setInt(std::string& json, const std::string& key, int value);
    static void setFloat(std::string& json, const std::string& key, float value);

    // Locates the value token of key at object level. For a quoted value begin and end are the
    // positions of its quotes; for a bare value, of the colon and the terminator.
    static bool findValue(const std::string& json, const std::string& key, int& begin, int& end);
    // Locates the next token of a kind at or after position `from`; both positions are inclusive
    // ends of the token's delimiters.
    static bool findToken(const std::string& json, int kind, int from, int& begin, int& end);
};

} // namespace NSUI
