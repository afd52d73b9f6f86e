// The storage server against DCMTK's storescu and echoscu on 127.0.0.1: files land named and
// foldered by the library rules with one record each, hostile values stay inside the root,
// failures are answered and logged, and stopping is prompt and frees the port.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/ofstd/ofstd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dcmDiskWrite.h"
#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmNetwork.h"
#include "dcmParseBound.h"
#include "dcmStorage.h"
#include "support/DeepShapes.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"
#include "support/RawStore.h"
#include "support/ServerFixture.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {


// storescu proposes the syntaxes its options name (here: uncompressed, unless `propose` asks
// for a compressed one), so each kind of file goes in its own run.
int storescu(ServerFixture& f, const std::vector<std::string>& files, const std::string& log,
             const std::string& propose = "-x=") {
  std::vector<std::string> argv = {"storescu", "-v", "-R", propose, "-aec", "SOMEBODY", "127.0.0.1",
                                   std::to_string(f.port)};
  argv.insert(argv.end(), files.begin(), files.end());
  Peer tool(argv, log);
  return tool.wait(20000);
}

std::string tag(const std::string& path, const DcmTagKey& key) {
  redIRI::detail::DicomFile file;
  if (!file.open(path.c_str(), "test")) return "<unreadable>";
  return file.valueText(file.find(key.getGroup(), key.getElement()));
}

bool inside(const std::string& root, const std::string& path) {
  const std::string canonical = fs::weakly_canonical(path).string();
  const std::string base = fs::weakly_canonical(root).string();
  return canonical.compare(0, base.size(), base) == 0 && canonical.size() > base.size();
}

std::vector<redIRI::detail::ProposedContext> verification() {
  return {{UID_VerificationSOPClass, redIRI::detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT}};
}

// Opens one more verification association from 127.0.0.1 that then says nothing; false (the
// peer's answer in `error`) when the server refuses it.
bool openQuiet(redIRI::detail::SocketWatch& watch, int port,
               std::vector<std::unique_ptr<redIRI::detail::ClientAssociation>>& quiet, std::string& error) {
  quiet.push_back(std::make_unique<redIRI::detail::ClientAssociation>(watch));
  if (quiet.back()->open("127.0.0.1", port, "ANY-SCP", verification(), error)) return true;
  quiet.pop_back();
  return false;
}

// Waits until the server logged a line holding one of `fragments`.
bool waitLogged(const CallbackCapture& log, const std::vector<std::string>& fragments, int timeoutMs = 10000) {
  const long long end = nowMs() + timeoutMs;
  for (;;) {
    for (const std::string& fragment : fragments)
      if (log.logged(fragment)) return true;
    if (nowMs() >= end) return false;
    usleep(2000);
  }
}

// A TCP connection to 127.0.0.1:port from another loopback address `source`, or -1.
int connectFrom(const std::string& source, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0)
    return fd;
  ::close(fd);
  return -1;
}

}  // namespace

TEST(Server, StoresEveryFileWithOneRecord) {
  MessageCapture messages;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  // Ten files: a plain series, two JPEG lossless, one JPEG 2000, one without any patient data
  // and one with a Latin-1 name.
  SeriesSpec plain;
  std::vector<std::string> files = writeSeries(f.dir.file("a"), plain, 5);
  SeriesSpec other;
  other.patientName = "ROE^RICHARD";
  std::vector<std::string> jpeg;
  for (const std::string& source : writeSeries(f.dir.file("b"), other, 2))
    for (const std::string& out : recompress(source, {{"dcmcjpeg", "+e1"}}, f.dir)) {
      const std::string kept = source + ".jpeg.dcm";
      fs::rename(out, kept);
      jpeg.push_back(kept);
    }
  ImageSpec j2k = greySpec(16, 16);
  j2k.strings = {{DCM_PatientName, "J2K^PATIENT"}, {DCM_PatientID, "J1"}};
  ASSERT_TRUE(writeJpeg2000(f.dir.file("j2k.dcm"), j2k, Jpeg2000Options(), f.dir));
  ImageSpec anonymous = greySpec(8, 8);
  writeImage(f.dir.file("anonymous.dcm"), anonymous);
  ImageSpec latin = greySpec(8, 8);
  latin.strings = {{DCM_SpecificCharacterSet, "ISO_IR 100"}, {DCM_PatientName, "M\xFCller^Hans"},
                   {DCM_PatientID, "L1"}, {DCM_StudyTime, "0930"}};
  writeImage(f.dir.file("latin.dcm"), latin);
  files.push_back(f.dir.file("anonymous.dcm"));
  files.push_back(f.dir.file("latin.dcm"));
  EXPECT_EQ(storescu(f, files, f.dir.file("storescu.log")), 0) << readText(f.dir.file("storescu.log"));
  EXPECT_EQ(storescu(f, jpeg, f.dir.file("jpeg.log"), "-xs"), 0) << readText(f.dir.file("jpeg.log"));
  EXPECT_EQ(storescu(f, {f.dir.file("j2k.dcm")}, f.dir.file("j2k.log"), "-xv"), 0) << readText(f.dir.file("j2k.log"));
  files.insert(files.end(), jpeg.begin(), jpeg.end());
  files.push_back(f.dir.file("j2k.dcm"));
  ASSERT_EQ(files.size(), 10u);
  ASSERT_TRUE(messages.waitForCount(3, 10, 10000)) << messages.withCode(3).size() << " records";

  std::map<std::string, Message> bySop;
  for (const Message& m : messages.withCode(3)) bySop[m.record.SOPInstanceUID] = m;
  ASSERT_EQ(bySop.size(), 10u) << "exactly one record per file";
  for (const std::string& source : files) {
    SCOPED_TRACE(source);
    const std::string sop = tag(source, DCM_SOPInstanceUID);
    ASSERT_EQ(bySop.count(sop), 1u);
    const redIRI::DCM_MESSAGE& r = bySop[sop].record;
    const std::string folder = r.SeriesFolder;
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    char expected[1024];
    redIRI::dcmServer::getDicomFolder(tag(source, DCM_PatientName).c_str(), tag(source, DCM_PatientID).c_str(),
                                      tag(source, DCM_StudyInstanceUID).c_str(),
                                      tag(source, DCM_SeriesInstanceUID).c_str(), expected);
    EXPECT_EQ(folder, std::string(expected) + "/");
    EXPECT_EQ(std::string(r.FileName), sop);
    const std::string stored = f.root + folder + r.FileName;
    ASSERT_TRUE(fs::is_regular_file(stored));
    // Stored as it arrived: same pixels, same transfer syntax.
    EXPECT_EQ(decodeFile(stored).bytes, decodeFile(source).bytes);
    redIRI::detail::DicomFile in, out;
    ASSERT_TRUE(in.open(source.c_str(), "test") && out.open(stored.c_str(), "test"));
    EXPECT_EQ(out.transferSyntax(), in.transferSyntax());
    EXPECT_EQ(std::string(r.StudyInstanceUID), tag(source, DCM_StudyInstanceUID));
    EXPECT_EQ(std::string(r.SeriesInstanceUID), tag(source, DCM_SeriesInstanceUID));
  }
  const redIRI::DCM_MESSAGE& first = bySop[tag(files[0], DCM_SOPInstanceUID)].record;
  EXPECT_STREQ(first.PatientName, "DOE^JOHN");
  EXPECT_STREQ(first.StudyTime, "101520");
  EXPECT_STREQ(first.SeriesTime, "102030");
  EXPECT_STREQ(first.Modality, "CT");
  EXPECT_STREQ(first.PatientSex, "F");
  EXPECT_STREQ(first.InstanceNumber, "1");
  const redIRI::DCM_MESSAGE& anon = bySop[tag(f.dir.file("anonymous.dcm"), DCM_SOPInstanceUID)].record;
  EXPECT_STREQ(anon.PatientName, "ANONYMOUS");
  EXPECT_STREQ(anon.PatientID, "EmptyID");
  EXPECT_STREQ(anon.PatientSex, "U");
  EXPECT_STREQ(anon.InstanceNumber, "0");
  EXPECT_EQ(std::string(anon.SeriesFolder).rfind("ANONYMOUS_EmptyID/", 0), 0u);
  const redIRI::DCM_MESSAGE& latinRecord = bySop[tag(f.dir.file("latin.dcm"), DCM_SOPInstanceUID)].record;
  EXPECT_STREQ(latinRecord.PatientName, "M\xC3\xBCller^Hans");
  EXPECT_STREQ(latinRecord.StudyTime, "0930");
  EXPECT_EQ(filesBelow(f.root), 10u) << "no temporary file is left";

  // The same instance again replaces its file and is announced again.
  messages.clear();
  EXPECT_EQ(storescu(f, {files[0]}, f.dir.file("again.log")), 0);
  ASSERT_TRUE(messages.waitForCount(3, 1, 10000));
  EXPECT_EQ(filesBelow(f.root), 10u);

  // Verification answers whatever title is called.
  Peer echo({"echoscu", "-aec", "NOT-OUR-TITLE", "127.0.0.1", std::to_string(f.port)}, f.dir.file("echo.log"));
  EXPECT_EQ(echo.wait(10000), 0) << echo.log();
}

