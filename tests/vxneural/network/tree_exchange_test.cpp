// The exchange that ends a shared pass: processes holding adjacent runs of
// blocks all end with the one-run tree and the summed counts; runs that
// leave a gap or overlap, and messages that do not describe nodes, are
// refused alike on every process, whatever the damage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "algorithm/AlgorithmCodes.h"
#include "common/in_process_combiner.h"
#include "network/TreeExchange.h"

namespace {

using VXNeural::detail::BlockTree;
using VXNeural::detail::ExchangeTree;
using VXNeural::detail::TreeExchangeBuffers;
using VXNeural::detail::TreeExchangeTotals;

constexpr std::size_t kWidth = 3;

// Block k's values: magnitudes far apart, so that the order of adding
// shows in the bits.
std::vector<double> BlockValues(long long k) {
  std::mt19937_64 rng(static_cast<unsigned long long>(k) + 17);
  std::uniform_real_distribution<double> m(-1.0, 1.0), e(-8.0, 8.0);
  std::vector<double> v(kWidth);
  for (double& x : v) x = m(rng) * std::pow(10.0, e(rng));
  return v;
}

std::vector<double> TotalOf(const BlockTree& tree) {
  std::vector<double> total(tree.Width());
  tree.Total(total.data());
  return total;
}

std::vector<double> OneRun(long long blocks) {
  BlockTree tree;
  tree.Reset(kWidth, 0);
  for (long long k = 0; k < blocks; ++k) {
    const std::vector<double> v = BlockValues(k);
    std::copy(v.begin(), v.end(), tree.Next());
    tree.Add();
  }
  return TotalOf(tree);
}

// Hands every message through `damage` first (nothing when empty).
class Damaging : public VXNeural::PassCombiner {
 public:
  Damaging(in_process::Combiner& inner, std::function<void(std::vector<double>&)> damage)
      : fInner(inner), fDamage(std::move(damage)) {}
  int Rank() const override { return fInner.Rank(); }
  int Size() const override { return fInner.Size(); }
  bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) override {
    std::vector<double> sent = local;
    if (fDamage) fDamage(sent);
    return fInner.AllGather(sent, all, counts);
  }

 private:
  in_process::Combiner& fInner;
  std::function<void(std::vector<double>&)> fDamage;
};

struct Outcome {
  int code = -1;
  std::vector<double> total;
  double records = 0.0;
  bool cancelled = false;
  double low = 0.0, high = 0.0;
};

// Process r sums blocks [runs[r], runs[r + 1]) (the runs as given, gaps
// and overlaps included), cancels when r == cancelRank, and exchanges; the
// message of process 1 goes through damage.
std::vector<Outcome> Exchange(const std::vector<std::pair<long long, long long>>& runs,
                              int cancelRank = -1,
                              std::function<void(std::vector<double>&)> damage = {}) {
  const int size = static_cast<int>(runs.size());
  std::vector<Outcome> out(static_cast<std::size_t>(size));
  in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
    const auto [first, end] = runs[static_cast<std::size_t>(rank)];
    BlockTree tree;
    tree.Reset(kWidth, first);
    for (long long k = first; k < end; ++k) {
      const std::vector<double> v = BlockValues(k);
      std::copy(v.begin(), v.end(), tree.Next());
      tree.Add();
    }
    TreeExchangeTotals totals;
    totals.sums = {static_cast<double>(end - first)};
    totals.any = {rank == cancelRank};
    // Ranges: process r's lowest is 10 - r, its highest 20 + r.
    totals.lows = {10.0 - rank};
    totals.highs = {20.0 + rank};
    TreeExchangeBuffers buffers;
    Damaging through(combiner, rank == 1 ? damage : nullptr);
    Outcome& o = out[static_cast<std::size_t>(rank)];
    o.code = ExchangeTree(through, tree, totals, buffers);
    o.total = TotalOf(tree);
    o.records = totals.sums[0];
    o.cancelled = totals.any[0];
    o.low = totals.lows[0];
    o.high = totals.highs[0];
  });
  return out;
}

TEST(TreeExchange, AdjacentRunsGiveTheOneRunTreeOnEveryProcess) {
  const std::vector<std::vector<std::pair<long long, long long>>> cuts = {
      {{0, 13}},
      {{0, 6}, {6, 13}},
      {{0, 0}, {0, 13}, {13, 13}},  // empty shares
      {{0, 5}, {5, 6}, {6, 13}},
      {{0, 8}, {8, 12}, {12, 13}},
  };
  const std::vector<double> expected = OneRun(13);
  for (const auto& runs : cuts) {
    SCOPED_TRACE(runs.size());
    for (const Outcome& o : Exchange(runs, runs.size() > 1 ? 1 : 0)) {
      EXPECT_EQ(o.code, 0);
      EXPECT_EQ(std::memcmp(o.total.data(), expected.data(), kWidth * sizeof(double)), 0);
      EXPECT_EQ(o.records, 13.0);
      EXPECT_TRUE(o.cancelled);
      const double processes = static_cast<double>(runs.size());
      EXPECT_EQ(o.low, 10.0 - (processes - 1));
      EXPECT_EQ(o.high, 20.0 + (processes - 1));
    }
  }
}

