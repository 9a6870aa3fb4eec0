#include "vxneural/optim/GradientDescentMBO.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <numeric>
#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXStatus;
using VXNeural::RecordBufferIter;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {

constexpr const char* kClassName = "GradientDescentMBO";
constexpr const char* kBinaryTag = "GDM";
// Optimizers are nested in the algorithm object (level 0).
constexpr int kXmlLevel = 1;

double Norm(const std::valarray<double>& v) { return std::sqrt((v * v).sum()); }

bool ValidStatus(int v) { return v >= VXNNCommon::kNotStarted && v <= VXNNCommon::kInconsistent; }
bool ValidReason(int v) {
  return v >= VXNNCommon::kStoppedUndefined && v <= VXNNCommon::kStoppedComputed;
}

// The factor by which the learning rate shrinks after every step so that it
// falls from eta0 to etaLow in epochs * (records / capacity) steps. A rate
// that starts at or below etaLow keeps its value. A factor of 0 drops the
// rate to etaLow after the first step: so it is for a schedule of no steps,
// and for a low rate not above 0, where the factor the schedule gives is 0
// (etaLow 0) or has no value (no geometric path leads below 0).
double DecayFactor(double eta0, double etaLow, int records, int capacity, double epochs) {
  if (!(eta0 > etaLow)) return 1.0;
  if (!(etaLow > 0.0)) return 0.0;
  const double steps =
      capacity > 0 ? static_cast<double>(records) / static_cast<double>(capacity) * epochs : 0.0;
  if (!(steps > 0.0)) return 0.0;
  return std::exp(-std::log(eta0 / etaLow) / steps);
}

}  // namespace

// The working state of one training run or update: learning rate and
// momentum, the vectors of a step (allocated once), the order of the online
// block, the epoch bookkeeping and the best epochs' snapshots.
struct GradientDescentMBO::Run {
  RunLimits limits;
  int reportCounter = 0;
  // Train (momentum cap, decay, epochs) or Update.
  bool training = false;
  bool online = false;
  bool hasTest = false;
  // Whether epoch ends measure the training error.
  bool measureTrain = false;

  double eta = 0.0;
  double etaLow = 0.0;
  double decay = 1.0;
  double alpha = 0.0;
  double rho = 0.0;
  std::valarray<double> w, a, d, g;

  // Online mode: the block's record indices in the order they are used, and
  // the next one to use.
  std::vector<int> order;
  int next = 0;
  std::unique_ptr<RecordBufferIter> single;

  int epoch = 0;
  int takenThisEpoch = 0;
  int takenBefore = 0;
  // Whether the last load was the epoch's first.
  bool firstLoad = false;
  bool errorAveragesKnown = false;
  double errorAverages = 0.0;
  Snapshot bestTest;
  Snapshot bestTrain;
};

GradientDescentMBO::GradientDescentMBO(MLPSettings* settings, NNetwork* network, int width,
                                       int capacity, VXRandom* random)
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
      fRelChangeInErr(VXMV::gMissingValue),
      fErrorRatio(VXMV::gMissingValue),
      fAccuracy(VXMV::gMissingValue),
      fRecordBuffer(std::make_unique<RecordBufferIter>(std::max(width, 0), std::max(capacity, 0))),
      fMiniBatchSize(std::max(capacity, 0)),
      fRandom(random),
      fStartClock(std::clock()),
      fEndClock(std::clock()) {}

GradientDescentMBO::~GradientDescentMBO() = default;

// --- steps ------------------------------------------------------------------

void GradientDescentMBO::StartRun(Run& run) {
  const std::size_t n = static_cast<std::size_t>(fNetwork->GetNumWeights());
  run.w.resize(n);
  fNetwork->GetWeights(run.w);
  run.a.resize(n, 0.0);
  run.d.resize(n);
  run.g.resize(n);
  run.single = std::make_unique<RecordBufferIter>(fRecordBuffer->GetWidth(), 1);
}

