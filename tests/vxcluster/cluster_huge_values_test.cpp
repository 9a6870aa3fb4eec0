// Records whose values lie anywhere in the range of double, up to the
// largest finite one: the summaries must keep every mean, spread, distance
// and BIC finite, and planted clusters must be found as they are on ordinary
// values (the log-likelihood distance does not change when every value and
// the variable's scale are multiplied by the same factor).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <tuple>

#include "cluster_data.h"
#include "vxcommon/VXMissing.h"

namespace {

// Rows of k planted clusters (two continuous variables, perhaps a categorical
// one) mapped by x -> offset + factor * x on the continuous values.
struct HugeCase {
  const char* name;
  int k, nCat;
  double offset, factor;
  double varScale;  // the scale each continuous variable is declared with: a
                    // spread far below it has no better fit than none at all
};

// Two clusters at the opposite ends of the range: their means differ by
// more than the largest double. Each value is its planted noise (the value
// less its cluster's centre, 10 on the second variable for the second
// cluster) scaled; folding the values instead would give the second cluster
// two modes, and a count that sees them.
Planted OppositeEnds(int perCluster) {
  Planted p = MakePlanted(2, perCluster, 2, 0, 5);
  for (std::size_t i = 0; i < p.rows.size(); ++i) {
    const double side = p.labels[i] == 0 ? -1.0 : 1.0;
    for (std::size_t v = 0; v < 2; ++v) {
      const double noise = p.rows[i][v] - (v == 1 && p.labels[i] == 1 ? 10.0 : 0.0);
      p.rows[i][v] = side * 0.95 * DBL_MAX + noise * 1e303;
    }
  }
  return p;
}

Planted Scaled(const HugeCase& c, int perCluster) {
  Planted p = MakePlanted(c.k, perCluster, 2, c.nCat, 17);
  for (auto& row : p.rows)
    for (int v = 0; v < 2; ++v) row[static_cast<std::size_t>(v)] = c.offset + c.factor * row[v];
  return p;
}

// Mean and population standard deviation of variable v over the rows with
// the given label, formed without overflow (each value divided before
// summing, deviations scaled).
void ExactMoments(const Planted& p, const std::vector<int>& labels, int label, int v, double& mean,
                  double& sd, int& n) {
  std::vector<long double> x;
  for (std::size_t i = 0; i < labels.size(); ++i)
    if (labels[i] == label) x.push_back(p.rows[i][v]);
  n = static_cast<int>(x.size());
  long double m = 0.0L, scale = 0.0L, ss = 0.0L;
  for (const long double xi : x) m += xi / n;
  for (const long double xi : x) scale = std::max(scale, std::fabs(xi - m));
  for (const long double xi : x) ss += scale > 0 ? ((xi - m) / scale) * ((xi - m) / scale) / n : 0;
  mean = static_cast<double>(m);
  sd = static_cast<double>(std::sqrt(ss) * scale);
}

TEST(HugeValues, SummariesStayFiniteAndPlantedClustersAreFound) {
  // Ordinary values are the other tests' business.
  const HugeCase cases[] = {{"near 1e300", 3, 1, 0.0, 1e298, 1e298},
                            {"negative near the largest", 4, 1, -0.8 * DBL_MAX, 1e306, 1e306},
                            {"spread across zero", 3, 0, -2e307, 3e306, 1e307},
                            {"opposite ends", 0, 0, 0.0, 0.0, 1e300}};
  for (const HugeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Planted p = c.k == 0 ? OppositeEnds(300) : Scaled(c, 300);
    const int k = c.k == 0 ? 2 : c.k;
    ClusterVarList vars(2 + c.nCat);
    for (int v = 0; v < 2; ++v) ASSERT_TRUE(vars.AddContVar(0.0, c.varScale).IsOK());
    for (int v = 0; v < c.nCat; ++v) vars.AddCatVar(4, ClusterVar::kNumericCategorical);
    // A small budget forces rebuilds, which merge entries of huge values too.
    const auto model = Fed(vars, p.rows, Limits(40));
    EXPECT_GT(model->GetNumRebuilds(), 0);
    EXPECT_TRUE(std::isfinite(model->GetThreshold()));

    // The automatic count, the planted count, and everything in one cluster
    // (which merges clusters far apart, beyond the largest double for
    // OppositeEnds).
    for (const int asked : {0, k, 1}) {
      SCOPED_TRACE(::testing::Message() << "clusters asked (0: automatic) " << asked);
      ASSERT_TRUE((asked == 0 ? model->AutoCluster(1, 10) : model->Cluster(asked)).IsOK());
      ASSERT_EQ(model->GetNumOfClusters(), asked == 1 ? 1 : k);
      EXPECT_TRUE(std::isfinite(model->GetBIC()));
      const std::vector<int> labels = Assign(*model, p.rows);
      EXPECT_GE(asked == 1 ? 1.0 : AdjustedRandIndex(p.labels, labels), 0.9);
      for (int cluster = 0; cluster < model->GetNumOfClusters(); ++cluster) {
        const ClusterStats& s = *Results(*model)[cluster];
        for (int v = 0; v < 2; ++v) {
          SCOPED_TRACE(::testing::Message() << "cluster " << cluster << " variable " << v);
          const double mean = s.GetMeanOfContVar(v), sd = s.GetStdDevOfContVar(v);
          const double var = s.GetVarianceOfContVar(v);
          ASSERT_TRUE(std::isfinite(mean) && std::isfinite(sd) && std::isfinite(var));
          EXPECT_GE(sd, 0.0);
          EXPECT_EQ(var, std::min(sd * sd, DBL_MAX));
          // The cluster's own records (those assigned back to it, as the
          // clusters are well apart) give the same mean and spread.
          double exactMean = 0.0, exactSd = 0.0;
          int n = 0;
          ExactMoments(p, labels, cluster, v, exactMean, exactSd, n);
          if (n != s.GetCaseCount()) continue;
          const double tol = 1e-9 * (std::fabs(exactMean) + exactSd) + 1e-12;
          EXPECT_NEAR(mean, exactMean, tol);
          EXPECT_NEAR(sd, exactSd, 1e-7 * exactSd + 1e-12);
        }
      }
    }
  }
}

// Three groups far apart on the first variable; within each, the second
// variable mixes magnitudes from 1e-300 to 1e306 of both signs and the
// missing value, so that merges join summaries of every size. Means and standard deviations of
// every cluster, of one cluster of all the records, and of the automatic clustering, against a
// plain two-pass computation in long double (whose range holds the squares).
TEST(HugeValues, MixedMagnitudesWithinClusters) {
  const double centres[] = {-1.2e307, 0.0, 1.5e307};
  const double magnitudes[] = {1e-300, 1e-5, 1.0, 3e150, 1e200, 1e306};
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Rows rows;
  std::vector<int> group;
  for (int i = 0; i < 600; ++i) {
    const int g = i % 3;
    const double m = magnitudes[static_cast<std::size_t>(i / 3 + i / 17) % 6];
    const double x = i % 29 == 0 ? VXMV::gMissingValue : m * u(rng);
    rows.push_back({centres[g] + 1e300 * u(rng), x});
    group.push_back(g);
  }
  ClusterVarList vars(2);
  // The second variable's scale keeps its spreads from deciding the
  // clusters: its floor (as a spread, a hundredth of the scale) is near the
  // spread of its largest values. With a floor far below it, the values near
  // 0 and the largest ones are two populations in each group.
  vars.AddContVar(0.0, 1e300);
  vars.AddContVar(0.0, 1e308);
  const auto model = Fed(vars, rows, Limits(30));
  EXPECT_GT(model->GetNumRebuilds(), 0);
  // Count, mean and standard deviation of variable v over the rows of group
  // g (every row for g < 0).
  auto exact = [&](int g, int v) {
    std::vector<long double> x;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if ((g < 0 || group[i] == g) && rows[i][v] != VXMV::gMissingValue) x.push_back(rows[i][v]);
    long double mean = 0.0L, ss = 0.0L;
    for (long double xi : x) mean += xi;
    mean /= x.size();
    for (long double xi : x) ss += (xi - mean) * (xi - mean);
    return std::make_tuple(static_cast<double>(x.size()), static_cast<double>(mean),
                           static_cast<double>(std::sqrt(ss / x.size())));
  };
  for (const int asked : {1, 3, 0}) {
    SCOPED_TRACE(::testing::Message() << "clusters asked (0: automatic) " << asked);
    ASSERT_TRUE((asked == 0 ? model->AutoCluster(1, 8) : model->Cluster(asked)).IsOK());
    EXPECT_TRUE(std::isfinite(model->GetBIC()));
    const int k = model->GetNumOfClusters();
    ASSERT_EQ(k, asked == 1 ? 1 : 3);
    for (int c = 0; c < k; ++c) {
      const ClusterStats& s = *Results(*model)[c];
      // The groups are equal in size: a cluster is named by its mean.
      const int g = k == 1                           ? -1
                    : s.GetMeanOfContVar(0) < -1e306 ? 0
                    : s.GetMeanOfContVar(0) < 1e306  ? 1
                                                     : 2;
      ASSERT_EQ(s.GetCaseCount(), k == 1 ? 600 : 200);
      for (int v = 0; v < 2; ++v) {
        SCOPED_TRACE(::testing::Message() << "cluster " << c << " variable " << v);
        const auto [n, mean, sd] = exact(g, v);
        EXPECT_EQ(s.GetValidCount(v), n);
        // Deviations from a mean far from zero carry its rounding: a few
        // units in the last place of the mean.
        const double tol = 1e-12 * sd + 1e-14 * std::fabs(mean);
        EXPECT_NEAR(s.GetMeanOfContVar(v), mean, tol);
        EXPECT_NEAR(s.GetStdDevOfContVar(v), sd, tol);
        EXPECT_EQ(s.GetVarianceOfContVar(v), std::min(sd * sd, DBL_MAX));
      }
    }
  }
}

// Every record the same: one cluster at that value, no spread; the largest
// finite values stay values, the missing value (lowest double) stays missing.
TEST(HugeValues, IdenticalExtremeRecords) {
  const struct {
    double value;
    double mean;  // VXMV missing value when none counts
    double count;
  } rows[] = {{DBL_MAX, DBL_MAX, 40}, {-0.5 * DBL_MAX, -0.5 * DBL_MAX, 40}, {-DBL_MAX, 0.0, 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value);
    const auto model = Fed(MakeVars(2, 0), Rows(40, {r.value, 1.0}));
    ASSERT_TRUE(model->AutoCluster(1, 5).IsOK());
    ASSERT_EQ(model->GetNumOfClusters(), 1);
    const ClusterStats& s = *Results(*model)[0];
    EXPECT_EQ(s.GetValidCount(0), r.count);
    EXPECT_TRUE(std::isfinite(model->GetBIC()));
    if (r.count > 0) {
      EXPECT_EQ(s.GetMeanOfContVar(0), r.mean);
      EXPECT_EQ(s.GetStdDevOfContVar(0), 0.0);
    }
  }
}

// Two groups of identical extreme records: too large for the mixture's
// fit, so the count falls back on the least hard BIC, which must find the
// two groups (one cluster leaves half the records far from its mean; more
// than two gain nothing for their penalty).
TEST(HugeValues, TwoExtremeGroupsFoundByTheHardBic) {
  auto rows = Rows(40, {DBL_MAX, 1.0});
  const auto other = Rows(30, {-0.5 * DBL_MAX, 1.0});
  rows.insert(rows.end(), other.begin(), other.end());
  const auto model = Fed(MakeVars(2, 0), rows);
  ASSERT_TRUE(model->AutoCluster(1, 5).IsOK());
  ASSERT_EQ(model->GetNumOfClusters(), 2);
  std::vector<double> counts;
  for (const ClusterStats* s : Results(*model)) counts.push_back(s->GetValidCount(0));
  std::sort(counts.begin(), counts.end());
  EXPECT_EQ(counts, (std::vector<double>{30, 40}));
  EXPECT_TRUE(std::isfinite(model->GetBIC()));
}

// The largest variance floor the settings allow on variables of the largest
// scale: the floor's square root must stay a number, or every distance is NaN
// and only an infinite threshold makes room in the tree.
TEST(HugeValues, LargestVarianceFloorAndScale) {
  ClusterVarList vars;
  for (int v = 0; v < 2; ++v) ASSERT_TRUE(vars.AddContVar(0.0, DBL_MAX).IsOK());
  ClusterSettings settings = Limits(8);
  settings.SetVarianceFloor(DBL_MAX);
  const auto model = Fed(vars, MakePlanted(3, 40, 2, 0, 7).rows, settings);
  EXPECT_TRUE(std::isfinite(model->GetThreshold()));
  ASSERT_TRUE(model->AutoCluster(1, 5).IsOK());
  EXPECT_TRUE(std::isfinite(model->GetBIC()));
}

}  // namespace
