// The output solver of an RBF network: the output weights by least squares
// on the hidden activations, in one data pass.
#pragma once

#include <iosfwd>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/optim/LinearOutputSolver.h"

class NeuralSettings;
class NNetwork;

/// The regressors of a record are the hidden layer's activations after a
/// forward pass through the input and hidden layers; the dependent variables
/// are the record's encoded targets. Over RadialBasis units the model has a
/// constant (the output bias); over NormalizedRadialBasis units it has none.
/// The solved error 0.5 * (sum of the residual sums of squares) becomes the
/// network's error and fEstError.
///
/// The settings (for the host's cancel object) and the network are not owned
/// and must outlive the solver. Cancellation is latched: once the host said
/// stop, every later pass answers code 1 with error severity and status
/// Cancelled, and the output weights stay as they were.
///
/// Saved forms: binary "LRG", status, stop reason, fElapsedTime,
/// fNIterations, fNDataPasses, fNRecordsProcessed, fEstError (39 bytes), then
/// the regression's "MVR" record when there is one; XML object "RBFLinReg"
/// with the same values and the nested "MultiVariateRegression" object.
/// A solver given a network expects the regression in the stream; the
/// reading form without one also accepts a stream without it.
/// Readers fail with "Error reading RBFLinReg!\n" / "Failure reading
/// RBFLinReg!\n" (or the regression's own message), throw a new
/// VXNeural::IOException by pointer and leave the solver unchanged.
class RBFLinReg {
 public:
  /// The reading form: no settings, no network, no regression. Give it a
  /// network with SetNetwork before solving.
  RBFLinReg();
  /// A regression with regressors = the hidden layer's unit count, constant =
  /// (hidden activation is RadialBasis), q = the network's outputs.
  RBFLinReg(const NeuralSettings* settings, NNetwork* network);
  /// Copies every value and the regression (deep); the settings and network
  /// references are shared.
  RBFLinReg(const RBFLinReg& other);
  /// As the copy constructor.
  RBFLinReg& operator=(const RBFLinReg& other);
  /// Destroys the regression, never the network.
  virtual ~RBFLinReg();

  /// Sets the elapsed time, in seconds.
  virtual void SetElapsedTime(double seconds) { fSolver.SetElapsedTime(seconds); }

  /// Points the solver at other settings and network (not owned).
  void SetNetwork(const NeuralSettings* settings, NNetwork* network) {
    fSolver.SetNetwork(settings, network);
  }
  /// The network trained (not owned); null in the reading form.
  NNetwork* GetNetwork() const { return fSolver.GetNetwork(); }
  /// After the network's hidden unit count changed: when the regression no
  /// longer fits the network, a new one is made and elapsed time, status,
  /// stop reason, iterations and records go to 0, fEstError to the missing
  /// value. A regression that fits is kept as it is.
  void ReInitialize() { fSolver.ReInitialize(); }

  ///@{
  /// Forward pass through input and hidden layers, then the activations and
  /// the record's targets are added to the regression with weight 1. record
  /// holds the network's inputs followed by its encoded targets; a shorter
  /// record is skipped.
  void AddRecord(const VXCommon_1_2::Record& record);
  void AddRecord(const double* record) { fSolver.AddRecord(record); }
  ///@}
  ///@{
  /// The records of one pass added to many solvers (networks with the same
  /// inputs and outputs), each record read once: LinearOutputSolver's
  /// AddRecords. Returns the records read; in a data-parallel pass, those
  /// of every process, askHost asked at the exchange, and minus the code
  /// when the exchange failed.
  static int AddRecords(const std::vector<RBFLinReg*>& solvers,
                        VXCommon_1_2::MultiPassRecordIter& source, int limit,
                        const std::function<bool()>& stop,
                        const std::function<bool()>& askHost = {});
  ///@}
  /// Rewinds source, accumulates at most limit records (polling the cancel
  /// object before each), rewinds again, then solves and sets the output
  /// weights, the network's error and fEstError. Status Trained, stop reason
  /// Stopped Computed; on cancellation status Cancelled and code 1 (error).
  VXCommon_1_2::VXStatus TrainPass(VXCommon_1_2::MultiPassRecordIter& source, int limit) {
    return fSolver.TrainPass(source, limit, true);
  }
  /// Solves what AddRecord accumulated (no data is read); counts one
  /// iteration and one data pass.
  VXCommon_1_2::VXStatus Solve() { return fSolver.Solve(); }
  /// Adds at most limit new records from where source stands (rewinding it
  /// afterwards) to the cross-products kept from earlier passes and solves
  /// again; the weights change (changed = true) only when the new fit's
  /// error is below the current weights' error over old and new records.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& source, int limit,
                                bool& changed) {
    return fSolver.Update(source, limit, changed);
  }

  /// Asks the host's cancel object while not cancelled and latches a
  /// positive answer.
  bool IsCanceled() { return fSolver.IsCanceled(); }
  /// NotStarted, InProgress, Updating, Trained, Cancelled or Inconsistent.
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const { return fSolver.GetAlgorithmStatus(); }
  /// Stopped Computed after a solve; kStoppedUndefined before.
  VXNNCommon::StopReason GetStopReason() const { return fSolver.GetStopReason(); }
  /// Seconds of the last timing.
  double GetElapsedTime() const { return fSolver.GetElapsedTime(); }
  /// The solves so far.
  int GetNIterations() const { return fSolver.GetNIterations(); }
  /// The data passes so far.
  int GetNDataPasses() const { return fSolver.GetNDataPasses(); }
  /// The records of the last fit, plus those of the updates since.
  int GetNRecordsProcessed() const { return fSolver.GetNRecordsProcessed(); }
  /// The solved error, 0.5 * the summed residual sums of squares; the
  /// missing value before the first solve.
  double GetEstError() const { return fSolver.GetEstError(); }
  /// Reads the processor clock as the start of a timing.
  void StartClock() { fSolver.StartClock(); }
  /// Stores the seconds since StartClock as the elapsed time and returns them.
  double StopClock() { return fSolver.StopClock(); }
  /// Null in the reading form until a regression is read or made.
  const MultiVariateRegression* GetRegression() const { return fSolver.GetRegression(); }

  /// Writes the binary form (see the class comment); returns the bytes
  /// written.
  int WriteObject(std::ostream& out) const { return fSolver.WriteObject(out); }
  /// Reads the binary form; returns the bytes read. Fails as the class
  /// comment says.
  int ReadObject(std::istream& in) { return fSolver.ReadObject(in); }
  /// Writes the XML form; returns the values written.
  int WriteObjectXML(std::ostream& out) const { return fSolver.WriteObjectXML(out); }
  /// Reads the XML form; returns the values read. Fails as the class comment
  /// says.
  int ReadObjectXML(std::istream& in) { return fSolver.ReadObjectXML(in); }
  /// A readable listing of the progress record and the regression.
  void Display(std::ostream& out) const { fSolver.Display(out); }

 private:
  VXNeural::LinearOutputSolver fSolver;
};
