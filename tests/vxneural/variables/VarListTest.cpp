#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNVarList.h"

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

TEST(VarListAdd, RefusesEmptyAndDuplicateNames) {
  NNVarList list;
  EXPECT_EQ(list.AddContVar("age", "", 18, 90, 40, 100, kIn, kReal), 0);
  EXPECT_EQ(list.AddContVar("age", "again", 0, 1, 0, 1, kIn, kReal), -1);
  EXPECT_EQ(list.AddCatVar("age", "", std::vector<double>{1, 2}, kIn, kReal), -1);
  EXPECT_EQ(list.AddContVar("", "", 0, 1, 0, 1, kIn, kReal), -1);
  EXPECT_EQ(list.AddCatVar("", "", 3, INNVariable::kStringCategorical, kIn, kStr), -1);
  EXPECT_EQ(list.Size(), 1u);
  EXPECT_EQ(list.GetVarAt(0)->GetVariableLabel(), "");
  EXPECT_EQ(list.AddContVar("Age", "", 0, 1, 0, 1, kIn, kReal), 1);
  EXPECT_EQ(list.AddContVar("neg", "", 0, 1, 0, -0.5, kIn, kReal), -1);
  EXPECT_EQ(list.AddContVar("flat", "", 0, 1, 0, 0.0, kIn, kReal), 2);
  EXPECT_EQ(list.GetNumContVar(), 3);
  EXPECT_EQ(list.GetNumCatVar(), 0);
  EXPECT_EQ(list.FindVariable("Age"), 1);
  EXPECT_EQ(list.FindVariable("AGE"), -1);
}

TEST(VarListAdd, CategoricalFromValues) {
  NNVarList list;
  ASSERT_EQ(list.AddCatVar("n", "", std::vector<double>{1.0, 2.0, 1.0}, kIn, kReal), 0);
  const INNVariable* var = list.GetVarAt(0);
  EXPECT_EQ(var->GetMeasureLevel(), INNVariable::kNumericCategorical);
  EXPECT_EQ(var->GetNumberOfCategories(), 3);
  const auto& enc = static_cast<const NNCatNumEncoder&>(*list.GetEncoderAt(0));
  EXPECT_EQ(enc.GetNumberOfCategories(), 2);
  EXPECT_EQ(enc.EncodeConst(1.0), 0);
  EXPECT_EQ(enc.EncodeConst(2.0), 1);
  EXPECT_EQ(list.UpdateNumbersOfCategories(), 3);

  ASSERT_EQ(list.AddCatVar("s", "", std::vector<std::string>{"x", "y"}, {"X", "Y"}, kOut, kStr), 1);
  EXPECT_EQ(list.GetVarAt(1)->GetMeasureLevel(), INNVariable::kStringCategorical);
  EXPECT_EQ(*list.GetEncoderAt(1)->GetValueLabels(), (std::vector<std::string>{"X", "Y"}));
  ASSERT_EQ(list.AddCatVar("d", "", std::vector<double>{7}, {"seven"}, kIn, kReal), 2);
  EXPECT_EQ(*list.GetEncoderAt(2)->GetValueLabels(), (std::vector<std::string>{"seven"}));
  EXPECT_EQ(list.AddCatVar("d", "", std::vector<double>{8}, {"eight"}, kIn, kReal), -1);
  EXPECT_EQ(list.GetNumCatVar(), 3);
}

TEST(VarListAdd, ExplicitCountIsRaisedNeverLowered) {
  NNVarList list;
  ASSERT_EQ(list.AddCatVar("c", "", 1, INNVariable::kNumericCategorical, kIn, kReal), 0);
  ASSERT_EQ(list.AddCatVar("w", "", 5, INNVariable::kStringCategorical, kIn, kStr), 1);
  EXPECT_EQ(list.GetEncoderAt(0)->GetNumberOfCategories(), 0);
  auto& enc = static_cast<NNCatNumEncoder&>(*list.GetEncoderAt(0));
  for (double v : {4.0, 5.0, 6.0}) enc.Encode(v);
  EXPECT_EQ(list.GetVarAt(0)->GetNumberOfCategories(), 1);
  EXPECT_EQ(list.UpdateNumbersOfCategories(), 3 + 5);
  EXPECT_EQ(list.GetVarAt(0)->GetNumberOfCategories(), 3);
  EXPECT_EQ(list.GetVarAt(1)->GetNumberOfCategories(), 5);
}

