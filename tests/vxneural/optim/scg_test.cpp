// Scaled conjugate gradient: runs checked against a second implementation
// (the stop rules every optimizer shares: gdb_test.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <memory>
#include <numeric>
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

}  // namespace
