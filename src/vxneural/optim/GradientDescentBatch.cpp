#include "vxneural/optim/GradientDescentBatch.h"

#include <cmath>

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;

namespace {

double Norm(const std::valarray<double>& v) { return std::sqrt((v * v).sum()); }

}  // namespace

GradientDescentBatch::GradientDescentBatch(MLPSettings* settings, NNetwork* network)
    : BatchOptimizer(settings, network, 0.0) {}

GradientDescentBatch::~GradientDescentBatch() = default;

VXStatus GradientDescentBatch::Train(VXStatus& status, MultiPassRecordIter& train,
                                     MultiPassRecordIter* test, int nTrain, int nTest) {
  status = VXStatus();
  StartRun();
  double eta = fSettings->GetEtaInit();
  double alpha = fSettings->GetAlpha();
  const double rho = fSettings->GetAlphaReduction();
  const bool noTest = test == nullptr;

  // Allocated once per run.
  const std::size_t n = static_cast<std::size_t>(fNetwork->GetNumWeights());
  std::valarray<double> w(n), a(0.0, n), d(n);
  fNetwork->GetWeights(w);
  if (fAccumGradient.size() != n) fAccumGradient.resize(n);
  fAlgorithmStatus = VXNNCommon::kInProgress;
  fNDataPasses = 0;
  int i = 1;

  BestIterate best;
  int testRecords = 0;
  if (test != nullptr) {
    testRecords = TestPass(*test, nTest);
    fTestErrorNew = fTestErrorPrev = fNetwork->GetAccumError();
    fAccuracy = fNetwork->GetAccuracy();
  }

  // The error of the mean model, fixed after the first trial step.
  double eAvg = 0.0;
  bool firstTrial = true;
  bool stopped = false;
  while (!stopped && !Halted()) {
    if (i == 1) {
      fNetwork->SetComputeAverages(true);
      fNetwork->ResetDerivatives();
      fNRecordsProcessed = TrainPass(train, nTrain, noTest) + testRecords;
      // A failed source ends the run; its partial pass counts for nothing.
      if (GetSourceFailure() != 0) break;
      fAccumError = fNetwork->GetAccumError();
      if (noTest) fAccuracy = fNetwork->GetAccuracy();
      eAvg = fAccumError;
      fTrainErrorNew = fTrainErrorPrev = fAccumError;
      fRelChangeInErr = fErrorRatio = VXMV::gMissingValue;
      fNetwork->GetGradient(fAccumGradient);
      fNetwork->SetComputeAverages(false);
      fLastGradientNorm = fNetwork->GradientNorm();
      stopped = TestGradientRule();
      if (test != nullptr) StartVerifying(best, w);
    }

    // The step search: from the same W, A and G until a step lowers the
    // training error.
    while (!stopped) {
      const double normA = Norm(a);
      const double normG = Norm(fAccumGradient);
      if (alpha * normA > eta * normG) alpha = (eta * normG / normA) * rho;
      d = (w - eta * fAccumGradient) + alpha * a;

      if (firstTrial) fNetwork->SetComputeErrorAverages(true);
      fNetwork->ResetAll();
      fNetwork->SetWeights(d);
      TrainPass(train, nTrain, noTest);
      if (GetSourceFailure() != 0) break;
      const double eNew = fNetwork->GetAccumError();
      if (firstTrial) {
        fNetwork->SetComputeErrorAverages(false);
        eAvg = fNetwork->GetErrorAverages();
        firstTrial = false;
      }
      // A pass cut short by a cancel goes on like any other: once the cancel
      // is seen a pass reads nothing, and its zero gradient ends the search
      // by the gradient rule with D in the network.
      fLastGradientNorm = fNetwork->GradientNorm();
      if (TestGradientRule()) {
        // The network keeps D.
        stopped = true;
        fRelChangeInErr = RelativeChange(fAccumError, eNew);
        fAccumError = fTrainErrorNew = eNew;
        fNetwork->GetGradient(fAccumGradient);
        fErrorRatio = ErrorRatio(eNew, eAvg);
        if (noTest) fAccuracy = fNetwork->GetAccuracy();
        break;
      }
      if (eNew < fAccumError) {
        a = d - w;
        w = d;
        fRelChangeInErr = RelativeChange(fAccumError, eNew);
        fAccumError = eNew;
        fTrainErrorPrev = fTrainErrorNew;
        fTrainErrorNew = eNew;
        fNetwork->GetGradient(fAccumGradient);
        fLastGradientNorm = fNetwork->GradientNorm();
        fErrorRatio = ErrorRatio(eNew, eAvg);
        if (noTest) fAccuracy = fNetwork->GetAccuracy();
        break;
      }
      eta *= 0.5;
      // Near a minimum no representable step may lower the error; the
      // data-pass and time limits end such a search, which the stop rules
      // then report.
      if (fNDataPasses >= fLimits.maxNDataPasses || SecondsSinceStart() >= fLimits.maxTime) {
        fNetwork->ResetAll();
        fNetwork->SetWeights(w);
        fLastGradientNorm = Norm(fAccumGradient);
        break;
      }
    }
    if (GetSourceFailure() != 0) break;
    ++i;
    if (!stopped && test != nullptr) stopped = VerifyIteration(best, *test, nTest, i, w);
    if (!stopped) stopped = TestStopRules();
    if (stopped && test != nullptr) RestoreBest(best, i);
    ReportProgress(stopped);
  }

  // The iteration counter i serves this run's stop rules and reports only:
  // fNIterations keeps the value it had (the counters a replaced optimizer
  // handed over, or what a mini-batch update counted), and the driver adds
  // that value to its own count after every run.
  return FinishRun(status);
}

VXStatus GradientDescentBatch::UpdateBatch(VXStatus& status, MultiPassRecordIter& train,
                                           MultiPassRecordIter& newRecords, int nNew,
                                           bool& changed) {
  status = VXStatus();
  changed = false;
  const double eta = fSettings->GetEtaLow();
  const double previousTime = fElapsedTime;
  std::valarray<double> w;
  fNetwork->GetWeights(w);

  AddNewRecords(newRecords, nNew);
  fLastGradientNorm = fNetwork->GradientNorm();

  const std::valarray<double> d = w - eta * fAccumGradient;
  int recordsRead = 0;
  if (!Halted()) {
    fNetwork->ResetAll();
    fNetwork->SetWeights(d);
    recordsRead = OldAndNewPass(train, newRecords, nNew);
    const double e = fNetwork->GetAccumError();
    // A pass cut short by a cancel has a partial error, lower than it
    // should be.
    if (e < fAccumError && !Halted()) {
      changed = true;
      fAccumError = e;
      fNetwork->GetGradient(fAccumGradient);
      fLastGradientNorm = fNetwork->GradientNorm();
    } else {
      fNetwork->SetWeights(w);
    }
  }

  fEndClock = std::clock();
  fAlgorithmStatus = VXNNCommon::kTrained;
  fElapsedTime = SecondsSinceStart();
  SetElapsedTime(fElapsedTime + previousTime);
  fTrainErrorNew = fAccumError;
  fNRecordsProcessed = recordsRead;
  fRelChangeInErr = fErrorRatio = fTrainErrorPrev = VXMV::gMissingValue;
  fTestErrorNew = fTestErrorPrev = VXMV::gMissingValue;
  EndHalted(fAlgorithmStatus, status);
  return status;
}
