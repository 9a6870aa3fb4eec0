// An RBF network trained by the processes of an mpirun, each holding its
// share of the records, is the model one process holding all of them
// trains: the pre-clustering handed from process to process, the solver's
// sums exchanged. Each process trains the one-process model itself, then
// its share through MPI, and the saved bytes (but for the processor times)
// must match. No ASSERT before an exchange: every process must reach every
// exchange.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/pass_settings.h"
#include "common/saved_times.h"
#include "rbf_fixtures.h"
#include "vxneural/mpi/MpiPassCombiner.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"

namespace {

using namespace mlpdriver;

constexpr int kTrain = 700, kTest = 300;

std::vector<Record> Part(const std::vector<Record>& all, VXNeural::RecordShare share) {
  return {all.begin() + share.first, all.begin() + share.end};
}

std::string Trained(INeuralAlgorithm& a, double retrain) {
  auto& rbf = dynamic_cast<RBFAlgorithm&>(a);
  rbf.SetKeepClusters(retrain > 0.0);
  VXStatus status = a.Train(kTrain, kTest);
  if (status.IsOK() && retrain > 0.0) status = rbf.RetrainAtOverlap(retrain);
  if (!status.IsOK()) return "code " + std::to_string(status.GetErrorCode());
  return saved_times::SavedWithoutTimes(a);
}

TEST(MpiSharedRBFTraining, EveryProcessTrainsTheOneProcessModel) {
  pass_settings::Restore restore;
  VXNeural::MpiPassCombiner combiner;
  const int rank = combiner.Rank(), size = combiner.Size();
  struct Case {
    const char* name;
    int units;  // 0: chosen by the clustering
    double retrain;
  };
  for (const Case& c : {Case{"chosen units", 12, 0.0}, Case{"automatic units", 0, 0.0},
                        Case{"retrained at another overlap", 9, 2.5}}) {
    SCOPED_TRACE(c.name);
    auto adjust = [&](NeuralSettings& s) {
      if (c.units > 0) s.SetNumHiddenUnits(c.units, 1);
    };
    VXNeural::SetPassThreads(1);
    AnyModel whole = MakeAny(true, kBothTargets, kTrain, kTest, adjust, true);
    const std::string expected = Trained(*whole.Algorithm(), c.retrain);

    // Two threads on the odd processes: the thread count changes nothing.
    VXNeural::SetPassThreads(rank % 2 + 1);
    AnyModel m = MakeAny(true, kBothTargets, kTrain, kTest, adjust, true);
    const std::vector<Record> train = Part(m.Records(false), VXNeural::ShareOf(kTrain, rank, size)),
                              test = Part(m.Records(true), VXNeural::ShareOf(kTest, rank, size));
    VectorRecordIter trainSource(train), testSource(test);
    INeuralAlgorithm* a = m.Rebuild(trainSource, &testSource);
    VXNeural::SetPassCombiner(&combiner);
    const std::string saved = Trained(*a, c.retrain);
    VXNeural::SetPassCombiner(nullptr);
    EXPECT_GT(expected.size(), 100u) << expected;
    EXPECT_TRUE(saved == expected)
        << "rank " << rank << " of " << size << ": " << saved.substr(0, 20);
  }
}

}  // namespace
