// Batch gradient descent: the step search and its progress reports against a
// second implementation, the stop rules and the verifying cycle shared by the
// batch optimizers, cancellation, and updates with new records.
#include <gtest/gtest.h>

#include <algorithm>
#include <valarray>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"

namespace {

using namespace optim_fixtures;

// Small enough for every plain step on the linear data to be taken.
constexpr double kEta = 0.02;

// A linear network (no hidden layer) on 40 linear records, from random or
// zero weights.
struct Linear : Trainee<GradientDescentBatch> {
  explicit Linear(bool zeroWeights = false) : Trainee(LinearProblem({}, 40, 7, 3)) {
    if (zeroWeights) initial = 0.0;
    settings->SetEtaInit(kEta);
    settings->SetAlpha(0.0);
  }
  std::valarray<double> FirstStep() { return initial - kEta * At(initial).gradient; }
};

// Batch gradient descent written out plainly: momentum capped at the
// gradient term, eta halved until a step lowers the error, a stop once the
// data-pass limit is reached after an iteration (or inside a search).
struct Reference {
  std::valarray<double> w;
  double error = 0.0, relChange = 0.0;
  int passes = 1, iterations = 0;
  std::vector<int> passesAt;  // after each iteration
};
Reference RunReference(Problem& p, double eta, double alpha, double rho, int maxPasses) {
  Reference ref;
  ref.w = p.initial;
  std::valarray<double> a(0.0, ref.w.size());
  Evaluation at = p.At(ref.w);
  while (ref.passes < maxPasses) {
    for (bool accepted = false; !accepted && ref.passes < maxPasses;) {
      if (alpha * Norm(a) > eta * Norm(at.gradient))
        alpha = eta * Norm(at.gradient) / Norm(a) * rho;
      const std::valarray<double> d = (ref.w - eta * at.gradient) + alpha * a;
      const Evaluation trial = p.At(d);
      ++ref.passes;
      accepted = trial.error < at.error;
      if (accepted) {
        a = d - ref.w;
        ref.w = d;
        ref.relChange = RelativeChange(at.error, trial.error);
        at = trial;
      } else {
        eta *= 0.5;
      }
    }
    ++ref.iterations;
    ref.passesAt.push_back(ref.passes);
  }
  ref.error = at.error;
  return ref;
}

TEST(GradientDescentBatchTrain, FollowsMomentumAndHalvingLikeASecondImplementation) {
  for (const double eta : {kEta, 0.4, 50.0}) {
    SCOPED_TRACE(eta);
    Linear p;
    p.settings->SetEtaInit(eta);
    p.settings->SetAlpha(0.9);
    p.settings->SetAlphaReduction(0.9);
    p.settings->SetMaxNDataPasses(40);
    Recorder recorder;
    p.settings->SetProgressListener(&recorder);
    p.settings->SetNSkippedReports(2);
    EXPECT_TRUE(p.Run().IsOK());
    const Reference ref = RunReference(p, eta, 0.9, 0.9, 40);
    ExpectWeightsNear(WeightsOf(*p.net), ref.w);
    EXPECT_EQ(p.opt->GetNDataPasses(), ref.passes);
    EXPECT_EQ(p.opt->GetNIterations(), ref.iterations);
    EXPECT_NEAR(p.opt->GetTrainError(), ref.error, 1e-12);
    EXPECT_NEAR(p.opt->GetAccumError(), ref.error, 1e-12);
    EXPECT_NEAR(p.opt->GetRelChangeInErr(), ref.relChange, 1e-12);
    EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(ref.error), 1e-12);
    EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
    EXPECT_EQ(p.opt->GetAlgorithmStatus(), VXNNCommon::kTrained);
    EXPECT_EQ(p.opt->GetNRecordsProcessed(), 40);
    if (eta == 50.0) {
      EXPECT_GT(ref.passes, ref.iterations + 1) << "no step was refused";
    }
    // A report every third iteration, and one as the run stops.
    std::vector<int> expected, reported;
    for (std::size_t i = 0; i < ref.passesAt.size(); i += 3) expected.push_back(ref.passesAt[i]);
    if ((ref.passesAt.size() - 1) % 3 != 0) expected.push_back(ref.passes);
    for (const Shown& shown : recorder.shown) reported.push_back(shown.dataPasses);
    EXPECT_EQ(reported, expected);
  }
}

