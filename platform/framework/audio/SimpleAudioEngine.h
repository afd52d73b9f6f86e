// SimpleAudioEngine: short sound effects (WAV, PCM 8 or 16-bit), decoded into memory and mixed
// on one worker thread into an ALSA stream.
//
// Playing never blocks and never fails the caller. The device is opened lazily, on the worker,
// when the first effect plays; when there is no device, or any ALSA call fails, the engine stays
// silent for the rest of the run (logged once). With the headless view nothing is opened at all,
// unless a test names a device with setOutputDeviceForTest. Every playEffect request is recorded
// (the name as passed) so tests can see which effects were played.
//
// Names are resolved through FileUtils. All calls are main-thread-only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "audio/WavDecoder.h"

namespace CocosDenshion {

class SimpleAudioEngine {
public:
    // The state of the output device.
    enum class DeviceState {
        CLOSED, // not open at the moment (never used, or closed after the last effect ended)
        OPEN,
        FAILED, // could not be opened or broke down: silent from now on
    };

    static SimpleAudioEngine* getInstance();
    // Stops every effect, closes the device and frees the engine; the next getInstance makes a
    // fresh one.
    static void end();

    // Decodes the file into the cache (a missing or malformed file is logged and skipped).
    void preloadEffect(const char* filePath);
    void unloadEffect(const char* filePath);
    // Starts the effect (preloading it when needed) and returns its id, or 0 when the file
    // cannot be loaded. pitch scales the playback speed (0.25 to 4), pan goes from -1 (left) to
    // 1 (right), gain from 0 to 1.
    unsigned int playEffect(const char* filePath, bool loop = false, float pitch = 1.0f, float pan = 0.0f,
                            float gain = 1.0f);
    void stopEffect(unsigned int soundId);
    void stopAllEffects();

    // ----- [hook] tests
    // Makes the engine use this ALSA device even with the headless view ("" restores the
    // default behaviour).
    void setOutputDeviceForTest(const std::string& device);
    std::vector<std::string> getPlayedEffects() const;
    void clearPlayedEffects();
    bool isEffectLoaded(const char* filePath) const;
    DeviceState getDeviceState() const { return _deviceState.load(); }
    // Waits (up to timeoutMs) until the worker has no effect left and is not writing.
    bool waitUntilIdleForTest(int timeoutMs);

private:
    struct Voice {
        unsigned int id = 0;
        std::shared_ptr<const PcmClip> clip;
        double position = 0.0; // in source frames
        double step = 1.0;     // source frames per output frame
        bool loop = false;
        float gainLeft = 1.0f;
        float gainRight = 1.0f;
    };

    SimpleAudioEngine() = default;
    ~SimpleAudioEngine();

    std::shared_ptr<const PcmClip> loadClip(const std::string& filePath);
    bool wantsDevice() const;
    void startWorker();
    void workerLoop();
    // Mixes one period into _mixBuffer; drops voices that ended. Called with _mutex held.
    void mixPeriod(size_t frames);

    std::unordered_map<std::string, std::shared_ptr<const PcmClip>> _clips; // by full path
    std::vector<std::string> _played;
    std::string _testDevice;
    bool _deviceOverride = false;
    unsigned int _nextId = 1;

    // Shared with the worker.
    mutable std::mutex _mutex;
    std::condition_variable _wake;
    std::condition_variable _idle;
    std::vector<Voice> _voices;
    bool _stopping = false;
    bool _writing = false;
    std::string _device;
    std::atomic<DeviceState> _deviceState{DeviceState::CLOSED};
    std::vector<int32_t> _accumulator;
    std::vector<int16_t> _mixBuffer;
    std::thread _worker;
    bool _usedAlsa = false;
};

} // namespace CocosDenshion
