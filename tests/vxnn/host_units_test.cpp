// The host's own pieces: CSV reading and writing, the description of a table
// as a variable list, the split, raw records, settings from options and
// saved-model detection.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "Commands.h"
#include "Partition.h"
#include "Records.h"
#include "TestHost.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNStringEncoder.h"

using namespace vxnn;

namespace {

using testhost::CsvFromText;
using testhost::Targets;
using testhost::VarList;

template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Csv, QuotesEmptyCellsLineEndsAndBlankLines) {
  using Rows = std::vector<std::vector<std::string>>;
  const std::pair<std::string, Rows> cases[] = {
      {"a,b\r\n\"x, y\",\"say \"\"hi\"\"\"\n\"two\nlines\",3\n",
       {{"x, y", "say \"hi\""}, {"two\nlines", "3"}}},
      {"a,b,c\n1,,3\n,,", {{"1", "", "3"}, {"", "", ""}}},
      // Blank lines, and lines of white space alone, are skipped.
      {"a,b\n1,2\n\n \t\n3,4\n\n", {{"1", "2"}, {"3", "4"}}},
  };
  for (const auto& [text, rows] : cases) {
    SCOPED_TRACE(text);
    const CsvTable t = CsvFromText(text);
    EXPECT_EQ(t.fRows, rows);
    EXPECT_EQ(t.Column("b"), 1);
    EXPECT_EQ(t.Column("z"), -1);
  }
  // Rows written read back through the reader.
  const std::vector<std::string> row = {"plain",   "a,b", "say \"hi\"", "two\nlines", " pad",
                                        "\ttab\t", ""};
  std::ostringstream out;
  WriteCsvRow(out, {"c1", "c2", "c3", "c4", "c5", "c6", "c7"});
  WriteCsvRow(out, row);
  EXPECT_EQ(CsvFromText(out.str()).fRows, std::vector<std::vector<std::string>>{row});
}

TEST(Csv, MalformedInputIsRefusedWithTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "t.csv: the file is empty (no header row)"},
      {"a,b\n1,2\n3\n", "t.csv: line 3: 1 fields where the header has 2"},
      {"a,b\n\"x\ny\",2\n1,2,3\n", "t.csv: line 4: 3 fields where the header has 2"},
      {"a,a\n1,2\n", "t.csv: line 1: column \"a\" appears twice in the header"},
      {"a,,c\n", "t.csv: line 1: the header has an empty column name"},
      {"a,b\n\"open,2\n", "t.csv: malformed CSV"},
      {"a,b\n\"x\"y,2\n", "t.csv: malformed CSV"},
  };
  for (const auto& [text, error] : cases)
    EXPECT_EQ(ErrorOf([&] { CsvFromText(text); }).substr(0, error.size()), error) << text;
}

TEST(Dataset, OptionsNamingUnknownColumnsOrTextAsContinuousAreRefused) {
  const CsvTable t = CsvFromText("x,y\n1,a\n2,b\n");
  const struct {
    std::vector<std::string> fTargets, fContinuous;
    std::string fError;
  } cases[] = {
      {{}, {}, "no target column given"},
      {{"z"}, {}, "--target names \"z\", which is not a column"},
      {{"x"}, {"y"}, "column \"y\" holds text and cannot be continuous"},
  };
  for (const auto& c : cases) {
    DescribeOptions o = Targets(c.fTargets);
    o.fContinuous = c.fContinuous;
    EXPECT_EQ(ErrorOf([&] { PlanFields(t, o); }), c.fError);
  }
}

