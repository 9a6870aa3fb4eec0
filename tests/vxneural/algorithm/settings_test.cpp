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

const char kSoftMaxWarning[] =
    "Warning! Not all output variables are categorical.\n"
    "Softmax activation will not be used.\n\n";

// 10 inputs, one 3-category target, 1000 records: the worked example.
MLPSettings TenInputsThreeClasses() { return MLPSettings(10, {3}, 1000); }
// 4 inputs, one continuous target, 1000 records.
MLPSettings FourInputsContinuous() { return MLPSettings(4, {1}, 1000); }

}  // namespace

TEST(MLPSettingsDefaults, TenInputsThreeCategories) {
  MLPSettings s = TenInputsThreeClasses();
  EXPECT_EQ(s.GetAlgorithmType(), kMLP);
  EXPECT_EQ(s.GetNumInputs(), 10);
  EXPECT_EQ(s.GetNumOutVars(), 1);
  EXPECT_EQ(s.GetNumOutUnits(), 3);
  EXPECT_EQ(s.GetNumOutCategories(), std::vector<int>{3});
  EXPECT_EQ(s.GetNumHiddenLayers(), 1);
  // 3 output units < 5 and 10 inputs >= 8: trunc(sqrt(13) + 4.5) = 8; the
  // record limit trunc(997 / 14) = 71 does not bind.
  EXPECT_EQ(s.GetNumHiddenUnits(1), 8);
  EXPECT_FALSE(s.GetUserSetNHidUnits());
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kTanH);
  EXPECT_EQ(s.GetActivFnOutputLayer(), kSoftMax);
  // 11 * 8 + 9 * 3.
  EXPECT_EQ(s.GetNWeights(), 115);
  EXPECT_EQ(s.GetTrainType(), kBatch);
  EXPECT_EQ(s.GetUpdateType(), kMiniBatch);
  EXPECT_EQ(s.GetTrainingMethod(), kScaledConjugateGradient);
  // min(2 * 115, 1000, 1000).
  EXPECT_EQ(s.GetMiniBatchSize(), 230);
  EXPECT_FALSE(s.GetUserSetMiniBatchSize());
  // max(100, 2 * 115 + 1).
  EXPECT_EQ(s.GetMaxNDataPasses(), 231);
  EXPECT_FALSE(s.GetStopRules()->GetMaxNDataPassesSet());
}

