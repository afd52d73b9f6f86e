#include "AllocationWatch.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Part of the sanitizer runtimes, not declared by every compiler's headers.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
extern "C" size_t __sanitizer_get_current_allocated_bytes();
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#define QV_ALLOCATION_HOOKS 1
#endif

namespace qvtest {

namespace {

std::atomic<int> g_watches{0};
std::atomic<size_t> g_largest{0};
// What was allocated less what was freed since the watch began, and its peak.
std::atomic<long long> g_grown{0}, g_peak{0};

void noteAllocation(size_t size) {
  if (g_watches.load(std::memory_order_relaxed) == 0) return;
  size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
  const long long grown = g_grown.fetch_add((long long)size, std::memory_order_relaxed) + (long long)size;
  long long peak = g_peak.load(std::memory_order_relaxed);
  while (grown > peak && !g_peak.compare_exchange_weak(peak, grown)) {
  }
}

void noteFree(size_t size) {
  if (g_watches.load(std::memory_order_relaxed) == 0) return;
  g_grown.fetch_sub((long long)size, std::memory_order_relaxed);
}

#ifdef QV_ALLOCATION_HOOKS
void onAllocation(const volatile void*, size_t size) { noteAllocation(size); }
void onFree(const volatile void* p) {
  if (p) noteFree(__sanitizer_get_allocated_size(p));
}

bool installHooks() {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(onAllocation, onFree) != 0;
  return installed;
}
#else
// The global allocation functions below see every allocation made through new, the libraries'
// included (DCMTK reserves value buffers with new[]).
bool installHooks() { return true; }
#endif

}  // namespace

AllocationWatch::AllocationWatch() {
  installHooks();
  g_largest = 0;
  g_grown = g_peak = 0;
  ++g_watches;
}

AllocationWatch::~AllocationWatch() { stop(); }

size_t AllocationWatch::heapInUse() {
#ifdef QV_ALLOCATION_HOOKS
  return __sanitizer_get_current_allocated_bytes();
#else
  return ::mallinfo2().uordblks;
#endif
}

bool AllocationWatch::available() {
  // Watching works when a block allocated through new[] while a watch runs is seen.
  static const bool seen = [] {
    if (!installHooks()) return false;
    const size_t kProbe = size_t(3) << 20;
    const size_t before = g_largest.exchange(0);
    ++g_watches;
    void* (*volatile allocateArray)(std::size_t) = &::operator new[];
    void* block = allocateArray(kProbe);
    --g_watches;
    ::operator delete[](block);
    const bool ok = g_largest.load() >= kProbe;
    g_largest = before;
    return ok;
  }();
  return seen;
}

size_t AllocationWatch::largest() const { return g_largest.load(); }

size_t AllocationWatch::peakGrowth() const { return size_t(std::max(0LL, g_peak.load())); }

void AllocationWatch::restart() { g_largest = 0; g_grown = g_peak = 0; }

void AllocationWatch::stop() {
  if (m_running) --g_watches;
  m_running = false;
}

}  // namespace qvtest

#ifndef QV_ALLOCATION_HOOKS
// Without a sanitizer runtime the test program replaces the global allocation functions (the
// sanitizers bring their own, which the hooks above watch instead). They allocate as the
// standard ones do, through malloc, after noting the size; the aligned forms stay the library's,
// each paired with its own delete.
namespace {

void* allocate(std::size_t size) {
  qvtest::noteAllocation(size);
  for (;;) {
    if (void* p = std::malloc(size ? size : 1)) {
      // What the block holds beyond the size asked for is counted too, as its free counts it.
      qvtest::noteAllocation(::malloc_usable_size(p) - size);
      return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* allocateOrNull(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
namespace {
void release(void* p) noexcept {
  if (p) qvtest::noteFree(::malloc_usable_size(p));
  std::free(p);
}
}  // namespace
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
#endif
