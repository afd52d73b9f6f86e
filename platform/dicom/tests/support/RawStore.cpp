#include "RawStore.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qvtest {

namespace {

// The status of the C-STORE response that comes next: "0x%04x", or "ended: <why>".
std::string storeStatus(T_ASC_Association* assoc) {
  T_DIMSE_Message response;
  std::memset(&response, 0, sizeof(response));
  T_ASC_PresentationContextID id = 0;
  const OFCondition cond = DIMSE_receiveCommand(assoc, DIMSE_NONBLOCKING, 20, &id, &response, nullptr);
  if (cond.bad()) return std::string("ended: ") + cond.text();
  char status[16];
  std::snprintf(status, sizeof(status), "0x%04x", response.msg.CStoreRSP.DimseStatus);
  return status;
}

}  // namespace

bool writeRawPdv(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, bool command,
                 const std::vector<uint8_t>& bytes, bool last) {
  std::vector<uint8_t> data = bytes;
  data.reserve(1);  // a valid pointer also for an empty PDV
  DUL_PDV pdv = {static_cast<unsigned long>(data.size()), presId, command ? DUL_COMMANDPDV : DUL_DATASETPDV,
                 last ? OFTrue : OFFalse, data.data()};
  DUL_PDVLIST list{};
  list.count = 1;
  list.pdv = &pdv;
  return DUL_WritePDVs(&assoc->DULassociation, &list).good();
}

std::string sendRawStore(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, const std::string& sopClass,
                         const std::string& sopInstance, const std::vector<uint8_t>& dataSet, bool last,
                         size_t pdvBytes) {
  DcmDataset command;
  command.putAndInsertString(DCM_AffectedSOPClassUID, sopClass.c_str());
  command.putAndInsertUint16(DCM_CommandField, DIMSE_C_STORE_RQ);
  command.putAndInsertUint16(DCM_MessageID, assoc->nextMsgID++);
  command.putAndInsertUint16(DCM_Priority, 0);
  command.putAndInsertUint16(DCM_CommandDataSetType, 0x0000);  // a data set follows
  command.putAndInsertString(DCM_AffectedSOPInstanceUID, sopInstance.c_str());
  command.computeGroupLengthAndPadding(EGL_withGL, EPD_noChange, EXS_LittleEndianImplicit, EET_ExplicitLength);
  std::vector<char> buffer(4096);
  DcmOutputBufferStream out(buffer.data(), buffer.size());
  command.transferInit();
  command.write(out, EXS_LittleEndianImplicit, EET_ExplicitLength, nullptr);
  command.transferEnd();
  void* encoded = nullptr;
  offile_off_t length = 0;
  out.flushBuffer(encoded, length);
  const std::vector<uint8_t> commandBytes(static_cast<uint8_t*>(encoded), static_cast<uint8_t*>(encoded) + length);
  if (!writeRawPdv(assoc, presId, true, commandBytes)) return "ended: sending failed";
  for (size_t at = 0, step = pdvBytes ? pdvBytes : dataSet.size() + 1; at == 0 || at < dataSet.size(); at += step) {
    const size_t end = std::min(dataSet.size(), at + step);
    if (!writeRawPdv(assoc, presId, false, {dataSet.begin() + long(at), dataSet.begin() + long(end)},
                     last && end == dataSet.size()))
      return "ended: sending failed";
  }
  if (!last) return "sent";
  return storeStatus(assoc);
}

std::string finishRawStore(T_ASC_Association* assoc, T_ASC_PresentationContextID presId,
                           const std::vector<uint8_t>& rest) {
  if (!writeRawPdv(assoc, presId, false, rest, true)) return "ended: sending failed";
  return storeStatus(assoc);
}

}  // namespace qvtest
