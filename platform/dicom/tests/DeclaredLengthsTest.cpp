// Commands and data sets whose elements declare far more bytes than the peer sends, or whose
// sequences nest past the bound DCMTK's recursion can take (retrieval and query answers), over real
// associations on 127.0.0.1 with a crafted peer: the storage server and the retrieval's receiving
// side refuse them with a log line, store and announce nothing, and go on working for sound
// images; the answers the sender, the echo and the find wait for fail their request with a log
// line, and the same objects go on working with sound peers. Nothing reserves what is merely
// declared.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/ofstd/ofstd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dcmLib.h"
#include "dcmNetwork.h"
#include "support/AllocationWatch.h"
#include "support/DeepShapes.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"
#include "support/RawStore.h"
#include "support/ServerFixture.h"
#include "support/AcceptorNetwork.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

// Far below any declared length used here, far above what a small data set needs.
const size_t kAllowedAllocation = size_t(64) << 20;

// Elements in one of the uncompressed encodings, with lengths as declared by the caller.
struct Encoder {
  bool implicit = false;
  bool bigEndian = false;
  std::vector<uint8_t> bytes;

  void u16(uint16_t v) {
    if (bigEndian)
      bytes.insert(bytes.end(), {uint8_t(v >> 8), uint8_t(v)});
    else
      bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)});
  }
  void u32(uint32_t v) {
    if (bigEndian) {
      u16(uint16_t(v >> 16));
      u16(uint16_t(v));
    } else {
      u16(uint16_t(v));
      u16(uint16_t(v >> 16));
    }
  }
  // `declared` 0: the value's own length. Items and delimiters take only a length.
  Encoder& element(uint16_t group, uint16_t elem, const char* vr, const std::string& value, uint32_t declared = 0) {
    const uint32_t length = declared ? declared : uint32_t(value.size());
    u16(group);
    u16(elem);
    if (group == 0xFFFE || implicit) {
      u32(length);
    } else {
      bytes.insert(bytes.end(), vr, vr + 2);
      if (std::string("OB OW OF SQ UN UT").find(vr) != std::string::npos) {
        u16(0);
        u32(length);
      } else {
        u16(uint16_t(length));
      }
    }
    bytes.insert(bytes.end(), value.begin(), value.end());
    return *this;
  }
};

std::string uidValue(const std::string& uid) { return uid.size() % 2 ? uid + '\0' : uid; }

// The identifying elements every crafted data set starts with.
Encoder header(bool implicit, bool bigEndian, const std::string& sopClass, const std::string& sopInstance) {
  Encoder e;
  e.implicit = implicit;
  e.bigEndian = bigEndian;
  e.element(0x0008, 0x0016, "UI", uidValue(sopClass))
      .element(0x0008, 0x0018, "UI", uidValue(sopInstance))
      .element(0x0010, 0x0010, "PN", "CRAFTED^PEER")
      .element(0x0020, 0x000D, "UI", uidValue("2.25.1077.1"))
      .element(0x0020, 0x000E, "UI", uidValue("2.25.1077.2"));
  return e;
}

struct Crafted {
  const char* what;
  const char* syntax;
  std::vector<uint8_t> dataSet;
  const char* logged = "declares a length";  // in the refusal's log line
};

