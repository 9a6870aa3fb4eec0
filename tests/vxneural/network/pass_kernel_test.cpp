// The blocked passes against the record-by-record reference, for every
// kernel this machine runs, on the network shapes the gradient check covers
// and on wider ones that fill the kernels' register tiles; and the kernel
// choice itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "network/kernels/KernelTable.h"
#include "network_fixtures.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXNeural::PassKernel;
using VXNNCommon::ActivationFunction;

// Pins a kernel for one scope and puts the previous one back.
struct KernelScope {
  explicit KernelScope(PassKernel k) : previous(VXNeural::GetPassKernel()) {
    EXPECT_TRUE(VXNeural::SetPassKernel(k));
  }
  ~KernelScope() { VXNeural::SetPassKernel(previous); }
  PassKernel previous;
};

// What one pass leaves: counts, error, gradient, accuracy, averages, and the
// output units of the last record.
struct PassResult {
  int n = 0;
  double error = 0.0, errorOnly = 0.0, accuracy = 0.0, errorAverages = 0.0;
  std::valarray<double> gradient, averages;
  std::vector<double> lastOutputs;
};

PassResult RunPasses(PassKernel kernel, NNetwork& net, const std::vector<Record>& records) {
  KernelScope scope(kernel);
  auto source = VectorRecordIter::Borrow(records);
  VXCommon_1_2::VXStatus status;
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
// record too short to be used, which both kinds of pass must skip.
std::vector<Record> RecordsFor(int inputs, const std::vector<int>& categories, int n) {
  auto records = MakeRecords(inputs, categories, n, 11);
  std::vector<double> v(records[3].GetAll(), records[3].GetAll() + records[3].Size());
  int unit = inputs;
  for (int c : categories) {
    if (c > 1) std::fill(v.begin() + unit, v.begin() + unit + c, 0.0);
    unit += c;
  }
  records[3] = Record(v);
  records.insert(records.begin() + 7, Record(std::vector<double>(inputs, 0.5)));
  return records;
}

void ExpectClose(const std::valarray<double>& a, const std::valarray<double>& b, double tol) {
  ASSERT_EQ(a.size(), b.size());
  const double scale = std::max(std::abs(b).max(), 1e-300);
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_LE(std::fabs(a[i] - b[i]), tol * scale) << "entry " << i;
}

// Inputs, hidden activation, hidden layer sizes, units per target, output
// activation.
using Case =
    std::tuple<int, ActivationFunction, std::vector<int>, std::vector<int>, ActivationFunction>;

class BlockedPass : public ::testing::TestWithParam<Case> {};

TEST_P(BlockedPass, EveryKernelGivesTheReferenceSums) {
  const auto& [inputs, hiddenFn, hidden, categories, outputFn] = GetParam();
  auto settings = MakeSettings(inputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);
  net.SetWeights(RandomWeights(net.GetNumWeights(), 7, -1.0, 1.0));
  // Two whole blocks and a part of one.
  const auto records = RecordsFor(inputs, categories, 2 * 96 + 17);
  const PassResult ref = RunPasses(PassKernel::kReference, net, records);
  ASSERT_EQ(ref.n, 2 * 96 + 17);
  ASSERT_GT(std::abs(ref.gradient).max(), 1e-3);

  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    if (k == PassKernel::kReference) continue;
    SCOPED_TRACE(VXNeural::PassKernelName(k));
    const PassResult got = RunPasses(k, net, records);
    EXPECT_EQ(got.n, ref.n);
    EXPECT_NEAR(got.error, ref.error, 1e-12 * ref.error);
    EXPECT_NEAR(got.errorOnly, ref.errorOnly, 1e-12 * ref.errorOnly);
    EXPECT_NEAR(got.errorAverages, ref.errorAverages, 1e-12 * ref.errorAverages);
    EXPECT_NEAR(got.accuracy, ref.accuracy, 1e-12);
    ExpectClose(got.gradient, ref.gradient, 1e-12);
    // The targets are summed in record order by both.
    ExpectClose(got.averages, ref.averages, 0.0);
    for (std::size_t j = 0; j < ref.lastOutputs.size(); ++j)
      EXPECT_NEAR(got.lastOutputs[j], ref.lastOutputs[j],
                  1e-12 * (1 + std::fabs(ref.lastOutputs[j])));
  }
}

