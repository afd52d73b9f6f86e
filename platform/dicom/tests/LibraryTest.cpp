// The library as a whole: header reads leave pixel data on disk, readers on separate threads
// give identical results, the message plumbing keeps its ownership rule, and shutdown.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNetwork.h"
#include "dcmParseBound.h"
#include "support/AllocationWatch.h"
#include "support/DeepShapes.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"
#include "support/RawStore.h"
#include "support/ServerFixture.h"

using namespace qvtest;

TEST(Library, HeaderReadsLeavePixelDataOnDisk) {
  TempDir dir;
  ImageSpec big = greySpec(512, 512, 4);
  big.strings = {{DCM_PatientName, "Doe^Jane"}};
  writeImage(dir.file("big.dcm"), big);

  ASSERT_TRUE(redIRI::detail::libraryReady());
  redIRI::detail::DicomFile file;
  ASSERT_TRUE(file.open(dir.file("big.dcm").c_str(), "test"));
  DcmElement* pixels = file.find(0x7FE0, 0x0010);
  ASSERT_NE(pixels, nullptr);
  EXPECT_FALSE(pixels->valueLoaded()) << "2 MB of pixels must not be read with the header";
  EXPECT_EQ(file.valueText(file.find(0x0010, 0x0010)), "Doe^Jane");

  // The scan's questions are answered without loading them either.
  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(dir.file("big.dcm").c_str()));
  redIRI::dcmReader::PixelType type;
  EXPECT_TRUE(reader.readDicomPixelType(type));
  EXPECT_EQ(type, redIRI::dcmReader::PIXEL_GREY16);
  int count = 0;
  const char* p = reader.readDicomPixelPointer(type, count);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(count, 512 * 512 * 4);
  EXPECT_EQ(std::memcmp(p, big.pixels.data(), big.pixels.size()), 0);
  // A second call gives the same buffer; a new file discards it.
  EXPECT_EQ(reader.readDicomPixelPointer(type, count), p);
  EXPECT_FALSE(reader.setFile(dir.file("absent.dcm").c_str()));
  EXPECT_EQ(reader.readDicomPixelPointer(type, count), nullptr);
}

