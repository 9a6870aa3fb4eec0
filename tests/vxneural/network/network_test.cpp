// The network module. NNetwork: errors and accuracy worked by hand, the
// gradient against central differences, adding and removing hidden units,
// passes that allocate nothing, the output list and the portable
// generator. Layers against hand values: SoftMax groups of an MLP layer,
// widths from variance vectors, and networks built from RBF settings
// (plain and normalised units) scoring through their layers. The saved
// forms of the network, its MLP and RBF layers and the generator: layouts
// field by field against records assembled here, and refusal of truncated,
// corrupted and implausible streams. The vector kernels: blocked passes and
// one-record scoring against the reference for every kernel this machine
// runs (which also drive the dot products of a layer's last units and the
// radial units at every edge), and the kernels' general products and
// element-wise functions against plain loops and the C library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <valarray>
#include <vector>

#include "common/alloc_counter.h"
#include "common/host_doubles.h"
#include "common/pass_settings.h"
#include "common/saved_forms.h"
#include "common/stream_faults.h"
#include "network/RowScorer.h"
#include "network/kernels/KernelTable.h"
#include "network_fixtures.h"
#include "record_fields.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/RBFOutputLayer.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/variables/NNCatVar.h"
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
using VXNeural::PassKernel;
using VXNeural::detail::KernelTable;

// Settings that take the output activation as given, even SoftMax over a
// continuous target, which the setter would refuse: the network must then
// fall back on its own.
class TestSettings : public MLPSettings {
 public:
  using MLPSettings::MLPSettings;
  void ForceOutput(VXNNCommon::ActivationFunction f) { fActivFnOutput = f; }
};

std::unique_ptr<MLPSettings> MakeSettings(int inputs, const std::vector<int>& categories,
                                          const std::vector<int>& hidden,
                                          VXNNCommon::ActivationFunction hiddenFn,
                                          VXNNCommon::ActivationFunction outputFn) {
  auto s = std::make_unique<TestSettings>(inputs, categories, 100);
  s->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    s->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  s->SetActivFnHiddenLayer(hiddenFn);
  s->ForceOutput(outputFn);
  return s;
}

// Pins a pass kernel for one scope and puts the previous one back.
struct KernelScope {
  explicit KernelScope(VXNeural::PassKernel k) : previous(VXNeural::GetPassKernel()) {
    EXPECT_TRUE(VXNeural::SetPassKernel(k));
  }
  ~KernelScope() { VXNeural::SetPassKernel(previous); }
  VXNeural::PassKernel previous;
};

// Inputs, hidden activation, hidden layer sizes, units per target, output
// activation.
using KernelCase = std::tuple<int, VXNNCommon::ActivationFunction, std::vector<int>,
                              std::vector<int>, VXNNCommon::ActivationFunction>;

