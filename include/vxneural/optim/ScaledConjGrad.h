// Scaled conjugate gradient: the default optimizer of MLP training (batch
// training only).
#pragma once

#include "vxneural/optim/IOptimizationAlgorithm.h"

/// Each iteration estimates the curvature along the search direction p from a
/// second gradient taken at a small offset sigma0 / |p| along p, regularizes
/// it with a scale lambda, and takes the step the local quadratic model
/// suggests. The ratio Delta of the actual to the predicted error decrease
/// decides whether the step is kept and how lambda changes: a rejected step
/// (Delta < 0) raises lambda and is retried along the same direction from the
/// same weights, reusing the curvature, so it costs one data pass instead of
/// two. Directions are conjugated with a Polak-Ribiere-type beta and restart
/// from the steepest descent after every GetNumWeights() iterations. Every run
/// starts again from the settings' lambda and the steepest descent.
///
/// Only kept steps test the stop rules and report progress; rejected steps and
/// restarts test the time and data-pass limits alone, so that a run of
/// rejected steps cannot outlast them. A search direction of length 0 (the
/// gradient vanishes exactly) ends the run with reason Small Gradient, since
/// no step can be taken along it.
///
/// Failures: a curvature estimate that overflows ends the run with status
/// Inconsistent and code 50001 (error severity); the network then holds the
/// weights of the last trial step. A cancelled run answers code 1 (error
/// severity), status Cancelled, and the network holds the last accepted
/// weights. In every other case the network ends at the last accepted weights,
/// or, with test data, at the best-verified ones (unless the run stopped on
/// accuracy).
///
/// Saved forms: binary record "SCG", XML object "ScaledConjGrad" (see
/// BatchOptimizer). Read failures write "Error reading ScaledConjGrad!\n"
/// (binary) or "Failure reading ScaledConjGrad!\n" (XML).
class ScaledConjGrad : public BatchOptimizer {
 public:
  /// Neither is owned; both must outlive the optimizer. Every progress value
  /// from fTrainErrorPrev to the accuracy starts missing.
  ScaledConjGrad(MLPSettings* settings, NNetwork* network);
  ~ScaledConjGrad() override;

  /// Trains until a stop rule fires, the curvature overflows, or the host
  /// cancels. fNIterations counts every iteration, kept or not.
  VXCommon_1_2::VXStatus Train(VXCommon_1_2::VXStatus& status,
                               VXCommon_1_2::MultiPassRecordIter& train,
                               VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                               int nTest) override;
  /// One scaled step (sigma and lambda from the settings) along the steepest
  /// descent of the old records (at most fNRecordsProcessed of train) and the
  /// nNew new ones together. A step that would raise their error is not
  /// taken and leaves the weights exactly as they were.
  VXCommon_1_2::VXStatus UpdateBatch(VXCommon_1_2::VXStatus& status,
                                     VXCommon_1_2::MultiPassRecordIter& train,
                                     VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                     bool& changed) override;

  /// The training and test errors, gradient norm, relative change and error
  /// ratio of the current iteration; the setter also stores the records
  /// processed when nRecords is not negative.
  void GetProgressValues(double& trainError, double& testError, double& gradientNorm,
                         double& relChange, double& errorRatio) override;
  void SetProgressValues(double trainError, double testError, double gradientNorm, double relChange,
                         double errorRatio, int nRecords) override;

 protected:
  const char* BinaryTag() const override { return "SCG"; }
  const char* ClassName() const override { return "ScaledConjGrad"; }
};
