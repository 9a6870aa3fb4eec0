#include "vxneural/network/INLayer.h"

#include <cmath>

#include "vxcommon/VXMissing.h"

double INLayer::SafeExp(double x) {
  if (x > kMaxExpArgument) return VXMV::gMissingValue;
  // The limit is rounded to a double that may sit a hair above ln(DBL_MAX).
  const double e = std::exp(x);
  return std::isinf(e) ? VXMV::gMissingValue : e;
}
