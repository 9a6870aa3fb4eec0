// A run in which process 1 dies (SIGKILL, which it cannot catch) just
// before an exchange. The others must not wait for it for ever: either
// their exchange fails, or the MPI run-time ends them. Either way the run
// ends with a nonzero status; a run that completes prints "exchange
// completed", which the test that starts this program refuses.
#include <csignal>
#include <cstdio>
#include <vector>

#include "vxneural/mpi/MpiPassCombiner.h"

int main(int argc, char** argv) {
  VXNeural::MpiSession mpi(&argc, &argv);
  if (!mpi.Ok()) return 1;
  VXNeural::MpiPassCombiner combiner;
  if (combiner.Rank() == 1) std::raise(SIGKILL);
  std::vector<double> all;
  std::vector<int> counts;
  if (!combiner.AllGather({1.0 * combiner.Rank()}, all, counts)) {
    std::fprintf(stderr, "rank %d: exchange failed\n", combiner.Rank());
    mpi.Abort(2);
  }
  std::printf("rank %d: exchange completed\n", combiner.Rank());
  return 0;
}
