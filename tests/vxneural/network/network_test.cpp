// NNetwork: construction from settings, the flat weight layout, errors,
// accuracy, averages, passes and cancellation, scoring, architecture search.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mlp_reference.h"
#include "network_fixtures.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// Settings that carry an output activation the setters would refuse.
class ForcedSettings : public MLPSettings {
 public:
  using MLPSettings::MLPSettings;
  void ForceOutput(VXNNCommon::ActivationFunction f) { fActivFnOutput = f; }
};

// Answers yes from its n-th query on, and counts the queries.
class CancelAfter : public VXCommon_1_2::VXQueryCancel {
 public:
  explicit CancelAfter(int n) : fN(n) {}
  bool QueryCancel() override { return ++fQueries >= fN; }
  int fN;
  int fQueries = 0;
};

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

std::unique_ptr<MLPSettings> NoHidden(int inputs, std::vector<int> categories,
                                      VXNNCommon::ActivationFunction out) {
  return MakeSettings(inputs, categories, {}, VXNNCommon::kTanH, out);
}

int Pass(NNetwork& net, VectorRecordIter& source, bool accuracy, int max = 1 << 30) {
  source.Rewind();
  VXStatus status(7, true);
  int n = -1;
  net.ProcessRecords(status, source, max, n, true, accuracy);
  EXPECT_TRUE(status.IsOK());
  EXPECT_EQ(status.GetErrorCode(), 0);
  return n;
}

TEST(NetworkConstruction, FollowsTheSettings) {
  MLPSettings settings(10, {3}, 1000);
  NNetwork net(settings);
  EXPECT_EQ(net.GetNumLayers(), 2);
  EXPECT_EQ(net.GetNumInputs(), 10);
  EXPECT_EQ(net.GetNumOutputs(), 3);
  EXPECT_EQ(net.GetNumOutputVariables(), 1);
  EXPECT_EQ(net.GetAlgorithmType(), VXNNCommon::kMLP);
  EXPECT_EQ(net.GetOutputType(), VXNNCommon::kCategoricalOutput);
  EXPECT_EQ(net.GetErrorFunction(), VXNNCommon::kCrossEntropy);
  EXPECT_EQ(net.GetNumWeights(), 115);
  EXPECT_EQ(net.GetNumWeights(), settings.GetNWeights());
  EXPECT_EQ(net.GetSettings(), &settings);

  const auto* input = dynamic_cast<const MLPLayer*>(net.GetLayer(0));
  const auto* hidden = dynamic_cast<const MLPLayer*>(net.GetLayer(1));
  const auto* output = dynamic_cast<const MLPLayer*>(net.GetLayer(2));
  ASSERT_TRUE(input && hidden && output);
  EXPECT_EQ(net.GetLayer(3), nullptr);
  EXPECT_EQ(net.GetLayer(-1), nullptr);
  EXPECT_EQ(input->GetLayerType(), VXNNCommon::kInputLayer);
  EXPECT_EQ(input->GetInitWeightLower(), VXMV::gMissingValue);
  EXPECT_EQ(hidden->GetNumUnits(), 8);
  EXPECT_EQ(hidden->GetActivationFunction(), VXNNCommon::kTanH);
  EXPECT_EQ(hidden->GetInitWeightLower(), -0.5);
  EXPECT_EQ(hidden->GetInitWeightUpper(), 0.5);
  EXPECT_EQ(hidden->GetLowerLayer(), input);
  EXPECT_EQ(output->GetLayerType(), VXNNCommon::kOutputLayer);
  EXPECT_EQ(output->GetActivationFunction(), VXNNCommon::kSoftMax);
  EXPECT_EQ(output->GetNOutputCategories(), std::vector<int>{3});
  std::valarray<double> w;
  net.GetWeights(w);
  EXPECT_EQ(std::abs(w).max(), 0.0);
}