TEST(Library, DcmtksOwnParseIsBounded) {
  // Refused inside DCMTK's own parse, from memory and from a file, within a scope or not; a DCMTK
  // whose members cannot be taken over (built with -Bsymbolic, link-time optimised) fails here.
  using namespace redIRI::detail;
  ASSERT_TRUE(libraryReady());
  EXPECT_TRUE(parseBoundLive());
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    E_TransferSyntax xfer;
    uint64_t nodeLimit;  // 0: no scope
    unsigned short refusal;
  };
  const Case cases[] = {
      {"200 levels", nestedSequences(200, true), EXS_LittleEndianExplicit, 0, kNestedTooDeep},
      {"200 levels in a scope", nestedSequences(200, false), EXS_LittleEndianImplicit, kMaxParseNodes, kNestedTooDeep},
      {"a delimiter, then 200 levels", delimiterThenNesting(200, false), EXS_LittleEndianImplicit, 0, kNestedTooDeep},
      {"128 levels in a scope", nestedSequences(kMaxSequenceDepth, true), EXS_LittleEndianExplicit, kMaxParseNodes, 0},
      {"past the count", nestedSequences(60, true), EXS_LittleEndianExplicit, 100, kTreeTooLarge},
      {"up to the count", nestedSequences(50, true), EXS_LittleEndianExplicit, 100, 0},
      // Past where the walk once parted from DCMTK: refused before DCMTK reads a record.
      {"directory records", partedDirectoryRecords(1000), EXS_LittleEndianExplicit, 0, kDirectoryRecord},
      {"directory records in a scope", partedDirectoryRecords(1000), EXS_LittleEndianExplicit, kMaxParseNodes,
       kDirectoryRecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setParseNodeLimit(c.nodeLimit ? c.nodeLimit : kMaxParseNodes);
    std::unique_ptr<ParseBound> bound(c.nodeLimit ? new ParseBound : nullptr);
    DcmInputBufferStream in;
    in.setBuffer(c.bytes.data(), static_cast<offile_off_t>(c.bytes.size()));
    in.setEos();
    DcmDataset data;
    data.transferInit();
    const OFCondition cond = data.read(in, c.xfer);
    data.transferEnd();
    EXPECT_EQ(cond.module(), c.refusal ? kGuardModule : 0) << cond.text();
    EXPECT_EQ(cond.code(), c.refusal) << cond.text();
    if (bound) {
      EXPECT_EQ(bound->refusal().code(), c.refusal);
    }
  }
  setParseNodeLimit();

  // A value ceiling holds in its own scope and is named in the refusal as it was when it refused.
  const std::vector<uint8_t> longValue = {0x10, 0x00, 0x00, 0x40, 'L', 'T', 16, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g',
                                          'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', ' '};
  auto parse = [&longValue] {
    DcmInputBufferStream in;
    in.setBuffer(longValue.data(), static_cast<offile_off_t>(longValue.size()));
    in.setEos();
    DcmDataset data;
    data.transferInit();
    const OFCondition cond = data.read(in, EXS_LittleEndianExplicit);
    data.transferEnd();
    return cond;
  };
  {
    ParseBound outer;
    {
      ParseBound inner;
      inner.limitValues(10);
      EXPECT_EQ(parse().code(), kLengthPastEnd);
      inner.limitValues(UINT64_MAX);
      EXPECT_STREQ(inner.refusal().text(), "declares a value of 16 bytes, more than the 10 bytes it came in");
    }
  }
  {
    ParseBound outer;
    { ParseBound(ParseBound::Count::Own).limitValues(10); }
    EXPECT_TRUE(parse().good()) << "the ceiling ended with its scope";
  }

  TempDir dir;
  const std::string path = dir.file("deep.dcm");
  writeImage(path, greySpec(4, 4));
  appendTo(path, nestedSequences(200, true));
  DcmFileFormat file;
  const OFCondition cond = file.loadFile(path.c_str());
  EXPECT_EQ(cond.module(), kGuardModule) << cond.text();
  EXPECT_EQ(cond.code(), kNestedTooDeep);

  // Through the storage server: 200 levels are refused, and a data set past the count as
  // received; one within it is stored.
  MessageCapture messages;
  CallbackCapture log;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  SocketWatch watch;
  ClientAssociation client(watch);
  const char* sopClass = UID_SecondaryCaptureImageStorage;
  const T_ASC_PresentationContextID presId = openStoreAssociation(client, f.port, sopClass);
  ASSERT_NE(presId, 0);
  auto dataSet = [&](const std::string& instance, int levels, int items) {
    return identified(sopClass, instance, items ? emptyItems(items) : nestedSequences(levels, true));
  };
  // A data set of empty items is a megabyte on the wire and 32 MiB of tree: a receive budget of
  // 20 MiB has no room for it (out of resources, the association goes on), one of 40 MiB has, as
  // the tree received is the one written and its file is not parsed again; nor is more memory
  // taken at once than that one tree and the bytes (the heap's peak measured).
  const int dense = 128 << 10;
  const struct {
    int levels;
    int items;
    uint64_t nodeLimit;
    uint64_t budget;  // 0: the default
    const char* status;
    const char* logged;
  } sends[] = {
      {200, 0, kMaxParseNodes, 0, "0xc000", "the received data set nests sequences deeper than 128 levels"},
      {30, 0, 60, 0, "0xc000", "holds more than 60 items and elements"},  // 62 received
      {20, 0, 60, 0, "0x0000", nullptr},  // 42 received
      {0, dense, kMaxParseNodes, 20 << 20, "0xa700", "received data set finds no room within 20971520 bytes"},
      {0, dense, kMaxParseNodes, 40 << 20, "0x0000", nullptr},
      {0, dense, kMaxParseNodes, 96 << 20, "0x0000", nullptr},
  };
  size_t stored = 0;
  for (const auto& send : sends) {
    SCOPED_TRACE(send.levels + send.items);
    setParseNodeLimit(send.nodeLimit);
    ServerBounds bounds;
    if (send.budget) bounds.receiveBudget = send.budget;
    setServerBounds(bounds);
    log.clear();
    const std::string instance = newTestUid();
    const std::vector<uint8_t> bytes = dataSet(instance, send.levels, send.items);
    AllocationWatch heap;
    EXPECT_EQ(sendRawStore(client.get(), presId, sopClass, instance, bytes), send.status);
    heap.stop();
    // One tree of empty items at kParseNodeBytes each (what DCMTK's heap holds outside the
    // sanitizer; a little less inside), the bytes received and their copy, with room to spare.
    EXPECT_LT(heap.peakGrowth(), send.items * kParseNodeBytes * 5 / 4 + 4 * bytes.size() + (4 << 20))
        << "the heap held more than one tree at once";
    if (send.logged) {
      EXPECT_TRUE(log.logged(send.logged)) << ::testing::PrintToString(log.logLines());
    }
    stored += send.logged ? 0 : 1;
  }
  setParseNodeLimit();
  setServerBounds();
  EXPECT_TRUE(messages.waitForCount(3, stored, 10000));
  EXPECT_EQ(filesBelow(f.root), stored);
  client.release();
  f.server.StopDicomServer();
}

