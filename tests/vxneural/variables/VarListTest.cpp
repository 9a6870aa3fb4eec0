// The encoders (worked standardizations, category codes, the user-missing
// values that get no code), the variable list (what it accepts, which
// variables it finds constant or invalid, its user-missing declarations),
// and the conversion of the host's own variable list.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "VarsTestSupport.h"
#include "vxcommon/VXVarList.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"
#include "vxneural/variables/VXVarAdapter.h"

using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXVarList;
using VXMV::gMissingValue;
using namespace VXNNCommon;

namespace {

constexpr auto kIn = INNVariable::kInput;
constexpr auto kOut = INNVariable::kOutput;
constexpr auto kUnused = INNVariable::kUnused;
constexpr auto kReal = INNVariable::kReal;
constexpr auto kStr = INNVariable::kString;

NNContVar Var(double min, double max, double mean, double variance, INNVariable::VariableRole role,
              double correction) {
  return NNContVar("x", "", min, max, mean, variance, role, kReal, correction);
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
      {kMinRange, kOut, 0, 10, 5, 9, 1, 1.0 / 12, 1.0 / 12, -1, 11},
      {kMinRange, kIn, 0, 10, 5, 9, 1, 0.1, 0, 0, 10},
      {kMinRangeSymmetric, kIn, 0, 4, 2, 1, 0.5, 0.5, -1, 0, 4},
      {kMeanStdDev, kOut, 0, 10, 5, 4, 3, 0.5, -2.5, -3, 13},
      {kNoStandardization, kIn, 0, 10, 5, 4, 0, 1, 0, 0, 10},
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

// --- The list ---------------------------------------------------------------

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

// --- The host's list -------------------------------------------------------

VXCatVar* StringCat(const char* name, int role, std::vector<std::string> values) {
  auto* v = new VXCatVar(name, "", role, 3, false, static_cast<int>(values.size()));
  v->SetStringValues(std::move(values));
  return v;
}

TEST(HostVarList, EveryKindConvertsAsTheListOperationsWouldAddIt) {
  const double mv = VXMV::gMissingValue;
  VXVarList host;
  // A continuous target with standard deviation 2 (variance 4), user-missing
  // values and a replacement.
  auto* y = new VXContVar("y", "Yield", IVXVariable::kRoleTarget, 2, 0.0, 10.0, 5.0, 2.0);
  y->SetMissingInterval(mv, -1.0);
  y->AddDiscreteMissing(99.0, "refused");
  y->SetMissingValueReplacement("5");
  host.Add(y);
  // A string input a, b with a discrete missing value; its interval cannot
  // apply to strings and is left out.
  auto* s = StringCat("s", IVXVariable::kRoleInput, {"a", "b"});
  s->AddDiscreteMissing(std::string("?"), "unknown");
  s->SetMissingInterval(1.0, 2.0);
  host.Add(s);
  // Numeric categories with labels, binary with true index 1 and ordinal.
  auto* n = new VXCatVar("n", "", IVXVariable::kRoleBoth, 1, true, 2);
  n->SetNumericValues({1.0, 2.0});
  n->SetValueLabels({"one", "two"});
  n->SetBinaryFlag(true, 1);
  n->SetOrdinalFlag(true);
  host.Add(n);
  // Only a declared count, ordinal; storage 9 and role 2 (a target).
  auto* d = new VXCatVar("d", "Declared", IVXVariable::kRoleTargetPartition, 9, true, 4);
  d->SetOrdinalFlag(true);
  host.Add(d);
  // A string variable with a declared count only, role 5 (an input).
  host.Add(new VXCatVar("t", "", IVXVariable::kRoleIgnore, 3, false, 3));
  host.SetWeightedCount(12.5);
  host.SetFieldFormatsElement(VXXML_1_2::XMLElement::Create("Formats"));
  host.GetVarAt(0)->SetFieldFormatElement(VXXML_1_2::XMLElement::Create("Format"));

  NNVarList expected;
  expected.AddContVar("y", "Yield", 0.0, 10.0, 5.0, 4.0, kOut, kReal);
  expected.SetMissingInterval(0, mv, -1.0);
  expected.AddDiscreteUserMissing(0, 99.0, "refused");
  expected.AddCatVar("s", "", std::vector<std::string>{"a", "b"}, kIn, kStr);
  expected.AddDiscreteUserMissing(1, std::string("?"), "unknown");
  expected.AddCatVar("n", "", std::vector<double>{1.0, 2.0}, {"one", "two"}, kIn,
                     INNVariable::kInteger);
  dynamic_cast<NNCatVar*>(expected.GetVarAt(2))->SetBinaryFlag(true, 1);
  expected.AddCatVar("d", "Declared", 4, INNVariable::kNumericCategorical, kOut,
                     INNVariable::kUndefinedStorage);
  dynamic_cast<NNCatVar*>(expected.GetVarAt(3))->SetOrdinalFlag(true);
  expected.AddCatVar("t", "", 3, INNVariable::kStringCategorical, kIn, kStr);
  expected.SetMissingValueReplacement(0, "5");

  // The XML form holds the flags and the replacement the binary one leaves out.
  NNVarList out;
  ASSERT_TRUE(ConvertHostVarList(host, out, 0.0));
  EXPECT_EQ(vars_test::Saved(out, true), vars_test::Saved(expected, true));
  // Not in the saved form: the weighted count and the format elements,
  // which are copies of the host's.
  EXPECT_EQ(out.GetWeightedCount(), 12.5);
  ASSERT_NE(out.GetFieldFormatsElement(), nullptr);
  EXPECT_NE(out.GetFieldFormatsElement(), host.GetFieldFormatsElement());
  EXPECT_EQ(out.GetFieldFormatsElement()->GetName(), "Formats");
  ASSERT_NE(out.GetVarAt(0)->GetFieldFormatElement(), nullptr);
  EXPECT_EQ(out.GetVarAt(0)->GetFieldFormatElement()->GetName(), "Format");
  EXPECT_EQ(out.GetVarAt(1)->GetFieldFormatElement(), nullptr);
}

}  // namespace
