// Raw access to the contiguous storage of a valarray, for the hot loops of
// the network and its layers.
#pragma once

#include <valarray>

namespace VXNeural {
namespace detail {

// Null for an empty array, where v[0] would be out of range.
template <typename T>
T* Data(std::valarray<T>& v) {
  return v.size() ? &v[0] : nullptr;
}

template <typename T>
const T* Data(const std::valarray<T>& v) {
  return v.size() ? &v[0] : nullptr;
}

}  // namespace detail
}  // namespace VXNeural
