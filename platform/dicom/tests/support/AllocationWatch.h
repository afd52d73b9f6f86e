// The largest single allocation made, on any thread, while a watch is running: how tests see
// that hostile input does not make the library reserve what it merely declares. Only builds
// with a sanitizer runtime let the test see allocations; elsewhere largest() stays 0 and
// available() is false.
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
  size_t largest() const;
  void restart();  // forgets what was seen so far
  void stop();  // largest() keeps what was seen

 private:
  bool m_running = true;
};

}  // namespace qvtest
