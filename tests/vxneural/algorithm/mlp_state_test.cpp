// The MLP driver's state machine: each state's answer to each operation
// with its exact code and severity, the gate after an error or a cancel, and
// the busy states a host meets when it calls back into the algorithm from a
// progress report or from the stream a save is writing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "algorithm/MLPContext.h"
#include "mlp_driver_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"

namespace {

using namespace mlpdriver;

constexpr int kOK = 0;
constexpr int kWarning = 1;
constexpr int kError = -1;

// Runs op and checks its answer and that the algorithm stored the same.
void Expect(MLPAlgorithm& algorithm, const char* what, const std::function<VXStatus()>& op,
            int code, int severity) {
  SCOPED_TRACE(what);
  const VXStatus s = op();
  ExpectStatus(s, code, severity);
  EXPECT_EQ(algorithm.GetStatus(), s);
}

// The operations this version does not provide answer code 6 (warning) in
// every state; GetStructure gives null.
void ExpectUnavailableOnState(MLPContext& state, MLPAlgorithm& algorithm) {
  std::ostringstream out;
  Expect(
      algorithm, "ExportModelXML", [&] { return state.ExportModelXML(out, 0, nullptr); }, 6,
      kWarning);
  Expect(
      algorithm, "ExportModelStatXML", [&] { return state.ExportModelStatXML(out, 0, nullptr); }, 6,
      kWarning);
  EXPECT_EQ(state.GetStructure(), nullptr);
  ExpectStatus(algorithm.GetStatus(), 6, kWarning);
  EXPECT_EQ(out.str(), "");
}

void ExpectUnavailable(INeuralAlgorithm& algorithm) {
  auto& mlp = dynamic_cast<MLPAlgorithm&>(algorithm);
  std::ostringstream out;
  Expect(
      mlp, "ExportModelXML", [&] { return algorithm.ExportModelXML(out, 0, nullptr); }, 6,
      kWarning);
  Expect(
      mlp, "ExportModelStatXML", [&] { return algorithm.ExportModelStatXML(out, 0, nullptr); }, 6,
      kWarning);
  EXPECT_EQ(algorithm.GetStructure(), nullptr);
  ExpectStatus(algorithm.GetStatus(), 6, kWarning);
  EXPECT_EQ(out.str(), "");
}

void WithSensitivity(MLPSettings& s) { s.SetComputeSensitivity(true); }

// One row of the state table for a state that refuses work: the answer to
// work, the answer to a save, and whether it measures errors.
struct RefusingState {
  const char* name;
  std::function<std::unique_ptr<MLPContext>(MLPAlgorithm*)> make;
  int code;
  int severity;
  int saveCode;
  int saveSeverity;
  bool measuresErrors;
};

TEST(MlpStateTable, RefusingStatesAnswerWithTheirCodes) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  ASSERT_TRUE(m->algorithm);
  MLPAlgorithm& alg = m->Mlp();
  VectorRecordIter raw(m->trainRecords);
  VectorRecordIter encoded(EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
  const std::vector<RefusingState> states = {
      {"Training", [](MLPAlgorithm* a) { return std::make_unique<MLPTrainingContext>(a); }, 6,
       kWarning, 4, kWarning, false},
      {"Save", [](MLPAlgorithm* a) { return std::make_unique<MLPSaveContext>(a); }, 6, kWarning, 4,
       kWarning, false},
      {"Expert", [](MLPAlgorithm* a) { return std::make_unique<MLPExpertContext>(a); }, 6, kWarning,
       4, kWarning, true},
      {"Cancel", [](MLPAlgorithm* a) { return std::make_unique<MLPCancelContext>(a); }, 1, kError,
       1, kError, false},
      {"FailedRestart",
       [](MLPAlgorithm* a) { return std::make_unique<MLPFailedRestartContext>(a); }, 5, kError, 5,
       kError, false},
  };
  for (const RefusingState& row : states) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<MLPContext> state = row.make(&alg);
    std::ostringstream out;
    Expect(
        alg, "Train", [&] { return state->Train(80, -1); }, row.code, row.severity);
    Expect(
        alg, "Update", [&] { return state->Update(raw, 10); }, row.code, row.severity);
    Expect(
        alg, "SelectArchitecture", [&] { return state->SelectArchitecture(); }, row.code,
        row.severity);
    Expect(
        alg, "SaveState", [&] { return state->SaveState(out); }, row.saveCode, row.saveSeverity);
    Expect(
        alg, "SaveStateXML", [&] { return state->SaveStateXML(out); }, row.saveCode,
        row.saveSeverity);
    EXPECT_EQ(out.str(), "") << "a refused save writes nothing";
    encoded.Rewind();
    const double error = state->GetErrorOnData(encoded, 80);
    if (row.measuresErrors) {
      EXPECT_NE(error, kMissing);
      ExpectStatus(alg.GetStatus(), 0, kOK);
    } else {
      EXPECT_EQ(error, kMissing);
      ExpectStatus(alg.GetStatus(), row.code, row.severity);
    }
    std::vector<double> importance{42.0};
    Expect(
        alg, "ComputeSensitivity",
        [&] {
          return state->ComputeSensitivity(3, {1, 3, 1}, true, {0, 0}, {1, 1}, importance);
        },
        row.code, row.severity);
    EXPECT_EQ(importance, std::vector<double>{42.0});
    NNOutputStatistics stats;
    encoded.Rewind();
    Expect(
        alg, "ComputeOutputStats", [&] { return state->ComputeOutputStats(encoded, 80, stats); },
        row.code, row.severity);
    EXPECT_EQ(stats.GetStatus(), VXNNCommon::kOutStatInvalid);
    ExpectUnavailableOnState(*state, alg);
  }
  // Nothing above changed the state the algorithm is in.
  EXPECT_EQ(alg.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(alg.GetNumberOfDataPasses(), 0);
}

TEST(MlpStateTable, InitAndTrainedStatesRefuseWhatTheyCannotDo) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  MLPAlgorithm& alg = m->Mlp();
  VectorRecordIter raw(m->trainRecords);
  MLPInitContext init(&alg);
  MLPTrainedContext trained(&alg);
  Expect(
      alg, "Init Update", [&] { return init.Update(raw, 10); }, 6, kWarning);
  Expect(
      alg, "Trained SelectArchitecture", [&] { return trained.SelectArchitecture(); }, 6, kWarning);
  std::vector<double> importance{42.0};
  Expect(
      alg, "Init ComputeSensitivity",
      [&] {
        return init.ComputeSensitivity(3, {1, 3, 1}, true, {0, 0}, {1, 1}, importance);
      },
      6, kWarning);
  EXPECT_EQ(importance, std::vector<double>{42.0});
  ExpectUnavailableOnState(init, alg);
  ExpectUnavailableOnState(trained, alg);
}