int GradientDescentMBO::Load(Run& run, RecordIterator& source, int n) {
  fRecordBuffer->Empty();
  const int taken = fRecordBuffer->Fill(source, std::max(n, 0));
  CheckSource(source, VXNeural::codes::kTrainSourceNotGood);
  if (run.online) {
    run.order.resize(static_cast<std::size_t>(fRecordBuffer->GetCount()));
    std::iota(run.order.begin(), run.order.end(), 0);
    if (fRandom != nullptr) fRandom->Shuffle(run.order);
    run.next = 0;
  }
  return taken;
}

RecordBufferIter* GradientDescentMBO::NextGroup(Run& run) {
  const int count = fRecordBuffer->GetCount();
  if (run.online) {
    if (run.next >= count) return nullptr;
    run.single->Empty();
    run.single->Add(fRecordBuffer->GetRecordAt(run.order[static_cast<std::size_t>(run.next++)]));
    return run.single.get();
  }
  // Training data smaller than one mini-batch are stepped on whole, once
  // per epoch, rather than never.
  if (count > 0 && (count >= fMiniBatchSize || (run.training && run.firstLoad)))
    return fRecordBuffer.get();
  return nullptr;
}

bool GradientDescentMBO::Step(Run& run, MultiPassRecordIter& group) {
  VXStatus passStatus;
  int records = 0;
  fNetwork->ResetDerivatives();
  fNetwork->ProcessRecords(passStatus, group, INT_MAX, records, false, false);
  group.Rewind();
  const double e = fNetwork->GetAccumError();
  fNetwork->GetGradient(run.g);

  if (run.training) {
    const double normA = Norm(run.a);
    const double normG = Norm(run.g);
    if (run.alpha * normA > run.eta * normG) run.alpha = (run.eta * normG / normA) * run.rho;
  }
  run.d = (run.w - run.eta * run.g) + run.alpha * run.a;

  fNetwork->ResetAll();
  fNetwork->SetWeights(run.d);
  fNetwork->ProcessRecords(passStatus, group, INT_MAX, records, true, false);
  group.Rewind();
  const double eNew = fNetwork->GetAccumError();

  // A pass cut short by a cancel has a partial, too low error.
  const bool kept = eNew < e && !IsCanceled();
  if (kept) {
    run.a = run.d - run.w;
    run.w = run.d;
  } else {
    fNetwork->ResetAll();
    fNetwork->SetWeights(run.w);
  }
  ++fNIterations;
  if (run.training && run.eta > run.etaLow) {
    run.eta = run.decay > 0.0 ? std::max(run.eta * run.decay, run.etaLow) : run.etaLow;
  }
  return kept;
}

void GradientDescentMBO::ErrorPass(MultiPassRecordIter& source, int n, bool computeAccuracy,
                                   int failureCode) {
  VXStatus passStatus;
  int records = 0;
  fNetwork->ResetDerivatives();
  fNetwork->ProcessRecords(passStatus, source, n, records, true, computeAccuracy);
  CheckSource(source, failureCode);
  source.Rewind();
}

// --- training ---------------------------------------------------------------

GradientDescentMBO::ProgressValues GradientDescentMBO::GetValues() const {
  return {fTrainErrorPrev, fTestErrorPrev, fTrainErrorNew, fTestErrorNew,
          fRelChangeInErr, fErrorRatio,    fAccuracy};
}

void GradientDescentMBO::PutValues(const ProgressValues& v) {
  fTrainErrorPrev = v.trainErrorPrev;
  fTestErrorPrev = v.testErrorPrev;
  fTrainErrorNew = v.trainErrorNew;
  fTestErrorNew = v.testErrorNew;
  fRelChangeInErr = v.relChangeInErr;
  fErrorRatio = v.errorRatio;
  fAccuracy = v.accuracy;
}

