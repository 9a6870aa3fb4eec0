// Scaled conjugate gradient: runs checked against a second implementation
// and a least-squares solution, the stop rules, the failures and their
// codes, and updates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <valarray>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;
using Scg = Trainee<ScaledConjGrad>;

// A noisy smooth surface that a small tanh network cannot fit exactly, so
// that training meets curvature of every sign.
std::vector<Record> WaveRecords(int n, unsigned seed) {
  return SampledRecords(n, seed, [](double x0, double x1) {
    return 0.6 * std::sin(3.0 * x0) * x1 + 0.4 * x0 * x0 - 0.2;
  });
}

Scg Wave(unsigned seed = 11) {
  return Scg(Problem(2, {1}, {3}, VXNNCommon::kIdentity, WaveRecords(40, seed), seed));
}
Scg Linear() { return Scg(LinearProblem({}, 30, 5, 5)); }

// Summed from the first product on, as the optimizer does (a valarray's
// sum() may run the other way and change the last bits).
double Dot(const std::valarray<double>& a, const std::valarray<double>& b) {
  return std::inner_product(std::begin(a), std::end(a), std::begin(b), 0.0);
}

// Scaled conjugate gradient written out plainly after its textbook form. It
// stops once the data-pass limit is reached after any iteration, and notes
// what a listener would see: the starting error after the first probe, the
// error after every kept step that is not a restart, and the final error.
struct Reference {
  std::valarray<double> w;
  double error = 0.0;
  int passes = 1, iterations = 0, failures = 0, restarts = 0;
  std::vector<double> shown;
};
Reference RunReference(Problem& p, const MLPSettings& s, int maxPasses) {
  Reference ref;
  ref.w = p.initial;
  const std::size_t n = ref.w.size();
  Evaluation at = p.At(ref.w);
  std::valarray<double> r = -at.gradient, d = r;
  double lambda = s.GetLambdaInit(), lambdaBar = 0.0, delta = 0.0;
  bool success = true;
  for (std::size_t k = 1;; ++k) {
    ++ref.iterations;
    const double dn = std::sqrt(Dot(d, d)), dd = dn * dn;
    if (success) {
      const double sigma = s.GetSigmaInit() / dn;
      const Evaluation probe = p.At(ref.w + sigma * d);
      if (++ref.passes == 2) ref.shown.push_back(at.error);
      const std::valarray<double> hessianTimesD = (probe.gradient + r) / sigma;
      delta = Dot(d, hessianTimesD);
    }
    delta += (lambda - lambdaBar) * dd;
    if (delta <= 0.0) {
      lambdaBar = 2.0 * (lambda - delta / dd);
      delta = -delta + lambda * dd;
      lambda = lambdaBar;
    }
    const double mu = Dot(d, r);
    const double alpha = mu / delta;
    const Evaluation step = p.At(ref.w + alpha * d);
    ++ref.passes;
    const double comparison = 2.0 * delta * (at.error - step.error) / (mu * mu);
    bool restart = false;
    success = comparison >= 0.0;
    if (success) {
      ref.w += alpha * d;
      const std::valarray<double> rOld = r;
      at = step;
      r = -at.gradient;
      lambdaBar = 0.0;
      restart = k == n;
      if (restart) {
        d = r;
        k = 0;
        ++ref.restarts;
      } else {
        const double rn = std::sqrt(Dot(r, r));
        d = r + ((rn * rn - Dot(r, rOld)) / mu) * d;
        if (comparison >= s.GetUpperDelta()) lambda *= s.GetLambdaReduction();
      }
    } else {
      lambdaBar = lambda;
      ++ref.failures;
    }
    if (!restart && comparison < s.GetLowerDelta()) lambda += delta * (1.0 - comparison) / dd;
    // A report after every kept step that is not a restart, and at the end.
    if ((success && !restart) || ref.passes >= maxPasses) ref.shown.push_back(at.error);
    if (ref.passes >= maxPasses) break;
  }
  ref.error = at.error;
  return ref;
}

