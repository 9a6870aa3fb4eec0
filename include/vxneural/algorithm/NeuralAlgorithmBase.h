// What the multi-layer perceptron and the radial basis function drivers
// share: the gate of the public operations, the stored status, the state
// machine and its seven state objects, the data preparator and the encoding
// of raw records, scoring, the error, statistics and importance passes, and
// the framing of saved models. Each driver adds its settings, its optimizer,
// how it trains and the counters of its saved block.
#pragma once

#include <atomic>
#include <iosfwd>
#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/VXRandom.h"

class AlgorithmContext;
class NNDataPreparator;
class NNetwork;

/// What the multi-layer perceptron and radial basis function drivers share.
///
/// States and the AlgorithmStatus they stand for: Init 0 (Not Started),
/// Training 1 (In Progress; 8 Inconsistent after a failed run), Trained 2,
/// Save 4 (Saving, only while a save runs), Expert 7 (during the search of
/// the number of hidden units), Cancel 5, FailedRestart 8 (construction or
/// restore built no optimizer).
///
/// What each state does (a code in brackets is stored and returned):
///
///   operation             Init       Trained    Expert     Training,Save Cancel FailedRestart
///   Train                 first run  further    [6 w]      [6 w]         [1 e]  [5 e]
///   Update                [6 w]      update     [6 w]      [6 w]         [1 e]  [5 e]
///   GetErrorOnData        pass       pass       pass, no   [6 w]         [1 e]  [5 e]
///                                               accuracy
///   ComputeSensitivity    [6 w]      computed   [6 w]      [6 w]         [1 e]  [5 e]
///   ComputeOutputStats    computed   computed   [6 w]      [6 w]         [1 e]  [5 e]
///   SaveState(XML)        saved      saved      [4 w]      [4 w]         [1 e]  [5 e]
///   SelectArchitecture    search     [6 w]      [6 w]      [6 w]         [1 e]  [5 e]
///
/// ExportModelXML and ExportModelStatXML write their document in the
/// Trained state only and are refused elsewhere as work is ([6 w], or the
/// Cancel and FailedRestart errors). The PMML export first computes predictor
/// importance when the settings ask for it, through ComputeSensitivity and
/// its gate (after a stored error or a cancel there is no pass); a pass that
/// fails leaves its status stored and the document without importance. A
/// model whose document cannot be built (no variable list, no network)
/// writes nothing and leaves the status as it was. GetStructure always
/// returns a new NNStructure (the caller owns it): in the Trained state with
/// a network and a preparator the network's view over the preparator's list,
/// otherwise an empty one with [6 w] stored, in every other state too.
///
/// Predictor importance runs only when the settings ask for it (otherwise
/// both forms return OK and leave the vector alone), over the training and
/// then the test records (the settings' counts), in the Training state: a
/// progress listener calling back meets a busy algorithm. With a preparator
/// the arguments must match the variable list's input variables (else code
/// 50005, error) and the ranges are the list's own unless given. Without a
/// preparator the one-argument form answers [6 w]. Output statistics
/// encode the raw records first (with a preparator) and rewind them.
///
/// Train, Update, GetErrorOnData, GetAccuracy, ComputeSensitivity and
/// ComputeOutputStats pass the gate first: once cancelled or holding an error
/// status they return OK (the missing value for a number) and do nothing.
/// Saves, exports, the structure view and SelectArchitecture reach their state
/// without the gate. Every operation that did work ends by looking at the
/// cancel object: a positive answer destroys the network and the optimizer
/// and enters Cancel with code 1.
///
/// The algorithm keeps pointers to the training and test sources it is given
/// (the preparator's own sources when it has one) and to the call-back objects
/// in its settings; none of them is owned.
class NeuralAlgorithmBase : public INeuralAlgorithm {
 public:
  /// Selects the XML form of the restoring constructors.
  struct XMLStream {};