TEST(Server, HostileValuesStayInsideTheRoot) {
  MessageCapture messages;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  ImageSpec evil = greySpec(8, 8);
  evil.strings = {{DCM_PatientName, "A/B"}, {DCM_PatientID, "../../.."}, {DCM_StudyInstanceUID, "../../study"}};
  writeImage(f.dir.file("evil.dcm"), evil);
  editFile(f.dir.file("evil.dcm"), [](DcmDataset& ds) { ds.putAndInsertString(DCM_SOPInstanceUID, "../../evil"); });
  ImageSpec similar = greySpec(8, 8);
  similar.strings = {{DCM_PatientName, "A_B"}, {DCM_PatientID, "../../.."}, {DCM_StudyInstanceUID, "../../study"}};
  writeImage(f.dir.file("similar.dcm"), similar);

  EXPECT_EQ(storescu(f, {f.dir.file("evil.dcm"), f.dir.file("similar.dcm")}, f.dir.file("storescu.log")), 0);
  ASSERT_TRUE(messages.waitForCount(3, 2, 10000));
  std::set<std::string> patients;
  for (const Message& m : messages.withCode(3)) {
    const std::string path = f.root + m.record.SeriesFolder + m.record.FileName;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
    EXPECT_TRUE(inside(f.root, path)) << path;
    EXPECT_EQ(std::string(m.record.FileName).find('/'), std::string::npos);
    patients.insert(fs::path(m.record.SeriesFolder).begin()->string());
  }
  EXPECT_EQ(patients.size(), 2u) << "\"A/B\" and \"A_B\" get different folders";
  EXPECT_EQ(filesBelow(f.dir.path()), filesBelow(f.root) + 3u) << "nothing was written outside the root";
}

// What else holds the server while its senders send: nothing; six peers that connected and say
// nothing; six associations that went quiet once accepted; 32 peers at three other addresses
// trickling association requests they never finish; a peer that holds most of the receive budget
// with a large image it sends slowly; a connection whose thread could not be started (no thread,
// no memory). Each holds what it should and no more, and no longer than its deadline. Or the
// process has no descriptor left as they connect: the listener waits for one, without spinning.
// Or peers at two other addresses store images at a slow, steady 2 kB/s, meeting every deadline:
// filling every slot, one of them is cut for each sender; with room left, none is. Or the
// listening socket is shut down from outside, or another program holds the port as the server
// begins and frees it later: the server listens again on its own, without spinning meanwhile. Or
// the listening socket is closed under the server and its number taken by a file another part of
// the program opened, or by a socket of its own: one with data waiting, a quiet one, or a UDP
// socket holding a datagram. The server listens again and leaves what took the number open.
enum class Silent {
  None, Connections, Associations, Trickling, HalfSentImage, FailedThread, NoDescriptors, ThreadOutOfMemory,
  SlowSteadyFull, SlowSteadyWithRoom, SocketShut, PortHeld, SocketNumberReused, NumberToUnixSocketWithData,
  NumberToQuietSocket, NumberToUdpSocket
};

struct Crowd {
  Silent silent;
  int senders;
  int filesEach;
};

class SeveralSendersAtOnce : public ::testing::TestWithParam<Crowd> {};

// The socket of this process listening on `port` (the server's), or -1.
int listeningSocket(int port) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    int listening = 0;
    socklen_t size = sizeof(listening);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET &&
        ntohs(local.sin_port) == port && ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 &&
        listening)
      return fd;
  }
  return -1;
}

// Another program's listener on `port`, every interface, or -1.
int holdPort(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && ::listen(fd, 4) == 0) return fd;
  ::close(fd);
  return -1;
}

// The CPU time, in seconds, this process (every thread of it) spends over the next `ms`.
double cpuSecondsOver(int ms) {
  auto seconds = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  const double before = seconds();
  for (const long long end = nowMs() + ms; nowMs() < end;) usleep(20000);
  return seconds() - before;
}

// The data set of a file as written (explicit little endian): what follows its meta header, whose
// group length is at byte 140 behind the preamble, "DICM" and the length's own 12 bytes.
std::vector<uint8_t> encodedDataSet(const std::string& path) {
  const std::string file = readText(path);
  uint32_t meta = 0;
  std::memcpy(&meta, file.data() + 140, sizeof(meta));
  return {file.begin() + 144 + long(meta), file.end()};
}

// A grey image of about 900 kB: two at once pass the receive budget the tests set.
std::string writeLargeImage(const std::string& path) {
  writeImage(path, greySpec(672, 672));
  return path;
}

// The server's bounds as a test lowers them, put back when the test ends.
struct LoweredBounds {
  explicit LoweredBounds(const redIRI::detail::ServerBounds& bounds) { redIRI::detail::setServerBounds(bounds); }
  ~LoweredBounds() { redIRI::detail::setServerBounds(); }
  LoweredBounds(const LoweredBounds&) = delete;
  LoweredBounds& operator=(const LoweredBounds&) = delete;
};

size_t countLogged(const CallbackCapture& log, const std::string& fragment) {
  size_t n = 0;
  for (const std::string& line : log.logLines()) n += line.find(fragment) != std::string::npos;
  return n;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  for (const long long end = nowMs() + timeoutMs; !done();) {
    if (nowMs() >= end) return false;
    usleep(2000);
  }
  return true;
}

// Runs `step` every `periodMs` on a thread of its own until the pacer ends: a peer's slow pace.
class Pacer {
 public:
  Pacer(int periodMs, std::function<void()> step)
      : m_thread([this, periodMs, step] {
          while (!m_stop) {
            step();
            ++m_rounds;
            usleep(periodMs * 1000);
          }
        }) {}
  ~Pacer() { stop(); }
  void stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  // The steps taken so far.
  int rounds() const { return m_rounds; }

 private:
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_rounds{0};
  std::thread m_thread;
};

