// The starting weights of an MLP's first training run, found from a sample of
// the data with a short annealing search, and the search of the size of a
// one-hidden-layer network ("expert architecture selection").
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <valarray>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/data/RecordBufferIter.h"

class IOptimizationAlgorithm;
class MLPSettings;
class NNetwork;
class VXRandom;
namespace VXNeural {
class PassCombiner;
struct RecordShare;
namespace detail {
struct SharedRecords;
}  // namespace detail
}  // namespace VXNeural

/// Sizes of the two in-memory sample buffers. With fromTestSource the second
/// buffer is drawn from the test source, otherwise both come from the
/// training source.
struct MLPSampleSizes {
  int nTrain = 0;               ///< Records wanted in the training buffer.
  int nTest = 0;                ///< Records wanted in the test buffer.
  bool fromTestSource = false;  ///< Whether the test buffer is drawn from the test source.
};

/// The records drawn for a search: a training and a test buffer, each of
/// record width inputs + output units, and how many records each holds.
struct MLPSample {
  std::unique_ptr<VXNeural::RecordBufferIter> train;  ///< The training buffer.
  std::unique_ptr<VXNeural::RecordBufferIter> test;   ///< The test buffer.
  int nTrain = 0;                                     ///< Records in the training buffer.
  int nTest = 0;                                      ///< Records in the test buffer.
  /// 50014 (50015) when the training (test) source failed while sampling:
  /// the sample then holds part of the data and must not be used. 0 else.
  int sourceFailure = 0;
};

/// Works on an MLP algorithm's own objects, which it reads and changes in
/// place; it owns none of them. The algorithm builds one on the stack for each
/// call (see Parts and Hooks) and forwards its ComputeSampleWeights, Annealing
/// and SelectArchitecture to it. Every search runs on at most 1000 sampled
/// records held in memory; only the sampling reads the algorithm's sources.
class MLPInitializer {
 public:
  /// References to the algorithm's fields. The network and the optimizer
  /// stay the algorithm's: when the search rebuilds them, the old objects are
  /// deleted through these references and the new ones (made by the hooks)
  /// are stored back. testData may be null.
  struct Parts {
    MLPSettings& settings;                         ///< The algorithm's settings.
    NNetwork*& network;                            ///< The algorithm's network pointer.
    IOptimizationAlgorithm*& optimizer;            ///< The algorithm's optimizer pointer.
    VXRandom& random;                              ///< The algorithm's random generator.
    VXCommon_1_2::MultiPassRecordIter* trainData;  ///< The training source.
    VXCommon_1_2::MultiPassRecordIter* testData;   ///< The test source; may be null.
    VXCommon_1_2::VXStatus& status;                ///< The algorithm's stored status (fStatus).
    bool& reinitializeWeights;                     ///< The algorithm's re-initialise flag.
    VXNNCommon::StopReason& stopReason;            ///< The algorithm's stop reason.
    int& nDataPasses;                              ///< The algorithm's data-pass count.
    int& nIterations;                              ///< The algorithm's iteration count.
    /// Units of the first hidden layer.
    int& nHiddenUnits;
    double& elapsedTime;    ///< The algorithm's elapsed time, seconds.
    double& trainingError;  ///< The algorithm's training error.
    double& testingError;   ///< The algorithm's test error.
    /// The shares of a data-parallel training, null for a process's own.
    const VXNeural::detail::SharedRecords* shared = nullptr;
  };

  /// What only the algorithm can do. The search calls these; the algorithm
  /// implements them with its own members of the same names.
  class Hooks {
   public:
    virtual ~Hooks() = default;
    /// The algorithm's latched cancel answer.
    virtual bool IsCanceled() = 0;
    /// A new network from the algorithm's settings (random weights from the
    /// algorithm's generator when randomize is set), or null; the caller owns
    /// it.
    virtual NNetwork* CreateNetwork(bool randomize) = 0;
    /// A new optimizer for network and the algorithm's settings, or null; the
    /// caller owns it.
    virtual IOptimizationAlgorithm* CreateOptimizer(NNetwork* network) = 0;
    /// Current state MLPExpertContext and algorithm status Expert (7).
    virtual void EnterExpertState() = 0;
    /// Current state MLPInitContext and algorithm status Not Started (0).
    virtual void LeaveExpertState() = 0;
    /// Cancel state, status code 1 (error), algorithm status Cancelled, and
    /// the network and optimizer destroyed (both pointers null).
    virtual void DoCancel() = 0;
    /// Hands the listener an MLPExpertReporter on the algorithm.
    virtual void ReportExpertProgress(VXCommon_1_2::ProgressListener& listener) = 0;
  };

  /// Works on `parts` through `hooks`; both must outlive the initializer.
  MLPInitializer(const Parts& parts, Hooks& hooks);
  /// Not copyable.
  MLPInitializer(const MLPInitializer&) = delete;
  /// Not assignable.
  MLPInitializer& operator=(const MLPInitializer&) = delete;

  /// The starting weights of the first training run: on a sample, with the
  /// default training method (scaled conjugate gradient, batch) and stop
  /// rules, up to 5 annealing runs keep the weights with the lowest sample
  /// test error, unless one reaches a training error ratio below 0.1, whose
  /// weights are kept instead. The settings (with their progress listener)
  /// are restored afterwards, the optimizer rebuilt for them, and
  /// reinitializeWeights cleared. Counts one data pass. Does nothing and
  /// answers OK when cancelled or when the stored status is an error;
  /// otherwise answers the last optimizer status (the stored status is not
  /// changed; the caller stores the answer).
  VXCommon_1_2::VXStatus ComputeSampleWeights();

