// Effect engine: WAV decoding (good, odd and hostile files) and silent, non-blocking playback
// without a sound device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/SimpleAudioEngine.h"
#include "audio/WavDecoder.h"
#include "cocos2d.h"
#include "support/HeadlessDirector.h"
#include "support/TempDir.h"

USING_NS_CC;
using CocosDenshion::PcmClip;
using CocosDenshion::SimpleAudioEngine;
using CocosDenshion::WavDecoder;

namespace {

void put16(std::string& s, uint16_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void put32(std::string& s, uint32_t v)
{
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
}

// A RIFF/WAVE file. `extra` goes between "fmt " and "data" (other chunks); dataSizeField lets a
// test lie about the data size.
std::string makeWav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& pcm,
                    const std::string& extra = "", int64_t dataSizeField = -1)
{
    std::string fmt;
    put16(fmt, tag);
    put16(fmt, channels);
    put32(fmt, rate);
    put32(fmt, rate * channels * (bits / 8));
    put16(fmt, static_cast<uint16_t>(channels * (bits / 8)));
    put16(fmt, bits);
    std::string body = "WAVE";
    body += "fmt ";
    put32(body, static_cast<uint32_t>(fmt.size()));
    body += fmt;
    body += extra;
    body += "data";
    put32(body, dataSizeField < 0 ? static_cast<uint32_t>(pcm.size()) : static_cast<uint32_t>(dataSizeField));
    body += pcm;
    std::string file = "RIFF";
    put32(file, static_cast<uint32_t>(body.size()));
    return file + body;
}

std::string samples16(const std::vector<int16_t>& values)
{
    std::string s;
    for (int16_t v : values)
        put16(s, static_cast<uint16_t>(v));
    return s;
}

bool decode(const std::string& file, PcmClip& clip, std::string& error)
{
    return WavDecoder::decode(reinterpret_cast<const unsigned char*>(file.data()), file.size(), clip, error);
}

} // namespace

TEST(WavDecoder, DecodesPcmLayouts)
{
    PcmClip clip;
    std::string error;

    // 16-bit stereo, with an odd-sized "LIST" chunk (padded to even) before the data.
    std::string list = "LIST";
    put32(list, 3);
    list += "abc";
    list += '\0';
    ASSERT_TRUE(decode(makeWav(1, 2, 22050, 16, samples16({1, -2, 32767, -32768}), list), clip, error)) << error;
    EXPECT_EQ(clip.sampleRate, 22050);
    EXPECT_EQ(clip.channels, 2);
    EXPECT_EQ(clip.samples, (std::vector<int16_t>{1, -2, 32767, -32768}));
    EXPECT_EQ(clip.frameCount(), 2u);

    // 8-bit unsigned mono: 128 is silence, 0 and 255 the extremes.
    ASSERT_TRUE(decode(makeWav(1, 1, 8000, 8, std::string("\x80\x00\xff", 3)), clip, error)) << error;
    EXPECT_EQ(clip.samples, (std::vector<int16_t>{0, -32768, 32512}));

    // Extensible header with the PCM sub-format.
    std::string ext;
    put16(ext, 1);
    put16(ext, 1);
    put32(ext, 44100);
    put32(ext, 88200);
    put16(ext, 2);
    put16(ext, 16);
    put16(ext, 22);     // cbSize
    put16(ext, 16);     // valid bits
    put32(ext, 4);      // channel mask
    put16(ext, 1);      // sub-format GUID starts with the PCM tag
    ext += std::string(14, '\x01');
    std::string file = "RIFF";
    std::string body = "WAVE";
    body += "fmt ";
    put32(body, static_cast<uint32_t>(ext.size()));
    std::string fmt = ext;
    fmt[0] = static_cast<char>(0xFE);
    fmt[1] = static_cast<char>(0xFF);
    body += fmt + "data";
    put32(body, 4);
    body += samples16({100, 200});
    put32(file, static_cast<uint32_t>(body.size()));
    ASSERT_TRUE(decode(file + body, clip, error)) << error;
    EXPECT_EQ(clip.samples, (std::vector<int16_t>{100, 200}));

    // A data chunk that claims more than the file holds plays the whole frames that are there.
    ASSERT_TRUE(decode(makeWav(1, 2, 44100, 16, samples16({1, 2, 3}), "", 4000), clip, error)) << error;
    EXPECT_EQ(clip.samples, (std::vector<int16_t>{1, 2}));
}

