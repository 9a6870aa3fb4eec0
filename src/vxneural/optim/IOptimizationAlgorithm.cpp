#include "vxneural/optim/IOptimizationAlgorithm.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <ostream>
#include <utility>
#include <vector>

#include "algorithm/AlgorithmCodes.h"
#include "data/SourceCheck.h"
#include "network/SharedRun.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPReporter.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/NNetwork.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;
using VXNeural::RecordBufferIter;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {

// Optimizers are nested in the algorithm object (level 0).
constexpr int kXmlLevel = 1;

const double* Data(const std::valarray<double>& v) { return v.size() == 0 ? nullptr : &v[0]; }

bool ValidStatus(int v) { return v >= VXNNCommon::kNotStarted && v <= VXNNCommon::kInconsistent; }
bool ValidReason(int v) {
  return v >= VXNNCommon::kStoppedUndefined && v <= VXNNCommon::kStoppedComputed;
}

}  // namespace

bool IOptimizationAlgorithm::IsCanceled() {
  return fCanceled = VXNeural::detail::CancelAnswer(fCanceled, fCancel);
}

bool IOptimizationAlgorithm::CheckSource(VXCommon_1_2::RecordIterator& source, int code) {
  if (fSourceFailure == 0 && VXNeural::detail::SourceFailed(source)) fSourceFailure = code;
  return fSourceFailure != 0;
}

bool IOptimizationAlgorithm::EndHalted(VXNNCommon::AlgorithmStatus& state, VXStatus& status) {
  if (IsCanceled()) {
    state = VXNNCommon::kCancelled;
    status = VXStatus(1, false);
  } else if (fSourceFailure != 0) {
    state = VXNNCommon::kInconsistent;
    status = VXStatus(fSourceFailure, false);
  } else {
    return false;
  }
  return true;
}

IOptimizationAlgorithm::RunLimits IOptimizationAlgorithm::ReadRunLimits(
    const MLPSettings& settings) {
  RunLimits limits;
  limits.listener = settings.GetProgressListener();
  limits.nSkippedReports = settings.GetNSkippedReports();
  limits.maxTime = settings.GetMaxTime();
  limits.minRelativeChangeError = settings.GetMinRelativeChangeError();
  limits.minErrorRatio = settings.GetMinErrorRatio();
  limits.gradientNormLimit = settings.GetGradientNormLimit();
  limits.maxNDataPasses = settings.GetMaxNDataPasses();
  limits.maxNStepsTrackError = settings.GetMaxNStepsTrackError();
  limits.accuracy = settings.GetAccuracy() * 0.01;
  return limits;
}

// The processes of a shared training must stop after the same pass and
// save the same times: they take the largest of their readings.
double IOptimizationAlgorithm::SecondsSince(std::clock_t start) {
  return VXNeural::detail::ProcessorSecondsSince(start);
}

VXNNCommon::StopReason IOptimizationAlgorithm::FirstStopRule(const RunLimits& limits,
                                                             double elapsed, int dataPasses,
                                                             double relChange, double errorRatio,
                                                             double accuracy) {
  if (elapsed >= limits.maxTime) return VXNNCommon::kStoppedMaxTime;
  if (dataPasses >= limits.maxNDataPasses) return VXNNCommon::kStoppedMaxDataPasses;
  if (!VXMV::IsMissing(relChange) && relChange < limits.minRelativeChangeError)
    return VXNNCommon::kStoppedErrorChangeLimit;
  if (!VXMV::IsMissing(errorRatio) && errorRatio < limits.minErrorRatio)
    return VXNNCommon::kStoppedErrorRatioLimit;
  if (!VXMV::IsMissing(accuracy) && accuracy >= limits.accuracy)
    return VXNNCommon::kStoppedAccuracy;
  return VXNNCommon::kStoppedUndefined;
}

double IOptimizationAlgorithm::RelativeChange(double eOld, double eNew) {
  return std::fabs(eNew - eOld) / ((eOld + eNew) * 0.5 + 1e-10);
}

