// Status values and the enumeration display texts.
#include <gtest/gtest.h>

#include <sstream>

#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/variables/INNVariable.h"

using VXCommon_1_2::VXStatus;
using namespace VXNNCommon;

TEST(VXStatus, SeverityFollowsTheConstructorFlag) {
  const VXStatus ok;
  EXPECT_TRUE(ok.IsOK());
  EXPECT_EQ(ok.GetErrorCode(), 0);
  const VXStatus warning(6, true);
  EXPECT_TRUE(warning.IsWarning());
  EXPECT_FALSE(warning.IsError());
  EXPECT_EQ(warning.GetSeverity(), 1);
  const VXStatus error(50006, false);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(error.GetSeverity(), -1);
  EXPECT_EQ(error.GetErrorCode(), 50006);
}

TEST(VXStatus, EqualityComparesCodeSeverityAndAllData) {
  VXStatus a(50003, true), b(50003, true);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, VXStatus(50003, false));
  b.SetDiscreteDatum(2, 4);
  EXPECT_NE(a, b);
  a.SetDiscreteDatum(2, 4);
  EXPECT_EQ(a, b);
  a.SetScaleDatum(0, 0.5);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.GetScaleDatum(0), 0.5);
  // Indices outside 0..2 read 0 and write nothing.
  a.SetDiscreteDatum(3, 9);
  EXPECT_EQ(a.GetDiscreteDatum(3), 0);
  EXPECT_EQ(a.GetScaleDatum(-1), 0.0);
}

TEST(DisplayTexts, KnownValuesGiveTheirTexts) {
  EXPECT_EQ(DisplayText(kNormalizedRadialBasis), "Normalized Radial Basis");
  EXPECT_EQ(DisplayText(kInconsistent), "Inconsistent");
  EXPECT_EQ(DisplayText(kRBF), "RBF");
  EXPECT_EQ(DisplayText(kCrossEntropy), "Cross Entropy Error");
  EXPECT_EQ(DisplayText(kRBFLayer), "RBFLayer");
  EXPECT_EQ(DisplayText(kLinearRegression), "Linear Regression");
  EXPECT_EQ(DisplayText(kMixedOutput), "Mixed");
  EXPECT_EQ(DisplayText(kOutStatInvalid), "Invalid");
  EXPECT_EQ(DisplayText(kTestData), "Test Data");
  EXPECT_EQ(DisplayText(kMinRangeSymmetric), "2*(subtract min and divide by range)-1");
  EXPECT_EQ(DisplayText(kStoppedComputed), "Stopped Computed");
  EXPECT_EQ(DisplayText(kOnline), "Online");
  EXPECT_EQ(DisplayText(INNVariable::kStringCategorical), "String Categorical");
  EXPECT_EQ(DisplayText(INNVariable::kUnused), "Unused variable");
  EXPECT_EQ(DisplayText(INNVariable::kTimestamp), "Timestamp");
}

TEST(DisplayTexts, OutOfRangeValuesUseEachEnumerationsFallback) {
  EXPECT_EQ(DisplayText(static_cast<ActivationFunction>(6)), "Unrecognized");
  EXPECT_EQ(DisplayText(static_cast<AlgorithmStatus>(9)), "9");
  EXPECT_EQ(DisplayText(static_cast<AlgorithmType>(-1)), "-1");
  EXPECT_EQ(DisplayText(static_cast<ErrorFunction>(2)), "");
  EXPECT_EQ(DisplayText(static_cast<LayerType>(4)), "4");
  EXPECT_EQ(DisplayText(static_cast<NetworkOutputType>(3)), "");
  EXPECT_EQ(DisplayText(static_cast<OutStatStatus>(3)), "");
  EXPECT_EQ(DisplayText(static_cast<StopReason>(9)), "9");
  EXPECT_EQ(DisplayText(static_cast<TrainingType>(3)), "");
  EXPECT_EQ(DisplayText(static_cast<INNVariable::MeasureLevel>(7)), "Measure level 7");
  EXPECT_EQ(DisplayText(static_cast<INNVariable::VariableRole>(4)), "Variable role 4");
  EXPECT_EQ(DisplayText(static_cast<INNVariable::VariableStorage>(7)), "Variable storage 7");
}