TEST_P(SeveralSendersAtOnce, EveryFileIsStored) {
  const Crowd row = GetParam();
  MessageCapture messages;
  CallbackCapture log;
  redIRI::detail::ServerBounds bounds;
  if (row.silent == Silent::Trickling) bounds.acseTimeout = 2;  // the tricklers' deadline
  if (row.silent == Silent::HalfSentImage) {
    // Room for one large image (its bytes and their parse, about 2 MB) and small ones, not two large.
    bounds.receiveBudget = 2500000;
    bounds.dimseTimeout = 2;  // the wait for room
  }
  if (row.silent == Silent::FailedThread || row.silent == Silent::ThreadOutOfMemory) bounds.failedThreadStarts = 1;
  bounds.outOfMemory = row.silent == Silent::ThreadOutOfMemory;
  const bool slowSteady = row.silent == Silent::SlowSteadyFull || row.silent == Silent::SlowSteadyWithRoom;
  if (slowSteady) {
    bounds.maxConnections = 8;
    bounds.maxPerAddress = 6;
    bounds.takeoverGraceMs = 1000;  // the slow peers are judged, the senders among themselves are not
  }
  const LoweredBounds lowered(bounds);
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  int portHolder = -1;
  if (row.silent == Silent::PortHeld) {
    f.port = freePort();
    portHolder = holdPort(f.port);
    ASSERT_GE(portHolder, 0);
    f.server.setPort("127.0.0.1,", std::to_string(f.port).c_str(), "tolvrane");
    EXPECT_FALSE(f.server.BeginDicomServer());
    EXPECT_TRUE(log.logged("cannot listen on port " + std::to_string(f.port)));
  } else {
    ASSERT_TRUE(f.begin());
  }
  if (row.silent == Silent::SocketShut) {
    const int listening = listeningSocket(f.port);
    ASSERT_GE(listening, 0);
    ::shutdown(listening, SHUT_RDWR);
  }
  int reused = -1;
  struct stat reusedFile {};
  int otherEnd = -1;  // of the Unix socket that takes the number
  const bool numberTaken = row.silent == Silent::SocketNumberReused || row.silent == Silent::NumberToUnixSocketWithData ||
                           row.silent == Silent::NumberToQuietSocket || row.silent == Silent::NumberToUdpSocket;
  if (numberTaken) {
    int other = -1;
    if (row.silent == Silent::SocketNumberReused) {
      other = ::open(f.dir.file("other.txt").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    } else if (row.silent == Silent::NumberToUdpSocket) {
      other = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in self{};
      self.sin_family = AF_INET;
      self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof(self);
      ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&self), sizeof(self)), 0);
      ASSERT_EQ(::getsockname(other, reinterpret_cast<sockaddr*>(&self), &length), 0);
      ASSERT_EQ(::sendto(other, "x", 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof(self)), 1);
    } else {
      int pair[2];
      ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
      other = pair[0];
      otherEnd = pair[1];
      if (row.silent == Silent::NumberToUnixSocketWithData) {
        ASSERT_EQ(::send(otherEnd, "x", 1, 0), 1);
      }
    }
    ASSERT_GE(other, 0);
    // dup2 closes the socket and gives its number to the other in one step.
    reused = listeningSocket(f.port);
    ASSERT_GE(reused, 0);
    ASSERT_EQ(::dup2(other, reused), reused);
    ::close(other);
    ASSERT_EQ(::fstat(reused, &reusedFile), 0);
  }
  if (row.silent == Silent::SocketShut || row.silent == Silent::PortHeld || numberTaken) {
    // Meanwhile the server tries the port again, a growing pause apart: a core spinning would
    // spend the whole time.
    EXPECT_LT(cpuSecondsOver(2000), 0.5) << "the listener spins";
    if (portHolder >= 0) ::close(portHolder);
    EXPECT_TRUE(waitLogged(log, {"listening on port " + std::to_string(f.port) +
                                 (portHolder >= 0 ? " as" : " again")}));
    EXPECT_TRUE(f.server.isListening());
    EXPECT_EQ(f.server.getPortFailures(), row.silent == Silent::PortHeld ? 0u : 1u);
    EXPECT_EQ(countLogged(log, "listening socket of port"), row.silent == Silent::PortHeld ? 0u : 1u);
  }
  if (reused >= 0) {
    struct stat now {};
    EXPECT_TRUE(::fstat(reused, &now) == 0 && now.st_dev == reusedFile.st_dev && now.st_ino == reusedFile.st_ino)
        << "the server closed a descriptor that was no longer its socket";
    ::close(reused);
    if (otherEnd >= 0) ::close(otherEnd);
  }
  size_t expected = size_t(row.senders) * size_t(row.filesEach);

  std::vector<int> silent;
  redIRI::detail::SocketWatch watch;
  std::vector<std::unique_ptr<redIRI::detail::ClientAssociation>> quiet;
  for (int i = 0; i < 6 && row.silent == Silent::Connections; ++i) silent.push_back(connectLoopback(f.port));
  if (row.silent == Silent::Connections) {
    ASSERT_TRUE(waitLogged(log, {"connection from 127.0.0.1, 6 open"}));
  }
  for (int i = 0; i < 6 && row.silent == Silent::Associations; ++i) {
    std::string error;
    ASSERT_TRUE(openQuiet(watch, f.port, quiet, error)) << error;
  }
  // Each trickler sends the head of an association request declaring 1,000 bytes, then a byte
  // every 300 ms, well inside any per-read bound, until the server cuts it.
  std::vector<bool> ended;
  std::unique_ptr<Pacer> trickle;
  if (row.silent == Silent::Trickling) {
    for (int i = 0; i < 32; ++i) {
      silent.push_back(connectFrom("127.0.0." + std::to_string(2 + i % 3), f.port));
      ASSERT_GE(silent.back(), 0);
      const unsigned char head[6] = {0x01, 0x00, 0x00, 0x00, 0x03, 0xE8};
      ASSERT_EQ(::send(silent.back(), head, sizeof(head), MSG_NOSIGNAL), 6);
    }
    ASSERT_TRUE(waitLogged(log, {", 32 open"}));
    ended.assign(silent.size(), false);
    trickle = std::make_unique<Pacer>(300, [&] {
      for (size_t i = 0; i < silent.size(); ++i)
        if (!ended[i] && ::send(silent[i], "", 1, MSG_NOSIGNAL) != 1) ended[i] = true;
    });
  }
  // The half-sent image: most of a large data set, the rest following two bytes every 200 ms.
  std::unique_ptr<redIRI::detail::ClientAssociation> holder;
  T_ASC_PresentationContextID holderContext = 0;
  std::vector<uint8_t> held;
  size_t heldAt = 800000;
  std::unique_ptr<Pacer> holding;
  if (row.silent == Silent::HalfSentImage) {
    const std::string image = writeLargeImage(f.dir.file("held.dcm"));
    held = encodedDataSet(image);
    holder = std::make_unique<redIRI::detail::ClientAssociation>(watch);
    holderContext = openStoreAssociation(*holder, f.port);
    ASSERT_NE(holderContext, 0);
    ASSERT_EQ(sendRawStore(holder->get(), holderContext, UID_SecondaryCaptureImageStorage,
                           tag(image, DCM_SOPInstanceUID), {held.begin(), held.begin() + long(heldAt)}, false, 16000),
              "sent");
    holding = std::make_unique<Pacer>(200, [&] {
      if (heldAt + 2 >= held.size()) return;
      writeRawPdv(holder->get(), holderContext, false, {held.begin() + long(heldAt), held.begin() + long(heldAt + 2)},
                  false);
      heldAt += 2;
    });
    ++expected;
  }
  // The slow steady senders: 6 from 127.0.0.2 and 2 from 127.0.0.3 (4 from .2 with room left),
  // each 512 bytes of its image every 250 ms.
  struct Slow {
    RawAssociation assoc;
    std::vector<uint8_t> bytes;
    size_t at = 0;
  };
  std::vector<Slow> slow(row.silent == Silent::SlowSteadyFull ? 8 : slowSteady ? 4 : 0);
  std::unique_ptr<Pacer> pacing;
  for (size_t i = 0; i < slow.size(); ++i) {
    Slow& p = slow[i];
    const std::string image = f.dir.file("slow" + std::to_string(i) + ".dcm");
    writeImage(image, greySpec(128, 128));
    p.bytes = encodedDataSet(image);
    std::string error;
    ASSERT_TRUE(p.assoc.open(i < 6 ? "127.0.0.2" : "127.0.0.3", f.port, UID_SecondaryCaptureImageStorage, error))
        << error;
    ASSERT_TRUE(p.assoc.beginStore(tag(image, DCM_SOPInstanceUID), {}));
  }
  if (!slow.empty())
    pacing = std::make_unique<Pacer>(250, [&] {
      for (Slow& p : slow)
        if (p.at + 1024 < p.bytes.size() &&
            p.assoc.pdv(false, {p.bytes.begin() + long(p.at), p.bytes.begin() + long(p.at + 512)}, false))
          p.at += 512;
    });
  // The slow senders' pace shows before anyone else comes: 2.5 s of it, past their first second.
  if (pacing) {
    ASSERT_TRUE(waitUntil([&] { return pacing->rounds() >= 10; }));
  }
  if (row.silent == Silent::FailedThread || row.silent == Silent::ThreadOutOfMemory) {
    Peer echo({"echoscu", "127.0.0.1", std::to_string(f.port)}, f.dir.file("echo.log"));
    EXPECT_NE(echo.wait(10000), 0);
    EXPECT_NE(echo.log().find("Local Limit Exceeded"), std::string::npos) << echo.log();
    EXPECT_TRUE(waitLogged(log, {"thread cannot be started"}));
    EXPECT_TRUE(waitLogged(log, {"closed, 0 open"}));
  }

  std::vector<std::vector<std::string>> commands;
  for (int i = 0; i < row.senders; ++i) {
    SeriesSpec spec;
    spec.patientId = "P" + std::to_string(i);
    commands.push_back({"storescu", "-R", "127.0.0.1", std::to_string(f.port)});
    for (const std::string& file : writeSeries(f.dir.file("s" + std::to_string(i)), spec, row.filesEach))
      commands.back().push_back(file);
  }
  // This process runs out of descriptors as the senders connect (theirs are their own).
  std::vector<int> taken;
  rlimit descriptors{};
  ::getrlimit(RLIMIT_NOFILE, &descriptors);
  if (row.silent == Silent::NoDescriptors) {
    rlimit low = descriptors;
    low.rlim_cur = std::min<rlim_t>(descriptors.rlim_cur, 4096);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int fd; (fd = ::fcntl(0, F_DUPFD_CLOEXEC, 0)) >= 0;) taken.push_back(fd);
  }
  std::vector<std::unique_ptr<Peer>> senders;
  for (size_t i = 0; i < commands.size(); ++i)
    senders.push_back(std::make_unique<Peer>(commands[i], f.dir.file("storescu" + std::to_string(i) + ".log")));
  if (row.silent == Silent::NoDescriptors) {
    EXPECT_TRUE(waitLogged(log, {"cannot accept connections"}));
    // Each is refused at once with a reason (the listener gives up a descriptor it keeps in
    // reserve to take it) rather than left waiting in the queue; once descriptors free, they send.
    // (Their logs cannot be opened without descriptors: the server's says why.)
    for (auto& s : senders) EXPECT_NE(s->wait(30000), 0);
    // A few refusals are written, the rest counted once descriptors free.
    const size_t written = std::min<size_t>(senders.size(), redIRI::detail::kLogLinesPerKind);
    EXPECT_EQ(countLogged(log, "refused: no descriptor left to serve it"), written);
    for (int fd : taken) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &descriptors);
    senders.clear();
    for (size_t i = 0; i < commands.size(); ++i)
      senders.push_back(std::make_unique<Peer>(commands[i], f.dir.file("again" + std::to_string(i) + ".log")));
    EXPECT_TRUE(waitLogged(log, {"accepting connections on port " + std::to_string(f.port) + " again"}));
    EXPECT_TRUE(waitLogged(log, {"while descriptors ran out: " + std::to_string(senders.size() - written) +
                                 " more lines left out"}));
  }
  for (auto& s : senders) EXPECT_EQ(s->wait(30000), 0) << s->log();
  EXPECT_LE(countLogged(log, "cannot accept connections"), 1u) << "logged once, not at each look";

  if (slowSteady) {
    // The slow senders still send; those not cut finish their images.
    pacing->stop();
    const size_t cut = countLogged(log, "cut to make room");
    // One for each sender that found every slot taken (a sender may find the slot of one done).
    EXPECT_EQ(cut > 0, row.silent == Silent::SlowSteadyFull);
    EXPECT_LE(cut, size_t(row.senders));
    EXPECT_EQ(countLogged(log, "connection from 127.0.0.2 cut to make room") +
                  countLogged(log, "connection from 127.0.0.3 cut to make room"),
              cut)
        << "only slow peers are cut";
    size_t finished = 0;
    for (Slow& p : slow) {
      const std::string answer = p.assoc.finishStore({p.bytes.begin() + long(p.at), p.bytes.end()});
      finished += answer == "0x0000";
      if (answer != "0x0000") {
        EXPECT_EQ(answer.rfind("ended", 0), 0u) << answer;
      }
    }
    EXPECT_EQ(finished, slow.size() - cut);
    expected += finished;
    slow.clear();
  }
  if (row.silent == Silent::HalfSentImage) {
    // A second large image finds no room while the first is held: it waits, is answered "out of
    // resources" with nothing written, and its association goes on with a small one.
    const std::string refused = writeLargeImage(f.dir.file("refused.dcm"));
    const std::vector<std::string> small = writeSeries(f.dir.file("after"), SeriesSpec(), 1);
    Peer second({"storescu", "-v", "--no-halt", "127.0.0.1", std::to_string(f.port), refused, small[0]},
                f.dir.file("second.log"));
    EXPECT_TRUE(waitLogged(log, {"refused the image " + tag(refused, DCM_SOPInstanceUID)}, 20000));
    second.wait(20000);  // its exit status says that one image failed
    // A data set of 3 Ki empty items, 24 kB on the wire, builds 2 MiB of tree with its file read
    // back: alone it fits, beside the held image it does not. It waits, is answered "out of
    // resources" with nothing written, and its association goes on with a small data set; once
    // the held image is gone it goes through.
    redIRI::detail::ClientAssociation dense(watch);
    const T_ASC_PresentationContextID denseContext = openStoreAssociation(dense, f.port);
    ASSERT_NE(denseContext, 0);
    auto storeDense = [&](int items) {
      const std::string instance = newTestUid();
      return sendRawStore(dense.get(), denseContext, UID_SecondaryCaptureImageStorage, instance,
                          identified(UID_SecondaryCaptureImageStorage, instance, emptyItems(items)));
    };
    EXPECT_EQ(storeDense(3 << 10), "0xa700");
    EXPECT_TRUE(waitLogged(log, {"finds no room within 2500000 bytes"}));
    EXPECT_EQ(storeDense(0), "0x0000");
    ++expected;
    holding->stop();
    EXPECT_NE(second.log().find("OutOfResources"), std::string::npos) << second.log();
    ++expected;
    EXPECT_EQ(finishRawStore(holder->get(), holderContext, {held.begin() + long(heldAt), held.end()}), "0x0000");
    holder->release();
    EXPECT_EQ(storeDense(3 << 10), "0x0000");
    ++expected;
    dense.release();
    // With the first gone, the next large image goes through.
    const std::string next = writeLargeImage(f.dir.file("next.dcm"));
    EXPECT_EQ(storescu(f, {next}, f.dir.file("next.log")), 0) << readText(f.dir.file("next.log"));
    ++expected;
  }
  ASSERT_TRUE(messages.waitForCount(3, expected, 20000)) << messages.withCode(3).size() << " records";
  EXPECT_EQ(filesBelow(f.root), expected);

  if (row.silent == Silent::Trickling) {
    // Every trickler was cut at its deadline while it still trickled.
    EXPECT_TRUE(waitLogged(log, {"cut: no whole association request"}));
    EXPECT_TRUE(waitUntil([&] { return countLogged(log, "cut: no whole association request") == 32; }));
    trickle->stop();
  }
  for (int fd : silent) ::close(fd);
  quiet.clear();
  EXPECT_TRUE(waitUntil([&] { return openConnections(log) == 0; })) << "every slot is given back";
}

