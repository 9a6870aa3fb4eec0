#include "vxneural/network/NNContOutput.h"

#include <ostream>

#include "persist/Display.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNContVar.h"

NNContOutput::NNContOutput(const NNContVar* var)
    : fOutput(VXMV::gMissingValue), fRealOutput(VXMV::gMissingValue) {
  if (var != nullptr && var->GetLinearEncoder() != nullptr) fEncoder = *var->GetLinearEncoder();
}

double NNContOutput::SetOutputs(const double* units) {
  fOutput = units[0];
  fRealOutput = fEncoder.Unnormalize(fOutput);
  return fRealOutput;
}

void NNContOutput::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNContOutput display\n";
  ShowValue(out, "Raw output: ", fOutput);
  ShowValue(out, "Unnormalized output: ", fRealOutput);
  out << "End of NNContOutput display\n";
}
