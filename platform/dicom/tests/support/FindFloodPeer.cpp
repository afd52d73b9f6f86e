#include "FindFloodPeer.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "LoopbackPorts.h"
#include "RawStore.h"
#include "AcceptorNetwork.h"

namespace qvtest {

namespace {

// A C-FIND-RSP command, implicit VR little endian, with or without a data set after it.
std::vector<uint8_t> findResponse(uint16_t answering, uint16_t status, bool withDataSet) {
  DcmDataset command;
  command.putAndInsertString(DCM_AffectedSOPClassUID, UID_FINDStudyRootQueryRetrieveInformationModel);
  command.putAndInsertUint16(DCM_CommandField, DIMSE_C_FIND_RSP);
  command.putAndInsertUint16(DCM_MessageIDBeingRespondedTo, answering);
  command.putAndInsertUint16(DCM_CommandDataSetType, withDataSet ? 0x0000 : 0x0101);
  command.putAndInsertUint16(DCM_Status, status);
  return encodeCommand(command);
}

// One explicit VR little endian element of a short value (padded to even length with a space).
void element(std::vector<uint8_t>& out, uint16_t group, uint16_t tag, const char* vr, std::string value) {
  if (value.size() % 2) value += ' ';
  out.insert(out.end(), {uint8_t(group), uint8_t(group >> 8), uint8_t(tag), uint8_t(tag >> 8), uint8_t(vr[0]),
                         uint8_t(vr[1]), uint8_t(value.size()), uint8_t(value.size() >> 8)});
  out.insert(out.end(), value.begin(), value.end());
}

// A study match whose elements come in falling tag order; `n` makes it unique.
std::vector<uint8_t> studyMatch(size_t n, const std::string& patientName) {
  std::vector<uint8_t> out;
  const std::string number = std::to_string(n);
  element(out, 0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.9.7433." + number);
  element(out, 0x0010, 0x0020, "LO", "FLOOD" + number);
  element(out, 0x0010, 0x0010, "PN", patientName.empty() ? "FLOOD^PATIENT" + number : patientName);
  element(out, 0x0008, 0x0052, "CS", "STUDY");
  element(out, 0x0008, 0x0020, "DA", "20240101");
  return out;
}

}  // namespace

FindFloodPeer::FindFloodPeer(size_t matches, std::string patientName)
    : m_matches(matches), m_patientName(std::move(patientName)) {
  m_net = listenOnFreePort(m_port);
  if (!m_net) {
    ADD_FAILURE() << "the query peer cannot listen";
    return;
  }
  m_thread = std::thread(&FindFloodPeer::run, this);
}

FindFloodPeer::~FindFloodPeer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_net) ASC_dropNetwork(&m_net);
}

void FindFloodPeer::run() {
  while (!m_stop) {
    T_ASC_Association* assoc = nullptr;
    OFCondition cond = ASC_receiveAssociation(m_net, &assoc, ASC_DEFAULTMAXPDU, nullptr, nullptr, OFFalse, DUL_NOBLOCK, 1);
    if (cond.good()) serve(assoc);
    if (assoc) {
      ASC_dropSCPAssociation(assoc);
      ASC_destroyAssociation(&assoc);
    }
  }
}

void FindFloodPeer::serve(T_ASC_Association* assoc) {
  const char* syntaxes[] = {UID_LittleEndianExplicitTransferSyntax};
  const char* classes[] = {UID_FINDStudyRootQueryRetrieveInformationModel};
  ASC_acceptContextsWithPreferredTransferSyntaxes(assoc->params, classes, 1, syntaxes, 1);
  if (ASC_acknowledgeAssociation(assoc).bad()) return;
  while (!m_stop) {
    T_ASC_PresentationContextID presId = 0;
    T_DIMSE_Message message;
    std::memset(&message, 0, sizeof(message));
    DcmDataset* query = nullptr;
    OFCondition cond = DIMSE_receiveCommand(assoc, DIMSE_NONBLOCKING, 1, &presId, &message, nullptr);
    if (cond == DIMSE_NODATAAVAILABLE) continue;
    if (cond == DUL_PEERREQUESTEDRELEASE) {
      ASC_acknowledgeRelease(assoc);
      return;
    }
    if (cond.bad() || message.CommandField != DIMSE_C_FIND_RQ) break;
    if (DIMSE_receiveDataSetInMemory(assoc, DIMSE_BLOCKING, 0, &presId, &query, nullptr, nullptr).bad()) break;
    delete query;
    const uint16_t id = message.msg.CFindRQ.MessageID;
    bool broken = false;
    for (size_t n = 0; n < m_matches && !m_stop; ++n) {
      // The requester's cancel or abort, read between matches without waiting.
      if (ASC_dataWaiting(assoc, 0)) {
        T_DIMSE_Message incoming;
        std::memset(&incoming, 0, sizeof(incoming));
        T_ASC_PresentationContextID any = 0;
        const OFCondition got = DIMSE_receiveCommand(assoc, DIMSE_NONBLOCKING, 0, &any, &incoming, nullptr);
        if (got.bad() || incoming.CommandField == DIMSE_C_CANCEL_RQ) {
          m_cancelled = true;
          broken = got.bad();
          if (broken) break;
        }
      }
      if (!writeRawPdv(assoc, presId, true, findResponse(id, STATUS_FIND_Pending_MatchesAreContinuing, true)) ||
          !writeRawPdv(assoc, presId, false, studyMatch(n, m_patientName))) {
        m_cancelled = true;
        broken = true;
        break;
      }
      ++m_sent;
    }
    if (broken) break;
    if (!writeRawPdv(assoc, presId, true, findResponse(id, STATUS_Success, false))) break;
    ++m_finished;
  }
  ASC_abortAssociation(assoc);
}

}  // namespace qvtest
