// The MLP driver at work: training runs and their counters, updates,
// scoring and error measurement checked against a hand computation, the
// seeds that make runs repeatable, and the host cancelling at each stage.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "mlp_driver_fixtures.h"
#include "vxneural/algorithm/MLPStopRules.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace mlpdriver;

int HiddenUnits(const MLPAlgorithm& a) { return a.GetNetwork()->GetLayer(1)->GetNumUnits(); }

TEST(MlpTraining, TheFirstRunStartsFromASampleAndTakesTheOptimizerCounters) {
  auto m = MakeModel(kCategoricalTarget, 150, 50);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_EQ(a.Train(150, -1), VXStatus());
  const IOptimizationAlgorithm* opt = a.GetOptimizer();
  ASSERT_NE(opt, nullptr);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_FALSE(a.GetReinitializeWeights());
  // The sample drawn for the starting weights counts as one data pass.
  EXPECT_EQ(a.GetNumberOfDataPasses(), opt->GetNDataPasses() + 1);
  EXPECT_EQ(a.GetNumberOfIterations(), opt->GetNIterations());
  EXPECT_EQ(a.GetStopReason(), opt->GetStopReason());
  EXPECT_NE(a.GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_EQ(a.GetTrainingError(), opt->GetTrainError());
  EXPECT_EQ(a.GetTestingError(), opt->GetTestError());
  EXPECT_GE(a.GetElapsedTime(), opt->GetElapsedTime());
  EXPECT_EQ(a.GetTrainingBIC(), kMissing);
  // The settings the initialisation borrowed are back.
  EXPECT_EQ(a.GetMLPSettings().GetMaxNDataPasses(), 40);
  EXPECT_NE(dynamic_cast<const ScaledConjGrad*>(opt), nullptr);
}

TEST(MlpTraining, AFurtherRunAddsItsPassesAndIterations) {
  auto m = MakeModel(kContinuousTarget, 150, 0);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  const int passes = a.GetNumberOfDataPasses();
  const int iterations = a.GetNumberOfIterations();
  const double elapsed = a.GetElapsedTime();
  const std::valarray<double> before = WeightsOf(a);
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(a.GetNumberOfDataPasses(), passes + a.GetOptimizer()->GetNDataPasses());
  EXPECT_EQ(a.GetNumberOfIterations(), iterations + a.GetOptimizer()->GetNIterations());
  EXPECT_GT(a.GetNumberOfDataPasses(), passes);
  EXPECT_GE(a.GetElapsedTime(), elapsed);
  EXPECT_FALSE(SameWeights(before, WeightsOf(a))) << "training went on from the weights";
}

TEST(MlpTraining, GivenWeightsAreUsedAsTheyAreWithoutASample) {
  auto probe = MakeModel(kCategoricalTarget, 100, 0);
  const int nWeights = probe->Mlp().GetNetwork()->GetNumWeights();
  std::valarray<double> weights(static_cast<std::size_t>(nWeights));
  for (int i = 0; i < nWeights; ++i) weights[i] = 0.05 * ((i * 7) % 11) - 0.25;

  Model m;
  m.trainRecords = MakeRecords(100, 1);
  m.list = MakeList(m.trainRecords, kCategoricalTarget);
  m.settings = MakeSettings(m.list, 100);
  m.train = std::make_unique<VectorRecordIter>(m.trainRecords);
  m.algorithm.reset(
      m.factory.CreateNeuralAlgorithm(m.settings, m.list, *m.train, nullptr, &weights));
  ASSERT_TRUE(m.algorithm) << m.factory.GetStatus();
  MLPAlgorithm& a = m.Mlp();
  EXPECT_FALSE(a.GetReinitializeWeights());
  EXPECT_TRUE(SameWeights(WeightsOf(a), weights));
  for (int i = 0; i < 10; ++i) {
    const Record& r = m.trainRecords[static_cast<std::size_t>(i)];
    const std::vector<double> p =
        ForwardByHand(weights, EncodeInputsByHand(m.trainRecords, r), 3, 2, true);
    Record out;
    ASSERT_EQ(a.Score(r, out), VXStatus());
    ASSERT_EQ(out.Size(), 2);
    EXPECT_NEAR(out[0], p[0], 1e-12);
    EXPECT_NEAR(out[1], p[1], 1e-12);
  }
  ASSERT_TRUE(a.Train(100, -1).IsOK());
  EXPECT_EQ(a.GetNumberOfDataPasses(), a.GetOptimizer()->GetNDataPasses()) << "no sample pass";
}

TEST(MlpTraining, AWeightVectorOfTheWrongLengthIsRefused) {
  auto probe = MakeModel(kCategoricalTarget, 100, 0);
  const int nWeights = probe->Mlp().GetNetwork()->GetNumWeights();
  const std::valarray<double> weights(0.1, static_cast<std::size_t>(nWeights + 1));
  MLPFactory factory;
  EXPECT_EQ(
      factory.CreateNeuralAlgorithm(probe->settings, probe->list, *probe->train, nullptr, &weights),
      nullptr);
  const VXStatus s = factory.GetStatus();
  ExpectStatus(s, 50019, -1);
  EXPECT_EQ(s.GetDiscreteDatum(0), nWeights);
  EXPECT_EQ(s.GetDiscreteDatum(1), nWeights + 1);
}

// The network's error, accuracy and predictions against a forward pass
// computed by hand from its weights on inputs encoded by hand.
class MlpHandComputation : public testing::TestWithParam<Targets> {};

TEST_P(MlpHandComputation, ErrorAccuracyAndPredictionsMatch) {
  const Targets targets = GetParam();
  auto m = MakeModel(targets, 150, 50);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  const std::valarray<double> w = WeightsOf(a);
  const int hidden = HiddenUnits(a);
  const bool categorical = targets == kCategoricalTarget;
  const int outputs =
      static_cast<int>(OutputCategories(targets).size()) + (targets != kContinuousTarget ? 1 : 0);
  const Moments z = MomentsOf(m->trainRecords, kZ);

  double error = 0.0;
  int hits = 0;
  for (const Record& r : m->testRecords) {
    const std::vector<double> o =
        ForwardByHand(w, EncodeInputsByHand(m->trainRecords, r), hidden, outputs, categorical);
    const std::vector<double> t = EncodeTargetsByHand(m->trainRecords, r, targets);
    if (categorical) {
      error -= std::log(t[0] == 1.0 ? o[0] : o[1]);
      hits += (o[1] > o[0]) == (r[kY] == 1.0);
    } else {
      for (std::size_t u = 0; u < t.size(); ++u) error += 0.5 * (t[u] - o[u]) * (t[u] - o[u]);
    }

    const NNOutputList& list = a.Score(r);
    ASSERT_FALSE(list.IsMissing());
    int next = 0;
    if (targets != kContinuousTarget) {
      const auto* out = dynamic_cast<const NNCategOutput*>(list.GetOutputAt(next++));
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(out->GetWinningIndex(), o[1] > o[0] ? 1 : 0);
      EXPECT_NEAR(out->GetOutputs()[0], o[0], 1e-12);
    }
    if (targets != kCategoricalTarget) {
      const auto* out = dynamic_cast<const NNContOutput*>(list.GetOutputAt(next));
      ASSERT_NE(out, nullptr);
      EXPECT_NEAR(out->GetRealOutput(), o.back() * std::sqrt(z.variance) + z.mean, 1e-9);
    }
  }
  VectorRecordIter test(m->testRecords);
  const double measured = a.GetErrorOnData(test, 1000);
  EXPECT_NEAR(measured, error, 1e-9 * error);
  EXPECT_EQ(a.GetStatus(), VXStatus());
  if (categorical) {
    EXPECT_NEAR(a.GetAccuracy(), 100.0 * hits / m->testRecords.size(), 1e-9);
  }
  // At most n records are measured.
  test.Rewind();
  EXPECT_LT(a.GetErrorOnData(test, 10), measured);
}

INSTANTIATE_TEST_SUITE_P(MlpTargets, MlpHandComputation,
                         testing::Values(kCategoricalTarget, kContinuousTarget, kBothTargets));

TEST(MlpTraining, ScoringRefusesRecordsItCannotEncode) {
  auto m = MakeModel(kCategoricalTarget, 100, 0);
  MLPAlgorithm& a = m->Mlp();
  Record badCode = m->trainRecords[0];
  badCode[kC] = 7.0;
  EXPECT_TRUE(a.Score(badCode).IsMissing());
  ExpectStatus(a.GetStatus(), 50003, -1);
  EXPECT_FALSE(a.Score(m->trainRecords[0]).IsMissing());
  EXPECT_EQ(a.GetStatus(), VXStatus());
  // The two-record form answers the status without storing it.
  Record out;
  Record missing = m->trainRecords[0];
  missing[kX] = kMissing;
  ExpectStatus(a.Score(missing, out), 50018, -1);
  EXPECT_EQ(a.GetStatus(), VXStatus());

  auto e = MakeEncodedModel(kCategoricalTarget, 100, 0);
  const Record shortRecord(std::vector<double>{0.1, 0.0, 1.0, 0.0});
  EXPECT_TRUE(e->algorithm->Score(shortRecord).IsMissing());
  ExpectStatus(e->algorithm->GetStatus(), 50018, -1);
  EXPECT_FALSE(e->algorithm->Score(e->trainRecords[0]).IsMissing());
}

TEST(MlpTraining, MinusOneTestRecordsMeansTheSettingsCount) {
  const std::vector<Record> raw = MakeRecords(100, 1);
  CountingSource train(EncodeByHand(raw, raw, kCategoricalTarget));
  CountingSource test(EncodeByHand(raw, MakeRecords(30, 9), kCategoricalTarget));
  MLPSettings settings(5, {2}, 100);
  settings.SetNTestRecords(10);
  settings.SetMaxNDataPasses(10);
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> a(factory.CreateNeuralAlgorithm(settings, train, &test));
  ASSERT_TRUE(a);
  ASSERT_TRUE(a->Train(100, -1).IsOK());
  test.ResetLongestRun();
  ASSERT_TRUE(a->Train(100, -1).IsOK());
  EXPECT_EQ(test.LongestRun(), 10);
  test.ResetLongestRun();
  ASSERT_TRUE(a->Train(100, 25).IsOK());
  EXPECT_EQ(test.LongestRun(), 25);
  // Without test data -1 is simply passed on.
  auto noTest = MakeEncodedModel(kCategoricalTarget, 100, 0);
  EXPECT_TRUE(noTest->algorithm->Train(100, -1).IsOK());
}

TEST(MlpTraining, AnUpdateSwitchesToMiniBatchGradientDescentAndCarriesTheCounters) {
  auto m = MakeModel(kBothTargets, 150, 0);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  const IOptimizationAlgorithm* scg = a.GetOptimizer();
  const int scgPasses = scg->GetNDataPasses();
  const int scgRecords = scg->GetNRecordsProcessed();
  const std::valarray<double> before = WeightsOf(a);

  CountingSource updates(MakeRecords(40, 77));
  INeuralAlgorithm::UISettings ui{{"mode", "update"}};
  a.SetUISettings(ui);
  EXPECT_EQ(a.GetUISettings(), ui);
  ASSERT_EQ(a.Update(updates, 40), VXStatus());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(a.GetMLPSettings().GetTrainingMethod(), VXNNCommon::kGradientDescent);
  EXPECT_EQ(a.GetMLPSettings().GetTrainType(), VXNNCommon::kMiniBatch);
  EXPECT_EQ(a.GetSettings()->GetUISettings(), ui);
  const auto* mbo = dynamic_cast<const GradientDescentMBO*>(a.GetOptimizer());
  ASSERT_NE(mbo, nullptr);
  EXPECT_GE(mbo->GetNDataPasses(), scgPasses);
  EXPECT_GT(mbo->GetNRecordsProcessed(), scgRecords);
  EXPECT_LE(mbo->GetNRecordsProcessed(), scgRecords + 40);
  EXPECT_EQ(a.GetNumberOfDataPasses(), mbo->GetNDataPasses());
  EXPECT_EQ(a.GetElapsedTime(), mbo->GetElapsedTime());
  EXPECT_EQ(a.GetTrainingError(), mbo->GetTrainError());
  EXPECT_EQ(updates.Position(), 0u) << "the records are rewound";
  EXPECT_GE(updates.Rewinds(), 1);
  EXPECT_EQ(a.GetVarList()->GetWeightedCount(), 40.0);
  EXPECT_FALSE(SameWeights(before, WeightsOf(a)));

  // A second update keeps the optimizer.
  ASSERT_EQ(a.Update(updates, 40), VXStatus());
  EXPECT_EQ(a.GetOptimizer(), mbo);
}

TEST(MlpTraining, AnOnlineModelStaysOnlineThroughAnUpdate) {
  auto m = MakeModel(kCategoricalTarget, 120, 0, 1, [](MLPSettings& s) {
    s.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kOnline);
  });
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(120, -1).IsOK());
  const IOptimizationAlgorithm* before = a.GetOptimizer();
  VectorRecordIter updates(MakeRecords(20, 5));
  ASSERT_EQ(a.Update(updates, 20), VXStatus());
  EXPECT_EQ(a.GetMLPSettings().GetTrainType(), VXNNCommon::kOnline);
  EXPECT_EQ(a.GetOptimizer(), before) << "already gradient descent without batches";
}

