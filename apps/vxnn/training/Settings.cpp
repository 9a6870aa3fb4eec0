// The first step of a `vxnn train` job: the user's options made into the
// library's settings for each kind of network, every value and combination
// the library would refuse turned into an InputError that names the option.
#include <algorithm>
#include <cmath>

#include "training/Training.h"

namespace vxnn {

namespace {

template <typename T>
void Require(const std::optional<T>& value, bool ok, const std::string& message) {
  if (value && !ok) throw InputError(message);
}

VXNNCommon::TrainingType ParseTrainingType(const std::string& t) {
  if (t == "batch") return VXNNCommon::kBatch;
  if (t == "minibatch") return VXNNCommon::kMiniBatch;
  if (t == "online") return VXNNCommon::kOnline;
  throw InputError("--training-type must be batch, minibatch or online, not \"" + t + "\"");
}

VXNNCommon::ActivationFunction ParseActivation(const std::string& a, const char* option) {
  if (a == "tanh") return VXNNCommon::kTanH;
  if (a == "sigmoid") return VXNNCommon::kSigmoid;
  if (a == "softmax") return VXNNCommon::kSoftMax;
  if (a == "identity") return VXNNCommon::kIdentity;
  throw InputError(std::string(option) + ": unknown activation \"" + a + "\"");
}

void ApplyArchitecture(const TrainOptions& o, MLPSettings& s) {
  int layers = s.GetNumHiddenLayers();
  if (o.fHiddenLayers) {
    if (*o.fHiddenLayers < 0 || *o.fHiddenLayers > 2)
      throw InputError("--hidden-layers must be 0, 1 or 2");
    layers = *o.fHiddenLayers;
  } else if (!o.fHiddenUnits.empty()) {
    layers = static_cast<int>(o.fHiddenUnits.size());
    if (layers > 2) throw InputError("--hidden-units: at most 2 hidden layers");
  }
  if (!o.fHiddenUnits.empty() && static_cast<int>(o.fHiddenUnits.size()) != layers)
    throw InputError("--hidden-units gives " + std::to_string(o.fHiddenUnits.size()) +
                     " layer sizes for " + std::to_string(layers) + " hidden layers");
  for (int u : o.fHiddenUnits)
    if (u < 1) throw InputError("--hidden-units: every layer needs at least 1 unit");
  if (o.fSelectArchitecture && (layers != 1 || !o.fHiddenUnits.empty()))
    throw InputError(
        "--select-architecture chooses the size of one hidden layer; drop --hidden-units and "
        "--hidden-layers");

  if (layers != s.GetNumHiddenLayers()) {
    s.SetNumHiddenLayers(layers);
    // Changing the layer count keeps the weight count of the old shape.
    s.ComputeNWeights();
    s.ComputeDefaultMinibatchSize();
    s.GetStopRules()->ComputeDefaultMaxDataPasses(s.GetNWeights());
  }
  for (std::size_t l = 0; l < o.fHiddenUnits.size(); ++l)
    s.SetNumHiddenUnits(o.fHiddenUnits[l], static_cast<int>(l) + 1);

  if (o.fHiddenActivation) {
    if (*o.fHiddenActivation == "radial-basis" || *o.fHiddenActivation == "normalized-radial-basis")
      throw InputError("--hidden-activation " + *o.fHiddenActivation + " applies to --network rbf");
    const auto f = ParseActivation(*o.fHiddenActivation, "--hidden-activation");
    if (f != VXNNCommon::kTanH && f != VXNNCommon::kSigmoid)
      throw InputError("--hidden-activation must be tanh or sigmoid");
    s.SetActivFnHiddenLayer(f);
  }
  if (o.fOutputActivation) {
    const auto f = ParseActivation(*o.fOutputActivation, "--output-activation");
    if (f == VXNNCommon::kSoftMax)
      for (int n : s.GetNumOutCategories())
        if (n == 1)
          throw InputError("--output-activation softmax needs every target to be categorical");
    s.SetActivFnOutputLayer(f);
  }
}

void ApplyMethod(const TrainOptions& o, MLPSettings& s) {
  if (o.fMethod && *o.fMethod != "scg" && *o.fMethod != "gd")
    throw InputError("--method must be scg or gd, not \"" + *o.fMethod + "\"");
  const auto type = o.fTrainingType ? ParseTrainingType(*o.fTrainingType) : VXNNCommon::kBatch;
  if (o.fMethod || o.fTrainingType) {
    // Mini-batches and online updates exist only for gradient descent.
    const bool gd = o.fMethod ? *o.fMethod == "gd" : type != VXNNCommon::kBatch;
    if (!gd && type != VXNNCommon::kBatch)
      throw InputError("--method scg trains in batch only; use --method gd for " +
                       *o.fTrainingType + " training");
    const auto method = gd ? VXNNCommon::kGradientDescent : VXNNCommon::kScaledConjugateGradient;
    s.SetTrainingMethodAndType(method, type);
    if (s.GetTrainingMethod() != method || s.GetTrainType() != type)
      throw InputError("this network cannot be trained with that method and training type");
  } else if (s.GetTrainingMethod() == VXNNCommon::kLinearRegression) {
    // The settings pick the closed-form solver for a network without hidden
    // layer and with linear outputs, but the library has no such optimizer
    // for an MLP; the iterative default reaches the same least-squares fit.
    s.SetTrainingMethodAndType(VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch);
  }
  if (o.fMiniBatchSize) {
    if (s.GetTrainType() != VXNNCommon::kMiniBatch)
      throw InputError("--mini-batch-size applies to --training-type minibatch");
    s.SetMiniBatchSize(*o.fMiniBatchSize);
    if (s.GetMiniBatchSize() != *o.fMiniBatchSize)
      throw InputError(
          "--mini-batch-size must lie between 2 and " +
          std::to_string(std::min<long>(s.GetMaxRecordsInMemory(), s.GetNTrainRecords())) +
          " (the training records, and the memory budget)");
  }
  Require(o.fLearningRate, o.fLearningRate && *o.fLearningRate > 0,
          "--learning-rate must be above 0");
  Require(o.fMinLearningRate, o.fMinLearningRate && *o.fMinLearningRate > 0,
          "--min-learning-rate must be above 0");
  Require(o.fMomentum, o.fMomentum && *o.fMomentum >= 0 && *o.fMomentum < 1,
          "--momentum must lie in [0, 1)");
  Require(o.fWeightRange, o.fWeightRange && *o.fWeightRange > 0, "--weight-range must be above 0");
  // A plain run draws its first weights by training on samples from the
  // library's default range, whatever the settings say; only the
  // architecture search draws from the range given. Refused rather than
  // silently ignored.
  if (o.fWeightRange && !o.fSelectArchitecture)
    throw InputError(
        "--weight-range applies with --select-architecture (a plain run starts from weights "
        "found by training on samples)");
  if (o.fLearningRate) s.SetEtaInit(*o.fLearningRate);
  if (o.fMinLearningRate) s.SetEtaLow(*o.fMinLearningRate);
  if (o.fMomentum) s.SetAlpha(*o.fMomentum);
  if (o.fWeightRange) s.SetRandomWeightRange(-*o.fWeightRange, *o.fWeightRange);
  if (o.fSeed) s.SetRandomSeed(LibrarySeed(*o.fSeed));
  if (o.fSamplingSeed) s.SetRandomSeedSampling(LibrarySeed(*o.fSamplingSeed));
}

}  // namespace

unsigned LibrarySeed(unsigned seed) {
  return seed % kPortableModulus == 0 ? kPortableModulus - 1 : seed;
}

namespace {

// The range the hidden units are searched or clustered in.
void RequireHiddenUnitRange(int lo, int hi) {
  if (lo < 1 || hi < lo)
    throw InputError("the hidden-unit range needs 1 <= --min-hidden-units <= --max-hidden-units");
}

void ApplyStopRules(const TrainOptions& o, MLPSettings& s) {
  Require(o.fMaxDataPasses, o.fMaxDataPasses && *o.fMaxDataPasses >= 1,
          "--max-data-passes must be at least 1");
  Require(o.fMaxTime, o.fMaxTime && *o.fMaxTime > 0, "--max-time must be above 0 seconds");
  Require(o.fErrorChange, o.fErrorChange && *o.fErrorChange >= 0, "--error-change must be >= 0");
  Require(o.fErrorRatio, o.fErrorRatio && *o.fErrorRatio >= 0, "--error-ratio must be >= 0");
  Require(o.fGradientNorm, o.fGradientNorm && *o.fGradientNorm >= 0,
          "--gradient-norm must be >= 0");
  Require(o.fStopAccuracy, o.fStopAccuracy && *o.fStopAccuracy > 0 && *o.fStopAccuracy <= 100,
          "--stop-accuracy must lie in (0, 100]");
  Require(o.fStepsWithoutImprovement,
          o.fStepsWithoutImprovement && *o.fStepsWithoutImprovement >= 1,
          "--steps-without-improvement must be at least 1");
  if (o.fMaxDataPasses) s.SetMaxNDataPasses(*o.fMaxDataPasses);
  if (o.fMaxTime) s.SetMaxTime(*o.fMaxTime);
  if (o.fErrorChange) s.SetMinRelativeChangeError(*o.fErrorChange);
  if (o.fErrorRatio) s.SetMinErrorRatio(*o.fErrorRatio);
  if (o.fGradientNorm) s.SetGradientNormLimit(*o.fGradientNorm);
  if (o.fStopAccuracy) s.SetAccuracy(*o.fStopAccuracy);
  if (o.fStepsWithoutImprovement) s.SetMaxNStepsTrackError(*o.fStepsWithoutImprovement);
  if (o.fCheckTrainingError) s.SetCheckTrainErrVerifyingCycle(true);
  if (o.fTestErrorDecides) {
    // With every test record right, or the training error small beside
    // the mean model's, the test error can still fall; the early stop
    // judges that. Off: an accuracy limit above 100%, a ratio limit of 0.
    if (!o.fStopAccuracy) s.SetAccuracy(kNoAccuracyStop);
    if (!o.fErrorRatio) s.SetMinErrorRatio(0.0);
    if (!o.fStepsWithoutImprovement) s.SetMaxNStepsTrackError(kHostStepsWithoutImprovement);
  }

  const int lo = o.fMinHiddenUnits.value_or(s.GetMinNHiddenUnits());
  const int hi = o.fMaxHiddenUnits.value_or(s.GetMaxNHiddenUnits());
  RequireHiddenUnitRange(lo, hi);
  s.SetNHiddenUnitsRange(lo, hi);
  Require(o.fMaxSelectionTime, o.fMaxSelectionTime && *o.fMaxSelectionTime > 0,
          "--max-selection-time must be above 0 seconds");
  if (o.fMaxSelectionTime) s.SetTimeForExpertArch(*o.fMaxSelectionTime);
}

// What both kinds of network share, and the options of the other kind,
// refused.
void ApplyCommon(const TrainOptions& o, NeuralSettings& s, NetworkKind kind) {
  if (o.fMemoryBudget) {
    if (*o.fMemoryBudget < 1) throw InputError("--memory-budget must be at least 1 record");
    s.SetMaxRecordsInMemory(*o.fMemoryBudget);
  }
  if (o.fInputScaling) {
    if (*o.fInputScaling == "standard")
      s.SetStandInputs(VXNNCommon::kMeanStdDev);
    else if (*o.fInputScaling == "range")
      s.SetStandInputs(VXNNCommon::kMinRangeSymmetric);
    else
      throw InputError("--input-scaling must be standard or range, not \"" + *o.fInputScaling +
                       "\"");
  } else if (kind == NetworkKind::kMLP) {
    s.SetStandInputs(HostInputScaling(s.GetNumInputs()));
  }
  if (kind == NetworkKind::kMLP) {
    if (o.fOverlap) throw InputError("--overlap applies to --network rbf");
    if (o.fSearchPassPerCandidate)
      throw InputError("--search-pass-per-candidate applies to --network rbf");
  }
}

// The first option given that steers the perceptron's optimizer or its
// initial weights, or null.
const char* OptimizerOption(const TrainOptions& o) {
  const std::pair<bool, const char*> optimizerOnly[] = {
      {o.fMethod.has_value(), "--method"},
      {o.fTrainingType.has_value(), "--training-type"},
      {o.fMiniBatchSize.has_value(), "--mini-batch-size"},
      {o.fLearningRate.has_value(), "--learning-rate"},
      {o.fMinLearningRate.has_value(), "--min-learning-rate"},
      {o.fMomentum.has_value(), "--momentum"},
      {o.fWeightRange.has_value(), "--weight-range"},
      {o.fSeed.has_value(), "--seed"},
      {o.fSamplingSeed.has_value(), "--sampling-seed"},
      {o.fOutputActivation.has_value(), "--output-activation"},
      {o.fMaxDataPasses.has_value(), "--max-data-passes"},
      {o.fMaxTime.has_value(), "--max-time"},
      {o.fErrorChange.has_value(), "--error-change"},
      {o.fErrorRatio.has_value(), "--error-ratio"},
      {o.fGradientNorm.has_value(), "--gradient-norm"},
      {o.fStopAccuracy.has_value(), "--stop-accuracy"},
      {o.fStepsWithoutImprovement.has_value(), "--steps-without-improvement"},
      {o.fCheckTrainingError, "--check-training-error"},
      {o.fMaxSelectionTime.has_value(), "--max-selection-time"},
  };
  for (const auto& [given, option] : optimizerOnly)
    if (given) return option;
  return nullptr;
}

}  // namespace

// Whether the program's own hidden-layer size applies: the user left the
// architecture to the defaults, and every target is categorical.
bool ClassifierRuleApplies(const TrainOptions& o, const NeuralSettings& s) {
  if (o.fHiddenLayers || !o.fHiddenUnits.empty() || o.fSelectArchitecture) return false;
  for (int n : s.GetNumOutCategories())
    if (n == 1) return false;
  return true;
}

VXNNCommon::Standardization HostInputScaling(int inputUnits) {
  // The sample initialisation starts from weights in -0.5..0.5, so a hidden
  // unit's summed input has a standard deviation of about sqrt(n / 12) over
  // n standardised inputs: 1.6 at 32 inputs, where tanh units start near
  // saturation. Inputs scaled to -1..1 vary less and keep them in range.
  // Measured with bench/defaults.sh on splits 101 to 130: on the 64-input
  // pixel data -1..1 misclassified 0.12% of the test records against
  // 0.20%; on iris (4 inputs) and wine (13) it did worse than mean and
  // standard deviation, which therefore stays below the threshold.
  return inputUnits >= kHostRangeScalingInputs ? VXNNCommon::kMinRangeSymmetric
                                               : VXNNCommon::kMeanStdDev;
}

int HostClassifierUnits(int inputUnits, int outputUnits) {
  return std::clamp(4 * (inputUnits + outputUnits), kHostClassifierMinUnits,
                    kHostClassifierMaxUnits);
}

MLPSettings MakeSettings(const TrainOptions& o, const NNVarList& list, int nTrainRecords) {
  MLPSettings s(list, nTrainRecords);
  ApplyCommon(o, s, NetworkKind::kMLP);
  const int hostUnits = HostClassifierUnits(s.GetNumInputs(), s.GetNumOutUnits());
  if (ClassifierRuleApplies(o, s) && s.GetNumHiddenUnits(1) < hostUnits) {
    // The library's rule keeps the network small (at most 20 units, fewer
    // with few records), which costs accuracy on classification with many
    // inputs, and early stopping on the test records guards the larger
    // network against over-fitting. Measured with bench/defaults.sh on
    // splits other than the ones bench/README.md reports (with the refit
    // and the early-stopping defaults): 32 units were best on iris (4
    // inputs), 64 on wine (13), 80 to 128 on the 64-input pixel data (100
    // best, by one or two test records of 9000), where 64 fell short. On the
    // regression every size above the rule's did worse, so a continuous
    // target keeps it.
    s.SetNumHiddenUnits(hostUnits, 1);
  }
  ApplyArchitecture(o, s);
  ApplyMethod(o, s);
  ApplyStopRules(o, s);
  return s;
}

MLPSettings MakeLinearSettings(const TrainOptions& o, const NNVarList& list, int nTrainRecords) {
  const char* option = OptimizerOption(o);
  const std::pair<bool, const char*> networkOnly[] = {
      {o.fHiddenLayers.has_value(), "--hidden-layers"},
      {!o.fHiddenUnits.empty(), "--hidden-units"},
      {o.fHiddenActivation.has_value(), "--hidden-activation"},
      {o.fSelectArchitecture, "--select-architecture"},
      {o.fMinHiddenUnits.has_value(), "--min-hidden-units"},
      {o.fMaxHiddenUnits.has_value(), "--max-hidden-units"},
      {o.fOverlap.has_value(), "--overlap"},
      {o.fSearchPassPerCandidate, "--search-pass-per-candidate"},
  };
  for (const auto& [given, name] : networkOnly)
    if (given && option == nullptr) option = name;
  if (option)
    throw InputError(std::string(option) +
                     " does not apply to the linear model (no hidden layer, solved by least "
                     "squares)");
  MLPSettings s(list, nTrainRecords);
  ApplyCommon(o, s, NetworkKind::kMLP);
  s.SetNumHiddenLayers(0);
  s.ComputeNWeights();
  // Linear outputs, also for a categorical target (its indicator units are
  // fitted by least squares and the largest wins): that is what makes the
  // solution closed-form.
  s.SetActivFnOutputLayer(VXNNCommon::kIdentity);
  s.SetTrainingMethodAndType(VXNNCommon::kLinearRegression, VXNNCommon::kBatch);
  if (s.GetTrainingMethod() != VXNNCommon::kLinearRegression)
    throw InputError("the linear model cannot be solved by least squares here");
  return s;
}

int HostRBFCentres(const RBFSettings& s) { return 2 * (s.GetNumInputs() + s.GetNumOutUnits()); }

RBFSettings MakeRBFSettings(const TrainOptions& o, const NNVarList& list, int nTrainRecords) {
  RBFSettings s(list, nTrainRecords);
  ApplyCommon(o, s, NetworkKind::kRBF);
  if (const char* option = OptimizerOption(o))
    throw InputError(std::string(option) +
                     " does not apply to --network rbf (its centres come from clustering and "
                     "its output weights from least squares)");
  if ((o.fHiddenLayers && *o.fHiddenLayers != 1) || o.fHiddenUnits.size() > 1)
    throw InputError("--network rbf has exactly one hidden layer");

  if (o.fHiddenActivation) {
    if (*o.fHiddenActivation == "radial-basis")
      s.SetActivFnHiddenLayer(VXNNCommon::kRadialBasis);
    else if (*o.fHiddenActivation == "normalized-radial-basis")
      s.SetActivFnHiddenLayer(VXNNCommon::kNormalizedRadialBasis);
    else
      throw InputError(
          "--hidden-activation must be radial-basis or normalized-radial-basis for --network rbf");
  }
  if (o.fOverlap) {
    if (!(*o.fOverlap > 0.0 && std::isfinite(*o.fOverlap)))
      throw InputError("--overlap must be above 0");
    s.SetOverlapFactor(*o.fOverlap);
  } else {
    // This program's default overlap is kHostOverlapTimes the library's
    // (which grows with the inputs): the many small clusters of the default
    // size rule below have small variances, and basis functions that narrow
    // leave gaps between the centres. Chosen, with the size rule, on splits
    // other than the ones bench/README.md reports.
    s.SetOverlapFactor(kHostOverlapTimes * s.GetOverlapFactor());
  }

  const bool range = o.fMinHiddenUnits || o.fMaxHiddenUnits;
  if (!o.fHiddenUnits.empty()) {
    if (o.fSelectArchitecture || range)
      throw InputError(
          "--hidden-units sets the number of centres; drop --select-architecture, "
          "--min-hidden-units and --max-hidden-units");
    if (o.fHiddenUnits[0] < 1) throw InputError("--hidden-units: at least 1 centre");
    s.SetNumHiddenUnits(o.fHiddenUnits[0], 1);
  }
  if (range) {
    // With one bound given, the other is the one the clustering would use
    // by itself: from 1 up to twice the input and output units.
    const int lo = o.fMinHiddenUnits.value_or(1);
    const int hi = o.fMaxHiddenUnits.value_or(std::max(lo, HostRBFCentres(s)));
    RequireHiddenUnitRange(lo, hi);
    s.SetNHiddenUnitsRange(lo, hi);
  }
  if (o.fHiddenUnits.empty() && !range && !o.fSelectArchitecture) {
    // Left to itself, the clustering picks the data's natural number of
    // groups (two on iris: one species against the other two), far too few
    // basis functions to model the targets. The program's default is the
    // top of the range the clustering would be given, twice the input and
    // output units, at most one centre per training record; the centres
    // are still placed by the clustering.
    s.SetNumHiddenUnits(std::min(HostRBFCentres(s), std::max(nTrainRecords, 1)), 1);
  }
  if (o.fSearchPassPerCandidate) {
    if (!o.fSelectArchitecture)
      throw InputError("--search-pass-per-candidate applies to --select-architecture");
    s.SetExpertOneDataPass(false);
  }
  return s;
}

}  // namespace vxnn
