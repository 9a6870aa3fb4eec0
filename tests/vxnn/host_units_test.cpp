// The host's own pieces: the split, raw records, settings from options,
// JSON and CSV writing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "Commands.h"
#include "CsvTable.h"
#include "Dataset.h"
#include "Json.h"
#include "Partition.h"
#include "Records.h"
#include "TestJson.h"
#include "Training.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNStringEncoder.h"

using namespace vxnn;

namespace {

CsvTable Table(const std::string& text) {
  std::istringstream in(text);
  return ReadCsv(in, "t.csv");
}

NNVarList ListOf(const CsvTable& t, DescribeOptions o) {
  return BuildVarList(t, PlanFields(t, o), o);
}

}  // namespace

TEST(Partition, SetsAreDisjointSortedAndCoverEveryRecord) {
  const Partition p = SplitRecords(10, 0.3, 7);
  EXPECT_EQ(p.fTest.size(), 3u);
  EXPECT_EQ(p.fTrain.size(), 7u);
  std::set<std::size_t> all(p.fTrain.begin(), p.fTrain.end());
  all.insert(p.fTest.begin(), p.fTest.end());
  EXPECT_EQ(all.size(), 10u);
  EXPECT_EQ(*all.rbegin(), 9u);
  EXPECT_TRUE(std::is_sorted(p.fTrain.begin(), p.fTrain.end()));
  EXPECT_TRUE(std::is_sorted(p.fTest.begin(), p.fTest.end()));

  EXPECT_EQ(SplitRecords(150, 0.3, 12345).fTest.size(), 45u);
  EXPECT_EQ(SplitRecords(5, 0.0, 1).fTest.size(), 0u);
  EXPECT_EQ(SplitRecords(0, 0.3, 1).fTrain.size(), 0u);
}

TEST(Partition, SameSeedSameSplitOtherSeedOtherSplit) {
  const Partition a = SplitRecords(200, 0.25, 99);
  const Partition b = SplitRecords(200, 0.25, 99);
  const Partition c = SplitRecords(200, 0.25, 100);
  EXPECT_EQ(a.fTest, b.fTest);
  EXPECT_EQ(a.fTrain, b.fTrain);
  EXPECT_NE(a.fTest, c.fTest);
}

TEST(Partition, EveryRecordIsEquallyLikelyToBeHeldOut) {
  // 3 of 10 held out, over 20000 seeds: each record about 6000 times, with
  // a standard deviation of sqrt(20000 * 0.3 * 0.7) = 65. A biased shuffle
  // (an off-by-one in the draw range) moves some counts by thousands.
  std::vector<int> count(10, 0);
  for (unsigned seed = 0; seed < 20000; ++seed)
    for (std::size_t i : SplitRecords(10, 0.3, seed).fTest) ++count[i];
  for (int c : count) EXPECT_NEAR(c, 6000, 330);
}