TEST(MlpStates, NewAlgorithmStartsUntouched) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  ASSERT_TRUE(m->algorithm);
  INeuralAlgorithm& a = *m->algorithm;
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(a.GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_EQ(a.GetNumberOfDataPasses(), 0);
  EXPECT_EQ(m->Mlp().GetNumberOfIterations(), 0);
  EXPECT_EQ(a.GetElapsedTime(), 0.0);
  EXPECT_EQ(a.GetTrainingError(), kMissing);
  EXPECT_EQ(a.GetTestingError(), kMissing);
  EXPECT_EQ(a.GetTrainingBIC(), kMissing);
  EXPECT_EQ(a.GetStatus(), VXStatus());
  EXPECT_EQ(a.GetAlgorithmType(), VXNNCommon::kMLP);
  EXPECT_EQ(a.GetNumberOfHiddenUnits(), 3);
  EXPECT_TRUE(m->Mlp().GetReinitializeWeights());
  const std::string banner = a.GetComponentVersion();
  EXPECT_NE(banner.find("multi-layer perceptron"), std::string::npos);
  EXPECT_NE(banner.find("1.0"), std::string::npos);
  EXPECT_EQ(banner.find('\n'), std::string::npos);
}

TEST(MlpStates, InitialStateWorksAndRefusesAsTheTableSays) {
  auto m = MakeModel(kCategoricalTarget, 80, 20, 1, WithSensitivity);
  INeuralAlgorithm& a = *m->algorithm;
  VectorRecordIter updates(MakeRecords(10, 50));
  Expect(
      m->Mlp(), "Update before Train", [&] { return a.Update(updates, 10); }, 6, kWarning);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  const NNVarList* list = a.GetVarList();
  ASSERT_NE(list, nullptr);
  std::vector<double> importance{42.0};
  Expect(
      m->Mlp(), "ComputeSensitivity (importance)", [&] { return a.ComputeSensitivity(importance); },
      6, kWarning);
  Expect(
      m->Mlp(), "ComputeSensitivity (ranges)",
      [&] {
        return a.ComputeSensitivity(list->GetNumInputVars(), list->GetNInputCats(), false, {}, {},
                                    importance);
      },
      6, kWarning);
  EXPECT_EQ(importance, std::vector<double>{42.0});
  ExpectUnavailable(a);
  VectorRecordIter raw(m->trainRecords);
  EXPECT_NE(a.GetErrorOnData(raw, 80), kMissing);
  std::stringstream saved;
  Expect(
      m->Mlp(), "SaveState", [&] { return a.SaveState(saved); }, 0, kOK);
  Expect(
      m->Mlp(), "SaveStateXML", [&] { return a.SaveStateXML(saved); }, 0, kOK);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  Expect(
      m->Mlp(), "Train", [&] { return a.Train(80, -1); }, 0, kOK);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
}