std::string crowdName(const ::testing::TestParamInfo<Crowd>& info) {
  const char* names[] = {"Alone",        "WhileSixConnectionsSayNothing", "WhileSixAssociationsAreQuiet",
                         "WhilePeersAtThreeAddressesTrickle", "WhileALargeImageHoldsTheBudget",
                         "AfterAThreadFailedToStart", "WhileDescriptorsRunOut", "AfterAThreadFoundNoMemory",
                         "WhileSlowSteadyPeersHoldEverySlot", "BesideSlowSteadyPeersWithRoomLeft",
                         "AfterItsListeningSocketWasShut", "OnAPortHeldAtStartThenFreed",
                         "AfterItsListeningNumberNamedAFile", "AfterItsListeningNumberNamedAUnixSocketWithData",
                         "AfterItsListeningNumberNamedAQuietSocket", "AfterItsListeningNumberNamedAUdpSocket"};
  return std::string(names[static_cast<int>(info.param.silent)]) + "_" + std::to_string(info.param.senders) + "x" +
         std::to_string(info.param.filesEach);
}

INSTANTIATE_TEST_SUITE_P(Server, SeveralSendersAtOnce,
                         ::testing::Values(Crowd{Silent::None, 4, 5}, Crowd{Silent::Connections, 4, 5},
                                           Crowd{Silent::Associations, 4, 5}, Crowd{Silent::Trickling, 4, 5},
                                           Crowd{Silent::None, 32, 3}, Crowd{Silent::HalfSentImage, 2, 2},
                                           Crowd{Silent::FailedThread, 4, 5}, Crowd{Silent::NoDescriptors, 4, 5},
                                           Crowd{Silent::ThreadOutOfMemory, 4, 5}, Crowd{Silent::SlowSteadyFull, 2, 3},
                                           Crowd{Silent::SlowSteadyWithRoom, 2, 3}, Crowd{Silent::SocketShut, 2, 2},
                                           Crowd{Silent::PortHeld, 2, 2}, Crowd{Silent::SocketNumberReused, 2, 2},
                                           Crowd{Silent::NumberToUnixSocketWithData, 2, 2},
                                           Crowd{Silent::NumberToQuietSocket, 2, 2},
                                           Crowd{Silent::NumberToUdpSocket, 2, 2}),
                         crowdName);

