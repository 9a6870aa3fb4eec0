// CSV reading and the description of a table as a variable list.
#include <gtest/gtest.h>

#include <sstream>

#include "CsvTable.h"
#include "Dataset.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNStringEncoder.h"

using namespace vxnn;

namespace {

CsvTable Read(const std::string& text) {
  std::istringstream in(text);
  return ReadCsv(in, "t.csv");
}

std::string ErrorOf(const std::string& text) {
  try {
    Read(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Csv, QuotedFieldsKeepCommasQuotesAndLineBreaks) {
  const CsvTable t = Read("a,b\r\n\"x, y\",\"say \"\"hi\"\"\"\n\"two\nlines\",3\n");
  ASSERT_EQ(t.fHeader, (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(t.fRows.size(), 2u);
  EXPECT_EQ(t.fRows[0][0], "x, y");
  EXPECT_EQ(t.fRows[0][1], "say \"hi\"");
  EXPECT_EQ(t.fRows[1][0], "two\nlines");
  EXPECT_EQ(t.Column("b"), 1);
  EXPECT_EQ(t.Column("c"), -1);
}

TEST(Csv, EmptyCellsAndMissingFinalNewline) {
  const CsvTable t = Read("a,b,c\n1,,3\n,,");
  ASSERT_EQ(t.fRows.size(), 2u);
  EXPECT_EQ(t.fRows[0], (std::vector<std::string>{"1", "", "3"}));
  EXPECT_EQ(t.fRows[1], (std::vector<std::string>{"", "", ""}));
}

TEST(Csv, MalformedInputIsRefusedWithTheLine) {
  EXPECT_EQ(ErrorOf(""), "t.csv: the file is empty (no header row)");
  EXPECT_EQ(ErrorOf("a,b\n1,2\n3\n"), "t.csv: line 3: 1 fields where the header has 2");
  EXPECT_EQ(ErrorOf("a,b\n\"x\ny\",2\n1,2,3\n"), "t.csv: line 4: 3 fields where the header has 2");
  EXPECT_EQ(ErrorOf("a,a\n1,2\n"), "t.csv: line 1: column \"a\" appears twice in the header");
  EXPECT_EQ(ErrorOf("a,,c\n"), "t.csv: line 1: the header has an empty column name");
  EXPECT_NE(ErrorOf("a,b\n\"open,2\n").find("malformed CSV"), std::string::npos);
  EXPECT_NE(ErrorOf("a,b\n\"x\"y,2\n").find("malformed CSV"), std::string::npos);
}

TEST(Dataset, KindsAreInferredAndOverridable) {
  const CsvTable t = Read(
      "amount,flag,colour,score\n"
      "1.5,0,red,1\n2.5,1,blue,2\n3.5,1,red,3\n10,0,,4\n");
  DescribeOptions o;
  o.fTargets = {"flag"};
  std::vector<FieldPlan> plan = PlanFields(t, o);
  ASSERT_EQ(plan.size(), 4u);
  EXPECT_EQ(plan[0].fKind, FieldKind::kContinuous);
  EXPECT_EQ(plan[1].fKind, FieldKind::kNumericCategorical);
  EXPECT_TRUE(plan[1].fTarget);
  EXPECT_EQ(plan[2].fKind, FieldKind::kStringCategorical);
  EXPECT_EQ(plan[3].fKind, FieldKind::kContinuous);  // an input of whole numbers stays numeric

  o.fCategorical = {"score"};
  o.fIgnore = {"colour"};
  plan = PlanFields(t, o);
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[2].fName, "score");
  EXPECT_EQ(plan[2].fKind, FieldKind::kNumericCategorical);
}

TEST(Dataset, OptionsNamingUnknownColumnsOrTextAsContinuousAreRefused) {
  const CsvTable t = Read("x,y\n1,a\n2,b\n");
  DescribeOptions o;
  EXPECT_THROW(PlanFields(t, o), InputError);  // no target
  o.fTargets = {"z"};
  EXPECT_THROW(PlanFields(t, o), InputError);
  o.fTargets = {"x"};
  o.fContinuous = {"y"};
  EXPECT_THROW(PlanFields(t, o), InputError);
}

TEST(Dataset, StatisticsSkipMissingCells) {
  // Values 1.25, 2.25, 4.25 (the empty cell, -9 and 1.5 are missing):
  // mean 7/3 + 1/4, unbiased variance ((4/3)^2 + (1/3)^2 + (5/3)^2) / 2 = 7/3.
  const CsvTable t = Read("v,c,t\n1.25,a,1\n,b,2\n2.25,,1\n-9,a,2\n4.25,b,1\n1.5,a,2\n");
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
  EXPECT_EQ(list.GetWeightedCount(), 6.0);
}

TEST(Dataset, ShippedDatasetsDescribeAsExpected) {
  const CsvTable diabetes = ReadCsvFile(std::string(VXNN_DATA_DIR) + "/diabetes.csv");
  DescribeOptions o;
  o.fTargets = {"progression"};
  const NNVarList list = BuildVarList(diabetes, PlanFields(diabetes, o), o);
  EXPECT_EQ(diabetes.fRows.size(), 442u);
  EXPECT_EQ(list.GetNumCatVar(), 0);  // sex, coded 1/2, is a number like the rest
  EXPECT_EQ(list.GetNumContVar(), 11);
  EXPECT_EQ(list.GetNumInputs(), 10);
  std::vector<int> constant, invalid;
  EXPECT_TRUE(list.IsValidList(constant, invalid));
}
