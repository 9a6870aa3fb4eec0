// The network every algorithm trains and scores: a chain of layers with the
// bookkeeping training needs (accumulated error, gradient, accuracy, target
// averages).
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXStatus.h"
#include "vxneural/network/INLayer.h"

class NeuralSettings;
class NNStructImp;
class NNVarList;
class RBFHiddenLayer;
class RBFOutputLayer;
class VXRandom;
namespace VXNeural {
class PassCombiner;
namespace detail {
class MLPBlockPass;
class RBFBlockPass;
class BlockSlots;
class BlockTree;
struct SharedSource;
struct TreeExchangeBuffers;
class RowScorer;
}  // namespace detail
}  // namespace VXNeural

/// Works on encoded records: one array of doubles holding the fNInputs input
/// values and then the fNOutputs encoded target values. A `record` argument
/// points at such an array, a `targets` argument at its first target value.
///
/// The flat weight vector holds every weight of layers 1..fNLayers, layer by
/// layer, unit by unit, each unit's bias first and then one weight per unit
/// of the layer below; the accumulated gradient has the same layout.
///
/// Errors are summed over records: 0.5 * sum (t - o)^2 (sum of squares), or
/// -sum t (log p - log t) over non-zero targets (cross entropy, which the
/// network uses with a SoftMax output layer; its output layer then holds
/// log-probabilities after a forward pass).
///
/// The network owns its layers. It keeps a pointer to the settings it was
/// built from (for the host's cancel object); they must outlive it or be
/// replaced with SetSettings. One network is used by one thread at a time,
/// but for RowScorers (network/RowScorer.h), which only read it.
class NNetwork {
 public:
  /// An empty MLP network (no layers, every count 0), to be filled by a reader.
  NNetwork();
  /// Builds the layers the settings describe, all weights 0. MLP settings
  /// give MLPLayer objects; a SoftMax output is replaced by Identity (and the
  /// sum-of-squares error) when a target is continuous. RBF settings give
  /// exactly three layers: RBFInputLayer, RBFHiddenLayer with the settings'
  /// first hidden layer size and hidden activation, RBFOutputLayer.
  explicit NNetwork(const NeuralSettings& settings);
  NNetwork(const NNetwork&) = delete;
  NNetwork& operator=(const NNetwork&) = delete;
  /// Destroys the layers.
  ~NNetwork();

  /// Unit values, combinations and deltas of every layer to 0.
  void ResetUnitValues();
  /// Also the accumulated gradient, fAccumError, fAccuracy and the accuracy
  /// accumulators; the start of every pass.
  void ResetDerivatives();
  /// As ResetDerivatives, and every weight to 0.
  void ResetAll();

  /// The input layer takes the record's inputs; the layers above compute in
  /// turn. With computeOutput false the output layer keeps its old values.
  void ForwardPass(const double* record, bool computeOutput);
  /// This record's error from the output layer's current values.
  double RecordError(const double* targets) const;
  /// Adds RecordError to fAccumError, the error of predicting the output
  /// averages to fErrorAverages when that is on, and with computeAccuracy
  /// the record's hits (categorical) or absolute error (continuous) to the
  /// accuracy accumulators. Returns the record's error.
  double AccumulateError(const double* targets, bool computeAccuracy);
  /// Adds this record's gradient of the error (not its negative) to the
  /// accumulated gradient. MLP only; needs ResetUnitValues before the
  /// record's forward pass.
  void BackPropagate(const double* targets);

  /// One pass over at most maxRecords records of source: forward pass, error
  /// and, unless errorOnly, back-propagation per record. Adds to the error,
  /// gradient and accuracy accumulators without resetting them. Polls the
  /// cancel object once per record; a cancelled pass stops and skips the
  /// averaging and accuracy steps. status is set to OK. Records shorter than
  /// fNInputs + fNOutputs values are skipped and not counted.
  ///
  /// The pass runs with the kernel PassKernel.h selects:
  /// record by record (the reference), or in blocks of records as matrix
  /// products. Both give the same sums up to the order of additions: the
  /// reference adds every record's error, accuracy and gradient to the
  /// pass's in record order; the blocked pass sums each block's records in
  /// record order and adds the blocks' sums up in a fixed tree over the
  /// blocks (BlockTree.h), which is what lets a pass be shared between
  /// threads or processes without changing a bit. Afterwards each layer
  /// holds the unit values of the last record.
  ///
  /// When the calling thread shares source with other processes
  /// (network/SharedRun.h), the pass is this process's part of a
  /// data-parallel pass: it exchanges its blocks' sums with the others and
  /// leaves on every process the error, gradient, accuracy, averages and
  /// record count of the whole sequence, bit for bit those of one process
  /// holding it all; a cancel on any process cancels it on all. It needs a
  /// blocked pass (not the reference kernel): else, and when an exchange
  /// fails, status is an error (codes 50020, 50021) and nothing is added.
  void ProcessRecords(VXCommon_1_2::VXStatus& status, VXCommon_1_2::RecordIterator& source,
                      int maxRecords, int& nProcessed, bool errorOnly, bool computeAccuracy);
  /// Forward pass and error of one record, without accuracy or gradient.
  void ProcessRecord(VXCommon_1_2::VXStatus& status, const VXCommon_1_2::Record& record);
  /// Forward pass; fills outputs[0..fNOutputs) with the output values, as
  /// probabilities for a cross-entropy network. status is set to OK. With
  /// the reference kernel the layers compute record by record and keep the
  /// record's unit values; with the others an MLP scores from a packed copy
  /// of its weights (re-packed only after the weights changed), the same
  /// sums up to the order of additions, and the layers' unit values are
  /// left as they were.
  void Score(VXCommon_1_2::VXStatus& status, const double* record, double* outputs);

