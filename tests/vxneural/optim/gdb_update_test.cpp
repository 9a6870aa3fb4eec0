// Continuing training with new records: the batch step over old and new
// records, the buffered mini-batch steps, and the optimizer's small
// operations (setters, gradient reset, display).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"

namespace {

using namespace optim_fixtures;

// A trained linear network (2 inputs, 1 target) and new records from a
// shifted model.
class Trained : public ::testing::Test {
 protected:
  Trained()
      : settings(MakeSettings(2, {1}, {}, VXNNCommon::kIdentity, 40)),
        oracleSettings(std::make_unique<MLPSettings>(*settings)),
        net(*settings),
        oracle(*oracleSettings),
        gdb(settings.get(), &net) {
    net.SetWeights(UniformWeights(net.GetNumWeights(), 3, -0.5, 0.5));
    settings->SetEtaInit(0.02);
    settings->SetAlpha(0.5);
    settings->SetMaxNDataPasses(20);
    auto train = VectorRecordIter::Borrow(oldRecords);
    VXStatus status;
    gdb.Train(status, train, nullptr, 1000, 0);
    trained = WeightsOf(net);
  }

  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<MLPSettings> oracleSettings;
  NNetwork net;
  NNetwork oracle;
  GradientDescentBatch gdb;
  std::vector<Record> oldRecords = LinearRecords(40, 7);
  std::vector<Record> newRecords = LinearRecords(12, 9, 1.3);
  std::valarray<double> trained;
};

std::vector<Record> Concat(std::vector<Record> a, const std::vector<Record>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Trained, BatchUpdateStepsAlongTheGradientOfOldAndNewRecords) {
  settings->SetUpdateType(VXNNCommon::kBatch);
  settings->SetEtaLow(0.01);
  const int passes = gdb.GetNDataPasses();
  const double timeBefore = gdb.GetElapsedTime();
  auto train = VectorRecordIter::Borrow(oldRecords);
  auto fresh = VectorRecordIter::Borrow(newRecords);
  VXStatus status;
  bool changed = false;
  EXPECT_TRUE(gdb.Update(status, train, fresh, 12, changed).IsOK());
  EXPECT_TRUE(changed);

  const std::vector<Record> both = Concat(oldRecords, newRecords);
  const Evaluation at = Evaluate(oracle, trained, both);
  const std::valarray<double> expected = trained - 0.01 * at.gradient;
  const std::valarray<double> w = WeightsOf(net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_NEAR(w[i], expected[i], 1e-12);
  const Evaluation after = Evaluate(oracle, expected, both);
  EXPECT_NEAR(gdb.GetTrainError(), after.error, 1e-10);
  EXPECT_NEAR(gdb.GetAccumError(), after.error, 1e-10);
  EXPECT_NEAR(gdb.GetLastGradientNorm(), Norm(after.gradient), 1e-10);
  EXPECT_EQ(gdb.GetNDataPasses(), passes + 1);
  EXPECT_EQ(gdb.GetNRecordsProcessed(), 52);
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_GE(gdb.GetElapsedTime(), timeBefore);
  for (double v : {gdb.GetRelChangeInErr(), gdb.GetErrorRatio(), gdb.GetTestError()})
    EXPECT_TRUE(VXMV::IsMissing(v));
}

TEST_F(Trained, UntakenBatchUpdateLeavesTheWeightsExactly) {
  settings->SetUpdateType(VXNNCommon::kBatch);
  settings->SetEtaLow(1e6);  // overshoots: the error rises
  auto train = VectorRecordIter::Borrow(oldRecords);
  auto fresh = VectorRecordIter::Borrow(newRecords);
  VXStatus status;
  bool changed = true;
  gdb.Update(status, train, fresh, 12, changed);
  EXPECT_FALSE(changed);
  const std::valarray<double> w = WeightsOf(net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], trained[i]);
  // The error of old and new records at the kept weights.
  EXPECT_NEAR(gdb.GetTrainError(), Evaluate(oracle, trained, Concat(oldRecords, newRecords)).error,
              1e-10);
}

TEST_F(Trained, CancelledBatchUpdateKeepsTheWeights) {
  settings->SetUpdateType(VXNNCommon::kBatch);
  settings->SetEtaLow(0.01);
  CountingIter fresh(newRecords);
  CancelWhen cancel([&] { return fresh.Count() >= 6; });
  settings->SetCancelPointer(&cancel);
  GradientDescentBatch late(settings.get(), &net);
  auto train = VectorRecordIter::Borrow(oldRecords);
  VXStatus status;
  bool changed = true;
  late.Update(status, train, fresh, 12, changed);
  EXPECT_EQ(status, VXStatus(1, false));
  EXPECT_EQ(late.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_FALSE(changed);
  EXPECT_EQ(fresh.Count(), 6);
  const std::valarray<double> w = WeightsOf(net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], trained[i]);
}

TEST_F(Trained, MiniBatchUpdateKeepsAShortBatchForLater) {
  settings->SetUpdateType(VXNNCommon::kMiniBatch);
  settings->SetMiniBatchSize(8);  // steps need at least 2 records
  settings->SetEtaLow(0.01);
  auto train = VectorRecordIter::Borrow(oldRecords);
  const int recordsBefore = gdb.GetNRecordsProcessed();

  const std::vector<Record> one(newRecords.begin(), newRecords.begin() + 1);
  auto first = VectorRecordIter::Borrow(one);
  VXStatus status;
  bool changed = true;
  gdb.Update(status, train, first, 1, changed);
  EXPECT_FALSE(changed);
  EXPECT_EQ(gdb.GetNIterations(), 0);
  ASSERT_NE(gdb.GetRecordBuffer(), nullptr);
  EXPECT_EQ(gdb.GetRecordBuffer()->GetCount(), 1);
  EXPECT_EQ(gdb.GetRecordBuffer()->GetCapacity(), 8);
  EXPECT_EQ(gdb.GetMiniBatchSize(), 8);
  EXPECT_EQ(gdb.GetNRecordsProcessed(), recordsBefore + 1);
  std::valarray<double> w = WeightsOf(net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], trained[i]);

