// Puts back, at the end of a test's scope, the pass kernel and the thread
// count the test found: both are process-wide, and the tests that change
// them must not leave them changed for the tests after them.
#pragma once

#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"

namespace pass_settings {

class Restore {
 public:
  Restore() = default;
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;
  ~Restore() {
    VXNeural::SetPassKernel(fKernel);
    VXNeural::SetPassThreads(fThreads);
  }

 private:
  VXNeural::PassKernel fKernel = VXNeural::GetPassKernel();
  int fThreads = VXNeural::GetPassThreads();
};

}  // namespace pass_settings