// Hostile data sets of one instance, each in the syntax it is encoded in.
std::vector<Crafted> craftedDataSets(const std::string& sopClass, const std::string& sopInstance) {
  std::vector<Crafted> cases;
  {
    Encoder e = header(false, false, sopClass, sopInstance);
    e.element(0x7FE0, 0x0010, "OB", std::string(16, '\0'), 0xFFFFFFF0u);
    cases.push_back({"pixel data, explicit little endian", UID_LittleEndianExplicitTransferSyntax, e.bytes});
    cases.push_back({"pixel data, deflated", UID_DeflatedExplicitVRLittleEndianTransferSyntax, deflated(e.bytes)});
  }
  {
    Encoder e = header(true, false, sopClass, sopInstance);
    e.element(0x7FE0, 0x0010, "", std::string(16, '\0'), 0xFFFFFFF0u);
    cases.push_back({"pixel data, implicit little endian", UID_LittleEndianImplicitTransferSyntax, e.bytes});
  }
  {
    Encoder e = header(false, true, sopClass, sopInstance);
    e.element(0x7FE0, 0x0010, "OW", std::string(16, '\0'), 0xFFFFFFF0u);
    cases.push_back({"pixel data, big endian", UID_BigEndianExplicitTransferSyntax, e.bytes});
  }
  {
    Encoder e = header(false, false, sopClass, sopInstance);
    e.element(0x0040, 0x0275, "SQ", "", 0xFFFFFFFFu)
        .element(0xFFFE, 0xE000, "", "", 0xFFFFFFFFu)
        .element(0x0040, 0x0007, "UT", "xy", 0xFFFFFF00u);
    cases.push_back({"text in a sequence item, explicit", UID_LittleEndianExplicitTransferSyntax, e.bytes});
  }
  {
    Encoder e = header(true, false, sopClass, sopInstance);
    e.element(0x0008, 0x1140, "", "", 0xFFFFFFFFu)
        .element(0xFFFE, 0xE000, "", "", 0xFFFFFFFFu)
        .element(0x0008, 0x1155, "", uidValue("1.2"), 0xFFFFFF00u);
    cases.push_back({"UID in a sequence item, implicit", UID_LittleEndianImplicitTransferSyntax, e.bytes});
  }
  // Sequences nested past the walk's bound, never closed: DCMTK would recurse until the stack ends.
  for (const bool implicit : {false, true}) {
    Encoder e = header(implicit, false, sopClass, sopInstance);
    for (int level = 0; level < 2000; ++level)
      e.element(0x0040, 0xA730, "SQ", "", 0xFFFFFFFFu).element(0xFFFE, 0xE000, "", "", 0xFFFFFFFFu);
    cases.push_back({implicit ? "nested sequences, implicit" : "nested sequences, explicit",
                     implicit ? UID_LittleEndianImplicitTransferSyntax : UID_LittleEndianExplicitTransferSyntax, e.bytes,
                     "nests sequences deeper"});
  }
  // A value of defined length that opens with a sequence delimiter (as UN in explicit VR): DCMTK
  // ends the sequence there and reads the rest of the value as 10,000 nested sequences.
  for (const bool implicit : {false, true}) {
    Encoder e = header(implicit, false, sopClass, sopInstance);
    const std::vector<uint8_t> deep = delimiterThenNesting(10000, !implicit);
    e.bytes.insert(e.bytes.end(), deep.begin(), deep.end());
    cases.push_back({implicit ? "a delimiter opening a value, implicit" : "a delimiter opening a UN value, explicit",
                     implicit ? UID_LittleEndianImplicitTransferSyntax : UID_LittleEndianExplicitTransferSyntax, e.bytes,
                     "of defined length that opens with a delimiter"});
  }
  // A value of odd length that opens with an item: DCMTK reads it as bytes, where the walk would
  // enter it as a sequence and go on at another byte (DCMTK read an element declaring 3.7 GB
  // there; found by fuzzing).
  {
    Encoder e = header(true, false, sopClass, sopInstance);
    const uint8_t parted[] = {0x08, 0x00, 0x30, 0xA7, 0x13, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF,
                              0xFF, 0xFF, 0x40, 0x00, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0x0D, 0xE0,
                              0x00, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xDD, 0xE0, 0x00, 0x00, 0x00, 0x00};
    e.bytes.insert(e.bytes.end(), std::begin(parted), std::end(parted));
    cases.push_back({"an odd-length value opening with an item, implicit", UID_LittleEndianImplicitTransferSyntax,
                     e.bytes, "of odd length that opens with an item"});
  }
  return cases;
}

// An association to the server on 127.0.0.1 proposing one SOP class in one syntax.
struct CraftedClient {
  redIRI::detail::SocketWatch watch;
  redIRI::detail::ClientAssociation client{watch};
  T_ASC_PresentationContextID presId = 0;

  bool open(int port, const std::string& sopClass, const char* syntax) {
    presId = openStoreAssociation(client, port, sopClass, syntax);
    return presId != 0;
  }
  T_ASC_Association* get() const { return client.get(); }
};

