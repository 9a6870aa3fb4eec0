// The vector kernels against the record-by-record reference, for every
// kernel this machine runs: blocked passes (in place and over a stream) on
// the network shapes the gradient check covers and on wider ones that fill
// the kernels' register tiles (and so their products and activations at
// every edge); scoring one record (packed weights, all units of a layer at
// once) against the layer code and the plain reference implementation; and
// the packed weights and encoders following every way they can change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/host_doubles.h"
#include "network/kernels/KernelTable.h"
#include "network_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;
using VXNeural::PassKernel;
using VXNeural::detail::KernelTable;
using VXNNCommon::ActivationFunction;

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
// records, of which used are used; the gradients and target averages
// (summed in record order by all) only when the network has them.
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
      ExpectClose(got.averages, ref.averages, 0.0);
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
      // The plain implementation has no notion of a missing value.
      const std::vector<double> want =
          r + 1 < rows.size() ? mlp_reference::Forward(ShapeOf(net), w, rows[r].data()) : ref;
      for (std::size_t j = 0; j < ref.size(); ++j) {
        const std::string what = "row " + std::to_string(r) + " unit " + std::to_string(j);
        ExpectSame(got[j], ref[j], what);
        ExpectSame(got[j], want[j], what + " (plain)");
      }
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

// Encoding for scoring reads the inputs' linear maps from a copy, in runs
// of neighbouring continuous inputs (here x alone, then z and w); every
// change made through the writable variable list must reach the next
// record, for scoring and for training, and a record too short for a run is
// refused.
TEST(ScoreEncoding, FollowsChangesOfTheEncoders) {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  // The target's field lies between x and z, whose units are neighbours.
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
    std::vector<double> units;  // x, z, w, c of the raw record {5, 0, 1, -1, 1}
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
  const Record raw(std::vector<double>{5, 0, 1, -1, 1});
  const Record withoutW(std::vector<double>{5, 0, 1});
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
    ASSERT_TRUE(p.EncodeRecord(raw, full).IsOK());
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

// The last few columns of a product as dot products: C += A_m . B_j for
// j < T, rows of A of exactly K values (any K: whole vectors and a ragged
// end), odd and even row counts; cells past T keep their values.
TEST(KernelGemm, DotsMatchThePlainSums) {
  constexpr int kLdb = 45, kLdc = 9;
  const auto a = Values(700, 0);
  for (const auto& [kernel, table] : Tables()) {
    for (int M : {1, 4, 7}) {
      for (int T : {1, 2, 4, 5}) {
        for (int K : {0, 3, 8, 21, 40}) {
          SCOPED_TRACE(testing::Message() << VXNeural::PassKernelName(kernel) << " " << M
                                          << " rows, " << T << " columns, K " << K);
          const OwnRows rows(a.data(), M, 100, K);
          const auto B = Values(T * kLdb, 3000), before = Values(M * kLdc, 6000);
          std::vector<double> C = before;
          table->dots(M, T, K, rows.ptrs.data(), B.data(), kLdb, C.data(), kLdc);
          for (int m = 0; m < M; ++m) {
            for (int j = 0; j < kLdc; ++j) {
              double want = before[m * kLdc + j];
              for (int k = 0; k < K && j < T; ++k) want += rows.rows[m][k] * B[j * kLdb + k];
              ASSERT_NEAR(C[m * kLdc + j], want, 1e-14 * (1.0 + K)) << m << "," << j;
            }
          }
        }
      }
    }
  }
}

// Element-wise functions against the C library, whole vectors and a partial
// last one: tanh to a few units in the last place (sign, 0, saturation and
// NaN kept), e^x for x <= 0 likewise, and 0 below the normal range.
TEST(KernelElementwise, TanhAndExponentialMatchTheLibrary) {
  const std::vector<double> x = {0.0,  -0.0, 1e-300, -1e-12, 3e-4, -0.17, 0.3466, -0.5,   1.0,
                                 -2.2, 5.5,  -9.75,  19.9,   -25,  400,   -707.5, -708.5, -1e5};
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
      EXPECT_NEAR(y[0], in < -708.0 ? 0.0 : std::exp(in), 1e-15 * std::exp(in)) << "exp " << in;
    }
  }
}

