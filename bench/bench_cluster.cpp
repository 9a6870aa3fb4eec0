// Centre placement of an RBF network on 8 x 8 "pixel" records: pre-clustering
// and the bottom-up merging of the summary's leaf entries, which measures
// the log-likelihood distance of nearly every pair of entries. The records
// are made like bench/peers/defaults.py makes its pixel data (blobs per
// class, shifted by up to a pixel, noised, whole numbers 0..16), scaled to
// 0..1, with the class as a ten-category variable, as the RBF driver
// clusters inputs and target together.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "vxcluster/vxcluster.h"

namespace {

constexpr int kSide = 8, kClasses = 10;

std::vector<std::vector<double>> PixelRecords(int n) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> where(0.0, kSide - 1);
  std::uniform_int_distribution<int> cls(0, kClasses - 1), shift(-1, 1);
  std::normal_distribution<double> noise(0.0, 3.0);
  std::vector<std::vector<double>> patterns(kClasses, std::vector<double>(kSide * kSide, 0.0));
  for (std::vector<double>& p : patterns) {
    for (int blob = 0; blob < 3; ++blob) {
      const double cy = where(rng), cx = where(rng);
      for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
          p[y * kSide + x] +=
              std::exp(-((y - cy) * (y - cy) + (x - cx) * (x - cx)) / (2 * 1.3 * 1.3));
    }
    const double top = *std::max_element(p.begin(), p.end());
    for (double& v : p) v *= 16.0 / top;
  }
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < n; ++i) {
    const int c = cls(rng), dy = shift(rng), dx = shift(rng);
    std::vector<double> row;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const double v = patterns[c][((y - dy + kSide) % kSide) * kSide + (x - dx + kSide) % kSide];
        row.push_back(std::clamp(std::round(v + noise(rng)), 0.0, 16.0) / 16.0);
      }
    row.push_back(c + 1);
    rows.push_back(row);
  }
  return rows;
}

class Rows : public VXCluster::RecordIterator {
 public:
  explicit Rows(const std::vector<std::vector<double>>& rows) : fRows(rows) {}
  bool IsGood() override { return true; }
  VXCluster::Record* Next() override {
    if (fPos >= fRows.size()) return nullptr;
    fRecord = VXCluster::Record(fRows[fPos++]);
    return &fRecord;
  }
  int GetStatus() override { return fPos < fRows.size() ? kGood : kEndOfData; }

 private:
  const std::vector<std::vector<double>>& fRows;
  std::size_t fPos = 0;
  VXCluster::Record fRecord;
};

// Pre-clustering and automatic clustering between 1 and 2 x (64 + 10)
// clusters, as `vxnn train --network rbf` asks for them.
void BM_PixelCentrePlacement(benchmark::State& state) {
  const std::vector<std::vector<double>> rows = PixelRecords(static_cast<int>(state.range(0)));
  ClusterVarList vars(kSide * kSide + 1);
  for (int v = 0; v < kSide * kSide; ++v) vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(kClasses, ClusterVar::kNumericCategorical);
  int entries = 0, clusters = 0;
  for (auto _ : state) {
    ClusterModel model(ClusterSettings(), vars);
    Rows source(rows);
    if (model.PreCluster(source).IsError() ||
        model.AutoCluster(1, 2 * (kSide * kSide + kClasses)).IsError()) {
      state.SkipWithError("clustering failed");
      break;
    }
    entries = model.GetNumLeafEntries();
    clusters = model.GetNumOfClusters();
  }
  state.counters["entries"] = entries;
  state.counters["clusters"] = clusters;
}
BENCHMARK(BM_PixelCentrePlacement)->Arg(2100)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