bool waitLogged(const CallbackCapture& log, const std::string& fragment, int timeoutMs) {
  const long long end = nowMs() + timeoutMs;
  while (!log.logged(fragment) && nowMs() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return log.logged(fragment);
}

// A peer on 127.0.0.1 that takes one association and serves it with `serve`, on its own thread.
// With refuseQueries, associations for queries alone (a retrieval asks what a series holds first)
// are rejected, as archives that answer no queries do, and the peer waits on.
class OneAssociationPeer {
 public:
  explicit OneAssociationPeer(std::function<void(T_ASC_Association*)> serve, bool refuseQueries = false)
      : m_serve(std::move(serve)), m_refuseQueries(refuseQueries) {
    m_net = listenOnFreePort(m_port);
    if (m_net) m_thread = std::thread([this] { run(); });
  }
  ~OneAssociationPeer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_net) ASC_dropNetwork(&m_net);
  }
  int port() const { return m_port; }
  bool ready() const { return m_net != nullptr; }

 private:
  void run() {
    while (!m_stop) {
      T_ASC_Association* assoc = nullptr;
      if (ASC_receiveAssociation(m_net, &assoc, ASC_DEFAULTMAXPDU, nullptr, nullptr, OFFalse, DUL_NOBLOCK, 1).good()) {
        if (m_refuseQueries && onlyQueries(assoc)) {
          T_ASC_RejectParameters reject = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
                                           ASC_REASON_SU_NOREASON};
          ASC_rejectAssociation(assoc, &reject);
        } else {
          m_serve(assoc);
          m_stop = true;
        }
      }
      if (assoc) {
        ASC_dropSCPAssociation(assoc);
        ASC_destroyAssociation(&assoc);
      }
    }
  }

  static bool onlyQueries(T_ASC_Association* assoc) {
    for (int i = 0; i < ASC_countPresentationContexts(assoc->params); ++i) {
      T_ASC_PresentationContext pc;
      if (ASC_getPresentationContext(assoc->params, i, &pc).good() &&
          std::strcmp(pc.abstractSyntax, UID_FINDStudyRootQueryRetrieveInformationModel) != 0)
        return false;
    }
    return true;
  }

  std::function<void(T_ASC_Association*)> m_serve;
  bool m_refuseQueries;
  int m_port = 0;
  T_ASC_Network* m_net = nullptr;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Waits for the requester to release (acknowledged) or abort the association.
void awaitEnd(T_ASC_Association* assoc) {
  T_DIMSE_Message message;
  std::memset(&message, 0, sizeof(message));
  T_ASC_PresentationContextID id = 0;
  if (DIMSE_receiveCommand(assoc, DIMSE_BLOCKING, 10, &id, &message, nullptr) == DUL_PEERREQUESTEDRELEASE)
    ASC_acknowledgeRelease(assoc);
}

