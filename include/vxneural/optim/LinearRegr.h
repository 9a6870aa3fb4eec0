// Training method "Linear Regression" of an MLP without a hidden layer and
// with Identity outputs: the output weights by least squares on the
// network inputs, in one data pass.
#pragma once

#include <iosfwd>

#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/LinearOutputSolver.h"

class MLPSettings;
class NNetwork;

/// The regressors of a record are its first values (the network inputs)
/// with the constant always in the model, so each output row is the bias
/// and one weight per input; the dependent variables are the encoded
/// targets. There are no iterations, learning rates or stop rules: Train
/// reads the training records once (from where the iterator stands, at most
/// nTrain) and solves; test data are not used. It fails (error severity,
/// weights unchanged) when cancelled (code 1, status Cancelled), when the
/// solver has no network or its regression does not fit it (50001), when
/// the source fails (50014), and in a shared training when the exchange
/// fails or the shares do not match (50021, 50020).
///
/// The settings and the network are not owned and must outlive the solver.
///
/// Saved forms: binary "LRG" and the same 39-byte progress record as
/// RBFLinReg, then the regression's "MVR" record; XML object "LinearRegr".
/// Readers fail with "Error reading LinearRegr!\n" / "Failure reading
/// LinearRegr!\n" (or the regression's own message).
class LinearRegr : public IOptimizationAlgorithm {
 public:
  /// A regression with regressors = the network's inputs, the constant, q =
  /// the network's outputs.
  LinearRegr(MLPSettings* settings, NNetwork* network);
  ~LinearRegr() override;

  /// One training pass and solve.
  VXCommon_1_2::VXStatus Train(VXCommon_1_2::VXStatus& status,
                               VXCommon_1_2::MultiPassRecordIter& train,
                               VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                               int nTest) override;
  /// At most nNew records of newRecords join the cross-products kept from
  /// the earlier passes; the weights move only when the new fit is better
  /// over old and new records together. train is not read again.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::VXStatus& status,
                                VXCommon_1_2::MultiPassRecordIter& train,
                                VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                bool& changed) override;

  int GetNIterations() const override { return fSolver.GetNIterations(); }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override {
    return fSolver.GetAlgorithmStatus();
  }
  VXNNCommon::StopReason GetStopReason() const override { return fSolver.GetStopReason(); }
  double GetElapsedTime() const override { return fSolver.GetElapsedTime(); }
  void SetElapsedTime(double seconds) override { fSolver.SetElapsedTime(seconds); }
  int GetNDataPasses() const override { return fSolver.GetNDataPasses(); }
  int GetNRecordsProcessed() const override { return fSolver.GetNRecordsProcessed(); }
  /// No gradient: 0.
  double GetLastGradientNorm() const override { return 0.0; }
  /// The least-squares error of the solved weights (fEstError), which the
  /// driver reports as the training error.
  double GetTrainError() const override { return fSolver.GetEstError(); }
  /// Test data are not evaluated: the missing value.
  double GetTestError() const override;
  /// No iterations to compare: 0.
  double GetRelChangeInErr() const override { return 0.0; }
  /// Not computed: 0.
  double GetErrorRatio() const override { return 0.0; }
  /// Not computed: 0.
  double GetAccuracy() const override { return 0.0; }
  /// No gradient: does nothing.
  void ResetGradient() override {}

  /// The solved error, 0.5 * the summed residual sums of squares; the
  /// missing value before the first solve.
  double GetEstError() const { return fSolver.GetEstError(); }
  /// The regression held.
  const MultiVariateRegression* GetRegression() const { return fSolver.GetRegression(); }

  int WriteObject(std::ostream& out) const override { return fSolver.WriteObject(out); }
  int ReadObject(std::istream& in) override { return fSolver.ReadObject(in); }
  int WriteObjectXML(std::ostream& out) const override { return fSolver.WriteObjectXML(out); }
  int ReadObjectXML(std::istream& in) override { return fSolver.ReadObjectXML(in); }
  void Display(std::ostream& out) const override { fSolver.Display(out); }

  /// The solver's own latched poll of the settings' cancel object.
  bool IsCanceled() override { return fSolver.IsCanceled(); }

 private:
  VXNeural::LinearOutputSolver fSolver;
};
