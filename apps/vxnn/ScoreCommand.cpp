#include <cstdio>
#include <fstream>
#include <map>

#include "Commands.h"
#include "Records.h"
#include "Report.h"
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
  const CsvTable table = ReadCsvFile(c.fData);
  const NNVarList& list = model.VarList();
  const RecordMaker maker(list, table.fHeader, false, c.fData);

  std::ofstream file;
  if (!c.fOutput.empty()) {
    file.open(c.fOutput, std::ios::binary | std::ios::trunc);
    if (!file) throw InputError(c.fOutput + ": cannot write the predictions");
  }
  std::ostream& sink = c.fOutput.empty() ? out : file;

  std::vector<std::string> header = table.fHeader;
  const std::vector<std::string> columns =
      PredictionColumns(list, OutputsAreProbabilities(model.Settings()));
  header.insert(header.end(), columns.begin(), columns.end());
  WriteCsvRow(sink, header);

  std::map<CellProblem, int> problems;
  int refused = 0;
  VXCommon_1_2::Record record;
  std::vector<std::string> cells;
  for (const auto& row : table.fRows) {
    cells = row;
    const RecordIssue issue = maker.Make(row, record, false);
    const NNOutputList* outputs = nullptr;
    if (issue) {
      ++problems[issue.fProblem];
    } else {
      outputs = &model.fAlgorithm->Score(record);
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
  sink.flush();
  if (!sink)
    throw InputError((c.fOutput.empty() ? "standard output" : c.fOutput) +
                     ": writing the predictions failed");

  std::vector<std::pair<CellProblem, int>> leftOut(problems.begin(), problems.end());
  int unscored = refused;
  for (const auto& p : leftOut) unscored += p.second;
  if (unscored > 0) {
    std::string why = LeftOutText(leftOut);
    if (refused > 0)
      why +=
          std::string(why.empty() ? "" : ", ") + std::to_string(refused) + " refused by the model";
    err << "vxnn: " << unscored << " of " << table.fRows.size()
        << " records could not be scored and have empty predictions (" << why << ")\n";
  }
  return 0;
}

}  // namespace vxnn