// A C-GET peer that answers a retrieval with one crafted C-STORE sub-operation, then a final
// response counting it as failed. One association, served on its own thread.
class CraftedRetrievePeer {
 public:
  CraftedRetrievePeer(const Crafted& crafted, std::string sopClass, std::string sopInstance)
      : m_crafted(crafted), m_sopClass(std::move(sopClass)), m_sopInstance(std::move(sopInstance)) {}
  int port() const { return m_peer.port(); }
  bool ready() const { return m_peer.ready(); }
  // What the retriever answered to the crafted sub-operation ("" before it was sent).
  std::string outcome() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_outcome;
  }

 private:
  void serve(T_ASC_Association* assoc) {
    T_ASC_PresentationContextID storeId = 0;
    for (int i = 0; i < ASC_countPresentationContexts(assoc->params); ++i) {
      T_ASC_PresentationContext pc;
      if (ASC_getPresentationContext(assoc->params, i, &pc).bad()) continue;
      const bool ours = m_sopClass == pc.abstractSyntax;
      const char* wanted = ours ? m_crafted.syntax : UID_LittleEndianImplicitTransferSyntax;
      for (int k = 0; k < pc.transferSyntaxCount; ++k) {
        if (std::strcmp(pc.proposedTransferSyntaxes[k], wanted) != 0) continue;
        if (ASC_acceptPresentationContext(assoc->params, pc.presentationContextID, wanted, pc.proposedRole).good() &&
            ours && storeId == 0)
          storeId = pc.presentationContextID;
        break;
      }
    }
    if (ASC_acknowledgeAssociation(assoc).bad()) return;
    T_ASC_PresentationContextID getId = 0;
    T_DIMSE_Message message;
    std::memset(&message, 0, sizeof(message));
    if (DIMSE_receiveCommand(assoc, DIMSE_BLOCKING, 0, &getId, &message, nullptr).bad() ||
        message.CommandField != DIMSE_C_GET_RQ)
      return;
    const T_DIMSE_C_GetRQ request = message.msg.CGetRQ;
    DcmDataset* identifiers = nullptr;
    T_ASC_PresentationContextID dataId = getId;
    if (DIMSE_receiveDataSetInMemory(assoc, DIMSE_BLOCKING, 0, &dataId, &identifiers, nullptr, nullptr).bad()) return;
    delete identifiers;

    const std::string outcome = storeId == 0 ? "no context accepted for the crafted syntax"
                                             : sendRawStore(assoc, storeId, m_sopClass, m_sopInstance,
                                                                m_crafted.dataSet, true);
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_outcome = outcome;
    }
    if (outcome.rfind("ended", 0) == 0) return;
    T_DIMSE_C_GetRSP response;
    std::memset(&response, 0, sizeof(response));
    response.MessageIDBeingRespondedTo = request.MessageID;
    OFStandard::strlcpy(response.AffectedSOPClassUID, request.AffectedSOPClassUID, sizeof(response.AffectedSOPClassUID));
    response.DataSetType = DIMSE_DATASET_NULL;
    response.opts = O_GET_AFFECTEDSOPCLASSUID | O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS |
                    O_GET_NUMBEROFFAILEDSUBOPERATIONS | O_GET_NUMBEROFWARNINGSUBOPERATIONS;
    response.NumberOfFailedSubOperations = 1;
    response.DimseStatus = STATUS_GET_Failed_UnableToProcess;
    if (DIMSE_sendGetResponse(assoc, getId, &request, &response, nullptr, nullptr).bad()) return;
    awaitEnd(assoc);
  }

  Crafted m_crafted;
  std::string m_sopClass, m_sopInstance;
  mutable std::mutex m_lock;
  std::string m_outcome;
  OneAssociationPeer m_peer{[this](T_ASC_Association* assoc) { serve(assoc); }, true};  // last: ends first
};


// A peer that accepts every proposed context (in `syntax` where offered, else in the first
// syntax proposed), takes one request and answers it with a crafted response: `command` (given
// the request's message ID) and, when not empty, `dataSet`.
struct CraftedAnswer {
  std::function<std::vector<uint8_t>(uint16_t messageId)> command;
  std::vector<uint8_t> dataSet;
  const char* syntax = UID_LittleEndianExplicitTransferSyntax;
  bool refuseQueries = false;  // as OneAssociationPeer's
};

class CraftedAnswerPeer {
 public:
  explicit CraftedAnswerPeer(CraftedAnswer answer) : m_answer(std::move(answer)) {}
  int port() const { return m_peer.port(); }
  bool ready() const { return m_peer.ready(); }

