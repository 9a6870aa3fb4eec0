// The numbers behind the automatic cluster count, each worked out here by a
// second, plain implementation of what the model header documents: the BIC of
// given clusterings from the records themselves, the mixture fit from the
// records, the count found on planted data, and the summary tree's threshold
// through its rebuilds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "../../src/vxcluster/CFTree.h"
#include "../../src/vxcluster/Mixture.h"
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

// The library's BIC of k clusters against -2 (log-likelihood + sum over the
// clusters of n ln(n / records)) + (k x parameters + k - 1) x ln(records)
// computed here, on data whose clusterings are known: with as
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
      long double ll = LogLikelihood(c.kinds, c.floorFraction, rows, labels, k);
      for (int cluster = 0; cluster < k; ++cluster) {
        const long double n = std::count(labels.begin(), labels.end(), cluster);
        ll += n * std::log(n / rows.size());
      }
      const double penalty = (k * Parameters(c.kinds) + k - 1) * logN;
      const double expected = static_cast<double>(-2.0L * ll) + penalty;
      EXPECT_NEAR(model->GetBIC(), expected,
                  1e-9 * (std::fabs(static_cast<double>(2.0L * ll)) + penalty));
    }
  }
}

// A second, plain implementation of the mixture fit: the rows come in groups
// (a leaf entry's records; the rows of other groups take no part), a group's
// rows share one component, and each
// step computes every parameter from the rows themselves. Starting from the
// groups' labels, steps + 1 rounds of "parameters from the shares, then new
// shares", each component's probability of a group being the product of its
// share per row and its Gaussian (variance plus the floor) or category share
// per value; the log-likelihood of the last round, the full Gaussian density
// included.
long double PlainMixture(const VarKinds& kinds, double floorFraction, const Rows& rows,
                         const std::vector<std::vector<int>>& groups,
                         const std::vector<int>& labels, int c, int steps) {
  const std::size_t g = groups.size(), nv = kinds.categories.size();
  const long double floor = floorFraction * kinds.scale * kinds.scale;
  std::vector<std::vector<long double>> r(g, std::vector<long double>(c, 0.0L));
  long double records = 0.0L;
  for (std::size_t i = 0; i < g; ++i) {
    r[i][labels[i]] = 1.0L;
    records += groups[i].size();
  }
  long double ll = 0.0L;
  for (int step = 0; step <= steps; ++step) {
    std::vector<long double> logShare(c);
    std::vector<std::vector<long double>> mean(c, std::vector<long double>(nv)),
        var(c, std::vector<long double>(nv));
    std::vector<std::vector<std::vector<long double>>> p(c,
                                                         std::vector<std::vector<long double>>(nv));
    for (int j = 0; j < c; ++j) {
      long double n = 0.0L;
      for (std::size_t i = 0; i < g; ++i) n += r[i][j] * groups[i].size();
      logShare[j] = std::log(n / records);
      for (std::size_t v = 0; v < nv; ++v) {
        const int cats = kinds.categories[v];
        long double count = 0.0L, sum = 0.0L;
        std::vector<long double> in(cats + 1, 0.0L);
        for (std::size_t i = 0; i < g; ++i)
          for (int row : groups[i]) {
            const double x = rows[row][v];
            if (!HasValue(x, cats == 0)) continue;
            count += r[i][j];
            sum += r[i][j] * x;
            if (cats > 0) in[static_cast<int>(x)] += r[i][j];
          }
        mean[j][v] = sum / count;
        long double ss = 0.0L;
        for (std::size_t i = 0; i < g; ++i)
          for (int row : groups[i])
            if (HasValue(rows[row][v], cats == 0))
              ss += r[i][j] * (rows[row][v] - mean[j][v]) * (rows[row][v] - mean[j][v]);
        var[j][v] = ss / count + floor;
        for (int k = 1; k <= cats; ++k) p[j][v].push_back(in[k] / count);
      }
    }
    ll = 0.0L;
    for (std::size_t i = 0; i < g; ++i) {
      std::vector<long double> l(c);
      for (int j = 0; j < c; ++j) {
        l[j] = groups[i].size() * logShare[j];
        for (int row : groups[i])
          for (std::size_t v = 0; v < nv; ++v) {
            const double x = rows[row][v];
            const int cats = kinds.categories[v];
            if (!HasValue(x, cats == 0)) continue;
            if (cats > 0) {
              l[j] += std::log(std::max(p[j][v][static_cast<int>(x) - 1], 1e-300L));
            } else {
              const long double d = x - mean[j][v];
              l[j] -=
                  0.5L * (std::log(2.0L * 3.14159265358979323846L * var[j][v]) + d * d / var[j][v]);
            }
          }
      }
      long double total = 0.0L;
      for (int j = 0; j < c; ++j) total += std::exp(l[j] - l[0]);
      ll += l[0] + std::log(total);
      for (int j = 0; j < c; ++j) r[i][j] = std::exp(l[j] - l[0]) / total;
    }
  }
  return ll;
}

