#include <gtest/gtest.h>

#include <cmath>

#include "cluster_data.h"
#include "vxcommon/VXMissing.h"

namespace {

const double kNaN = std::nan("");

// Group A (4 records) and group B (2 records), far apart. Variable 0
// continuous, 1 categorical with 3 categories, 2 continuous with a missing
// value; the -1 and the missing value still count for the other variables.
const std::vector<std::vector<double>> kRows = {
    {1, 1, 0.5}, {100, 3, 10}, {2, 1, VXMV::gMissingValue},
    {3, 2, 0.5}, {104, 3, 20}, {6, -1, 0.5}};

ClusterVarList SmallVars() {
  ClusterVarList vars(3);
  vars.AddContVar(50.0, 10.0);  // sums kept about 50: the results must not show it
  vars.AddCatVar(3, ClusterVar::kNumericCategorical);
  vars.AddContVar(0.0, 1.0);
  return vars;
}

struct Expected {
  int cases;
  double mean0, var0, count2, mean2, var2;
  std::vector<int> counts1;
};

void ExpectStats(const ClusterStats& s, const Expected& e) {
  EXPECT_EQ(s.GetCaseCount(), e.cases);
  EXPECT_NEAR(s.GetMeanOfContVar(0), e.mean0, 1e-9);
  EXPECT_NEAR(s.GetVarianceOfContVar(0), e.var0, 1e-9);
  EXPECT_EQ(s.GetCountsOfCatVar(1), e.counts1);
  EXPECT_EQ(s.GetValidCount(2), e.count2);
  EXPECT_NEAR(s.GetMeanOfContVar(2), e.mean2, 1e-9);
  EXPECT_NEAR(s.GetVarianceOfContVar(2), e.var2, 1e-9);
}

// Hand values: A's variable 0 is 1, 2, 3, 6: mean 3, population variance
// (4 + 1 + 0 + 9) / 4 = 3.5. B's is 100, 104: mean 102, variance 4. All six:
// mean 216 / 6 = 36, variance 20866 / 6 - 36^2. Variable 2: A 0.5 three
// times; B 10, 20: mean 15, variance 25; all five: mean 31.5 / 5, variance
// 500.75 / 5 - 6.3^2.
TEST(ClusterStats, SufficientStatisticsAreExact) {
  ClusterVarList vars = SmallVars();
  ClusterModel model(ClusterSettings(), vars);
  RowSource src(kRows);
  ASSERT_TRUE(model.PreCluster(src).IsOK());

  ASSERT_TRUE(model.Cluster(1).IsOK());
  ASSERT_EQ(model.GetNumOfClusters(), 1);
  ExpectStats(**model.BeginResultClusters(),
              {6, 36.0, 20866.0 / 6 - 1296.0, 5, 6.3, 500.75 / 5 - 6.3 * 6.3, {2, 1, 2}});

  ASSERT_TRUE(model.Cluster(2).IsOK());
  ASSERT_EQ(model.GetNumOfClusters(), 2);
  auto it = model.BeginResultClusters();  // the larger cluster first
  ExpectStats(*it[0], {4, 3.0, 3.5, 3, 0.5, 0.0, {2, 1, 0}});
  ExpectStats(*it[1], {2, 102.0, 4.0, 2, 15.0, 25.0, {0, 0, 2}});
  EXPECT_EQ(model.AssignRecord(VXCluster::Record(std::vector<double>{5, 1, 0.4})), 0);
  EXPECT_EQ(model.AssignRecord(VXCluster::Record(std::vector<double>{99, -1, kNaN})), 1);
  EXPECT_EQ(model.AssignRecord(VXCluster::Record(std::vector<double>{99, 4, 1})), -1);
}

// Under a summary too small for the data the tree is rebuilt many times, yet
// every record is counted once: the one-cluster statistics equal the tallies
// made here, and the clusters' case counts add up.
TEST(ClusterModel, RebuildsKeepCountsExact) {
  const Planted p = MakePlanted(3, 700, 2, 2, 5);
  struct Budget {
    int maxEntries;
    std::size_t bytes;
    int branching;
  } budgets[] = {{8, 1 << 20, 2}, {1000, 4096, 3}, {50, 1 << 20, 8}};
  double sum = 0, sumSq = 0;
  std::vector<int> counts(4, 0);
  for (const auto& r : p.rows) {
    sum += r[0];
    sumSq += r[0] * r[0];
    ++counts[static_cast<std::size_t>(r[2]) - 1];
  }
  const double n = static_cast<double>(p.rows.size());
  for (const Budget& b : budgets) {
    ClusterSettings settings;
    settings.SetMaxLeafEntries(b.maxEntries);
    settings.SetMemoryBudget(b.bytes);
    settings.SetBranchingFactor(b.branching);
    ClusterVarList vars = MakeVars(2, 2);
    ClusterModel model(settings, vars);
    RowSource src(p.rows);
    ASSERT_TRUE(model.PreCluster(src).IsOK()) << b.maxEntries;
    EXPECT_GT(model.GetNumRebuilds(), 0);
    EXPECT_LE(model.GetNumLeafEntries(), b.maxEntries);
    EXPECT_GT(model.GetThreshold(), 0.0);
    ASSERT_TRUE(model.Cluster(1).IsOK());
    const ClusterStats& all = **model.BeginResultClusters();
    EXPECT_EQ(all.GetCaseCount(), 2100);
    EXPECT_EQ(all.GetCountsOfCatVar(2), counts);
    EXPECT_NEAR(all.GetMeanOfContVar(0), sum / n, 1e-9);
    EXPECT_NEAR(all.GetVarianceOfContVar(0), sumSq / n - (sum / n) * (sum / n), 1e-7);
    ASSERT_FALSE(model.Cluster(3).IsError());
    int total = 0;
    for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it)
      total += (*it)->GetCaseCount();
    EXPECT_EQ(total, 2100);
    // Records absorbed into their nearest entries: the planted clusters stay
    // apart however small the tree.
    std::vector<int> assigned;
    for (const auto& r : p.rows) assigned.push_back(model.AssignRecord(VXCluster::Record(r)));
    EXPECT_GE(AdjustedRandIndex(p.labels, assigned), 0.9) << b.maxEntries;
  }
}

// Forty distinct records far apart fit a tree of two slots per node and room
// for 64 entries without a rebuild: every node holds up to its branching
// factor.
TEST(ClusterModel, NodesHoldUpToTheBranchingFactor) {
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 40; ++i) rows.push_back({100.0 * i, 100.0 * (i % 7), 1.0 + i % 4});
  ClusterSettings settings;
  settings.SetMaxLeafEntries(64);
  settings.SetBranchingFactor(2);
  ClusterVarList vars = MakeVars(2, 1);
  ClusterModel model(settings, vars);
  RowSource src(rows);
  ASSERT_TRUE(model.PreCluster(src).IsOK());
  EXPECT_EQ(model.GetNumRebuilds(), 0);
  EXPECT_EQ(model.GetNumLeafEntries(), 40);
}

}  // namespace
