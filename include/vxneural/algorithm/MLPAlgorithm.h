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
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/NeuralAlgorithmBase.h"

class IOptimizationAlgorithm;
class NNDataPreparator;
class NNetwork;
namespace VXNeural {
namespace detail {
struct SharedRecords;
}  // namespace detail
}  // namespace VXNeural

extern template class NeuralAlgorithmWith<IOptimizationAlgorithm>;

/// The multi-layer perceptron driver.
///
/// The state machine, the gate, scoring and the saved framing are those of
/// every driver (NeuralAlgorithmBase). What the MLP adds: the sample-based
/// initialisation before the first run, the optimizer the settings' training
/// method and type select, the architecture search, and updates, which
/// always train by gradient descent in mini-batches (or online): other
/// settings are switched over and the optimizer replaced, carrying its
/// counters.
class MLPAlgorithm : public NeuralAlgorithmWith<IOptimizationAlgorithm> {
 public:
  /// Encoded records: the network reads train and test directly; the outputs
  /// follow the settings' output category counts. Random initial weights;
  /// the first Train first initialises them from a sample.
  MLPAlgorithm(const MLPSettings& settings, VXCommon_1_2::MultiPassRecordIter& train,
               VXCommon_1_2::MultiPassRecordIter* test);
  /// Raw records through a prepared preparator, which the algorithm takes
  /// over (its encoded sources are the training and test data). A null
  /// preparator, or one without encoded training records, gives code 50001
  /// and the FailedRestart state.
  MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator);
  /// As above, starting from the given weights (in the network's flat order)
  /// without a sample initialisation. A vector of the wrong length gives
  /// code 50019 (error; discrete datum 0 the network's weight count, 1 the
  /// vector's length) and the FailedRestart state.
  MLPAlgorithm(const MLPSettings& settings, NNDataPreparator* preparator,
               const std::valarray<double>& weights);
  /// Restore the algorithm block of a saved model, positioned right after the
  /// settings and the variable list (a factory reads those). Binary: a wrong
  /// header or a block, generator, network or optimizer that does not read
  /// gives code 50006 (error) and the FailedRestart state. XML: any failed
  /// step gives 50007. preparator may be null; train and test are then the
  /// encoded sources.
  MLPAlgorithm(std::istream& in, const MLPSettings& settings, NNDataPreparator* preparator,
               VXCommon_1_2::MultiPassRecordIter& train, VXCommon_1_2::MultiPassRecordIter* test);
  /// The same from the XML saved form (failures give code 50007).
  MLPAlgorithm(XMLStream, std::istream& in, const MLPSettings& settings,
               NNDataPreparator* preparator, VXCommon_1_2::MultiPassRecordIter& train,
               VXCommon_1_2::MultiPassRecordIter* test);
  /// Not copyable.
  MLPAlgorithm(const MLPAlgorithm&) = delete;
  /// Not assignable.
  MLPAlgorithm& operator=(const MLPAlgorithm&) = delete;
  /// Destroys the optimizer, then the network and the preparator.
  ~MLPAlgorithm() override;

  std::string GetComponentVersion() const override;
  /// Always kMLP. (The MLP computes no BIC: GetTrainingBIC is the missing
  /// value unless a saved model brought one.)
  VXNNCommon::AlgorithmType GetAlgorithmType() const override { return VXNNCommon::kMLP; }
  void SetStopRules(INNStopRules* rules) override;
  INNStopRules* GetStopRules() override;
  const NeuralSettings* GetSettings() const override { return &fSettings; }

  /// Replaces the algorithm's copy of its settings, unchecked; the network
  /// and the optimizer are not rebuilt.
  void SetMLPSettings(const MLPSettings& settings) { fSettings = settings; }
  /// The algorithm's own copy of its settings.
  const MLPSettings& GetMLPSettings() const { return fSettings; }
  /// Optimizer iterations summed over the training runs.
  int GetNumberOfIterations() const { return fNIterations; }
  /// Whether the first training run initialises the weights from a sample
  /// (false when the algorithm was given its weights).
  bool GetReinitializeWeights() const { return fReinitializeWeights; }
  /// The optimizer, owned by the algorithm; null when none was built.
  const IOptimizationAlgorithm* GetOptimizer() const { return fOptimizer; }
  /// The optimizer, owned by the algorithm; null when none was built.
  IOptimizationAlgorithm* GetOptimizer() { return fOptimizer; }

 private:
  /// What the weight initialisation and the architecture search (which work
  /// on this algorithm's own network, optimizer, generator and counters) ask
  /// of the algorithm itself.
  class InitializerHooks;

  /// Initial weights from a sample with annealing, before the first run.
  virtual VXCommon_1_2::VXStatus ComputeSampleWeights();
  /// The weight search shared by the initialisation and the architecture
  /// search.
  virtual VXCommon_1_2::VXStatus Annealing(VXCommon_1_2::MultiPassRecordIter& train,
                                           VXCommon_1_2::MultiPassRecordIter* test, int nTrain,
                                           int nTest, bool keepCurrentFirst, double& bestTestError,
                                           double& trainErrorRatio,
                                           std::valarray<double>& bestWeights, bool& reachedTarget);

  /// The optimizer the settings' training method and type select, or null.
  IOptimizationAlgorithm* CreateOptimizer(NNetwork* network) override;

  NeuralSettings& MutableSettings() override { return fSettings; }
  const char* BlockHeader() const override { return "MLPAlgorithm 1.00"; }
  const char* ClassName() const override { return "MLPAlgorithm"; }
  const char* SavedModelNotice() const override;
  /// The re-initialise flag, stop reason, data passes, iterations, hidden
  /// units.
  std::vector<int> BlockCounters() const override;
  bool TakeBlockCounters(const std::vector<int>& counters, bool apply) override;
  void DisplayFields(std::ostream& out) const override;
  VXCommon_1_2::VXStatus RunTraining(bool initialRun, int nTrain, int nTest) override;
  VXCommon_1_2::VXStatus RunUpdate(VXCommon_1_2::MultiPassRecordIter& records, int n) override;
  VXCommon_1_2::VXStatus RunArchitectureSearch() override;
  /// Updating trains by gradient descent in mini-batches: switches the
  /// settings and replaces the optimizer (carrying its counters) if needed.
  void SwitchToUpdateOptimizer();

  MLPSettings fSettings;
  bool fReinitializeWeights = true;
  /// The shares of the data-parallel training running, null otherwise.
  const VXNeural::detail::SharedRecords* fShared = nullptr;
  /// What GetNumberOfIterations returns.
  int fNIterations = 0;
};
