// Predictor importance: the definition checked against a probe-by-probe
// reference through the network's scoring, the scaling, ranges, both
// sources, refusals, cancellation, progress reports, and a trained network
// on data whose target ignores one input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "eval_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/evaluation/NNSensReporter.h"
#include "vxneural/evaluation/NNSensitivity.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/ScaledConjGrad.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using namespace evaltest;
using VXCommon_1_2::VXStatus;
using VXNeural::ComputeSensitivity;

// The definition, one whole probe record at a time through Score (the
// networks here use the sum-of-squares error, so Score gives the output
// layer's values). Unscaled: summed over the records.
std::vector<double> ReferenceSums(NNetwork& net, const std::vector<Record>& records,
                                  const std::vector<int>& cats, const std::vector<double>& lo,
                                  const std::vector<double>& hi) {
  const std::size_t nOut = static_cast<std::size_t>(net.GetNumOutputs());
  std::vector<double> sums(cats.size(), 0.0);
  auto score = [&](const std::vector<double>& x) {
    std::vector<double> o(nOut);
    VXStatus ignored;
    net.Score(ignored, x.data(), o.data());
    return o;
  };
  for (const Record& r : records) {
    const std::vector<double> x(r.GetAll(), r.GetAll() + net.GetNumInputs());
    std::size_t col = 0;
    std::size_t cont = 0;
    for (std::size_t v = 0; v < cats.size(); ++v) {
      std::vector<std::vector<double>> outs;
      const std::size_t k = static_cast<std::size_t>(cats[v]);
      if (k == 1) {
        for (int p = 0; p < 5; ++p) {
          std::vector<double> y = x;
          y[col] = lo[cont] + p * (hi[cont] - lo[cont]) / 4.0;
          outs.push_back(score(y));
        }
        ++cont;
      } else {
        for (std::size_t p = 0; p < k; ++p) {
          std::vector<double> y = x;
          std::fill(y.begin() + static_cast<long>(col), y.begin() + static_cast<long>(col + k),
                    0.0);
          y[col + p] = 1.0;
          outs.push_back(score(y));
        }
      }
      double largest = 0.0;
      for (const auto& a : outs)
        for (const auto& b : outs) {
          double d = 0.0;
          for (std::size_t u = 0; u < nOut; ++u) d += (a[u] - b[u]) * (a[u] - b[u]);
          largest = std::max(largest, std::sqrt(d));
        }
      sums[v] += largest;
      col += k;
    }
  }
  return sums;
}

std::vector<double> Scaled(std::vector<double> sums, std::size_t records) {
  double total = 0.0;
  for (double& s : sums) total += (s /= static_cast<double>(records));
  if (total > 0.0)
    for (double& s : sums) s /= total;
  return sums;
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "input " << i;
}

// Inputs: continuous, categorical (3), continuous, categorical (2).
const std::vector<int> kCats = {1, 3, 1, 2};

std::vector<Record> MixedRecords(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    std::vector<double> x = {u(gen), 0, 0, 0, u(gen), 0, 0};
    x[1 + gen() % 3] = 1.0;
    x[5 + gen() % 2] = 1.0;
    records.push_back(Rec(x, {0.5, 0.25}));
  }
  return records;
}

// One hidden layer of 4 TanH units, two TanH outputs, fixed weights.
Net MixedNet() {
  Net net = MakeNet(7, {1, 1}, {4}, VXNNCommon::kTanH);
  std::valarray<double> w(static_cast<std::size_t>(net->GetNumWeights()));
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = 0.9 * std::sin(2.3 * i + 0.7);
  net->SetWeights(w);
  return net;
}

std::vector<Record> Head(const std::vector<Record>& r, std::size_t n) {
  return std::vector<Record>(r.begin(), r.begin() + static_cast<long>(n));
}

TEST(Sensitivity, SingleEffectiveInputHasImportanceOne) {
  Net net = LinearNet({1}, {0.3}, {{0.0, 2.5, 0.0}});
  Source train(MixedRecords(20, 1));
  std::vector<double> importance;
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 100, 0, 3, {1, 1, 1}, true, {-1, -2, -1},
                               {1, 2, 1}, importance),
            VXStatus());
  EXPECT_EQ(importance, (std::vector<double>{0.0, 1.0, 0.0}));
}