TEST(NetworkConstruction, OutputTypeAndTheSoftMaxFallback) {
  EXPECT_EQ(NNetwork(*NoHidden(2, {1, 1}, VXNNCommon::kIdentity)).GetOutputType(),
            VXNNCommon::kContinuousOutput);
  EXPECT_EQ(NNetwork(*NoHidden(2, {2, 1}, VXNNCommon::kIdentity)).GetOutputType(),
            VXNNCommon::kMixedOutput);
  EXPECT_EQ(NNetwork(*NoHidden(2, {}, VXNNCommon::kIdentity)).GetOutputType(),
            VXNNCommon::kCategoricalOutput);

  ForcedSettings mixed(2, {2, 1}, 50);
  mixed.ForceOutput(VXNNCommon::kSoftMax);
  ASSERT_EQ(mixed.GetActivFnOutputLayer(), VXNNCommon::kSoftMax);
  NNetwork net(mixed);
  EXPECT_EQ(net.GetLayer(net.GetNumLayers())->GetActivationFunction(), VXNNCommon::kIdentity);
  EXPECT_EQ(net.GetErrorFunction(), VXNNCommon::kSumOfSquares);
}

TEST(NetworkConstruction, RbfSettingsGiveANetworkWithoutLayersForNow) {
  RBFSettings settings(3, {2}, 40);
  NNetwork net(settings);
  EXPECT_EQ(net.GetAlgorithmType(), VXNNCommon::kRBF);
  EXPECT_EQ(net.GetLayer(0), nullptr);
  EXPECT_EQ(net.GetNumWeights(), 0);
  const auto records = MakeRecords(3, {2}, 4, 1);
  auto source = VectorRecordIter::Borrow(records);
  EXPECT_EQ(Pass(net, source, true), 0);
  double out[2] = {1.0, 1.0};
  VXStatus status;
  net.Score(status, records[0].GetAll(), out);
  EXPECT_EQ(out[0], VXMV::gMissingValue);
  std::valarray<double> g(3);
  EXPECT_EQ(net.GetGradient(g), 0);
  EXPECT_EQ(net.GradientNorm(), 0.0);
}

