// The blocked passes against the record-by-record reference, for every
// kernel this machine runs, on the network shapes the gradient check covers
// and on wider ones that fill the kernels' register tiles (and so their
// products and activations at every edge).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

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
class StreamedRecords : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit StreamedRecords(const std::vector<Record>& records) : fRecords(records) {}
  bool IsGood() override { return fNext < fRecords.size(); }
  const Record* Next() override {
    if (!IsGood()) return nullptr;
    fRecord = fRecords[fNext++];
    return &fRecord;
  }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    fNext = 0;
    return GetStatus();
  }

 private:
  const std::vector<Record>& fRecords;
  std::size_t fNext = 0;
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

class BlockedPass : public ::testing::TestWithParam<KernelCase> {};

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
    for (bool inPlace : {true, false}) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(k)) +
                   (inPlace ? " in place" : " streamed"));
      const PassResult got = RunPasses(k, net, records, inPlace);
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
      for (bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "in place" : "streamed");
        const PassResult got = RunPasses(k, net, records, inPlace);
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
}

}  // namespace
