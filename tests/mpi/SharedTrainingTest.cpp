// An MLP trained by the processes of an mpirun, each holding its share of
// the training and test records, is the model one process holding all of
// them trains: each process trains that one itself, then its share through
// MPI, and the saved bytes (but for the processor times) must match: from
// encoded records, and through a variable list with the encoded records in
// memory or spilled to temporary files. No ASSERT before an exchange: every
// process must reach every exchange.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/pass_settings.h"
#include "common/saved_times.h"
#include "common/scratch_dir.h"
#include "rbf_fixtures.h"
#include "shared_prepared.h"
#include "vxneural/mpi/MpiPassCombiner.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"

namespace {

using namespace mlpdriver;

constexpr int kTrain = 700, kTest = 300;

std::vector<Record> Part(const std::vector<Record>& all, VXNeural::RecordShare share) {
  return {all.begin() + share.first, all.begin() + share.end};
}

TEST(MpiSharedTraining, EveryProcessTrainsTheOneProcessModel) {
  pass_settings::Restore restore;
  VXNeural::MpiPassCombiner combiner;
  const int rank = combiner.Rank(), size = combiner.Size();
  for (bool batchDescent : {false, true}) {
    SCOPED_TRACE(batchDescent ? "batch gradient descent" : "scaled conjugate gradient");
    auto adjust = [&](NeuralSettings& s) {
      if (batchDescent)
        dynamic_cast<MLPSettings&>(s).SetTrainingMethodAndType(VXNNCommon::kGradientDescent,
                                                               VXNNCommon::kBatch);
    };
    AnyModel whole = MakeAny(false, kBothTargets, kTrain, kTest, adjust, true);
    EXPECT_TRUE(whole.Algorithm()->Train(kTrain, kTest).IsOK());
    const std::string expected = saved_times::SavedWithoutTimes(*whole.Algorithm());

    // Two threads on the odd processes: the thread count changes nothing.
    VXNeural::SetPassThreads(rank % 2 + 1);
    AnyModel m = MakeAny(false, kBothTargets, kTrain, kTest, adjust, true);
    const std::vector<Record> train = Part(m.Records(false), VXNeural::ShareOf(kTrain, rank, size)),
                              test = Part(m.Records(true), VXNeural::ShareOf(kTest, rank, size));
    VectorRecordIter trainSource(train), testSource(test);
    INeuralAlgorithm* a = m.Rebuild(trainSource, &testSource);
    VXNeural::SetPassCombiner(&combiner);
    const VXStatus status = a->Train(kTrain, kTest);
    VXNeural::SetPassCombiner(nullptr);
    EXPECT_TRUE(status.IsOK()) << status.GetErrorCode();
    EXPECT_GT(expected.size(), 100u);
    EXPECT_TRUE(saved_times::SavedWithoutTimes(*a) == expected)
        << "rank " << rank << " of " << size;
  }
}

// Each process's preparator encodes its share of the raw records. The
// second sets have fewer blocks than there are processes from 2 on (two
// training blocks, one test block): the processes without a share of them
// train the same model.
TEST(MpiSharedTraining, PreparedSharesTrainTheOneProcessModel) {
  pass_settings::Restore restore;
  scratch_dir::ScratchDir dir;
  VXNeural::MpiPassCombiner combiner;
  const int rank = combiner.Rank(), size = combiner.Size();
  for (const shared_prepared::Layout& layout : shared_prepared::Layouts()) {
    for (const auto& [nTrain, nTest] : {std::pair{kTrain, kTest}, std::pair{150, 60}}) {
      SCOPED_TRACE(std::string(layout.name) + ", " + std::to_string(nTrain) + " and " +
                   std::to_string(nTest) + " records");
      VXNeural::SetPassThreads(1);
      const std::string expected =
          shared_prepared::TrainPrepared(layout, nullptr, nTrain, nTest, dir.Path());
      VXNeural::SetPassThreads(rank % 2 + 1);
      const std::string saved =
          shared_prepared::TrainPrepared(layout, &combiner, nTrain, nTest, dir.Path());
      EXPECT_GT(expected.size(), 100u) << expected;
      EXPECT_TRUE(saved == expected)
          << "rank " << rank << " of " << size << ": " << saved.substr(0, 40);
    }
  }
  EXPECT_EQ(dir.Count(), 0);
}

}  // namespace