TEST(Records, CellsBecomeCodesValuesOrMissing) {
  const CsvTable t = Table(
      "x,c,n,skip,y\n"
      "1.5,red,1,a,yes\n"
      "2.5,blue,2,b,no\n"
      "3.5,,9,c,yes\n");
  DescribeOptions o;
  o.fTargets = {"y"};
  o.fIgnore = {"skip"};
  o.fCategorical = {"n"};
  o.fMissing["n"] = {"9"};
  o.fMissing["x"] = {"-1"};
  const NNVarList list = ListOf(t, o);
  ASSERT_EQ(list.Size(), 4u);

  // Columns in another order, with one the model does not know.
  const RecordMaker maker(list, {"extra", "y", "n", "c", "x"}, true, "s.csv");
  VXCommon_1_2::Record r;
  EXPECT_FALSE(maker.Make({"?", "no", "2", "blue", "0.25"}, r, true));
  ASSERT_EQ(r.Size(), 4);
  EXPECT_EQ(r[0], 0.25);
  const auto& colours = dynamic_cast<const NNStringEncoder&>(*list.GetEncoderAt(1));
  const auto& numbers = dynamic_cast<const NNCatNumEncoder&>(*list.GetEncoderAt(2));
  EXPECT_EQ(r[1], colours.EncodeConst("blue"));
  EXPECT_EQ(r[2], numbers.EncodeConst(2.0));
  EXPECT_EQ(r[3], 1.0);  // "no" came second

  auto problem = [&](std::vector<std::string> row, bool targets) {
    const RecordIssue issue = maker.Make(row, r, targets);
    return std::make_pair(issue.fProblem, issue.fVariable);
  };
  EXPECT_EQ(problem({"", "no", "2", "", "1"}, true), std::make_pair(CellProblem::kMissing, 1));
  EXPECT_EQ(problem({"", "no", "9", "red", "1"}, true), std::make_pair(CellProblem::kMissing, 2));
  EXPECT_EQ(problem({"", "no", "1", "red", "-1"}, true), std::make_pair(CellProblem::kMissing, 0));
  EXPECT_EQ(problem({"", "no", "3", "red", "1"}, true),
            std::make_pair(CellProblem::kUnseenCategory, 2));
  EXPECT_EQ(problem({"", "no", "1", "green", "1"}, true),
            std::make_pair(CellProblem::kUnseenCategory, 1));
  EXPECT_EQ(problem({"", "no", "1", "red", "abc"}, true),
            std::make_pair(CellProblem::kNotANumber, 0));
  EXPECT_EQ(problem({"", "maybe", "1", "red", "1"}, true),
            std::make_pair(CellProblem::kUnseenCategory, 3));
  // Targets not read when scoring: the slot holds the missing value.
  EXPECT_EQ(problem({"", "maybe", "1", "red", "1"}, false), std::make_pair(CellProblem::kNone, -1));
  EXPECT_EQ(r[3], VXMV::gMissingValue);
}

TEST(Records, ColumnsTheModelNeedsMustExist) {
  const CsvTable t = Table("x,y\n1,a\n2,b\n");
  DescribeOptions o;
  o.fTargets = {"y"};
  const NNVarList list = ListOf(t, o);
  EXPECT_NO_THROW(RecordMaker(list, {"x"}, false, "s.csv"));
  try {
    RecordMaker(list, {"x"}, true, "s.csv");
    FAIL() << "a missing target column was accepted";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "s.csv: no column \"y\", which the model predicts");
  }
  try {
    RecordMaker(list, {"y"}, false, "s.csv");
    FAIL() << "a missing input column was accepted";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "s.csv: no column \"x\", which the model needs as an input");
  }
}

TEST(Records, CategoryLabelsAndNumbersReadBack) {
  const CsvTable t = Table("g,v,y\n2,0.5,a\n0.25,1,b\n2,2,a\n");
  DescribeOptions o;
  o.fTargets = {"y"};
  o.fCategorical = {"g"};
  const NNVarList list = ListOf(t, o);
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(0)), (std::vector<std::string>{"2", "0.25"}));
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(2)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(CategoryLabel(*list.GetVarAt(2), 5), "");
  for (double x : {0.1, 2.0, -1e-300, 1e300, 1.0 / 3.0})
    EXPECT_EQ(std::strtod(FormatNumber(x).c_str(), nullptr), x) << FormatNumber(x);
  EXPECT_EQ(FormatNumber(2.0), "2");
}

TEST(CsvWriter, RowsReadBackThroughTheReader) {
  const std::vector<std::string> row = {"plain", "a,b", "say \"hi\"", "two\nlines", " pad", ""};
  std::ostringstream out;
  WriteCsvRow(out, {"c1", "c2", "c3", "c4", "c5", "c6"});
  WriteCsvRow(out, row);
  const CsvTable t = Table(out.str());
  ASSERT_EQ(t.fRows.size(), 1u);
  EXPECT_EQ(t.fRows[0], row);
}

