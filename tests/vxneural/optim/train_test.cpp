// The iterative optimizers checked against second implementations written
// out plainly here: batch gradient descent (its step search, progress
// reports, the stop rules and the verifying cycle the batch optimizers
// share), mini-batch and online gradient descent (steps, rate decay,
// momentum cap, record order) and scaled conjugate gradient.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <tuple>
#include <utility>
#include <valarray>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;

// --- Batch gradient descent --------------------------------------------------

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
struct BatchReference {
  std::valarray<double> w;
  double error = 0.0, relChange = 0.0;
  int passes = 1, iterations = 0;
  std::vector<int> passesAt;  // after each iteration
};
BatchReference RunBatchReference(Problem& p, double eta, double alpha, double rho, int maxPasses) {
  BatchReference ref;
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
    const BatchReference ref = RunBatchReference(p, eta, 0.9, 0.9, 40);
    ExpectWeightsNear(WeightsOf(*p.net), ref.w);
    EXPECT_EQ(Counts(*p.opt),
              std::make_tuple(VXNNCommon::kStoppedMaxDataPasses, VXNNCommon::kTrained, ref.passes,
                              ref.iterations, 40));
    EXPECT_NEAR(p.opt->GetTrainError(), ref.error, 1e-12);
    EXPECT_NEAR(p.opt->GetAccumError(), ref.error, 1e-12);
    EXPECT_NEAR(p.opt->GetRelChangeInErr(), ref.relChange, 1e-12);
    EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(ref.error), 1e-12);
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

// Every stop rule armed to fire at the first stop test, then relaxed one by
// one: the run stops for the reasons time, data passes, relative change,
// error ratio and accuracy in that order, always after one accepted step
// (the change and ratio rules had no value before).
TEST(GradientDescentBatchStop, RulesFireInTheirOrderAfterTheFirstStep) {
  Linear p;
  const double e0 = p.At(p.initial).error;
  const double e1 = p.At(p.FirstStep()).error;
  ASSERT_LT(e1, e0);
  MLPSettings& s = *p.settings;
  s.SetMaxTime(0.0);
  s.SetMaxNDataPasses(1);
  s.SetMinRelativeChangeError(10.0);
  s.SetMinErrorRatio(10.0);
  s.SetAccuracy(0.0);
  const std::pair<std::function<void()>, VXNNCommon::StopReason> steps[] = {
      {[] {}, VXNNCommon::kStoppedMaxTime},
      {[&] { s.SetMaxTime(1e9); }, VXNNCommon::kStoppedMaxDataPasses},
      {[&] { s.SetMaxNDataPasses(1000); }, VXNNCommon::kStoppedErrorChangeLimit},
      {[&] { s.SetMinRelativeChangeError(0.0); }, VXNNCommon::kStoppedErrorRatioLimit},
      {[&] { s.SetMinErrorRatio(0.0); }, VXNNCommon::kStoppedAccuracy}};
  for (const auto& [relax, expected] : steps) {
    relax();
    SCOPED_TRACE(VXNNCommon::DisplayText(expected));
    EXPECT_TRUE(p.Run().IsOK());
    EXPECT_EQ(Counts(*p.opt), std::make_tuple(expected, VXNNCommon::kTrained, 2, 1, 40));
    ExpectWeightsNear(WeightsOf(*p.net), p.FirstStep());
    EXPECT_NEAR(p.opt->GetRelChangeInErr(), RelativeChange(e0, e1), 1e-12);
    EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(e1), 1e-12);
  }
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

// --- Mini-batch and online gradient descent ----------------------------------

std::vector<Record> Slice(const std::vector<Record>& records, std::size_t from, std::size_t n) {
  return {records.begin() + from, records.begin() + from + n};
}

// The order of a block of n records as the generator shuffles it.
std::vector<int> ShuffledOrder(VXRandom& random, int n) {
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  random.Shuffle(order);
  return order;
}

