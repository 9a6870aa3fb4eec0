// Full-batch gradient descent with momentum for MLP training.
#pragma once

#include "vxneural/optim/IOptimizationAlgorithm.h"

/// Each iteration takes one step D = (W - eta * G) + alpha * A from the
/// accepted weights W along the gradient G with momentum over the previous
/// step A. A step that does not lower the training error is not taken: eta
/// halves and the step is recomputed from the same W, A and G. The momentum
/// coefficient is capped so that the momentum term never outweighs the
/// gradient term. Learning rate and momentum start from the settings' values
/// in every run.
///
/// Saved forms: binary record "GDB", XML object "GradientDescentBatch" (see
/// BatchOptimizer). Read failures write "Error reading GradientDescentBatch!\n"
/// (binary) or "Failure reading GradientDescentBatch!\n" (XML).
class GradientDescentBatch : public BatchOptimizer {
 public:
  /// Neither is owned; both must outlive the optimizer. The accuracy starts
  /// at 0.
  GradientDescentBatch(MLPSettings* settings, NNetwork* network);
  ~GradientDescentBatch() override;

  /// Trains until a stop rule fires or the host cancels. With test data the
  /// network ends at the best-verified weights (unless the run stopped on
  /// accuracy). fNIterations receives the number of iterations made.
  ///
  /// The step search halves eta without bound, but gives up once the
  /// data-pass or time limit has been reached: the network then keeps W and
  /// the stop rules end the run. A run cancelled during an iteration keeps
  /// the last accepted weights and reports code 1 with error severity.
  VXCommon_1_2::VXStatus Train(VXCommon_1_2::VXStatus& status,
                               VXCommon_1_2::MultiPassRecordIter& train,
                               VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                               int nTest) override;
  /// One plain step (learning rate GetEtaLow(), no momentum) along the
  /// gradient of the old and the new records together, taken only when it
  /// lowers their error; otherwise the weights stay exactly as they were.
  VXCommon_1_2::VXStatus UpdateBatch(VXCommon_1_2::VXStatus& status,
                                     VXCommon_1_2::MultiPassRecordIter& train,
                                     VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                     bool& changed) override;

 protected:
  const char* BinaryTag() const override { return "GDB"; }
  const char* ClassName() const override { return "GradientDescentBatch"; }
};