TEST(Dataset, StatisticsSkipMissingCells) {
  // Values 1.25, 2.25, 4.25 (the empty cell, -9, 1.5, nan and inf are
  // missing): mean 7/3 + 1/4, unbiased variance
  // ((4/3)^2 + (1/3)^2 + (5/3)^2) / 2 = 7/3.
  const CsvTable t =
      CsvFromText("v,c,t\n1.25,a,1\n,b,2\n2.25,,1\n-9,a,2\n4.25,b,1\n1.5,a,2\nnan,a,1\ninf,b,2\n");
  DescribeOptions o = Targets({"t"});
  o.fMissing["v"] = {"-9", "1.5"};
  NNVarList list = VarList(t, o);
  ASSERT_EQ(list.Size(), 3u);
  const auto* v = dynamic_cast<const NNContVar*>(list.GetVarAt(0));
  ASSERT_NE(v, nullptr);
  EXPECT_DOUBLE_EQ(v->GetMean(), 7.0 / 3.0 + 0.25);
  EXPECT_DOUBLE_EQ(v->GetVariance(), 7.0 / 3.0);
  EXPECT_EQ(std::make_pair(v->GetMin(), v->GetMax()), std::make_pair(1.25, 4.25));
  ASSERT_NE(v->GetUserMissingInfo(), nullptr);
  EXPECT_EQ(v->GetUserMissingInfo()->GetNDiscreteValues(), 2);

  // The empty string category is declared missing rather than a category.
  const auto* c = dynamic_cast<const NNCatVar*>(list.GetVarAt(1));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetNumberOfCategories(), 2);
  const auto* enc = dynamic_cast<const NNStringEncoder*>(c->GetEncoder());
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(std::make_pair(enc->EncodeConst(""), enc->EncodeConst("b")), std::make_pair(-1, 1));
  EXPECT_EQ(list.GetVariableRole(2), INNVariable::kOutput);
  EXPECT_EQ(list.GetWeightedCount(), 8.0);
}

TEST(Partition, DisjointSortedRepeatableAndUnbiased) {
  for (const auto& [n, fraction, test] :
       {std::tuple<std::size_t, double, std::size_t>{10, 0.3, 3}, {150, 0.3, 45}, {5, 0.0, 0}}) {
    const Partition p = SplitRecords(n, fraction, 7);
    EXPECT_EQ(p.fTest.size(), test);
    std::set<std::size_t> all(p.fTrain.begin(), p.fTrain.end());
    all.insert(p.fTest.begin(), p.fTest.end());
    EXPECT_EQ(all.size(), n);
    EXPECT_TRUE(std::is_sorted(p.fTrain.begin(), p.fTrain.end()));
    EXPECT_TRUE(std::is_sorted(p.fTest.begin(), p.fTest.end()));
    EXPECT_EQ(SplitRecords(n, fraction, 7).fTest, p.fTest);
  }
  EXPECT_NE(SplitRecords(200, 0.25, 99).fTest, SplitRecords(200, 0.25, 100).fTest);
  // 3 of 10 held out, over 20000 seeds: each record about 6000 times, with
  // a standard deviation of sqrt(20000 * 0.3 * 0.7) = 65. A biased draw
  // (an off-by-one in its range) moves some counts by thousands.
  std::vector<int> count(10, 0);
  for (unsigned seed = 0; seed < 20000; ++seed)
    for (std::size_t i : SplitRecords(10, 0.3, seed).fTest) ++count[i];
  for (int c : count) EXPECT_NEAR(c, 6000, 330);
}

TEST(Records, CellsBecomeCodesValuesOrMissing) {
  const CsvTable t = CsvFromText("x,c,n,skip,y\n1.5,red,1,a,yes\n2.5,blue,2,b,no\n3.5,,9,c,yes\n");
  DescribeOptions o = Targets({"y"});
  o.fIgnore = {"skip"};
  o.fCategorical = {"n"};
  o.fMissing = {{"n", {"9"}}, {"x", {"-1"}}};
  const NNVarList list = VarList(t, o);
  ASSERT_EQ(list.Size(), 4u);

  // Columns in another order, with one the model does not know.
  const RecordMaker maker(list, {"extra", "y", "n", "c", "x"}, true, "s.csv", MissingInputs::kDrop);
  VXCommon_1_2::Record r;
  EXPECT_FALSE(maker.Make({"?", "no", "2", "blue", "0.25"}, r, true));
  EXPECT_EQ(r[0], 0.25);
  EXPECT_EQ(r[1], dynamic_cast<const NNStringEncoder&>(*list.GetEncoderAt(1)).EncodeConst("blue"));
  EXPECT_EQ(r[2], dynamic_cast<const NNCatNumEncoder&>(*list.GetEncoderAt(2)).EncodeConst(2.0));
  EXPECT_EQ(r[3], 1.0);  // "no" came second

  const struct {
    std::vector<std::string> fRow;
    bool fTargets;
    CellProblem fProblem;
    int fVariable;
  } cases[] = {
      {{"", "no", "2", "", "1"}, true, CellProblem::kMissing, 1},
      {{"", "no", "9", "red", "1"}, true, CellProblem::kMissing, 2},
      {{"", "no", "1", "red", "-1"}, true, CellProblem::kMissing, 0},
      {{"", "no", "3", "red", "1"}, true, CellProblem::kUnseenCategory, 2},
      {{"", "no", "1", "green", "1"}, true, CellProblem::kUnseenCategory, 1},
      {{"", "no", "1", "red", "abc"}, true, CellProblem::kNotANumber, 0},
      {{"", "maybe", "1", "red", "1"}, true, CellProblem::kUnseenCategory, 3},
      // Targets not read when scoring: the slot holds the missing value.
      {{"", "maybe", "1", "red", "1"}, false, CellProblem::kNone, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fRow[1] + " " + c.fRow[2] + " " + c.fRow[3] + " " + c.fRow[4]);
    const RecordIssue issue = maker.Make(c.fRow, r, c.fTargets);
    EXPECT_EQ(issue.fProblem, c.fProblem);
    EXPECT_EQ(issue.fVariable, c.fVariable);
  }
  EXPECT_EQ(r[3], VXMV::gMissingValue);
}