  ///@{
  /// The flat weight vector. GetWeights resizes v to fNWeights when its size
  /// differs; SetWeights returns 0 and changes nothing when v is shorter.
  int GetWeights(std::valarray<double>& v) const;
  int SetWeights(const std::valarray<double>& v);
  ///@}
  ///@{
  /// The accumulated gradient in the flat layout; MLP only (0 otherwise).
  /// GetGradient resizes v only when it is shorter, leaving extra entries as
  /// they were; SetGradient returns 0 and changes nothing when v is shorter.
  int GetGradient(std::valarray<double>& v) const;
  int SetGradient(const std::valarray<double>& v);
  ///@}
  /// Euclidean norm of the accumulated gradient; MLP only (0 otherwise).
  double GradientNorm() const;

  ///@{
  /// Draw every weight of layers 1..fNLayers, with each layer's own range or
  /// with lo..hi; return the number drawn.
  int RandomizeWeights(VXRandom& rng);
  int RandomizeWeights(VXRandom& rng, double lo, double hi);
  ///@}

  ///@{
  /// Architecture search on an MLP with exactly one hidden layer; other
  /// networks are left unchanged (the unit-count operations return 0,
  /// FindLeastUsefulHiddenUnit names unit 0 and reads nothing).
  /// AddHiddenUnit appends a hidden unit with drawn weights (and a drawn
  /// weight into every output unit) and returns the new hidden unit count;
  /// RemoveHiddenUnit drops one (an index out of range changes nothing) and
  /// returns the count. Both set fAccumError to 0.
  int AddHiddenUnit(VXRandom& rng);
  int RemoveHiddenUnit(int unit);
  ///@}
  /// The hidden unit whose removal raises the summed error over the records
  /// least (of equal ones, the last); 0 when there are fewer than two units.
  /// fAccumError is left as it was. status is set to OK.
  void FindLeastUsefulHiddenUnit(VXCommon_1_2::VXStatus& status,
                                 VXCommon_1_2::RecordIterator& source, int maxRecords, int& unit);

  /// RBF networks: resizes the hidden layer to k units (new centres and
  /// widths for the centre placement to fill), sets the output layer's hidden
  /// unit count to k (its weights 0 when that changes) and recomputes the
  /// weight count. Returns the weight count; other networks are left
  /// unchanged (0). A negative k is refused (0).
  int SetNumHiddenUnits(int k);
  ///@{
  /// The RBF layers of an RBF network; null for any other network.
  RBFHiddenLayer* GetRBFHiddenLayer();
  RBFOutputLayer* GetRBFOutputLayer();
  ///@}

  /// Whether passes sum the targets into the output averages. Turning the
  /// averages on zeroes them (and the error averages); during a pass
  /// fOutputAverages holds sums, afterwards means.
  void SetComputeAverages(bool on);
  /// Whether passes compute the output averages.
  bool GetComputeAverages() const { return fComputeAverages; }
  /// Whether passes also sum the error of the mean model (the output
  /// averages taken as the prediction of every record).
  void SetComputeErrorAverages(bool on) { fComputeErrorAverages = on; }
  /// Whether passes sum the error of the mean model.
  bool GetComputeErrorAverages() const { return fComputeErrorAverages; }
  /// The error of the mean model summed over the records.
  double GetErrorAverages() const { return fErrorAverages; }
  /// Per output unit: the targets' sum during a pass, their mean afterwards.
  const std::valarray<double>& GetOutputAverages() const { return fOutputAverages; }

