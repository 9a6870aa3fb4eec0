#include "vxneural/optim/LinearOutputSolver.h"

#include <algorithm>
#include <cfloat>
#include <istream>
#include <ostream>
#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "data/SourceCheck.h"
#include "network/SharedRun.h"
#include "network/kernels/KernelTable.h"
#include "optim/SolverBlocks.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;

namespace VXNeural {

namespace {

constexpr const char* kBinaryTag = "LRG";
// The solver's object sits inside the algorithm's.
constexpr int kXmlLevel = 1;
constexpr int kRegressionXmlLevel = 2;

double Seconds(std::clock_t from, std::clock_t to) {
  return static_cast<double>(to - from) / CLOCKS_PER_SEC;
}

// Whether a nested regression object follows in the XML stream: the next
// markup opens an object rather than closing the solver's.
bool XmlObjectFollows(std::istream& in) {
  in >> std::ws;
  if (in.peek() != '<') return false;
  in.get();
  const int next = in.peek();
  in.unget();
  return next != '/';
}

}  // namespace

LinearOutputSolver::LinearOutputSolver(const char* className, Regressors regressors,
                                       const NeuralSettings* settings, NNetwork* network)
    : fClassName(className),
      fRegressors(regressors),
      fCancelled(false),
      fSettings(settings),
      fNetwork(network),
      fStatus(VXNNCommon::kNotStarted),
      fStopReason(VXNNCommon::kStoppedUndefined),
      fElapsedTime(0.0),
      fNIterations(0),
      fNDataPasses(0),
      fNRecordsProcessed(0),
      fEstError(VXMV::gMissingValue),
      fStartTicks(std::clock()),
      fEndTicks(fStartTicks),
      fRegression(MakeRegression()) {}

LinearOutputSolver::LinearOutputSolver(const LinearOutputSolver& other)
    : fClassName(other.fClassName),
      fRegressors(other.fRegressors),
      fCancelled(other.fCancelled),
      fSettings(other.fSettings),
      fNetwork(other.fNetwork),
      fStatus(other.fStatus),
      fStopReason(other.fStopReason),
      fElapsedTime(other.fElapsedTime),
      fNIterations(other.fNIterations),
      fNDataPasses(other.fNDataPasses),
      fNRecordsProcessed(other.fNRecordsProcessed),
      fEstError(other.fEstError),
      fStartTicks(other.fStartTicks),
      fEndTicks(other.fEndTicks),
      fRegression(other.fRegression ? std::make_unique<MultiVariateRegression>(*other.fRegression)
                                    : nullptr) {}

LinearOutputSolver& LinearOutputSolver::operator=(const LinearOutputSolver& other) {
  if (this != &other) {
    LinearOutputSolver copy(other);
    std::swap(fRegression, copy.fRegression);
    fClassName = other.fClassName;
    fRegressors = other.fRegressors;
    fCancelled = other.fCancelled;
    fSettings = other.fSettings;
    fNetwork = other.fNetwork;
    fStatus = other.fStatus;
    fStopReason = other.fStopReason;
    fElapsedTime = other.fElapsedTime;
    fNIterations = other.fNIterations;
    fNDataPasses = other.fNDataPasses;
    fNRecordsProcessed = other.fNRecordsProcessed;
    fEstError = other.fEstError;
    fStartTicks = other.fStartTicks;
    fEndTicks = other.fEndTicks;
  }
  return *this;
}

LinearOutputSolver::~LinearOutputSolver() = default;

void LinearOutputSolver::SetNetwork(const NeuralSettings* settings, NNetwork* network) {
  fSettings = settings;
  fNetwork = network;
}

std::unique_ptr<MultiVariateRegression> LinearOutputSolver::MakeRegression() const {
  if (fNetwork == nullptr) return nullptr;
  const INLayer* hidden = fNetwork->GetLayer(1);
  if (fRegressors == kNetworkInputs)
    return std::make_unique<MultiVariateRegression>(fNetwork->GetNumInputs(), true,
                                                    fNetwork->GetNumOutputs());
  if (hidden == nullptr) return nullptr;
  return std::make_unique<MultiVariateRegression>(
      hidden->GetNumUnits(), hidden->GetActivationFunction() == VXNNCommon::kRadialBasis,
      fNetwork->GetNumOutputs());
}

bool LinearOutputSolver::Fits(const MultiVariateRegression& r) const {
  const std::unique_ptr<MultiVariateRegression> wanted = MakeRegression();
  if (!wanted) return false;
  const INLayer* output = fNetwork->GetLayer(fNetwork->GetNumLayers());
  return r.GetNumRegressors() == wanted->GetNumRegressors() &&
         r.HasConstant() == wanted->HasConstant() &&
         r.GetNumDependent() == wanted->GetNumDependent() && output != nullptr &&
         output->GetNumWeights() == r.GetNumRegressors() * r.GetNumDependent();
}

void LinearOutputSolver::ReInitialize() {
  if (fRegression && Fits(*fRegression)) return;
  fRegression = MakeRegression();
  fElapsedTime = 0.0;
  fStatus = VXNNCommon::kNotStarted;
  fStopReason = VXNNCommon::kStoppedUndefined;
  fNIterations = 0;
  fNRecordsProcessed = 0;
  fEstError = VXMV::gMissingValue;
}

bool LinearOutputSolver::IsCanceled() {
  // In a shared training the host is asked at the passes' exchanges only,
  // so that every process stops after the same pass.
  return fCancelled =
             detail::CancelAnswer(fCancelled, fSettings ? fSettings->GetCancelPointer() : nullptr);
}

bool LinearOutputSolver::HostCanceled() const {
  VXCommon_1_2::VXQueryCancel* cancel = fSettings ? fSettings->GetCancelPointer() : nullptr;
  return cancel != nullptr && cancel->QueryCancel();
}

void LinearOutputSolver::StartClock() { fStartTicks = std::clock(); }

double LinearOutputSolver::StopClock() {
  fEndTicks = std::clock();
  fElapsedTime = Seconds(fStartTicks, fEndTicks);
  return fElapsedTime;
}

int LinearOutputSolver::Width() const {
  return fNetwork->GetNumInputs() + fNetwork->GetNumOutputs();
}

double LinearOutputSolver::Accumulate(const double* record, bool predictionError) {
  const int nOut = fNetwork->GetNumOutputs();
  const double* targets = record + fNetwork->GetNumInputs();
  double error = 0.0;
  const double* x = record;
  int nx = fNetwork->GetNumInputs();
  if (fRegressors == kHiddenActivations || predictionError) {
    // Hidden units beyond the centres in use read 0, not a stale value.
    fNetwork->ResetUnitValues();
    fNetwork->ForwardPass(record, predictionError);
  }
  if (fRegressors == kHiddenActivations) {
    const INLayer* hidden = fNetwork->GetLayer(1);
    x = hidden->GetUnitValues();
    nx = hidden->GetNumUnits();
  }
  if (predictionError) {
    const double* o = fNetwork->GetLayer(fNetwork->GetNumLayers())->GetUnitValues();
    for (int t = 0; t < nOut; ++t) {
      const double d = o[t] - targets[t];
      error += d * d;
    }
  }
  fRegression->AddRecord(x, nx, targets, nOut, 1.0);
  return error;
}

void LinearOutputSolver::AddRecord(const double* record) {
  if (fNetwork == nullptr || !fRegression || !Fits(*fRegression)) return;
  Accumulate(record, false);
  ++fNRecordsProcessed;
}

double LinearOutputSolver::ReadRecords(MultiPassRecordIter& source, int limit, bool predictionError,
                                       int& nRead) {
  const int width = Width();
  double error = 0.0;
  nRead = 0;
  // The vector kernels sum the records in blocks on the pass threads; the
  // reference kernel keeps to one record at a time on this thread.
  if (const detail::KernelTable* kernel = detail::ActiveKernelTable()) {
    std::vector<detail::SolverFeed> feed(1);
    feed[0].regression = fRegression.get();
    feed[0].network = fNetwork;
    feed[0].hidden = fRegressors == kHiddenActivations;
    feed[0].predictionError = predictionError;
    int counted = 0;
    nRead = detail::AccumulateBlocks(
        *kernel, feed, source, limit, false, [this] { return IsCanceled(); }, counted,
        [this] { return HostCanceled(); });
    return feed[0].squaredError;
  }
  while (source.IsGood() && nRead < limit && !IsCanceled()) {
    const Record* record = source.Next();
    if (record == nullptr) break;
    if (record->Size() < width) continue;
    error += Accumulate(record->GetAll(), predictionError);
    ++nRead;
  }
  return error;
}

int LinearOutputSolver::AddRecords(const std::vector<LinearOutputSolver*>& solvers,
                                   MultiPassRecordIter& source, int limit,
                                   const std::function<bool()>& stop,
                                   const std::function<bool()>& askHost) {
  // Solvers that could not take a record one by one take none here either.
  std::vector<LinearOutputSolver*> fed;
  for (LinearOutputSolver* s : solvers)
    if (s != nullptr && s->fNetwork != nullptr && s->fRegression && s->Fits(*s->fRegression))
      fed.push_back(s);
  int counted = 0;
  if (fed.empty()) {
    // Nothing to add to, but the records are still read, as a pass for
    // solvers that do not take them would read them.
    while (counted < limit && source.IsGood() && !stop()) {
      if (source.Next() == nullptr) break;
      ++counted;
    }
    return counted;
  }
  const int width = fed[0]->Width();
  if (const detail::KernelTable* kernel = detail::ActiveKernelTable()) {
    std::vector<detail::SolverFeed> feeds(fed.size());
    for (std::size_t i = 0; i < fed.size(); ++i) {
      feeds[i].regression = fed[i]->fRegression.get();
      feeds[i].network = fed[i]->fNetwork;
      feeds[i].hidden = fed[i]->fRegressors == kHiddenActivations;
    }
    const int added =
        detail::AccumulateBlocks(*kernel, feeds, source, limit, true, stop, counted, askHost);
    if (added < 0) return added;
    for (LinearOutputSolver* s : fed) s->fNRecordsProcessed += added;
    return counted;
  }
  while (counted < limit && source.IsGood() && !stop()) {
    const Record* record = source.Next();
    if (record == nullptr) break;
    ++counted;
    if (record->Size() < width) continue;
    for (LinearOutputSolver* s : fed) s->AddRecord(record->GetAll());
  }
  return counted;
}

double LinearOutputSolver::EstimateError() {
  fRegression->EstimateCoefficients(true);
  double sum = 0.0;
  for (int t = 0; t < fRegression->GetNumDependent(); ++t)
    sum += fRegression->GetResidualSumOfSquares(t);
  return 0.5 * sum;
}

void LinearOutputSolver::CopyCoefficients() {
  double* w = fNetwork->GetLayer(fNetwork->GetNumLayers())->GetWeights();
  const int p = fRegression->GetNumRegressors();
  for (int t = 0; t < fRegression->GetNumDependent(); ++t)
    fRegression->GetCoefficients(t, w + static_cast<std::ptrdiff_t>(t) * p);
}

void LinearOutputSolver::StoreError(double error) {
  fNetwork->SetAccumError(error);
  fEstError = error;
}

VXStatus LinearOutputSolver::Cancelled() {
  fStatus = VXNNCommon::kCancelled;
  return VXStatus(1, false);
}

VXStatus LinearOutputSolver::SourceFailure() {
  // The sums hold part of the data: solving them would give weights of a
  // sample nobody chose.
  fStatus = VXNNCommon::kInconsistent;
  return VXStatus(codes::kTrainSourceNotGood, false);
}

VXStatus LinearOutputSolver::Mismatch() { return VXStatus(VXNeural::codes::kNoOptimizer, false); }

VXStatus LinearOutputSolver::TrainPass(MultiPassRecordIter& source, int limit, bool rewindFirst) {
  if (fNetwork == nullptr) return Mismatch();
  if (!fRegression || !Fits(*fRegression)) fRegression = MakeRegression();
  if (!fRegression) return Mismatch();
  if (rewindFirst) source.Rewind();
  fStatus = VXNNCommon::kInProgress;
  StartClock();
  fElapsedTime = 0.0;
  fRegression->Reset();
  int nRead = 0;
  ReadRecords(source, limit, false, nRead);
  const bool failed = detail::SourceFailed(source);
  source.Rewind();
  ++fNDataPasses;
  StopClock();
  if (nRead < 0) {
    // A shared pass whose exchange failed: every process stops here.
    fStatus = VXNNCommon::kInconsistent;
    return VXStatus(-nRead, false);
  }
  fNRecordsProcessed = nRead;
  if (failed && !IsCanceled()) return SourceFailure();
  return SolveAccumulated();
}

VXStatus LinearOutputSolver::Solve() {
  if (fNetwork == nullptr || !fRegression || !Fits(*fRegression)) return Mismatch();
  fStatus = VXNNCommon::kInProgress;
  StartClock();
  // The records were added one by one: their pass ends here.
  ++fNDataPasses;
  return SolveAccumulated();
}

VXStatus LinearOutputSolver::SolveAccumulated() {
  if (IsCanceled()) return Cancelled();
  const double error = EstimateError();
  CopyCoefficients();
  StoreError(error);
  ++fNIterations;
  fStatus = VXNNCommon::kTrained;
  fStopReason = VXNNCommon::kStoppedComputed;
  StopClock();
  // A request noticed after the solve still cancels the run.
  if (IsCanceled()) return Cancelled();
  return VXStatus();
}

VXStatus LinearOutputSolver::Update(MultiPassRecordIter& source, int limit, bool& changed) {
  changed = false;
  if (fNetwork == nullptr || !fRegression || !Fits(*fRegression)) return Mismatch();
  StartClock();
  const double previous = fElapsedTime;
  fStatus = VXNNCommon::kUpdating;
  int nRead = 0;
  const double newError = 0.5 * ReadRecords(source, limit, true, nRead);
  if (nRead < 0) {
    // A shared pass whose exchange failed (an update is not shared today,
    // but the reader's contract allows it): nothing is solved.
    source.Rewind();
    fStatus = VXNNCommon::kInconsistent;
    fElapsedTime = previous + Seconds(fStartTicks, std::clock());
    return VXStatus(-nRead, false);
  }
  // Weights never solved have no known error on the old records: any fit
  // of the data beats them.
  const double oldError = VXMV::IsMissing(fEstError) ? DBL_MAX : fEstError + newError;
  fNRecordsProcessed += nRead;
  ++fNDataPasses;
  const bool failed = detail::SourceFailed(source);
  source.Rewind();
  if (IsCanceled() || failed) {
    fElapsedTime = previous + Seconds(fStartTicks, std::clock());
    return IsCanceled() ? Cancelled() : SourceFailure();
  }
  const double fitted = EstimateError();
  if (oldError <= fitted) {
    StoreError(oldError);
  } else {
    CopyCoefficients();
    StoreError(fitted);
    changed = true;
  }
  fStatus = VXNNCommon::kTrained;
  fElapsedTime = previous + Seconds(fStartTicks, std::clock());
  if (IsCanceled()) return Cancelled();
  return VXStatus();
}

int LinearOutputSolver::WriteObject(std::ostream& out) const {
  detail::BinWriter w(out);
  w.Tag(kBinaryTag).Int(fStatus).Int(fStopReason).Double(fElapsedTime).Int(fNIterations);
  w.Int(fNDataPasses).Int(fNRecordsProcessed).Double(fEstError);
  if (fRegression) w.Nested(fRegression->WriteObject(out));
  return w.Bytes();
}

struct LinearOutputSolver::SavedProgress {
  int status = 0;
  int stopReason = 0;
  double elapsed = 0.0;
  int iterations = 0;
  int passes = 0;
  int records = 0;
  double estError = 0.0;
};

namespace {

template <typename Reader>
LinearOutputSolver::SavedProgress ReadProgress(Reader& r) {
  LinearOutputSolver::SavedProgress s;
  s.status = r.Int();
  s.stopReason = r.Int();
  s.elapsed = r.Double();
  s.iterations = r.Int();
  s.passes = r.Int();
  s.records = r.Int();
  s.estError = r.Double();
  if (s.status < VXNNCommon::kNotStarted || s.status > VXNNCommon::kInconsistent) r.Fail();
  if (s.stopReason < VXNNCommon::kStoppedUndefined || s.stopReason > VXNNCommon::kStoppedComputed)
    r.Fail();
  return s;
}

}  // namespace

void LinearOutputSolver::Adopt(const SavedProgress& s,
                               std::unique_ptr<MultiVariateRegression> regression) {
  fStatus = static_cast<VXNNCommon::AlgorithmStatus>(s.status);
  fStopReason = static_cast<VXNNCommon::StopReason>(s.stopReason);
  fElapsedTime = s.elapsed;
  fNIterations = s.iterations;
  fNDataPasses = s.passes;
  fNRecordsProcessed = s.records;
  fEstError = s.estError;
  fRegression = std::move(regression);
}

int LinearOutputSolver::ReadObject(std::istream& in) {
  detail::BinReader r(in, fClassName);
  r.ExpectTag(kBinaryTag);
  const SavedProgress s = ReadProgress(r);
  std::unique_ptr<MultiVariateRegression> regression;
  // The regression is written only when there is one. A solver made for a
  // network always had one, so its stream must hold it (a stream cut after
  // the progress record is refused); a solver without a network also reads
  // the form of a solver that never had one, where the model may end.
  if (fNetwork != nullptr || in.peek() == 'M') {
    regression = std::make_unique<MultiVariateRegression>();
    r.Nested(regression->ReadObject(in));
    // A regression that does not fit the network would write outside its
    // output weights.
    if (fNetwork != nullptr && !Fits(*regression)) r.Fail();
  }
  Adopt(s, std::move(regression));
  in.clear(in.rdstate() & ~std::ios::eofbit);
  return r.Bytes();
}

int LinearOutputSolver::WriteObjectXML(std::ostream& out) const {
  detail::XmlWriter w(out, fClassName, kXmlLevel);
  w.Int(fStatus).Int(fStopReason).Double(fElapsedTime).Int(fNIterations);
  w.Int(fNDataPasses).Int(fNRecordsProcessed).Double(fEstError);
  if (fRegression) w.Nested(fRegression->WriteObjectXML(out, kRegressionXmlLevel));
  return w.End();
}

int LinearOutputSolver::ReadObjectXML(std::istream& in) {
  detail::XmlReader r(in, fClassName, fClassName);
  const SavedProgress s = ReadProgress(r);
  std::unique_ptr<MultiVariateRegression> regression;
  if (fNetwork != nullptr || XmlObjectFollows(in)) {
    regression = std::make_unique<MultiVariateRegression>();
    r.Nested(regression->ReadObjectXML(in));
    if (fNetwork != nullptr && !Fits(*regression)) r.Fail();
  }
  const int count = r.End();
  Adopt(s, std::move(regression));
  return count;
}

void LinearOutputSolver::Display(std::ostream& out) const {
  detail::DisplayPrecision precision(out);
  out << "\nStart of " << fClassName << " display\n";
  out << "IsCanceled() = " << (fCancelled ? "true" : "false") << '\n';
  out << "Algorithm status = " << VXNNCommon::DisplayText(fStatus) << '\n';
  out << "Stop Reason = " << VXNNCommon::DisplayText(fStopReason) << '\n';
  out << "fElapsedTime = " << fElapsedTime << '\n';
  out << "fNIterations = " << fNIterations << '\n';
  out << "fNDataPasses = " << fNDataPasses << '\n';
  out << "fNRecordsProcessed = " << fNRecordsProcessed << '\n';
  out << "fEstError = " << fEstError << '\n';
  if (fRegression) fRegression->Display(out);
  out << "End of " << fClassName << " display\n";
}

}  // namespace VXNeural
