// The MLP driver at work: training runs and their counters and reports,
// updates, and scoring and error measurement checked against a hand
// computation; its state machine: each state's answer to each operation with
// its exact code and severity, and the gate after an error.

#include "rbf_fixtures.h"
#include "state_table.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace mlpdriver;

TEST(MlpTraining, TheFirstRunStartsFromASampleAndTakesTheOptimizerCounters) {
  auto m = MakeModel(kCategoricalTarget, 150, 50);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_EQ(a.Train(150, -1), VXStatus());
  const IOptimizationAlgorithm* opt = a.GetOptimizer();
  ASSERT_NE(dynamic_cast<const ScaledConjGrad*>(opt), nullptr);
  EXPECT_NE(a.GetStopReason(), VXNNCommon::kStoppedUndefined);
  // The sample drawn for the starting weights counts as one data pass.
  EXPECT_EQ((Ints{a.GetAlgorithmStatus(), a.GetReinitializeWeights(), a.GetNumberOfDataPasses(),
                  a.GetNumberOfIterations(), a.GetStopReason()}),
            (Ints{VXNNCommon::kTrained, false, opt->GetNDataPasses() + 1, opt->GetNIterations(),
                  opt->GetStopReason()}));
  EXPECT_EQ((Doubles{a.GetTrainingError(), a.GetTestingError(), a.GetTrainingBIC()}),
            (Doubles{opt->GetTrainError(), opt->GetTestError(), kMissing}));
  EXPECT_GE(a.GetElapsedTime(), opt->GetElapsedTime());
  // The settings the initialisation borrowed are back.
  EXPECT_EQ(a.GetMLPSettings().GetMaxNDataPasses(), 40);
  // The search's report reads the same counters, and the optimizer's; a
  // full pass reads every record. The relative change is missing when the
  // run went back to its starting point: it is passed on either way.
  MLPExpertReporter r(&a);
  EXPECT_EQ((Ints{r.DiscreteMeasure("dataPasses"), r.DiscreteMeasure("hiddenUnits"),
                  r.DiscreteMeasure("weights"), r.DiscreteMeasure("whyStop"),
                  r.DiscreteMeasure("records")}),
            (Ints{a.GetNumberOfDataPasses(), 3, a.GetNetwork()->GetNumWeights(), a.GetStopReason(),
                  200}));
  EXPECT_EQ((Doubles{r.ScaleMeasure("trainError"), r.ScaleMeasure("testError"),
                     r.ScaleMeasure("elapsedTime"), r.ScaleMeasure("gradNorm"),
                     r.ScaleMeasure("relChangeError")}),
            (Doubles{a.GetTrainingError(), a.GetTestingError(), a.GetElapsedTime(),
                     opt->GetLastGradientNorm(), opt->GetRelChangeInErr()}));
  EXPECT_GT(r.ScaleMeasure("errorRatio"), 0.0);
  EXPECT_LT(r.ScaleMeasure("errorRatio"), 1.0);

  // A further run goes on from the weights and adds its counters.
  const int passes = a.GetNumberOfDataPasses(), iterations = a.GetNumberOfIterations();
  const double elapsed = a.GetElapsedTime();
  const std::vector<double> before = WeightsOf(a);
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ((Ints{a.GetNumberOfDataPasses(), a.GetNumberOfIterations()}),
            (Ints{passes + a.GetOptimizer()->GetNDataPasses(),
                  iterations + a.GetOptimizer()->GetNIterations()}));
  EXPECT_GE(a.GetElapsedTime(), elapsed);
  EXPECT_NE(before, WeightsOf(a));
}

TEST(MlpTraining, GivenWeightsAreUsedAsTheyAreWithoutASampleAndMustFit) {
  auto m = MakeModel(kCategoricalTarget, 100, 0);
  const int nWeights = m->Mlp().GetNetwork()->GetNumWeights();
  std::valarray<double> weights(static_cast<std::size_t>(nWeights));
  for (int i = 0; i < nWeights; ++i) weights[i] = 0.05 * ((i * 7) % 11) - 0.25;
  const std::vector<double> w(std::begin(weights), std::end(weights));
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> given(
      factory.CreateNeuralAlgorithm(m->settings, m->list, *m->train, nullptr, &weights));
  ASSERT_TRUE(given) << factory.GetStatus();
  auto& a = dynamic_cast<MLPAlgorithm&>(*given);
  EXPECT_FALSE(a.GetReinitializeWeights());
  EXPECT_EQ(WeightsOf(a), w);
  ASSERT_TRUE(a.Train(100, -1).IsOK());
  EXPECT_EQ(a.GetNumberOfDataPasses(), a.GetOptimizer()->GetNDataPasses()) << "no sample pass";

  const std::valarray<double> tooLong(0.1, static_cast<std::size_t>(nWeights + 1));
  EXPECT_EQ(factory.CreateNeuralAlgorithm(m->settings, m->list, *m->train, nullptr, &tooLong),
            nullptr);
  const VXStatus s = factory.GetStatus();
  ExpectStatus(s, 50019);
  EXPECT_EQ(s.GetDiscreteDatum(0), nWeights);
  EXPECT_EQ(s.GetDiscreteDatum(1), nWeights + 1);
}