  /// Not copyable: the states point back to this object.
  NeuralAlgorithmBase(const NeuralAlgorithmBase&) = delete;
  /// Not assignable.
  NeuralAlgorithmBase& operator=(const NeuralAlgorithmBase&) = delete;
  ~NeuralAlgorithmBase() override;

  void SetUISettings(UISettings& settings) override;
  const UISettings& GetUISettings() const override { return fUISettings; }

  VXCommon_1_2::VXStatus Train(int nTrainRecords, int nTestRecords) override;
  /// Raw records are encoded first (n < 0: all of them); a failed encoding
  /// stores its status and returns OK.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& records, int n) override;
  /// Raw records are encoded first (except during the search of the number
  /// of hidden units, whose sources are already encoded). The missing value
  /// when the encoding failed, the pass was cancelled, or the state refuses.
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int nRecords) override;
  double GetAccuracy() const override;
  /// Takes the inputs and their ranges from the preparator's variable list;
  /// without a preparator there is none, and the answer is code 6.
  VXCommon_1_2::VXStatus ComputeSensitivity(std::vector<double>& importance) const override;
  /// With a preparator the input count and the category counts must be the
  /// variable list's, else code 50005 (error).
  VXCommon_1_2::VXStatus ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                            bool useGivenRanges, const std::vector<double>& mins,
                                            const std::vector<double>& maxs,
                                            std::vector<double>& importance) const override;
  VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records,
                                            int nRecords, NNOutputStatistics& stats) override;
  double GetTrainingBIC() const override { return fTrainingBIC; }
  double GetTrainingError() const override { return fTrainingError; }
  double GetTestingError() const override { return fTestingError; }
  /// Independent of the state and of an error status; missing once cancelled,
  /// without a network, or when the record does not encode (the encoding and
  /// forward statuses are stored).
  const NNOutputList& Score(const VXCommon_1_2::Record& in) override;
  VXCommon_1_2::VXStatus Score(const VXCommon_1_2::Record& in,
                               VXCommon_1_2::Record& out) const override;
  /// Encodes each block of records into buffers of the call's own, then
  /// scores the block through the network's RowScorer.
  VXCommon_1_2::VXStatus ScoreRows(const double* in, int n, int inStride, double* out,
                                   int outStride) const override;
  VXCommon_1_2::VXStatus ExportModelXML(std::ostream& out, int flags,
                                        const VXCommon_1_2::VXApplicInfo4XML* info) const override;
  VXCommon_1_2::VXStatus ExportModelStatXML(
      std::ostream& out, int flags, const VXCommon_1_2::VXApplicInfo4XML* info) const override;
  NNStructure* GetStructure() const override;
  /// While a save runs the algorithm reports Saving (4) and refuses other
  /// calls; afterwards it is as before. A stream that has failed by the end
  /// of the save gives code 50016 with warning severity: the saved form is
  /// incomplete, the model itself is unharmed. An initial state left without
  /// a network by a failed search cannot save (code 4).
  VXCommon_1_2::VXStatus SaveState(std::ostream& out) const override;
  VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out) const override;
  VXCommon_1_2::VXStatus GetStatus() const override { return fStatus; }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override { return fAlgorithmStatus; }
  VXCommon_1_2::VXStatus SelectArchitecture() override;
  VXNNCommon::StopReason GetStopReason() const override { return fStopReason; }
  double GetElapsedTime() const override { return fElapsedTime; }
  int GetNumberOfDataPasses() const override { return fNDataPasses; }
  int GetNumberOfHiddenUnits() const override { return fNHiddenUnits; }
  void SetProgressListener(VXCommon_1_2::ProgressListener* listener) override;
  void RemoveProgressListener() override;
  const NNVarList* GetVarList() const override;
  void Display(std::ostream& out) const override;

  /// Null once cancelled or when construction failed.
  const NNetwork* GetNetwork() const { return fNetwork; }

 protected:
  /// The preparator (owned from here on, may be null) and the training and
  /// test sources; with a preparator its own encoded sources replace them.
  NeuralAlgorithmBase(NNDataPreparator* preparator, VXCommon_1_2::MultiPassRecordIter* train,
                      VXCommon_1_2::MultiPassRecordIter* test);

  bool IsCanceled() const override;
  /// The host's cancel object asked now, whatever the training.
  bool HostCanceled() const;

  // --- What each driver provides.

  /// The driver's copy of its settings.
  virtual NeuralSettings& MutableSettings() = 0;
  /// Whether the driver holds an optimizer (of the driver's own type).
  virtual bool HasOptimizer() const = 0;
  /// Deletes the optimizer, if any; the drivers call it before DestroyModel.
  virtual void DestroyOptimizer() = 0;
  /// Builds the optimizer for fNetwork; false when none can be built.
  virtual bool BuildOptimizer() = 0;
  /// Builds the optimizer for a network just read and lets it read its own
  /// object; keeps it only when that succeeded. A read failure throws.
  virtual bool RestoreOptimizer(std::istream& in, bool xml, NNetwork& network) = 0;
  /// Writes the optimizer's binary or XML object; returns what the
  /// optimizer's own write returns.
  virtual int WriteOptimizer(std::ostream& out, bool xml) const = 0;
  /// The optimizer's readable listing, for Display.
  virtual void DisplayOptimizer(std::ostream& out) const = 0;
  /// The header of the saved block ("MLPAlgorithm 1.00").
  virtual const char* BlockHeader() const = 0;
  /// The class named in read-failure messages and in Display.
  virtual const char* ClassName() const = 0;
  /// The notice at the top of an XML saved document.
  virtual const char* SavedModelNotice() const = 0;
  /// The driver's integer fields that follow the saved status, in order.
  virtual std::vector<int> BlockCounters() const = 0;
  /// Checks counters read back (same count as BlockCounters) and, when
  /// apply is true, takes them; false when a value cannot be right.
  virtual bool TakeBlockCounters(const std::vector<int>& counters, bool apply) = 0;
  /// The display lines between the output list and the random generator.
  virtual void DisplayFields(std::ostream& out) const = 0;
  /// The training run of the Init (initialRun true) and Trained states.
  virtual VXCommon_1_2::VXStatus RunTraining(bool initialRun, int nTrain, int nTest) = 0;
  /// The update of the Trained state, on n encoded records.
  virtual VXCommon_1_2::VXStatus RunUpdate(VXCommon_1_2::MultiPassRecordIter& records, int n) = 0;
  /// The search of the number of hidden units, from the Init state.
  virtual VXCommon_1_2::VXStatus RunArchitectureSearch() = 0;

  // --- Shared work, for the drivers and the states.

  /// The work of the constructors from settings, called once the driver's
  /// settings exist: random weights, or the given ones in flat order.
  void Construct(const std::valarray<double>* weights);
  /// The work of the restoring constructors: the saved block of a model,
  /// binary or XML (see Restore).
  void ConstructFrom(std::istream& in, bool xml);
  /// What every constructor sets the same way, and the seven states.
  void Initialize();
  /// The network (random weights, or the given ones in flat order) and the
  /// optimizer of the constructors from settings. The wrong number of
  /// weights gives code 50019, no optimizer 50001, both in FailedRestart.
  void BuildModel(bool randomize, const std::valarray<double>* weights);
  /// The training and test sources of a preparator; false (FailedRestart,
  /// code 50001) without training data.
  bool TakePreparatorData();
  /// Both restoring constructors: the block, generator, network, optimizer.
  /// A damaged or unfitting model enters FailedRestart with code 50006
  /// (binary) or 50007 (XML); a block saved as Trained restores as Trained,
  /// any other as Init.
  void Restore(std::istream& in, bool xml);
  /// Enters FailedRestart (AlgorithmStatus Inconsistent) with `status` stored.
  void EnterFailedRestart(const VXCommon_1_2::VXStatus& status);
  /// Destroys the network and the preparator, in that order; the drivers
  /// destroy their optimizer first (DestroyOptimizer).
  void DestroyModel();
  /// A new network from the settings (random weights on request), or null
  /// when it cannot be built or does not fit the outputs and the preparator.
  NNetwork* CreateNetwork(bool randomize);
  /// The network is of this driver's kind, takes the encoded inputs and
  /// feeds the output list.
  bool NetworkFits(const NNetwork& network) const;
  /// Enters Cancel with code 1 stored, and destroys the optimizer and the
  /// network.
  void DoCancel();
  /// The binary save of the Init and Trained states (see SaveState).
  VXCommon_1_2::VXStatus DoSave(std::ostream& out);
  /// The XML save of the Init and Trained states (see SaveState).
  VXCommon_1_2::VXStatus DoSaveXML(std::ostream& out);
  /// The PMML document, or with statistics the "StatXML" document; the
  /// stored status is returned.
  VXCommon_1_2::VXStatus DoExport(std::ostream& out, const VXCommon_1_2::VXApplicInfo4XML* info,
                                  bool statistics);
  /// The network's summed error over at most n encoded records (with the
  /// accuracy when computeAccuracy is true); the missing value without a
  /// network, once cancelled, or when the source failed part way (code
  /// 50014 stored).
  double RunErrorPass(VXCommon_1_2::RecordIterator& records, int n, bool computeAccuracy);
  /// The output statistics of at most n encoded records; returns the stored
  /// status.
  VXCommon_1_2::VXStatus RunOutputStats(VXCommon_1_2::MultiPassRecordIter& records, int n,
                                        NNOutputStatistics& stats);
  /// The importance pass over the training and test sources, in the
  /// Training state; returns the stored status.
  VXCommon_1_2::VXStatus RunSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                        bool useGivenRanges, const std::vector<double>& mins,
                                        const std::vector<double>& maxs,
                                        std::vector<double>& importance);
  /// After work: true (and Cancel entered) when the host has cancelled.
  bool CheckCancel();
  /// Makes `context` the current state and `status` the AlgorithmStatus.
  void SetContext(AlgorithmContext* context, VXNNCommon::AlgorithmStatus status);
  /// Stores `status` for GetStatus and returns it.
  VXCommon_1_2::VXStatus Store(const VXCommon_1_2::VXStatus& status) const;
  /// Cancelled, or an error stored: public work is skipped.
  bool Gated() const;
  /// The lines of the counters every driver shows, with the driver's own
  /// count (iterations, records) after the data passes.
  void DisplayCounters(std::ostream& out, const char* countLabel, int count) const;

  /// The host's cancel answer, once true. Atomic: ScoreRows asks for it
  /// from several threads at once.
  mutable std::atomic<bool> fCanceled{false};
  /// The data preparator, owned; null when the algorithm works on encoded
  /// records.
  std::unique_ptr<NNDataPreparator> fDataPreparator;
  /// The output list Score fills.
  NNOutputList fOutList;
  /// The current state. The states work through their own pointer to this
  /// algorithm, which lets the const operations (saves, exports) move the
  /// state machine.
  AlgorithmContext* fCurrentContext = nullptr;
  /// The status stored for GetStatus.
  mutable VXCommon_1_2::VXStatus fStatus;
  /// What GetAlgorithmStatus returns.
  VXNNCommon::AlgorithmStatus fAlgorithmStatus = VXNNCommon::kNotStarted;
  /// What GetStopReason returns.
  VXNNCommon::StopReason fStopReason = VXNNCommon::kStoppedUndefined;
  /// What GetNumberOfDataPasses returns.
  int fNDataPasses = 0;
  /// What GetNumberOfHiddenUnits returns.
  int fNHiddenUnits = 0;
  /// What GetElapsedTime returns, in seconds.
  double fElapsedTime = 0.0;
  /// What GetTrainingError returns.
  double fTrainingError;
  /// What GetTestingError returns.
  double fTestingError;
  /// What GetTrainingBIC returns.
  double fTrainingBIC;
  /// The random generator of the weights, saved with the model.
  VXRandom fRandomGenerator;
  /// The network, owned; null once cancelled or when construction failed.
  NNetwork* fNetwork = nullptr;
  /// The training source (encoded), not owned.
  VXCommon_1_2::MultiPassRecordIter* fTrainData = nullptr;
  /// The test source (encoded), not owned; may be null.
  VXCommon_1_2::MultiPassRecordIter* fTestData = nullptr;
  /// The Init state.
  std::unique_ptr<AlgorithmContext> fInitContext;
  /// The Save state.
  std::unique_ptr<AlgorithmContext> fSaveContext;
  /// The FailedRestart state.
  std::unique_ptr<AlgorithmContext> fFailedRestartContext;
  /// The Cancel state.
  std::unique_ptr<AlgorithmContext> fCancelContext;
  /// The Training state.
  std::unique_ptr<AlgorithmContext> fTrainingContext;
  /// The Trained state.
  std::unique_ptr<AlgorithmContext> fTrainedContext;
  /// The Expert state (the search of the number of hidden units).
  std::unique_ptr<AlgorithmContext> fExpertContext;

 private:
  friend class AlgorithmContext;

  /// The raw record's network inputs (the preparator's encoding, or the
  /// record itself), or null with the reason in status.
  const VXCommon_1_2::Record* NetworkInputs(const VXCommon_1_2::Record& in,
                                            VXCommon_1_2::VXStatus& status) const;
  /// Encodes at most n raw records into a new source (null when the
  /// encoding failed; the encoding status is stored).
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> Encode(VXCommon_1_2::RecordIterator& records,
                                                            int n, int& written);
  /// The binary or XML save: settings, variable list, then the block.
  VXCommon_1_2::VXStatus Save(std::ostream& out, bool xml);
  /// The block: saved status, counters, time, errors, generator, network,
  /// optimizer.
  void WriteBlock(std::ostream& out, VXNNCommon::AlgorithmStatus savedStatus, bool xml) const;

  /// Scoring scratch of the one-record Score: the encoded inputs.
  mutable VXCommon_1_2::Record fEncoded;
  /// Scoring scratch of the one-record Score: the output units.
  mutable std::vector<double> fOutUnits;
};

