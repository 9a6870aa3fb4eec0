// Settings: derived defaults (hidden units, weights, mini-batch size,
// data-pass limit) worked out by hand; settings and stop rules through both
// saved forms: every stored field in its place, and damaged streams failing
// with the documented message.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/layouts.h"
#include "common/saved_forms.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"

using namespace VXNNCommon;
using saved_forms::Saved;
using stream_faults::WithInt32;

namespace {

const std::string kMLPSettingsError = "Error reading MLPSettings!\n";
const std::string kNeuralSettingsError = "Error reading NeuralSettings!\n";
const std::string kStopRulesError = "Error reading MLPStopRules!\n";
const std::vector<std::string> kMLPMessages = {kMLPSettingsError, kStopRulesError,
                                               kNeuralSettingsError};

// Every field differs from its default.
MLPSettings Customized() {
  MLPSettings s(12, {3, 1, 4}, 5000);
  s.SetNumHiddenLayers(2);
  s.SetNumHiddenUnits(9, 1);
  s.SetNumHiddenUnits(4, 2);
  s.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  s.SetMiniBatchSize(77);
  s.SetCorrection(0.125);
  s.SetRandomWeightRange(-0.3, 0.7);
  s.SetLambdaInit(1e-6);
  s.SetSigmaInit(2e-5);
  s.SetUpperDelta(0.8);
  s.SetLowerDelta(0.2);
  s.SetLambdaReduction(0.3);
  s.SetEtaInit(0.5);
  s.SetEtaLow(0.002);
  s.SetEtaHigh(0.2);
  s.SetAlpha(0.8);
  s.SetAlphaReduction(0.7);
  s.SetNEpochs(12.0);
  s.SetBetaInit(0.03);
  s.SetNHiddenUnitsRange(2, 40);
  s.SetMinRelativeChangeError(0.002);
  s.SetMinErrorRatio(0.003);
  s.SetGradientNormLimit(1e-5);
  s.SetAccuracy(95.5);
  s.SetMaxNDataPasses(321);
  s.SetMaxNStepsTrackError(8);
  s.SetMaxTime(30.25);
  s.SetCheckTrainErrVerifyingCycle(true);
  s.SetTimeForExpertArch(45.5);
  s.SetNSkippedReports(3);
  s.SetActivFnHiddenLayer(kSigmoid);
  s.SetStandInputs(kMinRange);
  s.SetStandOutputs(kMinRangeSymmetric);
  s.SetRandomSeed(4000000000u);
  s.SetRandomSeedSampling(77u);
  s.SetUsePortableRNG(false);
  s.SetMaxRecordsInMemory(4321);
  s.SetNTestRecords(250);
  s.SetHasVarList(true);
  s.SetComputeSensitivity(true);
  s.SetListWiseDeletion(true);
  s.SetConfidenceMethod(NeuralSettings::kConfidenceSimpleMax);
  s.SetModelID(42);
  s.SetOutputMEInfo(true);
  return s;
}

// Offsets in the binary form of Customized(): the MLP block is 150 bytes
// (tag 6, 3 doubles, 4 ints, 12 doubles, 2 ints), the stop rules 70, then
// the "NS" block: tag 2, then 11 ints up to the hidden-layer count.
constexpr std::size_t kNSAt = 220;
constexpr std::size_t kHiddenActAt = kNSAt + 2 + 3 * 4;
constexpr std::size_t kOutUnitsAt = kNSAt + 2 + 9 * 4;
constexpr std::size_t kHiddenLayersAt = kNSAt + 2 + 10 * 4;

using Ints = std::vector<int>;

// Hidden units, weights, hidden and output activations, output units,
// mini-batch size and data-pass limit.
template <typename Settings>
Ints Shape(const Settings& s) {
  return {s.GetNumHiddenUnits(1),    s.GetNWeights(),    s.GetActivFnHiddenLayer(),
          s.GetActivFnOutputLayer(), s.GetNumOutUnits(), s.GetMiniBatchSize(),
          s.GetMaxNDataPasses()};
}

}  // namespace

// The stop rules' values of Customized() (b: binary, x: XML), after the
// tag or object start.
template <typename Sink>
void StopRuleValues(Sink& s) {
  s.D(0.002).D(0.003).D(1e-5).D(95.5).I(321).I(8).I(1).D(30.25).I(1).D(45.5);
}

// The base block's values: counts and enumerations as ints, the seeds as
// unsigned, records in memory as long, three flags as bools.
template <typename Sink>
void NeuralSettingsValues(Sink& s, bool mlp) {
  if (mlp) {
    // Skipped reports, MLP, mini-batch, Sigmoid, Identity, standardizations
    // 3 and 2, 12 inputs, 3 variables of 8 units, 2 hidden layers of 9 and 4.
    s.I(3).I(1).I(1).I(1).I(3).I(3).I(2).I(12).I(3).I(8).I(2).I(9).I(4).I(1).I(3).I(1).I(4);
    s.U(4000000000u).U(77).I(0).L(4321).I(5000).I(250).I(1).B(true).B(true).I(2).I(42).B(true);
  } else {
    s.I(0).I(2).I(0).I(4).I(3).I(1).I(1).I(6).I(2).I(3).I(1).I(11).I(1).I(2).I(1);
    s.U(5).U(12345).I(1).L(1000).I(300).I(0).I(0).B(false).B(false).I(0).I(0).B(false);
  }
}

