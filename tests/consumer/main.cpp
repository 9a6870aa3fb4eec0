// A host program built outside the tree against the installed package.
#include <iostream>

#include "vxneural/vxneural.h"

int main() {
  NNVarList list;
  list.AddContVar("age", "", 18, 90, 40, 100, INNVariable::kInput, INNVariable::kReal, 0.0);
  list.AddCatVar("colour", "", std::vector<std::string>{"red", "green", "blue", "grey"},
                 INNVariable::kInput, INNVariable::kString);
  list.AddCatVar("buys", "", std::vector<double>{0.0, 1.0}, INNVariable::kOutput,
                 INNVariable::kInteger);
  std::cout << "inputs=" << list.GetNumInputs() << "\n";
  // A host that describes its fields by its own variable list converts it
  // through the umbrella header alone: a continuous input, standard
  // deviation 2.
  VXCommon_1_2::VXVarList host;
  host.Add(new VXCommon_1_2::VXContVar("income", "", 0, 2, 0.0, 10.0, 5.0, 2.0));
  NNVarList converted;
  const bool ok = ConvertHostVarList(host, converted, 0.0) && converted.Size() == 1 &&
                  converted.GetNumInputs() == 1;
  std::cout << "converted=" << ok << "\n";
  return list.GetNumInputs() == 5 && ok ? 0 : 1;
}
