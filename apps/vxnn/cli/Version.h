// What `vxnn --version` prints: the program's release, the version banner
// of each of the library's components, and the arithmetic kernel the passes
// over records use on this machine with the kernels this build can run.
#pragma once

#include <string>

namespace vxnn {

// The program's release, as the build states it.
const char* ProgramVersion();
// Four lines, each ending in a newline:
//   vxnn 0.1.0
//   <the perceptron component's GetComponentVersion()>
//   <the RBF component's GetComponentVersion()>
//   pass kernel: avx2 (available: reference, baseline, avx2)
// The kernel is the one the passes would use (the widest the processor
// runs, or the one VXNN_KERNEL pins; see vxneural/network/PassKernel.h).
std::string VersionText();

}  // namespace vxnn
