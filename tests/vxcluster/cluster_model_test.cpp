// The clustering's results: planted clusters recovered, the automatic count
// within its bounds, log-likelihoods worked by hand, exact sufficient
// statistics through rebuilds of the summary tree, merges as measuring every
// pair would make them, and no allocation per record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "../../src/vxcluster/Hierarchy.h"
#include "cluster_data.h"
#include "common/alloc_counter.h"
#include "vxcommon/VXMissing.h"

namespace {

using VXCluster::VXStatus;

// Planted clusters, well separated: the automatic count finds them and both
// the automatic and the fixed-k clustering recover the labels.
TEST(ClusterModel, PlantedClustersAreRecovered) {
  const struct { int k, nCont, nCat; } cases[] = {{3, 2, 0}, {3, 0, 6}, {4, 2, 2}, {5, 3, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.k << " clusters " << c.nCont << "+" << c.nCat);
    const Planted p = MakePlanted(c.k, 300, c.nCont, c.nCat, 7);
    const auto model = Fed(MakeVars(c.nCont, c.nCat), p.rows);
    EXPECT_EQ(model->GetNumRecords(), c.k * 300);
    for (const bool automatic : {true, false}) {
      ASSERT_TRUE((automatic ? model->AutoCluster(1, 10) : model->Cluster(c.k)).IsOK());
      EXPECT_EQ(model->GetNumOfClusters(), c.k);
      EXPECT_GE(AdjustedRandIndex(p.labels, Assign(*model, p.rows)), 0.9);
    }
  }
}

// The automatic count stays within its bounds, whatever the data prefer.
TEST(ClusterModel, AutoClusterHonoursItsBounds) {
  const auto model = Fed(MakeVars(2, 2), MakePlanted(4, 200, 2, 2, 11).rows);
  const struct {
    int least, most, lo, hi;
  } rows[] = {{1, 2, 1, 2}, {1, 3, 1, 3}, {4, 4, 4, 4},
              {6, 9, 6, 9}, {5, 5, 5, 5}, {2, 100000, 4, 4}};
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.least << ".." << r.most);
    ASSERT_TRUE(model->AutoCluster(r.least, r.most).IsOK());
    EXPECT_GE(model->GetNumOfClusters(), r.lo);
    EXPECT_LE(model->GetNumOfClusters(), r.hi);
  }
}

// Three distinct records, repeated: the summary holds three entries, so more
// clusters cannot be formed; the call says so with a warning and forms three.
TEST(ClusterModel, FewerClustersThanAsked) {
  Rows rows;
  for (int i = 0; i < 30; ++i) rows.push_back({double(i % 3), double(i % 3 + 1)});
  ClusterVarList vars(2);
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(3, ClusterVar::kStringCategorical);
  const auto model = Fed(vars, rows);
  EXPECT_EQ(model->GetNumLeafEntries(), 3);
  for (const bool automatic : {false, true}) {
    const VXStatus s = automatic ? model->AutoCluster(4, 8) : model->Cluster(5);
    EXPECT_EQ(s.GetErrorCode(), VXCluster::kClusterFewerClusters);
    EXPECT_TRUE(s.IsWarning());
    EXPECT_EQ(model->GetNumOfClusters(), 3);
    for (const ClusterStats* c : Results(*model)) EXPECT_EQ(c->GetCaseCount(), 10);
  }
  ASSERT_TRUE(model->Cluster(3).IsOK());
  // Equal sizes keep the order in which the records opened the clusters.
  std::vector<double> means;
  for (const ClusterStats* c : Results(*model)) means.push_back(c->GetMeanOfContVar(0));
  EXPECT_EQ(means, (std::vector<double>{0.0, 1.0, 2.0}));
}

