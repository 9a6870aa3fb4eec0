#include "network/TreeExchange.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "algorithm/AlgorithmCodes.h"

namespace VXNeural {
namespace detail {

namespace {

// A whole number in [0, most]: every count in a message is checked before
// it is converted or used to size anything.
bool CountIn(double v, double most) { return v >= 0.0 && v <= most && v == std::floor(v); }

}  // namespace

int ExchangeTree(PassCombiner& combiner, BlockTree& tree, TreeExchangeTotals& totals,
                 TreeExchangeBuffers& buffers) {
  const std::size_t width = tree.Width();
  const std::size_t nSums = totals.sums.size(), nAny = totals.any.size();
  const std::size_t nLows = totals.lows.size(), nHighs = totals.highs.size();
  const std::size_t head = nSums + nAny + nLows + nHighs + 1;
  std::vector<double>& out = buffers.out;
  out.assign(totals.sums.begin(), totals.sums.end());
  for (bool b : totals.any) out.push_back(b ? 1.0 : 0.0);
  out.insert(out.end(), totals.lows.begin(), totals.lows.end());
  out.insert(out.end(), totals.highs.begin(), totals.highs.end());
  out.push_back(tree.Nodes());
  for (int i = 0; i < tree.Nodes(); ++i) {
    out.push_back(static_cast<double>(tree.NodeStart(i)));
    out.push_back(static_cast<double>(tree.NodeBlocks(i)));
  }
  for (int i = 0; i < tree.Nodes(); ++i)
    out.insert(out.end(), tree.NodeValues(i), tree.NodeValues(i) + width);
  if (!combiner.AllGather(out, buffers.in, buffers.counts) ||
      buffers.counts.size() != static_cast<std::size_t>(combiner.Size()))
    return codes::kExchangeFailed;

  // First every message's frame and totals, so that a cancel is known
  // even when a cancelled process's blocks stop short of its share.
  std::fill(totals.sums.begin(), totals.sums.end(), 0.0);
  std::fill(totals.any.begin(), totals.any.end(), false);
  std::size_t left = buffers.in.size();
  for (std::size_t r = 0, at = 0; r < buffers.counts.size(); ++r) {
    const int count = buffers.counts[r];
    const std::size_t n = static_cast<std::size_t>(count);
    if (count < 0 || n > left || n < head) return codes::kExchangeFailed;
    const double* m = buffers.in.data() + at;
    // Nodes are at most one per bit of a block count.
    if (!CountIn(m[head - 1], 128.0) ||
        n != head + static_cast<std::size_t>(m[head - 1]) * (2 + width))
      return codes::kExchangeFailed;
    for (std::size_t s = 0; s < nSums; ++s) totals.sums[s] += m[s];
    for (std::size_t a = 0; a < nAny; ++a) totals.any[a] = totals.any[a] || m[nSums + a] != 0.0;
    const double* lows = m + nSums + nAny;
    const double* highs = lows + nLows;
    for (std::size_t v = 0; v < nLows; ++v) totals.lows[v] = std::min(totals.lows[v], lows[v]);
    for (std::size_t v = 0; v < nHighs; ++v) totals.highs[v] = std::max(totals.highs[v], highs[v]);
    at += n;
    left -= n;
  }
  tree.Reset(width, 0);
  long long next = 0;
  const double* m = buffers.in.data();
  for (int count : buffers.counts) {
    const std::size_t nodes = static_cast<std::size_t>(m[head - 1]);
    const double* places = m + head;
    const double* sums = places + 2 * nodes;
    for (std::size_t i = 0; i < nodes; ++i) {
      if (!CountIn(places[2 * i], 9.0e15) || !CountIn(places[2 * i + 1], 9.0e15))
        return codes::kExchangeFailed;
      const long long start = static_cast<long long>(places[2 * i]);
      const long long blocks = static_cast<long long>(places[2 * i + 1]);
      // A gap or an overlap: the processes do not hold the shares of one
      // sequence. A node is a power of 2 of blocks, aligned to its size.
      if (start != next || blocks < 1 || (blocks & (blocks - 1)) != 0 || start % blocks != 0)
        return codes::kSharesDoNotMatch;
      tree.AddNode(start, blocks, sums + i * width);
      next = start + blocks;
    }
    m += count;
  }
  return 0;
}

}  // namespace detail
}  // namespace VXNeural
