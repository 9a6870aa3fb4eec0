// Status values and the enumeration display texts.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/variables/INNVariable.h"

using VXCommon_1_2::VXStatus;
using namespace VXNNCommon;

TEST(VXStatus, SeverityFollowsTheConstructorFlag) {
  EXPECT_TRUE(VXStatus().IsOK());
  const VXStatus warning(6, true), error(50006, false);
  EXPECT_TRUE(warning.IsWarning() && !warning.IsError() && warning.GetSeverity() == 1);
  EXPECT_TRUE(error.IsError() && error.GetSeverity() == -1 && error.GetErrorCode() == 50006);
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
  // Indices outside 0..2 read 0 and write nothing.
  a.SetDiscreteDatum(3, 9);
  EXPECT_EQ(a.GetDiscreteDatum(3), 0);
  EXPECT_EQ(a.GetScaleDatum(-1), 0.0);
}

TEST(DisplayTexts, KnownValuesAndEachEnumerationsFallback) {
  const std::pair<std::string, std::string> cases[] = {
      {DisplayText(kNormalizedRadialBasis), "Normalized Radial Basis"},
      {DisplayText(kInconsistent), "Inconsistent"},
      {DisplayText(kRBF), "RBF"},
      {DisplayText(kCrossEntropy), "Cross Entropy Error"},
      {DisplayText(kRBFLayer), "RBFLayer"},
      {DisplayText(kLinearRegression), "Linear Regression"},
      {DisplayText(kMixedOutput), "Mixed"},
      {DisplayText(kOutStatInvalid), "Invalid"},
      {DisplayText(kTestData), "Test Data"},
      {DisplayText(kMinRangeSymmetric), "2*(subtract min and divide by range)-1"},
      {DisplayText(kStoppedComputed), "Stopped Computed"},
      {DisplayText(kOnline), "Online"},
      {DisplayText(INNVariable::kStringCategorical), "String Categorical"},
      {DisplayText(INNVariable::kUnused), "Unused variable"},
      {DisplayText(INNVariable::kTimestamp), "Timestamp"},
      {DisplayText(static_cast<ActivationFunction>(6)), "Unrecognized"},
      {DisplayText(static_cast<AlgorithmStatus>(9)), "9"},
      {DisplayText(static_cast<AlgorithmType>(-1)), "-1"},
      {DisplayText(static_cast<ErrorFunction>(2)), ""},
      {DisplayText(static_cast<LayerType>(4)), "4"},
      {DisplayText(static_cast<NetworkOutputType>(3)), ""},
      {DisplayText(static_cast<OutStatStatus>(3)), ""},
      {DisplayText(static_cast<StopReason>(9)), "9"},
      {DisplayText(static_cast<TrainingType>(3)), ""},
      {DisplayText(static_cast<INNVariable::MeasureLevel>(7)), "Measure level 7"},
      {DisplayText(static_cast<INNVariable::VariableRole>(4)), "Variable role 4"},
      {DisplayText(static_cast<INNVariable::VariableStorage>(7)), "Variable storage 7"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}
