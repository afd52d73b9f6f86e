#include "DicomPeers.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "DicomTestData.h"

extern char** environ;

namespace qvtest {

namespace fs = std::filesystem;

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

bool listensIn(const char* table, int port) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    const size_t colon = local.rfind(':');
    if (colon == std::string::npos || state != "0A") continue;
    if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) return true;
  }
  return false;
}

}  // namespace

bool waitListening(int port, int timeoutMs) {
  const long long deadline = nowMs() + timeoutMs;
  do {
    if (listensIn("/proc/net/tcp", port) || listensIn("/proc/net/tcp6", port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (nowMs() < deadline);
  return false;
}

// ---- SilentListener ----------------------------------------------------------------------------

SilentListener::SilentListener() {
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(m_fd, 16) != 0 ||
      ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    ADD_FAILURE() << "cannot listen on 127.0.0.1";
  m_port = ntohs(a.sin_port);
}

SilentListener::~SilentListener() {
  dropConnections();
  ::close(m_fd);
}

bool SilentListener::acceptOne(int timeoutMs) {
  pollfd p{m_fd, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return false;
  const int fd = ::accept(m_fd, nullptr, nullptr);
  if (fd < 0) return false;
  m_accepted.push_back(fd);
  return true;
}

void SilentListener::dropConnections() {
  while (acceptOne(0)) {
  }
  for (int fd : m_accepted) ::close(fd);
  m_accepted.clear();
}

// ---- Peer -------------------------------------------------------------------------------------------

Peer::Peer(const std::vector<std::string>& argv, const std::string& logPath) : m_log(logPath) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Forked rather than spawned so that the peer dies with a test process that is killed.
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  m_pid = pid;
  if (m_pid <= 0) ADD_FAILURE() << "cannot start " << argv[0] << " (scripts/install-deps installs dcmtk)";
}

Peer::~Peer() { kill(); }

int Peer::wait(int timeoutMs) {
  if (m_pid <= 0) return -1;
  const long long deadline = nowMs() + timeoutMs;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
      m_pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (nowMs() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill();
  return -1;
}

void Peer::kill() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  const long long deadline = nowMs() + 2000;
  int status = 0;
  while (::waitpid(m_pid, &status, WNOHANG) == 0) {
    if (nowMs() >= deadline) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_pid = -1;
}

std::string Peer::log() const { return readText(m_log); }

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- StorePeer ----------------------------------------------------------------------------------------

StorePeer::StorePeer(const TempDir& dir, const std::vector<std::string>& options) {
  m_folder = dir.file("storescp-in");
  fs::create_directories(m_folder);
  m_port = freePort();
  std::vector<std::string> argv = {"storescp", "-od", m_folder, "-dhl"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(std::to_string(m_port));
  m_peer = std::make_unique<Peer>(argv, dir.file("storescp.log"));
  m_ready = m_peer->started() && waitListening(m_port, 5000);
  if (!m_ready) ADD_FAILURE() << "storescp did not start:\n" << m_peer->log();
}

std::vector<std::string> StorePeer::files() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) out.push_back(it->path().string());
  return out;
}

// ---- ArchivePeer ----------------------------------------------------------------------------------------

ArchivePeer::ArchivePeer(const TempDir& dir, const std::vector<std::string>& files) {
  const std::string storage = dir.file("archive");
  fs::create_directories(storage);
  std::vector<std::string> index = {"dcmqridx", storage};
  index.insert(index.end(), files.begin(), files.end());
  if (!mustRun(index, dir)) return;

  m_port = freePort();
  m_config = dir.file("dcmqrscp.cfg");
  std::ofstream(m_config) << "NetworkTCPPort = " << m_port << "\nMaxPDUSize = 16384\nMaxAssociations = 4\n"
                          << "HostTable BEGIN\nHostTable END\nVendorTable BEGIN\nVendorTable END\n"
                          << "AETable BEGIN\nANY-SCP " << storage << " RW (100, 1024mb) ANY\nAETable END\n";
  m_peer = std::make_unique<Peer>(
      std::vector<std::string>{"dcmqrscp", "-dhl", "-c", m_config, "+U8", std::to_string(m_port)},
      dir.file("dcmqrscp.log"));
  m_ready = m_peer->started() && waitListening(m_port, 5000);
  if (!m_ready) ADD_FAILURE() << "dcmqrscp did not start:\n" << m_peer->log();
}

// ---- OrthancPeer ------------------------------------------------------------------------------------------

namespace {
const char* const kOrthanc = "/usr/sbin/Orthanc";
}

bool OrthancPeer::available() { return access(kOrthanc, X_OK) == 0; }

OrthancPeer::OrthancPeer(const TempDir& dir, const std::vector<std::string>& files) {
  if (!available()) return;
  const std::string storage = dir.file("orthanc");
  fs::create_directories(storage);
  m_port = freePort();
  const int httpPort = freePort();
  const std::string config = dir.file("orthanc.json");
  std::ofstream(config) << "{\"StorageDirectory\": \"" << storage << "\", \"IndexDirectory\": \"" << storage
                        << "\", \"DicomPort\": " << m_port << ", \"HttpPort\": " << httpPort
                        << ", \"RemoteAccessAllowed\": false, \"DicomCheckCalledAet\": false, \"UnknownSopClassAccepted\": "
                           "true, \"DicomAlwaysAllowStore\": true, \"DicomAlwaysAllowFind\": true, "
                           "\"DicomAlwaysAllowGet\": true, \"Plugins\": []}\n";
  m_peer = std::make_unique<Peer>(std::vector<std::string>{kOrthanc, config}, dir.file("orthanc.log"));
  if (!m_peer->started() || !waitListening(m_port, 20000)) {
    ADD_FAILURE() << "Orthanc did not start:\n" << m_peer->log();
    return;
  }
  std::vector<std::string> argv = {"dcmsend", "-nuc", "127.0.0.1", std::to_string(m_port)};
  argv.insert(argv.end(), files.begin(), files.end());
  Peer dcmsend(argv, dir.file("orthanc-dcmsend.log"));
  const int status = dcmsend.wait(60000);
  if (status != 0) ADD_FAILURE() << "Orthanc did not take the files:\n" << dcmsend.log();
  m_ready = status == 0;
}

// ---- MessageCapture -------------------------------------------------------------------------------------

namespace {

std::mutex g_lock;
std::condition_variable g_changed;
std::vector<Message> g_messages;
std::function<void(const Message&)> g_hook;

}  // namespace

MessageCapture::MessageCapture() {
  clear();
  redIRI::setMsgCallback(&MessageCapture::onCallback);
}

MessageCapture::~MessageCapture() {
  redIRI::setMsgCallback(nullptr);
  std::lock_guard<std::mutex> lock(g_lock);
  g_hook = nullptr;
}

void MessageCapture::onCallback(int code, const char* text) {
  Message m;
  m.code = code;
  if (code == 3) {
    // The record is ours now.
    const auto* record = reinterpret_cast<const redIRI::DCM_MESSAGE*>(text);
    m.record = *record;
    delete record;
  } else {
    m.text = text ? text : "";
  }
  // The hook runs before the message becomes visible to waiting tests.
  std::function<void(const Message&)> hook;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    hook = g_hook;
  }
  if (hook) hook(m);
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_messages.push_back(m);
  }
  g_changed.notify_all();
}

std::vector<Message> MessageCapture::messages() const {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_messages;
}

std::vector<Message> MessageCapture::withCode(int code) const {
  std::vector<Message> out;
  for (const Message& m : messages())
    if (m.code == code) out.push_back(m);
  return out;
}

bool MessageCapture::waitFor(const std::function<bool(const std::vector<Message>&)>& pred, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(g_lock);
  return g_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(g_messages); });
}

