#include "vxneural/algorithm/MLPAlgorithm.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <exception>
#include <istream>
#include <ostream>
#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "algorithm/MLPContext.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/algorithm/MLPInitializer.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/evaluation/NNSensitivity.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/ScaledConjGrad.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXApplicInfo4XML;
using VXCommon_1_2::VXStatus;
using VXNNCommon::AlgorithmStatus;
namespace codes = VXNeural::codes;

namespace {

constexpr const char* kBlockHeader = "MLPAlgorithm 1.00";
constexpr const char* kClassName = "MLPAlgorithm";

double SecondsSince(std::clock_t start) {
  const double milliseconds = static_cast<double>(std::clock() - start) * 1000.0 / CLOCKS_PER_SEC;
  return milliseconds / 1000.0;
}

// The values of the algorithm block before its nested objects.
struct BlockValues {
  int status = 0;
  bool reinitialize = false;
  int stopReason = 0;
  int dataPasses = 0;
  int iterations = 0;
  int hiddenUnits = 0;
  double elapsedTime = 0.0;
  double trainingError = 0.0;
  double testingError = 0.0;
  double bic = 0.0;
};

// An enumeration value or a counter outside its range can only come from a
// damaged stream.
template <typename Reader>
BlockValues ReadValues(Reader& r) {
  BlockValues v;
  v.status = r.Int();
  v.reinitialize = r.Int() == 1;
  v.stopReason = r.Int();
  v.dataPasses = r.Int();
  v.iterations = r.Int();
  v.hiddenUnits = r.Int();
  v.elapsedTime = r.Double();
  v.trainingError = r.Double();
  v.testingError = r.Double();
  v.bic = r.Double();
  const bool valid = v.status >= VXNNCommon::kNotStarted && v.status <= VXNNCommon::kInconsistent &&
                     v.stopReason >= VXNNCommon::kStoppedUndefined &&
                     v.stopReason <= VXNNCommon::kStoppedComputed && v.dataPasses >= 0 &&
                     v.iterations >= 0 && v.hiddenUnits >= 0;
  if (!valid) r.Fail();
  return v;
}

}  // namespace

class MLPAlgorithm::InitializerHooks : public MLPInitializer::Hooks {
 public:
  explicit InitializerHooks(MLPAlgorithm& algorithm) : fAlgorithm(algorithm) {}

  MLPInitializer::Parts Parts() {
    MLPAlgorithm& a = fAlgorithm;
    return MLPInitializer::Parts{
        a.fSettings,    a.fNetwork,       a.fOptimizer,   a.fRandomGenerator,
        a.fTrainData,   a.fTestData,      a.fStatus,      a.fReinitializeWeights,
        a.fStopReason,  a.fNDataPasses,   a.fNIterations, a.fNHiddenUnits,
        a.fElapsedTime, a.fTrainingError, a.fTestingError};
  }

  bool IsCanceled() override { return fAlgorithm.IsCanceled(); }
  NNetwork* CreateNetwork(bool randomize) override { return fAlgorithm.CreateNetwork(randomize); }
  IOptimizationAlgorithm* CreateOptimizer(NNetwork* network) override {
    return fAlgorithm.CreateOptimizer(network);
  }
  void EnterExpertState() override {
    fAlgorithm.SetContext(fAlgorithm.fExpertContext.get(), VXNNCommon::kExpert);
  }
  void LeaveExpertState() override {
    fAlgorithm.SetContext(fAlgorithm.fInitContext.get(), VXNNCommon::kNotStarted);
  }
  void DoCancel() override { fAlgorithm.DoCancel(); }
  void ReportExpertProgress(ProgressListener& listener) override {
    MLPExpertReporter report(&fAlgorithm);
    listener.Report(report);
  }

 private:
  MLPAlgorithm& fAlgorithm;
};

// ---------------------------------------------------------------------------
// Construction and destruction

