// The host variable list: what it holds and what it owns.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "vxcommon/VXMissing.h"
#include "vxcommon/VXVarList.h"

namespace {

using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXVarList;
using VXXML_1_2::XMLElement;

XMLElement* Format(const std::string& pattern) {
  XMLElement* element = XMLElement::Create("FieldFormat");
  element->AddAttribute("pattern", pattern);
  return element;
}

TEST(VarListTest, HoldsVariablesInOrder) {
  VXVarList list;
  EXPECT_EQ(list.Add(new VXContVar("age", "Age", IVXVariable::kRoleInput, 2, 18, 90, 40, 2)), 0);
  auto* colour = new VXCatVar("colour", "", IVXVariable::kRoleTarget, 3, false, 2);
  colour->SetStringValues({"red", "blue"});
  EXPECT_EQ(list.Add(colour), 1);
  auto* code = new VXCatVar("code", "Code", IVXVariable::kRoleBoth, 1, true, 5);
  EXPECT_EQ(list.Add(code), 2);
  EXPECT_EQ(list.Add(nullptr), -1);
  EXPECT_EQ(list.Size(), 3);
  EXPECT_EQ(list.GetVarAt(-1), nullptr);
  EXPECT_EQ(list.GetVarAt(3), nullptr);
  EXPECT_EQ(list.GetVarAt(2)->GetMeasureLevel(), IVXVariable::kNumericCategorical);
  // The number of values is what was given, not the declared count.
  EXPECT_EQ(colour->GetNumberOfValues(), 2);
  EXPECT_EQ(code->GetNumberOfCategories(), 5);
  EXPECT_EQ(code->GetNumberOfValues(), 0);
  code->SetNumericValues({1.0, 2.0, 4.0});
  EXPECT_EQ(code->GetNumberOfValues(), 3);
}

TEST(VarListTest, MissingValueDeclarations) {
  VXContVar income("income", "", 3, 2, 0, 1e6, 5e4, 1e4);
  income.SetMissingInterval(VXMV::gMissingValue, -1.0);
  EXPECT_TRUE(income.HasMissingInterval());
  EXPECT_TRUE(VXMV::IsMissing(income.GetMissingIntervalLow()));
  EXPECT_EQ(income.GetMissingIntervalHigh(), -1.0);
  income.AddDiscreteMissing(999.0, "refused");
  income.AddDiscreteMissing(998.0, "");
  EXPECT_EQ(income.GetDiscreteMissingNumbers(), (std::vector<double>{999.0, 998.0}));
  EXPECT_EQ(income.GetDiscreteMissingLabels(), (std::vector<std::string>{"refused", ""}));

  VXCatVar answer("answer", "", 3, 3, false, 0);
  answer.AddDiscreteMissing(std::string("n/a"), "not asked");
  EXPECT_EQ(answer.GetDiscreteMissingStrings(), (std::vector<std::string>{"n/a"}));
  // An empty replacement is a replacement.
  EXPECT_EQ(answer.GetMissingValueReplacement(), nullptr);
  answer.SetMissingValueReplacement("");
  ASSERT_NE(answer.GetMissingValueReplacement(), nullptr);
  EXPECT_EQ(*answer.GetMissingValueReplacement(), "");
}

// Run under the sanitizer build: each replaced or cleared element is freed
// once, and a clone outlives the list it came from.
TEST(VarListTest, OwnsFieldFormatElements) {
  std::unique_ptr<XMLElement> variableCopy, listCopy;
  {
    VXVarList list;
    EXPECT_EQ(list.GetFieldFormatsElement(), nullptr);
    list.SetFieldFormatsElement(Format("first"));
    list.SetFieldFormatsElement(Format("second"));
    auto* v = new VXContVar("x", "", 3, 2, 0, 1, 0.5, 0.1);
    v->SetFieldFormatElement(Format("0.00"));
    v->SetFieldFormatElement(Format("0.000"));
    list.Add(v);
    auto* w = new VXCatVar("y", "", 3, 3, false, 0);
    w->SetFieldFormatElement(Format("cleared"));
    w->SetFieldFormatElement(nullptr);
    EXPECT_EQ(w->GetFieldFormatElement(), nullptr);
    list.Add(w);
    variableCopy.reset(list.GetVarAt(0)->GetFieldFormatElement()->Clone());
    listCopy.reset(list.GetFieldFormatsElement()->Clone());
  }
  EXPECT_EQ(*variableCopy->GetAttribute("pattern"), "0.000");
  EXPECT_EQ(*listCopy->GetAttribute("pattern"), "second");
}

}  // namespace
