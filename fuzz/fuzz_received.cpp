// libFuzzer entry for the storage server's received-data-set path, called directly from bytes:
// the first byte picks the transfer syntax the association would have accepted, the rest is the
// data set as a peer sends it. It goes through what the server does with it: the structural
// walk and DCMTK's parse (parseReceived), the values the stored record is made of, and, for a
// data set the server would keep, writing the file (walked as the library walks files) and opening
// it as the library opens files, which must succeed.
// Whatever DCMTK accepts must fit the bound on its parse and agree with the walk (treeBound.h).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmNetwork.h"
#include "dcmStorage.h"
#include "treeBound.h"

namespace {

const E_TransferSyntax kSyntaxes[] = {EXS_LittleEndianExplicit, EXS_LittleEndianImplicit,
                                      EXS_DeflatedLittleEndianExplicit, EXS_BigEndianExplicit,
                                      EXS_JPEGProcess14SV1, EXS_RLELossless};

const std::string& folder() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qv-fuzz-received-" + std::to_string(::getpid()) + "/";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = [] {
    // The library sets DCMTK's logger up on first use; after that it is quietened.
    redIRI::dcmReader first;
    first.setFile("/");
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    return true;
  }();
  (void)installed;
  if (size < 1) return 0;
  const DcmXfer xfer(kSyntaxes[data[0] % (sizeof(kSyntaxes) / sizeof(kSyntaxes[0]))]);
  std::vector<unsigned char> bytes(data + 1, data + size);
  if (bytes.size() % 2) bytes.push_back(0);  // PDVs carry even lengths

  auto dataset = std::make_unique<DcmDataset>();
  std::string why;
  qvfuzz::WalkedTags walked;
  if (!redIRI::detail::parseReceived(bytes, xfer, "received data set", *dataset, why)) return 0;
  walked.stop();
  qvfuzz::checkTree({dataset.get()});
  qvfuzz::checkTopLevel(dataset.get(), walked.tags());
  redIRI::detail::ReceivedObject object(dataset.release(), xfer.getXfer(), data[0] & 1, "1.2.3");
  const std::string place = object.dicomFolder();
  std::unique_ptr<redIRI::DCM_MESSAGE> record(object.record(place + "/"));
  // Writing costs a file per input: every other one.
  if (data[0] & 2) {
    std::string error;
    if (object.write(folder() + "stored/", folder() + "tmp/", error)) {
      // What the server keeps opens in the library: its file is walked before it is kept, not
      // parsed again, so the parse of what DCMTK wrote must agree with the walk.
      const std::string kept = folder() + "stored/" + object.fileName();
      redIRI::detail::DicomFile file;
      if (!file.open(kept.c_str(), nullptr)) std::abort();
      ::unlink(kept.c_str());
    }
  }
  return 0;
}
