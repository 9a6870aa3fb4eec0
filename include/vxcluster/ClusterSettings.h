// Tuning of a clustering model. The defaults suit data of any size; a caller
// changes them only to trade memory or time for resolution.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

#include "vxcluster/ClusterStatus.h"

/// The settings of a ClusterModel, each with its default and range.
class ClusterSettings {
 public:
  ClusterSettings() = default;

  ///@{
  /// Bytes the pre-clustering summary may hold (tree nodes, leaf entries and
  /// the buffer used to rebuild the tree), whatever the number of records.
  /// Default 16 MiB. Together with the maximum number of leaf entries it fixes
  /// how many entries the summary keeps: when a new entry would exceed either
  /// bound, the absorption threshold rises and the tree is rebuilt from its own
  /// entries. A budget too small for four entries of the variable list's
  /// width is refused when the model is built (kClusterInvalidSettings, datum
  /// 1 = 0); Check only asks for 1 KiB.
  std::size_t GetMemoryBudget() const { return fMemoryBudget; }
  void SetMemoryBudget(std::size_t bytes) { fMemoryBudget = bytes; }
  ///@}

  ///@{
  /// Most leaf entries the summary keeps (default 1000, at least 2). The
  /// hierarchical merging afterwards takes time roughly quadratic in this
  /// number, so it bounds the clustering time as the budget bounds memory.
  int GetMaxLeafEntries() const { return fMaxLeafEntries; }
  void SetMaxLeafEntries(int n) { fMaxLeafEntries = n; }
  ///@}

  ///@{
  /// Children of an inner node and entries of a leaf node (default 8, 2 .. 64).
  int GetBranchingFactor() const { return fBranchingFactor; }
  void SetBranchingFactor(int n) { fBranchingFactor = n; }
  ///@}

  ///@{
  /// Log-likelihood distance up to which a record is absorbed into its nearest
  /// leaf entry at the start (default 0: only identical records merge until
  /// the summary first fills up; then the threshold is raised as needed).
  /// At least 0.
  double GetInitialThreshold() const { return fInitialThreshold; }
  void SetInitialThreshold(double t) { fInitialThreshold = t; }
  ///@}

  ///@{
  /// Variance floor of a continuous variable, as a fraction of its scale
  /// squared (default 1e-4, above 0). It is added to every variance inside the
  /// log-likelihood so that a cluster of identical values has a finite fit;
  /// reported variances never include it.
  double GetVarianceFloor() const { return fVarianceFloor; }
  void SetVarianceFloor(double f) { fVarianceFloor = f; }
  ///@}

  ///@{
  /// Checked (default 1.15, at least 1) but no longer read: automatic
  /// clustering once took the count where the merge distance jumped the most,
  /// which missed single clusters and small ones; it now compares mixture
  /// fits (see ClusterModel). Kept so that callers that set it still build.
  double GetDistanceRatio() const { return fDistanceRatio; }
  void SetDistanceRatio(double r) { fDistanceRatio = r; }
  ///@}

  ///@{
  /// Threads that share the merging of the leaf entries (default 1, 1 ..
  /// kMaxThreads), and how their work is run. The library has no threads of its
  /// own: it hands its work to the runner, which must call task(w) once for
  /// every w in [0, workers) (in any order, on any threads, task(0) may be on
  /// the caller's) and return when all have returned; the tasks share out
  /// the work themselves and may find none left. A host that pools its
  /// threads passes its pool here; without a runner each call starts
  /// workers - 1 threads of its own. Whatever the count, the results are the
  /// same bit for bit: the work is cut into pieces that do not depend on it,
  /// and the pieces' results are combined in a fixed order.
  ///
  /// The pre-clustering stays on the caller's thread whatever the count:
  /// where each record goes depends on the summary every earlier record
  /// left, so the records are placed one after another. The mixture fits of
  /// AutoCluster work on the leaf entries (at most GetMaxLeafEntries), a few
  /// per cent of a clustering's time; they stay on the caller's thread too.
  static constexpr int kMaxThreads = 256;
  using Runner = std::function<void(int workers, const std::function<void(int)>& task)>;
  int GetThreads() const { return fThreads; }
  void SetThreads(int n) { fThreads = n; }
  const Runner& GetRunner() const { return fRunner; }
  void SetRunner(Runner runner) { fRunner = std::move(runner); }
  ///@}

  /// OK, or error kClusterInvalidSettings (datum 1: which setting, numbered
  /// in the order above from 0) when a value is outside its range.
  VXCommon_1_2::VXStatus Check() const;

 private:
  std::size_t fMemoryBudget = std::size_t{16} << 20;
  int fMaxLeafEntries = 1000;
  int fBranchingFactor = 8;
  double fInitialThreshold = 0.0;
  double fVarianceFloor = 1e-4;
  double fDistanceRatio = 1.15;
  int fThreads = 1;
  Runner fRunner;
};
