#include "vxcluster/ClusterModel.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "CFTree.h"
#include "Hierarchy.h"
#include "Mixture.h"
#include "Summary.h"
#include "vxcommon/VXMissing.h"

using VXCommon_1_2::VXStatus;

namespace {

VXStatus Error(int code) { return VXStatus(code, false); }

}  // namespace

class ClusterModel::Impl {
 public:
  Impl(const ClusterSettings& settings, const ClusterVarList& vars)
      : fSettings(settings), fVars(vars), fLayout(vars, settings.GetVarianceFloor()) {}

  // Results from the hierarchy's clusters for count c, or from any
  // clustering of the entries (each entry's label the lowest entry of its
  // cluster).
  void Form(int c);
  // No summary ready and no results: the state before a pre-clustering.
  void ForgetSummary() {
    fPreClustered = false;
    fResults.clear();
    fResultPointers.clear();
    fResultSums.clear();
    fResultLogLikelihoods.clear();
    fBIC = VXMV::gMissingValue;
  }
  void Form(const std::vector<int>& labels);
  // The clustering AutoCluster keeps, as nodes of the merge tree.
  std::vector<int> ChoosePartition(int least, int most) const;
  // Free parameters of c clusters: each cluster's own and c - 1 shares.
  double Parameters(int c) const {
    return static_cast<double>(c) * fLayout.ParametersPerCluster() + (c - 1);
  }
  // BIC of the hierarchy's clustering into c clusters, 1 <= c <= the number
  // of entries, read off the merges, the records assigned hard to their
  // clusters: the likelihood counts each record's cluster share too
  // (without it, more clusters always look cheaper). Form reports the same
  // from the result clusters; the automatic count falls back on it when the
  // values are too large for the mixture.
  double BIC(int c) const {
    return -2.0 * (fHierarchy.LogLikelihood(c) + fHierarchy.ShareLogLikelihood(c)) +
           Parameters(c) * std::log(static_cast<double>(fNRecords));
  }
  // Most steps of each mixture fit: it starts from clusters already formed,
  // so it settles in a few.
  static constexpr int kMixtureSteps = 10;
  // Counts past the best one before the automatic count stops looking, and
  // changes to the best clustering fitted over all records per round.
  static constexpr int kPatience = 3;
  static constexpr std::size_t kTries = 3;

  ClusterSettings fSettings;
  ClusterVarList fVars;
  VXCluster::SummaryLayout fLayout;
  VXStatus fStatus;
  std::unique_ptr<VXCluster::CFTree> fTree;
  std::vector<double> fRecordSummary;
  std::vector<double> fEntries;
  VXCluster::Hierarchy fHierarchy;
  bool fPreClustered = false;
  bool fHierarchyBuilt = false;  // merged on the first clustering call

  void BuildHierarchy() {
    if (!fHierarchyBuilt)
      fHierarchy.Build(fLayout, fEntries, fSettings.GetThreads(), fSettings.GetRunner());
    fHierarchyBuilt = true;
  }
  long long fNRecords = 0;
  double fBIC = VXMV::gMissingValue;
  std::vector<double> fResultSums;  // per result cluster, its summary
  std::vector<double> fResultLogLikelihoods;
  std::vector<ClusterStats> fResults;
  std::vector<ClusterStats*> fResultPointers;
};

ClusterModel::ClusterModel(ClusterSettings settings, ClusterVarList& vars)
    : fImpl(std::make_unique<Impl>(settings, vars)) {
  Impl& m = *fImpl;
  if (!vars.IsValid()) {
    m.fStatus = Error(VXCluster::kClusterInvalidVarList);
    m.fStatus.SetDiscreteDatum(1, vars.GetStatus().GetDiscreteDatum(1));
    return;
  }
  m.fStatus = settings.Check();
  if (m.fStatus.IsError()) return;
  const int capacity =
      VXCluster::CFTree::CapacityFor(settings.GetMemoryBudget(), settings.GetMaxLeafEntries(),
                                     settings.GetBranchingFactor(), m.fLayout.Width());
  if (capacity == 0) {
    // The budget cannot hold even a handful of summaries of this width.
    m.fStatus = Error(VXCluster::kClusterInvalidSettings);
    m.fStatus.SetDiscreteDatum(1, 0);
    return;
  }
  // Everything the pre-clustering needs is sized here, once.
  m.fTree = std::make_unique<VXCluster::CFTree>(m.fLayout, capacity, settings.GetBranchingFactor(),
                                                settings.GetInitialThreshold());
  m.fRecordSummary.resize(static_cast<std::size_t>(m.fLayout.Width()));
}

