// Datasets compiled into the program, so that `vxnn demo` runs anywhere.
#pragma once

namespace vxnn {

// data/iris.csv, as shipped in the repository.
extern const char* const kIrisCsv;

}  // namespace vxnn