TEST(MLPSettingsDefaults, EveryOtherFieldHasItsDocumentedDefault) {
  MLPSettings s = TenInputsThreeClasses();
  EXPECT_EQ(s.GetProgressListener(), nullptr);
  EXPECT_EQ(s.GetCancelPointer(), nullptr);
  EXPECT_EQ(s.GetTempFileNameMaker(), nullptr);
  EXPECT_EQ(s.GetNSkippedReports(), 0);
  EXPECT_EQ(s.GetStandInputs(), kMeanStdDev);
  EXPECT_EQ(s.GetStandOutputs(), kMeanStdDev);
  EXPECT_EQ(s.GetRandomSeed(), 12345u);
  EXPECT_EQ(s.GetRandomSeedSampling(), 12345u);
  EXPECT_TRUE(s.GetUsePortableRNG());
  EXPECT_EQ(s.GetMaxRecordsInMemory(), 1000);
  EXPECT_EQ(s.GetNTrainRecords(), 1000);
  EXPECT_EQ(s.GetNTestRecords(), 0);
  EXPECT_EQ(s.GetModelID(), 0);
  EXPECT_EQ(s.GetConfidenceMethod(), NeuralSettings::kConfidenceNone);
  EXPECT_FALSE(s.GetHasVarList());
  EXPECT_FALSE(s.GetListWiseDeletion());
  EXPECT_FALSE(s.GetComputeSensitivity());
  EXPECT_FALSE(s.GetOutputMEInfo());
  EXPECT_TRUE(s.GetInputXMLAsRetraining());
  EXPECT_TRUE(s.GetTempFileDir().empty());
  EXPECT_TRUE(s.GetUISettings().empty());

  EXPECT_EQ(s.GetCorrection(), 0.0);
  EXPECT_EQ(s.GetRandomWeightRangeLo(), -0.5);
  EXPECT_EQ(s.GetRandomWeightRangeHi(), 0.5);
  EXPECT_EQ(s.GetLambdaInit(), 5e-07);
  EXPECT_EQ(s.GetSigmaInit(), 5e-05);
  EXPECT_EQ(s.GetUpperDelta(), 0.75);
  EXPECT_EQ(s.GetLowerDelta(), 0.25);
  EXPECT_EQ(s.GetLambdaReduction(), 0.25);
  EXPECT_EQ(s.GetEtaInit(), 0.4);
  EXPECT_EQ(s.GetEtaLow(), 0.001);
  EXPECT_EQ(s.GetEtaHigh(), 0.15);
  EXPECT_EQ(s.GetAlpha(), 0.9);
  EXPECT_EQ(s.GetAlphaReduction(), 0.9);
  EXPECT_EQ(s.GetNEpochs(), 10.0);
  EXPECT_EQ(s.GetBetaInit(), 0.02);
  EXPECT_EQ(s.GetMinNHiddenUnits(), 1);
  EXPECT_EQ(s.GetMaxNHiddenUnits(), 50);

  EXPECT_EQ(s.GetMinRelativeChangeError(), 0.0001);
  EXPECT_EQ(s.GetMinErrorRatio(), 0.001);
  EXPECT_EQ(s.GetGradientNormLimit(), 1e-06);
  EXPECT_EQ(s.GetAccuracy(), 100.0);
  EXPECT_EQ(s.GetMaxNStepsTrackError(), 5);
  EXPECT_EQ(s.GetMaxTime(), 600.0);
  EXPECT_FALSE(s.GetCheckTrainErrVerifyingCycle());
  EXPECT_EQ(s.GetTimeForExpertArch(), 600.0);
}

TEST(MLPSettingsDefaults, HiddenUnitRules) {
  // Few outputs but fewer than 8 inputs: (4 + 1 + 1) / 2 = 3; continuous
  // target, so Identity outputs.
  MLPSettings cont = FourInputsContinuous();
  EXPECT_EQ(cont.GetNumHiddenUnits(1), 3);
  EXPECT_EQ(cont.GetActivFnOutputLayer(), kIdentity);
  // 5 * 3 + 4 * 1 = 19 weights; data passes stay at the floor of 100.
  EXPECT_EQ(cont.GetNWeights(), 19);
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
}

TEST(MLPSettingsDefaults, OutputActivationFollowsTheTargets) {
  EXPECT_EQ(MLPSettings(5, {2, 3}, 100).GetActivFnOutputLayer(), kSoftMax);
  EXPECT_EQ(MLPSettings(5, {2, 1}, 100).GetActivFnOutputLayer(), kIdentity);
  MLPSettings two(5, {2, 3}, 100);
  EXPECT_EQ(two.GetNumOutVars(), 2);
  EXPECT_EQ(two.GetNumOutUnits(), 5);
  EXPECT_EQ(two.GetNOutCats(), (std::vector<int>{2, 3}));
}