ClusterModel::~ClusterModel() = default;

VXStatus ClusterModel::GetStatus() const { return fImpl->fStatus; }

VXStatus ClusterModel::PreCluster(VXCluster::RecordIterator& source) {
  if (fImpl->fStatus.IsError()) return fImpl->fStatus;
  BeginPreCluster();
  const VXStatus status = ContinuePreCluster(source);
  if (status.IsError()) return status;
  return EndPreCluster();
}

void ClusterModel::BeginPreCluster() {
  Impl& m = *fImpl;
  if (m.fStatus.IsError()) return;
  m.ForgetSummary();
  m.fNRecords = 0;
  m.fTree->Reset(m.fSettings.GetInitialThreshold());
}

VXStatus ClusterModel::ContinuePreCluster(VXCluster::RecordIterator& source) {
  Impl& m = *fImpl;
  if (m.fStatus.IsError()) return m.fStatus;
  VXStatus status;
  for (;;) {
    const VXCluster::Record* r = source.Next();
    if (!r) {
      const int s = source.GetStatus();
      if (s != VXCluster::RecordIterator::kGood && s != VXCluster::RecordIterator::kEndOfData)
        status = Error(VXCluster::kClusterSourceFailed);
      break;
    }
    if (r->Size() != m.fVars.Size()) {
      status = Error(VXCluster::kClusterWrongRecordSize);
      status.SetDiscreteDatum(2, r->Size());
    } else {
      status = m.fLayout.FromRecord(*r, m.fRecordSummary.data());
    }
    if (status.IsError()) {
      status.SetDiscreteDatum(0,
                              static_cast<int>(std::min<long long>(m.fNRecords + 1, 2147483647)));
      break;
    }
    m.fTree->Insert(m.fRecordSummary.data());
    ++m.fNRecords;
  }
  if (status.GetErrorCode() == VXCluster::kClusterSourceFailed)
    status.SetDiscreteDatum(0, static_cast<int>(std::min<long long>(m.fNRecords, 2147483647)));
  if (status.IsError()) BeginPreCluster();
  return status;
}

VXStatus ClusterModel::EndPreCluster() {
  Impl& m = *fImpl;
  if (m.fStatus.IsError()) return m.fStatus;
  if (m.fNRecords == 0) {
    BeginPreCluster();
    return Error(VXCluster::kClusterEmptySource);
  }
  m.fTree->CollectEntries(m.fEntries);
  m.fHierarchyBuilt = false;
  m.fPreClustered = true;
  return VXStatus();
}

void ClusterModel::GetPreClusterState(std::vector<double>& state) const {
  const Impl& m = *fImpl;
  state.clear();
  if (m.fStatus.IsError()) return;
  state.push_back(static_cast<double>(m.fNRecords));
  m.fTree->SaveState(state);
}

VXStatus ClusterModel::SetPreClusterState(const std::vector<double>& state) {
  Impl& m = *fImpl;
  if (m.fStatus.IsError()) return m.fStatus;
  // Record counts are exact in a double up to 2^53.
  if (state.empty() || !(state[0] >= 0.0 && state[0] <= 9007199254740992.0) ||
      state[0] != std::floor(state[0]) || !m.fTree->LoadState(state.data() + 1, state.size() - 1))
    return Error(VXCluster::kClusterInvalidState);
  m.ForgetSummary();
  m.fNRecords = static_cast<long long>(state[0]);
  return VXStatus();
}

void ClusterModel::Impl::Form(int c) {
  std::vector<int> labels;
  fHierarchy.Labels(c, labels);
  Form(labels);
}

