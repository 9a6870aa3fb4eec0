// Settings: derived defaults (hidden units, weights, mini-batch size,
// data-pass limit) worked out by hand, and the setters' acceptance rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/variables/NNVarList.h"

using namespace VXNNCommon;

namespace {

// Lists of values checked against lists of expected ones, in order.
using Ints = std::vector<int>;

// 10 inputs, one 3-category target, 1000 records: the worked example.
MLPSettings TenInputsThreeClasses() { return MLPSettings(10, {3}, 1000); }
// 4 inputs, one continuous target, 1000 records.
MLPSettings FourInputsContinuous() { return MLPSettings(4, {1}, 1000); }

// Hidden units, weights, hidden and output activations.
template <typename Settings>
Ints Shape(const Settings& s) {
  return {s.GetNumHiddenUnits(1), s.GetNWeights(), s.GetActivFnHiddenLayer(),
          s.GetActivFnOutputLayer()};
}

}  // namespace

TEST(MLPSettingsDefaults, TenInputsThreeCategories) {
  MLPSettings s = TenInputsThreeClasses();
  // 3 output units < 5 and 10 inputs >= 8: trunc(sqrt(13) + 4.5) = 8 hidden
  // units; the record limit trunc(997 / 14) = 71 does not bind. 11 * 8 + 9 *
  // 3 = 115 weights, a mini-batch of min(2 * 115, 1000, 1000), at most
  // max(100, 2 * 115 + 1) data passes.
  EXPECT_EQ((Ints{s.GetAlgorithmType(), s.GetNumInputs(), s.GetNumOutVars(), s.GetNumOutUnits(),
                  s.GetNumHiddenLayers(), s.GetMiniBatchSize(), s.GetMaxNDataPasses()}),
            (Ints{kMLP, 10, 1, 3, 1, 230, 231}));
  EXPECT_EQ(Shape(s), (Ints{8, 115, kTanH, kSoftMax}));
  EXPECT_EQ((Ints{s.GetTrainType(), s.GetUpdateType(), s.GetTrainingMethod()}),
            (Ints{kBatch, kMiniBatch, kScaledConjugateGradient}));
  EXPECT_FALSE(s.GetUserSetNHidUnits() || s.GetUserSetMiniBatchSize() ||
               s.GetStopRules()->GetMaxNDataPassesSet());
}