TEST(ScaledConjGradTrain, ProgressValuesStartMissingAndGoInAndOut) {
  Scg p = Wave();
  ScaledConjGrad scg(p.settings.get(), p.net.get());
  for (double v : {scg.GetTestError(), scg.GetLastGradientNorm(), scg.GetAccuracy()})
    EXPECT_TRUE(VXMV::IsMissing(v));
  scg.SetProgressValues(1.5, 2.5, 3.5, 4.5, 5.5, 17);
  scg.SetProgressValues(1.5, 2.5, 3.5, 4.5, 5.5, -1);  // keeps the record count
  double v[5] = {};
  scg.GetProgressValues(v[0], v[1], v[2], v[3], v[4]);
  EXPECT_EQ(std::vector<double>(v, v + 5), (std::vector<double>{1.5, 2.5, 3.5, 4.5, 5.5}));
  EXPECT_EQ(scg.GetErrorRatio(), 5.5);
  EXPECT_EQ(scg.GetNRecordsProcessed(), 17);
}

TEST(ScaledConjGradTrain, FollowsASecondImplementation) {
  for (const unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    Scg p = Wave(seed);
    Recorder recorder;
    p.settings->SetProgressListener(&recorder);
    p.settings->SetMaxNDataPasses(120);
    EXPECT_TRUE(p.Run().IsOK());
    const Reference ref = RunReference(p, *p.settings, 120);
    // The comparison covers rejected steps and restarts.
    EXPECT_GE(ref.failures, 1);
    EXPECT_GE(ref.restarts, 1);
    // The twin network computes errors and gradients bit for bit as the
    // optimizer's does, so the two runs agree exactly: a different order of
    // operations would drift apart over the run.
    ExpectWeightsNear(WeightsOf(*p.net), ref.w, 0.0);
    EXPECT_EQ(p.opt->GetNDataPasses(), ref.passes);
    EXPECT_EQ(p.opt->GetNIterations(), ref.iterations);
    EXPECT_EQ(p.opt->GetTrainError(), ref.error);
    EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
    EXPECT_EQ(p.opt->GetAlgorithmStatus(), VXNNCommon::kTrained);
    ASSERT_EQ(recorder.shown.size(), ref.shown.size());
    EXPECT_EQ(recorder.shown[0].dataPasses, 1);
    EXPECT_EQ(recorder.shown[0].records, 40);
    for (std::size_t i = 0; i < ref.shown.size(); ++i) {
      EXPECT_EQ(recorder.shown[i].trainError, ref.shown[i]) << "report " << i;
      EXPECT_NEAR(recorder.shown[i].errorRatio, p.ErrorRatio(recorder.shown[i].trainError), 1e-12);
    }
    // What the optimizer keeps describes the weights the network holds.
    const Evaluation end = p.AtNet();
    EXPECT_NEAR(p.opt->GetAccumError(), end.error, 1e-12);
    ExpectWeightsNear(p.opt->GetAccumGradient(), end.gradient);
  }
}

// The least-squares weights, bias first, of column t on the first k columns
// of the records: the normal equations solved by Gauss-Jordan elimination
// with partial pivoting.
std::vector<double> LeastSquares(const std::vector<Record>& records, int k, int t) {
  const std::size_t m = static_cast<std::size_t>(k) + 1;
  std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
  for (const Record& r : records) {
    std::vector<double> row{1.0};
    for (int i = 0; i < k; ++i) row.push_back(r[i]);
    row.push_back(r[t]);
    for (std::size_t i = 0; i < m; ++i)
      for (std::size_t j = 0; j <= m; ++j) a[i][j] += row[i] * row[j];
  }
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t pivot = c;
    for (std::size_t i = c + 1; i < m; ++i)
      if (std::fabs(a[i][c]) > std::fabs(a[pivot][c])) pivot = i;
    std::swap(a[c], a[pivot]);
    for (std::size_t i = 0; i < m; ++i) {
      const double f = i == c ? 0.0 : a[i][c] / a[c][c];
      for (std::size_t j = c; j <= m; ++j) a[i][j] -= f * a[c][j];
    }
  }
  std::vector<double> beta(m);
  for (std::size_t i = 0; i < m; ++i) beta[i] = a[i][m] / a[i][i];
  return beta;
}