// The gradient check's shapes: both hidden activations, 0-2 hidden layers,
// continuous, categorical and mixed targets, SoftMax and Identity outputs.
auto GradientCheckShapes(int inputs) {
  return ::testing::Combine(
      ::testing::Values(inputs), ::testing::Values(VXNNCommon::kTanH, VXNNCommon::kSigmoid),
      ::testing::Values(std::vector<int>{}, std::vector<int>{4}, std::vector<int>{4, 3}),
      ::testing::Values(std::vector<int>{1, 1}, std::vector<int>{3, 2}, std::vector<int>{3, 1, 2}),
      ::testing::Values(VXNNCommon::kIdentity, VXNNCommon::kSoftMax));
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

TEST_P(GradientCheck, AgreesWithCentralDifferences) {
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
  std::valarray<double> w = RandomWeights(net.GetNumWeights(), 7, -1.0, 1.0);
  ASSERT_EQ(net.SetWeights(w), net.GetNumWeights());

  const auto records = MakeRecords(inputs, categories, kRecords, 11);
  auto source = VectorRecordIter::Borrow(records);
  std::valarray<double> g;
  Pass(net, source, &g);
  ASSERT_EQ(g.size(), w.size());

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
  // On one thread: more start the pool's threads at their first pass.
  pass_settings::Restore restore;
  VXNeural::SetPassThreads(1);
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

// What the outputs hold once set (unscaled values, winners) is what every
// trained model's predictions show; here the list's own bookkeeping.
TEST(OutputList, SplitsUnitsAmongTheTargetsOfAVariableList) {
  // Inputs and targets interleaved, so that the list must pick the targets
  // out in list order: y, then 3 categories c.
  NNVarList list;
  list.AddContVar("x1", "", 0, 1, 0.5, 0.1, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("y", "", 0, 10, 5, 4, INNVariable::kOutput, INNVariable::kReal);
  list.AddCatVar("x2", "", 2, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  NNOutputList l(list);
  EXPECT_EQ(std::make_tuple(l.GetNContinuous(), l.GetNCategorical(), l.GetNUnits(), l.FindName("c"),
                            l.FindName("x1")),
            std::make_tuple(1, 1, 4, 1, -1));
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(0), nullptr);

  const double units[] = {0.5, 0.1, 0.7, 0.2};
  EXPECT_EQ(l.SetOutputs(units), 1.0);  // the last target's winner
  EXPECT_FALSE(l.IsMissing());
  const auto& categ = dynamic_cast<const NNCategOutput&>(*l.GetOutputAt(1));
  EXPECT_EQ(categ.GetOutputs(), (std::vector<double>{0.1, 0.7, 0.2}));
  EXPECT_EQ(l.GetOutputAt(2), nullptr);
  // That SetMissing hides the outputs again is seen where raw records are
  // scored (a record that cannot be encoded leaves the outputs missing).
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

// Standard mode draws from the C library's generator, which on this
// platform goes far beyond 32767: a draw is 15 bits of rand() over 32767,
// so every draw is a whole number of 32767ths in [0, 1], the sequence
// follows rand() after the seed, and the draws reach both ends.
TEST(StandardRandom, DrawsStayInTheUnitIntervalWhateverRandMax) {
  std::srand(31);
  const int r1 = std::rand(), r2 = std::rand();
  VXRandom standard(31, false);
  EXPECT_EQ(standard.Uniform(), (r1 % 32768) / 32767.0);
  EXPECT_EQ(standard.Uniform(), (r2 % 32768) / 32767.0);
  double lowest = 1.0, highest = 0.0;
  int fractional = 0;
  for (int i = 0; i < 100000; ++i) {
    const double u = standard.Uniform();
    lowest = std::min(lowest, u);
    highest = std::max(highest, u);
    const double steps = u * 32767.0;
    fractional += std::fabs(steps - std::round(steps)) > 1e-6;
  }
  EXPECT_GE(lowest, 0.0);
  EXPECT_LE(highest, 1.0);
  EXPECT_LT(lowest, 0.001);
  EXPECT_GT(highest, 0.999);
  EXPECT_EQ(fractional, 0);
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

// Plain units add a bias to the Gaussians of the squared distances over
// twice the squared widths; normalised ones share out 1 among the units
// and have no bias column.
TEST(RBFNetwork, ScoresThroughTheLayersAndSurvivesItsSavedForms) {
  for (const ActivationFunction f : {kRadialBasis, kNormalizedRadialBasis}) {
    SCOPED_TRACE(f);
    RBFSettings settings(2, {1, 3}, 100);
    settings.SetActivFnHiddenLayer(f);
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
    std::vector<double> g;
    for (std::size_t j = 0; j < 4; ++j) {
      const auto& c = h.GetCenters()[j];
      const double d2 = (0.3 - c[0]) * (0.3 - c[0]) + (0.6 - c[1]) * (0.6 - c[1]);
      g.push_back(std::exp(-d2 / (2 * h.GetAdjustedVariances()[j])));
    }
    const int bias = f == kRadialBasis ? 1 : 0;
    const double sum = bias ? 1.0 : std::accumulate(g.begin(), g.end(), 0.0);
    const double* w = net.GetLayer(2)->GetWeights();
    for (int k = 0; k < 4; ++k) {
      double y = bias ? w[k * 5] : 0.0;
      for (int j = 0; j < 4; ++j) y += w[k * (4 + bias) + bias + j] * g[std::size_t(j)] / sum;
      EXPECT_NEAR(scored[k], y, 1e-14) << k;
    }
    for (auto& b : saved_forms::RoundTrips(net, [] { return std::make_unique<NNetwork>(); })) {
      double again[4];
      b->Score(status, record, again);
      for (int k = 0; k < 4; ++k) EXPECT_EQ(again[k], scored[k]);
    }
    if (!bias) continue;
    NNetwork target;
    saved_forms::ExpectReadersRobust(
        net, target,
        {"Error reading NNetwork!\n", "Error reading RBFInputLayer!\n",
         "Error reading RBFHiddenLayer!\n", "Error reading RBFOutputLayer!\n"},
        {"Failure reading NNetwork!\n", "Failure reading RBFInputLayer!\n",
         "Failure reading RBFHiddenLayer!\n", "Failure reading RBFOutputLayer!\n"});
  }
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

  // Output counts that do not fit together: a weight count off the layout
  // rule, an MLP activation.
  RBFHiddenLayer plain(3, &in, VXNNCommon::kRadialBasis);
  plain.SetWeights(std::valarray<double>{1, 2, 0, 0, 3, 2, 1, 2.5, 4}, 0);
  RBFOutputLayer outTarget(&plain);
  const int rbf = VXNNCommon::kRadialBasis, mlp = VXNNCommon::kTanH;
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
      {"more centres than units", true, 1, 2, 2, 0, true},
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

// --- The vector kernels ------------------------------------------------------

// The vector kernels against the record-by-record reference, for every
// kernel this machine runs: blocked passes (in place and over a stream) on
// the network shapes the gradient check covers and on wider ones that fill
// the kernels' register tiles (and so their products and activations at
// every edge); scoring one record (packed weights, all units of a layer at
// once) against the layer code; and the packed weights and encoders
// following every way they can change.

// What one pass leaves: counts, error, gradient, accuracy, averages, and the
// output units of the last record.
struct PassResult {
  int n = 0;
  double error = 0.0, errorOnly = 0.0, accuracy = 0.0, errorAverages = 0.0;
  std::valarray<double> gradient, averages;
  std::vector<double> lastOutputs;
};

// A source that reuses one record, as a stream does: it cannot hand out
// blocks, so the blocked pass copies each record's values.
struct StreamedRecords : host_doubles::CountingSource {
  using CountingSource::CountingSource;
  const Record* Next() override {
    const Record* r = CountingSource::Next();
    return r ? &(fRecord = *r) : nullptr;
  }
  Record fRecord;
};

// In place: the records read where the vector holds them.
PassResult RunPasses(PassKernel kernel, NNetwork& net, const std::vector<Record>& records,
                     bool inPlace = true) {
  KernelScope scope(kernel);
  auto borrowed = VectorRecordIter::Borrow(records);
  StreamedRecords streamed(records);
  VXCommon_1_2::MultiPassRecordIter& source =
      inPlace ? static_cast<VXCommon_1_2::MultiPassRecordIter&>(borrowed) : streamed;
  VXStatus status;
  PassResult r;
  net.ResetDerivatives();
  net.SetComputeAverages(true);
  net.ProcessRecords(status, source, 1 << 30, r.n, false, true);
  net.SetComputeAverages(false);
  r.error = net.GetAccumError();
  r.accuracy = net.GetAccuracy();
  net.GetGradient(r.gradient);
  r.averages = net.GetOutputAverages();
  const INLayer* out = net.GetLayer(net.GetNumLayers());
  r.lastOutputs.assign(out->GetUnitValues(), out->GetUnitValues() + out->GetNumUnits());
  // An error-only pass that also sums the mean model's error.
  source.Rewind();
  net.ResetDerivatives();
  net.SetComputeErrorAverages(true);
  int n = 0;
  net.ProcessRecords(status, source, 1 << 30, n, true, false);
  net.SetComputeErrorAverages(false);
  r.errorOnly = net.GetAccumError();
  r.errorAverages = net.GetErrorAverages();
  return r;
}

// Records of the shape, with a categorical target left without a category
// (all its units 0, as a missing or unknown category is encoded) and a
// record too short to be used, which both kinds of pass must skip; the
// inputs scaled by spread.
std::vector<Record> RecordsFor(int inputs, const std::vector<int>& categories, int n,
                               double spread = 1.0) {
  auto records = MakeRecords(inputs, categories, n, 11);
  for (std::size_t r = 0; r < records.size(); ++r) {
    std::vector<double> v(records[r].GetAll(), records[r].GetAll() + records[r].Size());
    for (int i = 0; i < inputs; ++i) v[i] *= spread;
    for (std::size_t t = 0, unit = inputs; t < categories.size() && r == 3; unit += categories[t++])
      if (categories[t] > 1) std::fill(v.begin() + unit, v.begin() + unit + categories[t], 0.0);
    records[r] = Record(v);
  }
  records.insert(records.begin() + 7, Record(std::vector<double>(inputs, 0.5)));
  return records;
}

void ExpectClose(const std::valarray<double>& a, const std::valarray<double>& b, double tol) {
  ASSERT_EQ(a.size(), b.size());
  const double scale = std::max(std::abs(b).max(), 1e-300);
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_LE(std::fabs(a[i] - b[i]), tol * scale) << "entry " << i;
}

// Every kernel, in place and streamed, against the reference pass over the
// records, of which used are used; the gradients and target averages only
// when the network has them. The blocked passes add their sums up block by
// block, so they differ from the reference's record-order sums in the last
// bits only.
void ExpectKernelsAsReference(NNetwork& net, const std::vector<Record>& records, int used,
                              bool gradients) {
  const PassResult ref = RunPasses(PassKernel::kReference, net, records);
  ASSERT_EQ(ref.n, used);
  ASSERT_GT(gradients ? std::abs(ref.gradient).max() : ref.error, gradients ? 1e-3 : 0.0);
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    for (bool inPlace : {true, false}) {
      if (k == PassKernel::kReference) continue;
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(k)) +
                   (inPlace ? " in place" : " streamed"));
      const PassResult got = RunPasses(k, net, records, inPlace);
      EXPECT_EQ(got.n, ref.n);
      EXPECT_NEAR(got.error, ref.error, 1e-12 * ref.error);
      EXPECT_NEAR(got.errorOnly, ref.errorOnly, 1e-12 * ref.errorOnly);
      EXPECT_NEAR(got.errorAverages, ref.errorAverages, 1e-12 * ref.errorAverages);
      EXPECT_NEAR(got.accuracy, ref.accuracy, 1e-12);
      for (std::size_t j = 0; j < ref.lastOutputs.size(); ++j)
        EXPECT_NEAR(got.lastOutputs[j], ref.lastOutputs[j],
                    1e-12 * (1 + std::fabs(ref.lastOutputs[j])));
      if (!gradients) continue;
      ExpectClose(got.gradient, ref.gradient, 1e-12);
      ExpectClose(got.averages, ref.averages, 1e-15);
    }
  }
}

class BlockedPass : public ::testing::TestWithParam<KernelCase> {};

TEST_P(BlockedPass, EveryKernelGivesTheReferenceSums) {
  const auto& [inputs, hiddenFn, hidden, categories, outputFn] = GetParam();
  auto settings = MakeSettings(inputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);
  net.SetWeights(RandomWeights(net.GetNumWeights(), 7, -1.0, 1.0));
  // Two whole blocks and a part of one.
  ExpectKernelsAsReference(net, RecordsFor(inputs, categories, 2 * 96 + 17), 2 * 96 + 17, true);
}

// The gradient check's shapes: both hidden activations, 0-2 hidden layers,
// continuous, categorical and mixed targets, SoftMax and Identity.
INSTANTIATE_TEST_SUITE_P(GradientCheckShapes, BlockedPass, GradientCheckShapes(3));

// Layers wide enough for whole register tiles, with ragged edges: units
// past the last whole vector few enough for dot products (33, 50, 10) or
// not (14, 1 + 3).
INSTANTIATE_TEST_SUITE_P(
    WideShapes, BlockedPass,
    ::testing::Combine(::testing::Values(37), ::testing::Values(VXNNCommon::kTanH),
                       ::testing::Values(std::vector<int>{33}, std::vector<int>{50, 14}),
                       ::testing::Values(std::vector<int>{10}, std::vector<int>{1, 3}),
                       ::testing::Values(VXNNCommon::kSoftMax)));

// RBF networks: plain and normalised units, all centres in use or only some,
// records near and far from the centres.
TEST(BlockedRbfPass, EveryKernelGivesTheReferenceErrorsAndOutputs) {
  const struct {
    ActivationFunction hidden;
    int inputs, units, centers;
    std::vector<int> categories;
    double spread;  // inputs uniform in [-spread, spread]
  } cases[] = {{VXNNCommon::kNormalizedRadialBasis, 5, 12, 12, {3, 1}, 1.0},
               {VXNNCommon::kRadialBasis, 5, 12, 12, {3, 1}, 1.0},
               {VXNNCommon::kNormalizedRadialBasis, 37, 21, 17, {10}, 1.0},
               {VXNNCommon::kRadialBasis, 9, 30, 25, {1}, 0.5},
               // Every point far from every centre: the normalisation
               // still finds the nearest.
               {VXNNCommon::kNormalizedRadialBasis, 4, 9, 9, {2}, 40.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.inputs) + "-" + std::to_string(c.units) + "/" +
                 std::to_string(c.centers));
    RBFSettings settings(c.inputs, c.categories, 300);
    settings.SetActivFnHiddenLayer(c.hidden);
    settings.SetNumHiddenUnits(c.units, 1);
    NNetwork net(settings);
    VXRandom rng(5, true);
    net.RandomizeWeights(rng, -1.0, 1.0);
    net.GetRBFHiddenLayer()->SetNumCenters(c.centers);
    ExpectKernelsAsReference(net, RecordsFor(c.inputs, c.categories, 2 * 96 + 5, c.spread),
                             2 * 96 + 5, false);
  }
}

// Far from the origin the blocked RBF pass must still sum each squared
// difference as the hidden layer does, (x_i - c_ji)^2 / a_j term by term: a
// form through |x|^2 - 2 x.c + |c|^2 cancels away most of a distance there.
// Centres and records sit around an offset. For every kernel this
// machine runs: the hidden and output units of each record (the last one of
// a pass over the records up to it, at every place in a block) against a
// record-by-record forward pass, and the summed error of the whole pass.
// The distances are the same bits; the activations may differ in the last
// places, since the kernel's exponential is its own polynomial and its
// normalising sums run in vector lanes, hence relative 1e-13 (values below
// the smallest normal double may be 0; outputs
// relative to the sum of their terms' magnitudes, whose order of addition
// differs too).
TEST(BlockedRbfPass, AgreesWithTheRecordByRecordSumsAtAnyOffset) {
  // With one width for all units a far record's exponents are thousands
  // each but within a few hundred of each other: a distance rounded
  // otherwise than term by term shows in the normalised units.
  const struct {
    int inputs, units, centers;
    bool oneWidth;
  } shapes[] = {{1, 3, 3, false},
                {3, 12, 12, false},
                {9, 21, 17, false},
                {37, 9, 5, false},
                {20, 10, 10, true}};
  for (const double offset : {0.0, 1e4, 1e6})
    for (const ActivationFunction hiddenFn :
         {VXNNCommon::kRadialBasis, VXNNCommon::kNormalizedRadialBasis})
      for (const auto& shape : shapes) {
        SCOPED_TRACE("offset " + std::to_string(offset) + ", activation " +
                     std::to_string(hiddenFn) + ", " + std::to_string(shape.inputs) + "-" +
                     std::to_string(shape.units) + "/" + std::to_string(shape.centers));
        const std::vector<int> categories = {3, 1};
        RBFSettings settings(shape.inputs, categories, 300);
        settings.SetActivFnHiddenLayer(hiddenFn);
        settings.SetNumHiddenUnits(shape.units, 1);
        NNetwork net(settings);
        net.GetRBFHiddenLayer()->SetNumCenters(shape.centers);
        std::mt19937 gen(static_cast<unsigned>(shape.inputs * 31 + shape.centers));
        std::uniform_real_distribution<double> u(-1.0, 1.0), width(0.5, 3.0);
        std::valarray<double> hidden(static_cast<std::size_t>((shape.inputs + 1) * shape.centers));
        for (std::size_t i = 0; i < hidden.size(); ++i)
          hidden[i] = i < static_cast<std::size_t>(shape.inputs * shape.centers) ? offset + u(gen)
                                                                                 : width(gen);
        if (shape.oneWidth)
          hidden[std::slice(shape.inputs * shape.centers, shape.centers, 1)] = 1.7;
        ASSERT_EQ(net.GetLayer(1)->SetWeights(hidden, 0), static_cast<int>(hidden.size()));
        INLayer* out = net.GetLayer(2);
        std::valarray<double> w(static_cast<std::size_t>(out->GetNumWeights()));
        for (double& x : w) x = u(gen);
        out->SetWeights(w, 0);
        // Every fourth record far from every centre.
        std::vector<Record> records = MakeRecords(shape.inputs, categories, 2 * 96 + 5, 17);
        for (std::size_t r = 0; r < records.size(); ++r)
          for (int i = 0; i < shape.inputs; ++i)
            records[r].GetAll()[i] = offset + (r % 4 == 3 ? 25.0 : 1.5) * records[r].GetAll()[i];

        // The record-by-record forward pass.
        const int nOut = net.GetNumOutputs();
        std::vector<std::vector<double>> hiddenRef, outRef, outScale;
        double errorRef = 0.0;
        for (const Record& r : records) {
          net.ResetUnitValues();
          net.ForwardPass(r.GetAll(), true);
          const double* h = net.GetLayer(1)->GetUnitValues();
          const double* y = out->GetUnitValues();
          hiddenRef.emplace_back(h, h + shape.centers);
          outRef.emplace_back(y, y + nOut);
          outScale.emplace_back();
          const bool bias = hiddenFn == VXNNCommon::kRadialBasis;
          const int row = shape.units + (bias ? 1 : 0);
          for (int k = 0; k < nOut; ++k) {
            double scale = bias ? std::fabs(w[k * row]) : 0.0;
            for (int j = 0; j < shape.centers; ++j)
              scale += std::fabs(h[j] * w[k * row + (bias ? 1 : 0) + j]);
            outScale.back().push_back(scale);
          }
          errorRef += net.RecordError(r.GetAll() + shape.inputs);
        }
        for (PassKernel k : VXNeural::AvailablePassKernels()) {
          if (k == PassKernel::kReference) continue;
          SCOPED_TRACE(VXNeural::PassKernelName(k));
          KernelScope scope(k);
          auto source = VectorRecordIter::Borrow(records);
          VXStatus status;
          int n = 0;
          net.ResetDerivatives();
          net.ProcessRecords(status, source, 1 << 30, n, true, false);
          ASSERT_EQ(n, static_cast<int>(records.size()));
          EXPECT_NEAR(net.GetAccumError(), errorRef, 1e-13 * errorRef);
          for (int last = 0; last < n; ++last) {
            source.Rewind();
            net.ResetDerivatives();
            int read = 0;
            net.ProcessRecords(status, source, last + 1, read, true, false);
            ASSERT_EQ(read, last + 1);
            const double* h = net.GetLayer(1)->GetUnitValues();
            const double* y = out->GetUnitValues();
            for (int j = 0; j < shape.centers; ++j)
              ASSERT_NEAR(h[j], hiddenRef[last][j], 1e-13 * hiddenRef[last][j] + 1e-300)
                  << "record " << last << " unit " << j;
            for (int o = 0; o < nOut; ++o)
              ASSERT_NEAR(y[o], outRef[last][o], 1e-13 * outScale[last][o])
                  << "record " << last << " output " << o;
          }
        }
      }
}

// The cancel object is asked before every record, by the record-by-record
// pass and by every blocked one alike: with a host that says yes at its
// N-th question, the pass reads exactly the N - 1 records before it (polls:
// one per record read, and the yes), leaves the source at record N - 1 and
// sums those records alone; a host that never says yes is asked once per
// record. Sources: records in place, records copied from a stream, and
// records in place that the source stops handing out in place part way
// (the pass then reads on with Next without asking twice for one record).
struct InPlaceRecords : VectorRecordIter {
  InPlaceRecords(const std::vector<Record>& records, std::size_t refuseFrom)
      : VectorRecordIter(Borrow(records)), fRefuseFrom(refuseFrom) {}
  const Record* Next() override {
    const Record* r = VectorRecordIter::Next();
    fRead += r != nullptr;
    return r;
  }
  int NextRows(const double** rows, int max, int width) override {
    if (fRead >= fRefuseFrom) return -1;
    const int n = HandOutRows(rows, max, width);
    fRead += static_cast<std::size_t>(std::max(n, 0));
    return n;
  }
  std::size_t fRefuseFrom, fRead = 0;
};

TEST(PassCancel, EveryPassAsksBeforeEachRecordAndStopsRightThere) {
  const int kRecords = 2 * 96 + 17;
  const std::vector<Record> records = MakeRecords(5, {3}, kRecords, 23);
  const long never = -1;
  for (const bool rbf : {false, true})
    for (PassKernel kernel : VXNeural::AvailablePassKernels())
      for (const char* how : {"in place", "streamed", "in place, then refused"})
        for (const long yesAt : {1L, 2L, 96L, 97L, 98L, 150L, 209L, 210L, never}) {
          SCOPED_TRACE(std::string(rbf ? "RBF " : "MLP ") + VXNeural::PassKernelName(kernel) +
                       ", " + how + ", yes at poll " + std::to_string(yesAt));
          KernelScope scope(kernel);
          host_doubles::CountdownCancel cancel(yesAt == never ? never : yesAt - 1);
          RBFSettings rbfSettings(5, {3}, kRecords);
          auto mlpSettings = MakeSettings(5, {3}, {4}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
          NeuralSettings& settings = rbf ? static_cast<NeuralSettings&>(rbfSettings) : *mlpSettings;
          settings.SetCancelPointer(&cancel);
          NNetwork net(settings);
          net.SetWeights(RandomWeights(net.GetNumWeights(), 3, 0.2, 1.0));
          const std::string h = how;
          InPlaceRecords inPlace(records, h == "in place" ? kRecords : 50);
          host_doubles::CountingSource streamed(records);
          VXCommon_1_2::RecordIterator& source =
              h == "streamed" ? static_cast<VXCommon_1_2::RecordIterator&>(streamed) : inPlace;
          VXStatus status;
          int n = -1;
          net.ProcessRecords(status, source, 1 << 30, n, false, false);
          const int read = yesAt == never ? kRecords : std::min<int>(yesAt - 1, kRecords);
          EXPECT_EQ(n, read);
          EXPECT_EQ(h == "streamed" ? streamed.Position() : inPlace.fRead,
                    static_cast<std::size_t>(read));
          EXPECT_EQ(cancel.fQueries, yesAt == never || yesAt > kRecords ? read : read + 1);
          if (yesAt != never && yesAt <= kRecords) {
            EXPECT_TRUE(net.IsCanceled());
            EXPECT_EQ(cancel.fQueries, read + 1) << "latched: the host is not asked again";
          }
          // The records read are the ones summed: the reference pass over
          // as many.
          const double error = net.GetAccumError();
          KernelScope reference(PassKernel::kReference);
          settings.SetCancelPointer(nullptr);
          NNetwork again(settings);
          again.SetWeights(RandomWeights(again.GetNumWeights(), 3, 0.2, 1.0));
          auto all = VectorRecordIter::Borrow(records);
          int m = 0;
          again.ProcessRecords(status, all, read, m, false, false);
          EXPECT_NEAR(error, again.GetAccumError(), 1e-12 * again.GetAccumError());
        }
}

// --- Scoring one record ------------------------------------------------------

// Input rows: dense values, one-of-n groups (mostly zeros, whole pairs of
// zeros among them), an all-zero row, large inputs that saturate TanH and
// take the Sigmoid below its floor, and one input at the missing value.
std::vector<std::vector<double>> InputRows(int inputs) {
  std::vector<std::vector<double>> rows;
  for (const auto& r : MakeRecords(inputs, {}, 6, 3))
    rows.emplace_back(r.GetAll(), r.GetAll() + inputs);
  for (int hot = 0; hot < 3; ++hot) {
    rows.emplace_back(static_cast<std::size_t>(inputs), 0.0);
    for (int i = hot; i < inputs; i += 5) rows.back()[static_cast<std::size_t>(i)] = 1.0;
  }
  rows.emplace_back(static_cast<std::size_t>(inputs), 0.0);
  rows.push_back(rows[0]);
  for (double& x : rows.back()) x *= 900.0;
  rows.push_back(rows[1]);
  rows.back()[static_cast<std::size_t>(inputs / 2)] = VXMV::gMissingValue;
  return rows;
}

// Equal within 1e-12 of the larger magnitude (plus 1e-12 absolute), or
// the same infinity or both NaN.
void ExpectSame(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what;
  } else if (std::isinf(want)) {
    EXPECT_EQ(got, want) << what;
  } else {
    EXPECT_NEAR(got, want, 1e-12 * (1.0 + std::fabs(want))) << what;
  }
}

std::vector<double> ScoreWith(PassKernel k, NNetwork& net, const double* x) {
  KernelScope scope(k);
  std::vector<double> out(static_cast<std::size_t>(net.GetNumOutputs()), -7.0);
  VXStatus status(1, false);
  net.Score(status, x, out.data());
  EXPECT_TRUE(status.IsOK());
  return out;
}

class KernelScore : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KernelScore, EqualsTheRecordByRecordForwardPass) {
  const auto& [inputs, hiddenFn, hidden, categories, outputFn] = GetParam();
  auto settings = MakeSettings(inputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);
  const std::valarray<double> w = RandomWeights(net.GetNumWeights(), 5, -1.0, 1.0);
  net.SetWeights(w);
  const auto rows = InputRows(inputs);
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    SCOPED_TRACE(VXNeural::PassKernelName(k));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::vector<double> ref = ScoreWith(PassKernel::kReference, net, rows[r].data());
      const std::vector<double> got = ScoreWith(k, net, rows[r].data());
      ASSERT_EQ(got.size(), ref.size());
      for (std::size_t j = 0; j < ref.size(); ++j)
        ExpectSame(got[j], ref[j], "row " + std::to_string(r) + " unit " + std::to_string(j));
    }
  }
}

