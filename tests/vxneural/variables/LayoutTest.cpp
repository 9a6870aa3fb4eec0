// The saved layouts of the variable list, its variables, encoders and
// user-missing values, field by field against records assembled here.
#include <gtest/gtest.h>

#include <cfloat>
#include <memory>

#include "VarsTestSupport.h"
#include "common/layouts.h"

using layouts::Bytes;
using layouts::Xml;
using VXMV::gMissingValue;

namespace {

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

Bytes BinaryOfSmallList() {
  const double slope = 1.0 / (90.0 - 18.0), intercept = -slope * 18.0;
  Bytes b;
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
Xml XmlOfSmallList(bool withXmlOnly) {
  const double slope = 1.0 / (90.0 - 18.0), intercept = -slope * 18.0;
  Xml x;
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
  const auto stale = [] { return std::make_unique<NNVarList>(vars_test::MakeFullList()); };
  layouts::ExpectLayout(list, stale, BinaryOfSmallList(), XmlOfSmallList(true));

  // The binary records leave out the replacement and the flags.
  auto back = stale();
  std::stringstream in(BinaryOfSmallList().s);
  back->ReadObject(in);
  EXPECT_EQ(layouts::Items(vars_test::Saved(*back, true)), XmlOfSmallList(false).items);
}

}  // namespace