// The mixture fit against the plain one, on overlapping groups of rows
// summarised in entries of one to three rows, with missing values and from
// right and wrong starts, over all entries or some. Both count some terms that depend only on the
// data differently, so fits are compared by how far they are above the fit of one component.
TEST(ClusterCount, MixtureFitAsComputedFromTheRows) {
  const struct {
    const char* name;
    VarKinds kinds;
    std::vector<int> sizes;
    double missing;
    int perEntry, c, steps;
    bool wrongStart;  // every entry starts in component (its number mod c)
    int stride;       // the fit takes every stride-th entry
  } cases[] = {
      {"continuous, one step", {{0, 0}, 1.0}, {30, 25, 20}, 0.0, 1, 3, 0, false, 1},
      {"continuous, several steps", {{0, 0}, 1.0}, {30, 25, 20}, 0.0, 1, 3, 4, false, 1},
      {"continuous, scale 40, wrong start", {{0, 0, 0}, 40.0}, {25, 30}, 0.0, 2, 2, 3, true, 1},
      {"categorical, entries of two", {{6, 7, 6}, 1.0}, {30, 24, 20}, 0.0, 2, 3, 2, false, 1},
      {"mixed, missing values", {{0, 6, 0}, 2.0}, {28, 22, 26}, 0.1, 3, 3, 3, false, 1},
      {"mixed, more components than groups", {{0, 5}, 1.0}, {30, 30}, 0.05, 1, 4, 2, true, 1},
      {"every third entry", {{0, 6, 0}, 1.0}, {40, 35, 45}, 0.05, 1, 3, 2, false, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The groups' continuous values drawn again, 1.5 standard deviations
    // apart, so that they overlap.
    Rows rows = Grouped(c.kinds, c.sizes, c.missing, 11);
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int> planted;
    for (std::size_t i = 0, row = 0; i < c.sizes.size(); ++i)
      for (int k = 0; k < c.sizes[i]; ++k, ++row, planted.push_back(static_cast<int>(i)))
        for (std::size_t v = 0; v < c.kinds.categories.size(); ++v)
          if (c.kinds.categories[v] == 0 && HasValue(rows[row][v], true))
            rows[row][v] = c.kinds.scale * (1.5 * i + noise(rng));
    const ClusterVarList vars = ListOf(c.kinds);
    const double floorFraction = 1e-4;
    const VXCluster::SummaryLayout layout(vars, floorFraction);
    const std::size_t w = static_cast<std::size_t>(layout.Width());
    std::vector<double> entries, one(w);
    std::vector<std::vector<int>> groups;
    std::vector<int> members, start, single;
    for (std::size_t row = 0, g = 0; row < rows.size(); ++g) {
      std::vector<int> group;
      entries.insert(entries.end(), w, 0.0);
      for (int k = 0; k < c.perEntry && row < rows.size(); ++k, ++row) {
        ASSERT_TRUE(layout.FromRecord(VXCluster::Record(rows[row]), one.data()).IsOK());
        layout.Add(&entries[g * w], one.data());
        group.push_back(static_cast<int>(row));
      }
      if (g % c.stride != 0) continue;
      members.push_back(static_cast<int>(g));
      start.push_back(c.wrongStart ? static_cast<int>(g) % c.c
                                   : planted[static_cast<std::size_t>(group[0])] % c.c);
      single.push_back(0);
      groups.push_back(group);
    }
    VXCluster::MixtureFit fit(layout, entries);
    const double base = fit.Fit(members, single, 1, 0);
    const double got = fit.Fit(members, start, c.c, c.steps) - base;
    const long double plainBase = PlainMixture(c.kinds, floorFraction, rows, groups, single, 1, 0);
    const long double plain =
        PlainMixture(c.kinds, floorFraction, rows, groups, start, c.c, c.steps) - plainBase;
    EXPECT_GT(plain, 1.0L) << "the components must fit better than one";
    // The fit stops once a step gains less than 0.01: a few such steps apart.
    EXPECT_NEAR(got, static_cast<double>(plain), 1e-7 * std::fabs(base) + 0.05);
  }
}

// Planted data whose count is known: AutoCluster(1, 15) finds it, and the
// clusters agree with the planted ones to the given adjusted Rand index.
// Single populations: one Gaussian blob with unequal spreads, one
// categorical population with a main category per variable. Unequal sizes:
// a large, a medium and a small cluster, the small one nearer the medium than
// the halves of the large one are to each other in merge cost.
TEST(ClusterCount, AutomaticCountOnPlantedData) {
  enum Kind { kBlob, kCategories, kUnequal, kSeparated, kOverlapping };
  const struct {
    const char* name;
    Kind kind;
    int k, perCluster, nCont, nCat;
    unsigned seed;
    double leastRand;
  } cases[] = {
      {"one Gaussian blob", kBlob, 1, 800, 3, 0, 1, 1.0},
      {"one Gaussian blob, other seed", kBlob, 1, 500, 2, 0, 2, 1.0},
      {"one categorical population", kCategories, 1, 600, 0, 6, 3, 1.0},
      {"one mixed population", kCategories, 1, 500, 2, 4, 4, 1.0},
      {"unequal 800/120/20", kUnequal, 3, 0, 3, 0, 5, 0.99},
      {"unequal 800/120/20, other seed", kUnequal, 3, 0, 3, 0, 6, 0.99},
      {"2 separated", kSeparated, 2, 120, 2, 0, 7, 1.0},
      {"5 separated, mixed", kSeparated, 5, 100, 3, 2, 8, 0.99},
      {"9 separated", kSeparated, 9, 80, 3, 0, 9, 1.0},
      {"4 categorical", kSeparated, 4, 150, 0, 5, 10, 0.9},
      {"3 overlapping", kOverlapping, 3, 300, 2, 0, 11, 0.6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(c.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Rows rows;
    std::vector<int> planted;
    auto gaussian = [&](int label, int n, const std::vector<double>& centre,
                        const std::vector<double>& spread) {
      for (int i = 0; i < n; ++i) {
        std::vector<double> row;
        for (std::size_t v = 0; v < centre.size(); ++v)
          row.push_back(centre[v] + spread[v] * noise(rng));
        rows.push_back(row);
        planted.push_back(label);
      }
    };
    switch (c.kind) {
      case kBlob:
        gaussian(0, c.perCluster, std::vector<double>(c.nCont, 3.0), {0.5, 2.0, 1.0});
        break;
      case kCategories:
        for (int i = 0; i < c.perCluster; ++i) {
          std::vector<double> row;
          for (int v = 0; v < c.nCont; ++v) row.push_back(2.0 * noise(rng));
          for (int v = 0; v < c.nCat; ++v)
            row.push_back(u(rng) < 0.7 ? v % 4 + 1 : 1 + static_cast<int>(4 * u(rng)));
          rows.push_back(row);
          planted.push_back(0);
        }
        break;
      case kUnequal:
        gaussian(0, 800, {0.0, 0.0, 0.0}, {1.2, 0.8, 1.0});
        gaussian(1, 120, {12.0, 0.0, 0.0}, {0.9, 1.1, 0.7});
        gaussian(2, 20, {12.0, 8.0, 0.0}, {0.8, 0.9, 1.2});
        break;
      case kSeparated: {
        const Planted p = MakePlanted(c.k, c.perCluster, c.nCont, c.nCat, c.seed);
        rows = p.rows;
        planted = p.labels;
        break;
      }
      case kOverlapping:
        for (int j = 0; j < c.k; ++j) {
          const double angle = 2.0 * 3.14159265358979 * j / c.k;
          gaussian(j, c.perCluster, {2.0 * std::cos(angle), 2.0 * std::sin(angle)}, {0.9, 0.9});
        }
        break;
    }
    // Records arrive in no planted order.
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    Rows shuffled;
    std::vector<int> labels;
    for (std::size_t i : order) {
      shuffled.push_back(rows[i]);
      labels.push_back(planted[i]);
    }
    const auto model = Fed(MakeVars(c.nCont, c.nCat), shuffled);
    ASSERT_TRUE(model->AutoCluster(1, 15).IsOK());
    EXPECT_EQ(model->GetNumOfClusters(), c.k);
    // One planted cluster has no adjusted Rand index (0 / 0): the count says
    // it all.
    if (c.k > 1) {
      EXPECT_GE(AdjustedRandIndex(labels, Assign(*model, shuffled)), c.leastRand);
    }
  }
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