void ClusterModel::Impl::Form(const std::vector<int>& labels) {
  const int w = fLayout.Width();
  const int n = fHierarchy.NumEntries();
  // Sum the entries of each cluster into its representative's row.
  std::vector<double> sums(fEntries.size(), 0.0);
  for (int i = 0; i < n; ++i)
    fLayout.Add(&sums[static_cast<std::size_t>(labels[i]) * w],
                &fEntries[static_cast<std::size_t>(i) * w]);
  std::vector<int> reps;
  for (int i = 0; i < n; ++i)
    if (labels[static_cast<std::size_t>(i)] == i) reps.push_back(i);
  // Largest first; equal sizes by first entry (a cluster's representative).
  std::sort(reps.begin(), reps.end(), [&](int a, int b) {
    const double na = sums[static_cast<std::size_t>(a) * w];
    const double nb = sums[static_cast<std::size_t>(b) * w];
    return na != nb ? na > nb : a < b;
  });
  fResults.clear();
  fResultSums.clear();
  fResultLogLikelihoods.clear();
  for (int r : reps) {
    const double* s = &sums[static_cast<std::size_t>(r) * w];
    fResults.push_back(fLayout.ToStats(s));
    fResultSums.insert(fResultSums.end(), s, s + w);
    fResultLogLikelihoods.push_back(fLayout.LogLikelihood(s));
  }
  fResultPointers.clear();
  for (ClusterStats& s : fResults) fResultPointers.push_back(&s);
  // The hard BIC from the clusters themselves, as BIC(c) reads it off the
  // merges.
  double ll = 0.0;
  const double records = static_cast<double>(fNRecords);
  for (std::size_t i = 0; i < fResults.size(); ++i) {
    const double size = fResultSums[i * static_cast<std::size_t>(w)];
    ll += fResultLogLikelihoods[i] + size * std::log(size / records);
  }
  const int c = static_cast<int>(fResults.size());
  fBIC = -2.0 * ll + Parameters(c) * std::log(records);
}

VXStatus ClusterModel::Cluster(int k) {
  Impl& m = *fImpl;
  if (m.fStatus.IsError()) return m.fStatus;
  if (!m.fPreClustered) return Error(VXCluster::kClusterNotPreClustered);
  if (k < 1) {
    VXStatus s = Error(VXCluster::kClusterBadClusterCount);
    s.SetDiscreteDatum(2, k);
    return s;
  }
  m.BuildHierarchy();
  const int entries = m.fHierarchy.NumEntries();
  m.Form(std::min(k, entries));
  if (k <= entries) return VXStatus();
  VXStatus s(VXCluster::kClusterFewerClusters, true);
  s.SetDiscreteDatum(2, k);
  return s;
}