void GradientDescentMBO::TakeSnapshot(Snapshot& snapshot, int epoch, double error,
                                      const std::valarray<double>& w) const {
  snapshot.epoch = epoch;
  snapshot.error = error;
  snapshot.weights = w;
  snapshot.values = GetValues();
}

bool GradientDescentMBO::EndEpoch(Run& run, MultiPassRecordIter& train, MultiPassRecordIter* test,
                                  int nTrain, int nTest) {
  train.Rewind();
  ++fNDataPasses;
  ++run.epoch;
  run.takenBefore += run.takenThisEpoch;
  run.takenThisEpoch = 0;
  fNRecordsProcessed = run.takenBefore;

  bool stopped = false;
  bool newBestTrain = false;
  const int maxSteps = run.limits.maxNStepsTrackError;
  if (test != nullptr) {
    ErrorPass(*test, nTest, true, VXNeural::codes::kTestSourceNotGood);
    // A cancelled pass read nothing; its error must not pass for a best.
    if (Halted()) return false;
    fTestErrorPrev = fTestErrorNew;
    fTestErrorNew = fNetwork->GetAccumError();
    fAccuracy = fNetwork->GetAccuracy();
    // A new best is kept at once, with the values of this moment: the
    // training figures are still those of the previous epoch.
    const bool newBestTest = fTestErrorNew < run.bestTest.error;
    if (newBestTest) TakeSnapshot(run.bestTest, run.epoch, fTestErrorNew, run.w);
    if (!newBestTest && run.epoch - run.bestTest.epoch >= maxSteps) {
      stopped = true;
      fStopReason = VXNNCommon::kStoppedVerifyingCycle;
    }
  }
  if (run.measureTrain) {
    const bool first = !run.errorAveragesKnown;
    if (first) fNetwork->SetComputeErrorAverages(true);
    ErrorPass(train, nTrain, !run.hasTest, VXNeural::codes::kTrainSourceNotGood);
    if (first) fNetwork->SetComputeErrorAverages(false);
    if (Halted()) return false;
    ++fNDataPasses;
    if (first) {
      run.errorAverages = fNetwork->GetErrorAverages();
      run.errorAveragesKnown = true;
    }
    fTrainErrorPrev = fTrainErrorNew;
    fTrainErrorNew = fNetwork->GetAccumError();
    if (!run.hasTest) fAccuracy = fNetwork->GetAccuracy();
    fRelChangeInErr = RelativeChange(fTrainErrorPrev, fTrainErrorNew);
    fErrorRatio = ErrorRatio(fTrainErrorNew, run.errorAverages);
    newBestTrain = fTrainErrorNew < run.bestTrain.error;
    if (!newBestTrain && run.epoch - run.bestTrain.epoch >= maxSteps) {
      stopped = true;
      fStopReason = VXNNCommon::kStoppedVerifyingCycle;
    }
  }
  if (newBestTrain) TakeSnapshot(run.bestTrain, run.epoch, fTrainErrorNew, run.w);

  // The time limit is tested even after a verifying-cycle stop, and then
  // names the reason.
  fElapsedTime = SecondsSince(fStartClock);
  if (!stopped || fElapsedTime >= run.limits.maxTime) {
    const double relChange = run.measureTrain ? fRelChangeInErr : VXMV::gMissingValue;
    const double errorRatio = run.measureTrain ? fErrorRatio : VXMV::gMissingValue;
    const VXNNCommon::StopReason reason =
        FirstStopRule(run.limits, fElapsedTime, fNDataPasses, relChange, errorRatio, fAccuracy);
    if (reason != VXNNCommon::kStoppedUndefined) {
      stopped = true;
      fStopReason = reason;
    }
  }
  if (stopped) fAlgorithmStatus = VXNNCommon::kTrained;
  ReportProgress(run.limits, run.reportCounter, stopped, fStartClock);
  return stopped;
}