TEST(WavDecoder, RefusesWhatItCannotPlay)
{
    PcmClip clip;
    std::string error;
    const std::string pcm = samples16({1, 2, 3, 4});
    EXPECT_FALSE(decode("", clip, error));
    EXPECT_FALSE(decode("RIFF\x04\0\0\0AVIX", clip, error));
    EXPECT_FALSE(decode(makeWav(3, 1, 44100, 32, pcm), clip, error)); // float
    EXPECT_EQ(error, "not integer PCM");
    EXPECT_FALSE(decode(makeWav(1, 1, 44100, 24, std::string(6, '\0')), clip, error));
    EXPECT_FALSE(decode(makeWav(1, 0, 44100, 16, pcm), clip, error));
    EXPECT_FALSE(decode(makeWav(1, 6, 44100, 16, pcm), clip, error));
    EXPECT_FALSE(decode(makeWav(1, 1, 0, 16, pcm), clip, error));
    EXPECT_FALSE(decode(makeWav(1, 1, 44100, 16, ""), clip, error));
    EXPECT_EQ(error, "no samples");
    EXPECT_TRUE(clip.samples.empty());

    // A data chunk before any fmt chunk.
    std::string body = "WAVEdata";
    put32(body, 4);
    body += samples16({1, 2});
    std::string file = "RIFF";
    put32(file, static_cast<uint32_t>(body.size()));
    EXPECT_FALSE(decode(file + body, clip, error));

    // Every prefix of a good file decodes or fails cleanly (ASan watches the reads), and an
    // absurd chunk size never runs past the buffer.
    const std::string good = makeWav(1, 2, 44100, 16, pcm);
    for (size_t n = 0; n < good.size(); ++n) {
        PcmClip partial;
        decode(good.substr(0, n), partial, error);
    }
    std::string huge = good;
    huge[16] = huge[17] = huge[18] = huge[19] = '\xff'; // fmt chunk size 4 GiB
    EXPECT_FALSE(decode(huge, clip, error));
}

class AudioEngineTest : public qvtest::HeadlessDirectorTest {
protected:
    void SetUp() override
    {
        HeadlessDirectorTest::SetUp();
        FileUtils::getInstance()->setDefaultResourceRootPath(tmp.path());
        FileUtils::getInstance()->createDirectory(tmp / "res");
        qvtest::writeFile(tmp / "res/dingdong.wav", makeWav(1, 1, 22050, 16, samples16(std::vector<int16_t>(2205, 1000))));
        qvtest::writeFile(tmp / "res/broken.wav", "RIFF....WAVEjunk");
    }
    void TearDown() override
    {
        SimpleAudioEngine::end();
        FileUtils::destroyInstance();
        HeadlessDirectorTest::TearDown();
    }

    qvtest::TempDir tmp;
};

TEST_F(AudioEngineTest, HeadlessPlaysSilentlyAndRecords)
{
    qvtest::LogCapture log;
    SimpleAudioEngine* engine = SimpleAudioEngine::getInstance();
    engine->preloadEffect("res/dingdong.wav");
    EXPECT_TRUE(engine->isEffectLoaded("res/dingdong.wav"));

    const unsigned int first = engine->playEffect("res/dingdong.wav");
    const unsigned int second = engine->playEffect("res/dingdong.wav", true, 2.0f, -1.0f, 0.5f);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, first);
    engine->stopEffect(second);
    engine->stopAllEffects();
    EXPECT_EQ(engine->getDeviceState(), SimpleAudioEngine::DeviceState::CLOSED); // never opened headless

    // Missing and malformed files: id 0, one log line each, still recorded as requested.
    EXPECT_EQ(engine->playEffect("res/nothing.wav"), 0u);
    EXPECT_EQ(engine->playEffect("res/broken.wav"), 0u);
    EXPECT_FALSE(engine->isEffectLoaded("res/broken.wav"));
    EXPECT_EQ(log.count("SimpleAudioEngine: cannot load effect res/nothing.wav (no such file)"), 1u);
    EXPECT_EQ(log.count("SimpleAudioEngine: cannot load effect res/broken.wav (no fmt chunk before the data)"), 1u);
    EXPECT_EQ(engine->getPlayedEffects(), (std::vector<std::string>{"res/dingdong.wav", "res/dingdong.wav",
                                                                     "res/nothing.wav", "res/broken.wav"}));
    engine->clearPlayedEffects();
    EXPECT_TRUE(engine->getPlayedEffects().empty());
}

TEST_F(AudioEngineTest, MissingDeviceIsSilentAndNeverBlocks)
{
    qvtest::LogCapture log;
    SimpleAudioEngine* engine = SimpleAudioEngine::getInstance();
    engine->setOutputDeviceForTest("qv_no_such_sound_device");

    // Returns before the worker has even tried the device.
    const auto start = std::chrono::steady_clock::now();
    const unsigned int id = engine->playEffect("res/dingdong.wav", true);
    EXPECT_NE(id, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // The worker fails to open it, drops the (looping) effect and stays silent from then on.
    ASSERT_TRUE(engine->waitUntilIdleForTest(10000));
    EXPECT_EQ(engine->getDeviceState(), SimpleAudioEngine::DeviceState::FAILED);
    EXPECT_NE(engine->playEffect("res/dingdong.wav"), 0u);
    ASSERT_TRUE(engine->waitUntilIdleForTest(10000));
    size_t deviceLines = 0;
    for (const std::string& line : log.lines())
        deviceLines += line.rfind("SimpleAudioEngine: no sound device (qv_no_such_sound_device", 0) == 0 ? 1 : 0;
    EXPECT_EQ(deviceLines, 1u);
    EXPECT_EQ(engine->getPlayedEffects().size(), 2u);
    // end() (in TearDown) joins the worker promptly.
}
