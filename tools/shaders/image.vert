// Vertex program of the shader image node ("i.v").
// The renderer has already moved the sprite's vertices into world space; only the camera's
// view-projection (CC_PMatrix, declared by the framework) is applied here.
attribute vec4 a_position;
attribute vec4 a_color;
attribute vec2 a_texCoord;

varying vec4 v_fragmentColor;
varying vec2 v_texCoord;

void main()
{
    gl_Position = CC_PMatrix * a_position;
    v_fragmentColor = a_color;
    v_texCoord = a_texCoord;
}
