// The foundation's headless frame driver, shared rather than copied.
#include "../../../foundation/tests/support/HeadlessFrames.cpp"
