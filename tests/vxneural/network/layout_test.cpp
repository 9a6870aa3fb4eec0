// The saved layouts of the network and its MLP and RBF layers, field by
// field against records assembled here.
#include <gtest/gtest.h>

#include <memory>
#include <valarray>

#include "common/layouts.h"
#include "network_fixtures.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/RBFOutputLayer.h"
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

// Every count differs from its neighbours, so that two fields saved in each
// other's place show. The layers' XML writers also count their two object
// marks.
TEST(NetworkLayouts, RBFLayers) {
  constexpr int kNormalized = VXNNCommon::kNormalizedRadialBasis;
  RBFInputLayer in(2);
  // Hidden: units, lower units, activation, centres, the centres' values,
  // held variance vectors (none), one squared width per centre.
  RBFHiddenLayer hidden(3, &in, VXNNCommon::kNormalizedRadialBasis);
  hidden.SetWeights(std::valarray<double>{1, 2, 3, 4, 5, 6, 0.5, 0.25, 2}, 0);
  // Output: units, lower units, the hidden activation, the weights (no bias
  // column under normalised units), the category counts.
  RBFOutputLayer out(2, &hidden, {2});
  out.SetWeights(std::valarray<double>{-1, -2, -3, -4, -5, -6}, 0);
  layouts::ExpectLayout(
      in, [] { return std::make_unique<RBFInputLayer>(7); }, Bytes().Tag("RBFInp").I(2),
      Xml().Obj("RBFInputLayer").I(2).End(), 2);
  const auto hiddenFields = [&](auto& s) {
    s.I(3).I(2).I(kNormalized).I(3).Ds({1, 2, 3, 4, 5, 6}).I(0).Ds({0.5, 0.25, 2});
  };
  Bytes hb;
  Xml hx;
  hiddenFields(hb.Tag("RBFHid"));
  hiddenFields(hx.Obj("RBFHiddenLayer"));
  layouts::ExpectLayout(
      hidden, [&] { return std::make_unique<RBFHiddenLayer>(&in); }, hb, hx.End(), 2);
  const auto outputFields = [](auto& s) {
    s.I(2).I(3).I(kNormalized).I(6).Ds({-1, -2, -3, -4, -5, -6}).I(1).I(2);
  };
  Bytes ob;
  Xml ox;
  outputFields(ob.Tag("RBFOut"));
  outputFields(ox.Obj("RBFOutputLayer"));
  layouts::ExpectLayout(
      out, [&] { return std::make_unique<RBFOutputLayer>(&hidden); }, ob, ox.End(), 2);

  // Before the widths are computed the variance vectors are held instead.
  RBFInputLayer one(1);
  RBFHiddenLayer pending(2, &one, VXNNCommon::kRadialBasis);
  pending.SetNumCenters(2) = {{7}, {8}};
  pending.PrepareVarianceVectors() = {{0.5}, {0.75}};
  const auto pendingFields = [](auto& s) {
    s.I(2).I(1).I(VXNNCommon::kRadialBasis).I(2).Ds({7, 8}).I(2).Ds({0.5, 0.75});
  };
  Bytes pb;
  Xml px;
  pendingFields(pb.Tag("RBFHid"));
  pendingFields(px.Obj("RBFHiddenLayer"));
  layouts::ExpectLayout(
      pending, [&] { return std::make_unique<RBFHiddenLayer>(&one); }, pb, px.End(), 2);
}

}  // namespace
