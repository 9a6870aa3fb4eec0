// The variables module: the encoders (worked standardizations, category
// codes, the user-missing values that get no code), the variable list (what
// it accepts, which variables it finds constant or invalid, its user-missing
// declarations), the conversion of the host's own variable list, and the
// saved forms of all of them: the layouts field by field against records
// assembled here, and every reader fed truncated, corrupted and hand-made
// hostile streams. A refusal prints its documented line and throws; the
// sanitizer build checks that nothing leaks.
#include <gtest/gtest.h>

#include <cctype>
#include <cfloat>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/layouts.h"
#include "common/saved_forms.h"
#include "common/stream_faults.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/VXVarList.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"
#include "vxneural/variables/NNVarList.h"
#include "vxneural/variables/VXVarAdapter.h"

using saved_forms::Saved;
using stream_faults::ReadOutcome;
using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXVarList;
using VXMV::gMissingValue;
using namespace VXNNCommon;

namespace {

// The sample list holding every kind of variable, encoder and user-missing
// object.
NNVarList MakeFullList() {
  NNVarList list;
  // 0: standardized continuous input with discrete values and an interval
  // open to the left; label with XML special characters.
  list.AddContVar("age", "Age <years> & \"months\"", 18, 90, 40, 100, INNVariable::kInput,
                  INNVariable::kInteger);
  list.AddDiscreteUserMissing(0, 99.0, "refused");
  list.AddDiscreteUserMissing(0, 98.0, "");
  list.SetMissingInterval(0, gMissingValue, 0.0);
  list.SetMissingValueReplacement(0, "40");
  // 1: continuous output with a correction, no user-missing values.
  list.AddContVar("income", "", 0, 1e5, 3.5e4, 2.5e8, INNVariable::kOutput, INNVariable::kReal,
                  1000.0);
  // 2: unused continuous variable, interval open to the right only.
  list.AddContVar("score", "Score", -1.5, 1e3, 12.25, 7.0, INNVariable::kUnused,
                  INNVariable::kReal);
  list.SetMissingInterval(2, 100.0, gMissingValue);
  list.SetupContEncoders(VXNNCommon::kMinRangeSymmetric, VXNNCommon::kMeanStdDev);
  // 3: numeric categorical with labels, discrete values and a closed interval.
  list.AddCatVar("grade", "Grade", std::vector<double>{1, 2, 3, 2}, {"low", "mid", "high"},
                 INNVariable::kInput, INNVariable::kInteger);
  list.AddDiscreteUserMissing(3, 9.0, "unknown");
  list.SetMissingInterval(3, 10.0, 20.0);
  static_cast<NNCatVar*>(list.GetVarAt(3))->SetOrdinalFlag(true);
  // 4: string flag variable with a replacement.
  list.AddCatVar("smoker", "", std::vector<std::string>{"yes", "no"}, INNVariable::kInput,
                 INNVariable::kString);
  static_cast<NNCatVar*>(list.GetVarAt(4))->SetBinaryFlag(true, 0);
  list.SetMissingValueReplacement(4, "no");
  // 5: string categorical output with labels and string user-missing values.
  list.AddCatVar("colour", "Colour", std::vector<std::string>{"red", "green", "blue", ""},
                 {"Red", "", "Blue"}, INNVariable::kOutput, INNVariable::kString);
  list.AddDiscreteUserMissing(5, "NA", "not asked");
  list.AddDiscreteUserMissing(5, "??", "");
  // 6: numeric categorical declared by count, its encoder still empty.
  list.AddCatVar("code", "", 4, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);

  list.SetWeightedCount(250.5);
  list.SetFieldFormatsElement(VXXML_1_2::XMLElement::Create("DataDictionary"));
  list.GetVarAt(1)->SetFieldFormatElement(VXXML_1_2::XMLElement::Create("DataField"));
  return list;
}

// The line a reader of className writes when the given form is refused.
std::string ReadMessage(const std::string& className, bool xml) {
  return (xml ? "Failure reading " : "Error reading ") + className + "!\n";
}

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
    auto* um = new NNNumericUserMissing();
    um->SetInterval(NNNumericInterval(gMissingValue, -1.0));
    ASSERT_TRUE(e.SetUserMissingInfo(um));
    EXPECT_EQ(
        (std::vector<double>{e.Normalize(gMissingValue), e.Normalize(-3.0), e.Normalize(-1.0)}),
        std::vector<double>(3, gMissingValue));
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
  EXPECT_EQ((std::vector<double>{e.Decode(1), e.Decode(2), e.Decode(-1)}),
            (std::vector<double>{1.0, gMissingValue, gMissingValue}));
  EXPECT_EQ(std::make_pair(e.EncodeConst(7.0), e.EncodeConst(1.0)), std::make_pair(-1, 1));
  auto* um = new NNNumericUserMissing();
  um->AddValue(9.0, "");
  ASSERT_TRUE(e.SetUserMissingInfo(um));
  for (double missing : {9.0, gMissingValue, static_cast<double>(NAN)})
    EXPECT_EQ(e.Encode(missing), -1) << missing;
  EXPECT_EQ((std::pair{e.GetNumberOfCategories(), e.Encode(7.0)}), std::pair(2, 2));
}