TEST(GradientDescentBatchStop, RulesFireInTheirOrderAfterTheFirstStep) {
  Linear p;
  const double e0 = p.At(p.initial).error;
  const double e1 = p.At(p.FirstStep()).error;
  ASSERT_LT(e1, e0);
  ForEachStopRuleInOrder(
      *p.settings,
      [&]() -> IOptimizationAlgorithm& {
        EXPECT_TRUE(p.Run().IsOK());
        return *p.opt;
      },
      [&](VXNNCommon::StopReason) {
        // One accepted step: the change and ratio rules had no value before.
        EXPECT_EQ(p.opt->GetNDataPasses(), 2);
        EXPECT_EQ(p.opt->GetNIterations(), 1);
        ExpectWeightsNear(WeightsOf(*p.net), p.FirstStep());
        EXPECT_NEAR(p.opt->GetRelChangeInErr(), RelativeChange(e0, e1), 1e-12);
        EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(e1), 1e-12);
      });
}

TEST(GradientDescentBatchStop, ChangeRuleWaitsForAnAcceptedStep) {
  Linear p;
  p.settings->SetEtaInit(400.0);  // the first trials overshoot
  p.settings->SetMinRelativeChangeError(10.0);
  p.settings->SetMaxNDataPasses(1000);
  p.Run();
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedErrorChangeLimit);
  EXPECT_GT(p.opt->GetNDataPasses(), 2);
  EXPECT_EQ(p.opt->GetNIterations(), 1);
  EXPECT_LT(p.opt->GetTrainError(), p.At(p.initial).error);
}

TEST(GradientDescentBatchStop, SmallGradientAtTheStartEndsBeforeAnyStep) {
  Linear p;
  p.settings->SetGradientNormLimit(1e9);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_EQ(p.opt->GetNDataPasses(), 1);
  EXPECT_NEAR(p.opt->GetLastGradientNorm(), Norm(p.At(p.initial).gradient), 1e-12);
  EXPECT_TRUE(VXMV::IsMissing(p.opt->GetRelChangeInErr()));
  EXPECT_TRUE(VXMV::IsMissing(p.opt->GetErrorRatio()));
  ExpectWeightsNear(WeightsOf(*p.net), p.initial, 0.0);
}

TEST(GradientDescentBatchStop, SearchThatCannotLowerTheErrorEndsAtThePassLimit) {
  // Targets and weights 0: error and gradient are exactly 0.
  Linear p(true);
  for (Record& r : p.records) r[2] = 0.0;
  p.settings->SetMaxNDataPasses(30);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(p.opt->GetNDataPasses(), 30);
  ExpectWeightsNear(WeightsOf(*p.net), p.initial, 0.0);
}

// --- verifying cycle -------------------------------------------------------

TEST(GradientDescentBatchVerify, RunEndsAtTheBestVerifiedWeights) {
  Linear p(true);
  // Test targets halfway: the test error falls, then rises again.
  const std::vector<Record> testRecords = LinearRecords(20, 8, 0.5);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetMaxNStepsTrackError(3);
  p.settings->SetMaxNDataPasses(1000);
  p.Run(testRecords);
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  ASSERT_GE(recorder.shown.size(), 5u);
  // Every iteration was reported; the last report shows the restored best.
  std::vector<double> seen;
  for (std::size_t i = 0; i + 1 < recorder.shown.size(); ++i)
    seen.push_back(recorder.shown[i].testError);
  const double best = *std::min_element(seen.begin(), seen.end());
  EXPECT_LT(best, seen.back());
  EXPECT_NEAR(Evaluate(*p.oracle, WeightsOf(*p.net), testRecords).error, best, 1e-12);
  EXPECT_NEAR(recorder.shown.back().testError, best, 1e-12);
  EXPECT_NEAR(p.opt->GetTrainError(), p.AtNet().error, 1e-12);
  EXPECT_GT(p.opt->GetTrainError(), recorder.shown[recorder.shown.size() - 2].trainError);
}