// Records (0, 1, 1), (2, missing, 2) and (4, 5, 1); the second variable's
// scale of 2 makes its floor 4e-4. Variable 0: mean 2, population variance
// 8/3, so -3/2 log(8/3 + 1e-4); variable 1: 1 and 5, variance 4, so
// -log(4 + 4e-4); the categories counted 2, 1, 0 of 3: 2 log(2/3) + log(1/3).
// The union of the first two with the third, formed without adding them,
// has the same log-likelihood, and merging loses some.
TEST(SummaryLayout, LogLikelihoodByHandAndOfAUnionBothWays) {
  ClusterVarList vars(3);
  vars.AddContVar(0.0, 1.0);
  vars.AddContVar(0.0, 2.0);
  vars.AddCatVar(3, ClusterVar::kNumericCategorical);
  const VXCluster::SummaryLayout layout(vars, 1e-4);
  const Rows rows = {{0, 1, 1}, {2, VXMV::gMissingValue, 2}, {4, 5, 1}};
  std::vector<double> a(layout.Width()), b(layout.Width()), all(layout.Width());
  ASSERT_TRUE(layout.FromRecord(VXCluster::Record(rows[0]), a.data()).IsOK());
  ASSERT_TRUE(layout.FromRecord(VXCluster::Record(rows[1]), b.data()).IsOK());
  layout.Add(a.data(), b.data());
  ASSERT_TRUE(layout.FromRecord(VXCluster::Record(rows[2]), b.data()).IsOK());
  all = a;
  layout.Add(all.data(), b.data());
  const double expected = -1.5 * std::log(8.0 / 3 + 1e-4) - std::log(4.0004) +
                          2 * std::log(2.0 / 3) + std::log(1.0 / 3);
  EXPECT_NEAR(layout.LogLikelihood(all.data()), expected, 1e-12);
  EXPECT_NEAR(layout.LogLikelihoodOfUnion(a.data(), b.data()), expected, 1e-12);
  EXPECT_GT(layout.Distance(a.data(), b.data()), 0.1);
}

// Group A (4 records) and group B (2 records), far apart. Variable 0
// continuous, 1 categorical with 3 categories, 2 continuous with a missing
// value; the -1 and the missing value still count for the other variables.
// Hand values: A's variable 0 is 1, 2, 3, 6: mean 3, population variance
// (4 + 1 + 0 + 9) / 4 = 3.5. B's is 100, 104: mean 102, variance 4. All six:
// mean 216 / 6 = 36, variance 20866 / 6 - 36^2. Variable 2: A 0.5 three
// times; B 10, 20: mean 15, variance 25; all five: mean 31.5 / 5, variance
// 500.75 / 5 - 6.3^2.
TEST(ClusterStats, SufficientStatisticsAreExact) {
  ClusterVarList vars(3);
  vars.AddContVar(50.0, 10.0);  // sums kept about 50: the results must not show it
  vars.AddCatVar(3, ClusterVar::kNumericCategorical);
  vars.AddContVar(0.0, 1.0);
  const double gone = VXMV::gMissingValue;
  const auto model =
      Fed(vars, {{1, 1, 0.5}, {100, 3, 10}, {2, 1, gone}, {3, 2, 0.5}, {104, 3, 20}, {6, -1, 0.5}});
  // Cases, mean and variance of variable 0, of variable 2 the valid count,
  // mean and variance, then the counts of variable 1.
  auto expect = [&](int cluster, const std::vector<double>& want) {
    const ClusterStats* s = Results(*model)[cluster];
    std::vector<double> v{double(s->GetCaseCount()),  s->GetMeanOfContVar(0),
                          s->GetVarianceOfContVar(0), s->GetValidCount(2),
                          s->GetMeanOfContVar(2),     s->GetVarianceOfContVar(2)};
    for (int n : s->GetCountsOfCatVar(1)) v.push_back(n);
    EXPECT_THAT(v, testing::Pointwise(testing::DoubleNear(1e-9), want)) << cluster;
  };
  ASSERT_TRUE(model->Cluster(1).IsOK());
  ASSERT_EQ(model->GetNumOfClusters(), 1);
  expect(0, {6, 36.0, 20866.0 / 6 - 1296.0, 5, 6.3, 500.75 / 5 - 6.3 * 6.3, 2, 1, 2});
  ASSERT_TRUE(model->Cluster(2).IsOK());
  ASSERT_EQ(model->GetNumOfClusters(), 2);
  expect(0, {4, 3, 3.5, 3, 0.5, 0, 2, 1, 0});  // the larger cluster first
  expect(1, {2, 102, 4, 2, 15, 25, 0, 0, 2});
  EXPECT_EQ(Assign(*model, {{5, 1, 0.4}, {99, -1, std::nan("")}, {99, 4, 1}}),
            (std::vector<int>{0, 1, -1}));
}

