// Batch gradient descent runs: the step search against a second
// implementation, the stop rules in their order, the verifying cycle,
// cancellation, progress reports, and training on the iris data.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/algorithm/MLPReporter.h"
#include "vxneural/optim/GradientDescentBatch.h"

namespace {

using namespace optim_fixtures;
using VXNNCommon::StopReason;

// Small enough for every plain step on the linear data to be taken.
constexpr double kEta = 0.02;

// A linear network (2 inputs, 1 continuous target, no hidden layer) on
// linear data, with its own optimizer.
struct Linear {
  explicit Linear(std::valarray<double> start = {}) {
    settings = MakeSettings(2, {1}, {}, VXNNCommon::kIdentity, 40);
    net = std::make_unique<NNetwork>(*settings);
    // Its own settings: the host's cancel object must not stop the oracle.
    oracleSettings = std::make_unique<MLPSettings>(*settings);
    oracle = std::make_unique<NNetwork>(*oracleSettings);
    initial = start.size() ? start : UniformWeights(net->GetNumWeights(), 3, -0.5, 0.5);
    net->SetWeights(initial);
    settings->SetEtaInit(kEta);
    settings->SetAlpha(0.0);
  }
  VXStatus Run(VXCommon_1_2::MultiPassRecordIter* test = nullptr, int nTest = 0) {
    gdb = std::make_unique<GradientDescentBatch>(settings.get(), net.get());
    auto train = VectorRecordIter::Borrow(records);
    VXStatus status;
    return gdb->Train(status, train, test, 1000, nTest);
  }
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> net;
  std::unique_ptr<MLPSettings> oracleSettings;
  std::unique_ptr<NNetwork> oracle;
  std::vector<Record> records = LinearRecords(40, 7);
  std::valarray<double> initial;
  std::unique_ptr<GradientDescentBatch> gdb;
};

// Batch gradient descent written out plainly: momentum capped at the
// gradient term, eta halved until a step lowers the error, a stop once the
// data-pass limit is reached after an iteration (or inside a search).
struct Reference {
  std::valarray<double> w;
  double error = 0.0, errorPrev = 0.0, relChange = 0.0;
  int passes = 0, iterations = 0;
};
Reference RunReference(NNetwork& oracle, std::valarray<double> w,
                       const std::vector<Record>& records, double eta, double alpha, double rho,
                       int maxPasses) {
  Reference ref;
  std::valarray<double> a(0.0, w.size());
  Evaluation at = Evaluate(oracle, w, records);
  ref.passes = 1;
  ref.error = at.error;
  while (true) {
    bool accepted = false;
    while (!accepted) {
      if (alpha * Norm(a) > eta * Norm(at.gradient))
        alpha = eta * Norm(at.gradient) / Norm(a) * rho;
      const std::valarray<double> d = (w - eta * at.gradient) + alpha * a;
      Evaluation trial = Evaluate(oracle, d, records);
      ++ref.passes;
      if (trial.error < at.error) {
        a = d - w;
        w = d;
        ref.errorPrev = at.error;
        ref.relChange =
            std::fabs(trial.error - at.error) / ((at.error + trial.error) * 0.5 + 1e-10);
        at = trial;
        accepted = true;
      } else {
        eta *= 0.5;
        if (ref.passes >= maxPasses) break;
      }
    }
    ++ref.iterations;
    if (ref.passes >= maxPasses) break;
  }
  ref.w = w;
  ref.error = at.error;
  return ref;
}

void ExpectWeightsNear(const std::valarray<double>& a, const std::valarray<double>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-12) << "weight " << i;
}

