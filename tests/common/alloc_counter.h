// Counts heap allocations while a piece of work runs. This header replaces
// the global operator new and delete, so a test program includes it from
// exactly one source file; the library's allocations go through them too.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace alloc_counter {

inline std::atomic<long> gCount{0};
inline std::atomic<bool> gCounting{false};

// Allocations made while f runs.
template <typename F>
long Allocations(F&& f) {
  gCount = 0;
  gCounting = true;
  f();
  gCounting = false;
  return gCount.load();
}

}  // namespace alloc_counter

// Kept out of line: once inlined into a caller, the compiler pairs the
// caller's new-expression with the free() below and warns of a mismatch.
__attribute__((noinline)) void* operator new(std::size_t n) {
  if (alloc_counter::gCounting.load(std::memory_order_relaxed)) ++alloc_counter::gCount;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// The standard library asks for temporary buffers (stable_sort, for one)
// through the nothrow form and gives them back through the sized delete
// above: both forms must come from malloc, or a sanitizer build sees a
// mismatched pair.
__attribute__((noinline)) void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (alloc_counter::gCounting.load(std::memory_order_relaxed)) ++alloc_counter::gCount;
  return std::malloc(n ? n : 1);
}
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
