// The viewing screens' drawing tests: one window for the whole program, its size taken from
// QV_TEST_WINDOW ("WxH", default 1920x1080). Buffers are not swapped, so after a frame the back
// buffer still holds what was drawn and can be read back.
#include "GLTestProgram.h"

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "screens-viewing-gl", 1920, 1080,
                              qvtest::kSizeFromEnvironment | qvtest::kMesaOnCallingThread);
}