// Under a summary too small for the data the tree is rebuilt many times, yet
// every record is counted once: the one-cluster statistics equal the tallies
// made here, and the clusters' case counts add up.
TEST(ClusterModel, RebuildsKeepCountsExact) {
  const Planted p = MakePlanted(3, 700, 2, 2, 5);
  double sum = 0, sumSq = 0;
  std::vector<int> counts(4, 0);
  for (const auto& r : p.rows) {
    sum += r[0];
    sumSq += r[0] * r[0];
    ++counts[static_cast<std::size_t>(r[2]) - 1];
  }
  const double n = static_cast<double>(p.rows.size());
  for (const ClusterSettings& settings : {Limits(8, 2), Limits(1000, 3, 4096), Limits(50, 8)}) {
    SCOPED_TRACE(settings.GetMaxLeafEntries());
    const auto model = Fed(MakeVars(2, 2), p.rows, settings);
    EXPECT_GT(model->GetNumRebuilds(), 0);
    EXPECT_LE(model->GetNumLeafEntries(), settings.GetMaxLeafEntries());
    EXPECT_GT(model->GetThreshold(), 0.0);
    ASSERT_TRUE(model->Cluster(1).IsOK());
    const ClusterStats& all = *Results(*model)[0];
    EXPECT_EQ(all.GetCaseCount(), 2100);
    EXPECT_EQ(all.GetCountsOfCatVar(2), counts);
    EXPECT_NEAR(all.GetMeanOfContVar(0), sum / n, 1e-9);
    EXPECT_NEAR(all.GetVarianceOfContVar(0), sumSq / n - (sum / n) * (sum / n), 1e-7);
    ASSERT_FALSE(model->Cluster(3).IsError());
    int total = 0;
    for (const ClusterStats* c : Results(*model)) total += c->GetCaseCount();
    EXPECT_EQ(total, 2100);
    // Records absorbed into their nearest entries: the planted clusters stay
    // apart however small the tree.
    EXPECT_GE(AdjustedRandIndex(p.labels, Assign(*model, p.rows)), 0.9);
  }
}

// Forty distinct records far apart fit a tree of two slots per node and room
// for 64 entries without a rebuild: every node holds up to its branching
// factor.
TEST(ClusterModel, NodesHoldUpToTheBranchingFactor) {
  Rows rows;
  for (int i = 0; i < 40; ++i) rows.push_back({100.0 * i, 100.0 * (i % 7), 1.0 + i % 4});
  const auto model = Fed(MakeVars(2, 1), rows, Limits(64, 2));
  EXPECT_EQ(model->GetNumRebuilds(), 0);
  EXPECT_EQ(model->GetNumLeafEntries(), 40);
}

// A budget and leaf-entry limit far beyond the data: the tree's pools grow
// with the entries, so a handful of records costs a handful of entries
// (pools sized for the whole capacity up front took gigabytes here, and the
// largest limits overflowed the node count).
TEST(ClusterModel, LargeBudgetsAreNotSizedUpFront) {
  const Planted p = MakePlanted(2, 20, 2, 1, 3);
  for (const auto& [budget, entries] :
       {std::pair<std::size_t, int>{std::size_t{1} << 40, 1 << 28},
        {std::numeric_limits<std::size_t>::max(), std::numeric_limits<int>::max()}}) {
    SCOPED_TRACE(entries);
    const auto model = Fed(MakeVars(2, 1), p.rows, Limits(entries, 0, budget));
    ASSERT_TRUE(model->GetStatus().IsOK());
    EXPECT_EQ(model->GetNumRecords(), 40);
    ASSERT_TRUE(model->Cluster(2).IsOK());
    EXPECT_EQ(model->GetNumOfClusters(), 2);
  }
}

// Pre-clustering forty thousand records, rebuilding the tree many times over,
// allocates no more than a first pass over a few hundred: nothing per record.
TEST(ClusterModel, PreClusterAllocatesNothingPerRecord) {
  ClusterVarList vars = MakeVars(2, 1);
  ClusterModel model(Limits(64), vars);
  const Rows few = MakePlanted(3, 100, 2, 1, 1).rows, many = MakePlanted(4, 10000, 2, 1, 2).rows;
  long counts[2];
  int rebuilds[2];
  for (int i : {0, 1}) {
    RowSource source(i == 0 ? few : many);
    counts[i] = alloc_counter::Allocations([&] { ASSERT_TRUE(model.PreCluster(source).IsOK()); });
    rebuilds[i] = model.GetNumRebuilds();
  }
  EXPECT_GT(rebuilds[1], rebuilds[0]);
  EXPECT_LE(counts[1], counts[0]);
  EXPECT_LT(counts[0], 50);
}