void GradientDescentMBO::RestoreBest(Run& run) {
  // The earlier of the best test and best training epochs (0: none
  // recorded); on a tie the test snapshot.
  const Snapshot* best = nullptr;
  const int t = run.bestTest.epoch;
  const int r = run.bestTrain.epoch;
  if (t > 0 && (r == 0 || t <= r))
    best = &run.bestTest;
  else if (r > 0)
    best = &run.bestTrain;
  if (best == nullptr || best->epoch == run.epoch) return;
  fNetwork->ResetAll();
  fNetwork->SetWeights(best->weights);
  run.w = best->weights;
  PutValues(best->values);
  ReportProgress(run.limits, run.reportCounter, true, fStartClock);
}

VXStatus GradientDescentMBO::Train(VXStatus& status, MultiPassRecordIter& train,
                                   MultiPassRecordIter* test, int nTrain, int nTest) {
  status = VXStatus();
  fStartClock = std::clock();
  Run run;
  run.limits = ReadRunLimits(*fSettings);
  run.training = true;
  run.online = fSettings->GetTrainType() == VXNNCommon::kOnline;
  run.hasTest = test != nullptr;
  run.measureTrain = !run.hasTest || fSettings->GetCheckTrainErrVerifyingCycle();
  run.eta = fSettings->GetEtaInit();
  run.etaLow = fSettings->GetEtaLow();
  run.alpha = fSettings->GetAlpha();
  run.rho = fSettings->GetAlphaReduction();
  run.decay = DecayFactor(run.eta, run.etaLow, fSettings->GetNTrainRecords(), fMiniBatchSize,
                          fSettings->GetNEpochs());
  StartRun(run);

  fAlgorithmStatus = VXNNCommon::kInProgress;
  fRelChangeInErr = fErrorRatio = VXMV::gMissingValue;
  fNDataPasses = 0;
  fNRecordsProcessed = 0;

  if (test != nullptr) {
    ErrorPass(*test, nTest, true, VXNeural::codes::kTestSourceNotGood);
    fTestErrorNew = fTestErrorPrev = fNetwork->GetAccumError();
    fAccuracy = fNetwork->GetAccuracy();
    run.bestTest.epoch = 1;
  }
  if (run.measureTrain && !Halted()) {
    fNetwork->SetComputeAverages(true);
    ErrorPass(train, nTrain, !run.hasTest, VXNeural::codes::kTrainSourceNotGood);
    fNetwork->SetComputeAverages(false);
    ++fNDataPasses;
    if (!run.hasTest) fAccuracy = fNetwork->GetAccuracy();
    fTrainErrorNew = fTrainErrorPrev = fNetwork->GetAccumError();
    run.bestTrain.epoch = 1;
  }
  if (run.bestTest.epoch > 0) TakeSnapshot(run.bestTest, 1, fTestErrorNew, run.w);
  if (run.bestTrain.epoch > 0) TakeSnapshot(run.bestTrain, 1, fTrainErrorNew, run.w);

  auto refill = [&] {
    run.firstLoad = run.takenThisEpoch == 0;
    run.takenThisEpoch += Load(run, train, nTrain - run.takenThisEpoch);
  };
  bool stopped = false;
  while (!stopped && !Halted()) {
    if (!run.online || run.next >= fRecordBuffer->GetCount()) refill();
    if (GetSourceFailure() != 0) break;
    fElapsedTime = SecondsSince(fStartClock);
    RecordBufferIter* group = fElapsedTime >= run.limits.maxTime ? nullptr : NextGroup(run);
    if (group != nullptr) {
      Step(run, *group);
      continue;
    }
    stopped = EndEpoch(run, train, test, nTrain, nTest);
    if (stopped) {
      RestoreBest(run);
    } else if (!Halted()) {
      // The new epoch's first step follows at once.
      refill();
      group = NextGroup(run);
      if (group != nullptr) Step(run, *group);
    }
  }

  fEndClock = std::clock();
  fElapsedTime = SecondsSince(fStartClock);
  if (!EndHalted(fAlgorithmStatus, status)) fSettings->SetAlpha(run.alpha);
  return status;
}