TEST(GradientDescentBatchTrain, FollowsMomentumAndHalvingLikeASecondImplementation) {
  for (const double eta : {kEta, 0.4, 50.0}) {
    Linear p;
    p.settings->SetEtaInit(eta);
    p.settings->SetAlpha(0.9);
    p.settings->SetAlphaReduction(0.9);
    p.settings->SetMaxNDataPasses(40);
    const VXStatus status = p.Run();
    EXPECT_TRUE(status.IsOK());
    const Reference ref = RunReference(*p.oracle, p.initial, p.records, eta, 0.9, 0.9, 40);
    SCOPED_TRACE(eta);
    ExpectWeightsNear(WeightsOf(*p.net), ref.w);
    EXPECT_EQ(p.gdb->GetNDataPasses(), ref.passes);
    EXPECT_EQ(p.gdb->GetNIterations(), ref.iterations);
    EXPECT_NEAR(p.gdb->GetTrainError(), ref.error, 1e-12);
    EXPECT_NEAR(p.gdb->GetAccumError(), ref.error, 1e-12);
    EXPECT_NEAR(p.gdb->GetRelChangeInErr(), ref.relChange, 1e-12);
    const double eAvg = MeanModelError(p.records, 2, 1);
    EXPECT_NEAR(p.gdb->GetErrorRatio(), ref.error / (eAvg + 1e-10), 1e-12);
    EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
    EXPECT_EQ(p.gdb->GetAlgorithmStatus(), VXNNCommon::kTrained);
    EXPECT_EQ(p.gdb->GetNRecordsProcessed(), 40);
    if (eta == 50.0) {
      EXPECT_GT(ref.passes, ref.iterations + 1) << "no step was refused";
    }
  }
}

TEST(GradientDescentBatchTrain, StopRulesFireInTheirOrder) {
  // Every rule would fire at the first stop test; relaxing them one by one
  // exposes the order time, passes, change, ratio, accuracy.
  Linear base;
  const Evaluation e0 = Evaluate(*base.oracle, base.initial, base.records);
  const std::valarray<double> w1 = base.initial - kEta * e0.gradient;
  const double e1 = Evaluate(*base.oracle, w1, base.records).error;
  ASSERT_LT(e1, e0.error);
  const double eAvg = MeanModelError(base.records, 2, 1);

  struct Step {
    void (*relax)(MLPSettings&);
    StopReason expected;
  };
  const std::vector<Step> steps = {
      {[](MLPSettings&) {}, VXNNCommon::kStoppedMaxTime},
      {[](MLPSettings& s) { s.SetMaxTime(1e9); }, VXNNCommon::kStoppedMaxDataPasses},
      {[](MLPSettings& s) { s.SetMaxNDataPasses(1000); }, VXNNCommon::kStoppedErrorChangeLimit},
      {[](MLPSettings& s) { s.SetMinRelativeChangeError(0.0); },
       VXNNCommon::kStoppedErrorRatioLimit},
      {[](MLPSettings& s) { s.SetMinErrorRatio(0.0); }, VXNNCommon::kStoppedAccuracy},
  };
  Linear p;
  p.settings->SetMaxTime(0.0);
  p.settings->SetMaxNDataPasses(1);
  p.settings->SetMinRelativeChangeError(10.0);
  p.settings->SetMinErrorRatio(10.0);
  p.settings->SetAccuracy(0.0);
  for (const Step& step : steps) {
    step.relax(*p.settings);
    p.net->SetWeights(p.initial);
    EXPECT_TRUE(p.Run().IsOK());
    SCOPED_TRACE(VXNNCommon::DisplayText(step.expected));
    EXPECT_EQ(p.gdb->GetStopReason(), step.expected);
    EXPECT_EQ(p.gdb->GetAlgorithmStatus(), VXNNCommon::kTrained);
    // One accepted step: rules 3 and 4 had no value before it.
    EXPECT_EQ(p.gdb->GetNDataPasses(), 2);
    EXPECT_EQ(p.gdb->GetNIterations(), 1);
    ExpectWeightsNear(WeightsOf(*p.net), w1);
    EXPECT_NEAR(p.gdb->GetRelChangeInErr(),
                std::fabs(e1 - e0.error) / ((e0.error + e1) / 2 + 1e-10), 1e-12);
    EXPECT_NEAR(p.gdb->GetErrorRatio(), e1 / (eAvg + 1e-10), 1e-12);
  }
}

