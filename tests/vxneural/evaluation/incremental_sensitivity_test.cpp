// Predictor importance by updating the first layer's sums, checked against
// the full forward pass per probe on every kind of network it serves: MLPs
// with 0, 1 and 2 hidden layers, both hidden activations, SoftMax and
// Identity outputs, RBF networks with plain and normalised units;
// categorical inputs of several units and missing values in the records.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/host_doubles.h"
#include "evaluation/FirstLayerProber.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/evaluation/NNSensitivity.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using VXNeural::ComputeSensitivity;
using VXNeural::FirstLayerProber;
using VXNeural::SensitivityMethod;
using Source = host_doubles::CountingSource;
using VXNNCommon::ActivationFunction;

// Input variables: continuous, 3 categories, continuous, 2 categories.
const std::vector<int> kCats = {1, 3, 1, 2};
constexpr int kColumns = 7;

struct Shape {
  const char* name;
  bool rbf;
  std::vector<int> hidden;  // MLP hidden layer sizes, or {centres} for RBF
  ActivationFunction hiddenFn;
  ActivationFunction outFn;  // MLP only
  std::vector<int> outputs;
  bool missing;  // whether the records hold missing continuous values
};

struct Net {
  std::unique_ptr<NeuralSettings> settings;
  std::unique_ptr<NNetwork> network;
};

Net Build(const Shape& s, unsigned seed) {
  Net n;
  if (s.rbf) {
    auto r = std::make_unique<RBFSettings>(kColumns, s.outputs, 100);
    r->SetActivFnHiddenLayer(s.hiddenFn);
    r->SetNumHiddenUnits(s.hidden[0], 1);
    n.settings = std::move(r);
  } else {
    auto m = std::make_unique<MLPSettings>(kColumns, s.outputs, 100);
    m->SetNumHiddenLayers(static_cast<int>(s.hidden.size()));
    for (std::size_t l = 0; l < s.hidden.size(); ++l)
      m->SetNumHiddenUnits(s.hidden[l], static_cast<int>(l) + 1);
    m->SetActivFnHiddenLayer(s.hiddenFn);
    m->SetActivFnOutputLayer(s.outFn);
    n.settings = std::move(m);
  }
  n.network = std::make_unique<NNetwork>(*n.settings);
  VXRandom rng(seed, true);
  if (s.rbf)
    n.network->RandomizeWeights(rng, 0.2, 1.5);
  else
    n.network->RandomizeWeights(rng, -1.5, 1.5);
  return n;
}

// Records of the input layout (and no targets): continuous values in
// [-2, 2], one active unit per categorical group (every fourth record marks
// it with 0.5: any value but 0 counts); with missing, every third record has
// its first continuous value missing.
std::vector<Record> Records(int n, unsigned seed, bool missing) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    std::vector<double> v(kColumns, 0.0);
    v[0] = missing && r % 3 == 1 ? VXMV::gMissingValue : u(gen);
    v[1 + gen() % 3] = r % 4 == 2 ? 0.5 : 1.0;
    v[4] = u(gen);
    v[5 + gen() % 2] = 1.0;
    records.emplace_back(v);
  }
  return records;
}

// Both NaN, or within tolerance of each other.
void ExpectSame(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what;
  } else {
    EXPECT_NEAR(got, want, 1e-12) << what;
  }
}

constexpr auto kTanH = VXNNCommon::kTanH, kSigmoid = VXNNCommon::kSigmoid,
               kIdentity = VXNNCommon::kIdentity, kSoftMax = VXNNCommon::kSoftMax,
               kRB = VXNNCommon::kRadialBasis, kNRB = VXNNCommon::kNormalizedRadialBasis;
const Shape kShapes[] = {
    {"MLP, no hidden layer, Identity", false, {}, kTanH, kIdentity, {1, 1}, false},
    {"MLP, no hidden layer, SoftMax", false, {}, kTanH, kSoftMax, {3, 2}, false},
    {"MLP, TanH, SoftMax", false, {5}, kTanH, kSoftMax, {3}, true},
    {"MLP, Sigmoid, Identity, mixed targets", false, {4}, kSigmoid, kIdentity, {2, 1}, true},
    {"MLP, two hidden layers", false, {6, 3}, kTanH, kIdentity, {1}, true},
    {"RBF, normalised", true, {4}, kNRB, kIdentity, {3}, false},
    {"RBF, plain", true, {5}, kRB, kIdentity, {1, 2}, false},
    // The missing value's squared distance overflows: both ways give NaN
    // or the same values.
    {"RBF, missing values", true, {3}, kRB, kIdentity, {1}, true},
};

TEST(SensitivityByFirstLayerUpdate, AgreesWithTheFullForwardPass) {
  const std::vector<double> lo = {-2.0, -1.5}, hi = {2.0, 1.0};
  for (const Shape& s : kShapes) {
    for (bool givenRanges : {true, false}) {
      SCOPED_TRACE(std::string(s.name) + (givenRanges ? ", given ranges" : ", found ranges"));
      Net net = Build(s, 11);
      std::vector<Record> train = Records(9, 21, s.missing), test = Records(4, 22, s.missing);
      std::vector<double> fast, full;
      for (auto* out : {&fast, &full}) {
        Source trainSource(train), testSource(test);
        const VXStatus status = ComputeSensitivity(
            *net.network, trainSource, &testSource, 9, 3, 4, kCats, givenRanges, lo, hi, *out,
            out == &fast ? SensitivityMethod::kFirstLayerUpdate : SensitivityMethod::kFullForward);
        EXPECT_TRUE(status.IsOK());
      }
      ASSERT_EQ(fast.size(), 4u);
      ASSERT_EQ(full.size(), 4u);
      for (std::size_t v = 0; v < 4; ++v) ExpectSame(fast[v], full[v], std::to_string(v));
    }
  }
}

}  // namespace
