// Training method "Linear Regression" as a host uses it: iris through the
// factory, an MLP without a hidden layer, one data pass, and the least-
// squares fit of the species indicators on the four measurements, before
// and after a save and restore.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

#include "../optim/least_squares_reference.h"
#include "common/iris.h"
#include "vxcommon/Record.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

TEST(LinearRegressionMethod, IrisThroughTheFactoryGivesTheLeastSquaresFit) {
  const std::vector<iris::Flower> flowers = iris::Flowers();
  ASSERT_EQ(flowers.size(), 150u);
  // The host's raw rows: four measurements and the species code 0..2.
  std::vector<Record> rows;
  for (const iris::Flower& f : flowers)
    rows.emplace_back(std::vector<double>{f.x[0], f.x[1], f.x[2], f.x[3], double(f.species)});
  NNVarList list;
  const char* names[] = {"sepal_length", "sepal_width", "petal_length", "petal_width"};
  for (int i = 0; i < 4; ++i) {
    double lo = 1e300, hi = -1e300, mean = 0.0, sq = 0.0;
    for (const Record& r : rows) {
      lo = std::min(lo, r[i]);
      hi = std::max(hi, r[i]);
      mean += r[i] / 150.0;
    }
    for (const Record& r : rows) sq += (r[i] - mean) * (r[i] - mean) / 149.0;
    list.AddContVar(names[i], "", lo, hi, mean, sq, INNVariable::kInput, INNVariable::kReal);
  }
  list.AddCatVar("species", "", std::vector<double>{0, 1, 2}, INNVariable::kOutput,
                 INNVariable::kInteger);

  MLPSettings settings(list, 150);
  settings.SetNumHiddenLayers(0);
  settings.SetActivFnOutputLayer(VXNNCommon::kIdentity);
  ASSERT_EQ(settings.GetTrainingMethod(), VXNNCommon::kLinearRegression);
  VectorRecordIter train(rows);
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> a(
      factory.CreateNeuralAlgorithm(settings, list, train, nullptr, nullptr));
  ASSERT_TRUE(a) << factory.GetStatus();
  ASSERT_EQ(a->Train(150, 0), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(a->GetStopReason(), VXNNCommon::kStoppedComputed);

  // Least squares on the raw measurements with a constant: the encoding of
  // the inputs is affine, so the fitted values are the same.
  least_squares_reference::Fit fit;
  {
    std::vector<std::vector<double>> x, y;
    for (const Record& r : rows) {
      x.push_back({1.0, r[0], r[1], r[2], r[3]});
      std::vector<double> hot(3, 0.0);
      hot[std::size_t(r[4])] = 1.0;
      y.push_back(hot);
    }
    fit = least_squares_reference::Solve(x, y, std::vector<double>(150, 1.0));
    EXPECT_NEAR(a->GetTrainingError(), 0.5 * (fit.rss[0] + fit.rss[1] + fit.rss[2]), 1e-9);
  }
  auto expectFit = [&](const INeuralAlgorithm& model) {
    for (const Record& r : rows) {
      Record out;
      ASSERT_EQ(model.Score(r, out), VXStatus());
      ASSERT_EQ(out.Size(), 3);
      for (std::size_t t = 0; t < 3; ++t) {
        const auto& b = fit.b[t];
        const double expected = b[0] + b[1] * r[0] + b[2] * r[1] + b[3] * r[2] + b[4] * r[3];
        EXPECT_NEAR(out[int(t)], expected, 1e-9);
      }
    }
  };
  expectFit(*a);

  std::stringstream saved;
  ASSERT_EQ(a->SaveState(saved), VXStatus());
  VectorRecordIter again(rows);
  std::unique_ptr<INeuralAlgorithm> back(
      factory.RestoreNeuralAlgorithmFromBinary(saved, again, nullptr));
  ASSERT_TRUE(back) << factory.GetStatus();
  EXPECT_EQ(back->GetAlgorithmStatus(), VXNNCommon::kTrained);
  expectFit(*back);
}

}  // namespace