  // Seven more fill the buffer: one plain step over those eight records.
  const std::vector<Record> seven(newRecords.begin() + 1, newRecords.begin() + 8);
  auto second = VectorRecordIter::Borrow(seven);
  gdb.Update(status, train, second, 7, changed);
  EXPECT_TRUE(status.IsOK());
  EXPECT_TRUE(changed);
  EXPECT_EQ(gdb.GetNIterations(), 1);
  EXPECT_EQ(gdb.GetRecordBuffer()->GetCount(), 0);
  const std::vector<Record> batch(newRecords.begin(), newRecords.begin() + 8);
  const std::valarray<double> expected = trained - 0.01 * Evaluate(oracle, trained, batch).gradient;
  w = WeightsOf(net);
  for (std::size_t i = 0; i < w.size(); ++i) EXPECT_NEAR(w[i], expected[i], 1e-12);
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_TRUE(VXMV::IsMissing(gdb.GetTrainError()));
}

TEST_F(Trained, MiniBatchUpdateStepsOncePerFilledBuffer) {
  settings->SetUpdateType(VXNNCommon::kMiniBatch);
  settings->SetMiniBatchSize(5);  // threshold 1
  auto train = VectorRecordIter::Borrow(oldRecords);
  auto fresh = VectorRecordIter::Borrow(newRecords);
  VXStatus status;
  bool changed = false;
  gdb.Update(status, train, fresh, 12, changed);
  EXPECT_EQ(gdb.GetNIterations(), 3);  // 5 + 5 + 2
  EXPECT_EQ(gdb.GetRecordBuffer()->GetCount(), 0);
}

// --- small operations ------------------------------------------------------

