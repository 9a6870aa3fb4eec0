#include "network/TreeExchange.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

#include "algorithm/AlgorithmCodes.h"

namespace VXNeural {
namespace detail {

namespace {

// A whole number in [0, most].
bool CountIn(double v, double most) { return v >= 0.0 && v <= most && v == std::floor(v); }

// No sequence comes near 2^40 blocks (int's records fill 2^25).
constexpr double kMostBlocks = 1099511627776.0;

}  // namespace

int ExchangeTree(PassCombiner& combiner, BlockTree& tree, const std::vector<double>& head,
                 std::vector<double>& heads, TreeExchangeBuffers* buffers) {
  TreeExchangeBuffers local;
  TreeExchangeBuffers& b = buffers ? *buffers : local;
  const std::size_t width = tree.Width(), headSize = head.size();
  std::vector<double>& out = b.out;
  out.assign(head.begin(), head.end());
  out.push_back(tree.Nodes());
  for (int i = 0; i < tree.Nodes(); ++i) {
    out.push_back(static_cast<double>(tree.NodeStart(i)));
    out.push_back(static_cast<double>(tree.NodeBlocks(i)));
  }
  for (int i = 0; i < tree.Nodes(); ++i)
    out.insert(out.end(), tree.NodeValues(i), tree.NodeValues(i) + width);
  heads.clear();
  if (!combiner.AllGather(out, b.in, b.counts) ||
      b.counts.size() != static_cast<std::size_t>(combiner.Size()))
    return codes::kExchangeFailed;

  // Every message's frame first: a malformed one must not leave a half-built
  // tree behind, and the heads are known even when the nodes do not fit.
  std::size_t at = 0;
  for (int count : b.counts) {
    const std::size_t n = static_cast<std::size_t>(count);
    if (count < 0 || n < headSize + 1 || n > b.in.size() - at) {
      heads.clear();
      return codes::kExchangeFailed;
    }
    const double* m = b.in.data() + at;
    // Nodes are at most one per bit of a block count.
    if (!CountIn(m[headSize], 128.0) ||
        n != headSize + 1 + static_cast<std::size_t>(m[headSize]) * (2 + width)) {
      heads.clear();
      return codes::kExchangeFailed;
    }
    heads.insert(heads.end(), m, m + headSize);
    at += n;
  }
  if (at != b.in.size()) {
    heads.clear();
    return codes::kExchangeFailed;
  }
  tree.Reset(width, 0);
  long long next = 0;
  const double* m = b.in.data();
  for (int count : b.counts) {
    const std::size_t nodes = static_cast<std::size_t>(m[headSize]);
    const double* places = m + headSize + 1;
    const double* sums = places + 2 * nodes;
    for (std::size_t i = 0; i < nodes; ++i) {
      // A gap or an overlap: the processes do not hold the shares of one
      // sequence.
      if (places[2 * i] != static_cast<double>(next)) return codes::kSharesDoNotMatch;
      // A node is a power of 2 of blocks at a multiple of its size: any
      // other is no process's message.
      if (!CountIn(places[2 * i + 1], kMostBlocks - static_cast<double>(next)))
        return codes::kExchangeFailed;
      const long long blocks = static_cast<long long>(places[2 * i + 1]);
      if (blocks < 1 || (blocks & (blocks - 1)) != 0 || next % blocks != 0)
        return codes::kExchangeFailed;
      tree.AddNode(next, blocks, sums + i * width);
      next += blocks;
    }
    m += count;
  }
  return 0;
}

int ExchangeTree(PassCombiner& combiner, BlockTree& tree, TreeExchangeTotals& totals,
                 TreeExchangeBuffers& buffers) {
  const std::size_t nSums = totals.sums.size(), nAny = totals.any.size();
  const std::size_t nLows = totals.lows.size(), nHighs = totals.highs.size();
  std::vector<double>& head = buffers.head;
  head.assign(totals.sums.begin(), totals.sums.end());
  for (bool flag : totals.any) head.push_back(flag ? 1.0 : 0.0);
  head.insert(head.end(), totals.lows.begin(), totals.lows.end());
  head.insert(head.end(), totals.highs.begin(), totals.highs.end());
  const std::size_t headSize = head.size();
  std::vector<double>& heads = buffers.heads;
  int answer = ExchangeTree(combiner, tree, head, heads, &buffers);
  if (headSize == 0 || heads.empty()) return answer;
  for (std::size_t at = 0; at + headSize <= heads.size(); at += headSize) {
    const double* h = heads.data() + at;
    for (std::size_t s = 0; s < nSums; ++s)
      if (!CountIn(h[s], INT_MAX)) return codes::kExchangeFailed;
    for (std::size_t a = 0; a < nAny; ++a)
      if (h[nSums + a] != 0.0 && h[nSums + a] != 1.0) return codes::kExchangeFailed;
  }
  std::fill(totals.sums.begin(), totals.sums.end(), 0.0);
  std::fill(totals.any.begin(), totals.any.end(), false);
  for (std::size_t at = 0; at + headSize <= heads.size(); at += headSize) {
    const double* h = heads.data() + at;
    for (std::size_t s = 0; s < nSums; ++s) totals.sums[s] += h[s];
    for (std::size_t a = 0; a < nAny; ++a) totals.any[a] = totals.any[a] || h[nSums + a] != 0.0;
    const double* lows = h + nSums + nAny;
    const double* highs = lows + nLows;
    for (std::size_t v = 0; v < nLows; ++v) totals.lows[v] = std::min(totals.lows[v], lows[v]);
    for (std::size_t v = 0; v < nHighs; ++v) totals.highs[v] = std::max(totals.highs[v], highs[v]);
  }
  for (double sum : totals.sums)
    if (answer == 0 && sum > INT_MAX) answer = codes::kSharesDoNotMatch;
  return answer;
}

}  // namespace detail
}  // namespace VXNeural
