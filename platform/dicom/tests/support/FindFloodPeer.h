// A query peer on 127.0.0.1 that will not stop answering: each C-FIND is answered with `matches`
// pending responses, every identifier written with its elements out of tag order (DCMTK warns
// of each), then success. Each match names the patient `patientName`, or FLOOD^PATIENT<n>. It stops early once the association breaks, and notes whether the
// requester cancelled. One association at a time, on the peer's own thread; any called AE title.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/assoc.h>

#include <atomic>
#include <string>
#include <thread>

namespace qvtest {

class FindFloodPeer {
 public:
  explicit FindFloodPeer(size_t matches, std::string patientName = "");
  ~FindFloodPeer();
  FindFloodPeer(const FindFloodPeer&) = delete;
  FindFloodPeer& operator=(const FindFloodPeer&) = delete;

  int port() const { return m_port; }
  bool ready() const { return m_net != nullptr; }
  // Matches written to the requester, all searches together; searches answered to the end.
  size_t sent() const { return m_sent; }
  size_t finished() const { return m_finished; }
  // A C-CANCEL came, or the association was aborted, while answering.
  bool cancelled() const { return m_cancelled; }

 private:
  void run();
  void serve(T_ASC_Association* assoc);

  size_t m_matches;
  std::string m_patientName;
  int m_port = 0;
  T_ASC_Network* m_net = nullptr;
  std::atomic<bool> m_stop{false};
  std::atomic<size_t> m_sent{0}, m_finished{0};
  std::atomic<bool> m_cancelled{false};
  std::thread m_thread;
};

}  // namespace qvtest