// A full server and its newcomers. Peers at other addresses hold every slot, each storing one
// image: fast ones (16 kB every 100 ms, 160 kB/s: senders at work) at 127.0.0.2 and .3, slow ones
// (512 bytes every 250 ms, 2 kB/s) at .3; or, at .2, one whose image waits for room in the receive
// budget (the rates judged over half a second, so that its wait fills what it is judged by), or one
// whose dense image has arrived whole and is being parsed, beside a quiet association at .4. Silent
// newcomers from many other addresses may come first, then a
// storescu from 127.0.0.1. Each newcomer takes over the slot of the slowest peer: a slow one, a
// quiet one or a silent newcomer, never a sender at work nor the one the server holds up (waiting
// for room, parsing); with no slow peer the storescu is refused.
struct FullServer {
  const char* name;
  int fast2, fast3, slow3, newcomers;
  bool waitingForRoom;
  bool parsing = false;
};

class AFullServer : public ::testing::TestWithParam<FullServer> {};

TEST_P(AFullServer, GivesANewcomerTheSlotOfTheSlowestPeerOnly) {
  const FullServer row = GetParam();
  MessageCapture messages;
  CallbackCapture log;
  redIRI::detail::ServerBounds bounds;
  bounds.maxConnections = row.fast2 + row.fast3 + row.slow3 + (row.waitingForRoom || row.parsing ? 2 : 0);
  bounds.maxPerAddress = 6;
  bounds.takeoverGraceMs = 0;
  bounds.dimseTimeout = 30;  // the wait for room
  if (row.waitingForRoom) bounds.rateWindowMs = 500;
  if (row.parsing) bounds.rateWindowMs = 100;  // well inside the parse
  const LoweredBounds lowered(bounds);
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  struct Holder {
    std::string from;
    RawAssociation assoc;
    std::vector<uint8_t> bytes;
    size_t at = 0;
  };
  std::vector<std::unique_ptr<Holder>> fast, slow;
  auto open = [&](std::vector<std::unique_ptr<Holder>>& into, const std::string& from, int side) {
    into.push_back(std::make_unique<Holder>());
    Holder& h = *into.back();
    h.from = from;
    const std::string image = f.dir.file("held" + std::to_string(fast.size() + slow.size()) + ".dcm");
    writeImage(image, greySpec(side, side));
    h.bytes = encodedDataSet(image);
    std::string error;
    EXPECT_TRUE(h.assoc.open(from, f.port, UID_SecondaryCaptureImageStorage, error)) << error;
    EXPECT_TRUE(h.assoc.beginStore(tag(image, DCM_SOPInstanceUID), {}));
  };
  auto send = [](Holder& h, size_t n) {
    n = std::min(n, h.bytes.size() - 2 - h.at);
    if (h.assoc.pdv(false, {h.bytes.begin() + long(h.at), h.bytes.begin() + long(h.at + n)}, false)) h.at += n;
  };
  for (int i = 0; i < row.fast2 + row.fast3; ++i) open(fast, i < row.fast2 ? "127.0.0.2" : "127.0.0.3", 1024);
  for (int i = 0; i < row.slow3; ++i) open(slow, "127.0.0.3", 128);
  // The budget held whole by another receipt in the process, so the image waits at its first bytes.
  std::unique_ptr<redIRI::detail::ReceiveHold> elsewhere;
  RawAssociation quiet;
  if (row.waitingForRoom) {
    elsewhere = std::make_unique<redIRI::detail::ReceiveHold>();
    ASSERT_TRUE(elsewhere->growTo(bounds.receiveBudget));
    open(fast, "127.0.0.2", 128);
    send(*fast.back(), 512);
    ASSERT_TRUE(waitUntil([] { return redIRI::detail::receiveBudgetWaits() == 1; }));
    std::string error;
    ASSERT_TRUE(quiet.open("127.0.0.4", f.port, UID_SecondaryCaptureImageStorage, error)) << error;
  }
  // The dense image: 1 Mi empty items, 8 MB sent at once and a second or more of parse.
  RawAssociation parsed;
  std::string parsedAnswer;
  std::thread parsing;
  struct Joined {
    std::thread& thread;
    ~Joined() {
      if (thread.joinable()) thread.join();
    }
  } joined{parsing};
  if (row.parsing) {
    const int items = 1 << 20;
    const std::string instance = newTestUid();
    const std::vector<uint8_t> dense = identified(UID_SecondaryCaptureImageStorage, instance, emptyItems(items));
    std::string error;
    ASSERT_TRUE(parsed.open("127.0.0.2", f.port, UID_SecondaryCaptureImageStorage, error)) << error;
    ASSERT_TRUE(parsed.beginStore(instance, {dense.begin(), dense.begin() + 16}));
    parsing = std::thread([&parsed, &parsedAnswer, dense] { parsedAnswer = parsed.finishStore({dense.begin() + 16, dense.end()}); });
    ASSERT_TRUE(quiet.open("127.0.0.4", f.port, UID_SecondaryCaptureImageStorage, error)) << error;
    // Its parse is well under way, several windows past its last byte: three quarters of its tree
    // is charged beside its bytes and their copy.
    ASSERT_TRUE(waitUntil([&] {
      return redIRI::detail::receiveBudgetUsed() >
             2 * dense.size() + uint64_t(items / 4 * 3) * redIRI::detail::kParseNodeBytes;
    }));
  }
  Pacer fastPace(100, [&] {
    for (auto& h : fast)
      if (!row.waitingForRoom) send(*h, 16000);
  });
  Pacer slowPace(250, [&] {
    for (auto& h : slow) send(*h, 512);
  });
  // The peers' pace shows before anyone else comes: 2 s of it.
  ASSERT_TRUE(waitUntil([&] { return row.parsing || (slowPace.rounds() >= 8 && fastPace.rounds() >= 20); }));

  // Each takes the slot of a slow peer or of a silent newcomer before it, or is refused when the
  // one before it came too recently to be judged.
  std::vector<int> silent;
  size_t served = 0;
  for (int i = 0; i < row.newcomers; ++i) {
    const std::string from = "127.0.0." + std::to_string(10 + i);
    silent.push_back(connectFrom(from, f.port));
    ASSERT_GE(silent.back(), 0) << from;
    ASSERT_TRUE(waitLogged(log, {"connection from " + from + ", ", "connection from " + from + " refused"}));
    served += log.logged("connection from " + from + ", ");
    EXPECT_EQ(log.logged("cut to make room for one from " + from), log.logged("connection from " + from + ", "));
  }
  const bool stored = row.slow3 + row.newcomers > 0 || row.waitingForRoom || row.parsing;
  const std::vector<std::string> files = writeSeries(f.dir.file("newcomer"), SeriesSpec(), 1);
  Peer newcomer({"storescu", "127.0.0.1", std::to_string(f.port), files[0]}, f.dir.file("storescu.log"));
  if (row.waitingForRoom) {
    // Its image would wait for room too: once it is served, the room is given back.
    ASSERT_TRUE(waitLogged(log, {"connection from 127.0.0.1, "}));
    elsewhere.reset();
  }
  EXPECT_EQ(newcomer.wait(20000) == 0, stored) << newcomer.log();
  fastPace.stop();
  slowPace.stop();

  EXPECT_EQ(countLogged(log, "connection from 127.0.0.2 cut"), 0u) << "no sender at work is cut";
  if (row.fast3 > 0) {
    EXPECT_EQ(countLogged(log, "connection from 127.0.0.3 cut"), 0u);
  }
  EXPECT_EQ(countLogged(log, "cut to make room"), served + stored);
  size_t expected = stored, slowCut = 0;
  for (auto& h : fast) {
    EXPECT_EQ(h->assoc.finishStore({h->bytes.begin() + long(h->at), h->bytes.end()}), "0x0000") << h->from;
    ++expected;
  }
  for (auto& h : slow) {
    const std::string answer = h->assoc.finishStore({h->bytes.begin() + long(h->at), h->bytes.end()});
    slowCut += answer != "0x0000";
    expected += answer == "0x0000";
  }
  EXPECT_EQ(slowCut, countLogged(log, "connection from 127.0.0.3 cut"));
  if (parsing.joinable()) {
    parsing.join();
    EXPECT_EQ(parsedAnswer, "0x0000") << "the image being parsed is stored";
    ++expected;
  }
  EXPECT_TRUE(messages.waitForCount(3, expected, 20000)) << messages.withCode(3).size() << " records";
  for (int fd : silent) ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Server, AFullServer,
                         ::testing::Values(FullServer{"FastSendersBesideSlowPeers", 5, 0, 3, 0, false},
                                           FullServer{"OnlyFastSenders", 6, 2, 0, 0, false},
                                           FullServer{"NewcomersFromManyAddresses", 6, 0, 2, 6, false},
                                           FullServer{"ASenderWaitingForRoom", 0, 0, 0, 0, true},
                                           FullServer{"ASenderWhoseImageIsBeingParsed", 0, 0, 0, 0, false, true}),
                         [](const ::testing::TestParamInfo<FullServer>& info) { return info.param.name; });