TEST(MLPSettingsDefaults, HiddenUnitRulesAndOutputs) {
  // Few outputs but fewer than 8 inputs: (4 + 1 + 1) / 2 = 3; continuous
  // target, so Identity outputs; 5 * 3 + 4 * 1 = 19 weights; data passes
  // stay at the floor of 100.
  MLPSettings cont = FourInputsContinuous();
  EXPECT_EQ(Shape(cont), (Ints{3, 19, kTanH, kIdentity}));
  EXPECT_EQ(cont.GetMiniBatchSize(), 38);
  EXPECT_EQ(cont.GetMaxNDataPasses(), 100);
  // trunc(sqrt(32) + 4.5) = 10; trunc(18 / 33) = 0 is below 1 and ignored.
  EXPECT_EQ(MLPSettings(30, {2}, 20).GetNumHiddenUnits(1), 10);
  // trunc(47 / 14) = 3 is below 8 and binds.
  EXPECT_EQ(MLPSettings(10, {3}, 50).GetNumHiddenUnits(1), 3);
  // (60 + 5 + 1) / 2 = 33, capped at 20 (5 output units is not "few").
  EXPECT_EQ(MLPSettings(60, {5}, 0).GetNumHiddenUnits(1), 20);
  // No records: no record limit.
  EXPECT_EQ(MLPSettings(10, {3}, 0).GetNumHiddenUnits(1), 8);
  // SoftMax only when every target is categorical.
  EXPECT_EQ(MLPSettings(5, {2, 3}, 100).GetActivFnOutputLayer(), kSoftMax);
  EXPECT_EQ(MLPSettings(5, {2, 1}, 100).GetActivFnOutputLayer(), kIdentity);
  EXPECT_EQ(MLPSettings(5, {2, 3}, 100).GetNumOutUnits(), 5);

  // From a variable list: the same shape as from counts, apart from the
  // list flag.
  NNVarList list;
  list.AddContVar("x", "", 0, 1, 0.5, 0.1, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("y", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  MLPSettings s(list, 200);
  EXPECT_TRUE(s.GetHasVarList());
  EXPECT_TRUE(s == MLPSettings(5, {3}, 200));
  EXPECT_EQ(Shape(s), Shape(MLPSettings(5, {3}, 200)));
  EXPECT_TRUE(RBFSettings(list, 200).GetHasVarList());
  EXPECT_EQ(RBFSettings(list, 200).GetNumInputs(), 5);
}

TEST(RBFSettingsTest, DefaultsAndSetters) {
  RBFSettings s(4, {1, 3}, 100);
  // (4 + 4 + 1) / 2 centres; normalized bases need no bias: 4 outputs * 4.
  EXPECT_EQ(Shape(s), (Ints{4, 16, kNormalizedRadialBasis, kIdentity}));
  EXPECT_EQ((Ints{s.GetAlgorithmType(), s.GetNumOutUnits(), s.GetMinNHiddenUnits(),
                  s.GetMaxNHiddenUnits()}),
            (Ints{kRBF, 4, 1, -1}));
  EXPECT_DOUBLE_EQ(s.GetOverlapFactor(), 1.4);
  EXPECT_TRUE(s.GetExpertOneDataPass());
  EXPECT_EQ(s.GetRandomWeightRangeLo(), VXMV::gMissingValue);
  EXPECT_EQ(Shape(RBFSettings()), (Ints{-1, 0, kNormalizedRadialBasis, kIdentity}));

  // Always layer 1, whatever layer is named.
  s.SetNumHiddenUnits(7, 3);
  EXPECT_TRUE(s.GetUserSetNHidUnits());
  EXPECT_EQ(Shape(s), (Ints{7, 28, kNormalizedRadialBasis, kIdentity}));
  // Radial bases only; the output activation cannot be changed, not even
  // through the base interface.
  s.SetActivFnHiddenLayer(kTanH);
  static_cast<NeuralSettings&>(s).SetActivFnOutputLayer(kSigmoid);
  EXPECT_EQ(Shape(s), (Ints{7, 28, kNormalizedRadialBasis, kIdentity}));
  s.SetActivFnHiddenLayer(kRadialBasis);
  s.ComputeNWeights();
  // Plain bases carry a bias: (7 + 1) * 4.
  EXPECT_EQ(Shape(s), (Ints{7, 32, kRadialBasis, kIdentity}));
  EXPECT_EQ(s.GetStandOutputs(), kMeanStdDev);
}

TEST(MLPSettingsSetters, TrainingMethodTypeAndUpdateType) {
  MLPSettings s = TenInputsThreeClasses();
  // Each step: method, type asked for; then method, type, update type and
  // mini-batch size that result.
  const struct {
    int method, type;
    Ints want;
  } steps[] = {
      // Scaled conjugate gradient works on whole passes only.
      {kScaledConjugateGradient, kOnline, {kScaledConjugateGradient, kBatch, kMiniBatch, 230}},
      {kGradientDescent, kOnline, {kGradientDescent, kOnline, kOnline, 0}},
      // A tenth of the records, rounded up.
      {kGradientDescent, kMiniBatch, {kGradientDescent, kMiniBatch, kMiniBatch, 100}},
      // Back to batch from online: the update type becomes MiniBatch.
      {kGradientDescent, kOnline, {kGradientDescent, kOnline, kOnline, 0}},
      {kGradientDescent, kBatch, {kGradientDescent, kBatch, kMiniBatch, 230}},
      // Linear regression needs a network without hidden layer.
      {kLinearRegression, kBatch, {kGradientDescent, kBatch, kMiniBatch, 230}},
  };
  for (const auto& step : steps) {
    s.SetTrainingMethodAndType(static_cast<MLPTrainingMethod>(step.method),
                               static_cast<TrainingType>(step.type));
    EXPECT_EQ(
        (Ints{s.GetTrainingMethod(), s.GetTrainType(), s.GetUpdateType(), s.GetMiniBatchSize()}),
        step.want);
  }
  MLPSettings odd(10, {3}, 1001);
  odd.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  EXPECT_EQ(odd.GetMiniBatchSize(), 101);

  // Updates are never online; batch updates only for batch training.
  MLPSettings u = TenInputsThreeClasses();
  u.SetUpdateType(kOnline);
  EXPECT_EQ(u.GetUpdateType(), kMiniBatch);
  u.SetUpdateType(kBatch);
  EXPECT_EQ(u.GetUpdateType(), kBatch);
  u.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  u.SetUpdateType(kBatch);
  EXPECT_EQ(u.GetUpdateType(), kMiniBatch);
}

TEST(MLPSettingsSetters, MiniBatchSizeBounds) {
  MLPSettings s = TenInputsThreeClasses();
  s.SetMiniBatchSize(1);
  s.SetMiniBatchSize(1001);  // records in memory + 1
  EXPECT_EQ(s.GetMiniBatchSize(), 230);
  EXPECT_FALSE(s.GetUserSetMiniBatchSize());
  s.SetMiniBatchSize(2);
  EXPECT_EQ(s.GetMiniBatchSize(), 2);
  EXPECT_TRUE(s.GetUserSetMiniBatchSize());
  s.SetMiniBatchSize(1000);
  // A user-set size is not recomputed by later changes...
  s.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  EXPECT_EQ(s.GetMiniBatchSize(), 1000);
  // ...but never exceeds memory or the records.
  s.SetMaxRecordsInMemory(300);
  EXPECT_EQ(s.GetMiniBatchSize(), 300);
  s.SetNTrainRecords(120);
  EXPECT_EQ(s.GetMiniBatchSize(), 120);
  s.SetMiniBatchSize(121);
  EXPECT_EQ(s.GetMiniBatchSize(), 120);
  // SetDefaults forgets the user's choice; the size is derived while the
  // training type is still MiniBatch (a tenth of 120, rounded up), before
  // SetDefaults returns it to Batch.
  s.SetDefaults();
  EXPECT_FALSE(s.GetUserSetMiniBatchSize());
  EXPECT_EQ(s.GetMiniBatchSize(), 12);
  EXPECT_EQ(s.GetTrainType(), kBatch);
}

TEST(MLPSettingsSetters, ActivationsAndStandardization) {
  MLPSettings cont = FourInputsContinuous();
  testing::internal::CaptureStderr();
  cont.SetActivFnOutputLayer(kSoftMax);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning! Not all output variables are categorical.\n"
            "Softmax activation will not be used.\n\n");
  EXPECT_EQ(cont.GetActivFnOutputLayer(), kIdentity);
  cont.SetActivFnOutputLayer(kSigmoid);
  EXPECT_EQ(cont.GetActivFnOutputLayer(), kSigmoid);
  EXPECT_EQ(cont.GetStandOutputs(), kMinRange);
  // Sigmoid outputs lie in (0, 1): targets scaled otherwise are refused.
  EXPECT_FALSE(cont.SetStandOutputs(kMeanStdDev));
  EXPECT_FALSE(cont.SetStandOutputs(kMinRangeSymmetric));
  EXPECT_EQ(cont.GetStandOutputs(), kMinRange);
  EXPECT_TRUE(cont.SetStandOutputs(kNoStandardization));
  cont.SetActivFnOutputLayer(kTanH);
  EXPECT_EQ(cont.GetStandOutputs(), kMinRangeSymmetric);
  EXPECT_TRUE(cont.SetStandOutputs(kMeanStdDev));
  // The current activation again changes nothing, not even the scaling.
  cont.SetActivFnOutputLayer(kTanH);
  EXPECT_EQ(cont.GetStandOutputs(), kMeanStdDev);

  MLPSettings cat = TenInputsThreeClasses();
  cat.SetActivFnOutputLayer(kIdentity);
  cat.SetActivFnOutputLayer(kSoftMax);
  EXPECT_EQ(cat.GetActivFnOutputLayer(), kSoftMax);
  // Identity with a hidden layer keeps the training method.
  cat.SetActivFnOutputLayer(kIdentity);
  EXPECT_EQ(cat.GetTrainingMethod(), kScaledConjugateGradient);
  // Hidden layers take sigmoid or tanh only.
  for (ActivationFunction f : {kSigmoid, kRadialBasis, kIdentity, kSoftMax})
    cat.SetActivFnHiddenLayer(f);
  EXPECT_EQ(cat.GetActivFnHiddenLayer(), kSigmoid);
}

TEST(MLPSettingsSetters, HiddenUnitsAndLayers) {
  MLPSettings s = TenInputsThreeClasses();
  EXPECT_EQ(s.GetNumHiddenUnits(2), -1);
  EXPECT_EQ(s.GetNumHiddenUnits(0), -1);
  s.SetNumHiddenUnits(20, 1);
  EXPECT_TRUE(s.GetUserSetNHidUnits());
  // 11 * 20 + 21 * 3 = 283.
  EXPECT_EQ((Ints{s.GetNWeights(), s.GetMiniBatchSize(), s.GetMaxNDataPasses()}),
            (Ints{283, 566, 567}));
  // A limit the user set stays put; a layer that does not exist is not
  // stored.
  s.SetMaxNDataPasses(50);
  s.SetNumHiddenUnits(30, 1);
  s.SetNumHiddenUnits(5, 2);
  EXPECT_EQ((Ints{s.GetNumHiddenUnits(1), s.GetNumHiddenUnits(2), s.GetNWeights(),
                  s.GetMaxNDataPasses()}),
            (Ints{30, -1, 11 * 30 + 31 * 3, 50}));
  // SetDefaults clears the user's limit and derives it again.
  s.SetDefaults();
  EXPECT_FALSE(s.GetStopRules()->GetMaxNDataPassesSet());
  EXPECT_EQ(s.GetMaxNDataPasses(), 2 * (11 * 30 + 31 * 3) + 1);

  // A second layer of three quarters of 8; the weight count is left for
  // SetNumHiddenUnits: 11 * 8 + 9 * 6 + 7 * 3.
  MLPSettings two = TenInputsThreeClasses();
  two.SetNumHiddenLayers(2);
  EXPECT_EQ((Ints{two.GetNumHiddenUnits(2), two.GetNWeights()}), (Ints{6, 115}));
  two.SetNumHiddenUnits(6, 2);
  EXPECT_EQ((Ints{two.GetNWeights(), two.GetMaxNDataPasses()}), (Ints{163, 327}));

  // No hidden layer: linear regression, and a hidden layer takes it away
  // again.
  MLPSettings lin = FourInputsContinuous();
  lin.SetNumHiddenLayers(0);
  lin.ComputeNWeights();
  EXPECT_EQ((Ints{lin.GetNumHiddenUnits(1), lin.GetTrainingMethod(), lin.GetNWeights()}),
            (Ints{-1, kLinearRegression, 5}));
  lin.SetNumHiddenLayers(1);
  EXPECT_EQ(lin.GetNumHiddenUnits(1), 3);
  EXPECT_EQ(lin.GetTrainingMethod(), kScaledConjugateGradient);
  lin.SetNumHiddenLayers(0);
  lin.SetTrainingMethodAndType(kLinearRegression, kOnline);
  EXPECT_EQ(lin.GetTrainType(), kOnline);
  lin.SetNumHiddenLayers(1);
  EXPECT_EQ(lin.GetTrainingMethod(), kGradientDescent);
  // Identity outputs straight on the inputs select linear regression.
  MLPSettings direct = FourInputsContinuous();
  direct.SetActivFnOutputLayer(kSigmoid);
  direct.SetNumHiddenLayers(0);
  EXPECT_EQ(direct.GetTrainingMethod(), kScaledConjugateGradient);
  direct.SetActivFnOutputLayer(kIdentity);
  EXPECT_EQ(direct.GetTrainingMethod(), kLinearRegression);
}