// A second implementation of the steps and epochs of a run without test
// data, with the oracle network's errors and gradients.
struct MboReference {
  MboReference(NNetwork& o, const MLPSettings& settings, double d, const std::valarray<double>& w0)
      : oracle(o), s(settings), decay(d), w(w0) {}
  NNetwork& oracle;
  const MLPSettings& s;
  double decay;
  std::valarray<double> w, a = std::valarray<double>(0.0, w.size());
  // Rates and momentum from the settings as a run starts (before Train
  // stores its final momentum in them).
  double eta = s.GetEtaInit(), etaLow = s.GetEtaLow(), alpha = s.GetAlpha();
  double rho = s.GetAlphaReduction();
  int steps = 0;

  void Step(const std::vector<Record>& group) {
    const Evaluation at = Evaluate(oracle, w, group);
    if (alpha * Norm(a) > eta * Norm(at.gradient)) alpha = eta * Norm(at.gradient) / Norm(a) * rho;
    const std::valarray<double> d = (w - eta * at.gradient) + alpha * a;
    if (Evaluate(oracle, d, group).error < at.error) {
      a = d - w;
      w = d;
    }
    ++steps;
    if (eta > etaLow) eta = std::max(eta * decay, etaLow);
  }
  // Whole mini-batches of c in record order (all records at once when they
  // are fewer than c), or (online) loads of c taken in shuffled order; the
  // run ends at its best training epoch.
  void Train(const std::vector<Record>& records, std::size_t c, int epochs,
             VXRandom* shuffler = nullptr) {
    std::valarray<double> best = w;
    double bestError = Evaluate(oracle, w, records).error;
    int bestEpoch = 1;
    for (int epoch = 1; epoch <= epochs; ++epoch) {
      for (std::size_t from = 0; from < records.size(); from += c) {
        const std::size_t n = std::min(records.size() - from, c);
        if (shuffler == nullptr && (n == c || records.size() < c)) Step(Slice(records, from, n));
        if (shuffler != nullptr)
          for (int k : ShuffledOrder(*shuffler, static_cast<int>(n)))
            Step(Slice(records, from + static_cast<std::size_t>(k), 1));
      }
      const double e = Evaluate(oracle, w, records).error;
      if (e < bestError) {
        bestError = e;
        best = w;
        bestEpoch = epoch;
      }
    }
    if (bestEpoch != epochs) w = best;
  }
};

// A network of 2 inputs, 3 tanh hidden units and 1 continuous target on
// linear data, with its optimizer (mini-batches of c) and generator.
struct MboFixture : Problem {
  MboFixture(int records, VXNNCommon::TrainingType type, int c)
      : Problem(LinearProblem({3}, records, 1, 3)) {
    settings->SetTrainingMethodAndType(VXNNCommon::kGradientDescent, type);
    settings->SetAlphaReduction(0.5);
    mbo = std::make_unique<GradientDescentMBO>(settings.get(), net.get(), 3, c, &random);
  }
  VXRandom random{777u, true};
  std::unique_ptr<GradientDescentMBO> mbo;
};

