// The variable list: what it accepts, which variables it finds constant or
// invalid, and its user-missing declarations.
#include <gtest/gtest.h>

#include <memory>

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