// The gradient check's shapes.
INSTANTIATE_TEST_SUITE_P(GradientCheckShapes, KernelScore, GradientCheckShapes(3));

// Layers as wide as and wider than every kernel's widest strip, with ragged
// ends (1 to 7 vectors left over), odd input counts, and Sigmoid outputs.
INSTANTIATE_TEST_SUITE_P(
    WideShapes, KernelScore,
    ::testing::Combine(::testing::Values(1, 64, 77),
                       ::testing::Values(VXNNCommon::kTanH, VXNNCommon::kSigmoid),
                       ::testing::Values(std::vector<int>{32}, std::vector<int>{71, 9}),
                       ::testing::Values(std::vector<int>{10}, std::vector<int>{1, 3}),
                       ::testing::Values(VXNNCommon::kSoftMax, VXNNCommon::kSigmoid)));

// Scoring a block through the SoftMax against a second, plain
// implementation (long double, the group less its largest sum), for every
// vector kernel: output sums near +-800 over several rows, whose
// exponentials overflow unless the largest is taken out first.
TEST(KernelScoreRows, SoftMaxOfLargeSums) {
  const double hidden[2][3] = {{0.0, 1.0, 0.0}, {0.5, 0.0, -1.0}};  // bias, then weights
  const double output[3][3] = {{500.0, 300.0, 0.0}, {480.0, 0.0, -200.0}, {-700.0, 50.0, 50.0}};
  const double inputs[5][2] = {{0.0, 0.0}, {0.3, -0.2}, {-1.0, 2.0}, {2.5, 0.1}, {-0.05, -3.0}};
  auto settings = MakeSettings(2, {3}, {2}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  std::copy(&hidden[0][0], &hidden[0][0] + 6, net.GetLayer(1)->GetWeights());
  std::copy(&output[0][0], &output[0][0] + 9, net.GetLayer(2)->GetWeights());
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    if (k == PassKernel::kReference) continue;  // scores record by record
    SCOPED_TRACE(VXNeural::PassKernelName(k));
    KernelScope scope(k);
    VXNeural::detail::RowScorer scorer(net);
    std::vector<double> y(5 * 4, -7.0);
    const double* rows[5];
    double* outRows[5];
    for (int r = 0; r < 5; ++r) {
      rows[r] = inputs[r];
      outRows[r] = &y[static_cast<std::size_t>(r) * 4];
    }
    scorer.Score(rows, 5, outRows);
    for (int r = 0; r < 5; ++r) {
      long double h[2], c[3];
      for (int j = 0; j < 2; ++j)
        h[j] = std::tanh(static_cast<long double>(hidden[j][0]) + hidden[j][1] * inputs[r][0] +
                         hidden[j][2] * inputs[r][1]);
      for (int u = 0; u < 3; ++u) c[u] = output[u][0] + output[u][1] * h[0] + output[u][2] * h[1];
      const long double m = *std::max_element(c, c + 3);
      long double s = 0.0L;
      for (int j = 0; j < 3; ++j) s += std::exp(c[j] - m);
      for (int j = 0; j < 3; ++j) {
        const double want = static_cast<double>(std::exp(c[j] - m) / s);
        EXPECT_NEAR(y[r * 4 + j], want, 1e-12 * want + 1e-300) << r << " " << j;
      }
      EXPECT_EQ(y[r * 4 + 3], -7.0) << "written past the outputs";
    }
  }
}