template <typename Sink>
void MLPSettingsValues(Sink& s) {
  // Correction, weight range, mini-batch size and flag, method, update type.
  s.D(0.125).D(-0.3).D(0.7).I(77).I(1).I(1).I(1);
  s.D(1e-6).D(2e-5).D(0.8).D(0.2).D(0.3).D(0.5).D(0.002).D(0.2).D(0.8).D(0.7).D(12.0).D(0.03);
  s.I(2).I(40);
}

RBFSettings CustomizedRBF() {
  RBFSettings a(6, {2, 1}, 300);
  a.SetNumHiddenUnits(11, 1);
  a.SetOverlapFactor(2.75);
  a.SetNHiddenUnitsRange(3, 30);
  a.SetExpertOneDataPass(false);
  a.SetActivFnHiddenLayer(kRadialBasis);
  a.ComputeNWeights();
  a.SetRandomSeed(5);
  return a;
}

TEST(SettingsLayouts, SettingsAndStopRulesFieldByField) {
  layouts::Bytes stop, mlp, rbf;
  layouts::Xml stopX, mlpX, rbfX;
  StopRuleValues(stop.Tag("MLPStR"));
  StopRuleValues(stopX.Obj("MLPStopRules"));
  stopX.End();
  MLPSettingsValues(mlp.Tag("MLPSet"));
  NeuralSettingsValues(mlp.Add(stop).Tag("NS"), true);
  MLPSettingsValues(mlpX.Obj("MLPSettings"));
  NeuralSettingsValues(mlpX.Add(stopX).Obj("NeuralSettings"), true);
  mlpX.End().End();
  // Overlap, 12 x 3 weights, the hidden-unit range, one pass per set.
  NeuralSettingsValues(rbf.Tag("RBFSet").D(2.75).I(36).I(3).I(30).I(0).Tag("NS"), false);
  NeuralSettingsValues(rbfX.Obj("RBFSettings").D(2.75).I(36).I(3).I(30).I(0).Obj("NeuralSettings"),
                       false);
  rbfX.End().End();

  MLPSettings settings = Customized();
  layouts::ExpectLayout(
      *settings.GetStopRules(), [] { return std::make_unique<MLPStopRules>(); }, stop, stopX);
  layouts::ExpectLayout(
      settings, [] { return std::make_unique<MLPSettings>(5, std::vector<int>{2}, 100); }, mlp,
      mlpX);
  layouts::ExpectLayout(
      CustomizedRBF(), [] { return std::make_unique<RBFSettings>(); }, rbf, rbfX);
}

TEST(MLPSettingsPersist, TruncatedCorruptedAndImplausibleStreamsAreRefused) {
  MLPSettings target(5, {2}, 100);
  saved_forms::ExpectReadersRobust(Customized(), target, kMLPMessages, kMLPMessages);

  // Each wrong tag names its object; a refused read leaves the reader as
  // it was.
  const std::string bytes = Saved(Customized(), false);
  const struct {
    std::string bytes;
    std::string message;
  } cases[] = {
      {"?" + bytes.substr(1), kMLPSettingsError},
      {stream_faults::Replaced(bytes, "MLPStR", "MLP?tR"), kStopRulesError},
      {bytes.substr(0, kNSAt + 1) + "?" + bytes.substr(kNSAt + 2), kNeuralSettingsError},
      // An unknown training method in the MLP block.
      {WithInt32(bytes, 6 + 3 * 8 + 2 * 4, 3), kMLPSettingsError},
      // A count beyond the stream, a negative one, output units that are
      // not the categories' sum of 8, an unknown activation, algorithm type
      // and a negative number of inputs.
      {WithInt32(bytes, kHiddenLayersAt, 0x7fffffff), kNeuralSettingsError},
      {WithInt32(bytes, kHiddenLayersAt, -1), kNeuralSettingsError},
      {WithInt32(bytes, kOutUnitsAt, 9), kNeuralSettingsError},
      {WithInt32(bytes, kHiddenActAt, 6), kNeuralSettingsError},
      {WithInt32(bytes, kNSAt + 2 + 4, 3), kNeuralSettingsError},
      {WithInt32(bytes, kNSAt + 2 + 7 * 4, -2), kNeuralSettingsError},
  };
  for (const auto& k : cases) saved_forms::ExpectAllRefused(target, false, {k.bytes}, {k.message});

  // The first seed is stored as unsigned; an int element there is a
  // different type.
  const std::string xml = stream_faults::Replaced(
      Saved(Customized(), true), "<unsigned>4000000000</unsigned>", "<int>4</int>");
  saved_forms::ExpectAllRefused(target, true, {xml}, {kNeuralSettingsError});
}