 private:
  void serve(T_ASC_Association* assoc) {
    for (int i = 0; i < ASC_countPresentationContexts(assoc->params); ++i) {
      T_ASC_PresentationContext pc;
      if (ASC_getPresentationContext(assoc->params, i, &pc).bad() || pc.transferSyntaxCount == 0) continue;
      const char* syntax = pc.proposedTransferSyntaxes[0];
      for (int k = 0; k < pc.transferSyntaxCount; ++k)
        if (std::strcmp(pc.proposedTransferSyntaxes[k], m_answer.syntax) == 0) syntax = m_answer.syntax;
      ASC_acceptPresentationContext(assoc->params, pc.presentationContextID, syntax, pc.proposedRole);
    }
    if (ASC_acknowledgeAssociation(assoc).bad()) return;
    T_ASC_PresentationContextID presId = 0;
    T_DIMSE_Message request;
    std::memset(&request, 0, sizeof(request));
    if (DIMSE_receiveCommand(assoc, DIMSE_BLOCKING, 0, &presId, &request, nullptr).bad()) return;
    uint16_t messageId = 0;
    bool dataSet = false;
    switch (request.CommandField) {
      case DIMSE_C_ECHO_RQ:
        messageId = request.msg.CEchoRQ.MessageID;
        break;
      case DIMSE_C_STORE_RQ:
        messageId = request.msg.CStoreRQ.MessageID;
        dataSet = true;
        break;
      case DIMSE_C_FIND_RQ:
        messageId = request.msg.CFindRQ.MessageID;
        dataSet = true;
        break;
      case DIMSE_C_GET_RQ:
        messageId = request.msg.CGetRQ.MessageID;
        dataSet = true;
        break;
      default:
        return;
    }
    if (dataSet) {
      DcmDataset* received = nullptr;
      T_ASC_PresentationContextID dataId = presId;
      if (DIMSE_receiveDataSetInMemory(assoc, DIMSE_BLOCKING, 0, &dataId, &received, nullptr, nullptr).bad()) return;
      delete received;
    }
    if (!writeRawPdv(assoc, presId, true, m_answer.command(messageId))) return;
    if (!m_answer.dataSet.empty() && !writeRawPdv(assoc, presId, false, m_answer.dataSet)) return;
    awaitEnd(assoc);
  }

  CraftedAnswer m_answer;
  OneAssociationPeer m_peer{[this](T_ASC_Association* assoc) { serve(assoc); }, m_answer.refuseQueries};  // last: ends first
};

std::string us(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }

// A response command (implicit VR little endian, as commands are). `errorComment` declared
// other than 0: an Error Comment that declares that length and holds two bytes.
std::vector<uint8_t> responseCommand(const char* sopClass, uint16_t field, uint16_t messageId, bool dataSet,
                                     uint16_t status, uint32_t errorComment = 0) {
  Encoder e;
  e.implicit = true;
  e.element(0x0000, 0x0002, "", uidValue(sopClass))
      .element(0x0000, 0x0100, "", us(field))
      .element(0x0000, 0x0120, "", us(messageId))
      .element(0x0000, 0x0800, "", us(dataSet ? 0x0000 : 0x0101))
      .element(0x0000, 0x0900, "", us(status));
  if (errorComment) e.element(0x0000, 0x0902, "", "xy", errorComment);
  return e.bytes;
}

// A final response command (no data set) holding an element whose value opens with a sequence
// delimiter and goes on with 10,000 nested sequences.
std::vector<uint8_t> deepCommand(const char* sopClass, uint16_t field, uint16_t messageId) {
  std::vector<uint8_t> bytes = responseCommand(sopClass, field, messageId, false, 0x0000);
  const std::vector<uint8_t> deep = delimiterThenNesting(10000, false);
  bytes.insert(bytes.end(), deep.begin(), deep.end());
  return bytes;
}

const uint32_t kHugeLength = 0xFFFFFFF0u;
}  // namespace

