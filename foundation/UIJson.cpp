#include "UIJson.h"

#include "NSStringUtil.h"

#include <cstdlib>

namespace NSUI
{

namespace
{

int length(const std::string& s)
{
    return static_cast<int>(s.size());
}

// First position at or after `from` holding one of `chars`, or -1.
int findAny(const std::string& json, const char* chars, int from)
{
    if (from < 0 || from >= length(json))
        return -1;
    const size_t hit = json.find_first_of(chars, static_cast<size_t>(from));
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value text between the token's delimiters.
std::string tokenText(const std::string& json, int begin, int end)
{
    return json.substr(static_cast<size_t>(begin) + 1, static_cast<size_t>(end - begin - 1));
}

// The position of the bracket closing the array opened at `open`, or -1.
int arrayEnd(const std::string& json, int open)
{
    int depth = 0;
    for (int i = open; i < length(json); ++i)
    {
        const char c = json[static_cast<size_t>(i)];
        if (c == '[')
            ++depth;
        else if (c == ']' && --depth == 0)
            return i;
    }
    return -1;
}

} // namespace

bool UIJson::findToken(const std::string& json, int kind, int from, int& begin, int& end)
{
    if (from < 0 || from >= length(json))
        return false;
    switch (kind)
    {
    case TokenQuoted:
    {
        const int open = findAny(json, "\"", from);
        if (open < 0)
            return false;
        const int close = findAny(json, "\"", open + 1);
        if (close < 0)
            return false;
        begin = open;
        end = close;
        return true;
    }
    case TokenBare:
    {
        const int colon = findAny(json, ":", from);
        if (colon < 0)
            return false;
        const int term = findAny(json, ",]}", colon + 1);
        if (term < 0)
            return false;
        begin = colon;
        end = term;
        return true;
    }
    case TokenArray:
    {
        const int open = findAny(json, "[", from);
        if (open < 0)
            return false;
        const int close = arrayEnd(json, open);
        if (close < 0)
            return false;
        begin = open;
        end = close;
        return true;
    }
    case TokenValue:
    {
        int bareBegin, bareEnd;
        if (!findToken(json, TokenBare, from, bareBegin, bareEnd))
            return false;
        // A value that starts with a quote is the whole quoted text, whatever it contains, so
        // "Dept. A, City" is not cut at its comma.
        int first = bareBegin + 1;
        while (first < length(json) && isBlank(json[static_cast<size_t>(first)]))
            ++first;
        int qBegin, qEnd;
        if (first < length(json) && json[static_cast<size_t>(first)] == '"')
        {
            if (findToken(json, TokenQuoted, first, qBegin, qEnd))
            {
                begin = qBegin;
                end = qEnd;
                return true;
            }
        }
        else if (findToken(json, TokenQuoted, bareBegin, qBegin, qEnd) && qEnd < bareEnd)
        {
            begin = qBegin;
            end = qEnd;
            return true;
        }
        begin = bareBegin;
        end = bareEnd;
        return true;
    }
    default:
        return false;
    }
}

bool UIJson::findValue(const std::string& json, const std::string& key, int& begin, int& end)
{
    int kBegin, kEnd;
    if (!findToken(json, TokenQuoted, 0, kBegin, kEnd))
        return false;
    // The walk only moves forward, so the next '[' is looked for again only once the walk has
    // passed the one found before: the whole look-up reads the text about once.
    int nextOpen = -2;  // -2: not looked for yet; -1: none left
    int nextOpenEnd = -2;
    for (;;)
    {
        if (kEnd - kBegin - 1 == length(key) &&
            json.compare(static_cast<size_t>(kBegin) + 1, key.size(), key) == 0)
        {
            return findToken(json, TokenValue, kEnd + 1, begin, end);
        }
        // Not the key: skip its value (or, for an array of quoted texts, the whole array).
        int vBegin, vEnd;
        const bool hasValue = findToken(json, TokenValue, kEnd + 1, vBegin, vEnd);
        if (nextOpen == -2 || (nextOpen >= 0 && nextOpen < kEnd + 1))
        {
            nextOpen = findAny(json, "[", kEnd + 1);
            nextOpenEnd = -2;
        }
        int next;
        if (hasValue && (nextOpen < 0 || vBegin < nextOpen))
        {
            next = vEnd + 1;
        }
        else
        {
            if (nextOpenEnd == -2)
                nextOpenEnd = nextOpen < 0 ? -1 : arrayEnd(json, nextOpen);
            if (nextOpenEnd >= 0)
                next = nextOpenEnd + 1;
            else if (hasValue)
                next = vEnd + 1;
            else
                return false;
        }
        if (!findToken(json, TokenQuoted, next, kBegin, kEnd))
            return false;
    }
}

std::string UIJson::getString(const std::string& json, const std::string& key)
{
    return getStringWithDefault(json, key, std::string());
}

std::string UIJson::getStringWithDefault(const std::string& json, const std::string& key,
                                         const std::string& defaultValue)
{
    int begin, end;
    if (!findValue(json, key, begin, end))
        return defaultValue;
    return tokenText(json, begin, end);
}

int UIJson::getInt(const std::string& json, const std::string& key, int defaultValue)
{
    int begin, end;
    if (!findValue(json, key, begin, end))
        return defaultValue;
    return std::atoi(tokenText(json, begin, end).c_str());
}

float UIJson::getFloat(const std::string& json, const std::string& key, float defaultValue)
{
    int begin, end;
    if (!findValue(json, key, begin, end))
        return defaultValue;
    return static_cast<float>(std::atof(tokenText(json, begin, end).c_str()));
}

void UIJson::setString(std::string& json, const std::string& key, const std::string& value)
{
    if (json.empty())
    {
        json = "{\"" + key + "\":\"" + value + "\"}";
        return;
    }
    int begin, end;
    if (findValue(json, key, begin, end))
    {
        const auto b = static_cast<size_t>(begin);
        const auto e = static_cast<size_t>(end);
        if (json[b] == '"')
        {
            json = json.substr(0, b) + "\"" + value + "\"" + json.substr(e + 1);
        }
        else
        {
            // A bare value from outside: the colon and its terminator stay, the value between them
            // becomes a quoted text.
            json = json.substr(0, b + 1) + "\"" + value + "\"" + json.substr(e);
        }
        return;
    }
    json.pop_back();
    json += ",\"" + key + "\":\"" + value + "\"}";
}

void UIJson::setInt(std::string& json, const std::string& key, int value)
{
    setString(json, key, formatString("%i", value));
}

void UIJson::setFloat(std::string& json, const std::string& key, float value)
{
    setString(json, key, formatString("%.6f", static_cast<double>(value)));
}

} // namespace NSUI
