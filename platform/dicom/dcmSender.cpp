// The storage client. A transfer runs on a thread of its own: it lists the DICOM files below
// the path (headers only), groups them into associations that fit the presentation-context
// limit, and sends them in name order. Each SOP class is proposed in the uncompressed syntaxes
// and, for files stored otherwise, in their own syntax, so a peer that accepts only
// uncompressed data gets the file decompressed.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/ofstd/ofstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNetwork.h"
#include "dcmParseBound.h"
#include "dcmPixels.h"

namespace redIRI {

namespace {

namespace fs = std::filesystem;

// Presentation context IDs are odd numbers below 256.
const size_t kMaxContexts = 128;

struct Candidate {
  std::string path;
  std::string sopClass;
  std::string sopInstance;
  E_TransferSyntax xfer = EXS_Unknown;
};

// Every regular file below `path` (or `path` itself), in name order. Hidden files and folders
// (temporary files) are left out; symbolic links to folders are not followed.
std::vector<std::string> listFiles(const std::string& path) {
  std::vector<std::string> files;
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) {
    files.push_back(path);
    return files;
  }
  if (!fs::is_directory(path, ec)) return files;
  fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] == '.') {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(ec)) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool readCandidate(const std::string& path, Candidate& out) {
  detail::DicomFile file;
  if (!file.open(path.c_str(), nullptr)) return false;
  out.path = path;
  out.sopClass = file.stringValue(DCM_SOPClassUID);
  out.sopInstance = file.stringValue(DCM_SOPInstanceUID);
  DcmMetaInfo* meta = file.metaInfo();
  OFString value;
  if (out.sopClass.empty() && meta && meta->findAndGetOFString(DCM_MediaStorageSOPClassUID, value).good())
    out.sopClass = value.c_str();
  if (out.sopInstance.empty() && meta && meta->findAndGetOFString(DCM_MediaStorageSOPInstanceUID, value).good())
    out.sopInstance = value.c_str();
  out.xfer = file.transferSyntax();
  return !out.sopClass.empty() && !out.sopInstance.empty() && out.xfer != EXS_Unknown;
}

bool isPlainLittleEndian(E_TransferSyntax xfer) {
  return xfer == EXS_LittleEndianExplicit || xfer == EXS_LittleEndianImplicit;
}

// The contexts one file needs: its SOP class in the uncompressed syntaxes, and in its own
// syntax when that is another.
std::vector<std::pair<std::string, std::string>> contextKeys(const Candidate& c) {
  std::vector<std::pair<std::string, std::string>> keys = {{c.sopClass, ""}};
  if (!isPlainLittleEndian(c.xfer)) keys.emplace_back(c.sopClass, DcmXfer(c.xfer).getXferID());
  return keys;
}

// Files in name order, cut into batches whose contexts fit one association.
std::vector<std::vector<size_t>> makeBatches(const std::vector<Candidate>& files) {
  std::vector<std::vector<size_t>> batches;
  std::set<std::pair<std::string, std::string>> keys;
  for (size_t i = 0; i < files.size(); ++i) {
    size_t added = 0;
    for (const auto& k : contextKeys(files[i])) added += keys.count(k) ? 0 : 1;
    if (batches.empty() || keys.size() + added > kMaxContexts) {
      batches.emplace_back();
      keys.clear();
    }
    for (const auto& k : contextKeys(files[i])) keys.insert(k);
    batches.back().push_back(i);
  }
  return batches;
}

std::vector<detail::ProposedContext> contextsFor(const std::vector<Candidate>& files, const std::vector<size_t>& batch) {
  std::vector<detail::ProposedContext> contexts;
  std::set<std::pair<std::string, std::string>> seen;
  for (size_t i : batch) {
    for (const auto& k : contextKeys(files[i])) {
      if (!seen.insert(k).second) continue;
      detail::ProposedContext context;
      context.abstractSyntax = k.first;
      context.transferSyntaxes = k.second.empty() ? detail::uncompressedSyntaxes() : std::vector<std::string>{k.second};
      contexts.push_back(std::move(context));
    }
  }
  return contexts;
}

enum class SendResult { Stored, Failed, AssociationLost };

}  // namespace

struct dcmSender::Core {
  std::mutex lock;  // guards address, port and thread
  std::string address, port;
  std::thread thread;
  std::mutex joinLock;
  std::atomic<bool> sending{false};
  std::atomic<bool> stopping{false};
  detail::SocketWatch watch;
  detail::MessageGate gate;

  bool send(unsigned int taskId, const std::string& path);
  void stop();
  void shutdown();

 private:
  void transfer(unsigned int taskId, std::string address, std::string port, std::string path);
  SendResult sendOne(detail::ClientAssociation& association, const Candidate& file, std::string& error);
  void finish(unsigned int taskId, int code);
};

