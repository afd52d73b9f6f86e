// MD5 digests (RFC 1321) of byte buffers and files, as 32 lower-case hexadecimal digits.
//
// Used by the hot-update manager to check downloaded files against their manifest entries; MD5
// serves there as a transfer check, not as protection against a hostile server.
// Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cocos2d {
namespace extension {

class MD5 {
public:
    MD5();
    // Adds bytes to the digest; may be called any number of times before finish().
    void update(const void* data, size_t length);
    // The digest of everything added; the object is spent afterwards.
    std::string finish();

    static std::string ofBuffer(const void* data, size_t length);
    // "" when the file cannot be read.
    static std::string ofFile(const std::string& path);

private:
    void transform(const unsigned char block[64]);

    uint32_t _state[4];
    uint64_t _bytes = 0;          // total length added
    unsigned char _buffer[64];    // a block not yet complete
};

} // namespace extension
} // namespace cocos2d