TEST(Records, CategoryLabelsAndNumbersReadBack) {
  const CsvTable t = CsvFromText("g,v,y\n2,0.5,a\n0.25,1,b\n2,2,a\n");
  DescribeOptions o = Targets({"y"});
  o.fCategorical = {"g"};
  const NNVarList list = VarList(t, o);
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(0)), (std::vector<std::string>{"2", "0.25"}));
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(2)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(CategoryLabel(*list.GetVarAt(2), 5), "");
  for (double x : {0.1, 2.0, -1e-300, 1e300, 1.0 / 3.0})
    EXPECT_EQ(std::strtod(FormatNumber(x).c_str(), nullptr), x) << FormatNumber(x);
  EXPECT_EQ(FormatNumber(2.0), "2");
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
    fTable = CsvFromText(text);
    fCat.fIgnore = {"z"};
    fCont.fIgnore = {"y"};
  }
  MLPSettings Make(const TrainOptions& o, bool continuous = false) {
    return MakeSettings(o, VarList(fTable, continuous ? fCont : fCat), 42);
  }
  CsvTable fTable;
  DescribeOptions fCat = Targets({"y"}), fCont = Targets({"z"});
};

// The library's defaults, but for the hidden layer of a classifier: 32
// units instead of the library's few.
TEST_F(Settings, NoOptionsKeepTheLibraryDefaults) {
  const MLPSettings s = Make(TrainOptions());
  MLPSettings plain(VarList(fTable, fCat), 42);
  EXPECT_LT(plain.GetNumHiddenUnits(1), 32);
  plain.SetNumHiddenUnits(32, 1);
  EXPECT_TRUE(s == plain);
  EXPECT_TRUE(Make(TrainOptions(), true) == MLPSettings(VarList(fTable, fCont), 42));
}

TEST_F(Settings, OptionsReachTheSettings) {
  TrainOptions o;
  o.fHiddenUnits = {8, 4};
  o.fHiddenActivation = "sigmoid";
  o.fOutputActivation = "tanh";
  MLPSettings s = Make(o);
  EXPECT_EQ(std::make_tuple(s.GetNumHiddenLayers(), s.GetNumHiddenUnits(1), s.GetNumHiddenUnits(2),
                            s.GetActivFnHiddenLayer(), s.GetActivFnOutputLayer()),
            std::make_tuple(2, 8, 4, VXNNCommon::kSigmoid, VXNNCommon::kTanH));
  // Two layers of their default sizes; none leaves 3 inputs and the bias.
  o = TrainOptions();
  o.fHiddenLayers = 2;
  EXPECT_GT(Make(o).GetNumHiddenUnits(2), 0);
  o.fHiddenLayers = 0;
  EXPECT_EQ(Make(o, true).GetNWeights(), 4);

  o = TrainOptions();
  o.fTrainingType = "minibatch";
  o.fMiniBatchSize = 10;
  o.fSamplingSeed = 8;
  o.fStopAccuracy = 90;
  o.fMemoryBudget = 500;
  s = Make(o);
  // A training type of gradient descent alone chooses that method.
  EXPECT_EQ(
      std::make_tuple(s.GetTrainingMethod(), s.GetTrainType(), s.GetMiniBatchSize(),
                      s.GetRandomSeedSampling(), s.GetAccuracy(), s.GetMaxRecordsInMemory()),
      std::make_tuple(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch, 10, 8u, 90.0, 500L));
}