TEST(DeclaredLengths, TheStorageServerRefusesWhatIsOnlyDeclared) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  MessageCapture messages;
  CallbackCapture log;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  const std::string sopClass = UID_CTImageStorage;
  const std::string sopInstance = newTestUid();
  for (const Crafted& c : craftedDataSets(sopClass, sopInstance)) {
    SCOPED_TRACE(c.what);
    log.clear();
    CraftedClient client;
    ASSERT_TRUE(client.open(f.port, sopClass, c.syntax));
    AllocationWatch allocations;
    const std::string outcome = sendRawStore(client.get(), client.presId, sopClass, sopInstance, c.dataSet, true);
    allocations.stop();
    EXPECT_NE(outcome, "0x0000");
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once; the peer got " << outcome;
    EXPECT_TRUE(log.logged(c.logged)) << outcome << "\n" << ::testing::PrintToString(log.logLines());
    client.client.abort();
  }

  // A data set that stops coming after a huge declaration: nothing is reserved while waiting.
  {
    log.clear();
    CraftedClient client;
    ASSERT_TRUE(client.open(f.port, sopClass, UID_LittleEndianExplicitTransferSyntax));
    Encoder e = header(false, false, sopClass, sopInstance);
    e.element(0x7FE0, 0x0010, "OB", std::string(16, '\0'), 0xFFFFFFF0u);
    AllocationWatch allocations;
    EXPECT_EQ(sendRawStore(client.get(), client.presId, sopClass, sopInstance, e.bytes, false), "sent");
    // The server reads what was sent before it sees the abort.
    client.client.abort();
    EXPECT_TRUE(waitLogged(log, "aborted", 10000)) << "the server noticed the abort";
    allocations.stop();
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once";
  }

  // A command that declares more than it holds; an echo whose command nests 10,000 sequences
  // past a delimiter.
  std::vector<std::pair<std::vector<uint8_t>, const char*>> commands;
  {
    Encoder command;
    command.implicit = true;
    command.element(0x0000, 0x0002, "", uidValue(sopClass))
        .element(0x0000, 0x0100, "", std::string("\x01\x00", 2))
        .element(0x0000, 0x0110, "", std::string("\x07\x00", 2))
        .element(0x0000, 0x0800, "", std::string("\x01\x01", 2))
        .element(0x0000, 0x1000, "", uidValue("1.2"), 0xFFFFFFF0u);
    commands.push_back({command.bytes, "declares a length"});
    commands.push_back({deepCommand(UID_VerificationSOPClass, DIMSE_C_ECHO_RQ, 7),
                        "the command holds a value (0040,a730) of defined length that opens with a delimiter"});
  }
  for (const auto& [bytes, logged] : commands) {
    SCOPED_TRACE(logged);
    log.clear();
    CraftedClient client;
    ASSERT_TRUE(client.open(f.port, sopClass, UID_LittleEndianExplicitTransferSyntax));
    AllocationWatch allocations;
    ASSERT_TRUE(writeRawPdv(client.get(), client.presId, true, bytes));
    T_DIMSE_Message response;
    std::memset(&response, 0, sizeof(response));
    T_ASC_PresentationContextID id = 0;
    const OFCondition cond = DIMSE_receiveCommand(client.get(), DIMSE_NONBLOCKING, 20, &id, &response, nullptr);
    allocations.stop();
    EXPECT_TRUE(cond.bad()) << "the association ends";
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once";
    EXPECT_TRUE(waitLogged(log, logged, 10000)) << ::testing::PrintToString(log.logLines());
  }

  EXPECT_EQ(filesBelow(f.root), 0u);
  EXPECT_TRUE(messages.withCode(3).empty());

  // The server goes on storing sound images.
  const std::vector<std::string> files = writeSeries(f.dir.file("sound"), SeriesSpec(), 1);
  std::vector<std::string> argv = {"storescu", "-aec", "ANY-SCP", "127.0.0.1", std::to_string(f.port), files[0]};
  Peer tool(argv, f.dir.file("storescu.log"));
  EXPECT_EQ(tool.wait(20000), 0) << tool.log();
  EXPECT_TRUE(messages.waitForCount(3, 1, 10000));
  EXPECT_EQ(filesBelow(f.root), 1u);
  f.server.StopDicomServer();
}