// Measures every pair of active clusters at every step and joins the least
// distance, ties to the lowest pair: what Hierarchy::Build must reproduce
// exactly.
std::vector<VXCluster::Hierarchy::Merge> Reference(const VXCluster::SummaryLayout& layout,
                                                   std::vector<double> cf) {
  const int w = layout.Width(), m = static_cast<int>(cf.size()) / w;
  std::vector<char> active(m, 1);
  std::vector<VXCluster::Hierarchy::Merge> merges;
  for (int left = m; left > 1; --left) {
    VXCluster::Hierarchy::Merge best{-1, -1, 0.0};
    for (int a = 0; a < m; ++a)
      for (int b = a + 1; b < m; ++b) {
        const double d = layout.Distance(&cf[a * w], &cf[b * w]);
        if (active[a] && active[b] && (best.fKept < 0 || d < best.fDistance)) best = {a, b, d};
      }
    merges.push_back(best);
    layout.Add(&cf[best.fKept * w], &cf[best.fGone * w]);
    active[best.fGone] = 0;
  }
  return merges;
}

// Enough entries for the searches to run in several pieces, shared by 1, 2,
// 3 and 8 threads from the first sweep on: every count merges as measuring
// every pair does.
TEST(Hierarchy, SharedSearchesMergeAsMeasuringEveryPair) {
  const VXCluster::SummaryLayout layout(MakeVars(3, 1), 1e-4);
  const int w = layout.Width(), m = VXCluster::Hierarchy::kPiece + 40;
  const Planted p = MakePlanted(4, m / 4, 3, 1, 9);
  std::vector<double> entries(static_cast<std::size_t>(m) * w);
  for (int e = 0; e < m; ++e) {
    VXCluster::Record rec(4);
    for (int v = 0; v < 4; ++v) rec[v] = p.rows[e][v];
    ASSERT_TRUE(layout.FromRecord(rec, &entries[static_cast<std::size_t>(e) * w]).IsOK());
  }
  const auto expected = Reference(layout, entries);
  for (int threads : {1, 2, 3, 8}) {
    SCOPED_TRACE(threads);
    VXCluster::Hierarchy h;
    h.Build(layout, entries, threads, {}, 0);
    ASSERT_EQ(h.Merges().size(), expected.size());
    for (std::size_t t = 0; t < expected.size(); ++t)
      ASSERT_EQ(std::make_tuple(h.Merges()[t].fKept, h.Merges()[t].fGone, h.Merges()[t].fDistance),
                std::make_tuple(expected[t].fKept, expected[t].fGone, expected[t].fDistance))
          << "merge " << t;
  }
}