// Two large images, each half sent, hold the receive budget between them; their rests then both
// wait for room that neither will give back. The one that took its share last gives up at once
// (answered "out of resources") and the first goes on, instead of both waiting out the DIMSE
// timeout, here far longer than the test waits.
TEST(Server, LargeImagesThatAllWaitForRoomLetTheFirstGoOn) {
  MessageCapture messages;
  CallbackCapture log;
  redIRI::detail::ServerBounds bounds;
  bounds.receiveBudget = 2500000;  // two halves fit (1 MB each), one whole image and a half do not
  bounds.dimseTimeout = 120;
  const LoweredBounds lowered(bounds);
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  redIRI::detail::SocketWatch watch;
  struct Half {
    std::string image;
    std::vector<uint8_t> bytes;
    std::unique_ptr<redIRI::detail::ClientAssociation> assoc;
    T_ASC_PresentationContextID context = 0;
  } halves[2];
  const size_t half = 400000;
  for (int i = 0; i < 2; ++i) {
    Half& h = halves[i];
    h.image = writeLargeImage(f.dir.file("large" + std::to_string(i) + ".dcm"));
    h.bytes = encodedDataSet(h.image);
    h.assoc = std::make_unique<redIRI::detail::ClientAssociation>(watch);
    h.context = openStoreAssociation(*h.assoc, f.port);
    ASSERT_NE(h.context, 0);
    ASSERT_EQ(sendRawStore(h.assoc->get(), h.context, UID_SecondaryCaptureImageStorage,
                           tag(h.image, DCM_SOPInstanceUID), {h.bytes.begin(), h.bytes.begin() + long(half)}, false,
                           16000),
              "sent");
    // The first takes its share before the second does.
    ASSERT_TRUE(waitUntil([&] { return redIRI::detail::receiveBudgetUsed() >= (i + 1) * 2 * half; }));
  }
  auto finish = [&](Half& h) {
    return finishRawStore(h.assoc->get(), h.context, {h.bytes.begin() + long(half), h.bytes.end()});
  };
  std::string first;
  std::thread rest([&] { first = finish(halves[0]); });
  const std::string second = finish(halves[1]);
  rest.join();
  EXPECT_EQ(first, "0x0000");
  EXPECT_EQ(second, "0xa700");
  EXPECT_TRUE(waitLogged(log, {"refused the image " + tag(halves[1].image, DCM_SOPInstanceUID)}));
  ASSERT_TRUE(messages.waitForCount(3, 1, 20000));
  EXPECT_EQ(filesBelow(f.root), 1u);
  for (Half& h : halves) h.assoc->release();
}

// The receive budget fits the machine: on 8 GB the largest data set the server takes is received;
// on 4 GB the budget is 3/8 of memory and states a smaller largest set. At a thousandth of each
// budget (tests cannot send gigabytes), a data set of the largest stated size is stored and one a
// little larger is answered "out of resources" with a log line that says why.
TEST(Server, TheBudgetReceivesTheLargestSetItStates) {
  using namespace redIRI::detail;
  for (const uint64_t gigabytes : {8, 4}) {
    SCOPED_TRACE(std::to_string(gigabytes) + " GB");
    const uint64_t budget = receiveBudgetFor(gigabytes << 30);
    EXPECT_LE(budget, (gigabytes << 30) / 8 * 3);
    const uint64_t stated = gigabytes == 8 ? kMaxReceivedDataSetBytes : ((uint64_t(3) << 29) - kReceiveTreeAllowance) / 2;
    EXPECT_EQ(largestReceivable(budget), stated);

    MessageCapture messages;
    CallbackCapture log;
    ServerBounds bounds;
    bounds.receiveBudget = budget >> 10;
    const LoweredBounds lowered(bounds);
    ServerFixture f;
    f.server.setRoot(f.root.c_str());
    ASSERT_TRUE(f.begin());
    SocketWatch watch;
    ClientAssociation client(watch);
    const T_ASC_PresentationContextID context = openStoreAssociation(client, f.port);
    ASSERT_NE(context, 0);
    // A data set of `size` bytes (even): its UIDs and an encapsulated document (0042,0011) of the rest.
    auto store = [&](uint64_t size) {
      const std::string instance = newTestUid();
      std::vector<uint8_t> data = identified(UID_SecondaryCaptureImageStorage, instance, {});
      const uint32_t rest = uint32_t(size - data.size() - 12) & ~1u;
      const uint8_t head[12] = {0x42, 0x00, 0x11, 0x00, 'O', 'B', 0, 0, uint8_t(rest), uint8_t(rest >> 8),
                                uint8_t(rest >> 16), uint8_t(rest >> 24)};
      data.insert(data.end(), head, head + 12);
      data.resize(data.size() + rest, 0x5A);
      return sendRawStore(client.get(), context, UID_SecondaryCaptureImageStorage, instance, data, true, 16000);
    };
    const uint64_t largest = largestReceivable(bounds.receiveBudget);
    EXPECT_EQ(store(largest), "0x0000");
    EXPECT_EQ(store(largest + 4096), "0xa700");
    EXPECT_TRUE(waitLogged(log, {"the largest it receives is " + std::to_string(largest) + " bytes"}));
    client.release();
    EXPECT_TRUE(messages.waitForCount(3, 1, 10000));
    EXPECT_EQ(filesBelow(f.root), 1u);
  }
}

// Quiet associations fill what one address may hold: the next is refused at once as a transient
// local limit, and so is a store from there. Silent peers at two other addresses then fill the
// server; a peer from a fourth takes over the slot of one that never sent a byte. A store from the
// first address is still refused until one of its own ends.
TEST(Server, MoreQuietAssociationsThanSlotsGetARefusalNotAStall) {
  MessageCapture messages;
  CallbackCapture log;
  redIRI::detail::ServerBounds bounds;
  bounds.takeoverGraceMs = 0;
  const LoweredBounds lowered(bounds);
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  redIRI::detail::SocketWatch watch;
  std::vector<std::unique_ptr<redIRI::detail::ClientAssociation>> quiet;
  std::string error;
  while (quiet.size() < 64 && openQuiet(watch, f.port, quiet, error)) {
  }
  EXPECT_NE(error.find("Rejected Transient"), std::string::npos) << error;
  EXPECT_NE(error.find("Local Limit Exceeded"), std::string::npos) << error;
  ASSERT_EQ(quiet.size(), size_t(redIRI::detail::kServerMaxPerAddress));

  // Silent peers at 127.0.0.2 and 127.0.0.3, 8 each, take the remaining slots.
  std::vector<int> silent;
  for (size_t open = quiet.size(); open < size_t(redIRI::detail::kServerMaxConnections); ++open) {
    const std::string from = "127.0.0." + std::to_string(2 + silent.size() / 8);
    silent.push_back(connectFrom(from, f.port));
    ASSERT_GE(silent.back(), 0) << from;
    ASSERT_TRUE(waitLogged(log, {"connection from " + from + ", " + std::to_string(open + 1) + " open"}));
  }
  silent.push_back(connectFrom("127.0.0.4", f.port));
  ASSERT_TRUE(waitLogged(log, {"connection from 127.0.0.4, 64 open"}));
  EXPECT_EQ(countLogged(log, "connection from 127.0.0.2 cut to make room for one from 127.0.0.4") +
                countLogged(log, "connection from 127.0.0.3 cut to make room for one from 127.0.0.4"),
            1u);
  ASSERT_TRUE(waitLogged(log, {"closed, 64 open"})) << "the silent peer cut";

  const std::vector<std::string> files = writeSeries(f.dir.file("a"), SeriesSpec(), 1);
  EXPECT_NE(storescu(f, files, f.dir.file("refused.log")), 0);
  EXPECT_NE(readText(f.dir.file("refused.log")).find("Local Limit Exceeded"), std::string::npos)
      << readText(f.dir.file("refused.log"));
  EXPECT_TRUE(log.logged("refused: 48 connections from that address already open"));
  quiet.back()->release();
  quiet.pop_back();
  ASSERT_TRUE(waitLogged(log, {"closed, 63 open"}));
  EXPECT_EQ(storescu(f, files, f.dir.file("stored.log")), 0) << readText(f.dir.file("stored.log"));
  EXPECT_TRUE(messages.waitForCount(3, 1, 10000));
  for (int fd : silent) ::close(fd);
}

