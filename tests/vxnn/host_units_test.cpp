// The host's own pieces: CSV reading and writing, the description of a table
// as a variable list, the split, raw records, settings from options and
// saved-model detection.
#include <gmock/gmock.h>

#include <cmath>
#include <set>

#include "TestHost.h"
#include "commands/Commands.h"
#include "data/Partition.h"
#include "data/Records.h"
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
  // One column: an empty cell is written so that it is not a blank line.
  out.str("");
  for (const char* cell : {"c", "", "1"}) WriteCsvRow(out, {cell});
  EXPECT_EQ(CsvFromText(out.str()).fRows, (std::vector<std::vector<std::string>>{{""}, {"1"}}));
}

// Every kind of field the writer can meet comes back from the reader as it
// went in: in a file of one column (where a lone empty field must not read
// as a blank line) and of three (first, middle and last place of a row).
TEST(Csv, WrittenRowsReadBackUnchanged) {
  const std::string fields[] = {
      "plain",
      "",
      "cr\rinside",
      "\r",
      "ends in cr\r",
      "\rstarts with cr",
      "lf\ninside",
      "\n",
      "crlf\r\ninside",
      "\r\n",
      "\n\r",
      "say \"hi\"",
      "\"",
      "\"\"",
      "a,b",
      ",",
      " lead",
      "trail ",
      "\tlead tab",
      "trail tab\t",
      " ",
      "\t",
      "  both  ",
      "caf\xc3\xa9",
      "\xff\xfe\x80",
      "\xe2\x80\x8b",
      " \"a,b\"\r\n ",
  };
  for (const std::string& f : fields) {
    SCOPED_TRACE(testing::PrintToString(f));
    const std::vector<std::vector<std::string>> layouts[] = {
        {{"c"}, {f}, {f}, {"after"}},
        {{"a", "b", "c"}, {f, "x", "y"}, {"x", f, "y"}, {"x", "y", f}, {f, f, f}, {"", f, ""}},
    };
    for (const auto& rows : layouts) {
      std::ostringstream out;
      for (const auto& row : rows) WriteCsvRow(out, row);
      const CsvTable t = CsvFromText(out.str());
      EXPECT_EQ(t.fHeader, rows.front());
      EXPECT_EQ(t.fRows, std::vector<std::vector<std::string>>(rows.begin() + 1, rows.end()))
          << testing::PrintToString(out.str());
    }
  }
}

TEST(Csv, MalformedInputIsRefusedWithTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "t.csv: the file is empty (no header row)"},
      {"a,b\n1,2\n3\n", "t.csv: line 3: 1 fields where the header has 2"},
      {"a,b\n1,2\n\"\"\n", "t.csv: line 3: 1 fields where the header has 2"},
      {"a,b\n\"x\ny\",2\n1,2,3\n", "t.csv: line 4: 3 fields where the header has 2"},
      {"a,a\n1,2\n", "t.csv: line 1: column \"a\" appears twice in the header"},
      {"a,,c\n", "t.csv: line 1: the header has an empty column name"},
      {"a,b\n\"open,2\n", "t.csv: malformed CSV"},
      {"a,b\n\"x\"y,2\n", "t.csv: malformed CSV"},
  };
  for (const auto& [text, error] : cases)
    EXPECT_THAT([&] { CsvFromText(text); },
                testing::ThrowsMessage<InputError>(testing::StartsWith(error)))
        << text;
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
  // 7 x 0.5 rounds half away from zero, to 4.
  for (const auto& [n, fraction, test] : {std::tuple<std::size_t, double, std::size_t>{10, 0.3, 3},
                                          {150, 0.3, 45},
                                          {7, 0.5, 4},
                                          {5, 0.0, 0}}) {
    const Partition p = SplitRecords(n, fraction, 7);
    EXPECT_EQ(p.fTest.size(), test);
    std::set<std::size_t> all(p.fTrain.begin(), p.fTrain.end());
    all.insert(p.fTest.begin(), p.fTest.end());
    EXPECT_EQ(all.size(), n);
    EXPECT_TRUE(std::is_sorted(p.fTrain.begin(), p.fTrain.end()));
    EXPECT_TRUE(std::is_sorted(p.fTest.begin(), p.fTest.end()));
    EXPECT_EQ(SplitRecords(n, fraction, 7).fTest, p.fTest);
    // A draw restarted after its last record replays the same split (as a
    // file streamed pass after pass needs), and holds out nothing past it.
    SplitDraw d(n, fraction, 7);
    for (std::size_t i = 0; i < n; ++i) d.NextIsTest();
    EXPECT_FALSE(d.NextIsTest());
    d.Restart();
    std::vector<std::size_t> replayed;
    for (std::size_t i = 0; i < n; ++i)
      if (d.NextIsTest()) replayed.push_back(i);
    EXPECT_EQ(replayed, p.fTest);
  }
  // 3 of 10 held out, over 20000 seeds: each record about 6000 times, with
  // a standard deviation of sqrt(20000 * 0.3 * 0.7) = 65. A biased draw
  // (an off-by-one in its range) moves some counts by thousands, and one
  // that ignores its seed holds out the same three records every time.
  std::vector<int> count(10, 0);
  for (unsigned seed = 0; seed < 20000; ++seed)
    for (std::size_t i : SplitRecords(10, 0.3, seed).fTest) ++count[i];
  for (int c : count) EXPECT_NEAR(c, 6000, 330);
}