TEST(Hierarchy, MergesAsMeasuringEveryPair) {
  const struct {
    const char* name;
    int nCont, nCat;
    double spread;   // distance between the planted centres
    double missing;  // share of missing values
    bool grid;       // whole-number values: many equal distances
    double offset;   // added to continuous values (beyond 2^47: no quick bound)
  } cases[] = {
      {"continuous", 5, 0, 6.0, 0.0, false, 0.0},
      {"many variables", 40, 0, 3.0, 0.0, false, 0.0},
      {"categorical fields", 20, 3, 4.0, 0.0, false, 0.0},
      {"missing values", 18, 2, 4.0, 0.15, false, 0.0},
      {"ties", 3, 1, 2.0, 0.0, true, 0.0},
      {"ties, many variables", 33, 0, 1.0, 0.0, true, 0.0},
      {"huge values", 4, 1, 1e3, 0.0, false, 1e15},
      {"only categorical", 0, 4, 0.0, 0.1, true, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClusterVarList vars(c.nCont + c.nCat);
    for (int v = 0; v < c.nCont; ++v) vars.AddContVar(0.0, 1.0);
    for (int v = 0; v < c.nCat; ++v) vars.AddCatVar(3, ClusterVar::kNumericCategorical);
    const VXCluster::SummaryLayout layout(vars, 1e-4);
    const int w = layout.Width(), m = 48;

    // Entries of one to three records around four planted centres, as the
    // summary tree would leave them.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> entries(m * w), one(w);
    for (int e = 0; e < m; ++e) {
      const int centre = (e * 7) % 4;
      for (int r = 0; r < 1 + e % 3; ++r) {
        VXCluster::Record rec(c.nCont + c.nCat);
        for (int v = 0; v < c.nCont; ++v) {
          const double x = (v % 4 == centre ? c.spread : 0.0) + noise(rng);
          rec[v] = u(rng) < c.missing ? std::nan("") : c.offset + (c.grid ? std::round(x) : x);
        }
        for (int v = 0; v < c.nCat; ++v) {
          rec[c.nCont + v] = u(rng) < c.missing ? -1.0 : (centre + v) % 3 + 1 + (u(rng) < 0.2);
          if (rec[c.nCont + v] > 3.0) rec[c.nCont + v] = 1.0;
        }
        ASSERT_TRUE(layout.FromRecord(rec, one.data()).IsOK());
        if (r == 0)
          std::copy(one.begin(), one.end(), &entries[e * w]);
        else
          layout.Add(&entries[e * w], one.data());
      }
    }
    // Entries with two exact copies, so that whole distances tie.
    for (int e : {5, 17, 30})
      for (int copy : {e + 1, e + 2}) std::copy_n(&entries[e * w], w, &entries[copy * w]);

    VXCluster::Hierarchy h;
    h.Build(layout, entries);
    const auto expected = Reference(layout, entries);
    ASSERT_EQ(h.Merges().size(), expected.size());
    for (std::size_t t = 0; t < expected.size(); ++t) {
      SCOPED_TRACE(t);
      EXPECT_EQ(std::make_tuple(h.Merges()[t].fKept, h.Merges()[t].fGone, h.Merges()[t].fDistance),
                std::make_tuple(expected[t].fKept, expected[t].fGone, expected[t].fDistance));
    }
    // Labels name each of c clusters by its lowest entry; the merge that
    // leaves c clusters has joined its pair.
    std::vector<int> labels;
    for (int c = m; c >= 1; --c) {
      h.Labels(c, labels);
      int named = 0;
      for (int i = 0; i < m; ++i) {
        named += labels[i] == i;
        ASSERT_TRUE(labels[i] <= i && labels[labels[i]] == labels[i]) << c << " " << i;
      }
      EXPECT_EQ(named, c);
      if (c == m) continue;
      const auto& joined = h.Merges()[m - c - 1];
      EXPECT_EQ(labels[joined.fKept], labels[joined.fGone]) << c;
    }
    // The merges as a tree: from the root, undoing the newest merge (the
    // node of highest number) each time gives the clusters Labels gives for
    // each count, and every node is its children's parent. Each count's
    // shares are sum n ln(n / N) over the clusters' records.
    double records = 0.0;
    for (int e = 0; e < m; ++e) records += entries[e * w];
    std::vector<int> nodes{h.Root()}, byNodes;
    EXPECT_EQ(h.Parent(h.Root()), -1);
    for (int c = 1; c <= m; ++c) {
      SCOPED_TRACE(::testing::Message() << c << " clusters");
      if (c > 1) {
        const auto newest = std::max_element(nodes.begin(), nodes.end());
        const int n = *newest;
        ASSERT_FALSE(h.IsLeaf(n));
        EXPECT_EQ(std::make_pair(h.Parent(h.Left(n)), h.Parent(h.Right(n))), std::make_pair(n, n));
        *newest = h.Left(n);
        nodes.push_back(h.Right(n));
      }
      h.Labels(c, labels);
      h.LabelsOf(nodes, byNodes);
      EXPECT_EQ(byNodes, labels);
      std::map<int, double> sizes;
      for (int e = 0; e < m; ++e) sizes[labels[e]] += entries[e * w];
      double shares = 0.0;
      for (const auto& [cluster, n] : sizes) shares += n * std::log(n / records);
      EXPECT_NEAR(h.ShareLogLikelihood(c), shares, 1e-9 * (1.0 + std::fabs(shares)));
    }
  }
}

}  // namespace