bool dcmSender::Core::send(unsigned int taskId, const std::string& path) {
  if (!detail::networkReady()) return false;
  std::lock_guard<std::mutex> guard(lock);
  if (stopping || sending) return false;
  // The previous transfer has delivered its last message; its thread is ending.
  if (thread.joinable()) thread.join();
  sending = true;
  // Joined by the next send, by stop(), and by the library's shutdown hook (rediri_destroy, or
  // the exit handler when the program did not end the library).
  thread = std::thread(&Core::transfer, this, taskId, address, port, path);
  return true;
}

void dcmSender::Core::stop() {
  gate.close();
  stopping = true;
  watch.interrupt();
}

void dcmSender::Core::shutdown() {
  stop();
  std::lock_guard<std::mutex> join(joinLock);
  std::thread ending;
  {
    std::lock_guard<std::mutex> guard(lock);
    ending = std::move(thread);
  }
  if (ending.joinable()) ending.join();
}

void dcmSender::Core::finish(unsigned int taskId, int code) {
  char text[64];
  std::snprintf(text, sizeof(text), "{\"taskID\":\"%u\"}", taskId);
  gate.post(code, text);
  sending = false;
}

SendResult dcmSender::Core::sendOne(detail::ClientAssociation& association, const Candidate& file,
                                    std::string& error) {
  T_ASC_Association* assoc = association.get();
  // Read as the folder walk read it: declared lengths held against the file, and what DCMTK
  // throws on damaged bytes caught (the reason is logged).
  detail::DicomFile source;
  if (!source.open(file.path.c_str(), "DICOM send")) {
    error = "cannot read the file";
    return SendResult::Failed;
  }
  DcmDataset* data = source.dataset();
  const E_TransferSyntax original = data->getOriginalXfer();
  T_ASC_PresentationContextID presId =
      ASC_findAcceptedPresentationContextID(assoc, file.sopClass.c_str(), DcmXfer(original).getXferID());
  if (presId == 0) presId = ASC_findAcceptedPresentationContextID(assoc, file.sopClass.c_str());
  T_ASC_PresentationContext context;
  if (presId == 0 || ASC_findAcceptedPresentationContext(assoc->params, presId, &context).bad()) {
    error = "the peer does not accept the SOP class " + file.sopClass;
    return SendResult::Failed;
  }
  const E_TransferSyntax accepted = DcmXfer(context.acceptedTransferSyntax).getXfer();
  if (accepted != original) {
    // Only lossless conversions: compressed data is decoded to the uncompressed syntax the
    // peer accepted. Frame by frame, as viewing decodes it: DCMTK's own decode of a whole image
    // walks its fragments from the head for every frame, in time that grows with the square of
    // the frames (minutes for a loop of a million).
    // A layout that walk does not decode (32 bits allocated, say) goes to DCMTK's own decode.
    std::string why;
    auto decoded = detail::NativeDecode::NotTaken;
    if (DcmXfer(original).isEncapsulated() && !DcmXfer(accepted).isEncapsulated()) {
      std::string thrown;
      if (!detail::survives([&] { decoded = detail::decodeToNative(data, original, why); }, thrown)) {
        decoded = detail::NativeDecode::Failed;
        why = "it threw " + thrown;
      }
      if (decoded == detail::NativeDecode::Failed) {
        error = "cannot decode the file: " + why;
        return SendResult::Failed;
      }
    }
    if (decoded == detail::NativeDecode::NotTaken) {
      if (!detail::checkCompressedFragments(data, original, error)) return SendResult::Failed;
      std::string thrown;
      if (!detail::survives([&] { data->chooseRepresentation(accepted, nullptr); }, thrown)) {
        error = "cannot decode the file: " + thrown;
        return SendResult::Failed;
      }
    }
    if (!data->canWriteXfer(accepted, original)) {
      error = std::string("cannot convert from ") + DcmXfer(original).getXferName() + " to " +
              DcmXfer(accepted).getXferName();
      return SendResult::Failed;
    }
  }

  T_DIMSE_Message message;
  std::memset(&message, 0, sizeof(message));
  message.CommandField = DIMSE_C_STORE_RQ;
  T_DIMSE_C_StoreRQ& request = message.msg.CStoreRQ;
  request.MessageID = assoc->nextMsgID++;
  OFStandard::strlcpy(request.AffectedSOPClassUID, file.sopClass.c_str(), sizeof(request.AffectedSOPClassUID));
  OFStandard::strlcpy(request.AffectedSOPInstanceUID, file.sopInstance.c_str(), sizeof(request.AffectedSOPInstanceUID));
  request.DataSetType = DIMSE_DATASET_PRESENT;
  request.Priority = DIMSE_PRIORITY_MEDIUM;
  OFCondition cond = DIMSE_sendMessageUsingMemoryData(assoc, presId, &message, nullptr, data, nullptr, nullptr);
  T_DIMSE_Message answer;
  if (cond.good())
    cond = detail::receiveResponse(assoc, detail::kClientDimseTimeout, DIMSE_C_STORE_RSP, request.MessageID, answer);
  if (cond.bad()) {
    error = cond.text();
    return SendResult::AssociationLost;
  }
  const T_DIMSE_C_StoreRSP& response = answer.msg.CStoreRSP;
  // Success, or one of the warnings (0xB000, 0xB006, 0xB007): the peer has the instance.
  if (response.DimseStatus == STATUS_Success || (response.DimseStatus & 0xF000) == 0xB000) return SendResult::Stored;
  char status[48];
  std::snprintf(status, sizeof(status), "the peer answered status 0x%04x", response.DimseStatus);
  error = status;
  return SendResult::Failed;
}