TEST(ScaledConjGradTrain, ConvergesToTheLeastSquaresSolution) {
  // Three inputs, two continuous targets, no hidden layer: the error is a
  // convex quadratic of the 8 weights.
  std::mt19937 gen(99);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < 60; ++r) {
    const double a = u(gen), b = 2.0 * u(gen), c = 0.5 * u(gen);
    records.emplace_back(std::vector<double>{a, b, c,
                                             1.5 * a - 0.7 * b + 2.0 * c + 0.4 + 0.1 * u(gen),
                                             -0.3 * a + 0.2 * b - 1.0 + 0.1 * u(gen)});
  }
  Scg p(Problem(3, {1, 1}, {}, VXNNCommon::kIdentity, records, 4));
  p.settings->SetGradientNormLimit(1e-7);
  p.settings->SetMaxNDataPasses(1000);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_LT(p.opt->GetLastGradientNorm(), 1e-7);
  // Conjugate directions on a quadratic: a few restarts' worth of steps.
  EXPECT_LE(p.opt->GetNIterations(), 40);
  // Unit by unit, bias first.
  std::vector<double> expected = LeastSquares(records, 3, 3);
  const std::vector<double> second = LeastSquares(records, 3, 4);
  expected.insert(expected.end(), second.begin(), second.end());
  const std::valarray<double> solution(expected.data(), 8);
  ExpectWeightsNear(WeightsOf(*p.net), solution, 1e-8);
  const double residual = p.At(solution).error;
  EXPECT_NEAR(p.opt->GetTrainError(), residual, 1e-10);
  EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(residual), 1e-10);
}

// --- stop rules --------------------------------------------------------------

TEST(ScaledConjGradStop, RulesFireInTheirOrderAtTheFirstKeptStep) {
  // On the linear data the first step is kept and is no restart, so it
  // makes the first stop test.
  Scg p = Linear();
  const double e0 = p.At(p.initial).error;
  ForEachStopRuleInOrder(
      *p.settings,
      [&]() -> IOptimizationAlgorithm& {
        EXPECT_TRUE(p.Run().IsOK());
        return *p.opt;
      },
      [&](VXNNCommon::StopReason) {
        EXPECT_EQ(p.opt->GetNIterations(), 1);
        EXPECT_EQ(p.opt->GetNDataPasses(), 3);
        const double e1 = p.opt->GetTrainError();
        EXPECT_LT(e1, e0);
        EXPECT_NEAR(p.opt->GetRelChangeInErr(), RelativeChange(e0, e1), 1e-12);
        EXPECT_NEAR(p.AtNet().error, e1, 1e-12);
      });
}

TEST(ScaledConjGradStop, SmallGradientIsTestedAfterAStepNotAtTheStart) {
  Scg p = Linear();
  p.settings->SetGradientNormLimit(1e9);
  p.Run();
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_EQ(p.opt->GetNDataPasses(), 3);
  EXPECT_EQ(p.opt->GetNIterations(), 1);
  EXPECT_NEAR(p.opt->GetLastGradientNorm(), Norm(p.AtNet().gradient), 1e-12);
}

TEST(ScaledConjGradStop, RestartIterationsTestOnlyTheTimeAndPassLimits) {
  // One weight (the output bias, no inputs): every kept step is a restart,
  // so the change rule, which would fire at any stop test, never does;
  // reports go out only after the first probe and at the end.
  std::vector<Record> records;
  for (double t : {0.3, 1.1, -0.4, 2.2, 0.9}) records.emplace_back(std::vector<double>{t});
  Scg p(Problem(0, {1}, {}, VXNNCommon::kIdentity, records, 3));
  ASSERT_EQ(p.net->GetNumWeights(), 1);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetMinRelativeChangeError(1e9);
  p.settings->SetMaxNDataPasses(9);
  p.Run();
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(p.opt->GetNDataPasses(), 9);
  EXPECT_EQ(p.opt->GetNIterations(), 4);
  ASSERT_EQ(recorder.shown.size(), 2u);
  EXPECT_EQ(recorder.shown[0].dataPasses, 1);
  EXPECT_EQ(recorder.shown[1].dataPasses, 9);
  EXPECT_NEAR(WeightsOf(*p.net)[0], (0.3 + 1.1 - 0.4 + 2.2 + 0.9) / 5, 1e-9);  // the mean
}

