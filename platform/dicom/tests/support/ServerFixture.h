// A storage server of the DICOM layer on a free port of 127.0.0.1, with its folders in a temporary
// folder. The test sets the root it wants, then begins.
#pragma once

#include <string>

#include "dcmNetwork.h"
#include "support/DicomTestData.h"
#include "support/LoopbackPorts.h"

namespace qvtest {

struct ServerFixture {
  TempDir dir;
  std::string root = dir.file("library") + "/";
  redIRI::dcmServer server;
  int port = 0;

  // Listens on a port that was free a moment ago; another program may take it in between, so a
  // few are tried.
  bool begin() {
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
      const int candidate = freePort();
      server.setPort("127.0.0.1,", std::to_string(candidate).c_str(), "tolvrane");
      if (server.BeginDicomServer()) port = candidate;
    }
    return port != 0;
  }
};

}  // namespace qvtest
