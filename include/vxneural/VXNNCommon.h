// Enumerations shared across the component, and its one exception type.
#pragma once

#include <string>

namespace VXNNCommon {

enum ActivationFunction {
  kTanH = 0,
  kSigmoid,
  kSoftMax,
  kIdentity,
  kRadialBasis,
  kNormalizedRadialBasis
};
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
enum AlgorithmType { kUnknownAlgorithm = 0, kMLP, kRBF };
enum ErrorFunction { kSumOfSquares = 0, kCrossEntropy };
enum LayerType { kInputLayer = 0, kHiddenLayer, kOutputLayer, kRBFLayer };
enum MLPTrainingMethod { kScaledConjugateGradient = 0, kGradientDescent, kLinearRegression };
enum NetworkOutputType { kContinuousOutput = 0, kCategoricalOutput, kMixedOutput };
enum OutStatStatus { kOutStatDefault = 0, kOutStatComputed, kOutStatInvalid };
enum SelectionCriterion { kBIC = 0, kTestData };
enum Standardization { kNoStandardization = 0, kMeanStdDev, kMinRange, kMinRangeSymmetric };
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
