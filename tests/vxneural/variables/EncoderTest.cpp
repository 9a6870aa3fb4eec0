// The three encoders: worked standardizations, category codes, and the
// user-missing values that get no code.
#include <gtest/gtest.h>

#include <cmath>

#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"

using VXMV::gMissingValue;
using namespace VXNNCommon;

namespace {

NNContVar Var(double min, double max, double mean, double variance, INNVariable::VariableRole role,
              double correction) {
  return NNContVar("x", "", min, max, mean, variance, role, INNVariable::kReal, correction);
}

// Slopes and intercepts worked by hand. The correction widens the range of
// outputs only; mean and standard deviation ignore it except in the range.
// Missing and user-missing values stay missing in every mode.
TEST(LinearEncoder, StandardizationModesAndMissingValues) {
  struct Case {
    Standardization mode;
    INNVariable::VariableRole role;
    double min, max, mean, variance, correction;
    double slope, intercept, rangeMin, rangeMax;
  };
  const Case cases[] = {
      {kMinRange, INNVariable::kOutput, 0, 10, 5, 9, 1, 1.0 / 12, 1.0 / 12, -1, 11},
      {kMinRange, INNVariable::kInput, 0, 10, 5, 9, 1, 0.1, 0, 0, 10},
      {kMinRangeSymmetric, INNVariable::kInput, 0, 4, 2, 1, 0.5, 0.5, -1, 0, 4},
      {kMeanStdDev, INNVariable::kOutput, 0, 10, 5, 4, 3, 0.5, -2.5, -3, 13},
      {kNoStandardization, INNVariable::kInput, 0, 10, 5, 4, 0, 1, 0, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(DisplayText(c.mode) + " " + DisplayText(c.role));
    NNLinearEncoder e(c.mode, Var(c.min, c.max, c.mean, c.variance, c.role, c.correction));
    EXPECT_DOUBLE_EQ(e.GetSlope(), c.slope);
    EXPECT_DOUBLE_EQ(e.GetIntercept(), c.intercept);
    EXPECT_DOUBLE_EQ(e.GetMin(), c.rangeMin);
    EXPECT_DOUBLE_EQ(e.GetMax(), c.rangeMax);
    EXPECT_DOUBLE_EQ(e.Normalize(3.0), c.slope * 3.0 + c.intercept);
    EXPECT_DOUBLE_EQ(e.Unnormalize(e.Normalize(7.25)), 7.25);
    const auto points = e.GetLinearNormData();
    EXPECT_DOUBLE_EQ(points[1], c.slope * points[0] + c.intercept);
    EXPECT_DOUBLE_EQ(points[3], c.slope * points[2] + c.intercept);
    EXPECT_EQ(e.Normalize(gMissingValue), gMissingValue);
    auto* um = new NNNumericUserMissing();
    um->SetInterval(NNNumericInterval(gMissingValue, -1.0));
    ASSERT_TRUE(e.SetUserMissingInfo(um));
    EXPECT_EQ(e.Normalize(-3.0), gMissingValue);
    EXPECT_EQ(e.Normalize(-1.0), gMissingValue);
    EXPECT_NE(e.Normalize(-0.5), gMissingValue);
  }
  // The line through (0, -1) and (4, 1).
  const NNLinearEncoder line(0.0, -1.0, 4.0, 1.0);
  EXPECT_DOUBLE_EQ(line.GetSlope(), 0.5);
  EXPECT_DOUBLE_EQ(line.GetIntercept(), -1.0);
}

TEST(CatNumEncoder, CodesInOrderOfFirstAppearanceMissingGetsNone) {
  NNCatNumEncoder e(std::vector<double>{3.0, gMissingValue, 1.0, NAN, 3.0});
  EXPECT_EQ(e.GetCateValues(), (std::vector<double>{3.0, 1.0}));
  EXPECT_EQ(e.Decode(1), 1.0);
  EXPECT_EQ(e.Decode(2), gMissingValue);
  EXPECT_EQ(e.Decode(-1), gMissingValue);
  EXPECT_EQ(e.EncodeConst(7.0), -1);
  EXPECT_EQ(e.EncodeConst(1.0), 1);
  auto* um = new NNNumericUserMissing();
  um->AddValue(9.0, "");
  ASSERT_TRUE(e.SetUserMissingInfo(um));
  for (double missing : {9.0, gMissingValue, static_cast<double>(NAN)})
    EXPECT_EQ(e.Encode(missing), -1) << missing;
  EXPECT_EQ(e.GetNumberOfCategories(), 2);
  EXPECT_EQ(e.Encode(7.0), 2);
}

TEST(StringEncoder, CodesInOrderUserMissingGetsNone) {
  NNStringEncoder e;
  for (const char* s : {"b", "a", "b", ""}) e.Encode(s);
  EXPECT_EQ(e.EncodeConst("b"), 0);
  EXPECT_EQ(e.EncodeConst(""), 2);
  EXPECT_EQ(e.Decode(1), "a");
  EXPECT_EQ(e.Decode(3), "");
  EXPECT_EQ(e.Decode(-1), "");
  EXPECT_EQ(e.EncodeConst("B"), -1);
  auto* um = new NNStringUserMissing();
  um->AddValue("NA", "");
  ASSERT_TRUE(e.SetUserMissingInfo(um));
  EXPECT_EQ(e.Encode("NA"), -1);
  EXPECT_EQ(e.GetNumberOfCategories(), 3);
  EXPECT_EQ(e.Encode("na"), 3) << "user-missing strings match case and all";
  std::vector<std::string> values{"keep"};
  e.GetCateValues(values);
  EXPECT_EQ(values, (std::vector<std::string>{"keep", "b", "a", "", "na"}));
}

}  // namespace
