#include <cstdio>
#include <map>

#include "Commands.h"
#include "Records.h"
#include "Report.h"
#include "RowSource.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace vxnn {

namespace {

std::string Digits(double value, int digits) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*g", digits, value);
  return buf;
}

bool OutputsAreProbabilities(const NeuralSettings& s) {
  return s.GetActivFnOutputLayer() == VXNNCommon::kSoftMax;
}

// The prediction cells of one scored record, in PredictionColumns order.
void PredictionCells(const NNVarList& list, const NNOutputList& outputs,
                     std::vector<std::string>& cells) {
  int k = 0;
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNOutput* o = outputs.GetOutputAt(k++);
    if (const auto* cont = dynamic_cast<const NNContOutput*>(o)) {
      cells.push_back(Digits(cont->GetRealOutput(), 10));
    } else if (const auto* cat = dynamic_cast<const NNCategOutput*>(o)) {
      cells.push_back(CategoryLabel(*list.GetVarAt(v), cat->GetWinningIndex()));
      for (double p : cat->GetOutputs()) cells.push_back(Digits(p, 6));
      cells.push_back(Digits(cat->GetMaxOutput(), 6));
    }
  }
}

}  // namespace

std::vector<std::string> PredictionColumns(const NNVarList& list, bool probabilities) {
  const std::string prefix = probabilities ? "probability_" : "output_";
  std::vector<std::string> columns;
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNVariable& var = *list.GetVarAt(v);
    const std::string name = var.GetVariableName();
    columns.push_back("predicted_" + name);
    if (var.GetMeasureLevel() == INNVariable::kContinuous) continue;
    for (const std::string& label : CategoryLabels(var))
      columns.push_back(prefix + name + "_" + label);
    columns.push_back(prefix + name);
  }
  return columns;
}

int RunScore(const ScoreCommand& c, std::ostream& out, std::ostream& err) {
  LoadedModel model = LoadModel(c.fModel);
  // One pass over the file, a row at a time.
  CsvFileRows rows(c.fData);
  const NNVarList& list = model.VarList();
  const RecordMaker maker(list, rows.Header(), false, c.fData, c.fMissingInputs,
                          c.fUnknownCategories);

  // A run that stops half way (a malformed row far down a large file, or
  // Ctrl-C) leaves the output file as it was.
  OutputFile file(c.fOutput.empty() ? "-" : c.fOutput, out, "cannot write the predictions");
  std::ostream& sink = file.Stream();

  std::vector<std::string> header = rows.Header();
  const std::vector<std::string> columns =
      PredictionColumns(list, OutputsAreProbabilities(model.Settings()));
  header.insert(header.end(), columns.begin(), columns.end());
  WriteCsvRow(sink, header);

  std::map<CellProblem, int> problems;
  int refused = 0;
  long imputedCells = 0, imputedRecords = 0, unknownCells = 0, unknownRecords = 0;
  std::size_t read = 0;
  VXCommon_1_2::Record record;
  ScoringRecord inputs(list);
  std::vector<std::string> cells;
  while (const std::vector<std::string>* row = rows.Next()) {
    if (InterruptCancel::Interrupted()) throw Interrupted("interrupted");
    ++read;
    cells = *row;
    int imputed = 0, unknown = 0;
    const RecordIssue issue = maker.Make(*row, record, false, &imputed, &unknown);
    imputedCells += imputed;
    imputedRecords += imputed > 0;
    unknownCells += unknown;
    unknownRecords += unknown > 0;
    const NNOutputList* outputs = nullptr;
    if (issue) {
      ++problems[issue.fProblem];
    } else {
      outputs = &model.fAlgorithm->Score(inputs.Of(record));
      if (outputs->IsMissing()) {
        outputs = nullptr;
        ++refused;
      }
    }
    if (outputs)
      PredictionCells(list, *outputs, cells);
    else
      cells.resize(cells.size() + columns.size());
    WriteCsvRow(sink, cells);
  }
  file.Commit();
  if (imputedCells > 0)
    err << "vxnn: " << imputedCells << " missing input" << (imputedCells == 1 ? "" : "s") << " in "
        << imputedRecords << " record" << (imputedRecords == 1 ? "" : "s")
        << " filled in with the training mean, or most frequent category\n";
  if (unknownCells > 0)
    err << "vxnn: " << unknownCells << " input" << (unknownCells == 1 ? "" : "s") << " in "
        << unknownRecords << " record" << (unknownRecords == 1 ? "" : "s")
        << " with a value the model does not know (a new category, or text in a numeric "
           "column) filled in with the most frequent training category, or the training mean\n";

  std::vector<std::pair<CellProblem, int>> leftOut(problems.begin(), problems.end());
  int unscored = refused;
  for (const auto& p : leftOut) unscored += p.second;
  if (unscored > 0) {
    std::string why = LeftOutText(leftOut);
    if (refused > 0)
      why +=
          std::string(why.empty() ? "" : ", ") + std::to_string(refused) + " refused by the model";
    err << "vxnn: " << unscored << " of " << read
        << " records could not be scored and have empty predictions (" << why << ")\n";
  }
  return 0;
}

}  // namespace vxnn
