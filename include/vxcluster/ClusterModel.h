// A clustering model: summarises any number of records in bounded memory,
// then forms clusters from the summary.
//
// Use:
//   ClusterVarList vars(2);
//   vars.AddContVar(0.0, 1.0);
//   vars.AddCatVar(3, ClusterVar::kNumericCategorical);
//   ClusterModel model(ClusterSettings(), vars);
//   VXStatus s = model.PreCluster(source);      // one pass over the records
//   if (!s.IsError()) s = model.AutoCluster(1, 10);   // or model.Cluster(k)
//   for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it)
//     use((*it)->GetMeanOfContVar(0));
//
// How it works. PreCluster reads the records once into a height-balanced tree
// of cluster summaries (count, per continuous variable the count, mean and
// standard deviation, per categorical variable the count of each category;
// means and spreads stay finite for any finite values, where sums of squares
// would overflow). A record is absorbed into its nearest leaf entry when their
// log-likelihood distance is within a threshold, and otherwise opens a new
// entry; when the entries would outgrow the memory budget or the maximum
// number of entries, the threshold rises and the tree is rebuilt from its own
// entries, so memory stays bounded however many records arrive and every
// record is counted exactly once. The summary's memory is taken when the
// model is built.
//
// Cluster and AutoCluster then merge the leaf entries bottom-up, each time
// joining the two clusters whose merge loses the least log-likelihood: a
// continuous variable is modelled as a Gaussian per cluster (its variance
// plus a small floor, see ClusterSettings), a categorical one as a
// multinomial, so mixed data need no encoding. The distance between clusters
// i and j is L(i) + L(j) - L(i and j together), L being the cluster's
// maximised log-likelihood over the values it has. Ties go to the pair of
// lowest entry numbers, so a run is fully determined by the records and their
// order.
//
// AutoCluster chooses the clusters by the Bayesian information criterion of
// a mixture model (BIC = -2 log-likelihood + parameters x ln(records);
// parameters per cluster 2 per continuous and n - 1 per categorical variable,
// plus the clusters' shares, count - 1). The hard clustering's likelihood is
// a poor guide: without the clusters' shares, cutting a Gaussian cluster
// anywhere shrinks the variances by more than the penalty, and with them
// clusters that overlap are charged for the records they share. For each
// count from the least bound up, a mixture of that many Gaussian/multinomial
// components is fitted to the leaf entries by expectation-maximisation (an
// entry's records stay together), started from the merging's clusters for
// that count, until three counts in a row have not improved on the best.
// The merging joins a small cluster to a near one before it joins the
// halves of a large one, so a small cluster may be missing from every
// count's clusters; so from the best clustering, each cluster's split into
// the two it was merged from (when both hold more leaf entries than a
// cluster has parameters) and each pair's join back are ranked by a split
// test on that cluster's records alone (the BIC of two components against
// one), the first three are fitted over all records, and the first that
// lowers the mixture's BIC within the bounds is kept, until none does. The
// results are the chosen clusters' records (hard, as Cluster forms them);
// ties go to the smaller count. When the values are too large for the
// mixture's arithmetic, the merging's clusters for the count of least hard
// BIC (GetBIC) are taken.
//
// The merging runs once, on the first clustering call after PreCluster, in
// time roughly quadratic in the number of leaf entries; later calls, for any count, read the merges
// it recorded, so trying many counts is cheap.
//
// Result clusters are ordered by decreasing case count, equal counts by their
// first leaf entry (that is, by the order in which the records opened them);
// the iterators number them 0, 1, ... in that order.
//
// Threading: a model is used from one thread at a time; models are independent.
// The merging may share its searches with threads the host lends through
// the settings (ClusterSettings::SetThreads, SetRunner); the results are the
// same for any count.
#pragma once

#include <memory>
#include <vector>

#include "vxcluster/ClusterRecord.h"
#include "vxcluster/ClusterSettings.h"
#include "vxcluster/ClusterStats.h"
#include "vxcluster/ClusterStatus.h"
#include "vxcluster/ClusterVarList.h"

/// A clustering model (how it works: the comment at the top of this file).
class ClusterModel {
 public:
  /// Walks the result clusters, each a ClusterStats*.
  using ResultIterator = std::vector<ClusterStats*>::const_iterator;