TEST(GradientDescentBatchTrain, ChangeAndRatioRulesWaitForAnAcceptedStep) {
  Linear p;
  p.settings->SetEtaInit(400.0);  // the first trials overshoot
  p.settings->SetMinRelativeChangeError(10.0);
  p.settings->SetMaxNDataPasses(1000);
  p.Run();
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedErrorChangeLimit);
  EXPECT_GT(p.gdb->GetNDataPasses(), 2);
  EXPECT_EQ(p.gdb->GetNIterations(), 1);
  EXPECT_LT(p.gdb->GetTrainError(), Evaluate(*p.oracle, p.initial, p.records).error);
}

TEST(GradientDescentBatchTrain, SmallGradientAtTheStartEndsBeforeAnyStep) {
  Linear p;
  p.settings->SetGradientNormLimit(1e9);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_EQ(p.gdb->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(p.gdb->GetNDataPasses(), 1);
  const Evaluation e0 = Evaluate(*p.oracle, p.initial, p.records);
  EXPECT_NEAR(p.gdb->GetLastGradientNorm(), Norm(e0.gradient), 1e-12);
  EXPECT_TRUE(VXMV::IsMissing(p.gdb->GetRelChangeInErr()));
  EXPECT_TRUE(VXMV::IsMissing(p.gdb->GetErrorRatio()));
  const std::valarray<double> w = WeightsOf(*p.net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], p.initial[i]);
}

TEST(GradientDescentBatchTrain, SmallGradientDuringTheSearchStopsAtThatStep) {
  Linear p;
  const double g0 = Norm(Evaluate(*p.oracle, p.initial, p.records).gradient);
  p.settings->SetGradientNormLimit(1e-3 * g0);
  p.settings->SetMaxNDataPasses(100000);
  p.settings->SetEtaInit(0.1);
  p.Run();
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_GT(p.gdb->GetNDataPasses(), 2);
  const Evaluation end = Evaluate(*p.oracle, WeightsOf(*p.net), p.records);
  EXPECT_LT(Norm(end.gradient), 1e-3 * g0);
  EXPECT_NEAR(p.gdb->GetLastGradientNorm(), Norm(end.gradient), 1e-12);
  EXPECT_NEAR(p.gdb->GetTrainError(), end.error, 1e-12);
}

TEST(GradientDescentBatchTrain, SearchThatCannotLowerTheErrorEndsAtThePassLimit) {
  // All targets 0 and all weights 0: error and gradient are exactly 0, so
  // no step can lower the error.
  Linear p(std::valarray<double>(0.0, 3));
  for (Record& r : p.records) r[2] = 0.0;
  p.settings->SetMaxNDataPasses(30);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(p.gdb->GetNDataPasses(), 30);
  const std::valarray<double> w = WeightsOf(*p.net);
  for (double x : w) EXPECT_EQ(x, 0.0);
}

// --- verifying cycle -------------------------------------------------------

TEST(GradientDescentBatchVerify, NeverImprovingTestErrorEndsAtTheInitialWeights) {
  Linear p(std::valarray<double>(0.0, 3));
  // The test targets have the opposite sign: every step worsens them.
  const std::vector<Record> testRecords = LinearRecords(20, 8, -1.0);
  p.settings->SetMaxNStepsTrackError(3);
  p.settings->SetMaxNDataPasses(1000);
  auto test = VectorRecordIter::Borrow(testRecords);
  EXPECT_TRUE(p.Run(&test, 1000).IsOK());
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  EXPECT_EQ(p.gdb->GetNIterations(), 3);
  const std::valarray<double> w = WeightsOf(*p.net);
  for (double x : w) EXPECT_EQ(x, 0.0);
  EXPECT_EQ(p.gdb->GetTrainError(), Evaluate(*p.oracle, w, p.records).error);
  EXPECT_EQ(p.gdb->GetTestError(), Evaluate(*p.oracle, w, testRecords).error);
  EXPECT_EQ(p.gdb->GetAccumError(), p.gdb->GetTrainError());
  EXPECT_NEAR(Norm(p.gdb->GetAccumGradient()), Norm(Evaluate(*p.oracle, w, p.records).gradient),
              1e-12);
  EXPECT_EQ(p.gdb->GetNRecordsProcessed(), 60);
}

