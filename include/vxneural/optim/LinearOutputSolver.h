// The engine shared by the two least-squares output solvers (RBFLinReg for
// RBF networks, LinearRegr for MLPs without a hidden layer): the progress
// record, the training pass, the solve, the update, the saved forms and the
// display. The two differ only in where a record's regressors come from and
// in their names.
#pragma once

#include <ctime>
#include <functional>
#include <iosfwd>
#include <memory>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/optim/MultiVariateRegression.h"

class NeuralSettings;
class NNetwork;

namespace VXNeural {

/// The output layer's weights are the regression coefficients: the row of
/// output unit t is the p coefficients of dependent variable t (the bias
/// first when the model has the constant), so the whole layer is set by
/// copying them block by block.
///
/// With a vector kernel (PassKernel.h) the passes over a source form their
/// sums in fixed blocks of records on the pass threads (PassThreads.h), the
/// same bits for any thread count; the source and the cancel object are used
/// on the calling thread only. The reference kernel adds one record at a
/// time on the calling thread.
class LinearOutputSolver {
 public:
  /// Hidden activations of an RBF network, or the network inputs of an MLP
  /// without a hidden layer.
  enum Regressors { kHiddenActivations, kNetworkInputs };

  /// className names the saved object, the display and the read failures.
  /// settings and network are not owned and may be null (the reading form).
  LinearOutputSolver(const char* className, Regressors regressors, const NeuralSettings* settings,
                     NNetwork* network);
  /// A copy of the progress record and the regression, over the same
  /// settings and network.
  LinearOutputSolver(const LinearOutputSolver& other);
  /// As the copy constructor.
  LinearOutputSolver& operator=(const LinearOutputSolver& other);
  /// Destroys the regression, never the network.
  ~LinearOutputSolver();

  /// Points the solver at other settings and network (not owned).
  void SetNetwork(const NeuralSettings* settings, NNetwork* network);
  /// The network trained (not owned); null in the reading form.
  NNetwork* GetNetwork() const { return fNetwork; }
  /// A regression shaped for the network: regressors = its hidden units (or
  /// inputs), constant = RadialBasis hidden units (always for inputs), q =
  /// its outputs. Null without a network.
  std::unique_ptr<MultiVariateRegression> MakeRegression() const;
  /// Makes a new regression and clears the progress record unless the one
  /// held already fits the network.
  void ReInitialize();

  /// Polls the settings' cancel object while not cancelled; latches. In a
  /// shared training, the run's cancel (the host is asked at exchanges).
  bool IsCanceled();
  /// The settings' cancel object's answer now (false without one).
  bool HostCanceled() const;
  /// The latched cancel flag, without asking the host.
  bool CancelFlag() const { return fCancelled; }

  /// The operations below return code 50001 (error) and change nothing when
  /// the solver has no network or its regression does not fit the network
  /// (call ReInitialize after the hidden unit count changes); TrainPass
  /// makes a fitting regression itself, since it starts a new fit anyway.
  /// A source that fails during the pass of TrainPass or Update (its status
  /// neither good nor end of data) gives 50014 (error), state Inconsistent,
  /// and the output weights as they were.
  void AddRecord(const double* record);
  /// Reads records of source from where it stands, while fewer than limit
  /// have been read, it is good and stop() (asked before every record) says
  /// no, and adds each to every solver as AddRecord would (a short record
  /// counts towards the limit and is skipped). The solvers share the
  /// numbers of inputs and outputs of their networks; one that AddRecord
  /// would refuse is left out. Returns the records read. The source and
  /// stop are used on the calling thread only.
  static int AddRecords(const std::vector<LinearOutputSolver*>& solvers,
                        VXCommon_1_2::MultiPassRecordIter& source, int limit,
                        const std::function<bool()>& stop,
                        const std::function<bool()>& askHost = {});
  /// One fit: rewinds source first when asked, reads at most limit records
  /// into a fresh regression, rewinds it, counts a data pass, then solves as
  /// Solve does.
  VXCommon_1_2::VXStatus TrainPass(VXCommon_1_2::MultiPassRecordIter& source, int limit,
                                   bool rewindFirst);
  /// Solves the regression from the records added so far (AddRecord,
  /// AddRecords), copies the coefficients into the output layer, stores
  /// the error and counts a data pass and an iteration. State Trained, stop
  /// reason Computed; a cancel answers code 1.
  VXCommon_1_2::VXStatus Solve();
  /// Adds at most limit records of source to the regression and refits;
  /// the new weights are kept (changed true) only when their error is
  /// below the old weights' error on the old and new records together.
  /// Rewinds source.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& source, int limit,
                                bool& changed);