// --- update -----------------------------------------------------------------

VXStatus GradientDescentMBO::Update(VXStatus& status, MultiPassRecordIter& /*train*/,
                                    MultiPassRecordIter& newRecords, int nNew, bool& changed) {
  status = VXStatus();
  Run run;
  run.online = fSettings->GetUpdateType() == VXNNCommon::kOnline;
  run.eta = fSettings->GetEtaLow();
  run.alpha = fSettings->GetAlpha();
  StartRun(run);

  changed = false;
  const int fill = run.online ? 1 : std::max(1, static_cast<int>(0.25 * fMiniBatchSize + 0.5));
  fAlgorithmStatus = VXNNCommon::kUpdating;
  fNIterations = 0;
  const double previousTime = fElapsedTime;
  fStartClock = std::clock();

  int taken = 0;
  while (!Halted()) {
    if (!run.online || run.next >= fRecordBuffer->GetCount()) {
      taken += Load(run, newRecords, nNew - taken);
      if (fRecordBuffer->GetCount() < fill || GetSourceFailure() != 0) break;
    }
    RecordBufferIter* group = run.online ? NextGroup(run) : fRecordBuffer.get();
    if (Step(run, *group)) changed = true;
    fNRecordsProcessed += group->GetCount();
  }

  fEndClock = std::clock();
  if (!EndHalted(fAlgorithmStatus, status)) fAlgorithmStatus = VXNNCommon::kTrained;
  fElapsedTime = SecondsSince(fStartClock) + previousTime;
  fRelChangeInErr = fErrorRatio = VXMV::gMissingValue;
  fTrainErrorNew = fTrainErrorPrev = VXMV::gMissingValue;
  fTestErrorNew = fTestErrorPrev = VXMV::gMissingValue;

  // The host's record of what the update did to the model.
  fNetwork->GetWeights(run.w);
  {
    VXNeural::detail::DisplayPrecision precision(std::cout);
    std::cout << '\n';
    VXNeural::detail::ShowVector(std::cout,
                                 run.online ? "Network weights after online update"
                                            : "Network weights after mini-batch update",
                                 run.w);
    std::cout << (changed ? "The weights have changed.\n" : "The weights have not changed.\n");
  }
  return status;
}

// --- saved forms ------------------------------------------------------------

// The values of a saved optimizer, read and checked before any is adopted.
struct GradientDescentMBO::Saved {
  int status = 0;
  int reason = 0;
  double elapsedTime = 0.0;
  int nIterations = 0;
  int nDataPasses = 0;
  int nRecordsProcessed = 0;
  double errors[6] = {};
  int miniBatchSize = 0;
  std::unique_ptr<RecordBufferIter> buffer;
};

template <typename Writer>
void GradientDescentMBO::PutFields(Writer& w) const {
  w.Int(fAlgorithmStatus).Int(fStopReason).Double(fElapsedTime);
  w.Int(fNIterations).Int(fNDataPasses).Int(fNRecordsProcessed);
  for (double v : {fTrainErrorPrev, fTestErrorPrev, fTrainErrorNew, fTestErrorNew, fRelChangeInErr,
                   fErrorRatio})
    w.Double(v);
  w.Int(fMiniBatchSize);
}

