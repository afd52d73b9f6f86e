// A C-STORE request sent with its data set exactly as given, byte for byte: how tests play a peer
// that sends what DCMTK would never encode (an empty data set, lengths that promise more than
// follows).
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmnet/assoc.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qvtest {

// A command set's bytes as they go on the wire: implicit VR little endian, group length first.
std::vector<uint8_t> encodeCommand(DcmDataset& command);

// Writes `bytes` as one PDV of a command or a data set, the last one of its message or not.
bool writeRawPdv(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, bool command,
                 const std::vector<uint8_t>& bytes, bool last = true);

// Sends the request's command and then `dataSet` as one PDV (in PDVs of `pdvBytes`, when not 0),
// the last one or not. For a last PDV, waits for the answer: "0x%04x" (its status), or
// "ended: <why>" when the association broke. Otherwise "sent".
std::string sendRawStore(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, const std::string& sopClass,
                         const std::string& sopInstance, const std::vector<uint8_t>& dataSet, bool last = true,
                         size_t pdvBytes = 0);

// Sends the rest of a data set that sendRawStore left unfinished, as its last PDV, and waits for
// the answer as sendRawStore does.
std::string finishRawStore(T_ASC_Association* assoc, T_ASC_PresentationContextID presId,
                           const std::vector<uint8_t>& rest);

// An association spoken byte by byte over a TCP connection from any loopback address (DCMTK's own
// requesting side always connects from 127.0.0.1): one presentation context, explicit VR little
// endian. Closed when it ends.
class RawAssociation {
 public:
  RawAssociation() = default;
  ~RawAssociation();
  RawAssociation(const RawAssociation&) = delete;
  RawAssociation& operator=(const RawAssociation&) = delete;
  // Connects from `source` to 127.0.0.1:port and negotiates `sopClass`; false with the reason.
  bool open(const std::string& source, int port, const std::string& sopClass, std::string& error);
  // One PDV in a PDU of its own; false once the connection failed.
  bool pdv(bool command, const std::vector<uint8_t>& bytes, bool last);
  // The C-STORE request's command, then the first `dataSet` bytes as one PDV, not the last.
  bool beginStore(const std::string& sopInstance, const std::vector<uint8_t>& dataSet);
  // The rest as the last PDV; the answer as sendRawStore gives it.
  std::string finishStore(const std::vector<uint8_t>& rest);

 private:
  int m_fd = -1;
  std::string m_sopClass;
  uint16_t m_messageId = 1;
};

}  // namespace qvtest