double IOptimizationAlgorithm::ErrorRatio(double e, double eAvg) { return e / (eAvg + 1e-10); }

void IOptimizationAlgorithm::ReportProgress(const RunLimits& limits, int& counter, bool stopped,
                                            std::clock_t start) {
  if (limits.listener == nullptr) return;
  if (counter == 0 || stopped) {
    SetElapsedTime(SecondsSince(start));
    MLPReporter report(this);
    limits.listener->Report(report);
  }
  if (++counter > limits.nSkippedReports) counter = 0;
}

// ---------------------------------------------------------------------------
// BatchOptimizer

BatchOptimizer::BatchOptimizer(MLPSettings* settings, NNetwork* network, double initialAccuracy)
    : IOptimizationAlgorithm(settings != nullptr ? settings->GetCancelPointer() : nullptr),
      fSettings(settings),
      fNetwork(network),
      fAlgorithmStatus(VXNNCommon::kNotStarted),
      fStopReason(VXNNCommon::kStoppedUndefined),
      fElapsedTime(0.0),
      fNIterations(0),
      fNDataPasses(0),
      fNRecordsProcessed(0),
      fTrainErrorPrev(VXMV::gMissingValue),
      fTestErrorPrev(VXMV::gMissingValue),
      fTrainErrorNew(VXMV::gMissingValue),
      fTestErrorNew(VXMV::gMissingValue),
      fLastGradientNorm(VXMV::gMissingValue),
      fRelChangeInErr(VXMV::gMissingValue),
      fErrorRatio(VXMV::gMissingValue),
      fAccuracy(initialAccuracy),
      fAccumGradient(0.0,
                     network != nullptr ? static_cast<std::size_t>(network->GetNumWeights()) : 0),
      fAccumError(0.0),
      fMiniBatchSize(0),
      fStartClock(std::clock()),
      fEndClock(std::clock()) {}

BatchOptimizer::~BatchOptimizer() = default;

void BatchOptimizer::ResetGradient() {
  const std::size_t n = static_cast<std::size_t>(fNetwork->GetNumWeights());
  if (fAccumGradient.size() != n) fAccumGradient.resize(n);
  fAccumGradient = 0.0;
  fAccumError = 0.0;
}

VXStatus BatchOptimizer::Update(VXStatus& status, MultiPassRecordIter& train,
                                MultiPassRecordIter& newRecords, int nNew, bool& changed) {
  if (fSettings->GetUpdateType() == VXNNCommon::kBatch)
    return UpdateBatch(status, train, newRecords, nNew, changed);
  return UpdateMiniBatch(status, train, newRecords, nNew, changed);
}

