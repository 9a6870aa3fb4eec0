// RBF layers: Gaussian and normalised activations against hand values,
// widths from variance vectors, damaged saved forms and the network built
// from RBF settings.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "common/layouts.h"
#include "common/saved_forms.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/RBFOutputLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using VXNNCommon::ActivationFunction;
using VXNNCommon::kNormalizedRadialBasis;
using VXNNCommon::kRadialBasis;

// Two inputs and a hidden layer whose centres and widths are placed through
// its weight vector: the centres unit by unit, then the squared widths.
struct TwoInputs {
  TwoInputs(ActivationFunction f, const std::vector<std::vector<double>>& centres,
            const std::vector<double>& widths2)
      : in(2), hidden(static_cast<int>(centres.size()), &in, f) {
    std::valarray<double> w(3 * centres.size());
    std::size_t at = 0;
    for (const auto& c : centres)
      for (double x : c) w[at++] = x;
    for (double a : widths2) w[at++] = a;
    EXPECT_EQ(hidden.SetWeights(w, 0), int(w.size()));
  }
  std::vector<double> At(double x0, double x1) {
    const double x[] = {x0, x1};
    in.SetUnitValues(x, 2);
    hidden.ComputeUnitValues(false);
    const double* h = hidden.GetUnitValues();
    return std::vector<double>(h, h + hidden.GetNumUnits());
  }
  RBFInputLayer in;
  RBFHiddenLayer hidden;
};

const std::vector<std::vector<double>> kCentres = {{1, 2}, {0, 0}, {3, 2}};
const std::vector<double> kWidths2 = {1.0, 2.5, 4.0};

TEST(RBFHiddenLayer, ActivationsAtAPointMatchHandValues) {
  // At x = (1, 2): squared distances 0, 5, 4 over widths^2 1, 2.5, 4 give
  // exponents 0, -1, -0.5.
  const double g[] = {1.0, std::exp(-1.0), std::exp(-0.5)};
  const double sum = g[0] + g[1] + g[2];
  struct Case {
    ActivationFunction f;
    std::vector<double> expected;
  } cases[] = {{kRadialBasis, {g[0], g[1], g[2]}},
               {kNormalizedRadialBasis, {g[0] / sum, g[1] / sum, g[2] / sum}}};
  for (const Case& c : cases) {
    TwoInputs t(c.f, kCentres, kWidths2);
    const std::vector<double> h = t.At(1, 2);
    for (std::size_t j = 0; j < 3; ++j) EXPECT_NEAR(h[j], c.expected[j], 1e-15) << c.f << " " << j;
  }
}

TEST(RBFHiddenLayer, WidthsComeFromTheMeanVarianceOfEachUnit) {
  struct Case {
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
  for (const Case& c : cases) {
    RBFInputLayer in(2);
    RBFHiddenLayer hidden(static_cast<int>(c.variances.size()), &in, kRadialBasis);
    hidden.SetFallbackVariance(c.fallback);
    hidden.PrepareVarianceVectors() = c.variances;
    hidden.ComputeAdjustedVariances();
    EXPECT_EQ(hidden.GetAdjustedVariances(), c.expected);
    EXPECT_TRUE(hidden.GetVarianceVectors().empty());
  }
}

// --- Saved forms -----------------------------------------------------------

const std::vector<std::string> kHiddenErrors = {"Error reading RBFHiddenLayer!\n"};
const std::vector<std::string> kHiddenFailures = {"Failure reading RBFHiddenLayer!\n"};

TEST(RBFLayersSaved, DamagedStreamsAreRefused) {
  TwoInputs t(kRadialBasis, kCentres, kWidths2);
  // Truncation and corruption reach both layers' readers through the
  // network's test below; here, counts that do not fit together: more
  // centres than units, a weight count off the layout rule, an MLP
  // activation.
  RBFHiddenLayer target(&t.in);
  RBFOutputLayer outTarget(&t.hidden);
  using layouts::Bytes;
  const int rbf = kRadialBasis, mlp = VXNNCommon::kTanH;
  saved_forms::ExpectAllRefused(
      target, false,
      {Bytes().Tag("RBFHid").I(1).I(2).I(rbf).I(2).Ds({1, 2, 3, 4}).I(0).Ds({1, 1}).s},
      kHiddenErrors);
  saved_forms::ExpectAllRefused(
      outTarget, false,
      {Bytes().Tag("RBFOut").I(1).I(2).I(rbf).I(2).Ds({1, 2}).I(1).I(1).s,
       Bytes().Tag("RBFOut").I(1).I(2).I(mlp).I(3).Ds({1, 2, 3}).I(1).I(1).s},
      {"Error reading RBFOutputLayer!\n"});
}

// --- The network -----------------------------------------------------------

struct RBFNet {
  explicit RBFNet(ActivationFunction f, int hidden = 4) : settings(2, {1, 3}, 100) {
    settings.SetActivFnHiddenLayer(f);
    settings.SetNumHiddenUnits(hidden, 1);
    net = std::make_unique<NNetwork>(settings);
  }
  RBFSettings settings;
  std::unique_ptr<NNetwork> net;
};

TEST(RBFNetwork, ScoresThroughTheLayersAndSurvivesItsSavedForms) {
  RBFNet n(kRadialBasis);
  NNetwork& net = *n.net;
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
    for (int j = 0; j < 4; ++j) {
      const auto& c = h.GetCenters()[static_cast<std::size_t>(j)];
      const double d2 = (0.3 - c[0]) * (0.3 - c[0]) + (0.6 - c[1]) * (0.6 - c[1]);
      y += w[k * 5 + 1 + j] *
           std::exp(-d2 / (2 * h.GetAdjustedVariances()[static_cast<std::size_t>(j)]));
    }
    EXPECT_NEAR(scored[k], y, 1e-14) << k;
  }
  auto back = saved_forms::RoundTrips(net, [] { return std::make_unique<NNetwork>(); });
  for (auto& b : back) {
    double again[4];
    b->Score(status, record, again);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(again[k], scored[k]);
  }
  NNetwork target;
  saved_forms::ExpectReadersRobust(
      net, target,
      {"Error reading NNetwork!\n", "Error reading RBFInputLayer!\n", kHiddenErrors[0],
       "Error reading RBFOutputLayer!\n"},
      {"Failure reading NNetwork!\n", "Failure reading RBFInputLayer!\n", kHiddenFailures[0],
       "Failure reading RBFOutputLayer!\n"});
}

}  // namespace
