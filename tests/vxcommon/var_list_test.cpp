// The host variable list: what it holds and what it owns.
#include <gtest/gtest.h>

#include <memory>
#include <string>

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
  // An empty replacement of a missing value is a replacement.
  EXPECT_EQ(code->GetMissingValueReplacement(), nullptr);
  code->SetMissingValueReplacement("");
  ASSERT_NE(code->GetMissingValueReplacement(), nullptr);
  EXPECT_EQ(*code->GetMissingValueReplacement(), "");
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