  /// Up to 4 stages of: 5 random perturbations of the current base weights
  /// (all zeros at first) drawn in a range that halves each stage, the best
  /// of them trained by the optimizer on (train, test, nTrain, nTest). With
  /// keepCurrentFirst the first stage trains the network's current weights
  /// unperturbed. Stops when perturbing no longer lowers the training error
  /// (the base goes back into the network), when the training error ratio
  /// falls below 0.05 (reachedTarget), or on cancellation. bestTestError and
  /// bestWeights are updated when a final base beats bestTestError, so a
  /// caller that starts bestTestError at -1 keeps them untouched.
  /// trainErrorRatio receives the last run's error ratio (the missing value
  /// when unknown). Answers the first optimizer status that is not OK, else
  /// OK.
  VXCommon_1_2::VXStatus Annealing(VXCommon_1_2::MultiPassRecordIter& train,
                                   VXCommon_1_2::MultiPassRecordIter* test, int nTrain, int nTest,
                                   bool keepCurrentFirst, double& bestTestError,
                                   double& trainErrorRatio, std::valarray<double>& bestWeights,
                                   bool& reachedTarget);

  /// The architecture search of the initial state: within the settings'
  /// hidden-unit range and time for the search, shrinks or grows the hidden
  /// layer one unit at a time from the settings' size (clamped into the
  /// range), annealing each size on the sample, for up to 5 runs, and commits
  /// the size with the lowest sample test error (of equal ones the smaller).
  /// The algorithm is in the Expert state meanwhile and back in the initial
  /// state afterwards, with the selected weights and reinitializeWeights
  /// cleared. The listener, if any, gets an MLPExpertReporter before the
  /// search and after the commit, and is back in the settings afterwards.
  /// When cancelled, DoCancel runs and the search stops. A failure (an
  /// optimizer status that is not OK, or no network or optimizer for the
  /// settings: code 50001, error) is stored and leaves the algorithm in the
  /// Expert state, whose refusals protect a network of whatever size the
  /// search had reached. Stores its status in parts.status and answers a copy
  /// of it.
  VXCommon_1_2::VXStatus SelectArchitecture();

  /// The sample sizes for a training source of nTrainRecords records and a
  /// test source of nTestRecords (below 1: none): S = min(1000,
  /// maxRecordsInMemory) split 70/30 (rounded); without test records both
  /// buffers come from the training source and shrink to a 70/30 split of it
  /// when it has fewer than S records; with test records the training part is
  /// at most nTrainRecords and the test part at most nTestRecords.
  static MLPSampleSizes ComputeSampleSizes(long maxRecordsInMemory, int nTrainRecords,
                                           int nTestRecords);

  /// Selection sampling in one pass: each of the first nRecords records of
  /// source is added to buffer with probability need / remaining, so that
  /// min(capacity, nRecords) records are taken from a source that has that
  /// many. Rewinds the source. Returns the number of records added.
  /// cancelled, when given, is asked before every record; a yes ends the
  /// pass, whose sample is then incomplete and must not be used. failed,
  /// when given, tells whether the source failed during the pass (its status
  /// neither good nor end of data), which makes the sample as incomplete.
  ///
  /// With a share, source holds records [share.first, share.end) of the
  /// nRecords and the others are elsewhere: every record still draws, so
  /// the records taken are the ones the whole source would give, and only
  /// this process's go into the buffer (the count returned is of all).
  static int SelectSample(VXRandom& rng, VXCommon_1_2::MultiPassRecordIter& source, int nRecords,
                          VXNeural::RecordBufferIter& buffer,
                          const std::function<bool()>& cancelled = {}, bool* failed = nullptr,
                          const VXNeural::RecordShare* share = nullptr);
  /// The same into two buffers at once from one source; their capacities are
  /// the numbers wanted. nFirst and nSecond receive the numbers added.
  static void SelectSample(VXRandom& rng, VXCommon_1_2::MultiPassRecordIter& source, int nRecords,
                           VXNeural::RecordBufferIter& first, VXNeural::RecordBufferIter& second,
                           int& nFirst, int& nSecond, const std::function<bool()>& cancelled = {},
                           bool* failed = nullptr, const VXNeural::RecordShare* share = nullptr);

  /// Draws the sample the searches use, sized by `sizing` (records in
  /// memory, training and test counts; an unknown test count, below 1, is
  /// counted by reading the test source and stored in `sizing`). The
  /// generator is seeded with the sampling seed before and with the weight
  /// seed after. The buffers' width comes from the algorithm's settings.
  MLPSample DrawSample(MLPSettings& sizing);

 private:
  /// One candidate size of the architecture search.
  struct Candidate;

  bool Canceled() { return fHooks.IsCanceled(); }
  /// Deletes the optimizer and builds a new one for the current network and
  /// settings; false when there is none.
  bool RebuildOptimizer();
  /// In a shared training, puts the processes' sample parts together in rank
  /// order; false when the exchange failed.
  bool GatherSample(VXNeural::PassCombiner& combiner, MLPSample& sample, bool& trainFailed,
                    bool& testFailed);
  /// Error-only pass without accuracy, as the Expert state measures errors.
  double ErrorOn(VXCommon_1_2::MultiPassRecordIter& records, int n);
  /// Adds or removes units (always the first) until the hidden layer has
  /// `units`; keeps nHiddenUnits and the settings' layer-1 size in step.
  void ResizeHiddenLayer(int units);
  /// Annealing of the network's current size on the sample; fills c.
  VXCommon_1_2::VXStatus TrainCandidate(MLPSample& sample, bool keepCurrentFirst,
                                        std::clock_t start, Candidate& c);

  Parts fParts;
  Hooks& fHooks;
};