TEST(StringEncoder, CodesInOrderUserMissingGetsNone) {
  NNStringEncoder e;
  for (const char* s : {"b", "a", "b", ""}) e.Encode(s);
  EXPECT_EQ(std::make_tuple(e.EncodeConst("b"), e.EncodeConst(""), e.EncodeConst("B")),
            std::make_tuple(0, 2, -1));
  EXPECT_EQ((std::vector<std::string>{e.Decode(1), e.Decode(3), e.Decode(-1)}),
            (std::vector<std::string>{"a", "", ""}));
  auto* um = new NNStringUserMissing();
  um->AddValue("NA", "");
  ASSERT_TRUE(e.SetUserMissingInfo(um));
  // User-missing strings match case and all.
  EXPECT_EQ((std::tuple{e.Encode("NA"), e.GetNumberOfCategories(), e.Encode("na")}),
            std::tuple(-1, 3, 3));
  std::vector<std::string> values{"keep"};
  e.GetCateValues(values);
  EXPECT_EQ(values, (std::vector<std::string>{"keep", "b", "a", "", "na"}));
}

// --- The list ---------------------------------------------------------------

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
  EXPECT_EQ(std::make_tuple(list.GetNumContVar(), list.GetNumCatVar(), list.FindVariable("Age"),
                            list.FindVariable("AGE")),
            std::make_tuple(3, 0, 1, -1));
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

  // Invalid wins over constant; a zero variance or an empty range alone is
  // constant.
  const std::tuple<double, double, double, int> statuses[] = {
      {2, 2, -1, INNVariable::kVarInvalid},
      {2, 2, 0, INNVariable::kVarConstant},
      {1, 3, 0, INNVariable::kVarConstant},
      {2, 2, 0.5, INNVariable::kVarConstant},
      {1, 3, 0.5, INNVariable::kVarOK}};
  for (const auto& [min, max, variance, status] : statuses)
    EXPECT_EQ(NNContVar("v", "", min, max, 2, variance, kIn, kReal).GetVarStatus(), status)
        << min << ".." << max << ", variance " << variance;
}

