// Runs the MPI tests on every process of the run. Only rank 0 prints
// GoogleTest's report (the others print their failed checks alone); every
// process's result reaches every other through one last exchange, so the
// run's exit status is nonzero when any process failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vxneural/mpi/MpiPassCombiner.h"

namespace {

// On the other ranks only the failures are printed, each with its rank, so
// that a check that fails on one process alone can still be found.
class FailurePrinter : public testing::EmptyTestEventListener {
 public:
  explicit FailurePrinter(int rank) : fRank(rank) {}
  // The test's name is kept here: asking GoogleTest for it while it
  // reports a result would wait on GoogleTest's own lock.
  void OnTestStart(const testing::TestInfo& test) override {
    fTest = std::string(test.test_suite_name()) + "." + test.name();
  }
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (!result.failed()) return;
    std::fprintf(stderr, "rank %d: %s: %s:%d: %s\n", fRank, fTest.c_str(),
                 result.file_name() ? result.file_name() : "", result.line_number(),
                 result.message());
  }

 private:
  int fRank;
  std::string fTest;
};

}  // namespace

int main(int argc, char** argv) {
  VXNeural::MpiSession mpi(&argc, &argv);
  if (!mpi.Ok()) {
    std::fprintf(stderr, "vxneural_mpi_tests: MPI did not start\n");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  const int rank = mpi.Rank();
  if (rank != 0) {
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    listeners.Append(new FailurePrinter(rank));
  }
  const int result = RUN_ALL_TESTS();

  int failed = 0;
  {
    VXNeural::MpiPassCombiner combiner;
    std::vector<double> all;
    std::vector<int> counts;
    if (!combiner.Ok() || !combiner.AllGather({result == 0 ? 0.0 : 1.0}, all, counts)) {
      std::fprintf(stderr, "vxneural_mpi_tests: rank %d could not gather the results\n", rank);
      mpi.Abort(1);
    }
    for (size_t r = 0; r < all.size(); ++r) {
      if (all[r] == 0.0) continue;
      ++failed;
      if (rank == 0) std::printf("vxneural_mpi_tests: rank %zu had failures\n", r);
    }
  }
  return failed == 0 ? 0 : 1;
}
