#include "Hierarchy.h"

#include <algorithm>
#include <numeric>

namespace VXCluster {

void Hierarchy::Build(const SummaryLayout& layout, const std::vector<double>& entries) {
  const std::size_t w = static_cast<std::size_t>(layout.Width());
  const int m = static_cast<int>(entries.size() / w);
  fM = m;
  fMerges.clear();
  fMerges.reserve(static_cast<std::size_t>(m > 0 ? m - 1 : 0));

  std::vector<double> cf(entries);
  auto at = [&](int i) { return &cf[static_cast<std::size_t>(i) * w]; };
  std::vector<double> ll(static_cast<std::size_t>(m));
  std::vector<char> active(static_cast<std::size_t>(m), 1);
  std::vector<int> nearest(static_cast<std::size_t>(m), -1);
  std::vector<double> nearestDist(static_cast<std::size_t>(m), 0.0);
  std::vector<double> toMerged(static_cast<std::size_t>(m), 0.0);
  for (int i = 0; i < m; ++i) ll[static_cast<std::size_t>(i)] = layout.LogLikelihood(at(i));
  fLogLikelihoodOfEntries = std::accumulate(ll.begin(), ll.end(), 0.0);

  auto dist = [&](int i, int j) {
    return ll[static_cast<std::size_t>(i)] + ll[static_cast<std::size_t>(j)] -
           layout.LogLikelihoodOfUnion(at(i), at(j));
  };
  // Nearest neighbour of i among the active entries; ties to the lowest number.
  auto findNearest = [&](int i) {
    int best = -1;
    double bestDist = 0.0;
    for (int j = 0; j < m; ++j) {
      if (j == i || !active[static_cast<std::size_t>(j)]) continue;
      const double d = dist(i, j);
      if (best < 0 || d < bestDist) {
        best = j;
        bestDist = d;
      }
    }
    nearest[static_cast<std::size_t>(i)] = best;
    nearestDist[static_cast<std::size_t>(i)] = bestDist;
  };
  for (int i = 0; i < m; ++i) findNearest(i);

  for (int left = m; left > 1; --left) {
    int i = -1;
    for (int k = 0; k < m; ++k)
      if (active[static_cast<std::size_t>(k)] &&
          (i < 0 ||
           nearestDist[static_cast<std::size_t>(k)] < nearestDist[static_cast<std::size_t>(i)]))
        i = k;
    const int j = nearest[static_cast<std::size_t>(i)];
    const int kept = std::min(i, j), gone = std::max(i, j);
    const double d = nearestDist[static_cast<std::size_t>(i)];
    fMerges.push_back({kept, gone, d});

    layout.Add(at(kept), at(gone));
    ll[static_cast<std::size_t>(kept)] = layout.LogLikelihood(at(kept));
    active[static_cast<std::size_t>(gone)] = 0;

    // Only distances to the merged cluster changed: entries whose nearest was
    // one of the pair look again from scratch; the others compare the merged
    // cluster with their current nearest.
    for (int k = 0; k < m; ++k) {
      if (!active[static_cast<std::size_t>(k)] || k == kept) continue;
      const double dk = dist(k, kept);
      toMerged[static_cast<std::size_t>(k)] = dk;
      const int nk = nearest[static_cast<std::size_t>(k)];
      if (nk == kept || nk == gone) {
        findNearest(k);
      } else if (dk < nearestDist[static_cast<std::size_t>(k)] ||
                 (dk == nearestDist[static_cast<std::size_t>(k)] && kept < nk)) {
        nearest[static_cast<std::size_t>(k)] = kept;
        nearestDist[static_cast<std::size_t>(k)] = dk;
      }
    }
    int best = -1;
    for (int k = 0; k < m; ++k) {
      if (!active[static_cast<std::size_t>(k)] || k == kept) continue;
      if (best < 0 ||
          toMerged[static_cast<std::size_t>(k)] < toMerged[static_cast<std::size_t>(best)])
        best = k;
    }
    nearest[static_cast<std::size_t>(kept)] = best;
    nearestDist[static_cast<std::size_t>(kept)] =
        best < 0 ? 0.0 : toMerged[static_cast<std::size_t>(best)];
  }
}

double Hierarchy::LogLikelihood(int c) const {
  double ll = fLogLikelihoodOfEntries;
  for (int t = 0; t < fM - c; ++t) ll -= fMerges[static_cast<std::size_t>(t)].fDistance;
  return ll;
}

void Hierarchy::Labels(int c, std::vector<int>& labels) const {
  // Union-find over the first M - c merges; the representative is always the
  // lower number, so a cluster is named by its lowest entry.
  labels.resize(static_cast<std::size_t>(fM));
  std::iota(labels.begin(), labels.end(), 0);
  auto root = [&](int i) {
    while (labels[static_cast<std::size_t>(i)] != i) i = labels[static_cast<std::size_t>(i)];
    return i;
  };
  for (int t = 0; t < fM - c; ++t) {
    const Merge& mg = fMerges[static_cast<std::size_t>(t)];
    labels[static_cast<std::size_t>(mg.fGone)] = root(mg.fKept);
  }
  for (int i = 0; i < fM; ++i) labels[static_cast<std::size_t>(i)] = root(i);
}

}  // namespace VXCluster