TEST(VarListUserMissing, IntervalsDiscreteValuesAndWeightedCount) {
  NNVarList list;
  list.AddContVar("x", "", -10, 100, 0, 1, kIn, kReal);
  list.AddCatVar("n", "", std::vector<double>{1, 2}, kIn, kReal);
  list.AddCatVar("s", "", std::vector<std::string>{"a"}, kIn, kStr);

  const auto normalized = [&](std::vector<double> xs) {
    const auto& encoder = static_cast<const NNLinearEncoder&>(*list.GetEncoderAt(0));
    for (double& x : xs) x = encoder.Normalize(x);
    return xs;
  };
  ASSERT_TRUE(list.SetMissingInterval(0, gMissingValue, 0.0));
  EXPECT_EQ(normalized({0.0, 0.5}), (std::vector<double>{gMissingValue, 0.5}));
  // Appending keeps the interval; a new interval replaces the old.
  ASSERT_TRUE(list.AddDiscreteUserMissing(0, 99.0, "no answer"));
  EXPECT_EQ(normalized({99.0, -5.0}), std::vector<double>(2, gMissingValue));
  ASSERT_TRUE(list.SetMissingInterval(0, 50, 60));
  EXPECT_EQ(normalized({-5.0, 55.0, 99.0}),
            (std::vector<double>{-5.0, gMissingValue, gMissingValue}));

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
  EXPECT_EQ((std::tuple{cat->Encode(7), cat->Encode(-1), cat->Encode(3)}), std::tuple(-1, -1, 2));

  // Only a positive weighted count is taken.
  list.SetWeightedCount(12.5);
  list.SetWeightedCount(0.0);
  list.SetWeightedCount(-3.0);
  EXPECT_EQ(list.GetWeightedCount(), 12.5);
}

// --- The host's list -------------------------------------------------------

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
  auto* s = new VXCatVar("s", "", IVXVariable::kRoleInput, 3, false, 2);
  s->SetStringValues({"a", "b"});
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
  EXPECT_EQ(Saved(out, true), Saved(expected, true));
  // Not in the saved form: the weighted count and the format elements,
  // which are copies of the host's.
  EXPECT_EQ(out.GetWeightedCount(), 12.5);
  ASSERT_NE(out.GetFieldFormatsElement(), nullptr);
  ASSERT_NE(out.GetVarAt(0)->GetFieldFormatElement(), nullptr);
  EXPECT_NE(out.GetFieldFormatsElement(), host.GetFieldFormatsElement());
  EXPECT_EQ(std::make_tuple(out.GetFieldFormatsElement()->GetName(),
                            out.GetVarAt(0)->GetFieldFormatElement()->GetName(),
                            out.GetVarAt(1)->GetFieldFormatElement()),
            std::make_tuple("Formats", "Format", nullptr));
}

// --- Layouts ----------------------------------------------------------------

// Three variables: a standardized continuous input with user-missing values
// and a replacement, a string output flag with labels and user-missing
// values, and an ordinal numeric input.
NNVarList SmallList() {
  NNVarList list;
  list.AddContVar("age", "Age", 18, 90, 40, 100, INNVariable::kInput, INNVariable::kInteger);
  list.AddDiscreteUserMissing(0, 99.0, "refused");
  list.SetMissingInterval(0, 100.0, gMissingValue);
  list.SetMissingValueReplacement(0, "40");
  list.SetupContEncoders(VXNNCommon::kMinRange, VXNNCommon::kMeanStdDev);
  list.AddCatVar("colour", "", std::vector<std::string>{"red", "green"}, {"Red", ""},
                 INNVariable::kOutput, INNVariable::kString);
  list.AddDiscreteUserMissing(1, "NA", "not asked");
  static_cast<NNCatVar*>(list.GetVarAt(1))->SetBinaryFlag(true, 0);
  list.AddCatVar("grade", "", std::vector<double>{1, 2}, INNVariable::kInput,
                 INNVariable::kInteger);
  static_cast<NNCatVar*>(list.GetVarAt(2))->SetOrdinalFlag(true);
  return list;
}

