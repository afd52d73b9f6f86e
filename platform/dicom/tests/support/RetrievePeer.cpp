#include "RetrievePeer.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/ofstd/ofstd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "DicomPeers.h"
#include "AcceptorNetwork.h"

namespace qvtest {

namespace {

bool isLittleEndianUncompressed(const std::string& uid) {
  return uid == UID_LittleEndianExplicitTransferSyntax || uid == UID_LittleEndianImplicitTransferSyntax;
}

// The context to send a file over: accepted, of its class, in its syntax.
T_ASC_PresentationContextID contextFor(T_ASC_Association* assoc, const std::string& sopClass,
                                       const std::string& syntax) {
  for (int i = 0; i < ASC_countPresentationContexts(assoc->params); ++i) {
    T_ASC_PresentationContext pc;
    if (ASC_getPresentationContext(assoc->params, i, &pc).bad() || pc.resultReason != ASC_P_ACCEPTANCE) continue;
    if (sopClass != pc.abstractSyntax) continue;
    const std::string accepted = pc.acceptedTransferSyntax;
    if (accepted == syntax || (isLittleEndianUncompressed(syntax) && isLittleEndianUncompressed(accepted)))
      return pc.presentationContextID;
  }
  return 0;
}

}  // namespace

RetrievePeer::RetrievePeer(const std::vector<std::string>& files) {
  for (const std::string& path : files) {
    DcmFileFormat file;
    OFString sopClass, sopInstance, series;
    if (file.loadFile(path.c_str()).bad() || file.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass).bad() ||
        file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, sopInstance).bad() ||
        file.getDataset()->findAndGetOFString(DCM_SeriesInstanceUID, series).bad()) {
      ADD_FAILURE() << "the retrieval peer cannot read " << path;
      continue;
    }
    m_files.push_back({path, sopClass.c_str(), sopInstance.c_str(), series.c_str(),
                       DcmXfer(file.getDataset()->getOriginalXfer()).getXferID()});
  }
  m_net = listenOnFreePort(m_port);
  if (!m_net) {
    ADD_FAILURE() << "the retrieval peer cannot listen";
    return;
  }
  m_thread = std::thread(&RetrievePeer::run, this);
}

RetrievePeer::~RetrievePeer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_net) ASC_dropNetwork(&m_net);
}

std::vector<std::string> RetrievePeer::events() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_events;
}

void RetrievePeer::note(const std::string& event) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_events.push_back(event);
}

void RetrievePeer::run() {
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

void RetrievePeer::serve(T_ASC_Association* assoc) {
  // Uncompressed when offered, else the first syntax known: one per context, as peers do.
  std::string refused;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    refused = m_refused;
  }
  for (int i = 0; i < ASC_countPresentationContexts(assoc->params); ++i) {
    T_ASC_PresentationContext pc;
    if (ASC_getPresentationContext(assoc->params, i, &pc).bad() || refused == pc.abstractSyntax) continue;
    std::string chosen;
    for (const char* preferred : {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax})
      for (int k = 0; k < pc.transferSyntaxCount && chosen.empty(); ++k)
        if (std::strcmp(pc.proposedTransferSyntaxes[k], preferred) == 0) chosen = preferred;
    for (int k = 0; k < pc.transferSyntaxCount && chosen.empty(); ++k)
      if (DcmXfer(pc.proposedTransferSyntaxes[k]).getXfer() != EXS_Unknown) chosen = pc.proposedTransferSyntaxes[k];
    if (!chosen.empty())
      ASC_acceptPresentationContext(assoc->params, pc.presentationContextID, chosen.c_str(), pc.proposedRole);
  }
  if (ASC_acknowledgeAssociation(assoc).bad()) return;

  while (!m_stop) {
    T_ASC_PresentationContextID presId = 0;
    T_DIMSE_Message message;
    std::memset(&message, 0, sizeof(message));
    OFCondition cond = DIMSE_receiveCommand(assoc, DIMSE_NONBLOCKING, 1, &presId, &message, nullptr);
    if (cond == DIMSE_NODATAAVAILABLE) continue;
    if (cond == DUL_PEERREQUESTEDRELEASE) {
      ASC_acknowledgeRelease(assoc);
      return;
    }
    if (cond.bad()) break;
    if (message.CommandField == DIMSE_C_GET_RQ) {
      answerGet(assoc, presId, message.msg.CGetRQ);
    } else if (message.CommandField == DIMSE_C_FIND_RQ) {
      answerFind(assoc, presId, message.msg.CFindRQ);
    } else if (message.CommandField == DIMSE_C_ECHO_RQ) {
      DIMSE_sendEchoResponse(assoc, presId, &message.msg.CEchoRQ, STATUS_Success, nullptr);
    } else if (message.CommandField != DIMSE_C_CANCEL_RQ) {
      break;
    }
  }
  ASC_abortAssociation(assoc);
}

