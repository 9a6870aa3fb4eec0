// The command line: subcommands, their options, and how failures become one
// line on standard error and an exit code.
#pragma once

#include <ostream>

#include "cli/ProcessGroup.h"

namespace vxnn {

// Exit codes: 0 success, 1 unusable input or a refusal, 2 a command line
// that does not parse (or --distributed without startProcesses), 130
// interrupted by Ctrl-C. startProcesses starts the processes of a
// --distributed run; empty when the program was built without MPI.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err,
           const ProcessGroupStarter& startProcesses = {});

}  // namespace vxnn
