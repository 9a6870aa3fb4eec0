// NNOutputStatistics and the pass that fills it: confusion matrices,
// percentages, relative errors against a two-pass reference, refusals,
// cancellation and the accessors.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "eval_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/INLayer.h"

namespace {

using namespace evaltest;
using VXCommon_1_2::VXStatus;
using VXNeural::ComputeOutputStats;
constexpr double kMissing = VXMV::gMissingValue;

// Summed network error, per-unit relative errors and the pooled ratio,
// worked out with the textbook two-pass mean for records whose outputs are
// given directly.
struct Reference {
  double total = 0.0;
  std::vector<double> relative;
  double pooled = kMissing;
};

Reference TwoPass(const std::vector<std::vector<double>>& targets,
                  const std::vector<std::vector<double>>& outputs) {
  Reference r;
  const std::size_t units = targets[0].size();
  double sse = 0.0;
  double ssd = 0.0;
  for (std::size_t u = 0; u < units; ++u) {
    double mean = 0.0;
    for (const auto& t : targets) mean += t[u];
    mean /= static_cast<double>(targets.size());
    double e = 0.0;
    double d = 0.0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
      e += (targets[i][u] - outputs[i][u]) * (targets[i][u] - outputs[i][u]);
      d += (targets[i][u] - mean) * (targets[i][u] - mean);
    }
    r.relative.push_back(d > 0.0 ? e / d : kMissing);
    sse += e;
    ssd += d;
    r.total += 0.5 * e;
  }
  if (ssd > 0.0) r.pooled = sse / ssd;
  return r;
}

// Records of a copy network: the inputs are the outputs the network gives.
std::vector<Record> CopyRecords(const std::vector<std::vector<double>>& outputs,
                                const std::vector<std::vector<double>>& targets) {
  std::vector<Record> records;
  for (std::size_t i = 0; i < outputs.size(); ++i) records.push_back(Rec(outputs[i], targets[i]));
  return records;
}

// Four records of a three-category target whose (target, predicted) pairs
// are (0,0), (1,2), (2,2), (1,1).
const std::vector<std::vector<double>> kScores = {
    {0.9, 0.05, 0.05}, {0.1, 0.3, 0.6}, {0.2, 0.2, 0.6}, {0.1, 0.8, 0.1}};
const std::vector<std::vector<double>> kOneHot = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 0}};

TEST(OutputStatistics, NewObjectIsInvalidAndEmpty) {
  NNOutputStatistics s;
  EXPECT_EQ(s.GetStatus(), VXNNCommon::kOutStatInvalid);
  EXPECT_FALSE(s.StatsOK());
  EXPECT_EQ(s.GetNumOutputVars(), 0);
  EXPECT_TRUE(s.GetRelativeErrors().empty());
  EXPECT_TRUE(s.GetPercentsCorrect().empty());
  EXPECT_EQ(s.GetTotalError(), kMissing);
  EXPECT_EQ(s.GetAvgRelativeError(), kMissing);
  EXPECT_EQ(s.GetAvgPercentIncorrect(), kMissing);
  EXPECT_TRUE(s.GetMisClassMatrixAsVecOfRows(0).empty());
  EXPECT_EQ(s.GetMisClassElement(0, 0, 0), 0);
}

