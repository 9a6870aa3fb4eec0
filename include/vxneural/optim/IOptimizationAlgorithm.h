// The optimizer interface every MLP training method implements, and the
// common base of the batch optimizers (gradient descent and scaled conjugate
// gradient): their progress record, stop rules, verifying cycle, progress
// reports, mini-batch update and saved forms.
#pragma once

#include <ctime>
#include <iosfwd>
#include <memory>
#include <valarray>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"

class MLPSettings;
class NNetwork;

namespace VXNeural {
class RecordBufferIter;
}

/// An optimizer trains a network it does not own, in place, pass by pass over
/// encoded records. The network and the settings it was given must outlive it.
///
/// Failures are returned, never thrown: a cancelled run answers code 1 with
/// error severity and leaves the optimizer in status Cancelled. Only the
/// stream readers throw (a new VXNeural::IOException, by pointer, after one
/// line on standard error).
class IOptimizationAlgorithm {
 public:
  /// cancel is the host's cancel object (may be null), not owned.
  explicit IOptimizationAlgorithm(VXCommon_1_2::VXQueryCancel* cancel)
      : fCancel(cancel), fCanceled(false), fSourceFailure(0) {}
  IOptimizationAlgorithm(const IOptimizationAlgorithm&) = delete;
  IOptimizationAlgorithm& operator=(const IOptimizationAlgorithm&) = delete;
  /// Destroys the optimizer, never the network.
  virtual ~IOptimizationAlgorithm() = default;

  /// A full run. test may be null; nTrain and nTest bound the records read
  /// per pass. status receives the result, which is also returned.
  virtual VXCommon_1_2::VXStatus Train(VXCommon_1_2::VXStatus& status,
                                       VXCommon_1_2::MultiPassRecordIter& train,
                                       VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                                       int nTest) = 0;
  /// Continues training with nNew new records; changed tells whether the
  /// weights moved.
  virtual VXCommon_1_2::VXStatus Update(VXCommon_1_2::VXStatus& status,
                                        VXCommon_1_2::MultiPassRecordIter& train,
                                        VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                        bool& changed) = 0;

  /// The iterations of the run so far.
  virtual int GetNIterations() const = 0;
  /// Does nothing here; an optimizer that lets the driver carry its
  /// iteration count over overrides it with a store.
  virtual void SetNIterations(int) {}
  /// The optimizer's state (Cancelled after a cancel).
  virtual VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const = 0;
  /// Does nothing here; an optimizer that lets the driver carry its state
  /// over overrides it with a store.
  virtual void SetAlgorithmStatus(const VXNNCommon::AlgorithmStatus&) {}
  /// The rule that stopped the run; kStoppedUndefined while none has.
  virtual VXNNCommon::StopReason GetStopReason() const = 0;
  /// Does nothing here; an optimizer that lets the driver carry its stop
  /// reason over overrides it with a store.
  virtual void SetStopReason(const VXNNCommon::StopReason&) {}
  /// Seconds.
  virtual double GetElapsedTime() const = 0;
  /// Sets the elapsed time, in seconds.
  virtual void SetElapsedTime(double seconds) = 0;
  /// The passes over the training records so far.
  virtual int GetNDataPasses() const = 0;
  /// Does nothing here; an optimizer that lets the driver carry its pass
  /// count over overrides it with a store.
  virtual void SetNDataPasses(int) {}
  /// The records processed so far.
  virtual int GetNRecordsProcessed() const = 0;
  /// Does nothing here; an optimizer that lets the driver carry its record
  /// count over overrides it with a store.
  virtual void SetNRecordsProcessed(int) {}
  /// The norm of the last gradient computed.
  virtual double GetLastGradientNorm() const = 0;
  /// The current iteration's training error.
  virtual double GetTrainError() const = 0;
  /// The current iteration's test error.
  virtual double GetTestError() const = 0;
  /// The relative change of the error in the last iteration (RelativeChange);
  /// the missing value until there is one.
  virtual double GetRelChangeInErr() const = 0;
  /// The training error over the error of the mean model (ErrorRatio); the
  /// missing value until there is one.
  virtual double GetErrorRatio() const = 0;
  /// A fraction in [0, 1] (or the missing value).
  virtual double GetAccuracy() const = 0;
  /// The accumulated gradient sized to the network's weights and zeroed, and
  /// the accumulated error 0.
  virtual void ResetGradient() = 0;
  /// Hands out the progress figures; does nothing (leaves the arguments as
  /// they are) except where an optimizer says otherwise.
  virtual void GetProgressValues(double& /*trainError*/, double& /*testError*/,
                                 double& /*gradientNorm*/, double& /*relChange*/,
                                 double& /*errorRatio*/) {}
  /// Puts progress figures back; accepted and ignored except where an
  /// optimizer says otherwise.
  virtual void SetProgressValues(double /*trainError*/, double /*testError*/,
                                 double /*gradientNorm*/, double /*relChange*/,
                                 double /*errorRatio*/, int /*nRecords*/) {}