// x: the mean of 1, 2 and 6 is 3; c: q, the most frequent category, is code
// 0; n: numbers as categories, 9 declared missing; y: yes, then no.
TEST(Records, CellsBecomeCodesValuesMissingOrImputed) {
  const CsvTable t = CsvFromText("x,c,n,skip,y\n1,q,1,a,yes\n2,p,2,b,no\n6,q,9,c,yes\n");
  DescribeOptions o = Targets({"y"});
  o.fIgnore = {"skip"};
  o.fCategorical = {"n"};
  o.fMissing = {{"n", {"9"}}, {"x", {"-1"}}};
  const NNVarList list = VarList(t, o);
  ASSERT_EQ(list.Size(), 4u);

  // Columns in another order, with one the model does not know.
  const std::vector<std::string> header = {"extra", "y", "n", "c", "x"};
  const RecordMaker drop(list, header, true, "s.csv", MissingInputs::kDrop);
  RecordMaker impute(list, header, true, "s.csv", MissingInputs::kImpute);
  VXCommon_1_2::Record r;
  EXPECT_FALSE(drop.Make({"?", "no", "2", "p", "0.25"}, r, true));
  EXPECT_EQ(r[0], 0.25);
  EXPECT_EQ(r[1], dynamic_cast<const NNStringEncoder&>(*list.GetEncoderAt(1)).EncodeConst("p"));
  EXPECT_EQ(r[2], dynamic_cast<const NNCatNumEncoder&>(*list.GetEncoderAt(2)).EncodeConst(2.0));
  EXPECT_EQ(r[3], 1.0);

  const double m = VXMV::gMissingValue;
  const struct {
    std::vector<std::string> fRow;  // extra, y, n, c, x
    bool fImpute;
    CellProblem fProblem;
    int fVariable, fImputed;
    double fX, fC;
  } cases[] = {
      {{"", "no", "2", "", "1"}, false, CellProblem::kMissing, 1, 0, 1, m},
      {{"", "no", "9", "q", "1"}, false, CellProblem::kMissing, 2, 0, 1, 0},
      {{"", "no", "1", "q", "-1"}, false, CellProblem::kMissing, 0, 0, m, 0},
      {{"", "no", "1", "q", ""}, false, CellProblem::kMissing, 0, 0, m, 0},
      {{"", "no", "3", "q", "1"}, false, CellProblem::kUnseenCategory, 2, 0, 1, 0},
      {{"", "no", "1", "green", "1"}, true, CellProblem::kUnseenCategory, 1, 0, 1, m},
      {{"", "no", "1", "q", "abc"}, true, CellProblem::kNotANumber, 0, 0, m, 0},
      {{"", "maybe", "1", "q", "1"}, true, CellProblem::kUnseenCategory, 3, 0, 1, 0},
      // Inputs are filled in, a target never is.
      {{"", "", "1", "q", "1"}, true, CellProblem::kMissing, 3, 0, 1, 0},
      {{"", "no", "1", "p", ""}, true, CellProblem::kNone, -1, 1, 3, 1},
      {{"", "no", "1", "", "nan"}, true, CellProblem::kNone, -1, 2, 3, 0},
      {{"", "no", "1", "p", "1e400"}, true, CellProblem::kNone, -1, 1, 3, 1},
      {{"", "no", "1", "p", "-1"}, true, CellProblem::kNone, -1, 1, 3, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fRow[1] + " " + c.fRow[2] + " " + c.fRow[3] + " " + c.fRow[4]);
    int imputed = 0;
    const RecordIssue issue = (c.fImpute ? impute : drop).Make(c.fRow, r, true, &imputed);
    EXPECT_EQ(std::make_tuple(issue.fProblem, issue.fVariable, imputed, r[0], r[1]),
              std::make_tuple(c.fProblem, c.fVariable, c.fImputed, c.fX, c.fC));
  }
  // Targets not read when scoring: the slot holds the missing value.
  EXPECT_FALSE(drop.Make({"", "maybe", "1", "q", "1"}, r, false));
  EXPECT_EQ(r[3], m);
  // A text the scorer declares missing is filled in rather than refused.
  impute.DeclareMissing({{"x", {"NA"}}});
  EXPECT_FALSE(impute.Make({"", "no", "1", "q", "NA"}, r, true));
  EXPECT_EQ(r[0], 3.0);
}

// Input categories come most frequent first (g: 2 twice, c: a twice),
// a target's in order of appearance (y: b, then a).
TEST(Records, CategoryLabelsAndNumbersReadBack) {
  const CsvTable t = CsvFromText("g,c,v,y\n0.25,b,0.5,b\n2,a,1,a\n2,a,2,a\n");
  DescribeOptions o = Targets({"y"});
  o.fCategorical = {"g"};
  const NNVarList list = VarList(t, o);
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(0)), (std::vector<std::string>{"2", "0.25"}));
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(1)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(CategoryLabels(*list.GetVarAt(3)), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(CategoryLabel(*list.GetVarAt(3), 5), "");
  for (double x : {0.1, 2.0, -1e-300, 1e300, 1.0 / 3.0})
    EXPECT_EQ(std::strtod(FormatNumber(x).c_str(), nullptr), x) << FormatNumber(x);
  EXPECT_EQ(FormatNumber(2.0), "2");
}

// The kind and form of a saved model come from its first bytes; the
// command line's runs load both kinds in both forms, and refuse a file that
// is neither. A model in XML may also start with white space.
TEST(Commands, ModelKindAndFormTold) {
  const testhost::Scratch s;
  const ModelType t = DetectModelType(
      s.Write("kind.model",
              "\n  <?xml version=\"1.0\"?>\n<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">\n"
              "<VXXMLRoot>\n<!-- a notice -->\n  <object name=\"RBFSettings\">"));
  EXPECT_EQ(std::make_pair(t.fFormat, t.fKind),
            std::make_pair(ModelFormat::kXML, NetworkKind::kRBF));
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