TEST(MLPSettingsDefaults, FromVariableList) {
  NNVarList list;
  list.AddContVar("x", "", 0, 1, 0.5, 0.1, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("y", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  MLPSettings s(list, 200);
  EXPECT_TRUE(s.GetHasVarList());
  EXPECT_EQ(s.GetNumInputs(), 5);
  EXPECT_EQ(s.GetNumOutCategories(), std::vector<int>{3});
  EXPECT_EQ(s.GetActivFnOutputLayer(), kSoftMax);
  // Same shape from counts, apart from the list flag.
  MLPSettings counted(5, {3}, 200);
  EXPECT_TRUE(s == counted);
  EXPECT_EQ(s.GetNWeights(), counted.GetNWeights());

  RBFSettings r(list, 200);
  EXPECT_TRUE(r.GetHasVarList());
  EXPECT_EQ(r.GetNumInputs(), 5);
}

TEST(MLPSettingsDefaults, DefaultConstructedIsEmpty) {
  MLPSettings s;
  EXPECT_EQ(s.GetAlgorithmType(), kMLP);
  EXPECT_EQ(s.GetNumHiddenLayers(), 0);
  EXPECT_EQ(s.GetNumHiddenUnits(1), -1);
  EXPECT_EQ(s.GetNumInputs(), 0);
  EXPECT_EQ(s.GetNWeights(), 0);
  EXPECT_EQ(s.GetMaxNDataPasses(), 100);
  bool useDefault = false;
  std::string name = "unchanged";
  EXPECT_TRUE(s.GetModelName(useDefault, name));
  EXPECT_TRUE(useDefault);
  EXPECT_TRUE(s.GetInputXMLAsRetraining());

  NeuralSettings base;
  EXPECT_EQ(base.GetAlgorithmType(), kUnknownAlgorithm);
  EXPECT_EQ(base.GetRandomWeightRangeLo(), VXMV::gMissingValue);
  EXPECT_EQ(base.GetRandomWeightRangeHi(), VXMV::gMissingValue);
  EXPECT_EQ(base.GetMaxRecordsInMemory(), 0);
  EXPECT_EQ(base.GetRandomSeed(), 0u);
}

TEST(NeuralSettingsDefaults, UnknownAlgorithmType) {
  NeuralSettings s(kUnknownAlgorithm, 3, {2}, 10);
  EXPECT_EQ(s.GetNumHiddenUnits(1), -1);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kIdentity);
  EXPECT_EQ(s.GetActivFnOutputLayer(), kIdentity);
  // Only MLP settings change their output activation.
  s.SetActivFnOutputLayer(kSigmoid);
  EXPECT_EQ(s.GetActivFnOutputLayer(), kIdentity);
  s.SetActivFnHiddenLayer(kTanH);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kIdentity);
}

TEST(RBFSettingsDefaults, CountedConstructor) {
  RBFSettings s(4, {1, 3}, 100);
  EXPECT_EQ(s.GetAlgorithmType(), kRBF);
  EXPECT_EQ(s.GetNumOutUnits(), 4);
  // (4 + 4 + 1) / 2.
  EXPECT_EQ(s.GetNumHiddenUnits(1), 4);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kNormalizedRadialBasis);
  EXPECT_EQ(s.GetActivFnOutputLayer(), kIdentity);
  EXPECT_DOUBLE_EQ(s.GetOverlapFactor(), 1.4);
  EXPECT_EQ(s.GetMinNHiddenUnits(), 1);
  EXPECT_EQ(s.GetMaxNHiddenUnits(), -1);
  EXPECT_TRUE(s.GetExpertOneDataPass());
  // Normalized bases need no bias: 4 outputs * 4 centres.
  EXPECT_EQ(s.GetNWeights(), 16);
  EXPECT_EQ(s.GetRandomWeightRangeLo(), VXMV::gMissingValue);

  RBFSettings empty;
  EXPECT_EQ(empty.GetAlgorithmType(), kRBF);
  EXPECT_EQ(empty.GetActivFnHiddenLayer(), kNormalizedRadialBasis);
  EXPECT_EQ(empty.GetActivFnOutputLayer(), kIdentity);
  EXPECT_TRUE(empty.GetExpertOneDataPass());
}