// The gradient check's shapes: both hidden activations, 0-2 hidden layers,
// continuous, categorical and mixed targets, SoftMax and Identity.
INSTANTIATE_TEST_SUITE_P(
    GradientCheckShapes, BlockedPass,
    ::testing::Combine(::testing::Values(3),
                       ::testing::Values(VXNNCommon::kTanH, VXNNCommon::kSigmoid),
                       ::testing::Values(std::vector<int>{}, std::vector<int>{4},
                                         std::vector<int>{4, 3}),
                       ::testing::Values(std::vector<int>{1, 1}, std::vector<int>{3, 2},
                                         std::vector<int>{3, 1, 2}),
                       ::testing::Values(VXNNCommon::kIdentity, VXNNCommon::kSoftMax)));

// Layers wide enough for whole register tiles, with ragged edges.
INSTANTIATE_TEST_SUITE_P(
    WideShapes, BlockedPass,
    ::testing::Combine(::testing::Values(37), ::testing::Values(VXNNCommon::kTanH),
                       ::testing::Values(std::vector<int>{33}, std::vector<int>{50, 17}),
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
    auto records = RecordsFor(c.inputs, c.categories, 2 * 96 + 5);
    for (Record& r : records) {
      std::vector<double> v(r.GetAll(), r.GetAll() + r.Size());
      for (int i = 0; i < std::min(c.inputs, r.Size()); ++i) v[i] *= c.spread;
      r = Record(v);
    }
    const PassResult ref = RunPasses(PassKernel::kReference, net, records);
    ASSERT_EQ(ref.n, 2 * 96 + 5);
    ASSERT_GT(ref.error, 0.0);
    for (PassKernel k : VXNeural::AvailablePassKernels()) {
      if (k == PassKernel::kReference) continue;
      SCOPED_TRACE(VXNeural::PassKernelName(k));
      const PassResult got = RunPasses(k, net, records);
      EXPECT_EQ(got.n, ref.n);
      EXPECT_NEAR(got.error, ref.error, 1e-12 * ref.error);
      EXPECT_NEAR(got.errorAverages, ref.errorAverages, 1e-12 * ref.errorAverages);
      EXPECT_NEAR(got.accuracy, ref.accuracy, 1e-12);
      for (std::size_t j = 0; j < ref.lastOutputs.size(); ++j)
        EXPECT_NEAR(got.lastOutputs[j], ref.lastOutputs[j],
                    1e-12 * (1 + std::fabs(ref.lastOutputs[j])));
    }
  }
}

// The x86-64 tables this machine can run (the portable one everywhere).
std::vector<std::pair<const char*, const VXNeural::detail::KernelTable*>> Tables() {
  std::vector<std::pair<const char*, const VXNeural::detail::KernelTable*>> t = {
      {"baseline", VXNeural::detail::BaselineKernel()}};
  if (VXNeural::IsPassKernelAvailable(PassKernel::kAvx2))
    t.emplace_back("avx2", VXNeural::detail::Avx2Kernel());
  if (VXNeural::IsPassKernelAvailable(PassKernel::kAvx512))
    t.emplace_back("avx512", VXNeural::detail::Avx512Kernel());
  return t;
}