TEST(VarListRemove, ShiftsAndDecrementsItsKind) {
  NNVarList list;
  list.AddCatVar("a", "", std::vector<double>{1, 2}, kIn, kReal);
  list.AddContVar("b", "", 0, 1, 0, 1, kIn, kReal);
  list.AddContVar("c", "", 0, 1, 0, 1, kOut, kReal);
  ASSERT_TRUE(list.RemoveVar(0));
  EXPECT_EQ(list.Size(), 2u);
  EXPECT_EQ(list.GetVarAt(0)->GetVariableName(), "b");
  EXPECT_EQ(list.GetVarAt(1)->GetVariableName(), "c");
  EXPECT_EQ(list.GetNumCatVar(), 0);
  EXPECT_EQ(list.GetNumContVar(), 2);
  EXPECT_TRUE(list.RemoveVar("c"));
  EXPECT_EQ(list.GetNumContVar(), 1);
  EXPECT_FALSE(list.RemoveVar("c"));
  EXPECT_FALSE(list.RemoveVar(1));
  EXPECT_FALSE(list.RemoveVar(-1));
  EXPECT_EQ(list.Size(), 1u);
}

TEST(VarListIndex, OutOfRangeIsRefused) {
  NNVarList list;
  list.AddContVar("x", "", 0, 1, 0, 1, kIn, kReal);
  const NNVarList& c = list;
  for (int i : {-1, 1, 100}) {
    EXPECT_EQ(list.GetVarAt(i), nullptr);
    EXPECT_EQ(c.GetVarAt(i), nullptr);
    EXPECT_EQ(list.GetEncoderAt(i), nullptr);
    EXPECT_EQ(c.GetEncoderAt(i), nullptr);
    EXPECT_EQ(list.GetVariableRole(i), INNVariable::kUndefinedRole);
    EXPECT_FALSE(list.SetVariableRole(i, kOut));
    EXPECT_FALSE(list.AddDiscreteUserMissing(i, 1.0, ""));
    EXPECT_FALSE(list.AddDiscreteUserMissing(i, "a", ""));
    EXPECT_FALSE(list.SetMissingInterval(i, 0, 1));
    EXPECT_FALSE(list.SetMissingValueReplacement(i, "0"));
  }
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
  NNVarList empty;
  std::vector<int> constant{42}, invalid{42};
  EXPECT_FALSE(empty.IsValidList(constant, invalid));
  EXPECT_TRUE(constant.empty() && invalid.empty());

  NNVarList list;
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

  // Status order for continuous variables: invalid wins over constant.
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
  EXPECT_EQ(Linear(list, 1).GetSlope(), 1.0);  // refused: min == max
  EXPECT_DOUBLE_EQ(Linear(list, 3).GetSlope(), 1.0 / 12.0);
  EXPECT_EQ(Linear(list, 4).GetSlope(), 1.0);  // unused: untouched

  std::vector<double> mins, maxs;
  EXPECT_EQ(list.GetInpContMinMax(mins, maxs), 2);
  ASSERT_EQ(mins.size(), 2u);
  EXPECT_DOUBLE_EQ(mins[0], -1.0);
  EXPECT_DOUBLE_EQ(maxs[0], 1.0);
  EXPECT_EQ(mins[1], 2.0);
  EXPECT_EQ(maxs[1], 2.0);

  // Mean and standard deviation: refused for the zero-variance input.
  EXPECT_EQ(list.SetupContEncoders(kMeanStdDev, kMeanStdDev), 2);
  EXPECT_DOUBLE_EQ(Linear(list, 0).Normalize(3.0), 1.0);
  EXPECT_FALSE(static_cast<NNContVar*>(list.GetVarAt(1))->SetupEncoder(kMeanStdDev));
  EXPECT_TRUE(static_cast<NNContVar*>(list.GetVarAt(1))->SetupEncoder(kNoStandardization));
}

