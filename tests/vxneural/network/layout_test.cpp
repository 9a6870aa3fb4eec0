// The saved layouts of the network, its MLP layers and the random generator,
// field by field against records assembled here.
#include <gtest/gtest.h>

#include <memory>
#include <valarray>

#include "common/layouts.h"
#include "network_fixtures.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using layouts::Bytes;
using layouts::Xml;
using network_fixtures::MakeSettings;

// One record per layer: type, units, lower units, activation, the initial
// weight range, the weights when not an input layer, the category counts.
struct LayerFields {
  int type, units, lower, activation;
  double low, high;
  std::vector<double> weights;
  std::vector<int> categories;
  void Append(Bytes& b) const {
    b.Tag("MLPLay").I(type).I(units).I(lower).I(activation).D(low).D(high).Ds(weights);
    b.I(static_cast<int>(categories.size())).Is(categories);
  }
  void Append(Xml& x) const {
    x.Obj("MLPLayer").I(type).I(units).I(lower).I(activation).D(low).D(high).Ds(weights);
    x.I(static_cast<int>(categories.size())).Is(categories).End();
  }
};

TEST(NetworkLayouts, NetworkWithItsLayers) {
  // One input, one TanH hidden unit, two SoftMax outputs: 2 + 4 weights.
  const auto settings = MakeSettings(1, {2}, {1}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  net.SetWeights(std::valarray<double>{0.125, -0.25, 0.5, -1.0, 2.0, -4.0});
  net.SetAccumError(2.5);
  net.SetComputeAverages(true);
  const auto& input = dynamic_cast<const MLPLayer&>(*net.GetLayer(0));
  const std::vector<LayerFields> layers = {
      {0,
       1,
       input.GetNumUnitsLower(),
       input.GetActivationFunction(),
       input.GetInitWeightLower(),
       input.GetInitWeightUpper(),
       {},
       {}},
      {1, 1, 2, VXNNCommon::kTanH, -0.5, 0.5, {0.125, -0.25}, {}},
      {2, 2, 2, VXNNCommon::kSoftMax, -0.5, 0.5, {0.5, -1.0, 2.0, -4.0}, {2}},
  };
  const std::vector<double> averages(std::begin(net.GetOutputAverages()),
                                     std::end(net.GetOutputAverages()));
  ASSERT_EQ(averages.size(), 2u);
  Bytes b;
  Xml x;
  b.Tag("NNet").I(1).I(2);
  x.Obj("NNetwork").I(1).I(2);
  for (const LayerFields& layer : layers) layer.Append(b), layer.Append(x);
  // Inputs, outputs, output variables, their categories, categorical output
  // type, cross entropy, weights, error, averages, the two flags.
  b.I(1).I(2).I(1).I(2).I(1).I(1).I(6).D(2.5).Ds(averages).D(net.GetErrorAverages()).I(1).I(0);
  x.I(1).I(2).I(1).I(2).I(1).I(1).I(6).D(2.5).Ds(averages).D(net.GetErrorAverages()).I(1).I(0);
  const auto other = MakeSettings(3, {1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  layouts::ExpectLayout(
      net, [&] { return std::make_unique<NNetwork>(*other); }, b, x.End());
}

TEST(NetworkLayouts, RandomGenerator) {
  // The seed as a double, then the portable flag.
  for (const auto& [seed, portable] : {std::pair{4000000000u, false}, std::pair{123u, true}})
    layouts::ExpectLayout(
        VXRandom(seed, portable), [] { return std::make_unique<VXRandom>(555, false); },
        Bytes().Tag("VXRa").D(seed).I(portable), Xml().Obj("VXRandom").D(seed).I(portable).End());
}

}  // namespace
