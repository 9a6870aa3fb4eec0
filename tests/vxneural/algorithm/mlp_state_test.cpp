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

#include "common/text_checks.h"
#include "mlp_driver_fixtures.h"
#include "state_table.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/evaluation/NNOutputStatistics.h"

namespace {

using namespace mlpdriver;

void WithSensitivity(MLPSettings& s) { s.SetComputeSensitivity(true); }

TEST(MlpStateTable, EveryStateAnswersEveryOperationAsTheTableSays) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  ASSERT_TRUE(m->algorithm);
  ExpectStateTable(m->Mlp(), m->trainRecords,
                   EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
}

TEST(MlpStates, ANewAlgorithmGoesFromInitToTrainedAsTheTableSays) {
  auto m = MakeModel(kCategoricalTarget, 80, 20, 1, WithSensitivity);
  INeuralAlgorithm& a = *m->algorithm;
  // Not started, initial weights to come from a sample, counters at zero,
  // 3 hidden units, the default method, errors missing.
  const Doubles run = RunOf(m->Mlp());
  EXPECT_EQ(Doubles(run.begin(), run.begin() + 11),
            (Doubles{VXNNCommon::kNotStarted, 1, 0, 0, 3, VXNNCommon::kStoppedUndefined,
                     VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch, kMissing, kMissing,
                     kMissing}));
  EXPECT_EQ(a.GetElapsedTime(), 0.0);
  EXPECT_EQ(a.GetStatus(), VXStatus());
  EXPECT_EQ(a.GetAlgorithmType(), VXNNCommon::kMLP);
  const std::string banner = a.GetComponentVersion();
  text_checks::ExpectText(banner, "", {"multi-layer perceptron", "1.0"}, "");
  EXPECT_EQ(banner.find('\n'), std::string::npos);

  VectorRecordIter updates(MakeRecords(10, 50));
  ExpectStatus(a.Update(updates, 10), 6);
  std::vector<double> importance{42.0};
  ExpectStatus(a.ComputeSensitivity(importance), 6);
  EXPECT_EQ(importance, std::vector<double>{42.0});
  EXPECT_EQ(a.GetStructure(), nullptr);
  ExpectStatus(a.GetStatus(), 6);
  VectorRecordIter raw(m->trainRecords);
  EXPECT_NE(a.GetErrorOnData(raw, 80), kMissing);
  EXPECT_FALSE(Save(a, false).empty());
  EXPECT_FALSE(Save(a, true).empty());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kNotStarted);

  ASSERT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  ExpectStatus(a.SelectArchitecture(), 6);
  ASSERT_EQ(a.ComputeSensitivity(importance), VXStatus());
  ASSERT_EQ(importance.size(), 3u);
  EXPECT_NEAR(importance[0] + importance[1] + importance[2], 1.0, 1e-12);

  // The six-argument form checks its arguments against the variable list;
  // the error closes the gate, and a good score opens it again.
  std::vector<int> cats = a.GetVarList()->GetNInputCats();
  cats.back() += 1;
  ExpectStatus(a.ComputeSensitivity(3, cats, false, {}, {}, importance), 50005);
  EXPECT_EQ(a.Train(80, -1), VXStatus());
  ExpectStatus(a.GetStatus(), 50005);
  EXPECT_FALSE(a.Score(m->trainRecords[0]).IsMissing());
  ExpectStatus(a.ComputeSensitivity(2, a.GetVarList()->GetNInputCats(), false, {}, {}, importance),
               50005);
}

// What a host gets when it calls back into a busy algorithm: the codes of
// Train, Update, SelectArchitecture, SaveState, SaveStateXML and
// ComputeSensitivity, then of the status GetErrorOnData leaves; the error
// itself, and what the saves wrote.
struct CallBack {
  int algorithmStatus = -1;
  std::vector<int> codes;
  double error = 0.0;
  std::string written;
};

CallBack CallBackInto(INeuralAlgorithm& a, const std::vector<Record>& records) {
  CallBack c;
  c.algorithmStatus = a.GetAlgorithmStatus();
  std::ostringstream out;
  VectorRecordIter source(records);
  std::vector<double> importance;
  for (const VXStatus& s :
       {a.Train(10, -1), a.Update(source, 10), a.SelectArchitecture(), a.SaveState(out),
        a.SaveStateXML(out), a.ComputeSensitivity(importance)}) {
    ExpectStatus(s, s.GetErrorCode());
    c.codes.push_back(s.GetErrorCode());
  }
  source.Rewind();
  c.error = a.GetErrorOnData(source, 1000);
  c.codes.push_back(a.GetStatus().GetErrorCode());
  c.written = out.str();
  return c;
}

