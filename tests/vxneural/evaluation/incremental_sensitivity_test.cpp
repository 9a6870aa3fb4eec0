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

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {"MLP, no hidden layer, Identity",
       false,
       {},
       VXNNCommon::kTanH,
       VXNNCommon::kIdentity,
       {1, 1},
       false},
      {"MLP, no hidden layer, SoftMax",
       false,
       {},
       VXNNCommon::kTanH,
       VXNNCommon::kSoftMax,
       {3, 2},
       false},
      {"MLP, TanH, SoftMax", false, {5}, VXNNCommon::kTanH, VXNNCommon::kSoftMax, {3}, true},
      {"MLP, Sigmoid, Identity, mixed targets",
       false,
       {4},
       VXNNCommon::kSigmoid,
       VXNNCommon::kIdentity,
       {2, 1},
       true},
      {"MLP, two hidden layers",
       false,
       {6, 3},
       VXNNCommon::kTanH,
       VXNNCommon::kIdentity,
       {1},
       true},
      {"RBF, normalised",
       true,
       {4},
       VXNNCommon::kNormalizedRadialBasis,
       VXNNCommon::kIdentity,
       {3},
       false},
      {"RBF, plain", true, {5}, VXNNCommon::kRadialBasis, VXNNCommon::kIdentity, {1, 2}, false},
      // The missing value's squared distance overflows: both ways give NaN
      // or the same values.
      {"RBF, missing values",
       true,
       {3},
       VXNNCommon::kRadialBasis,
       VXNNCommon::kIdentity,
       {1},
       true},
  };
  return shapes;
}

TEST(FirstLayerProber, ProbesGiveTheOutputsOfTheChangedRecord) {
  for (const Shape& s : Shapes()) {
    SCOPED_TRACE(s.name);
    Net net = Build(s, 3);
    NNetwork& nn = *net.network;
    FirstLayerProber prober(nn);
    ASSERT_TRUE(prober.Usable());
    const int outputs = nn.GetLayer(nn.GetNumLayers())->GetNumUnits();
    std::vector<double> got(static_cast<std::size_t>(outputs));
    // Changes: a continuous value, a category switch, the missing value
    // itself replaced, none at all.
    const std::vector<std::vector<FirstLayerProber::Change>> changes = {
        {{4, 1.75}}, {{0, -0.5}}, {{1, 0.0}, {3, 1.0}}, {}, {{0, 3.0}, {4, -1.0}}};
    for (const Record& r : Records(6, 5, s.missing)) {
      prober.SetBase(r.GetAll());
      for (const auto& change : changes) {
        std::vector<double> x(r.GetAll(), r.GetAll() + kColumns);
        for (const auto& c : change) x[static_cast<std::size_t>(c.column)] = c.value;
        prober.Probe(change.data(), static_cast<int>(change.size()), got.data());
        nn.ForwardPass(x.data(), true);
        const double* want = nn.GetLayer(nn.GetNumLayers())->GetUnitValues();
        for (int k = 0; k < outputs; ++k)
          ExpectSame(got[static_cast<std::size_t>(k)], want[k], "output " + std::to_string(k));
      }
    }
  }
}

TEST(SensitivityByFirstLayerUpdate, AgreesWithTheFullForwardPass) {
  const std::vector<double> lo = {-2.0, -1.5}, hi = {2.0, 1.0};
  for (const Shape& s : Shapes()) {
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

TEST(SensitivityByFirstLayerUpdate, StopsAtACategoricalInputWithoutActiveUnit) {
  std::vector<Record> train = Records(5, 31, false);
  train[2][5] = train[2][6] = 0.0;
  const Shape& s = Shapes()[2];
  Net net = Build(s, 12);
  std::vector<double> fast, full;
  for (auto* out : {&fast, &full}) {
    Source source(train);
    const VXStatus status = ComputeSensitivity(
        *net.network, source, nullptr, 5, 0, 4, kCats, true, {-2, -2}, {2, 2}, *out,
        out == &fast ? SensitivityMethod::kFirstLayerUpdate : SensitivityMethod::kFullForward);
    EXPECT_EQ(status.GetErrorCode(), 50008);
    EXPECT_EQ(net.network->GetSensRecordsProcessed(), 2);
  }
  // Unscaled sums of the two records before it, and of the first three
  // variables of the third.
  for (std::size_t v = 0; v < 4; ++v) ExpectSame(fast[v], full[v], std::to_string(v));
}

}  // namespace
