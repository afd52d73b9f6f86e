#include "audio/AlsaOutput.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <mutex>

namespace CocosDenshion {

namespace {

// Latency of the stream: long enough not to underrun on a loaded machine, short enough for a
// click to follow the action that caused it.
constexpr unsigned int kLatencyMicroseconds = 100000;

void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void installSilentErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&silentAlsaErrors); });
}

} // namespace

bool AlsaOutput::open(const std::string& device, std::string& error)
{
    close();
    installSilentErrorHandler();
    const std::string name = device.empty() ? std::string("default") : device;
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (rc < 0) {
        error = name + ": " + snd_strerror(rc);
        return false;
    }
    rc = snd_pcm_nonblock(pcm, 0);
    if (rc >= 0)
        rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, kChannels, kSampleRate,
                                1 /* let ALSA resample */, kLatencyMicroseconds);
    if (rc < 0) {
        error = name + ": " + snd_strerror(rc);
        snd_pcm_close(pcm);
        return false;
    }
    _pcm = pcm;
    return true;
}

bool AlsaOutput::write(const int16_t* frames, size_t frameCount)
{
    if (_pcm == nullptr)
        return false;
    while (frameCount > 0) {
        snd_pcm_sframes_t n = snd_pcm_writei(_pcm, frames, frameCount);
        if (n == -EAGAIN)
            continue;
        if (n < 0) {
            // Underrun or suspend: recover once per failed write; anything else ends the stream.
            if (snd_pcm_recover(_pcm, static_cast<int>(n), 1) < 0)
                return false;
            continue;
        }
        frames += static_cast<size_t>(n) * kChannels;
        frameCount -= static_cast<size_t>(n);
    }
    return true;
}

void AlsaOutput::drainAndClose()
{
    if (_pcm != nullptr)
        snd_pcm_drain(_pcm);
    close();
}

void AlsaOutput::close()
{
    if (_pcm != nullptr) {
        snd_pcm_close(_pcm);
        _pcm = nullptr;
    }
}

void AlsaOutput::releaseGlobalConfig() { snd_config_update_free_global(); }

} // namespace CocosDenshion