TEST(RBFSettingsSetters, HiddenUnitsActivationsAndWeights) {
  RBFSettings s(4, {1, 3}, 100);
  // Always layer 1, whatever layer is named.
  s.SetNumHiddenUnits(7, 3);
  EXPECT_EQ(s.GetNumHiddenUnits(1), 7);
  EXPECT_TRUE(s.GetUserSetNHidUnits());
  EXPECT_EQ(s.GetNWeights(), 28);
  s.SetActivFnHiddenLayer(kTanH);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kNormalizedRadialBasis);
  s.SetActivFnHiddenLayer(kRadialBasis);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kRadialBasis);
  s.ComputeNWeights();
  // Plain bases carry a bias: (7 + 1) * 4.
  EXPECT_EQ(s.GetNWeights(), 32);
  // The output activation of an RBF network cannot be changed, not even
  // through the base interface.
  NeuralSettings& base = s;
  base.SetActivFnOutputLayer(kSigmoid);
  EXPECT_EQ(s.GetActivFnOutputLayer(), kIdentity);
  EXPECT_EQ(s.GetStandOutputs(), kMeanStdDev);
}

TEST(MLPSettingsSetters, TrainingMethodAndType) {
  MLPSettings s = TenInputsThreeClasses();
  // Scaled conjugate gradient works on whole passes only.
  s.SetTrainingMethodAndType(kScaledConjugateGradient, kOnline);
  EXPECT_EQ(s.GetTrainingMethod(), kScaledConjugateGradient);
  EXPECT_EQ(s.GetTrainType(), kBatch);
  EXPECT_EQ(s.GetUpdateType(), kMiniBatch);
  EXPECT_EQ(s.GetMiniBatchSize(), 230);

  s.SetTrainingMethodAndType(kGradientDescent, kOnline);
  EXPECT_EQ(s.GetTrainingMethod(), kGradientDescent);
  EXPECT_EQ(s.GetTrainType(), kOnline);
  EXPECT_EQ(s.GetUpdateType(), kOnline);
  EXPECT_EQ(s.GetMiniBatchSize(), 0);

  // A tenth of the records, rounded up.
  s.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  EXPECT_EQ(s.GetUpdateType(), kMiniBatch);
  EXPECT_EQ(s.GetMiniBatchSize(), 100);
  MLPSettings odd(10, {3}, 1001);
  odd.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  EXPECT_EQ(odd.GetMiniBatchSize(), 101);

  // Back to batch: an Online update type would be left over, it becomes
  // MiniBatch.
  s.SetTrainingMethodAndType(kGradientDescent, kOnline);
  s.SetTrainingMethodAndType(kGradientDescent, kBatch);
  EXPECT_EQ(s.GetTrainType(), kBatch);
  EXPECT_EQ(s.GetUpdateType(), kMiniBatch);
  EXPECT_EQ(s.GetMiniBatchSize(), 230);

  // Linear regression needs a network without hidden layer.
  s.SetTrainingMethodAndType(kLinearRegression, kBatch);
  EXPECT_EQ(s.GetTrainingMethod(), kGradientDescent);
}

TEST(MLPSettingsSetters, UpdateType) {
  MLPSettings s = TenInputsThreeClasses();
  s.SetUpdateType(kOnline);
  EXPECT_EQ(s.GetUpdateType(), kMiniBatch);
  s.SetUpdateType(kBatch);
  EXPECT_EQ(s.GetUpdateType(), kBatch);
  s.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  s.SetUpdateType(kBatch);
  EXPECT_EQ(s.GetUpdateType(), kMiniBatch);
}

