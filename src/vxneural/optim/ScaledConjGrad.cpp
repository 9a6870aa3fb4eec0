#include "vxneural/optim/ScaledConjGrad.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <ctime>
#include <valarray>

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;

namespace {

// Code of a run whose curvature estimate overflowed.
constexpr int kCurvatureOverflow = 50001;

// Plain loops: the valarray operators would build a temporary per product.
double Dot(const std::valarray<double>& a, const std::valarray<double>& b) {
  double sum = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += a[k] * b[k];
  return sum;
}

double Norm(const std::valarray<double>& v) { return std::sqrt(Dot(v, v)); }

// The curvature along p from the gradient probed at sigma along p: first
// s = (g + r) / sigma, which approximates the Hessian times p (r is the
// negative gradient at the base point), then delta = p . s. The gradient
// is turned into s in place; the two steps round as written, so runs
// follow the method's own arithmetic exactly.
double Curvature(const std::valarray<double>& p, std::valarray<double>& gradientToS,
                 const std::valarray<double>& r, double sigma) {
  for (std::size_t j = 0; j < p.size(); ++j) gradientToS[j] = (gradientToS[j] + r[j]) / sigma;
  return Dot(p, gradientToS);
}

void Load(NNetwork& network, const std::valarray<double>& weights) {
  network.ResetAll();
  network.SetWeights(weights);
}

}  // namespace

ScaledConjGrad::ScaledConjGrad(MLPSettings* settings, NNetwork* network)
    : BatchOptimizer(settings, network, VXMV::gMissingValue) {}

ScaledConjGrad::~ScaledConjGrad() = default;

