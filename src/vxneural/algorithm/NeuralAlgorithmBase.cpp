#include "vxneural/algorithm/NeuralAlgorithmBase.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <istream>
#include <ostream>
#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "algorithm/AlgorithmContext.h"
#include "data/SourceCheck.h"
#include "evaluation/EvaluationCodes.h"
#include "evaluation/SharedEvaluation.h"
#include "network/RowScorer.h"
#include "network/SharedRun.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/PMMLExport.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/evaluation/NNSensitivity.h"
#include "vxneural/network/NNStructure.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXApplicInfo4XML;
using VXCommon_1_2::VXStatus;
using VXNNCommon::AlgorithmStatus;
namespace codes = VXNeural::codes;

namespace {

// The values of a saved block before its nested objects: the status the
// algorithm had when the save began, the driver's counters, then the
// elapsed time and the three errors.
struct BlockValues {
  int status = 0;
  std::vector<int> counters;
  double elapsedTime = 0.0;
  double trainingError = 0.0;
  double testingError = 0.0;
  double bic = 0.0;
};

template <typename Reader>
BlockValues ReadValues(Reader& r, std::size_t nCounters) {
  BlockValues v;
  v.status = r.Int();
  v.counters.resize(nCounters);
  for (int& counter : v.counters) counter = r.Int();
  v.elapsedTime = r.Double();
  v.trainingError = r.Double();
  v.testingError = r.Double();
  v.bic = r.Double();
  // A status outside its enumeration can only come from a damaged stream.
  if (v.status < VXNNCommon::kNotStarted || v.status > VXNNCommon::kInconsistent) r.Fail();
  return v;
}

template <typename Writer>
void WriteValues(Writer& w, AlgorithmStatus status, const std::vector<int>& counters,
                 const double (&values)[4]) {
  w.Int(status);
  for (int counter : counters) w.Int(counter);
  for (double value : values) w.Double(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

NeuralAlgorithmBase::NeuralAlgorithmBase(NNDataPreparator* preparator, MultiPassRecordIter* train,
                                         MultiPassRecordIter* test)
    : fDataPreparator(preparator), fTrainData(train), fTestData(test) {}

NeuralAlgorithmBase::~NeuralAlgorithmBase() { DestroyModel(); }

void NeuralAlgorithmBase::DestroyModel() {
  // The drivers destroy their optimizer first: it goes before the network
  // it was built for.
  delete fNetwork;
  fNetwork = nullptr;
  fDataPreparator.reset();
}

void NeuralAlgorithmBase::Construct(const std::valarray<double>* weights) {
  Initialize();
  if (TakePreparatorData()) BuildModel(weights == nullptr, weights);
}

void NeuralAlgorithmBase::ConstructFrom(std::istream& in, bool xml) {
  Initialize();
  Restore(in, xml);
}

void NeuralAlgorithmBase::Initialize() {
  NeuralSettings& settings = MutableSettings();
  fStatus = VXStatus();
  fRandomGenerator = VXRandom(settings.GetRandomSeed(), settings.GetUsePortableRNG());
  fElapsedTime = 0.0;
  fNDataPasses = 0;
  fStopReason = VXNNCommon::kStoppedUndefined;
  fAlgorithmStatus = VXNNCommon::kNotStarted;
  fTrainingError = fTestingError = fTrainingBIC = VXMV::gMissingValue;
  fNHiddenUnits = settings.GetNumHiddenLayers() >= 1 ? settings.GetNumHiddenUnits(1) : 0;
  fCanceled = false;
  // A saved model says by this flag whether a variable list follows the
  // settings, which is exactly whether there is a preparator.
  settings.SetHasVarList(fDataPreparator != nullptr);
  // The variable list carries the category values and labels the
  // predictions are given in; without one only the counts are known.
  if (fDataPreparator) {
    fOutList = NNOutputList(std::as_const(*fDataPreparator).GetVarList());
  } else {
    fOutList = NNOutputList(settings.GetNumOutCategories());
  }
  fInitContext = std::make_unique<InitContext>(this);
  fSaveContext = std::make_unique<SaveContext>(this);
  fFailedRestartContext = std::make_unique<FailedRestartContext>(this);
  fCancelContext = std::make_unique<CancelContext>(this);
  fTrainingContext = std::make_unique<TrainingContext>(this);
  fTrainedContext = std::make_unique<TrainedContext>(this);
  fExpertContext = std::make_unique<ExpertContext>(this);
  fCurrentContext = fInitContext.get();
}

bool NeuralAlgorithmBase::TakePreparatorData() {
  if (fDataPreparator) {
    fTrainData = fDataPreparator->GetTrainData();
    fTestData = fDataPreparator->GetTestData();
  }
  if (fTrainData != nullptr) return true;
  EnterFailedRestart(VXStatus(codes::kNoOptimizer, false));
  return false;
}

void NeuralAlgorithmBase::BuildModel(bool randomize, const std::valarray<double>* weights) {
  fNetwork = CreateNetwork(randomize);
  if (fNetwork != nullptr && weights != nullptr) {
    const int nWeights = fNetwork->GetNumWeights();
    if (static_cast<std::size_t>(nWeights) != weights->size()) {
      VXStatus status(codes::kWeightCountDiffers, false);
      status.SetDiscreteDatum(0, nWeights);
      status.SetDiscreteDatum(
          1, static_cast<int32_t>(std::min<std::size_t>(weights->size(), INT_MAX)));
      delete fNetwork;
      fNetwork = nullptr;
      EnterFailedRestart(status);
      return;
    }
    fNetwork->SetWeights(*weights);
  }
  if (fNetwork == nullptr || !BuildOptimizer()) {
    EnterFailedRestart(VXStatus(codes::kNoOptimizer, false));
  }
}

void NeuralAlgorithmBase::EnterFailedRestart(const VXStatus& status) {
  SetContext(fFailedRestartContext.get(), VXNNCommon::kInconsistent);
  fStatus = status;
}

NNetwork* NeuralAlgorithmBase::CreateNetwork(bool randomize) {
  std::unique_ptr<NNetwork> network;
  try {
    network = std::make_unique<NNetwork>(MutableSettings());
    if (randomize) network->RandomizeWeights(fRandomGenerator);
  } catch (const std::exception&) {
    return nullptr;
  }
  return NetworkFits(*network) ? network.release() : nullptr;
}

bool NeuralAlgorithmBase::NetworkFits(const NNetwork& network) const {
  // Scoring hands the preparator's encoded inputs to the network and its
  // outputs to the output list: the three must agree.
  return network.GetAlgorithmType() == GetAlgorithmType() && network.GetNumLayers() >= 1 &&
         network.GetNumInputs() == GetSettings()->GetNumInputs() &&
         network.GetNumOutputs() == fOutList.GetNUnits() &&
         (!fDataPreparator || fDataPreparator->GetNumInputUnits() == network.GetNumInputs());
}

// ---------------------------------------------------------------------------
// Restore

void NeuralAlgorithmBase::Restore(std::istream& in, bool xml) {
  std::unique_ptr<NNetwork> network;
  bool restored = false;
  BlockValues values;
  const std::size_t nCounters = BlockCounters().size();
  try {
    std::unique_ptr<VXNeural::detail::XmlReader> xmlReader;
    if (xml) {
      xmlReader = std::make_unique<VXNeural::detail::XmlReader>(in, BlockHeader(), ClassName());
      values = ReadValues(*xmlReader, nCounters);
      if (!TakeBlockCounters(values.counters, false)) xmlReader->Fail();
    } else {
      VXNeural::detail::BinReader reader(in, ClassName());
      reader.ExpectTag(BlockHeader());
      values = ReadValues(reader, nCounters);
      if (!TakeBlockCounters(values.counters, false)) reader.Fail();
    }
    VXRandom random = fRandomGenerator;
    if (xml) {
      random.ReadObjectXML(in);
    } else {
      random.ReadObject(in);
    }
    if (xml || in.good()) {
      // An empty network takes its shape from the stream, whose reader
      // bounds every count by what the stream holds; a network built from
      // the settings first would allocate whatever sizes they claim.
      network = std::make_unique<NNetwork>();
      network->SetSettings(&MutableSettings());
      if (xml) {
        network->ReadObjectXML(in);
      } else {
        network->ReadObject(in);
      }
      restored = NetworkFits(*network) && RestoreOptimizer(in, xml, *network);
    }
    if (xmlReader && restored) xmlReader->End();
    fRandomGenerator = random;
  } catch (VXNeural::IOException* e) {
    delete e;
    restored = false;
  }
  if (!restored) {
    DestroyOptimizer();
    EnterFailedRestart(
        VXStatus(xml ? codes::kXMLRestoreFailed : codes::kBinaryRestoreFailed, false));
    return;
  }
  fNetwork = network.release();
  TakeBlockCounters(values.counters, true);
  fElapsedTime = values.elapsedTime;
  fTrainingError = values.trainingError;
  fTestingError = values.testingError;
  fTrainingBIC = values.bic;
  if (values.status == VXNNCommon::kTrained) {
    SetContext(fTrainedContext.get(), VXNNCommon::kTrained);
  } else {
    SetContext(fInitContext.get(), VXNNCommon::kNotStarted);
  }
}

// ---------------------------------------------------------------------------
// State-independent operations

void NeuralAlgorithmBase::SetUISettings(UISettings& settings) { fUISettings = settings; }

void NeuralAlgorithmBase::SetProgressListener(ProgressListener* listener) {
  MutableSettings().SetProgressListener(listener);
}
void NeuralAlgorithmBase::RemoveProgressListener() { MutableSettings().RemoveProgressListener(); }

const NNVarList* NeuralAlgorithmBase::GetVarList() const {
  return fDataPreparator ? &std::as_const(*fDataPreparator).GetVarList() : nullptr;
}

bool NeuralAlgorithmBase::IsCanceled() const {
  // In a shared training the host is asked at the passes' exchanges only,
  // and before one starts by the training itself (HostCanceled), so that
  // every process stops together: a process stopped alone would leave the
  // others waiting at the next exchange. Between a run's trainings it is
  // not asked either, for the same reason.
  if (VXNeural::GetPassCombiner() && !VXNeural::detail::RunCombiner()) return fCanceled;
  return fCanceled = VXNeural::detail::CancelAnswer(fCanceled, GetSettings()->GetCancelPointer());
}

bool NeuralAlgorithmBase::HostCanceled() const {
  VXCommon_1_2::VXQueryCancel* cancel = GetSettings()->GetCancelPointer();
  if (!fCanceled && cancel != nullptr) fCanceled = cancel->QueryCancel();
  return fCanceled;
}

bool NeuralAlgorithmBase::Gated() const { return IsCanceled() || fStatus.IsError(); }

VXStatus NeuralAlgorithmBase::Store(const VXStatus& status) const {
  fStatus = status;
  return fStatus;
}

void NeuralAlgorithmBase::SetContext(AlgorithmContext* context, AlgorithmStatus status) {
  fCurrentContext = context;
  fAlgorithmStatus = status;
}

bool NeuralAlgorithmBase::CheckCancel() {
  if (!IsCanceled()) return false;
  DoCancel();
  return true;
}

void NeuralAlgorithmBase::DoCancel() {
  SetContext(fCancelContext.get(), VXNNCommon::kCancelled);
  fStatus = VXStatus(codes::kCancelled, false);
  DestroyOptimizer();
  delete fNetwork;
  fNetwork = nullptr;
}

void NeuralAlgorithmBase::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of " << ClassName() << " display\n";
  GetSettings()->Display(out);
  VXNeural::detail::ShowValue(
      out, "Current algorithm status: ", VXNNCommon::DisplayText(fAlgorithmStatus));
  out << "fOutList:\n";
  fOutList.Display(out);
  DisplayFields(out);
  out << "Random number generator:\n";
  fRandomGenerator.Display(out);
  out << "The optimizer:\n";
  if (HasOptimizer()) {
    DisplayOptimizer(out);
  } else {
    out << "NULL\n";
  }
  out << "End of " << ClassName() << " display\n";
}

void NeuralAlgorithmBase::DisplayCounters(std::ostream& out, const char* countLabel,
                                          int count) const {
  using VXNeural::detail::ShowValue;
  ShowValue(out, "Stop reason: ", VXNNCommon::DisplayText(fStopReason));
  ShowValue(out, "Number of data passes = ", fNDataPasses);
  ShowValue(out, countLabel, count);
  ShowValue(out, "Number of units in first hidden layer = ", fNHiddenUnits);
  ShowValue(out, "Total elapsed time = ", fElapsedTime);
  ShowValue(out, "Training error ", fTrainingError);
  ShowValue(out, "Testing error ", fTestingError);
}

// ---------------------------------------------------------------------------
// State-dependent operations

VXStatus NeuralAlgorithmBase::Train(int nTrainRecords, int nTestRecords) {
  if (Gated()) return VXStatus();
  return fCurrentContext->Train(nTrainRecords, nTestRecords);
}

std::unique_ptr<MultiPassRecordIter> NeuralAlgorithmBase::Encode(RecordIterator& records, int n,
                                                                 int& written) {
  MultiPassRecordIter* encoded = nullptr;
  written = 0;
  fStatus = fDataPreparator->EncodeToTempFile(records, n, encoded, written);
  return std::unique_ptr<MultiPassRecordIter>(encoded);
}

VXStatus NeuralAlgorithmBase::Update(MultiPassRecordIter& records, int n) {
  if (Gated()) return VXStatus();
  if (!fUISettings.empty()) MutableSettings().SetUISettings(fUISettings);
  VXStatus result;
  if (fDataPreparator) {
    fDataPreparator->SetWeightedCount(n);
    int written = 0;
    // A negative count asks for every record of the source.
    std::unique_ptr<MultiPassRecordIter> encoded = Encode(records, n < 0 ? INT_MAX : n, written);
    // A spill that failed (no file, a full disk, a failing source) answers
    // with its error, as the stored status does.
    result = encoded ? fCurrentContext->Update(*encoded, written) : fStatus;
  } else {
    result = fCurrentContext->Update(records, n);
  }
  records.Rewind();
  return result;
}

double NeuralAlgorithmBase::GetErrorOnData(RecordIterator& records, int nRecords) {
  if (Gated()) return VXMV::gMissingValue;
  // The architecture search measures its own samples, which are encoded.
  if (fDataPreparator && fAlgorithmStatus != VXNNCommon::kExpert) {
    int written = 0;
    std::unique_ptr<MultiPassRecordIter> encoded = Encode(records, nRecords, written);
    if (!encoded) return VXMV::gMissingValue;
    return fCurrentContext->GetErrorOnData(*encoded, written);
  }
  return fCurrentContext->GetErrorOnData(records, nRecords);
}

double NeuralAlgorithmBase::GetAccuracy() const {
  if (Gated() || fNetwork == nullptr) return VXMV::gMissingValue;
  return fNetwork->GetAccuracy() * 100.0;
}

VXStatus NeuralAlgorithmBase::ComputeSensitivity(std::vector<double>& importance) const {
  if (Gated()) return VXStatus();
  // Without a preparator there is no variable list to take the inputs from.
  if (!fDataPreparator) return Store(VXStatus(codes::kNotAvailable, true));
  if (!GetSettings()->GetComputeSensitivity()) return VXStatus();
  const NNVarList& list = std::as_const(*fDataPreparator).GetVarList();
  std::vector<double> mins;
  std::vector<double> maxs;
  list.GetInpContMinMax(mins, maxs);
  return fCurrentContext->ComputeSensitivity(list.GetNumInputVars(), list.GetNInputCats(), true,
                                             mins, maxs, importance);
}

VXStatus NeuralAlgorithmBase::ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                                 bool useGivenRanges,
                                                 const std::vector<double>& mins,
                                                 const std::vector<double>& maxs,
                                                 std::vector<double>& importance) const {
  if (Gated()) return VXStatus();
  std::vector<double> listMins;
  std::vector<double> listMaxs;
  const std::vector<double>* useMins = &mins;
  const std::vector<double>* useMaxs = &maxs;
  if (fDataPreparator) {
    const NNVarList& list = std::as_const(*fDataPreparator).GetVarList();
    if (nInputVars != list.GetNumInputVars() || nInputCats != list.GetNInputCats()) {
      return Store(VXStatus(codes::kSensitivityArgumentsDiffer, false));
    }
    if (!useGivenRanges) {
      list.GetInpContMinMax(listMins, listMaxs);
      useMins = &listMins;
      useMaxs = &listMaxs;
    }
  }
  if (!GetSettings()->GetComputeSensitivity()) return VXStatus();
  // With a preparator the ranges are always known: the list's or the given.
  return fCurrentContext->ComputeSensitivity(nInputVars, nInputCats,
                                             fDataPreparator ? true : useGivenRanges, *useMins,
                                             *useMaxs, importance);
}

VXStatus NeuralAlgorithmBase::ComputeOutputStats(MultiPassRecordIter& records, int nRecords,
                                                 NNOutputStatistics& stats) {
  if (Gated()) return VXStatus();
  if (!fDataPreparator) return fCurrentContext->ComputeOutputStats(records, nRecords, stats);
  // In a shared computation the records are this process's share of the
  // set, all of them encoded, and nRecords bounds the whole set.
  const bool shared = VXNeural::GetPassCombiner() != nullptr;
  int written = 0;
  std::unique_ptr<MultiPassRecordIter> encoded =
      Encode(records, shared ? INT_MAX : nRecords, written);
  records.Rewind();
  if (!encoded && shared && fStatus.GetErrorCode() == VXNeural::codes::kNoRecordWritten) {
    // A share may hold no record: it still takes part in the exchanges.
    encoded = std::make_unique<VXNeural::RecordBufferIter>(fDataPreparator->GetRecordWidth(), 0);
    fStatus = VXStatus();
  }
  if (!encoded) {
    // The other processes wait for this one at the exchange of the counts:
    // it comes, with its failure, and all of them answer with it.
    if (shared && fNetwork)
      return Store(VXNeural::detail::RefuseSharedOutputStats(*fNetwork, fStatus));
    return fStatus;
  }
  return fCurrentContext->ComputeOutputStats(*encoded, shared ? nRecords : written, stats);
}

const Record* NeuralAlgorithmBase::NetworkInputs(const Record& in, VXStatus& status) const {
  if (fDataPreparator) {
    status = fDataPreparator->EncodeInputs(in, fEncoded);
    return status.IsOK() ? &fEncoded : nullptr;
  }
  // Already encoded: a record without all the inputs cannot be scored.
  status =
      in.Size() >= fNetwork->GetNumInputs() ? VXStatus() : VXStatus(codes::kMissingInput, false);
  return status.IsOK() ? &in : nullptr;
}

const NNOutputList& NeuralAlgorithmBase::Score(const Record& in) {
  if (IsCanceled() || fNetwork == nullptr) {
    fOutList.SetMissing();
    return fOutList;
  }
  const Record* inputs = NetworkInputs(in, fStatus);
  if (inputs == nullptr) {
    fOutList.SetMissing();
    return fOutList;
  }
  fOutUnits.resize(static_cast<std::size_t>(fNetwork->GetNumOutputs()));
  fNetwork->Score(fStatus, inputs->GetAll(), fOutUnits.data());
  fOutList.SetOutputs(fOutUnits.data());
  return fOutList;
}

VXStatus NeuralAlgorithmBase::Score(const Record& in, Record& out) const {
  if (Gated()) return fStatus;
  if (fNetwork == nullptr) return VXStatus(codes::kNotAvailable, true);
  VXStatus status;
  const Record* inputs = NetworkInputs(in, status);
  if (inputs == nullptr) return status;
  out.Resize(fNetwork->GetNumOutputs());
  fNetwork->Score(status, inputs->GetAll(), out.GetAll());
  return status;
}

VXStatus NeuralAlgorithmBase::ScoreRows(const double* in, int n, int inStride, double* out,
                                        int outStride) const {
  using VXNeural::detail::RowScorer;
  if (n < 0 || (n > 0 && in == nullptr)) return VXStatus(codes::kInputCountDiffers, false);
  if (n > 0 && out == nullptr) return VXStatus(codes::kOutputCategoriesDiffer, false);
  const int width = fDataPreparator ? std::as_const(*fDataPreparator).GetVarList().GetNumInputVars()
                                    : (fNetwork ? fNetwork->GetNumInputs() : 0);
  const int outputs = fNetwork ? std::max(fNetwork->GetNumOutputs(), 0) : 0;
  if (inStride < 0 || inStride < width) return VXStatus(codes::kInputCountDiffers, false);
  if (outStride < 0 || outStride < outputs) return VXStatus(codes::kOutputCategoriesDiffer, false);
  auto outRow = [&](int i) { return out + static_cast<std::ptrdiff_t>(i) * outStride; };
  auto missing = [&](int i) { std::fill_n(outRow(i), outputs, VXMV::gMissingValue); };
  // Refused as the one-record Score refuses, but never with an OK status
  // beside outputs that are all missing: a cancel the stored status has
  // not yet recorded answers code 1.
  const bool gated = Gated();
  if (gated || fNetwork == nullptr) {
    for (int i = 0; i < n; ++i) missing(i);
    if (!gated) return VXStatus(codes::kNotAvailable, true);
    return fStatus.IsError() ? fStatus : VXStatus(codes::kCancelled, false);
  }
  if (n == 0) return VXStatus();
  // Everything written below is the call's own: the encoded block, the
  // scorer's packed weights and unit values. The network and the
  // preparator are only read.
  RowScorer scorer(*fNetwork);
  const int units = fNetwork->GetNumInputs();
  std::vector<double> encoded(fDataPreparator ? static_cast<std::size_t>(RowScorer::kBlock) * units
                                              : 0);
  const double* rows[RowScorer::kBlock];
  double* outRows[RowScorer::kBlock];
  VXStatus first;
  for (int start = 0; start < n; start += RowScorer::kBlock) {
    const int end = std::min(n, start + RowScorer::kBlock);
    int filled = 0;
    for (int i = start; i < end; ++i) {
      const double* record = in + static_cast<std::ptrdiff_t>(i) * inStride;
      if (fDataPreparator) {
        double* encodedRow = &encoded[static_cast<std::size_t>(filled) * units];
        const VXStatus status = fDataPreparator->EncodeInputs(record, width, encodedRow);
        if (!status.IsOK()) {
          missing(i);
          if (first.IsOK()) first = status;
          continue;
        }
        record = encodedRow;
      }
      rows[filled] = record;
      outRows[filled++] = outRow(i);
    }
    scorer.Score(rows, filled, outRows);
  }
  return first;
}

VXStatus NeuralAlgorithmBase::ExportModelXML(std::ostream& out, int flags,
                                             const VXApplicInfo4XML* info) const {
  return fCurrentContext->ExportModelXML(out, flags, info);
}

VXStatus NeuralAlgorithmBase::ExportModelStatXML(std::ostream& out, int flags,
                                                 const VXApplicInfo4XML* info) const {
  return fCurrentContext->ExportModelStatXML(out, flags, info);
}

NNStructure* NeuralAlgorithmBase::GetStructure() const {
  // A refusing state still gets its (empty) wrapper, so that the host can
  // ask IsEmpty instead of testing for null.
  return new NNStructure(fCurrentContext->GetStructure());
}

VXStatus NeuralAlgorithmBase::SaveState(std::ostream& out) const {
  return fCurrentContext->SaveState(out);
}

VXStatus NeuralAlgorithmBase::SaveStateXML(std::ostream& out) const {
  return fCurrentContext->SaveStateXML(out);
}

VXStatus NeuralAlgorithmBase::SelectArchitecture() { return fCurrentContext->SelectArchitecture(); }

// ---------------------------------------------------------------------------
// The work every driver's states share

double NeuralAlgorithmBase::RunErrorPass(RecordIterator& records, int n, bool computeAccuracy) {
  if (fNetwork == nullptr || CheckCancel()) return VXMV::gMissingValue;
  fNetwork->ResetDerivatives();
  VXStatus status;
  int processed = 0;
  fNetwork->ProcessRecords(status, records, n, processed, true, computeAccuracy);
  Store(status);
  // The error of part of the records would pass for the whole: a source
  // that failed half way answers with no error and the source's code.
  if (status.IsOK() && !IsCanceled() && VXNeural::detail::SourceFailed(records)) {
    Store(VXStatus(codes::kTrainSourceNotGood, false));
    return VXMV::gMissingValue;
  }
  // A cancel seen during the pass ends the algorithm, but the caller still
  // gets the sum of the records the pass did process.
  const double error = fNetwork->GetAccumError();
  CheckCancel();
  return error;
}

VXStatus NeuralAlgorithmBase::RunOutputStats(MultiPassRecordIter& records, int n,
                                             NNOutputStatistics& stats) {
  if (fNetwork == nullptr || CheckCancel()) return fStatus;
  // Shared: a cancel comes from the exchanges, on every process at once.
  VXNeural::detail::SharedRunScope run;
  Store(VXNeural::ComputeOutputStats(*fNetwork, records, n, stats));
  CheckCancel();
  return fStatus;
}

VXStatus NeuralAlgorithmBase::RunSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                             bool useGivenRanges, const std::vector<double>& mins,
                                             const std::vector<double>& maxs,
                                             std::vector<double>& importance) {
  if (fNetwork == nullptr || fTrainData == nullptr || CheckCancel()) return fStatus;
  // Busy while the probes run: a listener calling back is refused. The
  // algorithm status stays Trained.
  AlgorithmContext* previous = fCurrentContext;
  fCurrentContext = fTrainingContext.get();
  // Shared: a cancel comes from the exchanges, on every process at once.
  VXNeural::detail::SharedRunScope run;
  const NeuralSettings& settings = *GetSettings();
  const VXStatus status = VXNeural::ComputeSensitivity(
      *fNetwork, *fTrainData, fTestData, settings.GetNTrainRecords(), settings.GetNTestRecords(),
      nInputVars, nInputCats, useGivenRanges, mins, maxs, importance);
  fCurrentContext = previous;
  Store(status);
  CheckCancel();
  return fStatus;
}

