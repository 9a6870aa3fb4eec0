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
  return list.GetNumInputs() == 5 ? 0 : 1;
}