TEST(DeclaredLengths, TheRetrievalRefusesWhatIsOnlyDeclared) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  TempDir dir;
  const std::string downloads = dir.file("tmp/dicomdown/");
  fs::create_directories(downloads);
  const std::string sopClass = UID_CTImageStorage;
  const std::string sopInstance = newTestUid();
  for (const Crafted& c : craftedDataSets(sopClass, sopInstance)) {
    // The retrieval proposes no deflated or big endian contexts.
    if (std::strcmp(c.syntax, UID_LittleEndianExplicitTransferSyntax) != 0 &&
        std::strcmp(c.syntax, UID_LittleEndianImplicitTransferSyntax) != 0)
      continue;
    SCOPED_TRACE(c.what);
    CallbackCapture log;
    CraftedRetrievePeer peer(c, sopClass, sopInstance);
    ASSERT_TRUE(peer.ready());
    MessageCapture messages;
    redIRI::dcmGet get;
    const std::string port = std::to_string(peer.port());
    AllocationWatch allocations;
    get.getSeriesByUID("127.0.0.1", port.c_str(), "", "", "2.25.1077.1", "2.25.1077.2",
                       downloads.c_str(), "CRAFTED^PEER", "1", "CT");
    ASSERT_TRUE(messages.waitFor(
        [](const std::vector<Message>& all) {
          return !all.empty() && (all.back().code == 10 || all.back().code == 11);
        },
        20000));
    allocations.stop();
    EXPECT_EQ(messages.messages().back().code, 11);
    EXPECT_TRUE(messages.withCode(8).empty()) << "nothing was stored";
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once; the peer got " << peer.outcome();
    EXPECT_TRUE(log.logged(c.logged)) << peer.outcome();
    EXPECT_EQ(filesBelow(downloads), 0u);
  }
  // A final answer whose command nests 10,000 sequences past a delimiter.
  {
    CallbackCapture log;
    CraftedAnswerPeer peer({[](uint16_t id) {
                              return deepCommand(UID_GETStudyRootQueryRetrieveInformationModel, DIMSE_C_GET_RSP, id);
                            },
                            {},
                            UID_LittleEndianExplicitTransferSyntax,
                            true});
    ASSERT_TRUE(peer.ready());
    MessageCapture messages;
    redIRI::dcmGet get;
    const std::string port = std::to_string(peer.port());
    get.getSeriesByUID("127.0.0.1", port.c_str(), "", "", "2.25.1077.1", "2.25.1077.2", downloads.c_str(),
                       "CRAFTED^PEER", "1", "CT");
    ASSERT_TRUE(messages.waitFor(
        [](const std::vector<Message>& all) {
          return !all.empty() && (all.back().code == 10 || all.back().code == 11);
        },
        20000));
    EXPECT_EQ(messages.messages().back().code, 11);
    EXPECT_TRUE(log.logged("the command holds a value (0040,a730) of defined length that opens with a delimiter"))
        << ::testing::PrintToString(log.logLines());
  }
}

