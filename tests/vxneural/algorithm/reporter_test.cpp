// The report an MLP algorithm hands the host's listener during the
// architecture search, queried on live algorithms in their different states.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace {

using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::ProgressReport;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXQueryCancel;

const double kMissing = VXMV::gMissingValue;

// Two inputs, a continuous target y = 0.6 x0 - 0.4 x1 + noise.
std::vector<Record> Records(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    const double x0 = u(gen);
    const double x1 = u(gen);
    records.emplace_back(std::vector<double>{x0, x1, 0.6 * x0 - 0.4 * x1 + 0.05 * u(gen)});
  }
  return records;
}

// (inputs + 1) * hidden + (hidden + 1) * outputs, for 2 inputs, 1 output.
int WeightCount(int hidden) { return 3 * hidden + hidden + 1; }

class CancelAfter : public VXQueryCancel {
 public:
  explicit CancelAfter(long after) : fAfter(after) {}
  bool QueryCancel() override { return ++fCalls > fAfter; }

 private:
  long fAfter;
  long fCalls = 0;
};

struct Fixture {
  explicit Fixture(MLPSettings s) : settings(std::move(s)) {}
  MLPSettings settings;
  VectorRecordIter train{Records(120, 1)};
  VectorRecordIter test{Records(40, 2)};
  std::unique_ptr<MLPAlgorithm> algorithm;
  void Build() { algorithm = std::make_unique<MLPAlgorithm>(settings, train, &test); }
};

MLPSettings Settings() {
  MLPSettings s(2, {1}, 120);
  s.SetNumHiddenUnits(3, 1);
  s.SetMaxNDataPasses(30);
  return s;
}

const char* const kOptimizerScaleKeys[] = {"gradNorm", "trainError", "testError", "relChangeError",
                                           "errorRatio"};

TEST(MLPExpertReporter, NewAlgorithm) {
  Fixture f(Settings());
  f.Build();
  MLPExpertReporter r(f.algorithm.get());
  EXPECT_EQ(r.DiscreteMeasure("records"), 0);
  EXPECT_EQ(r.DiscreteMeasure("dataPasses"), 0);
  EXPECT_EQ(r.DiscreteMeasure("hiddenUnits"), 3);
  EXPECT_EQ(r.DiscreteMeasure("weights"), WeightCount(3));
  EXPECT_EQ(r.DiscreteMeasure("whyStop"), VXNNCommon::kStoppedUndefined);
  // Nothing trained: the optimizer knows no errors yet.
  for (const char* key : kOptimizerScaleKeys) EXPECT_EQ(r.ScaleMeasure(key), kMissing) << key;
  EXPECT_EQ(r.ScaleMeasure("elapsedTime"), 0.0);
}

