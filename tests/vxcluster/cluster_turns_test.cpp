// Pre-clustering in turns: the records cut into runs, each run read by its
// own model that goes on from the state the previous one saved, must give
// the summary and clusters that one model reading them all gives, bit for
// bit, wherever the cuts fall (also across the tree's rebuilds).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "cluster_data.h"

namespace {

ClusterSettings SmallTree(int maxEntries) {
  ClusterSettings s;
  s.SetMaxLeafEntries(maxEntries);  // forces rebuilds within a few hundred records
  return s;
}

// What the test compares: the summary's figures and the results of one
// Cluster and one AutoCluster, every double as its bits.
struct Outcome {
  long long records = 0;
  int entries = 0, rebuilds = 0;
  double threshold = 0.0;
  std::vector<double> clusters;  // counts, then means of the continuous variables
  int autoCount = 0;
  double bic = 0.0;
};

Outcome OutcomeOf(ClusterModel& m, int nCont) {
  Outcome o;
  o.records = m.GetNumRecords();
  o.entries = m.GetNumLeafEntries();
  o.rebuilds = m.GetNumRebuilds();
  o.threshold = m.GetThreshold();
  EXPECT_FALSE(m.Cluster(5).IsError());
  for (auto it = m.BeginResultClusters(); it != m.EndResultClusters(); ++it) {
    o.clusters.push_back((*it)->GetCaseCount());
    for (int v = 0; v < nCont; ++v) o.clusters.push_back((*it)->GetMeanOfContVar(v));
  }
  EXPECT_FALSE(m.AutoCluster(1, 8).IsError());
  o.autoCount = m.GetNumOfClusters();
  o.bic = m.GetBIC();
  return o;
}

void ExpectSame(const Outcome& a, const Outcome& b) {
  EXPECT_EQ(a.records, b.records);
  EXPECT_EQ(a.entries, b.entries);
  EXPECT_EQ(a.rebuilds, b.rebuilds);
  EXPECT_EQ(std::memcmp(&a.threshold, &b.threshold, sizeof(double)), 0);
  ASSERT_EQ(a.clusters.size(), b.clusters.size());
  EXPECT_EQ(std::memcmp(a.clusters.data(), b.clusters.data(), a.clusters.size() * sizeof(double)),
            0);
  EXPECT_EQ(a.autoCount, b.autoCount);
  EXPECT_EQ(std::memcmp(&a.bic, &b.bic, sizeof(double)), 0);
}

// The rows cut at `cuts` (increasing, inside the rows), each run read by a
// fresh model that takes the state saved by the one before.
Outcome InTurns(const Rows& rows, const std::vector<std::size_t>& cuts, const ClusterSettings& s,
                int nCont, int nCat) {
  std::vector<double> state;
  std::size_t from = 0;
  std::vector<std::size_t> ends(cuts);
  ends.push_back(rows.size());
  std::unique_ptr<ClusterModel> model;
  for (std::size_t t = 0; t < ends.size(); ++t) {
    ClusterVarList vars = MakeVars(nCont, nCat);
    model = std::make_unique<ClusterModel>(s, vars);
    if (t == 0)
      model->BeginPreCluster();
    else
      EXPECT_FALSE(model->SetPreClusterState(state).IsError());
    const Rows run(rows.begin() + static_cast<std::ptrdiff_t>(from),
                   rows.begin() + static_cast<std::ptrdiff_t>(ends[t]));
    RowSource source(run);
    EXPECT_FALSE(model->ContinuePreCluster(source).IsError());
    model->GetPreClusterState(state);
    from = ends[t];
  }
  EXPECT_FALSE(model->EndPreCluster().IsError());
  return OutcomeOf(*model, nCont);
}

TEST(ClusterTurns, AnyCutsGiveTheOneReaderSummaryAndClusters) {
  const int nCont = 3, nCat = 2;
  const Planted data = MakePlanted(6, 70, nCont, nCat, 11);  // 420 rows
  struct Case {
    const char* name;
    int maxEntries;
    std::vector<std::size_t> cuts;
  };
  const std::vector<Case> cases = {
      {"one run", 40, {}},
      {"two runs", 40, {200}},
      {"empty runs", 40, {0, 0, 150, 150, 420}},
      {"every 96", 40, {96, 192, 288, 384}},
      {"single records", 40, {1, 2, 3, 419}},
      {"large tree", 100000, {100, 333}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClusterSettings s = SmallTree(c.maxEntries);
    ClusterVarList vars = MakeVars(nCont, nCat);
    ClusterModel whole(s, vars);
    RowSource all(data.rows);
    ASSERT_FALSE(whole.PreCluster(all).IsError());
    const Outcome one = OutcomeOf(whole, nCont);
    if (c.maxEntries < 100) {
      EXPECT_GT(one.rebuilds, 0);  // the cuts cross rebuilds
    }
    ExpectSame(InTurns(data.rows, c.cuts, s, nCont, nCat), one);
  }
  // Random cuts.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<std::size_t> cuts;
    std::uniform_int_distribution<std::size_t> at(0, data.rows.size());
    for (int k = 0; k < 3; ++k) cuts.push_back(at(rng));
    std::sort(cuts.begin(), cuts.end());
    const ClusterSettings s = SmallTree(30);
    ClusterVarList vars = MakeVars(nCont, nCat);
    ClusterModel whole(s, vars);
    RowSource all(data.rows);
    ASSERT_FALSE(whole.PreCluster(all).IsError());
    ExpectSame(InTurns(data.rows, cuts, s, nCont, nCat), OutcomeOf(whole, nCont));
  }
}

TEST(ClusterTurns, RecordNumbersRunOnAndEmptyEndsAreRefused) {
  ClusterVarList vars = MakeVars(1, 1);
  ClusterModel m(ClusterSettings(), vars);
  m.BeginPreCluster();
  const Rows first = {{1.0, 1.0}, {2.0, 2.0}};
  RowSource a(first);
  ASSERT_FALSE(m.ContinuePreCluster(a).IsError());
  // The bad category is the 4th record of the whole sequence.
  const Rows second = {{3.0, 3.0}, {4.0, 9.0}};
  RowSource b(second);
  const VXCommon_1_2::VXStatus bad = m.ContinuePreCluster(b);
  EXPECT_EQ(bad.GetErrorCode(), VXCluster::kClusterCategoryOutOfRange);
  EXPECT_EQ(bad.GetDiscreteDatum(0), 4);
  // After an error the summary is gone: nothing read, so End refuses.
  EXPECT_EQ(m.GetNumRecords(), 0);
  EXPECT_EQ(m.EndPreCluster().GetErrorCode(), VXCluster::kClusterEmptySource);
  EXPECT_EQ(m.Cluster(2).GetErrorCode(), VXCluster::kClusterNotPreClustered);
}

TEST(ClusterTurns, ForeignOrDamagedStatesAreRefusedAndChangeNothing) {
  const Planted data = MakePlanted(3, 40, 2, 1, 3);
  ClusterVarList vars = MakeVars(2, 1);
  ClusterModel source(SmallTree(20), vars);
  source.BeginPreCluster();
  RowSource rows(data.rows);
  ASSERT_FALSE(source.ContinuePreCluster(rows).IsError());
  std::vector<double> good;
  source.GetPreClusterState(good);
  ASSERT_GT(good.size(), 20u);

  struct Case {
    const char* name;
    std::function<void(std::vector<double>&)> damage;
    int nCont;
    int maxEntries;
  };
  const std::vector<Case> cases = {
      {"empty", [](auto& s) { s.clear(); }, 2, 20},
      {"truncated", [](auto& s) { s.pop_back(); }, 2, 20},
      {"one more", [](auto& s) { s.push_back(0.0); }, 2, 20},
      {"negative records", [](auto& s) { s[0] = -1.0; }, 2, 20},
      {"fractional records", [](auto& s) { s[0] = 1.5; }, 2, 20},
      {"NaN threshold", [](auto& s) { s[1] = std::nan(""); }, 2, 20},
      {"huge node count", [](auto& s) { s[5] = 1e300; }, 2, 20},
      {"root past the nodes", [](auto& s) { s[7] = s[5]; }, 2, 20},
      {"other variables", [](auto&) {}, 3, 20},
      {"other capacity", [](auto&) {}, 2, 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> state = good;
    c.damage(state);
    ClusterVarList other = MakeVars(c.nCont, 1);
    ClusterModel m(SmallTree(c.maxEntries), other);
    m.BeginPreCluster();
    Rows first = {std::vector<double>(static_cast<std::size_t>(c.nCont), 0.5)};
    first[0].push_back(1.0);
    RowSource r(first);
    ASSERT_FALSE(m.ContinuePreCluster(r).IsError());
    EXPECT_EQ(m.SetPreClusterState(state).GetErrorCode(), VXCluster::kClusterInvalidState);
    EXPECT_EQ(m.GetNumRecords(), 1);  // the model kept its own record
    EXPECT_FALSE(m.EndPreCluster().IsError());
  }
  // A slot that names a summary past those in use.
  std::vector<double> state = good;
  const std::size_t nodes = static_cast<std::size_t>(state[5]);
  const std::size_t b = static_cast<std::size_t>(state[2]) + 1;
  const std::size_t firstNode = state.size() - nodes * (2 + 2 * b);
  const std::size_t root = static_cast<std::size_t>(state[7]);
  state[firstNode + root * (2 + 2 * b) + 2] = state[6];  // the root's first slot: summaries in use
  ClusterModel m(SmallTree(20), vars);
  EXPECT_EQ(m.SetPreClusterState(state).GetErrorCode(), VXCluster::kClusterInvalidState);
}

}  // namespace
