#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "cluster_data.h"
#include "vxcommon/VXMissing.h"

namespace {

using VXCluster::VXStatus;

std::vector<int> Assign(const ClusterModel& model, const std::vector<std::vector<double>>& rows) {
  std::vector<int> out;
  for (const auto& r : rows) out.push_back(model.AssignRecord(VXCluster::Record(r)));
  return out;
}

// Planted clusters, well separated: the automatic count finds them and both
// the automatic and the fixed-k clustering recover the labels.
struct RecoveryCase {
  const char* name;
  int k, nCont, nCat;
};

class Recovery : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(Recovery, PlantedClustersAreRecovered) {
  const RecoveryCase& c = GetParam();
  const Planted p = MakePlanted(c.k, 300, c.nCont, c.nCat, 7);
  ClusterVarList vars = MakeVars(c.nCont, c.nCat);
  ClusterModel model(ClusterSettings(), vars);
  RowSource src(p.rows);
  ASSERT_TRUE(model.PreCluster(src).IsOK());
  EXPECT_EQ(model.GetNumRecords(), c.k * 300);

  ASSERT_TRUE(model.AutoCluster(1, 10).IsOK());
  EXPECT_EQ(model.GetNumOfClusters(), c.k);
  EXPECT_GE(AdjustedRandIndex(p.labels, Assign(model, p.rows)), 0.9);

