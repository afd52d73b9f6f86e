// AlsaOutput: one blocking ALSA playback stream of interleaved 16-bit stereo frames at 44.1 kHz.
//
// Used only by the effect mixer's worker thread. Opening never waits for a busy device (the
// open is non-blocking, writes then block). ALSA's own diagnostics are kept off stderr: any
// failure is reported once by the caller as "effects are silent".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef struct _snd_pcm snd_pcm_t;

namespace CocosDenshion {

class AlsaOutput {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;

    AlsaOutput() = default;
    ~AlsaOutput() { close(); }
    AlsaOutput(const AlsaOutput&) = delete;
    AlsaOutput& operator=(const AlsaOutput&) = delete;

    // Opens the named PCM ("default" when empty). False with a reason on any error.
    bool open(const std::string& device, std::string& error);
    bool isOpen() const { return _pcm != nullptr; }
    // Writes every frame, recovering from underruns. False when the stream cannot go on.
    bool write(const int16_t* frames, size_t frameCount);
    // Lets the queued frames play out, then closes.
    void drainAndClose();
    void close();

    // Frees ALSA's process-wide configuration cache (after the last stream is closed).
    static void releaseGlobalConfig();

private:
    snd_pcm_t* _pcm = nullptr;
};

} // namespace CocosDenshion
