#include "audio/SimpleAudioEngine.h"

#include <algorithm>
#include <chrono>

#include "audio/AlsaOutput.h"
#include "base/CCConsole.h"
#include "base/CCDirector.h"
#include "platform/CCFileUtils.h"

namespace CocosDenshion {

namespace {

// Frames mixed per write: about 23 ms at 44.1 kHz.
constexpr size_t kPeriodFrames = 1024;

SimpleAudioEngine* s_instance = nullptr;

} // namespace

SimpleAudioEngine* SimpleAudioEngine::getInstance()
{
    if (s_instance == nullptr)
        s_instance = new SimpleAudioEngine();
    return s_instance;
}

void SimpleAudioEngine::end()
{
    delete s_instance;
    s_instance = nullptr;
}

SimpleAudioEngine::~SimpleAudioEngine()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
        _voices.clear();
    }
    _wake.notify_all();
    if (_worker.joinable())
        _worker.join();
    if (_usedAlsa)
        AlsaOutput::releaseGlobalConfig();
}

std::shared_ptr<const PcmClip> SimpleAudioEngine::loadClip(const std::string& filePath)
{
    cocos2d::FileUtils* files = cocos2d::FileUtils::getInstance();
    const std::string fullPath = files->fullPathForFilename(filePath);
    if (fullPath.empty()) {
        cocos2d::log("SimpleAudioEngine: cannot load effect %s (no such file)", filePath.c_str());
        return nullptr;
    }
    auto found = _clips.find(fullPath);
    if (found != _clips.end())
        return found->second;

    cocos2d::Data data = files->getDataFromFile(fullPath);
    auto clip = std::make_shared<PcmClip>();
    std::string error = "empty file";
    if (data.isNull() ||
        !WavDecoder::decode(data.getBytes(), static_cast<size_t>(data.getSize()), *clip, error)) {
        cocos2d::log("SimpleAudioEngine: cannot load effect %s (%s)", filePath.c_str(), error.c_str());
        return nullptr;
    }
    _clips.emplace(fullPath, clip);
    return clip;
}

void SimpleAudioEngine::preloadEffect(const char* filePath)
{
    if (filePath != nullptr)
        loadClip(filePath);
}

void SimpleAudioEngine::unloadEffect(const char* filePath)
{
    if (filePath == nullptr)
        return;
    const std::string fullPath = cocos2d::FileUtils::getInstance()->fullPathForFilename(filePath);
    _clips.erase(fullPath); // voices playing it keep their own reference
}

bool SimpleAudioEngine::isEffectLoaded(const char* filePath) const
{
    if (filePath == nullptr)
        return false;
    const std::string fullPath = cocos2d::FileUtils::getInstance()->fullPathForFilename(filePath);
    return _clips.count(fullPath) != 0;
}

bool SimpleAudioEngine::wantsDevice() const
{
    if (_deviceOverride)
        return true;
    return !cocos2d::Director::getInstance()->isHeadless();
}

unsigned int SimpleAudioEngine::playEffect(const char* filePath, bool loop, float pitch, float pan, float gain)
{
    if (filePath == nullptr)
        return 0;
    _played.emplace_back(filePath);
    std::shared_ptr<const PcmClip> clip = loadClip(filePath);
    if (!clip)
        return 0;
    const unsigned int id = _nextId++;
    if (_nextId == 0)
        _nextId = 1;
    if (!wantsDevice() || _deviceState.load() == DeviceState::FAILED)
        return id; // silent

    Voice voice;
    voice.id = id;
    voice.clip = clip;
    voice.loop = loop;
    pitch = std::clamp(pitch, 0.25f, 4.0f);
    pan = std::clamp(pan, -1.0f, 1.0f);
    gain = std::clamp(gain, 0.0f, 1.0f);
    voice.step = static_cast<double>(clip->sampleRate) * pitch / AlsaOutput::kSampleRate;
    voice.gainLeft = gain * (pan > 0.0f ? 1.0f - pan : 1.0f);
    voice.gainRight = gain * (pan < 0.0f ? 1.0f + pan : 1.0f);
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _device = _deviceOverride ? _testDevice : std::string();
        _voices.push_back(std::move(voice));
    }
    startWorker();
    _wake.notify_one();
    return id;
}

