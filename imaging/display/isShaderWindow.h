// isShaderWindow: the window uniforms of the shader image node's fragment program.
//
// The fragment program ("id.f") windows the 16-bit value v of a texel, in the texture's own
// units (signed 16-bit samples are stored + 32768, float samples rescaled to 0..65535):
//   linear:       index = (v - wwMin) * linear
//   log:          index = log10((v - wwMin) * logRatio + 1) * 255    (0 at/below wwMin, 255 at/above wwMax)
//   inverse log:  index = (1 - log10((wwMax - v) * logRatio + 1)) * 255
// floored and kept in 0..255.
//
// For 8- and 16-bit samples the window is the one the colour table's window table is built
// from: its ends truncated to whole stored values, and not clipped to the pixel type's range
// (see isClut::updateTable), so that the GPU picture equals the CPU picture: a window wider
// than an 8-bit image's range draws its values as the window says, not at full contrast.
// Float samples are windowed from level and width directly, as on the CPU.
#pragma once

namespace isImageSDK {

class isClut;

struct isShaderWindow {
    int curve = 0;          // "u_opacity": 0 linear, 1 log, 2 inverse log
    float wwMin = 0.0f;     // "u_wwMin"
    float wwMax = 0.0f;     // "u_wwMax"
    float linear = 0.0f;    // "u_wwLinear" = 255 / (wwMax - wwMin)
    float logRatio = 0.0f;  // "u_wwLogRatio" = 9 / (wwMax - wwMin)
};

// The uniforms for a frame of the pixel type under the table's level, width and curve.
// valueScale and valueOffset are those of the float frame's texture (ignored otherwise).
isShaderWindow computeShaderWindow(const isClut& clut, int pixelType, float valueScale, float valueOffset);

// The index the fragment program computes for texel value v, evaluated in 32-bit floats on
// the CPU (the tests compare it with the CPU path over whole value ranges).
int shaderIndex(const isShaderWindow& window, float v);

} // namespace isImageSDK
