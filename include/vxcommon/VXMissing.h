// The one missing-value constant shared by the host and every library it links.
#pragma once

#include <cfloat>

namespace VXMV {

/// A numeric value is missing when it compares equal to this constant. A
/// finite sentinel (rather than NaN) is used so that plain equality works and
/// the value survives every arithmetic-free copy, save and restore unchanged.
/// It is the most negative finite double: no real measurement takes it.
inline constexpr double gMissingValue = -DBL_MAX;

inline bool IsMissing(double x) { return x == gMissingValue; }

}  // namespace VXMV
