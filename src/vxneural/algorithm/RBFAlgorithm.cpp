#include "vxneural/algorithm/RBFAlgorithm.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <ctime>
#include <iostream>
#include <memory>
#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "algorithm/NeuralAlgorithmWith.h"
#include "algorithm/RBFContext.h"
#include "algorithm/SharedClustering.h"
#include "algorithm/SharedTraining.h"
#include "data/SourceCheck.h"
#include "network/PassWorkers.h"
#include "network/kernels/KernelTable.h"
#include "persist/Display.h"
#include "vxcluster/ClusterModel.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/NNClusterAdapter.h"
#include "vxneural/algorithm/RBFExpertReporter.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/optim/RBFLinReg.h"
#include "vxneural/variables/NNVarList.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;
namespace codes = VXNeural::codes;

namespace {

double SecondsSince(std::clock_t start) {
  const double milliseconds = static_cast<double>(std::clock() - start) * 1000.0 / CLOCKS_PER_SEC;
  return milliseconds / 1000.0;
}

// A clustering library failure: one line on standard error, the library's
// code with error severity.
VXStatus ClusteringFailure(const char* call, const VXStatus& status) {
  std::cerr << call << " returned error code " << status.GetErrorCode() << '\n';
  return VXStatus(status.GetErrorCode(), false);
}

// The outcome of a shared training's start: its own error, or 50020 when
// the passes cannot be shared because the reference kernel, which has no
// blocks, is in use.
VXStatus SharedStatus(const VXStatus& sharing, const VXNeural::detail::SharedRecords* shared) {
  if (!sharing.IsOK() || shared == nullptr) return sharing;
  if (VXNeural::detail::ActiveKernelTable() == nullptr)
    return VXStatus(codes::kSharesDoNotMatch, false);
  return VXStatus();
}

// A candidate's score can make it the best: a number, and for a test error
// not the missing value (a BIC of -DBL_MAX is a perfect fit). When none
// qualifies the smallest candidate is kept, the one least likely to
// over-fit.
bool Qualifies(double score, bool testError) {
  return score == score && !(testError && VXMV::IsMissing(score));
}

// Sets how many of the hidden layer's centres are in use (at most its
// units) and returns the centre list. The network's weight count covers the
// centres in use only, so it is worked out again (resizing the layer to its
// own size keeps every centre), or the flat weight vector and the saved
// model would still count the unused units.
std::vector<std::vector<double>>& SetCentresInUse(NNetwork& network, int k) {
  RBFHiddenLayer& hidden = *network.GetRBFHiddenLayer();
  std::vector<std::vector<double>>& centres = hidden.SetNumCenters(k);
  network.SetNumHiddenUnits(hidden.GetNumUnits());
  return centres;
}

// Sets a flag for as long as it lives.
class SearchFlag {
 public:
  explicit SearchFlag(bool& flag) : fFlag(flag) { fFlag = true; }
  SearchFlag(const SearchFlag&) = delete;
  SearchFlag& operator=(const SearchFlag&) = delete;
  ~SearchFlag() { fFlag = false; }

 private:
  bool& fFlag;
};

}  // namespace

// The clustering variables of the encoded records and the model built over
// them. Continuous variables are standardised encodings already, so the
// library is told 0 and 1 as their location and scale.
class RBFAlgorithm::Clustering {
 public:
  explicit Clustering(const RBFAlgorithm& algorithm) : fVars(1) {
    if (algorithm.fDataPreparator) {
      const NNVarList& list = std::as_const(*algorithm.fDataPreparator).GetVarList();
      for (INNVariable::VariableRole role : {INNVariable::kInput, INNVariable::kOutput}) {
        for (int i = 0; i < static_cast<int>(list.Size()); ++i) {
          const INNVariable* var = list.GetVarAt(i);
          if (var->GetVariableRole() != role) continue;
          const bool categorical = var->GetMeasureLevel() != INNVariable::kContinuous;
          Add(categorical, var->GetNumberOfCategories(), role == INNVariable::kInput);
        }
      }
    } else {
      for (int i = 0; i < algorithm.fNetwork->GetNumInputs(); ++i) Add(false, 1, true);
      for (int n : algorithm.fNetwork->GetNumOutputCategories()) Add(n > 1, n, false);
    }
    // The clustering library takes the pass threads as a setting and runs
    // its work on the passes' own pool, so a process keeps one set of
    // threads; its results are the same for any count.
    ClusterSettings settings;
    settings.SetThreads(VXNeural::GetPassThreads());
    settings.SetRunner(&VXNeural::detail::RunWorkers);
    fModel = std::make_unique<ClusterModel>(settings, fVars);
  }

