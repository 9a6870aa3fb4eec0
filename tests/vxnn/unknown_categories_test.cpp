// Categories the model does not know. Training describes the categories of
// every record of its file, so a category that only the held-out records
// hold is known and none of its records is left out; scoring, evaluation
// and the report fill in an input of an unknown category by the rule of
// --unknown-categories (the most frequent training category, as for a
// missing input; or no prediction) and count it.
#include <gmock/gmock.h>

#include <map>
#include <nlohmann/json.hpp>

#include "TestHost.h"
#include "commands/Commands.h"
#include "data/Partition.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNContVar.h"

namespace {

using testhost::CsvFromText;
using testing::HasSubstr;
using vxnn::CellProblem;
using vxnn::MissingInputs;
using vxnn::UnknownCategories;

using testhost::CsvText;
// 20 rows, 5 held out. Input c: a 8 times and b 7 times on the training
// side, b 3 times and z twice on the test side, so that b is the most
// frequent over the whole file but a over the training rows; n (numbers
// taken as categories) 1 or 2, 7 on one test row; target y p and q in
// turn, w on one test row; x the row number.
TEST(UnknownCategories, EveryRowOfTheFileNamesTheCategoriesTrainingRowsFirst) {
  const vxnn::Partition p = vxnn::SplitRecords(20, 0.25, 3);
  ASSERT_EQ(p.fTest.size(), 5u);
  std::vector<std::vector<std::string>> rows(20);
  double xSum = 0;
  for (std::size_t k = 0; k < p.fTrain.size(); ++k) {
    const std::size_t i = p.fTrain[k];
    rows[i] = {std::to_string(i), k < 8 ? "a" : "b", k % 2 ? "2" : "1", k % 2 ? "q" : "p"};
    xSum += static_cast<double>(i);
  }
  for (std::size_t k = 0; k < p.fTest.size(); ++k)
    rows[p.fTest[k]] = {std::to_string(p.fTest[k]), k < 3 ? "b" : "z", k == 0 ? "7" : "1",
                        k == 4 ? "w" : "p"};
  std::string text = "x,c,n,y\n";
  for (const auto& r : rows) text += r[0] + "," + r[1] + "," + r[2] + "," + r[3] + "\n";
  const vxnn::CsvTable t = CsvFromText(text);
  vxnn::DescribeOptions o = testhost::Targets({"y"});
  o.fCategorical = {"n"};
  vxnn::SplitDraw split(20, 0.25, 3);
  vxnn::TableRows source(t, "t.csv");
  const NNVarList list = vxnn::BuildVarList(source, vxnn::PlanFields(t, o), o, &split);

  // The target keeps the order of first appearance among the training rows.
  const std::string firstY = rows[p.fTrain[0]][3], secondY = firstY == "p" ? "q" : "p";
  const struct {
    int fVariable;
    std::vector<std::string> fCategories;
  } cases[] = {
      {1, {"a", "b", "z"}},
      {2, {"1", "2", "7"}},
      {3, {firstY, secondY, "w"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vxnn::CategoryLabels(*list.GetVarAt(c.fVariable)), c.fCategories) << c.fVariable;
  // The numbers stay the training rows' own.
  EXPECT_DOUBLE_EQ(dynamic_cast<const NNContVar&>(*list.GetVarAt(0)).GetMean(), xSum / 15);
  EXPECT_EQ(list.GetWeightedCount(), 15.0);
}

// The record maker under both rules, for a list whose c knows q and p (q
// the more frequent) and whose target y knows yes and no.
TEST(UnknownCategories, TheMakerFillsInOrLeavesOutAnInputOfAnUnknownCategory) {
  const NNVarList list =
      testhost::VarList(CsvFromText("x,c,n,y\n1,q,1,yes\n2,p,2,no\n6,q,1,yes\n"), [] {
        vxnn::DescribeOptions o = testhost::Targets({"y"});
        o.fCategorical = {"n"};
        return o;
      }());
  const std::vector<std::string> header = {"x", "c", "n", "y"};
  const double m = VXMV::gMissingValue;
  using MI = MissingInputs;
  using UC = UnknownCategories;
  using CP = CellProblem;
  const struct {
    MissingInputs fMissing;
    UnknownCategories fUnknown;
    std::vector<std::string> fRow;
    CellProblem fProblem;
    int fImputed, fUnknownCount;
    double fC, fN;
  } cases[] = {
      {MI::kDrop, UC::kImpute, {"1", "green", "2", "no"}, CP::kNone, 0, 1, 0, 1},
      {MI::kDrop, UC::kImpute, {"1", "green", "5", "no"}, CP::kNone, 0, 2, 0, 0},
      {MI::kImpute, UC::kImpute, {"1", "", "5", "no"}, CP::kNone, 1, 1, 0, 0},
      // A missing input still follows its own rule.
      {MI::kDrop, UC::kImpute, {"1", "", "5", "no"}, CP::kMissing, 0, 1, m, 0},
      {MI::kImpute, UC::kDrop, {"1", "green", "2", "no"}, CP::kUnseenCategory, 0, 0, m, 1},
      {MI::kImpute, UC::kDrop, {"1", "p", "5", "no"}, CP::kUnseenCategory, 0, 0, 1, m},
      // A target's unknown category is never filled in.
      {MI::kImpute, UC::kImpute, {"1", "p", "2", "maybe"}, CP::kUnseenCategory, 0, 0, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fRow[1] + " " + c.fRow[2] + " " + c.fRow[3]);
    const vxnn::RecordMaker maker(list, header, true, "s.csv", c.fMissing, c.fUnknown);
    VXCommon_1_2::Record r;
    int imputed = 0, unknown = 0;
    const vxnn::RecordIssue issue = maker.Make(c.fRow, r, true, &imputed, &unknown);
    EXPECT_EQ(std::make_tuple(issue.fProblem, imputed, unknown, r[1], r[2]),
              std::make_tuple(c.fProblem, c.fImputed, c.fUnknownCount, c.fC, c.fN));
  }
}

// Five held-out records hold a category (c = new) that no training record
// does: all of them are tested, and the refit takes every record.
TEST(UnknownCategories, ACategoryOnlyTheTestRecordsHoldLeavesNoRecordOut) {
  const vxnn::Partition p = vxnn::SplitRecords(40, 0.3, 12345);
  vxnn::CsvTable t;
  t.fHeader = {"x", "c", "y"};
  for (int i = 0; i < 40; ++i)
    t.fRows.push_back({std::to_string(i % 7), i % 3 ? "a" : "b", i % 2 ? "odd" : "even"});
  for (std::size_t k = 0; k < 5; ++k) t.fRows[p.fTest[k]][1] = "new";
  vxnn::TrainOptions o = testhost::ForTarget("y");
  o.fMaxDataPasses = 5;
  const auto r = testhost::Train(t, o);
  EXPECT_TRUE(r->fTestLeftOut.empty());
  EXPECT_EQ(std::make_tuple(r->fTestCounts.fKept, r->fTest.fRecords, r->fTrainCounts.fKept),
            std::make_tuple(std::size_t{12}, 12, std::size_t{28}));
  EXPECT_EQ(vxnn::CategoryLabels(*r->fList->GetVarAt(1)).back(), "new");
  if (r->fHeldOutModel) {
    EXPECT_EQ(r->fRefitRecords, 40);
  }
}

// Four diabetes records with a sex the model never saw (3), each next to
// the same record with the cell empty, with the most frequent training sex
// and with the other one. Filled in, the unknown category is scored exactly
// as the empty cell and the most frequent category are; dropped, it gets no
// prediction; either way --missing-inputs keeps its own say over the empty
// cell. Score, eval (JSON and text) and the report's importance count them.
TEST(UnknownCategories, ScoringFollowsTheRuleAndCountsTheFilledIn) {
  const testhost::Scratch s;
  ASSERT_EQ(s.Run("train data/diabetes.csv --target progression --categorical sex "
                  "--max-data-passes 20 --no-importance --model @d"),
            0);
  const vxnn::CsvTable d = testhost::Shipped("diabetes.csv");
  const int sex = d.Column("sex");
  std::map<std::string, int> count;
  for (std::size_t i : vxnn::SplitRecords(d.fRows.size(), 0.3, 12345).fTrain)
    ++count[d.fRows[i][sex]];
  ASSERT_EQ(count.size(), 2u);
  ASSERT_NE(count.begin()->second, count.rbegin()->second);
  const bool firstMore = count.begin()->second > count.rbegin()->second;
  const std::string mode = firstMore ? count.begin()->first : count.rbegin()->first;
  const std::string other = firstMore ? count.rbegin()->first : count.begin()->first;
  vxnn::CsvTable t;
  t.fHeader = d.fHeader;
  for (int k = 0; k < 4; ++k)
    for (const std::string& cell : {std::string("3"), std::string(), mode, other}) {
      t.fRows.push_back(d.fRows[static_cast<std::size_t>(k)]);
      t.fRows.back()[sex] = cell;
    }
  s.Write("new.csv", CsvText(t));

  const std::string missingNotice =
      "vxnn: 4 missing inputs in 4 records filled in with the training mean, or most frequent "
      "category\n";
  const std::string unknownNotice =
      "vxnn: 4 inputs in 4 records with a value the model does not know (a new category, or text "
      "in a numeric column) filled in with the most frequent training category, or the training "
      "mean\n";
  const std::string unscored =
      "vxnn: 4 of 16 records could not be scored and have empty predictions (4 records with a ";
  const struct {
    const char* fOptions;
    bool fUnknownScored, fEmptyScored;
    std::string fErr;
    int fEvaluated, fFilledIn, fLeftOut;
  } cases[] = {
      {"", true, true, missingNotice + unknownNotice, 16, 4, 0},
      {"--unknown-categories impute", true, true, missingNotice + unknownNotice, 16, 4, 0},
      {"--unknown-categories drop", false, true,
       missingNotice + unscored + "category the model does not know)\n", 12, 0, 4},
      {"--missing-inputs drop", true, false, unknownNotice + unscored + "missing value)\n", 12, 4,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fOptions);
    std::string out, err;
    ASSERT_EQ(s.Run(std::string("score @d @new.csv ") + c.fOptions, &out, &err), 0) << err;
    EXPECT_EQ(err, c.fErr);
    const vxnn::CsvTable scored = CsvFromText(out);
    ASSERT_EQ(scored.fRows.size(), 16u);
    const int col = scored.Column("predicted_progression");
    for (std::size_t k = 0; k < 4; ++k) {
      const auto cell = [&](std::size_t variant) { return scored.fRows[4 * k + variant][col]; };
      EXPECT_EQ(cell(0).empty(), !c.fUnknownScored) << k;
      EXPECT_EQ(cell(1).empty(), !c.fEmptyScored) << k;
      ASSERT_NE(cell(2), cell(3)) << "the sex makes no difference to record " << k;
      if (c.fUnknownScored) {
        EXPECT_EQ(cell(0), cell(2)) << k;
      }
      if (c.fUnknownScored && c.fEmptyScored) {
        EXPECT_EQ(cell(0), cell(1)) << k;
      }
    }

    ASSERT_EQ(s.Run(std::string("eval @d @new.csv --json ") + c.fOptions, &out, &err), 0) << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(nlohmann::json({j["evaluated_records"], j["unknown_categories_imputed"]["inputs"],
                              j["unknown_categories_imputed"]["records"],
                              j["left_out"].value("unknown_category", 0)}),
              nlohmann::json({c.fEvaluated, c.fFilledIn, c.fFilledIn, c.fLeftOut}));

    // The report's importance is computed over the records the rule keeps.
    std::vector<std::pair<CellProblem, int>> leftOut;
    const vxnn::LoadedModel model = vxnn::LoadModel(s / "d");
    const auto records = vxnn::ImportanceRecords(
        s / "new.csv", c.fEmptyScored ? MissingInputs::kImpute : MissingInputs::kDrop,
        c.fUnknownScored ? UnknownCategories::kImpute : UnknownCategories::kDrop, 0,
        leftOut)(model.VarList());
    EXPECT_EQ(records->Count(), c.fEvaluated);
  }
  std::string out;
  ASSERT_EQ(s.Run("eval @d @new.csv", &out), 0);
  EXPECT_THAT(out, HasSubstr("\n  unknown values filled in (a new category, or text in a "
                             "numeric column; most frequent training category, or training "
                             "mean): 4 inputs in 4 records\n"));
}

}  // namespace
