#include "RawStore.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

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

// The C-STORE-RQ command, implicit VR little endian.
std::vector<uint8_t> storeCommand(const std::string& sopClass, const std::string& sopInstance, uint16_t messageId) {
  DcmDataset command;
  command.putAndInsertString(DCM_AffectedSOPClassUID, sopClass.c_str());
  command.putAndInsertUint16(DCM_CommandField, DIMSE_C_STORE_RQ);
  command.putAndInsertUint16(DCM_MessageID, messageId);
  command.putAndInsertUint16(DCM_Priority, 0);
  command.putAndInsertUint16(DCM_CommandDataSetType, 0x0000);  // a data set follows
  command.putAndInsertString(DCM_AffectedSOPInstanceUID, sopInstance.c_str());
  return encodeCommand(command);
}

void put16(std::vector<uint8_t>& out, size_t v) { out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void put32(std::vector<uint8_t>& out, size_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}
void item(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& body) {
  out.insert(out.end(), {type, 0});
  put16(out, body.size());
  out.insert(out.end(), body.begin(), body.end());
}
std::vector<uint8_t> text(const std::string& s) { return {s.begin(), s.end()}; }

bool readAll(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got <= 0) return false;
    p += got;
    n -= size_t(got);
  }
  return true;
}

// One PDU: its type and body; type 0 when the connection ended.
uint8_t readPdu(int fd, std::vector<uint8_t>& body) {
  uint8_t head[6];
  if (!readAll(fd, head, 6)) return 0;
  body.resize(size_t(head[2]) << 24 | size_t(head[3]) << 16 | size_t(head[4]) << 8 | head[5]);
  return readAll(fd, body.data(), body.size()) ? head[0] : 0;
}

}  // namespace

RawAssociation::~RawAssociation() {
  if (m_fd >= 0) ::close(m_fd);
}

bool RawAssociation::open(const std::string& source, int port, const std::string& sopClass, std::string& error) {
  m_sopClass = sopClass;
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval wait{20, 0};
  ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  if (::bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0 ||
      ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
    error = "cannot connect";
    return false;
  }
  std::vector<uint8_t> body;
  put16(body, 1);
  body.insert(body.end(), {0, 0});
  for (const char* title : {"ANY-SCP", "RAWPEER"}) {
    std::string padded(title);
    padded.resize(16, ' ');
    body.insert(body.end(), padded.begin(), padded.end());
  }
  body.resize(body.size() + 32, 0);
  item(body, 0x10, text("1.2.840.10008.3.1.1.1"));
  std::vector<uint8_t> context = {1, 0, 0, 0};
  item(context, 0x30, text(sopClass));
  item(context, 0x40, text(UID_LittleEndianExplicitTransferSyntax));
  item(body, 0x20, context);
  std::vector<uint8_t> maxLength;
  put32(maxLength, 16384);
  std::vector<uint8_t> user;
  item(user, 0x51, maxLength);
  item(body, 0x50, user);
  std::vector<uint8_t> pdu = {0x01, 0};
  put32(pdu, body.size());
  pdu.insert(pdu.end(), body.begin(), body.end());
  std::vector<uint8_t> answer;
  const uint8_t type = ::send(m_fd, pdu.data(), pdu.size(), MSG_NOSIGNAL) == ssize_t(pdu.size()) ? readPdu(m_fd, answer) : 0;
  // The accepted context: item 0x21 of context 1 whose result is 0.
  for (size_t at = 68; type == 0x02 && at + 8 <= answer.size();) {
    const size_t length = size_t(answer[at + 2]) << 8 | answer[at + 3];
    if (answer[at] == 0x21 && answer[at + 4] == 1 && answer[at + 6] == 0) return true;
    at += 4 + length;
  }
  error = type == 0x03 ? "rejected" : "not accepted (PDU type " + std::to_string(type) + ")";
  return false;
}

bool RawAssociation::pdv(bool command, const std::vector<uint8_t>& bytes, bool last) {
  std::vector<uint8_t> pdu = {0x04, 0};
  put32(pdu, bytes.size() + 6);
  put32(pdu, bytes.size() + 2);
  pdu.insert(pdu.end(), {1, uint8_t((command ? 1 : 0) | (last ? 2 : 0))});
  pdu.insert(pdu.end(), bytes.begin(), bytes.end());
  return ::send(m_fd, pdu.data(), pdu.size(), MSG_NOSIGNAL) == ssize_t(pdu.size());
}

bool RawAssociation::beginStore(const std::string& sopInstance, const std::vector<uint8_t>& dataSet) {
  return pdv(true, storeCommand(m_sopClass, sopInstance, m_messageId++), true) && pdv(false, dataSet, false);
}

std::string RawAssociation::finishStore(const std::vector<uint8_t>& rest) {
  // In PDUs within the 16 KiB the server takes.
  for (size_t at = 0; at == 0 || at < rest.size(); at += 16000) {
    const size_t end = std::min(rest.size(), at + 16000);
    if (!pdv(false, {rest.begin() + long(at), rest.begin() + long(end)}, end == rest.size()))
      return "ended: sending failed";
  }
  std::vector<uint8_t> body;
  const uint8_t type = readPdu(m_fd, body);
  if (type != 0x04) return "ended: PDU type " + std::to_string(type);
  // One command PDV: the status (0000,0900) among its implicit little endian elements.
  for (size_t at = 6; at + 8 <= body.size();) {
    const uint16_t group = uint16_t(body[at] | body[at + 1] << 8), element = uint16_t(body[at + 2] | body[at + 3] << 8);
    const uint32_t length = uint32_t(body[at + 4] | body[at + 5] << 8 | body[at + 6] << 16 | uint32_t(body[at + 7]) << 24);
    if (group == 0 && element == 0x0900 && at + 10 <= body.size()) {
      char status[16];
      std::snprintf(status, sizeof(status), "0x%04x", unsigned(body[at + 8] | body[at + 9] << 8));
      return status;
    }
    at += 8 + length;
  }
  return "ended: no status";
}

std::vector<uint8_t> encodeCommand(DcmDataset& command) {
  command.computeGroupLengthAndPadding(EGL_withGL, EPD_noChange, EXS_LittleEndianImplicit, EET_ExplicitLength);
  std::vector<char> buffer(4096);
  DcmOutputBufferStream out(buffer.data(), buffer.size());
  command.transferInit();
  command.write(out, EXS_LittleEndianImplicit, EET_ExplicitLength, nullptr);
  command.transferEnd();
  void* encoded = nullptr;
  offile_off_t length = 0;
  out.flushBuffer(encoded, length);
  return {static_cast<uint8_t*>(encoded), static_cast<uint8_t*>(encoded) + length};
}

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
  const std::vector<uint8_t> commandBytes = storeCommand(sopClass, sopInstance, assoc->nextMsgID++);
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
