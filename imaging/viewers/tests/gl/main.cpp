// The viewers' drawing tests: one window with a GL context for the whole program. It does not
// swap buffers, so after a frame the back buffer still holds what was drawn.
#include "GLViewers.h"

#include "GLTestProgram.h"

namespace qvgl {

cocos2d::GLViewImpl* window()
{
    return qvtest::testWindow();
}

std::array<unsigned char, 3> readPixel(int x, int y)
{
    unsigned char rgba[4] = {0, 0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

} // namespace qvgl

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "viewers-gl", int(qvgl::kWindowWidth), int(qvgl::kWindowHeight), 0);
}
