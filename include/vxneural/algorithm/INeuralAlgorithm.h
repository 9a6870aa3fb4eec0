// The one object through which a host drives a model: train, continue
// training on new records, score, measure error, save.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXVarList.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/network/NNStructure.h"

class INNStopRules;
class NeuralSettings;
class NNOutputList;
class NNOutputStatistics;
class NNVarList;

/// The one object through which a host drives a model.
///
/// Algorithms come from a factory; the host owns the object it is handed and
/// must keep its record sources and call-back objects alive while it uses
/// the algorithm.
///
/// Failures are returned, never thrown. Operations return a status (or a
/// count, a null pointer or VXMV::gMissingValue) and the algorithm stores the
/// last one for GetStatus. Once the stored status is an error, or the host's
/// cancel object has answered true, training and evaluation return an OK
/// status (the missing value for a number) and do nothing; the host reads the
/// reason with GetStatus.
///
/// Codes: 1 error, cancelled; 4 warning, cannot save in this state; 5 error,
/// the algorithm failed to construct or restore; 6 warning, not available in
/// this state. Statuses of the data preparation, the network and the
/// optimizer pass through unchanged.
///
/// Progress listeners are called synchronously from inside training. A call
/// back into the algorithm from a listener finds it busy: everything but
/// scoring and, during the architecture search, the error measurement is
/// refused (code 6, or 4 for a save).
class INeuralAlgorithm {
 public:
  /// Name and value pairs of host settings, in the host's order.
  using UISettings = std::vector<std::pair<std::string, std::string>>;

  /// An algorithm with no host settings.
  INeuralAlgorithm() = default;
  /// Copies the host settings.
  INeuralAlgorithm(const INeuralAlgorithm&) = default;
  /// Copies the host settings.
  INeuralAlgorithm& operator=(const INeuralAlgorithm&) = default;
  /// Releases what the algorithm owns; the host's sources and call-back objects are left alone.
  virtual ~INeuralAlgorithm();

  /// Name and value pairs that the next Update hands on to the settings.
  virtual void SetUISettings(UISettings& settings) = 0;
  /// The pairs given by the last SetUISettings (empty when none was given).
  virtual const UISettings& GetUISettings() const = 0;
  /// A one-line banner naming the component and its version.
  virtual std::string GetComponentVersion() const = 0;

