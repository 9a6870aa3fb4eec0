// Output statistics computed by the processes of an mpirun, each holding
// its share of the records, are the figures one process holding all of
// them computes, bit for bit: each process computes those itself, then its
// share's through MPI. No ASSERT before an exchange: every process must
// reach every exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/pass_settings.h"
#include "rbf_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/mpi/MpiPassCombiner.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"

namespace {

using namespace mlpdriver;

// Five whole blocks and part of a sixth.
constexpr int kTrain = 300, kHeld = 5 * 96 + 31;

std::vector<double> Figures(const NNOutputStatistics& s) {
  std::vector<double> f{static_cast<double>(s.GetStatus()), s.GetTotalError(),
                        s.GetAvgRelativeError(), s.GetAvgPercentIncorrect()};
  f.insert(f.end(), s.GetRelativeErrors().begin(), s.GetRelativeErrors().end());
  f.insert(f.end(), s.GetPercentsCorrect().begin(), s.GetPercentsCorrect().end());
  for (int k = 0; k < s.GetNumCatOutputs(); ++k)
    for (int n : s.GetMisClassMatrixInOneVec(k)) f.push_back(n);
  return f;
}

TEST(MpiSharedEvaluation, EveryProcessGetsTheOneProcessStatistics) {
  pass_settings::Restore restore;
  VXNeural::MpiPassCombiner combiner;
  const int rank = combiner.Rank(), size = combiner.Size();
  const std::vector<Record> held = MakeRecords(kHeld, 43);
  for (bool rbf : {false, true}) {
    SCOPED_TRACE(rbf ? "RBF" : "MLP");
    // Every process trains the same model on its own.
    AnyModel m = MakeAny(rbf, kBothTargets, kTrain, 0, {});
    EXPECT_TRUE(m.Algorithm()->Train(kTrain, 0).IsOK());
    VectorRecordIter all(held);
    NNOutputStatistics whole;
    EXPECT_TRUE(m.Algorithm()->ComputeOutputStats(all, kHeld, whole).IsOK());
    EXPECT_TRUE(whole.StatsOK());

    // Two threads on the odd processes: the thread count changes nothing.
    VXNeural::SetPassThreads(rank % 2 + 1);
    const VXNeural::RecordShare share = VXNeural::ShareOf(kHeld, rank, size);
    const std::vector<Record> mine(held.begin() + share.first, held.begin() + share.end);
    VectorRecordIter source(mine);
    NNOutputStatistics shared;
    VXNeural::SetPassCombiner(&combiner);
    const VXStatus status = m.Algorithm()->ComputeOutputStats(source, kHeld, shared);
    VXNeural::SetPassCombiner(nullptr);
    EXPECT_TRUE(status.IsOK()) << status.GetErrorCode();
    const std::vector<double> expected = Figures(whole), got = Figures(shared);
    EXPECT_TRUE(got.size() == expected.size() &&
                std::memcmp(got.data(), expected.data(), got.size() * sizeof(double)) == 0)
        << "rank " << rank << " of " << size;
  }
}

}  // namespace
