// The exchange that ends a shared pass over blocks summed in a BlockTree
// (PassCombiner.h): every process hands its open nodes, with a few counts
// and flags of its own, and every process rebuilds from all of them the
// tree one process holding every block would have formed.
#pragma once

#include <vector>

#include "network/BlockTree.h"
#include "vxneural/network/PassCombiner.h"

namespace VXNeural {
namespace detail {

// What each process adds to its nodes: counts summed over the processes
// and flags or-ed over them.
struct TreeExchangeTotals {
  std::vector<double> sums;  // e.g. records read
  std::vector<bool> any;     // e.g. cancelled
  // Smallest and largest over the processes (e.g. targets' ranges); as
  // many of each on every process.
  std::vector<double> lows, highs;
};

// Replaces tree's nodes with the whole sequence's and `totals` with the
// sums and or-s over every process. Returns 0, or codes::kExchangeFailed
// when the exchange failed or a message is malformed, or
// codes::kSharesDoNotMatch when the processes' blocks leave a gap or
// overlap (totals still summed over every process). Every process of a
// run gets the same outcome. `buffers` keeps
// the messages' storage from pass to pass.
struct TreeExchangeBuffers {
  std::vector<double> out, in;
  std::vector<int> counts;
};
int ExchangeTree(PassCombiner& combiner, BlockTree& tree, TreeExchangeTotals& totals,
                 TreeExchangeBuffers& buffers);

}  // namespace detail
}  // namespace VXNeural