VXStatus BatchOptimizer::UpdateMiniBatch(VXStatus& status, MultiPassRecordIter& /*train*/,
                                         MultiPassRecordIter& newRecords, int nNew, bool& changed) {
  status = VXStatus();
  const double eta = fSettings->GetEtaLow();
  const double alpha = fSettings->GetAlpha();
  if (!fRecordBuffer) {
    fMiniBatchSize = fSettings->GetMiniBatchSize();
    fRecordBuffer = std::make_unique<RecordBufferIter>(
        fNetwork->GetNumInputs() + fNetwork->GetNumOutputs(), std::max(fMiniBatchSize, 0));
    fRecordBuffer->Empty();
  }

  changed = false;
  const double previousTime = fElapsedTime;
  const std::size_t n = static_cast<std::size_t>(fNetwork->GetNumWeights());
  std::valarray<double> w(n), a(0.0, n), d(n), g(0.0, n);
  fNetwork->GetWeights(w);
  const int fill = std::max(1, static_cast<int>(0.25 * fMiniBatchSize + 0.5));
  fAlgorithmStatus = VXNNCommon::kUpdating;
  fStartClock = std::clock();
  fNIterations = 0;
  int consumed = 0;

  VXStatus passStatus;
  int records = 0;
  while (!Halted() && newRecords.IsGood() && consumed < nNew) {
    const int taken = fRecordBuffer->Fill(newRecords, nNew - consumed);
    consumed += taken;
    if (CheckSource(newRecords, VXNeural::codes::kTrainSourceNotGood)) break;
    if (fRecordBuffer->GetCount() < fill) {
      // A full buffer below the threshold (a capacity of 0) could loop
      // forever without taking anything.
      if (taken == 0) break;
      continue;
    }
    const int count = fRecordBuffer->GetCount();
    fNetwork->ResetDerivatives();
    fNetwork->ProcessRecords(passStatus, *fRecordBuffer, count, records, false, false);
    fRecordBuffer->Rewind();
    const double e = fNetwork->GetAccumError();
    fNetwork->GetGradient(g);

    d = (w - eta * g) + alpha * a;
    fNetwork->ResetAll();
    fNetwork->SetWeights(d);
    fNetwork->ProcessRecords(passStatus, *fRecordBuffer, count, records, true, false);
    fRecordBuffer->Rewind();
    const double eNew = fNetwork->GetAccumError();

    if (eNew < e && !Halted()) {
      a = d - w;
      w = d;
      changed = true;
    } else {
      fNetwork->ResetAll();
      fNetwork->SetWeights(w);
    }
    fRecordBuffer->Empty();
    ++fNIterations;
  }

  fEndClock = std::clock();
  if (EndHalted(fAlgorithmStatus, status)) return status;
  fAlgorithmStatus = VXNNCommon::kTrained;
  fElapsedTime = SecondsSinceStart();
  SetElapsedTime(fElapsedTime + previousTime);
  fNRecordsProcessed += consumed;
  fRelChangeInErr = fErrorRatio = VXMV::gMissingValue;
  fTrainErrorNew = fTrainErrorPrev = VXMV::gMissingValue;
  fTestErrorNew = fTestErrorPrev = VXMV::gMissingValue;
  return status;
}

// --- one run ---------------------------------------------------------------

void BatchOptimizer::StartRun() {
  fStartClock = std::clock();
  fLimits = ReadRunLimits(*fSettings);
  fReportCounter = 0;
}

double BatchOptimizer::SecondsSinceStart() const { return SecondsSince(fStartClock); }

int BatchOptimizer::AddNewRecords(MultiPassRecordIter& newRecords, int nNew) {
  // Back at the end state of the last run, so that the new records' error
  // and gradient add to the old totals.
  fNetwork->SetAccumError(fAccumError);
  fNetwork->SetGradient(fAccumGradient);
  fAlgorithmStatus = VXNNCommon::kUpdating;
  fStartClock = std::clock();

  VXStatus passStatus;
  int newRead = 0;
  fNetwork->ProcessRecords(passStatus, newRecords, nNew, newRead, false, false);
  CheckSource(newRecords, VXNeural::codes::kTrainSourceNotGood);
  newRecords.Rewind();
  fAccumError = fNetwork->GetAccumError();
  fNetwork->GetGradient(fAccumGradient);
  return newRead;
}

int BatchOptimizer::OldAndNewPass(MultiPassRecordIter& train, MultiPassRecordIter& newRecords,
                                  int nNew) {
  VXStatus passStatus;
  int oldRead = 0;
  int newRead = 0;
  fNetwork->ProcessRecords(passStatus, train, fNRecordsProcessed, oldRead, false, false);
  CheckSource(train, VXNeural::codes::kTrainSourceNotGood);
  train.Rewind();
  fNetwork->ProcessRecords(passStatus, newRecords, nNew, newRead, false, false);
  CheckSource(newRecords, VXNeural::codes::kTrainSourceNotGood);
  newRecords.Rewind();
  ++fNDataPasses;
  return oldRead + newRead;
}

int BatchOptimizer::TrainPass(MultiPassRecordIter& train, int nTrain, bool computeAccuracy) {
  VXStatus passStatus;
  int records = 0;
  fNetwork->ProcessRecords(passStatus, train, nTrain, records, false, computeAccuracy);
  CheckSource(train, VXNeural::codes::kTrainSourceNotGood);
  train.Rewind();
  ++fNDataPasses;
  return records;
}

