// The volume viewer's drawing tests: one window with a GL context for the whole program. It does
// not swap buffers, so after a frame the back buffer still holds what was drawn.
#include "GLTestProgram.h"

int main(int argc, char** argv)
{
    return qvtest::runGLTests(argc, argv, "volume-gl", 640, 480, 0);
}