// Records each report's values.
struct Recorder : VXCommon_1_2::ProgressListener {
  void Report(VXCommon_1_2::ProgressReport& r) override {
    passes.push_back(r.DiscreteMeasure("dataPasses"));
    trainErrors.push_back(r.ScaleMeasure("trainError"));
    testErrors.push_back(r.ScaleMeasure("testError"));
    if (check) check(r);
  }
  std::vector<int> passes;
  std::vector<double> trainErrors, testErrors;
  std::function<void(VXCommon_1_2::ProgressReport&)> check;
};

TEST(GradientDescentBatchVerify, RunEndsAtTheBestVerifiedWeights) {
  Linear p(std::valarray<double>(0.0, 3));
  // Test targets halfway: the test error falls, then rises again.
  const std::vector<Record> testRecords = LinearRecords(20, 8, 0.5);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetMaxNStepsTrackError(3);
  p.settings->SetMaxNDataPasses(1000);
  auto test = VectorRecordIter::Borrow(testRecords);
  p.Run(&test, 1000);
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  ASSERT_GE(recorder.testErrors.size(), 5u);
  // Every iteration was reported; the last report shows the restored best.
  const std::vector<double> seen(recorder.testErrors.begin(), recorder.testErrors.end() - 1);
  const double best = *std::min_element(seen.begin(), seen.end());
  EXPECT_LT(best, seen.back());
  const std::valarray<double> w = WeightsOf(*p.net);
  EXPECT_NEAR(Evaluate(*p.oracle, w, testRecords).error, best, 1e-12);
  EXPECT_NEAR(recorder.testErrors.back(), best, 1e-12);
  const double trainAtBest = Evaluate(*p.oracle, w, p.records).error;
  EXPECT_NEAR(p.gdb->GetTrainError(), trainAtBest, 1e-12);
  EXPECT_GT(trainAtBest, recorder.trainErrors[recorder.trainErrors.size() - 2]);
}

TEST(GradientDescentBatchVerify, AccuracyStopKeepsTheLastWeights) {
  Linear p(std::valarray<double>(0.0, 3));
  const std::vector<Record> testRecords = LinearRecords(20, 8, -1.0);
  p.settings->SetAccuracy(0.0);
  auto test = VectorRecordIter::Borrow(testRecords);
  p.Run(&test, 1000);
  EXPECT_EQ(p.gdb->GetStopReason(), VXNNCommon::kStoppedAccuracy);
  const std::valarray<double> w = WeightsOf(*p.net);
  const Evaluation e0 = Evaluate(*p.oracle, p.initial, p.records);
  ExpectWeightsNear(w, p.initial - kEta * e0.gradient);
  const double testError = Evaluate(*p.oracle, w, testRecords).error;
  EXPECT_GT(testError, Evaluate(*p.oracle, p.initial, testRecords).error);
  EXPECT_NEAR(p.gdb->GetTestError(), testError, 1e-12);
}

// --- cancellation ----------------------------------------------------------

