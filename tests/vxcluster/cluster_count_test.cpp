// The numbers behind the automatic cluster count, each worked out here by a
// second, plain implementation of what the model header documents: the BIC of
// given clusterings from the records themselves, the count rule from the BIC
// and merge-distance values, and the summary tree's threshold through its
// rebuilds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "../../src/vxcluster/CFTree.h"
#include "cluster_data.h"
#include "vxcommon/VXMissing.h"

namespace {

// The variables of a test: the number of categories of each, 0 for a
// continuous one (declared with location 0 and the given scale).
struct VarKinds {
  std::vector<int> categories;
  double scale = 1.0;
};

ClusterVarList ListOf(const VarKinds& kinds) {
  ClusterVarList vars;
  for (int n : kinds.categories) {
    if (n == 0)
      vars.AddContVar(0.0, kinds.scale);
    else
      vars.AddCatVar(n, ClusterVar::kNumericCategorical);
  }
  return vars;
}

bool HasValue(double x, bool continuous) {
  return !(x == VXMV::gMissingValue || std::isnan(x) || (!continuous && x == -1.0));
}

// Log-likelihood of a partition of the rows as the model header defines it,
// in long double and two passes: per cluster and continuous variable
// -c/2 log(population variance + floor), c the values present; per
// categorical variable sum n log(n / c) over its category counts n.
long double LogLikelihood(const VarKinds& kinds, double floorFraction, const Rows& rows,
                          const std::vector<int>& labels, int k) {
  const long double floor = floorFraction * kinds.scale * kinds.scale;
  long double ll = 0.0L;
  for (int cluster = 0; cluster < k; ++cluster)
    for (std::size_t v = 0; v < kinds.categories.size(); ++v) {
      const int n = kinds.categories[v];
      std::vector<long double> values;
      for (std::size_t i = 0; i < rows.size(); ++i)
        if (labels[i] == cluster && HasValue(rows[i][v], n == 0)) values.push_back(rows[i][v]);
      if (values.empty()) continue;
      const long double c = values.size();
      if (n == 0) {
        long double mean = 0.0L, ss = 0.0L;
        for (long double x : values) mean += x;
        mean /= c;
        for (long double x : values) ss += (x - mean) * (x - mean);
        ll -= 0.5L * c * std::log(ss / c + floor);
      } else {
        for (int category = 1; category <= n; ++category) {
          const long double in = std::count(values.begin(), values.end(), category);
          if (in > 0) ll += in * std::log(in / c);
        }
      }
    }
  return ll;
}

// Free parameters of one cluster: a mean and a variance per continuous
// variable, n - 1 proportions per categorical one.
int Parameters(const VarKinds& kinds) {
  int p = 0;
  for (int n : kinds.categories) p += n == 0 ? 2 : n - 1;
  return p;
}

// Groups far apart on the first continuous variable, each gap several times
// the one before it, so that every count up to the number of groups joins
// whole groups (the nearest first) and a record's cluster is the one it is
// assigned to. Categorical variables (at least two categories per group):
// group g takes category 2g + 1 or, in 30% of its records, 2g + 2, so groups
// share no category and a group's records join each other first. With
// missing > 0 that share of values is absent (the missing value, NaN, or
// category -1), except in the first variable of each kind, which keep every
// record with its group.
Rows Grouped(const VarKinds& kinds, const std::vector<int>& sizes, double missing, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto first = [&](bool categorical) {
    return static_cast<std::size_t>(std::find_if(kinds.categories.begin(), kinds.categories.end(),
                                                 [&](int n) { return (n > 0) == categorical; }) -
                                    kinds.categories.begin());
  };
  const std::size_t firstContinuous = first(false), firstCategorical = first(true);
  Rows rows;
  double centre = 0.0, gap = 40.0;
  for (std::size_t g = 0; g < sizes.size(); ++g, centre += gap, gap *= 3.0)
    for (int i = 0; i < sizes[g]; ++i) {
      std::vector<double> row;
      bool first = true;
      for (std::size_t v = 0; v < kinds.categories.size(); ++v) {
        const int n = kinds.categories[v];
        double x;
        if (n == 0) {
          x = (first ? centre : 0.0) + noise(rng);
          first = false;
        } else {
          x = 2.0 * g + (u(rng) < 0.7 ? 1 : 2);
        }
        const bool kept = n == 0 ? v == firstContinuous : v == firstCategorical;
        if (!kept && u(rng) < missing)
          x = n > 0 ? -1.0 : (u(rng) < 0.5 ? VXMV::gMissingValue : NAN);
        row.push_back(x);
      }
      rows.push_back(row);
    }
  return rows;
}

// Whether the rows for which `in` holds have the cluster's statistics: case
// count and category counts exactly, means to rounding.
template <typename In>
bool SameStatistics(const ClusterStats& s, const VarKinds& kinds, const Rows& rows, In in) {
  int cases = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) cases += in(i);
  if (cases != s.GetCaseCount()) return false;
  for (int v = 0; v < s.GetNumVars(); ++v) {
    std::vector<double> x;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (in(i) && HasValue(rows[i][v], true)) x.push_back(rows[i][v]);
    const int n = kinds.categories[static_cast<std::size_t>(v)];
    for (int category = 1; category <= n; ++category)
      if (s.GetCountsOfCatVar(v)[category - 1] != std::count(x.begin(), x.end(), category))
        return false;
    if (n > 0 || x.empty()) continue;
    double mean = 0.0;
    for (double xi : x) mean += xi / x.size();
    if (std::fabs(s.GetMeanOfContVar(v) - mean) > 1e-9 * (1.0 + std::fabs(mean))) return false;
  }
  return true;
}