// The cross entropy of the network's current weights on records encoded by
// hand, computed by hand.
double CrossEntropyByHand(const MLPAlgorithm& a, const std::vector<Record>& encoded) {
  const std::vector<double> w = WeightsOf(a);
  const int hidden = a.GetNetwork()->GetLayer(1)->GetNumUnits();
  double error = 0.0;
  for (const Record& r : encoded) {
    const std::vector<double> p =
        ForwardByHand(w, std::vector<double>(r.GetAll(), r.GetAll() + 5), hidden, 2, true);
    error -= std::log(r[5] == 1.0 ? p[0] : p[1]);
  }
  return error;
}

// The host calls back from the first progress report of a training run
// (In Progress), from the stream of a save of an untrained or a trained
// model in either form (Saving), and from the first report of the
// architecture search (Expert), which measures already encoded records as
// they are. The search's second report, after its commit, is checked with
// the initialisation.
TEST(MlpStates, AHostCallingBackMeetsTheBusyState) {
  enum { kTraining, kSaveUntrained, kSaveUntrainedXML, kSaveTrained, kSaveTrainedXML, kSearch };
  for (int when = kTraining; when <= kSearch; ++when) {
    SCOPED_TRACE(when);
    const bool save = when != kTraining && when != kSearch;
    auto m = MakeModel(kCategoricalTarget, 120, 40, 5, WithSensitivity);
    MLPAlgorithm& a = m->Mlp();
    ASSERT_TRUE(when < kSaveTrained || when > kSaveTrainedXML || a.Train(120, -1).IsOK());
    const int before = a.GetAlgorithmStatus();
    const std::vector<Record> records =
        when == kSearch ? EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget)
                        : m->trainRecords;
    std::vector<CallBack> calls;
    double expected = kMissing;
    auto callBack = [&] {
      if (!calls.empty()) return;
      if (when == kSearch) expected = CrossEntropyByHand(a, records);
      calls.push_back(CallBackInto(a, records));
    };
    Ints firstReport;  // an MLPExpertReporter?, its records
    FunctionListener listener([&](VXCommon_1_2::ProgressReport& r) {
      if (firstReport.empty())
        firstReport = {dynamic_cast<MLPExpertReporter*>(&r) != nullptr,
                       r.DiscreteMeasure("records")};
      callBack();
    });
    HookStreamBuf buffer(callBack);
    std::ostream stream(&buffer);
    if (!save) a.SetProgressListener(&listener);
    EXPECT_EQ(when == kTraining ? a.Train(120, -1)
              : when == kSearch ? a.SelectArchitecture()
              : when % 2 == 0   ? a.SaveStateXML(stream)
                                : a.SaveState(stream),
              VXStatus());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].algorithmStatus, when == kTraining ? VXNNCommon::kInProgress
                                        : save            ? VXNNCommon::kSaving
                                                          : VXNNCommon::kExpert);
    EXPECT_EQ(calls[0].codes, (std::vector<int>{6, 6, 6, 4, 4, 6, when == kSearch ? 0 : 6}));
    EXPECT_NEAR(calls[0].error, expected, 1e-9 * std::abs(expected));
    EXPECT_EQ(calls[0].written, "");
    EXPECT_EQ(save, !buffer.str().empty());
    // The search reports on the algorithm, with every sampled record (all
    // 160, fewer than 1000).
    if (when == kSearch) {
      EXPECT_EQ(firstReport, (Ints{1, 160}));
    }
    // The work itself was not disturbed.
    EXPECT_EQ(a.GetAlgorithmStatus(), save                ? before
                                      : when == kTraining ? VXNNCommon::kTrained
                                                          : VXNNCommon::kNotStarted);
    EXPECT_EQ(a.GetStatus(), VXStatus());
  }
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
  EXPECT_EQ(a.GetStructure(), nullptr);
  ExpectStatus(a.GetStatus(), 6);
  ExpectStatus(a.Train(80, -1), 5);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);

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

// Cancels at the first progress report, after `after` further queries.
VXStatus CancelAtFirstReport(MLPAlgorithm& a, CountdownCancel& cancel, long after, bool search) {
  FunctionListener listener([&](VXCommon_1_2::ProgressReport&) {
    if (!cancel.fArmed) cancel.Arm(after);
  });
  a.SetProgressListener(&listener);
  const VXStatus s = search ? a.SelectArchitecture() : a.Train(150, -1);
  a.RemoveProgressListener();
  // An interrupted training iteration runs to its end, whose step stops
  // the run and is reported.
  EXPECT_EQ(listener.fReports, search ? 1 : 2);
  return s;
}

