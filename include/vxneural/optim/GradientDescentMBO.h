// Gradient descent on small groups of records held in memory: mini-batches
// of a fixed size, or single records in a freshly shuffled order (online).
// The optimizer that continues training on new records.
#pragma once

#include <ctime>
#include <iosfwd>
#include <memory>
#include <valarray>
#include <vector>

#include "vxneural/optim/IOptimizationAlgorithm.h"

class VXRandom;

/// Works on an in-memory buffer of encoded records: in mini-batch mode it is
/// filled with one mini-batch of c records at a time, in online mode with a
/// block of up to c records whose order is shuffled with the generator, one
/// step per record. Each step is tried and kept only when it lowers the error
/// on the records it was computed from:
///   D = (W - eta * g) + alpha * A,
/// with W the current weights, g the gradient on the group and A the last kept
/// step (zero at the start of every run and update). In a training run the
/// learning rate decays geometrically from GetEtaInit() to GetEtaLow() over
/// GetNEpochs() epochs' worth of steps (counted as GetNTrainRecords() / c
/// steps per epoch), and the momentum coefficient is capped so that the
/// momentum term never outweighs the gradient term; its final value is
/// written back to the settings unless the run was cancelled.
///
/// An epoch ends when the training data are used up; the last records that do
/// not fill a mini-batch are left out of that epoch's steps. Training data
/// smaller than one mini-batch are instead used whole, as one step per epoch.
/// At every epoch end the test data (when given) and, without test data or
/// with the check-training-error setting, the training data are measured;
/// the stop rules follow, and a stopped run ends at the best-measured epoch's
/// weights (the earlier of the best test and best training epochs).
///
/// The optimizer keeps no gradient and no accumulated error:
/// GetLastGradientNorm answers 0, ResetGradient does nothing.
///
/// Saved forms: binary record "GDM", XML object "GradientDescentMBO". A
/// failed read writes "Error reading GradientDescentMBO!\n" (binary) or
/// "Failure reading GradientDescentMBO!\n" (XML), or the record buffer's own
/// message, to standard error and throws a new VXNeural::IOException by
/// pointer, leaving the optimizer as it was.
class GradientDescentMBO : public IOptimizationAlgorithm {
 public:
  /// settings, network and random must outlive the optimizer; none is owned.
  /// width is the network's record width (inputs + outputs); capacity the
  /// mini-batch size (mini-batch mode) or the block size (online), a negative
  /// value taken as 0. The random generator shuffles online blocks; it may be
  /// null when training type and update type are not online.
  GradientDescentMBO(MLPSettings* settings, NNetwork* network, int width, int capacity,
                     VXRandom* random);
  ~GradientDescentMBO() override;