TEST(MlpTraining, AnEncodedModelUpdatesOnEncodedRecords) {
  auto m = MakeEncodedModel(kContinuousTarget, 120, 0);
  ASSERT_TRUE(m->algorithm->Train(120, -1).IsOK());
  EXPECT_EQ(m->algorithm->GetVarList(), nullptr);
  const std::vector<Record> raw = MakeRecords(120, 1);
  VectorRecordIter updates(EncodeByHand(raw, MakeRecords(30, 3), kContinuousTarget));
  EXPECT_EQ(m->algorithm->Update(updates, 30), VXStatus());
  EXPECT_EQ(m->algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
}

// Everything a run produces, to compare two runs.
struct RunResult {
  std::valarray<double> weights;
  std::vector<double> outputs;
  int passes, iterations, hidden, stop;
  double trainingError, testingError;
};

RunResult TrainOnce(Targets targets, bool search, unsigned weightSeed, unsigned sampleSeed) {
  auto m = MakeModel(targets, 150, 50, 1, [&](MLPSettings& s) {
    s.SetRandomSeed(weightSeed);
    s.SetRandomSeedSampling(sampleSeed);
    // A sample smaller than the data, so that the sampling seed matters.
    s.SetMaxRecordsInMemory(100);
  });
  MLPAlgorithm& a = m->Mlp();
  if (search) {
    EXPECT_TRUE(a.SelectArchitecture().IsOK());
  }
  EXPECT_TRUE(a.Train(150, -1).IsOK());
  RunResult r;
  r.weights = WeightsOf(a);
  for (const Record& rec : m->testRecords) {
    Record out;
    EXPECT_TRUE(a.Score(rec, out).IsOK());
    r.outputs.insert(r.outputs.end(), out.GetAll(), out.GetAll() + out.Size());
  }
  r.passes = a.GetNumberOfDataPasses();
  r.iterations = a.GetNumberOfIterations();
  r.hidden = a.GetNumberOfHiddenUnits();
  r.stop = a.GetStopReason();
  r.trainingError = a.GetTrainingError();
  r.testingError = a.GetTestingError();
  return r;
}

TEST(MlpTraining, TheSameSeedsRepeatARunExactlyAndOtherSeedsDoNot) {
  for (bool search : {false, true}) {
    for (Targets t : {kCategoricalTarget, kContinuousTarget, kBothTargets}) {
      SCOPED_TRACE(std::string(search ? "with search, targets " : "targets ") + std::to_string(t));
      const RunResult a = TrainOnce(t, search, 7, 11);
      const RunResult b = TrainOnce(t, search, 7, 11);
      EXPECT_TRUE(SameWeights(a.weights, b.weights));
      EXPECT_EQ(a.outputs, b.outputs);
      EXPECT_EQ(a.passes, b.passes);
      EXPECT_EQ(a.iterations, b.iterations);
      EXPECT_EQ(a.hidden, b.hidden);
      EXPECT_EQ(a.stop, b.stop);
      EXPECT_EQ(a.trainingError, b.trainingError);
      EXPECT_EQ(a.testingError, b.testingError);
      EXPECT_FALSE(SameWeights(a.weights, TrainOnce(t, search, 8, 11).weights));
      EXPECT_FALSE(SameWeights(a.weights, TrainOnce(t, search, 7, 12).weights));
    }
  }
}

TEST(MlpTraining, CancellingDuringTrainingDropsTheNetworkAndClosesTheGate) {
  CountdownCancel cancel;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport&) { cancel.Arm(); });
  auto m = MakeModel(kCategoricalTarget, 150, 50, 1, [&](MLPSettings& s) {
    s.SetCancelPointer(&cancel);
    s.SetProgressListener(&listener);
  });
  MLPAlgorithm& a = m->Mlp();
  ExpectStatus(a.Train(150, -1), 1, -1);
  EXPECT_EQ(listener.Reports(), 1);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(a.GetNetwork(), nullptr);
  EXPECT_EQ(a.GetOptimizer(), nullptr);
  EXPECT_GT(a.GetNumberOfDataPasses(), 0) << "the counters of the sample pass stay readable";
  EXPECT_EQ(a.Train(150, -1), VXStatus());
  ExpectStatus(a.GetStatus(), 1, -1);
  EXPECT_TRUE(a.Score(m->trainRecords[0]).IsMissing());
  Record out;
  ExpectStatus(a.Score(m->trainRecords[0], out), 1, -1);
  std::ostringstream display;
  a.Display(display);
  EXPECT_NE(display.str().find("The optimizer:\nNULL\n"), std::string::npos);
  EXPECT_NE(display.str().find("Current algorithm status: Cancelled\n"), std::string::npos);
}