// A saved SoftMax output layer whose groups are 2, 0 and 1 units: the empty
// group ends the groups, and the unit after it is scored by the block as by
// the kernel's one-record Score (e^0, 1), the others within rounding.
TEST(KernelScoreRows, AUnitAfterAnEmptyGroupAsTheOneRecordScore) {
  auto settings = MakeSettings(2, {3}, {2}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork saved(*settings);
  saved.SetWeights(RandomWeights(saved.GetNumWeights(), 21, -2.0, 2.0));
  std::ostringstream xml;
  saved.WriteObjectXML(xml);
  std::string text = xml.str();
  const std::string groups = "<int>1</int>\n      <int>3</int>\n    </object>";
  const std::size_t at = text.rfind(groups);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, groups.size(),
               "<int>3</int><int>2</int><int>0</int><int>1</int>\n    </object>");
  NNetwork net;
  std::istringstream in(text);
  net.ReadObjectXML(in);
  ASSERT_EQ(static_cast<const MLPLayer*>(net.GetLayer(2))->GetNOutputCategories(),
            (std::vector<int>{2, 0, 1}));
  const double inputs[3][2] = {{0.0, 0.0}, {0.7, -1.3}, {-2.0, 0.4}};
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    if (k == PassKernel::kReference) continue;  // leaves such a unit as it was
    SCOPED_TRACE(VXNeural::PassKernelName(k));
    KernelScope scope(k);
    VXNeural::detail::RowScorer scorer(net);
    std::vector<double> y(3 * 3, -7.0);
    const double* rows[3] = {inputs[0], inputs[1], inputs[2]};
    double* outRows[3] = {&y[0], &y[3], &y[6]};
    scorer.Score(rows, 3, outRows);
    for (int r = 0; r < 3; ++r) {
      const std::vector<double> one = ScoreWith(k, net, inputs[r]);
      EXPECT_NEAR(y[r * 3], one[0], 1e-14) << r;
      EXPECT_NEAR(y[r * 3 + 1], one[1], 1e-14) << r;
      EXPECT_EQ(one[2], 1.0) << r;
      EXPECT_EQ(y[r * 3 + 2], 1.0) << r;
    }
  }
}