TEST(Json, WellFormedWithEscapesAndNullForMissing) {
  std::ostringstream out;
  {
    JsonWriter j(out);
    j.BeginObject();
    j.Field("text", "quote \" back \\ tab \t nl \n bell \x07");
    j.Field("missing", VXMV::gMissingValue);
    j.Field("nan", std::nan(""));
    j.Field("n", 0.125);
    j.Key("empty").BeginArray();
    j.EndArray();
    j.Key("rows").BeginArray();
    j.BeginArray();
    j.Integer(1);
    j.Integer(-2);
    j.EndArray();
    j.Bool(false);
    j.EndArray();
    j.EndObject();
  }
  const testjson::Value v = testjson::Parse(out.str());
  EXPECT_EQ(v["text"].fString, "quote \" back \\ tab \t nl \n bell \x07");
  EXPECT_EQ(v["missing"].fKind, testjson::Value::kNull);
  EXPECT_EQ(v["nan"].fKind, testjson::Value::kNull);
  EXPECT_EQ(v["n"].fNumber, 0.125);
  EXPECT_TRUE(v["empty"].fArray.empty());
  EXPECT_EQ(v["rows"][0][1].fNumber, -2.0);
  EXPECT_FALSE(v["rows"][1].fBool);
}

class Settings : public testing::Test {
 protected:
  // 3 continuous inputs and a categorical target with 3 categories, 60
  // records; a continuous target for the regression cases.
  void SetUp() override {
    std::string text = "a,b,c,y,z\n";
    for (int i = 0; i < 60; ++i)
      text += std::to_string(i % 7) + ".5," + std::to_string(i % 5) + ".25," + std::to_string(i) +
              ".75," + "abc"[i % 3] + "," + std::to_string(i) + ".1\n";
    fTable = Table(text);
    fCat.fTargets = {"y"};
    fCat.fIgnore = {"z"};
    fCont.fTargets = {"z"};
    fCont.fIgnore = {"y"};
  }
  MLPSettings Make(const TrainOptions& o, bool continuous = false) {
    const NNVarList list = ListOf(fTable, continuous ? fCont : fCat);
    return MakeSettings(o, list, 42);
  }
  std::string Refusal(const TrainOptions& o, bool continuous = false) {
    try {
      Make(o, continuous);
    } catch (const InputError& e) {
      return e.what();
    }
    return "";
  }
  CsvTable fTable;
  DescribeOptions fCat, fCont;
};

// The library's defaults, but for the hidden layer of a classifier: 32
// units instead of the library's few.
TEST_F(Settings, NoOptionsKeepTheLibraryDefaults) {
  const MLPSettings s = Make(TrainOptions());
  MLPSettings plain(ListOf(fTable, fCat), 42);
  EXPECT_LT(plain.GetNumHiddenUnits(1), 32);
  plain.SetNumHiddenUnits(32, 1);
  EXPECT_TRUE(s == plain);
  EXPECT_EQ(s.GetTrainingMethod(), VXNNCommon::kScaledConjugateGradient);
  EXPECT_EQ(s.GetMaxNDataPasses(), plain.GetMaxNDataPasses());
  EXPECT_EQ(s.GetActivFnOutputLayer(), VXNNCommon::kSoftMax);
  const MLPSettings regression = Make(TrainOptions(), true);
  EXPECT_TRUE(regression == MLPSettings(ListOf(fTable, fCont), 42));
}