TEST(MLPSettingsSetters, MiniBatchSizeBounds) {
  MLPSettings s = TenInputsThreeClasses();
  s.SetMiniBatchSize(1);
  EXPECT_EQ(s.GetMiniBatchSize(), 230);
  s.SetMiniBatchSize(1001);  // records in memory + 1
  EXPECT_EQ(s.GetMiniBatchSize(), 230);
  EXPECT_FALSE(s.GetUserSetMiniBatchSize());
  s.SetMiniBatchSize(2);
  EXPECT_EQ(s.GetMiniBatchSize(), 2);
  EXPECT_TRUE(s.GetUserSetMiniBatchSize());
  s.SetMiniBatchSize(1000);
  EXPECT_EQ(s.GetMiniBatchSize(), 1000);
  // A user-set size is not recomputed by later changes...
  s.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  EXPECT_EQ(s.GetMiniBatchSize(), 1000);
  // ...but never exceeds memory or the records.
  s.SetMaxRecordsInMemory(300);
  EXPECT_EQ(s.GetMaxRecordsInMemory(), 300);
  EXPECT_EQ(s.GetMiniBatchSize(), 300);
  s.SetNTrainRecords(120);
  EXPECT_EQ(s.GetNTrainRecords(), 120);
  EXPECT_EQ(s.GetMiniBatchSize(), 120);
  s.SetMiniBatchSize(121);
  EXPECT_EQ(s.GetMiniBatchSize(), 120);
  // SetDefaults forgets the user's choice.
  s.SetDefaults();
  EXPECT_FALSE(s.GetUserSetMiniBatchSize());
  // Derived while the training type is still MiniBatch (a tenth of 120,
  // rounded up), before SetDefaults returns it to Batch.
  EXPECT_EQ(s.GetMiniBatchSize(), 12);
  EXPECT_EQ(s.GetTrainType(), kBatch);
}

TEST(MLPSettingsSetters, OutputActivationAndStandardization) {
  MLPSettings cont = FourInputsContinuous();
  testing::internal::CaptureStderr();
  cont.SetActivFnOutputLayer(kSoftMax);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kSoftMaxWarning);
  EXPECT_EQ(cont.GetActivFnOutputLayer(), kIdentity);

  cont.SetActivFnOutputLayer(kSigmoid);
  EXPECT_EQ(cont.GetActivFnOutputLayer(), kSigmoid);
  EXPECT_EQ(cont.GetStandOutputs(), kMinRange);
  // Sigmoid outputs lie in (0, 1): targets scaled otherwise are refused.
  EXPECT_FALSE(cont.SetStandOutputs(kMeanStdDev));
  EXPECT_FALSE(cont.SetStandOutputs(kMinRangeSymmetric));
  EXPECT_EQ(cont.GetStandOutputs(), kMinRange);
  EXPECT_TRUE(cont.SetStandOutputs(kNoStandardization));
  EXPECT_EQ(cont.GetStandOutputs(), kNoStandardization);

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
}

TEST(MLPSettingsSetters, HiddenActivation) {
  MLPSettings s = TenInputsThreeClasses();
  s.SetActivFnHiddenLayer(kSigmoid);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kSigmoid);
  s.SetActivFnHiddenLayer(kRadialBasis);
  s.SetActivFnHiddenLayer(kIdentity);
  s.SetActivFnHiddenLayer(kSoftMax);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), kSigmoid);
}

TEST(MLPSettingsSetters, HiddenUnitsRecomputeWeightsAndLimits) {
  MLPSettings s = TenInputsThreeClasses();
  EXPECT_EQ(s.GetNumHiddenUnits(2), -1);
  EXPECT_EQ(s.GetNumHiddenUnits(0), -1);
  s.SetNumHiddenUnits(20, 1);
  EXPECT_TRUE(s.GetUserSetNHidUnits());
  // 11 * 20 + 21 * 3 = 283.
  EXPECT_EQ(s.GetNWeights(), 283);
  EXPECT_EQ(s.GetMiniBatchSize(), 566);
  EXPECT_EQ(s.GetMaxNDataPasses(), 567);

  // A limit the user set stays put.
  s.SetMaxNDataPasses(50);
  EXPECT_TRUE(s.GetStopRules()->GetMaxNDataPassesSet());
  s.SetNumHiddenUnits(30, 1);
  EXPECT_EQ(s.GetNWeights(), 11 * 30 + 31 * 3);
  EXPECT_EQ(s.GetMaxNDataPasses(), 50);
  // A layer that does not exist is not stored.
  s.SetNumHiddenUnits(5, 2);
  EXPECT_EQ(s.GetNumHiddenUnits(2), -1);
  EXPECT_EQ(s.GetNumHiddenUnits(1), 30);
  // SetDefaults clears the user's limit and derives it again.
  s.SetDefaults();
  EXPECT_FALSE(s.GetStopRules()->GetMaxNDataPassesSet());
  EXPECT_EQ(s.GetMaxNDataPasses(), 2 * (11 * 30 + 31 * 3) + 1);
}