TEST(NetworkWeights, FlatLayoutIsBiasFirstUnitByUnitLayerByLayer) {
  auto settings = MakeSettings(2, {1}, {2}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork net(*settings);
  ASSERT_EQ(net.GetNumWeights(), 9);
  // Hidden unit 0: bias, from x0, from x1; hidden unit 1; output: bias, from h0, from h1.
  const std::valarray<double> w = {0.1, 0.2, 0.3, -0.4, 0.5, 0.6, 0.7, 0.8, -0.9};
  EXPECT_EQ(net.SetWeights(w), 9);
  const double record[] = {1.0, -2.0, 0.0};
  net.ForwardPass(record, true);
  const double h0 = std::tanh(0.1 + 0.2 - 0.6), h1 = std::tanh(-0.4 + 0.5 - 1.2);
  EXPECT_DOUBLE_EQ(net.GetLayer(1)->GetUnitValues()[0], h0);
  EXPECT_DOUBLE_EQ(net.GetLayer(1)->GetUnitValues()[1], h1);
  EXPECT_DOUBLE_EQ(net.GetLayer(2)->GetUnitValues()[0], 0.7 + 0.8 * h0 - 0.9 * h1);
  EXPECT_EQ(net.GetLayer(2)->GetWeights()[1], 0.8);

  std::valarray<double> other(5);
  EXPECT_EQ(net.GetWeights(other), 9);
  EXPECT_EQ(other.size(), 9u);
  EXPECT_EQ(other[3], -0.4);
  std::valarray<double> longer(42.0, 12);
  EXPECT_EQ(net.GetWeights(longer), 9);
  EXPECT_EQ(longer.size(), 9u);
  EXPECT_EQ(net.SetWeights(std::valarray<double>(8)), 0);
  EXPECT_EQ(net.GetLayer(1)->GetWeights()[0], 0.1);
}

TEST(NetworkWeights, GradientVectorIsCopiedBothWays) {
  auto settings = MakeSettings(2, {1}, {2}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork net(*settings);
  std::valarray<double> g(-7.0, 11);
  for (int i = 0; i < 9; ++i) g[static_cast<std::size_t>(i)] = i + 1;
  EXPECT_EQ(net.SetGradient(g), 9);
  std::valarray<double> back(-1.0, 11);
  EXPECT_EQ(net.GetGradient(back), 9);
  EXPECT_EQ(back.size(), 11u);
  EXPECT_EQ(back[4], 5.0);
  EXPECT_EQ(back[9], -1.0);  // past the weights: left alone
  EXPECT_EQ(back[10], -1.0);
  EXPECT_DOUBLE_EQ(net.GradientNorm(), std::sqrt(285.0));  // 1 + 4 + ... + 81
  std::valarray<double> shorter(2);
  EXPECT_EQ(net.GetGradient(shorter), 9);
  EXPECT_EQ(shorter.size(), 9u);
  EXPECT_EQ(net.SetGradient(std::valarray<double>(3)), 0);
  net.ResetDerivatives();
  EXPECT_EQ(net.GradientNorm(), 0.0);
}

TEST(NetworkWeights, RandomizeUsesEachLayersRangeInFlatOrder) {
  auto settings = MakeSettings(2, {1}, {2}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  settings->SetRandomWeightRange(-2.0, 2.0);
  NNetwork net(*settings);
  VXRandom rng(3, true), twin(3, true);
  EXPECT_EQ(net.RandomizeWeights(rng), 9);
  std::valarray<double> w;
  net.GetWeights(w);
  for (double x : w) EXPECT_EQ(x, twin.Uniform() * 4.0 - 2.0);
  EXPECT_EQ(net.RandomizeWeights(rng, 0.0, 1.0), 9);
  net.GetWeights(w);
  for (double x : w) EXPECT_EQ(x, twin.Uniform());
  net.ResetAll();
  net.GetWeights(w);
  EXPECT_EQ(std::abs(w).max(), 0.0);
}

TEST(NetworkError, CrossEntropyIsMinusLogOfTheTrueCategory) {
  auto settings = NoHidden(2, {3}, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  ASSERT_EQ(net.GetErrorFunction(), VXNNCommon::kCrossEntropy);
  net.SetWeights({0.5, 1.0, 0.0, -0.5, 0.0, 1.0, 0.0, 0.0, 0.0});
  const std::vector<Record> records = {Record({1.0, 3.0, 0, 1, 0}), Record({0.5, -1.0, 1, 0, 0}),
                                       Record({3.0, 3.0, 0, 0, 0})};
  double expected = 0.0;
  for (int r = 0; r < 2; ++r) {
    const double* v = records[static_cast<std::size_t>(r)].GetAll();
    const double c[] = {0.5 + v[0], -0.5 + v[1], 0.0};
    const double z = std::exp(c[0]) + std::exp(c[1]) + std::exp(c[2]);
    const int truth = r == 0 ? 1 : 0;
    expected += -std::log(std::exp(c[truth]) / z);
  }
  auto source = VectorRecordIter::Borrow(records);
  EXPECT_EQ(Pass(net, source, true), 3);
  EXPECT_NEAR(net.GetAccumError(), expected, 1e-14);
  // The all-zero third target adds no error and is never correct: record 1's
  // largest output is unit 1 (its truth), record 2's is unit 0 (its truth).
  EXPECT_NEAR(net.GetAccuracy(), 2.0 / 3.0, 1e-15);

  VXStatus status;
  double p[3];
  net.Score(status, records[0].GetAll(), p);
  EXPECT_NEAR(p[0] + p[1] + p[2], 1.0, 1e-15);
  net.ForwardPass(records[0].GetAll(), true);
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(p[k], std::exp(net.GetLayer(1)->GetUnitValues()[k]));
}

TEST(NetworkError, SumOfSquaresAndMixedAccuracy) {
  auto settings = NoHidden(3, {2, 1}, VXNNCommon::kIdentity);
  auto net = CopyNetwork(*settings);
  const std::vector<Record> records = {
      Record({0.9, 0.1, 0.5, 1, 0, 0.7}),  // categorical hit, continuous off by 0.2
      Record({0.3, 0.3, 0.0, 0, 1, 0.2}),  // tie: the first unit is predicted, a miss
      Record({0.2, 0.8, 1.0, 0, 0, 1.0}),  // no true category: never a hit
  };
  auto source = VectorRecordIter::Borrow(records);
  net->ResetDerivatives();
  EXPECT_EQ(Pass(*net, source, true), 3);
  EXPECT_NEAR(net->GetAccumError(), 0.03 + 0.31 + 0.34, 1e-15);
  // Categorical 1 hit of 3, weighted 1/2; continuous 1 - (0.4 / 3) / (1.0 - 0.2), weighted 1/2.
  EXPECT_NEAR(net->GetAccuracy(), 1.0 / 6.0 + (1.0 - (0.4 / 3.0) / 0.8) / 2.0, 1e-15);

  // No record read: the accuracy of the previous pass stays.
  EXPECT_EQ(Pass(*net, source, true, 0), 0);
  EXPECT_NEAR(net->GetAccuracy(), 1.0 / 6.0 + (1.0 - (0.4 / 3.0) / 0.8) / 2.0, 1e-15);
  net->ResetDerivatives();
  EXPECT_EQ(net->GetAccuracy(), 0.0);
  EXPECT_EQ(net->GetAccumError(), 0.0);
}

TEST(NetworkError, ConstantContinuousTargetCountsOnlyExactHits) {
  auto settings = NoHidden(1, {1}, VXNNCommon::kIdentity);
  auto net = CopyNetwork(*settings);
  const std::vector<Record> hit = {Record({0.5, 0.5}), Record({0.5, 0.5})};
  auto hits = VectorRecordIter::Borrow(hit);
  Pass(*net, hits, true);
  EXPECT_EQ(net->GetAccuracy(), 1.0);
  net->ResetDerivatives();
  const std::vector<Record> miss = {Record({0.4, 0.5})};
  auto misses = VectorRecordIter::Borrow(miss);
  Pass(*net, misses, true);
  EXPECT_EQ(net->GetAccuracy(), 0.0);
}

TEST(NetworkAverages, MeansThenTheErrorOfPredictingThem) {
  auto settings = NoHidden(1, {1, 1}, VXNNCommon::kIdentity);
  NNetwork net(*settings);
  const std::vector<Record> records = {Record({0.0, 1.0, 2.0}), Record({0.0, 3.0, 2.0}),
                                       Record({0.0, 5.0, 8.0})};
  auto source = VectorRecordIter::Borrow(records);
  net.SetComputeAverages(true);
  EXPECT_EQ(Pass(net, source, false), 3);
  EXPECT_EQ(net.GetOutputAverages()[0], 3.0);
  EXPECT_EQ(net.GetOutputAverages()[1], 4.0);

  // maxRecords 0 leaves the sums undivided (here: untouched means).
  EXPECT_EQ(Pass(net, source, false, 0), 0);
  EXPECT_EQ(net.GetOutputAverages()[0], 3.0);

  net.SetComputeAverages(false);
  net.SetComputeErrorAverages(true);
  Pass(net, source, false);
  EXPECT_DOUBLE_EQ(net.GetErrorAverages(), 0.5 * (4 + 0 + 4) + 0.5 * (4 + 4 + 16));
  net.SetComputeAverages(true);
  EXPECT_EQ(net.GetErrorAverages(), 0.0);
  EXPECT_EQ(net.GetOutputAverages()[1], 0.0);
}

TEST(NetworkAverages, CrossEntropyErrorOfTheClassFrequencies) {
  auto settings = NoHidden(1, {2}, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  const std::vector<Record> records = {Record({0.0, 1, 0}), Record({0.0, 1, 0}),
                                       Record({0.0, 1, 0}), Record({0.0, 0, 1})};
  auto source = VectorRecordIter::Borrow(records);
  net.SetComputeAverages(true);
  Pass(net, source, false);
  net.SetComputeAverages(false);
  net.SetComputeErrorAverages(true);
  net.ResetDerivatives();
  Pass(net, source, false);
  EXPECT_NEAR(net.GetErrorAverages(), -3 * std::log(0.75) - std::log(0.25), 1e-14);
  // Zero weights predict 1/2 for each class.
  EXPECT_NEAR(net.GetAccumError(), 4 * std::log(2.0), 1e-14);
}

TEST(NetworkPass, CancellationStopsThePassAndLatches) {
  auto settings = NoHidden(2, {1}, VXNNCommon::kIdentity);
  CancelAfter cancel(3);
  settings->SetCancelPointer(&cancel);
  NNetwork net(*settings);
  const auto records = MakeRecords(2, {1}, 10, 4);
  auto source = VectorRecordIter::Borrow(records);
  net.SetComputeAverages(true);
  EXPECT_EQ(Pass(net, source, true), 2);  // polled before records 1, 2 and 3
  EXPECT_TRUE(net.IsCanceled());
  EXPECT_EQ(cancel.fQueries, 3);
  EXPECT_EQ(net.GetAccuracy(), 0.0);  // skipped
  // Averages are left as sums.
  EXPECT_DOUBLE_EQ(net.GetOutputAverages()[0], records[0][2] + records[1][2]);
  EXPECT_EQ(Pass(net, source, true), 0);
  EXPECT_EQ(cancel.fQueries, 3);

  NNetwork unsettled;
  EXPECT_FALSE(unsettled.IsCanceled());
}

TEST(NetworkPass, ShortRecordsAreSkippedAndProcessRecordAddsError) {
  auto settings = NoHidden(2, {1}, VXNNCommon::kIdentity);
  auto net = CopyNetwork(*settings);
  const std::vector<Record> records = {Record({1.0, 0.0, 3.0}), Record(std::vector<double>{1.0}),
                                       Record({2.0, 0.0, 2.0})};
  auto source = VectorRecordIter::Borrow(records);
  net->ResetDerivatives();
  EXPECT_EQ(Pass(*net, source, false), 2);
  EXPECT_DOUBLE_EQ(net->GetAccumError(), 0.5 * 4);
  VXStatus status;
  net->ProcessRecord(status, records[0]);
  EXPECT_TRUE(status.IsOK());
  EXPECT_DOUBLE_EQ(net->GetAccumError(), 0.5 * 4 + 0.5 * 4);
  net->SetAccumError(1.25);
  EXPECT_EQ(net->GetAccumError(), 1.25);
}

TEST(NetworkArchitecture, AddingThenRemovingAHiddenUnitRestoresTheNetwork) {
  auto settings = MakeSettings(3, {2}, {2}, VXNNCommon::kSigmoid, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  VXRandom rng(21, true);
  net.RandomizeWeights(rng);
  std::valarray<double> before;
  net.GetWeights(before);
  net.SetAccumError(5.0);
  EXPECT_EQ(net.AddHiddenUnit(rng), 3);
  EXPECT_EQ(net.GetNumWeights(), 3 * 4 + 2 * 4);
  EXPECT_EQ(net.GetAccumError(), 0.0);
  std::valarray<double> w;
  net.GetWeights(w);
  EXPECT_EQ(w.size(), 20u);
  EXPECT_EQ(w[7], before[7]);  // the first two hidden rows stay in front

  EXPECT_EQ(net.RemoveHiddenUnit(2), 2);
  EXPECT_EQ(net.RemoveHiddenUnit(2), 2);  // out of range
  net.GetWeights(w);
  ASSERT_EQ(w.size(), before.size());
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], before[i]);

  auto twoLayers = MakeSettings(3, {2}, {2, 2}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork deep(*twoLayers);
  EXPECT_EQ(deep.AddHiddenUnit(rng), 0);
  EXPECT_EQ(deep.RemoveHiddenUnit(0), 0);
}

// The summed error with hidden unit u's outgoing weights zeroed, from the
// reference implementation.
double ErrorWithout(const NNetwork& net, const std::valarray<double>& w, int u,
                    const std::vector<Record>& records) {
  const auto shape = ShapeOf(net);
  std::valarray<double> cut = w;
  const int hidden = shape.units[1], inputs = shape.units[0];
  for (int k = 0; k < shape.units[2]; ++k)
    cut[static_cast<std::size_t>(hidden * (inputs + 1) + k * (hidden + 1) + u + 1)] = 0.0;
  double e = 0.0;
  for (const auto& r : records) {
    const auto o = mlp_reference::Forward(shape, cut, r.GetAll());
    e += mlp_reference::CrossEntropy(o, r.GetAll() + inputs);
  }
  return e;
}

TEST(NetworkArchitecture, LeastUsefulHiddenUnitCostsLeastWhenLeftOut) {
  auto settings = MakeSettings(3, {3}, {4}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  const std::valarray<double> w = RandomWeights(net.GetNumWeights(), 5, -1.5, 1.5);
  net.SetWeights(w);
  const auto records = MakeRecords(3, {3}, 30, 8);
  auto source = VectorRecordIter::Borrow(records);
  int expected = 0;
  double best = ErrorWithout(net, w, 0, records);
  for (int u = 1; u < 4; ++u) {
    const double e = ErrorWithout(net, w, u, records);
    if (e <= best) {
      best = e;
      expected = u;
    }
  }
  net.SetAccumError(2.5);
  VXStatus status;
  int unit = -1;
  net.FindLeastUsefulHiddenUnit(status, source, 1 << 30, unit);
  EXPECT_EQ(unit, expected);
  EXPECT_EQ(net.GetAccumError(), 2.5);

  // Four identical hidden units cost the same when left out: the last wins.
  std::valarray<double> tie = w;
  for (int u = 1; u < 4; ++u)
    for (int i = 0; i < 4; ++i)
      tie[static_cast<std::size_t>(u * 4 + i)] = w[static_cast<std::size_t>(i)];
  for (int k = 0; k < 3; ++k)
    for (int u = 1; u < 4; ++u)
      tie[static_cast<std::size_t>(16 + k * 5 + u + 1)] =
          w[static_cast<std::size_t>(16 + k * 5 + 1)];
  net.SetWeights(tie);
  source.Rewind();
  net.FindLeastUsefulHiddenUnit(status, source, 1 << 30, unit);
  EXPECT_EQ(unit, 3);

  auto single = MakeSettings(3, {3}, {1}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork one(*single);
  source.Rewind();
  unit = -1;
  one.FindLeastUsefulHiddenUnit(status, source, 1 << 30, unit);
  EXPECT_EQ(unit, 0);
}

TEST(NetworkAccessors, StopReasonNamesAndImportance) {
  NNetwork net;
  const char* names[] = {
      "kStoppedUndefined",        "kStoppedMaxTime",         "kStoppedMaxDataPasses",
      "kStoppedErrorChangeLimit", "kStoppedErrorRatioLimit", "kStoppedSmallGradient",
      "kStoppedVerifyingCycle",   "kStoppedAccuracy",        "kStoppedComputed"};
  for (int r = 0; r < 9; ++r) {
    net.SetStopReason(r);
    EXPECT_EQ(net.GetStopReasonName(), names[r]);
  }
  net.SetStopReason(9);
  EXPECT_EQ(net.GetStopReasonName(), "kStoppedUndefined");
  net.SetStopReason(-1);
  EXPECT_EQ(net.GetStopReasonName(), "kStoppedUndefined");

  EXPECT_FALSE(net.SetImportance({}));
  EXPECT_TRUE(net.GetImportance().empty());
  EXPECT_TRUE(net.SetImportance({0.25, 0.75}));
  EXPECT_FALSE(net.SetImportance({}));
  EXPECT_EQ(net.GetImportance(), (std::vector<double>{0.25, 0.75}));
}

TEST(NetworkAccessors, EmptyNetworkAcceptsEveryOperation) {
  NNetwork net;
  EXPECT_EQ(net.GetNumLayers(), 0);
  EXPECT_EQ(net.GetAlgorithmType(), VXNNCommon::kMLP);
  const double record[] = {1.0};
  net.ForwardPass(record, true);
  net.BackPropagate(record);
  EXPECT_EQ(net.RecordError(record), 0.0);
  std::valarray<double> w(3);
  EXPECT_EQ(net.GetWeights(w), 0);
  EXPECT_EQ(w.size(), 0u);
  VXRandom rng;
  EXPECT_EQ(net.RandomizeWeights(rng), 0);
  EXPECT_EQ(net.AddHiddenUnit(rng), 0);
}

TEST(NetworkDisplay, FramedAndLabelled) {
  auto settings = MakeSettings(2, {2, 1}, {2}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork net(*settings);
  std::ostringstream out;
  net.Display(out);
  const std::string s = out.str();
  EXPECT_EQ(
      s.rfind("Start of NNetwork display\nfNLayers = 2\nLayer index = 0\nStart of MLPLayer", 0),
      0u);
  for (const char* line :
       {"Layer index = 2\n", "fNOutputCategories: 2 1\n", "Algorithm Type = MLP\n",
        "Output Type = Mixed\n", "Error Function = Sum of Squares Error\n", "fNWeights = 15\n",
        "Values for accuracy computation: 0 0\n", "fCanceled = 0\n", "fComputeErrorAverages = 0\n"})
    EXPECT_NE(s.find(line), std::string::npos) << line;
  EXPECT_NE(s.find("Minimum values of continuous targets: 1.79769313486e+308"), std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 24), "End of NNetwork display\n");
}

}  // namespace