// Every way the weights change between two scores; the second score must
// see the new weights, not the packed copy of the old ones.
TEST(KernelScore, FollowsEveryChangeOfTheWeights) {
  auto settings = MakeSettings(6, {3, 1}, {5}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  VXRandom rng(4, true);
  NNetwork other(*settings);
  other.SetWeights(RandomWeights(other.GetNumWeights(), 13, -1.0, 1.0));
  const struct {
    const char* name;
    std::function<void(NNetwork&)> change;
  } changes[] = {
      {"SetWeights",
       [](NNetwork& n) { n.SetWeights(RandomWeights(n.GetNumWeights(), 9, -2.0, 2.0)); }},
      {"RandomizeWeights", [&](NNetwork& n) { n.RandomizeWeights(rng, -2.0, 2.0); }},
      {"write through GetWeights", [](NNetwork& n) { n.GetLayer(1)->GetWeights()[3] += 0.75; }},
      {"output weights through GetWeights",
       [](NNetwork& n) { n.GetLayer(2)->GetWeights()[0] -= 1.5; }},
      {"layer SetWeights",
       [](NNetwork& n) {
         n.GetLayer(2)->SetWeights(std::valarray<double>(0.25, n.GetLayer(2)->GetNumWeights()), 0);
       }},
      {"ResetAll", [](NNetwork& n) { n.ResetAll(); }},
      {"AddHiddenUnit", [&](NNetwork& n) { n.AddHiddenUnit(rng); }},
      {"RemoveHiddenUnit", [](NNetwork& n) { n.RemoveHiddenUnit(1); }},
      {"ReadObject of other weights",
       [&](NNetwork& n) {
         std::stringstream s;
         other.WriteObject(s);
         n.ReadObject(s);
       }},
  };
  const auto rows = InputRows(6);
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    if (k == PassKernel::kReference) continue;
    for (const auto& c : changes) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(k)) + ", " + c.name);
      NNetwork net(*settings);
      net.SetWeights(RandomWeights(net.GetNumWeights(), 1, -1.0, 1.0));
      const std::vector<double> before = ScoreWith(k, net, rows[0].data());
      c.change(net);
      const std::vector<double> ref = ScoreWith(PassKernel::kReference, net, rows[0].data());
      ASSERT_NE(ref, before) << "the change must change the scores";
      const std::vector<double> got = ScoreWith(k, net, rows[0].data());
      for (std::size_t j = 0; j < ref.size(); ++j) ExpectSame(got[j], ref[j], std::to_string(j));
    }
  }
}