// The answers a requester waits for: sound commands carrying a crafted data set (a find's
// matches), and commands that declare more than they hold.
TEST(DeclaredLengths, AQueryFailsOnAnswersThatOnlyDeclare) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  const char* model = UID_FINDStudyRootQueryRetrieveInformationModel;
  std::vector<std::tuple<std::string, CraftedAnswer, std::string>> answers;
  for (const Crafted& c : craftedDataSets(UID_CTImageStorage, newTestUid())) {
    // The query proposes the little endian syntaxes only.
    if (std::strcmp(c.syntax, UID_LittleEndianExplicitTransferSyntax) != 0 &&
        std::strcmp(c.syntax, UID_LittleEndianImplicitTransferSyntax) != 0)
      continue;
    answers.push_back({c.what,
                       {[model](uint16_t id) { return responseCommand(model, DIMSE_C_FIND_RSP, id, true, 0xFF00); },
                        c.dataSet, c.syntax},
                       c.logged});
  }
  answers.push_back(
      {"the command",
       {[model](uint16_t id) { return responseCommand(model, DIMSE_C_FIND_RSP, id, false, 0x0000, kHugeLength); }, {}},
       "declares a length"});
  answers.push_back({"the command, nesting past a delimiter",
                     {[model](uint16_t id) { return deepCommand(model, DIMSE_C_FIND_RSP, id); }, {}},
                     "the command holds a value (0040,a730) of defined length that opens with a delimiter"});
  MessageCapture messages;
  redIRI::dcmFind find;
  for (const auto& [what, answer, logged] : answers) {
    SCOPED_TRACE(what);
    CallbackCapture log;
    messages.clear();
    CraftedAnswerPeer peer(answer);
    ASSERT_TRUE(peer.ready());
    const std::string port = std::to_string(peer.port());
    AllocationWatch allocations;
    find.findPatientByName("127.0.0.1", port.c_str(), "", "", "*PEER*");
    EXPECT_TRUE(messages.waitForCount(6, 1, 20000)) << "the query fails";
    allocations.stop();
    EXPECT_TRUE(messages.withCode(5).empty()) << "no match is announced";
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once";
    EXPECT_TRUE(log.logged(logged)) << ::testing::PrintToString(log.logLines());
  }

  // The same object still queries a sound archive.
  TempDir dir;
  ArchivePeer archive(dir, writeSeries(dir.file("data"), SeriesSpec(), 1));
  ASSERT_TRUE(archive.ready());
  messages.clear();
  const std::string port = std::to_string(archive.port());
  find.findPatientByName("127.0.0.1", port.c_str(), "", "", "*DOE*");
  EXPECT_TRUE(messages.waitForCount(5, 1, 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(messages.withCode(6).empty());
}

TEST(DeclaredLengths, AnEchoFailsOnAnAnswerThatOnlyDeclares) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  MessageCapture messages;
  CallbackCapture log;
  redIRI::dcmEcho echo;
  auto verify = [&](int port) {
    std::string entry = "Node,127.0.0.1," + std::to_string(port);
    char* entries[] = {&entry[0]};
    echo.echo(entries, 1, false);
  };
  const std::pair<std::function<std::vector<uint8_t>(uint16_t)>, const char*> answers[] = {
      {[](uint16_t id) {
         return responseCommand(UID_VerificationSOPClass, DIMSE_C_ECHO_RSP, id, false, 0x0000, kHugeLength);
       },
       "declares a length"},
      {[](uint16_t id) { return deepCommand(UID_VerificationSOPClass, DIMSE_C_ECHO_RSP, id); },
       "the command holds a value (0040,a730) of defined length that opens with a delimiter"},
  };
  for (const auto& [answer, logged] : answers) {
    SCOPED_TRACE(logged);
    log.clear();
    messages.clear();
    CraftedAnswerPeer peer({answer, {}});
    ASSERT_TRUE(peer.ready());
    AllocationWatch allocations;
    verify(peer.port());
    ASSERT_TRUE(messages.waitForCount(4, 1, 20000));
    allocations.stop();
    EXPECT_EQ(jsonField(messages.withCode(4)[0].text, "ok"), "0") << "the echo fails";
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once";
    EXPECT_TRUE(log.logged(logged)) << ::testing::PrintToString(log.logLines());
  }

  // The same object still verifies a sound peer.
  TempDir dir;
  StorePeer live(dir);
  ASSERT_TRUE(live.ready());
  messages.clear();
  verify(live.port());
  ASSERT_TRUE(messages.waitForCount(4, 1, 20000));
  EXPECT_EQ(jsonField(messages.withCode(4)[0].text, "ok"), "1");
}

TEST(DeclaredLengths, ASendFailsOnAnAnswerThatOnlyDeclares) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  TempDir dir;
  const std::vector<std::string> files = writeSeries(dir.file("series"), SeriesSpec(), 1);
  MessageCapture messages;
  CallbackCapture log;
  redIRI::dcmSender sender;
  {
    CraftedAnswerPeer peer({[](uint16_t id) {
                              return responseCommand(UID_CTImageStorage, DIMSE_C_STORE_RSP, id, false, 0x0000,
                                                     kHugeLength);
                            },
                            {}});
    ASSERT_TRUE(peer.ready());
    sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
    AllocationWatch allocations;
    ASSERT_TRUE(sender.send(21, files[0].c_str()));
    ASSERT_TRUE(messages.waitFor(
        [](const std::vector<Message>& all) {
          return !all.empty() && (all.back().code == 1 || all.back().code == 2);
        },
        20000));
    allocations.stop();
    EXPECT_EQ(messages.messages().back().code, 2) << "the transfer fails";
    EXPECT_TRUE(messages.withCode(1).empty());
    EXPECT_LT(allocations.largest(), kAllowedAllocation) << "bytes reserved at once";
    EXPECT_TRUE(log.logged("declares a length")) << ::testing::PrintToString(log.logLines());
  }

  // The same object still sends to a sound peer.
  StorePeer store(dir);
  ASSERT_TRUE(store.ready());
  while (sender.isSending()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  messages.clear();
  sender.setIP("127.0.0.1", std::to_string(store.port()).c_str());
  ASSERT_TRUE(sender.send(22, files[0].c_str()));
  ASSERT_TRUE(messages.waitForCount(1, 1, 20000));
  EXPECT_EQ(store.files().size(), 1u);
}
