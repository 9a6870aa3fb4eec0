// NNetwork: errors and accuracy, the gradient against central differences
// and a reference implementation, adding and removing hidden units, passes
// that allocate nothing, the output list and the portable generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <tuple>
#include <vector>

#include "common/alloc_counter.h"
#include "mlp_reference.h"
#include "network_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using namespace network_fixtures;
using alloc_counter::Allocations;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

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
  auto settings = MakeSettings(3, {2, 1}, {}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
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
  auto one = MakeSettings(1, {1}, {}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  auto copy = CopyNetwork(*one);
  Pass(*copy, {Record({0.5, 0.5}), Record({0.5, 0.5})}, true);
  EXPECT_EQ(copy->GetAccuracy(), 1.0);
  copy->ResetDerivatives();
  Pass(*copy, {Record({0.4, 0.5})}, true);
  EXPECT_EQ(copy->GetAccuracy(), 0.0);
}

// --- The gradient ------------------------------------------------------------

constexpr int kRecords = 12;

// Summed error of one pass; with gradient, also the accumulated gradient.
double Pass(NNetwork& net, VectorRecordIter& source, std::valarray<double>* gradient) {
  source.Rewind();
  net.ResetDerivatives();
  VXStatus status;
  int n = 0;
  net.ProcessRecords(status, source, 1 << 30, n, gradient == nullptr, false);
  EXPECT_EQ(n, kRecords);
  if (gradient) net.GetGradient(*gradient);
  return net.GetAccumError();
}

class GradientCheck : public ::testing::TestWithParam<KernelCase> {};

TEST_P(GradientCheck, AgreesWithCentralDifferencesAndReferenceError) {
  const auto& [inputs, hiddenFn, hidden, categories, outputFn] = GetParam();
  auto settings = MakeSettings(inputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);
  // SoftMax needs categorical targets only; otherwise the network falls back.
  const bool softMax =
      outputFn == VXNNCommon::kSoftMax && std::count(categories.begin(), categories.end(), 1) == 0;
  ASSERT_EQ(net.GetErrorFunction(),
            softMax ? VXNNCommon::kCrossEntropy : VXNNCommon::kSumOfSquares);
  ASSERT_EQ(net.GetLayer(net.GetNumLayers())->GetActivationFunction(),
            softMax                            ? VXNNCommon::kSoftMax
            : outputFn == VXNNCommon::kSigmoid ? VXNNCommon::kSigmoid
                                               : VXNNCommon::kIdentity);
  const mlp_reference::Shape shape = ShapeOf(net);
  ASSERT_EQ(net.GetNumWeights(), mlp_reference::NumWeights(shape));
  std::valarray<double> w = RandomWeights(net.GetNumWeights(), 7, -1.0, 1.0);
  ASSERT_EQ(net.SetWeights(w), net.GetNumWeights());

  const auto records = MakeRecords(inputs, categories, kRecords, 11);
  auto source = VectorRecordIter::Borrow(records);
  std::valarray<double> g;
  const double error = Pass(net, source, &g);
  ASSERT_EQ(g.size(), w.size());
  double expected = 0.0;
  for (const auto& r : records) {
    const double* v = r.GetAll();
    const auto o = mlp_reference::Forward(shape, w, v);
    expected += softMax ? mlp_reference::CrossEntropy(o, v + inputs)
                        : mlp_reference::SumOfSquares(o, v + inputs);
  }
  EXPECT_NEAR(error, expected, 1e-12 * expected);

  const double h = 1e-5;
  std::valarray<double> numeric(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) {
    std::valarray<double> wp = w, wm = w;
    wp[i] += h;
    wm[i] -= h;
    net.SetWeights(wp);
    const double ep = Pass(net, source, nullptr);
    net.SetWeights(wm);
    numeric[i] = (ep - Pass(net, source, nullptr)) / (2 * h);
  }
  ASSERT_GT(std::abs(numeric).max(), 1e-3);
  for (std::size_t i = 0; i < w.size(); ++i)
    EXPECT_LT(std::fabs(g[i] - numeric[i]), 1e-6 * std::max(std::fabs(numeric[i]), 1e-2))
        << "weight " << i;

  // The norm is that of the vector just read.
  net.SetWeights(w);
  Pass(net, source, &g);
  EXPECT_NEAR(net.GradientNorm(), std::sqrt((g * g).sum()), 1e-12 * net.GradientNorm());
}

INSTANTIATE_TEST_SUITE_P(Shapes, GradientCheck, GradientCheckShapes(3));
// Sigmoid outputs take their own derivative in the output deltas.
INSTANTIATE_TEST_SUITE_P(
    SigmoidOutputs, GradientCheck,
    ::testing::Combine(::testing::Values(3), ::testing::Values(VXNNCommon::kTanH),
                       ::testing::Values(std::vector<int>{4}),
                       ::testing::Values(std::vector<int>{1, 1}, std::vector<int>{3, 2}),
                       ::testing::Values(VXNNCommon::kSigmoid)));

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

TEST(NoAllocation, InPassesScoringAndTheWeightExchange) {
  auto settings = MakeSettings(64, {10}, {32}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  auto mixedSettings = MakeSettings(8, {3, 1}, {6, 4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  NNetwork net(*settings), mixed(*mixedSettings);
  const auto records = MakeRecords(64, {10}, 200, 1), mixedRecords = MakeRecords(8, {3, 1}, 200, 2);
  VXRandom rng(1, true);
  std::valarray<double> w, g;
  // The counter sees the library's allocations.
  EXPECT_GE(Allocations([&] { net.GetWeights(w); }), 1);
  VXStatus status;
  for (NNetwork* n : {&net, &mixed}) {
    n->RandomizeWeights(rng);
    auto source = VectorRecordIter::Borrow(n == &net ? records : mixedRecords);
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

// --- The output list ---------------------------------------------------------

TEST(OutputList, SplitsUnitsAmongTheTargetsOfAVariableList) {
  // Inputs and targets interleaved, so that the list must pick the targets
  // out in list order: y on 0..10 scaled by min/range, then 3 categories c.
  NNVarList list;
  list.AddContVar("x1", "", 0, 1, 0.5, 0.1, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("y", "", 0, 10, 5, 4, INNVariable::kOutput, INNVariable::kReal);
  list.AddCatVar("x2", "", 2, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  ASSERT_TRUE(dynamic_cast<NNContVar&>(*list.GetVarAt(1)).SetupEncoder(VXNNCommon::kMinRange));
  NNOutputList l(list);
  EXPECT_EQ(std::make_tuple(l.GetNContinuous(), l.GetNCategorical(), l.GetNUnits(), l.FindName("c"),
                            l.FindName("x1")),
            std::make_tuple(1, 1, 4, 1, -1));
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(0), nullptr);

  const double units[] = {0.5, 0.1, 0.7, 0.2};
  EXPECT_EQ(l.SetOutputs(units), 1.0);  // the last target's winner
  EXPECT_FALSE(l.IsMissing());
  const auto& cont = dynamic_cast<const NNContOutput&>(*l.GetOutputAt(0));
  EXPECT_EQ(cont.GetOutput(), 0.5);
  EXPECT_DOUBLE_EQ(cont.GetRealOutput(), 5.0);  // the middle of 0..10
  const auto& categ = dynamic_cast<const NNCategOutput&>(*l.GetOutputAt(1));
  EXPECT_EQ(categ.GetOutputs(), (std::vector<double>{0.1, 0.7, 0.2}));
  EXPECT_EQ(l.GetOutputAt(2), nullptr);
  // Missing hides the outputs until the next SetOutputs.
  l.SetMissing();
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(1), nullptr);
  EXPECT_EQ(l.SetOutputs(units), 1.0);
  EXPECT_EQ(dynamic_cast<const NNCategOutput&>(*l.GetOutputAt(1)).GetWinningIndex(), 1);
}

TEST(CategOutput, FirstOfEqualMaximaWinsAndLaterOnesMarkATie) {
  const struct {
    std::vector<double> units;
    int winner;
    bool tie;
  } cases[] = {{{0.2, 0.5, 0.5}, 1, true},
               {{0.5, 0.2, 0.3}, 0, false},
               {{0.4, 0.9, 0.1}, 1, false},
               {{0.3, 0.3, 0.3}, 0, true},
               {{-3.0, -1.0, -2.0}, 1, false}};
  NNCategOutput c(3);
  for (const auto& k : cases) {
    EXPECT_EQ(c.SetOutputs(k.units.data()), k.winner);
    EXPECT_EQ(c.GetWinningIndex(), k.winner);
    EXPECT_EQ(c.GetMaxOutput(), k.units[static_cast<std::size_t>(k.winner)]);
    EXPECT_EQ(c.HasTie(), k.tie);
  }
  NNCatVar var("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kOutput,
               INNVariable::kInteger);
  const NNCategOutput fresh(&var);
  EXPECT_EQ(fresh.GetOutputs(), std::vector<double>(4, VXMV::gMissingValue));
  EXPECT_EQ(fresh.GetWinningIndex(), -1);
}

// --- The portable generator --------------------------------------------------

// Draws worked independently: (a * b) mod m by doubling and adding, never
// forming the full product that the generator's 64-bit arithmetic holds.
std::vector<double> ReferenceDraws(uint64_t state, int n) {
  std::vector<double> draws;
  while (n-- > 0) {
    uint64_t next = 0;
    for (uint64_t a = state, b = 397204094; b > 0; b >>= 1, a = (a * 2) % 2147483647)
      if (b & 1) next = (next + a) % 2147483647;
    state = next;
    draws.push_back(static_cast<double>(state) / 2147483648.0);
  }
  return draws;
}

TEST(PortableRandom, RangesFillsAndTheShuffle) {
  VXRandom g(11, true);
  const std::vector<double> ref = ReferenceDraws(11, 4);
  EXPECT_EQ(g.Uniform(-0.5, 0.5), ref[0] * 1.0 - 0.5);
  double w[3];
  g.FillUniform(w, 3, 2.0, 6.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(w[i], ref[i + 1] * 4.0 + 2.0);

  // From the end down, element i is swapped with element j = floor(u (i + 1)).
  VXRandom s(2024, true);
  std::vector<int> perm(10), expected(10);
  std::iota(perm.begin(), perm.end(), 0);
  std::iota(expected.begin(), expected.end(), 0);
  s.Shuffle(perm);
  const std::vector<double> draws = ReferenceDraws(2024, 9);
  for (int i = 9; i >= 1; --i) std::swap(expected[i], expected[int(draws[9 - i] * (i + 1))]);
  EXPECT_EQ(perm, expected);
  // Trivial lengths draw nothing.
  const uint32_t seed = s.GetSeed();
  s.Shuffle(perm.data(), 1);
  EXPECT_EQ(s.GetSeed(), seed);
}

}  // namespace
