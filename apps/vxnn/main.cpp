// vxnn: a command-line host for the vxneural library.
#include <iostream>

#include "cli/Cli.h"
#ifdef VXNN_WITH_MPI
#include "mpi/MpiGroup.h"
#endif

int main(int argc, char** argv) {
#ifdef VXNN_WITH_MPI
  return vxnn::RunCli(argc, argv, std::cout, std::cerr, vxnn::MpiGroupStarter(&argc, &argv));
#else
  return vxnn::RunCli(argc, argv, std::cout, std::cerr);
#endif
}