// The library's BIC of k clusters against -2 log-likelihood + k x parameters
// x ln(records) computed here, on data whose clusterings are known: with as
// many clusters as groups, each row is in the cluster it is assigned to (the
// clusters' statistics confirm it); fewer clusters join whole groups, and
// which ones is read off their statistics.
TEST(ClusterCount, BicOfGivenClusterings) {
  const struct {
    const char* name;
    VarKinds kinds;
    std::vector<int> sizes;
    double missing;
    double floorFraction;
  } cases[] = {
      {"continuous", {{0, 0}, 1.0}, {40, 70, 55, 30}, 0.0, 1e-4},
      {"continuous, scale 3, wide floor", {{0, 0, 0}, 3.0}, {60, 25, 45}, 0.0, 0.05},
      {"categorical", {{6, 7, 6, 8}, 1.0}, {80, 50, 65}, 0.0, 1e-4},
      {"categorical, unused categories", {{8, 9, 11}, 1.0}, {70, 90, 40, 60}, 0.08, 1e-4},
      {"mixed with missing values", {{0, 8, 0, 9}, 2.0}, {50, 75, 35, 60}, 0.06, 1e-4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Rows rows = Grouped(c.kinds, c.sizes, c.missing, 5);
    ClusterSettings settings;
    settings.SetVarianceFloor(c.floorFraction);
    const auto model = Fed(ListOf(c.kinds), rows, settings);
    const int groups = static_cast<int>(c.sizes.size());
    ASSERT_TRUE(model->Cluster(groups).IsOK());
    const std::vector<int> group = Assign(*model, rows);
    for (int g = 0; g < groups; ++g)
      ASSERT_TRUE(SameStatistics(*Results(*model)[g], c.kinds, rows,
                                 [&](std::size_t i) { return group[i] == g; }))
          << "group " << g;
    const double logN = std::log(static_cast<double>(rows.size()));
    for (int k = 1; k <= groups; ++k) {
      SCOPED_TRACE(::testing::Message() << k << " clusters");
      ASSERT_TRUE(model->Cluster(k).IsOK());
      std::vector<int> labels(rows.size(), -1);
      for (int cluster = 0; cluster < k; ++cluster) {
        int mask = 1;
        auto in = [&](std::size_t i) { return (mask >> group[i] & 1) != 0; };
        while (mask < 1 << groups && !SameStatistics(*Results(*model)[cluster], c.kinds, rows, in))
          ++mask;
        ASSERT_LT(mask, 1 << groups) << "cluster " << cluster << " is not a union of groups";
        for (std::size_t i = 0; i < rows.size(); ++i)
          if (in(i)) labels[i] = cluster;
      }
      const long double ll = LogLikelihood(c.kinds, c.floorFraction, rows, labels, k);
      const double penalty = k * Parameters(c.kinds) * logN;
      const double expected = static_cast<double>(-2.0L * ll) + penalty;
      EXPECT_NEAR(model->GetBIC(), expected,
                  1e-9 * (std::fabs(static_cast<double>(2.0L * ll)) + penalty));
    }
  }
}

// The count rule as documented: the count of least BIC between the bounds
// (ties to the smaller); then among the counts c from max(least, 2) up to it
// (and below the number of leaf entries) the ratio of the merge distance
// leaving c - 1 clusters to the one leaving c, each plus a slack of 1e-9 (1 +
// the last merge's distance); the largest ratio (ties to the smaller count)
// wins when it is at least the distance-ratio setting times the second
// largest, else the larger of their two counts. bic[c] is the BIC of c
// clusters; the merge distances follow from it, since the merge leaving c - 1
// clusters loses LL(c) - LL(c - 1) and LL(c) = (c P ln N - BIC(c)) / 2.
enum class Branch { kBicOnly, kLargestJump, kLargerOfTwo };

int ChooseCount(const std::vector<double>& bic, int least, int most, int entries, double perCluster,
                double distanceRatio, Branch& branch) {
  int byBic = least;
  for (int c = least + 1; c <= most; ++c)
    if (bic[c] < bic[byBic]) byBic = c;
  branch = Branch::kBicOnly;
  auto ll = [&](int c) { return (c * perCluster - bic[c]) / 2.0; };
  auto distance = [&](int c) { return ll(c) - ll(c - 1); };
  std::vector<std::pair<double, int>> ratios;
  if (entries >= 2) {
    const double slack = 1e-9 * (1.0 + std::fabs(distance(2)));
    for (int c = std::max(least, 2); c <= std::min(byBic, entries - 1); ++c)
      ratios.push_back({(distance(c) + slack) / (distance(c + 1) + slack), c});
  }
  if (ratios.empty()) return byBic;
  // Largest ratio first, equal ratios smaller count first.
  std::stable_sort(ratios.begin(), ratios.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  branch = Branch::kLargestJump;
  if (ratios.size() == 1 || ratios[0].first >= distanceRatio * ratios[1].first)
    return ratios[0].second;
  if (ratios[1].second > ratios[0].second) branch = Branch::kLargerOfTwo;
  return std::max(ratios[0].second, ratios[1].second);
}

// Clusters of random centres in a box (a smaller box: more overlap), sizes
// varying by cluster, plus categorical variables with a home category per
// cluster.
Rows RandomClusters(int k, int nCont, int nCat, double box, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<std::vector<double>> centres(k);
  for (auto& c : centres)
    for (int v = 0; v < nCont; ++v) c.push_back(box * u(rng));
  Rows rows;
  for (int j = 0; j < k; ++j)
    for (int i = 0, n = 40 + static_cast<int>(120 * u(rng)); i < n; ++i) {
      std::vector<double> row;
      for (int v = 0; v < nCont; ++v) row.push_back(centres[j][v] + noise(rng));
      for (int v = 0; v < nCat; ++v)
        row.push_back(1 + (u(rng) < 0.8 ? (j + v) % 4 : static_cast<int>(4 * u(rng))));
      rows.push_back(row);
    }
  std::shuffle(rows.begin(), rows.end(), rng);
  return rows;
}

// Over a seeded table of data sets, bounds and distance ratios, AutoCluster
// chooses what the rule above chooses from the BIC of every count; every
// branch of the rule is taken somewhere in the table.
TEST(ClusterCount, AutomaticCountFollowsTheRule) {
  const struct {
    int k, nCont, nCat;
    double box;
    int least, most, maxEntries;
    double ratio;
  } cases[] = {
      {3, 2, 0, 12, 1, 10, 1000, 1.15}, {4, 2, 0, 8, 1, 12, 1000, 1.15},
      {5, 3, 0, 6, 1, 15, 200, 1.15},   {6, 2, 0, 10, 2, 12, 120, 1.15},
      {3, 2, 2, 6, 1, 10, 200, 1.15},   {4, 0, 4, 0, 1, 10, 1000, 1.15},
      {2, 0, 3, 0, 1, 8, 1000, 1.0},    {5, 2, 1, 7, 1, 10, 150, 2.0},
      {4, 3, 0, 5, 3, 9, 100, 1.15},    {6, 2, 0, 6, 1, 14, 250, 5.0},
      {3, 1, 0, 4, 1, 6, 80, 1.15},     {7, 3, 2, 9, 2, 16, 300, 1.3},
      {1, 2, 1, 0, 1, 8, 200, 1.15},    {4, 2, 0, 9, 3, 3, 200, 1.15},
      {3, 2, 0, 6, 1, 1, 200, 1.15},    {5, 2, 0, 5, 1, 12, 60, 1.0},
      {4, 2, 1, 3, 1, 10, 150, 3.0},
  };
  int branches[3] = {0, 0, 0};
  unsigned seed = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << ": " << c.k << " clusters, " << c.nCont
                                      << "+" << c.nCat << " variables, box " << c.box << ", "
                                      << c.least << ".." << c.most << ", ratio " << c.ratio);
    const Rows rows = RandomClusters(c.k, c.nCont, c.nCat, c.box, seed++);
    VarKinds kinds;
    kinds.categories.assign(c.nCont, 0);
    kinds.categories.insert(kinds.categories.end(), c.nCat, 4);
    ClusterSettings settings = Limits(c.maxEntries);
    settings.SetDistanceRatio(c.ratio);
    const auto model = Fed(ListOf(kinds), rows, settings);
    const int entries = model->GetNumLeafEntries();
    const int most = std::min(c.most, entries);
    ASSERT_LE(c.least, most);
    const double perCluster = Parameters(kinds) * std::log(static_cast<double>(rows.size()));
    std::vector<double> bic(static_cast<std::size_t>(entries) + 1, 0.0);
    for (int count = std::max(1, c.least - 1); count <= most + 1 && count <= entries; ++count) {
      ASSERT_TRUE(model->Cluster(count).IsOK());
      bic[count] = model->GetBIC();
    }
    Branch branch;
    const int expected = ChooseCount(bic, c.least, most, entries, perCluster, c.ratio, branch);
    ++branches[static_cast<int>(branch)];
    ASSERT_TRUE(model->AutoCluster(c.least, c.most).IsOK());
    EXPECT_EQ(model->GetNumOfClusters(), expected);
    EXPECT_EQ(model->GetBIC(), bic[expected]);
  }
  for (int b = 0; b < 3; ++b) EXPECT_GT(branches[b], 0) << "branch " << b << " never taken";
}

