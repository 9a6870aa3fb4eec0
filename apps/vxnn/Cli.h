// The command line: subcommands, their options, and how failures become one
// line on standard error and an exit code.
#pragma once

#include <ostream>

namespace vxnn {

// Exit codes: 0 success, 1 unusable input or a refusal, 2 a command line
// that does not parse, 130 interrupted by Ctrl-C.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace vxnn
