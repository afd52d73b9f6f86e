// A C-STORE request sent with its data set exactly as given, byte for byte: how tests play a peer
// that sends what DCMTK would never encode (an empty data set, lengths that promise more than
// follows).
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/assoc.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

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

}  // namespace qvtest