VXStatus ScaledConjGrad::Train(VXStatus& status, MultiPassRecordIter& train,
                               MultiPassRecordIter* test, int nTrain, int nTest) {
  status = VXStatus();
  StartRun();
  const double sigma0 = fSettings->GetSigmaInit();
  double lambda = fSettings->GetLambdaInit();
  const double upperDelta = fSettings->GetUpperDelta();
  const double lowerDelta = fSettings->GetLowerDelta();
  const double lambdaReduction = fSettings->GetLambdaReduction();
  const bool noTest = test == nullptr;

  // Allocated once per run: weights, negative gradient and its previous
  // value, search direction, trial weights, gradient at the probe.
  const int nWeights = fNetwork->GetNumWeights();
  const std::size_t n = static_cast<std::size_t>(nWeights);
  std::valarray<double> w(n), r(n), rOld(n), p(n), trial(n), probeGradient(n);
  fNetwork->GetWeights(w);
  if (fAccumGradient.size() != n) fAccumGradient.resize(n);
  fAlgorithmStatus = VXNNCommon::kInProgress;
  fNDataPasses = 0;

  BestIterate best;
  int testRecords = 0;
  if (test != nullptr) {
    testRecords = TestPass(*test, nTest);
    fTestErrorNew = fTestErrorPrev = fNetwork->GetAccumError();
    fAccuracy = fNetwork->GetAccuracy();
  }

  // The starting point. No stop rule is tested here.
  fNetwork->SetComputeAverages(true);
  fNetwork->ResetDerivatives();
  fNRecordsProcessed = TrainPass(train, nTrain, noTest) + testRecords;
  fNetwork->SetComputeAverages(false);
  if (Halted()) return FinishRun(status);
  fAccumError = fTrainErrorNew = fTrainErrorPrev = fNetwork->GetAccumError();
  if (noTest) fAccuracy = fNetwork->GetAccuracy();
  fRelChangeInErr = fErrorRatio = VXMV::gMissingValue;
  fNetwork->GetGradient(fAccumGradient);
  fLastGradientNorm = fNetwork->GradientNorm();
  if (test != nullptr) StartVerifying(best, w);
  r = -fAccumGradient;
  p = r;
  fNIterations = 0;

  double lambdaBar = 0.0;
  // The curvature along p, kept for the retry after a rejected step.
  double delta = 0.0;
  // The error of the mean model, known after the first probe.
  double eAvg = 0.0;
  int k = 0;
  int i = 1;
  bool success = true;
  bool firstProbe = true;
  bool stopped = false;
  bool overflow = false;
  // Whether the network holds the weights the run should end with (w, or
  // the best-verified ones); false while it holds a probe or a trial step.
  bool settled = true;

  while (!stopped && !Halted()) {
    const double pn = Norm(p);
    if (pn == 0.0) {
      // The gradient vanished exactly: there is no direction to search.
      fStopReason = VXNNCommon::kStoppedSmallGradient;
      fAlgorithmStatus = VXNNCommon::kTrained;
      stopped = true;
    } else {
      ++k;
      ++fNIterations;
      const double pn2 = pn * pn;
      bool restart = false;

      if (success) {
        const double sigma = sigma0 / pn;
        trial = w + sigma * p;
        Load(*fNetwork, trial);
        settled = false;
        if (firstProbe) fNetwork->SetComputeErrorAverages(true);
        TrainPass(train, nTrain, noTest);
        if (firstProbe) fNetwork->SetComputeErrorAverages(false);
        // A failed source ends the run with the kept weights put back.
        if (GetSourceFailure() != 0) break;
        fNetwork->GetGradient(probeGradient);
        if (noTest) fAccuracy = fNetwork->GetAccuracy();
        if (firstProbe) {
          firstProbe = false;
          eAvg = fNetwork->GetErrorAverages();
          fErrorRatio = ErrorRatio(fAccumError, eAvg);
          // The first report of a run describes the starting point, which
          // took one data pass.
          --fNDataPasses;
          ReportProgress(false);
          ++fNDataPasses;
        }
        delta = Curvature(p, probeGradient, r, sigma);
      }

      delta += (lambda - lambdaBar) * pn2;
      if (delta > DBL_MAX) {
        fAlgorithmStatus = VXNNCommon::kInconsistent;
        status = VXStatus(kCurvatureOverflow, false);
        overflow = true;
        break;
      }
      if (delta <= 0.0) {
        // Not positive definite here: raise lambda until it is.
        const double delta0 = delta;
        delta = lambda * pn2 - delta0;
        lambda = 2.0 * (lambda - delta0 / pn2);
      }

      const double mu = Dot(p, r);
      const double alpha = mu / delta;
      trial = w + alpha * p;
      Load(*fNetwork, trial);
      settled = false;
      TrainPass(train, nTrain, noTest);
      if (GetSourceFailure() != 0) break;
      if (noTest) fAccuracy = fNetwork->GetAccuracy();
      const double eNew = fNetwork->GetAccumError();
      // Actual over predicted decrease of the error.
      const double comparison = 2.0 * delta * (fAccumError - eNew) / (mu * mu);

      if (comparison >= 0.0) {
        w = trial;
        settled = true;
        rOld = r;
        fNetwork->GetGradient(fAccumGradient);
        r = -fAccumGradient;
        lambdaBar = 0.0;
        success = true;
        fRelChangeInErr = RelativeChange(fAccumError, eNew);
        fAccumError = eNew;
        fTrainErrorPrev = fTrainErrorNew;
        fTrainErrorNew = eNew;
        fErrorRatio = ErrorRatio(eNew, eAvg);
        const double rn = Norm(r);
        fLastGradientNorm = rn;
        if (TestGradientRule()) {
          stopped = true;
        } else if (k == nWeights) {
          p = r;
          k = 0;
          restart = true;
        } else {
          const double beta = (rn * rn - Dot(r, rOld)) / mu;
          p = r + beta * p;
          fLastGradientNorm = Norm(p);
          if (comparison >= upperDelta) lambda *= lambdaReduction;
        }
      } else {
        lambdaBar = lambda;
        success = false;
      }
      if (!stopped && !restart && comparison < lowerDelta)
        lambda += delta * (1.0 - comparison) / pn2;
      ++i;

      if (restart || !success) {
        if (!TestRunLimits()) continue;
        stopped = true;
      } else if (!stopped) {
        if (test != nullptr) {
          stopped = VerifyIteration(best, *test, nTest, i, w);
        }
        if (!stopped) stopped = TestStopRules();
      }
    }

    if (stopped && test != nullptr && RestoreBest(best, i)) {
      settled = true;
      fErrorRatio = ErrorRatio(fAccumError, eAvg);
    }
    ReportProgress(stopped);
  }

  // A run the limits end after a rejected step leaves the trial weights in
  // the network: the kept ones are put back. A cancel is different: the
  // iteration it interrupts runs to its end on the passes the cancel cut
  // short (once seen, a pass reads nothing, so its zero gradient accepts
  // the trial step and stops the run by the gradient rule), and the
  // network keeps what that iteration left.
  if (!overflow && !settled && !IsCanceled()) Load(*fNetwork, w);
  return FinishRun(status);
}

