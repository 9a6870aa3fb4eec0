// The body of the two variable-list targets. Each input is read into a list
// that already holds variables (a reader drops them first):
//   - a refused read throws the readers' documented exception, nothing else;
//   - whether the read succeeded or was refused part way, the list is whole:
//     it answers its queries, displays itself, and its binary and XML forms
//     both read back to the same list.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "FuzzCommon.h"
#include "vxneural/variables/NNVarList.h"

namespace fuzz {

inline std::string BinaryForm(const NNVarList& list) {
  std::ostringstream out;
  list.WriteObject(out);
  return out.str();
}

inline bool ReadList(NNVarList& list, const std::string& bytes, bool xml) {
  std::istringstream in(bytes);
  return Reads([&] { xml ? list.ReadObjectXML(in) : list.ReadObject(in); });
}

// A list with one variable of each kind, so that a refused read has
// something to disturb.
inline NNVarList StartingList() {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 4.0, 2.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", std::vector<std::string>{"a", "b"}, INNVariable::kInput,
                 INNVariable::kString);
  list.AddCatVar("y", "", std::vector<double>{0.0, 1.0}, INNVariable::kOutput,
                 INNVariable::kInteger);
  return list;
}

inline void RunVarList(const std::string& bytes, bool xml) {
  NNVarList list = StartingList();
  ReadList(list, bytes, xml);
  std::vector<int> constant, invalid;
  list.IsValidList(constant, invalid);
  list.GetNumInputs();
  list.GetNInputCats();
  list.GetNOutputCats();
  std::ostringstream display;
  list.Display(display);

  const std::string binary = BinaryForm(list);
  NNVarList fromBinary;
  Check(ReadList(fromBinary, binary, false), "a list's binary form reads back");
  Check(BinaryForm(fromBinary) == binary, "a list's binary form reads back unchanged");
  std::ostringstream xmlForm;
  list.WriteObjectXML(xmlForm, 1);
  NNVarList fromXml;
  Check(ReadList(fromXml, xmlForm.str(), true), "a list's XML form reads back");
  Check(BinaryForm(fromXml) == binary, "a list's XML form reads back unchanged");
}

}  // namespace fuzz
