// WavDecoder: reads RIFF/WAVE files holding integer PCM into 16-bit samples for the effect mixer.
//
// Accepted: format tag 1 (PCM) or 0xFFFE (extensible, PCM sub-format), 8-bit unsigned or 16-bit
// signed little-endian samples, 1 or 2 channels, any sample rate from 1,000 to 384,000 Hz.
// Chunks other than "fmt " and "data" are skipped. A "data" chunk that claims more bytes than the
// file holds is cut to the whole frames present (truncated files still play what they have).
// Everything else is refused with a reason; the decoder never reads outside the given buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace CocosDenshion {

// Decoded sound: interleaved signed 16-bit samples, `channels` per frame.
struct PcmClip {
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;

    size_t frameCount() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

class WavDecoder {
public:
    // Decodes `size` bytes. On failure returns false, leaves `out` empty and puts a short reason
    // (for the log) in `error`.
    static bool decode(const unsigned char* bytes, size_t size, PcmClip& out, std::string& error);
};

} // namespace CocosDenshion
