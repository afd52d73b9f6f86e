// Fragment program of the shader image node ("id.f").
//
// Unit 0 (CC_Texture0) holds the frame, fetched without filtering (GL_NEAREST). With u_pt == 1
// each texel is one 16-bit value stored as luminance (low byte) and alpha (high byte), rebuilt
// exactly as L * 255 + A * 255 * 256. The two bytes are never filtered apart: the hardware
// filters each 8-bit channel with its own rounding, so between two texels whose high bytes
// differ (neighbours on either side of a multiple of 256) it would give values up to 128 off,
// drawn as false contour lines. With u_pt == 2 the texel is an RGB colour, shown unchanged.
//
// The window maps a value to a colour index 0..255 as the CPU path's window table does:
//   linear (u_opacity 0):            (v - u_wwMin) * u_wwLinear
//   logarithmic (1):                 log10((v - u_wwMin) * u_wwLogRatio + 1) * 255
//   inverse logarithmic (2):         (1 - log10((u_wwMax - v) * u_wwLogRatio + 1)) * 255
// with the log curves 0 at or below u_wwMin and 255 at or above u_wwMax. The colour is read
// from the 256 x 1 colour table on unit 1 at the centre of entry i. Alpha is always 1.
//
// Between texel centres the program blends the colours of the four nearest texels bilinearly,
// each coloured through window and table first. That is what the CPU path shows (its texture
// holds the colour of every pixel and is filtered linearly), so both paths draw a magnified
// slice alike. Texel centres lie at (i + 0.5) / size in texture coordinates; the edge texels
// are repeated outwards, as GL_CLAMP_TO_EDGE does. The blend weights are taken to 1/256, the
// sub-texel precision of the filtering hardware.
//
// u_vw and u_vh are the frame texture's size in texels. With u_fs != 0 the frame is sampled at
// the centre of the texel under the fragment, without blending; the node always passes 0.
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

// The colour indices of four values (vector arithmetic: one pass for the four texels).
vec4 indices(vec4 v)
{
    vec4 index;
    if (u_opacity == 1) {
        index = log(max(v - u_wwMin, 0.0) * u_wwLogRatio + 1.0) * (kLog10 * 255.0);
        index = mix(index, vec4(255.0), vec4(greaterThanEqual(v, vec4(u_wwMax))));
        index = mix(index, vec4(0.0), vec4(lessThanEqual(v, vec4(u_wwMin))));
    } else if (u_opacity == 2) {
        index = (1.0 - log(max(u_wwMax - v, 0.0) * u_wwLogRatio + 1.0) * kLog10) * 255.0;
        index = mix(index, vec4(255.0), vec4(greaterThanEqual(v, vec4(u_wwMax))));
        index = mix(index, vec4(0.0), vec4(lessThanEqual(v, vec4(u_wwMin))));
    } else {
        index = (v - u_wwMin) * u_wwLinear;
    }
    return clamp(floor(index + kIndexEpsilon), 0.0, 255.0);
}

float value(vec4 texel)
{
    return texel.r * 255.0 + texel.a * 65280.0;
}

vec3 colour(float index)
{
    return texture2D(u_clutTexture, vec2((index + 0.5) / 256.0, 0.5)).rgb;
}

void main()
{
    vec2 size = vec2(u_vw, u_vh);
    if (u_pt == 2 || u_fs != 0) {
        vec2 at = u_fs != 0 ? (floor(v_texCoord * size) + 0.5) / size : v_texCoord;
        vec4 texel = texture2D(CC_Texture0, at);
        if (u_pt == 2) {
            gl_FragColor = vec4(texel.rgb, 1.0);
        } else {
            gl_FragColor = vec4(colour(indices(vec4(value(texel))).x), 1.0);
        }
        return;
    }
    // The texel whose centre lies at or below-left of the fragment, and the fragment's place
    // between it and the next centres.
    vec2 p = v_texCoord * size - 0.5;
    vec2 first = floor(p);
    vec2 weight = floor((p - first) * 256.0 + 0.5) / 256.0;
    vec2 lowAt = (clamp(first, vec2(0.0), size - 1.0) + 0.5) / size;
    vec2 highAt = (clamp(first + 1.0, vec2(0.0), size - 1.0) + 0.5) / size;
    vec4 v = vec4(value(texture2D(CC_Texture0, lowAt)),
                  value(texture2D(CC_Texture0, vec2(highAt.x, lowAt.y))),
                  value(texture2D(CC_Texture0, vec2(lowAt.x, highAt.y))),
                  value(texture2D(CC_Texture0, highAt)));
    vec4 index = indices(v);
    vec3 bottom = mix(colour(index.x), colour(index.y), weight.x);
    vec3 top = mix(colour(index.z), colour(index.w), weight.x);
    gl_FragColor = vec4(mix(bottom, top, weight.y), 1.0);
}