TEST_F(Settings, ArchitectureOptions) {
  TrainOptions o;
  o.fHiddenUnits = {8, 4};
  MLPSettings s = Make(o);
  EXPECT_EQ(s.GetNumHiddenLayers(), 2);
  EXPECT_EQ(s.GetNumHiddenUnits(1), 8);
  EXPECT_EQ(s.GetNumHiddenUnits(2), 4);
  // (3 inputs + bias) x 8 + (8 + 1) x 4 + (4 + 1) x 3 outputs.
  EXPECT_EQ(s.GetNWeights(), 4 * 8 + 9 * 4 + 5 * 3);

  // Two layers of their default sizes: the weight count follows.
  o = TrainOptions();
  o.fHiddenLayers = 2;
  s = Make(o);
  const int h1 = s.GetNumHiddenUnits(1), h2 = s.GetNumHiddenUnits(2);
  ASSERT_GT(h2, 0);
  EXPECT_EQ(s.GetNWeights(), 4 * h1 + (h1 + 1) * h2 + (h2 + 1) * 3);
  EXPECT_EQ(s.GetMaxNDataPasses(), std::max(100, 2 * s.GetNWeights() + 1));

  // No hidden layer with a continuous target: trained iteratively.
  o = TrainOptions();
  o.fHiddenLayers = 0;
  s = Make(o, true);
  EXPECT_EQ(s.GetNumHiddenLayers(), 0);
  EXPECT_EQ(s.GetTrainingMethod(), VXNNCommon::kScaledConjugateGradient);
  EXPECT_EQ(s.GetNWeights(), 4);

  o = TrainOptions();
  o.fHiddenActivation = "sigmoid";
  o.fOutputActivation = "tanh";
  s = Make(o);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), VXNNCommon::kSigmoid);
  EXPECT_EQ(s.GetActivFnOutputLayer(), VXNNCommon::kTanH);
}

TEST_F(Settings, MethodTypeSeedsAndStopRules) {
  TrainOptions o;
  o.fTrainingType = "minibatch";
  o.fMiniBatchSize = 10;
  o.fLearningRate = 0.2;
  o.fMomentum = 0.5;
  o.fSeed = 7;
  o.fSamplingSeed = 8;
  o.fMaxDataPasses = 33;
  o.fMaxTime = 12.5;
  o.fErrorChange = 0.01;
  o.fErrorRatio = 0.02;
  o.fGradientNorm = 0.03;
  o.fStopAccuracy = 90;
  o.fStepsWithoutImprovement = 9;
  o.fCheckTrainingError = true;
  o.fMemoryBudget = 500;
  const MLPSettings s = Make(o);
  EXPECT_EQ(s.GetTrainingMethod(), VXNNCommon::kGradientDescent);
  EXPECT_EQ(s.GetTrainType(), VXNNCommon::kMiniBatch);
  EXPECT_EQ(s.GetMiniBatchSize(), 10);
  EXPECT_EQ(s.GetEtaInit(), 0.2);
  EXPECT_EQ(s.GetAlpha(), 0.5);
  EXPECT_EQ(s.GetRandomSeed(), 7u);
  EXPECT_EQ(s.GetRandomSeedSampling(), 8u);
  EXPECT_EQ(s.GetMaxNDataPasses(), 33);
  EXPECT_EQ(s.GetMaxTime(), 12.5);
  EXPECT_EQ(s.GetMinRelativeChangeError(), 0.01);
  EXPECT_EQ(s.GetMinErrorRatio(), 0.02);
  EXPECT_EQ(s.GetGradientNormLimit(), 0.03);
  EXPECT_EQ(s.GetAccuracy(), 90.0);
  EXPECT_EQ(s.GetMaxNStepsTrackError(), 9);
  EXPECT_TRUE(s.GetCheckTrainErrVerifyingCycle());
  EXPECT_EQ(s.GetMaxRecordsInMemory(), 500);

  o = TrainOptions();
  o.fMethod = "gd";
  o.fTrainingType = "online";
  const MLPSettings online = Make(o);
  EXPECT_EQ(online.GetTrainType(), VXNNCommon::kOnline);
}