TEST(Sensitivity, NetworkThatIgnoresItsInputsGivesZeroEverywhere) {
  // Categorical input over columns 1..3, with weights 0 like the others.
  Net net = LinearNet({1, 1}, {0.7, -0.2}, {{0, 0, 0, 0}, {0, 0, 0, 0}});
  std::vector<Record> records;
  for (int i = 0; i < 6; ++i) {
    std::vector<double> x = {0.1 * i, 0, 0, 0};
    x[1 + i % 3] = 1.0;
    records.push_back(Rec(x, {0, 0}));
  }
  Source train(records);
  std::vector<double> importance = {5.0};
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 100, 0, 2, {1, 3}, false, {}, {}, importance),
            VXStatus());
  EXPECT_EQ(importance, (std::vector<double>{0.0, 0.0}));
}

TEST(Sensitivity, InputWithASingleValueRangeHasNoImportance) {
  Net net = LinearNet({1}, {0.0}, {{4.0, 1.0}});
  Source train(MixedRecords(5, 2));
  std::vector<double> importance;
  ComputeSensitivity(*net, train, nullptr, 100, 0, 2, {1, 1}, true, {0.5, -1}, {0.5, 1},
                     importance);
  EXPECT_EQ(importance, (std::vector<double>{0.0, 1.0}));
}

TEST(Sensitivity, AgreesWithTheDefinitionOnAHiddenLayerNetwork) {
  Net net = MixedNet();
  const std::vector<Record> trainRecords = MixedRecords(12, 3);
  const std::vector<Record> testRecords = MixedRecords(5, 4);
  const std::vector<double> lo = {-2.0, -0.5};
  const std::vector<double> hi = {1.0, 2.5};
  // Ten training records, then three test records.
  std::vector<Record> read = Head(trainRecords, 10);
  for (const Record& r : Head(testRecords, 3)) read.push_back(r);
  const std::vector<double> want = Scaled(ReferenceSums(*net, read, kCats, lo, hi), read.size());

  Source train(trainRecords);
  Source test(testRecords);
  std::vector<double> importance;
  ASSERT_EQ(ComputeSensitivity(*net, train, &test, 10, 3, 4, kCats, true, lo, hi, importance),
            VXStatus());
  ExpectNear(importance, want, 1e-12);
  EXPECT_NEAR(std::accumulate(importance.begin(), importance.end(), 0.0), 1.0, 1e-12);
  for (double v : importance) EXPECT_GT(v, 0.0);
  EXPECT_EQ(train.Rewinds(), 1);
  EXPECT_EQ(test.Rewinds(), 1);
  EXPECT_EQ(train.Position(), 0u);

  // Without the test source only the training records count.
  std::vector<double> trainOnly;
  ComputeSensitivity(*net, train, nullptr, 10, 3, 4, kCats, true, lo, hi, trainOnly);
  ExpectNear(trainOnly, Scaled(ReferenceSums(*net, Head(trainRecords, 10), kCats, lo, hi), 10),
             1e-12);
}

TEST(Sensitivity, RangesFoundFromTheRecordsWhenNotGiven) {
  Net net = MixedNet();
  const std::vector<Record> trainRecords = MixedRecords(12, 5);
  std::vector<Record> testRecords = MixedRecords(4, 6);
  // The widest value of the second continuous input is in a test record
  // beyond the limit, and must not count.
  testRecords[3][4] = 40.0;
  std::vector<Record> read = Head(trainRecords, 9);
  for (const Record& r : Head(testRecords, 3)) read.push_back(r);
  std::vector<double> lo = {1e9, 1e9};
  std::vector<double> hi = {-1e9, -1e9};
  for (const Record& r : read) {
    lo[0] = std::min(lo[0], r[0]);
    hi[0] = std::max(hi[0], r[0]);
    lo[1] = std::min(lo[1], r[4]);
    hi[1] = std::max(hi[1], r[4]);
  }

  Source train(trainRecords);
  Source test(testRecords);
  std::vector<double> importance;
  ASSERT_EQ(ComputeSensitivity(*net, train, &test, 9, 3, 4, kCats, false, {}, {}, importance),
            VXStatus());
  ExpectNear(importance, Scaled(ReferenceSums(*net, read, kCats, lo, hi), read.size()), 1e-12);
  // One rewind after the range pass, one after the probes.
  EXPECT_EQ(train.Rewinds(), 2);
  EXPECT_EQ(test.Rewinds(), 2);
}

TEST(Sensitivity, MissingValuesDoNotWidenAFoundRange) {
  Net net = LinearNet({1}, {0.0}, {{1.0, 1.0}});
  Source train({Rec({0.0, 1.0}, {0}), Rec({VXMV::gMissingValue, 3.0}, {0}), Rec({2.0, 2.0}, {0})});
  std::vector<double> importance;
  ComputeSensitivity(*net, train, nullptr, 100, 0, 2, {1, 1}, false, {}, {}, importance);
  // The ranges are 0..2 and 1..3; a missing value taken into the first
  // would sweep it over half the doubles.
  ExpectNear(importance, Scaled(ReferenceSums(*net, train.Records(), {1, 1}, {0, 1}, {2, 3}), 3),
             1e-12);
}

