// The summaries' writers read only their summary structure: summaries made
// by hand (no training, no model) give the text and the JSON worked out
// here, line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "report/EvalSummary.h"
#include "report/Format.h"
#include "report/Json.h"
#include "report/ModelSummary.h"
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
  vxnn::ModelSummary s;
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

// A categorical and a continuous target's figures on the test records.
std::vector<vxnn::TargetFigures> LabelAndPrice(double percentCorrect, double relativeError) {
  vxnn::TargetFigures label;
  label.fName = "label";
  label.fCategorical = true;
  label.fPercentCorrect = percentCorrect;
  return {label, Continuous(relativeError)};
}

vxnn::SizeCandidate Size(int units, double overlap, bool toStopRules, double loss, double seconds,
                         bool kept, const std::string& leftOut = "") {
  vxnn::SizeCandidate t;
  t.fUnits = units;
  t.fOverlap = overlap;
  t.fToStopRules = toStopRules;
  t.fLoss = loss;
  t.fSeconds = seconds;
  t.fKept = kept;
  t.fLeftOut = leftOut;
  return t;
}

vxnn::SizeSelection SkippedRbf() {
  vxnn::SizeSelection s;
  s.fNetwork = "rbf";
  s.fRecords = 12;
  s.fSkipped = "too few records (12)";
  return s;
}

const json kSkippedRbfJson = {{"network", "rbf"},
                              {"records", 12},
                              {"skipped", "too few records (12)"},
                              {"folds", 0},
                              {"candidates", json::array()},
                              {"kept_because", nullptr}};