/// A driver whose optimizer is of type Optimizer (the MLP's optimizer
/// interface, the RBF's least-squares solver): owns it as fOptimizer and
/// provides the optimizer's part of the base's work through CreateOptimizer.
/// The library holds the instances for both drivers.
template <class Optimizer>
class NeuralAlgorithmWith : public NeuralAlgorithmBase {
 protected:
  using NeuralAlgorithmBase::NeuralAlgorithmBase;

  /// A new optimizer for the network, or null when none can be built.
  virtual Optimizer* CreateOptimizer(NNetwork* network) = 0;

  /// Whether fOptimizer is set.
  bool HasOptimizer() const override { return fOptimizer != nullptr; }
  /// Deletes fOptimizer and sets it to null.
  void DestroyOptimizer() override;
  /// fOptimizer from CreateOptimizer for fNetwork; false when it gave null.
  bool BuildOptimizer() override;
  /// A new optimizer for `network` reads its binary or XML object and
  /// becomes fOptimizer; false when none can be built. A read failure
  /// throws (the optimizer is deleted, fOptimizer is left as it was).
  bool RestoreOptimizer(std::istream& in, bool xml, NNetwork& network) override;
  /// The optimizer's WriteObject or WriteObjectXML; fOptimizer must be set.
  int WriteOptimizer(std::ostream& out, bool xml) const override;
  /// The optimizer's Display; fOptimizer must be set.
  void DisplayOptimizer(std::ostream& out) const override;

  /// The optimizer, owned; null when none was built.
  Optimizer* fOptimizer = nullptr;
};