TEST(MlpCancel, ACancelAtAnyStageEndsInTheCancelState) {
  using Run = std::function<VXStatus(Model&, CountdownCancel&)>;
  auto sample = [](long after) {
    return [after](Model& m, CountdownCancel& c) {
      c.Arm(after);
      return m.Mlp().Train(150, -1);
    };
  };
  std::vector<std::pair<const char*, Run>> stages = {
      {"before any work: the gate stays shut, a save finds the cancel",
       [](Model& m, CountdownCancel& c) {
         c.Arm();
         ExpectGated(*m.algorithm, m.trainRecords);
         EXPECT_TRUE(m.algorithm->Score(m.trainRecords[0]).IsMissing());
         EXPECT_EQ(m.algorithm->GetStatus(), VXStatus());
         std::ostringstream saved;
         const VXStatus s = m.algorithm->SaveState(saved);
         EXPECT_FALSE(saved.str().empty()) << "a save is not gated";
         return s;
       }},
      {"at the first training report",
       [](Model& m, CountdownCancel& c) {
         const VXStatus s = CancelAtFirstReport(m.Mlp(), c, 0, false);
         EXPECT_GT(m.algorithm->GetNumberOfDataPasses(), 0) << "the sample pass stays counted";
         return s;
       }},
      {"early in the sample initialisation", sample(3)},
      {"in the sample initialisation", sample(50)},
      {"late in the sample initialisation", sample(400)},
      {"during the architecture search",
       [](Model& m, CountdownCancel& c) { return CancelAtFirstReport(m.Mlp(), c, 5, true); }},
      {"after training, during a save",
       [](Model& m, CountdownCancel& c) {
         EXPECT_TRUE(m.algorithm->Train(150, -1).IsOK());
         const std::vector<double> scores = ScoresOf(*m.algorithm, m.trainRecords);
         HookStreamBuf buffer([&] { c.Arm(); });
         std::ostream stream(&buffer);
         const VXStatus s = m.algorithm->SaveState(stream);
         // What was written is the whole model as it was before the cancel.
         auto r = Restore(buffer.str(), false, m);
         EXPECT_TRUE(r->algorithm) << r->status;
         if (r->algorithm) {
           EXPECT_EQ(r->algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
           EXPECT_EQ(ScoresOf(*r->algorithm, m.trainRecords), scores);
         }
         return s;
       }},
  };
  stages.push_back(
      {"during an error pass: the sum so far is still returned", [](Model& m, CountdownCancel& c) {
         VectorRecordIter raw(m.trainRecords);
         c.Arm(2);  // past the gate and the state's entry check
         EXPECT_NE(m.algorithm->GetErrorOnData(raw, 150), kMissing);
         return m.algorithm->GetStatus();
       }});
  for (const auto& [name, run] : stages) {
    SCOPED_TRACE(name);
    CountdownCancel cancel;
    auto m = MakeModel(kCategoricalTarget, 150, 50, 1,
                       [&](MLPSettings& s) { s.SetCancelPointer(&cancel); });
    MLPAlgorithm& a = m->Mlp();
    ExpectStatus(run(*m, cancel), 1);
    EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(a.GetNetwork(), nullptr);
    EXPECT_EQ(a.GetOptimizer(), nullptr);
    const int passes = a.GetNumberOfDataPasses();
    // The gated operations do not reach the state; the others meet code 1.
    ExpectGated(a, m->trainRecords);
    EXPECT_TRUE(a.Score(m->trainRecords[0]).IsMissing());
    Record out;
    ExpectStatus(a.Score(m->trainRecords[0], out), 1);
    std::ostringstream saved;
    ExpectStatus(a.SaveState(saved), 1);
    ExpectStatus(a.SaveStateXML(saved), 1);
    ExpectStatus(a.SelectArchitecture(), 1);
    ExpectStatus(a.ExportModelXML(saved, 0, nullptr), 1);
    ExpectStatus(a.ExportModelStatXML(saved, 0, nullptr), 1);
    EXPECT_EQ(saved.str(), "");
    EXPECT_EQ(a.Train(150, -1), VXStatus()) << "the gate stays shut";
    // The search's report reads the counters, and nothing of the network.
    MLPExpertReporter report(&a);
    EXPECT_EQ((Ints{report.DiscreteMeasure("dataPasses"), report.DiscreteMeasure("hiddenUnits"),
                    report.DiscreteMeasure("weights"), report.DiscreteMeasure("records")}),
              (Ints{passes, a.GetNumberOfHiddenUnits(), -1, -1}));
    EXPECT_EQ((Doubles{report.ScaleMeasure("elapsedTime"), report.ScaleMeasure("trainError")}),
              (Doubles{a.GetElapsedTime(), kMissing}));
    text_checks::ExpectText(text_checks::Shown(a), "",
                            {"The optimizer:\nNULL\n", "Current algorithm status: Cancelled\n"},
                            "");
  }
}

}  // namespace