  /// Asks the host's cancel object (when the flag is not yet set and the
  /// settings carry one) and latches a positive answer.
  bool IsCanceled();

  /// The layers above the input layer (hidden and output); 0 without layers.
  int GetNumLayers() const { return fNLayers; }
  /// The input units.
  int GetNumInputs() const { return fNInputs; }
  /// The output units.
  int GetNumOutputs() const { return fNOutputs; }
  /// The target variables.
  int GetNumOutputVariables() const { return fNOutputVariables; }
  /// The output units of each target variable (1 for a continuous one).
  const std::vector<int>& GetNumOutputCategories() const { return fNOutputCategories; }
  /// 0 Continuous, 1 Categorical, 2 Mixed.
  int GetOutputType() const { return fOutputType; }
  /// VXNNCommon::ErrorFunction: 0 sum of squares, 1 cross entropy.
  int GetErrorFunction() const { return fErrorFunction; }
  /// VXNNCommon::AlgorithmType: 1 MLP, 2 RBF.
  int GetAlgorithmType() const { return fAlgorithmType; }
  /// The length of the flat weight vector (every layer's weights).
  int GetNumWeights() const { return fNWeights; }
  /// The error summed over the records since the last ResetDerivatives.
  double GetAccumError() const { return fAccumError; }
  /// Sets the accumulated error (a driver restoring an earlier pass's value).
  void SetAccumError(double error) { fAccumError = error; }
  /// In [0, 1] for sensible data; 0 until a pass computes it.
  double GetAccuracy() const { return fAccuracy; }
  /// Puts back the accuracy of an earlier pass (a driver keeping the scores
  /// of the model it chose).
  void SetAccuracy(double accuracy) { fAccuracy = accuracy; }
  ///@{
  /// Layer 0 (input) .. GetNumLayers() (output); null outside that range or
  /// in a network without layers.
  INLayer* GetLayer(int index);
  const INLayer* GetLayer(int index) const;
  ///@}

  /// A new structure view (the caller owns it) of this network's layers over
  /// list, the variable list the network's records were encoded with; the
  /// standardizations come from the settings (0 without settings).
  NNStructImp* CreateStructure(const NNVarList& list) const;

  /// The settings the network reads its cancel object from (not owned);
  /// null for a network made by the default constructor until set.
  const NeuralSettings* GetSettings() const { return fSettings; }
  /// Replaces the settings (not owned; they must outlive their use).
  void SetSettings(const NeuralSettings* settings) { fSettings = settings; }

  ///@{
  /// The stop reason kept for export, and its enumerator name
  /// ("kStoppedMaxTime" ...; "kStoppedUndefined" for anything unknown).
  void SetStopReason(int reason) { fStopReason = reason; }
  int GetStopReason() const { return fStopReason; }
  std::string GetStopReasonName() const;
  ///@}
  /// Stores the importance values unless the vector is empty; returns
  /// whether it stored them.
  bool SetImportance(const std::vector<double>& importance);
  /// The stored importance values; empty until set.
  const std::vector<double>& GetImportance() const { return fImportance; }

  ///@{
  /// Progress counters of a sensitivity run, zeroed at construction.
  int GetSensRecordsProcessed() const { return fSensRecordsProcessed; }
  void SetSensRecordsProcessed(int n) { fSensRecordsProcessed = n; }
  double GetSensElapsedTime() const { return fSensElapsedTime; }
  void SetSensElapsedTime(double seconds) { fSensElapsedTime = seconds; }
  ///@}

  ///@{
  /// Saved forms: binary "NNet", XML object "NNetwork" (level 1), each with
  /// its layers nested. Not saved: the accuracy and its accumulators, the
  /// target minima and maxima, the cancel flag and the export values. A
  /// reader meeting a wrong tag, a failed value or counts that do not fit
  /// together writes "Error reading NNetwork!\n" (binary) or "Failure reading
  /// NNetwork!\n" (XML), or its layer's own message, to standard error, throws
  /// a new VXNeural::IOException by pointer and leaves the network as it was.
  int WriteObject(std::ostream& out) const;
  int ReadObject(std::istream& in);
  int WriteObjectXML(std::ostream& out) const;
  int ReadObjectXML(std::istream& in);
  ///@}
  /// A readable listing of the counts, the bookkeeping and every layer, for
  /// diagnostics.
  void Display(std::ostream& out) const;