int BatchOptimizer::TestPass(MultiPassRecordIter& test, int nTest) {
  VXStatus passStatus;
  int records = 0;
  fNetwork->ResetDerivatives();
  fNetwork->ProcessRecords(passStatus, test, nTest, records, true, true);
  CheckSource(test, VXNeural::codes::kTestSourceNotGood);
  test.Rewind();
  return records;
}

bool BatchOptimizer::TestGradientRule() {
  if (!(fLastGradientNorm < fLimits.gradientNormLimit)) return false;
  fStopReason = VXNNCommon::kStoppedSmallGradient;
  fAlgorithmStatus = VXNNCommon::kTrained;
  return true;
}

bool BatchOptimizer::TestRunLimits() {
  fElapsedTime = SecondsSinceStart();
  const VXNNCommon::StopReason reason =
      FirstStopRule(fLimits, fElapsedTime, fNDataPasses, VXMV::gMissingValue, VXMV::gMissingValue,
                    VXMV::gMissingValue);
  if (reason == VXNNCommon::kStoppedUndefined) return false;
  fStopReason = reason;
  fAlgorithmStatus = VXNNCommon::kTrained;
  return true;
}

bool BatchOptimizer::TestStopRules() {
  fElapsedTime = SecondsSinceStart();
  const VXNNCommon::StopReason reason =
      FirstStopRule(fLimits, fElapsedTime, fNDataPasses, fRelChangeInErr, fErrorRatio, fAccuracy);
  if (reason == VXNNCommon::kStoppedUndefined) return false;
  fStopReason = reason;
  fAlgorithmStatus = VXNNCommon::kTrained;
  return true;
}

BatchOptimizer::ProgressValues BatchOptimizer::GetValues() const {
  return {fTrainErrorPrev,   fTestErrorPrev,  fTrainErrorNew, fTestErrorNew,
          fLastGradientNorm, fRelChangeInErr, fErrorRatio,    fAccuracy};
}

void BatchOptimizer::PutValues(const ProgressValues& v) {
  fTrainErrorPrev = v.trainErrorPrev;
  fTestErrorPrev = v.testErrorPrev;
  fTrainErrorNew = v.trainErrorNew;
  fTestErrorNew = v.testErrorNew;
  fLastGradientNorm = v.lastGradientNorm;
  fRelChangeInErr = v.relChangeInErr;
  fErrorRatio = v.errorRatio;
  fAccuracy = v.accuracy;
}

void BatchOptimizer::StartVerifying(BestIterate& best, const std::valarray<double>& w) const {
  best.iteration = 1;
  best.testError = fTestErrorNew;
  best.accumError = fAccumError;
  best.weights = w;
  best.gradient = fAccumGradient;
  best.values = GetValues();
}

bool BatchOptimizer::VerifyIteration(BestIterate& best, MultiPassRecordIter& test, int nTest, int i,
                                     const std::valarray<double>& w) {
  TestPass(test, nTest);
  // A cancelled pass read nothing; its zero error must not pass for a best.
  if (Halted()) return false;
  fTestErrorPrev = fTestErrorNew;
  fTestErrorNew = fNetwork->GetAccumError();
  fAccuracy = fNetwork->GetAccuracy();
  if (fTestErrorNew < best.testError) {
    best.iteration = i;
    best.testError = fTestErrorNew;
    best.accumError = fAccumError;
    best.weights = w;
    best.gradient = fAccumGradient;
    best.values = GetValues();
    return false;
  }
  if (i - best.iteration >= fLimits.maxNStepsTrackError) {
    fStopReason = VXNNCommon::kStoppedVerifyingCycle;
    fAlgorithmStatus = VXNNCommon::kTrained;
    return true;
  }
  return false;
}

bool BatchOptimizer::RestoreBest(const BestIterate& best, int i) {
  if (i == best.iteration || fStopReason == VXNNCommon::kStoppedAccuracy) return false;
  fNetwork->ResetAll();
  fNetwork->SetWeights(best.weights);
  fAccumError = best.accumError;
  fAccumGradient = best.gradient;
  PutValues(best.values);
  return true;
}