// Column sums and tanh's derivative over padded rows; cells past the
// columns given keep their values.
TEST(KernelElementwise, ColumnSumsAndTanhDerivative) {
  constexpr int kM = 7, kN = 40, kLd = 45;
  const auto a = Values(kM * kLd, 0), y = Values(kN, 300);
  auto d = Values(kN + 1, 600);
  d[kN] = 5.0;
  for (const auto& [kernel, table] : Tables()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    std::vector<double> sums(kN + 1, 0.25), got = d;
    table->columnSums(kM, kN, a.data(), kLd, sums.data());
    table->timesTanhDerivative(got.data(), y.data(), kN);
    for (int j = 0; j < kN; ++j) {
      double want = 0.25;
      for (int m = 0; m < kM; ++m) want += a[m * kLd + j];
      EXPECT_NEAR(sums[j], want, 1e-14) << j;
      EXPECT_NEAR(got[j], d[j] * (1 - y[j] * y[j]), 1e-15) << j;
    }
    EXPECT_EQ(sums[kN], 0.25);
    EXPECT_EQ(got[kN], 5.0);
  }
}

// Radial units from the products x . c against e^(s |x - c|^2) computed
// directly, plain and normalised, for centre counts that end in every part
// of a vector, with a record far from every centre (all its terms below
// the normal range before the normalisation takes the largest out).
TEST(KernelRadialRows, MatchTheDirectFormula) {
  constexpr int kInputs = 11, kLdX = 16, kLdH = 24, kRows = 3;
  std::vector<double> x(kRows * kLdX, 0.0);
  for (int r = 0; r < kRows; ++r)
    for (int i = 0; i < kInputs; ++i) x[r * kLdX + i] = Value(r * 31 + i) * (r == 2 ? 60.0 : 1.0);
  const OwnRows xRows(x.data(), kRows, kLdX, kInputs);
  for (int used : {1, 2, 7, 9, 16, 17}) {
    const auto c = Values(used * kInputs, 700);
    std::vector<double> norms(kLdH, 0.0), scales(kLdH, 0.0);
    for (int j = 0; j < used; ++j) {
      for (int i = 0; i < kInputs; ++i) norms[j] += c[j * kInputs + i] * c[j * kInputs + i];
      scales[j] = -0.5 / (0.2 + 0.1 * j);
    }
    for (bool normalized : {false, true}) {
      std::vector<double> want(kRows * kLdH, 0.0), h(kRows * kLdH, 9.0);
      for (int r = 0; r < kRows; ++r) {
        double largest = -HUGE_VAL, sum = 0.0;
        for (int j = 0; j < used; ++j) {
          double dist = 0.0, dot = 0.0;
          for (int i = 0; i < kInputs; ++i) {
            const double xi = x[r * kLdX + i], ci = c[j * kInputs + i];
            dist += (xi - ci) * (xi - ci);
            dot += xi * ci;
          }
          want[r * kLdH + j] = dist * scales[j];
          largest = std::max(largest, want[r * kLdH + j]);
          h[r * kLdH + j] = dot;
        }
        for (int j = 0; j < used; ++j)
          sum += want[r * kLdH + j] = std::exp(want[r * kLdH + j] - (normalized ? largest : 0.0));
        for (int j = 0; j < used && normalized; ++j) want[r * kLdH + j] /= sum;
      }
      for (const auto& [kernel, table] : Tables()) {
        SCOPED_TRACE(testing::Message() << VXNeural::PassKernelName(kernel) << " used " << used
                                        << (normalized ? " normalised" : ""));
        std::vector<double> got = h;
        table->radialRows(kRows, used, xRows.ptrs.data(), kInputs, norms.data(), scales.data(),
                          normalized, got.data(), kLdH);
        for (int r = 0; r < kRows; ++r) {
          for (int j = 0; j < kLdH; ++j) {
            // Past the padded row the cells keep their values; |x|^2 - 2 x.c
            // + |c|^2 cancels on the far record.
            const bool padded = j < VXNeural::detail::Padded(used);
            const double w = padded ? want[r * kLdH + j] : 9.0;
            EXPECT_NEAR(got[r * kLdH + j], w, padded ? 1e-10 * (1.0 + w) : 0.0) << r << "," << j;
          }
        }
      }
    }
  }
}

}  // namespace
