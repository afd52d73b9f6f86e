// The plainest start: the program opens its window on a new user's empty folder, draws its first
// frames, closes the window itself (QV_EXIT_AFTER_FRAMES) and ends cleanly.
#include "support/AppTest.h"

#include <cstdlib>

namespace e2e {
namespace {

class Start : public AppTest {};

TEST_F(Start, TheProgramDrawsItsFirstFramesAndEndsCleanly)
{
    ::setenv("QV_EXIT_AFTER_FRAMES", "10", 1);
    app = std::make_unique<App>(*x, folder + "xdg", folder + "run/");
    app->start();  // false when it was done before its window was seen
    ::unsetenv("QV_EXIT_AFTER_FRAMES");
    EXPECT_EQ(app->wait(), 0) << app->logTail(80);
}

}  // namespace
}  // namespace e2e
