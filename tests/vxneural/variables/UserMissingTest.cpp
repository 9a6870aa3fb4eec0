// Missing-value intervals: an end given as the missing value leaves that
// side open.
#include <gtest/gtest.h>

#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringUserMissing.h"

using VXMV::gMissingValue;

namespace {

TEST(NumericInterval, MissingValueAsAnEndLeavesItOpen) {
  struct Case {
    NNNumericInterval interval;
    std::vector<double> inside, outside;
    bool leftOpen, rightOpen;
  };
  const Case cases[] = {
      {NNNumericInterval(gMissingValue, 0.0), {-1e308, -5.0, 0.0}, {0.5}, true, false},
      {NNNumericInterval(10.0, gMissingValue), {10.0, 1e300}, {9.999}, false, true},
      {NNNumericInterval(gMissingValue, gMissingValue), {-1e308, 0.0, 1e308}, {}, true, true},
      {NNNumericInterval(3.0, 6.0), {3.0, 6.0}, {2.9, 6.5}, false, false},
      {NNNumericInterval(), {}, {-1.0, -0.5, 0.0, 1.0}, false, false},
  };
  for (const Case& c : cases) {
    for (double x : c.inside) EXPECT_TRUE(c.interval.Contains(x)) << x;
    for (double x : c.outside) EXPECT_FALSE(c.interval.Contains(x)) << x;
    EXPECT_EQ(c.interval.IsLeftOpen(), c.leftOpen);
    EXPECT_EQ(c.interval.IsRightOpen(), c.rightOpen);
  }
  EXPECT_TRUE(NNNumericInterval().IsEmpty());
  EXPECT_EQ(NNNumericInterval(10.0, gMissingValue).GetRightEnd(), gMissingValue);
}

}  // namespace
