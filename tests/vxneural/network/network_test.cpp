// Layers against hand values: SoftMax groups of an MLP layer, Gaussian and
// normalised RBF activations, widths from variance vectors, and the network
// built from RBF settings scoring through its layers and its saved forms.
// NNetwork: errors and accuracy, the gradient against central differences
// and a reference implementation, adding and removing hidden units, passes
// that allocate nothing, the output list and the portable generator. The
// saved forms of the network, its MLP and RBF layers and the generator:
// layouts field by field against records assembled here, and refusal of
// truncated, corrupted and implausible streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <valarray>
#include <vector>

#include "common/alloc_counter.h"
#include "common/saved_forms.h"
#include "common/stream_faults.h"
#include "network_fixtures.h"
#include "record_fields.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/RBFOutputLayer.h"
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
using namespace saved_forms;
using layouts::Bytes;
using record_fields::Close;
using record_fields::ExpectFields;
using record_fields::Open;
using stream_faults::Replaced;
using stream_faults::WithInt32;

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
  EXPECT_EQ(std::make_pair(net->GetAccuracy(), net->GetAccumError()), std::make_pair(0.0, 0.0));

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
    const int winner = c.SetOutputs(k.units.data());
    EXPECT_EQ(std::make_tuple(winner, c.GetWinningIndex(), c.GetMaxOutput(), c.HasTie()),
              std::make_tuple(k.winner, k.winner, k.units[std::size_t(k.winner)], k.tie));
  }
  NNCatVar var("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kOutput,
               INNVariable::kInteger);
  const NNCategOutput fresh(&var);
  EXPECT_EQ(std::make_pair(fresh.GetOutputs(), fresh.GetWinningIndex()),
            std::make_pair(std::vector<double>(4, VXMV::gMissingValue), -1));
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
  std::vector<int> perm(10);
  std::iota(perm.begin(), perm.end(), 0);
  std::vector<int> expected = perm;
  s.Shuffle(perm);
  const std::vector<double> draws = ReferenceDraws(2024, 9);
  for (int i = 9; i >= 1; --i) std::swap(expected[i], expected[int(draws[9 - i] * (i + 1))]);
  EXPECT_EQ(perm, expected);
  // Trivial lengths draw nothing.
  const uint32_t seed = s.GetSeed();
  s.Shuffle(perm.data(), 1);
  EXPECT_EQ(s.GetSeed(), seed);
}

// --- Layers -------------------------------------------------------------------

using VXNNCommon::ActivationFunction;
using VXNNCommon::kNormalizedRadialBasis;
using VXNNCommon::kRadialBasis;

TEST(MLPLayerForward, SoftMaxWorksPerGroupInProbabilitiesOrLogarithms) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, VXMV::gMissingValue,
                 VXMV::gMissingValue);
  MLPLayer layer(VXNNCommon::kOutputLayer, 5, &input, VXNNCommon::kSoftMax, {2, 3}, -0.25, 0.75);
  // Combinations 1000 and 999 would overflow a naive exponential; the
  // second group's combinations are 1, 2 and 0.
  layer.SetWeights({1000, 0, 0, 999, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, 0);
  const double x[] = {1.0, 2.0};
  input.SetUnitValues(x, 2);
  const double z = std::exp(1.0) + std::exp(2.0) + 1.0;
  const double expected[] = {1.0 / (1.0 + std::exp(-1.0)), 1.0 / (1.0 + std::exp(1.0)),
                             std::exp(1.0) / z, std::exp(2.0) / z, 1.0 / z};
  for (const bool log : {false, true}) {
    layer.ComputeUnitValues(log);
    for (int j = 0; j < 5; ++j)
      EXPECT_NEAR(layer.GetUnitValues()[j], log ? std::log(expected[j]) : expected[j],
                  log ? 1e-12 : 1e-15)
          << log << " " << j;
  }
}