  ASSERT_TRUE(model.Cluster(c.k).IsOK());
  EXPECT_EQ(model.GetNumOfClusters(), c.k);
  EXPECT_GE(AdjustedRandIndex(p.labels, Assign(model, p.rows)), 0.9);
}

INSTANTIATE_TEST_SUITE_P(Data, Recovery,
                         ::testing::Values(RecoveryCase{"Continuous", 3, 2, 0},
                                           RecoveryCase{"Categorical", 3, 0, 6},
                                           RecoveryCase{"Mixed", 4, 2, 2},
                                           RecoveryCase{"Five", 5, 3, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The automatic count stays within its bounds, whatever the data prefer.
TEST(AutoCluster, HonoursItsBounds) {
  const Planted p = MakePlanted(4, 200, 2, 2, 11);
  ClusterVarList vars = MakeVars(2, 2);
  ClusterModel model(ClusterSettings(), vars);
  RowSource src(p.rows);
  ASSERT_TRUE(model.PreCluster(src).IsOK());
  const struct {
    int least, most, lo, hi;
  } rows[] = {{1, 2, 1, 2}, {1, 3, 1, 3}, {4, 4, 4, 4},
              {6, 9, 6, 9}, {5, 5, 5, 5}, {2, 100000, 4, 4}};
  for (const auto& r : rows) {
    ASSERT_TRUE(model.AutoCluster(r.least, r.most).IsOK()) << r.least << ".." << r.most;
    EXPECT_GE(model.GetNumOfClusters(), r.lo) << r.least << ".." << r.most;
    EXPECT_LE(model.GetNumOfClusters(), r.hi) << r.least << ".." << r.most;
  }
}

// Three distinct records, repeated: the summary holds three entries, so more
// clusters cannot be formed; the call says so with a warning and forms three.
TEST(Cluster, FewerClustersThanAsked) {
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 30; ++i) rows.push_back({double(i % 3), double(i % 3 + 1)});
  ClusterVarList vars(2);
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(3, ClusterVar::kStringCategorical);
  ClusterModel model(ClusterSettings(), vars);
  RowSource src(rows);
  ASSERT_TRUE(model.PreCluster(src).IsOK());
  EXPECT_EQ(model.GetNumLeafEntries(), 3);
  const std::function<VXStatus()> calls[] = {[&] { return model.Cluster(5); },
                                             [&] { return model.AutoCluster(4, 8); }};
  for (const auto& call : calls) {
    const VXStatus s = call();
    EXPECT_EQ(s.GetErrorCode(), VXCluster::kClusterFewerClusters);
    EXPECT_TRUE(s.IsWarning());
    EXPECT_EQ(model.GetNumOfClusters(), 3);
    for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it)
      EXPECT_EQ((*it)->GetCaseCount(), 10);
  }
  ASSERT_TRUE(model.Cluster(3).IsOK());
  // Equal sizes keep the order in which the records opened the clusters.
  std::vector<double> means;
  for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it)
    means.push_back((*it)->GetMeanOfContVar(0));
  EXPECT_EQ(means, (std::vector<double>{0.0, 1.0, 2.0}));
}

// A literal bottom-up merging over single records: the log-likelihood of a
// cluster is, per continuous variable, -c/2 log(population variance + floor)
// and, per categorical one, the sum of n log(n / c) over its categories.
double LogLikelihood(const std::vector<std::vector<double>>& rows,
                     const std::vector<int>& members) {
  const double floor = 1e-4;  // the default fraction of a scale of 1
  double ll = 0;
  for (int v : {0, 1}) {
    double s = 0, ss = 0;
    for (int r : members) s += rows[r][v], ss += rows[r][v] * rows[r][v];
    const double c = static_cast<double>(members.size()), m = s / c;
    ll -= 0.5 * c * std::log(ss / c - m * m + floor);
  }
  std::map<double, double> counts;
  for (int r : members) counts[rows[r][2]] += 1;
  for (auto& n : counts) ll += n.second * std::log(n.second / members.size());
  return ll;
}

// (size, mean of variable 0) of every cluster, sorted.
using Shape = std::vector<std::pair<int, double>>;

Shape ShapeOf(const std::vector<std::vector<double>>& rows,
              const std::vector<std::vector<int>>& clusters) {
  Shape out;
  for (const auto& c : clusters) {
    double s = 0;
    for (int r : c) s += rows[r][0];
    out.push_back({static_cast<int>(c.size()), std::round(s / c.size() * 1e9) / 1e9});
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Cluster, MergesAsALiteralGreedyMergingWould) {
  std::mt19937 rng(3);
  std::normal_distribution<double> x(0.0, 3.0);
  std::uniform_int_distribution<int> cat(1, 3);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 40; ++i) rows.push_back({x(rng), x(rng), double(cat(rng))});
  ClusterVarList vars(3);
  vars.AddContVar(0.0, 1.0);
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(3, ClusterVar::kNumericCategorical);
  ClusterModel model(ClusterSettings(), vars);
  RowSource src(rows);
  ASSERT_TRUE(model.PreCluster(src).IsOK());
  ASSERT_EQ(model.GetNumLeafEntries(), 40);

  std::vector<std::vector<int>> clusters;
  for (int i = 0; i < 40; ++i) clusters.push_back({i});
  while (!clusters.empty()) {
    const int k = static_cast<int>(clusters.size());
    ASSERT_TRUE(model.Cluster(k).IsOK());
    Shape got;
    for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it)
      got.push_back({(*it)->GetCaseCount(), std::round((*it)->GetMeanOfContVar(0) * 1e9) / 1e9});
    std::sort(got.begin(), got.end());
    ASSERT_EQ(got, ShapeOf(rows, clusters)) << k << " clusters";
    if (k == 1) break;
    std::size_t bi = 0, bj = 1;
    double best = 1e300;
    for (std::size_t i = 0; i < clusters.size(); ++i)
      for (std::size_t j = i + 1; j < clusters.size(); ++j) {
        std::vector<int> both = clusters[i];
        both.insert(both.end(), clusters[j].begin(), clusters[j].end());
        const double d = LogLikelihood(rows, clusters[i]) + LogLikelihood(rows, clusters[j]) -
                         LogLikelihood(rows, both);
        if (d < best) best = d, bi = i, bj = j;
      }
    clusters[bi].insert(clusters[bi].end(), clusters[bj].begin(), clusters[bj].end());
    clusters.erase(clusters.begin() + static_cast<std::ptrdiff_t>(bj));
  }
}

}  // namespace