// ---------------------------------------------------------------------------
// Exporting

VXStatus NeuralAlgorithmBase::DoExport(std::ostream& out, const VXApplicInfo4XML* info,
                                       bool statistics) {
  if (fNetwork == nullptr) return fStatus;
  const NeuralSettings& settings = *GetSettings();
  const NNVarList* vars = GetVarList();
  if (!statistics && vars != nullptr && settings.GetComputeSensitivity()) {
    // The host's own entry, gate included: after a stored error or a cancel
    // no pass runs and the stored status stays for the host to read.
    std::vector<double> importance;
    const VXStatus computed = ComputeSensitivity(importance);
    // A cancel noticed during the pass has ended the algorithm already.
    if (fNetwork == nullptr) return fStatus;
    // A pass that failed leaves partial sums: the document goes without
    // importance rather than not at all.
    if (!computed.IsError()) fNetwork->SetImportance(importance);
  }
  // The network learns the stop reason when the PMML document is built; the
  // statistics document names the one the network holds, so before any PMML
  // export that is the network's own (undefined) reason.
  if (!statistics) fNetwork->SetStopReason(fStopReason);
  const VXNeural::detail::ExportSource source{fNetwork, &settings, vars, info};
  // The whole tree is built before anything is written, so a model that
  // cannot give its document leaves the stream untouched.
  const std::unique_ptr<VXXML_1_2::XMLElement> root(
      statistics ? VXNeural::detail::BuildStatDocument(source)
                 : VXNeural::detail::BuildPMMLDocument(source));
  if (root) VXXML_1_2::WriteTree(out, nullptr, *root, true);
  // Like every operation that did work, the export ends by asking whether
  // the host has cancelled.
  CheckCancel();
  return fStatus;
}