void dcmSender::Core::transfer(unsigned int taskId, std::string address, std::string portText, std::string path) {
  const std::string peer = address + ":" + portText;
  // Every file read and every answer is a parse of its own: their lines are bounded for the transfer.
  detail::LogStream logStream("DICOM send to " + peer);
  std::vector<Candidate> files;
  // DICOM files that cannot be read (truncated, damaged) fail the task; other files are
  // skipped silently (thumbnails).
  size_t unreadable = 0;
  for (const std::string& name : listFiles(path)) {
    if (stopping) break;
    Candidate c;
    if (readCandidate(name, c)) {
      files.push_back(std::move(c));
    } else if (detail::DicomFile::claimsToBeDicom(name.c_str())) {
      ++unreadable;
      detail::logLine("DICOM send to %s: \"%s\" is a DICOM file that cannot be read; it is not sent", peer.c_str(),
                      name.c_str());
    }
  }
  if (stopping) {
    sending = false;
    return;
  }
  int port = 0;
  if (files.empty()) {
    detail::logLine("DICOM send to %s failed: no readable DICOM file in \"%s\"", peer.c_str(), path.c_str());
    finish(taskId, 2);
    return;
  }
  if (!detail::isIPv4Address(address) || !detail::parsePort(portText, port)) {
    detail::logLine("DICOM send to \"%s\" failed: not an IPv4 address and port", peer.c_str());
    finish(taskId, 2);
    return;
  }

  bool allStored = true;
  size_t handled = 0;
  for (const std::vector<size_t>& batch : makeBatches(files)) {
    detail::ClientAssociation association(watch);
    std::string error;
    if (stopping) break;
    if (!association.open(address, port, detail::kAnyCalledAETitle, contextsFor(files, batch), error)) {
      if (stopping) break;
      detail::logLine("DICOM send to %s failed: %s", peer.c_str(), error.c_str());
      finish(taskId, 2);
      return;
    }
    for (size_t i : batch) {
      if (stopping) break;
      const SendResult result = sendOne(association, files[i], error);
      if (stopping) break;
      if (result == SendResult::AssociationLost) {
        detail::logLine("DICOM send of \"%s\" to %s failed, association lost: %s", files[i].path.c_str(), peer.c_str(),
                        error.c_str());
        association.abort();
        finish(taskId, 2);
        return;
      }
      if (result == SendResult::Failed) {
        allStored = false;
        detail::logLine("DICOM send of \"%s\" to %s failed: %s", files[i].path.c_str(), peer.c_str(), error.c_str());
      }
      ++handled;
      char text[96];
      std::snprintf(text, sizeof(text), "{\"taskID\":\"%u\",\"value\":\"%.6f\"}", taskId,
                    100.0 * static_cast<double>(handled) / static_cast<double>(files.size()));
      gate.post(0, text);
    }
    if (stopping) {
      association.abort();
      break;
    }
    association.release();
  }
  if (stopping) {
    sending = false;
    return;
  }
  finish(taskId, allStored && unreadable == 0 ? 1 : 2);
}

dcmSender::dcmSender() : m_core(std::make_shared<Core>()) { m_hook = detail::hookShutdown(m_core); }

dcmSender::~dcmSender() {
  detail::removeShutdownHook(m_hook);
  m_core->shutdown();
}

void dcmSender::setIP(const char* address, const char* port) {
  std::lock_guard<std::mutex> guard(m_core->lock);
  m_core->address = detail::trimmed(detail::textOf(address));
  m_core->port = detail::trimmed(detail::textOf(port));
}

bool dcmSender::send(unsigned int taskId, const char* path) { return m_core->send(taskId, detail::textOf(path)); }

bool dcmSender::isSending() const { return m_core->sending; }

void dcmSender::stop() { m_core->stop(); }

}  // namespace redIRI
