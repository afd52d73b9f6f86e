#include "NSStringUtil.h"

#include "cocos2d.h"

#include <iconv.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace
{

// One scratch buffer per thread, created by the first formatString on that thread and freed when
// the thread ends (or earlier through releaseFormatBuffer).
thread_local std::unique_ptr<char[]> t_formatBuffer;

std::string vformat(const char* format, va_list args)
{
    if (!format)
        return std::string();
    if (!t_formatBuffer)
        t_formatBuffer.reset(new char[kFormatBufferSize]);
    const int n = std::vsnprintf(t_formatBuffer.get(), kFormatBufferSize, format, args);
    if (n < 0 || n > kFormatMaxLength)
        return std::string();
    return std::string(t_formatBuffer.get(), static_cast<size_t>(n));
}

bool isSpaceByte(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
    {
        out.push_back(static_cast<char>(cp));
    }
    else if (cp < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else if (cp < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr uint32_t kReplacementChar = 0xFFFD;

} // namespace

std::string formatString(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    return text;
}

void releaseFormatBuffer()
{
    t_formatBuffer.reset();
}

bool hasFormatBuffer()
{
    return t_formatBuffer != nullptr;
}

std::string intToString(int value)
{
    return formatString("%i", value);
}

std::string floatToString(float value, int decimals)
{
    const std::string format = formatString("%%.%if", decimals);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::string text = formatString(format.c_str(), static_cast<double>(value));
#pragma GCC diagnostic pop
    if (text.find('.') == std::string::npos)
        return text;
    while (!text.empty() && (text.back() == '0' || text.back() == '.'))
    {
        const bool wasPoint = text.back() == '.';
        text.pop_back();
        if (wasPoint)
            break;
    }
    return text;
}

void debugLog(const char* /*format*/, ...)
{
}

std::string emptyString()
{
    return std::string();
}

std::string& trimLeft(std::string& text)
{
    size_t first = 0;
    while (first < text.size() && isSpaceByte(text[first]))
        ++first;
    text.erase(0, first);
    return text;
}

std::string& trimRight(std::string& text)
{
    size_t end = text.size();
    while (end > 0 && isSpaceByte(text[end - 1]))
        --end;
    text.erase(end);
    return text;
}

std::string& trim(std::string& text)
{
    return trimLeft(trimRight(text));
}

void splitString(const std::string& text, const std::string& delimiter, std::vector<std::string>& out)
{
    if (delimiter.empty())
    {
        out.push_back(text);
        return;
    }
    const std::string work = text + delimiter;
    size_t pos = 0;
    while (pos < work.size())
    {
        const size_t hit = work.find(delimiter, pos);
        if (hit == std::string::npos)
            break;
        out.push_back(work.substr(pos, hit - pos));
        pos = hit + delimiter.size();
    }
}

std::string& replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos)
    {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

bool isDigitsOnly(const std::string& text)
{
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isValidUtf8(std::string_view text)
{
    size_t i = 0;
    uint32_t cp;
    while (i < text.size())
    {
        if (!decodeUtf8At(text, i, cp))
            return false;
    }
    return true;
}

std::string validUtf8(std::string_view text)
{
    if (isValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    size_t i = 0;
    while (i < text.size())
    {
        const size_t start = i;
        uint32_t cp;
        if (decodeUtf8At(text, i, cp))
            out.append(text.substr(start, i - start));
        else
            out += "\xEF\xBF\xBD";  // U+FFFD; decodeUtf8At stepped over one byte
    }
    return out;
}

char16_t* utf8ToWide(const char* utf8)
{
    const std::string_view text = utf8 ? std::string_view(utf8) : std::string_view();
    auto* out = static_cast<char16_t*>(std::calloc(text.size() + 1, sizeof(char16_t)));
    if (!out)
        return nullptr;
    size_t i = 0;
    size_t n = 0;
    while (i < text.size())
    {
        uint32_t cp;
        if (!decodeUtf8At(text, i, cp))
            cp = kReplacementChar;
        // A 4-byte sequence gives two units, so the output never outgrows one unit per input byte.
        if (cp >= 0x10000)
        {
            cp -= 0x10000;
            out[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
        else
        {
            out[n++] = static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string wideToUtf8(const char16_t* wide)
{
    std::string out;
    if (!wide)
        return out;
    for (size_t i = 0; wide[i] != 0; ++i)
    {
        uint32_t cp = wide[i];
        if (cp >= 0xD800 && cp <= 0xDBFF)
        {
            const uint32_t low = wide[i + 1];
            if (low >= 0xDC00 && low <= 0xDFFF)
            {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
            else
            {
                cp = kReplacementChar;
            }
        }
        else if (cp >= 0xDC00 && cp <= 0xDFFF)
        {
            cp = kReplacementChar;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string ansiToUtf8(std::string text)
{
    if (isValidUtf8(text))
        return text;
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = text.data();
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0)
        return text;
    out.resize(out.size() - outLeft);
    return out;
}

uint64_t fnv1a64(std::string_view text)
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (char c : text)
    {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

uint32_t foldedHash32(std::string_view text)
{
    const uint64_t h = fnv1a64(text);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

cocos2d::Mat4 matrixFromArray(const float values[16])
{
    // Mat4's sixteen-value constructor takes its arguments row by row.
    return cocos2d::Mat4(values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                         values[7], values[8], values[9], values[10], values[11], values[12], values[13],
                         values[14], values[15]);
}
