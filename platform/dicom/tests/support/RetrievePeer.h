// A C-GET peer on 127.0.0.1 built on DCMTK's network layer, behaving as archives that keep
// compressed files do (dcmqrscp sends over the first context of a class, whatever its syntax):
// - in every proposed context it accepts an uncompressed syntax when one is offered, else the
//   first syntax DCMTK knows;
// - it sends each stored file unchanged, over a context accepted for the file's SOP class and
//   the syntax it is stored in (either little endian syntax for an uncompressed file);
// - it converts nothing: without such a context the sub-operation fails.
// It answers image-level C-FIND queries with each image's SOP Class UID (dcmqrscp, which does not
// keep it, stands for archives that do not say), and can refuse the storage contexts of one class.
// It can also behave as odd archives do: answer success whatever the retriever refused, announce
// images under other SOP Instance UIDs than they carry, list images of thousands of classes whose
// UIDs hold control characters and bytes that are no UTF-8 (and count them failed when asked for
// them), list the series' images slowly, list only some of them, and send other files than the
// series' (an archive whose database maps the series to files of another series or patient).
// One association at a time, served on the peer's own thread; any called AE title.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

class RetrievePeer {
 public:
  explicit RetrievePeer(const std::vector<std::string>& files);
  ~RetrievePeer();
  RetrievePeer(const RetrievePeer&) = delete;
  RetrievePeer& operator=(const RetrievePeer&) = delete;

  int port() const { return m_port; }
  bool ready() const { return m_net != nullptr; }
  // What became of each file asked for: "<path> sent" or "<path> refused: <why>" (the retriever's
  // status and error comment).
  std::vector<std::string> events() const;
  // From now on a retrieval ends after this many files: the peer aborts the association, as a
  // server stopped mid-way does. Negative: never.
  void cutAfter(int files) { m_cutAfter = files; }
  // Storage contexts of this class are not accepted.
  void refuseClass(const std::string& sopClass) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_refused = sopClass;
  }
  // Every image the retriever refuses is counted completed, and the retrieval ends in success.
  void ignoreRefusals(bool ignore) { m_ignoreRefusals = ignore; }
  // Every image after the first `first` of a retrieval is announced under a SOP Instance UID it
  // does not carry (negative: none).
  void announceOtherInstancesAfter(int first) { m_otherInstancesAfter = first; }
  // The image-level answer also lists one image of each of `count` classes named
  // "1.9.<ESC>[31m<n><BEL><0xFF>", which a retrieval counts as failed sub-operations.
  void listJunkClasses(int count) { m_junkClasses = count; }
  // Each image-level match is sent this many milliseconds after the one before (or the request),
  // unless the retriever cancels or leaves meanwhile.
  void listSlowly(int milliseconds) { m_listPauseMs = milliseconds; }
  // The image-level answer lists only the series' first `count` images (negative: all).
  void listOnly(int count) { m_listOnly = count; }
  // A C-GET of any series sends these of the peer's files, in this order (empty: the series' own).
  void sendOnGet(const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sendOnGet = paths;
  }

 private:
  struct Stored {
    std::string path, sopClass, sopInstance, series, syntax;
  };
  void run();
  void serve(T_ASC_Association* assoc);
  void answerGet(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, const T_DIMSE_C_GetRQ& request);
  void answerFind(T_ASC_Association* assoc, T_ASC_PresentationContextID presId, const T_DIMSE_C_FindRQ& request);
  void note(const std::string& event);

  std::vector<Stored> m_files;
  int m_port = 0;
  T_ASC_Network* m_net = nullptr;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_cutAfter{-1};
  std::atomic<bool> m_ignoreRefusals{false};
  std::atomic<int> m_otherInstancesAfter{-1};
  std::atomic<int> m_junkClasses{0};
  std::atomic<int> m_listPauseMs{0};
  std::atomic<int> m_listOnly{-1};
  std::string m_refused;
  std::vector<std::string> m_sendOnGet;
  std::thread m_thread;
  mutable std::mutex m_lock;
  std::vector<std::string> m_events;
};

}  // namespace qvtest
