// Output statistics and predictor importance through the algorithm
// interface, the way a host reaches them: a variable list, raw records, the
// factory, training, and the results checked against the model's own scores.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "eval_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using namespace evaltest;
using VXCommon_1_2::VXStatus;

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
    const double y = signal + 0.1 * (u(gen) - 0.5);
    records.push_back(Record(std::vector<double>{a, double(c), n, k, y}));
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
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> algorithm;

  explicit Host(bool sensitivity = true) {
    settings.SetNumHiddenUnits(4, 1);
    settings.SetMaxNDataPasses(100);
    settings.SetNTestRecords(60);
    settings.SetRandomSeed(3);
    settings.SetRandomSeedSampling(4);
    settings.SetComputeSensitivity(sensitivity);
  }
  void Create() {
    algorithm.reset(factory.CreateNeuralAlgorithm(settings, list, train, &test, nullptr));
    ASSERT_TRUE(algorithm);
    ASSERT_TRUE(algorithm->GetStatus().IsOK());
  }
  void CreateAndTrain() {
    Create();
    ASSERT_TRUE(algorithm->Train(300, -1).IsOK());
    ASSERT_EQ(algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  }
};

// Answers false until armed, then true after `after` more false answers.
class ArmedCancel : public VXCommon_1_2::VXQueryCancel {
 public:
  bool QueryCancel() override { return fArmed && fAfter-- <= 0; }
  void Arm(int after) {
    fArmed = true;
    fAfter = after;
  }

 private:
  bool fArmed = false;
  int fAfter = 0;
};

// The statistics a host would work out from the model's scores.
struct FromScores {
  std::vector<int> matrix = std::vector<int>(4, 0);
  double percentCorrect = 0.0;
  double relativeError = 0.0;
};

FromScores ScoreEach(INeuralAlgorithm& algorithm, const std::vector<Record>& records) {
  FromScores f;
  std::vector<double> predicted;
  double mean = 0.0;
  int correct = 0;
  for (const Record& r : records) {
    const NNOutputList& out = algorithm.Score(r);
    EXPECT_FALSE(out.IsMissing());
    const auto* k = dynamic_cast<const NNCategOutput*>(out.GetOutputAt(out.FindName("k")));
    const auto* y = dynamic_cast<const NNContOutput*>(out.GetOutputAt(out.FindName("y")));
    const int target = static_cast<int>(r[kK]);
    ++f.matrix[static_cast<std::size_t>(2 * target + k->GetWinningIndex())];
    correct += k->GetWinningIndex() == target;
    predicted.push_back(y->GetRealOutput());
    mean += r[kY];
  }
  mean /= records.size();
  double sse = 0.0;
  double ssd = 0.0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    sse += (records[i][kY] - predicted[i]) * (records[i][kY] - predicted[i]);
    ssd += (records[i][kY] - mean) * (records[i][kY] - mean);
  }
  // The ratio does not change when targets and predictions are both
  // standardised, so raw units give the network's figure.
  f.relativeError = sse / ssd;
  f.percentCorrect = 100.0 * correct / static_cast<double>(records.size());
  return f;
}