TEST(Sensitivity, CategoricalInputWithoutActiveColumnStops) {
  // The categorical input comes first, so the second record adds nothing.
  Net net = LinearNet({1}, {0.1}, {{1.0, -2.0, 0.5, 3.0}});
  const std::vector<Record> records = {Rec({0, 1, 0, 0.4}, {0}), Rec({0, 0, 0, 0.2}, {0}),
                                       Rec({1, 0, 0, 0.9}, {0})};
  Source train(records);
  std::vector<double> importance;
  const VXStatus status =
      ComputeSensitivity(*net, train, nullptr, 100, 0, 2, {3, 1}, true, {-1}, {1}, importance);
  EXPECT_EQ(status.GetErrorCode(), 50008);
  EXPECT_TRUE(status.IsError());
  // Unscaled: the sums of the first record alone.
  ExpectNear(importance, ReferenceSums(*net, Head(records, 1), {3, 1}, {-1}, {1}), 1e-12);
  EXPECT_EQ(importance[0], 3.0);
}

TEST(Sensitivity, ArgumentsThatDoNotDescribeTheInputsAreRefused) {
  Net net = MixedNet();
  Source train(MixedRecords(3, 7));
  const VXStatus refused(50005, false);
  std::vector<double> importance = {9.0};
  const std::vector<double> two = {-1, -1};
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 9, 0, 3, kCats, true, two, two, importance),
            refused);
  EXPECT_EQ(
      ComputeSensitivity(*net, train, nullptr, 9, 0, 4, {1, 3, 1, 1}, true, two, two, importance),
      refused);
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 9, 0, 5, {1, 3, 1, 2, 0}, true, two, two,
                               importance),
            refused);
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 9, 0, 4, kCats, true, {-1}, two, importance),
            refused);
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 9, 0, -1, {}, true, two, two, importance),
            refused);
  EXPECT_EQ(importance, std::vector<double>{9.0});
  EXPECT_EQ(train.Position(), 0u);

  NNetwork empty;
  EXPECT_EQ(ComputeSensitivity(empty, train, nullptr, 9, 0, 0, {}, true, {}, {}, importance),
            VXStatus(6, true));
}

TEST(Sensitivity, CancelEndsWithTheUnscaledSums) {
  Net net = MixedNet();
  const std::vector<Record> records = MixedRecords(10, 8);
  const std::vector<double> lo = {-1, -1};
  const std::vector<double> hi = {1, 1};
  // Polled once before each record: the fourth answer stops it.
  CancelAt cancel(4);
  net.settings->SetCancelPointer(&cancel);
  Source train(records);
  std::vector<double> importance;
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 100, 0, 4, kCats, true, lo, hi, importance),
            VXStatus());
  ExpectNear(importance, ReferenceSums(*net, Head(records, 3), kCats, lo, hi), 1e-12);
  EXPECT_TRUE(net->IsCanceled());
}

TEST(Sensitivity, CancelDuringTheRangeSearchProbesNothing) {
  Net net = MixedNet();
  CancelAt cancel(2);
  net.settings->SetCancelPointer(&cancel);
  Source train(MixedRecords(10, 9));
  std::vector<double> importance;
  EXPECT_EQ(ComputeSensitivity(*net, train, nullptr, 100, 0, 4, kCats, false, {}, {}, importance),
            VXStatus());
  EXPECT_EQ(importance, std::vector<double>(4, 0.0));
  EXPECT_EQ(net->GetSensRecordsProcessed(), 0);
}

TEST(Sensitivity, ProgressReportsComeFirstThenEvery900Records) {
  Net net = LinearNet({1}, {0.0}, {{1.0}});
  std::vector<Record> records;
  for (int i = 0; i < 2000; ++i) records.push_back(Rec({0.001 * i}, {0}));
  Source train(records);
  std::vector<int> seen;
  double lastElapsed = -1.0;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport& report) {
    seen.push_back(report.DiscreteMeasure("records"));
    const double elapsed = report.ScaleMeasure("elapsedTime");
    EXPECT_GE(elapsed, lastElapsed);
    lastElapsed = elapsed;
    EXPECT_EQ(report.DiscreteMeasure("Records"), -1);
    EXPECT_EQ(report.ScaleMeasure("records"), VXMV::gMissingValue);
  });
  net.settings->SetProgressListener(&listener);
  std::vector<double> importance;
  ComputeSensitivity(*net, train, nullptr, 5000, 0, 1, {1}, true, {0}, {1}, importance);
  EXPECT_EQ(seen, (std::vector<int>{1, 901, 1801, 2000}));
  EXPECT_EQ(net->GetSensRecordsProcessed(), 2000);

  // No final report when the last one covered every record.
  seen.clear();
  lastElapsed = -1.0;
  ComputeSensitivity(*net, train, nullptr, 901, 0, 1, {1}, true, {0}, {1}, importance);
  EXPECT_EQ(seen, (std::vector<int>{1, 901}));
}