// Scoring re-packs its copy of a layer's weights when the layer's stamp
// moves: every way of writing them must move it, and no read may (a read
// that did would make every score after it re-pack).
TEST(WeightStamp, ReadsLeaveItAndWritesMoveIt) {
  auto settings = MakeSettings(6, {3, 1}, {5}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  VXRandom rng(4, true);
  const struct {
    const char* name;
    bool writes;
    std::function<void(MLPLayer&)> use;
  } uses[] = {
      {"const GetWeights", false,
       [](MLPLayer& l) { EXPECT_NE(static_cast<const INLayer&>(l).GetWeights(), nullptr); }},
      {"GetWeightData", false,
       [](MLPLayer& l) { EXPECT_NE(static_cast<const INLayer&>(l).GetWeightData(), nullptr); }},
      {"GetWeights into a vector", false,
       [](MLPLayer& l) {
         std::valarray<double> v(static_cast<std::size_t>(l.GetNumWeights()));
         EXPECT_EQ(l.GetWeights(v, 0), l.GetNumWeights());
       }},
      {"GetUnitParameters", false,
       [](MLPLayer& l) {
         std::vector<double> p;
         double extra = 0.0;
         l.GetUnitParameters(0, p, extra);
         EXPECT_FALSE(p.empty());
       }},
      {"const GetUnitValues", false,
       [](MLPLayer& l) { static_cast<const INLayer&>(l).GetUnitValues(); }},
      {"ComputeUnitValues", false, [](MLPLayer& l) { l.ComputeUnitValues(false); }},
      {"writable GetWeights", true, [](MLPLayer& l) { l.GetWeights(); }},
      {"SetWeights", true,
       [](MLPLayer& l) {
         l.SetWeights(std::valarray<double>(0.5, static_cast<std::size_t>(l.GetNumWeights())), 0);
       }},
      {"RandomizeWeights", true, [&](MLPLayer& l) { l.RandomizeWeights(rng, -1.0, 1.0); }},
      {"ResetAll", true, [](MLPLayer& l) { l.ResetAll(); }},
  };
  for (const auto& u : uses) {
    SCOPED_TRACE(u.name);
    NNetwork net(*settings);
    net.SetWeights(RandomWeights(net.GetNumWeights(), 1, -1.0, 1.0));
    for (int index : {1, 2}) {
      auto& layer = static_cast<MLPLayer&>(*net.GetLayer(index));
      const std::uint64_t before = layer.GetWeightStamp();
      u.use(layer);
      EXPECT_EQ(layer.GetWeightStamp() != before, u.writes) << "layer " << index;
    }
  }
  // The read-only view is the array the writable one hands out.
  NNetwork net(*settings);
  INLayer& layer = *net.GetLayer(1);
  EXPECT_EQ(static_cast<const INLayer&>(layer).GetWeights(), layer.GetWeights());
}

// Encoding for scoring reads the inputs' linear maps from a copy, in runs
// of neighbouring continuous inputs (here x, z and w: the target standing
// between x and z in the list has no field in a scoring record); every
// change made through the writable variable list must reach the next
// record, for scoring and for training, and a record too short for a run is
// refused.
TEST(ScoreEncoding, FollowsChangesOfTheEncoders) {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  // The target lies between x and z in the list.
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  list.AddContVar("z", "", -2.0, 2.0, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("w", "", -2.0, 2.0, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  MLPSettings settings(list, 10);
  settings.SetStandInputs(VXNNCommon::kMinRange);
  const double m = VXMV::gMissingValue;
  const struct {
    const char* name;
    std::function<void(NNVarList&)> change;
    std::vector<double> units;  // x, z, w, c of the scoring record {5, 1, -1, 1}
  } cases[] = {
      {"none", [](NNVarList&) {}, {0.5, 0.75, 0.25, 0, 1, 0}},
      {"user-missing interval on x",
       [](NNVarList& l) { l.SetMissingInterval(0, 4.0, 6.0); },
       {m, 0.75, 0.25, 0, 1, 0}},
      {"user-missing interval on w",
       [](NNVarList& l) { l.SetMissingInterval(3, -1.5, 0.0); },
       {0.5, 0.75, m, 0, 1, 0}},
      {"standardised by mean and deviation",
       [](NNVarList& l) {
         l.SetupContEncoders(VXNNCommon::kMeanStdDev, VXNNCommon::kNoStandardization);
       },
       {0.0, 1.0, -1.0, 0, 1, 0}},
      {"left unchanged",
       [](NNVarList& l) {
         l.SetupContEncoders(VXNNCommon::kNoStandardization, VXNNCommon::kNoStandardization);
       },
       {5.0, 1.0, -1.0, 0, 1, 0}},
  };
  // The scoring record holds the inputs alone; the training record of the
  // same values has the target's field too, in list order.
  const Record raw(std::vector<double>{5, 1, -1, 1});
  const Record training(std::vector<double>{5, 0, 1, -1, 1});
  const Record withoutW(std::vector<double>{5, 1});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NNDataPreparator p(list, settings, nullptr, nullptr);
    Record out;
    ASSERT_TRUE(p.EncodeInputs(raw, out).IsOK());
    c.change(p.GetVarList());
    ASSERT_TRUE(p.EncodeInputs(raw, out).IsOK());
    EXPECT_EQ(std::vector<double>(out.GetAll(), out.GetAll() + out.Size()), c.units);
    // Encoding for training reads the replaced encoders too (the input
    // units come first).
    Record full;
    ASSERT_TRUE(p.EncodeRecord(training, full).IsOK());
    EXPECT_EQ(std::vector<double>(full.GetAll(), full.GetAll() + 6), c.units);
    EXPECT_EQ(p.EncodeInputs(withoutW, out), VXStatus(50018, false));
    EXPECT_EQ(std::vector<double>(out.GetAll(), out.GetAll() + out.Size()),
              std::vector<double>(6, 0.0));
  }
}

// --- The kernels themselves ----------------------------------------------------

// The kernels against plain loops and the C library, for every kernel
// this machine runs: column counts of every strip width and remainder, row
// counts that leave partial register tiles, inner lengths past the cache
// chunk at which a strip cuts K, both strides of A, with and without
// accumulation. Cells outside the M x N result must keep what they held.

// The kernels this machine runs, with their tables.
std::vector<std::pair<PassKernel, const KernelTable*>> Tables() {
  std::vector<std::pair<PassKernel, const KernelTable*>> usable;
  for (auto t : {std::pair{PassKernel::kBaseline, VXNeural::detail::BaselineKernel()},
                 std::pair{PassKernel::kAvx2, VXNeural::detail::Avx2Kernel()},
                 std::pair{PassKernel::kAvx512, VXNeural::detail::Avx512Kernel()}})
    if (t.second && VXNeural::IsPassKernelAvailable(t.first)) usable.push_back(t);
  return usable;
}

// Deterministic values in [-1, 1) without a random engine: n of them from
// the i-th on.
double Value(int i) { return ((i * 7919 + 13) % 2001) / 1000.0 - 1.0; }
std::vector<double> Values(std::size_t n, int from) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = Value(from + static_cast<int>(i));
  return v;
}

// count rows of n values each, from data + i * ld, copied into vectors of
// their own (no longer than what a kernel may read), and pointers to them.
struct OwnRows {
  OwnRows(const double* data, int count, std::ptrdiff_t ld, int n) {
    for (int i = 0; i < count; ++i) rows.emplace_back(data + i * ld, data + i * ld + n);
    for (const auto& r : rows) ptrs.push_back(r.data());
  }
  std::vector<std::vector<double>> rows;
  std::vector<const double*> ptrs;
};

struct GemmCase {
  int M, N, K;
  bool transposedA;  // A read as D^T (am = 1) rather than row by row
  bool accumulate;
};

TEST(KernelGemm, EveryKernelMatchesThePlainProduct) {
  // N of 1 to 16 vectors of the widest kernel: every strip width and the
  // remainders after them; the wide-input gradient (50 x 200 over a block of
  // 96 records) and strips cut into several chunks of K; K = 0: C cleared,
  // or left as it was.
  const GemmCase cases[] = {
      {13, 8, 5, 0, 0},   {13, 16, 7, 0, 1},   {7, 24, 9, 1, 0},    {9, 32, 11, 0, 0},
      {11, 40, 37, 0, 1}, {17, 48, 20, 1, 1},  {96, 56, 200, 0, 0}, {50, 56, 96, 1, 1},
      {19, 64, 3, 0, 0},  {23, 72, 10, 1, 0},  {5, 80, 4, 0, 1},    {31, 88, 6, 0, 0},
      {4, 96, 15, 1, 1},  {8, 104, 2, 0, 0},   {3, 112, 160, 0, 1}, {1, 120, 8, 1, 0},
      {29, 128, 9, 0, 0}, {50, 200, 96, 1, 1}, {6, 56, 300, 0, 1},  {10, 40, 250, 1, 0},
      {7, 56, 0, 0, 0},   {7, 40, 0, 0, 1}};
  for (const auto& [kernel, table] : Tables()) {
    for (const GemmCase& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << VXNeural::PassKernelName(kernel) << " " << c.M << "x" << c.N << " K " << c.K
                   << (c.transposedA ? " A^T" : "") << (c.accumulate ? " +=" : ""));
      // Leading dimensions wider than the matrices, so that a kernel
      // reading or writing past its columns shows.
      const std::ptrdiff_t lda = c.transposedA ? c.M + 3 : c.K + 5, ldb = c.N + 8, ldc = c.N + 16;
      const std::ptrdiff_t am = c.transposedA ? 1 : lda, ak = c.transposedA ? lda : 1;
      const auto A = Values((c.transposedA ? c.K : c.M) * lda + 8, 0);
      const auto B = Values(c.K * ldb + 8, 5000), before = Values((c.M + 1) * ldc, 9000);
      // The same operands as rows of their own for the variants that take
      // row pointers.
      const OwnRows aRows(A.data(), c.transposedA ? 0 : c.M, lda, c.K),
          bRows(B.data(), c.K, ldb, c.N);
      for (int variant = 0; variant < 3; ++variant) {
        if (variant == 1 && c.transposedA) continue;
        SCOPED_TRACE(variant == 0 ? "strided" : variant == 1 ? "rows of A" : "rows of B");
        std::vector<double> C = before;
        if (variant == 0)
          table->gemm(c.M, c.N, c.K, A.data(), am, ak, B.data(), ldb, C.data(), ldc, c.accumulate);
        else if (variant == 1)
          table->gemmRowsA(c.M, c.N, c.K, aRows.ptrs.data(), B.data(), ldb, C.data(), ldc,
                           c.accumulate);
        else
          table->gemmRowsB(c.M, c.N, c.K, A.data(), am, ak, bRows.ptrs.data(), C.data(), ldc,
                           c.accumulate);
        for (int m = 0; m <= c.M; ++m) {
          for (int n = 0; n < ldc; ++n) {
            const std::size_t at = static_cast<std::size_t>(m * ldc + n);
            const bool inside = m < c.M && n < c.N;
            double want = inside && !c.accumulate ? 0.0 : before[at], magnitude = std::fabs(want);
            for (int k = 0; k < c.K && inside; ++k) {
              want += A[m * am + k * ak] * B[k * ldb + n];
              magnitude += std::fabs(A[m * am + k * ak] * B[k * ldb + n]);
            }
            // Cells outside the result keep their values exactly.
            ASSERT_NEAR(C[at], want, inside ? 1e-14 * (1.0 + magnitude) : 0.0)
                << "at " << m << "," << n;
          }
        }
      }
    }
  }
}

