// Missing-value intervals and the user-missing declarations: membership
// and equality.
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

TEST(UserMissingEquality, ComparesValuesInOrderNotLabels) {
  NNNumericUserMissing a, b, c;
  a.AddValue(1, "a");
  a.AddValue(2, "b");
  b.AddValue(1, "x");
  b.AddValue(2, "y");
  c.AddValue(2, "a");
  c.AddValue(1, "b");
  EXPECT_TRUE(a.IsEqualTo(&b));
  EXPECT_FALSE(a.IsEqualTo(&c));
  EXPECT_FALSE(a.IsEqualTo(nullptr));
  b.SetInterval(NNNumericInterval(0, 1));
  EXPECT_FALSE(a.IsEqualTo(&b));
  a.SetInterval(NNNumericInterval(0, 2));
  EXPECT_FALSE(a.IsEqualTo(&b));
  a.SetInterval(NNNumericInterval(0, 1));
  EXPECT_TRUE(a.IsEqualTo(&b));

  NNStringUserMissing s1, s2;
  s1.AddValue("N/A", "one");
  s2.AddValue("N/A", "two");
  EXPECT_TRUE(s1.IsEqualTo(&s2));
  EXPECT_FALSE(s1.IsEqualTo(&a) || a.IsEqualTo(&s1));
  s2.AddValue("?", "");
  EXPECT_FALSE(s1.IsEqualTo(&s2));
}

}  // namespace