TEST(GradientDescentBatchCancel, CancelMidPassStopsAtTheNextRecordAndKeepsAcceptedWeights) {
  Linear p;
  CountingIter train(p.records);
  // Arrives while the third pass (the second trial) reads its 20th record.
  CancelWhen cancel([&] { return train.Count() >= 100; });
  p.settings->SetCancelPointer(&cancel);
  GradientDescentBatch gdb(p.settings.get(), p.net.get());
  VXStatus status;
  const VXStatus result = gdb.Train(status, train, nullptr, 1000, 0);
  EXPECT_EQ(train.Count(), 100);
  EXPECT_EQ(status.GetErrorCode(), 1);
  EXPECT_TRUE(status.IsError());
  EXPECT_EQ(result, status);
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(gdb.GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_TRUE(gdb.IsCanceled());
  const Evaluation e0 = Evaluate(*p.oracle, p.initial, p.records);
  ExpectWeightsNear(WeightsOf(*p.net), p.initial - kEta * e0.gradient);
}

TEST(GradientDescentBatchCancel, CancelInTheFirstPassLeavesTheWeights) {
  Linear p;
  CountingIter train(p.records);
  CancelWhen cancel([&] { return train.Count() >= 5; });
  p.settings->SetCancelPointer(&cancel);
  GradientDescentBatch gdb(p.settings.get(), p.net.get());
  VXStatus status;
  gdb.Train(status, train, nullptr, 1000, 0);
  EXPECT_EQ(train.Count(), 5);
  EXPECT_EQ(status.GetErrorCode(), 1);
  EXPECT_EQ(gdb.GetNDataPasses(), 1);
  const std::valarray<double> w = WeightsOf(*p.net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], p.initial[i]);
}

TEST(GradientDescentBatchCancel, CancelledBeforeTheRunReadsNothing) {
  Linear p;
  CountingIter train(p.records);
  CancelWhen cancel([] { return true; });
  p.settings->SetCancelPointer(&cancel);
  GradientDescentBatch gdb(p.settings.get(), p.net.get());
  VXStatus status;
  gdb.Train(status, train, nullptr, 1000, 0);
  EXPECT_EQ(train.Count(), 0);
  EXPECT_EQ(gdb.GetNDataPasses(), 0);
  EXPECT_EQ(status, VXStatus(1, false));
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kCancelled);
}

