// The variable list: what it accepts, how it counts, standardizes and
// copies, and what the debug displays of this module say.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>

#include "VarsTestSupport.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNStringEncoder.h"

using VXMV::gMissingValue;
using namespace VXNNCommon;

namespace {

constexpr auto kIn = INNVariable::kInput;
constexpr auto kOut = INNVariable::kOutput;
constexpr auto kUnused = INNVariable::kUnused;
constexpr auto kReal = INNVariable::kReal;
constexpr auto kStr = INNVariable::kString;

const NNLinearEncoder& Linear(const NNVarList& list, int i) {
  return static_cast<const NNLinearEncoder&>(*list.GetEncoderAt(i));
}

TEST(VarListAdd, RefusesEmptyDuplicateAndNegativeVariance) {
  NNVarList list;
  EXPECT_EQ(list.AddContVar("age", "", 18, 90, 40, 100, kIn, kReal), 0);
  EXPECT_EQ(list.AddContVar("age", "again", 0, 1, 0, 1, kIn, kReal), -1);
  EXPECT_EQ(list.AddCatVar("age", "", std::vector<double>{1, 2}, kIn, kReal), -1);
  EXPECT_EQ(list.AddCatVar("age", "", std::vector<std::string>{"x"}, {"X"}, kIn, kStr), -1);
  EXPECT_EQ(list.AddContVar("", "", 0, 1, 0, 1, kIn, kReal), -1);
  EXPECT_EQ(list.AddCatVar("", "", 3, INNVariable::kStringCategorical, kIn, kStr), -1);
  EXPECT_EQ(list.AddContVar("neg", "", 0, 1, 0, -0.5, kIn, kReal), -1);
  EXPECT_EQ(list.AddContVar("Age", "", 0, 1, 0, 1, kIn, kReal), 1) << "names are case-sensitive";
  EXPECT_EQ(list.AddContVar("flat", "", 0, 1, 0, 0.0, kIn, kReal), 2);
  EXPECT_EQ(list.GetNumContVar(), 3);
  EXPECT_EQ(list.GetNumCatVar(), 0);
  EXPECT_EQ(list.FindVariable("Age"), 1);
  EXPECT_EQ(list.FindVariable("AGE"), -1);
}

TEST(VarListAdd, CategoryCountsRaisedNeverLowered) {
  NNVarList list;
  ASSERT_EQ(list.AddCatVar("n", "", std::vector<double>{1.0, 2.0, 1.0}, kIn, kReal), 0);
  EXPECT_EQ(list.GetVarAt(0)->GetMeasureLevel(), INNVariable::kNumericCategorical);
  EXPECT_EQ(list.GetVarAt(0)->GetNumberOfCategories(), 3) << "the values as given";
  EXPECT_EQ(list.GetEncoderAt(0)->GetNumberOfCategories(), 2);
  ASSERT_EQ(list.AddCatVar("c", "", 1, INNVariable::kNumericCategorical, kIn, kReal), 1);
  ASSERT_EQ(list.AddCatVar("w", "", 5, INNVariable::kStringCategorical, kIn, kStr), 2);
  auto& enc = static_cast<NNCatNumEncoder&>(*list.GetEncoderAt(1));
  for (double v : {4.0, 5.0, 6.0}) enc.Encode(v);
  EXPECT_EQ(list.GetVarAt(1)->GetNumberOfCategories(), 1);
  EXPECT_EQ(list.UpdateNumbersOfCategories(), 3 + 3 + 5);
  EXPECT_EQ(list.GetVarAt(1)->GetNumberOfCategories(), 3);
  EXPECT_EQ(list.GetVarAt(2)->GetNumberOfCategories(), 5);
}

TEST(VarListIndex, RemovalShiftsAndOutOfRangeIsRefused) {
  NNVarList list;
  list.AddCatVar("a", "", std::vector<double>{1, 2}, kIn, kReal);
  list.AddContVar("b", "", 0, 1, 0, 1, kIn, kReal);
  list.AddContVar("c", "", 0, 1, 0, 1, kOut, kReal);
  ASSERT_TRUE(list.RemoveVar(0));
  EXPECT_EQ(list.GetVarAt(0)->GetVariableName(), "b");
  EXPECT_EQ(list.GetNumCatVar(), 0);
  EXPECT_TRUE(list.RemoveVar("c"));
  EXPECT_FALSE(list.RemoveVar("c"));
  EXPECT_EQ(list.GetNumContVar(), 1);
  const NNVarList& c = list;
  for (int i : {-1, 1, 100}) {
    EXPECT_FALSE(list.RemoveVar(i));
    EXPECT_TRUE(list.GetVarAt(i) == nullptr && c.GetVarAt(i) == nullptr);
    EXPECT_TRUE(list.GetEncoderAt(i) == nullptr && c.GetEncoderAt(i) == nullptr);
    EXPECT_EQ(list.GetVariableRole(i), INNVariable::kUndefinedRole);
    EXPECT_FALSE(list.SetVariableRole(i, kOut));
    EXPECT_FALSE(list.AddDiscreteUserMissing(i, 1.0, ""));
    EXPECT_FALSE(list.AddDiscreteUserMissing(i, "a", ""));
    EXPECT_FALSE(list.SetMissingInterval(i, 0, 1));
    EXPECT_FALSE(list.SetMissingValueReplacement(i, "0"));
  }
  EXPECT_EQ(list.Size(), 1u);
  EXPECT_TRUE(list.SetVariableRole(0, kOut));
  EXPECT_EQ(list.GetVariableRole(0), kOut);
}

TEST(VarListCounting, UnitsAndNamesByRole) {
  NNVarList list;
  list.AddContVar("age", "", 18, 90, 40, 100, kIn, kReal);
  list.AddCatVar("colour", "", std::vector<std::string>{"r", "g", "b", "k"}, kIn, kStr);
  list.AddContVar("id", "", 0, 1e6, 5e5, 1e10, kUnused, kReal);
  list.AddCatVar("buys", "", std::vector<double>{0, 1}, kOut, kReal);
  list.AddContVar("spend", "", 0, 100, 20, 30, kOut, kReal);
  EXPECT_EQ(list.GetNumInputs(), 5);
  EXPECT_EQ(list.GetNumInputVars(), 2);
  EXPECT_EQ(list.GetNInputCats(), (std::vector<int>{1, 4}));
  EXPECT_EQ(list.GetNOutputCats(), (std::vector<int>{2, 1}));
  std::vector<std::string> in{"stale"}, out{"stale"};
  list.GetVarNames(in, out);
  EXPECT_EQ(in, (std::vector<std::string>{"age", "colour"}));
  EXPECT_EQ(out, (std::vector<std::string>{"buys", "spend"}));
}

TEST(VarListValidity, ConstantAndInvalidVariables) {
  NNVarList list;
  std::vector<int> constant{42}, invalid{42};
  EXPECT_FALSE(list.IsValidList(constant, invalid)) << "empty";
  EXPECT_TRUE(constant.empty() && invalid.empty());
  list.AddContVar("x", "", 0, 1, 0.5, 0.1, kIn, kReal);
  EXPECT_FALSE(list.IsValidList(constant, invalid)) << "no output";
  list.AddCatVar("y", "", std::vector<double>{0, 1}, kOut, kReal);
  EXPECT_TRUE(list.IsValidList(constant, invalid));

  list.AddContVar("flat", "", 3, 3, 3, 0.0, kIn, kReal);                      // 2: constant
  list.AddCatVar("one", "", std::vector<std::string>{"a"}, kOut, kStr);       // 3: constant
  list.AddCatVar("none", "", 0, INNVariable::kStringCategorical, kIn, kStr);  // 4: invalid
  list.AddContVar("flipped", "", 5, 1, 3, 1, kOut, kReal);                    // 5: invalid
  list.AddContVar("unusedflat", "", 0, 0, 0, 0, kUnused, kReal);              // not examined
  list.AddContVar("bad", "", 0, 1, 0, 1, kIn, kReal);                         // 7: invalid below
  static_cast<NNContVar*>(list.GetVarAt(7))->SetVariance(-1.0);
  EXPECT_FALSE(list.IsValidList(constant, invalid));
  EXPECT_EQ(constant, (std::vector<int>{2, 3}));
  EXPECT_EQ(invalid, (std::vector<int>{4, 5, 7}));

  // Invalid wins over constant.
  NNContVar v("v", "", 2, 2, 2, -1, kIn, kReal);
  EXPECT_EQ(v.GetVarStatus(), INNVariable::kVarInvalid);
  v.SetVariance(0.0);
  EXPECT_EQ(v.GetVarStatus(), INNVariable::kVarConstant);
  v.SetMinMax(1, 3);
  EXPECT_EQ(v.GetVarStatus(), INNVariable::kVarConstant);
  v.SetVariance(0.5);
  EXPECT_EQ(v.GetVarStatus(), INNVariable::kVarOK);
}

TEST(VarListStandardization, SetupCountsSuccessesAndKeepsUserMissing) {
  NNVarList list;
  list.AddContVar("in", "", 0, 4, 2, 1, kIn, kReal);
  list.AddContVar("flat", "", 2, 2, 2, 0, kIn, kReal);
  list.AddCatVar("c", "", std::vector<double>{1, 2}, kIn, kReal);
  list.AddContVar("out", "", 0, 10, 5, 4, kOut, kReal, 1.0);
  list.AddContVar("skip", "", 0, 10, 5, 4, kUnused, kReal);
  ASSERT_TRUE(list.AddDiscreteUserMissing(0, 99.0, "dk"));

  EXPECT_EQ(list.SetupContEncoders(kMinRangeSymmetric, kMinRange), 2);
  EXPECT_DOUBLE_EQ(Linear(list, 0).Normalize(2.0), 0.0);
  EXPECT_EQ(Linear(list, 0).Normalize(99.0), gMissingValue);
  EXPECT_EQ(Linear(list, 1).GetSlope(), 1.0) << "refused: min == max";
  EXPECT_DOUBLE_EQ(Linear(list, 3).GetSlope(), 1.0 / 12.0);
  EXPECT_EQ(Linear(list, 4).GetSlope(), 1.0) << "unused: untouched";
  std::vector<double> mins, maxs;
  EXPECT_EQ(list.GetInpContMinMax(mins, maxs), 2);
  EXPECT_EQ(mins, (std::vector<double>{-1.0, 2.0}));
  EXPECT_EQ(maxs, (std::vector<double>{1.0, 2.0}));

  EXPECT_EQ(list.SetupContEncoders(kMeanStdDev, kMeanStdDev), 2) << "refused for zero variance";
  EXPECT_DOUBLE_EQ(Linear(list, 0).Normalize(3.0), 1.0);
  EXPECT_TRUE(static_cast<NNContVar*>(list.GetVarAt(1))->SetupEncoder(kNoStandardization));
}

TEST(VarListUserMissing, IntervalsDiscreteValuesAndReplacement) {
  NNVarList list;
  list.AddContVar("x", "", -10, 100, 0, 1, kIn, kReal);
  list.AddCatVar("n", "", std::vector<double>{1, 2}, kIn, kReal);
  list.AddCatVar("s", "", std::vector<std::string>{"a"}, kIn, kStr);

  ASSERT_TRUE(list.SetMissingInterval(0, gMissingValue, 0.0));
  EXPECT_EQ(Linear(list, 0).Normalize(0.0), gMissingValue);
  EXPECT_EQ(Linear(list, 0).Normalize(0.5), 0.5);
  ASSERT_TRUE(list.AddDiscreteUserMissing(0, 99.0, "no answer"));
  EXPECT_EQ(Linear(list, 0).Normalize(99.0), gMissingValue);
  EXPECT_EQ(Linear(list, 0).Normalize(-5.0), gMissingValue) << "appending keeps the interval";
  ASSERT_TRUE(list.SetMissingInterval(0, 50, 60));
  EXPECT_EQ(Linear(list, 0).Normalize(-5.0), -5.0) << "the new interval replaces the old";
  EXPECT_EQ(Linear(list, 0).Normalize(55.0), gMissingValue);
  EXPECT_EQ(list.GetVarAt(0)->GetUserMissingInfo()->GetNDiscreteValues(), 1);

  // Declarations must match the kind of value the variable holds.
  EXPECT_FALSE(list.SetMissingInterval(2, 0, 1));
  EXPECT_FALSE(list.AddDiscreteUserMissing(2, 1.0, ""));
  EXPECT_FALSE(list.AddDiscreteUserMissing(1, "a", ""));
  EXPECT_FALSE(list.AddDiscreteUserMissing(0, "a", ""));
  ASSERT_TRUE(list.AddDiscreteUserMissing(2, "NA", ""));
  EXPECT_EQ(static_cast<NNStringEncoder*>(list.GetEncoderAt(2))->Encode("NA"), -1);
  ASSERT_TRUE(list.SetMissingInterval(1, 5, 9));
  ASSERT_TRUE(list.AddDiscreteUserMissing(1, -1.0, ""));
  auto* cat = static_cast<NNCatNumEncoder*>(list.GetEncoderAt(1));
  EXPECT_EQ(cat->Encode(7), -1);
  EXPECT_EQ(cat->Encode(-1), -1);
  EXPECT_EQ(cat->Encode(3), 2);

  EXPECT_EQ(list.GetVarAt(0)->GetMissingValueReplacement(), nullptr);
  ASSERT_TRUE(list.SetMissingValueReplacement(0, "0.5"));
  EXPECT_EQ(*list.GetVarAt(0)->GetMissingValueReplacement(), "0.5");
  // Only a positive weighted count is taken.
  list.SetWeightedCount(12.5);
  list.SetWeightedCount(0.0);
  list.SetWeightedCount(-3.0);
  EXPECT_EQ(list.GetWeightedCount(), 12.5);
}

}  // namespace
