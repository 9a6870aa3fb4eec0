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

constexpr int kTrain = 300, kTest = 200, kHeld = 3 * 96 + 7;

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
                const std::vector<Record>& test, const std::vector<Record>& held) {
  VectorRecordIter trainSource(train), testSource(test), heldSource(held);
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
  r.stats = a->ComputeOutputStats(heldSource, kHeld, stats);
  r.figures = Figures(stats);
  r.importance = a->ComputeSensitivity(r.importances);
  return r;
}

TEST(SharedEvaluation, EveryProcessGetsTheOneProcessFigures) {
  pass_settings::Restore restore;
  const std::vector<Record> held = MakeRecords(kHeld, 41);
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    AnyModel m = MakeAny(kind.rbf, kind.targets, kTrain, kTest,
                         [](NeuralSettings& s) { s.SetComputeSensitivity(true); });
    ASSERT_TRUE(m.Algorithm()->Train(kTrain, kTest).IsOK());
    const std::string bytes = Save(*m.Algorithm(), false);
    const Result whole = Evaluate(m, bytes, m.Records(false), m.Records(true), held);
    ASSERT_TRUE(whole.stats.IsOK());
    ASSERT_TRUE(whole.importance.IsOK());
    // Computed over every held-out record: the matrix counts them all.
    ASSERT_EQ(whole.figures[0], VXNNCommon::kOutStatComputed);
    if (kind.targets != kContinuousTarget) {
      double counted = 0.0;
      for (std::size_t i = whole.figures.size() - 4; i < whole.figures.size(); ++i)
        counted += whole.figures[i];
      EXPECT_EQ(counted, kHeld);
    }
    ASSERT_EQ(whole.importances.size(), 3u);
    for (int size : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(size) + " processes");
      std::vector<Result> results(static_cast<std::size_t>(size));
      in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
        VXNeural::SetPassCombiner(&combiner);
        results[static_cast<std::size_t>(rank)] =
            Evaluate(m, bytes, Part(m.Records(false), VXNeural::ShareOf(kTrain, rank, size)),
                     Part(m.Records(true), VXNeural::ShareOf(kTest, rank, size)),
                     Part(held, VXNeural::ShareOf(kHeld, rank, size)));
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

}  // namespace
