// Output statistics and predictor importance through the algorithm
// interface, the way a host reaches them: a variable list, raw records, the
// factory, training, and the results checked against the model's own scores.
#include "vxneural/algorithm/mlp_driver_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using namespace mlpdriver;
using Source = host_doubles::CountingSource;

// A model of both targets over the mixed records, 300 for training and 60
// for testing, with importance asked for; 80 more records held out.
TEST(AlgorithmEvaluation, TrainedModelThroughTheFactory) {
  host_doubles::CountdownCancel cancel;
  auto model = MakeModel(kBothTargets, 300, 60, 21, [&](MLPSettings& s) {
    s.SetMaxNDataPasses(100);
    s.SetComputeSensitivity(true);
    s.SetCancelPointer(&cancel);
  });
  INeuralAlgorithm* const algorithm = model->algorithm.get();
  ASSERT_TRUE(algorithm);
  ASSERT_TRUE(algorithm->Train(300, -1).IsOK());
  Source holdout(MakeRecords(80, 23));
  NNOutputStatistics stats;
  ASSERT_EQ(algorithm->ComputeOutputStats(holdout, 80, stats), VXStatus());
  EXPECT_TRUE(stats.StatsOK());
  EXPECT_EQ(holdout.Position(), 0u);

  // The figures a host would work out from the model's scores. The relative
  // error does not change when targets and predictions are both
  // standardised, so raw units give the network's figure.
  std::vector<int> matrix(4, 0);
  double correct = 0.0, mean = 0.0, sse = 0.0, ssd = 0.0;
  const std::vector<Record>& records = holdout.Records();
  for (const Record& r : records) mean += r[kZ] / static_cast<double>(records.size());
  for (const Record& r : records) {
    const NNOutputList& out = algorithm->Score(InputsOf(r));
    ASSERT_FALSE(out.IsMissing());
    const int k =
        dynamic_cast<const NNCategOutput&>(*out.GetOutputAt(out.FindName("y"))).GetWinningIndex();
    const double y =
        dynamic_cast<const NNContOutput&>(*out.GetOutputAt(out.FindName("z"))).GetRealOutput();
    ++matrix[static_cast<std::size_t>(2 * r[kY] + k)];
    correct += k == r[kY] ? 100.0 / static_cast<double>(records.size()) : 0.0;
    sse += (r[kZ] - y) * (r[kZ] - y);
    ssd += (r[kZ] - mean) * (r[kZ] - mean);
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
    answers.push_back(algorithm->ComputeOutputStats(holdout, 10, busy));
    statuses.push_back(algorithm->GetAlgorithmStatus());
  });
  algorithm->SetProgressListener(&listener);
  std::vector<double> importance;
  ASSERT_EQ(algorithm->ComputeSensitivity(importance), VXStatus());
  ASSERT_EQ(importance.size(), 3u);
  EXPECT_NEAR(importance[0] + importance[1] + importance[2], 1.0, 1e-12);
  for (double v : importance) EXPECT_GT(v, 0.0);
  // 360 records: the first report and the last, each finding the algorithm
  // busy; afterwards the Trained state answers again.
  EXPECT_EQ(reported, (std::vector<int>{1, 360}));
  EXPECT_EQ(answers, std::vector<VXStatus>(2, VXStatus(6, true)));
  EXPECT_EQ(statuses, std::vector<int>(2, VXNNCommon::kTrained));
  EXPECT_EQ(algorithm->GetStatus(), VXStatus());
  algorithm->RemoveProgressListener();
  EXPECT_EQ(algorithm->ComputeOutputStats(holdout, 10, stats), VXStatus());

  // The six-argument form takes the list's ranges when none are given, and
  // uses given ranges when asked.
  const NNVarList* list = algorithm->GetVarList();
  std::vector<double> mins, maxs, again;
  const std::vector<double> none;
  list->GetInpContMinMax(mins, maxs);
  auto run = [&](bool given) {
    return algorithm->ComputeSensitivity(list->GetNumInputVars(), list->GetNInputCats(), given,
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
  cancel.Arm(20);
  EXPECT_EQ(algorithm->ComputeSensitivity(importance), VXStatus(1, false));
  EXPECT_EQ(algorithm->GetStatus(), VXStatus(1, false));
  EXPECT_EQ(algorithm->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(model->Mlp().GetNetwork(), nullptr);
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
}

}  // namespace
