// The summaries' writers read only their summary structure: summaries made
// by hand (no training, no model) give the text and the JSON worked out
// here, line by line.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "report/EvalSummary.h"
#include "report/Format.h"
#include "report/InspectSummary.h"
#include "report/Json.h"
#include "report/TrainSummary.h"
#include "vxcommon/VXMissing.h"

namespace {

using nlohmann::json;

// A categorical target of two categories measured on 10 records, 9 right.
vxnn::TargetFigures TwoCategories() {
  vxnn::TargetFigures t;
  t.fName = "label";
  t.fCategorical = true;
  t.fCategories = {"no", "yes"};
  t.fPercentCorrect = 90.0;
  t.fConfusion = {{4, 1}, {0, 5}};
  return t;
}

vxnn::TargetFigures Continuous(double relativeError) {
  vxnn::TargetFigures t;
  t.fName = "price";
  t.fRelativeError = relativeError;
  return t;
}

struct EvalCase {
  const char* fName = "";
  vxnn::EvalSummary fSummary;
  std::string fText;
  json fJson;
};

std::vector<EvalCase> EvalCases() {
  std::vector<EvalCase> cases;
  {
    EvalCase c;
    c.fName = "categorical";
    vxnn::EvalSummary& s = c.fSummary;
    s.fModelFile = "m.model";
    s.fDataFile = "d.csv";
    s.fRecords = 12;
    s.fEvaluatedRecords = 10;
    s.fLeftOut = {{vxnn::CellProblem::kMissing, 2}};
    s.fImputed.fImputedCells = 3;
    s.fImputed.fImputedRecords = 1;
    s.fTotalError = 2.5;
    s.fTargets = {TwoCategories()};
    c.fText =
        "Model m.model on d.csv: 10 records evaluated of 12\n"
        "  left out: 2 records with a missing value\n"
        "  missing inputs filled in (training mean, or most frequent category): 3 inputs in 1 "
        "record\n"
        "Error (summed over records): 2.5\n"
        "\n"
        "label: accuracy 90.0%\n"
        "  confusion matrix (rows: actual, columns: predicted)\n"
        "                 no      yes\n"
        "    no            4        1\n"
        "    yes           0        5\n";
    c.fJson = {{"model_file", "m.model"},
               {"data_file", "d.csv"},
               {"records", 12},
               {"evaluated_records", 10},
               {"left_out", {{"missing_value", 2}}},
               {"imputed", {{"inputs", 3}, {"records", 1}}},
               {"unknown_categories_imputed", {{"inputs", 0}, {"records", 0}}},
               {"total_error", 2.5},
               {"targets",
                {{{"name", "label"},
                  {"kind", "categorical"},
                  {"categories", {"no", "yes"}},
                  {"accuracy", 0.9},
                  {"confusion_matrix", {{4, 1}, {0, 5}}}}}}};
    cases.push_back(c);
  }
  {
    // No record evaluated: no error line and no target, and the JSON's
    // total error is null.
    EvalCase c;
    c.fName = "none evaluated";
    vxnn::EvalSummary& s = c.fSummary;
    s.fModelFile = "m.model";
    s.fDataFile = "d.csv";
    s.fRecords = 1;
    s.fLeftOut = {{vxnn::CellProblem::kUnseenCategory, 1}};
    s.fImputed.fUnknownCells = 2;
    s.fImputed.fUnknownRecords = 1;
    s.fTotalError = VXMV::gMissingValue;
    c.fText =
        "Model m.model on d.csv: 0 records evaluated of 1\n"
        "  left out: 1 record with a category the model does not know\n"
        "  unknown values filled in (a new category, or text in a numeric column; most "
        "frequent training category, or training mean): 2 inputs in 1 record\n";
    c.fJson = {{"model_file", "m.model"},
               {"data_file", "d.csv"},
               {"records", 1},
               {"evaluated_records", 0},
               {"left_out", {{"unknown_category", 1}}},
               {"imputed", {{"inputs", 0}, {"records", 0}}},
               {"unknown_categories_imputed", {{"inputs", 2}, {"records", 1}}},
               {"total_error", nullptr},
               {"targets", json::array()}};
    cases.push_back(c);
  }
  {
    EvalCase c;
    c.fName = "continuous";
    vxnn::EvalSummary& s = c.fSummary;
    s.fModelFile = "m.model";
    s.fDataFile = "d.csv";
    s.fRecords = 4;
    s.fEvaluatedRecords = 4;
    s.fTotalError = 0.125;
    s.fTargets = {Continuous(0.25)};
    c.fText =
        "Model m.model on d.csv: 4 records evaluated of 4\n"
        "Error (summed over records): 0.125\n"
        "\n"
        "price: relative error 0.250 (0 is perfect, 1 no better than the mean)\n";
    c.fJson = {
        {"model_file", "m.model"},
        {"data_file", "d.csv"},
        {"records", 4},
        {"evaluated_records", 4},
        {"left_out", json::object()},
        {"imputed", {{"inputs", 0}, {"records", 0}}},
        {"unknown_categories_imputed", {{"inputs", 0}, {"records", 0}}},
        {"total_error", 0.125},
        {"targets", {{{"name", "price"}, {"kind", "continuous"}, {"relative_error", 0.25}}}}};
    cases.push_back(c);
  }
  return cases;
}

TEST(SummaryWriters, EvalTextAndJsonComeFromTheSummaryAlone) {
  for (const EvalCase& c : EvalCases()) {
    SCOPED_TRACE(c.fName);
    std::ostringstream text, document;
    vxnn::PrintEval(text, c.fSummary);
    vxnn::WriteEvalJson(document, c.fSummary);
    EXPECT_EQ(text.str(), c.fText);
    EXPECT_EQ(json::parse(document.str()), c.fJson);
  }
}

TEST(SummaryWriters, TimeLineTextFromTheTimeLineAlone) {
  struct Case {
    const char* fName;
    vxnn::TimeLine fTime;
    std::string fText;
  };
  vxnn::TimeLine plain;
  plain.fPhases = {{vxnn::Phase::kReading, 3.1}, {vxnn::Phase::kTraining, 20.1}};
  plain.fFilePasses = 5;
  plain.fTotal = 55.3;
  vxnn::TimeLine spilled = plain;
  spilled.fFilePasses = 1;
  spilled.fMemoryBudget = 1;
  spilled.fSpilled = {{"training", 1}, {"refit", 7}};
  const std::vector<Case> cases = {
      {"in memory", plain,
       "Time: reading 3.10 s (5 passes over the file), training 20.10 s; 55.30 s in all\n"},
      {"temporary files", spilled,
       "Time: reading 3.10 s (1 pass over the file), training 20.10 s; 55.30 s in all; encoded "
       "records read from temporary files (the memory budget is 1 record): training on 1 data "
       "pass, refit on 7 data passes\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fName);
    std::ostringstream text;
    vxnn::PrintTimeLine(text, c.fTime);
    EXPECT_EQ(text.str(), c.fText);
  }
}

// An RBF network's description: its centre settings in words and as
// members, and no perceptron setting and no iteration count in either form.
TEST(SummaryWriters, InspectTextAndJsonComeFromTheSummaryAlone) {
  vxnn::InspectSummary s;
  s.fModelFile = "r.model";
  s.fFormat = vxnn::ModelFormat::kXML;
  s.fVersion = "v9";
  s.fStatus = "Trained";
  vxnn::FieldDescription x;
  x.fName = "x";
  x.fRole = "input";
  x.fKindText = "continuous";
  x.fContinuous = vxnn::ContinuousStatistics{-1.0, 3.0, 1.0, 4.0};
  x.fDeclaredMissing = 2;
  vxnn::FieldDescription y;
  y.fName = "colour";
  y.fRole = "target";
  y.fKindText = "categorical (text)";
  y.fCategorical = true;
  y.fCategoryCount = 2;
  y.fCategories = {"red", "blue"};
  s.fFields = {x, y};
  s.fNetwork.fKind = vxnn::NetworkKind::kRBF;
  s.fNetwork.fUnits = {1, 3, 2};
  s.fNetwork.fActivations = {"Radial Basis", "Identity"};
  s.fNetwork.fWeights = 8;
  s.fNetwork.fError = "sum of squares";
  s.fNetwork.fOverlap = 1.5;
  s.fMethod = "clustering and least squares";
  s.fMemoryBudget = 1000;
  s.fInputScaling = "Values are not changed";
  s.fTargetScaling = "Values are not changed";
  s.fRBF = vxnn::RBFCentreSettings{"Radial Basis", 1.5, 2, 1, false};
  s.fTrainingRecords = 7;
  s.fTestRecords = 3;
  s.fStopReason = VXNNCommon::kStoppedComputed;
  s.fDataPasses = 2;
  s.fProcessorSeconds = 0.5;
  s.fTrainingError = 1.25;
  s.fTestError = VXMV::gMissingValue;

  std::ostringstream text, document;
  vxnn::PrintModel(text, s);
  vxnn::WriteModelJson(document, s);
  EXPECT_EQ(text.str(),
            "Model: r.model (XML), v9\n"
            "Status: Trained\n"
            "\n"
            "Fields (2):\n"
            "  x       input    continuous            min -1, max 3, mean 1, sd 2; 2 declared "
            "missing values\n"
            "  colour  target   categorical (text)    2 categories: red, blue\n"
            "\n"
            "Network: RBF, 1 input unit, 3 centres (Radial Basis, overlap factor 1.5), 2 output "
            "units (Identity); 8 output weights; error function sum of squares\n"
            "\n"
            "Settings:\n"
            "  method clustering and least squares\n"
            "  hidden activation radial basis, overlap factor 1.5\n"
            "  number of centres: range left to the data; candidate search: a data pass per "
            "candidate\n"
            "  memory budget 1000 records\n"
            "  inputs: values are not changed; continuous targets: values are not changed\n"
            "\n"
            "Training:\n"
            "  7 training records, 3 test records\n"
            "  stopped: the weights were computed directly\n"
            "  2 data passes, 0.50 s of processor time\n"
            "  error (summed over records): training 1.25, test n/a\n");
  const json expected = {{"model_file", "r.model"},
                         {"model_format", "xml"},
                         {"status", "Trained"},
                         {"fields",
                          {{{"name", "x"},
                            {"role", "input"},
                            {"kind", "continuous"},
                            {"min", -1.0},
                            {"max", 3.0},
                            {"mean", 1.0},
                            {"variance", 4.0}},
                           {{"name", "colour"},
                            {"role", "target"},
                            {"kind", "categorical"},
                            {"categories", {"red", "blue"}}}}},
                         {"network",
                          {{"kind", "rbf"},
                           {"units_per_layer", {1, 3, 2}},
                           {"activations", {"Radial Basis", "Identity"}},
                           {"weights", 8},
                           {"error_function", "sum of squares"},
                           {"centres", 3},
                           {"overlap_factor", 1.5}}},
                         {"settings",
                          {{"method", "clustering and least squares"},
                           {"memory_budget", 1000},
                           {"hidden_activation", "Radial Basis"},
                           {"overlap_factor", 1.5},
                           {"min_hidden_units", 2},
                           {"max_hidden_units", 1},
                           {"search_one_data_pass", false}}},
                         {"training",
                          {{"training_records", 7},
                           {"test_records", 3},
                           {"stop_reason", "Stopped Computed"},
                           {"data_passes", 2},
                           {"processor_seconds", 0.5},
                           {"training_error", 1.25},
                           {"test_error", nullptr}}}};
  EXPECT_EQ(json::parse(document.str()), expected);
}

// The members another writer put in a document land in the open object in
// their order, with their values as written.
TEST(SummaryWriters, MembersOfAnotherDocumentKeepOrderAndValues) {
  std::ostringstream inner;
  {
    vxnn::JsonWriter j(inner);
    j.BeginObject();
    j.Field("zeta", 0.1);
    j.Key("alpha").Null();
    j.Key("list").BeginArray();
    j.Integer(3);
    j.String("x");
    j.EndArray();
    j.EndObject();
  }
  std::ostringstream outer;
  vxnn::JsonWriter j(outer);
  j.BeginObject();
  j.Field("first", 1);
  j.Members(inner.str());
  j.Field("last", true);
  j.EndObject();
  EXPECT_EQ(outer.str(),
            "{\n  \"first\": 1,\n  \"zeta\": 0.1,\n  \"alpha\": null,\n  \"list\": [\n    3,\n"
            "    \"x\"\n  ],\n  \"last\": true\n}\n");
}

}  // namespace