  ///@{
  /// Keeps copies of the settings and the list. An invalid list or settings
  /// make every later call return their error (GetStatus tells at once).
  ClusterModel(ClusterSettings settings, ClusterVarList& vars);
  ~ClusterModel();
  ClusterModel(const ClusterModel&) = delete;
  ClusterModel& operator=(const ClusterModel&) = delete;
  ///@}

  /// OK, or the error that makes the model unusable (invalid list or settings).
  VXCommon_1_2::VXStatus GetStatus() const;

  /// Reads source until Next returns null and summarises the records; a second
  /// call starts afresh and drops earlier results. Errors: the model's own
  /// (kClusterInvalidVarList, kClusterInvalidSettings), kClusterEmptySource,
  /// kClusterSourceFailed, kClusterWrongRecordSize, kClusterCategoryOutOfRange,
  /// kClusterInfiniteValue; after an error the model holds no summary.
  /// Allocates nothing per record.
  VXCommon_1_2::VXStatus PreCluster(VXCluster::RecordIterator& source);

  ///@{
  /// The pre-clustering in turns, for records that several readers hold one
  /// after another (the processes of a data-parallel run, each with its run
  /// of the records): Begin empties the summary; each Continue reads a source
  /// to its end into the summary as PreCluster reads (an empty source is
  /// fine; records are numbered on from the earlier ones in the statuses);
  /// GetPreClusterState saves the summary so far, and SetPreClusterState
  /// makes another model of the same variables and settings go on from it;
  /// End makes the summary ready for clustering. Begin, Continue on every
  /// source in turn, End gives exactly what PreCluster gives on all the
  /// records in that order. Errors: Continue, those of PreCluster but the
  /// empty source, after which the model holds no summary (Begin again);
  /// End, kClusterEmptySource when no record was read; SetPreClusterState,
  /// kClusterInvalidState (the model unchanged).
  void BeginPreCluster();
  VXCommon_1_2::VXStatus ContinuePreCluster(VXCluster::RecordIterator& source);
  VXCommon_1_2::VXStatus EndPreCluster();
  void GetPreClusterState(std::vector<double>& state) const;
  VXCommon_1_2::VXStatus SetPreClusterState(const std::vector<double>& state);
  ///@}

  /// Forms k clusters, or as many as there are leaf entries when that is fewer
  /// (warning kClusterFewerClusters; the results are valid). Errors:
  /// kClusterNotPreClustered, kClusterBadClusterCount (k < 1); a refused call
  /// keeps the previous results.
  VXCommon_1_2::VXStatus Cluster(int k);

  /// Chooses the number of clusters between least and most (both included)
  /// and forms them. most is capped at the number of leaf entries without
  /// comment; when least exceeds it, that many clusters are formed with warning
  /// kClusterFewerClusters. Errors: kClusterNotPreClustered,
  /// kClusterBadClusterCount (least < 1 or most < least).
  VXCommon_1_2::VXStatus AutoCluster(int least, int most);

  /// Clusters of the last successful Cluster or AutoCluster (0 before any).
  int GetNumOfClusters() const;
  ///@{
  /// The result clusters, each a ClusterStats*, in the documented order. Valid
  /// until the next PreCluster, Cluster or AutoCluster or the model's end.
  ResultIterator BeginResultClusters() const;
  ResultIterator EndResultClusters() const;
  ///@}

  /// The result cluster (its number in the result order) that loses the least
  /// log-likelihood by taking in the record, ties to the lower number: how a
  /// training or a new record is assigned after clustering. -1 before any
  /// result, or for a record of the wrong size or with a bad value.
  int AssignRecord(const VXCluster::Record& record) const;

  ///@{
  /// After PreCluster: records read, leaf entries kept, tree rebuilds, and the
  /// absorption threshold reached.
  long long GetNumRecords() const;
  int GetNumLeafEntries() const;
  int GetNumRebuilds() const;
  double GetThreshold() const;
  ///@}
  /// BIC of the last clustering's result, each record counted in its own
  /// cluster: -2 (log-likelihood + sum over the clusters of n ln(n / N), n
  /// their records and N all) + (count x parameters per cluster + count - 1)
  /// ln(N), the log-likelihood up to a constant that depends only on the data;
  /// or VXMV::gMissingValue before any.
  double GetBIC() const;

 private:
  class Impl;
  std::unique_ptr<Impl> fImpl;
};
