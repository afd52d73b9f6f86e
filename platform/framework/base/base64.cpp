#include "base/base64.h"

#include <array>
#include <cstdlib>
#include <limits>

namespace cocos2d {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Sextet value of each byte; kSkip for white space, kPad for '=', kBad for everything else.
constexpr signed char kSkip = -1;
constexpr signed char kPad = -2;
constexpr signed char kBad = -3;

constexpr std::array<signed char, 256> makeTable()
{
    std::array<signed char, 256> t{};
    for (auto& v : t) {
        v = kBad;
    }
    for (int i = 0; i < 64; ++i) {
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
    t[' '] = kSkip;
    t['\t'] = kSkip;
    t['\r'] = kSkip;
    t['\n'] = kSkip;
    t['='] = kPad;
    return t;
}

constexpr std::array<signed char, 256> kTable = makeTable();

size_t encodedLength(size_t n)
{
    return (n + 2) / 3 * 4;
}

void encodeInto(const unsigned char* in, size_t n, char* out)
{
    size_t o = 0, i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = kAlphabet[(v >> 6) & 63];
        out[o++] = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        const unsigned v = unsigned(in[i]) << 16;
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = '=';
        out[o++] = '=';
    } else if (n - i == 2) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8);
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = kAlphabet[(v >> 6) & 63];
        out[o++] = '=';
    }
}

// Decodes into `out` (at least n * 3 / 4 + 3 bytes); returns the byte count or -1 when invalid.
long decodeInto(const unsigned char* in, size_t n, unsigned char* out)
{
    size_t o = 0;
    unsigned acc = 0;
    size_t chars = 0; // sextets seen
    size_t pads = 0;
    for (size_t i = 0; i < n; ++i) {
        const signed char v = kTable[in[i]];
        if (v == kSkip) {
            continue;
        }
        if (v == kBad) {
            return -1;
        }
        if (v == kPad) {
            ++pads;
            continue;
        }
        if (pads > 0) {
            return -1; // data after padding
        }
        acc = (acc << 6) | static_cast<unsigned>(v);
        ++chars;
        if (chars % 4 == 0) {
            out[o++] = static_cast<unsigned char>(acc >> 16);
            out[o++] = static_cast<unsigned char>(acc >> 8);
            out[o++] = static_cast<unsigned char>(acc);
            acc = 0;
        }
    }
    const size_t rest = chars % 4;
    if (chars == 0 || rest == 1 || pads > 2 || (pads > 0 && rest == 0) || (rest == 3 && pads > 1)) {
        return -1;
    }
    if (rest == 2) {
        out[o++] = static_cast<unsigned char>(acc >> 4);
    } else if (rest == 3) {
        out[o++] = static_cast<unsigned char>(acc >> 10);
        out[o++] = static_cast<unsigned char>(acc >> 2);
    }
    return static_cast<long>(o);
}

} // namespace

int safeBase64Encode(const unsigned char* in, unsigned int inLength, char** out)
{
    if (!out) {
        return 0;
    }
    *out = nullptr;
    if (!in || inLength == 0) {
        return 0;
    }
    const size_t len = encodedLength(inLength);
    if (len > static_cast<size_t>(std::numeric_limits<int>::max())) {
        return 0;
    }
    char* buf = static_cast<char*>(std::malloc(len + 1));
    if (!buf) {
        return 0;
    }
    encodeInto(in, inLength, buf);
    buf[len] = '\0';
    *out = buf;
    return static_cast<int>(len);
}

int safeBase64Decode(const unsigned char* in, unsigned int inLength, unsigned char** out)
{
    if (!out) {
        return 0;
    }
    *out = nullptr;
    if (!in || inLength == 0) {
        return 0;
    }
    auto* buf = static_cast<unsigned char*>(std::malloc(size_t(inLength) / 4 * 3 + 4));
    if (!buf) {
        return 0;
    }
    const long n = decodeInto(in, inLength, buf);
    if (n <= 0) {
        std::free(buf);
        return 0;
    }
    buf[n] = '\0';
    *out = buf;
    return static_cast<int>(n);
}

std::string safeBase64EncodeString(const std::string& text)
{
    std::string out(encodedLength(text.size()), '\0');
    encodeInto(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data());
    return out;
}

std::string safeBase64DecodeString(const std::string& text)
{
    if (text.empty()) {
        return std::string();
    }
    std::string out(text.size() / 4 * 3 + 4, '\0');
    const long n = decodeInto(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                              reinterpret_cast<unsigned char*>(out.data()));
    if (n <= 0) {
        return std::string();
    }
    out.resize(static_cast<size_t>(n));
    return out;
}

void safeBase64Free(void* p)
{
    std::free(p);
}

} // namespace cocos2d
