// vxnn: a command-line host for the vxneural library.
#include <CLI/CLI.hpp>
#include <iostream>

#include "CsvTable.h"
#include "Demo.h"

int main(int argc, char** argv) {
  CLI::App app{"vxnn: neural-network models from CSV files"};
  app.require_subcommand(1);
  CLI::App* demo = app.add_subcommand("demo", "Run the main job on the embedded iris dataset");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  try {
    if (demo->parsed()) return vxnn::RunDemo(std::cout);
  } catch (const vxnn::InputError& e) {
    std::cerr << "vxnn: error: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "vxnn: error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