bool MessageCapture::waitForCount(int code, size_t count, int timeoutMs) const {
  return waitFor(
      [code, count](const std::vector<Message>& all) {
        size_t n = 0;
        for (const Message& m : all) n += m.code == code ? 1 : 0;
        return n >= count;
      },
      timeoutMs);
}

void MessageCapture::onMessage(std::function<void(const Message&)> hook) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_hook = std::move(hook);
}

void MessageCapture::clear() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_messages.clear();
}

std::vector<int> codesOf(const std::vector<Message>& messages) {
  std::vector<int> out;
  for (const Message& m : messages) out.push_back(m.code);
  return out;
}

std::string jsonField(const std::string& json, const std::string& key) {
  const std::string open = "\"" + key + "\":\"";
  const size_t start = json.find(open);
  if (start == std::string::npos) return "<absent>";
  const size_t end = json.find('"', start + open.size());
  return json.substr(start + open.size(), end - start - open.size());
}

// ---- Test series --------------------------------------------------------------------------------------

std::vector<std::string> writeSeries(const std::string& folder, const SeriesSpec& spec, int count) {
  fs::create_directories(folder);
  const std::string study = spec.studyUid.empty() ? newTestUid() : spec.studyUid;
  const std::string series = spec.seriesUid.empty() ? newTestUid() : spec.seriesUid;
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    ImageSpec image = greySpec(8, 8);
    image.sopClassUid = i == spec.oddImage ? spec.oddClass : UID_CTImageStorage;
    image.strings = {{DCM_PatientName, spec.patientName},
                     {DCM_PatientID, spec.patientId},
                     {DCM_StudyInstanceUID, study},
                     {DCM_SeriesInstanceUID, series},
                     {DCM_SOPInstanceUID, newTestUid()},
                     {DCM_Modality, spec.modality},
                     {DCM_SeriesNumber, spec.seriesNumber},
                     {DCM_InstanceNumber, std::to_string(i + 1)},
                     {DCM_StudyID, "S1"},
                     {DCM_StudyDate, "20190304"},
                     {DCM_StudyTime, "101520.123456"},
                     {DCM_SeriesDate, "20190304"},
                     {DCM_SeriesTime, "102030"},
                     {DCM_StudyDescription, spec.studyDescription},
                     {DCM_PatientSex, "F"},
                     {DCM_PatientBirthDate, "19700101"}};
    const std::string path = folder + "/image" + std::to_string(i) + ".dcm";
    writeImage(path, image);
    paths.push_back(path);
  }
  return paths;
}

}  // namespace qvtest