TEST(GradientDescentBatchCancel, CancelDuringATestPassKeepsTheMeasuredTestError) {
  Linear p;
  const std::vector<Record> testRecords = LinearRecords(20, 8, 0.5);
  CountingIter test(testRecords);
  CancelWhen cancel([&] { return test.Count() >= 30; });
  p.settings->SetCancelPointer(&cancel);
  p.Run(&test, 1000);
  EXPECT_EQ(test.Count(), 30);
  EXPECT_EQ(p.gdb->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_NEAR(p.gdb->GetTestError(), Evaluate(*p.oracle, p.initial, testRecords).error, 1e-12);
}

TEST(GradientDescentBatchCancel, FirstPositiveAnswerIsLatched) {
  Linear p;
  CancelWhen cancel([&] { return cancel.Polls() == 1; });
  p.settings->SetCancelPointer(&cancel);
  GradientDescentBatch gdb(p.settings.get(), p.net.get());
  EXPECT_TRUE(gdb.IsCanceled());
  EXPECT_TRUE(gdb.IsCanceled());
  EXPECT_EQ(cancel.Polls(), 1);
}

// --- progress reports ------------------------------------------------------

TEST(GradientDescentBatchReports, EverySkippedPlusOneIterationsAndAtTheEnd) {
  for (const int maxPasses : {11, 12}) {
    Linear p;
    Recorder recorder;
    GradientDescentBatch* optimizer = nullptr;
    recorder.check = [&](VXCommon_1_2::ProgressReport& r) {
      // The report reads the optimizer live, key by key.
      ASSERT_NE(optimizer, nullptr);
      EXPECT_EQ(r.DiscreteMeasure("records"), optimizer->GetNRecordsProcessed());
      EXPECT_EQ(r.DiscreteMeasure("dataPasses"), optimizer->GetNDataPasses());
      EXPECT_EQ(r.ScaleMeasure("gradNorm"), optimizer->GetLastGradientNorm());
      EXPECT_EQ(r.ScaleMeasure("trainError"), optimizer->GetTrainError());
      EXPECT_EQ(r.ScaleMeasure("testError"), optimizer->GetTestError());
      EXPECT_EQ(r.ScaleMeasure("relChangeError"), optimizer->GetRelChangeInErr());
      EXPECT_EQ(r.ScaleMeasure("errorRatio"), optimizer->GetErrorRatio());
      EXPECT_EQ(r.ScaleMeasure("elapsedTime"), optimizer->GetElapsedTime());
      EXPECT_EQ(r.ScaleMeasure("accuracy"), optimizer->GetAccuracy() * 100.0);
      EXPECT_EQ(r.ScaleMeasure("bic"), VXMV::gMissingValue);
      EXPECT_EQ(r.DiscreteMeasure("Records"), -1);
      EXPECT_EQ(optimizer->GetAlgorithmStatus(), optimizer->GetNDataPasses() == maxPasses
                                                     ? VXNNCommon::kTrained
                                                     : VXNNCommon::kInProgress);
    };
    p.settings->SetProgressListener(&recorder);
    p.settings->SetNSkippedReports(2);
    p.settings->SetMaxNDataPasses(maxPasses);
    GradientDescentBatch gdb(p.settings.get(), p.net.get());
    optimizer = &gdb;
    auto train = VectorRecordIter::Borrow(p.records);
    VXStatus status;
    gdb.Train(status, train, nullptr, 1000, 0);
    // Every step is taken at once, so iteration k ends after k + 1 passes.
    ASSERT_EQ(gdb.GetNDataPasses(), gdb.GetNIterations() + 1);
    const std::vector<int> expected =
        maxPasses == 11 ? std::vector<int>{2, 5, 8, 11} : std::vector<int>{2, 5, 8, 11, 12};
    EXPECT_EQ(recorder.passes, expected);
    // Accepted steps only ever lower the training error.
    for (std::size_t k = 1; k < recorder.trainErrors.size(); ++k)
      EXPECT_LT(recorder.trainErrors[k], recorder.trainErrors[k - 1]);
  }
}

// --- a real data set -------------------------------------------------------

int CountCorrect(NNetwork& net, const std::vector<Record>& records) {
  int correct = 0;
  VXStatus status;
  double out[3];
  for (const Record& r : records) {
    net.Score(status, r.GetAll(), out);
    const int predicted = static_cast<int>(std::max_element(out, out + 3) - out);
    if (r[4 + predicted] == 1.0) ++correct;
  }
  return correct;
}

TEST(GradientDescentBatchIris, TrainsToAGoodClassifier) {
  const std::vector<Record> all = IrisRecords();
  ASSERT_EQ(all.size(), 150u);
  std::vector<Record> trainRecords, testRecords;
  for (std::size_t r = 0; r < all.size(); ++r)
    (r % 3 == 2 ? testRecords : trainRecords).push_back(all[r]);

  auto settings = MakeSettings(4, {3}, {4}, VXNNCommon::kSoftMax, 100);
  NNetwork net(*settings);
  ASSERT_EQ(net.GetErrorFunction(), VXNNCommon::kCrossEntropy);
  net.SetWeights(UniformWeights(net.GetNumWeights(), 11, -0.5, 0.5));
  const int correctBefore = CountCorrect(net, all);
  settings->SetMaxNDataPasses(400);
  settings->SetMinRelativeChangeError(1e-6);
  settings->SetMaxNStepsTrackError(20);
  Recorder recorder;
  settings->SetProgressListener(&recorder);

  GradientDescentBatch gdb(settings.get(), &net);
  auto train = VectorRecordIter::Borrow(trainRecords);
  auto test = VectorRecordIter::Borrow(testRecords);
  VXStatus status;
  gdb.Train(status, train, &test, 1000, 1000);
  EXPECT_TRUE(status.IsOK());
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kTrained);
  ASSERT_GE(recorder.trainErrors.size(), 3u);
  EXPECT_LT(gdb.GetTrainError(), 0.25 * recorder.trainErrors.front());
  const int correct = CountCorrect(net, all);
  EXPECT_GE(correct, 138) << "before training: " << correctBefore;
  EXPECT_GE(CountCorrect(net, testRecords), 45);
  // The reported accuracy is the test pass's, as a fraction.
  EXPECT_NEAR(gdb.GetAccuracy(), CountCorrect(net, testRecords) / 50.0, 1e-12);
}

}  // namespace
