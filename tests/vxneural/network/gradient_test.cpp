// The accumulated gradient against central finite differences of the summed
// error, and the summed error against the reference implementation, over
// the network shapes the component builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "mlp_reference.h"
#include "network_fixtures.h"
#include "vxneural/network/NNetwork.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::VectorRecordIter;
using VXNNCommon::ActivationFunction;

constexpr int kRecords = 12;

// Summed error of one pass; with gradient, also the accumulated gradient.
double Pass(NNetwork& net, VectorRecordIter& source, std::valarray<double>* gradient) {
  source.Rewind();
  net.ResetDerivatives();
  VXCommon_1_2::VXStatus status;
  int n = 0;
  net.ProcessRecords(status, source, 1 << 30, n, gradient == nullptr, false);
  EXPECT_EQ(n, kRecords);
  if (gradient) net.GetGradient(*gradient);
  return net.GetAccumError();
}

class GradientCheck : public ::testing::TestWithParam<KernelCase> {};

TEST_P(GradientCheck, AgreesWithCentralDifferencesAndReferenceError) {
  const auto& [inputs, hiddenFn, hidden, categories, outputFn] = GetParam();
  auto settings = MakeSettings(inputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);

  const bool softMax =
      outputFn == VXNNCommon::kSoftMax && std::count(categories.begin(), categories.end(), 1) == 0;
  ASSERT_EQ(net.GetErrorFunction(),
            softMax ? VXNNCommon::kCrossEntropy : VXNNCommon::kSumOfSquares);
  ASSERT_EQ(net.GetLayer(net.GetNumLayers())->GetActivationFunction(),
            softMax                            ? VXNNCommon::kSoftMax
            : outputFn == VXNNCommon::kSigmoid ? VXNNCommon::kSigmoid
                                               : VXNNCommon::kIdentity);

  const mlp_reference::Shape shape = ShapeOf(net);
  ASSERT_EQ(net.GetNumWeights(), mlp_reference::NumWeights(shape));
  std::valarray<double> w = RandomWeights(net.GetNumWeights(), 7, -1.0, 1.0);
  ASSERT_EQ(net.SetWeights(w), net.GetNumWeights());

  const auto records = MakeRecords(inputs, categories, kRecords, 11);
  auto source = VectorRecordIter::Borrow(records);
  std::valarray<double> g;
  const double error = Pass(net, source, &g);
  ASSERT_EQ(g.size(), w.size());

  double expected = 0.0;
  for (const auto& r : records) {
    const double* v = r.GetAll();
    const auto o = mlp_reference::Forward(shape, w, v);
    expected += softMax ? mlp_reference::CrossEntropy(o, v + inputs)
                        : mlp_reference::SumOfSquares(o, v + inputs);
  }
  EXPECT_NEAR(error, expected, 1e-12 * expected);

  const double h = 1e-5;
  std::valarray<double> numeric(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) {
    std::valarray<double> wp = w, wm = w;
    wp[i] += h;
    wm[i] -= h;
    net.SetWeights(wp);
    const double ep = Pass(net, source, nullptr);
    net.SetWeights(wm);
    numeric[i] = (ep - Pass(net, source, nullptr)) / (2 * h);
  }
  ASSERT_GT(std::abs(numeric).max(), 1e-3);
  for (std::size_t i = 0; i < w.size(); ++i)
    EXPECT_LT(std::fabs(g[i] - numeric[i]), 1e-6 * std::max(std::fabs(numeric[i]), 1e-2))
        << "weight " << i;

  // The norm is that of the vector just read.
  net.SetWeights(w);
  Pass(net, source, &g);
  EXPECT_NEAR(net.GradientNorm(), std::sqrt((g * g).sum()), 1e-12 * net.GradientNorm());
}

INSTANTIATE_TEST_SUITE_P(Shapes, GradientCheck, GradientCheckShapes(3));
// Sigmoid outputs take their own derivative in the output deltas.
INSTANTIATE_TEST_SUITE_P(
    SigmoidOutputs, GradientCheck,
    ::testing::Combine(::testing::Values(3), ::testing::Values(VXNNCommon::kTanH),
                       ::testing::Values(std::vector<int>{4}),
                       ::testing::Values(std::vector<int>{1, 1}, std::vector<int>{3, 2}),
                       ::testing::Values(VXNNCommon::kSigmoid)));

}  // namespace
