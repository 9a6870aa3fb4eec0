// The MLP driver's state machine: each state's answer to each operation
// with its exact code and severity, and the gate after an error.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mlp_driver_fixtures.h"
#include "state_table.h"

namespace {

using namespace mlpdriver;

TEST(MlpStateTable, EveryStateAnswersEveryOperationAsTheTableSays) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  ASSERT_TRUE(m->algorithm);
  ExpectStateTable(m->Mlp(), m->trainRecords,
                   EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
}

TEST(MlpStates, AnAlgorithmWithoutAnOptimizerIsInTheFailedRestartState) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  VectorRecordIter train(EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
  MLPAlgorithm a(WithoutOptimizer(m->settings), train, nullptr);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  ExpectStatus(a.GetStatus(), 50001);
  EXPECT_EQ(a.GetOptimizer(), nullptr);
  // Gated: nothing happens, the error stays.
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  ExpectStatus(a.GetStatus(), 50001);
  // The saves are not gated and reach the state.
  std::ostringstream out;
  ExpectStatus(a.SaveState(out), 5);
  EXPECT_EQ(out.str(), "");
  // The exports keep the error; the structure view's warning opens the
  // gate, and the state itself still refuses with code 5.
  ExpectStatus(a.ExportModelXML(out, 0, nullptr), 5);
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_TRUE(std::unique_ptr<NNStructure>(a.GetStructure())->IsEmpty());
  ExpectStatus(a.GetStatus(), 6);
  ExpectStatus(a.Train(80, -1), 5);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  // A state that saves, put in front of an algorithm without a network or
  // optimizer, refuses with the "cannot save" warning and writes nothing.
  ExpectStatus(InitContext(&a).SaveState(out), 4);
  ExpectStatus(TrainedContext(&a).SaveStateXML(out), 4);
  EXPECT_EQ(out.str().find("<?xml"), std::string::npos);

  // So is an algorithm over a preparator that does not exist.
  MLPAlgorithm empty(m->settings, nullptr);
  EXPECT_EQ(empty.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  ExpectStatus(empty.GetStatus(), 50001);
  EXPECT_EQ(empty.GetVarList(), nullptr);
  EXPECT_TRUE(empty.Score(m->trainRecords[0]).IsMissing());
}

// The gated operations do nothing and answer OK or the missing value; the
// stored status, the state and the counters stay as they were.
void ExpectGated(INeuralAlgorithm& a, const std::vector<Record>& records) {
  const VXStatus stored = a.GetStatus();
  const int passes = a.GetNumberOfDataPasses(), state = a.GetAlgorithmStatus();
  VectorRecordIter raw(records);
  std::vector<double> importance{42.0};
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.Update(raw, 10), VXStatus());
  EXPECT_EQ(a.GetErrorOnData(raw, 80), kMissing);
  EXPECT_EQ(a.GetAccuracy(), kMissing);
  EXPECT_EQ(a.ComputeSensitivity(importance), VXStatus());
  EXPECT_EQ(importance, std::vector<double>{42.0});
  EXPECT_EQ(raw.Count(), records.size()) << "nothing read";
  EXPECT_EQ((std::vector<int>{a.GetNumberOfDataPasses(), a.GetAlgorithmStatus()}),
            (std::vector<int>{passes, state}));
  EXPECT_EQ(a.GetStatus(), stored);
}

TEST(MlpStates, AnErrorClosesTheGateUntilAnotherOperationClearsIt) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  INeuralAlgorithm& a = *m->algorithm;
  Record missingInput = m->trainRecords[0];
  missingInput[kV] = kMissing;
  EXPECT_TRUE(a.Score(missingInput).IsMissing());
  ExpectStatus(a.GetStatus(), 50018);
  ExpectGated(a, m->trainRecords);
  Record out;
  EXPECT_EQ(a.Score(m->trainRecords[1], out), a.GetStatus());
  EXPECT_EQ(out.Size(), 0);

  // Scoring has no gate: a good record stores OK again and work resumes.
  EXPECT_FALSE(a.Score(m->trainRecords[1]).IsMissing());
  EXPECT_EQ(a.GetStatus(), VXStatus());
  EXPECT_TRUE(a.Train(80, -1).IsOK());
}

}  // namespace