TEST(AlgorithmOutputStats, AgreeWithTheModelsOwnScores) {
  Host host;
  host.CreateAndTrain();
  NNOutputStatistics stats;
  ASSERT_EQ(host.algorithm->ComputeOutputStats(host.holdout, 80, stats), VXStatus());
  EXPECT_TRUE(stats.StatsOK());
  EXPECT_EQ(host.holdout.Position(), 0u);
  EXPECT_EQ(stats.GetNumCategories(), (std::vector<int>{2, 1}));

  const FromScores want = ScoreEach(*host.algorithm, host.holdout.Records());
  EXPECT_EQ(stats.GetMisClassMatrixInOneVec(0), want.matrix);
  EXPECT_NEAR(stats.GetPercentsCorrect()[0], want.percentCorrect, 1e-9);
  EXPECT_NEAR(stats.GetAvgPercentIncorrect(), 100.0 - want.percentCorrect, 1e-9);
  ASSERT_EQ(stats.GetRelativeErrors().size(), 1u);
  EXPECT_NEAR(stats.GetRelativeErrors()[0], want.relativeError, 1e-9);
  // A trained model beats the mean model on data it can learn.
  EXPECT_LT(stats.GetRelativeErrors()[0], 0.2);
  EXPECT_GT(stats.GetPercentsCorrect()[0], 70.0);
  EXPECT_EQ(host.algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
}

TEST(AlgorithmOutputStats, ComputedBeforeTrainingAndOnAtMostNRecords) {
  Host host;
  host.Create();
  NNOutputStatistics stats;
  ASSERT_EQ(host.algorithm->ComputeOutputStats(host.holdout, 25, stats), VXStatus());
  EXPECT_TRUE(stats.StatsOK());
  int counted = 0;
  for (int v : stats.GetMisClassMatrixInOneVec(0)) counted += v;
  EXPECT_EQ(counted, 25);
  EXPECT_EQ(host.algorithm->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(host.holdout.Position(), 0u);
}

TEST(AlgorithmOutputStats, RestoredModelGivesTheSameStatistics) {
  Host host;
  host.CreateAndTrain();
  NNOutputStatistics before;
  ASSERT_EQ(host.algorithm->ComputeOutputStats(host.holdout, 80, before), VXStatus());
  std::stringstream saved;
  ASSERT_EQ(host.algorithm->SaveState(saved), VXStatus());

  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> restored(
      factory.RestoreNeuralAlgorithmFromBinary(saved, host.train, &host.test));
  ASSERT_TRUE(restored);
  NNOutputStatistics after;
  ASSERT_EQ(restored->ComputeOutputStats(host.holdout, 80, after), VXStatus());
  EXPECT_EQ(after.GetMisClassMatrixInOneVec(0), before.GetMisClassMatrixInOneVec(0));
  EXPECT_DOUBLE_EQ(after.GetRelativeErrors()[0], before.GetRelativeErrors()[0]);
  EXPECT_DOUBLE_EQ(after.GetTotalError(), before.GetTotalError());
}

TEST(AlgorithmOutputStats, EncodedTargetWithoutCategoryIsStoredAsAnError) {
  // Encoded records: 2 inputs, then a two-category target.
  MLPSettings settings(2, {2}, 4);
  settings.SetMaxNDataPasses(5);
  Source train({Rec({0.1, 0.2}, {1, 0}), Rec({0.5, -0.3}, {0, 1}), Rec({-0.4, 0.9}, {1, 0}),
                Rec({0.8, 0.1}, {0, 1})});
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> algorithm(
      factory.CreateNeuralAlgorithm(settings, train, nullptr));
  ASSERT_TRUE(algorithm);
  Source bad({Rec({0.1, 0.2}, {1, 0}), Rec({0.3, 0.3}, {0, 0})});
  NNOutputStatistics stats;
  const VXStatus status = algorithm->ComputeOutputStats(bad, 10, stats);
  EXPECT_EQ(status, VXStatus(50008, false));
  EXPECT_EQ(algorithm->GetStatus(), status);
  EXPECT_FALSE(stats.StatsOK());
  // The stored error closes the gate.
  EXPECT_EQ(algorithm->Train(4, -1), VXStatus());
  EXPECT_EQ(algorithm->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
}

TEST(AlgorithmSensitivity, ImportanceOfATrainedModelRanksTheIgnoredInputLast) {
  Host host;
  host.CreateAndTrain();
  std::vector<double> importance;
  ASSERT_EQ(host.algorithm->ComputeSensitivity(importance), VXStatus());
  ASSERT_EQ(importance.size(), 3u);
  EXPECT_NEAR(importance[0] + importance[1] + importance[2], 1.0, 1e-12);
  EXPECT_LT(importance[2], importance[0]);
  EXPECT_LT(importance[2], importance[1]);
  EXPECT_EQ(host.algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(host.algorithm->GetStatus(), VXStatus());

  // The six-argument form takes the list's ranges when none are given, and
  // uses given ranges when asked.
  const NNVarList* list = host.algorithm->GetVarList();
  std::vector<double> mins;
  std::vector<double> maxs;
  list->GetInpContMinMax(mins, maxs);
  std::vector<double> fromList;
  ASSERT_EQ(host.algorithm->ComputeSensitivity(list->GetNumInputVars(), list->GetNInputCats(),
                                               false, {}, {}, fromList),
            VXStatus());
  EXPECT_EQ(fromList, importance);
  std::vector<double> given;
  ASSERT_EQ(host.algorithm->ComputeSensitivity(list->GetNumInputVars(), list->GetNInputCats(), true,
                                               mins, maxs, given),
            VXStatus());
  EXPECT_EQ(given, importance);
  mins[0] = maxs[0];
  ASSERT_EQ(host.algorithm->ComputeSensitivity(list->GetNumInputVars(), list->GetNInputCats(), true,
                                               mins, maxs, given),
            VXStatus());
  EXPECT_EQ(given[0], 0.0);
}

TEST(AlgorithmSensitivity, RefusedBeforeTrainingAndSkippedWithoutTheFlag) {
  Host host;
  host.Create();
  std::vector<double> importance{7.0};
  EXPECT_EQ(host.algorithm->ComputeSensitivity(importance), VXStatus(6, true));
  EXPECT_EQ(importance, std::vector<double>{7.0});

  Host off(false);
  off.CreateAndTrain();
  EXPECT_EQ(off.algorithm->ComputeSensitivity(importance), VXStatus());
  EXPECT_EQ(importance, std::vector<double>{7.0});
}

TEST(AlgorithmSensitivity, AListenerCallingBackFindsTheAlgorithmBusy) {
  Host host;
  host.CreateAndTrain();
  std::vector<int> records;
  std::vector<VXStatus> answers;
  std::vector<int> statuses;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport& report) {
    records.push_back(report.DiscreteMeasure("records"));
    NNOutputStatistics stats;
    answers.push_back(host.algorithm->ComputeOutputStats(host.holdout, 10, stats));
    statuses.push_back(host.algorithm->GetAlgorithmStatus());
  });
  host.algorithm->SetProgressListener(&listener);
  std::vector<double> importance;
  EXPECT_EQ(host.algorithm->ComputeSensitivity(importance), VXStatus());
  // 360 records: the first report and the last.
  EXPECT_EQ(records, (std::vector<int>{1, 360}));
  EXPECT_EQ(answers, std::vector<VXStatus>(2, VXStatus(6, true)));
  EXPECT_EQ(statuses, std::vector<int>(2, VXNNCommon::kTrained));
  EXPECT_EQ(host.algorithm->GetStatus(), VXStatus());
  // Afterwards the Trained state answers again.
  host.algorithm->RemoveProgressListener();
  NNOutputStatistics stats;
  EXPECT_EQ(host.algorithm->ComputeOutputStats(host.holdout, 10, stats), VXStatus());
}

TEST(AlgorithmSensitivity, CancelDuringTheComputationCancelsTheAlgorithm) {
  Host host;
  ArmedCancel cancel;
  host.settings.SetCancelPointer(&cancel);
  host.CreateAndTrain();
  cancel.Arm(20);
  std::vector<double> importance;
  const VXStatus status = host.algorithm->ComputeSensitivity(importance);
  EXPECT_EQ(status, VXStatus(1, false));
  EXPECT_EQ(host.algorithm->GetStatus(), status);
  EXPECT_EQ(host.algorithm->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(dynamic_cast<MLPAlgorithm&>(*host.algorithm).GetNetwork(), nullptr);
}

}  // namespace
