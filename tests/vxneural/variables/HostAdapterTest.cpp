// Conversion of the host's own variable list: each host variable becomes
// the variable the NNVarList operations would have made (compared through
// the list's saved form), with the role and storage mappings, the flags,
// user-missing values, replacements and the values that are not saved.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "vxcommon/VXMissing.h"
#include "vxcommon/VXVarList.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"
#include "vxneural/variables/VXVarAdapter.h"

namespace {

using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXVarList;

std::string Bytes(const NNVarList& list) {
  std::ostringstream out;
  list.WriteObject(out);
  return out.str();
}

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
  expected.AddContVar("y", "Yield", 0.0, 10.0, 5.0, 4.0, INNVariable::kOutput, INNVariable::kReal);
  expected.SetMissingInterval(0, mv, -1.0);
  expected.AddDiscreteUserMissing(0, 99.0, "refused");
  expected.AddCatVar("s", "", std::vector<std::string>{"a", "b"}, INNVariable::kInput,
                     INNVariable::kString);
  expected.AddDiscreteUserMissing(1, std::string("?"), "unknown");
  expected.AddCatVar("n", "", std::vector<double>{1.0, 2.0}, {"one", "two"}, INNVariable::kInput,
                     INNVariable::kInteger);
  dynamic_cast<NNCatVar*>(expected.GetVarAt(2))->SetBinaryFlag(true, 1);
  expected.AddCatVar("d", "Declared", 4, INNVariable::kNumericCategorical, INNVariable::kOutput,
                     INNVariable::kUndefinedStorage);
  dynamic_cast<NNCatVar*>(expected.GetVarAt(3))->SetOrdinalFlag(true);
  expected.AddCatVar("t", "", 3, INNVariable::kStringCategorical, INNVariable::kInput,
                     INNVariable::kString);
  expected.SetMissingValueReplacement(0, "5");

  NNVarList out;
  ASSERT_TRUE(ConvertHostVarList(host, out, 0.0));
  EXPECT_EQ(Bytes(out), Bytes(expected));
  bool binary = false;
  int trueIndex = -1;
  dynamic_cast<const NNCatVar*>(out.GetVarAt(2))->GetBinaryFlag(binary, trueIndex);
  EXPECT_TRUE(binary);
  EXPECT_EQ(trueIndex, 1);
  EXPECT_FALSE(dynamic_cast<const NNCatVar*>(out.GetVarAt(2))->GetOrdinalFlag());
  ASSERT_NE(out.GetVarAt(0)->GetMissingValueReplacement(), nullptr);
  EXPECT_EQ(*out.GetVarAt(0)->GetMissingValueReplacement(), "5");
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