void RetrievePeer::answerFind(T_ASC_Association* assoc, T_ASC_PresentationContextID presId,
                              const T_DIMSE_C_FindRQ& request) {
  DcmDataset* identifiers = nullptr;
  T_ASC_PresentationContextID dataPresId = presId;
  if (DIMSE_receiveDataSetInMemory(assoc, DIMSE_BLOCKING, 0, &dataPresId, &identifiers, nullptr, nullptr).bad()) return;
  OFString level, series;
  identifiers->findAndGetOFString(DCM_QueryRetrieveLevel, level);
  identifiers->findAndGetOFString(DCM_SeriesInstanceUID, series);
  delete identifiers;
  T_DIMSE_C_FindRSP response;
  std::memset(&response, 0, sizeof(response));
  response.MessageIDBeingRespondedTo = request.MessageID;
  OFStandard::strlcpy(response.AffectedSOPClassUID, request.AffectedSOPClassUID, sizeof(response.AffectedSOPClassUID));
  response.opts = O_FIND_AFFECTEDSOPCLASSUID;
  std::vector<std::pair<std::string, std::string>> listed;  // instance, class
  for (const Stored& f : m_files)
    if (level == "IMAGE" && f.series == series.c_str() &&
        (m_listOnly < 0 || listed.size() < static_cast<size_t>(m_listOnly)))
      listed.emplace_back(f.sopInstance, f.sopClass);
  for (int i = 0; i < m_junkClasses && !listed.empty(); ++i)
    listed.emplace_back("2.25." + std::to_string(i + 1), "1.9.\x1b[31m" + std::to_string(i) + "\x07\xff");
  for (const auto& [instance, sopClass] : listed) {
    // A slow archive: the retriever may give up meanwhile (a cancel or an abort is then waiting).
    for (int waited = 0; waited < m_listPauseMs; waited += 20) {
      if (ASC_dataWaiting(assoc, 0)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    DcmDataset match;
    match.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
    match.putAndInsertString(DCM_SeriesInstanceUID, series.c_str());
    match.putAndInsertString(DCM_SOPInstanceUID, instance.c_str());
    match.putAndInsertString(DCM_SOPClassUID, sopClass.c_str());
    response.DimseStatus = STATUS_FIND_Pending_MatchesAreContinuing;
    response.DataSetType = DIMSE_DATASET_PRESENT;
    if (DIMSE_sendFindResponse(assoc, presId, &request, &response, &match, nullptr).bad()) return;
  }
  response.DimseStatus = STATUS_Success;
  response.DataSetType = DIMSE_DATASET_NULL;
  DIMSE_sendFindResponse(assoc, presId, &request, &response, nullptr, nullptr);
}

void RetrievePeer::answerGet(T_ASC_Association* assoc, T_ASC_PresentationContextID presId,
                             const T_DIMSE_C_GetRQ& request) {
  DcmDataset* identifiers = nullptr;
  T_ASC_PresentationContextID dataPresId = presId;
  if (DIMSE_receiveDataSetInMemory(assoc, DIMSE_BLOCKING, 0, &dataPresId, &identifiers, nullptr, nullptr).bad()) return;
  OFString series;
  identifiers->findAndGetOFString(DCM_SeriesInstanceUID, series);
  delete identifiers;

  std::vector<const Stored*> matches;
  std::vector<std::string> instead;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    instead = m_sendOnGet;
  }
  for (const std::string& path : instead)
    for (const Stored& f : m_files)
      if (f.path == path) matches.push_back(&f);
  for (const Stored& f : m_files)
    if (instead.empty() && f.series == series.c_str()) matches.push_back(&f);
  T_DIMSE_C_GetRSP response;
  std::memset(&response, 0, sizeof(response));
  response.MessageIDBeingRespondedTo = request.MessageID;
  OFStandard::strlcpy(response.AffectedSOPClassUID, request.AffectedSOPClassUID, sizeof(response.AffectedSOPClassUID));
  response.DataSetType = DIMSE_DATASET_NULL;
  response.opts = O_GET_AFFECTEDSOPCLASSUID | O_GET_NUMBEROFREMAININGSUBOPERATIONS |
                  O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS | O_GET_NUMBEROFFAILEDSUBOPERATIONS |
                  O_GET_NUMBEROFWARNINGSUBOPERATIONS;
  // The images of the junk classes it lists cannot be sent.
  unsigned completed = 0, failed = matches.empty() ? 0 : static_cast<unsigned>(m_junkClasses.load());
  for (size_t i = 0; i < matches.size(); ++i) {
    const Stored& f = *matches[i];
    const T_ASC_PresentationContextID storeId = contextFor(assoc, f.sopClass, f.syntax);
    if (storeId == 0) {
      ++failed;
      note(f.path + " refused: no context accepted for " + f.sopClass + " in " + f.syntax);
    } else {
      DcmFileFormat file;
      T_DIMSE_C_StoreRQ store;
      std::memset(&store, 0, sizeof(store));
      store.MessageID = assoc->nextMsgID++;
      OFStandard::strlcpy(store.AffectedSOPClassUID, f.sopClass.c_str(), sizeof(store.AffectedSOPClassUID));
      const bool other = m_otherInstancesAfter >= 0 && i >= static_cast<size_t>(m_otherInstancesAfter);
      OFStandard::strlcpy(store.AffectedSOPInstanceUID, (f.sopInstance + (other ? ".9" : "")).c_str(),
                          sizeof(store.AffectedSOPInstanceUID));
      store.DataSetType = DIMSE_DATASET_PRESENT;
      store.Priority = DIMSE_PRIORITY_MEDIUM;
      T_DIMSE_C_StoreRSP answer;
      std::memset(&answer, 0, sizeof(answer));
      DcmDataset* statusDetail = nullptr;
      OFCondition cond = file.loadFile(f.path.c_str());
      if (cond.good()) file.loadAllDataIntoMemory();
      if (cond.good())
        cond = DIMSE_storeUser(assoc, storeId, &store, nullptr, file.getDataset(), nullptr, nullptr, DIMSE_BLOCKING, 0,
                               &answer, &statusDetail);
      const char* comment = nullptr;
      if (statusDetail) statusDetail->findAndGetString(DCM_ErrorComment, comment);
      const std::string why = comment ? std::string(" (") + comment + ")" : std::string();
      delete statusDetail;
      if (cond.bad()) {
        note(f.path + " refused: " + cond.text());
        return;  // the association is gone
      }
      const bool taken = answer.DimseStatus == STATUS_Success;
      if (taken || m_ignoreRefusals) {
        ++completed;
        note(f.path + (taken ? " sent" : " refused: the retriever answered " + std::to_string(answer.DimseStatus) + why));
        if (m_cutAfter >= 0 && completed >= static_cast<unsigned>(m_cutAfter)) {
          ASC_abortAssociation(assoc);
          return;
        }
      } else {
        ++failed;
        note(f.path + " refused: the retriever answered " + std::to_string(answer.DimseStatus) + why);
      }
    }
    response.DimseStatus = STATUS_GET_Pending_SubOperationsAreContinuing;
    response.NumberOfRemainingSubOperations = static_cast<DIC_US>(matches.size() - i - 1);
    response.NumberOfCompletedSubOperations = static_cast<DIC_US>(completed);
    response.NumberOfFailedSubOperations = static_cast<DIC_US>(failed);
    response.NumberOfWarningSubOperations = 0;
    if (i + 1 < matches.size() && DIMSE_sendGetResponse(assoc, presId, &request, &response, nullptr, nullptr).bad())
      return;
  }
  response.opts &= ~O_GET_NUMBEROFREMAININGSUBOPERATIONS;
  response.NumberOfCompletedSubOperations = static_cast<DIC_US>(completed);
  response.NumberOfFailedSubOperations = static_cast<DIC_US>(failed);
  response.DimseStatus = failed == 0 ? STATUS_Success
                         : completed == 0 ? STATUS_GET_Failed_UnableToProcess
                                          : STATUS_GET_Warning_SubOperationsCompleteOneOrMoreFailures;
  DIMSE_sendGetResponse(assoc, presId, &request, &response, nullptr, nullptr);
}

}  // namespace qvtest