TEST(TreeExchange, GapsOverlapsAndDamagedMessagesAreRefusedEverywhere) {
  using VXNeural::codes::kExchangeFailed;
  using VXNeural::codes::kSharesDoNotMatch;
  const std::vector<std::pair<long long, long long>> good = {{0, 6}, {6, 13}, {13, 16}};
  struct Case {
    const char* name;
    std::vector<std::pair<long long, long long>> runs;
    std::function<void(std::vector<double>&)> damage;
    int code;
  };
  // Process 1's message: [records, cancel, low, high, nodes, (start, blocks)
  // ..., values ...]; its run 6..13 is nodes 6+2, 8+4, 12+1.
  const std::vector<Case> cases = {
      {"gap", {{0, 6}, {7, 13}, {13, 16}}, {}, kSharesDoNotMatch},
      {"overlap", {{0, 6}, {5, 13}, {13, 16}}, {}, kSharesDoNotMatch},
      {"out of order", {{6, 13}, {0, 6}, {13, 16}}, {}, kSharesDoNotMatch},
      {"huge node count", good, [](auto& m) { m[4] = 1e300; }, kExchangeFailed},
      {"negative node count", good, [](auto& m) { m[4] = -1.0; }, kExchangeFailed},
      // 3.5 would pass for 3, the true count, if converted unchecked.
      {"fractional node count", good, [](auto& m) { m[4] = 3.5; }, kExchangeFailed},
      {"NaN node count", good, [](auto& m) { m[4] = std::nan(""); }, kExchangeFailed},
      {"one value short", good, [](auto& m) { m.pop_back(); }, kExchangeFailed},
      {"empty message", good, [](auto& m) { m.clear(); }, kExchangeFailed},
      // A start other than where the last node ended is a gap, whatever it is.
      {"fractional start", good, [](auto& m) { m[5] = 6.5; }, kSharesDoNotMatch},
      {"huge start", good, [](auto& m) { m[5] = 1e300; }, kSharesDoNotMatch},
      // Nodes 6+3 and 9+3, adjacent and each aligned to its size.
      {"nodes not a power of 2", good,
       [](auto& m) {
         m[6] = 3.0;
         m[7] = 9.0;
         m[8] = 3.0;
       },
       kExchangeFailed},
      {"node past the one before", good, [](auto& m) { m[7] = 9.0; }, kSharesDoNotMatch},
      // The head: a count of records and a flag, checked before they are
      // used.
      {"records not a number", good, [](auto& m) { m[0] = std::nan(""); }, kExchangeFailed},
      {"infinite records", good, [](auto& m) { m[0] = HUGE_VAL; }, kExchangeFailed},
      {"huge records", good, [](auto& m) { m[0] = 1e300; }, kExchangeFailed},
      {"negative records", good, [](auto& m) { m[0] = -1.0; }, kExchangeFailed},
      {"records not whole", good, [](auto& m) { m[0] = 6.5; }, kExchangeFailed},
      {"records beyond an int", good, [](auto& m) { m[0] = 2147483648.0; }, kExchangeFailed},
      // Every process's count fits an int, their total does not.
      {"a total beyond an int", good, [](auto& m) { m[0] = 2147483647.0; }, kSharesDoNotMatch},
      {"a cancel flag neither 0 nor 1", good, [](auto& m) { m[1] = 0.5; }, kExchangeFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Outcome> out = Exchange(c.runs, -1, c.damage);
    for (const Outcome& o : out) EXPECT_EQ(o.code, c.code);
  }
  // A broken connection.
  std::vector<int> codes(2);
  in_process::RunProcesses(2, [&](int rank, in_process::Combiner& combiner) {
    combiner.FailAt(1);
    BlockTree tree;
    tree.Reset(kWidth, 0);
    TreeExchangeTotals totals;
    TreeExchangeBuffers buffers;
    codes[static_cast<std::size_t>(rank)] = ExchangeTree(combiner, tree, totals, buffers);
  });
  EXPECT_EQ(codes[0], kExchangeFailed);
  EXPECT_EQ(codes[1], kExchangeFailed);
}

}  // namespace
