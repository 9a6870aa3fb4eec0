// One process's part of an evaluation pass (output statistics, importance)
// shared with the other processes of a data-parallel run (PassCombiner.h).
//
// Each process reads its share of the records, sums them block by block
// into a BlockTree placed at its share's first block, and the processes
// exchange their trees' nodes, so every process ends with the sums one
// process on one thread forms over the whole sequence. The host's cancel
// object is asked at the exchanges only, and every exchange carries each
// process's cancel and failure, so that all processes stop together.
#pragma once

#include <cstdint>
#include <vector>

#include "network/BlockPass.h"
#include "network/BlockTree.h"
#include "vxcommon/Record.h"
#include "vxneural/VXStatus.h"
#include "vxneural/network/PassCombiner.h"

class NNetwork;

namespace VXNeural {
namespace detail {

inline constexpr long long kEvalBlock = MLPBlockPass::kBlock;

// While it lives, a thread with a combiner set runs its evaluation as one
// process of a run (SharedRun.h: RunCombiner, RunCanceled): the network and
// the algorithm then take a cancel from the exchanges, not from the host,
// so a process cannot stop alone and leave the others waiting. Does
// nothing without a combiner or inside a run already open.
class SharedRunScope {
 public:
  SharedRunScope();
  ~SharedRunScope();
  SharedRunScope(const SharedRunScope&) = delete;
  SharedRunScope& operator=(const SharedRunScope&) = delete;

 private:
  bool fOpened = false;
};

// What the processes agreed on at an exchange: a cancel on any of them,
// and the first failure code in rank order (0: none).
struct Agreement {
  bool canceled = false;
  int32_t failure = 0;
};

// The head every shared evaluation exchange starts with: this process's
// cancel (the network's latched flag, or else the host's answer now) and
// its failure code.
std::vector<double> ExchangeHead(NNetwork& network, int32_t failure);
// Reads the heads (headSize values per process, the first two as
// ExchangeHead made them) and, on a cancel, cancels the calling thread's
// run, which the network then latches.
Agreement Agree(const std::vector<double>& heads, std::size_t headSize);
// The end of a shared pass: hands tree with this process's ExchangeHead,
// rebuilds the whole sequence's tree and agrees. `exchanged`: 0, or the
// exchange's own failure (the agreement then empty).
Agreement ExchangePass(PassCombiner& combiner, BlockTree& tree, NNetwork& network, int32_t failure,
                       int& exchanged);

// The shares of a shared pass's sources: the processes exchange their
// record counts (-1: this process could not count, with `failure` its
// code) and each checks that every process holds its ShareOf each whole
// set. Errors, the same on every process: the first process's failure,
// else 50020 when the counts are not the shares (or a process could not
// count), 50021 when the exchange failed or a count arrived damaged (neither
// -1 nor a whole number from 0 to INT_MAX). A cancel on any process comes
// back as OK with `canceled`. `extra`: values of the caller's own, as many
// on every process, handed to every process in rank order.
struct Shares {
  std::vector<RecordShare> mine;  // this process's, per source
  std::vector<long long> totals;  // the whole sets, per source
  std::vector<double> extras;     // every process's extra, in rank order
  bool canceled = false;
};
VXCommon_1_2::VXStatus ExchangeShares(PassCombiner& combiner, NNetwork& network,
                                      const std::vector<long long>& counts, int32_t failure,
                                      Shares& shares, const std::vector<double>& extra = {});
// The records source holds from its first, when it tells them without
// being read: a source over records in memory, a VectorRecordIter or a
// RecordBufferIter (not a class derived from one, whose Next may hand out
// something else), that has not failed. -1 for any other source, and for
// none.
long long RecordsKnownTo(VXCommon_1_2::MultiPassRecordIter* source);
// This process's counts of the sources: the known count (RecordsKnownTo)
// of a source that tells it, else counted with a pass over the source (-1
// for one that failed while counted); 0 for an absent one. Each is
// rewound.
std::vector<long long> CountShares(const std::vector<VXCommon_1_2::MultiPassRecordIter*>& sources);

// Takes part in the share exchange of a shared output statistics pass
// (NNOutputStatistics.h) for a process that failed before it could read its
// records (failure, an error): every process then answers with that
// failure. Returns it. Defined beside the pass, whose exchange it matches.
VXCommon_1_2::VXStatus RefuseSharedOutputStats(NNetwork& network,
                                               const VXCommon_1_2::VXStatus& failure);

// Sums records block by block into a tree: a record's sums go into the
// block of its place in the whole sequence, blocks are added to the tree
// in order (those with no record as zeros) and the last, partial one when
// the pass ends.
class BlockSums {
 public:
  // The tree is reset to `width` values per block from the block of
  // `first`, a multiple of the block size.
  BlockSums(BlockTree& tree, std::size_t width, long long first);
  // The sums of the block holding place `place` (not before the last
  // place asked for), zeros when the block is new.
  double* At(long long place);
  // Adds the open block to the tree.
  void Finish();

 private:
  void Open();
  BlockTree& fTree;
  const std::size_t fWidth;
  long long fBlock;
  double* fOpen = nullptr;
};

}  // namespace detail
}  // namespace VXNeural