TEST(MlpStates, TrainedStateWorksAndRefusesAsTheTableSays) {
  auto m = MakeModel(kCategoricalTarget, 80, 20, 1, WithSensitivity);
  INeuralAlgorithm& a = *m->algorithm;
  ASSERT_TRUE(a.Train(80, -1).IsOK());
  Expect(
      m->Mlp(), "SelectArchitecture", [&] { return a.SelectArchitecture(); }, 6, kWarning);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  std::vector<double> importance;
  Expect(
      m->Mlp(), "ComputeSensitivity", [&] { return a.ComputeSensitivity(importance); }, 0, kOK);
  ASSERT_EQ(importance.size(), 3u);
  EXPECT_NEAR(importance[0] + importance[1] + importance[2], 1.0, 1e-12);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  ExpectUnavailable(a);
  std::stringstream saved;
  Expect(
      m->Mlp(), "SaveState", [&] { return a.SaveState(saved); }, 0, kOK);
  Expect(
      m->Mlp(), "SaveStateXML", [&] { return a.SaveStateXML(saved); }, 0, kOK);
  VectorRecordIter updates(MakeRecords(10, 50));
  Expect(
      m->Mlp(), "Update", [&] { return a.Update(updates, 10); }, 0, kOK);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  Expect(
      m->Mlp(), "Train", [&] { return a.Train(80, -1); }, 0, kOK);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
}

TEST(MlpStates, SensitivityArgumentsAreCheckedAgainstTheVariableList) {
  auto m = MakeModel(kCategoricalTarget, 80, 20, 1, WithSensitivity);
  INeuralAlgorithm& a = *m->algorithm;
  std::vector<double> importance;
  std::vector<int> cats = a.GetVarList()->GetNInputCats();
  cats.back() += 1;
  Expect(
      m->Mlp(), "categories differ",
      [&] { return a.ComputeSensitivity(3, cats, false, {}, {}, importance); }, 50005, kError);
  // The error closes the gate.
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);

  auto quiet = MakeModel(kCategoricalTarget, 80, 20);
  Expect(
      quiet->Mlp(), "input count differs",
      [&] {
        return quiet->algorithm->ComputeSensitivity(2, a.GetVarList()->GetNInputCats(), false, {},
                                                    {}, importance);
      },
      50005, kError);
  // Without the settings' flag nothing is computed and nothing refused.
  auto off = MakeModel(kCategoricalTarget, 80, 20);
  EXPECT_EQ(off->algorithm->ComputeSensitivity(importance), VXStatus());
}