layouts::Bytes BinaryOfSmallList() {
  const double slope = 1.0 / (90.0 - 18.0), intercept = -slope * 18.0;
  layouts::Bytes b;
  b.Tag("VARL").I(3);
  b.I(1).Tag("COVR").S("age").S("Age").I(1).I(1).D(40).D(100).D(18).D(90).D(0).I(1);
  b.Tag("LIEN").D(18).D(90).D(slope).D(intercept).I(1);
  b.Tag("NNNumUMi").I(1).D(99).S("refused").I(1).Tag("NNNumInt").D(100).D(DBL_MAX);
  b.I(3).Tag("CAVR").S("colour").S("").I(2).I(3).I(2).I(3).I(3);
  b.Tag("STEN").I(2).S("red").S("green").I(2).S("Red").S("").I(1);
  b.Tag("NNStrUMi").I(1).S("NA").S("not asked");
  b.I(2).Tag("CAVR").S("grade").S("").I(1).I(1).I(2).I(2).I(2);
  b.Tag("CNEN").I(2).D(1).D(2).I(0).I(0);
  return b.I(1).I(2);
}

// withXmlOnly false: what a list read from the binary form holds, without
// the replacement and the flags the binary records leave out.
layouts::Xml XmlOfSmallList(bool withXmlOnly) {
  const double slope = 1.0 / (90.0 - 18.0), intercept = -slope * 18.0;
  layouts::Xml x;
  x.Obj("NNVarList").I(3);
  x.I(1).Obj("NNContVar").S("age").I(3).S("Age").I(1).I(1).D(40).D(100).D(18).D(90).D(0);
  if (withXmlOnly) {
    x.B(true).S("40");
  } else {
    x.B(false);
  }
  x.I(1).Obj("NNLinearEncoder").D(18).D(90).D(slope).D(intercept).I(1);
  // An open end is written as the missing value.
  x.Obj("NNNumericUserMissing").I(1).D(99).S("refused").I(1);
  x.Obj("NNNumericInterval").D(100).D(gMissingValue).End().End().End().End();
  x.I(3).Obj("NNCatVar").S("colour").I(0).I(2).I(3).I(2).I(3).B(false).I(3);
  x.Obj("NNStringEncoder").I(2).S("red").S("green").I(2).S("Red").S("").I(1);
  x.Obj("NNStringUserMissing").I(1).S("NA").S("not asked").End().End();
  x.B(withXmlOnly).I(withXmlOnly ? 0 : -1).B(false).End();
  x.I(2).Obj("NNCatVar").S("grade").I(0).I(1).I(1).I(2).I(2).B(false).I(2);
  x.Obj("NNCatNumEncoder").I(2).D(1).D(2).I(0).I(0).End();
  x.B(false).I(-1).B(withXmlOnly).End();
  return x.I(1).I(2).End();
}

TEST(VariableLayouts, ListVariablesEncodersAndUserMissingValues) {
  const NNVarList list = SmallList();
  // Readers replace whatever the target held.
  const auto stale = [] { return std::make_unique<NNVarList>(MakeFullList()); };
  layouts::ExpectLayout(list, stale, BinaryOfSmallList(), XmlOfSmallList(true));

  // The binary records leave out the replacement and the flags.
  auto back = stale();
  std::stringstream in(BinaryOfSmallList().s);
  back->ReadObject(in);
  EXPECT_EQ(layouts::Items(Saved(*back, true)), XmlOfSmallList(false).items);
}

// --- Damaged and hand-made streams --------------------------------------------

const char kWrongEncoderType[] = "Wrong encoder type in NNContVar!\n";

