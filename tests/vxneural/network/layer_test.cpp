// MLPLayer: SoftMax groups and damaged saved forms.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "network_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using namespace saved_forms;
using stream_faults::WithInt32;
using VXNNCommon::ActivationFunction;

// An input layer of two units under a layer of `units` units.
struct TwoLayers {
  TwoLayers(int type, int units, ActivationFunction f, std::vector<int> categories = {})
      : input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, VXMV::gMissingValue,
              VXMV::gMissingValue),
        layer(type, units, &input, f, categories, -0.25, 0.75) {}
  std::vector<double> Forward(std::valarray<double> w, double a, double b, bool log = false) {
    layer.SetWeights(w, 0);
    const double x[] = {a, b};
    input.SetUnitValues(x, 2);
    layer.ComputeUnitValues(log);
    return Out();
  }
  std::vector<double> Out() const {
    return {layer.GetUnitValues(), layer.GetUnitValues() + layer.GetNumUnits()};
  }
  std::vector<double> Weights() const {
    std::valarray<double> w(static_cast<std::size_t>(layer.GetNumWeights()));
    layer.GetWeights(w, 0);
    return {std::begin(w), std::end(w)};
  }
  MLPLayer input;
  MLPLayer layer;
};

TEST(MLPLayerForward, SoftMaxWorksPerGroupInProbabilitiesOrLogarithms) {
  TwoLayers t(VXNNCommon::kOutputLayer, 5, VXNNCommon::kSoftMax, {2, 3});
  // Combinations 1000 and 999 would overflow a naive exponential; the
  // second group's combinations are 1, 2 and 0.
  const std::valarray<double> w = {1000, 0, 0, 999, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  const auto p = t.Forward(w, 1.0, 2.0);
  const double z = std::exp(1.0) + std::exp(2.0) + 1.0;
  const double expected[] = {1.0 / (1.0 + std::exp(-1.0)), 1.0 / (1.0 + std::exp(1.0)),
                             std::exp(1.0) / z, std::exp(2.0) / z, 1.0 / z};
  const auto l = t.Forward(w, 1.0, 2.0, true);
  for (int j = 0; j < 5; ++j) {
    EXPECT_NEAR(p[j], expected[j], 1e-15);
    EXPECT_NEAR(l[j], std::log(expected[j]), 1e-12);
  }
}

class MLPLayerPersist : public ::testing::Test {
 protected:
  MLPLayerPersist()
      : input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0),
        layer(VXNNCommon::kOutputLayer, 3, &input, VXNNCommon::kSoftMax, std::vector<int>{2, 1},
              -0.3, 0.7) {
    layer.SetWeights({1.5, -2.25, 3.125, 0.1, 0.2, 0.3, -1e-300, 1e300, 4.0}, 0);
  }
  MLPLayer input, layer;
};

TEST_F(MLPLayerPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  const std::string binary = "Error reading MLPLayer!\n", xml = "Failure reading MLPLayer!\n";
  MLPLayer target(VXNNCommon::kHiddenLayer, 1, &input, VXNNCommon::kTanH, 0, 0);
  ExpectReadersRobust(layer, target, {binary}, {xml});
  const std::string b = Saved(layer, false);
  ExpectAllRefused(target, false,
                   {stream_faults::Replaced(b, "MLPLay", "MLPLaX"),  // tag
                    WithInt32(b, 6, 7),                              // layer type
                    WithInt32(b, 10, -1),                            // units
                    WithInt32(b, 10, 1 << 30),   // units beyond any plausible layer
                    WithInt32(b, 14, 0),         // no bias column on an output layer
                    WithInt32(b, 14, 1 << 20),   // more weights than the stream holds
                    WithInt32(b, 18, 9),         // activation
                    WithInt32(b, 110, -3),       // category count
                    WithInt32(b, 110, 1 << 19),  // categories beyond the stream
                    WithInt32(b, 114, 3),        // SoftMax groups do not add up to the units
                    WithInt32(WithInt32(b, 6, 1), 18, 2)},  // SoftMax on a hidden layer
                   {binary});
  ExpectAllRefused(target, true,
                   {stream_faults::Replaced(Saved(layer, true), "MLPLayer", "NNetwork")}, {xml});
}

}  // namespace