TEST(MlpTraining, CancellingDuringTheSampleInitialisationEndsCancelled) {
  for (int after : {3, 50, 400}) {
    SCOPED_TRACE(after);
    CountdownCancel cancel;
    auto m = MakeModel(kContinuousTarget, 150, 0, 1,
                       [&](MLPSettings& s) { s.SetCancelPointer(&cancel); });
    MLPAlgorithm& a = m->Mlp();
    cancel.Arm(after);
    ExpectStatus(a.Train(150, -1), 1, -1);
    EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(a.GetNetwork(), nullptr);
  }
}

TEST(MlpTraining, CancellingDuringTheArchitectureSearchEndsCancelled) {
  CountdownCancel cancel;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport&) { cancel.Arm(5); });
  auto m = MakeModel(kCategoricalTarget, 150, 50, 1, [&](MLPSettings& s) {
    s.SetCancelPointer(&cancel);
    s.SetProgressListener(&listener);
  });
  MLPAlgorithm& a = m->Mlp();
  ExpectStatus(a.SelectArchitecture(), 1, -1);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(a.GetNetwork(), nullptr);
  EXPECT_EQ(a.Train(150, -1), VXStatus());
  ExpectStatus(a.GetStatus(), 1, -1);
}

TEST(MlpTraining, CancellingDuringASaveFinishesTheSaveThenCancels) {
  CountdownCancel cancel;
  auto m = MakeModel(kCategoricalTarget, 150, 0, 1,
                     [&](MLPSettings& s) { s.SetCancelPointer(&cancel); });
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  std::vector<std::vector<double>> scores;
  for (const Record& r : m->trainRecords) {
    Record out;
    a.Score(r, out);
    scores.emplace_back(out.GetAll(), out.GetAll() + out.Size());
  }
  HookStreamBuf buffer([&] { cancel.Arm(); });
  std::ostream stream(&buffer);
  ExpectStatus(a.SaveState(stream), 1, -1);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(a.GetNetwork(), nullptr);

  // What was written is a whole model, as it was before the cancel.
  std::istringstream in(buffer.Text());
  VectorRecordIter train(m->trainRecords);
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> restored(
      factory.RestoreNeuralAlgorithmFromBinary(in, train, nullptr));
  ASSERT_TRUE(restored) << factory.GetStatus();
  EXPECT_EQ(restored->GetAlgorithmStatus(), VXNNCommon::kTrained);
  for (std::size_t i = 0; i < m->trainRecords.size(); ++i) {
    Record out;
    ASSERT_TRUE(restored->Score(m->trainRecords[i], out).IsOK());
    EXPECT_EQ(std::vector<double>(out.GetAll(), out.GetAll() + out.Size()), scores[i]);
  }
}

