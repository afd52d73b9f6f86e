// The library screens' drawing tests: one window for the whole program, its size taken from
// QV_TEST_WINDOW ("WxH", default 1920x980).
#include "GLTestProgram.h"

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "screens-library-gl", 1920, 980,
                              qvtest::kSwapBuffers | qvtest::kSizeFromEnvironment | qvtest::kMesaOnCallingThread);
}