VXStatus ScaledConjGrad::UpdateBatch(VXStatus& status, MultiPassRecordIter& train,
                                     MultiPassRecordIter& newRecords, int nNew, bool& changed) {
  status = VXStatus();
  changed = false;
  const double sigma0 = fSettings->GetSigmaInit();
  const double lambda = fSettings->GetLambdaInit();
  std::valarray<double> w;
  fNetwork->GetWeights(w);
  const double previousTime = fElapsedTime;

  const int newRead = AddNewRecords(newRecords, nNew);
  const std::valarray<double> r = -fAccumGradient;
  const std::valarray<double>& p = r;
  const double pn = Norm(p);
  fLastGradientNorm = pn;

  // One pass over the old and one over the new records at the given
  // weights; returns the records read.
  auto passAt = [&](const std::valarray<double>& weights) {
    Load(*fNetwork, weights);
    return OldAndNewPass(train, newRecords, nNew);
  };

  // With a vanishing gradient no step is taken; the old records still count.
  int recordsRead = fNRecordsProcessed + newRead;
  if (!Halted() && pn > 0.0) {
    const double pn2 = pn * pn;
    const double sigma = sigma0 / pn;
    recordsRead = passAt(w + sigma * p);
    std::valarray<double> probeGradient(w.size());
    fNetwork->GetGradient(probeGradient);
    double delta = Curvature(p, probeGradient, r, sigma);
    delta += lambda * pn2;
    if (delta <= 0.0) delta = lambda * pn2 - delta;
    const double mu = Dot(p, r);
    const double alpha = mu / delta;
    if (!Halted()) {
      recordsRead = passAt(w + alpha * p);
      const double e = fNetwork->GetAccumError();
      const double comparison = 2.0 * delta * (fAccumError - e) / (mu * mu);
      // A pass cut short by a cancel has a partial error, lower than it
      // should be.
      if (comparison >= 0.0 && !Halted()) {
        changed = true;
        fAccumError = e;
        fNetwork->GetGradient(fAccumGradient);
        fLastGradientNorm = fNetwork->GradientNorm();
      }
    }
  }
  if (!changed) fNetwork->SetWeights(w);

  fEndClock = std::clock();
  fAlgorithmStatus = VXNNCommon::kTrained;
  SetElapsedTime(SecondsSinceStart() + previousTime);
  fTrainErrorNew = fAccumError;
  fNRecordsProcessed = recordsRead;
  fRelChangeInErr = fErrorRatio = fTrainErrorPrev = VXMV::gMissingValue;
  fTestErrorNew = fTestErrorPrev = VXMV::gMissingValue;
  EndHalted(fAlgorithmStatus, status);
  return status;
}

void ScaledConjGrad::GetProgressValues(double& trainError, double& testError, double& gradientNorm,
                                       double& relChange, double& errorRatio) {
  trainError = fTrainErrorNew;
  testError = fTestErrorNew;
  gradientNorm = fLastGradientNorm;
  relChange = fRelChangeInErr;
  errorRatio = fErrorRatio;
}

void ScaledConjGrad::SetProgressValues(double trainError, double testError, double gradientNorm,
                                       double relChange, double errorRatio, int nRecords) {
  fTrainErrorNew = trainError;
  fTestErrorNew = testError;
  fLastGradientNorm = gradientNorm;
  fRelChangeInErr = relChange;
  fErrorRatio = errorRatio;
  if (nRecords >= 0) fNRecordsProcessed = nRecords;
}