// ---------------------------------------------------------------------------
// Saving

VXStatus NeuralAlgorithmBase::DoSave(std::ostream& out) { return Save(out, false); }

VXStatus NeuralAlgorithmBase::DoSaveXML(std::ostream& out) { return Save(out, true); }

VXStatus NeuralAlgorithmBase::Save(std::ostream& out, bool xml) {
  if (fNetwork == nullptr || !HasOptimizer()) return Store(VXStatus(codes::kCannotSave, true));
  AlgorithmContext* const context = fCurrentContext;
  const AlgorithmStatus status = fAlgorithmStatus;
  SetContext(fSaveContext.get(), VXNNCommon::kSaving);
  const NeuralSettings& settings = *GetSettings();
  if (xml) {
    const std::unique_ptr<VXXML_1_2::XMLDocType> docType(
        VXXML_1_2::XMLDocType::Create(VXXML_1_2::kRootName, "savexml.dtd", 0));
    docType->Write(out, VXXML_1_2::ExportFormat());
    VXXML_1_2::StartRoot(out, SavedModelNotice());
    settings.WriteObjectXML(out);
    if (fDataPreparator) std::as_const(*fDataPreparator).GetVarList().WriteObjectXML(out, 1);
    WriteBlock(out, status, true);
    VXXML_1_2::EndRoot(out);
  } else {
    settings.WriteObject(out);
    if (fDataPreparator) std::as_const(*fDataPreparator).GetVarList().WriteObject(out);
    WriteBlock(out, status, false);
  }
  SetContext(context, status);
  Store(out.good() ? VXStatus() : VXStatus(codes::kStreamNotGood, true));
  CheckCancel();
  return fStatus;
}

void NeuralAlgorithmBase::WriteBlock(std::ostream& out, AlgorithmStatus savedStatus,
                                     bool xml) const {
  const double values[4] = {fElapsedTime, fTrainingError, fTestingError, fTrainingBIC};
  if (xml) {
    VXNeural::detail::XmlWriter w(out, BlockHeader(), 0);
    WriteValues(w, savedStatus, BlockCounters(), values);
    w.Nested(fRandomGenerator.WriteObjectXML(out, 1));
    w.Nested(fNetwork->WriteObjectXML(out));
    w.Nested(WriteOptimizer(out, true));
    w.End();
  } else {
    VXNeural::detail::BinWriter w(out);
    w.Tag(BlockHeader());
    WriteValues(w, savedStatus, BlockCounters(), values);
    fRandomGenerator.WriteObject(out);
    fNetwork->WriteObject(out);
    WriteOptimizer(out, false);
  }
}
