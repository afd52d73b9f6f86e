// Linked into every test and benchmark program that can reach the network: whatever the
// environment it was started from, the program addresses nothing outside 127.0.0.0/8. ctest sets
// the same scope; this keeps a test run by hand (or a benchmark) from reaching other machines, and
// the programs it starts inherit the setting.
#include <cstdlib>

namespace {
const bool loopbackOnly = [] { return setenv("QV_NETWORK_SCOPE", "loopback", 1) == 0; }();
}
