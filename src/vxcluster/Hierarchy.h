// Bottom-up merging of leaf entries with the log-likelihood distance,
// recorded once so that any number of clusters can be read off afterwards.
#pragma once

#include <utility>
#include <vector>

#include "Summary.h"
#include "vxcluster/ClusterSettings.h"

namespace VXCluster {

class Hierarchy {
 public:
  struct Merge {
    int fKept;  // the lower entry number; it stands for the merged cluster
    int fGone;
    double fDistance;
  };

  // Merges the m entries (m x width doubles) down to one cluster. Each step
  // joins the pair of least distance; ties go to the lowest entry numbers.
  // The searches for nearest entries run in pieces of kPiece entries,
  // shared by up to `threads` threads through the runner (Workers.h) when
  // a sweep covers at least sharedFrom entries; the merges are the same for
  // any count.
  static constexpr int kPiece = 128;
  static constexpr int kSharedFrom = 512;
  void Build(const SummaryLayout& layout, const std::vector<double>& entries, int threads = 1,
             const ClusterSettings::Runner& runner = {}, int sharedFrom = kSharedFrom);

  int NumEntries() const { return fM; }
  // merges()[t] takes the clustering from M - t clusters to M - t - 1.
  const std::vector<Merge>& Merges() const { return fMerges; }
  // Log-likelihood (as SummaryLayout counts it) of the clustering into c
  // clusters, 1 <= c <= M.
  double LogLikelihood(int c) const;
  // sum over the c clusters of n log(n / N), n their records and N all
  // records: the log-likelihood of the hard assignment under the clusters'
  // shares, 0 for one cluster and lower the more evenly records are split.
  double ShareLogLikelihood(int c) const { return fShares[static_cast<std::size_t>(c)]; }
  // Distance of the merge that leaves c - 1 clusters, 2 <= c <= M.
  double MergeDistance(int c) const { return fMerges[static_cast<std::size_t>(fM - c)].fDistance; }
  // For each entry, the number of its cluster when there are c clusters: the
  // number of its representative entry (lowest entry number of the cluster).
  void Labels(int c, std::vector<int>& labels) const;

  // The merges as a tree: node e < M is entry e, node M + t the cluster
  // merge t formed (the root is the last node). A node's two children, and
  // its lowest entry number, which names its cluster.
  int Root() const { return fM < 2 ? fM - 1 : 2 * fM - 2; }
  bool IsLeaf(int node) const { return node < fM; }
  int Left(int node) const { return fChildren[static_cast<std::size_t>(node - fM)].first; }
  int Right(int node) const { return fChildren[static_cast<std::size_t>(node - fM)].second; }
  // The node merged from this one and another; -1 for the root.
  int Parent(int node) const { return fParent[static_cast<std::size_t>(node)]; }
  int Lowest(int node) const {
    return node < fM ? node : fMerges[static_cast<std::size_t>(node - fM)].fKept;
  }
  // For each entry, the lowest entry of the node among `nodes` (disjoint,
  // covering every entry) that holds it, as Labels gives them for a count.
  void LabelsOf(const std::vector<int>& nodes, std::vector<int>& labels) const;

 private:
  // After the merging: every merge's children and the shares of every count.
  void Shares(const std::vector<double>& entries, int width);

  int fM = 0;
  double fLogLikelihoodOfEntries = 0.0;
  std::vector<Merge> fMerges;
  std::vector<std::pair<int, int>> fChildren;  // per merge: its two nodes
  std::vector<int> fParent;                    // per node
  std::vector<double> fShares;                 // ShareLogLikelihood by count, [0] unused
};

}  // namespace VXCluster
