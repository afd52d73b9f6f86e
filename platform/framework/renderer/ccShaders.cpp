#include "renderer/ccShaders.h"

#include <string>

namespace cocos2d {
namespace shaders {

const char* const positionTextureColor_vert = R"(
attribute vec4 a_position;
attribute vec2 a_texCoord;
attribute vec4 a_color;
varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    v_fragmentColor = a_color;
    v_texCoord = a_texCoord;
}
)";

const char* const positionTextureColor_frag = R"(
varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
void main()
{
    gl_FragColor = v_fragmentColor * texture2D(CC_Texture0, v_texCoord);
}
)";

const char* const positionColor_vert = R"(
attribute vec4 a_position;
attribute vec4 a_color;
varying vec4 v_fragmentColor;
void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    v_fragmentColor = a_color;
}
)";

const char* const positionColor_frag = R"(
varying vec4 v_fragmentColor;
void main()
{
    gl_FragColor = v_fragmentColor;
}
)";

const char* const positionLengthTextureColor_vert = R"(
attribute vec4 a_position;
attribute vec2 a_texCoord;
attribute vec4 a_color;
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    v_color = vec4(a_color.rgb * a_color.a, a_color.a);
    v_texcoord = a_texCoord;
    gl_Position = CC_MVPMatrix * a_position;
}
)";

const char* const positionLengthTextureColor_frag = R"(
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    gl_FragColor = v_color * step(0.0, 1.0 - length(v_texcoord));
}
)";

const char* const positionColorTexAsPointsize_vert = R"(
attribute vec4 a_position;
attribute vec4 a_color;
attribute vec2 a_texCoord;
varying vec4 v_fragmentColor;
void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    gl_PointSize = a_texCoord.x;
    v_fragmentColor = a_color;
}
)";

const char* const label_frag = R"(
varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
void main()
{
    gl_FragColor = v_fragmentColor * texture2D(CC_Texture0, v_texCoord).a;
}
)";

std::string withoutModelView(const char* vertexSource)
{
    std::string source(vertexSource);
    const std::string from = "CC_MVPMatrix * a_position";
    const size_t at = source.find(from);
    if (at != std::string::npos) {
        source.replace(at, from.size(), "CC_PMatrix * a_position");
    }
    return source;
}

} // namespace shaders
} // namespace cocos2d
