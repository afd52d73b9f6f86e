// The listening side of a hand-made test peer: DCMTK's acceptor network on a free local port.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/assoc.h>

#include "LoopbackPorts.h"

namespace qvtest {

// An acceptor network on a port that was free (tried a few times, since another process may take
// a free port before it is bound), or nullptr; `port` is the one it listens on.
inline T_ASC_Network* listenOnFreePort(int& port) {
  T_ASC_Network* net = nullptr;
  for (int attempt = 0; attempt < 5 && !net; ++attempt) {
    port = freePort();
    if (ASC_initializeNetwork(NET_ACCEPTOR, port, 10, &net).bad()) net = nullptr;
  }
  return net;
}

}  // namespace qvtest