template <typename Reader, typename ReadBuffer>
void GradientDescentMBO::GetFields(Reader& r, ReadBuffer readBuffer, Saved& s) const {
  s.status = r.Int();
  s.reason = r.Int();
  if (!ValidStatus(s.status) || !ValidReason(s.reason)) r.Fail();
  s.elapsedTime = r.Double();
  s.nIterations = r.Int();
  s.nDataPasses = r.Int();
  s.nRecordsProcessed = r.Int();
  for (double& v : s.errors) v = r.Double();
  s.miniBatchSize = r.Int();
  if (s.miniBatchSize < 0) r.Fail();
  const int networkWidth = fNetwork->GetNumInputs() + fNetwork->GetNumOutputs();
  if (s.miniBatchSize >= 1) {
    // The buffer holds the records of the network this optimizer trains.
    const int width = r.Int();
    if (width != networkWidth) r.Fail();
    // Created empty: the buffer's own reader allocates only the records it
    // finds, whatever capacity the stream claims.
    s.buffer = std::make_unique<RecordBufferIter>(width, 0);
    readBuffer(*s.buffer);
    if (s.buffer->GetWidth() != width || s.buffer->GetCapacity() != s.miniBatchSize) r.Fail();
  } else {
    s.buffer = std::make_unique<RecordBufferIter>(networkWidth, 0);
  }
}

void GradientDescentMBO::Adopt(Saved& s) {
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
  fRelChangeInErr = s.errors[4];
  fErrorRatio = s.errors[5];
  fMiniBatchSize = s.miniBatchSize;
  fRecordBuffer = std::move(s.buffer);
}

int GradientDescentMBO::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kBinaryTag);
  PutFields(w);
  if (fMiniBatchSize >= 1) {
    w.Int(fRecordBuffer->GetWidth());
    w.Nested(fRecordBuffer->WriteObject(out));
  }
  return w.Bytes();
}

int GradientDescentMBO::ReadObject(std::istream& in) {
  BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  Saved s;
  GetFields(
      r, [&](RecordBufferIter& buffer) { r.Nested(buffer.ReadObject(in)); }, s);
  Adopt(s);
  return r.Bytes();
}

int GradientDescentMBO::WriteObjectXML(std::ostream& out) const {
  XmlWriter w(out, kClassName, kXmlLevel);
  PutFields(w);
  if (fMiniBatchSize >= 1) {
    w.Int(fRecordBuffer->GetWidth());
    w.Nested(fRecordBuffer->WriteObjectXML(out, kXmlLevel + 1));
  }
  return w.End();
}

int GradientDescentMBO::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClassName, kClassName);
  Saved s;
  GetFields(
      r, [&](RecordBufferIter& buffer) { r.Nested(buffer.ReadObjectXML(in)); }, s);
  const int count = r.End();
  Adopt(s);
  return count;
}

void GradientDescentMBO::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of GradientDescentMBO display\n";
  out << "IsCanceled() = " << (CancelFlag() ? "true" : "false") << '\n';
  if (fNetwork != nullptr) fNetwork->Display(out);
  ShowValue(out, "Algorithm status = ", VXNNCommon::DisplayText(fAlgorithmStatus));
  ShowValue(out, "Stop Reason = ", VXNNCommon::DisplayText(fStopReason));
  ShowValue(out, "fElapsedTime = ", fElapsedTime);
  ShowValue(out, "fNIterations = ", fNIterations);
  ShowValue(out, "fNDataPasses = ", fNDataPasses);
  ShowValue(out, "fNRecordsProcessed = ", fNRecordsProcessed);
  ShowValue(out, "fTrainErrorPrev = ", fTrainErrorPrev);
  ShowValue(out, "fTrainErrorNew = ", fTrainErrorNew);
  ShowValue(out, "fTestErrorPrev = ", fTestErrorPrev);
  ShowValue(out, "fTestErrorNew = ", fTestErrorNew);
  ShowValue(out, "fRelChangeInErr = ", fRelChangeInErr);
  ShowValue(out, "fErrorRatio = ", fErrorRatio);
  ShowValue(out, "fMiniBatchSize = ", fMiniBatchSize);
  if (fMiniBatchSize > 0) fRecordBuffer->Display(out);
  out << "End of GradientDescentMBO display\n";
}
