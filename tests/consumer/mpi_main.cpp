// A host built outside the tree that asks for the mpi component: it
// includes the MPI combiner's header without MPI's own and gathers every
// process's rank.
#include <iostream>

#include "vxneural/mpi/MpiPassCombiner.h"

int main(int argc, char** argv) {
  VXNeural::MpiSession mpi(&argc, &argv);
  VXNeural::MpiPassCombiner combiner;
  std::vector<double> all;
  std::vector<int> counts;
  if (!mpi.Ok() || !combiner.AllGather({1.0 * combiner.Rank()}, all, counts)) return 1;
  double sum = 0;
  for (double v : all) sum += v;
  if (combiner.Rank() == 0)
    std::cout << "processes=" << combiner.Size() << " ranks=" << sum << "\n";
  return 0;
}
