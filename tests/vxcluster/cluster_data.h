// Record sources and planted-cluster data for the clustering tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "vxcluster/vxcluster.h"

using Rows = std::vector<std::vector<double>>;

// Reads rows in order; with failAfter >= 0 it reports an error (status 2)
// instead of the record after that many.
class RowSource : public VXCluster::RecordIterator {
 public:
  explicit RowSource(const std::vector<std::vector<double>>& rows, int failAfter = -1)
      : fRows(rows), fFailAfter(failAfter) {}
  bool IsGood() override { return fStatus == kGood; }
  VXCluster::Record* Next() override {
    if (fFailAfter >= 0 && fPos == static_cast<std::size_t>(fFailAfter)) fStatus = kError;
    if (fPos >= fRows.size() && fStatus == kGood) fStatus = kEndOfData;
    if (fStatus != kGood) return nullptr;
    // Copied into the one record, whose storage is kept: no allocation per
    // record once it has held the widest row.
    const std::vector<double>& row = fRows[fPos++];
    fRecord.Resize(static_cast<int>(row.size()));
    for (std::size_t v = 0; v < row.size(); ++v) fRecord[static_cast<int>(v)] = row[v];
    return &fRecord;
  }
  int GetStatus() override { return fStatus; }

 private:
  const std::vector<std::vector<double>>& fRows;
  int fFailAfter;
  std::size_t fPos = 0;
  int fStatus = kGood;
  VXCluster::Record fRecord;
};

// Rows drawn from k planted clusters, with the planted label of each row.
// Continuous variables: cluster j is centred at 10 * j on variable j mod nCont
// and 0 elsewhere, unit spread. Categorical variables (4 categories): cluster
// j takes category j mod 4 + 1 with probability 0.85, any other otherwise.
struct Planted {
  std::vector<std::vector<double>> rows;
  std::vector<int> labels;
};

inline Planted MakePlanted(int k, int perCluster, int nCont, int nCat, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::uniform_int_distribution<int> other(1, 3);
  Planted p;
  for (int i = 0; i < k * perCluster; ++i) {
    const int j = i % k;  // interleaved, as real data would arrive
    std::vector<double> row;
    for (int v = 0; v < nCont; ++v) row.push_back((v == j % nCont ? 10.0 * j : 0.0) + noise(rng));
    for (int v = 0; v < nCat; ++v) {
      const int home = (j + v) % 4;
      row.push_back(u(rng) < 0.85 ? home + 1 : (home + other(rng)) % 4 + 1);
    }
    p.rows.push_back(row);
    p.labels.push_back(j);
  }
  return p;
}

inline ClusterVarList MakeVars(int nCont, int nCat) {
  ClusterVarList vars(nCont + nCat);
  for (int v = 0; v < nCont; ++v) vars.AddContVar(0.0, 1.0);
  for (int v = 0; v < nCat; ++v) vars.AddCatVar(4, ClusterVar::kNumericCategorical);
  return vars;
}

// Adjusted Rand index of two labellings, from their contingency table.
inline double AdjustedRandIndex(const std::vector<int>& a, const std::vector<int>& b) {
  std::map<std::pair<int, int>, double> cells;
  std::map<int, double> rowsA, rowsB;
  for (std::size_t i = 0; i < a.size(); ++i) {
    cells[{a[i], b[i]}] += 1;
    rowsA[a[i]] += 1;
    rowsB[b[i]] += 1;
  }
  auto pairs = [](double n) { return n * (n - 1) / 2; };
  double index = 0, sumA = 0, sumB = 0;
  for (auto& c : cells) index += pairs(c.second);
  for (auto& c : rowsA) sumA += pairs(c.second);
  for (auto& c : rowsB) sumB += pairs(c.second);
  const double expected = sumA * sumB / pairs(static_cast<double>(a.size()));
  const double maximum = (sumA + sumB) / 2;
  return (index - expected) / (maximum - expected);
}

// A model of the list and settings that has pre-clustered rows.
inline std::unique_ptr<ClusterModel> Fed(ClusterVarList vars, const Rows& rows,
                                         const ClusterSettings& settings = ClusterSettings()) {
  auto model = std::make_unique<ClusterModel>(settings, vars);
  RowSource src(rows);
  EXPECT_TRUE(model->PreCluster(src).IsOK());
  return model;
}

// The cluster each row is assigned to.
inline std::vector<int> Assign(const ClusterModel& model, const Rows& rows) {
  std::vector<int> out;
  for (const auto& r : rows) out.push_back(model.AssignRecord(VXCluster::Record(r)));
  return out;
}

inline std::vector<ClusterStats*> Results(const ClusterModel& model) {
  return {model.BeginResultClusters(), model.EndResultClusters()};
}

// Settings with a summary tree of at most maxLeafEntries entries; branching
// factor and memory budget the defaults when 0.
inline ClusterSettings Limits(int maxLeafEntries, int branching = 0, std::size_t bytes = 0) {
  ClusterSettings s;
  s.SetMaxLeafEntries(maxLeafEntries);
  if (branching > 0) s.SetBranchingFactor(branching);
  if (bytes > 0) s.SetMemoryBudget(bytes);
  return s;
}