// Records fed straight into the summary tree one by one: every rebuild raises
// the threshold and leaves fewer leaf entries than it found, aiming at a
// quarter to three quarters of the capacity (that many fit here, as the
// records are many and all distinct), and the tree never holds more entries
// than its capacity, whether entries or bytes bound it. One cluster of all
// the records keeps every record's values.
TEST(ClusterCount, RebuildsRaiseTheThresholdAndFreeRoom) {
  const struct {
    int nCont, nCat, branching;
    std::size_t budget;
    int maxEntries;
  } cases[] = {{2, 0, 8, 16 << 20, 40},
               {3, 2, 2, 16 << 20, 64},
               {1, 1, 4, 12000, 1000},
               {0, 3, 3, 16 << 20, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.nCont << "+" << c.nCat << " variables, branching " << c.branching);
    const ClusterVarList vars = MakeVars(c.nCont, c.nCat);
    const VXCluster::SummaryLayout layout(vars, 1e-4);
    const int capacity =
        VXCluster::CFTree::CapacityFor(c.budget, c.maxEntries, c.branching, layout.Width());
    ASSERT_GE(capacity, 4);
    ASSERT_LE(capacity, c.maxEntries);
    const int low = capacity / 4, high = capacity - std::max(1, capacity / 4);
    VXCluster::CFTree tree(layout, capacity, c.branching, 0.0);
    std::vector<double> one(layout.Width()), all(layout.Width(), 0.0);
    const Planted p = MakePlanted(4, 500, c.nCont, c.nCat, 3);
    int rebuilds = 0;
    for (const auto& row : p.rows) {
      const double threshold = tree.Threshold();
      const int entries = tree.NumEntries();
      ASSERT_TRUE(layout.FromRecord(VXCluster::Record(row), one.data()).IsOK());
      layout.Add(all.data(), one.data());
      tree.Insert(one.data());
      ASSERT_LE(tree.NumEntries(), capacity);
      if (tree.NumRebuilds() == rebuilds) {
        ASSERT_EQ(tree.Threshold(), threshold);
        continue;
      }
      SCOPED_TRACE(::testing::Message() << "rebuild " << tree.NumRebuilds());
      rebuilds = tree.NumRebuilds();
      // The first failure ends the test: a tree whose threshold went wrong
      // may take very long over the records left.
      ASSERT_GT(tree.Threshold(), threshold);
      ASSERT_LE(tree.NumEntries(), entries);
      // The new record may have opened one entry after the rebuild.
      ASSERT_GE(tree.NumEntries(), low);
      ASSERT_LE(tree.NumEntries(), high + 1);
    }
    EXPECT_GT(rebuilds, 1);
    std::vector<double> entries, total(layout.Width(), 0.0);
    tree.CollectEntries(entries);
    for (std::size_t e = 0; e < entries.size(); e += one.size())
      layout.Add(total.data(), &entries[e]);
    for (std::size_t i = 0; i < total.size(); ++i)
      EXPECT_NEAR(total[i], all[i], 1e-9 * (1.0 + std::fabs(all[i]))) << "slot " << i;
  }
}

}  // namespace
