// The radial basis function network behind INeuralAlgorithm: centres from
// clustering the training records, widths from the clusters' spread, output
// weights by least squares.
#pragma once

#include <ctime>
#include <iosfwd>
#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/NeuralAlgorithmBase.h"
#include "vxneural/algorithm/RBFSettings.h"

class ClusterModel;
class NNDataPreparator;
class NNetwork;
class RBFLinReg;

namespace VXNeural {
namespace detail {
struct SharedRecords;
}  // namespace detail
}  // namespace VXNeural

extern template class NeuralAlgorithmWith<RBFLinReg>;

/// The radial basis function driver.
///
/// The state machine, the gate, scoring and the saved framing are those of
/// every driver (NeuralAlgorithmBase); this class adds how a model is
/// trained.
///
/// Train (first or further run, the same): the encoded training records,
/// inputs and targets together, are pre-clustered in one pass; then k
/// clusters are formed, k being the settings' number of hidden units when the
/// user set it (at most the records read), or chosen by the clustering
/// library between the settings' bounds (by default 1 .. 2 x (network inputs
/// + outputs)). Each cluster becomes a hidden unit: its centre the inputs'
/// means (category proportions for a categorical input), its width from the
/// inputs' variances times the overlap factor. The output weights are then
/// solved by least squares over at most nTrainRecords records. With the
/// clustering library's choice the network ends with exactly as many hidden
/// units as clusters were formed, and the settings' number of hidden units
/// and GetNumberOfHiddenUnits follow it. With the user's count the network
/// keeps its units even when fewer clusters form (fewer distinct records):
/// only the first units, one per cluster, are in use (the hidden layer's
/// GetNumCenters), and the others take no part in scoring, the solve or the
/// export. nTestRecords is not used.
///
/// SelectArchitecture (Init state only) tries every number of hidden units in
/// a range and keeps the best: the one of least test error with test data,
/// else of least BIC; ties keep the smaller number. The range is the
/// settings' bounds, or, when the maximum is below the minimum (the
/// default), one around the number the clustering library would choose.
/// With GetExpertOneDataPass (the default) every candidate's least-squares
/// sums are gathered in one data pass; otherwise each candidate has a pass of
/// its own. The search runs in the initial state (Not Started) until it
/// ends, in Trained or in FailedRestart with code 50001. A progress listener
/// is called with an RBFExpertReporter once per candidate, while that
/// candidate is the algorithm's network: a call back meets the initial
/// state, where scoring, error passes (accuracy included), output statistics
/// and saves work on the candidate, Train and SelectArchitecture are refused
/// (code 6, warning) as long as the search runs, and the other operations
/// are refused as in any initial state. What such a call leaves in the stored
/// status does not stop the one-pass search, which scores every candidate;
/// a warning still stored when the search ends makes it end in FailedRestart
/// (code 50001). With test data the candidates' test errors are ordinary
/// error passes, so the kept network answers GetAccuracy with its test
/// accuracy. A search that cannot form its smallest candidate ends in
/// FailedRestart with code 50001.
///
/// Update (Trained state) adds the new records to the least-squares sums; the
/// output weights change only when the fit improves, the centres never.
///
/// A clustering failure writes one line ("PreCluster returned error code ",
/// "Cluster returned error code " or "AutoCluster returned error code " and
/// the code) to standard error and stores the library's code with error
/// severity. Cancellation is polled before each record of every pass, the
/// pre-clustering included.
///
/// The saved block is "RBFAlgorithm 1.00": the status when the save began,
/// stop reason, data passes, records, hidden units, elapsed time, training
/// error, testing error, BIC, then the random generator, the network and the
/// least-squares solver.
class RBFAlgorithm : public NeuralAlgorithmWith<RBFLinReg> {
 public:
  /// Encoded records: the network reads train and test directly; the outputs
  /// follow the settings' output category counts. Random initial centres,
  /// widths and output weights (uniform in 0 .. 1).
  RBFAlgorithm(const RBFSettings& settings, VXCommon_1_2::MultiPassRecordIter& train,
               VXCommon_1_2::MultiPassRecordIter* test);
  /// Raw records through a prepared preparator, which the algorithm takes
  /// over. A null preparator, or one without encoded training records, gives
  /// code 50001 and the FailedRestart state.
  RBFAlgorithm(const RBFSettings& settings, NNDataPreparator* preparator);
  /// As above, starting from the given weights in the network's flat order
  /// (centres and squared widths, then the output weights). The wrong length
  /// gives code 50019 (discrete data 0 and 1: the network's count and the
  /// vector's) and the FailedRestart state.
  RBFAlgorithm(const RBFSettings& settings, NNDataPreparator* preparator,
               const std::valarray<double>& weights);
  /// Restore the algorithm block of a saved model, positioned right after the
  /// settings and the variable list. A wrong binary header writes "Error
  /// reading RBFAlgorithm!\n"; any failure gives code 50006 (binary) or 50007
  /// (XML) and the FailedRestart state.
  RBFAlgorithm(std::istream& in, const RBFSettings& settings, NNDataPreparator* preparator,
               VXCommon_1_2::MultiPassRecordIter& train, VXCommon_1_2::MultiPassRecordIter* test);
  /// The same from the XML saved form (failures give code 50007).
  RBFAlgorithm(XMLStream, std::istream& in, const RBFSettings& settings,
               NNDataPreparator* preparator, VXCommon_1_2::MultiPassRecordIter& train,
               VXCommon_1_2::MultiPassRecordIter* test);
  /// Not copyable.
  RBFAlgorithm(const RBFAlgorithm&) = delete;
  /// Not assignable.
  RBFAlgorithm& operator=(const RBFAlgorithm&) = delete;
  /// Destroys the solver, then the network and the preparator.
  ~RBFAlgorithm() override;

