// Passes over records, scoring and the weight exchange allocate nothing.
#include <gtest/gtest.h>

#include <valarray>

#include "common/alloc_counter.h"
#include "network_fixtures.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using alloc_counter::Allocations;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

TEST(NoAllocation, InPassesScoringAndTheWeightExchange) {
  auto settings = MakeSettings(64, {10}, {32}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  auto mixedSettings = MakeSettings(8, {3, 1}, {6, 4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  NNetwork net(*settings), mixed(*mixedSettings);
  const auto records = MakeRecords(64, {10}, 200, 1), mixedRecords = MakeRecords(8, {3, 1}, 200, 2);
  VXRandom rng(1, true);
  std::valarray<double> w, g;
  // The counter sees the library's allocations.
  EXPECT_GE(Allocations([&] { net.GetWeights(w); }), 1);
  for (NNetwork* n : {&net, &mixed}) {
    n->RandomizeWeights(rng);
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

  // The least-useful-unit search allocates its table of errors once,
  // whatever the record count.
  auto source = VectorRecordIter::Borrow(records);
  int unit = 0;
  const long few = Allocations([&] { net.FindLeastUsefulHiddenUnit(status, source, 5, unit); });
  source.Rewind();
  const long many = Allocations([&] { net.FindLeastUsefulHiddenUnit(status, source, 200, unit); });
  EXPECT_EQ(few, many);
  EXPECT_LE(many, 1);
}

}  // namespace