TEST(MLPSettingsDefaults, HiddenUnitRulesAndOutputs) {
  const struct {
    int inputs;
    std::vector<int> categories;
    int records;
    Ints shape;
  } cases[] = {
      // 3 output units < 5 and 10 inputs >= 8: trunc(sqrt(13) + 4.5) = 8
      // hidden units; the record limit trunc(997 / 14) = 71 does not bind.
      // 11 * 8 + 9 * 3 = 115 weights, a mini-batch of min(2 * 115, 1000,
      // 1000), at most max(100, 2 * 115 + 1) data passes.
      {10, {3}, 1000, {8, 115, kTanH, kSoftMax, 3, 230, 231}},
      // Few outputs but fewer than 8 inputs: (4 + 1 + 1) / 2 = 3; a
      // continuous target, so Identity outputs; 5 * 3 + 4 * 1 = 19 weights;
      // data passes stay at the floor of 100.
      {4, {1}, 1000, {3, 19, kTanH, kIdentity, 1, 38, 100}},
      // trunc(sqrt(32) + 4.5) = 10; trunc(18 / 33) = 0 is below 1 and ignored.
      {30, {2}, 20, {10, 332, kTanH, kSoftMax, 2, 20, 665}},
      // trunc(47 / 14) = 3 is below 8 and binds.
      {10, {3}, 50, {3, 45, kTanH, kSoftMax, 3, 50, 100}},
      // (60 + 5 + 1) / 2 = 33, capped at 20 (5 output units is not "few");
      // no records: no record limit, and a mini-batch of min(2W, 0, 1000).
      {60, {5}, 0, {20, 1325, kTanH, kSoftMax, 5, 0, 2651}},
      {10, {3}, 0, {8, 115, kTanH, kSoftMax, 3, 0, 231}},
      // SoftMax only when every target is categorical: (10 + 1) / 2 = 5
      // and (8 + 1) / 2 = 4 hidden units, neither bound by the records.
      {5, {2, 3}, 100, {5, 60, kTanH, kSoftMax, 5, 100, 121}},
      {5, {2, 1}, 100, {4, 39, kTanH, kIdentity, 3, 78, 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inputs << " inputs, " << c.records << " records");
    EXPECT_EQ(Shape(MLPSettings(c.inputs, c.categories, c.records)), c.shape);
  }
  MLPSettings s(10, {3}, 1000);
  EXPECT_EQ((Ints{s.GetAlgorithmType(), s.GetNumInputs(), s.GetNumOutVars(), s.GetNumHiddenLayers(),
                  s.GetTrainType(), s.GetUpdateType(), s.GetTrainingMethod()}),
            (Ints{kMLP, 10, 1, 1, kBatch, kMiniBatch, kScaledConjugateGradient}));
  EXPECT_FALSE(s.GetUserSetNHidUnits() || s.GetUserSetMiniBatchSize() ||
               s.GetStopRules()->GetMaxNDataPassesSet());
}

// An RBF settings object counts the output layer's weights only; the
// network built from it adds a centre of `inputs` coordinates and a width
// per hidden unit. The default hidden size is (inputs + output units + 1)
// / 2.
TEST(RBFSettingsDefaults, WeightCountIsTheOutputLayersOnly) {
  const struct {
    int inputs;
    std::vector<int> categories;
    int units;    // SetNumHiddenUnits(units, 2) first; 0: the default size
    bool radial;  // Radial Basis instead of the Normalized one
    int settingsWeights, networkWeights;
  } cases[] = {
      // 3 output units, (6 + 3 + 1) / 2 = 5 hidden: 3 x 5 = 15, and
      // 7 x 5 = 35 for the centres and widths.
      {6, {2, 1}, 0, false, 15, 50},
      // Any layer given sets layer 1: 3 x 11 = 33, plus 7 x 11 = 77.
      {6, {2, 1}, 11, false, 33, 110},
      // A bias per output: 3 x (5 + 1) = 18, plus 35.
      {6, {2, 1}, 0, true, 18, 53},
      // (4 + 1 + 1) / 2 = 3 hidden, 1 output: 3, plus 5 x 3 = 15.
      {4, {1}, 0, false, 3, 18},
      // 7 output units, (10 + 7 + 1) / 2 = 9 hidden: 63, plus 11 x 9 = 99.
      {10, {4, 3}, 0, false, 63, 162},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inputs << " inputs, " << c.units << " units");
    RBFSettings s(c.inputs, c.categories, 100);
    if (c.units > 0) s.SetNumHiddenUnits(c.units, 2);
    if (c.radial) {
      s.SetActivFnHiddenLayer(kRadialBasis);
      s.ComputeNWeights();
    }
    EXPECT_EQ((Ints{s.GetNWeights(), NNetwork(s).GetNumWeights()}),
              (Ints{c.settingsWeights, c.networkWeights}));
  }
}
