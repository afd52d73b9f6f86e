// Network test helpers: DCMTK's command-line tools as real peers on 127.0.0.1 (child processes
// with their own folders, ended by their process id), free ports, the library's messages
// collected for inspection, and small series of test images.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LoopbackPorts.h"
#include "dcmLib.h"

namespace qvtest {

class TempDir;

// True once some process listens on the port (read from /proc/net/tcp), within timeoutMs.
bool waitListening(int port, int timeoutMs);

// A TCP listener on 127.0.0.1 that accepts connections and never answers: a peer that hangs.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  int port() const { return m_port; }
  // Accepts one waiting connection within timeoutMs; false when none came.
  bool acceptOne(int timeoutMs);
  // Closes every connection, also those not yet accepted: the peer vanishes.
  void dropConnections();

 private:
  int m_fd = -1;
  int m_port = 0;
  std::vector<int> m_accepted;
};

// A child process started from PATH with its output in logPath. The destructor ends it
// (SIGTERM, then SIGKILL) and reaps it.
class Peer {
 public:
  Peer(const std::vector<std::string>& argv, const std::string& logPath);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  bool started() const { return m_pid > 0; }
  pid_t pid() const { return m_pid; }
  // Waits up to timeoutMs for the process to exit; its exit status, or -1 (then it is killed).
  int wait(int timeoutMs);
  void kill();
  std::string log() const;

 private:
  pid_t m_pid = -1;
  std::string m_log;
};

// A storage peer: storescp writing into its own folder. Extra arguments come before the port.
class StorePeer {
 public:
  explicit StorePeer(const TempDir& dir, const std::vector<std::string>& options = {"+xa"});
  int port() const { return m_port; }
  const std::string& folder() const { return m_folder; }
  bool ready() const { return m_ready; }
  // The files it has written so far.
  std::vector<std::string> files() const;
  // Ends the peer at once: it vanishes in the middle of whatever it was doing.
  void kill() { m_peer->kill(); }

 private:
  int m_port = 0;
  std::string m_folder;
  std::unique_ptr<Peer> m_peer;
  bool m_ready = false;
};

// A query/retrieve peer: dcmqrscp (C-GET enabled) serving `files`, indexed with dcmqridx, with
// called AE title "ANY-SCP". It forks one process per association (its single-process mode
// ends after the first); those end with their association.
class ArchivePeer {
 public:
  ArchivePeer(const TempDir& dir, const std::vector<std::string>& files);
  int port() const { return m_port; }
  bool ready() const { return m_ready; }
  const std::string& configFile() const { return m_config; }

 private:
  int m_port = 0;
  std::string m_config;
  std::unique_ptr<Peer> m_peer;
  bool m_ready = false;
};

// An archive as hospitals run them: Orthanc (Debian package "orthanc") on loopback, in its own
// folder, with any called AE title, holding `files` (sent with storescu) and answering queries
// and C-GET from anyone. Not ready (and `available` false) on a machine without it.
class OrthancPeer {
 public:
  OrthancPeer(const TempDir& dir, const std::vector<std::string>& files);
  static bool available();
  int port() const { return m_port; }
  bool ready() const { return m_ready; }
  std::string log() const { return m_peer ? m_peer->log() : std::string(); }

 private:
  int m_port = 0;
  std::unique_ptr<Peer> m_peer;
  bool m_ready = false;
};

// One message of the library, with a copy of the record for code 3.
struct Message {
  int code = -1;
  std::string text;
  redIRI::DCM_MESSAGE record{};
};

// Collects the library's messages while alive (installs the message callback and removes it).
// `onMessage` (optional) runs inside the callback, on the library's thread, before the message
// is recorded: tests use it to act at an exact point of a transfer.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  std::vector<Message> messages() const;
  std::vector<Message> withCode(int code) const;
  // Waits until pred(messages) holds or timeoutMs pass; returns pred's last answer.
  bool waitFor(const std::function<bool(const std::vector<Message>&)>& pred, int timeoutMs) const;
  bool waitForCount(int code, size_t count, int timeoutMs) const;
  void onMessage(std::function<void(const Message&)> hook);
  void clear();

 private:
  static void onCallback(int code, const char* text);
};

// The codes of messages, in order.
std::vector<int> codesOf(const std::vector<Message>& messages);

// The value of "key" in a flat JSON text (as the library writes them), or "<absent>".
std::string jsonField(const std::string& json, const std::string& key);

// Writes `count` small CT images of one series; returns their paths (folder/name<i>.dcm).
// `strings` are added to (or replace) each file's attributes.
struct SeriesSpec {
  std::string patientName = "DOE^JOHN";
  std::string patientId = "P1";
  std::string studyUid, seriesUid;  // new UIDs when empty
  std::string modality = "CT";
  std::string seriesNumber = "1";
  std::string studyDescription;
  // The image at this index (none when negative) is of this SOP class instead of CT.
  int oddImage = -1;
  std::string oddClass;
};
std::vector<std::string> writeSeries(const std::string& folder, const SeriesSpec& spec, int count);

// The whole content of a text file ("" when missing).
std::string readText(const std::string& path);

// Milliseconds since an arbitrary start, for bounded waits.
long long nowMs();

}  // namespace qvtest