  std::string GetComponentVersion() const override;
  /// The network's accuracy as a percentage; the missing value once the
  /// stored status is an error or without a network.
  double GetAccuracy() const override;
  VXNNCommon::AlgorithmType GetAlgorithmType() const override { return VXNNCommon::kRBF; }
  /// An RBF network has no stop rules: nothing is stored, and null returned.
  void SetStopRules(INNStopRules* rules) override;
  INNStopRules* GetStopRules() override;
  const NeuralSettings* GetSettings() const override { return &fSettings; }

  /// The algorithm's own copy of its settings.
  const RBFSettings& GetRBFSettings() const { return fSettings; }
  /// Records used by the training runs and updates.
  int GetNumberOfRecords() const { return fNRecords; }
  /// The least-squares solver, owned by the algorithm; null when none was
  /// built.
  const RBFLinReg* GetOptimizer() const { return fOptimizer; }

  /// Whether the next training runs keep their clusters (off by default:
  /// the clustering's summary costs memory), so that RetrainAtOverlap can
  /// use them.
  void SetKeepClusters(bool keep) { fKeepClusters = keep; }
  /// Trains the network again at another overlap factor from the clusters
  /// the last training run kept: the same centres, the widths of the new
  /// factor, the output weights solved again on the same training records,
  /// which is the network a fresh run at that factor trains, without
  /// clustering again. The settings take the new factor. Code 6 (a warning,
  /// nothing changed) when no clusters were kept, the algorithm is not
  /// trained, or the factor is not a positive number.
  VXCommon_1_2::VXStatus RetrainAtOverlap(double overlap);

 private:
  struct Candidate;
  class Clustering;

  /// A least-squares solver for the network.
  RBFLinReg* CreateOptimizer(NNetwork* network) override;

  NeuralSettings& MutableSettings() override { return fSettings; }
  const char* BlockHeader() const override { return "RBFAlgorithm 1.00"; }
  const char* ClassName() const override { return "RBFAlgorithm"; }
  const char* SavedModelNotice() const override;
  /// Stop reason, data passes, records, hidden units.
  std::vector<int> BlockCounters() const override;
  bool TakeBlockCounters(const std::vector<int>& counters, bool apply) override;
  void DisplayFields(std::ostream& out) const override;
  VXCommon_1_2::VXStatus RunTraining(bool initialRun, int nTrain, int nTest) override;
  /// The end of a training run (RunTraining, RetrainAtOverlap): trained or
  /// inconsistent, the counters and the training error.
  VXCommon_1_2::VXStatus FinishRun(int nTrain);
  VXCommon_1_2::VXStatus RunUpdate(VXCommon_1_2::MultiPassRecordIter& records, int n) override;
  VXCommon_1_2::VXStatus RunArchitectureSearch() override;

  /// Pre-clusters the training records into the clustering's model; counts
  /// the data pass. False (status stored) on failure or cancellation.
  bool PreCluster(Clustering& clustering);
  /// False, with the failure line written and the library's code stored,
  /// when a clustering call failed.
  bool Clustered(const char* call, const VXCommon_1_2::VXStatus& status);
  /// Makes the network k hidden units wide (settings and counters follow)
  /// and fits the solver to it.
  void ResizeHiddenLayer(int k);
  /// The candidate's test error over at most nTest test records.
  double TestError(int nTest);
  /// The candidate's BIC for k hidden units over nRecords records.
  double BIC(int k, double error, int nRecords) const;
  /// Updates the elapsed time and calls the progress listener, if any, with
  /// an RBFExpertReporter.
  void ReportCandidate();
  /// The search with every candidate's sums gathered in one data pass.
  VXCommon_1_2::VXStatus SearchOnePass(Clustering& clustering, int lo, int hi, int nTest);
  /// The search with a data pass per candidate.
  VXCommon_1_2::VXStatus SearchPassPerCandidate(Clustering& clustering, int lo, int hi, int nTest);

  RBFSettings fSettings;
  int fNRecords = 0;
  /// The search's clock start.
  std::clock_t fSearchStart = 0;
  /// The search's records per candidate (the records the pre-clustering
  /// read).
  int fSearchRecords = 0;
  /// Set while SelectArchitecture runs: a listener calling Train or
  /// SelectArchitecture back is refused (code 6, warning).
  bool fSearching = false;
  /// Whether training runs keep their clusters (SetKeepClusters).
  bool fKeepClusters = false;
  /// The clusters of the last training run, when kept.
  std::unique_ptr<Clustering> fKeptClusters;
  /// The records the last training run with kept clusters trained on.
  int fKeptTrainRecords = 0;
  /// The shares of a data-parallel training while one runs, else null.
  const VXNeural::detail::SharedRecords* fShared = nullptr;
};