// Batch gradient descent counts its iterations for its own stop rules and
// reports only: its count stays as it was, and the driver adds that. A run
// from given weights (no sample) of 5 data passes with every step taken
// makes 4 iterations, one report each; both counts stay 0, run after run.
TEST(MlpTraining, BatchGradientDescentLeavesTheIterationCountsAsTheyWere) {
  auto m = MakeModel(kContinuousTarget, 100, 0);
  MLPSettings s = m->settings;
  s.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kBatch);
  s.SetMaxNDataPasses(5);
  s.SetEtaInit(1e-4);
  s.SetAlpha(0.0);
  s.SetMinRelativeChangeError(0.0);
  s.SetMinErrorRatio(0.0);
  s.SetGradientNormLimit(0.0);
  s.SetNSkippedReports(0);
  FunctionListener listener([](VXCommon_1_2::ProgressReport&) {});
  s.SetProgressListener(&listener);
  std::valarray<double> weights(0.01,
                                static_cast<std::size_t>(m->Mlp().GetNetwork()->GetNumWeights()));
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> given(
      factory.CreateNeuralAlgorithm(s, m->list, *m->train, nullptr, &weights));
  ASSERT_TRUE(given) << factory.GetStatus();
  auto& a = dynamic_cast<MLPAlgorithm&>(*given);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(a.Train(100, -1), VXStatus());
    EXPECT_EQ(a.GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
    EXPECT_EQ(
        (Ints{listener.fReports, a.GetOptimizer()->GetNDataPasses(), a.GetNumberOfDataPasses()}),
        (Ints{4 * run, 5, 5 * run}));
    EXPECT_EQ((Ints{a.GetOptimizer()->GetNIterations(), a.GetNumberOfIterations()}), (Ints{0, 0}));
  }
}

// A list with the target first and one with it between the inputs: a
// record of the inputs alone, in list order, scores exactly as the network
// scores the input units of the training encoding of the same values (by a
// preparator of the model's list and settings).
TEST(MlpScoring, ScoringRecordsHoldTheInputsAloneWhereverTheTargetStands) {
  const std::vector<Record> raw = MakeRecords(120, 3);
  for (const std::vector<int>& order : {std::vector<int>{kY, kX, kC, kV}, {kX, kC, kY, kZ, kV}}) {
    SCOPED_TRACE(order.size());
    NNVarList list;
    for (const int field : order) {
      const Moments mo = MomentsOf(raw, field);
      switch (field) {
        case kC:
        case kY:
          list.AddCatVar(
              field == kC ? "c" : "y", "", field == kC ? 3 : 2, INNVariable::kNumericCategorical,
              field == kC ? INNVariable::kInput : INNVariable::kOutput, INNVariable::kInteger);
          break;
        default:
          list.AddContVar(field == kX   ? "x"
                          : field == kV ? "v"
                                        : "z",
                          "", mo.min, mo.max, mo.mean, mo.variance,
                          field == kZ ? INNVariable::kUnused : INNVariable::kInput,
                          INNVariable::kReal);
      }
    }
    std::vector<Record> records;
    for (const Record& r : raw) {
      std::vector<double> fields;
      for (const int field : order) fields.push_back(r[field]);
      records.emplace_back(fields);
    }
    MLPSettings s(list, 120);
    s.SetNumHiddenUnits(3, 1);
    s.SetMaxNDataPasses(10);
    s.SetRandomSeed(7);
    VectorRecordIter train(records);
    MLPFactory factory;
    std::unique_ptr<INeuralAlgorithm> a(
        factory.CreateNeuralAlgorithm(s, list, train, nullptr, nullptr));
    ASSERT_TRUE(a) << factory.GetStatus();
    ASSERT_EQ(a->Train(120, -1), VXStatus());
    const auto& mlp = dynamic_cast<const MLPAlgorithm&>(*a);
    NNetwork twin(mlp.GetMLPSettings());
    std::valarray<double> w;
    mlp.GetNetwork()->GetWeights(w);
    twin.SetWeights(w);
    NNDataPreparator p(list, mlp.GetMLPSettings(), nullptr, nullptr);
    for (std::size_t i = 0; i < 20; ++i) {
      Record encoded, out;
      ASSERT_EQ(p.EncodeRecord(records[i], encoded), VXStatus());
      std::vector<double> expected(static_cast<std::size_t>(twin.GetNumOutputs()));
      VXStatus status;
      twin.Score(status, encoded.GetAll(), expected.data());
      ASSERT_EQ(a->Score(InputsOf(raw[i]), out), VXStatus()) << i;
      EXPECT_EQ(std::vector<double>(out.GetAll(), out.GetAll() + out.Size()), expected) << i;
    }
  }
}