TEST(VarListUserMissing, IntervalsAndDiscreteValues) {
  NNVarList list;
  list.AddContVar("x", "", -10, 100, 0, 1, kIn, kReal);
  list.AddCatVar("n", "", std::vector<double>{1, 2}, kIn, kReal);
  list.AddCatVar("s", "", std::vector<std::string>{"a"}, kIn, kStr);

  ASSERT_TRUE(list.SetMissingInterval(0, gMissingValue, 0.0));
  EXPECT_EQ(Linear(list, 0).Normalize(-5.0), gMissingValue);
  EXPECT_EQ(Linear(list, 0).Normalize(0.0), gMissingValue);
  EXPECT_EQ(Linear(list, 0).Normalize(0.5), 0.5);
  ASSERT_TRUE(list.AddDiscreteUserMissing(0, 99.0, "no answer"));
  EXPECT_EQ(Linear(list, 0).Normalize(99.0), gMissingValue);
  EXPECT_EQ(Linear(list, 0).Normalize(-5.0), gMissingValue) << "appending keeps the interval";
  ASSERT_TRUE(list.SetMissingInterval(0, 50, 60));
  EXPECT_EQ(Linear(list, 0).Normalize(-5.0), -5.0) << "the new interval replaces the old";
  EXPECT_EQ(Linear(list, 0).Normalize(55.0), gMissingValue);
  EXPECT_EQ(list.GetVarAt(0)->GetUserMissingInfo()->GetNDiscreteValues(), 1);

  EXPECT_FALSE(list.SetMissingInterval(2, 0, 1));
  EXPECT_FALSE(list.AddDiscreteUserMissing(2, 1.0, ""));
  EXPECT_FALSE(list.AddDiscreteUserMissing(1, "a", ""));
  EXPECT_FALSE(list.AddDiscreteUserMissing(0, "a", ""));
  ASSERT_TRUE(list.AddDiscreteUserMissing(2, "NA", ""));
  ASSERT_TRUE(list.AddDiscreteUserMissing(2, "?", ""));
  EXPECT_EQ(list.GetVarAt(2)->GetUserMissingInfo()->GetNDiscreteValues(), 2);
  EXPECT_EQ(static_cast<NNStringEncoder*>(list.GetEncoderAt(2))->Encode("?"), -1);

  ASSERT_TRUE(list.SetMissingInterval(1, 5, 9));
  ASSERT_TRUE(list.AddDiscreteUserMissing(1, -1.0, ""));
  auto* cat = static_cast<NNCatNumEncoder*>(list.GetEncoderAt(1));
  EXPECT_EQ(cat->Encode(7), -1);
  EXPECT_EQ(cat->Encode(-1), -1);
  EXPECT_EQ(cat->Encode(3), 2);
}

TEST(VarListMisc, ReplacementAndWeightedCount) {
  NNVarList list;
  list.AddContVar("x", "", 0, 1, 0, 1, kIn, kReal);
  EXPECT_EQ(list.GetVarAt(0)->GetMissingValueReplacement(), nullptr);
  ASSERT_TRUE(list.SetMissingValueReplacement(0, "0.5"));
  ASSERT_NE(list.GetVarAt(0)->GetMissingValueReplacement(), nullptr);
  EXPECT_EQ(*list.GetVarAt(0)->GetMissingValueReplacement(), "0.5");

  EXPECT_EQ(list.GetWeightedCount(), 0.0);
  list.SetWeightedCount(12.5);
  list.SetWeightedCount(0.0);
  list.SetWeightedCount(-3.0);
  EXPECT_EQ(list.GetWeightedCount(), 12.5);
}

