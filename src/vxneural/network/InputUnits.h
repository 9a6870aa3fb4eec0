// How the readers of input layers bound a unit count that the layer's own
// record does not back.
#pragma once

#include <cstddef>

namespace VXNeural {
namespace detail {

// An input layer stores only its unit count, yet the count sizes its
// arrays. In a saved network the layer above stores at least one value per
// input unit, so a count beyond the values left in the stream (valuesLeft)
// is damage; counts up to 4096 cost nothing to speak of and are taken as
// they are, so that a layer saved alone still reads back.
inline bool InputUnitsPlausible(int units, std::size_t valuesLeft) {
  return units <= 4096 || static_cast<std::size_t>(units) <= valuesLeft;
}

}  // namespace detail
}  // namespace VXNeural
