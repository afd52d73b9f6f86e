// The framework tests' loopback HTTP server, shared rather than copied.
#include "../../../../platform/framework/tests/support/LoopbackServer.cpp"
