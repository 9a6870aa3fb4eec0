// The multi-layer perceptron behind INeuralAlgorithm: it owns a copy of its
// settings, the network, the optimizer that trains it, the output list that
// scoring fills, a random generator, optionally the data preparator, and one
// object per state of its state machine.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/VXRandom.h"

class IOptimizationAlgorithm;
class MLPContext;
class NNDataPreparator;
class NNetwork;

// States and the AlgorithmStatus they stand for: Init 0 (Not Started),
// Training 1 (In Progress; 8 Inconsistent after a failed run), Trained 2,
// Save 4 (Saving, only while a save runs), Expert 7 (during the architecture
// search), Cancel 5, FailedRestart 8 (construction or restore built no
// optimizer).
//
// What each state does (a code in brackets is stored and returned):
//
//   operation             Init       Trained    Expert     Training,Save Cancel FailedRestart
//   Train                 first run  further    [6 w]      [6 w]         [1 e]  [5 e]
//   Update                [6 w]      update     [6 w]      [6 w]         [1 e]  [5 e]
//   GetErrorOnData        pass       pass       pass, no   [6 w]         [1 e]  [5 e]
//                                               accuracy
//   ComputeSensitivity    [6 w]      computed   [6 w]      [6 w]         [1 e]  [5 e]
//   ComputeOutputStats    computed   computed   [6 w]      [6 w]         [1 e]  [5 e]
//   SaveState(XML)        saved      saved      [4 w]      [4 w]         [1 e]  [5 e]
//   SelectArchitecture    search     [6 w]      [6 w]      [6 w]         [1 e]  [5 e]
//
// The exported documents and the structure view are not available in this
// version: ExportModelXML, ExportModelStatXML and GetStructure answer [6 w]
// in every state (GetStructure with null).
//
// Predictor importance runs only when the settings ask for it (otherwise
// both forms return OK and leave the vector alone), over the training and
// then the test records (the settings' counts), in the Training state: a
// progress listener calling back meets a busy algorithm. With a preparator
// the arguments must match the variable list's input variables (else code
// 50005, error) and the ranges are the list's own unless given. Without a
// preparator the one-argument form answers [6 w]. Output statistics
// encode the raw records first (with a preparator) and rewind them.
//
// Train, Update, GetErrorOnData, GetAccuracy, ComputeSensitivity and
// ComputeOutputStats pass the gate first: once cancelled or holding an error
// status they return OK (the missing value for a number) and do nothing.
// Saves, exports, the structure view and SelectArchitecture reach their state
// without the gate. Every operation that did work ends by looking at the
// cancel object: a positive answer destroys the network and the optimizer
// and enters Cancel with code 1.
//
// The algorithm keeps pointers to the training and test sources it is given
// (the preparator's own sources when it has one) and to the call-back objects
// in its settings; none of them is owned.
class MLPAlgorithm : public INeuralAlgorithm {
 public:
  // Selects the XML form of the restoring constructor.
  struct XMLStream {};

