// The largest single allocation made, on any thread, while a watch is running: how tests see
// that hostile input does not make the library reserve what it merely declares. Builds with a
// sanitizer runtime see every allocation through its hooks; other builds see those made through
// new and new[] (DCMTK's value buffers among them), as the test program replaces the global
// allocation functions.
#pragma once

#include <cstddef>

namespace qvtest {

class AllocationWatch {
 public:
  AllocationWatch();  // starts watching, from 0
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;

  static bool available();
  // The bytes allocated and not yet freed, on all threads: the sanitizer's count in its builds,
  // mallinfo2's otherwise.
  static size_t heapInUse();
  size_t largest() const;
  // The most the heap grew, on all threads, above what it held as the watch began (or restarted):
  // the peak of what is allocated and not yet freed, sampled at every allocation.
  size_t peakGrowth() const;
  void restart();  // forgets what was seen so far
  void stop();  // largest() keeps what was seen

 private:
  bool m_running = true;
};

}  // namespace qvtest