  /// Reads the processor clock as the start of a timing.
  void StartClock();
  /// Stores the seconds since StartClock in fElapsedTime and returns them.
  double StopClock();
  /// The regression held; null before the first fit in the reading form.
  const MultiVariateRegression* GetRegression() const { return fRegression.get(); }

  /// NotStarted, InProgress, Updating, Trained, Cancelled or Inconsistent.
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const { return fStatus; }
  /// Computed after a solve; kStoppedUndefined before.
  VXNNCommon::StopReason GetStopReason() const { return fStopReason; }
  /// Seconds of the last timing.
  double GetElapsedTime() const { return fElapsedTime; }
  /// Sets the elapsed time, in seconds.
  void SetElapsedTime(double seconds) { fElapsedTime = seconds; }
  /// The solves so far.
  int GetNIterations() const { return fNIterations; }
  /// The data passes so far.
  int GetNDataPasses() const { return fNDataPasses; }
  /// The records of the last fit, plus those of the updates since.
  int GetNRecordsProcessed() const { return fNRecordsProcessed; }
  /// Half the summed residual sums of squares of the fit kept; the missing
  /// value before the first.
  double GetEstError() const { return fEstError; }

  /// The progress record of a saved solver.
  struct SavedProgress;

  /// Writes the binary form: the progress record, then the regression when
  /// there is one. Returns the bytes written.
  int WriteObject(std::ostream& out) const;
  /// Reads the binary form; returns the bytes read. A read that fails throws
  /// a new VXNeural::IOException by pointer.
  int ReadObject(std::istream& in);
  /// Writes the XML form of the same values; returns the values written.
  int WriteObjectXML(std::ostream& out) const;
  /// Reads the XML form; returns the values read. Fails as ReadObject does.
  int ReadObjectXML(std::istream& in);
  /// A readable listing of the progress record and the regression.
  void Display(std::ostream& out) const;

 private:
  bool Fits(const MultiVariateRegression& r) const;
  /// Forward pass as far as the regressors and the record added to the
  /// regression; with predictionError, also the output layer, and the
  /// record's squared error at the current weights is returned.
  double Accumulate(const double* record, bool predictionError);
  /// Reads at most limit records of source from where it stands (polling
  /// the cancel object before each); returns the summed squared error when
  /// predictionError is set.
  double ReadRecords(VXCommon_1_2::MultiPassRecordIter& source, int limit, bool predictionError,
                     int& nRead);
  int Width() const;
  /// Estimates (keeping the cross-products) and returns 0.5 * the summed
  /// residual sums of squares.
  double EstimateError();
  void CopyCoefficients();
  void StoreError(double error);
  VXCommon_1_2::VXStatus Cancelled();
  VXCommon_1_2::VXStatus Mismatch();
  VXCommon_1_2::VXStatus SourceFailure();
  /// The end of a training pass or solve: estimate, set the output weights
  /// and the error, count the iteration.
  VXCommon_1_2::VXStatus SolveAccumulated();
  void Adopt(const SavedProgress& saved, std::unique_ptr<MultiVariateRegression> regression);

  const char* fClassName;
  Regressors fRegressors;
  bool fCancelled;
  const NeuralSettings* fSettings;
  NNetwork* fNetwork;
  VXNNCommon::AlgorithmStatus fStatus;
  VXNNCommon::StopReason fStopReason;
  double fElapsedTime;
  int fNIterations;
  int fNDataPasses;
  int fNRecordsProcessed;
  double fEstError;
  std::clock_t fStartTicks;
  std::clock_t fEndTicks;
  std::unique_ptr<MultiVariateRegression> fRegression;
};

}  // namespace VXNeural