// A train summary's size selections and --network auto comparison, made by
// hand: the text lines they add after the training's lines, and the JSON
// members, in their place between "refit" and "targets".
TEST(SummaryWriters, SizeSelectionAndComparisonFromTheSummaryAlone) {
  struct Case {
    const char* fName;
    std::vector<vxnn::SizeSelection> fSelections;
    vxnn::NetworkComparison fComparison;
    std::string fText;  // the lines added
    json fSizeSelection, fCompared, fBaselineLoss, fKeptBecause;
  };
  std::vector<Case> cases;
  cases.push_back({"neither", {}, {}, "", nullptr, nullptr, nullptr, nullptr});
  {
    // A perceptron's sizes, singular and plural, early stopping or not; a
    // loss not measured; a size left out.
    vxnn::SizeSelection s;
    s.fNetwork = "mlp";
    s.fRecords = 150;
    s.fFolds = 5;
    s.fCandidates = {Size(4, 0.0, false, 0.04, 1.234, true),
                     Size(1, 0.0, true, VXMV::gMissingValue, 0.5, false),
                     Size(16, 0.0, false, VXMV::gMissingValue, 0.0, false, "too many weights")};
    s.fKeptBecause = "the lowest loss";
    cases.push_back(
        {"perceptron sizes",
         {s},
         {},
         "Size selection (mlp), 5-fold cross-validation on all 150 records (training and test); "
         "mean held-out loss (share misclassified, or relative error):\n"
         "  4 hidden units, stopped early: 0.0400; 1.23 s  (kept)\n"
         "  1 hidden unit, trained to the stop rules: n/a; 0.50 s\n"
         "  16 hidden units, stopped early: left out (too many weights); 0.00 s\n"
         "  kept: the lowest loss\n",
         {{{"network", "mlp"},
           {"records", 150},
           {"skipped", nullptr},
           {"folds", 5},
           {"candidates",
            {{{"hidden_units", 4},
              {"early_stopping", true},
              {"mean_held_out_loss", 0.04},
              {"seconds", 1.234},
              {"kept", true}},
             {{"hidden_units", 1},
              {"early_stopping", false},
              {"mean_held_out_loss", nullptr},
              {"seconds", 0.5},
              {"kept", false}},
             {{"hidden_units", 16},
              {"early_stopping", true},
              {"left_out", "too many weights"},
              {"mean_held_out_loss", nullptr},
              {"seconds", 0.0},
              {"kept", false}}}},
           {"kept_because", "the lowest loss"}}},
         nullptr,
         nullptr,
         nullptr});
  }
  {
    // An RBF network's centres and overlaps (four significant digits in
    // the text), after a selection that did not run.
    vxnn::SizeSelection s;
    s.fNetwork = "rbf";
    s.fRecords = 30;
    s.fFolds = 3;
    s.fCandidates = {Size(1, 2.5, false, 0.12346, 0.25, true),
                     Size(8, 0.123456, false, 0.5, 2.0, false)};
    s.fKeptBecause = "one centre";
    cases.push_back(
        {"rbf sizes after a skipped selection",
         {SkippedRbf(), s},
         {},
         "Size selection (rbf): not run, too few records (12); the size rule applies\n"
         "Size selection (rbf), 3-fold cross-validation on all 30 records (training and test); "
         "mean held-out loss (share misclassified, or relative error):\n"
         "  1 centre, overlap 2.5: 0.1235; 0.25 s  (kept)\n"
         "  8 centres, overlap 0.1235: 0.5000; 2.00 s\n"
         "  kept: one centre\n",
         {kSkippedRbfJson,
          {{"network", "rbf"},
           {"records", 30},
           {"skipped", nullptr},
           {"folds", 3},
           {"candidates",
            {{{"centres", 1},
              {"overlap", 2.5},
              {"mean_held_out_loss", 0.12346},
              {"seconds", 0.25},
              {"kept", true}},
             {{"centres", 8},
              {"overlap", 0.123456},
              {"mean_held_out_loss", 0.5},
              {"seconds", 2.0},
              {"kept", false}}}},
           {"kept_because", "one centre"}}},
         nullptr,
         nullptr,
         nullptr});
  }
  {
    // Every network's label; figures not measured; one left out. The size
    // selection comes first.
    vxnn::NetworkComparison c;
    c.fTestRecords = 40;
    c.fNetworks.resize(4);
    c.fNetworks[0].fName = "linear";
    c.fNetworks[0].fSeconds = 0.1;
    c.fNetworks[0].fLoss = 0.2;
    c.fNetworks[0].fTest = LabelAndPrice(87.5, 0.4567);
    c.fNetworks[1].fName = "mlp";
    c.fNetworks[1].fHiddenUnits = 3;
    c.fNetworks[1].fSeconds = 2.5;
    c.fNetworks[1].fLoss = 0.05;
    c.fNetworks[1].fTest = LabelAndPrice(100.0, 0.1234);
    c.fNetworks[1].fKept = true;
    c.fNetworks[2].fName = "rbf";
    c.fNetworks[2].fHiddenUnits = 1;
    c.fNetworks[2].fLoss = VXMV::gMissingValue;
    c.fNetworks[2].fTest = LabelAndPrice(VXMV::gMissingValue, VXMV::gMissingValue);
    c.fNetworks[3].fName = "rbf";
    c.fNetworks[3].fHiddenUnits = 5;
    c.fNetworks[3].fLeftOut = "the options fix the network";
    c.fBaselineLoss = 0.6;
    c.fKeptBecause = "mlp, for the lowest test loss";
    cases.push_back(
        {"networks compared",
         {SkippedRbf()},
         c,
         "Size selection (rbf): not run, too few records (12); the size rule applies\n"
         "Networks compared on the 40 test records:\n"
         "  linear: label accuracy 87.5%, price relative error 0.457; 0.10 s\n"
         "  mlp, 3 hidden units: label accuracy 100.0%, price relative error 0.123; 2.50 s  "
         "(kept)\n"
         "  rbf, 1 centre: label accuracy n/a%, price relative error n/a; 0.00 s\n"
         "  rbf: left out (the options fix the network)\n"
         "  kept: mlp, for the lowest test loss\n",
         {kSkippedRbfJson},
         {{{"network", "linear"},
           {"kept", false},
           {"hidden_units", 0},
           {"seconds", 0.1},
           {"held_out_loss", 0.2},
           {"test",
            {{{"name", "label"}, {"accuracy", 0.875}},
             {{"name", "price"}, {"relative_error", 0.4567}}}}},
          {{"network", "mlp"},
           {"kept", true},
           {"hidden_units", 3},
           {"seconds", 2.5},
           {"held_out_loss", 0.05},
           {"test",
            {{{"name", "label"}, {"accuracy", 1.0}},
             {{"name", "price"}, {"relative_error", 0.1234}}}}},
          {{"network", "rbf"},
           {"kept", false},
           {"hidden_units", 1},
           {"seconds", 0.0},
           {"held_out_loss", nullptr},
           {"test",
            {{{"name", "label"}, {"accuracy", nullptr}},
             {{"name", "price"}, {"relative_error", nullptr}}}}},
          {{"network", "rbf"}, {"left_out", "the options fix the network"}}},
         0.6,
         "mlp, for the lowest test loss"});
  }
  {
    vxnn::NetworkComparison c;
    c.fWithoutTest = true;
    cases.push_back({"--network auto without test records",
                     {},
                     c,
                     "Networks compared: none, since no records are held out for testing "
                     "(--test-fraction 0); the perceptron was trained\n",
                     nullptr,
                     nullptr,
                     nullptr,
                     nullptr});
  }

  // The lines of a summary without either, which the cases' lines follow.
  std::ostringstream plainText;
  vxnn::PrintTrainSummary(plainText, vxnn::TrainSummary());
  const std::string plain = plainText.str();
  const std::size_t end = plain.find("\n\n") + 1;  // after the training's lines
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fName);
    vxnn::TrainSummary s;
    s.fSizeSelections = c.fSelections;
    s.fComparison = c.fComparison;
    std::ostringstream text, document;
    vxnn::PrintTrainSummary(text, s);
    vxnn::WriteTrainJson(document, s);
    EXPECT_EQ(text.str(), plain.substr(0, end) + c.fText + plain.substr(end));
    const nlohmann::ordered_json written = nlohmann::ordered_json::parse(document.str());
    EXPECT_EQ(json(written["size_selection"]), c.fSizeSelection);
    EXPECT_EQ(json(written["networks_compared"]), c.fCompared);
    EXPECT_EQ(json(written["comparison_baseline_loss"]), c.fBaselineLoss);
    EXPECT_EQ(json(written["comparison_kept_because"]), c.fKeptBecause);
    std::vector<std::string> keys;
    for (const auto& member : written.items()) keys.push_back(member.key());
    const std::vector<std::string> order = {"refit",
                                            "size_selection",
                                            "networks_compared",
                                            "comparison_baseline_loss",
                                            "comparison_kept_because",
                                            "targets"};
    const auto at = std::find(keys.begin(), keys.end(), "refit");
    ASSERT_LE(order.size(), static_cast<std::size_t>(keys.end() - at));
    EXPECT_EQ(std::vector<std::string>(at, at + order.size()), order);
  }
}

}  // namespace
