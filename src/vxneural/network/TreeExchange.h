// The exchange that ends a shared pass over blocks summed in a BlockTree
// (PassCombiner.h): every process hands its tree's open nodes, with a few
// values of its own (flags, counts), and every process rebuilds from all
// of them the tree one process holding every block would have formed.
#pragma once

#include <vector>

#include "network/BlockTree.h"
#include "vxneural/network/PassCombiner.h"

namespace VXNeural {
namespace detail {

// The messages' storage, kept from pass to pass by a caller that exchanges
// often.
struct TreeExchangeBuffers {
  std::vector<double> out, in;
  std::vector<int> counts;
  std::vector<double> head, heads;  // the totals form's (below)
};

// Every process hands its tree's open nodes and `head`, values of its own
// whose number every process agrees on. On return `heads` holds every
// process's head in rank order, and on success (0) `tree` holds every
// process's nodes, so that its Total is the sum of every block of the
// sequence. kExchangeFailed when the exchange failed or a message is
// malformed (counts that do not cover what arrived, a node count or a
// node's blocks that are not whole numbers, a node that is not a power of 2
// of blocks at a multiple of its size; `heads` empty when the frame itself
// is wrong); kSharesDoNotMatch when the nodes leave a gap or overlap, so
// the processes do not hold the shares of one sequence from block 0 on
// (`heads` filled, so that a cancel carried there is known). Every process gets the same answer.
// Every count in a message is checked before it is converted or used.
int ExchangeTree(PassCombiner& combiner, BlockTree& tree, const std::vector<double>& head,
                 std::vector<double>& heads, TreeExchangeBuffers* buffers = nullptr);

// The common heads: counts summed over the processes, flags or-ed, ranges
// widened.
struct TreeExchangeTotals {
  // Records (read, added): each process's a whole number from 0 to
  // INT_MAX, as one process counts them in an int.
  std::vector<double> sums;
  std::vector<bool> any;  // e.g. cancelled
  // Smallest and largest over the processes (e.g. targets' ranges); as
  // many of each on every process.
  std::vector<double> lows, highs;
};

// ExchangeTree with `totals` as the head (laid out as sums, any as 0 or 1,
// lows, highs), replaced by the totals over every process (also when the
// answer is kSharesDoNotMatch). Every process's values are checked before
// they are used: a count that is not a whole number from 0 to INT_MAX or a
// flag other than 0 or 1 is no process's message, kExchangeFailed, the
// totals left as they were. A summed count beyond INT_MAX is
// kSharesDoNotMatch: one process holding every record could not count
// them.
int ExchangeTree(PassCombiner& combiner, BlockTree& tree, TreeExchangeTotals& totals,
                 TreeExchangeBuffers& buffers);

}  // namespace detail
}  // namespace VXNeural