TEST(ScaledConjGradStop, NeverImprovingTestErrorEndsAtTheInitialWeights) {
  // From weights 0 every step towards the training data moves away from the
  // test data, whose targets have the opposite sign.
  Scg p = Linear();
  p.initial = 0.0;
  const std::vector<Record> testRecords = LinearRecords(40, 8, -1.0);
  p.settings->SetMaxNStepsTrackError(2);
  p.settings->SetMaxNDataPasses(1000);
  EXPECT_TRUE(p.Run(testRecords).IsOK());
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  EXPECT_EQ(p.opt->GetNIterations(), 2);
  ExpectWeightsNear(WeightsOf(*p.net), p.initial, 0.0);
  const Evaluation at = p.At(p.initial);
  EXPECT_EQ(p.opt->GetTrainError(), at.error);
  EXPECT_EQ(p.opt->GetAccumError(), at.error);
  EXPECT_EQ(p.opt->GetTestError(), Evaluate(*p.oracle, p.initial, testRecords).error);
  ExpectWeightsNear(p.opt->GetAccumGradient(), at.gradient);
  EXPECT_EQ(p.opt->GetNRecordsProcessed(), 70);
  // Recomputed from the restored error.
  EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(at.error), 1e-12);
}

TEST(ScaledConjGradStop, SmallGradientWithTestDataEndsAtTheBestVerifiedWeights) {
  // The test records are the training records: every verified iteration is
  // a new best, but the iteration that meets the gradient limit is not
  // verified, so the run goes back one iteration.
  Scg p = Linear();
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetGradientNormLimit(1e-6);
  p.settings->SetMaxNDataPasses(1000);
  p.Run(p.records);
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  ASSERT_GE(recorder.shown.size(), 3u);
  const Shown& lastVerified = recorder.shown[recorder.shown.size() - 2];
  const Evaluation at = p.AtNet();
  EXPECT_EQ(p.opt->GetTrainError(), lastVerified.trainError);
  EXPECT_EQ(recorder.shown.back().trainError, lastVerified.trainError);
  EXPECT_NEAR(at.error, lastVerified.trainError, 1e-12);
  EXPECT_NEAR(p.opt->GetTestError(), at.error, 1e-12);
  EXPECT_GT(Norm(at.gradient), 1e-6);
  EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(at.error), 1e-12);
}

TEST(ScaledConjGradStop, VanishingGradientEndsTheRunWithoutAStep) {
  // Targets and weights 0: there is no direction to search, whatever the
  // gradient limit.
  Scg p = Linear();
  for (Record& r : p.records) r[2] = 0.0;
  p.initial = 0.0;
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_EQ(p.opt->GetNDataPasses(), 1);
  EXPECT_EQ(p.opt->GetNIterations(), 0);
  EXPECT_EQ(std::abs(WeightsOf(*p.net)).max(), 0.0);
}

// --- failures --------------------------------------------------------------------

TEST(ScaledConjGradFailure, CurvatureOverflowGives50001UnlessCancelled) {
  for (const bool cancelFirst : {false, true}) {
    Scg p = Wave();
    bool cancel = false;
    CancelWhen host([&] { return cancel; });
    p.settings->SetCancelPointer(&host);
    // The first report comes after the probe, before the curvature overflows.
    Recorder recorder;
    recorder.then = [&](VXCommon_1_2::ProgressReport&) { cancel = cancelFirst; };
    p.settings->SetProgressListener(&recorder);
    p.settings->SetLambdaInit(1e308);
    const VXStatus status = p.Run();
    if (cancelFirst) {
      EXPECT_EQ(status, VXStatus(1, false));
      EXPECT_EQ(p.opt->GetAlgorithmStatus(), VXNNCommon::kCancelled);
      continue;
    }
    EXPECT_EQ(status.GetErrorCode(), 50001);
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(p.opt->GetAlgorithmStatus(), VXNNCommon::kInconsistent);
    EXPECT_EQ(p.opt->GetNIterations(), 1);
    EXPECT_EQ(p.opt->GetNDataPasses(), 2);
    // The probe w + sigma0 / |p| p, p the steepest descent.
    const std::valarray<double> g = p.At(p.initial).gradient;
    ExpectWeightsNear(WeightsOf(*p.net), p.initial - (5e-5 / Norm(g)) * g, 1e-15);
  }
}