TEST(GradientDescentBatchVerify, AccuracyStopKeepsTheLastWeights) {
  Linear p(true);
  const std::vector<Record> testRecords = LinearRecords(20, 8, -1.0);
  p.settings->SetAccuracy(0.0);
  p.Run(testRecords);
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedAccuracy);
  ExpectWeightsNear(WeightsOf(*p.net), p.FirstStep());
  const double testError = Evaluate(*p.oracle, p.FirstStep(), testRecords).error;
  EXPECT_GT(testError, Evaluate(*p.oracle, p.initial, testRecords).error);
  EXPECT_NEAR(p.opt->GetTestError(), testError, 1e-12);
}

// --- cancellation ----------------------------------------------------------

TEST(GradientDescentBatchCancel, TheInterruptedIterationRunsOnAndKeepsItsTrialStep) {
  // Once the cancel is seen a pass reads nothing: the trial pass after it
  // has a zero gradient, which ends the run by the gradient rule with the
  // trial step D = W - eta G in the network, G the gradient of what the
  // starting pass did read (5 records, or all 40). A cancel before the
  // first pass does nothing.
  struct Case {
    int afterRecords, passes;
    VXNNCommon::StopReason reason;
  };
  for (const Case c :
       {Case{0, 0, VXNNCommon::kStoppedUndefined}, Case{5, 2, VXNNCommon::kStoppedSmallGradient},
        Case{40, 2, VXNNCommon::kStoppedSmallGradient}}) {
    SCOPED_TRACE(c.afterRecords);
    Linear p;
    CountingIter train(p.records);
    // The host says so once: the optimizer must latch the answer.
    CancelWhen cancel([&] { return train.handedOut == c.afterRecords; });
    p.settings->SetCancelPointer(&cancel);
    p.settings->SetGradientNormLimit(1e-6);  // the default
    GradientDescentBatch gdb(p.settings.get(), p.net.get());
    VXStatus status;
    EXPECT_EQ(gdb.Train(status, train, nullptr, 1000, 0), status);
    EXPECT_EQ(train.handedOut, c.afterRecords);
    EXPECT_EQ(status, VXStatus(1, false));
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(gdb.GetStopReason(), c.reason);
    EXPECT_EQ(gdb.GetNDataPasses(), c.passes);
    EXPECT_TRUE(gdb.IsCanceled());
    const std::vector<Record> read(p.records.begin(), p.records.begin() + c.afterRecords);
    ExpectWeightsNear(WeightsOf(*p.net),
                      c.passes == 0
                          ? p.initial
                          : p.initial - kEta * Evaluate(*p.oracle, p.initial, read).gradient);
  }
}

// --- updates ---------------------------------------------------------------

// A trained linear network with momentum, and new records of a steeper
// relation.
struct Trained : Linear {
  Trained() {
    settings->SetAlpha(0.5);
    settings->SetMaxNDataPasses(20);
    Run();
    trained = WeightsOf(*net);
  }
  std::vector<Record> Both() const {
    std::vector<Record> both = records;
    both.insert(both.end(), newRecords.begin(), newRecords.end());
    return both;
  }
  std::vector<Record> newRecords = LinearRecords(12, 9, 1.3);
  std::valarray<double> trained;
};

