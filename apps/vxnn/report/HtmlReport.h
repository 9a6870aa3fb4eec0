// The report page: one self-contained HTML file (inline SVG and CSS, no
// script, nothing fetched) that shows a model at a glance: the network
// with its weights, predictor importance, the confusion matrix or the
// predicted values against the actual ones, the error per training step,
// and the summary the command prints.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Console.h"
#include "report/Report.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/network/NNStructure.h"

namespace vxnn {

// Predicted against actual values of one continuous target, thinned to a
// bounded number of points.
struct ScatterSeries {
  std::string fTarget;
  std::vector<std::pair<double, double>> fPoints;  // (actual, predicted)
  std::size_t fRecords = 0;                        // records scored, before thinning
};

// Everything the page shows. Texts are plain: the page escapes them.
struct ReportPage {
  std::string fTitle;
  std::string fSubtitle;
  std::vector<std::pair<std::string, std::string>> fHeadline;  // label, figure
  std::string fSummaryText;  // the command's text summary, shown as printed
  std::shared_ptr<const NNStructure> fStructure;

  std::vector<std::pair<std::string, double>> fImportance;  // most important first
  std::string fImportanceNote;

  std::string fFiguresOn;  // which records the figures below describe
  std::vector<TargetFigures> fTargets;
  std::vector<ScatterSeries> fScatter;

  // The error curve; the errors are sums, divided by these to show the
  // average error per record.
  std::vector<TrainingStep> fCurve;
  int fTrainRecords = 0, fTestRecords = 0;
  std::string fCurveNote;  // shown when there is no curve
};

// Drawing limits that keep the page readable and small for wide networks
// and large files.
constexpr int kMaxUnitsDrawn = 24;             // per layer; the rest are summed up in one node
constexpr std::size_t kMaxWeightsDrawn = 200;  // between two layers, the largest
constexpr int kMaxImportanceBars = 30;         // the rest are summed up in one line
constexpr int kMaxCentresShown = 24;           // RBF centre table: rows and columns
constexpr std::size_t kMaxScatterPoints = 1500;
constexpr std::size_t kMaxCurvePoints = 400;

// Text made safe for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);

void WriteHtmlReport(std::ostream& out, const ReportPage& page);
// Written through OutputFile ("-": standardOutput), so that a file never
// holds half a page. Throws InputError when the file cannot be written.
void SaveHtmlReport(const ReportPage& page, const std::string& path, std::ostream& standardOutput);

// Scores every record of the source (rewound before and after) and keeps
// (actual, predicted) for each continuous target of the list, thinned
// evenly to at most maxPoints per target.
std::vector<ScatterSeries> PredictedVsActual(INeuralAlgorithm& algorithm, const NNVarList& list,
                                             VXCommon_1_2::MultiPassRecordIter& records,
                                             std::size_t maxPoints = kMaxScatterPoints);

// The page of a training run: figures on the test records (the training
// records without a test set), the curve from the steps the progress
// listener recorded.
ReportPage TrainingReport(const TrainResult& result, const SavedAs& saved,
                          const std::vector<TrainingStep>& steps);

// `vxnn report`: the page of a saved model on a CSV file with its targets.
// The saved model keeps no record of its training run, so the page has no
// error curve; the predictor importance is computed with every other input
// at the centre of the training data.
struct ReportCommand {
  std::string fModel;
  std::string fData;
  std::string fOutput;  // "-": standard output
  MissingInputs fMissingInputs = MissingInputs::kImpute;
  UnknownCategories fUnknownCategories = UnknownCategories::kImpute;
  // Records of fData the predictor importance is computed over; 0: every
  // complete record.
  long fImportanceRecords = kImportanceRecords;
};
int RunReport(const ReportCommand& command, std::ostream& out, std::ostream& err);

}  // namespace vxnn
