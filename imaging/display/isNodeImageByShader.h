// isNodeImageByShader: the GPU image node. Each frame is uploaded once as a 16-bit
// luminance-alpha texture (RGB frames as RGB888) and the colour table as a 256 x 1 RGB
// texture on unit 1; the fragment program ("id.f", with the vertex program "i.v") applies
// window and colours per pixel, so a window change costs a few uniform values.
//
// The node falls back to the CPU path of isNodeImage:
//   - when its programs cannot be read, decoded or built, `init` fails and the image actor
//     creates a CPU node instead (isShaderAvailable tells beforehand);
//   - when a frame takes longer than 0.3 s, the node switches to the CPU path and so does
//     every shader node created afterwards (shaderEnabled stays 0 for the process).
//
// The frame texture's 16-bit values are the stored values (signed + 32768) or, for float
// frames, values rescaled from the frame's own range to 0..65535; the window uniforms follow
// the colour table's window in those units (isShaderWindow), so both paths give the same
// colour index within one. The 16-bit texture is fetched unfiltered: the fragment program puts
// each value's two bytes together, colours the four nearest texels and blends the colours,
// as the CPU path's filtered colour texture does between pixel centres.
//
// Main thread only, including the render commands' callbacks.
#pragma once

#include "isNodeImage.h"

namespace isImageSDK {

class isNodeImageByShader : public isNodeImage {
public:
    // 1 while shader nodes may use the GPU path; 0 for good after a too slow frame.
    static int shaderEnabled;

    // Allocated, init()ed and autoreleased; null when init fails.
    CREATE_FUNC(isNodeImageByShader);
    // True when both program files load, decode and link; built once per process, the answer
    // is kept.
    static bool isShaderAvailable();

    // isNodeImage::init, then (with shaderEnabled) the programs; false when they cannot be
    // built. Without shaderEnabled the node starts on the CPU path.
    bool init() override;

    void setImage(isSliceInfo* record) override;
    void setClut(isClut* clut) override;
    void markTextureDirty() override;
    void markClutDirty() override;
    void refreshTexture() override;
    void cleanup() override;
    void draw(cocos2d::Renderer* renderer, const cocos2d::Mat4& transform, uint32_t flags) override;

    // Switches the node to the CPU path for good and rebuilds its picture there.
    void disableShader();

    bool isCpuPath() const { return m_cpuPath; }
    GLuint getClutTexture() const { return m_clutTexture; }
    float getValueScale() const { return m_valueScale; }
    float getValueOffset() const { return m_valueOffset; }

protected:
    isNodeImageByShader() = default;
    ~isNodeImageByShader() override;

    // The frame texture of frameRecord at frameIndex (autoreleased); null when none.
    cocos2d::Texture2D* createFrameTexture();
    // Before-draw: uploads the colour table when it changed, binds it on unit 1.
    void uploadClutTexture();
    void deleteClutTexture();
    void setWindowUniforms(const isSliceInfo* record);

    cocos2d::CustomCommand m_beforeDraw;
    cocos2d::CustomCommand m_afterDraw;
    GLuint m_clutTexture = 0;
    unsigned int m_clutTextureGeneration = 0;  // GL context generation of m_clutTexture
    float m_valueScale = 1.0f;
    float m_valueOffset = 0.0f;
    bool m_cpuPath = true;
    bool m_clutTextureDirty = false;
    // Changes whenever the colour table to upload changes (the before-draw's input for the
    // renderer's still-frame check).
    uint64_t m_clutVersion = cocos2d::nextContentVersion();
};

} // namespace isImageSDK
