// Peak memory of the clustering library as the record count grows: generates
// N mixed records on the fly (nothing is stored), pre-clusters and
// auto-clusters them, and prints one line of figures. Run by
// cluster_memory.sh for several N; the peak resident set must not grow with N.
//
// usage: cluster_memory N [seed]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "vxcluster/vxcluster.h"

namespace {

// Four planted clusters over three continuous and two categorical variables
// (four categories each), drawn record by record into one reused record.
class Generator : public VXCluster::RecordIterator {
 public:
  Generator(long long n, unsigned seed) : fLeft(n), fRng(seed), fRecord(5) {}
  bool IsGood() override { return fLeft > 0; }
  VXCluster::Record* Next() override {
    if (fLeft <= 0) return nullptr;
    --fLeft;
    const int j = fPick(fRng);
    for (int v = 0; v < 3; ++v) fRecord[v] = (v == j % 3 ? 8.0 * (j + 1) : 0.0) + fNoise(fRng);
    for (int v = 0; v < 2; ++v)
      fRecord[3 + v] = fUnit(fRng) < 0.8 ? (j + v) % 4 + 1 : fCategory(fRng);
    return &fRecord;
  }
  int GetStatus() override { return fLeft > 0 ? kGood : kEndOfData; }

 private:
  long long fLeft;
  std::mt19937_64 fRng;
  std::uniform_int_distribution<int> fPick{0, 3};
  std::uniform_int_distribution<int> fCategory{1, 4};
  std::normal_distribution<double> fNoise{0.0, 1.0};
  std::uniform_real_distribution<double> fUnit{0.0, 1.0};
  VXCluster::Record fRecord;
};

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // KiB on Linux
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s N [seed]\n", argv[0]);
    return 2;
  }
  const long long n = std::atoll(argv[1]);
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;

  ClusterVarList vars(5);
  for (int v = 0; v < 3; ++v) vars.AddContVar(0.0, 1.0);
  for (int v = 0; v < 2; ++v) vars.AddCatVar(4, ClusterVar::kNumericCategorical);
  ClusterModel model(ClusterSettings(), vars);
  Generator source(n, seed);

  const auto start = std::chrono::steady_clock::now();
  VXCommon_1_2::VXStatus status = model.PreCluster(source);
  const auto mid = std::chrono::steady_clock::now();
  if (!status.IsError()) status = model.AutoCluster(1, 15);
  const auto end = std::chrono::steady_clock::now();
  if (status.IsError()) {
    std::fprintf(stderr, "clustering failed: code %d\n", status.GetErrorCode());
    return 1;
  }
  const auto seconds = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  std::printf(
      "N=%lld entries=%d rebuilds=%d clusters=%d precluster_s=%.3f autocluster_s=%.3f "
      "peak_rss_kib=%ld\n",
      n, model.GetNumLeafEntries(), model.GetNumRebuilds(), model.GetNumOfClusters(),
      seconds(start, mid), seconds(mid, end), PeakRssKiB());
  return 0;
}