TEST(ScaledConjGradFailure, TheInterruptedIterationRunsOnAndKeepsItsTrialStep) {
  // Passes of 40 records: the starting point, the curvature probe, the
  // trial step. A cancel seen before an iteration begins moves nothing.
  // Within one, the iteration runs on: the probe's gradient is that of the
  // records it read (20 or 40), the trial pass reads nothing, so its error
  // is 0, the step is accepted and its zero gradient stops the run by the
  // gradient rule; the network keeps w + alpha p.
  for (const int afterRecords : {0, 40, 60, 80}) {
    SCOPED_TRACE(afterRecords);
    Scg p = Wave();
    CountingIter train(p.records);
    CancelWhen host([&] { return train.handedOut == afterRecords; });
    p.settings->SetCancelPointer(&host);
    p.settings->SetGradientNormLimit(1e-6);  // the default
    ScaledConjGrad scg(p.settings.get(), p.net.get());
    VXStatus status;
    EXPECT_EQ(scg.Train(status, train, nullptr, 1000, 0), status);
    EXPECT_EQ(status, VXStatus(1, false));
    EXPECT_EQ(scg.GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(train.handedOut, afterRecords);
    if (afterRecords <= 40) {
      EXPECT_EQ(scg.GetStopReason(), VXNNCommon::kStoppedUndefined);
      ExpectWeightsNear(WeightsOf(*p.net), p.initial, 0.0);
      continue;
    }
    EXPECT_EQ(scg.GetStopReason(), VXNNCommon::kStoppedSmallGradient);
    EXPECT_EQ(scg.GetNDataPasses(), 3);
    EXPECT_EQ(scg.GetTrainError(), 0.0);
    const std::valarray<double> r = -p.At(p.initial).gradient;
    const double pn = Norm(r), sigma = p.settings->GetSigmaInit() / pn;
    const std::vector<Record> probed(p.records.begin(), p.records.begin() + (afterRecords - 40));
    const std::valarray<double> s =
        (Evaluate(*p.oracle, p.initial + sigma * r, probed).gradient + r) / sigma;
    const double delta = Dot(r, s) + p.settings->GetLambdaInit() * pn * pn;
    ASSERT_GT(delta, 0.0);
    ExpectWeightsNear(WeightsOf(*p.net), p.initial + (Dot(r, r) / delta) * r, 1e-12);
  }
}

// --- updates ---------------------------------------------------------------------

TEST(ScaledConjGradUpdate, ScaledStepAlongTheSteepestDescentOfOldAndNewRecordsOrNone) {
  // A probe far out (sigma 1e4) in the saturated tanh units misjudges the
  // curvature: the step overshoots and is refused.
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "taken");
    Scg t = Wave();
    t.settings->SetMaxNDataPasses(30);
    t.Run();
    const std::valarray<double> before = WeightsOf(*t.net);
    const std::vector<Record> newRecords = WaveRecords(12, 77);
    std::vector<Record> all = t.records;
    all.insert(all.end(), newRecords.begin(), newRecords.end());
    const Evaluation at = Evaluate(*t.oracle, before, all);
    const int passes = t.opt->GetNDataPasses();
    if (refused) t.settings->SetSigmaInit(1e4);
    bool changed = refused;
    EXPECT_TRUE(t.Update(newRecords, changed).IsOK());
    EXPECT_EQ(changed, !refused);
    const Evaluation after = Evaluate(*t.oracle, WeightsOf(*t.net), all);
    EXPECT_NEAR(t.opt->GetAccumError(), after.error, 1e-12);
    EXPECT_EQ(t.opt->GetNRecordsProcessed(), 52);
    EXPECT_EQ(t.opt->GetAlgorithmStatus(), VXNNCommon::kTrained);
    if (refused) {
      ExpectWeightsNear(WeightsOf(*t.net), before, 0.0);
      continue;
    }
    EXPECT_LT(after.error, at.error);
    EXPECT_NEAR(t.opt->GetTrainError(), after.error, 1e-12);
    EXPECT_NEAR(t.opt->GetLastGradientNorm(), Norm(after.gradient), 1e-12);
    EXPECT_EQ(t.opt->GetNDataPasses(), passes + 2);
    for (double v : {t.opt->GetRelChangeInErr(), t.opt->GetErrorRatio(), t.opt->GetTestError()})
      EXPECT_TRUE(VXMV::IsMissing(v));
    const std::valarray<double> moved = WeightsOf(*t.net) - before;
    const double scale = Norm(moved) * Norm(at.gradient);
    EXPECT_NEAR(-Dot(moved, at.gradient), scale, 1e-9 * scale);
  }
}

}  // namespace
