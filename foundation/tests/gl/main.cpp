// The foundation's drawing tests: one window with a GL context for every test.
#include "CaptureWindow.h"

#include "GLTestProgram.h"

namespace qvgl {

cocos2d::GLView* captureWindow()
{
    return qvtest::testWindow();
}

} // namespace qvgl

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "foundation-gl", int(qvgl::kCaptureWindowWidth),
                              int(qvgl::kCaptureWindowHeight), qvtest::kSwapBuffers | qvtest::kMesaOnCallingThread);
}