// Peers connecting faster than they are served, beyond the slots: a few refusals are written and
// the rest counted once a connection is taken again; a second burst writes none, and the stop
// counts it.
TEST(Server, ABurstBeyondTheSlotsWritesAFewRefusalsThenACount) {
  CallbackCapture log;
  redIRI::detail::ServerBounds bounds;
  bounds.maxConnections = 2;
  bounds.takeoverGraceMs = 600000;  // the silent peers keep their slots
  const LoweredBounds lowered(bounds);
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  std::vector<int> held = {connectLoopback(f.port), connectLoopback(f.port)};
  ASSERT_TRUE(waitLogged(log, {"connection from 127.0.0.1, 2 open"}));
  const int kept = redIRI::detail::kLogLinesPerKind;
  const std::string counted = "connections refused on port " + std::to_string(f.port) + ": ";
  for (int round = 0; round < 2; ++round) {
    std::vector<int> burst;
    for (int i = 0; i < 20; ++i) burst.push_back(connectLoopback(f.port));
    for (int fd : burst) {
      const timeval patience{10, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
      char answer[64];
      ssize_t got = 0;
      for (ssize_t n; (n = ::recv(fd, answer, sizeof(answer), 0)) > 0;) got += n;
      EXPECT_EQ(got, 10) << "the rejection, then the end";
      ::close(fd);
    }
    EXPECT_EQ(countLogged(log, "refused: 2 connections already open"), size_t(kept));
    if (round == 0) {  // a slot frees and is taken again: the refusals stop
      ::close(held.back());
      ASSERT_TRUE(waitLogged(log, {"closed, 1 open"}));
      held.back() = connectLoopback(f.port);
      EXPECT_TRUE(waitLogged(log, {counted + std::to_string(20 - kept) + " more lines left out"}));
    }
  }
  f.server.StopDicomServer();
  EXPECT_TRUE(log.logged(counted + "20 more lines left out"));
  EXPECT_EQ(countLogged(log, "more lines left out"), 2u);
  for (int fd : held) ::close(fd);
}

TEST(Server, UnwritableRootOrFullDiskAnswersFailureAndAnnouncesNothing) {
  // The log names the system's reason; a full disk, once it has room again, stores the next image.
  const struct {
    bool fullDisk;
    const char* reason;
  } cases[] = {{false, "Not a directory"}, {true, "No space left on device"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    MessageCapture messages;
    CallbackCapture log;
    ServerFixture f;
    std::ofstream(f.dir.file("not-a-folder")) << "x";
    if (!c.fullDisk) f.server.setRoot((f.dir.file("not-a-folder") + "/library/").c_str());
    else f.server.setRoot(f.root.c_str());
    redIRI::disk::setRoomForTest(c.fullDisk ? 100 : -1);
    ASSERT_TRUE(f.begin());
    // Larger than the stream's buffer, so that the disk refuses a write inside DCMTK's.
    const std::vector<std::string> files = {f.dir.file("large.dcm")};
    writeImage(files[0], greySpec(128, 128));
    storescu(f, files, f.dir.file("storescu.log"));
    const std::string output = readText(f.dir.file("storescu.log"));
    EXPECT_NE(output.find("Refused: OutOfResources"), std::string::npos) << output;
    EXPECT_TRUE(log.logged("cannot store the image"));
    EXPECT_TRUE(log.logged(c.reason));
    EXPECT_TRUE(messages.withCode(3).empty());
    redIRI::disk::setRoomForTest(-1);
    if (!c.fullDisk) continue;
    EXPECT_EQ(storescu(f, files, f.dir.file("again.log")), 0) << readText(f.dir.file("again.log"));
    EXPECT_TRUE(messages.waitForCount(3, 1, 10000));
  }
}

// A disk that fills while images arrive: on a real small file system where the test can make one
// (else the writer's limit), every image is written whole or refused "out of resources", the last
// megabytes stay free for the library's index, and the server goes on answering.
TEST(Server, ADiskThatFillsRefusesWhatItCannotKeepAndStaysUp) {
  TempDir disk;
  const std::string mounted = disk.file("small");
  fs::create_directories(mounted);
  const unsigned long long size = 12ull << 20;
  std::string why;
  const bool real = redIRI::disk::useSmallDiskForTest(mounted, size, why);
  if (!real) redIRI::disk::setRoomForTest(static_cast<long long>(size - (1 << 20)));
  SCOPED_TRACE(real ? "a 12 MiB file system" : "no small file system (" + why + "): the writer's limit");
  {
    MessageCapture messages;
    CallbackCapture log;
    ServerFixture f;
    const std::string root = mounted + "/library/";
    f.server.setRoot(root.c_str());
    ASSERT_TRUE(f.begin());
    // 40 images of 128 KiB: more than the disk holds beside the index's room.
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
      ImageSpec image = greySpec(256, 256);
      image.strings = {{DCM_SOPInstanceUID, "2.25.64" + std::to_string(1000 + i)}, {DCM_PatientID, "FULL"}};
      files.push_back(f.dir.file("i" + std::to_string(i) + ".dcm"));
      writeImage(files.back(), image);
    }
    std::vector<std::string> argv = {"storescu", "-v", "-nh", "-aec", "ANY", "127.0.0.1", std::to_string(f.port)};
    argv.insert(argv.end(), files.begin(), files.end());
    Peer sender(argv, f.dir.file("storescu.log"));
    sender.wait(60000);
    const std::string output = readText(f.dir.file("storescu.log"));
    size_t stored = 0, refused = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      stored += line.find("Received Store Response (Success)") != std::string::npos;
      refused += line.find("Received Store Response (Refused: OutOfResources") != std::string::npos;
    }
    EXPECT_GT(stored, 0u) << output;
    EXPECT_GT(refused, 0u) << output;
    EXPECT_EQ(stored + refused, files.size()) << output;
    // Each acknowledged image lies whole in the library and was announced; nothing else is there.
    EXPECT_TRUE(messages.waitForCount(3, stored, 10000));
    EXPECT_EQ(messages.withCode(3).size(), stored);
    EXPECT_EQ(filesBelow(root), stored);
    EXPECT_GE(redIRI::disk::freeBytes(root), redIRI::disk::kKeptForIndexBytes - (256 << 10));
    EXPECT_TRUE(log.logged("the disk is full"));
    EXPECT_TRUE(redIRI::disk::takeNoRoomNotice());
    Peer echo({"echoscu", "127.0.0.1", std::to_string(f.port)}, f.dir.file("echo.log"));
    EXPECT_EQ(echo.wait(10000), 0) << echo.log();
  }
  redIRI::disk::setRoomForTest(-1);
  if (real) redIRI::disk::endSmallDiskForTest(mounted);
}

