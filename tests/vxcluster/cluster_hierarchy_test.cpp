#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "../../src/vxcluster/Hierarchy.h"
#include "vxcluster/vxcluster.h"

namespace {

using VXCluster::Hierarchy;
using VXCluster::SummaryLayout;

// Measures every pair of active clusters at every step and joins the least
// distance, ties to the lowest pair: what Build must reproduce exactly.
std::vector<Hierarchy::Merge> Reference(const SummaryLayout& layout, std::vector<double> cf) {
  const std::size_t w = static_cast<std::size_t>(layout.Width());
  const int m = static_cast<int>(cf.size() / w);
  std::vector<char> active(static_cast<std::size_t>(m), 1);
  std::vector<Hierarchy::Merge> merges;
  for (int left = m; left > 1; --left) {
    Hierarchy::Merge best{-1, -1, 0.0};
    for (int a = 0; a < m; ++a)
      for (int b = a + 1; b < m; ++b) {
        if (!active[static_cast<std::size_t>(a)] || !active[static_cast<std::size_t>(b)]) continue;
        const double d = layout.Distance(&cf[a * w], &cf[b * w]);
        if (best.fKept < 0 || d < best.fDistance) best = {a, b, d};
      }
    merges.push_back(best);
    layout.Add(&cf[static_cast<std::size_t>(best.fKept) * w],
               &cf[static_cast<std::size_t>(best.fGone) * w]);
    active[static_cast<std::size_t>(best.fGone)] = 0;
  }
  return merges;
}

struct Case {
  const char* name;
  int nCont, nCat;
  double spread;   // distance between the planted centres
  double missing;  // share of missing values
  bool grid;       // whole-number values: many equal distances
  double offset;   // added to continuous values (beyond 2^47: no quick bound)
};

TEST(Hierarchy, MergesAsMeasuringEveryPair) {
  const Case cases[] = {
      {"continuous", 5, 0, 6.0, 0.0, false, 0.0},
      {"many variables", 40, 0, 3.0, 0.0, false, 0.0},
      {"categorical fields", 20, 3, 4.0, 0.0, false, 0.0},
      {"missing values", 18, 2, 4.0, 0.15, false, 0.0},
      {"ties", 3, 1, 2.0, 0.0, true, 0.0},
      {"ties, many variables", 33, 0, 1.0, 0.0, true, 0.0},
      {"huge values", 4, 1, 1e3, 0.0, false, 1e15},
      {"only categorical", 0, 4, 0.0, 0.1, true, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClusterVarList vars(c.nCont + c.nCat);
    for (int v = 0; v < c.nCont; ++v) vars.AddContVar(0.0, 1.0);
    for (int v = 0; v < c.nCat; ++v) vars.AddCatVar(3, ClusterVar::kNumericCategorical);
    const SummaryLayout layout(vars, 1e-4);
    const std::size_t w = static_cast<std::size_t>(layout.Width());

    // Entries of one to three records around four planted centres, as the
    // summary tree would leave them.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int m = 48;
    std::vector<double> entries(static_cast<std::size_t>(m) * w), one(w);
    for (int e = 0; e < m; ++e) {
      const int records = 1 + e % 3, centre = (e * 7) % 4;
      for (int r = 0; r < records; ++r) {
        VXCluster::Record rec(c.nCont + c.nCat);
        for (int v = 0; v < c.nCont; ++v) {
          const double x = (v % 4 == centre ? c.spread : 0.0) + noise(rng);
          rec[v] = u(rng) < c.missing ? std::nan("") : c.offset + (c.grid ? std::round(x) : x);
        }
        for (int v = 0; v < c.nCat; ++v)
          rec[c.nCont + v] = u(rng) < c.missing ? -1.0 : (centre + v) % 3 + 1 + (u(rng) < 0.2);
        for (int v = 0; v < c.nCat; ++v)
          if (rec[c.nCont + v] > 3.0) rec[c.nCont + v] = 1.0;
        ASSERT_TRUE(layout.FromRecord(rec, one.data()).IsOK());
        double* into = &entries[static_cast<std::size_t>(e) * w];
        if (r == 0)
          std::copy(one.begin(), one.end(), into);
        else
          layout.Add(into, one.data());
      }
    }
    // Entries with two exact copies, so that whole distances tie.
    for (int e : {5, 17, 30})
      for (int copy : {e + 1, e + 2})
        std::copy(&entries[static_cast<std::size_t>(e) * w],
                  &entries[static_cast<std::size_t>(e) * w] + w,
                  &entries[static_cast<std::size_t>(copy) * w]);

    Hierarchy h;
    h.Build(layout, entries);
    const std::vector<Hierarchy::Merge> expected = Reference(layout, entries);
    ASSERT_EQ(h.Merges().size(), expected.size());
    for (std::size_t t = 0; t < expected.size(); ++t) {
      SCOPED_TRACE(t);
      EXPECT_EQ(h.Merges()[t].fKept, expected[t].fKept);
      EXPECT_EQ(h.Merges()[t].fGone, expected[t].fGone);
      EXPECT_EQ(h.Merges()[t].fDistance, expected[t].fDistance);
    }
  }
}

}  // namespace