TEST_F(Settings, RefusalsNameTheOption) {
  TrainOptions o;
  o.fMethod = "scg";
  o.fTrainingType = "online";
  EXPECT_EQ(Refusal(o), "--method scg trains in batch only; use --method gd for online training");
  o = TrainOptions();
  o.fOutputActivation = "softmax";
  EXPECT_EQ(Refusal(o, true), "--output-activation softmax needs every target to be categorical");
  o = TrainOptions();
  o.fTrainingType = "minibatch";
  o.fMiniBatchSize = 43;  // more than the 42 training records
  EXPECT_NE(Refusal(o).find("--mini-batch-size must lie between 2 and 42"), std::string::npos);
  o = TrainOptions();
  o.fMiniBatchSize = 10;
  EXPECT_EQ(Refusal(o), "--mini-batch-size applies to --training-type minibatch");
  o = TrainOptions();
  o.fSelectArchitecture = true;
  o.fHiddenUnits = {5};
  EXPECT_NE(Refusal(o).find("--select-architecture"), std::string::npos);
  o = TrainOptions();
  o.fMinHiddenUnits = 5;
  o.fMaxHiddenUnits = 4;
  EXPECT_NE(Refusal(o).find("--min-hidden-units"), std::string::npos);
  o = TrainOptions();
  o.fHiddenUnits = {3, 2, 1};
  EXPECT_EQ(Refusal(o), "--hidden-units: at most 2 hidden layers");
  o = TrainOptions();
  o.fHiddenLayers = 1;
  o.fHiddenUnits = {3, 2};
  EXPECT_EQ(Refusal(o), "--hidden-units gives 2 layer sizes for 1 hidden layers");
  o = TrainOptions();
  o.fHiddenActivation = "softmax";
  EXPECT_EQ(Refusal(o), "--hidden-activation must be tanh or sigmoid");
  o = TrainOptions();
  o.fMaxDataPasses = 0;
  EXPECT_EQ(Refusal(o), "--max-data-passes must be at least 1");
  o = TrainOptions();
  o.fMomentum = 1.0;
  EXPECT_EQ(Refusal(o), "--momentum must lie in [0, 1)");
  o = TrainOptions();
  o.fTrainingType = "stochastic";
  EXPECT_EQ(Refusal(o), "--training-type must be batch, minibatch or online, not \"stochastic\"");
}

// 3 continuous inputs and a target of 3 categories: the library's RBF
// defaults are an overlap factor of 1 + 0.1 x 3 and an open number of
// centres; the program's are 4 x 1.3 and 2 x (3 + 3) centres, at most one
// per training record. A range or the search leaves the number open.
TEST_F(Settings, RBFOptionsReachTheSettings) {
  TrainOptions o;
  o.fNetwork = NetworkKind::kRBF;
  const NNVarList list = ListOf(fTable, fCat);
  RBFSettings s = MakeRBFSettings(o, list, 42);
  const RBFSettings library(list, 42);
  EXPECT_DOUBLE_EQ(library.GetOverlapFactor(), 1.3);
  EXPECT_FALSE(library.GetUserSetNHidUnits());
  EXPECT_DOUBLE_EQ(s.GetOverlapFactor(), 5.2);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), VXNNCommon::kNormalizedRadialBasis);
  EXPECT_TRUE(s.GetUserSetNHidUnits());
  EXPECT_EQ(s.GetNumHiddenUnits(1), 12);
  EXPECT_EQ(MakeRBFSettings(o, list, 9).GetNumHiddenUnits(1), 9);
  o.fSelectArchitecture = true;
  s = MakeRBFSettings(o, list, 42);
  EXPECT_FALSE(s.GetUserSetNHidUnits());
  EXPECT_LT(s.GetMaxNHiddenUnits(), s.GetMinNHiddenUnits());
  EXPECT_DOUBLE_EQ(s.GetOverlapFactor(), 5.2);
  o.fSelectArchitecture = false;

  o.fHiddenUnits = {5};
  o.fOverlap = 2.5;
  s = MakeRBFSettings(o, list, 42);
  EXPECT_TRUE(s.GetUserSetNHidUnits());
  EXPECT_EQ(s.GetNumHiddenUnits(1), 5);
  EXPECT_EQ(s.GetOverlapFactor(), 2.5);
  EXPECT_EQ(s.GetNWeights(), 3 * 5);  // normalised: no bias per output unit
  o.fHiddenActivation = "radial-basis";
  s = MakeRBFSettings(o, list, 42);
  EXPECT_EQ(s.GetActivFnHiddenLayer(), VXNNCommon::kRadialBasis);
  EXPECT_EQ(s.GetNWeights(), 3 * (5 + 1));

  // One bound given: the other is what the clustering would take alone,
  // 1 or 2 x (3 inputs + 3 output units).
  struct Range {
    std::optional<int> fMin, fMax;
    int fLow, fHigh;
  };
  for (const Range& r :
       {Range{3, {}, 3, 12}, Range{{}, 7, 1, 7}, Range{20, {}, 20, 20}, Range{2, 9, 2, 9}}) {
    o = TrainOptions();
    o.fNetwork = NetworkKind::kRBF;
    o.fMinHiddenUnits = r.fMin;
    o.fMaxHiddenUnits = r.fMax;
    s = MakeRBFSettings(o, list, 42);
    EXPECT_FALSE(s.GetUserSetNHidUnits());
    EXPECT_EQ(s.GetMinNHiddenUnits(), r.fLow);
    EXPECT_EQ(s.GetMaxNHiddenUnits(), r.fHigh);
  }
  o.fSelectArchitecture = true;
  EXPECT_TRUE(MakeRBFSettings(o, list, 42).GetExpertOneDataPass());
  o.fSearchPassPerCandidate = true;
  EXPECT_FALSE(MakeRBFSettings(o, list, 42).GetExpertOneDataPass());
}

