// The main job on the embedded dataset.
#pragma once

#include <ostream>

namespace vxnn {

// Describes the embedded iris data as a variable list, shows it, and checks
// that it survives both saved forms. Returns the process exit code.
int RunDemo(std::ostream& out);

}  // namespace vxnn