TEST(MlpStates, ProgressReportsMeetABusyAlgorithm) {
  auto m = MakeModel(kCategoricalTarget, 120, 40, 3, WithSensitivity);
  INeuralAlgorithm& a = *m->algorithm;
  std::vector<VXStatus> answers;
  std::vector<int> statuses;
  double error = 0.0;
  bool structureNull = false;
  std::string written;
  VectorRecordIter more(MakeRecords(10, 60));
  FunctionListener listener([&](VXCommon_1_2::ProgressReport&) {
    if (!answers.empty()) return;
    statuses.push_back(a.GetAlgorithmStatus());
    std::ostringstream out;
    std::vector<double> importance;
    answers.push_back(a.Train(10, -1));
    answers.push_back(a.Update(more, 10));
    answers.push_back(a.SelectArchitecture());
    answers.push_back(a.SaveState(out));
    answers.push_back(a.SaveStateXML(out));
    answers.push_back(a.ComputeSensitivity(importance));
    answers.push_back(a.ExportModelXML(out, 0, nullptr));
    structureNull = a.GetStructure() == nullptr;
    answers.push_back(a.GetStatus());
    VectorRecordIter raw(m->trainRecords);
    error = a.GetErrorOnData(raw, 20);
    answers.push_back(a.GetStatus());
    written = out.str();
    statuses.push_back(a.GetAlgorithmStatus());
  });
  a.SetProgressListener(&listener);
  ASSERT_EQ(a.Train(120, -1), VXStatus());
  ASSERT_GE(listener.Reports(), 1);
  ASSERT_EQ(answers.size(), 9u);
  const int expected[9][2] = {{6, kWarning}, {6, kWarning}, {6, kWarning},
                              {4, kWarning}, {4, kWarning}, {6, kWarning},
                              {6, kWarning}, {6, kWarning}, {6, kWarning}};
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    ExpectStatus(answers[i], expected[i][0], expected[i][1]);
  }
  EXPECT_TRUE(structureNull);
  EXPECT_EQ(error, kMissing);
  EXPECT_EQ(written, "");
  EXPECT_EQ(statuses, (std::vector<int>{VXNNCommon::kInProgress, VXNNCommon::kInProgress}));
  // The run itself was not disturbed.
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(a.GetStatus(), VXStatus());
}

TEST(MlpStates, ASaveInProgressRefusesEverythingAndLeavesTheStateAsItWas) {
  for (bool trained : {false, true}) {
    for (bool xml : {false, true}) {
      SCOPED_TRACE(std::string(trained ? "trained" : "untrained") + (xml ? " xml" : " binary"));
      auto m = MakeModel(kCategoricalTarget, 80, 20);
      INeuralAlgorithm& a = *m->algorithm;
      if (trained) {
        ASSERT_TRUE(a.Train(80, -1).IsOK());
      }
      const int before = a.GetAlgorithmStatus();
      std::vector<VXStatus> answers;
      int during = -1;
      double error = 0.0;
      std::string nested;
      HookStreamBuf buffer([&] {
        during = a.GetAlgorithmStatus();
        std::ostringstream out;
        VectorRecordIter raw(m->trainRecords);
        answers.push_back(a.Train(10, -1));
        answers.push_back(a.Update(raw, 10));
        answers.push_back(a.SelectArchitecture());
        answers.push_back(a.SaveState(out));
        answers.push_back(a.SaveStateXML(out));
        raw.Rewind();
        error = a.GetErrorOnData(raw, 20);
        answers.push_back(a.GetStatus());
        nested = out.str();
      });
      std::ostream stream(&buffer);
      const VXStatus saved = xml ? a.SaveStateXML(stream) : a.SaveState(stream);
      EXPECT_EQ(saved, VXStatus());
      EXPECT_EQ(during, VXNNCommon::kSaving);
      ASSERT_EQ(answers.size(), 6u);
      ExpectStatus(answers[0], 6, kWarning);
      ExpectStatus(answers[1], 6, kWarning);
      ExpectStatus(answers[2], 6, kWarning);
      ExpectStatus(answers[3], 4, kWarning);
      ExpectStatus(answers[4], 4, kWarning);
      ExpectStatus(answers[5], 6, kWarning);
      EXPECT_EQ(error, kMissing);
      EXPECT_EQ(nested, "");
      EXPECT_EQ(a.GetAlgorithmStatus(), before);
      EXPECT_FALSE(buffer.Text().empty());
    }
  }
}

