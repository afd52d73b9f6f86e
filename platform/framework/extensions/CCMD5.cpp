#include "extensions/CCMD5.h"

#include <cstdio>
#include <cstring>

namespace cocos2d {
namespace extension {

namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t rotateLeft(uint32_t x, uint32_t n) { return (x << n) | (x >> (32 - n)); }

} // namespace

MD5::MD5() : _state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void MD5::transform(const unsigned char block[64])
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    }
    uint32_t a = _state[0], b = _state[1], c = _state[2], d = _state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = d;
        d = c;
        c = b;
        b = b + rotateLeft(a + f + kSine[i] + m[g], kShift[i]);
        a = next;
    }
    _state[0] += a;
    _state[1] += b;
    _state[2] += c;
    _state[3] += d;
}

void MD5::update(const void* data, size_t length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t held = size_t(_bytes % 64);
    _bytes += length;
    if (held > 0) {
        const size_t take = length < 64 - held ? length : 64 - held;
        std::memcpy(_buffer + held, bytes, take);
        held += take;
        bytes += take;
        length -= take;
        if (held < 64)
            return;
        transform(_buffer);
    }
    for (; length >= 64; bytes += 64, length -= 64)
        transform(bytes);
    if (length > 0)
        std::memcpy(_buffer, bytes, length);
}

std::string MD5::finish()
{
    const uint64_t bits = _bytes * 8;
    static const unsigned char kPad[64] = {0x80};
    const size_t held = size_t(_bytes % 64);
    update(kPad, held < 56 ? 56 - held : 120 - held);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(bits >> (8 * i));
    update(length, 8);

    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (uint32_t word : _state) {
        for (int i = 0; i < 4; ++i) {
            const unsigned byte = (word >> (8 * i)) & 0xff;
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string MD5::ofBuffer(const void* data, size_t length)
{
    MD5 md5;
    md5.update(data, length);
    return md5.finish();
}

std::string MD5::ofFile(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return "";
    MD5 md5;
    unsigned char block[64 * 1024];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0)
        md5.update(block, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? "" : md5.finish();
}

} // namespace extension
} // namespace cocos2d