TEST(GradientDescentBatchUpdate, BatchStepAlongTheGradientOfOldAndNewRecordsOrNone) {
  // A plain step (GetEtaLow(), no momentum), taken only when it lowers the
  // error of old and new records; 1e6 overshoots.
  for (const double eta : {0.01, 1e6}) {
    Trained t;
    t.settings->SetEtaLow(eta);
    const int passes = t.opt->GetNDataPasses();
    bool changed = eta > 1.0;
    EXPECT_TRUE(t.Update(t.newRecords, changed).IsOK());
    EXPECT_EQ(changed, eta < 1.0);
    const std::vector<Record> both = t.Both();
    const std::valarray<double> expected =
        changed ? t.trained - eta * Evaluate(*t.oracle, t.trained, both).gradient : t.trained;
    ExpectWeightsNear(WeightsOf(*t.net), expected, changed ? 1e-12 : 0.0);
    const Evaluation after = Evaluate(*t.oracle, expected, both);
    EXPECT_NEAR(t.opt->GetTrainError(), after.error, 1e-10);
    EXPECT_NEAR(t.opt->GetAccumError(), after.error, 1e-10);
    EXPECT_NEAR(t.opt->GetLastGradientNorm(), Norm(after.gradient), 1e-10);
    EXPECT_EQ(t.opt->GetNDataPasses(), passes + 1);
    EXPECT_EQ(t.opt->GetNRecordsProcessed(), 52);
    EXPECT_EQ(t.opt->GetAlgorithmStatus(), VXNNCommon::kTrained);
    for (double v : {t.opt->GetRelChangeInErr(), t.opt->GetErrorRatio(), t.opt->GetTestError()})
      EXPECT_TRUE(VXMV::IsMissing(v));
  }
}

TEST(GradientDescentBatchUpdate, MiniBatchStepsOnFilledBuffersDownToAQuarterBatch) {
  // Batches of 8: one record waits, seven more fill the buffer for a plain
  // step (GetEtaLow(), no momentum). 12 records in batches of 5 give 5 + 5 +
  // 2 (the quarter batch rounds to 1); in batches of 10, one step and 2
  // records wait.
  struct Case {
    int size;
    std::vector<int> updates;
    int steps, waiting;
  };
  for (const Case& c :
       {Case{8, {1}, 0, 1}, Case{8, {1, 7}, 1, 0}, Case{5, {12}, 3, 0}, Case{10, {12}, 1, 2}}) {
    Trained t;
    t.settings->SetUpdateType(VXNNCommon::kMiniBatch);
    t.settings->SetMiniBatchSize(c.size);
    t.settings->SetEtaLow(0.01);
    const int recordsBefore = t.opt->GetNRecordsProcessed();
    auto from = t.newRecords.begin();
    bool changed = false;
    for (const int n : c.updates) {
      EXPECT_TRUE(t.Update(std::vector<Record>(from, from + n), changed).IsOK());
      from += n;
    }
    EXPECT_EQ(changed, c.steps > 0);
    EXPECT_EQ(t.opt->GetNIterations(), c.steps);
    EXPECT_EQ(t.opt->GetRecordBuffer()->GetCount(), c.waiting);
    EXPECT_EQ(t.opt->GetRecordBuffer()->GetCapacity(), c.size);
    EXPECT_EQ(t.opt->GetNRecordsProcessed(), recordsBefore + (from - t.newRecords.begin()));
    EXPECT_TRUE(VXMV::IsMissing(t.opt->GetTrainError()));
    if (c.steps == 0) {
      ExpectWeightsNear(WeightsOf(*t.net), t.trained, 0.0);
    } else if (c.size == 8) {
      const std::vector<Record> batch(t.newRecords.begin(), from);
      ExpectWeightsNear(WeightsOf(*t.net),
                        t.trained - 0.01 * Evaluate(*t.oracle, t.trained, batch).gradient);
    }
  }
}

// --- small operations ------------------------------------------------------

TEST(GradientDescentBatchBasics, ResetGradientFollowsTheNetworkSize) {
  Trainee<GradientDescentBatch> t(LinearProblem({3}, 10, 1, 1));
  t.settings->SetMaxNDataPasses(3);
  t.Run();
  ASSERT_GT(Norm(t.opt->GetAccumGradient()), 0.0);
  VXRandom rng(5, true);
  t.net->AddHiddenUnit(rng);
  t.opt->ResetGradient();
  EXPECT_EQ(t.opt->GetAccumGradient().size(), static_cast<std::size_t>(t.net->GetNumWeights()));
  EXPECT_EQ(Norm(t.opt->GetAccumGradient()), 0.0);
  EXPECT_EQ(t.opt->GetAccumError(), 0.0);
}

}  // namespace