void BatchOptimizer::ReportProgress(bool stopped) {
  IOptimizationAlgorithm::ReportProgress(fLimits, fReportCounter, stopped, fStartClock);
}

VXStatus& BatchOptimizer::FinishRun(VXStatus& status) {
  fEndClock = std::clock();
  fElapsedTime = SecondsSinceStart();
  EndHalted(fAlgorithmStatus, status);
  return status;
}

// --- saved forms -----------------------------------------------------------

// The values of a saved optimizer, read and checked before any is adopted.
struct BatchOptimizer::Saved {
  int status = 0;
  int reason = 0;
  double elapsedTime = 0.0;
  int nIterations = 0;
  int nDataPasses = 0;
  int nRecordsProcessed = 0;
  double errors[7] = {};
  std::vector<double> gradient;
  double accumError = 0.0;
  int miniBatchSize = 0;
  std::unique_ptr<RecordBufferIter> buffer;
};

template <typename Writer>
void BatchOptimizer::PutFields(Writer& w) const {
  w.Int(fAlgorithmStatus).Int(fStopReason).Double(fElapsedTime);
  w.Int(fNIterations).Int(fNDataPasses).Int(fNRecordsProcessed);
  for (double v : {fTrainErrorPrev, fTestErrorPrev, fTrainErrorNew, fTestErrorNew,
                   fLastGradientNorm, fRelChangeInErr, fErrorRatio})
    w.Double(v);
  w.Int(static_cast<int>(fAccumGradient.size()));
  w.Doubles(Data(fAccumGradient), fAccumGradient.size());
  w.Double(fAccumError).Int(fMiniBatchSize);
}

namespace {

// Reads the fields both forms share, in their saved order, checking each
// against what a writer could have produced. Reader is BinReader or
// XmlReader; countGradient reads the gradient length with the reader's own
// bound.
template <typename Reader, typename CountGradient, typename Saved>
void GetFields(Reader& r, CountGradient countGradient, const NNetwork* network, Saved& s) {
  s.status = r.Int();
  s.reason = r.Int();
  if (!ValidStatus(s.status) || !ValidReason(s.reason)) r.Fail();
  s.elapsedTime = r.Double();
  s.nIterations = r.Int();
  s.nDataPasses = r.Int();
  s.nRecordsProcessed = r.Int();
  for (double& v : s.errors) v = r.Double();
  const int g = countGradient();
  // The gradient belongs to the network this optimizer trains.
  if (network != nullptr && g != network->GetNumWeights()) r.Fail();
  s.gradient = r.Doubles(g);
  s.accumError = r.Double();
  s.miniBatchSize = r.Int();
  if (s.miniBatchSize < 0) r.Fail();
}

// The width that follows a positive mini-batch size: that of the network's
// encoded records.
template <typename Reader>
int GetBufferWidth(Reader& r, const NNetwork* network) {
  const int width = r.Int();
  if (width < 1) r.Fail();
  if (network != nullptr && width != network->GetNumInputs() + network->GetNumOutputs()) r.Fail();
  return width;
}

}  // namespace

void BatchOptimizer::Adopt(Saved& s) {
  fAlgorithmStatus = static_cast<VXNNCommon::AlgorithmStatus>(s.status);
  fStopReason = static_cast<VXNNCommon::StopReason>(s.reason);
  fElapsedTime = s.elapsedTime;
  fNIterations = s.nIterations;
  fNDataPasses = s.nDataPasses;
  fNRecordsProcessed = s.nRecordsProcessed;
  fTrainErrorPrev = s.errors[0];
  fTestErrorPrev = s.errors[1];
  fTrainErrorNew = s.errors[2];
  fTestErrorNew = s.errors[3];
  fLastGradientNorm = s.errors[4];
  fRelChangeInErr = s.errors[5];
  fErrorRatio = s.errors[6];
  fAccumGradient.resize(s.gradient.size());
  for (std::size_t k = 0; k < s.gradient.size(); ++k) fAccumGradient[k] = s.gradient[k];
  fAccumError = s.accumError;
  fMiniBatchSize = s.miniBatchSize;
  fRecordBuffer = std::move(s.buffer);
}