TEST_F(Settings, OptionsOfTheOtherKindAreRefused) {
  const NNVarList list = ListOf(fTable, fCat);
  const std::string notRBF =
      " does not apply to --network rbf (its centres come from clustering and its output "
      "weights from least squares)";
  using Edit = void (*)(TrainOptions&);
  const std::vector<std::pair<Edit, std::string>> rbf = {
      {[](TrainOptions& o) { o.fMethod = "gd"; }, "--method" + notRBF},
      {[](TrainOptions& o) { o.fTrainingType = "online"; }, "--training-type" + notRBF},
      {[](TrainOptions& o) { o.fLearningRate = 0.1; }, "--learning-rate" + notRBF},
      {[](TrainOptions& o) { o.fMomentum = 0.5; }, "--momentum" + notRBF},
      {[](TrainOptions& o) { o.fSeed = 3; }, "--seed" + notRBF},
      {[](TrainOptions& o) { o.fOutputActivation = "identity"; }, "--output-activation" + notRBF},
      {[](TrainOptions& o) { o.fMaxDataPasses = 10; }, "--max-data-passes" + notRBF},
      {[](TrainOptions& o) { o.fCheckTrainingError = true; }, "--check-training-error" + notRBF},
      {[](TrainOptions& o) { o.fMaxSelectionTime = 5; }, "--max-selection-time" + notRBF},
      {[](TrainOptions& o) { o.fHiddenLayers = 2; }, "--network rbf has exactly one hidden layer"},
      {[](TrainOptions& o) {
         o.fHiddenUnits = {4, 2};
       },
       "--network rbf has exactly one hidden layer"},
      {[](TrainOptions& o) { o.fHiddenActivation = "tanh"; },
       "--hidden-activation must be radial-basis or normalized-radial-basis for --network rbf"},
      {[](TrainOptions& o) { o.fOverlap = 0.0; }, "--overlap must be above 0"},
      {[](TrainOptions& o) { o.fHiddenUnits = {0}; }, "--hidden-units: at least 1 centre"},
      {[](TrainOptions& o) {
         o.fHiddenUnits = {4};
         o.fMaxHiddenUnits = 6;
       },
       "--hidden-units sets the number of centres; drop --select-architecture, "
       "--min-hidden-units and --max-hidden-units"},
      {[](TrainOptions& o) {
         o.fMinHiddenUnits = 6;
         o.fMaxHiddenUnits = 5;
       },
       "the hidden-unit range needs 1 <= --min-hidden-units <= --max-hidden-units"},
      {[](TrainOptions& o) { o.fSearchPassPerCandidate = true; },
       "--search-pass-per-candidate applies to --select-architecture"},
  };
  for (const auto& [edit, message] : rbf) {
    TrainOptions o;
    o.fNetwork = NetworkKind::kRBF;
    edit(o);
    std::string said;
    try {
      MakeRBFSettings(o, list, 42);
    } catch (const InputError& e) {
      said = e.what();
    }
    EXPECT_EQ(said, message);
  }
  TrainOptions o;
  o.fOverlap = 2.0;
  EXPECT_EQ(Refusal(o), "--overlap applies to --network rbf");
  o = TrainOptions();
  o.fSearchPassPerCandidate = true;
  EXPECT_EQ(Refusal(o), "--search-pass-per-candidate applies to --network rbf");
}