TEST(MLPExpertReporter, TrainedAlgorithm) {
  Fixture f(Settings());
  f.Build();
  ASSERT_TRUE(f.algorithm->Train(120, 40).IsOK());
  ASSERT_EQ(f.algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  MLPExpertReporter r(f.algorithm.get());
  // The algorithm's counters: one sample pass plus the training passes.
  EXPECT_EQ(r.DiscreteMeasure("dataPasses"), f.algorithm->GetNumberOfDataPasses());
  EXPECT_GT(r.DiscreteMeasure("dataPasses"), 1);
  EXPECT_EQ(r.DiscreteMeasure("hiddenUnits"), 3);
  EXPECT_EQ(r.DiscreteMeasure("weights"), WeightCount(3));
  EXPECT_EQ(r.DiscreteMeasure("whyStop"), f.algorithm->GetStopReason());
  EXPECT_NE(r.DiscreteMeasure("whyStop"), VXNNCommon::kStoppedUndefined);
  // A full pass reads every training and test record.
  EXPECT_EQ(r.DiscreteMeasure("records"), 160);
  // The last run's errors, which the algorithm took over.
  EXPECT_EQ(r.ScaleMeasure("trainError"), f.algorithm->GetTrainingError());
  EXPECT_EQ(r.ScaleMeasure("testError"), f.algorithm->GetTestingError());
  EXPECT_GT(r.ScaleMeasure("trainError"), 0.0);
  EXPECT_GE(r.ScaleMeasure("gradNorm"), 0.0);
  EXPECT_GT(r.ScaleMeasure("errorRatio"), 0.0);
  EXPECT_LT(r.ScaleMeasure("errorRatio"), 1.0);
  // Missing when the run went back to its starting point, whose relative
  // change is not known: the reporter passes it on either way.
  EXPECT_EQ(r.ScaleMeasure("relChangeError"), f.algorithm->GetOptimizer()->GetRelChangeInErr());
  EXPECT_EQ(r.ScaleMeasure("gradNorm"), f.algorithm->GetOptimizer()->GetLastGradientNorm());
  EXPECT_EQ(r.ScaleMeasure("elapsedTime"), f.algorithm->GetElapsedTime());
}

TEST(MLPExpertReporter, CancelledAlgorithmHasNoNetworkOrOptimizer) {
  MLPSettings s = Settings();
  CancelAfter cancel(200);
  s.SetCancelPointer(&cancel);
  Fixture f(s);
  f.Build();
  f.algorithm->Train(120, 40);
  ASSERT_EQ(f.algorithm->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  MLPExpertReporter r(f.algorithm.get());
  EXPECT_EQ(r.DiscreteMeasure("weights"), -1);
  EXPECT_EQ(r.DiscreteMeasure("records"), -1);
  for (const char* key : kOptimizerScaleKeys) EXPECT_EQ(r.ScaleMeasure(key), kMissing) << key;
  // The algorithm's own counters are still there.
  EXPECT_EQ(r.DiscreteMeasure("hiddenUnits"), 3);
  EXPECT_EQ(r.DiscreteMeasure("dataPasses"), f.algorithm->GetNumberOfDataPasses());
  EXPECT_EQ(r.ScaleMeasure("elapsedTime"), f.algorithm->GetElapsedTime());
}

TEST(MLPExpertReporter, KeysOutsideTheTable) {
  Fixture f(Settings());
  f.Build();
  ASSERT_TRUE(f.algorithm->Train(120, 40).IsOK());
  MLPExpertReporter r(f.algorithm.get());
  for (const char* key : {"", "Weights", "hiddenunits", "weights ", "bic", "trainError"})
    EXPECT_EQ(r.DiscreteMeasure(key), -1) << key;
  for (const char* key : {"", "TrainError", "bic", "accuracy", "dataPasses", "weights"})
    EXPECT_EQ(r.ScaleMeasure(key), kMissing) << key;

  MLPExpertReporter none(nullptr);
  EXPECT_EQ(none.DiscreteMeasure("dataPasses"), -1);
  EXPECT_EQ(none.ScaleMeasure("elapsedTime"), kMissing);

  // Copies read the same algorithm; assignment retargets.
  MLPExpertReporter copy(r);
  EXPECT_EQ(copy.DiscreteMeasure("weights"), WeightCount(3));
  copy = none;
  EXPECT_EQ(copy.DiscreteMeasure("weights"), -1);
}

// What the listener saw in each report of the search.
class SearchListener : public ProgressListener {
 public:
  explicit SearchListener(MLPAlgorithm** algorithm) : fAlgorithm(algorithm) {}
  struct Seen {
    bool expertReport;
    VXNNCommon::AlgorithmStatus status;
    int hiddenUnits;
    int weights;
    int records;
    double trainError;
  };
  void Report(ProgressReport& report) override {
    seen.push_back({dynamic_cast<MLPExpertReporter*>(&report) != nullptr,
                    (*fAlgorithm)->GetAlgorithmStatus(), report.DiscreteMeasure("hiddenUnits"),
                    report.DiscreteMeasure("weights"), report.DiscreteMeasure("records"),
                    report.ScaleMeasure("trainError")});
  }
  std::vector<Seen> seen;

 private:
  MLPAlgorithm** fAlgorithm;
};

TEST(MLPExpertReporter, HandedToTheListenerBeforeAndAfterTheSearch) {
  MLPAlgorithm* raw = nullptr;
  SearchListener listener(&raw);
  MLPSettings s = Settings();
  s.SetNHiddenUnitsRange(1, 6);
  s.SetProgressListener(&listener);
  Fixture f(s);
  f.Build();
  raw = f.algorithm.get();
  ASSERT_TRUE(f.algorithm->SelectArchitecture().IsOK());
  const int selected = f.algorithm->GetNumberOfHiddenUnits();

  ASSERT_EQ(listener.seen.size(), 2u);
  for (const auto& seen : listener.seen) {
    EXPECT_TRUE(seen.expertReport);
    EXPECT_EQ(seen.status, VXNNCommon::kExpert);
  }
  EXPECT_EQ(listener.seen[0].hiddenUnits, 3);
  EXPECT_EQ(listener.seen[0].weights, WeightCount(3));
  // The untrained network's error on every sampled record (120 records, no
  // more than 1000: all of them, 120 + 40).
  EXPECT_EQ(listener.seen[0].records, 160);
  EXPECT_GT(listener.seen[0].trainError, 0.0);
  EXPECT_EQ(listener.seen[1].hiddenUnits, selected);
  EXPECT_EQ(listener.seen[1].weights, WeightCount(selected));
  EXPECT_LT(listener.seen[1].trainError, listener.seen[0].trainError);
  EXPECT_EQ(f.algorithm->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
}

}  // namespace
