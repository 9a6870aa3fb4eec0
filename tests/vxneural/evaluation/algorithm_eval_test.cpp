// Output statistics and predictor importance through the algorithm
// interface, the way a host reaches them: a variable list, raw records, the
// factory, training, and the results checked against the model's own scores.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "common/host_doubles.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using Source = host_doubles::CountingSource;

// Raw fields: a (effect), c (3 categories, effect), n (no effect), then the
// targets k (2 categories) and y (continuous).
enum Field { kA = 0, kC, kN, kK, kY };

std::vector<Record> HostRecords(int count, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double effect[3] = {-1.0, 0.2, 1.2};
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) {
    const double a = 4.0 * u(gen);
    const int c = static_cast<int>(gen() % 3);
    const double n = 10.0 * u(gen);
    const double signal = 0.8 * a + effect[c];
    const double k = signal + 0.6 * (u(gen) - 0.5) > 1.8 ? 1.0 : 0.0;
    records.push_back(Record({a, double(c), n, k, signal + 0.1 * (u(gen) - 0.5)}));
  }
  return records;
}

NNVarList HostList() {
  NNVarList list;
  list.AddContVar("a", "", 0.0, 4.0, 2.0, 16.0 / 12.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddContVar("n", "", 0.0, 10.0, 5.0, 100.0 / 12.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("k", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  list.AddContVar("y", "", -1.0, 4.4, 1.7, 1.4, INNVariable::kOutput, INNVariable::kReal);
  return list;
}

// What a host keeps alive while it uses its algorithm.
struct Host {
  NNVarList list = HostList();
  MLPSettings settings{list, 300};
  Source train{HostRecords(300, 21)};
  Source test{HostRecords(60, 22)};
  Source holdout{HostRecords(80, 23)};
  host_doubles::CountdownCancel cancel;
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> algorithm;

  void CreateAndTrain() {
    settings.SetNumHiddenUnits(4, 1);
    settings.SetMaxNDataPasses(100);
    settings.SetNTestRecords(60);
    settings.SetRandomSeed(3);
    settings.SetRandomSeedSampling(4);
    settings.SetComputeSensitivity(true);
    settings.SetCancelPointer(&cancel);
    algorithm.reset(factory.CreateNeuralAlgorithm(settings, list, train, &test, nullptr));
    ASSERT_TRUE(algorithm);
    ASSERT_TRUE(algorithm->GetStatus().IsOK());
    ASSERT_TRUE(algorithm->Train(300, -1).IsOK());
    ASSERT_EQ(algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  }
};

TEST(AlgorithmEvaluation, TrainedModelThroughTheFactory) {
  Host host;
  ASSERT_NO_FATAL_FAILURE(host.CreateAndTrain());
  NNOutputStatistics stats;
  ASSERT_EQ(host.algorithm->ComputeOutputStats(host.holdout, 80, stats), VXStatus());
  EXPECT_TRUE(stats.StatsOK());
  EXPECT_EQ(host.holdout.Position(), 0u);

  // The figures a host would work out from the model's scores. The relative
  // error does not change when targets and predictions are both
  // standardised, so raw units give the network's figure.
  std::vector<int> matrix(4, 0);
  double correct = 0.0, mean = 0.0, sse = 0.0, ssd = 0.0;
  const std::vector<Record>& records = host.holdout.Records();
  for (const Record& r : records) mean += r[kY] / static_cast<double>(records.size());
  for (const Record& r : records) {
    const NNOutputList& out = host.algorithm->Score(r);
    ASSERT_FALSE(out.IsMissing());
    const int k =
        dynamic_cast<const NNCategOutput&>(*out.GetOutputAt(out.FindName("k"))).GetWinningIndex();
    const double y =
        dynamic_cast<const NNContOutput&>(*out.GetOutputAt(out.FindName("y"))).GetRealOutput();
    ++matrix[static_cast<std::size_t>(2 * r[kK] + k)];
    correct += k == r[kK] ? 100.0 / static_cast<double>(records.size()) : 0.0;
    sse += (r[kY] - y) * (r[kY] - y);
    ssd += (r[kY] - mean) * (r[kY] - mean);
  }
  EXPECT_EQ(stats.GetMisClassMatrixInOneVec(0), matrix);
  EXPECT_NEAR(stats.GetPercentsCorrect()[0], correct, 1e-9);
  EXPECT_NEAR(stats.GetAvgPercentIncorrect(), 100.0 - correct, 1e-9);
  ASSERT_EQ(stats.GetRelativeErrors().size(), 1u);
  EXPECT_NEAR(stats.GetRelativeErrors()[0], sse / ssd, 1e-9);
  // A trained model beats the mean model on data it can learn.
  EXPECT_LT(stats.GetRelativeErrors()[0], 0.2);
  EXPECT_GT(correct, 70.0);

  // Importance, with a listener that calls back into the algorithm.
  std::vector<int> reported, statuses;
  std::vector<VXStatus> answers;
  host_doubles::FunctionListener listener([&](VXCommon_1_2::ProgressReport& report) {
    reported.push_back(report.DiscreteMeasure("records"));
    NNOutputStatistics busy;
    answers.push_back(host.algorithm->ComputeOutputStats(host.holdout, 10, busy));
    statuses.push_back(host.algorithm->GetAlgorithmStatus());
  });
  host.algorithm->SetProgressListener(&listener);
  std::vector<double> importance;
  ASSERT_EQ(host.algorithm->ComputeSensitivity(importance), VXStatus());
  ASSERT_EQ(importance.size(), 3u);
  EXPECT_NEAR(importance[0] + importance[1] + importance[2], 1.0, 1e-12);
  EXPECT_LT(importance[2], importance[0]);
  EXPECT_LT(importance[2], importance[1]);
  // 360 records: the first report and the last, each finding the algorithm
  // busy; afterwards the Trained state answers again.
  EXPECT_EQ(reported, (std::vector<int>{1, 360}));
  EXPECT_EQ(answers, std::vector<VXStatus>(2, VXStatus(6, true)));
  EXPECT_EQ(statuses, std::vector<int>(2, VXNNCommon::kTrained));
  EXPECT_EQ(host.algorithm->GetStatus(), VXStatus());
  host.algorithm->RemoveProgressListener();
  EXPECT_EQ(host.algorithm->ComputeOutputStats(host.holdout, 10, stats), VXStatus());

  // The six-argument form takes the list's ranges when none are given, and
  // uses given ranges when asked.
  const NNVarList* list = host.algorithm->GetVarList();
  std::vector<double> mins, maxs, again;
  const std::vector<double> none;
  list->GetInpContMinMax(mins, maxs);
  auto run = [&](bool given) {
    return host.algorithm->ComputeSensitivity(list->GetNumInputVars(), list->GetNInputCats(), given,
                                              given ? mins : none, given ? maxs : none, again);
  };
  ASSERT_EQ(run(false), VXStatus());
  EXPECT_EQ(again, importance);
  ASSERT_EQ(run(true), VXStatus());
  EXPECT_EQ(again, importance);
  mins[0] = maxs[0];
  ASSERT_EQ(run(true), VXStatus());
  EXPECT_EQ(again[0], 0.0);

  // A cancel request during the computation cancels the algorithm.
  host.cancel.Arm(20);
  EXPECT_EQ(host.algorithm->ComputeSensitivity(importance), VXStatus(1, false));
  EXPECT_EQ(host.algorithm->GetStatus(), VXStatus(1, false));
  EXPECT_EQ(host.algorithm->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(dynamic_cast<MLPAlgorithm&>(*host.algorithm).GetNetwork(), nullptr);
}

TEST(AlgorithmEvaluation, EncodedTargetWithoutCategoryIsStoredAsAnError) {
  // Encoded records: 2 inputs, then a two-category target.
  MLPSettings settings(2, {2}, 4);
  settings.SetMaxNDataPasses(5);
  Source train({Record({0.1, 0.2, 1, 0}), Record({0.5, -0.3, 0, 1}), Record({-0.4, 0.9, 1, 0}),
                Record({0.8, 0.1, 0, 1})});
  std::unique_ptr<INeuralAlgorithm> algorithm(
      MLPFactory().CreateNeuralAlgorithm(settings, train, nullptr));
  ASSERT_TRUE(algorithm);
  Source bad({Record({0.1, 0.2, 1, 0}), Record({0.3, 0.3, 0, 0})});
  NNOutputStatistics stats;
  EXPECT_EQ(algorithm->ComputeOutputStats(bad, 10, stats), VXStatus(50008, false));
  EXPECT_EQ(algorithm->GetStatus(), VXStatus(50008, false));
  EXPECT_FALSE(stats.StatsOK());
  // The stored error closes the gate.
  EXPECT_EQ(algorithm->Train(4, -1), VXStatus());
  EXPECT_EQ(algorithm->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
}

}  // namespace
