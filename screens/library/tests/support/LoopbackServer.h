// The framework tests' loopback HTTP server, shared rather than copied.
#pragma once
#include "../../../../platform/framework/tests/support/LoopbackServer.h"
