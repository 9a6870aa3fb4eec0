// The exchange that puts the processes' parts of a block tree together
// (BlockTree.h): each process hands the open nodes of the blocks it
// summed, and every process rebuilds the tree the whole sequence gives.
#pragma once

#include <vector>

#include "network/BlockTree.h"
#include "vxneural/network/PassCombiner.h"

namespace VXNeural {
namespace detail {

// Every process hands its tree's open nodes and `head`, a few values of its
// own (flags, counts) whose length every process agrees on. On success
// (0) `tree` holds every process's nodes, in rank order, so that its Total
// is the sum of every block of the sequence, and `heads` every process's
// head in rank order. kExchangeFailed when the exchange failed or a process
// handed something else; kSharesDoNotMatch when the nodes leave a gap or
// overlap, so the processes do not hold the shares of one sequence from
// block 0 on. Every process gets the same answer.
int ExchangeTree(PassCombiner& combiner, BlockTree& tree, const std::vector<double>& head,
                 std::vector<double>& heads);

}  // namespace detail
}  // namespace VXNeural