TEST(MlpTraining, ListenerAndStopRulesGoToTheSettings) {
  auto m = MakeModel(kCategoricalTarget, 120, 0);
  MLPAlgorithm& a = m->Mlp();
  FunctionListener listener([](VXCommon_1_2::ProgressReport&) {});
  a.SetProgressListener(&listener);
  EXPECT_EQ(a.GetSettings()->GetProgressListener(), &listener);
  a.RemoveProgressListener();
  EXPECT_EQ(a.GetSettings()->GetProgressListener(), nullptr);
  MLPStopRules rules;
  rules.SetMaxNDataPasses(3);
  rules.SetMinErrorRatio(0.0);
  rules.SetMinRelativeChangeError(0.0);
  rules.SetAccuracy(101.0);
  a.SetStopRules(&rules);
  const auto* held = dynamic_cast<const MLPStopRules*>(a.GetStopRules());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->GetMaxNDataPasses(), 3);
  ASSERT_TRUE(a.Train(120, -1).IsOK());
  EXPECT_EQ(listener.Reports(), 0);
  EXPECT_EQ(a.GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
}

TEST(MlpTraining, TheDisplayShowsTheDriversFields) {
  auto m = MakeModel(kCategoricalTarget, 120, 0);
  ASSERT_TRUE(m->algorithm->Train(120, -1).IsOK());
  std::ostringstream out;
  m->algorithm->Display(out);
  const std::string text = out.str();
  const std::string passes =
      "Number of data passes = " + std::to_string(m->algorithm->GetNumberOfDataPasses()) + "\n";
  for (const std::string& line :
       {std::string("Start of MLPAlgorithm display\n"), std::string("Start of MLPSettings"),
        std::string("Current algorithm status: Trained\n"), std::string("fOutList:\n"),
        std::string("Re-initialize weights flag = false\n"), std::string("Stop reason: Stopped"),
        passes, std::string("Number of units in first hidden layer = 3\n"),
        std::string("Total elapsed time = "), std::string("Training error "),
        std::string("Testing error "), std::string("Random number generator:\n"),
        std::string("The optimizer:\nStart of ScaledConjGrad display\n")}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.substr(text.size() - 28), "End of MLPAlgorithm display\n");
}

}  // namespace