  // Encoded records: the network reads train and test directly; the outputs
  // follow the settings' output category counts. Random initial weights;
  // the first Train first initialises them from a sample.
  MLPAlgorithm(const MLPSettings& settings, VXCommon_1_2::MultiPassRecordIter& train,
               VXCommon_1_2::MultiPassRecordIter* test);
  // Raw records through a prepared preparator, which the algorithm takes
  // over (its encoded sources are the training and test data). A null
  // preparator, or one without encoded training records, gives code 50001
  // and the FailedRestart state.
  MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator);
  // As above, starting from the given weights (in the network's flat order)
  // without a sample initialisation. A vector of the wrong length gives
  // code 50019 (error; discrete datum 0 the network's weight count, 1 the
  // vector's length) and the FailedRestart state.
  MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator,
               const std::valarray<double>& weights);
  // Restore the algorithm block of a saved model, positioned right after the
  // settings and the variable list (a factory reads those). Binary: a wrong
  // header or a block, generator, network or optimizer that does not read
  // gives code 50006 (error) and the FailedRestart state. XML: any failed
  // step gives 50007. preparator may be null; train and test are then the
  // encoded sources.
  MLPAlgorithm(std::istream& in, const MLPSettings& settings, NNDataPreparator* preparator,
               VXCommon_1_2::MultiPassRecordIter& train, VXCommon_1_2::MultiPassRecordIter* test);
  MLPAlgorithm(XMLStream, std::istream& in, const MLPSettings& settings,
               NNDataPreparator* preparator, VXCommon_1_2::MultiPassRecordIter& train,
               VXCommon_1_2::MultiPassRecordIter* test);
  MLPAlgorithm(const MLPAlgorithm&) = delete;
  MLPAlgorithm& operator=(const MLPAlgorithm&) = delete;
  ~MLPAlgorithm() override;

  void SetUISettings(UISettings& settings) override;
  const UISettings& GetUISettings() const override { return fUISettings; }
  std::string GetComponentVersion() const override;

  VXCommon_1_2::VXStatus Train(int nTrainRecords, int nTestRecords) override;
  // Updating always trains by gradient descent in mini-batches (or online):
  // other settings are switched over and the optimizer replaced, carrying its
  // counters. Raw records are encoded first (n < 0: all of them); a failed
  // encoding stores its status and returns OK.
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& records, int n) override;
  // Raw records are encoded first (except during the architecture search,
  // whose sources are already encoded). The missing value when the encoding
  // failed, the pass was cancelled, or the state refuses.
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int nRecords) override;
  double GetAccuracy() const override;
  // Takes the inputs and their ranges from the preparator's variable list;
  // without a preparator there is none, and the answer is code 6.
  VXCommon_1_2::VXStatus ComputeSensitivity(std::vector<double>& importance) const override;
  // With a preparator the input count and the category counts must be the
  // variable list's, else code 50005 (error).
  VXCommon_1_2::VXStatus ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                            bool useGivenRanges, const std::vector<double>& mins,
                                            const std::vector<double>& maxs,
                                            std::vector<double>& importance) const override;
  VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records,
                                            int nRecords, NNOutputStatistics& stats) override;
  // The MLP computes no BIC: always the missing value.
  double GetTrainingBIC() const override { return fTrainingBIC; }
  double GetTrainingError() const override { return fTrainingError; }
  double GetTestingError() const override { return fTestingError; }
  // Independent of the state and of an error status; missing once cancelled,
  // without a network, or when the record does not encode (the encoding and
  // forward statuses are stored).
  const NNOutputList& Score(const VXCommon_1_2::Record& in) override;
  VXCommon_1_2::VXStatus Score(const VXCommon_1_2::Record& in,
                               VXCommon_1_2::Record& out) const override;
  VXCommon_1_2::VXStatus ExportModelXML(std::ostream& out, int flags,
                                        const VXCommon_1_2::VXApplicInfo4XML* info) const override;
  VXCommon_1_2::VXStatus ExportModelStatXML(
      std::ostream& out, int flags, const VXCommon_1_2::VXApplicInfo4XML* info) const override;
  NNStructure* GetStructure() const override;
  // While a save runs the algorithm reports Saving (4) and refuses other
  // calls; afterwards it is as before. A stream that has failed by the end
  // of the save gives code 50016 with warning severity: the saved form is
  // incomplete, the model itself is unharmed. An initial state left without
  // a network by a failed architecture search cannot save (code 4).
  VXCommon_1_2::VXStatus SaveState(std::ostream& out) const override;
  VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out) const override;
  VXCommon_1_2::VXStatus GetStatus() const override { return fStatus; }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override { return fAlgorithmStatus; }
  VXCommon_1_2::VXStatus SelectArchitecture() override;
  VXNNCommon::StopReason GetStopReason() const override { return fStopReason; }
  VXNNCommon::AlgorithmType GetAlgorithmType() const override { return VXNNCommon::kMLP; }
  double GetElapsedTime() const override { return fElapsedTime; }
  int GetNumberOfDataPasses() const override { return fNDataPasses; }
  int GetNumberOfHiddenUnits() const override { return fNHiddenUnits; }
  void SetProgressListener(VXCommon_1_2::ProgressListener* listener) override;
  void RemoveProgressListener() override;
  void SetStopRules(INNStopRules* rules) override;
  INNStopRules* GetStopRules() override;
  const NeuralSettings* GetSettings() const override { return &fSettings; }
  const NNVarList* GetVarList() const override;
  void Display(std::ostream& out) const override;

  void SetMLPSettings(const MLPSettings& settings) { fSettings = settings; }
  const MLPSettings& GetMLPSettings() const { return fSettings; }
  int GetNumberOfIterations() const { return fNIterations; }
  bool GetReinitializeWeights() const { return fReinitializeWeights; }
  // Null once cancelled or when construction failed.
  const NNetwork* GetNetwork() const { return fNetwork; }
  const IOptimizationAlgorithm* GetOptimizer() const { return fOptimizer; }
  IOptimizationAlgorithm* GetOptimizer() { return fOptimizer; }

 protected:
  bool IsCanceled() const override;

 private:
  friend class MLPContext;
  friend class MLPInitContext;
  friend class MLPTrainedContext;
  friend class MLPExpertContext;
  // What the weight initialisation and the architecture search (which work
  // on this algorithm's own network, optimizer, generator and counters) ask
  // of the algorithm itself.
  class InitializerHooks;

  // Initial weights from a sample with annealing, before the first run.
  virtual VXCommon_1_2::VXStatus ComputeSampleWeights();
  // The weight search shared by the initialisation and the architecture
  // search.
  virtual VXCommon_1_2::VXStatus Annealing(VXCommon_1_2::MultiPassRecordIter& train,
                                           VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                                           int nTest, bool keepCurrentFirst, double& bestTestError,
                                           double& trainErrorRatio,
                                           std::valarray<double>& bestWeights, bool& reachedTarget);

  // What every constructor sets the same way, and the states.
  void Initialize();
  // The network and the optimizer of the constructors from settings.
  void BuildModel(bool randomize, const std::valarray<double>* weights);
  // The training and test sources of a preparator; false without data.
  bool TakePreparatorData();
  // Both restoring constructors: the block, generator, network, optimizer.
  void Restore(std::istream& in, bool xml);
  void EnterFailedRestart(const VXCommon_1_2::VXStatus& status);
  // A new network from fSettings (random weights on request), or null when
  // it cannot be built or does not fit the outputs and the preparator.
  NNetwork* CreateNetwork(bool randomize);
  // The network takes the encoded inputs and feeds the output list.
  bool NetworkFits(const NNetwork& network) const;
  // The optimizer the settings' training method and type select, or null.
  IOptimizationAlgorithm* CreateOptimizer(NNetwork* network);
  void DoCancel();
  VXCommon_1_2::VXStatus DoSave(std::ostream& out);
  VXCommon_1_2::VXStatus DoSaveXML(std::ostream& out);
  // The algorithm block after the settings and the variable list.
  void WriteBlock(std::ostream& out, VXNNCommon::AlgorithmStatus savedStatus) const;
  void WriteBlockXML(std::ostream& out, VXNNCommon::AlgorithmStatus savedStatus) const;

  // The work of the states.
  VXCommon_1_2::VXStatus RunTraining(bool initialRun, int nTrain, int nTest);
  VXCommon_1_2::VXStatus RunUpdate(VXCommon_1_2::MultiPassRecordIter& records, int n);
  double RunErrorPass(VXCommon_1_2::RecordIterator& records, int n, bool computeAccuracy);
  VXCommon_1_2::VXStatus RunOutputStats(VXCommon_1_2::MultiPassRecordIter& records, int n,
                                        NNOutputStatistics& stats);
  VXCommon_1_2::VXStatus RunSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                        bool useGivenRanges, const std::vector<double>& mins,
                                        const std::vector<double>& maxs,
                                        std::vector<double>& importance);
  VXCommon_1_2::VXStatus RunArchitectureSearch();
  // Updating trains by gradient descent in mini-batches: switches the
  // settings and replaces the optimizer (carrying its counters) if needed.
  void SwitchToUpdateOptimizer();

  // After work: true (and Cancel entered) when the host has cancelled.
  bool CheckCancel();
  void SetContext(MLPContext* context, VXNNCommon::AlgorithmStatus status);
  VXCommon_1_2::VXStatus Store(const VXCommon_1_2::VXStatus& status) const;
  // Cancelled, or an error stored: public work is skipped.
  bool Gated() const;
  // The raw record's network inputs (the preparator's encoding, or the
  // record itself), or null with the reason in status.
  const VXCommon_1_2::Record* NetworkInputs(const VXCommon_1_2::Record& in,
                                            VXCommon_1_2::VXStatus& status) const;
  // Encodes at most n raw records into a new source (null when the
  // encoding failed; the encoding status is stored).
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> Encode(VXCommon_1_2::RecordIterator& records,
                                                            int n, int& written);

  MLPSettings fSettings;
  IOptimizationAlgorithm* fOptimizer = nullptr;
  mutable bool fCanceled = false;
  std::unique_ptr<NNDataPreparator> fDataPreparator;
  NNOutputList fOutList;
  bool fReinitializeWeights = true;
  // The states work through their own pointer to this algorithm, which lets
  // the const operations (saves, exports) move the state machine.
  MLPContext* fCurrentContext = nullptr;
  mutable VXCommon_1_2::VXStatus fStatus;
  VXNNCommon::AlgorithmStatus fAlgorithmStatus = VXNNCommon::kNotStarted;
  VXNNCommon::StopReason fStopReason = VXNNCommon::kStoppedUndefined;
  int fNDataPasses = 0;
  int fNIterations = 0;
  int fNHiddenUnits = 0;
  double fElapsedTime = 0.0;
  double fTrainingError;
  double fTestingError;
  double fTrainingBIC;
  VXRandom fRandomGenerator;
  NNetwork* fNetwork = nullptr;
  VXCommon_1_2::MultiPassRecordIter* fTrainData = nullptr;
  VXCommon_1_2::MultiPassRecordIter* fTestData = nullptr;
  std::unique_ptr<MLPContext> fInitContext;
  std::unique_ptr<MLPContext> fSaveContext;
  std::unique_ptr<MLPContext> fFailedRestartContext;
  std::unique_ptr<MLPContext> fCancelContext;
  std::unique_ptr<MLPContext> fTrainingContext;
  std::unique_ptr<MLPContext> fTrainedContext;
  std::unique_ptr<MLPContext> fExpertContext;

  // Scoring scratch, sized once: the encoded inputs and the output units.
  mutable VXCommon_1_2::Record fEncoded;
  mutable std::vector<double> fOutUnits;
};
