#include "audio/WavDecoder.h"

#include <cstring>

namespace CocosDenshion {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 384000;

uint16_t readU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t readU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

struct Format {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

bool fail(std::string& error, const char* reason)
{
    error = reason;
    return false;
}

bool readFormat(const unsigned char* chunk, uint32_t size, Format& fmt, std::string& error)
{
    if (size < 16)
        return fail(error, "short fmt chunk");
    fmt.tag = readU16(chunk);
    fmt.channels = readU16(chunk + 2);
    fmt.sampleRate = readU32(chunk + 4);
    fmt.blockAlign = readU16(chunk + 12);
    fmt.bitsPerSample = readU16(chunk + 14);
    if (fmt.tag == kFormatExtensible) {
        // cbSize (2), valid bits (2), channel mask (4), then the sub-format GUID whose first two
        // bytes are the plain format tag.
        if (size < 40)
            return fail(error, "short extensible fmt chunk");
        fmt.tag = readU16(chunk + 24);
    }
    if (fmt.tag != kFormatPcm)
        return fail(error, "not integer PCM");
    if (fmt.channels != 1 && fmt.channels != 2)
        return fail(error, "unsupported channel count");
    if (fmt.bitsPerSample != 8 && fmt.bitsPerSample != 16)
        return fail(error, "unsupported sample size");
    if (fmt.sampleRate < static_cast<uint32_t>(kMinRate) || fmt.sampleRate > static_cast<uint32_t>(kMaxRate))
        return fail(error, "unsupported sample rate");
    if (fmt.blockAlign != fmt.channels * (fmt.bitsPerSample / 8))
        return fail(error, "inconsistent block alignment");
    return true;
}

} // namespace

bool WavDecoder::decode(const unsigned char* bytes, size_t size, PcmClip& out, std::string& error)
{
    out = PcmClip();
    if (bytes == nullptr || size < 12)
        return fail(error, "too short for a WAVE file");
    if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return fail(error, "not a RIFF/WAVE file");

    Format fmt;
    bool haveFormat = false;
    const unsigned char* data = nullptr;
    size_t dataSize = 0;

    size_t pos = 12;
    while (pos + 8 <= size) {
        const unsigned char* header = bytes + pos;
        const uint32_t chunkSize = readU32(header + 4);
        const size_t bodyStart = pos + 8;
        const size_t available = size - bodyStart;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (chunkSize > available)
                return fail(error, "truncated fmt chunk");
            if (!readFormat(bytes + bodyStart, chunkSize, fmt, error))
                return false;
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            data = bytes + bodyStart;
            dataSize = chunkSize < available ? chunkSize : available;
            break;
        }
        // Chunks are padded to an even size.
        const uint64_t next = static_cast<uint64_t>(bodyStart) + chunkSize + (chunkSize & 1u);
        if (next > size)
            break;
        pos = static_cast<size_t>(next);
    }
    if (!haveFormat)
        return fail(error, "no fmt chunk before the data");
    if (data == nullptr)
        return fail(error, "no data chunk");

    const size_t frames = dataSize / fmt.blockAlign;
    if (frames == 0)
        return fail(error, "no samples");
    const size_t count = frames * fmt.channels;
    out.samples.resize(count);
    if (fmt.bitsPerSample == 8) {
        for (size_t i = 0; i < count; ++i)
            out.samples[i] = static_cast<int16_t>((static_cast<int>(data[i]) - 128) * 256);
    } else {
        for (size_t i = 0; i < count; ++i)
            out.samples[i] = static_cast<int16_t>(readU16(data + 2 * i));
    }
    out.sampleRate = static_cast<int>(fmt.sampleRate);
    out.channels = fmt.channels;
    return true;
}

} // namespace CocosDenshion
