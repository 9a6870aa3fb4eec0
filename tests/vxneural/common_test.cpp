// Status values and the enumeration display texts.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <tuple>

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

// Every entry of every shared enumeration, and what a value past either end
// of the list shows: a fixed text (possibly nothing), or, after "#", a
// prefix and the number.
TEST(DisplayTexts, EveryEntryAndEachEnumerationsFallback) {
  const auto of = [](auto e) {
    return std::function<std::string(int)>(
        [](int v) { return DisplayText(static_cast<decltype(e)>(v)); });
  };
  const std::tuple<std::function<std::string(int)>, std::string, std::string> tables[] = {
      {of(kTanH), "TanH|Sigmoid|SoftMax|Identity|Radial Basis|Normalized Radial Basis",
       "Unrecognized"},
      {of(kTrained),
       "Not Started|In Progress|Trained|Updating|Saving|Cancelled|Scoring|Expert|Inconsistent",
       "#"},
      {of(kMLP), "Unknown|MLP|RBF", "#"},
      {of(kCrossEntropy), "Sum of Squares Error|Cross Entropy Error", ""},
      {of(kRBFLayer), "Input|Hidden|Output|RBFLayer", "#"},
      {of(INNVariable::kContinuous),
       "Unknown measure level|Continuous|Numeric Categorical|String Categorical",
       "#Measure level "},
      {of(kGradientDescent), "Scaled Conjugate Gradient|Gradient Descent|Linear Regression", "#"},
      {of(kMixedOutput), "Continuous|Categorical|Mixed", ""},
      {of(kOutStatInvalid), "Default|Computed|Invalid", ""},
      {of(kTestData), "BIC|Test Data", "#"},
      {of(kMinRange),
       "Values are not changed|Subtract mean and divide by standard deviation|"
       "Subtract min and divide by range|2*(subtract min and divide by range)-1",
       "#"},
      {of(kStoppedComputed),
       "Stopped Undefined|Stopped Max Time|Stopped Max Data Passes|Stopped Error Change Limit|"
       "Stopped Error Ratio Limit|Stopped Small Gradient|Stopped Verifying Cycle|"
       "Stopped Accuracy|Stopped Computed",
       "#"},
      {of(kOnline), "Batch|MiniBatch|Online", ""},
      {of(INNVariable::kInput), "Undefined variable role|Input|Output|Unused variable",
       "#Variable role "},
      {of(INNVariable::kReal), "Undefined variable storage|Integer|Real|String|Date|Time|Timestamp",
       "#Variable storage "},
  };
  for (const auto& [text, entries, other] : tables) {
    std::istringstream list(entries);
    int n = 0;
    for (std::string entry; std::getline(list, entry, '|'); ++n) EXPECT_EQ(text(n), entry);
    for (int v : {n, -1})
      EXPECT_EQ(text(v), other[0] == '#' ? other.substr(1) + std::to_string(v) : other)
          << entries << ": " << v;
  }
}
