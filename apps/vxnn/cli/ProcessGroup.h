// The processes of a `--distributed` run, as the commands see them. The
// code that talks to MPI lives in the vxnn program alone (mpi/), so that
// vxnn_core, its tests and the Python package that link it need no MPI.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "vxneural/network/PassCombiner.h"

namespace vxnn {

class ProcessGroup {
 public:
  virtual ~ProcessGroup() = default;
  // The exchange every process of the run takes part in.
  virtual VXNeural::PassCombiner& Combiner() = 0;
  // Ends every process of the run with code: a process that fails alone
  // would otherwise leave the others waiting in their next exchange. MPI's
  // does not return.
  virtual void Abort(int code) = 0;
};

// Starts the group; null, with why set, when it cannot. Empty when vxnn
// was built without MPI.
using ProcessGroupStarter = std::function<std::unique_ptr<ProcessGroup>(std::string& why)>;

}  // namespace vxnn
