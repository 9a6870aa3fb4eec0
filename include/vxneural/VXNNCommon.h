// Enumerations shared across the component, and its one exception type.
#pragma once

#include <string>

namespace VXNNCommon {

/// A layer's activation function; the last two are RBF hidden units.
enum ActivationFunction {
  kTanH = 0,
  kSigmoid,
  kSoftMax,
  kIdentity,
  kRadialBasis,
  kNormalizedRadialBasis
};
/// The state of an algorithm or optimizer.
enum AlgorithmStatus {
  kNotStarted = 0,
  kInProgress,
  kTrained,
  kUpdating,
  kSaving,
  kCancelled,
  kScoring,
  kExpert,
  kInconsistent
};
/// The kind of network: multi-layer perceptron or radial basis function.
enum AlgorithmType { kUnknownAlgorithm = 0, kMLP, kRBF };
/// The error a network minimises.
enum ErrorFunction { kSumOfSquares = 0, kCrossEntropy };
/// A layer's place in the network (kRBFLayer: an RBF network's layer).
enum LayerType { kInputLayer = 0, kHiddenLayer, kOutputLayer, kRBFLayer };
/// The optimizer an MLP is trained with.
enum MLPTrainingMethod { kScaledConjugateGradient = 0, kGradientDescent, kLinearRegression };
/// Whether the targets are all continuous, all categorical or both.
enum NetworkOutputType { kContinuousOutput = 0, kCategoricalOutput, kMixedOutput };
/// The state of an NNOutputStatistics: rebuilt, computed, or invalid (new).
enum OutStatStatus { kOutStatDefault = 0, kOutStatComputed, kOutStatInvalid };
/// The two ways the RBF search for the number of hidden units ranks its
/// candidates: by BIC when there are no test data, by the test error when
/// there are. The search chooses by whether test data exist and does not
/// take this enumeration; it names the criterion for displays and hosts
/// (DisplayText gives "BIC" and "Test Data").
enum SelectionCriterion { kBIC = 0, kTestData };
/// How a continuous variable is scaled to its unit: none, to mean 0 and
/// standard deviation 1, onto 0..1, or onto -1..1 over its range.
enum Standardization { kNoStandardization = 0, kMeanStdDev, kMinRange, kMinRangeSymmetric };
/// The rule that ended a training run (kStoppedComputed: a direct solve).
enum StopReason {
  kStoppedUndefined = 0,
  kStoppedMaxTime,
  kStoppedMaxDataPasses,
  kStoppedErrorChangeLimit,
  kStoppedErrorRatioLimit,
  kStoppedSmallGradient,
  kStoppedVerifyingCycle,
  kStoppedAccuracy,
  kStoppedComputed
};
/// How records are grouped per weight step: all, mini-batches, or one.
enum TrainingType { kBatch = 0, kMiniBatch, kOnline };

///@{
/// Display texts, without line end. A value outside an enumeration's list
/// gives that enumeration's fallback: "Unrecognized", the number, or "".
std::string DisplayText(ActivationFunction value);
std::string DisplayText(AlgorithmStatus value);
std::string DisplayText(AlgorithmType value);
std::string DisplayText(ErrorFunction value);
std::string DisplayText(LayerType value);
std::string DisplayText(MLPTrainingMethod value);
std::string DisplayText(NetworkOutputType value);
std::string DisplayText(OutStatStatus value);
std::string DisplayText(SelectionCriterion value);
std::string DisplayText(Standardization value);
std::string DisplayText(StopReason value);
std::string DisplayText(TrainingType value);
///@}

}  // namespace VXNNCommon

namespace VXNeural {

/// Thrown (by pointer, newly allocated) by stream readers that meet a wrong tag
/// or an unparsable value, after writing one line to standard error. The
/// public restore operations catch it, delete it and return a status.
class IOException {};

}  // namespace VXNeural
