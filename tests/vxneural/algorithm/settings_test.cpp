// Settings: derived defaults (hidden units, weights, mini-batch size,
// data-pass limit) worked out by hand.
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