TEST(MlpStates, TheArchitectureSearchIsExpertStateAndMeasuresEncodedRecords) {
  auto m = MakeModel(kCategoricalTarget, 120, 40, 5, WithSensitivity);
  INeuralAlgorithm& a = *m->algorithm;
  const std::vector<Record> encoded =
      EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget);
  std::vector<VXStatus> answers;
  int during = -1;
  double error = kMissing;
  double expected = 0.0;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport&) {
    if (!answers.empty()) return;
    during = a.GetAlgorithmStatus();
    std::ostringstream out;
    VectorRecordIter raw(m->trainRecords);
    std::vector<double> importance;
    answers.push_back(a.Train(10, -1));
    answers.push_back(a.Update(raw, 10));
    answers.push_back(a.SelectArchitecture());
    answers.push_back(a.SaveState(out));
    answers.push_back(a.SaveStateXML(out));
    answers.push_back(a.ComputeSensitivity(importance));
    // Already encoded records go to the network as they are, and the
    // error is the cross entropy of the network's current weights.
    const std::valarray<double> w = WeightsOf(m->Mlp());
    const int hidden = m->Mlp().GetNetwork()->GetLayer(1)->GetNumUnits();
    for (const Record& r : encoded) {
      const std::vector<double> p =
          ForwardByHand(w, std::vector<double>(r.GetAll(), r.GetAll() + 5), hidden, 2, true);
      expected -= std::log(r[5] == 1.0 ? p[0] : p[1]);
    }
    VectorRecordIter source(encoded);
    error = a.GetErrorOnData(source, 1000);
    answers.push_back(a.GetStatus());
  });
  a.SetProgressListener(&listener);
  ASSERT_EQ(a.SelectArchitecture(), VXStatus());
  ASSERT_EQ(answers.size(), 7u);
  EXPECT_EQ(during, VXNNCommon::kExpert);
  ExpectStatus(answers[0], 6, kWarning);
  ExpectStatus(answers[1], 6, kWarning);
  ExpectStatus(answers[2], 6, kWarning);
  ExpectStatus(answers[3], 4, kWarning);
  ExpectStatus(answers[4], 4, kWarning);
  ExpectStatus(answers[5], 6, kWarning);
  ExpectStatus(answers[6], 0, kOK);
  EXPECT_NEAR(error, expected, 1e-9 * expected);
  // Back in the initial state, ready to train from the selected weights.
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_FALSE(m->Mlp().GetReinitializeWeights());
  EXPECT_TRUE(a.Train(120, -1).IsOK());
}

TEST(MlpStates, SettingsWithoutAnOptimizerGiveTheFailedRestartState) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  const MLPSettings settings = WithoutOptimizer(m->settings);
  VectorRecordIter train(EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
  MLPAlgorithm a(settings, train, nullptr);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  ExpectStatus(a.GetStatus(), 50001, kError);
  EXPECT_EQ(a.GetOptimizer(), nullptr);
  // Gated: nothing happens, the error stays.
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  ExpectStatus(a.GetStatus(), 50001, kError);
  std::ostringstream out;
  Expect(
      a, "SaveState", [&] { return a.SaveState(out); }, 5, kError);
  Expect(
      a, "SaveStateXML", [&] { return a.SaveStateXML(out); }, 5, kError);
  Expect(
      a, "SelectArchitecture", [&] { return a.SelectArchitecture(); }, 5, kError);
  EXPECT_EQ(out.str(), "");
  // An operation not available anywhere leaves a warning, which opens the
  // gate: the state itself still refuses with code 5.
  Expect(
      a, "ExportModelXML", [&] { return a.ExportModelXML(out, 0, nullptr); }, 6, kWarning);
  Expect(
      a, "Train", [&] { return a.Train(80, -1); }, 5, kError);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
}

TEST(MlpStates, APreparatorWithoutDataGivesTheFailedRestartState) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  MLPAlgorithm a(m->settings, nullptr);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  ExpectStatus(a.GetStatus(), 50001, kError);
  EXPECT_EQ(a.GetVarList(), nullptr);
  EXPECT_TRUE(a.Score(m->trainRecords[0]).IsMissing());
}