TEST(GradientDescentBatchBasics, ConstructionAndCarriedCounters) {
  auto settings = MakeSettings(2, {1}, {3}, VXNNCommon::kIdentity, 40);
  NNetwork net(*settings);
  GradientDescentBatch gdb(settings.get(), &net);
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(gdb.GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_EQ(gdb.GetAccuracy(), 0.0);
  EXPECT_EQ(gdb.GetAccumGradient().size(), static_cast<std::size_t>(net.GetNumWeights()));
  for (double v : {gdb.GetTrainError(), gdb.GetTestError(), gdb.GetLastGradientNorm(),
                   gdb.GetRelChangeInErr(), gdb.GetErrorRatio()})
    EXPECT_TRUE(VXMV::IsMissing(v));
  EXPECT_EQ(gdb.GetRecordBuffer(), nullptr);

  // The batch methods do not take carried-over counters, only the time.
  gdb.SetNIterations(5);
  gdb.SetAlgorithmStatus(VXNNCommon::kTrained);
  gdb.SetStopReason(VXNNCommon::kStoppedAccuracy);
  gdb.SetNDataPasses(7);
  gdb.SetNRecordsProcessed(9);
  gdb.SetElapsedTime(2.5);
  EXPECT_EQ(gdb.GetNIterations(), 0);
  EXPECT_EQ(gdb.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(gdb.GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_EQ(gdb.GetNDataPasses(), 0);
  EXPECT_EQ(gdb.GetNRecordsProcessed(), 0);
  EXPECT_EQ(gdb.GetElapsedTime(), 2.5);
  double values[5] = {1, 2, 3, 4, 5};
  gdb.GetProgressValues(values[0], values[1], values[2], values[3], values[4]);
  EXPECT_EQ(values[4], 5.0);
  gdb.SetProgressValues(0, 0, 0, 0, 0, 99);
  EXPECT_EQ(gdb.GetNRecordsProcessed(), 0);
}

TEST(GradientDescentBatchBasics, ResetGradientFollowsTheNetworkSize) {
  auto settings = MakeSettings(2, {1}, {3}, VXNNCommon::kIdentity, 40);
  NNetwork net(*settings);
  GradientDescentBatch gdb(settings.get(), &net);
  auto train = VectorRecordIter(LinearRecords(10, 1));
  net.SetWeights(UniformWeights(net.GetNumWeights(), 1, -0.5, 0.5));
  VXStatus status;
  settings->SetMaxNDataPasses(3);
  gdb.Train(status, train, nullptr, 100, 0);
  ASSERT_GT(Norm(gdb.GetAccumGradient()), 0.0);
  VXRandom rng(5, true);
  net.AddHiddenUnit(rng);
  gdb.ResetGradient();
  EXPECT_EQ(gdb.GetAccumGradient().size(), static_cast<std::size_t>(net.GetNumWeights()));
  EXPECT_EQ(Norm(gdb.GetAccumGradient()), 0.0);
  EXPECT_EQ(gdb.GetAccumError(), 0.0);
}

TEST(GradientDescentBatchBasics, DisplayListsTheRecordInOrder) {
  auto settings = MakeSettings(2, {1}, {}, VXNNCommon::kIdentity, 40);
  NNetwork net(*settings);
  GradientDescentBatch gdb(settings.get(), &net);
  auto train = VectorRecordIter(LinearRecords(10, 1));
  VXStatus status;
  settings->SetMaxNDataPasses(3);
  gdb.Train(status, train, nullptr, 100, 0);
  std::ostringstream out;
  gdb.Display(out);
  std::ostringstream netOut;
  net.Display(netOut);
  const std::string text = out.str();
  const std::vector<std::string> order = {"Start of GradientDescentBatch display\n",
                                          "IsCanceled() = false\n",
                                          netOut.str(),
                                          "Algorithm status = Trained\n",
                                          "Stop Reason = Stopped Max Data Passes\n",
                                          "fElapsedTime = ",
                                          "fNIterations = ",
                                          "fNDataPasses = 3\n",
                                          "fNRecordsProcessed = 10\n",
                                          "fTrainErrorPrev = ",
                                          "fTestErrorPrev = ",
                                          "fTrainErrorNew = ",
                                          "fTestErrorNew = ",
                                          "fLastGradientNorm = ",
                                          "fRelChangeInErr = ",
                                          "fErrorRatio = ",
                                          "fAccumGradient: ",
                                          "fAccumError = ",
                                          "fMiniBatchSize = 0\n",
                                          "End of GradientDescentBatch display\n"};
  std::size_t at = 0;
  for (const std::string& item : order) {
    const std::size_t found = text.find(item, at);
    ASSERT_NE(found, std::string::npos) << item;
    at = found + item.size();
  }
  EXPECT_EQ(at, text.size());
}

}  // namespace
