#include "AllocationWatch.h"

#include <atomic>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Part of the sanitizer runtimes, not declared by every compiler's headers.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
#define QV_ALLOCATION_HOOKS 1
#endif

namespace qvtest {

namespace {

std::atomic<int> g_watches{0};
std::atomic<size_t> g_largest{0};

#ifdef QV_ALLOCATION_HOOKS
void onAllocation(const volatile void*, size_t size) {
  if (g_watches.load(std::memory_order_relaxed) == 0) return;
  size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
}
void onFree(const volatile void*) {}

bool installHooks() {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(onAllocation, onFree) != 0;
  return installed;
}
#else
bool installHooks() { return false; }
#endif

}  // namespace

AllocationWatch::AllocationWatch() {
  installHooks();
  g_largest = 0;
  ++g_watches;
}

AllocationWatch::~AllocationWatch() { stop(); }

bool AllocationWatch::available() { return installHooks(); }

size_t AllocationWatch::largest() const { return g_largest.load(); }

void AllocationWatch::restart() { g_largest = 0; }

void AllocationWatch::stop() {
  if (m_running) --g_watches;
  m_running = false;
}

}  // namespace qvtest
