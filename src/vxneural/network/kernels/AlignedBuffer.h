// Buffers of doubles whose first element sits on a 64-byte boundary. The
// kernels load whole vectors from row starts; a 512-bit load from the
// 16-byte alignment of an ordinary vector crosses a cache line three times
// in four, which on processors that split wide loads costs more than the
// multiply-adds it feeds.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace VXNeural {
namespace detail {

template <class T>
struct CacheLineAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlign{64};
  CacheLineAllocator() = default;
  template <class U>
  CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlign); }
  template <class U>
  bool operator==(const CacheLineAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const CacheLineAllocator<U>&) const noexcept {
    return false;
  }
};

using AlignedBuffer = std::vector<double, CacheLineAllocator<double>>;

}  // namespace detail
}  // namespace VXNeural
