// Batch gradient descent: the step search and its progress reports against a
// second implementation, the stop rules and the verifying cycle shared by the
// batch optimizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <valarray>
#include <vector>

#include "optim_fixtures.h"
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

}  // namespace
