// The accumulated gradient against central finite differences of the summed
// error, and the summed error against the reference implementation, over
// the network shapes the component builds.
#include <gtest/gtest.h>

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
using VXCommon_1_2::VXStatus;
using VXNNCommon::ActivationFunction;

enum class Targets { kContinuous, kCategorical, kMixed };

std::vector<int> CategoriesOf(Targets t) {
  switch (t) {
    case Targets::kContinuous:
      return {1, 1};
    case Targets::kCategorical:
      return {3, 2};
    default:
      return {3, 1, 2};
  }
}

using Case = std::tuple<ActivationFunction, std::vector<int>, Targets, ActivationFunction>;

class GradientCheck : public ::testing::TestWithParam<Case> {
 protected:
  static constexpr int kInputs = 3;
  static constexpr int kRecords = 12;

  // Summed error of one pass; with gradient, also the accumulated gradient.
  static double Pass(NNetwork& net, VectorRecordIter& source, std::valarray<double>* gradient) {
    source.Rewind();
    net.ResetDerivatives();
    VXStatus status;
    int n = 0;
    net.ProcessRecords(status, source, 1 << 30, n, gradient == nullptr, false);
    EXPECT_EQ(n, kRecords);
    if (gradient) net.GetGradient(*gradient);
    return net.GetAccumError();
  }
};

TEST_P(GradientCheck, AgreesWithCentralDifferencesAndReferenceError) {
  const auto& [hiddenFn, hidden, targets, outputFn] = GetParam();
  const std::vector<int> categories = CategoriesOf(targets);
  auto settings = MakeSettings(kInputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);

  const bool softMax = outputFn == VXNNCommon::kSoftMax && targets == Targets::kCategorical;
  ASSERT_EQ(net.GetErrorFunction(),
            softMax ? VXNNCommon::kCrossEntropy : VXNNCommon::kSumOfSquares);
  ASSERT_EQ(net.GetLayer(net.GetNumLayers())->GetActivationFunction(),
            softMax ? VXNNCommon::kSoftMax : VXNNCommon::kIdentity);

  const mlp_reference::Shape shape = ShapeOf(net);
  ASSERT_EQ(net.GetNumWeights(), mlp_reference::NumWeights(shape));
  std::valarray<double> w = RandomWeights(net.GetNumWeights(), 7, -1.0, 1.0);
  ASSERT_EQ(net.SetWeights(w), net.GetNumWeights());

  const auto records = MakeRecords(kInputs, categories, kRecords, 11);
  auto source = VectorRecordIter::Borrow(records);

  std::valarray<double> g;
  const double error = Pass(net, source, &g);
  ASSERT_EQ(g.size(), w.size());

  double expected = 0.0;
  for (const auto& r : records) {
    const double* v = r.GetAll();
    const auto o = mlp_reference::Forward(shape, w, v);
    expected += softMax ? mlp_reference::CrossEntropy(o, v + kInputs)
                        : mlp_reference::SumOfSquares(o, v + kInputs);
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
    const double em = Pass(net, source, nullptr);
    numeric[i] = (ep - em) / (2 * h);
  }
  const std::valarray<double> diff = g - numeric;
  const double scale = std::max(std::sqrt((g * g).sum()), std::sqrt((numeric * numeric).sum()));
  ASSERT_GT(scale, 0.0);
  EXPECT_LT(std::sqrt((diff * diff).sum()) / scale, 1e-6);
  for (std::size_t i = 0; i < w.size(); ++i)
    EXPECT_LT(std::fabs(diff[i]), 1e-6 * std::max(std::fabs(numeric[i]), 1e-2)) << "weight " << i;

  // The norm is that of the vector just read.
  net.SetWeights(w);
  Pass(net, source, &g);
  EXPECT_NEAR(net.GradientNorm(), std::sqrt((g * g).sum()), 1e-12 * net.GradientNorm());
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const auto& [hiddenFn, hidden, targets, outputFn] = info.param;
  std::string name = hiddenFn == VXNNCommon::kTanH ? "TanH" : "Sigmoid";
  name += std::to_string(hidden.size());
  name += targets == Targets::kContinuous    ? "Continuous"
          : targets == Targets::kCategorical ? "Categorical"
                                             : "Mixed";
  name += outputFn == VXNNCommon::kSoftMax ? "SoftMax" : "Identity";
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GradientCheck,
    ::testing::Combine(
        ::testing::Values(VXNNCommon::kTanH, VXNNCommon::kSigmoid),
        ::testing::Values(std::vector<int>{}, std::vector<int>{4}, std::vector<int>{4, 3}),
        ::testing::Values(Targets::kContinuous, Targets::kCategorical, Targets::kMixed),
        ::testing::Values(VXNNCommon::kIdentity, VXNNCommon::kSoftMax)),
    CaseName);

}  // namespace
