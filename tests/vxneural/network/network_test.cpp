// NNetwork: errors, accuracy, and adding and removing hidden units.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "mlp_reference.h"
#include "network_fixtures.h"
#include "vxcommon/Callbacks.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

std::unique_ptr<MLPSettings> NoHidden(int inputs, std::vector<int> categories,
                                      VXNNCommon::ActivationFunction out) {
  return MakeSettings(inputs, categories, {}, VXNNCommon::kTanH, out);
}

// A network without hidden layers whose output unit k copies input k, so a
// record's outputs are its inputs.
std::unique_ptr<NNetwork> CopyNetwork(MLPSettings& settings) {
  auto net = std::make_unique<NNetwork>(settings);
  const int n = net->GetNumInputs();
  std::valarray<double> w(0.0, static_cast<std::size_t>(net->GetNumWeights()));
  for (int k = 0; k < net->GetNumOutputs(); ++k)
    w[static_cast<std::size_t>(k * (n + 1) + k + 1)] = 1.0;
  net->SetWeights(w);
  return net;
}

// One pass with the error accumulated; returns the records processed.
int Pass(NNetwork& net, const std::vector<Record>& records, bool accuracy, int max = 1 << 30) {
  auto source = VectorRecordIter::Borrow(records);
  VXStatus status(7, true);
  int n = -1;
  net.ProcessRecords(status, source, max, n, true, accuracy);
  EXPECT_EQ(status, VXStatus());
  return n;
}

TEST(NetworkError, SumOfSquaresAndMixedAccuracy) {
  auto settings = NoHidden(3, {2, 1}, VXNNCommon::kIdentity);
  auto net = CopyNetwork(*settings);
  const std::vector<Record> records = {
      Record({0.9, 0.1, 0.5, 1, 0, 0.7}),  // categorical hit, continuous off by 0.2
      Record({0.3, 0.3, 0.0, 0, 1, 0.2}),  // tie: the first unit is predicted, a miss
      Record({0.2, 0.8, 1.0, 0, 0, 1.0}),  // no true category: never a hit
      Record(std::vector<double>{1.0}),    // too short: skipped
  };
  net->ResetDerivatives();
  EXPECT_EQ(Pass(*net, records, true), 3);
  EXPECT_NEAR(net->GetAccumError(), 0.03 + 0.31 + 0.34, 1e-15);
  VXStatus status;
  net->ProcessRecord(status, records[0]);
  EXPECT_TRUE(status.IsOK());
  EXPECT_NEAR(net->GetAccumError(), 0.03 + 0.31 + 0.34 + 0.03, 1e-15);
  // Categorical 1 hit of 3, weighted 1/2; continuous 1 - (0.4 / 3) / (1.0 - 0.2), weighted 1/2.
  const double accuracy = 1.0 / 6.0 + (1.0 - (0.4 / 3.0) / 0.8) / 2.0;
  EXPECT_NEAR(net->GetAccuracy(), accuracy, 1e-15);
  // No record read: the accuracy of the previous pass stays.
  EXPECT_EQ(Pass(*net, records, true, 0), 0);
  EXPECT_NEAR(net->GetAccuracy(), accuracy, 1e-15);
  net->ResetDerivatives();
  EXPECT_EQ(net->GetAccuracy(), 0.0);
  EXPECT_EQ(net->GetAccumError(), 0.0);

  // A continuous target whose range is one value counts only exact hits.
  auto one = NoHidden(1, {1}, VXNNCommon::kIdentity);
  auto copy = CopyNetwork(*one);
  Pass(*copy, {Record({0.5, 0.5}), Record({0.5, 0.5})}, true);
  EXPECT_EQ(copy->GetAccuracy(), 1.0);
  copy->ResetDerivatives();
  Pass(*copy, {Record({0.4, 0.5})}, true);
  EXPECT_EQ(copy->GetAccuracy(), 0.0);
}

TEST(NetworkArchitecture, AddingThenRemovingAHiddenUnitRestoresTheNetwork) {
  auto settings = MakeSettings(3, {2}, {2}, VXNNCommon::kSigmoid, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  VXRandom rng(21, true);
  net.RandomizeWeights(rng);
  const std::valarray<double> before = WeightsOf(net);
  net.SetAccumError(5.0);
  EXPECT_EQ(net.AddHiddenUnit(rng), 3);
  EXPECT_EQ(net.GetNumWeights(), 3 * 4 + 2 * 4);
  EXPECT_EQ(net.GetAccumError(), 0.0);
  EXPECT_EQ(WeightsOf(net)[7], before[7]);  // the first two hidden rows stay in front
  EXPECT_EQ(net.RemoveHiddenUnit(2), 2);
  EXPECT_EQ(net.RemoveHiddenUnit(2), 2);  // out of range
  const std::valarray<double> after = WeightsOf(net);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(std::abs(after - before).max(), 0.0);

  auto twoLayers = MakeSettings(3, {2}, {2, 2}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork deep(*twoLayers);
  EXPECT_EQ(deep.AddHiddenUnit(rng), 0);
  EXPECT_EQ(deep.RemoveHiddenUnit(0), 0);
}

}  // namespace