// One read into a copy of a stale target, which is then written again:
// whatever a reader leaves behind can still be written, and the invariants
// of what it read hold whether the read failed or not.
template <typename T>
ReadOutcome AttemptRead(const T& target, const std::string& bytes, bool xml) {
  T obj(target);
  const ReadOutcome outcome = stream_faults::ReadFrom(
      bytes, [&](std::istream& in) { xml ? obj.ReadObjectXML(in) : obj.ReadObject(in); });
  if constexpr (std::is_same_v<T, NNContVar>) {
    EXPECT_TRUE(outcome.out != kWrongEncoderType || obj.GetEncoder() == nullptr);
  } else if constexpr (std::is_same_v<T, NNVarList>) {
    int cont = 0;
    for (int i = 0; i < static_cast<int>(obj.Size()); ++i)
      cont += obj.GetVarAt(i)->GetMeasureLevel() == INNVariable::kContinuous;
    EXPECT_EQ(obj.GetNumContVar(), cont);
    EXPECT_EQ(obj.GetNumCatVar(), static_cast<int>(obj.Size()) - cont);
  }
  std::stringstream b, x;
  obj.WriteObject(b);
  obj.WriteObjectXML(x, 1);
  return outcome;
}

struct ReaderCase {
  std::string className, nested;  // nested: the classes read inside it
  std::string binary, xml;
  std::function<ReadOutcome(const std::string&, bool)> read;
};

template <typename T>
ReaderCase Case(const std::string& className, const T& sample, const T& target,
                const std::string& nested) {
  const auto read = [target](const std::string& bytes, bool xml) {
    return AttemptRead(target, bytes, xml);
  };
  return {className, nested, Saved(sample, false), Saved(sample, true), read};
}

