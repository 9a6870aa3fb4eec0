// Status values: every other test compares them, so their equality must
// itself be checked. The display texts of the shared enumerations.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"

using VXCommon_1_2::VXStatus;

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

// Each value's text, and past the end of the list the enumeration's
// fallback: the number, "Unrecognized" or nothing.
TEST(DisplayText, SelectionCriterionAndEachKindOfFallback) {
  using namespace VXNNCommon;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {DisplayText(kBIC), "BIC"},
      {DisplayText(kTestData), "Test Data"},
      {DisplayText(static_cast<SelectionCriterion>(2)), "2"},
      {DisplayText(static_cast<SelectionCriterion>(-1)), "-1"},
      {DisplayText(static_cast<ActivationFunction>(6)), "Unrecognized"},
      {DisplayText(static_cast<TrainingType>(3)), ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}