// Raw records scored, measured and counted by the algorithm agree with the
// network's own passes over the records encoded by hand: the algorithm's
// encoding of inputs and targets, its decoding of the outputs, its error and
// accuracy.
class MlpHandComputation : public testing::TestWithParam<Targets> {};

TEST_P(MlpHandComputation, ErrorAccuracyAndPredictionsMatch) {
  const Targets targets = GetParam();
  auto m = MakeModel(targets, 150, 50);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  NNetwork twin(a.GetMLPSettings());
  std::valarray<double> w;
  a.GetNetwork()->GetWeights(w);
  twin.SetWeights(w);
  const Moments z = MomentsOf(m->trainRecords, kZ);
  VXStatus status;
  int hits = 0;
  for (const Record& r : m->testRecords) {
    std::vector<double> o(static_cast<std::size_t>(twin.GetNumOutputs()));
    twin.Score(status, EncodeInputsByHand(m->trainRecords, r).data(), o.data());
    if (targets == kCategoricalTarget) hits += (o[1] > o[0]) == (r[kY] == 1.0);
    const NNOutputList& list = a.Score(InputsOf(r));
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
  VectorRecordIter encoded(EncodeByHand(m->trainRecords, m->testRecords, targets));
  int read = 0;
  twin.ResetDerivatives();
  twin.ProcessRecords(status, encoded, 1000, read, true, false);
  VectorRecordIter test(m->testRecords);
  const double measured = a.GetErrorOnData(test, 1000);
  EXPECT_NEAR(measured, twin.GetAccumError(), 1e-9 * measured);
  EXPECT_EQ(a.GetStatus(), VXStatus());
  if (targets == kCategoricalTarget) {
    EXPECT_NEAR(a.GetAccuracy(), 100.0 * hits / m->testRecords.size(), 1e-9);
  }
  // At most n records are measured.
  test.Rewind();
  EXPECT_LT(a.GetErrorOnData(test, 10), measured);
}

INSTANTIATE_TEST_SUITE_P(MlpTargets, MlpHandComputation,
                         testing::Values(kCategoricalTarget, kContinuousTarget, kBothTargets));

TEST(StateTable, EveryStateOfBothDriversAnswersEveryOperationAsTheTableSays) {
  for (bool rbf : {false, true}) {
    SCOPED_TRACE(rbf ? "RBF" : "MLP");
    AnyModel m = MakeAny(rbf, kCategoricalTarget, 80, 20, {});
    ASSERT_TRUE(m.Algorithm());
    ExpectStateTable(dynamic_cast<NeuralAlgorithmBase&>(*m.Algorithm()), m.Records(false),
                     EncodeByHand(m.Records(false), m.Records(false), kCategoricalTarget));
  }
}

TEST(MlpStates, AnAlgorithmWithoutAnOptimizerIsInTheFailedRestartState) {
  auto m = MakeModel(kCategoricalTarget, 80, 20);
  VectorRecordIter train(EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
  MLPAlgorithm a(WithoutOptimizer(m->settings), train, nullptr);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  ExpectStatus(a.GetStatus(), 50001);
  EXPECT_EQ(a.GetOptimizer(), nullptr);
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
  EXPECT_TRUE(empty.Score(InputsOf(m->trainRecords[0])).IsMissing());
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
  Record missingInput = InputsOf(m->trainRecords[0]);
  missingInput[kV] = kMissing;
  EXPECT_TRUE(a.Score(missingInput).IsMissing());
  ExpectStatus(a.GetStatus(), 50018);
  ExpectGated(a, m->trainRecords);
  Record out;
  EXPECT_EQ(a.Score(InputsOf(m->trainRecords[1]), out), a.GetStatus());
  EXPECT_EQ(out.Size(), 0);

  // Scoring has no gate: a good record stores OK again and work resumes.
  EXPECT_FALSE(a.Score(InputsOf(m->trainRecords[1])).IsMissing());
  EXPECT_EQ(a.GetStatus(), VXStatus());
  EXPECT_TRUE(a.Train(80, -1).IsOK());
}

}  // namespace