TEST(OutputStatistics, ConfusionMatrixAndPercentagesOfTheWorkedExample) {
  Net net = CopyNet({3});
  Source source(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  EXPECT_EQ(ComputeOutputStats(*net, source, 100, s), VXStatus());
  EXPECT_TRUE(s.StatsOK());
  EXPECT_EQ(s.GetNumOutputVars(), 1);
  EXPECT_EQ(s.GetNumCatOutputs(), 1);
  EXPECT_EQ(s.GetNumContOutputs(), 0);
  EXPECT_EQ(s.GetNumCatCategories(), std::vector<int>{3});
  EXPECT_EQ(s.GetMisClassMatrixAsVecOfRows(0),
            (std::vector<std::vector<int>>{{1, 0, 0}, {0, 1, 1}, {0, 0, 1}}));
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(0), (std::vector<int>{1, 0, 0, 0, 1, 1, 0, 0, 1}));
  EXPECT_EQ(s.GetMisClassRow(0, 1), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(s.GetMisClassElement(0, 1, 2), 1);
  EXPECT_EQ(s.GetMisClassElement(0, 2, 1), 0);
  EXPECT_EQ(s.GetPercentsCorrect(), std::vector<double>{75.0});
  EXPECT_DOUBLE_EQ(s.GetAvgPercentIncorrect(), 25.0);
  EXPECT_TRUE(s.GetRelativeErrors().empty());

  const Reference ref = TwoPass(kOneHot, kScores);
  EXPECT_NEAR(s.GetTotalError(), ref.total, 1e-12);
  EXPECT_NEAR(s.GetAvgRelativeError(), ref.pooled, 1e-12);
  EXPECT_EQ(source.Rewinds(), 1);
  EXPECT_EQ(source.Position(), 0u);
}

TEST(OutputStatistics, FirstOfEqualMaximaIsThePrediction) {
  Net net = CopyNet({3});
  Source source({Rec({0.4, 0.4, 0.2}, {0, 1, 0})});
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  EXPECT_EQ(s.GetMisClassElement(0, 1, 0), 1);
  EXPECT_EQ(s.GetPercentsCorrect()[0], 0.0);
}

TEST(OutputStatistics, OutputsThatAreAllMinusMaxOrNaNPredictNothing) {
  Net net = CopyNet({2});
  Source source({Rec({-DBL_MAX, std::nan("")}, {1, 0}), Rec({0.2, 0.7}, {0, 1})});
  NNOutputStatistics s;
  EXPECT_EQ(ComputeOutputStats(*net, source, 100, s), VXStatus());
  // The first record is misclassified but lands in no cell.
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(0), (std::vector<int>{0, 0, 0, 1}));
  EXPECT_DOUBLE_EQ(s.GetPercentsCorrect()[0], 50.0);
}

TEST(OutputStatistics, ExactContinuousPredictionHasRelativeErrorZero) {
  Net net = CopyNet({1});
  Source source({Rec({0.5}, {0.5}), Rec({-1.0}, {-1.0}), Rec({2.0}, {2.0})});
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  EXPECT_EQ(s.GetRelativeErrors(), std::vector<double>{0.0});
  EXPECT_EQ(s.GetAvgRelativeError(), 0.0);
  EXPECT_EQ(s.GetTotalError(), 0.0);
  EXPECT_EQ(s.GetAvgPercentIncorrect(), 0.0);
}

TEST(OutputStatistics, PredictingTheMeanHasRelativeErrorOne) {
  const std::vector<double> targets = {1.0, 4.0, -2.5, 7.25, 0.5};
  double mean = 0.0;
  for (double t : targets) mean += t;
  mean /= targets.size();
  // The output ignores its input and always gives the mean.
  Net net = LinearNet({1}, {mean}, {{0.0}});
  std::vector<Record> records;
  for (double t : targets) records.push_back(Rec({t * 3.0}, {t}));
  Source source(records);
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  ASSERT_EQ(s.GetRelativeErrors().size(), 1u);
  EXPECT_NEAR(s.GetRelativeErrors()[0], 1.0, 1e-14);
  EXPECT_NEAR(s.GetAvgRelativeError(), 1.0, 1e-14);
}

TEST(OutputStatistics, MixedTargetsAgreeWithTheTwoPassReference) {
  // Targets: continuous, two categories, continuous, three categories.
  const std::vector<int> categories = {1, 2, 1, 3};
  const std::vector<std::vector<double>> outputs = {{0.3, 0.8, 0.2, 1.5, 0.1, 0.1, 0.8},
                                                    {-0.4, 0.4, 0.6, 2.0, 0.5, 0.3, 0.2},
                                                    {1.1, 0.3, 0.7, 0.9, 0.2, 0.6, 0.2},
                                                    {0.0, 0.9, 0.1, 1.2, 0.3, 0.3, 0.4},
                                                    {0.7, 0.6, 0.4, 1.8, 0.1, 0.2, 0.7}};
  const std::vector<std::vector<double>> targets = {{0.5, 1, 0, 1.0, 0, 0, 1},
                                                    {-0.2, 0, 1, 2.5, 1, 0, 0},
                                                    {1.0, 0, 1, 1.0, 0, 1, 0},
                                                    {0.2, 1, 0, 1.5, 0, 0, 1},
                                                    {0.4, 1, 0, 2.0, 0, 0, 1}};
  Net net = CopyNet(categories);
  Source source(CopyRecords(outputs, targets));
  NNOutputStatistics s;
  ASSERT_EQ(ComputeOutputStats(*net, source, 100, s), VXStatus());
  EXPECT_EQ(s.GetNumCategories(), categories);
  EXPECT_EQ(s.GetNumCatCategories(), (std::vector<int>{2, 3}));
  EXPECT_EQ(s.GetNumContOutputs(), 2);

  const Reference ref = TwoPass(targets, outputs);
  ASSERT_EQ(s.GetRelativeErrors().size(), 2u);
  EXPECT_NEAR(s.GetRelativeErrors()[0], ref.relative[0], 1e-12);
  EXPECT_NEAR(s.GetRelativeErrors()[1], ref.relative[3], 1e-12);
  EXPECT_NEAR(s.GetAvgRelativeError(), ref.pooled, 1e-12);
  EXPECT_NEAR(s.GetTotalError(), ref.total, 1e-12);

  // Every prediction is right: the counts land on the diagonals.
  EXPECT_EQ(s.GetMisClassMatrixAsVecOfRows(0), (std::vector<std::vector<int>>{{3, 0}, {0, 2}}));
  EXPECT_EQ(s.GetMisClassMatrixAsVecOfRows(1),
            (std::vector<std::vector<int>>{{1, 0, 0}, {0, 1, 0}, {0, 0, 3}}));
  EXPECT_EQ(s.GetPercentsCorrect(), (std::vector<double>{100.0, 100.0}));
  EXPECT_EQ(s.GetAvgPercentIncorrect(), 0.0);
}

