// A network of the test process's own, so that end-to-end tests run side by side (and beside other
// people's copies of the program on the same machine) without meeting: each program under test
// listens on the DICOM port, binds the discovery port and sweeps 127.0.0.0/24 for peers, and in a
// shared network the second one cannot listen and the sweeps find each other's programs.
//
// The test process moves into a new user namespace (this user mapped to itself, so files keep
// their owner) holding a new network namespace whose loopback it brings up. Everything it starts
// afterwards (Xvfb, the program, the DICOM peers) is in there with it. X connections still work:
// the display's socket is a file in /tmp, which is not network state.
#pragma once

#include <string>

namespace e2e {

// Call first in main, while the process has a single thread (the kernel refuses a new user
// namespace to a threaded process). False with the reason when the machine does not allow
// namespaces to this user; the process then stays in the shared network. When it fails half-way
// (in a new user namespace whose user cannot be mapped) the process cannot go on and exits.
bool enterPrivateNetwork(std::string* why);

}  // namespace e2e
