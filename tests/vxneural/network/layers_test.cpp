// Layers against hand values: SoftMax groups of an MLP layer, Gaussian and
// normalised RBF activations, widths from variance vectors, and the network
// built from RBF settings scoring through its layers and its saved forms.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <valarray>
#include <vector>

#include "common/saved_forms.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

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

}  // namespace