void SimpleAudioEngine::stopEffect(unsigned int soundId)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _voices.erase(std::remove_if(_voices.begin(), _voices.end(), [soundId](const Voice& v) { return v.id == soundId; }),
                  _voices.end());
}

void SimpleAudioEngine::stopAllEffects()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _voices.clear();
}

void SimpleAudioEngine::setOutputDeviceForTest(const std::string& device)
{
    _testDevice = device;
    _deviceOverride = !device.empty();
}

std::vector<std::string> SimpleAudioEngine::getPlayedEffects() const { return _played; }

void SimpleAudioEngine::clearPlayedEffects() { _played.clear(); }

bool SimpleAudioEngine::waitUntilIdleForTest(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return _voices.empty() && !_writing; });
}

void SimpleAudioEngine::startWorker()
{
    if (_worker.joinable())
        return;
    _usedAlsa = true;
    // Ended by the destructor (end(), called by the shell's shutdown): stop flag, then a join.
    _worker = std::thread([this] { workerLoop(); });
}

void SimpleAudioEngine::mixPeriod(size_t frames)
{
    _accumulator.assign(frames * AlsaOutput::kChannels, 0);
    for (Voice& voice : _voices) {
        const PcmClip& clip = *voice.clip;
        const size_t clipFrames = clip.frameCount();
        const int channels = clip.channels;
        for (size_t f = 0; f < frames; ++f) {
            if (voice.position >= static_cast<double>(clipFrames)) {
                if (!voice.loop)
                    break;
                voice.position -= static_cast<double>(clipFrames);
            }
            const size_t index = static_cast<size_t>(voice.position);
            const float frac = static_cast<float>(voice.position - static_cast<double>(index));
            size_t nextIndex = index + 1;
            if (nextIndex >= clipFrames)
                nextIndex = voice.loop ? 0 : index;
            const int16_t* a = &clip.samples[index * channels];
            const int16_t* b = &clip.samples[nextIndex * channels];
            const float left = a[0] + (b[0] - a[0]) * frac;
            const float right = channels == 2 ? a[1] + (b[1] - a[1]) * frac : left;
            _accumulator[2 * f] += static_cast<int32_t>(left * voice.gainLeft);
            _accumulator[2 * f + 1] += static_cast<int32_t>(right * voice.gainRight);
            voice.position += voice.step;
        }
    }
    _voices.erase(std::remove_if(_voices.begin(), _voices.end(),
                                 [](const Voice& v) {
                                     return !v.loop && v.position >= static_cast<double>(v.clip->frameCount());
                                 }),
                  _voices.end());
    _mixBuffer.resize(_accumulator.size());
    for (size_t i = 0; i < _accumulator.size(); ++i)
        _mixBuffer[i] = static_cast<int16_t>(std::clamp<int32_t>(_accumulator[i], -32768, 32767));
}

void SimpleAudioEngine::workerLoop()
{
    AlsaOutput output;
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;) {
        _wake.wait(lock, [this] { return _stopping || !_voices.empty(); });
        if (_stopping)
            break;
        if (!output.isOpen()) {
            if (_deviceState.load() == DeviceState::FAILED) {
                _voices.clear();
                _idle.notify_all();
                continue;
            }
            const std::string device = _device;
            _writing = true;
            lock.unlock();
            std::string error;
            const bool opened = output.open(device, error);
            lock.lock();
            _writing = false;
            if (!opened) {
                cocos2d::log("SimpleAudioEngine: no sound device (%s); effects are silent", error.c_str());
                _deviceState = DeviceState::FAILED;
                _voices.clear();
                _idle.notify_all();
                continue;
            }
            _deviceState = DeviceState::OPEN;
        }

        mixPeriod(kPeriodFrames);
        const bool last = _voices.empty();
        _writing = true;
        lock.unlock();
        bool ok = output.write(_mixBuffer.data(), kPeriodFrames);
        if (ok && last)
            output.drainAndClose();
        lock.lock();
        _writing = false;
        if (!ok) {
            cocos2d::log("SimpleAudioEngine: the sound device failed; effects are silent");
            output.close();
            _deviceState = DeviceState::FAILED;
            _voices.clear();
        } else if (last && _voices.empty()) {
            _deviceState = DeviceState::CLOSED;
        }
        if (_voices.empty())
            _idle.notify_all();
    }
    lock.unlock();
    output.close();
}

} // namespace CocosDenshion