TEST(GradientDescentMBOTrain, FollowsASecondImplementation) {
  struct Case {
    const char* what;
    int n;
    VXNNCommon::TrainingType type;
    int c;
    double eta, etaLow, alpha, nEpochs;
    int epochs, steps;
  };
  const Case cases[] = {
      // Two steps per epoch; the last 5 records are left out of the steps
      // but not out of the measured error.
      {"whole mini-batches only", 25, VXNNCommon::kMiniBatch, 10, 0.05, 0.05, 0.9, 2, 3, 6},
      // Two steps to decay over: 0.1, 0.05, then 0.025 for good.
      {"rate halves to its low value", 20, VXNNCommon::kMiniBatch, 10, 0.1, 0.025, 0.0, 1, 3, 6},
      // The schedule's factor is exp(-inf) = 0: the rate is 0 from the
      // second step on, and no later step moves the weights.
      {"low rate of zero", 20, VXNNCommon::kMiniBatch, 10, 0.1, 0.0, 0.0, 1, 3, 6},
      {"momentum capped", 40, VXNNCommon::kMiniBatch, 8, 0.1, 0.01, 5.0, 2, 4, 20},
      {"data smaller than a mini-batch", 5, VXNNCommon::kMiniBatch, 8, 0.1, 0.01, 0.9, 2, 3, 3},
      // Loads of 8, 8 and 4, each in its own shuffled order.
      {"online", 20, VXNNCommon::kOnline, 8, 0.05, 0.01, 0.5, 2, 3, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MboFixture f(c.n, c.type, c.c);
    f.settings->SetEtaInit(c.eta);
    f.settings->SetEtaLow(c.etaLow);
    f.settings->SetAlpha(c.alpha);
    f.settings->SetNEpochs(c.nEpochs);
    // Without test data: the first pass, then an epoch and a training-error
    // pass per epoch.
    f.settings->SetMaxNDataPasses(1 + 2 * c.epochs);
    // The rate falls geometrically over nEpochs epochs of n / c steps.
    const double decay =
        c.eta == c.etaLow ? 1.0
                          : std::exp(-std::log(c.eta / c.etaLow) / (1.0 * c.n / c.c * c.nEpochs));
    MboReference ref(*f.oracle, *f.settings, decay, f.initial);
    CountingIter train(f.records);
    VXStatus status;
    f.mbo->Train(status, train, nullptr, 1000, 0);
    EXPECT_TRUE(status.IsOK());
    EXPECT_EQ(Counts(*f.mbo),
              std::make_tuple(VXNNCommon::kStoppedMaxDataPasses, VXNNCommon::kTrained,
                              1 + 2 * c.epochs, c.steps, c.n * c.epochs));
    EXPECT_EQ(train.handedOut, c.n * (1 + 2 * c.epochs));

    VXRandom shuffler(777u, true);
    ref.Train(f.records, static_cast<std::size_t>(c.c), c.epochs,
              c.type == VXNNCommon::kOnline ? &shuffler : nullptr);
    EXPECT_EQ(ref.steps, c.steps);
    ExpectWeightsNear(WeightsOf(*f.net), ref.w);
    EXPECT_DOUBLE_EQ(f.settings->GetAlpha(), ref.alpha);
    EXPECT_DOUBLE_EQ(f.mbo->GetTrainError(), f.At(ref.w).error);
    // The shared generator moved on by exactly the draws of the loads.
    if (c.type == VXNNCommon::kOnline) {
      EXPECT_EQ(f.random.GetSeed(), shuffler.GetSeed());
    }
    if (c.alpha == 5.0) {
      EXPECT_LT(ref.alpha, 5.0);
    }
  }
}

// --- Scaled conjugate gradient -----------------------------------------------

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

// Summed from the first product on, as the optimizer does (a valarray's
// sum() may run the other way and change the last bits).
double Dot(const std::valarray<double>& a, const std::valarray<double>& b) {
  return std::inner_product(std::begin(a), std::end(a), std::begin(b), 0.0);
}

// Scaled conjugate gradient written out plainly after its textbook form. It
// stops once the data-pass limit is reached after any iteration, and notes
// what a listener would see: the starting error after the first probe, the
// error after every kept step that is not a restart, and the final error.
struct ScgReference {
  std::valarray<double> w;
  double error = 0.0;
  int passes = 1, iterations = 0, failures = 0, restarts = 0;
  std::vector<double> shown;
};
ScgReference RunScgReference(Problem& p, const MLPSettings& s, int maxPasses) {
  ScgReference ref;
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

TEST(ScaledConjGradTrain, FollowsASecondImplementation) {
  for (const unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    Scg p = Wave(seed);
    Recorder recorder;
    p.settings->SetProgressListener(&recorder);
    p.settings->SetMaxNDataPasses(120);
    EXPECT_TRUE(p.Run().IsOK());
    const ScgReference ref = RunScgReference(p, *p.settings, 120);
    // The comparison covers rejected steps and restarts.
    EXPECT_GE(ref.failures, 1);
    EXPECT_GE(ref.restarts, 1);
    // The twin network computes errors and gradients bit for bit as the
    // optimizer's does, so the two runs agree exactly: a different order of
    // operations would drift apart over the run.
    ExpectWeightsNear(WeightsOf(*p.net), ref.w, 0.0);
    EXPECT_EQ(Counts(*p.opt),
              std::make_tuple(VXNNCommon::kStoppedMaxDataPasses, VXNNCommon::kTrained, ref.passes,
                              ref.iterations, 40));
    EXPECT_EQ(p.opt->GetTrainError(), ref.error);
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

}  // namespace