TEST(RBFHiddenLayer, ActivationsAtAPointMatchHandValues) {
  // At x = (1, 2): squared distances 0, 5, 4 to the centres (1, 2), (0, 0),
  // (3, 2) over squared widths 1, 2.5, 4 give exponents 0, -1, -0.5.
  const double g[] = {1.0, std::exp(-1.0), std::exp(-0.5)};
  const double sum = g[0] + g[1] + g[2];
  for (const ActivationFunction f : {kRadialBasis, kNormalizedRadialBasis}) {
    RBFInputLayer in(2);
    RBFHiddenLayer hidden(3, &in, f);
    // The centres unit by unit, then the squared widths.
    ASSERT_EQ(hidden.SetWeights(std::valarray<double>{1, 2, 0, 0, 3, 2, 1.0, 2.5, 4.0}, 0), 9);
    const double x[] = {1, 2};
    in.SetUnitValues(x, 2);
    hidden.ComputeUnitValues(false);
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(hidden.GetUnitValues()[j], f == kRadialBasis ? g[j] : g[j] / sum, 1e-15)
          << f << " " << j;
  }
}

TEST(RBFHiddenLayer, WidthsComeFromTheMeanVarianceOfEachUnit) {
  const struct {
    std::vector<std::vector<double>> variances;
    double fallback;
    std::vector<double> expected;
  } cases[] = {
      // A zero mean takes the smallest non-zero mean.
      {{{0, 0}, {2, 4}}, 1.0, {3, 3}},
      {{{1, 3}, {4, 4}, {0, 0}}, 1.0, {2, 4, 2}},
      // All zero: the fallback variance.
      {{{0, 0}, {0, 0}}, 2.5, {2.5, 2.5}},
      // A negative entry counts as 0.
      {{{-1, 3}, {2, 2}}, 1.0, {1.5, 2}},
  };
  for (const auto& c : cases) {
    RBFInputLayer in(2);
    RBFHiddenLayer hidden(static_cast<int>(c.variances.size()), &in, kRadialBasis);
    hidden.SetFallbackVariance(c.fallback);
    hidden.PrepareVarianceVectors() = c.variances;
    hidden.ComputeAdjustedVariances();
    EXPECT_EQ(hidden.GetAdjustedVariances(), c.expected);
    EXPECT_TRUE(hidden.GetVarianceVectors().empty());
  }
}

TEST(RBFNetwork, ScoresThroughTheLayersAndSurvivesItsSavedForms) {
  RBFSettings settings(2, {1, 3}, 100);
  settings.SetActivFnHiddenLayer(kRadialBasis);
  settings.SetNumHiddenUnits(4, 1);
  NNetwork net(settings);
  VXRandom rng(5, true);
  net.RandomizeWeights(rng);
  const double record[] = {0.3, 0.6};
  double scored[4];
  VXCommon_1_2::VXStatus status;
  net.Score(status, record, scored);
  // By hand from the layers' parameters.
  const RBFHiddenLayer& h = *net.GetRBFHiddenLayer();
  const double* w = net.GetLayer(2)->GetWeights();
  for (int k = 0; k < 4; ++k) {
    double y = w[k * 5];
    for (std::size_t j = 0; j < 4; ++j) {
      const auto& c = h.GetCenters()[j];
      const double d2 = (0.3 - c[0]) * (0.3 - c[0]) + (0.6 - c[1]) * (0.6 - c[1]);
      y += w[k * 5 + 1 + int(j)] * std::exp(-d2 / (2 * h.GetAdjustedVariances()[j]));
    }
    EXPECT_NEAR(scored[k], y, 1e-14) << k;
  }
  for (auto& b : saved_forms::RoundTrips(net, [] { return std::make_unique<NNetwork>(); })) {
    double again[4];
    b->Score(status, record, again);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(again[k], scored[k]);
  }
  NNetwork target;
  saved_forms::ExpectReadersRobust(
      net, target,
      {"Error reading NNetwork!\n", "Error reading RBFInputLayer!\n",
       "Error reading RBFHiddenLayer!\n", "Error reading RBFOutputLayer!\n"},
      {"Failure reading NNetwork!\n", "Failure reading RBFInputLayer!\n",
       "Failure reading RBFHiddenLayer!\n", "Failure reading RBFOutputLayer!\n"});
}

// --- Saved forms ------------------------------------------------------------

