// Output statistics and importance spread over processes, each holding its
// share of the records, give every process the figures one process holding
// all of them gives, bit for bit: trained MLP and RBF models, categorical,
// continuous and both targets, over 1, 2 and 3 processes (threads here,
// tests/common/in_process_combiner.h). The held-out set has four blocks,
// the last one partial.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/in_process_combiner.h"
#include "common/pass_settings.h"
#include "vxneural/algorithm/rbf_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/PassCombiner.h"

namespace {

using namespace mlpdriver;

constexpr int kTrain = 300, kTest = 200;
// Four blocks, the last one partial; two blocks, so that the third of
// three processes holds none.
constexpr int kHeldSizes[] = {3 * 96 + 7, 100};

struct Kind {
  const char* name;
  bool rbf;
  Targets targets;
};

const Kind kKinds[] = {
    {"MLP, both targets", false, kBothTargets},
    {"MLP, categorical target", false, kCategoricalTarget},
    {"RBF, both targets", true, kBothTargets},
    {"RBF, continuous target", true, kContinuousTarget},
};

// Every figure the statistics hold, in one vector.
std::vector<double> Figures(const NNOutputStatistics& s) {
  std::vector<double> f{static_cast<double>(s.GetStatus()), s.GetTotalError(),
                        s.GetAvgRelativeError(), s.GetAvgPercentIncorrect()};
  f.insert(f.end(), s.GetRelativeErrors().begin(), s.GetRelativeErrors().end());
  f.insert(f.end(), s.GetPercentsCorrect().begin(), s.GetPercentsCorrect().end());
  for (int k = 0; k < s.GetNumCatOutputs(); ++k)
    for (int n : s.GetMisClassMatrixInOneVec(k)) f.push_back(n);
  return f;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<Record> Part(const std::vector<Record>& all, VXNeural::RecordShare share) {
  return {all.begin() + share.first, all.begin() + share.end};
}

// What one process computes: the statistics' figures over the held-out
// records, then the importance over the training and test records the
// algorithm keeps.
struct Result {
  VXStatus stats, importance;
  std::vector<double> figures, importances;
};

// The model restored from its saved form over these training and test
// records, and the figures it computes over these held-out ones.
Result Evaluate(const AnyModel& m, const std::string& bytes, const std::vector<Record>& train,
                const std::vector<Record>& test, VXCommon_1_2::MultiPassRecordIter& heldSource,
                int nHeld) {
  VectorRecordIter trainSource(train), testSource(test);
  std::istringstream in(bytes);
  std::unique_ptr<INeuralAlgorithm> a;
  if (m.rbf) {
    RBFFactory factory;
    a.reset(factory.RestoreNeuralAlgorithmFromBinary(in, trainSource, &testSource));
  } else {
    MLPFactory factory;
    a.reset(factory.RestoreNeuralAlgorithmFromBinary(in, trainSource, &testSource));
  }
  Result r;
  if (!a) {
    r.stats = VXStatus(5, false);
    return r;
  }
  NNOutputStatistics stats;
  r.stats = a->ComputeOutputStats(heldSource, nHeld, stats);
  r.figures = Figures(stats);
  r.importance = a->ComputeSensitivity(r.importances);
  return r;
}

TEST(SharedEvaluation, EveryProcessGetsTheOneProcessFigures) {
  pass_settings::Restore restore;
  for (const Kind& kind : kKinds) {
    AnyModel m = MakeAny(kind.rbf, kind.targets, kTrain, kTest,
                         [](NeuralSettings& s) { s.SetComputeSensitivity(true); });
    ASSERT_TRUE(m.Algorithm()->Train(kTrain, kTest).IsOK());
    const std::string bytes = Save(*m.Algorithm(), false);
    for (int nHeld : kHeldSizes) {
      SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(nHeld) + " held-out records");
      const std::vector<Record> held = MakeRecords(nHeld, 41);
      VectorRecordIter allHeld(held);
      const Result whole = Evaluate(m, bytes, m.Records(false), m.Records(true), allHeld, nHeld);
      ASSERT_TRUE(whole.stats.IsOK());
      ASSERT_TRUE(whole.importance.IsOK());
      // Computed over every held-out record: the matrix counts them all.
      ASSERT_EQ(whole.figures[0], VXNNCommon::kOutStatComputed);
      if (kind.targets != kContinuousTarget) {
        double counted = 0.0;
        for (std::size_t i = whole.figures.size() - 4; i < whole.figures.size(); ++i)
          counted += whole.figures[i];
        EXPECT_EQ(counted, nHeld);
      }
      ASSERT_EQ(whole.importances.size(), 3u);
      for (int size : {1, 2, 3}) {
        SCOPED_TRACE(std::to_string(size) + " processes");
        std::vector<Result> results(static_cast<std::size_t>(size));
        in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
          VectorRecordIter mine(Part(held, VXNeural::ShareOf(nHeld, rank, size)));
          VXNeural::SetPassCombiner(&combiner);
          results[static_cast<std::size_t>(rank)] =
              Evaluate(m, bytes, Part(m.Records(false), VXNeural::ShareOf(kTrain, rank, size)),
                       Part(m.Records(true), VXNeural::ShareOf(kTest, rank, size)), mine, nHeld);
          VXNeural::SetPassCombiner(nullptr);
        });
        for (int r = 0; r < size; ++r) {
          const Result& got = results[static_cast<std::size_t>(r)];
          EXPECT_EQ(got.stats, whole.stats) << "rank " << r;
          EXPECT_EQ(got.importance, whole.importance) << "rank " << r;
          EXPECT_TRUE(SameBits(got.figures, whole.figures)) << "rank " << r;
          EXPECT_TRUE(SameBits(got.importances, whole.importances)) << "rank " << r;
        }
      }
    }
  }
}

// A process whose records fail while it encodes them still comes to the
// exchange of the counts, with its failure, and every process answers with
// that failure instead of waiting for it.
TEST(SharedEvaluation, AFailureWhileEncodingOnOneProcessIsEveryProcesssAnswer) {
  pass_settings::Restore restore;
  AnyModel m = MakeAny(false, kBothTargets, kTrain, kTest, {});
  ASSERT_TRUE(m.Algorithm()->Train(kTrain, kTest).IsOK());
  const std::string bytes = Save(*m.Algorithm(), false);
  const std::vector<Record> held = MakeRecords(kHeldSizes[0], 41);
  std::vector<VXStatus> statuses(3);
  in_process::RunProcesses(3, [&](int rank, in_process::Combiner& combiner) {
    const std::vector<Record> part = Part(held, VXNeural::ShareOf(kHeldSizes[0], rank, 3));
    host_doubles::FailsWhenAsked failing(part, rank == 1 ? 10 : part.size() + 1);
    VXNeural::SetPassCombiner(&combiner);
    statuses[static_cast<std::size_t>(rank)] =
        Evaluate(m, bytes, Part(m.Records(false), VXNeural::ShareOf(kTrain, rank, 3)),
                 Part(m.Records(true), VXNeural::ShareOf(kTest, rank, 3)), failing, kHeldSizes[0])
            .stats;
    VXNeural::SetPassCombiner(nullptr);
  });
  EXPECT_EQ(statuses, std::vector<VXStatus>(3, VXStatus(50014, false)));
}

}  // namespace