  /// Writes the binary form; returns the bytes written.
  virtual int WriteObject(std::ostream& out) const = 0;
  /// Reads the binary form; returns the bytes read. A reader that fails
  /// throws a new VXNeural::IOException by pointer and leaves the optimizer
  /// as it was.
  virtual int ReadObject(std::istream& in) = 0;
  /// Writes the XML form; returns the values written.
  virtual int WriteObjectXML(std::ostream& out) const = 0;
  /// Reads the XML form; returns the values read. Fails as ReadObject does.
  virtual int ReadObjectXML(std::istream& in) = 0;
  /// A readable listing of the optimizer's state, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;

  /// Asks the host's cancel object while the flag is false and latches a
  /// positive answer: once cancelled, always cancelled.
  virtual bool IsCanceled();

  /// The code of a record source that failed during one of this optimizer's
  /// passes: 50014 for the training or new records, 50015 for the test
  /// records; 0 while none has. Latched like a cancel: the run stops at its
  /// next check and answers the code as an error, in state Inconsistent.
  int GetSourceFailure() const { return fSourceFailure; }

 protected:
  /// After a pass over source and before rewinding it: a status other than
  /// good or end of data latches code (the first failure is kept). Returns
  /// whether a source has failed.
  bool CheckSource(VXCommon_1_2::RecordIterator& source, int code);
  /// Cancelled or a source failed: the run must stop.
  bool Halted() { return IsCanceled() || fSourceFailure != 0; }
  /// The end of a run: when cancelled, state Cancelled and code 1; else when
  /// a source failed, state Inconsistent and its code (both errors). Returns
  /// whether the run was halted; state and status are left alone otherwise.
  bool EndHalted(VXNNCommon::AlgorithmStatus& state, VXCommon_1_2::VXStatus& status);

  /// The thresholds and call-backs of one run, read from the settings at its
  /// start.
  struct RunLimits {
    VXCommon_1_2::ProgressListener* listener = nullptr;  ///< The host's listener; may be null.
    int nSkippedReports = 0;              ///< Iterations skipped between two reports.
    double maxTime = 0.0;                 ///< The time rule's limit, in seconds.
    double minRelativeChangeError = 0.0;  ///< The relative-change rule's threshold.
    double minErrorRatio = 0.0;           ///< The error-ratio rule's threshold.
    double gradientNormLimit = 0.0;       ///< The small-gradient rule's threshold.
    int maxNDataPasses = 0;               ///< The data-pass rule's limit.
    int maxNStepsTrackError = 0;          ///< Iterations the verifying cycle allows past the best.
    /// A fraction: the settings' percentage times 0.01.
    double accuracy = 0.0;
  };
  /// The run's limits and call-backs, as the settings hold them now.
  static RunLimits ReadRunLimits(const MLPSettings& settings);
  /// Seconds since start on the processor clock.
  static double SecondsSince(std::clock_t start);
  /// The first of the time, data-pass, relative-change, error-ratio and
  /// accuracy rules that fires, in that order; kStoppedUndefined when none
  /// does. A missing relChange, errorRatio or accuracy switches its rule off.
  static VXNNCommon::StopReason FirstStopRule(const RunLimits& limits, double elapsed,
                                              int dataPasses, double relChange, double errorRatio,
                                              double accuracy);
  /// Relative change |eNew - eOld| / ((eOld + eNew) / 2 + 1e-10).
  static double RelativeChange(double eOld, double eNew);
  /// e / (eAvg + 1e-10).
  static double ErrorRatio(double e, double eAvg);
  /// After an iteration: with a listener, a report on this optimizer when
  /// counter is 0 or the run has stopped (its elapsed time brought up to date
  /// from start first); then the counter advances and wraps to 0 past the
  /// skipped-reports count.
  void ReportProgress(const RunLimits& limits, int& counter, bool stopped, std::clock_t start);