  /// Trains from the network's current weights until a stop rule fires or the
  /// host cancels (code 1 with error severity, status Cancelled; the network
  /// then keeps the last accepted weights). nTrain and nTest bound the
  /// records read per pass. fNIterations grows by one per step;
  /// fNRecordsProcessed counts, at every epoch end, the training records
  /// this run has taken so far.
  VXCommon_1_2::VXStatus Train(VXCommon_1_2::VXStatus& status,
                               VXCommon_1_2::MultiPassRecordIter& train,
                               VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                               int nTest) override;
  /// Steps over at most nNew records of newRecords, in mini-batches of c (a
  /// final one of at least a quarter of c is used too), or one by one in
  /// shuffled order when the settings' update type is Online; learning rate
  /// GetEtaLow(), momentum GetAlpha() without cap. train is not used.
  /// fNIterations counts this update's steps; fNRecordsProcessed grows by
  /// the records stepped on; the elapsed time accumulates over updates. The
  /// resulting weights and whether they changed are written to standard
  /// output, also after a cancel.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::VXStatus& status,
                                VXCommon_1_2::MultiPassRecordIter& train,
                                VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                bool& changed) override;

  /// Plain reads and stores, so that a driver can carry the counters over.
  int GetNIterations() const override { return fNIterations; }
  void SetNIterations(int n) override { fNIterations = n; }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override { return fAlgorithmStatus; }
  void SetAlgorithmStatus(const VXNNCommon::AlgorithmStatus& s) override { fAlgorithmStatus = s; }
  VXNNCommon::StopReason GetStopReason() const override { return fStopReason; }
  void SetStopReason(const VXNNCommon::StopReason& r) override { fStopReason = r; }
  double GetElapsedTime() const override { return fElapsedTime; }
  void SetElapsedTime(double seconds) override { fElapsedTime = seconds; }
  int GetNDataPasses() const override { return fNDataPasses; }
  void SetNDataPasses(int n) override { fNDataPasses = n; }
  int GetNRecordsProcessed() const override { return fNRecordsProcessed; }
  void SetNRecordsProcessed(int n) override { fNRecordsProcessed = n; }
  double GetLastGradientNorm() const override { return 0.0; }
  double GetTrainError() const override { return fTrainErrorNew; }
  double GetTestError() const override { return fTestErrorNew; }
  double GetRelChangeInErr() const override { return fRelChangeInErr; }
  double GetErrorRatio() const override { return fErrorRatio; }
  double GetAccuracy() const override { return fAccuracy; }
  void ResetGradient() override {}

  /// Binary: "GDM", status, stop reason, fElapsedTime, the three counts, the
  /// six errors from fTrainErrorPrev to fErrorRatio, fMiniBatchSize and, when
  /// that is at least 1, the buffer's width and the buffer (83 bytes without
  /// it). XML: the same values in an object "GradientDescentMBO". The
  /// accuracy is not saved. Readers refuse a buffer whose width is not the
  /// network's or whose capacity is not fMiniBatchSize.
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  /// Shows the latched cancel flag; it does not poll the host.
  void Display(std::ostream& out) const override;

  /// c: the mini-batch size (mini-batch mode) or block size (online), as
  /// made (a negative capacity reads 0) or as a saved form restored it.
  int GetMiniBatchSize() const { return fMiniBatchSize; }
  /// The buffer of encoded records the steps are computed from; always
  /// present, replaced whole by a successful read.
  const VXNeural::RecordBufferIter& GetRecordBuffer() const { return *fRecordBuffer; }

 private:
  /// The progress values a snapshot of a best epoch keeps.
  struct ProgressValues {
    double trainErrorPrev;
    double testErrorPrev;
    double trainErrorNew;
    double testErrorNew;
    double relChangeInErr;
    double errorRatio;
    double accuracy;
  };
  struct Snapshot {
    int epoch = 0;
    double error = 0.0;
    std::valarray<double> weights;
    ProgressValues values{};
  };
  /// The working state of one run or update.
  struct Run;
  struct Saved;

  ProgressValues GetValues() const;
  void PutValues(const ProgressValues& values);
  void TakeSnapshot(Snapshot& snapshot, int epoch, double error,
                    const std::valarray<double>& w) const;

  /// The run's vectors sized once, W the network's weights, A zero.
  void StartRun(Run& run);
  /// Empties the buffer and fills it with up to n records of source (training
  /// or new records: a failure latches 50014); in online mode draws the
  /// block's order. Returns the records taken.
  int Load(Run& run, VXCommon_1_2::RecordIterator& source, int n);
  /// The next group to step on: the whole buffer, or in online mode the
  /// next record of the block in a one-record buffer; null when none is left.
  VXNeural::RecordBufferIter* NextGroup(Run& run);
  /// One tried step on group from run.w (with the momentum cap and the
  /// learning-rate decay in a training run); returns whether it was kept.
  bool Step(Run& run, VXCommon_1_2::MultiPassRecordIter& group);
  /// The measurements, snapshots, stop rules and report of an epoch end.
  /// Returns whether the run stopped.
  bool EndEpoch(Run& run, VXCommon_1_2::MultiPassRecordIter& train,
                VXCommon_1_2::MultiPassRecordIter* test, int nTrain, int nTest);
  /// The best epoch's weights and values back, as a stopped run ends.
  void RestoreBest(Run& run);
  /// A pass over at most n records (no gradient), then Rewind; a source that
  /// failed during it latches failureCode.
  void ErrorPass(VXCommon_1_2::MultiPassRecordIter& source, int n, bool computeAccuracy,
                 int failureCode);

  template <typename Writer>
  void PutFields(Writer& w) const;
  template <typename Reader, typename ReadBuffer>
  void GetFields(Reader& r, ReadBuffer readBuffer, Saved& s) const;
  void Adopt(Saved& saved);

  MLPSettings* fSettings;
  NNetwork* fNetwork;
  VXNNCommon::AlgorithmStatus fAlgorithmStatus;
  VXNNCommon::StopReason fStopReason;
  double fElapsedTime;
  int fNIterations;
  int fNDataPasses;
  int fNRecordsProcessed;
  double fTrainErrorPrev;
  double fTestErrorPrev;
  double fTrainErrorNew;
  double fTestErrorNew;
  double fRelChangeInErr;
  double fErrorRatio;
  double fAccuracy;
  /// Never null; replaced whole by a successful read.
  std::unique_ptr<VXNeural::RecordBufferIter> fRecordBuffer;
  int fMiniBatchSize;
  VXRandom* fRandom;
  std::clock_t fStartClock;
  std::clock_t fEndClock;
};
