// The blocks' sums of a pass add up in a fixed tree over the blocks'
// places: checked against a recursive sum of the same tree written out
// here, and for every way of cutting the blocks into runs (as the
// processes of a data-parallel pass hold them), against the one-run sum,
// bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "network/BlockTree.h"
#include "vxneural/network/PassCombiner.h"

namespace {

using VXNeural::detail::BlockTree;

// Values whose sums depend on the order of the additions: magnitudes from
// 1e-8 to 1e8, both signs.
std::vector<std::vector<double>> Blocks(int n, std::size_t width) {
  std::mt19937_64 rng(static_cast<unsigned>(n * 31 + width));
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0), exponent(-8.0, 8.0);
  std::vector<std::vector<double>> blocks(static_cast<std::size_t>(n), std::vector<double>(width));
  for (auto& b : blocks)
    for (double& v : b) v = mantissa(rng) * std::pow(10.0, exponent(rng));
  return blocks;
}

// The tree written out: an aligned node of 2^k blocks is its left half plus
// its right half; the whole is the nodes of the binary digits of n, largest
// first, added up from the left.
double Node(const std::vector<std::vector<double>>& blocks, long long start, long long size,
            std::size_t i) {
  if (size == 1) return blocks[static_cast<std::size_t>(start)][i];
  return Node(blocks, start, size / 2, i) + Node(blocks, start + size / 2, size / 2, i);
}

double TreeSum(const std::vector<std::vector<double>>& blocks, std::size_t i) {
  const long long n = static_cast<long long>(blocks.size());
  double sum = 0.0;
  bool first = true;
  long long start = 0;
  for (long long size = 1LL << 40; size >= 1; size /= 2) {
    if ((n & size) == 0) continue;
    const double node = Node(blocks, start, size, i);
    sum = first ? node : sum + node;
    first = false;
    start += size;
  }
  return sum;
}

// Blocks [first, end) summed on their own.
void SumRun(BlockTree& tree, const std::vector<std::vector<double>>& blocks, long long first,
            long long end) {
  const std::size_t width = blocks.empty() ? 1 : blocks[0].size();
  tree.Reset(width, first);
  for (long long k = first; k < end; ++k) {
    const auto& b = blocks[static_cast<std::size_t>(k)];
    std::memcpy(tree.Next(), b.data(), width * sizeof(double));
    tree.Add();
  }
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(BlockTree, SumsInTheTreeOverTheBlocksPlaces) {
  for (int n : {0, 1, 2, 3, 5, 8, 13, 64, 100}) {
    SCOPED_TRACE(n);
    const auto blocks = Blocks(n, 3);
    BlockTree tree;
    SumRun(tree, blocks, 0, n);
    std::vector<double> total(3);
    tree.Total(total.data());
    // One open node per binary digit of n.
    EXPECT_EQ(tree.Nodes(), __builtin_popcount(static_cast<unsigned>(n)));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(total[i], n == 0 ? 0.0 : TreeSum(blocks, i));
  }
}

// Every cut of n blocks into runs, the runs' nodes put together in order,
// gives the one-run total; a left fold of the blocks would not.
TEST(BlockTree, RunsPutTogetherGiveTheOneRunSum) {
  const std::size_t width = 4;
  bool foldDiffered = false;
  for (int n : {1, 2, 3, 7, 12, 33}) {
    const auto blocks = Blocks(n, width);
    BlockTree whole;
    SumRun(whole, blocks, 0, n);
    std::vector<double> expected(width);
    whole.Total(expected.data());
    std::vector<double> fold = blocks[0];
    for (int k = 1; k < n; ++k)
      for (std::size_t i = 0; i < width; ++i) fold[i] += blocks[static_cast<std::size_t>(k)][i];
    foldDiffered = foldDiffered || !SameBits(fold, expected);
    // Every set of cut points, as a bit mask over the n - 1 gaps (all of
    // them for small n, a sample of them for large).
    const long long masks = n <= 12 ? 1LL << (n - 1) : 200;
    std::mt19937_64 rng(5);
    for (long long m = 0; m < masks; ++m) {
      const unsigned long long mask = n <= 12 ? static_cast<unsigned long long>(m) : rng();
      std::vector<long long> cuts{0};
      for (int g = 1; g < n; ++g)
        if (mask >> (g - 1) & 1) cuts.push_back(g);
      cuts.push_back(n);
      BlockTree joined;
      joined.Reset(width, 0);
      for (std::size_t r = 0; r + 1 < cuts.size(); ++r) {
        BlockTree run;
        SumRun(run, blocks, cuts[r], cuts[r + 1]);
        for (int i = 0; i < run.Nodes(); ++i)
          joined.AddNode(run.NodeStart(i), run.NodeBlocks(i), run.NodeValues(i));
      }
      std::vector<double> got(width);
      joined.Total(got.data());
      ASSERT_TRUE(SameBits(got, expected)) << n << " blocks, cuts mask " << mask;
    }
  }
  // The values are such that the order of the additions shows.
  EXPECT_TRUE(foldDiffered);
}

// The shares of the records: whole blocks, in rank order, disjoint and
// covering, the first processes a block more; worked out by hand.
TEST(ShareOf, CutsTheRecordsIntoRunsOfWholeBlocks) {
  const struct {
    long long records;
    int size;
    std::vector<long long> firsts;  // and the last end is `records`
  } cases[] = {
      {0, 3, {0, 0, 0}},
      {1, 1, {0}},
      {95, 2, {0, 95}},
      {96, 2, {0, 96}},
      {97, 2, {0, 96}},
      {97, 3, {0, 96, 97}},
      {1000, 3, {0, 384, 768}},
      {1000, 4, {0, 288, 576, 864}},
      {960, 4, {0, 288, 576, 768}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.records) + " records, " + std::to_string(c.size));
    for (int r = 0; r < c.size; ++r) {
      const VXNeural::RecordShare share = VXNeural::ShareOf(c.records, r, c.size);
      EXPECT_EQ(share.first, c.firsts[static_cast<std::size_t>(r)]) << "rank " << r;
      EXPECT_EQ(share.end, r + 1 < c.size ? c.firsts[static_cast<std::size_t>(r) + 1] : c.records)
          << "rank " << r;
    }
  }
  EXPECT_EQ(VXNeural::ShareOf(100, 2, 2).end, 0);  // no such rank
}

}  // namespace
