// The counting operator delete frees with free() what its operator new took
// with malloc(); the compiler cannot see the pairing and warns.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <gtest/gtest.h>

#include <random>

#include "common/alloc_counter.h"
#include "vxcluster/vxcluster.h"

namespace {

// Records drawn into one reused record, so that the source allocates nothing.
class Drawn : public VXCluster::RecordIterator {
 public:
  explicit Drawn(int n) : fLeft(n), fRecord(3) {}
  bool IsGood() override { return fLeft > 0; }
  VXCluster::Record* Next() override {
    if (fLeft-- <= 0) return nullptr;
    fRecord[0] = fNoise(fRng);
    fRecord[1] = fNoise(fRng) + (fLeft % 2) * 9;
    fRecord[2] = fLeft % 3 + 1;
    return &fRecord;
  }
  int GetStatus() override { return fLeft > 0 ? kGood : kEndOfData; }

 private:
  int fLeft;
  std::mt19937 fRng{1};
  std::normal_distribution<double> fNoise{0.0, 1.0};
  VXCluster::Record fRecord;
};

// Pre-clustering forty thousand records, rebuilding the tree many times over,
// allocates no more than a first pass over a few hundred: nothing per record.
TEST(ClusterModel, PreClusterAllocatesNothingPerRecord) {
  ClusterVarList vars(3);
  vars.AddContVar(0.0, 1.0);
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(3, ClusterVar::kNumericCategorical);
  ClusterSettings settings;
  settings.SetMaxLeafEntries(64);
  ClusterModel model(settings, vars);
  long counts[2];
  int rebuilds[2];
  const int sizes[2] = {300, 40000};
  for (int i = 0; i < 2; ++i) {
    Drawn source(sizes[i]);
    counts[i] = alloc_counter::Allocations([&] { ASSERT_TRUE(model.PreCluster(source).IsOK()); });
    rebuilds[i] = model.GetNumRebuilds();
  }
  EXPECT_GT(rebuilds[1], rebuilds[0]);
  EXPECT_LE(counts[1], counts[0]);
  EXPECT_LT(counts[0], 50);
}

}  // namespace