TEST(MlpStates, AnErrorClosesTheGateUntilAnotherOperationClearsIt) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  INeuralAlgorithm& a = *m->algorithm;
  Record missingInput = m->trainRecords[0];
  missingInput[kV] = kMissing;
  EXPECT_TRUE(a.Score(missingInput).IsMissing());
  ExpectStatus(a.GetStatus(), 50018, kError);
  const VXStatus error = a.GetStatus();

  VectorRecordIter raw(m->trainRecords);
  std::vector<double> importance;
  Record out;
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.Update(raw, 10), VXStatus());
  EXPECT_EQ(a.GetErrorOnData(raw, 80), kMissing);
  EXPECT_EQ(a.GetAccuracy(), kMissing);
  EXPECT_EQ(a.ComputeSensitivity(importance), VXStatus());
  EXPECT_EQ(a.Score(m->trainRecords[1], out), error);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_EQ(a.GetStatus(), error);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(a.GetNumberOfDataPasses(), 0);
  EXPECT_EQ(raw.Count(), m->trainRecords.size());

  // Scoring has no gate: a good record stores OK again and work resumes.
  EXPECT_FALSE(a.Score(m->trainRecords[1]).IsMissing());
  EXPECT_EQ(a.GetStatus(), VXStatus());
  EXPECT_TRUE(a.Train(80, -1).IsOK());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
}

TEST(MlpStates, ACancelBeforeAnyWorkClosesTheGate) {
  CountdownCancel cancel;
  auto m = MakeModel(kCategoricalTarget, 80, 20, 1,
                     [&](MLPSettings& s) { s.SetCancelPointer(&cancel); });
  INeuralAlgorithm& a = *m->algorithm;
  cancel.Arm();
  VectorRecordIter raw(m->trainRecords);
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.Update(raw, 10), VXStatus());
  EXPECT_EQ(a.GetErrorOnData(raw, 80), kMissing);
  EXPECT_EQ(a.GetAccuracy(), kMissing);
  EXPECT_TRUE(a.Score(m->trainRecords[0]).IsMissing());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(a.GetNumberOfDataPasses(), 0);
  EXPECT_EQ(a.GetStatus(), VXStatus());
  // A save is not gated: it runs, then finds the cancel and enters Cancel.
  std::stringstream saved;
  Expect(
      m->Mlp(), "SaveState", [&] { return a.SaveState(saved); }, 1, kError);
  EXPECT_FALSE(saved.str().empty());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(m->Mlp().GetNetwork(), nullptr);
}

TEST(MlpStates, TheCancelStateRefusesWhatReachesIt) {
  CountdownCancel cancel;
  auto m = MakeModel(kCategoricalTarget, 80, 20, 1,
                     [&](MLPSettings& s) { s.SetCancelPointer(&cancel); });
  INeuralAlgorithm& a = *m->algorithm;
  ASSERT_TRUE(a.Train(80, -1).IsOK());
  const int passes = a.GetNumberOfDataPasses();
  cancel.Arm();
  std::stringstream saved;
  Expect(
      m->Mlp(), "the save that meets the cancel", [&] { return a.SaveState(saved); }, 1, kError);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  std::ostringstream out;
  Expect(
      m->Mlp(), "SaveState", [&] { return a.SaveState(out); }, 1, kError);
  Expect(
      m->Mlp(), "SaveStateXML", [&] { return a.SaveStateXML(out); }, 1, kError);
  Expect(
      m->Mlp(), "SelectArchitecture", [&] { return a.SelectArchitecture(); }, 1, kError);
  EXPECT_EQ(out.str(), "");
  // The gated operations do not reach the state.
  VectorRecordIter raw(m->trainRecords);
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.Update(raw, 10), VXStatus());
  EXPECT_EQ(a.GetErrorOnData(raw, 80), kMissing);
  ExpectStatus(a.GetStatus(), 1, kError);
  // The counters survive for the host to read.
  EXPECT_EQ(a.GetNumberOfDataPasses(), passes);
  Expect(
      m->Mlp(), "ExportModelXML", [&] { return a.ExportModelXML(out, 0, nullptr); }, 6, kWarning);
  EXPECT_EQ(a.GetStructure(), nullptr);
  ExpectStatus(a.GetStatus(), 6, kWarning);
  EXPECT_EQ(a.Train(80, -1), VXStatus()) << "still cancelled";
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
}

}  // namespace