MLPAlgorithm::MLPAlgorithm(const MLPSettings& settings, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : fSettings(settings), fTrainData(&train), fTestData(test) {
  Initialize();
  BuildModel(true, nullptr);
}

MLPAlgorithm::MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator)
    : fSettings(settings), fDataPreparator(preparator) {
  Initialize();
  if (TakePreparatorData()) BuildModel(true, nullptr);
}

MLPAlgorithm::MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator,
                           const std::valarray<double>& weights)
    : fSettings(settings), fDataPreparator(preparator) {
  Initialize();
  if (TakePreparatorData()) BuildModel(false, &weights);
}

MLPAlgorithm::MLPAlgorithm(std::istream& in, const MLPSettings& settings,
                           NNDataPreparator* preparator, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : fSettings(settings), fDataPreparator(preparator), fTrainData(&train), fTestData(test) {
  Initialize();
  Restore(in, false);
}

MLPAlgorithm::MLPAlgorithm(XMLStream, std::istream& in, const MLPSettings& settings,
                           NNDataPreparator* preparator, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : fSettings(settings), fDataPreparator(preparator), fTrainData(&train), fTestData(test) {
  Initialize();
  Restore(in, true);
}

MLPAlgorithm::~MLPAlgorithm() {
  // The optimizer goes before the network it was built for.
  delete fOptimizer;
  delete fNetwork;
  fDataPreparator.reset();
  fInitContext.reset();
  fSaveContext.reset();
  fFailedRestartContext.reset();
  fCancelContext.reset();
  fTrainingContext.reset();
  fTrainedContext.reset();
  fExpertContext.reset();
}

void MLPAlgorithm::Initialize() {
  fStatus = VXStatus();
  fRandomGenerator = VXRandom(fSettings.GetRandomSeed(), fSettings.GetUsePortableRNG());
  fElapsedTime = 0.0;
  fNDataPasses = 0;
  fNIterations = 0;
  fStopReason = VXNNCommon::kStoppedUndefined;
  fAlgorithmStatus = VXNNCommon::kNotStarted;
  fTrainingError = fTestingError = fTrainingBIC = VXMV::gMissingValue;
  fNHiddenUnits = fSettings.GetNumHiddenLayers() >= 1 ? fSettings.GetNumHiddenUnits(1) : 0;
  fCanceled = false;
  // A saved model says by this flag whether a variable list follows the
  // settings, which is exactly whether there is a preparator.
  fSettings.SetHasVarList(fDataPreparator != nullptr);
  if (fDataPreparator) {
    fOutList = NNOutputList(fDataPreparator->GetVarList());
  } else {
    fOutList = NNOutputList(fSettings.GetNumOutCategories());
  }
  fInitContext = std::make_unique<MLPInitContext>(this);
  fSaveContext = std::make_unique<MLPSaveContext>(this);
  fFailedRestartContext = std::make_unique<MLPFailedRestartContext>(this);
  fCancelContext = std::make_unique<MLPCancelContext>(this);
  fTrainingContext = std::make_unique<MLPTrainingContext>(this);
  fTrainedContext = std::make_unique<MLPTrainedContext>(this);
  fExpertContext = std::make_unique<MLPExpertContext>(this);
  fCurrentContext = fInitContext.get();
}

bool MLPAlgorithm::TakePreparatorData() {
  if (fDataPreparator) {
    fTrainData = fDataPreparator->GetTrainData();
    fTestData = fDataPreparator->GetTestData();
  }
  if (fTrainData != nullptr) return true;
  EnterFailedRestart(VXStatus(codes::kNoOptimizer, false));
  return false;
}

void MLPAlgorithm::BuildModel(bool randomize, const std::valarray<double>* weights) {
  fReinitializeWeights = weights == nullptr;
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
  if (fNetwork != nullptr) fOptimizer = CreateOptimizer(fNetwork);
  if (fOptimizer == nullptr) EnterFailedRestart(VXStatus(codes::kNoOptimizer, false));
}

void MLPAlgorithm::EnterFailedRestart(const VXStatus& status) {
  SetContext(fFailedRestartContext.get(), VXNNCommon::kInconsistent);
  fStatus = status;
}

NNetwork* MLPAlgorithm::CreateNetwork(bool randomize) {
  std::unique_ptr<NNetwork> network;
  try {
    network = std::make_unique<NNetwork>(fSettings);
    if (randomize) network->RandomizeWeights(fRandomGenerator);
  } catch (const std::exception&) {
    return nullptr;
  }
  return NetworkFits(*network) ? network.release() : nullptr;
}

bool MLPAlgorithm::NetworkFits(const NNetwork& network) const {
  // Scoring hands the preparator's encoded inputs to the network and its
  // outputs to the output list: the three must agree.
  return network.GetAlgorithmType() == VXNNCommon::kMLP && network.GetNumLayers() >= 1 &&
         network.GetNumInputs() == fSettings.GetNumInputs() &&
         network.GetNumOutputs() == fOutList.GetNUnits() &&
         (!fDataPreparator || fDataPreparator->GetNumInputUnits() == network.GetNumInputs());
}

IOptimizationAlgorithm* MLPAlgorithm::CreateOptimizer(NNetwork* network) {
  if (network == nullptr) return nullptr;
  const int width = network->GetNumInputs() + network->GetNumOutputs();
  try {
    switch (fSettings.GetTrainingMethod()) {
      case VXNNCommon::kScaledConjugateGradient:
        if (fSettings.GetTrainType() == VXNNCommon::kBatch) {
          return new ScaledConjGrad(&fSettings, network);
        }
        return nullptr;
      case VXNNCommon::kGradientDescent:
        switch (fSettings.GetTrainType()) {
          case VXNNCommon::kBatch:
            return new GradientDescentBatch(&fSettings, network);
          case VXNNCommon::kMiniBatch:
            return new GradientDescentMBO(&fSettings, network, width,
                                          std::max(1, fSettings.GetMiniBatchSize()),
                                          &fRandomGenerator);
          case VXNNCommon::kOnline: {
            const long block =
                std::min<long>(fSettings.GetMaxRecordsInMemory(), fSettings.GetNTrainRecords());
            return new GradientDescentMBO(&fSettings, network, width,
                                          static_cast<int>(std::clamp<long>(block, 0, INT_MAX)),
                                          &fRandomGenerator);
          }
        }
        return nullptr;
      case VXNNCommon::kLinearRegression:
        // Least squares solves the output weights only when they are the
        // whole model: outputs straight on the inputs, without activation.
        if (fSettings.GetNumHiddenLayers() == 0 &&
            fSettings.GetActivFnOutputLayer() == VXNNCommon::kIdentity)
          return new LinearRegr(&fSettings, network);
        return nullptr;
      default:
        return nullptr;
    }
  } catch (const std::exception&) {
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Restore

void MLPAlgorithm::Restore(std::istream& in, bool xml) {
  std::unique_ptr<NNetwork> network;
  std::unique_ptr<IOptimizationAlgorithm> optimizer;
  BlockValues values;
  try {
    std::unique_ptr<VXNeural::detail::XmlReader> xmlReader;
    if (xml) {
      xmlReader = std::make_unique<VXNeural::detail::XmlReader>(in, kBlockHeader, kClassName);
      values = ReadValues(*xmlReader);
    } else {
      VXNeural::detail::BinReader reader(in, kClassName);
      reader.ExpectTag(kBlockHeader);
      values = ReadValues(reader);
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
      network->SetSettings(&fSettings);
      if (xml) {
        network->ReadObjectXML(in);
      } else {
        network->ReadObject(in);
      }
      if (NetworkFits(*network)) optimizer.reset(CreateOptimizer(network.get()));
      if (optimizer) {
        if (xml) {
          optimizer->ReadObjectXML(in);
        } else {
          optimizer->ReadObject(in);
        }
      }
    }
    if (xmlReader && optimizer) xmlReader->End();
    fRandomGenerator = random;
  } catch (VXNeural::IOException* e) {
    delete e;
    optimizer.reset();
  }
  if (!optimizer) {
    EnterFailedRestart(
        VXStatus(xml ? codes::kXMLRestoreFailed : codes::kBinaryRestoreFailed, false));
    return;
  }
  fNetwork = network.release();
  fOptimizer = optimizer.release();
  fReinitializeWeights = values.reinitialize;
  fStopReason = static_cast<VXNNCommon::StopReason>(values.stopReason);
  fNDataPasses = values.dataPasses;
  fNIterations = values.iterations;
  fNHiddenUnits = values.hiddenUnits;
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

void MLPAlgorithm::SetUISettings(UISettings& settings) { fUISettings = settings; }

std::string MLPAlgorithm::GetComponentVersion() const {
  return "vxneural multi-layer perceptron component, version 1.0";
}

void MLPAlgorithm::SetProgressListener(ProgressListener* listener) {
  fSettings.SetProgressListener(listener);
}
void MLPAlgorithm::RemoveProgressListener() { fSettings.RemoveProgressListener(); }
void MLPAlgorithm::SetStopRules(INNStopRules* rules) { fSettings.SetStopRules(rules); }
INNStopRules* MLPAlgorithm::GetStopRules() { return fSettings.GetStopRules(); }

const NNVarList* MLPAlgorithm::GetVarList() const {
  return fDataPreparator ? &fDataPreparator->GetVarList() : nullptr;
}

bool MLPAlgorithm::IsCanceled() const {
  if (!fCanceled && fSettings.GetCancelPointer() != nullptr) {
    fCanceled = fSettings.GetCancelPointer()->QueryCancel();
  }
  return fCanceled;
}

bool MLPAlgorithm::Gated() const { return IsCanceled() || fStatus.IsError(); }

VXStatus MLPAlgorithm::Store(const VXStatus& status) const {
  fStatus = status;
  return fStatus;
}

void MLPAlgorithm::SetContext(MLPContext* context, AlgorithmStatus status) {
  fCurrentContext = context;
  fAlgorithmStatus = status;
}

bool MLPAlgorithm::CheckCancel() {
  if (!IsCanceled()) return false;
  DoCancel();
  return true;
}

void MLPAlgorithm::DoCancel() {
  SetContext(fCancelContext.get(), VXNNCommon::kCancelled);
  fStatus = VXStatus(codes::kCancelled, false);
  delete fOptimizer;
  fOptimizer = nullptr;
  delete fNetwork;
  fNetwork = nullptr;
}

void MLPAlgorithm::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of MLPAlgorithm display\n";
  fSettings.Display(out);
  ShowValue(out, "Current algorithm status: ", VXNNCommon::DisplayText(fAlgorithmStatus));
  out << "fOutList:\n";
  fOutList.Display(out);
  ShowValue(out, "Re-initialize weights flag = ", fReinitializeWeights ? "true" : "false");
  ShowValue(out, "Stop reason: ", VXNNCommon::DisplayText(fStopReason));
  ShowValue(out, "Number of data passes = ", fNDataPasses);
  ShowValue(out, "Number of iterations = ", fNIterations);
  ShowValue(out, "Number of units in first hidden layer = ", fNHiddenUnits);
  ShowValue(out, "Total elapsed time = ", fElapsedTime);
  ShowValue(out, "Training error ", fTrainingError);
  ShowValue(out, "Testing error ", fTestingError);
  out << "Random number generator:\n";
  fRandomGenerator.Display(out);
  out << "The optimizer:\n";
  if (fOptimizer != nullptr) {
    fOptimizer->Display(out);
  } else {
    out << "NULL\n";
  }
  out << "End of MLPAlgorithm display\n";
}

// ---------------------------------------------------------------------------
// State-dependent operations

VXStatus MLPAlgorithm::Train(int nTrainRecords, int nTestRecords) {
  if (Gated()) return VXStatus();
  return fCurrentContext->Train(nTrainRecords, nTestRecords);
}

std::unique_ptr<MultiPassRecordIter> MLPAlgorithm::Encode(RecordIterator& records, int n,
                                                          int& written) {
  MultiPassRecordIter* encoded = nullptr;
  written = 0;
  fStatus = fDataPreparator->EncodeToTempFile(records, n, encoded, written);
  return std::unique_ptr<MultiPassRecordIter>(encoded);
}

VXStatus MLPAlgorithm::Update(MultiPassRecordIter& records, int n) {
  if (Gated()) return VXStatus();
  if (!fUISettings.empty()) fSettings.SetUISettings(fUISettings);
  VXStatus result;
  if (fDataPreparator) {
    fDataPreparator->SetWeightedCount(n);
    int written = 0;
    // A negative count asks for every record of the source.
    std::unique_ptr<MultiPassRecordIter> encoded = Encode(records, n < 0 ? INT_MAX : n, written);
    if (encoded) result = fCurrentContext->Update(*encoded, written);
  } else {
    result = fCurrentContext->Update(records, n);
  }
  records.Rewind();
  return result;
}

double MLPAlgorithm::GetErrorOnData(RecordIterator& records, int nRecords) {
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

double MLPAlgorithm::GetAccuracy() const {
  if (Gated() || fNetwork == nullptr) return VXMV::gMissingValue;
  return fNetwork->GetAccuracy() * 100.0;
}

VXStatus MLPAlgorithm::ComputeSensitivity(std::vector<double>& importance) const {
  if (Gated()) return VXStatus();
  // Without a preparator there is no variable list to take the inputs from.
  if (!fDataPreparator) return Store(VXStatus(codes::kNotAvailable, true));
  if (!fSettings.GetComputeSensitivity()) return VXStatus();
  const NNVarList& list = fDataPreparator->GetVarList();
  std::vector<double> mins;
  std::vector<double> maxs;
  list.GetInpContMinMax(mins, maxs);
  return fCurrentContext->ComputeSensitivity(list.GetNumInputVars(), list.GetNInputCats(), true,
                                             mins, maxs, importance);
}

VXStatus MLPAlgorithm::ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                          bool useGivenRanges, const std::vector<double>& mins,
                                          const std::vector<double>& maxs,
                                          std::vector<double>& importance) const {
  if (Gated()) return VXStatus();
  std::vector<double> listMins;
  std::vector<double> listMaxs;
  const std::vector<double>* useMins = &mins;
  const std::vector<double>* useMaxs = &maxs;
  if (fDataPreparator) {
    const NNVarList& list = fDataPreparator->GetVarList();
    if (nInputVars != list.GetNumInputVars() || nInputCats != list.GetNInputCats()) {
      return Store(VXStatus(codes::kSensitivityArgumentsDiffer, false));
    }
    if (!useGivenRanges) {
      list.GetInpContMinMax(listMins, listMaxs);
      useMins = &listMins;
      useMaxs = &listMaxs;
    }
  }
  if (!fSettings.GetComputeSensitivity()) return VXStatus();
  // With a preparator the ranges are always known: the list's or the given.
  return fCurrentContext->ComputeSensitivity(nInputVars, nInputCats,
                                             fDataPreparator ? true : useGivenRanges, *useMins,
                                             *useMaxs, importance);
}

VXStatus MLPAlgorithm::ComputeOutputStats(MultiPassRecordIter& records, int nRecords,
                                          NNOutputStatistics& stats) {
  if (Gated()) return VXStatus();
  if (!fDataPreparator) return fCurrentContext->ComputeOutputStats(records, nRecords, stats);
  int written = 0;
  std::unique_ptr<MultiPassRecordIter> encoded = Encode(records, nRecords, written);
  records.Rewind();
  if (!encoded) return VXStatus();
  return fCurrentContext->ComputeOutputStats(*encoded, written, stats);
}

const Record* MLPAlgorithm::NetworkInputs(const Record& in, VXStatus& status) const {
  if (fDataPreparator) {
    status = fDataPreparator->EncodeInputs(in, fEncoded);
    return status.IsOK() ? &fEncoded : nullptr;
  }
  // Already encoded: a record without all the inputs cannot be scored.
  status =
      in.Size() >= fNetwork->GetNumInputs() ? VXStatus() : VXStatus(codes::kMissingInput, false);
  return status.IsOK() ? &in : nullptr;
}

const NNOutputList& MLPAlgorithm::Score(const Record& in) {
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

VXStatus MLPAlgorithm::Score(const Record& in, Record& out) const {
  if (Gated()) return fStatus;
  if (fNetwork == nullptr) return VXStatus(codes::kNotAvailable, true);
  VXStatus status;
  const Record* inputs = NetworkInputs(in, status);
  if (inputs == nullptr) return status;
  out.Resize(fNetwork->GetNumOutputs());
  fNetwork->Score(status, inputs->GetAll(), out.GetAll());
  return status;
}

VXStatus MLPAlgorithm::ExportModelXML(std::ostream& out, int flags,
                                      const VXApplicInfo4XML* info) const {
  return fCurrentContext->ExportModelXML(out, flags, info);
}

VXStatus MLPAlgorithm::ExportModelStatXML(std::ostream& out, int flags,
                                          const VXApplicInfo4XML* info) const {
  return fCurrentContext->ExportModelStatXML(out, flags, info);
}

NNStructure* MLPAlgorithm::GetStructure() const {
  fCurrentContext->GetStructure();
  return nullptr;
}

VXStatus MLPAlgorithm::SaveState(std::ostream& out) const {
  return fCurrentContext->SaveState(out);
}

VXStatus MLPAlgorithm::SaveStateXML(std::ostream& out) const {
  return fCurrentContext->SaveStateXML(out);
}

VXStatus MLPAlgorithm::SelectArchitecture() { return fCurrentContext->SelectArchitecture(); }

// ---------------------------------------------------------------------------
// The work of the states

VXStatus MLPAlgorithm::RunTraining(bool initialRun, int nTrain, int nTest) {
  if (CheckCancel()) return fStatus;
  SetContext(fTrainingContext.get(), VXNNCommon::kInProgress);
  if (nTest == -1 && fTestData != nullptr) nTest = fSettings.GetNTestRecords();
  // The outcome of this run alone: a warning stored by an earlier call must
  // not stop it.
  VXStatus status;
  if (initialRun && fReinitializeWeights) {
    const std::clock_t before = std::clock();
    status = Store(ComputeSampleWeights());
    nTest = fSettings.GetNTestRecords();
    fElapsedTime = SecondsSince(before);
  }
  if (status.IsOK() && !IsCanceled()) {
    if (fOptimizer == nullptr) {
      status = VXStatus(codes::kNoOptimizer, false);
    } else {
      fOptimizer->Train(status, *fTrainData, fTestData, nTrain, nTest);
    }
    Store(status);
  }
  if (status.IsOK() && !IsCanceled()) {
    SetContext(fTrainedContext.get(), VXNNCommon::kTrained);
    fElapsedTime += fOptimizer->GetElapsedTime();
    fNDataPasses += fOptimizer->GetNDataPasses();
    fNIterations += fOptimizer->GetNIterations();
    fStopReason = fOptimizer->GetStopReason();
    fTrainingError = fOptimizer->GetTrainError();
    fTestingError = fOptimizer->GetTestError();
  } else {
    fAlgorithmStatus = VXNNCommon::kInconsistent;
  }
  CheckCancel();
  return fStatus;
}

void MLPAlgorithm::SwitchToUpdateOptimizer() {
  const VXNNCommon::TrainingType type = fSettings.GetTrainType();
  const VXNNCommon::TrainingType newType =
      type == VXNNCommon::kBatch ? VXNNCommon::kMiniBatch : type;
  if (fSettings.GetTrainingMethod() == VXNNCommon::kGradientDescent && newType == type &&
      fOptimizer != nullptr) {
    return;
  }
  MLPSettings settings = fSettings;
  settings.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, newType);
  SetMLPSettings(settings);
  std::unique_ptr<IOptimizationAlgorithm> old(fOptimizer);
  fOptimizer = CreateOptimizer(fNetwork);
  if (fOptimizer == nullptr || !old) return;
  fOptimizer->SetAlgorithmStatus(old->GetAlgorithmStatus());
  fOptimizer->SetStopReason(old->GetStopReason());
  fOptimizer->SetElapsedTime(old->GetElapsedTime());
  fOptimizer->SetNIterations(old->GetNIterations());
  fOptimizer->SetNDataPasses(old->GetNDataPasses());
  fOptimizer->SetNRecordsProcessed(old->GetNRecordsProcessed());
}

VXStatus MLPAlgorithm::RunUpdate(MultiPassRecordIter& records, int n) {
  SetContext(fTrainingContext.get(), VXNNCommon::kInProgress);
  SwitchToUpdateOptimizer();
  VXStatus status;
  if (fOptimizer == nullptr) {
    status = VXStatus(codes::kNoOptimizer, false);
  } else {
    bool changed = false;
    fOptimizer->Update(status, *fTrainData, records, n, changed);
    fElapsedTime = fOptimizer->GetElapsedTime();
    fNDataPasses = fOptimizer->GetNDataPasses();
    fTrainingError = fOptimizer->GetTrainError();
    fTestingError = fOptimizer->GetTestError();
  }
  Store(status);
  SetContext(fTrainedContext.get(), VXNNCommon::kTrained);
  CheckCancel();
  return fStatus;
}

double MLPAlgorithm::RunErrorPass(RecordIterator& records, int n, bool computeAccuracy) {
  if (fNetwork == nullptr || CheckCancel()) return VXMV::gMissingValue;
  fNetwork->ResetDerivatives();
  VXStatus status;
  int processed = 0;
  fNetwork->ProcessRecords(status, records, n, processed, true, computeAccuracy);
  Store(status);
  // A cancel seen during the pass ends the algorithm, but the caller still
  // gets the sum of the records the pass did process.
  const double error = fNetwork->GetAccumError();
  CheckCancel();
  return error;
}

VXStatus MLPAlgorithm::RunOutputStats(MultiPassRecordIter& records, int n,
                                      NNOutputStatistics& stats) {
  if (fNetwork == nullptr || CheckCancel()) return fStatus;
  Store(VXNeural::ComputeOutputStats(*fNetwork, records, n, stats));
  CheckCancel();
  return fStatus;
}

VXStatus MLPAlgorithm::RunSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                      bool useGivenRanges, const std::vector<double>& mins,
                                      const std::vector<double>& maxs,
                                      std::vector<double>& importance) {
  if (fNetwork == nullptr || fTrainData == nullptr || CheckCancel()) return fStatus;
  // Busy while the probes run: a listener calling back is refused. The
  // algorithm status stays Trained.
  MLPContext* previous = fCurrentContext;
  fCurrentContext = fTrainingContext.get();
  const VXStatus status = VXNeural::ComputeSensitivity(
      *fNetwork, *fTrainData, fTestData, fSettings.GetNTrainRecords(), fSettings.GetNTestRecords(),
      nInputVars, nInputCats, useGivenRanges, mins, maxs, importance);
  fCurrentContext = previous;
  Store(status);
  CheckCancel();
  return fStatus;
}

VXStatus MLPAlgorithm::RunArchitectureSearch() {
  InitializerHooks hooks(*this);
  MLPInitializer initializer(hooks.Parts(), hooks);
  initializer.SelectArchitecture();
  CheckCancel();
  return fStatus;
}

VXStatus MLPAlgorithm::ComputeSampleWeights() {
  InitializerHooks hooks(*this);
  MLPInitializer initializer(hooks.Parts(), hooks);
  return initializer.ComputeSampleWeights();
}

VXStatus MLPAlgorithm::Annealing(MultiPassRecordIter& train, MultiPassRecordIter* test, int nTrain,
                                 int nTest, bool keepCurrentFirst, double& bestTestError,
                                 double& trainErrorRatio, std::valarray<double>& bestWeights,
                                 bool& reachedTarget) {
  InitializerHooks hooks(*this);
  MLPInitializer initializer(hooks.Parts(), hooks);
  return initializer.Annealing(train, test, nTrain, nTest, keepCurrentFirst, bestTestError,
                               trainErrorRatio, bestWeights, reachedTarget);
}

// ---------------------------------------------------------------------------
// Saving

VXStatus MLPAlgorithm::DoSave(std::ostream& out) {
  if (fNetwork == nullptr || fOptimizer == nullptr) {
    return Store(VXStatus(codes::kCannotSave, true));
  }
  MLPContext* const context = fCurrentContext;
  const AlgorithmStatus status = fAlgorithmStatus;
  SetContext(fSaveContext.get(), VXNNCommon::kSaving);
  fSettings.WriteObject(out);
  if (fDataPreparator) fDataPreparator->GetVarList().WriteObject(out);
  WriteBlock(out, status);
  SetContext(context, status);
  Store(out.good() ? VXStatus() : VXStatus(codes::kStreamNotGood, true));
  CheckCancel();
  return fStatus;
}

VXStatus MLPAlgorithm::DoSaveXML(std::ostream& out) {
  if (fNetwork == nullptr || fOptimizer == nullptr) {
    return Store(VXStatus(codes::kCannotSave, true));
  }
  MLPContext* const context = fCurrentContext;
  const AlgorithmStatus status = fAlgorithmStatus;
  SetContext(fSaveContext.get(), VXNNCommon::kSaving);
  const std::unique_ptr<VXXML_1_2::XMLDocType> docType(
      VXXML_1_2::XMLDocType::Create(VXXML_1_2::kRootName, "savexml.dtd", 0));
  docType->Write(out, VXXML_1_2::ExportFormat());
  VXXML_1_2::StartRoot(out, "vxneural saved multi-layer perceptron model");
  fSettings.WriteObjectXML(out);
  if (fDataPreparator) fDataPreparator->GetVarList().WriteObjectXML(out, 1);
  WriteBlockXML(out, status);
  VXXML_1_2::EndRoot(out);
  SetContext(context, status);
  Store(out.good() ? VXStatus() : VXStatus(codes::kStreamNotGood, true));
  CheckCancel();
  return fStatus;
}

void MLPAlgorithm::WriteBlock(std::ostream& out, AlgorithmStatus savedStatus) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBlockHeader)
      .Int(savedStatus)
      .Bool(fReinitializeWeights)
      .Int(fStopReason)
      .Int(fNDataPasses)
      .Int(fNIterations)
      .Int(fNHiddenUnits)
      .Double(fElapsedTime)
      .Double(fTrainingError)
      .Double(fTestingError)
      .Double(fTrainingBIC);
  fRandomGenerator.WriteObject(out);
  fNetwork->WriteObject(out);
  fOptimizer->WriteObject(out);
}

void MLPAlgorithm::WriteBlockXML(std::ostream& out, AlgorithmStatus savedStatus) const {
  VXNeural::detail::XmlWriter w(out, kBlockHeader, 0);
  w.Int(savedStatus)
      .Int(fReinitializeWeights ? 1 : 0)
      .Int(fStopReason)
      .Int(fNDataPasses)
      .Int(fNIterations)
      .Int(fNHiddenUnits)
      .Double(fElapsedTime)
      .Double(fTrainingError)
      .Double(fTestingError)
      .Double(fTrainingBIC);
  w.Nested(fRandomGenerator.WriteObjectXML(out, 1));
  w.Nested(fNetwork->WriteObjectXML(out));
  w.Nested(fOptimizer->WriteObjectXML(out));
  w.End();
}