int BatchOptimizer::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(BinaryTag());
  PutFields(w);
  if (fMiniBatchSize >= 1) {
    w.Int(fRecordBuffer->GetWidth());
    w.Nested(fRecordBuffer->WriteObject(out));
  }
  return w.Bytes();
}

int BatchOptimizer::ReadObject(std::istream& in) {
  BinReader r(in, ClassName());
  r.ExpectTag(BinaryTag());
  Saved s;
  GetFields(
      r, [&r] { return r.Count(VXNeural::detail::kMaxElements, sizeof(double)); }, fNetwork, s);
  if (s.miniBatchSize >= 1) {
    const int width = GetBufferWidth(r, fNetwork);
    // Created empty: the buffer's own reader allocates only the records it
    // finds, whatever capacity the stream claims.
    auto buffer = std::make_unique<RecordBufferIter>(width, 0);
    buffer->Empty();
    r.Nested(buffer->ReadObject(in));
    if (buffer->GetWidth() != width || buffer->GetCapacity() != s.miniBatchSize) r.Fail();
    s.buffer = std::move(buffer);
  }
  Adopt(s);
  return r.Bytes();
}

int BatchOptimizer::WriteObjectXML(std::ostream& out) const {
  XmlWriter w(out, ClassName(), kXmlLevel);
  PutFields(w);
  if (fMiniBatchSize >= 1) {
    w.Int(fRecordBuffer->GetWidth());
    w.Nested(fRecordBuffer->WriteObjectXML(out, kXmlLevel + 1));
  }
  return w.End();
}

int BatchOptimizer::ReadObjectXML(std::istream& in) {
  XmlReader r(in, ClassName(), ClassName());
  Saved s;
  GetFields(
      r, [&r] { return r.Count(VXNeural::detail::kMaxElements); }, fNetwork, s);
  if (s.miniBatchSize >= 1) {
    const int width = GetBufferWidth(r, fNetwork);
    auto buffer = std::make_unique<RecordBufferIter>(width, 0);
    buffer->Empty();
    r.Nested(buffer->ReadObjectXML(in));
    if (buffer->GetWidth() != width || buffer->GetCapacity() != s.miniBatchSize) r.Fail();
    s.buffer = std::move(buffer);
  }
  const int count = r.End();
  Adopt(s);
  return count;
}

void BatchOptimizer::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of " << ClassName() << " display\n";
  out << "IsCanceled() = " << (CancelFlag() ? "true" : "false") << '\n';
  if (fNetwork != nullptr) fNetwork->Display(out);
  ShowValue(out, "Algorithm status = ", VXNNCommon::DisplayText(fAlgorithmStatus));
  ShowValue(out, "Stop Reason = ", VXNNCommon::DisplayText(fStopReason));
  ShowValue(out, "fElapsedTime = ", fElapsedTime);
  ShowValue(out, "fNIterations = ", fNIterations);
  ShowValue(out, "fNDataPasses = ", fNDataPasses);
  ShowValue(out, "fNRecordsProcessed = ", fNRecordsProcessed);
  ShowValue(out, "fTrainErrorPrev = ", fTrainErrorPrev);
  ShowValue(out, "fTestErrorPrev = ", fTestErrorPrev);
  ShowValue(out, "fTrainErrorNew = ", fTrainErrorNew);
  ShowValue(out, "fTestErrorNew = ", fTestErrorNew);
  ShowValue(out, "fLastGradientNorm = ", fLastGradientNorm);
  ShowValue(out, "fRelChangeInErr = ", fRelChangeInErr);
  ShowValue(out, "fErrorRatio = ", fErrorRatio);
  VXNeural::detail::ShowVector(out, "fAccumGradient", fAccumGradient);
  ShowValue(out, "fAccumError = ", fAccumError);
  ShowValue(out, "fMiniBatchSize = ", fMiniBatchSize);
  if (fRecordBuffer && fMiniBatchSize > 0) fRecordBuffer->Display(out);
  out << "End of " << ClassName() << " display\n";
}