// A list that already holds variables, so that readers must replace them.
NNVarList StaleList() {
  NNVarList list;
  list.AddContVar("stale", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("age", "", std::vector<std::string>{"x"}, INNVariable::kOutput,
                 INNVariable::kString);
  return list;
}

std::vector<ReaderCase> AllReaders() {
  const NNVarList list = MakeFullList();
  const auto& age = static_cast<const NNContVar&>(*list.GetVarAt(0));
  const auto& income = static_cast<const NNContVar&>(*list.GetVarAt(1));
  const auto& grade = static_cast<const NNCatVar&>(*list.GetVarAt(3));
  NNCatVar smoker = static_cast<const NNCatVar&>(*list.GetVarAt(4));
  smoker.SetOrdinalFlag(true);
  const auto& colour = static_cast<const NNCatVar&>(*list.GetVarAt(5));
  const std::string numericUm = "NNNumericUserMissing NNNumericInterval";
  const std::string linear = "NNLinearEncoder " + numericUm;
  const std::string cat = "NNCatNumEncoder NNStringEncoder NNStringUserMissing " + numericUm;
  // The list holds every other reader; these take stale targets of their
  // own.
  return {
      // Parameters no constructor computes from a range: read as stored.
      Case("NNLinearEncoder", NNLinearEncoder(0.0, 7.0, 1.0, 3.0), *age.GetLinearEncoder(),
           numericUm),
      Case("NNContVar", age, income, linear),
      // A binary read clears the replacement and flags the record does not carry.
      Case("NNContVar", income, age, linear),
      Case("NNCatVar", grade, colour, cat),
      Case("NNCatVar", colour, smoker, cat),
      Case("NNVarList", list, StaleList(), "NNContVar NNCatVar " + linear + " " + cat),
  };
}

std::vector<std::string> Messages(const ReaderCase& c, bool xml) {
  std::vector<std::string> messages = {ReadMessage(c.className, xml)};
  std::istringstream names(c.nested);
  for (std::string n; names >> n;) messages.push_back(ReadMessage(n, xml));
  return messages;
}

// A refusal printed exactly one documented line: a read-failure message of
// the class or of one nested in it, or a continuous variable's wrong-encoder
// line on standard output.
::testing::AssertionResult FailedProperly(const ReaderCase& c, const ReadOutcome& r, bool xml) {
  const bool hasContVar = (c.className + c.nested).find("NNContVar") != std::string::npos;
  if (hasContVar && r.threw && r.err.empty() && r.out == kWrongEncoderType)
    return ::testing::AssertionSuccess();
  if (!r.out.empty()) return ::testing::AssertionFailure() << "stdout: " << r.out;
  return stream_faults::RefusedWith(r, Messages(c, xml));
}

std::size_t TrimmedSize(const std::string& text) {
  std::size_t n = text.size();
  while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  return n;
}

// Every truncation is refused; each byte replaced in turn (by its
// complement or high-bit flip in the binary form, by markup and digits in
// the XML form) is read or refused properly.
TEST(ReaderRobustness, TruncatedAtEveryOffsetAndEveryByteCorrupted) {
  const char kXmlReplacements[] = {'<', '9', 'x', '"', '>', '-', '/', ' '};
  for (const ReaderCase& c : AllReaders()) {
    for (bool xml : {false, true}) {
      SCOPED_TRACE(c.className + (xml ? " XML" : " binary"));
      const std::string& full = xml ? c.xml : c.binary;
      EXPECT_EQ(c.read("", xml).err, ReadMessage(c.className, xml));
      stream_faults::ExpectTruncationsRefused(
          full, Messages(c, xml), [&](const std::string& bytes) { return c.read(bytes, xml); },
          xml ? TrimmedSize(full) : full.size());
      for (std::size_t k = 0; k < full.size(); ++k) {
        std::string bad = full;
        if (xml) {
          bad[k] = kXmlReplacements[k % sizeof(kXmlReplacements)];
          if (bad[k] == full[k]) bad[k] = '#';
        } else {
          bad[k] = static_cast<char>(full[k] ^ (k % 2 ? 0x80 : 0xFF));
        }
        const ReadOutcome r = c.read(bad, xml);
        if (r.threw)
          ASSERT_TRUE(FailedProperly(c, r, xml)) << "at " << k;
        else
          ASSERT_EQ(r.err + r.out, "") << "at " << k;
      }
    }
  }
}

using B = layouts::Bytes;

B ContVarHead(int role, int encoderType) {
  B b;
  b.Tag("COVR").S("x").S("").I(role).I(INNVariable::kReal);
  return b.Ds({0, 1, 0, 1, 0}).I(encoderType);
}

// A string variable record with an empty string encoder.
B& CatVar(B& b, const char* name, int count, int level, int encoderType) {
  b.Tag("CAVR").S(name).S("").I(INNVariable::kInput).I(INNVariable::kString);
  return b.I(count).I(level).I(encoderType).Tag("STEN").I(0).I(0).I(0);
}

std::string CatVarBytes(int count, int level, int encoderType) {
  B b;
  return CatVar(b, "c", count, level, encoderType).s;
}

// A list of string variables, each stored with the given level, and the two
// counters.
std::string ListOf(std::vector<const char*> names, int count, int numCont, int numCat,
                   int level = INNVariable::kStringCategorical) {
  B b;
  b.Tag("VARL").I(count);
  for (const char* name : names) CatVar(b.I(level), name, 0, 3, 3);
  return b.I(numCont).I(numCat).s;
}

std::string ContVarXml(const std::function<void(VXNeural::detail::XmlWriter&)>& write) {
  std::stringstream s;
  VXNeural::detail::XmlWriter w(s, "NNContVar", 1);
  write(w);
  w.End();
  return s.str();
}

template <typename T>
std::function<ReadOutcome(const std::string&)> Into(const T& target, bool xml = false) {
  return [target, xml](const std::string& bytes) { return AttemptRead(target, bytes, xml); };
}

// Streams no writer produces, each refused with its exact line (or read, when
// none is given).
TEST(ReaderRefusals, HandMadeStreams) {
  const NNContVar cont("t", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  const NNCatVar catVar("t", "", 2, INNVariable::kStringCategorical, INNVariable::kInput,
                        INNVariable::kString);
  const NNVarList full = MakeFullList();
  struct Case {
    std::string what, bytes;
    std::function<ReadOutcome(const std::string&)> read;
    std::string message;  // empty when the stream reads
  };
  const auto err = [](const char* className) { return ReadMessage(className, false); };
  const std::string contError = err("NNContVar"), catError = err("NNCatVar");
  const std::string listError = err("NNVarList");
  const Case cases[] = {
      {"unknown encoder type", ContVarHead(1, 7).s, Into(cont), kWrongEncoderType},
      {"role 4", ContVarHead(4, 0).s, Into(cont), contError},
      {"name longer than the stream", B().Tag("COVR").I(1000).Tag("ab").s, Into(cont), contError},
      {"has-user-missing 2", ContVarHead(1, 1).Tag("LIEN").Ds({0, 1, 1, 0}).I(2).s, Into(cont),
       err("NNLinearEncoder")},
      {"XML unknown encoder type", ContVarXml([](auto& w) {
         w.String("x").Int(0).Int(1).Int(2).Doubles({0, 1, 0, 1, 0}).Bool(false).Int(3);
       }),
       Into(cont, true), kWrongEncoderType},
      {"XML label length disagrees with the label", ContVarXml([](auto& w) {
         w.String("x").Int(3).String("ab").Int(1).Int(2).Doubles({0, 1, 0, 1, 0});
         w.Bool(false).Int(0);
       }),
       Into(cont, true), ReadMessage("NNContVar", true)},
      {"negative category count", CatVarBytes(-2, 3, 3), Into(catVar), catError},
      {"valid categorical", CatVarBytes(2, 3, 3), Into(catVar), ""},
      // Measure level and encoder type must agree on a categorical encoder.
      {"level 3, encoder 2", CatVarBytes(1, 3, 2), Into(catVar), catError},
      {"level 2, encoder 3", CatVarBytes(1, 2, 3), Into(catVar), catError},
      {"level 4, encoder 3", CatVarBytes(1, 4, 3), Into(catVar), catError},
      {"repeated number", B().Tag("CNEN").I(3).Ds({1, 2, 1}).I(0).I(0).s, Into(NNCatNumEncoder()),
       err("NNCatNumEncoder")},
      {"missing value as a category", B().Tag("CNEN").I(1).D(gMissingValue).I(0).I(0).s,
       Into(NNCatNumEncoder()), err("NNCatNumEncoder")},
      {"repeated string", B().Tag("STEN").I(2).S("a").S("a").I(0).I(0).s, Into(NNStringEncoder()),
       err("NNStringEncoder")},
      {"negative label count", B().Tag("STEN").I(0).I(-1).I(0).s, Into(NNStringEncoder()),
       err("NNStringEncoder")},
      {"has-interval 3", B().Tag("NNNumUMi").I(0).I(3).s, Into(NNNumericUserMissing()),
       err("NNNumericUserMissing")},
      {"huge value count", B().Tag("NNStrUMi").I(0x7fffffff).s, Into(NNStringUserMissing()),
       err("NNStringUserMissing")},
      {"valid list", ListOf({"a", "b"}, 2, 0, 2), Into(full), ""},
      {"duplicate name", ListOf({"a", "a"}, 2, 0, 2), Into(full), listError},
      {"wrong counters", ListOf({"a", "b"}, 2, 1, 1), Into(full), listError},
      {"huge count", ListOf({}, 0x7fffffff, 0, 0), Into(full), listError},
      {"stored level differs", ListOf({"a"}, 1, 0, 1, INNVariable::kNumericCategorical), Into(full),
       listError},
      // The continuous reader meets a categorical record.
      {"continuous level", ListOf({"a"}, 1, 1, 0, INNVariable::kContinuous), Into(full), contError},
  };
  for (const Case& c : cases) {
    const ReadOutcome r = c.read(c.bytes);
    EXPECT_EQ(r.threw, !c.message.empty()) << c.what;
    EXPECT_EQ(r.err + r.out, c.message) << c.what;
    // Only the wrong-encoder line goes to standard output.
    EXPECT_EQ(r.out.empty(), c.message != kWrongEncoderType) << c.what;
  }
}

}  // namespace