  ClusterModel& Model() { return *fModel; }
  const std::vector<int>& AllWidths() const { return fAllWidths; }
  const std::vector<bool>& AllCategorical() const { return fAllCategorical; }
  // Records the pre-clustering read.
  int fRecords = 0;

  // Centres and variance vectors of the hidden layer from the result
  // clusters, then the widths; returns the number of centres placed: the
  // clusters, at most one per unit. A layer with more units than clusters
  // uses only the first ones; the others are zeroed, so that a model reads
  // the same before and after a save (which keeps only the centres in
  // use).
  int PlaceCentres(NNetwork& network, double overlap) const {
    std::vector<const ClusterStats*> clusters(fModel->BeginResultClusters(),
                                              fModel->EndResultClusters());
    RBFHiddenLayer& hidden = *network.GetRBFHiddenLayer();
    std::vector<std::vector<double>>& centres =
        SetCentresInUse(network, static_cast<int>(clusters.size()));
    clusters.resize(static_cast<std::size_t>(hidden.GetNumCenters()));
    std::vector<std::vector<double>>& variances = hidden.PrepareVarianceVectors();
    for (std::size_t j = clusters.size(); j < centres.size(); ++j) {
      std::fill(centres[j].begin(), centres[j].end(), 0.0);
      std::fill(variances[j].begin(), variances[j].end(), 0.0);
    }
    std::size_t c = 0;
    for (std::size_t v = 0; v < fInputWidths.size(); ++v) {
      const int var = static_cast<int>(v);
      const std::size_t n = static_cast<std::size_t>(fInputWidths[v]);
      for (std::size_t j = 0; j < clusters.size(); ++j) {
        const ClusterStats& cluster = *clusters[j];
        if (fContinuous[v]) {
          centres[j][c] = cluster.GetMeanOfContVar(var);
          variances[j][c] = cluster.GetVarianceOfContVar(var) * overlap;
          continue;
        }
        const std::vector<int>& counts = cluster.GetCountsOfCatVar(var);
        const double cases = cluster.GetCaseCount();
        for (std::size_t u = 0; u < n; ++u) {
          const double p = cases > 0 && u < counts.size() ? counts[u] / cases : 0.0;
          centres[j][c + u] = p;
          variances[j][c + u] = overlap * p * (1.0 - p);
        }
      }
      c += n;
    }
    hidden.SetFallbackVariance(overlap);
    hidden.ComputeAdjustedVariances();
    return static_cast<int>(clusters.size());
  }

 private:
  // A categorical variable with its number of categories (one of them is
  // still categorical: its indicator may be 0), or a continuous one.
  void Add(bool categorical, int categories, bool input) {
    if (categorical) {
      fVars.AddCatVar(categories, ClusterVar::kNumericCategorical);
    } else {
      fVars.AddContVar(0.0, 1.0);
    }
    const int width = categorical ? categories : 1;
    fAllWidths.push_back(width);
    fAllCategorical.push_back(categorical);
    if (!input) return;
    fInputWidths.push_back(width);
    fContinuous.push_back(!categorical);
  }

  ClusterVarList fVars;
  std::vector<int> fAllWidths;
  std::vector<bool> fAllCategorical;
  std::vector<int> fInputWidths;
  std::vector<bool> fContinuous;
  std::unique_ptr<ClusterModel> fModel;
};

// One candidate of the one-pass search: its own network and solver.
struct RBFAlgorithm::Candidate {
  int k = 0;
  std::unique_ptr<NNetwork> network;
  std::unique_ptr<RBFLinReg> solver;
  double error = 0.0;
  double testError = VXMV::gMissingValue;
  double bic = VXMV::gMissingValue;
  // The network's accuracy after the candidate was scored (its test
  // accuracy with test data), which the kept model answers.
  double accuracy = 0.0;
};

