// The MLP driver at work: training runs and their counters and reports,
// updates, and scoring and error measurement checked against a hand
// computation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "mlp_driver_fixtures.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/algorithm/MLPStopRules.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/optim/GradientDescentMBO.h"
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
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_FALSE(a.GetReinitializeWeights());
  EXPECT_NE(a.GetStopReason(), VXNNCommon::kStoppedUndefined);
  // The sample drawn for the starting weights counts as one data pass.
  EXPECT_EQ((Ints{a.GetNumberOfDataPasses(), a.GetNumberOfIterations(), a.GetStopReason()}),
            (Ints{opt->GetNDataPasses() + 1, opt->GetNIterations(), opt->GetStopReason()}));
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
  EXPECT_EQ(a.GetNumberOfDataPasses(), passes + a.GetOptimizer()->GetNDataPasses());
  EXPECT_EQ(a.GetNumberOfIterations(), iterations + a.GetOptimizer()->GetNIterations());
  EXPECT_GT(a.GetNumberOfDataPasses(), passes);
  EXPECT_GE(a.GetElapsedTime(), elapsed);
  EXPECT_NE(before, WeightsOf(a));
}

// The report an MLP algorithm hands the host's listener during the
// architecture search, on a new algorithm; a trained algorithm's report is
// checked above, a cancelled one's and those of a search with the states.
// A continuous target over encoded records, 120 training and 40 test: (5 +
// 1) * hidden + (hidden + 1) weights.

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
  for (int i = 0; i < 10; ++i) {
    const Record& r = m->trainRecords[static_cast<std::size_t>(i)];
    const std::vector<double> p =
        ForwardByHand(w, EncodeInputsByHand(m->trainRecords, r), 3, 2, true);
    Record out;
    ASSERT_EQ(a.Score(r, out), VXStatus());
    ASSERT_EQ(out.Size(), 2);
    EXPECT_NEAR(out[0], p[0], 1e-12);
    EXPECT_NEAR(out[1], p[1], 1e-12);
  }
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

// The network's error, accuracy and predictions against a forward pass
// computed by hand from its weights on inputs encoded by hand.
class MlpHandComputation : public testing::TestWithParam<Targets> {};

TEST_P(MlpHandComputation, ErrorAccuracyAndPredictionsMatch) {
  const Targets targets = GetParam();
  auto m = MakeModel(targets, 150, 50);
  MLPAlgorithm& a = m->Mlp();
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  const std::vector<double> w = WeightsOf(a);
  const int hidden = a.GetNetwork()->GetLayer(1)->GetNumUnits();
  const bool categorical = targets == kCategoricalTarget;
  const int outputs = targets == kContinuousTarget ? 1 : targets == kCategoricalTarget ? 2 : 3;
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

}  // namespace