TEST(MLPSettingsSetters, HiddenLayers) {
  MLPSettings s = TenInputsThreeClasses();
  s.SetNumHiddenLayers(2);
  EXPECT_EQ(s.GetNumHiddenLayers(), 2);
  EXPECT_EQ(s.GetNumHiddenUnits(1), 8);
  // Three quarters of 8.
  EXPECT_EQ(s.GetNumHiddenUnits(2), 6);
  // The weight count is left for SetNumHiddenUnits to recompute.
  EXPECT_EQ(s.GetNWeights(), 115);
  s.SetNumHiddenUnits(6, 2);
  // 11 * 8 + 9 * 6 + 7 * 3.
  EXPECT_EQ(s.GetNWeights(), 163);
  EXPECT_EQ(s.GetMaxNDataPasses(), 327);

  MLPSettings lin = FourInputsContinuous();
  lin.SetNumHiddenLayers(0);
  EXPECT_EQ(lin.GetNumHiddenLayers(), 0);
  EXPECT_EQ(lin.GetNumHiddenUnits(1), -1);
  EXPECT_EQ(lin.GetTrainingMethod(), kLinearRegression);
  lin.ComputeNWeights();
  EXPECT_EQ(lin.GetNWeights(), 5);
  // Linear regression is now allowed, and a hidden layer takes it away again.
  lin.SetTrainingMethodAndType(kLinearRegression, kBatch);
  EXPECT_EQ(lin.GetTrainingMethod(), kLinearRegression);
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

TEST(NeuralSettingsSetters, SmallRefusals) {
  MLPSettings s = TenInputsThreeClasses();
  s.SetModelID(7);
  s.SetModelID(-1);
  EXPECT_EQ(s.GetModelID(), 7);
  s.SetTempFileDir("/tmp/a");
  s.SetTempFileDir("");
  EXPECT_EQ(s.GetTempFileDir(), "/tmp/a");
  s.SetUISettings({{"k", "v"}});
  s.SetUISettings({});
  ASSERT_EQ(s.GetUISettings().size(), 1u);
  EXPECT_EQ(s.GetUISettings()[0].second, "v");
}

TEST(NeuralSettingsSetters, ModelName) {
  MLPSettings s = TenInputsThreeClasses();
  EXPECT_FALSE(s.SetModelName(false, ""));
  EXPECT_TRUE(s.SetModelName(false, "churn"));
  bool useDefault = true;
  std::string name;
  ASSERT_TRUE(s.GetModelName(useDefault, name));
  EXPECT_FALSE(useDefault);
  EXPECT_EQ(name, "churn");
  // Back to the default name; the stored one is kept.
  EXPECT_TRUE(s.SetModelName(true, "ignored"));
  ASSERT_TRUE(s.GetModelName(useDefault, name));
  EXPECT_TRUE(useDefault);
  EXPECT_EQ(name, "churn");
}

TEST(NeuralSettingsCompare, EqualityIgnoresSeedsAndCallBacks) {
  MLPSettings a = TenInputsThreeClasses();
  MLPSettings b = TenInputsThreeClasses();
  b.SetRandomSeed(1);
  b.SetRandomSeedSampling(2);
  b.SetUsePortableRNG(false);
  b.SetHasVarList(true);
  b.SetModelName(false, "other");
  EXPECT_TRUE(a == b);
  b.SetModelID(3);
  EXPECT_FALSE(a == b);
  b = a;
  b.SetNTestRecords(5);
  EXPECT_TRUE(a != b);
  b = a;
  b.SetNumHiddenUnits(9, 1);
  EXPECT_FALSE(a == b);
}

TEST(MLPSettingsCompare, NeedNewNetwork) {
  const MLPSettings a = TenInputsThreeClasses();
  MLPSettings b = a;
  EXPECT_FALSE(a.NeedNewNetwork(b));
  // Learning-rate and stop-rule changes keep the network.
  b.SetEtaInit(0.1);
  b.SetMaxTime(5.0);
  b.SetRandomSeed(99);
  EXPECT_FALSE(a.NeedNewNetwork(b));
  b.SetRandomWeightRange(-1.0, 1.0);
  EXPECT_TRUE(a.NeedNewNetwork(b));
  b = a;
  b.SetNumHiddenUnits(9, 1);
  EXPECT_TRUE(a.NeedNewNetwork(b));
  b = a;
  b.SetLambdaReduction(0.5);
  EXPECT_TRUE(a.NeedNewNetwork(b));
  b = a;
  b.SetTrainingMethodAndType(kGradientDescent, kBatch);
  EXPECT_TRUE(a.NeedNewNetwork(b));
}

TEST(MLPSettingsStopRules, SetCopyAndForward) {
  MLPSettings a = TenInputsThreeClasses();
  MLPStopRules rules;
  rules.SetMaxTime(12.5);
  rules.SetAccuracy(90.0);
  rules.SetMaxNDataPasses(7);
  a.SetStopRules(&rules);
  EXPECT_EQ(a.GetMaxTime(), 12.5);
  EXPECT_EQ(a.GetAccuracy(), 90.0);
  EXPECT_EQ(a.GetMaxNDataPasses(), 7);
  EXPECT_TRUE(*a.GetStopRules() == rules);
  // A copy, not the caller's object.
  rules.SetMaxTime(1.0);
  EXPECT_EQ(a.GetMaxTime(), 12.5);
  a.SetStopRules(nullptr);
  EXPECT_EQ(a.GetMaxTime(), 12.5);

  MLPSettings b = TenInputsThreeClasses();
  b.CopyStopRules(a);
  EXPECT_TRUE(*b.GetStopRules() == *a.GetStopRules());

  b.SetMinRelativeChangeError(0.5);
  b.SetMinErrorRatio(0.25);
  b.SetGradientNormLimit(0.125);
  b.SetMaxNStepsTrackError(9);
  b.SetCheckTrainErrVerifyingCycle(true);
  b.SetTimeForExpertArch(3.0);
  const MLPStopRules* r = b.GetStopRules();
  EXPECT_EQ(r->GetMinRelativeChangeError(), 0.5);
  EXPECT_EQ(r->GetMinErrorRatio(), 0.25);
  EXPECT_EQ(r->GetGradientNormLimit(), 0.125);
  EXPECT_EQ(r->GetMaxNStepsTrackError(), 9);
  EXPECT_TRUE(r->GetCheckTrainErrVerifyingCycle());
  EXPECT_EQ(r->GetTimeForExpertArch(), 3.0);
}

TEST(MLPStopRulesTest, DefaultsAndDerivedDataPasses) {
  MLPStopRules r;
  r.ComputeDefaultMaxDataPasses(10);
  EXPECT_EQ(r.GetMaxNDataPasses(), 100);
  r.ComputeDefaultMaxDataPasses(50);
  EXPECT_EQ(r.GetMaxNDataPasses(), 101);
  r.SetMaxNDataPasses(3);
  r.ComputeDefaultMaxDataPasses(500);
  EXPECT_EQ(r.GetMaxNDataPasses(), 3);
  r.SetDefaults();
  EXPECT_TRUE(r == MLPStopRules());
}
