// Passes over records allocate nothing per record. The global operator new
// of this test program is replaced by one that counts while asked to; the
// library's own allocations go through it as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <valarray>

#include "network_fixtures.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {
std::atomic<long> gAllocations{0};
std::atomic<bool> gCounting{false};
}  // namespace

void* operator new(std::size_t n) {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace network_fixtures;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// Allocations made while f runs.
template <typename F>
long Allocations(F&& f) {
  gAllocations = 0;
  gCounting = true;
  f();
  gCounting = false;
  return gAllocations.load();
}

class NoAllocation : public ::testing::Test {
 protected:
  NoAllocation()
      : settings(MakeSettings(64, {10}, {32}, VXNNCommon::kTanH, VXNNCommon::kSoftMax)),
        mixedSettings(MakeSettings(8, {3, 1}, {6, 4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity)),
        net(*settings),
        mixed(*mixedSettings),
        records(MakeRecords(64, {10}, 200, 1)),
        mixedRecords(MakeRecords(8, {3, 1}, 200, 2)) {
    VXRandom rng(1, true);
    net.RandomizeWeights(rng);
    mixed.RandomizeWeights(rng);
  }
  std::unique_ptr<MLPSettings> settings, mixedSettings;
  NNetwork net, mixed;
  std::vector<VXCommon_1_2::Record> records, mixedRecords;
};

TEST_F(NoAllocation, TheCounterSeesLibraryAllocations) {
  std::valarray<double> w;
  EXPECT_GE(Allocations([&] { net.GetWeights(w); }), 1);
}

TEST_F(NoAllocation, ProcessRecordsPass) {
  for (NNetwork* n : {&net, &mixed}) {
    auto source = VectorRecordIter::Borrow(n == &net ? records : mixedRecords);
    VXStatus status;
    int processed = 0;
    n->SetComputeAverages(true);
    n->SetComputeErrorAverages(true);
    EXPECT_EQ(Allocations([&] {
                n->ResetDerivatives();
                n->ProcessRecords(status, source, 1 << 30, processed, false, true);
                source.Rewind();
                n->ProcessRecords(status, source, 1 << 30, processed, true, false);
              }),
              0);
    EXPECT_EQ(processed, 200);
  }
}

TEST_F(NoAllocation, ScoringAndGradientExchange) {
  std::valarray<double> w, g;
  net.GetWeights(w);
  net.GetGradient(g);
  std::vector<double> out(10);
  VXStatus status;
  EXPECT_EQ(Allocations([&] {
              for (const auto& r : records) net.Score(status, r.GetAll(), out.data());
              net.SetWeights(w);
              net.GetWeights(w);
              net.GetGradient(g);
              net.SetGradient(g);
              net.GradientNorm();
            }),
            0);
}

// The search allocates its table of errors once, whatever the record count.
TEST_F(NoAllocation, LeastUsefulUnitSearchAllocatesOncePerCall) {
  auto source = VectorRecordIter::Borrow(records);
  VXStatus status;
  int unit = 0;
  const long few = Allocations([&] { net.FindLeastUsefulHiddenUnit(status, source, 5, unit); });
  source.Rewind();
  const long many = Allocations([&] { net.FindLeastUsefulHiddenUnit(status, source, 200, unit); });
  EXPECT_EQ(few, many);
  EXPECT_LE(many, 1);
}

}  // namespace
