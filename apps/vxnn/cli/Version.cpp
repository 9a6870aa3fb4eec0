#include "cli/Version.h"

#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/RBFAlgorithm.h"
#include "vxneural/network/PassKernel.h"

namespace vxnn {

const char* ProgramVersion() { return VXNN_VERSION; }

std::string VersionText() {
  // The banner is a state-independent operation: an algorithm built without
  // data (and so in its failed state) still answers it.
  const MLPAlgorithm mlp(MLPSettings(), nullptr);
  const RBFAlgorithm rbf(RBFSettings(), nullptr);
  std::string text = std::string("vxnn ") + ProgramVersion() + "\n";
  text += mlp.GetComponentVersion() + "\n";
  text += rbf.GetComponentVersion() + "\n";
  text += std::string("pass kernel: ") + VXNeural::PassKernelName(VXNeural::GetPassKernel()) +
          " (available:";
  const char* separator = " ";
  for (const VXNeural::PassKernel k : VXNeural::AvailablePassKernels()) {
    text += separator;
    text += VXNeural::PassKernelName(k);
    separator = ", ";
  }
  return text + ")\n";
}

}  // namespace vxnn