// Element-wise functions against the C library, whole vectors and a partial
// last one: tanh to a few units in the last place (sign, 0, saturation and
// NaN kept), e^x for x <= 0 likewise, and 0 below the normal range. Column
// sums and tanh's derivative over padded rows; cells past the columns
// given keep their values.
TEST(KernelElementwise, MatchTheLibraryAndPlainLoops) {
  const std::vector<double> x = {0.0,  -0.0, 1e-300, -1e-12, 3e-4, -0.17, 0.3466, -0.5,   1.0,
                                 -2.2, 5.5,  -9.75,  19.9,   -25,  400,   -707.5, -708.5, -1e5};
  constexpr int kM = 7, kN = 40, kLd = 45;
  const auto a = Values(kM * kLd, 0), t = Values(kN, 300);
  auto d = Values(kN + 1, 600);
  d[kN] = 5.0;
  for (const auto& [kernel, table] : Tables()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    std::vector<double> y(x.size() + 1, 7.0);
    table->tanh(x.data(), y.data(), static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double want = std::tanh(x[i]);
      EXPECT_NEAR(y[i], want, 1e-15 * std::fabs(want)) << "tanh " << x[i];
      EXPECT_EQ(std::signbit(y[i]), std::signbit(want)) << "tanh " << x[i];
    }
    EXPECT_EQ(y.back(), 7.0) << "written past the end";
    const double nan = std::nan("");
    table->tanh(&nan, y.data(), 1);
    EXPECT_TRUE(std::isnan(y[0]));
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double in = -std::fabs(x[i]);
      table->expNonPositive(&in, y.data(), 1);
      const double want = in < -708.0 ? 0.0 : std::exp(in);
      EXPECT_NEAR(y[0], want, 1e-15 * want) << "exp " << in;
    }

    std::vector<double> sums(kN + 1, 0.25), got = d;
    table->columnSums(kM, kN, a.data(), kLd, sums.data());
    table->timesTanhDerivative(got.data(), t.data(), kN);
    for (int j = 0; j < kN; ++j) {
      double want = 0.25;
      for (int m = 0; m < kM; ++m) want += a[m * kLd + j];
      EXPECT_NEAR(sums[j], want, 1e-14) << j;
      EXPECT_NEAR(got[j], d[j] * (1 - t[j] * t[j]), 1e-15) << j;
    }
    EXPECT_EQ(sums[kN], 0.25);
    EXPECT_EQ(got[kN], 5.0);
  }
}

