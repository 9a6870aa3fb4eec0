// CSV reading and the description of a table as a variable list.
#include <gtest/gtest.h>

#include <sstream>

#include "CsvTable.h"
#include "Dataset.h"
#include "TestHost.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNStringEncoder.h"

using namespace vxnn;

namespace {

using testhost::CsvFromText;

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
    DescribeOptions o;
    o.fTargets = c.fTargets;
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
  DescribeOptions o;
  o.fTargets = {"t"};
  o.fMissing["v"] = {"-9", "1.5"};
  NNVarList list = BuildVarList(t, PlanFields(t, o), o);
  ASSERT_EQ(list.Size(), 3u);
  const auto* v = dynamic_cast<const NNContVar*>(list.GetVarAt(0));
  ASSERT_NE(v, nullptr);
  EXPECT_DOUBLE_EQ(v->GetMean(), 7.0 / 3.0 + 0.25);
  EXPECT_DOUBLE_EQ(v->GetVariance(), 7.0 / 3.0);
  EXPECT_EQ(v->GetMin(), 1.25);
  EXPECT_EQ(v->GetMax(), 4.25);
  ASSERT_NE(v->GetUserMissingInfo(), nullptr);
  EXPECT_EQ(v->GetUserMissingInfo()->GetNDiscreteValues(), 2);

  // The empty string category is declared missing rather than a category.
  const auto* c = dynamic_cast<const NNCatVar*>(list.GetVarAt(1));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetNumberOfCategories(), 2);
  const auto* enc = dynamic_cast<const NNStringEncoder*>(c->GetEncoder());
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(enc->EncodeConst(""), -1);
  EXPECT_EQ(enc->EncodeConst("b"), 1);
  EXPECT_EQ(list.GetVariableRole(2), INNVariable::kOutput);
  EXPECT_EQ(list.GetWeightedCount(), 8.0);
}