std::vector<int> ClusterModel::Impl::ChoosePartition(int least, int most) const {
  const VXCluster::Hierarchy& h = fHierarchy;
  const int m = h.NumEntries();
  // Clusterings as sets of tree nodes. Undoing the newest merge of a set
  // (the node of highest number) goes from the hierarchy's clusters for one
  // count to those for the next.
  auto split = [&](std::vector<int>& nodes, std::size_t i) {
    const int n = nodes[i];
    nodes[i] = h.Left(n);
    nodes.push_back(h.Right(n));
  };
  auto cut = [&](std::vector<int>& nodes) {
    split(nodes,
          static_cast<std::size_t>(std::max_element(nodes.begin(), nodes.end()) - nodes.begin()));
  };
  // When the values are too large for the fits: the hierarchy's clusters
  // for the count of least hard BIC, ties to the smaller count.
  auto hardChoice = [&] {
    int byHard = least;
    for (int c = least + 1; c <= most; ++c)
      if (BIC(c) < BIC(byHard)) byHard = c;
    std::vector<int> nodes{h.Root()};
    for (int c = 1; c < byHard; ++c) cut(nodes);
    return nodes;
  };

  VXCluster::MixtureFit mixture(fLayout, fEntries);
  const double logN = std::log(static_cast<double>(fNRecords));
  std::vector<int> members, labels, stack, number(static_cast<std::size_t>(m));
  std::vector<int> all(static_cast<std::size_t>(m));
  std::iota(all.begin(), all.end(), 0);
  // BIC of a mixture of all the records, fitted from the given clusters.
  auto score = [&](const std::vector<int>& nodes) {
    h.LabelsOf(nodes, labels);
    for (std::size_t i = 0; i < nodes.size(); ++i)
      number[static_cast<std::size_t>(h.Lowest(nodes[i]))] = static_cast<int>(i);
    for (int& l : labels) l = number[static_cast<std::size_t>(l)];
    const int c = static_cast<int>(nodes.size());
    return -2.0 * mixture.Fit(all, labels, c, kMixtureSteps) + Parameters(c) * logN;
  };
  // The split test of the merge that formed node n: the BIC of a mixture of
  // two components over n's records alone, started from the two clusters
  // merged, less that of one. Negative: n looks better as two clusters.
  auto collect = [&](int node, int label) {
    stack.assign(1, node);
    while (!stack.empty()) {
      const int k = stack.back();
      stack.pop_back();
      if (h.IsLeaf(k)) {
        members.push_back(k);
        labels.push_back(label);
      } else {
        stack.push_back(h.Right(k));
        stack.push_back(h.Left(k));
      }
    }
  };
  // A cluster of a few leaf entries is too little to fit a component to:
  // a leaf entry's records are a compact cell, tighter than the cluster
  // they come from, and a component fitted to a few such cells gains more
  // than the criterion's penalty. Splits into clusters of fewer entries
  // than a component's parameters are not tried.
  std::vector<int> entriesUnder(static_cast<std::size_t>(2 * m - 1), 1);
  for (int n = m; n < 2 * m - 1; ++n)
    entriesUnder[static_cast<std::size_t>(n)] = entriesUnder[static_cast<std::size_t>(h.Left(n))] +
                                                entriesUnder[static_cast<std::size_t>(h.Right(n))];
  auto enough = [&](int n) {
    return entriesUnder[static_cast<std::size_t>(n)] > fLayout.ParametersPerCluster();
  };
  std::vector<int> ones;
  auto splitTest = [&](int n) {
    members.clear();
    labels.clear();
    collect(h.Left(n), 0);
    collect(h.Right(n), 1);
    ones.assign(members.size(), 0);
    return -2.0 *
               (mixture.Fit(members, labels, 2, kMixtureSteps) - mixture.Fit(members, ones, 1, 0)) +
           (fLayout.ParametersPerCluster() + 1) * logN;
  };

  // The mixture's BIC for the hierarchy's clusters of each count from the
  // least up, until kPatience counts in a row have not improved on the best
  // (a mixture's likelihood rises little once the count passes the true
  // one). Ties go to the smaller count.
  std::vector<int> nodes{h.Root()}, best;
  double bestBic = 0.0;
  int misses = 0;
  for (int c = 1; c <= most; ++c) {
    if (c > 1) cut(nodes);
    if (c < least) continue;
    const double bic = score(nodes);
    if (!std::isfinite(bic)) return hardChoice();
    if (best.empty() || bic < bestBic) {
      best = nodes;
      bestBic = bic;
      misses = 0;
    } else if (++misses >= kPatience) {
      break;
    }
  }
  // The merging joins a small cluster to a near one before it joins the
  // halves of a large one, since a merge costs in proportion to the records
  // it moves: a small cluster may then be missing from every count's
  // clusters, and the best count have a large one in pieces instead. So
  // from the best clustering, each cluster's split into the two it was
  // merged from and each pair's join back into the cluster they were merged
  // into are ranked by their split tests (which see one cluster's records
  // only, and would split a cluster cut from overlapping ones again); the
  // first kTries of them are fitted over all records, and the first that
  // lowers the mixture's BIC is kept, until none does.
  std::vector<std::pair<double, std::vector<int>>> moves;
  for (;;) {
    moves.clear();
    const int c = static_cast<int>(best.size());
    for (std::size_t i = 0; i < best.size(); ++i) {
      const int n = best[i];
      if (c < most && !h.IsLeaf(n) && enough(h.Left(n)) && enough(h.Right(n))) {
        const double test = splitTest(n);
        if (!std::isfinite(test)) return hardChoice();
        std::vector<int> trial = best;
        split(trial, i);
        moves.push_back({test, std::move(trial)});
      }
      // A pair once, from its left member; joining undoes a split.
      const int parent = h.Parent(n);
      if (c > least && parent >= 0 && h.Left(parent) == n) {
        const auto right = std::find(best.begin(), best.end(), h.Right(parent));
        if (right == best.end()) continue;
        const double test = splitTest(parent);
        if (!std::isfinite(test)) return hardChoice();
        std::vector<int> trial = best;
        trial[i] = parent;
        trial.erase(trial.begin() + (right - best.begin()));
        moves.push_back({-test, std::move(trial)});
      }
    }
    std::stable_sort(moves.begin(), moves.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    bool moved = false;
    for (std::size_t t = 0; t < moves.size() && t < kTries && !moved; ++t) {
      const double bic = score(moves[t].second);
      if (!std::isfinite(bic)) return hardChoice();
      if (bic < bestBic) {
        best = std::move(moves[t].second);
        bestBic = bic;
        moved = true;
      }
    }
    if (!moved) break;
  }
  return best;
}

VXStatus ClusterModel::AutoCluster(int least, int most) {
  Impl& m = *fImpl;
  if (m.fStatus.IsError()) return m.fStatus;
  if (!m.fPreClustered) return Error(VXCluster::kClusterNotPreClustered);
  if (least < 1 || most < least) {
    VXStatus s = Error(VXCluster::kClusterBadClusterCount);
    s.SetDiscreteDatum(2, least < 1 ? least : most);
    return s;
  }
  m.BuildHierarchy();
  const int entries = m.fHierarchy.NumEntries();
  if (least > entries) {
    m.Form(entries);
    VXStatus s(VXCluster::kClusterFewerClusters, true);
    s.SetDiscreteDatum(2, least);
    return s;
  }
  std::vector<int> labels;
  m.fHierarchy.LabelsOf(m.ChoosePartition(least, std::min(most, entries)), labels);
  m.Form(labels);
  return VXStatus();
}

int ClusterModel::GetNumOfClusters() const { return static_cast<int>(fImpl->fResults.size()); }

ClusterModel::ResultIterator ClusterModel::BeginResultClusters() const {
  return fImpl->fResultPointers.begin();
}

ClusterModel::ResultIterator ClusterModel::EndResultClusters() const {
  return fImpl->fResultPointers.end();
}

int ClusterModel::AssignRecord(const VXCluster::Record& record) const {
  Impl& m = *fImpl;
  if (m.fResults.empty() || record.Size() != m.fVars.Size()) return -1;
  // The record summary buffer is free between pre-clustering passes.
  double* r = m.fRecordSummary.data();
  if (m.fLayout.FromRecord(record, r).IsError()) return -1;
  const double llRecord = m.fLayout.LogLikelihood(r);
  const std::size_t w = static_cast<std::size_t>(m.fLayout.Width());
  int best = -1;
  double bestDist = 0.0;
  for (std::size_t c = 0; c < m.fResults.size(); ++c) {
    const double* s = &m.fResultSums[c * w];
    const double d = m.fResultLogLikelihoods[c] + llRecord - m.fLayout.LogLikelihoodOfUnion(s, r);
    if (best < 0 || d < bestDist) {
      best = static_cast<int>(c);
      bestDist = d;
    }
  }
  return best;
}

long long ClusterModel::GetNumRecords() const { return fImpl->fNRecords; }

int ClusterModel::GetNumLeafEntries() const {
  const Impl& m = *fImpl;
  return m.fPreClustered ? static_cast<int>(m.fEntries.size() / m.fLayout.Width()) : 0;
}

int ClusterModel::GetNumRebuilds() const { return fImpl->fTree ? fImpl->fTree->NumRebuilds() : 0; }

double ClusterModel::GetThreshold() const { return fImpl->fTree ? fImpl->fTree->Threshold() : 0.0; }

double ClusterModel::GetBIC() const { return fImpl->fBIC; }
