// Starts the processes of a --distributed run over MPI (vxneural::mpi).
#pragma once

#include "cli/ProcessGroup.h"

namespace vxnn {

// MPI is started by the first call of the starter, not before: a run
// without --distributed never starts it. argc and argv must outlive it.
ProcessGroupStarter MpiGroupStarter(int* argc, char*** argv);

}  // namespace vxnn
