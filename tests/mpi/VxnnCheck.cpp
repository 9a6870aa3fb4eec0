// The helper of the `vxnn --distributed` tests (vxnn_distributed.cmake):
//
//   vxnn_mpi_check data FILE ROWS       writes a CSV of ROWS rows with a
//                                       categorical input and gaps
//   vxnn_mpi_check same-model A B       exit 0 when the saved models are
//                                       the same but for their processor
//                                       times, 1 otherwise
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/saved_times.h"
#include "model/ModelFile.h"

namespace {

// A target that depends on the inputs, so that training has something to
// learn, from a generator of fixed arithmetic, so that every run writes the
// same file.
int WriteData(const char* path, long rows) {
  std::ofstream out(path, std::ios::binary);
  out << "x1,x2,colour,x3,y\n";
  unsigned long long state = 20261208;
  auto uniform = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1.0p-53;
  };
  const char* colours[] = {"red", "green", "blue"};
  for (long i = 0; i < rows; ++i) {
    const double x1 = uniform() * 4 - 2, x2 = uniform() * 4 - 2, x3 = uniform();
    const int c = static_cast<int>(uniform() * 3);
    const double y = x1 * x2 + (c == 1 ? 1.5 : -0.5 * c) + 0.3 * x3 + 0.1 * uniform();
    char line[160];
    // Every 13th row misses x2, every 29th its colour.
    std::snprintf(line, sizeof line, "%.6f,%s,%s,%.6f,%.6f\n", x1,
                  i % 13 == 4 ? "" : std::to_string(x2).c_str(), i % 29 == 7 ? "" : colours[c], x3,
                  y);
    out << line;
  }
  return out ? 0 : 1;
}

int SameModel(const char* a, const char* b) {
  try {
    const vxnn::LoadedModel first = vxnn::LoadModel(a), second = vxnn::LoadModel(b);
    const std::string x = saved_times::SavedWithoutTimes(*first.fAlgorithm);
    const std::string y = saved_times::SavedWithoutTimes(*second.fAlgorithm);
    if (x == saved_times::kNotSaved || x != y) {
      std::printf("%s and %s differ\n", a, b);
      return 1;
    }
    std::printf("%s and %s are the same model\n", a, b);
    return 0;
  } catch (const std::exception& e) {
    std::printf("%s\n", e.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "data" && argc == 4) return WriteData(argv[2], std::atol(argv[3]));
  if (verb == "same-model" && argc == 4) return SameModel(argv[2], argv[3]);
  std::fprintf(stderr, "usage: vxnn_mpi_check data FILE ROWS | same-model A B\n");
  return 2;
}