TEST(KernelProducts, AgreeWithThePlainTripleLoop) {
  // Sizes around the tile edges; A read by rows (forward) or by columns
  // (gradient); with and without accumulation.
  const struct {
    int m, n, k;
    bool transposed, accumulate;
  } cases[] = {{1, 8, 1, false, false}, {5, 8, 3, false, true},    {6, 16, 7, false, false},
               {13, 40, 9, true, true}, {96, 32, 64, false, true}, {33, 56, 96, true, true},
               {7, 24, 1, true, false}, {50, 200, 17, false, true}};
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const auto& c : cases)
    for (const auto& [name, table] : Tables()) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(c.m) + "x" + std::to_string(c.n) + "x" +
                   std::to_string(c.k));
      const int lda = c.transposed ? c.m + 3 : c.k + 2, ldb = c.n + 8, ldc = c.n + 8;
      std::vector<double> a(static_cast<std::size_t>(lda) * (c.transposed ? c.k : c.m));
      std::vector<double> b(static_cast<std::size_t>(ldb) * c.k),
          cm(static_cast<std::size_t>(ldc) * c.m);
      for (auto* v : {&a, &b, &cm})
        for (double& x : *v) x = u(gen);
      const std::ptrdiff_t am = c.transposed ? 1 : lda, ak = c.transposed ? lda : 1;
      std::vector<double> expected = cm;
      for (int i = 0; i < c.m; ++i)
        for (int j = 0; j < c.n; ++j) {
          double sum = c.accumulate ? cm[i * ldc + j] : 0.0;
          for (int p = 0; p < c.k; ++p) sum += a[i * am + p * ak] * b[p * ldb + j];
          expected[i * ldc + j] = sum;
        }
      table->gemm(c.m, c.n, c.k, a.data(), am, ak, b.data(), ldb, cm.data(), ldc, c.accumulate);
      for (int i = 0; i < c.m; ++i)
        for (int j = 0; j < ldc; ++j) {
          // Columns past n are not written.
          const double tol = j < c.n ? 1e-13 * c.k : 0.0;
          ASSERT_NEAR(cm[i * ldc + j], expected[i * ldc + j], tol) << i << "," << j;
        }
    }
}

TEST(KernelTanh, WithinAFewUnitsInTheLastPlaceOfTheLibraryFunction) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> x = {0.0, -0.0, 1e-300, -1e-8, 0.3,   0.5499999, 0.55,  -0.55, 0.7,
                           1.0, -2.5, 9.0,    19.5,  -25.0, 400.0,     1e300, inf,   -inf};
  for (double v = -12.0; v <= 12.0; v += 0.0173) x.push_back(v);
  for (const auto& [name, table] : Tables()) {
    SCOPED_TRACE(name);
    // An odd count leaves a partial vector at the end.
    std::vector<double> y(x.size() + 1, 7.0);
    table->tanh(x.data(), y.data(), static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i)
      EXPECT_NEAR(y[i], std::tanh(x[i]), 4e-16 * std::fabs(std::tanh(x[i]))) << "x = " << x[i];
    EXPECT_EQ(y[x.size()], 7.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double yn = 0.0;
    table->tanh(&nan, &yn, 1);
    EXPECT_TRUE(std::isnan(yn));
  }
}

TEST(PassKernelChoice, NamesAvailabilityAndPinning) {
  const auto available = VXNeural::AvailablePassKernels();
  ASSERT_GE(available.size(), 2u);
  EXPECT_EQ(available[0], PassKernel::kReference);
  EXPECT_EQ(available[1], PassKernel::kBaseline);
  const struct {
    const char* name;
    PassKernel kernel;
  } names[] = {{"reference", PassKernel::kReference},
               {"baseline", PassKernel::kBaseline},
               {"avx2", PassKernel::kAvx2},
               {"avx512", PassKernel::kAvx512}};
  for (const auto& n : names) {
    PassKernel k = PassKernel::kReference;
    EXPECT_TRUE(VXNeural::ParsePassKernel(n.name, k));
    EXPECT_EQ(k, n.kernel);
    EXPECT_STREQ(VXNeural::PassKernelName(n.kernel), n.name);
  }
  PassKernel k = PassKernel::kAvx2;
  EXPECT_FALSE(VXNeural::ParsePassKernel("native", k));
  EXPECT_EQ(k, PassKernel::kAvx2);
  EXPECT_STREQ(VXNeural::PassKernelName(static_cast<PassKernel>(9)), "unknown");

  const PassKernel before = VXNeural::GetPassKernel();
  for (PassKernel kernel : available) {
    EXPECT_TRUE(VXNeural::SetPassKernel(kernel));
    EXPECT_EQ(VXNeural::GetPassKernel(), kernel);
  }
  // A kernel this machine cannot run is refused and changes nothing.
  for (const auto& n : names)
    if (std::find(available.begin(), available.end(), n.kernel) == available.end()) {
      EXPECT_FALSE(VXNeural::SetPassKernel(n.kernel));
      EXPECT_EQ(VXNeural::GetPassKernel(), available.back());
    }
  VXNeural::SetPassKernel(before);
}

}  // namespace