  /// nTrainRecords and nTestRecords bound the records each data pass reads;
  /// nTestRecords -1 means the settings' number of test records.
  virtual VXCommon_1_2::VXStatus Train(int nTrainRecords, int nTestRecords) = 0;
  /// Continues training a trained model with n new raw records (the source
  /// is rewound afterwards).
  virtual VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& records, int n) = 0;
  /// The network's summed error over at most nRecords records of the source
  /// (not rewound).
  virtual double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int nRecords) = 0;
  /// The accuracy of the last error or training pass, a percentage.
  virtual double GetAccuracy() const = 0;
  /// Importance and output statistics. With a pass combiner set on the
  /// calling thread (PassCombiner.h), each is one operation of a run: every
  /// process calls it together, with the same arguments, over its own
  /// ShareOf the records (the training and test sources it was built with,
  /// or `records`), and every process gets the figures of the whole set;
  /// nRecords then bounds the whole set. A PMML export that ranks the
  /// predictors computes the importance, so every process exports together.
  ///
  /// This form: the importance of each input variable, into `importance`, with the inputs
  /// and their ranges taken from the variable list.
  virtual VXCommon_1_2::VXStatus ComputeSensitivity(std::vector<double>& importance) const = 0;
  /// The importance of each input variable, into `importance`, for the given
  /// input count and category counts; the ranges of the continuous inputs are
  /// `mins` and `maxs` when useGivenRanges is true.
  virtual VXCommon_1_2::VXStatus ComputeSensitivity(int nInputVars,
                                                    const std::vector<int>& nInputCats,
                                                    bool useGivenRanges,
                                                    const std::vector<double>& mins,
                                                    const std::vector<double>& maxs,
                                                    std::vector<double>& importance) const = 0;
  /// The statistics of the network's outputs over at most nRecords raw
  /// records of `records`, into `stats`. Shared over processes as the
  /// importance is (see the first ComputeSensitivity).
  virtual VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records,
                                                    int nRecords, NNOutputStatistics& stats) = 0;
  /// The Bayesian information criterion of the trained model; the missing value
  /// (VXMV::gMissingValue) when none was computed (only the RBF search
  /// computes one).
  virtual double GetTrainingBIC() const = 0;
  /// The training error of the last training run; the missing value before one.
  virtual double GetTrainingError() const = 0;
  /// The test error of the last training run; the missing value before one.
  virtual double GetTestingError() const = 0;
  /// Scores one raw record of the inputs alone: one field per Input variable,
  /// in list order, wherever the targets stand in the list (an algorithm
  /// without a variable list takes encoded records, input units first). The
  /// list is the algorithm's own, valid until the next call; it is missing
  /// when the record could not be scored.
  virtual const NNOutputList& Score(const VXCommon_1_2::Record& in) = 0;
  /// The raw network outputs of one scoring record, as above (probabilities
  /// for a cross-entropy network), into out; the stored status is not
  /// changed.
  virtual VXCommon_1_2::VXStatus Score(const VXCommon_1_2::Record& in,
                                       VXCommon_1_2::Record& out) const = 0;
  /// Scores n raw records of the inputs alone, each laid out as the record
  /// Score takes (one field per Input variable, in list order; an algorithm
  /// without a variable list takes encoded records), record i's fields at
  /// in[i * inStride ...], into out: record i's network outputs, as the
  /// second Score gives them (probabilities for a cross-entropy network), at
  /// out[i * outStride ...]. The records go through the network in blocks. A
  /// record that cannot be scored gets missing outputs (VXMV::gMissingValue)
  /// and scoring goes on; the status returned is the first such failure, or
  /// OK. Safe to call from several threads at once on one algorithm: it
  /// keeps its buffers to itself.
  ///
  /// Refused, with nothing written: n < 0, a null `in` with n > 0, or an
  /// inStride below the record's width (error 50010, the input count
  /// differs); a null `out` with n > 0, or an outStride below the number of
  /// output units (error 50011). Refused as the second Score refuses, with
  /// every output missing: an algorithm whose stored status is an error (a
  /// copy of that status), a cancelled one (error 1 when no error is
  /// stored), one without a network (warning 6).
  virtual VXCommon_1_2::VXStatus ScoreRows(const double* in, int n, int inStride, double* out,
                                           int outStride) const = 0;
  /// The trained model as a PMML document, written to `out`.
  virtual VXCommon_1_2::VXStatus ExportModelXML(
      std::ostream& out, int flags, const VXCommon_1_2::VXApplicInfo4XML* info) const = 0;
  /// The model's statistics document (the "StatXML" form), written to `out`.
  virtual VXCommon_1_2::VXStatus ExportModelStatXML(
      std::ostream& out, int flags, const VXCommon_1_2::VXApplicInfo4XML* info) const = 0;
  /// A new object the caller owns: the trained network's structure view, or
  /// an empty structure (and code 6 stored) when there is none to give.
  virtual NNStructure* GetStructure() const = 0;
  /// The whole model (settings, variable list, network, optimizer) in the
  /// binary or the XML saved form; a factory restores it.
  virtual VXCommon_1_2::VXStatus SaveState(std::ostream& out) const = 0;
  /// The XML saved form of SaveState.
  virtual VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out) const = 0;
  /// The status stored by the last operation (see the class comment).
  virtual VXCommon_1_2::VXStatus GetStatus() const = 0;
  /// Where the algorithm stands: not started, in progress, trained, and so on.
  virtual VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const = 0;
  /// Searches the number of hidden units before the first training run.
  virtual VXCommon_1_2::VXStatus SelectArchitecture() = 0;
  /// Why the last training run stopped; undefined before one.
  virtual VXNNCommon::StopReason GetStopReason() const = 0;
  /// MLP or RBF.
  virtual VXNNCommon::AlgorithmType GetAlgorithmType() const = 0;
  /// Seconds.
  virtual double GetElapsedTime() const = 0;
  /// Passes over the data made so far.
  virtual int GetNumberOfDataPasses() const = 0;
  /// Units in the first hidden layer.
  virtual int GetNumberOfHiddenUnits() const = 0;
  /// The listener is not owned.
  virtual void SetProgressListener(VXCommon_1_2::ProgressListener* listener) = 0;
  /// Forgets the progress listener; nothing is called afterwards.
  virtual void RemoveProgressListener() = 0;
  /// Copies the values of the rules into the settings' own.
  virtual void SetStopRules(INNStopRules* rules) = 0;
  /// The settings' own stop rules, owned by the algorithm; null for an RBF
  /// network, which has none.
  virtual INNStopRules* GetStopRules() = 0;
  /// The algorithm's settings, owned by the algorithm.
  virtual const NeuralSettings* GetSettings() const = 0;
  /// Null when the algorithm works on encoded records.
  virtual const NNVarList* GetVarList() const = 0;
  /// A readable listing of the settings, the state and the counters, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;

 protected:
  /// Asks the host's cancel object until it first answers true, and keeps
  /// that answer.
  virtual bool IsCanceled() const = 0;

  /// The host settings given by SetUISettings.
  UISettings fUISettings;
};