TEST(VarListCopies, DeepCopyCloneAndAssign) {
  NNVarList list;
  list.AddContVar("x", "", 0, 1, 0, 1, kIn, kReal);
  list.AddCatVar("s", "", std::vector<std::string>{"a", "b"}, kOut, kStr);
  list.AddDiscreteUserMissing(0, 9.0, "");
  list.AddDiscreteUserMissing(1, "NA", "");
  list.SetWeightedCount(3.0);
  auto* formats = VXXML_1_2::XMLElement::Create("DataDictionary");
  formats->AddAttribute("numberOfFields", 2);
  list.SetFieldFormatsElement(formats);
  auto* field = VXXML_1_2::XMLElement::Create("DataField");
  field->AddAttribute("name", "x");
  list.GetVarAt(0)->SetFieldFormatElement(field);

  std::unique_ptr<NNVarList> clone(list.Clone());
  NNVarList assigned;
  assigned.AddContVar("old", "", 0, 1, 0, 1, kIn, kReal);
  assigned = list;
  NNVarList copy(list);
  list.AddDiscreteUserMissing(0, 8.0, "");
  static_cast<NNStringEncoder*>(list.GetEncoderAt(1))->Encode("c");
  list.RemoveVar(1);

  for (const NNVarList* c : {clone.get(), &assigned, &copy}) {
    ASSERT_EQ(c->Size(), 2u);
    EXPECT_EQ(c->GetNumContVar(), 1);
    EXPECT_EQ(c->GetNumCatVar(), 1);
    EXPECT_EQ(c->GetWeightedCount(), 3.0);
    EXPECT_EQ(c->GetVarAt(0)->GetUserMissingInfo()->GetNDiscreteValues(), 1);
    EXPECT_EQ(c->GetEncoderAt(1)->GetNumberOfCategories(), 2);
    EXPECT_NE(c->GetVarAt(0)->GetUserMissingInfo(), list.GetVarAt(0)->GetUserMissingInfo());
    ASSERT_NE(c->GetFieldFormatsElement(), nullptr);
    EXPECT_NE(c->GetFieldFormatsElement(), formats);
    EXPECT_EQ(*c->GetFieldFormatsElement()->GetAttribute("numberOfFields"), "2");
    ASSERT_NE(c->GetVarAt(0)->GetFieldFormatElement(), nullptr);
    EXPECT_NE(c->GetVarAt(0)->GetFieldFormatElement(), field);
    EXPECT_EQ(*c->GetVarAt(0)->GetFieldFormatElement()->GetAttribute("name"), "x");
  }
  list.SetFieldFormatsElement(list.GetFieldFormatsElement());
  list.GetVarAt(0)->SetFieldFormatElement(list.GetVarAt(0)->GetFieldFormatElement());
  EXPECT_EQ(list.GetFieldFormatsElement()->GetName(), "DataDictionary");
  EXPECT_EQ(list.GetVarAt(0)->GetFieldFormatElement()->GetName(), "DataField");
  list.SetFieldFormatsElement(nullptr);
  EXPECT_EQ(list.GetFieldFormatsElement(), nullptr);
}

TEST(VarListDisplay, KeyTexts) {
  NNVarList list;
  list.AddContVar("age", "Age in years", 18, 90, 40, 100, kIn, kReal);
  list.AddCatVar("colour", "", std::vector<std::string>{"red", "blue"}, kOut, kStr);
  std::ostringstream out;
  list.Display(out);
  const std::string text = out.str();
  EXPECT_EQ(text.find("\nBegin display of NNVarList object.\n"), 0u);
  for (const char* key :
       {"Total variables: 2\n", "fNumContVar = 1\n", "fNumCatVar  = 1\n", "Variable 0\n",
        "Variable 1\n", "Continuous variable: name = age, label = Age in years, role = Input",
        "\tMean = 40, variance = 100, min = 18, max = 90, correction = 0",
        "Start of NNLinearEncoder display",
        "Categorical variable: name = colour, label = , role = Output, storage = String",
        "\tMeasurement Level = String Categorical", "\tNumber of Categories = 2",
        "\tNNStringEncoder object:  Last code = 1"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  EXPECT_EQ(text.size() - text.rfind("End of display for NNVarList object.\n"),
            std::string("End of display for NNVarList object.\n").size());
}

}  // namespace
