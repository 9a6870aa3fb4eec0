// A height-balanced tree of cluster summaries held in pools that grow with
// the entries up to the capacity the budget allows, and never past it: a
// model with a large budget that sees a few records pays for those records
// only, and once the pools have grown (one pass over the data) inserting and
// rebuilding allocate nothing more.
//
// Every node holds up to B slots. A leaf slot is a leaf entry (the summary of
// the records absorbed into it); an inner slot is a child node with the
// summary of everything under it. A new summary descends to the nearest child
// at each level and is absorbed by the nearest leaf entry when the
// log-likelihood distance is within the threshold; otherwise it becomes a new
// entry, and nodes that overflow split in two around their farthest pair.
// When a new entry would exceed the entry or node capacity, the threshold
// rises and the tree is rebuilt by re-inserting its own leaf entries.
#pragma once

#include <cstddef>
#include <vector>

#include "Summary.h"

namespace VXCluster {

class CFTree {
 public:
  // Capacity in leaf entries for a budget of bytes (0 when not even a few fit),
  // at most kMaxCapacity, which keeps node and summary numbers within an int.
  static constexpr int kMaxCapacity = (2147483647 - 2) / 3;
  static int CapacityFor(std::size_t budgetBytes, int maxEntries, int branching, int width);

  CFTree(const SummaryLayout& layout, int capacity, int branching, double threshold);

  // Empties the tree, sets the threshold and forgets earlier rebuilds.
  void Reset(double threshold) {
    Clear(threshold);
    fNRebuilds = 0;
  }
  // Adds a summary (a record's, or any other), rebuilding when full.
  void Insert(const double* summary);

  int NumEntries() const { return fNLeafEntries; }
  int NumRebuilds() const { return fNRebuilds; }
  double Threshold() const { return fThreshold; }
  // Copies the leaf entries, left to right, into out (NumEntries() x width).
  void CollectEntries(std::vector<double>& out) const;

  // The whole tree (its shape, summaries, threshold and rebuild count) as
  // doubles appended to out, every int exact in a double; LoadState makes a
  // tree of the same layout and capacity continue exactly where the saved
  // one stopped, so that records read in turn by several readers are
  // summarised as one reader summarises them. LoadState refuses (false,
  // tree unchanged) a state of another layout or capacity, or whose numbers
  // do not describe a tree.
  void SaveState(std::vector<double>& out) const;
  bool LoadState(const double* state, std::size_t n);

 private:
  enum class Result { kDone, kSplit, kFull };

  double* Summary(int i) { return &fPool[static_cast<std::size_t>(i) * fWidth]; }
  const double* Summary(int i) const { return &fPool[static_cast<std::size_t>(i) * fWidth]; }
  int& Slot(int node, int i) { return fSlots[static_cast<std::size_t>(node) * (fB + 1) + i]; }
  int Slot(int node, int i) const { return fSlots[static_cast<std::size_t>(node) * (fB + 1) + i]; }
  int& Child(int node, int i) { return fChildren[static_cast<std::size_t>(node) * (fB + 1) + i]; }

  void Clear(double threshold);
  // Grows the node or summary pools, in doubling steps, so that they hold at
  // least n entries (n never beyond the most the capacity allows).
  void GrowNodes(std::size_t n);
  void GrowSummaries(std::size_t n);
  bool TryInsert(const double* s);
  Result InsertInto(int node, const double* s, double llS, int& newNode);
  int NewNode(bool leaf);
  int NewSummary();
  // Summary e becomes the sum of the node's slots.
  void SumOfNode(int node, int e);
  int Nearest(int node, const double* s, double llS, double& dist) const;
  // Distances from pool summaries, their log-likelihoods cached in fLL.
  void Refresh(int e) { fLL[static_cast<std::size_t>(e)] = fLayout.LogLikelihood(Summary(e)); }
  double Dist(int e, const double* s, double llS) const {
    return fLL[static_cast<std::size_t>(e)] + llS - fLayout.LogLikelihoodOfUnion(Summary(e), s);
  }
  double Dist(int e, int f) const { return Dist(e, Summary(f), fLL[static_cast<std::size_t>(f)]); }
  int Split(int node);
  void Rebuild();
  template <typename F>
  void ForEachLeaf(int node, F f) const;
  void NearestDistances();
  bool RebuildWith(double threshold, std::size_t n);

  const SummaryLayout& fLayout;
  const int fWidth;
  const int fB;
  const int fCapacity;
  const int fMaxNodes;
  const int fMaxSummaries;
  double fThreshold = 0.0;

  // Nodes and summaries are handed out in order and only ever freed all at
  // once (by Clear), so a count of those in use is the whole free list.
  int fNodesUsed = 0;
  int fSummariesUsed = 0;
  std::vector<double> fPool;   // summaries: leaf entries and inner slots
  std::vector<double> fLL;     // log-likelihood of each pool summary
  std::vector<int> fSlots;     // per node B + 1 summary numbers
  std::vector<int> fChildren;  // per inner node B + 1 child node numbers
  std::vector<int> fCount;     // slots used per node
  std::vector<char> fLeaf;
  std::vector<double> fRebuildBuffer;
  std::vector<double> fScratch;
  int fRoot = -1;
  int fHeight = 0;
  int fNLeafEntries = 0;
  int fNRebuilds = 0;
};

}  // namespace VXCluster