TEST(Server, StopsPromptlyWithIdleAndBadPeersAndFreesThePort) {
  CallbackCapture log;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  // A peer that sends garbage, an association left idle after it was accepted, and a peer that
  // connects and says nothing.
  const int garbage = connectLoopback(f.port);
  ASSERT_GE(garbage, 0);
  const char junk[] = "GET / HTTP/1.0\r\n\r\n this is not DICOM";
  ASSERT_GT(::send(garbage, junk, sizeof(junk), MSG_NOSIGNAL), 0);
  redIRI::detail::SocketWatch watch;
  redIRI::detail::ClientAssociation idle(watch);
  std::string error;
  ASSERT_TRUE(idle.open("127.0.0.1", f.port, "ANY-SCP",
                        {{UID_VerificationSOPClass, redIRI::detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT}}, error))
      << error;

  // The server still serves others.
  Peer echo({"echoscu", "127.0.0.1", std::to_string(f.port)}, f.dir.file("echo.log"));
  EXPECT_EQ(echo.wait(10000), 0) << echo.log();
  EXPECT_TRUE(log.logged("association request on port")) << "the garbage is logged";
  const int silent = connectLoopback(f.port);
  ASSERT_GE(silent, 0);

  const long long start = nowMs();
  f.server.StopDicomServer();
  EXPECT_LT(nowMs() - start, 3000) << "stopping waits for idle peers";
  ::close(silent);
  ::close(garbage);

  // The port is free again: the server can listen on it once more.
  const std::string port = std::to_string(f.port);
  f.server.setPort("", port.c_str(), "tolvrane");
  EXPECT_TRUE(f.server.BeginDicomServer());
  EXPECT_TRUE(f.server.BeginDicomServer()) << "a second begin while running is harmless";
  f.server.StopDicomServer();
}

// The listening socket closed under the server and its number taken by a quiet socket of the
// program just before the server stops: the stop leaves that socket open.
TEST(Server, ItsStopLeavesTheSocketThatTookItsNumberOpen) {
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const int reused = listeningSocket(f.port);
  ASSERT_GE(reused, 0);
  ASSERT_EQ(::dup2(pair[0], reused), reused);
  ::close(pair[0]);
  f.server.StopDicomServer();
  EXPECT_EQ(::send(pair[1], "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT), 1) << "the stop closed a socket not its own";
  ::close(reused);
  ::close(pair[1]);
}

TEST(Server, RefusesAPortInUseAndBadSettings) {
  CallbackCapture log;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  redIRI::dcmServer second;
  second.setRoot(f.root.c_str());
  second.setPort("", std::to_string(f.port).c_str(), "tolvrane");
  EXPECT_FALSE(second.BeginDicomServer());
  EXPECT_TRUE(log.logged("cannot listen on port"));
  second.setPort("", "70000", "tolvrane");
  EXPECT_FALSE(second.BeginDicomServer());
  redIRI::dcmServer rootless;
  rootless.setPort("", std::to_string(freePort()).c_str(), "tolvrane");
  EXPECT_FALSE(rootless.BeginDicomServer());
  EXPECT_STREQ(f.server.getRoot(), f.root.c_str());
}

// Every association socket, ours and the server's, sends at once (Nagle's algorithm off): with
// it on, each C-STORE exchange waits for the peer's delayed acknowledgement. The server's reads
// are bounded by its timeout.
TEST(Server, AssociationSocketsHaveNagleOff) {
  ::setenv("TCP_NODELAY", "0", 1);  // whatever the environment says
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  redIRI::detail::SocketWatch watch;
  redIRI::detail::ClientAssociation client(watch);
  std::string error;
  ASSERT_TRUE(client.open("127.0.0.1", f.port, "ANY-SCP",
                          {{UID_VerificationSOPClass, redIRI::detail::uncompressedSyntaxes(), ASC_SC_ROLE_DEFAULT}}, error))
      << error;
  ::unsetenv("TCP_NODELAY");
  auto noDelay = [](int fd) {
    int value = 0;
    socklen_t len = sizeof(value);
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &len) == 0 && value != 0;
  };
  const int ours = redIRI::detail::associationSocket(client.get());
  ASSERT_GE(ours, 0);
  EXPECT_TRUE(noDelay(ours)) << "the requesting side";

  // The server runs in this process: its end of the connection is the connected socket whose
  // local port is the server's.
  int serverSide = -1;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in local{}, peer{};
    socklen_t n = sizeof(local), m = sizeof(peer);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n) != 0 || local.sin_family != AF_INET) continue;
    if (ntohs(local.sin_port) != f.port || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &m) != 0) continue;
    serverSide = fd;
  }
  ASSERT_GE(serverSide, 0) << "the server's end of the association";
  EXPECT_TRUE(noDelay(serverSide)) << "the accepting side";
  // A peer that stops halfway through a PDU holds its connection one timeout at most.
  timeval bound{};
  socklen_t size = sizeof(bound);
  ASSERT_EQ(::getsockopt(serverSide, SOL_SOCKET, SO_RCVTIMEO, &bound, &size), 0);
  EXPECT_EQ(bound.tv_sec, 10);
  client.release();
}

// A data set that is empty, lacks its UIDs or names another object than its request is refused
// with "data set does not match SOP class": nothing is written, nothing announced, and the good
// copy of the announced instance stays as it was.
TEST(Server, MismatchedDataSetsAreRefusedAndWriteNothing) {
  MessageCapture messages;
  CallbackCapture log;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());
  const std::vector<std::string> files = writeSeries(f.dir.file("a"), SeriesSpec(), 1);
  ASSERT_EQ(storescu(f, files, f.dir.file("storescu.log")), 0);
  ASSERT_TRUE(messages.waitForCount(3, 1, 10000));
  const redIRI::DCM_MESSAGE good = messages.withCode(3)[0].record;
  const std::string stored = f.root + good.SeriesFolder + good.FileName;
  const std::string before = readText(stored);
  ASSERT_FALSE(before.empty());
  messages.clear();

  const std::string sopClass = tag(files[0], DCM_SOPClassUID);
  const std::string sopInstance = tag(files[0], DCM_SOPInstanceUID);
  redIRI::detail::SocketWatch watch;
  redIRI::detail::ClientAssociation client(watch);
  std::string error;
  ASSERT_TRUE(client.open("127.0.0.1", f.port, "ANY-SCP", {{sopClass, redIRI::detail::uncompressedSyntaxes()}}, error))
      << error;
  T_ASC_Association* assoc = client.get();
  const T_ASC_PresentationContextID presId = ASC_findAcceptedPresentationContextID(assoc, sopClass.c_str());
  ASSERT_NE(presId, 0);
  auto store = [&](DcmDataset& data) {
    T_DIMSE_C_StoreRQ request;
    std::memset(&request, 0, sizeof(request));
    request.MessageID = assoc->nextMsgID++;
    OFStandard::strlcpy(request.AffectedSOPClassUID, sopClass.c_str(), sizeof(request.AffectedSOPClassUID));
    OFStandard::strlcpy(request.AffectedSOPInstanceUID, sopInstance.c_str(), sizeof(request.AffectedSOPInstanceUID));
    request.DataSetType = DIMSE_DATASET_PRESENT;
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    T_DIMSE_C_StoreRSP response;
    std::memset(&response, 0, sizeof(response));
    DcmDataset* detail = nullptr;
    const OFCondition cond = DIMSE_storeUser(assoc, presId, &request, nullptr, &data, nullptr, nullptr,
                                             DIMSE_BLOCKING, 0, &response, &detail);
    delete detail;
    return cond.good() ? static_cast<int>(response.DimseStatus) : -1;
  };
  // DCMTK sends no empty data set: the command is followed by one empty PDV.
  auto storeEmpty = [&]() { return sendRawStore(assoc, presId, sopClass, sopInstance, {}); };
  EXPECT_EQ(storeEmpty(), "0xa900") << "an empty data set";
  DcmDataset noUids;
  noUids.putAndInsertString(DCM_PatientName, "OTHER^PATIENT");
  EXPECT_EQ(store(noUids), 0xA900) << "no SOP Class or Instance UID";
  DcmDataset otherClass;
  otherClass.putAndInsertString(DCM_SOPClassUID, UID_MRImageStorage);
  otherClass.putAndInsertString(DCM_SOPInstanceUID, sopInstance.c_str());
  EXPECT_EQ(store(otherClass), 0xA900) << "another SOP class";
  DcmDataset otherInstance;
  otherInstance.putAndInsertString(DCM_SOPClassUID, sopClass.c_str());
  otherInstance.putAndInsertString(DCM_SOPInstanceUID, "2.25.1001.2002.3003");
  otherInstance.putAndInsertString(DCM_PatientName, "OTHER^PATIENT");
  EXPECT_EQ(store(otherInstance), 0xA900) << "another instance";
  client.release();

  EXPECT_EQ(readText(stored), before) << "the good copy is untouched";
  EXPECT_EQ(filesBelow(f.root), 1u);
  EXPECT_TRUE(messages.withCode(3).empty());
  EXPECT_TRUE(log.logged("refused the image " + sopInstance));
}
