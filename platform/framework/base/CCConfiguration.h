// Configuration: what the GL driver offers.
//
// Without a GL context (headless) the texture limit is 8192 and VAOs are not shareable; the GL
// back-end calls gatherGPUInfo once its context is current.
#pragma once

namespace cocos2d {

class Configuration {
public:
    static Configuration* getInstance();
    static void destroyInstance();

    int getMaxTextureSize() const { return _maxTextureSize; }
    bool supportsShareableVAO() const { return _supportsShareableVAO; }

    // Reads the limits from the current GL context (main thread, context current).
    void gatherGPUInfo();
    // [hook]
    void setMaxTextureSizeForTest(int size) { _maxTextureSize = size; }

private:
    Configuration() = default;

    int _maxTextureSize = 8192;
    bool _supportsShareableVAO = false;
};

} // namespace cocos2d