// ---------------------------------------------------------------------------
// Construction and destruction

RBFAlgorithm::RBFAlgorithm(const RBFSettings& settings, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : NeuralAlgorithmWith(nullptr, &train, test), fSettings(settings) {
  Construct(nullptr);
}

RBFAlgorithm::RBFAlgorithm(const RBFSettings& settings, NNDataPreparator* preparator)
    : NeuralAlgorithmWith(preparator, nullptr, nullptr), fSettings(settings) {
  Construct(nullptr);
}

RBFAlgorithm::RBFAlgorithm(const RBFSettings& settings, NNDataPreparator* preparator,
                           const std::valarray<double>& weights)
    : NeuralAlgorithmWith(preparator, nullptr, nullptr), fSettings(settings) {
  Construct(&weights);
}

RBFAlgorithm::RBFAlgorithm(std::istream& in, const RBFSettings& settings,
                           NNDataPreparator* preparator, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : NeuralAlgorithmWith(preparator, &train, test), fSettings(settings) {
  ConstructFrom(in, false);
}

RBFAlgorithm::RBFAlgorithm(XMLStream, std::istream& in, const RBFSettings& settings,
                           NNDataPreparator* preparator, MultiPassRecordIter& train,
                           MultiPassRecordIter* test)
    : NeuralAlgorithmWith(preparator, &train, test), fSettings(settings) {
  ConstructFrom(in, true);
}

RBFAlgorithm::~RBFAlgorithm() {
  DestroyOptimizer();
  DestroyModel();
}

RBFLinReg* RBFAlgorithm::CreateOptimizer(NNetwork* network) {
  if (network == nullptr) return nullptr;
  try {
    return new RBFLinReg(&fSettings, network);
  } catch (const std::exception&) {
    return nullptr;
  }
}

const char* RBFAlgorithm::SavedModelNotice() const {
  return "vxneural saved radial basis function model";
}

std::vector<int> RBFAlgorithm::BlockCounters() const {
  return {fStopReason, fNDataPasses, fNRecords, fNHiddenUnits};
}

bool RBFAlgorithm::TakeBlockCounters(const std::vector<int>& counters, bool apply) {
  // A stop reason or a count outside its range can only come from a
  // damaged stream.
  const bool valid = counters[0] >= VXNNCommon::kStoppedUndefined &&
                     counters[0] <= VXNNCommon::kStoppedComputed && counters[1] >= 0 &&
                     counters[2] >= 0 && counters[3] >= 0;
  if (!valid || !apply) return valid;
  fStopReason = static_cast<VXNNCommon::StopReason>(counters[0]);
  fNDataPasses = counters[1];
  fNRecords = counters[2];
  fNHiddenUnits = counters[3];
  return true;
}

// ---------------------------------------------------------------------------
// State-independent operations

std::string RBFAlgorithm::GetComponentVersion() const {
  return "vxneural radial basis function component, version 1.0";
}

double RBFAlgorithm::GetAccuracy() const {
  if (fStatus.IsError() || fNetwork == nullptr) return VXMV::gMissingValue;
  return fNetwork->GetAccuracy() * 100.0;
}

void RBFAlgorithm::SetStopRules(INNStopRules*) {}
INNStopRules* RBFAlgorithm::GetStopRules() { return nullptr; }

void RBFAlgorithm::DisplayFields(std::ostream& out) const {
  DisplayCounters(out, "Number of records = ", fNRecords);
  VXNeural::detail::ShowValue(out, "BIC ", fTrainingBIC);
}

// ---------------------------------------------------------------------------
// Clustering steps

bool RBFAlgorithm::PreCluster(Clustering& clustering) {
  // The pre-clustering reads every training record once; polling the
  // cancel object before each record lets the host stop it part way.
  fTrainData->Rewind();
  NNClusterAdapter adapter(fTrainData, clustering.AllWidths(), clustering.AllCategorical(),
                           [this] { return IsCanceled(); });
  VXStatus status;
  bool failed = false;
  if (fShared) {
    // The processes read their shares into the one summary in turn.
    const VXNeural::detail::SharedPreClusterOutcome outcome = VXNeural::detail::PreClusterInTurns(
        clustering.Model(), adapter, *fShared->combiner,
        [this] { return VXNeural::detail::SourceFailed(*fTrainData); });
    status = outcome.status;
    failed = outcome.sourceFailed;
    clustering.fRecords =
        static_cast<int>(std::min<long long>(clustering.Model().GetNumRecords(), INT_MAX));
  } else {
    status = clustering.Model().PreCluster(adapter);
    failed = VXNeural::detail::SourceFailed(*fTrainData);
    clustering.fRecords = adapter.GetCount();
  }
  fTrainData->Rewind();
  ++fNDataPasses;
  if (status.GetErrorCode() == codes::kExchangeFailed) {
    Store(status);
    return false;
  }
  if (IsCanceled()) return false;
  // Centres from part of the records would pass for a model of them all.
  if (failed) {
    Store(VXStatus(codes::kTrainSourceNotGood, false));
    return false;
  }
  if (status.IsError()) {
    Store(ClusteringFailure("PreCluster", status));
    return false;
  }
  return true;
}

bool RBFAlgorithm::Clustered(const char* call, const VXStatus& status) {
  if (!status.IsError()) return true;
  Store(ClusteringFailure(call, status));
  return false;
}

void RBFAlgorithm::ResizeHiddenLayer(int k) {
  fNHiddenUnits = k;
  fNetwork->SetNumHiddenUnits(k);
  fOptimizer->ReInitialize();
  fSettings.SetNumHiddenUnits(k, 1);
}

// ---------------------------------------------------------------------------
// The work of the states

VXStatus RBFAlgorithm::RunTraining(bool, int nTrain, int) {
  // Called back by a listener during the search (see RunArchitectureSearch).
  if (fSearching) return Store(VXStatus(codes::kNotAvailable, true));
  // A process of a shared training cancelled before the start takes its
  // cancel to the first exchange, rather than leave the others waiting
  // there.
  const VXNeural::detail::StartedSharedTraining shares(fDataPreparator.get(), fTrainData, fTestData,
                                                       HostCanceled(), &fSettings);
  if (CheckCancel()) return fStatus;
  SetContext(fTrainingContext.get(), VXNNCommon::kInProgress);
  // The outcome of this run alone: a warning stored by an earlier call must
  // not stop it.
  Store(SharedStatus(shares.begun, shares.shared.Records()));
  fShared = shares.shared.Records();
  fKeptClusters.reset();
  auto kept = std::make_unique<Clustering>(*this);
  Clustering& clustering = *kept;
  bool placed = false;
  if (fStatus.IsOK() && PreCluster(clustering)) {
    const int records = clustering.fRecords;
    ClusterModel& model = clustering.Model();
    const int units = fNetwork->GetRBFHiddenLayer()->GetNumUnits();
    bool formed;
    if (fSettings.GetUserSetNHidUnits()) {
      // The user's count stays the layer's, even when fewer clusters form
      // (fewer distinct records than units): the centre placement then uses
      // only the first units, and the others stay out of every pass, the
      // solve and the export. (A layer restored with fewer units than its
      // settings name places only as many centres as it has units.)
      formed =
          Clustered("Cluster", model.Cluster(std::min(fSettings.GetNumHiddenUnits(1), records)));
    } else {
      int lo = fSettings.GetMinNHiddenUnits();
      int hi = fSettings.GetMaxNHiddenUnits();
      if (hi < lo) {
        lo = 1;
        hi = 2 * (fNetwork->GetNumInputs() + fNetwork->GetNumOutputs());
      }
      formed =
          Clustered("AutoCluster", model.AutoCluster(std::min(lo, records), std::min(hi, records)));
      // The clustering's choice is the model's size.
      if (formed) {
        const int k = model.GetNumOfClusters();
        if (k != units) ResizeHiddenLayer(k);
        fNHiddenUnits = k;
      }
    }
    if (formed) {
      clustering.PlaceCentres(*fNetwork, fSettings.GetOverlapFactor());
      // A negative limit asks for every record.
      Store(fOptimizer->TrainPass(*fTrainData, nTrain < 0 ? INT_MAX : nTrain));
      fStopReason = VXNNCommon::kStoppedComputed;
      ++fNDataPasses;
      placed = true;
    }
  }
  if (placed && fKeepClusters && fStatus.IsOK() && !IsCanceled()) {
    fKeptClusters = std::move(kept);
    fKeptTrainRecords = nTrain;
  }
  FinishRun(nTrain);
  fShared = nullptr;
  return fStatus;
}

VXStatus RBFAlgorithm::RetrainAtOverlap(double overlap) {
  // The solve's pass is shared in a data-parallel training.
  const VXNeural::detail::StartedSharedTraining shares(fDataPreparator.get(), fTrainData, fTestData,
                                                       HostCanceled(), &fSettings);
  if (CheckCancel()) return fStatus;
  if (!fKeptClusters || fAlgorithmStatus != VXNNCommon::kTrained)
    return Store(VXStatus(codes::kNotAvailable, true));
  if (!(overlap > 0.0 && std::isfinite(overlap)))
    return Store(VXStatus(codes::kNotAvailable, true));
  const VXStatus refused = SharedStatus(shares.begun, shares.shared.Records());
  if (!refused.IsOK()) return Store(refused);
  SetContext(fTrainingContext.get(), VXNNCommon::kInProgress);
  Store(VXStatus());
  fSettings.SetOverlapFactor(overlap);
  // The clusters do not depend on the overlap: only the widths move, and
  // the output weights are solved again from scratch, as a fresh run at
  // this factor would solve them.
  fKeptClusters->PlaceCentres(*fNetwork, overlap);
  Store(fOptimizer->TrainPass(*fTrainData, fKeptTrainRecords < 0 ? INT_MAX : fKeptTrainRecords));
  fStopReason = VXNNCommon::kStoppedComputed;
  ++fNDataPasses;
  return FinishRun(fKeptTrainRecords);
}

VXStatus RBFAlgorithm::FinishRun(int nTrain) {
  if (fStatus.IsOK() && !IsCanceled()) {
    SetContext(fTrainedContext.get(), VXNNCommon::kTrained);
    // The count the host asked for; the solver's own counter tells how many
    // records it actually read.
    fNRecords = nTrain;
    fTrainingError = fOptimizer->GetEstError();
  } else {
    fAlgorithmStatus = VXNNCommon::kInconsistent;
  }
  CheckCancel();
  return fStatus;
}

VXStatus RBFAlgorithm::RunUpdate(MultiPassRecordIter& records, int n) {
  SetContext(fTrainingContext.get(), VXNNCommon::kInProgress);
  bool changed = false;
  // A negative count asks for every record of the source.
  Store(fOptimizer->Update(records, n < 0 ? INT_MAX : n, changed));
  fNRecords += n;
  fTrainingError = fOptimizer->GetEstError();
  SetContext(fTrainedContext.get(), VXNNCommon::kTrained);
  CheckCancel();
  return fStatus;
}

// ---------------------------------------------------------------------------
// The search of the number of hidden units

double RBFAlgorithm::TestError(int nTest) {
  const double error = fCurrentContext->GetErrorOnData(*fTestData, nTest);
  // The records measured here are the test records.
  if (fStatus.GetErrorCode() == codes::kTrainSourceNotGood)
    Store(VXStatus(codes::kTestSourceNotGood, false));
  fTestData->Rewind();
  return error;
}

double RBFAlgorithm::BIC(int k, double error, int nRecords) const {
  // A perfect fit has no finite BIC; it wins unless an earlier candidate
  // also fitted perfectly.
  if (error == 0.0) return -DBL_MAX;
  const double nIn = fNetwork->GetNumInputs();
  const double nOut = fNetwork->GetNumOutputs();
  double parameters = k * (nIn + nOut + 1.0);
  if (fSettings.GetActivFnHiddenLayer() == VXNNCommon::kRadialBasis) parameters += nOut;
  const double n = nRecords;
  return n * nOut * std::log(2.0 * error / (n * nOut)) + parameters * std::log(n);
}

void RBFAlgorithm::ReportCandidate() {
  fElapsedTime = SecondsSince(fSearchStart);
  VXCommon_1_2::ProgressListener* listener = fSettings.GetProgressListener();
  if (listener == nullptr) return;
  RBFExpertReporter report(this);
  listener->Report(report);
}

VXStatus RBFAlgorithm::RunArchitectureSearch() {
  // The search stays in the initial state, so a progress listener may call
  // back into the algorithm; a second search or a training run started from
  // there would replace the candidate being scored under the search.
  if (fSearching) return Store(VXStatus(codes::kNotAvailable, true));
  const VXNeural::detail::StartedSharedTraining shares(fDataPreparator.get(), fTrainData, fTestData,
                                                       HostCanceled(), &fSettings);
  SearchFlag searching(fSearching);
  fSearchStart = std::clock();
  int lo = fSettings.GetMinNHiddenUnits();
  int hi = fSettings.GetMaxNHiddenUnits();
  const bool automatic = hi < lo;
  const int nIn = fNetwork->GetNumInputs();
  const int nOut = fNetwork->GetNumOutputs();
  const int nTrain = fSettings.GetNTrainRecords();
  int nTest = 0;
  // A test source that fails while counted would end every error pass at
  // the count, before its failure, and score candidates on part of it.
  bool testFailed = false;
  if (fTestData != nullptr) {
    nTest = fSettings.GetNTestRecords();
    if (nTest <= 0) {
      // In a shared search the whole test set's count, which the start
      // exchanged.
      if (shares.shared.Records())
        nTest = static_cast<int>(std::min<long long>(shares.shared.Records()->nTest, INT_MAX));
      else
        testFailed = !VXNeural::detail::CountRecords(*fTestData, nTest);
      if (!testFailed) fSettings.SetNTestRecords(nTest);
    }
  }
  fNRecords = nTrain + nTest;
  Store(SharedStatus(shares.begun, shares.shared.Records()));
  fShared = shares.shared.Records();
  Clustering clustering(*this);
  if (!fStatus.IsOK()) {
    // The processes could not share the search: every one refuses it.
  } else if (testFailed) {
    Store(VXStatus(codes::kTestSourceNotGood, false));
  } else if (IsCanceled()) {
    Store(VXStatus(codes::kCancelled, false));
  } else if (PreCluster(clustering)) {
    const int records = clustering.fRecords;
    if (automatic && Clustered("AutoCluster", clustering.Model().AutoCluster(
                                                  1, std::min(2 * (nIn + nOut), records)))) {
      const int k = clustering.Model().GetNumOfClusters();
      lo = std::min(k, nOut);
      // A single normalised unit is 1 everywhere: it cannot tell records
      // apart.
      if (fSettings.GetActivFnHiddenLayer() == VXNNCommon::kNormalizedRadialBasis) {
        lo = std::max(lo, 2);
      }
      hi = std::max({2 * k, nOut, 10});
    }
    // A number of hidden units below 1 has no meaning; the library would
    // refuse it.
    lo = std::max(1, std::min(lo, records));
    hi = std::min(hi, records);
    fSearchRecords = records;
    if (fStatus.IsOK()) {
      if (fSettings.GetExpertOneDataPass()) {
        SearchOnePass(clustering, lo, hi, nTest);
      } else {
        SearchPassPerCandidate(clustering, lo, hi, nTest);
      }
    }
  }
  fShared = nullptr;
  if (IsCanceled()) {
    DoCancel();
    return fStatus;
  }
  if (fStatus.IsOK()) {
    fElapsedTime = SecondsSince(fSearchStart);
    SetContext(fTrainedContext.get(), VXNNCommon::kTrained);
  } else {
    // A failed source or exchange keeps its own code; any other failure
    // means no candidate could be built.
    const int code = fStatus.GetErrorCode();
    const bool ownCode = code == codes::kTrainSourceNotGood || code == codes::kTestSourceNotGood ||
                         code == codes::kSharesDoNotMatch || code == codes::kExchangeFailed;
    EnterFailedRestart(ownCode ? fStatus : VXStatus(codes::kNoOptimizer, false));
  }
  return fStatus;
}

VXStatus RBFAlgorithm::SearchOnePass(Clustering& clustering, int lo, int hi, int nTest) {
  std::vector<Candidate> candidates;
  for (int k = lo; k <= hi; ++k) {
    if (IsCanceled()) return Store(VXStatus(codes::kCancelled, false));
    std::unique_ptr<NNetwork> network(CreateNetwork(false));
    if (!network) return Store(VXStatus(codes::kNoOptimizer, false));
    network->SetNumHiddenUnits(k);
    const VXStatus clustered = clustering.Model().Cluster(k);
    if (clustered.IsError()) {
      if (k == lo) return Store(ClusteringFailure("Cluster", clustered));
      break;
    }
    if (clustering.Model().GetNumOfClusters() < k) {
      if (k == lo) return Store(VXStatus(codes::kNoOptimizer, false));
      break;
    }
    clustering.PlaceCentres(*network, fSettings.GetOverlapFactor());
    Candidate candidate;
    candidate.k = k;
    candidate.solver.reset(CreateOptimizer(network.get()));
    candidate.network = std::move(network);
    candidates.push_back(std::move(candidate));
  }
  if (candidates.empty()) return Store(VXStatus(codes::kNoOptimizer, false));

  // Every candidate's least-squares sums from the same pass.
  fTrainData->Rewind();
  std::vector<RBFLinReg*> solvers;
  for (Candidate& c : candidates) solvers.push_back(c.solver.get());
  const int read = RBFLinReg::AddRecords(
      solvers, *fTrainData, fSearchRecords, [this] { return IsCanceled(); },
      [this] { return HostCanceled(); });
  ++fNDataPasses;
  const bool failed = VXNeural::detail::SourceFailed(*fTrainData);
  fTrainData->Rewind();
  // A shared pass whose exchange failed.
  if (read < 0) return Store(VXStatus(-read, false));
  if (IsCanceled()) return Store(VXStatus(codes::kCancelled, false));
  if (failed) return Store(VXStatus(codes::kTrainSourceNotGood, false));

  // The candidate being scored is the algorithm's network and solver, so
  // that the error pass and a listener see it; it is handed back after.
  // Only the search's own work (the solve, the test error pass) or a cancel
  // ends the scoring early: what a listener's call leaves in the stored
  // status does not stop it. It stays stored until the next test error pass
  // replaces it, and a warning still there at the end fails the search.
  std::unique_ptr<NNetwork> previousNetwork(std::exchange(fNetwork, nullptr));
  std::unique_ptr<RBFLinReg> previousSolver(std::exchange(fOptimizer, nullptr));
  const bool withTest = nTest > 0;
  std::size_t best = candidates.size();
  double bestScore = DBL_MAX;
  bool scored = true;
  for (std::size_t i = 0; i < candidates.size() && scored; ++i) {
    if (IsCanceled()) {
      Store(VXStatus(codes::kCancelled, false));
      break;
    }
    Candidate& c = candidates[i];
    fNetwork = c.network.release();
    fOptimizer = c.solver.release();
    // The solve fails only when cancelled; a successful one leaves the
    // stored status as it was.
    const VXStatus solved = fOptimizer->Solve();
    if (!solved.IsOK()) Store(solved);
    scored = solved.IsOK();
    c.error = std::max(0.0, fOptimizer->GetEstError());
    if (scored && withTest) c.testError = TestError(nTest);
    // A failed error pass or a cancel during the solve or the pass ends the
    // search (and a cancelled pass has already dropped the candidate).
    if (scored && withTest) scored = fStatus.IsOK();
    scored = scored && fNetwork != nullptr && !IsCanceled();
    if (scored) {
      c.accuracy = fNetwork->GetAccuracy();
      if (!withTest) c.bic = BIC(c.k, c.error, fSearchRecords);
      const double score = withTest ? c.testError : c.bic;
      const bool better = Qualifies(score, withTest) && score < bestScore;
      if (better || best == candidates.size()) {
        best = i;
        if (better) bestScore = score;
      }
      fTrainingBIC = c.bic;
      fNHiddenUnits = c.k;
      fTrainingError = c.error;
      fTestingError = c.testError;
      ReportCandidate();
    }
    c.network.reset(std::exchange(fNetwork, nullptr));
    c.solver.reset(std::exchange(fOptimizer, nullptr));
  }
  fNetwork = previousNetwork.release();
  fOptimizer = previousSolver.release();
  if (!scored || IsCanceled()) return fStatus;
  Candidate& chosen = candidates[best];
  DestroyOptimizer();
  delete fNetwork;
  fNetwork = chosen.network.release();
  fOptimizer = chosen.solver.release();
  fSettings.SetNumHiddenUnits(chosen.k, 1);
  fNHiddenUnits = chosen.k;
  // A listener's own error pass on the kept candidate must not stand for its
  // scores, neither before the last report nor during it.
  const auto keep = [&] {
    fNetwork->SetAccumError(chosen.error);
    fNetwork->SetAccuracy(chosen.accuracy);
    fTrainingError = chosen.error;
    fTestingError = chosen.testError;
    fTrainingBIC = chosen.bic;
  };
  keep();
  fStopReason = VXNNCommon::kStoppedComputed;
  if (fStatus.IsOK() && chosen.k != candidates.back().k) {
    ReportCandidate();
    keep();
  }
  return fStatus;
}

VXStatus RBFAlgorithm::SearchPassPerCandidate(Clustering& clustering, int lo, int hi, int nTest) {
  const bool withTest = nTest > 0;
  const double overlap = fSettings.GetOverlapFactor();
  fNetwork->GetRBFHiddenLayer()->SetFallbackVariance(overlap);
  bool haveBest = false;
  int bestK = 0;
  int bestCentres = 0;
  double bestScore = DBL_MAX;
  double bestError = 0.0;
  double bestTestError = VXMV::gMissingValue;
  double bestBIC = VXMV::gMissingValue;
  double bestAccuracy = 0.0;
  std::valarray<double> bestWeights;
  std::unique_ptr<RBFLinReg> bestSolver;
  int lastK = lo;
  for (int k = lo; k <= hi && fStatus.IsOK(); ++k) {
    if (IsCanceled()) return Store(VXStatus(codes::kCancelled, false));
    const VXStatus clustered = clustering.Model().Cluster(k);
    if (clustered.IsError()) {
      if (!haveBest) Store(ClusteringFailure("Cluster", clustered));
      break;
    }
    ResizeHiddenLayer(k);
    const int centres = clustering.PlaceCentres(*fNetwork, overlap);
    if (centres < k && k > lo) break;
    lastK = k;
    Store(fOptimizer->TrainPass(*fTrainData, fSearchRecords));
    fTrainingError = std::max(0.0, fOptimizer->GetEstError());
    ++fNDataPasses;
    if (!fStatus.IsOK()) break;
    double score;
    if (withTest) {
      fTestingError = score = TestError(nTest);
      if (fNetwork == nullptr) break;
    } else {
      fTrainingBIC = score = BIC(k, fTrainingError, fSearchRecords);
    }
    const bool better = Qualifies(score, withTest) && score < bestScore;
    if (better || !haveBest) {
      haveBest = true;
      bestK = k;
      bestCentres = centres;
      if (better) bestScore = score;
      bestError = fTrainingError;
      bestTestError = withTest ? score : VXMV::gMissingValue;
      bestBIC = withTest ? VXMV::gMissingValue : score;
      bestAccuracy = fNetwork->GetAccuracy();
      fNetwork->GetWeights(bestWeights);
      bestSolver = std::make_unique<RBFLinReg>(*fOptimizer);
    }
    ReportCandidate();
  }
  if (!fStatus.IsOK() || IsCanceled() || !haveBest) {
    return haveBest || !fStatus.IsOK() ? fStatus : Store(VXStatus(codes::kNoOptimizer, false));
  }
  ResizeHiddenLayer(bestK);
  SetCentresInUse(*fNetwork, bestCentres);
  fNetwork->SetWeights(bestWeights);
  const auto keep = [&] {
    fNetwork->SetAccumError(bestError);
    fNetwork->SetAccuracy(bestAccuracy);
    fTrainingError = bestError;
    fTestingError = bestTestError;
    fTrainingBIC = bestBIC;
  };
  keep();
  fStopReason = VXNNCommon::kStoppedComputed;
  DestroyOptimizer();
  fOptimizer = bestSolver.release();
  if (bestK != lastK) {
    ReportCandidate();
    keep();
  }
  return fStatus;
}

template class NeuralAlgorithmWith<RBFLinReg>;