TEST(OutputStatistics, AveragePercentIncorrectIsTheMeanOverCategoricalTargets) {
  // Two targets of two categories: the first always right, the second
  // right once in four.
  Net net = CopyNet({2, 2});
  Source source({Rec({1, 0, 1, 0}, {1, 0, 0, 1}), Rec({0, 1, 0, 1}, {0, 1, 1, 0}),
                 Rec({1, 0, 0, 1}, {1, 0, 1, 0}), Rec({0, 1, 1, 0}, {0, 1, 1, 0})});
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  EXPECT_EQ(s.GetPercentsCorrect(), (std::vector<double>{100.0, 25.0}));
  EXPECT_DOUBLE_EQ(s.GetAvgPercentIncorrect(), 37.5);
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(1), (std::vector<int>{1, 2, 1, 0}));
}

TEST(OutputStatistics, ConstantContinuousTargetKeepsItsRelativeErrorMissing) {
  Net net = CopyNet({1, 1});
  Source source({Rec({0.9, 1.0}, {1.0, 1.0}), Rec({1.2, 3.0}, {1.0, 3.0})});
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  EXPECT_TRUE(s.StatsOK());
  EXPECT_EQ(s.GetRelativeErrors()[0], kMissing);
  EXPECT_EQ(s.GetRelativeErrors()[1], 0.0);
  // Pooled: (0.01 + 0.04) / (0 + 2).
  EXPECT_NEAR(s.GetAvgRelativeError(), 0.025, 1e-12);
}

TEST(OutputStatistics, ZeroRecords) {
  Net net = CopyNet({1, 3});
  Source source({Rec({0, 0, 0, 0}, {0, 1, 0, 0})});
  NNOutputStatistics s;
  EXPECT_EQ(ComputeOutputStats(*net, source, 0, s), VXStatus());
  EXPECT_TRUE(s.StatsOK());
  EXPECT_EQ(s.GetRelativeErrors(), std::vector<double>{kMissing});
  EXPECT_EQ(s.GetAvgRelativeError(), kMissing);
  EXPECT_EQ(s.GetPercentsCorrect(), std::vector<double>{100.0});
  EXPECT_EQ(s.GetAvgPercentIncorrect(), 0.0);
  EXPECT_EQ(s.GetTotalError(), 0.0);
  EXPECT_EQ(source.Position(), 0u);
}