// The encoding's map y = x a + b against the plain expression, bit for bit:
// lengths around each kernel's vector widths (whole vectors, then the last
// few one by one), and the flag at the front, in a whole vector, among the
// last few, or nowhere; a flag of 0 as well, which no value here equals.
// The first three terms are exact in the product's last bits: rounded
// before the addition, x a + b is 2^-29; fused it would be 2^-29 + 2^-60.
TEST(KernelAffine, EveryKernelGivesThePlainExpressionAndFindsTheFlag) {
  constexpr double kMissing = -DBL_MAX;
  const double tiny = std::ldexp(1.0, -30);
  struct Case {
    int n;
    int flagAt;  // -1: no flag
    double flag;
  };
  const Case cases[] = {
      {0, -1, kMissing},  {1, -1, kMissing},  {1, 0, kMissing},   {3, 2, kMissing},
      {7, -1, kMissing},  {8, 7, kMissing},   {9, 8, kMissing},   {9, -1, kMissing},
      {15, 12, kMissing}, {16, 0, kMissing},  {17, 16, kMissing}, {64, -1, kMissing},
      {64, 33, kMissing}, {70, 69, kMissing}, {3, -1, 0.0},       {13, 10, 0.0}};
  for (const auto& [kernel, table] : Tables()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << VXNeural::PassKernelName(kernel) << " n " << c.n << " flag " << c.flagAt);
      std::vector<double> x = Values(c.n, 10), a = Values(c.n, 400), b = Values(c.n, 800);
      for (int i = 0; i < std::min(c.n, 3); ++i) {
        x[i] = a[i] = 1.0 + tiny;
        b[i] = -1.0;
      }
      if (c.flagAt >= 0) x[static_cast<std::size_t>(c.flagAt)] = c.flag;
      std::vector<double> y(static_cast<std::size_t>(c.n) + 1, 5.0);
      EXPECT_EQ(table->affine(x.data(), a.data(), b.data(), y.data(), c.n, c.flag), c.flagAt >= 0);
      for (int i = 0; i < c.n; ++i) {
        const double product = x[i] * a[i];
        EXPECT_EQ(y[i], product + b[i]) << i;
        if (i < 3 && i != c.flagAt) {
          EXPECT_EQ(y[i], std::ldexp(1.0, -29)) << i;
        }
      }
      EXPECT_EQ(y.back(), 5.0) << "written past the end";
    }
  }
}

}  // namespace
