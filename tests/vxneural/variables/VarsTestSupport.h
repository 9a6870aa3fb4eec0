// The sample list holding every kind of variable, encoder and user-missing
// object, and the saved forms of this module's objects.
#pragma once

#include <string>

#include "common/saved_forms.h"
#include "common/stream_faults.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"

namespace vars_test {

using saved_forms::Saved;
using stream_faults::ReadOutcome;

inline NNVarList MakeFullList() {
  using VXMV::gMissingValue;
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
inline std::string ReadMessage(const std::string& className, bool xml) {
  return (xml ? "Failure reading " : "Error reading ") + className + "!\n";
}

}  // namespace vars_test