TEST(Commands, HiddenChoiceTexts) {
  const std::vector<std::pair<HiddenChoice, std::string>> cases = {
      {{HiddenChoice::kDefault, 0, 0}, "the library's default"},
      {{HiddenChoice::kUserSet, 0, 0}, "user-set"},
      {{HiddenChoice::kSearch, 1, 50}, "chosen by the architecture search between 1 and 50"},
      {{HiddenChoice::kClustering, 1, 14}, "chosen by the clustering between 1 and 14"},
      {{HiddenChoice::kSizeRule, 14, 14}, "twice the input and output units"},
      {{HiddenChoice::kBIC, 3, 10}, "chosen by BIC among 3..10 candidates"},
      {{HiddenChoice::kTestError, 2, 6}, "chosen by test error among 2..6 candidates"},
  };
  for (const auto& [choice, text] : cases) EXPECT_EQ(HiddenChoiceText(choice), text);
}

// The kind and form of a saved model come from its first bytes.
TEST(Commands, ModelKindAndFormTold) {
  const std::string xmlHead =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">\n<VXXMLRoot>\n"
      "<!-- a notice -->\n  <object name=\"";
  struct Case {
    std::string fText;
    ModelFormat fFormat;
    NetworkKind fKind;
  };
  const std::vector<Case> cases = {
      {"MLPSet\x01\x02", ModelFormat::kBinary, NetworkKind::kMLP},
      {"RBFSet\x01\x02", ModelFormat::kBinary, NetworkKind::kRBF},
      {xmlHead + "MLPSettings\">", ModelFormat::kXML, NetworkKind::kMLP},
      {"\n  " + xmlHead + "RBFSettings\">", ModelFormat::kXML, NetworkKind::kRBF},
  };
  const std::string path = testing::TempDir() + "vxnn-kind.model";
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary) << c.fText;
    const ModelType t = DetectModelType(path);
    EXPECT_EQ(t.fFormat, c.fFormat) << c.fText;
    EXPECT_EQ(t.fKind, c.fKind) << c.fText;
  }
  std::ofstream(path, std::ios::binary) << "RBFSe";
  EXPECT_THROW(DetectModelType(path), InputError);
  std::remove(path.c_str());
}

TEST(Commands, ModelPathsAndPredictionColumns) {
  EXPECT_EQ(DefaultModelPath("/data/iris.csv"), "iris.model");
  EXPECT_EQ(DefaultModelPath("table"), "table.model");
  EXPECT_EQ(DefaultModelPath("dir.v2/table"), "table.model");
  EXPECT_EQ(DefaultModelPath("a.b.csv"), "a.b.model");

  const CsvTable t = Table("x,k,v\n1,p,0.5\n2,q,1.5\n3,p,2\n");
  DescribeOptions o;
  o.fTargets = {"k", "v"};
  const NNVarList list = ListOf(t, o);
  EXPECT_EQ(PredictionColumns(list, true),
            (std::vector<std::string>{"predicted_k", "probability_k_p", "probability_k_q",
                                      "probability_k", "predicted_v"}));
  EXPECT_EQ(PredictionColumns(list, false)[1], "output_k_p");
}