 private:
  /// Scoring many records reads the layers as the blocked passes do, with
  /// buffers of its own.
  friend class VXNeural::detail::RowScorer;
  /// The values of a saved network, read and checked before the network
  /// changes.
  struct Saved;
  template <typename Reader>
  static void ReadSaved(Reader& r, std::istream& in, bool xml, Saved& saved);
  void Adopt(Saved& saved);
  void BuildMLP(const NeuralSettings& settings, VXNNCommon::ActivationFunction hidden,
                VXNNCommon::ActivationFunction output, double lo, double hi);
  void BuildRBF(const NeuralSettings& settings, VXNNCommon::ActivationFunction hidden);
  bool IsSingleHiddenMLP() const;
  /// The error of one record from output values o, and its accumulation
  /// (AccumulateError's work for any row of output values); AddRecordError
  /// adds a record whose error e is known to sums laid out as below (and
  /// its targets to the continuous targets' ranges).
  double RecordErrorOf(const double* o, const double* targets) const;
  double AccumulateErrorOf(const double* o, const double* targets, bool computeAccuracy);
  static constexpr std::size_t kRecordSumsError = 0;
  static constexpr std::size_t kRecordSumsErrorAverages = 1;
  static constexpr std::size_t kRecordSumsFirstAccuracy = 2;  ///< one per output variable
  void AddRecordError(double* sums, double e, const double* o, const double* targets,
                      bool computeAccuracy);
  /// The record-by-record and the blocked body of ProcessRecords; each
  /// returns the number of records processed.
  /// Sizes the blocked pass's buffers for the current layers (MLP only), so
  /// that no pass allocates; called wherever the layers change.
  void ReserveBlockPass();
  int ProcessEach(VXCommon_1_2::RecordIterator& source, int maxRecords, bool errorOnly,
                  bool computeAccuracy);
  using SharedSource = VXNeural::detail::SharedSource;
  /// begin(pass) starts a pass of any of the passes; helpers are the passes
  /// of the threads beside the caller's, made as the thread count wants;
  /// shared, when the source's pass is shared. Returns the records
  /// processed, or minus the code of a failed exchange.
  template <typename Pass, typename Begin>
  int ProcessBlocks(Pass& first, std::vector<std::unique_ptr<Pass>>& helpers, Begin&& begin,
                    VXCommon_1_2::RecordIterator& source, int maxRecords, bool errorOnly,
                    bool computeAccuracy, const SharedSource* shared);
  INLayer* OutputLayer() const { return fLayers.back(); }
  void DeleteLayers();

  int fNLayers;
  std::vector<INLayer*> fLayers;
  int fNInputs;
  int fNOutputs;
  int fNOutputVariables;
  std::vector<int> fNOutputCategories;
  int fOutputType;
  int fErrorFunction;
  int fAlgorithmType;
  int fNWeights;
  double fAccumError;
  double fAccuracy;
  std::vector<double> fAccuracyValues;
  std::vector<double> fMinTargets;
  std::vector<double> fMaxTargets;
  bool fCanceled;
  std::valarray<double> fOutputAverages;
  double fErrorAverages;
  bool fComputeAverages;
  bool fComputeErrorAverages;
  int fSensRecordsProcessed;
  double fSensElapsedTime;
  const NeuralSettings* fSettings;
  std::vector<double> fImportance;
  int fStopReason;
  /// Buffers of the blocked passes, sized whenever the layers change: an
  /// MLP network has the first, an RBF network the second.
  std::unique_ptr<VXNeural::detail::MLPBlockPass> fMLPBlockPass;
  std::unique_ptr<VXNeural::detail::RBFBlockPass> fRBFBlockPass;
  /// The other threads' passes and the blocks in flight, kept from pass to
  /// pass so that passes over one shape allocate once.
  std::vector<std::unique_ptr<VXNeural::detail::MLPBlockPass>> fMLPHelperPasses;
  std::vector<std::unique_ptr<VXNeural::detail::RBFBlockPass>> fRBFHelperPasses;
  std::unique_ptr<VXNeural::detail::BlockSlots> fBlockSlots;
  /// The blocked passes' sums, block by block, and the pass's total; one
  /// record's sums on the record-by-record path.
  std::unique_ptr<VXNeural::detail::BlockTree> fBlockTree;
  /// Open nodes reserved: passes of up to 255 blocks allocate nothing.
  static constexpr int kReservedTreeNodes = 8;
  std::vector<double> fPassTotal;
  std::vector<double> fRecordSums;
  /// The shared pass's exchange: this process's nodes and counts out, the
  /// whole sequence's in (the BlockTree, records, the targets' ranges). 0,
  /// or the code of the failure.
  int CombineSharedPass(const SharedSource& shared, int& records);
  std::unique_ptr<VXNeural::detail::TreeExchangeBuffers> fExchange;
};
