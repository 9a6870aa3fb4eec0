#include "vxneural/algorithm/MLPAlgorithm.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <exception>
#include <istream>
#include <memory>
#include <ostream>

#include "algorithm/AlgorithmCodes.h"
#include "algorithm/MLPContext.h"
#include "algorithm/NeuralAlgorithmWith.h"
#include "algorithm/SharedTraining.h"
#include "network/SharedRun.h"
#include "persist/Display.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/algorithm/MLPInitializer.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/ScaledConjGrad.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::VXStatus;
namespace codes = VXNeural::codes;

namespace {

// The optimizers' clock, which a shared training's processes agree on.
double SecondsSince(std::clock_t start) { return VXNeural::detail::ProcessorSecondsSince(start); }

}  // namespace

class MLPAlgorithm::InitializerHooks : public MLPInitializer::Hooks {
 public:
  explicit InitializerHooks(MLPAlgorithm& algorithm) : fAlgorithm(algorithm) {}

  MLPInitializer::Parts Parts() {
    MLPAlgorithm& a = fAlgorithm;
    return MLPInitializer::Parts{
        a.fSettings,    a.fNetwork,       a.fOptimizer,    a.fRandomGenerator,
        a.fTrainData,   a.fTestData,      a.fStatus,       a.fReinitializeWeights,
        a.fStopReason,  a.fNDataPasses,   a.fNIterations,  a.fNHiddenUnits,
        a.fElapsedTime, a.fTrainingError, a.fTestingError, a.fShared};
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
    : NeuralAlgorithmWith(nullptr, &train, test), fSettings(settings) {
  Construct(nullptr);
}

MLPAlgorithm::MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator)
    : NeuralAlgorithmWith(preparator, nullptr, nullptr), fSettings(settings) {
  Construct(nullptr);
}

MLPAlgorithm::MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator,
                           const std::valarray<double>& weights)
    : NeuralAlgorithmWith(preparator, nullptr, nullptr), fSettings(settings) {
  Construct(&weights);
  fReinitializeWeights = false;
}

MLPAlgorithm::MLPAlgorithm(std::istream& in, const MLPSettings& settings,
                           NNDataPreparator* preparator, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : NeuralAlgorithmWith(preparator, &train, test), fSettings(settings) {
  ConstructFrom(in, false);
}

MLPAlgorithm::MLPAlgorithm(XMLStream, std::istream& in, const MLPSettings& settings,
                           NNDataPreparator* preparator, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : NeuralAlgorithmWith(preparator, &train, test), fSettings(settings) {
  ConstructFrom(in, true);
}

MLPAlgorithm::~MLPAlgorithm() {
  DestroyOptimizer();
  DestroyModel();
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

const char* MLPAlgorithm::SavedModelNotice() const {
  return "vxneural saved multi-layer perceptron model";
}

std::vector<int> MLPAlgorithm::BlockCounters() const {
  return {fReinitializeWeights ? 1 : 0, fStopReason, fNDataPasses, fNIterations, fNHiddenUnits};
}

bool MLPAlgorithm::TakeBlockCounters(const std::vector<int>& counters, bool apply) {
  // A stop reason or a counter outside its range can only come from a
  // damaged stream.
  const bool valid = counters[1] >= VXNNCommon::kStoppedUndefined &&
                     counters[1] <= VXNNCommon::kStoppedComputed && counters[2] >= 0 &&
                     counters[3] >= 0 && counters[4] >= 0;
  if (!valid || !apply) return valid;
  fReinitializeWeights = counters[0] == 1;
  fStopReason = static_cast<VXNNCommon::StopReason>(counters[1]);
  fNDataPasses = counters[2];
  fNIterations = counters[3];
  fNHiddenUnits = counters[4];
  return true;
}

// ---------------------------------------------------------------------------
// State-independent operations

std::string MLPAlgorithm::GetComponentVersion() const {
  return "vxneural multi-layer perceptron component, version 1.0";
}

void MLPAlgorithm::SetStopRules(INNStopRules* rules) { fSettings.SetStopRules(rules); }
INNStopRules* MLPAlgorithm::GetStopRules() { return fSettings.GetStopRules(); }

void MLPAlgorithm::DisplayFields(std::ostream& out) const {
  VXNeural::detail::ShowValue(
      out, "Re-initialize weights flag = ", fReinitializeWeights ? "true" : "false");
  DisplayCounters(out, "Number of iterations = ", fNIterations);
}

// ---------------------------------------------------------------------------
// The work of the states

VXStatus MLPAlgorithm::RunTraining(bool initialRun, int nTrain, int nTest) {
  // A process of a shared training cancelled before the start takes its
  // cancel to the first exchange, rather than leave the others waiting
  // there.
  const VXNeural::detail::StartedSharedTraining shares(fDataPreparator.get(), fTrainData, fTestData,
                                                       HostCanceled(), &fSettings);
  if (CheckCancel()) return fStatus;
  SetContext(fTrainingContext.get(), VXNNCommon::kInProgress);
  if (nTest == -1 && fTestData != nullptr) nTest = fSettings.GetNTestRecords();
  // The outcome of this run alone: a warning stored by an earlier call must
  // not stop it.
  VXStatus status = shares.begun;
  fShared = shares.shared.Records();
  // Online and mini-batch descent change the weights within a pass: their
  // passes cannot be shared.
  if (status.IsOK() && fShared && fSettings.GetTrainingMethod() == VXNNCommon::kGradientDescent &&
      fSettings.GetTrainType() != VXNNCommon::kBatch)
    status = VXStatus(codes::kSharesDoNotMatch, false);
  if (status.IsOK() && initialRun && fReinitializeWeights) {
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
    Store(status);
    fAlgorithmStatus = VXNNCommon::kInconsistent;
  }
  fShared = nullptr;
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

template class NeuralAlgorithmWith<IOptimizationAlgorithm>;