TEST(OutputStatistics, ReadsAtMostTheGivenNumberOfRecords) {
  Net net = CopyNet({3});
  Source source(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 2, s);
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(0), (std::vector<int>{1, 0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_DOUBLE_EQ(s.GetPercentsCorrect()[0], 50.0);
}

TEST(OutputStatistics, ShortRecordsAreSkippedAndNotCounted) {
  Net net = CopyNet({3});
  std::vector<Record> records = CopyRecords(kScores, kOneHot);
  records.insert(records.begin() + 1, Record(std::vector<double>{1, 0, 0, 0, 0}));
  Source source(records);
  NNOutputStatistics s;
  EXPECT_EQ(ComputeOutputStats(*net, source, 100, s), VXStatus());
  EXPECT_EQ(s.GetPercentsCorrect(), std::vector<double>{75.0});
}

TEST(OutputStatistics, CategoricalTargetWithoutActiveUnitIsRefused) {
  Net net = CopyNet({1, 3});
  std::vector<Record> records = {Rec({0.2, 1, 0, 0}, {0.1, 1, 0, 0}),
                                 Rec({0.3, 0, 1, 0}, {0.3, std::nan(""), 0, 0}),
                                 Rec({0.4, 0, 0, 1}, {0.5, 0, 0, 1})};
  Source source(records);
  NNOutputStatistics s;
  const VXStatus status = ComputeOutputStats(*net, source, 100, s);
  EXPECT_EQ(status.GetErrorCode(), 50008);
  EXPECT_TRUE(status.IsError());
  EXPECT_EQ(s.GetStatus(), VXNNCommon::kOutStatDefault);
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(0), std::vector<int>(9, 0));
  EXPECT_EQ(s.GetRelativeErrors(), std::vector<double>{kMissing});
  EXPECT_EQ(s.GetPercentsCorrect(), std::vector<double>{kMissing});
  EXPECT_EQ(s.GetTotalError(), kMissing);
  EXPECT_EQ(source.Rewinds(), 1);
}

TEST(OutputStatistics, CancelledPassComputesNothing) {
  Net net = CopyNet({3});
  CancelAt cancel(3);
  net.settings->SetCancelPointer(&cancel);
  Source source(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  EXPECT_EQ(ComputeOutputStats(*net, source, 100, s), VXStatus());
  EXPECT_EQ(s.GetStatus(), VXNNCommon::kOutStatDefault);
  EXPECT_FALSE(s.StatsOK());
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(0), std::vector<int>(9, 0));
  EXPECT_EQ(s.GetPercentsCorrect(), std::vector<double>{kMissing});
  // Two records read, no rewind.
  EXPECT_EQ(source.Position(), 2u);
  EXPECT_EQ(source.Rewinds(), 0);
}

TEST(OutputStatistics, NetworkWithoutLayersIsNotAvailable) {
  NNetwork empty;
  Source source(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  const VXStatus status = ComputeOutputStats(empty, source, 100, s);
  EXPECT_EQ(status, VXStatus(6, true));
  EXPECT_EQ(source.Position(), 0u);
  EXPECT_FALSE(s.StatsOK());
}

TEST(OutputStatistics, ResetKeepsStatusAndSizes) {
  Net net = CopyNet({1, 3});
  Source source({Rec({0.2, 1, 0, 0}, {0.1, 1, 0, 0}), Rec({0.5, 0, 1, 0}, {0.3, 0, 1, 0})});
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  ASSERT_TRUE(s.StatsOK());
  s.Reset();
  EXPECT_TRUE(s.StatsOK());
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(s.GetMisClassElement(0, i, j), 0);
  EXPECT_EQ(s.GetNumCatCategories(), std::vector<int>{3});
  EXPECT_EQ(s.GetRelativeErrors(), std::vector<double>{kMissing});
  EXPECT_EQ(s.GetPercentsCorrect(), std::vector<double>{kMissing});
  EXPECT_EQ(s.GetAvgPercentIncorrect(), kMissing);
}

TEST(OutputStatistics, ReuseRebuildsForTheNewNetworkAndCopiesAreIndependent) {
  Net first = CopyNet({3});
  Source a(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  ComputeOutputStats(*first, a, 100, s);
  const NNOutputStatistics copy = s;

  Net second = CopyNet({1, 2});
  Source b({Rec({0.1, 0.3, 0.7}, {0.2, 0, 1})});
  ComputeOutputStats(*second, b, 100, s);
  EXPECT_EQ(s.GetNumCategories(), (std::vector<int>{1, 2}));
  EXPECT_EQ(s.GetMisClassMatrixAsVecOfRows(0), (std::vector<std::vector<int>>{{0, 0}, {0, 1}}));
  EXPECT_EQ(copy.GetNumCategories(), std::vector<int>{3});
  EXPECT_EQ(copy.GetMisClassRow(0, 1), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(copy.GetPercentsCorrect(), std::vector<double>{75.0});
}

TEST(OutputStatistics, IndicesOutOfRangeReadNothing) {
  Net net = CopyNet({3});
  Source source(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  EXPECT_EQ(s.GetMisClassElement(1, 0, 0), 0);
  EXPECT_EQ(s.GetMisClassElement(0, 3, 0), 0);
  EXPECT_EQ(s.GetMisClassElement(0, 0, -1), 0);
  EXPECT_TRUE(s.GetMisClassRow(0, 3).empty());
  EXPECT_TRUE(s.GetMisClassRow(-1, 0).empty());
  EXPECT_TRUE(s.GetMisClassMatrixInOneVec(1).empty());
  EXPECT_TRUE(s.GetMisClassMatrixAsVecOfRows(5).empty());
}

TEST(OutputStatistics, CrossEntropyNetworkPredictsWhatScoringPredicts) {
  Net net = MakeNet(3, {3}, {4}, VXNNCommon::kSoftMax);
  ASSERT_EQ(net->GetErrorFunction(), VXNNCommon::kCrossEntropy);
  std::valarray<double> w(static_cast<std::size_t>(net->GetNumWeights()));
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = std::sin(1.7 * i + 0.3);
  net->SetWeights(w);

  std::vector<Record> records;
  for (int r = 0; r < 30; ++r) {
    const double x0 = std::cos(0.9 * r), x1 = std::sin(1.3 * r), x2 = std::cos(2.1 * r + 1);
    std::vector<double> t(3, 0.0);
    t[static_cast<std::size_t>(r % 3)] = 1.0;
    records.push_back(Rec({x0, x1, x2}, t));
  }
  std::vector<int> expected(9, 0);
  int wrong = 0;
  for (const Record& r : records) {
    VXStatus ignored;
    double p[3];
    net->Score(ignored, r.GetAll(), p);
    int predicted = 0;
    for (int j = 1; j < 3; ++j)
      if (p[j] > p[predicted]) predicted = j;
    int target = 0;
    while (r[3 + target] == 0.0) ++target;
    ++expected[static_cast<std::size_t>(3 * target + predicted)];
    wrong += predicted != target;
  }

  Source source(records);
  NNOutputStatistics s;
  ASSERT_EQ(ComputeOutputStats(*net, source, 100, s), VXStatus());
  EXPECT_EQ(s.GetMisClassMatrixInOneVec(0), expected);
  EXPECT_NEAR(s.GetPercentsCorrect()[0], 100.0 - 100.0 * wrong / 30.0, 1e-12);

  // The total error is the network's own summed error over the records.
  source.Rewind();
  net->ResetDerivatives();
  VXStatus status;
  int n = 0;
  net->ProcessRecords(status, source, 100, n, true, false);
  EXPECT_NEAR(s.GetTotalError(), net->GetAccumError(), 1e-12);
}

TEST(OutputStatistics, DisplayShowsEveryFigureInOrder) {
  Net net = CopyNet({3});
  Source source(CopyRecords(kScores, kOneHot));
  NNOutputStatistics s;
  ComputeOutputStats(*net, source, 100, s);
  std::ostringstream out;
  s.Display(out);
  const std::string text = out.str();
  const std::vector<std::string> lines = {
      "Start of NNOutputStatistics display\n",
      "Status = Computed\n",
      "Number of output variables = 1\n",
      "Number of output continuous variables = 0\n",
      "Number of output categorical variables = 1\n",
      "Number of categories of the categorical variable = 3\n",
      "Vector of relative errors of continuous output variables",
      "Total error = ",
      "Average overall error (relative to the mean model) = ",
      "Average overall error (average percent of incorrect predictions) = 25\n",
      "Output categorical variable index = 0, number of categories = 3\n",
      "MisClassification Matrix\n1 0 0\n0 1 1\n0 0 1\n",
      "Vector of percents of correct predictions: 75\n",
      "End of NNOutputStatistics display\n"};
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const std::size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\nin\n" << text;
    at = found + line.size();
  }
  EXPECT_EQ(at, text.size());

  Net two = CopyNet({2, 3});
  Source other({Rec({1, 0, 0, 1, 0}, {1, 0, 0, 1, 0})});
  ComputeOutputStats(*two, other, 100, s);
  std::ostringstream out2;
  s.Display(out2);
  EXPECT_NE(out2.str().find("Vector of numbers of categories of categorical variables: 2 3\n"),
            std::string::npos);
  EXPECT_EQ(out2.str().find("Number of categories of the categorical variable"), std::string::npos);

  std::ostringstream fresh;
  NNOutputStatistics().Display(fresh);
  EXPECT_NE(fresh.str().find("Status = Invalid\n"), std::string::npos);
}

}  // namespace
