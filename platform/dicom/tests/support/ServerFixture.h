// A storage server of the DICOM layer on a free port of 127.0.0.1, with its folders in a temporary
// folder. The test sets the root it wants, then begins.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

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
      if (server.BeginDicomServer())
        port = candidate;
      else
        server.StopDicomServer();  // it would go on trying that port
    }
    return port != 0;
  }
};

// Opens `client` to the server on 127.0.0.1:port proposing one SOP class in one syntax; the
// context the server accepted for it, or 0 (with the reason as a test failure).
inline T_ASC_PresentationContextID openStoreAssociation(
    redIRI::detail::ClientAssociation& client, int port,
    const std::string& sopClass = UID_SecondaryCaptureImageStorage,
    const char* syntax = UID_LittleEndianExplicitTransferSyntax) {
  std::string error;
  if (!client.open("127.0.0.1", port, "ANY-SCP", {{sopClass, {syntax}}}, error)) {
    ADD_FAILURE() << error;
    return 0;
  }
  return ASC_findAcceptedPresentationContextID(client.get(), sopClass.c_str());
}

// Connections the server's log shows open: those it counted in ("connection from A, N open")
// less those it gave back ("connection from A closed, N open"). Each count is logged outside the
// server's lock, so the last line alone may be out of order.
inline int openConnections(const CallbackCapture& log) {
  int open = 0;
  for (const std::string& line : log.logLines()) {
    if (line.find("connection from ") == std::string::npos || line.find(" open") == std::string::npos) continue;
    if (line.find(" closed, ") != std::string::npos)
      --open;
    else if (line.find("refused") == std::string::npos)
      ++open;
  }
  return open;
}

}  // namespace qvtest