TEST(Sensitivity, ReporterReadsTheNetworksCounters) {
  NNetwork net;
  net.SetSensRecordsProcessed(42);
  net.SetSensElapsedTime(1.25);
  NNSensReporter reporter(net);
  EXPECT_EQ(reporter.DiscreteMeasure("records"), 42);
  EXPECT_EQ(reporter.ScaleMeasure("elapsedTime"), 1.25);
  EXPECT_EQ(reporter.DiscreteMeasure("elapsedTime"), -1);
  EXPECT_EQ(reporter.ScaleMeasure(""), VXMV::gMissingValue);
}

// Raw fields: a (strong effect), c (3 categories), n (no effect), y target.
std::vector<Record> RawRecords(int count, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double effect[3] = {-1.0, 0.2, 1.2};
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) {
    const double a = 4.0 * u(gen);
    const int c = static_cast<int>(gen() % 3);
    const double n = 10.0 * u(gen);
    const double y = 0.8 * a + effect[c] + 0.05 * (u(gen) - 0.5);
    records.push_back(Record(std::vector<double>{a, double(c), n, y}));
  }
  return records;
}

NNVarList RawList() {
  NNVarList list;
  list.AddContVar("a", "", 0.0, 4.0, 2.0, 16.0 / 12.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddContVar("n", "", 0.0, 10.0, 5.0, 100.0 / 12.0, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("y", "", -1.0, 4.4, 1.7, 1.4, INNVariable::kOutput, INNVariable::kReal);
  return list;
}

TEST(Sensitivity, TrainedNetworkRanksTheIgnoredInputLast) {
  const NNVarList list = RawList();
  MLPSettings settings(list, 300);
  settings.SetNumHiddenUnits(4, 1);
  settings.SetMaxNDataPasses(150);
  settings.SetNTestRecords(60);
  Source rawTrain(RawRecords(300, 11));
  Source rawTest(RawRecords(60, 12));
  NNDataPreparator preparator(list, settings, &rawTrain, &rawTest);
  ASSERT_TRUE(preparator.Prepare(settings).IsOK());
  NNetwork net(settings);
  VXRandom rng(5, true);
  net.RandomizeWeights(rng);
  ScaledConjGrad optimizer(&settings, &net);
  VXStatus status;
  optimizer.Train(status, *preparator.GetTrainData(), preparator.GetTestData(), 300, 60);
  ASSERT_TRUE(status.IsOK());

  const NNVarList& encoded = preparator.GetVarList();
  std::vector<double> mins;
  std::vector<double> maxs;
  ASSERT_EQ(encoded.GetInpContMinMax(mins, maxs), 2);
  std::vector<double> importance;
  ASSERT_EQ(ComputeSensitivity(net, *preparator.GetTrainData(), preparator.GetTestData(), 300, 60,
                               encoded.GetNumInputVars(), encoded.GetNInputCats(), true, mins, maxs,
                               importance),
            VXStatus());
  ASSERT_EQ(importance.size(), 3u);
  EXPECT_NEAR(importance[0] + importance[1] + importance[2], 1.0, 1e-12);
  EXPECT_LT(importance[2], importance[0]);
  EXPECT_LT(importance[2], importance[1]);
  EXPECT_LT(importance[2], 0.1);
  EXPECT_EQ(net.GetSensRecordsProcessed(), 360);

  // A raw record with a missing category encodes without an active column.
  VXCommon_1_2::Record withMissing;
  preparator.EncodeRecord(Record(std::vector<double>{1.0, VXMV::gMissingValue, 2.0, 0.5}),
                          withMissing);
  Source bad({withMissing});
  EXPECT_EQ(ComputeSensitivity(net, bad, nullptr, 10, 0, encoded.GetNumInputVars(),
                               encoded.GetNInputCats(), true, mins, maxs, importance),
            VXStatus(50008, false));
}

}  // namespace