TEST(Library, ReadersOnSeparateThreadsAgree) {
  TempDir dir;
  ImageSpec s = greySpec(32, 24, 3, 16, true);
  s.strings = {{DCM_SpecificCharacterSet, "ISO_IR 100"}, {DCM_PatientName, "M\xFCller"}};
  const std::string native = dir.file("native.dcm");
  writeImage(native, s);
  std::vector<std::string> files = recompress(native, {{"dcmconv", "+td"}, {"dcmcjpeg", "+e1"}, {"dcmcjpls"}, {"dcmcrle"}}, dir);
  ASSERT_EQ(files.size(), 4u);
  files.push_back(native);
  const std::string j2k = dir.file("j2k.dcm");
  ASSERT_TRUE(writeJpeg2000(j2k, s, Jpeg2000Options(), dir));
  files.push_back(j2k);

  std::atomic<int> mismatches{0}, done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      redIRI::dcmReader reader;
      for (int round = 0; round < 4; ++round) {
        for (size_t k = 0; k < files.size(); ++k) {
          const std::string& path = files[(k + t) % files.size()];
          redIRI::dcmReader::PixelType type;
          int count = 0;
          char name[64] = {0};
          const char* p = nullptr;
          if (reader.setFile(path.c_str()) && reader.readDicomTagString(0x0010, 0x0010, name, sizeof(name)))
            p = reader.readDicomPixelPointer(type, count);
          if (!p || count != 32 * 24 * 3 || std::string(name) != "M\xC3\xBCller" ||
              std::memcmp(p, s.pixels.data(), s.pixels.size()) != 0)
            ++mismatches;
          ++done;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(done.load(), 8 * 4 * static_cast<int>(files.size()));
  EXPECT_EQ(mismatches.load(), 0);
}

namespace {

std::atomic<int> g_messages{0};
void takeMessage(int code, const char* text) {
  ++g_messages;
  if (code == 3) delete reinterpret_cast<const redIRI::DCM_MESSAGE*>(text);
}

}  // namespace

TEST(Library, StoredRecordsChangeOwnerOnce) {
  // With a message callback the program receives (and frees) the record; without one the
  // library frees it. The leak checker sees either mistake.
  redIRI::setMsgCallback(takeMessage);
  g_messages = 0;
  redIRI::detail::postStoredRecord(new redIRI::DCM_MESSAGE());
  EXPECT_TRUE(redIRI::detail::postMessage(4, "{}"));
  EXPECT_EQ(g_messages.load(), 2);
  redIRI::setMsgCallback(nullptr);
  redIRI::detail::postStoredRecord(new redIRI::DCM_MESSAGE());
  EXPECT_FALSE(redIRI::detail::postMessage(4, "{}"));
  EXPECT_EQ(g_messages.load(), 2);
}

namespace {

std::atomic<int> g_logCalls{0};
void countLog(const char*) { ++g_logCalls; }

// Runs in a child process: shutdown is once per process.
void shutdownScenario(const std::string& file) {
  std::atomic<int> hookRuns{0};
  redIRI::setLogCallback(countLog);
  redIRI::setMsgCallback(takeMessage);
  redIRI::dcmReader reader;
  if (!reader.setFile(file.c_str())) std::exit(2);
  if (reader.setFile("/nonexistent/file.dcm") || g_logCalls.load() == 0) std::exit(3);
  const int hook = redIRI::detail::addShutdownHook([&hookRuns] { ++hookRuns; });
  if (hook == 0) std::exit(4);

  redIRI::rediri_destroy();
  if (hookRuns.load() != 1) std::exit(5);

  // Nothing calls back any more, and every object fails.
  const int logs = g_logCalls.load(), messages = g_messages.load();
  redIRI::setLogCallback(countLog);
  if (reader.setFile(file.c_str())) std::exit(6);
  redIRI::dcmReader::PixelType type;
  int count = 0;
  if (reader.readDicomPixelPointer(type, count)) std::exit(7);
  redIRI::dcmReadTag tags;
  if (tags.setFile(file.c_str())) std::exit(8);
  redIRI::detail::postStoredRecord(new redIRI::DCM_MESSAGE());
  redIRI::detail::postMessage(1, "{}");
  if (redIRI::detail::addShutdownHook([] {}) != 0) std::exit(9);
  if (g_logCalls.load() != logs || g_messages.load() != messages) std::exit(10);

  redIRI::rediri_destroy();  // a second call does nothing
  if (hookRuns.load() != 1) std::exit(11);
  std::exit(0);
}

}  // namespace

TEST(Library, ShutdownEndsEveryCallback) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  ImageSpec s;
  s.rows = s.columns = 4;
  s.pixels.assign(32, 0);
  writeImage(dir.file("a.dcm"), s);
  EXPECT_EXIT(shutdownScenario(dir.file("a.dcm")), testing::ExitedWithCode(0), "");
}

namespace {

// Runs in a child process: every network object busy with a peer that never answers (or idle
// with the server), then the library ends.
void networkShutdownScenario() {
  int status = 0;
  {
    TempDir dir;
    redIRI::setLogCallback(countLog);
    redIRI::setMsgCallback(takeMessage);
    SilentListener hanging;
    const std::string hangingPort = std::to_string(hanging.port());
    const std::vector<std::string> files = writeSeries(dir.file("series"), SeriesSpec(), 2);

    redIRI::dcmServer server;
    server.setRoot(dir.file("library").c_str());
    const std::string serverPort = std::to_string(freePort());
    server.setPort("", serverPort.c_str(), "tolvrane");
    if (!server.BeginDicomServer()) std::exit(20);
    redIRI::detail::SocketWatch watch;
    redIRI::detail::ClientAssociation idle(watch);
    std::string error;
    if (!idle.open("127.0.0.1", std::stoi(serverPort), "ANY-SCP",
                   {{UID_VerificationSOPClass, redIRI::detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT}}, error))
      std::exit(21);
    const int silent = connectLoopback(std::stoi(serverPort));

    redIRI::dcmSender sender;
    redIRI::dcmEcho echo;
    redIRI::dcmFind find;
    redIRI::dcmGet get;
    sender.setIP("127.0.0.1", hangingPort.c_str());
    if (!sender.send(1, dir.file("series").c_str())) std::exit(22);
    std::string entry = "Node,127.0.0.1," + hangingPort;
    char* entries[] = {&entry[0]};
    echo.echo(entries, 1, false);
    find.findPatientByName("127.0.0.1", hangingPort.c_str(), "", "", "**");
    get.getSeriesByUID("127.0.0.1", hangingPort.c_str(), "", "", "2.25.1002.3", "2.25.1002.3.4",
                       dir.file("down/").c_str(), "A", "1", "CT");
    int waiting = 0;
    for (const long long deadline = nowMs() + 5000; waiting < 4 && nowMs() < deadline;) waiting += hanging.acceptOne(100);
    if (waiting < 4) std::exit(23);

    const long long start = nowMs();
    redIRI::rediri_destroy();
    if (nowMs() - start > 3000) std::exit(24);
    const int logs = g_logCalls.load(), messages = g_messages.load();
    hanging.dropConnections();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    redIRI::rediri_destroy();
    if (sender.send(2, dir.file("series").c_str()) || server.BeginDicomServer()) std::exit(25);
    echo.echo(entries, 1, false);
    get.getSeriesByUID("127.0.0.1", hangingPort.c_str(), "", "", "1", "2", dir.file("down/").c_str(), "A", "1", "CT");
    if (get.getListSize() != 0) std::exit(26);
    if (g_logCalls.load() != logs || g_messages.load() != messages) status = 27;
    ::close(silent);
  }
  std::exit(status);
}

}  // namespace

TEST(Library, ShutdownStopsEveryNetworkObjectPromptly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(networkShutdownScenario(), testing::ExitedWithCode(0), "");
}