TEST(NetworkLayouts, NetworkWithItsLayers) {
  // One input, one TanH hidden unit, two SoftMax outputs: 2 + 4 weights.
  const auto settings = MakeSettings(1, {2}, {1}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  net.SetWeights(std::valarray<double>{0.125, -0.25, 0.5, -1.0, 2.0, -4.0});
  net.SetAccumError(2.5);
  net.SetComputeAverages(true);
  const auto& in = dynamic_cast<const MLPLayer&>(*net.GetLayer(0));
  const std::vector<double> averages(std::begin(net.GetOutputAverages()),
                                     std::end(net.GetOutputAverages()));
  ASSERT_EQ(averages.size(), 2u);
  // One record per layer: type, units, lower units, activation, the initial
  // weight range, the weights when not an input layer, the category counts.
  const auto layer = [](auto& s, int type, int units, int lower, int f, double low, double high,
                        const std::vector<double>& w, const std::vector<int>& categories) {
    Open(s, "MLPLay", "MLPLayer").I(type).I(units).I(lower).I(f).D(low).D(high).Ds(w);
    Close(s.I(static_cast<int>(categories.size())).Is(categories));
  };
  const auto other = MakeSettings(3, {1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  ExpectFields(
      net, [&] { return std::make_unique<NNetwork>(*other); }, "NNet", "NNetwork",
      [&](auto& s) {
        layer(s.I(1).I(2), 0, 1, in.GetNumUnitsLower(), in.GetActivationFunction(),
              in.GetInitWeightLower(), in.GetInitWeightUpper(), {}, {});
        layer(s, 1, 1, 2, VXNNCommon::kTanH, -0.5, 0.5, {0.125, -0.25}, {});
        layer(s, 2, 2, 2, VXNNCommon::kSoftMax, -0.5, 0.5, {0.5, -1.0, 2.0, -4.0}, {2});
        // Inputs, outputs, output variables, their categories, categorical
        // output type, cross entropy, weights, error, averages, the flags.
        s.I(1).I(2).I(1).I(2).I(1).I(1).I(6).D(2.5).Ds(averages).D(net.GetErrorAverages());
        s.I(1).I(0);
      });
}

// Every count differs from its neighbours, so that two fields saved in each
// other's place show. The layers' XML writers also count their two object
// marks.
constexpr int kNormalized = VXNNCommon::kNormalizedRadialBasis;

TEST(NetworkLayouts, RBFLayers) {
  RBFInputLayer in(2);
  // Hidden: units, lower units, activation, centres, the centres' values,
  // held variance vectors (none), one squared width per centre.
  RBFHiddenLayer hidden(3, &in, VXNNCommon::kNormalizedRadialBasis);
  hidden.SetWeights(std::valarray<double>{1, 2, 3, 4, 5, 6, 0.5, 0.25, 2}, 0);
  // Output: units, lower units, the hidden activation, the weights (no bias
  // column under normalised units), the category counts.
  RBFOutputLayer out(2, &hidden, {2});
  out.SetWeights(std::valarray<double>{-1, -2, -3, -4, -5, -6}, 0);
  ExpectFields(
      in, [] { return std::make_unique<RBFInputLayer>(7); }, "RBFInp", "RBFInputLayer",
      [](auto& s) { s.I(2); }, 2);
  ExpectFields(
      hidden, [&] { return std::make_unique<RBFHiddenLayer>(&in); }, "RBFHid", "RBFHiddenLayer",
      [](auto& s) {
        s.I(3).I(2).I(kNormalized).I(3).Ds({1, 2, 3, 4, 5, 6}).I(0).Ds({.5, .25, 2});
      },
      2);
  ExpectFields(
      out, [&] { return std::make_unique<RBFOutputLayer>(&hidden); }, "RBFOut", "RBFOutputLayer",
      [](auto& s) {
        s.I(2).I(3).I(kNormalized).I(6).Ds({-1, -2, -3, -4, -5, -6}).I(1).I(2);
      },
      2);

  // Before the widths are computed the variance vectors are held instead.
  RBFInputLayer one(1);
  RBFHiddenLayer pending(2, &one, VXNNCommon::kRadialBasis);
  pending.SetNumCenters(2) = {{7}, {8}};
  pending.PrepareVarianceVectors() = {{0.5}, {0.75}};
  ExpectFields(
      pending, [&] { return std::make_unique<RBFHiddenLayer>(&one); }, "RBFHid", "RBFHiddenLayer",
      [](auto& s) {
        s.I(2).I(1).I(VXNNCommon::kRadialBasis).I(2).Ds({7, 8}).I(2).Ds({.5, .75});
      },
      2);

  // Counts that do not fit together: more centres than units, an output
  // weight count off the layout rule, an MLP activation.
  RBFHiddenLayer plain(3, &in, VXNNCommon::kRadialBasis);
  plain.SetWeights(std::valarray<double>{1, 2, 0, 0, 3, 2, 1, 2.5, 4}, 0);
  RBFHiddenLayer hiddenTarget(&in);
  RBFOutputLayer outTarget(&plain);
  const int rbf = VXNNCommon::kRadialBasis, mlp = VXNNCommon::kTanH;
  ExpectAllRefused(hiddenTarget, false,
                   {Bytes().Tag("RBFHid").I(1).I(2).I(rbf).I(2).Ds({1, 2, 3, 4}).I(0).Ds({1, 1}).s},
                   {"Error reading RBFHiddenLayer!\n"});
  ExpectAllRefused(outTarget, false,
                   {Bytes().Tag("RBFOut").I(1).I(2).I(rbf).I(2).Ds({1, 2}).I(1).I(1).s,
                    Bytes().Tag("RBFOut").I(1).I(2).I(mlp).I(3).Ds({1, 2, 3}).I(1).I(1).s},
                   {"Error reading RBFOutputLayer!\n"});
}

// An RBF hidden layer's units without a centre are held in memory but not
// stored in the layer's own record, so a damaged count must be refused
// before it sizes anything. The record: units, lower units, Radial Basis,
// centres, their values (all 0.5), one variance per centre, then what
// follows the layer in a saved network (the output layer's weights).
TEST(RBFHiddenLayerBounds, UnbackedCountsAreRefused) {
  const struct {
    const char* what;
    bool linked;  // read by a layer linked to a 2-unit input layer
    int units, lower, centres, trailing;
    bool refused;
  } cases[] = {
      {"every unit placed", true, 3, 2, 3, 0, false},
      {"unplaced units backed by what follows", true, 5, 2, 3, 2, false},
      {"unplaced units beyond what the stream holds", true, 20, 2, 1, 0, true},
      {"a million unplaced units", true, 1 << 20, 2, 0, 8, true},
      {"lower width differs from the linked layer", true, 3, 3, 3, 0, true},
      {"unlinked: unplaced values backed", false, 3, 2, 1, 4, false},
      {"unlinked: wide lower with no centre", false, 2, 1 << 24, 0, 8, true},
  };
  for (const auto& c : cases) {
    Bytes b;
    b.Tag("RBFHid").I(c.units).I(c.lower).I(VXNNCommon::kRadialBasis).I(c.centres);
    b.Ds(std::vector<double>(static_cast<std::size_t>(c.centres * c.lower), 0.5));
    b.I(0).Ds(std::vector<double>(static_cast<std::size_t>(c.centres), 1.0));
    b.Ds(std::vector<double>(static_cast<std::size_t>(c.trailing), 0.0));
    RBFInputLayer input(2);
    RBFHiddenLayer layer(c.linked ? &input : nullptr);
    const auto outcome =
        stream_faults::ReadFrom(b.s, [&](std::istream& s) { layer.ReadObject(s); });
    EXPECT_EQ(outcome.threw, c.refused) << c.what;
    EXPECT_EQ(outcome.err, c.refused ? "Error reading RBFHiddenLayer!\n" : "") << c.what;
    if (!c.refused) {
      EXPECT_EQ(layer.GetNumUnits(), c.units) << c.what;
    }
  }
}

TEST(MLPLayerPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0);
  MLPLayer layer(VXNNCommon::kOutputLayer, 3, &input, VXNNCommon::kSoftMax, {2, 1}, -0.3, 0.7);
  layer.SetWeights({1.5, -2.25, 3.125, 0.1, 0.2, 0.3, -1e-300, 1e300, 4.0}, 0);
  const std::string binary = "Error reading MLPLayer!\n", xml = "Failure reading MLPLayer!\n";
  MLPLayer target(VXNNCommon::kHiddenLayer, 1, &input, VXNNCommon::kTanH, 0, 0);
  ExpectReadersRobust(layer, target, {binary}, {xml});
  const std::string b = Saved(layer, false);
  // The tag; then at the offsets given: the layer type; units negative and
  // beyond any plausible layer; no bias column on an output layer, more
  // weights than the stream holds; the activation; category counts negative
  // and beyond the stream; groups that do not add up to the units; SoftMax
  // on a hidden layer.
  std::vector<std::string> damaged = {Replaced(b, "MLPLay", "MLPLaX"),
                                      WithInt32(WithInt32(b, 6, 1), 18, 2)};
  const std::pair<int, int> fields[] = {{6, 7},  {10, -1},  {10, 1 << 30},  {14, 0}, {14, 1 << 20},
                                        {18, 9}, {110, -3}, {110, 1 << 19}, {114, 3}};
  for (auto [at, v] : fields) damaged.push_back(WithInt32(b, at, v));
  ExpectAllRefused(target, false, damaged, {binary});
  ExpectAllRefused(target, true, {Replaced(Saved(layer, true), "MLPLayer", "NNetwork")}, {xml});
}

TEST(NetworkPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  // A trained-looking network: drawn weights, an error, averages and flags.
  const auto settings = MakeSettings(3, {3, 1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  const auto small = MakeSettings(1, {1}, {1}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork net(*settings), target(*small);
  VXRandom rng(99, true);
  net.RandomizeWeights(rng);
  target.RandomizeWeights(rng);
  const auto records = MakeRecords(3, {3, 1}, 20, 2);
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  VXCommon_1_2::VXStatus status;
  int n = 0;
  net.SetComputeAverages(true);
  net.ProcessRecords(status, source, 1000, n, false, true);
  net.SetComputeErrorAverages(true);
  source.Rewind();
  net.ProcessRecords(status, source, 1000, n, false, true);

  const std::vector<std::string> binary = {"Error reading NNetwork!\n",
                                           "Error reading MLPLayer!\n"};
  ExpectReadersRobust(net, target, binary,
                      {"Failure reading NNetwork!\n", "Failure reading MLPLayer!\n"});
  const std::string b = Saved(net, false);
  const std::size_t h = 12 + 42, o = h + 170, t = o + 210;  // hidden, output layers, tail
  // The tag; then at the offsets given: the algorithm type; a negative
  // layer count, fewer layers than saved, more than the stream holds;
  // inputs that differ from the input layer, outputs from the output layer;
  // more variables than the stream holds, variables that differ from the
  // categories, categories that do not add up to the outputs; the output
  // type, the error function, the weight count; hidden units the output
  // layer misfits; the output layer saved as hidden.
  std::vector<std::string> damaged = {Replaced(b, "NNet", "NNXt")};
  const std::pair<std::size_t, int> fields[] = {
      {4, 5},      {8, -1},          {8, 1},      {8, 100000}, {t, 4},
      {t + 4, 3},  {t + 8, 1 << 19}, {t + 8, 3},  {t + 12, 2}, {t + 20, 4},
      {t + 24, 2}, {t + 28, 50},     {h + 10, 3}, {o + 6, 1}};
  for (auto [at, v] : fields) damaged.push_back(WithInt32(b, at, v));
  ExpectAllRefused(target, false, damaged, binary);
  // MLP layers labelled as an RBF network: the RBF input layer's reader
  // meets an MLP layer's tag.
  ExpectAllRefused(target, false, {WithInt32(b, 4, 2)}, {"Error reading RBFInputLayer!\n"});
  ExpectAllRefused(target, true, {Replaced(Saved(net, true), "NNetwork", "MLPLayer")},
                   {"Failure reading NNetwork!\n"});
}

TEST(RandomPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  const VXRandom a(123, true);
  const std::string binary = "Error reading VXRandom!\n";
  VXRandom b(9, false);
  ExpectReadersRobust(a, b, {binary}, {"Failure reading VXRandom!\n"});
  // A wrong tag, and seeds no writer produces: negative, beyond 32 bits, not a number.
  std::vector<std::string> damaged = {Replaced(Saved(a, false), "VXRa", "VXRb")};
  for (double bad : {-5.0, 4294967296.0, std::numeric_limits<double>::quiet_NaN()}) {
    damaged.push_back(Saved(a, false));
    std::memcpy(&damaged.back()[4], &bad, 8);
  }
  ExpectAllRefused(b, false, damaged, {binary});
}

}  // namespace
