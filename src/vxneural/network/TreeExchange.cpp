#include "network/TreeExchange.h"

#include <cstddef>

#include "algorithm/AlgorithmCodes.h"

namespace VXNeural {
namespace detail {

int ExchangeTree(PassCombiner& combiner, BlockTree& tree, const std::vector<double>& head,
                 std::vector<double>& heads) {
  const std::size_t width = tree.Width(), headSize = head.size();
  std::vector<double> out(head);
  out.push_back(tree.Nodes());
  for (int i = 0; i < tree.Nodes(); ++i) {
    out.push_back(static_cast<double>(tree.NodeStart(i)));
    out.push_back(static_cast<double>(tree.NodeBlocks(i)));
  }
  for (int i = 0; i < tree.Nodes(); ++i)
    out.insert(out.end(), tree.NodeValues(i), tree.NodeValues(i) + width);
  std::vector<double> in;
  std::vector<int> counts;
  if (!combiner.AllGather(out, in, counts) ||
      counts.size() != static_cast<std::size_t>(combiner.Size()))
    return codes::kExchangeFailed;

  // Every count is checked before the tree is touched: a malformed message
  // must not leave a half-built tree behind a failure.
  std::size_t at = 0;
  for (int count : counts) {
    if (count < 0 || static_cast<std::size_t>(count) < headSize + 1 ||
        at + static_cast<std::size_t>(count) > in.size())
      return codes::kExchangeFailed;
    const double nodes = in[at + headSize];
    if (nodes < 0 || static_cast<std::size_t>(count) !=
                         headSize + 1 + static_cast<std::size_t>(nodes) * (2 + width))
      return codes::kExchangeFailed;
    at += static_cast<std::size_t>(count);
  }

  heads.clear();
  tree.Reset(width, 0);
  long long next = 0;
  const double* m = in.data();
  for (int count : counts) {
    heads.insert(heads.end(), m, m + headSize);
    const std::size_t nodes = static_cast<std::size_t>(m[headSize]);
    const double* places = m + headSize + 1;
    const double* sums = places + 2 * nodes;
    for (std::size_t i = 0; i < nodes; ++i) {
      const long long start = static_cast<long long>(places[2 * i]);
      const long long blocks = static_cast<long long>(places[2 * i + 1]);
      if (start != next || blocks < 1) return codes::kSharesDoNotMatch;
      tree.AddNode(start, blocks, sums + i * width);
      next = start + blocks;
    }
    m += count;
  }
  return 0;
}

}  // namespace detail
}  // namespace VXNeural