  /// The latched flag alone, without asking the host (for const displays).
  bool CancelFlag() const { return fCanceled; }

 private:
  VXCommon_1_2::VXQueryCancel* fCancel;
  bool fCanceled;
  int fSourceFailure;
};

/// The common part of GradientDescentBatch and ScaledConjGrad: the progress
/// record with its getters, the run limits read from the settings, the stop
/// rules in their fixed order, the verifying cycle over test data, progress
/// reports, the mini-batch update, and the saved forms and display (the two
/// differ only in their tag and name).
///
/// A derived Train is expected to call, in this order: StartRun; passes
/// through TrainPass and TestPass; StartVerifying with test data; after each
/// step TestGradientRule (right after a gradient), VerifyIteration (with test
/// data), TestStopRules, RestoreBest once stopped, ReportProgress; and
/// FinishRun after its loop.
class BatchOptimizer : public IOptimizationAlgorithm {
 public:
  BatchOptimizer(const BatchOptimizer&) = delete;
  BatchOptimizer& operator=(const BatchOptimizer&) = delete;
  ~BatchOptimizer() override;

  /// Chooses UpdateBatch when the settings' update type is Batch, else
  /// UpdateMiniBatch.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::VXStatus& status,
                                VXCommon_1_2::MultiPassRecordIter& train,
                                VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                bool& changed) override;
  /// One step over the old (at most fNRecordsProcessed records of train) and
  /// the new records together.
  virtual VXCommon_1_2::VXStatus UpdateBatch(VXCommon_1_2::VXStatus& status,
                                             VXCommon_1_2::MultiPassRecordIter& train,
                                             VXCommon_1_2::MultiPassRecordIter& newRecords,
                                             int nNew, bool& changed) = 0;
  /// Small momentum steps over buffered mini-batches of the new records;
  /// train is not used. Records that do not fill a quarter of a mini-batch
  /// wait in the buffer for the next update.
  virtual VXCommon_1_2::VXStatus UpdateMiniBatch(VXCommon_1_2::VXStatus& status,
                                                 VXCommon_1_2::MultiPassRecordIter& train,
                                                 VXCommon_1_2::MultiPassRecordIter& newRecords,
                                                 int nNew, bool& changed);

  int GetNIterations() const override { return fNIterations; }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override { return fAlgorithmStatus; }
  VXNNCommon::StopReason GetStopReason() const override { return fStopReason; }
  double GetElapsedTime() const override { return fElapsedTime; }
  void SetElapsedTime(double seconds) override { fElapsedTime = seconds; }
  int GetNDataPasses() const override { return fNDataPasses; }
  int GetNRecordsProcessed() const override { return fNRecordsProcessed; }
  double GetLastGradientNorm() const override { return fLastGradientNorm; }
  double GetTrainError() const override { return fTrainErrorNew; }
  double GetTestError() const override { return fTestErrorNew; }
  double GetRelChangeInErr() const override { return fRelChangeInErr; }
  double GetErrorRatio() const override { return fErrorRatio; }
  double GetAccuracy() const override { return fAccuracy; }
  void ResetGradient() override;

  /// Binary: the tag, the progress record (without the accuracy), the
  /// gradient, fAccumError, fMiniBatchSize and, when that is at least 1, the
  /// buffer's width and the buffer. XML: an object named after the class with
  /// the same values. Readers check every count (the gradient must match the
  /// network's weight count, the buffer its width and fMiniBatchSize) before
  /// allocating, and change nothing unless the whole object reads.
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  /// Shows the latched cancel flag; it does not poll the host.
  void Display(std::ostream& out) const override;

  /// The mini-batch buffer; null before the first mini-batch update.
  const VXNeural::RecordBufferIter* GetRecordBuffer() const { return fRecordBuffer.get(); }
  /// The records per mini-batch of the mini-batch update (from the
  /// settings at its first call, or as a saved form restored it); 0 before.
  int GetMiniBatchSize() const { return fMiniBatchSize; }
  /// The accumulated error the optimizer keeps from its last pass.
  double GetAccumError() const { return fAccumError; }
  /// The accumulated gradient the optimizer keeps, one entry per weight.
  const std::valarray<double>& GetAccumGradient() const { return fAccumGradient; }

 protected:
  /// The eight progress values a verifying cycle remembers and restores.
  struct ProgressValues {
    double trainErrorPrev;    ///< The previous iteration's training error.
    double testErrorPrev;     ///< The previous iteration's test error.
    double trainErrorNew;     ///< The current iteration's training error.
    double testErrorNew;      ///< The current iteration's test error.
    double lastGradientNorm;  ///< The last gradient's norm.
    double relChangeInErr;    ///< The relative change of the error.
    double errorRatio;        ///< The error ratio.
    double accuracy;          ///< The accuracy, a fraction.
  };

  /// The best-verified iteration of a run with test data.
  struct BestIterate {
    int iteration = 1;               ///< The best iteration.
    double testError = 0.0;          ///< Its test error.
    double accumError = 0.0;         ///< Its accumulated training error.
    std::valarray<double> weights;   ///< Its weights.
    std::valarray<double> gradient;  ///< Its accumulated gradient.
    ProgressValues values{};         ///< Its progress values.
  };

  /// Status, stop reason and counts 0, fElapsedTime 0, the seven errors from
  /// fTrainErrorPrev to fErrorRatio missing, the accuracy as given,
  /// fAccumGradient the network's weight count of zeros, no buffer, both
  /// clocks read. The cancel object comes from the settings.
  BatchOptimizer(MLPSettings* settings, NNetwork* network, double initialAccuracy);

  /// Tag of the binary form ("GDB", "SCG").
  virtual const char* BinaryTag() const = 0;
  /// The class name that names the XML object, the display frame and the
  /// read-failure messages.
  virtual const char* ClassName() const = 0;

  /// Reads the clock into fStartClock, the limits from the settings, and
  /// zeroes the report counter.
  void StartRun();
  /// Seconds since fStartClock from the processor clock.
  double SecondsSinceStart() const;
  /// One gradient pass over at most nTrain records of train (accuracy only
  /// when asked), then Rewind and one more data pass. Returns the records
  /// read. The network's accumulators are not reset here.
  int TrainPass(VXCommon_1_2::MultiPassRecordIter& train, int nTrain, bool computeAccuracy);
  /// Start of a batch update: puts the last run's error and gradient back in
  /// the network, adds those of at most nNew new records (rewinding them) and
  /// keeps the sums; returns the new records read.
  int AddNewRecords(VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew);
  /// One data pass over the old records (at most fNRecordsProcessed of
  /// train) and the new ones at the network's weights, rewinding both;
  /// returns the records read.
  int OldAndNewPass(VXCommon_1_2::MultiPassRecordIter& train,
                    VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew);
  /// ResetDerivatives, an error-only pass with accuracy over at most nTest
  /// records, Rewind. Returns the records read; counts no data pass.
  int TestPass(VXCommon_1_2::MultiPassRecordIter& test, int nTest);

  /// The gradient rule: when fLastGradientNorm is below the limit the run
  /// stops with reason Small Gradient and status Trained. Returns whether it
  /// stopped.
  bool TestGradientRule();
  /// Time, data passes, relative change, error ratio, accuracy, in that
  /// order; the first that fires sets its reason and status Trained. Brings
  /// fElapsedTime up to date. Returns whether the run stopped.
  bool TestStopRules();
  /// The first two of those rules alone (time, data passes), for iterations
  /// that test no other rule. Brings fElapsedTime up to date. Returns whether
  /// the run stopped.
  bool TestRunLimits();

  /// The eight progress values as they stand.
  ProgressValues GetValues() const;
  /// Puts the eight progress values back.
  void PutValues(const ProgressValues& values);
  /// Right after the starting point's training pass (the test error of the
  /// initial weights already in fTestErrorNew): that test error becomes the
  /// best, at iteration 1, with weights w, fAccumError, fAccumGradient and
  /// the progress values.
  void StartVerifying(BestIterate& best, const std::valarray<double>& w) const;
  /// After iteration i: the test pass (fTestErrorPrev takes fTestErrorNew,
  /// which takes the new error; the accuracy the new accuracy), then the
  /// cycle: a new best remembers i, w, the gradient and the values; otherwise
  /// the run stops with reason Verifying Cycle once i is the allowed number of
  /// iterations past the best. Returns whether it stopped.
  bool VerifyIteration(BestIterate& best, VXCommon_1_2::MultiPassRecordIter& test, int nTest, int i,
                       const std::valarray<double>& w);
  /// After a stop at iteration i with test data: unless i is the best or the
  /// reason is Accuracy, the network is reset and given the best weights,
  /// and fAccumError, fAccumGradient and the values are put back. Returns
  /// whether it restored.
  bool RestoreBest(const BestIterate& best, int i);
  /// After an iteration: a report when the counter is 0 or the run has
  /// stopped (with fElapsedTime brought up to date), then the counter
  /// advances and wraps past the skipped-reports count. Nothing without a
  /// listener.
  void ReportProgress(bool stopped);
  /// After the loop: the end clock is read; when cancelled, status Cancelled
  /// and status code 1 with error severity. Returns status.
  VXCommon_1_2::VXStatus& FinishRun(VXCommon_1_2::VXStatus& status);

  // The settings and network, then the progress record in its fixed order.
  MLPSettings* fSettings;                        ///< The settings (not owned).
  NNetwork* fNetwork;                            ///< The network trained (not owned).
  VXNNCommon::AlgorithmStatus fAlgorithmStatus;  ///< The optimizer's state.
  VXNNCommon::StopReason fStopReason;            ///< The rule that stopped the run.
  double fElapsedTime;                           ///< Seconds of the run so far.
  int fNIterations;                              ///< Iterations so far.
  int fNDataPasses;                              ///< Data passes so far.
  int fNRecordsProcessed;                        ///< Records processed so far.
  double fTrainErrorPrev;                        ///< The previous iteration's training error.
  double fTestErrorPrev;                         ///< The previous iteration's test error.
  double fTrainErrorNew;                         ///< The current iteration's training error.
  double fTestErrorNew;                          ///< The current iteration's test error.
  double fLastGradientNorm;                      ///< The last gradient's norm.
  double fRelChangeInErr;                        ///< The relative change of the error.
  double fErrorRatio;                            ///< The error ratio.
  double fAccuracy;                              ///< The accuracy, a fraction.
  std::valarray<double> fAccumGradient;          ///< The gradient kept, one entry per weight.
  double fAccumError;                            ///< The error kept with the gradient.
  /// The mini-batch buffer; null before the first mini-batch update.
  std::unique_ptr<VXNeural::RecordBufferIter> fRecordBuffer;
  int fMiniBatchSize;        ///< Records per mini-batch of the update; 0 before the first.
  std::clock_t fStartClock;  ///< The processor clock at the run's start.
  std::clock_t fEndClock;    ///< The processor clock at the run's end.

  RunLimits fLimits;       ///< The limits of the current run.
  int fReportCounter = 0;  ///< Iterations since the last report, of the current run.

 private:
  template <typename Writer>
  void PutFields(Writer& w) const;
  struct Saved;
  void Adopt(Saved& saved);
};