// 3 continuous inputs and a target of 3 categories: the library's RBF
// defaults are an overlap factor of 1 + 0.1 x 3 and an open number of
// centres; the program's are 4 x 1.3 and 2 x (3 + 3) centres, at most one
// per training record. A range or the search leaves the number open.
TEST_F(Settings, RBFOptionsReachTheSettings) {
  TrainOptions o;
  o.fNetwork = NetworkKind::kRBF;
  const NNVarList list = VarList(fTable, fCat);
  RBFSettings s = MakeRBFSettings(o, list, 42);
  EXPECT_DOUBLE_EQ(RBFSettings(list, 42).GetOverlapFactor(), 1.3);
  EXPECT_DOUBLE_EQ(s.GetOverlapFactor(), 5.2);
  EXPECT_EQ(
      std::make_tuple(s.GetActivFnHiddenLayer(), s.GetUserSetNHidUnits(), s.GetNumHiddenUnits(1),
                      MakeRBFSettings(o, list, 9).GetNumHiddenUnits(1)),
      std::make_tuple(VXNNCommon::kNormalizedRadialBasis, true, 12, 9));
  o.fHiddenUnits = {5};
  o.fOverlap = 2.5;
  o.fHiddenActivation = "radial-basis";
  s = MakeRBFSettings(o, list, 42);
  EXPECT_EQ(std::make_tuple(s.GetNumHiddenUnits(1), s.GetOverlapFactor(), s.GetActivFnHiddenLayer(),
                            s.GetNWeights()),
            std::make_tuple(5, 2.5, VXNNCommon::kRadialBasis, 3 * (5 + 1)));

  // One bound given: the other is what the clustering would take alone,
  // 1 or 2 x (3 inputs + 3 output units); the search alone leaves it open.
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
    EXPECT_EQ(
        std::make_tuple(s.GetUserSetNHidUnits(), s.GetMinNHiddenUnits(), s.GetMaxNHiddenUnits()),
        std::make_tuple(false, r.fLow, r.fHigh));
  }
  o.fSelectArchitecture = true;
  EXPECT_TRUE(MakeRBFSettings(o, list, 42).GetExpertOneDataPass());
  o.fSearchPassPerCandidate = true;
  EXPECT_FALSE(MakeRBFSettings(o, list, 42).GetExpertOneDataPass());
}

// The kind and form of a saved model come from its first bytes.
TEST(Commands, ModelKindAndFormTold) {
  const std::string xmlHead =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">\n<VXXMLRoot>\n"
      "<!-- a notice -->\n  <object name=\"";
  const struct {
    std::string fText;
    ModelFormat fFormat;
    NetworkKind fKind;
  } cases[] = {
      {"MLPSet\x01\x02", ModelFormat::kBinary, NetworkKind::kMLP},
      {"RBFSet\x01\x02", ModelFormat::kBinary, NetworkKind::kRBF},
      {xmlHead + "MLPSettings\">", ModelFormat::kXML, NetworkKind::kMLP},
      {"\n  " + xmlHead + "RBFSettings\">", ModelFormat::kXML, NetworkKind::kRBF},
  };
  const testhost::Scratch s;
  for (const auto& c : cases) {
    const ModelType t = DetectModelType(s.Write("kind.model", c.fText));
    EXPECT_EQ(t.fFormat, c.fFormat) << c.fText;
    EXPECT_EQ(t.fKind, c.fKind) << c.fText;
  }
  EXPECT_THROW(DetectModelType(s.Write("kind.model", "RBFSe")), InputError);
}

TEST(Commands, ModelPathsAndPredictionColumns) {
  for (const auto& [data, model] : {std::pair<std::string, std::string>{"/data/iris.csv", "iris"},
                                    {"table", "table"},
                                    {"dir.v2/table", "table"},
                                    {"a.b.csv", "a.b"}})
    EXPECT_EQ(DefaultModelPath(data), model + ".model");
  const NNVarList list =
      VarList(CsvFromText("x,k,v\n1,p,0.5\n2,q,1.5\n3,p,2\n"), Targets({"k", "v"}));
  EXPECT_EQ(PredictionColumns(list, true),
            (std::vector<std::string>{"predicted_k", "probability_k_p", "probability_k_q",
                                      "probability_k", "predicted_v"}));
  EXPECT_EQ(PredictionColumns(list, false)[1], "output_k_p");
}
