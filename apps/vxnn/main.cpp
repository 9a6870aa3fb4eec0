// vxnn: a command-line host for the vxneural library.
#include <iostream>

#include "Cli.h"

int main(int argc, char** argv) { return vxnn::RunCli(argc, argv, std::cout, std::cerr); }
