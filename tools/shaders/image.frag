// Fragment program of the shader image node ("id.f").
//
// Unit 0 (CC_Texture0) holds the frame. With u_pt == 1 each texel is one 16-bit value stored
// as luminance (low byte) and alpha (high byte); the value is rebuilt exactly as
// L * 255 + A * 255 * 256, and since that is linear in L and A, filtering between texels
// filters the values themselves. With u_pt == 2 the texel is an RGB colour, shown unchanged.
//
// The window maps a value to a colour index 0..255 as the CPU path's window table does:
//   linear (u_opacity 0):            (v - u_wwMin) * u_wwLinear
//   logarithmic (1):                 log10((v - u_wwMin) * u_wwLogRatio + 1) * 255
//   inverse logarithmic (2):         (1 - log10((u_wwMax - v) * u_wwLogRatio + 1)) * 255
// with the log curves 0 at or below u_wwMin and 255 at or above u_wwMax. The colour is read
// from the 256 x 1 colour table on unit 1 at the centre of entry i. Alpha is always 1.
//
// u_vw and u_vh are the frame texture's size in texels. With u_fs != 0 the frame is sampled at
// the centre of the texel under the fragment, without filtering between texels; the node
// always passes 0.
varying vec4 v_fragmentColor;
varying vec2 v_texCoord;

uniform sampler2D u_clutTexture;
uniform int u_opacity;
uniform float u_wwMin;
uniform float u_wwLinear;
uniform float u_wwMax;
uniform float u_wwLogRatio;
uniform int u_pt;
uniform int u_fs;
uniform float u_vw;
uniform float u_vh;

// 1 / ln(10)
const float kLog10 = 0.43429448190325176;
// Products like 80 * (255 / 400) that are whole numbers in exact arithmetic can land a hair
// below them in float; the CPU table computes them in double.
const float kIndexEpsilon = 0.001;

void main()
{
    vec2 at = v_texCoord;
    if (u_fs != 0) {
        vec2 size = vec2(u_vw, u_vh);
        at = (floor(at * size) + 0.5) / size;
    }
    vec4 texel = texture2D(CC_Texture0, at);
    if (u_pt == 2) {
        gl_FragColor = vec4(texel.rgb, 1.0);
        return;
    }
    float v = texel.r * 255.0 + texel.a * 65280.0;
    float index;
    if (u_opacity == 1) {
        if (v >= u_wwMax)
            index = 255.0;
        else if (v <= u_wwMin)
            index = 0.0;
        else
            index = log((v - u_wwMin) * u_wwLogRatio + 1.0) * kLog10 * 255.0;
    } else if (u_opacity == 2) {
        if (v >= u_wwMax)
            index = 255.0;
        else if (v <= u_wwMin)
            index = 0.0;
        else
            index = (1.0 - log((u_wwMax - v) * u_wwLogRatio + 1.0) * kLog10) * 255.0;
    } else {
        index = (v - u_wwMin) * u_wwLinear;
    }
    index = clamp(floor(index + kIndexEpsilon), 0.0, 255.0);
    gl_FragColor = vec4(texture2D(u_clutTexture, vec2((index + 0.5) / 256.0, 0.5)).rgb, 1.0);
}
